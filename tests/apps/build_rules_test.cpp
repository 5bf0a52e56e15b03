// The build's own rules as a newcomer meets them: an installation whose
// programs run without being told where their configuration is, and a
// configure run that leaves what it generated before untouched.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::Outcome;
using testing::RunProgram;
using testing::TempDir;

Outcome Install(const std::string& prefix) {
  return RunProgram(LANDSTAT_CMAKE, {"--install", LANDSTAT_BINARY_DIR, "--prefix", prefix});
}

// Installed anywhere, landstat runs on the configuration root installed
// beside it (its three units, its statement scripts) without --home or
// LANDSTAT_HOME; installing again keeps the settings of its StatConfig.ini.
TEST(BuildRules, InstalledProgramsFindTheirConfigurationRoot) {
  TempDir dir;
  const std::string prefix = dir.File("prefix");
  const Outcome installed = Install(prefix);
  ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
  const fs::path config = fs::path(prefix) / "share/landstat/qentar/_secondfun_";
  for (const char* file : {"StatConfig.ini", "Access/STAT_NCQSYJFL.sql", "SQL/STAT_NCQSYJFL.sql",
                           "二次详查表格.xlsx", "二次详查表格目录.xml"}) {
    EXPECT_TRUE(fs::is_regular_file(config / file)) << file;
  }

  county::CountyOptions options;
  options.parcels = 60;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  const std::string database = dir.File("stats.sqlite");
  const Outcome run = RunProgram(
      "/usr/bin/env", {"-u", "LANDSTAT_HOME", prefix + "/bin/landstat", "run", "--project",
                       files.project, "--db", database, "--year", "2009", "--quiet"});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  {
    db::Connection result(testing::JetConnectionString(database));
    const TableNames names(0, "2009", options.county_code);
    for (const short unit : {kSquareMetre, kHectare, kMu}) {
      EXPECT_TRUE(result.TableExists(names.Summary('Z', unit, "NCTDLY_QSSJFL"))) << unit;
    }
  }

  testing::WriteFileBytes(config / "StatConfig.ini", "[AreaUnit]\nUnit1=平方米\n");
  const Outcome again = Install(prefix);
  EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
  EXPECT_EQ(testing::ReadFileBytes(config / "StatConfig.ini"), "[AreaUnit]\nUnit1=平方米\n");
}

// A second configure of a build folder rewrites none of the sources it
// generated (a rewritten source is compiled again, and everything after it
// linked again, though nothing changed).
TEST(BuildRules, ConfiguringAgainLeavesGeneratedSourcesAlone) {
  TempDir dir;
  const std::vector<std::string> configure = {"-S",
                                              LANDSTAT_SOURCE_DIR,
                                              "-B",
                                              dir.File("build"),
                                              "-DLANDSTAT_WITH_GUI=OFF",
                                              "-DBUILD_TESTING=OFF"};
  const auto generated = [&] {
    std::map<std::string, fs::file_time_type> times;
    for (const auto& entry : fs::directory_iterator(dir.path() / "build/src/resources")) {
      times[entry.path().filename().string()] = entry.last_write_time();
    }
    return times;
  };
  const Outcome first = RunProgram(LANDSTAT_CMAKE, configure);
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  const auto before = generated();
  EXPECT_GE(before.size(), 2u);
  const Outcome second = RunProgram(LANDSTAT_CMAKE, configure);
  ASSERT_EQ(second.exit_code, 0) << second.out << second.err;
  EXPECT_EQ(generated(), before);
}

}  // namespace
}  // namespace landstat
