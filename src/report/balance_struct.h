#pragma once

// The change balance table's structure: its fields, its six fixed records
// and one record per land class, made on an empty attribute table.

#include <string>
#include <vector>

#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"

namespace landstat::report {

// Fields of the balance table besides one double column per class key.
inline constexpr const char* kBalanceKeyField = "变更前地类";  // a class record's class key
inline constexpr const char* kBalanceLabelField = "地类名称";  // the name a record shows
inline constexpr const char* kBalanceTotalField = "合计";
inline constexpr const char* kBalanceOwnerField = "权属代码";
inline constexpr const char* kBalanceLocationField = "坐落位置";
inline constexpr const char* kBalanceNumberField = "ID";

// The fixed records, numbered from 1; the class records follow them.
enum BalanceRow : long {
  kBaseYearRow = 1,      // area at the start of the year
  kOutflowRow = 2,       // what left each class
  kInflowRow = 3,        // what entered each class
  kCurrentRow = 4,       // area at the end of the year
  kCurrentStateRow = 5,  // of it, state-owned land
  kCurrentCollectiveRow = 6,
  kFirstClassRow = 7,
};

// The levels of the balance columns: first-level classes ("D01") or, on
// request, second-level ones beside them ("D011" and "D01").
constexpr short kBalanceLevelFirst = 2;
constexpr short kBalanceLevelSecond = 3;

// The class key of a land-class code at `level`: "D" and the code's first
// `level` characters, upper-cased ("011" gives "D01" at 2, "D011" at 3).
std::string BalanceClassKey(const std::string& code, short level);

// The class keys of the code table's land classes at `level`, in code-table
// order, each once: a parent key stands before its children.
std::vector<std::string> BalanceClassKeys(const gis::RuralCode& codes, short level);

// The number of code characters the balance columns carry: 2 unless
// StatConfig.ini sets [BALANCE] Level=3. Writes it into *level; returns 1.
short GetTableLandLevel(short* level);

// Gives the empty attribute table `table` the balance table's structure:
// the text fields 变更前地类 and 地类名称, one double column per class key,
// 合计, the text field 权属代码 (left empty: no record stands for one
// administrative unit), then the six fixed records labelled in 地类名称 and
// one class record per class key (key in 变更前地类, the class's name in
// 地类名称); every number 0. Returns 1; 0 for no code table or no table.
short BuildBalanceStruct(const gis::RuralCode* codes, gis::LayerHandle table, short level);

}  // namespace landstat::report
