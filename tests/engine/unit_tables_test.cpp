// The unit copies of the base table, the area-unit table and the copies of
// layer attributes into the database.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/layer_tables.h"
#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::FixtureField;
using testing::kGroup;
using testing::OpenSurvey;
using testing::Rows;
using testing::ScopedLayer;
using testing::ScopedProgramDir;
using testing::SurveyFeatures;
using testing::WriteStatConfig;
using Strings = std::vector<std::string>;

FieldValues Parcel(const std::string& number, const std::string& area,
                   const std::string& slope = "") {
  return {{"图斑编号", number},     {"地类编码", "011"},     {"图斑地类面积", area},
          {"耕地坡度级", slope},    {"权属性质", "30"},      {"权属单位代码", kGroup},
          {"座落单位代码", kGroup}, {"座落单位名称", "一组"}};
}

class UnitTablesTest : public BothEngines {
 protected:
  // A table's name in this engine's naming: "D" + year + county in front of
  // plain tables and the year and county after a unit prefix on a server.
  std::string Plain(const std::string& base, const std::string& year = "2009") const {
    return IsServer() ? "D" + year + "330102" + base : base;
  }
  std::string Copy(const std::string& unit, const std::string& base = "statdata") const {
    return unit + (IsServer() ? "2009330102" : "") + base;
  }

  std::unique_ptr<CStatContext> Context(short change = 0, const std::string& year = "2009") {
    if (!codes_) codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    auto context = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, change, 0, 0, codes_.get(),
                                                  year, "330102", "", 1, "");
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    return context;
  }

  // The base table of the parcels, filled.
  std::unique_ptr<CStatContext> BaseTable(const std::vector<FieldValues>& parcels) {
    SurveyFeatures features;
    features.parcels = parcels;
    testing::WriteSurvey(survey_, features);
    OpenSurvey survey(survey_);
    auto context = Context();
    context->SetSourceLayers(survey.parcel, survey.line, survey.point);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    EXPECT_EQ(context->BuildStatDataDirect(), 1);
    return context;
  }

  ScopedProgramDir home_;
  std::string survey_ = home_.File("survey.gpkg");
  std::unique_ptr<gis::RuralCode> codes_;
};

// Unit copies ------------------------------------------------------------

TEST_P(UnitTablesTest, CopiesHoldTheBaseRowsInTheirUnits) {
  WriteStatConfig(testing::kThreeUnits);
  // Figures whose rounded rows add up to the rounded total in both units, so
  // each row of a copy holds its own rounding.
  auto context = BaseTable({Parcel("1", "1.5", "3"), Parcel("2", "0.4"), Parcel("3", "0.1"),
                            Parcel("4", "30"), Parcel("5", "3"), Parcel("6", "0.3"),
                            Parcel("7", "12345.67"), Parcel("8", "70"), Parcel("9", "2")});
  ASSERT_EQ(context->CreateUnitStatTables(), 1);
  ASSERT_EQ(context->FillUnitStatTables(), 1);
  EXPECT_EQ(context->m_nErrCount, 0);

  const std::string areas = "select 图斑编号, 土地总面积, BM011, BM01, BM013, 耕地坡度级 from ";
  // Square metres: the base rows as they are.
  EXPECT_EQ(Rows(conn(), "select * from " + Copy("PM")),
            Rows(conn(), "select * from " + Plain("statdata")));
  // Hectares at 4 decimals and mu at 2, halves away from zero as the
  // decimal form reads (1.5 m² is 0.00015 ha and 30 m² 0.045 mu, both held
  // a little below the half).
  EXPECT_EQ(Rows(conn(), areas + Copy("GQ")),
            (Strings{"1|0.0002|0.0002|0.0002|0|3", "2|0|0|0|0|0", "3|0|0|0|0|0",
                     "4|0.003|0.003|0.003|0|0", "5|0.0003|0.0003|0.0003|0|0", "6|0|0|0|0|0",
                     "7|1.2346|1.2346|1.2346|0|0", "8|0.007|0.007|0.007|0|0",
                     "9|0.0002|0.0002|0.0002|0|0"}));
  EXPECT_EQ(
      Rows(conn(), areas + Copy("MU")),
      (Strings{"1|0|0|0|0|3", "2|0|0|0|0|0", "3|0|0|0|0|0", "4|0.05|0.05|0.05|0|0", "5|0|0|0|0|0",
               "6|0|0|0|0|0", "7|18.52|18.52|18.52|0|0", "8|0.11|0.11|0.11|0|0", "9|0|0|0|0|0"}));
  // Every other column is copied as it is.
  const std::string others = "select 来源, 图斑编号, 座落单位代码, 座落单位名称, 村名称 from ";
  const Strings base = Rows(conn(), others + Plain("statdata"));
  EXPECT_EQ(Rows(conn(), others + Copy("GQ")), base);
  EXPECT_EQ(Rows(conn(), others + Copy("MU")), base);

  // The extension table: the base table's columns, no rows.
  ASSERT_TRUE(conn().TableExists(Plain("statdataex")));
  EXPECT_EQ(conn().Columns(Plain("statdataex")).size(), conn().Columns(Plain("statdata")).size());
  EXPECT_TRUE(Rows(conn(), "select * from " + Plain("statdataex")).empty());

  // Made again, the copies are replaced, not added to.
  ASSERT_EQ(context->CreateUnitStatTables(), 1);
  ASSERT_EQ(context->FillUnitStatTables(), 1);
  EXPECT_EQ(Rows(conn(), areas + Copy("MU")).size(), 9u);
}

