// The farmland base table "statdata_jbnt": one row per farmland parcel of
// the parcel source layer, its area booked to its class column, the
// class's parent columns and the total.

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/base_rows.h"
#include "engine/field_needs.h"
#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"

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
    if (context.m_pConn.Kind() == db::DbKind::kEmbedded && !context.m_bOracle) {
      // The unit copies group these rows: grouped as they are written, the
      // table is not read back for them. Without a column of the grouping
      // they read it, and fail there as before.
      try {
        grouping_ = std::make_unique<db::GroupedSums>(
            farmland::CondensingGrouping(context, table, true), names);
      } catch (const db::DbError& error) {
        host::yDebugStr("基本农田基础数据表的行未在写入时分组, 单位表读取该表: " +
                        std::string(error.what()));
      }
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
  // Without an area the class columns and the total keep their defaults.
  void Write(const ParcelTexts& texts, int slope, const std::vector<int>& class_columns,
             const std::optional<double>& area) {
    for (int i = 0; i <= kLastCopied; ++i) {
      const bool optional = i == kCultivation || i == kRemark;
      if (!optional || !texts[i].empty()) row_[columns_[i]] = texts[i];
    }
    row_[columns_[kBlock]] = texts[kNumber].substr(0, kBlockLength);
    if (slope > 0) row_[columns_[kSlope]] = static_cast<double>(slope);
    const std::vector<db::Value>& levels = levels_.Levels(texts[kLocationCode]);
    for (std::size_t i = 0; i < levels.size(); ++i) row_[level_columns_[i]] = levels[i];
    if (area) {
      for (int column : class_columns) row_[column] = *area;
    }
    row_[columns_[kTotal]] = area ? db::Value(*area) : blanks_[columns_[kTotal]];
    // The row is made blank again whether the database took it or not.
    struct Blanking {
      JbntRowWriter& writer;
      const std::vector<int>& class_columns;
      ~Blanking() { writer.Clear(class_columns); }
    } blanking{*this, class_columns};
    writer_->Add(row_);
    if (grouping_) grouping_->Add(row_);
  }

  // Declares the rows written done.
  void Close() { writer_->Close(); }

  // The rows written grouped as the unit copies keep them; none on a
  // server, which groups them itself.
  std::unique_ptr<db::GroupedSums> TakeGrouping() { return std::move(grouping_); }

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
  std::unique_ptr<db::GroupedSums> grouping_;
  int columns_[kColumns];
  int level_columns_[std::size(kLevelColumns)];
  std::unordered_map<std::string, std::optional<std::vector<int>>> class_columns_;
};

// One walk over the farmland parcels: checks the fields it needs, reads and
// checks each parcel's fields and hands its row to the writer. Bad values
// are logged naming the layer, the record and the field.
class JbntWalk {
 public:
  JbntWalk(CStatContext& context, JbntRowWriter& writer, gis::LayerHandle layer)
      : context_(context), writer_(writer), checks_(context, layer) {}

  // False (and one logged failure naming the layer and the field) when the
  // layer lacks a field the rows need: then no row is written. A field only
  // some tables need leaves those out (logged), and the rows are written.
  // The parcel number ties a farmland parcel to its land-use parcel.
  bool Run() {
    if (!checks_.HasFields(
            {kNumberField, kColumnNames[kClass], kAreaField, kColumnNames[kLocationCode],
             kColumnNames[kOwnerCode], kColumnNames[kParcel]},
            "汇总基本农田地类图斑失败")) {
      return false;
    }
    context_.LeaveOutTablesWithout(checks_, FieldNeedsOf(SurveyWalk::kFarmland));
    checks_.WatchNumbers(kAreaField);
    checks_.Walk(
        gis::EntityKind::kRegion, [&](const gis::Record& record) { Book(record); },
        gis::RecordParts::kFields);
    return true;
  }

 private:
  // A parcel with an empty number, location or owner code, or an area that
  // cannot be counted, is logged and left out. A number too short to name
  // a protection block of 16 characters stands whole, with a notice.
  void Book(const gis::Record& record) {
    ParcelTexts texts;
    const std::optional<std::string> number = checks_.Code(record, kNumberField);
    const std::optional<std::string> location = checks_.Code(record, kColumnNames[kLocationCode]);
    const std::optional<std::string> owner = checks_.Code(record, kColumnNames[kOwnerCode]);
    std::optional<double> area = checks_.Area(record, kAreaField);
    if (!number || !location || !owner || !area) return;
    if (number->size() < kBlockLength) {
      checks_.HasLength(record, kNumberField, *number, kBlockLength, false);
    }
    texts[kNumber] = *number;
    for (int i = kNumber + 1; i <= kLastCopied; ++i) texts[i] = record.Text(kColumnNames[i]);
    texts[kCultivation] = CultivationType(texts[kCultivation]);
    texts[kSupplement] = text::ToUpperAscii(texts[kSupplement]);
    texts[kTransfer] = text::ToUpperAscii(texts[kTransfer]);
    if (texts[kLocationName].empty())
      context_.LookupCode(texts[kLocationCode], texts[kLocationName]);
    const int slope = checks_.SlopeGrade(record, kSlopeField);
    xcKeepPoint(&*area, 2);
    // A class the table has no column for is logged, and its row keeps the
    // parcel's identifiers and levels without an area: its protection block
    // still shows in the tables by block, and the classes add up to the
    // totals.
    const std::string class_column = "BM" + texts[kClass];
    const std::optional<std::vector<int>>& classes = writer_.ClassColumns(texts[kClass]);
    if (!classes) {
      LogRow(record, class_column, "表中没有列 " + class_column + ", 面积未计入");
      area.reset();
    }
    try {
      writer_.Write(texts, slope, classes ? *classes : std::vector<int>{}, area);
    } catch (const db::DbError& error) {
      LogRow(record, class_column, error.what());
    }
  }

  // A parcel whose row is not stored: logged under the farmland title with
  // its class column as the message; the layer and record come with the
  // cause.
  void LogRow(const gis::Record& record, const std::string& class_column,
              const std::string& cause) {
    context_.LogFailure(kParcelTitle, class_column,
                        db::DbError(checks_.RecordName(record) + ": " + cause));
  }

  CStatContext& context_;
  JbntRowWriter& writer_;
  LayerChecks checks_;
};

}  // namespace

short CStatContext::BuildJbntParcelData() {
  m_mapFedSums.erase(farmland::FedCondensingKey(*this));  // of a table filled before
  std::optional<JbntRowWriter> writer;
  try {
    writer.emplace(*this, m_strJbntTbl);
  } catch (const db::DbError& error) {
    LogFailure("连接基本农田基础数据表", "连接 " + m_strJbntTbl + " 失败", error);
    return 0;
  }
  const bool walked = !gis::IsLayerValid(m_aiParcel) || JbntWalk(*this, *writer, m_aiParcel).Run();
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    LogFailure("保存基本农田基础数据表", "保存 " + m_strJbntTbl + " 失败", error);
    return 0;
  }
  if (!walked) return 0;
  if (std::unique_ptr<db::GroupedSums> grouping = writer->TakeGrouping()) {
    KeepFedSums(farmland::FedCondensingKey(*this), std::move(grouping));
  }
  return 1;
}

}  // namespace landstat
