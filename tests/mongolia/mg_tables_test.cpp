// The Inner Mongolia context and its tables built by hand: the units, the
// column list, the base table's rows from each layer, the area-unit records
// and the ownership-code table.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/shared_code_tables.h"
#include "mongolia/mg_fixture.h"
#include "platform/db/backend.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::kMgOwner;
using testing::Rows;
using Strings = std::vector<std::string>;

Strings Sorted(Strings rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

class MgTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n");
    codes_.reset(gis::RuralCode::FromEntries(testing::MgCodeEntries()));
  }

  // The base table built from the survey; the context is kept for its log.
  std::unique_ptr<CMgStatContext> Build(const testing::SurveyFeatures& survey) {
    const std::string path = home_.File("survey.gpkg");
    testing::WriteSurvey(path, survey);
    testing::OpenSurvey layers(path);
    auto context = testing::MgContext(codes_.get(), database().ConnectionString(), layers.parcel,
                                      layers.line, layers.point);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    EXPECT_EQ(context->BuildStatDataDirect(), 1);
    return context;
  }

  // The database as a builder left it (a compaction replaces the file).
  Strings After(const std::string& sql) {
    db::Connection after(database().ConnectionString());
    return Rows(after, sql);
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
};

TEST_P(MgTablesTest, BaseRowsOfEachLayer) {
  const std::vector<FieldValues> lines = {
      testing::MgLine("0.5", "10.3"), testing::MgLine("0.5", "10.4"), testing::MgLine("1", "7.25"),
      testing::MgLine("", "3"), testing::MgLine("0.5", "2", {{"内蒙古权属单位代码1", ""}})};
  const std::vector<FieldValues> points = {{{"地类编码", "123"},
                                            {"座落图斑编号", "1"},
                                            {"座落单位代码", kMgOwner},
                                            {"座落单位名称", "一队"},
                                            {"零星地物面积", "1.5"},
                                            {"内蒙古权属单位代码", testing::kMgCategory}}};
  const std::vector<FieldValues> parcels = {
      testing::MgParcel("1", "011", "100",
                        {{"扣除地类编码", "011"}, {"扣除地类面积", "12.25"}, {"耕地坡度级", "2"}}),
      testing::MgParcel("2", "0101", "20"),
      testing::MgParcel("3", "999", "5"),
      testing::MgParcel("4", "011", "1", {{"座落单位代码", ""}}),
      testing::MgParcel("5", "011", "3", {{"扣除地类编码", "998"}, {"扣除地类面积", "1"}}),
      testing::MgParcel("6", "011", "4", {{"座落单位名称", std::string(41, 'x')}})};
  const auto context = Build(testing::MgSurvey(parcels, lines, points));
  const std::string table = "statdataMG";
  // Halves add up to the rounded area; other ratios go whole to side 1; an
  // empty owner on side 1 leaves only side 2.
  EXPECT_EQ(
      Sorted(After("select 来源, 图斑编号, 耕地坡度级, 土地总面积 from " + table)),
      Sorted({"线状地物|1||5.1", "线状地物|2||5.2", "线状地物|1||5.2", "线状地物|2||5.2",
              "线状地物|1||7.3", "线状地物|1||3", "线状地物|2||1", "零星地物|1|0|1.5",
              "地类图斑扣除|1|1|12.3", "地类图斑|1|2|100", "地类图斑|2|0|20", "地类图斑|5|0|3"}));
  // Classes book their parents that are columns (BM010 is none).
  EXPECT_EQ(Sorted(After("select 图斑编号, BM01, BM011, BM0101 from " + table +
                         " where 来源 <> '线状地物' and 来源 <> '零星地物'")),
            Sorted({"1|12.3|12.3|0", "1|100|100|0", "2|20|0|20", "5|3|3|0"}));
  // An 8-character ownership code stands for its three lower levels.
  EXPECT_EQ(After("select 县级代码, 县名称, 类别码, 类别名称, 管局级码, 管局下属二级单位码 from " +
                  table + " where 来源 = '零星地物'"),
            Strings{"150102|新城区|15010201|国营农场|15010201|15010201"});
  EXPECT_EQ(After("select 管局级名称, 管局下属二级单位名称 from " + table +
                  " where 来源 = '地类图斑' and 图斑编号 = '2'"),
            Strings{"农垦局|一分场"});
  // The unknown classes and the name too long for its column are logged
  // under their row titles (a refused deduction leaves the parcel's own
  // row); the parcel without a location is only counted in a notice.
  ASSERT_EQ(context->m_nErrCount, 3);
  EXPECT_NE(context->m_arrFirstFailures[0].find("图元号 3 地类码 BM999 座落单位代码 " + kMgOwner +
                                                "  添加地类图斑数据失败"),
            std::string::npos)
      << context->m_arrFirstFailures[0];
  EXPECT_NE(context->m_arrFirstFailures[1].find("图元号 5 地类码 BM998"), std::string::npos);
  EXPECT_NE(context->m_arrFirstFailures[2].find("图元号 6 地类码 BM011"), std::string::npos);
  // The groupings the copies and the ledger are made from hold the rows
  // stored, and those only.
  const mg::MgCopy copy = context->BaseGroups().TakeCopy();
  double total = 0;
  for (std::size_t row = 0; row < copy.Rows(); ++row) total += copy.Row(row)[0];
  EXPECT_EQ(After("select sum(土地总面积) from " + table), Strings{db::Value(total).AsText()});
  EXPECT_EQ(After("select count(*) from (select distinct 内蒙古权属单位代码, 内蒙古权属单位名称, "
                  "座落单位代码, 图斑编号 from " +
                  table + ") t"),
            Strings{std::to_string(context->BaseGroups().Ledger().size())});
  ASSERT_EQ(context->m_arrNotices.size(), 2u);  // the empty side 1, the empty location
  EXPECT_NE(context->m_arrNotices.back().find("图层 地类图斑 1 个图元"), std::string::npos);
}

