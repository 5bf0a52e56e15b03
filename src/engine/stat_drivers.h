#pragma once

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

struct StatisticsRequest {
  gis::CGisXmlPrj* project = nullptr;  // the survey's layers by name
  gis::RuralCode* codes = nullptr;
  std::string connection;  // the statistics database
  std::string year, county, log_path;
  short db_mode = 0;  // 0 embedded, plain names; 1 a server, 2 an Oracle one
  int group_level = 1;
  // An embedded file holding another year's or county's statistics is
  // replaced instead of refused.
  bool replace_other = false;
  // A custom-statistics list limiting the tables (empty: every table).
  std::string custom_list;
  StageObserver observer;
};

// The run as the hosts call it: the outcome, the failures logged and the
// tables of the database afterwards.
RunReport RunStatistics(const StatisticsRequest& request);

// The exported forms return 1 when the run completed (with or without
// logged failures) and 0 when it failed.

// The three trailing strings of the project, county-batch and custom forms
// are kept for callers that pass them; they are not read (the class field
// of every layer is 地类编码).

// Project form: takes the ten survey layers from the project by name.
// `db_mode` 0 is a stand-alone database with plain table names; 1 or 2 a
// server (2 an Oracle one) whose names carry the year and the county code.
short landStatData(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                   const std::string& year, const std::string& county, short db_mode,
                   int group_level, const std::string& log_path, const std::string& = "地类编码",
                   const std::string& = "地类编码", const std::string& = "地类编码");

// Handle form: the ten layers in the order parcels, linear features,
// scattered features, the three farmland layers, change records, reserve
// parcels, dispute areas, districts (0 for a layer that is absent).
short landStatData(short parcel, short line, short point, short jbnt_parcel, short jbnt_line,
                   short jbnt_point, short change, short reserve, short dispute, short district,
                   gis::RuralCode* codes, const std::string& connection, const std::string& year,
                   const std::string& county, short db_mode, int group_level,
                   const std::string& log_path);

// County-batch form: eight layers, hectare tables of one scope, and the
// shorter road of tables. Neither opens nor closes the layers.
short landStatData(short district, short parcel, short line, short point, short jbnt_parcel,
                   short jbnt_line, short jbnt_point, short change, gis::RuralCode* codes,
                   const std::string& year, const std::string& county,
                   const std::string& connection, const std::string& data_set, short db_mode,
                   int group_level, const std::string& log_path, const std::string& = "地类编码",
                   const std::string& = "地类编码", const std::string& = "地类编码");

// The run limited to the tables ticked in a custom-statistics list (XML
// "Row" elements naming a table by "statTbl" or "sumoraTbl", ticked by
// "tCheck" 1). An empty path or a missing file runs the project form.
short landStatDataCustom(const std::string& list_path, gis::CGisXmlPrj* project,
                         gis::RuralCode* codes, const std::string& connection,
                         const std::string& year, const std::string& county, short db_mode,
                         int group_level, const std::string& log_path,
                         const std::string& = "地类编码", const std::string& = "地类编码",
                         const std::string& = "地类编码");

}  // namespace landstat
