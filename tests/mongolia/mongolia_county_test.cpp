// The Inner Mongolia run of a generated county on both engines: every
// balanced copy adds up to the county total of the first copy converted
// once, and each row's classes to its total, parents to their leaves.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/shared_code_tables.h"
#include "mongolia/mongolia_run.h"
#include "platform/db/backend.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

class MongoliaCountyTest : public testing::BothEngines {};

TEST_P(MongoliaCountyTest, BalancedCopiesAddUp) {
  testing::ScopedProgramDir home;
  testing::WriteFileBytes(host::StatConfigPath(),
                          "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n");
  county::CountyOptions options;
  options.parcels = 300;
  options.seed = 3;
  options.mongolia = true;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), home.File("county"));
  conn().Execute(kQsdmbTable.create);
  testing::RecordCompletedRun(database().ConnectionString(), "2024", options.county_code);
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(files.project);
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(files.mongolia_codes));
  MongoliaRequest request;
  request.project = project.get();
  request.second_codes = codes.get();
  request.connection = database().ConnectionString();
  request.year = "2024";
  request.county = options.county_code;
  const RunReport report = RunMongolia(request);
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted)
      << (report.messages.empty() ? "" : report.messages.front());

  db::Connection after(database().ConnectionString());
  const double metres = after.Scalar("select sum(土地总面积) from PMstatdataMG").AsDouble();
  const struct {
    const char* table;
    double factor;
    int decimals;
  } copies[] = {{"GQstatdataMG", 1e-4, 2}, {"MUstatdataMG", 0.0015, 1}};
  for (const auto& copy : copies) {
    const double tolerance = std::pow(0.1, copy.decimals + 1);
    const double total =
        after.Scalar(std::string("select sum(土地总面积) from ") + copy.table).AsDouble();
    EXPECT_NEAR(total,
                std::round(metres * copy.factor * std::pow(10, copy.decimals)) /
                    std::pow(10, copy.decimals),
                tolerance)
        << copy.table;
    std::unique_ptr<db::RowSource> rows = after.Scan(std::string("select * from ") + copy.table);
    std::vector<std::string> names;
    // Names as the server gives them may be in lower case.
    for (const db::ColumnInfo& column : rows->Columns()) {
      names.push_back(text::ToLowerAscii(column.name));
    }
    const auto leaf = [&](std::size_t i) {
      for (const std::string& other : names) {
        if (other.size() > names[i].size() && other.compare(0, names[i].size(), names[i]) == 0) {
          return false;
        }
      }
      return true;
    };
    long checked = 0;
    while (rows->Next()) {
      double leaves = 0, total_of_row = 0;
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "土地总面积") total_of_row = rows->Number(static_cast<int>(i));
        if (names[i].compare(0, 2, "bm") != 0) continue;
        if (leaf(i)) leaves += rows->Number(static_cast<int>(i));
        double children = 0;
        for (std::size_t j = 0; j < names.size(); ++j) {
          if (j != i && leaf(j) && names[j].compare(0, names[i].size(), names[i]) == 0) {
            children += rows->Number(static_cast<int>(j));
          }
        }
        if (!leaf(i)) {
          EXPECT_NEAR(rows->Number(static_cast<int>(i)), children, tolerance);
        }
      }
      EXPECT_NEAR(leaves, total_of_row, tolerance) << copy.table;
      ++checked;
    }
    EXPECT_GT(checked, 10) << copy.table;
  }
  EXPECT_GT(after.Scalar("select count(*) from ZGQTDLY_EJFLMG").AsDouble(), 0);
}

LANDSTAT_BOTH_ENGINES(MongoliaCountyTest);

}  // namespace
}  // namespace landstat
