#include "media/FilterGraph.h"

#include "common/Text.h"
#include "media/MediaErrors.h"
#include "platform/ClassRegistry.h"
#include "platform/RunningObjectTable.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <cinttypes>
#include <exception>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QEvent::Type kGraphNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// The hidden receiver: the platform posts to it from any thread; Qt delivers
// the re-posted event on the thread that created the graph (the UI thread).
class TFilterGraph::TEventReceiver final : public QObject, public INotifyTarget {
  public:
    explicit TEventReceiver(TFilterGraph& graph) : graph_(graph) {}

    void PostGraphEvent(LONG message, LONG_PTR) override {
        if (message == WM_GRAPHNOTIFY)
            QCoreApplication::postEvent(this, new QEvent(kGraphNotifyEvent));
    }

  protected:
    bool event(QEvent* e) override {
        if (e->type() != kGraphNotifyEvent) return QObject::event(e);
        graph_.DrainEvents();
        return true;
    }

  private:
    TFilterGraph& graph_;
};

TFilterGraph::TFilterGraph(std::string name)
    : TComponent(std::move(name)), receiver_(std::make_unique<TEventReceiver>(*this)) {}

TFilterGraph::~TFilterGraph() {
    try {
        SetActive(false);
    } catch (const std::exception& e) {
        HandleMediaException(e);
    }
    // Attached components drop their reference without calling back.
    const auto members = members_;
    const auto listeners = listeners_;
    members_.clear();
    listeners_.clear();
    for (IFilterMember* m : members)
        m->GraphDestroyed(this);
    for (IGraphListener* l : listeners)
        l->GraphDestroyed(this);
}

void TFilterGraph::SetActive(bool value) {
    if (value == active_) return;
    if (value)
        Activate();
    else
        Deactivate();
}

void TFilterGraph::SetMode(TGraphMode mode) {
    if (mode == mode_) return;
    const bool wasActive = active_;
    SetActive(false);
    mode_ = mode;
    SetActive(wasActive);
}

void TFilterGraph::Loaded() {
    if (autoCreate_) SetActive(true);
}

void TFilterGraph::Activate() {
    // Nothing is stored until every platform object exists: a failure leaves
    // the graph inactive, with the platform's text in the exception.
    ComPtr<IFilterGraph2> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IDvdGraphBuilder> dvd;
    HRESULT hr = S_OK;
    switch (mode_) {
    case gmNormal:
        hr = CreateInstance(CLSID_FilterGraph, graph);
        break;
    case gmCapture:
        hr = CreateInstance(CLSID_CaptureGraphBuilder2, builder);
        if (SUCCEEDED(hr)) hr = CreateInstance(CLSID_FilterGraph, graph);
        if (SUCCEEDED(hr)) builder->SetFiltergraph(graph.Get());
        break;
    case gmDVD:
        hr = CreateInstance(CLSID_DvdGraphBuilder, dvd);
        if (SUCCEEDED(hr)) {
            ComPtr<IGraphBuilder> gb;
            hr = dvd->GetFiltergraph(gb.Put());
            if (SUCCEEDED(hr)) hr = gb.As(graph);
        }
        break;
    }
    if (SUCCEEDED(hr) && !graph) hr = E_NOINTERFACE;
    CheckMediaResult(hr);

    graph_ = std::move(graph);
    captureBuilder_ = std::move(builder);
    dvdBuilder_ = std::move(dvd);
    active_ = true;

    ComPtr<IMediaEventEx> events = graph_.Query<IMediaEventEx>();
    if (events) {
        events_ = events;
        events->SetNotifyFlags(0);
        events->SetNotifyWindow(receiver_.get(), WM_GRAPHNOTIFY,
                                reinterpret_cast<LONG_PTR>(events.Get()));
    }
    if (graphEdit_) Register();
    if (!logFile_.empty()) OpenLog(logFile_);

    const auto members = members_; // a member's operation may attach or detach others
    for (IFilterMember* m : members)
        AddMemberFilter(m);
    if (OnActivate) OnActivate(this);
    SendControlEvent(ctlActivation, 1);
}

