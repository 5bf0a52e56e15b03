// The Guangdong farmland set: the base table's three passes on hand-drawn
// farmland layers, the adjustable table on hand-made base rows, and a
// generated "广东农村" county run whole.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/statistics_run.h"
#include "engine/survey_fixture.h"
#include "landuse/generated_county_run.h"
#include "platform/db/connection.h"
#include "platform/host/ini_file.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::FixtureFeature;
using testing::FixtureField;
using testing::kGroup;
using testing::Numbers;
using testing::Rows;
using Strings = std::vector<std::string>;

// The farmland parcel layer with the deduction fields the Guangdong rows
// read.
std::vector<FixtureField> GdParcelFields() {
  std::vector<FixtureField> fields = testing::kJbntParcelFields;
  fields.insert(
      fields.end(),
      {{"扣除地类编码", OFTString}, {"扣除地类系数", OFTReal}, {"扣除地类面积", OFTReal}});
  return fields;
}

const std::vector<FixtureField> kGdLineFields = {
    {"扣除比例", OFTString},          {"线状地物面积", OFTReal},
    {"地类编码", OFTString},          {"权属性质", OFTString},
    {"基本农田图斑编号1", OFTString}, {"基本农田图斑编号2", OFTString},
    {"扣除图斑编号1", OFTString},     {"扣除图斑编号2", OFTString},
    {"扣除图斑座落代码1", OFTString}, {"扣除图斑座落代码2", OFTString},
    {"权属单位代码1", OFTString},     {"权属单位代码2", OFTString},
    {"调入备注", OFTString},          {"地类备注", OFTString}};

const std::vector<FixtureField> kGdPointFields = {
    {"地类编码", OFTString},         {"座落图斑编号", OFTString}, {"座落单位代码", OFTString},
    {"零星地物面积", OFTReal},       {"权属性质", OFTString},     {"权属单位代码", OFTString},
    {"基本农田图斑编号", OFTString}, {"调入备注", OFTString},     {"地类备注", OFTString}};

std::string Square(int x0) {
  const std::string a = std::to_string(x0), b = std::to_string(x0 + 10);
  return "POLYGON ((" + a + " 0," + b + " 0," + b + " 10," + a + " 10," + a + " 0))";
}

FieldValues Parcel(const std::string& number, const std::string& supplement,
                   const std::string& area) {
  return {{"基本农田图斑编号", "440102001001" + number + "000"},
          {"图斑编号", number},
          {"地类编码", "011"},
          {"基本农田地类面积", area},
          {"权属性质", "30"},
          {"权属单位代码", kGroup},
          {"座落单位代码", kGroup},
          {"是否补划", supplement}};
}

// A line between the parcels named on its sides ("" for none).
FieldValues Line(const std::string& ratio, const std::string& area, const std::string& side1,
                 const std::string& side2) {
  FieldValues values = {
      {"扣除比例", ratio}, {"线状地物面积", area}, {"地类编码", "104"}, {"权属性质", "30"}};
  for (const auto& [k, parcel] : {std::pair{"1", side1}, std::pair{"2", side2}}) {
    if (parcel.empty()) continue;
    values.insert(values.end(), {{std::string("基本农田图斑编号") + k, "440102001001" + parcel},
                                 {std::string("扣除图斑编号") + k, parcel},
                                 {std::string("扣除图斑座落代码") + k, kGroup},
                                 {std::string("权属单位代码") + k, kGroup}});
  }
  return values;
}

FieldValues Point(const std::string& area) {
  return {{"地类编码", "114"},
          {"座落图斑编号", "1"},
          {"座落单位代码", kGroup},
          {"零星地物面积", area},
          {"权属性质", "30"},
          {"权属单位代码", kGroup},
          {"基本农田图斑编号", "4401020010011"}};
}

class JbntGdTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
  }

  // Writes the three farmland layers, builds the Guangdong base data from
  // them and gives the context.
  std::unique_ptr<CStatContext> Build(const std::vector<FixtureFeature>& parcels,
                                      const std::vector<FixtureFeature>& lines,
                                      const std::vector<FixtureFeature>& points) {
    const std::string path = home_.File("farmland.gpkg");
    testing::WriteFixtureLayer(path, "基本农田图斑", wkbPolygon, GdParcelFields(), parcels);
    testing::WriteFixtureLayer(path, "基本农田线状地物", wkbLineString, kGdLineFields, lines);
    testing::WriteFixtureLayer(path, "基本农田零星地物", wkbPoint, kGdPointFields, points);
    parcel_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(path, "基本农田图斑"));
    line_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(path, "基本农田线状地物"));
    point_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(path, "基本农田零星地物"));
    testing::WriteFileBytes(log_, "");
    auto context =
        std::make_unique<CStatContext>(0, 0, 0, 0, *parcel_, *line_, *point_, 0, 0, 0, codes_.get(),
                                       "2009", testing::kCountyCode, log_, 1, "广东农村");
    context->OpenStatLogFile();
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    EXPECT_EQ(context->CreateJbntStatTableGd(), 1);
    return context;
  }

  testing::ScopedProgramDir home_;
  const std::string log_ = home_.File("stat.log");
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<testing::ScopedLayer> parcel_, line_, point_;
};

// Parcels 1 and 2 share the border x = 10; parcel 3 lies at x = 30 with no
// farmland on its west. Each line and point gives the rows listed, in the
// order of the passes: lines, points, parcels (a deduction before its
// parcel). A line beside no farmland parcel and a point in none give no
// row, and are named in a notice with their area.
TEST_P(JbntGdTablesTest, PassesSplitLinesBookPointsAndDeductParcels) {
  FieldValues first = Parcel("1", "N", "100");
  first.insert(first.end(),
               {{"扣除地类编码", "123"}, {"扣除地类系数", "0.1"}, {"扣除地类面积", "10.254"}});
  FieldValues third = Parcel("3", "n", "20");
  // A negative share deducts nothing, logged.
  third.insert(third.end(),
               {{"扣除地类编码", "123"}, {"扣除地类系数", "-1"}, {"扣除地类面积", "2"}});
  FieldValues marked = Line("1", "7", "3", "");
  marked.insert(marked.end(), {{"调入备注", "TR"}, {"地类备注", "K"}});
  auto context =
      Build({{Square(0), first}, {Square(10), Parcel("2", "Y", "50")}, {Square(30), third}},
            {{"LINESTRING (10 0,10 10)", Line("0.5", "0.05", "1", "2")},
             {"LINESTRING (10 10,10 0)", Line("0.5", "0.04", "2", "1")},
             {"LINESTRING (2 2,8 8)", Line("1", "3.456", "1", "")},
             {"LINESTRING (30 0,30 10)", marked},  // no farmland on its left
             {"LINESTRING (4 4,4 4)", Line("1", "1", "1", "")},
             {"LINESTRING (12 2,18 2)", Line("abc", "2", "2", "1")},
             {"LINESTRING (50 0,50 10)", Line("1", "4.5", "1", "")},
             {"LINESTRING (60 0,60 10)", Line("1", "0.25", "1", "")}},
            {{"POINT (3 7)", Point("1.234567")}, {"POINT (25 5)", Point("9")}});
  EXPECT_EQ(context->StatJbntBaseDataGd(), 1);
  EXPECT_EQ(context->m_nJbntGdBaseData, 1);

  const std::string table = context->m_strJbntTbl + "GD";
  EXPECT_EQ(
      Rows(conn(), "select 来源, 图斑编号, 是否补划, 调入备注, 地类备注, 保护片编号 from " + table),
      (Strings{"线状地物|1|N|||4401020010011", "线状地物|2|Y|||4401020010012",
               "线状地物|2|Y|||4401020010012", "线状地物|1|N|||4401020010011",
               "线状地物|1|N|||4401020010011", "线状地物|3|n|TR|K|4401020010013",
               "线状地物|2|Y|||4401020010012", "零星地物|1|N|||4401020010011",
               "地类图斑扣除|1|N|||4401020010011000", "地类图斑|1|N|||4401020010011000",
               "地类图斑|2|Y|||4401020010012000", "地类图斑|3|N|||4401020010013000"}));
  // 0.05 halves into 0.02 and 0.03, 0.04 into 0.02 twice; a ratio of 1 or
  // one that is no number books the whole line on two decimals; a point
  // keeps its decimals.
  const std::vector<double> areas = Numbers(conn(), "select 土地总面积 from " + table);
  const std::vector<double> expected = {0.02, 0.03,     0.02,  0.02, 3.46, 7,
                                        2,    1.234567, 10.25, 100,  50,   20};
  ASSERT_EQ(areas.size(), expected.size());
  for (std::size_t i = 0; i < areas.size(); ++i) EXPECT_NEAR(areas[i], expected[i], 1e-9) << i;
  EXPECT_EQ(Numbers(conn(), "select BM12 + BM123 + BM01 + BM011 from " + table +
                                " where 来源 = '地类图斑扣除'"),
            std::vector<double>{20.5});
  // The failures, named by layer and record: the line without length, the
  // ratio that is no number, the negative share.
  EXPECT_EQ(context->m_nErrCount, 3);
  const std::string log = testing::ReadFileBytes(log_);
  for (const char* logged : {"基本农田线状地物 记录 5", "基本农田线状地物 记录 6 字段 扣除比例",
                             "基本农田图斑 记录 3 字段 扣除地类系数 扣除地类系数 '-1'",
                             "注意 图层 基本农田线状地物 2 条记录不在任何基本农田图斑旁, 未计入 "
                             "(面积 4.75 平方米): 记录 7, 8",
                             "注意 图层 基本农田零星地物 1 条记录不在任何基本农田图斑内, 未计入 "
                             "(面积 9 平方米): 记录 2"}) {
    EXPECT_NE(log.find(logged), std::string::npos) << logged << "\n" << log;
  }
}

