// The stream port's request sniffing, on every prefix a slow client could
// have sent so far: once refused or complete, more bytes never change that.
#include "FuzzSupport.h"
#include "platform/stream/AsfPendingRequests.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    StreamRequestState seen = StreamRequestState::Incomplete;
    for (size_t n = 0; n <= size; n += 1 + n / 8) {
        const StreamRequestState now = SniffStreamRequest(all.substr(0, n));
        if (seen == StreamRequestState::Refused && now != StreamRequestState::Refused) std::abort();
        if (seen != StreamRequestState::Refused) seen = now;
    }
    return 0;
}
