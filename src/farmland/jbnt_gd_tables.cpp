// The Guangdong farmland tables, under "广东农村": the adjustable farmland
// (JBNTKTZGD) and the farmland situation (JBNTQKTJGD) before supplementing,
// from the Guangdong base data without the supplementary farmland, and the
// same two after supplementing (JBNTKTZGDBHH, JBNTQKTJGDBHH), made by the
// general farmland summaries from the general farmland copies. Their
// families follow the "duda" area tables.

#include <fmt/printf.h>

#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "platform/db/db_error.h"
#include "platform/host/ini_file.h"
#include "platform/host/trace.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

constexpr char kGdBase[] = "statdata_jbntGD";
constexpr char kKtzGd[] = "JBNTKTZGD";
constexpr char kQktjGd[] = "JBNTQKTJGD";
constexpr char kKtzGdBhh[] = "JBNTKTZGDBHH";
constexpr char kQktjGdBhh[] = "JBNTQKTJGDBHH";

constexpr char kKtzTitle[] = "汇总广东可调整地";
constexpr char kAdjustable[] = "(地类备注 LIKE 'K' OR 地类备注 LIKE 'k')";
// The pieces that are not supplementary farmland. A NULL mark counts, on
// every database (Oracle's empty text is NULL, so there too an unmarked
// piece counts).
constexpr char kNotSupplemented[] = "(是否补划<>'Y' and 是否补划<>'y' or 是否补划 is null)";

// The class lists of the adjustable table, in code-table order.
struct KLists {
  std::string base_sums;  // SUM(BM011) ,SUM(BM012) ...
  std::string k_sums;     // SUM(BM011K) ...
  std::string columns;    // BM011K,BM012K ...)
  std::vector<std::string> k_columns;
  std::vector<std::string> three_character;  // the K columns of three-character codes
};

KLists KListsOf(const std::vector<std::string>& codes) {
  KLists lists;
  for (const std::string& code : codes) {
    const char* comma = lists.k_columns.empty() ? "" : ",";
    lists.base_sums += comma + ("SUM(BM" + code + ") ");
    lists.k_sums += comma + ("SUM(BM" + code + "K) ");
    lists.k_columns.push_back("BM" + code + "K");
    lists.columns += comma + lists.k_columns.back();
    if (code.size() == 3) lists.three_character.push_back(lists.k_columns.back());
  }
  lists.columns += ")";
  return lists;
}

// The unit copy `source` limited to the pieces that are not supplementary
// farmland, as a table expression.
std::string NotSupplemented(const std::string& source) {
  return "(select * from " + source + " where " + kNotSupplemented + ") gd";
}

}  // namespace

// --- JBNTKTZGD ---

short CStatContext::CreateJbntKtzGdTables() {
  for (const std::string& name : SummaryCopies(kKtzGd, false)) CreateJbntKtzTable(name);
  return 1;
}

short CStatContext::StatJbntKtzGd() {
  ForEachSummaryTable(kKtzGd, [&](const std::string& target, short scope, short unit) {
    SumJbntKtzGd(target, scope, unit, DecimalsOf(unit));
  });
  return 1;
}

