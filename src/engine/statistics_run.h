#pragma once

// The host's way into a statistics run: plain options in, a run report out.

#include <functional>
#include <string>

#include "engine/run_report.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The statistics run of a county's survey.
//
// A run works on its database in a workspace (a working copy of an embedded
// file, one transaction on a server) and publishes its tables as a whole
// when it completes: a run that fails leaves every table stored before it as
// it was. Its start and end are recorded in the database (StatRuns).
// It fails when a listed layer cannot be opened, the parcel layer is absent,
// empty or not of regions, the database cannot be taken (an embedded file
// holding another year's or county's statistics is refused unless asked to
// replace them), or the context set-up, the base table or its unit copies
// fail; later tables are built as create/fill pairs whose failures are
// logged and counted but do not stop the run. Failures are written to the
// run's log file when that file exists (the run never creates it).

// Told the name of each stage of a run as it ends (the fixed stages, then
// each summary family by its base name), for progress and timing.
using StageObserver = std::function<void(const std::string& stage)>;

struct StatisticsRequest : JobTarget {
  gis::CGisXmlPrj* project = nullptr;  // the survey's layers by name
  int group_level = 1;
  // An embedded file holding another year's or county's statistics is
  // replaced instead of refused.
  bool replace_other = false;
  // The county batch's road: hectare tables of one scope and the shorter
  // list of tables.
  bool county_batch = false;
  // A custom-statistics list limiting the tables (empty: every table).
  std::string custom_list;
  StageObserver observer;
};

// The run as the hosts call it: the outcome, the failures logged and the
// tables of the database afterwards.
RunReport RunStatistics(const StatisticsRequest& request);

}  // namespace landstat
