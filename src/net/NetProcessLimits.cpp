#include "net/NetProcessLimits.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

bool NetRaiseOpenFileLimit(std::string* error) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        if (error) *error = std::string("getrlimit: ") + std::strerror(errno);
        return false;
    }
    if (limit.rlim_cur == limit.rlim_max) return true;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        if (error) *error = std::string("setrlimit: ") + std::strerror(errno);
        return false;
    }
    return true;
}
