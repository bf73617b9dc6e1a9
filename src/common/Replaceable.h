#pragma once
// TReplaceable: a process-wide callback that tests (or the program) replace
// while other threads may be calling it. Callers take a copy and call that,
// so a replacement never pulls the callback away mid-call.
#include <mutex>
#include <utility>

template <class F> class TReplaceable {
  public:
    void Set(F callback) {
        std::lock_guard lock(lock_);
        callback_ = std::move(callback);
    }
    F Get() const {
        std::lock_guard lock(lock_);
        return callback_;
    }

  private:
    mutable std::mutex lock_;
    F callback_;
};
