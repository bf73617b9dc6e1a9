#include "platform/gst/GstAsfWriter.h"

#include "platform/ClassRegistry.h"
#include "platform/MediaResults.h"
#include "platform/gst/GstMediaType.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video-event.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <unistd.h>

// The profile a new writer starts with, until it is configured.
static const GUID& kDefaultProfile = WMProfile_V80_256Video;

// One input pin: audio or video of the current profile. Connecting it builds
// its encoder chain; disconnecting takes the chain down.
class TGstAsfInputPin : public TGstPin {
  public:
    TGstAsfInputPin(TGstAsfWriter* owner, const char* name, bool audio, GstCaps* caps)
        : TGstPin(owner, name, PINDIR_INPUT, GUID_NULL), writer_(owner), audio_(audio),
          caps_(caps) {}

    TGstCapsRef Caps() override { return TGstCapsRef(gst_caps_ref(caps_.get())); }
    void Orphan() override {
        writer_ = nullptr;
        TGstPin::Orphan();
    }
    bool Audio() const { return audio_; }
    const GstCaps* StreamCaps() const { return caps_.get(); }

    // The encoder chain while connected (elements in the writer's bin).
    std::vector<TGstRef<GstElement>> Chain;
    GstElement* Tee = nullptr; // the last of Chain

  protected:
    GstPad* PreparePad(const GstCaps* stream) override {
        if (!writer_ || !Chain.empty()) return nullptr;
        if (std::strcmp(CapsMediaClass(stream), audio_ ? "audio" : "video") != 0) return nullptr;
        return writer_->OpenBranch(this) ? pad_.get() : nullptr;
    }
    void UnpreparePad() override {
        if (writer_) writer_->CloseBranch(this);
    }

  private:
    TGstAsfWriter* writer_; // cleared when the writer goes first
    bool audio_;
    TGstCapsRef caps_;
};

struct TAsfAppSinkGlue {
    static GstFlowReturn NewSample(GstAppSink* sink, gpointer self) {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        if (GstBuffer* buffer = gst_sample_get_buffer(sample)) {
            GstMapInfo map;
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                static_cast<TGstAsfWriter*>(self)->StreamData(map.data, map.size);
                gst_buffer_unmap(buffer, &map);
            }
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    static void Eos(GstAppSink*, gpointer self) {
        static_cast<TGstAsfWriter*>(self)->StreamEnded();
    }
    static GstPadProbeReturn Event(GstPad*, GstPadProbeInfo* info, gpointer self) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_STREAM_START)
            static_cast<TGstAsfWriter*>(self)->StreamRestarted();
        return GST_PAD_PROBE_OK;
    }
};

namespace {

GstCaps* ProfileCaps(const TAsfProfile& p, bool audio) {
    if (audio)
        return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout",
                                   G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, p.SampleRate,
                                   "channels", G_TYPE_INT, p.Channels, nullptr);
    // Square pixels, as the players expect of these profiles: the picture is
    // scaled into the profile's frame keeping its shape, and the converter's
    // scaler fills what is left with borders.
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                               p.Width, "height", G_TYPE_INT, p.Height, "framerate",
                               GST_TYPE_FRACTION, p.FrameRateNum, p.FrameRateDen,
                               "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
}

// Packets that fill in about a tenth of a second keep the live delay low
// without much framing overhead.
guint PacketSizeFor(const TAsfProfile& p) {
    return guint(std::clamp(p.TotalBitRate() / 80, 800, 4800));
}

// The multiplexer's data packets (time-stamped, of the packet size; not its
// header or index) with their length field made whole: the padded last
// packet of each file is otherwise misread.
GstPadProbeReturn CompletePacket(GstPad*, GstPadProbeInfo* info, gpointer packetSize) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || gst_buffer_get_size(buffer) != GPOINTER_TO_UINT(packetSize) ||
        !GST_BUFFER_PTS_IS_VALID(buffer) || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER))
        return GST_PAD_PROBE_OK;
    // A copy only when the multiplexer kept a reference of its own.
    buffer = gst_buffer_make_writable(buffer);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
        AsfPacketizer::CompletePacketLength(map.data, map.size);
        gst_buffer_unmap(buffer, &map);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

