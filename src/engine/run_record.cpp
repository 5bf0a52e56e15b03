#include "engine/run_record.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "engine/shared_code_tables.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace {

constexpr char kTable[] = "StatRuns";
constexpr char kColumns[] = "RUNID, 年度, COUNTY, KIND, STARTED, FINISHED, OUTCOME, FAILURES";

std::string Now() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// LEFTOUT lists the families a run left out, joined by commas.
constexpr char kLeftOutColumn[] = "LEFTOUT";
constexpr char kDeclaration[] =
    " (RUNID int IDENTITY (1, 1) NOT NULL primary key, 年度 varchar(20), COUNTY varchar(20), "
    "KIND varchar(20), STARTED varchar(32), FINISHED varchar(32), OUTCOME varchar(40), "
    "FAILURES integer, LEFTOUT varchar(4000))";

// How each engine numbers the jobs by itself, so that two jobs starting at
// once on one server never take the same number: whether the table's RUNID
// is numbered so, and the number the connection's last insert took.
struct Numbering {
  db::DbKind kind;
  // Holds other jobs off the table until an upgrade's end; a write first,
  // so that SQLite waits for a job that writes rather than refusing.
  const char* hold;
  const char* numbered;
  const char* last_number;
  // The engine's own order of rows, which tells rows of one number apart.
  const char* row_order;
};

const std::vector<Numbering>& Numberings() {
  static const std::vector<Numbering> numberings = {
      {db::DbKind::kEmbedded, "update StatRuns set RUNID = RUNID where RUNID is null",
       "select count(*) from pragma_table_info('StatRuns') where lower(name) = 'runid' and pk = 1",
       "select last_insert_rowid()", "rowid"},
      {db::DbKind::kServer, "lock table StatRuns in exclusive mode",
       "select count(*) from pg_attribute where attrelid = 'statruns'::regclass and "
       "attname = 'runid' and attidentity <> ''",
       "select lastval()", "ctid"},
  };
  return numberings;
}

bool Numbered(db::Connection& connection, const Numbering& numbering) {
  return connection.Scalar(numbering.numbered).AsInteger() > 0;
}

bool HasLeftOutColumn(db::Connection& connection) {
  for (const db::ColumnInfo& column : connection.Columns(kTable)) {
    if (text::ToLowerAscii(column.name) == text::ToLowerAscii(kLeftOutColumn)) return true;
  }
  return false;
}

// A table of an earlier version, numbered by the jobs, is made anew: its
// rows keep their order, their numbers (some perhaps taken twice) are given
// anew. One numbered by the engine without the list of what a run left out
// gets that column, empty.
std::vector<std::string> UpgradeSteps(db::Connection& connection, const Numbering& numbering) {
  if (Numbered(connection, numbering)) {
    if (HasLeftOutColumn(connection)) return {};
    return {std::string("alter table StatRuns add ") + kLeftOutColumn + " varchar(4000)"};
  }
  const std::string columns = "年度, COUNTY, KIND, STARTED, FINISHED, OUTCOME, FAILURES";
  return {std::string("create table StatRuns_upgraded") + kDeclaration,
          "insert into StatRuns_upgraded (" + columns + ") select " + columns +
              " from StatRuns order by RUNID, " + numbering.row_order,
          "drop table StatRuns", "alter table StatRuns_upgraded rename to StatRuns"};
}

const Numbering& NumberingOf(db::Connection& connection) {
  for (const Numbering& numbering : Numberings()) {
    if (numbering.kind == connection.Kind()) return numbering;
  }
  throw db::DbError("no record of jobs on this kind of database");
}

// A table of an earlier version is upgraded in one transaction; a job that
// upgraded it meanwhile leaves nothing to do.
void Upgrade(db::Connection& connection, const Numbering& numbering) {
  connection.BeginTrans();
  try {
    connection.Execute(numbering.hold);
    for (const std::string& step : UpgradeSteps(connection, numbering)) connection.Execute(step);
    connection.CommitTrans();
  } catch (...) {
    connection.RollbackTrans();
    throw;
  }
}

void EnsureTable(db::Connection& connection, const Numbering& numbering) {
  if (!connection.TableExists(kTable)) {
    CreateSharedTable(connection, kTable, std::string("create table ") + kTable + kDeclaration);
  } else if (!Numbered(connection, numbering) || !HasLeftOutColumn(connection)) {
    Upgrade(connection, numbering);
  }
}

// The condition of a job that completed (with failures or without).
std::string Completed() {
  return " FINISHED is not null and OUTCOME <> " +
         db::QuoteText(RunOutcomeText(RunOutcome::kFailed));
}

