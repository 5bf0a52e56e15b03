// The farmland base table "statdata_jbnt": one row per farmland parcel of
// the parcel source layer, its area booked to its class column, the
// class's parent columns and the total.

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/base_rows.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {
namespace {

constexpr const char* kParcelTitle = "汇总基本农田地类图斑";
constexpr const char* kNumberField = "基本农田图斑编号";
constexpr const char* kAreaField = "基本农田地类面积";
constexpr const char* kSlopeField = "耕地坡度级";
// The protection block is the first 16 characters of the parcel number.
constexpr std::size_t kBlockLength = 16;

// The columns a parcel fills besides the level and class columns. Those
// from kNumber to kTransfer are copied from the layer's field of the same
// name.
enum Column {
  kNumber,
  kClass,
  kCultivation,
  kRemark,
  kParcel,
  kOwnership,
  kOwnerCode,
  kLocationCode,
  kLocationName,
  kOwnerName,
  kSupplement,
  kTransfer,
  kBlock,
  kSlope,
  kSource,
  kTotal,
  kColumns
};
constexpr Column kLastCopied = kTransfer;
constexpr const char* kColumnNames[kColumns] = {
    "基本农田图斑编号", "地类编码",     "耕地类型",     "地类备注",     "图斑编号", "权属性质",
    "权属单位代码",     "座落单位代码", "座落单位名称", "权属单位名称", "是否补划", "调入备注",
    "保护片编号",       "耕地坡度级",   "来源",         "土地总面积"};
// Columns left at their default when the layer's text is empty, so set
// back after each row.
constexpr Column kOptional[] = {kCultivation, kRemark, kSlope};

// A parcel's fields as read from the layer, by Column.
using ParcelTexts = std::string[kLastCopied + 1];

// A cultivated-land type of "t" or "tt", in any case, is the terrace type TT.
std::string CultivationType(const std::string& text) {
  return text::IEquals(text, "t") || text::IEquals(text, "tt") ? "TT" : text;
}

// Writes farmland parcels as rows of one column list through one row writer.
class JbntRowWriter {
 public:
  JbntRowWriter(CStatContext& context, const std::string& table) : table_(table), levels_(context) {
    std::vector<std::string> names;
    std::unordered_set<std::string> filled;
    for (const char* name : kColumnNames) filled.insert(text::ToLowerAscii(name));
    for (const char* name : kLevelColumns) filled.insert(text::ToLowerAscii(name));
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      const std::string lower = text::ToLowerAscii(column.name);
      if (!filled.count(lower) && lower.rfind("bm", 0) != 0) continue;
      column_of_.emplace(lower, static_cast<int>(names.size()));
      names.push_back(column.name);
      blanks_.push_back(BlankValue(column, table));
    }
    for (int i = 0; i < kColumns; ++i) columns_[i] = ColumnOf(kColumnNames[i]);
    for (std::size_t i = 0; i < std::size(kLevelColumns); ++i) {
      level_columns_[i] = ColumnOf(kLevelColumns[i]);
    }
    writer_.emplace(context.m_pConn, table, std::move(names));
    row_ = blanks_;
    row_[columns_[kSource]] = "地类图斑";
  }

  // The class column of a code and its parents; nothing when the table
  // lacks one of them. A code of fewer than two characters books to none.
  const std::optional<std::vector<int>>& ClassColumns(const std::string& code) {
    auto found = class_columns_.find(code);
    if (found != class_columns_.end()) return found->second;
    std::optional<std::vector<int>> columns(std::in_place);
    for (const std::string& name : ClassColumnNames(code)) {
      auto column = column_of_.find(text::ToLowerAscii(name));
      if (column == column_of_.end()) {
        columns.reset();
        break;
      }
      columns->push_back(column->second);
    }
    return class_columns_.emplace(code, std::move(columns)).first->second;
  }

  // Stores one parcel's row; the columns it leaves unset keep their
  // defaults. Raises DbError when the database refuses the row.
  void Write(const ParcelTexts& texts, const std::optional<double>& slope,
             const std::vector<int>& class_columns, double area) {
    for (int i = 0; i <= kLastCopied; ++i) {
      const bool optional = i == kCultivation || i == kRemark;
      if (!optional || !texts[i].empty()) row_[columns_[i]] = texts[i];
    }
    row_[columns_[kBlock]] = texts[kNumber].substr(0, kBlockLength);
    if (slope) row_[columns_[kSlope]] = *slope;
    const std::vector<db::Value>& levels = levels_.Levels(texts[kLocationCode]);
    for (std::size_t i = 0; i < levels.size(); ++i) row_[level_columns_[i]] = levels[i];
    for (int column : class_columns) row_[column] = area;
    row_[columns_[kTotal]] = area;
    // The row is made blank again whether the database took it or not.
    struct Blanking {
      JbntRowWriter& writer;
      const std::vector<int>& class_columns;
      ~Blanking() { writer.Clear(class_columns); }
    } blanking{*this, class_columns};
    writer_->Add(row_);
  }

  // Declares the rows written done.
  void Close() { writer_->Close(); }

 private:
  int ColumnOf(const std::string& name) const {
    auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) throw db::DbError("table " + table_ + " has no column " + name);
    return found->second;
  }

  void Clear(const std::vector<int>& class_columns) {
    for (Column column : kOptional) row_[columns_[column]] = blanks_[columns_[column]];
    for (int column : class_columns) row_[column] = blanks_[column];
  }

  const std::string table_;
  LevelLookup levels_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_;
  std::vector<db::Value> row_;
  std::optional<db::RowWriter> writer_;
  int columns_[kColumns];
  int level_columns_[std::size(kLevelColumns)];
  std::unordered_map<std::string, std::optional<std::vector<int>>> class_columns_;
};

