#pragma once
// The running object table: an in-process table of objects registered under
// a moniker's display name, so that inspection tools (and the graph's
// structure dumps) can find an active graph by name.
#include "platform/Moniker.h"

#include <string>
#include <vector>

struct IRunningObjectTable : IUnknown {
    static constexpr GUID Iid{
        0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IUnknown;
    // Holds a reference on object until revoked; *cookie is never 0 on success.
    // MK_S_MONIKERALREADYREGISTERED when the name is already taken (both stay).
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    // E_INVALIDARG for an unknown cookie.
    virtual HRESULT Revoke(DWORD cookie) = 0;
    // S_OK when registered, S_FALSE otherwise.
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    virtual HRESULT GetObject(IMoniker* name, IUnknown** out) = 0;
    // Not in the original interface: the display names registered now, in
    // registration order.
    virtual std::vector<std::string> RegisteredNames() = 0;
};
inline constexpr const GUID& IID_IRunningObjectTable = IRunningObjectTable::Iid;

inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = 0x000401E7;

// The process's table (one per process, created on first use).
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** out);
// A moniker whose display name is delimiter + item ("!" + "FilterGraph ...").
HRESULT CreateItemMoniker(const std::string& delimiter, const std::string& item, IMoniker** out);
// The name under which object (compared by identity) is registered; false
// when it is not registered.
bool RunningObjectName(IUnknown* object, std::string& name);
