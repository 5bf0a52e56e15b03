// The farmland area tables: each table's condition and sum columns on a
// hand-made unit copy, by level, in every unit and scope; a second build
// replacing the first; a missing copy logged; the statements as written for
// each database kind; the tables' places in the run.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/statistics_run.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "landuse/generated_county_run.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Numbers;
using testing::Rows;
using Strings = std::vector<std::string>;

// Every row carries its weight w times the class column's multiplier, so
// that a sum names the rows it took.
const std::map<std::string, double> kMultipliers = {
    {"BM01", 1}, {"BM011", 2}, {"BM012", 3}, {"BM013", 4}, {"BM02", 5},  {"BM03", 6},
    {"BM04", 7}, {"BM20", 8},  {"BM10", 9},  {"BM11", 10}, {"BM12", 11},
};

// Weight, village, township, 是否补划, 调入备注, 地类备注 (NULL when null).
struct Row {
  int weight;
  const char *village, *township, *added, *transfer, *class_remark;
};
const Row kRows[] = {
    {1, "330102001001", "330102001", "'Y'", "NULL", "'K'"},
    {2, "330102001001", "330102001", "'N'", "'DH'", "''"},
    {4, "330102001002", "330102001", "'N'", "'TC'", "'k'"},
    {8, "330102001002", "330102001", "'N'", "'WS'", "'K'"},
    {16, "330102002001", "330102002", "'N'", "''", "NULL"},
    {32, "330102002001", "330102002", "'Y'", "'TC'", "NULL"},
};

// The units' copies hold the rows times their factor.
struct Unit {
  const char* prefix;
  short unit;
  double factor;
};
const Unit kUnits[] = {{"PM", kSquareMetre, 1}, {"GQ", kHectare, 100}, {"MU", kMu, 10000}};

class JbntAreaTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    context_ = testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
    for (const auto& [prefix, unit, factor] : kUnits) {
      std::string columns =
          "县级代码 varchar(60),县名称 varchar(60),乡级代码 varchar(60),乡名称 varchar(60),"
          "村级代码 varchar(60),村名称 varchar(60),是否补划 varchar(60),调入备注 varchar(60),"
          "地类备注 varchar(60)";
      std::string names, values;
      for (const auto& [column, multiplier] : kMultipliers) {
        columns += "," + column + " double precision default 0";
        names += "," + column;
      }
      conn().Execute("create table " + Copy(unit) + " (" + columns + ")");
      for (const Row& row : kRows) {
        values.clear();
        for (const auto& entry : kMultipliers) {
          values += "," + std::to_string(entry.second * row.weight * factor);
        }
        conn().Execute("insert into " + Copy(unit) +
                       " (县级代码,县名称,乡级代码,乡名称,村级代码,村名称,是否补划,调入备注,"
                       "地类备注" +
                       names + ") values ('330102','县名','" + row.township + "','乡" +
                       row.township + "','" + row.village + "','村" + row.village + "'," +
                       row.added + "," + row.transfer + "," + row.class_remark + values + ")");
      }
    }
  }

  std::string Copy(short unit) const { return context_->Names().UnitCopy(unit, "statdata_jbnt"); }
  std::string Table(char scope, short unit, const std::string& base) const {
    return context_->Names().Summary(scope, unit, base);
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::SmallCodeEntries())};
  std::unique_ptr<CStatContext> context_;
};

struct AreaCase {
  short (CStatContext::*driver)();
  const char* base;
  const Strings* columns;  // after XZQDM, XZQMC
  // XZQDM:BM01 of each row, the county first: the weights of the rows taken.
  const char* by_level;
  double k_weights;  // of the county's rows whose class remark is K or k
};

const Strings kSet1 = {"BM01", "BM011", "BM012", "BM013"};
const Strings kSet2 = {"BM01", "BM011", "BM012", "BM013", "QTHJ", "BM02",
                       "BM03", "BM04",  "BM20",  "BM10",  "BM11", "BM12"};
const Strings kSet3 = {"ZHJ",  "BM01", "BM011", "BM012", "BM013", "QTHJ", "BM02",
                       "BM03", "BM04", "BM20",  "BM10",  "BM11",  "BM12"};
const Strings kSet4 = {"ZHJ",   "BM01", "BM011", "BM012", "BM013", "QTHJ", "BM02",  "BM02K", "BM03",
                       "BM03K", "BM04", "BM04K", "BM20",  "BM10",  "BM11", "BM11K", "BM12"};

