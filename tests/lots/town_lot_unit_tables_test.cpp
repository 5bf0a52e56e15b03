// The per-unit copies of the town-lot base table (the group-by copy, the
// conversion, a rerun) and the lot-area adjustment of the converted copies,
// on both engines. The base table is filled here by plain SQL.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/survey_fixture.h"
#include "lots/town_fixture.h"
#include "platform/db/sql_quote.h"
#include "platform/host/notifier.h"
#include "platform/text/number_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Numbers;
using testing::Rows;
using Strings = std::vector<std::string>;
using Areas = std::vector<std::pair<std::string, double>>;

constexpr char kMetresOnly[] = "[AreaUnit]\nUnit1=平方米\n[PointLen]\nLen1=2\n";
// Square metres with 2 decimals, hectares with 4.
constexpr char kMetresAndHectares[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[PointLen]\nLen1=2\nLen2=4\n";

const Strings kLeaves = {"BM051", "BM052", "BM071", "BM072"};

// A lot number of the fixture's county.
std::string Lot(const std::string& suffix) {
  return testing::kVillage + suffix;
}

class TownUnitTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    codes_.reset(gis::RuralCode::FromEntries(testing::TownCodeEntries()));
    Load(testing::kThreeUnits);
  }

  void Load(const char* config, const Strings& extra_fields = {}) {
    testing::WriteStatConfig(config);
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode());
    for (const std::string& field : extra_fields) context_->m_arrStatFields.push_back(field);
    CreateBaseTable();
  }

  // The base table as its fill makes it: the land use and its name, then
  // the field list; 17 texts, then doubles of 0.
  void CreateBaseTable() {
    std::string columns = "土地用途 varchar(60),土地用途名称 varchar(60)";
    for (std::size_t i = 0; i < context_->m_arrStatFields.size(); ++i) {
      columns +=
          "," + context_->m_arrStatFields[i] + (i < 15 ? " varchar(60)" : " double default 0.00");
    }
    context_->DropTable(context_->StatDataTable());
    conn().Execute(
        context_->TypeWords("create table " + context_->StatDataTable() + " (" + columns + ")"));
  }

  // A row of the base table: a class area also goes into its parent and
  // into 宗地总面积, as the fill books it; `other` as it stands.
  void AddRow(const std::string& number, const Areas& classes, const Areas& other = {}) {
    std::string names = "地籍号", values = db::QuoteText(number);
    std::map<std::string, double> areas(other.begin(), other.end());
    for (const auto& [leaf, area] : classes) {
      areas[leaf] += area;
      areas[leaf.substr(0, 4)] += area;
      areas["宗地总面积"] += area;
    }
    for (const auto& [column, area] : areas) {
      names += "," + column;
      values += "," + text::DoubleToText(area);
    }
    conn().Execute("insert into " + context_->StatDataTable() + " (" + names + ") values (" +
                   values + ")");
  }

  void Build() {
    ASSERT_EQ(context_->CreateUnitStatTables(), 1);
    ASSERT_EQ(context_->BuildUnitStatData(), 1);
  }

  std::string Hectares() const { return context_->m_strStatTblUnit1; }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CZdStatContext> context_;
};

