#include "app/CaptureSession.h"

#include "app/CaptureSteps.h"
#include "media/VideoWindow.h"

TCaptureSession::TCaptureSession(TFilterGraph& graph, TDeviceChoices& devices, TLandingSite& site,
                                 TVideoWindow* videoWindow)
    : graph_(graph), devices_(devices), videoWindow_(videoWindow), broadcast_(graph, site) {
    // A lost device is followed by the abort of the same failure; the first
    // event stops the mode, and a stopped graph delivers nothing more.
    graph_.OnGraphDeviceLost = [this](TFilterGraph*, IUnknown*, bool removed) {
        if (removed) Failed(kDeviceLostCause, "reconnect it and start again");
    };
    graph_.OnGraphErrorAbort = [this](TFilterGraph*, HRESULT result) {
        if (result == STG_E_MEDIUMFULL) {
            Failed("Disk full", "free some space and start again");
            return;
        }
        std::string text = MediaErrorText(result);
        while (!text.empty() && (text.back() == '.' || text.back() == ' '))
            text.pop_back();
        Failed(text, "start again");
    };
    graph_.SetMode(gmCapture);
    graph_.SetGraphEdit(true);
    if (videoWindow_) videoWindow_->SetFilterGraph(&graph_);
    broadcast_.Join();
}

void TCaptureSession::Failed(const std::string& cause, const std::string& nextStep) {
    if (OnFailed) OnFailed({cause, nextStep});
}

ComPtr<ICaptureGraphBuilder2> TCaptureSession::PrepareGraph() {
    devices_.RequireListsOfSources();
    broadcast_.StopOutputs();
    DiscardGraph(graph_);
    graph_.SetActive(true);
    devices_.ApplyChoices();
    ComPtr<ICaptureGraphBuilder2> builder;
    CheckMediaResult(graph_.QueryInterface(IID_ICaptureGraphBuilder2, builder.PutVoid()));
    return builder;
}

void TCaptureSession::RenderPreview(ICaptureGraphBuilder2* builder) {
    TFilter* video = devices_.VideoSource();
    if (videoWindow_ && video && video->BaseFilter().DataLength() != 0)
        CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                               FilterOf(*video).Get(), nullptr,
                                               FilterOf(*videoWindow_).Get()));
}

void TCaptureSession::StartPreview() {
    broadcast_.Leave();
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    RenderPreview(builder.Get());
    graph_.Run();
    mode_ = TPreviewMode{};
}

TBroadcastPorts TCaptureSession::StartBroadcast(const TBroadcastSettings& settings) {
    broadcast_.Prepare(settings, devices_.Choices().AudioDevice >= 0);
    ComPtr<ICaptureGraphBuilder2> builder = PrepareGraph();
    TBroadcastPorts served;
    try {
        broadcast_.CheckStreamPort(settings.StreamPort);
        RenderPreview(builder.Get());
        const ComPtr<IBaseFilter> writer = broadcast_.WriterFilter();
        if (TFilter* video = devices_.VideoSource())
            CheckMediaResult(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                   FilterOf(*video).Get(), nullptr, writer.Get()));
        if (TFilter* audio = devices_.AudioSource())
            CheckMediaResult(builder->RenderStream(nullptr, &MEDIATYPE_Audio,
                                                   FilterOf(*audio).Get(), nullptr, writer.Get()));
        if (TFilter* video = devices_.VideoSource())
            broadcast_.StartOutputs(*video, devices_.AudioSource());
        graph_.Run();
        served = broadcast_.Serve(settings.HttpPort);
    } catch (...) {
        // Half a broadcast (a stream served and previewed while the window
        // shows idle) is worse than none: the graph and its ports go too, and
        // the start's own failure is the one the user hears of.
        TFirstError ignored;
        ignored.Step([this] { StopCapture(); });
        throw;
    }
    mode_ = TBroadcastMode{served, broadcast_.ArchiveFile()};
    return served;
}

void TCaptureSession::StartRecord(const std::string& fileName) {
    broadcast_.Leave();
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
    if (TFilter* video = devices_.VideoSource())
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, FilterOf(*video).Get(), nullptr,
                              mux.Get());
    if (TFilter* audio = devices_.AudioSource())
        builder->RenderStream(nullptr, nullptr, FilterOf(*audio).Get(), nullptr, mux.Get());
    try {
        graph_.Run();
    } catch (const std::exception& e) {
        // The platform's text alone ("Access is denied.") does not say which file.
        throw ECaptureError("Could not record to \"" + fileName + "\": " + e.what());
    }
    mode_ = TRecordMode{fileName};
}

bool TCaptureSession::StopCapture() {
    // The graph is stopped before the site so that a recording or the
    // broadcast archive is finished even when a viewer holds on.
    TFirstError errors;
    bool finished = true;
    broadcast_.StopOutputs();
    if (graph_.Active()) errors.Step([&] { finished = graph_.Stop(); });
    errors.Step([this] { graph_.SetActive(false); });
    mode_ = TStoppedMode{};
    errors.Step([this] { broadcast_.EndServing(); });
    errors.Rethrow();
    return finished;
}

std::optional<int64_t> TCaptureSession::Position() {
    if (!graph_.Active()) return std::nullopt;
    ComPtr<IMediaSeeking> seeking;
    graph_.QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
    LONGLONG position = 0;
    if (!seeking || FAILED(seeking->GetCurrentPosition(&position))) return std::nullopt;
    return position;
}
