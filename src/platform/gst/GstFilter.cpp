#include "platform/gst/GstFilter.h"

#include "platform/ComEnum.h"
#include "platform/GraphInterfaces.h"
#include "platform/MediaResults.h"
#include "platform/TaskMemory.h"
#include "platform/gst/GstMediaType.h"

#include <cstring>
#include <utility>

namespace {

// Media type enumerator over a fixed list of caps.
class TGstEnumMediaTypes : public TComEnumBase<IEnumMediaTypes, TGstCapsRef> {
  public:
    using TComEnumBase::TComEnumBase;

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            AM_MEDIA_TYPE mt{};
            const bool ok = MediaTypeFromCaps(items_[pos_++].get(), mt);
            AM_MEDIA_TYPE* copy =
                ok ? static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE))) : nullptr;
            if (!copy) {
                FreeMediaType(mt);
                continue;
            }
            *copy = mt; // hands the format block over
            out[n++] = copy;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
};

using TGstEnumPins = TComEnum<IEnumPins, IPin>;

// Converters between two raw streams of one kind: rate first (fewer frames to
// scale and convert), then size, then pixel format; audio: sample format, then rate.
GstElement* MakeConverter(const GstCaps* from, const char* mediaClass) {
    std::vector<const char*> factories;
    if (std::strcmp(mediaClass, "video") == 0) {
        if (gst_caps_get_size(from) > 0 &&
            gst_structure_has_name(gst_caps_get_structure(from, 0), "image/jpeg"))
            factories.push_back("jpegdec");
        factories.insert(factories.end(), {"videorate", "videoscale", "videoconvert"});
    } else {
        factories.insert(factories.end(), {"audioconvert", "audioresample"});
    }
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* prev = nullptr;
    GstElement* first = nullptr;
    for (const char* f : factories) {
        GstElement* e = MakeGstElement(f);
        if (!e) {
            gst_object_unref(gst_object_ref_sink(bin));
            return nullptr;
        }
        gst_bin_add(GST_BIN(bin), e);
        if (prev)
            gst_element_link(prev, e);
        else
            first = e;
        prev = e;
    }
    TGstRef<GstPad> sink(gst_element_get_static_pad(first, "sink"));
    TGstRef<GstPad> src(gst_element_get_static_pad(prev, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", sink.get()));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", src.get()));
    return bin;
}

// The bin of the filter owning a pin (our pins only).
GstElement* PinFilterBin(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    ComPtr<IGstFilter> filter = QueryAs<IGstFilter>(info.pFilter);
    FreePinInfo(info);
    return filter ? filter->Element() : nullptr;
}

void RemoveFromParent(GstElement* e) {
    gst_element_set_state(e, GST_STATE_NULL);
    if (TGstRef<GstObject> parent{gst_object_get_parent(GST_OBJECT(e))})
        gst_bin_remove(GST_BIN(parent.get()), e);
}

} // namespace

ComPtr<IEnumMediaTypes> MakeMediaTypeEnum(std::vector<TGstCapsRef> caps) {
    return MakeComObject<TGstEnumMediaTypes>(std::move(caps));
}

ComPtr<IEnumPins> MakePinEnum(std::vector<ComPtr<IPin>> pins) {
    return MakeComObject<TGstEnumPins>(std::move(pins));
}

// ---------------------------------------------------------------- TGstPin

TGstPin::TGstPin(TGstFilter* owner, std::string name, PIN_DIRECTION dir, const GUID& category)
    : owner_(owner), name_(std::move(name)), dir_(dir), category_(category) {
    EnsureGstInitialised();
    pad_.reset(GST_PAD(gst_object_ref_sink(gst_ghost_pad_new_no_target(
        name_.c_str(), dir == PINDIR_OUTPUT ? GST_PAD_SRC : GST_PAD_SINK))));
}

TGstPin::~TGstPin() = default;

HRESULT TGstPin::QueryInterface(REFIID iid, void** out) {
    if (out && ((iid == IAMStreamConfig::Iid && !OffersStreamConfig()) ||
                (iid == IAMAudioInputMixer::Iid && !OffersInputMixer()))) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    return TComObject::QueryInterface(iid, out);
}

TGstCapsRef TGstPin::Caps() {
    TGstRef<GstPad> target(gst_ghost_pad_get_target(GST_GHOST_PAD(pad_.get())));
    if (target) return TGstCapsRef(gst_pad_query_caps(target.get(), nullptr));
    return TGstCapsRef(gst_caps_new_any());
}