TEST_P(TownUnitTablesTest, CopiesOneRowPerLotIntoEveryUnitAndAddsUp) {
  AddRow(Lot("0001"), {{"BM051", 1234.5}, {"BM052", 2345.25}},
         {{"建筑密度", 0.5}, {"建筑容积率", 2}, {"宗地建筑占地面积", 30}});
  AddRow(Lot("0001"), {}, {{"建筑面积", 500}, {"占地面积", 200}});  // its house
  AddRow(Lot("0002"), {{"BM071", 3333.33}, {"BM072", 4444.44}});
  AddRow(Lot("0003"), {{"BM051", 555.55}, {"BM071", 666.66}, {"BM072", 777.77}});
  AddRow(Lot("0004"), {{"BM052", 8888.88}});
  // Built twice: the rerun replaces the copies rather than adding to them.
  Build();
  Build();
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);
  EXPECT_EQ(Rows(conn(),
                 "select 宗地总面积,占地面积,建筑面积,BM051,BM05,建筑密度,建筑容积率,"
                 "宗地建筑占地面积 from " +
                     context_->m_strStatTblSrc + " where 地籍号='" + Lot("0001") + "'"),
            Strings{"3579.75|200|500|1234.5|3579.75|0|0|0"});
  const double county =
      Numbers(conn(), "select sum(宗地总面积) from " + context_->m_strStatTblSrc)[0];
  for (const auto& [table, factor, decimals] :
       {std::tuple{context_->m_strStatTblUnit1, 0.0001, 4},
        std::tuple{context_->m_strStatTblUnit2, 0.0015, 2}}) {
    EXPECT_EQ(Numbers(conn(), "select count(*) from " + table), std::vector<double>{4}) << table;
    const double scale = std::pow(10.0, decimals);
    EXPECT_NEAR(Numbers(conn(), "select sum(宗地总面积) from " + table)[0],
                std::floor(county * factor * scale + 0.5) / scale, 1e-9)
        << table;
    // Each lot: its leaves add up to its total, each parent to its leaves.
    for (const char* check :
         {"宗地总面积-(BM051+BM052+BM071+BM072)", "BM05-(BM051+BM052)", "BM07-(BM071+BM072)"}) {
      EXPECT_EQ(
          Numbers(conn(), "select count(*) from " + table + " where abs(" + check + ")>0.0000001"),
          std::vector<double>{0})
          << table << ": " << check;
    }
  }
}

// A conversion: from unit 1 into a target unit, the statement's first
// assignment and what the engine makes of an area.
struct ConversionCase {
  short source, target, decimals;
  std::string first_assignment;  // empty: no statement
  double area, converted;
};

