// The Inner Mongolia base table "statdataMG": one row per piece of land the
// linear-feature, scattered-feature and parcel layers describe, with the
// hierarchy of the Inner Mongolia ownership code (county, category, bureau,
// the bureau's second-level unit).

#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {

short CMgStatContext::CreateStatDataTable() {
  if (m_strStatTbl.empty()) return 0;
  if (IsTableExist(m_strStatTbl)) DropTable(m_strStatTbl);
  std::string statement = "Create Table " + m_strStatTbl + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    if (i > 0) statement += ",";
    statement += m_arrStatFields[i] +
                 (i < kMgTextColumns ? " varchar(40) default ''  " : " double default 0.00");
  }
  statement = Dialect().ApplyTypeWords(statement + ")");
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    // Also a code table without land classes: a table without columns.
    LogFailure("建立内蒙古基础汇总表", "建立内蒙古基础汇总表失败", error);
    return 0;
  }
}

namespace {

// The hierarchy levels of an ownership code: code column, name column and
// the length of the code's prefix.
struct MgLevel {
  const char* code;
  const char* name;
  std::size_t length;
};
constexpr MgLevel kMgLevels[] = {{"县级代码", "县名称", 6},
                                 {"类别码", "类别名称", 8},
                                 {"管局级码", "管局级名称", 10},
                                 {"管局下属二级单位码", "管局下属二级单位名称", 13}};

// The text columns a row may write, besides the hierarchy.
enum MgText {
  kSource,
  kParcelNumber,
  kLocationCode,
  kLocationName,
  kOwnerCode,
  kOwnerName,
  kOwnership,
  kTownLand,
  kCultivationType,
  kRemark,
  kSlope,
  kMgTexts
};
constexpr const char* kMgTextNames[kMgTexts] = {
    "来源",         "图斑编号",           "座落单位代码",
    "座落单位名称", "内蒙古权属单位代码", "内蒙古权属单位名称",
    "权属性质",     "城镇用地",           "耕地类型",
    "地类备注",     "耕地坡度级"};

// One row on its way into the table: its texts (an unset one keeps the
// column's default), its class and its area.
struct MgRow {
  std::string texts[kMgTexts];
  std::string class_code;
  double area = 0;
};

// Writes rows with the column numbers worked out once. A row whose class
// column the table lacks raises, so it is logged and not stored; a parent
// prefix that is no column (class 0101 has BM01 and no BM010) receives
// nothing, and the row is stored all the same.
class MgRowWriter {
 public:
  MgRowWriter(CMgStatContext& context, const std::string& table) : context_(context) {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      column_of_.emplace(text::ToLowerAscii(column.name), static_cast<int>(names.size()));
      blanks_.push_back(names.size() < kMgTextColumns ? db::Value(std::string()) : db::Value(0.0));
      names.push_back(column.name);
    }
    for (int i = 0; i < kMgTexts; ++i) text_columns_[i] = ColumnOf(kMgTextNames[i]);
    for (std::size_t i = 0; i < std::size(kMgLevels); ++i) {
      level_columns_[i] = {ColumnOf(kMgLevels[i].code), ColumnOf(kMgLevels[i].name)};
    }
    total_ = ColumnOf("土地总面积");
    writer_.emplace(context.m_pConn, table, std::move(names));
  }

  // Stores a row; one the table refuses is logged under `title` and
  // `message`. False when it was not stored.
  bool Write(const MgRow& row, const std::string& title, const char* message) {
    try {
      row_ = blanks_;
      for (int i = 0; i < kMgTexts; ++i) {
        if (!row.texts[i].empty()) row_[text_columns_[i]].AssignText(row.texts[i]);
      }
      const std::string& owner = row.texts[kOwnerCode];
      for (std::size_t i = 0; i < std::size(kMgLevels); ++i) {
        const std::string prefix = owner.substr(0, kMgLevels[i].length);
        row_[level_columns_[i].first].AssignText(prefix);
        row_[level_columns_[i].second].AssignText(context_.GetCodeName(prefix));
      }
      for (int column : ClassColumns(row.class_code)) row_[column] = row.area;
      row_[total_] = row.area;
      writer_->Add(row_);
      return true;
    } catch (const db::DbError& error) {
      context_.LogFailure(title, message, error);
      return false;
    }
  }

