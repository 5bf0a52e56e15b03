// The town-lot run from end to end: its layers found by name, its fixed
// stages, its failure exits and its area-unit rows.

#include "lots/town_lot_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/run_schema.h"
#include "engine/survey_fixture.h"
#include "lots/town_fixture.h"
#include "platform/gis/project.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

// Two lots of the block kVillage and a house on the first.
const std::vector<testing::FieldValues> kLots = {
    {{"地籍号", testing::kVillage + "0010001"}, {"土地用途", "071"}, {"实测面积", "100"}},
    {{"地籍号", testing::kVillage + "0010002"}, {"土地用途", "52"}, {"实测面积", "50.5"}},
};
const std::vector<testing::FieldValues> kHouses = {
    {{"隶属宗地", testing::kVillage + "0010001"}, {"建筑面积", "80"}, {"占地面积", "40"}},
};

class TownLotRunTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_file_ = home_.File("codes.tsv");
    std::string text;
    for (const gis::CODESTRUCT& entry : testing::TownCodeEntries()) {
      text += entry.type + "\t" + entry.code + "\t" + entry.name + "\n";
    }
    testing::WriteFileBytes(codes_file_, text);
    codes_.reset(gis::RuralCode::Load(codes_file_));
    survey_ = home_.File("town.gpkg");
    // The general run the town run needs, recorded without its tables.
    testing::RecordCompletedRun(database().ConnectionString(), "2009", testing::kCountyCode);
  }

  // A project listing `layers` of the survey file.
  std::unique_ptr<gis::CGisXmlPrj> Project(const Strings& layers) {
    std::map<std::string, std::string> listed;
    for (const std::string& layer : layers) listed[layer] = survey_;
    const std::string path = home_.File("project.xml");
    gis::WriteProjectFile(path, testing::kCountyCode, "上城区", listed, codes_file_);
    return gis::CGisXmlPrj::Open(path);
  }

  RunReport Run(gis::CGisXmlPrj& project, short mode, Strings* stages = nullptr) {
    TownLotRequest request;
    request.project = &project;
    request.codes = codes_.get();
    request.connection = database().ConnectionString();
    request.year = "2009";
    request.county = testing::kCountyCode;
    request.db_mode = mode;
    if (stages) request.observer = [stages](const std::string& stage) { stages->push_back(stage); };
    return RunTownLots(request);
  }

  // The database as the run left it: a run on SQLite replaces the file, so
  // the test's own connection, opened before, still sees the old one.
  Strings After(const std::string& sql) {
    db::Connection after(database().ConnectionString());
    return Rows(after, sql);
  }
  bool ExistsAfter(const std::string& table) {
    db::Connection after(database().ConnectionString());
    return after.TableExists(table);
  }

  std::string Name(const std::string& base) const {
    return IsServer() ? "D2009330102" + base : base;
  }

  testing::ScopedProgramDir home_;
  std::string codes_file_, survey_;
  std::unique_ptr<gis::RuralCode> codes_;
};

TEST_P(TownLotRunTest, LotsLayerIsTakenWhenThereIsNoTownOwnershipLayer) {
  testing::WriteTownLayers(survey_, kLots, &kHouses, "宗地");
  auto project = Project({"宗地", "房屋层"});
  Strings stages;
  const RunReport report = Run(*project, Mode(), &stages);
  // Without the general run's tables, the tables that read them fail
  // (logged) and the run completes.
  ASSERT_TRUE(report.Completed()) << (report.messages.empty() ? "" : report.messages.front());
  EXPECT_EQ(After("select 地籍号, 宗地总面积, 建筑面积 from " + Name("statdata_czzd") +
                  " order by 地籍号, 建筑面积"),
            (Strings{"3301020010010010001|100|0", "3301020010010010001|0|80",
                     "3301020010010010002|50.5|0"}));
  EXPECT_EQ(stages.front(), "base table");
  EXPECT_EQ(stages.back(), "publish");
  // Hectares, mu and square metres recorded in that order, once.
  EXPECT_EQ(
      After("select AREAUNIT from " + std::string(IsServer() ? "D330102AreaUnit" : "AreaUnit") +
            " where TYPE='城镇宗地' and 年度='2009'"),
      (Strings{"公顷", "亩", "平方米"}));
}

TEST_P(TownLotRunTest, WithoutLotLayerNothingIsTouched) {
  testing::WriteTownLayers(survey_, kLots, &kHouses, "其他");
  auto project = Project({"其他", "房屋层"});
  const Strings before = db::Connection(database().ConnectionString()).ListTables();
  const RunReport report = Run(*project, Mode());
  EXPECT_EQ(report.Result(), 0);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find("城镇权属层"), std::string::npos);
  EXPECT_NE(report.messages.front().find("宗地"), std::string::npos);
  EXPECT_EQ(db::Connection(database().ConnectionString()).ListTables(), before);
  EXPECT_EQ(Rows(conn(), "select count(*) from StatRuns"), Strings{"1"});
}

