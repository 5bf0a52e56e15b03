// The farmland base table condensed into one copy per wanted area unit and
// into the ex table, and the target copies converted from the source unit.
// Both are set-based: one INSERT ... SELECT ... GROUP BY per copy and one
// UPDATE per converted copy; no farmland row is read into the program.

#include <array>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/host/progress.h"
#include "platform/host/row_lock_limit.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The farmland marks: the unit copies keep rows that differ in them apart,
// the ex table merges them.
const std::vector<std::string> kMarkColumns = {"是否补划", "地类备注", "调入备注"};
// The block, the administrative levels, ownership and cultivated-land type.
const std::vector<std::string> kPlaceColumns = {
    "保护片编号",   "省名称",       "省级代码",     "市名称",   "市级代码", "县名称",
    "县级代码",     "乡名称",       "乡级代码",     "村名称",   "村级代码", "座落单位名称",
    "座落单位代码", "权属单位名称", "权属单位代码", "权属性质", "耕地类型"};

constexpr char kCondenseTitle[] = "汇总基本农田基础数据";

// What tells the four condensing builders apart.
struct Condensation {
  std::string target;
  bool keeps_marks;     // the farmland marks among the group columns
  const char* message;  // the failure's log message
  bool checks_lock_limit;
  // The copy in the source unit is not converted: its sums are stored on
  // that unit's decimals. Below 0: stored as summed (a copy the conversion
  // rounds afterwards).
  int decimals = -1;
};

// A class column of the field list: its name begins with exactly "BM".
bool IsClassColumn(const std::string& field) {
  return field.compare(0, 2, "BM") == 0;
}

std::string Joined(const std::vector<std::string>& columns) {
  std::string text;
  for (const std::string& column : columns) text += (text.empty() ? "" : ",") + column;
  return text;
}

// INSERT ... SELECT ... GROUP BY of the group columns with "土地总面积" and
// every class column summed.
std::string CondensingInsert(const std::string& target, const std::string& source,
                             const std::vector<std::string>& groups,
                             const std::vector<std::string>& fields) {
  const std::string grouped = Joined(groups);
  std::string head = " insert into " + target + " (" + grouped + ",土地总面积";
  std::string select = "select " + grouped + ", sum(土地总面积)";
  for (const std::string& field : fields) {
    if (!IsClassColumn(field)) continue;
    head += "," + field;
    select += ",SUM(" + field + ") as " + field + " ";
  }
  return head + ") " + select + " from " + source + " group by " + grouped;
}

// The old file engine's lock limit after the square-metre copy is filled:
// a copy of more rows than the limit raises it to ten times the rows and
// 1000 and asks for the restart that puts it into force. 1 when nothing was
// needed or the machine restarts; -1 when the limit stays too low. A failed
// count throws.
short CheckRowLockLimit(CStatContext& context, const std::string& table) {
  const long rows = static_cast<long>(
      context.m_pConn.Scalar("select count(*) as nCount from " + table).AsInteger());
  long limit = 0;
  ReadMaxRow(limit);
  if (rows <= limit) return 1;
  host::RowLockLimit& host = host::CurrentRowLockLimit();
  host::LindoDlgEndProgress();
  if (ModifyMaxRow(10 * rows + 1000) != 1) {
    host.Tell("由于需要调平的行数超过了系统设定的范围，但程序修改注册表失败！", "提示");
  } else if (host.AskRestart()) {
    if (host.RestartMachine()) return 1;
    host.Tell("程序尝试重新启动您的计算机，但是由于系统的原因\r\n失败了，请退出程序，重启电脑！",
              "提示");
  }
  host::LindoDlgProgress("正在......");
  return -1;
}

// The condensation into `target`, the copy in `unit`.
Condensation UnitCopyStep(const CStatContext& context, const std::string& target, short unit) {
  const int decimals = unit == context.m_nUnitSrc ? context.m_nDecSrc : -1;
  if (unit == kSquareMetre) return {target, true, "statdata_jbntex", true, decimals};
  return {target, true, unit == kHectare ? "statdata_jbnt" : "statdata_jbntex", false, decimals};
}

// `source`: the farmland base table condensed (empty: the run's).
short Condense(CStatContext& context, const Condensation& step, std::string source = {}) {
  if (source.empty()) source = context.m_strJbntTbl;
  std::vector<std::string> groups = step.keeps_marks ? kMarkColumns : std::vector<std::string>{};
  groups.insert(groups.end(), kPlaceColumns.begin(), kPlaceColumns.end());
  try {
    if (context.m_pConn.Kind() == db::DbKind::kEmbedded && !context.m_bOracle) {
      // The embedded engine would sort every farmland row to group them:
      // they are grouped in one pass in memory, with the same sums, and
      // written in the order of the groups.
      db::GroupedSumsQuery query{source, {}, groups, {"土地总面积"}};
      query.decimals = step.decimals;
      for (const std::string& field : context.m_arrStatFields) {
        if (IsClassColumn(field)) query.sums.push_back(field);
      }
      db::GroupedSums(context.m_pConn, query).WriteTo(context.m_pConn, step.target, true);
    } else {
      context.m_pConn.Execute(context.Dialect().RoundSums(
          CondensingInsert(step.target, source, groups, context.m_arrStatFields), step.decimals));
    }
    if (step.checks_lock_limit && context.m_nDbMode == 0) {
      return CheckRowLockLimit(context, step.target);
    }
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kCondenseTitle, step.message, error);
    return 0;
  }
}

}  // namespace

