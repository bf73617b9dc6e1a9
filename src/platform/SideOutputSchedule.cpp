#include "platform/SideOutputSchedule.h"

#include <algorithm>

void TSideOutputSchedule::SetStarted(bool started, TimePoint now) {
    if (started == started_) return;
    started_ = started;
    if (started) Restart(now);
}

void TSideOutputSchedule::SetWanted(bool wanted, TimePoint now) {
    if (wanted == wanted_) return;
    wanted_ = wanted;
    if (wanted) {
        if (status_.State != TSideOutputState::Refused)
            status_ = {TSideOutputState::Connecting, 0, 0, {}};
    } else {
        // Demand that comes back is served at once, not after an old back-off.
        backOff_ = kFirstBackOff;
        retryAt_ = now;
    }
}

void TSideOutputSchedule::SetFed(bool fed) {
    fed_ = fed;
}

void TSideOutputSchedule::Restart(TimePoint now) {
    restart_ = hasRun_;
    backOff_ = kFirstBackOff;
    retryAt_ = now;
    status_ = {TSideOutputState::Connecting, 0, 0, {}};
}

void TSideOutputSchedule::Refuse(std::string reason) {
    status_ = {TSideOutputState::Refused, 0, 0, std::move(reason)};
}

void TSideOutputSchedule::Built(TimePoint now) {
    hasRun_ = true;
    failed_ = restart_ = false;
    builtAt_ = sampledAt_ = now;
    sampledBytes_ = 0;
    status_ = {TSideOutputState::Connecting, 0, 0, {}};
}

void TSideOutputSchedule::NotReady(TimePoint now) {
    retryAt_ = now + kCaptureWait;
}

bool TSideOutputSchedule::Failed(TimePoint now, std::string reason, bool refusal) {
    if (!hasRun_ || failed_ || restart_) return false;
    failed_ = true;
    if (refusal) {
        status_ = {TSideOutputState::Refused, 0, 0, std::move(reason)};
        return true;
    }
    status_ = {TSideOutputState::Retrying, 0, 0, std::move(reason)};
    retryAt_ = now + backOff_;
    backOff_ = std::min(backOff_ * 2, kLastBackOff);
    return true;
}

void TSideOutputSchedule::Sampled(TimePoint now, uint64_t bytes) {
    const double seconds = std::chrono::duration<double>(now - sampledAt_).count();
    const uint64_t taken = bytes >= sampledBytes_ ? bytes - sampledBytes_ : 0;
    const int kbps = seconds > 0 ? int(double(taken) * 8 / 1000 / seconds + 0.5) : 0;
    sampledBytes_ = bytes;
    sampledAt_ = now;
    if (failed_ || restart_) return;
    // Live once the sink has taken data for a while; one that stops taking
    // anything (a stuck link) no longer says it is.
    if (kbps > 0 && now - builtAt_ >= kLiveAfter) {
        status_ = {TSideOutputState::Live, kbps, 0, {}};
        backOff_ = kFirstBackOff;
    } else if (status_.State == TSideOutputState::Live) {
        status_ = {TSideOutputState::Connecting, 0, 0, {}};
    }
}

void TSideOutputSchedule::TornDown() {
    hasRun_ = failed_ = restart_ = false;
}

bool TSideOutputSchedule::Desired() const {
    return started_ && wanted_ && fed_ && status_.State != TSideOutputState::Refused;
}

TSideOutputSchedule::TAction TSideOutputSchedule::Next(TimePoint now, TimePoint& until) const {
    until = TimePoint::max();
    if (hasRun_) {
        if (restart_ || failed_ || !Desired()) return TAction::TearDown;
        if (now >= sampledAt_ + kSampleEvery) return TAction::Sample;
        until = sampledAt_ + kSampleEvery;
        return TAction::Wait;
    }
    if (!Desired()) return TAction::Wait;
    if (now >= retryAt_) return TAction::Build;
    until = retryAt_;
    return TAction::Wait;
}

TSideOutputStatus TSideOutputSchedule::Status(TimePoint now) const {
    if (!started_ || !wanted_) return {};
    TSideOutputStatus status = status_;
    if (status.State == TSideOutputState::Retrying) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - now);
        status.RetryInSeconds = int(std::max<int64_t>(0, (left.count() + 999) / 1000));
    }
    return status;
}

std::string SideOutputStatusText(const std::string& name, const TSideOutputStatus& status) {
    switch (status.State) {
    case TSideOutputState::Off:
        return {};
    case TSideOutputState::Connecting:
        return name + ": connecting";
    case TSideOutputState::Live:
        return name + ": live, " + std::to_string(status.Kbps) + " kbit/s";
    case TSideOutputState::Retrying:
        return name + ": retrying in " + std::to_string(status.RetryInSeconds) + " s" +
               (status.Reason.empty() ? std::string() : " (" + status.Reason + ")");
    case TSideOutputState::Refused:
        return name + ": refused: " + status.Reason;
    }
    return {};
}
