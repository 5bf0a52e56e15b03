// The county batch: the statistics of the ticked counties of one year.

#include "operator/county_batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/family_lanes.h"
#include "engine/run_workspace.h"
#include "engine/statistics_run.h"
#include "operator/county_catalogue.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "platform/host/held_output.h"
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

// The memory a county's run is meant to stay within, at a million parcels.
constexpr std::size_t kCountyMemory = std::size_t{1} << 30;

// The memory the system can still give without swapping (MemAvailable), in
// bytes; 0 when it does not say.
std::size_t AvailableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string name, rest;
  std::size_t kilobytes = 0;
  while (meminfo >> name >> kilobytes && std::getline(meminfo, rest)) {
    if (name == "MemAvailable:") return kilobytes * 1024;
  }
  return 0;
}

// The connections the server still takes from a client that is no
// superuser: its limit, less those it keeps for superusers (and for roles
// it reserves them to) and those open now. None, with `error` saying why,
// when it cannot be asked.
std::optional<std::size_t> FreeConnections(const std::string& server, std::string& error) {
  try {
    db::Connection conn(server);
    const long free =
        conn.Scalar(
                "select current_setting('max_connections')::int"
                " - current_setting('superuser_reserved_connections')::int"
                " - coalesce(current_setting('reserved_connections', true)::int, 0)"
                " - (select count(*) from pg_stat_activity where backend_type = 'client backend')")
            .AsInteger();
    return free > 0 ? static_cast<std::size_t>(free) : 0;
  } catch (const db::DbError& failure) {
    error = failure.what();
    return std::nullopt;
  }
}

// How many counties the server's free connections let run at once, at
// most `jobs`; `limit` says why when that is fewer.
std::size_t ServerCountiesAtOnce(const std::string& server, std::size_t jobs, std::string& limit) {
  std::string error;
  const std::optional<std::size_t> free = FreeConnections(server, error);
  if (!free) {
    limit = "one county at a time: the server's free connections cannot be asked: " + error;
    return 1;
  }
  const std::size_t allowed = std::max<std::size_t>(1, *free / ServerConnectionsOfRun());
  if (allowed >= jobs) return jobs;
  limit = std::to_string(allowed) + " counties at a time instead of " + std::to_string(jobs) +
          ": the server takes " + std::to_string(*free) + " more connections, a county's run " +
          std::to_string(ServerConnectionsOfRun());
  return allowed;
}

// A county ready to run: its survey and code table, its log, and whether
// its statistics file was made for it.
struct PreparedCounty {
  std::unique_ptr<gis::CGisXmlPrj> project;
  std::unique_ptr<gis::RuralCode> codes;
  std::string log_path;
  bool made = false;
};

