#pragma once

// How the slope tables read the slope grade and the cultivation type of a
// row.

#include <string>

#include "platform/text/ascii_text.h"

namespace landstat {

// The grade of a slope text: 1 to 5 ("1" or "Ⅰ" .. "5" or "Ⅴ"), 0 for any
// other text (the empty one included).
inline int SlopeGradeOf(const std::string& text) {
  static const char* const kRoman[] = {"Ⅰ", "Ⅱ", "Ⅲ", "Ⅳ", "Ⅴ"};
  for (int grade = 1; grade <= 5; ++grade) {
    if (text == std::to_string(grade) || text == kRoman[grade - 1]) return grade;
  }
  return 0;
}

// Terraced land: the cultivation type "t" or "tt", in either case.
inline bool IsTerracedType(const std::string& type) {
  const std::string lower = text::ToLowerAscii(type);
  return lower == "tt" || lower == "t";
}

}  // namespace landstat
