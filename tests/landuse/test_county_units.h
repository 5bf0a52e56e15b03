#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/gis/rural_code.h"

namespace landstat::testing {

// The small county of the hand-made land-use tests: one county, two
// townships, three villages, three groups.
inline const std::map<std::string, std::string>& TestUnitNames() {
  static const std::map<std::string, std::string> names = {{"330102", "上城区"},
                                                           {"330102001", "一乡"},
                                                           {"330102002", "二乡"},
                                                           {"330102001001", "一村"},
                                                           {"330102001002", "二村"},
                                                           {"330102002001", "三村"},
                                                           {"3301020010010010000", "一组"},
                                                           {"3301020010020010000", "二组"},
                                                           {"3301020020010010000", "三组"}};
  return names;
}

// The unit's name, empty for a code outside the county.
inline std::string NameOf(const std::string& code) {
  const auto found = TestUnitNames().find(code);
  return found == TestUnitNames().end() ? "" : found->second;
}

// Appends the county's administrative codes to a code table's entries.
inline void AppendTestUnitCodes(std::vector<gis::CODESTRUCT>& entries) {
  const std::map<std::size_t, std::string> kinds = {
      {6, "县行政代码"}, {9, "乡行政代码"}, {12, "村行政代码"}, {19, "组行政代码"}};
  for (const auto& [code, name] : TestUnitNames()) {
    entries.push_back({kinds.at(code.size()), code, name});
  }
}

}  // namespace landstat::testing
