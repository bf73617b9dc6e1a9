#include "platform/FilterInterfaces.h"

#include "platform/Utf8.h"

#include <cstring>

void FreePinInfo(PIN_INFO& info) {
    if (info.pFilter) {
        info.pFilter->Release();
        info.pFilter = nullptr;
    }
}

void CopyRecordName(char* dest, size_t capacity, const std::string& name) {
    if (!dest || capacity == 0) return;
    const std::string cut = Utf8Truncate(name, capacity - 1);
    std::memcpy(dest, cut.data(), cut.size());
    dest[cut.size()] = '\0';
}