  void Close() { writer_->Close(); }

 private:
  int ColumnOf(const std::string& name) const {
    const auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) throw db::DbError("内蒙古基础汇总表没有列 " + name);
    return found->second;
  }

  // The class column and the parents that are columns, longest first,
  // down to "BM" and two characters; none for a code shorter than two.
  const std::vector<int>& ClassColumns(const std::string& code) {
    const auto found = class_columns_.find(code);
    if (found != class_columns_.end()) return found->second;
    std::vector<int> columns;
    if (code.size() >= 2) {
      const std::string name = "BM" + code;
      columns.push_back(ColumnOf(name));
      for (std::size_t length = name.size() - 1; length >= 4; --length) {
        const auto parent = column_of_.find(text::ToLowerAscii(name.substr(0, length)));
        if (parent != column_of_.end()) columns.push_back(parent->second);
      }
    }
    return class_columns_.emplace(code, std::move(columns)).first->second;
  }

  CMgStatContext& context_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_, row_;
  int text_columns_[kMgTexts];
  std::pair<int, int> level_columns_[std::size(kMgLevels)];
  int total_ = 0;
  std::optional<db::RowWriter> writer_;
  std::unordered_map<std::string, std::vector<int>> class_columns_;
};

// The leading whole number of a text, as its digits ("2级" gives "2", an
// empty text "0").
std::string WholeNumberText(const std::string& text) {
  return std::to_string(std::strtol(text.c_str(), nullptr, 10));
}

// "图元号 %d 地类码 %s <label> %s", the title a failed row is logged under.
std::string RowTitle(long number, const std::string& class_code, const char* label,
                     const std::string& location, bool trailing_blank) {
  return "图元号 " + std::to_string(number) + " 地类码 BM" + class_code + " " + label + " " +
         location + (trailing_blank ? " " : "");
}

// One pass over a layer: the walk, bounded by the layer's record count,
// with the progress per record; the values read through the layer checks
// (an area that is no number, negative, not finite or implausible is
// logged and its row left out), and a count of the entities left out for
// an empty required field, told once per layer.
class MgPass {
 public:
  MgPass(CMgStatContext& context, MgRowWriter& writer, gis::LayerHandle layer,
         std::initializer_list<const char*> watched)
      : context_(context), writer_(writer), layer_(layer), checks_(context, layer) {
    for (const char* field : watched) {
      if (gis::HasField(layer, field)) checks_.WatchNumbers(field);
    }
  }

  template <typename Book>
  void Walk(gis::EntityKind kind, const char* progress, const Book& book) {
    const long count = gis::RecordCount(layer_, kind);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(progress, number, count);
      if (!gis::ReadRecord(layer_, kind, number, record)) continue;
      book(record);
    }
    if (skipped_ > 0) {
      context_.LogNotice("图层 " + checks_.Name(),
                         std::to_string(skipped_) + " 个图元的必填字段为空, 未汇总");
    }
  }

  void Skip() { ++skipped_; }
  // The area rounded to 1 decimal; an empty text counts 0.
  std::optional<double> Area(const gis::Record& record, const char* field) {
    const std::optional<double> area = checks_.Area(record, field, -1, false);
    if (!area) return std::nullopt;
    return RoundToDecimals(*area, 1);
  }
  std::string Stored(const gis::Record& record, const char* field) const {
    return checks_.StoredText(record, field);
  }
  MgRowWriter& Writer() { return writer_; }

 private:
  CMgStatContext& context_;
  MgRowWriter& writer_;
  gis::LayerHandle layer_;
  LayerChecks checks_;
  long skipped_ = 0;
};

