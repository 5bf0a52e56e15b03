// The ownership-nature, slope, ledger and no-island land-use tables: their
// figures by level, scope and unit on a small base table made by hand, and
// on a generated county their agreement with the class tables.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/stat_context.h"
#include "engine/stat_drivers.h"
#include "engine/survey_fixture.h"
#include "landuse/generated_county_run.h"
#include "landuse/test_county_units.h"
#include "platform/db/recordset.h"
#include "platform/host/paths.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::NameOf;

using Strings = std::vector<std::string>;
using Areas = std::map<std::string, double>;
using Table = std::map<std::string, Areas>;  // XZQDM -> column -> area

// The land classes of the base rows and the county's administrative units.
std::vector<gis::CODESTRUCT> CodeEntries() {
  std::vector<gis::CODESTRUCT> entries;
  for (const char* code :
       {"01", "011", "012", "013", "03", "031", "05", "051", "10", "104", "20", "203"}) {
    entries.push_back({"地类代码", code, ""});
  }
  testing::AppendTestUnitCodes(entries);
  return entries;
}

constexpr const char* kG1 = "3301020010010010000";  // 一组 of 一村
constexpr const char* kG2 = "3301020010020010000";  // 二组 of 二村
constexpr const char* kG3 = "3301020020010010000";  // 三组 of 三村

// Base rows: location, owner, 权属性质 (null: none), class, m², 耕地坡度级,
// 耕地类型. Row 6 belongs to the village collective of 三村, row 7 to a
// group of the neighbouring county; grade 6 is no grade.
struct BaseRow {
  const char *location, *owner, *nature, *code;
  double area;
  int grade;
  const char* type;
};
const BaseRow kBase[] = {{kG1, kG1, "10", "011", 1000, 2, "TT"},
                         {kG1, kG2, "30", "013", 2000, 3, ""},
                         {kG2, kG2, nullptr, "031", 3000, 0, ""},
                         {kG2, kG1, "40", "051", 400, 0, ""},
                         {kG3, kG3, "20", "104", 500, 0, ""},
                         {kG3, "3301020020010000000", "30", "203", 600, 0, ""},
                         {kG3, "3301030010010010000", "30", "011", 700, 1, ""},
                         {kG1, kG1, "10", "012", 800, 2, "P"},
                         {kG2, kG2, "30", "011", 900, 4, "t"},
                         {kG3, kG3, "20", "013", 1100, 6, "TT"}};

// Rows "code leaf:m² ...", separated by ';'.
Table Parse(const std::string& text) {
  Table rows;
  std::istringstream in(text);
  for (std::string row, code, leaf; std::getline(in, row, ';');) {
    std::istringstream fields(row);
    fields >> code;
    rows[code];
    while (fields >> leaf) {
      const std::size_t colon = leaf.find(':');
      rows[code][leaf.substr(0, colon)] += std::stod(leaf.substr(colon + 1));
    }
  }
  return rows;
}

// Leaves "01G", "01J": class and side. A rural table has no class 05 to 09,
// the other no class 20; every row totals its sides and both together.
Table Ownership(const std::string& text, bool rural) {
  Table rows;
  for (const auto& [code, leaves] : Parse(text)) {
    Areas& row = rows[code];
    for (const auto& [leaf, area] : leaves) {
      const std::string cls = leaf.substr(0, 2), side = leaf.substr(2);
      if (rural ? cls >= "05" && cls <= "09" : cls == "20") continue;
      for (const std::string& column : {"BM" + cls + side, "BM" + cls + "HJ", side + "HJ"}) {
        row[column] += area;
      }
      row["ZHJ"] += area;
    }
  }
  return rows;
}

// Leaves "PDMJ", "PD<g>", "TT<g>": HJ<g> and GDMJ follow.
Table Slope(const std::string& text) {
  Table rows = Parse(text);
  for (auto& [code, row] : rows) {
    Areas leaves = row;
    for (const auto& [leaf, area] : leaves) {
      if (leaf != "PDMJ") row["HJ" + leaf.substr(2)] += area;
      row["GDMJ"] += area;
    }
  }
  return rows;
}

struct ReadRow {
  std::string name;
  Areas areas;
};

