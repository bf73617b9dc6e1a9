#pragma once
// Fake pins and filters: pins with a list of formats, filters with pins.
#include "FakeLog.h"
#include "media/MediaType.h"
#include "platform/Platform.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class FakeEnumMediaTypes final : public TComObject<IEnumMediaTypes> {
  public:
    explicit FakeEnumMediaTypes(std::vector<TMediaType> types) : types_(std::move(types)) {}
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < count && pos_ < types_.size())
            out[n++] = CreateMediaType(types_[pos_++].MediaTypeRecord());
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        pos_ += count;
        return pos_ <= types_.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

  private:
    std::vector<TMediaType> types_;
    size_t pos_ = 0;
};

class FakePin final : public TComObject<IPin> {
  public:
    FakePin(std::string name, PIN_DIRECTION dir, std::vector<TMediaType> types = {})
        : name_(std::move(name)), dir_(dir), types_(std::move(types)) {}

    HRESULT enumResult = S_OK;          // what EnumMediaTypes answers
    HRESULT disconnectResult = S_FALSE; // what Disconnect answers
    int disconnects = 0;
    IBaseFilter* owner = nullptr;

    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override {
        ++disconnects;
        return disconnectResult;
    }
    HRESULT ConnectedTo(IPin** out) override {
        *out = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    HRESULT QueryPinInfo(PIN_INFO* info) override {
        info->pFilter = owner;
        if (owner) owner->AddRef();
        info->dir = dir_;
        CopyRecordName(info->achName, MAX_PIN_NAME, name_);
        return S_OK;
    }
    HRESULT QueryDirection(PIN_DIRECTION* dir) override {
        *dir = dir_;
        return S_OK;
    }
    HRESULT QueryId(std::string& id) override {
        id = name_;
        return S_OK;
    }
    HRESULT EnumMediaTypes(IEnumMediaTypes** out) override {
        *out = nullptr;
        if (enumResult != S_OK) return enumResult;
        *out = MakeComObject<FakeEnumMediaTypes>(types_).Detach();
        return S_OK;
    }

  private:
    std::string name_;
    PIN_DIRECTION dir_;
    std::vector<TMediaType> types_;
};

// An unconnected input pin whose disconnections a test counts; it offers no formats.
inline ComPtr<FakePin> MakeCountingPin(const std::string& name) {
    ComPtr<FakePin> pin = MakeComObject<FakePin>(name, PINDIR_INPUT);
    pin->disconnectResult = S_OK;
    pin->enumResult = E_NOTIMPL;
    return pin;
}

template <class Item, class Enum> class FakeEnum final : public TComObject<Enum> {
  public:
    explicit FakeEnum(std::vector<ComPtr<Item>> items) : items_(std::move(items)) {}
    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < count && pos_ < items_.size())
            items_[pos_++].CopyTo(&out[n++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        pos_ += count;
        if (pos_ <= items_.size()) return S_OK;
        pos_ = items_.size();
        return S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(Enum** out) override {
        *out = MakeComObject<FakeEnum>(items_).Detach();
        return S_OK;
    }

  private:
    std::vector<ComPtr<Item>> items_;
    size_t pos_ = 0;
};

class FakeFilter final : public TComObject<IBaseFilter> {
  public:
    explicit FakeFilter(std::string name) : name_(std::move(name)) { ++Live(); }
    ~FakeFilter() override { --Live(); }
    static std::atomic<int>& Live() {
        static std::atomic<int> n{0};
        return n;
    }

    std::vector<ComPtr<IPin>> pins;
    int stopCount = 0;
    const std::string& Name() const { return name_; }

    HRESULT GetClassID(CLSID* clsid) override {
        *clsid = GUID_NULL;
        return S_OK;
    }
    HRESULT Stop() override {
        ++stopCount;
        FakeLog::Add("Stop " + name_);
        return S_OK;
    }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE* s) override {
        *s = State_Stopped;
        return S_OK;
    }
    HRESULT EnumPins(IEnumPins** out) override {
        *out = MakeComObject<FakeEnum<IPin, IEnumPins>>(pins).Detach();
        return S_OK;
    }
    HRESULT FindPin(const std::string&, IPin** out) override {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        CopyRecordName(info->achName, MAX_FILTER_NAME, name_);
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const std::string&) override { return S_OK; }

  private:
    std::string name_;
};
