// Balancing of the unit copies of the base table and of the farmland base
// table: region, villages, rows and class columns.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/stat_context.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/balance_checks.h"
#include "units/copy_rows.h"

namespace landstat {
namespace {

using testing::AreaTable;
using testing::BothEngines;
using testing::ClassLayout;
using testing::FinishesWithin;
using testing::ReadAreas;
using testing::Steps;
using Classes = std::map<std::string, double>;

constexpr char kCounty[] = "330102";
const std::string kVillages[] = {"330102001001", "330102001002", "330102002001"};

std::string Location(int village) {
  return kVillages[village] + "0010000";
}

std::vector<gis::CODESTRUCT> CodeEntries(bool extensions) {
  std::vector<gis::CODESTRUCT> entries = {
      {"地类代码", "01", "耕地"},          {"地类代码", "011", "水田"},
      {"地类代码", "013", "旱地"},         {"地类代码", "10", "交通运输用地"},
      {"地类代码", "104", "农村道路"},     {"地类代码", "12", "其他土地"},
      {"地类代码", "123", "田坎"},         {"地类代码", "20", "城镇村及工矿用地"},
      {"地类代码", "203", "村庄"},         {"县行政代码", kCounty, "上城区"},
      {"乡行政代码", "330102001", "一乡"}, {"乡行政代码", "330102002", "二乡"}};
  if (extensions) {
    entries.push_back({"地类代码", "0111", "灌溉水田"});
    entries.push_back({"地类代码", "0112", "望天田"});
  }
  for (const std::string& village : kVillages) entries.push_back({"村行政代码", village, "村"});
  return entries;
}

// A row as written into a table: its leaves and extension columns; the
// parent columns are filled in as their sums.
struct Piece {
  int number = 0;
  int village = 0;
  double total = 0;
  Classes classes;
};

// Base rows in square metres of every size, many with more than one class,
// paddies split into their extension classes.
std::vector<Piece> SurveyRows(int count, unsigned seed, bool extensions) {
  const char* const leaves[] = {"BM011", "BM013", "BM104", "BM123", "BM203"};
  const long scales[] = {1000, 100000, 6000000};  // cents: below 10, 1000 and 60000 m²
  testing::Draws numbers(seed);
  std::vector<Piece> pieces;
  for (int i = 1; i <= count; ++i) {
    Piece piece{i, static_cast<int>(numbers.Below(3)), 0, {}};
    const long scale = scales[numbers.Below(3)];
    for (long k = numbers.Below(3); k >= 0; --k) {
      const std::string leaf = leaves[numbers.Below(5)];
      const double area = static_cast<double>(1 + numbers.Below(scale)) / 100;
      piece.classes[leaf] += area;
      piece.total += area;
      if (leaf == "BM011" && extensions) {
        const double part = static_cast<double>(numbers.Below(std::lround(area * 100) + 1)) / 100;
        piece.classes["BM0111"] += part;
        piece.classes["BM0112"] += area - part;
      }
    }
    pieces.push_back(piece);
  }
  return pieces;
}

class BaseBalancingTest : public BothEngines {
 protected:
  std::unique_ptr<CStatContext> Context(const std::string& config, bool extensions = true) {
    testing::WriteFileBytes(home_.path() / "qentar" / "_secondfun_" / "StatConfig.ini", config);
    codes_.reset(gis::RuralCode::FromEntries(CodeEntries(extensions)));
    auto context = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes_.get(),
                                                  "2009", kCounty, "", 1, "");
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    return context;
  }

  std::unique_ptr<CStatContext> StatTables(const std::string& config) {
    auto context = Context(config);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    EXPECT_EQ(context->CreateUnitStatTables(), 1);
    return context;
  }

  void Insert(const std::string& table, const std::vector<Piece>& pieces) {
    for (const Piece& piece : pieces) {
      Classes columns;
      for (const auto& [column, value] : piece.classes) {
        columns[column] += value;
        if (column.size() == 5) columns[column.substr(0, 4)] += value;
      }
      std::string names = "序号,座落单位代码,村级代码,土地总面积", marks = "?,?,?,?";
      std::vector<db::Value> values = {std::to_string(piece.number), Location(piece.village),
                                       kVillages[piece.village],
                                       text::RoundDecimal(piece.total, 6)};
      for (const auto& [column, value] : columns) {
        names += "," + column;
        marks += ",?";
        values.emplace_back(text::RoundDecimal(value, 6));
      }
      conn().Execute("insert into " + table + " (" + names + ") values (" + marks + ")", values);
    }
  }

