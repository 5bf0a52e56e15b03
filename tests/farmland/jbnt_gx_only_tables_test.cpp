// The Guangxi farmland tables, the parcels-only farmland tables and the
// farmland slope summary, from a farmland base table written by hand and
// condensed into its unit copies as a run condenses it; their places in
// the run; generated "广西农村" and "duda" runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/statistics_run.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "landuse/generated_county_run.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Numbers;
using testing::Rows;
using Strings = std::vector<std::string>;

// The classes of the situation tables; those the small code list lacks
// are added.
const char* const kClassCodes[] = {
    "01",  "011", "012", "013", "02",  "021", "022", "023", "03",  "031", "032", "033",
    "04",  "041", "042", "043", "10",  "101", "102", "103", "104", "105", "106", "107",
    "11",  "111", "112", "113", "114", "115", "116", "117", "118", "119", "12",  "121",
    "122", "123", "124", "125", "126", "127", "20",  "201", "202", "203", "204", "205"};

// 来源, class, 地类备注, 调入备注, 是否补划, block, 耕地类型, 耕地坡度级,
// unit (the last digit of the county's group code; 1 and 2 in village
// 330102001001, 3 in 330102002001), area in square metres.
struct BaseRow {
  const char *source, *code, *remark, *transfer, *added, *block, *type;
  int grade;
  char unit;
  double area;
};
const BaseRow kBaseRows[] = {
    {"地类图斑", "011", nullptr, nullptr, "Y", "A", "TT", 3, '1', 1000},
    {"地类图斑", "011", nullptr, nullptr, "N", "A", "", 0, '1', 200},
    {"地类图斑", "021", "K", nullptr, "Y", "A", "", 5, '2', 30},
    {"地类图斑", "021", nullptr, "TC", "N", "B", "", 0, '3', 40},
    {"地类图斑", "033", "k", nullptr, "N", "B", "", 0, '3', 5},
    {"线状地物", "011", nullptr, nullptr, "N", "A", "", 0, '1', 7},
    {"地类图斑", "042", "K", nullptr, "Y", "B", "", 0, '3', 3},
};

std::string Quoted(const char* text) {
  return text ? "'" + std::string(text) + "'" : "NULL";
}

class JbntRegionalTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
  }

  // A context of `version` whose farmland base table holds kBaseRows (less
  // `skipped`), condensed into the unit copies, converted and balanced.
  std::unique_ptr<CStatContext> Farmland(const std::string& version, int skipped = -1) {
    auto c =
        testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode(), version, 1);
    for (const char* code : kClassCodes) {
      auto& codes = c->m_arrClassCodes;
      if (std::find(codes.begin(), codes.end(), code) != codes.end()) continue;
      codes.push_back(code);
      c->m_arrStatFields.push_back("BM" + std::string(code));
    }
    EXPECT_EQ(c->CreateJbntStatTable(), 1);
    for (int i = 0; i < static_cast<int>(std::size(kBaseRows)); ++i) {
      if (i != skipped) Insert(*c, kBaseRows[i]);
    }
    EXPECT_EQ(c->CreateUnitJbntTables(), 1);
    c->BuildJbntBaseDataCopies();
    EXPECT_EQ(c->BalanceStatDataByUnit(), 1);
    c->m_nJbntBaseData = 1;
    return c;
  }

  void Insert(CStatContext& c, const BaseRow& row) {
    const std::string village = row.unit == '3' ? "330102002001" : "330102001001";
    const std::string group = village + "00" + row.unit + "0000";
    const std::string area = std::to_string(row.area);
    const std::string code(row.code);
    conn().Execute(
        "insert into " + c.m_strJbntTbl +
        " (来源,地类编码,地类备注,调入备注,是否补划,保护片编号,耕地类型,耕地坡度级,县级代码,"
        "县名称,乡级代码,乡名称,村级代码,村名称,座落单位代码,座落单位名称,权属单位代码,"
        "土地总面积,BM" +
        code + ",BM" + code.substr(0, 2) + ") values (" + Quoted(row.source) + "," +
        Quoted(row.code) + "," + Quoted(row.remark) + "," + Quoted(row.transfer) + "," +
        Quoted(row.added) + "," + Quoted(row.block) + "," + Quoted(row.type) + "," +
        std::to_string(row.grade) + ",'330102','县','" + village.substr(0, 9) + "','乡" +
        village.substr(0, 9) + "','" + village + "','村" + village + "','" + group + "','组" +
        row.unit + "','" + group + "'," + area + "," + area + "," + area + ")");
  }

  std::string Table(char scope, short unit, const char* base) const {
    return context_->Names().Summary(scope, unit, base);
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

// A K piece of class 021 counts in BM02, QTHJ and ZHJ, not in BM021; so
// for 033 'k' and 042 'K'; a 'TC' piece and a linear feature count. The Q
// tables stay empty.
TEST_P(JbntRegionalTablesTest, GuangxiTablesLeaveAdjustableLandOutOfSevenClasses) {
  context_ = Farmland("广西农村");
  ASSERT_EQ(context_->CreateJbntQktjGxTables(), 1);
  ASSERT_EQ(context_->StatJbntQktjGx(), 1);
  ASSERT_EQ(context_->CreateJbntNewBhkQktjGxTables(), 1);
  ASSERT_EQ(context_->StatJbntNewBhkQktjGx(), 1);
  ASSERT_EQ(context_->StatJbntBhmjGx(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0) << context_->m_strLogMsg;
  EXPECT_EQ(
      Rows(conn(),
           "select XZQDM,ZHJ,BM01HJ,BM011,QTHJ,BM02,BM021,BM03,BM033,BM04,BM042 "
           "from " +
               Table('Z', kSquareMetre, "JBNTQKTJGX") + " order by XZQDM"),
      (Strings{"330102|1285|1207|1207|78|70|40|5|0|3|0", "330102001|1237|1207|1207|30|30|0|0|0|0|0",
               "330102001001|1237|1207|1207|30|30|0|0|0|0|0",
               "3301020010010010000|1207|1207|1207|0|0|0|0|0|0|0",
               "3301020010010020000|30|0|0|30|30|0|0|0|0|0", "330102002|48|0|0|48|40|40|5|0|3|0",
               "330102002001|48|0|0|48|40|40|5|0|3|0",
               "3301020020010030000|48|0|0|48|40|40|5|0|3|0"}));
  EXPECT_EQ(Numbers(conn(), "select count(*) from " + Table('Q', kHectare, "JBNTQKTJGX")),
            std::vector<double>{0});
  EXPECT_EQ(Rows(conn(), "select BHKBH,ZHJ,BM011,BM02,BM021,BM03,BM033,BM04,BM042 from " +
                             Table('Z', kMu, "JBNTNEWBHKQKTJGX") + " order by BHKBH"),
            (Strings{"A|1.86|1.81|0.05|0|0|0|0|0", "B|0.07|0|0.06|0.06|0.01|0|0|0"}));
  // Only the supplementary ('Y') pieces, the K part of the seven classes.
  EXPECT_EQ(Rows(conn(), "select XZQDM,BHKZJMJ,BM01,BM011,KTZMJ,BM021K,BM042K,BM114K from " +
                             Table('Z', kSquareMetre, "JBNTBHMJGX") + " order by XZQDM"),
            (Strings{"330102|1033|1000|1000|33|30|3|0", "330102001|1030|1000|1000|30|30|0|0",
                     "330102001001|1030|1000|1000|30|30|0|0", "330102002|3|0|0|3|0|3|0",
                     "330102002001|3|0|0|3|0|3|0"}));
}

// JBNTBHMJGX without supplementary pieces is made empty, and a second
// build replaces the first's table. A missing copy fails each Guangxi
// table of its unit, logged with the copy's name; the other units are
// built.
TEST_P(JbntRegionalTablesTest, GuangxiSupplementTableIsReplacedAndMissingCopyLogged) {
  context_ = Farmland("广西农村");
  ASSERT_EQ(context_->StatJbntBhmjGx(), 1);
  conn().Execute("update " + context_->Names().UnitCopy(kHectare, "statdata_jbnt") +
                 " set 是否补划 = 'N'");
  const std::string missing = context_->Names().UnitCopy(kMu, "statdata_jbnt");
  conn().Execute("drop table " + missing);
  ASSERT_EQ(context_->StatJbntBhmjGx(), 1);
  ASSERT_EQ(context_->CreateJbntQktjGxTables(), 1);
  ASSERT_EQ(context_->StatJbntQktjGx(), 1);
  ASSERT_EQ(context_->CreateJbntNewBhkQktjGxTables(), 1);
  ASSERT_EQ(context_->StatJbntNewBhkQktjGx(), 1);
  EXPECT_EQ(Numbers(conn(), "select count(*) from " + Table('Q', kHectare, "JBNTBHMJGX")),
            std::vector<double>{0});
  EXPECT_FALSE(conn().TableExists(Table('Z', kMu, "JBNTBHMJGX")));
  // JBNTBHMJGX Z and Q, the situation table's county level, the block table.
  EXPECT_EQ(context_->m_nErrCount, 4);
  for (const char* base : {"JBNTBHMJGX", "JBNTQKTJGX", "JBNTNEWBHKQKTJGX"}) {
    const std::string table = Table('Z', kMu, base);
    bool named = false;
    for (const std::string& line : context_->m_arrFirstFailures) {
      named = named ||
              (line.find(table) != std::string::npos && line.find(missing) != std::string::npos);
    }
    EXPECT_TRUE(named) << base;
  }
  EXPECT_EQ(Numbers(conn(), "select count(*) from " + Table('Z', kHectare, "JBNTQKTJGX")),
            std::vector<double>{8});
}

// Only parcel pieces reach the parcels-only tables; converted and
// balanced, each unit's rows add up to the converted county total and each
// row's classes to its total. Under "山东" the 'TC' piece is left out and
// the pieces without a transfer remark are kept.
TEST_P(JbntRegionalTablesTest, ParcelsOnlyTablesAreConvertedAndBalanced) {
  const struct {
    const char* version;
    double square_metres, mu;
  } cases[] = {{"广西农村", 1278, 1.92}, {"山东农村duda", 1238, 1.86}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    context_ = Farmland(c.version);
    ASSERT_EQ(context_->CreateJbntOnlyTables(), 1);
    ASSERT_EQ(context_->BuildJbntOnlyTables(), 1);
    EXPECT_EQ(context_->m_nErrCount, 0) << context_->m_strLogMsg;
    const auto total = [&](short unit) {
      return Numbers(conn(), "select sum(土地总面积) from " + context_->JbntOnlyTable(unit))[0];
    };
    EXPECT_DOUBLE_EQ(total(kSquareMetre), c.square_metres);
    EXPECT_NEAR(total(kHectare), c.square_metres / 10000, 1e-9);
    EXPECT_NEAR(total(kMu), c.mu, 1e-9);
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      EXPECT_EQ(Numbers(conn(), "select count(*) from " + context_->JbntOnlyTable(unit) +
                                    " where 来源 <> '地类图斑' or abs(土地总面积-BM011-BM021-BM033-"
                                    "BM042) > 1e-9 or abs(BM01-BM011) > 1e-9"),
                std::vector<double>{0});
    }
  }
}

// Source square metres and mu as the only target: the mu table alone is
// converted; there is no hectare table.
TEST_P(JbntRegionalTablesTest, OnlyTheConfiguredTargetIsConverted) {
  testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=亩\n[PointLen]\nLen1=2\nLen2=2\n");
  context_ = Farmland("广西农村");
  ASSERT_EQ(context_->CreateJbntOnlyTables(), 1);
  ASSERT_EQ(context_->BuildJbntOnlyTables(), 1);
  EXPECT_FALSE(conn().TableExists(context_->JbntOnlyTable(kHectare)));
  EXPECT_NEAR(
      Numbers(conn(), "select sum(土地总面积) from " + context_->JbntOnlyTable(kSquareMetre))[0],
      1278, 1e-9);
  EXPECT_NEAR(Numbers(conn(), "select sum(土地总面积) from " + context_->JbntOnlyTable(kMu))[0],
              1.92, 1e-9);
}

// Each slope rule by its own row: grade 3 terraced 011 in B01T6/B01HJ6, no
// grade in B01PD, 021 'K' grade 5 in B02KHJ25, 042 'K' in B04K, 033 'k' and
// 021 without remark in BOTHER; one row per code at every level. A missing
// parcels-only table is logged by name and the other units are summed.
TEST_P(JbntRegionalTablesTest, SlopeSummaryTakesEachRowByTheFirstRuleThatFits) {
  context_ = Farmland("广西农村");
  ASSERT_EQ(context_->CreateJbntOnlyTables(), 1);
  ASSERT_EQ(context_->BuildJbntOnlyTables(), 1);
  conn().Execute("drop table " + context_->JbntOnlyTable(kHectare));
  ASSERT_EQ(context_->CreateJbntPdMjHzTables(), 1);
  ASSERT_EQ(context_->FillJbntPdMjHzTables(), 1);
  EXPECT_EQ(context_->m_nErrCount, 4);  // the hectare table's four levels
  EXPECT_NE(context_->m_strLogMsg.find(context_->JbntOnlyTable(kHectare)), std::string::npos);
  EXPECT_EQ(Rows(conn(),
                 "select XZQDM,JBNTMJ,B01,B01PD,B01HJ6,B01T6,B01P6,B02K,B02KHJ25,B03K,"
                 "B04K,B114K,BOTHER from " +
                     Table('Z', kSquareMetre, "JBNTPDMJHZ") + " order by ID"),
            (Strings{"330102|1278|1200|200|1000|1000|0|30|30|0|3|0|45",
                     "330102001|1230|1200|200|1000|1000|0|30|30|0|0|0|0",
                     "330102002|48|0|0|0|0|0|0|0|0|3|0|45",
                     "330102001001|1230|1200|200|1000|1000|0|30|30|0|0|0|0",
                     "330102002001|48|0|0|0|0|0|0|0|0|3|0|45",
                     "3301020010010010000|1200|1200|200|1000|1000|0|0|0|0|0|0|0",
                     "3301020010010020000|30|0|0|0|0|0|30|30|0|0|0|0",
                     "3301020020010030000|48|0|0|0|0|0|0|0|0|3|0|45"}));
  EXPECT_EQ(Numbers(conn(), "select JBNTMJ from " + Table('Z', kMu, "JBNTPDMJHZ") +
                                " where XZQDM = '330102'"),
            std::vector<double>{1.92});
}

LANDSTAT_BOTH_ENGINES(JbntRegionalTablesTest);

// A generated county's "广西农村" and "duda" runs: no failure, and the
// farmland and slope rows of each village and township add up to the level
// above.
class JbntRegionalCountyTest : public BothEngines {};

TEST_P(JbntRegionalCountyTest, GeneratedRunsBuildTheTablesWithLevelsAddingUp) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::InstallStatementScripts();
  const testing::GeneratedCountyRun county(home, 29, 600);
  const std::string stem = IsServer() ? "2009" + county.options.county_code : "";
  const struct {
    const char* version;
    Strings tables;  // base:column of the area summed
  } cases[] = {
      {"广西农村", {"JBNTQKTJGX:ZHJ", "JBNTBHMJGX:BHKZJMJ", "JBNTPDMJHZ:JBNTMJ", "JBNTPDMJHZ:B01"}},
      {"通用农村duda", {"JBNTPDMJHZ:JBNTMJ", "JBNTPDMJHZ:BOTHER"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    const RunReport report = county.RunProject(c.version, database().ConnectionString(), Mode());
    ASSERT_EQ(report.outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county.log);
    EXPECT_EQ(report.failures, 0) << testing::ReadFileBytes(county.log);
    db::Connection result(database().ConnectionString());
    for (const std::string& entry : c.tables) {
      const std::string base = entry.substr(0, entry.find(':'));
      const std::string column = entry.substr(entry.find(':') + 1);
      for (const char* copy : {"ZPM", "ZGQ", "ZMU"}) {
        const std::string table = copy + stem + base;
        std::map<std::string, double> area, below;
        for (const std::string& row : Rows(result, "select XZQDM," + column + " from " + table)) {
          const std::size_t bar = row.find('|');
          const std::string code = row.substr(0, bar);
          EXPECT_EQ(area.count(code), 0u) << table << " " << code;
          area[code] = std::stod(row.substr(bar + 1));
          if (code.size() == 9 || code.size() == 12) {
            below[code.substr(0, code.size() - 3)] += area[code];
          }
        }
        ASSERT_EQ(area.count(county.options.county_code), 1u) << table;
        for (const auto& [parent, sum] : below) {
          EXPECT_NEAR(area[parent], sum, 1e-6) << table << " " << parent;
        }
      }
    }
  }
}

LANDSTAT_BOTH_ENGINES(JbntRegionalCountyTest);

// Which runs build the tables, and at which place: the Guangxi set after
// the general farmland tables when the base data were built; the parcels-
// only tables and the slope summary under "广西农村" there too, under
// "duda" after its area tables when there is a farmland parcel layer.
TEST(JbntRegionalFamilies, PlacesInTheRun) {
  const Strings bases = {"JBNTQKTJGX", "JBNTNEWBHKQKTJGX", "JBNTBHMJGX", "JBNTONLY", "JBNTPDMJHZ"};
  const struct {
    const char* version;
    Strings built;  // base@stage
  } cases[] = {
      {"通用农村", {}},
      {"广西农村",
       {"JBNTQKTJGX@2600", "JBNTNEWBHKQKTJGX@2610", "JBNTBHMJGX@2620", "JBNTONLY@2630",
        "JBNTPDMJHZ@2640"}},
      {"四川农村duda", {"JBNTONLY@3100", "JBNTPDMJHZ@3110"}},
      {"广西农村duda",
       {"JBNTQKTJGX@2600", "JBNTNEWBHKQKTJGX@2610", "JBNTBHMJGX@2620", "JBNTONLY@2630",
        "JBNTPDMJHZ@2640"}},
      {"广西城镇", {}},
  };
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "");
  for (const auto& c : cases) {
    Strings built;
    for (const TableFamily* family : FamiliesInStageOrder()) {
      if (std::find(bases.begin(), bases.end(), family->base) == bases.end()) continue;
      if (!family->builds(RunVariant{c.version})) continue;
      built.push_back(std::string(family->base) + "@" + std::to_string(family->stage));
      // Nothing is made without the farmland base data (or, under "duda",
      // the farmland parcel layer).
      EXPECT_EQ(family->create(context), 0) << family->base;
    }
    EXPECT_EQ(built, c.built) << c.version;
  }
}

// The statements as written for Oracle: CASE WHEN for the Guangxi classes,
// substr and NUMBER where the dialect says so.
TEST(JbntRegionalFamilies, OracleTexts) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "广西农村");
  context.m_nDbMode = 2;
  context.m_bOracle = true;
  context.m_arrClassCodes = {"01", "011", "042"};
  const std::string situation = context.JbntQktjGxStatement("T", "S", 3);
  EXPECT_NE(situation.find("COALESCE(SUM(CASE WHEN (地类备注 like 'K' OR 地类备注 like 'k') THEN "
                           "0 ELSE BM021 END),0) AS BM021"),
            std::string::npos)
      << situation;
  EXPECT_NE(situation.find("GROUP BY 乡级代码,乡名称"), std::string::npos);
  const std::string block = context.JbntNewBhkQktjGxInsert("T", "S");
  EXPECT_NE(block.find(",SUM(BM011) as BM011 ,SUM(CASE WHEN"), std::string::npos) << block;
  EXPECT_EQ(
      context.JbntPdMjHzQuery(1, "S"),
      "select 座落单位代码,座落单位名称,地类编码,地类备注,耕地坡度级,耕地类型,SUM(土地总面积) "
      "AS JBNTMJ FROM S where 座落单位代码 like '330102_____________' GROUP BY "
      "座落单位代码,座落单位名称,地类编码,地类备注,耕地坡度级,耕地类型 ORDER BY "
      "座落单位代码");
}

}  // namespace
}  // namespace landstat