TEST_P(TownUnitTablesTest, ConvertsEachUnitPairWithRound) {
  const ConversionCase cases[] = {
      // A half rounds away from zero on both engines.
      {kSquareMetre, kHectare, 3, "宗地总面积=round(宗地总面积/10000,3)", 12345, 1.235},
      {kSquareMetre, kMu, 2, "宗地总面积=round(宗地总面积*3/2000,2)", 1234.56, 1.85},
      {kMu, kHectare, 4, "宗地总面积=round(宗地总面积/15,4)", 1, 0.0667},
      {kMu, kSquareMetre, 2, "宗地总面积=round(宗地总面积*2000/3,2)", 1, 666.67},
      {kHectare, kMu, 2, "宗地总面积=round(宗地总面积*15,2)", 0.123, 1.85},
      {kHectare, kSquareMetre, 0, "宗地总面积=round(宗地总面积*10000,0)", 0.12345, 1235},
      {kHectare, kHectare, 2, "", 1.5, 1.5},
  };
  const std::string table = "converted_lots";
  ASSERT_EQ(context_->CreateUnitStatTable(table), 1);
  for (const ConversionCase& c : cases) {
    context_->m_nUnitSrc = c.source;
    const std::string statement = context_->ConvertUnitStatement(c.target, table, c.decimals);
    const std::string start = "UPDATE " + table + " set " + c.first_assignment + ",";
    EXPECT_EQ(statement.substr(0, start.size()), c.first_assignment.empty() ? "" : start);
    conn().Execute("delete from " + table);
    conn().Execute("insert into " + table + " (地籍号,宗地总面积) values ('1'," +
                   text::DoubleToText(c.area) + ")");
    EXPECT_EQ(context_->ConvertUnitTable(c.target, table, c.decimals), 1);
    EXPECT_EQ(Numbers(conn(), "select 宗地总面积 from " + table), std::vector<double>{c.converted})
        << c.first_assignment;
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
  // Every area column in field-list order, and nothing else.
  context_->m_nUnitSrc = kSquareMetre;
  std::string all;
  for (const char* column :
       {"宗地总面积", "占地面积", "建筑面积", "BM05", "BM051", "BM052", "BM07", "BM071", "BM072"}) {
    all += std::string(all.empty() ? "" : ",") + column + "=round(" + column + "/10000,4)";
  }
  EXPECT_EQ(context_->ConvertUnitStatement(kHectare, table, 4), "UPDATE " + table + " set " + all);
}

TEST_P(TownUnitTablesTest, SquareMetresOnlyMakesOneCopyLeftAsSummed) {
  Load(kMetresOnly);
  AddRow(Lot("0001"), {{"BM051", 1234.567}});
  // A parent that is not the sum of its leaves: nothing adjusts it.
  conn().Execute("update " + context_->StatDataTable() + " set BM05=1");
  Build();
  EXPECT_EQ(Rows(conn(), "select 宗地总面积,BM051,BM05 from " + context_->m_strStatTblSrc),
            Strings{"1234.567|1234.567|1"});
  for (short unit : {kHectare, kMu}) {
    EXPECT_FALSE(conn().TableExists(context_->Names().UnitCopy(unit, "statdata_czzd")));
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

// A lot too large for exact rounding in memory: each converted copy holds
// what the engine's own round() makes of it, asked while rows are stored.
TEST_P(TownUnitTablesTest, CopiesRoundALotBeyondTheBoundAsTheEngineDoes) {
  AddRow(Lot("0001"), {{"BM051", 712345678901234.5}});
  Build();
  EXPECT_EQ(context_->m_nErrCount, 0) << ::testing::PrintToString(context_->m_arrFirstFailures);
  const std::string source = context_->m_strStatTblSrc;
  for (const auto& [table, factor, decimals] :
       {std::tuple{context_->m_strStatTblUnit1, "/10000", "4"},
        std::tuple{context_->m_strStatTblUnit2, "*3/2000", "2"}}) {
    const std::string engine = "(select round(宗地总面积" + std::string(factor) + "," + decimals +
                               ") from " + source + ")";
    EXPECT_EQ(Numbers(conn(), "select count(*) from " + table + " where 宗地总面积=" + engine +
                                  " and BM051=" + engine),
              std::vector<double>{1})
        << table;
  }
}

// An adjustment of the hectare copy (4 decimals): the base rows in square
// metres and the copy's lots after, as 地籍号|宗地总面积|leaves|parents.
struct AdjustmentCase {
  const char* name;
  std::vector<std::pair<std::string, Areas>> lots;
  Strings expected;
  int failures;
};

TEST_P(TownUnitTablesTest, AdjustsLotTotalsAndClassesOfTheConvertedCopy) {
  const AdjustmentCase cases[] = {
      // 1.2346 + 0.2346 + 0.0346 = 1.5038 against 1.5037: the largest lot
      // takes the step, and its leaf and parent with it.
      {"one step",
       {{Lot("01"), {{"BM051", 12345.67}}},
        {Lot("02"), {{"BM071", 2345.67}}},
        {Lot("03"), {{"BM052", 345.67}}}},
       {"01|1.2345|1.2345|0|0|0|1.2345|0", "02|0.2346|0|0|0.2346|0|0|0.2346",
        "03|0.0346|0|0.0346|0|0|0.0346|0"},
       0},
      // The lots add up to the county total: nothing moves.
      {"no difference",
       {{Lot("01"), {{"BM051", 10000}}}, {Lot("02"), {{"BM051", 5000}, {"BM052", 5000}}}},
       {"01|1|1|0|0|0|1|0", "02|1|0.5|0.5|0|0|1|0"},
       0},
      // Lots of another county leave the county total null: no total is
      // stepped, the classes still are.
      {"no lot of the county",
       {{"999999001001001", {{"BM051", 12344.44}, {"BM052", 0.44}}}},
       {"999999001001001|1.2345|1.2345|0|0|0|1.2345|0"},
       0},
      // Each lot rounds to 0: no lot can take the step; the difference is
      // logged and nothing changes.
      {"no lot qualifies",
       {{Lot("01"), {{"BM051", 0.4}}},
        {Lot("02"), {{"BM051", 0.4}}},
        {Lot("03"), {{"BM051", 0.4}}}},
       {"01|0|0|0|0|0|0|0", "02|0|0|0|0|0|0|0", "03|0|0|0|0|0|0|0"},
       1},
  };
  for (const AdjustmentCase& c : cases) {
    Load(kMetresAndHectares);
    for (const auto& [number, classes] : c.lots) AddRow(number, classes);
    Build();
    EXPECT_EQ(context_->m_nErrCount, c.failures)
        << c.name << ::testing::PrintToString(context_->m_arrFirstFailures);
    Strings rows = Rows(conn(), "select 地籍号,宗地总面积,BM051,BM052,BM071,BM072,BM05,BM07 from " +
                                    Hectares() + " order by 地籍号");
    for (std::string& row : rows) {
      if (row.rfind(testing::kVillage, 0) == 0) row.erase(0, testing::kVillage.size());
    }
    EXPECT_EQ(rows, c.expected) << c.name;
  }
}

TEST_P(TownUnitTablesTest, ClassStepsGoOncePerLeafAndLeaveOtherClassesAlone) {
  // BM20 columns are no classes: neither zeroed nor stepped nor summed.
  Load(kMetresAndHectares, {"BM20", "BM201"});
  AddRow(Lot("01"), {{"BM051", 5000}, {"BM052", 5000}}, {{"BM20", 7}, {"BM201", 7}});
  Build();
  // Three steps short, two leaves of at least one step: one step is left;
  // the leaf under a step takes none but still counts in its parent.
  conn().Execute("update " + Hectares() + " set 宗地总面积=1.00034, BM072=0.00004");
  EXPECT_EQ(context_->BalanceLotClassAreas(Hectares(), kLeaves, 4), 1);
  EXPECT_EQ(Rows(conn(), "select BM051,BM052,BM071,BM072,BM05,BM07,BM20,BM201 from " + Hectares()),
            Strings{"0.5001|0.5001|0|0.00004|1.0002|0.00004|0.0007|0.0007"});
  EXPECT_EQ(context_->m_nErrCount, 0);
  EXPECT_EQ(context_->m_arrNotices.size(), 1U);
}

// A failing step of the copies: how it is made to fail, and what it logs.
struct FailureCase {
  const char* title;
  std::function<short(CZdStatContext&, db::Connection&)> run;
  short result;
  std::size_t messages;  // shown to the operator
};

TEST_P(TownUnitTablesTest, FailuresAreLoggedAndCounted) {
  const FailureCase cases[] = {
      {"建立城镇基础汇总表",
       [](CZdStatContext& context, db::Connection&) {
         context.m_arrStatFields.push_back("bad-name");
         return context.CreateUnitStatTable("lots_of_a_bad_column");
       },
       0, 0},
      {"汇总城镇基础据表",
       [](CZdStatContext& context, db::Connection& conn) {
         conn.Execute("drop table " + context.StatDataTable());
         context.CreateUnitStatTables();
         return context.BuildUnitStatData();  // goes on, and says so
       },
       1, 0},
      {"平差城镇宗地分类面积",
       [](CZdStatContext& context, db::Connection&) {
         return context.BalanceLotClassAreas("no_such_lots", kLeaves, 4);
       },
       0, 0},
      {"转换城镇基础汇总表面积单位",
       [](CZdStatContext& context, db::Connection&) {
         return context.ConvertUnitTable(kHectare, "no_such_lots", 4);
       },
       0, 1},
  };
  for (const FailureCase& c : cases) {
    Load(testing::kThreeUnits);
    host::RecordingNotifier notifier;
    host::ScopedNotifier shown(notifier);
    EXPECT_EQ(c.run(*context_, conn()), c.result) << c.title;
    ASSERT_GE(context_->m_nErrCount, 1) << c.title;
    EXPECT_NE(context_->m_arrFirstFailures[0].find(c.title), std::string::npos)
        << context_->m_arrFirstFailures[0];
    EXPECT_EQ(notifier.messages.size(), c.messages) << c.title;
  }
}

LANDSTAT_BOTH_ENGINES(TownUnitTablesTest);

}  // namespace
}  // namespace landstat