// One walk over the farmland parcels: reads and checks each parcel's fields
// and hands its row to the writer. Bad values are logged naming the layer,
// the record and the field.
class JbntWalk {
 public:
  JbntWalk(CStatContext& context, JbntRowWriter& writer, gis::LayerHandle layer)
      : context_(context), writer_(writer), layer_(layer), name_(gis::LayerName(layer)) {}

  // False (and one logged failure naming the layer and the field) when the
  // layer has no farmland parcel numbers: then no row is written.
  bool Run() {
    if (!gis::HasField(layer_, kNumberField)) {
      context_.LogFailure("图层 " + name_ + " 缺少字段 " + kNumberField,
                          "汇总基本农田地类图斑失败");
      return false;
    }
    WatchAreas();
    const long count = gis::RecordCount(layer_, gis::EntityKind::kRegion);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (!gis::ReadRecord(layer_, gis::EntityKind::kRegion, number, record)) continue;
      Book(record);
    }
    return true;
  }

 private:
  void Book(const gis::Record& record) {
    ParcelTexts texts;
    texts[kNumber] = record.Text(kNumberField);
    if (texts[kNumber].empty()) return;
    for (int i = kNumber + 1; i <= kLastCopied; ++i) texts[i] = record.Text(kColumnNames[i]);
    texts[kCultivation] = CultivationType(texts[kCultivation]);
    texts[kSupplement] = text::ToUpperAscii(texts[kSupplement]);
    texts[kTransfer] = text::ToUpperAscii(texts[kTransfer]);
    if (texts[kLocationName].empty())
      context_.LookupCode(texts[kLocationCode], texts[kLocationName]);
    const std::optional<double> slope = Slope(record);
    const double area = Area(record);
    // A class the table has no column for is logged and its row not
    // stored: a row booked to none of its classes would still count in the
    // totals and not in the classes.
    const std::string class_column = "BM" + texts[kClass];
    const std::optional<std::vector<int>>& classes = writer_.ClassColumns(texts[kClass]);
    if (!classes) {
      LogRow(record, class_column, "表中没有列 " + class_column + ", 图斑未计入");
      return;
    }
    try {
      writer_.Write(texts, slope, *classes, area);
    } catch (const db::DbError& error) {
      LogRow(record, class_column, error.what());
    }
  }

  // The farmland area by its leading number, rounded to 2 decimals. A text
  // that is not a number as a whole is logged; it counts by its leading
  // number, 0 when it has none.
  double Area(const gis::Record& record) {
    const std::string text = stored_texts_.Text(record, kAreaField);
    double area = 0;
    if (const std::optional<double> number = text::TextToNumber(text)) {
      area = *number;
    } else {
      area = text::LeadingNumber(text).value_or(0);
      LogField(record, kAreaField,
               "面积不是数值: " + text + ", 按 " + text::DoubleToText(area) + " 计入");
    }
    xcKeepPoint(&area, 2);
    return area;
  }

  // The slope grade; nothing when empty. A grade that is no number is
  // logged and left unset.
  std::optional<double> Slope(const gis::Record& record) {
    const std::string text = record.Text(kSlopeField);
    if (text.empty()) return std::nullopt;
    const std::optional<double> grade = text::TextToNumber(text);
    if (!grade) LogField(record, kSlopeField, "耕地坡度级不是数值: " + text + ", 未填");
    return grade;
  }

  // Notes the records whose area field holds text that the source reads as
  // some number all the same, so that the text is judged, not that number.
  void WatchAreas() {
    try {
      stored_texts_.Watch(layer_, kAreaField);
    } catch (const gis::GisError& error) {
      context_.LogFailure("图层 " + name_ + " 字段 " + kAreaField, error.what());
    }
  }

  void LogField(const gis::Record& record, const std::string& field, const std::string& message) {
    context_.LogFailure(
        "图层 " + name_ + " 记录 " + std::to_string(record.Number()) + " 字段 " + field, message);
  }

  // A parcel whose row is not stored: logged under the farmland title with
  // its class column as the message; the layer and record come with the
  // cause.
  void LogRow(const gis::Record& record, const std::string& class_column,
              const std::string& cause) {
    context_.LogFailure(
        kParcelTitle, class_column,
        db::DbError("图层 " + name_ + " 记录 " + std::to_string(record.Number()) + ": " + cause));
  }

  CStatContext& context_;
  JbntRowWriter& writer_;
  const gis::LayerHandle layer_;
  const std::string name_;
  gis::StoredFieldTexts stored_texts_;
};

}  // namespace

short CStatContext::BuildJbntParcelData() {
  std::optional<JbntRowWriter> writer;
  try {
    writer.emplace(*this, m_strJbntTbl);
  } catch (const db::DbError& error) {
    LogFailure("连接基本农田基础数据表", "连接 " + m_strJbntTbl + " 失败", error);
    return 0;
  }
  if (gis::IsLayerValid(m_aiParcel)) JbntWalk(*this, *writer, m_aiParcel).Run();
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    LogFailure("保存基本农田基础数据表", "保存 " + m_strJbntTbl + " 失败", error);
    return 0;
  }
  return 1;
}

}  // namespace landstat
