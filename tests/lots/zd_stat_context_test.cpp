// The town-lot context's set-up (codes, units, table names) and its rows of
// the area-unit table.

#include "lots/zd_stat_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/survey_fixture.h"
#include "lots/town_fixture.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

class ZdStatContextTest : public ::testing::Test {
 protected:
  std::unique_ptr<CZdStatContext> Context(const std::string& config, short mode,
                                          std::vector<gis::CODESTRUCT> entries) {
    testing::WriteStatConfig(config);
    codes_.reset(gis::RuralCode::FromEntries(entries));
    return testing::TownContext(codes_.get(), Database(), mode);
  }

  std::string Database() {
    const std::string path = dir_.File("t.sqlite");
    CreateAcessDB(path);
    return testing::JetConnectionString(path);
  }

  testing::ScopedProgramDir home_;
  testing::TempDir dir_;
  std::unique_ptr<gis::RuralCode> codes_;
};

TEST_F(ZdStatContextTest, CodesGiveMapsListsAndFieldList) {
  std::vector<gis::CODESTRUCT> entries = testing::TownCodeEntries();
  // A record of two kinds goes into both maps.
  entries.push_back({"行政代码 地类代码", "09", "特殊用地"});
  auto c = Context(testing::kThreeUnits, 0, entries);
  EXPECT_EQ(c->m_arrClass1Codes, (Strings{"05", "07", "09"}));
  EXPECT_EQ(c->m_arrClassCodes, (Strings{"05", "051", "052", "07", "071", "072", "09"}));
  EXPECT_EQ(c->m_arrAllClassCodes, c->m_arrClassCodes);
  ASSERT_EQ(c->m_arrStatFields.size(), 21u + 7u);
  EXPECT_EQ(c->m_arrStatFields.front(), "地籍号");
  EXPECT_EQ(c->m_arrStatFields[20], "建筑面积");
  EXPECT_EQ(c->m_arrStatFields[21], "BM05");
  EXPECT_EQ(c->m_arrStatFields.back(), "BM09");
  // The "20" codes keep their names but have no column.
  EXPECT_EQ(c->GetLandUseName("201"), "城市");
  EXPECT_EQ(c->GetAdminName("09"), "特殊用地");
  EXPECT_EQ(c->GetAdminName(testing::kVillage), "清波街坊");
  EXPECT_EQ(c->GetAdminName("99"), "");
  EXPECT_EQ(c->GetLandUseName("99"), "");
  EXPECT_EQ(c->GetHouseStructureName("2"), "混合结构");
  EXPECT_EQ(c->GetHouseStructureName("7"), "7");
}

TEST_F(ZdStatContextTest, UnitsGiveCodesFlagsAndTableNames) {
  struct Case {
    const char* config;
    short mode;
    short units[3];
    bool pm, gq, mu;
    Strings tables;
  };
  const Case cases[] = {
      {"[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n",
       0,
       {kSquareMetre, kHectare, kNoUnit},
       true,
       true,
       false,
       {"PMstatdata_czzd", "GQstatdata_czzd", ""}},
      {"[AreaUnit]\nUnit1=亩\n",
       1,
       {kMu, kNoUnit, kNoUnit},
       false,
       false,
       true,
       Strings{"MU2009330102statdata_czzd", "", ""}},
      // Unit 1 is square metres whatever it says; a second square metre is
      // no unit of its own.
      {"[AreaUnit]\nUnit1=英亩\nUnit2=平方米\nUnit3=亩\n",
       0,
       {kSquareMetre, kNoUnit, kMu},
       true,
       false,
       true,
       {"PMstatdata_czzd", "", "MUstatdata_czzd"}},
  };
  for (const Case& test : cases) {
    auto c = Context(test.config, test.mode, testing::TownCodeEntries());
    EXPECT_EQ((Strings{std::to_string(c->m_nUnitSrc), std::to_string(c->m_nUnit1),
                       std::to_string(c->m_nUnit2)}),
              (Strings{std::to_string(test.units[0]), std::to_string(test.units[1]),
                       std::to_string(test.units[2])}))
        << test.config;
    EXPECT_EQ((std::vector<bool>{c->m_bPm, c->m_bGq, c->m_bMu}),
              (std::vector<bool>{test.pm, test.gq, test.mu}))
        << test.config;
    EXPECT_EQ((Strings{c->m_strStatTblSrc, c->m_strStatTblUnit1, c->m_strStatTblUnit2}),
              test.tables)
        << test.config;
  }
}

