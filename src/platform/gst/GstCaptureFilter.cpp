#include "platform/gst/GstCaptureFilter.h"

#include "platform/MediaResults.h"
#include "platform/gst/GstAlsaMixer.h"
#include "platform/gst/GstMediaType.h"

#include <array>
#include <atomic>
#include <chrono>

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

bool IsRawOrAudio(const GstCaps* caps) {
    return DecoderFor(caps).empty();
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
          streamConfig_(streamConfig), bin_(GST_ELEMENT(gst_object_ref(owner->Element()))) {}

    TGstCapsRef Caps() override {
        return capture_ ? capture_->CurrentFormat() : TGstCapsRef(gst_caps_new_empty());
    }

    HRESULT SetFormat(const AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        if (!capture_) return E_UNEXPECTED;
        // The listed format the record came from keeps its exact rate.
        TGstCapsRef caps = MatchListedCaps(*type, capture_->formats_);
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
    TGstCapsRef DecodedCaps() override {
        return capture_ && !IsRawOrAudio(capture_->CurrentFormat().get()) ? capture_->RawFormat()
                                                                          : nullptr;
    }
    std::vector<TGstCapsRef> MediaTypeCaps() override {
        return capture_ ? capture_->FormatList() : std::vector<TGstCapsRef>{};
    }

    GstPad* PreparePad(const GstCaps* stream) override {
        if (queue_) return pad_.get();
        if (!capture_) return nullptr;
        GstElement* queue = MakeGstElement("queue");
        if (!queue) return nullptr;
        gst_bin_add(GST_BIN(bin_.get()), queue);
        tee_.reset(GST_ELEMENT(gst_object_ref(capture_->TeeFor(stream))));
        if (tee_.get() == capture_->rawTee_) {
            decoded_ = true;
            ++capture_->rawBranches_;
        }
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
        tee_.reset();
        if (std::exchange(decoded_, false) && capture_) --capture_->rawBranches_;
    }

    TGstCaptureFilter* capture_; // cleared when the filter goes first
    bool streamConfig_;
    bool decoded_ = false;        // the branch hangs on the raw tee (counted by the filter)
    TGstRef<GstElement> tee_;     // the tee the branch hangs on
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

// The stall watch: a periodic wait on the system clock (its own thread),
// shared with the callback so that it outlives the filter's last call.
struct TGstCaptureFilter::TWatch {
    TGstRef<GstElement> Bin, Source;
    GstClockID Id = nullptr;
    std::atomic<bool> Closed{false};
    std::atomic<bool> Ended{false};     // end of stream passed: stopping, not lost
    std::atomic<int64_t> LastBuffer{0}; // ms, 0 = none since playing began
    int64_t PlayingSince = 0;           // clock thread only
    bool Reported = false;              // clock thread only

    static GstPadProbeReturn Seen(GstPad*, GstPadProbeInfo* info, gpointer self) {
        auto* w = static_cast<TWatch*>(self);
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) w->Ended = true;
        } else {
            w->LastBuffer = NowMs();
        }
        return GST_PAD_PROBE_OK;
    }

    static gboolean Tick(GstClock*, GstClockTime, GstClockID, gpointer self) {
        static_cast<std::shared_ptr<TWatch>*>(self)->get()->Check();
        return TRUE;
    }

    void Check() {
        if (Closed) return;
        if (GST_STATE(Bin.get()) != GST_STATE_PLAYING) {
            PlayingSince = 0;
            LastBuffer = 0;
            Ended = false;
            Reported = false;
            return;
        }
        const int64_t now = NowMs();
        if (!PlayingSince) PlayingSince = now;
        const int64_t last = LastBuffer;
        const bool stalled = last ? now - last > kStallMs : now - PlayingSince > kFirstBufferMs;
        if (!stalled || Ended || Reported) return;
        Reported = true;
        GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                            "The device stopped delivering.");
        gst_element_post_message(Source.get(),
                                 gst_message_new_error(GST_OBJECT(Source.get()), error,
                                                       last ? "no buffer since the last one"
                                                            : "no buffer since the start"));
        g_error_free(error);
    }
};