// Rows by XZQDM: the name and every other column but the row number.
std::map<std::string, ReadRow> ReadTable(db::Connection& conn, const std::string& table) {
  std::map<std::string, ReadRow> rows;
  for (db::Recordset rs(conn, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
    const auto [at, added] = rows.try_emplace(rs.Text("XZQDM"));
    EXPECT_TRUE(added) << table << " " << at->first << " twice";
    at->second.name = rs.Text("XZQMC");
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const std::string column = text::ToUpperAscii(rs.FieldName(i));
      if (column != "XZQDM" && column != "XZQMC" && column != "ID") {
        at->second.areas[column] = rs.Field(i).AsDouble();
      }
    }
  }
  return rows;
}

// The table holds exactly the expected rows, named from the code table, each
// column its expected area times `factor`, every other column 0.
void ExpectTable(db::Connection& conn, const std::string& table, const Table& expected,
                 double factor) {
  SCOPED_TRACE(table);
  Strings read, wanted;
  for (const auto& [code, row] : ReadTable(conn, table)) {
    read.push_back(code);
    EXPECT_EQ(row.name, NameOf(code)) << code;
    if (!expected.count(code)) continue;
    const Areas& want = expected.at(code);
    for (const auto& [column, value] : row.areas) {
      const auto found = want.find(column);
      EXPECT_NEAR(value, found == want.end() ? 0 : found->second * factor, 1e-9)
          << code << " " << column;
    }
    for (const auto& [column, area] : want) EXPECT_TRUE(row.areas.count(column)) << column;
  }
  for (const auto& [code, row] : expected) wanted.push_back(code);
  EXPECT_EQ(read, wanted);
}

struct UnitCopy {
  short unit;
  double factor;
};
const UnitCopy kUnits[] = {{kSquareMetre, 1}, {kHectare, 0.0001}, {kMu, 0.0015}};

class LandUseOwnershipSlopeLedgerTest : public testing::BothEngines {
 protected:
  std::unique_ptr<CStatContext> Context() {
    testing::WriteStatConfig(testing::kThreeUnits);
    auto context = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes_.get(),
                                                  "2009", "330102", log_, 1, "");
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    return context;
  }

  void Insert(const CStatContext& c, const std::string& parcel, const BaseRow& row) {
    const std::string at = row.location, code = row.code;
    std::vector<db::Value> values = {std::to_string(++rows_), parcel};
    for (std::size_t n : {6, 9, 12, 19}) {
      values.emplace_back(at.substr(0, n));
      values.emplace_back(NameOf(at.substr(0, n)));
    }
    for (const db::Value& value : {db::Value(row.owner), db::Value(NameOf(row.owner)),
                                   row.nature ? db::Value(row.nature) : db::Value(),
                                   db::Value(row.type), db::Value(static_cast<double>(row.grade)),
                                   db::Value(row.area), db::Value(row.area), db::Value(row.area)}) {
      values.push_back(value);
    }
    conn().Execute("insert into " + c.m_strStatTbl +
                       " (序号,图斑编号,县级代码,县名称,乡级代码,乡名称,村级代码,村名称,"
                       "座落单位代码,座落单位名称,权属单位代码,权属单位名称,权属性质,耕地类型,"
                       "耕地坡度级,土地总面积,BM" +
                       code + ",BM" + code.substr(0, 2) +
                       ") values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                   values);
  }

  // The base table of kBase and its unit copies.
  std::unique_ptr<CStatContext> BaseTable() {
    auto c = Context();
    for (const BaseRow& row : kBase) Insert(*c, "1", row);
    EXPECT_EQ(c->CreateUnitStatTables() + c->FillUnitStatTables(), 2);
    return c;
  }

  // Every copy of a family: scope Z and Q, each unit.
  void ExpectCopies(const CStatContext& c, const std::string& base, const Table& z,
                    const Table& q) {
    for (const UnitCopy& copy : kUnits) {
      ExpectTable(conn(), c.Names().Summary('Z', copy.unit, base), z, copy.factor);
      ExpectTable(conn(), c.Names().Summary('Q', copy.unit, base), q, copy.factor);
    }
  }

  testing::ScopedProgramDir home_;
  std::string log_ = home_.File("stat.log");
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(CodeEntries())};
  int rows_ = 0;
};

