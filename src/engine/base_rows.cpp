#include "engine/base_rows.h"

#include <optional>

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/gis/layers.h"
#include "platform/text/number_text.h"

namespace landstat {

const std::vector<db::Value>& LevelLookup::Levels(const std::string& location_code) {
  auto found = levels_.find(location_code);
  if (found == levels_.end()) {
    std::vector<db::Value> values;
    for (std::size_t length : kLevelLengths) {
      const std::string prefix = location_code.substr(0, length);
      values.emplace_back(prefix);
      values.emplace_back(context_.GetCodeName(prefix));
    }
    found = levels_.emplace(location_code, std::move(values)).first;
  }
  return found->second;
}

std::vector<std::string> ClassColumnNames(const std::string& code) {
  std::vector<std::string> names;
  const std::string name = "BM" + code;
  for (std::size_t length = name.size(); length >= 4; --length) {
    names.push_back(name.substr(0, length));
  }
  return names;
}

db::Value BlankValue(const db::ColumnInfo& column, const std::string& table) {
  if (!column.default_text) return db::Value();
  if (const std::optional<double> number = text::TextToNumber(*column.default_text)) {
    return *number;
  }
  throw db::DbError("the default " + *column.default_text + " of column " + column.name +
                    " of table " + table + " is not a number");
}

LineSide ReadLineSide(const CStatContext& context, const gis::Record& line, int side) {
  const std::string k = std::to_string(side);
  LineSide result;
  BasePiece& piece = result.piece;
  piece.source = "线状地物";
  piece.parcel_number = line.Text("扣除图斑编号" + k);
  piece.location_code = line.Text("扣除图斑座落代码" + k);
  piece.owner_code = line.Text("权属单位代码" + k);
  for (const auto& [field, value] : {std::pair{"扣除图斑编号", &piece.parcel_number},
                                     std::pair{"扣除图斑座落代码", &piece.location_code},
                                     std::pair{"权属单位代码", &piece.owner_code}}) {
    if (value->empty()) {
      result.empty_field = field + k;
      return result;
    }
  }
  piece.owner_name = line.Text("权属单位名称" + k);
  piece.location_name = context.GetCodeName(piece.location_code);
  piece.ownership = line.Text("权属性质");
  return result;
}

}  // namespace landstat
