#include "net/NetThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Polls `condition` for up to 10 s; a generous bound, not a speed goal.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class CountedData : public TNetThreadData {
  public:
    explicit CountedData(std::atomic<int>& freed) : freed_(freed) {}
    ~CountedData() override { ++freed_; }

  private:
    std::atomic<int>& freed_;
};

// Counts every phase; each LoopStep runs `step` when set.
class PhaseThread : public TNetThread {
  public:
    std::atomic<int> beforeExecution{0}, afterExecution{0}, beforeLoop{0}, afterLoop{0}, cleanup{0},
        steps{0}, stoppedReports{0};
    std::function<void(PhaseThread&)> step;
    std::atomic<int>* destroyed = nullptr;

    PhaseThread() {
        OnStopped = [this](TNetThread&) { ++stoppedReports; };
    }
    ~PhaseThread() override {
        // The derived phases must not outlive the derived object.
        if (!FreeOnTerminate() && !IsCurrentThread()) TerminateAndWait();
        if (destroyed) ++*destroyed;
    }

  protected:
    void BeforeExecution() override { ++beforeExecution; }
    void AfterExecution() override { ++afterExecution; }
    void BeforeLoop() override { ++beforeLoop; }
    void AfterLoop() override { ++afterLoop; }
    void CleanupStep() override {
        ++cleanup;
        TNetThread::CleanupStep();
    }
    void LoopStep() override {
        ++steps;
        if (step)
            step(*this);
        else
            std::this_thread::sleep_for(1ms);
    }
};

class CustomError : public ENetException {
  public:
    using ENetException::ENetException;
};

} // namespace

TEST(NetThread, CreatedParkedUntilStarted) {
    PhaseThread t;
    EXPECT_TRUE(t.IsStopped());
    EXPECT_TRUE(t.Stopped());
    EXPECT_TRUE(t.Suspended());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(t.beforeExecution.load(), 0);

    t.StartThread();
    ASSERT_TRUE(Eventually([&] { return t.steps > 2; }));
    EXPECT_FALSE(t.IsStopped());
    EXPECT_FALSE(t.Suspended());
    t.TerminateAndWait();
    EXPECT_TRUE(t.Finished());
    EXPECT_EQ(t.beforeExecution.load(), 1);
    EXPECT_EQ(t.beforeLoop.load(), 1);
    EXPECT_EQ(t.afterLoop.load(), 1);
    EXPECT_EQ(t.cleanup.load(), 1);
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, NeverStartedThreadEndsWithoutRunning) {
    {
        PhaseThread t;
        t.TerminateAndWait();
        EXPECT_TRUE(t.Finished());
        EXPECT_EQ(t.beforeExecution.load(), 0);
    }
    PhaseThread t; // destroyed parked: must not hang
    t.SetPriority(TNetThreadPriority::tpIdle);
    EXPECT_EQ(t.Priority(), TNetThreadPriority::tpIdle);
}