short CStatContext::CondenseJbntRows(const std::string& source, const std::string& target,
                                     short unit) {
  return Condense(*this, UnitCopyStep(*this, target, unit), source);
}

short CStatContext::BuildJbntBaseDataPM() {
  return Condense(
      *this, UnitCopyStep(*this, m_names.UnitCopy(kSquareMetre, "statdata_jbnt"), kSquareMetre));
}

short CStatContext::BuildJbntBaseDataGQ() {
  return Condense(*this,
                  UnitCopyStep(*this, m_names.UnitCopy(kHectare, "statdata_jbnt"), kHectare));
}

short CStatContext::BuildJbntBaseDataMU() {
  return Condense(*this, UnitCopyStep(*this, m_names.UnitCopy(kMu, "statdata_jbnt"), kMu));
}

void CStatContext::BuildJbntBaseDataCopies() {
  // The copies hold the same rows until the target copies are converted:
  // on the embedded engine the first one made is condensed and the others
  // take its rows whole (SQLite moves them without decoding them). A server
  // condenses each as fast as it would copy it.
  const bool copy_rows = m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  std::string condensed;
  for (const auto& [unit, wanted] :
       {std::pair{kSquareMetre, m_bPm}, std::pair{kHectare, m_bGq}, std::pair{kMu, m_bMu}}) {
    if (!wanted) continue;
    const Condensation step = UnitCopyStep(*this, m_names.UnitCopy(unit, "statdata_jbnt"), unit);
    // The copy in the source unit holds rounded sums: the copies to be
    // converted take the sums as summed, from a copy condensed without it.
    if (condensed.empty() || !copy_rows || step.decimals >= 0) {
      // Rows stored also when the square-metre copy's row-limit check ends -1.
      if (Condense(*this, step) != 0 && step.decimals < 0) condensed = step.target;
      continue;
    }
    try {
      m_pConn.Execute("insert into " + step.target + " select * from " + condensed);
    } catch (const db::DbError& error) {
      LogFailure(kCondenseTitle, step.message, error);
    }
  }
}

short CStatContext::BuildJbntBaseDataEx() {
  return Condense(*this, {m_strJbntTbl + "ex", false, "statdata_jbntex", false});
}

short CStatContext::RebuildJbntExTable() {
  // The conversion rebuilds several farmland tables from the ex table: it
  // is made once, from the base table as it stands.
  if (m_bJbntExBuilt) return 1;
  if (CreateJbntExTable() == 0 || BuildJbntBaseDataEx() == 0) return 0;  // logged
  m_bJbntExBuilt = true;
  return 1;
}

std::vector<std::string> CStatContext::JbntConversionStatements(bool as_run,
                                                                const std::string& base) const {
  // As run on the embedded engine, 0 stays 0 and the other figures are
  // rounded by round() where it gives the same figure as the text form.
  const bool fast = as_run && m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  // By unit (hectare, mu, square metre); target 2 replaces target 1 when
  // both name the same unit.
  std::array<std::string, 3> statements;
  for (const auto& [unit, decimals] :
       {std::pair{m_nUnit1, m_nDec1}, std::pair{m_nUnit2, m_nDec2}}) {
    if (unit < kHectare || unit > kSquareMetre || unit == m_nUnitSrc) continue;
    const std::string factor = FactorText(m_nUnitSrc, unit);
    std::string statement = "UPDATE " + m_names.UnitCopy(unit, base) + " set ";
    for (const std::string& field : m_arrStatFields) {
      if (!IsClassColumn(field) && field != "土地总面积") continue;
      statement += field + "=" +
                   (fast ? units::ConvertedAreaSql(Dialect(), field, factor,
                                                   UnitFactor(m_nUnitSrc, unit), decimals)
                         : Dialect().Round(field + factor, decimals)) +
                   ",";
    }
    statement.pop_back();  // the last comma
    statements[unit] = statement;
  }
  std::vector<std::string> ordered;
  for (short unit : {kHectare, kSquareMetre, kMu}) {
    if (!statements[unit].empty()) ordered.push_back(statements[unit]);
  }
  return ordered;
}

short CStatContext::ConvertJbntUnits(const std::string& base) {
  for (const std::string& statement : JbntConversionStatements(true, base)) {
    try {
      m_pConn.Execute(statement);
    } catch (const db::DbError& error) {
      // The copies after this one stay in the source unit.
      const std::size_t name = std::string("UPDATE ").size();
      LogFailure("转换基本农田面积单位", statement.substr(name, statement.find(" set ") - name),
                 error);
      return 0;
    }
  }
  return 1;
}

}  // namespace landstat