TEST_P(MgTablesTest, AreaUnitRecordsAreKeptOncePerYearKindAndUnit) {
  auto context = testing::MgContext(codes_.get(), database().ConnectionString());
  EXPECT_EQ(context->RecordAreaUnit("土地利用", "亩"), -1);
  ASSERT_EQ(context->CreateAreaUnitTable(), 1);
  for (int run = 0; run < 2; ++run) EXPECT_EQ(context->RecordAreaUnit("土地利用", "亩"), 1);
  ASSERT_EQ(context->CreateAreaUnitTable(), 1);  // kept as it is
  auto later =
      std::make_unique<CMgStatContext>(0, 0, 0, 0, codes_.get(), "2010", testing::kMgCounty, "", 1);
  ASSERT_EQ(later->InitUnits(database().ConnectionString(), 0), 1);
  EXPECT_EQ(later->RecordAreaUnit("土地利用", "亩"), 1);
  EXPECT_EQ(Sorted(Rows(conn(), "select 年度, TYPE, AREAUNIT from AreaUnitMG")),
            (Strings{"2009|土地利用|亩", "2010|土地利用|亩"}));
}

TEST_P(MgTablesTest, OwnershipCodesAsTheyStandNameFirst) {
  auto context = testing::MgContext(codes_.get(), database().ConnectionString());
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(context->CreateQsdmbMGTable(), 1);
    ASSERT_EQ(context->FillQsdmbMG(), 1);
  }
  EXPECT_EQ(Sorted(Rows(conn(), "select * from QSDMBMG")),
            Sorted({"新城区|150102", "国营农场|15010201", "农垦局|1501020101",
                    "一分场|1501020101001", "一队|1501020101001000001"}));
  CMgStatContext without(0, 0, 0, 0, nullptr, "2009", testing::kMgCounty, "", 1);
  EXPECT_EQ(without.CreateQsdmbMGTable(), 0);
  EXPECT_EQ(without.FillQsdmbMG(), 0);
}

