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

TBroadcastSettings BroadcastSettingsFromTexts(const std::string& streamPort,
                                              const std::string& httpPort) {
    TBroadcastSettings settings;
    settings.StreamPort = ReadPort(streamPort, kDefaultStreamPort);
    settings.HttpPort = ReadPort(httpPort, kDefaultHttpPort);
    return settings;
}
