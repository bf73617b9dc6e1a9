#include "app/CaptureController.h"

#include "app/WatchPage.h"
#include "common/DateTime.h"
#include "common/Stream.h"
#include "common/Text.h"
#include "media/MediaErrors.h"
#include "media/PinList.h"
#include "media/VideoWindow.h"
#include "platform/RelayTarget.h"

#include <exception>

namespace {

// The component's platform filter; a component without one raises (E_NOINTERFACE).
template <class C> ComPtr<IBaseFilter> FilterOf(C& component) {
    ComPtr<IBaseFilter> filter;
    CheckMediaResult(component.QueryInterface(IID_IBaseFilter, filter.PutVoid()));
    return filter;
}

template <class T> ComPtr<T> Require(const ComPtr<IPin>& pin) {
    ComPtr<T> out;
    CheckMediaResult(pin ? pin->QueryInterface(T::Iid, out.PutVoid()) : E_POINTER);
    return out;
}

ComPtr<ICaptureGraphBuilder2> BuilderOf(TFilterGraph& graph) {
    ComPtr<ICaptureGraphBuilder2> builder;
    CheckMediaResult(graph.QueryInterface(IID_ICaptureGraphBuilder2, builder.PutVoid()));
    return builder;
}

// An audio device lists its output pin (the sound) and its input lines as
// pins of one filter: each output pin goes to output and leaves the list,
// so that the lines remain in their order.
template <class F> void SplitOutputPins(TPinList& pins, F&& output) {
    for (int i = 0; i < pins.Count();) {
        TPinInfo info;
        pins.PinInfoAt(i, info.Record);
        if (info.Record.dir != PINDIR_OUTPUT) {
            ++i;
            continue;
        }
        output(pins.PinAt(i));
        pins.Delete(i);
    }
}

void Begin(const TListReceiver& receiver) {
    if (receiver.Begin) receiver.Begin();
}

void Add(const TListReceiver& receiver, int index, const std::string& text) {
    if (receiver.Add) receiver.Add(index, text);
}

// Runs every step of a teardown even when one fails, keeping the first
// failure to raise at the end.
class TFirstError {
  public:
    template <class F> void Step(F&& step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    void Rethrow() const {
        if (first_) std::rethrow_exception(first_);
    }

  private:
    std::exception_ptr first_;
};

std::string StreamPortError(int port, HRESULT result) {
    const std::string number = IntToStr(port);
    if (result == HRESULT_ADDRESS_IN_USE)
        return "Stream port " + number + " is in use: choose another port.";
    return "The stream cannot be served on port " + number + " (" + MediaErrorText(result) +
           "): choose another port.";
}

} // namespace

TCaptureController::TCaptureController(TVideoWindow* videoWindow) : videoWindow_(videoWindow) {
    // A lost device is followed by the abort of the same failure; the first
    // event stops the mode, and a stopped graph delivers nothing more.
    captureGraph_.OnGraphDeviceLost = [this](TFilterGraph*, IUnknown*, bool removed) {
        if (removed && OnCaptureFailed)
            OnCaptureFailed("Device lost", "reconnect it and start again");
    };
    captureGraph_.OnGraphErrorAbort = [this](TFilterGraph*, HRESULT result) {
        if (!OnCaptureFailed) return;
        if (result == STG_E_MEDIUMFULL) {
            OnCaptureFailed("Disk full", "free some space and start again");
            return;
        }
        std::string text = MediaErrorText(result);
        while (!text.empty() && (text.back() == '.' || text.back() == ' '))
            text.pop_back();
        OnCaptureFailed(text, "start again");
    };
    captureGraph_.SetMode(gmCapture);
    captureGraph_.SetGraphEdit(true);
    if (videoWindow_) videoWindow_->SetFilterGraph(&captureGraph_);
    brimASF_.SetFilterGraph(&captureGraph_);
    brimASF_.SetProfile(wmp_V80_56VideoOnly);
    brimASF_.SetFileName(kBroadcastArchive);
    brimASF_.SetPort(kDefaultStreamPort);
    brimASF_.SetMaxUsers(kMaxViewers);

    httpServer_.CommandHandlersEnabled = false;
    httpServer_.SetDefaultPort(kDefaultHttpPort);
    httpServer_.ListenQueue = 99;
    httpServer_.TerminateWaitTime = 7500;
    httpServer_.SetThreadMgr(&netThreadManager_);
    httpServer_.SessionTimeOut = 120000;
    httpServer_.Greeting.SetNumericCode(-1);
    httpServer_.MaxConnectionReply.SetNumericCode(0);
    httpServer_.MaxConnections = TNetCustomHTTPServer::kDefaultMaxConnections;
    httpServer_.EvictWaitingAtLimit = true;
    httpServer_.ReplyExceptionCode = 0;
    httpServer_.ReplyUnknownCommand.SetNumericCode(0);
    httpServer_.OnCommandGet = [this](TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                      TNetHTTPResponseInfo& response) {
        httpServerCommandGet(thread, request, response);
    };
}

TCaptureController::~TCaptureController() = default;

void TCaptureController::OpenDeviceLists(const TListReceiver& video, const TListReceiver& audio) {
    // The format lists first: a device list that fails half-way leaves
    // entries that can be chosen, and a choice needs its format list.
    videoFormats_ = std::make_unique<TEnumMediaType>();
    audioFormats_ = std::make_unique<TEnumMediaType>();
    deviceEnumerator_ = std::make_unique<TSysDevEnum>(CLSID_VideoInputDeviceCategory);
    choices_ = {};
    videoDevices_.clear();
    audioDevices_.clear();
    auto list = [this](const TListReceiver& receiver, std::vector<TDeviceEntry>& listed) {
        Begin(receiver);
        for (int n = 0; n < deviceEnumerator_->DeviceCount(); ++n) {
            listed.push_back(deviceEnumerator_->GetDevice(n));
            Add(receiver, n, listed.back().FriendlyName);
        }
    };
    list(video, videoDevices_);
    // Left on the audio category: every choice selects the category it needs.
    deviceEnumerator_->SelectCategory(CLSID_AudioInputDeviceCategory);
    list(audio, audioDevices_);
}

void TCaptureController::RequireLists() const {
    if (!deviceEnumerator_) throw EAssertionFailed("TSysDevEnum not created");
    if (!videoFormats_ || !audioFormats_) throw EAssertionFailed("TEnumMediaType not created");
}

void TCaptureController::Shutdown() {
    // The graph is stopped before the server so that a recording or the
    // broadcast archive is finished even when a viewer holds on.
    TFirstError errors;
    sideOutputs_.Stop();
    if (captureGraph_.Active()) {
        errors.Step([this] { captureGraph_.Stop(); });
        errors.Step([this] { captureGraph_.SetActive(false); });
    }
    mode_ = TCaptureMode::Idle;
    errors.Step([this] { httpServer_.SetActive(false); });
    deviceEnumerator_.reset();
    videoFormats_.reset();
    audioFormats_.reset();
    errors.Rethrow();
}

void TCaptureController::ResetGraph() {
    sideOutputs_.Stop();
    if (!captureGraph_.Active()) return;
    // The graph is being discarded: a failing stop must not keep it alive.
    TFirstError ignored;
    ignored.Step([this] { captureGraph_.Stop(); });
    captureGraph_.SetActive(false);
}

ComPtr<IMoniker> TCaptureController::DeviceMoniker(const GUID& category, int device) {
    const std::vector<TDeviceEntry>& listed =
        category == CLSID_VideoInputDeviceCategory ? videoDevices_ : audioDevices_;
    if (device < 0 || device >= static_cast<int>(listed.size())) throw EListError(device);
    const TDeviceEntry& entry = listed[static_cast<size_t>(device)];
    // Devices plugged in or out since the listing shift the positions: the
    // device is found by its identity, never by where it was.
    deviceEnumerator_->SelectCategory(category);
    ComPtr<IMoniker> moniker = entry.DevicePath.empty()
                                   ? deviceEnumerator_->GetDeviceMoniker(device)
                                   : deviceEnumerator_->FindDeviceMoniker(entry.DevicePath);
    if (!moniker)
        throw ECaptureError(
            "\"" + entry.FriendlyName +
            "\" is no longer connected: connect it again or choose another device.");
    return moniker;
}

void TCaptureController::OpenSourceDevice(TFilter& source, const ComPtr<IMoniker>& moniker) {
    source.BaseFilter().AssignMoniker(moniker.Get());
    source.SetFilterGraph(&captureGraph_);
    captureGraph_.SetActive(true);
}

void TCaptureController::ChooseVideoDevice(int device, const TListReceiver& formats) {
    RequireLists();
    const ComPtr<IMoniker> moniker = DeviceMoniker(CLSID_VideoInputDeviceCategory, device);
    ResetGraph();
    choices_.VideoDevice = device;
    choices_.VideoFormat = -1;
    OpenSourceDevice(videoSourceFilter_, moniker);
    TPinList pins(FilterOf(videoSourceFilter_).Get());
    Begin(formats);
    videoFormats_->AssignPin(pins.FirstPin().Get());
    for (int n = 0; n < videoFormats_->Count(); ++n)
        Add(formats, n, videoFormats_->FormatText(n));
    captureGraph_.SetActive(false);
}

void TCaptureController::ChooseAudioDevice(int device, const TListReceiver& formats,
                                           const TListReceiver& lines) {
    RequireLists();
    const ComPtr<IMoniker> moniker = DeviceMoniker(CLSID_AudioInputDeviceCategory, device);
    ResetGraph();
    choices_.AudioDevice = device;
    choices_.AudioInput = -1;
    choices_.AudioFormat = -1;
    OpenSourceDevice(audioSourceFilter_, moniker);
    TPinList pins(FilterOf(audioSourceFilter_).Get());
    Begin(formats);
    // The output pins give the formats (the last one wins). A device without
    // an output pin must not keep the formats of the device chosen before.
    audioFormats_->Clear();
    SplitOutputPins(pins, [this](const ComPtr<IPin>& pin) { audioFormats_->AssignPin(pin.Get()); });
    for (int n = 0; n < audioFormats_->Count(); ++n)
        Add(formats, n, audioFormats_->FormatText(n));
    captureGraph_.SetActive(false);
    Begin(lines);
    for (int n = 0; n < pins.Count(); ++n) {
        TPinInfo info;
        pins.PinInfoAt(n, info.Record);
        Add(lines, n, info.Record.achName);
        BOOL enabled = 0;
        Require<IAMAudioInputMixer>(pins.PinAt(n))->get_Enable(&enabled);
        if (enabled) choices_.AudioInput = n;
    }
}

void TCaptureController::ApplyChoices() {
    if (audioSourceFilter_.FilterGraph()) {
        TPinList pins(FilterOf(audioSourceFilter_).Get());
        SplitOutputPins(pins, [this](const ComPtr<IPin>& pin) {
            if (choices_.AudioFormat != -1)
                Require<IAMStreamConfig>(pin)->SetFormat(
                    &audioFormats_->MediaTypeAt(choices_.AudioFormat).MediaTypeRecord());
        });
        if (choices_.AudioInput != -1)
            Require<IAMAudioInputMixer>(pins.PinAt(choices_.AudioInput))->put_Enable(-1);
    }
    if (videoSourceFilter_.FilterGraph()) {
        TPinList pins(FilterOf(videoSourceFilter_).Get());
        if (choices_.VideoFormat != -1)
            Require<IAMStreamConfig>(pins.FirstPin())
                ->SetFormat(&videoFormats_->MediaTypeAt(choices_.VideoFormat).MediaTypeRecord());
    }
}

ComPtr<ICaptureGraphBuilder2> TCaptureController::PrepareGraph() {
    if (videoSourceFilter_.FilterGraph() || audioSourceFilter_.FilterGraph()) RequireLists();
    ResetGraph();
    captureGraph_.SetActive(true);
    ApplyChoices();
    return BuilderOf(captureGraph_);
}

void TCaptureController::RenderPreview(ICaptureGraphBuilder2* builder) {
    if (videoWindow_ && videoSourceFilter_.BaseFilter().DataLength() != 0)
        CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                               FilterOf(videoSourceFilter_).Get(), nullptr,
                                               FilterOf(*videoWindow_).Get()));
}

