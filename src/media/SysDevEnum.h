#pragma once
// TSysDevEnum: the devices of one category in the platform's order, by
// index: name, class id and (from a fresh enumeration) moniker.
#include "platform/DeviceInterfaces.h"

#include <string>
#include <vector>

struct TDeviceEntry {
    std::string FriendlyName; // at most 255 bytes, cut on a character boundary
    GUID CLSID;               // GUID_NULL when the device has no "CLSID" value
    std::string DevicePath;   // the device's identity; empty when it has none
};

class TSysDevEnum {
  public:
    // An enumerator with no category selected and an empty list.
    TSysDevEnum();
    // CreateForCategory: constructs and selects category.
    explicit TSysDevEnum(const GUID& category);

    // Makes category current and lists its devices again. A "CLSID" value that
    // is not a GUID text raises (the devices listed before it stay listed).
    void SelectCategory(const GUID& category);
    const GUID& Category() const noexcept { return category_; }

    int DeviceCount() const noexcept { return static_cast<int>(devices_.size()); }
    // A copy of the entry; EListError out of range.
    TDeviceEntry GetDevice(int index) const;
    // The moniker at index in a fresh enumeration of the current category;
    // none out of range or when the platform now has fewer devices.
    ComPtr<IMoniker> GetDeviceMoniker(int index) const;
    // The moniker of the device with this path in a fresh enumeration of the
    // current category, wherever it is now; none when it is gone. With a
    // name, the device must carry that name too: an identity such as
    // /dev/video0 may come back on another camera after re-plugging.
    ComPtr<IMoniker> FindDeviceMoniker(const std::string& devicePath,
                                       const std::string& friendlyName = {}) const;

  private:
    ComPtr<IEnumMoniker> CreateClassEnumerator() const;

    GUID category_ = GUID_NULL;
    std::vector<TDeviceEntry> devices_;
};
