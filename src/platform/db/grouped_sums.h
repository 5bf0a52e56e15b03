#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {

// What "SELECT keys, SUM(c) AS c, ... FROM table WHERE filter GROUP BY keys"
// gives. The embedded engine groups by sorting the whole table, which is
// slow for a table of a million rows and a hundred columns: there the
// groups are made in one pass over the rows in memory, with the same groups
// (rows whose keys are equal byte for byte, nulls together) and the same
// sums (null where every value of the group was null); only the non-zero
// sums of a group are kept, so that a million groups of some hundred mostly
// empty columns fit. A server groups by hashing, faster than reading every
// row out of it: there the statement itself runs when the groups are
// written.
struct GroupedSumsQuery {
  std::string table;
  std::string filter;  // a condition on the rows, or empty
  std::vector<std::string> keys;
  std::vector<std::string> sums;  // columns, each summed under its own name
};

class GroupedSums {
 public:
  // Reads the rows (on the embedded engine); a DbError of the database goes
  // to the caller.
  GroupedSums(Connection& connection, GroupedSumsQuery query);

  // Writes every group into `target`, whose columns include the keys and
  // the sums under their names, in the order of the keys when `sorted` (as
  // the engine's ORDER BY sorts them: bytes, nulls first on SQLite), else in
  // any order. `columns`
  // picks and orders what is written: key or sum names, or SUM_OF(name)
  // written under the name given as `as` (a sum written twice, say).
  struct Column {
    std::string name;  // a key or a summed column
    std::string as;    // the target's column; empty: the same name
  };
  void WriteTo(Connection& connection, const std::string& target,
               const std::vector<Column>& columns, bool sorted) const;
  // Every key, then every sum, under their own names.
  void WriteTo(Connection& connection, const std::string& target, bool sorted) const;

 private:
  struct Group {
    std::string key;                                     // the keys packed: see PackKey
    std::vector<std::pair<std::uint16_t, double>> sums;  // non-zero sums by column
    std::vector<bool> seen;                              // a non-null value by column
  };
  void Add(Group& group, const RowSource& row) const;
  // The grouping statement that writes the groups into `target`.
  std::string InsertStatement(const std::string& target, const std::vector<std::string>& names,
                              const std::vector<std::size_t>& sources, bool sorted) const;
  std::vector<std::optional<std::string>> UnpackKey(const std::string& packed) const;

  GroupedSumsQuery query_;
  bool in_database_ = false;  // the server groups when the groups are written
  std::deque<Group> groups_;  // in the order first met; never moved, so
  std::unordered_map<std::string_view, std::uint32_t> index_;  // may view their keys
};

}  // namespace landstat::db
