// The reserve parcel tables: the reserve classes of both type schemes, the
// group-code count, the five tables created and filled from a hand-made
// reserve layer, their copies in the area units, and a generated county run
// on both engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "landuse/generated_county_run.h"
#include "platform/host/notifier.h"
#include "reserve/reserve_parcel_tables.h"
#include "reserve/reserve_types.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::kGroup;
using testing::kTownship;
using testing::Rows;
using testing::With;
using Strings = std::vector<std::string>;

const char* const kTables[] = {"ZB_GDHB", "KKK_GDHB", "KFK_GDHB", "KKK_GDHBOLD", "KFK_GDHBOLD"};

TEST(ReserveTypes, ClassesFollowEachSchemesList) {
  struct Case {
    const char* type;
    short new_class, old_class;
  };
  const Case cases[] = {
      {"Ⅰ1可开垦其他草地", 1, 0},
      {"Ⅰ1可开垦荒草地", 0, 1},
      {"Ⅰ2可开垦盐碱地", 1, 1},
      {"Ⅰ3可开垦沼泽地", 1, 1},
      {"Ⅰ4可开垦滩涂", 1, 0},
      {"Ⅰ4可开垦苇地", 0, 1},
      {"Ⅰ5可开垦滩涂", 0, 1},
      {"Ⅰ5可开垦的其他土地", 1, 0},
      {"Ⅰ6其他可开垦的未利用土地", 0, 1},
      {"Ⅱ1废弃压占土地", 2, 2},
      {"Ⅱ2挖掘及塌陷破坏地", 2, 2},
      {"Ⅱ3自然灾毁土地", 2, 2},
      {"Ⅱ3自然灾毁土地 ", 0, 0},
      {" Ⅱ3自然灾毁土地", 0, 0},
      {"I2可开垦盐碱地", 0, 0},
      {"Ⅱ", 0, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyGdhbNewType(c.type), c.new_class) << "new: '" << c.type << "'";
    EXPECT_EQ(ClassifyGdhbOldType(c.type), c.old_class) << "old: '" << c.type << "'";
  }
}

TEST(ReserveTypes, GroupCodesAreCountedInTheCodeTable) {
  std::vector<gis::CODESTRUCT> without = testing::SmallCodeEntries();
  std::erase_if(without, [](const gis::CODESTRUCT& e) { return e.type == "组行政代码"; });
  std::vector<gis::CODESTRUCT> two = testing::SmallCodeEntries();
  two.push_back({"组行政代码", "3301020010010020000", "二组"});
  const std::pair<std::vector<gis::CODESTRUCT>, short> cases[] = {
      {testing::SmallCodeEntries(), 1}, {without, 0}, {two, 2}};
  for (const auto& [entries, count] : cases) {
    std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(entries));
    CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes.get(), "2009", "330102", "", 1, "");
    EXPECT_EQ(context.CountGroupCodes(), count);
  }
  CStatContext none(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "");
  EXPECT_EQ(none.CountGroupCodes(), 0);
}

// The statement as written for each configured data source: only the type
// of "面积" differs.
TEST(ReserveTables, CreateStatementByDataSource) {
  const std::string columns =
      "(XZQDM varchar(80),序号 varchar(80),面积 %s default 0.00,省名称 varchar(80),省级代码 "
      "varchar(80),市名称 varchar(80),市级代码 varchar(80),县名称 varchar(80),县级代码 "
      "varchar(80),乡名称 varchar(80),乡级代码 varchar(80),村名称 varchar(80),村级代码 "
      "varchar(80),要素代码 varchar(80),图幅号 varchar(80),调查区名称 varchar(80),片号 "
      "varchar(80),图斑号 varchar(80),耕地后备资源级别 varchar(80),耕地后备资源原类型 "
      "varchar(80),耕地后备资源新类型 varchar(80),中心点座标_X varchar(80),中心点座标_Y "
      "varchar(80),地类代码 varchar(80),地类名称 varchar(80),权属性质 varchar(80),权属单位代码 "
      "varchar(80),权属单位名称 varchar(80),座落单位名称 varchar(80),评价等级 varchar(80))";
  const std::pair<int, const char*> words[] = {
      {0, "double"}, {1, "float"}, {2, "NUMBER"}, {7, "double"}};
  for (const auto& [type, word] : words) {
    std::string expected = "Create Table ZB_GDHB" + columns;
    expected.replace(expected.find("%s"), 2, word);
    EXPECT_EQ(GdhbCreateStatement("ZB_GDHB", type), expected) << type;
  }
}

