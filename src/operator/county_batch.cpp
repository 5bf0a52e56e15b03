// The county batch: the statistics of the ticked counties of one year.

#include "operator/county_batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_workspace.h"
#include "engine/statistics_run.h"
#include "operator/county_catalogue.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/input_checks.h"
#include "platform/host/log_file.h"
#include "platform/host/progress.h"

namespace landstat {
namespace fs = std::filesystem;

namespace {

// The survey layers of which a county needs one to be run; the district
// layer alone is not enough.
const char* const kSurveyLayers[] = {"地类图斑",     "线状地物",         "零星地物",
                                     "基本农田图斑", "基本农田线状地物", "基本农田零星地物"};

// One line of the batch log, in the file at once.
void LogLine(std::FILE* log, const std::string& line) {
  std::fputs((line + "\r\n").c_str(), log);
  std::fflush(log);
}

// Why a county cannot be run with this project; empty when it can.
std::string SurveyProblem(const gis::CGisXmlPrj& project) {
  for (const char* layer : kSurveyLayers) {
    if (project.HasLayer(layer)) return "";
  }
  return "the project " + project.GetFilePath() + " lists no survey layer but the districts";
}

// The files a county's run reads: the catalogue, the county's project and
// code file, and the sources of its layers.
std::vector<std::string> CountyInputs(const CountyBatchRequest& request,
                                      const gis::CGisXmlPrj& project) {
  std::vector<std::string> inputs = {request.catalogue, project.GetFilePath(),
                                     project.GetCodeFile()};
  for (const std::string& layer : project.LayerNames()) inputs.push_back(project.SourceOf(layer));
  return inputs;
}

// Why the county's run must not write its statistics file or its log:
// one of them is one of its inputs. Empty when it may.
std::string OutputProblem(const std::vector<std::string>& outputs,
                          const std::vector<std::string>& inputs) {
  for (const std::string& output : outputs) {
    if (const std::string input = host::InputWrittenBy(output, inputs); !input.empty()) {
      return output + " would write over the county's input " + input;
    }
  }
  return "";
}

// The statistics file of a county in the folder, made when missing (an
// existing one keeps its tables until the county's run replaces them).
// False when it cannot be made; `made` says whether it was made now.
bool MakeCountyFile(const std::string& file, bool& made) {
  std::error_code unusable;
  made = false;
  if (fs::exists(file, unusable)) return true;
  made = CreateAcessDB(file) > 0;
  return made;
}

// The county's run, or why it was passed over. False when the batch must
// stop (a statistics file that cannot be made).
bool RunCounty(const CountyBatchRequest& request, const CountyCatalogue& catalogue,
               CountyBatchEntry& entry) {
  const auto found = catalogue.projects.find(entry.code);
  if (!host::IsCountyCode(entry.code)) {
    entry.skipped = "not a county code";
    return true;
  }
  if (found == catalogue.projects.end()) {
    entry.skipped = "no survey in the county catalogue";
    return true;
  }
  std::unique_ptr<gis::CGisXmlPrj> project;
  std::unique_ptr<gis::RuralCode> codes;
  try {
    project = gis::CGisXmlPrj::Open(found->second);
    codes.reset(gis::RuralCode::Load(project->GetCodeFile()));
  } catch (const std::exception& error) {
    entry.skipped = error.what();
    return true;
  }
  entry.skipped = SurveyProblem(*project);
  if (!entry.skipped.empty()) return true;
  const bool local = !request.folder.empty();
  const std::string file =
      local ? (fs::path(request.folder) / (request.year + entry.code + ".sqlite")).string() : "";
  // The county's log beside its file (on a server in the log folder), made
  // before anything else is: a county whose log cannot be kept is not run.
  const std::string log_path = (fs::path(local ? request.folder : request.log_folder) /
                                (request.year + entry.code + "StatLog.txt"))
                                   .string();
  entry.skipped = OutputProblem({file, log_path}, CountyInputs(request, *project));
  if (!entry.skipped.empty()) return true;
  std::string log_error;
  if (!host::OpenLogFile(log_path, host::LogOpening::kEmpty, log_error)) {
    entry.report.failures = 1;
    entry.report.messages.push_back(log_error);
    return true;
  }
  bool made = false;
  if (local && !MakeCountyFile(file, made)) {
    entry.skipped = "cannot create " + file;
    return false;
  }
  entry.database = local ? file : request.server;
  StatisticsRequest run;
  run.project = project.get();
  run.codes = codes.get();
  run.connection = entry.database;
  run.year = request.year;
  run.county = entry.code;
  run.db_mode = local ? 0 : 1;
  run.county_batch = true;
  run.log_path = log_path;
  entry.report = RunStatistics(run);
  // A file made for a county whose run failed holds nothing: it goes.
  if (made && !entry.report.Completed()) RunWorkspace::RemoveMadeFile(entry.database);
  return true;
}

// The batch as one job, from its counties. The earlier program counted a
// county as done whatever its run returned and said "汇总完成!" when every
// county failed; here a batch in which none completed is a failure (0,
// "汇总失败!"), and a county that failed or was passed over is named and
// counted, so the batch is then completed with failures at best.
void Summarise(CountyBatchResult& result) {
  long ran = 0, completed = 0, clean = 0, passed_over = 0;
  for (const CountyBatchEntry& entry : result.counties) {
    if (!entry.skipped.empty()) {
      ++passed_over;
      result.report.messages.push_back("county " + entry.code + " passed over: " + entry.skipped);
      continue;
    }
    ++ran;
    result.report.failures += entry.report.failures;
    for (const std::string& notice : entry.report.notices) {
      result.report.notices.push_back(entry.code + " " + notice);
    }
    if (!entry.report.Completed()) {
      result.report.messages.push_back("county " + entry.code + " failed");
      continue;
    }
    ++completed;
    if (entry.report.outcome == RunOutcome::kCompleted) ++clean;
  }
  if (result.result != 0) result.result = ran == 0 ? -1 : completed == 0 ? 0 : 1;
  result.report.outcome = completed == 0                     ? RunOutcome::kFailed
                          : clean == ran && passed_over == 0 ? RunOutcome::kCompleted
                                                             : RunOutcome::kCompletedWithFailures;
  if (completed < ran && result.report.failures == 0) result.report.failures = ran - completed;
  result.report.failures += passed_over;
}

}  // namespace

CountyBatchResult StatCountyDataBatch(const CountyBatchRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  CountyBatchResult result;
  result.result = 1;
  // The logs lie beside the statistics; a server's in the current folder.
  const std::string log_folder = !request.log_folder.empty() ? request.log_folder
                                 : request.folder.empty()    ? fs::current_path().string()
                                                             : request.folder;
  if (!host::IsSurveyYear(request.year) || request.codes.empty()) {
    result.result = 0;
    result.report.messages.push_back(request.codes.empty()
                                         ? "no district ticked"
                                         : "the year " + request.year + " is not four digits");
    return result;
  }
  result.log_path = (fs::path(log_folder) / (request.year + "StatLog.txt")).string();
  std::string log_error;
  const host::LogFile log = host::OpenLogFile(result.log_path, host::LogOpening::kEmpty, log_error);
  if (!log) {
    result.result = 0;
    result.report.messages.push_back(log_error);
    return result;
  }
  CountyCatalogue catalogue;
  try {
    catalogue = ReadCountyCatalogue(request.catalogue);
  } catch (const db::DbError& error) {
    result.result = 0;
    result.report.messages.push_back(error.what());
    LogLine(log.get(), error.what());
    return result;
  }
  std::string theme = ReadSecondSurveyThemes(request.catalogue);
  if (theme.empty()) theme = "DC";
  CountyBatchRequest effective = request;
  effective.log_folder = log_folder;
  // Each county a stage of the progress; the operator's cancel ends the
  // county under way as failed and runs no other.
  std::vector<host::JobStages::Stage> counties;
  for (const std::string& code : request.codes) counties.push_back({code, 1});
  host::JobStages stages("正在汇总...", counties);
  bool cancelled = false;
  std::string stopped_at;  // the county at which the batch had to stop
  for (const std::string& code : request.codes) {
    // Province and city codes.
    if (code.size() >= 2 && code.compare(code.size() - 2, 2, "00") == 0) continue;
    CountyBatchEntry& entry = result.counties.emplace_back();
    entry.code = code;
    cancelled = cancelled || host::JobCancelled();
    if (cancelled) {
      entry.skipped = "not run: the batch was cancelled";
    } else if (!stopped_at.empty()) {
      entry.skipped = "not run: the batch stopped at county " + stopped_at;
    } else if (!RunCounty(effective, catalogue, entry)) {
      result.result = 0;
      stopped_at = code;
    }
    const std::string data_set = "D" + code + theme + request.year + "G";
    if (!entry.skipped.empty()) {
      LogLine(log.get(), data_set + " 未汇总: " + entry.skipped);
    } else {
      std::string line = data_set + " " + RunOutcomeText(entry.report.outcome) + ", " +
                         std::to_string(entry.report.failures) + " failures";
      if (!entry.report.Completed() && !entry.report.messages.empty()) {
        line += ": " + entry.report.messages.front();
      }
      LogLine(log.get(), line);
    }
    stages.Done(code);
  }
  cancelled = cancelled || host::JobCancelled();
  Summarise(result);
  if (cancelled) {
    LogLine(log.get(), "作业已取消");
    result.result = 0;
    result.report.outcome = RunOutcome::kFailed;
    result.report.messages.push_back("作业已取消");
    result.report.failures = std::max(result.report.failures, 1L);
  }
  result.report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

std::string CountyBatchMessage(const CountyBatchResult& result) {
  std::string failed, passed_over;
  for (const CountyBatchEntry& entry : result.counties) {
    if (!entry.skipped.empty()) {
      passed_over += " " + entry.code;
    } else if (!entry.report.Completed()) {
      failed += " " + entry.code;
    }
  }
  std::string text = result.result == -1  ? "没有找到数据!"
                     : result.result == 0 ? "汇总失败!"
                                          : "汇总完成!";
  if (!failed.empty()) text += "\n汇总失败的县:" + failed;
  if (!passed_over.empty()) text += "\n未汇总的县:" + passed_over;
  return text + "\n日志: " + result.log_path;
}

}  // namespace landstat
