// The farmland situation tables JBNTQKTJ: the farmland area of each land
// class by county, township, village and (when asked) 19-character unit,
// summed from the unit copies of the farmland base table, by location (Z)
// and by ownership (Q). Each level is one INSERT ... SELECT ... GROUP BY,
// so the rows never pass through the program.

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_text.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/copy_rows.h"

namespace landstat {
namespace {

// The 48 class columns summed, in the table's order (BM01 is summed into
// BM01HJ).
const std::vector<std::string> kClasses = {
    "BM01",  "BM011", "BM012", "BM013", "BM02",  "BM021", "BM022", "BM023", "BM03",  "BM031",
    "BM032", "BM033", "BM04",  "BM041", "BM042", "BM043", "BM10",  "BM101", "BM102", "BM103",
    "BM104", "BM105", "BM106", "BM107", "BM11",  "BM111", "BM112", "BM113", "BM114", "BM115",
    "BM116", "BM117", "BM118", "BM119", "BM12",  "BM121", "BM122", "BM123", "BM124", "BM125",
    "BM126", "BM127", "BM20",  "BM201", "BM202", "BM203", "BM204", "BM205"};

constexpr char kBase[] = "JBNTQKTJ";
constexpr char kCreateTitle[] = "建立基本农田情况统计表";
constexpr char kSumTitle[] = "汇总基本农田情况统计表";

// The code and name columns stored for each level by location (index 4
// county .. 1 unit).
struct LevelColumns {
  const char* code;
  const char* name;
};
constexpr LevelColumns kLocation[] = {{},
                                      {"座落单位代码", "座落单位名称"},
                                      {"村级代码", "村名称"},
                                      {"乡级代码", "乡名称"},
                                      {"县级代码", "县名称"}};
// The length of the ownership-code prefix at levels 2 to 4.
constexpr int kOwnerPrefix[] = {0, 0, 12, 9, 6};

// Drops and creates one table of the 52 columns; 0, logged, when the
// database refuses it.
short CreateSituationTable(CStatContext& context, const std::string& table) {
  if (context.IsTableExist(table)) context.DropTable(table);
  std::string statement = "Create Table " + table + "(XZQDM varchar(19),XZQMC varchar(60)";
  for (const char* column : {"ZHJ", "BM01HJ", "BM011", "BM012", "BM013", "QTHJ"}) {
    statement += std::string(",") + column + " double default 0.00";
  }
  for (std::size_t i = 4; i < kClasses.size(); ++i) {
    statement += "," + kClasses[i] + " double default 0.00";
  }
  try {
    context.m_pConn.Execute(context.TypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kCreateTitle, table + " 建立基本农田情况统计表失败", error);
    return 0;
  }
}

}  // namespace

short CStatContext::CreateJbntQktjTable(const std::string& table) {
  if (CreateSituationTable(*this, table) == 0) return 0;
  m_arrCreatedTbls.push_back(table);
  return 1;
}

short CStatContext::CreateJbntQktjTables() {
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (!WantsSummaryUnit(unit)) continue;
    for (char scope : {'Z', 'Q'}) {
      if (m_nStatScope != 2 && m_nStatScope != (scope == 'Z' ? 0 : 1)) continue;
      CreateJbntQktjTable(m_names.Summary(scope, unit, kBase));
    }
  }
  return 1;
}

short CStatContext::CreateJbntQktjConvertedTable() {
  // Only a database whose run built the farmland base table has farmland
  // tables to rebuild; the unit-less table is not among the run's tables.
  if (!IsTableExist(m_strJbntTbl)) return 0;
  return CreateSituationTable(*this, m_names.Plain(kBase));
}

