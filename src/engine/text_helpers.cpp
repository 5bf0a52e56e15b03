#include "engine/text_helpers.h"

#include <algorithm>
#include <cctype>
#include <pugixml.hpp>

#include "platform/host/xml_file.h"

namespace landstat {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}
namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

int IsYear(const std::string& text) {
  return text.size() == 4 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CSortStringArray::Sort(int order) {
  if (order == 1) {
    std::stable_sort(begin(), end(), LessIgnoringCase);
  } else if (order == 2) {
    std::stable_sort(begin(), end(), [](const std::string& a, const std::string& b) {
      return LessIgnoringCase(b, a);
    });
  }
}

short GetXmlValueEx(const char* file, const std::string& match_attribute,
                    const std::string& match_value, const std::string& read_attribute,
                    std::string& value) {
  pugi::xml_document document;
  if (!file || !host::LoadXmlFile(document, file)) return 0;
  short matched = 0;
  for (pugi::xml_node child : document.document_element().children()) {
    if (child.type() != pugi::node_element) continue;
    if (match_value != child.attribute(match_attribute.c_str()).as_string()) continue;
    value = child.attribute(read_attribute.c_str()).as_string();
    matched = 1;
  }
  return matched;
}

short GetXmlValue(const char* file, const std::string& section, const std::string& key,
                  std::string& value) {
  pugi::xml_document document;
  if (!file || !host::LoadXmlFile(document, file)) return 0;
  const pugi::xml_attribute attribute =
      document.document_element().child(section.c_str()).attribute(key.c_str());
  if (!attribute) return 0;
  value = attribute.as_string();
  return 1;
}

}  // namespace landstat
