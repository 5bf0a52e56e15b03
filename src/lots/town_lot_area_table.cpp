// The town lot area summary CZZDMJHZ: one row per lot number with the sum
// of its rows' total lot area.

#include <fmt/printf.h>

#include "lots/town_summary_family.h"
#include "platform/db/db_error.h"

namespace landstat {
namespace {

// The grouping fed with the lot table's rows as it was written, when there
// is one, is written in the order of the lot numbers, as the embedded
// engine's statement writes its groups; else the statement groups.
short SumLotAreas(CZdStatContext& context, const std::string& target, const TownSources& sources) {
  try {
    const CZdStatContext::Groupings fed = context.TakeLotGroupings(kTownZdmjhz.base, sources);
    if (!fed.empty()) {
      fed.front()->WriteTo(context.m_pConn, target, {{"地籍号", "DJH"}, {"宗地总面积", "ZDMJ"}},
                           true);
      return 1;
    }
    context.m_pConn.Execute(context.Dialect().RoundSums(
        fmt::sprintf(
            "insert into %s(DJH,ZDMJ) select 地籍号,sum(宗地总面积) from %s group by 地籍号",
            target, sources.lots),
        sources.decimals));
    return 1;
  } catch (const db::DbError&) {
    context.LogFailure("城镇宗地面积汇总表", "汇总城镇宗地面积失败");
    return 0;
  }
}

}  // namespace

db::GroupedSumsQuery LotAreaGrouping(const TownSources& sources) {
  db::GroupedSumsQuery query{sources.lots, {}, {"地籍号"}, {"宗地总面积"}};
  query.decimals = sources.decimals;
  return query;
}

const TownSummary kTownZdmjhz{
    "CZZDMJHZ", "建立城镇宗地面积汇总表", "CZZDMJHZ",
    [](const CZdStatContext&) { return std::string("DJH varchar(60) ,ZDMJ double default 0.00"); },
    [](CZdStatContext& context, const std::string& target, const TownSources& sources) {
      return SumLotAreas(context, target, sources);
    }};

short CZdStatContext::CreateZdmjhzTables() {
  return CreateTownTables(kTownZdmjhz);
}
short CZdStatContext::CreateZdmjhzTable(const std::string& table) {
  return CreateTownTable(kTownZdmjhz, table);
}
short CZdStatContext::SumZdmjhz() {
  return SumTownTables(kTownZdmjhz);
}
short CZdStatContext::SumZdmjhzTable(const std::string& target, const std::string& source) {
  return SumLotAreas(*this, target, {source, {}});
}
short CZdStatContext::CreateZdmjhzTableDated() {
  return CreateTownTableDated(kTownZdmjhz);
}
short CZdStatContext::SumZdmjhzDated() {
  return SumTownTableDated(kTownZdmjhz);
}

}  // namespace landstat
