#pragma once
// The broadcast's stored settings, named once: the ports the window's boxes
// start with, the viewer limit, the archive the writer keeps, and the player
// size the landing page falls back to.
#include "platform/ArchiveFiles.h"
#include "platform/RelayInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>

inline constexpr int kDefaultStreamPort = 8000; // "asf port": where viewers get the stream
inline constexpr int kDefaultHttpPort = 8081;   // "http port": where the landing page is
inline constexpr int kMaxViewers = 3; // of every kind together (players, browsers, WebRTC)
// The UDP ports WebRTC viewers' media goes out from (one a viewer).
inline constexpr int kDefaultWebRtcMinPort = 50000, kDefaultWebRtcMaxPort = 50100;
inline constexpr const char* kBroadcastArchive = "brim.asf"; // in the archive folder
inline constexpr int64_t kDefaultArchiveSegmentSeconds = 3600;
inline constexpr int kDefaultPlayerWidth = 320;
inline constexpr int kDefaultPlayerHeight = 300;

// Where and how a broadcast keeps its archive. An earlier archive is never
// replaced: it is kept under its start time (see ArchiveFiles.h), and the
// running one is closed and kept the same way every SegmentSeconds, so
// that a killed process loses at most one segment's index.
struct TArchiveSettings {
    bool Enabled = true;
    std::string Folder;                                     // empty: the working folder
    int64_t SegmentSeconds = kDefaultArchiveSegmentSeconds; // 0: one file per broadcast
    TArchiveRetention Retention;
    // The running archive's path: "brim.asf" in Folder.
    std::string File() const {
        return Folder.empty() ? kBroadcastArchive : Folder + "/" + kBroadcastArchive;
    }
};

// What a broadcast is asked to serve on. Port 0 asks for a free port; both
// servers listen at ListenAddress (empty: every interface). With Relay set,
// the broadcast is also published to that streaming server.
struct TBroadcastSettings {
    int StreamPort = kDefaultStreamPort;
    int HttpPort = kDefaultHttpPort;
    std::string ListenAddress = {};
    int WebRtcMinPort = kDefaultWebRtcMinPort, WebRtcMaxPort = kDefaultWebRtcMaxPort;
    std::optional<TRelaySettings> Relay = std::nullopt;
    TArchiveSettings Archive = {};
};

// The settings from the texts of the two port boxes: a text that is not an
// integer gives the default; a number outside 1..65535 would be cut to some
// other port by the socket layer, so it raises with a message instead.
TBroadcastSettings BroadcastSettingsFromTexts(const std::string& streamPort,
                                              const std::string& httpPort);

// "MIN-MAX" (1024 to 65535, MIN <= MAX) into the WebRTC ports; false, and
// the settings untouched, for anything else.
bool ParseWebRtcPorts(const std::string& text, TBroadcastSettings& settings);
inline constexpr char kWebRtcPortsWanted[] = "a UDP port range (A-B, 1024 to 65535)";

// What a running broadcast actually serves on: the port the stream server
// bound and the port the HTTP server listens on (a free one for port 0).
struct TBroadcastPorts {
    int StreamPort = 0;
    int HttpPort = 0;
};
