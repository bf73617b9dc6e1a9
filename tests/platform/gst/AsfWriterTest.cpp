// The ASF writer filter on its own: pins per profile, every profile encoding
// what it promises, the WMA encoder fed oversized buffers, the sink and
// configuration interfaces, and what may not change while it runs.
#include "BroadcastTestSupport.h"
#include "platform/AsfProfiles.h"
#include "platform/gst/GstFilter.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace gsttest;

namespace {

class TCollectSink : public TComObject<IWMWriterSink> {
  public:
    HRESULT OnHeader(std::span<const uint8_t> header) override {
        std::lock_guard g(lock);
        ++headers;
        lastHeader.assign(header.begin(), header.end());
        return S_OK;
    }
    HRESULT IsRealTime(BOOL* r) override {
        *r = 1;
        return S_OK;
    }
    HRESULT OnDataUnit(std::span<const uint8_t> packet) override {
        std::lock_guard g(lock);
        ++packets;
        packetSize = packet.size();
        return S_OK;
    }
    HRESULT OnEndWriting() override {
        std::lock_guard g(lock);
        ended = true;
        return S_OK;
    }
    std::mutex lock; // guards the fields below
    int headers = 0;
    size_t packets = 0, packetSize = 0;
    bool ended = false;
    std::vector<uint8_t> lastHeader;
};

// The writer's bin in a pipeline of its own, its pins fed by test sources.
struct TWriterRig {
    ComPtr<IBaseFilter> writer;
    ComPtr<IConfigAsfWriter2> config;
    ComPtr<IWMWriterAdvanced2> advanced;
    GstElement* pipeline;

    TWriterRig() {
        bcasttest::RegisterBroadcastClasses();
        EXPECT_EQ(S_OK, CreateInstance(CLSID_WMAsfWriter, writer));
        config = writer.Query<IConfigAsfWriter2>();
        advanced = writer.Query<IWMWriterAdvanced2>();
        pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)));
        gst_bin_add(GST_BIN(pipeline), writer.Query<IGstFilter>()->Element());
    }
    ~TWriterRig() {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        writer.Reset();
        gst_object_unref(pipeline);
    }
    std::vector<ComPtr<IPin>> Pins() {
        std::vector<ComPtr<IPin>> pins;
        ComPtr<IEnumPins> e;
        writer->EnumPins(e.Put());
        ComPtr<IPin> p;
        while (e->Next(1, p.Put(), nullptr) == S_OK)
            pins.push_back(p);
        return pins;
    }
    // Links a source description to a pin, as a connection would.
    bool Feed(IPin* pin, const std::string& description, const char* kind) {
        GError* error = nullptr;
        GstElement* source = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
        if (!source) return false;
        gst_bin_add(GST_BIN(pipeline), source);
        TGstCapsRef caps(gst_caps_new_empty_simple(kind));
        GstPad* in = QueryAs<IGstPin>(pin)->AcquirePad(caps.get());
        TGstRef<GstPad> out(gst_element_get_static_pad(source, "src"));
        return in && gst_pad_link(out.get(), in) == GST_PAD_LINK_OK;
    }
    // Plays until the end of the sources; false on an error or time-out.
    bool RunToEnd(int timeoutMs = 20000) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        TGstRef<GstBus> bus(gst_element_get_bus(pipeline));
        TGstMessageRef m(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(timeoutMs) * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        return m && GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_EOS;
    }
};

std::string PinName(IPin* pin) {
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    FreePinInfo(info);
    return info.achName;
}

} // namespace

