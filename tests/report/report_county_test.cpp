#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/db/backend.h"
#include "platform/host/notifier.h"
#include "report/print_stat_dlg.h"
#include "report_readback.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;

// The rows of a table whose code starts with the region and is one of
// `lengths` long, in code order, as the readback prints them.
std::string ExpectedRows(db::Connection& conn, const std::string& table, const std::string& region,
                         const std::string& lengths) {
  std::string expected;
  auto rows = conn.Scan("select * from " + table + " where XZQDM like ? and length(XZQDM) in (" +
                            lengths + ") order by XZQDM",
                        {region + "%"});
  std::vector<db::Value> row;
  for (long bound = 0; rows->Fetch(row) && bound < 1000000; ++bound) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "|";
      if (row[i].IsInteger() || row[i].IsDouble()) {
        line += fmt::format("{:.4f}", row[i].AsDouble());
      } else if (!row[i].IsNull()) {
        line += row[i].AsText();
      }
    }
    while (!line.empty() && line.back() == '|') line.pop_back();
    expected += line + "\n";
  }
  return expected;
}

class ReportCountyTest : public testing::BothEngines {};

// Every summary report of the shipped catalogue whose table a rural run
// builds, written for the county at the village level in mu, unpaged: each
// workbook holds exactly the table's rows of the county's county, township
// and village codes.
TEST_P(ReportCountyTest, EverySummaryReportHoldsItsTablesRows) {
  const fs::path templates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";
  const std::string catalogue = (templates / "二次详查表格目录.xml").string();
  const std::string tmpl = (templates / "二次详查表格.xlsx").string();
  if (!fs::exists(catalogue) || !fs::exists(tmpl)) GTEST_SKIP() << "no report templates yet";

  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun generated(home, 17, 400);
  ASSERT_EQ(generated.Run("通用农村", database().ConnectionString(), IsServer()), 1);
  const std::string county = generated.options.county_code;
  const TableNames names(Mode(), "2009", county);
  // The run replaced the SQLite file: read the new one.
  db::Connection result(database().ConnectionString());

  CPrintStatDlg dialog;
  ReportSettings& settings = dialog.Settings();
  settings.catalogue_path = catalogue;
  settings.paged = false;
  settings.view = false;
  settings.output_level = "村(街坊)级";
  std::string error;
  std::vector<std::string> reports;
  for (const std::string& name : ReportCatalogNames(catalogue, error)) {
    std::string stat_tbl, short_name;
    if (dialog.RouteOf(name).writer != std::string("PrintSummaryTable") ||
        LookupReportCatalog(catalogue, stat_tbl, short_name, name) == 0) {
      continue;
    }
    if (result.TableExists(names.Summary('Z', kMu, stat_tbl))) reports.push_back(name);
  }
  ASSERT_GE(reports.size(), 10u) << error;

  testing::TempDir out;
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  ASSERT_EQ(dialog.DispatchReportTables(out.path().string(), database().ConnectionString(),
                                        &reports, tmpl, county, kMu, Mode(), "2009", county),
            1);
  EXPECT_EQ(dialog.Failures(), 0) << (notifier.messages.empty() ? "" : notifier.messages[0]);
  const std::string variant = TemplateVariant(tmpl, VariantSet::kFour, false, kMu);
  for (const ReportOutcome& outcome : dialog.Outcomes()) {
    if (!outcome.Written()) continue;
    std::string stat_tbl, short_name;
    LookupReportCatalog(catalogue, stat_tbl, short_name, outcome.name);
    const std::string expected =
        ExpectedRows(result, names.Summary('Z', kMu, stat_tbl), county, "6, 9, 12");
    EXPECT_FALSE(expected.empty()) << outcome.name;
    EXPECT_EQ(DataRows(variant, outcome.path), expected) << outcome.name;
  }
}

// Two counties of one city on one server: the second county's run leaves
// the first county's tables, shared code tables and reports as they were.
TEST_P(ReportCountyTest, SecondCountyOnTheServerLeavesTheFirstAsItWas) {
  if (!IsServer()) GTEST_SKIP() << "an SQLite file holds one county";
  const fs::path templates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";
  const std::string tmpl = (templates / "二次详查表格.xlsx").string();
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun first(home, 17, 200);
  const testing::GeneratedCountyRun second(home, 18, 200, "330103");
  const std::string county = first.options.county_code;
  ASSERT_EQ(first.Run("通用农村", database().ConnectionString(), true), 1);

  // Every row of the first county's tables and the readback of its reports.
  const auto snapshot = [&] {
    db::Connection result(database().ConnectionString());
    std::vector<std::string> held;
    for (const std::string& table : result.ListTables()) {
      if (table.find(county) == std::string::npos) continue;
      std::vector<std::string> rows = testing::Rows(result, "select * from " + table);
      std::sort(rows.begin(), rows.end());
      held.push_back(table);
      held.insert(held.end(), rows.begin(), rows.end());
    }
    CPrintStatDlg dialog;
    dialog.Settings().catalogue_path = (templates / "二次详查表格目录.xml").string();
    dialog.Settings().view = false;
    const std::vector<std::string> reports = {"权属单位代码表",
                                              "农村土地利用现状一级分类面积汇总表"};
    testing::TempDir out;
    EXPECT_EQ(dialog.DispatchReportTables(out.path().string(), database().ConnectionString(),
                                          &reports, tmpl, county, kMu, 1, "2009", county),
              1);
    for (const ReportOutcome& outcome : dialog.Outcomes()) {
      EXPECT_TRUE(outcome.Written()) << outcome.message;
      if (outcome.Written()) {
        held.push_back(DataRows(TemplateVariant(tmpl, VariantSet::kFour, true, kMu), outcome.path));
      }
    }
    return held;
  };
  const std::vector<std::string> before = snapshot();
  ASSERT_EQ(second.Run("通用农村", database().ConnectionString(), true), 1);
  EXPECT_EQ(snapshot(), before);
  db::Connection result(database().ConnectionString());
  EXPECT_EQ(testing::Texts(result,
                           "select count(*) from QSDMB where QSDWDM like '330102%' or QSDWDM like "
                           "'330103%'"),
            testing::Texts(result, "select count(*) - 2 from QSDMB"));
}

LANDSTAT_BOTH_ENGINES(ReportCountyTest);

}  // namespace
}  // namespace landstat::report
