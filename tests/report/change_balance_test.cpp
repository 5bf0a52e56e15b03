#include "report/change_balance.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"
#include "platform/host/paths.h"
#include "report/balance_struct.h"
#include "report/balance_units.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat::report {
namespace {

using testing::BothEngines;

const std::vector<gis::CODESTRUCT> kCodes = {{"地类代码", "01", "耕地"},
                                             {"地类代码", "011", "水田"},
                                             {"地类代码", "012", "水浇地"},
                                             {"地类代码", "03", "林地"},
                                             {"地类代码", "031", "有林地"},
                                             {"地类代码", "05", "商服用地"},
                                             {"地类代码", "051", "批发零售用地"},
                                             {"县行政代码", "330102", "示例县"},
                                             {"村行政代码", "330102001001", "甲村"}};

// A change record: locations, ownerships, classes, area.
struct Change {
  const char* from_place = "330102001001";
  const char* to_place = "330102001001";
  const char* from_owner;
  const char* to_owner;
  const char* from_class;
  const char* to_class;
  double area;
};

// A base-year row: location, ownership, areas of 011, 012, 031, 051.
struct BaseRow {
  const char* place;
  const char* owner;
  double bm011, bm012, bm031, bm051;
};

// The sums of a balance sheet that do not hold, one line each, in whole
// units of the last decimal: in every column 上年末面积 - 本年减少 + 本年增加
// = 本年末面积 = 本年末国有 + 本年末集体; in every record the lowest classes
// add up to 合计; in those four area records a class with classes of its
// own ("D01" of "D011", "D012") is their sum; a class record's 合计 is the
// 本年减少 of its class. Empty when every one holds.
std::string Unbalanced(gis::LayerHandle table, int decimals) {
  std::vector<std::string> columns;
  for (const gis::FieldDef& field : gis::LayerFields(table)) {
    if (field.type == gis::FieldType::kDouble && field.name != kBalanceTotalField) {
      columns.push_back(field.name);
    }
  }
  columns.push_back(kBalanceTotalField);
  const std::size_t total = columns.size() - 1;
  const auto children = [&](std::size_t column) {
    std::vector<std::size_t> found;
    for (std::size_t other = 0; other < total; ++other) {
      if (columns[other].size() == columns[column].size() + 1 &&
          columns[other].starts_with(columns[column])) {
        found.push_back(other);
      }
    }
    return found;
  };
  std::map<long, std::vector<long long>> rows;
  std::map<long, std::string> keys;
  gis::Record record;
  for (long n = 1; n < gis::RecordCount(table, gis::EntityKind::kTable); ++n) {
    if (!gis::ReadRecord(table, gis::EntityKind::kTable, n, record)) continue;
    keys[n] = record.Text(kBalanceKeyField);
    for (const std::string& column : columns) {
      rows[n].push_back(std::llround(record.Number(column) * std::pow(10.0, decimals)));
    }
  }
  std::string said;
  const auto check = [&](const std::string& what, long long sum, long long value) {
    if (sum != value) said += fmt::format("{}: {} against {}\n", what, sum, value);
  };
  for (std::size_t c = 0; c <= total; ++c) {
    check(columns[c] + ": 1 - 2 + 3 = 4", rows[1][c] - rows[2][c] + rows[3][c], rows[4][c]);
    check(columns[c] + ": 5 + 6 = 4", rows[5][c] + rows[6][c], rows[4][c]);
  }
  for (const auto& [n, row] : rows) {
    long long leaves = 0;
    for (std::size_t c = 0; c < total; ++c) {
      const std::vector<std::size_t> own = children(c);
      if (own.empty()) leaves += row[c];
      if (own.empty() || (n != 1 && (n < 4 || n > 6))) continue;
      long long sum = 0;
      for (std::size_t child : own) sum += row[child];
      check(fmt::format("record {}: {} of its classes", n, columns[c]), sum, row[c]);
    }
    check(fmt::format("record {}: classes = 合计", n), leaves, row[total]);
    const auto key = std::find(columns.begin(), columns.end(), keys[n]);
    if (n >= kFirstClassRow && key != columns.end()) {
      check("class record " + keys[n] + ": 合计 = 本年减少", row[total],
            rows[2][static_cast<std::size_t>(key - columns.begin())]);
    }
  }
  return said;
}

// The balance table over a change table and a base-year table of the
// test's own, on one connection (as on a server).
class ChangeBalanceTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    names_ = TableNames(Mode(), "2024", "330102");
    std::string columns = "座落单位代码 varchar(19), 权属性质 varchar(4), 土地总面积 float";
    for (const gis::CODESTRUCT& code : kCodes) {
      if (code.type == "地类代码") columns += ", BM" + code.code + " float default 0";
    }
    conn().Execute("create table " + base_ + " (" + columns + ")");
    conn().Execute("create table " + change_ +
                   " (变更前座落代码 varchar(19), 变更后座落代码 varchar(19), 变更前权属性质 "
                   "varchar(4), 变更后权属性质 varchar(4), 变更前地类号 varchar(10), 变更后地类号 "
                   "varchar(10), 变更面积 float)");
  }

  void Add(const std::vector<Change>& changes) {
    for (const Change& c : changes) {
      conn().Execute(
          "insert into " + change_ + " values (?, ?, ?, ?, ?, ?, ?)",
          {c.from_place, c.to_place, c.from_owner, c.to_owner, c.from_class, c.to_class, c.area});
    }
  }

  void Add(const std::vector<BaseRow>& rows) {
    for (const BaseRow& r : rows) {
      conn().Execute("insert into " + base_ +
                         " (座落单位代码, 权属性质, 土地总面积, BM01, BM011, BM012, BM03, BM031, "
                         "BM05, BM051) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     {r.place, r.owner, r.bm011 + r.bm012 + r.bm031 + r.bm051, r.bm011 + r.bm012,
                      r.bm011, r.bm012, r.bm031, r.bm031, r.bm051, r.bm051});
    }
  }

  // Builds the table of the county at `level`; 0 when it was not built.
  short Balance(short level, const gis::RuralCode* codes = nullptr) {
    testing::WriteFileBytes(host::StatConfigPath(),
                            "[BALANCE]\nLevel=" + std::to_string(level) + "\n");
    return GetBalanceAi(codes ? codes : codes_.get(), &conn(), nullptr, base_, base_, change_,
                        "330102", "330102", 1, &notes_);
  }

  // Each record's non-zero numbers: "2: D01=100 合计=100", class records by
  // their key; one line each. With `decimals`, each number with as many.
  static std::string Dump(gis::LayerHandle table, int decimals = -1) {
    const std::vector<gis::FieldDef> fields = gis::LayerFields(table);
    std::string dump;
    gis::Record record;
    for (long n = 1; n < gis::RecordCount(table, gis::EntityKind::kTable); ++n) {
      if (!gis::ReadRecord(table, gis::EntityKind::kTable, n, record)) continue;
      std::string line;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const double value = record.Number(static_cast<int>(i));
        if (fields[i].type != gis::FieldType::kDouble || value == 0) continue;
        line += decimals < 0 ? fmt::format(" {}={:g}", fields[i].name, value)
                             : fmt::format(" {}={:.{}f}", fields[i].name, value, decimals);
      }
      const std::string key = record.Text(kBalanceKeyField);
      if (!line.empty()) dump += (key.empty() ? std::to_string(n) : key) + ":" + line + "\n";
    }
    return dump;
  }

  testing::ScopedProgramDir home_;
  TableNames names_;
  std::string base_ = "PMstatdata_base";
  std::string change_ = "ndChange";
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(kCodes)};
  BalanceNotes notes_;
};

