#include "engine/shared_code_tables.h"

#include <set>

#include "platform/db/backend.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_quote.h"

namespace landstat {

const SharedCodeTable kQsdmbTable = {"QSDMB",
                                     "Create Table QSDMB(QSDWDM varchar(60),QSDWMC varchar(60))",
                                     {"QSDWDM", "QSDWMC"},
                                     0,
                                     {0},
                                     19};
const SharedCodeTable kCodeTbl1Table = {
    "CODETBL1",
    "create table CODETBL1 (代码名称 varchar(80), 代码类型 varchar(20), 代码 varchar(19))",
    {"代码名称", "代码类型", "代码"},
    2,
    {1, 2}};
const SharedCodeTable kNcTdlyQsTable = {
    "NCTDLYQS",
    "Create Table NCTDLYQS(代码  varchar(19),代码名称  varchar(60),代码类型 varchar(60))",
    {"代码名称", "代码", "代码类型"},
    1,
    {2, 1}};

namespace {

std::string CodeColumn(const SharedCodeTable& table, const std::string& alias) {
  return (alias.empty() ? "" : alias + ".") + table.columns[table.code];
}

bool OfCounty(const std::string& code, const std::string& county) {
  return code.rfind(county, 0) == 0;
}

std::string KeyOf(const SharedCodeTable& table, const std::vector<std::string>& row) {
  std::string key;
  for (std::size_t column : table.key) key += row[column] + '\x1f';
  return key;
}

// The keys of the rows that are there after the county's were deleted.
std::set<std::string> KeysThere(db::Connection& conn, const SharedCodeTable& table) {
  std::string list;
  for (std::size_t column : table.key) list += (list.empty() ? "" : ", ") + table.columns[column];
  std::set<std::string> keys;
  const auto rows = conn.Scan("select " + list + " from " + table.name);
  std::vector<std::string> row(table.columns.size());
  while (rows->Next()) {
    for (std::size_t i = 0; i < table.key.size(); ++i) {
      row[table.key[i]] =
          rows->IsNull(static_cast<int>(i)) ? "" : std::string(rows->Text(static_cast<int>(i)));
    }
    keys.insert(KeyOf(table, row));
  }
  return keys;
}

}  // namespace

void CreateSharedTable(db::Connection& conn, const std::string& name, const std::string& create) {
  if (conn.TableExists(name)) return;
  const char* lock = db::SqlDialect::For(conn.Kind()).TakeCreateLock();
  const bool own = *lock != '\0' && !conn.InTransaction();
  if (own) conn.BeginTrans();
  try {
    if (*lock != '\0') conn.Execute(lock, {db::Value(name)});
    // Asked again under the lock: a job that made it meanwhile has committed.
    if (!conn.TableExists(name)) conn.Execute(create);
    if (own) conn.CommitTrans();
  } catch (...) {
    if (own && conn.InTransaction()) conn.RollbackTrans();
    throw;
  }
}

void RefreshCountyRows(db::Connection& conn, const SharedCodeTable& table,
                       const std::string& county,
                       const std::vector<std::vector<std::string>>& rows) {
  CreateSharedTable(conn, table.name, table.create);
  // Jobs of other counties may refresh their rows at the same time: one
  // after the other, each to the end of its transaction, so that a row they
  // share is added by the first alone.
  if (const char* lock = db::SqlDialect::For(conn.Kind()).TakeCreateLock(); *lock != '\0') {
    conn.Execute(lock, {db::Value(table.name)});
  }
  conn.Execute(std::string("delete from ") + table.name + " where " + CodeColumn(table, "") +
               " like " + db::QuoteText(county + "%"));
  std::set<std::string> there = KeysThere(conn, table);
  db::RowWriter writer(conn, table.name, table.columns);
  std::vector<db::Value> values(table.columns.size());
  for (const std::vector<std::string>& row : rows) {
    if (!OfCounty(row[table.code], county) && !there.insert(KeyOf(table, row)).second) continue;
    for (std::size_t i = 0; i < row.size(); ++i) values[i] = db::Value(row[i]);
    writer.Add(values);
  }
  writer.Close();
}

std::string CountyRowsCondition(const SharedCodeTable& table, const std::string& county,
                                const std::string& alias) {
  const auto filled = [&](const std::string& code) {
    return table.width > code.size() ? code + std::string(table.width - code.size(), '0') : code;
  };
  const std::string column = CodeColumn(table, alias);
  return "(" + column + " like " + db::QuoteText(county + "%") + " or " + column + " in (" +
         db::QuoteText(filled(county.substr(0, 2))) + ", " +
         db::QuoteText(filled(county.substr(0, 4))) + "))";
}

std::string CountyRowsOf(const SharedCodeTable& table, const std::string& county) {
  return std::string("(select * from ") + table.name + " where " +
         CountyRowsCondition(table, county) + ")";
}

}  // namespace landstat
