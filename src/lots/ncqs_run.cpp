#include "lots/ncqs_run.h"

#include <chrono>
#include <memory>
#include <optional>

#include "engine/run_schema.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "engine/stat_context.h"
#include "lots/lot_run_support.h"
#include "lots/ncqs_lots.h"
#include "platform/db/beside_tables.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {

const char* const kNcqsLotLayerName = "宗地";

namespace {

constexpr const char* kNcqsTitle = "准备汇总农村权属宗地";

struct NcqsLayers {
  short lot = 0, parcel = 0, line = 0, point = 0;
};

// The layers of the run, with the kind of features each must hold; the
// lots and the parcels are required.
struct NcqsLayerSlot {
  short NcqsLayers::*slot;
  const char* name;  // its survey name (the lot layer's is the request's)
  gis::EntityKind kind;
  bool required;
};
const NcqsLayerSlot kNcqsLayerSlots[] = {
    {&NcqsLayers::lot, nullptr, gis::EntityKind::kRegion, true},
    {&NcqsLayers::parcel, "地类图斑", gis::EntityKind::kRegion, true},
    {&NcqsLayers::line, "线状地物", gis::EntityKind::kLine, false},
    {&NcqsLayers::point, "零星地物", gis::EntityKind::kPoint, false},
};

const char* SlotName(const NcqsLayerSlot& slot, const NcqsRequest& request) {
  return slot.name ? slot.name : request.lot_layer_name.c_str();
}

// What keeps the run from starting, checked before the database is
// touched: a required layer missing, a layer of the wrong kind, an unsound
// year or county, an unusable StatConfig.ini.
std::vector<std::string> StartProblems(const NcqsLayers& layers, const NcqsRequest& request) {
  std::vector<std::string> problems;
  for (const NcqsLayerSlot& slot : kNcqsLayerSlots) {
    const short layer = layers.*slot.slot;
    if (layer <= 0) {
      if (slot.required) problems.push_back(std::string("没有图层 ") + SlotName(slot, request));
      continue;
    }
    try {
      gis::RequireKind(layer, slot.kind);
    } catch (const gis::GisError& error) {
      problems.push_back(std::string("图层 ") + SlotName(slot, request) +
                         " 要素类型不符: " + error.what());
    }
  }
  const std::string unsound = host::SurveyKeyProblem(request.year, request.county);
  if (!unsound.empty()) problems.push_back(unsound);
  for (const std::string& unusable : StatConfigErrors()) problems.push_back(unusable);
  return problems;
}

// The stages of a rural ownership-lot run as the progress weighs them: their
// share of a run's time.
const std::vector<host::JobStages::Stage> kNcqsStages = {
    {"open", 5},        {"context", 5},    {"lot numbers", 25},
    {"base table", 50}, {"lot areas", 10}, {"publish", 5},
};

// The stages on the run's database. False when a stage the rest needs
// failed: the codes, the base table or its fill (which fails when no parcel
// lies in the run's county). The lot numbers, found before the base table
// is filled so that each row gets its own as it is written, and the
// per-lot sums, gathered on the way, log what fails and do not stop the
// run; the sums are not formed without the lot numbers. `built` gets the
// tables made.
bool BuildNcqsTables(CStatContext& context, short lot, const StageObserver& observer,
                     std::vector<std::string>& built, host::JobStages& stages,
                     db::BesideSchema* beside) {
  const auto done = [&](const char* stage) { StageDone(context, stages, observer, stage); };
  if (context.LoadCodes() <= 0) return false;
  done("context");
  if (context.CreateNcqsStatTable() <= 0 || !context.NcqsParcelsInCounty()) return false;
  const std::unique_ptr<NcqsLots> lots = context.NcqsParcelLots(lot);
  if (!lots) {
    context.LogNotice("宗地面积", "宗地号未赋完, 不汇总宗地面积表, 其中原有的本县数据保留");
  }
  done("lot numbers");
  if (context.BuildNcqsStatData(lots.get(), beside) <= 0) return false;
  built.push_back(context.Names().Plain("statdata_ncqs"));
  done("base table");
  if (!lots) return true;
  host::LindoDlgProgressSetText("正在汇总宗地面积");
  if (context.BuildNczdAreaTable(*lots) > 0) built.push_back(context.Names().Plain("NCZD_AREA"));
  done("lot areas");
  return true;
}

// On a server, the schema beside the run that its base table is filled in
// on two connections; none on a file, or where the server refuses it
// (noticed: the run's own connection fills the table then). It must go
// after the run's connection is closed.
std::unique_ptr<db::BesideSchema> FillSchema(CStatContext& context, const NcqsRequest& request) {
  if (context.m_pConn.Kind() != db::DbKind::kServer) return nullptr;
  try {
    const std::string target = context.m_pConn.Scalar("select current_schema()").AsText();
    return std::make_unique<db::BesideSchema>(
        context.m_strConnect, target,
        RunSchema::NameOf(target, request.year + "_ncqs_beside", request.county));
  } catch (const db::DbError& error) {
    context.LogNotice(
        "数据库", std::string("无法另开连接同时填写基础表, 在本连接上写 (") + error.what() + ")");
    return nullptr;
  }
}

// The run on a database taken in a workspace: the context set up, the
// stages, then the work published, or thrown away when the run failed.
RunReport RunInWorkspace(const NcqsLayers& layers, const NcqsRequest& request,
                         host::JobStages& stages) {
  std::unique_ptr<db::BesideSchema> beside;  // ends after the context's connection
  CStatContext context(0, layers.parcel, layers.line, layers.point, 0, 0, 0, 0, 0, 0, request.codes,
                       request.year, request.county, request.log_path, 0, "");
  context.OpenStatLogFile();
  const bool server = db::ParseConnectionString(request.connection).kind != db::DbKind::kEmbedded;
  RunWorkspace workspace(request.connection, server, request.year, request.county, "ncqs");
  std::string error;
  std::vector<std::string> notices;
  // Its tables are written on one connection, which a working copy of the
  // file would not speed up: copying the file (a county's statistics, often
  // gigabytes) would cost more than the run itself.
  bool ready = workspace.Open({.in_place = true}, error, notices);
  for (const std::string& notice : notices) context.LogNotice("数据库", notice);
  stages.Done("open");
  RunReport report;
  std::vector<std::string> built;
  if (!ready) {
    context.LogFailure("打开统计数据库", error);
  } else {
    context.m_bWorkingCopy = workspace.OnWorkingCopy();
    try {
      ready = context.InitUnits(workspace.WorkConnection(), request.db_mode) > 0;
      if (ready) workspace.Enter(context.m_pConn);
      if (ready) beside = FillSchema(context, request);
      ready = ready &&
              BuildNcqsTables(context, layers.lot, request.observer, built, stages, beside.get());
    } catch (const std::exception& escaped) {
      // Whatever a stage let through ends the run as failed, never half done.
      context.LogEscaped("汇总农村权属宗地", "汇总中止", escaped);
      ready = false;
    }
    ready = EndJob(workspace, context.m_pConn, context, ready, "保存汇总结果", request.observer,
                   report.outcome);
  }
  ReportFromLog(context, ready, report);
  context.CloseStatLogFile();
  ReportTablesWritten(report, request.connection, built);
  return report;
}

}  // namespace