short CStatContext::SumJbntKtzGd(const std::string& table, short scope, short unit,
                                 short decimals) {
  const KLists lists = KListsOf(m_arrClassCodes);
  const std::string head = "insert into " + table + "(XZQDM,XZQZMJ," + lists.columns;
  const std::string source = m_strJbntTbl + "GD";
  const std::string where = std::string(kAdjustable) + " and " + kNotSupplemented;

  // Villages of the pieces, by location or by the owner's first 12
  // characters; a failure leaves the village rows out and goes on.
  const std::string village = scope == 0 ? "村级代码" : Dialect().Left("权属单位代码", 12);
  RunLoggedStatement(
      head + fmt::sprintf(" SELECT %s,SUM(土地总面积), %s FROM %s WHERE %s GROUP BY %s", village,
                          lists.base_sums, source, where, village),
      kKtzTitle, "汇总广东村级数据失败", true);

  // The county's village groups, never summed upwards; a failure ends the
  // table.
  if (m_bGroupLevel) {
    const char* code = scope == 0 ? "座落单位代码" : "权属单位代码";
    if (!RunLoggedStatement(
            head + fmt::sprintf(" SELECT %s,SUM(土地总面积), %s FROM %s WHERE %s LIKE %s AND %s "
                                "GROUP BY %s",
                                code, lists.base_sums, source, code, GroupCodesLike(), where, code),
            "汇总广东基本农田可调整地", "汇总广东村民小组基本农田数据失败", true)) {
      return 0;
    }
  }

  // The sums of the source unit, in the table's own unit on its decimals:
  // the factor between the two (none when they agree), the decimals of the
  // table's unit. The table in the source unit keeps its sums as summed,
  // only their binary tails cut.
  const char* factor = FactorText(m_nUnitSrc, unit);
  const int stored = *factor ? decimals : kSummedDecimals;
  const bool converted = *factor ? ConvertFldValue(m_pConn, m_bOracle ? 2 : 1, table,
                                                   lists.k_columns, factor, decimals) != 0
                                 : RoundAreaColumns(m_pConn, table, stored) != 0;
  if (!converted) LogFailure(kKtzTitle, table + " 面积单位转换失败");
  // The total of a row is the sum of its three-character classes.
  if (!lists.three_character.empty() &&
      SetSumFldValue(m_pConn, table, "XZQZMJ", lists.three_character, Dialect(), stored) == 0) {
    LogFailure(kKtzTitle, table + " 汇总XZQZMJ失败");
  }
  // The converted unit rows add up to their village, as the villages to
  // their township.
  if (*factor && m_bGroupLevel) {
    std::vector<ColumnSum> sums;
    if (!lists.three_character.empty()) sums.emplace_back("XZQZMJ", lists.three_character);
    BalanceUnitRows(table, lists.k_columns, sums, decimals);
  }

  // Townships from the converted village rows as stored, the county from
  // the townships: each is the sum of the rows below it.
  RunLoggedStatement(LevelRollUp(head, lists.k_sums, table, 9, stored), kKtzTitle,
                     "汇总广东乡级数据失败", true);
  RunLoggedStatement(LevelRollUp(head, lists.k_sums, table, 6, stored), kKtzTitle,
                     "汇总广东县级数据失败", true);
  FillXzqNames(table, "XZQDM", "XZQMC");
  return 1;
}

// --- JBNTQKTJGD ---

short CStatContext::CreateJbntQktjGdTables() {
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (!WantsSummaryUnit(unit)) continue;
    for (char scope : {'Z', 'Q'}) {
      if (m_nStatScope != 2 && m_nStatScope != (scope == 'Z' ? 0 : 1)) continue;
      CreateJbntQktjGdTable(m_names.Summary(scope, unit, kQktjGd));
    }
  }
  return 1;
}

short CStatContext::CreateJbntQktjGdTable(const std::string& name) {
  return CreateJbntQktjTable(name);  // the layout of the general situation table
}

short CStatContext::StatJbntQktjGd() {
  ForEachSummaryTable(kQktjGd, [&](const std::string& target, short scope, short unit) {
    const std::string source = m_names.UnitCopy(unit, kGdBase);
    if (!IsTableExist(source)) {
      LogFailure("汇总广东基本农田情况统计表", target + " 缺少广东基本农田基础数据表 " + source);
      return;
    }
    SumJbntQktjGdLevels(target, source, m_bGroupLevel, scope, DecimalsOf(unit));
    if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  });
  return 1;
}

short CStatContext::SumJbntQktjGdLevels(const std::string& target, const std::string& source,
                                        bool unit_level, short scope, int decimals) {
  // The first level that fails ends the table.
  for (int level : {4, 3, 2}) {
    if (SumJbntQktjGd(target, source, level, scope, decimals) == 0) return 0;
  }
  return unit_level ? SumJbntQktjGd(target, source, 1, scope, decimals) : 1;
}