void TCaptureController::StartPreview() {
    brimASF_.SetFilterGraph(nullptr);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    RenderPreview(builder.Get());
    captureGraph_.Run();
    mode_ = TCaptureMode::Preview;
}

TBroadcastPorts TCaptureController::StartBroadcast(const TBroadcastSettings& settings) {
    brimASF_.SetPort(static_cast<uint32_t>(settings.StreamPort));
    sideOutputs_.SetRelay(settings.Relay);
    brimASF_.SetFilterGraph(&captureGraph_);
    brimASF_.SetProfile(choices_.AudioDevice >= 0 ? wmp_V80_56Video : wmp_V80_56VideoOnly);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    try {
        // Without its port the stream reaches nobody: a broadcast that
        // cannot serve must not look like one.
        if (const HRESULT sink = brimASF_.NetworkSinkResult(); FAILED(sink))
            throw ECaptureError(StreamPortError(settings.StreamPort, sink));
        RenderPreview(builder.Get());
        if (videoSourceFilter_.FilterGraph())
            CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                   FilterOf(videoSourceFilter_).Get(), nullptr,
                                                   FilterOf(brimASF_).Get()));
        if (audioSourceFilter_.FilterGraph())
            CheckMediaResult(builder->RenderStream(nullptr, &MEDIATYPE_Audio,
                                                   FilterOf(audioSourceFilter_).Get(), nullptr,
                                                   FilterOf(brimASF_).Get()));
        sideOutputs_.Start(videoSourceFilter_,
                           audioSourceFilter_.FilterGraph() ? &audioSourceFilter_ : nullptr,
                           brimASF_.NetworkSink().Get());
        captureGraph_.Run();
        // The writer's sink bound its port on activation (a free one for port 0)
        // and wrote it back; the page advertises that one.
        const int streamPort = static_cast<int>(brimASF_.Port());
        landingTexts_.SetStreamPort(streamPort);
        // Each start listens where the box says now: a binding kept from an
        // earlier start would serve the old port while the window shows the new.
        httpServer_.SetActive(false);
        httpServer_.SetDefaultPort(settings.HttpPort);
        httpServer_.Bindings().Clear();
        httpServer_.Bindings().Add();
        httpServer_.SetActive(true);
        // After the bind the binding holds the port listened on (port 0: a free one).
        served_ = {streamPort, httpServer_.Bindings()[0].Port()};
    } catch (...) {
        // Half a broadcast (a stream served and previewed while the window
        // shows idle) is worse than none: the graph and its port go too.
        ResetGraph();
        httpServer_.SetActive(false);
        throw;
    }
    mode_ = TCaptureMode::Broadcast;
    return served_;
}

