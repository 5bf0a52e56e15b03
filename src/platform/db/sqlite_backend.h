#pragma once

#include <memory>
#include <string>

#include "platform/db/backend.h"

namespace landstat::db {

// Opens the SQLite file at `path`, which must exist. Raises DbError naming
// the file when it is missing, not a database, or cannot be opened.
std::unique_ptr<Backend> OpenSqlite(const std::string& path);

// Creates a new, empty SQLite file; fails when the file exists already or
// its folder is missing.
void CreateSqliteFile(const std::string& path);

}  // namespace landstat::db
