// The context's table, code, log and script services.

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "engine/database_helpers.h"
#include "engine/field_needs.h"
#include "engine/layer_checks.h"
#include "engine/run_workspace.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/host/paths.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/text_encoding.h"
#include "resources/resources.h"

namespace landstat {
namespace fs = std::filesystem;

void CStatContext::LeaveOutTablesWithout(LayerChecks& checks, std::span<const FieldNeed> needs) {
  const LackingFieldTables lacking =
      FamiliesLackingFields(checks, needs, m_setRunFamilies, RunVariant{m_strVersion});
  m_setLeftOutFamilies.insert(lacking.families.begin(), lacking.families.end());
  m_setTablesLackingFields.insert(lacking.needing.begin(), lacking.needing.end());
}

short CStatContext::IsTableExist(const std::string& table) {
  return m_pConn.IsOpen() ? IsTblExist(m_pConn, table) : 0;
}

short CStatContext::DropTable(const std::string& table) {
  // On a server, the views over this run's own tables (their names carry the
  // year and the county: the ownership views an earlier run made, which this
  // run makes again) go with them. A shared table is never dropped with its
  // views.
  const bool cascade =
      m_nDbMode != 0 && !m_bOracle &&
      text::ToLowerAscii(table).find(text::ToLowerAscii(m_names.Stem(""))) != std::string::npos;
  // The object may be a table, procedure or view: each form is tried. The
  // reason kept is the table form's, unless a later form met a lock, a
  // read-only or a full database, which says more.
  m_strDropError.clear();
  m_bDropLocked = false;
  for (const char* form : {"drop table ", "drop Procedure ", "drop view "}) {
    try {
      m_pConn.Execute(form + table + (cascade && form[5] != 'P' ? " cascade" : ""));
      m_strDropError.clear();
      return 1;
    } catch (const db::DbError& error) {
      if (m_strDropError.empty() || error.Failure() != db::DbFailure::kOther) {
        m_strDropError = error.what();
        m_bDropLocked = error.Failure() == db::DbFailure::kLocked;
      }
    }
  }
  host::yDebug("cannot drop %s: %s", table.c_str(), m_strDropError.c_str());
  return 0;
}

std::string CStatContext::GetCodeName(const std::string& code) const {
  auto found = m_mapCodeName.find(code);
  return found == m_mapCodeName.end() ? std::string() : found->second;
}

short CStatContext::LookupCode(const std::string& code, std::string& name) const {
  auto found = m_mapCodeName.find(code);
  if (found == m_mapCodeName.end()) return 0;
  name = found->second;
  return 1;
}

short CStatContext::FillXzqNames(const std::string& table, const std::string& code_column,
                                 const std::string& name_column) {
  // Only the code and the name are read: the other columns of a summary
  // row (some hundred areas) are neither needed nor changed.
  try {
    db::UpdateEach(m_pConn, "select " + code_column + "," + name_column + " from " + table,
                   [&](db::Recordset& row) {
                     if (row.IsNull(code_column)) return false;
                     const std::string name = GetCodeName(row.Text(code_column));
                     if (name.empty()) return false;
                     row.SetField(name_column, name);
                     return true;
                   });
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("填写行政区名称", table + " 填写名称失败", error);
    return 0;
  }
}

std::string CStatContext::StatSqlScriptPath(const std::string& name) const {
  // Every server mode reads the server scripts: the Oracle ones when the
  // server is Oracle.
  const char* folder = m_nDbMode == 0 ? "Access" : (m_bOracle ? "Oracle" : "SQL");
  return (fs::path(host::ConfigDir()) / folder / ("STAT_" + name + ".sql")).string();
}

bool CStatContext::LoadStatSqlScript(std::string& text, const std::string& name) const {
  if (name.empty()) return false;
  std::string content;
  if (!text::ReadTextFile(StatSqlScriptPath(name), content)) return false;
  std::istringstream lines(content);
  text.clear();
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += line + "\r\n";
  }
  return true;
}