// Every field of the layer a text, so that any text can be given.
std::vector<testing::FixtureField> ReserveFields() {
  std::vector<testing::FixtureField> fields;
  for (const char* name : {"ID",
                           "后备资源地类面积",
                           "要素代码",
                           "所在图幅号",
                           "调查区名称",
                           "片号",
                           "后备资源图斑编号",
                           "耕地后备资源级别",
                           "耕地后备资源新类型",
                           "耕地后备资源原类型",
                           "中心点XE_XA80",
                           "中心点YE_XA80",
                           "地类编码",
                           "地类名称",
                           "权属性质",
                           "权属单位名称",
                           "权属单位代码",
                           "座落单位名称",
                           "座落单位代码",
                           "评价等级"}) {
    fields.push_back({name});
  }
  return fields;
}

FieldValues Reserve(const std::string& id, const std::string& location, const std::string& area,
                    const std::string& new_type, const std::string& old_type) {
  return {{"ID", id},
          {"后备资源地类面积", area},
          {"座落单位代码", location},
          {"耕地后备资源新类型", new_type},
          {"耕地后备资源原类型", old_type}};
}

class ReserveTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
  }

  // Writes the reserve layer (feature i has number i + 1) and opens a
  // context on it, the features numbered in `deleted` taken out first.
  void Open(const std::vector<FieldValues>& parcels, const std::vector<long long>& deleted = {},
            const std::vector<testing::FixtureField>& fields = ReserveFields()) {
    const std::string path = home_.File("reserve.gpkg");
    std::filesystem::remove(path);
    std::vector<testing::FixtureFeature> features;
    for (std::size_t i = 0; i < parcels.size(); ++i) {
      const std::string x = std::to_string(i), x1 = std::to_string(i + 1);
      features.push_back(
          {"POLYGON((" + x + " 0," + x1 + " 0," + x1 + " 1," + x + " 1," + x + " 0))", parcels[i]});
    }
    testing::WriteFixtureLayer(path, "耕地后备资源图斑", wkbPolygon, fields, features);
    for (long long fid : deleted) testing::DeleteFixtureFeature(path, "耕地后备资源图斑", fid);
    context_.reset();
    layer_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(path, "耕地后备资源图斑"));
    context_ = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, *layer_, 0, codes_.get(),
                                              "2009", "330102", "", 1, "");
    ASSERT_EQ(context_->InitUnits(database().ConnectionString(), Mode()), 1);
    ASSERT_EQ(context_->LoadCodes(), 1);
  }

  // Creates and fills the five tables: the results of each create and fill.
  std::vector<short> Build() {
    CStatContext& c = *context_;
    const std::pair<short (CStatContext::*)(), short (CStatContext::*)()> steps[] = {
        {&CStatContext::CreateGdhbBaseTable, &CStatContext::FillGdhbBaseTable},
        {&CStatContext::CreateKkkGdhbTable, &CStatContext::FillKkkGdhbTable},
        {&CStatContext::CreateKfkGdhbTable, &CStatContext::FillKfkGdhbTable},
        {&CStatContext::CreateKkkGdhbOldTable, &CStatContext::FillKkkGdhbOldTable},
        {&CStatContext::CreateKfkGdhbOldTable, &CStatContext::FillKfkGdhbOldTable}};
    std::vector<short> results;
    for (const auto& [create, fill] : steps) {
      results.push_back((c.*create)());
      results.push_back((c.*fill)());
    }
    return results;
  }

  // The names as a server gives them: year and county after the "D", the
  // unit prefix after them.
  std::string Table(const std::string& base) const { return UnitTable(kNoUnit, base); }
  std::string UnitTable(short unit, const std::string& base) const {
    const std::string prefix = UnitPrefix(unit);
    return IsServer() ? "D2009330102" + prefix + base : prefix + base;
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<testing::ScopedLayer> layer_;
  std::unique_ptr<CStatContext> context_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier notifying_{notifier_};
};

