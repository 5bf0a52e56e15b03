#include "operator/range_run.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_workspace.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "lots/lot_run_support.h"
#include "lots/zd_stat_context.h"
#include "operator/clip_analyse.h"
#include "operator/range_stages.h"
#include "operator/range_statistics.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/gis/project_cut.h"
#include "platform/host/log_file.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kTitle[] = "范围统计";
constexpr char kLotLayers[2][16] = {"城镇权属层", "宗地"};
constexpr char kHouseLayer[] = "房屋层";

// The three layers of a land-use or farmland range and the repair's mode.
struct LayerNames {
  const char* parcel;
  const char* line;
  const char* point;
  short mode;
};
constexpr LayerNames kLandUseNames = {"地类图斑", "线状地物", "零星地物", 0};
constexpr LayerNames kFarmlandNames = {"基本农田图斑", "基本农田线状地物", "基本农田零星地物", 1};

// The fields an empty stand-in for a missing line or point layer carries:
// those the repair and the base table look for, so that both pass over it.
const std::vector<gis::FieldDef> kWorkLineFields = {
    {"地类编码", gis::FieldType::kText, 10},
    {"宽度", gis::FieldType::kDouble},
    {"长度", gis::FieldType::kDouble},
    {"线状地物面积", gis::FieldType::kDouble},
    {"扣除比例", gis::FieldType::kDouble},
    {"扣除图斑编号1", gis::FieldType::kText, 30},
    {"扣除图斑座落代码1", gis::FieldType::kText, 30},
    {"扣除图斑编号2", gis::FieldType::kText, 30},
    {"扣除图斑座落代码2", gis::FieldType::kText, 30},
    {"权属单位代码1", gis::FieldType::kText, 30},
    {"权属单位代码2", gis::FieldType::kText, 30},
    {"基本农田图斑编号1", gis::FieldType::kText, 30},
    {"基本农田图斑编号2", gis::FieldType::kText, 30}};
const std::vector<gis::FieldDef> kWorkPointFields = {{"地类编码", gis::FieldType::kText, 10},
                                                     {"座落单位代码", gis::FieldType::kText, 30},
                                                     {"零星地物面积", gis::FieldType::kDouble},
                                                     {"权属单位代码", gis::FieldType::kText, 30},
                                                     {"座落图斑编号", gis::FieldType::kText, 30}};

std::string JetConnection(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
}

struct RepairLayers {
  short parcel = 0, line = 0, point = 0;
};

// One range run: the request, the range project and what its set-up found.
struct RangeJob {
  const RangeRequest& request;
  std::unique_ptr<gis::CGisXmlPrj> project;
  std::string folder, database, log_path;
  bool made_database = false;  // made for this run: removed again when it fails
  // Failures of the set-up after the folder was touched, logged once the
  // context's log is open (records a cut skipped, the code file).
  std::vector<std::string> setup_failures;
  // Stand-in layers this run opened, closed at its end.
  std::vector<short> work_layers;
  // The base names of the tables the run made.
  std::set<std::string> made;

  explicit RangeJob(const RangeRequest& r) : request(r) {}
  ~RangeJob() {
    for (short layer : work_layers) gis::CloseLayer(layer);
    if (project) project->CloseLayers();
  }
};

// An empty stand-in for a line or point layer the range lacks, beside the
// parcels in their data source, under a name of its own (NAME_空层: a
// layer of the survey name there may hold features the project leaves
// out): the one an earlier run left there, else a new one.
short StandInLayer(RangeJob& job, const char* parcel_name, short parcel, const char* name,
                   gis::EntityKind kind) {
  const std::string source = job.project->SourceOf(parcel_name);
  const std::string stand_in = std::string(name) + "_空层";
  const std::vector<std::string> held = gis::SourceLayerNames(source);
  short layer = 0;
  if (std::find(held.begin(), held.end(), stand_in) != held.end()) {
    layer = gis::OpenLayer(source, stand_in, true);
  } else {
    layer =
        gis::CreateWorkLayer(parcel, stand_in, kind,
                             kind == gis::EntityKind::kLine ? kWorkLineFields : kWorkPointFields);
  }
  job.work_layers.push_back(layer);
  return layer;
}

