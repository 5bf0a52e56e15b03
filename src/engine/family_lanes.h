#pragma once

#include <vector>

#include "engine/statistics_run.h"

namespace landstat {

class CStatContext;
class RunSchema;
struct TableFamily;

// Builds the summary families of a run. Without a schema (an embedded file,
// or a server run on the earlier tables), one after another on the run's
// connection, each as its create and, when that succeeded, its fill, with
// `observer` told after each. A server run that builds in its own schema
// fills the unit copies of its base table here too, once the base table is
// committed there (RunSchema::CommitSoFar), and builds side by side, each
// piece once the pieces it reads have ended and been committed (a family
// reads the copies unless TableFamily::reads_unit_copies says otherwise,
// and the families TableFamily::after names):
// - the families that read the survey's layers on the run's own thread and
//   connection, in the run's transaction, in stage order (one waiting for
//   the copies is overtaken by those that do not), each committed when a
//   piece on another connection reads it; then it helps with the others;
// - the unit copies (each made anew, filled and balanced) and the other
//   families on a few connections of their own that search the run's
//   schema, each taking the first piece that is ready and committing it as
//   it ends.
// What each piece logs reaches the run's log in the run's order, whichever
// connection built it, and what a helper would have shown is shown after
// all ended. `observer` is told on the run's thread: of the families of the
// run's connection as they end, of the unit copies and the others when all
// ended. A lost connection or an error that escaped stops the other
// connections after the piece each is building, and then ends the run as it
// would on one connection. When no other connection can be opened, all is
// built one after another on the run's own. False when a unit copy failed
// (the failure is logged): the run cannot go on.
bool BuildFamilies(CStatContext& run, RunSchema* schema,
                   const std::vector<const TableFamily*>& families, const StageObserver& observer);

// The most connections a run holds on a server at once: its own, the one
// that holds its job lock, and those that build beside its own (the base
// table's second connection, then the families' helpers).
std::size_t ServerConnectionsOfRun();

}  // namespace landstat
