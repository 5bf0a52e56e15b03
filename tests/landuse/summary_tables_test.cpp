// The land-use summary tables: the names and layouts of their copies, their
// figures by level and scope on a small base table, the island, regrouped
// and unit-less tables, failed levels, whole runs of a generated county and
// the dialect texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/stat_context.h"
#include "engine/stat_drivers.h"
#include "engine/survey_fixture.h"
#include "landuse/generated_county_run.h"
#include "landuse/test_county_units.h"
#include "platform/db/recordset.h"
#include "platform/text/ascii_text.h"
#include "resources/resources.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::NameOf;

using testing::ReadFileBytes;
using testing::Rows;
using testing::Texts;
using testing::WriteStatConfig;
using Strings = std::vector<std::string>;
using Areas = std::map<std::string, double>;

// The national land classes and the county's administrative units.
std::vector<gis::CODESTRUCT> CodeEntries() {
  std::vector<gis::CODESTRUCT> entries;
  std::istringstream lines{std::string(resources::LandClassCodes())};
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    gis::CODESTRUCT& entry = entries.emplace_back();
    std::getline(fields, entry.type, '\t');
    std::getline(fields, entry.code, '\t');
    std::getline(fields, entry.name, '\t');
  }
  testing::AppendTestUnitCodes(entries);
  return entries;
}

// Base rows: location, owner, class, m², 描述说明. Row 2 lies in 一村 and
// belongs to 二村, row 4 the other way round, row 6 belongs to the village
// collective of 三村 and row 7 to a neighbouring county.
struct BaseRow {
  const char *location, *owner, *code;
  int area;
  const char* mark;
};
const BaseRow kBase[] = {{"3301020010010010000", "3301020010010010000", "011", 1000, ""},
                         {"3301020010010010000", "3301020010020010000", "013", 2000, "01"},
                         {"3301020010020010000", "3301020010020010000", "031", 3000, ""},
                         {"3301020010020010000", "3301020010010010000", "051", 400, ""},
                         {"3301020020010010000", "3301020020010010000", "104", 500, "01"},
                         {"3301020020010010000", "3301020020010000000", "203", 600, ""},
                         {"3301020020010010000", "3301030010010010000", "011", 700, ""}};

// Expected rows "code class:m² ...", separated by ';'.
using Summary = std::map<std::string, Areas>;
Summary Parse(const std::string& text) {
  Summary rows;
  std::istringstream in(text);
  for (std::string row, code, leaf; std::getline(in, row, ';');) {
    std::istringstream fields(row);
    fields >> code;
    rows[code];
    while (fields >> leaf) rows[code][leaf.substr(0, 3)] = std::stod(leaf.substr(4));
  }
  return rows;
}

const Summary kByLocation = Parse(
    "330102 011:1700 013:2000 031:3000 051:400 104:500 203:600;"
    "330102001 011:1000 013:2000 031:3000 051:400;330102002 011:700 104:500 203:600;"
    "330102001001 011:1000 013:2000;330102001002 031:3000 051:400;"
    "330102002001 011:700 104:500 203:600;3301020010010010000 011:1000 013:2000;"
    "3301020010020010000 031:3000 051:400;3301020020010010000 011:700 104:500 203:600");
// Units of this county only.
const Summary kByOwnership = Parse(
    "330102 011:1000 013:2000 031:3000 051:400 104:500 203:600;"
    "330103 011:700;330103001 011:700;330103001001 011:700;"
    "330102001 011:1000 013:2000 031:3000 051:400;330102002 104:500 203:600;"
    "330102001001 011:1000 051:400;330102001002 013:2000 031:3000;330102002001 104:500 203:600;"
    "3301020010010010000 011:1000 051:400;3301020010020010000 013:2000 031:3000;"
    "3301020020010010000 104:500;3301020020010000000 203:600");
// 二村 the island village of the district table.
const Summary kIslandByLocation = Parse(
    "330102 031:3000 051:400;330102001 031:3000 051:400;"
    "330102001002 031:3000 051:400;3301020010020010000 031:3000 051:400");
const Summary kIslandByOwnership = Parse(
    "330102 013:2000 031:3000;330102001 013:2000 031:3000;"
    "330102001002 013:2000 031:3000;3301020010020010000 013:2000 031:3000");
// Rows 2 and 5 marked '01' in the base table.
const Summary kMarkedByLocation = Parse(
    "330102 013:2000 104:500;330102001 013:2000;330102002 104:500;330102001001 013:2000;"
    "330102002001 104:500;3301020010010010000 013:2000;3301020020010010000 104:500");
