// The live broadcast end to end: Test Pattern and Test Tone through the ASF
// writer component and its network sink, checked with ffprobe and ffmpeg as
// independent clients and with raw socket viewers.
#include "BroadcastTestSupport.h"
#include "media/VideoWindow.h"

#include <gtest/gtest.h>

using namespace gsttest;
using namespace bcasttest;

TEST(Broadcast, PlayersSeeBothStreamsAndTheArchiveIsComplete) {
    TScratchDir dir;
    const std::string file = dir.File("brim.asf");
    TBroadcastRig rig(wmp_V80_56Video, true, file);
    ASSERT_EQ(S_OK, rig.VideoResult);
    ASSERT_EQ(S_OK, rig.AudioResult);
    const uint32_t port = rig.Writer.Port();
    ASSERT_NE(0u, port);
    ASSERT_TRUE(rig.Graph.Run());

    int code = 0;
    const std::string url = "127.0.0.1:" + std::to_string(port) + "/";
    std::string probe =
        RunCommand("timeout 20 ffprobe -v error -show_entries "
                   "stream=codec_name,width,height,sample_rate,channels -of default=nw=1 mmsh://" +
                       url + " 2>&1",
                   code);
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmv2")) << probe;
    EXPECT_NE(std::string::npos, probe.find("width=176")) << probe;
    EXPECT_NE(std::string::npos, probe.find("height=144")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmav2")) << probe;
    EXPECT_NE(std::string::npos, probe.find("sample_rate=22050")) << probe;
    EXPECT_NE(std::string::npos, probe.find("channels=1")) << probe;

    std::string decode = RunCommand("timeout 30 ffmpeg -nostdin -v error -stats -i http://" + url +
                                        " -t 4 -map 0:v -f null - 2>&1",
                                    code);
    size_t at = decode.rfind("frame=");
    ASSERT_NE(std::string::npos, at) << decode;
    EXPECT_GE(std::atoi(decode.c_str() + at + 6), 40) << decode;

    rig.Stop();
    TViewer after(port, kPlainRequest);
    EXPECT_FALSE(after.Connected());
    std::string archive = Probe(file);
    EXPECT_NE(std::string::npos, archive.find("codec_name=wmv2")) << archive;
    EXPECT_NE(std::string::npos, archive.find("codec_name=wmav2")) << archive;
    EXPECT_GT(ProbeDuration(archive), 1.0) << archive;
    EXPECT_EQ("", DecodeErrors(file));
}

namespace {

bool Grows(TViewer& v, int ms) {
    const size_t before = v.Total();
    v.ReadFor(ms);
    return !v.Closed() && v.Total() > before;
}

} // namespace

TEST(Broadcast, ThreeViewersAtOnceAndTheFourthIsRefused) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    ASSERT_TRUE(rig.Graph.Run());
    const uint32_t port = rig.Writer.Port();
    TViewer a(port, kPlainRequest), b(port, kPlayRequest), c(port, kPlainRequest);
    for (TViewer* v : {&a, &b, &c})
        ASSERT_TRUE(Grows(*v, 1500));
    EXPECT_EQ(0u, b.Data().find("HTTP/1.0 200 OK"));
    EXPECT_NE(std::string::npos, b.Data().find("application/x-mms-framed"));
    const size_t body = b.Data().find("\r\n\r\n") + 4;
    EXPECT_EQ(std::string("$H"), b.Data().substr(body, 2)); // the header chunk comes first

    TViewer fourth(port, kPlainRequest);
    fourth.ReadFor(2000);
    EXPECT_EQ(0u, fourth.Data().find("HTTP/1.0 503 Service Unavailable")) << fourth.Data();
    for (TViewer* v : {&a, &b, &c})
        EXPECT_TRUE(Grows(*v, 1500));
}

// A viewer that stops reading must not hold anything back: it is dropped
// while the others and the capture go on.
TEST(Broadcast, AViewerThatStopsReadingIsDroppedAndNothingStalls) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    ASSERT_TRUE(rig.Graph.Run());
    AsfStreamServer* server = rig.Server();
    ASSERT_TRUE(server);
    const uint32_t port = rig.Writer.Port();
    TViewer good(port, kPlainRequest);
    TViewer stuck(port, kPlainRequest, 2048);
    ASSERT_TRUE(Grows(good, 1000));
    const auto start = std::chrono::steady_clock::now();
    uint64_t pushed = server->PacketsPushed();
    while (server->ViewersDropped() == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        ASSERT_TRUE(Grows(good, 2000)) << "the reading viewer was held back";
        EXPECT_GT(server->PacketsPushed(), pushed) << "capture stalled";
        pushed = server->PacketsPushed();
    }
    EXPECT_EQ(1u, server->ViewersDropped());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(Grows(good, 1500));
    // Once its buffers drain the dropped viewer finds the connection closed.
    stuck.ReadFor(3000);
    EXPECT_TRUE(stuck.Closed());
}

TEST(Broadcast, AViewerThatComesBeforeTheStreamIsServedOnceItStarts) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    const uint32_t port = rig.Writer.Port();
    ASSERT_NE(0u, port);
    TViewer early(port, kPlayRequest); // the sink listens from activation on
    early.ReadFor(500);
    EXPECT_EQ("", early.Data());
    ASSERT_TRUE(rig.Graph.Run());
    early.ReadFor(3000);
    EXPECT_EQ(0u, early.Data().find("HTTP/1.0 200 OK"));
    EXPECT_GT(CountOf(early.Data(), "$D"), 5);
}

