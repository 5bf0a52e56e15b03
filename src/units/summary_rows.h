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
// reads; Save writes back, rounded, only the rows that changed. Rows that share a key
// (a unit summed under two spellings of its name) stay apart: the second
// and later take the key followed by "\x01" and their number, in the order
// of the key columns and then of `order` (the name columns).
class SummaryRows {
 public:
  using Columns = std::vector<std::string>;
  using Row = std::map<std::string, double>;

  SummaryRows(db::Connection& connection, std::string table, Columns keys, Columns columns,
              Columns order = {});

  bool Has(const std::string& key) const { return rows_.count(key) != 0; }
  Row& operator[](const std::string& key) { return rows_.at(key); }
  std::vector<std::string> Keys() const;
  // The keys of the rows whose key (without the number of a repeated key)
  // is `prefix` and `extra` characters more.
  std::vector<std::string> Under(const std::string& prefix, std::size_t extra) const;
  // A key without the number of a repeated key.
  static std::string CodeOf(const std::string& key);
  // The sum of some columns of a row.
  static double SumOf(const Row& row, const Columns& columns);
  // Sets the columns of row `key` to the sums of the rows `children`,
  // rounded to `decimals`.
  void SetToSum(const std::string& key, const std::vector<std::string>& children,
                const Columns& columns, int decimals);
  // Writes back the rows that changed, each figure the balancing moved
  // rounded to `decimals`, so that none keeps the binary tail of a sum.
  void Save(int decimals);

 private:
  std::string Query() const;
  // The key of the current row, numbered when it was seen before.
  std::string KeyOf(db::Recordset& row, std::map<std::string, int>& seen) const;

  db::Connection& connection_;
  std::string table_;
  Columns keys_, columns_, order_;
  std::map<std::string, Row> rows_, original_;
};

}  // namespace landstat::units
