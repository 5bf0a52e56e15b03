#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/table_names.h"
#include "mongolia/mg_table_names.h"
#include "platform/host/notifier.h"
#include "report/print_stat_dlg.h"
#include "report/writer_plan.h"
#include "report_readback.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

namespace fs = std::filesystem;
using testing::BothEngines;
using ::testing::HasSubstr;
using testing::TempDir;

constexpr const char* kBefore = "第二次全国土地调查基本农田调查统计表(补划前)";
constexpr const char* kAfter = "第二次全国土地调查基本农田调查统计表(补划后)";
constexpr const char* kBlocks = "第二次全国土地调查基本农田调查汇总表(按保护块)";
constexpr const char* kDispute = "权属争议基本农田情况统计表(按保护块)";
constexpr const char* kParcels = "图斑面积表";
constexpr const char* kLedger = "农村土地利用台帐";

// Hand-made tables of the farmland, parcel and ledger writers, a catalogue
// and a template of the test's own, written in square metres.
class TableWriterTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    names_ = TableNames(Mode(), "2009", "330102");
    std::ofstream(catalogue_) << R"xml(<AutoBuildList>
  <Row 表格名称="第二次全国土地调查基本农田调查统计表(补划前)" statTbl="JBNTQKTJ" shortName="补划前"/>
  <Row 表格名称="第二次全国土地调查基本农田调查统计表(补划后)" statTbl="JBNTQKTJ" shortName="补划后"/>
  <Row 表格名称="第二次全国土地调查基本农田调查汇总表(按保护块)" statTbl="JBNTNEWBHKQKTJ" shortName="按保护块"/>
  <Row 表格名称="权属争议基本农田情况统计表(按保护块)" statTbl="JBNTBHKQKTJQSZY" shortName="争议"/>
  <Row 表格名称="图斑面积表" statTbl="TBMJB" shortName="图斑面积表"/>
  <Row 表格名称="农村土地利用台帐" statTbl="TDLYTZ" shortName="台帐"/>
</AutoBuildList>)xml";
    Python("make " + Quoted(template_) + " " + Quoted(std::string(kBefore) + "=XZQDM,ZHJ,XZQZMJ") +
           " " + Quoted(std::string(kAfter) + "=XZQDM,ZHJ,XZQZMJ") + " " +
           Quoted(std::string(kBlocks) + "=BHKBH,ZHJ,XZQZMJ") + " " +
           Quoted(std::string(kDispute) + "=BHKBH,ZHJ") + " " +
           Quoted(std::string(kParcels) +
                  "=图斑编号,图斑中各地类编号,图斑面积,权属,是否基本农田,坡度级,BM011") +
           " " + Quoted("内蒙古农村土地利用台帐=XZQDM,XZQMC,XZQZMJ,图斑编号,BM011"));
    dialog_.Settings().catalogue_path = catalogue_;
    dialog_.Settings().header_values = {"2009", "", "公顷"};
    dialog_.Settings().view = false;
  }

  std::string Table(const std::string& base) { return names_.Summary('Z', kSquareMetre, base); }

  // Writes `report` for `region`; the workbook's path, empty when none was
  // written.
  std::string Write(const std::string& report, const std::string& region) {
    const std::vector<std::string> names{report};
    dialog_.DispatchReportTables(out_.path().string(), database().ConnectionString(), &names,
                                 template_, region, kSquareMetre, Mode(), "2009", "330102");
    return dialog_.Outcomes().back().path;
  }
  std::string LastMessage() const { return dialog_.Outcomes().back().message; }

  // Farmland base rows naming the villages `first` to `last` of blocks: one
  // block per village.
  void AddBlockVillages(int first, int last) {
    const std::string base = names_.UnitCopy(kSquareMetre, "statdata_jbnt");
    if (!conn().TableExists(base)) {
      conn().Execute("create table " + base + " (村级代码 varchar(19), 保护片编号 varchar(20))");
    }
    for (int i = first; i <= last; ++i) {
      const std::string code = "330102001" + std::string(i < 10 ? "00" : "0") + std::to_string(i);
      conn().Execute("insert into " + base + " values (?, ?)", {code, code + "0001"});
      dialog_.Settings().code_names[code] = "村" + std::to_string(i);
    }
    dialog_.Settings().code_names["330102"] = "县";
    dialog_.Settings().code_names["330102001"] = "乡";
  }

  TableNames names_;
  TempDir dir_, out_;
  std::string catalogue_ = dir_.File("目录.xml");
  std::string template_ = dir_.File("模板.xlsx");
  CPrintStatDlg dialog_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
};

