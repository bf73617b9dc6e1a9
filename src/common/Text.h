#pragma once
// Small single-byte text helpers shared by every layer.
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

// Trim removes bytes up to and including blank (control characters too), as the
// network layers expect of header values and request lines.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only case mapping: bytes above 127 pass unchanged.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
char UpCaseChar(char c);
char LowCaseChar(char c);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s); // case-insensitive
// 1-based position of sub in s, 0 when absent (byte comparison).
size_t Pos(std::string_view sub, std::string_view s);

// Decimal (optionally signed; "$" or "0x" hexadecimal) integer parsing. Blanks
// around the number are not accepted; overflow fails.
bool TryStrToInt(std::string_view s, int32_t& out);
bool TryStrToInt64(std::string_view s, int64_t& out);
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
std::string IntToStr(int64_t v);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);
