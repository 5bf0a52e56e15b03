#include "platform/host/text_encoding.h"

#include <iconv.h>

namespace landstat::host {

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int length = c < 0x80           ? 1
                       : (c >> 5) == 0x6  ? 2
                       : (c >> 4) == 0xE  ? 3
                       : (c >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
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

}  // namespace landstat::host
