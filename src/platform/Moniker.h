#pragma once
// Persistence and monikers: IPersist, IPersistStream (save to / load from a
// byte vector), IMoniker with its property bag, IEnumMoniker, and the
// OleSaveToStream / OleLoadFromStream stand-ins.
//
// Saved form of an object: its 16-byte class id (GUID fields little-endian),
// then the bytes its IPersistStream::Save wrote. Loading reads the class id,
// creates the object through the class registry, and hands it the rest of the
// block, so a moniker class must be registered to be loadable.
#include "platform/Unknown.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct IPersist : IUnknown {
    static constexpr GUID Iid{
        0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IUnknown;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

struct IPersistStream : IPersist {
    static constexpr GUID Iid{
        0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IPersist;
    virtual HRESULT IsDirty() { return S_FALSE; }
    // Restores the object from exactly these bytes (what Save appended);
    // a failure code for bytes it cannot read.
    virtual HRESULT Load(std::span<const uint8_t> data) = 0;
    // Appends the object's state to stream.
    virtual HRESULT Save(std::vector<uint8_t>& stream, BOOL clearDirty) = 0;
};

// Bind contexts are never used (callers pass none); declared for signatures.
struct IBindCtx : IUnknown {
    static constexpr GUID Iid{
        0x0000000E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IUnknown;
};

// Named values of a device: "FriendlyName", "CLSID" (registry form with
// braces), "DevicePath". Values are UTF-8 text.
struct IPropertyBag : IUnknown {
    static constexpr GUID Iid{
        0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
    using Base = IUnknown;
    // S_OK with the value; a failure code (E_INVALIDARG) when the bag has no such value.
    virtual HRESULT Read(const std::string& name, std::string& value) = 0;
    virtual HRESULT Write(const std::string&, const std::string&) { return E_NOTIMPL; }
};

struct IMoniker : IPersistStream {
    static constexpr GUID Iid{
        0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IPersistStream;
    // A new object (a device moniker: a new capture filter) answering iid.
    virtual HRESULT BindToObject(IBindCtx* ctx, IMoniker* left, REFIID iid, void** out) = 0;
    // Storage of the named object (a device moniker: its IPropertyBag).
    virtual HRESULT BindToStorage(IBindCtx* ctx, IMoniker* left, REFIID iid, void** out) = 0;
    virtual HRESULT GetDisplayName(IBindCtx* ctx, IMoniker* left, std::string& name) = 0;
    // S_OK when other names the same object, S_FALSE otherwise.
    virtual HRESULT IsEqual(IMoniker* other) = 0;
};

struct IEnumMoniker : IUnknown {
    static constexpr GUID Iid{
        0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = IUnknown;
    // Up to count monikers into out (each an added reference); S_OK when all
    // were fetched, S_FALSE when fewer. fetched may be null when count is 1.
    virtual HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) = 0;
    // S_FALSE when the end came first.
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** out) = 0;
};

inline constexpr const GUID& IID_IPersist = IPersist::Iid;
inline constexpr const GUID& IID_IPersistStream = IPersistStream::Iid;
inline constexpr const GUID& IID_IPropertyBag = IPropertyBag::Iid;
inline constexpr const GUID& IID_IMoniker = IMoniker::Iid;
inline constexpr const GUID& IID_IEnumMoniker = IEnumMoniker::Iid;

// Appends the object's class id and state to stream.
HRESULT OleSaveToStream(IPersistStream* object, std::vector<uint8_t>& stream);
// Creates the object a block saved by OleSaveToStream names, loads it and
// queries it for iid. STG_E_READFAULT for a block shorter than a class id,
// REGDB_E_CLASSNOTREG for an unknown class, the object's Load failure else.
HRESULT OleLoadFromStream(std::span<const uint8_t> stream, REFIID iid, void** out);
