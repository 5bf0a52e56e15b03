// Balancing of the slope summary table and the farmland summary tables:
// the county row within itself, the villages against the county, the
// townships as the sums of their villages.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/balance_checks.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Steps;
using Columns = std::vector<std::string>;
using Row = std::map<std::string, double>;
using Table = std::map<std::string, Row>;

constexpr char kCounty[] = "330102";
const Columns kTownships = {"330102001", "330102002"};
const Columns kVillages = {"330102001001", "330102001002", "330102002001", "330102002002"};

const Columns kGrades = {"2", "3", "4", "5"};

Columns Grades(const std::string& prefix) {
  return {prefix + "2", prefix + "3", prefix + "4", prefix + "5"};
}

const Columns kCultivated = {"BM011", "BM012", "BM013"};
const Columns kOthers = {"BM02", "BM03", "BM04", "BM10", "BM11", "BM12", "BM20"};

class SummaryBalancingTest : public BothEngines {
 protected:
  void Init(int decimals) {
    decimals_ = decimals;
    testing::WriteFileBytes(home_.path() / "qentar" / "_secondfun_" / "StatConfig.ini",
                            "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[PointLen]\nLen1=" +
                                std::to_string(decimals) + "\nLen2=4\n");
    context_ = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009",
                                              kCounty, "", 1, "");
    ASSERT_EQ(context_->InitUnits(database().ConnectionString(), Mode()), 1);
  }

  std::string Name(const std::string& base) const {
    return IsServer() ? std::string("D2009") + kCounty + base : base;
  }

  void Create(const std::string& table, const std::string& keys, const Columns& columns) {
    std::string sql = "create table " + table + " (" + keys;
    for (const std::string& column : columns) sql += ", " + column + " double";
    conn().Execute(context_->TypeWords(sql + ")"));
  }

  void Fill(const std::string& table, const std::string& key, const Table& rows) {
    for (const auto& [code, row] : rows) {
      std::string names = key, marks = "?";
      std::vector<db::Value> values = {code};
      for (const auto& [column, value] : row) {
        names += "," + column;
        marks += ",?";
        values.emplace_back(value);
      }
      conn().Execute("insert into " + table + " (" + names + ") values (" + marks + ")", values);
    }
  }

  Table Read(const std::string& table, const std::string& key, const Columns& columns) {
    Table rows;
    for (db::Recordset rs(conn(), "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
      Row& row = rows[rs.Text(key)];
      for (const std::string& column : columns) {
        row[column] = rs.Number(column);
        EXPECT_EQ(row[column], text::RoundDecimal(row[column], decimals_)) << column << " off grid";
        EXPECT_GE(row[column], 0) << column;
      }
    }
    return rows;
  }

  // A figure on the grid, up to 50.
  double Figure() { return static_cast<double>(draws_.Below(5000 * Scale() / 100)) / Scale(); }
  // A few steps either way.
  double Offset() { return static_cast<double>(draws_.Below(9) - 4) / Scale(); }
  long Scale() const { return decimals_ == 3 ? 1000 : 100; }

  long long Sum(const Row& row, const Columns& columns) const {
    long long sum = 0;
    for (const std::string& column : columns) sum += Steps(row.at(column), decimals_);
    return sum;
  }
  long long At(const Row& row, const std::string& column) const {
    return Steps(row.at(column), decimals_);
  }

  // Every township row the sum of its villages.
  void ExpectTownshipSums(Table& rows, const Columns& columns) {
    for (const std::string& township : kTownships) {
      for (const std::string& column : columns) {
        long long sum = 0;
        for (const std::string& village : kVillages) {
          if (village.rfind(township, 0) == 0) sum += At(rows[village], column);
        }
        EXPECT_EQ(At(rows[township], column), sum) << township << " " << column;
      }
    }
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<CStatContext> context_;
  testing::Draws draws_{5};
  int decimals_ = 2;
};

TEST_P(SummaryBalancingTest, SlopeTable) {
  Init(2);
  const Columns levels = [] {
    Columns columns = Grades("PD");
    for (const std::string& column : Grades("TT")) columns.push_back(column);
    columns.push_back("PDMJ");
    return columns;
  }();
  Columns all = levels;
  for (const std::string& column : Grades("HJ")) all.push_back(column);
  all.push_back("GDMJ");

  // Villages as converted; the county row a few steps off their sums and
  // off itself; village and township totals anything.
  Table rows;
  Row county;
  for (const std::string& village : kVillages) {
    for (const std::string& column : all) rows[village][column] = Figure();
  }
  for (const std::string& column : levels) {
    double sum = 0;
    for (const std::string& village : kVillages) sum += rows[village][column];
    county[column] = text::RoundDecimal(sum + Offset(), 2);
  }
  // Nothing or a single step is never stepped.
  rows[kVillages[1]]["PD3"] = 0;
  rows[kVillages[2]]["TT4"] = 0.01;
  rows[kVillages[3]]["PDMJ"] = 0.01;
  double whole = county["PDMJ"];
  for (const std::string& g : kGrades) {
    county["HJ" + g] = text::RoundDecimal(county["PD" + g] + county["TT" + g] + Offset(), 2);
    whole += county["HJ" + g];
  }
  county["GDMJ"] = text::RoundDecimal(whole + Offset(), 2);
  rows[kCounty] = county;
  for (const std::string& township : kTownships) {
    for (const std::string& column : all) rows[township][column] = Figure();
  }

  const std::string table = Name("GDPDMJHZ");
  Create(table, "ID int, XZQDM varchar(19), XZQMC varchar(60)", all);
  Fill(table, "XZQDM", rows);
  ASSERT_EQ(context_->BalanceGdPdMjHz(), 1);
  Table after = Read(table, "XZQDM", all);

  Row& top = after[kCounty];
  EXPECT_EQ(At(top, "GDMJ"), At(top, "PDMJ") + Sum(top, Grades("HJ")));
  for (const std::string& g : kGrades) {
    EXPECT_EQ(At(top, "HJ" + g), At(top, "PD" + g) + At(top, "TT" + g)) << g;
  }
  for (const std::string& column : levels) {
    long long sum = 0;
    for (const std::string& village : kVillages) sum += At(after[village], column);
    EXPECT_EQ(sum, At(top, column)) << column;
  }
  for (const std::string& village : kVillages) {
    Row& row = after[village];
    for (const std::string& g : kGrades) {
      EXPECT_EQ(At(row, "HJ" + g), At(row, "PD" + g) + At(row, "TT" + g)) << village << g;
    }
    EXPECT_EQ(At(row, "GDMJ"), At(row, "PDMJ") + Sum(row, Grades("HJ"))) << village;
  }
  ExpectTownshipSums(after, all);
  EXPECT_EQ(after[kVillages[1]]["PD3"], 0);
  EXPECT_EQ(after[kVillages[2]]["TT4"], 0.01);
  EXPECT_EQ(after[kVillages[3]]["PDMJ"], 0.01);

  // Without a county row there is nothing to balance against.
  conn().Execute("delete from " + table + " where XZQDM='" + kCounty + "'");
  conn().Execute("update " + table + " set PD2=PD2*2");
  const Table before = Read(table, "XZQDM", all);
  EXPECT_EQ(context_->BalanceGdPdMjHz(), 0);
  EXPECT_EQ(Read(table, "XZQDM", all), before);
}

const Columns kFarmland = {"ZHJ",  "BM01HJ", "BM011", "BM012", "BM013", "QTHJ", "BM02",
                           "BM03", "BM04",   "BM10",  "BM11",  "BM12",  "BM20"};

// The county row and the rows of the blocks within themselves.
void ExpectFarmlandRow(const Row& row, int decimals, const std::string& code) {
  const auto at = [&](const std::string& column) { return Steps(row.at(column), decimals); };
  long long cultivated = 0, others = 0;
  for (const std::string& column : kCultivated) cultivated += at(column);
  for (const std::string& column : kOthers) others += at(column);
  EXPECT_EQ(at("ZHJ"), at("BM01HJ") + at("QTHJ")) << code;
  EXPECT_EQ(at("BM01HJ"), cultivated) << code;
  EXPECT_EQ(at("QTHJ"), others) << code;
}

TEST_P(SummaryBalancingTest, FarmlandTables) {
  // Three decimals: the steps are those of the source unit.
  Init(3);
  Columns leaves = kCultivated;
  leaves.insert(leaves.end(), kOthers.begin(), kOthers.end());
  Table rows;
  Row county;
  for (const std::string& village : kVillages) {
    for (const std::string& column : kFarmland) rows[village][column] = Figure();
  }
  for (const std::string& column : leaves) {
    double sum = 0;
    for (const std::string& village : kVillages) sum += rows[village][column];
    county[column] = text::RoundDecimal(sum + Offset(), 3);
  }
  county["BM01HJ"] = text::RoundDecimal(county["BM011"] + county["BM012"] + county["BM013"], 3);
  double others = 0;
  for (const std::string& column : kOthers) others += county[column];
  county["QTHJ"] = text::RoundDecimal(others + Offset(), 3);
  county["ZHJ"] = text::RoundDecimal(county["BM01HJ"] + county["QTHJ"] + Offset(), 3);
  rows[kCounty] = county;
  for (const std::string& township : kTownships) {
    for (const std::string& column : kFarmland) rows[township][column] = Figure();
  }
  rows[kVillages[0]]["BM012"] = 0.001;

  const std::string table = Name("JBNTQKTJ");
  Create(table, "XZQDM varchar(19), XZQMC varchar(60)", kFarmland);
  Fill(table, "XZQDM", rows);
  ASSERT_EQ(context_->BalanceJbntQktj(), 1);
  Table after = Read(table, "XZQDM", kFarmland);
  ExpectFarmlandRow(after[kCounty], 3, kCounty);
  for (const std::string& column : leaves) {
    long long sum = 0;
    for (const std::string& village : kVillages) sum += At(after[village], column);
    EXPECT_EQ(sum, At(after[kCounty], column)) << column;
  }
  for (const std::string& village : kVillages) {
    EXPECT_EQ(At(after[village], "BM01HJ"), Sum(after[village], kCultivated)) << village;
    EXPECT_EQ(At(after[village], "QTHJ"), Sum(after[village], kOthers)) << village;
  }
  ExpectTownshipSums(after, kFarmland);
  EXPECT_EQ(after[kVillages[0]]["BM012"], 0.001);

  // By protection block: every block within itself.
  Table blocks;
  for (const char* block : {"B001", "B002", "B003"}) {
    Row& row = blocks[block];
    for (const std::string& column : leaves) row[column] = Figure();
    row["BM01HJ"] = text::RoundDecimal(row["BM011"] + row["BM012"] + row["BM013"] + Offset(), 3);
    row["QTHJ"] = Offset() + 0.01;
    for (const std::string& column : kOthers) row["QTHJ"] += row[column];
    row["QTHJ"] = text::RoundDecimal(row["QTHJ"], 3);
    row["ZHJ"] = text::RoundDecimal(row["BM01HJ"] + row["QTHJ"] + Offset(), 3);
  }
  const std::string by_block = Name("JBNTBHKQKTJ");
  ASSERT_EQ(context_->CreateJbntBhkQktjConvertedTable(), 1);  // the conversion's own table
  Fill(by_block, "BHKBH", blocks);
  ASSERT_EQ(context_->BalanceJbntBhkQktj(), 1);
  for (const auto& [block, row] : Read(by_block, "BHKBH", kFarmland)) {
    ExpectFarmlandRow(row, 3, block);
  }

  // A total no rounding leaves fails at once and keeps the table as stored.
  conn().Execute("update " + by_block + " set ZHJ = 1e300 where BHKBH = 'B001'");
  const Table stored = Read(by_block, "BHKBH", kFarmland);
  EXPECT_EQ(context_->BalanceJbntBhkQktj(), 0);
  EXPECT_EQ(Read(by_block, "BHKBH", kFarmland), stored);
}

// A converted class table: a unit summed under two names keeps two rows,
// and a unit whose classes all rounded to zero takes its total in the
// class its village has most of; every level adds up afterwards.
TEST_P(SummaryBalancingTest, LevelsWithRepeatedUnitsAndClassesRoundedAway) {
  Init(2);
  const std::string table = Name("TDLY_EJFL");
  const Columns columns = {"XZQZMJ", "BM01", "BM011", "BM012", "BM02"};
  conn().Execute(context_->TypeWords("create table " + table +
                                     " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ double,"
                                     " BM01 double, BM011 double, BM012 double, BM02 double)"));
  const std::string unit_a = "3301020010010010000", unit_c = "3301020010010020000";
  const std::vector<std::pair<std::pair<std::string, std::string>, Row>> stored = {
      // The county's BM011 as a sum leaves it, with a binary tail.
      {{kCounty, "县"},
       {{"XZQZMJ", 1}, {"BM01", .5}, {"BM011", .1 + .2}, {"BM012", .2}, {"BM02", .5}}},
      {{"330102001", "乡"},
       {{"XZQZMJ", 1}, {"BM01", .5}, {"BM011", .3}, {"BM012", .2}, {"BM02", .5}}},
      {{"330102001001", "村"},
       {{"XZQZMJ", 1}, {"BM01", .5}, {"BM011", .3}, {"BM012", .2}, {"BM02", .5}}},
      {{unit_a, "甲"}, {{"XZQZMJ", .7}, {"BM01", .4}, {"BM011", .3}, {"BM012", .1}, {"BM02", .29}}},
      {{unit_a, "乙"}, {{"XZQZMJ", .29}, {"BM01", .1}, {"BM011", 0}, {"BM012", .1}, {"BM02", .19}}},
      {{unit_c, "丙"}, {{"XZQZMJ", .01}, {"BM01", 0}, {"BM011", 0}, {"BM012", 0}, {"BM02", 0}}}};
  for (const auto& [key, row] : stored) {
    std::vector<db::Value> values = {key.first, key.second};
    for (const std::string& column : columns) values.emplace_back(row.at(column));
    conn().Execute("insert into " + table + " values (?,?,?,?,?,?,?)", values);
  }
  ASSERT_EQ(context_->BalanceSummaryLevels(table, SummaryShape::kClassLevels), 1);

  std::vector<std::pair<std::string, Row>> rows;
  for (db::Recordset rs(conn(), "select * from " + table + " order by XZQDM, XZQMC"); !rs.IsEOF();
       rs.MoveNext()) {
    rows.emplace_back(rs.Text("XZQMC"), Row{});
    for (const std::string& column : columns) {
      const double figure = rs.Number(column);
      EXPECT_EQ(figure, text::RoundDecimal(figure, 2)) << rs.Text("XZQMC") << " " << column;
      rows.back().second[column] = figure;
    }
  }
  ASSERT_EQ(rows.size(), 6u);
  const auto at = [&](std::size_t i, const char* column) { return At(rows[i].second, column); };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(at(i, "XZQZMJ"), at(i, "BM01") + at(i, "BM02")) << rows[i].first;
    EXPECT_EQ(at(i, "BM01"), at(i, "BM011") + at(i, "BM012")) << rows[i].first;
  }
  // Rows: county, township, village, then the units 甲 and 乙 in either
  // order, then 丙.
  const std::size_t a = rows[3].first == "甲" ? 3 : 4;
  EXPECT_EQ(at(a, "XZQZMJ"), 70);
  EXPECT_EQ(at(7 - a, "XZQZMJ"), 29);
  EXPECT_EQ(at(5, "BM02"), 1);
  for (const char* column : {"XZQZMJ", "BM011", "BM012", "BM02"}) {
    EXPECT_EQ(at(2, column), at(3, column) + at(4, column) + at(5, column)) << column;
    EXPECT_EQ(at(0, column), at(1, column)) << column;
    EXPECT_EQ(at(1, column), at(2, column)) << column;
  }
  EXPECT_EQ(at(0, "XZQZMJ"), 100);
}

LANDSTAT_BOTH_ENGINES(SummaryBalancingTest);

}  // namespace
}  // namespace landstat