std::string TCaptureController::RelayStatusText() {
    if (!Broadcasting()) return {};
    return ::RelayStatusText(sideOutputs_.RelayStatus());
}

void TCaptureController::StartRecord(const std::string& fileName) {
    recordFile_ = fileName;
    brimASF_.SetFilterGraph(nullptr);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    // A file that cannot be made must not leave a "recording" that records
    // nothing: unlike the other unchecked steps, this one is reported.
    const HRESULT hr =
        builder->SetOutputFileName(&MEDIASUBTYPE_Avi, fileName, mux.Put(), sink.Put());
    if (fileName.empty() || FAILED(hr) || !mux)
        throw ECaptureError("Could not record to \"" + fileName + "\": " +
                            (fileName.empty() ? std::string("no file name given.")
                                              : MediaErrorText(FAILED(hr) ? hr : E_POINTER)));
    RenderPreview(builder.Get());
    if (videoSourceFilter_.FilterGraph())
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, FilterOf(videoSourceFilter_).Get(),
                              nullptr, mux.Get());
    if (audioSourceFilter_.FilterGraph())
        builder->RenderStream(nullptr, nullptr, FilterOf(audioSourceFilter_).Get(), nullptr,
                              mux.Get());
    try {
        captureGraph_.Run();
    } catch (const std::exception& e) {
        // The platform's text alone ("Access is denied.") does not say which file.
        throw ECaptureError("Could not record to \"" + fileName + "\": " + e.what());
    }
    mode_ = TCaptureMode::Record;
}

