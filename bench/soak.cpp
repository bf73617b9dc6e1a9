// Always-on soak: the real kavaroxp binary broadcasting headless (Test Pattern
// and Test Tone, relaying to a private nginx-rtmp) for N minutes while
// visitors of each kind come and go:
//   an ASF player (a describe, then a play read for 3 s) every few seconds,
//   a browser-stream client reading /live.webm for 4 s,
//   a landing-page GET,
// and the relay's server is restarted every minute (stopped for 3 s, by
// SIGTERM and SIGKILL in turn). Without nginx's RTMP module a plain TCP
// listener that accepts and drops stands in, and the run says so.
//
//   soak [--minutes N] [--without asf,webm,page,restarts]
//
// N defaults to 10 (fractions such as 0.5 for a quick look); --without
// leaves those visitors (or the relay's restarts) out, to find which one a
// growth comes with.
//
// The program's resident memory, open descriptors and threads are sampled
// after a 30 s warm-up and at the end, each time with the visitors held off
// and the relay live, so that like is compared with like; a trend line is
// printed every minute. Lines (key=value): trend t_s= rss_mb= fds= threads=,
// then rss_start_mb= rss_end_mb= rss_growth_mb= fds_start= fds_end=
// threads_start= threads_end=, the counts of visits and relay restarts, and
// last how the run compares with the goal (RSS growth under 10 MB, no
// descriptor or thread growth). The goal is printed, never asserted: the exit
// status is 1 only when the program could not be run to the end.
#include "support/RealProgram.h"
#include "support/RelayServers.h"
#include "support/TestPorts.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<bool> g_interrupted{false};

void OnSignal(int) {
    g_interrupted = true;
}

// --- the program's figures ---

struct TSample {
    double rssMb = 0;
    int fds = 0;
    int threads = 0;
    std::map<std::string, int> fdKinds; // "socket", "pipe", "anon_inode:[eventfd]", "file", ...
};

TSample SampleOf(pid_t pid) {
    TSample s;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            s.rssMb = kb / 1024.0;
        } else if (key == "Threads:") {
            status >> s.threads;
        }
        status.ignore(4096, '\n');
    }
    if (DIR* d = ::opendir((proc + "/fd").c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            ++s.fds;
            char target[256] = {};
            const ssize_t n =
                ::readlink((proc + "/fd/" + e->d_name).c_str(), target, sizeof target - 1);
            std::string kind = n > 0 ? std::string(target, size_t(n)) : "?";
            if (kind.rfind("socket:", 0) == 0)
                kind = "socket";
            else if (kind.rfind("pipe:", 0) == 0)
                kind = "pipe";
            else if (kind.rfind("anon_inode:", 0) != 0)
                kind = kind.rfind("/dev/", 0) == 0 ? kind : "file";
            ++s.fdKinds[kind];
        }
        ::closedir(d);
    }
    return s;
}

std::string KindsText(const TSample& s) {
    std::string out;
    for (const auto& [kind, count] : s.fdKinds)
        out += (out.empty() ? "" : ",") + kind + ":" + std::to_string(count);
    return out;
}

// --- the visitors ---

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = testports::Loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Sends request, then reads until the peer closes or the time is up; keeps
// the first 64 KB (enough to check what came) and counts every byte.
struct TReply {
    std::string head;
    uint64_t bytes = 0;
};

TReply Visit(int port, const std::string& request, milliseconds readFor) {
    TReply r;
    const int fd = Connect(port);
    if (fd < 0) return r;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return r;
    }
    const auto end = Clock::now() + readFor;
    char buf[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        r.bytes += uint64_t(n);
        if (r.head.size() < 65536) r.head.append(buf, size_t(n));
    }
    ::close(fd);
    return r;
}

bool Has(const std::string& text, const char* bytes, size_t size) {
    return text.find(std::string(bytes, size)) != std::string::npos;
}

bool Ok(const TReply& r) {
    return r.head.rfind("HTTP/1.", 0) == 0 && r.head.compare(8, 5, " 200 ") == 0;
}

