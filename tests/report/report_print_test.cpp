// The reports of a generated county as an office prints them: `landstat
// report` on the whole catalogue, then a first-level table (paged, hectares),
// the widest table (unpaged, mu) and the ledger converted to PDF by
// LibreOffice, and what can be checked of the printed pages.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/survey_fixture.h"
#include "platform/host/paths.h"
#include "platform/sheet/workbook_package.h"
#include "report_readback.h"
#include "support/program_dir.h"
#include "support/run_program.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The worksheet and workbook parts of a report's one sheet.
struct ReportParts {
  std::string sheet;
  std::string workbook;
};

ReportParts ReadParts(const std::string& path) {
  sheet::WorkbookPackage package(path);
  return {package.ReadPart(package.Sheets().at(0).part), package.ReadPart("xl/workbook.xml")};
}

// The number in the first match of `pattern`'s group 1; -1 when none matches.
double Attribute(const std::string& xml, const std::string& pattern) {
  std::smatch match;
  return std::regex_search(xml, match, std::regex(pattern)) ? std::stod(match[1]) : -1;
}

// The group-row merges of a sheet part that a column page break cuts, as
// "B4:F4 at 3" (columns from 0); empty when none does.
std::string GroupsCutByBreaks(const std::string& sheet) {
  const auto column = [](const std::string& letters) {
    int index = 0;
    for (char c : letters) index = index * 26 + (c - 'A' + 1);
    return index - 1;
  };
  std::string cut;
  const std::regex merge(R"re(<mergeCell ref="([A-Z]+)4:([A-Z]+)4")re");
  const std::regex brk(R"re(<brk id="([0-9]+)"[^>]*max="1048575")re");
  for (auto m = std::sregex_iterator(sheet.begin(), sheet.end(), merge);
       m != std::sregex_iterator(); ++m) {
    for (auto b = std::sregex_iterator(sheet.begin(), sheet.end(), brk);
         b != std::sregex_iterator(); ++b) {
      const int at = std::stoi((*b)[1]);
      if (column((*m)[1]) < at && at <= column((*m)[2])) {
        cut += (*m)[1].str() + "4:" + (*m)[2].str() + "4 at " + std::to_string(at) + " ";
      }
    }
  }
  return cut;
}

// The decimals of every number with a point in the printed text.
std::vector<std::size_t> DecimalsPrinted(const std::string& text) {
  std::vector<std::size_t> decimals;
  const std::regex number(R"((\d+)\.(\d+))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number);
       it != std::sregex_iterator(); ++it) {
    decimals.push_back((*it)[2].length());
  }
  return decimals;
}

