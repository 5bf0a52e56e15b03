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
// builds them side by side, once its base tables are committed there
// (RunSchema::CommitSoFar):
// - the families that read the survey's layers on the run's own thread and
//   connection, in stage order, in the run's transaction;
// - the others in chains (a family with the families it reads, in stage
//   order), each chain taken by the next free of a few connections of their
//   own that search the run's schema, each family committed as it ends.
// What each family logs reaches the run's log in stage order, whichever
// connection built it, and what a helper would have shown is shown after
// the families ended. `observer` is told of each family on the run's
// thread: of those of the run's connection as they end, of the others when
// all ended. A lost connection or an error that escaped a family stops the
// other connections after the family each is building, and then ends the
// run as it would on one connection. When no other connection can be
// opened, the families are built one after another on the run's own.
void BuildFamilies(CStatContext& run, const RunSchema* schema,
                   const std::vector<const TableFamily*>& families, const StageObserver& observer);

}  // namespace landstat