// What the county row should hold in a column, from the weights of the
// rows it sums.
double Expected(const std::string& column, double weights, double k_weights) {
  if (column == "ZHJ") return 57 * weights;
  if (column == "QTHJ") return 56 * weights;
  if (column.back() == 'K') return kMultipliers.at(column.substr(0, 4)) * k_weights;
  return kMultipliers.at(column) * weights;
}

TEST_P(JbntAreaTablesTest, EachTableSumsItsRowsByLevel) {
  const AreaCase cases[] = {
      {&CStatContext::StatJbntBhmj, "JBNTBHMJ", &kSet1,
       "330102:33 330102001:1 330102001001:1 330102002:32 330102002001:32", 0},
      {&CStatContext::StatJbntTxqmj, "JBNTTXQMJ", &kSet2, "330102:2 330102001:2 330102001001:2", 0},
      // A row without a remark or with an empty one is kept.
      {&CStatContext::StatJbntBsmj, "JBNTBSMJ", &kSet3,
       "330102:27 330102001:11 330102001001:3 330102001002:8 330102002:16 330102002001:16", 0},
      {&CStatContext::StatJbntGhwsmj, "JBNTGHWSMJ", &kSet4, "330102:8 330102001:8 330102001002:8",
       8},
      {&CStatContext::StatJbntTcmj, "JBNTTCMJ", &kSet4,
       "330102:36 330102001:4 330102001002:4 330102002:32 330102002001:32", 4},
      {&CStatContext::StatJbntBgjmj, "JBNTBGJMJ", &kSet3,
       "330102:25 330102001:9 330102001001:1 330102001002:8 330102002:16 330102002001:16", 0},
      {&CStatContext::StatJbntTchbhqmj, "JBNTTCHBHQMJ", &kSet3,
       "330102:24 330102001:8 330102001002:8 330102002:16 330102002001:16", 0},
  };
  for (const AreaCase& c : cases) {
    SCOPED_TRACE(c.base);
    EXPECT_EQ((context_.get()->*c.driver)(), 1);
    const std::string table = Table('Z', kSquareMetre, c.base);
    std::string by_level;
    for (const std::string& row :
         Rows(conn(), "select XZQDM, BM01 from " + table + " order by XZQDM")) {
      by_level += (by_level.empty() ? "" : " ") + row.substr(0, row.find('|')) + ":" +
                  row.substr(row.find('|') + 1);
    }
    EXPECT_EQ(by_level, c.by_level);
    const double weights = std::stod(std::string(c.by_level).substr(7));
    Strings columns = {"XZQDM", "XZQMC"}, header;
    std::string county = "330102|县名";
    for (const std::string& column : *c.columns) {
      columns.push_back(column);
      county += "|" + text::DoubleToText(Expected(column, weights, c.k_weights));
    }
    for (const db::ColumnInfo& column : conn().Columns(table)) {
      header.push_back(text::ToUpperAscii(column.name));
    }
    EXPECT_EQ(header, columns);
    EXPECT_EQ(Rows(conn(), "select * from " + table + " where XZQDM = '330102'"), Strings{county});
    // Each unit's tables read that unit's copy.
    for (char scope : {'Z', 'Q'}) {
      for (const auto& [prefix, unit, factor] : kUnits) {
        EXPECT_EQ(Numbers(conn(), "select BM01 from " + Table(scope, unit, c.base) +
                                      " where XZQDM = '330102'"),
                  std::vector<double>{weights * factor})
            << scope << prefix;
      }
    }
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
  // The Q tables take the names of the code table where it has one.
  EXPECT_EQ(
      Rows(conn(), "select XZQMC from " + Table('Q', kHectare, "JBNTBSMJ") + " order by XZQDM"),
      (Strings{"上城区", "一乡", "一村", "村330102001002", "乡330102002", "村330102002001"}));
  EXPECT_EQ(
      Rows(conn(), "select XZQMC from " + Table('Z', kHectare, "JBNTBHMJ") + " order by XZQDM"),
      (Strings{"县名", "乡330102001", "村330102001001", "乡330102002", "村330102002001"}));
}

// A second build replaces the tables of the first; a missing unit copy
// fails its tables, logged with the copy's name, and the others are made.
TEST_P(JbntAreaTablesTest, SecondBuildReplacesAndMissingCopyIsLogged) {
  ASSERT_EQ(context_->StatJbntBsmj(), 1);
  conn().Execute("delete from " + Copy(kHectare) + " where 调入备注 = 'WS'");
  conn().Execute("drop table " + Copy(kMu));
  ASSERT_EQ(context_->StatJbntBsmj(), 1);
  EXPECT_EQ(Numbers(conn(), "select BM01 from " + Table('Z', kHectare, "JBNTBSMJ") +
                                " where XZQDM = '330102'"),
            std::vector<double>{1900});
  EXPECT_EQ(context_->m_nErrCount, 2);
  EXPECT_NE(context_->m_strLogMsg.find(Copy(kMu)), std::string::npos) << context_->m_strLogMsg;
  EXPECT_NE(context_->m_strLogMsg.find(Table('Q', kMu, "JBNTBSMJ")), std::string::npos);
  // The failed tables keep no figures of the first build.
  EXPECT_FALSE(conn().TableExists(Table('Z', kMu, "JBNTBSMJ")));
  EXPECT_TRUE(conn().TableExists(Table('Q', kSquareMetre, "JBNTBSMJ")));
}

// The scope and the wanted units choose the tables made, Z before Q.
TEST_P(JbntAreaTablesTest, ScopeAndUnitsChooseTheTables) {
  struct ScopeCase {
    short scope;
    bool no_pm_tables;
    short (CStatContext::*driver)();
    const char* base;
    std::string made;
  };
  const ScopeCase cases[] = {
      {0, false, &CStatContext::StatJbntTxqmj, "JBNTTXQMJ", "ZPM ZGQ ZMU "},
      {1, true, &CStatContext::StatJbntTcmj, "JBNTTCMJ", "QGQ QMU "},
      {2, true, &CStatContext::StatJbntBgjmj, "JBNTBGJMJ", "ZGQ ZMU QGQ QMU "}};
  for (const ScopeCase& c : cases) {
    context_->m_nStatScope = c.scope;
    context_->m_bNoPmTables = c.no_pm_tables;
    (context_.get()->*c.driver)();
    std::string made;
    for (char scope : {'Z', 'Q'}) {
      for (const Unit& unit : kUnits) {
        if (conn().TableExists(Table(scope, unit.unit, c.base))) {
          made += scope + std::string(unit.prefix) + " ";
        }
      }
    }
    EXPECT_EQ(made, c.made) << c.base;
  }
}

LANDSTAT_BOTH_ENGINES(JbntAreaTablesTest);

class JbntAreaCountyTest : public BothEngines {};

// A "duda" run of a generated county: every table made in every unit and
// scope without a failure, its villages adding up to their township and its
// townships to the county.
TEST_P(JbntAreaCountyTest, DudaRunMakesEveryTableWithLevelsAddingUp) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  testing::InstallStatementScripts();
  const testing::GeneratedCountyRun county(home, 23, 800);
  testing::WriteFileBytes(county.host_settings,
                          "<HostSetting><Set version=\"通用农村duda\"/></HostSetting>");
  testing::WriteFileBytes(county.log, "");
  const auto project = gis::CGisXmlPrj::Open(county.files.project);
  StatisticsRequest request;
  request.project = project.get();
  request.codes = county.codes.get();
  request.connection = database().ConnectionString();
  request.year = "2009";
  request.county = county.options.county_code;
  request.db_mode = Mode();
  request.log_path = county.log;
  const RunReport report = RunStatistics(request);
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted) << testing::ReadFileBytes(county.log);
  EXPECT_EQ(report.failures, 0) << testing::ReadFileBytes(county.log);

  db::Connection result(database().ConnectionString());
  const std::string stem = IsServer() ? "2009" + county.options.county_code : "";
  for (const char* base : {"JBNTBHMJ", "JBNTTXQMJ", "JBNTBSMJ", "JBNTGHWSMJ", "JBNTTCMJ",
                           "JBNTBGJMJ", "JBNTTCHBHQMJ"}) {
    for (const char* copy : {"ZPM", "ZGQ", "ZMU", "QPM", "QGQ", "QMU"}) {
      const std::string table = copy + stem + base;
      std::map<std::string, double> area, below;
      for (const std::string& row : Rows(result, "select XZQDM, BM01 from " + table)) {
        const std::size_t bar = row.find('|');
        const std::string code = row.substr(0, bar);
        area[code] = std::stod(row.substr(bar + 1));
        if (code.size() > 6) below[code.substr(0, code.size() - 3)] += area[code];
      }
      EXPECT_EQ(area.count(county.options.county_code), 1u) << table;
      for (const auto& [parent, sum] : below) {
        EXPECT_NEAR(area[parent], sum, 1e-6) << table << " " << parent;
      }
    }
  }
}

