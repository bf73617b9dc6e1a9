#include "platform/gst/GstAviWriter.h"

#include "platform/GraphInterfaces.h"
#include "platform/MediaResults.h"
#include "platform/gst/GstMediaType.h"

#include "common/Text.h"

#include <cstring>

// A multiplexer input: requests an avimux pad of the arriving stream's kind.
class TGstMuxInputPin : public TGstPin {
  public:
    TGstMuxInputPin(TGstAviMux* owner, const std::string& name)
        : TGstPin(owner, name, PINDIR_INPUT, GUID_NULL),
          mux_(GST_ELEMENT(gst_object_ref(owner->mux_))), muxOwner_(owner) {}

    TGstCapsRef Caps() override {
        GstCaps* all = gst_caps_new_empty();
        for (const char* templ : {"video_%u", "audio_%u"})
            if (GstPadTemplate* t = gst_element_get_pad_template(mux_.get(), templ))
                all = gst_caps_merge(all, gst_pad_template_get_caps(t));
        return TGstCapsRef(all);
    }

    void SetPeer(IPin* peer, GstElement* converter) override {
        TGstPin::SetPeer(peer, converter);
        if (peer && muxOwner_) muxOwner_->EnsureFreeInput();
    }
    void Orphan() override {
        muxOwner_ = nullptr;
        TGstPin::Orphan();
    }

  protected:
    ~TGstMuxInputPin() override { UnpreparePad(); }
    GstPad* PreparePad(const GstCaps* stream) override {
        const char* kind = CapsMediaClass(stream);
        if (request_ || !*kind) return nullptr;
        const bool video = std::strcmp(kind, "video") == 0;
        request_.reset(gst_element_request_pad_simple(mux_.get(), video ? "video_%u" : "audio_%u"));
        if (!request_) return nullptr;
        TGstRef<GstPad> target(GST_PAD(gst_object_ref(request_.get())));
        // The file is constant-rate: a camera that slows down in low light
        // gets frames repeated (or dropped) to the capture's rate, so that
        // the picture keeps pace with the sound. Frames that depend on
        // others (H.264) cannot be repeated and go in as they come.
        if (video && KeepsRate(stream) && (rate_ = MakeGstElement("videorate"))) {
            GstElement* bin = GST_ELEMENT(gst_object_get_parent(GST_OBJECT(mux_.get())));
            gst_bin_add(GST_BIN(bin), rate_);
            gst_object_unref(bin);
            TGstRef<GstPad> out(gst_element_get_static_pad(rate_, "src"));
            gst_pad_link(out.get(), request_.get());
            gst_element_sync_state_with_parent(rate_);
            target.reset(gst_element_get_static_pad(rate_, "sink"));
        }
        gst_ghost_pad_set_target(GST_GHOST_PAD(pad_.get()), target.get());
        return pad_.get();
    }
    void UnpreparePad() override {
        gst_ghost_pad_set_target(GST_GHOST_PAD(pad_.get()), nullptr);
        if (rate_) {
            gst_element_set_state(rate_, GST_STATE_NULL);
            if (TGstRef<GstObject> parent{gst_object_get_parent(GST_OBJECT(rate_))})
                gst_bin_remove(GST_BIN(parent.get()), rate_);
            rate_ = nullptr;
        }
        if (request_) {
            gst_element_release_request_pad(mux_.get(), request_.get());
            request_.reset();
        }
    }

  private:
    static bool KeepsRate(const GstCaps* stream) {
        if (!stream || gst_caps_get_size(stream) == 0) return false;
        const GstStructure* s = gst_caps_get_structure(stream, 0);
        return gst_structure_has_name(s, "video/x-raw") || gst_structure_has_name(s, "image/jpeg");
    }

    TGstRef<GstElement> mux_;
    GstElement* rate_ = nullptr; // in the filter's bin while the pin is linked
    TGstAviMux* muxOwner_;       // cleared when the filter goes first
    TGstRef<GstPad> request_;
};

// An output or input pin whose ghost pad targets a fixed element pad.
class TGstFixedPin : public TGstPin {
  public:
    TGstFixedPin(TGstFilter* owner, const char* name, PIN_DIRECTION dir, GstElement* element,
                 const char* padName)
        : TGstPin(owner, name, dir, GUID_NULL) {
        TGstRef<GstPad> target(gst_element_get_static_pad(element, padName));
        gst_ghost_pad_set_target(GST_GHOST_PAD(pad_.get()), target.get());
    }
};

TGstAviMux::TGstAviMux() : TGstFilter(CLSID_AviDest, nullptr) {
    mux_ = RequireGstElement("avimux");
    gst_bin_add(GST_BIN(bin_.get()), mux_);
    AddPin(MakeComObject<TGstFixedPin>(this, "AVI Out", PINDIR_OUTPUT, mux_, "src"));
    EnsureFreeInput();
}

bool TGstAviMux::NeedsEndOfStream() {
    for (const auto& pin : pins_)
        if (pin->Direction() == PINDIR_INPUT && pin->IsConnected()) return true;
    return false;
}

void TGstAviMux::EnsureFreeInput() {
    for (const auto& pin : pins_)
        if (pin->Direction() == PINDIR_INPUT && !pin->IsConnected()) return;
    AddPin(MakeComObject<TGstMuxInputPin>(this, Format("Input %02d", nextInput_++)));
}

TGstFileWriter::TGstFileWriter() : TGstFilter(CLSID_FileWriter, nullptr) {
    sink_ = RequireGstElement("filesink");
    // The capture clock paces the sources; the writer takes data as it comes.
    g_object_set(sink_, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(bin_.get()), sink_);
    AddPin(MakeComObject<TGstFixedPin>(this, "in", PINDIR_INPUT, sink_, "sink"));
}

HRESULT TGstFileWriter::QueryOtherInterface(REFIID iid, void** out) {
    if (iid == IFileSinkFilter::Iid) {
        *out = static_cast<IFileSinkFilter*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT TGstFileWriter::SetFileName(const std::string& fileName, const AM_MEDIA_TYPE*) {
    if (fileName.empty()) return E_INVALIDARG;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(sink_, &state, nullptr, 0);
    if (state > GST_STATE_NULL) return VFW_E_NOT_STOPPED;
    fileName_ = fileName;
    g_object_set(sink_, "location", fileName_.c_str(), nullptr);
    return S_OK;
}

HRESULT TGstFileWriter::GetCurFile(std::string& fileName, AM_MEDIA_TYPE* type) {
    fileName = fileName_;
    if (type) {
        *type = AM_MEDIA_TYPE{};
        type->majortype = MEDIATYPE_Stream;
        type->subtype = MEDIASUBTYPE_Avi;
        type->formattype = FORMAT_None;
    }
    return S_OK;
}
