#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/table_names.h"
#include "platform/host/notifier.h"
#include "report/print_stat_dlg.h"
#include "report/report_filters.h"
#include "report_readback.h"
#include "support/cancelling_progress.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;
using testing::BothEngines;
using ::testing::HasSubstr;
using testing::TempDir;

TEST(ReportSkeleton, JoinsPathsAndChoosesVariants) {
  EXPECT_EQ(JoinOutputPath("/out", "3301表.xlsx"), "/out/3301表.xlsx");
  EXPECT_EQ(JoinOutputPath("/out/", "3301表.xlsx"), "/out/3301表.xlsx");
  const struct {
    VariantSet set;
    bool paged;
    short unit;
    const char* source;
  } cases[] = {
      {VariantSet::kFour, true, kHectare, "/t/报表.xlsx"},
      {VariantSet::kFour, true, kMu, "/t/报表(亩).xlsx"},
      {VariantSet::kFour, false, kSquareMetre, "/t/报表(不分页).xlsx"},
      {VariantSet::kFour, false, kMu, "/t/报表(亩不分页).xlsx"},
      {VariantSet::kTwo, true, kMu, "/t/报表.xlsx"},
      {VariantSet::kTwo, false, kMu, "/t/报表(不分页).xlsx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TemplateVariant("/t/报表.xlsx", c.set, c.paged, c.unit), c.source) << c.source;
  }
}

TEST(ReportDispatch, RoutesByNameModeSecondCodeTableAndPaging) {
  const struct {
    const char* name;
    int mode;
    bool second;
    bool paged;
    int rule;
    const char* writer;  // null: no report
  } cases[] = {
      {"飞入地台帐", 1, false, true, 1, "PrintFrdTable"},
      {"农村土地利用台帐(权属争议)", 0, false, true, 2, "PrintLedgerTable"},
      {"农村土地利用台帐(权属争议)", 1, false, true, 2, "PrintDisputeLedgerTable"},
      {"农村土地利用台帐", 1, false, true, 2, nullptr},
      {"农村土地利用台帐", 2, true, true, 2, "PrintMgLedgerTable"},
      {"农村土地利用台帐", 2, false, true, 2, nullptr},
      {"土地利用现状变更平衡表", 2, false, true, 3, "PrintBalanceSheet"},
      {"第二次全国土地调查基本农田调查汇总表(按保护块)", 0, false, true, 10,
       "PrintJbntBlockSummarySplit"},
      {"第二次全国土地调查基本农田调查汇总表(按保护块)", 0, false, false, 10,
       "PrintJbntBlockSummaryTable"},
      {"权属单位代码表", 0, false, true, 13, "PrintCodeListTable"},
      {"权属争议调查表", 1, false, true, 16, "PrintCodeListTable"},
      {"权属争议调查表", 0, false, true, 21, "PrintSummaryTable"},
      {"农村土地利用现状一级分类面积汇总表(按权属争议区编号)", 1, false, true, 17,
       "PrintDisputeAreaTable"},
      {"耕地后备资源调查总表", 1, false, true, 18, "PrintReserveDisputeTable"},
      {"耕地后备资源调查总表", 0, false, true, 21, "PrintSummaryTable"},
      {"农村土地利用现状一级分类面积汇总表", 1, false, true, 19, "PrintSummaryTable"},
      {"农村土地利用现状一级分类面积汇总表", 2, true, true, 20, "PrintBureauSummaryTable"},
      {"农村土地利用现状一级分类面积汇总表", 2, false, true, 20, nullptr},
  };
  for (const auto& c : cases) {
    CPrintStatDlg dialog;
    dialog.Settings().mode = c.mode;
    dialog.Settings().second_code_table = c.second;
    dialog.Settings().paged = c.paged;
    const CPrintStatDlg::Route route = dialog.RouteOf(c.name);
    EXPECT_EQ(route.rule, c.rule) << c.name << " mode " << c.mode;
    EXPECT_STREQ(route.writer, c.writer) << c.name << " mode " << c.mode;
  }
}

TEST(ReportFilters, ReserveAndDisputeMatrix) {
  const struct {
    const char* name;
    const char* ownership;
    const char* level;
    const char* dispute;
    const char* clause;
  } cases[] = {
      {"耕地后备资源调查总表", "国有", "", "", "and (权属性质 like '1%' or 权属性质 like '2%')"},
      {"耕地后备资源调查总表", "全部", "省级", "", "and (耕地后备资源级别 like '省级')"},
      {"耕地后备资源调查总表", "全部", "全部", "其他", ""},
      {"耕地后备资源分类面积汇总表(按新类型)", "集体", "国家级", "",
       "and (QSXZNGDHBJB like '集体')"},
      {"耕地后备资源分类面积汇总表(按新类型)", "全部", "全部", "全部", "and (QSXZNGDHBJB IS NULL)"},
      // The first choice decides even where it does not apply.
      {"农村土地利用现状一级分类面积汇总表(权属争议)", "国有", "", "国家与集体",
       "and (权属争议类型 IS NULL)"},
      {"权属争议基本农田情况统计表(按行政区)", "", "", "国有与国有",
       "and (权属争议类型 like '国有与国有')"},
      {"耕地后备资源调查汇总表(权属争议)", "", "", "", ""},
      {"耕地后备资源评价等级汇总表", "国有", "", "", ""},
  };
  for (const auto& c : cases) {
    ReportSettings settings;
    settings.ownership_filter = c.ownership;
    settings.reserve_level_filter = c.level;
    settings.dispute_type_filter = c.dispute;
    EXPECT_EQ(ReserveAttributeFilter(c.name, settings), c.clause) << c.name;
  }
  EXPECT_TRUE(ReserveIgnoresLevel("可复垦耕地后备资源调查表(按新类型)"));
  EXPECT_FALSE(ReserveIgnoresLevel("耕地后备资源分类面积汇总表(按原类型)"));
}

// A statistics database with summary tables of fixture codes, a catalogue
// and templates of the test's own.
class ReportWriterTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    names_ = TableNames(Mode(), "2009", "330102");
    for (const char* base : {"T", "T2"}) {
      for (char scope : {'Z', 'Q'}) {
        if (scope == 'Q' && std::string(base) == "T2") continue;  // no ownership table
        const std::string table = names_.Summary(scope, kSquareMetre, base);
        conn().Execute("create table " + table +
                       " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ float)");
        for (const char* code : {"33", "3301", "330102", "330102001", "3301020010011", "3302"}) {
          conn().Execute("insert into " + table + " values (?, ?, ?)",
                         {code, std::string(1, scope) + code, 1.5});
        }
      }
    }
    conn().Execute("create table QSDMB (QSDWDM varchar(60), QSDWMC varchar(60))");
    conn().Execute("insert into QSDMB values ('3301020000000000000', '某县')");
    // A summary table of the county as a whole, without region codes.
    const std::string uses = names_.Summary('Z', kSquareMetre, "U");
    conn().Execute("create table " + uses + " (土地用途 varchar(10), 宗数 integer)");
    conn().Execute("insert into " + uses + " values ('072', 3), ('051', 2)");
    // A unit table of the code-list writer, named as the unit copies are.
    const std::string unused = names_.UnitCopy(kSquareMetre, "PEWYTBL");
    conn().Execute("create table " + unused + " (序号 integer, 批准文号 varchar(60), 面积 float)");
    conn().Execute("insert into " + unused + " values (1, '浙土[2009]1号', 2.5)");
    std::ofstream(catalogue_) << R"(<AutoBuildList>
  <Row 表格名称="报表甲" statTbl="T" shortName="甲"/>
  <Row 表格名称="报表甲" statTbl="T2" shortName="重复"/>
  <Row 表格名称="报表乙" statTbl="T2" shortName="乙"/>
  <Row 表格名称="权属单位代码表" statTbl="QSDMB" shortName="代码表"/>
  <Row 表格名称="批而未用面积汇总表" statTbl="PEWYTBL" shortName="批而未用"/>
  <Row 表格名称="用途表" statTbl="U" shortName="用途"/>
  <Row 表格名称="缺表" statTbl="NONE" shortName="缺表"/>
  <Row 表格名称="无页" statTbl="T" shortName="无页"/>
  <Row 表格名称="缺列" statTbl="T" shortName="缺列"/>
  <Row 表格名称="注入" statTbl="T; drop table QSDMB" shortName="注入"/>
  <Row 表格名称="越界" statTbl="T" shortName="../越界"/>
</AutoBuildList>)";
    // The paged variant only: the unpaged ones are missing.
    Python("make " + Quoted(template_) +
           " 报表甲 报表乙 权属单位代码表=QSDWDM,QSDWMC 批而未用面积汇总表=序号,批准文号,面积"
           " 用途表=土地用途,宗数 缺表 缺列=XZQDM,NOPE 注入 越界");
    std::ofstream(damaged_) << "no workbook";
    dialog_.Settings().catalogue_path = catalogue_;
    dialog_.Settings().header_values = {"2009"};
    dialog_.Settings().view = false;
  }

  // Writes `report` for `region` through the dispatcher; the workbook's
  // path, empty when none was written.
  std::string Write(const std::string& report, const std::string& region = "3301",
                    const std::string& tmpl = {}) {
    const short result = Print({report}, region, tmpl);
    EXPECT_EQ(result, dialog_.Outcomes().back().Written() ? 1 : 0) << report;
    return dialog_.Outcomes().back().path;
  }
  // Prints `names` for `region` in square metres through the dispatcher.
  short Print(const std::vector<std::string>& names, const std::string& region = "3301",
              const std::string& tmpl = {}) {
    return dialog_.DispatchReportTables(out_.path().string(), database().ConnectionString(), &names,
                                        tmpl.empty() ? template_ : tmpl, region, kSquareMetre,
                                        Mode(), "2009", "330102");
  }

  std::string Codes(const std::string& path) {
    std::string codes;
    std::istringstream rows(DataRows(template_, path));
    for (std::string row; std::getline(rows, row);) codes += row.substr(0, row.find('|')) + " ";
    return codes;
  }

  TableNames names_;
  TempDir dir_, out_;
  std::string catalogue_ = dir_.File("目录.xml");
  std::string template_ = dir_.File("模板.xlsx");
  std::string damaged_ = dir_.File("坏.xlsx");
  CPrintStatDlg dialog_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
};

