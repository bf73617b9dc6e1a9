#include "app/ViewerTexts.h"

#include <cstdio>
#include <ctime>

std::string ViewersPanelText(size_t viewers, int maximum) {
    return "viewers " + std::to_string(viewers) + "/" + std::to_string(maximum);
}

std::string ViewerKindText(TStreamViewerKind kind) {
    switch (kind) {
    case TStreamViewerKind::Player:
        return "player";
    case TStreamViewerKind::Plain:
        return "plain HTTP";
    case TStreamViewerKind::Browser:
        return "browser";
    case TStreamViewerKind::WebRtc:
        return "WebRTC";
    }
    return "?";
}

std::string ByteCountText(uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    static const char* const units[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string ViewerSinceText(std::chrono::system_clock::time_point since) {
    const std::time_t t = std::chrono::system_clock::to_time_t(since);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}