// The two fills of the base table, each by its own rules where they part
// ways (a linear side's location name, the slope grades, a class without a
// column, an empty location name or ownership code), alike where they
// agree; the staging table never stays. Each case is one feature, its rows
// told by their parcel number.
TEST_P(MgTablesTest, EachFillByItsOwnRules) {
  using testing::MgLine;
  using testing::MgParcel;
  using testing::MgPoint;
  const FieldValues line_of_h = {{"扣除图斑编号1", "H"}, {"扣除图斑编号2", "H"}};
  const struct {
    char layer;          // 'L' linear, 'S' scattered, 'P' parcel
    std::string number;  // the parcel number of its rows
    FieldValues feature;
    Strings direct, staged;  // 来源|座落单位名称|耕地坡度级|土地总面积|BM01
    const char* direct_failure = nullptr;
    const char* staged_failure = nullptr;
  } cases[] = {
      {'L',
       "H",
       MgLine("0.5", "10.3", line_of_h),
       {"线状地物|||5.1|0", "线状地物|||5.2|0"},
       {"线状地物|一队||5.1|0", "线状地物|一队||5.2|0"}},
      {'L',
       "W",
       MgLine("1", "7.25", {{"扣除图斑编号1", "W"}}),
       {"线状地物|||7.3|0"},
       {"线状地物|一队||7.3|0"}},
      {'L',
       "B",
       MgLine("0.5", "2",
              {{"扣除图斑编号1", "B"}, {"扣除图斑编号2", "B"}, {"内蒙古权属单位代码2", ""}}),
       {"线状地物|||1|0"},
       {"线状地物|一队||1|0"},
       nullptr,
       "字段 内蒙古权属单位代码2 ''"},
      {'S',
       "C",
       MgPoint("C", "011", "1.5", {{"耕地坡度级", "2级"}}),
       {"零星地物|一队|2|1.5|1.5"},
       {"零星地物|一队|2级|1.5|1.5"}},
      {'S',
       "D",
       MgPoint("D", "123", "1", {{"耕地坡度级", "3"}}),
       {"零星地物|一队|3|1|0"},
       {"零星地物|一队||1|0"}},
      {'S',
       "E",
       MgPoint("E", "123", "2", {{"座落单位名称", ""}}),
       {},
       {"零星地物|||2|0"},
       "零星地物 记录 3 字段 座落单位名称"},
      {'P',
       "F",
       MgParcel("F", "011", "100",
                {{"扣除地类编码", "011"}, {"扣除地类面积", "12.25"}, {"耕地坡度级", "2"}}),
       {"地类图斑扣除|一队|1|12.3|12.3", "地类图斑|一队|2|100|100"},
       {"地类图斑扣除|一队|2|12.3|12.3", "地类图斑|一队|2|100|100"}},
      {'P', "G", MgParcel("G", "0101", "20"), {"地类图斑|一队|0|20|20"}, {"地类图斑|一队||20|20"}},
      {'P', "U", MgParcel("U", "999", "5"), {}, {"地类图斑|一队||5|0"}, "BM999", "BM999"},
      {'P',
       "I",
       MgParcel("I", "011", "3", {{"内蒙古权属单位代码", ""}}),
       {},
       {},
       nullptr,
       "字段 内蒙古权属单位代码 ''"},
  };
  std::vector<FieldValues> lines, points, parcels;
  for (const auto& c : cases) {
    (c.layer == 'L' ? lines : c.layer == 'S' ? points : parcels).push_back(c.feature);
  }
  const std::string rows =
      "select 来源, 座落单位名称, 耕地坡度级, 土地总面积, BM01 from statdataMG where 图斑编号 = ";
  const auto check = [&](const CMgStatContext& context, bool staged) {
    std::string failures;
    for (const std::string& failure : context.m_arrFirstFailures) failures += failure + "\n";
    int failing = 0;
    for (const auto& c : cases) {
      SCOPED_TRACE(c.number + (staged ? " staged" : " row by row"));
      EXPECT_EQ(Sorted(After(rows + "'" + c.number + "'")), Sorted(staged ? c.staged : c.direct));
      if (const char* failure = staged ? c.staged_failure : c.direct_failure) {
        ++failing;
        EXPECT_NE(failures.find(failure), std::string::npos) << failures;
      }
    }
    EXPECT_EQ(context.m_nErrCount, failing) << failures;
  };
  check(*Build(testing::MgSurvey(parcels, lines, points)), false);
  testing::OpenSurvey layers(home_.File("survey.gpkg"));
  auto staged = testing::MgContext(codes_.get(), database().ConnectionString(), layers.parcel,
                                   layers.line, layers.point);
  ASSERT_EQ(staged->CreateStatDataTable(), 1);
  staged->m_pConn.Execute("create table statdataMGtbl (a text)");  // left by an earlier version
  ASSERT_EQ(staged->BuildStatData(), 1);
  check(*staged, true);
  EXPECT_FALSE(staged->m_pConn.TableExists("statdataMGtbl"));
}

