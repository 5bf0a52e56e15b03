// The farmland base table "statdata_jbnt": the rows the walk makes from a
// small farmland parcel layer, worked out by hand, and the failures it logs.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
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
using testing::With;
using Strings = std::vector<std::string>;

FieldValues Farmland(const std::string& number, const std::string& code, const std::string& area) {
  return {{"基本农田图斑编号", number}, {"地类编码", code},       {"基本农田地类面积", area},
          {"权属性质", "30"},           {"权属单位代码", kGroup}, {"权属单位名称", "一组"},
          {"座落单位代码", kGroup},     {"座落单位名称", "组名"}};
}

class JbntParcelTableTest : public BothEngines {
 protected:
  // Writes the farmland layer, runs `sql` on it, creates the farmland base
  // table when asked and walks the layer; the walk's result. The failures
  // are counted and the log kept.
  // With `pipeline` the whole farmland stage runs on the table; the walk's
  // result is then whether it built the farmland base data.
  short Walk(const std::vector<FieldValues>& parcels, const Strings& sql = {},
             const std::vector<FixtureField>& fields = testing::kJbntParcelFields,
             bool create = true, bool pipeline = false) {
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
      context.m_setRunFamilies = testing::RunFamilies("通用农村duda");
      result = pipeline ? context.StatJbntBaseData() : context.BuildJbntParcelData();
      errors_ = context.m_nErrCount;
      left_out_ = context.m_setLeftOutFamilies;
      table_ = context.m_strJbntTbl;
    }
    log_ = testing::ReadFileBytes(log);
    return result;
  }

  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  testing::ScopedProgramDir home_;
  int errors_ = 0;
  std::set<std::string> left_out_;
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
      {"no farmland number: logged, no row", Farmland("", "011", "5"), ""},
      {"20 characters give a 16-character block", Farmland("33010200100100010001", "011", "1"),
       "3301020010010001|33010200100100010001|011|||0|组名|一组|||一村" + places + "0|1|1|1"},
      {"a class the table lacks: logged, the row keeps its block without an area",
       Farmland("P6", "999", "3"), "P6|P6|999|||0|组名|一组|||一村" + places + "0|0|0|0"},
      {"a row the database refuses: logged, no row",
       With(Farmland("P7", "0111", "2"), {{"权属单位名称", std::string(61, 'x')}}), ""},
      {"an area that is no number: logged, no row", Farmland("P8", "011", ""), ""},
      {"a negative area: logged, no row", Farmland("P9", "011", "-1"), ""},
      {"an area above 1e10: logged, no row", Farmland("P10", "011", "2e10"), ""},
      {"an empty area: logged, no row", Farmland("P11", "011", ""), ""},
      {"an empty location code: logged, no row",
       With(Farmland("P12", "011", "1"), {{"座落单位代码", ""}}), ""},
  };
  std::vector<FieldValues> parcels;
  Strings expected;
  for (const Case& c : cases) {
    parcels.push_back(With(c.parcel, {{"图斑编号", std::to_string(parcels.size() + 1)}}));
    if (!c.row.empty()) expected.push_back(c.row);
  }
  ASSERT_EQ(
      Walk(parcels, {"UPDATE \"基本农田图斑\" SET \"基本农田地类面积\" = 'abc' WHERE fid = 8",
                     "UPDATE \"基本农田图斑\" SET \"基本农田地类面积\" = NULL WHERE fid = 11"}),
      1);
  EXPECT_EQ(testing::Rows(conn(), std::string("select ") + kColumns + " from " + table_ +
                                      " order by 图斑编号"),
            expected);
  EXPECT_EQ(errors_, 8) << log_;
  for (const char* line :
       {"记录 4 字段 基本农田图斑编号 代码为空",
        "汇总基本农田地类图斑 BM999 (图层 基本农田图斑 记录 6",
        "汇总基本农田地类图斑 BM0111 (图层 基本农田图斑 记录 7",
        "记录 8 字段 基本农田地类面积 面积不是数值: abc",
        "记录 9 字段 基本农田地类面积 面积为负数: -1",
        "记录 10 字段 基本农田地类面积 面积超过 1e10 平方米: 2",
        "记录 11 字段 基本农田地类面积 面积为空", "记录 12 字段 座落单位代码 代码为空",
        "注意 图层 基本农田图斑 记录 1 字段 基本农田图斑编号 'P1' 不是 16 个字符"}) {
    EXPECT_TRUE(Logged(line)) << line << "\n" << log_;
  }
}

// A layer without a field the rows need gives no rows, one failure naming
// the layer and the field, and no farmland base data (so no farmland
// summaries); a missing table fails the walk, logged.
TEST_P(JbntParcelTableTest, MissingFieldOrTableIsLogged) {
  for (const char* field :
       {"基本农田图斑编号", "基本农田地类面积", "座落单位代码", "地类编码", "图斑编号"}) {
    std::vector<FixtureField> fields = testing::kJbntParcelFields;
    std::erase_if(fields, [&](const FixtureField& f) { return f.name == field; });
    FieldValues parcel = Farmland("P1", "011", "5");
    std::erase_if(parcel, [&](const auto& entry) { return entry.first == field; });

    EXPECT_EQ(Walk({parcel}, {}, fields, true, true), 0) << field;
    EXPECT_EQ(testing::Texts(conn(), "select count(*) from " + table_), Strings{"0"}) << field;
    EXPECT_EQ(errors_, 1) << log_;
    EXPECT_TRUE(Logged(std::string("图层 基本农田图斑 缺少字段 ") + field)) << log_;
  }

  conn().Execute("drop table " + table_);
  ASSERT_EQ(Walk({Farmland("P1", "011", "5")}, {}, testing::kJbntParcelFields, false), 0);
  EXPECT_EQ(errors_, 1) << log_;
  EXPECT_TRUE(Logged(table_)) << log_;
}

// A layer without a field only some farmland tables need gives its rows
// and one failure naming the layer, the field and the tables left out.
TEST_P(JbntParcelTableTest, FieldSomeTablesNeedLeavesThemOut) {
  const std::pair<const char*, Strings> kCases[] = {
      {"是否补划", {"JBNTBHMJ", "JBNTONLY", "JBNTPDMJHZ", "JBNTTCHBHQMJ"}},
      {"地类备注", {"BHKKTZ", "JBNTGHWSMJ", "JBNTKTZ", "JBNTONLY", "JBNTPDMJHZ", "JBNTTCMJ"}},
      {"耕地坡度级", {"JBNTONLY", "JBNTPDMJHZ"}},
  };
  for (const auto& [field, left_out] : kCases) {
    std::vector<FixtureField> fields = testing::kJbntParcelFields;
    std::erase_if(fields, [&](const FixtureField& f) { return f.name == field; });
    EXPECT_EQ(Walk({With(Farmland("P1", "011", "5"), {{"图斑编号", "1"}})}, {}, fields), 1);
    EXPECT_EQ(testing::Texts(conn(), "select 土地总面积 from " + table_), Strings{"5"}) << field;
    EXPECT_EQ(Strings(left_out_.begin(), left_out_.end()), left_out) << field;
    EXPECT_EQ(errors_, 1) << log_;
    EXPECT_TRUE(Logged(std::string("图层 基本农田图斑 缺少字段 ") + field)) << log_;
  }
}

LANDSTAT_BOTH_ENGINES(JbntParcelTableTest);

}  // namespace
}  // namespace landstat