TGstCaptureFilter::TGstCaptureFilter(TGstCaptureSetup setup)
    : TGstFilter(setup.Video ? CLSID_GstVideoCapture : CLSID_GstAudioCapture, nullptr),
      source_(setup.Source), formats_(std::move(setup.Formats)), lines_(std::move(setup.Lines)),
      deviceCaps_(std::move(setup.DeviceCaps)), deviceName_(std::move(setup.DeviceName)) {
    if (!source_) throw EMediaResult(VFW_E_NO_CAPTURE_HARDWARE, "No capture source.");
    capsFilter_ = RequireGstElement("capsfilter");
    tee_ = rawTee_ = RequireGstElement("tee");
    // An unrendered output (an audio device during a preview) must not stop
    // the source with "not linked".
    g_object_set(tee_, "allow-not-linked", TRUE, nullptr);
    if (setup.DefaultFormat) g_object_set(capsFilter_, "caps", setup.DefaultFormat.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin_.get()), source_, capsFilter_, tee_, nullptr);
    gst_element_link_many(source_, capsFilter_, tee_, nullptr);
    if (!SetDecoder(setup.DefaultFormat.get()))
        throw EMediaResult(E_MISSING_COMPONENT, "No decoder.");
    StartWatch();

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
    if (watch_) {
        watch_->Closed = true;
        gst_clock_id_unschedule(watch_->Id);
        gst_clock_id_unref(watch_->Id);
    }
    // Pins may outlive the filter in a caller's hands: cut them loose first.
    for (auto& pin : pins_)
        pin->Orphan();
    if (sideTap_) sideTap_->Close();
}

void TGstCaptureFilter::StartWatch() {
    auto watch = std::make_shared<TWatch>();
    watch->Bin.reset(GST_ELEMENT(gst_object_ref(bin_.get())));
    watch->Source.reset(GST_ELEMENT(gst_object_ref(source_)));
    TGstRef<GstPad> pad(gst_element_get_static_pad(capsFilter_, "src"));
    gst_pad_add_probe(pad.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &TWatch::Seen, watch.get(), nullptr);
    TGstRef<GstClock> clock(gst_system_clock_obtain());
    watch->Id =
        gst_clock_new_periodic_id(clock.get(), gst_clock_get_time(clock.get()), 250 * GST_MSECOND);
    gst_clock_id_wait_async(watch->Id, &TWatch::Tick, new std::shared_ptr<TWatch>(watch),
                            [](gpointer p) { delete static_cast<std::shared_ptr<TWatch>*>(p); });
    watch_ = std::move(watch);
}

bool TGstCaptureFilter::SetDecoder(const GstCaps* caps) {
    const std::vector<const char*>& factories = DecoderFor(caps);
    std::vector<GstElement*> made;
    for (const char* f : factories) {
        GstElement* e = MakeGstElement(f);
        if (!e) {
            for (GstElement* m : made)
                gst_object_unref(gst_object_ref_sink(m));
            return false;
        }
        made.push_back(e);
    }
    // The old decoder goes, and the raw tee with it.
    if (rawTee_ != tee_) {
        for (GstElement* e : decoder_) {
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(bin_.get()), e);
        }
        gst_element_set_state(rawTee_, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(bin_.get()), rawTee_);
        decoder_.clear();
        rawTee_ = tee_;
    }
    if (made.empty()) return true;
    GstElement* queue = MakeGstElement("queue");
    GstElement* tee = MakeGstElement("tee");
    if (!queue || !tee) {
        for (GstElement* m : made)
            gst_object_unref(gst_object_ref_sink(m));
        if (queue) gst_object_unref(gst_object_ref_sink(queue));
        if (tee) gst_object_unref(gst_object_ref_sink(tee));
        return false;
    }
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    // A couple of frames between the device and the decoder; the device is
    // never held up by a slow decode.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 4u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
    decoder_.push_back(queue);
    decoder_.insert(decoder_.end(), made.begin(), made.end());
    GstElement* prev = tee_;
    for (GstElement* e : decoder_) {
        gst_bin_add(GST_BIN(bin_.get()), e);
        if (prev == tee_) {
            TGstRef<GstPad> from(gst_element_request_pad_simple(tee_, "src_%u"));
            TGstRef<GstPad> to(gst_element_get_static_pad(e, "sink"));
            gst_pad_link(from.get(), to.get());
        } else {
            gst_element_link(prev, e);
        }
        prev = e;
    }
    gst_bin_add(GST_BIN(bin_.get()), tee);
    gst_element_link(prev, tee);
    rawTee_ = tee;
    // Nothing raw-linked: the compressed frames are not decoded at all.
    TGstRef<GstPad> queueSink(gst_element_get_static_pad(queue, "sink"));
    gst_pad_add_probe(
        queueSink.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer tee) {
            GST_OBJECT_LOCK(tee);
            const bool linked = GST_ELEMENT(tee)->numsrcpads > 0;
            GST_OBJECT_UNLOCK(tee);
            return linked ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
        },
        rawTee_, nullptr);
    for (GstElement* e : decoder_)
        gst_element_sync_state_with_parent(e);
    gst_element_sync_state_with_parent(rawTee_);
    return true;
}