// Prepares the county's run, or says in `entry` why it was passed over (or,
// when its log cannot be opened, that it failed); the county runs when
// `county.project` is left set. False when the batch must stop (a
// statistics file that cannot be made).
bool PrepareCounty(const CountyBatchRequest& request, const CountyCatalogue& catalogue,
                   CountyBatchEntry& entry, PreparedCounty& county) {
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
  try {
    project = gis::CGisXmlPrj::Open(found->second);
    county.codes.reset(gis::RuralCode::Load(project->GetCodeFile()));
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
  county.log_path = (fs::path(local ? request.folder : request.log_folder) /
                     (request.year + entry.code + "StatLog.txt"))
                        .string();
  entry.skipped = OutputProblem({file, county.log_path}, CountyInputs(request, *project));
  if (!entry.skipped.empty()) return true;
  std::string log_error;
  if (!host::OpenLogFile(county.log_path, host::LogOpening::kEmpty, log_error)) {
    entry.report.failures = 1;
    entry.report.messages.push_back(log_error);
    return true;
  }
  if (local && !MakeCountyFile(file, county.made)) {
    entry.skipped = "cannot create " + file;
    return false;
  }
  entry.database = local ? file : request.server;
  county.project = std::move(project);
  return true;
}

// The county's run, as prepared; a statistics file made for a county whose
// run failed is removed again.
void RunPrepared(const CountyBatchRequest& request, const PreparedCounty& county,
                 CountyBatchEntry& entry) {
  StatisticsRequest run;
  run.project = county.project.get();
  run.codes = county.codes.get();
  run.connection = entry.database;
  run.year = request.year;
  run.county = entry.code;
  run.db_mode = request.folder.empty() ? 1 : 0;
  run.county_batch = true;
  run.log_path = county.log_path;
  entry.report = RunStatistics(run);
  // A file made for a county whose run failed holds nothing: it goes.
  if (county.made && !entry.report.Completed()) {
    RunWorkspace::RemoveMadeFile(entry.database, entry.report);
  }
}

// What a county running beside others shows: its messages held until the
// batch passes them on in the counties' order, its progress kept as its
// latest text and share of its run for the batch's thread to show.
class CountyOutput final : public host::Notifier, public host::Progress {
 public:
  void Show(const std::string& text) override { held_.Show(text); }
  bool Ask(const std::string& question) override { return held_.Ask(question); }
  void Begin(const std::string& text) override { Latest(text, std::nullopt); }
  void SetText(const std::string& text) override { Latest(text, std::nullopt); }
  void Step(const std::string& text, double share) override { Latest(text, share); }
  void End() override {}

  // The latest text, led by `code`, in `text` when it changed since it was
  // taken last (else empty); the share of its run done.
  double TakeLatest(const std::string& code, std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    text = changed_ ? code + " " + text_ : std::string();
    changed_ = false;
    return share_;
  }
  // Passes the held messages to the calling thread's notifier.
  void PassOn() const { held_.PassOn(); }

 private:
  void Latest(const std::string& text, std::optional<double> share) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (text_ != text) text_ = text;
    if (share) share_ = std::clamp(*share, 0.0, 1.0);
    changed_ = true;
  }

  host::HeldOutput held_;
  std::mutex mutex_;
  std::string text_;
  double share_ = 0;
  bool changed_ = false;
};

// The counties of a batch as they are taken, run and passed on, shared by
// the threads that run them and the batch's own.
struct BatchLanes {
  BatchLanes(const CountyBatchRequest& batch_request, const CountyCatalogue& county_catalogue,
             std::vector<CountyBatchEntry>& counties)
      : request(batch_request),
        catalogue(county_catalogue),
        entries(counties),
        ended(counties.size(), false) {
    for (std::size_t i = 0; i < counties.size(); ++i) {
      outputs.push_back(std::make_unique<CountyOutput>());
    }
  }

  const CountyBatchRequest& request;
  const CountyCatalogue& catalogue;
  std::vector<CountyBatchEntry>& entries;
  std::vector<std::unique_ptr<CountyOutput>> outputs;
  bool beside = false;  // counties run on threads of their own
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;       // the next county to take
  std::vector<bool> ended;    // by county
  std::size_t running = 0;    // threads that take counties
  std::string stopped_at;     // the county at which the batch had to stop
  std::size_t passed_on = 0;  // counties whose lines the batch log has
  bool cancelled = false;     // by the operator: no county is taken any more
};

// A county that failed by what escaped its preparation or its run.
void Fail(CountyBatchEntry& entry, const std::string& error) {
  entry.report.outcome = RunOutcome::kFailed;
  entry.report.failures = std::max(1L, entry.report.failures);
  entry.report.messages.push_back(error);
}

