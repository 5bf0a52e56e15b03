// landstat ncqs: the rural ownership-lot statistics of one county's survey.

#include <iostream>

#include "command_support.h"
#include "lots/ncqs_run.h"

namespace landstat::cli {

const char* const NcqsHelp =
    "usage: landstat ncqs --project FILE [options]\n"
    "\n"
    "Runs the rural ownership-lot statistics of the county whose survey the project lists:\n"
    "the pieces of the layers 地类图斑, 线状地物 and 零星地物 go into the base table\n"
    "statdata_ncqs, each parcel's rows get the number (地籍号) of the lot that holds the\n"
    "parcel, and the sums per lot replace the county's rows of NCZD_AREA.\n"
    "\n"
    "  --project FILE    the survey's project file (required)\n"
    "  --lot-layer NAME  the project's layer of lots (default: 宗地)\n"
    "  --db FILE         the SQLite statistics database (made when missing);\n"
    "                    default: YEAR + COUNTY + .sqlite beside the project\n"
    "  --server CONN     a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --naming-mode N   0 plain table names, 1 names with the year and the county code\n"
    "                    (default: 0 on SQLite, 1 on a server)\n"
    "  --year YYYY       the survey year (default: this year)\n"
    "  --county CODE     the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE      the code file (default: the one the project names)\n"
    "  --home DIR        the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                    installed share folder); its host.ini [ZD_SET] 宗地面积单位\n"
    "                    names the unit of NCZD_AREA (亩, 公顷; another value square\n"
    "                    metres; no setting: 公顷)\n"
    "  --log FILE        this run's own log (default: YEAR + COUNTY + NcqsLog.txt beside the\n"
    "                    database, on a server in the current folder); made empty first\n"
    "\n"
    "A project without the lot layer or the parcel layer is refused before the database is\n"
    "touched; a county code no parcel lies in fails the run, naming both codes. A piece\n"
    "located in another county is logged and left out. Parcels in two lots, and lots of a\n"
    "number several lots carry, are logged and get no lot number.\n"
    "The run works on a copy of the SQLite database (one transaction on a server) and\n"
    "replaces the earlier results only when it completes.\n"
    "\n"
    "Exits 0 when the run completed with no failure logged, 3 when it completed with\n"
    "failures logged, 1 when it failed (no lot layer, say), 2 on wrong options.\n";

const OptionSpecs NcqsOptions = WorkplaceOptions({{"lot-layer", false}, {"naming-mode", false}});

int Ncqs(const Options& options) {
  if (!options.Has("project")) {
    std::cerr << "landstat ncqs: --project is required (see landstat ncqs --help)\n";
    return 2;
  }
  const std::string mode = options.Get("naming-mode");
  if (options.Has("naming-mode") && mode != "0" && mode != "1") {
    std::cerr << "landstat ncqs: --naming-mode must be 0 or 1\n";
    return 2;
  }
  return RunOnWorkplace(
      options, "ncqs", "NcqsLog.txt", true,
      [&](Workplace& place) {
        NcqsRequest request;
        static_cast<JobTarget&>(request) = place.Target();
        if (!mode.empty()) request.db_mode = static_cast<short>(mode[0] - '0');
        request.project = place.project.get();
        request.lot_layer_name = options.Get("lot-layer", kNcqsLotLayerName);
        return RunNcqs(request);
      },
      "rural ownership-lot statistics completed", "rural ownership-lot statistics FAILED");
}

}  // namespace landstat::cli