const Summary kMarkedByOwnership = Parse(
    "330102 013:2000 104:500;330102001 013:2000;330102002 104:500;330102001002 013:2000;"
    "330102002001 104:500;3301020010020010000 013:2000;3301020020010010000 104:500");

bool IsRuralColumn(const std::string& column) {
  return column.rfind("BM", 0) != 0 || column.substr(2, 2) < "05" || column.substr(2, 2) > "09";
}

// Rows by XZQDM: the name and every area column.
std::map<std::string, std::pair<std::string, Areas>> ReadSummary(db::Connection& conn,
                                                                 const std::string& table) {
  std::map<std::string, std::pair<std::string, Areas>> rows;
  for (db::Recordset rs(conn, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
    auto& [name, areas] = rows[rs.Text("XZQDM")];
    EXPECT_TRUE(areas.empty()) << table << " " << rs.Text("XZQDM") << " twice";
    name = rs.Text("XZQMC");
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const std::string column = text::ToUpperAscii(rs.FieldName(i));
      if (column.rfind("BM", 0) == 0 || column == "XZQZMJ" || column == "TDZMJ") {
        areas[column] = rs.Field(i).AsDouble();
      }
    }
  }
  return rows;
}

// The table holds the expected rows (19-character units only with the group
// level), named from the code table, each class the sum of its leaves times
// `factor`, every other class 0; a rural table has no class 05 to 09 and its
// total is the sum of the other classes.
void ExpectSummary(db::Connection& conn, const std::string& table, const Summary& expected,
                   double factor, bool rural, bool group_level = true, bool full_total = false) {
  SCOPED_TRACE(table);
  Strings wanted, read;
  for (const auto& [code, row] : ReadSummary(conn, table)) {
    read.push_back(code);
    if (!expected.count(code)) continue;
    Areas sums = {{"XZQZMJ", 0}};
    for (const auto& [leaf, area] : expected.at(code)) {
      if (rural && !IsRuralColumn("BM" + leaf)) {
        // The rural island tables total every class, 05 to 09 included.
        if (full_total) sums["XZQZMJ"] += area * factor;
        continue;
      }
      for (const std::string& column :
           {"BM" + leaf, "BM" + leaf.substr(0, 2), std::string("XZQZMJ")}) {
        sums[column] += area * factor;
      }
    }
    EXPECT_EQ(row.first, NameOf(code)) << code;
    for (const auto& [column, value] : row.second) {
      EXPECT_TRUE(!rural || IsRuralColumn(column)) << column;
      EXPECT_NEAR(value, sums.count(column) ? sums.at(column) : 0, 1e-9) << code << " " << column;
    }
  }
  for (const auto& [code, row] : expected) {
    if (group_level || code.size() != 19) wanted.push_back(code);
  }
  EXPECT_EQ(read, wanted);
}

struct UnitCopy {
  short unit;
  double factor;
};
const UnitCopy kUnits[] = {{kSquareMetre, 1}, {kHectare, 0.0001}, {kMu, 0.0015}};