// By location and by ownership: natures below "3" and a missing one are
// state land, "30" and "40" collective.
const char* const kOwnershipZ =
    "330102 01G:2900 01J:3600 03G:3000 05J:400 10G:500 20J:600;"
    "330102001 01G:1800 01J:2900 03G:3000 05J:400;330102002 01G:1100 01J:700 10G:500 20J:600;"
    "330102001001 01G:1800 01J:2000;330102001002 01J:900 03G:3000 05J:400;"
    "330102002001 01G:1100 01J:700 10G:500 20J:600;3301020010010010000 01G:1800 01J:2000;"
    "3301020010020010000 01J:900 03G:3000 05J:400;"
    "3301020020010010000 01G:1100 01J:700 10G:500 20J:600";
const char* const kOwnershipQ =
    "330102 01G:2900 01J:2900 03G:3000 05J:400 10G:500 20J:600;330103 01J:700;"
    "330102001 01G:1800 01J:2900 03G:3000 05J:400;330102002 01G:1100 10G:500 20J:600;"
    "330103001 01J:700;330102001001 01G:1800 05J:400;330102001002 01J:2900 03G:3000;"
    "330102002001 01G:1100 10G:500 20J:600;330103001001 01J:700;"
    "3301020010010010000 01G:1800 05J:400;3301020010020010000 01J:2900 03G:3000;"
    "3301020020010010000 01G:1100 10G:500;3301020020010000000 20J:600";

TEST_P(LandUseOwnershipSlopeLedgerTest, OwnershipTablesSplitStateAndCollectiveLand) {
  auto c = BaseTable();
  ASSERT_EQ(c->CreateNcTdlyQsYjflTables() + c->CreateTdlyQsYjflTables(), 2);
  ASSERT_EQ(c->StatTdlyQsYjfl(1) + c->StatTdlyQsYjfl(0), 2);
  EXPECT_EQ(c->m_nErrCount, 0) << c->m_strLogLine;
  // The owner of 三组's 203 keeps its row in the table without class 20.
  ExpectCopies(*c, "NCTDLY_QSYJFL", Ownership(kOwnershipZ, true), Ownership(kOwnershipQ, true));
  ExpectCopies(*c, "TDLY_QSYJFL", Ownership(kOwnershipZ, false), Ownership(kOwnershipQ, false));
}

TEST_P(LandUseOwnershipSlopeLedgerTest, OwnershipScriptTablesEqualTheScriptsOverTheUnitCopies) {
  auto c = BaseTable();
  const std::string folder = IsServer() ? "SQL" : "Access";
  std::filesystem::copy(
      std::filesystem::path(LANDSTAT_SOURCE_DIR) / "src/resources/config" / folder,
      std::filesystem::path(host::ConfigDir()) / folder);
  ASSERT_EQ(c->BuildNcTdlyQsCodeTable(), 1);
  ASSERT_EQ(c->StatNcTdlyQsSjfl(), 1);
  EXPECT_EQ(c->m_nErrCount, 0) << c->m_strLogLine;
  // The embedded database's scripts read a summed source: the tables are
  // the ones the same scripts make over the unit copies themselves.
  for (const UnitCopy& copy : kUnits) {
    for (short scope : {short{0}, short{1}}) {
      const std::string table = c->Names().Summary(scope ? 'Q' : 'Z', copy.unit, "NCTDLY_QSSJFL");
      SCOPED_TRACE(table);
      ASSERT_EQ(c->MakeNcTdlyQsSjfl("QSSJFL_EXPECTED", c->Names().UnitCopy(copy.unit, "statdata"),
                                    "NCTDLYQS", scope == 0),
                1);
      Table expected;
      for (const auto& [code, row] : ReadTable(conn(), "QSSJFL_EXPECTED")) {
        expected[code] = row.areas;
      }
      ExpectTable(conn(), table, expected, 1);
      // Natures 10 and 20 state-owned, 30 and 40 collective; 二组's 031
      // has none and counts in the total only.
      const Areas& county = expected.at("330102");
      EXPECT_NEAR(county.at("BM011G"), 1000 * copy.factor, 1e-9);
      EXPECT_NEAR(county.at("BM011J"), (scope ? 900 : 1600) * copy.factor, 1e-9);
      EXPECT_NEAR(county.at("BM031HJ"), 3000 * copy.factor, 1e-9);
      EXPECT_NEAR(county.at("BM031G") + county.at("BM031J"), 0, 1e-9);
    }
  }
}

