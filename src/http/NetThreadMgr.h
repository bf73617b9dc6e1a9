#pragma once
// Thread managers hand peer threads to a server and take them back.
#include "net/NetException.h"
#include "net/NetFreeNotification.h"
#include "net/NetThread.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ENetThreadClassNotSpecified : public ENetException {
  public:
    ENetThreadClassNotSpecified() : ENetException("Thread Class Not Specified.") {}
};

// The "class" of peer threads: makes a new, parked thread.
using TNetThreadClass = std::function<std::unique_ptr<TNetThread>()>;

class TNetThreadMgr : public TNetFreeNotifier {
  public:
    TNetThreadMgr() = default;
    virtual ~TNetThreadMgr();
    TNetThreadMgr(const TNetThreadMgr&) = delete;
    TNetThreadMgr& operator=(const TNetThreadMgr&) = delete;

    // Threads handed out arrive parked; the caller starts them. A thread is
    // returned exactly once (later returns do nothing).
    virtual TNetThread* AcquireThread() = 0;
    virtual void ReturnThread(TNetThread* thread) = 0;

    // A new parked thread of PeerThreadClass at PeerThreadPriority; raises
    // ENetThreadClassNotSpecified when no class is set.
    TNetThread* MakeThread();

    TNetThreadClass PeerThreadClass; // copied from the server at every activation
    TNetThreadPriority PeerThreadPriority = TNetThreadPriority::tpNormal;

    int ActiveThreadCount();
    bool IsActive(TNetThread* thread);

  protected:
    std::mutex activeLock_;                  // guards activeThreads_
    std::vector<TNetThread*> activeThreads_; // ActiveThreadList: handed out, not owned
};
