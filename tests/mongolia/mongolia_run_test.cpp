// The Inner Mongolia run from end to end: its layers and their fields
// checked first, its fixed stages, its failure exit and what it records.

#include "mongolia/mongolia_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "engine/run_record.h"
#include "engine/shared_code_tables.h"
#include "mongolia/mg_fixture.h"
#include "platform/gis/project.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

class MongoliaRunTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\n");
    codes_file_ = home_.File("mg_codes.tsv");
    testing::WriteMgCodeFile(codes_file_);
    codes_.reset(gis::RuralCode::Load(codes_file_));
    survey_ = home_.File("survey.gpkg");
    // The ownership codes the general run leaves, which the ledger reads.
    conn().Execute(kQsdmbTable.create);
    testing::RecordCompletedRun(database().ConnectionString(), "2009", testing::kMgCounty);
  }

  std::unique_ptr<gis::CGisXmlPrj> Project(const testing::SurveyFeatures& survey) {
    testing::WriteSurvey(survey_, survey);
    std::map<std::string, std::string> listed;
    for (const char* layer : {"地类图斑", "线状地物", "零星地物"}) listed[layer] = survey_;
    const std::string path = home_.File("project.xml");
    gis::WriteProjectFile(path, testing::kMgCounty, "新城区", listed, codes_file_);
    return gis::CGisXmlPrj::Open(path);
  }

  RunReport Run(gis::CGisXmlPrj& project, Strings* stages = nullptr,
                const std::string& year = "2009", bool replace = false) {
    MongoliaRequest request;
    request.project = &project;
    request.second_codes = codes_.get();
    request.connection = database().ConnectionString();
    request.year = year;
    request.county = testing::kMgCounty;
    request.replace_other = replace;
    if (stages) request.observer = [stages](const std::string& stage) { stages->push_back(stage); };
    return RunMongolia(request);
  }

  Strings After(const std::string& sql) {
    db::Connection after(database().ConnectionString());
    return Rows(after, sql);
  }

  testing::SurveyFeatures Survey() const {
    return testing::MgSurvey(
        {testing::MgParcel("1", "011", "100"), testing::MgParcel("2", "123", "20.25")},
        {testing::MgLine("0.5", "10.3")});
  }

  testing::ScopedProgramDir home_;
  std::string codes_file_, survey_;
  std::unique_ptr<gis::RuralCode> codes_;
};

TEST_P(MongoliaRunTest, BuildsTheBaseTableCodesAndUnits) {
  auto project = Project(Survey());
  Strings stages;
  const RunReport report = Run(*project, &stages);
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted)
      << (report.messages.empty() ? "" : report.messages.front());
  // Plain names on either database; the statements are the database's own.
  EXPECT_EQ(After("select count(*), sum(土地总面积) from statdataMG"), Strings{"4|130.6"});
  EXPECT_EQ(After("select count(*) from QSDMBMG"), Strings{"5"});
  EXPECT_EQ(After("select TYPE, AREAUNIT from AreaUnitMG where 年度='2009'"),
            (Strings{"土地利用|公顷", "基本农田|公顷", "土地利用|平方米", "基本农田|平方米"}));
  EXPECT_EQ(stages,
            (Strings{"base table", "unit copies", "TDLY_YJFLMG", "TDLY_EJFLMG", "NCTDLY_YJFLMG",
                     "NCTDLY_EJFLMG", "TDLYTZMG", "TDLY_EJFLTZMG", "area units", "publish"}));
  {
    db::Connection after(database().ConnectionString());
    EXPECT_EQ(LastRunRecord(after, "2009", testing::kMgCounty)->kind, "mongolia");
  }
  // Hectares no longer wanted: their tables and area-unit records go, and
  // the notice says which.
  testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\n");
  const RunReport again = Run(*project);
  ASSERT_TRUE(again.Completed());
  ASSERT_FALSE(again.notices.empty());
  EXPECT_NE(again.notices.front().find("不再统计 公顷; "), std::string::npos);
  EXPECT_NE(again.notices.front().find("ZGQTDLY_YJFLMG"), std::string::npos);
  db::Connection after(database().ConnectionString());
  EXPECT_FALSE(after.TableExists("GQstatdataMG"));
  EXPECT_TRUE(after.TableExists("ZPMTDLY_YJFLMG"));
  EXPECT_EQ(Rows(after, "select TYPE, AREAUNIT from AreaUnitMG order by TYPE"),
            (Strings{"土地利用|平方米", "基本农田|平方米"}));
}