TEST_P(LandUseOwnershipSlopeLedgerTest, SlopeTableByGradeAndTerrace) {
  auto c = BaseTable();
  ASSERT_EQ(c->CreateGdPdMjHzTables(), 1);
  ASSERT_EQ(c->StatGdPdMjHz(), 1);
  // Grades 1 and 6 are slope land without a grade; "TT", "t" terraced,
  // "P" and "" not; units without cultivated land have no row.
  ExpectCopies(*c, "GDPDMJHZ",
               Slope("330102 PDMJ:1800 TT2:1000 PD2:800 PD3:2000 TT4:900;"
                     "330102001 TT2:1000 PD2:800 PD3:2000 TT4:900;330102002 PDMJ:1800;"
                     "330102001001 TT2:1000 PD2:800 PD3:2000;330102001002 TT4:900;"
                     "330102002001 PDMJ:1800;3301020010010010000 TT2:1000 PD2:800 PD3:2000;"
                     "3301020010020010000 TT4:900;3301020020010010000 PDMJ:1800"),
               Slope("330102 PDMJ:1100 TT2:1000 PD2:800 PD3:2000 TT4:900;330103 PDMJ:700;"
                     "330102001 TT2:1000 PD2:800 PD3:2000 TT4:900;330102002 PDMJ:1100;"
                     "330103001 PDMJ:700;330102001001 TT2:1000 PD2:800;"
                     "330102001002 PD3:2000 TT4:900;330102002001 PDMJ:1100;"
                     "330103001001 PDMJ:700;3301020010010010000 TT2:1000 PD2:800;"
                     "3301020010020010000 PD3:2000 TT4:900;3301020020010010000 PDMJ:1100"));
}

TEST_P(LandUseOwnershipSlopeLedgerTest, SlopeGradesInRomanNumeralsAndTinyAreas) {
  auto c = Context();
  conn().Execute(
      "create table SLOPESRC (村级代码 varchar(12),村名称 varchar(60),座落单位代码 varchar(19),"
      "座落单位名称 varchar(60),耕地坡度级 varchar(10),耕地类型 varchar(10),BM01 double "
      "precision)");
  // 二组 holds only an area below a thousandth: no row at all.
  const std::vector<std::tuple<const char*, const char*, const char*, double>> pieces = {
      {kG1, "Ⅱ", "TT", 100}, {kG1, "2", "T", 50},  {kG1, "Ⅴ", "tt", 200}, {kG1, "Ⅲ", "", 300},
      {kG1, "Ⅰ", "T", 400},  {kG1, "Ⅳ", "", 4e-4}, {kG2, "Ⅳ", "", 9e-4}};
  for (const auto& [at, grade, type, area] : pieces) {
    const std::string unit = at;
    conn().Execute(
        "insert into SLOPESRC values (?,?,?,?,?,?,?)",
        {unit.substr(0, 12), NameOf(unit.substr(0, 12)), unit, NameOf(unit), grade, type, area});
  }
  ASSERT_EQ(c->CreateGdPdMjHzTable("SLOPE"), 1);
  EXPECT_EQ(c->SumGdPdMjHz(2, "SLOPE", "SLOPESRC", 0) + c->SumGdPdMjHz(1, "SLOPE", "SLOPESRC", 0),
            2);
  ExpectTable(conn(), "SLOPE",
              Slope("330102001001 PDMJ:400 TT2:150 PD3:300 TT5:200;"
                    "3301020010010010000 PDMJ:400 TT2:150 PD3:300 TT5:200"),
              1);
}

