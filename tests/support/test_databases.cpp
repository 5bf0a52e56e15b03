#include "support/test_databases.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>

#include "engine/rounding.h"
#include "engine/run_record.h"
#include "platform/db/recordset.h"
#include "platform/db/sqlite_backend.h"

namespace landstat::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  path_ = fs::temp_directory_path() /
          ("landstat-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

ReadOnlyFile::ReadOnlyFile(std::string path) : path_(std::move(path)) {
  ::chmod(path_.c_str(), 0444);
  SetImmutable(true);
}

ReadOnlyFile::~ReadOnlyFile() {
  SetImmutable(false);
  ::chmod(path_.c_str(), 0644);
}

bool ReadOnlyFile::Writable() const {
  const int fd = ::open(path_.c_str(), O_RDWR);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

void ReadOnlyFile::SetImmutable(bool on) {
  const int fd = ::open(path_.c_str(), O_RDONLY);
  if (fd < 0) return;
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  ::close(fd);
}

std::string JetConnectionString(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
}

std::vector<std::string> Texts(db::Connection& conn, const std::string& sql) {
  std::vector<std::string> values;
  for (db::Recordset rs(conn, sql); !rs.IsEOF(); rs.MoveNext()) {
    values.push_back(rs.Field(0).AsText());
  }
  return values;
}

long CellsOffTheGrid(db::Connection& conn, const std::string& sql, int decimals) {
  long off = 0;
  for (db::Recordset rows(conn, sql); !rows.IsEOF(); rows.MoveNext()) {
    for (int column = 0; column < rows.FieldCount(); ++column) {
      const db::Value value = rows.Field(column);
      if (value.IsNull() || value.IsText()) continue;
      const double number =
          value.IsInteger() ? static_cast<double>(value.AsInteger()) : value.AsDouble();
      off += RoundToDecimals(number, decimals) != number;
    }
  }
  return off;
}

void RecordCompletedRun(const std::string& connection, const std::string& year,
                        const std::string& county, const std::string& kind) {
  db::Connection database(connection);
  FinishRunRecord(database, BeginRunRecord(database, year, county, kind), RunOutcome::kCompleted,
                  0);
}

std::vector<double> Numbers(db::Connection& conn, const std::string& sql) {
  std::vector<double> values;
  for (db::Recordset rs(conn, sql); !rs.IsEOF(); rs.MoveNext()) {
    values.push_back(rs.Field(0).AsDouble());
  }
  return values;
}

std::string PostgresConninfo() {
  const char* conninfo = std::getenv("LANDSTAT_TEST_PG");
  return conninfo ? conninfo : "";
}

TestDatabase::TestDatabase(db::DbKind kind) {
  if (kind == db::DbKind::kEmbedded) {
    const std::string file = dir_.File("stats.sqlite");
    db::CreateSqliteFile(file);
    connection_string_ = JetConnectionString(file);
  } else {
    static std::atomic<int> counter{0};
    schema_ = "t_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    db::Connection admin(PostgresConninfo());
    admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
    admin.Execute("CREATE SCHEMA " + schema_);
    connection_string_ = PostgresConninfo() + " options='-csearch_path=" + schema_ + "'";
  }
  connection_.Open(connection_string_);
}

TestDatabase::~TestDatabase() {
  connection_.Close();
  if (schema_.empty()) return;
  try {
    db::Connection admin(PostgresConninfo());
    admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  } catch (const std::exception&) {
    // The server is gone; nothing is left to clean.
  }
}

void BothEngines::SetUp() {
  if (GetParam() == db::DbKind::kServer && PostgresConninfo().empty()) {
    GTEST_SKIP() << "no PostgreSQL server: set LANDSTAT_TEST_PG to a libpq conninfo "
                    "(scripts/test starts one)";
  }
  database_ = std::make_unique<TestDatabase>(GetParam());
  SetUpDatabase();
}

std::string EngineName(const ::testing::TestParamInfo<db::DbKind>& info) {
  return info.param == db::DbKind::kServer ? "Postgres" : "Sqlite";
}

}  // namespace landstat::testing
