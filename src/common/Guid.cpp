#include "common/Guid.h"

#include "common/Exception.h"
#include "common/Text.h"

#include <cstring>

bool operator==(const GUID& a, const GUID& b) noexcept {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, 8) == 0;
}

bool IsEqualGUID(const GUID& a, const GUID& b) noexcept {
    return a == b;
}

bool operator<(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    return std::memcmp(a.Data4, b.Data4, 8) < 0;
}

std::string GuidToString(const GUID& g) {
    return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
}

namespace {
bool Hex(std::string_view s, size_t pos, size_t len, uint64_t& out) {
    out = 0;
    for (size_t i = pos; i < pos + len; ++i) {
        char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = unsigned(c - 'A' + 10);
        else
            return false;
        out = out * 16 + d;
    }
    return true;
}
} // namespace

bool TryStringToGuid(std::string_view s, GUID& out) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' ||
        s[19] != '-' || s[24] != '-')
        return false;
    uint64_t v;
    GUID g{};
    if (!Hex(s, 1, 8, v)) return false;
    g.Data1 = uint32_t(v);
    if (!Hex(s, 10, 4, v)) return false;
    g.Data2 = uint16_t(v);
    if (!Hex(s, 15, 4, v)) return false;
    g.Data3 = uint16_t(v);
    static const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!Hex(s, bytePos[i], 2, v)) return false;
        g.Data4[i] = uint8_t(v);
    }
    out = g;
    return true;
}

GUID StringToGuid(std::string_view s) {
    GUID g;
    if (!TryStringToGuid(s, g))
        throw Exception("'" + std::string(s) + "' is not a valid GUID value");
    return g;
}
