#include "platform/MediaTypes.h"

#include "platform/TaskMemory.h"

#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE& dest, const AM_MEDIA_TYPE& source) {
    if (&dest == &source) return E_INVALIDARG;
    dest = source;
    HRESULT hr = S_OK;
    if (source.cbFormat != 0 && source.pbFormat) {
        dest.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (dest.pbFormat) {
            std::memcpy(dest.pbFormat, source.pbFormat, source.cbFormat);
        } else {
            dest.cbFormat = 0;
            hr = E_OUTOFMEMORY;
        }
    } else {
        dest.cbFormat = 0;
        dest.pbFormat = nullptr;
    }
    if (dest.pUnk) dest.pUnk->AddRef();
    return hr;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& source) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaType(*mt, source))) {
        DeleteMediaType(mt);
        return nullptr;
    }
    return mt;
}