// The three layers of the repair, open for writing; an empty stand-in
// for a missing line or point layer. A layer that cannot be opened is
// left out (0) and its reason kept.
RepairLayers OpenRepairLayers(RangeJob& job, const LayerNames& names,
                              std::vector<std::string>& failures) {
  RepairLayers layers;
  try {
    layers.parcel = job.project->prjItemGetAiForWriting(names.parcel);
  } catch (const gis::GisError& error) {
    failures.push_back(error.what());
    return layers;
  }
  const struct {
    short RepairLayers::*slot;
    const char* name;
    gis::EntityKind kind;
  } others[] = {{&RepairLayers::line, names.line, gis::EntityKind::kLine},
                {&RepairLayers::point, names.point, gis::EntityKind::kPoint}};
  for (const auto& other : others) {
    try {
      layers.*other.slot =
          job.project->HasLayer(other.name)
              ? job.project->prjItemGetAiForWriting(other.name)
              : StandInLayer(job, names.parcel, layers.parcel, other.name, other.kind);
    } catch (const gis::GisError& error) {
      failures.push_back(error.what());
    }
  }
  return layers;
}

// The repaired layers for reading: a layer left open for writing keeps
// its data source locked against the readers of the other layers in it
// (the lots and houses of the same GeoPackage).
RepairLayers ReopenForReading(RangeJob& job, const LayerNames& names, const RepairLayers& written) {
  RepairLayers layers;
  const struct {
    short RepairLayers::*slot;
    const char* name;
  } slots[] = {{&RepairLayers::parcel, names.parcel},
               {&RepairLayers::line, names.line},
               {&RepairLayers::point, names.point}};
  for (const auto& slot : slots) {
    const short layer = written.*slot.slot;
    if (layer <= 0) continue;
    const auto stand_in = std::find(job.work_layers.begin(), job.work_layers.end(), layer);
    gis::CloseLayer(layer);
    if (stand_in != job.work_layers.end()) {
      *stand_in =
          gis::OpenLayer(job.project->SourceOf(names.parcel), std::string(slot.name) + "_空层");
      layers.*slot.slot = *stand_in;
    } else {
      layers.*slot.slot = job.project->prjItemGetAi(slot.name);
    }
  }
  return layers;
}

// The repair of the clipped layers, saved in place; the layers are then
// open for reading only. Nothing when the repair was refused or stopped
// (logged): the layers hold the county's figures of the features the cut
// kept, no figures of the range, and no table is built from them. A layer
// that cannot be opened again is 0 (logged).
std::optional<RepairLayers> Repair(RangeJob& job, StatRunLog& log, const RepairLayers& layers,
                                   const LayerNames& names) {
  bool repaired = false;
  try {
    clip_analyse(layers.parcel, layers.line, layers.point, names.mode, &log);
    for (short layer : {layers.parcel, layers.line, layers.point}) {
      if (layer > 0) gis::SaveLayer(layer);
    }
    repaired = true;
    host::yDebugTime("range layers repaired");
  } catch (const gis::GisError& error) {
    log.LogFailure("修复范围图层",
                   std::string("图层 ") + names.parcel + "、" + names.line + "、" + names.point +
                       " 修复未完成, 不生成其范围统计表",
                   error);
  }
  try {
    const RepairLayers reopened = ReopenForReading(job, names, layers);
    if (repaired) return reopened;
  } catch (const gis::GisError& error) {
    log.LogFailure("修复范围图层", "修复后无法打开图层", error);
    if (repaired) return RepairLayers{};
  }
  return std::nullopt;
}

// CODE.WB: the code table in our code-file format, written whole or not
// at all.
bool WriteCodeFile(const gis::RuralCode& codes, const std::string& path, std::string& error) {
  std::vector<gis::CODESTRUCT> entries;
  codes.GetCode(nullptr, &entries, 0, nullptr);
  const std::string scratch = path + ".writing";
  {
    std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
    for (const gis::CODESTRUCT& entry : entries) {
      out << entry.type << '\t' << entry.code << '\t' << entry.name << '\n';
    }
    out.close();
    if (!out) {
      error = "无法写代码文件 " + path;
      return false;
    }
  }
  std::error_code failed;
  fs::rename(scratch, path, failed);
  if (failed) error = "无法写代码文件 " + path + ": " + failed.message();
  return !failed;
}