// Each area of the hectare and mu copies is what the engine's rounding of
// the converted figure gives, to the bit: halves, long fractions, figures
// far beyond any county, and on the embedded engine an infinite one. Both
// ways of filling a copy: its statement, and on the embedded engine the
// fill in memory of all copies from one read.
TEST_P(UnitTablesTest, CopiesRoundEachAreaAsTheEngineRoundsIt) {
  WriteStatConfig(testing::kThreeUnits);
  auto context = Context();
  ASSERT_EQ(context->CreateStatDataTable(), 1);
  std::vector<double> areas = {0,         1.5,       2.5,    30,   26750, 12345.65, 0.123456789,
                               3.3333333, 9.87654e9, 6.6e14, 3e15, 1e300, -26750};
  if (!IsServer()) areas.push_back(std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < areas.size(); ++i) {
    conn().Execute("insert into " + Plain("statdata") + " (序号, BM011) values (?, ?)",
                   {std::to_string(100 + i), areas[i]});
  }
  ASSERT_EQ(context->CreateUnitStatTables(), 1);
  std::vector<units::ConvertedCopy> copies;
  for (const auto& [unit, name] : context->UnitCopies()) {
    if (unit == context->m_nUnitSrc) continue;
    ASSERT_EQ(context->FillUnitCopy(name, unit, context->DecimalsOf(unit)), 1);
    copies.push_back({name,
                      FactorText(context->m_nUnitSrc, unit),
                      UnitFactor(context->m_nUnitSrc, unit),
                      context->DecimalsOf(unit),
                      {}});
  }
  for (int in_memory = 0; in_memory <= (IsServer() ? 0 : 1); ++in_memory) {
    if (in_memory) {
      for (const auto& copy : copies) conn().Execute("delete from " + copy.table);
      const auto filled =
          units::FillConvertedCopies(conn(), Plain("statdata"), copies,
                                     units::SortClassColumns(*context), {"村级代码", "'%'", true});
      ASSERT_EQ(filled.size(), copies.size());
      EXPECT_EQ(filled[0]->Size(), areas.size());
    }
    for (const auto& copy : copies) {
      SCOPED_TRACE(copy.table + (in_memory ? " in memory" : " by its statement"));
      const std::string rounded =
          context->Dialect().Round("BM011" + copy.factor_text, copy.decimals);
      EXPECT_EQ(testing::Numbers(conn(), "select BM011 from " + copy.table + " order by 序号"),
                testing::Numbers(conn(), "select CASE WHEN BM011=0 THEN 0 ELSE " + rounded +
                                             " END from " + Plain("statdata") + " order by 序号"));
    }
  }
}

