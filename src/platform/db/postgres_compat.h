#pragma once

namespace landstat::db {

// The statements that create the schema "landstat_compat" and its functions.
extern const char* const kPostgresCompatSql;
// Raised whenever the functions change, so older databases get them anew.
extern const int kPostgresCompatVersion;

}  // namespace landstat::db
