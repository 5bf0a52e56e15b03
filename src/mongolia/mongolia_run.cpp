#include "mongolia/mongolia_run.h"

#include <chrono>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "engine/table_family.h"
#include "mongolia/mg_stat_context.h"
#include "mongolia/mg_table_names.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {

const char* const kMgParcelLayer = "地类图斑";
const char* const kMgLineLayer = "线状地物";
const char* const kMgPointLayer = "零星地物";
const char* const kMgDistrictLayer = "行政辖区";
const char* const kMgOwnerCodeField = "内蒙古权属单位代码";
const char* const kMgOwnerNameField = "内蒙古权属单位名称";

namespace {

using Clock = std::chrono::steady_clock;

struct MgLayers {
  short district = 0, parcel = 0, line = 0, point = 0;
};

// The report of a run that ended before its context was made: the
// failures are written to the run's log all the same.
RunReport FailedBeforeContext(const std::string& log_path,
                              const std::vector<std::string>& failures) {
  StatRunLog log(log_path);
  log.OpenStatLogFile();
  for (const std::string& failure : failures) log.LogFailure("准备汇总内蒙古数据", failure);
  RunReport report;
  report.failures = log.m_nErrCount;
  report.messages = log.m_arrFirstFailures;
  return report;
}

// The ownership fields a feature layer must carry: the parcels and the
// scattered features their own pair, the linear features a pair per side
// (the fields their rows are read from; a plain pair on a linear layer
// would be read by nothing).
void CheckOwnerFields(short layer, const char* name, bool sides,
                      std::vector<std::string>& failures) {
  for (const char* suffix : sides ? std::vector<const char*>{"1", "2"} : std::vector{""}) {
    for (const char* field : {kMgOwnerCodeField, kMgOwnerNameField}) {
      const std::string wanted = std::string(field) + suffix;
      if (gis::HasField(layer, wanted)) continue;
      failures.push_back(std::string("图层 ") + name + " 缺少字段 " + wanted);
      return;
    }
  }
}

// The three feature layers and their fields, before any database work.
// A project must list each of them; of layers handed over, one of 0 or less
// is no layer, and its pass is skipped.
void CheckLayers(const MgLayers& layers, bool from_project, std::vector<std::string>& failures) {
  const struct {
    short layer;
    const char* name;
    bool sides;
  } checked[] = {{layers.parcel, kMgParcelLayer, false},
                 {layers.line, kMgLineLayer, true},
                 {layers.point, kMgPointLayer, false}};
  for (const auto& [layer, name, sides] : checked) {
    if (layer <= 0) {
      if (from_project) failures.push_back(std::string("工程中没有图层 ") + name);
      continue;
    }
    CheckOwnerFields(layer, name, sides, failures);
  }
}

// The stages of an Inner Mongolia run as the progress weighs them: their
// share of a run's time.
const std::vector<host::JobStages::Stage> kMongoliaStages = {
    {"open", 5},       {"base table", 35}, {"unit copies", 15},
    {"summaries", 35}, {"area units", 5},  {"publish", 5},
};

// The Inner Mongolia families: a family's create, then its fill when the
// create returned more than 0; neither stops the run. A fill that failed
// without logging why is logged here, so the run counts it.
void BuildMongoliaFamilies(CMgStatContext& context, const StageObserver& observer) {
  std::vector<const TableFamily*> families;
  for (const TableFamily* family : MongoliaFamiliesInStageOrder()) {
    if (!family->step) families.push_back(family);  // the run's own stages are built apart
  }
  for (std::size_t i = 0; i < families.size(); ++i) {
    const TableFamily* family = families[i];
    host::StepStage(static_cast<long>(i), static_cast<long>(families.size()));
    if (family->progress) host::LindoDlgProgressSetText(family->progress);
    if (family->mg_create(context) > 0 && family->mg_fill) {
      const int logged = context.m_nErrCount;
      if (family->mg_fill(context) <= 0 && context.m_nErrCount == logged) {
        context.LogFailure(family->base, "汇总失败");
      }
    }
    context.EndIfStopped(family->base);
    host::yDebugTime(family->base);
    if (observer) observer(family->base);
  }
}

// Whether the Inner Mongolia tables hold another year's or county's results,
// which this run replaces (it was asked to, or it was refused).
bool ReplacesOther(CMgStatContext& context) {
  const std::optional<RunRecordRow> held = LastCompletedRun(context.m_pConn, kMongoliaJob);
  return held && (held->year != context.m_strPrefix1 || held->county != context.m_strPrefix2);
}

// The area-unit records of `unit` for this year, which the Inner Mongolia
// tables no longer exist in: removed. Whether there were any.
bool ForgetAreaUnit(CMgStatContext& context, short unit) {
  const std::string table = context.AreaUnitTable();
  if (!context.IsTableExist(table)) return false;
  try {
    return context.m_pConn.Execute("delete from " + table + " where 年度=? and AREAUNIT=?",
                                   {db::Value(context.m_strPrefix1), db::Value(UnitText(unit))}) >
           0;
  } catch (const db::DbError& error) {
    context.LogFailure("记录内蒙古面积单位",
                       std::string("删除不再统计的面积单位 ") + UnitText(unit) + " 失败", error);
    return false;
  }
}

// The tables of a unit: the unit copy of the base table and the summaries.
std::vector<std::string> TablesOfUnit(const CMgStatContext& context, short unit) {
  std::vector<std::string> tables = {context.UnitCopyTable(unit)};
  for (const TableFamily* family : MongoliaFamiliesInStageOrder()) {
    if (!family->step) tables.push_back(context.SummaryTable(unit, family->base));
  }
  return tables;
}

// The tables a run makes: the base table, the ownership codes and the
// tables of the units it wants.
std::vector<std::string> TablesOfRun(const CMgStatContext& context) {
  std::vector<std::string> tables = {context.StatDataTable(), context.QsdmbMGTable()};
  for (short unit : context.WantedUnits()) {
    for (std::string& table : TablesOfUnit(context, unit)) tables.push_back(std::move(table));
  }
  return tables;
}

// The tables of the units the configuration no longer wants, which an
// earlier run made, dropped with their area-unit records so that no stale
// figures stay beside this run's (only when StatConfig.ini was read:
// defaults for a missing file keep them for a rerun, never beside another
// year's or county's replacement, whose area units go too).
void DropTablesOfUnwantedUnits(CMgStatContext& context) {
  if (ReplacesOther(context)) {
    if (context.IsTableExist(context.AreaUnitTable())) {
      context.m_pConn.Execute("delete from " + context.AreaUnitTable());
    }
  } else if (!StatConfigRead()) {
    return;
  }
  std::vector<std::string> dropped, units_gone;
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    if (context.Wants(unit)) continue;
    if (ForgetAreaUnit(context, unit)) units_gone.push_back(UnitText(unit));
    for (const std::string& table : TablesOfUnit(context, unit)) {
      if (context.IsTableExist(table) && context.DropTable(table) > 0) dropped.push_back(table);
    }
  }
  const std::string notice = NotRebuiltNotice(units_gone, dropped);
  if (!notice.empty()) context.LogNotice("删除旧表", notice);
}