// A copy that refuses a row fails the fill: it is logged, no copy keeps
// rows, and no scratch file is left beside the database. With one copy
// and with several (written at once on the embedded engine).
TEST_P(UnitTablesTest, ACopyThatRefusesARowFailsTheFillAndKeepsNothing) {
  for (const char* config : {testing::kThreeUnits, "[AreaUnit]\nUnit1=平方米\nUnit2=亩\n"}) {
    SCOPED_TRACE(config);
    WriteStatConfig(config);
    auto context = BaseTable({Parcel("1", "10"), Parcel("2", "20"), Parcel("3", "30")});
    ASSERT_EQ(context->CreateUnitStatTables(), 1);
    // The mu copy's 图斑编号 holds one character; the third parcel's is longer.
    conn().Execute("update " + Plain("statdata") + " set 图斑编号='33' where 图斑编号='3'");
    const std::string mu = Copy("MU");
    if (IsServer()) {
      conn().Execute("alter table " + mu + " alter column 图斑编号 type varchar(1)");
    } else {
      std::string create =
          conn().Scalar("select sql from sqlite_master where name=?", {mu}).AsText();
      const std::string wide = "\"图斑编号\" varchar(60)";
      ASSERT_NE(create.find(wide), std::string::npos);
      create.replace(create.find(wide), wide.size(), "\"图斑编号\" varchar(1)");
      conn().Execute("drop table " + mu);
      conn().Execute(create);
    }
    const long failures = context->m_nErrCount;
    EXPECT_EQ(context->FillUnitStatTables(), 0);
    EXPECT_GT(context->m_nErrCount, failures);
    for (const auto& [unit, name] : context->UnitCopies()) {
      if (unit == context->m_nUnitSrc) continue;
      EXPECT_TRUE(Rows(conn(), "select * from " + name).empty()) << name;
    }
    if (!IsServer()) {
      const std::filesystem::path file(conn().FilePath());
      for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        EXPECT_NE(entry.path().filename().string().rfind(file.filename().string() + "-", 0), 0u)
            << entry.path();
      }
    }
  }
}

TEST_P(UnitTablesTest, CountyBatchWantsHectaresOfOneScope) {
  WriteStatConfig(testing::kThreeUnits);
  auto both = BaseTable({Parcel("1", "10")});
  both->m_bNoPmTables = true;
  ASSERT_EQ(both->CreateUnitStatTables(), 1);
  EXPECT_TRUE(both->m_bPm);
  EXPECT_TRUE(both->m_bGq);
  EXPECT_FALSE(both->m_bMu);
  EXPECT_EQ(both->m_nStatScope, 0);

  WriteStatConfig("[AreaUnit]\nUnit1=亩\n[TYPE]\nType=1\n");
  auto ownership = BaseTable({Parcel("1", "10")});
  ownership->m_bNoPmTables = true;
  ASSERT_EQ(ownership->CreateUnitStatTables(), 1);
  EXPECT_TRUE(ownership->m_bPm);
  EXPECT_TRUE(ownership->m_bGq);
  EXPECT_FALSE(ownership->m_bMu);
  EXPECT_EQ(ownership->m_nStatScope, 1);
  // Without hectares configured, the hectare copy is made all the same.
  EXPECT_TRUE(conn().TableExists(Copy("GQ")));
  ASSERT_EQ(ownership->FillUnitStatTables(), 1);
  EXPECT_EQ(ownership->m_nErrCount, 0);
}

// Area units -------------------------------------------------------------

TEST_P(UnitTablesTest, AreaUnitsAreRecordedOncePerYearKindAndUnit) {
  WriteStatConfig(testing::kThreeUnits);
  const std::string table = IsServer() ? "D330102AreaUnit" : "AreaUnit";
  auto context = Context();
  ASSERT_EQ(context->CreateAreaUnitTable(), 1);
  ASSERT_TRUE(conn().TableExists(table));
  conn().Execute("insert into " + table +
                 " (年度, TYPE, AREAUNIT) values ('2008', '土地利用', '亩')");
  // The table is kept with what it holds.
  ASSERT_EQ(context->CreateAreaUnitTable(), 1);

  const std::string rows =
      "select 年度, TYPE, AREAUNIT from " + table + " order by 年度, TYPE, AREAUNIT";
  // With them the unit of the base table; the extension table holds none.
  Strings expected = {"2008|土地利用|亩",     "2009|土地利用|亩",    "2009|土地利用|公顷",
                      "2009|土地利用|平方米", "2009|基本农田|亩",    "2009|基本农田|公顷",
                      "2009|基本农田|平方米", "2009|statdata|平方米"};
  ASSERT_EQ(context->RecordAreaUnits(), 1);
  Strings written = Rows(conn(), rows);
  std::sort(written.begin(), written.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(written, expected);

  // A second run of the same year adds nothing.
  ASSERT_EQ(context->RecordAreaUnits(), 1);
  written = Rows(conn(), rows);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expected);

  // Another year with square metres only adds its own rows.
  WriteStatConfig("");
  auto next = Context(0, "2010");
  ASSERT_EQ(next->CreateAreaUnitTable(), 1);
  ASSERT_EQ(next->RecordAreaUnits(), 1);
  written = Rows(conn(), "select TYPE, AREAUNIT from " + table + " where 年度='2010'");
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (Strings{"statdata|平方米", "土地利用|平方米", "基本农田|平方米"}));
  EXPECT_EQ(context->m_nErrCount + next->m_nErrCount, 0);
}