// Every column of a parcel with every field set; a quote is bound.
TEST_P(ReserveTablesTest, FieldsMapOntoTheColumns) {
  FieldValues full = Reserve("7", kGroup, "12.5", "Ⅰ1可开垦其他草地", "Ⅱ1废弃压占土地");
  const FieldValues more = {{"要素代码", "2001"},
                            {"所在图幅号", "H50"},
                            {"调查区名称", "东区"},
                            {"片号", "3"},
                            {"后备资源图斑编号", "88"},
                            {"耕地后备资源级别", "省级"},
                            {"中心点XE_XA80", "401.5"},
                            {"中心点YE_XA80", "3201.25"},
                            {"地类编码", "043"},
                            {"地类名称", "其他草地"},
                            {"权属性质", "30"},
                            {"权属单位名称", "王'家"},
                            {"权属单位代码", "330102001"},
                            {"座落单位名称", "一组"},
                            {"评价等级", "易开发土地"}};
  full.insert(full.end(), more.begin(), more.end());
  Open({full});
  EXPECT_EQ(Build(), std::vector<short>(10, 1));
  EXPECT_EQ(
      Rows(conn(), "select * from " + Table("ZB_GDHB")),
      Strings{kGroup + "|7|12.5|浙江省|33|杭州市|3301|上城区|330102|一乡|330102001|一村|"
                       "330102001001|2001|H50|东区|3|88|省级|Ⅱ1废弃压占土地|Ⅰ1可开垦其他草地|401.5|"
                       "3201.25|043|其他草地|30|330102001|王'家|一组|易开发土地"});
  EXPECT_EQ(context_->m_nErrCount, 0);
  EXPECT_TRUE(notifier_.messages.empty());
}

