// The conversion of a county's stored statistics to another area unit, on a
// generated county: the converted tables against a run made in that unit,
// what must add up afterwards, repeated and back-and-forth conversions, the
// conversion in place alone, and refusals.

#include "units/database_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/db/recordset.h"
#include "platform/host/notifier.h"
#include "platform/text/ascii_text.h"
#include "support/test_databases.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using Row = std::map<std::string, double>;
using Rows = std::map<std::string, Row>;

// Hectares with four decimals, square metres and mu with two.
const char kUnits[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n[PointLen]\nLen1=2\nLen2=4\nLen3=2\n";

int DecimalsOf(short unit) {
  return unit == kHectare ? 4 : 2;
}

// Every row of a table by its key (XZQDM, or the unit pair of the enclave
// tables), with its numeric columns.
Rows ReadRows(db::Connection& conn, const std::string& table) {
  static const std::set<std::string> kNotAreas = {"XZQDM",   "XZQMC",   "SZXZQDM", "SZXZQMC",
                                                  "SSXZQDM", "SSXZQMC", "ID"};
  Rows rows;
  db::Recordset set(conn, "select * from " + table);
  bool pair = false;
  std::vector<std::string> names;
  for (int i = 0; i < set.FieldCount(); ++i) {
    const std::string name = text::ToUpperAscii(set.FieldName(i));
    names.push_back(name);
    pair = pair || name == "FRDMJ";
  }
  for (; !set.IsEOF(); set.MoveNext()) {
    Row& row = rows[pair ? set.Text("SZXZQDM") + "|" + set.Text("SSXZQDM") : set.Text("XZQDM")];
    for (int i = 0; i < set.FieldCount(); ++i) {
      if (!kNotAreas.count(names[i])) row[names[i]] = set.Number(set.FieldName(i));
    }
  }
  return rows;
}

double SumOf(const Row& row, const std::function<bool(const std::string&)>& pick) {
  double sum = 0;
  for (const auto& [column, value] : row) sum += pick(column) ? value : 0;
  return sum;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.size() > head.size() && text.compare(0, head.size(), head) == 0;
}

// Within each row: totals are their parts, class parents their classes;
// every figure on the grid of the decimals and none negative.
void ExpectRowsAddUp(const Rows& rows, const std::string& table, int decimals) {
  const double eps = 1e-6;
  for (const auto& [key, row] : rows) {
    SCOPED_TRACE(table + " " + key);
    const auto is_first_level = [](const std::string& c) {
      return c.size() == 4 && c.rfind("BM", 0) == 0;
    };
    for (const char* total : {"XZQZMJ", "FRDMJ"}) {
      if (row.count(total)) {
        EXPECT_NEAR(row.at(total), SumOf(row, is_first_level), eps);
      }
    }
    for (const auto& [column, value] : row) {
      EXPECT_GE(value, 0) << column;
      const double grid = std::pow(10.0, decimals);
      EXPECT_NEAR(value * grid, std::round(value * grid), 1e-4) << column;
      if (is_first_level(column) && !row.count("ZHJ")) {
        const bool has_children = std::any_of(row.begin(), row.end(), [&](const auto& other) {
          return other.first.size() == 5 && StartsWith(other.first, column);
        });
        if (has_children) {
          EXPECT_NEAR(
              value,
              SumOf(row,
                    [&](const std::string& c) { return c.size() == 5 && StartsWith(c, column); }),
              eps)
              << column;
        }
      }
    }
    if (row.count("ZHJ")) {
      EXPECT_NEAR(row.at("ZHJ"), row.at("GHJ") + row.at("JHJ"), eps);
      for (const char* side : {"G", "J"}) {
        EXPECT_NEAR(row.at(std::string(side) + "HJ"),
                    SumOf(row,
                          [&](const std::string& c) {
                            return c.rfind("BM", 0) == 0 && c.size() == 5 && c.back() == side[0];
                          }),
                    eps);
      }
    }
    if (row.count("GDMJ")) {
      double parts = row.at("PDMJ");
      for (const char* grade : {"2", "3", "4", "5"}) {
        const std::string g = grade;
        EXPECT_NEAR(row.at("HJ" + g), row.at("PD" + g) + row.at("TT" + g), eps);
        parts += row.at("HJ" + g);
      }
      EXPECT_NEAR(row.at("GDMJ"), parts, eps);
    }
  }
}

// Units add up to their village, villages to their township, townships to
// the county, column by column.
void ExpectLevelsAddUp(const Rows& rows, const std::string& table) {
  std::map<std::string, Row> sums;
  for (const auto& [code, row] : rows) {
    if (code.size() == 6) continue;
    const std::string parent = code.substr(0, code.size() == 19 ? 12 : code.size() - 3);
    for (const auto& [column, value] : row) sums[parent][column] += value;
  }
  ASSERT_FALSE(sums.empty()) << table;
  for (const auto& [parent, sum] : sums) {
    ASSERT_TRUE(rows.count(parent)) << table << " " << parent;
    for (const auto& [column, value] : sum) {
      EXPECT_NEAR(rows.at(parent).at(column), value, 1e-6)
          << table << " " << parent << " " << column;
    }
  }
}

class DatabaseConversionTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(kUnits);
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, 53);
    ASSERT_EQ(county_->Run("通用农村", Connection(), IsServer()), 1);
  }

  // A run or conversion puts a new database file in the old one's place:
  // the results are read through a connection opened afterwards.
  db::Connection& conn() {
    db_.Open(Connection());
    return db_;
  }

  std::string Connection() { return database().ConnectionString(); }
  std::string Plain(const std::string& base) {
    return TableNames(Mode(), "2009", county_->options.county_code).Plain(base);
  }
  std::string Summary(short unit, const std::string& base) {
    return TableNames(Mode(), "2009", county_->options.county_code).Summary('Z', unit, base);
  }
  // By default with the decimals configured for the unit.
  short Convert(short target, short decimals = -1) {
    return ConvertStatDatabase(county_->codes.get(), Connection(), Mode(), "2009",
                               county_->options.county_code, target, decimals, 1, county_->log);
  }
  short ConvertInPlace(short target) {
    return LandConvertAreaUnit1(county_->codes.get(), Connection(), Mode(), "2009",
                                county_->options.county_code, target, -1, -1, county_->log);
  }
  short Recorded(const std::string& type) {
    return GetStatDataAreaUnit(Connection(), Mode(), "2009", county_->options.county_code, type);
  }
  std::map<std::string, Rows> Snapshot() {
    std::map<std::string, Rows> tables;
    for (const std::string& base : kConverted) tables[base] = ReadRows(conn(), Plain(base));
    return tables;
  }
  const std::vector<std::string> kConverted = {"TDLY_YJFL",    "TDLY_EJFL",     "NCTDLY_YJFL",
                                               "NCTDLY_EJFL",  "NCTDLY_QSYJFL", "TDLY_QSYJFL",
                                               "FRDTDLY_YJFL", "FRDTDLY_EJFL",  "GDPDMJHZ"};
  testing::ScopedProgramDir home_;
  std::unique_ptr<testing::GeneratedCountyRun> county_;
  db::Connection db_;
};

