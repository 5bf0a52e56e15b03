// landstat merge: a rural and a town statistics database merged into one.

#include <filesystem>
#include <iostream>
#include <memory>

#include "command_support.h"
#include "operator/merge.h"
#include "platform/gis/rural_code.h"
#include "platform/host/input_checks.h"
#include "platform/host/log_file.h"
#include "platform/host/paths.h"

namespace landstat::cli {

const char* const MergeHelp =
    "usage: landstat merge --rural FILE --town FILE --codes FILE [--mode MODE] [options]\n"
    "\n"
    "Merges a rural and a town statistics database of one county and year: the rows of the\n"
    "rural base table statdata whose 城镇用地 is not 1 (rows without a mark included) and\n"
    "the rows of the town one whose 城镇用地 is 1 go into one base table, on which the unit\n"
    "copies and the land-use summary tables (TDLY_YJFL ... TDLYTZ) are built again. The\n"
    "merge works on a scratch copy beside its target (swept by the next job on the target\n"
    "should the merge be killed); the result replaces its target by one rename, and the\n"
    "merge is recorded in StatRuns (kind merge).\n"
    "\n"
    "  --rural FILE     the rural statistics database (SQLite)\n"
    "  --town FILE      the town statistics database (SQLite)\n"
    "  --mode MODE      rural (1, default): replace the rural database; town (2): replace\n"
    "                   the town database; new (3): write a new file named as the rural one\n"
    "                   into --out\n"
    "  --out DIR        the folder of the new file (mode new)\n"
    "  --codes FILE     the code file of the county\n"
    "  --home DIR       the configuration root (the units of the rebuilt tables)\n"
    "  --log FILE       the log of the rebuilt tables' failures (made empty first)\n"
    "\n"
    "Two base tables whose columns differ, databases of different years or counties, a\n"
    "database whose last job did not finish, the same file given twice, a new file (mode\n"
    "new) or a log that would be one of the inputs, and a target another job is working on\n"
    "are refused. The target's job lock (TARGET.lock) is held until the result is in\n"
    "place. A failed merge leaves both databases as they were.\n"
    "\n"
    "Exits 0 when merged with nothing logged, 3 when merged with failures logged, 1 when\n"
    "the merge failed (inputs unchanged), 2 on wrong options.\n";

const OptionSpecs MergeOptions = {{"rural", false}, {"town", false},  {"mode", false},
                                  {"out", false},   {"codes", false}, {"home", false},
                                  {"log", false},   {"quiet", true}};

namespace {

short MergeModeOf(const std::string& text) {
  if (text.empty() || text == "rural" || text == "1") return kMergeIntoRural;
  if (text == "town" || text == "2") return kMergeIntoTown;
  if (text == "new" || text == "3") return kMergeToNew;
  return 0;
}

}  // namespace

int Merge(const Options& options) {
  const short mode = MergeModeOf(options.Get("mode"));
  if (mode == 0) {
    std::cerr << "landstat merge: --mode must be rural, town or new (1, 2, 3)\n";
    return 2;
  }
  for (const char* required : {"rural", "town", "codes"}) {
    if (options.Get(required).empty()) {
      std::cerr << "landstat merge: --" << required << " is required (see landstat merge --help)\n";
      return 2;
    }
  }
  if (mode == kMergeToNew && options.Get("out").empty()) {
    std::cerr << "landstat merge: --mode new needs --out\n";
    return 2;
  }
  return GuardCommand("merge", [&] {
    if (options.Has("home")) {
      if (!std::filesystem::is_directory(options.Get("home"))) {
        std::cerr << "landstat merge: --home " << options.Get("home") << " is not a folder\n";
        return 2;
      }
      host::SetProgramDir(options.Get("home"));
    }
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(options.Get("codes")));
    MergeRequest request;
    request.rural = options.Get("rural");
    request.town = options.Get("town");
    request.output_folder = options.Get("out");
    request.codes = codes.get();
    request.mode = mode;
    request.log_path = options.Get("log");
    if (!host::InputWrittenBy(request.log_path, {request.rural, request.town, options.Get("codes")})
             .empty()) {
      std::cerr << "landstat merge: --log " << request.log_path << " is an input of the merge\n";
      return 2;
    }
    std::string error;
    bool log_made = false;
    if (!request.log_path.empty() && !LogCanBeMade(request.log_path, log_made, error)) {
      std::cerr << "landstat merge: " << error << "\n";
      return 2;
    }
    HostOutput output(options);
    const MergeResult result = MergeStatistics(request);
    // The merge writes its log when it rebuilds the tables; one refused
    // before that leaves no empty log of its own behind.
    std::error_code unknown;
    if (log_made && !result.report.Completed() &&
        std::filesystem::is_regular_file(request.log_path, unknown) &&
        std::filesystem::file_size(request.log_path, unknown) == 0) {
      std::filesystem::remove(request.log_path, unknown);
    }
    PrintOutcome(result.message, result.report);
    if (result.report.Completed()) {
      std::cout << "  database  " << result.target << "\n";
      PrintTables(result.report.tables);
    }
    return ExitCodeOf(result.report);
  });
}

}  // namespace landstat::cli
