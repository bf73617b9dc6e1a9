#include "platform/stream/OwnedFd.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

void OwnedFd::Reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

void OwnedFd::Shutdown() const noexcept {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}