// A report of a run that ended before any folder was touched.
RangeReport Refused(const std::vector<std::string>& failures, Clock::time_point start) {
  RangeReport report;
  static_cast<RunReport&>(report) = FailedBeforeContext({}, kTitle, failures);
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return report;
}

// The layer a run of the kind walks first, which a range must hold records
// of: the parcels of land use or farmland, the lots of a town-lot run
// (城镇权属层, else 宗地). Empty when the project has none.
std::string FirstLayer(RangeKind kind, const gis::CGisXmlPrj& project) {
  const auto held = [&](const char* name) { return project.HasLayer(name) ? name : ""; };
  switch (kind) {
    case RangeKind::kLandUse:
      return held(kLandUseNames.parcel);
    case RangeKind::kFarmland:
      return held(kFarmlandNames.parcel);
    case RangeKind::kTownLots:
      return project.HasLayer(kLotLayers[0]) ? kLotLayers[0] : held(kLotLayers[1]);
  }
  return {};
}

// The layer of the kind the project lacks (its first layer; the house
// layer for a town title), named in the reason; empty when it lacks none.
std::string MissingLayer(const RangeRequest& request, const gis::CGisXmlPrj& project) {
  const auto missing = [&](const std::string& name) {
    return "工程 " + project.GetFilePath() + " 没有图层 " + name;
  };
  if (FirstLayer(request.kind, project).empty()) {
    switch (request.kind) {
      case RangeKind::kLandUse:
        return missing(kLandUseNames.parcel);
      case RangeKind::kFarmland:
        return missing(kFarmlandNames.parcel);
      case RangeKind::kTownLots:
        return missing(std::string(kLotLayers[0]) + " 或 " + kLotLayers[1]);
    }
  }
  if (request.kind == RangeKind::kTownLots && request.title && !project.HasLayer(kHouseLayer)) {
    return missing(kHouseLayer);
  }
  return {};
}

// The county project a range is to be cut out of: its first layer of the
// kind, which the cut must keep a record of; empty, with `problem`, when
// the project does not open or lacks a layer of the kind.
std::string CountyFirstLayer(const RangeRequest& request, std::string& problem) {
  try {
    const std::unique_ptr<gis::CGisXmlPrj> county = gis::CGisXmlPrj::Open(request.project);
    problem = MissingLayer(request, *county);
    return problem.empty() ? FirstLayer(request.kind, *county) : std::string();
  } catch (const gis::GisError& error) {
    problem = error.what();
    return {};
  }
}

// What must hold before the folder is touched: the project opens, is a
// range a cut made (its layers are the only ones the repair may write), has
// the kind's required layers and records in the first of them. Empty when
// it does; else why not.
std::string CheckRange(RangeJob& job, const std::string& project_path) {
  try {
    job.project = gis::CGisXmlPrj::Open(project_path);
    if (std::string why = gis::NotACutRange(*job.project); !why.empty()) {
      return why + ": 先用范围多边形切出范围, 只统计切出的范围";
    }
    if (std::string missing = MissingLayer(job.request, *job.project); !missing.empty()) {
      return missing;
    }
    const std::string first = FirstLayer(job.request.kind, *job.project);
    if (gis::RecordCount(job.project->prjItemGetAi(first), gis::EntityKind::kTable) <= 1) {
      return "范围工程 " + project_path + " 的图层 " + first + " 没有记录, 范围内没有可统计的图元";
    }
  } catch (const gis::GisError& error) {
    return error.what();
  }
  return {};
}

// From here on the folder is the run's: the log, CODE.WB, the database.
void PrepareFolder(RangeJob& job) {
  job.folder = job.project->GetFolder();
  job.database = (fs::path(job.folder) / kRangeDatabaseName).string();
  job.log_path = (fs::path(job.folder) / kRangeLogName).string();
  // The run writes its log only when it exists; one there that cannot be
  // opened is the run's failure when it opens it.
  std::string error;
  std::error_code ignored;
  if (!host::OpenLogFile(job.log_path, host::LogOpening::kAppend, error) &&
      !fs::exists(fs::symlink_status(job.log_path, ignored))) {
    job.setup_failures.push_back(error);
  }
  if (!WriteCodeFile(*job.request.codes, (fs::path(job.folder) / kRangeCodeFileName).string(),
                     error)) {
    job.setup_failures.push_back(error);
  }
  if (!fs::exists(job.database)) {
    job.made_database = CreateAcessDB(job.database) == 1;
    if (!job.made_database) job.setup_failures.push_back("无法建立范围统计数据库 " + job.database);
  }
}