const char kPlayerHead[] = "User-Agent: NSPlayer/7.10.0.3059\r\n"
                           "Pragma: xClientGUID={3300AD50-2C39-46c0-AE0A-132CB9C7D4E9}\r\n"
                           "Accept: */*\r\nConnection: Close\r\n";

// An ASF player as it opens mms://: the describe, then the play for 3 s.
bool AsfPlayer(int port) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    const TReply describe =
        Visit(port, "GET / HTTP/1.0\r\n" + host + kPlayerHead + "\r\n", milliseconds(5000));
    const TReply play = Visit(port,
                              "GET / HTTP/1.0\r\n" + host + kPlayerHead +
                                  "Pragma: xPlayStrm=1\r\nPragma: stream-switch-count=2\r\n\r\n",
                              milliseconds(3000));
    return Ok(describe) && Has(describe.head, "$H", 2) && Ok(play) && Has(play.head, "$D", 2);
}

// A browser's /live.webm for 4 s: the WebM header and at least one cluster.
bool WebmClient(int port) {
    const TReply r =
        Visit(port, "GET /live.webm HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", milliseconds(4000));
    return Ok(r) && Has(r.head, "\x1A\x45\xDF\xA3", 4) && Has(r.head, "\x1F\x43\xB6\x75", 4);
}

bool LandingPage(int port) {
    const TReply r = Visit(port, "GET / HTTP/1.0\r\n\r\n", milliseconds(5000));
    return Ok(r) && r.head.find("</html>") != std::string::npos;
}

// Visitors that come and go on threads of their own, and can be held off
// (each finishes its visit) while the program is sampled.
class TAudience {
  public:
    ~TAudience() { Stop(); }
    struct TCounts {
        std::atomic<int> done{0}, failed{0};
    };
    void Add(std::function<bool()> visit, milliseconds pause, TCounts& count) {
        threads_.emplace_back([this, visit = std::move(visit), pause, &count] {
            while (!stop_) {
                ++busy_; // before looking at hold_: the sampler waits for busy_ == 0
                if (hold_) {
                    --busy_;
                    std::this_thread::sleep_for(milliseconds(50));
                    continue;
                }
                const bool ok = visit();
                ++count.done;
                if (!ok) ++count.failed;
                --busy_;
                for (auto t = milliseconds(0); t < pause && !stop_; t += milliseconds(50))
                    std::this_thread::sleep_for(milliseconds(50));
            }
        });
    }
    // Holds the visitors off; true once none is visiting.
    bool Hold(milliseconds limit) {
        hold_ = true;
        const auto end = Clock::now() + limit;
        while (busy_ > 0 && Clock::now() < end)
            std::this_thread::sleep_for(milliseconds(20));
        return busy_ == 0;
    }
    void Release() { hold_ = false; }
    void Stop() {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
        threads_.clear();
    }

  private:
    std::atomic<bool> stop_{false}, hold_{false};
    std::atomic<int> busy_{0};
    std::vector<std::thread> threads_;
};

// --- the relay's server ---

