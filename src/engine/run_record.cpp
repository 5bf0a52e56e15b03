#include "engine/run_record.h"

#include <chrono>
#include <ctime>
#include <map>
#include <vector>

#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"

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

void EnsureTable(db::Connection& connection) {
  if (connection.TableExists(kTable)) return;
  connection.Execute(std::string("create table ") + kTable +
                     " (RUNID integer, 年度 varchar(20), COUNTY varchar(20), KIND varchar(20), "
                     "STARTED varchar(32), FINISHED varchar(32), OUTCOME varchar(40), "
                     "FAILURES integer)");
}

// `where` holds values quoted by db::QuoteText.
std::optional<RunRecordRow> FirstRow(db::Connection& connection, const std::string& where) {
  if (!connection.TableExists(kTable)) return std::nullopt;
  db::Recordset rows(connection, std::string("select ") + kColumns + " from " + kTable + where +
                                     " order by RUNID desc");
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
  EnsureTable(connection);
  const long id =
      connection.Scalar(std::string("select coalesce(max(RUNID), 0) + 1 from ") + kTable)
          .AsInteger();
  connection.Execute(std::string("insert into ") + kTable +
                         " (RUNID, 年度, COUNTY, KIND, STARTED) values (?, ?, ?, ?, ?)",
                     {db::Value(static_cast<long long>(id)), db::Value(year), db::Value(county),
                      db::Value(kind), db::Value(Now())});
  return id;
}

void FinishRunRecord(db::Connection& connection, long id, RunOutcome outcome, long failures) {
  connection.Execute(
      std::string("update ") + kTable +
          " set FINISHED = ?, OUTCOME = ?, FAILURES = ? where RUNID = ?",
      {db::Value(Now()), db::Value(RunOutcomeText(outcome)),
       db::Value(static_cast<long long>(failures)), db::Value(static_cast<long long>(id))});
}

std::optional<RunRecordRow> LastRunRecord(db::Connection& connection, const std::string& year,
                                          const std::string& county) {
  if (year.empty() && county.empty()) return FirstRow(connection, "");
  return FirstRow(connection, " where 年度 = " + db::QuoteText(year) +
                                  " and COUNTY = " + db::QuoteText(county));
}

std::optional<RunRecordRow> LastCompletedRun(db::Connection& connection) {
  return FirstRow(connection, std::string(" where FINISHED is not null and OUTCOME <> ") +
                                  db::QuoteText(RunOutcomeText(RunOutcome::kFailed)));
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

}  // namespace landstat
