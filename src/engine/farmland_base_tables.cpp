// The empty base tables that the farmland and rural ownership-lot
// pipelines fill: statdata_jbnt, its unit copies, statdata_jbntex and
// statdata_ncqs. Their columns are typed by name, never by position.

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {

namespace {

// The base field list without the remark column "描述说明".
std::vector<std::string> FieldsWithoutRemark(const std::vector<std::string>& fields) {
  std::vector<std::string> kept;
  for (const std::string& field : fields) {
    if (field != "描述说明") kept.push_back(field);
  }
  return kept;
}

std::string CreateStatement(const std::string& table, const std::vector<std::string>& leading,
                            const std::vector<std::string>& fields) {
  std::string sql = "Create Table " + table + "(";
  bool first = true;
  for (const auto* list : {&leading, &fields}) {
    for (const std::string& field : *list) {
      sql += (first ? "" : ",") + StatColumnDefinition(field);
      first = false;
    }
  }
  return sql + ")";
}

}  // namespace

short CStatContext::CreateTable(const std::string& table, const std::vector<std::string>& leading,
                                const std::vector<std::string>& fields, const std::string& title,
                                const std::string& message) {
  if (IsTableExist(table)) DropTable(table);
  try {
    m_pConn.Execute(TypeWords(CreateStatement(table, leading, fields)));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(title, message, error);
    return 0;
  }
}

short CStatContext::CreateJbntStatTable() {
  return CreateTable(
      m_strJbntTbl, {"调入备注", "是否补划", "保护片编号", "基本农田图斑编号", "地类编码"},
      FieldsWithoutRemark(m_arrStatFields), "创建statdata_jbnt", "创建statdata_jbnt表失败");
}

// The Guangdong farmland base table: the columns of statdata_jbnt.
short CStatContext::CreateJbntStatTableGd() {
  return CreateTable(
      m_strJbntTbl + "GD", {"调入备注", "是否补划", "保护片编号", "基本农田图斑编号", "地类编码"},
      FieldsWithoutRemark(m_arrStatFields), "建立基本农田基础汇总表", "建立基本农田基础汇总表失败");
}

short CStatContext::CreateUnitJbntTable(const std::string& table) {
  return CreateTable(table, {"调入备注", "是否补划", "保护片编号", "基本农田图斑编号"},
                     FieldsWithoutRemark(m_arrStatFields), "创建statdata_jbnt",
                     "创建statdata_jbnt表失败");
}

short CStatContext::CreateUnitJbntTables() {
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (WantsUnit(unit)) CreateUnitJbntTable(m_names.UnitCopy(unit, "statdata_jbnt"));
  }
  return 1;
}

short CStatContext::CreateJbntOnlyTable(const std::string& name) {
  // The columns of the farmland base table it is summed from.
  return CreateTable(name, {}, JbntOnlyColumns(), "建立基本农田图斑汇总表",
                     name + " 建立基本农田图斑汇总表失败");
}

short CStatContext::CreateJbntExTable() {
  return CreateTable(m_strJbntTbl + "ex", {"保护片编号", "基本农田图斑编号"},
                     FieldsWithoutRemark(m_arrStatFields), "建立基本农田基础汇总数据表",
                     "statdata_jbntex");
}

short CStatContext::CreateNcqsStatTable() {
  return CreateTable(m_names.Plain("statdata_ncqs"), {"地籍号"}, m_arrStatFields,
                     "建立农村权属宗地基础表", "建立农村权属宗地基础表失败");
}

std::string CStatContext::NcqsStatTableStatement(const std::string& table,
                                                 const std::string& options) const {
  return TypeWords(CreateStatement(table, {"地籍号"}, m_arrStatFields) + options);
}

}  // namespace landstat
