// The shipped report templates and catalogues against the tables a generated
// county's runs build: every catalogue row has its sheet in all four
// workbooks, with the columns of the table it reads as its field row. The
// comparison is the check of tools/report_templates/make_templates.py, which
// reads the workbooks with openpyxl.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "landuse/generated_county_run.h"
#include "lots/town_lot_run.h"
#include "platform/db/sqlite_backend.h"
#include "platform/gis/project.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

// Runs a command line; its exit status and what it printed.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot start: " + command};
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

TEST(ReportTemplatesTest, EveryCatalogueRowHasItsSheetWithTheColumnsOfItsTable) {
  testing::ScopedProgramDir home;
  // Three units and both scopes, as the demo asks for.
  testing::WriteStatConfig(std::string(testing::kThreeUnits) + "[TYPE]\nType=2\n");
  const fs::path source(LANDSTAT_SOURCE_DIR);
  // The installation's scripts, so the ownership tables are built too.
  fs::copy(source / "src/resources/config/Access", fs::path(host::ConfigDir()) / "Access",
           fs::copy_options::recursive);
  testing::GeneratedCountyRun county(home, 25, 400);
  // The versions between them build every table a report reads: the rural
  // run with its Sichuan and duda tables, the Guangdong rural run, the town
  // run with the general land-use tables, and the town-lot run.
  const std::vector<std::string> versions = {"四川农村duda", "城镇", "广东农村"};
  std::vector<std::string> databases;
  for (const std::string& version : versions) {
    databases.push_back(home.File(version + ".sqlite"));
    db::CreateSqliteFile(databases.back());
    const RunReport report =
        county.RunProject(version, testing::JetConnectionString(databases.back()), 0);
    ASSERT_TRUE(report.Completed()) << version << "\n" << testing::ReadFileBytes(county.log);
  }
  const auto project = gis::CGisXmlPrj::Open(county.files.project);
  TownLotRequest town;
  town.project = project.get();
  town.codes = county.codes.get();
  town.connection = testing::JetConnectionString(databases.front());
  town.year = "2009";
  town.county = county.options.county_code;
  town.log_path = county.log;
  ASSERT_TRUE(RunTownLots(town).Completed());

  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  std::string command = python + " " +
                        Quoted((source / "tools/report_templates/make_templates.py").string()) +
                        " --check " + Quoted((source / "src/resources/templates").string());
  for (const std::string& database : databases) command += " " + Quoted(database);
  const auto [status, output] = RunCommand(command);
  EXPECT_EQ(status, 0) << output << "(python3-openpyxl is needed: scripts/setup installs it)";
}

}  // namespace
}  // namespace landstat
