// The families of town summary tables, in the town-lot run's order: a
// create, then the fill when the create returned more than 0. The script
// tables have no create of their own.

#include "engine/table_family.h"
#include "lots/zd_stat_context.h"

namespace landstat {
namespace {

TableFamily Town(const char* base, int stage, const char* progress,
                 short (CZdStatContext::*create)(), short (CZdStatContext::*fill)()) {
  TableFamily family;
  family.base = base;
  family.stage = stage;
  family.progress = progress;
  family.town_create = [create](CZdStatContext& c) { return create ? (c.*create)() : short{1}; };
  family.town_fill = [fill](CZdStatContext& c) { return (c.*fill)(); };
  return family;
}

// The town-lot run's own stages as a family that the run never builds, so
// that the family list knows their tables too: the base table, its unit
// copies and the extension table of the unit conversion.
TableFamily TownRunTables() {
  TableFamily family;
  family.base = "statdata_czzd";
  family.builds = [](const RunVariant&) { return false; };
  family.step = true;
  family.town_create = [](CZdStatContext&) { return short{0}; };
  family.owns = [](const TableNames& names, short unit) -> std::vector<std::string> {
    if (unit != kNoUnit) return {};
    return {names.Plain("statdata_czzdex")};
  };
  return family;
}

const FamilyRegistration kTownFamilies({
    TownRunTables(),
    Town("CZTDLY_YJFLZD", 8, "正在汇总宗地土地利用数据", &CZdStatContext::CreateYjflzdTables,
         &CZdStatContext::SumYjflzd),
    Town("CZTDLY_EJFLZD", 9, nullptr, &CZdStatContext::CreateEjflzdTables,
         &CZdStatContext::SumEjflzd),
    Town("CZTDLY_SYQZD", 10, "正在汇总使用权类型", &CZdStatContext::CreateSyqzdTables,
         &CZdStatContext::SumSyqzd),
    Town("CZZDMJHZ", 11, "正在汇总城镇宗地", &CZdStatContext::CreateZdmjhzTables,
         &CZdStatContext::SumZdmjhz),
    Town("CZZD_TDYT", 12, nullptr, nullptr, &CZdStatContext::SumTdyt),
    Town("CZZD_JZMD", 13, nullptr, nullptr, &CZdStatContext::SumJzmd),
    Town("CZTDLY_QDDC", 14, "城镇土地利用强度调查表", &CZdStatContext::CreateQddcTables,
         &CZdStatContext::SumQddc),
    Town("CZFWXXTJ", 15, "房屋信息汇总表 ", &CZdStatContext::CreateFwxxtjTables,
         &CZdStatContext::SumFwxxtj),
});

}  // namespace
}  // namespace landstat