void TFilterGraph::Deactivate() {
    // Every step runs even when one raises, so the graph never stays half
    // torn down and marked active; the first exception is raised at the end.
    std::exception_ptr first;
    auto guarded = [&first](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    };
    guarded([&] { SendControlEvent(ctlActivation, 0); });
    const auto members = members_;
    for (IFilterMember* m : members)
        guarded([&] { RemoveMemberFilter(m); });

    if (events_) {
        // Switched off before the release, so no event arrives afterwards.
        events_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
        events_->SetNotifyWindow(nullptr, 0, 0);
        events_.Reset();
    }
    if (rotCookie_ != 0) Revoke();
    CloseLog();
    graph_.Reset();
    captureBuilder_.Reset();
    dvdBuilder_.Reset();
    active_ = false;
    if (first) std::rethrow_exception(first);
}

void TFilterGraph::AddMemberFilter(IFilterMember* member) {
    member->OnFilterOperation(opAdding);
    ComPtr<IBaseFilter> filter = member->MemberFilter();
    graph_->AddFilter(filter.Get(),
                      member->MemberName()); // a member without filter is simply not added
    member->OnFilterOperation(opAdded);
}

void TFilterGraph::RemoveMemberFilter(IFilterMember* member) {
    member->OnFilterOperation(opRemoving);
    ComPtr<IBaseFilter> filter = member->MemberFilter();
    if (graph_) graph_->RemoveFilter(filter.Get());
    member->OnFilterOperation(opRemoved);
}

void TFilterGraph::InsertMember(IFilterMember* member) {
    if (!member || std::find(members_.begin(), members_.end(), member) != members_.end()) return;
    members_.push_back(member);
    if (active_) AddMemberFilter(member);
}

void TFilterGraph::RemoveMember(IFilterMember* member) {
    auto it = std::find(members_.begin(), members_.end(), member);
    if (it == members_.end()) return;
    members_.erase(it);
    if (active_) RemoveMemberFilter(member);
}

void TFilterGraph::InsertListener(IGraphListener* listener) {
    if (!listener || std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end())
        return;
    listeners_.push_back(listener);
}

void TFilterGraph::RemoveListener(IGraphListener* listener) {
    auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it != listeners_.end()) listeners_.erase(it);
}

void TFilterGraph::SendControlEvent(TControlEvent event, LONG_PTR param) {
    const auto listeners = listeners_;
    for (IGraphListener* l : listeners)
        l->HandleControlEvent(event, param);
}

void TFilterGraph::SetGraphEdit(bool value) {
    if (!value && rotCookie_ != 0) Revoke();
    if (value && active_ && rotCookie_ == 0) Register();
    graphEdit_ = value;
}

void TFilterGraph::Register() {
    ComPtr<IRunningObjectTable> rot;
    if (FAILED(GetRunningObjectTable(0, rot.Put())) || !rot) return;
    const std::string name =
        Format("FilterGraph %08" PRIXPTR " pid %X", reinterpret_cast<uintptr_t>(graph_.Get()),
               static_cast<unsigned>(getpid()));
    ComPtr<IMoniker> moniker;
    if (FAILED(CreateItemMoniker("!", name, moniker.Put())) || !moniker) return;
    DWORD cookie = 0;
    if (SUCCEEDED(rot->Register(0, graph_.Get(), moniker.Get(), &cookie))) rotCookie_ = cookie;
}

void TFilterGraph::Revoke() {
    ComPtr<IRunningObjectTable> rot;
    if (SUCCEEDED(GetRunningObjectTable(0, rot.Put())) && rot) rot->Revoke(rotCookie_);
    rotCookie_ = 0;
}

bool TFilterGraph::OpenLog(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (FAILED(graph_->SetLogFile(fd))) {
        graph_->SetLogFile(kNoLogFile);
        ::close(fd);
        return false;
    }
    logFd_ = fd;
    return true;
}

