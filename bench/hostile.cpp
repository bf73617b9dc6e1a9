// Hostile clients against the servers as the program configures them, each
// in a child process whose soft descriptor limit is 1,024:
//   stream port: 2,000 silent connections, then one viewer (time to its 200)
//   landing page: 2,000 idle + 200 slow-header connections, a 60 MB form
//   POST and a 1 MB folded header, while a well-behaved client fetches "/".
//   body flood: 256 connections that announce 64 MB POST bodies and send
//   them slowly (reconnecting when closed), against the landing page whose
//   routes take no body, then against a server that declares nothing (the
//   body budget alone), while a well-behaved client fetches "/".
// Lines: stream_viewer_ms=, then page_p99_ms= rss_growth_mb= refused= crashed=,
// then body_flood routes= page_p99_ms= page_ok= rss_growth_mb= refused_413=
// refused_503= crashed= for each body-flood server, then unfold_ratio=: the
// time to unfold a folded header of 4n lines over n lines (linear: about 4).
#include "BenchSupport.h"
#include "http/NetHTTPServer.h"
#include "http/NetHeaderList.h"
#include "platform/stream/AsfStreamServer.h"
#include "support/AsfTestStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

int Connect(int port, bool wait) {
    int fd = ::socket(AF_INET, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && wait) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendAll(int fd, const std::string& s) {
    for (size_t off = 0; off < s.size();) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += size_t(n);
    }
}

std::string ReadReply(int fd, int timeoutMs) {
    std::string out;
    char buf[8192];
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int left =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0) return out;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return out;
        out.append(buf, size_t(n));
        if (out.find("\r\n\r\n") != std::string::npos && out.find("</html>") != std::string::npos)
            return out;
    }
}

long StatusKiB(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == field) {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return 0;
}

// Runs serve(portPipe) in a child with the soft descriptor limit at 1,024.
template <class Serve> pid_t Spawn(Serve serve, int& port) {
    int p[2];
    if (::pipe(p) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        rlimit lim{};
        getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = 1024;
        setrlimit(RLIMIT_NOFILE, &lim);
        ::close(p[0]);
        serve(p[1]);
        _exit(0);
    }
    ::close(p[1]);
    if (::read(p[0], &port, sizeof port) != sizeof port) port = 0;
    ::close(p[0]);
    return pid;
}

bool Crashed(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

void Finish(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

std::vector<int> Flood(int port, int count) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        int fd = Connect(port, false);
        if (fd >= 0) fds.push_back(fd);
    }
    return fds;
}

// The landing page as the program configures it; declared: its routes
// say they take no body.
pid_t SpawnPageServer(int& port, bool declared) {
    return Spawn(
        [declared](int out) {
            const std::string page = BenchPage();
            TNetHTTPServer server;
            TNetSocketHandle& b = server.Bindings().Add();
            b.SetIP("127.0.0.1");
            server.ListenQueue = 99;
            server.TerminateWaitTime = 7500;
            server.MaxConnections = TNetCustomHTTPServer::kDefaultMaxConnections;
            server.EvictWaitingAtLimit = true;
            server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&,
                                      TNetHTTPResponseInfo& rs) { rs.ContentString = page; };
            if (declared)
                server.OnBodyLimit = [](const TNetHTTPRequestInfo&) -> int64_t { return 0; };
            server.SetActive(true);
            int p = server.Bindings()[0].Port();
            (void)!::write(out, &p, sizeof p);
            pause();
        },
        port);
}

