// A real browser watches a broadcast: headless Chromium opens the watch page
// of the real program broadcasting the Test Pattern and Test Tone without a
// window, over WebRTC and over the WebM stream; what it serves is followed
// through the viewer lines it logs. With the window, the viewers list lets
// a WebRTC viewer go.
#include "ChromiumSession.h"
#include "ProgramSupport.h"
#include "support/RealProgram.h"
#include "support/TestPorts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
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

// "a|b|c" as the page's probes answer, the last field taking any further bars;
// false for fewer than three fields.
bool ThreeFields(const std::string& v, std::string& a, std::string& b, std::string& c) {
    const size_t one = v.find('|'), two = one == std::string::npos ? one : v.find('|', one + 1);
    if (two == std::string::npos) return false;
    a = v.substr(0, one);
    b = v.substr(one + 1, two - one - 1);
    c = v.substr(two + 1);
    return true;
}

TPageState Read(TChromiumSession& browser) {
    TPageState s;
    std::string time, width;
    if (!ThreeFields(browser.Evaluate(kProbe), time, width, s.status)) return s;
    s.time = std::atof(time.c_str());
    s.width = std::atoi(width.c_str());
    return s;
}

// The viewers the program says it serves, from its "viewer joined: ADDRESS
// (KIND)" and "viewer left: ADDRESS (KIND, BYTES sent)" lines.
struct TViewerLog {
    int Browsers = 0;
    int Players = 0;
    int WebRtc = 0;

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
            if (line.find("(WebRTC") != std::string::npos) WebRtc += step;
        }
        return true;
    }
};

// A page of another origin (another port on 127.0.0.1), served on a thread.
class TForeignSite {
  public:
    TForeignSite() : port_(FreePort()) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const sockaddr_in a = testports::Loopback(port_);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 8) != 0)
            return;
        server_ = std::thread([this] {
            const char* page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                               "<!DOCTYPE html><title>elsewhere</title>";
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                const int c = accept(fd_, nullptr, nullptr);
                if (c < 0) continue;
                // A browser's spare connection may never send: it must not
                // hold the thread (and the test's end) until the browser drops it.
                const timeval wait{1, 0};
                setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
                char buf[4096];
                if (recv(c, buf, sizeof buf, 0) <= 0) {
                    close(c);
                    continue;
                }
                send(c, page, strlen(page), MSG_NOSIGNAL);
                close(c);
            }
        });
    }
    ~TForeignSite() {
        stop_ = true;
        if (server_.joinable()) server_.join();
        close(fd_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    int port_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread server_;
};

// What a fetch() started in the page ended with: "ok STATUS" or "failed".
std::string FetchFromPage(TChromiumSession& browser, const std::string& url) {
    browser.Evaluate("window.__got='';fetch('" + url +
                     "').then(function(r){window.__got='ok '+r.status;"
                     "if(r.body)r.body.cancel();},function(){window.__got='failed';});'started'");
    std::string got;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 10s &&
           (got = browser.Evaluate("window.__got")).empty())
        std::this_thread::sleep_for(100ms);
    return got;
}

// The page's status line once it says something (or, given one, that
// text); what it says when the time is up otherwise.
std::string WaitStatus(TChromiumSession& browser, std::chrono::seconds limit = 20s,
                       const std::string& wanted = {}) {
    const auto end = std::chrono::steady_clock::now() + limit;
    TPageState s;
    while (std::chrono::steady_clock::now() < end &&
           ((s = Read(browser)).status.empty() || (!wanted.empty() && s.status != wanted)))
        std::this_thread::sleep_for(200ms);
    return s.status;
}

// Every peer connection the page makes, for its statistics.
const char* kKeepPeerConnections =
    "(function(){var Made=window.RTCPeerConnection;if(!Made)return;window.__pcs=[];"
    "window.RTCPeerConnection=function(c){var p=new Made(c);window.__pcs.push(p);return p;};"
    "window.RTCPeerConnection.prototype=Made.prototype;})()";
// "frames|video codec|audio codec" of what the page's connection receives.
const char* kInboundStats =
    "(async function(){var pc=(window.__pcs||[]).slice(-1)[0];if(!pc)return 'none';"
    "var st=await pc.getStats(),f=0,vc='',ac='',codecs={};"
    "st.forEach(function(s){if(s.type==='codec')codecs[s.id]=s.mimeType;});"
    "st.forEach(function(s){if(s.type!=='inbound-rtp')return;"
    "if(s.kind==='video'){f=s.framesDecoded||0;vc=codecs[s.codecId]||'';}"
    "if(s.kind==='audio')ac=codecs[s.codecId]||'';});"
    "return [f,vc,ac].join('|');})()";

