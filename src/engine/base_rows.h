#pragma once

// What the fills that write base-table rows one piece at a time share: the
// administrative level columns of a location code, the class columns an
// area is booked to, and the value a column keeps when a row leaves it
// unset.

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/value.h"

namespace landstat {

class CStatContext;
namespace gis {
class Record;
}

// One piece of a parcel as a base table books it: where it comes from
// ("来源"), the parcel, its location and owner, its class and area.
struct BasePiece {
  const char* source = "";  // 来源
  std::string parcel_number, location_code, location_name, owner_code, owner_name, ownership;
  std::string cultivation_type, remark, approval, new_construction, note, description;
  std::optional<long> slope;
  std::string class_code;
  double area = 0;
};

// The deducted parcel on one side (1 or 2) of a linear feature: its number,
// location with its name, owner and ownership (no class, no area); or the
// first of the number, location and owner fields that is empty.
struct LineSide {
  BasePiece piece;
  std::string empty_field;
};
LineSide ReadLineSide(const CStatContext& context, const gis::Record& line, int side);

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