// The copies are made from the groupings of the rows the base table holds:
// a second fill into the filled table is refused (the first one's rows and
// groupings serve on), and a fill that fails lets its groupings go, so that
// no copy is made from part of its rows.
TEST_P(MgTablesTest, SecondOrFailedFillLeavesNoGroupingsOfOtherRows) {
  const std::string path = home_.File("survey.gpkg");
  testing::WriteSurvey(path, testing::MgSurvey({testing::MgParcel("1", "011", "100")}));
  testing::OpenSurvey layers(path);
  auto context = testing::MgContext(codes_.get(), database().ConnectionString(), layers.parcel,
                                    layers.line, layers.point);
  ASSERT_EQ(context->CreateStatDataTable(), 1);
  ASSERT_EQ(context->BuildStatDataDirect(), 1);
  EXPECT_EQ(context->BuildStatData(), 0);
  EXPECT_NE(context->m_strLogLine.find("已有数据"), std::string::npos) << context->m_strLogLine;
  ASSERT_EQ(context->CreateUnitStatTables(), 1);
  EXPECT_EQ(context->FillUnitStatTables(), 1);
  EXPECT_EQ(context->FillUnitStatTables(), 0);  // the groupings were let go
  EXPECT_EQ(After("select count(*) from statdataMG"), Strings{"1"});
  // The base table refuses the temporary fill's rows (a column it leaves
  // out has no default), after they were grouped.
  ASSERT_EQ(context->CreateStatDataTable(), 1);
  context->m_pConn.Execute("alter table statdataMG add column 必填 int check (必填 is not null)");
  EXPECT_EQ(context->BuildStatData(), 0);
  EXPECT_EQ(context->FillUnitStatTables(), 0);
  EXPECT_NE(context->m_strLogLine.find("不是本次汇总填写的"), std::string::npos)
      << context->m_strLogLine;
}

// A layer without a field the rows need fills nothing, by either fill, with
// one failure naming the layer and the field.
TEST_P(MgTablesTest, LayerWithoutAFieldTheFillNeeds) {
  using Fields = std::vector<testing::FixtureField> testing::SurveyFeatures::*;
  for (const auto& [layer, fields, field] :
       {std::tuple<const char*, Fields, const char*>{
            "地类图斑", &testing::SurveyFeatures::parcel_fields, "扣除地类面积"},
        {"线状地物", &testing::SurveyFeatures::line_fields, "扣除比例"}}) {
    testing::SurveyFeatures survey = testing::MgSurvey({testing::MgParcel("1", "011", "100")});
    std::erase_if(survey.*fields, [&](const auto& entry) { return entry.name == field; });
    const std::string path = home_.File("survey.gpkg");
    testing::WriteSurvey(path, survey);
    testing::OpenSurvey layers(path);
    for (const bool staged : {false, true}) {
      auto context = testing::MgContext(codes_.get(), database().ConnectionString(), layers.parcel,
                                        layers.line, layers.point);
      ASSERT_EQ(context->CreateStatDataTable(), 1);
      EXPECT_EQ(staged ? context->BuildStatData() : context->BuildStatDataDirect(), 0) << field;
      EXPECT_EQ(context->m_nErrCount, 1) << field;
      EXPECT_EQ(context->m_strLogTitle, std::string("图层 ") + layer + " 缺少字段 " + field);
    }
  }
}