// A row the database refuses (a name longer than its column) is logged
// under the pass's title and not stored; the next row carries nothing of it.
TEST_P(JbntGdTablesTest, RefusedRowIsLoggedAndLeavesTheNextRowClean) {
  FieldValues refused = Parcel("1", "N", "100");
  refused.insert(refused.end(), {{"权属单位名称", std::string(61, 'x')}, {"耕地类型", "TT"}});
  auto context = Build({{Square(0), refused}, {Square(10), Parcel("2", "N", "50")}}, {}, {});
  EXPECT_EQ(context->StatJbntBaseDataGd(), 1);
  EXPECT_EQ(
      Rows(conn(), "select 图斑编号, 耕地类型, 权属单位名称 from " + context->m_strJbntTbl + "GD"),
      Strings{"2||"});
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_NE(testing::ReadFileBytes(log_).find("汇总基本农田地类图斑"), std::string::npos);
}

// A missing line or point layer gives no rows of its kind and a notice; the
// parcels are booked all the same.
TEST_P(JbntGdTablesTest, MissingLineAndPointLayersGiveParcelRowsOnly) {
  auto context = Build({{Square(0), Parcel("1", "N", "100")}}, {}, {});
  context->m_aiJbntLine = 0;
  context->m_aiJbntPoint = 0;
  EXPECT_EQ(context->StatJbntBaseDataGd(), 1);
  EXPECT_EQ(Rows(conn(), "select 来源 from " + context->m_strJbntTbl + "GD"), Strings{"地类图斑"});
  EXPECT_EQ(context->m_nErrCount, 0);
  const std::string log = testing::ReadFileBytes(log_);
  EXPECT_NE(log.find("没有基本农田线状地物图层"), std::string::npos) << log;
  EXPECT_NE(log.find("没有基本农田零星地物图层"), std::string::npos) << log;
}

