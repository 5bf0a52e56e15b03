#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/sqlite_backend.h"
#include "support/test_databases.h"

namespace landstat::db {
namespace {

using testing::BothEngines;

class WritesApartTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    for (const char* table : {"t0", "t1", "t2"}) {
      conn().Execute(std::string("CREATE TABLE ") + table + " (k varchar(10), v double precision)");
    }
  }

  // Writes `rows` rows to `table` on `writer`, and fails after them when
  // `fail`.
  static TableFill Fill(const std::string& table, int rows, bool fail = false) {
    return {table, [table, rows, fail](Connection& writer) {
              RowWriter writes(writer, table, {"k", "v"});
              for (int i = 0; i < rows; ++i)
                writes.Add({Value(table + std::to_string(i)), i * 0.5});
              if (fail) throw DbError("table " + table + " refused a row");
              writes.Close();
            }};
  }

  std::vector<std::string> Keys(const std::string& table) {
    return testing::Texts(conn(), "SELECT k FROM " + table + " ORDER BY v");
  }

  // No scratch file is left beside an embedded database.
  void ExpectNoScratchFiles() {
    if (IsServer()) return;
    const std::filesystem::path file(conn().FilePath());
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
      EXPECT_NE(entry.path().filename().string().rfind(ScratchPrefix(file.filename()), 0), 0u)
          << entry.path();
    }
  }
};

TEST_P(WritesApartTest, TablesWrittenApartArriveWholeAndInOrder) {
  WriteApart(conn(), {Fill("t1", 3), Fill("t2", 2000)},
             [&] { WriteApart(conn(), {Fill("t0", 1)}); });
  EXPECT_EQ(Keys("t0"), (std::vector<std::string>{"t00"}));
  EXPECT_EQ(Keys("t1"), (std::vector<std::string>{"t10", "t11", "t12"}));
  const std::vector<std::string> t2 = Keys("t2");
  ASSERT_EQ(t2.size(), 2000u);
  EXPECT_EQ(t2.back(), "t21999");
  ExpectNoScratchFiles();
}

// A fill or the work alongside that fails is the caller's error; apart,
// no table then receives rows.
TEST_P(WritesApartTest, AFailureReachesTheCallerAndMovesNothing) {
  const std::vector<std::pair<std::vector<TableFill>, bool>> cases = {
      {{Fill("t1", 5), Fill("t2", 5, true)}, false},
      {{Fill("t1", 5), Fill("t2", 5)}, true},
  };
  for (const auto& [fills, alongside_fails] : cases) {
    SCOPED_TRACE(alongside_fails ? "alongside" : "a fill");
    conn().Execute("DELETE FROM t1");
    conn().Execute("DELETE FROM t2");
    EXPECT_THROW(WriteApart(conn(), fills,
                            [&] {
                              if (alongside_fails) throw DbError("the reader failed");
                            }),
                 DbError);
    if (CanWriteApart(conn(), fills.size())) {
      EXPECT_TRUE(Keys("t1").empty());
      EXPECT_TRUE(Keys("t2").empty());
    }
    ExpectNoScratchFiles();
  }
}

// Under a limit of processes that leaves no thread to start, reads and
// fills run in turn and arrive whole. Run in a child process, as a user of
// its own whose limit is one process (itself).
TEST_P(WritesApartTest, WithoutThreadsTheWorkRunsInTurn) {
  if (IsServer()) GTEST_SKIP() << "a server's reads and fills run in turn anyway";
  const std::filesystem::path folder = std::filesystem::path(conn().FilePath()).parent_path();
  std::filesystem::permissions(folder, std::filesystem::perms::all);
  std::filesystem::permissions(conn().FilePath(), std::filesystem::perms::all);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit one{1, 1};
    if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::setrlimit(RLIMIT_NPROC, &one) != 0) {
      ::_exit(77);
    }
    std::thread probe;
    try {
      probe = std::thread([] {});
      probe.join();
      ::_exit(77);  // threads still start
    } catch (const std::system_error&) {
    }
    Connection connection(conn().FilePath());
    std::vector<double> read(3, 0);
    std::vector<std::function<void(Connection&)>> reads;
    for (std::size_t i = 0; i < read.size(); ++i) {
      reads.push_back(
          [&, i](Connection& reader) { read[i] = reader.Scalar("SELECT 1").AsDouble(); });
    }
    ReadApart(connection, reads);
    bool alongside = false;
    WriteApart(connection, {Fill("t1", 3), Fill("t2", 20)}, [&] { alongside = true; });
    const bool whole = read == std::vector<double>(3, 1) && alongside &&
                       connection.Scalar("SELECT count(*) FROM t2").AsInteger() == 20;
    ::_exit(whole ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no user to limit here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Keys("t1"), (std::vector<std::string>{"t10", "t11", "t12"}));
  ExpectNoScratchFiles();
}

LANDSTAT_BOTH_ENGINES(WritesApartTest);

}  // namespace
}  // namespace landstat::db