void DropElement(GstBin* bin, GstElement* e) {
    gst_element_set_state(e, GST_STATE_NULL);
    gst_bin_remove(bin, e);
}

// Whether a file can be created or replaced at path.
bool CanWrite(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return !std::filesystem::is_directory(path, ec) && ::access(path.c_str(), W_OK) == 0;
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (dir.empty()) dir = ".";
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

} // namespace

TGstAsfWriter::TGstAsfWriter()
    : TGstFilter(CLSID_WMAsfWriter, nullptr), profile_(FindAsfProfile(kDefaultProfile)) {
    packetizer_.OnHeader = [this](AsfPacketizer::Bytes header, uint32_t) {
        header_ = std::move(header);
        for (auto& sink : sinks_)
            sink->OnHeader(header_);
    };
    packetizer_.OnPacket = [this](AsfPacketizer::Bytes packet) {
        for (auto& sink : sinks_)
            sink->OnDataUnit(packet);
    };
    MakePins();
}

TGstAsfWriter::~TGstAsfWriter() {
    // Pins call back into this object while they disconnect: undo them while it is whole.
    RemovePins();
    TearDownOutputs();
}

HRESULT TGstAsfWriter::QueryOtherInterface(REFIID iid, void** out) {
    void* found = nullptr;
    if (iid == IAsfArchive::Iid)
        found = static_cast<IAsfArchive*>(this);
    else if (iid == IConfigAsfWriter::Iid || iid == IConfigAsfWriter2::Iid)
        found = static_cast<IConfigAsfWriter2*>(this);
    else if (iid == IFileSinkFilter::Iid)
        found = static_cast<IFileSinkFilter*>(this);
    else if (iid == IServiceProvider::Iid)
        found = static_cast<IServiceProvider*>(this);
    else if (iid == IWMWriterAdvanced::Iid || iid == IWMWriterAdvanced2::Iid)
        found = static_cast<IWMWriterAdvanced2*>(this);
    if (!found) return E_NOINTERFACE;
    AddRef();
    *out = found;
    return S_OK;
}

bool TGstAsfWriter::Running() const {
    GstState state = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(bin_.get(), &state, &pending, 0);
    return state >= GST_STATE_PAUSED || pending >= GST_STATE_PAUSED;
}

// ---------------------------------------------------------------- pins

void TGstAsfWriter::MakePins() {
    // Audio first: players number the streams in this order.
    if (profile_->HasAudio())
        AddPin(MakeComObject<TGstAsfInputPin>(this, "Audio Input 01", true,
                                              ProfileCaps(*profile_, true)));
    if (profile_->HasVideo())
        AddPin(MakeComObject<TGstAsfInputPin>(this, "Video Input 01", false,
                                              ProfileCaps(*profile_, false)));
}

void TGstAsfWriter::RemovePins() {
    for (auto& pin : pins_) {
        pin->Disconnect();
        // A pad taken without a connection (linked by hand) still has its chain.
        CloseBranch(static_cast<TGstAsfInputPin*>(pin.Get()));
        pin->Orphan();
        gst_element_remove_pad(bin_.get(), pin->Pad());
    }
    pins_.clear();
}