TEST_P(ChangeBalanceTest, EntersEachChangeByItsClassesAndOwnerships) {
  const struct {
    const char* what;
    short level;
    std::vector<Change> changes;
    const char* dump;
    const char* notice = "";  // the start of the notice on changes left out
  } cases[] = {
      {"another first-level class, state-owned to collective",
       3,
       {{.from_owner = "20",
         .to_owner = "30",
         .from_class = "011",
         .to_class = "031",
         .area = 100}},
       "2: D01=100 D011=100 合计=100\n3: D03=100 D031=100 合计=100\n"
       "4: D01=-100 D011=-100 D03=100 D031=100\n5: D01=-100 D011=-100 合计=-100\n"
       "6: D03=100 D031=100 合计=100\nD01: D03=100 D031=100 合计=100\n"
       "D011: D03=100 D031=100 合计=100\n"},
      {"the same first-level class",
       3,
       {{.from_owner = "30", .to_owner = "30", .from_class = "011", .to_class = "012", .area = 50}},
       "2: D011=50 合计=50\n3: D012=50 合计=50\n4: D011=-50 D012=50\n6: D011=-50 D012=50\n"
       "D011: D012=50 合计=50\n"},
      {"equal keys at level 2, whatever the ownership",
       2,
       {{.from_owner = "20", .to_owner = "30", .from_class = "011", .to_class = "012", .area = 50}},
       ""},
      {"10 and 20 state-owned; 30, 41 and empty collective",
       2,
       {{.from_owner = "10", .to_owner = "41", .from_class = "011", .to_class = "031", .area = 1},
        {.from_owner = "20", .to_owner = "", .from_class = "011", .to_class = "031", .area = 2},
        {.from_owner = "30", .to_owner = "10", .from_class = "031", .to_class = "011", .area = 4}},
       "2: D01=3 D03=4 合计=7\n3: D01=4 D03=3 合计=7\n4: D01=1 D03=-1\n5: D01=1 合计=1\n"
       "6: D03=-1 合计=-1\nD01: D03=3 合计=3\nD03: D01=4 合计=4\n"},
      {"an empty class is skipped, a class without a column left out",
       2,
       {{.from_owner = "30", .to_owner = "30", .from_class = "", .to_class = "031", .area = 9},
        {.from_owner = "30", .to_owner = "30", .from_class = "011", .to_class = "99", .area = 8}},
       "",
       "注意: 1 change records are in no balance record: their class has no balance column or "
       "class record (first: 330102001001 011 to 330102001001 99, 8 m2)"},
      {"an area that cannot be counted is left out",
       2,
       {{.from_owner = "30",
         .to_owner = "30",
         .from_class = "011",
         .to_class = "031",
         .area = -100},
        {.from_owner = "30",
         .to_owner = "30",
         .from_class = "031",
         .to_class = "011",
         .area = 1e308}},
       "",
       "注意: 2 change records are not entered: their area is missing, not a number, negative, "
       "infinite or above 1e10 m2 (first: 330102001001 011 to 330102001001 031, '-100')"},
      {"changes outside the region are not read",
       2,
       {{.from_place = "330103001001",
         .to_place = "330103001001",
         .from_owner = "30",
         .to_owner = "30",
         .from_class = "011",
         .to_class = "031",
         .area = 5}},
       ""},
  };
  for (const auto& c : cases) {
    conn().Execute("delete from " + change_);
    Add(c.changes);
    const short table = Balance(c.level);
    ASSERT_GT(table, 0) << c.what << ": " << notes_.failure;
    EXPECT_EQ(Dump(table), c.dump) << c.what;
    EXPECT_EQ(notes_.notice, c.notice) << c.what;
    gis::CloseLayer(table);
  }
}

