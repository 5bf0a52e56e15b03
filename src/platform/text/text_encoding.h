#pragma once

#include <string>
#include <string_view>

namespace landstat::text {

bool IsValidUtf8(std::string_view text);
// GBK (code page 936) bytes as UTF-8; invalid bytes become U+FFFD.
std::string GbkToUtf8(std::string_view text);
// Text read from a file of unknown age: UTF-8 as it is, anything else is
// taken for GBK and converted.
std::string ToUtf8(std::string_view text);

// The bytes of a file as UTF-8 text (converted from GBK when they are not
// UTF-8, a byte-order mark dropped); false when the file cannot be read.
bool ReadTextFile(const std::string& path, std::string& text);

}  // namespace landstat::text
