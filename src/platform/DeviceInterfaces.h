#pragma once
// Device enumeration: the system device enumerator hands out one moniker
// enumerator per device category; each moniker's property bag names the
// device and each moniker binds to a new capture filter (IBaseFilter).
#include "platform/Moniker.h"

#include <functional>
#include <string>

struct ICreateDevEnum : IUnknown {
    static constexpr GUID Iid{
        0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
    using Base = IUnknown;
    // S_OK with an enumerator; S_FALSE (and no enumerator) for an empty or
    // unknown category.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) = 0;
};
inline constexpr const GUID& IID_ICreateDevEnum = ICreateDevEnum::Iid;

inline constexpr GUID CLSID_SystemDeviceEnum{
    0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr GUID CLSID_VideoInputDeviceCategory{
    0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr GUID CLSID_AudioInputDeviceCategory{
    0x33D9A762, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// A capture device plugged in or taken away while the program runs.
struct TDeviceChange {
    bool Added = true;
    bool Video = true;
    std::string FriendlyName;
    std::string DevicePath; // the identity the property bag's "DevicePath" gives
};

// Reports device changes of both input categories until stopped. Changes
// arrive on a thread of the media library, never the UI thread; the
// receiver must hand them over (and must not call Stop from inside).
// Only what a fresh listing of the category would also show (or no longer
// show) is reported: hidden providers' and monitor-only duplicates are not.
struct IDeviceWatch : IUnknown {
    static constexpr GUID Iid{
        0x7A51C0D2, 0x3B64, 0x4E8F, {0xA1, 0x27, 0x5C, 0x90, 0x3E, 0x44, 0x6B, 0x01}};
    using Base = IUnknown;
    virtual HRESULT Start(std::function<void(const TDeviceChange&)> changed) = 0;
    // Waits until no change is being reported.
    virtual void Stop() = 0;
};

inline constexpr GUID CLSID_DeviceWatch{
    0x7A51C0D2, 0x3B64, 0x4E8F, {0xA1, 0x27, 0x5C, 0x90, 0x3E, 0x44, 0x6B, 0x02}};
