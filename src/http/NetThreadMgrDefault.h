#pragma once
// The default thread manager: a new thread for every connection, never reused.
#include "http/NetThreadMgr.h"

class TNetThreadMgrDefault : public TNetThreadMgr {
  public:
    ~TNetThreadMgrDefault() override;

    TNetThread* AcquireThread() override;
    // From the thread itself: it frees itself when it ends. From another
    // thread: the thread is ended, waited for and freed here.
    void ReturnThread(TNetThread* thread) override;
};
