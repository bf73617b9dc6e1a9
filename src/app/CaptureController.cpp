#include "app/CaptureController.h"

#include "app/CaptureSteps.h"
#include "app/SettingsFile.h"

TCaptureController::TCaptureController(TVideoWindow* videoWindow)
    : session_(graph_, devices_, site_, videoWindow) {
    session_.OnFailed = [this](const TCaptureFailure& failure) {
        if (OnCaptureFailed) OnCaptureFailed(failure);
    };
}

TStopReport TCaptureController::Stop(const TCaptureFailure* failure) {
    const TCaptureMode mode = session_.Mode();
    TStopReport report;
    if (failure) report.Message = FailureMessage(mode, *failure);
    bool finished = true;
    try {
        finished = session_.StopCapture();
    } catch (const std::exception& e) {
        report.StopFailure = std::current_exception();
        if (report.Message.empty()) report.Message = e.what();
    } catch (...) {
        report.StopFailure = std::current_exception();
        if (report.Message.empty()) report.Message = "Unknown error.";
    }
    // The writer gave up waiting for its end: say which file to check.
    if (!finished && report.Message.empty()) report.Message = UnconfirmedEndMessage(mode);
    return report;
}

TStopReport TCaptureController::StopCapture() {
    return Stop(nullptr);
}

std::optional<TStopReport> TCaptureController::StopAfterFailure(const TCaptureFailure& failure) {
    if (!Running()) return std::nullopt;
    return Stop(&failure);
}

void TCaptureController::Shutdown() {
    TFirstError errors;
    errors.Step([this] { session_.StopCapture(); });
    devices_.CloseDeviceLists();
    errors.Rethrow();
}

std::optional<TBroadcastPorts> TCaptureController::ServedPorts() const {
    if (const auto* broadcast = std::get_if<TBroadcastMode>(&session_.Mode()))
        return broadcast->Served;
    return std::nullopt;
}

std::vector<TStreamViewer> TCaptureController::Viewers() const {
    if (!Broadcasting()) return {};
    return session_.Broadcast().Viewers();
}

bool TCaptureController::DisconnectViewer(uint64_t id) {
    return Broadcasting() && session_.Broadcast().DisconnectViewer(id);
}

void TCaptureController::SetViewerPasswordHash(const std::string& hash) {
    if (hash == site_.Gate().PasswordHash()) return;
    site_.Gate().SetPasswordHash(hash);
    if (Broadcasting()) session_.Broadcast().DisconnectAll();
}

std::string TCaptureController::RelayStatusText() {
    if (!Broadcasting()) return {};
    return session_.Broadcast().RelayStatusText();
}

void TCaptureController::RememberDevices() const {
    try {
        SaveRememberedDevices({devices_.VideoDeviceName(), devices_.AudioDeviceName()});
    } catch (const std::exception&) {
        // Not inspected: the mode runs; only a restart's choice is at stake.
    }
}
