// landstat mongolia: the Inner Mongolia statistics of one county's survey.

#include <filesystem>
#include <iostream>
#include <memory>

#include "command_support.h"
#include "mongolia/mongolia_run.h"

namespace landstat::cli {

const char* const MongoliaHelp =
    "usage: landstat mongolia --project FILE [options]\n"
    "\n"
    "Runs the Inner Mongolia statistics of the county whose survey the project lists: the\n"
    "parcels, linear and scattered features, with their fields 内蒙古权属单位代码 and\n"
    "内蒙古权属单位名称 (on linear features the pairs ending in 1 and 2), summed into the\n"
    "base table statdataMG by county, category, bureau and second-level unit, the ownership\n"
    "code table QSDMBMG and the records of the area-unit table AreaUnitMG. The tables carry\n"
    "plain names on either database.\n"
    "\n"
    "  --project FILE     the survey's project file (required)\n"
    "  --codes2 FILE      the Inner Mongolia code file (default: the general code file)\n"
    "  --level-switch N   1 adds the ownership units' own level to the summaries, 0 leaves\n"
    "                     it out (default 1)\n"
    "  --temporary-fill   fills the base table by the temporary fill's own rules (see the\n"
    "                     README)\n"
    "  --replace          the Inner Mongolia tables may hold another year's or county's\n"
    "                     results: replace them (refused otherwise)\n"
    "  --db FILE          the SQLite statistics database of the general run;\n"
    "                     default: YEAR + COUNTY + .sqlite beside the project\n"
    "  --server CONN      a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --year YYYY        the survey year (default: this year)\n"
    "  --county CODE      the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE       the general code file (default: the one the project names)\n"
    "  --home DIR         the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                     installed share folder)\n"
    "  --log FILE         this run's own log (default: YEAR + COUNTY + MongoliaLog.txt\n"
    "                     beside the database, on a server in the current folder); made\n"
    "                     empty first\n"
    "\n"
    "Refused before the database is touched: a layer without the Inner Mongolia fields, a\n"
    "database without the general run of the year and county, and Inner Mongolia tables\n"
    "(named without year or county) holding another year or county, unless --replace.\n"
    "Ownership codes that are not digits, not of the county or of a length no level has are\n"
    "logged and their pieces left out; a record of the --codes2 file whose code has such a\n"
    "length, or whose higher units the file lacks, is logged (exit 3).\n"
    "The run works on a copy of the SQLite database (one transaction on a server) and\n"
    "replaces the earlier results only when it completes.\n"
    "\n"
    "Exits 0 when the run completed with no failure logged, 3 when it completed with\n"
    "failures logged, 1 when it failed (a layer without the Inner Mongolia fields, say),\n"
    "2 on wrong options.\n";

const OptionSpecs MongoliaOptions = WorkplaceOptions(
    {{"codes2", false}, {"level-switch", false}, {"temporary-fill", true}, {"replace", true}});

int Mongolia(const Options& options) {
  if (!options.Has("project")) {
    std::cerr << "landstat mongolia: --project is required (see landstat mongolia --help)\n";
    return 2;
  }
  const std::string level = options.Get("level-switch", "1");
  if (level != "0" && level != "1") {
    std::cerr << "landstat mongolia: --level-switch must be 0 or 1\n";
    return 2;
  }
  const std::string codes2 = options.Get("codes2");
  if (options.Has("codes2") && !std::filesystem::is_regular_file(codes2)) {
    std::cerr << "landstat mongolia: no code file " << codes2 << "\n";
    return 2;
  }
  return RunOnWorkplace(
      options, "mongolia", "MongoliaLog.txt", false,
      [&](Workplace& place) {
        std::unique_ptr<gis::RuralCode> second;
        if (!codes2.empty()) second.reset(gis::RuralCode::Load(codes2));
        MongoliaRequest request;
        static_cast<JobTarget&>(request) = place.Target();
        request.db_mode = options.Has("temporary-fill") ? 2 : 0;
        request.project = place.project.get();
        request.second_codes = second.get();
        request.level_switch = level == "1" ? 1 : 0;
        request.replace_other = options.Has("replace");
        return RunMongolia(request);
      },
      "Inner Mongolia statistics completed", "Inner Mongolia statistics FAILED");
}

}  // namespace landstat::cli
