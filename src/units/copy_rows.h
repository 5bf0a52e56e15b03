#pragma once

// A unit copy of a base table held in memory for its balancing: the copy is
// read once for its totals and for which rows the class pass must walk,
// the classes of those rows are read by their ids, every decision is made
// on these rows, and only the rows that change are written back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/db/grouped_sums.h"
#include "platform/db/value.h"

namespace landstat {
class CStatContext;
}  // namespace landstat

namespace landstat::db {
class Connection;
class RowSource;
}  // namespace landstat::db

namespace landstat::units {

// The class columns a copy is balanced on, and how they add up. A row's
// classes are numbered leaves first, then parents, then extensions.
struct BalanceColumns {
  std::vector<std::string> leaves;                      // in balancing order
  std::vector<std::string> parents;                     // the parent columns of the leaves, by name
  std::vector<std::string> extensions;                  // "BM" and a four-character code
  std::vector<std::vector<std::size_t>> leaf_parents;   // by leaf: its parents
  std::vector<std::vector<std::size_t>> parent_leaves;  // by parent: its leaves, in leaf order
  // The extensions of one leaf, which add up to it.
  struct ExtensionGroup {
    std::size_t leaf = 0;
    std::vector<std::size_t> members;  // by their place in `extensions`
  };
  std::vector<ExtensionGroup> extension_groups;

  std::size_t Count() const { return leaves.size() + parents.size() + extensions.size(); }
};

// The class columns of the run's base table in balancing order: the leaves,
// the parents they add to, and the extension columns grouped by the leaf
// they add up to (never counted as leaves beside it).
BalanceColumns SortClassColumns(const CStatContext& context);

// New row totals, by the row's place in its CopyRows.
using MovedTotals = std::unordered_map<std::size_t, double>;

// Sums of a copy to make from its rows as a fill writes them.
struct CopySumsRequest {
  std::string key;             // what the sums are kept under
  db::GroupedSumsQuery query;  // its filter, when it has one, is `nonzero`<>0
  std::string nonzero;         // the rows summed hold neither 0 nor null here; empty: all
};

// The sums of a copy made from its rows as they are written, with each
// row's group, so that the changes its balancing makes are carried into
// them: the sums the copy would give when read once it is balanced.
class FedCopySums {
 public:
  static constexpr std::uint32_t kNotSummed = UINT32_MAX;
  // `row_columns`: the copy's columns, in the order of the rows fed. Raises
  // DbError when one the sums read is missing.
  FedCopySums(const CopySumsRequest& request, const std::vector<std::string>& row_columns);
  // The copy's next row.
  void Feed(const db::RowSource& row);
  // A value of the row at `row` (by the order fed) changed.
  void Changed(std::size_t row, std::string_view column, double before, double after);
  const std::string& Key() const { return key_; }
  // A change moved a row into or out of the rows summed: the sums no longer
  // hold, and the copy must be read.
  bool Stale() const { return stale_; }
  std::unique_ptr<db::GroupedSums> Take() { return std::move(sums_); }

 private:
  std::string key_;
  std::string nonzero_;
  int nonzero_column_ = -1;  // in the rows fed
  std::unique_ptr<db::GroupedSums> sums_;
  std::vector<std::uint32_t> group_of_;  // by row: its group, or kNotSummed
  bool stale_ = false;
};

class CopyRows {
 public:
  static constexpr std::uint32_t kOutside = UINT32_MAX;
  struct Row {
    double total = 0;
    double order = 0;            // CAST(序号 AS INTEGER): orders rows of equal area
    std::int64_t id = 0;         // the row's id for its update
    std::uint32_t key = 0;       // where its key starts in the key texts
    std::uint32_t location = 0;  // its 座落单位代码, by Code(), read with its classes
    // Its village (by Code()) when rows are grouped by village, else 0;
    // kOutside when the row is out of the Scope.
    std::uint32_t group = kOutside;
    // Its classes do not add up: the class pass must walk it.
    bool unbalanced = false;
  };

  // Which rows take part in the steps of the totals: those for which
  // `column LIKE like` holds, grouped by their village or all in one group.
  // `key`: the columns that pair a row with its row in the source table,
  // which every copy of the table holds with the same values and no two
  // rows of a copy share (a base table's number, or the columns a
  // condensed copy is grouped by).
  struct Scope {
    std::string column;
    std::string like;
    bool by_village = false;
    std::vector<std::string> key = {"序号"};
  };