// Layer attributes into the database ---------------------------------------

const std::vector<FixtureField> kChangeFields = {
    {"变更前座落代码", OFTString}, {"变更后座落代码", OFTString}, {"变更前权属性质", OFTString},
    {"变更后权属性质", OFTString}, {"变更前地类号", OFTString},   {"变更后地类号", OFTString},
    {"变更面积", OFTReal},         {"序号", OFTInteger64}};

// Every field is copied. A record whose area cannot be counted (missing,
// not a number, negative, infinite or above 1e10 m²) is logged with layer,
// record and field and not copied; a layer lacking a field the balance
// sheet reads copies nothing.
TEST_P(UnitTablesTest, ChangeRecordsAreCopiedIntoTheDatabase) {
  const std::string source = home_.File("change.gpkg");
  testing::WriteFixtureLayer(
      source, "变更汇总", wkbPolygon, kChangeFields,
      {{"POLYGON ((0 0,1 0,1 1,0 0))",
        {{"变更前地类号", "011"}, {"变更后地类号", "203"}, {"变更面积", "12.5"}, {"序号", "1"}}},
       {"", {{"变更前地类号", "王'家"}, {"变更后地类号", ""}, {"序号", "2"}}},
       {"", {{"变更面积", "0.25"}}},
       {"", {{"变更面积", "-100"}}},
       {"", {{"变更面积", "1e308"}}},
       {"", {{"变更面积", "1"}}}});
  testing::RunFixtureSql(source, "UPDATE \"变更汇总\" SET \"变更面积\" = 'abc' WHERE fid = 6");
  ScopedLayer change(gis::OpenLayer(source, "变更汇总"));
  auto context = Context(change);
  const std::string table = Plain("ndChange");
  const std::string rows = "select 变更前地类号, 变更后地类号, 变更面积, 序号 from " + table;
  const Strings expected = {"011|203|12.5|1", "||0.25|"};

  ASSERT_EQ(context->BuildChangeTable(), 1);
  EXPECT_EQ(Rows(conn(), rows), expected);
  std::vector<db::FieldType> types;
  for (const db::ColumnInfo& column : conn().Columns(table)) types.push_back(column.type);
  std::vector<db::FieldType> wanted(6, db::FieldType::kText);
  wanted.insert(wanted.end(), {db::FieldType::kDouble, db::FieldType::kInteger});
  EXPECT_EQ(types, wanted);
  EXPECT_EQ(context->m_nErrCount, 4);
  for (const char* record : {"2", "4", "5", "6"}) {
    const std::string named = std::string("图层 变更汇总 记录 ") + record + " 字段 变更面积";
    EXPECT_TRUE(
        std::any_of(context->m_arrFirstFailures.begin(), context->m_arrFirstFailures.end(),
                    [&](const std::string& line) { return line.find(named) != std::string::npos; }))
        << named;
  }
  // Copied again: the table is replaced.
  ASSERT_EQ(context->BuildChangeTable(), 1);
  EXPECT_EQ(Rows(conn(), rows), expected);

  const std::string lacking = home_.File("lacking.gpkg");
  testing::WriteFixtureLayer(lacking, "变更汇总", wkbPolygon,
                             {kChangeFields.begin(), kChangeFields.begin() + 6}, {});
  ScopedLayer without_area(gis::OpenLayer(lacking, "变更汇总"));
  auto refused = Context(without_area);
  EXPECT_EQ(refused->BuildChangeTable(), 0);
  EXPECT_EQ(refused->m_nErrCount, 1);
  EXPECT_EQ(refused->m_strLogTitle, "图层 变更汇总 缺少字段 变更面积");
}

TEST_P(UnitTablesTest, NoChangeLayerCopiesNothing) {
  auto context = Context();
  EXPECT_EQ(context->BuildChangeTable(), 1);
  EXPECT_FALSE(conn().TableExists(Plain("ndChange")));
  EXPECT_EQ(AiToDB(0, conn(), "nolayer"), 0);
  EXPECT_EQ(AiToDB(777, conn(), "nolayer"), 0);
  EXPECT_FALSE(conn().TableExists("nolayer"));
  EXPECT_EQ(context->m_nErrCount, 0);
}

LANDSTAT_BOTH_ENGINES(UnitTablesTest);

}  // namespace
}  // namespace landstat