// Without changes the base-year sums of the region stand in records 1 and 4
// and, by ownership, 5 and 6; an ownership of neither kind counts nowhere.
// The town classes lose their class records and keep their columns.
TEST_P(ChangeBalanceTest, BaseYearSumsAndTownClassRows) {
  Add(std::vector<BaseRow>{{"330102001001", "20", 100, 0, 200, 0},
                           {"330102001001", "30", 400, 100, 0, 10},
                           {"330102001001", "", 7, 0, 0, 0},
                           {"330103001001", "30", 999, 0, 0, 0}});
  const short table = Balance(2);
  ASSERT_GT(table, 0) << notes_.failure;
  EXPECT_EQ(Dump(table),
            "1: D01=600 D03=200 D05=10 合计=810\n4: D01=600 D03=200 D05=10 合计=810\n"
            "5: D01=100 D03=200 合计=300\n6: D01=500 D05=10 合计=510\n");
  EXPECT_EQ(gis::FirstRecordWith(table, kBalanceKeyField, "D05"), 0);
  EXPECT_GT(gis::FirstRecordWith(table, kBalanceKeyField, "D03"), 0);
  EXPECT_GE(gis::FieldIndex(table, "D05"), 0);
  EXPECT_EQ(gis::FieldText(table, kFirstClassRow, kBalanceNumberField),
            std::to_string(kFirstClassRow));
  EXPECT_EQ(gis::FieldText(table, kCurrentRow, kBalanceLabelField), "本年末面积");
  gis::CloseLayer(table);
}

