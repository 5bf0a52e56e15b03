#pragma once

#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/sql_dialect.h"

namespace landstat {

// The factor text that converts an area from unit `from` to unit `to`
// (0 hectare, 1 mu, 2 square metre): "/10000", "*3/2000", ...; empty for
// the same unit or an unknown one.
const char* FactorText(int from, int to);
// The same factor as a number; 1 for the same unit or an unknown one.
double UnitFactor(int from, int to);

// Converts every area column (double) of a stored table from the unit
// `source` to `target` (0 hectare, 1 mu, 2 square metre), rounded to
// `decimals`; the ratio columns of the town intensity table stay. 1 when
// done or when the units are the same; 0 on a database error or for a unit
// pair that is no conversion.
short ConvertAreaUnit(db::Connection& connection, const std::string& table, int target, int source,
                      int unused, int decimals);

// Fills `target`, a table of the same columns as `source`, with the rows of
// `source` converted from one unit to the other as ConvertAreaUnit would
// convert them (every area column times the factor, rounded to the
// decimals). 1 when done; 0 when the statement failed (the reason goes to
// the trace).
short CopyConvertedAreas(db::Connection& connection, const std::string& source,
                         const std::string& target, int target_unit, int source_unit, int decimals);

// Rounds every area column of a stored table to `decimals`, in its unit.
// 1 when done; 0 on a database error.
short RoundAreaColumns(db::Connection& connection, const std::string& table, int decimals);

// Applies a factor text ("/10000", "*3/2000") to the listed columns of a
// table and rounds them to `decimals`. Kind 0 or 1 is the Access form
// (val(format(...))) on the embedded database and round() on a server; kind
// 2 the Oracle form. 1 when done; 0 when the connection is closed, an
// argument is empty, the kind is unknown or the database refused it.
int ConvertFldValue(db::Connection& connection, int kind, const std::string& table,
                    const std::vector<std::string>& fields, const std::string& factor,
                    int decimals);

// Sets `total` of every row to the sum of `parts`. 1 when done; 0 when the
// connection is closed, an argument is empty or the database refused it.
int SetSumFldValue(db::Connection& connection, const std::string& table, const std::string& total,
                   const std::vector<std::string>& parts);
// The same with the sum rounded to the table's decimals in the dialect's
// form, so that parts on that grid give a total on it.
int SetSumFldValue(db::Connection& connection, const std::string& table, const std::string& total,
                   const std::vector<std::string>& parts, const db::SqlDialect& dialect,
                   int decimals);

}  // namespace landstat
