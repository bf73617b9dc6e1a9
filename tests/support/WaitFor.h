#pragma once
// Waiting for a condition that other threads make true, without an event
// loop (for tests with no Qt, or whose events do not need one).
#include <chrono>
#include <functional>
#include <thread>

// Polls done() until it holds or the time is up; returns done().
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
