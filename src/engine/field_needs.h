#pragma once

// Which tables need which field of a survey layer, beyond the fields a walk
// cannot do without (a layer lacking one of those gives no rows at all). A
// walk that finds one of these fields missing would read it as empty for
// every record: it leaves out the families that need the field instead
// (CStatContext::LeaveOutTablesWithout), with one failure, and the run
// builds the rest.

#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/table_family.h"

namespace landstat {

enum class SurveyWalk {
  kParcels,       // the base table's walks: 地类图斑
  kIslandColumn,  // 地类图斑, when the base table carries 描述说明
  kLines,         // 线状地物
  kPoints,        // 零星地物
  kFarmland,      // the farmland base table's walk: 基本农田图斑
  kGdParcels,     // the Guangdong farmland base table's walks: 基本农田图斑
  kGdLines,       // 基本农田线状地物
  kGdPoints,      // 基本农田零星地物
};

std::span<const FieldNeed> FieldNeedsOf(SurveyWalk walk);

// What the fields a layer lacks leave out: the families of a run that need
// one of them, with the families that read those; and every table of any
// run that needs one, which a later job building tables from that run's
// base table (a unit conversion) leaves out as well.
struct LackingFieldTables {
  std::set<std::string> families;
  std::set<std::string> needing;
};

// Of the fields of `needs` the layer of `checks` lacks, each that a family
// of a run needs (`run`: its families by base name, of `kind`, asked for as
// `variant`) is one failure naming the layer, the field and the tables not
// built.
LackingFieldTables FamiliesLackingFields(LayerChecks& checks, std::span<const FieldNeed> needs,
                                         const std::set<std::string>& run,
                                         const RunVariant& variant,
                                         FamilyKind kind = FamilyKind::kGeneral);

// The families that read the district table ZB_XZXQ: without its fields
// the table is not made, and they are left out. The island tables read it
// only when the base table does not carry 描述说明.
std::vector<const char*> DistrictReaders(bool island_column);

}  // namespace landstat
