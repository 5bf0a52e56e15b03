// What the commands of the command-line host share: where they work, their
// output while they run and their summary at the end.

#include "command_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/log_file.h"
#include "platform/host/paths.h"
#include "platform/text/ascii_text.h"

namespace landstat::cli {
namespace fs = std::filesystem;

namespace {

// The options every command reads and describes alike, with their short
// forms: --help, which every command takes, and --quiet, which every
// command that shows progress takes.
struct CommonOption {
  const char* short_form;
  const char* name;
  const char* help;
};
constexpr CommonOption kCommonOptions[] = {
    {"-q", "quiet",
     "no progress output (without it: a bar on a terminal, else one\n"
     "                   line per stage)"},
    {"-h", "help", "describes the command (this text)"},
};

// An argument as an option: its long name, and the value it carries after
// '=' when it does. The short forms stand for their long names: -h for
// --help, -q for --quiet. False when the argument is no option.
bool SplitOption(const std::string& argument, std::string& name,
                 std::optional<std::string>& value) {
  for (const CommonOption& common : kCommonOptions) {
    if (argument != common.short_form) continue;
    name = common.name;
    return true;
  }
  if (argument.size() < 3 || argument.rfind("--", 0) != 0) return false;
  const std::size_t equals = argument.find('=');
  name = argument.substr(2, equals - 2);
  if (equals != std::string::npos) value = argument.substr(equals + 1);
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, const OptionSpecs& declared, Options& options,
                  std::string& error) {
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") {
      // The options end here; no command takes any other argument.
      if (i + 1 < argc) error = "unexpected argument '" + std::string(argv[i + 1]) + "'";
      return error.empty();
    }
    std::string name;
    std::optional<std::string> value;
    if (!SplitOption(argument, name, value)) {
      error = argument.size() > 1 && argument[0] == '-' ? "unknown option " + argument
                                                        : "unexpected argument '" + argument + "'";
      return false;
    }
    const auto option = std::find_if(declared.begin(), declared.end(),
                                     [&](const OptionSpec& known) { return name == known.name; });
    const bool help = name == "help";
    if (!help && option == declared.end()) {
      error = "unknown option " + (argument.rfind("--", 0) == 0 ? "--" + name : argument);
      return false;
    }
    if ((help || option->flag) && value) {
      error = "option --" + name + " takes no value";
      return false;
    }
    // Asked for help, the command gives it whatever follows.
    if (help) {
      options.Set(name, "1");
      return true;
    }
    if (option->flag) {
      options.Set(name, "1");
      continue;
    }
    if (!value && i + 1 >= argc) {
      error = "option --" + name + " needs a value";
      return false;
    }
    options.Set(name, value ? *value : argv[++i]);
  }
  return true;
}

std::string CommonOptionsHelp(const OptionSpecs& declared) {
  std::string text = "\nCommon options:\n";
  for (const CommonOption& common : kCommonOptions) {
    const std::string name = common.name;
    const bool taken = name == "help" ||
                       std::any_of(declared.begin(), declared.end(),
                                   [&](const OptionSpec& option) { return name == option.name; });
    if (!taken) continue;
    std::string form = std::string("  ") + common.short_form + ", --" + name;
    form.resize(std::max<std::size_t>(form.size() + 1, 19), ' ');
    text += form + common.help + "\n";
  }
  return text +
         "An option takes its value as '--name value' or '--name=value'; '--' ends the\n"
         "options.\n";
}

OptionSpecs WorkplaceOptions(const OptionSpecs& own) {
  OptionSpecs declared = {{"project", false}, {"db", false},     {"server", false},
                          {"year", false},    {"county", false}, {"codes", false},
                          {"home", false},    {"log", false},    {"no-group-level", true},
                          {"quiet", true},    {"yes", true}};
  declared.insert(declared.end(), own.begin(), own.end());
  return declared;
}

std::string ServerOptionProblem(const std::string& connection) {
  if (db::ParseConnectionString(connection).kind != db::DbKind::kEmbedded) return {};
  return "--server takes a PostgreSQL server's connection (host=... dbname=..., service=NAME or "
         "a postgresql:// URI), not a file: give an SQLite file with --db";
}

std::string ThisYear() {
  const std::time_t now = std::time(nullptr);
  return std::to_string(std::localtime(&now)->tm_year + 1900);
}

namespace {

// The input of the job that `log` is (the database, the project, the code
// file or a survey layer's file); empty when it is none. A log opened on
// one would empty it.
std::string InputAt(const std::string& log, const Workplace& place, const std::string& codes) {
  std::vector<std::string> inputs = {place.database, codes};
  if (place.project) {
    inputs.push_back(place.project->GetFilePath());
    for (const std::string& layer : place.project->LayerNames()) {
      inputs.push_back(place.project->SourceOf(layer));
    }
  }
  for (const std::string& input : inputs) {
    std::error_code unknown;
    if (!input.empty() && fs::equivalent(log, input, unknown)) return input;
  }
  return {};
}

}  // namespace

