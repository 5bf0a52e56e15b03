#pragma once

// The county batch: the statistics of many counties of one year, each
// county's survey found through the county catalogue.

#include <cstddef>
#include <string>
#include <vector>

#include "engine/run_report.h"

namespace landstat {

struct CountyBatchRequest {
  std::string catalogue;  // the county catalogue (county_catalogue.h)
  std::string year;
  std::vector<std::string> codes;  // the ticked districts, in tree order
  // A folder: one statistics file YEARCOUNTY.sqlite per county in it.
  // Empty: the server `server` names.
  std::string folder;
  std::string server;
  // The folder of the batch log YEARStatLog.txt and, on a server, of the
  // counties' logs YEARCOUNTYStatLog.txt (default: `folder`, on a server
  // the current folder). A county's log in a folder lies beside its file.
  std::string log_folder;
  // How many counties run at once, at most (0: as the processors and the
  // memory allow, see CountiesAtOnce).
  std::size_t jobs = 0;
};

// What became of one ticked code.
struct CountyBatchEntry {
  std::string code;
  std::string skipped;  // why it was passed over; empty when it ran
  std::string database;
  RunReport report;  // of its run
};

struct CountyBatchResult {
  // 1 when some county's statistics completed, 0 when the input was empty,
  // a statistics file could not be made or every county run failed, -1
  // when no county could be run.
  short result = 0;
  std::vector<CountyBatchEntry> counties;
  std::string log_path;
  // The batch as one job: completed when every ticked county ran and
  // completed without failures, completed with failures when some failed,
  // logged failures or were passed over (each named in its messages and
  // counted in its failures), failed when none completed.
  RunReport report;
};

// How many of `counties` counties a batch runs at once: `request.jobs`, or
// as many as the processors, and no more than the memory available holds
// at a gigabyte a county; on a server no more than its free connections
// hold, each county's run holding ServerConnectionsOfRun() (one when they
// cannot be asked); at least one, at most `counties`. `limit` says why,
// when the server's connections made it fewer; it is empty otherwise.
std::size_t CountiesAtOnce(const CountyBatchRequest& request, std::size_t counties,
                           std::string& limit);

// Runs the ticked counties, up to CountiesAtOnce of them side by side (its
// limit, when it gives one, written in the batch log and the notices), each
// on a thread of its own with its own log and statistics file (on a server
// its own tables), started in order. Every log is opened through
// host::OpenLogFile: a batch log that cannot be opened runs no county, a
// county whose log cannot be opened is not run and counts as failed. A
// code ending in "00" (a province or city) is skipped; a code that is not
// a county code, without a survey in the catalogue, whose project or code
// file cannot be read, whose project lists none of the survey layers but
// the district layer, or whose statistics file or log would be one of its
// inputs (the catalogue, its project, code file or layer sources), is
// passed over and named in the batch log, as are the counties after one
// whose statistics file could not be made (where the batch stops: no county
// after it starts). Each county runs as a county-batch statistics run
// (statistics_run.h), its tables replaced only when it completes; its
// project, layers and code table are released when it ends. The batch log
// gets the counties' lines in their order, and what a county's run would
// have shown is shown in that order too; the progress of counties running
// side by side is shown on the calling thread, each text led by its county.
CountyBatchResult StatCountyDataBatch(const CountyBatchRequest& request);

// The operator's message of a batch result: "没有找到数据!" (-1), "汇总失败!"
// (0) or "汇总完成!", followed by the counties whose run failed, those
// passed over and the batch log.
std::string CountyBatchMessage(const CountyBatchResult& result);

}  // namespace landstat
