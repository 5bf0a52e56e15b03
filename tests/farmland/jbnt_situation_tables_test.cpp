// The farmland situation tables JBNTQKTJ: hand-summed rows by location and
// by ownership, the "山东" remark filter, which copies are made and in which
// order, failures, the unit conversion's rebuild and the Oracle texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/statistics_run.h"
#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/db/recordset.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/database_conversion.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

constexpr char kGroupA[] = "3301020010010010000";
constexpr char kGroupB[] = "3301020010010020000";

// The columns the fill reads: the stored levels, the owner, the remark and
// the 48 classes.
constexpr char kSourceColumns[] =
    "(调入备注 varchar(10),县级代码 varchar(19),县名称 varchar(60),乡级代码 varchar(19),"
    "乡名称 varchar(60),村级代码 varchar(19),村名称 varchar(60),座落单位代码 varchar(19),"
    "座落单位名称 varchar(60),权属单位代码 varchar(19)";
const Strings kClasses = {"BM01",  "BM011", "BM012", "BM013", "BM02",  "BM021", "BM022", "BM023",
                          "BM03",  "BM031", "BM032", "BM033", "BM04",  "BM041", "BM042", "BM043",
                          "BM10",  "BM101", "BM102", "BM103", "BM104", "BM105", "BM106", "BM107",
                          "BM11",  "BM111", "BM112", "BM113", "BM114", "BM115", "BM116", "BM117",
                          "BM118", "BM119", "BM12",  "BM121", "BM122", "BM123", "BM124", "BM125",
                          "BM126", "BM127", "BM20",  "BM201", "BM202", "BM203", "BM204", "BM205"};

// Four parcels of two townships: BM01 is not the sum of its subclasses and
// no parcel has class 10 (all NULL); the remarks are NULL, 'TC', '' and 'K'.
constexpr const char* kParcels[] = {
    "NULL,'330102001','一乡','330102001001','一村','3301020010010010000','甲组',"
    "'3301020010010010000',10,6,3,2,5",
    "'TC','330102001','一乡','330102001001','一村','3301020010010020000','乙组',"
    "'3301020010010020000',NULL,100,NULL,NULL,1",
    "'','330102002','二乡','330102002001','二村','330102002001','二村',"
    "'330102002001',NULL,NULL,7,NULL,NULL",
    "'K','330102002','二乡','330102002001','二村','330102002001','二村',"
    "'330102002001',NULL,NULL,NULL,1,4",
};

class JbntSituationTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    context_ = Context("通用农村");
  }

  std::unique_ptr<CStatContext> Context(const std::string& version) {
    auto context =
        testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode(), version);
    return context;
  }

  std::string Prefix() const { return IsServer() ? "2009330102" : ""; }
  std::string Table(const std::string& copy) const { return copy + Prefix() + "JBNTQKTJ"; }

  // A table of the columns the fill reads (less `missing`) holding the
  // hand-made parcels.
  void WriteSource(const std::string& table, const std::string& missing = "") {
    std::string create = std::string("create table ") + table + kSourceColumns;
    for (const std::string& column : kClasses) {
      if (column != missing) create += "," + column + " double";
    }
    conn().Execute(context_->TypeWords(create + ")"));
    InsertParcels(table);
  }

  // The parcels in one county; class 20 holds what BM013 holds.
  void InsertParcels(const std::string& table) {
    for (const char* values : kParcels) {
      conn().Execute("insert into " + table +
                     " (调入备注,乡级代码,乡名称,村级代码,村名称,座落单位代码,座落单位名称,"
                     "权属单位代码,BM01,BM011,BM012,BM013,BM02) values (" +
                     values + ")");
    }
    conn().Execute("update " + table + " set 县级代码='330102', 县名称='上城区', BM20=BM013");
  }

  Strings Summed(const std::string& table) {
    return Rows(conn(),
                "select XZQDM, XZQMC, ZHJ, BM01HJ, BM011, BM012, BM013, QTHJ, BM02, BM20,"
                " BM10 from " +
                    table + " order by XZQDM, XZQMC");
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

// Each row: code, name, ZHJ, BM01HJ, BM011, BM012, BM013, QTHJ, BM02, BM20,
// BM10. ZHJ = BM011+BM012+BM013+QTHJ whatever BM01HJ holds; class 10 sums
// NULLs to 0; the 12-character unit code gets no unit row.
TEST_P(JbntSituationTablesTest, RowsAreSummedByLevel) {
  const struct {
    const char* version;
    short scope;
    bool unit_level;
    Strings rows;
  } cases[] = {
      {"通用农村",
       0,
       true,
       {"330102|上城区|132|10|106|10|3|13|10|3|0", "330102001|一乡|119|10|106|3|2|8|6|2|0",
        "330102001001|一村|119|10|106|3|2|8|6|2|0",
        std::string(kGroupA) + "|甲组|18|10|6|3|2|7|5|2|0",
        std::string(kGroupB) + "|乙组|101|0|100|0|0|1|1|0|0", "330102002|二乡|13|0|0|7|1|5|4|1|0",
        "330102002001|二村|13|0|0|7|1|5|4|1|0"}},
      // 'TC' left out; the NULL, empty and 'K' remarks kept, at every level.
      {"山东农村",
       0,
       true,
       {"330102|上城区|31|10|6|10|3|12|9|3|0", "330102001|一乡|18|10|6|3|2|7|5|2|0",
        "330102001001|一村|18|10|6|3|2|7|5|2|0", std::string(kGroupA) + "|甲组|18|10|6|3|2|7|5|2|0",
        "330102002|二乡|13|0|0|7|1|5|4|1|0", "330102002001|二村|13|0|0|7|1|5|4|1|0"}},
      // By owner prefixes, names from the code map (none for 二乡, 二村).
      {"通用农村",
       1,
       true,
       {"330102|上城区|132|10|106|10|3|13|10|3|0", "330102001|一乡|119|10|106|3|2|8|6|2|0",
        "330102001001|一村|119|10|106|3|2|8|6|2|0",
        std::string(kGroupA) + "|一组|18|10|6|3|2|7|5|2|0",
        std::string(kGroupB) + "||101|0|100|0|0|1|1|0|0", "330102002||13|0|0|7|1|5|4|1|0",
        "330102002001||13|0|0|7|1|5|4|1|0"}},
  };
  WriteSource(context_->Names().UnitCopy(kHectare, "statdata_jbnt"));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " scope " + std::to_string(c.scope));
    auto context = Context(c.version);
    context->m_bPm = context->m_bMu = false;
    context->m_nStatScope = c.scope;
    context->m_bGroupLevel = c.unit_level;
    ASSERT_EQ(context->CreateJbntQktjTables(), 1);
    EXPECT_EQ(context->StatJbntQktj(), 1);
    EXPECT_EQ(context->m_nErrCount, 0);
    EXPECT_EQ(Summed(Table(c.scope == 0 ? "ZGQ" : "QGQ")), c.rows);
  }
}

// Copies in the create order MU, GQ, PM (Z before Q), none in square metres
// under m_bNoPmTables; the fill takes every Z table, then every Q table: a
// missing unit copy is logged for each, in that order, and the run goes on.
TEST_P(JbntSituationTablesTest, CopiesAreMadeAndFilledInOrder) {
  const struct {
    short scope;
    bool no_pm;
    Strings copies;
  } cases[] = {
      {0, false, {"ZMU", "ZGQ", "ZPM"}},
      {1, false, {"QMU", "QGQ", "QPM"}},
      {2, false, {"ZMU", "QMU", "ZGQ", "QGQ", "ZPM", "QPM"}},
      {2, true, {"ZMU", "QMU", "ZGQ", "QGQ"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.scope) + (c.no_pm ? " no PM" : ""));
    auto context = Context("通用农村");
    context->m_nStatScope = c.scope;
    context->m_bNoPmTables = c.no_pm;
    ASSERT_EQ(context->CreateJbntQktjTables(), 1);
    Strings created, filled;
    for (const std::string& copy : c.copies) created.push_back(Table(copy));
    EXPECT_EQ(context->m_arrCreatedTbls, created);
    for (const std::string& copy : c.copies) EXPECT_TRUE(conn().TableExists(Table(copy))) << copy;
    EXPECT_EQ(context->StatJbntQktj(), 1);
    for (const char* scope : {"Z", "Q"}) {
      for (const char* unit : {"PM", "GQ", "MU"}) {
        const std::string table = Table(std::string(scope) + unit);
        if (std::find(created.begin(), created.end(), table) == created.end()) continue;
        filled.push_back(std::to_string(filled.size() + 1) + " 汇总基本农田情况统计表 " + table +
                         " 缺少基本农田基础数据表 " + unit + Prefix() + "statdata_jbnt");
      }
    }
    EXPECT_EQ(context->m_arrFirstFailures, filled);
  }
}