bool TGstAsfWriter::OpenBranch(TGstAsfInputPin* pin) {
    const bool audio = pin->Audio();
    std::vector<const char*> factories{"queue", "capsfilter"};
    if (audio) factories.push_back("audiobuffersplit");
    factories.insert(factories.end(), {audio ? "avenc_wmav2" : "avenc_wmv2", "identity", "tee"});
    std::vector<TGstRef<GstElement>> chain;
    for (const char* f : factories) {
        GstElement* e = MakeGstElement(f);
        if (!e) return false;
        chain.emplace_back(GST_ELEMENT(gst_object_ref_sink(e)));
    }
    GstElement* queue = chain[0].get();
    // Capture must never wait for the encoder: a second of backlog is dropped instead.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 guint64(GST_SECOND), nullptr);
    g_object_set(chain[1].get(), "caps", pin->StreamCaps(), nullptr);
    GstElement* encoder = chain[chain.size() - 3].get();
    if (audio) {
        // The WMA encoder crashes on buffers of more than 2048 samples: feed it 20 ms at a time.
        g_object_set(chain[2].get(), "output-buffer-duration", 1, 50, nullptr);
        g_object_set(encoder, "bitrate", profile_->AudioBitRate, nullptr);
    } else {
        // A key frame every two seconds: viewers joining mid-stream see a picture soon.
        const int fps = std::max(1, profile_->FrameRateNum / profile_->FrameRateDen);
        g_object_set(encoder, "bitrate", profile_->VideoBitRate, "gop-size", 2 * fps, nullptr);
    }
    // The video encoder stamps from its own segment start; the multiplexer
    // compares raw times, so both streams go out in running time.
    g_object_set(chain[chain.size() - 2].get(), "single-segment", TRUE, nullptr);

    for (const auto& e : chain)
        gst_bin_add(GST_BIN(bin_.get()), e.get());
    bool linked = true;
    for (size_t i = 0; linked && i + 1 < chain.size(); ++i)
        linked = gst_element_link(chain[i].get(), chain[i + 1].get());
    if (!linked) {
        for (const auto& e : chain)
            DropElement(GST_BIN(bin_.get()), e.get());
        return false;
    }
    TGstRef<GstPad> target(gst_element_get_static_pad(queue, "sink"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(pin->Pad()), target.get());
    pin->Chain = std::move(chain);
    pin->Tee = pin->Chain.back().get();
    if (!RebuildOutputs()) {
        CloseBranch(pin);
        return false;
    }
    for (const auto& e : pin->Chain)
        gst_element_sync_state_with_parent(e.get());
    return true;
}

void TGstAsfWriter::CloseBranch(TGstAsfInputPin* pin) {
    if (pin->Chain.empty()) return;
    TearDownOutputs();
    gst_ghost_pad_set_target(GST_GHOST_PAD(pin->Pad()), nullptr);
    for (const auto& e : pin->Chain)
        DropElement(GST_BIN(bin_.get()), e.get());
    pin->Chain.clear();
    pin->Tee = nullptr;
    RebuildOutputs();
}

// ---------------------------------------------------------------- outputs

GstElement* TGstAsfWriter::AddMuxChain(bool streamable, GstElement* sink, TOutputChain& chain,
                                       bool live) {
    GstElement* mux = MakeGstElement("asfmux");
    if (!mux || !sink) {
        if (mux) gst_object_unref(gst_object_ref_sink(mux));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        return nullptr;
    }
    g_object_set(mux, "streamable", streamable, "packet-size", PacketSizeFor(*profile_), nullptr);
    for (GstElement* e : {mux, sink}) {
        gst_bin_add(GST_BIN(bin_.get()), e);
        chain.Elements.emplace_back(GST_ELEMENT(gst_object_ref(e)));
    }
    gst_element_link(mux, sink);
    TGstRef<GstPad> muxOut(gst_element_get_static_pad(mux, "src"));
    gst_pad_add_probe(muxOut.get(), GST_PAD_PROBE_TYPE_BUFFER, &CompletePacket,
                      GUINT_TO_POINTER(PacketSizeFor(*profile_)), nullptr);
    // Every connected input, audio first, into the multiplexer through a queue.
    std::vector<std::pair<GstElement*, GstElement*>> feeds; // tee, queue
    for (auto& p : pins_) {
        auto* pin = static_cast<TGstAsfInputPin*>(p.Get());
        if (!pin->Tee) continue;
        GstElement* queue = MakeGstElement("queue");
        if (!queue) continue;
        if (!streamable) {
            // A slow disk must not hold the live stream back.
            g_object_set(queue, "leaky", 2, "max-size-buffers", 0u, "max-size-bytes", 0u,
                         "max-size-time", guint64(3 * GST_SECOND), nullptr);
        }
        gst_bin_add(GST_BIN(bin_.get()), queue);
        chain.Elements.emplace_back(GST_ELEMENT(gst_object_ref(queue)));
        TGstRef<GstPad> muxPad(
            gst_element_request_pad_simple(mux, pin->Audio() ? "audio_%u" : "video_%u"));
        TGstRef<GstPad> queueSrc(gst_element_get_static_pad(queue, "src"));
        if (muxPad) gst_pad_link(queueSrc.get(), muxPad.get());
        feeds.emplace_back(pin->Tee, queue);
    }
    // A tee pushing into an element that does not play yet would stop the capture.
    if (live)
        for (const auto& e : chain.Elements)
            gst_element_sync_state_with_parent(e.get());
    for (auto [tee, queue] : feeds) {
        GstPad* teePad = gst_element_request_pad_simple(tee, "src_%u");
        if (!teePad) continue;
        chain.TeePads.emplace_back(teePad);
        TGstRef<GstPad> queueSink(gst_element_get_static_pad(queue, "sink"));
        gst_pad_link(teePad, queueSink.get());
    }
    return mux;
}

// Glue of the archive's segments: the clock pad's buffers, the idle tee
// pads of a closing branch, the end held at its file sink.
struct TAsfArchiveGlue {
    struct TClosing {
        TGstAsfWriter* Writer;
        TGstAsfWriter::TOutputChain* Chain;
    };

    static GstPadProbeReturn Buffer(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
        auto* writer = static_cast<TGstAsfWriter*>(self);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const GstClockTime pts = buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
        if (!GST_CLOCK_TIME_IS_VALID(pts)) return GST_PAD_PROBE_OK;
        std::lock_guard lock(writer->archiveLock_);
        const bool video = writer->clockIsVideo_;
        if (writer->segmentDuration_ == 0 || writer->archive_.Elements.empty())
            return GST_PAD_PROBE_OK;
        if (!GST_CLOCK_TIME_IS_VALID(writer->segmentStart_)) writer->segmentStart_ = pts;
        if (pts < writer->segmentStart_ + writer->segmentDuration_) return GST_PAD_PROBE_OK;
        if (video && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) {
            // The next file must begin with a picture of its own.
            if (!writer->keyAsked_)
                gst_pad_push_event(
                    pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
            writer->keyAsked_ = true;
            return GST_PAD_PROBE_OK;
        }
        writer->RotateArchive();
        writer->segmentStart_ = pts;
        writer->keyAsked_ = false;
        return GST_PAD_PROBE_OK;
    }

    // Runs while the tee pad pushes nothing: its old queue gets the end.
    static GstPadProbeReturn Idle(GstPad* teePad, GstPadProbeInfo*, gpointer) {
        if (TGstRef<GstPad> peer{gst_pad_get_peer(teePad)}) {
            gst_pad_unlink(teePad, peer.get());
            gst_pad_send_event(peer.get(), gst_event_new_eos());
        }
        return GST_PAD_PROBE_REMOVE;
    }

    static GstPadProbeReturn FileEnd(GstPad*, GstPadProbeInfo* info, gpointer data) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS)
            return GST_PAD_PROBE_OK;
        auto* closing = static_cast<TClosing*>(data);
        closing->Writer->AddRef(); // released when the call is done
        gst_element_call_async(
            closing->Writer->bin_.get(),
            [](GstElement*, gpointer d) {
                auto* c = static_cast<TClosing*>(d);
                c->Writer->FinishClosing(c->Chain);
            },
            new TClosing(*closing),
            [](gpointer d) {
                auto* c = static_cast<TClosing*>(d);
                c->Writer->Release();
                delete c;
            });
        // The pipeline must not take one branch's end for its own.
        return GstPadProbeReturn(GST_PAD_PROBE_DROP | GST_PAD_PROBE_HANDLED);
    }
};