void LogSetup(StatRunLog& log, const RangeJob& job) {
  for (const std::string& failure : job.setup_failures) log.LogFailure(kTitle, failure);
}

// Takes the range database: a working copy that replaces it when the run
// completes. A range database belongs to its folder: the statistics of
// another county code in it are replaced.
bool TakeDatabase(RunWorkspace& workspace, StatRunLog& log) {
  std::string error;
  std::vector<std::string> notices;
  RunWorkspace::Checks checks;
  checks.replace_other = true;
  const bool taken = workspace.Open(checks, error, notices);
  for (const std::string& notice : notices) log.LogNotice("范围统计数据库", notice);
  if (!taken) log.LogFailure("打开范围统计数据库", error);
  return taken;
}

// A second context's failures go to the log of the first, counted there,
// while `guest` works: it shares the open log file, the count and whether
// the job's database was lost.
class SharedLog {
 public:
  SharedLog(StatRunLog& host, StatRunLog& guest) : host_(host), guest_(guest) {
    guest_.m_fileLog = host_.m_fileLog;
    guest_.m_bLogOpen = host_.m_bLogOpen;
    guest_.m_nErrCount = host_.m_nErrCount;
    guest_.m_arrFirstFailures = host_.m_arrFirstFailures;
    guest_.m_arrNotices = host_.m_arrNotices;
    guest_.m_bJobStopped = host_.m_bJobStopped;
  }
  ~SharedLog() {
    host_.m_nErrCount = guest_.m_nErrCount;
    host_.m_arrFirstFailures = std::move(guest_.m_arrFirstFailures);
    host_.m_arrNotices = std::move(guest_.m_arrNotices);
    host_.m_bJobStopped = host_.m_bJobStopped || guest_.m_bJobStopped;
    guest_.m_fileLog = nullptr;
    guest_.m_bLogOpen = false;
  }
  SharedLog(const SharedLog&) = delete;
  SharedLog& operator=(const SharedLog&) = delete;

 private:
  StatRunLog& host_;
  StatRunLog& guest_;
};

// The context of a land-use or farmland range on its three layers, in
// naming mode 0 with an empty year, the county as second prefix part, no
// district, change, reserve or dispute layer, the group level and no
// version string.
std::unique_ptr<CStatContext> LandContext(const RangeJob& job, const RepairLayers& layers,
                                          bool farmland, const std::string& log_path) {
  const short p = farmland ? 0 : layers.parcel, l = farmland ? 0 : layers.line,
              s = farmland ? 0 : layers.point;
  const short jp = farmland ? layers.parcel : 0, jl = farmland ? layers.line : 0,
              js = farmland ? layers.point : 0;
  auto context = std::make_unique<CStatContext>(0, p, l, s, jp, jl, js, 0, 0, 0, job.request.codes,
                                                "", job.request.county, log_path, 1, "");
  context->m_bWorkingCopy = true;
  context->m_bYearless = true;
  context->m_bRepairedRange = true;
  return context;
}

// The land-use stages on the working copy `connection`; false when the
// context could not be set up or the base data failed.
bool LandStages(CStatContext& context, const std::string& connection, bool farmland,
                const std::optional<std::string>& title, std::set<std::string>& made) {
  if (context.InitUnits(connection, 0) <= 0 || context.LoadCodes() <= 0) {
    context.LogFailure(kTitle, "无法打开范围统计数据库或装载代码表");
    return false;
  }
  if (farmland) return BuildFarmlandRange(context, made);
  return BuildLandUseRange(context, title, made);
}

