#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
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
// of the key columns and then of `order` (the name columns). The figures
// lie in one block, a row's columns side by side, and a column named twice
// is held once.
class SummaryRows {
 public:
  using Columns = std::vector<std::string>;

  // The area figures of one row, by column name. A column the rows do not
  // hold raises std::out_of_range.
  class Row {
   public:
    double& at(const std::string& column) { return owner_->Value(row_, column); }
    double at(const std::string& column) const { return owner_->Value(row_, column); }
    double& operator[](const std::string& column) { return at(column); }

   private:
    friend class SummaryRows;
    Row(SummaryRows* owner, std::size_t row) : owner_(owner), row_(row) {}
    SummaryRows* owner_;
    std::size_t row_;
  };

  SummaryRows(db::Connection& connection, std::string table, Columns keys, Columns columns,
              Columns order = {});
  SummaryRows(const SummaryRows&) = delete;
  SummaryRows& operator=(const SummaryRows&) = delete;

  bool Has(const std::string& key) const { return row_of_.count(key) != 0; }
  Row& operator[](const std::string& key) { return views_.at(RowOf(key)); }
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
  // The places of the area columns in a recordset over the table.
  std::vector<int> FieldsOf(const db::Recordset& rows) const;
  std::size_t RowOf(const std::string& key) const;
  std::size_t ColumnOf(const std::string& column) const;
  double& Value(std::size_t row, const std::string& column) {
    return values_[row * columns_.size() + ColumnOf(column)];
  }
  // Whether any figure of a row differs from what was read.
  bool Changed(std::size_t row) const;

  db::Connection& connection_;
  std::string table_;
  Columns keys_, columns_, order_;
  std::unordered_map<std::string, std::size_t> column_of_;
  std::map<std::string, std::size_t> row_of_;  // by key, in key order
  std::vector<Row> views_;                     // by row number
  std::vector<double> values_, original_;      // by row number, then column
};

}  // namespace landstat::units
