#pragma once

// What the fills that write base-table rows one piece at a time share: the
// administrative level columns of a location code, the class columns an
// area is booked to, and the value a column keeps when a row leaves it
// unset.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/value.h"

namespace landstat {

class CStatContext;

// The level columns, code before name: village, township, county, city,
// province; and the length of each level's code.
inline constexpr const char* kLevelColumns[] = {"村级代码", "村名称", "乡级代码", "乡名称",
                                                "县级代码", "县名称", "市级代码", "市名称",
                                                "省级代码", "省名称"};
inline constexpr std::size_t kLevelLengths[] = {12, 9, 6, 4, 2};

// The level codes and names of location codes, in the order of
// kLevelColumns; a code shorter than a level stands whole. Worked out once
// per location code.
class LevelLookup {
 public:
  explicit LevelLookup(const CStatContext& context) : context_(context) {}
  const std::vector<db::Value>& Levels(const std::string& location_code);

 private:
  const CStatContext& context_;
  std::unordered_map<std::string, std::vector<db::Value>> levels_;
};

// The class column of a class code and its parent columns, longest first,
// down to "BM" and two characters: 011 gives BM011 and BM01; a code of
// fewer than two characters gives none.
std::vector<std::string> ClassColumnNames(const std::string& code);

// What a column holds when a row leaves it unset: its default, which must
// be none or a number; any other default raises DbError naming the column
// and the table.
db::Value BlankValue(const db::ColumnInfo& column, const std::string& table);

}  // namespace landstat
