// The real program, started as a user starts it, with the built-in Test
// Pattern and Test Tone devices chosen through its menus: a broadcast seen
// by real clients (curl, ffprobe) and its archive file, a recording of three
// seconds, and closing the window in the middle of a recording.
#include "ProgramSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string Joined(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& s : list)
        out += (out.empty() ? "" : ", ") + s;
    return out;
}

struct WholeProgram : ::testing::Test {
    TWorkDir dir;
    TProgram program{dir.Path()};

    void SetUp() override {
        ASSERT_EQ(program.WaitReady(), "[:: kavaroXP beta 3 ::]");
        ASSERT_TRUE(program.ErrorBoxes().empty()) << Joined(program.ErrorBoxes());
    }

    void TearDown() override {
        if (HasFailure()) std::cerr << "program log:\n" << program.Log() << "\n";
    }

    // The built-in devices, as a user picks them: they must be listed, and
    // a choice is marked in its menu.
    void ChooseTestDevices() {
        EXPECT_TRUE(Has(Split(program.Do("menu-items video/connect")), "test pattern"));
        EXPECT_TRUE(Has(Split(program.Do("menu-items audio/connect")), "test tone"));
        program.Do("menu video/connect/test pattern");
        program.Do("menu audio/connect/test tone");
        EXPECT_EQ(program.Do("menu-state video/connect/test pattern"), "enabled=1 checked=1");
        EXPECT_EQ(program.Do("menu-state audio/connect/test tone"), "enabled=1 checked=1");
        EXPECT_EQ(program.Do("menu-state video/formats"), "enabled=1 checked=0");
        ExpectNoErrorBox();
    }

    void ExpectNoErrorBox() {
        EXPECT_TRUE(program.ErrorBoxes().empty()) << Joined(program.ErrorBoxes());
    }

    static std::vector<std::string> Split(const std::string& items) {
        std::vector<std::string> out;
        size_t from = 0;
        for (size_t bar; (bar = items.find('|', from)) != std::string::npos; from = bar + 1)
            out.push_back(items.substr(from, bar - from));
        out.push_back(items.substr(from));
        return out;
    }

    // Records for about the given time; returns how long it ran as the
    // user saw it (from the start click's end to the stop click's start).
    double Record(const std::string& file, std::chrono::milliseconds length) {
        program.Do("type ed_recfile " + file);
        program.Do("click bt_record");
        const auto started = std::chrono::steady_clock::now();
        ExpectNoErrorBox();
        EXPECT_EQ(program.Do("enabled bt_broadcast"), "0");
        EXPECT_EQ(program.Do("menu-state video/connect"), "enabled=0 checked=0");
        const std::string clockAtStart = program.Do("pixels StatusBar");
        SleepFor(length);
        // The capture clock in the status bar has moved on.
        EXPECT_NE(program.Do("pixels StatusBar"), clockAtStart);
        const double ran =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        program.Do("click bt_record");
        ExpectNoErrorBox();
        return ran;
    }
};