  // Reads every row of `table` in stored order, and which rows' classes do
  // not add up (on the grid of `decimals`). Raises DbError when the table
  // cannot be read. On the embedded engine, which reads whole rows, the
  // sums `sums` of the copy are made from the rows as they are read (Sums);
  // a server makes none of them.
  CopyRows(db::Connection& connection, std::string table, BalanceColumns columns, short decimals,
           const Scope& scope, const std::vector<CopySumsRequest>& sums = {});

  // A copy being filled, its rows appended as they are written to it.
  CopyRows(std::string table, BalanceColumns columns, short decimals, const Scope& scope);
  // What a fill knows of a row it wrote.
  struct Facts {
    std::int64_t id = 0;       // its rowid in the copy
    std::string_view key;      // its key, as KeyPart makes it
    double order = 0;          // CAST(序号 AS INTEGER)
    bool in_scope = false;     // `column LIKE like` holds for it
    std::string_view village;  // 村级代码
    double total = 0;
    std::string_view location;  // 座落单位代码
  };
  // Appends a row with its classes, Columns().Count() of them in class order.
  void Append(const Facts& facts, const std::vector<double>& classes);

  const std::string& Table() const { return table_; }
  const BalanceColumns& Columns() const { return columns_; }
  std::size_t Size() const { return rows_.size(); }
  const Row& At(std::size_t i) const { return rows_[i]; }
  // Row i's key: the texts of the key columns, each as KeyPart makes it,
  // joined by '\x1f'.
  std::string_view Key(std::size_t i) const;
  const std::vector<std::string>& KeyColumns() const { return key_; }
  // A key column's value in a key: its text, or for a null "\x1e", which
  // no text of a key column holds (a group of nulls is no group of empty
  // texts).
  static void KeyPart(bool null, std::string_view text, std::string& key);
  // The key of the current row of `source`, whose columns from `first` on
  // are the key columns.
  static std::string KeyOf(const db::RowSource& source, int first, std::size_t columns);
  // A key as people read it: the columns' texts, separated by '/'.
  static std::string ShownKey(std::string_view key);
  const std::string& Code(std::uint32_t id) const { return codes_[id]; }
  std::size_t CodeCount() const { return codes_.size(); }
  // Reads the classes of the rows `wanted` (places in this list), by their
  // ids, a batch of ids per statement. Raises DbError when one is missing.
  void ReadClasses(db::Connection& connection, const std::vector<std::size_t>& wanted);
  // The class values of row i, Columns().Count() of them; row i's classes
  // must have been read.
  void Classes(std::size_t i, std::vector<double>& values) const;
  // The id that names row i in an update of the table.
  db::Value Id(std::size_t i) const;
  // The sums made of the copy as it was filled or read, kept true as its
  // rows change (see Changed).
  std::vector<FedCopySums>& Sums() { return sums_; }
  // A value of row i was written anew: `column` (0 the total, k + 1 class k)
  // went from what the row held to `after`, in every sum made of the copy.
  void Changed(std::size_t i, std::size_t column, std::string_view name, double after);

 private:
  static constexpr std::uint32_t kNotRead = UINT32_MAX;
  static double Tolerance(short decimals);
  // A row with its totals and key kept; raises DbError when the list is full.
  Row NewRow(double total, double order, std::int64_t id, std::string_view key);
  std::uint32_t Intern(std::string_view code);
  // Keeps the location of the current row of `source` (column
  // `first_column`) in `row`, and the non-zero classes after it as the next
  // entries.
  void Keep(db::RowSource& source, int first_column, Row& row);

  std::string table_;
  BalanceColumns columns_;
  double limit_ = 0;  // classes differing by more do not add up
  bool by_village_ = false;
  std::vector<Row> rows_;
  // The non-zero classes of each row: where they start and how many there
  // are (kNotRead until they are read).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries_;
  std::vector<std::uint16_t> entry_columns_;
  std::vector<double> entry_values_;
  std::vector<std::string> key_;
  std::string keys_;
  std::vector<std::string> codes_;
  std::unordered_map<std::string, std::uint32_t> code_ids_;
  std::uint32_t last_code_ = 0;
  bool tuple_ids_ = false;  // ids are a server's (page,item) tuple ids
  std::vector<FedCopySums> sums_;
};

}  // namespace landstat::units
