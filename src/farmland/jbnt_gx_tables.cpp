// The Guangxi farmland tables: the situation tables JBNTQKTJGX (the layout
// of JBNTQKTJ, summed by location only), the all-class protection-block
// tables JBNTNEWBHKQKTJGX and the supplementary-designation tables
// JBNTBHMJGX. Their statements are those of the general tables under the
// Guangxi rule (farmland_rules.h); JBNTBHMJGX is one of the area tables
// made from SQL text (jbnt_area_tables.cpp), dropped before it is made, so
// that a second run replaces it instead of failing on it and keeping the
// first run's figures.

#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr char kSituationBase[] = "JBNTQKTJGX";
constexpr char kBlockBase[] = "JBNTNEWBHKQKTJGX";
constexpr char kSumTitle[] = "汇总广西基本农田情况统计表";

// The copy of the farmland base table a table of `unit` is summed from.
std::string SourceOf(const CStatContext& context, short unit) {
  return context.Names().UnitCopy(unit, "statdata_jbnt");
}

}  // namespace

short CStatContext::CreateJbntQktjGxTables() {
  ForEachSummaryTable(kSituationBase,
                      [&](const std::string& table, short, short) { CreateJbntQktjTable(table); });
  return 1;
}

short CStatContext::StatJbntQktjGx() {
  // There is no statement by ownership: the Q tables keep no rows, and
  // their names are filled in for the rows they would have.
  ForEachSummaryTable(kSituationBase, [&](const std::string& target, short scope, short unit) {
    SumJbntQktjGxLevels(target, SourceOf(*this, unit), m_bGroupLevel, scope, DecimalsOf(unit));
    if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  });
  return 1;
}

short CStatContext::SumJbntQktjGxLevels(const std::string& target, const std::string& source,
                                        bool unit_level, short scope, int decimals) {
  // The first level that fails ends the table.
  for (int level : {4, 3, 2}) {
    if (SumJbntQktjGx(target, source, level, scope, decimals) == 0) return 0;
  }
  return unit_level ? SumJbntQktjGx(target, source, 1, scope, decimals) : 1;
}

short CStatContext::SumJbntQktjGx(const std::string& target, const std::string& source, int level,
                                  short scope, int decimals) {
  if (scope != 0) return 0;
  const std::string statement = JbntQktjGxStatement(target, source, level, decimals);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    // Traced as the general tables' levels are, and logged and counted.
    host::yDebugStr(statement);
    LogFailure(kSumTitle, target + " " + kLevelMessages[4 - level] + " (" + source + ")", error);
    return 0;
  }
}

// The protection-block tables are by location whatever the scope.
short CStatContext::CreateJbntNewBhkQktjGxTables() {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (WantsSummaryUnit(unit)) CreateJbntNewBhkQktjTable(m_names.Summary('Z', unit, kBlockBase));
  }
  return 1;
}

short CStatContext::StatJbntNewBhkQktjGx() {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!WantsSummaryUnit(unit)) continue;
    SumJbntNewBhkQktjGx(m_names.Summary('Z', unit, kBlockBase), SourceOf(*this, unit),
                        DecimalsOf(unit));
  }
  return 1;
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> GuangxiFamilies() {
  // After the general farmland tables, only when the farmland base data
  // were built.
  const auto guangxi = [](const RunVariant& run) { return run.Rural() && run.Has("广西"); };
  return {
      {.base = kSituationBase,
       .stage = 2600,
       .builds = guangxi,
       .create =
           [](CStatContext& c) {
             return c.m_nJbntBaseData > 0 ? c.CreateJbntQktjGxTables() : short{0};
           },
       .fill = [](CStatContext& c) { c.StatJbntQktjGx(); },
       .progress = "正在汇总广西基本农田情况统计表"},
      {.base = kBlockBase,
       .stage = 2610,
       .builds = guangxi,
       .create =
           [](CStatContext& c) {
             return c.m_nJbntBaseData > 0 ? c.CreateJbntNewBhkQktjGxTables() : short{0};
           },
       .fill = [](CStatContext& c) { c.StatJbntNewBhkQktjGx(); }},
      {.base = "JBNTBHMJGX",
       .stage = 2620,
       .builds = guangxi,
       .create = [](CStatContext& c) -> short { return c.m_nJbntBaseData > 0 ? 1 : 0; },
       .fill = [](CStatContext& c) { c.StatJbntBhmjGx(); }},
  };
}

}  // namespace landstat::farmland
