#pragma once
// The class registry: platform objects are created by class id, as
// CoCreateInstance does elsewhere. The GStreamer platform registers its classes
// at start-up; tests register fakes (TClassRegistration restores whatever was
// registered before when it goes out of scope). Thread-safe: one mutex guards
// the table, and factories run outside it.
#include "platform/ErrorText.h"
#include "platform/Unknown.h"

#include <functional>

// Creation contexts; accepted and otherwise ignored (everything is in-process).
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Creates a new object and queries it for iid into *out (an added reference).
using TClassFactory = std::function<HRESULT(REFIID iid, void** out)>;

// Registers (or replaces) the factory of a class id.
void RegisterClassFactory(REFCLSID clsid, TClassFactory factory);
// Removes the class; false when it was not registered.
bool UnregisterClassFactory(REFCLSID clsid);
bool IsClassRegistered(REFCLSID clsid);

// REGDB_E_CLASSNOTREG for an unknown class, CLASS_E_NOAGGREGATION when outer
// is given, E_POINTER for a null out; otherwise the factory's result.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, void** out);

template <class T>
HRESULT CreateInstance(REFCLSID clsid, ComPtr<T>& out, DWORD clsContext = CLSCTX_INPROC_SERVER) {
    return CoCreateInstance(clsid, nullptr, clsContext, T::Iid, out.PutVoid());
}

// Factory for an implementation class constructed with the given arguments
// (copied into the factory).
template <class Impl, class... Args> TClassFactory MakeClassFactory(Args... args) {
    return [=](REFIID iid, void** out) -> HRESULT {
        try {
            auto obj = MakeComObject<Impl>(args...);
            return obj->QueryInterface(iid, out);
        } catch (const EMediaResult& e) {
            if (out) *out = nullptr;
            return e.Code();
        }
    };
}

// Scoped registration for tests: registers on construction, puts back the
// previous factory (or none) on destruction.
class TClassRegistration {
  public:
    TClassRegistration(REFCLSID clsid, TClassFactory factory);
    ~TClassRegistration();
    TClassRegistration(const TClassRegistration&) = delete;
    TClassRegistration& operator=(const TClassRegistration&) = delete;

  private:
    CLSID clsid_;
    TClassFactory previous_;
    bool hadPrevious_;
};