struct TInbound {
    int Frames = 0;
    std::string Video, Audio;
};

TInbound Inbound(TChromiumSession& browser) {
    TInbound in;
    std::string frames;
    if (ThreeFields(browser.Evaluate(kInboundStats), frames, in.Video, in.Audio))
        in.Frames = std::atoi(frames.c_str());
    return in;
}

// The status line of what the stream port answers one more player.
std::string AsfAnswer(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = testports::Loopback(port);
    std::string reply;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        const char* request = "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/7.10\r\n\r\n";
        send(fd, request, strlen(request), MSG_NOSIGNAL);
        pollfd p{fd, POLLIN, 0};
        char buf[256];
        if (poll(&p, 1, 5000) > 0) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0) reply.assign(buf, size_t(n));
        }
    }
    close(fd);
    return reply.substr(0, reply.find("\r\n"));
}

} // namespace

TEST(BrowserWatch, APrivateBroadcastPlaysOnlyFromItsLinkAndOnlyToItsOwnPages) {
    TWorkDir dir;
    const std::string password = (dir.Path() / "password").string();
    std::ofstream(password) << "letmein\n";
    chmod(password.c_str(), 0600);
    const int httpPort = FreePort(), asfPort = FreePort();
    TRealProgram program(dir.Path(),
                         {"--broadcast", "--listen", "local", "--asf-port", std::to_string(asfPort),
                          "--http-port", std::to_string(httpPort), "--viewer-password-file",
                          password, "--video", "Test Pattern", "--audio", "none"});
    const std::string started = program.WaitOutput("broadcasting");
    const size_t at = started.find("/watch?k=");
    ASSERT_NE(at, std::string::npos) << started;
    const std::string token = started.substr(at + 9, 43);
    const std::string watch = "http://127.0.0.1:" + std::to_string(httpPort) + "/watch";

    TChromiumSession browser;
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    // Without the token the page itself is refused: nothing to play.
    ASSERT_TRUE(browser.Navigate(watch));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Read(browser).status, "");
    EXPECT_EQ(browser.Evaluate("document.getElementById('video')?'video':'none'"), "none");

    ASSERT_TRUE(browser.Navigate(watch + "?k=" + token));
    TPageState state;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 20s && (state = Read(browser)).time <= 0)
        std::this_thread::sleep_for(200ms);
    EXPECT_GT(state.time, 0) << "never started; status: " << state.status;
    // Without sound too, over WebRTC: the pictures' playhead moves.
    EXPECT_EQ(state.status.rfind("live, ", 0), 0u) << state.status;

    // Another site's page, even with the link, cannot read the stream.
    const std::string stream =
        "http://127.0.0.1:" + std::to_string(asfPort) + "/live.webm?k=" + token;
    EXPECT_EQ(FetchFromPage(browser, stream), "ok 200"); // the site's own page can
    TForeignSite elsewhere;
    ASSERT_TRUE(browser.Navigate(elsewhere.Url()));
    EXPECT_EQ(FetchFromPage(browser, stream), "failed");

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
}

