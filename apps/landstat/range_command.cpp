// landstat range: the statistics of a range cut out of a county.

#include <filesystem>
#include <iostream>
#include <memory>

#include "command_support.h"
#include "engine/stat_config.h"
#include "operator/range_run.h"
#include "operator/range_statistics.h"
#include "platform/gis/gis_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/paths.h"

namespace landstat::cli {

const char* const RangeHelp =
    "usage: landstat range --project FILE [--range POLYGON_FILE] (--kind KIND | --title TITLE)\n"
    "                      [options]\n"
    "\n"
    "Runs the statistics of a range: a project cut out of a county's layers, in a folder of\n"
    "its own. With --range, the county project is first cut by the polygons of that file\n"
    "into a new range folder. The land-use and farmland runs repair the clipped layers, then\n"
    "the statistics go into RangeStat.sqlite in the range folder (made when missing, reused\n"
    "otherwise; plain table names); the code table is copied beside it as CODE.WB.\n"
    "\n"
    "  --project FILE   the range project a cut made, or with --range the county project\n"
    "                   (required; a county's own project is refused without --range)\n"
    "  --range FILE     the range polygon file (any file OGR reads: the union of its polygons;\n"
    "                   refused when it keeps none of the run's parcels or lots)\n"
    "  --folder DIR     where the cut writes the range (default: range-NAME beside the county\n"
    "                   project, NAME the polygon file's name)\n"
    "  --kind KIND      landuse, jbnt (basic farmland) or czzd (town lots; also the lot and\n"
    "                   house information of the data source in rivadoverid.ini)\n"
    "  --title TITLE    only the tables of the report of that title (land-use or town report,\n"
    "                   宗地信息表, 房屋信息表); the base data are built when the database lacks "
    "them;\n"
    "                   a title of no range report is refused with the list of titles\n"
    "  --county CODE    the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE     the code file (default: the one the project names)\n"
    "  --home DIR       the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                   installed share folder)\n"
    "\n"
    "The run works on a copy of RangeStat.sqlite and replaces it only when it completes;\n"
    "failures are logged in RangeStatLog.txt of the range folder.\n"
    "\n"
    "Exits 0 when the run completed with no failure logged, 3 when it completed with\n"
    "failures logged, 1 when it failed (a required layer missing, say), 2 on wrong options.\n";

const OptionSpecs RangeOptions = {{"project", false}, {"range", false}, {"folder", false},
                                  {"kind", false},    {"title", false}, {"county", false},
                                  {"codes", false},   {"home", false},  {"quiet", true}};

namespace {

// The request's kind from --kind, or from the title; false (exit 2) for
// neither, both or an unknown kind.
bool KindOf(const Options& options, RangeRequest& request, std::string& error) {
  if (options.Has("kind") == options.Has("title")) {
    error = "give one of --kind and --title";
    return false;
  }
  if (options.Has("title")) {
    request.title = options.Get("title");
    request.kind = RangeKindOfTitle(*request.title);
    if (IsRangeTitle(request.kind, *request.title)) return true;
    error = "no range report is titled '" + *request.title +
            "'; the titles (any title containing 土地利用台帐 builds the ledger):";
    for (const std::string& title : RangeTitles()) error += "\n  " + title;
    return false;
  }
  const std::string kind = options.Get("kind");
  if (kind == "landuse") {
    request.kind = RangeKind::kLandUse;
  } else if (kind == "jbnt") {
    request.kind = RangeKind::kFarmland;
  } else if (kind == "czzd") {
    request.kind = RangeKind::kTownLots;
  } else {
    error = "--kind must be landuse, jbnt or czzd";
    return false;
  }
  return true;
}

}  // namespace

int Range(const Options& options) {
  RangeRequest request;
  std::string error;
  if (!options.Has("project")) error = "--project is required";
  if (error.empty()) KindOf(options, request, error);
  if (error.empty() && options.Has("home")) {
    if (!std::filesystem::is_directory(options.Get("home"))) {
      error = "--home " + options.Get("home") + " is not a folder";
    } else {
      host::SetProgramDir(options.Get("home"));
    }
  }
  if (error.empty()) {
    for (const std::string& unusable : StatConfigErrors()) {
      error += (error.empty() ? "" : "; ") + unusable;
    }
  }
  if (!error.empty()) {
    std::cerr << "landstat range: " << error << " (see landstat range --help)\n";
    return 2;
  }
  return GuardCommand("range", [&] {
    request.project = options.Get("project");
    request.polygon = options.Get("range");
    request.range_folder = options.Get("folder");
    // The county code and the code file: given, or the project's.
    const std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(request.project);
    request.county = options.Get("county", project->GetCountyCode());
    if (!host::IsCountyCode(request.county)) {
      std::cerr << "landstat range: the county code '" << request.county
                << "' is not six digits: give --county\n";
      return 2;
    }
    const std::string code_path = options.Get("codes", project->GetCodeFile());
    if (code_path.empty()) {
      std::cerr << "landstat range: the project names no code file: give --codes\n";
      return 2;
    }
    const std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(code_path));
    request.codes = codes.get();
    HostOutput output(options);
    const RangeReport report = RunRange(request);
    const std::string outcome =
        report.Completed() ? "range statistics completed" : "range statistics FAILED";
    if (report.folder.empty()) {
      // Refused before any folder was touched: there is no log to name.
      PrintOutcome(outcome + " (nothing was written)", report);
    } else {
      const std::filesystem::path folder(report.folder);
      PrintSummary(outcome, report, (folder / kRangeDatabaseName).string(),
                   (folder / kRangeLogName).string());
    }
    return ExitCodeOf(report);
  });
}

}  // namespace landstat::cli
