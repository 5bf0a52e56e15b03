// The island land-use summaries of a rural run: NCHDTDLY_YJFL,
// NCHDTDLY_EJFL, HDTDLY_YJFL and HDTDLY_EJFL, summed over the base rows of
// island villages only.

#include <fmt/printf.h>

#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// Scope Z, scope Q on Access and the generic server, scope Q on Oracle.
const char* const kGroups[4][3] = {
    {" GROUP BY 县级代码,县名称", " GROUP BY left(权属单位代码,6)",
     " GROUP BY substr(权属单位代码,0,6)"},
    {" GROUP BY 乡级代码,乡名称", " GROUP BY left(权属单位代码,9)",
     " GROUP BY substr(权属单位代码,0,9)"},
    {" GROUP BY 村级代码,村名称", " GROUP BY left(权属单位代码,12)",
     " GROUP BY substr(权属单位代码,0,12)"},
    {" GROUP BY 座落单位代码,座落单位名称", " GROUP BY 权属单位代码", " GROUP BY 权属单位代码"}};

// Island villages from the district table. Arguments: sum list, source,
// district table; the unit level: sum list, source, county code, district.
const char* const kByDistrict[4][3] = {
    {" SELECT 县级代码,县名称,SUM(土地总面积), %s FROM %s  WHERE 村级代码 in (SELECT 行政区代码 "
     "FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码)",
     " SELECT left(权属单位代码,6),SUM(土地总面积), %s FROM %s  WHERE left(权属单位代码,12) in "
     "(SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码 )",
     " SELECT substr(权属单位代码,0,6),SUM(土地总面积), %s FROM %s WHERE substr(权属单位代码,0,12) "
     "in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码 )"},
    {" SELECT 乡级代码,乡名称,SUM(土地总面积), %s FROM %s  WHERE 村级代码 in (SELECT 行政区代码 "
     "FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码)",
     " SELECT left(权属单位代码,9),SUM(土地总面积), %s FROM %s  WHERE left(权属单位代码,12) in "
     "(SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码 )",
     " SELECT substr(权属单位代码,0,9),SUM(土地总面积), %s FROM %s WHERE substr(权属单位代码,0,12) "
     "in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码 )"},
    {" SELECT 村级代码,村名称,SUM(土地总面积), %s FROM %s  WHERE 村级代码 in (SELECT 行政区代码 "
     "FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码)",
     " SELECT left(权属单位代码,12),SUM(土地总面积), %s FROM %s  WHERE left(权属单位代码,12) in "
     "(SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY 行政区代码 )",
     " SELECT substr(权属单位代码,0,12),SUM(土地总面积), %s FROM %s WHERE "
     "substr(权属单位代码,0,12) in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY "
     "行政区代码 )"},
    {" SELECT 座落单位代码,座落单位名称,SUM(土地总面积), %s FROM %s  WHERE 座落单位代码  like "
     "%s  and 村级代码 in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY "
     "行政区代码)",
     " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s  WHERE 权属单位代码 like %s "
     "and left(权属单位代码,12) in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY "
     "行政区代码 )",
     " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  权属单位代码 like %s "
     "and substr(权属单位代码,0,12) in (SELECT 行政区代码 FROM %s WHERE 描述说明 = '01' GROUP BY "
     "行政区代码 )"}};

