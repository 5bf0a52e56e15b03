// The town-lot tables in the unit conversion: the extension table converted
// from the lots, the road that rebuilds the unit-less town tables from it,
// and the balancing of those tables, with figures worked out by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "lots/town_fixture.h"
#include "lots/town_lot_run.h"
#include "platform/db/recordset.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/database_conversion.h"

namespace landstat {
namespace {

using testing::kCountyCode;

std::vector<std::string> Split(const std::string& text, char separator = '|') {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

class ProgressTexts : public host::Progress {
 public:
  void Begin(const std::string&) override {}
  void SetText(const std::string& text) override { texts.push_back(text); }
  void Step(const std::string&, double) override {}
  void End() override {}
  std::vector<std::string> texts;
};

class TownConversionTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::TownCodeEntries()));
    town_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode());
    ASSERT_EQ(town_->CreateAreaUnitTable(), 1);
  }

  std::string Plain(const std::string& base) { return town_->Names().Plain(base); }

  // statdata_czzd with two lots of square metres (a lot and its house row
  // for the first), and 建筑密度 filled where the copy leaves it out.
  void WriteLots(const std::string& leave_out = "") {
    std::string columns;
    for (std::size_t i = 0; i < town_->m_arrStatFields.size(); ++i) {
      const std::string& field = town_->m_arrStatFields[i];
      if (field == leave_out) continue;
      columns += (columns.empty() ? "" : ",") + field + (i < 15 ? " varchar(60)" : " double");
    }
    town_->m_pConn.Execute(
        town_->TypeWords("create table " + town_->StatDataTable() + "(" + columns + ")"));
    for (const char* row : {"A|1234|333.33|0|1234|1234|0|0|0.5", "A|0|0|2000|0|0|0|0|0",
                            "B|666.67|0|0|0|0|666.67|666.67|0"}) {
      std::vector<db::Value> values;
      for (const std::string& value : Split(row)) values.emplace_back(value);
      town_->m_pConn.Execute(
          "insert into " + town_->StatDataTable() +
              " (地籍号,宗地总面积,占地面积,建筑面积,BM05,BM051,BM07,BM071,建筑密度)"
              " values (?,?,?,?,?,?,?,?,?)",
          values);
    }
  }

  void RecordTownUnit(const char* unit) {
    town_->m_pConn.Execute("delete from " + town_->Names().AreaUnit());
    if (*unit) {
      ASSERT_EQ(town_->AddAreaUnit("城镇宗地", unit), 1);
    }
  }

  std::vector<std::string> Extension() {
    return testing::Rows(town_->m_pConn,
                         "select 地籍号,宗地总面积,占地面积,建筑面积,BM05,BM051,"
                         "BM07,BM071,建筑密度 from " +
                             Plain("statdata_czzdex") + " order by 地籍号");
  }

  // The conversion's own context on the same database, as the conversion
  // hands it to the town road.
  std::unique_ptr<CStatContext> Conversion() {
    return testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CZdStatContext> town_;
};

const std::vector<std::string> kInMu = {"A|1.85|0.5|3|1.85|1.85|0|0|0", "B|1|0|0|0|0|1|1|0"};
const std::vector<std::string> kInSquareMetres = {"A|1234|333.33|2000|1234|1234|0|0|0",
                                                  "B|666.67|0|0|0|0|666.67|666.67|0"};

