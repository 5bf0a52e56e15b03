#pragma once

#include <string>
#include <vector>

namespace landstat::db {

// The statements that create the schema "landstat_compat" and its functions,
// each ending with ';' at the end of its line (no other line does).
extern const char* const kPostgresCompatSql;
// Those statements one by one, as the server takes them: one per call.
std::vector<std::string> PostgresCompatStatements();
// The functions those statements make, as the catalogue names them
// ("landstat_compat.len(text)"), so that a connection can tell which are
// missing.
extern const std::vector<std::string> kPostgresCompatFunctions;
// Raised whenever the functions change, so older databases get them anew.
extern const int kPostgresCompatVersion;
// The oldest version whose functions give the same figures as this
// program's (a later one differs only in speed).
extern const int kPostgresCompatSameFiguresSince;

}  // namespace landstat::db
