// landstat report-db: the report-data database of a county and year.

#include <filesystem>
#include <iostream>

#include "command_support.h"
#include "engine/table_names.h"
#include "operator/report_data.h"

namespace landstat::cli {

const char* const ReportDbHelp =
    "usage: landstat report-db --out DIR (--project FILE | --county CODE --codes FILE)\n"
    "                          [options]\n"
    "\n"
    "Copies the by-location summary tables of one area unit (TDLY_YJFL, TDLY_EJFL,\n"
    "NCTDLY_YJFL ... PEWY_EJFL, sixteen in all, those the statistics hold) of a county and\n"
    "year into a new SQLite file for submission, under their bare names: number columns\n"
    "as 'double default 0.00', the others as 'varchar(60)'. The file is YEAR + COUNTY +\n"
    ".sqlite in DIR, or YEAR + COUNTY + 1.sqlite when DIR is the statistics database's own\n"
    "folder (however either is spelt); an earlier file of that name is replaced only when\n"
    "the new one is complete.\n"
    "\n"
    "  --out DIR        the folder of the new file (required)\n"
    "  --unit UNIT      平方米, 亩 or 公顷 (default: 平方米)\n"
    "  --project FILE   the survey's project file (gives the county and the code file)\n"
    "  --db FILE        the SQLite statistics database (default: YEAR + COUNTY + .sqlite\n"
    "                   beside the project, else in the current folder)\n"
    "  --server CONN    a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --year YYYY      the survey year (default: this year)\n"
    "  --county CODE    the six-digit county code\n"
    "  --codes FILE     the code file\n"
    "  --home DIR       the configuration root\n"
    "\n"
    "A year or county the database holds no completed statistics run of, a year whose\n"
    "last job did not finish, and a unit the statistics hold none of these tables in, are\n"
    "refused.\n"
    "\n"
    "Exits 0 when every table present was copied, 3 when some failed to copy (named), 1\n"
    "when the export failed (nothing written), 2 on wrong options.\n";

const OptionSpecs ReportDbOptions = WorkplaceOptions({{"out", false}, {"unit", false}});

int ReportDb(const Options& options) {
  const std::string unit = options.Get("unit", "平方米");
  if (UnitOfText(unit) == kNoUnit) {
    std::cerr << "landstat report-db: --unit must be 平方米, 亩 or 公顷\n";
    return 2;
  }
  if (options.Get("out").empty()) {
    std::cerr << "landstat report-db: --out is required (see landstat report-db --help)\n";
    return 2;
  }
  return GuardCommand("report-db", [&] {
    Workplace place;
    std::string error;
    if (!ResolveWorkplace(options, false, place, error)) {
      std::cerr << "landstat report-db: " << error << "\n";
      return 2;
    }
    HostOutput output(options);
    ReportDataRequest request;
    request.source = place.connection;
    request.year = place.year;
    request.county = place.county;
    request.unit = unit;
    request.output_folder = options.Get("out");
    if (!place.database.empty()) {
      request.statistics_folder = std::filesystem::absolute(place.database).parent_path().string();
    }
    const ReportDataResult result = GenerateReportData(request);
    PrintOutcome(result.report.Completed() ? "report data written" : "report data FAILED",
                 result.report);
    if (!result.target.empty() && result.report.Completed()) {
      std::cout << "  file      " << result.target << "\n";
      PrintTables(result.report.tables);
    }
    return ExitCodeOf(result.report);
  });
}

}  // namespace landstat::cli