class LandUseSummaryTest : public testing::BothEngines {
 protected:
  std::unique_ptr<CStatContext> Context(const std::string& county = "330102",
                                        const std::string& year = "2009", int group_level = 1) {
    auto context = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes_.get(), year,
                                                  county, log_, group_level, "");
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    EXPECT_EQ(context->LoadCodes(), 1);
    testing::WriteFileBytes(log_, "");
    context->OpenStatLogFile();
    return context;
  }

  // The base table of kBase and its unit copies.
  std::unique_ptr<CStatContext> BaseTable(int group_level = 1) {
    auto context = Context("330102", "2009", group_level);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    int number = 0;
    for (const BaseRow& row : kBase) {
      const std::string at = row.location, leaf = std::string("BM") + row.code;
      const std::string area = std::to_string(row.area);
      std::string values = "'" + std::to_string(++number) + "'";
      for (std::size_t n : {6, 9, 12, 19}) {
        values += ",'" + at.substr(0, n) + "','" + NameOf(at.substr(0, n)) + "'";
      }
      values += ",'" + std::string(row.owner) + "'," + area + "," + area + "," + area;
      conn().Execute("insert into " + context->m_strStatTbl +
                     " (序号,县级代码,县名称,乡级代码,乡名称,村级代码,村名称,座落单位代码,"
                     "座落单位名称,权属单位代码,土地总面积," +
                     leaf + "," + leaf.substr(0, 4) + (context->m_bHasMssm ? ",描述说明" : "") +
                     ") values (" + values +
                     (context->m_bHasMssm ? ",'" + std::string(row.mark) + "'" : "") + ")");
    }
    EXPECT_EQ(context->CreateUnitStatTables(), 1);
    EXPECT_EQ(context->FillUnitStatTables(), 1);
    EXPECT_EQ(context->m_nErrCount, 0) << context->m_strLogLine;
    return context;
  }

  // Every copy of a family: scope Z and Q, each unit.
  void ExpectCopies(const CStatContext& context, const std::string& base, const Summary& z,
                    const Summary& q, bool rural, bool full_total = false) {
    for (const UnitCopy& copy : kUnits) {
      for (const auto& [scope, rows] : {std::pair{'Z', &z}, std::pair{'Q', &q}}) {
        ExpectSummary(conn(), context.Names().Summary(scope, copy.unit, base), *rows, copy.factor,
                      rural, context.m_bGroupLevel, full_total);
      }
    }
  }

  testing::ScopedProgramDir home_;
  std::string log_ = home_.File("stat.log");
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(CodeEntries())};
};

// Names and layouts ---------------------------------------------------------

TEST_P(LandUseSummaryTest, CopiesOfEachScopeAndUnit) {
  const auto names = [&](const Strings& patterns) {
    Strings out;
    for (std::string name : patterns) {
      out.push_back(name.replace(name.find('%'), 1, IsServer() ? "2010123456" : ""));
    }
    return out;
  };
  const std::string three = "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n[TYPE]\nType=";
  struct Case {
    std::string config;
    bool county_batch;
    Strings copies;
  };
  for (const Case& k : std::vector<Case>{
           {three + "2", false, {"QGQ%", "QMU%", "QPM%", "ZGQ%", "ZMU%", "ZPM%"}},
           {three + "0", false, {"ZGQ%", "ZMU%", "ZPM%"}},
           {"[AreaUnit]\nUnit1=亩\nUnit2=公顷\n[TYPE]\nType=1", false, {"QGQ%", "QMU%"}},
           // The county batch: hectares of one scope.
           {three + "2", true, {"ZGQ%"}},
           {"[AreaUnit]\nUnit1=亩\n[TYPE]\nType=1", true, {"QGQ%"}}}) {
    SCOPED_TRACE(k.config + (k.county_batch ? " county batch" : ""));
    WriteStatConfig(k.config);
    auto context = Context("123456", "2010");
    if (k.county_batch) {
      ASSERT_EQ(context->CreateStatDataTable(), 1);
      context->m_bNoPmTables = true;
      ASSERT_EQ(context->CreateUnitStatTables(), 1);
    }
    Strings copies = context->SummaryCopies("TDLY_YJFL", false);
    std::sort(copies.begin(), copies.end());
    for (std::string& name : copies) name.erase(name.size() - 9);
    EXPECT_EQ(copies, names(k.copies));
  }

  // Families by location get their Z copies under scope Q; every copy made
  // is recorded, the unit-less twin is not.
  WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n[TYPE]\nType=1\n");
  auto context = Context("123456", "2010");
  for (auto create : {&CStatContext::CreateFrdTdlyYjflTables, &CStatContext::CreateTdlyTzTables,
                      &CStatContext::CreateTdlyYjflTables, &CStatContext::Create2009PEjflTables,
                      &CStatContext::CreateTdlyYjflConvertedTable}) {
    ASSERT_EQ(((*context).*create)(), 1);
  }
  const Strings created =
      names({"ZPM%FRDTDLY_YJFL", "ZGQ%FRDTDLY_YJFL", "ZPM%TDLYTZ", "ZGQ%TDLYTZ", "QPM%TDLY_YJFL",
             "QGQ%TDLY_YJFL", "QPM%2009P_EJFL", "QGQ%2009P_EJFL"});
  EXPECT_EQ(context->m_arrCreatedTbls, created);
  for (const std::string& name : created) EXPECT_TRUE(conn().TableExists(name)) << name;
  EXPECT_TRUE(conn().TableExists(IsServer() ? "D2010123456TDLY_YJFL" : "TDLY_YJFL"));
  EXPECT_EQ(context->m_nErrCount, 0);
}