TEST_P(TableWriterTest, UnitSelectListConvertsTheDoubleColumns) {
  conn().Execute("create table 房屋 (隶属宗地 varchar(20), 面积 float)");
  conn().Execute("insert into 房屋 values ('3301020010010010001', 15012.34)");
  const struct {
    short unit;
    int decimals;
    double area;
  } cases[] = {
      {kHectare, 4, 1.5012}, {kHectare, 2, 1.5}, {kMu, 2, 22.52}, {kSquareMetre, 2, 15012.34}};
  for (const auto& c : cases) {
    const std::string sql = BuildUnitSelectSql(conn(), "房屋", c.unit, c.decimals);
    EXPECT_EQ(sql.find(",") == std::string::npos, c.unit == kSquareMetre) << sql;
    EXPECT_EQ(sql.find(", from"), std::string::npos) << sql;
    EXPECT_EQ(testing::Texts(conn(), "select 隶属宗地 from (" + sql + ") t"),
              std::vector<std::string>{"3301020010010010001"});
    EXPECT_EQ(testing::Numbers(conn(), "select 面积 from (" + sql + ") t"),
              std::vector<double>{c.area})
        << sql;
  }
}

// The join writers keep the region's main rows, matched or not; a missing
// partner table is refused, named. The split writer gives each village of
// the region's blocks its sheet of joined rows.
TEST_P(TableWriterTest, SurveyJoinsKeepTheRegionsRowsMatchedOrNot) {
  conn().Execute("create table " + Table("JBNTQKTJ") + " (XZQDM varchar(19), ZHJ float)");
  conn().Execute("create table " + Table("JBNTKTZGD") + " (XZQDM varchar(19), XZQZMJ float)");
  for (const char* code : {"330102", "330102001", "330102002", "330103"}) {
    conn().Execute("insert into " + Table("JBNTQKTJ") + " values (?, 10)", {code});
  }
  conn().Execute("insert into " + Table("JBNTKTZGD") + " values ('330102001', 2)");
  EXPECT_EQ(DataRows(template_, Write(kBefore, "330102")),
            "330102|10.0000\n330102001|10.0000|2.0000\n330102002|10.0000\n");
  EXPECT_EQ(DataRows(template_, Write(kBefore, "330102002")), "330102002|10.0000\n");
  EXPECT_EQ(Write(kAfter, "330102"), "");
  EXPECT_THAT(LastMessage(), HasSubstr(Table("JBNTKTZGDBHH")));

  AddBlockVillages(1, 2);
  conn().Execute("create table " + Table("JBNTNEWBHKQKTJ") + " (BHKBH varchar(20), ZHJ float)");
  conn().Execute("create table " + Table("BHKKTZ") + " (JBNTBHKNO varchar(20), XZQZMJ float)");
  for (const char* block : {"3301020010010001", "3301020010020001", "3301020010020002"}) {
    conn().Execute("insert into " + Table("JBNTNEWBHKQKTJ") + " values (?, 5)", {block});
  }
  conn().Execute("insert into " + Table("BHKKTZ") + " values ('3301020010020002', 1)");
  EXPECT_EQ(SplitRows(template_, Write(kBlocks, "330102"), kBlocks),
            "= 村1330102001001\n3301020010010001|5.0000\n"
            "= 村2330102001002\n3301020010020001|5.0000\n3301020010020002|5.0000|1.0000\n");
}

// 50 villages make one workbook piece, 51 two merged into one of 51 sheets
// with valid, unique names; a failure leaves no piece behind.
TEST_P(TableWriterTest, DisputeBlocksSplitIntoPiecesMergedIntoOneWorkbook) {
  dialog_.Settings().mode = 1;
  const std::string table = names_.ReserveUnit(kSquareMetre, "JBNTBHKQKTJQSZY");
  conn().Execute("create table " + table +
                 " (BHKBH varchar(20), ZHJ float, 权属争议类型 varchar(20))");
  conn().Execute("insert into " + table + " values ('3301020010510001', 3, null)");
  conn().Execute("insert into " + table + " values ('3301020010510001', 4, '其他')");
  AddBlockVillages(1, 50);
  for (int villages : {50, 51}) {
    if (villages == 51) AddBlockVillages(51, 51);
    const std::string path = Write(kDispute, "330102");
    ASSERT_FALSE(path.empty()) << LastMessage();
    std::istringstream lines(SplitRows(template_, path, kDispute));
    std::set<std::string> sheets;
    std::string last_rows;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("= ", 0) == 0) {
        EXPECT_TRUE(sheets.insert(line).second) << line;
        last_rows.clear();
      } else {
        last_rows += line + "\n";
      }
    }
    EXPECT_EQ(sheets.size(), static_cast<std::size_t>(villages));
    EXPECT_EQ(last_rows, villages == 51 ? "3301020010510001|3.0000\n" : "");
    EXPECT_EQ(std::distance(fs::directory_iterator(out_.path()), fs::directory_iterator()), 1);
    fs::remove(path);
  }
  // A village of the second piece that cannot be written: no piece stays.
  dialog_.Settings().code_names["330102001051"] = std::string(40000, 'x');
  EXPECT_EQ(Write(kDispute, "330102"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("{县乡村}"));
  EXPECT_TRUE(fs::is_empty(out_.path()));
}

