#pragma once
// A relay address taken apart, and the texts that show it without its secret
// (the stream key or the source password).
#include "platform/RelayInterfaces.h"

#include <optional>
#include <string>

enum class TRelayProtocol { Rtmp, Icecast };

struct TRelayTarget {
    TRelayProtocol Protocol = TRelayProtocol::Rtmp;
    std::string Scheme; // rtmp, rtmps or icecast
    std::string Host;
    int Port = 0;
    std::string App;  // RTMP: the path before the key
    std::string Key;  // RTMP: the stream key (its query string included)
    std::string User; // Icecast: "source" unless given
    std::string Password;
    std::string Mount; // Icecast: "/name"

    const std::string& Secret() const { return Protocol == TRelayProtocol::Rtmp ? Key : Password; }
    // The address as a server is given it (the secret included).
    std::string Location() const;
    // The address with the secret masked.
    std::string MaskedUrl() const;
};

// Null with a message for the user in error (never holding the secret).
std::optional<TRelayTarget> ParseRelayUrl(const std::string& url, std::string& error);

// All but the last 4 characters as '*' (all of them for 4 or fewer).
std::string MaskSecret(const std::string& secret);
// text with every occurrence of secret masked.
std::string HideSecret(std::string text, const std::string& secret);

// The status bar's text: empty when off.
std::string RelayStatusText(const TRelayStatus& status);
