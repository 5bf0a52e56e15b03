#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/db/backend.h"

namespace landstat::db {

// Connects to a PostgreSQL server from a libpq conninfo, service or URI.
// At connect it makes sure the Access functions the engine's statements use
// (iif, val, format, round with decimals, len, mid, instr with a start) exist
// in the schema "landstat_compat", and puts that schema on the search path.
std::unique_ptr<Backend> ConnectPostgres(const std::string& conninfo);

// The server a conninfo, service or URI names, without its password: host,
// port, database, user and service, as libpq reads them.
std::string DescribePostgresServer(const std::string& conninfo);

// Why libpq does not read `text` as a conninfo or a postgresql:// URI (only
// known keywords, each with '='), in its words; none when it does.
std::optional<std::string> PostgresConninfoProblem(const std::string& text);

}  // namespace landstat::db