// A town run's record is needed for the extension table to be filled, and
// unit 1 decides whether it is converted: square metres to mu gives
// round(x*3/2000,2); twice in a row, the lots are read afresh each time.
// The units of the run's copies, the target's among them, do not matter.
TEST_P(TownConversionTest, ExtensionTableIsConvertedFromTheLots) {
  WriteLots();
  const struct {
    const char* recorded;
    short target;
    short result;
    std::vector<std::string> rows;
  } kCases[] = {
      {"平方米", kMu, 1, kInMu},
      {"平方米", kMu, 1, kInMu},
      {"亩", kMu, 1, kInMu},
      {"公顷", kHectare, 1, {"A|0.12|0.03|0.2|0.12|0.12|0|0|0", "B|0.07|0|0|0|0|0.07|0.07|0"}},
      {"", kMu, 0, {}},
      {"亩", kSquareMetre, 1, kInSquareMetres},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.recorded) + " to " + UnitText(c.target));
    RecordTownUnit(c.recorded);
    ASSERT_EQ(town_->CreateStatDataExTable(), 1);
    EXPECT_EQ(town_->ConvertStatDataEx(c.target), c.result);
    EXPECT_EQ(Extension(), c.rows);
  }
  EXPECT_EQ(town_->m_nErrCount, 0);
}

// A copy that fails ends the road there: the stored town tables and their
// recorded unit stay, and the failure is counted in the conversion's log.
TEST_P(TownConversionTest, FailedCopyLeavesTheTownTablesAndTheirUnit) {
  WriteLots("BM072");
  RecordTownUnit("平方米");
  const std::string stored = Plain("CZTDLY_YJFLZD");
  town_->m_pConn.Execute(town_->TypeWords("create table " + stored +
                                          " (XZQDM varchar(19), XZQZMJ double, BM05 double)"));
  town_->m_pConn.Execute("insert into " + stored + " values ('" + kCountyCode + "', 9, 9)");

  const TownConversion* road = RegisteredTownConversion();
  ASSERT_NE(road, nullptr);
  auto conversion = Conversion();
  road->rebuild(*conversion, kMu);
  EXPECT_EQ(conversion->m_nErrCount, 1);
  ASSERT_EQ(conversion->m_arrFirstFailures.size(), 1u);
  EXPECT_NE(conversion->m_arrFirstFailures[0].find("汇总城镇基础据表"), std::string::npos);
  ASSERT_TRUE(conversion->m_pConn.IsOpen());  // handed back
  EXPECT_EQ(testing::Rows(conversion->m_pConn, "select XZQDM, XZQZMJ, BM05 from " + stored),
            std::vector<std::string>{kCountyCode + "|9|9"});
  EXPECT_EQ(town_->GetAreaUnit(), kSquareMetre);
  EXPECT_EQ(town_->DatedUnit(), kNoUnit);
}

// The road: without town lots a notice and nothing else; with them the
// extension table in the target unit, the builders behind their progress
// texts in order, and the unit recorded.
TEST_P(TownConversionTest, RoadRebuildsFromTheConvertedLotsAndRecordsTheUnit) {
  const TownConversion* road = RegisteredTownConversion();
  ASSERT_NE(road, nullptr);
  RecordTownUnit("平方米");
  ProgressTexts progress;
  host::Progress* before = host::SetProgress(&progress);
  auto conversion = Conversion();
  road->rebuild(*conversion, kMu);
  EXPECT_EQ(conversion->m_nErrCount, 0);
  ASSERT_EQ(conversion->m_arrNotices.size(), 1u);
  EXPECT_NE(conversion->m_arrNotices[0].find("没有城镇宗地基础表"), std::string::npos);
  EXPECT_TRUE(progress.texts.empty());
  EXPECT_EQ(town_->GetAreaUnit(), kSquareMetre);

  WriteLots();
  road->rebuild(*conversion, kMu);
  host::SetProgress(before);
  EXPECT_EQ(progress.texts,
            (std::vector<std::string>{"正在转换土地利用数据", "正在转换使用权类型",
                                      "正在转换城镇宗地", "正在转换城镇土地利用强度调查表"}));
  EXPECT_EQ(Extension(), kInMu);
  EXPECT_EQ(town_->DatedUnit(), kMu);
  EXPECT_EQ(town_->GetAreaUnit(), kSquareMetre);  // the town run's record stays
}

