// The internet date parsers and the zone offset reader.
#include "FuzzSupport.h"
#include "net/NetGlobal.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::string copy = text;
        (void)InternetTextToDateTime(copy);
        (void)GMTTextToLocalDateTime(text);
        (void)ZoneTextToOffset(text);
    } catch (const std::exception&) {
        // a date that is no date is reported, never a crash
    }
    return 0;
}