TEST_P(LandUseSummaryTest, Layouts) {
  WriteStatConfig(testing::kThreeUnits);
  auto context = Context();
  const auto columns = [&](const std::string& table) {
    Strings names;
    for (const db::ColumnInfo& column : conn().Columns(table))
      names.push_back(text::ToUpperAscii(column.name));
    return names;
  };
  // Rural layouts leave out classes 05 to 09, wherever they stand.
  for (const Strings& classes : std::vector<Strings>{context->m_arrClassCodes,
                                                     {"01", "011", "05", "051", "09", "091"},
                                                     {"05", "051", "07", "071"}}) {
    context->m_arrClassCodes = classes;
    context->m_arrClass1Codes.clear();
    std::copy_if(classes.begin(), classes.end(), std::back_inserter(context->m_arrClass1Codes),
                 [](const std::string& code) { return code.size() == 2; });
    for (SummaryLayout layout :
         {SummaryLayout::kRuralFirstLevel, SummaryLayout::kRuralSecondLevel,
          SummaryLayout::kRuralThirdLevel, SummaryLayout::kRuralIslandFirstLevel,
          SummaryLayout::kRuralIslandSecondLevel}) {
      const std::string statement = context->SummaryLayoutStatement(layout, "RURAL");
      SCOPED_TRACE(statement);
      EXPECT_EQ(statement.find(",)"), std::string::npos);
      EXPECT_EQ(context->CreateSummaryTable(layout, "RURAL"), 1);
      for (const std::string& column : columns("RURAL")) EXPECT_TRUE(IsRuralColumn(column));
    }
  }

  // The fixed layouts.
  ASSERT_EQ(context->CreateNcTdlyQsYjflTable("NCQS"), 1);
  ASSERT_EQ(context->CreateTdlyQsYjflTable("QS"), 1);
  ASSERT_EQ(context->CreateKtzTable("KTZ"), 1);
  EXPECT_EQ(columns("NCQS").size(), 29u);
  EXPECT_EQ(columns("QS").size(), 41u);
  EXPECT_EQ(columns("KTZ").size(), 13u);

  // The slope table numbers its rows itself, except on Oracle; area columns
  // are "float" on the server and "NUMBER" on Oracle.
  ASSERT_EQ(context->CreateGdPdMjHzTable("SLOPE"), 1);
  conn().Execute("insert into SLOPE (XZQDM) values ('330102')");
  conn().Execute("insert into SLOPE (XZQDM) values ('330102001')");
  EXPECT_EQ(Rows(conn(), "select ID, XZQDM from SLOPE order by ID"),
            (Strings{"1|330102", "2|330102001"}));
  const auto statement = [&](SummaryLayout layout) {
    return context->TypeWords(context->SummaryLayoutStatement(layout, "T"));
  };
  EXPECT_NE(statement(SummaryLayout::kFirstLevel)
                .find(IsServer() ? "XZQZMJ float default" : "XZQZMJ double default"),
            std::string::npos);
  if (IsServer()) {
    context->m_bOracle = true;
    EXPECT_EQ(statement(SummaryLayout::kSlope).rfind("Create Table T(ID NUMBER ,", 0), 0u);
    EXPECT_NE(statement(SummaryLayout::kFirstLevel).find("XZQZMJ NUMBER default"),
              std::string::npos);
    EXPECT_EQ(statement(SummaryLayout::kFirstLevel).find("double"), std::string::npos);
    context->m_bOracle = false;
  }

  // A failed create is counted and logged once, with the layout's own
  // words where it has them and the database's reason; none is recorded.
  context->OpenStatLogFile();
  context->m_arrCreatedTbls.clear();
  EXPECT_EQ(context->CreateTdlyYjflTable("bad name"), 0);
  EXPECT_EQ(context->CreateNcHdTdlyEjflTable("bad name"), 0);
  EXPECT_EQ(context->m_nErrCount, 2);
  const std::string log = ReadFileBytes(log_);
  EXPECT_EQ(log.rfind("1 建立土地利用现状一级分类面积表 建立土地利用现状一级分类面积表失败 (", 0),
            0u)
      << log;
  EXPECT_NE(log.find("\n2 建立汇总表 bad name 建立失败 ("), std::string::npos) << log;
  EXPECT_NE(log.find("bad name(XZQDM"), std::string::npos) << "the database's reason: " << log;
  EXPECT_TRUE(context->m_arrCreatedTbls.empty());
}

// Figures -------------------------------------------------------------------

