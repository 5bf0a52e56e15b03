#pragma once

// The tables an earlier run left under the names a run makes again, put
// aside until the run's own tables are made and dropped then.

#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat {

// In a file that a run changes in place, in one transaction, a table
// dropped first frees pages that its replacement then takes, and the
// transaction must journal their old content before it overwrites them.
// Put aside (renamed), the old table keeps its pages until the new tables
// have taken others (pages free before the run, or new ones at the end of
// the file); dropped then, its pages are freed without being journaled or
// overwritten, and a later run takes them again the same way. Elsewhere (a
// server, a file outside a transaction), and where the table is small, it
// is dropped at once.
class SetAsideTables {
 public:
  // Puts `table`, which exists, aside, or drops it; false when the drop
  // failed. Raises DbError when it cannot be renamed.
  bool SetAside(db::Connection& connection, const std::string& table);
  // Drops the tables put aside, in order; raises DbError, keeping those
  // not dropped.
  void DropAll(db::Connection& connection);

 private:
  std::vector<std::string> aside_;
};

}  // namespace landstat
