// The town-lot extension table statdata_czzdex of the unit conversion: the
// lots of statdata_czzd grouped per lot like a per-unit copy, converted from
// unit 1 into the conversion's target unit. The unit-less town summaries are
// rebuilt from it.

#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"

namespace landstat {
// The extension table has the columns of a per-unit copy, and its create
// fails as theirs does.
short CZdStatContext::CreateStatDataExTable() {
  return CreateUnitStatTable(m_names.Plain("statdata_czzdex"));
}

short CZdStatContext::CopyStatDataEx() {
  const std::string source = StatDataTable();
  // The per-lot copy of the per-unit tables, into the extension table.
  const std::string statement = CopyUnitStatStatement(source + "ex", source);
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
  // Without the town run's record there are no lots of this year. The
  // units of its copies say nothing of the unit-less tables: they are
  // rebuilt whatever unit those copies are in.
  if (GetAreaUnit() == kNoUnit) return 0;
  // Without the lots the town tables would be rebuilt empty under the new
  // unit: the stored ones and their unit stay instead.
  if (CopyStatDataEx() == 0) return 0;
  if (m_nUnitSrc == unit) return 1;  // the base figures as they stand
  const std::string table = m_names.Plain("statdata_czzdex");
  const std::string statement = ConvertUnitStatement(unit, table, m_nDecSrc, true);
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