RunReport RunNcqs(const NcqsRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> failures;
  NcqsLayers layers{request.lot_layer, request.parcel_layer, request.line_layer,
                    request.point_layer};
  if (request.project) {
    for (const NcqsLayerSlot& slot : kNcqsLayerSlots) {
      layers.*slot.slot = ProjectLayer(*request.project, SlotName(slot, request), failures);
    }
  }
  for (std::string& problem : StartProblems(layers, request)) failures.push_back(problem);
  RunReport report;
  if (!failures.empty()) {
    report = FailedBeforeContext(request.log_path, kNcqsTitle, failures);
  } else {
    host::JobStages stages("正在汇总", kNcqsStages);
    report = RunInWorkspace(layers, request, stages);
  }
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

// The run used to return 1 whatever its stages did; it now returns 0 when
// the set-up, the base table or its fill failed (the later steps are then
// skipped and nothing stored before is changed).
short landStatNCQS(gis::RuralCode* codes, short lot_layer, short parcel_layer, short line_layer,
                   short point_layer, const std::string& connection, const std::string& year,
                   const std::string& county, short db_mode) {
  if (lot_layer <= 0) return 0;
  NcqsRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, "", db_mode};
  request.lot_layer = lot_layer;
  request.parcel_layer = parcel_layer;
  request.line_layer = line_layer;
  request.point_layer = point_layer;
  return RunNcqs(request).Result();
}

short landStatNCQS(gis::CGisXmlPrj* project, gis::RuralCode* codes,
                   const std::string& lot_layer_name, const std::string& connection,
                   const std::string& year, const std::string& county, short db_mode,
                   const std::string& log_path) {
  if (!project) return 0;
  NcqsRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.project = project;
  request.lot_layer_name = lot_layer_name;
  return RunNcqs(request).Result();
}

}  // namespace landstat
