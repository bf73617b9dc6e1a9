#include "platform/RunningObjectTable.h"

#include <mutex>

namespace {

// "!" + item: the name an item moniker shows and registers under.
class TItemMoniker final : public TComObject<IMoniker> {
  public:
    TItemMoniker(std::string delimiter, std::string item)
        : name_(std::move(delimiter) + std::move(item)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = kClassId;
        return S_OK;
    }
    HRESULT Load(std::span<const uint8_t> data) override {
        name_.assign(data.begin(), data.end());
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>& stream, BOOL) override {
        stream.insert(stream.end(), name_.begin(), name_.end());
        return S_OK;
    }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) override;
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, std::string& name) override {
        name = name_;
        return S_OK;
    }
    HRESULT IsEqual(IMoniker* other) override {
        if (!other) return S_FALSE;
        std::string n;
        return SUCCEEDED(other->GetDisplayName(nullptr, nullptr, n)) && n == name_ ? S_OK : S_FALSE;
    }

    static constexpr GUID kClassId{
        0x00000304, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

  private:
    std::string name_;
};

struct TEntry {
    DWORD cookie;
    std::string name;
    ComPtr<IUnknown> object; // identity pointer
};

class TRunningObjectTable final : public TComObject<IRunningObjectTable> {
  public:
    HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override {
        if (!object || !name || !cookie) return E_INVALIDARG;
        *cookie = 0;
        std::string display;
        HRESULT hr = name->GetDisplayName(nullptr, nullptr, display);
        if (FAILED(hr)) return hr;
        ComPtr<IUnknown> identity = QueryAs<IUnknown>(object);
        if (!identity) return E_NOINTERFACE;
        std::lock_guard g(lock_);
        bool taken = false;
        for (const auto& e : entries_)
            taken = taken || e.name == display;
        *cookie = ++lastCookie_;
        entries_.push_back({*cookie, display, identity});
        return taken ? MK_S_MONIKERALREADYREGISTERED : S_OK;
    }
    HRESULT Revoke(DWORD cookie) override {
        ComPtr<IUnknown> released; // let go outside the lock
        std::lock_guard g(lock_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->cookie == cookie) {
                released = std::move(it->object);
                entries_.erase(it);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
    HRESULT IsRunning(IMoniker* name) override {
        ComPtr<IUnknown> obj;
        return SUCCEEDED(GetObject(name, obj.Put())) ? S_OK : S_FALSE;
    }
    HRESULT GetObject(IMoniker* name, IUnknown** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!name) return E_INVALIDARG;
        std::string display;
        HRESULT hr = name->GetDisplayName(nullptr, nullptr, display);
        if (FAILED(hr)) return hr;
        std::lock_guard g(lock_);
        for (const auto& e : entries_)
            if (e.name == display) return e.object.CopyTo(out);
        return MK_E_UNAVAILABLE;
    }
    std::vector<std::string> RegisteredNames() override {
        std::lock_guard g(lock_);
        std::vector<std::string> names;
        for (const auto& e : entries_)
            names.push_back(e.name);
        return names;
    }
    bool NameOf(IUnknown* object, std::string& name) {
        ComPtr<IUnknown> identity = QueryAs<IUnknown>(object);
        if (!identity) return false;
        std::lock_guard g(lock_);
        for (const auto& e : entries_) {
            if (e.object.Get() == identity.Get()) {
                name = e.name;
                return true;
            }
        }
        return false;
    }

  private:
    std::mutex lock_; // guards entries_ and lastCookie_
    std::vector<TEntry> entries_;
    DWORD lastCookie_ = 0;
};

TRunningObjectTable& TheTable() {
    // Lives for the whole process; the leaked reference keeps it alive past
    // other statics' destructors.
    static TRunningObjectTable* table = MakeComObject<TRunningObjectTable>().Detach();
    return *table;
}

HRESULT TItemMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IUnknown> obj;
    HRESULT hr = TheTable().GetObject(this, obj.Put());
    if (FAILED(hr)) return MK_E_NOOBJECT;
    return obj->QueryInterface(iid, out);
}

} // namespace

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** out) {
    if (!out) return E_POINTER;
    TRunningObjectTable& t = TheTable();
    t.AddRef();
    *out = &t;
    return S_OK;
}

HRESULT CreateItemMoniker(const std::string& delimiter, const std::string& item, IMoniker** out) {
    if (!out) return E_POINTER;
    *out = MakeComObject<TItemMoniker>(delimiter, item).Detach();
    return S_OK;
}

bool RunningObjectName(IUnknown* object, std::string& name) {
    return TheTable().NameOf(object, name);
}
