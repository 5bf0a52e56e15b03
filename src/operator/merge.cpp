// The merge of a rural and a town statistics database.

#include "operator/merge.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "operator/scratch_file.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/sqlite_backend.h"
#include "platform/host/host_settings.h"
#include "platform/host/input_checks.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace fs = std::filesystem;

namespace {

// 城镇用地 read as text, so that the number 1 and the text '1' agree.
constexpr char kTownMark[] = "trim(cast(城镇用地 as varchar(20))) = '1'";

// The rows of a base table that are not town rows: those marked otherwise
// and those without a mark.
std::string NonTownRows() {
  return std::string("城镇用地 is null or not ") + kTownMark;
}

short DeleteStatRows(const std::string& connect, const std::string& where) {
  try {
    db::Connection database(connect);
    database.Execute("delete from statdata where " + where);
    return 1;
  } catch (const db::DbError&) {
    return 0;
  }
}

// The merge's result so far: the operator's message and the failure it
// names.
struct Outcome {
  MergeResult result;
  void Fail(const std::string& message, const std::string& why) {
    result.message = message;
    result.report.outcome = RunOutcome::kFailed;
    result.report.failures += 1;
    if (!why.empty()) result.report.messages.push_back(why);
  }
};

// The statistics a database holds: its newest completed job. Sets `why`
// when the file is no statistics database or lacks its base table.
struct Held {
  std::string year, county;
  std::vector<db::ColumnInfo> columns;
};

std::optional<Held> ReadHeld(const std::string& path, const char* missing_table, Outcome& outcome) {
  try {
    db::Connection database(path);
    if (!database.TableExists("statdata")) {
      outcome.Fail(missing_table, path + " has no base table statdata");
      return std::nullopt;
    }
    const std::optional<RunRecordRow> last = LastCompletedRun(database);
    if (!last) {
      outcome.Fail(missing_table, path + " holds no completed statistics run");
      return std::nullopt;
    }
    // Tables of a job that did not finish may be incomplete.
    if (const std::string problem = ReadableStatisticsProblem(database, last->year, last->county);
        !problem.empty()) {
      outcome.Fail("合并失败！", problem);
      return std::nullopt;
    }
    return Held{last->year, last->county, database.Columns("statdata")};
  } catch (const db::DbError& error) {
    outcome.Fail("连接数据失败！", path + " is no statistics database (" + error.what() + ")");
    return std::nullopt;
  }
}

// The first column in which the two base tables differ, as "N: A / B";
// empty when they have the same columns in the same order.
std::string FirstDifferingColumn(const std::vector<db::ColumnInfo>& rural,
                                 const std::vector<db::ColumnInfo>& town) {
  const std::size_t count = std::max(rural.size(), town.size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::string a = i < rural.size() ? rural[i].name : "(none)";
    const std::string b = i < town.size() ? town[i].name : "(none)";
    if (text::ToLowerAscii(a) != text::ToLowerAscii(b)) {
      return "column " + std::to_string(i + 1) + ": " + a + " / " + b;
    }
  }
  return "";
}

// Where the merge writes, by mode; empty (with the failure) when it cannot.
std::string TargetOf(const MergeRequest& request, Outcome& outcome) {
  if (request.mode == kMergeIntoRural) return request.rural;
  if (request.mode == kMergeIntoTown) return request.town;
  std::error_code unusable;
  if (request.output_folder.empty()) {
    outcome.Fail("选择输出数据路径！", "no output folder given");
    return "";
  }
  if (!fs::is_directory(request.output_folder, unusable)) {
    outcome.Fail("合并失败！", "the output folder " + request.output_folder + " is not a folder");
    return "";
  }
  const std::string target =
      (fs::path(request.output_folder) / fs::path(request.rural).filename()).string();
  if (const std::string input =
          host::InputWrittenBy(target, {request.rural, request.town, request.codes->Path()});
      !input.empty()) {
    outcome.Fail("选择输出数据路径！", "the new file " + target + " would replace the input " +
                                           input + ": choose another output folder");
    return "";
  }
  return target;
}

// The checks before any copy is made: mode, code table, distinct inputs,
// no job on them, both statistics of one year and county with the same
// base-table columns. Gives the year and county held.
std::optional<Held> CheckInputs(const MergeRequest& request, Outcome& outcome) {
  if (request.mode < kMergeIntoRural || request.mode > kMergeToNew) {
    outcome.Fail("参数传递错误！",
                 "merge mode " + std::to_string(request.mode) + " is not 1, 2 or 3");
    return std::nullopt;
  }
  if (!request.codes) {
    outcome.Fail("没有数据字典,无法合并！", "no code table given");
    return std::nullopt;
  }
  std::error_code unusable;
  if (request.rural.empty() || request.town.empty()) {
    outcome.Fail("请选择数据！", "the rural or the town database is not given");
    return std::nullopt;
  }
  if (request.rural == request.town || fs::equivalent(request.rural, request.town, unusable)) {
    outcome.Fail("选择的数据相同！", request.rural + " is both the rural and the town database");
    return std::nullopt;
  }
  for (const std::string& input : {request.rural, request.town}) {
    if (RunWorkspace::JobRunningOn(input)) {
      outcome.Fail("合并数据失败！", "a job is running on " + input);
      return std::nullopt;
    }
  }
  std::optional<Held> rural = ReadHeld(request.rural, "连接农村数据statdata失败！", outcome);
  if (!rural) return std::nullopt;
  std::optional<Held> town = ReadHeld(request.town, "连接城镇数据statdata失败！", outcome);
  if (!town) return std::nullopt;
  if (rural->year != town->year || rural->county != town->county) {
    outcome.Fail("合并失败！", "the rural database holds " + rural->year + " " + rural->county +
                                   ", the town database " + town->year + " " + town->county);
    return std::nullopt;
  }
  if (const std::string differs = FirstDifferingColumn(rural->columns, town->columns);
      !differs.empty()) {
    outcome.Fail("合并失败！", "the two base tables statdata differ in " + differs);
    return std::nullopt;
  }
  return rural;
}

// The rows of the contributing database's base table that `where` selects
// added to the receiving copy's, column by column as both name them. The
// contributing database is only read.
void AddRows(const std::string& receiving, const std::string& contributing,
             const std::string& where) {
  db::Connection database(receiving);
  database.Execute("attach database ? as merge_source", {db::Value(contributing)});
  database.Execute("insert into statdata select * from merge_source.statdata where " + where);
  database.Execute("detach database merge_source");
}

struct SummaryPair {
  const char* base;  // of the family's tables
  short (CStatContext::*create)();
  std::function<short(CStatContext&)> fill;
};

// The land-use summary families the merge rebuilds, in order.
const std::vector<SummaryPair>& SummaryPairs() {
  static const std::vector<SummaryPair> pairs = {
      {"TDLY_YJFL", &CStatContext::CreateTdlyYjflTables,
       [](CStatContext& c) { return c.StatTdlyClass(1); }},
      {"TDLY_EJFL", &CStatContext::CreateTdlyEjflTables,
       [](CStatContext& c) { return c.StatTdlyClass(2); }},
      {"TDLY_SJFL", &CStatContext::CreateTdlySjflTables,
       [](CStatContext& c) { return c.StatTdlySjfl(); }},
      {"NCTDLY_YJFL", &CStatContext::CreateNcTdlyYjflTables,
       [](CStatContext& c) { return c.StatNcTdlyClass(1); }},
      {"NCTDLY_EJFL", &CStatContext::CreateNcTdlyEjflTables,
       [](CStatContext& c) { return c.StatNcTdlyClass(2); }},
      {"NCTDLY_SJFL", &CStatContext::CreateNcTdlySjflTables,
       [](CStatContext& c) { return c.StatNcTdlySjfl(); }},
      {"NCTDLY_QSYJFL", &CStatContext::CreateNcTdlyQsYjflTables,
       [](CStatContext& c) { return c.StatTdlyQsYjfl(1); }},
      {"TDLY_QSYJFL", &CStatContext::CreateTdlyQsYjflTables,
       [](CStatContext& c) { return c.StatTdlyQsYjfl(0); }},
      {"FRDTDLY_YJFL", &CStatContext::CreateFrdTdlyYjflTables,
       [](CStatContext& c) { return c.StatFrdTdly(1); }},
      {"FRDTDLY_EJFL", &CStatContext::CreateFrdTdlyEjflTables,
       [](CStatContext& c) { return c.StatFrdTdly(2); }},
      {"GDPDMJHZ", &CStatContext::CreateGdPdMjHzTables,
       [](CStatContext& c) { return c.StatGdPdMjHz(); }},
      {"TDLYTZ", &CStatContext::CreateTdlyTzTables, [](CStatContext& c) { return c.StatTdlyTz(); }},
  };
  return pairs;
}

// The unit-less summaries an earlier conversion left in the receiving file
// were summed from its rows before the merge: they are removed with the unit
// recorded for them, and a notice says that a conversion of the merged file
// makes them again.
void DropEarlierConversion(CStatContext& context) {
  std::string dropped;
  for (const TableFamily* family : ConvertedFamilies()) {
    const std::string table = context.Names().Plain(family->base);
    if (context.IsTableExist(table) == 0) continue;
    if (context.DropTable(table) == 0 || context.RecordTableUnit(family->base, kNoUnit) == 0) {
      context.LogFailure("合并", "cannot remove " + table + " of an earlier conversion");
      continue;
    }
    dropped += (dropped.empty() ? "" : ", ") + table;
  }
  if (!dropped.empty()) {
    context.LogNotice("合并", "the tables of an earlier unit conversion (" + dropped +
                                  ") held the figures before the merge and are removed: convert "
                                  "the merged file again to have them");
  }
}

// The unit copies and the summaries rebuilt on the receiving copy, the
// merge recorded in it; `made` gets the base names of the summary tables
// made.
// False when the context or the unit copies failed.
bool Rebuild(const MergeRequest& request, const Held& held, const std::string& receiving,
             Outcome& outcome, std::vector<std::string>& made) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, request.codes, held.year, held.county,
                       request.log_path, 1, host::HostVersion());
  context.m_bWorkingCopy = true;
  context.OpenStatLogFile();
  bool built = false;
  try {
    built = context.InitUnits(receiving, 0) > 0 && context.LoadCodes() > 0;
    const long record =
        built ? BeginRunRecord(context.m_pConn, held.year, held.county, "merge") : 0;
    host::LindoDlgProgressSetText("正在生成扩展基础数据");
    built = built && context.CreateUnitStatTables() > 0 && context.FillUnitStatTables() > 0;
    if (built) {
      const std::vector<SummaryPair>& pairs = SummaryPairs();
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        // A full or failing disk a family went on from, or the operator's
        // cancel, fails the merge.
        context.EndIfStopped("合并");
        host::StepStage(static_cast<long>(i), static_cast<long>(pairs.size()));
        if ((context.*pairs[i].create)() <= 0) continue;
        made.push_back(pairs[i].base);
        pairs[i].fill(context);
      }
      DropEarlierConversion(context);
      context.EndIfStopped("合并");
      FinishRunRecord(
          context.m_pConn, record,
          context.m_nErrCount > 0 ? RunOutcome::kCompletedWithFailures : RunOutcome::kCompleted,
          context.m_nErrCount);
    }
  } catch (const std::exception& escaped) {
    context.LogEscaped("合并", "合并中止", escaped);
    built = false;
  }
  context.CloseStatConnection();
  context.CloseStatLogFile();
  outcome.result.report.failures = context.m_nErrCount;
  outcome.result.report.messages = context.m_arrFirstFailures;
  outcome.result.report.notices = context.m_arrNotices;
  if (!built) outcome.Fail("合并失败！", "");
  return built;
}

