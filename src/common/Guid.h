#pragma once
// 16-byte identifier in the platform layout (32-bit, two 16-bit fields, eight
// bytes), written in registry form: {860BB310-5D01-11D0-BD3B-00A0C911CE86}.
#include <cstdint>
#include <string>
#include <string_view>

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using TGUID = GUID;
using IID = GUID;
using CLSID = GUID;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

bool operator==(const GUID& a, const GUID& b) noexcept;
inline bool operator!=(const GUID& a, const GUID& b) noexcept {
    return !(a == b);
}
bool operator<(const GUID& a, const GUID& b) noexcept;
bool IsEqualGUID(const GUID& a, const GUID& b) noexcept;

// Upper-case registry form with braces.
std::string GuidToString(const GUID& g);
// Accepts exactly the registry form (either letter case); false otherwise.
bool TryStringToGuid(std::string_view s, GUID& out);
// Raises Exception "'<text>' is not a valid GUID value" for a malformed text.
GUID StringToGuid(std::string_view s);
