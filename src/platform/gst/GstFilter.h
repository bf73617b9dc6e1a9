#pragma once
// The common ground of every GStreamer-backed filter: a filter is a GstBin
// with one ghost pad per pin, so filters join any pipeline and talk to each
// other only through pins and caps. Pins are linked by TGstPin::Connect,
// which puts converters between them where the formats differ.
//
// Threads: filters and pins are built, linked and unlinked on the thread that
// drives the graph; streaming threads never touch these objects.
#include "platform/FilterInterfaces.h"
#include "platform/gst/GstUtil.h"

#include <string>
#include <vector>

class TGstFilter;

// Private interface of our filters: the bin that joins the pipeline.
struct IGstFilter : IUnknown {
    static constexpr GUID Iid{
        0x6B0C8A10, 0x2F4E, 0x4C1A, {0x9D, 0x35, 0x41, 0x7A, 0x0E, 0x52, 0xC3, 0x01}};
    using Base = IUnknown;
    virtual GstElement* Element() = 0;
    // True for writers (multiplexers, file and stream writers) that must see
    // end-of-stream before the graph tears down, or their output is cut short.
    virtual bool NeedsEndOfStream() = 0;
};

// Private interface of our pins.
struct IGstPin : IUnknown {
    static constexpr GUID Iid{
        0x6B0C8A11, 0x2F4E, 0x4C1A, {0x9D, 0x35, 0x41, 0x7A, 0x0E, 0x52, 0xC3, 0x02}};
    using Base = IUnknown;
    // Pin category (PIN_CATEGORY_CAPTURE, ...), GUID_NULL when it has none.
    virtual GUID Category() = 0;
    // What the pin produces (output) or accepts (input) now.
    virtual TGstCapsRef Caps() = 0;
    // The pad to link, made ready for a stream of the given caps (output pins
    // open their branch, multiplexer inputs request a pad); null when the pin
    // cannot take such a stream.
    virtual GstPad* AcquirePad(const GstCaps* stream) = 0;
    // Undoes AcquirePad once the link is gone.
    virtual void ReleasePad() = 0;
    // Connection bookkeeping, set by the connecting side on both pins.
    virtual void SetPeer(IPin* peer, GstElement* converter) = 0;
};

// A pin of a GStreamer filter. Optional interfaces (stream config, input line
// mixer) are answered only by the kinds of pin that offer them.
class TGstPin : public TComObject<IPin, IGstPin, IAMStreamConfig, IAMAudioInputMixer> {
  public:
    TGstPin(TGstFilter* owner, std::string name, PIN_DIRECTION dir, const GUID& category);

    HRESULT QueryInterface(REFIID iid, void** out) override;

    // IPin
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** out) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* out) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(std::string& id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** out) override;

    // IGstPin
    GUID Category() override { return category_; }
    TGstCapsRef Caps() override;
    GstPad* AcquirePad(const GstCaps* stream) override;
    void ReleasePad() override;
    void SetPeer(IPin* peer, GstElement* converter) override;

    // IAMStreamConfig / IAMAudioInputMixer: only where offered.
    HRESULT SetFormat(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT GetFormat(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
    HRESULT put_Enable(BOOL) override { return E_NOTIMPL; }
    HRESULT get_Enable(BOOL*) override { return E_NOTIMPL; }

    const std::string& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return dir_; }
    bool IsConnected() const { return static_cast<bool>(peer_); }
    // The ghost pad of the pin on its filter's bin.
    GstPad* Pad() const { return pad_.get(); }
    // Called by the filter when it goes away first; pins that keep more of
    // their filter clear that too.
    virtual void Orphan() { owner_ = nullptr; }

  protected:
    ~TGstPin() override;
    virtual bool OffersStreamConfig() const { return false; }
    virtual bool OffersInputMixer() const { return false; }
    // What the pin gives a sink that cannot take Caps() as they are, when the
    // pin decodes itself (a compressed capture); null: converters decide.
    virtual TGstCapsRef DecodedCaps() { return nullptr; }
    // The formats listed by EnumMediaTypes (default: Caps() expanded).
    virtual std::vector<TGstCapsRef> MediaTypeCaps();
    // Defaults for AcquirePad/ReleasePad: the ghost pad as it is.
    virtual GstPad* PreparePad(const GstCaps*) { return pad_.get(); }
    virtual void UnpreparePad() {}

    TGstFilter* owner_; // not counted: the filter owns its pins
    std::string name_;
    PIN_DIRECTION dir_;
    GUID category_;
    TGstRef<GstPad> pad_; // ghost pad
    ComPtr<IPin> peer_;
    GstElement* converter_ = nullptr; // converter bin of an output pin's link, in the pipeline
};

// Base of all GStreamer filters.
class TGstFilter : public TComObject<IBaseFilter, IGstFilter> {
  public:
    // IPersist / IMediaFilter
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** out) override;
    HRESULT FindPin(const std::string& id, IPin** out) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const std::string& name) override;
    // IGstFilter
    GstElement* Element() override { return bin_.get(); }
    bool NeedsEndOfStream() override { return false; }

    IFilterGraph* Graph() const { return graph_; }
    const std::vector<ComPtr<TGstPin>>& Pins() const { return pins_; }

  protected:
    TGstFilter(const CLSID& clsid, const char* binName);
    ~TGstFilter() override;
    void AddPin(ComPtr<TGstPin> pin);
    // A ghost pad on the bin (no target yet), owned by the caller.
    GstPad* NewGhostPad(const std::string& name, PIN_DIRECTION dir);

    CLSID clsid_;
    TGstRef<GstElement> bin_;
    IFilterGraph* graph_ = nullptr; // not counted: the graph holds the filter
    std::string name_;
    FILTER_STATE state_ = State_Stopped;
    std::vector<ComPtr<TGstPin>> pins_;
};

// A media type enumerator over a fixed list of caps.
ComPtr<IEnumMediaTypes> MakeMediaTypeEnum(std::vector<TGstCapsRef> caps);
// A pin enumerator over a fixed list.
ComPtr<IEnumPins> MakePinEnum(std::vector<ComPtr<IPin>> pins);
