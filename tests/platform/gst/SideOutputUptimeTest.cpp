// Side outputs that join a capture that has run for a day: they begin with
// the pictures captured now, not with a day of copies to catch up on.
#include "GstTestSupport.h"
#include "support/RelayServers.h"

#include "platform/ClassRegistry.h"
#include "platform/gst/GstRelay.h"
#include "platform/gst/GstWebmStream.h"

#include <fstream>
#include <mutex>
#include <sstream>

using namespace gsttest;
using namespace relaytest;

namespace {

// Test Pattern and Test Tone into tees, on a wall clock whose running time
// starts a day ago.
struct TDayOldCapture {
    GstElement* Pipeline = nullptr;
    ComPtr<TGstSideTap> Video, Audio;

    TDayOldCapture() {
        Pipeline = gst_parse_launch(
            "videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=30/1 ! "
            "tee name=v allow-not-linked=true "
            "audiotestsrc is-live=true ! audio/x-raw,rate=44100,channels=1 ! "
            "tee name=a allow-not-linked=true",
            nullptr);
        GstClock* clock = GST_CLOCK(
            g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_REALTIME, nullptr));
        gst_pipeline_use_clock(GST_PIPELINE(Pipeline), clock);
        gst_element_set_start_time(Pipeline, GST_CLOCK_TIME_NONE);
        gst_element_set_base_time(Pipeline, gst_clock_get_time(clock) - 24 * 3600 * GST_SECOND);
        gst_object_unref(clock);
        for (auto [name, tap] : {std::pair{"v", &Video}, std::pair{"a", &Audio}}) {
            GstElement* tee = gst_bin_get_by_name(GST_BIN(Pipeline), name);
            *tap = TGstSideTap::Open(Pipeline, tee);
            gst_object_unref(tee);
        }
        gst_element_set_state(Pipeline, GST_STATE_PLAYING);
    }
    ~TDayOldCapture() {
        Video->Close();
        Audio->Close();
        gst_element_set_state(Pipeline, GST_STATE_NULL);
        gst_object_unref(Pipeline);
    }
    ComPtr<ISideOutput> Output(const GUID& clsid) {
        ComPtr<ISideOutput> output;
        EXPECT_EQ(S_OK, CreateInstance(clsid, output));
        if (output) output->SetTaps(Video.Get(), Audio.Get());
        return output;
    }
};

// Keeps the browser stream's bytes.
class TWebmBytes : public TComObject<IWebmStreamSink> {
  public:
    HRESULT SetWebmSource(IWebmStreamSource*) override { return S_OK; }
    HRESULT OnWebmData(std::span<const uint8_t> bytes) override {
        std::lock_guard lock(m_);
        data_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return S_OK;
    }
    HRESULT OnWebmReset() override { return S_OK; }
    std::string Data() {
        std::lock_guard lock(m_);
        return data_;
    }

  private:
    std::mutex m_;
    std::string data_;
};

// The video packets' times in a WebM file, in seconds.
std::vector<double> VideoPacketTimes(const std::string& file) {
    int code = 0;
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                        "packet=pts_time -of csv=p=0 '" +
                                            file + "' 2>/dev/null",
                                        code));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) times.push_back(std::stod(line));
    return times;
}

} // namespace

TEST(SideOutputUptime, ABrowserJoiningAfterADayGetsNowsPictures) {
    RegisterWebmStream();
    TScratchDir dir;
    TDayOldCapture capture;
    ComPtr<ISideOutput> output = capture.Output(CLSID_WebmStreamOutput);
    ASSERT_TRUE(output);
    auto sink = MakeComObject<TWebmBytes>();
    QueryAs<IWebmStreamSource>(output.Get())->SetWebmSink(sink.Get());
    output->Start();
    output->SetWanted(TRUE);
    PumpFor(2000);
    output->Stop();

    const std::string file = dir.File("joined.webm");
    std::ofstream(file, std::ios::binary) << sink->Data();
    const std::vector<double> times = VideoPacketTimes(file);
    // At most 2 s of frames at the stream's 15 a second, and none from the past.
    ASSERT_FALSE(times.empty());
    EXPECT_LE(times.size(), 2u * 15 + 5);
    EXPECT_GT(times.front(), 24 * 3600 - 5);
    EXPECT_LT(times.back() - times.front(), 2.5);
}

TEST(SideOutputUptime, ARelayReconnectingAfterADaySendsAtItsOwnRate) {
    RegisterRelay();
    TScratchDir dir;
    TNginxRtmp nginx(dir.File("nginx"));
    ASSERT_TRUE(nginx.Start());
    TDayOldCapture capture;
    ComPtr<ISideOutput> output = capture.Output(CLSID_RelayOutput);
    ASSERT_TRUE(output);
    TRelaySettings settings;
    settings.Url = nginx.Url("goodkey");
    settings.Width = 320;
    settings.Height = 240;
    settings.VideoKbps = 500;
    QueryAs<IRelayOutput>(output.Get())->SetRelay(&settings);
    output->Start();
    auto status = [&] {
        TSideOutputStatus s;
        output->GetStatus(&s);
        return s;
    };
    ASSERT_TRUE(PumpUntil([&] { return status().State == TSideOutputState::Live; }, 10000))
        << SideOutputStatusText("relay", status());
    // Lost and back: the reconnected relay starts at now as well.
    nginx.Stop(SIGKILL);
    ASSERT_TRUE(nginx.Start());
    ASSERT_TRUE(PumpUntil([&] { return status().State == TSideOutputState::Live; }, 15000))
        << SideOutputStatusText("relay", status());
    int highest = 0;
    for (int i = 0; i < 6; ++i) {
        PumpFor(500);
        highest = std::max(highest, status().Kbps);
    }
    output->Stop();
    // The preset and its sound, not a day of pictures encoded as fast as it can.
    EXPECT_GT(highest, 100);
    EXPECT_LT(highest, 2 * (500 + 128)) << highest;
}
