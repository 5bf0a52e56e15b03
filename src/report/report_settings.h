#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/gis/rural_code.h"

namespace landstat::report {

// The seven header keys every report carries, in the order of their values.
inline const std::vector<std::string> kHeaderKeys = {"年度",     "权属性质", "单位",    "填表人",
                                                     "填表日期", "检查人",   "检查日期"};

// The output levels a print may choose, from the highest: those of the
// general and dispute reports, and those of the Inner Mongolia reports
// (mode 2). The dialog offers those at and below the chosen region.
inline const std::vector<std::string> kOutputLevels = {"市级", "县(区)级", "乡(街道)级",
                                                       "村(街坊)级", "小组级"};
inline const std::vector<std::string> kBureauOutputLevels = {"类别级", "管局级", "管局下属二级",
                                                             "管局下属三级"};
inline const std::vector<std::string>& OutputLevels(int mode) {
  return mode == 2 ? kBureauOutputLevels : kOutputLevels;
}

// The statistics types as the selection dialog lists them.
inline constexpr const char* kByLocation = "座落单位";
inline constexpr const char* kByOwnership = "权属单位";

// What the report writers read of the selection dialog, held apart from any
// screen: the dialog fills it when it prints, `landstat report` from its
// options, tests by hand.
struct ReportSettings {
  std::string catalogue_path;  // the report catalogue (XML)
  std::vector<std::string> header_keys = kHeaderKeys;
  // One value per key: year, output level, unit text, filler, fill date,
  // checker, check date. Missing values count as empty.
  std::vector<std::string> header_values;
  int mode = 0;              // 0 general, 1 ownership dispute and reserve, 2 Inner Mongolia
  bool paged = true;         // "分页"
  bool view = true;          // "查看": show each workbook once it is saved
  std::string output_level;  // "县(区)级" ...; empty when none was chosen
  // The three filter lists of mode 1, as shown ("全部" included).
  std::string ownership_filter;                   // 权属性质: 全部 / 国有 / 集体
  std::string reserve_level_filter;               // 后备级别: 全部 / 国家级 / 省级
  std::string dispute_type_filter;                // 争议类型: 全部 / 国家与集体 / ...
  std::map<std::string, std::string> code_names;  // administrative code to name
  std::vector<std::string> class_codes;           // land-use class codes, code-list order
  bool second_code_table = false;                 // mode 2's own code table is present
  std::string statistics_type = kByLocation;      // the item text of the statistics type
  // The code table of the county (not owned): the balance sheet's classes.
  const gis::RuralCode* codes = nullptr;
  // Last year's statistics database for the balance sheet (a stand-alone
  // file); empty: the file named year - 1 + county + ".sqlite" beside this
  // year's.
  std::string base_year_database;

  // The name stored for an administrative code, or empty.
  std::string GetCodeName(const std::string& code) const {
    auto found = code_names.find(code);
    return found == code_names.end() ? std::string() : found->second;
  }
  // The scope letter of the tables the summary writer reads: 'Q' for
  // "权属单位", 'Z' for anything else.
  char Scope() const { return statistics_type == kByOwnership ? 'Q' : 'Z'; }
};

}  // namespace landstat::report