// The ownership-code table and the area-unit records: failures are logged
// and counted, and the run goes on.
void RecordCodesAndUnits(CMgStatContext& context) {
  host::LindoDlgProgressSetText("正在汇总内蒙古权属代码表");
  if (context.CreateQsdmbMGTable() > 0 && context.FillQsdmbMG() <= 0) {
    context.LogFailure("内蒙古权属代码表", "汇总失败");
  }
  host::LindoDlgProgressSetText("正在设置内蒙古单位面积");
  for (short unit : context.WantedUnits()) {
    for (const char* kind : {"土地利用", "基本农田"}) {
      if (context.RecordAreaUnit(kind, UnitText(unit)) < 0) {
        context.LogFailure("记录内蒙古面积单位", "没有面积单位表");
      }
    }
  }
}

// The stages on the run's working database. False when a stage the rest
// needs failed: the code table, the area-unit table, the base table, its
// fill, or the unit copies with their conversion and balancing. A code file
// of its own is checked first: its bad records are logged, not fatal.
bool BuildMongoliaTables(CMgStatContext& context, const MongoliaRequest& request,
                         host::JobStages& stages) {
  const StageObserver& observer = request.observer;
  // Each stage done is a safe point, where a lost database or the
  // operator's cancel ends the run.
  const auto done = [&](const char* stage) { StageDone(context, stages, observer, stage); };
  if (context.LoadCodes() <= 0) {
    // Without codes the base table would have no column.
    context.LogFailure("装载代码表", "没有可读的内蒙古代码表");
    return false;
  }
  if (request.second_codes) context.CheckCodeFile();
  DropTablesOfUnwantedUnits(context);
  if (context.CreateAreaUnitTable() <= 0 || context.CreateStatDataTable() <= 0) return false;
  if ((request.db_mode == 2 ? context.BuildStatData() : context.BuildStatDataDirect()) <= 0) {
    return false;
  }
  done("base table");
  context.StartLedgerBeside();
  host::LindoDlgProgressSetText("正在生成内蒙古扩展基础数据");
  if (context.CreateUnitStatTables() <= 0 || context.FillUnitStatTables() <= 0) return false;
  done("unit copies");
  BuildMongoliaFamilies(context, observer);
  // The copies written beside the run's connection meanwhile.
  if (context.MoveCopiesBeside() <= 0) return false;
  stages.Done("summaries");  // its safe points are its families'
  RecordCodesAndUnits(context);
  done("area units");
  // The tables this run replaced go once their replacements are made.
  context.DropSetAside();
  return true;
}

