// The dispatch of a print run's report names to the writers.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "engine/run_record.h"
#include "engine/table_family.h"
#include "engine/table_names.h"
#include "mongolia/mg_table_names.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/host/held_output.h"
#include "platform/host/host_settings.h"
#include "platform/host/notifier.h"
#include "platform/host/output_folder.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "report/print_stat_dlg.h"
#include "report/report_filters.h"

namespace landstat::report {

namespace {

using Writer = short (CPrintStatDlg::*)(db::Connection&, const std::string&, const std::string&,
                                        const std::string&, const std::string&, int, int,
                                        const std::string&, const std::string&);

// Where a writer may run while a print writes its workbooks at the same
// time. Most read the database on a connection of their own; those that
// fill work tables in the database run first, one after another, on the
// print's own connection (a writer on an embedded file would wait on the
// readers of the others); those that build their rows in the process's
// layer table (which is not made for threads) run one after another.
enum class Lane { kAny, kWorkTables, kLayerTable };

// The writers by name; those without a member are written by a later part
// of the system, and a name routed to one of them is refused, named.
struct WriterEntry {
  const char* name;
  Writer writer;
  Lane lane = Lane::kAny;
};

const WriterEntry kWriters[] = {
    {"PrintSummaryTable", &CPrintStatDlg::PrintSummaryTable},
    {"PrintBureauSummaryTable", &CPrintStatDlg::PrintBureauSummaryTable},
    {"PrintCodeListTable", &CPrintStatDlg::PrintCodeListTable},
    {"PrintDisputeAreaTable", &CPrintStatDlg::PrintDisputeAreaTable},
    {"PrintDisputeLedgerTable", &CPrintStatDlg::PrintDisputeLedgerTable},
    {"PrintReserveDisputeTable", &CPrintStatDlg::PrintReserveDisputeTable},
    {"PrintFrdTable", &CPrintStatDlg::PrintFrdTable},
    {"PrintLedgerTable", &CPrintStatDlg::PrintLedgerTable},
    {"PrintMgLedgerTable", &CPrintStatDlg::PrintMgLedgerTable, Lane::kWorkTables},
    {"PrintBalanceSheet", &CPrintStatDlg::PrintBalanceSheet, Lane::kLayerTable},
    {"PrintTownHoldingAreaTable", &CPrintStatDlg::PrintTownHoldingAreaTable},
    {"PrintJbntBlockStatTable", &CPrintStatDlg::PrintJbntBlockStatTable},
    {"PrintJbntSurveyBeforeTable", &CPrintStatDlg::PrintJbntSurveyBeforeTable},
    {"PrintJbntSurveyAfterTable", &CPrintStatDlg::PrintJbntSurveyAfterTable},
    {"PrintJbntBlockSummaryTable", &CPrintStatDlg::PrintJbntBlockSummaryTable},
    {"PrintJbntRegionSummaryTable", &CPrintStatDlg::PrintJbntRegionSummaryTable},
    {"PrintJbntBlockSummarySplit", &CPrintStatDlg::PrintJbntBlockSummarySplit},
    {"PrintTownHouseTable", &CPrintStatDlg::PrintTownHouseTable},
    {"PrintParcelAreaTable", &CPrintStatDlg::PrintParcelAreaTable, Lane::kWorkTables},
    {"PrintDisputeJbntBlockTable", &CPrintStatDlg::PrintDisputeJbntBlockTable},
};

enum class Test { kContains, kEquals, kAny };
enum class When { kAlways, kPaged, kUnpaged, kSecondCodeTable };
constexpr int kAnyMode = -1;

// One line of the rules: the first line whose test, mode and condition
// hold decides; a null writer means no report, without a message.
struct Rule {
  int number;
  Test test;
  std::initializer_list<const char*> texts;
  int mode;
  When when;
  const char* writer;
};

const Rule kRules[] = {
    {1, Test::kContains, {"飞入"}, kAnyMode, When::kAlways, "PrintFrdTable"},
    {2, Test::kContains, {"台帐"}, 0, When::kAlways, "PrintLedgerTable"},
    {2, Test::kEquals, {"农村土地利用台帐(权属争议)"}, 1, When::kAlways, "PrintDisputeLedgerTable"},
    {2, Test::kContains, {"台帐"}, 1, When::kAlways, nullptr},
    {2, Test::kContains, {"台帐"}, 2, When::kSecondCodeTable, "PrintMgLedgerTable"},
    {2, Test::kContains, {"台帐"}, 2, When::kAlways, nullptr},
    {3, Test::kContains, {"平衡表"}, kAnyMode, When::kAlways, "PrintBalanceSheet"},
    {4,
     Test::kEquals,
     {"城镇宗地面积汇总表"},
     kAnyMode,
     When::kAlways,
     "PrintTownHoldingAreaTable"},
    {5,
     Test::kEquals,
     {"基本农田情况统计表(按保护块)", "第二次全国土地调查基本农田调查统计表"},
     kAnyMode,
     When::kAlways,
     "PrintJbntBlockStatTable"},
    {6,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查统计表(补划前)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntSurveyBeforeTable"},
    {7,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查统计表(补划后)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntSurveyAfterTable"},
    {8,
     Test::kEquals,
     {"浙江基本农田情况统计表(按保护块)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntBlockSummaryTable"},
    {9,
     Test::kEquals,
     {"浙江基本农田情况统计表(按行政区)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntRegionSummaryTable"},
    {10,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按保护块)"},
     kAnyMode,
     When::kPaged,
     "PrintJbntBlockSummarySplit"},
    {10,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按保护块)"},
     kAnyMode,
     When::kUnpaged,
     "PrintJbntBlockSummaryTable"},
    {11,
     Test::kEquals,
     {"第二次全国土地调查基本农田调查汇总表(按行政区)"},
     kAnyMode,
     When::kAlways,
     "PrintJbntRegionSummaryTable"},
    {12, Test::kEquals, {"城镇房屋信息汇总表"}, kAnyMode, When::kAlways, "PrintTownHouseTable"},
    {13,
     Test::kContains,
     {"权属单位代码表", "批而未用面积汇总表", "土地登记信息汇总表"},
     kAnyMode,
     When::kAlways,
     "PrintCodeListTable"},
    {14, Test::kEquals, {"图斑面积表"}, kAnyMode, When::kAlways, "PrintParcelAreaTable"},
    {15,
     Test::kEquals,
     {"权属争议基本农田情况统计表(按保护块)"},
     1,
     When::kAlways,
     "PrintDisputeJbntBlockTable"},
    {16, Test::kEquals, {"权属争议调查表"}, 1, When::kAlways, "PrintCodeListTable"},
    {17,
     Test::kEquals,
     {"农村土地利用现状一级分类面积汇总表(按权属争议区编号)"},
     1,
     When::kAlways,
     "PrintDisputeAreaTable"},
    {18, Test::kContains, {"权属争议", "耕地后备"}, 1, When::kAlways, "PrintReserveDisputeTable"},
    {19, Test::kAny, {}, 1, When::kAlways, "PrintSummaryTable"},
    {20, Test::kAny, {}, 2, When::kSecondCodeTable, "PrintBureauSummaryTable"},
    {20, Test::kAny, {}, 2, When::kAlways, nullptr},
    {21, Test::kAny, {}, 0, When::kAlways, "PrintSummaryTable"},
};

bool NameMatches(const Rule& rule, const std::string& name) {
  if (rule.test == Test::kAny) return true;
  return std::any_of(rule.texts.begin(), rule.texts.end(), [&](const char* text) {
    return rule.test == Test::kEquals ? name == text : name.find(text) != std::string::npos;
  });
}

bool ConditionHolds(When when, const ReportSettings& settings) {
  switch (when) {
    case When::kAlways:
      return true;
    case When::kPaged:
      return settings.paged;
    case When::kUnpaged:
      return !settings.paged;
    case When::kSecondCodeTable:
      return settings.second_code_table;
  }
  return false;
}

}  // namespace

CPrintStatDlg::Route CPrintStatDlg::RouteOf(const std::string& name) const {
  for (const Rule& rule : kRules) {
    if ((rule.mode == kAnyMode || rule.mode == settings_.mode) && NameMatches(rule, name) &&
        ConditionHolds(rule.when, settings_)) {
      return {rule.number, rule.writer};
    }
  }
  return {};
}

bool CPrintStatDlg::WriterAvailable(const char* writer) {
  return writer != nullptr &&
         std::any_of(std::begin(kWriters), std::end(kWriters), [&](const WriterEntry& e) {
           return std::string_view(e.name) == writer && e.writer != nullptr;
         });
}

// The arguments every writer of a print is given.
struct CPrintStatDlg::PrintCall {
  const std::string& output_folder;
  const std::string& template_path;
  const std::string& region_code;
  int unit;
  int server_names;
  const std::string& year;
  const std::string& county;
};

// A report of a print routed to a writer: the writer, or why it has none.
struct CPrintStatDlg::PrintJob {
  std::string name;
  const WriterEntry* entry = nullptr;
  std::string refusal;  // when there is no entry
};

// The jobs of a print that writes apart: `first` runs on the print's own
// connection before any other; each of `apart` runs, in its order, on one
// thread.
struct CPrintStatDlg::PrintGroups {
  std::vector<std::size_t> first;
  std::vector<std::vector<std::size_t>> apart;
};

std::vector<CPrintStatDlg::PrintJob> CPrintStatDlg::JobsOf(
    const std::vector<std::string>& names) const {
  std::vector<PrintJob> jobs;
  for (const std::string& name : names) {
    const Route route = RouteOf(name);
    if (route.writer == nullptr) continue;  // no report for this name in this mode
    const auto entry = std::find_if(
        std::begin(kWriters), std::end(kWriters),
        [&](const WriterEntry& e) { return std::string_view(e.name) == route.writer; });
    if (entry == std::end(kWriters) || entry->writer == nullptr) {
      jobs.push_back({name, nullptr,
                      "report " + name + ": its writer " + route.writer + " (rule " +
                          std::to_string(route.rule) + ") is not available in this version"});
    } else {
      jobs.push_back({name, &*entry, {}});
    }
  }
  return jobs;
}

void CPrintStatDlg::RunJob(db::Connection& database, const PrintJob& job, const PrintCall& call) {
  if (job.entry == nullptr) {
    Refuse(job.name, job.refusal);
    return;
  }
  // After the operator's cancel no report is begun: each one left is not
  // written, without a box of its own (the print's summary counts them).
  if (host::JobCancelled()) {
    outcomes_.push_back({job.name, {}, "作业已取消"});
    return;
  }
  try {
    (this->*(job.entry->writer))(database, call.output_folder, call.template_path, job.name,
                                 call.region_code, call.unit, call.server_names, call.year,
                                 call.county);
  } catch (const std::exception& failure) {
    // What a writer did not catch while it made its plan.
    Refuse(job.name, "report " + job.name + ": " + failure.what());
  } catch (...) {
    Refuse(job.name, "report " + job.name + ": an unknown failure");
  }
}

namespace {

// The most workbooks a print writes at the same time.
constexpr std::size_t kMostWriters = 8;

// Groups the jobs of a print that writes apart: `first` runs on the print's
// own connection before any other, each group of `apart` in its order on
// one thread. Jobs run one after another, in the print's order, when their
// workbooks share a file name (the later replaces the earlier, as in a
// print in turn) or they share a lane other than kAny. `file_of` gives a
// job's file key, empty for a job without a writer (it runs first).
void GroupJobs(const std::vector<Lane>& lanes, const std::vector<std::string>& file_of,
               std::vector<std::size_t>& first, std::vector<std::vector<std::size_t>>& apart) {
  std::vector<std::vector<std::size_t>> groups;
  std::map<std::string, std::size_t> group_of;  // a key to the group holding its jobs
  std::vector<std::size_t> first_jobs;
  for (std::size_t i = 0; i < file_of.size(); ++i) {
    if (file_of[i].empty()) {
      first_jobs.push_back(i);
      continue;
    }
    std::vector<std::string> keys = {"file " + file_of[i]};
    if (lanes[i] != Lane::kAny)
      keys.push_back("lane " + std::to_string(static_cast<int>(lanes[i])));
    std::size_t into = groups.size();
    for (const std::string& key : keys) {
      const auto found = group_of.find(key);
      if (found != group_of.end()) into = std::min(into, found->second);
    }
    if (into == groups.size()) groups.emplace_back();
    groups[into].push_back(i);
    for (const std::string& key : keys) {
      const auto found = group_of.find(key);
      if (found != group_of.end() && found->second != into) {
        // Two groups meet in this job: one group of both.
        const std::size_t from = found->second;
        groups[into].insert(groups[into].end(), groups[from].begin(), groups[from].end());
        groups[from].clear();
        for (auto& entry : group_of) {
          if (entry.second == from) entry.second = into;
        }
      }
      group_of[key] = into;
    }
  }
  const auto work_tables =
      group_of.find("lane " + std::to_string(static_cast<int>(Lane::kWorkTables)));
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].empty()) continue;
    std::sort(groups[g].begin(), groups[g].end());
    if (work_tables != group_of.end() && work_tables->second == g) {
      first_jobs.insert(first_jobs.end(), groups[g].begin(), groups[g].end());
    } else {
      apart.push_back(std::move(groups[g]));
    }
  }
  std::sort(first_jobs.begin(), first_jobs.end());
  first = std::move(first_jobs);
}

// Runs `groups` on up to `workers` threads, the jobs of each group in turn
// on one thread with a connection of its own to `database`'s database, and
// calls `passed_on` here for every job 0 .. `count` - 1 in order once it
// has run (jobs in no group have run). Where threads cannot be started or
// cannot connect, the groups left run here on `database`. `run` must not
// throw.
void RunGroupsApart(db::Connection& database, std::size_t workers,
                    const std::vector<std::vector<std::size_t>>& groups, std::size_t count,
                    const std::function<void(db::Connection&, std::size_t)>& run,
                    const std::function<void(std::size_t)>& passed_on) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> ran(count, 1);
  for (const auto& group : groups) {
    for (std::size_t i : group) ran[i] = 0;
  }
  std::size_t running = 0;           // workers not yet ended
  std::atomic<std::size_t> next{0};  // the next group a worker takes
  const auto run_group = [&](db::Connection& connection, std::size_t g) {
    for (std::size_t i : groups[g]) {
      run(connection, i);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ran[i] = 1;
      }
      changed.notify_all();
    }
  };
  const std::string target = database.ConnectionString();
  const auto worker = [&] {
    db::Connection own;
    try {
      own.Open(target);
    } catch (const std::exception& error) {
      // The others, or the printing thread, write its share.
      host::yDebugStr(std::string("a report writer cannot connect: ") + error.what());
    }
    if (own.IsOpen()) {
      for (std::size_t g = next++; g < groups.size(); g = next++) run_group(own, g);
    }
    {
      const std::lock_guard<std::mutex> lock(mutex);
      --running;
    }
    changed.notify_all();
  };
  struct Joined {
    std::vector<std::thread> threads;
    ~Joined() {
      for (std::thread& thread : threads) thread.join();
    }
  } started;
  for (std::size_t w = 0; w < workers; ++w) {
    try {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ++running;
      }
      started.threads.emplace_back(worker);
    } catch (const std::system_error&) {
      const std::lock_guard<std::mutex> lock(mutex);
      --running;  // the process's limit: the started ones and this thread do the work
      break;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    bool left = false;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return ran[i] != 0 || running == 0; });
      left = ran[i] == 0;
    }
    if (left) {
      for (std::size_t g = next++; g < groups.size(); g = next++) run_group(database, g);
    }
    passed_on(i);
  }
}

}  // namespace

