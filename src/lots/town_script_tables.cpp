// The building-density and land-use tables made from SQL scripts:
// CZZD_JZMD (script 6007: lot counts, areas, building footprint, floor
// area, density and floor-area ratio by land-use class for each county,
// street and block) and CZZD_TDYT (script 17065: lot count, areas and
// ratios by land use). Both read the square-metre base table, whatever the
// unit of the table they make.

#include "engine/text_helpers.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "resources/resources.h"

namespace landstat {
namespace {

// One script table: its script, the placeholders the script names its
// tables by, and what its failures are logged under.
struct ScriptTable {
  int resource;
  const char* base;
  const char* title;
  const char* source_placeholder;
  const char* code_placeholder;  // null: the script reads no code table
  const char* order;             // appended to the saved query, or empty
};

constexpr char kCodeTable[] = "CODETBL1";

const ScriptTable kJzmd = {6007,        "CZZD_JZMD", "建立城镇宗地建筑密度表",
                           "TBLSOURCE", "CODETBL",   " order by XZQDM,XZQMC"};
const ScriptTable kTdyt = {17065, "CZZD_TDYT", "建立城镇宗地土地用途表", "SourceTbl", nullptr, ""};

// The tables the script reads that the database lacks, for the log line.
std::string MissingTables(CZdStatContext& context, const ScriptTable& script,
                          const std::string& source) {
  std::string missing;
  for (const std::string& table :
       {source, std::string(script.code_placeholder ? kCodeTable : "")}) {
    if (table.empty() || context.IsTableExist(table)) continue;
    missing += (missing.empty() ? " 缺少表 " : ",") + table;
  }
  return missing;
}

// Makes `target` from the script over `source`: an earlier table of that
// name is replaced in one transaction, so a failed statement keeps it. 1,
// or 0 after a traced and logged failure.
short MakeScriptTable(CZdStatContext& context, const ScriptTable& script, const std::string& target,
                      const std::string& source) {
  std::string text = context.LoadSqlResource(script.resource, "SQL");
  if (text.empty()) {
    const std::string message =
        target + " 未生成: 缺少内置脚本 SQL " + std::to_string(script.resource);
    host::yDebugStr(message);
    context.LogFailure(script.title, message);
    return 0;
  }
  text = ReplaceAll(text, script.source_placeholder, source);
  if (script.code_placeholder) text = ReplaceAll(text, script.code_placeholder, kCodeTable);
  const std::string statement = context.Dialect().SaveQueryAs(target, text) + script.order;
  try {
    db::Transaction replace(context.m_pConn);
    if (context.IsTableExist(target)) context.DropTable(target);
    context.m_pConn.Execute(statement);
    replace.Commit();
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::yDebugStr(error.what());
    context.LogFailure(script.title, target + " 未生成" + MissingTables(context, script, source),
                       error);
    return 0;
  }
}

short MakeForEachUnit(CZdStatContext& context, const ScriptTable& script) {
  for (short unit : context.WantedUnits()) {
    MakeScriptTable(context, script, context.TownSummaryTable(unit, script.base),
                    context.StatDataTable());
  }
  return 1;
}

}  // namespace

std::string CZdStatContext::LoadSqlResource(int id, const std::string& type) const {
  return LoadResourceText(id, type);
}

short CZdStatContext::SumJzmd() {
  return MakeForEachUnit(*this, kJzmd);
}

short CZdStatContext::MakeJzmdTable(const std::string& target, const std::string& source) {
  return MakeScriptTable(*this, kJzmd, target, source);
}

short CZdStatContext::SumTdyt() {
  return MakeForEachUnit(*this, kTdyt);
}

short CZdStatContext::MakeTdytTable(const std::string& target, const std::string& source) {
  return MakeScriptTable(*this, kTdyt, target, source);
}

}  // namespace landstat
