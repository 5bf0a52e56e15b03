// The building-density and land-use tables made from SQL scripts:
// CZZD_JZMD (script 6007: lot counts, areas, building footprint, floor
// area, density and floor-area ratio by land-use class for each county,
// street and block) and CZZD_TDYT (script 17065: lot count, areas and
// ratios by land use). Both read the square-metre base table, whatever the
// unit of the table they make. Script 6007 groups the lots once per level,
// each level a common table expression that every row kind of that level
// reads, so the base table is read three times instead of once per part;
// its levels are grouped in one scan of the lots (ScriptGroups).

#include "engine/shared_code_tables.h"
#include "engine/text_helpers.h"
#include "lots/town_script_groups.h"
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

// The embedded engine keeps what each GROUP BY of a statement sorts in
// memory, up to the page cache's size apiece, until the statement ends: a
// script of several grouped parts would hold the lot rows of every part at
// once (CZZD_JZMD groups once per level, three times). While a script runs
// the cache is the engine's default, so that each part's sort spills beyond
// 2 MB (as fast here: each part reads the base table once). The cache is
// set back when the script has run.
class SmallSorts {
 public:
  explicit SmallSorts(db::Connection& connection) : connection_(connection) {
    if (connection.Kind() != db::DbKind::kEmbedded) return;
    saved_ = connection.Scalar("PRAGMA cache_size").AsInteger();
    connection.Execute("PRAGMA cache_size = -2000");
  }
  ~SmallSorts() {
    if (saved_ == 0) return;
    try {
      connection_.Execute("PRAGMA cache_size = " + std::to_string(saved_));
    } catch (const db::DbError& error) {
      // Only the speed of what follows depends on the cache.
      host::yDebugStr(error.what());
    }
  }
  SmallSorts(const SmallSorts&) = delete;
  SmallSorts& operator=(const SmallSorts&) = delete;

 private:
  db::Connection& connection_;
  long long saved_ = 0;
};

// Replaces `target` by what `statement` makes, in one transaction, so that
// a failed statement keeps an earlier table of that name. 1, or 0 after a
// traced and logged failure that names the tables `reads` lacks.
short ReplaceScriptTable(CZdStatContext& context, const ScriptTable& script,
                         const std::string& target, const std::string& statement,
                         const std::string& reads) {
  try {
    const SmallSorts sorts(context.m_pConn);
    db::Transaction replace(context.m_pConn);
    if (context.IsTableExist(target)) context.DropTable(target);
    context.m_pConn.Execute(statement);
    replace.Commit();
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::yDebugStr(error.what());
    context.LogFailure(script.title, target + " 未生成" + MissingTables(context, script, reads),
                       error);
    return 0;
  }
}

// The script's text over `source` and this county's rows of the code
// table, before its sums are rounded; empty when the script is missing.
std::string ScriptText(CZdStatContext& context, const ScriptTable& script,
                       const std::string& source) {
  std::string text = context.LoadSqlResource(script.resource, "SQL");
  text = ReplaceAll(text, script.source_placeholder, source);
  if (script.code_placeholder) {
    // The code table is shared by the counties of a server: this county's rows.
    text = ReplaceAll(text, script.code_placeholder,
                      CountyRowsOf(kCodeTbl1Table, context.m_strPrefix2));
  }
  return text;
}

// The script's statement with its groupings made once for every level into
// temporary tables that `groups` holds (ScriptGroups), instead of the
// script's grouping of the lots once per level; empty where the script is
// not of that form or its lots cannot be grouped so (traced).
std::string StatementOverGroups(CZdStatContext& context, const ScriptTable& script,
                                const std::string& source, const std::string& text,
                                std::unique_ptr<ScriptGroups>& groups) {
  if (!script.code_placeholder) return {};
  groups = ScriptGroups::Parse(text, source, CountyRowsOf(kCodeTbl1Table, context.m_strPrefix2));
  if (!groups) return {};
  const std::string no_rows = "(select * from " + source + " where 1=0)";
  try {
    return groups->Statement(context.m_pConn, context.Dialect(),
                             ScriptText(context, script, no_rows), no_rows,
                             context.DecimalsOf(kSquareMetre));
  } catch (const db::DbError& error) {
    host::yDebugStr(std::string(script.base) + ": " + error.what());
    return {};
  }
}

// Makes `target` from the script over `source`; 1, or 0 after a traced and
// logged failure (a missing script leaves the table as it was).
short MakeScriptTable(CZdStatContext& context, const ScriptTable& script, const std::string& target,
                      const std::string& source) {
  const std::string text = ScriptText(context, script, source);
  if (text.empty()) {
    const std::string message =
        target + " 未生成: 缺少内置脚本 SQL " + std::to_string(script.resource);
    host::yDebugStr(message);
    context.LogFailure(script.title, message);
    return 0;
  }
  std::unique_ptr<ScriptGroups> groups;
  std::string statement = StatementOverGroups(context, script, source, text, groups);
  // The areas are square metres in every unit's table: stored on that
  // unit's decimals, so that the sums do not depend on the order of adding.
  if (statement.empty())
    statement = context.Dialect().RoundSums(text, context.DecimalsOf(kSquareMetre));
  return ReplaceScriptTable(context, script, target,
                            context.Dialect().SaveQueryAs(target, statement) + script.order,
                            source);
}

// Every wanted unit's table holds the same figures, those of the square-metre
// base table: the script runs until one table is made, and the later units'
// tables are copies of that one.
short MakeForEachUnit(CZdStatContext& context, const ScriptTable& script) {
  std::string made;
  for (short unit : context.WantedUnits()) {
    const std::string target = context.TownSummaryTable(unit, script.base);
    if (made.empty()) {
      if (MakeScriptTable(context, script, target, context.StatDataTable())) made = target;
    } else {
      ReplaceScriptTable(
          context, script, target,
          context.Dialect().SaveQueryAs(target, "select * from " + made) + script.order, made);
    }
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
