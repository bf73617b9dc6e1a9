#include "app/BroadcastSettings.h"

#include "common/Exception.h"
#include "common/Text.h"

namespace {

int ReadPort(const std::string& text, int def) {
    const int port = StrToIntDef(text, def);
    if (port < 1 || port > 65535)
        throw Exception("\"" + text + "\" is not a valid port number (1 to 65535).");
    return port;
}

} // namespace

bool ParseWebRtcPorts(const std::string& text, TBroadcastSettings& settings) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    const int min = StrToIntDef(Trim(text.substr(0, dash)), -1);
    const int max = StrToIntDef(Trim(text.substr(dash + 1)), -1);
    if (min < 1024 || max > 65535 || min > max) return false;
    settings.WebRtcMinPort = min;
    settings.WebRtcMaxPort = max;
    return true;
}

TBroadcastSettings BroadcastSettingsFromTexts(const std::string& streamPort,
                                              const std::string& httpPort) {
    TBroadcastSettings settings;
    settings.StreamPort = ReadPort(streamPort, kDefaultStreamPort);
    settings.HttpPort = ReadPort(httpPort, kDefaultHttpPort);
    return settings;
}
