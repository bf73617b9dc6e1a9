#pragma once
// TPinList: the pins of one platform filter in its enumeration order.
#include "platform/FilterInterfaces.h"

#include <vector>

class TPinList {
  public:
    // CreateForFilter: lists filter's pins at once (none for a null filter).
    explicit TPinList(IBaseFilter* filter);
    TPinList(const TPinList&) = delete;
    TPinList& operator=(const TPinList&) = delete;

    // Lists the pins again.
    void Update();
    int Count() const noexcept { return static_cast<int>(pins_.size()); }
    // EListError out of range.
    ComPtr<IPin> PinAt(int index) const;
    ComPtr<IPin> FirstPin() const { return PinAt(0); }
    // Releases info's previous filter reference, then fills it from the pin
    // at index (the caller releases it with FreePinInfo). EListError out of range.
    void PinInfoAt(int index, PIN_INFO& info) const;
    // Removes the entry (the pin itself is not touched). EListError out of range.
    void Delete(int index);
    IBaseFilter* Filter() const noexcept { return filter_.Get(); }

  private:
    ComPtr<IBaseFilter> filter_;
    std::vector<ComPtr<IPin>> pins_;
};

// Pin information that releases its filter reference by itself.
struct TPinInfo {
    PIN_INFO Record{};
    TPinInfo() = default;
    TPinInfo(const TPinInfo&) = delete;
    TPinInfo& operator=(const TPinInfo&) = delete;
    ~TPinInfo() { FreePinInfo(Record); }
};
