#pragma once
// Lazy binding of the socket functions the network library calls. The C
// library is loaded on first use and each function is looked up by name on its
// first call; until then its entry points at no address and the lookup stands in
// for it (the "stub"). Failures keep the historical Winsock2 texts so that the
// messages callers see stay the same on every platform.
#include "net/NetException.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// The functions the program calls, in table order.
enum class TNetWS2Entry : int {
    accept4,
    bind,
    close,
    connect,
    fcntl,
    getpeername,
    getsockname,
    getsockopt,
    listen,
    poll,
    recv,
    recvfrom,
    send,
    sendto,
    setsockopt,
    shutdown,
    socket,
    getaddrinfo,
    freeaddrinfo,
    getnameinfo,
    gethostname,
    getservbyname_r,
    getservbyport_r,
    Count
};

// Error number reported when a function is called before the library is loaded.
constexpr int32_t NetWSANotInitialised = 10093;

class TNetWinSock2Library {
  public:
    // libraryName: the shared object holding the socket functions.
    explicit TNetWinSock2Library(std::string libraryName = "libc.so.6");
    ~TNetWinSock2Library();
    TNetWinSock2Library(const TNetWinSock2Library&) = delete;
    TNetWinSock2Library& operator=(const TNetWinSock2Library&) = delete;

    // Loads the library once; later calls return 0 at once. A failed load raises
    // ENetWS2StubError "<reason>: Error on loading Winsock2 library (<name>)".
    int32_t Startup(uint16_t version);
    // Frees the library and returns every entry to its unbound state.
    void Unload();
    bool Loaded() const noexcept { return handle_.load(std::memory_order_acquire) != nullptr; }
    const std::string& LibraryName() const noexcept { return libraryName_; }

    // The address of an entry, binding it on first use. Raises ENetWS2StubError
    // "<reason>: Error on call Winsock2 library function <name>" when the library
    // is not loaded or lacks the function: a missing entry is never called.
    void* Proc(TNetWS2Entry entry) {
        void* p = procs_[static_cast<size_t>(entry)].load(std::memory_order_acquire);
        return p != nullptr ? p : BindStub(entry);
    }
    template <class F> F Fn(TNetWS2Entry entry) { return reinterpret_cast<F>(Proc(entry)); }

    static const char* EntryName(TNetWS2Entry entry);

  private:
    void* BindStub(TNetWS2Entry entry);

    std::string libraryName_;
    std::atomic<void*> handle_{nullptr};
    // Two threads binding the same entry at once store the same address: harmless.
    std::array<std::atomic<void*>, static_cast<size_t>(TNetWS2Entry::Count)> procs_{};
};

// The process-wide binding used by the socket stack.
TNetWinSock2Library& NetWinSock2();

// errno value -> the Windows Sockets error number the library's texts and
// ignored-code lists use (ECONNRESET -> 10054, EBADF -> 10038, ...). Values
// without a counterpart are returned unchanged.
int32_t NetTranslateErrno(int err) noexcept;
// getaddrinfo/getnameinfo result -> host look-up error number (11001 ...).
int32_t NetTranslateGaiError(int gaiError, int err) noexcept;