void CPrintStatDlg::PrintApart(db::Connection& database, const std::vector<PrintJob>& jobs,
                               const PrintCall& call, const PrintGroups& groups,
                               std::size_t workers) {
  std::vector<host::HeldOutput> held(jobs.size());
  std::vector<std::vector<ReportOutcome>> outcomes(jobs.size());
  const auto run = [&](db::Connection& connection, std::size_t i) {
    const host::ScopedHeldOutput scope(held[i]);
    try {
      CPrintStatDlg writer(settings_);
      writer.RunJob(connection, jobs[i], call);
      outcomes[i] = std::move(writer.outcomes_);
    } catch (...) {
      // Memory ran out around the writer: the report still counts as failed.
      outcomes[i] = {{jobs[i].name, {}, "report " + jobs[i].name + ": not written"}};
    }
  };
  for (std::size_t i : groups.first) run(database, i);
  RunGroupsApart(database, workers, groups.apart, jobs.size(), run, [&](std::size_t i) {
    held[i].PassOn();
    host::StepStage(static_cast<long>(i + 1), static_cast<long>(jobs.size()));
    for (ReportOutcome& outcome : outcomes[i]) outcomes_.push_back(std::move(outcome));
  });
}

std::size_t CPrintStatDlg::WritersApart(std::size_t groups) const {
  if (settings_.view) return 1;  // each workbook is shown as it is written
  return std::min({db::Workers(), kMostWriters, groups});
}

