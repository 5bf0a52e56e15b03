#include "lots/town_lot_run.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "engine/run_workspace.h"
#include "engine/set_aside_tables.h"
#include "engine/stat_config.h"
#include "engine/table_family.h"
#include "lots/lot_run_support.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {

const char* const kTownLotLayerNames[2] = {"城镇权属层", "宗地"};
const char* const kHouseLayerName = "房屋层";

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTownTitle = "准备汇总宗地";

// The stages of a town-lot run as the progress weighs them: their share of
// a run's time.
const std::vector<host::JobStages::Stage> kTownStages = {
    {"open", 5},       {"base table", 30}, {"unit copies", 15},
    {"summaries", 40}, {"area units", 5},  {"publish", 5},
};

// The town summary families (stages 8 to 15): a family's create, then its
// fill when the create returned more than 0; neither stops the run. A fill
// that failed without logging why is logged here, so the run counts it. A
// family left out (a layer lacks a field it needs, which was logged) is not
// built.
void BuildTownFamilies(CZdStatContext& context, const StageObserver& observer) {
  const std::vector<const TableFamily*>& families = TownFamiliesInStageOrder();
  for (std::size_t i = 0; i < families.size(); ++i) {
    const TableFamily* family = families[i];
    host::StepStage(static_cast<long>(i), static_cast<long>(families.size()));
    if (family->builds && !family->builds(RunVariant{})) continue;
    if (context.m_setLeftOutFamilies.count(family->base)) continue;
    if (family->progress) host::LindoDlgProgressSetText(family->progress);
    if (family->town_create(context) > 0) {
      const int logged = context.m_nErrCount;
      if (family->town_fill(context) <= 0 && context.m_nErrCount == logged) {
        context.LogFailure(family->base, "汇总失败");
      }
    }
    context.EndIfStopped(family->base);
    host::yDebugTime(family->base);
    if (observer) observer(family->base);
  }
}

bool WantsUnit(const CZdStatContext& context, short unit) {
  return unit == kHectare ? context.m_bGq : unit == kMu ? context.m_bMu : context.m_bPm;
}

// Whether the run's units come from a StatConfig.ini that was read: only
// then do the units it leaves out lose their tables. Defaults for a missing
// file keep an earlier run's tables of the other units.
bool DropsTablesOf(const CZdStatContext& context, short unit) {
  return unit == kNoUnit || WantsUnit(context, unit) || StatConfigRead();
}

// The tables of the town-lot families the run replaces: those of no unit
// and of the units whose tables it drops.
std::vector<std::string> TownTablesReplaced(const CZdStatContext& context) {
  std::vector<std::string> owned;
  for (short unit : {kNoUnit, kSquareMetre, kHectare, kMu}) {
    if (!DropsTablesOf(context, unit)) continue;
    for (std::string& table : OwnedTables(context.Names(), FamilyKind::kTown, unit)) {
      owned.push_back(std::move(table));
    }
  }
  return owned;
}

// What an earlier town-lot run (and a conversion after it) left, put out
// of the way before this run builds, in its workspace: the tables of the
// town-lot families, put `aside` until the run's own are made, or dropped.
// Gives the tables put aside or dropped.
std::vector<std::string> DropEarlierTownTables(CZdStatContext& context, SetAsideTables& aside) {
  return DropHeldTables(context.m_pConn, TownTablesReplaced(context),
                        [&](const std::string& table) {
                          try {
                            if (aside.SetAside(context.m_pConn, table)) return true;
                          } catch (const db::DbError& error) {
                            context.LogFailure("删除旧表", table + " 删除失败", error);
                            return false;
                          }
                          context.LogFailure("删除旧表", table + " 删除失败");
                          return false;
                        });
}

// Drops the tables of an earlier run that were put aside; a failure is
// logged.
void DropSetAside(CZdStatContext& context, SetAsideTables& aside) {
  try {
    aside.DropAll(context.m_pConn);
  } catch (const db::DbError& error) {
    context.LogFailure("删除旧表", "删除被替换的城镇宗地表失败", error);
  }
}