short CStatContext::SumJbntQktjGd(const std::string& target, const std::string& source, int level,
                                  short scope, int decimals) {
  // The level statement of the general situation table, on the pieces that
  // are not supplementary farmland.
  const std::string statement =
      JbntQktjStatement(target, NotSupplemented(source), level, scope, decimals);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    // The statement is kept for whoever looks into it, in the folder of
    // failed statements, in a profile named after the table.
    host::yDebugStr(statement);
    host::_ZRK_WriteProfileString("输入SQL", "SQL", statement, "ERROR_StatSQL/" + target + ".ini");
    LogFailure("汇总广东基本农田情况统计表", target + " " + kLevelMessages[4 - level], error);
    return 0;
  }
}

// --- after supplementing: the general summaries on the general copies ---

short CStatContext::CreateJbntKtzGdBhhTables() {
  for (const std::string& name : SummaryCopies(kKtzGdBhh, false)) CreateJbntKtzTable(name);
  return 1;
}

short CStatContext::StatJbntKtzGdBhh() {
  ForEachSummaryTable(kKtzGdBhh, [&](const std::string& target, short scope, short unit) {
    SumJbntKtz(target, scope, m_names.UnitCopy(unit, "statdata_jbnt"), DecimalsOf(unit));
  });
  return 1;
}

short CStatContext::CreateJbntQktjGdBhhTables() {
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (!WantsSummaryUnit(unit)) continue;
    for (char scope : {'Z', 'Q'}) {
      if (m_nStatScope != 2 && m_nStatScope != (scope == 'Z' ? 0 : 1)) continue;
      CreateJbntQktjTable(m_names.Summary(scope, unit, kQktjGdBhh));
    }
  }
  return 1;
}

short CStatContext::StatJbntQktjGdBhh() {
  ForEachSummaryTable(kQktjGdBhh, [&](const std::string& target, short scope, short unit) {
    SumJbntQktjLevels(target, m_names.UnitCopy(unit, "statdata_jbnt"), m_bGroupLevel, scope,
                      DecimalsOf(unit));
    if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  });
  return 1;
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> GuangdongFamilies() {
  const auto guangdong = [](const RunVariant& run) { return run.Rural() && run.Has("广东"); };
  // Each table only when its source was built: the Guangdong base data
  // before supplementing, the general farmland base data after it. So a
  // failed base stage is one logged failure, not one per table.
  const auto gd_built = [](const CStatContext& c) { return c.m_nJbntGdBaseData > 0; };
  const auto both_built = [](const CStatContext& c) {
    return c.m_nJbntGdBaseData > 0 && c.m_nJbntBaseData > 0;
  };
  return {
      {.base = kGdBase,
       .stage = 3500,
       .builds = guangdong,
       .create = [](CStatContext& c) { return c.CreateJbntStatTableGd(); },
       .fill = [](CStatContext& c) { c.StatJbntBaseDataGd(); },
       .progress = "汇总广东基本农田可调整表",
       .step = true},
      {.base = kKtzGd,
       .stage = 3510,
       .builds = guangdong,
       .create =
           [=](CStatContext& c) { return gd_built(c) ? c.CreateJbntKtzGdTables() : short{0}; },
       .fill = [](CStatContext& c) { c.StatJbntKtzGd(); }},
      {.base = kQktjGd,
       .stage = 3520,
       .builds = guangdong,
       .create =
           [=](CStatContext& c) { return gd_built(c) ? c.CreateJbntQktjGdTables() : short{0}; },
       .fill = [](CStatContext& c) { c.StatJbntQktjGd(); }},
      {.base = kKtzGdBhh,
       .stage = 3530,
       .builds = guangdong,
       .create =
           [=](CStatContext& c) { return both_built(c) ? c.CreateJbntKtzGdBhhTables() : short{0}; },
       .fill = [](CStatContext& c) { c.StatJbntKtzGdBhh(); }},
      {.base = kQktjGdBhh,
       .stage = 3540,
       .builds = guangdong,
       .create =
           [=](CStatContext& c) {
             return both_built(c) ? c.CreateJbntQktjGdBhhTables() : short{0};
           },
       .fill = [](CStatContext& c) { c.StatJbntQktjGdBhh(); }},
  };
}

}  // namespace landstat::farmland
