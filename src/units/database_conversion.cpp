// The conversion of a county's stored statistics to another area unit: the
// rebuild of the extension base table and the unit-less summary tables, the
// conversion of those tables in place, and their balancing.

#include "units/database_conversion.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/reads_apart.h"
#include "platform/host/host_settings.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "units/copy_rows.h"
#include "units/extension_copy.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

struct ConversionArguments {
  gis::RuralCode* codes;
  const std::string& connection;
  short db_mode;
  const std::string& year;
  const std::string& county;
  short target;
  short decimals;
  int group_level;
  const std::string& log_path;
};

// Whether the run made rows of the 19-character units: its first class
// table that exists tells; without any, it did.
bool RunHadGroupLevel(CStatContext& context) {
  for (const char* base : {"TDLY_YJFL", "NCTDLY_YJFL", "TDLY_QSYJFL", "NCTDLY_QSYJFL"}) {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      const std::string table = context.Names().Summary('Z', unit, base);
      if (!context.IsTableExist(table)) continue;
      return context.m_pConn.Scalar("select count(*) from " + table + " where length(XZQDM)=19")
                 .AsInteger() > 0;
    }
  }
  return true;
}

// The converted families the statistics run left out (a layer lacked a
// field they need, so the base table cannot give their figures), and those
// that read them: the conversion leaves them out too, named in one notice.
void LeaveOutWhatTheRunLeftOut(CStatContext& context) {
  const std::set<std::string> left = FamiliesLeftOutByRun(
      context.m_pConn, context.m_strPrefix1, context.m_strPrefix2, FamilyKind::kGeneral);
  std::string listed;
  for (const TableFamily* family : ConvertedFamilies()) {
    if (!left.count(family->base)) continue;
    context.m_setLeftOutFamilies.insert(family->base);
    listed += (listed.empty() ? "" : ", ") + std::string(family->base);
  }
  if (!listed.empty()) {
    context.LogNotice("转换面积单位", "统计时图层缺少这些表需要的字段, 不生成 " + listed);
  }
}

// The statistics context of a conversion: no layers, the codes, the log.
std::unique_ptr<CStatContext> MakeContext(const ConversionArguments& arguments) {
  auto context = std::make_unique<CStatContext>(
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, arguments.codes, arguments.year, arguments.county,
      arguments.log_path, arguments.group_level, host::HostVersion());
  context->OpenStatLogFile();
  return context;
}

// Opens the conversion's database and reads the units of the configuration
// and the run; false when the database or the codes cannot be used.
bool SetUpContext(CStatContext& context, const ConversionArguments& arguments,
                  RunWorkspace& workspace) {
  if (context.InitUnits(workspace.WorkConnection(), arguments.db_mode) <= 0) return false;
  // Everything from here, the code table too, belongs to the conversion's
  // work.
  workspace.Enter(context.m_pConn);
  if (context.LoadCodes() <= 0) return false;
  try {
    // The base table's unit as its run recorded it (the configuration may
    // have changed since).
    const short source = context.RecordedUnit("statdata");
    if (source != kNoUnit) context.m_nUnitSrc = source;
    if (arguments.group_level < 0) context.m_bGroupLevel = RunHadGroupLevel(context);
  } catch (const db::DbError& error) {
    context.LogFailure("转换面积单位", std::string("读取统计的面积单位失败 ") + error.what());
    return false;
  }
  // Every figure of the conversion and its balancing on one decimal grid:
  // by default the decimals configured for the target unit.
  context.m_nDecSrc =
      arguments.decimals >= 0 ? arguments.decimals : ConfiguredDecimals(arguments.target);
  return true;
}

bool IsUnit(short unit) {
  return unit == kHectare || unit == kMu || unit == kSquareMetre;
}

bool RefuseUnknownUnit(short target) {
  if (IsUnit(target)) return false;
  host::AfxMessageBox("未知的面积单位 " + std::to_string(target) +
                      ", 只能转换为公顷(0)、亩(1)或平方米(2)");
  return true;
}