// A base table of two parcels (one numbered with leading zeros), with or
// without 描述说明 in front.
class ParcelAreaTest : public TableWriterTest {
 protected:
  void MakeBase(bool description) {
    base_ = names_.Plain("statdata");
    if (conn().TableExists(base_)) conn().Execute("drop table " + base_);
    conn().Execute(
        "create table " + base_ + " (" + (description ? "描述说明 varchar(60), " : "") +
        "序号 varchar(60), 图斑编号 varchar(60), 县名称 varchar(60), 乡名称 varchar(60), "
        "村名称 varchar(60), 座落单位名称 varchar(60), 座落单位代码 varchar(60), "
        "权属性质 varchar(60), 来源 varchar(60), 地类备注 varchar(60), 城镇用地 int, "
        "耕地坡度级 float, 土地总面积 float, BM011 float)");
    const std::string insert = "insert into " + base_ + " (序号, 图斑编号, 县名称, 乡名称, " +
                               "村名称, 座落单位名称, 座落单位代码, 权属性质, 来源, 城镇用地, " +
                               "耕地坡度级, 土地总面积, BM011) values (?, ?, '县', '乡', '村', " +
                               "'组', '3301020010010010000', ?, ?, 0, ?, ?, ?)";
    const struct {
      const char* number;
      const char* parcel;
      const char* ownership;
      const char* source;
      double slope, area;
    } rows[] = {
        {"1", "0012", "30", "线状地物", 0, 10},    {"2", "0012", "20", "地类图斑", 2, 100},
        {"3", "0012", "30", "零星地物", 0, 5},     {"4", "0012", "30", "线状地物", 0, 20},
        {"5", "0012", "30", "地类图斑扣除", 0, 8}, {"6", "7", "30", "地类图斑", 3, 50},
        {"7", "7", "30", "线状地物", 0, 4},        {"8", "7", "30", "其他", 0, 1},
    };
    for (const auto& r : rows) {
      conn().Execute(insert, {r.number, r.parcel, r.ownership, r.source, r.slope, r.area, r.area});
    }
  }

  void SetUpDatabase() override {
    TableWriterTest::SetUpDatabase();
    const std::string farmland = names_.Plain("statdata_jbnt");
    conn().Execute("create table " + farmland +
                   " (图斑编号 varchar(60), 座落单位代码 varchar(60), 来源 varchar(60))");
    for (const char* parcel : {"0012", "7", "7"}) {
      conn().Execute("insert into " + farmland + " values (?, '3301020010010010000', '地类图斑')",
                     {parcel});
    }
    dialog_.Settings().code_names["3301020010010010000"] = "一组";
  }

  std::vector<std::string> BaseColumns() {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : conn().Columns(base_)) names.push_back(column.name);
    return names;
  }

  std::string base_;
};

TEST_P(ParcelAreaTest, ParcelsThenTheirDetailsCountedPerParcel) {
  const std::string expected =
      "7||55.0000|集|否|3.0000|55.0000\n"
      "|图斑地类面积|||||50.0000\n"
      "|X1|||||4.0000\n"
      "0012||143.0000|国|是|2.0000|143.0000\n"
      "|图斑地类面积|||||100.0000\n"
      "|田坎|||||8.0000\n"
      "|X1|||||10.0000\n"
      "|X2|||||20.0000\n"
      "|L1|||||5.0000\n";
  for (bool description : {false, true}) {
    MakeBase(description);
    const std::string path = Write(kParcels, "3301020010010010000");
    ASSERT_FALSE(path.empty()) << LastMessage();
    EXPECT_EQ(fs::path(path).filename(), "20093301020010010010000一组图斑面积表_平方米.xlsx");
    EXPECT_EQ(DataRows(template_, path), expected) << description;
    EXPECT_FALSE(conn().TableExists(names_.Plain("TBMJB")));
  }
}

