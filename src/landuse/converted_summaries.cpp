// The unit-less class summaries that the unit conversion rebuilds from the
// base tables in their new unit: TDLY_YJFL and NCTDLY_YJFL from statdataex,
// TDLY_EJFL and NCTDLY_EJFL from statdata, by location only.

#include <fmt/printf.h>

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

struct LevelText {
  const char* select;
  const char* group;
};

// Arguments: [total expression,] sum list, source; the unit level adds the
// county code.
const LevelText kPlainLevels[4] = {
    {" SELECT 县级代码,县名称,SUM(土地总面积), %s FROM %s ", "GROUP BY 县级代码,县名称"},
    {" SELECT 乡级代码,乡名称,SUM(土地总面积), %s FROM %s ", "GROUP BY 乡级代码,乡名称"},
    {" SELECT 村级代码,村名称,SUM(土地总面积), %s FROM %s ", "GROUP BY 村级代码,村名称"},
    {" SELECT 座落单位代码,座落单位名称,SUM(土地总面积), %s FROM %s where 座落单位代码 like "
     "'%s_____________'",
     "GROUP BY 座落单位代码,座落单位名称"}};
const LevelText kRuralLevels[4] = {
    {" SELECT 县级代码,县名称,%s, %s FROM %s ", "GROUP BY 县级代码,县名称"},
    {" SELECT 乡级代码,乡名称,%s, %s FROM %s ", "GROUP BY 乡级代码,乡名称"},
    {" SELECT 村级代码,村名称,%s, %s FROM %s ", "GROUP BY 村级代码,村名称"},
    {" SELECT 座落单位代码,座落单位名称,%s, %s FROM %s where 座落单位代码 like '%s_____________'",
     "GROUP BY 座落单位代码,座落单位名称"}};

}  // namespace

std::vector<std::string> CStatContext::ConvertedClassStatements(short kind, bool rural) {
  const std::string target =
      m_names.Plain(std::string(rural ? "NCTDLY_" : "TDLY_") + (kind == 1 ? "YJFL" : "EJFL"));
  const std::string source = ConvertedSource(kind == 1 ? "statdataex" : "statdata");
  const auto [sums, columns, total_sum] = ClassSumLists(kind, rural);
  const std::string head = "insert into " + target + "(XZQDM,XZQMC,XZQZMJ,";
  std::vector<std::string> statements;
  for (int level = 0; level < 4; ++level) {
    if (level == 3 && !m_bGroupLevel) break;
    const LevelText& text = rural ? kRuralLevels[level] : kPlainLevels[level];
    std::string select;
    if (rural) {
      select = level == 3 ? fmt::sprintf(text.select, total_sum, sums, source, m_strPrefix2)
                          : fmt::sprintf(text.select, total_sum, sums, source);
    } else {
      select = level == 3 ? fmt::sprintf(text.select, sums, source, m_strPrefix2)
                          : fmt::sprintf(text.select, sums, source);
    }
    statements.push_back(head + columns + select + text.group);
  }
  return statements;
}

short CStatContext::SumConvertedClass(short kind, bool rural) {
  if (kind != 1 && kind != 2) return 0;
  LevelPolicy policy;
  policy.title =
      rural ? "汇总农村土地利用现状一级分类面积表"
            : (kind == 1 ? "汇总土地利用现状一级分类面积" : "汇总土地利用现状二级分类面积");
  // The land-use rebuild stops at a failed village level and traces its
  // unit statement; the rural one goes on to the units.
  policy.stop_after_village = !rural;
  policy.trace_unit_statement = !rural;
  return RunLevelStatements(ConvertedClassStatements(kind, rural), policy);
}

short CStatContext::SumTdlyClassConverted(short kind) {
  return SumConvertedClass(kind, false);
}

short CStatContext::SumNcTdlyClassConverted(short kind) {
  return SumConvertedClass(kind, true);
}

}  // namespace landstat
