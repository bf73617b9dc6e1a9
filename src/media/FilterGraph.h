#pragma once
// TFilterGraph: owns one platform filter graph while active. Components attach
// as members (they contribute a platform filter) and listeners (they receive
// graph and control events); activation builds the platform graph with every
// member's filter in it, deactivation takes it down again.
//
// Graph events: the platform announces queued events to the graph's hidden
// receiver from its own threads; the receiver re-posts them to the UI thread,
// where the graph drains them and dispatches each one. Everything else runs on
// the UI thread only.
#include "media/Component.h"
#include "platform/GraphInterfaces.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TFilterGraph;

enum TGraphMode { gmNormal, gmCapture, gmDVD };
enum TFilterOperation { opAdding = 0, opAdded = 1, opRemoving = 2, opRemoved = 3 };
enum TControlEvent { ctlRun = 0, ctlPause = 1, ctlStop = 2, ctlActivation = 7 };

// A component that contributes a platform filter to the graph.
class IFilterMember {
  public:
    virtual ComPtr<IBaseFilter> MemberFilter() = 0;
    virtual std::string MemberName() = 0;
    virtual void OnFilterOperation(TFilterOperation operation) = 0;
    // The graph component is being destroyed: drop the reference to it, call nothing on it.
    virtual void GraphDestroyed(TFilterGraph*) {}

  protected:
    ~IFilterMember() = default;
};

// A component that wants the graph's events.
class IGraphListener {
  public:
    virtual void HandleGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
    // ctlRun / ctlStop: param 0, before the platform call; ctlActivation:
    // param 1 after activation, 0 before deactivation.
    virtual void HandleControlEvent(TControlEvent event, LONG_PTR param) = 0;
    virtual void GraphDestroyed(TFilterGraph*) {}

  protected:
    ~IGraphListener() = default;
};

// Message the platform is asked to post for queued events (application base + 1).
inline constexpr LONG WM_GRAPHNOTIFY = 0x8001;

class TFilterGraph : public TComponent {
  public:
    using TNotifyEvent = std::function<void(TFilterGraph* sender)>;
    using TMediaEvent =
        std::function<void(TFilterGraph* sender, LONG code, LONG_PTR param1, LONG_PTR param2)>;
    using TResultEvent = std::function<void(TFilterGraph* sender, HRESULT result)>;
    using TFilterEvent = std::function<void(TFilterGraph* sender, IBaseFilter* renderer)>;
    using TBoolEvent = std::function<void(TFilterGraph* sender, bool value)>;
    using TParamsEvent =
        std::function<void(TFilterGraph* sender, LONG_PTR param1, LONG_PTR param2)>;

    explicit TFilterGraph(std::string name = {});
    ~TFilterGraph() override;

    // Published properties.
    bool Active() const noexcept { return active_; }
    // Activation may raise EDirectShowException when the platform objects
    // cannot be created; the graph then stays inactive.
    void SetActive(bool value);
    bool AutoCreate() const noexcept { return autoCreate_; }
    void SetAutoCreate(bool value) noexcept { autoCreate_ = value; }
    TGraphMode Mode() const noexcept { return mode_; }
    void SetMode(TGraphMode mode);
    bool GraphEdit() const noexcept { return graphEdit_; }
    void SetGraphEdit(bool value);
    const std::string& LogFile() const noexcept { return logFile_; }
    void SetLogFile(const std::string& fileName);

    // After loading from the form description: activates when AutoCreate is set.
    void Loaded();

    // false when the graph offers no IMediaControl (inactive); raises
    // EDirectShowException when the platform call fails.
    bool Run();
    // As Run; true only when the platform answered S_OK.
    bool Stop();

    // Platform interfaces, only while active (E_NOINTERFACE otherwise):
    // gmCapture asks the capture graph builder first, gmDVD the DVD builder.
    HRESULT QueryInterface(REFIID iid, void** out);
    template <class T> ComPtr<T> Query() {
        ComPtr<T> r;
        QueryInterface(T::Iid, r.PutVoid());
        return r;
    }

    // Used by the attaching components' FilterGraph setters.
    void InsertMember(IFilterMember* member);
    void RemoveMember(IFilterMember* member);
    void InsertListener(IGraphListener* listener);
    void RemoveListener(IGraphListener* listener);
    int MemberCount() const noexcept { return static_cast<int>(members_.size()); }
    int ListenerCount() const noexcept { return static_cast<int>(listeners_.size()); }