GstElement* TGstCaptureFilter::TeeFor(const GstCaps* stream) const {
    return stream && !IsRawOrAudio(stream) ? tee_ : rawTee_;
}

HRESULT TGstCaptureFilter::GetSideTap(ISideTap** tap) {
    if (!tap) return E_POINTER;
    *tap = nullptr;
    // Side outputs encode raw pictures: the tap hangs behind the decoder.
    if (!sideTap_) sideTap_ = TGstSideTap::Open(bin_.get(), rawTee_);
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

TGstCapsRef TGstCaptureFilter::RawFormat() const {
    TGstCapsRef current = CurrentFormat();
    if (IsRawOrAudio(current.get())) return current;
    GstCaps* raw = gst_caps_new_empty_simple("video/x-raw");
    const GstStructure* s = gst_caps_get_structure(current.get(), 0);
    for (const char* field : {"width", "height", "framerate"})
        if (const GValue* v = gst_structure_get_value(s, field))
            gst_structure_set_value(gst_caps_get_structure(raw, 0), field, v);
    return TGstCapsRef(raw);
}

HRESULT TGstCaptureFilter::Refuse(const GstCaps* caps) {
    SetFormatRefusedText("\"" + (deviceName_.empty() ? std::string("The device") : deviceName_) +
                         "\" cannot capture " + FormatSummary(caps) + ".");
    return E_FORMAT_REFUSED;
}

HRESULT TGstCaptureFilter::ApplyFormat(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return VFW_E_INVALIDMEDIATYPE;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(bin_.get(), &state, nullptr, 0);
    if (state > GST_STATE_READY) return VFW_E_NOT_STOPPED;
    TGstCapsRef possible;
    if (deviceCaps_) {
        possible.reset(gst_caps_ref(deviceCaps_.get()));
    } else {
        // A pad in NULL state answers with its template: the source must
        // have opened the device to tell what it can do.
        const GstState before = GST_STATE(source_);
        if (before == GST_STATE_NULL &&
            gst_element_set_state(source_, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(source_, GST_STATE_NULL);
            return Refuse(caps);
        }
        TGstRef<GstPad> srcPad(gst_element_get_static_pad(source_, "src"));
        possible.reset(gst_pad_query_caps(srcPad.get(), nullptr));
        if (before == GST_STATE_NULL) gst_element_set_state(source_, GST_STATE_NULL);
    }
    if (!possible || !gst_caps_can_intersect(possible.get(), caps)) return Refuse(caps);
    const bool sameDecoder = DecoderFor(caps) == DecoderFor(CurrentFormat().get());
    if (!sameDecoder) {
        if (rawBranches_ > 0 || sideTap_) return VFW_E_NOT_STOPPED;
        if (!SetDecoder(caps)) return E_MISSING_COMPONENT;
    }
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