// The newest row `where` picks; `where` holds values quoted by
// db::QuoteText. With `with_left_out`, the families the job left out too
// (none on a record of a version that did not keep them).
std::optional<RunRecordRow> FirstRow(db::Connection& connection, const std::string& where,
                                     bool with_left_out = false) {
  if (!connection.TableExists(kTable)) return std::nullopt;
  const bool left_out = with_left_out && HasLeftOutColumn(connection);
  db::Recordset rows(connection, std::string("select ") + kColumns +
                                     (left_out ? std::string(", ") + kLeftOutColumn : "") +
                                     " from " + kTable + where + " order by RUNID desc");
  if (rows.IsEOF()) return std::nullopt;
  RunRecordRow row;
  row.id = rows.Field("RUNID").AsInteger();
  row.year = rows.Text("年度");
  row.county = rows.Text("COUNTY");
  row.kind = rows.Text("KIND");
  row.started = rows.Text("STARTED");
  row.finished = rows.IsNull("FINISHED") ? "" : rows.Text("FINISHED");
  row.outcome = rows.IsNull("OUTCOME") ? "" : rows.Text("OUTCOME");
  row.failures = rows.IsNull("FAILURES") ? 0 : rows.Field("FAILURES").AsInteger();
  if (left_out && !rows.IsNull(kLeftOutColumn)) row.left_out = rows.Text(kLeftOutColumn);
  return row;
}

}  // namespace

const char* RunOutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kCompleted:
      return "completed";
    case RunOutcome::kCompletedWithFailures:
      return "completed with failures";
    case RunOutcome::kFailed:
      return "failed";
  }
  return "failed";
}

long BeginRunRecord(db::Connection& connection, const std::string& year, const std::string& county,
                    const std::string& kind) {
  const Numbering& numbering = NumberingOf(connection);
  EnsureTable(connection, numbering);
  connection.Execute(
      std::string("insert into ") + kTable + " (年度, COUNTY, KIND, STARTED) values (?, ?, ?, ?)",
      {db::Value(year), db::Value(county), db::Value(kind), db::Value(Now())});
  return connection.Scalar(numbering.last_number).AsInteger();
}

void FinishRunRecord(db::Connection& connection, long id, RunOutcome outcome, long failures) {
  connection.Execute(
      std::string("update ") + kTable +
          " set FINISHED = ?, OUTCOME = ?, FAILURES = ? where RUNID = ?",
      {db::Value(Now()), db::Value(RunOutcomeText(outcome)),
       db::Value(static_cast<long long>(failures)), db::Value(static_cast<long long>(id))});
}

void RecordTablesLeftOut(db::Connection& connection, long id, const std::set<std::string>& tables) {
  std::string listed;
  for (const std::string& table : tables) listed += (listed.empty() ? "" : ",") + table;
  connection.Execute(
      std::string("update ") + kTable + " set " + kLeftOutColumn + " = ? where RUNID = ?",
      {db::Value(listed), db::Value(static_cast<long long>(id))});
}

namespace {

// The tables the newest completed run of `job` left out, as recorded.
std::vector<std::string> TablesLeftOutByRun(db::Connection& connection, const std::string& year,
                                            const std::string& county, const char* job) {
  std::vector<std::string> tables;
  const std::optional<RunRecordRow> run =
      FirstRow(connection,
               " where 年度 = " + db::QuoteText(year) + " and COUNTY = " + db::QuoteText(county) +
                   " and KIND = " + db::QuoteText(job) + " and" + Completed(),
               true);
  if (!run) return tables;
  std::istringstream listed(run->left_out);
  for (std::string table; std::getline(listed, table, ',');) {
    if (!table.empty()) tables.push_back(table);
  }
  return tables;
}

}  // namespace

std::set<std::string> FamiliesLeftOutByRun(db::Connection& connection, const std::string& year,
                                           const std::string& county, FamilyKind kind) {
  const bool town = kind == FamilyKind::kTown;
  const std::vector<std::string> recorded =
      TablesLeftOutByRun(connection, year, county, town ? "town" : "run");
  if (recorded.empty()) return {};
  std::set<std::string> families;
  for (const TableFamily* family : town ? TownFamiliesInStageOrder() : FamiliesInStageOrder()) {
    families.insert(family->base);
  }
  std::vector<const char*> tables;
  for (const std::string& table : recorded) tables.push_back(table.c_str());
  const std::vector<std::string> reading = FamiliesReading(families, tables, kind);
  return {reading.begin(), reading.end()};
}

std::optional<RunRecordRow> LastRunRecord(db::Connection& connection, const std::string& year,
                                          const std::string& county) {
  if (year.empty() && county.empty()) return FirstRow(connection, "");
  return FirstRow(connection, " where 年度 = " + db::QuoteText(year) +
                                  " and COUNTY = " + db::QuoteText(county));
}

std::optional<RunRecordRow> LastRunRecordOfKind(db::Connection& connection, const std::string& year,
                                                const std::string& county,
                                                const std::string& kind) {
  return FirstRow(connection, " where 年度 = " + db::QuoteText(year) + " and COUNTY = " +
                                  db::QuoteText(county) + " and KIND = " + db::QuoteText(kind));
}