// A change within 甲村.
Change Move(const char* from_owner, const char* to_owner, const char* from_class,
            const char* to_class, double area) {
  return {.from_owner = from_owner,
          .to_owner = to_owner,
          .from_class = from_class,
          .to_class = to_class,
          .area = area};
}

// Converted, rounded to the unit's decimals and balanced, the sheet adds up
// in every unit, at level 2 and at level 3 (where 011 to 012 moves within a
// class), and what is 0 in square metres stays 0. Figures by hand.
TEST_P(ChangeBalanceTest, AddsUpInEveryUnit) {
  struct Sheet {
    short unit;
    int decimals;
    const char* dump;  // at level 2
  };
  const struct {
    const char* what;
    std::vector<BaseRow> base;
    std::vector<Change> changes;
    std::vector<Sheet> sheets;
  } cases[] = {
      {"half-cent changes, each entered once, halves away from zero; in hectares steps in "
       "上年末面积, 本年增加 and a class record, in mu in 上年末面积",
       {{"330102001001", "20", 4000.40, 0, 0, 0},
        {"330102001001", "30", 6000.00, 0, 20000.40, 503.30}},
       {Move("30", "30", "011", "031", 2000.605), Move("30", "30", "031", "051", 100.005),
        Move("20", "30", "011", "051", 1500.505), Move("30", "30", "011", "012", 300.005)},
       {{kSquareMetre, 2,
         "1: D01=10000.40 D03=20000.40 D05=503.30 合计=30504.10\n"
         "2: D01=3501.12 D03=100.01 合计=3601.13\n3: D03=2000.61 D05=1600.52 合计=3601.13\n"
         "4: D01=6499.28 D03=21901.00 D05=2103.82 合计=30504.10\n5: D01=2499.89 合计=2499.89\n"
         "6: D01=3999.39 D03=21901.00 D05=2103.82 合计=28004.21\n"
         "D01: D03=2000.61 D05=1500.51 合计=3501.12\nD03: D05=100.01 合计=100.01\n"},
        {kHectare, 4,
         "1: D01=1.0000 D03=2.0001 D05=0.0503 合计=3.0504\n"
         "2: D01=0.3501 D03=0.0100 合计=0.3601\n3: D03=0.2001 D05=0.1600 合计=0.3601\n"
         "4: D01=0.6499 D03=2.1902 D05=0.2103 合计=3.0504\n5: D01=0.2500 合计=0.2500\n"
         "6: D01=0.3999 D03=2.1902 D05=0.2103 合计=2.8004\n"
         "D01: D03=0.2001 D05=0.1500 合计=0.3501\nD03: D05=0.0100 合计=0.0100\n"},
        {kMu, 2,
         "1: D01=15.00 D03=30.00 D05=0.76 合计=45.76\n"
         "2: D01=5.25 D03=0.15 合计=5.40\n3: D03=3.00 D05=2.40 合计=5.40\n"
         "4: D01=9.75 D03=32.85 D05=3.16 合计=45.76\n5: D01=3.75 合计=3.75\n"
         "6: D01=6.00 D03=32.85 D05=3.16 合计=42.01\n"
         "D01: D03=3.00 D05=2.25 合计=5.25\nD03: D05=0.15 合计=0.15\n"}}},
      {"031, all moved to 011, loses in 本年减少 the 0.0201 ha that 上年末面积 took its step on; "
       "051, all state-owned, is state-owned whole: rounding alone would leave 0.0001 ha of "
       "either behind",
       {{"330102001001", "20", 100.3, 0, 0, 700.4}, {"330102001001", "30", 3000.1, 0, 200.45, 0}},
       {Move("30", "30", "031", "011", 200.45)},
       {{kHectare, 4,
         "1: D01=0.3100 D03=0.0201 D05=0.0700 合计=0.4001\n2: D03=0.0201 合计=0.0201\n"
         "3: D01=0.0201 合计=0.0201\n4: D01=0.3301 D05=0.0700 合计=0.4001\n"
         "5: D01=0.0101 D05=0.0700 合计=0.0801\n6: D01=0.3200 合计=0.3200\n"
         "D03: D01=0.0201 合计=0.0201\n"}}},
  };
  for (const auto& c : cases) {
    conn().Execute("delete from " + base_);
    conn().Execute("delete from " + change_);
    Add(c.base);
    Add(c.changes);
    for (const Sheet& sheet : c.sheets) {
      for (short level : {kBalanceLevelFirst, kBalanceLevelSecond}) {
        const short table = Balance(level);
        ASSERT_GT(table, 0) << notes_.failure;
        ASSERT_EQ(BalanceTableInUnit(table, sheet.unit, sheet.decimals), 1);
        if (level == kBalanceLevelFirst) {
          EXPECT_EQ(Dump(table, sheet.decimals), sheet.dump) << c.what << ", unit " << sheet.unit;
        }
        EXPECT_EQ(Unbalanced(table, sheet.decimals), "")
            << c.what << ", unit " << sheet.unit << ", level " << level;
        gis::CloseLayer(table);
      }
    }
  }
}

