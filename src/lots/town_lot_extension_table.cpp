// The town-lot extension table statdata_czzdex of the unit conversion: the
// lots of statdata_czzd grouped per lot like a per-unit copy, converted from
// unit 1 into the conversion's target unit. The unit-less town summaries are
// rebuilt from it.

#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The descriptive columns a per-lot copy groups by, as the statement
// lists them.
constexpr char kCopyInsert[] =
    " insert into %s (地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t县名称,县级代码,街道名称,"
    "街道代码,街坊名称,街坊代码,\t\t\t\t\t土地座落,使用权类型,权属性质,土地级别,"
    "\t\t\t\t\t宗地总面积,"
    "占地面积,建筑面积";
constexpr char kCopySelect[] =
    "select 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t  县名称,县级代码,街道名称,街道代码,"
    "街坊名称,街坊代码,\t\t\t\t\t  土地座落,使用权类型,权属性质,土地级别,\t\t\t\t\t  "
    "sum(宗地总面积),"
    "sum(占地面积),sum(建筑面积)";
constexpr char kCopyGroup[] =
    "group by 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t县名称,县级代码,街道名称,街道代码,"
    "街坊名称,街坊代码,\t\t\t\t\t土地座落,使用权类型,权属性质,土地级别";

bool IsClassColumn(const std::string& field) {
  return field.compare(0, 2, "BM") == 0;
}

std::string Replace(std::string text, const std::string& table) {
  return text.replace(text.find("%s"), 2, table);
}

// The group-by copy of `source` into `target`: one row per lot, its areas
// and class columns summed. The same statement as the per-unit copies'.
std::string ExtensionCopyStatement(const std::vector<std::string>& fields,
                                   const std::string& target, const std::string& source) {
  std::string insert = Replace(kCopyInsert, target), select = kCopySelect;
  for (const std::string& field : fields) {
    if (!IsClassColumn(field)) continue;
    insert += "," + field;
    select += ",SUM(" + field + ") as " + field + " ";
  }
  return insert + ") " + select + " from " + source + " " + kCopyGroup;
}

// The update that converts the area and class columns of `table` from unit
// `from` to unit `to`, rounded to `decimals`; empty for the same unit.
std::string ExtensionConvertStatement(const std::vector<std::string>& fields, short from, short to,
                                      const std::string& table, short decimals) {
  const std::string factor = FactorText(from, to);
  if (factor.empty()) return {};
  std::string statement = "UPDATE " + table + " set ";
  for (const std::string& field : fields) {
    if (!IsClassColumn(field) && field != "占地面积" && field != "宗地总面积" &&
        field != "建筑面积") {
      continue;
    }
    statement += field + "=round(" + field + factor + "," + std::to_string(decimals) + "),";
  }
  statement.pop_back();
  return statement;
}

}  // namespace

short CZdStatContext::CreateStatDataExTable() {
  const std::string table = m_names.Plain("statdata_czzdex");
  if (IsTableExist(table)) DropTable(table);
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    statement += m_arrStatFields[i] + (i < 15 ? " varchar(60)" : " double default 0.00");
    if (i + 1 < m_arrStatFields.size()) statement += ",";
  }
  statement = TypeWords(statement + ")");
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError&) {
    LogFailure("建立城镇基础汇总表", "statdata_czzdex" + statement);
    return 0;
  }
}

short CZdStatContext::CopyStatDataEx() {
  const std::string source = StatDataTable();
  const std::string statement = ExtensionCopyStatement(m_arrStatFields, source + "ex", source);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError&) {
    LogStatementFailure("汇总城镇基础据表", "statdata_czzdex " + statement, statement);
    return 0;
  }
}

short CZdStatContext::ConvertStatDataEx(short unit) {
  if (unit != kHectare && unit != kMu && unit != kSquareMetre) return 0;
  const short recorded = GetAreaUnit();
  if (recorded == kNoUnit || recorded == unit) return 0;
  // Without the lots the town tables would be rebuilt empty under the new
  // unit: the stored ones and their unit stay instead.
  if (CopyStatDataEx() == 0) return 0;
  if (m_nUnitSrc == unit) return 1;  // the base figures as they stand
  const std::string table = m_names.Plain("statdata_czzdex");
  const std::string statement =
      ExtensionConvertStatement(m_arrStatFields, m_nUnitSrc, unit, table, m_nDecSrc);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("转换城镇基础汇总表", table + " 转换失败", error);
    host::AfxMessageBox(error.what());
    return 0;
  }
}

}  // namespace landstat
