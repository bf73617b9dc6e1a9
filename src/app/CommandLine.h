#pragma once
// The program's command line. Without options it opens the window; with
// them it runs without one: it lists the devices, broadcasts or records,
// driven by the options alone.
#include "app/BroadcastSettings.h"

#include <QStringList>

#include <cstdint>
#include <optional>

#include <string>
#include <vector>

enum class TCommand { Window, Help, Version, ListDevices, Broadcast, Record };

struct TCommandLine {
    TCommand Command = TCommand::Window;
    // Device names as the menus show them (any case); empty: the first listed.
    // An audio name of "none" broadcasts or records without sound.
    std::string Video, Audio;
    // Positions in the device's lists as --list-devices prints them; -1: the device's own.
    int VideoFormat = -1, AudioFormat = -1, AudioInput = -1;
    TBroadcastSettings Ports;
    std::string Address; // announced on the pages; empty: the first local address
    int Width = kDefaultPlayerWidth, Height = kDefaultPlayerHeight;
    std::string RecordFile;
    double Seconds = 0; // stop after this long; 0: run until a signal
    // A streaming server to publish to as well (from --relay, the file of
    // --relay-url-file or KAVAROXP_RELAY_URL); empty: none.
    std::string Relay;
    bool Overwrite = false; // --record may replace an existing file
    // Ports.Archive.Folder was given (else the settings file's, or the working folder).
    bool ArchiveFolderGiven = false;
    bool Watch = false; // --list-devices: then print devices plugged in or taken away
    // Where both servers listen: empty for every interface (--listen all),
    // 127.0.0.1 for --listen local, or the address given.
    std::string ListenAddress;
    std::string PasswordFile;             // the viewer password's file; empty: no password
    std::vector<std::string> Allow, Deny; // address ranges ("10.0.0.0/8"), as given

    std::string Error;   // why the command line cannot be run; empty when it can
    std::string Help;    // every option with its default
    std::string Warning; // to print before the run (a secret given in the open, say)
};

// Exit statuses of a run without the window.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // a mode could not start or failed while running
inline constexpr int kExitBadCommand = 2; // an unknown option or a bad value

// Whether the arguments ask for a run without the window: any argument
// starting with "--", or -h, -v, -?. Qt's own single-dash options (-platform, say)
// still go to the window.
bool IsCommandLineRun(int argc, char** argv);
// The arguments (the program's name first) read and checked; the relay
// address may come from the environment variable (relayFromEnvironment).
// No error text holds a stream key or password.
TCommandLine ParseCommandLine(const QStringList& arguments,
                              const std::string& relayFromEnvironment = {});
inline constexpr const char* kRelayUrlVariable = "KAVAROXP_RELAY_URL";

// "1500000", "500M", "2G", "1.5GiB": a number of bytes (K, M, G, T in
// units of 1024); nothing for anything else.
std::optional<uint64_t> ParseByteSize(const QString& text);
// "90", "90s", "30m", "1h", "1h30m": a number of seconds; nothing for anything else.
std::optional<int64_t> ParseDuration(const QString& text);
