// The reserve parcel tables ZB_GDHB, KKK_GDHB, KFK_GDHB, KKK_GDHBOLD and
// KFK_GDHBOLD: created empty with one layout; ZB_GDHB filled from the
// reserve layer "耕地后备资源图斑", one row per parcel, and each class table
// from ZB_GDHB with the rows of the parcels of its reserve class under the
// new or the old type scheme.

#include "reserve/reserve_parcel_tables.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/base_rows.h"
#include "engine/layer_checks.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sql_text.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "reserve/reserve_summary_tables.h"
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

// What sets one table apart from the others: its name and the parcels it
// takes (every one, or those of one class of a type scheme).
struct GdhbTableKind {
  const char* base;
  const char* type_field;  // null: every parcel
  std::vector<const char*> (*types_of)(short reserve_class);
  short reserve_class;
};
constexpr GdhbTableKind kBase = {"ZB_GDHB", nullptr, nullptr, 0};
constexpr GdhbTableKind kKkk = {"KKK_GDHB", "耕地后备资源新类型", GdhbNewTypesOf, 1};
constexpr GdhbTableKind kKfk = {"KFK_GDHB", "耕地后备资源新类型", GdhbNewTypesOf, 2};
constexpr GdhbTableKind kKkkOld = {"KKK_GDHBOLD", "耕地后备资源原类型", GdhbOldTypesOf, 1};
constexpr GdhbTableKind kKfkOld = {"KFK_GDHBOLD", "耕地后备资源原类型", GdhbOldTypesOf, 2};
constexpr char kWalkProgress[] = "正在汇总耕地后备资源图斑";

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

// The fields the reserve tables and their summaries cannot do without:
// every field the tables copy (they list each one, and the summaries group
// by the levels, types, grade, nature and survey area among them).
std::vector<std::string> NeededFields() {
  std::vector<std::string> fields;
  for (const CopiedField& copied : kCopied) fields.emplace_back(copied.field);
  return fields;
}
constexpr const char* kLevels[] = {"国家级", "省级"};
// The width of every text column of the tables.
constexpr std::size_t kTextWidth = 80;

// The values a field of the reserve layer is expected to hold: a value
// outside them is kept with a notice (the summaries leave it out of their
// columns by type, grade or level, not out of their totals).
struct Vocabulary {
  const char* field;
  std::vector<const char*> words;
};
const std::vector<Vocabulary>& Vocabularies() {
  static const std::vector<Vocabulary> vocabularies = {
      {"耕地后备资源级别", {std::begin(kLevels), std::end(kLevels)}},
      {"耕地后备资源新类型", reserve::kNewTypeTree.Texts()},
      {"耕地后备资源原类型", reserve::kOldTypeTree.Texts()},
      {"评价等级", reserve::kGradeTree.Texts()}};
  return vocabularies;
}

// One walk over the reserve layer writing the rows of ZB_GDHB. A parcel
// with an empty location code, an area that cannot be counted or a text
// longer than its column is logged, naming the layer, the record, the
// field and the value, and left out; one the table refuses all the same is
// logged too; the walk goes on.
class GdhbWalk {
 public:
  GdhbWalk(CStatContext& c, db::RowWriter& writer)
      : writer_(writer), levels_(c), checks_(c, c.m_aiGdhb) {}

  // False when the layer lacks a field the table needs (logged): then no
  // row is written.
  bool Run() {
    if (!checks_.HasFields(NeededFields(), "不汇总耕地后备资源")) return false;
    std::unordered_map<std::string, int> index_of;
    const std::vector<gis::FieldDef> fields = gis::LayerFields(checks_.Layer());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      index_of.emplace(fields[i].name, static_cast<int>(i));
    }
    const auto index = [&](const char* field) {
      const auto found = index_of.find(field);
      return found == index_of.end() ? -1 : found->second;
    };
    for (std::size_t i = 0; i < kCopiedCount; ++i) indexes_[i] = index(kCopied[i].field);
    checks_.WatchNumbers(kCopied[kArea].field);
    row_.resize(kCopiedCount + std::size(kLevelColumns));
    const std::string progress = kWalkProgress;
    const long count = gis::RecordCount(checks_.Layer(), gis::EntityKind::kRegion);
    checks_.Walk(
        gis::EntityKind::kRegion,
        [&](const gis::Record& record) {
          host::LindoDlgSetProgress(progress, record.Number(), count);
          Write(record);
        },
        gis::RecordParts::kFields);
    return true;
  }

 private:
  void Write(const gis::Record& record) {
    bool fits = true;
    for (std::size_t i = 0; i < kCopiedCount; ++i) {
      if (i == kArea) continue;
      std::string text = record.Text(indexes_[i]);
      fits = checks_.Fits(record, kCopied[i].field, text, kTextWidth) && fits;
      row_[i] = std::move(text);
    }
    const std::optional<std::string> location = checks_.Code(record, kCopied[kLocation].field);
    const std::optional<double> area = checks_.Area(record, kCopied[kArea].field, indexes_[kArea]);
    if (!fits || !location || !area) return;
    for (const Vocabulary& vocabulary : Vocabularies()) {
      checks_.InVocabulary(record, vocabulary.field, record.Text(vocabulary.field),
                           vocabulary.words, false);
    }
    row_[kArea] = *area;
    const std::vector<db::Value>& levels = levels_.Levels(*location);
    std::copy(levels.begin(), levels.end(), row_.begin() + kCopiedCount);
    try {
      writer_.Add(row_);
    } catch (const db::DbError& error) {
      checks_.Fail(record, "", std::string(error.what()) + ", 图元未计入");
    }
  }

  db::RowWriter& writer_;
  LevelLookup levels_;
  LayerChecks checks_;
  int indexes_[kCopiedCount] = {};
  std::vector<db::Value> row_;
};

