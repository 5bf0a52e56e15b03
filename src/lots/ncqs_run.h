#pragma once

// The host's way into a rural ownership-lot run, and its exported forms.

#include <string>

#include "engine/run_report.h"
#include "engine/statistics_run.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The lot layer a rural ownership-lot run takes from a project when it is
// not told another.
extern const char* const kNcqsLotLayerName;

// The rural ownership-lot statistics of a county: the base table
// statdata_ncqs from the parcel, linear-feature and scattered-feature
// layers, the number of the lot holding each parcel written onto the
// parcel's rows, and the per-lot sums in NCZD_AREA (made when missing; the
// county's earlier sums replaced, other counties' kept). A piece located in
// another county is logged and left out.
//
// Like the general run, it works in a workspace (a working copy of an
// embedded file, one transaction on a server), recorded in StatRuns as
// "ncqs", and publishes its tables as a whole when it completes. It fails,
// leaving what was stored before it as it was, when the lot layer or the
// parcel layer is missing or a listed layer cannot be opened (before the
// database is touched), the database cannot be taken, the context cannot
// be set up, or the base table cannot be created or filled (no parcel lies
// in the county, say). A failure of the lot numbers or of the per-lot sums
// is logged and counted and the rest is published (the sums are not formed
// over lot numbers left unfinished; a failed sum keeps the county's earlier
// sums).
struct NcqsRequest : JobTarget {
  gis::CGisXmlPrj* project = nullptr;  // the layers by name
  std::string lot_layer_name = kNcqsLotLayerName;
  // Without a project: the layers themselves.
  short lot_layer = 0, parcel_layer = 0, line_layer = 0, point_layer = 0;
  StageObserver observer;
};

RunReport RunNcqs(const NcqsRequest& request);

// Handle form: 1 when the run completed, 0 when it failed (at once, before
// any database work, when the lot layer handle is not positive).
short landStatNCQS(gis::RuralCode* codes, short lot_layer, short parcel_layer, short line_layer,
                   short point_layer, const std::string& connection, const std::string& year,
                   const std::string& county, short db_mode);

// Project form: the layers "地类图斑", "线状地物", "零星地物" and the lot
// layer of that name from the project; the run's log at `log_path`.
short landStatNCQS(gis::CGisXmlPrj* project, gis::RuralCode* codes,
                   const std::string& lot_layer_name, const std::string& connection,
                   const std::string& year, const std::string& county, short db_mode,
                   const std::string& log_path = {});

}  // namespace landstat