// The run's copy of the base table in the target unit that statdataex is
// copied from (empty: statdataex is converted from the base table), as
// `tell` tells it (units::RunCopyForExtension); false when that cannot be
// told (logged).
bool ExtensionSource(CStatContext& context, const std::function<std::string()>& tell,
                     std::string& copy) {
  try {
    copy = tell();
    return true;
  } catch (const db::DbError& error) {
    context.LogFailure("转换基础数据", context.Names().Plain("statdataex") + " 转换失败", error);
    return false;
  }
}

// statdataex: the base table converted to the target unit, rounded and
// balanced as a unit copy of a run is, so that the tables read from it
// add up and equal those of a run in that unit. Where the run's copy in the
// target unit holds just that (`copy`, see ExtensionSource), it is copied
// whole.
short RebuildExtensionTable(CStatContext& context, short target, const std::string& copy) {
  const std::string extension = context.Names().Plain("statdataex");
  if (context.RecordTableUnit("statdataex", kNoUnit) == 0) return 0;
  try {
    if (context.IsTableExist(extension)) context.DropTable(extension);
    context.m_pConn.Execute(context.Dialect().CopyStructure(extension, context.m_strStatTbl));
    if (copy.empty()) {
      // In the source unit too the figures go on the conversion's grid.
      context.FillUnitCopy(extension, target, context.m_nDecSrc, true);
    } else {
      units::CopyExtensionRows(context, extension, copy);
      host::yDebugTime(extension + " copied from " + copy);
    }
    context.ForgetSummarySources();
  } catch (const db::DbError& error) {
    context.LogFailure("转换基础数据", extension + " 转换失败", error);
    return 0;
  }
  if (copy.empty()) {
    context.BalanceUnitCopy(context.m_strStatTbl, extension, target, context.m_nDecSrc);
  }
  return context.RecordTableUnit("statdataex", target);
}

// Before the `done`th of `families` tables: a safe point, where a lost
// database or the operator's cancel ends the conversion, and a step of the
// progress.
void StepFamily(CStatContext& context, std::size_t done, std::size_t families) {
  context.EndIfStopped("转换面积单位");
  host::StepStage(static_cast<long>(done), static_cast<long>(families));
}

// The sums of the base tables that the rebuilt families read, made before
// the first is rebuilt: each base table is read once for all of them.
std::vector<CStatContext::SummedRequest> BaseTableSums(
    CStatContext& context, const std::vector<const TableFamily*>& families) {
  std::vector<CStatContext::SummedRequest> requests;
  std::set<std::string> keys;
  for (const TableFamily* family : families) {
    if (context.m_setLeftOutFamilies.count(family->base)) continue;
    const FamilyConversion& conversion = *family->conversion;
    std::optional<CStatContext::SummedRequest> request =
        context.ConvertedSumsRequest(conversion.sums, conversion.Base());
    if (request && keys.insert(request->key).second) requests.push_back(std::move(*request));
  }
  return requests;
}

// Whether statdataex, made anew and filled from the run's copy `copy` in the
// order of its row ids (so numbered from 1), has its rows under the copy's
// row ids: the copy's highest row id is then its count. A server groups
// rows whole, not by ranges of row ids: there statdataex, the copy's rows
// made by one statement, has the copy's groups.
bool CopiedUnderSameRowIds(CStatContext& context, const std::string& copy) {
  if (context.m_pConn.Kind() != db::DbKind::kEmbedded) return true;
  const auto highest = [&](const std::string& table) {
    return context.m_pConn.Scalar("select coalesce(max(rowid), 0) from " + table).AsInteger();
  };
  return highest(context.Names().Plain("statdataex")) == highest(copy);
}

// The run's copy of the base table in the target unit that statdataex may
// be copied from (ExtensionSource tells whether it is), named before that
// is known; empty where there is none.
std::string ExtensionCandidate(CStatContext& context, short target) {
  if (target == context.m_nUnitSrc) return {};
  const std::string copy = context.Names().UnitCopy(target, "statdata");
  return context.IsTableExist(copy) ? copy : std::string();
}

