// The comparison baseline: a minimal thread-per-connection server. Accept,
// spawn a thread, read to the blank line, write the same 2 KB page, close.
//   minimal_http_server --port P --seconds S
#include "BenchSupport.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {
void Serve(int fd, const std::string& reply) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
    }
    if (request.find("\r\n\r\n") != std::string::npos)
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}
} // namespace

int main(int argc, char** argv) {
    int port = 8082;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
    }
    const std::string page = BenchPage();
    // Static: detached connection threads may still read it while main returns.
    static const std::string reply =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: " +
        std::to_string(page.size()) + "\r\n\r\n" + page;

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::listen(listener, 99) != 0) {
        std::perror("bind/listen");
        return 1;
    }
    std::printf("listening on %d\n", port);
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        std::thread(Serve, fd, std::cref(reply)).detach();
    }
    ::close(listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let detached threads finish
    return 0;
}
