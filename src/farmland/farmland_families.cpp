// The farmland families, registered once, after the land-use tables (stages
// from 2000; the county batch's at 90, after its land-use tables). A rural run creates the farmland
// base table and, only when that succeeded, builds the farmland base data; the general farmland
// summaries that follow run only when the base data were built
// (CStatContext::m_nJbntBaseData > 0), in this order: the situation tables
// by level, the protection-block situation table, the protection-block
// area table JBNTBHMJ, the adjustable-farmland tables by level, the
// all-class protection-block table, then the adjustable tables by
// protection block. The regional sets follow: "广西农村" (its situation,
// protection-block and supplementary-designation tables, then the
// parcels-only tables and the slope summary made from them), then the
// "duda" area tables and, outside "广西", the same parcels-only tables and
// slope summary, then "广东农村".

#include "farmland/farmland_families.h"

namespace landstat::farmland {
namespace {

std::vector<TableFamily> FarmlandFamilies() {
  std::vector<TableFamily> all = {
      {.base = "statdata_jbnt",
       .stage = 2000,
       .builds = [](const RunVariant& run) { return run.Rural(); },
       .create = [](CStatContext& c) { return c.CreateJbntStatTable(); },
       .fill = [](CStatContext& c) { c.StatJbntBaseData(); },
       .progress = "正在汇总基本农田",
       .step = true},
      // The county batch's shorter run ends with the farmland base data and
      // the situation tables, created before the base data are built and
      // filled after them.
      {.base = "JBNTQKTJ",
       .stage = 90,
       .builds = [](const RunVariant& run) { return run.county_batch; },
       .create =
           [](CStatContext& c) {
             const short created = c.CreateJbntQktjTables();
             if (c.CreateJbntStatTable() > 0) c.StatJbntBaseData();
             return c.m_nJbntBaseData > 0 ? created : short{0};
           },
       .fill = [](CStatContext& c) { c.StatJbntQktj(); },
       .progress = "正在汇总基本农田",
       .step = true},
  };
  // The farmland base data are read from the farmland layers. The general
  // summaries read the base data alone and are built once they are; the
  // regional sets stay beside the base data, on the thread that reads the
  // layers (some of them read the layers again).
  for (TableFamily& family : all) family.reads_layers = true;
  for (std::vector<TableFamily> (*declared)() :
       {SituationFamilies, BlockFamilies, AdjustableFamilies, AreaTableFamilies}) {
    for (TableFamily& family : declared()) {
      family.after.push_back("statdata_jbnt");
      all.push_back(std::move(family));
    }
  }
  for (std::vector<TableFamily> (*declared)() :
       {GuangxiFamilies, OnlyFamilies, SlopeSummaryFamilies, GuangdongFamilies}) {
    for (TableFamily& family : declared()) {
      family.reads_layers = true;
      all.push_back(std::move(family));
    }
  }
  // They read the farmland base data, never the unit copies of the base
  // table.
  for (TableFamily& family : all) family.reads_unit_copies = false;
  return all;
}

const FamilyRegistration kFarmland(FarmlandFamilies());

}  // namespace
}  // namespace landstat::farmland
