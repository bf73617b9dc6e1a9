#include "media/DeviceWatch.h"

#include "platform/ClassRegistry.h"

#include <QMetaObject>
#include <QPointer>

TDeviceWatch::TDeviceWatch(Handler onChange, QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)) {
    if (FAILED(CreateInstance(CLSID_DeviceWatch, watch_))) {
        watch_ = nullptr;
        return;
    }
    // Reports come from the media library's threads; a report queued for a
    // watch already gone is dropped with it.
    const HRESULT hr = watch_->Start([this](const TDeviceChange& change) {
        QMetaObject::invokeMethod(
            this, [this, change] { onChange_(change); }, Qt::QueuedConnection);
    });
    if (FAILED(hr)) watch_ = nullptr;
}

TDeviceWatch::~TDeviceWatch() {
    if (watch_) watch_->Stop();
}