TEST_F(ZdStatContextTest, WithoutCodeTableNothingIsLoaded) {
  testing::WriteStatConfig(testing::kThreeUnits);
  CZdStatContext c(0, 0, nullptr, Database(), 0, "2009", testing::kCountyCode, "");
  EXPECT_EQ(c.LoadCodes(), 0);
  EXPECT_TRUE(c.m_arrAllClassCodes.empty());
  EXPECT_FALSE(c.m_bPm || c.m_bGq || c.m_bMu);
  EXPECT_EQ(c.m_nUnitSrc, kSquareMetre);
}

class TownAreaUnitTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::TownCodeEntries()));
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode());
    table_ = IsServer() ? "D330102AreaUnit" : "AreaUnit";
  }

  // The rows of the table in a fixed order.
  Strings Units() {
    Strings rows = Rows(conn(), "select 年度, TYPE, AREAUNIT from " + table_);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CZdStatContext> context_;
  std::string table_;
};

TEST_P(TownAreaUnitTest, RowsAreAddedOnceSetAndRead) {
  // Without the table nothing can be recorded or read.
  EXPECT_EQ(context_->AddAreaUnit("城镇宗地", "公顷"), -1);
  EXPECT_EQ(context_->SetAreaUnit(kMu), -1);
  EXPECT_EQ(context_->GetAreaUnit(), kNoUnit);
  ASSERT_EQ(context_->CreateAreaUnitTable(), 1);
  EXPECT_EQ(context_->CreateAreaUnitTable(), 1);  // present: kept
  EXPECT_EQ(context_->GetAreaUnit(), kNoUnit);
  conn().Execute("insert into " + table_ + " values ('2009', '土地利用', '平方米')");
  conn().Execute("insert into " + table_ + " values ('2008', '城镇宗地', '平方米')");
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(context_->AddAreaUnit("城镇宗地", "亩"), 1);
    EXPECT_EQ(context_->AddAreaUnit("城镇宗地", "公顷"), 1);
  }
  EXPECT_EQ(Units(), (Strings{"2008|城镇宗地|平方米", "2009|土地利用|平方米", "2009|城镇宗地|亩",
                              "2009|城镇宗地|公顷"}));
  EXPECT_EQ(context_->GetAreaUnit(), kHectare);
  // Any code but hectares and mu is square metres; other kinds and years stay.
  EXPECT_EQ(context_->SetAreaUnit(5), 1);
  EXPECT_EQ(Units(), (Strings{"2008|城镇宗地|平方米", "2009|土地利用|平方米",
                              "2009|城镇宗地|平方米", "2009|城镇宗地|平方米"}));
  EXPECT_EQ(context_->GetAreaUnit(), kSquareMetre);
  conn().Execute("update " + table_ + " set AREAUNIT='英亩' where TYPE='城镇宗地'");
  EXPECT_EQ(context_->GetAreaUnit(), kNoUnit);
  EXPECT_EQ(context_->m_nErrCount, 0);
}

TEST_P(TownAreaUnitTest, WiderYearColumnOfTheGeneralRunServes) {
  conn().Execute("create table " + table_ +
                 " (年度 varchar(20), TYPE varchar(20), AREAUNIT "
                 "varchar(20))");
  EXPECT_EQ(context_->CreateAreaUnitTable(), 1);
  EXPECT_EQ(context_->AddAreaUnit("城镇宗地", "平方米"), 1);
  EXPECT_EQ(context_->GetAreaUnit(), kSquareMetre);
}

LANDSTAT_BOTH_ENGINES(TownAreaUnitTest);

}  // namespace
}  // namespace landstat
