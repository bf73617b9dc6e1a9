// The real program run from the command line with no display at all: a
// timed broadcast seen by real clients, a timed recording, a recording
// ended by a signal, and the exit statuses of a bad option, a busy port and
// a full disk.
#include "ProgramSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string Port(int port) {
    return std::to_string(port);
}

TEST(Headless, TimedBroadcastServesPlayersAndThePageAndFinishesTheArchive) {
    TWorkDir dir;
    const int asfPort = FreePort();
    const int httpPort = FreePort();
    TRealProgram program(dir.Path(), {"--broadcast", "--seconds", "8", "--asf-port", Port(asfPort),
                                      "--http-port", Port(httpPort), "--address", "127.0.0.1"});
    const std::string started = program.WaitOutput("broadcasting");
    EXPECT_NE(started.find("http://127.0.0.1:" + Port(httpPort) + "/"), std::string::npos)
        << started;

    const std::vector<std::string> codecs = ProbeCodecs("mmsh://127.0.0.1:" + Port(asfPort) + "/");
    EXPECT_TRUE(Has(codecs, "wmv2") && Has(codecs, "wmav2")) << program.Output();
    const TToolResult page = RunTool("curl -sS --max-time 10 http://127.0.0.1:" + Port(httpPort));
    EXPECT_NE(page.Output.find("VALUE=\"mms://127.0.0.1:" + Port(asfPort) + "/\""),
              std::string::npos)
        << page.Output;

    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
    // The player that came and went is logged, with the end.
    EXPECT_NE(program.Output().find("viewer joined: 127.0.0.1:"), std::string::npos)
        << program.Output();
    EXPECT_NE(program.Output().find("viewer left: 127.0.0.1:"), std::string::npos);
    EXPECT_NE(program.Output().find("stopped"), std::string::npos);
    const std::string archive = (dir.Path() / "brim.asf").string();
    EXPECT_GT(ProbeDuration(archive), 6.0);
    const std::vector<std::string> archived = ProbeCodecs(archive);
    EXPECT_TRUE(Has(archived, "wmv2") && Has(archived, "wmav2"));
}

TEST(Headless, RecordingsEndOnTimeOrOnASignalWithCompleteFiles) {
    TWorkDir dir;
    const std::string timed = (dir.Path() / "timed.avi").string();
    TRealProgram program(dir.Path(), {"--record", timed, "--seconds", "3"});
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
    EXPECT_NEAR(ProbeDuration(timed), 3.0, 0.5);
    const std::vector<std::string> kinds = ProbeStreamKinds(timed);
    EXPECT_TRUE(Has(kinds, "video") && Has(kinds, "audio"));

    const std::string stopped = (dir.Path() / "stopped.avi").string();
    TRealProgram signalled(dir.Path(), {"--record", stopped, "--audio", "none"});
    signalled.WaitOutput("recording to");
    SleepFor(2000ms);
    signalled.Signal(SIGINT);
    EXPECT_EQ(signalled.WaitExit(), 0) << signalled.Log();
    EXPECT_GT(ProbeDuration(stopped), 1.0);
    EXPECT_EQ(ProbeStreamKinds(stopped), std::vector<std::string>{"video"});
}

TEST(Headless, FailuresExitWithTheirStatusAndTheWindowsMessage) {
    TWorkDir dir;
    TRealProgram bad(dir.Path(), {"--broadcast", "--asf-port", "eighty"});
    EXPECT_EQ(bad.WaitExit(), 2);
    EXPECT_NE(bad.Log().find("--asf-port: \"eighty\" is not a port"), std::string::npos)
        << bad.Log();

    // Something else listens on the stream port already.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int asfPort = FreePort();
    a.sin_port = htons(static_cast<uint16_t>(asfPort));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    listen(fd, 1);
    TRealProgram busy(dir.Path(), {"--broadcast", "--asf-port", Port(asfPort), "--http-port",
                                   Port(FreePort()), "--seconds", "5"});
    EXPECT_EQ(busy.WaitExit(), 1);
    close(fd);
    EXPECT_NE(busy.Log().find("Stream port " + Port(asfPort) + " is in use: choose another port."),
              std::string::npos)
        << busy.Log();

    // A disk that fills while recording.
    TRealProgram full(dir.Path(), {"--record", "/dev/full", "--seconds", "5"});
    EXPECT_EQ(full.WaitExit(), 1);
    EXPECT_NE(full.Log().find("Disk full: the recording to \"/dev/full\" stopped; free some "
                              "space and start again."),
              std::string::npos)
        << full.Log();
}

} // namespace
