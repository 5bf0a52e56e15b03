// The temporary fill of the Inner Mongolia base table: every row, made by
// this fill's rules (mg::kMgStagedRules), is held in memory in the row
// pipe's batches and written once, straight into the base table's columns
// of the fill; the rows are never stored twice.

#include "mongolia/mg_base_rows.h"
#include "mongolia/mg_table_names.h"
#include "platform/gis/gis_error.h"

namespace landstat {

short CMgStatContext::BuildStatData() {
  return FillBaseTable(&CMgStatContext::FillStaged);
}

short CMgStatContext::FillStaged() {
  // The rows fill the columns of the fill's list only: a further column of
  // the table keeps its default, and refuses the rows when it has none it
  // accepts. A staging table an earlier version of this fill left beside
  // the base table goes.
  try {
    if (const std::string staging = MgStagingTable(m_names); IsTableExist(staging)) {
      DropTable(staging);
    }
    mg::MgRowWriter writer(*this, m_strStatTbl, m_arrStatFields, mg::kMgStagedRules.keep_unclassed);
    mg::BookLayers(*this, writer, mg::kMgStagedRules);
    writer.Close();
  } catch (const gis::GisError& error) {
    LogFailure("汇总内蒙古基础数据", "读取图层失败", error);
    return 0;
  } catch (const db::DbError& error) {
    LogFailure("汇总内蒙古基础汇总表", "汇总内蒙古基础汇总表失败", error);
    return 0;
  }
  return CompactWorkingCopy() > 0 ? 1 : 0;
}

}  // namespace landstat
