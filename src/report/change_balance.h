#pragma once

// The change balance table of a survey year for an administrative prefix:
// the area of each land class at the start of the year (from last year's
// square-metre base data), what left and what entered it (from this year's
// change records), the area at the end of the year, split into state-owned
// and collective land, and the transfer matrix from each former class to
// each new class. It is an in-memory attribute table (kind 7) whose
// structure BuildBalanceStruct makes; all areas are square metres until
// BalanceTableInUnit (report/balance_units.h) converts them for a print.

#include <string>

#include "platform/db/connection.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"

namespace landstat::report {

// Builds the balance table of the region code `region` from the change
// table `change_table` on `current` and the base-year sums of `base_table`,
// read on `base_year` (on `current` when `single_connection` is non-zero).
// `current_table` (this year's square-metre base copy) must be named; it is
// not read; `county` is not read. Returns the table's handle, which the
// caller then owns and closes with gis::CloseLayer; 0 when an argument is
// missing, a connection is not open, the change query or the base-year sums
// fail, or anything read fails: then no table is left behind and nothing is
// raised. `notes`, when given, receives what the caller should tell.
struct BalanceNotes {
  // The changes left out because their class has no balance column or
  // class record: how many and the first; empty when none was.
  std::string notice;
  // Why the table could not be built, when it could not.
  std::string failure;
};
short GetBalanceAi(const gis::RuralCode* codes, db::Connection* current, db::Connection* base_year,
                   const std::string& base_table, const std::string& current_table,
                   const std::string& change_table, const std::string& county,
                   const std::string& region, int single_connection, BalanceNotes* notes = nullptr);

// The same table from the change table `prefix` + "ndchange" and the
// per-level statistics table prefix + "Stat_city" ... "Stat_province" of
// the administrative level of `code` (tables no run of this system writes);
// the town classes keep their rows. 0 for a missing argument, a prefix that
// is not letters, digits and '_', a code the code table does not know, or a
// failed change query; a failed level table leaves the table with what the
// changes entered. Never raises; a failure after the table was made frees it.
short GetBalanceDataRst(const gis::RuralCode* codes, db::Connection* connection, const char* code,
                        const char* prefix);

// Converts every double field of an attribute table from square metres to
// mu (unit 1, x 0.0015) or hectares (any other unit but 2, x 0.0001),
// rounded to 2 decimals; unit 2 leaves it. 1 when done, 0 when the table
// has no records to count.
short AreaTypeConv(short table, short unit);

}  // namespace landstat::report