// 200 fetches of "/", 20 ms apart: each one's time, 5 s for a failed one.
std::vector<double> FetchPages(int port, int& ok) {
    std::vector<double> ms;
    ok = 0;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        int fd = Connect(port, true);
        SendAll(fd, "GET / HTTP/1.0\r\n\r\n");
        const std::string reply = ReadReply(fd, 5000);
        ::close(fd);
        const bool served = reply.find("200 OK") != std::string::npos;
        ok += served ? 1 : 0;
        ms.push_back(served ? MsSince(t0) : 5000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

// Seconds to unfold a header folded over `lines` continuation lines, 5 times.
double UnfoldSeconds(int lines) {
    TNetHeaderList list;
    list.UnfoldLines = true;
    list.Add("X-Folded: start");
    for (int i = 0; i < lines; ++i)
        list.Add(" x");
    const auto t0 = Clock::now();
    size_t total = 0;
    for (int round = 0; round < 5; ++round)
        total += list.GetFieldValue("X-Folded").size();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return total ? s : 0;
}

double P99(const std::vector<double>& sorted) {
    return sorted[sorted.size() * 99 / 100 - 1];
}

// 256 clients announce 64 MB bodies and send 16 KB of them every 100 ms,
// connecting again when the server closes; the page is fetched meanwhile.
bool BodyFlood(bool declared) {
    int port = 0;
    pid_t http = SpawnPageServer(port, declared);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long rss0 = StatusKiB(http, "VmRSS:");
    std::atomic<bool> running{true};
    std::atomic<int> refused413{0}, refused503{0};
    std::thread flood([&] {
        const std::string head = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 67108864\r\n\r\n";
        const std::string piece(16 * 1024, 'b');
        std::vector<int> fds(256, -1);
        while (running) {
            for (int& fd : fds) {
                if (fd >= 0) {
                    char buf[4096];
                    ssize_t n;
                    while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
                        const std::string got(buf, size_t(n));
                        if (got.rfind("HTTP/1.1 413", 0) == 0) ++refused413;
                        if (got.rfind("HTTP/1.1 503", 0) == 0) ++refused503;
                    }
                    bool gone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                    if (!gone &&
                        ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
                        gone = errno != EAGAIN && errno != EWOULDBLOCK;
                    if (gone) {
                        ::close(fd);
                        fd = -1;
                    }
                }
                if (fd < 0 && (fd = Connect(port, true)) >= 0) {
                    SendAll(fd, head);
                    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the flood under way
    int ok = 0;
    const std::vector<double> ms = FetchPages(port, ok);
    running = false;
    flood.join();
    const long growth = StatusKiB(http, "VmHWM:") - rss0;
    const int crashed = Crashed(http) ? 1 : 0;
    if (!crashed) Finish(http);
    std::printf("body_flood routes=%s page_p99_ms=%.1f page_ok=%d/200 rss_growth_mb=%.1f "
                "refused_413=%d refused_503=%d crashed=%d\n",
                declared ? "no-body" : "undeclared", P99(ms), ok, double(growth) / 1024.0,
                refused413.load(), refused503.load(), crashed);
    return crashed != 0;
}

int ClosedByServer(const std::vector<int>& fds) {
    int closed = 0;
    for (int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        char c;
        if (::poll(&p, 1, 0) > 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0) ++closed;
    }
    return closed;
}
} // namespace

int main() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max; // the clients need well over 1,024
    setrlimit(RLIMIT_NOFILE, &lim);

    // --- the stream port ---
    int streamPort = 0;
    pid_t stream = Spawn(
        [](int out) {
            AsfStreamServer server;
            server.SetBindAddress("127.0.0.1");
            server.SetMaximumClients(3);
            uint32_t port = 0;
            if (!server.Open(port)) return;
            server.SetHeader(asftest::MakeHeader(1000));
            int p = int(port);
            (void)!::write(out, &p, sizeof p);
            pause();
        },
        streamPort);
    std::vector<int> silent = Flood(streamPort, 2000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto v0 = Clock::now();
    int viewer = Connect(streamPort, true);
    SendAll(viewer, "GET / HTTP/1.1\r\nHost: x\r\nUser-Agent: bench\r\n\r\n");
    std::string head;
    char c;
    pollfd pv{viewer, POLLIN, 0};
    while (head.find("\r\n\r\n") == std::string::npos && ::poll(&pv, 1, 10000) > 0 &&
           ::recv(viewer, &c, 1, 0) == 1)
        head += c;
    const double viewerMs = head.find("200 OK") != std::string::npos ? MsSince(v0) : -1;
    std::printf("stream_viewer_ms=%.1f stream_crashed=%d\n", viewerMs, Crashed(stream) ? 1 : 0);
    for (int fd : silent)
        ::close(fd);
    ::close(viewer);
    Finish(stream);

    // --- the landing page ---
    int port = 0;
    pid_t http = SpawnPageServer(port, false);
    const long rss0 = StatusKiB(http, "VmRSS:");
    std::vector<int> idle = Flood(port, 2000);
    std::vector<int> slow = Flood(port, 200);
    std::atomic<bool> running{true};
    std::thread slowSender([&] {
        for (int fd : slow)
            SendAll(fd, "GET / HTTP/1.1\r\nX-Slow: ");
        while (running) {
            for (int fd : slow)
                SendAll(fd, "x");
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    std::thread big([&] {
        int fd = Connect(port, true);
        const std::string body(60 * 1024 * 1024, 'a');
        SendAll(fd, "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                    "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
        ::close(fd);
        fd = Connect(port, true);
        std::string folded = "GET / HTTP/1.1\r\nX-Folded: a\r\n";
        while (folded.size() < 1000 * 1000)
            folded += " x\r\n";
        SendAll(fd, folded + "\r\n");
        ReadReply(fd, 10000);
        ::close(fd);
    });
    int ok = 0;
    const std::vector<double> ms = FetchPages(port, ok);
    big.join();
    running = false;
    slowSender.join();
    const double p99 = P99(ms);
    const long growth = StatusKiB(http, "VmHWM:") - rss0;
    const int refused = ClosedByServer(idle) + ClosedByServer(slow);
    const int crashed = Crashed(http) ? 1 : 0;
    for (int fd : idle)
        ::close(fd);
    for (int fd : slow)
        ::close(fd);
    if (!crashed) Finish(http);
    std::printf("page_p99_ms=%.1f rss_growth_mb=%.1f refused=%d crashed=%d\n", p99,
                double(growth) / 1024.0, refused, crashed);

    // --- request bodies ---
    const bool floodCrashed = BodyFlood(true) | BodyFlood(false);

    // --- header unfolding ---
    UnfoldSeconds(20000); // warm-up
    const double small = UnfoldSeconds(40000), large = UnfoldSeconds(160000);
    std::printf("unfold_ratio=%.2f\n", small > 0 ? large / small : 0);
    return crashed || floodCrashed ? 1 : 0;
}
