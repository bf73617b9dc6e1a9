// URI splitting and URL decoding of request targets.
#include "FuzzSupport.h"
#include "net/NetURI.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        TNetURI uri(text);
        (void)TNetURI::URLDecode(uri.Path());
        (void)TNetURI::URLDecode(uri.Document());
        (void)TNetURI::URLDecode(text);
    } catch (const ENetException&) {
    }
    return 0;
}