std::vector<std::string> WrittenColumns() {
  std::vector<std::string> columns;
  for (const CopiedField& copied : kCopied) columns.push_back(copied.column);
  for (const char* level : kLevelColumns) columns.push_back(level);
  return columns;
}

// The query of a class table's rows: those of ZB_GDHB whose type under the
// table's scheme is one of its class's, in the order stored.
std::string ClassRowsQuery(const CStatContext& c, const GdhbTableKind& kind) {
  std::string types;
  for (const char* type : kind.types_of(kind.reserve_class)) {
    types += (types.empty() ? "" : ",") + db::QuoteText(type);
  }
  return "select " + db::JoinedColumns(WrittenColumns()) + " from " + c.GdhbTable(kBase.base) +
         " where " + kind.type_field + " in (" + types + ")";
}

// Fills a class table created empty in this run from ZB_GDHB, filled
// before it: the walk of the layer that filled ZB_GDHB checked its parcels
// and logged those it left out, and a class table takes a part of the same
// rows as they stand there. 0 after a logged failure.
short FillGdhbClassTable(CStatContext& c, const GdhbTableKind& kind) {
  if (!ReserveLayerValid(c)) return 0;
  const std::string table = c.GdhbTable(kind.base);
  const std::string query = ClassRowsQuery(c, kind);
  try {
    c.m_pConn.InsertSelect(table, WrittenColumns(), query);
  } catch (const db::DbError& error) {
    host::yDebugStr(query);
    host::AfxMessageBox(error.what());
    c.LogFailure("汇总耕地后备资源 " + table, "保存 " + table + " 失败", error);
    return 0;
  }
  return 1;
}

// Fills ZB_GDHB, created empty in this run; its parcels' failures are
// logged as they are met. 0 when the table cannot be written or the layer
// lacks a field it needs.
short FillBaseTable(CStatContext& c) {
  if (!ReserveLayerValid(c)) return 0;
  const std::string table = c.GdhbTable(kBase.base);
  const std::string title = "汇总耕地后备资源 " + table;
  std::optional<db::RowWriter> writer;
  try {
    writer.emplace(c.m_pConn, table, WrittenColumns());
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    c.LogFailure(title, "打开 " + table + " 失败", error);
    return 0;
  }
  bool walked = false;
  try {
    walked = GdhbWalk(c, *writer).Run();
  } catch (const gis::GisError& error) {
    host::AfxMessageBox(error.what());
    c.LogFailure(title, "读取图层失败", error);
  }
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    c.LogFailure(title, "保存 " + table + " 失败", error);
    return 0;
  }
  return walked ? 1 : 0;
}

}  // namespace

bool ReserveLayerHasNeededFields(CStatContext& c) {
  return LayerChecks(c, c.m_aiGdhb).HasFields(NeededFields(), "不汇总耕地后备资源");
}

std::string GdhbCreateStatement(const std::string& table, int db_type) {
  std::string statement = "Create Table " + table + "(";
  for (const char* column : kSchema) {
    const bool area = std::string_view(column) == kAreaColumn;
    statement += std::string(column) +
                 (area ? " double default 0.00," : " varchar(" + std::to_string(kTextWidth) + "),");
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
  return FillBaseTable(*this);
}
short CStatContext::FillKkkGdhbTable() {
  return FillGdhbClassTable(*this, kKkk);
}
short CStatContext::FillKfkGdhbTable() {
  return FillGdhbClassTable(*this, kKfk);
}
short CStatContext::FillKkkGdhbOldTable() {
  return FillGdhbClassTable(*this, kKkkOld);
}
short CStatContext::FillKfkGdhbOldTable() {
  return FillGdhbClassTable(*this, kKfkOld);
}

}  // namespace landstat
