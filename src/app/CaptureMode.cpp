#include "app/CaptureMode.h"

#include <sys/stat.h>

bool WouldReplaceFile(const std::string& file) {
    struct stat s {};
    return ::stat(file.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::string RunningModeText(const TCaptureMode& mode) {
    if (std::holds_alternative<TPreviewMode>(mode)) return "the preview";
    if (std::holds_alternative<TBroadcastMode>(mode)) return "the broadcast";
    if (const auto* record = std::get_if<TRecordMode>(&mode))
        return "the recording to \"" + record->File + "\"";
    return {};
}

std::string FailureMessage(const TCaptureMode& mode, const TCaptureFailure& failure) {
    return failure.Cause + ": " + RunningModeText(mode) + " stopped; " + failure.NextStep + ".";
}

std::string UnconfirmedEndMessage(const TCaptureMode& mode) {
    std::string file;
    if (const auto* broadcast = std::get_if<TBroadcastMode>(&mode)) file = broadcast->Archive;
    if (const auto* record = std::get_if<TRecordMode>(&mode)) file = record->File;
    if (file.empty()) return {};
    return "\"" + file + "\" may be incomplete: its end was not confirmed in time.";
}