std::vector<TGstCapsRef> TGstPin::MediaTypeCaps() {
    TGstCapsRef caps = Caps();
    return ExpandCaps(caps.get());
}

GstPad* TGstPin::AcquirePad(const GstCaps* stream) {
    return PreparePad(stream);
}

void TGstPin::ReleasePad() {
    UnpreparePad();
}

void TGstPin::SetPeer(IPin* peer, GstElement* converter) {
    peer_ = peer;
    converter_ = converter;
}

HRESULT TGstPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (!receivePin) return E_POINTER;
    if (dir_ != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    ComPtr<IGstPin> in = QueryAs<IGstPin>(receivePin);
    if (!in) return VFW_E_CANNOT_CONNECT;
    PIN_DIRECTION inDir = PINDIR_OUTPUT;
    receivePin->QueryDirection(&inDir);
    if (inDir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    ComPtr<IPin> already;
    if (peer_ || receivePin->ConnectedTo(already.Put()) == S_OK) return VFW_E_ALREADY_CONNECTED;
    GstElement* outBin = owner_ ? owner_->Element() : nullptr;
    GstElement* inBin = PinFilterBin(receivePin);
    GstElement* pipeline = outBin ? GST_ELEMENT_PARENT(outBin) : nullptr;
    if (!pipeline || !inBin || GST_ELEMENT_PARENT(inBin) != pipeline) return VFW_E_NOT_IN_GRAPH;

    TGstCapsRef outCaps = Caps();
    if (type) {
        TGstCapsRef wanted = CapsFromMediaType(*type);
        if (!wanted || !gst_caps_can_intersect(outCaps.get(), wanted.get()))
            return VFW_E_TYPE_NOT_ACCEPTED;
        outCaps.reset(gst_caps_intersect(outCaps.get(), wanted.get()));
    }
    TGstCapsRef inCaps = in->Caps();
    bool direct = gst_caps_can_intersect(outCaps.get(), inCaps.get());
    if (!direct && !type) {
        // A compressed capture decodes once for every raw consumer.
        if (TGstCapsRef decoded = DecodedCaps()) {
            outCaps = std::move(decoded);
            direct = gst_caps_can_intersect(outCaps.get(), inCaps.get());
        }
    }
    const char* outClass = CapsMediaClass(outCaps.get());
    if (!direct) {
        // Converters bridge raw streams of one kind only; the input must
        // accept some raw stream of that kind.
        TGstCapsRef raw(gst_caps_from_string(std::strcmp(outClass, "video") == 0 ? "video/x-raw"
                                                                                 : "audio/x-raw"));
        if (!*outClass || !gst_caps_can_intersect(raw.get(), inCaps.get()))
            return VFW_E_CANNOT_CONNECT;
    }

    GstPad* src = AcquirePad(outCaps.get());
    GstPad* sink = src ? in->AcquirePad(outCaps.get()) : nullptr;
    if (!sink) {
        if (src) ReleasePad();
        return VFW_E_CANNOT_CONNECT;
    }
    GstElement* converter = nullptr;
    bool linked = false;
    if (direct) {
        linked = gst_pad_link(src, sink) == GST_PAD_LINK_OK;
    } else if ((converter = MakeConverter(outCaps.get(), outClass))) {
        gst_bin_add(GST_BIN(pipeline), converter);
        TGstRef<GstPad> cs(gst_element_get_static_pad(converter, "sink"));
        TGstRef<GstPad> cr(gst_element_get_static_pad(converter, "src"));
        linked = gst_pad_link(src, cs.get()) == GST_PAD_LINK_OK &&
                 gst_pad_link(cr.get(), sink) == GST_PAD_LINK_OK;
        if (linked) {
            gst_element_sync_state_with_parent(converter);
        } else {
            RemoveFromParent(converter);
            converter = nullptr;
        }
    }
    if (!linked) {
        if (TGstRef<GstPad> peer{gst_pad_get_peer(src)}) gst_pad_unlink(src, peer.get());
        in->ReleasePad();
        ReleasePad();
        return VFW_E_CANNOT_CONNECT;
    }
    SetPeer(receivePin, converter);
    in->SetPeer(this, nullptr);
    return S_OK;
}

HRESULT TGstPin::Disconnect() {
    if (!peer_) return S_FALSE;
    if (dir_ == PINDIR_INPUT) {
        // The output side knows the converters and undoes both ends.
        ComPtr<IPin> peer = peer_;
        return peer->Disconnect();
    }
    ComPtr<IPin> peer = std::move(peer_);
    ComPtr<IGstPin> other = QueryAs<IGstPin>(peer.Get());
    GstPad* src = pad_.get();
    GstElement* converter = std::exchange(converter_, nullptr);
    if (TGstRef<GstPad> linkedTo{gst_pad_get_peer(src)}) gst_pad_unlink(src, linkedTo.get());
    if (converter) {
        TGstRef<GstPad> cr(gst_element_get_static_pad(converter, "src"));
        if (TGstRef<GstPad> linkedTo{gst_pad_get_peer(cr.get())})
            gst_pad_unlink(cr.get(), linkedTo.get());
        RemoveFromParent(converter);
    }
    if (other) {
        other->SetPeer(nullptr, nullptr);
        other->ReleasePad();
    }
    ReleasePad();
    return S_OK;
}

HRESULT TGstPin::ConnectedTo(IPin** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return peer_.CopyTo(out);
}

HRESULT TGstPin::ConnectionMediaType(AM_MEDIA_TYPE* out) {
    if (!out) return E_POINTER;
    *out = AM_MEDIA_TYPE{};
    if (!peer_) return VFW_E_NOT_CONNECTED;
    TGstCapsRef caps(gst_pad_get_current_caps(pad_.get()));
    if (!caps) caps = Caps();
    if (!gst_caps_is_fixed(caps.get())) caps.reset(gst_caps_fixate(caps.release()));
    return MediaTypeFromCaps(caps.get(), *out) ? S_OK : VFW_E_INVALIDMEDIATYPE;
}

HRESULT TGstPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = owner_;
    if (owner_) owner_->AddRef();
    info->dir = dir_;
    CopyRecordName(info->achName, MAX_PIN_NAME, name_);
    return S_OK;
}

