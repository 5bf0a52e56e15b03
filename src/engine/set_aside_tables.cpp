#include "engine/set_aside_tables.h"

#include <cstdint>

#include "engine/database_helpers.h"

namespace landstat {
namespace {

std::string SetAsideName(const std::string& table) {
  return table + "_replaced";
}

// A rename makes the engine read its whole schema again (some 20 ms at two
// hundred tables of a hundred columns), about what journaling 9 MB of a
// table costs: a table of 200,000 rows of 87 figures holds some 45 MB, one
// of 100,000 rows of 9 columns some 9 MB (measured at 1,000,000 parcels).
// A table of fewer values than this is dropped at once.
constexpr std::int64_t kValuesWorthSettingAside = 2000000;

bool WorthSettingAside(db::Connection& connection, const std::string& table) {
  const std::int64_t rows = connection.Scalar("select max(rowid) from " + table).AsInteger();
  const auto columns = static_cast<std::int64_t>(connection.Columns(table).size());
  return rows * columns >= kValuesWorthSettingAside;
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
