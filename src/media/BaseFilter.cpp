#include "media/BaseFilter.h"

void TBaseFilter::AssignMoniker(IMoniker* moniker) {
    std::vector<uint8_t> bytes;
    if (moniker && SUCCEEDED(OleSaveToStream(moniker, bytes)))
        SetData(bytes);
    else
        SetDataLength(0);
}

ComPtr<IMoniker> TBaseFilter::LoadMoniker() const {
    ComPtr<IMoniker> moniker;
    if (DataLength() == 0) return moniker;
    if (FAILED(OleLoadFromStream(Bytes(), IID_IMoniker, moniker.PutVoid()))) moniker.Reset();
    return moniker;
}

ComPtr<IBaseFilter> TBaseFilter::BindFilter(HRESULT* result) const {
    ComPtr<IBaseFilter> filter;
    ComPtr<IMoniker> moniker = LoadMoniker();
    if (result) *result = S_OK;
    if (!moniker) return filter;
    const HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
    if (result) *result = hr;
    if (FAILED(hr)) filter.Reset();
    return filter;
}