void ExpectSameRows(const Rows& actual, const Rows& expected, double bound,
                    const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (const auto& [key, row] : expected) {
    ASSERT_TRUE(actual.count(key)) << what << " " << key;
    for (const auto& [column, value] : row) {
      EXPECT_NEAR(actual.at(key).at(column), value, bound) << what << " " << key << " " << column;
    }
  }
}

TEST_P(DatabaseConversionTest, ConvertedTablesMatchARunInThatUnitAndAddUp) {
  for (short unit : {kHectare, kMu}) {
    SCOPED_TRACE(UnitText(unit));
    ASSERT_EQ(Convert(unit), 1);
    EXPECT_EQ(testing::FailureLines(county_->log), "");
    EXPECT_EQ(Recorded("statdataex"), unit);
    for (const std::string& base : kConverted) {
      EXPECT_EQ(Recorded(base), unit) << base;
      const Rows rows = ReadRows(conn(), Plain(base));
      ExpectRowsAddUp(rows, base, DecimalsOf(unit));
      if (base.rfind("FRD", 0) != 0) ExpectLevelsAddUp(rows, base);
    }
    // Tables read from the converted base rows equal those of the run.
    for (const char* base : {"NCTDLY_YJFL", "NCTDLY_QSYJFL", "GDPDMJHZ"}) {
      ExpectSameRows(ReadRows(conn(), Plain(base)), ReadRows(conn(), Summary(unit, base)), 1e-6,
                     base);
    }
    // Those summed in square metres and converted after hold the county's
    // converted total; their classes differ from the run's sums of 2000
    // rounded pieces by the rounding those sums gather, a few steps.
    const std::string county = county_->options.county_code;
    EXPECT_NEAR(ReadRows(conn(), Plain("TDLY_EJFL")).at(county).at("XZQZMJ"),
                conn()
                    .Scalar("select sum(土地总面积) from " +
                            TableNames(Mode(), "2009", county).UnitCopy(unit, "statdata"))
                    .AsDouble(),
                1e-6);
    ExpectSameRows(ReadRows(conn(), Plain("NCTDLY_EJFL")),
                   ReadRows(conn(), Summary(unit, "NCTDLY_EJFL")), 0.25, "NCTDLY_EJFL");
  }
}

