#include "engine/coded_rows.h"

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"

namespace landstat {

short WriteCodedRows(CStatContext& context, const std::string& target,
                     const std::vector<CodedRow>& rows, const CodedRowsForm& form,
                     const std::string& title, const std::string& failure) {
  try {
    long next_id = form.first_id.value_or(0);
    db::Recordset table(context.m_pConn, "SELECT * FROM " + target + " where 1<>1");
    for (const CodedRow& row : rows) {
      table.AddNew();
      if (form.first_id) table.SetField("ID", db::Value(next_id++));
      table.SetField("XZQDM", row.code);
      if (form.names) table.SetField("XZQMC", row.name);
      for (const auto& [column, area] : row.areas) {
        table.SetField(column, form.decimals < 0 ? area : RoundToDecimals(area, form.decimals));
      }
    }
    table.Update();
    table.Close();
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(title, failure, error);
    return 0;
  }
}

}  // namespace landstat
