#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {

// What "SELECT keys, SUM(c) AS c, ... FROM table WHERE filter GROUP BY keys"
// gives. The embedded engine groups by sorting the whole table, which is
// slow for a table of a million rows and a hundred columns: there the
// groups are made in one pass over the rows in memory, with the same groups
// (rows whose keys are equal byte for byte, nulls together) and the same
// sums (null where every value of the group was null). A group holds a
// number per key (each distinct text of a key column is kept once) and only
// its non-zero sums, so that a million groups of some hundred mostly empty
// columns take about a hundred bytes each. A server groups by hashing,
// faster than reading every row out of it: there the statement itself runs
// when the groups are written.
struct GroupedSumsQuery {
  std::string table;
  std::string filter;  // a condition on the rows, or empty
  std::vector<std::string> keys;
  std::vector<std::string> sums;  // columns, each summed under its own name
  // The decimals of the summed columns: each sum is written rounded to them
  // as SQL's round does (a sum of figures on that grid comes back onto it
  // exactly, whatever order it was added in), unless a conversion turns it
  // into another figure. Below 0: written as summed.
  int decimals = -1;

  bool operator==(const GroupedSumsQuery&) const = default;
};

class GroupedSums {
 public:
  // Reads the rows (on the embedded engine); a DbError of the database goes
  // to the caller.
  GroupedSums(Connection& connection, GroupedSumsQuery query);
  // An empty grouping of `query` that its caller feeds row by row (Add),
  // on either engine: the query's table and filter are not read (the table
  // names the grouping in errors), and the groups, held in memory, are
  // written as those of a table read on the embedded engine. The rows it is
  // fed have the columns `columns`, each key and sum taken from the column
  // of its name (DbError when one is missing); without them, the query's
  // keys and then its sums, in order.
  explicit GroupedSums(GroupedSumsQuery query);
  GroupedSums(GroupedSumsQuery query, const std::vector<std::string>& columns);
  GroupedSums(const GroupedSums&) = delete;
  GroupedSums& operator=(const GroupedSums&) = delete;
  GroupedSums(GroupedSums&&) = default;
  GroupedSums& operator=(GroupedSums&&) = default;
  // Adds a row to its group: keys as texts (a null for none), sums as
  // numbers (a null adds nothing).
  void Add(const std::vector<Value>& row);
  // What is grouped and summed.
  const GroupedSumsQuery& Query() const { return query_; }

  // Several groupings read at the same time (see ReadApart), in the order
  // of the queries. The queries of one table are read in one scan that
  // feeds each grouping its rows (those its filter holds for), so a table
  // grouped several ways is read once.
  static std::vector<std::unique_ptr<GroupedSums>> ReadAll(
      Connection& connection, const std::vector<GroupedSumsQuery>& queries);
  // Several groupings of one table (DbError for queries of several tables)
  // read in one scan, in the order the rows are stored, on this thread:
  // each grouping has the groups and the sums, to the bit, that reading it
  // alone gives.
  static std::vector<std::unique_ptr<GroupedSums>> ReadInOneScan(
      Connection& connection, const std::vector<GroupedSumsQuery>& queries);