short CPrintStatDlg::DispatchReportTables(const std::string& output_folder,
                                          const std::string& connection,
                                          const std::vector<std::string>* names,
                                          const std::string& template_path,
                                          const std::string& region_code, int unit,
                                          int server_names, const std::string& year,
                                          const std::string& county) {
  outcomes_.clear();
  db::Connection database;
  try {
    database.Open(connection);
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    return 0;
  }
  // The folder is checked once, and held while the print writes into it.
  const std::string& folder = output_folder.empty() ? "." : output_folder;
  host::OutputFolderHold hold;
  std::string problem = host::OutputFolderProblem(folder);
  if (problem.empty()) hold.Take(folder, "print", problem);
  if (!problem.empty()) {
    host::AfxMessageBox(problem + "; no report written");
    return 0;
  }
  const PrintCall call{output_folder, template_path, region_code, unit, server_names, year, county};
  const std::vector<PrintJob> jobs = JobsOf(*names);
  const PrintGroups groups = GroupsOf(jobs);
  const std::size_t workers = WritersApart(groups.apart.size());
  // The reports are the print's one stage, a step each.
  host::JobStages stages("正在出表...", {{"reports", 1}});
  if (workers >= 2) {
    PrintApart(database, jobs, call, groups, workers);
  } else {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      host::StepStage(static_cast<long>(i), static_cast<long>(jobs.size()));
      RunJob(database, jobs[i], call);
    }
  }
  database.Close();
  return Failures() == 0 ? 1 : 0;
}

