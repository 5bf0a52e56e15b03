#pragma once

#include <string>

#include "engine/statistics_run.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The exported forms of the statistics run (statistics_run.h says what a
// run does and guarantees).
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