LANDSTAT_BOTH_ENGINES(JbntAreaCountyTest);

// The statement of each database kind: select-into on Access and the
// server, create-table-as on Oracle, the source in place of "SourceTbl".
TEST(JbntAreaStatements, SelectIntoOrCreateTableAs) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "");
  struct StatementCase {
    short mode;  // 2: Oracle
    int table;
    const char *target, *source;
    Strings parts;  // in this order
  };
  const StatementCase cases[] = {
      {0,
       0,
       "ZPMJBNTBHMJ",
       "PMstatdata_jbnt",
       {"select * into ZPMJBNTBHMJ from (select 县级代码 AS XZQDM,县名称 AS XZQMC,SUM(BM01) AS "
        "BM01,",
        " from PMstatdata_jbnt where 是否补划 like 'Y' GROUP BY 县级代码,县名称 union select "
        "乡级代码",
        " GROUP BY 村级代码,村名称) as tt"}},
      {2,
       6,
       "ZGQ2009330102JBNTTCHBHQMJ",
       "GQ2009330102statdata_jbnt",
       {"create table ZGQ2009330102JBNTTCHBHQMJ as select 县级代码 AS XZQDM,县名称 AS XZQMC,"
        "SUM(BM01+BM02+BM03+BM04+BM20+BM10+BM11+BM12) AS ZHJ,SUM(BM01) AS BM01,",
        "SUM(BM02+BM03+BM04+BM20+BM10+BM11+BM12) AS QTHJ,SUM(BM02) AS BM02,",
        " from GQ2009330102statdata_jbnt where (调入备注 IS NULL OR (调入备注 <> 'DH' and "
        "调入备注 <> 'TC')) and 是否补划 like 'N' GROUP BY 县级代码,县名称 union "}},
      {2,
       4,
       "ZMU2009330102JBNTTCMJ",
       "MU2009330102statdata_jbnt",
       {"create table ZMU2009330102JBNTTCMJ as select 县级代码 AS XZQDM",
        "SUM(IIF(地类备注 LIKE 'K' OR 地类备注 LIKE 'k',BM11,0)) AS BM11K",
        "from MU2009330102statdata_jbnt\nwhere 调入备注 LIKE  'TC'"}},
  };
  for (const StatementCase& c : cases) {
    context.m_nDbMode = c.mode;
    context.m_bOracle = c.mode == 2;
    const std::string statement = context.JbntAreaStatement(c.table, c.target, c.source);
    std::size_t at = 0;
    for (const std::string& part : c.parts) {
      at = statement.find(part, at);
      EXPECT_NE(at, std::string::npos) << part << "\n" << statement;
    }
    EXPECT_EQ(statement.find("SourceTbl"), std::string::npos);
  }
}

