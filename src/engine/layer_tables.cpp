// Copies of layer attributes: a layer's attribute table into the database,
// the change records, a temporary attribute table for the base fields, and
// single attribute reads the builders share.

#include "engine/layer_tables.h"

#include <functional>

#include "engine/layer_checks.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

std::string TypeOf(const gis::FieldDef& field) {
  switch (field.type) {
    case gis::FieldType::kInteger:
      return "int";
    case gis::FieldType::kDouble:
      return "double";
    default:
      return "varchar(" +
             std::to_string(field.width > 0 && field.width <= 255 ? field.width : 255) + ")";
  }
}

}  // namespace

namespace {

// AiToDB's work: the records `keep` takes (every one without it); raises
// DbError or GisError with the reason.
void CopyLayerToTable(short layer, db::Connection& connection, const std::string& table,
                      const std::function<bool(const gis::Record&)>& keep = {}) {
  const std::vector<gis::FieldDef> fields = gis::LayerFields(layer);
  std::string sql = "Create Table " + table + "(";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    sql += (i ? "," : "") + fields[i].name + " " + TypeOf(fields[i]);
  }
  if (connection.TableExists(table)) connection.Execute("drop table " + table);
  connection.Execute(db::SqlDialect::For(connection.Kind()).ApplyTypeWords(sql + ")"));
  db::Recordset rows(connection, "select * from " + table + " where 1<>1");
  const long count = gis::RecordCount(layer, gis::EntityKind::kTable);
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(layer, gis::EntityKind::kTable, number, record,
                         gis::RecordParts::kFields)) {
      continue;
    }
    if (keep && !keep(record)) continue;
    rows.AddNew();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string text = record.Text(static_cast<int>(i));
      if (!text.empty()) rows.SetField(static_cast<int>(i), db::Value(text));
    }
  }
  rows.Update();
  rows.Close();
}

}  // namespace

short AiToDB(short layer, db::Connection& connection, const std::string& table) {
  if (layer <= 0 || !gis::IsLayerValid(layer)) return 0;
  try {
    CopyLayerToTable(layer, connection, table);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return 0;
  } catch (const gis::GisError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
}

namespace {

// The fields of a change record the balance sheet reads.
constexpr const char* kChangeArea = "变更面积";
const std::vector<std::string> kChangeFields = {
    "变更前座落代码", "变更后座落代码", "变更前权属性质", "变更后权属性质",
    "变更前地类号",   "变更后地类号",   kChangeArea};

}  // namespace

short CStatContext::BuildChangeTable() {
  if (m_aiChange <= 0 || !gis::IsLayerValid(m_aiChange)) return 1;  // no change records
  host::LindoDlgProgressSetText("正在导入变更数据");
  const std::string table = m_names.Plain("ndChange");
  // A record whose area cannot be counted is logged and not copied, as a
  // piece of any other layer: the balance sheet adds up what is copied.
  LayerChecks checks(*this, m_aiChange);
  if (!checks.HasFields(kChangeFields, "不生成变更表 " + table)) return 0;
  checks.WatchNumbers(kChangeArea);
  try {
    CopyLayerToTable(m_aiChange, m_pConn, table, [&](const gis::Record& record) {
      // The operator's cancel is heard at each record.
      if (host::JobCancelled()) EndIfStopped("导入变更数据");
      return checks.Area(record, kChangeArea).has_value();
    });
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("导入变更数据", "导入变更数据失败", error);
  } catch (const gis::GisError& error) {
    LogFailure("导入变更数据", "导入变更数据失败", error);
  }
  return 0;
}

short BuildStatAttStru(short table, const std::vector<std::string>* fields, short decimals) {
  if (!fields || fields->size() < 21 || (table > 0 && !gis::IsLayerValid(table))) return 0;
  std::vector<gis::FieldDef> definitions;
  for (std::size_t i = 0; i < fields->size(); ++i) {
    if (i < 20) {
      definitions.push_back({(*fields)[i], gis::FieldType::kText, 80, 0});
    } else if (i == 20) {
      definitions.push_back({(*fields)[i], gis::FieldType::kInteger, 19, 0});
    } else {
      definitions.push_back({(*fields)[i], gis::FieldType::kDouble, 15, decimals});
    }
  }
  try {
    return gis::CreateTable("统计属性表", definitions);
  } catch (const gis::GisError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
}

std::string GetEntitySlopeClass(short layer, long record) {
  if (layer < 1) return {};
  return gis::FieldText(layer, record, "耕地坡度级");
}

}  // namespace landstat
