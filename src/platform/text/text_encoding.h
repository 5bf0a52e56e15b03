#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace landstat::text {

bool IsValidUtf8(std::string_view text);
// Characters of UTF-8 text (codes are ASCII, names need not be).
std::size_t CharacterCount(std::string_view text);
// UTF-16 units of UTF-8 text, as spreadsheet programs count a text's length.
std::size_t Utf16Units(std::string_view text);
// The first `count` characters of UTF-8 text; the whole text when it is
// shorter.
std::string_view FirstCharacters(std::string_view text, std::size_t count);
// GBK (code page 936) bytes as UTF-8; invalid bytes become U+FFFD.
std::string GbkToUtf8(std::string_view text);
// Text read from a file of unknown age: UTF-8 as it is, anything else is
// taken for GBK and converted.
std::string ToUtf8(std::string_view text);

// The bytes of a file as UTF-8 text (converted from GBK when they are not
// UTF-8, a byte-order mark dropped); false when the file cannot be read.
bool ReadTextFile(const std::string& path, std::string& text);

}  // namespace landstat::text