TEST_P(LandUseOwnershipSlopeLedgerTest, LedgerRowsPerParcelInEachUnit) {
  auto c = Context();
  // Parcel 1 of 一组 and a road half booked to it; the same parcel number
  // and nature with another owner, another parcel, and parcel 1 of 二组.
  Insert(*c, "1", {kG1, kG1, "10", "011", 1234.56, 0, ""});
  Insert(*c, "1", {kG1, kG1, "10", "104", 10.6, 0, ""});
  Insert(*c, "1", {kG1, kG2, "10", "011", 100, 0, ""});
  Insert(*c, "2", {kG1, kG1, "10", "031", 345.67, 0, ""});
  Insert(*c, "1", {kG2, kG2, nullptr, "031", 2000, 0, ""});
  ASSERT_EQ(c->CreateTdlyTzTables(), 1);
  // Summed in memory, and by the grouping statement that a server runs and
  // Oracle's text gives: the same rows in the same order.
  for (const bool oracle : {false, true}) {
    c->m_bOracle = oracle;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      conn().Execute("delete from " + c->Names().Summary('Z', unit, "TDLYTZ"));
    }
    ASSERT_EQ(c->StatTdlyTz(), 1);
    // Rows by location, owner, parcel and nature: summed first, then converted
    // and rounded, 4 decimals in hectares, 2 in mu; first-level columns hold
    // what their one leaf holds. The ledger report reads them in their stored
    // order: by location, parcel and nature, then owner.
    const std::vector<std::string> stored_order = {"一组|一组|1|10", "一组|二组|1|10",
                                                   "一组|一组|2|10", "二组|二组|1|"};
    for (const auto& [unit, text] : std::map<short, std::string>{
             {kSquareMetre,
              "一组|一组|1|10 TDZMJ:1245.16 BM011:1234.56 BM104:10.6;一组|二组|1|10 TDZMJ:100 "
              "BM011:100;一组|一组|2|10 TDZMJ:345.67 BM031:345.67;二组|二组|1| TDZMJ:2000 "
              "BM031:2000"},
             {kHectare,
              "一组|一组|1|10 TDZMJ:0.1245 BM011:0.1235 BM104:0.0011;一组|二组|1|10 TDZMJ:0.01 "
              "BM011:0.01;一组|一组|2|10 TDZMJ:0.0346 BM031:0.0346;二组|二组|1| TDZMJ:0.2 "
              "BM031:0.2"},
             {kMu,
              "一组|一组|1|10 TDZMJ:1.87 BM011:1.85 BM104:0.02;一组|二组|1|10 TDZMJ:0.15 "
              "BM011:0.15;一组|一组|2|10 TDZMJ:0.52 BM031:0.52;二组|二组|1| TDZMJ:3 BM031:3"}}) {
      const std::string table = c->Names().Summary('Z', unit, "TDLYTZ");
      SCOPED_TRACE(table);
      Table expected = Parse(text), read;
      std::vector<std::string> order;
      for (auto& [key, row] : expected) {
        for (const auto& [column, area] : Areas(row)) {
          if (column.rfind("BM", 0) == 0) row[column.substr(0, 4)] = area;
        }
      }
      for (db::Recordset rs(conn(), "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
        const std::string key = rs.Text("座落单位名称") + "|" + rs.Text("权属单位名称") + "|" +
                                rs.Text("图斑编号") + "|" + rs.Text("权属性质");
        EXPECT_TRUE(read.emplace(key, Areas{}).second) << key << " twice";
        order.push_back(key);
        for (int i = 0; i < rs.FieldCount(); ++i) {
          const std::string column = text::ToUpperAscii(rs.FieldName(i));
          if (column == "土地总面积") read[key]["TDZMJ"] = rs.Field(i).AsDouble();
          if (column.rfind("BM", 0) == 0 && rs.Field(i).AsDouble() != 0) {
            read[key][column] = rs.Field(i).AsDouble();
          }
        }
      }
      ASSERT_EQ(read.size(), expected.size());
      EXPECT_EQ(order, stored_order);
      for (const auto& [key, row] : expected) {
        ASSERT_TRUE(read.count(key)) << key;
        EXPECT_EQ(read[key].size(), row.size()) << key;
        for (const auto& [column, area] : row) {
          EXPECT_NEAR(read[key][column], area, 1e-9) << key << " " << column;
        }
      }
    }
  }
  c->m_bOracle = false;
  // A ledger that cannot be stored is a failure, logged under its title.
  const long errors = c->m_nErrCount;
  EXPECT_EQ(c->SumTdlyTz("NO_SUCH_LEDGER"), 0);
  EXPECT_EQ(c->m_nErrCount, errors + 1);
  EXPECT_NE(c->m_strLogLine.find("汇总台帐"), std::string::npos) << c->m_strLogLine;
}

