#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/table_family.h"
#include "platform/db/connection.h"

namespace landstat {

// The record a statistics database keeps of the jobs run on it: one row per
// run or conversion, written when the job starts and completed when it ends.
// A row without an end is a job that did not finish (killed, or the machine
// stopped), so readers of its year know that its tables cannot be trusted.
// The table "StatRuns" is shared by every year and county of a database.

// How a job ended.
enum class RunOutcome {
  kCompleted,              // every table built, nothing logged
  kCompletedWithFailures,  // completed, with failures written to the log
  kFailed,                 // ended early; the earlier results were kept
};
const char* RunOutcomeText(RunOutcome outcome);

struct RunRecordRow {
  long id = 0;
  std::string year, county, kind, started, finished, outcome;
  long failures = 0;
  std::string left_out;  // the families the job left out, joined by commas
  bool Finished() const { return !finished.empty(); }
  bool Succeeded() const { return Finished() && outcome != RunOutcomeText(RunOutcome::kFailed); }
};

// Writes the start of a job (kind "run" or "convert") and returns its id;
// raises DbError when the record cannot be written.
long BeginRunRecord(db::Connection& connection, const std::string& year, const std::string& county,
                    const std::string& kind);

// Writes the end of a job; raises DbError when the record cannot be written.
void FinishRunRecord(db::Connection& connection, long id, RunOutcome outcome, long failures);

// Writes into a job's record the tables it left out, by family base name:
// the families a layer lacked a field for and the tables of any run that
// need such a field, whose figures its base table cannot give. Raises
// DbError.
void RecordTablesLeftOut(db::Connection& connection, long id, const std::set<std::string>& tables);

// The families of `kind` that the newest completed run of that kind of a
// year and county (the statistics run for the general families, the
// town-lot run for the town ones) left out (RecordTablesLeftOut), with
// every family of the kind that reads them: a job that builds tables from
// that run's base tables, or reads its tables, leaves them out too. None
// for a run that left none out or was recorded by a version that did not
// keep them. Raises DbError.
std::set<std::string> FamiliesLeftOutByRun(db::Connection& connection, const std::string& year,
                                           const std::string& county, FamilyKind kind);

// The newest job of a year and county (any year and county when both are
// empty), if any was recorded.
std::optional<RunRecordRow> LastRunRecord(db::Connection& connection, const std::string& year = "",
                                          const std::string& county = "");

// The newest job of a kind ("run", "convert" ...) of a year and county, if
// any was recorded.
std::optional<RunRecordRow> LastRunRecordOfKind(db::Connection& connection, const std::string& year,
                                                const std::string& county, const std::string& kind);

// The years of a county (of every county when `county` is empty) with a job
// that completed, sorted; a year whose newest job did not finish is left
// out, since its tables cannot be trusted.
std::vector<std::string> CompletedYears(db::Connection& connection, const std::string& county);

// The newest job that completed, of any year and county: what a database
// file holds; with `kind`, the newest of that kind ("mongolia": what the
// tables of that job, named without year or county, hold).
std::optional<RunRecordRow> LastCompletedRun(db::Connection& connection,
                                             const std::string& kind = "");

// Whether the database holds the statistics of a year and county, for a job
// that reads them (a conversion, a town-lot run, the reports): empty when a
// statistics run of them completed, and, in an embedded file (one county and
// year, its tables named without either), when no job of another year or
// county completed after it. Otherwise what the database holds instead,
// for the job's refusal. Raises DbError when the record cannot be read.
std::string HeldStatisticsProblem(db::Connection& connection, const std::string& year,
                                  const std::string& county);
// The same on the database a connection string names; a database that
// cannot be opened or read is a problem too.
std::string HeldStatisticsProblem(const std::string& connection, const std::string& year,
                                  const std::string& county);

// Whether a job may read the tables of a year and county (a report, the
// report data, a merge): empty when it may; otherwise why not: the last job
// of them did not finish, so its tables may be incomplete, or the database
// does not hold them (HeldStatisticsProblem). Raises DbError when the
// record cannot be read.
std::string ReadableStatisticsProblem(db::Connection& connection, const std::string& year,
                                      const std::string& county);

// The years of a county whose statistics the database holds, in the sense
// of HeldStatisticsProblem, sorted: an embedded file holds one at most.
// Raises DbError when the record cannot be read.
std::vector<std::string> HeldStatisticsYears(db::Connection& connection, const std::string& county);

// The years `read` finds in the database a connection string names. A
// database that cannot be opened or read (a damaged file, a server out of
// reach) gives none, and `error` says why, naming the file or the server
// (never its password); `error` is emptied when the years were read.
std::vector<std::string> ReadYears(
    const std::string& connection, std::string& error,
    const std::function<std::vector<std::string>(db::Connection&)>& read);
// HeldStatisticsYears on the database a connection string names, as
// ReadYears reads it.
std::vector<std::string> HeldStatisticsYears(const std::string& connection,
                                             const std::string& county, std::string& error);

}  // namespace landstat