RunReport Finish(CMgStatContext& context, RunWorkspace& workspace, bool completed,
                 const StageObserver& observer) {
  RunReport report;
  completed = EndJob(workspace, context.m_pConn, context, completed, "保存汇总结果", observer,
                     report.outcome);
  ReportFromLog(context, completed, report);
  return report;
}

RunReport RunMongoliaStages(const MgLayers& layers, const MongoliaRequest& request,
                            std::vector<std::string> failures) {
  const auto start = Clock::now();
  const auto finish = [&](RunReport report) {
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return report;
  };
  CheckLayers(layers, request.project != nullptr, failures);
  if (std::string unsound = host::SurveyKeyProblem(request.year, request.county);
      !unsound.empty()) {
    failures.push_back(unsound);
  }
  // The ledger reads the general run's tables of the year and county.
  if (failures.empty()) {
    if (std::string held = HeldStatisticsProblem(request.connection, request.year, request.county);
        !held.empty()) {
      failures.push_back(held);
    }
  }
  for (const std::string& unusable : StatConfigErrors()) failures.push_back(unusable);
  if (!failures.empty()) return finish(FailedBeforeContext(request.log_path, failures));

  host::JobStages stages("正在汇总...", kMongoliaStages);
  const bool server = db::ParseConnectionString(request.connection).kind != db::DbKind::kEmbedded;
  RunWorkspace workspace(request.connection, server, request.year, request.county, kMongoliaJob);
  std::string error;
  std::vector<std::string> notices;
  // The file holds the general run's tables, which this run reads and which
  // are several times what it writes: it works in one transaction on the
  // file rather than on a copy of all of it.
  if (!workspace.Open(
          {.replace_other = request.replace_other, .in_place = true, .plain_tables = true}, error,
          notices)) {
    return finish(FailedBeforeContext(request.log_path, {"打开统计数据库 " + error}));
  }
  stages.Done("open");
  CMgStatContext context(layers.district, layers.parcel, layers.line, layers.point,
                         request.second_codes ? request.second_codes : request.codes, request.year,
                         request.county, request.log_path, request.level_switch);
  // The log first, so that a connection that fails is written to it.
  context.OpenStatLogFile();
  // The Inner Mongolia tables carry plain names on every database.
  bool completed = context.InitUnits(workspace.WorkConnection(), kMgNamingMode) > 0;
  for (const std::string& notice : notices) context.LogNotice("数据库", notice);
  try {
    if (completed) {
      if (workspace.OnWorkingCopy()) RunWorkspace::SpeedUpWorkingCopy(context.m_pConn);
      workspace.Enter(context.m_pConn);
      completed = BuildMongoliaTables(context, request, stages);
    }
  } catch (const std::exception& escaped) {
    // Whatever a stage let through ends the run as failed, never half done.
    context.LogEscaped("汇总内蒙古数据", "汇总中止", escaped);
    completed = false;
  }
  RunReport report = Finish(context, workspace, completed, request.observer);
  context.CloseStatLogFile();
  ReportTablesWritten(report, request.connection, TablesOfRun(context));
  return finish(report);
}

// A layer of the project by name; 0 when the project has none, and a layer
// listed but not opened is remembered with the reason.
short ProjectLayer(gis::CGisXmlPrj& project, const char* name, std::vector<std::string>& failures) {
  try {
    return project.prjItemGetAi(name);
  } catch (const gis::GisError& error) {
    failures.push_back(error.what());
    return 0;
  }
}

}  // namespace

RunReport RunMongolia(const MongoliaRequest& request) {
  std::vector<std::string> failures;
  MgLayers layers{request.district_layer, request.parcel_layer, request.line_layer,
                  request.point_layer};
  if (request.project) {
    layers.parcel = ProjectLayer(*request.project, kMgParcelLayer, failures);
    layers.line = ProjectLayer(*request.project, kMgLineLayer, failures);
    layers.point = ProjectLayer(*request.project, kMgPointLayer, failures);
    layers.district = ProjectLayer(*request.project, kMgDistrictLayer, failures);
  }
  return RunMongoliaStages(layers, request, failures);
}

short landStatDataMG(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                     const std::string& year, const std::string& county, short db_mode,
                     int level_switch, const std::string& log_path, const std::string&,
                     const std::string&, const std::string&) {
  if (!project) return 0;
  MongoliaRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.project = project;
  request.level_switch = level_switch;
  return RunMongolia(request).Result();
}

short landStatDataMG(short district_layer, short parcel_layer, short line_layer, short point_layer,
                     gis::RuralCode* codes, const std::string& year, const std::string& county,
                     const std::string& connection, short db_mode, int level_switch,
                     const std::string& log_path, const std::string&, const std::string&,
                     const std::string&) {
  MongoliaRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.district_layer = district_layer;
  request.parcel_layer = parcel_layer;
  request.line_layer = line_layer;
  request.point_layer = point_layer;
  request.level_switch = level_switch;
  return RunMongolia(request).Result();
}

}  // namespace landstat
