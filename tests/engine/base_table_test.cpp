// The base table "statdata": its columns, and the rows the fill makes from
// a small survey whose rows are worked out by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/field_needs.h"
#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::kGroup;
using testing::kVillage;
using testing::OpenSurvey;
using testing::ReadFileBytes;
using testing::Rows;
using testing::ScopedProgramDir;
using testing::SurveyFeatures;
using testing::WriteFileBytes;
using testing::WriteStatConfig;
using Strings = std::vector<std::string>;

FieldValues Set(FieldValues values, const std::string& field, const std::string& value) {
  std::erase_if(values, [&](const auto& entry) { return entry.first == field; });
  values.emplace_back(field, value);
  return values;
}

// A road between parcel 1 of the group (side 1) and parcel 2 of the village
// (side 2).
FieldValues Road(const std::string& ratio, const std::string& area) {
  FieldValues values = {
      {"线状地物面积", area},      {"地类编码", "104"},           {"权属性质", "30"},
      {"扣除图斑编号1", "1"},      {"扣除图斑座落代码1", kGroup}, {"权属单位代码1", kGroup},
      {"权属单位名称1", "一组"},   {"扣除图斑编号2", "2"},        {"扣除图斑座落代码2", kVillage},
      {"权属单位代码2", kVillage}, {"权属单位名称2", "一村"}};
  if (!ratio.empty()) values.emplace_back("扣除比例", ratio);
  return values;
}

FieldValues Pond(const std::string& location) {
  return {{"地类编码", "114"},      {"座落图斑编号", "3"}, {"座落单位代码", location},
          {"零星地物面积", "12.5"}, {"权属性质", "30"},    {"权属单位代码", kVillage},
          {"权属单位名称", "一村"}};
}

FieldValues Parcel(const std::string& number, const std::string& class_code,
                   const std::string& area, const std::string& location = kGroup) {
  return {{"图斑编号", number},       {"地类编码", class_code},
          {"图斑地类面积", area},     {"权属性质", "30"},
          {"权属单位代码", kGroup},   {"权属单位名称", "一组"},
          {"座落单位代码", location}, {"座落单位名称", location == kGroup ? "一组" : ""}};
}

// Whether one line of the log names every part.
bool LogLineNames(const std::string& log, const Strings& parts) {
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
          return line.find(part) != std::string::npos;
        })) {
      return true;
    }
  }
  return false;
}

class BaseTableTest : public BothEngines {
 protected:
  std::string Table(const std::string& base = "statdata") const {
    return IsServer() ? "D2009330102" + base : base;
  }

  // A context on this test's database over the survey, with the codes
  // loaded and the log (when named) open.
  std::unique_ptr<CStatContext> Context(const OpenSurvey& survey, const std::string& log = {}) {
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    auto context =
        std::make_unique<CStatContext>(0, survey.parcel, survey.line, survey.point, 0, 0, 0, 0, 0,
                                       0, codes_.get(), "2009", "330102", log, 1, "");
    context->OpenStatLogFile();
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    return context;
  }

  // Writes the survey, builds and fills the base table; the fill's result.
  // The failures are counted and their log kept.
  short Build(const SurveyFeatures& features) {
    testing::WriteSurvey(survey_, features);
    for (const std::string& sql : survey_sql_) testing::RunFixtureSql(survey_, sql);
    const std::string log = home_.File("stat.log");
    WriteFileBytes(log, "");
    short result = 0;
    {
      OpenSurvey survey(survey_);
      auto context = Context(survey, log);
      context->m_setRunFamilies = run_families_;
      EXPECT_EQ(context->CreateStatDataTable(), 1);
      result = context->BuildStatDataDirect();
      errors_ = context->m_nErrCount;
      left_out_ = context->m_setLeftOutFamilies;
    }
    log_ = ReadFileBytes(log);
    return result;
  }

  Strings Select(const std::string& columns, const std::string& condition = "1=1") {
    return Rows(conn(), "select " + columns + " from " + Table() + " where " + condition);
  }

