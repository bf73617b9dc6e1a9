#pragma once
// Measuring helpers shared by the benchmark programs.
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

// User plus system CPU time of this process so far, in seconds.
inline double CpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The middle value; alternating rounds and taking this keeps one noisy
// stretch of the machine from deciding a comparison.
inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The 2 KB page both HTTP servers of the comparison answer with.
inline std::string BenchPage() {
    std::string page = "<html><head><title>[kavaroXP media streamer]</title></head><body>";
    while (page.size() < 2048 - 14)
        page += "<p>kavaroXP</p>";
    page.resize(2048 - 14, ' ');
    page += "</body></html>";
    return page;
}