// Without the general run's QSDMB the ledger's rows stay unnamed and the
// run logs it; without its rural second-level table the ledger's work table
// is not made, an earlier one is dropped, and a notice says why.
TEST_P(MongoliaRunTest, LedgerWithoutTheGeneralTablesItReads) {
  conn().Execute("drop table QSDMB");
  conn().Execute("create table ZPMTDLY_EJFLTZMG (XZQDM varchar(19))");
  auto project = Project(Survey());
  const RunReport report = Run(*project);
  EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
  ASSERT_EQ(report.messages.size(), 1u);
  EXPECT_NE(report.messages.front().find("QSDMB"), std::string::npos) << report.messages.front();
  EXPECT_EQ(After("select count(*), min(省名称) from ZPMTDLYTZMG"), Strings{"2|"});
  std::string notices;
  for (const std::string& notice : report.notices) notices += notice + "\n";
  EXPECT_NE(notices.find("ZPMTDLY_EJFLTZMG 没有表 ZPM"), std::string::npos) << notices;
  EXPECT_FALSE(db::Connection(database().ConnectionString()).TableExists("ZPMTDLY_EJFLTZMG"));
}

TEST_P(MongoliaRunTest, LayerWithoutOwnerFieldFailsBeforeTheDatabase) {
  testing::SurveyFeatures survey = Survey();
  std::erase_if(survey.parcel_fields,
                [](const testing::FixtureField& f) { return f.name == "内蒙古权属单位名称"; });
  auto project = Project(survey);
  const Strings before = db::Connection(database().ConnectionString()).ListTables();
  const RunReport report = Run(*project);
  EXPECT_EQ(report.Result(), 0);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find("图层 地类图斑 缺少字段 内蒙古权属单位名称"),
            std::string::npos)
      << report.messages.front();
  EXPECT_EQ(db::Connection(database().ConnectionString()).ListTables(), before);
}

TEST_P(MongoliaRunTest, FailedBaseTableLeavesTheDatabaseAsItWas) {
  // A view of the base table's name: it can be neither dropped nor replaced.
  conn().Execute("create table keep (a int)");
  conn().Execute("create view statdataMG as select a from keep");
  testing::RecordCompletedRun(database().ConnectionString(), "2009", testing::kMgCounty);
  auto project = Project(Survey());
  const Strings before = conn().ListTables();
  const RunReport report = Run(*project);
  EXPECT_EQ(report.Result(), 0);
  EXPECT_GT(report.failures, 0);
  // Only the record of the run changed: the area-unit table made before
  // the base table failed went with the run.
  db::Connection after(database().ConnectionString());
  EXPECT_EQ(after.ListTables(), before);
  EXPECT_EQ(Rows(after, "select count(*) from statdataMG"), Strings{"0"});
  const auto record = LastRunRecord(after, "2009", testing::kMgCounty);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->outcome, RunOutcomeText(RunOutcome::kFailed));
  EXPECT_FALSE(after.TableExists("AreaUnitMG"));
}