// The queries of `requests` as they are read ahead (ReadSumsAhead,
// GroupOnServer): those of statdataex on the run's copy `copy`. None where
// one cannot be read so (statdataex would not be copied from a copy).
std::vector<db::GroupedSumsQuery> QueriesAhead(
    CStatContext& context, const std::vector<CStatContext::SummedRequest>& requests,
    const std::string& copy) {
  const std::string extension = context.Names().Plain("statdataex");
  std::vector<db::GroupedSumsQuery> queries;
  for (const CStatContext::SummedRequest& request : requests) {
    db::GroupedSumsQuery query = request.query;
    if (query.table == extension && !copy.empty()) {
      query.table = copy;
    } else if (query.table != context.m_strStatTbl) {
      return {};
    }
    queries.push_back(std::move(query));
  }
  return queries;
}

using Sums = std::vector<std::unique_ptr<db::GroupedSums>>;

// The sums of the base tables read ahead, on a connection of its own to the
// database's `file` and several more at once, while the conversion's
// connection looks for the copy statdataex is made from. Nothing writes the
// tables meanwhile: the conversion's transaction has written the file (the
// code table), so no other connection commits before it ends, and it
// writes statdataex only once these reads have ended. Those of statdataex
// are read from the run's copy it is then copied from: with the same rows
// under the same row ids (CopiedUnderSameRowIds), the same ranges read in
// the same order give the same sums to the bit. Empty when a read fails:
// the sums are then read once statdataex is filled.
Sums ReadSumsAhead(const std::string& file, const std::vector<db::GroupedSumsQuery>& queries) {
  try {
    db::Connection reader(file);
    Sums sums = db::GroupedSums::ReadAll(reader, queries);
    host::yDebugTime("base tables summed ahead");
    return sums;
  } catch (const db::DbError& error) {
    host::yDebugStr(std::string("base tables' sums read once statdataex is filled: ") +
                    error.what());
    return {};
  }
}

// The base tables' sums grouped ahead by a server, each grouping on a
// connection of its own to `server` (up to db::Workers() at once), while
// statdataex is copied from the run's copy and the copy checked
// (RebuildBesideCheck): the server's groups, with the sums it adds, read
// into memory and written later in the conversion's transaction. The
// tables read are committed and nothing writes them during the conversion.
// Every server session's scans start at a table's first page (the backend
// sets it), so the readers' scans and the conversion's own (the copy) read
// the rows as each would alone. Empty when a read fails: the
// server then groups each where its table is written.
Sums GroupOnServer(const std::string& server, const std::vector<db::GroupedSumsQuery>& queries) {
  Sums sums(queries.size());
  std::atomic<std::size_t> next{0};
  const auto read = [&] {
    db::Connection reader(server);
    CStatContext::RaiseGroupingMemory(reader);
    for (std::size_t i = next++; i < queries.size(); i = next++) {
      sums[i] = db::GroupedSums::ReadGroups(reader, queries[i]);
    }
  };
  try {
    std::vector<std::future<void>> readers;
    // Where no thread can be started, one reads them in turn (deferred).
    for (std::size_t i = 0; i < std::min(db::Workers(), queries.size()); ++i) {
      readers.push_back(std::async(std::launch::async | std::launch::deferred, read));
    }
    for (std::future<void>& reader : readers) reader.get();
    host::yDebugTime("base tables grouped ahead");
    return sums;
  } catch (const db::DbError& error) {
    host::yDebugStr(std::string("base tables grouped once statdataex is filled: ") + error.what());
    return {};
  }
}

