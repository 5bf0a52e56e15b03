// landstat run: the statistics of one county's survey.

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "commands.h"
#include "engine/database_helpers.h"
#include "engine/stat_drivers.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "platform/host/progress.h"

namespace landstat::cli {
namespace fs = std::filesystem;

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
    "  --log FILE       the run's log (default: YEAR + COUNTY + StatLog.txt beside the\n"
    "                   database); it is made empty before the run\n"
    "  --no-group-level leave out the 19-character unit level\n"
    "  --quiet          no progress bar\n"
    "\n"
    "Exits 0 when the run completed, 1 when it failed, 2 on wrong options.\n";

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  static const char* const kFlags[] = {"help", "quiet", "no-group-level", "yes"};
  for (int i = 0; i < argc; ++i) {
    std::string name = argv[i];
    if (name.rfind("--", 0) != 0) {
      error = "unexpected argument '" + name + "'";
      return false;
    }
    name.erase(0, 2);
    bool flag = false;
    for (const char* known : kFlags) flag = flag || name == known;
    if (flag) {
      options.Set(name, "1");
      continue;
    }
    if (i + 1 >= argc) {
      error = "option --" + name + " needs a value";
      return false;
    }
    options.Set(name, argv[++i]);
  }
  return true;
}

namespace {

std::string ThisYear() {
  const std::time_t now = std::time(nullptr);
  return std::to_string(std::localtime(&now)->tm_year + 1900);
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void PrintSummary(short result, double seconds, const std::string& connection,
                  const std::string& log_path) {
  std::cout << (result > 0 ? "statistics completed" : "statistics FAILED") << " in "
            << static_cast<int>(seconds * 10) / 10.0 << " s\n";
  try {
    db::Connection database(connection);
    const std::vector<std::string> tables = database.ListTables();
    std::cout << "  database  " << connection << "\n  tables    " << tables.size() << ":";
    for (std::size_t i = 0; i < tables.size() && i < 12; ++i) std::cout << " " << tables[i];
    if (tables.size() > 12) std::cout << " ...";
    std::cout << "\n";
  } catch (const db::DbError& error) {
    std::cout << "  database  " << error.what() << "\n";
  }
  const std::vector<std::string> failures = FileLines(log_path);
  std::cout << "  log       " << log_path << " (" << failures.size() << " lines logged)\n";
  for (std::size_t i = 0; i < failures.size() && i < 10; ++i) {
    std::cout << "    " << failures[i] << "\n";
  }
  if (failures.size() > 10) std::cout << "    ...\n";
}

}  // namespace

int Run(const Options& options) {
  if (!options.Has("project")) {
    std::cerr << "landstat run: --project is required (see landstat run --help)\n";
    return 2;
  }
  if (options.Has("home")) host::SetProgramDir(options.Get("home"));
  try {
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(options.Get("project"));
    const std::string year = options.Get("year", ThisYear());
    const std::string county = options.Get("county", project->GetCountyCode());
    if (county.empty()) {
      std::cerr << "landstat run: the project names no county code (sCode): give --county\n";
      return 2;
    }
    const std::string code_path = options.Get("codes", project->GetCodeFile());
    if (code_path.empty()) {
      std::cerr << "landstat run: the project names no code file: give --codes\n";
      return 2;
    }
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(code_path));

    const bool server = options.Has("server");
    std::string connection;
    fs::path folder;
    if (server) {
      connection = options.Get("server");
      folder = fs::current_path();
    } else {
      const fs::path database = options.Get(
          "db", (fs::path(project->GetFolder()) / (year + county + ".sqlite")).string());
      folder = database.has_parent_path() ? database.parent_path() : fs::current_path();
      if (!fs::exists(database) && CreateAcessDB(database.string()) <= 0) {
        std::cerr << "landstat run: cannot create the database " << database << "\n";
        return 1;
      }
      connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + database.string();
    }
    const std::string log_path =
        options.Get("log", (folder / (year + county + "StatLog.txt")).string());
    std::ofstream(log_path, std::ios::trunc);  // the run writes into an existing log only

    host::TerminalProgress bar;
    host::SilentProgress silent;
    host::SetProgress(options.Has("quiet") ? static_cast<host::Progress*>(&silent) : &bar);
    host::StderrNotifier notifier(options.Has("yes"));
    host::ScopedNotifier scoped(notifier);

    const auto start = std::chrono::steady_clock::now();
    const short result =
        landStatData(project.get(), codes.get(), connection, year, county, server ? 1 : 0,
                     options.Has("no-group-level") ? 0 : 1, log_path);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    host::SetProgress(nullptr);
    PrintSummary(result, seconds, connection, log_path);
    return result > 0 ? 0 : 1;
  } catch (const gis::GisError& error) {
    std::cerr << "landstat run: " << error.what() << "\n";
    return 1;
  } catch (const db::DbError& error) {
    std::cerr << "landstat run: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace landstat::cli