bool LogCanBeMade(const std::string& path, bool& made, std::string& error) {
  std::error_code unknown;
  made = !fs::exists(fs::symlink_status(path, unknown));
  return host::OpenLogFile(path, host::LogOpening::kAppend, error) != nullptr;
}

bool ResolveWorkplace(const Options& options, bool create_database, Workplace& place,
                      std::string& error, const std::string& log_name) {
  if (options.Has("home")) {
    // Without its folder the run would lose the tables its scripts make.
    std::error_code ignored;
    if (!fs::is_directory(options.Get("home"), ignored)) {
      error = "--home " + options.Get("home") + " is not a folder";
      return false;
    }
    host::SetProgramDir(options.Get("home"));
  }
  // Area units that name no unit, or one unit twice, would make the wrong
  // tables: refused before anything is touched.
  for (const std::string& unusable : StatConfigErrors()) {
    error += (error.empty() ? "" : "; ") + unusable;
  }
  if (!error.empty()) return false;
  if (options.Has("project")) place.project = gis::CGisXmlPrj::Open(options.Get("project"));
  place.year = options.Get("year", ThisYear());
  place.county = options.Get("county", place.project ? place.project->GetCountyCode() : "");
  if (options.Has("county") && place.county.empty()) {
    error = "--county is empty: give the six-digit county code";
    return false;
  }
  if (place.county.empty()) {
    error = place.project ? "the project names no county code (sCode): give --county"
                          : "give --project or --county";
    return false;
  }
  error = host::SurveyKeyProblem(place.year, place.county);
  if (!error.empty()) return false;
  const std::string code_path =
      options.Get("codes", place.project ? place.project->GetCodeFile() : "");
  if (code_path.empty()) {
    error = place.project ? "the project names no code file: give --codes"
                          : "give --project or --codes";
    return false;
  }
  place.codes.reset(gis::RuralCode::Load(code_path));

  place.server = options.Has("server");
  fs::path folder = fs::current_path();
  bool make_database = false;
  if (place.server) {
    place.connection = options.Get("server");
    error = ServerOptionProblem(place.connection);
    if (!error.empty()) return false;
  } else {
    // A server's connection given as --db would otherwise become the name of
    // a new SQLite file, and the run would look as if it went to the server.
    if (options.Has("db") &&
        db::ParseConnectionString(options.Get("db")).kind == db::DbKind::kServer) {
      error = "--db takes an SQLite file, not a server's connection (" +
              db::DescribeConnection(options.Get("db")) + "): give it with --server";
      return false;
    }
    const fs::path beside = place.project ? fs::path(place.project->GetFolder()) : folder;
    const fs::path database =
        options.Get("db", (beside / (place.year + place.county + ".sqlite")).string());
    if (database.has_parent_path()) folder = database.parent_path();
    std::error_code unusable;
    const bool exists = fs::exists(database, unusable);
    if (unusable) {
      error = "cannot use " + database.string() + ": " + unusable.message();
      return false;
    }
    if (!exists && !create_database) {
      error = "no statistics database " + database.string();
      return false;
    }
    make_database = !exists;
    place.database = database.string();
    place.connection = place.database;  // a path, never composed into a string it could break
  }
  // Each job its own log, so that one job never empties another's.
  place.log_path = options.Get("log", (folder / (place.year + place.county + log_name)).string());
  bool log_made = false;
  if (!log_name.empty()) {
    if (const std::string input = InputAt(place.log_path, place, code_path); !input.empty()) {
      error = "--log " + place.log_path + " is an input of the job (" + input + ")";
      return false;
    }
    if (!LogCanBeMade(place.log_path, log_made, error)) return false;
  }
  // The database is made only once every option has been found sound.
  place.made_database = make_database;
  if (make_database && CreateAcessDB(place.database) <= 0) {
    error = "cannot create the database " + place.database;
    std::error_code ignored;
    if (log_made) fs::remove(place.log_path, ignored);
    return false;
  }
  // The engine writes into an existing log only: without one every message
  // of the job would be lost. It starts empty, the lines of this job alone.
  return log_name.empty() ||
         host::OpenLogFile(place.log_path, host::LogOpening::kEmpty, error) != nullptr;
}

HostOutput::HostOutput(const Options& options) : notifier_(options.Has("yes")), scoped_(notifier_) {
  host::Progress* progress = &lines_;
  if (options.Has("quiet")) {
    progress = &silent_;
  } else if (::isatty(::fileno(stderr))) {
    progress = &bar_;
  }
  host::SetProgress(progress);
}

HostOutput::~HostOutput() {
  host::SetProgress(nullptr);
}

std::string LoggedCounts(const RunReport& report) {
  std::string counts;
  if (report.failures > 0) counts = std::to_string(report.failures) + " failures";
  if (!report.notices.empty()) {
    counts += (counts.empty() ? "" : " and ") + std::to_string(report.notices.size()) + " notices";
  }
  return counts;
}