bool TCaptureController::StopCapture() {
    TFirstError errors;
    bool finished = true;
    sideOutputs_.Stop();
    if (captureGraph_.Active()) errors.Step([&] { finished = captureGraph_.Stop(); });
    errors.Step([this] { captureGraph_.SetActive(false); });
    mode_ = TCaptureMode::Idle;
    served_ = {};
    errors.Step([this] { httpServer_.SetActive(false); });
    errors.Rethrow();
    return finished;
}

std::optional<int64_t> TCaptureController::Position() {
    if (!captureGraph_.Active()) return std::nullopt;
    ComPtr<IMediaSeeking> seeking;
    captureGraph_.QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
    LONGLONG position = 0;
    if (!seeking || FAILED(seeking->GetCurrentPosition(&position))) return std::nullopt;
    return position;
}

std::string TCaptureController::RunningModeText() const {
    switch (mode_) {
    case TCaptureMode::Preview:
        return "the preview";
    case TCaptureMode::Broadcast:
        return "the broadcast";
    case TCaptureMode::Record:
        return "the recording to \"" + recordFile_ + "\"";
    case TCaptureMode::Idle:
        break;
    }
    return {};
}

std::string TCaptureController::FailureMessage(const std::string& cause,
                                               const std::string& nextStep) const {
    return cause + ": " + RunningModeText() + " stopped; " + nextStep + ".";
}