// Takes the next county and prepares it: one at a time, in the counties'
// order, so that no county after one whose statistics file cannot be made
// starts. Its number, or nothing when none is left.
std::optional<std::size_t> TakeCounty(BatchLanes& lanes, PreparedCounty& county) {
  const std::lock_guard<std::mutex> lock(lanes.mutex);
  if (lanes.next >= lanes.entries.size()) return std::nullopt;
  const std::size_t taken = lanes.next++;
  CountyBatchEntry& entry = lanes.entries[taken];
  lanes.cancelled = lanes.cancelled || host::JobCancelled();
  if (lanes.cancelled) {
    entry.skipped = "not run: the batch was cancelled";
    return taken;
  }
  if (!lanes.stopped_at.empty()) {
    entry.skipped = "not run: the batch stopped at county " + lanes.stopped_at;
    return taken;
  }
  try {
    if (!PrepareCounty(lanes.request, lanes.catalogue, entry, county)) {
      lanes.stopped_at = entry.code;
    }
  } catch (const std::exception& error) {
    county = PreparedCounty();
    Fail(entry, error.what());
  }
  return taken;
}

// Takes counties and runs them until none is left, telling `ended` the
// number of each as it ends. What escapes a county's run fails that county
// alone.
void RunCounties(BatchLanes& lanes, const std::function<void(std::size_t)>& ended) {
  for (;;) {
    PreparedCounty county;
    const std::optional<std::size_t> taken = TakeCounty(lanes, county);
    if (!taken) return;
    if (county.project) {
      CountyOutput& output = *lanes.outputs[*taken];
      std::optional<host::ScopedThreadOutput> shown;
      if (lanes.beside) shown.emplace(output, output);
      try {
        RunPrepared(lanes.request, county, lanes.entries[*taken]);
      } catch (const std::exception& error) {
        Fail(lanes.entries[*taken], error.what());
      }
    }
    county = PreparedCounty();  // its layers closed before the next is taken
    {
      const std::lock_guard<std::mutex> lock(lanes.mutex);
      lanes.ended[*taken] = true;
    }
    ended(*taken);
  }
}

// The batch log's line of a county.
void LogCounty(std::FILE* log, const CountyBatchEntry& entry, const std::string& data_set) {
  if (!entry.skipped.empty()) {
    LogLine(log, data_set + " 未汇总: " + entry.skipped);
    return;
  }
  std::string line = data_set + " " + RunOutcomeText(entry.report.outcome) + ", " +
                     std::to_string(entry.report.failures) + " failures";
  if (!entry.report.Completed() && !entry.report.messages.empty()) {
    line += ": " + entry.report.messages.front();
  }
  LogLine(log, line);
}

// Writes the batch log's lines of the counties that ended, and passes on
// what they would have shown, in the counties' order: as far as every
// county before has ended.
void PassOnEnded(BatchLanes& lanes, std::FILE* log, const std::string& theme) {
  for (;;) {
    std::size_t county = 0;
    {
      const std::lock_guard<std::mutex> lock(lanes.mutex);
      if (lanes.passed_on >= lanes.entries.size() || !lanes.ended[lanes.passed_on]) return;
      county = lanes.passed_on++;
    }
    const CountyBatchEntry& entry = lanes.entries[county];
    LogCounty(log, entry, "D" + entry.code + theme + lanes.request.year + "G");
    lanes.outputs[county]->PassOn();
  }
}

// Shows how far the batch is: the counties that ended and the shares of
// those that run now, with the latest text of each that changed, in their
// order.
void ShowRunning(BatchLanes& lanes) {
  std::vector<bool> running;
  double done = 0;
  {
    const std::lock_guard<std::mutex> lock(lanes.mutex);
    running.assign(lanes.ended.size(), false);
    for (std::size_t i = 0; i < lanes.next; ++i) {
      running[i] = !lanes.ended[i];
      if (lanes.ended[i]) ++done;
    }
  }
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < running.size(); ++i) {
    if (!running[i]) continue;
    std::string text;
    done += lanes.outputs[i]->TakeLatest(lanes.entries[i].code, text);
    if (!text.empty()) texts.push_back(text);
  }
  const double share = running.empty() ? 1 : done / static_cast<double>(running.size());
  for (const std::string& text : texts) host::CurrentProgress().Step(text, share);
}