// The farmland base table's rows grouped as its ex table keeps them, read
// on a connection of their own to `database` beside the other sums
// (ReadSumsAhead, GroupOnServer), as BuildJbntBaseDataEx would make them:
// from a file, the whole table in one scan, the same sums to the bit; on a
// server, by its own grouping planned as the ex table's statement is
// (CStatContext::ReadGroupsAsStored), so the same groups with the same sums in
// the same order. Nothing writes that table during a conversion.
// Null when the read fails: the table is then read where the ex table is
// made.
std::unique_ptr<db::GroupedSums> ReadFarmlandAhead(const std::string& database, bool server,
                                                   const db::GroupedSumsQuery& query) {
  try {
    db::Connection reader(database);
    std::unique_ptr<db::GroupedSums> sums = server
                                                ? CStatContext::ReadGroupsAsStored(reader, query)
                                                : std::make_unique<db::GroupedSums>(reader, query);
    host::yDebugTime("farmland base table grouped ahead");
    return sums;
  } catch (const db::DbError& error) {
    host::yDebugStr(std::string("farmland base table grouped with its ex table: ") + error.what());
    return nullptr;
  }
}

// The farmland grouping read ahead: only where its tables are rebuilt, from
// a farmland base table the run made.
std::future<std::unique_ptr<db::GroupedSums>> FarmlandAhead(
    CStatContext& context, const std::optional<units::CopySumsRequest>& request) {
  const bool wanted = !context.m_setLeftOutFamilies.count("JBNTBHKQKTJ") ||
                      !context.m_setLeftOutFamilies.count("JBNTQKTJ");
  if (!request || !wanted || !context.IsTableExist(context.m_strJbntTbl)) return {};
  const bool server = context.m_pConn.Kind() != db::DbKind::kEmbedded;
  return std::async(std::launch::async | std::launch::deferred, ReadFarmlandAhead,
                    server ? context.m_pConn.ConnectionString() : context.m_pConn.FilePath(),
                    server, request->query);
}

// statdataex made on a server from the run's copy `candidate` (or, without
// one, converted) while a connection of its own tells whether it may be
// (ExtensionSource), on what the run committed; where it may not, it is
// made again as told, into `copy`. A check that fails there (a connection
// the server refuses) is made again on the conversion's connection, where
// its failure is logged. False when
// the source cannot be told or statdataex cannot be made (logged).
bool RebuildBesideCheck(CStatContext& context, short target, const std::string& candidate,
                        std::string& copy) {
  std::future<std::optional<std::string>> told =
      std::async(std::launch::async | std::launch::deferred,
                 [&context, target]() -> std::optional<std::string> {
                   try {
                     db::Connection checker(context.m_pConn.ConnectionString());
                     return units::RunCopyForExtension(context, checker, target);
                   } catch (const db::DbError&) {
                     return std::nullopt;
                   }
                 });
  const short made = RebuildExtensionTable(context, target, candidate);
  const auto tell = [&] {
    const std::optional<std::string> apart = told.get();
    return apart ? *apart : units::RunCopyForExtension(context, target);
  };
  const bool source_known = ExtensionSource(context, tell, copy);
  if (!source_known || made == 0) return false;
  return copy == candidate || RebuildExtensionTable(context, target, copy) != 0;
}

