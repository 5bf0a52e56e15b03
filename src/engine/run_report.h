#pragma once

#include <string>
#include <vector>

#include "engine/run_record.h"

namespace landstat {

namespace gis {
class RuralCode;
}

// What every job works on: the statistics database of a county and year,
// the survey's code table and the log.
struct JobTarget {
  gis::RuralCode* codes = nullptr;
  std::string connection;  // the statistics database
  std::string year, county, log_path;
  short db_mode = 0;  // 0 embedded, plain names; 1 a server, 2 an Oracle one
};

// What a job (a statistics run, a unit conversion) tells the host that ran
// it. A job that failed changed nothing that was stored before it; one that
// completed with failures built everything it could and logged the rest.
struct RunReport {
  RunOutcome outcome = RunOutcome::kFailed;
  long failures = 0;                  // the failures written to the log
  std::vector<std::string> messages;  // the first of them, as logged
  std::vector<std::string> notices;   // what the operator should know; no failures
  std::vector<std::string> tables;    // the tables the job wrote; none when it failed
  double seconds = 0;

  bool Completed() const { return outcome != RunOutcome::kFailed; }
  // The result of the exported functions: 1 when the job completed, 0 when
  // it failed.
  short Result() const { return Completed() ? 1 : 0; }
};

}  // namespace landstat
