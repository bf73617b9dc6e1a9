#pragma once
// TCaptureController: what the window and the headless run hold. It joins
// the device choices, the capture session and the landing site on one
// capture graph and answers the callers' questions about them; it needs no
// widget but the video window it is handed (none: no preview picture).
//
// Failures come back as exceptions carrying the message for the user
// (EDirectShowException for a failed platform call, ECaptureError for the
// capture's own checks). Everything runs on the UI thread, except the
// landing pages, which the server's peer threads build from LandingTexts().
#include "app/CaptureSession.h"
#include "app/DeviceChoices.h"
#include "app/LandingSite.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the user is told after a mode stopped.
struct TStopReport {
    // Empty when the stop went well; else, the first that applies: the
    // failure that ended the mode, a failing step of the stop, a file whose
    // end was not confirmed in time.
    std::string Message;
    // The failing step's exception, to raise again (null: none failed).
    std::exception_ptr StopFailure;
};

class TCaptureController {
  public:
    explicit TCaptureController(TVideoWindow* videoWindow);
    TCaptureController(const TCaptureController&) = delete;
    TCaptureController& operator=(const TCaptureController&) = delete;

    // The devices and the choices made from them (see TDeviceChoices).
    void OpenDeviceLists(const TListReceiver& video, const TListReceiver& audio) {
        devices_.OpenDeviceLists(video, audio);
    }
    bool DeviceListsOpen() const { return devices_.ListsOpen(); }
    TGoneDevices RelistDevices(const TListReceiver& video, const TListReceiver& audio) {
        return devices_.RelistDevices(video, audio);
    }
    // Nothing while a mode runs: it holds its devices and reports their loss.
    TGoneDevices ForgetGoneDevices() {
        return Running() ? TGoneDevices{} : devices_.ForgetGoneDevices();
    }
    void ChooseVideoDevice(int device, const TListReceiver& formats) {
        devices_.ChooseVideoDevice(device, formats);
    }
    void ChooseAudioDevice(int device, const TListReceiver& formats, const TListReceiver& lines) {
        devices_.ChooseAudioDevice(device, formats, lines);
    }
    void ChooseVideoFormat(int format) { devices_.ChooseVideoFormat(format); }
    void ChooseAudioFormat(int format) { devices_.ChooseAudioFormat(format); }
    void ChooseAudioInput(int line) { devices_.ChooseAudioInput(line); }
    const TCaptureChoices& Choices() const { return devices_.Choices(); }

    // The modes (see TCaptureSession). A broadcast returns the ports served.
    // A started mode's devices are remembered in the settings file
    // (devices/video, devices/audio), for a restart to ask for them again.
    void StartPreview() {
        session_.StartPreview();
        RememberDevices();
    }
    TBroadcastPorts StartBroadcast(const TBroadcastSettings& settings) {
        const TBroadcastPorts served = session_.StartBroadcast(settings);
        RememberDevices();
        return served;
    }
    void StartRecord(const std::string& fileName) {
        session_.StartRecord(fileName);
        RememberDevices();
    }
    // Back to idle, every step run; the report says what the user must hear.
    TStopReport StopCapture();
    // The running mode failed (OnCaptureFailed): it stops, and the report
    // names the failure. Nothing while idle: that failure was reported.
    std::optional<TStopReport> StopAfterFailure(const TCaptureFailure& failure);
    // The end of the run: stops a running graph and the site, frees the
    // lists. Every step runs; the first failure is raised afterwards.
    void Shutdown();
    // Told of a running mode's failure; the mode still runs until stopped.
    std::function<void(const TCaptureFailure& failure)> OnCaptureFailed;

    bool Running() const { return !std::holds_alternative<TStoppedMode>(session_.Mode()); }
    bool Previewing() const { return std::holds_alternative<TPreviewMode>(session_.Mode()); }
    bool Broadcasting() const { return session_.Broadcasting(); }
    bool Recording() const { return std::holds_alternative<TRecordMode>(session_.Mode()); }
    bool GraphActive() const { return session_.GraphActive(); }
    std::optional<int64_t> Position() { return session_.Position(); }

    // While broadcasting: the ports served, whether the landing site serves,
    // who watches (at most MaxViewers()), the relay's status text (empty
    // without a relay); nothing, false or empty otherwise.
    std::optional<TBroadcastPorts> ServedPorts() const;
    bool LandingSiteServing() const { return site_.Serving(); }
    std::vector<TStreamViewer> Viewers() const;
    bool DisconnectViewer(uint64_t id);
    // Also keeps the viewer's address out for the rest of the broadcast.
    bool BlockViewer(uint64_t id) { return Broadcasting() && session_.Broadcast().BlockViewer(id); }
    int MaxViewers() const { return session_.Broadcast().MaxViewers(); }
    std::string RelayStatusText();
    // The relay of a running broadcast starts over with these settings (none:
    // it stops); the next StartBroadcast takes its own.
    void SetRelay(std::optional<TRelaySettings> relay) {
        session_.Broadcast().SetRelay(std::move(relay));
    }
    // The player size and address the landing pages show; the caller keeps
    // them current (the stream port is the broadcast's).
    TLandingPageSource& LandingTexts() { return site_.Texts(); }
    // Who may watch (the password, the address rules), for both servers.
    TViewerGate& Gate() { return site_.Gate(); }
    // A new viewer password (empty: none): old links stop working, and the
    // viewers of a running broadcast are disconnected, to come back with
    // the new one.
    void SetViewerPasswordHash(const std::string& hash);

  private:
    TStopReport Stop(const TCaptureFailure* failure);
    void RememberDevices() const;

    // The site first: the session's broadcast serves through it.

    TLandingSite site_;
    TFilterGraph graph_{"CaptureGraph"};
    TDeviceChoices devices_{graph_};
    TCaptureSession session_;
};
