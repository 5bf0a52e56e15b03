#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
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
      EXPECT_NE(entry.path().filename().string().rfind(file.filename().string() + "-", 0), 0u)
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

LANDSTAT_BOTH_ENGINES(WritesApartTest);

}  // namespace
}  // namespace landstat::db