// Starts up to `jobs` threads that take counties (fewer when the process
// may start no more); how many started.
std::vector<std::thread> StartLanes(BatchLanes& lanes, std::size_t jobs) {
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs; ++i) {
    {
      const std::lock_guard<std::mutex> lock(lanes.mutex);
      ++lanes.running;
    }
    try {
      threads.emplace_back([&lanes] {
        RunCounties(lanes, [&lanes](std::size_t) { lanes.changed.notify_all(); });
        {
          const std::lock_guard<std::mutex> lock(lanes.mutex);
          --lanes.running;
        }
        lanes.changed.notify_all();
      });
    } catch (const std::system_error&) {
      const std::lock_guard<std::mutex> lock(lanes.mutex);
      --lanes.running;
      break;
    }
  }
  return threads;
}

// Runs the counties on up to `jobs` threads, the reads and fills of each
// run sharing the processors among them, while this thread shows their
// progress and passes on what ended; on this thread alone, one after
// another, when one runs at a time or no thread can be started. Each
// county is a stage of the batch's progress.
void RunAll(BatchLanes& lanes, std::size_t jobs, std::FILE* log, const std::string& theme) {
  std::vector<host::JobStages::Stage> counties;
  for (const CountyBatchEntry& entry : lanes.entries) counties.push_back({entry.code, 1});
  host::JobStages stages("正在汇总...", counties);
  const auto pass_on = [&] { PassOnEnded(lanes, log, theme); };
  const auto in_turn = [&] {
    RunCounties(lanes, [&](std::size_t county) {
      pass_on();
      stages.Done(lanes.entries[county].code);
    });
  };
  if (jobs < 2) {
    in_turn();
    return;
  }
  lanes.beside = true;
  const std::size_t workers = db::SetWorkers(std::max<std::size_t>(1, db::Workers() / jobs));
  std::vector<std::thread> threads = StartLanes(lanes, jobs);
  {
    std::unique_lock<std::mutex> lock(lanes.mutex);
    while (lanes.running > 0) {
      lanes.changed.wait_for(lock, std::chrono::milliseconds(100));
      lock.unlock();
      ShowRunning(lanes);
      pass_on();
      lock.lock();
    }
  }
  for (std::thread& thread : threads) thread.join();
  db::SetWorkers(workers);
  if (threads.empty()) {
    lanes.beside = false;
    in_turn();
  }
  pass_on();
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

std::size_t CountiesAtOnce(const CountyBatchRequest& request, std::size_t counties,
                           std::string& limit) {
  limit.clear();
  std::size_t jobs = request.jobs;
  if (jobs == 0) {
    jobs = std::max(1u, std::thread::hardware_concurrency());
    if (const std::size_t memory = AvailableMemory(); memory > 0) {
      jobs = std::min(jobs, memory / kCountyMemory);
    }
  }
  jobs = std::min(jobs, counties);
  if (jobs > 1 && request.folder.empty()) jobs = ServerCountiesAtOnce(request.server, jobs, limit);
  return std::max<std::size_t>(1, jobs);
}

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
  for (const std::string& code : request.codes) {
    // Province and city codes.
    if (code.size() >= 2 && code.compare(code.size() - 2, 2, "00") == 0) continue;
    result.counties.emplace_back().code = code;
  }
  BatchLanes lanes(effective, catalogue, result.counties);
  std::string limit;
  const std::size_t at_once = CountiesAtOnce(effective, result.counties.size(), limit);
  if (!limit.empty()) {
    LogLine(log.get(), limit);
    result.report.notices.push_back(limit);
  }
  RunAll(lanes, at_once, log.get(), theme);
  if (!lanes.stopped_at.empty()) result.result = 0;
  const bool cancelled = lanes.cancelled || host::JobCancelled();
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
