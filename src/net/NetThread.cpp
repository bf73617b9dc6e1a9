#include "net/NetThread.h"

#include <pthread.h>
#include <sched.h>

#include <system_error>

namespace {

// Process-wide count of live thread objects; guarded by CountLock().
std::mutex& CountLock() {
    static std::mutex lock;
    return lock;
}
int32_t gThreadCount = 0; // guarded by CountLock()

void ChangeThreadCount(int32_t delta) noexcept {
    std::lock_guard<std::mutex> guard(CountLock());
    gThreadCount += delta;
}

// At process exit the library waits for every thread object to be destroyed,
// so that no self-freeing thread still runs while the process tears down.
struct ThreadCountFinaliser {
    ThreadCountFinaliser() { CountLock(); } // the lock must outlive this object
    ~ThreadCountFinaliser() { TNetThread::WaitAllThreadsEnded(); }
} gThreadCountFinaliser;

// Runs `step` and keeps the first exception it raises in `first`; used where
// every phase must run even when an earlier one failed.
template <class F> void RunKeepingFirstException(F&& step, std::exception_ptr& first) {
    try {
        step();
    } catch (...) {
        if (!first) first = std::current_exception();
    }
}

} // namespace

// ---------------------------------------------------------------------------
// TNetBaseThread

TNetBaseThread::TNetBaseThread() {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        throw ENetThreadException(e.what());
    }
}

TNetBaseThread::~TNetBaseThread() {
    TerminateAndJoinOSThread();
}

void TNetBaseThread::Run() {
    bool skip;
    {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [this] { return !suspended_; });
        skip = terminated_;
    }
    if (!skip) {
        try {
            Execute();
        } catch (...) {
            // An exception leaving a thread would end the process; TNetThread
            // records its own, anything else is dropped here.
        }
    }
    bool freeSelf;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Read before publishing finished_: once it is set, a waiter may free
        // this object.
        freeSelf = FreeOnTerminate();
        finished_ = true;
        wake_.notify_all();
    }
    if (freeSelf) delete this;
}

bool TNetBaseThread::Terminated() const {
    std::lock_guard<std::mutex> guard(lock_);
    return terminated_;
}

bool TNetBaseThread::Suspended() const {
    std::lock_guard<std::mutex> guard(lock_);
    return suspended_;
}

bool TNetBaseThread::Finished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

void TNetBaseThread::Terminate() {
    std::lock_guard<std::mutex> guard(lock_);
    terminated_ = true;
    wake_.notify_all();
}

void TNetBaseThread::Resume() {
    std::lock_guard<std::mutex> guard(lock_);
    suspended_ = false;
    wake_.notify_all();
}

void TNetBaseThread::WaitFor() const {
    if (IsCurrentThread()) throw ENetThreadException("A thread cannot wait for itself to end.");
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait(guard, [this] { return finished_; });
}

void TNetBaseThread::ParkLocked(std::unique_lock<std::mutex>& lock) {
    suspended_ = true;
    wake_.wait(lock, [this] { return !suspended_; });
}

void TNetBaseThread::TerminateAndJoinOSThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        terminated_ = true;
        suspended_ = false;
        wake_.notify_all();
    }
    if (IsCurrentThread())
        thread_.detach(); // a self-freeing thread is destroying itself
    else
        thread_.join();
}

void TNetBaseThread::SetPriority(TNetThreadPriority value) {
    priority_.store(value);
    std::lock_guard<std::mutex> guard(lock_);
    if (finished_ || !thread_.joinable()) return;
    sched_param param{};
    param.sched_priority = 0;
    const int policy = value == TNetThreadPriority::tpIdle ? SCHED_IDLE : SCHED_OTHER;
    // Failure (no permission to leave the idle class) keeps the old class.
    (void)pthread_setschedparam(thread_.native_handle(), policy, &param);
}

// ---------------------------------------------------------------------------
// TNetThread

TNetThread::TNetThread() {
    ChangeThreadCount(+1);
}

