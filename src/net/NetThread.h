#pragma once
// Base of every worker thread of the network library (listener, peer and
// session-cleaner threads). A thread runs a loop of overridable phases; being
// "stopped" is separate from being terminated: a stopped thread parks itself
// and StartThread lets it run its loop again.
//
// Life cycle in C++:
// - Every thread is created parked: a virtual Execute cannot safely start
//   before the most-derived constructor has finished, so a thread that should
//   run at once is started with StartThread() right after construction.
// - A thread that does not free itself must have ended before the derived
//   part of the object is destroyed: the owner (or the derived destructor)
//   calls TerminateAndWait() first. The base destructor terminates, wakes and
//   joins a thread still alive, but by then only the base phases run.
// - SetFreeOnTerminate(true) makes the thread delete its own object once
//   Execute has ended; such an object must be allocated with new and nobody
//   may touch it after it has been told to terminate.
#include "net/NetException.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <typeindex>

enum class TNetThreadStopMode : int { smTerminate = 0, smSuspend = 1 };

enum class TNetThreadPriority : int {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// Per-run object handed to a thread; the thread owns it and CleanupStep frees it.
class TNetThreadData {
  public:
    virtual ~TNetThreadData() = default;
};

// The operating-system thread: terminated and suspended flags, free on
// terminate, identifier, resume, wait-for. Its lock (lock_) guards
// terminated_, suspended_, finished_ and the flags of TNetThread.
class TNetBaseThread {
  public:
    TNetBaseThread(const TNetBaseThread&) = delete;
    TNetBaseThread& operator=(const TNetBaseThread&) = delete;
    virtual ~TNetBaseThread();

    bool Terminated() const;
    bool Suspended() const;
    bool Finished() const; // Execute has returned (or was skipped)
    // Sets the terminated flag only; a parked thread stays parked.
    void Terminate();
    // Lets a parked thread (or one not started yet) run.
    void Resume();
    // Blocks until Execute has returned. Raises ENetThreadException when
    // called from the thread itself (it would wait forever).
    void WaitFor() const;

    bool FreeOnTerminate() const { return freeOnTerminate_.load(); }
    void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value); }

    std::thread::id ThreadID() const { return thread_.get_id(); }
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    TNetThreadPriority Priority() const { return priority_.load(); }
    // tpIdle maps to the idle scheduling class; every other value to the
    // normal class (raising priority needs privileges on Linux).
    void SetPriority(TNetThreadPriority value);

  protected:
    TNetBaseThread();
    // The thread body; runs only when the thread was not terminated before it
    // first ran.
    virtual void Execute() = 0;
    // Parks the calling thread (which must be this thread) until Resume.
    // Returns at once when `lock` holds a thread that must not park.
    void ParkLocked(std::unique_lock<std::mutex>& lock);
    // Ends and joins the operating-system thread (or detaches it when called
    // from the thread itself). Safe to call more than once.
    void TerminateAndJoinOSThread();

    mutable std::mutex lock_;
    mutable std::condition_variable wake_; // signalled on resume and on finish
    bool terminated_ = false;              // guarded by lock_
    bool suspended_ = true;                // guarded by lock_
    bool finished_ = false;                // guarded by lock_

  private:
    void Run();
    void ApplyPriority();

    std::thread thread_; // written in the constructor and destructor only
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<TNetThreadPriority> priority_{TNetThreadPriority::tpNormal};
};

class TNetThread : public TNetBaseThread {
  public:
    using TExceptionEvent = std::function<void(TNetThread& thread, const std::exception& e)>;
    using TStoppedEvent = std::function<void(TNetThread& thread)>;

    TNetThread();
    ~TNetThread() override;

    // True when terminated, stopped or parked.
    bool IsStopped() const;
    bool Stopped() const { return IsStopped(); }

    // Wakes a stopped thread; a terminated thread stays stopped and only wakes
    // to leave its loop.
    virtual void StartThread();
    // With smTerminate ends the thread; with smSuspend parks it after its
    // current LoopStep.
    virtual void StopThread();
    // Marks the thread stopped and terminated; it leaves its loop after the
    // current step.
    virtual void TerminateThread();
    // Terminates, wakes a parked thread and waits for it to end. Raises
    // ENetThreadTerminateAndWaitFor for a thread that frees itself.
    virtual void TerminateAndWait();

    // Waits up to `timeout` or until the thread is stopped or terminated,
    // whichever comes first; returns IsStopped(). Lets a LoopStep that
    // sleeps end promptly when the thread is asked to stop.
    bool WaitUntilStopped(std::chrono::milliseconds timeout) const;

    TNetThreadStopMode StopMode() const { return stopMode_.load(); }
    void SetStopMode(TNetThreadStopMode mode) { stopMode_.store(mode); }

    // Set before StartThread, or from the thread itself.
    std::unique_ptr<TNetThreadData>& ThreadData() { return threadData_; }
    void SetThreadData(std::unique_ptr<TNetThreadData> data) { threadData_ = std::move(data); }

    // The exception that ended Execute: its dynamic type (typeid(void) when
    // none) and its message.
    std::type_index TerminatingExceptionClass() const;
    std::string TerminatingExceptionText() const;

    // Events run on the thread itself; assign them before StartThread.
    TExceptionEvent OnException;
    TStoppedEvent OnStopped;

    // Process-wide count of live thread objects.
    static int32_t ThreadCount();
    // Waits, checking every `step`, until no thread object is alive. Also run
    // at process exit (static destruction of the network library).
    static void
    WaitAllThreadsEnded(std::chrono::milliseconds step = std::chrono::milliseconds(5000));

  protected:
    void Execute() final;

    virtual void AfterLoop() {}
    virtual void AfterExecution() {}
    virtual void BeforeExecution() {}
    virtual void BeforeLoop() {}
    virtual void CleanupStep();
    virtual void ReportException(const std::exception& e);
    virtual void ReportStopped();
    virtual void LoopStep() = 0;

  private:
    bool IsStoppedLocked() const { return terminated_ || stopped_ || suspended_; }
    void TerminateThreadLocked();
    void RunLoop();
    void RecordException(const std::exception& e);

    bool stopped_ = true; // guarded by lock_
    std::atomic<TNetThreadStopMode> stopMode_{TNetThreadStopMode::smTerminate};
    std::unique_ptr<TNetThreadData> threadData_;
    std::type_index exceptionClass_{typeid(void)}; // guarded by lock_
    std::string exceptionText_;                    // guarded by lock_
};
