#include "media/EnumMediaType.h"

#include "media/DescribeMediaType.h"
#include "media/MediaErrors.h"

void TEnumMediaType::AssignPin(IPin* pin) {
    list_.clear();
    if (!pin) throw EAssertionFailed("IPin not assigned");
    ComPtr<IEnumMediaTypes> types;
    if (pin->EnumMediaTypes(types.Put()) != S_OK) return;
    if (!types) throw EAssertionFailed("IEnumMediaType not assigned");
    for (;;) {
        AM_MEDIA_TYPE* record = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &record, &fetched) != S_OK || !record) {
            DeleteMediaType(record); // a platform that fails but hands one over still loses nothing
            break;
        }
        // The record is ours now: free it even when the copy raises.
        struct TFree {
            AM_MEDIA_TYPE* r;
            ~TFree() { DeleteMediaType(r); }
        } free{record};
        list_.push_back(std::make_unique<TMediaType>(*record));
    }
}

TMediaType& TEnumMediaType::MediaTypeAt(int index) {
    if (index < 0 || index >= Count()) throw EListError(index);
    return *list_[static_cast<size_t>(index)];
}

const TMediaType& TEnumMediaType::MediaTypeAt(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return *list_[static_cast<size_t>(index)];
}

std::string TEnumMediaType::FormatText(int index) const {
    if (index < 0 || index >= Count()) return {};
    return DescribeMediaType(list_[static_cast<size_t>(index)]->MediaTypeRecord());
}
