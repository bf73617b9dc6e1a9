#include "http/NetHTTPSession.h"

#include "common/Text.h"

#include <chrono>
#include <cmath>
#include <sys/random.h>

TNetHTTPSession::TNetHTTPSession(TNetHTTPCustomSessionList* owner) : owner_(owner) {}

TNetHTTPSession::TNetHTTPSession(TNetHTTPCustomSessionList* owner, std::string sessionKey,
                                 std::string remoteAddress)
    : SessionKey(std::move(sessionKey)), RemoteAddress(std::move(remoteAddress)), LastUsed(Now()),
      owner_(owner) {}

bool TNetHTTPSession::IsStale() const {
    if (!owner_) return false;
    const double idleMs = std::floor((Now() - LastUsed) * kMSecsPerDay + 0.5);
    return idleMs > static_cast<double>(owner_->SessionTimeout);
}

std::string MakeSessionKey(int length) {
    // The final '0' of the alphabet is never drawn: keys use its first 61 characters.
    static const char kAlphabet[] =
        "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM1234567890";
    // From the system's random source, without bias: bytes of 244 and above
    // (4 * 61) are drawn again.
    std::string key;
    unsigned char pool[64];
    while (static_cast<int>(key.size()) < length) {
        ssize_t got = ::getrandom(pool, sizeof pool, 0);
        if (got <= 0) continue; // interrupted; the source itself never runs dry
        for (ssize_t i = 0; i < got && static_cast<int>(key.size()) < length; ++i)
            if (pool[i] < 244) key += kAlphabet[pool[i] % 61];
    }
    return key;
}

// ---- default list -------------------------------------------------------

TNetHTTPDefaultSessionList::TNetHTTPDefaultSessionList() {
    sessions_.reserve(kInitialCapacity);
}

TNetHTTPDefaultSessionList::~TNetHTTPDefaultSessionList() {
    // Sessions outliving the list (held by a request) must not point back at it.
    std::lock_guard guard(lock_);
    for (auto& s : sessions_)
        Detach(*s);
}

TNetHTTPSessionRef TNetHTTPDefaultSessionList::FindSessionLocked(const std::string& sessionKey,
                                                                 const std::string& remoteAddress) {
    for (auto& s : sessions_) {
        if (SameText(s->SessionKey, sessionKey) &&
            (remoteAddress.empty() || SameText(s->RemoteAddress, remoteAddress))) {
            s->LastUsed = Now();
            return s;
        }
    }
    return nullptr;
}

TNetHTTPSessionRef TNetHTTPDefaultSessionList::FindSession(const std::string& sessionKey,
                                                           const std::string& remoteAddress) {
    std::lock_guard guard(lock_);
    return FindSessionLocked(sessionKey, remoteAddress);
}

TNetHTTPSessionRef TNetHTTPDefaultSessionList::NewUniqueSession(const std::string& remoteAddress) {
    {
        std::lock_guard guard(lock_);
        if (static_cast<int>(sessions_.size()) >= MaxSessions) throw ENetHTTPTooManySessions();
    }
    std::string key = MakeSessionKey(kSessionKeyLength);
    while (FindSession(key, remoteAddress))
        key = MakeSessionKey(kSessionKeyLength);
    auto session = std::make_shared<TNetHTTPSession>(this, key, remoteAddress);
    FireSessionStart(*session);
    std::lock_guard guard(lock_);
    sessions_.push_back(session);
    return session;
}

void TNetHTTPDefaultSessionList::AddSession(TNetHTTPSessionRef session) {
    if (!session) return;
    std::lock_guard guard(lock_);
    session->owner_ = this;
    sessions_.push_back(std::move(session));
}

void TNetHTTPDefaultSessionList::RemoveSession(TNetHTTPSession& session) {
    std::lock_guard guard(lock_);
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->get() == &session) {
            sessions_.erase(it);
            return;
        }
    }
}

void TNetHTTPDefaultSessionList::EndSession(TNetHTTPSession& session) {
    std::lock_guard guard(lock_);
    if (session.owner_ != this) return; // detached sessions end only once
    FireSessionEnd(session);
    Detach(session);
    RemoveSession(session);
}

void TNetHTTPDefaultSessionList::ClearSessions() {
    std::lock_guard guard(lock_);
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) {
        FireSessionEnd(**it);
        Detach(**it);
    }
    sessions_.clear();
    sessions_.shrink_to_fit();
    sessions_.reserve(kInitialCapacity);
}

void TNetHTTPDefaultSessionList::PurgeStale(bool all) {
    std::lock_guard guard(lock_);
    for (int i = static_cast<int>(sessions_.size()) - 1; i >= 0; --i) {
        TNetHTTPSession& s = *sessions_[static_cast<size_t>(i)];
        if (all || s.IsStale()) {
            FireSessionEnd(s);
            Detach(s);
            sessions_.erase(sessions_.begin() + i);
        }
    }
}

int TNetHTTPDefaultSessionList::Count() {
    std::lock_guard guard(lock_);
    return static_cast<int>(sessions_.size());
}

// ---- cleaner ------------------------------------------------------------

TNetHTTPSessionCleanerThread::TNetHTTPSessionCleanerThread(TNetHTTPCustomSessionList& sessionList)
    : sessionList_(sessionList) {
    SetPriority(TNetThreadPriority::tpIdle);
    StartThread();
}

TNetHTTPSessionCleanerThread::~TNetHTTPSessionCleanerThread() {
    TerminateAndWait();
}

void TNetHTTPSessionCleanerThread::LoopStep() {
    // One pass a second; a stop request cuts the wait short.
    WaitUntilStopped(std::chrono::milliseconds(1000));
    sessionList_.PurgeStale(Terminated());
}

void TNetHTTPSessionCleanerThread::AfterLoop() {
    sessionList_.PurgeStale(true);
}