TEST_P(LandUseOwnershipSlopeLedgerTest, NoIslandTablesAreTheRuralTablesOfListedUnmarkedVillages) {
  auto c = BaseTable();
  // 一村 listed unmarked, 二村 an island, 三村 not listed.
  ASSERT_EQ(c->CreateXzxqTable(), 1);
  conn().Execute("insert into " + c->Names().Plain("ZB_XZXQ") +
                 " values ('330102001001',''),('330102001002','01')");
  ASSERT_EQ(c->CreateStatDataNohd(), 1);
  ASSERT_EQ(c->CreateNcTdlyYjflNohdTables() + c->CreateNcTdlyEjflNohdTables() +
                c->CreateNcTdlyQsYjflNohdTables(),
            3);
  ASSERT_EQ(c->StatNohdTables(1) + c->StatNohdTables(2) + c->StatQsYjflNohdTables(1), 3);
  EXPECT_EQ(c->m_nErrCount, 0) << c->m_strLogLine;
  // By ownership: the owners of 一村's land, 一组 and 二组.
  ExpectTable(conn(), c->Names().Summary('Q', kMu, "NCTDLY_QSYJFLNOHD"),
              Ownership("330102 01G:1800 01J:2000;330102001 01G:1800 01J:2000;"
                        "330102001001 01G:1800;330102001002 01J:2000;"
                        "3301020010010010000 01G:1800;3301020010020010000 01J:2000",
                        true),
              0.0015);
  std::map<std::string, std::map<std::string, ReadRow>> no_island;
  const Strings families = {"NCTDLY_YJFL", "NCTDLY_EJFL", "NCTDLY_QSYJFL"};
  for (const std::string& base : families) {
    for (const std::string& table : c->SummaryCopies(base + "NOHD", false)) {
      no_island[table] = ReadTable(conn(), table);
    }
  }

  // The normal rural tables of a base table holding 一村's rows alone.
  conn().Execute("delete from " + c->m_strStatTbl + " where 村级代码 <> '330102001001'");
  ASSERT_EQ(c->CreateUnitStatTables() + c->FillUnitStatTables(), 2);
  ASSERT_EQ(
      c->CreateNcTdlyYjflTables() + c->CreateNcTdlyEjflTables() + c->CreateNcTdlyQsYjflTables(), 3);
  ASSERT_EQ(c->StatNcTdlyClass(1) + c->StatNcTdlyClass(2) + c->StatTdlyQsYjfl(1), 3);
  for (const std::string& base : families) {
    for (const std::string& table : c->SummaryCopies(base, false)) {
      SCOPED_TRACE(table);
      const auto expected = ReadTable(conn(), table);
      const auto& read = no_island.at(table + "NOHD");
      ASSERT_EQ(read.size(), expected.size());
      for (const auto& [code, row] : expected) {
        ASSERT_TRUE(read.count(code)) << code;
        EXPECT_EQ(read.at(code).name, row.name);
        for (const auto& [column, area] : row.areas) {
          EXPECT_NEAR(read.at(code).areas.at(column), area, 1e-9) << code << " " << column;
        }
      }
    }
  }
}

LANDSTAT_BOTH_ENGINES(LandUseOwnershipSlopeLedgerTest);

// A generated county, rural and town run with the no-island tables.
TEST_P(LandUseOwnershipSlopeLedgerTest, OracleOwnershipQueriesTakeCodePrefixesWithSubstr) {
  auto context = Context();
  for (bool oracle : {false, true}) {
    context->m_bOracle = oracle;
    const std::string query = context->OwnershipQuery(3, true, "S", 1);
    EXPECT_NE(query.find(oracle ? "substr(权属单位代码,0,9) as 乡级代码"
                                : "left(权属单位代码,9) as 乡级代码"),
              std::string::npos)
        << query;
    EXPECT_EQ(query.find("BM05"), std::string::npos) << query;
    // By location every dialect reads the level columns.
    EXPECT_EQ(context->OwnershipQuery(3, true, "S", 0).find("substr"), std::string::npos);
  }
}

