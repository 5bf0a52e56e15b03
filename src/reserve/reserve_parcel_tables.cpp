// The reserve parcel tables ZB_GDHB, KKK_GDHB, KFK_GDHB, KKK_GDHBOLD and
// KFK_GDHBOLD: created empty with one layout, and filled from the reserve
// layer "耕地后备资源图斑", one row per parcel (the class tables only the
// parcels of their reserve class under the new or the old type scheme).

#include "reserve/reserve_parcel_tables.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/base_rows.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_text.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "reserve/reserve_types.h"

namespace landstat {
namespace {

// The layout, in column order; "面积" is the only numeric column.
constexpr const char* kSchema[] = {"XZQDM",
                                   "序号",
                                   "面积",
                                   "省名称",
                                   "省级代码",
                                   "市名称",
                                   "市级代码",
                                   "县名称",
                                   "县级代码",
                                   "乡名称",
                                   "乡级代码",
                                   "村名称",
                                   "村级代码",
                                   "要素代码",
                                   "图幅号",
                                   "调查区名称",
                                   "片号",
                                   "图斑号",
                                   "耕地后备资源级别",
                                   "耕地后备资源原类型",
                                   "耕地后备资源新类型",
                                   "中心点座标_X",
                                   "中心点座标_Y",
                                   "地类代码",
                                   "地类名称",
                                   "权属性质",
                                   "权属单位代码",
                                   "权属单位名称",
                                   "座落单位名称",
                                   "评价等级"};
constexpr const char* kAreaColumn = "面积";

// The layer fields copied into the table, by column; the level codes and
// names (kLevelColumns) follow them in each row.
struct CopiedField {
  const char* column;
  const char* field;
};
constexpr CopiedField kCopied[] = {{"XZQDM", "座落单位代码"},
                                   {"序号", "ID"},
                                   {"面积", "后备资源地类面积"},
                                   {"要素代码", "要素代码"},
                                   {"图幅号", "所在图幅号"},
                                   {"调查区名称", "调查区名称"},
                                   {"片号", "片号"},
                                   {"图斑号", "后备资源图斑编号"},
                                   {"耕地后备资源级别", "耕地后备资源级别"},
                                   {"耕地后备资源新类型", "耕地后备资源新类型"},
                                   {"耕地后备资源原类型", "耕地后备资源原类型"},
                                   {"中心点座标_X", "中心点XE_XA80"},
                                   {"中心点座标_Y", "中心点YE_XA80"},
                                   {"地类代码", "地类编码"},
                                   {"地类名称", "地类名称"},
                                   {"权属性质", "权属性质"},
                                   {"权属单位名称", "权属单位名称"},
                                   {"权属单位代码", "权属单位代码"},
                                   {"座落单位名称", "座落单位名称"},
                                   {"评价等级", "评价等级"}};
constexpr std::size_t kLocation = 0;  // "座落单位代码": the levels come from it
constexpr std::size_t kArea = 2;
constexpr std::size_t kCopiedCount = std::size(kCopied);

// What sets one table apart from the others: its name, the parcels it takes
// (every one, or those of one class of a type scheme) and its progress text.
struct GdhbTableKind {
  const char* base;
  const char* type_field;  // null: every parcel
  short (*classify)(const std::string&);
  short reserve_class;
  const char* progress;
};
constexpr GdhbTableKind kBase = {"ZB_GDHB", nullptr, nullptr, 0, "正在汇总耕地后备资源图斑"};
constexpr GdhbTableKind kKkk = {"KKK_GDHB", "耕地后备资源新类型", ClassifyGdhbNewType, 1,
                                "正在汇总耕地后备资源可开垦图斑"};
constexpr GdhbTableKind kKfk = {"KFK_GDHB", "耕地后备资源新类型", ClassifyGdhbNewType, 2,
                                "正在汇总耕地后备资源可复垦图斑"};
constexpr GdhbTableKind kKkkOld = {"KKK_GDHBOLD", "耕地后备资源原类型", ClassifyGdhbOldType, 1,
                                   "正在汇总耕地后备资源可开垦图斑"};
constexpr GdhbTableKind kKfkOld = {"KFK_GDHBOLD", "耕地后备资源原类型", ClassifyGdhbOldType, 2,
                                   "正在汇总耕地后备资源可复垦图斑"};

bool ReserveLayerValid(const CStatContext& c) {
  return c.m_aiGdhb > 0 && gis::IsLayerValid(c.m_aiGdhb);
}

// Drops a table of the name and creates it empty. A statement the database
// refuses goes to the trace, its reason to the operator and the run's log.
short CreateGdhbTable(CStatContext& c, const GdhbTableKind& kind) {
  if (!ReserveLayerValid(c)) return 0;
  const std::string table = c.GdhbTable(kind.base);
  const std::string statement = GdhbCreateStatement(table, c.m_nDbType);
  try {
    if (c.IsTableExist(table)) c.DropTable(table);
    c.m_pConn.Execute(statement);
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::AfxMessageBox(error.what());
    c.LogFailure("创建耕地后备资源表", "创建 " + table + " 失败", error);
    return 0;
  }
  return 1;
}

// One walk over the reserve layer writing the rows of one table. Stops at
// the first parcel whose row cannot be written (an area that is no number,
// a value the table refuses), with a text naming the layer, the record and
// the field.
class GdhbWalk {
 public:
  GdhbWalk(CStatContext& c, const GdhbTableKind& kind, db::RowWriter& writer)
      : kind_(kind), writer_(writer), levels_(c), layer_(c.m_aiGdhb) {}

