#include "net/NetComponent.h"

TNetComponent::TNetComponent() {
    NetStackAddRef();
}

TNetComponent::~TNetComponent() {
    NetStackRelease();
}

void TNetComponent::BeginWork(TWorkMode mode, int64_t max) {
    TWork& w = work_[Index(mode)];
    if (++w.level == 1) {
        w.max = max;
        w.count = 0;
        if (OnWorkBegin) OnWorkBegin(*this, mode, max);
    }
}

void TNetComponent::DoWork(TWorkMode mode, int64_t count) {
    TWork& w = work_[Index(mode)];
    if (w.level < 1) return;
    w.count += count;
    if (OnWork) OnWork(*this, mode, w.count);
}

void TNetComponent::EndWork(TWorkMode mode) {
    TWork& w = work_[Index(mode)];
    if (w.level < 1) return;
    const bool outermost = w.level == 1;
    --w.level; // lowered first so that a throwing handler leaves the count right
    if (outermost && OnWorkEnd) OnWorkEnd(*this, mode);
}

std::string TNetComponent::StatusText(TNetStatus status, const std::string& arg) {
    switch (status) {
    case TNetStatus::hsResolving:
        return "Resolving hostname " + arg + ".";
    case TNetStatus::hsConnecting:
        return "Connecting to " + arg + ".";
    case TNetStatus::hsConnected:
        return "Connected.";
    case TNetStatus::hsDisconnecting:
        return "Disconnecting.";
    case TNetStatus::hsDisconnected:
        return "Disconnected.";
    default:
        return arg;
    }
}

void TNetComponent::DoStatus(TNetStatus status, const std::string& arg) {
    if (OnStatus) OnStatus(*this, status, StatusText(status, arg));
}
