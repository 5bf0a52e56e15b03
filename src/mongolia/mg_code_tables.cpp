// The Inner Mongolia area-unit table "AreaUnitMG" (which units the year's
// tables exist in; never dropped) and the ownership-code table "QSDMBMG"
// (every administrative code of the code table as it stands, name first),
// and the check of an Inner Mongolia code file's codes.

#include <set>

#include "engine/shared_code_tables.h"
#include "mongolia/mg_base_rows.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/progress.h"

namespace landstat {

short CMgStatContext::CreateAreaUnitTable() {
  const std::string table = AreaUnitTable();
  try {
    CreateSharedTable(
        m_pConn, table,
        "Create Table " + table + "(年度 varchar(20),TYPE varchar(20),AREAUNIT varchar(20))");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古面积单位表", "建立内蒙古面积单位表失败", error);
    return 0;
  }
}

short CMgStatContext::RecordAreaUnit(const std::string& kind, const std::string& unit) {
  const std::string table = AreaUnitTable();
  if (!IsTableExist(table)) return -1;
  const std::vector<db::Value> values = {db::Value(kind), db::Value(m_strPrefix1), db::Value(unit)};
  try {
    const db::Value held = m_pConn.Scalar(
        "select count(*) from " + table + " where TYPE=? and 年度=? and AREAUNIT=?", values);
    if (held.AsInteger() == 0) {
      m_pConn.Execute("insert into " + table + " (TYPE,年度,AREAUNIT) values (?,?,?)", values);
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("记录内蒙古面积单位", "记录内蒙古面积单位失败", error);
    return 0;
  }
}

short CMgStatContext::CreateQsdmbMGTable() {
  if (!m_pRuralCode) return 0;
  const std::string table = QsdmbMGTable();
  try {
    SetAside(table);
    m_pConn.Execute("Create Table " + table + "(QSDWMC varchar(60),QSDWDM varchar(60))");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古权属代码表", "建立内蒙古权属代码表失败", error);
    return 0;
  }
}

short CMgStatContext::FillQsdmbMG() {
  if (!m_pRuralCode) return 0;
  std::vector<gis::CODESTRUCT> entries;
  m_pRuralCode->GetCode(nullptr, &entries, 0, nullptr);
  std::erase_if(entries, [](const gis::CODESTRUCT& entry) {
    for (const char* type : gis::kAdminCodeTypes) {
      if (entry.type == type) return false;
    }
    return true;
  });
  try {
    db::RowWriter rows(m_pConn, QsdmbMGTable(), {"QSDWMC", "QSDWDM"});
    const long count = static_cast<long>(entries.size());
    for (long i = 0; i < count; ++i) {
      host::LindoDlgSetProgress("正在生成权属代码", i + 1, count);
      rows.Add({db::Value(entries[i].name), db::Value(entries[i].code)});
    }
    rows.Close();
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("填充内蒙古权属代码表", "填充内蒙古权属代码表失败", error);
    return 0;
  }
}

namespace {

bool IsAdminEntry(const gis::CODESTRUCT& entry) {
  return entry.type.find("行政代码") != std::string::npos;
}

// What is wrong with the administrative code `code` of a code file whose
// administrative codes are `units`, empty when nothing.
std::string CodeFileProblem(const std::string& code, const std::set<std::string>& units) {
  if (code.size() == 2 || code.size() == 4) return {};  // a province or a city
  std::string lengths;
  bool level = false;
  for (std::size_t length : mg::kMgCodeLengths) {
    level = level || code.size() == length;
    lengths += (lengths.empty() ? "" : ", ") + std::to_string(length);
  }
  if (!level) {
    return "has " + std::to_string(code.size()) +
           " characters, a length no level of the ownership codes has (" + lengths + ")";
  }
  std::string missing;
  for (const mg::MgLevel& higher : mg::kMgLevels) {
    if (higher.length >= code.size() || units.count(code.substr(0, higher.length))) continue;
    missing += (missing.empty() ? "" : ", ") + code.substr(0, higher.length);
  }
  if (missing.empty()) return {};
  return "lacks its higher units in the file: " + missing;
}

}  // namespace

short CMgStatContext::CheckCodeFile() {
  if (!m_pRuralCode) return 1;
  std::vector<gis::CODESTRUCT> entries;
  m_pRuralCode->GetCode(nullptr, &entries, 0, nullptr);
  std::set<std::string> units;
  for (const gis::CODESTRUCT& entry : entries) {
    if (IsAdminEntry(entry)) units.insert(entry.code);
  }
  short sound = 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!IsAdminEntry(entries[i])) continue;
    const std::string problem = CodeFileProblem(entries[i].code, units);
    if (problem.empty()) continue;
    LogFailure(m_pRuralCode->Where(i),
               "the administrative code '" + entries[i].code + "' " + problem);
    sound = 0;
  }
  return sound;
}

}  // namespace landstat
