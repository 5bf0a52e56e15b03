#pragma once

#include <string>

#include "report/report_settings.h"
#include "report/report_skeleton.h"

namespace landstat::report {

// The row filter of the summary writer for an output level: the rows whose
// XZQDM starts with `region` and, for the levels "村(街坊)级" down to
// "市级", whose code is as long as that level's or any level's above it up
// to the city (never the province); any other level keeps every row of the
// region. `province` is the first two characters of the region code. The
// text starts with " where ".
ReportQuery SummaryLevelFilter(const std::string& province, const std::string& region,
                               const std::string& level);

// The same on the category and bureau levels of mode 2; `county` is the
// first six characters of the region code. "类别级" keeps the county row and
// every category of the county, whatever the region.
ReportQuery BureauLevelFilter(const std::string& county, const std::string& region,
                              const std::string& level);

// The condition the reserve and dispute writer adds for `report_name`
// under the three filter lists of `settings`: the clause of the first list
// that holds a choice ("全部" counts as none) when that choice applies to
// the report's kind, else the report's fallback. Starts with "and " or is
// empty.
std::string ReserveAttributeFilter(const std::string& report_name, const ReportSettings& settings);

// The dispute-type condition of the dispute writers, after `joiner` ("and"
// or "where"): the chosen type (bound), or, for "全部" or none, the rows of
// no dispute type.
void AddDisputeType(ReportQuery& query, const std::string& joiner, const std::string& type);

// Whether the reserve and dispute writer keeps every row of the region for
// `report_name` whatever the output level (the parcel lists and
// "耕地后备资源调查汇总表(权属争议)").
bool ReserveIgnoresLevel(const std::string& report_name);

// Whether the code-list writer reads the catalogue's table `stat_tbl`
// under its plain name (the ownership code tables and the registration
// summary, which carry no unit) rather than as a unit table.
bool CodeListReadsPlain(const std::string& stat_tbl);

}  // namespace landstat::report