TEST_P(ReportWriterTest, LevelFiltersKeepTheLevelsRowsOfTheRegion) {
  const struct {
    const char* level;
    const char* region;
    const char* codes;
  } cases[] = {
      {"县(区)级", "3301", "3301 330102 "},
      {"市级", "3301", "3301 "},
      {"市级", "330102", ""},
      {"乡(街道)级", "3301", "3301 330102 330102001 "},
      {"", "3301", "3301 330102 330102001 3301020010011 "},
      {"", "33'01", ""},  // a quote is bound, never part of the statement
  };
  for (const auto& c : cases) {
    dialog_.Settings().output_level = c.level;
    const std::string path = Write("报表甲", c.region);
    ASSERT_FALSE(path.empty()) << notifier_.messages.back();
    // Each level its own workbook, named with the unit and the level.
    const std::string level = *c.level == '\0' ? "" : std::string("_") + c.level;
    EXPECT_EQ(
        path,
        (out_.path() / (std::string("2009") + c.region + "甲_平方米" + level + ".xlsx")).string());
    EXPECT_EQ(Codes(path), c.codes) << c.level << " " << c.region;
  }
}

TEST_P(ReportWriterTest, OwnershipTypeReadsQTablesAndFallsBackToZ) {
  dialog_.Settings().statistics_type = kByOwnership;
  dialog_.Settings().output_level = "市级";
  const std::string by_owner = Write("报表甲");
  EXPECT_EQ(fs::path(by_owner).filename(), "20093301甲_平方米_市级_权属单位.xlsx");
  EXPECT_EQ(DataRows(template_, by_owner), "3301|Q3301|1.5000\n");
  EXPECT_EQ(DataRows(template_, Write("报表乙")), "3301|Z3301|1.5000\n");
  dialog_.Settings().statistics_type = kByLocation;
  EXPECT_EQ(DataRows(template_, Write("报表甲")), "3301|Z3301|1.5000\n");
}