std::string TownLand(const gis::Record& record) {
  std::string value = record.Text("城镇用地");
  return value.empty() ? "0" : value;
}

// The row of side k of a linear feature, without its area; nothing when
// a field the side needs is empty.
std::optional<MgRow> LineSide(const gis::Record& line, int side, const MgRow& common) {
  const std::string k = std::to_string(side);
  MgRow row = common;
  row.texts[kParcelNumber] = line.Text("扣除图斑编号" + k);
  row.texts[kLocationCode] = line.Text("扣除图斑座落代码" + k);
  row.texts[kOwnerCode] = line.Text("内蒙古权属单位代码" + k);
  if (row.texts[kParcelNumber].empty() || row.texts[kLocationCode].empty() ||
      row.texts[kOwnerCode].empty()) {
    return std::nullopt;
  }
  row.texts[kOwnerName] = line.Text("内蒙古权属单位名称" + k);
  return row;
}

// A linear feature with a ratio of one half is shared between the parcels
// on its two sides, the halves adding up to its rounded area; with any
// other ratio it goes whole to side 1.
void BookLine(MgPass& pass, const gis::Record& line, const std::string& class_field) {
  MgRow common;
  common.texts[kSource] = "线状地物";
  common.texts[kTownLand] = TownLand(line);
  common.texts[kOwnership] = line.Text("权属性质");
  common.class_code = line.Text(class_field);
  const std::optional<double> ratio = text::TextToNumber(pass.Stored(line, "扣除比例"));
  const auto write = [&](MgRow& row, int side, bool trailing_blank) {
    const std::optional<double> area = pass.Area(line, "线状地物面积");
    if (!area) return;
    row.area = side == 0 ? *area : xcDotOut(*area, static_cast<short>(side - 1), 1);
    const std::string label = "座落单位代码" + std::to_string(side == 0 ? 1 : side);
    pass.Writer().Write(row,
                        RowTitle(line.Number(), row.class_code, label.c_str(),
                                 row.texts[kLocationCode], trailing_blank),
                        "添加线状地物数据失败");
  };
  if (ratio != 0.5) {
    std::optional<MgRow> whole = LineSide(line, 1, common);
    if (!whole) return pass.Skip();
    return write(*whole, 0, true);
  }
  if (line.Text("扣除图斑编号1").empty() || line.Text("扣除图斑座落代码1").empty()) {
    return pass.Skip();
  }
  std::optional<MgRow> first = LineSide(line, 1, common);
  std::optional<MgRow> second = LineSide(line, 2, common);
  if (!first || !second) pass.Skip();
  if (first) write(*first, 1, false);
  if (second) write(*second, 2, false);
}

// A scattered feature forms one row tied to the parcel it lies in.
void BookScattered(MgPass& pass, const gis::Record& point, const std::string& class_field) {
  MgRow row;
  row.texts[kLocationCode] = point.Text("座落单位代码");
  row.texts[kLocationName] = point.Text("座落单位名称");
  row.texts[kOwnerCode] = point.Text("内蒙古权属单位代码");
  if (row.texts[kLocationCode].empty() || row.texts[kLocationName].empty() ||
      row.texts[kOwnerCode].empty()) {
    return pass.Skip();
  }
  const std::optional<double> area = pass.Area(point, "零星地物面积");
  if (!area) return;
  row.texts[kSource] = "零星地物";
  row.texts[kTownLand] = TownLand(point);
  row.texts[kParcelNumber] = point.Text("座落图斑编号");
  row.texts[kOwnerName] = point.Text("内蒙古权属单位名称");
  row.texts[kOwnership] = point.Text("权属性质");
  row.texts[kCultivationType] = point.Text("耕地类型");
  row.texts[kSlope] = WholeNumberText(point.Text("耕地坡度级"));
  row.class_code = point.Text(class_field);
  row.area = *area;
  pass.Writer().Write(
      row, RowTitle(point.Number(), row.class_code, "座落单位代码", row.texts[kLocationCode], true),
      "添加零星地物数据失败");
}