// A copy without one of the 48 classes: the county statement fails, is
// logged, and the table stays empty. A table the database refuses to
// create is logged and not listed among the run's tables.
TEST_P(JbntSituationTablesTest, FailuresAreLogged) {
  context_->m_bPm = context_->m_bMu = false;
  context_->m_nStatScope = 0;
  WriteSource(context_->Names().UnitCopy(kHectare, "statdata_jbnt"), "BM117");
  ASSERT_EQ(context_->CreateJbntQktjTables(), 1);
  EXPECT_EQ(context_->StatJbntQktj(), 1);
  EXPECT_EQ(context_->CreateJbntQktjTable("bad name"), 0);
  EXPECT_EQ(context_->m_arrCreatedTbls, Strings{Table("ZGQ")});
  ASSERT_EQ(context_->m_arrFirstFailures.size(), 2U);
  EXPECT_EQ(context_->m_nErrCount, 2);
  EXPECT_NE(context_->m_arrFirstFailures[0].find("汇总基本农田情况统计表 " + Table("ZGQ")),
            std::string::npos)
      << context_->m_arrFirstFailures[0];
  EXPECT_NE(context_->m_arrFirstFailures[1].find("建立基本农田情况统计表 bad name"),
            std::string::npos)
      << context_->m_arrFirstFailures[1];
  EXPECT_EQ(Summed(Table("ZGQ")), Strings{});
}

// The unit conversion's table: rebuilt by location from the ex table, which
// has no remark, so "山东" leaves nothing out; the farmland balancer passes
// on it.
TEST_P(JbntSituationTablesTest, ConversionRebuildsFromTheExTable) {
  auto context = Context("山东农村");
  context->m_bGroupLevel = true;
  for (const std::string& column : kClasses) {
    if (std::find(context->m_arrStatFields.begin(), context->m_arrStatFields.end(), column) ==
        context->m_arrStatFields.end()) {
      context->m_arrStatFields.push_back(column);
    }
  }
  ASSERT_EQ(context->CreateJbntStatTable(), 1);
  InsertParcels(context->m_strJbntTbl);
  conn().Execute("update " + context->m_strJbntTbl +
                 " set BM01=COALESCE(BM011,0)+COALESCE(BM012,0)+COALESCE(BM013,0)");
  ASSERT_EQ(context->CreateJbntQktjConvertedTable(), 1);
  EXPECT_EQ(context->StatJbntQktjConverted(), 1);
  EXPECT_EQ(context->m_nErrCount, 0) << context->m_strLogLine;
  EXPECT_EQ(context->m_arrCreatedTbls, Strings{});
  const std::string table = context->Names().Plain("JBNTQKTJ");
  EXPECT_EQ(
      Summed(table),
      (Strings{"330102|上城区|132|119|106|10|3|13|10|3|0", "330102001|一乡|119|111|106|3|2|8|6|2|0",
               "330102001001|一村|119|111|106|3|2|8|6|2|0",
               std::string(kGroupA) + "|甲组|18|11|6|3|2|7|5|2|0",
               std::string(kGroupB) + "|乙组|101|100|100|0|0|1|1|0|0",
               "330102002|二乡|13|8|0|7|1|5|4|1|0", "330102002001|二村|13|8|0|7|1|5|4|1|0"}));
  EXPECT_EQ(context->BalanceJbntQktj(), 1);
  EXPECT_EQ(Summed(table)[0], "330102|上城区|132|119|106|10|3|13|10|3|0");
}

