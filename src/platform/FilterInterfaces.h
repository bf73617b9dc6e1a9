#pragma once
// Filters and pins: IBaseFilter, IPin, their enumerators, the capture pin
// and input line controls, and the file sink of writer filters.
#include "platform/MediaTypes.h"
#include "platform/Moniker.h"

#include <string>

struct IBaseFilter;
struct IFilterGraph;
struct IReferenceClock;

enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

inline constexpr size_t MAX_PIN_NAME = 128;
inline constexpr size_t MAX_FILTER_NAME = 128;

// Pin information record. achName holds the name as UTF-8, zero-terminated,
// cut on a character boundary to fit. pFilter is a counted reference the
// receiver releases (FreePinInfo).
struct PIN_INFO {
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    char achName[MAX_PIN_NAME];
};
using _PinInfo = PIN_INFO;

// Filter information record; pGraph is a counted reference (may be null).
struct FILTER_INFO {
    char achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;
};

struct IEnumMediaTypes : IUnknown {
    static constexpr GUID Iid{
        0x89C31040, 0x846B, 0x11CE, {0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
    using Base = IUnknown;
    // Up to count records, each allocated with CoTaskMemAlloc (format block
    // likewise) and handed over: free with DeleteMediaType. S_OK when all were
    // fetched, S_FALSE when fewer.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes**) { return E_NOTIMPL; }
};

struct IPin : IUnknown {
    static constexpr GUID Iid{
        0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    // Connects this output pin to receivePin (type may be null: any).
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    // VFW_E_NOT_CONNECTED (and null) when unconnected.
    virtual HRESULT ConnectedTo(IPin** out) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* out) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT QueryId(std::string& id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE*) { return E_NOTIMPL; }
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** out) = 0;
};

struct IEnumPins : IUnknown {
    static constexpr GUID Iid{
        0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    virtual HRESULT Next(ULONG count, IPin** out, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins**) { return E_NOTIMPL; }
};

struct IMediaFilter : IPersist {
    static constexpr GUID Iid{
        0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IPersist;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock*) { return E_NOTIMPL; }
    virtual HRESULT GetSyncSource(IReferenceClock**) { return E_NOTIMPL; }
};

struct IBaseFilter : IMediaFilter {
    static constexpr GUID Iid{
        0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IMediaFilter;
    virtual HRESULT EnumPins(IEnumPins** out) = 0;
    virtual HRESULT FindPin(const std::string& id, IPin** out) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // Called by a graph when the filter is added (graph set) or removed (null).
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const std::string& name) = 0;
    virtual HRESULT QueryVendorInfo(std::string&) { return E_NOTIMPL; }
};

struct IEnumFilters : IUnknown {
    static constexpr GUID Iid{
        0x56A86893, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    using Base = IUnknown;
    virtual HRESULT Next(ULONG count, IBaseFilter** out, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters**) { return E_NOTIMPL; }
};

// Output pin format control of a capture filter.
struct IAMStreamConfig : IUnknown {
    static constexpr GUID Iid{
        0xC6E13340, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
    using Base = IUnknown;
    // Fixes the pin's format; the caller keeps its record.
    virtual HRESULT SetFormat(const AM_MEDIA_TYPE* type) = 0;
    // The current (or preferred) format, a new record to DeleteMediaType.
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** out) = 0;
    virtual HRESULT GetNumberOfCapabilities(int*, int*) { return E_NOTIMPL; }
    virtual HRESULT GetStreamCaps(int, AM_MEDIA_TYPE**, BYTE*) { return E_NOTIMPL; }
};

// One input line of an audio capture filter (one per input pin).
struct IAMAudioInputMixer : IUnknown {
    static constexpr GUID Iid{
        0x54C39221, 0x8380, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
    using Base = IUnknown;
    // Non-zero switches the line on (callers pass -1, all bits set).
    virtual HRESULT put_Enable(BOOL enable) = 0;
    virtual HRESULT get_Enable(BOOL* enabled) = 0;
    virtual HRESULT put_Mono(BOOL) { return E_NOTIMPL; }
    virtual HRESULT get_Mono(BOOL*) { return E_NOTIMPL; }
    virtual HRESULT put_MixLevel(double) { return E_NOTIMPL; }
    virtual HRESULT get_MixLevel(double*) { return E_NOTIMPL; }
};

// Output file of a writer filter (ASF writer, file writer).
struct IFileSinkFilter : IUnknown {
    static constexpr GUID Iid{
        0x00855B90, 0xCE1B, 0x11D0, {0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
    using Base = IUnknown;
    // type may be null.
    virtual HRESULT SetFileName(const std::string& fileName, const AM_MEDIA_TYPE* type) = 0;
    // The current name (empty when none is set); type may be null.
    virtual HRESULT GetCurFile(std::string& fileName, AM_MEDIA_TYPE* type) = 0;
};

inline constexpr const GUID& IID_IEnumMediaTypes = IEnumMediaTypes::Iid;
inline constexpr const GUID& IID_IPin = IPin::Iid;
inline constexpr const GUID& IID_IEnumPins = IEnumPins::Iid;
inline constexpr const GUID& IID_IMediaFilter = IMediaFilter::Iid;
inline constexpr const GUID& IID_IBaseFilter = IBaseFilter::Iid;
inline constexpr const GUID& IID_IEnumFilters = IEnumFilters::Iid;
inline constexpr const GUID& IID_IAMStreamConfig = IAMStreamConfig::Iid;
inline constexpr const GUID& IID_IAMAudioInputMixer = IAMAudioInputMixer::Iid;
inline constexpr const GUID& IID_IFileSinkFilter = IFileSinkFilter::Iid;

// Releases the filter reference of a pin information record and clears it.
void FreePinInfo(PIN_INFO& info);
// Copies name into a record's name buffer: zero-terminated, cut to fit
// without splitting a UTF-8 character.
void CopyRecordName(char* dest, size_t capacity, const std::string& name);