TEST_P(DatabaseConversionTest, RepeatsChangeNothingAndBackAndForthKeepsTotals) {
  ASSERT_EQ(Convert(kSquareMetre), 1);
  const auto square_metres = Snapshot();
  const double base_total =
      conn().Scalar("select sum(土地总面积) from " + Plain("statdata")).AsDouble();
  EXPECT_NEAR(square_metres.at("TDLY_YJFL").at(county_->options.county_code).at("XZQZMJ"),
              base_total, 0.005);

  ASSERT_EQ(Convert(kHectare), 1);
  const auto hectares = Snapshot();
  ASSERT_EQ(Convert(kHectare), 1);
  ASSERT_EQ(ConvertInPlace(kHectare), 1);
  for (const std::string& base : kConverted) {
    ExpectSameRows(Snapshot().at(base), hectares.at(base), 1e-9, base + " again");
  }

  ASSERT_EQ(Convert(kMu), 1);
  ASSERT_EQ(Convert(kSquareMetre), 1);
  for (const std::string& base : kConverted) {
    ExpectSameRows(Snapshot().at(base), square_metres.at(base), 1e-9, base + " back");
  }

  // Fewer decimals in the source unit: every figure on the coarser grid,
  // still adding up.
  ASSERT_EQ(Convert(kSquareMetre, 1), 1);
  EXPECT_EQ(testing::FailureLines(county_->log), "");
  for (const std::string& base : kConverted) {
    ExpectRowsAddUp(ReadRows(conn(), Plain(base)), base, 1);
  }
  EXPECT_NEAR(Snapshot().at("TDLY_EJFL").at(county_->options.county_code).at("XZQZMJ"), base_total,
              0.05);
}

TEST_P(DatabaseConversionTest, ConversionInPlaceStartsFromTheRecordedUnit) {
  ASSERT_EQ(Convert(kHectare), 1);
  const double hectares =
      ReadRows(conn(), Plain("NCTDLY_EJFL")).at(county_->options.county_code).at("XZQZMJ");
  // A table whose unit is not recorded is left as it is, and logged.
  conn().Execute("delete from " +
                 TableNames(Mode(), "2009", county_->options.county_code).AreaUnit() +
                 " where TYPE='FRDTDLY_YJFL'");
  const Rows enclaves = ReadRows(conn(), Plain("FRDTDLY_YJFL"));

  ASSERT_EQ(ConvertInPlace(kMu), 1);
  EXPECT_EQ(Recorded("NCTDLY_EJFL"), kMu);
  for (const std::string& base : kConverted) {
    const Rows rows = ReadRows(conn(), Plain(base));
    ExpectRowsAddUp(rows, base, base == "FRDTDLY_YJFL" ? 4 : 2);  // left in hectares
    if (base.rfind("FRD", 0) != 0) ExpectLevelsAddUp(rows, base);
  }
  EXPECT_NEAR(ReadRows(conn(), Plain("NCTDLY_EJFL")).at(county_->options.county_code).at("XZQZMJ"),
              hectares * 15, 0.01 * 15);
  ExpectSameRows(ReadRows(conn(), Plain("FRDTDLY_YJFL")), enclaves, 1e-9, "unrecorded");
  EXPECT_NE(testing::ReadFileBytes(county_->log).find("FRDTDLY_YJFL 没有记录面积单位"),
            std::string::npos)
      << testing::ReadFileBytes(county_->log);
}

// With farmland base data the table by protection block is summed anew
// from them, converted and balanced.
TEST_P(DatabaseConversionTest, FarmlandBlockTableIsRebuiltInTheTargetUnit) {
  {
    CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, county_->codes.get(), "2009",
                         county_->options.county_code, "", 1, "");
    ASSERT_EQ(context.InitUnits(Connection(), Mode()), 1);
    ASSERT_EQ(context.LoadCodes(), 1);
    ASSERT_EQ(context.CreateJbntStatTable(), 1);
    context.m_pConn.Execute("insert into " + context.m_strJbntTbl +
                            " (保护片编号,基本农田图斑编号,BM01,BM011,BM02) values "
                            "('A','1',12345.67,12345.67,5000),('A','2',1,1,0),('B','3',0,0,"
                            "33333.33)");
  }
  ASSERT_EQ(Convert(kHectare), 1);
  EXPECT_EQ(testing::FailureLines(county_->log), "");
  EXPECT_EQ(Recorded("JBNTBHKQKTJ"), kHectare);
  EXPECT_EQ(
      testing::Rows(conn(), "select BHKBH, ZHJ, BM01HJ, BM011, QTHJ, BM02 from " +
                                Plain("JBNTBHKQKTJ") + " order by BHKBH"),
      (std::vector<std::string>{"A|1.7347|1.2347|1.2347|0.5|0.5", "B|3.3333|0|0|3.3333|3.3333"}));
}