  // Column names (lower case, as a server folds them) and types of a table.
  std::vector<db::ColumnInfo> Columns(const std::string& table) {
    std::vector<db::ColumnInfo> columns = conn().Columns(table);
    for (db::ColumnInfo& column : columns) column.name = text::ToLowerAscii(column.name);
    return columns;
  }

  ScopedProgramDir home_;
  std::string survey_ = home_.File("survey.gpkg");
  std::unique_ptr<gis::RuralCode> codes_;
  Strings survey_sql_;                  // run on the survey once it is written
  std::set<std::string> run_families_;  // of the run the fill is part of
  int errors_ = 0;
  std::set<std::string> left_out_;
  std::string log_;
};

const char kPieceColumns[] =
    "来源, 图斑编号, 座落单位代码, 座落单位名称, 权属单位代码, 权属单位名称, 权属性质, "
    "土地总面积";

// Linear features --------------------------------------------------------

// A ratio of 0.5 halves the feature; any other books it whole to side 1, and
// so does a half whose side 2 is missing; a missing side 1 books nothing.
// Everything but the halves and the ratio 1 is logged.
TEST_P(BaseTableTest, LinearFeaturesAreBookedToTheirParcels) {
  SurveyFeatures survey;
  survey.lines = {Road("0.5", "0.03"),
                  Road("0.5", "0.04"),
                  Road("1", "0.035"),
                  Road("", "1.5"),
                  Road("0.4", "2.25"),
                  Set(Road("0.5", "0.03"), "扣除图斑编号1", ""),
                  Set(Set(Set(Road("0.5", "70.66"), "扣除图斑编号2", ""), "扣除图斑座落代码2", ""),
                      "权属单位代码2", ""),
                  Road("1", "0.5")};
  // Text in the numeric ratio column, which the source reads as 0.
  survey_sql_.push_back("UPDATE \"线状地物\" SET \"扣除比例\" = 'x' WHERE fid = 8");
  ASSERT_EQ(Build(survey), 1);
  const std::string side1 = "线状地物|1|" + kGroup + "|一组|" + kGroup + "|一组|30|";
  const std::string side2 = "线状地物|2|" + kVillage + "|一村|" + kVillage + "|一村|30|";
  EXPECT_EQ(Select(kPieceColumns), (Strings{side1 + "0.01", side2 + "0.02",  // halves of 0.03
                                            side1 + "0.02", side2 + "0.02",  // halves of 0.04
                                            side1 + "0.035",   // ratio 1: whole, as it is
                                            side1 + "1.5",     // no ratio
                                            side1 + "2.25",    // a ratio other than a half
                                            side1 + "70.66",   // no parcel on side 2
                                            side1 + "0.5"}));  // a ratio that is no number
  // The class column and its parent carry each piece.
  EXPECT_EQ(Select("sum(BM104), sum(BM10), sum(土地总面积), sum(BM01)"),
            (Strings{"75.015|75.015|75.015|0"}));
  EXPECT_EQ(errors_, 5) << log_;
  for (const Strings& line : {Strings{"线状地物", "记录 4 ", "扣除比例"},
                              Strings{"线状地物", "记录 5 ", "扣除比例", "0.4"},
                              Strings{"线状地物", "记录 8 ", "扣除比例 'x'"},
                              Strings{"线状地物", "记录 6 ", "扣除图斑编号1"},
                              Strings{"线状地物", "记录 7 ", "扣除图斑编号2"}}) {
    EXPECT_TRUE(LogLineNames(log_, line)) << line[1] << log_;
  }
}

// Scattered features -----------------------------------------------------

TEST_P(BaseTableTest, ScatteredFeaturesNeedALocation) {
  SurveyFeatures survey;
  survey.points = {Pond(kVillage), Pond("")};
  ASSERT_EQ(Build(survey), 1);
  EXPECT_EQ(Select(std::string(kPieceColumns) + ", BM114, BM11"),
            (Strings{"零星地物|3|" + kVillage + "|一村|" + kVillage + "|一村|30|12.5|12.5|12.5"}));
  EXPECT_TRUE(LogLineNames(log_, {"零星地物", "记录 2 ", "座落单位代码"})) << log_;
}