TEST(AsfWriter, PinsFollowTheProfileAudioFirst) {
    TWriterRig rig;
    ASSERT_EQ(27u, AsfProfiles().size());
    for (const auto& p : AsfProfiles()) {
        SCOPED_TRACE(p.Name);
        ASSERT_EQ(S_OK, rig.config->ConfigureFilterUsingProfileGuid(p.Guid));
        GUID current{};
        rig.config->GetCurrentProfileGuid(&current);
        EXPECT_EQ(p.Guid, current);
        auto pins = rig.Pins();
        ASSERT_EQ(size_t(p.HasAudio()) + size_t(p.HasVideo()), pins.size());
        if (p.HasAudio()) {
            EXPECT_EQ("Audio Input 01", PinName(pins.front().Get()));
        }
        if (p.HasVideo()) {
            EXPECT_EQ("Video Input 01", PinName(pins.back().Get()));
        }
        for (auto& pin : pins) {
            PIN_DIRECTION dir = PINDIR_OUTPUT;
            pin->QueryDirection(&dir);
            EXPECT_EQ(PINDIR_INPUT, dir);
        }
    }
    GUID before{};
    rig.config->GetCurrentProfileGuid(&before);
    EXPECT_EQ(E_INVALIDARG, rig.config->ConfigureFilterUsingProfileGuid(CLSID_VideoRenderer));
    GUID after{};
    rig.config->GetCurrentProfileGuid(&after);
    EXPECT_EQ(before, after);
}

TEST(AsfWriter, EveryProfileEncodesStreamAndArchive) {
    TScratchDir dir;
    for (const auto& p : AsfProfiles()) {
        SCOPED_TRACE(p.Name);
        TWriterRig rig;
        ASSERT_EQ(S_OK, rig.config->ConfigureFilterUsingProfileGuid(p.Guid));
        const std::string file = dir.File(std::string(p.Name) + ".asf");
        ASSERT_EQ(S_OK, rig.writer.Query<IFileSinkFilter>()->SetFileName(file, nullptr));
        auto sink = MakeComObject<TCollectSink>();
        ASSERT_EQ(S_OK, rig.advanced->AddSink(sink.Get()));
        auto pins = rig.Pins();
        size_t i = 0;
        if (p.HasAudio()) {
            ASSERT_TRUE(rig.Feed(pins[i++].Get(),
                                 "audiotestsrc num-buffers=12 ! audioconvert ! audioresample",
                                 "audio/x-raw"));
        }
        if (p.HasVideo()) {
            ASSERT_TRUE(rig.Feed(
                pins[i++].Get(),
                "videotestsrc num-buffers=10 ! video/x-raw,width=320,height=240,framerate=30/1 ! "
                "videorate ! videoscale ! videoconvert",
                "video/x-raw"));
        }
        ASSERT_TRUE(rig.RunToEnd());
        {
            std::lock_guard g(sink->lock);
            EXPECT_EQ(1, sink->headers);
            EXPECT_GT(sink->packets, 0u);
            EXPECT_TRUE(sink->ended);
        }
        const std::string probe = Probe(file);
        if (p.HasVideo()) {
            EXPECT_NE(std::string::npos, probe.find("codec_name=wmv2")) << probe;
            EXPECT_NE(std::string::npos, probe.find("width=" + std::to_string(p.Width) + "\n"))
                << probe;
            EXPECT_NE(std::string::npos, probe.find("height=" + std::to_string(p.Height) + "\n"))
                << probe;
        } else {
            EXPECT_EQ(std::string::npos, probe.find("codec_type=video")) << probe;
        }
        if (p.HasAudio()) {
            EXPECT_NE(std::string::npos, probe.find("codec_name=wmav2")) << probe;
            EXPECT_NE(std::string::npos, probe.find("sample_rate=" + std::to_string(p.SampleRate)))
                << probe;
            EXPECT_NE(std::string::npos, probe.find("channels=" + std::to_string(p.Channels)))
                << probe;
        } else {
            EXPECT_EQ(std::string::npos, probe.find("codec_type=audio")) << probe;
        }
    }
}

// The WMA encoder crashes on buffers of more than 2048 samples; the writer
// must cut them, whatever the source delivers.
TEST(AsfWriter, AudioBuffersOfMoreThan2048SamplesAreEncoded) {
    TScratchDir dir;
    TWriterRig rig;
    ASSERT_EQ(S_OK, rig.config->ConfigureFilterUsingProfileGuid(WMProfile_V80_56Video));
    ASSERT_EQ(S_OK,
              rig.writer.Query<IFileSinkFilter>()->SetFileName(dir.File("tone.asf"), nullptr));
    auto sink = MakeComObject<TCollectSink>();
    rig.advanced->AddSink(sink.Get());
    ASSERT_TRUE(
        rig.Feed(rig.Pins()[0].Get(),
                 "audiotestsrc is-live=true num-buffers=30 samplesperbuffer=2205 ! capsfilter "
                 "caps=audio/x-raw,format=F32LE,rate=22050,channels=1",
                 "audio/x-raw"));
    ASSERT_TRUE(rig.RunToEnd());
    std::lock_guard g(sink->lock);
    EXPECT_GT(sink->packets, 10u);
    const std::string probe = Probe(dir.File("tone.asf"));
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmav2")) << probe;
    EXPECT_GT(ProbeDuration(probe), 2.5) << probe; // 30 buffers of 0.1 s, none lost
}