void TGstAsfWriter::RotateArchive() {
    std::error_code ec;
    // Renaming the open file is safe: the old sink keeps writing to it (it
    // may hold nothing yet: its multiplexer writes once it has all streams).
    const std::string kept = RotatedArchiveName(fileName_, ArchiveStartTime(fileName_));
    if (::link(fileName_.c_str(), kept.c_str()) != 0 || ::unlink(fileName_.c_str()) != 0)
        ec.assign(errno, std::generic_category());
    if (ec) {
        if (segmentHandler_)
            segmentHandler_({}, "\"" + fileName_ + "\" could not be kept: " + ec.message() +
                                    "; it goes on growing");
        return;
    }
    auto old = std::make_unique<TOutputChain>(std::move(archive_));
    archive_ = TOutputChain{};
    old->Kept = kept;
    GstElement* filesink = MakeGstElement("filesink");
    if (filesink)
        g_object_set(filesink, "location", fileName_.c_str(), "sync", FALSE, "async", FALSE,
                     nullptr);
    // The old branch's file sink holds its end; then the tees let go of it.
    for (const auto& e : old->Elements)
        if (std::strcmp(G_OBJECT_TYPE_NAME(e.get()), "GstFileSink") == 0) {
            TGstRef<GstPad> in(gst_element_get_static_pad(e.get(), "sink"));
            gst_pad_add_probe(
                in.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &TAsfArchiveGlue::FileEnd,
                new TAsfArchiveGlue::TClosing{this, old.get()},
                [](gpointer d) { delete static_cast<TAsfArchiveGlue::TClosing*>(d); });
        }
    for (const auto& teePad : old->TeePads)
        gst_pad_add_probe(teePad.get(), GST_PAD_PROBE_TYPE_IDLE, &TAsfArchiveGlue::Idle, nullptr,
                          nullptr);
    closing_.push_back(std::move(old));
    AddMuxChain(false, filesink, archive_, true);
}