TEST_F(WholeProgram, BroadcastServesTheLandingPageAndTheStreamAndArchivesIt) {
    ChooseTestDevices();
    const int httpPort = FreePort();
    const int asfPort = FreePort();
    program.Do("type ed_asfport " + std::to_string(asfPort));
    program.Do("type ed_internalport " + std::to_string(httpPort));
    EXPECT_EQ(program.Do("type cb_ip 127.0.0.1"), "127.0.0.1");
    program.Do("click bt_broadcast", 90s);
    ExpectNoErrorBox();
    const std::string site = "http://127.0.0.1:" + std::to_string(httpPort);
    ASSERT_EQ(program.Do("text lb_quillon"), "online @ " + site);
    EXPECT_EQ(program.Do("enabled bt_record"), "0");
    EXPECT_EQ(program.Do("enabled bt_preview"), "0");

    const TToolResult page = RunTool("curl -sS --max-time 20 " + site + "/");
    EXPECT_EQ(page.Status, 0);
    EXPECT_NE(page.Output.find("<title>[kavaroXP media streamer]</title>"), std::string::npos)
        << page.Output;
    EXPECT_NE(page.Output.find("VALUE=\"mms://127.0.0.1:" + std::to_string(asfPort) + "/\""),
              std::string::npos)
        << page.Output;

    // A player's way in: Windows Media HTTP streaming from the mms address.
    const std::vector<std::string> codecs =
        ProbeCodecs("mmsh://127.0.0.1:" + std::to_string(asfPort) + "/", 60);
    EXPECT_TRUE(Has(codecs, "wmv2")) << Joined(codecs);
    EXPECT_TRUE(Has(codecs, "wmav2")) << Joined(codecs);

    program.Do("click bt_broadcast", 90s);
    ExpectNoErrorBox();
    EXPECT_EQ(program.Do("text lb_quillon"), "offline");
    EXPECT_EQ(program.Do("enabled bt_record"), "1");
    // The landing page goes with the broadcast.
    EXPECT_NE(RunTool("curl -sS --max-time 10 " + site + "/").Status, 0);

    program.Do("menu file/exit");
    EXPECT_EQ(program.WaitExit(), 0);
    ExpectNoErrorBox();

    // The archive the broadcast wrote beside the program is a finished file.
    const std::string archive = (dir.Path() / "brim.asf").string();
    EXPECT_GT(ProbeDuration(archive), 1.0);
    const std::vector<std::string> archived = ProbeCodecs(archive);
    EXPECT_TRUE(Has(archived, "wmv2")) << Joined(archived);
    EXPECT_TRUE(Has(archived, "wmav2")) << Joined(archived);
}

TEST_F(WholeProgram, RecordingThreeSecondsGivesAnAviOfThatLength) {
    ChooseTestDevices();
    const std::string file = (dir.Path() / "three seconds.avi").string();
    const double ran = Record(file, 3000ms);
    EXPECT_EQ(program.Do("enabled bt_broadcast"), "1");

    const double duration = ProbeDuration(file);
    EXPECT_GT(duration, 2.0);
    EXPECT_LT(duration, ran + 2.0);
    const std::vector<std::string> kinds = ProbeStreamKinds(file);
    EXPECT_TRUE(Has(kinds, "video")) << Joined(kinds);
    EXPECT_TRUE(Has(kinds, "audio")) << Joined(kinds);

    program.Do("close");
    EXPECT_EQ(program.WaitExit(), 0);
}

TEST_F(WholeProgram, ClosingTheWindowWhileRecordingLeavesACompleteFile) {
    ChooseTestDevices();
    const std::string file = (dir.Path() / "closed.avi").string();
    program.Do("type ed_recfile " + file);
    program.Do("click bt_record");
    ExpectNoErrorBox();
    SleepFor(2000ms);
    program.Do("close");
    EXPECT_EQ(program.WaitExit(), 0);
    ExpectNoErrorBox();

    EXPECT_GT(ProbeDuration(file), 1.0);
    const std::vector<std::string> kinds = ProbeStreamKinds(file);
    EXPECT_TRUE(Has(kinds, "video")) << Joined(kinds);
}

TEST_F(WholeProgram, TerminationSignalsFinishTheRecordingAndTheArchive) {
    // A recording ended by SIGTERM, then a broadcast ended by SIGHUP (a
    // closed terminal): both files keep their index and duration.
    ChooseTestDevices();
    const std::string file = (dir.Path() / "terminated.avi").string();
    program.Do("type ed_recfile " + file);
    program.Do("click bt_record");
    ExpectNoErrorBox();
    SleepFor(2000ms);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(), 0);
    EXPECT_GT(ProbeDuration(file), 1.0);

    TProgram again{dir.Path()};
    ASSERT_EQ(again.WaitReady(), "[:: kavaroXP beta 3 ::]");
    again.Do("menu video/connect/test pattern");
    again.Do("menu audio/connect/test tone");
    again.Do("type ed_asfport " + std::to_string(FreePort()));
    again.Do("type ed_internalport " + std::to_string(FreePort()));
    again.Do("type cb_ip 127.0.0.1");
    again.Do("click bt_broadcast", 90s);
    EXPECT_TRUE(again.ErrorBoxes().empty()) << Joined(again.ErrorBoxes());
    SleepFor(2500ms);
    again.Signal(SIGHUP);
    EXPECT_EQ(again.WaitExit(), 0);
    EXPECT_GT(ProbeDuration((dir.Path() / "brim.asf").string()), 1.0);
}

} // namespace