TEST(NetThread, SuspendModeParksAndStartRunsTheLoopAgain) {
    PhaseThread t;
    t.SetStopMode(TNetThreadStopMode::smSuspend);
    std::atomic<int> freed{0};
    t.SetThreadData(std::make_unique<CountedData>(freed));
    t.StartThread();
    ASSERT_TRUE(Eventually([&] { return t.steps > 0; }));

    t.StopThread();
    ASSERT_TRUE(Eventually([&] { return t.Suspended(); })); // parked
    EXPECT_FALSE(t.Terminated());
    EXPECT_TRUE(t.IsStopped());
    EXPECT_EQ(t.afterLoop.load(), 1);
    EXPECT_EQ(t.cleanup.load(), 1);
    EXPECT_EQ(freed.load(), 1); // CleanupStep freed the thread's data
    EXPECT_EQ(t.ThreadData(), nullptr);
    EXPECT_GE(t.stoppedReports.load(), 1);
    const int parkedAt = t.steps;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(t.steps.load(), parkedAt);

    t.StartThread();
    ASSERT_TRUE(Eventually([&] { return t.steps > parkedAt; }));
    EXPECT_EQ(t.beforeLoop.load(), 2);

    // Parked again, then terminated: the thread wakes only to leave.
    t.StopThread();
    ASSERT_TRUE(Eventually([&] { return t.Suspended(); }));
    t.TerminateAndWait();
    EXPECT_TRUE(t.Finished());
    EXPECT_EQ(t.beforeLoop.load(), 2);
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, TerminateModeEndsTheThreadForGood) {
    PhaseThread t;
    t.StartThread();
    ASSERT_TRUE(Eventually([&] { return t.steps > 0; }));
    t.StopThread();
    EXPECT_TRUE(t.Terminated());
    t.WaitFor();
    t.StartThread(); // a terminated thread stays stopped
    EXPECT_TRUE(t.IsStopped());
    EXPECT_EQ(t.beforeLoop.load(), 1);
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, ExceptionFromLoopStepIsRecordedReportedAndSwallowed) {
    PhaseThread t;
    std::atomic<int> reports{0};
    std::string reported;
    t.OnException = [&](TNetThread&, const std::exception& e) {
        ++reports;
        reported = e.what();
    };
    t.step = [](PhaseThread& self) {
        if (self.steps == 3) throw CustomError("boom");
    };
    EXPECT_EQ(t.TerminatingExceptionClass(), std::type_index(typeid(void)));
    t.StartThread();
    t.WaitFor();
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(reported, "boom");
    EXPECT_EQ(t.TerminatingExceptionClass(), std::type_index(typeid(CustomError)));
    EXPECT_EQ(t.TerminatingExceptionText(), "boom");
    EXPECT_TRUE(t.Terminated());
    EXPECT_EQ(t.steps.load(), 3);
    EXPECT_EQ(t.afterLoop.load(), 1);
    EXPECT_EQ(t.cleanup.load(), 1);
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, ForeignExceptionsAndFailingReportsDoNotEndTheProcess) {
    PhaseThread t;
    t.OnException = [](TNetThread&, const std::exception&) { throw 1; };
    t.step = [](PhaseThread&) { throw 42; };
    t.StartThread();
    t.WaitFor();
    EXPECT_EQ(t.TerminatingExceptionClass(), std::type_index(typeid(ENetThreadException)));
    EXPECT_EQ(t.TerminatingExceptionText(), "Unknown exception.");
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, SelfFreeingThreadRefusesTerminateAndWaitAndFreesItself) {
    std::atomic<int> destroyed{0};
    const int before = TNetThread::ThreadCount();
    auto* t = new PhaseThread;
    t->destroyed = &destroyed;
    t->SetFreeOnTerminate(true);
    EXPECT_EQ(TNetThread::ThreadCount(), before + 1);
    try {
        t->TerminateAndWait();
        FAIL() << "no exception";
    } catch (const ENetThreadTerminateAndWaitFor& e) {
        EXPECT_EQ(e.Message(), "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
    }
    // Run it, and let it end itself from its own loop.
    t->step = [](PhaseThread& self) {
        if (self.steps == 5) self.TerminateThread();
    };
    t->StartThread(); // from here on only the thread itself touches the object
    ASSERT_TRUE(Eventually([&] { return destroyed == 1; }));
    ASSERT_TRUE(Eventually([&] { return TNetThread::ThreadCount() == before; }));
}

TEST(NetThread, StartRightAfterTheStopReportIsNeverLost) {
    PhaseThread t;
    t.SetStopMode(TNetThreadStopMode::smSuspend);
    t.step = [](PhaseThread&) {}; // no sleep: stop reports come at once
    t.StartThread();
    for (int i = 0; i < 200; ++i) {
        const int reports = t.stoppedReports;
        t.StopThread();
        // Start while the thread is between its stop report and parking.
        while (t.stoppedReports == reports)
            std::this_thread::yield();
        t.StartThread();
        const int at = t.steps;
        ASSERT_TRUE(Eventually([&] { return t.steps > at; })) << "lost wake-up in round " << i;
    }
    t.TerminateAndWait();
    EXPECT_EQ(t.afterExecution.load(), 1);
}

TEST(NetThread, SleepingStepEndsWhenTerminated) {
    PhaseThread t;
    t.step = [](PhaseThread& self) { self.WaitUntilStopped(60s); };
    t.StartThread();
    ASSERT_TRUE(Eventually([&] { return t.steps > 0; }));
    const auto start = std::chrono::steady_clock::now();
    t.TerminateAndWait();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(t.WaitUntilStopped(0ms));
}

TEST(NetThread, WaitAllThreadsEndedWaitsForTheLastObject) {
    ASSERT_EQ(TNetThread::ThreadCount(), 0);
    auto t = std::make_unique<PhaseThread>();
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        TNetThread::WaitAllThreadsEnded(5ms);
        done = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(done.load());
    t.reset();
    waiter.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(TNetThread::ThreadCount(), 0);
}
