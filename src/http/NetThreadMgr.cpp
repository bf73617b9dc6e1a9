#include "http/NetThreadMgr.h"

#include <algorithm>

TNetThreadMgr::~TNetThreadMgr() {
    // Servers stop their peers now, while the thread list still exists.
    NotifyFreed();
}

TNetThread* TNetThreadMgr::MakeThread() {
    if (!PeerThreadClass) throw ENetThreadClassNotSpecified();
    std::unique_ptr<TNetThread> thread = PeerThreadClass();
    if (!thread) throw ENetThreadClassNotSpecified();
    // New threads already run at normal priority; skip the system call then.
    if (thread->Priority() != PeerThreadPriority) thread->SetPriority(PeerThreadPriority);
    return thread.release();
}

int TNetThreadMgr::ActiveThreadCount() {
    std::lock_guard guard(activeLock_);
    return static_cast<int>(activeThreads_.size());
}

bool TNetThreadMgr::IsActive(TNetThread* thread) {
    std::lock_guard guard(activeLock_);
    return std::find(activeThreads_.begin(), activeThreads_.end(), thread) != activeThreads_.end();
}