short Rebuild(CStatContext& context, short target) {
  if (!context.IsTableExist(context.m_strStatTbl)) {
    context.LogFailure("转换面积单位", "没有基础汇总表 " + context.m_strStatTbl);
    host::AfxMessageBox("数据库中没有" + context.m_strPrefix1 + "年的基础汇总表 " +
                        context.m_strStatTbl + ", 请先进行统计");
    return 0;
  }
  try {
    LeaveOutWhatTheRunLeftOut(context);
  } catch (const db::DbError& error) {
    context.LogFailure("转换面积单位", "读取统计不生成的表失败", error);
    return 0;
  }
  host::LindoDlgProgressSetText("正在转换基础数据");
  const std::vector<const TableFamily*> families = ConvertedFamilies();
  const std::vector<CStatContext::SummedRequest> requests = BaseTableSums(context, families);
  const std::string candidate = ExtensionCandidate(context, target);
  const std::vector<db::GroupedSumsQuery> queries = QueriesAhead(context, requests, candidate);
  std::future<Sums> read_ahead;
  if (!queries.empty() && context.m_pConn.Kind() != db::DbKind::kEmbedded) {
    read_ahead = std::async(std::launch::async | std::launch::deferred, GroupOnServer,
                            context.m_pConn.ConnectionString(), queries);
  } else if (!queries.empty()) {
    // Read in turn when no thread can be started (deferred).
    read_ahead = std::async(std::launch::async | std::launch::deferred, ReadSumsAhead,
                            context.m_pConn.FilePath(), queries);
  }
  const std::optional<units::CopySumsRequest> farmland = context.JbntExSumsRequest();
  std::future<std::unique_ptr<db::GroupedSums>> farmland_ahead = FarmlandAhead(context, farmland);
  Sums ahead;
  std::unique_ptr<db::GroupedSums> farmland_rows;
  std::string copy;
  if (context.m_pConn.Kind() != db::DbKind::kEmbedded) {
    // A server's readers go on beside the copy.
    if (!RebuildBesideCheck(context, target, candidate, copy)) return 0;
  } else {
    const bool source_known = ExtensionSource(
        context, [&] { return units::RunCopyForExtension(context, target); }, copy);
    // A file has one writer: statdataex is written once the reads ahead
    // have ended.
    ahead = read_ahead.valid() ? read_ahead.get() : Sums{};
    farmland_rows = farmland_ahead.valid() ? farmland_ahead.get() : nullptr;
    if (!source_known || RebuildExtensionTable(context, target, copy) == 0) return 0;
  }
  host::yDebugTime("statdataex rebuilt");
  if (read_ahead.valid()) ahead = read_ahead.get();
  if (farmland_ahead.valid()) farmland_rows = farmland_ahead.get();
  // Read from a copy statdataex is not made from: of no use.
  if (copy != candidate) ahead.clear();
  try {
    if (!copy.empty() && !ahead.empty() && !CopiedUnderSameRowIds(context, copy)) ahead.clear();
  } catch (const db::DbError&) {
    ahead.clear();  // read once more below, where a failure is noticed
  }
  for (std::size_t i = 0; i < ahead.size(); ++i) {
    context.KeepFedSums(requests[i].key, std::move(ahead[i]));
  }
  if (farmland_rows) context.KeepFedSums(farmland->key, std::move(farmland_rows));
  context.PrepareSummedTables(requests);
  host::yDebugTime("base tables summed");
  for (std::size_t i = 0; i < families.size(); ++i) {
    const TableFamily* family = families[i];
    StepFamily(context, i, families.size());
    if (context.m_setLeftOutFamilies.count(family->base)) continue;
    const FamilyConversion& table = *family->conversion;
    host::LindoDlgProgressSetText(table.progress);
    // A failed create or fill is logged by the builder and does not stop
    // the conversion; the table keeps the unit of what it holds. Its record
    // is removed first and written after: a table whose old record cannot
    // be removed is not rebuilt, and one whose new record cannot be written
    // has none, so it is never converted from a unit it does not hold.
    if (context.RecordTableUnit(family->base, kNoUnit) == 0) continue;
    if (table.create(context) <= 0) continue;
    if (table.fill(context) <= 0) continue;  // logged by the builder; no unit recorded
    host::yDebugTime(std::string(family->base) + " rebuilt");
    context.RecordTableUnit(family->base, table.from_extension ? target : context.m_nUnitSrc);
  }
  if (const TownConversion* town = RegisteredTownConversion()) town->rebuild(context, target);
  return 1;
}

