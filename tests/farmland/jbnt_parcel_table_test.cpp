// The farmland base table "statdata_jbnt": the rows the walk makes from a
// small farmland parcel layer, worked out by hand, and the failures it logs.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::FixtureField;
using testing::kGroup;
using testing::kVillage;
using Strings = std::vector<std::string>;

FieldValues Farmland(const std::string& number, const std::string& code, const std::string& area) {
  return {{"基本农田图斑编号", number}, {"地类编码", code},       {"基本农田地类面积", area},
          {"权属性质", "30"},           {"权属单位代码", kGroup}, {"权属单位名称", "一组"},
          {"座落单位代码", kGroup},     {"座落单位名称", "组名"}};
}

FieldValues With(FieldValues values, const FieldValues& changes) {
  for (const auto& [field, value] : changes) {
    std::erase_if(values, [&](const auto& entry) { return entry.first == field; });
    values.emplace_back(field, value);
  }
  return values;
}

class JbntParcelTableTest : public BothEngines {
 protected:
  // Writes the farmland layer, runs `sql` on it, creates the farmland base
  // table when asked and walks the layer; the walk's result. The failures
  // are counted and the log kept.
  short Walk(const std::vector<FieldValues>& parcels, const Strings& sql = {},
             const std::vector<FixtureField>& fields = testing::kJbntParcelFields,
             bool create = true) {
    const std::string path = home_.File("farmland.gpkg");
    std::filesystem::remove(path);
    testing::WriteJbntParcels(path, parcels, fields);
    for (const std::string& statement : sql) testing::RunFixtureSql(path, statement);
    const std::string log = home_.File("stat.log");
    testing::WriteFileBytes(log, "");
    std::vector<gis::CODESTRUCT> entries = testing::SmallCodeEntries();
    entries.push_back({"地类代码", "0111", "水田一"});
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(entries));
    short result = 0;
    {
      testing::ScopedLayer layer(gis::OpenLayer(path, "基本农田图斑"));
      CStatContext context(0, layer, 0, 0, layer, 0, 0, 0, 0, 0, codes.get(), "2009", "330102", log,
                           1, "");
      context.OpenStatLogFile();
      EXPECT_EQ(context.InitUnits(database().ConnectionString(), Mode()), 1);
      EXPECT_EQ(context.LoadCodes(), 1);
      if (create) {
        EXPECT_EQ(context.CreateJbntStatTable(), 1);
      }
      result = context.BuildJbntParcelData();
      errors_ = context.m_nErrCount;
      table_ = context.m_strJbntTbl;
    }
    log_ = testing::ReadFileBytes(log);
    return result;
  }

  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  testing::ScopedProgramDir home_;
  int errors_ = 0;
  std::string table_;
  std::string log_;
};

