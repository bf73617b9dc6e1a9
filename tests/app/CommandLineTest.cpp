// The command line of a run without the window: what it accepts, and a
// one-line reason for everything it refuses.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TCommandLine Parse(std::vector<QString> args) {
    QStringList list{"kavaroxp"};
    for (const QString& a : args)
        list << a;
    return ParseCommandLine(list);
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

TEST(CommandLine, HelpListsEveryOptionWithItsDefault) {
    const TCommandLine line = Parse({"--help"});
    EXPECT_EQ(line.Command, TCommand::Help);
    EXPECT_EQ(line.Help.rfind("Usage: kavaroxp [options]", 0), 0u) << line.Help;
    for (const char* option :
         {"--list-devices", "--broadcast", "--record", "--video", "--audio", "--video-format",
          "--audio-format", "--asf-port", "--http-port", "--address", "--width", "--height",
          "--seconds", "--watch", "--version", "--webrtc-ports"})
        EXPECT_NE(line.Help.find(option), std::string::npos) << option;
    for (const char* value :
         {"default: 8000", "default: 8081", "default: 320", "default: 300", "default: 50000-50100"})
        EXPECT_NE(line.Help.find(value), std::string::npos) << value;
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
