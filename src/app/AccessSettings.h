#pragma once
// Where a broadcast listens and its viewer password, as the "access" dialog
// sets them and the settings file keeps them (access/listen: all, address
// or local; access/passwordHash: the password's slow hash, never the
// password). The listen address itself is worked out here for both the
// window and the run without one.
#include "app/RelaySettingsFile.h"

#include <string>

enum class TListenChoice {
    All,     // every network the machine is on
    Address, // only the address in the IP box (or --listen ADDRESS)
    Local,   // this computer only (127.0.0.1)
};

struct TAccessChoice {
    TListenChoice Listen = TListenChoice::All;
    std::string PasswordHash; // empty: no password
};

inline constexpr const char* kLocalAddress = "127.0.0.1";

// Missing or unknown values read as the defaults.
TAccessChoice LoadAccessChoice(const std::string& path = SettingsFilePath());
// Raises Exception naming the file when it cannot be written.
void SaveAccessChoice(const TAccessChoice& choice, const std::string& path = SettingsFilePath());

// The address both servers bind: empty for every interface.
std::string ListenAddressOf(TListenChoice listen, const std::string& address);
// Raises Exception naming the address when the servers cannot listen there
// (not an IPv4 address, or one this machine does not have).
void CheckListenAddress(const std::string& address);
