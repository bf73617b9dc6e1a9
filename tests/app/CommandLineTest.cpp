// The command line of a run without the window: what it accepts, and a
// one-line reason for everything it refuses.
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <fstream>
#include <sys/stat.h>

namespace {

TCommandLine Parse(std::vector<QString> args, const std::string& environment = {}) {
    QStringList list{"kavaroxp"};
    for (const QString& a : args)
        list << a;
    return ParseCommandLine(list, environment);
}

TEST(CommandLine, ReadsEveryValueOfABroadcast) {
    const TCommandLine line = Parse(
        {"--broadcast", "--video",        "test pattern", "--audio",     "none", "--video-format",
         "2",           "--asf-port",     "9000",         "--http-port", "9001", "--address",
         "10.0.0.5",    "--width",        "640",          "--height",    "480",  "--seconds",
         "1.5",         "--webrtc-ports", "40000-40009"});
    ASSERT_EQ(line.Error, "");
    EXPECT_EQ(line.Command, TCommand::Broadcast);
    EXPECT_EQ(line.Video, "test pattern");
    EXPECT_EQ(line.Audio, "none");
    EXPECT_EQ(line.VideoFormat, 2);
    EXPECT_EQ(line.AudioFormat, -1);
    EXPECT_EQ(line.Ports.StreamPort, 9000);
    EXPECT_EQ(line.Ports.HttpPort, 9001);
    EXPECT_EQ(line.Address, "10.0.0.5");
    EXPECT_EQ(line.Width, 640);
    EXPECT_EQ(line.Height, 480);
    EXPECT_DOUBLE_EQ(line.Seconds, 1.5);
    EXPECT_EQ(line.Ports.WebRtcMinPort, 40000);
    EXPECT_EQ(line.Ports.WebRtcMaxPort, 40009);

    const TCommandLine defaults = Parse({"--broadcast"});
    EXPECT_EQ(defaults.Ports.StreamPort, kDefaultStreamPort);
    EXPECT_EQ(defaults.Ports.HttpPort, kDefaultHttpPort);
    EXPECT_EQ(defaults.Seconds, 0);
    EXPECT_EQ(defaults.Ports.WebRtcMinPort, 50000);
    EXPECT_EQ(defaults.Ports.WebRtcMaxPort, 50100);
    EXPECT_EQ(Parse({"--record", "a.avi"}).RecordFile, "a.avi");
    const TCommandLine watch = Parse({"--list-devices", "--watch", "--seconds", "2"});
    EXPECT_EQ(watch.Error, "");
    EXPECT_TRUE(watch.Watch);
    EXPECT_FALSE(Parse({"--list-devices"}).Watch);
}

TEST(CommandLine, RefusesWithOneLineReason) {
    const std::pair<std::vector<QString>, const char*> bad[] = {
        {{"--bogus"}, "bogus"},
        {{"--video", "x"}, "--broadcast"},
        {{"--broadcast", "--record", "a.avi"}, "choose one"},
        {{"--broadcast", "--asf-port", "0"}, "not a port"},
        {{"--broadcast", "--http-port", "eighty"}, "not a port"},
        {{"--broadcast", "--asf-port", "9000", "--http-port", "9000"}, "different ports"},
        {{"--record", "a.avi", "--asf-port", "9000"}, "does not apply to --record"},
        {{"--record", "a.avi", "--seconds", "-3"}, "positive"},
        {{"--record", "a.avi", "--seconds", "nan"}, "positive"},
        {{"--record", ""}, "empty"},
        {{"--record"}, "value"},
        {{"--broadcast", "extra"}, "unexpected argument"},
        {{"--list-devices", "--seconds", "3"}, "ends by itself"},
        {{"--broadcast", "--watch"}, "does not apply to --broadcast"},
        {{"--broadcast", "--webrtc-ports", "50100-50000"}, "not a UDP port range"},
        {{"--broadcast", "--webrtc-ports", "80-90"}, "not a UDP port range"},
        {{"--broadcast", "--webrtc-ports", "50000"}, "not a UDP port range"},
        {{"--record", "a.avi", "--webrtc-ports", "50000-50001"}, "does not apply"},
    };
    for (const auto& [args, reason] : bad) {
        const TCommandLine line = Parse(args);
        EXPECT_NE(line.Error.find(reason), std::string::npos)
            << args.front().toStdString() << ": " << line.Error;
        EXPECT_EQ(line.Error.find('\n'), std::string::npos) << line.Error;
    }
}

TEST(CommandLine, TheRelayAddressComesFromAPrivateFileOrTheEnvironment) {
    const std::string key = "live_123456_SECRETKEY";
    const std::string url = "rtmp://live.example.net/app/" + key;
    QTemporaryDir dir;
    const std::string file = dir.filePath("relay-url").toStdString();
    std::ofstream(file) << "# the relay\n" << url << "\n";
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(Parse({"--broadcast", "--relay-url-file", QString::fromStdString(file)}).Relay, url);
    EXPECT_EQ(Parse({"--broadcast"}, url).Relay, url);
    EXPECT_EQ(Parse({"--broadcast"}, url).Warning, "");
    EXPECT_EQ(Parse({"--record", "a.avi"}, url).Relay, ""); // only a broadcast relays
    EXPECT_NE(Parse({"--broadcast", "--relay", QString::fromStdString(url)}).Warning.find("ps"),
              std::string::npos);

    ::chmod(file.c_str(), 0644); // as ssh refuses such a key
    const TCommandLine open =
        Parse({"--broadcast", "--relay-url-file", QString::fromStdString(file)});
    EXPECT_NE(open.Error.find("mode 0644"), std::string::npos) << open.Error;

    // No refusal shows the key: not a stray argument, not an unknown option, not a bad value.
    for (const std::vector<QString>& args :
         {std::vector<QString>{"--broadcast", QString::fromStdString(url)},
          std::vector<QString>{"--broadcast", "--" + QString::fromStdString(url)},
          std::vector<QString>{"--record", "a.avi", "--relay", QString::fromStdString(url)},
          std::vector<QString>{"--broadcast", "--relay",
                               "ftp://h/" + QString::fromStdString(key)}}) {
        const TCommandLine line = Parse(args);
        EXPECT_NE(line.Error, "");
        EXPECT_EQ(line.Error.find("SECRET"), std::string::npos) << line.Error;
    }
}

TEST(CommandLine, ArchiveAndRecordingOptions) {
    const TCommandLine line = Parse({"--broadcast", "--archive-dir", "/srv/arch", "--archive-keep",
                                     "20G", "--archive-segment", "30m"});
    ASSERT_EQ(line.Error, "");
    EXPECT_EQ(line.Ports.Archive.File(), "/srv/arch/brim.asf");
    EXPECT_EQ(line.Ports.Archive.Retention.KeepBytes, 20ull << 30);
    EXPECT_EQ(line.Ports.Archive.SegmentSeconds, 1800);
    EXPECT_FALSE(Parse({"--broadcast", "--no-archive"}).Ports.Archive.Enabled);
    EXPECT_EQ(Parse({"--broadcast"}).Ports.Archive.SegmentSeconds, 3600);
    EXPECT_TRUE(Parse({"--record", "a.avi", "--overwrite"}).Overwrite);
    for (const std::vector<QString>& bad :
         {std::vector<QString>{"--broadcast", "--archive-keep", "lots"},
          std::vector<QString>{"--broadcast", "--archive-segment", "3s"},
          std::vector<QString>{"--broadcast", "--no-archive", "--archive-dir", "x"},
          std::vector<QString>{"--broadcast", "--overwrite"}})
        EXPECT_NE(Parse(bad).Error, "") << bad.back().toStdString();
    EXPECT_EQ(ParseByteSize("1.5GiB"), uint64_t(1.5 * (1 << 30)));
    EXPECT_EQ(ParseByteSize("500M"), 500ull << 20);
    EXPECT_EQ(ParseDuration("1h30m"), 5400);
    EXPECT_EQ(ParseDuration("90"), 90);
    EXPECT_FALSE(ParseDuration("h"));
}

TEST(CommandLine, ALongRunIsTimedInStepsATimerCanHold) {
    const TCommandLine line = Parse({"--broadcast", "--seconds", "3000000"});
    ASSERT_EQ(line.Error, "");
    EXPECT_DOUBLE_EQ(line.Seconds, 3e6);
    // 3e9 ms do not fit a timer's int: the first step is a day, the last the rest.
    EXPECT_EQ(StopTimerStepMs(int64_t(line.Seconds * 1000)), kLongestStopTimerStepMs);
    EXPECT_EQ(StopTimerStepMs(1500), 1500);
    EXPECT_EQ(StopTimerStepMs(-1), 0);
}

TEST(CommandLine, HelpListsEveryOptionWithItsDefault) {
    const TCommandLine line = Parse({"--help"});
    EXPECT_EQ(line.Command, TCommand::Help);
    EXPECT_EQ(line.Help.rfind("Usage: kavaroxp [options]", 0), 0u) << line.Help;
    for (const char* option :
         {"--list-devices", "--broadcast", "--record", "--video", "--audio", "--video-format",
          "--audio-format", "--asf-port", "--http-port", "--address", "--width", "--height",
          "--seconds", "--watch", "--version", "--webrtc-ports"})
        EXPECT_NE(line.Help.find(option), std::string::npos) << option;
    // The help wraps its column wherever the longest option puts it.
    const std::string flat = QString::fromStdString(line.Help).simplified().toStdString();
    for (const char* value :
         {"default: 8000", "default: 8081", "default: 320", "default: 300", "default: 1h",
          "default: 50000-50100", "--relay-url-file", "--archive-keep", "--overwrite"})
        EXPECT_NE(flat.find(value), std::string::npos) << value;
}

TEST(CommandLine, OnlyDoubleDashOptionsLeaveTheWindow) {
    auto run = [](std::vector<const char*> args) {
        args.insert(args.begin(), "kavaroxp");
        return IsCommandLineRun(static_cast<int>(args.size()), const_cast<char**>(args.data()));
    };
    EXPECT_FALSE(run({}));
    EXPECT_FALSE(run({"-platform", "offscreen"}));
    EXPECT_TRUE(run({"--broadcast"}));
    EXPECT_TRUE(run({"-h"}));
}

} // namespace