  // Writes every group into `target`, whose columns include the keys and
  // the sums under their names, in the order of the keys when `sorted` (as
  // the engine's ORDER BY sorts them: bytes, nulls first on SQLite), else in
  // any order. `columns` picks and orders what is written: keys and sums
  // by their names, each under the target's column `as` when given.
  struct Column {
    std::string name;  // a key or a summed column
    std::string as;    // the target's column; empty: the same name
  };
  // `convert`, when given, turns each sum into the figure written (where
  // the groups are in memory; a server that groups writes the sums as they
  // are). Writes of one GroupedSums may run on several threads at once, each
  // on a connection of its own.
  using Conversion = std::function<double(double)>;
  // `edit`, when given, sees each row before it is written and may change
  // its sums (not its keys); where the groups are in memory, like `convert`.
  using RowVisit = std::function<void(std::vector<Value>& row)>;
  void WriteTo(Connection& connection, const std::string& target,
               const std::vector<Column>& columns, bool sorted, const Conversion& convert = {},
               const RowVisit& edit = {}) const;
  // WriteTo with the rows stored on a thread of their own (db::RowPipe)
  // while the next are made, converted and edited here; `written`, when
  // given, sees each row stored, in order, on another. `convert` holds
  // `connection_lock` whenever it asks the connection, which the storing
  // thread holds while it stores a batch. Groups in memory only.
  void WriteApart(Connection& connection, std::mutex& connection_lock, const std::string& target,
                  const std::vector<Column>& columns, bool sorted, const Conversion& convert,
                  const RowVisit& edit,
                  const std::function<void(const std::vector<Value>&)>& written) const;
  // The rows WriteTo would write, in the same order, each given to `visit`
  // (groups in memory only: a server's groups are made by the statement that
  // writes them).
  void VisitRows(const std::vector<Column>& columns, bool sorted, const Conversion& convert,
                 const RowVisit& visit) const;
  // Every key, then every sum, under their own names.
  void WriteTo(Connection& connection, const std::string& target, bool sorted) const;
  std::vector<Column> Columns() const;

  // A grouping of rows given one by one (Feed) instead of read, such as the
  // rows of a table as they are written; their fields lie in the order of
  // `row_columns` (names matched ignoring ASCII case). The query's filter
  // is the caller's to apply. Raises DbError when a key or sum is missing.
  static std::unique_ptr<GroupedSums> Fed(GroupedSumsQuery query,
                                          const std::vector<std::string>& row_columns);
  // Adds a row to its group, and gives the group's number.
  std::uint32_t Feed(const RowSource& row);
  // The groups of `query` as the server of `connection` makes them (its
  // own grouping statement, read through a cursor), held in memory with the
  // server's sums to the bit: for a grouping read on a connection of its
  // own and written, as groups in memory are, on another.
  static std::unique_ptr<GroupedSums> ReadGroups(Connection& connection, GroupedSumsQuery query);
  // The place of a summed column among the sums (ignoring ASCII case), or
  // -1.
  int SumOf(std::string_view column) const;
  // A value of the group's row changed from `before` to `after` after it
  // was fed: the group's sum of column `sum` follows, and holds a value.
  void Adjust(std::uint32_t group, int sum, double before, double after);

 private:
  // The distinct texts of one key column, each numbered once, so that a
  // group holds a number per key instead of its texts. Number 0 is null.
  // The texts lie one after another in one string, and are found by open
  // addressing over their numbers: a hundred thousand texts take a few
  // allocations, not one or two each.
  class KeyTexts {
   public:
    // The number of `text`, numbered now when new; `table` names the
    // grouping in errors.
    std::uint32_t NumberOf(std::string_view text, const std::string& table);
    std::string_view Text(std::uint32_t number) const {
      return std::string_view(bytes_).substr(ends_[number - 1] - Length(number), Length(number));
    }
    std::size_t Count() const { return ends_.size(); }

   private:
    std::size_t Length(std::uint32_t number) const {
      return ends_[number - 1] - (number == 1 ? 0 : ends_[number - 2]);
    }
    // The slot of `text`, or the free slot where it goes.
    std::size_t SlotOf(std::string_view text, std::size_t hash) const;

    std::string bytes_;              // every text, in the order numbered
    std::vector<std::size_t> ends_;  // by number - 1: where its text ends in bytes_
    std::vector<std::uint32_t> slots_ = std::vector<std::uint32_t>(64, 0);  // numbers; 0 free
    std::uint32_t last_ = 0;  // the number last asked for: rows in turn often repeat it
  };
  // A non-zero sum of a group, in a list per group.
  struct Sum {
    double value;
    std::uint32_t next;  // the group's next sum; 0 ends the list
    std::uint16_t column;
  };

