#pragma once

#include <string>
#include <vector>

namespace landstat {

// The text with every `from` replaced by `to`, scanning left to right.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

// 1 when the text is exactly four digits 0 to 9, else 0.
int IsYear(const std::string& text);

// A string list that sorts itself: order 1 ascending, 2 descending, any
// other value leaves it as it is. Names compare without regard to ASCII
// case; equal names keep their order.
class CSortStringArray : public std::vector<std::string> {
 public:
  using std::vector<std::string>::vector;
  void Sort(int order);
};

// XML look-ups on a file whose root holds rows as element children.
// GetXmlValueEx: for every child whose `match_attribute` equals
// `match_value` (byte for byte), stores its `read_attribute` in `value` (a
// later match wins); 1 when any child matched, 0 otherwise (value untouched).
short GetXmlValueEx(const char* file, const std::string& match_attribute,
                    const std::string& match_value, const std::string& read_attribute,
                    std::string& value);
// GetXmlValue: the attribute `key` of the element `section` under the root;
// 1 when found, 0 otherwise (value untouched).
short GetXmlValue(const char* file, const std::string& section, const std::string& key,
                  std::string& value);

}  // namespace landstat