// Refused before the database is touched: a database without the general
// run of the year and county, and Inner Mongolia tables that hold another
// year or county (they are named alike for all), unless asked to replace.
TEST_P(MongoliaRunTest, RefusesWhatItWouldLoseOrLack) {
  auto project = Project(Survey());
  const std::string other = "150103";
  const auto record = [&](const std::string& year, const std::string& county) {
    testing::RecordCompletedRun(database().ConnectionString(), year, county, "mongolia");
  };
  const struct {
    std::function<void()> before;
    std::string year;
    bool replace;
    std::string said;  // empty: completes
  } cases[] = {
      {[&] { conn().Execute("delete from StatRuns"); }, "2009", false,
       "holds no completed statistics run, not those of 2009 150102: run the statistics of "
       "2009 150102 first"},
      {[&] {
         testing::RecordCompletedRun(database().ConnectionString(), "2009", testing::kMgCounty);
       },
       "2009", false, ""},
      // A run of another year or county after an Inner Mongolia run: on a
      // file it replaced the file's statistics, those tables with them; on
      // a server they stay the other's.
      {[&] {
         record("2009", other);
         testing::RecordCompletedRun(database().ConnectionString(), "2009", testing::kMgCounty);
       },
       "2009", false,
       IsServer() ? "mongolia tables (named without year or county) of year 2009, county " + other
                  : ""},
      {[] {}, "2009", true, ""},
      {[&] {
         testing::RecordCompletedRun(database().ConnectionString(), "2010", testing::kMgCounty);
       },
       "2010", false,
       IsServer() ? "of year 2009, county 150102; to run 2010 150102 into them" : ""},
      {[] {}, "2010", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    c.before();
    const Strings before = After("select count(*) from StatRuns");
    const Strings tables = conn().ListTables();
    const RunReport report = Run(*project, nullptr, c.year, c.replace);
    if (c.said.empty()) {
      EXPECT_EQ(report.outcome, RunOutcome::kCompleted)
          << (report.messages.empty() ? "" : report.messages.front());
      continue;
    }
    EXPECT_EQ(report.Result(), 0);
    ASSERT_FALSE(report.messages.empty());
    EXPECT_NE(report.messages.front().find(c.said), std::string::npos) << report.messages.front();
    EXPECT_EQ(conn().ListTables(), tables);
    EXPECT_EQ(After("select count(*) from StatRuns"), before);
  }
  EXPECT_EQ(After("select distinct 县级代码 from statdataMG"), Strings{testing::kMgCounty});
}

// Ownership codes too short, of another county or not digits are logged
// with their layer, record, field and value, and their pieces left out, by
// either fill; so is each record of the code file whose code has a length
// no level has or whose higher units it lacks.
TEST_P(MongoliaRunTest, OwnershipCodesAndTheirCodeFileChecked) {
  testing::WriteFileBytes(codes_file_, testing::ReadFileBytes(codes_file_) +
                                           "村行政代码\t150102010\t九位\n"
                                           "村行政代码\t1501020102001\t无管局\n");
  codes_.reset(gis::RuralCode::Load(codes_file_));
  const Strings bad = {"3301", "1501030101001000001", "15010201O1001000001", "15010201010"};
  std::vector<testing::FieldValues> parcels = {testing::MgParcel("1", "011", "100")};
  for (const std::string& code : bad) {
    parcels.push_back(testing::MgParcel("2", "011", "7", {{"内蒙古权属单位代码", code}}));
  }
  auto project = Project(testing::MgSurvey(parcels));
  for (const short mode : {0, 2}) {
    MongoliaRequest request;
    request.project = project.get();
    request.second_codes = codes_.get();
    request.connection = database().ConnectionString();
    request.year = "2009";
    request.county = testing::kMgCounty;
    request.db_mode = mode;
    const RunReport report = RunMongolia(request);
    EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
    std::string failures;
    for (const std::string& message : report.messages) failures += message + "\n";
    EXPECT_EQ(report.failures, 6) << failures;
    for (const std::string& code : bad) {
      EXPECT_NE(failures.find("字段 内蒙古权属单位代码 '" + code + "'"), std::string::npos)
          << failures;
    }
    for (const char* line : {"line 15 the administrative code '150102010' has 9 characters",
                             "line 16 the administrative code '1501020102001' lacks its higher "
                             "units in the file: 1501020102"}) {
      EXPECT_NE(failures.find(line), std::string::npos) << failures;
    }
    EXPECT_EQ(After("select count(*), sum(土地总面积) from statdataMG"), Strings{"1|100"});
  }
}

LANDSTAT_BOTH_ENGINES(MongoliaRunTest);

}  // namespace
}  // namespace landstat

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

// The balancing of a mu copy made by hand against its square-metre copy.
class MgBalancingTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=亩\n");
    codes_.reset(gis::RuralCode::FromEntries(testing::MgCodeEntries()));
    context_ = testing::MgContext(codes_.get(), database().ConnectionString());
    ASSERT_EQ(context_->CreateUnitStatTables(), 1);
  }

  void Insert(const std::string& table, const std::string& location, const std::string& kind,
              const std::string& figures) {
    context_->m_pConn.Execute("insert into " + table +
                              " (座落单位代码,权属性质,土地总面积,BM104,BM123,BM10) values ('" +
                              location + "','" + kind + "'," + figures + ")");
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CMgStatContext> context_;
};