// Parcels ----------------------------------------------------------------

TEST_P(BaseTableTest, ParcelWithADeductionGivesTwoRows) {
  FieldValues terraced = Parcel("3", "011", "89.75");
  for (const auto& [field, value] : FieldValues{{"扣除地类编码", "123"},
                                                {"扣除地类面积", "10.25"},
                                                {"耕地坡度级", "2"},
                                                {"耕地类型", "TT"},
                                                {"地类备注", "K"},
                                                {"权属单位名称", "王'家"},
                                                {"批准文号", "浙土字[2009]1号"}}) {
    terraced = Set(terraced, field, value);
  }
  SurveyFeatures survey;
  survey.parcels = {terraced, Parcel("4", "203", "7")};
  ASSERT_EQ(Build(survey), 1);
  EXPECT_EQ(Select("来源, 图斑编号, 土地总面积, BM123, BM12, BM011, BM01, BM203, BM20"),
            (Strings{"地类图斑扣除|3|10.25|10.25|10.25|0|0|0|0",
                     "地类图斑|3|89.75|0|0|89.75|89.75|0|0", "地类图斑|4|7|0|0|0|0|7|7"}));
  EXPECT_EQ(
      Select("图斑编号, 耕地类型, 地类备注, 批准文号, 耕地坡度级, 权属单位名称", "来源='地类图斑'"),
      (Strings{"3|TT|K|浙土字[2009]1号|2|王'家", "4||||0|一组"}));
  EXPECT_EQ(errors_, 0) << log_;
}

// A location takes the code table's name where the code has one (a
// differing name of the layer is logged once); a code whose village the
// code table lacks is counted and logged.
TEST_P(BaseTableTest, LocationNamesAndLevelsComeFromTheCodeTable) {
  SurveyFeatures survey;
  survey.lines = {Set(Road("1", "4"), "扣除图斑座落代码1", "330102001999")};
  survey.parcels = {Set(Parcel("2", "011", "1", kGroup), "座落单位名称", "图层里的名称"),
                    Set(Parcel("3", "011", "1", kGroup), "座落单位名称", "图层里的名称"),
                    Set(Parcel("4", "011", "1", kVillage), "座落单位名称", "一村"),
                    Set(Parcel("5", "011", "1", "330102001999"), "座落单位名称", "图层里的名称")};
  ASSERT_EQ(Build(survey), 1);
  const std::string above = "|330102001|一乡|330102|上城区|3301|杭州市|33|浙江省";
  EXPECT_EQ(Select("图斑编号, 座落单位名称, 村级代码, 村名称, 乡级代码, 乡名称, 县级代码, 县名称, "
                   "市级代码, 市名称, 省级代码, 省名称"),
            (Strings{"1||330102001999|" + above, "2|一组|330102001001|一村" + above,
                     "3|一组|330102001001|一村" + above, "4|一村|330102001001|一村" + above,
                     "5|图层里的名称|330102001999|" + above}));
  EXPECT_EQ(errors_, 3) << log_;
  EXPECT_TRUE(LogLineNames(log_, {"地类图斑", "记录 1 ", "座落单位名称", "图层里的名称", "一组"}))
      << log_;
  EXPECT_TRUE(LogLineNames(log_, {"线状地物", "记录 1 ", "扣除图斑座落代码1", "330102001999"}))
      << log_;
  EXPECT_TRUE(LogLineNames(log_, {"地类图斑", "记录 4 ", "座落单位代码", "330102001999"})) << log_;
}

// Bad input --------------------------------------------------------------

