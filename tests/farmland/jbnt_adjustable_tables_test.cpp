// The adjustable-farmland tables by level (JBNTKTZ) and by protection block
// (BHKKTZ), summed from hand-made unit copies of the farmland base table.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "landuse/generated_county_run.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

const char kGroup2[] = "3301020010010020000";
// A village with farmland but none of it adjustable, in another township.
const char kVillage3[] = "330102002001";
const char kGroup3[] = "3301020020010010000";

class JbntAdjustableTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    context_ = testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
    ASSERT_EQ(context_->CreateUnitJbntTables(), 1);
    // Village, group, owner, class remark, remark of the farmland brought
    // in, block, areas of classes 011 and 013. Only 'K' and 'k' count.
    const std::string village = "'" + testing::kVillage + "'";
    const std::string group = "'" + testing::kGroup + "'";
    const std::string rows[] = {
        village + "," + group + "," + group + ",'K',NULL,'A',100,0",
        village + "," + group + "," + group + ",'k','TC','A',0,50",
        village + "," + group + "," + group + ",'K1',NULL,'A',7,0",
        village + ",'" + kGroup2 + "','3301020010020010000','K','','B',20,0",
        std::string("'") + kVillage3 + "','" + kGroup3 + "','" + kGroup3 + "','',NULL,'C',0,30",
    };
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      for (const std::string& values : rows) {
        conn().Execute("insert into " + Copy(unit) +
                       " (村级代码,座落单位代码,权属单位代码,地类备注,调入备注,保护片编号,BM011,"
                       "BM013) values (" +
                       values + ")");
      }
      conn().Execute("update " + Copy(unit) +
                     " set BM01 = BM011 + BM013, 土地总面积 = BM011 + BM013");
    }
  }

  std::string Copy(short unit) const { return context_->Names().UnitCopy(unit, "statdata_jbnt"); }
  std::string Table(char scope, short unit, const char* base) const {
    return context_->Names().Summary(scope, unit, base);
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::SmallCodeEntries())};
  std::unique_ptr<CStatContext> context_;
};

