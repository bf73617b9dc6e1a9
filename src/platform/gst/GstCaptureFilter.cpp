#include "platform/gst/GstCaptureFilter.h"

#include "platform/MediaResults.h"
#include "platform/gst/GstAlsaMixer.h"
#include "platform/gst/GstMediaType.h"

#include <array>

namespace {

// audiotestsrc "wave" values of the Test Tone's lines.
struct TToneLine {
    const char* Name;
    int Wave;
};
constexpr std::array<TToneLine, 3> kToneLines{{{"Sine", 0}, {"White Noise", 5}, {"Silence", 4}}};
constexpr size_t kSilence = 2;

class TToneLines : public TGstInputLines {
  public:
    explicit TToneLines(GstElement* source) : source_(GST_ELEMENT(gst_object_ref(source))) {
        Apply();
    }

    std::vector<std::string> Names() override {
        std::vector<std::string> names;
        for (const auto& l : kToneLines)
            names.emplace_back(l.Name);
        return names;
    }
    bool Enabled(size_t index) override { return index == current_; }
    // Switching the enabled line off leaves silence, so that one line is
    // always the enabled one.
    bool SetEnabled(size_t index, bool enabled) override {
        if (index >= kToneLines.size()) return false;
        if (enabled)
            current_ = index;
        else if (index == current_)
            current_ = kSilence;
        Apply();
        return true;
    }

  private:
    void Apply() { g_object_set(source_.get(), "wave", kToneLines[current_].Wave, nullptr); }
    TGstRef<GstElement> source_;
    size_t current_ = 0;
};

class TAlsaLines : public TGstInputLines {
  public:
    explicit TAlsaLines(std::string card) : card_(std::move(card)) {
        for (auto& line : TAlsaMixer::InputLines(card_))
            names_.push_back(line.Name);
    }
    std::vector<std::string> Names() override { return names_; }
    bool Enabled(size_t index) override {
        bool on = false;
        return index < names_.size() && TAlsaMixer::IsEnabled(card_, names_[index], on) && on;
    }
    bool SetEnabled(size_t index, bool enabled) override {
        return index < names_.size() && TAlsaMixer::SetEnabled(card_, names_[index], enabled);
    }

  private:
    std::string card_;
    std::vector<std::string> names_;
};

TGstCapsRef CopyCaps(const GstCaps* c) {
    return TGstCapsRef(c ? gst_caps_copy(c) : gst_caps_new_any());
}

} // namespace

std::unique_ptr<TGstInputLines> MakeToneLines(GstElement* toneSource) {
    return std::make_unique<TToneLines>(toneSource);
}

std::unique_ptr<TGstInputLines> MakeAlsaLines(const std::string& card) {
    return std::make_unique<TAlsaLines>(card);
}

// An output pin: a tee branch (queue) opened when the pin is linked.
class TGstCapturePin : public TGstPin {
  public:
    TGstCapturePin(TGstCaptureFilter* owner, const char* name, const GUID& category,
                   bool streamConfig)
        : TGstPin(owner, name, PINDIR_OUTPUT, category), capture_(owner),
          streamConfig_(streamConfig), tee_(GST_ELEMENT(gst_object_ref(owner->tee_))),
          bin_(GST_ELEMENT(gst_object_ref(owner->Element()))) {}

    TGstCapsRef Caps() override {
        return capture_ ? capture_->CurrentFormat() : TGstCapsRef(gst_caps_new_empty());
    }

    HRESULT SetFormat(const AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        if (!capture_) return E_UNEXPECTED;
        TGstCapsRef caps = CapsFromMediaType(*type);
        return caps ? capture_->ApplyFormat(caps.get()) : VFW_E_INVALIDMEDIATYPE;
    }

    HRESULT GetFormat(AM_MEDIA_TYPE** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        TGstCapsRef caps = Caps();
        AM_MEDIA_TYPE mt{};
        if (!MediaTypeFromCaps(caps.get(), mt)) return VFW_E_NO_TYPES;
        *out = CreateMediaType(mt);
        FreeMediaType(mt);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    void Orphan() override {
        capture_ = nullptr;
        TGstPin::Orphan();
    }

  protected:
    ~TGstCapturePin() override { CloseBranch(); }
    bool OffersStreamConfig() const override { return streamConfig_; }
    std::vector<TGstCapsRef> MediaTypeCaps() override {
        return capture_ ? capture_->FormatList() : std::vector<TGstCapsRef>{};
    }

    GstPad* PreparePad(const GstCaps*) override {
        if (queue_) return pad_.get();
        GstElement* queue = MakeGstElement("queue");
        if (!queue) return nullptr;
        gst_bin_add(GST_BIN(bin_.get()), queue);
        teePad_.reset(gst_element_request_pad_simple(tee_.get(), "src_%u"));
        TGstRef<GstPad> qsink(gst_element_get_static_pad(queue, "sink"));
        TGstRef<GstPad> qsrc(gst_element_get_static_pad(queue, "src"));
        if (!teePad_ || gst_pad_link(teePad_.get(), qsink.get()) != GST_PAD_LINK_OK ||
            !gst_ghost_pad_set_target(GST_GHOST_PAD(pad_.get()), qsrc.get())) {
            queue_ = queue;
            CloseBranch();
            return nullptr;
        }
        queue_ = queue;
        gst_element_sync_state_with_parent(queue_);
        return pad_.get();
    }
    void UnpreparePad() override { CloseBranch(); }

  private:
    void CloseBranch() {
        gst_ghost_pad_set_target(GST_GHOST_PAD(pad_.get()), nullptr);
        if (queue_) {
            gst_element_set_state(queue_, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(bin_.get()), queue_);
            queue_ = nullptr;
        }
        if (teePad_) {
            gst_element_release_request_pad(tee_.get(), teePad_.get());
            teePad_.reset();
        }
    }

    TGstCaptureFilter* capture_; // cleared when the filter goes first
    bool streamConfig_;
    TGstRef<GstElement> tee_;
    TGstRef<GstElement> bin_;     // the filter's bin, kept while the pin lives
    GstElement* queue_ = nullptr; // in bin_
    TGstRef<GstPad> teePad_;
};

// An input line of an audio device: nothing links to it; it only switches.
class TGstLinePin : public TGstPin {
  public:
    TGstLinePin(TGstFilter* owner, const std::string& name, TGstInputLines* lines, size_t index)
        : TGstPin(owner, name, PINDIR_INPUT, GUID_NULL), lines_(lines), index_(index) {}

