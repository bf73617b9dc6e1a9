#pragma once
// The filter graph and its controls: IFilterGraph / IGraphBuilder /
// IFilterGraph2, the capture graph builder, run control, events, seeking,
// the notification target that carries graph events to the UI thread, and
// the graph event codes.
#include "platform/FilterInterfaces.h"

struct IFilterGraph : IUnknown {
    static constexpr GUID Iid{
        0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    // E_POINTER for a null filter; VFW_S_DUPLICATE_NAME when the name was made unique.
    virtual HRESULT AddFilter(IBaseFilter* filter, const std::string& name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** out) = 0;
    virtual HRESULT FindFilterByName(const std::string& name, IBaseFilter** out) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() { return S_OK; }
};

// Log file handle passed to SetLogFile: an open file descriptor; this value
// switches the log off.
inline constexpr intptr_t kNoLogFile = -1;

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID Iid{
        0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IFilterGraph;
    // Connects out to in, adding converters where needed.
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT Render(IPin*) { return E_NOTIMPL; }
    virtual HRESULT RenderFile(const std::string&, const std::string&) { return E_NOTIMPL; }
    virtual HRESULT AddSourceFilter(const std::string&, const std::string&, IBaseFilter**) {
        return E_NOTIMPL;
    }
    // Text log of graph building into the file descriptor (kNoLogFile: off).
    // The graph does not own the descriptor.
    virtual HRESULT SetLogFile(intptr_t file) = 0;
    // Writes one line into that log, for the graph's helpers (nothing while off).
    virtual void LogLine(const std::string&) {}
    virtual HRESULT Abort() { return E_NOTIMPL; }
    virtual HRESULT ShouldOperationContinue() { return S_OK; }
};

struct IFilterGraph2 : IGraphBuilder {
    static constexpr GUID Iid{
        0x36B73882, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
    using Base = IGraphBuilder;
    virtual HRESULT AddSourceFilterForMoniker(IMoniker*, IBindCtx*, const std::string&,
                                              IBaseFilter**) {
        return E_NOTIMPL;
    }
    virtual HRESULT ReconnectEx(IPin*, const AM_MEDIA_TYPE*) { return E_NOTIMPL; }
    virtual HRESULT RenderEx(IPin*, DWORD, DWORD*) { return E_NOTIMPL; }
};

struct ICaptureGraphBuilder2 : IUnknown {
    static constexpr GUID Iid{
        0x93E5A4E0, 0x2D50, 0x11D2, {0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D}};
    using Base = IUnknown;
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** out) = 0;
    // Adds a multiplexer for the file subtype (MEDIASUBTYPE_Avi) and a file
    // writer on fileName; returns both (each out may be null).
    virtual HRESULT SetOutputFileName(const GUID* type, const std::string& fileName,
                                      IBaseFilter** mux, IFileSinkFilter** sink) = 0;
    // An interface on the filter, or on a pin of the category/type, or downstream.
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFIID iid, void** out) = 0;
    // Links the source's pin of the category (PIN_CATEGORY_*, or null) and
    // major type (or null) to a free input pin of sink, through intermediate
    // when given, adding converters. source is a filter or an output pin. A
    // failure leaves the graph as it was.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
    virtual HRESULT ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                                  REFERENCE_TIME*, WORD, WORD) {
        return E_NOTIMPL;
    }
    virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                            const GUID* type, BOOL unconnected, int index, IPin** out) = 0;
};

using OAFilterState = LONG;

struct IMediaControl : IUnknown {
    static constexpr GUID Iid{
        0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // Loses no data: a graph writing a file finishes it before returning.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;
    virtual HRESULT StopWhenReady() { return Stop(); }
};

// Where a graph announces queued events. The platform calls PostGraphEvent
// from any thread, once per queued event, with the message and parameter
// given to SetNotifyWindow; the target must only post (never block or call
// back into the graph). The platform never calls it again once
// SetNotifyWindow(nullptr, ...) or SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY) has
// returned, nor after the event interface's last release.
class INotifyTarget {
  public:
    virtual void PostGraphEvent(LONG message, LONG_PTR param) = 0;

