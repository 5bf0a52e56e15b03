// The families of town summary tables, in the town-lot run's order: a
// create, then the fill when the create returned more than 0. The script
// tables have no create of their own.

#include "engine/field_needs.h"
#include "engine/table_family.h"
#include "lots/zd_stat_context.h"

namespace landstat {
namespace {

// The building-density table sums each lot's floor-area ratio, density and
// building footprint; the use-right table spreads the lots over their
// types; the house table lists each house with its number, name, structure
// and storeys. The location, ownership nature and grade of a lot are
// columns of the base table and its unit copies alone.
const std::vector<FieldNeed> kLotNeeds = {
    {"使用权类型", {"CZTDLY_SYQZD"}},
    {"占地面积", {"CZZD_JZMD"}},
    {"建筑容积率", {"CZZD_JZMD"}},
    {"建筑密度", {"CZZD_JZMD"}},
    {"土地座落", {}},
    {"权属性质", {}},
    {"土地级别", {}},
};
const std::vector<FieldNeed> kHouseNeeds = {
    {"房屋编号", {"CZFWXXTJ"}},
    {"房屋名称", {"CZFWXXTJ"}},
    {"房屋结构", {"CZFWXXTJ"}},
    {"房屋层数", {"CZFWXXTJ"}},
};

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

std::span<const FieldNeed> TownFieldNeeds(TownWalk walk) {
  return walk == TownWalk::kLots ? kLotNeeds : kHouseNeeds;
}

void CZdStatContext::LeaveOutTablesWithout(LayerChecks& checks, std::span<const FieldNeed> needs) {
  std::set<std::string> run;
  for (const TableFamily* family : TownFamiliesInStageOrder()) {
    if (!family->builds || family->builds(RunVariant{})) run.insert(family->base);
  }
  for (const FieldNeed* need : checks.Lacking(needs)) {
    if (need->tables.empty()) {
      LogNotice("图层 " + checks.Name() + " 缺少字段 " + need->field, "城镇基础汇总表中该列为空");
    }
  }
  const LackingFieldTables lacking =
      FamiliesLackingFields(checks, needs, run, RunVariant{}, FamilyKind::kTown);
  m_setLeftOutFamilies.insert(lacking.families.begin(), lacking.families.end());
}

}  // namespace landstat