class LandUseCountyFamiliesTest : public testing::BothEngines {};

// Every row's units add up to their village, villages to their township,
// townships to the county.
void ExpectLevelsAddUp(std::map<std::string, ReadRow>& rows) {
  std::map<std::string, Areas> sums;
  for (const auto& [code, row] : rows) {
    if (code.size() == 6) continue;
    const std::string parent = code.substr(0, code.size() == 19 ? 12 : code.size() - 3);
    for (const auto& [column, value] : row.areas) sums[parent][column] += value;
  }
  for (const auto& [parent, sum] : sums) {
    for (const auto& [column, value] : sum) {
      EXPECT_NEAR(rows[parent].areas[column], value, 1e-6) << parent << " " << column;
    }
  }
}

TEST_P(LandUseCountyFamiliesTest, OwnershipSlopeLedgerAndNoIslandTablesAgreeWithClassTables) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun generated(home, 47);
  const std::set<std::string>& islands = generated.islands;
  ASSERT_FALSE(islands.empty());
  const std::string log = generated.log, county = generated.options.county_code;
  ASSERT_EQ(generated.Run("通用农村城镇duda", database().ConnectionString(), IsServer()), 1);
  EXPECT_EQ(testing::ReadFileBytes(log).find("失败"), std::string::npos);
  db::Connection result(database().ConnectionString());
  const std::string stem = IsServer() ? "2009" + county : "";

  for (const std::string copy : {"ZPM", "ZGQ", "ZMU", "QPM", "QGQ", "QMU"}) {
    SCOPED_TRACE(copy);
    const auto read = [&](const std::string& base) {
      return ReadTable(result, copy + stem + base);
    };
    auto rural = read("NCTDLY_YJFL"), town = read("TDLY_YJFL"), no_island = read("NCTDLY_YJFLNOHD");

    // Ownership tables: G + J = HJ per class, the sides add up to ZHJ,
    // which is the class table's total (less class 20 in the town table).
    for (const auto& [base, totals] :
         {std::pair{"NCTDLY_QSYJFL", &rural}, std::pair{"TDLY_QSYJFL", &town},
          std::pair{"NCTDLY_QSYJFLNOHD", &no_island}}) {
      SCOPED_TRACE(base);
      auto rows = read(base);
      ASSERT_EQ(rows.size(), totals->size());
      ExpectLevelsAddUp(rows);
      for (auto& [code, row] : rows) {
        Areas& a = row.areas;
        double g = 0, j = 0;
        for (const auto& [column, value] : a) {
          if (column.size() != 6 || column.substr(4) != "HJ") continue;
          const std::string cls = column.substr(0, 4);
          EXPECT_NEAR(a[cls + "G"] + a[cls + "J"], value, 1e-6) << code << " " << column;
          g += a[cls + "G"];
          j += a[cls + "J"];
        }
        EXPECT_NEAR(a["GHJ"], g, 1e-6) << code;
        EXPECT_NEAR(a["ZHJ"], g + a["JHJ"], 1e-6) << code;
        EXPECT_NEAR(a["JHJ"], j, 1e-6) << code;
        Areas& total = (*totals)[code].areas;
        EXPECT_NEAR(a["ZHJ"], total["XZQZMJ"] - (totals == &town ? total["BM20"] : 0), 1e-6)
            << code;
      }
      EXPECT_GT(rows[county].areas["GHJ"] * rows[county].areas["JHJ"], 0);
    }

    // Slope table in square metres: a row for exactly the units with
    // cultivated land, of their BM01.
    if (copy[1] == 'P') {
      auto slope = read("GDPDMJHZ");
      ExpectLevelsAddUp(slope);
      EXPECT_GT(slope[county].areas["TT2"] * slope[county].areas["PD2"], 0);
      std::map<std::string, double> cultivated, sloped;
      for (auto& [code, row] : rural) {
        if (row.areas["BM01"] >= 0.001) cultivated[code] = row.areas["BM01"];
      }
      for (auto& [code, row] : slope) sloped[code] = row.areas["GDMJ"];
      ASSERT_EQ(sloped.size(), cultivated.size());
      for (const auto& [code, area] : cultivated) EXPECT_NEAR(sloped[code], area, 1e-6) << code;
    }
    if (copy[0] == 'Q') continue;

    // The no-island tables by location: the rows of the villages that are
    // no island as in the rural tables, townships and county less the
    // islands' rows.
    for (const std::string base : {"NCTDLY_YJFL", "NCTDLY_EJFL", "NCTDLY_QSYJFL"}) {
      SCOPED_TRACE(base);
      auto full = read(base), kept = read(base + "NOHD");
      std::map<std::string, Areas> expected;
      std::set<std::string> holders;  // the township and county of a village that is no island
      for (const auto& [code, row] : full) {
        if (code.size() != 12 || islands.count(code)) continue;
        holders.insert(code.substr(0, 6));
        holders.insert(code.substr(0, 9));
      }
      for (const auto& [code, row] : full) {
        const bool island = code.size() >= 12 && islands.count(code.substr(0, 12));
        for (const auto& [column, value] : row.areas) {
          if (!island && (code.size() >= 12 || holders.count(code)))
            expected[code][column] += value;
          if (!island || code.size() != 12) continue;
          for (const std::string& parent : {code.substr(0, 6), code.substr(0, 9)}) {
            if (holders.count(parent)) expected[parent][column] -= value;
          }
        }
      }
      ASSERT_EQ(kept.size(), expected.size());
      for (const auto& [code, areas] : expected) {
        for (const auto& [column, value] : areas) {
          EXPECT_NEAR(kept[code].areas[column], value, 1e-6) << code << " " << column;
        }
      }
    }
    // The ledger in square metres holds the whole county.
    if (copy == "ZPM") {
      const auto areas =
          testing::Numbers(result, "select 土地总面积 from " + copy + stem + "TDLYTZ");
      EXPECT_NEAR(std::accumulate(areas.begin(), areas.end(), 0.0), town[county].areas["XZQZMJ"],
                  1e-6);
    }
    // Adjustable land: every row adds up to its total, townships to the
    // county.
    const std::string ktz = copy + stem + "KTZ";
    EXPECT_EQ(testing::Numbers(result, "select count(*) from " + ktz +
                                           " where abs(XZQZMJ - (BM021K + BM022K + BM023K + "
                                           "BM031K + BM033K + BM042K + BM114K + BM021KB + "
                                           "BM022KB + BM023KB)) > 0.000001"),
              (std::vector<double>{0}));
    const auto townships =
        testing::Numbers(result, "select XZQZMJ from " + ktz + " where length(XZQDM) = 9");
    ASSERT_FALSE(townships.empty());
    EXPECT_NEAR(
        testing::Numbers(result, "select XZQZMJ from " + ktz + " where length(XZQDM) = 6").at(0),
        std::accumulate(townships.begin(), townships.end(), 0.0), 1e-6);
    // Land approved but not yet used: the county row in square metres holds
    // the marked land, and townships add up to it in every copy.
    const std::string pewy = copy + stem + "PEWY_EJFL";
    const auto pewy_townships =
        testing::Numbers(result, "select XZQZMJ from " + pewy + " where length(XZQDM) = 9");
    ASSERT_FALSE(pewy_townships.empty());
    const double pewy_county =
        testing::Numbers(result, "select XZQZMJ from " + pewy + " where length(XZQDM) = 6").at(0);
    EXPECT_NEAR(pewy_county, std::accumulate(pewy_townships.begin(), pewy_townships.end(), 0.0),
                1e-6);
    if (copy == "ZPM") {
      EXPECT_NEAR(pewy_county,
                  testing::Numbers(result, "select sum(土地总面积) from " +
                                               std::string(IsServer() ? "D" + stem : "") +
                                               "statdata where 地类备注 = 'P'")
                      .at(0),
                  1e-6);
    }
  }
}

LANDSTAT_BOTH_ENGINES(LandUseCountyFamiliesTest);

}  // namespace
}  // namespace landstat