void TGstAsfWriter::FinishClosing(TOutputChain* chain) {
    std::unique_ptr<TOutputChain> done;
    TSegmentHandler handler;
    TArchiveRetention retention;
    {
        std::lock_guard lock(archiveLock_);
        auto it = std::find_if(closing_.begin(), closing_.end(),
                               [chain](const auto& c) { return c.get() == chain; });
        if (it == closing_.end()) return; // torn down meanwhile
        done = std::move(*it);
        closing_.erase(it);
        handler = segmentHandler_;
        retention = retention_;
    }
    // Its end is in the file once the sink closes it.
    DropChain(GST_BIN(bin_.get()), *done);
    PruneArchives(fileName_, retention);
    if (handler) handler(done->Kept, {});
}

void TGstAsfWriter::DropChain(GstBin* bin, TOutputChain& chain) {
    for (const auto& e : chain.Elements)
        gst_element_set_state(e.get(), GST_STATE_NULL);
    for (const auto& teePad : chain.TeePads) {
        if (TGstRef<GstPad> peer{gst_pad_get_peer(teePad.get())})
            gst_pad_unlink(teePad.get(), peer.get());
        TGstRef<GstElement> tee(gst_pad_get_parent_element(teePad.get()));
        if (tee) gst_element_release_request_pad(tee.get(), teePad.get());
    }
    chain.TeePads.clear();
    for (const auto& e : chain.Elements)
        gst_bin_remove(bin, e.get());
    chain.Elements.clear();
}