std::optional<std::string> CStatContext::StatementScript(const std::string& name, int resource,
                                                         const std::string& table) {
  std::string text;
  if (LoadStatSqlScript(text, name)) {
    // A file beside the configuration wins over the built-in copy.
    if (text.find_first_not_of(" \t\r\n") != std::string::npos) return text;
    LogFailure(table, "未生成: 语句脚本 " + StatSqlScriptPath(name) + " 为空");
    return std::nullopt;
  }
  if (resource != 0) {
    text = LoadResourceText(resource, "SQL");
    if (!text.empty()) return text;
  }
  LogFailure(table, "未生成: 语句脚本 " + StatSqlScriptPath(name) + " 不存在");
  return std::nullopt;
}

short CStatContext::SetSourceLayers(short parcel, short line, short point) {
  m_aiParcel = parcel;
  m_aiLine = line;
  m_aiPoint = point;
  return 1;
}

void CStatContext::OpenStatConnection() {
  m_pConn.Open(m_strConnect);
  if (m_bWorkingCopy && m_nDbMode == 0) RunWorkspace::SpeedUpWorkingCopy(m_pConn);
  if (m_pConn.Kind() == db::DbKind::kServer) RaiseGroupingMemory(m_pConn);
}

void CStatContext::RaiseGroupingMemory(db::Connection& connection) {
  // The summed copies group a million rows into some tens of thousands
  // of groups of a hundred sums: with the server's default memory for a
  // grouping (4 MB) that spills to disk and takes three times as long.
  // Raised for this session only, never lowered.
  connection.Execute(
      "SELECT set_config('work_mem', '64MB', false) WHERE "
      "pg_size_bytes(current_setting('work_mem')) < 64 * 1024 * 1024");
  // The class summaries group the million rows into tens of thousands of
  // groups of some ninety sums each: a hash table of 50 to 100 MB per
  // process. Below that allowance the server sorts every row instead,
  // spilling a gigabyte to disk (four times as long). Only hash tables
  // take the larger allowance; a grouping that outgrows it still spills.
  connection.Execute(
      "SELECT set_config('hash_mem_multiplier', '8', false) WHERE "
      "current_setting('hash_mem_multiplier')::float8 < 8");
}

std::unique_ptr<db::GroupedSums> CStatContext::ReadGroupsAsStored(
    db::Connection& reader, const db::GroupedSumsQuery& query) {
  RaiseGroupingMemory(reader);
  reader.Execute("SET cursor_tuple_fraction = 1");
  return db::GroupedSums::ReadGroups(reader, query);
}

void CStatContext::CloseStatConnection() {
  if (m_pConn.IsOpen()) m_pConn.Close();
  m_mapSummarySources.clear();  // temporary tables end with their connection
}

namespace {
// The share of free pages, in percent, from which a compaction pays.
constexpr long long kCompactFreeShare = 10;
}  // namespace

short CStatContext::CompactDatabase() {
  if (m_nDbMode != 0) return 1;
  // A loss the connection met goes with it: the job ends here instead.
  EndIfStopped("压缩数据库");
  try {
    // A compaction writes the whole file anew (and ends the connection's
    // summed tables): worth it only when a real share of the file is free
    // pages, as after the tables of an earlier run were dropped.
    const long long free_pages = m_pConn.Scalar("PRAGMA freelist_count").AsInteger();
    const long long pages = m_pConn.Scalar("PRAGMA page_count").AsInteger();
    if (free_pages * 100 < pages * kCompactFreeShare) return 1;
    const std::string file = db::ParseConnectionString(m_strConnect).location;
    CloseStatConnection();
    const short compacted = CompactMdb(file);
    OpenStatConnection();
    return compacted;
  } catch (const db::DbError& error) {
    LogFailure("压缩数据库", "压缩数据库失败", error);
    return 0;
  }
}

int SaveStatSqlScript(const std::string& name, const std::string& text, const std::string& folder) {
  const fs::path target =
      folder.empty() ? fs::path(host::ProgramDir()) / "ERROR_StatSQL" : fs::path(folder);
  std::error_code error;
  if (!fs::is_directory(target) && !fs::create_directory(target, error)) return 0;
  std::ofstream file(target / (name + ".sql"), std::ios::binary | std::ios::trunc);
  file << text;
  return file.flush() ? 1 : 0;
}

}  // namespace landstat
