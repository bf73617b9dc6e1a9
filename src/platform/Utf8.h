#pragma once
// Cutting UTF-8 text to a byte budget: a text limited to n characters is cut
// at n bytes, backing off to the start of a character so that none is split.
#include <string>
#include <string_view>

std::string Utf8Truncate(std::string_view text, size_t maxBytes);