    // Events.
    TNotifyEvent OnActivate;
    TMediaEvent OnMediaEvent;
    std::function<void(TFilterGraph*, HRESULT result, IBaseFilter* renderer)> OnGraphComplete;
    TNotifyEvent OnGraphUserAbort;
    TResultEvent OnGraphErrorAbort;
    std::function<void(TFilterGraph*, HRESULT result, LONG_PTR data)> OnGraphStreamErrorStopped;
    std::function<void(TFilterGraph*, HRESULT result, LONG_PTR data)>
        OnGraphStreamErrorStillPlaying;
    TResultEvent OnGraphErrorStillPlaying;
    TNotifyEvent OnGraphPaletteChanged;
    std::function<void(TFilterGraph*, int width, int height)> OnGraphVideoSizeChanged;
    TNotifyEvent OnGraphQualityChange;
    TNotifyEvent OnGraphClockChanged;
    TResultEvent OnGraphPaused;
    TBoolEvent OnGraphOpeningFile;
    TBoolEvent OnGraphBufferingData;
    TFilterEvent OnGraphFullscreenLost;
    // Parameters: two zero-terminated UTF-8 texts (either may be null).
    std::function<void(TFilterGraph*, const char* text1, const char* text2)> OnGraphOleEvent;
    std::function<void(TFilterGraph*, IPin* sender, LONG_PTR cookie)> OnGraphStreamControlStopped;
    std::function<void(TFilterGraph*, IPin* sender, LONG_PTR cookie)> OnGraphStreamControlStarted;
    // param1 points to the segment's stream time (REFERENCE_TIME).
    std::function<void(TFilterGraph*, REFERENCE_TIME streamTime, LONG_PTR segment)>
        OnGraphEndOfSegment;
    std::function<void(TFilterGraph*, IUnknown* device, bool removed)> OnGraphDeviceLost;
    TBoolEvent OnGraphStepComplete; // cancelled
    std::function<void(TFilterGraph*, IBaseFilter* from, LONG_PTR deviceId)>
        OnGraphTimeCodeAvailable;
    std::function<void(TFilterGraph*, LONG_PTR newMode, LONG_PTR deviceId)>
        OnGraphEXTDeviceModeChange;
    TNotifyEvent OnGraphChanged;
    TNotifyEvent OnGraphClockUnset;
    std::function<void(TFilterGraph*, LONG_PTR renderDevice)> OnGraphVMRRenderDevice;
    std::function<void(TFilterGraph*, LONG_PTR errorType, LONG_PTR result)> OnGraphSNDDevInError;
    std::function<void(TFilterGraph*, LONG_PTR errorType, LONG_PTR result)> OnGraphSNDDevOutError;
    // DVD events (codes 257 to 283), raw parameters: only a DVD graph produces them.
    TParamsEvent OnDVDDomainChange, OnDVDTitleChange, OnDVDChapterStart, OnDVDAudioStreamChange,
        OnDVDSubpictureStreamChange, OnDVDAngleChange, OnDVDButtonChange, OnDVDValidUOPSChange,
        OnDVDStillOn, OnDVDStillOff, OnDVDCurrentTime, OnDVDError, OnDVDWarning,
        OnDVDChapterAutoStop, OnDVDNoFP_PGC, OnDVDPlaybackRateChange, OnDVDParentalLevelChange,
        OnDVDPlaybackStopped, OnDVDAnglesAvailable, OnDVDPlayPeriodAutoStop,
        OnDVDButtonAutoActivated, OnDVDCMDStart, OnDVDCMDEnd, OnDVDDiscEjected, OnDVDDiscInserted,
        OnDVDCurrentHMSFTime, OnDVDKaraokeMode;

  protected:
    // The event dispatch: listeners, OnMediaEvent, then the handler of the code.
    virtual void DoEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

  private:
    class TEventReceiver;
    friend class TEventReceiver;

    void Activate();
    void Deactivate();
    void AddMemberFilter(IFilterMember* member);
    void RemoveMemberFilter(IFilterMember* member);
    void Register();
    void Revoke();
    bool OpenLog(const std::string& fileName);
    void CloseLog();
    // Runs on the UI thread for each re-posted notification.
    void DrainEvents();
    void DispatchByCode(LONG code, LONG_PTR param1, LONG_PTR param2);
    void SendControlEvent(TControlEvent event, LONG_PTR param);

    std::unique_ptr<TEventReceiver> receiver_;
    bool active_ = false;
    bool autoCreate_ = false;
    TGraphMode mode_ = gmNormal;
    bool graphEdit_ = false;
    std::string logFile_;
    ComPtr<IFilterGraph2> graph_;
    ComPtr<ICaptureGraphBuilder2> captureBuilder_;
    ComPtr<IDvdGraphBuilder> dvdBuilder_;
    ComPtr<IMediaEventEx> events_;
    DWORD rotCookie_ = 0;
    int logFd_ = -1;
    std::vector<IFilterMember*> members_;
    std::vector<IGraphListener*> listeners_;
};
