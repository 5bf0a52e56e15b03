// landstat batch: the statistics of many counties of one year.

#include <filesystem>
#include <iostream>
#include <sstream>

#include "command_support.h"
#include "operator/county_batch.h"
#include "operator/county_catalogue.h"
#include "platform/host/paths.h"

namespace landstat::cli {

const char* const BatchHelp =
    "usage: landstat batch --regions CODE[,CODE...] (--folder DIR | --server CONN) [options]\n"
    "\n"
    "Runs the statistics of the counties of one year in one command, each county's survey\n"
    "found in the county catalogue (counties.sqlite in the configuration root: the districts,\n"
    "the theme table and each county's project file; see the README). Each county runs the\n"
    "county-batch road (hectare tables of one scope, the shorter list of tables). A code\n"
    "ending in 00 (a province or a city) is skipped; a county without a survey in the\n"
    "catalogue, whose project or code file cannot be read, whose project lists no survey\n"
    "layer but the districts, or whose statistics file or log would be one of its inputs is\n"
    "passed over, named in the batch log and in the result, and counted as a failure.\n"
    "\n"
    "  --regions CODES  the district codes, separated by commas, in the order to run\n"
    "  --year YYYY      the survey year (default: this year)\n"
    "  --folder DIR     one SQLite file YEAR + COUNTY + .sqlite per county in DIR\n"
    "  --server CONN    a PostgreSQL server instead (libpq conninfo, service=NAME or URI)\n"
    "  --catalogue FILE the county catalogue (default: counties.sqlite in the\n"
    "                   configuration root)\n"
    "  --home DIR       the configuration root\n"
    "  --log-folder DIR the folder of the batch log YEAR + StatLog.txt and, on a server,\n"
    "                   of the counties' logs (default: --folder, on a server the current\n"
    "                   folder); a county's log in --folder lies beside its file\n"
    "  --jobs N         run up to N counties at once, 1 to 64 (default: one a processor,\n"
    "                   no more than the available memory holds at 1 GB a county; on a\n"
    "                   server no more than its free connections hold)\n"
    "\n"
    "Counties running at once each keep their own log and statistics file; the batch log\n"
    "and the summary list the counties in the order given.\n"
    "\n"
    "A log that cannot be opened (a symbolic link, say) is an error: the batch log stops\n"
    "the batch before any county runs, a county's log keeps its county from running.\n"
    "\n"
    "Exits 0 when every county asked for ran and completed with nothing logged, 3 when some\n"
    "county failed, logged failures or was passed over (named), 1 when none completed or\n"
    "none could be run, 2 on wrong options.\n";

const OptionSpecs BatchOptions = {{"regions", false},    {"year", false},      {"folder", false},
                                  {"server", false},     {"catalogue", false}, {"home", false},
                                  {"log-folder", false}, {"jobs", false},      {"quiet", true}};

namespace {

std::vector<std::string> SplitCodes(const std::string& text) {
  std::vector<std::string> codes;
  std::istringstream list(text);
  for (std::string code; std::getline(list, code, ',');) {
    if (!code.empty()) codes.push_back(code);
  }
  return codes;
}

// The --jobs number, 1 to 64; 0 when it is none of them.
std::size_t JobsOf(const std::string& text) {
  if (text.empty() || text.size() > 2 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const std::size_t jobs = std::stoul(text);
  return jobs <= 64 ? jobs : 0;
}

}  // namespace

int Batch(const Options& options) {
  if (options.Has("folder") == options.Has("server")) {
    std::cerr << "landstat batch: give --folder or --server (see landstat batch --help)\n";
    return 2;
  }
  CountyBatchRequest request;
  request.codes = SplitCodes(options.Get("regions"));
  request.year = options.Get("year", ThisYear());
  if (request.codes.empty()) {
    std::cerr << "landstat batch: --regions names no district\n";
    return 2;
  }
  if (options.Has("server")) {
    if (const std::string problem = ServerOptionProblem(options.Get("server")); !problem.empty()) {
      std::cerr << "landstat batch: " << problem << "\n";
      return 2;
    }
  }
  if (options.Has("jobs")) {
    request.jobs = JobsOf(options.Get("jobs"));
    if (request.jobs == 0) {
      std::cerr << "landstat batch: --jobs must be a number from 1 to 64\n";
      return 2;
    }
  }
  for (const std::string& folder :
       {options.Get("folder"), options.Get("home"), options.Get("log-folder")}) {
    if (!folder.empty() && !std::filesystem::is_directory(folder)) {
      std::cerr << "landstat batch: " << folder << " is not a folder\n";
      return 2;
    }
  }
  return GuardCommand("batch", [&] {
    if (options.Has("home")) host::SetProgramDir(options.Get("home"));
    request.catalogue = options.Get("catalogue", DefaultCountyCatalogue());
    request.folder = options.Get("folder");
    request.server = options.Get("server");
    request.log_folder = options.Get("log-folder");
    HostOutput output(options);
    const CountyBatchResult result = StatCountyDataBatch(request);
    PrintOutcome(CountyBatchMessage(result), result.report);
    for (const CountyBatchEntry& entry : result.counties) {
      std::cout << "  " << entry.code << "  ";
      if (!entry.skipped.empty()) {
        std::cout << "passed over: " << entry.skipped << "\n";
        continue;
      }
      const std::string counts = LoggedCounts(entry.report);
      std::cout << RunOutcomeText(entry.report.outcome) << (counts.empty() ? "" : ", " + counts)
                << ", " << entry.report.tables.size() << " tables written\n";
    }
    return result.result == 1 ? ExitCodeOf(result.report) : 1;
  });
}

}  // namespace landstat::cli