// In place: from the recorded unit to the target on the grid of unit 1's
// decimals (not the conversion's), the intensity ratios kept and the new
// unit recorded; without a recorded unit the tables stay and the conversion
// logs why.
TEST_P(TownConversionTest, ConversionInPlaceStartsFromTheRecordedUnit) {
  const std::string classes = Plain("CZTDLY_YJFLZD"), intensity = Plain("CZTDLY_QDDC");
  town_->m_pConn.Execute(town_->TypeWords("create table " + classes +
                                          " (XZQDM varchar(19), XZQZMJ double, BM05 double)"));
  town_->m_pConn.Execute(town_->TypeWords("create table " + intensity +
                                          " (XZQDM varchar(19), JZZMJ double, CZRJL double, "
                                          "CZJZRJL double, CZJZMD double, ZDS int)"));
  town_->m_pConn.Execute("insert into " + classes + " values ('" + kCountyCode + "', 20, 7.5)");
  town_->m_pConn.Execute("insert into " + intensity + " values ('" + kCountyCode +
                         "', 30, 0.33, -1, 1.25, 3)");
  const std::string read = "select XZQDM, XZQZMJ, BM05 from " + classes;
  const std::vector<std::string> in_mu = {kCountyCode + "|20|7.5"};

  auto conversion = Conversion();
  conversion->m_nDecSrc = 4;
  RecordTownUnit("");
  RegisteredTownConversion()->convert(*conversion, kHectare);
  EXPECT_EQ(conversion->m_nErrCount, 1);
  EXPECT_EQ(testing::Rows(conversion->m_pConn, read), in_mu);

  ASSERT_EQ(town_->RecordDatedUnit(kMu), 1);
  RegisteredTownConversion()->convert(*conversion, kHectare);
  EXPECT_EQ(conversion->m_nErrCount, 1);
  EXPECT_EQ(testing::Rows(conversion->m_pConn, read),
            std::vector<std::string>{kCountyCode + "|1.33|0.5"});
  EXPECT_EQ(testing::Rows(conversion->m_pConn, "select * from " + intensity),
            std::vector<std::string>{kCountyCode + "|2|0.33|-1|1.25|3"});
  EXPECT_EQ(town_->DatedUnit(), kHectare);
}

// One balancing by hand: the rows before and after ("XZQDM|XZQZMJ|columns"
// as listed), and the result. County 330102, street 330102001, blocks
// 330102001001 and 330102001002.
struct BalanceCase {
  const char* what;
  short (CZdStatContext::*balance)();
  const char* base;
  const char* columns;
  std::vector<std::string> before, after;
  short result;
  int logged = 0;  // failures counted
};

const char kSyqzd[] = "BM11,BM12,BM13,BM14";
const char kEjflzd[] = "BM05,BM051,BM052,BM07,BM071,BM072";