// Refusals give 0 and leave no table open.
TEST_P(ChangeBalanceTest, FailuresLeaveNoTable) {
  const std::unique_ptr<gis::RuralCode> no_classes(
      gis::RuralCode::FromEntries({{"县行政代码", "330102", "示例县"}}));
  const gis::LayerHandle before = gis::CreateTable("probe", {});
  gis::CloseLayer(before);
  EXPECT_EQ(Balance(2, no_classes.get()), 0);
  EXPECT_NE(notes_.failure.find("base-year sums"), std::string::npos) << notes_.failure;
  change_ = "NoSuchChanges";
  EXPECT_EQ(Balance(2), 0);
  EXPECT_EQ(GetBalanceAi(codes_.get(), &conn(), nullptr, base_, "", change_, "", "330102", 1), 0);
  EXPECT_EQ(GetBalanceAi(codes_.get(), &conn(), nullptr, base_, base_, change_, "", "3301'", 1), 0);
  // Last year's connection is needed unless the sums are read on this one.
  EXPECT_EQ(GetBalanceAi(codes_.get(), &conn(), nullptr, base_, base_, "ndChange", "", "330102", 0),
            0);
  for (gis::LayerHandle handle = before + 1; handle < before + 4; ++handle) {
    EXPECT_FALSE(gis::IsLayerValid(handle)) << handle;
  }
}