CPrintStatDlg::PrintGroups CPrintStatDlg::GroupsOf(const std::vector<PrintJob>& jobs) const {
  std::vector<Lane> lanes;
  std::vector<std::string> files;
  for (const PrintJob& job : jobs) {
    lanes.push_back(job.entry != nullptr ? job.entry->lane : Lane::kAny);
    std::string stat_tbl, short_name;
    if (job.entry == nullptr) {
      files.emplace_back();
    } else if (LookupReportCatalog(settings_.catalogue_path, stat_tbl, short_name, job.name) != 0) {
      files.push_back("catalogue " + short_name);
    } else {
      files.push_back("name " + job.name);
    }
  }
  PrintGroups groups;
  GroupJobs(lanes, files, groups.first, groups.apart);
  return groups;
}

namespace {

// How a writer reads a table: as a unit table in the print's unit, under
// its plain name (a table of no unit), or as an Inner Mongolia table in
// square metres whatever the unit, named as the Inner Mongolia run names it.
enum class Read { kInUnit, kPlain, kMongolia };

// Whether `base` is stored in a form a writer reads it in: a unit table by
// location or ownership, a unit copy or a unit table of the reserve
// families; or, read plain, under its plain name. The unit-less twins a
// unit conversion leaves are none a writer reads as a unit table.
bool TableStored(db::Connection& database, const TableNames& names, short unit, Read read,
                 const std::string& base) {
  if (base.empty()) return false;
  const std::vector<std::string> forms =
      read == Read::kPlain ? std::vector<std::string>{names.Plain(base), base}
      : read == Read::kMongolia
          ? std::vector<std::string>{MgTableNames(names.Year(), names.County())
                                         .Summary('Z', kSquareMetre, base)}
          : std::vector<std::string>{names.Summary('Z', unit, base), names.Summary('Q', unit, base),
                                     names.ReserveUnit(unit, base), names.UnitCopy(unit, base)};
  return std::any_of(forms.begin(), forms.end(), [&](const std::string& table) {
    return !table.empty() && database.TableExists(table);
  });
}

// The tables a writer reads besides the catalogue's, or instead of it.
struct WriterTables {
  const char* writer;
  const char* table;
  bool instead;  // the catalogue's table is none the writer reads
  Read read;
};

const WriterTables kWriterTables[] = {
    {"PrintJbntSurveyBeforeTable", "JBNTKTZGD", false, Read::kInUnit},
    {"PrintJbntSurveyAfterTable", "JBNTKTZGDBHH", false, Read::kInUnit},
    {"PrintJbntRegionSummaryTable", "JBNTKTZ", false, Read::kInUnit},
    {"PrintJbntBlockSummaryTable", "BHKKTZ", false, Read::kInUnit},
    {"PrintJbntBlockSummarySplit", "BHKKTZ", false, Read::kInUnit},
    {"PrintParcelAreaTable", "statdata", true, Read::kPlain},
    {"PrintMgLedgerTable", kMgLedgerBase, true, Read::kMongolia},
};

// A table a writer reads for a report, and how.
struct TableRead {
  std::string table;
  Read read;
};

// The tables `writer` reads for a report whose catalogue names `stat_tbl`.
std::vector<TableRead> TablesRead(const char* writer, const std::string& stat_tbl) {
  std::vector<TableRead> tables;
  const auto found = std::find_if(
      std::begin(kWriterTables), std::end(kWriterTables), [&](const WriterTables& entry) {
        return writer != nullptr && std::string_view(entry.writer) == writer;
      });
  if (found == std::end(kWriterTables) || !found->instead) {
    const bool plain = writer != nullptr && std::string_view(writer) == "PrintCodeListTable" &&
                       CodeListReadsPlain(stat_tbl);
    tables.push_back({stat_tbl, plain ? Read::kPlain : Read::kInUnit});
  }
  if (found != std::end(kWriterTables)) tables.push_back({found->table, found->read});
  return tables;
}

// "TDLY_YJFL, built by a 通用城镇 run", from the registered families.
std::string BuiltBy(const std::string& base) {
  if (base.empty()) return "no table of its own is built yet";
  const std::vector<std::string> runs = RunsBuilding(base);
  if (runs.empty()) return base + ", not in the database";
  std::string text = base + ", built by ";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += " or ";
    text +=
        runs[i] == "landstat town" ? "the town-lot run (landstat town)" : "a " + runs[i] + " run";
  }
  return text;
}

