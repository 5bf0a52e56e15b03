#pragma once

// The host's way into a unit conversion of stored statistics: plain options
// in, a run report out.

#include <string>

#include "engine/run_report.h"
#include "engine/table_names.h"
#include "platform/gis/rural_code.h"

namespace landstat {

struct ConversionRequest : JobTarget {
  short target = kHectare;
  short decimals = -1;   // negative: those configured for the target unit
  int group_level = -1;  // negative: as the run made its tables
};

// Converts the statistics of a county and year to the target unit: rebuilds
// the extension base table and the unit-less summary tables, converts in
// place the tables summed in another unit, and balances them. The
// conversion works in one transaction on the database, embedded file or
// server: one that fails changes nothing stored. A year whose last run or conversion did not finish
// is refused, and so is a target that is no unit.
RunReport ConvertStatistics(const ConversionRequest& request);

}  // namespace landstat