// After the run: the tables dropped before that it did not make again, in
// one notice; the units it no longer makes and the unit of a conversion's
// tables that are gone are forgotten in the area-unit table.
void ForgetTownTablesNotRebuilt(CZdStatContext& context, const std::vector<std::string>& dropped) {
  const std::vector<std::string> gone = TablesNotHeld(context.m_pConn, dropped);
  std::vector<std::string> units_gone;
  if (!context.IsTableExist(context.Names().Plain("statdata_czzdex"))) {
    context.RecordDatedUnit(kNoUnit);
  }
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    if (WantsUnit(context, unit) || !DropsTablesOf(context, unit)) continue;
    try {
      const long forgotten = context.m_pConn.Execute(
          "delete from " + context.Names().AreaUnit() + " where TYPE=? and 年度=? and AREAUNIT=?",
          {db::Value("城镇宗地"), db::Value(context.m_strPrefix1), db::Value(UnitText(unit))});
      if (forgotten > 0) units_gone.push_back(UnitText(unit));
    } catch (const db::DbError& error) {
      context.LogFailure("面积单位表", std::string("删除面积单位 ") + UnitText(unit) + " 失败",
                         error);
    }
  }
  const std::string notice = NotRebuiltNotice(units_gone, gone);
  if (!notice.empty()) context.LogNotice("删除旧表", notice);
}

// Stages 3 to 16 on the run's working database. False when a stage the
// rest needs failed: the code table, the base table, its fill, the per-unit
// copies or the area-unit table.
bool BuildTownTables(CZdStatContext& context, const StageObserver& observer,
                     host::JobStages& stages) {
  // Each stage done is a safe point, where a lost database or the
  // operator's cancel ends the run.
  const auto done = [&](const char* stage) { StageDone(context, stages, observer, stage); };
  if (!context.m_pRuralCode || !gis::IsLayerValid(context.m_pRuralCode->m_ai)) {
    context.LogFailure("装载代码表", "没有可读的代码表");
    return false;
  }
  if (context.m_aiHouse <= 0) context.LogNotice("图层 房屋层", "没有该图层, 不汇总房屋");
  // The run ends with the tables it made.
  SetAsideTables aside;
  const std::vector<std::string> earlier = DropEarlierTownTables(context, aside);
  if (context.CreateStatDataTable() <= 0 || context.FillStatData() <= 0) return false;
  done("base table");
  host::LindoDlgProgressSetText("正在汇总宗地扩展数据");
  if (context.CreateUnitStatTables() <= 0 || context.BuildUnitStatData() <= 0) return false;
  done("unit copies");
  if (context.CreateAreaUnitTable() <= 0) return false;
  BuildTownFamilies(context, observer);
  stages.Done("summaries");  // its safe points are its families'
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    const bool wanted = unit == kHectare ? context.m_bGq
                        : unit == kMu    ? context.m_bMu
                                         : context.m_bPm;
    if (wanted) context.AddAreaUnit("城镇宗地", UnitText(unit));
  }
  ForgetTownTablesNotRebuilt(context, earlier);
  // The tables this run replaced go once their replacements are made.
  DropSetAside(context, aside);
  done("area units");
  return true;
}

// The size of the embedded file a connection names; 0 when it has none.
std::uintmax_t FileBytes(const std::string& connection) {
  const db::ConnectionTarget target = db::ParseConnectionString(connection);
  if (target.kind != db::DbKind::kEmbedded) return 0;
  std::error_code failed;
  const std::uintmax_t bytes = std::filesystem::file_size(target.location, failed);
  return failed ? 0 : bytes;
}

// The records of a lot or house layer; 0 without the layer.
long TownRows(short layer) {
  return layer > 0 ? std::max(0L, gis::RecordCount(layer, gis::EntityKind::kTable)) : 0;
}