// Base rows in mu summed into the hectare table: the marks 'Y' and 'y'
// are left out, NULL and empty counted; each village is converted and
// rounded, and the township is the sum of its villages as stored.
TEST_P(JbntGdTablesTest, AdjustableTableLeavesOutSupplementedAndAddsUpConvertedVillages) {
  testing::WriteStatConfig("[AreaUnit]\nUnit1=亩\nUnit2=公顷\n[PointLen]\nLen1=2\nLen2=4\n");
  auto context = Build({}, {}, {});
  ASSERT_EQ(context->m_nUnitSrc, kMu);
  const std::string source = context->m_strJbntTbl + "GD";
  struct Piece {
    const char* village;
    const char* remark;
    const char* supplement;  // nullptr: NULL
    const char* column;
    double area;
  };
  const Piece pieces[] = {
      {"330102001001", "K", nullptr, "BM011", 0.5}, {"330102001001", "K", "", "BM011", 0.5},
      {"330102001001", "K", "Y", "BM011", 5},       {"330102001002", "k", "N", "BM011", 1},
      {"330102001002", "K", "y", "BM011", 5},       {"330102001002", "", "N", "BM011", 9},
      {"330102002001", "K", "N", "BM013", 1}};
  for (const Piece& p : pieces) {
    const std::string supplement = p.supplement ? "'" + std::string(p.supplement) + "'" : "NULL";
    conn().Execute("insert into " + source +
                   " (村级代码, 座落单位代码, 权属单位代码, 地类备注, 是否补划, 土地总面积, " +
                   p.column + ", BM01) values ('" + p.village + "', '" + p.village + "0010000', '" +
                   p.village + "0010000', '" + p.remark + "', " + supplement + ", " +
                   std::to_string(p.area) + ", " + std::to_string(p.area) + ", " +
                   std::to_string(p.area) + ")");
  }
  const std::string hectares = context->Names().Summary('Z', kHectare, "JBNTKTZGD");
  const std::string mu = context->Names().Summary('Z', kMu, "JBNTKTZGD");
  for (const std::string& table : {hectares, mu}) {
    ASSERT_EQ(context->CreateJbntKtzTable(table), 1);
  }
  EXPECT_EQ(context->SumJbntKtzGd(hectares, 0, kHectare, 4), 1);
  EXPECT_EQ(context->SumJbntKtzGd(mu, 0, kMu, 2), 1);
  EXPECT_EQ(Rows(conn(), "select XZQDM, XZQZMJ, BM011K, BM013K from " + hectares +
                             " where length(XZQDM) <= 12 order by XZQDM"),
            (Strings{"330102|0.2001|0.1334|0.0667", "330102001|0.1334|0.1334|0",
                     "330102001001|0.0667|0.0667|0", "330102001002|0.0667|0.0667|0",
                     "330102002|0.0667|0|0.0667", "330102002001|0.0667|0|0.0667"}));
  EXPECT_EQ(Numbers(conn(), "select XZQZMJ from " + mu + " where XZQDM = '330102'"),
            std::vector<double>{3});
  EXPECT_EQ(context->m_nErrCount, 0) << testing::ReadFileBytes(log_);

  // With the unit level and a second unit of 0.001 mu in the first village:
  // the mu table keeps its sums as summed; in hectares the units (0.0667
  // and 0.0001 as converted) add up to their village's 0.0667.
  conn().Execute("insert into " + source +
                 " (村级代码, 座落单位代码, 权属单位代码, 地类备注, 是否补划, 土地总面积, BM011, "
                 "BM01) values ('330102001001', '3301020010010020000', '3301020010010020000', "
                 "'K', 'N', 0.001, 0.001, 0.001)");
  context->m_bGroupLevel = true;
  const std::string first_village = " where XZQDM like '330102001001%' order by XZQDM";
  const struct {
    std::string table;
    short unit, decimals;
    Strings rows;  // XZQDM, XZQZMJ, BM011K
  } tables[] = {
      {mu,
       kMu,
       2,
       {"330102001001|1.001|1.001", "3301020010010010000|1|1", "3301020010010020000|0.001|0.001"}},
      {hectares,
       kHectare,
       4,
       {"330102001001|0.0667|0.0667", "3301020010010010000|0.0666|0.0666",
        "3301020010010020000|0.0001|0.0001"}}};
  for (const auto& t : tables) {
    ASSERT_EQ(context->CreateJbntKtzTable(t.table), 1);
    EXPECT_EQ(context->SumJbntKtzGd(t.table, 0, t.unit, t.decimals), 1);
    EXPECT_EQ(Rows(conn(), "select XZQDM, XZQZMJ, BM011K from " + t.table + first_village), t.rows);
  }
  EXPECT_EQ(context->m_nErrCount, 0) << testing::ReadFileBytes(log_);
}

