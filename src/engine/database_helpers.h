#pragma once

#include <string>

#include "platform/db/connection.h"

namespace landstat {

// Exported database helpers of the engine.

// 1 when a table or view of that name exists on the connection, else 0.
short IsTblExist(db::Connection& connection, const std::string& table);

// "drop table %s": 1 when it ran, 0 when it failed.
short DeleteTbl(db::Connection& connection, const std::string& table);

// Creates a new, empty statistics database file. 1 when created; 0 when the
// file exists already, its folder is missing, or it cannot be written.
int CreateAcessDB(const std::string& path);

// Compacts a statistics database file: copies it, compacted, into a new
// file of its own beside it ("stats.sqlite.working-compact-XXXXXX", made
// exclusively, so no file of anyone else's is touched) and then puts the
// copy in place of the original in one rename. 1 when done; 0 when a step
// failed, in which case the original file is left as it was and the copy
// is removed.
// Callers close their own connection to the file first.
short CompactMdb(const std::string& path);

// The old file engine limited the rows one statement could lock; the
// embedded engine has no such limit. Both ask host::CurrentRowLockLimit(),
// whose default has ReadMaxRow report a limit no table reaches (and 1) and
// ModifyMaxRow accept any value and change nothing, so callers never ask
// for a restart. ReadMaxRow gives 0 (and a limit of 0) when the limit
// cannot be read.
short ReadMaxRow(long& max_rows);
short ModifyMaxRow(long max_rows);

}  // namespace landstat