const BalanceCase kBalanceCases[] = {
    {"one step to the first of three, rows of other forms untouched",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102|100|33.33|33.33|33.33|0", "330102001|7|7|7|7|7", "330102001001|0|16.67|16.67|16.67|0",
      "330102001002|0|16.67|16.66|16.66|0", "33010200|5|5|5|5|5", "330103001001|5|5|5|5|5"},
     {"330102|100|33.34|33.33|33.33|0", "33010200|5|5|5|5|5", "330102001|100|33.34|33.33|33.33|0",
      "330102001001|50.01|16.67|16.67|16.67|0", "330102001002|49.99|16.67|16.66|16.66|0",
      "330103001001|5|5|5|5|5"},
     1},
    {"values at one step or below keep theirs",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102|14.99|10|0|0.01|5", "330102001|0|0|0|0|0", "330102001001|0|9.99|0|0.01|4.99"},
     {"330102|14.99|9.99|0|0.01|4.99", "330102001|14.99|9.99|0|0.01|4.99",
      "330102001001|14.99|9.99|0|0.01|4.99"},
     1},
    {"five steps over two eligible blocks: three and two",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102|10|10|0|0|0", "330102001001|0|3|0|0|0", "330102001002|0|0.01|0|0|0",
      "330102001003|0|6.94|0|0|0"},
     {"330102|10|10|0|0|0", "330102001001|3.03|3.03|0|0|0", "330102001002|0.01|0.01|0|0|0",
      "330102001003|6.96|6.96|0|0|0"},
     1},
    {"no child can take a step: the stepping ends, the rest still runs",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102|1|0.01|0.01|0|0", "330102001|0|0|0|0|0", "330102001001|0|0.01|0.01|0|0"},
     {"330102|1|0.01|0.01|0|0", "330102001|0.02|0.01|0.01|0|0", "330102001001|0.02|0.01|0.01|0|0"},
     0},
    {"less than a step left: the stepping ends",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102|10|10|0|0|0", "330102001001|0|10.006|0|0|0"},
     {"330102|10|10|0|0|0", "330102001001|10.01|10.006|0|0|0"},
     0},
    {"no county row: nothing changes",
     &CZdStatContext::BalanceSyqzd,
     "CZTDLY_SYQZD",
     kSyqzd,
     {"330102001|7|7|7|7|7", "330102001001|1|2|3|4|5"},
     {"330102001|7|7|7|7|7", "330102001001|1|2|3|4|5"},
     0,
     1},
    {"two levels: the county's first level to its total, blocks by second-level column",
     &CZdStatContext::BalanceEjflzd,
     "CZTDLY_EJFLZD",
     kEjflzd,
     {"330102|100|60.01|30|30|40|40|0", "330102001|0|0|0|0|0|0|0", "330102001001|0|0|15|15|0|20|0",
      "330102001002|0|0|15|15.01|0|20|0"},
     {"330102|100|60|30|30|40|40|0", "330102001|100|60|30|30|40|40|0",
      "330102001001|49.99|29.99|15|14.99|20|20|0", "330102001002|50.01|30.01|15|15.01|20|20|0"},
     1},
    {"one level: columns and blocks alike",
     &CZdStatContext::BalanceYjflzd,
     "CZTDLY_YJFLZD",
     "BM05,BM07",
     {"330102|10|5.01|5", "330102001001|0|5|5"},
     {"330102|10|5|5", "330102001001|10|5|5"},
     1},
};

TEST_P(TownConversionTest, BalancingByHand) {
  for (const BalanceCase& c : kBalanceCases) {
    SCOPED_TRACE(c.what);
    const std::string table = Plain(c.base);
    if (town_->IsTableExist(table)) town_->DropTable(table);
    std::string columns = " (XZQDM varchar(19), XZQMC varchar(60), XZQZMJ double";
    for (const std::string& column : Split(c.columns, ',')) columns += ", " + column + " double";
    // Columns the case leaves out are made and hold 0.
    for (const std::string& code :
         c.base == std::string("CZTDLY_SYQZD")
             ? std::vector<std::string>{"BM15", "BM21", "BM22", "BM23", "BM24", "BM25", "BM99"}
             : std::vector<std::string>{}) {
      columns += ", " + code + " double default 0";
    }
    town_->m_pConn.Execute(town_->TypeWords("create table " + table + columns + ")"));
    const std::string list = std::string("XZQDM,XZQZMJ,") + c.columns;
    for (const std::string& row : c.before) {
      std::vector<db::Value> values;
      std::string marks;
      for (const std::string& value : Split(row)) {
        values.emplace_back(value);
        marks += marks.empty() ? "?" : ",?";
      }
      town_->m_pConn.Execute("insert into " + table + " (" + list + ") values (" + marks + ")",
                             values);
    }
    const int errors = town_->m_nErrCount;
    const std::string read = "select " + list + " from " + table + " order by XZQDM";
    EXPECT_EQ(((*town_).*c.balance)(), c.result);
    EXPECT_EQ(testing::Rows(town_->m_pConn, read), c.after);
    EXPECT_EQ(town_->m_nErrCount - errors, c.logged);
    if (c.result == 1) {
      EXPECT_EQ(((*town_).*c.balance)(), 1);
      EXPECT_EQ(testing::Rows(town_->m_pConn, read), c.after) << "a second run";
    }
  }
}

