// Conversion of a stored table's areas from one unit to another.

#include "units/unit_conversion.h"

#include "engine/execute_or_trace.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_dialect.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace {

bool IsAreaColumn(const db::ColumnInfo& column) {
  const std::string type = text::ToLowerAscii(column.declared);
  return type.find("double") != std::string::npos || type.find("float") != std::string::npos ||
         type.find("real") != std::string::npos || type.find("numeric") != std::string::npos ||
         type.find("number") != std::string::npos;
}

// The factor of each unit pair (0 hectare, 1 mu, 2 square metre), as SQL
// text and as a number.
struct Factor {
  const char* text;
  double value;
};
constexpr Factor kFactors[3][3] = {{{"", 1.0}, {"*15", 15.0}, {"*10000", 10000.0}},
                                   {{"/15", 1.0 / 15.0}, {"", 1.0}, {"*2000/3", 2000.0 / 3.0}},
                                   {{"/10000", 0.0001}, {"*3/2000", 0.0015}, {"", 1.0}}};

const Factor* FactorOf(int from, int to) {
  if (from < 0 || from > 2 || to < 0 || to > 2) return nullptr;
  return &kFactors[from][to];
}

}  // namespace

const char* FactorText(int from, int to) {
  const Factor* factor = FactorOf(from, to);
  return factor ? factor->text : "";
}

double UnitFactor(int from, int to) {
  const Factor* factor = FactorOf(from, to);
  return factor ? factor->value : 1.0;
}

namespace {

// The columns of a table that a conversion changes: its area columns, not
// the ratio columns of the town intensity table.
bool IsConvertedColumn(const std::string& table, const db::ColumnInfo& column) {
  if (!IsAreaColumn(column)) return false;
  const std::string name = text::ToLowerAscii(column.name);
  const bool ratio = name == "czjzmd" || name == "czjzrjl" || name == "czrjl";
  return !(ratio && table.find("CZTDLY_QDDC") != std::string::npos);
}

// A column's value times the factor text, rounded.
std::string ConvertedValue(const std::string& column, const std::string& factor, int decimals) {
  return "round(" + column + factor + "," + std::to_string(decimals) + ")";
}

// One update of every area column of a table: the column times the factor
// text, rounded.
short UpdateAreaColumns(db::Connection& connection, const std::string& table,
                        const std::string& factor, int decimals) {
  try {
    std::string assignments;
    for (const db::ColumnInfo& column : connection.Columns(table)) {
      if (!IsConvertedColumn(table, column)) continue;
      assignments += (assignments.empty() ? "" : ",") + column.name + "=" +
                     ConvertedValue(column.name, factor, decimals);
    }
    if (assignments.empty()) return 1;  // nothing to convert
    connection.Execute("update  " + table + " set  " + assignments);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
}

}  // namespace

short ConvertAreaUnit(db::Connection& connection, const std::string& table, int target, int source,
                      int, int decimals) {
  if (target == source) return 1;
  const std::string factor = FactorText(source, target);
  if (factor.empty()) {
    // No statement without assignments is sent: the pair is refused.
    host::AfxMessageBox("无法转换 " + table + " 的面积单位: 未知的单位 " + std::to_string(source) +
                        " -> " + std::to_string(target));
    return 0;
  }
  return UpdateAreaColumns(connection, table, factor, decimals);
}

short CopyConvertedAreas(db::Connection& connection, const std::string& source,
                         const std::string& target, int target_unit, int source_unit,
                         int decimals) {
  const std::string factor = FactorText(source_unit, target_unit);
  try {
    std::vector<std::string> columns;
    std::string values;
    for (const db::ColumnInfo& column : connection.Columns(source)) {
      columns.push_back(column.name);
      // Most class columns of a row are 0, which stays 0.
      values += (values.empty() ? "" : ",") +
                (IsConvertedColumn(target, column)
                     ? "CASE WHEN " + column.name + "=0 THEN 0 ELSE " +
                           ConvertedValue(column.name, factor, decimals) + " END"
                     : column.name);
    }
    connection.InsertSelect(target, columns, "select " + values + " from " + source);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
}

short RoundAreaColumns(db::Connection& connection, const std::string& table, int decimals) {
  return UpdateAreaColumns(connection, table, "", decimals);
}

int ConvertFldValue(db::Connection& connection, int kind, const std::string& table,
                    const std::vector<std::string>& fields, const std::string& factor,
                    int decimals) {
  if (!connection.IsOpen() || table.empty() || fields.empty() || factor.empty()) return 0;
  if (kind < 0 || kind > 2) return 0;
  // Kind 2 is Oracle's form; 0 and 1 the rounding of the database at hand.
  const db::SqlDialect& dialect = db::SqlDialect::For(connection.Kind());
  std::string statement = "update " + table + " set ";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& field = fields[i];
    const std::string value = kind == 2 ? "to_number(to_char(" + field + factor + ",'" +
                                              db::SqlDialect::RoundPicture(decimals) + "'))"
                                        : dialect.Round(field + factor, decimals);
    statement += (i ? "," : "") + field + "=" + value;
  }
  try {
    connection.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
}

namespace {

int SetSumTo(db::Connection& connection, const std::string& table, const std::string& total,
             const std::vector<std::string>& parts, const db::SqlDialect* dialect, int decimals) {
  if (!connection.IsOpen() || table.empty() || total.empty() || parts.empty()) return 0;
  std::string sum;
  for (const std::string& part : parts) sum += (sum.empty() ? "" : "+") + part;
  sum = "(" + sum + ")";
  if (dialect != nullptr && decimals >= 0) sum = dialect->Round(sum, decimals);
  const std::string statement = "update " + table + " set " + total + "=" + sum;
  return ExecuteOrTrace(connection, statement) ? 1 : 0;
}

}  // namespace

int SetSumFldValue(db::Connection& connection, const std::string& table, const std::string& total,
                   const std::vector<std::string>& parts) {
  return SetSumTo(connection, table, total, parts, nullptr, -1);
}

int SetSumFldValue(db::Connection& connection, const std::string& table, const std::string& total,
                   const std::vector<std::string>& parts, const db::SqlDialect& dialect,
                   int decimals) {
  return SetSumTo(connection, table, total, parts, &dialect, decimals);
}

}  // namespace landstat
