#include "platform/stream/OwnedFd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(OwnedFd, ClosesOnceWhereverOwnershipEnds) {
    int p[2], later[2];
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
        // New descriptors take the freed numbers: no holder may close them again.
        ASSERT_EQ(0, ::pipe(later));
    }
    EXPECT_FALSE(IsOpen(p[0]));
    EXPECT_TRUE(IsOpen(later[0]) && IsOpen(later[1]));
    ::close(later[0]);
    ::close(later[1]);
    // Closing keeps errno for the caller's report of what failed before.
    int q[2];
    ASSERT_EQ(0, ::pipe(q));
    ::close(q[1]);
    OwnedFd r(q[0]);
    errno = EADDRINUSE;
    r.Reset();
    EXPECT_EQ(EADDRINUSE, errno);
}