// The ledger: names of the location's levels from QSDMB, logged without
// it; the work table only beside the general run's rural table, made anew.
TEST_P(MgTablesTest, LedgerAndItsWorkTable) {
  const auto context = Build(testing::MgSurvey(
      {testing::MgParcel("007", "011", "10"), testing::MgParcel("007", "123", "2.5")}));
  const std::string ledger = "ZPMTDLYTZMG";
  ASSERT_EQ(context->CreateTdlyTzTables(), 1);
  EXPECT_EQ(context->StatTdlyTz(), 0);
  EXPECT_NE(context->m_strLogLine.find("汇总蒙古土地利用台帐失败"), std::string::npos);
  RefreshCountyRows(context->m_pConn, kQsdmbTable, "150102",
                    {{"1500000000000000000", "内蒙古自治区"},
                     {"1501020000000000000", "新城区"},
                     {kMgOwner, "一队"}});
  ASSERT_EQ(context->CreateTdlyTzTables(), 1);
  EXPECT_EQ(context->StatTdlyTz(), 1);
  EXPECT_EQ(After("select 省名称, 省级代码, 市名称, 县名称, 县级代码, 座落单位名称, 图斑编号, "
                  "土地总面积, BM01, BM12 from " +
                  ledger),
            Strings{"内蒙古自治区|15||新城区|150102|一队|007|12.5|10|2.5"});
  const std::string general = context->GeneralRuralSecondLevelTable();
  EXPECT_EQ(context->CreateTdlyEjflTzTable(), 0);
  EXPECT_NE(context->m_arrNotices.back().find(general), std::string::npos);
  context->m_pConn.Execute("create table " + general +
                           " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ float)");
  for (int run = 0; run < 2; ++run) EXPECT_EQ(context->CreateTdlyEjflTzTable(), 1);
  const std::vector<db::ColumnInfo> work = context->m_pConn.Columns("ZPMTDLY_EJFLTZMG");
  ASSERT_EQ(work.size(), 4u);
  EXPECT_EQ(work.back().type, db::FieldType::kText) << work.back().declared;
}

LANDSTAT_BOTH_ENGINES(MgTablesTest);

// The units of StatConfig.ini: their codes, decimals, copies and wants.
TEST(MgStatContextTest, UnitsFromTheConfiguration) {
  struct Case {
    const char* config;
    short codes[3], decimals[3];
    const char* copies[3];
    bool pm, gq, mu;
  };
  constexpr short kNone = kNoUnit;
  const Case cases[] = {
      {"Unit1=平方米\n",
       {2, kNone, kNone},
       {1, kNone, kNone},
       {"PMstatdataMG", "", ""},
       true,
       false,
       false},
      {"Unit1=公顷\nUnit2=亩\nUnit3=平方米\n",
       {0, 1, 2},
       {2, 1, 1},
       {"GQstatdataMG", "MUstatdataMG", "PMstatdataMG"},
       true,
       true,
       true},
      {"Unit1=英亩\nUnit2=英亩\n",
       {2, kNone, kNone},
       {1, kNone, kNone},
       {"PMstatdataMG", "", ""},
       true,
       false,
       false},
  };
  testing::ScopedProgramDir home;
  ASSERT_EQ(CreateAcessDB(home.File("stats.sqlite")), 1);
  for (const Case& c : cases) {
    testing::WriteStatConfig(std::string("[AreaUnit]\n") + c.config);
    CMgStatContext context(0, 0, 0, 0, nullptr, "2009", testing::kMgCounty, "", 1);
    ASSERT_EQ(context.InitUnits(home.File("stats.sqlite"), 0), 1);
    const short codes[3] = {context.m_nUnit1, context.m_nUnit2, context.m_nUnit3};
    const short decimals[3] = {context.m_nDec1, context.m_nDec2, context.m_nDec3};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(codes[i], c.codes[i]) << c.config << i;
      EXPECT_EQ(decimals[i], c.decimals[i]) << c.config << i;
      EXPECT_EQ(context.m_strStatTblUnit[i], c.copies[i]) << c.config << i;
    }
    EXPECT_EQ(
        (Strings{context.m_bPm ? "pm" : "", context.m_bGq ? "gq" : "", context.m_bMu ? "mu" : ""}),
        (Strings{c.pm ? "pm" : "", c.gq ? "gq" : "", c.mu ? "mu" : ""}))
        << c.config;
  }
}