TEST_P(LandUseSummaryTest, ClassSummariesByLevelAndScope) {
  WriteStatConfig(testing::kThreeUnits);
  for (int group_level : {1, 0}) {
    SCOPED_TRACE(group_level ? "with the group level" : "without the group level");
    auto c = BaseTable(group_level);
    ASSERT_EQ(c->CreateTdlyYjflTables() + c->CreateTdlyEjflTables() + c->CreateTdlySjflTables() +
                  c->CreateNcTdlyYjflTables() + c->CreateNcTdlyEjflTables() +
                  c->CreateNcTdlySjflTables(),
              6);
    ASSERT_EQ(c->StatTdlyClass(1) + c->StatTdlyClass(2) + c->StatTdlySjfl() +
                  c->StatNcTdlyClass(1) + c->StatNcTdlyClass(2) + c->StatNcTdlySjfl(),
              6);
    EXPECT_EQ(c->m_nErrCount, 0) << c->m_strLogLine;
    // TDLY_SJFL is TDLY_EJFL again.
    for (const char* base :
         {"TDLY_YJFL", "TDLY_EJFL", "TDLY_SJFL", "NCTDLY_YJFL", "NCTDLY_EJFL", "NCTDLY_SJFL"}) {
      ExpectCopies(*c, base, kByLocation, kByOwnership, base[0] == 'N');
    }
  }
}

TEST_P(LandUseSummaryTest, IslandTablesHoldIslandVillagesOnly) {
  struct Case {
    const char* name;
    bool marks;  // [HD] MSSM=1: the base rows carry 描述说明
    bool island;
    Summary z, q;
  };
  for (const Case& k :
       {Case{"district table", false, true, kIslandByLocation, kIslandByOwnership},
        Case{"base rows' own marks", true, true, kMarkedByLocation, kMarkedByOwnership},
        Case{"no island village", false, false, {}, {}}}) {
    SCOPED_TRACE(k.name);
    WriteStatConfig(std::string(testing::kThreeUnits) + (k.marks ? "[HD]\nMSSM=1\n" : ""));
    auto c = BaseTable();
    ASSERT_EQ(c->CreateXzxqTable(), 1);
    // 三村 is marked otherwise.
    for (std::string row : {"'330102001001',''", "'330102001002','01'", "'330102002001','02'"}) {
      conn().Execute("insert into " + c->Names().Plain("ZB_XZXQ") + " values (" +
                     (k.island ? row : row.substr(0, 15) + "''") + ")");
    }
    // The rural run's island tables, then the county batch's island kinds.
    ASSERT_EQ(c->CreateNcHdTdlyYjflTables() + c->CreateNcHdTdlyEjflTables(), 2);
    ASSERT_EQ(c->StatNcHdTdlyYjfl() + c->StatNcHdTdlyEjfl(), 2);
    ExpectCopies(*c, "NCHDTDLY_YJFL", k.z, k.q, true, true);
    ExpectCopies(*c, "NCHDTDLY_EJFL", k.z, k.q, true, true);
    for (const auto& [path, fill] : std::vector<std::pair<const char*, std::function<short()>>>{
             {"rural run", [&] { return c->StatHdTdlyYjfl() + c->StatHdTdlyEjfl(); }},
             {"county batch", [&] { return c->StatTdlyClass(3) + c->StatTdlyClass(4); }}}) {
      SCOPED_TRACE(path);
      ASSERT_EQ(c->CreateHdTdlyYjflTables() + c->CreateHdTdlyEjflTables(), 2);
      ASSERT_EQ(fill(), 2);
      ExpectCopies(*c, "HDTDLY_YJFL", k.z, k.q, false);
      ExpectCopies(*c, "HDTDLY_EJFL", k.z, k.q, false);
    }
    EXPECT_EQ(ReadFileBytes(log_), "");
  }
}

