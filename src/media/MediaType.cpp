#include "media/MediaType.h"

#include "media/MediaErrors.h"
#include "platform/TaskMemory.h"

#include <cstring>

void CopyMediaTypeRecord(AM_MEDIA_TYPE& dest, const AM_MEDIA_TYPE& source) {
    if (&dest == &source) throw EAssertionFailed("Media type copied onto itself");
    if (source.cbFormat != 0 && !source.pbFormat)
        throw EAssertionFailed("Media type format block not assigned");
    dest = source;
    // Never share the source's block: without a size there is no block of our own.
    dest.pbFormat = nullptr;
    if (source.cbFormat != 0) {
        dest.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (dest.pbFormat)
            std::memcpy(dest.pbFormat, source.pbFormat, source.cbFormat);
        else
            dest.cbFormat = 0;
    }
    if (dest.pUnk) dest.pUnk->AddRef();
}

void ReleaseMediaTypeRecord(AM_MEDIA_TYPE& record) {
    if (record.cbFormat != 0) {
        CoTaskMemFree(record.pbFormat);
        record.cbFormat = 0;
        record.pbFormat = nullptr;
    }
    if (record.pUnk) {
        record.pUnk->Release();
        record.pUnk = nullptr;
    }
}

TMediaType::TMediaType() : record_{} {}

TMediaType::TMediaType(const AM_MEDIA_TYPE& record) : record_{} {
    CopyMediaTypeRecord(record_, record);
}

TMediaType::TMediaType(const TMediaType& other) : record_{} {
    CopyMediaTypeRecord(record_, other.record_);
}

TMediaType& TMediaType::operator=(const TMediaType& other) {
    Assign(other);
    return *this;
}

TMediaType::~TMediaType() {
    ReleaseMediaTypeRecord(record_);
}

void TMediaType::Assign(const TMediaType& other) {
    if (&other == this) return;
    ReleaseMediaTypeRecord(record_);
    record_ = AM_MEDIA_TYPE{};
    CopyMediaTypeRecord(record_, other.record_);
}