// Why a print in `unit` has nothing to read when none of `tables` (read in
// the print's unit) is stored in it: the units that hold some of them.
// Empty when no other unit holds any either: then the tables are not built,
// whatever the unit.
std::string UnitNotHeld(db::Connection& database, const TableNames& names, short unit,
                        const std::vector<std::string>& tables) {
  std::string held;
  for (short other : {kSquareMetre, kHectare, kMu}) {
    if (other == unit) continue;
    if (std::any_of(tables.begin(), tables.end(), [&](const std::string& table) {
          return TableStored(database, names, other, Read::kInUnit, table);
        })) {
      held += std::string(held.empty() ? "" : ", ") + UnitText(other);
    }
  }
  if (held.empty()) return "";
  return "the statistics of " + names.Year() + " " + names.County() + " hold no tables in " +
         UnitText(unit) + ", only in " + held;
}

// The families whose tables this county's runs left out because a layer
// lacked a field they need: those of the statistics run the configured
// version builds, and those of the town-lot run. None when the record of
// the runs cannot be read: their reports are tried, and fail naming the
// table.
std::set<std::string> LeftOutByRuns(db::Connection& database, const TableNames& names,
                                    const RunVariant& configured) {
  std::set<std::string> left;
  try {
    for (const std::string& base :
         FamiliesLeftOutByRun(database, names.Year(), names.County(), FamilyKind::kGeneral)) {
      if (RunBuilds(base, configured)) left.insert(base);
    }
    const std::set<std::string> town =
        FamiliesLeftOutByRun(database, names.Year(), names.County(), FamilyKind::kTown);
    left.insert(town.begin(), town.end());
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    left.clear();
  }
  return left;
}