    TGstCapsRef Caps() override { return TGstCapsRef(gst_caps_new_empty()); }
    HRESULT put_Enable(BOOL enable) override {
        if (!lines_) return E_UNEXPECTED;
        return lines_->SetEnabled(index_, enable != 0) ? S_OK : E_FAIL;
    }
    HRESULT get_Enable(BOOL* enabled) override {
        if (!enabled) return E_POINTER;
        if (!lines_) return E_UNEXPECTED;
        *enabled = lines_->Enabled(index_) ? -1 : 0;
        return S_OK;
    }
    void Orphan() override {
        lines_ = nullptr;
        TGstPin::Orphan();
    }

  protected:
    bool OffersInputMixer() const override { return true; }
    GstPad* PreparePad(const GstCaps*) override { return nullptr; }

  private:
    TGstInputLines* lines_; // owned by the filter; cleared when it goes first
    size_t index_;
};

TGstCaptureFilter::TGstCaptureFilter(TGstCaptureSetup setup)
    : TGstFilter(setup.Video ? CLSID_GstVideoCapture : CLSID_GstAudioCapture, nullptr),
      source_(setup.Source), formats_(std::move(setup.Formats)), lines_(std::move(setup.Lines)) {
    if (!source_) throw EMediaResult(VFW_E_NO_CAPTURE_HARDWARE, "No capture source.");
    capsFilter_ = RequireGstElement("capsfilter");
    tee_ = RequireGstElement("tee");
    // An unrendered output (an audio device during a preview) must not stop
    // the source with "not linked".
    g_object_set(tee_, "allow-not-linked", TRUE, nullptr);
    if (setup.DefaultFormat) g_object_set(capsFilter_, "caps", setup.DefaultFormat.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin_.get()), source_, capsFilter_, tee_, nullptr);
    gst_element_link_many(source_, capsFilter_, tee_, nullptr);

    AddPin(MakeComObject<TGstCapturePin>(this, "Capture", PIN_CATEGORY_CAPTURE, true));
    if (setup.Video)
        AddPin(MakeComObject<TGstCapturePin>(this, "Preview", PIN_CATEGORY_PREVIEW, false));
    if (lines_) {
        auto names = lines_->Names();
        for (size_t i = 0; i < names.size(); ++i)
            AddPin(MakeComObject<TGstLinePin>(this, names[i], lines_.get(), i));
    }
}

TGstCaptureFilter::~TGstCaptureFilter() {
    // Pins may outlive the filter in a caller's hands: cut them loose first.
    for (auto& pin : pins_)
        pin->Orphan();
    if (sideTap_) sideTap_->Close();
}

HRESULT TGstCaptureFilter::GetSideTap(ISideTap** tap) {
    if (!tap) return E_POINTER;
    *tap = nullptr;
    if (!sideTap_) sideTap_ = TGstSideTap::Open(bin_.get(), tee_);
    if (!sideTap_) return E_FAIL;
    *tap = sideTap_.Get();
    sideTap_->AddRef();
    return S_OK;
}

HRESULT TGstCaptureFilter::QueryOtherInterface(REFIID iid, void** out) {
    if (iid != ISideTapSource::Iid) return TGstFilter::QueryOtherInterface(iid, out);
    AddRef();
    *out = static_cast<ISideTapSource*>(this);
    return S_OK;
}

TGstCapsRef TGstCaptureFilter::CurrentFormat() const {
    GstCaps* caps = nullptr;
    g_object_get(capsFilter_, "caps", &caps, nullptr);
    return TGstCapsRef(caps ? caps : gst_caps_new_any());
}

HRESULT TGstCaptureFilter::ApplyFormat(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return VFW_E_INVALIDMEDIATYPE;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(bin_.get(), &state, nullptr, 0);
    if (state > GST_STATE_READY) return VFW_E_NOT_STOPPED;
    TGstRef<GstPad> srcPad(gst_element_get_static_pad(source_, "src"));
    TGstCapsRef possible(gst_pad_query_caps(srcPad.get(), nullptr));
    if (!gst_caps_can_intersect(possible.get(), caps)) return VFW_E_INVALIDMEDIATYPE;
    // Links already made keep their converters; the new caps are negotiated
    // when the graph runs.
    g_object_set(capsFilter_, "caps", caps, nullptr);
    return S_OK;
}

std::vector<TGstCapsRef> TGstCaptureFilter::FormatList() const {
    std::vector<TGstCapsRef> out;
    for (const auto& f : formats_)
        out.push_back(CopyCaps(f.get()));
    return out;
}
