#pragma once

struct sqlite3;

namespace landstat::db {

// Registers the Access functions the engine's statements use (left, right,
// mid, len, instr with a start, val, format, iif, round) on an SQLite
// connection, so that Access texts run there as written; and the order key
// of SqlDialect::NaturalOrder.
void RegisterAccessFunctions(sqlite3* db);

}  // namespace landstat::db
