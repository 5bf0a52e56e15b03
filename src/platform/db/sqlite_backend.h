#pragma once

#include <memory>
#include <string>

#include "platform/db/backend.h"

namespace landstat::db {

// Sets SQLite up for connections used by several threads at once (each its
// own), before anything starts the library: they must not wait on one
// another for every allocation, so SQLite keeps no memory statistics, which
// it would guard with one lock for all of them. Whatever opens SQLite files
// (GDAL's GeoPackages too) calls it first; a host that started the library
// before keeps its own setting.
void PrepareSqlite();

// Opens the SQLite file at `path`, which must exist. Raises DbError naming
// the file when it is missing, not a database, or cannot be opened.
std::unique_ptr<Backend> OpenSqlite(const std::string& path);

// Creates a new, empty SQLite file; fails when the file exists already or
// its folder is missing.
void CreateSqliteFile(const std::string& path);

// Copies the SQLite database of `source` into the file `target` (new, or
// empty) through SQLite, so that the copy holds every transaction committed
// to it as `source` sees it: one state of the file, whose transactions in
// WAL mode may still lie in its write-ahead log. The copy is in the rollback
// journal mode. Raises DbError (kFull when the disk is full); what a copy
// that failed left at `target` is the caller's to remove.
void CopyDatabase(Connection& source, const std::string& target);

// Writes what the write-ahead log of `database` (an SQLite file in WAL
// mode) holds back into the file and empties the log, so that a file put in
// the place of this one by a rename is not read with this one's log (the
// log goes by the file's name). False when another connection's reading or
// writing kept it from that. True at once for a file in the rollback
// journal mode.
bool WriteBackLog(Connection& database);
// The same for the file `file`, when a log lies beside it; false, with
// `error`, when it could not be done.
bool WriteBackLog(const std::string& file, std::string& error);

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