TEST(BrowserWatch, ChromiumPlaysOverWebRtcOrTheWebmStreamAndSeesAFullHouse) {
    TWorkDir dir; // the archive brim.asf goes there
    const int httpPort = FreePort(), asfPort = FreePort(), udp = FreePort();
    TRealProgram program(dir.Path(),
                         {"--broadcast", "--listen", "local", "--asf-port", std::to_string(asfPort),
                          "--http-port", std::to_string(httpPort), "--video", "Test Pattern",
                          "--audio", "Test Tone", "--webrtc-ports",
                          std::to_string(udp) + "-" + std::to_string(udp + 9)});
    program.WaitOutput("broadcasting");
    TViewerLog viewers;

    TChromiumSession browser;
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    ASSERT_TRUE(browser.AddScriptOnNewDocument(kKeepPeerConnections));
    const std::string watch = "http://127.0.0.1:" + std::to_string(httpPort) + "/watch";

    // WebRTC switched off in the page: the WebM stream plays, the playhead moving on.
    ASSERT_TRUE(browser.Navigate(watch + "?webrtc=0"));
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

    // The page as everyone gets it: H.264 and Opus over WebRTC, pictures decoded.
    ASSERT_TRUE(browser.Navigate(watch));
    ASSERT_TRUE(viewers.WaitUntil(
        program, [&] { return viewers.WebRtc == 1; }, 15s))
        << program.Output();
    start = std::chrono::steady_clock::now();
    TInbound in;
    while (std::chrono::steady_clock::now() - start < 15s && (in = Inbound(browser)).Frames < 10)
        std::this_thread::sleep_for(200ms);
    ASSERT_GE(in.Frames, 10) << Read(browser).status;
    EXPECT_EQ(in.Video, "video/H264");
    EXPECT_EQ(in.Audio, "audio/opus");
    std::this_thread::sleep_for(1s);
    EXPECT_GT(Inbound(browser).Frames, in.Frames + 5);
    const std::string live = WaitStatus(browser);
    EXPECT_EQ(live.rfind("live, ", 0), 0u) << live;
    EXPECT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Browsers == 0; }))
        << program.Output();

    // The WebRTC viewer holds one of the three places: two players fill the house.
    {
        TAsfViewers players(asfPort, 2);
        ASSERT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Players == 2; }))
            << program.Output();
        EXPECT_EQ(AsfAnswer(asfPort), "HTTP/1.0 503 Service Unavailable");

        // The page gone, its session ends and frees the place.
        ASSERT_TRUE(browser.Navigate("about:blank"));
        EXPECT_TRUE(viewers.WaitUntil(program, [&] { return viewers.WebRtc == 0; }))
            << program.Output();
        TAsfViewers third(asfPort, 1);
        ASSERT_TRUE(viewers.WaitUntil(program, [&] { return viewers.Players == 3; }))
            << program.Output();
        // A fourth viewer is told the house is full.
        ASSERT_TRUE(browser.Navigate(watch));
        EXPECT_EQ(WaitStatus(browser, 10s), "all 3 places are taken \u2014 try again in a moment");
    }

    // Stopped as a service manager stops it: in order, without a failure.
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
    EXPECT_EQ(program.Output().find("failure:"), std::string::npos) << program.Output();
}

TEST(BrowserWatch, DisconnectingAWebRtcViewerFromTheListStopsItsPictures) {
    TWorkDir dir;
    const int httpPort = FreePort(), asfPort = FreePort(), udp = FreePort();
    std::filesystem::create_directories(dir.Path() / ".config/kavaroxp");
    std::ofstream(dir.Path() / ".config/kavaroxp/kavaroxp.conf")
        << "[webrtc]\nports=" << udp << "-" << udp + 9 << "\n[access]\nlisten=local\n";
    TProgram program(dir.Path());
    program.WaitReady();
    program.Do("menu video/connect/test pattern");
    program.Do("menu audio/connect/test tone");
    program.Do("type ed_asfport " + std::to_string(asfPort));
    program.Do("type ed_internalport " + std::to_string(httpPort));
    program.Do("type cb_ip 127.0.0.1");
    program.Do("click bt_broadcast", 90s);
    ASSERT_TRUE(program.ErrorBoxes().empty()) << program.ErrorBoxes()[0];

    TChromiumSession browser;
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    ASSERT_TRUE(browser.AddScriptOnNewDocument(kKeepPeerConnections));
    ASSERT_TRUE(browser.Navigate("http://127.0.0.1:" + std::to_string(httpPort) + "/watch"));
    auto start = std::chrono::steady_clock::now();
    TInbound in;
    while (std::chrono::steady_clock::now() - start < 15s && (in = Inbound(browser)).Frames < 10)
        std::this_thread::sleep_for(200ms);
    ASSERT_GE(in.Frames, 10) << Read(browser).status;

    program.Do("menu file/viewers");
    start = std::chrono::steady_clock::now();
    std::string rows;
    while (std::chrono::steady_clock::now() - start < 5s &&
           (rows = program.Do("rows viewerList")).find(",WebRTC,") == std::string::npos)
        std::this_thread::sleep_for(200ms);
    ASSERT_NE(rows.find(",WebRTC,"), std::string::npos) << rows;
    program.Do("select viewerList WebRTC");
    program.Do("click disconnectViewer");

    // The page sees its connection go and says so; no picture comes after.
    EXPECT_EQ(WaitStatus(browser, 20s, "the stream is not running"), "the stream is not running");
    const int after = Inbound(browser).Frames;
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Inbound(browser).Frames, after);
    EXPECT_EQ(program.Do("rows viewerList"), "");

    program.Do("click bt_broadcast", 90s);
    program.Do("menu file/exit");
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
}