LANDSTAT_BOTH_ENGINES(TownConversionTest);

// A generated county with its town lots, converted to mu and then to
// hectares: each balanced town table adds up.
class GeneratedTownConversionTest : public testing::BothEngines {
 protected:
  using Row = std::map<std::string, double>;

  std::map<std::string, Row> Read(db::Connection& conn, const std::string& table) {
    std::map<std::string, Row> rows;
    for (db::Recordset set(conn, "select * from " + table); !set.IsEOF(); set.MoveNext()) {
      Row& row = rows[set.Text("XZQDM")];
      for (int i = 0; i < set.FieldCount(); ++i) {
        const std::string name = text::ToUpperAscii(set.FieldName(i));
        if (name != "XZQDM" && name != "XZQMC") row[name] = set.Number(set.FieldName(i));
      }
    }
    return rows;
  }

  // The county row's first-level columns add up to its total, the blocks
  // to the county in every stepped column, each block's total to its
  // first-level columns, each street to its blocks.
  void ExpectBalanced(const std::map<std::string, Row>& rows, const std::string& county,
                      std::size_t stepped_length) {
    const auto sum = [](const Row& row, std::size_t length) {
      double total = 0;
      for (const auto& [column, value] : row) total += column.size() == length ? value : 0;
      return total;
    };
    ASSERT_TRUE(rows.count(county));
    EXPECT_NEAR(sum(rows.at(county), 4), rows.at(county).at("XZQZMJ"), 1e-6);
    std::map<std::string, Row> blocks, streets;
    for (const auto& [code, row] : rows) {
      if (code.size() != county.size() + 6 || code.compare(0, county.size(), county) != 0) continue;
      EXPECT_NEAR(row.at("XZQZMJ"), sum(row, 4), 1e-6) << code;
      for (const auto& [column, value] : row) {
        blocks[county][column] += value;
        streets[code.substr(0, county.size() + 3)][column] += value;
      }
    }
    for (const auto& [column, value] : rows.at(county)) {
      if (column.size() != stepped_length) continue;
      EXPECT_NEAR(blocks[county][column], value, 1e-6) << column;
    }
    for (const auto& [code, row] : rows) {
      if (code.size() != county.size() + 3 || code.compare(0, county.size(), county) != 0) continue;
      for (const auto& [column, value] : row) {
        EXPECT_NEAR(streets[code][column], value, 1e-6) << code << " " << column;
      }
    }
  }

  testing::ScopedProgramDir home_;
};