  // An empty grouping of `query` whose keys and sums a scan gives in the
  // columns `keys` and `sums`.
  GroupedSums(GroupedSumsQuery query, std::vector<int> keys, std::vector<int> sums);
  // Reads, in one scan of their table restricted by `range` (a condition on
  // the rows, or empty), the groupings of `queries`, which all name that
  // table.
  static std::vector<std::unique_ptr<GroupedSums>> ReadScan(
      Connection& connection, const std::vector<GroupedSumsQuery>& queries,
      const std::string& range);
  // Adds a row of the scan to its group. `Row` is RowSource, or a final
  // kind of it whose reads need no virtual call.
  template <typename Row>
  void AddRow(const Row& row);

  template <typename Row>
  std::uint32_t KeyNumber(const Row& row, std::size_t key);
  // The slot of the group of these key numbers, or the free slot where it
  // goes.
  std::size_t SlotOf(const std::uint32_t* key) const;
  std::uint32_t GroupOf(const std::uint32_t* key);
  template <typename Row>
  void Add(std::uint32_t group, const Row& row);
  void AddSum(std::uint32_t group, std::uint16_t column, double value);
  // The place in sums_ of each column's sum of `group` (0: none yet), for
  // the group added to in the row before as well: rows mostly come group
  // by group, and a group's list of sums is then walked once, not once per
  // sum added. Null for any other group.
  std::uint32_t* PlacesOfSums(std::uint32_t group);
  // Widens the group's pattern of non-null columns by those of non_null_.
  void WidenPattern(std::uint32_t group);
  // The number of a key's text, numbered now when new.
  std::uint32_t NumberOfText(std::size_t key, std::string_view text);
  // Adds the groups of a grouping of later rows of the same table.
  void Merge(const GroupedSums& later);
  // The groups in the order of their keys' texts (nulls first), or in the
  // order first met.
  std::vector<std::uint32_t> Order(bool sorted) const;
  // The figure written for a group's sum.
  double Written(double sum, const Conversion& convert) const;
  // Where each of `columns` comes from: a key (its place) or a sum (the
  // number of keys plus its place).
  std::vector<std::size_t> SourcesOf(const std::vector<Column>& columns) const;
  // The grouping query whose rows are the groups, in the columns `sources`.
  // The sums are rounded as the query asks unless `rounded` is false.
  std::string GroupingQuery(const std::vector<std::size_t>& sources, bool sorted,
                            bool rounded = true) const;

  GroupedSumsQuery query_;
  std::vector<int> key_columns_, sum_columns_;  // where the scan gives each key and sum
  bool in_database_ = false;                    // the server groups when the groups are written
  std::size_t columns_ = 0;                     // of a row fed by Add
  std::vector<KeyTexts> texts_;                 // per key column
  std::vector<std::uint32_t> keys_;   // per group, in the order first met: its key numbers
  std::vector<std::uint32_t> first_;  // per group: its first sum in sums_ (0: none)
  std::vector<std::uint32_t> seen_;   // per group: the number of its pattern of non-null columns
  std::deque<Sum> sums_;              // [0] unused, so that 0 ends a list
  // The patterns of columns with a non-null value; a group's pattern only
  // grows, and almost all groups share one or two.
  std::vector<std::vector<bool>> patterns_;
  std::map<std::vector<bool>, std::uint32_t> pattern_numbers_;
  std::vector<char> non_null_;          // the row being added: 1 for each non-null sum
  std::vector<std::uint32_t> row_key_;  // the row being added: its key numbers
  // Open addressing over the groups' keys: group number + 1, 0 where free.
  std::vector<std::uint32_t> slots_;
  // PlacesOfSums: the group last added to, the group whose places are
  // held (kNoGroup: none), and the places by column.
  static constexpr std::uint32_t kNoGroup = 0xFFFFFFFF;
  std::uint32_t last_group_ = kNoGroup, placed_group_ = kNoGroup;
  std::vector<std::uint32_t> places_;
  // The groups in the order of their keys as last worked out: written again
  // (a copy in another unit, say) while no group was added, they need not
  // be sorted again.
  struct SortedGroups;
  static std::shared_ptr<SortedGroups> NoSortedGroups();
  std::shared_ptr<SortedGroups> sorted_ = NoSortedGroups();
};

}  // namespace landstat::db