// The stages of a merge as the progress weighs them.
const std::vector<host::JobStages::Stage> kMergeStages = {
    {"copies", 20}, {"rows", 10}, {"summaries", 60}, {"publish", 10}};

// The merge once the inputs are checked: the receiving copy with its own
// rows, the other database's rows added, the rebuild, the write-back. The
// target's job lock is held throughout, so that no other job starts on it
// (nor sweeps the copy away) before the result is in place.
void Merge(const MergeRequest& request, const Held& held, Outcome& outcome,
           host::JobStages& stages) {
  const std::string target = TargetOf(request, outcome);
  if (target.empty()) return;
  JobLock lock;
  std::string error;
  if (!lock.Take(target, error)) {
    outcome.Fail("合并数据失败！", error);
    return;
  }
  // The receiving copy lies beside the target, so that it takes the
  // target's place by one rename; the other database is read where it is.
  const bool into_town = request.mode == kMergeIntoTown;
  const std::string& receiving_input = into_town ? request.town : request.rural;
  const std::string& contributing_input = into_town ? request.rural : request.town;
  ScratchBeside receiving(target, "merge");
  if (!receiving.Made()) {
    outcome.Fail("合并数据失败！", receiving.Error());
    return;
  }
  // Copied through SQLite, with every committed transaction (in WAL mode
  // also those the write-ahead log still holds).
  try {
    db::Connection source(receiving_input);
    db::CopyDatabase(source, receiving.Path());
  } catch (const db::DbError& failure) {
    outcome.Fail("合并数据失败！",
                 "cannot copy " + receiving_input + " to a scratch file: " + failure.what());
    return;
  }
  stages.Done("copies");
  const std::string town_rows = kTownMark, rural_rows = NonTownRows();
  if (DeleteStatRows(receiving.Path(), into_town ? rural_rows : town_rows) == 0) {
    outcome.Fail("合并失败！", "cannot keep the rural and the town rows of the base tables");
    return;
  }
  try {
    AddRows(receiving.Path(), contributing_input, into_town ? rural_rows : town_rows);
  } catch (const db::DbError& failure) {
    outcome.Fail("合并失败！", std::string("cannot copy the base-table rows: ") + failure.what());
    return;
  }
  stages.Done("rows");
  std::vector<std::string> made;
  if (!Rebuild(request, held, receiving.Path(), outcome, made)) return;
  stages.Done("summaries");
  // Cancelled after the last safe point of the rebuild: nothing is published.
  if (host::JobCancelled()) {
    outcome.Fail("合并失败！", "作业已取消");
    return;
  }
  if (!receiving.Publish(error)) {
    outcome.Fail("合并失败！", error);
    return;
  }
  outcome.result.target = target;
  outcome.result.report.outcome = outcome.result.report.failures > 0
                                      ? RunOutcome::kCompletedWithFailures
                                      : RunOutcome::kCompleted;
  outcome.result.message = "合并完成！";
  // The base table and its unit copies, and the summaries in their units (a
  // plain summary table is a conversion's, which the merge leaves alone).
  std::vector<std::string> tables = TablesOfBases(TableNames(), {"statdata"});
  for (std::string& table : TablesOfBases(TableNames(), made, false)) {
    tables.push_back(std::move(table));
  }
  ReportTablesWritten(outcome.result.report, target, tables);
}

}  // namespace

short DeleteTownStatRows(const std::string& connect) {
  return DeleteStatRows(connect, kTownMark);
}

// The earlier program deleted only the rows marked "0" here, so a row
// without a mark (or with another) stayed in both copies and was counted
// twice; the town side keeps the rows marked 1 and nothing else.
short DeleteNonTownStatRows(const std::string& connect) {
  return DeleteStatRows(connect, NonTownRows());
}

MergeResult MergeStatistics(const MergeRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  Outcome outcome;
  if (const std::optional<Held> held = CheckInputs(request, outcome)) {
    host::JobStages stages("正在合并数据...", kMergeStages);
    Merge(request, *held, outcome, stages);
  }
  outcome.result.report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome.result;
}

short MergeStatData(const std::string& rural, const std::string& town, const std::string& out,
                    gis::RuralCode* codes, short mode) {
  MergeRequest request;
  request.rural = rural;
  request.town = town;
  request.output_folder = out;
  request.codes = codes;
  request.mode = mode;
  const MergeResult result = MergeStatistics(request);
  std::string text = result.message;
  for (const std::string& message : result.report.messages) text += "\n" + message;
  host::AfxMessageBox(text);
  return result.report.Completed() ? 1 : 0;
}

}  // namespace landstat
