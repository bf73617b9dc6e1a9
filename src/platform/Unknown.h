#pragma once
// The object model's root: IUnknown (interface query by GUID, reference
// counting), the ComPtr smart pointer, and TComObject, the base that gives an
// implementation its reference count and its QueryInterface.
//
// Every interface is an abstract struct with a static `Iid` (its published
// interface id) and a `Base` alias naming the interface it extends (void for
// IUnknown), so that TComObject can answer queries for the whole chain.
#include "common/Guid.h"
#include "common/ResultCode.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

// Fixed-width names of the platform's published records and signatures.
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t; // 32-bit boolean: 0 false, anything else true
using LONGLONG = int64_t;
using REFERENCE_TIME = int64_t; // 100-nanosecond units
using LONG_PTR = intptr_t;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// Result codes of the object model beyond common/ResultCode.h.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeResult(0x800401E3);
inline constexpr HRESULT MK_E_NOOBJECT = MakeResult(0x800401E5);
inline constexpr HRESULT STG_E_READFAULT = MakeResult(0x8003001E);
inline constexpr HRESULT STG_E_MEDIUMFULL = MakeResult(0x80030070);
inline constexpr HRESULT STG_E_INVALIDHEADER = MakeResult(0x800300FB);
inline constexpr HRESULT E_HANDLE = MakeResult(0x80070006);
inline constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005);

struct IUnknown {
    static constexpr GUID Iid{
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    using Base = void;

    // On success *out holds an added reference; on failure *out is null.
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};
inline constexpr const GUID& IID_IUnknown = IUnknown::Iid;

// Owning interface pointer: one reference per non-null ComPtr.
template <class T> class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Adds a reference (the caller keeps its own).
    ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) noexcept : ComPtr(static_cast<T*>(o.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Takes over a reference the caller owns (no AddRef).
    static ComPtr Attach(T* p) noexcept {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Hands the reference to the caller.
    T* Detach() noexcept { return std::exchange(p_, nullptr); }

    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Out-parameter forms: the current reference is released first.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // Copies the reference out (AddRef); E_POINTER for a null target.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    // Interface query into another ComPtr; E_POINTER when this one is empty.
    template <class U> HRESULT As(ComPtr<U>& out) const {
        if (!p_) {
            out.Reset();
            return E_POINTER;
        }
        return p_->QueryInterface(U::Iid, out.PutVoid());
    }
    template <class U> ComPtr<U> Query() const {
        ComPtr<U> r;
        As(r);
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

  private:
    T* p_ = nullptr;
};

// Interface query on a raw pointer (null-safe).
template <class U> ComPtr<U> QueryAs(IUnknown* p) {
    ComPtr<U> r;
    if (p) p->QueryInterface(U::Iid, r.PutVoid());
    return r;
}

// Implementation base: TComObject<IBaseFilter, IAMStreamConfig> answers
// queries for both interfaces and every interface they extend (IUnknown by the
// first one, so identity is stable). The count is atomic: objects are shared
// with streaming threads. Create instances with MakeComObject.
template <class... Interfaces> class TComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "TComObject needs at least one interface");

  public:
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        void* found = nullptr;
        ((found || (found = MatchChain<Interfaces>(static_cast<Interfaces*>(this), iid))), ...);
        if (!found) return QueryOtherInterface(iid, out);
        AddRef();
        *out = found;
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

  protected:
    TComObject() = default;
    ~TComObject() override = default;

    // Hook for interfaces answered by inner objects; must AddRef what it
    // returns in *out (which the caller has already set to null).
    virtual HRESULT QueryOtherInterface(REFIID, void**) { return E_NOINTERFACE; }

  private:
    template <class I> static void* MatchChain(I* p, REFIID iid) {
        if (iid == I::Iid) return p;
        if constexpr (!std::is_void_v<typename I::Base>) {
            return MatchChain<typename I::Base>(p, iid);
        } else {
            return nullptr;
        }
    }

    std::atomic<ULONG> refs_{0};
};

// Creates a reference-counted object; the returned ComPtr holds the only reference.
template <class T, class... Args> ComPtr<T> MakeComObject(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}