// Island rows marked in the base table's own 描述说明. Arguments: sum list,
// source; the unit level: sum list, source, county code.
const char* const kByRemark[4][3] = {
    {" SELECT 县级代码,县名称,SUM(土地总面积), %s FROM %s  WHERE 描述说明 = '01'",
     " SELECT left(权属单位代码,6),SUM(土地总面积), %s FROM %s  WHERE 描述说明 = '01' ",
     " SELECT substr(权属单位代码,0,6),SUM(土地总面积), %s FROM %s WHERE  描述说明 = '01'"},
    {" SELECT 乡级代码,乡名称,SUM(土地总面积), %s FROM %s  WHERE  描述说明 = '01'",
     " SELECT left(权属单位代码,9),SUM(土地总面积), %s FROM %s  WHERE  描述说明 = '01' ",
     " SELECT substr(权属单位代码,0,9),SUM(土地总面积), %s FROM %s WHERE  描述说明 = '01'"},
    {" SELECT 村级代码,村名称,SUM(土地总面积), %s FROM %s  WHERE 描述说明 = '01'",
     " SELECT left(权属单位代码,12),SUM(土地总面积), %s FROM %s  WHERE 描述说明 = '01' ",
     " SELECT substr(权属单位代码,0,12),SUM(土地总面积), %s FROM %s WHERE  描述说明 = '01' "},
    {" SELECT 座落单位代码,座落单位名称,SUM(土地总面积), %s FROM %s  WHERE 座落单位代码  like "
     "%s  and  描述说明 = '01' ",
     " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s  WHERE 权属单位代码 like %s "
     "and  描述说明 = '01'",
     " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  权属单位代码 like %s "
     "and 描述说明 = '01'"}};

struct IslandTable {
  const char* base;
  bool rural;
  bool first_level;
  const char* title;
  bool trace_every_level;
};

const IslandTable kNcHdYjfl{"NCHDTDLY_YJFL", true, true, "汇总农村土地利用现状海岛一级分类面积",
                            true};
const IslandTable kNcHdEjfl{"NCHDTDLY_EJFL", true, false, "汇总农村土地利用现状海岛二级分类面积",
                            false};
const IslandTable kHdYjfl{"HDTDLY_YJFL", false, true, "汇总土地利用现状海岛一级分类面积", true};
const IslandTable kHdEjfl{"HDTDLY_EJFL", false, false, "汇总土地利用现状海岛二级分类面积", false};

const IslandTable& TableOf(IslandTableKind kind) {
  static const IslandTable* const kTables[] = {&kNcHdYjfl, &kNcHdEjfl, &kHdYjfl, &kHdEjfl};
  return *kTables[static_cast<int>(kind)];
}

}  // namespace

std::vector<std::string> CStatContext::IslandStatements(IslandTableKind kind,
                                                        const std::string& source,
                                                        const std::string& target,
                                                        short scope) const {
  const IslandTable& table = TableOf(kind);
  const auto [sums, columns, total_sum, classes, row_total] =
      ClassSumLists(table.first_level ? 1 : 2, table.rural);
  const std::string head =
      "insert into " + target + (scope != 0 ? "(XZQDM,XZQZMJ," : "(XZQDM,XZQMC,XZQZMJ,");
  const std::string district = m_names.Plain("ZB_XZXQ");
  const int dialect = scope == 0 ? 0 : (m_bOracle ? 2 : 1);
  std::vector<std::string> statements;
  for (int level = 0; level < 4; ++level) {
    if (level == 3 && !m_bGroupLevel) break;
    const bool unit_level = level == 3;
    std::string select;
    if (m_bHasMssm) {
      select = unit_level ? fmt::sprintf(kByRemark[level][dialect], sums, source, GroupCodesLike())
                          : fmt::sprintf(kByRemark[level][dialect], sums, source);
    } else {
      select = unit_level ? fmt::sprintf(kByDistrict[level][dialect], sums, source,
                                         GroupCodesLike(), district)
                          : fmt::sprintf(kByDistrict[level][dialect], sums, source, district);
    }
    statements.push_back(head + columns + select + kGroups[level][dialect]);
  }
  return statements;
}

short CStatContext::SumIslandTable(IslandTableKind kind, const std::string& source,
                                   const std::string& target, short scope, int decimals) {
  const IslandTable& table = TableOf(kind);
  LevelPolicy policy;
  policy.title = table.title;
  policy.trace_failed_statements = table.trace_every_level;
  policy.trace_unit_statement = false;
  policy.decimals = decimals;
  if (RunLevelStatements(IslandStatements(kind, source, target, scope), policy) == 0) return 0;
  if (scope != 0) FillXzqNames(target, "XZQDM", "XZQMC");
  return 1;
}

short CStatContext::StatIslandTable(IslandTableKind kind) {
  ForEachSummaryTable(TableOf(kind).base, [&](const std::string& target, short scope, short unit) {
    SumIslandTable(kind, SummarySource(unit), target, scope, DecimalsOf(unit));
  });
  return 1;
}

