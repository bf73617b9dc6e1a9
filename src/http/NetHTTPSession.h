#pragma once
// Optional per-client HTTP state: sessions keyed by the "HTTPSESSIONID"
// cookie, the list that owns them, and the thread that ends idle ones.
#include "common/DateTime.h"
#include "common/StringList.h"
#include "net/NetException.h"
#include "net/NetThread.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TNetHTTPCustomSessionList;
class TNetHTTPSession;

class ENetHTTPTooManySessions : public ENetException {
  public:
    ENetHTTPTooManySessions() : ENetException("Too many sessions.") {}
};

// Sessions are shared: the list owns them, and a request being served keeps
// its session alive even when the list ends it meanwhile.
using TNetHTTPSessionRef = std::shared_ptr<TNetHTTPSession>;

using TOnSessionStartEvent = std::function<void(TNetHTTPSession& session)>;
using TOnSessionEndEvent = std::function<void(TNetHTTPSession& session)>;

class TNetHTTPSession {
  public:
    // A session made by the application: empty key and address, never used.
    explicit TNetHTTPSession(TNetHTTPCustomSessionList* owner = nullptr);
    TNetHTTPSession(TNetHTTPCustomSessionList* owner, std::string sessionKey,
                    std::string remoteAddress);
    virtual ~TNetHTTPSession() = default;
    TNetHTTPSession(const TNetHTTPSession&) = delete;
    TNetHTTPSession& operator=(const TNetHTTPSession&) = delete;

    std::string SessionKey;
    std::string RemoteAddress;
    TDateTime LastUsed = 0;    // guarded by the owning list's lock
    TStringList SessionValues; // guarded by SessionLock (the application's)
    std::mutex SessionLock;    // for the application; the server never takes it

    TNetHTTPCustomSessionList* Owner() const { return owner_; }
    // Idle for longer than the owner's SessionTimeout (call under the list lock).
    bool IsStale() const;

  private:
    friend class TNetHTTPCustomSessionList;
    friend class TNetHTTPDefaultSessionList;
    TNetHTTPCustomSessionList* owner_; // none once detached
};

class TNetHTTPCustomSessionList {
  public:
    TNetHTTPCustomSessionList() = default;
    virtual ~TNetHTTPCustomSessionList() = default;
    TNetHTTPCustomSessionList(const TNetHTTPCustomSessionList&) = delete;
    TNetHTTPCustomSessionList& operator=(const TNetHTTPCustomSessionList&) = delete;

    int SessionTimeout = 0; // ms
    TOnSessionStartEvent OnSessionStart;
    TOnSessionEndEvent OnSessionEnd;

    virtual TNetHTTPSessionRef FindSession(const std::string& sessionKey,
                                           const std::string& remoteAddress) = 0;
    virtual TNetHTTPSessionRef NewUniqueSession(const std::string& remoteAddress) = 0;
    virtual void AddSession(TNetHTTPSessionRef session) = 0;
    virtual void RemoveSession(TNetHTTPSession& session) = 0; // detaches without ending
    virtual void ClearSessions() = 0;
    virtual void PurgeStale(bool all) = 0;
    // Ends an owned session: OnSessionEnd once, then removal from the list.
    virtual void EndSession(TNetHTTPSession& session) = 0;
    virtual int Count() = 0;

  protected:
    void FireSessionStart(TNetHTTPSession& s) {
        if (OnSessionStart) OnSessionStart(s);
    }
    void FireSessionEnd(TNetHTTPSession& s) {
        if (OnSessionEnd) OnSessionEnd(s);
    }
    static void Detach(TNetHTTPSession& s) { s.owner_ = nullptr; }
};

class TNetHTTPDefaultSessionList : public TNetHTTPCustomSessionList {
  public:
    static constexpr int kInitialCapacity = 128;

    TNetHTTPDefaultSessionList();
    ~TNetHTTPDefaultSessionList() override;

    TNetHTTPSessionRef FindSession(const std::string& sessionKey,
                                   const std::string& remoteAddress) override;
    // 22 characters of 61 kinds: over 128 bits from the system's random source.
    static constexpr int kSessionKeyLength = 22;
    // Live sessions at most; a new one past it raises ENetHTTPTooManySessions.
    int MaxSessions = 10000;
    TNetHTTPSessionRef NewUniqueSession(const std::string& remoteAddress) override;
    void AddSession(TNetHTTPSessionRef session) override;
    void RemoveSession(TNetHTTPSession& session) override;
    void ClearSessions() override;
    void PurgeStale(bool all) override;
    void EndSession(TNetHTTPSession& session) override;
    int Count() override;

  private:
    TNetHTTPSessionRef FindSessionLocked(const std::string& sessionKey,
                                         const std::string& remoteAddress);

    std::recursive_mutex lock_; // guards sessions_ and every session's LastUsed
    std::vector<TNetHTTPSessionRef> sessions_;
};

class TNetHTTPSessionCleanerThread : public TNetThread {
  public:
    // Created running at idle priority.
    explicit TNetHTTPSessionCleanerThread(TNetHTTPCustomSessionList& sessionList);
    ~TNetHTTPSessionCleanerThread() override;

  protected:
    void LoopStep() override;
    void AfterLoop() override;

  private:
    TNetHTTPCustomSessionList& sessionList_;
};

// n characters drawn from the session key alphabet.
std::string MakeSessionKey(int length);