TEST_P(LandUseSummaryTest, RegroupedRuralTable) {
  WriteStatConfig(testing::kThreeUnits);
  auto c = BaseTable(0);
  ASSERT_EQ(c->CreateNcTdlyEjflTables(), 1);
  ASSERT_EQ(c->StatNcTdlyClass(2), 1);
  ASSERT_EQ(c->StatNcTdlyGdEjfl(), 1);
  // County rows in m²: 011 and 013 cultivated land, 031 forest, 104 rural
  // roads other farmland, 203 villages construction land.
  const std::map<char, Areas> counties = {
      {'Z', {{"TDZMJ", 7800}, {"BM1", 7200}, {"BM2", 600}, {"BM11", 3700}, {"BM13", 3000}}},
      {'Q', {{"TDZMJ", 7100}, {"BM1", 6500}, {"BM2", 600}, {"BM11", 3000}, {"BM13", 3000}}}};
  const auto check = [&](char scope, const UnitCopy& copy, double scale) {
    const std::string table = c->Names().Summary(scope, copy.unit, "NCTDLY_GDEJFL");
    SCOPED_TRACE(table);
    Strings codes;
    for (const auto& [code, row] : ReadSummary(conn(), table)) {
      codes.push_back(code);
      // Every group the sum of its members, the total the sum of the three.
      const Areas& read = row.second;
      Areas members;
      for (const auto& [column, value] : read) {
        if (column.size() > 3 && column != "TDZMJ")
          members[column.substr(0, column.size() - 1)] += value;
        if (column.size() == 3) members["TDZMJ"] += value;
      }
      for (const auto& [group, sum] : members) EXPECT_NEAR(read.at(group), sum, 1e-9) << group;
      if (code != "330102") continue;
      EXPECT_NEAR(read.at("BM3"), 0, 1e-9);
      for (const auto& [column, area] : counties.at(scope)) {
        EXPECT_NEAR(read.at(column), area * copy.factor * scale, 1e-9) << column;
      }
    }
    Strings source =
        Texts(conn(), "select XZQDM from " + c->Names().Summary(scope, copy.unit, "NCTDLY_EJFL"));
    std::sort(source.begin(), source.end());
    EXPECT_EQ(codes, source);
  };
  for (const UnitCopy& copy : kUnits) {
    for (char scope : {'Z', 'Q'}) check(scope, copy, 1);
  }
  // Made again from changed figures, the table holds only the new ones.
  for (const char* column : {"BM011", "BM013", "BM031", "BM104", "BM203"}) {
    conn().Execute("update " + c->Names().Summary('Z', kSquareMetre, "NCTDLY_EJFL") + " set " +
                   column + "=" + column + "*2");
  }
  ASSERT_EQ(c->StatNcTdlyGdEjfl(), 1);
  check('Z', kUnits[0], 2);
}

TEST_P(LandUseSummaryTest, ConvertedRebuildsReadTheirBaseTables) {
  WriteStatConfig(testing::kThreeUnits);
  auto c = BaseTable();
  // The extension table holds every base row twice.
  for (int i = 0; i < 2; ++i) {
    conn().Execute("insert into " + c->Names().Plain("statdataex") + " select * from " +
                   c->m_strStatTbl);
  }
  ASSERT_EQ(c->CreateTdlyYjflConvertedTable() + c->CreateTdlyEjflConvertedTable() +
                c->CreateNcTdlyYjflConvertedTable() + c->CreateNcTdlyEjflConvertedTable(),
            4);
  EXPECT_EQ(c->SumTdlyClassConverted(1) + c->SumTdlyClassConverted(2) +
                c->SumNcTdlyClassConverted(1) + c->SumNcTdlyClassConverted(2),
            4);
  EXPECT_EQ(c->m_nErrCount, 0) << c->m_strLogLine;
  ExpectSummary(conn(), c->Names().Plain("TDLY_YJFL"), kByLocation, 2, false);
  ExpectSummary(conn(), c->Names().Plain("TDLY_EJFL"), kByLocation, 1, false);
  ExpectSummary(conn(), c->Names().Plain("NCTDLY_YJFL"), kByLocation, 2, true);
  ExpectSummary(conn(), c->Names().Plain("NCTDLY_EJFL"), kByLocation, 1, true);
  EXPECT_TRUE(c->m_arrCreatedTbls.empty());
}

// Failures ------------------------------------------------------------------

