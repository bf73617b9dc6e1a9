#pragma once
// Device enumeration: the system device enumerator hands out one moniker
// enumerator per device category; each moniker's property bag names the
// device and each moniker binds to a new capture filter (IBaseFilter).
#include "platform/Moniker.h"

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
