#include "media/PinList.h"

#include "media/MediaErrors.h"
#include "platform/ComEnum.h"

TPinList::TPinList(IBaseFilter* filter) : filter_(filter) {
    Update();
}

void TPinList::Update() {
    pins_.clear();
    if (!filter_) return;
    ComPtr<IEnumPins> pins;
    if (filter_->EnumPins(pins.Put()) != S_OK || !pins) return;
    AppendAll(*pins, pins_);
}

ComPtr<IPin> TPinList::PinAt(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return pins_[static_cast<size_t>(index)];
}

void TPinList::PinInfoAt(int index, PIN_INFO& info) const {
    ComPtr<IPin> pin = PinAt(index);
    FreePinInfo(info);
    if (pin && FAILED(pin->QueryPinInfo(&info))) info = PIN_INFO{};
    info.achName[MAX_PIN_NAME - 1] =
        '\0'; // whatever the pin wrote, the name ends inside the record
}

void TPinList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EListError(index);
    pins_.erase(pins_.begin() + index);
}
