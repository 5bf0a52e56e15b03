// The per-unit copies of the Inner Mongolia base table: PMstatdataMG,
// MUstatdataMG, GQstatdataMG, one row per group of the fifteen hierarchy and
// ownership columns, converted from unit 1 into their own unit.

#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "units/unit_conversion.h"

namespace landstat {

namespace {

std::string GroupList() {
  std::string list;
  for (const std::string& column : kMgGroupColumns) list += (list.empty() ? "" : ",") + column;
  return list;
}

// The most assignments one conversion statement holds.
constexpr std::size_t kAssignmentsPerStatement = 50;

// The wanted units in the order the copies are made and filled.
constexpr short kCopyOrder[] = {kSquareMetre, kMu, kHectare};
// And converted.
constexpr short kConversionOrder[] = {kHectare, kSquareMetre, kMu};

}  // namespace

short CMgStatContext::CreateUnitStatTables() {
  for (short unit : kCopyOrder) {
    if (Wants(unit) && CreateUnitStatTable(unit) <= 0) return 0;
  }
  return 1;
}

short CMgStatContext::CreateUnitStatTable(short unit) {
  const std::string table = UnitCopyTable(unit);
  if (IsTableExist(table)) DropTable(table);
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    if (i > 0) statement += ",";
    statement +=
        m_arrStatFields[i] + (i < kMgTextColumns ? " varchar(40)" : " double default 0.00");
  }
  statement = Dialect().ApplyTypeWords(statement + ")");
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古扩展基础数据", table + " 建立失败", error);
    return 0;
  }
}

short CMgStatContext::FillUnitStatTables() {
  // The base rows are grouped once; the other copies start as copies of
  // the first one's rows, which are the same sums.
  short grouped = kNoUnit;
  for (short unit : kCopyOrder) {
    if (!Wants(unit)) continue;
    if (grouped == kNoUnit) {
      if (FillUnitStatTable(unit) <= 0) return 0;
      grouped = unit;
      continue;
    }
    try {
      m_pConn.Execute("insert into " + UnitCopyTable(unit) + " select * from " +
                      UnitCopyTable(grouped));
    } catch (const db::DbError& error) {
      LogFailure("汇总内蒙古扩展基础数据", UnitCopyTable(unit) + " 汇总失败", error);
      return 0;
    }
  }
  host::yDebugTime("内蒙古扩展基础数据 汇总");
  if (ConvertUnitStatTables() <= 0) return 0;
  host::yDebugTime("内蒙古扩展基础数据 转换");
  const short balanced = BalanceStatData();
  host::yDebugTime("内蒙古扩展基础数据 平差");
  return balanced;
}

short CMgStatContext::FillUnitStatTable(short unit) {
  const std::string groups = GroupList();
  std::string columns = groups + ",土地总面积";
  std::string sums = groups + ", sum(土地总面积)";
  for (const std::string& column : m_arrStatFields) {
    if (column.compare(0, 2, "BM") != 0) continue;
    columns += "," + column;
    sums += ",SUM(" + column + ") as " + column + " ";
  }
  // The base rows stand on the grid of one decimal: their sums are stored
  // on it, whatever order the database added them in.
  const std::string statement =
      Dialect().RoundSums(" insert into " + UnitCopyTable(unit) + " (" + columns + ") select " +
                              sums + " from " + m_strStatTbl + " group by  " + groups,
                          1);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    LogFailure("汇总内蒙古扩展基础数据", UnitCopyTable(unit) + " 汇总失败", error);
    return 0;
  }
}

std::vector<std::string> CMgStatContext::ConvertStatements(short unit, short decimals) const {
  std::vector<std::string> statements;
  const std::string factor = FactorText(m_nUnit1, unit);
  if (factor.empty()) return statements;
  std::vector<std::string> columns = {"土地总面积"};
  for (const std::string& column : m_arrStatFields) {
    if (column.compare(0, 2, "BM") == 0) columns.push_back(column);
  }
  const std::string head = "UPDATE " + UnitCopyTable(unit) + " set ";
  for (std::size_t first = 0; first < columns.size(); first += kAssignmentsPerStatement) {
    std::string statement = head;
    const std::size_t end = std::min(columns.size(), first + kAssignmentsPerStatement);
    for (std::size_t i = first; i < end; ++i) {
      statement += (i > first ? "," : "") + columns[i] + "=" +
                   Dialect().Round(columns[i] + factor, decimals);
    }
    statements.push_back(std::move(statement));
  }
  return statements;
}

short CMgStatContext::ConvertUnitStatTables() {
  for (short unit : kConversionOrder) {
    for (const UnitSlot& slot : ConfiguredUnits()) {
      if (slot.unit != unit || unit == m_nUnit1) continue;
      for (const std::string& statement : ConvertStatements(unit, slot.decimals)) {
        try {
          m_pConn.Execute(statement);
        } catch (const db::DbError& error) {
          LogFailure("转换内蒙古扩展基础数据", UnitCopyTable(unit) + " 转换失败", error);
          return 0;
        }
      }
    }
  }
  return 1;
}

}  // namespace landstat