// Short location codes stand whole for the levels they do not reach; an
// unknown code has no names; a parcel goes into the
// class table of each scheme its types name; an unreadable record leaves
// no row.
TEST_P(ReserveTablesTest, ParcelsGoWhereTheirTypesSay) {
  Open({Reserve("1", kGroup, "10", "Ⅰ1可开垦其他草地", "Ⅱ1废弃压占土地"),
        Reserve("2", kTownship, "0", "Ⅰ5可开垦滩涂", "Ⅰ5可开垦滩涂"),
        Reserve("3", "33", "7", "Ⅱ2挖掘及塌陷破坏地", "Ⅱ2挖掘及塌陷破坏地"),
        Reserve("4", kGroup, "1", "Ⅱ1废弃压占土地", "Ⅱ1废弃压占土地"),
        Reserve("5", "330102009", "2", "Ⅰ2可开垦盐碱地 ", "")},
       {4});
  EXPECT_EQ(Build(), std::vector<short>(10, 1));
  EXPECT_EQ(Rows(conn(),
                 "select 序号, 面积, 村级代码, 村名称, 乡级代码, 乡名称, 县级代码, 县名称, "
                 "市级代码, 省名称 from " +
                     Table("ZB_GDHB") + " order by 序号"),
            (Strings{"1|10|330102001001|一村|330102001|一乡|330102|上城区|3301|浙江省",
                     "2|0|330102001|一乡|330102001|一乡|330102|上城区|3301|浙江省",
                     "3|7|33|浙江省|33|浙江省|33|浙江省|33|浙江省",
                     "5|2|330102009||330102009||330102|上城区|3301|浙江省"}));
  const std::pair<const char*, Strings> members[] = {{"KKK_GDHB", {"1"}},
                                                     {"KFK_GDHB", {"3"}},
                                                     {"KKK_GDHBOLD", {"2"}},
                                                     {"KFK_GDHBOLD", {"1", "3"}}};
  for (const auto& [base, ids] : members) {
    EXPECT_EQ(testing::Texts(conn(), "select 序号 from " + Table(base) + " order by 序号"), ids)
        << base;
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

// A parcel with an area that cannot be counted, an empty location code or a
// text longer than its column is logged once (not again by the class
// tables) with layer, record, field and value, and left out; the parcels
// after it are still written. A level, type or grade outside their lists is
// kept, with one notice per value.
TEST_P(ReserveTablesTest, BadParcelsAreLoggedAndLeftOut) {
  const std::string long_name(81, 'x');
  struct Case {
    FieldValues parcel;
    const char* logged;  // null: kept
  };
  const Case cases[] = {
      {Reserve("1", kGroup, "1,5", "Ⅰ1可开垦其他草地", ""),
       "字段 后备资源地类面积 面积不是数值: 1,5"},
      {Reserve("2", kGroup, "-3", "Ⅰ1可开垦其他草地", ""), "字段 后备资源地类面积 面积为负数: -3"},
      {Reserve("3", kGroup, "1e308", "Ⅰ1可开垦其他草地", ""), "面积超过 1e10 平方米: 1e308"},
      {Reserve("4", kGroup, "", "Ⅰ1可开垦其他草地", ""), "字段 后备资源地类面积 面积为空"},
      {Reserve("5", "", "2", "Ⅰ1可开垦其他草地", ""), "字段 座落单位代码 代码为空"},
      {With(Reserve("6", kGroup, "2", "Ⅰ1可开垦其他草地", ""), {{"调查区名称", long_name}}),
       "字段 调查区名称 'xxxx"},
      {With(Reserve("7", kGroup, "4", "Ⅰ1可开垦其他草地", ""), {{"耕地后备资源级别", "县级"}}),
       nullptr},
  };
  std::vector<FieldValues> parcels;
  for (const Case& c : cases) parcels.push_back(c.parcel);
  Open(parcels);
  EXPECT_EQ(Build(), std::vector<short>(10, 1));
  EXPECT_EQ(testing::Texts(conn(), "select 序号 from " + Table("ZB_GDHB")), Strings{"7"});
  EXPECT_EQ(testing::Texts(conn(), "select 序号 from " + Table("KKK_GDHB")), Strings{"7"});
  const Strings& failures = context_->m_arrFirstFailures;
  ASSERT_EQ(failures.size(), 6u);
  for (std::size_t i = 0; i < failures.size(); ++i) {
    const std::string record = "图层 耕地后备资源图斑 记录 " + std::to_string(i + 1) + " ";
    EXPECT_TRUE(testing::Names(failures[i], record)) << failures[i];
    EXPECT_TRUE(testing::Names(failures[i], cases[i].logged)) << failures[i];
  }
  EXPECT_TRUE(std::any_of(context_->m_arrNotices.begin(), context_->m_arrNotices.end(),
                          [](const std::string& notice) {
                            return testing::Names(notice, "记录 7 字段 耕地后备资源级别 '县级'");
                          }));
  EXPECT_TRUE(notifier_.messages.empty());
}

// A reserve layer lacking a field the tables copy or group by is one
// failure naming the layer and the field, and the reserve block builds
// nothing.
TEST_P(ReserveTablesTest, MissingFieldBuildsNoReserveTables) {
  const auto families = FamiliesInStageOrder();
  const auto reserve = std::find_if(families.begin(), families.end(), [](const TableFamily* f) {
    return std::strcmp(f->base, "ZB_GDHB") == 0;
  });
  ASSERT_NE(reserve, families.end());
  for (const char* missing : {"评价等级", "调查区名称", "地类编码", "中心点XE_XA80"}) {
    std::vector<testing::FixtureField> fields = ReserveFields();
    std::erase_if(fields, [&](const auto& field) { return field.name == missing; });
    Open({Reserve("1", kGroup, "10", "", "")}, {}, fields);
    EXPECT_EQ((*reserve)->create(*context_), 0) << missing;
    EXPECT_EQ(context_->m_nErrCount, 1) << missing;
    EXPECT_TRUE(testing::Names(context_->m_strLogTitle,
                               std::string("图层 耕地后备资源图斑 缺少字段 ") + missing));
    EXPECT_FALSE(conn().TableExists(Table("ZB_GDHB"))) << missing;
  }
}

// Without a valid reserve layer nothing is touched and the block is
// skipped with a notice naming the layer; an existing table (or a view of
// its name) is replaced by an empty one.
TEST_P(ReserveTablesTest, CreatesReplaceOnlyWithAValidLayer) {
  Open({Reserve("1", kGroup, "10", "", "")});
  ASSERT_EQ(context_->CreateGdhbBaseTable(), 1);
  ASSERT_EQ(context_->FillGdhbBaseTable(), 1);
  conn().Execute("create view " + Table("KKK_GDHB") + " as select * from " + Table("ZB_GDHB"));

  context_->m_aiGdhb = 0;
  EXPECT_EQ(Build(), std::vector<short>(10, 0));
  EXPECT_EQ(testing::Texts(conn(), "select 序号 from " + Table("KKK_GDHB")), Strings{"1"});
  const auto families = FamiliesInStageOrder();
  const auto reserve = std::find_if(families.begin(), families.end(), [](const TableFamily* f) {
    return std::strcmp(f->base, "ZB_GDHB") == 0;
  });
  ASSERT_NE(reserve, families.end());
  EXPECT_EQ((*reserve)->create(*context_), 0);
  ASSERT_FALSE(context_->m_arrNotices.empty());
  EXPECT_TRUE(testing::Names(context_->m_arrNotices.back(), "没有耕地后备资源图斑"));

  context_->m_aiGdhb = *layer_;
  EXPECT_EQ(context_->CreateKkkGdhbTable(), 1);
  EXPECT_EQ(context_->CreateGdhbBaseTable(), 1);
  for (const char* base : {"ZB_GDHB", "KKK_GDHB"}) {
    EXPECT_EQ(Rows(conn(), "select count(*) from " + Table(base)), Strings{"0"}) << base;
    EXPECT_EQ(conn().Columns(Table(base)).size(), 30u) << base;
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

// A statement the database refuses is traced, shown and logged; a copy
// that fails leaves the earlier copy as it was.
TEST_P(ReserveTablesTest, RefusedStatementsAreShownAndLogged) {
  Open({Reserve("1", kGroup, "10", "", "")});
  context_->m_bPm = true;
  context_->m_bGq = context_->m_bMu = false;
  context_->m_nUnit1 = context_->m_nUnit2 = kNoUnit;
  ASSERT_EQ(context_->CreateGdhbBaseTable(), 1);
  ASSERT_EQ(context_->FillGdhbBaseTable(), 1);
  ASSERT_EQ(context_->CopyGdhbBaseTableToUnits(), 1);
  testing::ScopedTraceCapture trace;

  conn().Execute("drop table " + Table("ZB_GDHB"));
  EXPECT_EQ(context_->CopyGdhbBaseTableToUnits(), 0);
  EXPECT_EQ(testing::Texts(conn(), "select 序号 from " + UnitTable(kSquareMetre, "ZB_GDHB")),
            Strings{"1"});
  EXPECT_EQ(context_->FillGdhbBaseTable(), 0);
  context_->m_pConn.Close();
  EXPECT_EQ(context_->CreateKkkGdhbTable(), 0);

  EXPECT_EQ(notifier_.messages.size(), 3u);
  EXPECT_EQ(context_->m_nErrCount, 3);
  EXPECT_TRUE(std::any_of(trace.lines.begin(), trace.lines.end(), [](const std::string& line) {
    return line.rfind("Create Table ", 0) == 0;
  }));
}

// The copies by the unit flags, their areas converted from the source unit
// to 2 decimals, whatever decimals are configured; the copies keep the
// columns' defaults.
TEST_P(ReserveTablesTest, UnitCopiesFollowTheFlags) {
  struct Case {
    short source, unit1, unit2;
    bool pm, gq, mu;
    Strings pm_areas, gq_areas, mu_areas;  // empty: no copy
  };
  const Case cases[] = {
      {kSquareMetre,
       kHectare,
       kMu,
       true,
       true,
       true,
       {"15000", "1234.5"},
       {"1.5", "0.12"},
       {"22.5", "1.85"}},
      {kSquareMetre, kNoUnit, kMu, true, false, true, {"15000", "1234.5"}, {}, {"22.5", "1.85"}},
      {kMu,
       kSquareMetre,
       kHectare,
       true,
       true,
       true,
       {"10000000", "823000"},
       {"1000", "82.3"},
       {"15000", "1234.5"}},
      {kSquareMetre, kNoUnit, kNoUnit, true, false, false, {"15000", "1234.5"}, {}, {}},
  };
  Open({Reserve("1", kGroup, "15000", "Ⅰ2可开垦盐碱地", "Ⅱ1废弃压占土地"),
        Reserve("2", kGroup, "1234.5", "Ⅱ3自然灾毁土地", "Ⅰ2可开垦盐碱地")});
  ASSERT_EQ(Build(), std::vector<short>(10, 1));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " to " + std::to_string(c.unit1) + ", " +
                 std::to_string(c.unit2));
    for (const char* base : kTables) {
      for (short unit : {kSquareMetre, kHectare, kMu}) {
        if (context_->IsTableExist(UnitTable(unit, base))) {
          conn().Execute("drop table " + UnitTable(unit, base));
        }
      }
    }
    CStatContext& ctx = *context_;
    ctx.m_nUnitSrc = c.source, ctx.m_nUnit1 = c.unit1, ctx.m_nUnit2 = c.unit2;
    ctx.m_bPm = c.pm, ctx.m_bGq = c.gq, ctx.m_bMu = c.mu;
    EXPECT_EQ(ctx.CopyGdhbBaseTableToUnits(), 1);
    EXPECT_EQ(ctx.CopyGdhbClassTablesToUnits(), 1);
    const std::pair<short, const Strings*> copies[] = {
        {kSquareMetre, &c.pm_areas}, {kHectare, &c.gq_areas}, {kMu, &c.mu_areas}};
    for (const auto& [unit, areas] : copies) {
      const std::string copy = UnitTable(unit, "ZB_GDHB");
      for (const char* base : kTables) {
        EXPECT_EQ(ctx.IsTableExist(UnitTable(unit, base)), areas->empty() ? 0 : 1)
            << UnitTable(unit, base);
      }
      if (areas->empty()) continue;
      EXPECT_EQ(testing::Texts(conn(), "select 面积 from " + copy + " order by 序号"), *areas);
      // The recultivable parcel of the new scheme, converted alike.
      EXPECT_EQ(testing::Texts(conn(), "select 面积 from " + UnitTable(unit, "KFK_GDHB")),
                Strings{areas->back()});
    }
  }
  const std::string copy = UnitTable(kSquareMetre, "ZB_GDHB");
  conn().Execute("insert into " + copy + " (序号) values ('9')");
  EXPECT_EQ(testing::Numbers(conn(), "select 面积 from " + copy + " where 序号 = '9'"),
            std::vector<double>{0});
  EXPECT_EQ(context_->m_nErrCount, 0);
}

LANDSTAT_BOTH_ENGINES(ReserveTablesTest);

// A full run on a generated county: every parcel of the reserve layer in
// ZB_GDHB, the class tables within it, and each unit copy the source
// converted and rounded row by row.
class ReserveCountyTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    testing::InstallStatementScripts();
  }
  testing::ScopedProgramDir home_;
};