bool TGstAsfWriter::RebuildOutputs() {
    TearDownOutputs();
    const bool anyInput = std::any_of(pins_.begin(), pins_.end(), [](const auto& p) {
        return static_cast<TGstAsfInputPin*>(p.Get())->Tee;
    });
    if (!anyInput) return true;
    GstElement* appsink = MakeGstElement("appsink");
    if (appsink) {
        // Packets are taken as they come and never held: the sinks queue per viewer.
        g_object_set(appsink, "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.eos = &TAsfAppSinkGlue::Eos;
        callbacks.new_sample = &TAsfAppSinkGlue::NewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(appsink), &callbacks, this, nullptr);
        TGstRef<GstPad> sinkPad(gst_element_get_static_pad(appsink, "sink"));
        gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                          &TAsfAppSinkGlue::Event, this, nullptr);
    }
    bool complete = AddMuxChain(true, appsink, stream_, false) != nullptr;
    if (!fileName_.empty()) {
        GstElement* filesink = MakeGstElement("filesink");
        if (filesink)
            g_object_set(filesink, "location", fileName_.c_str(), "sync", FALSE, "async", FALSE,
                         nullptr);
        std::lock_guard lock(archiveLock_);
        complete = AddMuxChain(false, filesink, archive_, false) != nullptr && complete;
        segmentStart_ = GST_CLOCK_TIME_NONE;
        keyAsked_ = false;
        // The segments are timed by the video (its key frames begin files), else the audio.
        TGstAsfInputPin* clock = nullptr;
        for (auto& p : pins_) {
            auto* pin = static_cast<TGstAsfInputPin*>(p.Get());
            if (pin->Tee && (!clock || !pin->Audio())) clock = pin;
        }
        if (clock) {
            clockIsVideo_ = !clock->Audio();
            clockPad_.reset(gst_element_get_static_pad(clock->Tee, "sink"));
            clockProbe_ = gst_pad_add_probe(clockPad_.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                            &TAsfArchiveGlue::Buffer, this, nullptr);
        }
    }
    for (TOutputChain* chain : {&stream_, &archive_})
        for (const auto& e : chain->Elements)
            gst_element_sync_state_with_parent(e.get());
    return complete;
}

void TGstAsfWriter::TearDownOutputs() {
    std::vector<std::unique_ptr<TOutputChain>> closing;
    TOutputChain archive;
    {
        std::lock_guard lock(archiveLock_);
        if (clockPad_) gst_pad_remove_probe(clockPad_.get(), clockProbe_);
        clockPad_.reset();
        closing.swap(closing_);
        archive = std::move(archive_);
        archive_ = TOutputChain{};
    }
    GstBin* bin = GST_BIN(bin_.get());
    DropChain(bin, stream_);
    DropChain(bin, archive);
    for (auto& c : closing)
        DropChain(bin, *c);
    std::lock_guard lock(sinksLock_);
    packetizer_.Reset();
    header_.clear();
}

// ---------------------------------------------------------------- stream data

void TGstAsfWriter::StreamData(const uint8_t* data, size_t size) {
    std::lock_guard lock(sinksLock_);
    packetizer_.Feed(data, size);
}

void TGstAsfWriter::StreamEnded() {
    std::lock_guard lock(sinksLock_);
    for (auto& sink : sinks_)
        sink->OnEndWriting();
    packetizer_.Reset();
    header_.clear();
}

void TGstAsfWriter::StreamRestarted() {
    std::lock_guard lock(sinksLock_);
    packetizer_.Reset();
    header_.clear();
}

// ---------------------------------------------------------------- IConfigAsfWriter2

HRESULT TGstAsfWriter::ConfigureFilterUsingProfileGuid(REFGUID profile) {
    const TAsfProfile* p = FindAsfProfile(profile);
    if (!p) return E_INVALIDARG;
    if (Running()) return VFW_E_NOT_STOPPED;
    if (p == profile_) return S_OK;
    RemovePins();
    profile_ = p;
    MakePins();
    return S_OK;
}

HRESULT TGstAsfWriter::GetCurrentProfileGuid(GUID* profile) {
    if (!profile) return E_POINTER;
    *profile = profile_->Guid;
    return S_OK;
}

HRESULT TGstAsfWriter::SetIndexMode(BOOL index) {
    return SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, index != 0, 0);
}

HRESULT TGstAsfWriter::GetIndexMode(BOOL* index) {
    if (!index) return E_POINTER;
    *index = autoIndex_;
    return S_OK;
}