// Why the Inner Mongolia tables (named without year or county) are not
// read for `names`: they hold another year's or county's results (those of
// their newest completed run), or the record of the runs cannot be read, so
// that what they hold is unknown. Empty when they hold these, or no run is
// recorded.
std::string MongoliaTablesProblem(db::Connection& database, const TableNames& names) {
  try {
    const std::optional<RunRecordRow> held = LastCompletedRun(database, kMongoliaJob);
    if (!held || (held->year == names.Year() && held->county == names.County())) return "";
    return "the Inner Mongolia tables hold " + held->year + " " + held->county +
           "; a landstat mongolia run of this county replaces them";
  } catch (const db::DbError& error) {
    return std::string(
               "the record of the runs (StatRuns) cannot be read, so what the Inner "
               "Mongolia tables hold is unknown: ") +
           error.what();
  }
}

}  // namespace

ReportSelection CPrintStatDlg::SelectReports(db::Connection& database,
                                             const TableNames& table_names, short unit,
                                             const std::vector<std::string>& names) const {
  ReportSelection selection;
  const RunVariant configured{host::HostVersion()};
  const std::set<std::string> left_out = LeftOutByRuns(database, table_names, configured);
  std::vector<std::string> unit_tables;  // the tables read in the unit
  bool unit_held = false;                // one of them is stored in the unit
  // Read once, when a report reads the Inner Mongolia tables.
  std::optional<std::string> mongolia_problem;
  for (const std::string& name : names) {
    const char* writer = RouteOf(name).writer;
    std::string stat_tbl, short_name;
    const bool listed =
        LookupReportCatalog(settings_.catalogue_path, stat_tbl, short_name, name) != 0;
    if (!listed || (!stat_tbl.empty() && !PlainTableName(stat_tbl))) {
      // Its writer refuses it, naming the catalogue (and the text that is
      // no table name), as a failure: it is not a report merely not built.
      selection.writable.push_back(name);
    } else if (writer != nullptr && !WriterAvailable(writer)) {
      selection.unavailable.push_back(
          {name, std::string("its writer ") + writer + " is not in this version"});
    } else if (writer == nullptr) {
      selection.writable.push_back(name);
    } else if (std::string_view(writer) == "PrintBalanceSheet") {
      // The balance sheet reads two years' tables, not one summary table.
      std::string missing = BalanceSheetInputsMissing(database, table_names);
      if (missing.empty()) {
        selection.writable.push_back(name);
      } else {
        selection.not_built.push_back({name, std::move(missing)});
      }
    } else {
      std::string missing;
      for (const TableRead& read : TablesRead(writer, stat_tbl)) {
        const bool stored = TableStored(database, table_names, unit, read.read, read.table);
        if (stored && read.read == Read::kMongolia) {
          if (!mongolia_problem) mongolia_problem = MongoliaTablesProblem(database, table_names);
          if (!mongolia_problem->empty()) {
            missing = read.table + ", " + *mongolia_problem;
            break;
          }
        }
        if (read.read == Read::kInUnit && !read.table.empty()) {
          unit_tables.push_back(read.table);
          unit_held = unit_held || stored;
        }
        if (!stored && left_out.count(read.table)) {
          missing = read.table + ", left out by the run: a layer lacked a field it needs";
          break;
        }
        if (!stored && !RunBuilds(read.table, configured)) {
          missing = BuiltBy(read.table);
          break;
        }
      }
      if (missing.empty()) {
        selection.writable.push_back(name);
      } else {
        selection.not_built.push_back({name, std::move(missing)});
      }
    }
  }
  if (!unit_held) selection.unit_not_held = UnitNotHeld(database, table_names, unit, unit_tables);
  return selection;
}

}  // namespace landstat::report