HRESULT TGstPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = dir_;
    return S_OK;
}

HRESULT TGstPin::QueryId(std::string& id) {
    id = name_;
    return S_OK;
}

HRESULT TGstPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    TGstCapsRef wanted = CapsFromMediaType(*type);
    TGstCapsRef caps = Caps();
    return wanted && gst_caps_can_intersect(wanted.get(), caps.get()) ? S_OK : S_FALSE;
}

HRESULT TGstPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    return MakeMediaTypeEnum(MediaTypeCaps()).CopyTo(out);
}

// ---------------------------------------------------------------- TGstFilter

TGstFilter::TGstFilter(const CLSID& clsid, const char* binName) : clsid_(clsid) {
    EnsureGstInitialised();
    bin_.reset(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(binName))));
}

TGstFilter::~TGstFilter() {
    for (auto& pin : pins_) {
        pin->Disconnect();
        pin->Orphan();
    }
    pins_.clear();
    RemoveFromParent(bin_.get());
}

void TGstFilter::AddPin(ComPtr<TGstPin> pin) {
    gst_pad_set_active(pin->Pad(), TRUE);
    gst_element_add_pad(bin_.get(), pin->Pad());
    pins_.push_back(std::move(pin));
}

HRESULT TGstFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

// The graph drives the whole pipeline; a filter on its own only follows.
HRESULT TGstFilter::Stop() {
    state_ = State_Stopped;
    if (!GST_ELEMENT_PARENT(bin_.get())) gst_element_set_state(bin_.get(), GST_STATE_NULL);
    return S_OK;
}

HRESULT TGstFilter::Pause() {
    state_ = State_Paused;
    return S_OK;
}

HRESULT TGstFilter::Run(REFERENCE_TIME) {
    state_ = State_Running;
    return S_OK;
}

HRESULT TGstFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT TGstFilter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    std::vector<ComPtr<IPin>> pins(pins_.begin(), pins_.end());
    return MakePinEnum(std::move(pins)).CopyTo(out);
}

HRESULT TGstFilter::FindPin(const std::string& id, IPin** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (auto& pin : pins_)
        if (pin->Name() == id) return ComPtr<IPin>(pin.Get()).CopyTo(out);
    return VFW_E_NOT_FOUND;
}

HRESULT TGstFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CopyRecordName(info->achName, MAX_FILTER_NAME, name_);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT TGstFilter::JoinFilterGraph(IFilterGraph* graph, const std::string& name) {
    graph_ = graph;
    name_ = graph ? name : std::string();
    return S_OK;
}
