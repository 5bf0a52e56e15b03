// The Inner Mongolia run from end to end: its layers and their fields
// checked first, its fixed stages, its failure exit and what it records.

#include "mongolia/mongolia_run.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/run_record.h"
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
  }

  std::unique_ptr<gis::CGisXmlPrj> Project(const testing::SurveyFeatures& survey) {
    testing::WriteSurvey(survey_, survey);
    std::map<std::string, std::string> listed;
    for (const char* layer : {"地类图斑", "线状地物", "零星地物"}) listed[layer] = survey_;
    const std::string path = home_.File("project.xml");
    gis::WriteProjectFile(path, testing::kMgCounty, "新城区", listed, codes_file_);
    return gis::CGisXmlPrj::Open(path);
  }

  RunReport Run(gis::CGisXmlPrj& project, Strings* stages = nullptr) {
    MongoliaRequest request;
    request.project = &project;
    request.second_codes = codes_.get();
    request.connection = database().ConnectionString();
    request.year = "2009";
    request.county = testing::kMgCounty;
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
  EXPECT_EQ(stages, (Strings{"base table", "area units", "publish"}));
  db::Connection after(database().ConnectionString());
  EXPECT_EQ(LastRunRecord(after, "2009", testing::kMgCounty)->kind, "mongolia");
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

LANDSTAT_BOTH_ENGINES(MongoliaRunTest);

}  // namespace
}  // namespace landstat