TEST(Broadcast, VideoOnlyProfileHasOnePinAndAVideoOnlyStream) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56VideoOnly, false, dir.File("brim.asf"));
    std::vector<std::string> pins;
    TViewer none(0);
    ComPtr<IEnumPins> e;
    rig.Sink->EnumPins(e.Put());
    ComPtr<IPin> p;
    while (e->Next(1, p.Put(), nullptr) == S_OK)
        pins.push_back("pin");
    EXPECT_EQ(1u, pins.size());
    ASSERT_EQ(S_OK, rig.VideoResult);
    ASSERT_TRUE(rig.Graph.Run());
    int code = 0;
    std::string probe =
        RunCommand("timeout 20 ffprobe -v error -show_entries stream=codec_name,width "
                   "-of default=nw=1 http://127.0.0.1:" +
                       std::to_string(rig.Writer.Port()) + "/ 2>&1",
                   code);
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmv2")) << probe;
    EXPECT_EQ(std::string::npos, probe.find("wmav2")) << probe;
    rig.Stop();
    EXPECT_EQ(std::string::npos, Probe(dir.File("brim.asf")).find("codec_type=audio"));
}

TEST(Broadcast, NoViewersAllowedMeansNoSinkButTheArchiveIsWritten) {
    TScratchDir dir;
    for (uint32_t port : {0u, 8000u}) {
        TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"), 0, port);
        EXPECT_FALSE(rig.Writer.NetworkSink());
        EXPECT_EQ(port, rig.Writer.Port());
        ASSERT_TRUE(rig.Graph.Run());
        PumpFor(1500);
        rig.Stop();
        EXPECT_NE(std::string::npos, Probe(dir.File("brim.asf")).find("codec_name=wmv2"));
    }
}

TEST(Broadcast, APortInUseLeavesTheGraphRunningWithoutASink) {
    TScratchDir dir;
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(0, ::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(blocker, 1));
    socklen_t len = sizeof a;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&a), &len);
    const uint32_t taken = ntohs(a.sin_port);
    {
        TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"), 3, taken);
        EXPECT_FALSE(rig.Writer.NetworkSink());
        EXPECT_EQ(taken, rig.Writer.Port());
        ASSERT_TRUE(rig.Graph.Run());
        PumpFor(1500);
        rig.Stop();
    }
    ::close(blocker);
    EXPECT_NE(std::string::npos, Probe(dir.File("brim.asf")).find("codec_name=wmav2"));
}

TEST(Broadcast, ProfileSetWhileActiveReconfiguresTheFilterOnly) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    rig.Writer.SetProfile(wmp_V80_56VideoOnly);
    EXPECT_EQ(wmp_V80_56VideoOnly, rig.Writer.Profile());
    ComPtr<IEnumPins> e;
    rig.Sink->EnumPins(e.Put());
    ComPtr<IPin> pins[3];
    ULONG n = 0;
    e->Next(3, pins[0].Put(), &n);
    EXPECT_EQ(1u, n);
    rig.Stop();
    EXPECT_EQ(wmp_V80_56Video, rig.Writer.Profile()); // the stored index
    rig.Graph.SetActive(true);
    EXPECT_EQ(wmp_V80_56Video, rig.Writer.Profile()); // applied again
}

// Garbage, half requests, huge header blocks and silent clients on the
// stream port: the viewers and the capture go on undisturbed.
TEST(Broadcast, BadClientsDisturbNeitherViewersNorCapture) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"), 8);
    ASSERT_TRUE(rig.Graph.Run());
    const uint32_t port = rig.Writer.Port();
    AsfStreamServer* server = rig.Server();
    ASSERT_TRUE(server);
    TViewer good(port, kPlainRequest);
    ASSERT_TRUE(Grows(good, 1000));

    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) & 0xFF);
    TViewer binary(port, garbage);
    TViewer half(port, "GET / HTTP/1.0\r\nUser-Agent: NSPl");
    TViewer silent(port);
    TViewer huge(port);
    huge.Send("GET / HTTP/1.0\r\n");
    std::string line = "X-Filler: " + std::string(1000, 'x') + "\r\n";
    for (int i = 0; i < 1024 && huge.Send(line); ++i) {
    }
    const uint64_t pushed = server->PacketsPushed();
    EXPECT_TRUE(Grows(good, 2000));
    EXPECT_FALSE(binary.ReadFor(2000)); // closed at once, not served
    EXPECT_EQ(std::string::npos, binary.Data().find("200 OK"));
    huge.ReadFor(2000);
    EXPECT_EQ(std::string::npos, huge.Data().find("200 OK"));
    EXPECT_TRUE(Grows(good, 1000));
    EXPECT_GT(server->PacketsPushed(), pushed);
    TViewer late(port, kPlainRequest);
    EXPECT_TRUE(Grows(late, 2000));
}

// The main window's broadcast: the preview pin to the video window as well.
// Stop finishes the archive without waiting out its time limit.
TEST(Broadcast, WithThePreviewTheArchiveIsFinishedPromptly) {
    TScratchDir dir;
    QWidget form;
    form.resize(300, 260);
    TVideoWindow window(&form, "VideoWindow");
    window.setGeometry(8, 26, 273, 217);
    form.show();
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    window.SetFilterGraph(&rig.Graph);
    ASSERT_EQ(S_OK, rig.Builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                              rig.Video.Query<IBaseFilter>().Get(), nullptr,
                                              window.Query<IBaseFilter>().Get()));
    ASSERT_TRUE(rig.Graph.Run());
    TViewer viewer(rig.Writer.Port(), kPlainRequest);
    EXPECT_TRUE(Grows(viewer, 2000));
    EXPECT_NE(&window, window.VideoHandle());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(rig.Graph.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    rig.Graph.SetActive(false);
    window.SetFilterGraph(nullptr);
    const std::string probe = Probe(dir.File("brim.asf"));
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmv2")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmav2")) << probe;
    EXPECT_EQ("", DecodeErrors(dir.File("brim.asf")));
}
