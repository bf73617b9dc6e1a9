#include "platform/SideOutputSchedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Action = TSideOutputSchedule::TAction;
using namespace std::chrono_literals;

// A schedule that runs: started, wanted and fed at t0.
struct TScheduleRig {
    TSideOutputSchedule S;
    TSideOutputSchedule::TimePoint Now{std::chrono::hours(1000)};
    TSideOutputSchedule::TimePoint Until{};

    TScheduleRig() {
        S.SetFed(true);
        S.SetWanted(true, Now);
        S.SetStarted(true, Now);
    }
    Action Next() { return S.Next(Now, Until); }
    // Builds, fails after a while, tears down; the wait before the next build.
    std::chrono::milliseconds FailAndWait(const std::string& why = "gone") {
        EXPECT_EQ(Action::Build, Next());
        S.Built(Now);
        Now += 100ms;
        EXPECT_TRUE(S.Failed(Now, why, false));
        EXPECT_EQ(Action::TearDown, Next());
        S.TornDown();
        EXPECT_EQ(Action::Wait, Next());
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(Until - Now);
        Now = Until;
        return wait;
    }
};

} // namespace

TEST(SideOutputSchedule, FailuresBackOffDoublingToEightSecondsAndALiveRunStartsOver) {
    TScheduleRig r;
    std::vector<long> waits;
    for (int i = 0; i < 6; ++i)
        waits.push_back(r.FailAndWait().count());
    EXPECT_EQ((std::vector<long>{500, 1000, 2000, 4000, 8000, 8000}), waits);

    // While it waits, the status counts down to the next try and says why.
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    r.S.Failed(r.Now, "Connection refused", false);
    TSideOutputStatus st = r.S.Status(r.Now + 1s);
    EXPECT_EQ(TSideOutputState::Retrying, st.State);
    EXPECT_EQ(7, st.RetryInSeconds);
    EXPECT_EQ("Connection refused", st.Reason);
    EXPECT_EQ("relay: retrying in 7 s (Connection refused)", SideOutputStatusText("relay", st));
    r.S.TornDown();
    r.Now = r.Now + 8s;

    // A run whose sink takes data for a second is live, and the back-off begins anew.
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    EXPECT_EQ(TSideOutputState::Connecting, r.S.Status(r.Now).State);
    uint64_t bytes = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Action::Wait, r.Next());
        r.Now = r.Until;
        ASSERT_EQ(Action::Sample, r.Next());
        r.S.Sampled(r.Now, bytes += 62500); // 1000 kbit/s
    }
    st = r.S.Status(r.Now);
    EXPECT_EQ(TSideOutputState::Live, st.State);
    EXPECT_EQ(1000, st.Kbps);
    // A sink that stops taking anything is no longer live.
    r.Now += 500ms;
    r.S.Sampled(r.Now, bytes);
    EXPECT_EQ(TSideOutputState::Connecting, r.S.Status(r.Now).State);
    r.S.Failed(r.Now, "gone", false);
    ASSERT_EQ(Action::TearDown, r.Next());
    r.S.TornDown();
    r.Next();
    EXPECT_EQ(500ms, r.Until - r.Now);
}

TEST(SideOutputSchedule, ARefusalIsFinalUntilARestart) {
    TScheduleRig r;
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    EXPECT_TRUE(r.S.Failed(r.Now, "the server does not take this stream key", true));
    ASSERT_EQ(Action::TearDown, r.Next());
    r.S.TornDown();
    // Never again on its own, however long it waits.
    EXPECT_EQ(Action::Wait, r.Next());
    EXPECT_EQ(TSideOutputSchedule::TimePoint::max(), r.Until);
    r.Now += std::chrono::hours(24);
    EXPECT_EQ(Action::Wait, r.Next());
    EXPECT_EQ("relay: refused: the server does not take this stream key",
              SideOutputStatusText("relay", r.S.Status(r.Now)));

    // New settings are tried at once, with the back-off from the start.
    r.S.Restart(r.Now);
    EXPECT_EQ(TSideOutputState::Connecting, r.S.Status(r.Now).State);
    EXPECT_EQ(500, r.FailAndWait().count());

    // An output that cannot be made (an encoder missing) is refused too.
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Refuse("no element \"x264enc\"");
    EXPECT_EQ(Action::Wait, r.Next());
    EXPECT_EQ(TSideOutputSchedule::TimePoint::max(), r.Until);
    EXPECT_EQ(TSideOutputState::Refused, r.S.Status(r.Now).State);
}

TEST(SideOutputSchedule, RunsOnlyWhileStartedWantedAndFed) {
    TSideOutputSchedule s;
    TSideOutputSchedule::TimePoint now{std::chrono::hours(5)}, until;
    s.SetStarted(true, now);
    s.SetFed(true);
    EXPECT_EQ(Action::Wait, s.Next(now, until)); // nobody wants it
    EXPECT_EQ(TSideOutputState::Off, s.Status(now).State);
    EXPECT_EQ("", SideOutputStatusText("relay", s.Status(now)));
    s.SetWanted(true, now);
    ASSERT_EQ(Action::Build, s.Next(now, until));
    // A capture that does not run yet is looked at again shortly.
    s.NotReady(now);
    EXPECT_EQ(Action::Wait, s.Next(now, until));
    EXPECT_EQ(200ms, until - now);
    now = until;
    ASSERT_EQ(Action::Build, s.Next(now, until));
    s.Built(now);
    // The demand goes: the run goes with it.
    s.SetWanted(false, now);
    EXPECT_EQ(Action::TearDown, s.Next(now, until));
    s.TornDown();
    EXPECT_EQ(Action::Wait, s.Next(now, until));
    // Stopped: nothing, even when wanted.
    s.SetWanted(true, now);
    s.SetStarted(false, now);
    EXPECT_EQ(Action::Wait, s.Next(now, until));
    EXPECT_EQ(TSideOutputState::Off, s.Status(now).State);
}

TEST(SideOutputSchedule, DemandThatComesBackIsServedAtOnce) {
    TScheduleRig r;
    r.FailAndWait();
    r.FailAndWait();
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    r.S.Failed(r.Now, "gone", false); // now 2 s to wait
    r.S.SetWanted(false, r.Now);
    ASSERT_EQ(Action::TearDown, r.Next());
    r.S.TornDown();
    r.Now += 10ms;
    r.S.SetWanted(true, r.Now);
    EXPECT_EQ(Action::Build, r.Next());
    EXPECT_EQ(500, r.FailAndWait().count());
}

TEST(SideOutputSchedule, LateErrorsChangeNothing) {
    TScheduleRig r;
    EXPECT_FALSE(r.S.Failed(r.Now, "no run yet", false));
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    EXPECT_TRUE(r.S.Failed(r.Now, "first", false));
    EXPECT_FALSE(r.S.Failed(r.Now, "second", true)); // the first error says why
    EXPECT_EQ("first", r.S.Status(r.Now).Reason);
    r.S.TornDown();
    r.Now = r.Now + 1s;
    ASSERT_EQ(Action::Build, r.Next());
    r.S.Built(r.Now);
    // An error of the run being replaced for new settings is no failure.
    r.S.Restart(r.Now);
    EXPECT_FALSE(r.S.Failed(r.Now, "torn down", true));
    ASSERT_EQ(Action::TearDown, r.Next());
    r.S.TornDown();
    EXPECT_EQ(Action::Build, r.Next());
}
