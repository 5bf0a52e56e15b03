// The reserve tables in the wanted area units: each table copied whole into
// "PM", "MU" and "GQ" by the unit flags, and the areas of the copies in the
// target units converted from the source unit by one UPDATE each.

#include <fmt/printf.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// The assignment that converts a column from one unit into another and
// rounds it; null for a pair that needs none.
const char* ConversionFormat(short from, short to) {
  struct Conversion {
    short from, to;
    const char* format;
  };
  static constexpr Conversion kConversions[] = {
      {kSquareMetre, kMu, "%s=round(%s*3/2000,%d),"},
      {kSquareMetre, kHectare, "%s=round(%s/10000,%d),"},
      {kMu, kSquareMetre, "%s=round(%s*2000/3,%d),"},
      {kMu, kHectare, "%s=round(%s/15,%d),"},
      {kHectare, kMu, "%s=round(%s*15,%d),"},
      {kHectare, kSquareMetre, "%s=round(%s*10000,%d),"},
  };
  for (const Conversion& conversion : kConversions) {
    if (conversion.from == from && conversion.to == to) return conversion.format;
  }
  return nullptr;
}

// The copies of one reserve table in the wanted units (square metres, mu,
// hectares, in that order), then "面积" of the target copies converted to
// 2 decimals. 0 at the first copy that failed, with no conversion.
short CopyToUnits(CStatContext& c, const char* base) {
  const std::pair<bool, short> units[] = {
      {c.m_bPm, kSquareMetre}, {c.m_bMu, kMu}, {c.m_bGq, kHectare}};
  for (const auto& [wanted, unit] : units) {
    if (wanted && c.CopyGdhbTable(c.GdhbUnitTable(unit, base), c.GdhbTable(base)) <= 0) return 0;
  }
  const std::vector<std::string> columns = {"面积"};
  c.ConvertUnitCopies(base, &columns, 2, 2);
  return 1;
}

}  // namespace

short CStatContext::CopyGdhbTable(const std::string& target, const std::string& source) {
  // The earlier copy goes only when the new one is complete.
  std::string statement;
  try {
    db::Transaction transaction(m_pConn);
    if (IsTableExist(target)) DropTable(target);
    statement = Dialect().CopyStructure(target, source);
    m_pConn.Execute(statement);
    statement = "insert into " + target + " select * from " + source;
    m_pConn.Execute(statement);
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

short CStatContext::ConvertUnitCopies(const std::string& base,
                                      const std::vector<std::string>* columns, short decimals1,
                                      short decimals2) {
  if (base.empty() || !columns || columns->empty()) return 0;
  // One statement per target unit other than the source; a unit named
  // twice takes the second target's decimals.
  std::map<short, std::string> statements;
  const std::pair<short, short> targets[] = {{m_nUnit1, decimals1}, {m_nUnit2, decimals2}};
  for (const auto& [unit, decimals] : targets) {
    const char* format = ConversionFormat(m_nUnitSrc, unit);
    if (!format) continue;
    std::string statement = "UPDATE " + GdhbUnitTable(unit, base) + " set ";
    for (const std::string& column : *columns) {
      statement += fmt::sprintf(format, column, column, decimals);
    }
    statement.pop_back();
    statements[unit] = std::move(statement);
  }
  for (short unit : {kHectare, kSquareMetre, kMu}) {
    const auto found = statements.find(unit);
    if (found == statements.end()) continue;
    try {
      m_pConn.Execute(found->second);
    } catch (const db::DbError&) {
      LogStatementFailure("转换耕地后备资源面积单位",
                          "转换 " + GdhbUnitTable(unit, base) + " 的面积单位失败", found->second);
      return 0;
    }
  }
  return 1;
}

}  // namespace landstat