namespace {

// What one level groups by, the code first (written as XZQDM, a name as
// XZQMC), and which rows it reads (a condition without WHERE; empty: every
// row). Under the Guangxi rule no row is left out by its transfer remark.
struct SituationLevel {
  std::vector<std::string> keys;
  std::string condition;
};

SituationLevel LevelGrouping(const CStatContext& context, const std::string& source, int level,
                             short scope, bool guangxi) {
  // The ex table has no transfer remark and is never filtered on it.
  const bool remark_filter =
      !guangxi && farmland::LeavesTransferredOut(context) && source != context.m_strJbntTbl + "ex";
  SituationLevel grouping;
  if (level == 1) {
    const char* code = scope == 0 ? kLocation[1].code : "权属单位代码";
    grouping.keys = {code};
    if (scope == 0) grouping.keys.push_back(kLocation[1].name);
    grouping.condition = std::string(code) + " like '" + context.m_strPrefix2 + "_____________'";
  } else if (scope == 0) {
    grouping.keys = {kLocation[level].code, kLocation[level].name};
  } else {
    grouping.keys = {context.Dialect().Left("权属单位代码", kOwnerPrefix[level])};
  }
  if (remark_filter) {
    grouping.condition +=
        (grouping.condition.empty() ? "" : " AND ") + std::string(farmland::kNotTransferredIn);
  }
  return grouping;
}

// The INSERT ... SELECT of one level. Under the Guangxi rule the
// adjustable land is left out of the seven Guangxi classes
// (kGuangxiAdjustableClasses).
std::string SituationStatement(const CStatContext& context, const std::string& target,
                               const std::string& source, int level, short scope, int decimals,
                               bool guangxi) {
  const SituationLevel grouping = LevelGrouping(context, source, level, scope, guangxi);
  const char* const aliases[] = {" AS XZQDM", " AS XZQMC"};
  std::string select;
  for (std::size_t i = 0; i < grouping.keys.size(); ++i) {
    select += (i ? "," : "") + grouping.keys[i] + aliases[i];
  }
  // The unit level writes "where", the others "WHERE".
  const std::string condition = grouping.condition.empty()
                                    ? std::string()
                                    : (level == 1 ? " where " : " WHERE ") + grouping.condition;
  std::string sums, columns, values;
  for (const std::string& column : kClasses) {
    const std::string value = guangxi ? farmland::GuangxiClassValue(context, column) : column;
    sums += ",COALESCE(SUM(" + value + "),0) AS " + column;
    columns += "," + (column == "BM01" ? std::string("BM01HJ") : column);
    values += "," + column;
  }
  const std::string names = scope == 0 ? "XZQDM,XZQMC" : "XZQDM";
  // The subtotals add rounded sums, and are rounded again.
  const auto total = [&](std::string sum) {
    return decimals < 0 ? sum : context.Dialect().Round("(" + sum + ")", decimals);
  };
  return "INSERT INTO " + target + " (" + names + columns + ",QTHJ,ZHJ) SELECT " + names + values +
         "," + total(farmland::SumOfColumns({&farmland::kOtherClasses})) + "," +
         total(farmland::SumOfColumns({&farmland::kCultivatedClasses, &farmland::kOtherClasses})) +
         " FROM (" +
         context.Dialect().RoundSums("select " + select + sums + " from " + source + condition +
                                         " GROUP BY " + db::JoinedColumns(grouping.keys),
                                     decimals) +
         ") tt";
}

// The levels written, county first: the unit level only when asked.
std::vector<int> SituationLevels(bool unit_level) {
  return unit_level ? std::vector<int>{4, 3, 2, 1} : std::vector<int>{4, 3, 2};
}

// The situation levels of both scopes of one unit, grouped in memory from
// one read of its summed copy `source`, by scope (0, 1) and level (in the
// order of SituationLevels). Each group's class sums are rounded to
// `decimals`, as the level statement rounds them.
using ScopeLevels = std::vector<std::unique_ptr<db::GroupedSums>>;
std::vector<ScopeLevels> ReadSituationLevels(CStatContext& context, const std::string& source,
                                             bool unit_level, int decimals) {
  std::vector<db::GroupedSumsQuery> queries;
  for (short scope : {short{0}, short{1}}) {
    for (int level : SituationLevels(unit_level)) {
      const SituationLevel grouping = LevelGrouping(context, source, level, scope, false);
      queries.push_back({source, grouping.condition, grouping.keys, kClasses, decimals});
    }
  }
  std::vector<std::unique_ptr<db::GroupedSums>> read =
      db::GroupedSums::ReadAll(context.m_pConn, queries);
  std::vector<ScopeLevels> levels(2);
  const std::size_t per_scope = read.size() / 2;
  for (std::size_t i = 0; i < read.size(); ++i) levels[i / per_scope].push_back(std::move(read[i]));
  return levels;
}

// The sum of the classes of `groups` in a row as the statement adds them (left to right)
// and rounds it (below 0 decimals: as added).
double SituationTotal(const std::vector<db::Value>& row, std::size_t first_sum,
                      const std::vector<const std::vector<std::string>*>& groups, int decimals) {
  double total = 0;
  bool first = true;
  for (const auto* group : groups) {
    for (const std::string& column : *group) {
      const std::size_t at = static_cast<std::size_t>(
          std::find(kClasses.begin(), kClasses.end(), column) - kClasses.begin());
      const double value = row[first_sum + at].AsDouble();
      total = first ? value : total + value;
      first = false;
    }
  }
  if (decimals < 0) return total;
  // As the embedded engine's Round form, val(format(total, picture)).
  const std::optional<double> rounded =
      text::LeadingNumber(text::FormatNumber(total, db::SqlDialect::RoundPicture(decimals)));
  if (!rounded) throw db::DbError("the total " + std::to_string(total) + " is out of range");
  return *rounded;
}

// Writes one table's levels from their groups, as the level statements
// would: the sums of a group without a value 0, the totals added from the
// rounded sums and rounded again. 0 after a logged failure.
short WriteSituationLevels(CStatContext& context, const std::string& target,
                           const ScopeLevels& levels, short scope, bool unit_level, int decimals) {
  std::vector<std::string> names = {"XZQDM"};
  if (scope == 0) names.push_back("XZQMC");
  const std::size_t first_sum = names.size();
  for (const std::string& column : kClasses) {
    names.push_back(column == "BM01" ? std::string("BM01HJ") : column);
  }
  names.push_back("QTHJ");
  names.push_back("ZHJ");
  const std::vector<int> order = SituationLevels(unit_level);
  std::size_t at = 0;
  try {
    db::RowWriter writer(context.m_pConn, target, names);
    for (; at < levels.size(); ++at) {
      levels[at]->VisitRows(levels[at]->Columns(), true, {}, [&](std::vector<db::Value>& values) {
        std::vector<db::Value> row = values;
        for (std::size_t i = first_sum; i < row.size(); ++i) {
          if (row[i].IsNull()) row[i] = db::Value(0);
        }
        row.emplace_back(SituationTotal(row, first_sum, {&farmland::kOtherClasses}, decimals));
        row.emplace_back(SituationTotal(
            row, first_sum, {&farmland::kCultivatedClasses, &farmland::kOtherClasses}, decimals));
        writer.Add(row);
      });
    }
    writer.Close();
    return 1;
  } catch (const db::DbError& error) {
    const int level = order[std::min(at, order.size() - 1)];
    context.LogFailure(kSumTitle, target + " " + kLevelMessages[4 - level], error);
    return 0;
  }
}

}  // namespace