TEST(AsfWriter, SinksAreListedAndReachedThroughTheServiceProvider) {
    TWriterRig rig;
    auto provider = rig.writer.Query<IServiceProvider>();
    ASSERT_TRUE(provider);
    ComPtr<IWMWriterAdvanced2> advanced;
    ASSERT_EQ(S_OK, provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2,
                                           advanced.PutVoid()));
    EXPECT_EQ(rig.advanced.Get(), advanced.Get());
    ComPtr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE,
              provider->QueryService(IID_IFileSinkFilter, IID_IFileSinkFilter, none.PutVoid()));

    auto a = MakeComObject<TCollectSink>(), b = MakeComObject<TCollectSink>();
    EXPECT_EQ(E_POINTER, advanced->AddSink(nullptr));
    EXPECT_EQ(S_OK, advanced->AddSink(a.Get()));
    EXPECT_EQ(E_INVALIDARG, advanced->AddSink(a.Get()));
    EXPECT_EQ(S_OK, advanced->AddSink(b.Get()));
    DWORD count = 0;
    advanced->GetSinkCount(&count);
    EXPECT_EQ(2u, count);
    ComPtr<IWMWriterSink> second;
    ASSERT_EQ(S_OK, advanced->GetSink(1, second.Put()));
    EXPECT_EQ(static_cast<IWMWriterSink*>(b.Get()), second.Get());
    EXPECT_EQ(E_INVALIDARG, advanced->GetSink(2, second.Put()));
    EXPECT_EQ(S_OK, advanced->RemoveSink(a.Get()));
    EXPECT_EQ(E_INVALIDARG, advanced->RemoveSink(a.Get()));
    advanced->GetSinkCount(&count);
    EXPECT_EQ(1u, count);
}

TEST(AsfWriter, ParametersAndFileName) {
    TScratchDir dir;
    TWriterRig rig;
    DWORD v1 = 9, v2 = 9;
    EXPECT_EQ(S_OK, rig.config->GetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, &v1, &v2));
    EXPECT_EQ(1u, v1);
    EXPECT_EQ(S_OK, rig.config->SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, 0, 0));
    rig.config->GetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, &v1, &v2);
    EXPECT_EQ(0u, v1);
    // What the writer cannot do is refused, not pretended.
    EXPECT_EQ(S_OK, rig.config->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, 0, 0));
    EXPECT_TRUE(FAILED(rig.config->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, 1, 0)));
    EXPECT_TRUE(FAILED(rig.config->SetParam(AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS, 1, 0)));
    EXPECT_EQ(E_INVALIDARG, rig.config->SetParam(42, 1, 0));

    auto file = rig.writer.Query<IFileSinkFilter>();
    std::string name = "x";
    file->GetCurFile(name, nullptr);
    EXPECT_EQ("", name);
    EXPECT_EQ(E_INVALIDARG, file->SetFileName("", nullptr));
    EXPECT_EQ(S_OK, file->SetFileName(dir.File("a.asf"), nullptr));
    EXPECT_EQ(E_ACCESSDENIED, file->SetFileName("/proc/no-such-dir/b.asf", nullptr));
    file->GetCurFile(name, nullptr);
    EXPECT_EQ(dir.File("a.asf"), name);
}

