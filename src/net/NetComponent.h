#pragma once
// TNetComponent: common base of the connection, the I/O handlers and the
// server-side accepting handler. Each one holds a reference on the process-wide
// socket stack (the first creates it, the last frees it) and raises the status
// and work-progress events.
#include "net/NetStack.h"

#include <cstdint>
#include <functional>
#include <string>

enum class TNetStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum class TWorkMode { wmRead, wmWrite };

class TNetComponent {
  public:
    using TStatusEvent =
        std::function<void(TNetComponent& sender, TNetStatus status, const std::string& text)>;
    using TWorkBeginEvent = std::function<void(TNetComponent& sender, TWorkMode mode, int64_t max)>;
    using TWorkEvent = std::function<void(TNetComponent& sender, TWorkMode mode, int64_t count)>;
    using TWorkEndEvent = std::function<void(TNetComponent& sender, TWorkMode mode)>;

    TNetComponent();
    virtual ~TNetComponent();
    TNetComponent(const TNetComponent&) = delete;
    TNetComponent& operator=(const TNetComponent&) = delete;

    TStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Work brackets nest per mode; only the outermost stores the maximum, zeroes
    // the count and raises OnWorkBegin / OnWorkEnd. DoWork acts inside a bracket.
    virtual void BeginWork(TWorkMode mode, int64_t max = 0);
    virtual void DoWork(TWorkMode mode, int64_t count);
    virtual void EndWork(TWorkMode mode);
    int64_t WorkCount(TWorkMode mode) const noexcept { return work_[Index(mode)].count; }

    // Reports a status when OnStatus is set; arg fills the "%s" of the texts that
    // take one ("Resolving hostname %s.", "Connecting to %s.", ...).
    void DoStatus(TNetStatus status, const std::string& arg = {});
    static std::string StatusText(TNetStatus status, const std::string& arg = {});

  private:
    static size_t Index(TWorkMode m) noexcept { return m == TWorkMode::wmRead ? 0 : 1; }
    struct TWork {
        int32_t level = 0;
        int64_t max = 0;
        int64_t count = 0;
    };
    TWork work_[2]; // owner thread only
};

// RAII work bracket (EndWork also on exceptions).
class TNetWorkScope {
  public:
    TNetWorkScope(TNetComponent& c, TWorkMode mode, int64_t max) : c_(c), mode_(mode) {
        c_.BeginWork(mode_, max);
    }
    ~TNetWorkScope() { c_.EndWork(mode_); }
    TNetWorkScope(const TNetWorkScope&) = delete;
    TNetWorkScope& operator=(const TNetWorkScope&) = delete;

  private:
    TNetComponent& c_;
    TWorkMode mode_;
};
