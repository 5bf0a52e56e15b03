// landstat town-report run as a process on a generated county.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "support/run_program.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

TEST(LandstatTownReport, GeneratedCounty) {
  testing::TempDir dir;
  county::CountyOptions options;
  options.parcels = 80;
  options.seed = 3;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  const std::string templates = std::string(LANDSTAT_SOURCE_DIR) + "/src/resources/templates";
  const std::vector<std::string> common = {"town-report",
                                           "--lots",
                                           files.survey,
                                           "--out",
                                           dir.File("out"),
                                           "--template",
                                           templates + "/二次详查表格.xlsx",
                                           "--quiet"};

  std::vector<std::string> arguments = common;
  arguments.insert(arguments.end(), {"--codes", files.codes, "--unpaged"});
  const testing::Outcome written = testing::RunProgram(LANDSTAT_CLI, arguments);
  EXPECT_EQ(written.exit_code, 0) << written.out << written.err;
  EXPECT_TRUE(fs::exists(dir.File("out/statdata.sqlite")));
  EXPECT_TRUE(fs::exists(dir.File("out/城镇宗地二级分类面积表(不分页).xlsx"))) << written.out;

  const testing::Outcome no_codes = testing::RunProgram(LANDSTAT_CLI, common);
  EXPECT_EQ(no_codes.exit_code, 2);
  EXPECT_NE(no_codes.err.find("--codes is required"), std::string::npos) << no_codes.err;

  // A layer the source lacks fails the output, naming the source's layers.
  arguments = common;
  arguments[2] += ":没有的层";
  arguments.insert(arguments.end(), {"--codes", files.codes});
  const testing::Outcome no_layer = testing::RunProgram(LANDSTAT_CLI, arguments);
  EXPECT_EQ(no_layer.exit_code, 1);
  EXPECT_NE(no_layer.err.find("城镇权属层"), std::string::npos) << no_layer.err;
}

}  // namespace
}  // namespace landstat
