// The reserve tables in the wanted area units: each table copied whole into
// "PM", "MU" and "GQ" by the unit flags, the areas of the copies in the
// target units converted from the source unit as they are copied.

#include <string>
#include <utility>
#include <vector>

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The reserve tables' area column, converted to 2 decimals in the copies of
// the target units.
constexpr char kAreaColumn[] = "面积";
constexpr short kAreaDecimals = 2;

// The expression of the area column in the copy of `unit`: converted from
// the source unit when `unit` is a target unit; empty (copied as it is)
// otherwise.
std::string AreaInUnit(const CStatContext& c, short unit) {
  if (unit != c.m_nUnit1 && unit != c.m_nUnit2) return {};
  const std::string factor = FactorText(c.m_nUnitSrc, unit);
  if (factor.empty()) return {};
  return "round(" + std::string(kAreaColumn) + factor + "," + std::to_string(kAreaDecimals) + ")";
}

// The copies of one reserve table in the wanted units (square metres, mu,
// hectares, in that order). 0 at the first copy that failed.
short CopyToUnits(CStatContext& c, const char* base) {
  const std::pair<bool, short> units[] = {
      {c.m_bPm, kSquareMetre}, {c.m_bMu, kMu}, {c.m_bGq, kHectare}};
  for (const auto& [wanted, unit] : units) {
    if (!wanted) continue;
    if (c.CopyGdhbTable(c.GdhbUnitTable(unit, base), c.GdhbTable(base), AreaInUnit(c, unit)) <= 0) {
      return 0;
    }
  }
  return 1;
}

}  // namespace

short CStatContext::CopyGdhbTable(const std::string& target, const std::string& source,
                                  const std::string& area) {
  // The earlier copy goes only when the new one is complete.
  std::string statement;
  try {
    db::Transaction transaction(m_pConn);
    if (IsTableExist(target)) DropTable(target);
    statement = Dialect().CopyStructure(target, source);
    m_pConn.Execute(statement);
    std::vector<std::string> columns;
    std::string select;
    for (const db::ColumnInfo& column : m_pConn.Columns(source)) {
      columns.push_back(column.name);
      const bool converted = !area.empty() && column.name == kAreaColumn;
      select += (select.empty() ? "select " : ", ") + (converted ? area : column.name);
    }
    statement = select + " from " + source;
    m_pConn.InsertSelect(target, columns, statement);
    transaction.Commit();
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::AfxMessageBox(error.what());
    LogFailure("复制耕地后备资源表", "复制 " + source + " 到 " + target + " 失败", error);
    return 0;
  }
  return 1;
}

short CStatContext::CopyGdhbBaseTableToUnits() {
  return CopyToUnits(*this, "ZB_GDHB");
}

short CStatContext::CopyGdhbClassTablesToUnits() {
  for (const char* base : {"KKK_GDHB", "KKK_GDHBOLD", "KFK_GDHB", "KFK_GDHBOLD"}) {
    if (CopyToUnits(*this, base) <= 0) return 0;
  }
  return 1;
}

}  // namespace landstat
