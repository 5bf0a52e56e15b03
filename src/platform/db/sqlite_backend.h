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

// The files the program makes beside an embedded database FILE share one
// prefix, "FILE.working", so that what a job that was killed left behind
// is found and swept: the working copy of a job ("FILE.working") with its
// journal, and the scratch files of the file or of its working copy
// ("FILE.working-TAG"; a working copy's own are named as the file's).
std::string ScratchPrefix(const std::string& file);
std::string ScratchPath(const std::string& file, const std::string& tag);
// Removes FILE.working and every FILE.working-* beside the database `file`
// (never the file itself, whatever its name).
void RemoveScratchFiles(const std::string& file);

}  // namespace landstat::db
