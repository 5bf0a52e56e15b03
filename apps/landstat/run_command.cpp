// landstat run: the statistics of one county's survey.

#include <iostream>

#include "command_support.h"
#include "engine/statistics_run.h"

namespace landstat::cli {
const char* const RunHelp =
    "usage: landstat run --project FILE [options]\n"
    "\n"
    "Runs the statistics of the county whose survey the project lists: the base table, its\n"
    "unit copies and every summary table, into a statistics database.\n"
    "\n"
    "  --project FILE   the survey's project file (required)\n"
    "  --db FILE        the SQLite statistics database (made when missing);\n"
    "                   default: YEAR + COUNTY + .sqlite beside the project\n"
    "  --server CONN    a PostgreSQL server instead (libpq conninfo, service=NAME or URI);\n"
    "                   table names then carry the year and the county code\n"
    "  --year YYYY      the survey year (default: this year)\n"
    "  --county CODE    the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE     the code file (default: the one the project names)\n"
    "  --home DIR       the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                   installed share folder)\n"
    "  --log FILE       this run's own log (default: YEAR + COUNTY + StatLog.txt beside the\n"
    "                   database, on a server in the current folder); made empty first\n"
    "  --no-group-level leave out the 19-character unit level\n"
    "  --replace        the SQLite database may hold another year's or county's\n"
    "                   statistics: replace them (refused otherwise)\n"
    "\n"
    "The run works on a copy of the SQLite database (one transaction on a server) and\n"
    "replaces the earlier results only when it completes: a failed run keeps them.\n"
    "\n"
    "Exits 0 when the run completed with no failure logged, 3 when it completed with\n"
    "failures logged (the summary and the log name them), 1 when it failed, 2 on wrong\n"
    "options.\n";

const OptionSpecs RunOptions = WorkplaceOptions({{"replace", true}});

int Run(const Options& options) {
  if (!options.Has("project")) {
    std::cerr << "landstat run: --project is required (see landstat run --help)\n";
    return 2;
  }
  return RunOnWorkplace(
      options, "run", "StatLog.txt", true,
      [&](Workplace& place) {
        StatisticsRequest request;
        static_cast<JobTarget&>(request) = place.Target();
        request.project = place.project.get();
        request.group_level = options.Has("no-group-level") ? 0 : 1;
        request.replace_other = options.Has("replace");
        return RunStatistics(request);
      },
      "statistics completed", "statistics FAILED");
}

}  // namespace landstat::cli