// A situation level that fails ends its table: logged, and its statement
// kept in a profile named after the table among the failed statements.
TEST_P(JbntGdTablesTest, FailedSituationLevelIsLoggedAndItsStatementKept) {
  auto context = Build({}, {}, {});
  const std::string target = context->Names().Summary('Z', kSquareMetre, "JBNTQKTJGD");
  EXPECT_EQ(context->SumJbntQktjGdLevels(target, "no_such_copy", false, 0, 2), 0);
  EXPECT_EQ(context->m_nErrCount, 1);
  const std::string statement = host::GetPrivateProfileString(
      "输入SQL", "SQL", "", home_.File("ERROR_StatSQL/" + target + ".ini"));
  EXPECT_NE(statement.find("no_such_copy"), std::string::npos) << statement;
}

LANDSTAT_BOTH_ENGINES(JbntGdTablesTest);

class JbntGdCountyTest : public BothEngines {};

// A generated county run under "广东农村": no failure; the Guangdong copies
// add up to the county total converted into their units, each row's
// classes to its total; the situation table after supplementing is the
// general one.
TEST_P(JbntGdCountyTest, GuangdongRunAddsUpInEveryUnit) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::InstallStatementScripts();
  const testing::GeneratedCountyRun county(home, 31, 600);
  const RunReport report = county.RunProject("广东农村", database().ConnectionString(), Mode());
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county.log);
  EXPECT_EQ(report.failures, 0) << testing::ReadFileBytes(county.log);

  db::Connection result(database().ConnectionString());
  const std::string stem = IsServer() ? "2009" + county.options.county_code : "";
  const double total =
      Numbers(result, "select sum(土地总面积) from " + std::string(IsServer() ? "D" : "") + stem +
                          "statdata_jbntGD")
          .at(0);
  ASSERT_GT(total, 0);
  struct Copy {
    const char* unit;
    double factor;
    int decimals;
  };
  for (const Copy& copy : {Copy{"PM", 1, 2}, Copy{"GQ", 1e-4, 4}, Copy{"MU", 0.0015, 2}}) {
    const std::string table = copy.unit + stem + "statdata_jbntGD";
    const double scale = std::pow(10, copy.decimals);
    EXPECT_NEAR(Numbers(result, "select sum(土地总面积) from " + table).at(0),
                std::floor(total * copy.factor * scale + 0.5) / scale, 1e-6)
        << table;
    std::string classes;
    for (const db::ColumnInfo& column : result.Columns(table)) {
      if (column.name.size() == 4 && (column.name[0] == 'B' || column.name[0] == 'b')) {
        classes += "-" + column.name;
      }
    }
    for (double difference : Numbers(result, "select 土地总面积" + classes + " from " + table)) {
      EXPECT_NEAR(difference, 0, 0.5 / scale) << table;
    }
  }
  for (const char* copy : {"ZPM", "ZGQ", "ZMU", "QPM", "QGQ", "QMU"}) {
    const auto rows = [&](const char* base) {
      return Rows(result, "select * from " + (copy + stem) + base + " order by XZQDM");
    };
    EXPECT_EQ(rows("JBNTQKTJGDBHH"), rows("JBNTQKTJ")) << copy;
    EXPECT_FALSE(rows("JBNTKTZGD").empty()) << copy;
    EXPECT_FALSE(rows("JBNTQKTJGD").empty()) << copy;
  }
}

LANDSTAT_BOTH_ENGINES(JbntGdCountyTest);

}  // namespace
}  // namespace landstat