// Stands in for nginx-rtmp when its module is missing: accepts and drops.
class TDropListener {
  public:
    TDropListener() : port_(FreePort()) {}
    ~TDropListener() { Stop(); }
    bool Start() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in a = testports::Loopback(port_);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd_, 16) != 0)
            return false;
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 100) > 0) {
                    const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0) ::close(c);
                }
            }
        });
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    std::string Url() const { return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/key"; }

  private:
    int port_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool NginxRtmpPresent() {
    return std::filesystem::exists("/usr/lib/nginx/modules/ngx_rtmp_module.so") &&
           (std::filesystem::exists("/usr/sbin/nginx") ||
            std::filesystem::exists("/usr/bin/nginx"));
}

// --- the run ---

struct TRunFigures {
    int viewerEvents = 0;   // "viewer joined" lines
    int relayLive = 0;      // "relay: live" lines
    std::string relayState; // the last relay line
};

// Reads what the program prints for a while (a full pipe must never hold it
// up) and notes its events; false when it has ended.
bool Pump(TRealProgram& program, milliseconds time, TRunFigures& f) {
    const auto end = Clock::now() + time;
    std::string line;
    while (Clock::now() < end && !g_interrupted) {
        if (program.ReadLine(line, std::min(end, Clock::now() + milliseconds(100)))) {
            if (line.find("viewer joined") != std::string::npos) ++f.viewerEvents;
            const auto relay = line.find("relay: ");
            if (relay != std::string::npos) {
                f.relayState = line.substr(relay);
                if (f.relayState.rfind("relay: live", 0) == 0) ++f.relayLive;
            }
        }
        if (!program.Running()) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    std::string without;
    for (int i = 1; i < argc; i += 2) {
        const bool known = i + 1 < argc && (std::strcmp(argv[i], "--minutes") == 0 ||
                                            std::strcmp(argv[i], "--without") == 0);
        if (known && argv[i][2] == 'm') minutes = std::atof(argv[i + 1]);
        if (known && argv[i][2] == 'w') without = std::string(",") + argv[i + 1] + ",";
        if (!known || minutes <= 0) {
            std::fprintf(stderr, "usage: soak [--minutes N] [--without asf,webm,page,restarts]   "
                                 "(N: default 10; 0.5 for a quick look)\n");
            return 2;
        }
    }
    const auto left = [&](const char* what) {
        return without.find(std::string(",") + what + ",") == std::string::npos;
    };
    ::signal(SIGINT, OnSignal);
    ::signal(SIGTERM, OnSignal);
    ::signal(SIGPIPE, SIG_IGN);

    const TWorkDir dir;
    const bool withNginx = NginxRtmpPresent();
    std::unique_ptr<relaytest::TNginxRtmp> nginx;
    std::unique_ptr<TDropListener> drop;
    std::string relayUrl;
    if (withNginx) {
        nginx = std::make_unique<relaytest::TNginxRtmp>((dir.Path() / "nginx").string());
        relayUrl = nginx->Url("goodkey");
    } else {
        std::printf("note: nginx with its RTMP module is missing (libnginx-mod-rtmp); the relay's "
                    "server is a TCP listener that accepts and drops\n");
        drop = std::make_unique<TDropListener>();
        relayUrl = drop->Url();
    }
    if (withNginx ? !nginx->Start() : !drop->Start()) {
        std::fprintf(stderr, "soak: the relay's server did not start\n");
        return 1;
    }

    const int asfPort = FreePort(), httpPort = FreePort();
    TRealProgram program(dir.Path(),
                         {"--broadcast", "--address", "127.0.0.1", "--asf-port",
                          std::to_string(asfPort), "--http-port", std::to_string(httpPort),
                          "--video", "Test Pattern", "--audio", "Test Tone", "--relay", relayUrl});
    TRunFigures f;
    {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        std::string line;
        bool started = false;
        while (!started && program.ReadLine(line, deadline))
            started = line.find("broadcasting:") != std::string::npos;
        if (!started) {
            std::fprintf(stderr, "soak: the program did not start broadcasting:\n%s\nlog:\n%s\n",
                         program.Output().c_str(), program.Log().c_str());
            return 1;
        }
    }
    const pid_t pid = program.Pid();
    const auto t0 = Clock::now();
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
    std::fprintf(stderr, "soak: kavaroxp %d broadcasting on %d (page %d), relay %s, %.1f min\n",
                 int(pid), asfPort, httpPort, relayUrl.c_str(), minutes);

    TAudience::TCounts asfJoins, webmJoins, pageGets;
    TAudience audience;
    if (left("asf"))
        audience.Add([asfPort] { return AsfPlayer(asfPort); }, milliseconds(2000), asfJoins);
    if (left("webm"))
        audience.Add([asfPort] { return WebmClient(asfPort); }, milliseconds(3000), webmJoins);
    if (left("page"))
        audience.Add([httpPort] { return LandingPage(httpPort); }, milliseconds(1000), pageGets);

    constexpr double kWarmUp = 30;
    const double end = kWarmUp + minutes * 60;
    const double restartEvery = std::min(60.0, minutes * 60 / 2);
    double nextRestart = kWarmUp + restartEvery, nextTrend = 60;
    int restarts = 0;
    bool alive = true;

    // Samples with the visitors held off and the relay live (up to 20 s for it).
    const auto quietSample = [&](TSample& s) {
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (alive && f.relayState.rfind("relay: live", 0) != 0 && Clock::now() < until)
            alive = Pump(program, milliseconds(200), f);
        audience.Hold(std::chrono::seconds(15));
        // Let the program notice the leavers and end their threads.
        alive = alive && Pump(program, milliseconds(3000), f);
        s = SampleOf(pid);
        audience.Release();
        return alive;
    };

    TSample start, last;
    alive = Pump(program, milliseconds(int(kWarmUp * 1000)), f) && quietSample(start);
    std::printf("rss_start_mb=%.1f fds_start=%d threads_start=%d fd_kinds_start=%s\n", start.rssMb,
                start.fds, start.threads, KindsText(start).c_str());
    std::fflush(stdout);
    while (alive && !g_interrupted && since() < end) {
        if (left("restarts") && since() >= nextRestart && since() < end - 10) {
            nextRestart += restartEvery;
            if (nginx) {
                nginx->Stop(restarts % 2 ? SIGKILL : SIGTERM);
                alive = Pump(program, milliseconds(3000), f);
                if (!nginx->Start()) std::fprintf(stderr, "soak: nginx did not start again\n");
            } else {
                drop->Stop();
                alive = Pump(program, milliseconds(3000), f);
                drop->Start();
            }
            ++restarts;
        }
        if (since() >= nextTrend) {
            nextTrend += 60;
            const TSample s = SampleOf(pid);
            std::printf("trend t_s=%.0f rss_mb=%.1f fds=%d threads=%d relay=\"%s\"\n", since(),
                        s.rssMb, s.fds, s.threads, f.relayState.c_str());
            std::fflush(stdout);
        }
        alive = alive && Pump(program, milliseconds(200), f);
    }
    if (alive) alive = quietSample(last);
    audience.Stop();

    if (!alive) {
        std::printf("program_ended_early=1 at_s=%.0f\n", since());
        std::fprintf(stderr, "soak: the program ended early; its log:\n%s\n",
                     program.Log().c_str());
    }
    std::printf("rss_end_mb=%.1f fds_end=%d threads_end=%d fd_kinds_end=%s\n", last.rssMb, last.fds,
                last.threads, KindsText(last).c_str());
    const int published = nginx ? nginx->PublishAttempts() : -1;
    std::printf("asf_joins=%d asf_failed=%d webm_joins=%d webm_failed=%d page_gets=%d "
                "page_failed=%d viewer_events=%d relay_restarts=%d relay_publishes=%d "
                "relay_live_events=%d relay_server=%s\n",
                asfJoins.done.load(), asfJoins.failed.load(), webmJoins.done.load(),
                webmJoins.failed.load(), pageGets.done.load(), pageGets.failed.load(),
                f.viewerEvents, restarts, published, f.relayLive,
                nginx ? "nginx-rtmp" : "drop-listener");
    int exitStatus = -1;
    if (alive) {
        program.Signal(SIGTERM);
        exitStatus = program.WaitExit(std::chrono::seconds(30));
    }
    const double growth = last.rssMb - start.rssMb;
    std::printf("minutes=%.2f rss_growth_mb=%.1f fds_growth=%d threads_growth=%d program_exit=%d\n",
                (since() - kWarmUp) / 60, growth, last.fds - start.fds,
                last.threads - start.threads, exitStatus);
    std::printf("goal rss_growth_under_10mb=%s no_fd_growth=%s no_thread_growth=%s\n",
                alive && growth < 10 ? "met" : "missed",
                alive && last.fds <= start.fds ? "met" : "missed",
                alive && last.threads <= start.threads ? "met" : "missed");
    return alive ? 0 : 1;
}