TEST_P(ReserveCountyTest, RunBuildsTheTablesAndTheirUnitCopies) {
  testing::GeneratedCountyRun county(home_, 5, 1500);
  const RunReport report = county.RunProject("通用农村", database().ConnectionString(), Mode());
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county.log);
  EXPECT_EQ(report.failures, 0) << testing::ReadFileBytes(county.log);

  db::Connection result(database().ConnectionString());
  const std::string stem = IsServer() ? "D2009" + county.options.county_code : "";
  const auto named = [&](const std::string& unit, const std::string& base) {
    return stem + unit + base;
  };
  const auto sum = [&](const std::string& expression, const std::string& table) {
    return testing::Numbers(result, "select coalesce(sum(" + expression + "), 0) from " + table)[0];
  };
  const auto count = [&](const std::string& table) { return sum("1", table); };
  testing::ScopedLayer reserve(gis::OpenLayer(county.files.survey, "耕地后备资源图斑"));
  EXPECT_EQ(count(named("", "ZB_GDHB")), gis::RecordCount(reserve, gis::EntityKind::kRegion) - 1);
  for (const char* scheme : {"", "OLD"}) {
    const std::string kkk = named("", std::string("KKK_GDHB") + scheme);
    const std::string kfk = named("", std::string("KFK_GDHB") + scheme);
    EXPECT_GT(count(kkk), 0) << kkk;
    EXPECT_GT(count(kfk), 0) << kfk;
    EXPECT_LT(count(kkk) + count(kfk), count(named("", "ZB_GDHB")));
    EXPECT_LE(sum("面积", kkk) + sum("面积", kfk), sum("面积", named("", "ZB_GDHB")) + 1e-6);
  }
  const std::pair<const char*, const char*> units[] = {
      {"PM", "面积"}, {"GQ", "round(面积/10000,2)"}, {"MU", "round(面积*3/2000,2)"}};
  for (const char* base : kTables) {
    for (const auto& [unit, converted] : units) {
      EXPECT_NEAR(sum("面积", named(unit, base)), sum(converted, named("", base)), 1e-6)
          << unit << base;
    }
  }
}

LANDSTAT_BOTH_ENGINES(ReserveCountyTest);

}  // namespace
}  // namespace landstat