RunReport RunLandRange(RangeJob& job, bool farmland) {
  const LayerNames& names = farmland ? kFarmlandNames : kLandUseNames;
  std::vector<std::string> failures;
  const RepairLayers opened = OpenRepairLayers(job, names, failures);
  // The run's log is opened before the repair, which writes to it; the
  // context, made on the layers as the repair leaves them, shares it.
  StatRunLog repair_log(job.log_path);
  repair_log.OpenStatLogFile();
  LogSetup(repair_log, job);
  for (const std::string& failure : failures) repair_log.LogFailure(kTitle, failure);
  std::optional<RepairLayers> layers;
  if (opened.parcel > 0) layers = Repair(job, repair_log, opened, names);
  std::unique_ptr<CStatContext> context =
      LandContext(job, layers.value_or(RepairLayers{}), farmland, {});
  SharedLog shared(repair_log, *context);
  RunReport report;
  bool completed = false;
  if (opened.parcel > 0 && (!layers || layers->parcel > 0)) {
    RunWorkspace workspace(JetConnection(job.database), false, "", job.request.county, "range");
    if (TakeDatabase(workspace, *context)) {
      try {
        if (layers) {
          completed = LandStages(*context, workspace.WorkConnection(), farmland,
                                 farmland ? std::nullopt : job.request.title, job.made);
        } else {
          // A refused repair (logged) builds no table: the run completes
          // with its failure, and the range database keeps what it held.
          context->m_pConn.Open(workspace.WorkConnection());
          completed = true;
        }
      } catch (const std::exception& escaped) {
        // Whatever a stage let through ends the run as failed, never half done.
        context->LogEscaped(kTitle, "统计中止", escaped);
        completed = false;
      }
      completed = EndJob(workspace, context->m_pConn, *context, completed, "保存范围统计结果", {},
                         report.outcome);
    }
  }
  ReportFromLog(*context, completed, report);
  return report;
}

// Whether a town-lot run will run the land-use range statistics: every
// summary or the intensity report is asked for and the range database has
// no land-use base table.
bool TownRunNeedsLandUse(const RangeJob& job) {
  if (job.request.title && !TownTitleReadsLandUse(*job.request.title)) return false;
  if (!job.project->HasLayer(kLandUseNames.parcel)) return false;
  try {
    return !db::Connection(job.database).TableExists("statdata");
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return true;
  }
}

// The land-use range inside a town-lot run, on the same working copy, on
// the layers repaired before the lots and houses were opened (a reader of
// the lots keeps the GeoPackage from taking the repair's writes).
void LandUseInsideTownRun(RangeJob& job, CZdStatContext& town,
                          const std::optional<RepairLayers>& repaired,
                          const std::string& connection) {
  if (!repaired) return;  // the refused repair is logged
  const RepairLayers& layers = *repaired;
  if (layers.parcel <= 0) {
    town.LogNotice("土地利用", "范围工程没有可用的图层 地类图斑, 不汇总土地利用");
    return;
  }
  // The land-use stages may compact the working copy, which puts a new
  // file in its place: the town context lets go of it meanwhile.
  town.m_pConn.Close();
  {
    std::unique_ptr<CStatContext> land = LandContext(job, layers, false, {});
    SharedLog shared(town, *land);
    try {
      LandStages(*land, connection, false, std::nullopt, job.made);
      // A failure of the disk the land-use stages went on from ends the
      // town run too (SharedLog passes it on).
      land->EndIfStopped("土地利用");
    } catch (const std::exception& escaped) {
      land->LogEscaped("土地利用", "统计中止", escaped);
    }
    land->CloseStatConnection();
  }
  town.m_pConn.Open(connection);
  RunWorkspace::SpeedUpWorkingCopy(town.m_pConn);
}