TEST_P(ParcelAreaTest, RefusalsAndFailuresLeaveNothingBehind) {
  MakeBase(false);
  const std::vector<std::string> columns = BaseColumns();
  EXPECT_EQ(Write(kParcels, "330102001"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("图斑面积表须选择村或村民小组级行政单位"));
  EXPECT_EQ(Write(kParcels, "330102001002"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("您选择的 行政区可能无对应图斑"));
  // A template whose sheet names a column the work table lacks fails after
  // the work table was filled.
  Python("make " + Quoted(template_) + " " + Quoted(std::string(kParcels) + "=图斑编号,NOPE"));
  EXPECT_EQ(Write(kParcels, "3301020010010010000"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("NOPE"));
  EXPECT_EQ(BaseColumns(), columns);
  EXPECT_FALSE(conn().TableExists(names_.Plain("TBMJB")));
  EXPECT_TRUE(fs::is_empty(out_.path()));
  EXPECT_EQ(dialog_.Failures(), 1);
}

// The Inner Mongolia ledger: townships, villages and parcels of the region
// in square metres, whatever the dialog's unit.
TEST_P(TableWriterTest, MongoliaLedgerListsTownshipsVillagesAndParcels) {
  dialog_.Settings().mode = 2;
  dialog_.Settings().second_code_table = true;
  EXPECT_EQ(Write(kLedger, "330102"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("no land-use class codes"));

  dialog_.Settings().class_codes = {"011", "05"};
  // Named plainly on either database, as the Inner Mongolia run names them.
  const std::string source = MgLedgerTable(MgTableNames("2009", "330102"));
  const std::string work = MgLedgerWorkTable(MgTableNames("2009", "330102"));
  conn().Execute("create table " + source +
                 " (乡级代码 varchar(40), 乡名称 varchar(40), 村级代码 varchar(40), "
                 "村名称 varchar(40), 座落单位代码 varchar(40), 座落单位名称 varchar(40), "
                 "内蒙古权属单位代码 varchar(40), 图斑编号 varchar(40), 土地总面积 varchar(40), "
                 "BM011 float, BM05 float)");
  const std::string columns = " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ float, BM011 float, ";
  // A work table of an earlier version, its parcel number an integer: refused.
  conn().Execute("create table " + work + columns + "图斑编号 int)");
  EXPECT_EQ(Write(kLedger, "330102"), "");
  EXPECT_THAT(LastMessage(), HasSubstr("run landstat mongolia again"));
  conn().Execute("drop table " + work);
  conn().Execute("create table " + work + columns + "图斑编号 varchar(40))");
  conn().Execute("insert into " + work + " values ('old', 'old', 1, 1, '1')");
  const std::string insert = "insert into " + source +
                             " values ('330102001', '乡', '330102001001', '村', " +
                             "'330102001001', '村', ?, ?, ?, ?, 0)";
  // Parcel numbers are identifiers, written as the ledger holds them.
  // 30.3 + 20.6 adds up to 50.900000000000006 in binary: stored on the grid.
  conn().Execute(insert, {"330102001001000", "002", "30.3", 30.3});
  conn().Execute(insert, {"330102001001000", "10A", "20.6", 20.6});
  conn().Execute(insert, {"330103001001000", "3", "99", 99.0});
  // Without a readable record of the runs, what the Inner Mongolia tables
  // hold is unknown: the ledger is left out, saying why.
  conn().Execute("create table StatRuns (RUNID int)");
  const ReportSelection unknown = dialog_.SelectReports(conn(), names_, kSquareMetre, {kLedger});
  ASSERT_EQ(unknown.not_built.size(), 1u);
  EXPECT_THAT(unknown.not_built[0].reason, HasSubstr("StatRuns"));
  conn().Execute("drop table StatRuns");
  EXPECT_EQ(dialog_.SelectReports(conn(), names_, kSquareMetre, {kLedger}).writable,
            std::vector<std::string>{kLedger});
  const std::string path = Write(kLedger, "330102");
  ASSERT_FALSE(path.empty()) << LastMessage();
  EXPECT_EQ(DataRows(template_, path),
            "330102001|乡|50.9000||50.9000\n"
            "330102001001|村|50.9000||50.9000\n"
            "330102001001|村|30.3000|002|30.3000\n"
            "330102001001|村|20.6000|10A|20.6000\n");
  EXPECT_EQ(testing::CellsOffTheGrid(conn(), "select XZQZMJ, BM011 from " + work, 2), 0);
  EXPECT_EQ(Python("title " + Quoted(path)), "2009平方米\n");
}

LANDSTAT_BOTH_ENGINES(TableWriterTest);
LANDSTAT_BOTH_ENGINES(ParcelAreaTest);

}  // namespace
}  // namespace landstat::report