TEST_P(LandUseSummaryTest, FailedLevelsAreLoggedAndTheOthersRun) {
  WriteStatConfig(testing::kThreeUnits);
  auto c = BaseTable();
  const std::string source = c->m_strStatTblSrc;
  const std::string first = c->Names().Summary('Z', kSquareMetre, "TDLY_YJFL");
  const std::string second = c->Names().Summary('Z', kSquareMetre, "TDLY_EJFL");
  ASSERT_EQ(c->CreateTdlyYjflTable(first) + c->CreateTdlyEjflTable(second), 2);
  ASSERT_EQ(c->CreateXzxqTable(), 1);

  // A source without 乡名称: the township level fails alone.
  conn().Execute("create table NOTOWNSHIP as select * from " + source);
  conn().Execute("alter table NOTOWNSHIP drop column 乡名称");
  EXPECT_EQ(c->SumTdlyClass(1, "NOTOWNSHIP", first, 0), 1);
  EXPECT_EQ(ReadFileBytes(log_).rfind("1 汇总土地利用现状一级分类面积 汇总乡级数据失败 (", 0), 0u)
      << ReadFileBytes(log_);
  Strings codes = Texts(conn(), "select XZQDM from " + first);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (Strings{"330102", "330102001001", "3301020010010010000", "330102001002",
                            "3301020010020010000", "330102002001", "3301020020010010000"}));

  // A source without a class column: every level fails, each logged with
  // the family's title.
  conn().Execute("create table NOCLASS as select * from " + source);
  conn().Execute("alter table NOCLASS drop column BM20");
  for (const auto& [title, run] : std::vector<std::pair<std::string, std::function<short()>>>{
           {"汇总土地利用现状二级分类面积",
            [&] { return c->SumTdlyClass(2, "NOCLASS", second, 1); }},
           {"汇总农村土地利用现状一级分类面积表",
            [&] { return c->SumNcTdlyClass(1, "NOCLASS", first, 0); }},
           {"汇总农村土地利用现状海岛一级分类面积",
            [&] { return c->SumNcHdTdlyYjfl("NOCLASS", first, 1); }}}) {
    SCOPED_TRACE(title);
    c->OpenStatLogFile();
    EXPECT_EQ(run(), 0);
    // Each level's line, with the database's reason after it.
    std::istringstream lines(ReadFileBytes(log_));
    std::string line;
    for (int level = 0; level < 4; ++level) {
      ASSERT_TRUE(std::getline(lines, line));
      EXPECT_EQ(
          line.rfind(std::to_string(level + 1) + " " + title + " " + kLevelMessages[level] + " (",
                     0),
          0u)
          << line;
      EXPECT_NE(line.find("BM20"), std::string::npos) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
  }

  // A unit level that fails returns 0 and leaves the names of the other
  // levels unfilled: here the source is a sub-query, which the unit level's
  // qualified column cannot name.
  c->OpenStatLogFile();
  const std::string owners = c->Names().Summary('Q', kSquareMetre, "TDLY_YJFL");
  ASSERT_EQ(c->CreateTdlyYjflTable(owners), 1);
  EXPECT_EQ(c->SumTdlyClass(1, "(select * from " + source + ") AS S", owners, 1), 0);
  EXPECT_EQ(ReadFileBytes(log_).rfind("1 汇总土地利用现状一级分类面积 汇总村民小组数据失败 (", 0),
            0u);
  EXPECT_EQ(Texts(conn(), "select XZQMC from " + owners), Strings(9, ""));
}

LANDSTAT_BOTH_ENGINES(LandUseSummaryTest);

// Whole runs -------------------------------------------------------------------

// A generated county run for each regional version: every level the sum of
// the level below, the classes of first-level tables adding up to their
// totals, the island tables holding the island villages of the district
// layer.
class CountySummariesTest : public testing::BothEngines {};