// The host's table from the change records themselves and the level table
// of the code's administrative level (a county: Stat_county); only the
// first row of each ownership counts, and the town classes keep their rows.
TEST_P(ChangeBalanceTest, HostTableAddsTheLevelTableOfTheCode) {
  conn().Execute(
      "create table Stat_county (座落单位代码 varchar(19), 权属性质 varchar(4), 土地总面积 "
      "float, D01 float, D03 float)");
  conn().Execute(
      "insert into Stat_county values ('330102', '20', 300, 100, 200), ('330102', '30', 500, "
      "500, 0), ('330102001', '30', 7, 7, 0)");
  Add({{.from_owner = "30", .to_owner = "30", .from_class = "011", .to_class = "031", .area = 10}});
  testing::WriteFileBytes(host::StatConfigPath(), "");
  const short table = GetBalanceDataRst(codes_.get(), &conn(), "330102", "");
  ASSERT_GT(table, 0);
  EXPECT_EQ(Dump(table),
            "1: D01=600 D03=200 合计=800\n2: D01=10 合计=10\n3: D03=10 合计=10\n"
            "4: D01=590 D03=210 合计=800\n5: D01=100 D03=200 合计=300\n"
            "6: D01=490 D03=10 合计=500\nD01: D03=10 合计=10\n");
  EXPECT_GT(gis::FirstRecordWith(table, kBalanceKeyField, "D05"), 0);
  gis::CloseLayer(table);
  EXPECT_EQ(GetBalanceDataRst(codes_.get(), &conn(), "999999", ""), 0);
  EXPECT_EQ(GetBalanceDataRst(codes_.get(), &conn(), "330102", "x; drop"), 0);
}

LANDSTAT_BOTH_ENGINES(ChangeBalanceTest);

TEST(AreaTypeConv, ConvertsEveryNumberToTheUnit) {
  const struct {
    short unit;
    const char* area;
  } cases[] = {{kMu, "18.52"}, {kHectare, "1.23"}, {kSquareMetre, "12345.678"}};
  for (const auto& c : cases) {
    const gis::LayerHandle table = gis::CreateTable(
        "t", {{"面积", gis::FieldType::kDouble, 20, 5}, {"ID", gis::FieldType::kText, 5}});
    gis::Record record;
    gis::ReadRecord(table, gis::EntityKind::kTable, gis::AddRecord(table), record);
    record.SetText("面积", "12345.678");
    record.SetText("ID", "12345.678");
    gis::WriteRecord(table, record);
    EXPECT_EQ(AreaTypeConv(table, c.unit), 1);
    EXPECT_EQ(gis::FieldText(table, 1, "面积"), c.area) << c.unit;
    EXPECT_EQ(gis::FieldText(table, 1, "ID"), "12345.678");
    gis::CloseLayer(table);
  }
  EXPECT_EQ(AreaTypeConv(-1, kMu), 0);
}

// A generated county over two years, each year's statistics run: per class,
// base - outflow + inflow = current = state-owned + collective, outflow and
// inflow of all changes alike, and the current area is what this year's
// run counted (the county the year after is last year's with the changes).
class BalanceCountyTest : public BothEngines {};