// Each bad code is logged with layer, record, field and value, and its piece
// left out: the rows of the table always add up to their totals.
TEST_P(BaseTableTest, BadCodesAreLoggedAndTheirPiecesLeftOut) {
  SurveyFeatures survey;
  survey.lines = {Set(Road("1", "0.5"), "地类编码", "999"), Road("1", "3")};
  survey.parcels = {Set(Parcel("1", "011", "5"), "座落单位代码", ""),
                    Set(Parcel("2", "011", "5"), "权属单位代码", ""),
                    Parcel("3", "01", "5"),  // a class with classes below it
                    Parcel("4", "9", "5"),
                    Parcel("5", "014", "5"),
                    Set(Set(Parcel("6", "011", "5"), "扣除地类编码", "12"), "扣除地类面积", "1"),
                    Parcel("7", "203", "7")};
  ASSERT_EQ(Build(survey), 1);
  EXPECT_EQ(Select("来源, 图斑编号, 土地总面积"),
            (Strings{"线状地物|1|3", "地类图斑|6|5", "地类图斑|7|7"}));
  EXPECT_EQ(errors_, 7) << log_;
  for (const Strings& line : {Strings{"线状地物", "记录 1 ", "地类编码", "999"},
                              Strings{"地类图斑", "记录 1 ", "座落单位代码"},
                              Strings{"地类图斑", "记录 2 ", "权属单位代码"},
                              Strings{"地类图斑", "记录 3 ", "地类编码", "01"},
                              Strings{"地类图斑", "记录 4 ", "地类编码", "9"},
                              Strings{"地类图斑", "记录 5 ", "地类编码", "014"},
                              Strings{"地类图斑", "记录 6 ", "扣除地类编码", "12"}}) {
    EXPECT_TRUE(LogLineNames(log_, line)) << line[1] << line[2] << log_;
  }
}

// On a server the fill sends every other turn of rows through a second
// connection. Every piece is stored once, numbered in the order it was
// booked, and a piece refused in the second connection's turn is logged
// under its own record and row number, as on one connection.
TEST_P(BaseTableTest, FillOnTwoConnectionsStoresEveryPieceOnce) {
  if (!IsServer()) GTEST_SKIP() << "only a server fill takes a second connection";
  constexpr int kParcels = 17000;  // more than one turn of rows
  constexpr int kRefused = 16500;  // in the second connection's turn
  SurveyFeatures survey;
  for (int i = 1; i <= kParcels; ++i) {
    survey.parcels.push_back(Parcel(std::to_string(i), "011", "5"));
  }
  survey.parcels[kRefused - 1] =
      Set(survey.parcels[kRefused - 1], "权属单位名称", std::string(61, 'x'));
  testing::WriteSurvey(survey_, survey);
  const std::string log = home_.File("stat.log");
  WriteFileBytes(log, "");
  {
    OpenSurvey open(survey_);
    auto context = Context(open, log);
    ASSERT_EQ(context->CreateStatDataTable(), 1);
    db::Connection beside(database().ConnectionString());
    beside.BeginTrans();
    EXPECT_EQ(context->BuildStatDataDirect(&beside), 1);
    beside.CommitTrans();
    EXPECT_EQ(context->m_nErrCount, 1);
  }
  const std::string stored = std::to_string(kParcels - 1);
  EXPECT_EQ(
      Select("count(*), count(distinct 序号), max(cast(序号 as int)), sum(土地总面积)"),
      (Strings{stored + "|" + stored + "|" + stored + "|" + std::to_string(5 * (kParcels - 1))}));
  EXPECT_EQ(Select("count(*)", "图斑编号 = '" + std::to_string(kRefused) + "'"), Strings{"0"});
  EXPECT_TRUE(LogLineNames(ReadFileBytes(log), {"图元号 " + std::to_string(kRefused),
                                                "new row " + std::to_string(kRefused)}))
      << ReadFileBytes(log);
}

