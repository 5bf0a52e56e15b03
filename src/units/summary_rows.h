#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {
class Recordset;
}

namespace landstat::units {

// The rows of a summary table held in memory for balancing: each row by its
// key (the texts of the key columns), with the area columns the balancing
// reads; Save writes back only the rows that changed.
class SummaryRows {
 public:
  using Columns = std::vector<std::string>;
  using Row = std::map<std::string, double>;

  SummaryRows(db::Connection& connection, std::string table, Columns keys, Columns columns);

  bool Has(const std::string& key) const { return rows_.count(key) != 0; }
  Row& operator[](const std::string& key) { return rows_.at(key); }
  std::vector<std::string> Keys() const;
  // The keys of the rows whose key is `prefix` and `extra` characters more.
  std::vector<std::string> Under(const std::string& prefix, std::size_t extra) const;
  void Save();

 private:
  std::string KeyOf(db::Recordset& row) const;

  db::Connection& connection_;
  std::string table_;
  Columns keys_, columns_;
  std::map<std::string, Row> rows_, original_;
};

}  // namespace landstat::units