TEST_P(BalanceCountyTest, TwoYearsOfAGeneratedCountyBalance) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun last(home, 17, 600);
  const testing::GeneratedCountyRun now(home, 17, 600, "330102", true);
  const std::string county = "330102";
  testing::TempDir dir;
  if (!IsServer()) CreateAcessDB(dir.File("2023" + county + ".sqlite"));
  const std::string last_db =
      IsServer() ? database().ConnectionString()
                 : testing::JetConnectionString(dir.File("2023" + county + ".sqlite"));
  for (const auto& [run, db, year] : {std::tuple(&last, last_db, "2023"),
                                      std::tuple(&now, database().ConnectionString(), "2024")}) {
    const RunReport report = run->RunProject("通用农村", db, Mode(), year);
    ASSERT_NE(report.outcome, RunOutcome::kFailed) << year;
  }
  const TableNames last_names(Mode(), "2023", county), names(Mode(), "2024", county);
  db::Connection base(last_db), current(database().ConnectionString());
  const std::string base_table = last_names.UnitCopy(kSquareMetre, "statdata");
  BalanceNotes notes;
  const short table = GetBalanceAi(now.codes.get(), &current, &base, base_table,
                                   names.UnitCopy(kSquareMetre, "statdata"),
                                   names.Plain("ndChange"), county, county, 0, &notes);
  ASSERT_GT(table, 0) << notes.failure;
  const auto cell = [&](long row, const std::string& field) {
    return std::stod("0" + gis::FieldText(table, row, field));
  };
  EXPECT_GT(cell(kOutflowRow, kBalanceTotalField), 0);
  EXPECT_NEAR(cell(kOutflowRow, kBalanceTotalField), cell(kInflowRow, kBalanceTotalField), 0.005);
  long checked = 0;
  for (const gis::FieldDef& field : gis::LayerFields(table)) {
    if (field.type != gis::FieldType::kDouble || field.name == kBalanceTotalField) continue;
    const double counted =
        current
            .Scalar("select sum(BM" + field.name.substr(1) + ") from " +
                    names.UnitCopy(kSquareMetre, "statdata") +
                    " where 权属性质 like '1%' or 权属性质 like '2%' or 权属性质 "
                    "like '3%' or 权属性质 like '4%'")
            .AsDouble();
    const double current_area = cell(kCurrentRow, field.name);
    EXPECT_NEAR(cell(kBaseYearRow, field.name) - cell(kOutflowRow, field.name) +
                    cell(kInflowRow, field.name),
                current_area, 0.02)
        << field.name;
    EXPECT_NEAR(cell(kCurrentStateRow, field.name) + cell(kCurrentCollectiveRow, field.name),
                current_area, 0.02)
        << field.name;
    EXPECT_NEAR(counted, current_area, 0.02) << field.name;
    ++checked;
  }
  EXPECT_EQ(checked, 13);
  // In hectares and mu the sheet adds up, each figure within two units of
  // the last decimal of its square-metre figure converted, 0 where that is.
  const std::vector<gis::FieldDef> fields = gis::LayerFields(table);
  const auto number = [](gis::LayerHandle of, long row, const std::string& field) {
    const std::string text = gis::FieldText(of, row, field);
    return text.empty() ? 0.0 : std::stod(text);
  };
  for (const auto& [unit, decimals, factor] :
       {std::tuple(kHectare, 4, 0.0001), std::tuple(kMu, 2, 0.0015)}) {
    const short converted = GetBalanceAi(now.codes.get(), &current, &base, base_table,
                                         names.UnitCopy(kSquareMetre, "statdata"),
                                         names.Plain("ndChange"), county, county, 0, &notes);
    ASSERT_GT(converted, 0) << notes.failure;
    ASSERT_EQ(BalanceTableInUnit(converted, unit, decimals), 1);
    EXPECT_EQ(Unbalanced(converted, decimals), "") << unit;
    for (long row = 1; row < gis::RecordCount(table, gis::EntityKind::kTable); ++row) {
      for (const gis::FieldDef& field : fields) {
        if (field.type != gis::FieldType::kDouble) continue;
        const double in_unit = number(converted, row, field.name);
        const double square_metres = number(table, row, field.name);
        const double off = square_metres == 0 ? 0 : 2 * std::pow(0.1, decimals);
        EXPECT_NEAR(in_unit, square_metres * factor, off)
            << unit << " record " << row << " " << field.name;
      }
    }
    gis::CloseLayer(converted);
  }
  gis::CloseLayer(table);
}

LANDSTAT_BOTH_ENGINES(BalanceCountyTest);

}  // namespace
}  // namespace landstat::report
