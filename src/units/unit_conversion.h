#pragma once

#include <string>

#include "platform/db/connection.h"

namespace landstat {

// Converts every area column (double) of a stored table from the unit
// `source` to `target` (0 hectare, 1 mu, 2 square metre), rounded to
// `decimals`; the ratio columns of the town intensity table stay. 1 when
// done or when the units are the same; 0 on a database error or for a unit
// pair that is no conversion.
short ConvertAreaUnit(db::Connection& connection, const std::string& table, int target, int source,
                      int unused, int decimals);

}  // namespace landstat
