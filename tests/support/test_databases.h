#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::testing {

// A folder of its own for one test, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Makes a file unwritable while it lives. Root ignores the mode bits, so the
// file is marked immutable as well where the file system allows it.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(std::string path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  // False when the file could be made read-only; callers skip then.
  bool Writable() const;

 private:
  void SetImmutable(bool on);
  std::string path_;
};

// The Access-style connection string of an SQLite file.
std::string JetConnectionString(const std::string& path);

// A throwaway database for one test. On SQLite: a new file in a temporary
// folder. On PostgreSQL: a schema of its own on the server named by
// LANDSTAT_TEST_PG, dropped afterwards, so tests run side by side.
class TestDatabase {
 public:
  explicit TestDatabase(db::DbKind kind);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // A connection string that reaches this database (open more than one).
  const std::string& ConnectionString() const { return connection_string_; }
  db::Connection& connection() { return connection_; }

 private:
  TempDir dir_;
  std::string schema_;
  std::string connection_string_;
  db::Connection connection_;
};

// The first column of every row of a query, as text (null reads as "") and
// as numbers.
std::vector<std::string> Texts(db::Connection& conn, const std::string& sql);
std::vector<double> Numbers(db::Connection& conn, const std::string& sql);

// The numbers a query gives that are not on the grid of `decimals`.
long CellsOffTheGrid(db::Connection& conn, const std::string& sql, int decimals);

// Records a completed statistics run (or job of `kind`) of a year and
// county, for a test that makes a run's tables by hand before a job that
// reads them.
void RecordCompletedRun(const std::string& connection, const std::string& year,
                        const std::string& county, const std::string& kind = "run");

// The server named by LANDSTAT_TEST_PG, or empty when none is given.
std::string PostgresConninfo();

// Runs a test body on both engines. The PostgreSQL run is skipped, with a
// message, when no server is configured. SetUp is closed to derived
// fixtures: what they prepare goes into SetUpDatabase, which runs only when
// the database is there, so no fixture can reach a skipped one.
class BothEngines : public ::testing::TestWithParam<db::DbKind> {
 protected:
  void SetUp() final;
  void TearDown() final { database_.reset(); }
  // The fixture's own preparation, on the open database.
  virtual void SetUpDatabase() {}
  db::Connection& conn() { return database_->connection(); }
  TestDatabase& database() { return *database_; }
  bool IsServer() const { return GetParam() == db::DbKind::kServer; }
  // The naming mode of the database: 1 on the server, 0 embedded.
  short Mode() const { return IsServer() ? 1 : 0; }

 private:
  std::unique_ptr<TestDatabase> database_;
};

std::string EngineName(const ::testing::TestParamInfo<db::DbKind>& info);

#define LANDSTAT_BOTH_ENGINES(suite)                                                         \
  INSTANTIATE_TEST_SUITE_P(                                                                  \
      Engines, suite,                                                                        \
      ::testing::Values(::landstat::db::DbKind::kEmbedded, ::landstat::db::DbKind::kServer), \
      ::landstat::testing::EngineName)

}  // namespace landstat::testing
