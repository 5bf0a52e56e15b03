// The annual summary of a county and year.

#include "operator/annual_summary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/table_names.h"
#include "mongolia/mongolia_run.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/host_settings.h"
#include "platform/host/input_checks.h"
#include "platform/host/log_file.h"
#include "platform/host/progress.h"

namespace landstat {
namespace fs = std::filesystem;

std::string AnnualDatabaseFile(const std::string& folder, const std::string& year,
                               const std::string& county) {
  return (fs::path(folder) / (year + county + ".sqlite")).string();
}

std::string AnnualLogFile(const std::string& folder, const std::string& year,
                          const std::string& county, bool server) {
  return (fs::path(folder) / (year + county + (server ? "ServerStatLog.txt" : "StatLog.txt")))
      .string();
}

std::vector<std::string> ListSummarisedYears(const std::string& folder, const std::string& county,
                                             std::string& error) {
  error.clear();
  std::vector<std::string> years;
  const std::string tail = county + ".sqlite";
  std::error_code unreadable;
  for (fs::directory_iterator entry(folder, unreadable), end; !unreadable && entry != end;
       entry.increment(unreadable)) {
    const std::string name = entry->path().filename().string();
    if (name.size() == 4 + tail.size() && name.compare(4, tail.size(), tail) == 0 &&
        host::IsSurveyYear(name.substr(0, 4))) {
      years.push_back(name.substr(0, 4));
    }
  }
  // A folder not made yet holds no summary; one that cannot be listed says why.
  if (unreadable && unreadable != std::errc::no_such_file_or_directory) {
    error = "cannot list the folder " + folder + ": " + unreadable.message();
  }
  std::sort(years.begin(), years.end());
  return years;
}

std::vector<std::string> ListServerYears(const std::string& connection, const std::string& county,
                                         std::string& error) {
  error.clear();
  if (!host::IsCountyCode(county)) return {};
  return ReadYears(connection, error, [&](db::Connection& server) {
    std::vector<std::string> years;
    const std::string table = TableNames(1, "", county).AreaUnit();
    if (!server.TableExists(table)) return years;
    for (db::Recordset rows(server, "select 年度 as 年度 from  " + table + " group by 年度");
         !rows.IsEOF(); rows.MoveNext()) {
      years.push_back(rows.Text("年度"));
    }
    return years;
  });
}

AnnualRuns DefaultAnnualRuns() {
  AnnualRuns runs;
  runs.mongolia = [](const JobTarget& target, gis::CGisXmlPrj* project,
                     gis::RuralCode* second_codes) {
    MongoliaRequest request;
    static_cast<JobTarget&>(request) = target;
    request.project = project;
    request.second_codes = second_codes;
    return RunMongolia(request);
  };
  return runs;
}

namespace {

const char kGeneralRun[] = "土地利用现状统计";
const char kTownRun[] = "城镇宗地统计";
const char kMongoliaRun[] = "内蒙古统计";

// Runs one step with a log of its own beside the summary's, then adds that
// log's lines to the summary's under the step's name (a run empties the log
// it is given).
RunReport RunIntoLog(const std::string& log, const std::string& name,
                     const std::function<RunReport(const std::string& step_log)>& run) {
  const std::string step_log = log + ".step";
  std::string error;
  if (!host::OpenLogFile(step_log, host::LogOpening::kEmpty, error)) {
    RunReport refused;
    refused.failures = 1;
    refused.messages.push_back(error);
    return refused;
  }
  RunReport report = run(step_log);
  std::ifstream lines(step_log);
  std::ostringstream text;
  text << "[" << name << "] " << RunOutcomeText(report.outcome) << "\r\n" << lines.rdbuf();
  std::error_code ignored;
  fs::remove(step_log, ignored);
  const host::LogFile summary = host::OpenLogFile(log, host::LogOpening::kAppend, error);
  if (!summary || std::fputs(text.str().c_str(), summary.get()) < 0) {
    // The step's lines are lost: its outcome must not look clean.
    ++report.failures;
    report.messages.push_back(summary ? "cannot write the log " + log : error);
    if (report.outcome == RunOutcome::kCompleted) {
      report.outcome = RunOutcome::kCompletedWithFailures;
    }
  }
  return report;
}

// Whether the year is summarised already; `error` says why the folder's or
// the server's years could not be read.
bool AlreadySummarised(const AnnualSummaryRequest& request, bool local, std::string& error) {
  const std::vector<std::string> years =
      local ? ListSummarisedYears(request.folder, request.county, error)
            : ListServerYears(request.server, request.county, error);
  return std::find(years.begin(), years.end(), request.year) != years.end();
}

AnnualSummaryResult Refused(AnnualSummaryResult result, const std::string& message,
                            const std::string& why) {
  result.message = message;
  result.report.outcome = RunOutcome::kFailed;
  result.report.failures = 1;
  result.report.messages.push_back(why);
  return result;
}

// The runs of a summary as the progress weighs them: their share of its
// time.
const std::vector<host::JobStages::Stage> kAnnualStages = {
    {kGeneralRun, 70}, {kTownRun, 20}, {kMongoliaRun, 10}};

// The runs in order; after the operator's cancel, which ends the run under
// way as failed, no other runs.
void RunSteps(const AnnualSummaryRequest& request, const AnnualRuns& runs, const JobTarget& target,
              AnnualSummaryResult& result) {
  host::JobStages stages("正在汇总...", kAnnualStages);
  bool go_on = true;
  const auto step = [&](const char* name, const std::function<RunReport(const std::string&)>& run) {
    if (!go_on) return;
    result.steps.push_back({name, true, RunIntoLog(result.log_path, name, run)});
    stages.Done(name);
    go_on = !host::JobCancelled();
  };
  step(kGeneralRun, [&](const std::string& log) {
    StatisticsRequest statistics;
    static_cast<JobTarget&>(statistics) = target;
    statistics.log_path = log;
    statistics.project = request.project;
    if (request.incremental) statistics.custom_list = host::ModuleXmlFilePath("STATDATA_GX.xml");
    return runs.statistics(statistics);
  });
  if (request.incremental || !go_on) return;
  step(kTownRun, [&](const std::string& log) {
    TownLotRequest town;
    static_cast<JobTarget&>(town) = target;
    town.log_path = log;
    town.project = request.project;
    return runs.town_lots(town);
  });
  if (!request.second_codes || !go_on) return;
  if (!runs.mongolia) {
    result.steps.push_back({kMongoliaRun, false, {}});
    return;
  }
  step(kMongoliaRun, [&](const std::string& log) {
    JobTarget mongolia = target;
    mongolia.log_path = log;
    return runs.mongolia(mongolia, request.project, request.second_codes);
  });
}

// The message of the summary. The earlier program said "汇总完毕!" whatever
// the runs returned; here it is said only when every run completed, and
// otherwise the runs that failed are named.
void Conclude(AnnualSummaryResult& result) {
  std::string failed, missing;
  result.report.outcome = RunOutcome::kCompleted;
  for (const AnnualStep& step : result.steps) {
    if (!step.available) {
      missing += step.name + "在此版本中不可用; ";
      result.report.notices.push_back(step.name + " is not available in this version");
      continue;
    }
    result.report.failures += step.report.failures;
    for (const std::string& message : step.report.messages) {
      result.report.messages.push_back(step.name + ": " + message);
    }
    if (!step.report.Completed()) {
      failed += (failed.empty() ? "" : "、") + step.name;
      result.report.outcome = RunOutcome::kFailed;
    } else if (step.report.outcome == RunOutcome::kCompletedWithFailures &&
               result.report.outcome == RunOutcome::kCompleted) {
      result.report.outcome = RunOutcome::kCompletedWithFailures;
    }
  }
  result.message = failed.empty() ? "汇总完毕!" : "汇总失败: " + failed;
  if (!missing.empty()) result.message += "\n" + missing.substr(0, missing.size() - 2);
}

}  // namespace

AnnualSummaryResult RunAnnualSummary(
    const AnnualSummaryRequest& request,
    const std::function<bool(const std::string& file)>& confirm_again, const AnnualRuns& runs) {
  const auto start = std::chrono::steady_clock::now();
  AnnualSummaryResult result;
  // The earlier program built file names from whatever year was typed; a
  // year is four digits, a county six, or nothing is done.
  if (const std::string problem = host::SurveyKeyProblem(request.year, request.county);
      !problem.empty()) {
    return Refused(std::move(result), "输入年度数据错误！", problem);
  }
  const bool local = request.server.empty() || request.local_copy;
  const std::string file =
      local ? AnnualDatabaseFile(request.folder, request.year, request.county) : "";
  // Asked before anything is touched: the earlier program emptied the log
  // first, so a declined summary lost it. A server whose years cannot be
  // read cannot say whether the year would be replaced: nothing is done.
  std::string unreadable;
  const bool summarised = AlreadySummarised(request, local, unreadable);
  if (!unreadable.empty()) {
    return Refused(std::move(result), "无法读取已汇总的年度", unreadable);
  }
  if (summarised && confirm_again && !confirm_again(file)) {
    result.declined = true;
    return result;
  }
  result.log_path = AnnualLogFile(request.folder, request.year, request.county, !local);
  if (std::string error; !host::OpenLogFile(result.log_path, host::LogOpening::kEmpty, error)) {
    return Refused(std::move(result), "无法建立日志文件", error);
  }
  JobTarget target{request.codes, "", request.year, request.county, "", 0};
  bool made = false;
  if (local) {
    result.database = file;
    std::error_code unusable;
    made = !fs::exists(file, unusable);
    if (made && CreateAcessDB(file) <= 0) {
      return Refused(std::move(result), "无法建立汇总数据库 " + file, "cannot create " + file);
    }
    target.connection = file;
  } else {
    target.connection = request.server;
    target.db_mode = request.server_kind;
  }
  AnnualSummaryRequest effective = request;
  effective.incremental = request.incremental && request.server.empty();
  RunSteps(effective, runs, target, result);
  Conclude(result);
  const bool any_completed =
      std::any_of(result.steps.begin(), result.steps.end(),
                  [](const AnnualStep& step) { return step.available && step.report.Completed(); });
  if (made && !any_completed) {
    // A file made for runs none of which completed holds nothing: it goes,
    // so that the year is not taken for summarised.
    if (RunWorkspace::RemoveMadeFile(file, result.report)) result.database.clear();
  }
  result.report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace landstat