// A rural run of a generated county: in the hectare tables townships add up
// to the county and villages to their township, ZHJ is BM011+BM012+BM013+
// QTHJ, and the county totals by location and by ownership agree; so after
// a unit conversion in the unit-less table.
TEST_P(JbntSituationTablesTest, LevelsOfARunAddUp) {
  testing::InstallStatementScripts();
  testing::GeneratedCountyRun county(home_, 29);
  testing::WriteFileBytes(county.host_settings,
                          "<HostSetting><Set version=\"通用农村\"/></HostSetting>");
  testing::WriteFileBytes(county.log, "");
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county.files.project);
  StatisticsRequest request;
  request.project = project.get();
  request.codes = county.codes.get();
  request.connection = database().ConnectionString();
  request.year = "2009";
  request.county = county.options.county_code;
  request.db_mode = Mode();
  request.log_path = county.log;
  ASSERT_EQ(RunStatistics(request).outcome, RunOutcome::kCompleted);
  EXPECT_EQ(testing::ReadFileBytes(county.log).find("基本农田情况"), std::string::npos);

  const TableNames names(Mode(), "2009", county.options.county_code);
  const std::string& county_code = county.options.county_code;
  // The county row of a table whose rows are checked. After the balancing
  // of a conversion a village's and unit's ZHJ keep their converted value:
  // there only the county row's ZHJ and the levels' other columns add up.
  const auto county_row = [&](const std::string& table, bool balanced) {
    SCOPED_TRACE(table);
    db::Connection result(database().ConnectionString());
    const Strings columns = {"ZHJ", "BM01HJ", "BM011", "BM012", "BM013", "QTHJ", "BM02", "BM20"};
    std::map<std::string, std::map<std::string, double>> rows, sums;
    for (db::Recordset set(result, "select * from " + table); !set.IsEOF(); set.MoveNext()) {
      const std::string code = set.Text("XZQDM");
      for (const std::string& column : columns) rows[code][column] += set.Number(column);
      if (!balanced || code == county_code) {
        EXPECT_NEAR(
            set.Number("ZHJ"),
            set.Number("BM011") + set.Number("BM012") + set.Number("BM013") + set.Number("QTHJ"),
            1e-6)
            << code;
      }
      if (code.size() == 9 || code.size() == 12) {
        for (const std::string& column : columns) {
          sums[code.substr(0, code.size() - 3)][column] += set.Number(column);
        }
      }
    }
    EXPECT_GT(sums.size(), 2U);
    for (const auto& [parent, sum] : sums) {
      for (const std::string& column : columns) {
        if (balanced && column == "ZHJ") continue;
        EXPECT_NEAR(sum.at(column), rows[parent][column], 1e-6) << parent << " " << column;
      }
    }
    return rows[county_code];
  };
  const double total = county_row(names.Summary('Z', kHectare, "JBNTQKTJ"), false)["ZHJ"];
  EXPECT_GT(total, 0);
  EXPECT_NEAR(county_row(names.Summary('Q', kHectare, "JBNTQKTJ"), false)["ZHJ"], total, 1e-6);

  // The unit conversion rebuilds the unit-less table from the farmland rows
  // and converts it to hectares: balanced, it adds up like the run's.
  ASSERT_EQ(ConvertStatDatabase(county.codes.get(), database().ConnectionString(), Mode(), "2009",
                                county_code, kHectare, -1, 1, county.log),
            1);
  EXPECT_EQ(testing::FailureLines(county.log), "");
  EXPECT_NEAR(county_row(names.Plain("JBNTQKTJ"), true)["ZHJ"], total, 1e-2);
}

TEST(JbntSituationOracleTexts, OwnershipLevelsUseSubstr) {
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, "2009", "330102", "", 1, "山东农村");
  context.m_nDbMode = 1;
  context.m_bOracle = true;
  const std::string county = context.JbntQktjStatement("T", "S", 4, 1);
  EXPECT_EQ(county.rfind("INSERT INTO T (XZQDM,BM01HJ,BM011,BM012,BM013,BM02,", 0), 0U) << county;
  for (const char* expected :
       {",QTHJ,ZHJ) SELECT XZQDM,BM01,BM011,",
        ",BM02+BM03+BM04+BM10+BM11+BM12+BM20,"
        "BM011+BM012+BM013+BM02+BM03+BM04+BM10+BM11+BM12+"
        "BM20 FROM (select substr(权属单位代码,0,6) AS XZQDM,"
        "COALESCE(SUM(BM01),0) AS BM01,",
        " from S WHERE (调入备注 IS NULL OR 调入备注 <> 'TC') GROUP BY substr(权属单位代码,0,6)) "
        "tt"}) {
    EXPECT_NE(county.find(expected), std::string::npos) << expected << "\n" << county;
  }
  EXPECT_NE(context.JbntQktjStatement("T", "S", 1, 1)
                .find(" from S where 权属单位代码 like '330102_____________' AND (调入备注 IS NULL "
                      "OR 调入备注 <> 'TC') GROUP BY 权属单位代码) tt"),
            std::string::npos);
  EXPECT_EQ(context.JbntQktjStatement("T", "S", 3, 1).find("left("), std::string::npos);
}

LANDSTAT_BOTH_ENGINES(JbntSituationTablesTest);

}  // namespace
}  // namespace landstat