  protected:
    ~INotifyTarget() = default;
};

inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaEvent : IUnknown {
    static constexpr GUID Iid{
        0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    // The next queued event; E_ABORT when none arrives within timeoutMs (0: do not wait).
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) = 0;
    virtual HRESULT WaitForCompletion(LONG, LONG*) { return E_NOTIMPL; }
    virtual HRESULT CancelDefaultHandling(LONG) { return E_NOTIMPL; }
    virtual HRESULT RestoreDefaultHandling(LONG) { return E_NOTIMPL; }
    // Releases what an event's parameters hold (nothing for plain numbers).
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IMediaEventEx : IMediaEvent {
    static constexpr GUID Iid{
        0x56A868C0, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IMediaEvent;
    // target null: no notifications. The target is not reference counted.
    virtual HRESULT SetNotifyWindow(INotifyTarget* target, LONG message, LONG_PTR param) = 0;
    // 0: notify; AM_MEDIAEVENT_NONOTIFY: do not (events are still queued).
    virtual HRESULT SetNotifyFlags(LONG flags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* flags) = 0;
};

struct IMediaSeeking : IUnknown {
    static constexpr GUID Iid{
        0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
    using Base = IUnknown;
    // Running time of the graph, 100-nanosecond units.
    virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
    virtual HRESULT GetDuration(LONGLONG*) { return E_NOTIMPL; }
    virtual HRESULT GetStopPosition(LONGLONG*) { return E_NOTIMPL; }
    virtual HRESULT GetCapabilities(DWORD*) { return E_NOTIMPL; }
};

// Declared so that a DVD graph can be asked for; the platform has none.
struct IDvdGraphBuilder : IUnknown {
    static constexpr GUID Iid{
        0xFCC152B6, 0xF372, 0x11D0, {0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B}};
    using Base = IUnknown;
    virtual HRESULT GetFiltergraph(IGraphBuilder** out) = 0;
    virtual HRESULT GetDvdInterface(REFIID iid, void** out) = 0;
};

inline constexpr const GUID& IID_IFilterGraph = IFilterGraph::Iid;
inline constexpr const GUID& IID_IGraphBuilder = IGraphBuilder::Iid;
inline constexpr const GUID& IID_IFilterGraph2 = IFilterGraph2::Iid;
inline constexpr const GUID& IID_ICaptureGraphBuilder2 = ICaptureGraphBuilder2::Iid;
inline constexpr const GUID& IID_IMediaControl = IMediaControl::Iid;
inline constexpr const GUID& IID_IMediaEvent = IMediaEvent::Iid;
inline constexpr const GUID& IID_IMediaEventEx = IMediaEventEx::Iid;
inline constexpr const GUID& IID_IMediaSeeking = IMediaSeeking::Iid;
inline constexpr const GUID& IID_IDvdGraphBuilder = IDvdGraphBuilder::Iid;

inline constexpr GUID CLSID_FilterGraph{
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID CLSID_CaptureGraphBuilder2{
    0xBF87B6E1, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr GUID CLSID_DvdGraphBuilder{
    0xFCC152B7, 0xF372, 0x11D0, {0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B}};
inline constexpr GUID CLSID_AviDest{
    0xE2510970, 0xF137, 0x11CE, {0x8B, 0x67, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6}};
inline constexpr GUID CLSID_FileWriter{
    0x8596E5F0, 0x0DA5, 0x11D0, {0xBD, 0x21, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// Graph event codes (param1 / param2 as noted).
inline constexpr LONG EC_COMPLETE = 0x01; // result, 0
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03; // failure code, 0
inline constexpr LONG EC_TIME = 0x04;
inline constexpr LONG EC_REPAINT = 0x05;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A; // width | height << 16, 0
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_SHUTTING_DOWN = 0x0C;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_OPENING_FILE = 0x10;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_FULLSCREEN_LOST = 0x12;
inline constexpr LONG EC_ACTIVATE = 0x13;
inline constexpr LONG EC_NEED_RESTART = 0x14;
inline constexpr LONG EC_WINDOW_DESTROYED = 0x15;
inline constexpr LONG EC_DISPLAY_CHANGED = 0x16;
inline constexpr LONG EC_STARVATION = 0x17;
inline constexpr LONG EC_OLE_EVENT =
    0x18; // two UTF-8 texts (const char*), freed by FreeEventParams
inline constexpr LONG EC_NOTIFY_WINDOW = 0x19;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
inline constexpr LONG EC_END_OF_SEGMENT = 0x1C; // const REFERENCE_TIME*, segment number
inline constexpr LONG EC_SEGMENT_STARTED = 0x1D;
inline constexpr LONG EC_LENGTH_CHANGED = 0x1E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F; // filter, 1 removed / 0 back
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_TIMECODE_AVAILABLE = 0x30;
inline constexpr LONG EC_EXTDEVICE_MODE_CHANGE = 0x31;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;
inline constexpr LONG EC_VMR_RENDERDEVICE_SET = 0x53;
inline constexpr LONG EC_DVDBASE = 0x100; // 257..283: DVD events
inline constexpr LONG EC_SNDDEV_IN_ERROR = 0x200;
inline constexpr LONG EC_SNDDEV_OUT_ERROR = 0x201;