HRESULT TGstAsfWriter::SetParam(DWORD param, DWORD value1, DWORD) {
    switch (param) {
    case AM_CONFIGASFWRITER_PARAM_AUTOINDEX:
        autoIndex_ = value1 != 0;
        return S_OK;
    // One live pass of compression is all this writer does.
    case AM_CONFIGASFWRITER_PARAM_MULTIPASS:
        if (value1 != 0) return E_NOTIMPL;
        multiPass_ = false;
        return S_OK;
    case AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS:
        if (value1 != 0) return E_NOTIMPL;
        dontCompress_ = false;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT TGstAsfWriter::GetParam(DWORD param, DWORD* value1, DWORD* value2) {
    if (!value1 || !value2) return E_POINTER;
    *value2 = 0;
    switch (param) {
    case AM_CONFIGASFWRITER_PARAM_AUTOINDEX:
        *value1 = autoIndex_;
        return S_OK;
    case AM_CONFIGASFWRITER_PARAM_MULTIPASS:
        *value1 = multiPass_;
        return S_OK;
    case AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS:
        *value1 = dontCompress_;
        return S_OK;
    default:
        *value1 = 0;
        return E_INVALIDARG;
    }
}

// ---------------------------------------------------------------- IFileSinkFilter

HRESULT TGstAsfWriter::SetFileName(const std::string& fileName, const AM_MEDIA_TYPE*) {
    if (fileName.empty()) return E_INVALIDARG;
    if (Running()) return VFW_E_NOT_STOPPED;
    if (!CanWrite(fileName)) return E_ACCESSDENIED;
    fileName_ = fileName;
    return RebuildOutputs() ? S_OK : E_MISSING_COMPONENT;
}

HRESULT TGstAsfWriter::GetCurFile(std::string& fileName, AM_MEDIA_TYPE* type) {
    fileName = fileName_;
    if (type) {
        *type = AM_MEDIA_TYPE{};
        type->majortype = MEDIATYPE_Stream;
        type->formattype = FORMAT_None;
    }
    return S_OK;
}

// ---------------------------------------------------------------- IAsfArchive

HRESULT TGstAsfWriter::SetSegmentDuration(REFERENCE_TIME duration) {
    if (duration < 0) return E_INVALIDARG;
    std::lock_guard lock(archiveLock_);
    segmentDuration_ = GstClockTime(duration) * 100;
    return S_OK;
}

HRESULT TGstAsfWriter::SetRetention(const TArchiveRetention& retention) {
    std::lock_guard lock(archiveLock_);
    retention_ = retention;
    return S_OK;
}

HRESULT TGstAsfWriter::SetSegmentHandler(TSegmentHandler handler) {
    std::lock_guard lock(archiveLock_);
    segmentHandler_ = std::move(handler);
    return S_OK;
}

// ---------------------------------------------------------------- IServiceProvider /
// IWMWriterAdvanced

HRESULT TGstAsfWriter::QueryService(REFGUID service, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (service != IWMWriterAdvanced2::Iid && service != IWMWriterAdvanced::Iid)
        return E_NOINTERFACE;
    return QueryInterface(iid, out);
}

HRESULT TGstAsfWriter::GetSinkCount(DWORD* count) {
    if (!count) return E_POINTER;
    std::lock_guard lock(sinksLock_);
    *count = DWORD(sinks_.size());
    return S_OK;
}

HRESULT TGstAsfWriter::GetSink(DWORD index, IWMWriterSink** sink) {
    if (!sink) return E_POINTER;
    *sink = nullptr;
    std::lock_guard lock(sinksLock_);
    if (index >= sinks_.size()) return E_INVALIDARG;
    return sinks_[index].CopyTo(sink);
}

HRESULT TGstAsfWriter::AddSink(IWMWriterSink* sink) {
    if (!sink) return E_POINTER;
    std::lock_guard lock(sinksLock_);
    if (std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.Get() == sink; }))
        return E_INVALIDARG;
    sinks_.emplace_back(sink);
    // A sink added while the stream runs starts from its header.
    if (!header_.empty()) sink->OnHeader(header_);
    return S_OK;
}

HRESULT TGstAsfWriter::RemoveSink(IWMWriterSink* sink) {
    if (!sink) return E_POINTER;
    std::lock_guard lock(sinksLock_);
    auto it =
        std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.Get() == sink; });
    if (it == sinks_.end()) return E_INVALIDARG;
    sinks_.erase(it);
    return S_OK;
}

HRESULT TGstAsfWriter::IsRealTime(BOOL* realTime) {
    if (!realTime) return E_POINTER;
    *realTime = TRUE;
    return S_OK;
}

void RegisterAsfWriter() {
    RegisterClassFactory(CLSID_WMAsfWriter, MakeClassFactory<TGstAsfWriter>());
}
