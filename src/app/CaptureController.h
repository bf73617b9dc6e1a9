#pragma once
// TCaptureController: the device choices and the three capture modes, with
// every component they use: the capture graph, the two source filters, the
// ASF writer, the HTTP server of the landing page and the device and format
// lists. The main window drives it from its handlers and shows the outcome;
// it needs no widget but the video window it is handed (none: no preview
// picture), so that a program without a window could drive the same modes.
//
// Failures come back as exceptions carrying the message for the user
// (EDirectShowException for a failed platform call, ECaptureError for the
// controller's own checks). What was done before the failing step stays
// (except in a broadcast, whose graph and ports go with it), and a mode is
// set only once its start has completed. Everything runs on
// the UI thread, except the landing page, which the server's peer threads
// build from LandingTexts().
#include "app/BroadcastSettings.h"
#include "app/LandingPage.h"
#include "common/Exception.h"
#include "http/NetHTTPServer.h"
#include "http/NetThreadMgrDefault.h"
#include "media/ASFWriter.h"
#include "media/EnumMediaType.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SideOutputs.h"
#include "media/SysDevEnum.h"
#include "platform/StreamViewerInterfaces.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TVideoWindow;

// A mode that cannot start as asked (the recording file cannot be made, say).
class ECaptureError : public Exception {
  public:
    using Exception::Exception;
};

enum class TCaptureMode { Idle, Preview, Broadcast, Record };

// The choices made in the menus. -1: no device, the device's own format,
// the device's input lines left as they are.
struct TCaptureChoices {
    int32_t VideoDevice = -1;
    int32_t VideoFormat = -1;
    int32_t AudioDevice = -1;
    int32_t AudioFormat = -1;
    int32_t AudioInput = -1;
};

// Takes a device's list (its formats, its input lines) entry by entry as it
// is read, so that a failure half-way leaves what was read with the caller.
// Either function may be empty.
struct TListReceiver {
    std::function<void()> Begin; // the list starts over
    std::function<void(int index, const std::string& text)> Add;
};

class TCaptureController {
  public:
    explicit TCaptureController(TVideoWindow* videoWindow);
    ~TCaptureController();
    TCaptureController(const TCaptureController&) = delete;
    TCaptureController& operator=(const TCaptureController&) = delete;

    // Creates the device enumerator and the (empty) format lists and clears
    // the choices; the friendly names of the video and the audio input
    // devices go to the receivers in enumeration order.
    void OpenDeviceLists(const TListReceiver& video, const TListReceiver& audio);
    // The end of the run: stops a running graph and the server, frees the
    // lists. Every step runs; the first failure is raised afterwards.
    void Shutdown();

    // A device chosen by its index in the listing, opened by its identity
    // (refused with a message when it is gone): it joins the graph, its formats (and an
    // audio device's input lines) go to the receivers, the format and line
    // choices start over; of the audio lines, the last one that reports
    // itself enabled becomes the chosen one.
    void ChooseVideoDevice(int device, const TListReceiver& formats);
    void ChooseAudioDevice(int device, const TListReceiver& formats, const TListReceiver& lines);
    void ChooseVideoFormat(int format) { choices_.VideoFormat = format; }
    void ChooseAudioFormat(int format) { choices_.AudioFormat = format; }
    void ChooseAudioInput(int line) { choices_.AudioInput = line; }
    const TCaptureChoices& Choices() const { return choices_; }

    // Each start builds a fresh graph from the choices and runs it; nothing
    // starts without a video device (the caller checks). A broadcast also
    // starts the HTTP server and returns the ports actually served.
    void StartPreview();
    TBroadcastPorts StartBroadcast(const TBroadcastSettings& settings);
    void StartRecord(const std::string& fileName);
    // Back to idle: every step runs even when one fails, and the first
    // failure is raised afterwards. False when a writer did not confirm the
    // end of its file in time (the file may be incomplete).
    bool StopCapture();

    TCaptureMode Mode() const { return mode_; }
    bool Previewing() const { return mode_ == TCaptureMode::Preview; }
    bool Broadcasting() const { return mode_ == TCaptureMode::Broadcast; }
    bool Recording() const { return mode_ == TCaptureMode::Record; }
    // The file of the running (or last) recording, as StartRecord was given it.
    const std::string& RecordFile() const { return recordFile_; }
    // The relay of a running broadcast starts over with these settings (none:
    // it stops); the next StartBroadcast takes its own.
    void SetRelay(std::optional<TRelaySettings> relay) { sideOutputs_.SetRelay(std::move(relay)); }
    // While broadcasting with a relay: its state for the status bar ("relay:
    // live, 1500 kbit/s", ...), the stream key or password masked; empty
    // otherwise.
    std::string RelayStatusText();
    // While broadcasting: what StartBroadcast returned.
    TBroadcastPorts ServedPorts() const { return served_; }
    // The running graph's position in 100-nanosecond units; nothing while no
    // graph is active or when the position cannot be read.
    std::optional<int64_t> Position();

