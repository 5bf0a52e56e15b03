#pragma once

// The host's way into a town-lot statistics run, and its exported forms.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/run_report.h"
#include "engine/statistics_run.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The layers a town-lot run looks for in a project: the lots under the
// first name, else the second; the houses.
extern const char* const kTownLotLayerNames[2];
extern const char* const kHouseLayerName;

// The town-lot statistics of a county: the base table statdata_czzd from
// the lot and house layers, its per-unit copies (converted, rounded and
// adjusted to the county total), the area-unit table, the town summary
// families and the area-unit rows of kind "城镇宗地".
//
// Like the general run, it works in a workspace (a working copy of an
// embedded file, one transaction on a server) and publishes its tables as a
// whole when it completes; a run that fails leaves what was stored before it
// as it was. It fails when there is no lot layer (before any database
// work), the database cannot be taken, the code table cannot be read, or the
// base table, its fill, the per-unit copies or the area-unit table fail; the
// summary families that follow are create/fill pairs whose failures are
// logged and counted and do not stop the run.
struct TownLotRequest : JobTarget {
  gis::CGisXmlPrj* project = nullptr;  // lot and house layers by name
  short lot_layer = 0;                 // without a project: the layers themselves
  short house_layer = 0;
  StageObserver observer;
  // On SQLite, whether the tables are made in one transaction on the file
  // itself rather than in a copy of it; unset: whichever is cheaper for the
  // file's size and the number of lots and houses (TownRunInPlace).
  std::optional<bool> in_place;
};

// Whether a town run on an embedded file of `file_bytes` with `rows` lots
// and houses is cheaper in one transaction on the file than in a copy.
bool TownRunInPlace(std::uintmax_t file_bytes, long rows);

RunReport RunTownLots(const TownLotRequest& request);

// Project form: the lot layer "城镇权属层", else "宗地", and the house layer
// "房屋层". 1 when the run completed, 0 when it failed.
short landStatDataZD(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                     const std::string& year, const std::string& county, short db_mode,
                     const std::string& log_path);

// Handle form (note the order of the strings: year, county, connection).
short landStatDataZD(short lot_layer, short house_layer, gis::RuralCode* codes,
                     const std::string& year, const std::string& county,
                     const std::string& connection, short db_mode, const std::string& log_path);

}  // namespace landstat
