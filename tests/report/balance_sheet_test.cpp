// The change balance sheet as a report: its messages, the refusal of a base
// year left unfinished, and a workbook that holds the balance table's rows,
// by hand on both engines and from `landstat report` on a generated county
// over two years.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "platform/gis/rural_code.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "report/print_stat_dlg.h"
#include "report_readback.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const fs::path kTemplates = fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/templates";
constexpr const char* kReport = "土地利用现状变更平衡表";
constexpr const char* kCounty = "330102";

// This year's base copy and change table on the test's database, last
// year's base copy in its own file beside it (on a server, in the same
// schema), both years' runs recorded; the shipped templates.
class BalanceSheetTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    codes_.reset(gis::RuralCode::Load(
        (fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/codes/land_classes.tsv").string()));
    std::vector<gis::CODESTRUCT> classes;
    codes_->GetCode(nullptr, &classes, 0, "");
    for (const gis::CODESTRUCT& entry : classes) columns_ += ", BM" + entry.code + " float";
    if (IsServer()) {
      base_db_ = database().ConnectionString();
    } else {
      base_db_ = (fs::path(conn().FilePath()).parent_path() / "2023330102.sqlite").string();
      CreateAcessDB(base_db_);
    }
    MakeBase(names_.UnitCopy(kSquareMetre, "statdata"), conn());
    conn().Execute("create table " + names_.Plain("ndChange") +
                   " (变更前座落代码 varchar(19), 变更后座落代码 varchar(19), 变更前权属性质 "
                   "varchar(4), 变更后权属性质 varchar(4), 变更前地类号 varchar(10), 变更后地类号 "
                   "varchar(10), 变更面积 float)");
    conn().Execute("insert into " + names_.Plain("ndChange") +
                   " values ('330102001001', '330102001001', '30', '30', '011', '203', 15000)");
    testing::RecordCompletedRun(database().ConnectionString(), "2024", kCounty);
    db::Connection base(base_db_);
    MakeBase(last_names_.UnitCopy(kSquareMetre, "statdata"), base);
    base.Execute("insert into " + last_names_.UnitCopy(kSquareMetre, "statdata") +
                 " (座落单位代码, 权属性质, 土地总面积, BM01, BM011, BM03, BM031) values "
                 "('330102001001', '30', 100000, 60000, 60000, 40000, 40000)");
    FinishRunRecord(base, BeginRunRecord(base, "2023", kCounty, "run"), RunOutcome::kCompleted, 0);
    dialog_.Settings().catalogue_path = (kTemplates / "二次详查表格目录.xml").string();
    dialog_.Settings().header_values = {"2024"};
    dialog_.Settings().view = false;
    dialog_.Settings().codes = codes_.get();
  }

  void MakeBase(const std::string& table, db::Connection& connection) {
    connection.Execute("create table " + table +
                       " (座落单位代码 varchar(19), 权属性质 varchar(4), 土地总面积 float" +
                       columns_ + ")");
  }

  // Writes the sheet in the unit; the workbook's path, empty when none was
  // written.
  std::string Write(short unit = kMu) {
    const std::vector<std::string> names{kReport};
    dialog_.DispatchReportTables(out_.path().string(), database().ConnectionString(), &names,
                                 (kTemplates / "二次详查表格.xlsx").string(), kCounty, unit, Mode(),
                                 "2024", kCounty);
    return dialog_.Outcomes().back().path;
  }

  testing::ScopedProgramDir home_;
  TableNames names_{Mode(), "2024", kCounty}, last_names_{Mode(), "2023", kCounty};
  std::string columns_, base_db_;
  std::unique_ptr<gis::RuralCode> codes_;
  testing::TempDir out_;
  CPrintStatDlg dialog_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
};

TEST_P(BalanceSheetTest, WritesTheBalanceTableInTheUnit) {
  const std::string path = Write();
  ASSERT_FALSE(path.empty()) << dialog_.Outcomes().back().message;
  EXPECT_EQ(fs::path(path).filename(), std::string("2024") + kCounty + kReport + "_亩.xlsx");
  const std::string rows = DataRows((kTemplates / "二次详查表格(亩).xlsx").string(), path);
  // 150 and 90 mu of the base year's 60000 and 40000 m2; 22.5 mu of the change.
  EXPECT_THAT(rows, StartsWith("上年末面积|90.0000|0.0000|60.0000|0.0000|0.0000|"));
  EXPECT_THAT(rows, HasSubstr("\n本年末面积|67.5000|0.0000|60.0000|"));
  EXPECT_THAT(rows, HasSubstr("|22.5000|150.0000\n"));
  EXPECT_THAT(rows, HasSubstr("\n耕地|0.0000|0.0000|0.0000|"));

  // In hectares, to the 4 decimals StatConfig.ini gives them: 1234.56 m2
  // moved from 03 to 01 is 0.1235 ha, not 0.12.
  testing::WriteStatConfig(testing::kThreeUnits);
  conn().Execute("insert into " + names_.Plain("ndChange") +
                 " values ('330102001001', '330102001001', '30', '30', '031', '011', 1234.56)");
  const std::string hectares = Write(kHectare);
  ASSERT_FALSE(hectares.empty()) << dialog_.Outcomes().back().message;
  EXPECT_THAT(DataRows((kTemplates / "二次详查表格.xlsx").string(), hectares),
              HasSubstr("\n本年末面积|4.6235|0.0000|3.8765|"));
}

// Each refusal says what is missing, counts, and leaves no workbook. Each
// case adds its fault to those before it: the writer checks them in the
// opposite order, so each case meets its own.
TEST_P(BalanceSheetTest, EachMissingPartIsNamedAndLeavesNoWorkbook) {
  const struct {
    const char* what;
    std::function<void()> spoil;
    std::string message;
    std::string names;
  } cases[] = {
      {"no code table", [&] { dialog_.Settings().codes = nullptr; }, "出平衡表失败!", "code table"},
      {"no change table", [&] { conn().Execute("drop table " + names_.Plain("ndChange")); },
       "本年度汇总数据不存在！", names_.Plain("ndChange")},
      {"last year unfinished",
       [&] {
         db::Connection base(base_db_);
         BeginRunRecord(base, "2023", kCounty, "run");
       },
       "上年度的汇总数据不存在！", "2023 for 330102 did not finish"},
      {"no table of last year",
       [&] {
         db::Connection(base_db_).Execute("drop table " +
                                          last_names_.UnitCopy(kSquareMetre, "statdata"));
       },
       "上年度的汇总数据不存在！", last_names_.UnitCopy(kSquareMetre, "statdata")},
      {"no file of last year",
       [&] { dialog_.Settings().base_year_database = out_.File("2023330102.sqlite"); },
       IsServer() ? "上年度的汇总数据不存在！" : "上年度的汇总数据不存在!",
       IsServer() ? "" : out_.File("2023330102.sqlite")},
  };
  for (const auto& c : cases) {
    c.spoil();
    EXPECT_EQ(Write(), "") << c.what;
    EXPECT_EQ(dialog_.Failures(), 1) << c.what;
    EXPECT_THAT(notifier_.messages.back(), StartsWith(c.message)) << c.what;
    EXPECT_THAT(notifier_.messages.back(), HasSubstr(c.names)) << c.what;
    EXPECT_TRUE(fs::is_empty(out_.path())) << c.what;
  }
}

// Printed with the whole catalogue, a sheet without last year's statistics
// or this year's changes is listed apart, with the reason, as a report
// whose table this county's runs did not build.
TEST_P(BalanceSheetTest, WithoutEitherYearTheSheetIsListedApart) {
  const std::vector<std::string> names{kReport};
  EXPECT_EQ(dialog_.SelectReports(conn(), names_, kMu, names).writable, names);
  db::Connection(base_db_).Execute("drop table " + last_names_.UnitCopy(kSquareMetre, "statdata"));
  ReportSelection selection = dialog_.SelectReports(conn(), names_, kMu, names);
  ASSERT_EQ(selection.not_built.size(), 1u);
  EXPECT_THAT(selection.not_built[0].reason, HasSubstr("no statistics of 2023"));
  conn().Execute("drop table " + names_.Plain("ndChange"));
  selection = dialog_.SelectReports(conn(), names_, kMu, names);
  ASSERT_EQ(selection.not_built.size(), 1u);
  EXPECT_THAT(selection.not_built[0].reason, HasSubstr("no change records of 2024"));
}

LANDSTAT_BOTH_ENGINES(BalanceSheetTest);

// A generated county over two years as a user runs it: the sheet is written
// (exit 0), LibreOffice prints it, and the printed sheet shows its rows; a
// report of each year printed into one folder keeps both workbooks.
// Named, the sheet of a year without the year before, or without change
// records, is refused in the writer's words, naming the file or the table
// and layer it lacks (exit 3).
TEST(BalanceSheetCountyTest, LandstatReportWritesTheSheetOfTwoYears) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::InstallStatementScripts();
  for (const auto& entry : fs::directory_iterator(kTemplates)) {
    fs::copy(entry.path(), fs::path(host::ConfigDir()) / entry.path().filename());
  }
  const std::string folder = home.File("db");
  fs::create_directories(folder);
  std::string project;
  for (const auto& [year, following] : {std::pair("2023", false), std::pair("2024", true)}) {
    county::CountyOptions options;
    options.parcels = 300;
    options.following_year = following;
    project = county::WriteCounty(county::PlanCounty(options), home.File(std::string("c") + year))
                  .project;
    const testing::Outcome run = testing::RunProgram(
        LANDSTAT_CLI, {"run", "--project", project, "--db", folder + "/" + year + "330102.sqlite",
                       "--home", home.path().string(), "--year", year, "--quiet"});
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  }
  const std::string out = home.File("out");
  const testing::Outcome report = testing::RunProgram(
      LANDSTAT_CLI,
      {"report", "--project", project, "--db", folder + "/2024330102.sqlite", "--home",
       home.path().string(), "--year", "2024", "--out", out, "--report", kReport, "--quiet"});
  ASSERT_EQ(report.exit_code, 0) << report.out << report.err;
  const std::string book = out + "/2024330102" + kReport + "_平方米";
  // A report of each year printed into one folder: each year its workbook.
  for (const char* year : {"2023", "2024"}) {
    const testing::Outcome yearly = testing::RunProgram(
        LANDSTAT_CLI,
        {"report", "--project", project, "--db", folder + "/" + year + "330102.sqlite", "--home",
         home.path().string(), "--year", year, "--out", out, "--report",
         "农村土地利用现状一级分类面积汇总表", "--quiet"});
    ASSERT_EQ(yearly.exit_code, 0) << yearly.out << yearly.err;
  }
  for (const char* year : {"2023", "2024"}) {
    EXPECT_TRUE(
        fs::exists(out + "/" + year + "330102农村土地利用现状一级分类面积汇总表_平方米.xlsx"))
        << year;
  }

  db::Connection(folder + "/2024330102.sqlite").Execute("drop table ndChange");
  const struct {
    const char* year;
    std::string said;
  } kMissing[] = {
      {"2023",
       "上年度的汇总数据不存在! (report 土地利用现状变更平衡表: no statistics database of "
       "2022 at " +
           folder + "/2022330102.sqlite: there is no such file)"},
      {"2024",
       "本年度汇总数据不存在！ (report 土地利用现状变更平衡表: 2024 has no table ndChange in " +
           folder + "/2024330102.sqlite: no change records were copied from the layer 变更汇总)"},
  };
  for (const auto& missing : kMissing) {
    const testing::Outcome refused =
        testing::RunProgram(LANDSTAT_CLI, {"report", "--project", project, "--db",
                                           folder + "/" + missing.year + "330102.sqlite", "--home",
                                           home.path().string(), "--year", missing.year, "--out",
                                           home.File("refused"), "--report", kReport, "--quiet"});
    EXPECT_EQ(refused.exit_code, 3) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr(missing.said));
    EXPECT_THAT(refused.out, Not(HasSubstr("not built"))) << refused.out;
  }

  if (RunText("command -v libreoffice").empty() || RunText("command -v pdftotext").empty()) {
    GTEST_SKIP() << "libreoffice or poppler-utils is not installed; scripts/setup installs them";
  }
  RunText("libreoffice -env:UserInstallation=file://" + home.File("lo-profile") +
          " --headless --convert-to pdf --outdir " + Quoted(out) + " " + Quoted(book + ".xlsx") +
          " 2>&1");
  const std::string text = RunText("pdftotext -layout " + Quoted(book + ".pdf") + " - 2>&1");
  for (const char* label : {"上年末面积", "本年减少", "本年末集体", "城镇村及工矿用地"}) {
    EXPECT_THAT(text, HasSubstr(label)) << text;
  }
}

}  // namespace
}  // namespace landstat::report
