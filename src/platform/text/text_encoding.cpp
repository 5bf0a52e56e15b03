#include "platform/text/text_encoding.h"

#include <iconv.h>

#include <fstream>
#include <sstream>

namespace landstat::text {

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::size_t Utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string_view FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t seen = 0; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
    if (seen++ == count) break;
  }
  return text.substr(0, end);
}

bool IsValidUtf8(std::string_view text) {
  // Strict: no overlong forms, no surrogates, nothing beyond U+10FFFF; GBK
  // text that merely looks like UTF-8 lead and trail bytes fails here.
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = byte(i);
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c < 0x80) {
      length = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      const unsigned char next = byte(i + k);
      const unsigned char min = k == 1 ? low : 0x80, max = k == 1 ? high : 0xBF;
      if (next < min || next > max) return false;
    }
    i += length;
  }
  return true;
}

std::string GbkToUtf8(std::string_view text) {
  iconv_t converter = iconv_open("UTF-8", "GB18030");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 3 / 2 + 4);
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char buffer[4096];
  while (in_left > 0) {
    char* out_ptr = buffer;
    std::size_t out_left = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer, out_ptr);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";  // a byte no GBK character starts with
      ++in;
      --in_left;
    }
  }
  iconv_close(converter);
  return out;
}

std::string ToUtf8(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : GbkToUtf8(text);
}

bool ReadTextFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::stringstream bytes;
  bytes << file.rdbuf();
  text = ToUtf8(bytes.str());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  return true;
}

}  // namespace landstat::text
