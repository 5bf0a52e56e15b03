#pragma once

#include <string>
#include <string_view>

namespace landstat::text {

// Blank and case helpers that look at ASCII letters only; other bytes
// (the UTF-8 of Chinese names) pass through as they are.

// The text without leading and trailing blanks (spaces, tabs, line ends).
std::string Trim(std::string_view text);
// Equal but for the case of ASCII letters.
bool IEquals(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);

}  // namespace landstat::text
