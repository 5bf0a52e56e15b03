// The unit-less class summaries that the unit conversion rebuilds from the
// base tables in their new unit: TDLY_YJFL and NCTDLY_YJFL from statdataex,
// TDLY_EJFL and NCTDLY_EJFL from statdata, by location only.

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {

// The statements of the summaries by location, on the unit-less tables.
std::vector<std::string> CStatContext::ConvertedClassStatements(short kind, bool rural) {
  const std::string target =
      m_names.Plain(std::string(rural ? "NCTDLY_" : "TDLY_") + (kind == 1 ? "YJFL" : "EJFL"));
  const std::string source = ConvertedSource(kind == 1 ? "statdataex" : "statdata");
  return rural ? NcTdlyClassStatements(kind, source, target, 0)
               : TdlyClassStatements(kind, source, target, 0);
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
