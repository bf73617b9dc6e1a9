#include "net/NetWinSock2.h"

#include "net/NetStack.h"

#include <cerrno>
#include <dlfcn.h>
#include <netdb.h>

namespace {
constexpr const char* kEntryNames[] = {
    "accept4",
    "bind",
    "close",
    "connect",
    "fcntl",
    "getpeername",
    "getsockname",
    "getsockopt",
    "listen",
    "poll",
    "recv",
    "recvfrom",
    "send",
    "sendto",
    "setsockopt",
    "shutdown",
    "socket",
    "getaddrinfo",
    "freeaddrinfo",
    "getnameinfo",
    "gethostname",
    "getservbyname_r",
    "getservbyport_r",
};
static_assert(std::size(kEntryNames) == static_cast<size_t>(TNetWS2Entry::Count));

std::string SystemErrorText(int32_t code) {
    if (code == NetWSANotInitialised)
        return "Either the application has not called WSAStartup, or WSAStartup failed.";
    return "Error " + std::to_string(code);
}
} // namespace

TNetWinSock2Library::TNetWinSock2Library(std::string libraryName)
    : libraryName_(std::move(libraryName)) {}

TNetWinSock2Library::~TNetWinSock2Library() {
    Unload();
}

const char* TNetWinSock2Library::EntryName(TNetWS2Entry entry) {
    return kEntryNames[static_cast<size_t>(entry)];
}

int32_t TNetWinSock2Library::Startup(uint16_t /*version*/) {
    if (Loaded()) return 0;
    dlerror();
    void* h = ::dlopen(libraryName_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char* why = dlerror();
        // 126 is the number the loader reports for a module it cannot find.
        throw ENetWS2StubError(126, why != nullptr ? why : "cannot load library",
                               "Error on loading Winsock2 library (" + libraryName_ + ")");
    }
    void* expected = nullptr;
    if (!handle_.compare_exchange_strong(expected, h, std::memory_order_acq_rel))
        ::dlclose(h); // another thread loaded it first
    return 0;
}

void TNetWinSock2Library::Unload() {
    void* h = handle_.exchange(nullptr, std::memory_order_acq_rel);
    if (h == nullptr) return;
    for (auto& p : procs_)
        p.store(nullptr, std::memory_order_release);
    ::dlclose(h);
}

void* TNetWinSock2Library::BindStub(TNetWS2Entry entry) {
    const std::string title =
        std::string("Error on call Winsock2 library function ") + EntryName(entry);
    void* h = handle_.load(std::memory_order_acquire);
    if (h == nullptr)
        throw ENetWS2StubError(NetWSANotInitialised, SystemErrorText(NetWSANotInitialised), title);
    // Resolve through the global scope first so that tools wrapping the C library
    // (the sanitizers) still see every call; the loaded library answers otherwise.
    dlerror();
    void* p = ::dlsym(RTLD_DEFAULT, EntryName(entry));
    if (p == nullptr) p = ::dlsym(h, EntryName(entry));
    if (p == nullptr) {
        const char* why = dlerror();
        // 127: the number the loader reports for a missing procedure.
        throw ENetWS2StubError(127, why != nullptr ? why : "function not found", title);
    }
    procs_[static_cast<size_t>(entry)].store(p, std::memory_order_release);
    return p;
}

TNetWinSock2Library& NetWinSock2() {
    static TNetWinSock2Library library;
    return library;
}

int32_t NetTranslateErrno(int err) noexcept {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return NetWSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return NetWSAEWOULDBLOCK;
    case EINPROGRESS:
        return NetWSAEINPROGRESS;
    case EALREADY:
        return 10037;
    case EBADF:
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case EPIPE:
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    default:
        return err;
    }
}

int32_t NetTranslateGaiError(int gaiError, int err) noexcept {
    switch (gaiError) {
    case 0:
        return 0;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAMILY:
        return 11001; // host not found
    case EAI_AGAIN:
        return 11002; // temporary failure
    case EAI_FAIL:
        return 11003; // non-recoverable
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return NetTranslateErrno(err);
    default:
        return 11003;
    }
}