  // Moves rows about in storage: a server writes an updated row anew.
  void Shuffle(const std::string& table) {
    conn().Execute("update " + table + " set 备注='x' where CAST(序号 AS INTEGER) % 2 = 0");
  }

  double Area(const std::string& table, int number, const std::string& column) {
    return testing::Numbers(conn(), "select " + column + " from " + table + " where 序号='" +
                                        std::to_string(number) + "'")
        .at(0);
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
};

constexpr char kThreeUnits[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n[PointLen]\nLen1=2\nLen2=4\nLen3=2\n";
// Hectares of two decimals only: 0.01 ha is 100 m².
constexpr char kHectareCents[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[PointLen]\nLen1=2\nLen2=2\n";

TEST(BalanceFields, LeavesInBalancingOrderAndSubClasses) {
  testing::ScopedProgramDir home;
  std::vector<std::string> fields = {"BM011", "BM101", "BM201", "BM071", "BM131"};
  EXPECT_EQ(OrderBalanceFields(fields), 1);
  EXPECT_EQ(fields, (std::vector<std::string>{"BM101", "BM201", "BM071", "BM011"}));
  fields = {"BM011", "BM013", "BM123", "BM104", "BM203", "BM201"};
  OrderBalanceFields(fields);
  EXPECT_EQ(fields,
            (std::vector<std::string>{"BM123", "BM104", "BM203", "BM201", "BM013", "BM011"}));

  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", kCounty, "", 1, "");
  context.m_arrStatFields = {"土地总面积", "BM01", "BM011", "BM012", "BM0111", "BM10", "BM1011"};
  EXPECT_EQ(context.HasSubClassField("BM01"), 1);
  EXPECT_EQ(context.HasSubClassField("BM011"), 0);
  EXPECT_EQ(context.HasSubClassField("BM10"), 0);
}

// A copy whose balancing cannot write fails the fill, logged: the summaries
// are never made from unbalanced copies.
TEST_P(BaseBalancingTest, ACopyLeftUnbalancedFailsTheFill) {
  auto context = StatTables(kThreeUnits);
  Insert(context->m_strStatTbl, SurveyRows(90, 7, true));
  const std::string copy = context->m_strStatTblUnit2;
  // Statements are split at each ';' outside quotes: the bodies keep theirs
  // inside a quoted text, or between quotes hidden in comments.
  if (IsServer()) {
    conn().Execute(
        "create function refuse_update() returns trigger language plpgsql as "
        "'begin raise exception ''refused''; end'");
    conn().Execute("create trigger refuse before update on " + copy +
                   " for each row execute function refuse_update()");
  } else {
    conn().Execute("create trigger refuse before update on " + copy +
                   " begin select raise(abort, 'refused') /* ' */; /* ' */ end");
  }
  EXPECT_EQ(context->FillUnitStatTables(), 0);
  EXPECT_GT(context->m_nErrCount, 0);
}

TEST_P(BaseBalancingTest, ConvertedCopiesAddUpAndStayPut) {
  auto context = StatTables(kThreeUnits);
  const std::vector<Piece> survey = SurveyRows(90, 7, true);
  Insert(context->m_strStatTbl, survey);
  ASSERT_EQ(context->FillUnitStatTables(), 1);
  EXPECT_EQ(context->m_nErrCount, 0) << context->m_strLogTitle << " " << context->m_strLogMsg;

  const ClassLayout layout(context->m_arrStatFields);
  ASSERT_EQ(layout.leaves.size(), 5u);
  ASSERT_EQ(layout.extensions.size(), 1u);
  double source_total = 0;
  for (const Piece& piece : survey) source_total += piece.total;
  const AreaTable source = ReadAreas(conn(), context->m_strStatTblSrc, layout);
  const std::vector<std::tuple<std::string, double, short>> copies = {
      {context->m_strStatTblUnit1, 0.0001, 4}, {context->m_strStatTblUnit2, 0.0015, 2}};
  std::map<std::string, AreaTable> balanced;
  for (const auto& [table, factor, decimals] : copies) {
    SCOPED_TRACE(table);
    double region = source_total * factor;
    xcKeepPoint(&region, decimals);
    balanced[table] = ReadAreas(conn(), table, layout);
    const testing::Moves moves =
        testing::ExpectBalanced(testing::Converted(source, factor, decimals), balanced[table],
                                layout, kCounty, decimals, Steps(region, decimals));
    // The copy needed both passes.
    EXPECT_GT(moves.totals, 0);
    EXPECT_GT(moves.classes, 0);
    Shuffle(table);
  }
  // A second balancing, with the rows stored elsewhere, changes nothing.
  ASSERT_EQ(context->BalanceStatData(), 1);
  EXPECT_EQ(context->m_nErrCount, 0);
  for (const auto& [table, rows] : balanced) {
    const AreaTable again = ReadAreas(conn(), table, layout);
    for (const auto& [number, row] : rows) {
      EXPECT_EQ(again.at(number).areas, row.areas) << table << " 序号 " << number;
    }
  }
}

TEST_P(BaseBalancingTest, ClassPassRules) {
  auto context = StatTables(kHectareCents);
  const std::string source = context->m_strStatTblSrc, copy = context->m_strStatTblUnit1;
  // Square metres, and hectares as converted. The row totals add up to the
  // region's 42570 m² (4.26 ha), so only the classes take steps.
  Insert(source, {{1, 0, 70, {{"BM011", 40}, {"BM0111", 40}, {"BM203", 30}}},
                  {2, 0, 70, {{"BM123", 45}, {"BM013", 25}}},
                  {3, 0, 30200, {{"BM104", 5000}, {"BM011", 25200}, {"BM0111", 25200}}},
                  {4, 0, 12300, {{"BM104", 5000}, {"BM011", 7300}, {"BM0111", 7300}}},
                  {5, 0, 100, {{"BM104", 50}, {"BM011", 50}, {"BM0111", 50}}},
                  {6, 0, -200, {{"BM011", 100}, {"BM0111", 100}}},
                  {7, 0, 30, {{"BM203", 30}}}});
  // The copy's rows stored in the other order: rows pair by number.
  Insert(copy, {{7, 0, 0, {}},
                {6, 0, -0.02, {{"BM011", 0.01}, {"BM0111", 0.01}}},
                {5, 0, 0.01, {{"BM104", 0.01}, {"BM011", 0.02}, {"BM0111", 0.02}}},
                {4, 0, 1.23, {{"BM104", 0.5}, {"BM011", 0.7}, {"BM0111", 0.7}}},
                {3, 0, 3.02, {{"BM104", 0.5}, {"BM011", 2.5}, {"BM0111", 1.5}, {"BM0112", 1}}},
                {2, 0, 0.01, {}},
                {1, 0, 0.01, {}}});
  Shuffle(copy);
  ASSERT_EQ(context->BalanceStatData(), 1);

  const auto row = [&](int number) {
    std::vector<double> areas;
    for (const char* column : {"BM011", "BM013", "BM104", "BM123", "BM203", "BM01", "BM10", "BM12",
                               "BM20", "BM0111", "BM0112"}) {
      areas.push_back(Area(copy, number, column));
    }
    return areas;
  };
  using Areas = std::vector<double>;
  // Leaves all 0 under a positive total: the step goes to a class the source
  // row holds, the first of them in balancing order.
  EXPECT_EQ(row(1), (Areas{0, 0, 0, 0, 0.01, 0, 0, 0, 0.01, 0, 0}));
  EXPECT_EQ(row(2), (Areas{0, 0, 0, 0.01, 0, 0, 0, 0.01, 0, 0, 0}));
  // Steps go to the leaves above 1.0 when the row has any, else round all.
  EXPECT_EQ(row(3), (Areas{2.52, 0, 0.5, 0, 0, 2.52, 0.5, 0, 0, 1.52, 1}));
  EXPECT_EQ(row(4), (Areas{0.71, 0, 0.52, 0, 0, 0.71, 0.52, 0, 0, 0.71, 0}));
  // A step down takes a leaf to 0, never below.
  EXPECT_EQ(Area(copy, 5, "BM104"), 0);
  EXPECT_EQ(Area(copy, 5, "BM011"), 0.01);
  // A negative row total is logged and its classes are left.
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_EQ(context->m_strLogTitle, "座落单位代码 " + Location(0) + " 土地总面积 -0.020000");
  EXPECT_EQ(context->m_strLogMsg, "平差分类面积失败");
  EXPECT_EQ(Area(copy, 6, "BM011"), 0.01);
  EXPECT_EQ(testing::Numbers(conn(), "select sum(土地总面积) from " + copy).at(0), 4.26);
}

TEST_P(BaseBalancingTest, UnreachableTargetsStopAndAreLogged) {
  auto context = StatTables(kHectareCents);
  const std::string source = context->m_strStatTblSrc, copy = context->m_strStatTblUnit1;
  FinishesWithin(20, [&] {
    // Row totals that carry more decimals than the unit: the region's
    // difference is no whole number of steps.
    Insert(source, {{1, 0, 150, {{"BM011", 150}}}, {2, 1, 120, {{"BM011", 120}}}});
    Insert(copy, {{1, 0, 0.015, {{"BM011", 0.015}}}, {2, 1, 0.012, {{"BM011", 0.012}}}});
    EXPECT_EQ(context->BalanceStatData(), 1);
    EXPECT_GE(context->m_nErrCount, 1);
    EXPECT_FALSE(context->m_strLogTitle.empty());
    EXPECT_FALSE(context->m_strLogMsg.empty());

    // A village whose rows are all 0 cannot reach a positive total.
    conn().Execute("delete from " + copy);
    Insert(copy, {{1, 2, 0, {}}, {2, 2, 0, {}}});
    int errors = context->m_nErrCount;
    const units::BalanceColumns columns;
    const units::CopyRows rows(conn(), copy, columns, 2, {"村级代码", "'%'", true});
    EXPECT_TRUE(context->BalanceUnitsInVillages(rows, 2, {kVillages[2]}, {0.05}).empty());
    EXPECT_EQ(context->m_nErrCount, errors + 1);
    EXPECT_NE(context->m_strLogTitle.find(kVillages[2]), std::string::npos);
    EXPECT_EQ(Area(copy, 1, "土地总面积"), 0);

    // A row with no class at all, in the copy nor in the source.
    conn().Execute("delete from " + source);
    conn().Execute("delete from " + copy);
    Insert(source, {{1, 0, 300, {}}});
    Insert(copy, {{1, 0, 0.03, {}}});
    errors = context->m_nErrCount;
    EXPECT_EQ(context->BalanceStatData(), 1);
    EXPECT_EQ(context->m_nErrCount, errors + 1) << "a row whose classes cannot reach its total";

    // A row to seed whose number the source lacks ends the pass, failed, and none
    // of the copy's changes is written (row 1 would take the village's step).
    Insert(copy, {{9, 0, 0.01, {}}});
    errors = context->m_nErrCount;
    EXPECT_EQ(context->BalanceStatData(), 0);
    EXPECT_EQ(context->m_nErrCount, errors + 2);
    EXPECT_EQ(context->m_strLogMsg, "源表中没有序号 9 的行");
    EXPECT_EQ(Area(copy, 1, "土地总面积"), 0.03);
  });
}

TEST_P(BaseBalancingTest, FarmlandCopiesAddUp) {
  // With extension classes in the code table too: they add up to their
  // parent class, they are no classes of the row themselves.
  for (bool extensions : {false, true}) {
    SCOPED_TRACE(extensions ? "with extension classes" : "without extension classes");
    auto context = Context(kThreeUnits, extensions);
    const ClassLayout layout(context->m_arrStatFields);
    std::vector<Piece> survey = SurveyRows(60, 3, extensions);
    ASSERT_EQ(context->CreateUnitJbntTable(context->m_strJbntTblSrc), 1);
    Insert(context->m_strJbntTblSrc, survey);
    double source_total = 0;
    for (const Piece& piece : survey) source_total += piece.total;
    const AreaTable source = ReadAreas(conn(), context->m_strJbntTblSrc, layout);
    // The copies as the conversion leaves them.
    const std::vector<std::tuple<std::string, double, short>> copies = {
        {context->m_strJbntTblUnit1, 0.0001, 4}, {context->m_strJbntTblUnit2, 0.0015, 2}};
    for (const auto& [table, factor, decimals] : copies) {
      ASSERT_EQ(context->CreateUnitJbntTable(table), 1);
      std::vector<Piece> converted = survey;
      for (Piece& piece : converted) {
        piece.total = text::RoundDecimal(piece.total * factor, decimals);
        for (auto& [column, value] : piece.classes) {
          value = text::RoundDecimal(value * factor, decimals);
        }
      }
      Insert(table, converted);
    }
    ASSERT_EQ(context->BalanceStatDataByUnit(), 1);
    EXPECT_EQ(context->m_nErrCount, 0) << context->m_strLogTitle << " " << context->m_strLogMsg;
    for (const auto& [table, factor, decimals] : copies) {
      SCOPED_TRACE(table);
      double region = source_total * factor;
      xcKeepPoint(&region, decimals);
      const testing::Moves moves = testing::ExpectBalanced(
          testing::Converted(source, factor, decimals), ReadAreas(conn(), table, layout), layout,
          kCounty, decimals, Steps(region, decimals));
      // The copy needed both passes.
      EXPECT_GT(moves.totals, 0);
      EXPECT_GT(moves.classes, 0);
    }
  }
}

LANDSTAT_BOTH_ENGINES(BaseBalancingTest);

}  // namespace
}  // namespace landstat
