// landstat report: a county's stored summary tables written as workbooks.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>

#include "command_support.h"
#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/host/host_settings.h"
#include "platform/host/paths.h"
#include "platform/sheet/bat_print_excel.h"
#include "report/print_stat_dlg.h"
#include "report/writer_plan.h"

namespace landstat::cli {

const char* const ReportHelp =
    "usage: landstat report --project FILE --out DIR [options]\n"
    "\n"
    "Writes stored summary tables of a county as .xlsx workbooks, one per report, copied\n"
    "from the report templates and filled with the rows of the chosen region and level.\n"
    "\n"
    "  --project FILE   the survey's project file (gives the county and the code file)\n"
    "  --db FILE        the SQLite statistics database (default: YEAR + COUNTY + .sqlite\n"
    "                   beside the project); it must exist\n"
    "  --server CONN    a PostgreSQL server instead; table names carry year and county\n"
    "  --year YYYY      the year of the statistics (default: this year)\n"
    "  --county CODE    the six-digit county code (default: the project's sCode)\n"
    "  --codes FILE     the code file (default: the one the project names)\n"
    "  --home DIR       the configuration root (default: $LANDSTAT_HOME, else the\n"
    "                   installed share folder)\n"
    "  --out DIR        the folder that receives the workbooks (required; made when missing)\n"
    "  --region CODE    the administrative code whose rows are written (default: the county)\n"
    "  --level TEXT     the output level: 市级, 县(区)级, 乡(街道)级, 村(街坊)级, 小组级;\n"
    "                   in mode 2 类别级, 管局级, 管局下属二级, 管局下属三级 (default: none,\n"
    "                   every row of the region)\n"
    "  --unit UNIT      公顷, 亩 or 平方米 (hectare, mu, square-metre; default 平方米)\n"
    "  --unpaged        the unpaged templates (default: paged)\n"
    "  --mode N         0 general reports, 1 ownership-dispute and reserve reports,\n"
    "                   2 Inner Mongolia reports (default 0)\n"
    "  --codes2 FILE    mode 2: the Inner Mongolia code file; with it the ledger is the\n"
    "                   Inner Mongolia ledger (of the tables landstat mongolia made)\n"
    "  --report NAMES   the reports, by their names in the catalogue, separated by commas\n"
    "                   (default: every report of the catalogue whose table this county's\n"
    "                   runs built and whose writer this version has; the others are\n"
    "                   listed with the run that builds their table; 图斑面积表 only\n"
    "                   for a village or village group --region)\n"
    "  --catalogue FILE the report catalogue (default: 二次详查表格目录.xml, in mode 1\n"
    "                   权属争议表格目录.xml, in qentar/_secondfun_ of the configuration)\n"
    "  --template FILE  the template workbook (default: 二次详查表格.xlsx beside the\n"
    "                   catalogue); its variants (亩), (不分页), (亩不分页) lie beside it\n"
    "  --stat-type TEXT 座落单位 (tables by location) or 权属单位 (by ownership, where\n"
    "                   built; default 座落单位)\n"
    "  --filler NAME, --checker NAME, --fill-date TEXT, --check-date TEXT\n"
    "                   the header values (dates default to today)\n"
    "  --ownership TEXT, --reserve-level TEXT, --dispute-type TEXT\n"
    "                   the filters of mode 1 (全部 when not given)\n"
    "  --base-db FILE   last year's SQLite statistics database, for the change balance\n"
    "                   sheet (default: YEAR - 1 + COUNTY + .sqlite beside --db); on a\n"
    "                   server last year's tables are read there\n"
    "  --view           open each workbook once written (xdg-open)\n"
    "\n"
    "A workbook is named YEAR + REGION + short name + _UNIT, then _LEVEL when --level is\n"
    "given and _权属单位 with --stat-type 权属单位\n"
    "(2024330102农村土地利用现状一级分类面积汇总表_亩.xlsx): a print of another year, unit,\n"
    "level or type writes beside the earlier workbooks. While a print writes into a\n"
    "folder, another print into it is refused.\n"
    "\n"
    "Prints the path of every workbook written. Exits 0 when every report that could be\n"
    "written was written, 3 when some were not (each named, with the reason; a report\n"
    "named by --report counts whatever kept it back) or when the region lies outside the\n"
    "county or the level above the region (nothing written), 1 when the database cannot\n"
    "be read, does not hold the year and county, holds no tables in the unit or its last\n"
    "statistics run of the year did not finish, or when the output folder cannot be\n"
    "written or another print writes into it (nothing written), 2 on wrong options.\n";

const OptionSpecs ReportOptions = WorkplaceOptions(
    {{"out", false},           {"region", false},       {"level", false},      {"unit", false},
     {"unpaged", true},        {"mode", false},         {"codes2", false},     {"report", false},
     {"catalogue", false},     {"template", false},     {"stat-type", false},  {"filler", false},
     {"checker", false},       {"fill-date", false},    {"check-date", false}, {"ownership", false},
     {"reserve-level", false}, {"dispute-type", false}, {"base-db", false},    {"view", true}});

namespace {

namespace fs = std::filesystem;

std::string Today() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return std::to_string(local->tm_year + 1900) + "年" + std::to_string(local->tm_mon + 1) + "月" +
         std::to_string(local->tm_mday) + "日";
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  for (std::size_t comma = text.find(','); start <= text.size(); comma = text.find(',', start)) {
    const std::string name = text.substr(start, comma - start);
    if (!name.empty()) names.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

// Shows a workbook with the desktop's opener; a failure to start it is said.
void OpenWithDesktop(const std::string& path) {
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    std::cerr << "landstat report: cannot start xdg-open for " << path << "\n";
    return;
  }
  int status = 0;
  waitpid(child, &status, 0);
}

short UnitOfOption(const std::string& text) {
  if (text.empty() || text == "square-metre") return kSquareMetre;
  if (text == "hectare") return kHectare;
  if (text == "mu") return kMu;
  return UnitOfText(text);
}

// The settings of the writers from the options; `error` names a wrong one.
bool SettingsOf(const Options& options, const Workplace& place, report::ReportSettings& settings,
                short& unit, std::string& error) {
  const std::string mode = options.Get("mode", "0");
  if (mode != "0" && mode != "1" && mode != "2") {
    error = "--mode must be 0, 1 or 2";
    return false;
  }
  settings.mode = mode[0] - '0';
  if (options.Has("codes2")) {
    // The host's second code table: the writers of mode 2 only ask whether
    // there is one.
    if (settings.mode != 2) {
      error = "--codes2 is for the Inner Mongolia reports (--mode 2)";
      return false;
    }
    if (!fs::is_regular_file(options.Get("codes2"))) {
      error = "--codes2 " + options.Get("codes2") + " is no file";
      return false;
    }
    settings.second_code_table = true;
  }
  unit = UnitOfOption(options.Get("unit"));
  if (unit == kNoUnit) {
    error = "--unit must be 公顷, 亩 or 平方米 (hectare, mu, square-metre)";
    return false;
  }
  settings.statistics_type = options.Get("stat-type", report::kByLocation);
  if (settings.statistics_type != report::kByLocation &&
      settings.statistics_type != report::kByOwnership) {
    error = "--stat-type must be 座落单位 or 权属单位";
    return false;
  }
  const std::string config = host::ConfigDir();
  settings.catalogue_path = options.Get(
      "catalogue",
      (fs::path(config) / (settings.mode == 1 ? "权属争议表格目录.xml" : "二次详查表格目录.xml"))
          .string());
  settings.paged = !options.Has("unpaged");
  settings.view = options.Has("view");
  settings.output_level = options.Get("level");
  if (options.Has("level")) {
    const std::vector<std::string>& levels = report::OutputLevels(settings.mode);
    if (std::find(levels.begin(), levels.end(), settings.output_level) == levels.end()) {
      error = "--level " + settings.output_level + " is not one of";
      for (const std::string& level : levels) error += " " + level;
      return false;
    }
  }
  settings.header_values = {place.year,
                            settings.output_level,
                            UnitText(unit),
                            options.Get("filler"),
                            options.Get("fill-date", Today()),
                            options.Get("checker"),
                            options.Get("check-date", Today())};
  settings.ownership_filter = options.Get("ownership", "全部");
  settings.reserve_level_filter = options.Get("reserve-level", "全部");
  settings.dispute_type_filter = options.Get("dispute-type", "全部");
  settings.codes = place.codes.get();
  settings.base_year_database = options.Get("base-db");
  std::vector<gis::CODESTRUCT> entries;
  place.codes->GetCode(nullptr, &entries, 0, "");
  for (const gis::CODESTRUCT& entry : entries) {
    if (entry.type.find("行政代码") != std::string::npos) {
      settings.code_names[entry.code] = entry.name;
    } else if (entry.type.find("地类代码") != std::string::npos) {
      settings.class_codes.push_back(entry.code);
    }
  }
  return true;
}

// Why the rows a region and output level select are none of the county's:
// a region that neither holds the county nor lies in it, or a level above the region (whose codes
// are shorter than the region's). Empty when they may select rows.
std::string EmptySelection(const std::string& county, const std::string& region,
                           const report::ReportSettings& settings) {
  if (region.rfind(county, 0) != 0 && county.rfind(region, 0) != 0) {
    return "--region " + region + " is not inside the county " + county;
  }
  static const std::map<std::string, std::size_t> kLevelLengths = {
      {"市级", 4}, {"县(区)级", 6}, {"乡(街道)级", 9}, {"村(街坊)级", 12}};
  const auto level = kLevelLengths.find(settings.output_level);
  if (settings.mode != 2 && level != kLevelLengths.end() && level->second < region.size()) {
    return "--level " + settings.output_level + " is above the region " + region;
  }
  return "";
}

void PrintLeftOut(const std::vector<report::LeftOutReport>& reports, const char* what) {
  if (reports.empty()) return;
  std::cout << reports.size() << " reports " << what << ":\n";
  for (const report::LeftOutReport& report : reports) {
    std::cout << "  " << report.name << " (" << report.reason << ")\n";
  }
}

// A balance sheet named with --report goes to its writer even when its
// years are not both there: the writer refuses it in its own words, naming
// the file, table or layer it lacks. The order of `names` is kept.
void HandNamedBalanceSheets(const report::CPrintStatDlg& dialog,
                            const std::vector<std::string>& names,
                            report::ReportSelection& selection) {
  const auto balance_sheet = [&](const report::LeftOutReport& report) {
    const char* writer = dialog.RouteOf(report.name).writer;
    return writer != nullptr && std::string_view(writer) == "PrintBalanceSheet";
  };
  std::vector<report::LeftOutReport>& not_built = selection.not_built;
  if (std::none_of(not_built.begin(), not_built.end(), balance_sheet)) return;
  std::vector<std::string> writable;
  for (const std::string& name : names) {
    const bool handed = std::any_of(not_built.begin(), not_built.end(), [&](const auto& report) {
      return report.name == name && balance_sheet(report);
    });
    const auto& before = selection.writable;
    if (handed || std::find(before.begin(), before.end(), name) != before.end()) {
      writable.push_back(name);
    }
  }
  std::erase_if(not_built, balance_sheet);
  selection.writable = std::move(writable);
}

// Where a job runs on the year and county reported now; empty when none
// does. Its tables are being replaced.
std::string JobOn(const Workplace& place) {
  db::Connection database(place.connection);
  return RunWorkspace::RunningJob(database, place.year, place.county);
}

int WriteReports(const Options& options, Workplace& place) {
  if (const std::string job = JobOn(place); !job.empty()) {
    std::cerr << "landstat report: a job is running on " << job << "; report when it has ended\n";
    return 1;
  }
  report::CPrintStatDlg dialog;
  short unit = kSquareMetre;
  std::string error;
  if (!SettingsOf(options, place, dialog.Settings(), unit, error)) {
    std::cerr << "landstat report: " << error << "\n";
    return 2;
  }
  const report::ReportSettings& settings = dialog.Settings();
  const std::string region = options.Get("region", place.county);
  if (region.empty() || region.find_first_not_of("0123456789") != std::string::npos) {
    std::cerr << "landstat report: --region must be an administrative code of digits\n";
    return 2;
  }
  const std::vector<std::string> names =
      options.Has("report") ? SplitNames(options.Get("report"))
                            : report::ReportCatalogNames(settings.catalogue_path, error);
  if (names.empty()) {
    std::cerr << "landstat report: " << (error.empty() ? "--report names no report" : error)
              << "\n";
    return 2;
  }
  report::ReportSelection selection;
  {
    // Tables of a run that did not finish cannot be trusted.
    db::Connection database(place.connection);
    if (auto last = LastRunRecord(database, place.year, place.county); last && !last->Finished()) {
      std::cerr << "landstat report: the last statistics run of " << place.year << " for "
                << place.county << " did not finish; run it again first\n";
      return 1;
    }
    if (const std::string held = HeldStatisticsProblem(database, place.year, place.county);
        !held.empty()) {
      std::cerr << "landstat report: " << held << "\n";
      return 1;
    }
    const TableNames table_names(place.server ? 1 : 0, place.year, place.county);
    // Reports whose table this county's runs did not build, or whose writer
    // this version lacks, are listed apart; asked for by name, they fail.
    selection = dialog.SelectReports(database, table_names, unit, names);
    if (options.Has("report")) HandNamedBalanceSheets(dialog, names, selection);
  }
  if (!selection.unit_not_held.empty()) {
    std::cerr << "landstat report: " << selection.unit_not_held << "; no workbook written\n";
    return 1;
  }
  if (const std::string empty = EmptySelection(place.county, region, settings); !empty.empty()) {
    std::cerr << "landstat report: " << empty << "; no workbook written\n";
    return 3;
  }
  const std::string folder = options.Get("out");
  const std::string template_path = options.Get(
      "template", (fs::path(settings.catalogue_path).parent_path() / "二次详查表格.xlsx").string());
  // Reports named on the command line were asked for: what keeps one back
  // is a failure, said in the same words.
  const bool named = options.Has("report");
  // The parcel area table is a village's or a village group's: a larger
  // region leaves it out unless it is named.
  std::vector<report::LeftOutReport> village_only;
  if (!named && region.size() < 12) {
    auto& writable = selection.writable;
    for (auto it = writable.begin(); it != writable.end();) {
      const char* writer = dialog.RouteOf(*it).writer;
      if (writer != nullptr && std::string_view(writer) == "PrintParcelAreaTable") {
        village_only.push_back({*it, "--region " + region + " is no village or village group"});
        it = writable.erase(it);
      } else {
        ++it;
      }
    }
  }
  HostOutput output(options);
  if (settings.view) sheet::SetFileOpener(OpenWithDesktop);
  for (const std::string& name : selection.writable) {
    if (dialog.RouteOf(name).writer == nullptr) {
      std::cerr << "landstat report: no report for " << name << " in mode " << settings.mode
                << "\n";
    }
  }
  if (dialog.DispatchReportTables(folder, place.connection, &selection.writable, template_path,
                                  region, unit, place.server ? 1 : 0, place.year,
                                  place.county) == 0 &&
      dialog.Failures() == 0) {
    return 1;  // nothing was written: the database or the folder said why
  }
  for (const report::ReportOutcome& outcome : dialog.Outcomes()) {
    if (outcome.Written()) std::cout << outcome.path << "\n";
  }
  const long refused = dialog.Failures();
  const long failures =
      refused +
      (named ? static_cast<long>(selection.not_built.size() + selection.unavailable.size()) : 0);
  // Reports not asked for by name and not written are notices, counted
  // apart from the failures.
  const std::size_t left_out =
      named ? 0 : selection.not_built.size() + selection.unavailable.size() + village_only.size();
  std::cout << dialog.Outcomes().size() - static_cast<std::size_t>(refused)
            << " workbooks written in " << folder;
  if (left_out > 0) std::cout << ", " << left_out << " reports left out (listed below)";
  // Each report not written was named with its reason on stderr as it came.
  if (failures > 0) std::cout << ", " << failures << " reports not written (reasons above)";
  std::cout << "\n";
  if (named) {
    for (const report::LeftOutReport& report : selection.not_built) {
      std::cout << "  report " << report.name << ": not built by this county's runs ("
                << report.reason << ")\n";
    }
    for (const report::LeftOutReport& report : selection.unavailable) {
      std::cout << "  report " << report.name << ": " << report.reason << "\n";
    }
  } else {
    PrintLeftOut(selection.not_built, "not built by this county's runs");
    PrintLeftOut(selection.unavailable, "not available in this version");
    PrintLeftOut(village_only, "written for a village or village group only");
  }
  return failures > 0 ? 3 : 0;
}

}  // namespace

int Report(const Options& options) {
  if (!options.Has("out")) {
    std::cerr << "landstat report: --out is required (see landstat report --help)\n";
    return 2;
  }
  return GuardCommand("report", [&] {
    Workplace place;
    std::string error;
    if (!ResolveWorkplace(options, false, place, error)) {
      std::cerr << "landstat report: " << error << "\n";
      return 2;
    }
    return WriteReports(options, place);
  });
}

}  // namespace landstat::cli