// Hectares first and mu first, each after a town run that made copies in
// all three units: every conversion fills the extension table and rebuilds
// the town tables on unit 1's grid of two decimals, balanced; the town run's
// three rows stay and the tables' own unit is recorded apart.
TEST_P(GeneratedTownConversionTest, BalancedTownTablesAddUp) {
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::GeneratedCountyRun county(home_, 29, 400);
  const std::string connection = database().ConnectionString();
  const std::string code = county.options.county_code;
  ASSERT_EQ(county.Run("通用农村", connection, IsServer()), 1);
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county.files.project);
  const TableNames names(Mode(), "2009", code);
  const auto units_of = [&](db::Connection& conn, const char* type) {
    return testing::Texts(conn, "select AREAUNIT from " + names.AreaUnit() +
                                    " where 年度='2009' and TYPE='" + type + "' order by AREAUNIT");
  };
  for (const std::vector<short>& order :
       {std::vector<short>{kHectare, kMu}, std::vector<short>{kMu, kHectare}}) {
    ASSERT_EQ(landStatDataZD(project.get(), county.codes.get(), connection, "2009", code, Mode(),
                             county.log),
              1);
    for (short unit : order) {
      SCOPED_TRACE(UnitText(unit));
      ASSERT_EQ(ConvertStatDatabase(county.codes.get(), connection, Mode(), "2009", code, unit, -1,
                                    1, county.log),
                1);
      db::Connection conn(connection);
      EXPECT_EQ(
          conn.Scalar("select count(*) from " + names.Plain("statdata_czzdex")).AsInteger(),
          conn.Scalar("select count(*) from " + names.UnitCopy(kMu, "statdata_czzd")).AsInteger());
      EXPECT_EQ(units_of(conn, "城镇宗地"), (std::vector<std::string>{"亩", "公顷", "平方米"}));
      EXPECT_EQ(units_of(conn, "statdata_czzdex"), std::vector<std::string>{UnitText(unit)});
      for (const auto& [base, stepped] : {std::pair<const char*, std::size_t>{"CZTDLY_YJFLZD", 4},
                                          {"CZTDLY_EJFLZD", 5},
                                          {"CZTDLY_SYQZD", 4}}) {
        SCOPED_TRACE(base);
        const std::map<std::string, Row> rows = Read(conn, names.Plain(base));
        ExpectBalanced(rows, code, stepped);
        for (const auto& [xzqdm, row] : rows) {
          for (const auto& [column, value] : row) {
            EXPECT_NEAR(value * 100, std::round(value * 100), 1e-6) << xzqdm << " " << column;
          }
        }
      }
    }
  }
}

// A town rerun ends with the tables it made: without hectares, after a
// conversion, the hectare tables, the extension table and the unit-less
// tables built from it are dropped, named in one notice, and their units
// forgotten.
TEST_P(GeneratedTownConversionTest, TownRerunDropsWhatItDidNotMake) {
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::GeneratedCountyRun county(home_, 29, 400);
  const std::string connection = database().ConnectionString();
  const std::string code = county.options.county_code;
  ASSERT_EQ(county.Run("通用农村", connection, IsServer()), 1);
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county.files.project);
  const auto town_run = [&] {
    return landStatDataZD(project.get(), county.codes.get(), connection, "2009", code, Mode(),
                          county.log);
  };
  ASSERT_EQ(town_run(), 1);
  ASSERT_EQ(ConvertStatDatabase(county.codes.get(), connection, Mode(), "2009", code, kMu, -1, 1,
                                county.log),
            1);
  testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=亩\n");
  testing::WriteFileBytes(county.log, "");
  ASSERT_EQ(town_run(), 1);
  const TableNames names(Mode(), "2009", code);
  db::Connection conn(connection);
  for (const std::string& gone :
       {names.Summary('Z', kHectare, "CZTDLY_YJFLZD"), names.UnitCopy(kHectare, "statdata_czzd"),
        names.Plain("statdata_czzdex"), names.Plain("CZTDLY_YJFLZD")}) {
    EXPECT_FALSE(conn.TableExists(gone)) << gone;
  }
  EXPECT_TRUE(conn.TableExists(names.Summary('Z', kMu, "CZTDLY_YJFLZD")));
  EXPECT_EQ(testing::Texts(conn, "select AREAUNIT from " + names.AreaUnit() +
                                     " where 年度='2009' and TYPE in ('城镇宗地', "
                                     "'statdata_czzdex') order by AREAUNIT"),
            (std::vector<std::string>{"亩", "平方米"}));
  const std::string log = text::ToLowerAscii(testing::ReadFileBytes(county.log));
  EXPECT_NE(log.find("注意 删除旧表 不再统计 公顷; 删除了上次统计而本次未生成的 "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(text::ToLowerAscii(names.Plain("statdata_czzdex"))), std::string::npos) << log;
}

LANDSTAT_BOTH_ENGINES(GeneratedTownConversionTest);

}  // namespace
}  // namespace landstat
