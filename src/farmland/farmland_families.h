#pragma once

// The farmland families, each declared beside its builders; the list in
// farmland_families.cpp registers them for the run, the unit conversion and
// the benchmark.

#include <vector>

#include "engine/stat_context.h"
#include "engine/table_family.h"

namespace landstat::farmland {

// The situation tables by level (JBNTQKTJ).
std::vector<TableFamily> SituationFamilies();
// The protection-block situation tables (JBNTBHKQKTJ, JBNTNEWBHKQKTJ).
std::vector<TableFamily> BlockFamilies();
// The adjustable-farmland tables (JBNTKTZ, BHKKTZ).
std::vector<TableFamily> AdjustableFamilies();
// The area tables made from SQL text (JBNTBHMJ and the "duda" ones).
std::vector<TableFamily> AreaTableFamilies();
// The Guangdong set under "广东农村" (statdata_jbntGD, JBNTKTZGD, JBNTQKTJGD,
// JBNTKTZGDBHH, JBNTQKTJGDBHH).
std::vector<TableFamily> GuangdongFamilies();

}  // namespace landstat::farmland
