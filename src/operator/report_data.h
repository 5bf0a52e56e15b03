#pragma once

// The report-data database: the by-location summary tables of one unit and
// year copied, under their bare names, into a new statistics file for
// submission.

#include <string>
#include <vector>

#include "engine/run_report.h"
#include "platform/db/connection.h"

namespace landstat {

// The sixteen report tables, by base name, in the order they are copied.
const std::vector<std::string>& ReportTableBases();

struct ReportDataRequest {
  std::string source;  // the statistics database: an SQLite file or a server
  std::string year, county;
  std::string unit;           // 平方米, 亩 or 公顷 (any other text is taken as 公顷)
  std::string output_folder;  // where the new file goes
  // The folder of the year's statistics files: the new file takes the name
  // YEARCOUNTY1.sqlite when the output folder is this one.
  std::string statistics_folder;
};

// What an export made: the run report (failures are the tables that did
// not copy, named in its messages) and the file written.
struct ReportDataResult {
  RunReport report;
  std::string target;
  std::vector<std::string> copied;  // the report tables written, by bare name
};

// The file a report-data export of a year and county writes in `folder`:
// YEARCOUNTY.sqlite, or YEARCOUNTY1.sqlite when `folder` is the statistics
// folder (compared as the folders the paths resolve to, so a relative
// path, a link or a trailing slash does not matter). An empty
// `statistics_folder` is none (a server's statistics).
std::string ReportDataFile(const std::string& folder, const std::string& statistics_folder,
                           const std::string& year, const std::string& county);

// Copies the report tables that exist in the source into a new file. The
// export is built in a scratch file beside the target, which takes the
// target's place by one rename: an export that fails (the year or county is
// not held, the year's last job did not finish, the statistics hold no
// report table in the unit, the folder cannot be written) leaves any
// earlier file as it was and no scratch file behind.
// A table that fails to copy is left out whole, named and counted; the
// export then completes with failures. A full or failing disk, or a lost
// server, fails the export: nothing is written.
ReportDataResult GenerateReportData(const ReportDataRequest& request);

// Copies each report table of the year, county and unit code ("PM", "MU",
// "GQ") whose source exists; a copy that fails is rolled back and its
// source name added to `failed`. Returns 1; 0, copying no more, when a
// copy met a full or failing disk or lost the server.
short CopyReportTables(db::Connection& source, db::Connection& target, const std::string& year,
                       const std::string& county, const std::string& unit_code, bool server,
                       std::vector<std::string>* copied = nullptr,
                       std::vector<std::string>* failed = nullptr);

// Creates `target_table` with the source's columns (a double column as
// "double default 0.00", every other as "varchar(60)") and copies the rows,
// an empty or null value left to the column's default. One transaction: 1
// when done, 0 on a database error, the target then without the table.
short CopyReportTable(db::Connection& source, const std::string& source_table,
                      db::Connection& target, const std::string& target_table);

}  // namespace landstat
