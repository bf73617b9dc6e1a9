// A real browser watches a broadcast: headless Chromium opens the watch page
// of the real program broadcasting the Test Pattern and Test Tone without a
// window; what it serves is followed through the viewer lines it logs.
#include "ChromiumSession.h"
#include "support/RealProgram.h"
#include "support/TestPorts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Desktop players on the stream port that keep reading, on a thread of their own.
class TAsfViewers {
  public:
    TAsfViewers(int port, int count) {
        for (int i = 0; i < count; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in a = testports::Loopback(port);
            const char* request = "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/7.10\r\n"
                                  "Pragma: xPlayStrm=1\r\n\r\n";
            if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
                send(fd, request, strlen(request), MSG_NOSIGNAL);
            fds_.push_back(fd);
        }
        reader_ = std::thread([this] {
            char buf[65536];
            while (!stop_) {
                std::vector<pollfd> p;
                for (int fd : fds_)
                    p.push_back({fd, POLLIN, 0});
                if (poll(p.data(), p.size(), 100) <= 0) continue;
                for (auto& q : p)
                    if (q.revents) (void)!recv(q.fd, buf, sizeof buf, MSG_DONTWAIT);
            }
        });
    }
    ~TAsfViewers() {
        stop_ = true;
        reader_.join();
        for (int fd : fds_)
            close(fd);
    }

  private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

const char* kProbe = "(function(){var v=document.getElementById('video');"
                     "var s=document.getElementById('status');"
                     "return v?[v.currentTime,v.videoWidth,s.textContent].join('|'):'none';})()";

struct TPageState {
    double time = 0;
    int width = 0;
    std::string status;
};

TPageState Read(TChromiumSession& browser) {
    TPageState s;
    const std::string v = browser.Evaluate(kProbe);
    const size_t a = v.find('|'), b = a == std::string::npos ? a : v.find('|', a + 1);
    if (b == std::string::npos) return s;
    s.time = std::atof(v.substr(0, a).c_str());
    s.width = std::atoi(v.substr(a + 1, b - a - 1).c_str());
    s.status = v.substr(b + 1);
    return s;
}

// The viewers the program says it serves, from its "viewer joined: ADDRESS
// (KIND)" and "viewer left: ADDRESS (KIND, BYTES sent)" lines.
struct TViewerLog {
    int Browsers = 0;
    int Players = 0;

    // Reads the program's lines until done() holds; false when the time is up.
    bool WaitUntil(TRealProgram& program, const std::function<bool()>& done,
                   std::chrono::seconds limit = 10s) {
        const auto deadline = TRealProgram::Clock::now() + limit;
        std::string line;
        while (!done()) {
            if (!program.ReadLine(line, deadline)) return done();
            const int step = line.find("viewer joined: ") != std::string::npos ? 1
                             : line.find("viewer left: ") != std::string::npos ? -1
                                                                               : 0;
            if (line.find("(browser") != std::string::npos) Browsers += step;
            if (line.find("(player") != std::string::npos) Players += step;
        }
        return true;
    }
};

} // namespace

TEST(BrowserWatch, ChromiumPlaysTheBroadcastAndSeesAFullHouse) {
    TWorkDir dir; // the archive brim.asf goes there
    const int httpPort = FreePort(), asfPort = FreePort();
    TRealProgram program(dir.Path(),
                         {"--broadcast", "--address", "127.0.0.1", "--asf-port",
                          std::to_string(asfPort), "--http-port", std::to_string(httpPort),
                          "--video", "Test Pattern", "--audio", "Test Tone"});
    program.WaitOutput("broadcasting");
    TViewerLog viewers;

    TChromiumSession browser;
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    const std::string watch = "http://127.0.0.1:" + std::to_string(httpPort) + "/watch";
    ASSERT_TRUE(browser.Navigate(watch));

    // Playback starts, then the playhead moves on with the live stream.
    TPageState first;
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 20s && (first = Read(browser)).time <= 0)
        std::this_thread::sleep_for(200ms);
    ASSERT_GT(first.time, 0) << "never started; status: " << first.status;
    start = std::chrono::steady_clock::now();
    TPageState now = first;
    while (std::chrono::steady_clock::now() - start < 8s && now.time - first.time < 2.0) {
        std::this_thread::sleep_for(200ms);
        now = Read(browser);
    }
    EXPECT_GE(now.time - first.time, 2.0) << "status: " << now.status;
    EXPECT_EQ(now.width, 320);
    EXPECT_EQ(now.status.rfind("live (compatibility), ", 0), 0u) << now.status;
    EXPECT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Browsers > 0; }))
        << program.Output();

    // The browser leaves; three desktop players take every place.
    ASSERT_TRUE(browser.Navigate("about:blank"));
    EXPECT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Browsers == 0; }))
        << program.Output();
    TAsfViewers players(asfPort, 3);
    ASSERT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Players == 3; }))
        << program.Output();
    ASSERT_TRUE(browser.Navigate(watch));
    TPageState full;
    start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 10s && (full = Read(browser)).status.empty())
        std::this_thread::sleep_for(200ms);
    EXPECT_EQ(full.status, "all 3 places are taken \u2014 try again in a moment");

    // Stopped as a service manager stops it: in order, without a failure.
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
    EXPECT_EQ(program.Output().find("failure:"), std::string::npos) << program.Output();
}