std::optional<RunRecordRow> LastCompletedRun(db::Connection& connection, const std::string& kind) {
  return FirstRow(connection, " where" + Completed() +
                                  (kind.empty() ? "" : " and KIND = " + db::QuoteText(kind)));
}

namespace {

// "YEAR COUNTY" of every completed statistics run, oldest first.
std::vector<std::string> CompletedRuns(db::Connection& connection) {
  std::vector<std::string> held;
  if (!connection.TableExists(kTable)) return held;
  db::Recordset rows(connection, std::string("select 年度, COUNTY, max(RUNID) from ") + kTable +
                                     " where KIND = 'run' and" + Completed() +
                                     " group by 年度, COUNTY order by max(RUNID)");
  for (; !rows.IsEOF(); rows.MoveNext()) {
    held.push_back(rows.Text("年度") + " " + rows.Text("COUNTY"));
  }
  return held;
}

std::string JoinHeld(const std::vector<std::string>& held) {
  std::string text;
  for (const std::string& one : held) text += (text.empty() ? "" : ", ") + one;
  return text;
}

}  // namespace

std::string HeldStatisticsProblem(db::Connection& connection, const std::string& year,
                                  const std::string& county) {
  const std::string wanted = year + " " + county;
  const std::vector<std::string> runs = CompletedRuns(connection);
  std::vector<std::string> held = runs;
  if (connection.Kind() == db::DbKind::kEmbedded) {
    // The file holds what its newest completed job worked on.
    const std::optional<RunRecordRow> last = LastCompletedRun(connection);
    held.clear();
    if (last) held.push_back(last->year + " " + last->county);
  }
  const auto holds = [&](const std::vector<std::string>& list) {
    return std::find(list.begin(), list.end(), wanted) != list.end();
  };
  if (holds(runs) && holds(held)) return "";
  // A file whose newest job (a town-lot or Inner Mongolia one, say) is of
  // the year and county may still hold no statistics run of them.
  const std::string holding =
      held.empty()  ? "no completed statistics run, not those of " + wanted
      : holds(held) ? "no completed statistics run of " + wanted
                    : "the statistics of " + JoinHeld(held) + ", not those of " + wanted;
  return "the statistics database " + connection.Location() + " holds " + holding +
         ": run the statistics of " + wanted + " first";
}

std::string HeldStatisticsProblem(const std::string& connection, const std::string& year,
                                  const std::string& county) {
  try {
    db::Connection database(connection);
    return HeldStatisticsProblem(database, year, county);
  } catch (const db::DbError& error) {
    return std::string("cannot read what the statistics database holds: ") + error.what();
  }
}

std::string ReadableStatisticsProblem(db::Connection& connection, const std::string& year,
                                      const std::string& county) {
  if (const auto last = LastRunRecord(connection, year, county); last && !last->Finished()) {
    return "the last job of " + year + " " + county + " in " + connection.Location() +
           " did not finish: run the statistics again first";
  }
  return HeldStatisticsProblem(connection, year, county);
}

std::vector<std::string> CompletedYears(db::Connection& connection, const std::string& county) {
  if (!connection.TableExists(kTable)) return {};
  const std::string where = county.empty() ? "" : " where COUNTY = " + db::QuoteText(county);
  db::Recordset rows(connection, std::string("select ") + kColumns + " from " + kTable + where +
                                     " order by RUNID");
  struct YearState {
    bool completed = false;  // some job of the year completed
    bool last_finished = false;
  };
  std::map<std::string, YearState> years;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    YearState& year = years[rows.Text("年度")];
    year.last_finished = !rows.IsNull("FINISHED");
    const bool failed =
        rows.IsNull("OUTCOME") || rows.Text("OUTCOME") == RunOutcomeText(RunOutcome::kFailed);
    year.completed = year.completed || (year.last_finished && !failed);
  }
  std::vector<std::string> completed;
  for (const auto& [year, state] : years) {
    if (state.completed && state.last_finished) completed.push_back(year);
  }
  return completed;
}

std::vector<std::string> HeldStatisticsYears(db::Connection& connection,
                                             const std::string& county) {
  std::vector<std::string> years = CompletedYears(connection, county);
  std::erase_if(years, [&](const std::string& year) {
    return !HeldStatisticsProblem(connection, year, county).empty();
  });
  return years;
}

std::vector<std::string> ReadYears(
    const std::string& connection, std::string& error,
    const std::function<std::vector<std::string>(db::Connection&)>& read) {
  error.clear();
  try {
    db::Connection database(connection);
    return read(database);
  } catch (const db::DbError& failure) {
    error = "cannot read the years held in " + db::DescribeConnection(connection) + ": " +
            failure.what();
    return {};
  }
}

std::vector<std::string> HeldStatisticsYears(const std::string& connection,
                                             const std::string& county, std::string& error) {
  return ReadYears(connection, error,
                   [&](db::Connection& database) { return HeldStatisticsYears(database, county); });
}

}  // namespace landstat
