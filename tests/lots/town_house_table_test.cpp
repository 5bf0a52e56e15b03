// The house information table CZFWXXTJ: house rows worked out by hand, the
// factor of every unit pair, the order of the unit tables, bad input, and
// the fill from the house layer's own tables on a server.

#include "lots/town_house_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "lots/town_fixture.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using Strings = std::vector<std::string>;

constexpr char kHouseColumns[] =
    "序号, 隶属宗地, 房屋编号, 房屋名称, 房屋结构, 房屋层数, 建筑面积, 占地面积, 占用面积";

FieldValues House(const std::string& lot, const std::string& structure, const std::string& built,
                  const std::string& covered) {
  return {{"隶属宗地", lot},       {"房屋编号", "F" + lot}, {"房屋名称", "房" + lot},
          {"房屋结构", structure}, {"房屋层数", "3"},       {"建筑面积", built},
          {"占地面积", covered}};
}

class HouseTableTest : public BothEngines {
 protected:
  void SetUpDatabase() override { testing::WriteStatConfig(testing::kThreeUnits); }

  // Writes the house layer (none when `houses` is null), deletes the
  // features of `deleted` and opens a town-lot context on it.
  void Open(const std::vector<FieldValues>* houses, const std::vector<long long>& deleted = {},
            const std::string& sql = "") {
    const std::string path = home_.File("town.gpkg");
    std::filesystem::remove(path);
    testing::WriteTownLayers(path, {}, houses);
    for (long long fid : deleted) testing::DeleteFixtureFeature(path, "房屋层", fid);
    if (!sql.empty()) testing::RunFixtureSql(path, sql);
    if (houses) layer_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(path, "房屋层"));
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode(), 0,
                                    houses ? gis::LayerHandle{*layer_} : gis::LayerHandle{0});
  }

  Strings Table(const std::string& table) {
    return testing::Rows(conn(), std::string("select ") + kHouseColumns + " from " + table);
  }
  std::string Table(short unit) { return context_->TownSummaryTable(unit, "CZFWXXTJ"); }
  const Strings& Failures() const { return context_->m_arrFirstFailures; }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::TownCodeEntries())};
  std::unique_ptr<testing::ScopedLayer> layer_;
  std::unique_ptr<CZdStatContext> context_;
};

// Record 2 is deleted, record 3's building area is no number, record 4's
// lot is longer than its column, record 5's footprint is empty: house 1
// alone has a row, and the others are logged.
TEST_P(HouseTableTest, HouseRowsAreNumberedConvertedAndSummed) {
  const std::vector<FieldValues> houses = {
      House("L1", "1", "100.004", "50.006"), House("L2", "1", "7", "7"),
      House("L3", "9", "abc", "2.5"), House(std::string(21, 'L'), "2", "9", "9"),
      House("L5", "2", "0.996", "")};
  Open(&houses, {2});
  const std::string table = Table(kSquareMetre);
  ASSERT_EQ(context_->CreateFwxxtjTable(table), 1);
  EXPECT_EQ(context_->FillFwxxtjTable(table, kSquareMetre, kSquareMetre, 2), 1);
  EXPECT_EQ(Table(table), (Strings{"1|L1|FL1|房L1|钢结构|3|100|50.01|0", "合计||||||100|50.01|0"}));
  ASSERT_EQ(Failures().size(), 3u) << ::testing::PrintToString(Failures());
  EXPECT_NE(Failures()[0].find("图层 房屋层 记录 3 字段 建筑面积 面积不是数值: abc, 图元未计入"),
            std::string::npos)
      << Failures()[0];
  // The layer is read whole before the rows are written.
  EXPECT_NE(Failures()[1].find("图层 房屋层 记录 5 字段 占地面积 面积为空"), std::string::npos)
      << Failures()[1];
  EXPECT_EQ(Failures()[2].rfind("3 " + std::string(21, 'L') + " 写入房屋信息失败", 0), 0u)
      << Failures()[2];
}

