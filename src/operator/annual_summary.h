#pragma once

// The annual summary: the statistics of one county and year, run in order
// (the general run, the town-lot run and, for the Inner Mongolia scheme,
// the Inner Mongolia run) into the county's statistics file of the year or
// a server.

#include <functional>
#include <string>
#include <vector>

#include "engine/run_report.h"
#include "engine/statistics_run.h"
#include "lots/town_lot_run.h"

namespace landstat {

// The statistics file of a county and year in a folder: YEARCOUNTY.sqlite.
std::string AnnualDatabaseFile(const std::string& folder, const std::string& year,
                               const std::string& county);
// The summary's log in the folder: YEARCOUNTYStatLog.txt beside the file,
// YEARCOUNTYServerStatLog.txt for a summary into a server, so that neither
// empties the other's.
std::string AnnualLogFile(const std::string& folder, const std::string& year,
                          const std::string& county, bool server);

// The years of a county summarised in a folder: the files named exactly
// YEAR + COUNTY + ".sqlite" (a year of four digits; the extension in lower
// case), sorted. Other files are left out. A folder not made yet holds none;
// `error` says why a folder that is there cannot be listed.
std::vector<std::string> ListSummarisedYears(const std::string& folder, const std::string& county,
                                             std::string& error);
// The years of a county in a server's area-unit table ("select 年度 as 年度
// from  D<county>AreaUnit group by 年度"); none when the table is not there
// yet. A server that cannot be reached or read gives none, and `error` says
// why (ReadYears); `error` is emptied when the years were read.
std::vector<std::string> ListServerYears(const std::string& connection, const std::string& county,
                                         std::string& error);

struct AnnualSummaryRequest {
  gis::CGisXmlPrj* project = nullptr;
  gis::RuralCode* codes = nullptr;
  // The Inner Mongolia code table; null: no Inner Mongolia run.
  gis::RuralCode* second_codes = nullptr;
  std::string folder;  // the statistics files and their logs
  std::string year, county;
  // Empty: the county's file in the folder. Otherwise the server (kind 1,
  // or 2 Oracle), unless `local_copy` asks for the file in the folder.
  std::string server;
  short server_kind = 1;
  bool local_copy = false;
  // Only the tables of the custom list (STATDATA_GX), stand-alone only:
  // no town-lot and no Inner Mongolia run.
  bool incremental = false;
};

// One run of the summary.
struct AnnualStep {
  std::string name;  // 土地利用现状统计, 城镇宗地统计, 内蒙古统计
  bool available = true;
  RunReport report;
};

struct AnnualSummaryResult {
  bool declined = false;  // the operator declined to summarise again
  std::string database, log_path;
  std::vector<AnnualStep> steps;
  // "汇总完毕!" when every run completed; otherwise the runs that failed
  // (or why nothing ran).
  std::string message;
  // The summary as one job: failed when a run failed.
  RunReport report;
};

// The runs a summary makes; tests put fakes in their place. An empty
// `mongolia` names the Inner Mongolia step as not available.
struct AnnualRuns {
  std::function<RunReport(const StatisticsRequest&)> statistics = RunStatistics;
  std::function<RunReport(const TownLotRequest&)> town_lots = RunTownLots;
  std::function<RunReport(const JobTarget&, gis::CGisXmlPrj*, gis::RuralCode* second_codes)>
      mongolia;
};

// The runs of this version.
AnnualRuns DefaultAnnualRuns();

// Runs the summary. When the year is summarised already (its file exists,
// or the server lists it), `confirm_again` is asked first with the file the
// summary would work on (empty on a server), before the log or the database
// is touched; false stops there (`declined`). The year must be four digits
// and the county six. The log is made empty, then each run writes its lines
// under its name. An existing file is not deleted: each run replaces its
// tables only when it completes. A file the summary made is removed again
// when none of its runs completed (`database` is then empty).
AnnualSummaryResult RunAnnualSummary(
    const AnnualSummaryRequest& request,
    const std::function<bool(const std::string& file)>& confirm_again,
    const AnnualRuns& runs = DefaultAnnualRuns());

}  // namespace landstat