std::string CStatContext::JbntQktjStatement(const std::string& target, const std::string& source,
                                            int level, short scope, int decimals) const {
  return SituationStatement(*this, target, source, level, scope, decimals, false);
}

std::string CStatContext::JbntQktjGxStatement(const std::string& target, const std::string& source,
                                              int level, int decimals) const {
  return SituationStatement(*this, target, source, level, 0, decimals, true);
}

short CStatContext::SumJbntQktj(const std::string& target, const std::string& source, int level,
                                short scope, int decimals) {
  const std::string statement = JbntQktjStatement(target, source, level, scope, decimals);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    LogFailure(kSumTitle, target + " " + kLevelMessages[4 - level], error);
    return 0;
  }
}

short CStatContext::SumJbntQktjLevels(const std::string& target, const std::string& source,
                                      bool unit_level, short scope, int decimals) {
  // The first level that fails ends the table.
  for (int level : {4, 3, 2}) {
    if (SumJbntQktj(target, source, level, scope, decimals) == 0) return 0;
  }
  return unit_level ? SumJbntQktj(target, source, 1, scope, decimals) : 1;
}

std::string CStatContext::JbntSummarySource(short unit) {
  // Every level of both scopes groups a farmland copy by level or unit
  // codes (and leaves out rows by the transfer remark): the copy summed
  // once by these gives the same groups and sums from a small table,
  // instead of a sort of the whole copy per level and scope. The copies of
  // every wanted unit are summed together, each by a processor of its own.
  const std::string copy = m_names.UnitCopy(unit, "statdata_jbnt");
  if (m_bOracle) return copy;  // its statements are text only
  std::vector<SummedRequest> requests;
  for (short other : {kSquareMetre, kHectare, kMu}) {
    if (other != unit && !WantsSummaryUnit(other)) continue;
    requests.push_back(JbntLevelSums(other));
  }
  PrepareSummedTables(requests);
  return PreparedOr(copy, copy);
}

