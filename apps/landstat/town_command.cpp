// landstat town: the town-lot statistics of one county's survey.

#include <iostream>

#include "command_support.h"
#include "lots/town_lot_run.h"

namespace landstat::cli {

const char* const TownHelp =
    "usage: landstat town --project FILE [options]\n"
    "\n"
    "Runs the town-lot statistics of the county whose survey the project lists: the lots of\n"
    "the layer 城镇权属层 (else 宗地) and the houses of 房屋层 summed into the town-lot base\n"
    "table statdata_czzd, its per-unit copies (converted, rounded and adjusted to the county\n"
    "total) and the town summary tables, into a statistics database.\n"
    "\n"
    "  --project FILE   the survey's project file (required)\n"
    "  --db FILE        the SQLite statistics database of the general run;\n"
    "                   default: YEAR + COUNTY + .sqlite beside the project\n"
    "  --server CONN    a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --naming-mode N  0 plain table names, 1 names with the year and the county code,\n"
    "                   2 the same, the base table filled from the layers' own tables when\n"
    "                   they are stored in the statistics database (default: 0 on SQLite,\n"
    "                   1 on a server)\n"
    "  --year YYYY      the survey year (default: this year)\n"
    "  --county CODE    the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE     the code file (default: the one the project names)\n"
    "  --home DIR       the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                   installed share folder)\n"
    "  --log FILE       this run's own log (default: YEAR + COUNTY + TownLog.txt beside the\n"
    "                   database, on a server in the current folder); made empty first\n"
    "\n"
    "The town tables read the general run's tables: a year or county whose statistics the\n"
    "database does not hold ('landstat run' first) is refused. The run works on a copy of\n"
    "the SQLite database (one transaction on a server) and replaces the earlier results\n"
    "only when it completes.\n"
    "\n"
    "Exits 0 when the run completed with no failure logged, 3 when it completed with\n"
    "failures logged, 1 when it failed (no lot layer, say), 2 on wrong options.\n";

const OptionSpecs TownOptions = WorkplaceOptions({{"naming-mode", false}});

int Town(const Options& options) {
  if (!options.Has("project")) {
    std::cerr << "landstat town: --project is required (see landstat town --help)\n";
    return 2;
  }
  const std::string mode = options.Get("naming-mode");
  if (options.Has("naming-mode") && mode != "0" && mode != "1" && mode != "2") {
    std::cerr << "landstat town: --naming-mode must be 0, 1 or 2\n";
    return 2;
  }
  return RunOnWorkplace(
      options, "town", "TownLog.txt", false,
      [&](Workplace& place) {
        TownLotRequest request;
        static_cast<JobTarget&>(request) = place.Target();
        if (!mode.empty()) request.db_mode = static_cast<short>(mode[0] - '0');
        request.project = place.project.get();
        return RunTownLots(request);
      },
      "town-lot statistics completed", "town-lot statistics FAILED");
}

}  // namespace landstat::cli