std::string TCaptureController::UnconfirmedEndMessage(TCaptureMode mode) const {
    const std::string file = mode == TCaptureMode::Record      ? recordFile_
                             : mode == TCaptureMode::Broadcast ? std::string(kBroadcastArchive)
                                                               : std::string();
    if (file.empty()) return {};
    return "\"" + file + "\" may be incomplete: its end was not confirmed in time.";
}

ComPtr<IStreamViewers> TCaptureController::ViewerList() const {
    if (mode_ != TCaptureMode::Broadcast) return {};
    ComPtr<IWMWriterNetworkSink> sink = brimASF_.NetworkSink();
    return sink ? QueryAs<IStreamViewers>(sink.Get()) : ComPtr<IStreamViewers>();
}

std::vector<TStreamViewer> TCaptureController::Viewers() const {
    std::vector<TStreamViewer> viewers;
    if (ComPtr<IStreamViewers> list = ViewerList()) list->GetViewers(viewers);
    return viewers;
}

bool TCaptureController::DisconnectViewer(uint64_t id) {
    ComPtr<IStreamViewers> list = ViewerList();
    return list && list->DisconnectViewer(id) == S_OK;
}

void TCaptureController::httpServerCommandGet(TNetPeerThread&, TNetHTTPRequestInfo& ARequestInfo,
                                              TNetHTTPResponseInfo& AResponseInfo) {
    AResponseInfo.CacheControl = "no-cache, must revalidate";
    AResponseInfo.Pragma = "no-cache";
    const TDateTime now = Now();
    AResponseInfo.Expires = now - EncodeTime(0, 23, 0, 0);
    AResponseInfo.Date = now;
    if (ARequestInfo.Target == "/watch")
        return SendWatchPage(AResponseInfo, landingTexts_.Snapshot());
    if (ARequestInfo.Target != "/") return; // the server sends the header alone
    const std::string page = BuildLandingPage(landingTexts_.Snapshot());
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    stream->SetPosition(0);
    AResponseInfo.ContentLength = stream->Size();
    AResponseInfo.SetContentSource(std::move(stream));
    AResponseInfo.ContentType = "text/html";
    AResponseInfo.SendHeader();
    AResponseInfo.SendContent();
}