TEST(ReportPrintTest, PrintedReportsLookLikeTheSurveysTables) {
  if (RunText("command -v libreoffice").empty() || RunText("command -v pdftotext").empty()) {
    GTEST_SKIP() << "libreoffice or poppler-utils is not installed; scripts/setup installs them";
  }
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const fs::path source(LANDSTAT_SOURCE_DIR);
  // The installation's statement scripts and report templates, as the demo's.
  fs::copy(source / "src/resources/config/Access", fs::path(host::ConfigDir()) / "Access",
           fs::copy_options::recursive);
  for (const auto& entry : fs::directory_iterator(source / "src/resources/templates")) {
    fs::copy(entry.path(), fs::path(host::ConfigDir()) / entry.path().filename());
  }
  county::CountyOptions options;
  options.parcels = 200;
  options.seed = 11;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), home.File("county"));
  const std::vector<std::string> place = {
      "--project", files.project,        "--db",   home.File("stats.sqlite"),
      "--home",    home.path().string(), "--year", "2009"};
  const auto cli = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin() + 1, place.begin(), place.end());
    return testing::RunProgram(LANDSTAT_CLI, arguments);
  };
  const testing::Outcome run = cli({"run", "--quiet"});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;

  // The whole catalogue of a rural county: what its runs do not build is
  // named with the run that builds it and is no failure.
  const testing::Outcome all = cli({"report", "--out", home.File("all"), "--quiet"});
  EXPECT_EQ(all.exit_code, 0) << all.out << all.err;
  EXPECT_TRUE(Contains(all.out, "reports not built by this county's runs:\n")) << all.out;
  EXPECT_TRUE(
      Contains(all.out, "  土地利用现状一级分类面积汇总表 (TDLY_YJFL, built by a 通用城镇 run)"))
      << all.out;
  EXPECT_FALSE(Contains(all.out, "not written")) << all.out;
  // The balance sheet of a county run for one year only has no year before.
  EXPECT_TRUE(Contains(all.out, "  土地利用现状变更平衡表 (no statistics of 2008 (PMstatdata)"))
      << all.out;
  // Named, it was asked for: a failure, in the same words.
  const testing::Outcome named = cli({"report", "--out", home.File("named"), "--quiet", "--report",
                                      "土地利用现状一级分类面积汇总表"});
  EXPECT_EQ(named.exit_code, 3) << named.out << named.err;
  EXPECT_TRUE(
      Contains(named.out, "not built by this county's runs (TDLY_YJFL, built by a 通用城镇 run)"))
      << named.out;

  const struct {
    std::vector<std::string> options;
    std::string report;
    std::size_t decimals;  // Len2 for hectares, Len3 for mu
    std::string paper;
    // Spread across pages: the columns repeated on each, and the labels
    // every page shows of them, those that say whose row it is.
    std::string repeated;
    std::vector<std::string> labels;
  } kPrinted[] = {
      {{"--unit", "公顷"}, "农村土地利用现状一级分类面积汇总表", 4, "(A4)", "", {}},
      {{"--unit", "亩", "--unpaged"},
       "农村土地利用现状二级分类面积汇总表",
       2,
       "(A3)",
       "$A:$B",
       {"行政区代码", "行政区名称"}},
      {{"--unit", "平方米", "--unpaged"},
       "农村土地利用台帐",
       2,
       "(A3)",
       "$A:$C",
       {"座落单位代码", "座落单位名称", "图斑编号"}},
  };
  const std::string out = home.File("print");
  std::string books;
  for (const auto& printed : kPrinted) {
    std::vector<std::string> arguments = {"report",   "--out",   out,         "--level",
                                          "小组级",   "--quiet", "--report",  printed.report,
                                          "--filler", "张三",    "--checker", "李四"};
    arguments.insert(arguments.end(), printed.options.begin(), printed.options.end());
    const testing::Outcome written = cli(arguments);
    ASSERT_EQ(written.exit_code, 0) << written.out << written.err;
    books += " " + Quoted(out + "/2009330102" + printed.report + "_" + printed.options[1] +
                          "_小组级.xlsx");
  }
  RunText("libreoffice -env:UserInstallation=file://" + home.File("lo-profile") +
          " --headless --convert-to pdf --outdir " + Quoted(out) + books + " 2>&1");

  for (const auto& printed : kPrinted) {
    SCOPED_TRACE(printed.report);
    const std::string book =
        out + "/2009330102" + printed.report + "_" + printed.options[1] + "_小组级";
    const std::string pdf = Quoted(book + ".pdf");
    const std::string text = RunText("pdftotext -layout " + pdf + " - 2>&1");
    // Every page, the first of a band and those continuing it to the right,
    // shows the title, the key line and the footer whole, and its number.
    const int pages =
        static_cast<int>(Attribute(RunText("pdfinfo " + pdf), R"(Pages:\s+([0-9]+))"));
    const bool spread = !printed.repeated.empty();
    ASSERT_GE(pages, spread ? 2 : 1);
    for (int page = 1; page <= pages; ++page) {
      const std::string on_page = RunText("pdftotext -f " + std::to_string(page) + " -l " +
                                          std::to_string(page) + " -layout " + pdf + " - 2>&1");
      std::vector<std::string> shown = {printed.report, "行政区：示例县",
                                        "年度：2009",   "单位：" + printed.options[1],
                                        "填表人：张三", "检查人：李四"};
      shown.insert(shown.end(), printed.labels.begin(), printed.labels.end());
      for (const std::string& whole : shown) {
        EXPECT_TRUE(Contains(on_page, whole)) << "page " << page << ": " << whole << "\n"
                                              << on_page;
      }
      EXPECT_TRUE(
          std::regex_search(on_page, std::regex("第 ?" + std::to_string(page) + " ?页 ?共 ?" +
                                                std::to_string(pages) + " ?页")))
          << on_page;
    }
    // The field row is not printed; a group's code is printed whole.
    EXPECT_FALSE(Contains(text, "XZQDM")) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\b3301020[0-9]{12}\b)"))) << text;
    // Every area shows the decimals of its unit.
    const std::vector<std::size_t> decimals = DecimalsPrinted(text);
    ASSERT_FALSE(decimals.empty());
    EXPECT_EQ(std::count(decimals.begin(), decimals.end(), printed.decimals),
              static_cast<long>(decimals.size()));
    EXPECT_TRUE(Contains(RunText("pdfinfo " + pdf), printed.paper));

    const ReportParts parts = ReadParts(book + ".xlsx");
    // The field row is hidden, the code column holds 19 characters and a margin.
    EXPECT_TRUE(std::regex_search(parts.sheet, std::regex(R"(<row r="6"[^>]* hidden="1")")));
    EXPECT_GE(Attribute(parts.sheet, R"re(<col (?=[^>]*min="1" max="1")[^>]*width="([0-9.]+)")re"),
              20.0);
    // A readable scale; a spread table repeats its code and name columns and
    // keeps each class over its columns on one page.
    EXPECT_GE(Attribute(parts.sheet, R"re(<pageSetup[^>]* scale="([0-9]+)")re"), 55.0);
    EXPECT_EQ(Contains(parts.workbook, "!" + printed.repeated + ","), spread) << parts.workbook;
    EXPECT_EQ(Contains(parts.sheet, "<colBreaks"), spread);
    EXPECT_EQ(GroupsCutByBreaks(parts.sheet), "");
  }
}

}  // namespace
}  // namespace landstat::report
