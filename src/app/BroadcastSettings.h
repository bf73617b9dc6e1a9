#pragma once
// The broadcast's stored settings, named once: the ports the window's boxes
// start with, the viewer limit, the archive the writer keeps, and the player
// size the landing page falls back to.
#include "platform/RelayInterfaces.h"

#include <optional>
#include <string>

inline constexpr int kDefaultStreamPort = 8000; // "asf port": where viewers get the stream
inline constexpr int kDefaultHttpPort = 8081;   // "http port": where the landing page is
inline constexpr int kMaxViewers = 3; // of every kind together (players, browsers, WebRTC)
// The UDP ports WebRTC viewers' media goes out from (one a viewer).
inline constexpr int kDefaultWebRtcMinPort = 50000, kDefaultWebRtcMaxPort = 50100;
inline constexpr const char* kBroadcastArchive = "brim.asf"; // relative to the working folder
inline constexpr int kDefaultPlayerWidth = 320;
inline constexpr int kDefaultPlayerHeight = 300;

// What a broadcast is asked to serve on. Port 0 asks for a free port; both
// servers listen at ListenAddress (empty: every interface). With Relay set,
// the broadcast is also published to that streaming server.
struct TBroadcastSettings {
    int StreamPort = kDefaultStreamPort;
    int HttpPort = kDefaultHttpPort;
    std::string ListenAddress = {};
    int WebRtcMinPort = kDefaultWebRtcMinPort, WebRtcMaxPort = kDefaultWebRtcMaxPort;
    std::optional<TRelaySettings> Relay = std::nullopt;
};

// The settings from the texts of the two port boxes: a text that is not an
// integer gives the default; a number outside 1..65535 would be cut to some
// other port by the socket layer, so it raises with a message instead.
TBroadcastSettings BroadcastSettingsFromTexts(const std::string& streamPort,
                                              const std::string& httpPort);

// What a running broadcast actually serves on: the port the stream server
// bound and the port the HTTP server listens on (a free one for port 0).
struct TBroadcastPorts {
    int StreamPort = 0;
    int HttpPort = 0;
};
