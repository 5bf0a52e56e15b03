#pragma once

// The host's way into range statistics (range_statistics.h says what they
// build).

#include <optional>
#include <string>
#include <vector>

#include "engine/run_report.h"
#include "platform/gis/rural_code.h"

namespace landstat {

enum class RangeKind { kLandUse, kFarmland, kTownLots };

struct RangeRequest {
  // The range project; with `polygon`, the county project the range is cut
  // out of.
  std::string project;
  // The range polygon file; empty when `project` is a range already.
  std::string polygon;
  // Where the cut writes the range (with `polygon`); empty: beside the
  // county project, "range-" + the polygon file's name without extension.
  std::string range_folder;
  RangeKind kind = RangeKind::kLandUse;
  // A report title: only the tables of that report (land use and town
  // lots; an empty title names none). Nothing: every table of the kind.
  std::optional<std::string> title;
  std::string county;  // the county code
  gis::RuralCode* codes = nullptr;
};

// The kind of run a report title belongs to: town lots for the town
// reports and the lot and house information, land use otherwise.
RangeKind RangeKindOfTitle(const std::string& title);
// Whether a run of `kind` has a report of that title (land use: any title
// containing 土地利用台帐 names the ledger).
bool IsRangeTitle(RangeKind kind, const std::string& title);
// The report titles of the range runs, land use first, for a host to list.
std::vector<std::string> RangeTitles();

// The folder a cut by `polygon` of `project` writes to when none is given.
std::string DefaultRangeFolder(const std::string& project, const std::string& polygon);

// What a range run tells its host: the run's report and the range folder
// it wrote its database and log in, empty when it was refused before any
// folder was touched (nothing was logged then but the report's messages).
struct RangeReport : RunReport {
  std::string folder;
};

// A range run: the cut first when a polygon is given, then the run of the
// kind (or title) on the range folder. Only a range a cut made is worked on
// (gis::NotACutRange): the repair writes into the range's own GeoPackage,
// never into a county's layers. The range database is worked on in a copy
// that replaces RangeStat.sqlite only when the run completes, so a failed
// run leaves the previous one. A run fails, before any folder is touched,
// for a missing or unreadable project, a project without a polygon that is
// no cut range, a title the kind has no report of, a required layer
// missing or without a record in the range (a polygon outside the county),
// a range polygon that is empty or invalid, no code table; and, with the
// database kept as it was, when the range database cannot be taken or the
// base table stage fails. A repair that is refused builds no table from
// its layers (nor the intensity table of a town-lot run, which reads the
// land-use base table): the run completes with that failure. Failures are
// counted, and logged in RangeStatLog.txt of the range folder once the run
// has started.
RangeReport RunRange(const RangeRequest& request);

}  // namespace landstat