TEST_P(MgBalancingTest, TopDownByUnitRowAndClass) {
  const std::string a = testing::kMgOwner, b = testing::kMgCounty + "0000000000002";
  // Square metres: the county holds 1500 m², 2.3 mu; the mu copy 2.2.
  const struct {
    std::string location, kind, metres, mu;
  } rows[] = {{a, "10", "1000,600,400,0", "1.5,0.9,0.6,0"},
              {a, "20", "200,200,0,0", "0.3,0.3,0,0"},
              {b, "10", "300,0,300,0", "0.4,0,0.4,0"},
              // Outside the county: a negative total cannot be balanced,
              // and a row without classes anywhere has no leaf to step.
              {"9999", "10", "-300,100,0,0", "-0.5,0.2,0,7"},
              {"9998", "10", "700,0,0,0", "1,0,0,0"}};
  for (const auto& row : rows) {
    Insert("PMstatdataMG", row.location, row.kind, row.metres);
    Insert("MUstatdataMG", row.location, row.kind, row.mu);
  }
  ASSERT_EQ(context_->BalanceStatData(), 1);
  // The step goes to the larger unit, its row above 1, its class 123
  // before 104; parents are the sums of their leaves.
  EXPECT_EQ(Rows(conn(),
                 "select 座落单位代码, 土地总面积, BM104, BM123, BM10, BM12 from "
                 "MUstatdataMG order by 座落单位代码, 权属性质"),
            (Strings{b + "|0.4|0|0.4|0|0.4", a + "|1.6|0.9|0.7|0.9|0.7", a + "|0.3|0.3|0|0.3|0",
                     "9998|1|0|0|0|0", "9999|-0.5|0.2|0|0.2|0"}));
  EXPECT_EQ(context_->m_nErrCount, 2);
  std::string failures;
  for (const std::string& failure : context_->m_arrFirstFailures) failures += failure + "\n";
  EXPECT_NE(failures.find("座落单位代码 9998 土地总面积 1"), std::string::npos) << failures;
  EXPECT_NE(failures.find("座落单位代码 9999 土地总面积 -0.5"), std::string::npos) << failures;
  // The copy of unit 1 is the reference and stays as it was.
  EXPECT_EQ(Rows(conn(), "select sum(土地总面积) from PMstatdataMG"), Strings{"1900"});
}

// Rows of a unit with equal totals take its steps in the order of their
// group columns, whatever order the database returns them in: the same
// figures on every engine.
TEST_P(MgBalancingTest, EqualRowsStepInTheOrderOfTheirGroupColumns) {
  // The later key goes in first; the county holds 1933.3 m², 2.9 mu.
  for (const auto& [kind, metres] : {std::pair{"20", "966.7"}, std::pair{"10", "966.6"}}) {
    Insert("PMstatdataMG", testing::kMgOwner, kind, std::string(metres) + "," + metres + ",0,0");
    Insert("MUstatdataMG", testing::kMgOwner, kind, "1.4,1.4,0,0");
  }
  ASSERT_EQ(context_->BalanceStatData(), 1);
  EXPECT_EQ(Rows(conn(), "select 权属性质, 土地总面积, BM104 from MUstatdataMG order by 权属性质"),
            (Strings{"10|1.5|1.5", "20|1.4|1.4"}));
}

LANDSTAT_BOTH_ENGINES(MgBalancingTest);

// The summaries of a square-metre copy made by hand: its levels, the
// ownership units of the county's length only with the level switch, the
// rural total without the classes 05 to 09, nothing for the ownership scope.
TEST_P(MgBalancingTest, SummariesByLevel) {
  context_->m_pConn.Execute(
      "insert into PMstatdataMG (县级代码,县名称,类别码,管局级码,管局下属二级单位码,"
      "内蒙古权属单位代码,内蒙古权属单位名称,土地总面积,BM01,BM011,BM05,BM051,BM10,BM104) values "
      "('150102','新城区','15010201','1501020101','1501020101001','1501020101001000','一队',"
      "30,10,10,20,20,0,0),"
      "('150102','新城区','15010201','1501020101','1501020101001','1501020101001000001','二队',"
      "5,0,0,0,0,5,5)");
  const auto build = [&] {
    context_->CreateTdlyYjflTables();
    context_->StatTdlyClass(1);
    context_->CreateNcTdlyYjflTables();
    context_->StatNcTdlyClass(1);
  };
  build();
  EXPECT_EQ(Rows(conn(),
                 "select XZQDM, XZQMC, XZQZMJ, BM01, BM05, BM10 from ZPMTDLY_YJFLMG order "
                 "by XZQDM"),
            (Strings{"150102|新城区|35|10|20|5", "15010201||35|10|20|5", "1501020101||35|10|20|5",
                     "1501020101001||35|10|20|5", "1501020101001000|一队|30|10|20|0"}));
  EXPECT_EQ(Rows(conn(), "select XZQZMJ from ZPMNCTDLY_YJFLMG where XZQDM = '150102'"),
            Strings{"15"});
  EXPECT_FALSE(conn().TableExists("ZGQTDLY_YJFLMG"));
  context_->m_nLevelSwitch = 0;
  build();
  EXPECT_EQ(Rows(conn(), "select count(*) from ZPMTDLY_YJFLMG"), Strings{"4"});
  context_->m_nStatType = 1;
  context_->DropTable("ZPMNCTDLY_YJFLMG");
  build();
  EXPECT_FALSE(conn().TableExists("ZPMNCTDLY_YJFLMG"));
  EXPECT_EQ(context_->m_nErrCount, 0);
}

}  // namespace
}  // namespace landstat
