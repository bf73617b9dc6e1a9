#pragma once
// Measuring helpers shared by the benchmark programs.
#include <sys/resource.h>

// User plus system CPU time of this process so far, in seconds.
inline double CpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}