TEST_P(TownLotRunTest, FailedBaseFillEndsTheRunAndKeepsWhatWasStored) {
  testing::WriteTownLayers(survey_, kLots, nullptr);
  conn().Execute("create table keep (a int)");
  // Naming mode 2 reads layers stored in the database: tables that lack the
  // lots' fields make the fill fail.
  for (const char* table : {"城镇权属层RRA", "城镇权属层REG"}) {
    conn().Execute(std::string("create table ") + table + " (ID0 int, exist int)");
  }
  const std::string codes_table = "codesTBL";
  conn().Execute("create table " + codes_table + " (代码 varchar(19))");
  auto project = Project({"城镇权属层"});
  Strings stages;
  const RunReport report = Run(*project, 2, &stages);
  EXPECT_EQ(report.Result(), 0);
  EXPECT_GT(report.failures, 0);
  EXPECT_TRUE(stages.empty());
  EXPECT_FALSE(ExistsAfter("D2009330102statdata_czzd"));
  EXPECT_TRUE(ExistsAfter("keep"));
}

TEST_P(TownLotRunTest, SquareMetresOnlyRecordOneUnit) {
  testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\n");
  testing::WriteTownLayers(survey_, kLots, nullptr);
  auto project = Project({"城镇权属层"});
  const RunReport report = Run(*project, Mode());
  ASSERT_TRUE(report.Completed()) << (report.messages.empty() ? "" : report.messages.front());
  EXPECT_EQ(After("select TYPE, AREAUNIT from " +
                  std::string(IsServer() ? "D330102AreaUnit" : "AreaUnit")),
            (Strings{"城镇宗地|平方米"}));
  EXPECT_FALSE(ExistsAfter(IsServer() ? "GQ2009330102statdata_czzd" : "GQstatdata_czzd"));
}

// A lot layer lacking a field some town tables need: the run says so once
// and builds the other tables.
TEST_P(TownLotRunTest, TablesNeedingAMissingFieldAreLeftOut) {
  testing::WriteTownLayers(survey_, kLots, nullptr);
  testing::RunFixtureSql(survey_, "ALTER TABLE 城镇权属层 DROP COLUMN 使用权类型");
  auto project = Project({"城镇权属层"});
  const RunReport report = Run(*project, Mode());
  EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find(
                "图层 城镇权属层 缺少字段 使用权类型 不生成需要该字段的表 CZTDLY_SYQZD"),
            std::string::npos)
      << report.messages.front();
  const std::string stem = IsServer() ? "2009330102" : "";
  EXPECT_FALSE(ExistsAfter("ZGQ" + stem + "CZTDLY_SYQZD"));
  EXPECT_TRUE(ExistsAfter("ZGQ" + stem + "CZZDMJHZ"));
}

// On a server the unit copies but the last are made beside the run, each
// on a connection of its own: those that cannot be made there are logged
// and counted, and their tables left empty while the last is whole.
TEST_P(TownLotRunTest, UnitCopyFailingBesideTheRunIsCountedAndLeftEmpty) {
  if (!IsServer()) GTEST_SKIP() << "copies are made beside the run on a server only";
  testing::WriteTownLayers(survey_, kLots, nullptr);
  auto project = Project({"城镇权属层"});
  // Refuses tables made beside this test's runs, in the schema named after
  // the run's; dropped with the test's schema. A body without a semicolon:
  // statements are split at them.
  const std::string path = conn().Scalar("select current_schema()").AsText();
  const std::string beside = RunSchema::NameOf(path, "2009_town_beside", testing::kCountyCode);
  conn().Execute("create function " + path +
                 ".refuse_beside() returns event_trigger language plpgsql as E'begin "
                 "if exists (select 1 from pg_event_trigger_ddl_commands() "
                 "where schema_name = ''" +
                 beside + "'') then raise exception ''refused beside''\\073 end if\\073 end'");
  conn().Execute("create event trigger refuse_beside_" + path +
                 " on ddl_command_end when tag in ('CREATE TABLE') execute function " + path +
                 ".refuse_beside()");
  const RunReport report = Run(*project, Mode());
  conn().Execute("drop event trigger refuse_beside_" + path);
  EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
  EXPECT_TRUE(
      std::any_of(report.messages.begin(), report.messages.end(), [](const std::string& message) {
        return message.find("refused beside") != std::string::npos;
      }));
  Strings counts;
  for (const char* unit : {"PM", "GQ", "MU"}) {
    counts.push_back(
        After(std::string("select count(*) from ") + unit + "2009330102statdata_czzd").front());
  }
  EXPECT_EQ(counts, (Strings{"0", "0", "2"}));
}

LANDSTAT_BOTH_ENGINES(TownLotRunTest);

}  // namespace
}  // namespace landstat
