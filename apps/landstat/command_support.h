#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "engine/run_report.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"

namespace landstat::cli {

// What a command works on: the survey project (when given), the county,
// the code table, the statistics database and the log.
struct Workplace {
  std::unique_ptr<gis::CGisXmlPrj> project;
  std::string year, county;
  std::unique_ptr<gis::RuralCode> codes;
  bool server = false;
  std::string database;        // the SQLite file; empty on a server
  bool made_database = false;  // made for this job: removed again when the job fails
  std::string connection;      // what the engine opens
  std::string log_path;

  // What a job of the engine is told of this place.
  JobTarget Target() const {
    return {codes.get(), connection, year, county, log_path, static_cast<short>(server ? 1 : 0)};
  }
};

// Resolves the options shared by the commands: --project, --year,
// --county, --codes, --db, --server, --log, --home. A missing SQLite file is
// made when `create_database` is set, else refused. A job that logs names
// its own log, YEAR + COUNTY + `log_name` beside the database (or --log),
// which is made empty; a command that only reads gives no name and leaves
// every log alone. Nothing is made before every option was found sound, and
// a log that is an input of the job, a symbolic link or cannot be made is
// refused. `error` says what is wrong (exit 2); a file that cannot be read
// raises GisError or DbError.
bool ResolveWorkplace(const Options& options, bool create_database, Workplace& place,
                      std::string& error, const std::string& log_name = {});

// Sees that the log at `path` can be made before anything is: opened without
// losing a line and closed again. `made` tells whether it was made now.
bool LogCanBeMade(const std::string& path, bool& made, std::string& error);

// What is wrong with `connection` given as --server: a file would be run
// with a server's table names. Empty when it names a server.
std::string ServerOptionProblem(const std::string& connection);

std::string ThisYear();

// The progress on stderr for the lifetime of a command: a bar on a
// terminal, one plain line per stage otherwise, nothing with --quiet; and
// the messages on stderr.
class HostOutput {
 public:
  explicit HostOutput(const Options& options);
  ~HostOutput();

 private:
  host::TerminalProgress bar_;
  host::StageLines lines_;
  host::SilentProgress silent_;
  host::StderrNotifier notifier_;
  host::ScopedNotifier scoped_;
};

// The options every command that works on a county takes, and `own`.
OptionSpecs WorkplaceOptions(const OptionSpecs& own = {});

// Runs `body` and gives its exit code; any exception it lets out is
// reported on stderr under the command's name and gives 1.
int GuardCommand(const std::string& command, const std::function<int()>& body);

// The frame of a command: resolves the workplace with the job's own log
// `log_name`, runs `work` with the progress and messages, prints the
// summary with `done` or `failed`. Exits as ExitCodeOf the job's report, 1
// when anything was thrown, 2 on wrong options.
int RunOnWorkplace(const Options& options, const std::string& command, const std::string& log_name,
                   bool create_database, const std::function<RunReport(Workplace&)>& work,
                   const std::string& done, const std::string& failed);

// The end of a job that works on files rather than on one statistics
// database (the merge, the batch, the report data): the outcome with its
// time and the failures and notices it counted, with the first failures.
void PrintOutcome(const std::string& outcome, const RunReport& report);

// What a job counted, failures and notices apart: "2 failures and 9
// notices"; empty when it counted neither.
std::string LoggedCounts(const RunReport& report);

// The tables a job wrote: how many, the first of them, then its farmland,
// town-lot and rural-lot tables, all of them; "none written" for none.
void PrintTables(const std::vector<std::string>& tables);

// 0 when the job completed with nothing logged, 3 when it completed with
// logged failures, 1 when it failed.
int ExitCodeOf(const RunReport& report);

// The end of a command: the outcome with its time and what it logged,
// failures and notices apart, the database file or the server's host, port
// and database (never the connection string, which may hold a password),
// the tables the job wrote, its log and its first failures.
void PrintSummary(const std::string& outcome, const RunReport& report,
                  const std::string& connection, const std::string& log_path);

}  // namespace landstat::cli