// Areas the fill refuses: missing, no number, negative, not finite or larger
// than any county, as text in a text field and as a numeric column of a
// GeoPackage holds them. Each is logged with layer, record and field, and its
// piece left out.
TEST_P(BaseTableTest, BadAreasAreLoggedAndLeftOut) {
  const Strings texts = {"", "abc", "1,5", "-3", "1e20", "3.4e38", "1e308", "nan"};
  const Strings stored = {"NULL", "''", "'abc'", "'1,5'", "-1", "3.4e38", "1e308", "9e999"};
  SurveyFeatures survey;
  for (const std::string& text : texts) {
    survey.parcels.push_back(Parcel(std::to_string(survey.parcels.size() + 1), "011", text));
  }
  for (const std::string& value : stored) {
    const std::string number = std::to_string(survey.parcels.size() + 1);
    survey.parcels.push_back(
        Set(Set(Parcel(number, "011", "2"), "扣除地类编码", "123"), "扣除地类面积", "1"));
    survey_sql_.push_back("UPDATE \"地类图斑\" SET \"扣除地类面积\" = " + value +
                          " WHERE fid = " + number);
  }
  survey.parcels.push_back(Parcel("17", "011", "0"));
  ASSERT_EQ(Build(survey), 1);
  EXPECT_EQ(Select("count(*), sum(土地总面积)"), (Strings{"9|16"}));
  EXPECT_EQ(Select("count(*)", "来源='地类图斑扣除'"), (Strings{"0"}));
  EXPECT_EQ(errors_, 16) << log_;
  for (std::size_t i = 0; i < texts.size() + stored.size(); ++i) {
    const char* field = i < texts.size() ? "图斑地类面积" : "扣除地类面积";
    EXPECT_TRUE(LogLineNames(log_, {"地类图斑", "记录 " + std::to_string(i + 1) + " ", field}))
        << i << log_;
  }
}

// A layer without a field the fill needs stops the fill with one failure
// that names the layer and the field.
TEST_P(BaseTableTest, LayerWithoutAFieldTheFillNeeds) {
  using Fields = std::vector<testing::FixtureField> SurveyFeatures::*;
  for (const auto& [layer, fields, field] :
       {std::tuple<const char*, Fields, const char*>{"线状地物", &SurveyFeatures::line_fields,
                                                     "扣除图斑编号1"},
        {"零星地物", &SurveyFeatures::point_fields, "零星地物面积"},
        {"地类图斑", &SurveyFeatures::parcel_fields, "图斑地类面积"},
        {"地类图斑", &SurveyFeatures::parcel_fields, "扣除地类编码"}}) {
    SurveyFeatures survey;
    std::erase_if(survey.*fields, [&](const auto& entry) { return entry.name == field; });
    EXPECT_EQ(Build(survey), 0) << layer;
    EXPECT_EQ(errors_, 1) << layer << log_;
    EXPECT_TRUE(LogLineNames(log_, {layer, field})) << log_;
  }
}

// A layer without a field only some tables of the run need: one failure
// names the layer, the field and those tables, which the run leaves out with
// the tables that read them, and every piece is booked. The fixture's parcels
// lack 新增建设用地类型 and 备注, which no table of this run reads: they are
// not missed.
TEST_P(BaseTableTest, LayerWithoutAFieldSomeTablesNeed) {
  using Fields = std::vector<testing::FixtureField> SurveyFeatures::*;
  const Strings by_nature = {"FRDTDLY_EJFL", "FRDTDLY_YJFL", "NCTDLY_QSSJFL", "NCTDLY_QSYJFL",
                             "TDLYTZ"};
  const struct {
    const char* layer;
    Fields fields;
    const char* field;
    Strings left_out;
  } kCases[] = {
      {"地类图斑", &SurveyFeatures::parcel_fields, "权属性质", by_nature},
      {"线状地物", &SurveyFeatures::line_fields, "权属性质", by_nature},
      {"地类图斑",
       &SurveyFeatures::parcel_fields,
       "地类备注",
       {"KTZ", "PEWYTBL", "PEWY_EJFL", "PEWY_YJFL"}},
      {"地类图斑", &SurveyFeatures::parcel_fields, "耕地坡度级", {"GDPDMJHZ"}},
      {"零星地物", &SurveyFeatures::point_fields, "座落图斑编号", {"TDLYTZ"}},
      {"线状地物",
       &SurveyFeatures::line_fields,
       "权属单位名称2",
       {"FRDTDLY_EJFL", "FRDTDLY_YJFL", "TDLYTZ"}},
  };
  run_families_ = testing::RunFamilies("通用农村");
  for (const auto& test : kCases) {
    SurveyFeatures survey = testing::SmallCounty();
    std::erase_if(survey.*test.fields, [&](const auto& entry) { return entry.name == test.field; });
    for (auto* features : {&survey.parcels, &survey.lines, &survey.points}) {
      for (FieldValues& values : *features) {
        std::erase_if(values, [&](const auto& entry) { return entry.first == test.field; });
      }
    }
    EXPECT_EQ(Build(survey), 1) << test.field;
    EXPECT_EQ(Strings(left_out_.begin(), left_out_.end()), test.left_out) << test.field;
    EXPECT_EQ(errors_, 1) << test.field << log_;
    EXPECT_TRUE(LogLineNames(log_, {test.layer, test.field, test.left_out.front()})) << log_;
    EXPECT_EQ(Select("count(*), sum(土地总面积)"), Strings{"6|119.53"}) << test.field;
  }
}

