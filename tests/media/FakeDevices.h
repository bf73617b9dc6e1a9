#pragma once
// Fake devices: a system device enumerator over a table of categories, device
// monikers that save their device id and bind to FakeFilter objects.
#include "FakeFilter.h"

#include <map>
#include <optional>

struct FakeDevice {
    std::string name;
    std::optional<std::string> clsid; // the "CLSID" value, if any
    bool bindFails = false;
    std::optional<std::string> path = std::nullopt; // the "DevicePath" value, if any
};

struct FakeDeviceTable {
    std::map<std::string, FakeDevice> devices;           // by device id
    std::map<GUID, std::vector<std::string>> categories; // device ids in platform order
    int enumeratorsCreated = 0;
    static FakeDeviceTable& Get() {
        static FakeDeviceTable t;
        return t;
    }
};

inline constexpr GUID kFakeMonikerClsid{
    0x1D2E3F40, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class FakePropertyBag final : public TComObject<IPropertyBag> {
  public:
    explicit FakePropertyBag(FakeDevice d) : device_(std::move(d)) {}
    HRESULT Read(const std::string& name, std::string& value) override {
        if (name == "FriendlyName") {
            value = device_.name;
            return S_OK;
        }
        if (name == "CLSID" && device_.clsid) {
            value = *device_.clsid;
            return S_OK;
        }
        if (name == "DevicePath" && device_.path) {
            value = *device_.path;
            return S_OK;
        }
        return E_INVALIDARG;
    }

  private:
    FakeDevice device_;
};

// Saved form: "dev:" + device id.
class FakeMoniker final : public TComObject<IMoniker> {
  public:
    FakeMoniker() = default;
    explicit FakeMoniker(std::string id) : id_(std::move(id)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        *clsid = kFakeMonikerClsid;
        return S_OK;
    }
    HRESULT Load(std::span<const uint8_t> data) override {
        const std::string s(data.begin(), data.end());
        if (s.rfind("dev:", 0) != 0) return STG_E_INVALIDHEADER;
        id_ = s.substr(4);
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>& stream, BOOL) override {
        const std::string s = "dev:" + id_;
        stream.insert(stream.end(), s.begin(), s.end());
        return S_OK;
    }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        *out = nullptr;
        auto& t = FakeDeviceTable::Get().devices;
        auto it = t.find(id_);
        if (it == t.end() || it->second.bindFails) return E_FAIL;
        return MakeComObject<FakeFilter>(id_)->QueryInterface(iid, out);
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        *out = nullptr;
        auto& t = FakeDeviceTable::Get().devices;
        auto it = t.find(id_);
        if (it == t.end()) return E_FAIL;
        return MakeComObject<FakePropertyBag>(it->second)->QueryInterface(iid, out);
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, std::string& name) override {
        name = id_;
        return S_OK;
    }
    HRESULT IsEqual(IMoniker* other) override {
        std::string n;
        return other && SUCCEEDED(other->GetDisplayName(nullptr, nullptr, n)) && n == id_ ? S_OK
                                                                                          : S_FALSE;
    }

  private:
    std::string id_;
};

class FakeDevEnum final : public TComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        *out = nullptr;
        auto& t = FakeDeviceTable::Get();
        ++t.enumeratorsCreated;
        auto it = t.categories.find(category);
        if (it == t.categories.end() || it->second.empty()) return S_FALSE;
        std::vector<ComPtr<IMoniker>> monikers;
        for (const auto& id : it->second)
            monikers.push_back(MakeComObject<FakeMoniker>(id));
        *out = MakeComObject<FakeEnum<IMoniker, IEnumMoniker>>(monikers).Detach();
        return S_OK;
    }
};

// Registers the fake enumerator and moniker classes for a test's lifetime
// and empties the device table.
struct FakeDevicePlatform {
    TClassRegistration devEnum{CLSID_SystemDeviceEnum, MakeClassFactory<FakeDevEnum>()};
    TClassRegistration moniker{kFakeMonikerClsid, MakeClassFactory<FakeMoniker>()};
    FakeDevicePlatform() { FakeDeviceTable::Get() = FakeDeviceTable{}; }
    ~FakeDevicePlatform() { FakeDeviceTable::Get() = FakeDeviceTable{}; }
    static void Add(const GUID& category, const std::string& id, FakeDevice d) {
        FakeDeviceTable::Get().devices[id] = std::move(d);
        FakeDeviceTable::Get().categories[category].push_back(id);
    }
};