// JBNTBHMJ on rural runs whose base data were built; the six others on
// "duda" runs, after the farmland stage, whether or not it succeeded, when
// there is a farmland parcel layer.
TEST(JbntAreaStatements, PlacesInTheRun) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "");
  std::map<std::string, Strings> built;
  for (const char* version : {"通用农村", "通用农村duda", "城镇"}) {
    for (const TableFamily* family : FamiliesInStageOrder()) {
      const std::string base = family->base;
      if (base.rfind("JBNT", 0) != 0 || base.substr(base.size() - 2) != "MJ") continue;
      if (!family->builds(RunVariant{version})) continue;
      built[version].push_back(base);
      context.m_aiJbntParcel = 0;
      EXPECT_EQ(family->create(context), 0) << base;
      context.m_aiJbntParcel = 1;
      EXPECT_EQ(family->create(context), base == "JBNTBHMJ" ? 0 : 1) << base;
    }
  }
  EXPECT_EQ(built["通用农村"], Strings{"JBNTBHMJ"});
  EXPECT_EQ(built["通用农村duda"], (Strings{"JBNTBHMJ", "JBNTTXQMJ", "JBNTBGJMJ", "JBNTBSMJ",
                                            "JBNTGHWSMJ", "JBNTTCMJ", "JBNTTCHBHQMJ"}));
  EXPECT_TRUE(built["城镇"].empty());
}

}  // namespace
}  // namespace landstat