namespace {

// The first line of a job's end: the outcome, its time and what it
// counted, followed by `counted`.
void PrintHeadline(const std::string& outcome, const RunReport& report, const char* counted) {
  std::cout << outcome << " in " << static_cast<int>(report.seconds * 10) / 10.0 << " s";
  if (const std::string counts = LoggedCounts(report); !counts.empty()) {
    std::cout << ", " << counts << counted;
  }
  std::cout << "\n";
}

// The first failures, then the notices as warnings on stderr.
void PrintFailuresAndNotices(const RunReport& report) {
  constexpr std::size_t kShown = 10;
  for (std::size_t i = 0; i < report.messages.size() && i < kShown; ++i) {
    std::cout << "    " << report.messages[i] << "\n";
  }
  if (std::max(report.failures, static_cast<long>(report.messages.size())) >
      static_cast<long>(kShown)) {
    std::cout << "    ...\n";
  }
  for (const std::string& notice : report.notices) std::cerr << "warning: " << notice << "\n";
}

}  // namespace

void PrintTables(const std::vector<std::string>& tables) {
  if (tables.empty()) {
    std::cout << "  tables    none written\n";
    return;
  }
  constexpr std::size_t kListed = 12;
  std::cout << "  tables    " << tables.size() << " written:";
  for (std::size_t i = 0; i < tables.size() && i < kListed; ++i) std::cout << " " << tables[i];
  if (tables.size() > kListed) std::cout << " ...";
  std::cout << "\n";
  // The farmland tables of a rural run, the tables of a town-lot run and
  // those of a rural ownership-lot run, all of them.
  struct Group {
    const char* label;
    std::vector<const char*> parts;  // of a table's name in lower case
  };
  for (const Group& group : {Group{"  farmland  ", {"jbnt", "bhkktz"}},
                             Group{"  town lots ", {"czzd", "cztdly", "czfwxxtj"}},
                             Group{"  rural lots ", {"statdata_ncqs", "nczd_area"}}}) {
    std::string listed;
    std::size_t count = 0;
    for (const std::string& table : tables) {
      const std::string lower = text::ToLowerAscii(table);
      const auto part_of = [&](const char* part) { return lower.find(part) != std::string::npos; };
      if (std::none_of(group.parts.begin(), group.parts.end(), part_of)) continue;
      listed += " " + table;
      ++count;
    }
    if (count > 0) std::cout << group.label << count << ":" << listed << "\n";
  }
}

void PrintSummary(const std::string& outcome, const RunReport& report,
                  const std::string& connection, const std::string& log_path) {
  PrintHeadline(outcome, report, " logged");
  try {
    db::Connection database(connection);
    std::cout << (database.Kind() == db::DbKind::kServer ? "  server    " : "  database  ")
              << database.Location() << "\n";
  } catch (const db::DbError& error) {
    std::cout << "  database  " << error.what() << "\n";
  }
  PrintTables(report.tables);
  std::cout << "  log       " << log_path << "\n";
  if (report.failures > 0) std::cout << "  failures  " << report.failures << ":\n";
  PrintFailuresAndNotices(report);
}

void PrintOutcome(const std::string& outcome, const RunReport& report) {
  PrintHeadline(outcome, report, "");
  PrintFailuresAndNotices(report);
}

int ExitCodeOf(const RunReport& report) {
  switch (report.outcome) {
    case RunOutcome::kCompleted:
      return 0;
    case RunOutcome::kCompletedWithFailures:
      return 3;
    case RunOutcome::kFailed:
      return 1;
  }
  return 1;
}

int RunOnWorkplace(const Options& options, const std::string& command, const std::string& log_name,
                   bool create_database, const std::function<RunReport(Workplace&)>& work,
                   const std::string& done, const std::string& failed) {
  return GuardCommand(command, [&] {
    Workplace place;
    std::string error;
    if (!ResolveWorkplace(options, create_database, place, error, log_name)) {
      std::cerr << "landstat " << command << ": " << error << "\n";
      return 2;
    }
    HostOutput output(options);
    const RunReport report = work(place);
    PrintSummary(report.Completed() ? done : failed, report, place.connection, place.log_path);
    if (place.made_database && !report.Completed()) {
      // A failed job leaves no new file to be taken for its statistics.
      std::string why;
      if (RunWorkspace::RemoveMadeFile(place.database, why)) {
        std::cout << "  removed   " << place.database << " (made for this job)\n";
      } else {
        std::cout << "  could not remove " << place.database << ": " << why << "\n";
      }
    }
    return ExitCodeOf(report);
  });
}

int GuardCommand(const std::string& command, const std::function<int()>& body) {
  const std::string prefix = "landstat" + (command.empty() ? "" : " " + command) + ": ";
  try {
    return body();
  } catch (const fs::filesystem_error& error) {
    std::cerr << prefix << "cannot use " << error.path1().string() << ": " << error.code().message()
              << "\n";
  } catch (const std::exception& error) {
    std::cerr << prefix << error.what() << "\n";
  } catch (...) {
    std::cerr << prefix << "stopped by a failure of unknown kind\n";
  }
  return 1;
}

}  // namespace landstat::cli