TEST_P(ReportWriterTest, CodeListOfOwnershipUnitsIsNamedWithoutTheRegion) {
  const std::string path = Write("权属单位代码表");
  EXPECT_EQ(path, (out_.path() / "2009代码表_平方米.xlsx").string());
  EXPECT_EQ(DataRows(template_, path), "3301020000000000000|某县\n");
  EXPECT_EQ(DataRows(template_, Write("批而未用面积汇总表")), "1.0000|浙土[2009]1号|2.5000\n");
}

// A table without region codes is the county's: written whole for the
// county, refused for a region inside it.
TEST_P(ReportWriterTest, WholeCountyTableIsWrittenForTheCountyOnly) {
  EXPECT_EQ(DataRows(template_, Write("用途表", "330102")), "051|2.0000\n072|3.0000\n");
  EXPECT_EQ(Write("用途表", "330102001"), "");
  EXPECT_NE(notifier_.messages.back().find("holds the county as a whole"), std::string::npos)
      << notifier_.messages.back();
}

TEST_P(ReportWriterTest, FailuresAreNamedAndLeaveNoFile) {
  const std::string table = names_.Summary('Z', kSquareMetre, "T");
  const std::string long_value(32768, 'x');
  const struct {
    const char* report;
    bool paged;
    std::string catalogue;
    std::vector<std::string> named;  // what the message must name
    std::string tmpl = "";           // the template, when not the test's own
    std::string year = "2009";       // the first header value
  } cases[] = {
      {"缺表", true, catalogue_, {names_.Summary('Z', kSquareMetre, "NONE")}},  // no table
      {"无页", true, catalogue_, {"无页", template_}},  // the template has no such sheet
      {"报表甲", false, catalogue_, {dir_.File("模板(不分页).xlsx")}},
      {"不在目录", true, catalogue_, {"不在目录"}},
      {"报表甲", true, dir_.File("没有.xml"), {dir_.File("没有.xml")}},
      // A column of the field row that the table lacks, named with the table.
      {"缺列", true, catalogue_, {"\"NOPE\"", table, template_}},
      // Table and file names from the catalogue are refused unless plain.
      {"注入", true, catalogue_, {"T; drop table QSDMB"}},
      {"越界", true, catalogue_, {"../越界"}},
      {"报表甲", true, catalogue_, {"{年度}", "32768 characters"}, {}, long_value},
      {"报表甲", true, catalogue_, {"template workbook " + damaged_}, damaged_},
  };
  // Selected from the catalogue, a table that is no table name goes to its
  // writer, which refuses it: it is never listed as merely not built.
  const ReportSelection selected =
      dialog_.SelectReports(conn(), names_, kSquareMetre, {"注入", "缺表"});
  EXPECT_EQ(selected.writable, std::vector<std::string>{"注入"});
  ASSERT_EQ(selected.not_built.size(), 1u);
  for (const auto& c : cases) {
    dialog_.Settings().paged = c.paged;
    dialog_.Settings().catalogue_path = c.catalogue;
    dialog_.Settings().header_values = {c.year};
    EXPECT_EQ(Write(c.report, "3301", c.tmpl), "") << c.report;
    EXPECT_EQ(dialog_.Failures(), 1) << c.report;
    ASSERT_FALSE(notifier_.messages.empty());
    for (const std::string& part : c.named) {
      EXPECT_THAT(notifier_.messages.back(), HasSubstr(part)) << c.report;
    }
    EXPECT_TRUE(fs::is_empty(out_.path())) << c.report;
  }
  EXPECT_TRUE(conn().TableExists("QSDMB"));
}

