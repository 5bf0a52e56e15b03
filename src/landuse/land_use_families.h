#pragma once

// The land-use families, each declared beside its builders; the list in
// land_use_families.cpp registers them for the run, the unit conversion and
// the benchmark.

#include <vector>

#include "engine/stat_context.h"
#include "engine/table_family.h"

namespace landstat::landuse {

using C = CStatContext;

// Which runs build a family.
inline bool Rural(const RunVariant& run) {
  return run.Rural();
}
inline bool Duda(const RunVariant& run) {
  return run.Duda();
}
inline bool Regrouped(const RunVariant& run) {
  return run.Regrouped();
}
inline bool Town(const RunVariant& run) {
  return run.Town();
}
inline bool CountyBatch(const RunVariant& run) {
  return run.county_batch;
}
// A family whose tables its fill makes: nothing to create first.
inline short NothingToCreate(C&) {
  return 1;
}
// The balancing of a converted table of a shape, by level.
inline std::function<short(C&, const std::string&)> ByLevels(SummaryShape shape) {
  return [shape](C& c, const std::string& table) { return c.BalanceSummaryLevels(table, shape); };
}
inline constexpr char kBalanceLevels[] = "平差土地利用汇总表...";
// The conversion of a summary that is balanced by level after it: the
// enclave pairs read their base table summed by pair, the others by level.
inline FamilyConversion LevelConversion(int order, const char* progress, bool from_extension,
                                        std::function<short(C&)> create,
                                        std::function<short(C&)> fill, SummaryShape shape) {
  return {.order = order,
          .progress = progress,
          .from_extension = from_extension,
          .sums = shape == SummaryShape::kEnclavePairs ? ConvertedSums::kEnclavePairs
                                                       : ConvertedSums::kLevels,
          .create = std::move(create),
          .fill = std::move(fill),
          .balance_progress = kBalanceLevels,
          .balance = ByLevels(shape)};
}

// The table a level statement of a class summary reads: `coarse` (see
// CStatContext::CoarseSource), when there is one, for every level of scope
// Q and the levels above the unit of scope Z; else `source`.
std::string LevelSource(const std::string& source, const std::string& coarse, short scope,
                        int level);

std::vector<TableFamily> AdjustableLandFamilies();
std::vector<TableFamily> ApprovedUnusedLandFamilies();
std::vector<TableFamily> MarkerFamilies();
std::vector<TableFamily> LedgerAndSlopeFamilies();
std::vector<TableFamily> RuralClassFamilies();
std::vector<TableFamily> IslandFamilies();
std::vector<TableFamily> OwnershipFamilies();
std::vector<TableFamily> OwnershipScriptFamilies();
std::vector<TableFamily> EnclaveFamilies();
std::vector<TableFamily> NoIslandFamilies();
std::vector<TableFamily> ClassFamilies();

}  // namespace landstat::landuse