// A slope grade is 1 to 5, also as a Roman numeral or a whole number
// written as a number; any other text is logged and its parcel kept
// without a grade.
TEST_P(BaseTableTest, SlopeGradesAreChecked) {
  const Strings grades = {"2", "Ⅲ", "4.0", "", "7", "abc", "-1"};
  SurveyFeatures survey;
  for (const std::string& grade : grades) {
    const std::string number = std::to_string(survey.parcels.size() + 1);
    survey.parcels.push_back(Set(Parcel(number, "011", "1"), "耕地坡度级", grade));
  }
  ASSERT_EQ(Build(survey), 1);
  EXPECT_EQ(Select("耕地坡度级"), (Strings{"2", "3", "4", "0", "0", "0", "0"}));
  EXPECT_EQ(Select("sum(土地总面积)"), Strings{"7"});
  EXPECT_EQ(errors_, 3) << log_;
  for (const char* record : {"记录 5 ", "记录 6 ", "记录 7 "}) {
    EXPECT_TRUE(LogLineNames(log_, {"地类图斑", record, "耕地坡度级"})) << record << log_;
  }
}

// Every table a field need or the district table's readers name is a
// family of the registry: a name misspelt would leave nothing out.
TEST(FieldNeeds, NameRegisteredFamilies) {
  std::set<std::string> registered;
  for (const TableFamily* family : FamiliesInStageOrder()) registered.insert(family->base);
  std::vector<const char*> named = DistrictReaders(false);
  for (SurveyWalk walk : {SurveyWalk::kParcels, SurveyWalk::kIslandColumn, SurveyWalk::kLines,
                          SurveyWalk::kPoints, SurveyWalk::kFarmland, SurveyWalk::kGdParcels,
                          SurveyWalk::kGdLines, SurveyWalk::kGdPoints}) {
    ASSERT_FALSE(FieldNeedsOf(walk).empty());
    for (const FieldNeed& need : FieldNeedsOf(walk)) {
      named.insert(named.end(), need.tables.begin(), need.tables.end());
    }
  }
  for (const char* table : named) EXPECT_EQ(registered.count(table), 1u) << table;
}

// Columns ----------------------------------------------------------------

Strings ClassColumns() {
  Strings columns;
  for (const gis::CODESTRUCT& entry : testing::SmallCodeEntries()) {
    if (entry.type == "地类代码") columns.push_back("bm" + entry.code);
  }
  return columns;
}

// "城镇用地" a whole number; "耕地坡度级", "土地总面积" and the class columns
// numbers; the rest text.
::testing::AssertionResult TypedByName(const std::vector<db::ColumnInfo>& columns) {
  for (const db::ColumnInfo& column : columns) {
    db::FieldType wanted = db::FieldType::kText;
    if (column.name == "城镇用地") {
      wanted = db::FieldType::kInteger;
    } else if (column.name == "耕地坡度级" || column.name == "土地总面积" ||
               column.name.rfind("bm", 0) == 0) {
      wanted = db::FieldType::kDouble;
    }
    if (column.type != wanted) {
      return ::testing::AssertionFailure()
             << "column " << column.name << " is declared " << column.declared;
    }
  }
  return ::testing::AssertionSuccess();
}

