#include "platform/stream/OwnedFd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(OwnedFd, ClosesOnceWhereverOwnershipEnds) {
    int p[2];
    ASSERT_EQ(0, ::pipe(p));
    {
        OwnedFd a(p[0]);
        OwnedFd b(std::move(a)); // the moved-from one closes nothing
        EXPECT_FALSE(a);
        EXPECT_EQ(p[0], b.Get());
        a = std::move(b);
        EXPECT_TRUE(IsOpen(p[0]));
        OwnedFd c(p[1]);
        c = std::move(a); // takes p[0], closes p[1]
        EXPECT_FALSE(IsOpen(p[1]));
        EXPECT_TRUE(IsOpen(p[0]));
        const int released = c.Release(); // handed over: not closed
        EXPECT_TRUE(IsOpen(released));
        c.Reset(released);
    }
    EXPECT_FALSE(IsOpen(p[0]));
    // Closing keeps errno for the caller's report of what failed before.
    int q[2];
    ASSERT_EQ(0, ::pipe(q));
    ::close(q[1]);
    OwnedFd r(q[0]);
    errno = EADDRINUSE;
    r.Reset();
    EXPECT_EQ(EADDRINUSE, errno);
}

TEST(OwnedFd, ShutdownWakesABlockedReaderAndLeavesTheDescriptorOpen) {
    int s[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, s));
    OwnedFd mine(s[0]), peer(s[1]);
    ssize_t got = 1;
    std::thread reader([&] {
        char c;
        got = ::recv(mine.Get(), &c, 1, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mine.Shutdown();
    reader.join();
    EXPECT_EQ(0, got);
    EXPECT_TRUE(IsOpen(mine.Get()));
}