TEST_P(CountySummariesTest, LevelsAddUpAndIslandsAreTheMarkedVillages) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun generated(home, 31);
  const std::set<std::string>& islands = generated.islands;
  ASSERT_FALSE(islands.empty());
  const county::CountyOptions& options = generated.options;
  const std::string log = generated.log;
  const std::string stem = IsServer() ? "2009" + options.county_code : "";

  // The regrouped table's version first, while no rural table stands.
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"四川农村", {"NCTDLY_EJFL", "NCTDLY_GDEJFL"}},
      {"通用农村",
       {"NCTDLY_YJFL", "NCTDLY_EJFL", "HDTDLY_YJFL", "HDTDLY_EJFL", "NCHDTDLY_YJFL",
        "NCHDTDLY_EJFL"}},
      {"城镇", {"TDLY_YJFL", "TDLY_EJFL", "TDLY_SJFL"}}};
  for (const auto& [version, families] : runs) {
    SCOPED_TRACE(version);
    ASSERT_EQ(generated.Run(version, database().ConnectionString(), IsServer()), 1);
    EXPECT_EQ(testing::ReadFileBytes(log).find("失败"), std::string::npos)
        << testing::ReadFileBytes(log);

    db::Connection result(database().ConnectionString());
    for (const std::string& base : families) {
      for (const char* copy : {"ZPM", "ZGQ", "ZMU", "QPM", "QGQ", "QMU"}) {
        const std::string table = copy + stem + base;
        SCOPED_TRACE(table);
        if (!result.TableExists(table)) {
          ADD_FAILURE() << "not built";
          continue;
        }
        auto rows = ReadSummary(result, table);
        ASSERT_TRUE(rows.count(options.county_code));
        // Units add up to their village, villages to their township,
        // townships to the county, column by column.
        std::map<std::string, Areas> sums;
        std::set<std::string> villages;
        for (const auto& [code, row] : rows) {
          if (code.size() == 12) villages.insert(code);
          if (code.size() == 6) continue;
          const std::string parent = code.substr(0, code.size() == 19 ? 12 : code.size() - 3);
          for (const auto& [column, value] : row.second) sums[parent][column] += value;
        }
        for (const auto& [parent, sum] : sums) {
          for (const auto& [column, value] : sum) {
            EXPECT_NEAR(rows[parent].second[column], value, 1e-6 + std::fabs(value) * 1e-12)
                << parent << " " << column;
          }
        }
        // The classes of a first-level table add up to its total.
        if (base.find("YJFL") != std::string::npos) {
          for (const auto& [code, row] : rows) {
            double classes = 0;
            for (const auto& [column, value] : row.second)
              classes += column == "XZQZMJ" ? 0 : value;
            EXPECT_NEAR(classes, row.second.at("XZQZMJ"), 1e-6 + std::fabs(classes) * 1e-12)
                << code;
          }
        }
        if (base.find("HD") != std::string::npos) {
          EXPECT_EQ(villages, islands);
        }
        // The regrouped table: the total is its three groups.
        if (base == "NCTDLY_GDEJFL") {
          for (const auto& [code, row] : rows) {
            const Areas& areas = row.second;
            EXPECT_NEAR(areas.at("TDZMJ"), areas.at("BM1") + areas.at("BM2") + areas.at("BM3"),
                        1e-6);
          }
        }
      }
    }
  }
}

LANDSTAT_BOTH_ENGINES(CountySummariesTest);

// Dialect texts ---------------------------------------------------------------

TEST(LandUseStatementsTest, OwnershipPrefixesPerDialect) {
  testing::ScopedProgramDir home;
  testing::TestDatabase database(db::DbKind::kEmbedded);
  CStatContext c(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "");
  ASSERT_EQ(c.InitUnits(database.ConnectionString(), 1), 1);
  c.m_arrClassCodes = {"01", "011", "05", "051", "20", "203"};
  c.m_arrClass1Codes = {"01", "05", "20"};
  // TDLY kinds 1 to 4, NCTDLY kinds 1 and 2, the four island tables.
  const auto build = [&c](int family, short scope) {
    if (family < 4) return c.TdlyClassStatements(family + 1, "S", "T", scope);
    if (family < 6) return c.NcTdlyClassStatements(family - 3, "S", "T", scope);
    return c.IslandStatements(static_cast<IslandTableKind>(family - 6), "S", "T", scope);
  };
  for (bool marks : {false, true}) {
    c.m_bHasMssm = marks;
    for (int family = 0; family < 10; ++family) {
      std::map<bool, Strings> q, z;
      for (bool oracle : {false, true}) {
        c.m_bOracle = oracle;
        q[oracle] = build(family, 1);
        z[oracle] = build(family, 0);
        ASSERT_EQ(q[oracle].size(), 4u);
      }
      for (int level = 0; level < 4; ++level) {
        SCOPED_TRACE("family " + std::to_string(family) + " level " + std::to_string(level) +
                     (marks ? " marked rows" : " district table"));
        const std::string n = std::to_string(level * 3 + 6);
        EXPECT_TRUE(level == 3 ||
                    q[true][level].find("substr(权属单位代码,0," + n + ")") != std::string::npos)
            << q[true][level];
        EXPECT_TRUE(level == 3 ||
                    q[false][level].find("left(权属单位代码," + n + ")") != std::string::npos)
            << q[false][level];
        EXPECT_EQ(q[true][level].find("left("), std::string::npos) << q[true][level];
        EXPECT_EQ(q[false][level].find("substr("), std::string::npos) << q[false][level];
        EXPECT_EQ(z[true][level], z[false][level]);
      }
    }
  }
}

}  // namespace
}  // namespace landstat
