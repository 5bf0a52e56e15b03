#pragma once

// The host's way into an Inner Mongolia statistics run, and its exported
// forms.

#include <string>

#include "engine/run_report.h"
#include "engine/statistics_run.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The layers an Inner Mongolia run takes from a project, and the fields of
// the Inner Mongolia ownership scheme their features carry.
extern const char* const kMgParcelLayer;
extern const char* const kMgLineLayer;
extern const char* const kMgPointLayer;
extern const char* const kMgDistrictLayer;
extern const char* const kMgOwnerCodeField;
extern const char* const kMgOwnerNameField;

// The Inner Mongolia statistics of a county: the base table statdataMG
// from the parcel, linear-feature and scattered-feature layers with the
// hierarchy of "内蒙古权属单位代码" (county, category, bureau, second-level
// unit), its per-unit copies converted and balanced top-down, the Inner
// Mongolia summary families, the ownership-code table
// QSDMBMG and the records of the area-unit table AreaUnitMG. Its tables are
// named plainly whatever the database; the statements follow the database.
//
// Like the other runs it works in a workspace (a working copy of an
// embedded file, one transaction on a server) and publishes its tables as a
// whole when it completes; a run that fails leaves what was stored before
// it as it was. It fails, before any database work, when the project lacks
// one of the three feature layers or a layer lacks an ownership field
// (the failure names layer and field), when the database holds no completed
// statistics run of the year and county (whose tables the ledger reads),
// and when its Inner Mongolia tables, named alike for every year and county,
// hold another year's or county's results and `replace_other` is not set
// (the refusal names what they hold); and when the database cannot be
// taken, the connection, the area-unit table, the base table, its fill or
// the unit copies (with their conversion and balancing) fail. The families, QSDMBMG and the
// area-unit records are create/fill pairs whose failures are logged and counted and do not stop the
// run; so are pieces whose ownership code is not digits, of another county
// or of a length no level has (logged with layer, record, field and value,
// and left out), and the records of a code file of its own whose code has
// such a length or lacks its higher units.
struct MongoliaRequest : JobTarget {
  gis::CGisXmlPrj* project = nullptr;  // the layers by name
  // Without a project: the layers themselves (0 or less: none).
  short district_layer = 0, parcel_layer = 0, line_layer = 0, point_layer = 0;
  // The Inner Mongolia code table (the host's second code table); when
  // null, `codes` serves.
  gis::RuralCode* second_codes = nullptr;
  // Non-zero: the summaries add their lowest level.
  int level_switch = 1;
  // The Inner Mongolia tables may hold another year's or county's results:
  // replace them (refused otherwise).
  bool replace_other = false;
  StageObserver observer;
};

RunReport RunMongolia(const MongoliaRequest& request);

// Project form. `db_mode` only chooses the base-table fill (2: the
// temporary fill's rules); the three trailing strings are not used. 1 when the
// run completed, 0 when it failed.
short landStatDataMG(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                     const std::string& year, const std::string& county, short db_mode,
                     int level_switch, const std::string& log_path, const std::string& = "",
                     const std::string& = "", const std::string& = "");

// Handle form (note the order: year, county, connection).
short landStatDataMG(short district_layer, short parcel_layer, short line_layer, short point_layer,
                     gis::RuralCode* codes, const std::string& year, const std::string& county,
                     const std::string& connection, short db_mode, int level_switch,
                     const std::string& log_path, const std::string& = "", const std::string& = "",
                     const std::string& = "");

}  // namespace landstat