CStatContext::SummedRequest CStatContext::JbntLevelSums(short unit) const {
  SummedRequest request = LevelSums(m_names.UnitCopy(unit, "statdata_jbnt"),
                                    "landstat_jbnt_levels_" + std::string(UnitPrefix(unit)));
  // The farmland copies have no 描述说明; their transfer remark is read.
  std::vector<std::string>& keys = request.query.keys;
  keys.erase(std::remove(keys.begin(), keys.end(), "描述说明"), keys.end());
  keys.push_back("调入备注");
  request.query.decimals = DecimalsOf(unit);
  return request;
}

std::vector<units::CopySumsRequest> CStatContext::JbntFedSumsRequests(short unit) const {
  if (m_bOracle || !WantsSummaryUnit(unit)) return {};
  SummedRequest request = JbntLevelSums(unit);
  return {{request.key, std::move(request.query), request.nonzero}};
}

short CStatContext::StatJbntQktj() {
  // Every Z table, then every Q table with its names from the code map.
  // On the embedded engine the levels of both scopes of a unit are grouped
  // in memory from one read of its summed copy (the engine would sort that
  // copy for each level and scope); its sums lie on the unit's grid, so
  // that their rounded totals do not hang on the order they are added in.
  std::vector<std::string> summed;
  std::map<short, std::vector<ScopeLevels>> grouped;
  ForEachSummaryTable(kBase, [&](const std::string& target, short scope, short unit) {
    const std::string copy = m_names.UnitCopy(unit, "statdata_jbnt");
    if (!IsTableExist(copy)) {
      LogFailure(kSumTitle, target + " 缺少基本农田基础数据表 " + copy);
      return;
    }
    const std::string source = JbntSummarySource(unit);
    if (source != copy) summed.push_back(copy);
    const int decimals = DecimalsOf(unit);
    if (source != copy && decimals >= 0 && m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle &&
        !grouped.count(unit)) {
      try {
        grouped[unit] = ReadSituationLevels(*this, source, m_bGroupLevel, decimals);
      } catch (const db::DbError& error) {
        LogNotice("汇总 " + source,
                  std::string("按级汇总未能在内存中完成, 逐级汇总 (") + error.what() + ")");
        grouped[unit].clear();
      }
    }
    const auto held = grouped.find(unit);
    if (held != grouped.end() && !held->second.empty()) {
      WriteSituationLevels(*this, target, held->second[scope], scope, m_bGroupLevel, decimals);
    } else {
      SumJbntQktjLevels(target, source, m_bGroupLevel, scope, decimals);
    }
    if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  });
  // Later stages may make the copies again: their sums are made anew when
  // read again.
  for (const std::string& copy : summed) m_mapSummarySources.erase(copy);
  return 1;
}

short CStatContext::StatJbntQktjConverted() {
  // The ex table: the farmland base table condensed without its marks, in
  // the unit the run stored it.
  if (RebuildJbntExTable() == 0) return 0;
  return SumJbntQktjLevels(m_names.Plain(kBase), m_strJbntTbl + "ex", m_bGroupLevel, 0);
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> SituationFamilies() {
  return {{.base = kBase,
           .stage = 2100,
           .builds = [](const RunVariant& run) { return run.Rural(); },
           .create =
               [](CStatContext& c) {
                 return c.m_nJbntBaseData > 0 ? c.CreateJbntQktjTables() : short{0};
               },
           .fill = [](CStatContext& c) { c.StatJbntQktj(); },
           .conversion =
               FamilyConversion{
                   .order = 200,
                   .progress = "正在转换基本农田情况统计表",
                   // Read from the farmland base table in the unit the run
                   // stored, then converted in place.
                   .from_extension = false,
                   .create = [](CStatContext& c) { return c.CreateJbntQktjConvertedTable(); },
                   .fill = [](CStatContext& c) { return c.StatJbntQktjConverted(); },
                   .balance_progress = "平差基本农田情况统计...",
                   // Balanced with the other farmland tables once every
                   // converted table is (CStatContext::BalanceJbntQktj).
                   .balance = [](CStatContext&, const std::string&) { return short{1}; }}}};
}

}  // namespace landstat::farmland