void ConvertInPlace(CStatContext& context, short target) {
  const std::vector<const TableFamily*> families = ConvertedFamilies();
  for (std::size_t i = 0; i < families.size(); ++i) {
    const TableFamily* family = families[i];
    StepFamily(context, i, families.size());
    const std::string name = context.Names().Plain(family->base);
    if (!context.IsTableExist(name)) continue;
    host::LindoDlgProgressSetText("正在转换 " + name);
    const short recorded = context.RecordedUnit(family->base);
    if (recorded == kNoUnit) {
      context.LogFailure("转换面积单位", name + " 没有记录面积单位, 未转换");
      continue;
    }
    if (recorded == target) {
      // Already in the unit: only put on the grid of these decimals, which
      // changes nothing when they are the table's own.
      if (RoundAreaColumns(context.m_pConn, name, context.m_nDecSrc) == 0) {
        context.LogFailure("转换面积单位", name + " 取舍失败");
      }
      continue;
    }
    // The figures and the record of their unit change together.
    db::Transaction transaction(context.m_pConn);
    if (ConvertAreaUnit(context.m_pConn, name, target, recorded, 0, context.m_nDecSrc) > 0 &&
        context.RecordTableUnit(family->base, target) > 0) {
      transaction.Commit();
    } else {
      context.LogFailure("转换面积单位", name + " 转换失败");
    }
  }
  if (const TownConversion* town = RegisteredTownConversion()) town->convert(context, target);
}

void BalanceConverted(CStatContext& context) {
  const auto exists = [&](const char* base) {
    return context.IsTableExist(context.Names().Plain(base)) != 0;
  };
  const std::vector<const TableFamily*> families = ConvertedFamilies();
  for (std::size_t i = 0; i < families.size(); ++i) {
    const TableFamily* family = families[i];
    StepFamily(context, i, families.size());
    if (!exists(family->base)) continue;
    host::LindoDlgProgressSetText(family->conversion->balance_progress);
    family->conversion->balance(context, context.Names().Plain(family->base));
  }
  host::LindoDlgProgressSetText("平差基本农田情况统计...");
  if (exists("JBNTQKTJ")) context.BalanceJbntQktj();
  if (const TownConversion* town = RegisteredTownConversion()) town->balance(context);
}

// The stages of a conversion as the progress weighs them.
const std::vector<host::JobStages::Stage> kConversionStages = {
    {"open", 5}, {"convert", 90}, {"publish", 5}};

// What a conversion writes: the extension table and the unit-less summary
// tables, its own and the town-lot ones.
std::vector<std::string> TablesConverted(const TableNames& names) {
  std::vector<std::string> tables = {names.Plain("statdataex")};
  for (const TableFamily* family : ConvertedFamilies()) tables.push_back(names.Plain(family->base));
  if (const TownConversion* town = RegisteredTownConversion()) {
    for (std::string& table : town->tables(names)) tables.push_back(std::move(table));
  }
  return tables;
}

// Runs `work` on a conversion context, with the progress and the log, in a
// workspace: the conversion's changes are kept only when it completes.
RunReport RunConversion(const ConversionArguments& arguments,
                        const std::function<short(CStatContext&)>& work) {
  const auto start = std::chrono::steady_clock::now();
  RunReport report;
  if (RefuseUnknownUnit(arguments.target)) {
    report.failures = 1;
    report.messages.push_back("未知的面积单位 " + std::to_string(arguments.target));
    return report;
  }
  host::JobStages stages("正在转换面积单位...", kConversionStages);
  std::unique_ptr<CStatContext> context = MakeContext(arguments);
  RunWorkspace workspace(arguments.connection, arguments.db_mode != 0, arguments.year,
                         arguments.county, "convert");
  RunWorkspace::Checks checks;
  checks.refuse_unfinished = true;  // its tables cannot be trusted
  checks.replace_other = true;      // the check of what the database holds comes first
  // What the conversion writes (the extension table and the summaries) is a
  // small part of the file: a copy of the whole file would cost more than
  // its work, and a transaction rolled back leaves the file as it was.
  checks.in_place = true;
  // A year or county the database does not hold is refused before the
  // workspace records anything.
  std::string error = HeldStatisticsProblem(arguments.connection, arguments.year, arguments.county);
  std::vector<std::string> notices;
  if (!error.empty() || !workspace.Open(checks, error, notices)) {
    context->LogFailure("转换面积单位", error);
    host::AfxMessageBox(error);
  } else if (SetUpContext(*context, arguments, workspace)) {
    stages.Done("open");
    short result = 0;
    try {
      result = work(*context);
    } catch (const JobEnded&) {
      // The loss of the database, or the operator's cancel, is logged.
    } catch (const std::exception& failure) {
      // Whatever the work let through ends the conversion as failed.
      context->LogEscaped("转换面积单位", "转换中止", failure);
      host::AfxMessageBox(failure.what());
    }
    if (!EndJob(workspace, context->m_pConn, *context, result > 0, "保存转换结果", {},
                report.outcome)) {
      report.outcome = RunOutcome::kFailed;
    }
  } else {
    workspace.Abandon(context->m_pConn, context->m_nErrCount);
  }
  for (const std::string& notice : notices) context->LogNotice("数据库", notice);
  report.failures = context->m_nErrCount;
  report.messages = context->m_arrFirstFailures;
  report.notices = context->m_arrNotices;
  context->CloseStatLogFile();
  ReportTablesWritten(report, arguments.connection, TablesConverted(context->Names()));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

}  // namespace