RunReport RunTownLotStages(short lot, short house, const TownLotRequest& request,
                           std::vector<std::string> failures) {
  const auto start = Clock::now();
  const auto finish = [&](RunReport report) {
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return report;
  };
  // Stage 0: without lots there is nothing to do, and nothing is touched;
  // nor without the general run of the year and county, whose tables the
  // town tables read.
  if (lot <= 0) {
    failures.push_back(std::string("没有宗地图层: 工程中既没有 ") + kTownLotLayerNames[0] +
                       " 也没有 " + kTownLotLayerNames[1]);
  }
  std::string unsound = host::SurveyKeyProblem(request.year, request.county);
  if (unsound.empty() && failures.empty()) {
    unsound = HeldStatisticsProblem(request.connection, request.year, request.county);
  }
  if (!unsound.empty()) failures.push_back(unsound);
  for (const std::string& unusable : StatConfigErrors()) failures.push_back(unusable);
  if (!failures.empty()) return finish(FailedBeforeContext(request.log_path, kTownTitle, failures));

  host::JobStages stages("正在汇总宗地", kTownStages);
  // The naming mode names the tables; where they live decides the workspace.
  const bool server = db::ParseConnectionString(request.connection).kind != db::DbKind::kEmbedded;
  RunWorkspace workspace(request.connection, server, request.year, request.county, "town");
  std::string error;
  std::vector<std::string> notices;
  const bool in_place =
      !server && (request.in_place ? *request.in_place
                                   : TownRunInPlace(FileBytes(request.connection),
                                                    TownRows(lot) + TownRows(house)));
  if (!workspace.Open({.in_place = in_place}, error, notices)) {
    return finish(FailedBeforeContext(request.log_path, kTownTitle, {"打开统计数据库 " + error}));
  }
  stages.Done("open");
  CZdStatContext context(lot, house, request.codes, workspace.WorkConnection(), request.db_mode,
                         request.year, request.county, request.log_path);
  context.OpenStatLogFile();
  for (const std::string& notice : notices) context.LogNotice("数据库", notice);
  RunReport report;
  bool completed = false;
  try {
    if (context.m_pConn.IsOpen()) {
      if (workspace.OnWorkingCopy()) RunWorkspace::SpeedUpWorkingCopy(context.m_pConn);
      // The general run's land areas, read on connections of their own
      // while the run goes on where it commits once, at its end.
      context.ReadTownLandAreas(server || !workspace.OnWorkingCopy());
      workspace.Enter(context.m_pConn);
    }
    completed = BuildTownTables(context, request.observer, stages);
    // What the run left out, kept with its record: a conversion of its
    // tables builds none of it.
    if (completed) workspace.RecordLeftOut(context.m_pConn, context, context.m_setLeftOutFamilies);
  } catch (const std::exception& escaped) {
    // Whatever a stage let through ends the run as failed, never half done.
    context.LogEscaped("汇总宗地", "汇总中止", escaped);
    completed = false;
  }
  // The readers of the land areas are done before the run commits.
  context.WaitForLandAreas();
  completed = EndJob(workspace, context.m_pConn, context, completed, "保存汇总结果",
                     request.observer, report.outcome);
  ReportFromLog(context, completed, report);
  context.CloseStatLogFile();
  // Dropped before the run built, those there now are the ones it made.
  ReportTablesWritten(report, request.connection, TownTablesReplaced(context));
  return finish(report);
}

}  // namespace

// A copy of the file lets the town families read their tables on several
// connections at once, which saves some 17 microseconds per lot and house;
// copying the file and syncing the copy costs about 1.3 nanoseconds per byte
// (both measured at 100,000 lots). Beyond some 12 KiB of file per lot and
// house, as when the file holds the general run of a county much larger
// than its towns, working on the file itself is cheaper.
bool TownRunInPlace(std::uintmax_t file_bytes, long rows) {
  constexpr std::uintmax_t kFileBytesPerRow = 12 * 1024;
  return file_bytes > kFileBytesPerRow * static_cast<std::uintmax_t>(std::max(0L, rows));
}

RunReport RunTownLots(const TownLotRequest& request) {
  std::vector<std::string> failures;
  short lot = request.lot_layer;
  short house = request.house_layer;
  if (request.project) {
    lot = ProjectLayer(*request.project, kTownLotLayerNames[0], failures);
    if (lot <= 0) lot = ProjectLayer(*request.project, kTownLotLayerNames[1], failures);
    house = ProjectLayer(*request.project, kHouseLayerName, failures);
  }
  return RunTownLotStages(lot, house, request, failures);
}

short landStatDataZD(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                     const std::string& year, const std::string& county, short db_mode,
                     const std::string& log_path) {
  if (!project) return 0;
  TownLotRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.project = project;
  return RunTownLots(request).Result();
}

short landStatDataZD(short lot_layer, short house_layer, gis::RuralCode* codes,
                     const std::string& year, const std::string& county,
                     const std::string& connection, short db_mode, const std::string& log_path) {
  TownLotRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.lot_layer = lot_layer;
  request.house_layer = house_layer;
  return RunTownLots(request).Result();
}

}  // namespace landstat
