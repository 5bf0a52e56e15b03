#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {

// How many reads or fills run at the same time: LANDSTAT_WORKERS when it
// holds a number from 1 to 64, else the number of processors. Work split
// for them is split the same whatever this number, so a run stores the same
// figures on any machine.
std::size_t Workers();
// Sets the number Workers() gives from now on; 0 goes back to the setting
// above. Returns the number set before (0: none was).
std::size_t SetWorkers(std::size_t workers);

// Runs reads of whole tables at the same time, up to Workers() at once, each
// on a connection of its own to the same embedded database, so that each
// uses a processor of its own. They run one after another on `connection`
// instead on a server (it reads nothing faster in parallel through one
// transaction), for a single read, for a single worker, and while
// `connection` holds writes not yet committed (other connections would not
// see them). A read must only read. The first error raised by any read goes
// to the caller once every read has ended. Where no thread can be started
// (the process's limit), the reads run in turn on the calling thread, each
// on a connection of its own.
void ReadApart(Connection& connection, const std::vector<std::function<void(Connection&)>>& reads);

// Whether reads given to ReadApart would run apart (when there are two or
// more).
bool CanReadApart(Connection& connection);
// A table filled apart: `fill` writes the rows of `table` on the
// connection it is given, and must use no other.
struct TableFill {
  std::string table;
  std::function<void(Connection& writer)> fill;
};

// Fills tables at the same time, each by a thread of its own on a
// connection of its own to a scratch file beside the embedded database (a
// database has one writer at a time): the table is created there as the
// database declares it, and once every fill has ended its rows are moved
// into the database's table whole, in their order, in one transaction.
// `alongside`, when given, runs meanwhile on the calling thread, which
// alone uses `connection`. Where the fills cannot run apart (see
// CanWriteApart) `alongside` runs first, then each fill on `connection`
// itself. The first error raised goes to the caller once every fill has
// ended: apart, no rows are moved then; in turn, what the fills before
// wrote stays as the caller's transaction holds it. The scratch files are
// removed in any case. Where threads cannot be started for every fill (the
// process's limit), no fill runs apart and the fills run in turn as above.
// `in_turn`, when given, runs instead of `alongside` and the fills whenever
// they run in turn (fills that feed on `alongside` cannot).
void WriteApart(Connection& connection, const std::vector<TableFill>& fills,
                const std::function<void()>& alongside = {},
                const std::function<void()>& in_turn = {});
// Whether WriteApart would run `fills` fills apart: two or more, where
// ReadApart would read apart with two workers or more.
bool CanWriteApart(Connection& connection, std::size_t fills);

// Whether other connections see `table`: a temporary table of this
// connection is its own.
bool SharedTable(Connection& connection, const std::string& table);

}  // namespace landstat::db