void TFilterGraph::CloseLog() {
    if (graph_) graph_->SetLogFile(kNoLogFile);
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
}

void TFilterGraph::SetLogFile(const std::string& fileName) {
    if (active_) {
        CloseLog();
        if (!fileName.empty() && !OpenLog(fileName)) return; // swallowed; the old name stays
    }
    logFile_ = fileName;
}

bool TFilterGraph::Run() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control) return false;
    SendControlEvent(ctlRun, 0);
    CheckMediaResult(control->Run());
    return true;
}

bool TFilterGraph::Stop() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control) return false;
    SendControlEvent(ctlStop, 0);
    return CheckMediaResult(control->Stop()) == S_OK;
}

HRESULT TFilterGraph::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!active_ || !graph_) return E_NOINTERFACE;
    switch (mode_) {
    case gmNormal:
        break;
    case gmCapture:
        if (captureBuilder_ && SUCCEEDED(captureBuilder_->QueryInterface(iid, out))) return S_OK;
        break;
    case gmDVD:
        if (dvdBuilder_) {
            if (SUCCEEDED(dvdBuilder_->QueryInterface(iid, out))) return S_OK;
            *out = nullptr;
            if (SUCCEEDED(dvdBuilder_->GetDvdInterface(iid, out))) return S_OK;
        }
        break;
    }
    *out = nullptr;
    return graph_->QueryInterface(iid, out);
}

void TFilterGraph::DrainEvents() {
    ComPtr<IMediaEventEx> events = events_;
    if (!events) return; // announced before deactivation: not delivered
    LONG code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    // Stops when a handler deactivates (or rebuilds) the graph.
    while (events_.Get() == events.Get() && events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        try {
            DoEvent(code, param1, param2);
        } catch (const std::exception& e) {
            HandleMediaException(e);
        }
        events->FreeEventParams(code, param1, param2);
    }
}

void TFilterGraph::DoEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    const auto listeners = listeners_;
    for (IGraphListener* l : listeners)
        l->HandleGraphEvent(code, param1, param2);
    if (OnMediaEvent) OnMediaEvent(this, code, param1, param2);
    DispatchByCode(code, param1, param2);
}

namespace {
template <class Handler, class... Args> void Call(const Handler& handler, Args&&... args) {
    if (handler) handler(std::forward<Args>(args)...);
}
template <class T> T* AsPointer(LONG_PTR p) {
    return reinterpret_cast<T*>(p);
}
} // namespace

