#pragma once
// TDeviceWatch: devices plugged in or taken away while the program runs,
// handed to the UI thread. The window re-lists its "connect" menus on each
// change and unticks a chosen device whose DevicePath (TDeviceEntry) went.
#include "platform/DeviceInterfaces.h"

#include <QObject>

#include <functional>

class TDeviceWatch : public QObject {
  public:
    using Handler = std::function<void(const TDeviceChange&)>;

    // Starts watching; onChange runs on this object's thread (the UI thread)
    // for every change. Without a platform watch it stays idle.
    explicit TDeviceWatch(Handler onChange, QObject* parent = nullptr);
    ~TDeviceWatch() override;
    bool Running() const noexcept { return static_cast<bool>(watch_); }

  private:
    Handler onChange_;
    ComPtr<IDeviceWatch> watch_;
};
