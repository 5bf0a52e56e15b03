// The operator's commands run as processes: wrong options, and the report
// data of a database by hand.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/survey_fixture.h"
#include "platform/db/connection.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

testing::Outcome RunCli(const std::vector<std::string>& arguments) {
  return testing::RunProgram(LANDSTAT_CLI, arguments);
}

TEST(OperatorCommandsTest, WrongOptionsAreRefusedBeforeAnythingRuns) {
  const std::vector<std::vector<std::string>> cases = {
      {"batch", "--regions", "330102"},
      {"batch", "--regions", "", "--folder", "/tmp"},
      {"batch", "--regions", "330102", "--folder", "/no/such/folder"},
      {"merge", "--rural", "a.sqlite", "--town", "b.sqlite"},
      {"merge", "--rural", "a.sqlite", "--town", "b.sqlite", "--codes", "c", "--mode", "4"},
      {"merge", "--rural", "a.sqlite", "--town", "b.sqlite", "--codes", "c", "--mode", "new"},
      {"report-db", "--county", "330102", "--codes", "c"},
      {"range", "--project", "p.xml"},
      {"range", "--project", "p.xml", "--kind", "town", "--home", "/tmp"},
      {"report-db", "--county", "330102", "--codes", "c", "--out", "/tmp", "--unit", "里"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    const testing::Outcome refused = RunCli(arguments);
    EXPECT_EQ(refused.exit_code, 2) << arguments[0] << " " << refused.err;
  }
  // A merge log that is one of its inputs would empty it.
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("rural.sqlite"), "rural");
  testing::WriteFileBytes(dir.File("codes.tsv"), "地类代码\t01\t耕地\n");
  const testing::Outcome refused =
      RunCli({"merge", "--rural", dir.File("rural.sqlite"), "--town", dir.File("town.sqlite"),
              "--codes", dir.File("codes.tsv"), "--log", dir.File("rural.sqlite")});
  EXPECT_EQ(refused.exit_code, 2) << refused.err;
  EXPECT_EQ(testing::ReadFileBytes(dir.File("rural.sqlite")), "rural");
  // A merge that cannot read its inputs leaves no empty log of its own.
  const testing::Outcome failed =
      RunCli({"merge", "--rural", dir.File("rural.sqlite"), "--town", dir.File("town.sqlite"),
              "--codes", dir.File("codes.tsv"), "--mode", "rural", "--log", dir.File("new.log")});
  EXPECT_EQ(failed.exit_code, 1) << failed.err;
  EXPECT_FALSE(fs::exists(dir.File("new.log")));
}

TEST(OperatorCommandsTest, ReportDbWritesTheFileOrRefusesAnUnfinishedYear) {
  testing::TempDir dir;
  std::ofstream codes(dir.File("codes.tsv"));
  for (const gis::CODESTRUCT& entry : testing::SmallCodeEntries()) {
    codes << entry.type << "\t" << entry.code << "\t" << entry.name << "\n";
  }
  codes.close();
  const std::string database = dir.File("2009330102.sqlite");
  ASSERT_EQ(CreateAcessDB(database), 1);
  {
    db::Connection conn(database);
    conn.Execute("create table ZMUKTZ (XZQDM varchar(19), KTZMJ double)");
    conn.Execute("insert into ZMUKTZ values ('330102', 1.5)");
  }
  testing::RecordCompletedRun(database, "2009", "330102");
  fs::create_directories(dir.path() / "out");
  const std::vector<std::string> arguments = {"report-db",    "--db",    database,
                                              "--county",     "330102",  "--year",
                                              "2009",         "--codes", dir.File("codes.tsv"),
                                              "--unit",       "亩",      "--out",
                                              dir.File("out")};
  const testing::Outcome written = RunCli(arguments);
  EXPECT_EQ(written.exit_code, 0) << written.out << written.err;
  db::Connection result(dir.File("out/2009330102.sqlite"));
  EXPECT_EQ(testing::Numbers(result, "select KTZMJ from KTZ"), std::vector<double>{1.5});
  {
    db::Connection conn(database);
    BeginRunRecord(conn, "2009", "330102", "run");
  }
  const testing::Outcome refused = RunCli(arguments);
  EXPECT_EQ(refused.exit_code, 1) << refused.out;
  EXPECT_NE(refused.out.find("did not finish"), std::string::npos) << refused.out;
}

}  // namespace
}  // namespace landstat
