// A broadcast that has run for minutes, as the real program runs it: a
// browser stream opened late begins at the picture captured now, not with
// copies of every frame since the start.
#include "ProgramSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

TEST(RealTime, ABrowserStreamOpenedAfterTwoMinutesCarriesNowNotTheUptime) {
    TWorkDir dir;
    const int asfPort = FreePort();
    TRealProgram program(dir.Path(),
                         {"--broadcast", "--seconds", "135", "--asf-port", std::to_string(asfPort),
                          "--http-port", std::to_string(FreePort()), "--address", "127.0.0.1"});
    program.WaitOutput("broadcasting");
    // Two minutes of uptime, reading what it prints meanwhile.
    const auto joinAt = TRealProgram::Clock::now() + 120s;
    std::string line;
    while (TRealProgram::Clock::now() < joinAt && program.Running())
        program.ReadLine(line, joinAt);
    ASSERT_TRUE(program.Running()) << program.Log();

    const std::string webm = (dir.Path() / "late.webm").string();
    RunTool("curl -s --max-time 4 -o '" + webm + "' http://127.0.0.1:" + std::to_string(asfPort) +
            "/live.webm");
    const TToolResult frames =
        RunTool("ffprobe -v quiet -select_streams v -count_packets -show_entries "
                "stream=nb_read_packets -of csv=p=0 '" +
                webm + "'");
    const int count = std::atoi(frames.Output.c_str());
    std::printf("a stream opened at 120 s of uptime: %d video frames in 4 s\n", count);
    // 4 s at 15 frames a second, with the wait for a key frame's cluster.
    EXPECT_GT(count, 10) << frames.Output;
    EXPECT_LE(count, 90) << frames.Output;

    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
}

} // namespace
