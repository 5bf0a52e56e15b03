#pragma once

// The extension table statdataex of a conversion taken from the run's copy
// of the base table in the target unit: the run made that copy from the same
// base table by the same conversion, rounding and balancing, so where it was
// made with the conversion's decimals it holds, row for row, what rebuilding
// the extension table would make, and copying it whole saves converting and
// balancing the base table again.

#include <string>

namespace landstat {
class CStatContext;
}  // namespace landstat

namespace landstat::db {
class Connection;
}  // namespace landstat::db

namespace landstat::units {

// The name of the run's copy of the base table in `target` when the
// extension table may be copied from it, else empty: for a target other
// than the base table's unit, after a run of the year and county that
// completed with no failure, a copy of the base table's columns and rows
// whose figures are those of the conversion's grid (context.m_nDecSrc).
// The decimals are checked on the first rows: a figure
// whose last decimal tells the grids apart must be the base figure
// converted and rounded to these decimals, as good as all of them (the
// balancing moves a few). Raises DbError when a table cannot be read.
std::string RunCopyForExtension(CStatContext& context, short target);
// The same told on `connection`, another connection to the conversion's
// database, which sees what the run committed: a server's check runs there
// beside the conversion's own work. Reads of the context only.
std::string RunCopyForExtension(CStatContext& context, db::Connection& connection, short target);

// Fills the empty extension table `extension` with the rows of `copy` (as
// RunCopyForExtension named it), in the copy's order: on the embedded
// engine the base table's; on a server the order the server stored the
// copy's rows in, of the same kind as a fill and balancing of the base
// table's rows leaves (parallel workers fill a table, an update moves a
// row): no figure depends on it. Raises DbError when the rows cannot be
// copied.
void CopyExtensionRows(CStatContext& context, const std::string& extension,
                       const std::string& copy);

}  // namespace landstat::units
