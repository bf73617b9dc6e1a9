#include "platform/stream/AsfPendingRequests.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr size_t kMaxRequestSize = 16 * 1024;

// True when the line has the form "METHOD target HTTP/x.y".
bool IsRequestLine(std::string_view line) {
    const size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos || sp1 == 0) return false;
    for (size_t i = 0; i < sp1; ++i)
        if (line[i] < 'A' || line[i] > 'Z') return false;
    const size_t sp2 = line.rfind(' ');
    if (sp2 == sp1) return false;
    return line.substr(sp2 + 1).starts_with("HTTP/");
}

} // namespace

StreamRequestState SniffStreamRequest(std::string_view received) {
    if (received.empty()) return StreamRequestState::Incomplete;
    if (received.size() > kMaxRequestSize) return StreamRequestState::Refused;
    // A player's binary protocol greeting is refused at once, so that the
    // player moves on to HTTP.
    if (received[0] < 'A' || received[0] > 'Z') return StreamRequestState::Refused;
    const size_t eol = received.find('\n');
    if (eol != std::string_view::npos) {
        std::string_view line = received.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!IsRequestLine(line)) return StreamRequestState::Refused;
        if (received.find("\r\n\r\n") != std::string_view::npos ||
            received.find("\n\n") != std::string_view::npos)
            return StreamRequestState::Complete;
    }
    return StreamRequestState::Incomplete;
}

AsfPendingRequests::AsfPendingRequests(size_t capacity, std::chrono::milliseconds timeout)
    : capacity_(capacity > 0 ? capacity : 1), timeout_(timeout) {}

AsfPendingRequests::~AsfPendingRequests() {
    CloseAll();
}

void AsfPendingRequests::Add(OwnedFd socket) {
    if (entries_.size() >= capacity_) {
        entries_.pop_front();
        ++evicted_;
    }
    entries_.push_back({std::move(socket), {}, std::chrono::steady_clock::now()});
}

void AsfPendingRequests::AppendPollFds(std::vector<pollfd>& fds) const {
    for (const Entry& e : entries_)
        fds.push_back({e.socket.Get(), POLLIN, 0});
}

std::vector<AsfPendingRequests::Ready> AsfPendingRequests::Service(const std::vector<pollfd>& fds,
                                                                   size_t offset) {
    std::vector<Ready> ready;
    const auto now = std::chrono::steady_clock::now();
    std::deque<Entry> kept;
    for (size_t i = 0; i < entries_.size(); ++i) {
        Entry& e = entries_[i];
        const short revents = offset + i < fds.size() ? fds[offset + i].revents : 0;
        bool drop = false;
        if (revents != 0) {
            char buf[2048];
            for (;;) {
                const ssize_t got = ::recv(e.socket.Get(), buf, sizeof buf, MSG_DONTWAIT);
                if (got > 0) {
                    e.data.append(buf, size_t(got));
                    if (e.data.size() > kMaxRequestSize) break;
                    continue;
                }
                if (got < 0 && errno == EINTR) continue;
                // Closed, reset, or nothing more for now.
                drop = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
        }
        const StreamRequestState state = SniffStreamRequest(e.data);
        if (state == StreamRequestState::Complete) {
            ready.push_back({std::move(e.socket), std::move(e.data)});
            continue;
        }
        // Refused, closed and expired ones close with the old list.
        if (drop || state == StreamRequestState::Refused || now - e.since >= timeout_) continue;
        kept.push_back(std::move(e));
    }
    entries_.swap(kept);
    return ready;
}

int AsfPendingRequests::NextExpiryMs() const {
    if (entries_.empty()) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        entries_.front().since + timeout_ - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : int(left.count()) + 1;
}

void AsfPendingRequests::CloseAll() {
    entries_.clear();
}
