#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lots/town_fixture.h"
#include "platform/db/value.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

// The class columns the building-density script reads.
const Strings kScriptClasses = {"BM051", "BM052", "BM053", "BM054", "BM061", "BM062",
                                "BM063", "BM071", "BM072", "BM081", "BM082", "BM083",
                                "BM084", "BM085", "BM086", "BM087", "BM088", "BM091",
                                "BM092", "BM093", "BM094", "BM095"};

using Cells = std::vector<std::pair<std::string, db::Value>>;

// A lot of the intensity cases: its street and block (null: none), its
// area, building floor area and footprint.
struct IntensityLot {
  const char* street;
  const char* block;
  double area, floor, footprint;
};

// County 330102: street 001 with blocks 001 (land 3) and 002 (land 3, a lot
// of area 0, no footprint), street 002 without land rows, with a block
// 001, a lot without a block and a block code holding a quote.
const IntensityLot kIntensityLots[] = {
    {"330102001", "330102001001", 10, 1, 0.5}, {"330102001", "330102001002", 5, 2, 0},
    {"330102001", "330102001002", 0, 0, 0},    {"330102002", "330102002001", 7, 4, 2},
    {"330102002", nullptr, 1, 1, 1},           {"330102002", "33010200200'", 2, 0, 0}};

// XZQDM|JCQZMJ|JZZMJ|JZZDZMJ|CZRJL|CZJZRJL|CZJZMD|ZDS, sorted.
const Strings kIntensityRows = {
    "330102|6|8|3.5|1.33|2.29|0.58|5",    "330102001|6|3|0.5|0.5|6|0.08|2",
    "330102001001|3|1|0.5|0.33|2|0.17|1", "330102001002|3|2|0|0.67|-1|0|1",
    "330102002|0|5|3|-1|1.67|-1|3",       "330102002001|0|4|2|-1|2|-1|1",
    "33010200200'|0|0|0|-1|-1|-1|1"};

// A lot of the script cases: its number, use (null: a house row), class
// column and figures.
struct ScriptLot {
  const char* number;
  const char* use;
  const char* column;
  double area, footprint, lot_footprint, floor, density, ratio;
};

const ScriptLot kScriptLots[] = {{"3301020010010000001", "051", "BM051", 10, 4, 4, 20, 40, 2},
                                 {"3301020010010000002", "071", "BM071", 6, 3, 3, 9, 50, 1.5},
                                 {"3301020010020000001", "071", "BM071", 4, 1, 1, 2, 25, 0.5},
                                 {"3301020020010000001", "052", "BM052", 0, 1, 1, 2, 0, 0},
                                 {"3301020010010000001", nullptr, nullptr, 0, 2, 0, 5, 0, 0}};

class TownIntensityAndScriptTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::TownCodeEntries()));
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode());
  }

  void Insert(const std::string& table, const Cells& cells) {
    std::string columns, marks;
    std::vector<db::Value> values;
    for (const auto& [column, value] : cells) {
      columns += (columns.empty() ? "" : ",") + column;
      marks += marks.empty() ? "?" : ",?";
      values.push_back(value);
    }
    conn().Execute("insert into " + table + " (" + columns + ") values (" + marks + ")", values);
  }

  // A lot table: the fixed columns (with the two land-use columns in front
  // for the base table), then the script's class columns.
  void MakeLotTable(const std::string& table, bool base) {
    Strings columns = base ? Strings{"土地用途", "土地用途名称"} : Strings{};
    columns.insert(columns.end(), kTownLotFixedFields.begin(), kTownLotFixedFields.end());
    columns.insert(columns.end(), kScriptClasses.begin(), kScriptClasses.end());
    const std::size_t texts = base ? 17 : 15;
    std::string statement;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      statement += (i ? "," : "") + columns[i] +
                   (i < texts ? " varchar(60)" : " double precision default 0");
    }
    conn().Execute("create table " + table + " (" + statement + ")");
  }

  static Cells IntensityCells(const IntensityLot& lot) {
    const auto named = [](const char* code) {
      return code ? db::Value(std::string("名") + code) : db::Value();
    };
    return {{"县级代码", "330102"},
            {"县名称", "上城区"},
            {"街道代码", lot.street},
            {"街道名称", named(lot.street)},
            {"街坊代码", lot.block ? db::Value(lot.block) : db::Value()},
            {"街坊名称", named(lot.block)},
            {"宗地总面积", lot.area},
            {"建筑面积", lot.floor},
            {"占地面积", lot.footprint}};
  }

  // The lots in the lot table of `sources`, or, `fed`, only in the sums by
  // level kept as if fed while the table was written (the table then empty).
  void MakeIntensitySources(const TownSources& sources, bool fed = false) {
    MakeLotTable(sources.lots, false);
    Strings columns;
    for (const auto& cell : IntensityCells(kIntensityLots[0])) columns.push_back(cell.first);
    auto levels = std::make_unique<IntensityLevels>(columns);
    for (const IntensityLot& lot : kIntensityLots) {
      const Cells cells = IntensityCells(lot);
      if (!fed) Insert(sources.lots, cells);
      std::vector<db::Value> row;
      for (const auto& cell : cells) row.push_back(cell.second);
      levels->Add(row);
    }
    if (fed) context_->KeepIntensityLevels(sources, std::move(levels));
    conn().Execute("create table " + sources.land +
                   " (县级代码 varchar(60),乡级代码 varchar(60),村级代码 varchar(60),土地总面积 "
                   "double precision)");
    for (const char* village : {"330102001001", "330102001002"}) {
      Insert(sources.land, {{"县级代码", "330102"},
                            {"乡级代码", "330102001"},
                            {"村级代码", village},
                            {"土地总面积", 3.0}});
    }
  }

  void MakeScriptSource() {
    const std::string table = context_->StatDataTable();
    MakeLotTable(table, true);
    for (const ScriptLot& lot : kScriptLots) {
      const std::string number = lot.number;
      Cells cells = {{"地籍号", number},
                     {"县级代码", number.substr(0, 6)},
                     {"街道代码", number.substr(0, 9)},
                     {"街坊代码", number.substr(0, 12)},
                     {"土地用途", lot.use ? db::Value(lot.use) : db::Value()},
                     {"宗地总面积", lot.area},
                     {"占地面积", lot.footprint},
                     {"宗地建筑占地面积", lot.lot_footprint},
                     {"建筑面积", lot.floor},
                     {"建筑密度", lot.density},
                     {"建筑容积率", lot.ratio}};
      if (lot.column) cells.push_back({lot.column, lot.area});
      Insert(table, cells);
    }
  }

  // The code table of the general run: the county, street 001 and block
  // 001 of it; street 002 and the other blocks have no row.
  void MakeCodeTable() {
    conn().Execute(
        "create table CODETBL1 (代码名称 varchar(80),代码类型 varchar(20),代码 varchar(19))");
    Insert("CODETBL1", {{"代码名称", "上城区"}, {"代码类型", "县行政代码"}, {"代码", "330102"}});
    Insert("CODETBL1",
           {{"代码名称", "清波街道"}, {"代码类型", "乡行政代码"}, {"代码", "330102001"}});
    Insert("CODETBL1",
           {{"代码名称", "清波街坊"}, {"代码类型", "村行政代码"}, {"代码", "330102001001"}});
  }

  // The rows of a query and the expected ones, each sorted.
  Strings Sorted(const std::string& sql) { return Sorted(Rows(conn(), sql)); }
  static Strings Sorted(Strings rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  Strings ScriptTables(const char* base) {
    Strings tables;
    for (short unit : context_->WantedUnits()) {
      tables.push_back(context_->TownSummaryTable(unit, base));
    }
    return tables;
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CZdStatContext> context_;
};

TEST_P(TownIntensityAndScriptTablesTest, IntensityRowsOnTheUnitAndDatedRoads) {
  // The first unit's lots only as fed while its table was written.
  for (short unit : context_->WantedUnits()) {
    MakeIntensitySources(context_->UnitSources(unit), unit == context_->WantedUnits().front());
  }
  MakeIntensitySources(context_->DatedSources());
  ASSERT_EQ(context_->CreateQddcTables(), 1);
  ASSERT_EQ(context_->SumQddc(), 1);
  ASSERT_EQ(context_->CreateQddcTableDated(), 1);
  ASSERT_EQ(context_->SumQddcDated(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);

  Strings tables = ScriptTables("CZTDLY_QDDC");
  tables.push_back(context_->DatedTable("CZTDLY_QDDC"));
  ASSERT_EQ(tables.size(), 4u);
  for (const std::string& table : tables) {
    EXPECT_EQ(Sorted("select XZQDM,JCQZMJ,JZZMJ,JZZDZMJ,CZRJL,CZJZRJL,CZJZMD,ZDS from " + table),
              Sorted(kIntensityRows))
        << table;
  }
}

TEST_P(TownIntensityAndScriptTablesTest, LandAreasReadApartAddUpAsTheWalkReadsThem) {
  // Land rows whose sums depend on the order they are added in, beside a
  // null area, a negative zero and a row of no village.
  const std::pair<const char*, db::Value> kLand[] = {
      {"330102001001", 1e16},  {"330102001001", 1.0},  {nullptr, 5.0},
      {"330102001001", -1e16}, {"330102001002", -0.0}, {"330102001002", db::Value()},
      {"330102001002", 0.1},   {"330102001002", 0.2},  {"330102001001", 0.3}};
  for (short unit : context_->WantedUnits()) {
    const TownSources sources = context_->UnitSources(unit);
    MakeIntensitySources(sources);
    for (const auto& [village, area] : kLand) {
      Insert(sources.land, {{"县级代码", "330102"},
                            {"乡级代码", village ? db::Value("330102001") : db::Value()},
                            {"村级代码", village ? db::Value(village) : db::Value()},
                            {"土地总面积", area}});
    }
  }
  // The walk reading the land itself, then the land read beforehand on
  // connections of their own.
  std::vector<Strings> walks;
  for (bool apart : {false, true}) {
    if (apart) context_->ReadTownLandAreas(false);
    ASSERT_EQ(context_->CreateQddcTables(), 1);
    ASSERT_EQ(context_->SumQddc(), 1);
    Strings rows;
    for (const std::string& table : ScriptTables("CZTDLY_QDDC")) {
      for (std::string& row : Sorted("select XZQDM,JCQZMJ,CZRJL,CZJZMD from " + table)) {
        rows.push_back(std::move(row));
      }
    }
    walks.push_back(rows);
  }
  EXPECT_EQ(walks[0], walks[1]);
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);
}

TEST_P(TownIntensityAndScriptTablesTest, LandUseTableTotalsEveryUseAndGuardsZeroArea) {
  MakeScriptSource();
  // A rerun replaces the tables: the rows do not accumulate.
  for (int run = 0; run < 2; ++run) ASSERT_EQ(context_->SumTdyt(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);

  // 土地用途|宗数|宗地总面积|占地面积|建筑面积|建筑密度|建筑容积率; the house row
  // (no use) is left out, the use of area 0 has ratios 0.
  const Strings expected = {"051|1|10|4|20|40|200", "052|1|0|1|2|0|0", "071|2|10|4|11|40|110",
                            "总计|4|20|9|33|45|165"};
  for (const std::string& table : ScriptTables("CZZD_TDYT")) {
    EXPECT_EQ(Sorted("select 土地用途,宗数,宗地总面积,占地面积,建筑面积,建筑密度,建筑容积率 "
                     "from " +
                     table),
              expected)
        << table;
  }
}

TEST_P(TownIntensityAndScriptTablesTest, BuildingDensityCountsByClassAndRowKinds) {
  MakeScriptSource();
  MakeCodeTable();
  ASSERT_EQ(context_->SumJzmd(), 1);
  ASSERT_EQ(context_->SumJzmd(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);

  const Strings tables = ScriptTables("CZZD_JZMD");
  ASSERT_EQ(tables.size(), 3u);
  for (const std::string& table : tables) {
    // Seven kinds for each unit of the code table; street 002 and the
    // blocks without a code row have none.
    EXPECT_EQ(
        Rows(conn(), "select XZQDM, count(*) from " + table + " group by XZQDM order by XZQDM"),
        (Strings{"330102|7", "330102001|7", "330102001001|7"}));
    // Lots per class: the use of area 0 counts in the total, not in its class.
    EXPECT_EQ(Sorted("select XZQDM,HJ,BM051,BM052,BM071 from " + table + " where XZQMC = '2'"),
              (Strings{"330102001001|2|1|0|1", "330102001|3|1|0|2", "330102|4|1|0|2"}));
    EXPECT_EQ(Sorted("select XZQMC,TYPE,HJ,BM051,BM071 from " + table + " where XZQDM = '330102'"),
              (Strings{"1|上城区||0|0", "2|统计宗地数|4|1|2", "3|宗地面积|20|10|10",
                       "4|建筑占地面积|9|4|4", "5|建筑面积|33|20|11", "6|建筑密度|115|40|75",
                       "7|建筑容积率|4|2|2"}));
  }

  // A run that fails keeps the tables made before.
  conn().Execute("drop table CODETBL1");
  ASSERT_EQ(context_->SumJzmd(), 1);
  EXPECT_EQ(context_->m_nErrCount, 3);
  for (const std::string& table : tables) {
    EXPECT_EQ(Rows(conn(), "select count(*) from " + table), Strings{"21"}) << table;
  }
}

TEST_P(TownIntensityAndScriptTablesTest, WithoutTheGeneralRunTheTablesFailNamedAndTheRunGoesOn) {
  for (short unit : context_->WantedUnits()) {
    MakeLotTable(context_->UnitSources(unit).lots, false);
    Insert(context_->UnitSources(unit).lots,
           {{"县级代码", "330102"}, {"县名称", "上城区"}, {"宗地总面积", 1.0}});
  }
  MakeScriptSource();
  testing::ScopedTraceCapture trace;
  ASSERT_EQ(context_->CreateQddcTables(), 1);
  EXPECT_EQ(context_->SumQddc(), 1);
  EXPECT_EQ(context_->SumJzmd(), 1);
  EXPECT_EQ(context_->SumTdyt(), 1);

  // Per unit: the intensity walk names the land-use table it lacks, the
  // building-density table the code table; the land-use table is made.
  ASSERT_EQ(context_->m_nErrCount, 6);
  const std::vector<short> units = context_->WantedUnits();
  ASSERT_EQ(units.size(), 3u);
  for (std::size_t i = 0; i < units.size(); ++i) {
    EXPECT_NE(context_->m_arrFirstFailures[i].find(context_->UnitSources(units[i]).land),
              std::string::npos)
        << context_->m_arrFirstFailures[i];
    EXPECT_NE(context_->m_arrFirstFailures[3 + i].find("缺少表 CODETBL1"), std::string::npos)
        << context_->m_arrFirstFailures[3 + i];
  }
  for (const char* base : {"CZZD_JZMD", "CZZD_TDYT"}) {
    for (const std::string& table : ScriptTables(base)) {
      EXPECT_EQ(context_->IsTableExist(table), base == std::string("CZZD_TDYT")) << table;
    }
  }
  // Each failed statement is traced.
  EXPECT_EQ(std::count_if(trace.lines.begin(), trace.lines.end(),
                          [](const std::string& line) {
                            return line.rfind("select * into", 0) == 0 &&
                                   line.find("from CODETBL1 where") != std::string::npos;
                          }),
            3);
  EXPECT_TRUE(context_->LoadSqlResource(6007, "").empty());
  EXPECT_TRUE(context_->LoadSqlResource(6006, "SQL").empty());
}

TEST_P(TownIntensityAndScriptTablesTest, IntensityWalkEndsLoggedAtAFailedReadOrWrite) {
  const TownSources sources = {"Lots", "Land"};
  MakeIntensitySources(sources);
  // A block code too long for XZQDM: the rows before it (county, streets,
  // the first block) stay.
  Insert(sources.lots, {{"县级代码", "330102"},
                        {"县名称", "上城区"},
                        {"街道代码", "330102001"},
                        {"街道名称", "名330102001"},
                        {"街坊代码", "33010200100100000001"},
                        {"街坊名称", "长"}});
  ASSERT_EQ(context_->CreateQddcTable("Qddc"), 1);
  EXPECT_EQ(context_->SumQddcTable("Qddc", sources.lots, sources.land), 0);
  EXPECT_EQ(Rows(conn(), "select count(*) from Qddc"), Strings{"4"});
  // No target, no lot table: each ends the walk with its own line.
  EXPECT_EQ(context_->SumQddcTable("NoTable", sources.lots, sources.land), 0);
  EXPECT_EQ(context_->SumQddcTable("Qddc", "NoLots", sources.land), 0);
  ASSERT_EQ(context_->m_nErrCount, 3);
  EXPECT_NE(context_->m_arrFirstFailures[0].find("汇总城镇土地利用强度调查表 Qddc"),
            std::string::npos);
  EXPECT_NE(context_->m_arrFirstFailures[1].find("连接城镇土地利用强度调查表失败"),
            std::string::npos);
  EXPECT_NE(context_->m_arrFirstFailures[2].find("NoLots"), std::string::npos);
}

LANDSTAT_BOTH_ENGINES(TownIntensityAndScriptTablesTest);

}  // namespace
}  // namespace landstat
