// The Inner Mongolia land-use ledger ZPMTDLYTZMG (one row per parcel number
// of each ownership and location unit, in square metres, with the names of
// its location's levels from QSDMB) and the ledger's second-level work table
// ZPMTDLY_EJFLTZMG, which the report output fills.

#include "mongolia/mg_stat_context.h"
#include "mongolia/mg_table_names.h"
#include "platform/db/db_error.h"

namespace landstat {

namespace {

constexpr const char* kLedgerTexts[] = {"省名称",
                                        "省级代码",
                                        "市名称",
                                        "市级代码",
                                        "县名称",
                                        "县级代码",
                                        "乡名称",
                                        "乡级代码",
                                        "村名称",
                                        "村级代码",
                                        "内蒙古权属单位名称",
                                        "内蒙古权属单位代码",
                                        "座落单位名称",
                                        "座落单位代码",
                                        "图斑编号",
                                        "土地总面积"};

// A level of the location code: its name and code columns and its length.
struct LedgerLevel {
  const char* name;
  const char* code;  // nullptr: the unit itself, whose code is the row's own
  int length;
};
constexpr LedgerLevel kLedgerLevels[] = {{"省名称", "省级代码", 2},  {"市名称", "市级代码", 4},
                                         {"县名称", "县级代码", 6},  {"乡名称", "乡级代码", 9},
                                         {"村名称", "村级代码", 12}, {"座落单位名称", nullptr, 19}};

// QSDMB's codes are filled up with "0" to nineteen characters.
constexpr int kPaddedCode = 19;

}  // namespace

short CMgStatContext::CreateTdlyTzTables() {
  if (!m_bPm) return 0;
  return CreateTdlyTzTable(MgLedgerTable(Names()));
}

short CMgStatContext::CreateTdlyTzTable(const std::string& table) {
  if (IsTableExist(table)) DropTable(table);
  if (m_arrClassCodes.empty()) return 0;
  std::string statement = "Create Table " + table + "(";
  for (const char* column : kLedgerTexts) statement += std::string(column) + " varchar(40),";
  for (std::size_t i = 0; i < m_arrClassCodes.size(); ++i) {
    statement += (i ? "," : "") + ("BM" + m_arrClassCodes[i]) + " double default 0.00";
  }
  try {
    m_pConn.Execute(Dialect().ApplyTypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("创建蒙古土地利用统计台帐", "创建蒙古土地利用统计台帐表失败", error);
    return 0;
  }
}

std::string CMgStatContext::GeneralRuralSecondLevelTable() const {
  // The general run names its tables with the year and county on a server.
  const bool server = m_pConn.IsOpen() && m_pConn.Kind() != db::DbKind::kEmbedded;
  return TableNames(server ? 1 : 0, m_strPrefix1, m_strPrefix2)
      .Summary('Z', kSquareMetre, "NCTDLY_EJFL");
}

short CMgStatContext::CreateTdlyEjflTzTable() {
  if (!m_bPm) return 0;
  return MakeTdlyEjflTzTable(MgLedgerWorkTable(Names()));
}

short CMgStatContext::MakeTdlyEjflTzTable(const std::string& table) {
  const std::string source = GeneralRuralSecondLevelTable();
  try {
    // Made anew: an earlier run's table is dropped first, also when this
    // run cannot make it again.
    if (IsTableExist(table)) m_pConn.Execute("drop table " + table);
    if (!IsTableExist(source)) {
      LogNotice(table, "没有表 " + source + " (尚未统计), 未生成");
      return 0;
    }
    m_pConn.Execute(Dialect().CopyStructure(table, source));
    m_pConn.Execute("ALTER TABLE " + table + " ADD COLUMN 图斑编号 int");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("创建蒙古土地利用台帐工作表", table + " 建立失败", error);
    return 0;
  }
}

short CMgStatContext::StatTdlyTz() {
  const bool filled = m_bPm && SumTdlyTz(MgLedgerTable(Names())) > 0;
  CompactWorkingCopy();
  return filled ? 1 : 0;
}

short CMgStatContext::SumTdlyTz(const std::string& table) {
  std::string targets, sums;
  for (std::size_t i = 0; i < m_arrClassCodes.size(); ++i) {
    targets += (i ? "," : "") + ("BM" + m_arrClassCodes[i]);
    sums += (i ? "," : "") + ("SUM(BM" + m_arrClassCodes[i] + ") ");
  }
  // The level codes are prefixes of the location code, set as the rows go
  // in rather than by an update of every row afterwards; they need no
  // QSDMB.
  std::string codes, prefixes;
  for (const LedgerLevel& level : kLedgerLevels) {
    if (!level.code) continue;
    codes += std::string(level.code) + ",";
    prefixes += Dialect().Left("座落单位代码", level.length) + ",";
  }
  // The total column is text: the sum goes in as its text.
  const std::string insert = Dialect().RoundSums(
      "insert into " + table + "(" + codes +
          "图斑编号,内蒙古权属单位代码,内蒙古权属单位名称,座落单位代码,土地总面积," + targets +
          ") SELECT " + prefixes + "图斑编号,内蒙古权属单位代码,内蒙古权属单位名称,座落单位代码," +
          "CAST(SUM(土地总面积) AS varchar(40)), " + sums + " FROM " + m_strStatTbl +
          " GROUP BY 内蒙古权属单位代码,内蒙古权属单位名称,座落单位代码,图斑编号",
      1);
  std::vector<std::string> statements = {insert};
  for (const LedgerLevel& level : kLedgerLevels) {
    // The level's row of QSDMB is the location code's prefix filled up with
    // zeros to nineteen characters: one comparison of whole codes, which
    // the database answers through an index of its own rather than a scan
    // of QSDMB for every ledger row.
    const int zeros = kPaddedCode - level.length;
    std::string condition = "QSDMB.QSDWDM=" + Dialect().Left(table + ".座落单位代码", level.length);
    if (zeros > 0) condition += "||'" + std::string(zeros, '0') + "'";
    statements.push_back(
        Dialect().MultiTableUpdate(table, "QSDMB", {{level.name, "QSDMB.QSDWMC"}}, condition));
  }
  for (const std::string& statement : statements) {
    try {
      m_pConn.Execute(statement);
    } catch (const db::DbError& error) {
      LogFailure("汇总蒙古土地利用台帐", "汇总蒙古土地利用台帐失败", error);
      return 0;
    }
  }
  return 1;
}

}  // namespace landstat