short ConfiguredDecimals(short unit) {
  std::string unit1, unit2, unit3;
  GetUnit(unit1, unit2, unit3);
  int len1 = 2, len2 = 2, len3 = 2;
  GetPointLen(len1, len2, len3);
  if (unit == UnitOfText(unit2)) return static_cast<short>(len2);
  if (unit == UnitOfText(unit3)) return static_cast<short>(len3);
  return static_cast<short>(len1);
}

short GetStatDataAreaUnit(const std::string& connection, short db_mode, const std::string& year,
                          const std::string& county, const std::string& kind) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, year, county, "", 1, "");
  if (context.InitUnits(connection, db_mode) <= 0) return -1;
  try {
    return context.RecordedUnit(kind);
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return -1;
  }
}

short LandConvertAreaUnit(gis::RuralCode* codes, const std::string& connection, short db_mode,
                          const std::string& year, const std::string& county, short target,
                          short decimals, int group_level, const std::string& log_path) {
  return RunConversion(
             {codes, connection, db_mode, year, county, target, decimals, group_level, log_path},
             [target](CStatContext& context) { return Rebuild(context, target); })
      .Result();
}

short LandConvertAreaUnit1(gis::RuralCode* codes, const std::string& connection, short db_mode,
                           const std::string& year, const std::string& county, short target,
                           short decimals, int group_level, const std::string& log_path) {
  return RunConversion(
             {codes, connection, db_mode, year, county, target, decimals, group_level, log_path},
             [target](CStatContext& context) {
               ConvertInPlace(context, target);
               BalanceConverted(context);
               return short{1};
             })
      .Result();
}

short ConvertStatDatabase(gis::RuralCode* codes, const std::string& connection, short db_mode,
                          const std::string& year, const std::string& county, short target,
                          short decimals, int group_level, const std::string& log_path) {
  ConversionRequest request;
  static_cast<JobTarget&>(request) = {codes, connection, year, county, log_path, db_mode};
  request.target = target;
  request.decimals = decimals;
  request.group_level = group_level;
  return ConvertStatistics(request).Result();
}

RunReport ConvertStatistics(const ConversionRequest& request) {
  const short target = request.target;
  return RunConversion(
      {request.codes, request.connection, request.db_mode, request.year, request.county, target,
       request.decimals, request.group_level, request.log_path},
      [target](CStatContext& context) {
        host::JobStages parts("正在转换面积单位...",
                              {{"rebuild", 6}, {"convert", 2}, {"balance", 2}});
        if (Rebuild(context, target) == 0) return short{0};
        parts.Done("rebuild");
        ConvertInPlace(context, target);
        parts.Done("convert");
        BalanceConverted(context);
        return short{1};
      });
}

}  // namespace landstat