TNetThread::~TNetThread() {
    SetFreeOnTerminate(false);
    TerminateThread();
    TerminateAndJoinOSThread();
    try {
        TNetThread::CleanupStep();
    } catch (...) {
    }
    ChangeThreadCount(-1);
}

bool TNetThread::IsStopped() const {
    std::lock_guard<std::mutex> guard(lock_);
    return IsStoppedLocked();
}

void TNetThread::StartThread() {
    std::lock_guard<std::mutex> guard(lock_);
    if (IsStoppedLocked()) {
        stopped_ = terminated_;
        suspended_ = false;
        wake_.notify_all();
    }
}

void TNetThread::StopThread() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!IsStoppedLocked() && StopMode() == TNetThreadStopMode::smTerminate)
        TerminateThreadLocked();
    stopped_ = true;
    wake_.notify_all();
}

void TNetThread::TerminateThread() {
    std::lock_guard<std::mutex> guard(lock_);
    TerminateThreadLocked();
}

void TNetThread::TerminateThreadLocked() {
    stopped_ = true;
    terminated_ = true;
    wake_.notify_all();
}

void TNetThread::TerminateAndWait() {
    if (FreeOnTerminate()) throw ENetThreadTerminateAndWaitFor();
    TerminateThread();
    StartThread();
    WaitFor();
}

bool TNetThread::WaitUntilStopped(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return wake_.wait_for(guard, timeout, [this] { return IsStoppedLocked(); });
}

std::type_index TNetThread::TerminatingExceptionClass() const {
    std::lock_guard<std::mutex> guard(lock_);
    return exceptionClass_;
}

std::string TNetThread::TerminatingExceptionText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return exceptionText_;
}

void TNetThread::CleanupStep() {
    threadData_.reset();
}

void TNetThread::ReportException(const std::exception& e) {
    if (OnException) OnException(*this, e);
}

void TNetThread::ReportStopped() {
    if (OnStopped) OnStopped(*this);
}

int32_t TNetThread::ThreadCount() {
    std::lock_guard<std::mutex> guard(CountLock());
    return gThreadCount;
}

void TNetThread::WaitAllThreadsEnded(std::chrono::milliseconds step) {
    while (ThreadCount() > 0)
        std::this_thread::sleep_for(step);
}

void TNetThread::RunLoop() {
    while (!Terminated()) {
        if (IsStopped()) {
            ReportStopped();
            // Checking and parking under one lock: a StartThread between the
            // check and the park would otherwise be lost and leave the thread
            // parked for good.
            std::unique_lock<std::mutex> guard(lock_);
            if (IsStoppedLocked()) {
                if (terminated_) break;
                ParkLocked(guard);
                if (terminated_) break;
            }
        }
        std::exception_ptr failure;
        RunKeepingFirstException(
            [this] {
                BeforeLoop();
                while (!IsStopped()) {
                    try {
                        LoopStep();
                    } catch (...) {
                        TerminateThread();
                        throw;
                    }
                }
            },
            failure);
        RunKeepingFirstException([this] { AfterLoop(); }, failure);
        RunKeepingFirstException([this] { CleanupStep(); }, failure);
        if (failure) std::rethrow_exception(failure);
    }
}

void TNetThread::RecordException(const std::exception& e) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        exceptionClass_ = std::type_index(typeid(e));
        exceptionText_ = e.what();
    }
    try {
        ReportException(e);
    } catch (...) {
        // A failing report must not take the process down with it.
    }
    TerminateThread();
}

void TNetThread::Execute() {
    std::exception_ptr failure;
    RunKeepingFirstException([this] { BeforeExecution(); }, failure);
    if (!failure) RunKeepingFirstException([this] { RunLoop(); }, failure);
    RunKeepingFirstException([this] { AfterExecution(); }, failure);
    if (!failure) return;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        RecordException(e);
    } catch (...) {
        RecordException(ENetThreadException("Unknown exception."));
    }
}