  // Empty when every parcel of the table was written.
  std::string Run() {
    name_ = gis::LayerName(layer_);
    std::unordered_map<std::string, int> index_of;
    const std::vector<gis::FieldDef> fields = gis::LayerFields(layer_);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      index_of.emplace(fields[i].name, static_cast<int>(i));
    }
    const auto index = [&](const char* field) {
      const auto found = index_of.find(field);
      return found == index_of.end() ? -1 : found->second;  // missing: empty text
    };
    for (std::size_t i = 0; i < kCopiedCount; ++i) indexes_[i] = index(kCopied[i].field);
    const int type_index = kind_.type_field ? index(kind_.type_field) : -1;
    // An area column of numbers may still hold text in some records; that
    // text is what is judged.
    held_areas_.Watch(layer_, kCopied[kArea].field);
    row_.resize(kCopiedCount + std::size(kLevelColumns));
    const std::string progress = kind_.progress;
    const long count = gis::RecordCount(layer_, gis::EntityKind::kRegion);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(progress, number, count);
      if (!gis::ReadRecord(layer_, gis::EntityKind::kRegion, number, record)) continue;
      if (kind_.classify && kind_.classify(record.Text(type_index)) != kind_.reserve_class) {
        continue;
      }
      std::string failure = Write(record);
      if (!failure.empty()) return failure;
    }
    return {};
  }

 private:
  std::string Write(const gis::Record& record) {
    for (std::size_t i = 0; i < kCopiedCount; ++i) {
      if (i != kArea) row_[i] = record.Text(indexes_[i]);
    }
    const std::string area = held_areas_.Text(record, kCopied[kArea].field, indexes_[kArea]);
    const std::optional<double> number = text::TextToNumber(area);  // empty: 0
    if (!number) return Where(record, kCopied[kArea].field) + ": 面积不是数值: " + area;
    row_[kArea] = *number;
    const std::vector<db::Value>& levels = levels_.Levels(row_[kLocation].AsText());
    std::copy(levels.begin(), levels.end(), row_.begin() + kCopiedCount);
    try {
      writer_.Add(row_);
    } catch (const db::DbError& error) {
      return Where(record, "") + ": " + error.what();
    }
    return {};
  }

  std::string Where(const gis::Record& record, const std::string& field) const {
    return "图层 " + name_ + " 记录 " + std::to_string(record.Number()) +
           (field.empty() ? "" : " 字段 " + field);
  }

  const GdhbTableKind& kind_;
  db::RowWriter& writer_;
  LevelLookup levels_;
  const gis::LayerHandle layer_;
  std::string name_;
  int indexes_[kCopiedCount] = {};
  gis::StoredFieldTexts held_areas_;
  std::vector<db::Value> row_;
};

std::vector<std::string> WrittenColumns() {
  std::vector<std::string> columns;
  for (const CopiedField& copied : kCopied) columns.push_back(copied.column);
  for (const char* level : kLevelColumns) columns.push_back(level);
  return columns;
}

// Fills a table created empty in this run. A parcel whose row cannot be
// written ends the fill: the rows before it are kept, and the reason goes
// to the operator and the run's log.
short FillGdhbTable(CStatContext& c, const GdhbTableKind& kind) {
  if (!ReserveLayerValid(c)) return 0;
  const std::string table = c.GdhbTable(kind.base);
  const std::string title = "汇总耕地后备资源 " + table;
  std::optional<db::RowWriter> writer;
  try {
    writer.emplace(c.m_pConn, table, WrittenColumns());
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    c.LogFailure(title, "打开 " + table + " 失败", error);
    return 0;
  }
  std::string failure;
  try {
    failure = GdhbWalk(c, kind, *writer).Run();
  } catch (const gis::GisError& error) {
    failure = error.what();
  }
  if (!failure.empty()) {
    host::AfxMessageBox(failure);
    c.LogFailure(title, failure);
  }
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    c.LogFailure(title, "保存 " + table + " 失败", error);
    return 0;
  }
  return failure.empty() ? 1 : 0;
}

}  // namespace

std::string GdhbCreateStatement(const std::string& table, int db_type) {
  std::string statement = "Create Table " + table + "(";
  for (const char* column : kSchema) {
    const bool area = std::string_view(column) == kAreaColumn;
    statement += std::string(column) + (area ? " double default 0.00," : " varchar(80),");
  }
  statement.back() = ')';
  if (db_type == 1) return db::ReplaceWord(statement, "double", "float");
  if (db_type == 2) return db::ReplaceWord(statement, "double", "NUMBER");
  return statement;
}

short CStatContext::CreateGdhbBaseTable() {
  return CreateGdhbTable(*this, kBase);
}
short CStatContext::CreateKkkGdhbTable() {
  return CreateGdhbTable(*this, kKkk);
}
short CStatContext::CreateKfkGdhbTable() {
  return CreateGdhbTable(*this, kKfk);
}
short CStatContext::CreateKkkGdhbOldTable() {
  return CreateGdhbTable(*this, kKkkOld);
}
short CStatContext::CreateKfkGdhbOldTable() {
  return CreateGdhbTable(*this, kKfkOld);
}
short CStatContext::FillGdhbBaseTable() {
  return FillGdhbTable(*this, kBase);
}
short CStatContext::FillKkkGdhbTable() {
  return FillGdhbTable(*this, kKkk);
}
short CStatContext::FillKfkGdhbTable() {
  return FillGdhbTable(*this, kKfk);
}
short CStatContext::FillKkkGdhbOldTable() {
  return FillGdhbTable(*this, kKkkOld);
}
short CStatContext::FillKfkGdhbOldTable() {
  return FillGdhbTable(*this, kKfkOld);
}

}  // namespace landstat
