// The fill of the Inner Mongolia base table through a staging table: every
// row, made by this fill's rules (mg::kMgStagedRules), is written into
// "statdataMGtbl" beside the base table in the run's database, then all
// rows move into the base table with one insert-select.

#include "mongolia/mg_base_rows.h"
#include "platform/gis/gis_error.h"
#include "platform/host/trace.h"

namespace landstat {

short CMgStatContext::CreateStagingTable(const std::string& table) {
  // The texts as wide as the base table's, so that a value too long is
  // refused with its own row rather than by the move; every class column a
  // number with the areas' decimals, the first one too.
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    statement += (i ? "," : "") + m_arrStatFields[i] +
                 (i <= kMgTextColumns ? " varchar(40)" : " double default 0.00");
  }
  try {
    if (IsTableExist(table)) m_pConn.Execute("drop table " + table);
    m_pConn.Execute(Dialect().ApplyTypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古临时汇总表", table + " 建立失败", error);
    return 0;
  }
}

short CMgStatContext::BuildStatData() {
  return FillBaseTable(&CMgStatContext::FillStaged);
}

short CMgStatContext::FillStaged() {
  // The staging table lives in the run's own database, whatever source the
  // layers are read from: no layer's source needs the row-by-row fill.
  const std::string staging = MgStagingTable(m_names);
  if (CreateStagingTable(staging) <= 0) return 0;
  short result = 0;
  try {
    mg::MgRowWriter writer(*this, staging, mg::kMgStagedRules.keep_unclassed);
    mg::BookLayers(*this, writer, mg::kMgStagedRules);
    writer.Close();
    // The staged total is text: it moves as a number.
    std::string columns, values;
    for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
      const std::string& column = m_arrStatFields[i];
      columns += (i ? "," : "") + column;
      values +=
          (i ? "," : "") +
          (i == kMgTextColumns ? "CAST(" + column + " AS " + Dialect().DoubleType() + ")" : column);
    }
    const std::string move =
        "insert into " + m_strStatTbl + " (" + columns + ") select " + values + " from " + staging;
    try {
      m_pConn.Execute(move);
      result = 1;
    } catch (const db::DbError& error) {
      host::yDebugStr(move);
      LogFailure("汇总内蒙古基础汇总表", "汇总内蒙古基础汇总表失败", error);
    }
  } catch (const gis::GisError& error) {
    LogFailure("汇总内蒙古基础数据", "读取图层失败", error);
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古临时汇总表", "连接内蒙古临时汇总表失败", error);
  }
  // The staging table never stays: a run that failed is abandoned whole.
  if (IsTableExist(staging)) DropTable(staging);
  if (result > 0 && CompactWorkingCopy() <= 0) result = 0;
  return result;
}

}  // namespace landstat