Strings Names(const std::vector<db::ColumnInfo>& columns) {
  Strings names;
  for (const db::ColumnInfo& column : columns) names.push_back(column.name);
  return names;
}

Strings Concat(std::initializer_list<Strings> parts) {
  Strings all;
  for (const Strings& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_P(BaseTableTest, BaseTableColumns) {
  testing::WriteSurvey(survey_, {});
  OpenSurvey survey(survey_);
  auto context = Context(survey);
  ASSERT_EQ(context->CreateStatDataTable(), 1);
  const auto columns = Columns(Table());
  EXPECT_EQ(Names(columns),
            Concat({{"备注", "新增建设用地类型"}, kStatFixedFields, ClassColumns()}));
  EXPECT_TRUE(TypedByName(columns));
  // Made again, the table is replaced.
  conn().Execute("insert into " + Table() + " (图斑编号) values ('x')");
  ASSERT_EQ(context->CreateStatDataTable(), 1);
  EXPECT_TRUE(Select("图斑编号").empty());
}

TEST_P(BaseTableTest, DescriptionColumnWhenSwitchedOn) {
  WriteStatConfig("[HD]\nMSSM=1\n");
  SurveyFeatures survey;
  survey.parcel_fields.push_back({"描述说明", OFTString});
  // The deduction row carries its parcel's description too.
  survey.parcels = {
      Set(Set(Set(Parcel("1", "011", "5"), "描述说明", "说明"), "扣除地类编码", "123"),
          "扣除地类面积", "1")};
  ASSERT_EQ(Build(survey), 1);
  const auto columns = Columns(Table());
  EXPECT_EQ(Names(columns),
            Concat({{"备注", "新增建设用地类型", "描述说明"}, kStatFixedFields, ClassColumns()}));
  EXPECT_TRUE(TypedByName(columns));
  EXPECT_EQ(Select("来源, 描述说明"), (Strings{"地类图斑扣除|说明", "地类图斑|说明"}));
}

TEST_P(BaseTableTest, FarmlandAndOwnershipLotTablesAreTypedByName) {
  WriteStatConfig(std::string(testing::kThreeUnits) + "[HD]\nMSSM=1\n");
  testing::WriteSurvey(survey_, {});
  OpenSurvey survey(survey_);
  auto context = Context(survey);
  ASSERT_EQ(context->CreateJbntStatTable(), 1);
  ASSERT_EQ(context->CreateJbntExTable(), 1);
  ASSERT_EQ(context->CreateUnitJbntTables(), 1);
  ASSERT_EQ(context->CreateNcqsStatTable(), 1);
  EXPECT_EQ(context->m_nErrCount, 0);

  const Strings fields = Concat({kStatFixedFields, ClassColumns()});
  const Strings unit_leading = {"调入备注", "是否补划", "保护片编号", "基本农田图斑编号"};
  const std::string year_county = IsServer() ? "2009330102" : "";
  const std::vector<std::pair<std::string, Strings>> tables = {
      {Table("statdata_jbnt"), Concat({unit_leading, {"地类编码"}, fields})},
      {Table("statdata_jbntex"), Concat({{"保护片编号", "基本农田图斑编号"}, fields})},
      {"PM" + year_county + "statdata_jbnt", Concat({unit_leading, fields})},
      {"GQ" + year_county + "statdata_jbnt", Concat({unit_leading, fields})},
      {"MU" + year_county + "statdata_jbnt", Concat({unit_leading, fields})},
      {Table("statdata_ncqs"), Concat({{"地籍号", "描述说明"}, fields})}};
  for (const auto& [table, names] : tables) {
    SCOPED_TRACE(table);
    ASSERT_TRUE(conn().TableExists(table));
    const auto columns = Columns(table);
    EXPECT_EQ(Names(columns), names);
    EXPECT_TRUE(TypedByName(columns));
  }
}

LANDSTAT_BOTH_ENGINES(BaseTableTest);

}  // namespace
}  // namespace landstat