// A parcel gives its deduction row, when it has a deducted class, then its
// own row. The parcel's own row is written also when its deduction row
// failed, so a refused deduction costs only the deducted area.
void BookParcel(MgPass& pass, const gis::Record& parcel, const std::string& class_field) {
  MgRow row;
  row.texts[kOwnerCode] = parcel.Text("内蒙古权属单位代码");
  row.texts[kLocationCode] = parcel.Text("座落单位代码");
  if (row.texts[kOwnerCode].empty() || row.texts[kLocationCode].empty()) return pass.Skip();
  row.texts[kTownLand] = TownLand(parcel);
  row.texts[kParcelNumber] = parcel.Text("图斑编号");
  row.texts[kOwnership] = parcel.Text("权属性质");
  row.texts[kOwnerName] = parcel.Text("内蒙古权属单位名称");
  row.texts[kLocationName] = parcel.Text("座落单位名称");
  const auto write = [&](const MgRow& piece) {
    pass.Writer().Write(piece,
                        RowTitle(parcel.Number(), piece.class_code, "座落单位代码",
                                 piece.texts[kLocationCode], true),
                        "添加地类图斑数据失败");
  };
  if (std::string deducted = parcel.Text("扣除地类编码"); !deducted.empty()) {
    if (const std::optional<double> area = pass.Area(parcel, "扣除地类面积")) {
      MgRow deduction = row;
      deduction.texts[kSource] = "地类图斑扣除";
      if (deducted.compare(0, 2, "01") == 0) deduction.texts[kSlope] = "1";
      deduction.class_code = std::move(deducted);
      deduction.area = *area;
      write(deduction);
    }
  }
  const std::optional<double> area = pass.Area(parcel, "图斑地类面积");
  if (!area) return;
  row.texts[kSource] = "地类图斑";
  row.texts[kCultivationType] = parcel.Text("耕地类型");
  row.texts[kRemark] = parcel.Text("地类备注");
  row.texts[kSlope] = WholeNumberText(parcel.Text("耕地坡度级"));
  row.class_code = parcel.Text(class_field);
  row.area = *area;
  write(row);
}

}  // namespace

short CMgStatContext::BuildStatDataDirect() {
  std::optional<MgRowWriter> writer;
  try {
    writer.emplace(*this, m_strStatTbl);
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古基础汇总表", "连接内蒙古基础汇总表失败", error);
    return 0;
  }
  try {
    if (m_aiLine > 0) {
      MgPass pass(*this, *writer, m_aiLine, {"线状地物面积", "扣除比例"});
      pass.Walk(gis::EntityKind::kLine, "正在汇总线状地物",
                [&](const gis::Record& line) { BookLine(pass, line, m_strClassFld[0]); });
    }
    if (m_aiPoint > 0) {
      MgPass pass(*this, *writer, m_aiPoint, {"零星地物面积"});
      pass.Walk(gis::EntityKind::kPoint, "正在汇总零星地物",
                [&](const gis::Record& point) { BookScattered(pass, point, m_strClassFld[1]); });
    }
    if (m_aiParcel > 0) {
      MgPass pass(*this, *writer, m_aiParcel, {"图斑地类面积", "扣除地类面积"});
      pass.Walk(gis::EntityKind::kRegion, "正在汇总地类图斑",
                [&](const gis::Record& parcel) { BookParcel(pass, parcel, m_strClassFld[2]); });
    }
    writer->Close();
  } catch (const gis::GisError& error) {
    LogFailure("汇总内蒙古基础数据", "读取图层失败", error);
    return 0;
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古基础汇总表", "保存内蒙古基础汇总表失败", error);
    return 0;
  }
  writer.reset();
  return CompactWorkingCopy() > 0 ? 1 : 0;
}

}  // namespace landstat