// One parcel per rule; 图斑编号 is the case's place, and the row expected
// (empty: none) lists the columns of kColumns.
TEST_P(JbntParcelTableTest, ParcelRowsFollowTheirRules) {
  const char* kColumns =
      "保护片编号, 基本农田图斑编号, 地类编码, 耕地类型, 地类备注, 耕地坡度级, 座落单位名称, "
      "权属单位名称, 是否补划, 调入备注, 村名称, 乡级代码, 省名称, 来源, BM0111, BM011, BM01, "
      "土地总面积";
  struct Case {
    const char* rule;
    FieldValues parcel;
    std::string row;
  };
  const std::string places = "|330102001|浙江省|地类图斑|";
  const std::vector<Case> cases = {
      {"0111 books BM0111, BM011 and BM01; marks upper-cased; a quote is bound",
       With(Farmland("P1", "0111", "10.5"), {{"耕地类型", "t"},
                                             {"地类备注", "k"},
                                             {"耕地坡度级", "2"},
                                             {"权属单位名称", "王'家"},
                                             {"是否补划", "y"},
                                             {"调入备注", "tc"}}),
       "P1|P1|0111|TT|k|2|组名|王'家|Y|TC|一村" + places + "10.5|10.5|10.5|10.5"},
      {"code 1 books nothing but the total, 12.346 gives 12.35, the name is looked up",
       With(Farmland("P2", "1", "12.346"),
            {{"耕地类型", "P"}, {"座落单位代码", kVillage}, {"座落单位名称", ""}}),
       "P2|P2|1|P||0|一村|一组|||一村" + places + "0|0|0|12.35"},
      {"tT gives TT, 12.344 gives 12.34",
       With(Farmland("P3", "011", "12.344"), {{"耕地类型", "tT"}}),
       "P3|P3|011|TT||0|组名|一组|||一村" + places + "0|12.34|12.34|12.34"},
      {"no farmland number: no row", Farmland("", "011", "5"), ""},
      {"20 characters give a 16-character block", Farmland("33010200100100010001", "011", "1"),
       "3301020010010001|33010200100100010001|011|||0|组名|一组|||一村" + places + "0|1|1|1"},
      {"a class the table lacks: logged, no row", Farmland("P6", "999", "3"), ""},
      {"a row the database refuses: logged, no row",
       With(Farmland("P7", "0111", "2"), {{"权属单位名称", std::string(61, 'x')}}), ""},
      {"an area that is no number stores 0, logged", Farmland("P8", "011", ""),
       "P8|P8|011|||0|组名|一组|||一村" + places + "0|0|0|0"},
  };
  std::vector<FieldValues> parcels;
  Strings expected;
  for (const Case& c : cases) {
    parcels.push_back(With(c.parcel, {{"图斑编号", std::to_string(parcels.size() + 1)}}));
    if (!c.row.empty()) expected.push_back(c.row);
  }
  ASSERT_EQ(
      Walk(parcels, {"UPDATE \"基本农田图斑\" SET \"基本农田地类面积\" = 'abc' WHERE fid = 8"}), 1);
  EXPECT_EQ(testing::Rows(conn(), std::string("select ") + kColumns + " from " + table_ +
                                      " order by 图斑编号"),
            expected);
  EXPECT_EQ(errors_, 3) << log_;
  EXPECT_TRUE(Logged("汇总基本农田地类图斑 BM999 (图层 基本农田图斑 记录 6")) << log_;
  EXPECT_TRUE(Logged("图层 基本农田图斑 记录 8 字段 基本农田地类面积 面积不是数值: abc")) << log_;
  EXPECT_TRUE(Logged("汇总基本农田地类图斑 BM0111 (图层 基本农田图斑 记录 7")) << log_;
}

// A layer without farmland numbers gives no rows and one failure naming the
// layer and the field; a missing table fails the walk, logged.
TEST_P(JbntParcelTableTest, MissingFieldOrTableIsLogged) {
  std::vector<FixtureField> no_number = testing::kJbntParcelFields;
  std::erase_if(no_number, [](const FixtureField& f) { return f.name == "基本农田图斑编号"; });
  FieldValues numberless = Farmland("", "011", "5");
  std::erase_if(numberless, [](const auto& entry) { return entry.first == "基本农田图斑编号"; });

  ASSERT_EQ(Walk({numberless}, {}, no_number), 1);
  EXPECT_EQ(testing::Texts(conn(), "select count(*) from " + table_), Strings{"0"});
  EXPECT_EQ(errors_, 1) << log_;
  EXPECT_TRUE(Logged("图层 基本农田图斑 缺少字段 基本农田图斑编号")) << log_;

  conn().Execute("drop table " + table_);
  ASSERT_EQ(Walk({Farmland("P1", "011", "5")}, {}, testing::kJbntParcelFields, false), 0);
  EXPECT_EQ(errors_, 1) << log_;
  EXPECT_TRUE(Logged(table_)) << log_;
}

LANDSTAT_BOTH_ENGINES(JbntParcelTableTest);

}  // namespace
}  // namespace landstat
