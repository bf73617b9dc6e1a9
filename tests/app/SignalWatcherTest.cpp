#include "app/SignalWatcher.h"
#include "support/EventPump.h"

#include <csignal>
#include <vector>

#include <gtest/gtest.h>

TEST(SignalWatcher, TerminationSignalsArriveOnTheEventLoopOnce) {
    TSignalWatcher watcher;
    std::vector<int> seen;
    QObject::connect(&watcher, &TSignalWatcher::Signalled, [&](int s) { seen.push_back(s); });
    ::raise(SIGTERM);
    ::raise(SIGHUP);
    PumpUntil([&] { return seen.size() >= 2; });
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGHUP}));
    // Caught once: the next SIGTERM would end the process, as a stuck shutdown needs.
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    struct sigaction interrupt {};
    ::sigaction(SIGINT, nullptr, &interrupt);
    EXPECT_NE(interrupt.sa_handler, SIG_DFL);
}