short CStatContext::StatNcHdTdlyYjfl() {
  return StatIslandTable(IslandTableKind::kNcHdYjfl);
}
short CStatContext::StatNcHdTdlyEjfl() {
  return StatIslandTable(IslandTableKind::kNcHdEjfl);
}
short CStatContext::StatHdTdlyYjfl() {
  return StatIslandTable(IslandTableKind::kHdYjfl);
}
short CStatContext::StatHdTdlyEjfl() {
  return StatIslandTable(IslandTableKind::kHdEjfl);
}
short CStatContext::SumNcHdTdlyYjfl(const std::string& source, const std::string& target,
                                    short scope) {
  return SumIslandTable(IslandTableKind::kNcHdYjfl, source, target, scope);
}
short CStatContext::SumNcHdTdlyEjfl(const std::string& source, const std::string& target,
                                    short scope) {
  return SumIslandTable(IslandTableKind::kNcHdEjfl, source, target, scope);
}
short CStatContext::SumHdTdlyYjfl(const std::string& source, const std::string& target,
                                  short scope) {
  return SumIslandTable(IslandTableKind::kHdYjfl, source, target, scope);
}
short CStatContext::SumHdTdlyEjfl(const std::string& source, const std::string& target,
                                  short scope) {
  return SumIslandTable(IslandTableKind::kHdEjfl, source, target, scope);
}

}  // namespace landstat

namespace landstat::landuse {
namespace {

// The rural island tables take their villages from the district table
// ZB_XZXQ, unless the base table carries 描述说明: without either (a run
// without the district layer) they are not made, and the log says so.
std::function<short(C&)> WithDistrict(const char* base, short (C::*create)()) {
  return [base, create](C& c) -> short {
    if (c.m_bHasMssm || c.IsTableExist(c.Names().Plain("ZB_XZXQ"))) return (c.*create)();
    c.LogNotice(base, "没有行政辖区表, 不生成海岛统计表");
    return 0;
  };
}

}  // namespace

std::vector<TableFamily> IslandFamilies() {
  const auto create_first = [](C& c) { return c.CreateHdTdlyYjflTables(); };
  const auto create_second = [](C& c) { return c.CreateHdTdlyEjflTables(); };
  return {
      {.base = "NCHDTDLY_YJFL",
       .stage = 500,
       .builds = Rural,
       .create = WithDistrict("NCHDTDLY_YJFL", &C::CreateNcHdTdlyYjflTables),
       .fill = [](C& c) { c.StatNcHdTdlyYjfl(); },
       .progress = "正在汇总农村海岛土地利用数据"},
      {.base = "NCHDTDLY_EJFL",
       .stage = 510,
       .builds = Rural,
       .create = WithDistrict("NCHDTDLY_EJFL", &C::CreateNcHdTdlyEjflTables),
       .fill = [](C& c) { c.StatNcHdTdlyEjfl(); }},
      {.base = "HDTDLY_YJFL",
       .stage = 520,
       .builds = Rural,
       .create = WithDistrict("HDTDLY_YJFL", &C::CreateHdTdlyYjflTables),
       .fill = [](C& c) { c.StatHdTdlyYjfl(); },
       .progress = "正在汇总海岛土地利用数据"},
      {.base = "HDTDLY_EJFL",
       .stage = 530,
       .builds = Rural,
       .create = WithDistrict("HDTDLY_EJFL", &C::CreateHdTdlyEjflTables),
       .fill = [](C& c) { c.StatHdTdlyEjfl(); }},
      // The county batch sums its island tables like its class tables.
      {.base = "HDTDLY_YJFL",
       .stage = 50,
       .builds = CountyBatch,
       .create = create_first,
       .fill = [](C& c) { c.StatTdlyClass(3); }},
      {.base = "HDTDLY_EJFL",
       .stage = 60,
       .builds = CountyBatch,
       .create = create_second,
       .fill = [](C& c) { c.StatTdlyClass(4); }},
  };
}

}  // namespace landstat::landuse
