// The per-unit copies of the town-lot base table: one table per configured
// area unit holding one row per lot (its lot and house records summed), the
// copies of units 2 and 3 converted from unit 1 and rounded, then adjusted
// so that their figures add up.

#include <fmt/format.h>
#include <fmt/printf.h>

#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// The first columns of the field list are texts, the rest areas and ratios.
constexpr std::size_t kTextColumns = 15;

bool IsClassColumn(const std::string& field) {
  return field.compare(0, 2, "BM") == 0;
}

bool IsConvertedColumn(const std::string& field) {
  return IsClassColumn(field) || field == "占地面积" || field == "宗地总面积" ||
         field == "建筑面积";
}

// The assignment that converts a column from unit `source` to unit `target`
// (a format taking the column twice and the decimals); null when the two
// units are the same or either is none.
const char* ConversionFormat(short source, short target) {
  static const char* const kFormats[3][3] = {
      {nullptr, "%s=round(%s*15,%d),", "%s=round(%s*10000,%d),"},
      {"%s=round(%s/15,%d),", nullptr, "%s=round(%s*2000/3,%d),"},
      {"%s=round(%s/10000,%d),", "%s=round(%s*3/2000,%d),", nullptr}};
  if (source < kHectare || source > kSquareMetre || target < kHectare || target > kSquareMetre) {
    return nullptr;
  }
  return kFormats[source][target];
}

}  // namespace

short CZdStatContext::CreateUnitStatTables() {
  for (const UnitTable& unit : UnitTables()) CreateUnitStatTable(unit.table);
  return 1;
}

short CZdStatContext::CreateUnitStatTable(const std::string& table) {
  if (IsTableExist(table) == 1) DropTable(table);
  const std::string statement = LotTableStatement(table, m_arrStatFields, kTextColumns);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    LogFailure("建立城镇基础汇总表", "statdata_czzdex" + statement, error);
    return 0;
  }
}

short CZdStatContext::BuildUnitStatData() {
  // Each copy and conversion logs its own failure; a copy that failed
  // leaves its unit's table empty or in unit 1, and the run goes on to the
  // area units and the summaries, whose figures the failures make suspect.
  for (const UnitTable& unit : UnitTables()) {
    if (CopyUnitStatData(unit.table) == 0 || unit.unit == m_nUnitSrc) continue;
    ConvertUnitTable(unit.unit, unit.table, unit.decimals);
  }
  AdjustUnitStatData();
  return 1;
}

std::string CZdStatContext::CopyUnitStatStatement(const std::string& target,
                                                  const std::string& source) const {
  std::string insert = fmt::format(
      " insert into {} (地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t"
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t"
      "土地座落,使用权类型,权属性质,土地级别,\t\t\t\t\t宗地总面积,占地面积,建筑面积",
      target);
  std::string select =
      "select 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t  "
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t  "
      "土地座落,使用权类型,权属性质,土地级别,\t\t\t\t\t  "
      "sum(宗地总面积),sum(占地面积),sum(建筑面积)";
  for (const std::string& field : m_arrStatFields) {
    if (!IsClassColumn(field)) continue;
    insert += "," + field;
    select += fmt::format(",SUM({}) as {} ", field, field);
  }
  insert += ")";
  const char* group =
      "group by 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t"
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t"
      "土地座落,使用权类型,权属性质,土地级别";
  return fmt::format("{} {} from {} {}", insert, select, source, group);
}

short CZdStatContext::CopyUnitStatData(const std::string& table) {
  const std::string statement = CopyUnitStatStatement(table, StatDataTable());
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总城镇基础据表", "statdata_czzdex " + statement, error);
    return 0;
  }
}

std::string CZdStatContext::ConvertUnitStatement(short unit, const std::string& table,
                                                 short decimals, bool as_run) const {
  const char* format = ConversionFormat(m_nUnitSrc, unit);
  if (!format) return {};
  const bool skip_zeros = as_run && DialectKind() != db::DbKind::kEmbedded;
  std::string statement = fmt::format("UPDATE {} set ", table);
  for (const std::string& field : m_arrStatFields) {
    if (!IsConvertedColumn(field)) continue;
    std::string assignment = fmt::sprintf(format, field, field, decimals);
    if (skip_zeros) {
      // "X=round(...)," becomes "X=case when X=0 then 0 else round(...) end,".
      const std::size_t equals = assignment.find('=');
      assignment = assignment.substr(0, equals + 1) + "case when " + field + "=0 then 0 else " +
                   assignment.substr(equals + 1, assignment.size() - equals - 2) + " end,";
    }
    statement += assignment;
  }
  statement.pop_back();  // the last comma
  return statement;
}

short CZdStatContext::ConvertUnitTable(short unit, const std::string& table, short decimals) {
  const std::string statement = ConvertUnitStatement(unit, table, decimals, true);
  // A table already in unit 1 needs no conversion.
  if (statement.empty()) return 1;
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    LogStatementFailure("转换城镇基础汇总表面积单位", table, statement);
    return 0;
  }
}

}  // namespace landstat
