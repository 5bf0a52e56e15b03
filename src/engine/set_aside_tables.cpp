#include "engine/set_aside_tables.h"

#include <cstdint>

#include "engine/database_helpers.h"

namespace landstat {
namespace {

std::string SetAsideName(const std::string& table) {
  return table + "_replaced";
}

// A rename makes the engine read its whole schema again, which costs about
// as much as journaling some tens of thousands of rows (20 ms at some two
// hundred tables of a hundred columns, measured at 1,000,000 parcels): a
// table of fewer rows is dropped at once.
constexpr std::int64_t kRowsWorthSettingAside = 50000;

bool WorthSettingAside(db::Connection& connection, const std::string& table) {
  return connection.Scalar("select max(rowid) from " + table).AsInteger() >= kRowsWorthSettingAside;
}

}  // namespace

bool SetAsideTables::SetAside(db::Connection& connection, const std::string& table) {
  // A server frees a dropped table's pages without writing them: it drops
  // the table at once, as a file run on a copy would.
  if (connection.Kind() != db::DbKind::kEmbedded || !connection.InTransaction() ||
      !WorthSettingAside(connection, table)) {
    return DeleteTbl(connection, table) > 0;
  }
  const std::string aside = SetAsideName(table);
  // One set aside before in this run: it was this run's own.
  if (IsTblExist(connection, aside)) connection.Execute("drop table " + aside);
  connection.Execute("ALTER TABLE " + table + " RENAME TO " + aside);
  aside_.push_back(aside);
  return true;
}

void SetAsideTables::DropAll(db::Connection& connection) {
  while (!aside_.empty()) {
    if (IsTblExist(connection, aside_.front())) connection.Execute("drop table " + aside_.front());
    aside_.erase(aside_.begin());
  }
}

}  // namespace landstat