TEST(AsfWriter, ProfileAndFileStayWhileRunning) {
    TScratchDir dir;
    TWriterRig rig;
    ASSERT_EQ(S_OK, rig.config->ConfigureFilterUsingProfileGuid(WMProfile_V80_56VideoOnly));
    ASSERT_TRUE(
        rig.Feed(rig.Pins()[0].Get(), "videotestsrc is-live=true ! videoconvert", "video/x-raw"));
    gst_element_set_state(rig.pipeline, GST_STATE_PLAYING);
    gst_element_get_state(rig.pipeline, nullptr, nullptr, 5 * GST_SECOND);
    EXPECT_EQ(VFW_E_NOT_STOPPED,
              rig.config->ConfigureFilterUsingProfileGuid(WMProfile_V80_56Video));
    EXPECT_EQ(VFW_E_NOT_STOPPED,
              rig.writer.Query<IFileSinkFilter>()->SetFileName(dir.File("c.asf"), nullptr));
    GUID current{};
    rig.config->GetCurrentProfileGuid(&current);
    EXPECT_EQ(WMProfile_V80_56VideoOnly, current);
    EXPECT_EQ(1u, rig.Pins().size());
}

// A long broadcast's archive in segments: each finished file is kept under
// its start with its own index and duration, begins with a key frame, and
// the live stream goes on without a new header.
TEST(AsfWriter, TheArchiveIsClosedAndKeptEverySegmentWhileTheStreamGoesOn) {
    TScratchDir dir;
    TWriterRig rig;
    ASSERT_EQ(S_OK, rig.config->ConfigureFilterUsingProfileGuid(WMProfile_V80_56Video));
    auto archive = rig.writer.Query<IAsfArchive>();
    ASSERT_TRUE(archive);
    std::mutex lock;
    std::vector<std::string> kept;
    archive->SetSegmentDuration(2 * 10'000'000);
    archive->SetSegmentHandler([&](const std::string& name, const std::string& error) {
        std::lock_guard g(lock);
        kept.push_back(name.empty() ? "error: " + error : name);
    });
    const std::string file = dir.File("brim.asf");
    ASSERT_EQ(S_OK, rig.writer.Query<IFileSinkFilter>()->SetFileName(file, nullptr));
    auto sink = MakeComObject<TCollectSink>();
    rig.advanced->AddSink(sink.Get());
    auto pins = rig.Pins();
    ASSERT_TRUE(rig.Feed(pins[0].Get(),
                         "audiotestsrc is-live=true num-buffers=270 samplesperbuffer=441 ! "
                         "audioconvert ! audioresample",
                         "audio/x-raw"));
    ASSERT_TRUE(rig.Feed(pins[1].Get(),
                         "videotestsrc is-live=true num-buffers=81 ! "
                         "video/x-raw,width=176,height=144,framerate=15/1 ! videoconvert",
                         "video/x-raw"));
    ASSERT_TRUE(rig.RunToEnd()); // 5.4 s
    std::lock_guard g(lock);
    ASSERT_EQ(kept.size(), 2u) << (kept.empty() ? "" : kept.back());
    for (const std::string& name : kept) {
        SCOPED_TRACE(name);
        EXPECT_NE(name.find("/brim-"), std::string::npos);
        const std::string probe = Probe(name);
        EXPECT_NEAR(ProbeDuration(probe), 2.0, 0.5) << probe;
        EXPECT_NE(probe.find("codec_name=wmv2"), std::string::npos);
        EXPECT_NE(probe.find("codec_name=wmav2"), std::string::npos);
        int code = 0;
        const std::string first = RunCommand("ffprobe -v error -select_streams v -show_entries "
                                             "frame=key_frame -of csv \"" +
                                                 name + "\" | head -1",
                                             code);
        EXPECT_EQ(first, "frame,1\n");
    }
    EXPECT_GT(ProbeDuration(Probe(file)), 0.8); // the rest, under the file name
    // Every file reads to its end without a complaint.
    kept.push_back(file);
    for (const std::string& name : kept) {
        int code = 0;
        EXPECT_EQ("", RunCommand("ffmpeg -nostdin -v error -i '" + name + "' -f null - 2>&1", code))
            << name;
        EXPECT_EQ(0, code);
    }
    std::lock_guard s(sink->lock);
    EXPECT_EQ(sink->headers, 1);
    EXPECT_TRUE(sink->ended);
}