// Every unit pair on one area large enough to show the factor's precision
// (1/15 printed with six decimals would give 8230.49 for mu to hectares).
TEST_P(HouseTableTest, EveryUnitPairConvertsByItsExactFactor) {
  const std::vector<FieldValues> houses = {House("L1", "1", "123456.78", "0")};
  Open(&houses);
  struct Case {
    short from, to;
    short result;
    Strings built;
  };
  const std::vector<Case> cases = {
      {kSquareMetre, kSquareMetre, 1, {"123456.78", "123456.78"}},
      {kSquareMetre, kMu, 1, {"185.19", "185.19"}},
      {kSquareMetre, kHectare, 1, {"12.35", "12.35"}},
      {kMu, kSquareMetre, 1, {"82304520", "82304520"}},
      {kMu, kHectare, 1, {"8230.45", "8230.45"}},
      {kHectare, kMu, 1, {"1851851.7", "1851851.7"}},
      {kHectare, kSquareMetre, 1, {"1234567800", "1234567800"}},
      {kSquareMetre, 5, 0, {}},
  };
  for (const Case& c : cases) {
    const std::string table = "H" + std::to_string(c.from) + "_" + std::to_string(c.to);
    ASSERT_EQ(context_->CreateFwxxtjTable(table), 1);
    EXPECT_EQ(context_->FillFwxxtjTable(table, c.from, c.to, 2), c.result) << table;
    EXPECT_EQ(testing::Texts(conn(), "select 建筑面积 from " + table), c.built) << table;
  }
  ASSERT_EQ(Failures().size(), 1u);
  EXPECT_EQ(Failures()[0], "1 H2_5 面积单位 2 不能换算为 5, 写入房屋信息失败");
}

// Square metres, hectares and mu: the hectare table first (4 decimals),
// then mu, then the square-metre table in its own unit; a house left out is
// logged once, by the table in the source unit; the record walk says once
// that it reads the layer record by record.
TEST_P(HouseTableTest, UnitTablesAreFilledHectaresMuThenUnitOne) {
  const std::vector<FieldValues> houses = {House("L1", "1", "2", "1234.5678"),
                                           House("L2", "1", "x", "1")};
  Open(&houses);
  testing::ScopedTraceCapture trace;
  EXPECT_EQ(context_->CreateFwxxtjTables(), 1);
  EXPECT_EQ(context_->SumFwxxtj(), 1);
  const Strings tables = {Table(kHectare), Table(kMu), Table(kSquareMetre)};
  EXPECT_EQ(tables[0], IsServer() ? "ZGQ2009330102CZFWXXTJ" : "ZGQCZFWXXTJ");
  ASSERT_EQ(Failures().size(), 1u) << ::testing::PrintToString(Failures());
  EXPECT_NE(Failures()[0].find("记录 2 字段 建筑面积 面积不是数值: x"), std::string::npos)
      << Failures()[0];
  const Strings covered = {"0.1235", "1.85", "1234.57"};
  for (std::size_t i = 0; i < tables.size(); ++i) {
    EXPECT_EQ(testing::Texts(conn(), "select 占地面积 from " + tables[i]),
              (Strings{covered[i], covered[i]}));
  }
  EXPECT_EQ(std::count_if(trace.lines.begin(), trace.lines.end(),
                          [](const std::string& line) {
                            return line.find("逐条读取房屋层") != std::string::npos;
                          }),
            1);
}

// No house layer: the tables stay empty and the fills give 0, unlogged. A
// readable layer without houses gets its total row of zeros; a table that
// cannot be opened fails its fill, logged.
TEST_P(HouseTableTest, BadInputLeavesTotalsOrALoggedFailure) {
  Open(nullptr);
  EXPECT_EQ(context_->CreateFwxxtjTables(), 1);
  EXPECT_EQ(context_->SumFwxxtj(), 1);
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    EXPECT_EQ(Table(Table(unit)), Strings{}) << unit;
    EXPECT_EQ(context_->FillFwxxtjTable(Table(unit), kSquareMetre, unit, 2), 0) << unit;
  }
  EXPECT_EQ(Failures(), Strings{});

  const std::vector<FieldValues> none;
  Open(&none);
  ASSERT_EQ(context_->CreateFwxxtjTables(), 1);
  EXPECT_EQ(context_->SumFwxxtj(), 1);
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    EXPECT_EQ(Table(Table(unit)), (Strings{"合计||||||0|0|0"})) << unit;
  }
  EXPECT_EQ(context_->FillFwxxtjTable("NoSuchTable", kSquareMetre, kMu, 2), 0);
  ASSERT_EQ(Failures().size(), 1u);
  EXPECT_EQ(Failures()[0].rfind("1 NoSuchTable 连接房屋信息汇总表失败", 0), 0u) << Failures()[0];
  // A unit table that cannot be filled fails the whole sum.
  conn().Execute("drop table " + Table(kMu));
  EXPECT_EQ(context_->SumFwxxtj(), 0);
  EXPECT_EQ(Failures().size(), 2u);
}