void TFilterGraph::DispatchByCode(LONG code, LONG_PTR p1, LONG_PTR p2) {
    switch (code) {
    case EC_COMPLETE:
        Call(OnGraphComplete, this, static_cast<HRESULT>(p1), AsPointer<IBaseFilter>(p2));
        break;
    case EC_USERABORT:
        Call(OnGraphUserAbort, this);
        break;
    case EC_ERRORABORT:
        Call(OnGraphErrorAbort, this, static_cast<HRESULT>(p1));
        break;
    case EC_STREAM_ERROR_STOPPED:
        Call(OnGraphStreamErrorStopped, this, static_cast<HRESULT>(p1), p2);
        break;
    case EC_STREAM_ERROR_STILLPLAYING:
        Call(OnGraphStreamErrorStillPlaying, this, static_cast<HRESULT>(p1), p2);
        break;
    case EC_ERROR_STILLPLAYING:
        Call(OnGraphErrorStillPlaying, this, static_cast<HRESULT>(p1));
        break;
    case EC_PALETTE_CHANGED:
        Call(OnGraphPaletteChanged, this);
        break;
    case EC_VIDEO_SIZE_CHANGED:
        Call(OnGraphVideoSizeChanged, this, static_cast<int>(p1 & 0xFFFF),
             static_cast<int>((p1 >> 16) & 0xFFFF));
        break;
    case EC_QUALITY_CHANGE:
        Call(OnGraphQualityChange, this);
        break;
    case EC_CLOCK_CHANGED:
        Call(OnGraphClockChanged, this);
        break;
    case EC_PAUSED:
        Call(OnGraphPaused, this, static_cast<HRESULT>(p1));
        break;
    case EC_OPENING_FILE:
        Call(OnGraphOpeningFile, this, p1 != 0);
        break;
    case EC_BUFFERING_DATA:
        Call(OnGraphBufferingData, this, p1 != 0);
        break;
    case EC_FULLSCREEN_LOST:
        Call(OnGraphFullscreenLost, this, AsPointer<IBaseFilter>(p2));
        break;
    case EC_OLE_EVENT:
        Call(OnGraphOleEvent, this, AsPointer<const char>(p1), AsPointer<const char>(p2));
        break;
    case EC_STREAM_CONTROL_STOPPED:
        Call(OnGraphStreamControlStopped, this, AsPointer<IPin>(p1), p2);
        break;
    case EC_STREAM_CONTROL_STARTED:
        Call(OnGraphStreamControlStarted, this, AsPointer<IPin>(p1), p2);
        break;
    case EC_END_OF_SEGMENT:
        if (OnGraphEndOfSegment) {
            const auto* time = AsPointer<const REFERENCE_TIME>(p1);
            OnGraphEndOfSegment(this, time ? *time : 0, p2);
        }
        break;
    case EC_DEVICE_LOST:
        Call(OnGraphDeviceLost, this, AsPointer<IUnknown>(p1), p2 == 1);
        break;
    case EC_STEP_COMPLETE:
        Call(OnGraphStepComplete, this, p1 != 0);
        break;
    case EC_TIMECODE_AVAILABLE:
        Call(OnGraphTimeCodeAvailable, this, AsPointer<IBaseFilter>(p1), p2);
        break;
    case EC_EXTDEVICE_MODE_CHANGE:
        Call(OnGraphEXTDeviceModeChange, this, p1, p2);
        break;
    case EC_GRAPH_CHANGED:
        Call(OnGraphChanged, this);
        break;
    case EC_CLOCK_UNSET:
        Call(OnGraphClockUnset, this);
        break;
    case EC_VMR_RENDERDEVICE_SET:
        Call(OnGraphVMRRenderDevice, this, p1);
        break;
    case EC_SNDDEV_IN_ERROR:
        Call(OnGraphSNDDevInError, this, p1, p2);
        break;
    case EC_SNDDEV_OUT_ERROR:
        Call(OnGraphSNDDevOutError, this, p1, p2);
        break;
    default:
        if (code > EC_DVDBASE && code <= EC_DVDBASE + 27) {
            const TParamsEvent* dvd[] = {
                &OnDVDDomainChange,
                &OnDVDTitleChange,
                &OnDVDChapterStart,
                &OnDVDAudioStreamChange,
                &OnDVDSubpictureStreamChange,
                &OnDVDAngleChange,
                &OnDVDButtonChange,
                &OnDVDValidUOPSChange,
                &OnDVDStillOn,
                &OnDVDStillOff,
                &OnDVDCurrentTime,
                &OnDVDError,
                &OnDVDWarning,
                &OnDVDChapterAutoStop,
                &OnDVDNoFP_PGC,
                &OnDVDPlaybackRateChange,
                &OnDVDParentalLevelChange,
                &OnDVDPlaybackStopped,
                &OnDVDAnglesAvailable,
                &OnDVDPlayPeriodAutoStop,
                &OnDVDButtonAutoActivated,
                &OnDVDCMDStart,
                &OnDVDCMDEnd,
                &OnDVDDiscEjected,
                &OnDVDDiscInserted,
                &OnDVDCurrentHMSFTime,
                &OnDVDKaraokeMode,
            };
            Call(*dvd[code - EC_DVDBASE - 1], this, p1, p2);
        }
        break;
    }
}
