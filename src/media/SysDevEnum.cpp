#include "media/SysDevEnum.h"

#include "media/MediaErrors.h"
#include "platform/ClassRegistry.h"
#include "platform/Utf8.h"

namespace {
constexpr size_t kMaxFriendlyName = 255;
}

TSysDevEnum::TSysDevEnum() = default;

TSysDevEnum::TSysDevEnum(const GUID& category) {
    SelectCategory(category);
}

ComPtr<IEnumMoniker> TSysDevEnum::CreateClassEnumerator() const {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CreateInstance(CLSID_SystemDeviceEnum, devEnum, CLSCTX_INPROC))) return nullptr;
    ComPtr<IEnumMoniker> monikers;
    // Only S_OK counts: an empty category answers S_FALSE.
    if (devEnum->CreateClassEnumerator(category_, monikers.Put(), 0) != S_OK) return nullptr;
    return monikers;
}

void TSysDevEnum::SelectCategory(const GUID& category) {
    devices_.clear();
    category_ = category;
    ComPtr<IEnumMoniker> monikers = CreateClassEnumerator();
    if (!monikers) return;
    for (;;) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        if (monikers->Next(1, moniker.Put(), &fetched) != S_OK || !moniker) break;
        TDeviceEntry entry{{}, GUID_NULL, {}};
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) &&
            bag) {
            std::string value;
            if (SUCCEEDED(bag->Read("FriendlyName", value)))
                entry.FriendlyName = Utf8Truncate(value, kMaxFriendlyName);
            value.clear();
            if (SUCCEEDED(bag->Read("CLSID", value))) entry.CLSID = StringToGuid(value);
            value.clear();
            if (SUCCEEDED(bag->Read("DevicePath", value))) entry.DevicePath = value;
        }
        devices_.push_back(std::move(entry));
    }
}

TDeviceEntry TSysDevEnum::GetDevice(int index) const {
    if (index < 0 || index >= DeviceCount()) throw EListError(index);
    return devices_[static_cast<size_t>(index)];
}

ComPtr<IMoniker> TSysDevEnum::GetDeviceMoniker(int index) const {
    if (index < 0 || index >= DeviceCount()) return nullptr;
    ComPtr<IEnumMoniker> monikers = CreateClassEnumerator();
    if (!monikers) return nullptr;
    ComPtr<IMoniker> moniker;
    if (monikers->Skip(static_cast<ULONG>(index)) == S_OK) {
        ULONG fetched = 0;
        if (monikers->Next(1, moniker.Put(), &fetched) != S_OK) moniker.Reset();
    }
    monikers->Reset();
    return moniker;
}

ComPtr<IMoniker> TSysDevEnum::FindDeviceMoniker(const std::string& devicePath,
                                                const std::string& friendlyName) const {
    if (devicePath.empty()) return nullptr;
    ComPtr<IEnumMoniker> monikers = CreateClassEnumerator();
    if (!monikers) return nullptr;
    for (;;) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        if (monikers->Next(1, moniker.Put(), &fetched) != S_OK || !moniker) return nullptr;
        ComPtr<IPropertyBag> bag;
        std::string path, name;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) ||
            !bag || FAILED(bag->Read("DevicePath", path)) || path != devicePath)
            continue;
        if (friendlyName.empty()) return moniker;
        // Compared as listed: the entry's name was cut to the same length.
        if (SUCCEEDED(bag->Read("FriendlyName", name)) &&
            Utf8Truncate(name, kMaxFriendlyName) == friendlyName)
            return moniker;
    }
}
