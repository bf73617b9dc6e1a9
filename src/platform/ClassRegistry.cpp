#include "platform/ClassRegistry.h"

#include <map>
#include <mutex>

namespace {
struct Registry {
    std::mutex lock; // guards table
    std::map<CLSID, TClassFactory> table;
};
Registry& TheRegistry() {
    static Registry r;
    return r;
}
} // namespace

void RegisterClassFactory(REFCLSID clsid, TClassFactory factory) {
    Registry& r = TheRegistry();
    std::lock_guard g(r.lock);
    r.table[clsid] = std::move(factory);
}

bool UnregisterClassFactory(REFCLSID clsid) {
    Registry& r = TheRegistry();
    std::lock_guard g(r.lock);
    return r.table.erase(clsid) > 0;
}

bool IsClassRegistered(REFCLSID clsid) {
    Registry& r = TheRegistry();
    std::lock_guard g(r.lock);
    return r.table.count(clsid) > 0;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    TClassFactory factory;
    {
        Registry& r = TheRegistry();
        std::lock_guard g(r.lock);
        auto it = r.table.find(clsid);
        if (it == r.table.end() || !it->second) return REGDB_E_CLASSNOTREG;
        factory = it->second; // run outside the lock: factories may create other classes
    }
    const HRESULT hr = factory(iid, out);
    if (FAILED(hr)) *out = nullptr;
    return hr;
}

TClassRegistration::TClassRegistration(REFCLSID clsid, TClassFactory factory)
    : clsid_(clsid), hadPrevious_(false) {
    Registry& r = TheRegistry();
    std::lock_guard g(r.lock);
    auto it = r.table.find(clsid);
    if (it != r.table.end()) {
        previous_ = std::move(it->second);
        hadPrevious_ = true;
    }
    r.table[clsid] = std::move(factory);
}

TClassRegistration::~TClassRegistration() {
    Registry& r = TheRegistry();
    std::lock_guard g(r.lock);
    if (hadPrevious_)
        r.table[clsid_] = std::move(previous_);
    else
        r.table.erase(clsid_);
}
