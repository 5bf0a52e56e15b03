// The land-use families, registered once. Their stages: the county batch's
// short run 10-70; the rural run 100-980 (adjustable land, approved but
// unused land, the marker tables, the ledger, the rural class, island,
// ownership, enclave and slope tables, then the no-island tables); the town
// run 1000-1030.

#include "landuse/land_use_families.h"

namespace landstat::landuse {
namespace {

std::vector<TableFamily> LandUseFamilies() {
  std::vector<TableFamily> all;
  for (std::vector<TableFamily> (*declared)() : {
           AdjustableLandFamilies,
           ApprovedUnusedLandFamilies,
           MarkerFamilies,
           LedgerAndSlopeFamilies,
           RuralClassFamilies,
           IslandFamilies,
           OwnershipFamilies,
           OwnershipScriptFamilies,
           EnclaveFamilies,
           NoIslandFamilies,
           ClassFamilies,
       }) {
    for (TableFamily& family : declared()) all.push_back(std::move(family));
  }
  return all;
}

const FamilyRegistration kLandUse(LandUseFamilies());

}  // namespace
}  // namespace landstat::landuse
