#pragma once
// Lets others hold a plain pointer to an object and be told when it is
// destroyed (a server forgets its thread manager, accepting handler or
// intercept then).
#include <functional>
#include <map>
#include <mutex>

class TNetFreeNotifier {
  public:
    TNetFreeNotifier() = default;
    virtual ~TNetFreeNotifier() { NotifyFreed(); }
    TNetFreeNotifier(const TNetFreeNotifier&) = delete;
    TNetFreeNotifier& operator=(const TNetFreeNotifier&) = delete;

    void AddFreeNotification(const void* key, std::function<void()> notify) {
        std::lock_guard guard(notifyLock_);
        notifications_[key] = std::move(notify);
    }
    void RemoveFreeNotification(const void* key) {
        std::lock_guard guard(notifyLock_);
        notifications_.erase(key);
    }

  protected:
    // Runs (once) every notification. A derived class whose users may still
    // call into it while they are told calls this first in its destructor.
    void NotifyFreed() {
        std::map<const void*, std::function<void()>> notifications;
        {
            std::lock_guard guard(notifyLock_);
            notifications.swap(notifications_);
        }
        for (auto& [key, notify] : notifications)
            notify();
    }

  private:
    std::mutex notifyLock_; // guards notifications_
    std::map<const void*, std::function<void()>> notifications_;
};