// Villages (with a row of 0 for one without adjustable land), groups (not
// summed upwards), townships and the county, by location and by owner;
// blocks with a row of 0 for one without adjustable land, the same in both
// scopes. Under "山东" the 'TC' farmland is left out but not the farmland
// whose remark is NULL or empty.
TEST_P(JbntAdjustableTablesTest, AdjustableAreaByLevelAndBlock) {
  const struct {
    const char* version;
    char scope;
    Strings levels;  // XZQDM|XZQMC|XZQZMJ|BM01K|BM011K|BM013K
    Strings blocks;  // JBNTBHKNO|XZQMC|XZQZMJ|BM011K
  } cases[] = {
      {"通用农村",
       'Z',
       {"330102|上城区|170|170|120|50", "330102001|一乡|170|170|120|50",
        "330102001001|一村|170|170|120|50", "3301020010010010000|一组|150|150|100|50",
        "3301020010010020000||20|20|20|0", "330102002||0|0|0|0", "330102002001||0|0|0|0",
        "3301020020010010000||0|0|0|0"},
       {"A||150|100", "B||20|20", "C||0|0"}},
      {"通用农村",
       'Q',
       {"330102|上城区|170|170|120|50", "330102001|一乡|170|170|120|50",
        "330102001001|一村|150|150|100|50", "3301020010010010000|一组|150|150|100|50",
        "3301020010010020000||0|0|0|0", "330102001002||20|20|20|0",
        "3301020010020010000||20|20|20|0", "330102002||0|0|0|0", "330102002001||0|0|0|0",
        "3301020020010010000||0|0|0|0"},
       {"A||150|100", "B||20|20", "C||0|0"}},
      {"山东农村",
       'Z',
       {"330102|上城区|120|120|120|0", "330102001|一乡|120|120|120|0",
        "330102001001|一村|120|120|120|0", "3301020010010010000|一组|100|100|100|0",
        "3301020010010020000||20|20|20|0", "330102002||0|0|0|0", "330102002001||0|0|0|0",
        "3301020020010010000||0|0|0|0"},
       {"A||100|100", "B||20|20", "C||0|0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + c.scope);
    context_->m_strVersion = c.version;
    ASSERT_EQ(context_->CreateJbntKtzTables(), 1);
    ASSERT_EQ(context_->StatJbntKtz(), 1);
    ASSERT_EQ(context_->CreateBhkKtzTables(), 1);
    ASSERT_EQ(context_->StatBhkKtz(), 1);
    EXPECT_EQ(context_->m_nErrCount, 0);
    EXPECT_EQ(Rows(conn(), "select XZQDM, XZQMC, XZQZMJ, BM01K, BM011K, BM013K from " +
                               Table(c.scope, kSquareMetre, "JBNTKTZ") + " order by XZQDM"),
              c.levels);
    EXPECT_EQ(Rows(conn(), "select JBNTBHKNO, XZQMC, XZQZMJ, BM011K from " +
                               Table(c.scope, kSquareMetre, "BHKKTZ") + " order by JBNTBHKNO"),
              c.blocks);
  }
  // Every unit copy is summed into its own table.
  EXPECT_EQ(
      Rows(conn(), "select XZQZMJ from " + Table('Q', kMu, "JBNTKTZ") + " where XZQDM = '330102'"),
      Strings{"120"});
}

// A missing unit copy fails its tables with a logged failure naming the
// copy; the other tables are still filled.
TEST_P(JbntAdjustableTablesTest, MissingUnitCopyIsLoggedAndTheRestFilled) {
  context_->m_nStatScope = 0;
  ASSERT_EQ(context_->CreateJbntKtzTables(), 1);
  ASSERT_EQ(context_->CreateBhkKtzTables(), 1);
  conn().Execute("drop table " + Copy(kHectare));
  EXPECT_EQ(context_->SumJbntKtz(Table('Z', kHectare, "JBNTKTZ"), 0, Copy(kHectare)), 0);
  EXPECT_EQ(context_->SumBhkKtz(Table('Z', kHectare, "BHKKTZ"), 0, Copy(kHectare)), 0);
  // The village and group levels, then the block fill.
  EXPECT_EQ(context_->m_nErrCount, 3);
  std::string copy = Copy(kHectare);
  std::transform(copy.begin(), copy.end(), copy.begin(),
                 [](unsigned char ch) { return std::tolower(ch); });
  for (std::string line : context_->m_arrFirstFailures) {
    std::transform(line.begin(), line.end(), line.begin(),
                   [](unsigned char ch) { return std::tolower(ch); });
    EXPECT_NE(line.find(copy), std::string::npos) << line;
  }
  EXPECT_EQ(context_->StatJbntKtz(), 1);
  EXPECT_EQ(
      Rows(conn(), "select XZQZMJ from " + Table('Z', kMu, "JBNTKTZ") + " where XZQDM = '330102'"),
      Strings{"170"});
}

// The families stand after the farmland base data of rural runs and make
// nothing when the base data were not built.
TEST_P(JbntAdjustableTablesTest, FamiliesNeedTheFarmlandBaseData) {
  for (const auto& [base, stage] : {std::pair{"JBNTKTZ", 2400}, std::pair{"BHKKTZ", 2600}}) {
    const auto families = FamiliesInStageOrder();
    const auto found = std::find_if(families.begin(), families.end(), [&](const TableFamily* f) {
      return std::strcmp(f->base, base) == 0;
    });
    ASSERT_NE(found, families.end()) << base;
    EXPECT_EQ((*found)->stage, stage);
    EXPECT_TRUE((*found)->builds(RunVariant{"通用农村"}));
    EXPECT_FALSE((*found)->builds(RunVariant{"城镇"}));
    context_->m_nJbntBaseData = 0;
    EXPECT_EQ((*found)->create(*context_), 0);
    EXPECT_FALSE(conn().TableExists(Table('Z', kSquareMetre, base)));
    context_->m_nJbntBaseData = 1;
    EXPECT_EQ((*found)->create(*context_), 1);
    EXPECT_TRUE(conn().TableExists(Table('Q', kMu, base)));
  }
}

TEST_P(JbntAdjustableTablesTest, OracleTexts) {
  if (!IsServer()) GTEST_SKIP() << "the Oracle texts are written for a server database";
  ASSERT_EQ(context_->CreateJbntKtzTable("OK1"), 1);
  context_->m_bOracle = true;
  context_->m_strVersion = "山东农村";
  testing::ScopedTraceCapture trace;
  context_->SumJbntKtz("OK1", 1, Copy(kMu));
  std::string text;
  for (const std::string& line : trace.lines) text += line + "\n";
  const std::string copy = Copy(kMu);
  for (const std::string& expected : Strings{
           " SELECT substr(权属单位代码,0,12),SUM(土地总面积), SUM(BM01) ,SUM(BM011) ",
           "WHERE (地类备注 LIKE 'K' OR 地类备注 LIKE 'k') AND (调入备注 IS NULL OR 调入备注 <> "
           "'TC') GROUP BY substr(权属单位代码,0,12)",
           "where 村级代码 is not null) d left join OK1 t on t.XZQDM = d.code where t.XZQDM is "
           "null",
           "FROM " + copy + " WHERE  " + copy +
               ".权属单位代码 LIKE '330102_____________'  AND( 地类备注 LIKE 'K' OR 地类备注 LIKE "
               "'k') AND (调入备注 IS NULL OR 调入备注 <> 'TC') GROUP BY 权属单位代码",
           "SELECT substr(XZQDM,0,9),SUM(XZQZMJ), SUM(BM01K) ,SUM(BM011K) ",
           "WHERE XZQDM LIKE '330102___' GROUP BY substr(XZQDM,0,6)"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(text.find("left("), std::string::npos) << text;
}

LANDSTAT_BOTH_ENGINES(JbntAdjustableTablesTest);

class JbntAdjustableCountyTest : public BothEngines {
 protected:
  void SetUpDatabase() override { testing::WriteStatConfig(testing::kThreeUnits); }
  testing::ScopedProgramDir home_;
};

// On a generated county: each township row is the sum of its villages and
// the county row that of its townships, the Z and Q tables and the blocks
// hold the same total, and a second run gives the same tables.
TEST_P(JbntAdjustableCountyTest, LevelsAddUpAndRunsRepeat) {
  const testing::GeneratedCountyRun county(home_, 19, 600);
  testing::ScopedLayer farmland(gis::OpenLayer(county.files.survey, "基本农田图斑"));
  CStatContext context(0, 0, 0, 0, farmland, 0, 0, 0, 0, 0, county.codes.get(), "2009",
                       county.options.county_code, "", 1, "通用农村");
  ASSERT_EQ(context.InitUnits(database().ConnectionString(), Mode()), 1);
  ASSERT_EQ(context.LoadCodes(), 1);
  ASSERT_EQ(context.CreateJbntStatTable(), 1);
  ASSERT_EQ(context.StatJbntBaseData(), 1);
  const auto& names = context.Names();
  Strings first;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(context.CreateJbntKtzTables(), 1);
    ASSERT_EQ(context.StatJbntKtz(), 1);
    ASSERT_EQ(context.CreateBhkKtzTables(), 1);
    ASSERT_EQ(context.StatBhkKtz(), 1);
    Strings tables;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      SCOPED_TRACE(unit);
      const std::string z = names.Summary('Z', unit, "JBNTKTZ");
      const std::string q = names.Summary('Q', unit, "JBNTKTZ");
      for (const std::string& table : {z, q}) {
        for (const auto& [upper, lower] : {std::pair{9, 12}, std::pair{6, 9}}) {
          EXPECT_EQ(Rows(conn(), fmt::format("select count(*) from {0} u where length(u.XZQDM) = "
                                             "{1} and abs(u.XZQZMJ - (select sum(l.XZQZMJ) from "
                                             "{0} l where length(l.XZQDM) = {2} and "
                                             "substr(l.XZQDM,1,{1}) = u.XZQDM)) > 0.000001",
                                             table, upper, lower)),
                    Strings{"0"})
              << table << " " << upper;
        }
      }
      const std::string county_total =
          Rows(conn(), "select XZQZMJ from " + z + " where XZQDM = '330102'").at(0);
      EXPECT_NE(county_total, "0");
      EXPECT_EQ(Rows(conn(), "select XZQZMJ from " + q + " where XZQDM = '330102'"),
                Strings{county_total});
      for (char scope : {'Z', 'Q'}) {
        const std::string blocks = names.Summary(scope, unit, "BHKKTZ");
        EXPECT_NEAR(testing::Numbers(conn(), "select sum(XZQZMJ) from " + blocks).at(0),
                    std::stod(county_total), 0.000001);
        const Strings rows = Rows(conn(), "select * from " + blocks + " order by JBNTBHKNO");
        tables.insert(tables.end(), rows.begin(), rows.end());
      }
      for (const std::string& table : {z, q}) {
        const Strings rows = Rows(conn(), "select * from " + table + " order by XZQDM");
        tables.insert(tables.end(), rows.begin(), rows.end());
      }
    }
    if (run == 0) first = tables;
    EXPECT_EQ(tables, first);
  }
  EXPECT_EQ(context.m_nErrCount, 0);
}

LANDSTAT_BOTH_ENGINES(JbntAdjustableCountyTest);

}  // namespace
}  // namespace landstat