// A failure of any kind (here the file system's: the workbook's name is
// taken by a folder) leaves no copy behind, counts, and the next report is
// still written.
TEST_P(ReportWriterTest, AnyFailureIsCountedAndTheNextReportWritten) {
  fs::create_directories(out_.path() / "20093301甲_平方米.xlsx" / "inside");
  EXPECT_EQ(Print({"报表甲", "报表乙"}), 0);
  ASSERT_EQ(dialog_.Outcomes().size(), 2u);
  EXPECT_FALSE(dialog_.Outcomes()[0].Written());
  EXPECT_THAT(dialog_.Outcomes()[0].message, HasSubstr("20093301甲_平方米.xlsx"));
  EXPECT_TRUE(dialog_.Outcomes()[1].Written());
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(out_.path())) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"20093301乙_平方米.xlsx", "20093301甲_平方米.xlsx"}));
}

// A print cancelled begins no report: each is counted as not written,
// nothing is left in the folder, and no box is shown for each.
TEST_P(ReportWriterTest, ACancelledPrintBeginsNoReport) {
  testing::CancellingProgress progress;
  progress.cancelled = true;
  EXPECT_EQ(Print({"报表甲", "报表乙"}), 0);
  ASSERT_EQ(dialog_.Outcomes().size(), 2u);
  for (const ReportOutcome& outcome : dialog_.Outcomes()) EXPECT_FALSE(outcome.Written());
  EXPECT_TRUE(fs::is_empty(out_.path()));
  EXPECT_TRUE(notifier_.messages.empty());
}

// The land-use table of the town lots has no administrative code: the
// county's report holds it whole, in land-use order, whatever the level.
TEST_P(ReportWriterTest, TownLandUseTableIsWrittenWhole) {
  const std::string table = names_.Summary('Z', kSquareMetre, "CZZD_TDYT");
  conn().Execute("create table " + table + " (土地用途 varchar(10), 土地用途名称 varchar(20), " +
                 "宗数 int, 宗地总面积 float)");
  conn().Execute("insert into " + table + " values ('总计', '', 3, 30), ('071', '住宅', 2, 20), " +
                 "('051', '商业', 1, 10)");
  std::ofstream(catalogue_) << R"(<AutoBuildList>
  <Row 表格名称="城镇宗地土地用途汇总表" statTbl="CZZD_TDYT" shortName="用途"/>
</AutoBuildList>)";
  Python("make " + Quoted(template_) +
         " 城镇宗地土地用途汇总表=土地用途,土地用途名称,宗地总面积,宗数");
  dialog_.Settings().output_level = "村(街坊)级";
  const std::string path = Write("城镇宗地土地用途汇总表", "330102");
  ASSERT_FALSE(path.empty()) << notifier_.messages.back();
  EXPECT_EQ(DataRows(template_, path),
            "051|商业|10.0000|1.0000\n071|住宅|20.0000|2.0000\n总计||30.0000|3.0000\n");
}

LANDSTAT_BOTH_ENGINES(ReportWriterTest);

}  // namespace
}  // namespace landstat::report