    // A running mode failing after its start (a device lost, the disk full,
    // the graph aborted): told the cause and the user's next step, on the
    // thread that drives the graph. The mode still runs; the handler stops it.
    std::function<void(const std::string& cause, const std::string& nextStep)> OnCaptureFailed;
    // What the user is told of such a failure of the mode running now:
    // "<cause>: the broadcast stopped; <next step>."
    std::string FailureMessage(const std::string& cause, const std::string& nextStep) const;
    // What runs now, as a message names it ("the recording to "f.avi"", say).
    std::string RunningModeText() const;
    // After StopCapture of mode returned false: which file to check; empty
    // for a mode without a file.
    std::string UnconfirmedEndMessage(TCaptureMode mode) const;

    // While broadcasting: who watches, at most MaxViewers() of them (none
    // otherwise), and closing one viewer's connection (false: not there).
    std::vector<TStreamViewer> Viewers() const;
    bool DisconnectViewer(uint64_t id);
    int MaxViewers() const { return static_cast<int>(brimASF_.MaxUsers()); }

    // The server's OnCommandGet: the landing page for "/", the header alone
    // for anything else. Runs on the connection's peer thread.
    void httpServerCommandGet(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo,
                              TNetHTTPResponseInfo& AResponseInfo);
    // The player size and address the landing page shows; the caller keeps
    // them current (the stream port is the controller's).
    TLandingPageSource& LandingTexts() { return landingTexts_; }

    // The components, for inspection.
    TFilterGraph& CaptureGraph() { return captureGraph_; }
    TFilter& VideoSourceFilter() { return videoSourceFilter_; }
    TFilter& AudioSourceFilter() { return audioSourceFilter_; }
    TASFWriter& brimASF() { return brimASF_; }
    TNetHTTPServer& httpServer() { return httpServer_; }
    // Null before OpenDeviceLists and after Shutdown.
    TSysDevEnum* DeviceEnumerator() const { return deviceEnumerator_.get(); }
    TEnumMediaType* VideoFormats() const { return videoFormats_.get(); }
    TEnumMediaType* AudioFormats() const { return audioFormats_.get(); }

  private:
    // A choice needs the lists of OpenDeviceLists (none after Shutdown, say).
    void RequireLists() const;
    // A start or a device choice begins from an inactive graph, also after
    // an earlier start failed half-way and left the graph active.
    void ResetGraph();
    // The listed device at index, found again by its identity; raises when it
    // is gone.
    ComPtr<IMoniker> DeviceMoniker(const GUID& category, int device);
    // Puts the device into the (inactive) capture graph and activates it, so
    // that its pins can be read; the caller deactivates it again.
    void OpenSourceDevice(TFilter& source, const ComPtr<IMoniker>& moniker);
    void ApplyChoices();
    // Every start: a fresh active graph with the chosen devices and formats;
    // returns the graph's builder for wiring the streams.
    ComPtr<ICaptureGraphBuilder2> PrepareGraph();
    // Shows the chosen camera in the video window (nothing without either).
    void RenderPreview(ICaptureGraphBuilder2* builder);
    ComPtr<IStreamViewers> ViewerList() const;

    TVideoWindow* videoWindow_; // not owned; may be null
    // Declared before the server so that it outlives the server's peer threads.
    TLandingPageSource landingTexts_;
    TFilterGraph captureGraph_{"CaptureGraph"};
    TFilter videoSourceFilter_{"VideoSourceFilter"};
    TFilter audioSourceFilter_{"AudioSourceFilter"};
    TASFWriter brimASF_{"brimASF"};
    TSideOutputs sideOutputs_; // the broadcast's outputs beside the ASF stream
    TNetThreadMgrDefault netThreadManager_;
    TNetHTTPServer httpServer_;
    std::unique_ptr<TSysDevEnum> deviceEnumerator_;
    // The devices as listed to the receivers (positions are the menu's).
    std::vector<TDeviceEntry> videoDevices_, audioDevices_;
    std::unique_ptr<TEnumMediaType> videoFormats_;
    std::unique_ptr<TEnumMediaType> audioFormats_;

    TCaptureChoices choices_;
    TCaptureMode mode_ = TCaptureMode::Idle;
    TBroadcastPorts served_;
    std::string recordFile_;
};