// A house layer lacking a field the rows need: one failure naming the
// layer and the field, no row in any table, and the sum fails.
TEST_P(HouseTableTest, MissingFieldWritesNoRows) {
  const std::vector<FieldValues> houses = {House("L1", "1", "2", "3")};
  Open(&houses, {}, "ALTER TABLE 房屋层 DROP COLUMN 建筑面积");
  EXPECT_EQ(context_->CreateFwxxtjTables(), 1);
  EXPECT_EQ(context_->SumFwxxtj(), 0);
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    EXPECT_EQ(Table(Table(unit)), Strings{}) << unit;
  }
  ASSERT_EQ(Failures().size(), 1u) << ::testing::PrintToString(Failures());
  EXPECT_NE(Failures()[0].find("图层 房屋层 缺少字段 建筑面积"), std::string::npos)
      << Failures()[0];
}

// Once the base table's walk has written its lots, a house of any other
// lot is left out (the walk logged it).
TEST_P(HouseTableTest, HousesOfLotsLeftOutAreLeftOut) {
  const std::vector<FieldValues> houses = {House("L1", "1", "2", "3"), House("L 2", "1", "4", "5")};
  Open(&houses);
  context_->m_writtenLots = std::unordered_set<std::string>{"L2"};
  const std::string table = Table(kSquareMetre);
  ASSERT_EQ(context_->CreateFwxxtjTable(table), 1);
  EXPECT_EQ(context_->FillFwxxtjTable(table, kSquareMetre, kSquareMetre, 2), 1);
  EXPECT_EQ(Table(table), (Strings{"1|L 2|FL 2|房L 2|钢结构|3|4|5|0", "合计||||||4|5|0"}));
  EXPECT_TRUE(Failures().empty()) << ::testing::PrintToString(Failures());
}

LANDSTAT_BOTH_ENGINES(HouseTableTest);

TEST(HouseTableStatements, ConvertExactlyFromTheLayerTables) {
  EXPECT_EQ(HouseAttributeTable("房屋层"), "房屋层RRA");
  EXPECT_EQ(HouseRegionTable("房屋.wp"), "房屋REG");
  EXPECT_EQ(HouseTableStatements("ZGQCZFWXXTJ", "HRRA", "HREG", kMu, kHectare, 4),
            (Strings{"insert into ZGQCZFWXXTJ(隶属宗地,房屋编号,房屋名称,房屋结构,房屋层数,"
                     "建筑面积,占地面积,占用面积)\r\n\t\t\tselect 隶属宗地,房屋编号,房屋名称,"
                     "房屋结构,房屋层数,round(建筑面积/15,4),round(占地面积/15,4),"
                     "round(area/15,4)\r\n\t\t\tfrom HRRA a ,HREG b where a.ID0=b.ID0 and "
                     "b.exist=1 ",
                     "insert into ZGQCZFWXXTJ(建筑面积,占地面积,占用面积) select sum(建筑面积),"
                     "sum(占地面积),sum(占用面积) from ZGQCZFWXXTJ "}));
  EXPECT_TRUE(HouseTableStatements("T", "A", "R", kSquareMetre, 7, 2).empty());
}

// On a server whose database holds the house layer's tables, the fill reads
// them: live regions only, structure codes as stored, the sums without a
// number.
TEST_P(HouseTableTest, ServerFillReadsTheLayerTables) {
  if (!IsServer()) GTEST_SKIP() << "the layer's tables live in a server database";
  const std::vector<FieldValues> houses = {House("L1", "1", "1", "1")};
  Open(&houses);
  conn().Execute(
      "create table 房屋层RRA(ID0 int, 隶属宗地 varchar(20), 房屋编号 varchar(60), 房屋名称 "
      "varchar(60), 房屋结构 varchar(60), 房屋层数 varchar(20), 建筑面积 float, 占地面积 float, "
      "area float)");
  conn().Execute("create table 房屋层REG(ID0 int, exist int)");
  conn().Execute(
      "insert into 房屋层RRA values (1,'A','F1','甲','1','2',1500,300,15), "
      "(2,'B','F2','乙','2','1',30,30,30)");
  conn().Execute("insert into 房屋层REG values (1,1), (2,0)");
  const std::string table = Table(kMu);
  ASSERT_EQ(context_->CreateFwxxtjTable(table), 1);
  EXPECT_EQ(context_->FillFwxxtjTable(table, kSquareMetre, kMu, 2), 1);
  EXPECT_EQ(Table(table), (Strings{"|A|F1|甲|1|2|2.25|0.45|0.02", "||||||2.25|0.45|0.02"}));
  EXPECT_TRUE(Failures().empty());
}

}  // namespace
}  // namespace landstat
