// The farmland families, registered once, after the land-use tables (stages
// from 2000). A rural run creates the farmland base table and, only when
// that succeeded, builds the farmland base data; the general farmland
// summaries that follow run only when the base data were built
// (CStatContext::m_nJbntBaseData > 0), in this order: the situation tables
// by level, the protection-block situation table, the protection-block
// area table JBNTBHMJ, the adjustable-farmland tables by level, the
// all-class protection-block table, then the adjustable tables by
// protection block. The regional sets follow: "广西农村", then the "duda"
// area tables, then "广东农村".

#include "engine/stat_context.h"
#include "engine/table_family.h"

namespace landstat {
namespace {

std::vector<TableFamily> FarmlandFamilies() {
  return {
      {.base = "statdata_jbnt",
       .stage = 2000,
       .builds = [](const RunVariant& run) { return run.Rural(); },
       .create = [](CStatContext& c) { return c.CreateJbntStatTable(); },
       .fill = [](CStatContext& c) { c.StatJbntBaseData(); },
       .progress = "正在汇总基本农田",
       .step = true},
  };
}

const FamilyRegistration kFarmland(FarmlandFamilies());

}  // namespace
}  // namespace landstat
