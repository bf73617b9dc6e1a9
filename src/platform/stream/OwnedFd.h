#pragma once
// A descriptor the stream server owns: closed exactly once, by its last
// holder. A thread blocked on a socket is woken with Shutdown, and the owner
// closes only once no other thread can wait on the number any more (after
// the join), so a number is never reused under a waiting thread.
class OwnedFd {
  public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) noexcept : fd_(fd) {}
    ~OwnedFd() { Reset(); }
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.Release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over without closing it.
    int Release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the one held (errno is kept for the caller's report) and takes fd.
    void Reset(int fd = -1) noexcept;
    // Ends a socket's traffic both ways, so that a thread blocked on it
    // returns; the descriptor itself stays open.
    void Shutdown() const noexcept;

  private:
    int fd_ = -1;
};