TEST(MgStatContextTest, ColumnsOfTheCodeTable) {
  testing::ScopedProgramDir home;
  ASSERT_EQ(CreateAcessDB(home.File("stats.sqlite")), 1);
  std::vector<gis::CODESTRUCT> entries = testing::MgCodeEntries();
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(entries));
  CMgStatContext context(0, 0, 0, 0, codes.get(), "2009", testing::kMgCounty, "", 1);
  ASSERT_EQ(context.InitUnits(home.File("stats.sqlite"), 0), 1);
  ASSERT_EQ(context.LoadCodes(), 1);
  EXPECT_EQ(context.m_arrStatFields.size(), 29u);
  EXPECT_EQ(context.m_arrStatFields[20], "BM01");
  EXPECT_EQ(context.m_arrClass1Codes, (Strings{"01", "10", "12", "05"}));
  EXPECT_EQ(context.GetCodeName(testing::kMgBureau), "农垦局");
  EXPECT_EQ(context.GetCodeName("15"), "");
  // Without land classes: the twenty fixed columns; without any code: none.
  std::erase_if(entries, [](const gis::CODESTRUCT& e) { return e.type == "地类代码"; });
  codes.reset(gis::RuralCode::FromEntries(entries));
  context.m_pRuralCode = codes.get();
  ASSERT_EQ(context.LoadCodes(), 1);
  EXPECT_EQ(context.m_arrStatFields, kMgFixedColumns);
  codes.reset(gis::RuralCode::FromEntries({}));
  context.m_pRuralCode = codes.get();
  EXPECT_EQ(context.LoadCodes(), 0);
  EXPECT_TRUE(context.m_arrStatFields.empty());
  EXPECT_EQ(context.CreateStatDataTable(), 0);
  EXPECT_EQ(context.m_nErrCount, 1);
}

}  // namespace
}  // namespace landstat

namespace landstat {
namespace {

// The copies of units 2 and 3 are converted in memory from unit 1 to the
// figures the database's own rounding statement gives (the factor's steps
// from left to right, halves away from zero on the decimal form: 50 m² is
// 0.01 ha, 100 m² 0.2 mu), on either engine.
TEST_P(MgTablesTest, CopiesConvertedAsTheDatabaseRounds) {
  const struct {
    double metres, hectares, mu;
  } cases[] = {{150, 0.02, 0.2},      {100, 0.01, 0.2},         {50, 0.01, 0.1},
               {12345.6, 1.23, 18.5}, {1000.5, 0.1, 1.5},       {0, 0, 0},
               {3.3, 0, 0},           {4450000.7, 445, 6675.0}, {66666.7, 6.67, 100}};
  auto context = testing::MgContext(codes_.get(), database().ConnectionString());
  ASSERT_EQ(context->CreateUnitStatTables(), 1);
  for (const char* table : {"PMstatdataMG", "GQstatdataMG", "MUstatdataMG"}) {
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      context->m_pConn.Execute(
          std::string("insert into ") + table + " (座落单位代码, 土地总面积) values (?, ?)",
          {db::Value(std::to_string(100 + i)), db::Value(cases[i].metres)});
    }
  }
  context->ConvertUnitStatTables();
  const db::SqlDialect& dialect = context->Dialect();
  for (const auto& [unit, decimals] : {std::pair{kHectare, 2}, std::pair{kMu, 1}}) {
    const mg::MgCopy& copy = context->HeldCopy(unit);
    ASSERT_EQ(copy.Rows(), std::size(cases));
    // The statement's figures, in the copy's order (that of 座落单位代码).
    std::unique_ptr<db::RowSource> rows = context->m_pConn.Scan(
        "select " +
        dialect.Round(std::string("土地总面积") + FactorText(kSquareMetre, unit), decimals) +
        " from PMstatdataMG order by 座落单位代码");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      ASSERT_TRUE(rows->Next());
      const double figure = copy.Row(i)[0];
      EXPECT_EQ(figure, unit == kHectare ? cases[i].hectares : cases[i].mu) << cases[i].metres;
      EXPECT_EQ(figure, rows->Number(0)) << cases[i].metres << " " << unit;
    }
  }
}

}  // namespace
}  // namespace landstat