RunReport RunTownRange(RangeJob& job) {
  RunWorkspace workspace(JetConnection(job.database), false, "", job.request.county, "range");
  // The run's log, which the context writes to once it is made.
  StatRunLog log(job.log_path);
  log.OpenStatLogFile();
  LogSetup(log, job);
  if (!TakeDatabase(workspace, log)) {
    RunReport report;
    ReportFromLog(log, false, report);
    return report;
  }
  // The layers are given to the context once the land-use layers are
  // repaired.
  CZdStatContext context(0, 0, job.request.codes, workspace.WorkConnection(), 0, "",
                         job.request.county, {});
  SharedLog shared(log, context);
  std::optional<RepairLayers> land = RepairLayers{};
  if (TownRunNeedsLandUse(job)) {
    std::vector<std::string> failures;
    const RepairLayers opened = OpenRepairLayers(job, kLandUseNames, failures);
    for (const std::string& failure : failures) context.LogFailure(kTitle, failure);
    if (opened.parcel > 0) land = Repair(job, context, opened, kLandUseNames);
  }
  std::vector<std::string> failures;
  context.m_aiZd = ProjectLayer(*job.project, kLotLayers[0], failures);
  if (context.m_aiZd <= 0) context.m_aiZd = ProjectLayer(*job.project, kLotLayers[1], failures);
  context.m_aiHouse = ProjectLayer(*job.project, kHouseLayer, failures);
  for (const std::string& failure : failures) context.LogFailure(kTitle, failure);
  RunReport report;
  bool completed = context.m_aiZd > 0 && (!job.request.title || context.m_aiHouse > 0);
  try {
    if (completed && context.m_pConn.IsOpen()) RunWorkspace::SpeedUpWorkingCopy(context.m_pConn);
    completed = completed &&
                BuildTownRange(
                    context, job.request.title,
                    [&] { LandUseInsideTownRun(job, context, land, workspace.WorkConnection()); },
                    job.made);
    if (completed) CopyLotAndHouseInfo(context, job.request.title, job.made);
  } catch (const std::exception& escaped) {
    context.LogEscaped(kTitle, "统计中止", escaped);
    completed = false;
  }
  completed = EndJob(workspace, context.m_pConn, context, completed, "保存范围统计结果", {},
                     report.outcome);
  ReportFromLog(context, completed, report);
  return report;
}

}  // namespace

std::string DefaultRangeFolder(const std::string& project, const std::string& polygon) {
  return (fs::path(project).parent_path() / ("range-" + fs::path(polygon).stem().string()))
      .string();
}

RangeReport RunRange(const RangeRequest& request) {
  const auto start = Clock::now();
  // Early failures: no folder is touched.
  if (request.project.empty()) return Refused({"没有范围工程文件"}, start);
  if (!request.codes || !gis::IsLayerValid(request.codes->m_ai)) {
    return Refused({"没有可读的代码表"}, start);
  }
  if (request.title && !IsRangeTitle(request.kind, *request.title)) {
    return Refused({"范围统计没有标题为 \"" + *request.title + "\" 的报表"}, start);
  }
  RangeJob job(request);
  host::JobStages stages("正在切割范围...", {{"cut", 30}, {"statistics", 70}});
  std::string project_path = request.project;
  if (!request.polygon.empty()) {
    std::string problem;
    const std::string first = CountyFirstLayer(request, problem);
    if (!problem.empty()) return Refused({problem}, start);
    const std::string folder = request.range_folder.empty()
                                   ? DefaultRangeFolder(request.project, request.polygon)
                                   : request.range_folder;
    std::string failed;
    try {
      const gis::CutReport cut = gis::CutProject(request.project, request.polygon, folder, first);
      project_path = cut.project_path;
      job.setup_failures = cut.problems;
    } catch (const gis::GisError& error) {
      failed = std::string("切割范围失败: ") + error.what();
    }
    // Logged outside the handler, which would add the error's text again.
    if (!failed.empty()) return Refused({failed}, start);
  }
  const std::string problem = CheckRange(job, project_path);
  if (!problem.empty()) return Refused({problem}, start);
  stages.Done("cut");
  PrepareFolder(job);
  RangeReport report;
  switch (request.kind) {
    case RangeKind::kLandUse:
      static_cast<RunReport&>(report) = RunLandRange(job, false);
      break;
    case RangeKind::kFarmland:
      static_cast<RunReport&>(report) = RunLandRange(job, true);
      break;
    case RangeKind::kTownLots:
      static_cast<RunReport&>(report) = RunTownRange(job);
      break;
  }
  report.folder = job.folder;
  // A database made for a run that failed holds nothing of it.
  if (job.made_database && !report.Completed()) RunWorkspace::RemoveMadeFile(job.database, report);
  ReportTablesWritten(report, job.database,
                      TablesOfBases(TableNames(), {job.made.begin(), job.made.end()}));
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return report;
}

}  // namespace landstat
