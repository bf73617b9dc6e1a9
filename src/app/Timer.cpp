#include "app/Timer.h"

#include <algorithm>

TTimer::TTimer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer); // a clock should not drift
    timer_.setInterval(std::max(interval_, kFastestTickMs));
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (OnTimer) OnTimer();
    });
}

void TTimer::SetInterval(int ms) {
    interval_ = std::max(ms, 0);
    timer_.setInterval(std::max(interval_, kFastestTickMs));
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}
