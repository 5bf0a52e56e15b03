#include "engine/stat_drivers.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <vector>

#include "engine/family_lanes.h"
#include "engine/run_record.h"
#include "engine/run_schema.h"
#include "engine/run_workspace.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/host_settings.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "platform/host/xml_file.h"

namespace landstat {
namespace {

// What one run is asked for beyond its fixed stages.
struct RunPlan {
  bool county_batch = false;
  // The tables ticked in a custom list; none: every table.
  std::optional<std::set<std::string>> ticked;

  bool Wants(const std::string& base_name) const {
    return !ticked || ticked->count(base_name) != 0;
  }
};

struct Layers {
  short parcel = 0, line = 0, point = 0, jbnt_parcel = 0, jbnt_line = 0, jbnt_point = 0;
  short change = 0, reserve = 0, dispute = 0, district = 0;
};

struct RunArguments : JobTarget {
  int group_level = 1;
  bool replace_other = false;
  // What could not be read before the run (a listed layer, the custom list).
  std::vector<std::string> setup_failures;
  StageObserver observer;
};

RunArguments ArgumentsOf(const JobTarget& target, int group_level) {
  RunArguments arguments;
  static_cast<JobTarget&>(arguments) = target;
  arguments.group_level = group_level;
  return arguments;
}

// Stage 7: the summary families the run's variant and its list ask for, in
// stage order.
std::vector<const TableFamily*> FamiliesOfRun(const RunVariant& run, const RunPlan& plan) {
  std::vector<const TableFamily*> families;
  for (const TableFamily* family : FamiliesInStageOrder()) {
    if (!family->builds(run)) continue;
    if (!family->step && !plan.Wants(family->base)) continue;
    families.push_back(family);
  }
  return families;
}

// The layers a run reads, with the kind of features each must hold; only
// the parcels are required.
struct LayerSlot {
  short Layers::*slot;
  const char* name;
  std::optional<gis::EntityKind> kind;
  bool required = false;
};
const LayerSlot kLayerSlots[] = {
    {&Layers::parcel, "地类图斑", gis::EntityKind::kRegion, true},
    {&Layers::line, "线状地物", gis::EntityKind::kLine},
    {&Layers::point, "零星地物", gis::EntityKind::kPoint},
    {&Layers::jbnt_parcel, "基本农田图斑", gis::EntityKind::kRegion},
    {&Layers::jbnt_line, "基本农田线状地物", gis::EntityKind::kLine},
    {&Layers::jbnt_point, "基本农田零星地物", gis::EntityKind::kPoint},
    {&Layers::change, "变更汇总", std::nullopt},
    {&Layers::reserve, "耕地后备资源图斑", gis::EntityKind::kRegion},
    {&Layers::dispute, "土地权属争议区", std::nullopt},
    {&Layers::district, "行政辖区", gis::EntityKind::kRegion},
};

// Checks the layers the run was given: the parcel layer must be there and
// hold parcels; a layer of the wrong kind of features is refused. An absent
// optional layer gets a notice. False when the run cannot go on.
bool CheckLayers(CStatContext& context, const Layers& layers) {
  bool usable = true;
  for (const LayerSlot& slot : kLayerSlots) {
    const short layer = layers.*slot.slot;
    if (layer <= 0) {
      if (slot.required) {
        context.LogFailure("图层 " + std::string(slot.name), "缺少图层, 无法统计");
        usable = false;
      } else if (slot.slot != &Layers::jbnt_line && slot.slot != &Layers::jbnt_point) {
        context.LogNotice("图层 " + std::string(slot.name), "没有该图层");
      }
      continue;
    }
    if (slot.kind) {
      try {
        gis::RequireKind(layer, *slot.kind);  // an empty layer of no declared kind passes
      } catch (const gis::GisError& error) {
        context.LogFailure("图层 " + std::string(slot.name), "要素类型不符, 无法统计", error);
        usable = false;
        continue;
      }
    }
    if (slot.required && gis::RecordCount(layer, *slot.kind) <= 1) {
      context.LogFailure("图层 " + std::string(slot.name), gis::LayerName(layer) + " 没有图斑");
      usable = false;
    }
  }
  return usable;
}

// The run's own stages as a family that the stage loop never builds, so
// that the family list knows their tables too: the base table and its unit
// copies, the extension table, the change records and the district and
// ownership-code tables (the latter shared by the counties of a server).
const FamilyRegistration kRunTables({
    {.base = "statdata",
     .builds = [](const RunVariant&) { return false; },
     .step = true,
     .owns = [](const TableNames& names, short unit) -> std::vector<std::string> {
       if (unit != kNoUnit) return {};
       std::vector<std::string> tables = {names.Plain("statdataex"), names.Plain("ndChange"),
                                          names.Plain("ZB_XZXQ")};
       if (!names.IsServer()) tables.push_back("QSDMB");
       return tables;
     }},
});

// Whether the run replaces the statistics of another year or county in a
// stand-alone file (which holds one): it was asked to, or it was refused.
bool ReplacesOther(CStatContext& context) {
  if (context.m_nDbMode != 0) return false;
  const std::optional<RunRecordRow> held = LastCompletedRun(context.m_pConn);
  return held && (held->year != context.m_strPrefix1 || held->county != context.m_strPrefix2);
}

// On a server the run builds in a schema of its own (RunSchema), so that
// the earlier tables stay readable until it publishes. Without the right to
// make a schema the run works on the earlier tables in its transaction, as
// on an embedded file. Nothing when the run is not on a server (an embedded
// file too, whatever its naming mode).
std::unique_ptr<RunSchema> MakeRunSchema(CStatContext& context) {
  if (context.m_pConn.Kind() != db::DbKind::kServer) return nullptr;
  try {
    return std::make_unique<RunSchema>(context.m_pConn, context.m_strPrefix1, context.m_strPrefix2);
  } catch (const db::DbError& error) {
    context.LogNotice("数据库", std::string("无法建立统计用的模式, 在原表上统计: ") + error.what());
    return nullptr;
  }
}

// A second connection for the base table's fill, searching the run's schema
// in a transaction of its own; the empty base table is committed there
// first, so that it sees the table. None when the server refuses another
// connection (with a notice: the fill then goes on one), or when the run
// cannot commit (logged, in `failed`).
std::optional<db::Connection> OpenFillBeside(CStatContext& context, RunSchema& schema,
                                             bool& failed) {
  std::optional<db::Connection> beside;
  try {
    beside.emplace(context.m_strConnect);
    schema.Enter(*beside);
  } catch (const db::DbError& error) {
    context.LogNotice("数据库",
                      std::string("无法另开连接同时填写基础汇总表 (") + error.what() + ")");
    return std::nullopt;
  }
  try {
    schema.CommitSoFar();
    beside->BeginTrans();
  } catch (const db::DbError& error) {
    context.LogFailure("建立基础汇总表", "建立基础汇总表失败", error);
    failed = true;
    return std::nullopt;
  }
  return beside;
}

// The base table filled, on two connections where the run has a schema of
// its own, and its pieces checked to lie in the county. The rows sent
// beside the run's connection are committed once all are stored; a fill
// that fails leaves them to be rolled back.
bool FillBaseTable(CStatContext& context, RunSchema* schema) {
  bool failed = false;
  std::optional<db::Connection> beside =
      schema ? OpenFillBeside(context, *schema, failed) : std::nullopt;
  if (failed) return false;
  if (context.BuildStatDataDirect(beside ? &*beside : nullptr) <= 0) return false;
  if (beside) {
    try {
      beside->CommitTrans();
    } catch (const db::DbError& error) {
      context.LogFailure("保存基础汇总表", "保存基础汇总表失败", error);
      return false;
    }
  }
  return context.PiecesLieInCounty(context.m_strStatTbl);
}

// The end of a run built in its schema: the earlier tables it replaces
// dropped, its own moved in their place, the shared code tables refreshed
// and the area-unit table made where missing. Gives the tables dropped in
// `dropped`; false, logged, when a step failed (the run's transaction then
// undoes them all).
bool PublishRunSchema(CStatContext& context, RunSchema& schema,
                      const std::vector<std::string>& replaced, std::vector<std::string>& dropped) {
  try {
    schema.Leave();
    dropped = context.DropEarlierTables(replaced);
    schema.Publish(context.m_strPrefix2,
                   [&](const std::string& table) { return context.DropEarlierTable(table); });
  } catch (const db::DbError& error) {
    context.LogFailure("保存统计结果", "统计表无法移入数据库", error);
    return false;
  }
  return context.CreateAreaUnitTable() > 0;
}

// The stages of a run as the progress weighs them: their share of a run's
// time on a county (most of it the summary families; on a server the
// tables' move into place is in "area units").
const std::vector<host::JobStages::Stage> kRunStages = {
    {"open", 3},         {"context", 1},     {"change records", 1}, {"base table", 15},
    {"unit copies", 12}, {"code tables", 2}, {"summaries", 50},     {"area units", 10},
    {"compaction", 2},   {"publish", 4},
};

// The stages after the context is set up, on the run's working database.
// False when a stage that the rest needs failed (the context, the area-unit
// table, the base table, its fill or the unit copies); every later table is
// a create/fill pair whose failure is logged and does not stop the run.
// Each stage done is a safe point, where a lost database or the operator's
// cancel ends the run.
bool BuildTables(CStatContext& context, const Layers& layers, const RunPlan& plan,
                 const StageObserver& observer, std::unique_ptr<RunSchema>& schema,
                 host::JobStages& stages) {
  const auto done = [&](const char* stage) { StageDone(context, stages, observer, stage); };
  // What an earlier run left goes first, or, built in a schema of the
  // run's, when it publishes: the run ends with the tables it made.
  schema = MakeRunSchema(context);
  const std::vector<std::string> replaced =
      schema ? context.TablesReplaced(false) : std::vector<std::string>();
  std::vector<std::string> earlier;
  if (!schema) earlier = context.DropOwnedTables(ReplacesOther(context));
  if (context.LoadCodes() <= 0) return false;
  // The families are known before the layers are walked: a field a walk
  // finds missing leaves out the families that need it.
  const std::vector<const TableFamily*> families =
      FamiliesOfRun(RunVariant{context.m_strVersion, plan.county_batch}, plan);
  for (const TableFamily* family : families) context.m_setRunFamilies.insert(family->base);
  done("context");
  // Change records.
  context.BuildChangeTable();
  done("change records");
  // Area-unit table and base table.
  host::LindoDlgProgressSetText("正在建立基础汇总表");
  if (!schema && context.CreateAreaUnitTable() <= 0) return false;
  if (context.CreateStatDataTable() <= 0) return false;
  if (!FillBaseTable(context, schema.get())) return false;
  done("base table");
  // Extension base data: the unit copies, converted.
  host::LindoDlgProgressSetText("正在生成扩展基础数据");
  if (context.CreateUnitStatTables() <= 0) return false;
  // Built in a schema of its own, the run fills them beside its first
  // families (BuildFamilies).
  if (!schema) {
    if (context.FillUnitStatTables() <= 0) return false;
    done("unit copies");
  }
  // Code and district tables; a stand-alone file is compacted here.
  if (layers.district > 0) {
    if (context.CreateXzxqTable() > 0) context.FillXzxqTable();
  } else {
    context.LogFailure("行政辖区表", "没有行政辖区图层, 不生成行政辖区表");
  }
  if (!plan.county_batch && context.CreateQsdmbTable() > 0) context.FillQsdmbTable();
  context.CompactDatabase();
  // Built in a schema of its own, the run commits its base table there, so
  // that connections beside its own make the copies and build the summaries
  // from them.
  if (schema) schema->CommitSoFar();
  done("code tables");
  // The summary families.
  host::LindoDlgProgressSetText("正在汇总土地利用现状表");
  if (!BuildFamilies(context, schema.get(), families, observer)) {
    return false;
  }
  stages.Done("summaries");  // its safe points are its families'
  // Farmland, reserve and dispute tables.
  if (layers.dispute > 0 && gis::RecordCount(layers.dispute, gis::EntityKind::kTable) > 1) {
    context.LogNotice("权属争议统计", "不生成权属争议区统计表");
  }
  if (schema && !PublishRunSchema(context, *schema, replaced, earlier)) return false;
  // Tables an earlier run made and this one did not, then the area units
  // of the run.
  context.ForgetTablesNotRebuilt(earlier);
  const bool recorded = context.RecordAreaUnits() > 0;
  done("area units");
  // What a rerun dropped is given back once, at the end.
  context.CompactDatabase();
  done("compaction");
  return recorded;
}

// The families the run left out and the tables of other runs that need the
// fields it lacked, kept with its record: a conversion of its statistics
// builds none of them.
void RecordLeftOut(CStatContext& context, RunWorkspace& workspace) {
  std::set<std::string> left = context.m_setTablesLackingFields;
  left.insert(context.m_setLeftOutFamilies.begin(), context.m_setLeftOutFamilies.end());
  workspace.RecordLeftOut(context.m_pConn, context, left);
}

// A run from end to end: its database taken in a workspace (a working copy
// of an embedded file, a transaction on a server), the stages, then the
// work published as a whole, or thrown away when the run failed.
RunReport RunStages(const Layers& layers, const RunArguments& arguments, const RunPlan& plan) {
  const auto start = std::chrono::steady_clock::now();
  host::JobStages stages("正在汇总...", kRunStages);
  const std::string version = host::HostVersion();
  CStatContext context(layers.district, layers.parcel, layers.line, layers.point,
                       layers.jbnt_parcel, layers.jbnt_line, layers.jbnt_point, layers.change,
                       layers.reserve, layers.dispute, arguments.codes, arguments.year,
                       arguments.county, arguments.log_path, arguments.group_level, version);
  context.m_bNoPmTables = plan.county_batch;
  context.OpenStatLogFile();
  for (const std::string& failure : arguments.setup_failures) {
    context.LogFailure("准备统计", failure);
  }

  RunReport report;
  RunWorkspace workspace(arguments.connection, arguments.db_mode != 0, arguments.year,
                         arguments.county, "run");
  std::string error;
  std::vector<std::string> notices;
  // The year and county name the workspace's record and, on a server, the
  // tables: checked before the database is touched.
  const std::string unsound = host::SurveyKeyProblem(arguments.year, arguments.county);
  if (!unsound.empty()) context.LogFailure("设置汇总数据库参数", unsound);
  bool ready = unsound.empty() && arguments.setup_failures.empty() && CheckLayers(context, layers);
  if (ready) {
    RunWorkspace::Checks checks;
    checks.replace_other = arguments.replace_other;
    ready = workspace.Open(checks, error, notices);
    for (const std::string& notice : notices) context.LogNotice("数据库", notice);
    if (!ready) context.LogFailure("打开统计数据库", error);
    stages.Done("open");
  }
  if (ready) {
    context.m_bWorkingCopy = true;
    std::unique_ptr<RunSchema> schema;
    try {
      ready = context.InitUnits(workspace.WorkConnection(), arguments.db_mode) > 0;
      if (ready) workspace.Enter(context.m_pConn);
      ready = ready && BuildTables(context, layers, plan, arguments.observer, schema, stages);
      if (ready) RecordLeftOut(context, workspace);
    } catch (const std::exception& escaped) {
      // Whatever a stage let through ends the run as failed, never half done.
      // The loss of the run's database is logged as such, once.
      context.LogEscaped("统计", "统计中止", escaped);
      ready = false;
    }
    // What a failed run committed in its schema goes with the schema.
    if (!ready && schema) {
      const std::string left = schema->Discard();
      if (!left.empty()) {
        context.LogNotice("数据库", "统计用的模式 " + schema->Name() +
                                        " 未能删除, 下次统计时删除 (" + left + ")");
      }
    }
    ready = EndJob(workspace, context.m_pConn, context, ready, "保存统计结果", arguments.observer,
                   report.outcome);
  }
  ReportFromLog(context, ready, report);
  context.CloseStatLogFile();
  // The run drops every table of its own before it builds: those there now
  // are the ones it made.
  ReportTablesWritten(report, arguments.connection, context.TablesReplaced(false));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

// The project's layers by their survey names; a layer listed but not
// opened is remembered with the reason.
Layers ProjectLayers(gis::CGisXmlPrj& project, std::vector<std::string>& failures) {
  Layers layers;
  for (const LayerSlot& slot : kLayerSlots) {
    try {
      layers.*slot.slot = project.prjItemGetAi(slot.name);
    } catch (const gis::GisError& error) {
      failures.push_back(error.what());
    }
  }
  return layers;
}

// The tables ticked in a custom-statistics list; nothing when the list
// cannot be read.
std::optional<std::set<std::string>> TickedTables(const std::string& path) {
  pugi::xml_document document;
  std::set<std::string> ticked;
  if (!host::LoadXmlFile(document, path)) return std::nullopt;
  for (pugi::xpath_node row : document.select_nodes("//Row")) {
    if (std::string(row.node().attribute("tCheck").as_string()) != "1") continue;
    for (const char* key : {"statTbl", "sumoraTbl"}) {
      const std::string name = row.node().attribute(key).as_string();
      if (!name.empty()) ticked.insert(name);
    }
  }
  return ticked;
}

}  // namespace

namespace {

StatisticsRequest RequestOf(gis::CGisXmlPrj* project, gis::RuralCode* codes,
                            const std::string& connection, const std::string& year,
                            const std::string& county, short db_mode, int group_level,
                            const std::string& log_path) {
  StatisticsRequest request;
  request.project = project;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.group_level = group_level;
  return request;
}

}  // namespace

RunReport RunStatistics(const StatisticsRequest& request) {
  RunArguments arguments = ArgumentsOf(request, request.group_level);
  arguments.replace_other = request.replace_other;
  arguments.observer = request.observer;
  Layers layers;
  if (request.project) {
    layers = ProjectLayers(*request.project, arguments.setup_failures);
  }
  RunPlan plan;
  plan.county_batch = request.county_batch;
  if (!request.custom_list.empty() && std::filesystem::exists(request.custom_list)) {
    plan.ticked = TickedTables(request.custom_list);
    if (!plan.ticked) {
      arguments.setup_failures.push_back("自定义统计列表 " + request.custom_list + " 无法读取");
    }
  }
  return RunStages(layers, arguments, plan);
}

short landStatData(short parcel, short line, short point, short jbnt_parcel, short jbnt_line,
                   short jbnt_point, short change, short reserve, short dispute, short district,
                   gis::RuralCode* codes, const std::string& connection, const std::string& year,
                   const std::string& county, short db_mode, int group_level,
                   const std::string& log_path) {
  const Layers layers{parcel,     line,   point,   jbnt_parcel, jbnt_line,
                      jbnt_point, change, reserve, dispute,     district};
  return RunStages(layers,
                   ArgumentsOf({codes, connection, year, county, log_path, db_mode}, group_level),
                   RunPlan{})
      .Result();
}

short landStatData(gis::CGisXmlPrj* project, gis::RuralCode* codes, const std::string& connection,
                   const std::string& year, const std::string& county, short db_mode,
                   int group_level, const std::string& log_path, const std::string&,
                   const std::string&, const std::string&) {
  if (!project) return 0;
  return RunStatistics(
             RequestOf(project, codes, connection, year, county, db_mode, group_level, log_path))
      .Result();
}

short landStatData(short district, short parcel, short line, short point, short jbnt_parcel,
                   short jbnt_line, short jbnt_point, short change, gis::RuralCode* codes,
                   const std::string& year, const std::string& county,
                   const std::string& connection, const std::string&, short db_mode,
                   int group_level, const std::string& log_path, const std::string&,
                   const std::string&, const std::string&) {
  Layers layers;
  layers.district = district;
  layers.parcel = parcel;
  layers.line = line;
  layers.point = point;
  layers.jbnt_parcel = jbnt_parcel;
  layers.jbnt_line = jbnt_line;
  layers.jbnt_point = jbnt_point;
  layers.change = change;
  RunPlan plan;
  plan.county_batch = true;
  return RunStages(layers,
                   ArgumentsOf({codes, connection, year, county, log_path, db_mode}, group_level),
                   plan)
      .Result();
}

short landStatDataCustom(const std::string& list_path, gis::CGisXmlPrj* project,
                         gis::RuralCode* codes, const std::string& connection,
                         const std::string& year, const std::string& county, short db_mode,
                         int group_level, const std::string& log_path, const std::string&,
                         const std::string&, const std::string&) {
  if (!project) return 0;
  StatisticsRequest request =
      RequestOf(project, codes, connection, year, county, db_mode, group_level, log_path);
  request.custom_list = list_path;
  return RunStatistics(request).Result();
}

}  // namespace landstat