// The run's copy in the target unit gives statdataex its rows only where
// they pair with the base table's by 序号: a copy whose numbers differ is
// passed over, statdataex converted from the base table as before.
TEST_P(DatabaseConversionTest, RunCopyWhoseRowsDoNotPairIsNotCopied) {
  const std::string rows = "select 序号, 土地总面积 from " + Plain("statdataex") + " order by 序号";
  ASSERT_EQ(Convert(kMu), 1);
  const std::vector<std::string> converted = testing::Rows(conn(), rows);
  ASSERT_GT(converted.size(), 100u);
  conn().Execute(
      "update " +
      TableNames(Mode(), "2009", county_->options.county_code).UnitCopy(kMu, "statdata") +
      " set 序号='x'||序号");
  ASSERT_EQ(Convert(kMu), 1);
  EXPECT_EQ(testing::Rows(conn(), rows), converted);
}

TEST_P(DatabaseConversionTest, UnknownUnitsAndMissingBaseTablesAreRefused) {
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  ASSERT_EQ(Convert(kHectare), 1);
  const auto before = Snapshot();
  EXPECT_EQ(Convert(7), 0);
  EXPECT_EQ(ConvertInPlace(-1), 0);
  ASSERT_EQ(notifier.messages.size(), 2u);
  EXPECT_NE(notifier.messages[0].find("未知的面积单位 7"), std::string::npos);
  for (const std::string& base : kConverted) {
    ExpectSameRows(Snapshot().at(base), before.at(base), 1e-9, base);
  }
  EXPECT_EQ(Recorded("TDLY_YJFL"), kHectare);
  EXPECT_EQ(
      GetStatDataAreaUnit(Connection(), Mode(), "2010", county_->options.county_code, "TDLY_YJFL"),
      -1);

  conn().Execute("drop table " + Plain("statdata"));
  EXPECT_EQ(Convert(kMu), 0);
  EXPECT_NE(notifier.messages.back().find("请先进行统计"), std::string::npos);
}

LANDSTAT_BOTH_ENGINES(DatabaseConversionTest);

// One stored table converted: area columns only, the town table's ratios
// kept, the same unit and an unknown pair changing nothing.
class ConvertAreaUnitTest : public testing::BothEngines {};

TEST_P(ConvertAreaUnitTest, ConvertsAreaColumnsOnly) {
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  for (const char* table : {"T_MJ", "CZTDLY_QDDC"}) {
    conn().Execute(std::string("create table ") + table +
                   " (XZQDM varchar(19), N int, XZQZMJ double precision, CZRJL double precision)");
    conn().Execute(std::string("insert into ") + table + " values ('330102', 7, 30000, 1.5)");
  }
  const auto row = [&](const char* table) {
    return testing::Numbers(conn(), std::string("select XZQZMJ from ") + table)[0] +
           1e6 * testing::Numbers(conn(), std::string("select CZRJL from ") + table)[0] +
           1e9 * testing::Numbers(conn(), std::string("select N from ") + table)[0];
  };
  EXPECT_EQ(ConvertAreaUnit(conn(), "T_MJ", kMu, kMu, 0, 2), 1);
  EXPECT_EQ(row("T_MJ"), 30000 + 1.5e6 + 7e9);
  EXPECT_EQ(ConvertAreaUnit(conn(), "T_MJ", kMu, kSquareMetre, 0, 2), 1);
  EXPECT_NEAR(row("T_MJ"), 45 + 7e9, 1e-3);  // 1.5 m² is 0.00 mu at two decimals
  EXPECT_EQ(ConvertAreaUnit(conn(), "CZTDLY_QDDC", kHectare, kSquareMetre, 0, 4), 1);
  EXPECT_NEAR(row("CZTDLY_QDDC"), 3 + 1.5e6 + 7e9, 1e-3);
  EXPECT_TRUE(notifier.messages.empty());

  EXPECT_EQ(ConvertAreaUnit(conn(), "T_MJ", 5, kSquareMetre, 0, 2), 0);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_NE(notifier.messages[0].find("T_MJ"), std::string::npos);
  EXPECT_NEAR(row("T_MJ"), 45 + 7e9, 1e-3);
}

LANDSTAT_BOTH_ENGINES(ConvertAreaUnitTest);

}  // namespace
}  // namespace landstat
