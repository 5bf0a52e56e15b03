// The farmland situation tables JBNTQKTJ: the farmland area of each land
// class by county, township, village and (when asked) 19-character unit,
// summed from the unit copies of the farmland base table, by location (Z)
// and by ownership (Q). Each level is one INSERT ... SELECT ... GROUP BY,
// so the rows never pass through the program.

#include <algorithm>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
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

// The INSERT ... SELECT of one level. Under the Guangxi rule no row is
// left out by its transfer remark and the adjustable land is left out of
// the seven Guangxi classes (kGuangxiAdjustableClasses).
std::string SituationStatement(const CStatContext& context, const std::string& target,
                               const std::string& source, int level, short scope, int decimals,
                               bool guangxi) {
  // The ex table has no transfer remark and is never filtered on it.
  const bool remark_filter =
      !guangxi && farmland::LeavesTransferredOut(context) && source != context.m_strJbntTbl + "ex";
  const std::string kept = farmland::kNotTransferredIn;
  std::string select, group, condition;
  if (level == 1) {
    const char* code = scope == 0 ? kLocation[1].code : "权属单位代码";
    condition = " where " + std::string(code) + " like '" + context.m_strPrefix2 + "_____________'";
    if (remark_filter) condition += " AND " + kept;
    group = scope == 0 ? std::string(code) + "," + kLocation[1].name : code;
    select = scope == 0 ? std::string(code) + " AS XZQDM," + kLocation[1].name + " AS XZQMC"
                        : std::string(code) + " AS XZQDM";
  } else {
    if (remark_filter) condition = " WHERE " + kept;
    if (scope == 0) {
      group = std::string(kLocation[level].code) + "," + kLocation[level].name;
      select =
          std::string(kLocation[level].code) + " AS XZQDM," + kLocation[level].name + " AS XZQMC";
    } else {
      group = context.Dialect().Left("权属单位代码", kOwnerPrefix[level]);
      select = group + " AS XZQDM";
    }
  }
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
         context.Dialect().RoundSums(
             "select " + select + sums + " from " + source + condition + " GROUP BY " + group,
             decimals) +
         ") tt";
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
  std::vector<std::string> summed;
  ForEachSummaryTable(kBase, [&](const std::string& target, short scope, short unit) {
    const std::string copy = m_names.UnitCopy(unit, "statdata_jbnt");
    if (!IsTableExist(copy)) {
      LogFailure(kSumTitle, target + " 缺少基本农田基础数据表 " + copy);
      return;
    }
    const std::string source = JbntSummarySource(unit);
    if (source != copy) summed.push_back(copy);
    SumJbntQktjLevels(target, source, m_bGroupLevel, scope, DecimalsOf(unit));
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
