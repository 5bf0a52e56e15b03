#pragma once

#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat {

// Copies a layer's attribute table into a new table of the database (a
// table of that name is replaced): its fields as columns, its records as
// rows. 1 when done, 0 when the layer is not valid or the copy failed.
short AiToDB(short layer, db::Connection& connection, const std::string& table);

// A new temporary attribute table with the given fields: the first twenty
// as text of width 80, the twenty-first a whole number of width 19, the
// rest numbers of width 15 with `decimals`. Its handle, or 0 when there are
// fewer than 21 names or the table cannot be made.
short BuildStatAttStru(short table, const std::vector<std::string>* fields, short decimals);

// The "耕地坡度级" of a record; empty when the layer is absent or the record
// cannot be read.
std::string GetEntitySlopeClass(short layer, long record);

}  // namespace landstat
