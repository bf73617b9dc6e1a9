#include "http/NetThreadMgrDefault.h"

#include <algorithm>

TNetThreadMgrDefault::~TNetThreadMgrDefault() {
    // Before this part goes: a server told now may still return threads.
    NotifyFreed();
}

TNetThread* TNetThreadMgrDefault::AcquireThread() {
    TNetThread* thread = MakeThread();
    std::lock_guard guard(activeLock_);
    activeThreads_.push_back(thread);
    return thread;
}

void TNetThreadMgrDefault::ReturnThread(TNetThread* thread) {
    {
        std::lock_guard guard(activeLock_);
        auto it = std::find(activeThreads_.begin(), activeThreads_.end(), thread);
        if (it == activeThreads_.end()) return; // already returned
        activeThreads_.erase(it);
    }
    if (thread->IsCurrentThread()) {
        thread->SetFreeOnTerminate(true);
        thread->TerminateThread();
    } else {
        // A thread that never ran wakes only to leave its loop.
        std::unique_ptr<TNetThread> owned(thread);
        owned->TerminateAndWait();
    }
}
