// Whole statistics runs through the engine's entry points: the tables a run
// leaves, the runs that stop early, the run's log, and the areas of a
// generated county carried through the base table and its unit copies.

#include "engine/stat_drivers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/run_record.h"
#include "engine/survey_fixture.h"
#include "platform/gis/project.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::BothEngines;
using testing::FixtureField;
using testing::JetConnectionString;
using testing::Numbers;
using testing::OpenSurvey;
using testing::ReadFileBytes;
using testing::ScopedProgramDir;
using testing::SurveyFeatures;
using testing::Texts;
using testing::WriteFileBytes;
using testing::WriteStatConfig;
using Strings = std::vector<std::string>;

constexpr char kYear[] = "2009";

// The small county with a field of its parcel layer left out.
SurveyFeatures SmallCountyWithout(const std::string& field) {
  SurveyFeatures county = testing::SmallCounty();
  std::erase_if(county.parcel_fields, [&](const FixtureField& f) { return f.name == field; });
  for (testing::FieldValues& parcel : county.parcels) {
    std::erase_if(parcel, [&](const auto& value) { return value.first == field; });
  }
  return county;
}
constexpr char kCounty[] = "330102";

class StatDriversTest : public BothEngines {
 protected:
  void SetUpDatabase() override { WriteStatConfig(testing::kThreeUnits); }

  std::string Plain(const std::string& base) const {
    return IsServer() ? std::string("D") + kYear + kCounty + base : base;
  }
  std::string Copy(const std::string& unit, const std::string& base = "statdata") const {
    return unit + (IsServer() ? std::string(kYear) + kCounty : "") + base;
  }
  std::string AreaUnit() const {
    return IsServer() ? std::string("D") + kCounty + "AreaUnit" : "AreaUnit";
  }

  // A stand-alone run compacts its database into a new file, so the result
  // is read through a connection opened afterwards.
  db::Connection Result() { return db::Connection(database().ConnectionString()); }

  short RunHandForm(const std::string& survey_path, gis::RuralCode* codes,
                    const std::string& log = {}) {
    OpenSurvey survey(survey_path);
    return landStatData(survey.parcel, survey.line, survey.point, 0, 0, 0, 0, 0, 0, 0, codes,
                        database().ConnectionString(), kYear, kCounty, Mode(), 1, log);
  }

  short RunSmallCounty(const std::string& log = {}) {
    testing::WriteSurvey(survey_, testing::SmallCounty());
    return RunHandForm(survey_, codes_.get(), log);
  }

  // The tables of a completed run and the small county's rows in them.
  void ExpectSmallCountyTables() {
    db::Connection result = Result();
    for (const std::string& table : {Plain("statdata"), Copy("PM"), Copy("GQ"), Copy("MU")}) {
      ASSERT_TRUE(result.TableExists(table)) << table;
      EXPECT_EQ(Numbers(result, "select count(*) from " + table), std::vector<double>{6}) << table;
    }
    EXPECT_NEAR(Numbers(result, "select sum(土地总面积) from " + Plain("statdata")).at(0), 119.53,
                1e-9);
    // 0 + 0 + 0.0013 + 0.0010 + 0.0090 + 0.0007
    EXPECT_NEAR(Numbers(result, "select sum(土地总面积) from " + Copy("GQ")).at(0), 0.012, 1e-9);
    EXPECT_TRUE(result.TableExists(Plain("statdataex")));
    EXPECT_EQ(Numbers(result, "select count(*) from CODETBL1"),
              std::vector<double>{static_cast<double>(testing::SmallCodeEntries().size())});
    // Three units of two kinds, and the base table's unit.
    EXPECT_EQ(Numbers(result, "select count(*) from " + AreaUnit()), std::vector<double>{7});
  }

  ScopedProgramDir home_;
  std::string survey_ = home_.File("survey.gpkg");
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::SmallCodeEntries())};
};

// Completed runs ---------------------------------------------------------

TEST_P(StatDriversTest, HandFormBuildsTheBaseTableAndItsCopies) {
  ASSERT_EQ(RunSmallCounty(), 1);
  ExpectSmallCountyTables();
}

TEST_P(StatDriversTest, ProjectFormTakesTheLayersByName) {
  testing::WriteSurvey(survey_, testing::SmallCounty());
  const std::string path = home_.File("project.xml");
  gis::WriteProjectFile(
      path, kCounty, "上城区",
      {{"地类图斑", "survey.gpkg"}, {"线状地物", "survey.gpkg"}, {"零星地物", "survey.gpkg"}});
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(path);
  ASSERT_EQ(landStatData(project.get(), codes_.get(), database().ConnectionString(), kYear, kCounty,
                         Mode(), 1, ""),
            1);
  ExpectSmallCountyTables();

  // Without a custom list the custom form is the project form.
  for (const std::string& list : {std::string(), home_.File("missing.xml")}) {
    SCOPED_TRACE(list);
    Result().Execute("drop table " + Plain("statdata"));
    ASSERT_EQ(landStatDataCustom(list, project.get(), codes_.get(), database().ConnectionString(),
                                 kYear, kCounty, Mode(), 1, ""),
              1);
    ExpectSmallCountyTables();
  }
}

// Runs that stop early ---------------------------------------------------

// The project's layers as a run finds them: the parcels required, whole
// and of regions; the others optional. A run that cannot use them fails
// naming the layer and keeps the earlier results.
TEST_P(StatDriversTest, ProjectLayersTheRunCannotUseAreNamed) {
  ASSERT_EQ(RunSmallCounty(), 1);
  SurveyFeatures no_parcels = testing::SmallCounty();
  no_parcels.parcels.clear();
  testing::WriteSurvey(home_.File("empty.gpkg"), no_parcels);
  using Layers = std::map<std::string, std::string>;
  const struct {
    Layers layers;
    RunOutcome outcome;
    std::string said;
  } kCases[] = {
      {{{"线状地物", "survey.gpkg"}}, RunOutcome::kFailed, "地类图斑 缺少图层"},
      {{{"地类图斑", "srvey.gpkg"}}, RunOutcome::kFailed, "srvey.gpkg"},
      {{{"地类图斑", "empty.gpkg"}}, RunOutcome::kFailed, "没有图斑"},
      {{{"地类图斑", "survey.gpkg"}, {"线状地物", "survey.gpkg|零星地物"}},
       RunOutcome::kFailed,
       "要素类型不符"},
      // Without the district layer the district and island tables are
      // missing: the run completes with that failure logged (last, as it
      // replaces the earlier tables).
      {{{"地类图斑", "survey.gpkg"}}, RunOutcome::kCompletedWithFailures, "没有行政辖区图层"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said);
    const std::string path = home_.File("project.xml");
    gis::WriteProjectFile(path, kCounty, "上城区", {});
    {
      // Layers listed under another name inside their source ("file|table").
      std::string xml = "<GisProject sCode=\"330102\" name=\"x\">";
      for (const auto& [name, source] : c.layers) {
        const std::size_t bar = source.find('|');
        xml += "<Layer name=\"" + name + "\" source=\"" + source.substr(0, bar) + "\"" +
               (bar == std::string::npos ? "" : " table=\"" + source.substr(bar + 1) + "\"") + "/>";
      }
      WriteFileBytes(path, xml + "</GisProject>");
    }
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(path);
    StatisticsRequest request;
    request.project = project.get();
    request.codes = codes_.get();
    request.connection = database().ConnectionString();
    request.year = kYear;
    request.county = kCounty;
    request.db_mode = Mode();
    const RunReport report = RunStatistics(request);
    EXPECT_EQ(report.outcome, c.outcome);
    std::string messages;
    for (const std::string& message : report.messages) messages += message + "\n";
    EXPECT_NE(messages.find(c.said), std::string::npos) << messages;
    if (!report.Completed()) ExpectSmallCountyTables();
  }
}

TEST_P(StatDriversTest, NoCodeTable) {
  testing::WriteSurvey(survey_, testing::SmallCounty());
  EXPECT_EQ(RunHandForm(survey_, nullptr), 0);
  EXPECT_FALSE(Result().TableExists(Plain("statdata")));
}

TEST_P(StatDriversTest, FailedRerunKeepsTheEarlierResults) {
  // A completed run first, so that its tables stand.
  ASSERT_EQ(RunSmallCounty(), 1);

  const SurveyFeatures broken = SmallCountyWithout("图斑地类面积");
  const std::string path = home_.File("broken.gpkg");
  testing::WriteSurvey(path, broken);
  EXPECT_EQ(RunHandForm(path, codes_.get()), 0);
  ExpectSmallCountyTables();
  db::Connection result = Result();
  const std::optional<RunRecordRow> last = LastRunRecord(result, kYear, kCounty);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->outcome, "failed");
  EXPECT_FALSE(
      fs::exists(db::ParseConnectionString(database().ConnectionString()).location + ".working"));
}

TEST(StatDriversConnection, ConnectionThatCannotBeOpened) {
  ScopedProgramDir home;
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
  const std::string log = home.File("stat.log");
  WriteFileBytes(log, "");
  const std::string survey = home.File("survey.gpkg");
  testing::WriteSurvey(survey, testing::SmallCounty());
  OpenSurvey layers(survey);
  const std::string missing = JetConnectionString(home.File("no/such/folder/stats.sqlite"));
  for (const auto& [connection, mode] :
       {std::pair{missing, 0}, std::pair{std::string("host=127.0.0.1 port=1 dbname=x "
                                                     "connect_timeout=2"),
                                         1}}) {
    SCOPED_TRACE(connection);
    EXPECT_EQ(landStatData(layers.parcel, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes.get(), connection, kYear,
                           kCounty, static_cast<short>(mode), 1, log),
              0);
    EXPECT_NE(ReadFileBytes(log).find("打开统计数据库"), std::string::npos) << ReadFileBytes(log);
  }
  EXPECT_FALSE(fs::exists(home.path() / "no"));
}

// The run's log ------------------------------------------------------------

TEST_P(StatDriversTest, ExistingLogReceivesTheFailures) {
  const std::string log = home_.File("stat.log");
  WriteFileBytes(log, "a longer log of an older run\r\n");
  SurveyFeatures county = testing::SmallCounty();
  county.parcels.push_back({{"图斑编号", "3"},
                            {"地类编码", "999"},
                            {"图斑地类面积", "1"},
                            {"座落单位代码", testing::kGroup},
                            {"权属单位代码", testing::kGroup}});
  testing::WriteSurvey(survey_, county);
  ASSERT_EQ(RunHandForm(survey_, codes_.get(), log), 1);
  EXPECT_NE(ReadFileBytes(log).find("\n1 图层 地类图斑 记录 3 字段 地类编码 地类编码 999"),
            std::string::npos)
      << ReadFileBytes(log);
  EXPECT_EQ(ReadFileBytes(log).find("older run"), std::string::npos);

  // A run that stops early logs why.
  testing::WriteSurvey(survey_, SmallCountyWithout("权属单位代码"));
  ASSERT_EQ(RunHandForm(survey_, codes_.get(), log), 0);
  EXPECT_NE(ReadFileBytes(log).find("权属单位代码"), std::string::npos) << ReadFileBytes(log);
}

TEST_P(StatDriversTest, MissingLogIsNotCreated) {
  const std::string log = home_.File("stat.log");
  SurveyFeatures county = testing::SmallCounty();
  county.parcels.push_back({{"图斑编号", "3"},
                            {"地类编码", "999"},
                            {"图斑地类面积", "1"},
                            {"座落单位代码", testing::kGroup},
                            {"权属单位代码", testing::kGroup}});
  testing::WriteSurvey(survey_, county);
  ASSERT_EQ(RunHandForm(survey_, codes_.get(), log), 1);
  EXPECT_FALSE(fs::exists(log));
}

// A layer without a field some tables need: the run completes, the failure
// names layer and field, and the run ends without those tables (an earlier
// run's are dropped, with a notice) and with the others.
TEST_P(StatDriversTest, FieldSomeTablesNeedLeavesThemOutOfTheRun) {
  ASSERT_EQ(RunSmallCounty(), 1);
  const TableNames names(Mode(), kYear, kCounty);
  const std::string by_nature = names.Summary('Z', kSquareMetre, "NCTDLY_QSYJFL");
  const std::string by_class = names.Summary('Z', kSquareMetre, "NCTDLY_YJFL");
  ASSERT_TRUE(Result().TableExists(by_nature));
  const std::string log = home_.File("stat.log");
  WriteFileBytes(log, "");
  testing::WriteSurvey(survey_, SmallCountyWithout("权属性质"));
  ASSERT_EQ(RunHandForm(survey_, codes_.get(), log), 1);
  const std::string logged = ReadFileBytes(log);
  EXPECT_NE(logged.find("图层 地类图斑 缺少字段 权属性质 不生成需要该字段的表 "), std::string::npos)
      << logged;
  EXPECT_NE(logged.find("删除了上次统计而本次未生成的"), std::string::npos) << logged;
  db::Connection result = Result();
  EXPECT_FALSE(result.TableExists(by_nature));
  EXPECT_TRUE(result.TableExists(by_class));
  EXPECT_EQ(Numbers(result, "select count(*) from " + Plain("statdata")), std::vector<double>{6});
}

// A generated county -------------------------------------------------------

TEST_P(StatDriversTest, GeneratedCountyAreasAddUp) {
  county::CountyOptions options;
  options.parcels = 300;
  options.seed = 11;
  const county::CountyPlan plan = county::PlanCounty(options);
  const county::CountyFiles files = county::WriteCounty(plan, home_.File("county"));
  county::Cents gross = 0;
  for (const county::Parcel& parcel : plan.parcels) gross += parcel.gross;
  const double total = county::FromCents(gross);

  const std::string log = home_.File("stat.log");
  WriteFileBytes(log, "");
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(files.codes));
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(files.project);
  ASSERT_EQ(landStatData(project.get(), codes.get(), database().ConnectionString(), kYear,
                         options.county_code, Mode(), 1, log),
            1);
  // No piece of land was refused: what names a layer is a notice (a
  // reserve type of neither list, say).
  const std::string logged = ReadFileBytes(log);
  EXPECT_EQ(logged.find("图元号"), std::string::npos) << logged;
  for (std::size_t at = logged.find("图层 "); at != std::string::npos;
       at = logged.find("图层 ", at + 1)) {
    const std::size_t line = logged.rfind('\n', at);
    EXPECT_EQ(logged.compare(line == std::string::npos ? 0 : line + 1, 6, "注意"), 0) << logged;
  }

  db::Connection result = Result();
  const double rows = Numbers(result, "select count(*) from " + Plain("statdata")).at(0);
  ASSERT_GE(rows, static_cast<double>(plan.parcels.size()));
  EXPECT_NEAR(Numbers(result, "select sum(土地总面积) from " + Plain("statdata")).at(0), total,
              0.005);

  // Every row's area lies in exactly one first-level class.
  std::string first_level;
  for (const std::string& code :
       Texts(result, "select 代码 from CODETBL1 where 代码类型='地类代码' and length(代码)=2")) {
    first_level += (first_level.empty() ? "" : "+") + ("BM" + code);
  }
  ASSERT_FALSE(first_level.empty());
  EXPECT_EQ(Numbers(result, "select count(*) from " + Plain("statdata") +
                                " where abs(土地总面积-(" + first_level + "))>0.001"),
            std::vector<double>{0});

  // Each row of a copy is rounded by at most half its last decimal.
  const double hectares = Numbers(result, "select sum(土地总面积) from " + Copy("GQ")).at(0);
  EXPECT_NEAR(hectares, total / 10000, rows * 0.00005 + 1e-9);
  const double mu = Numbers(result, "select sum(土地总面积) from " + Copy("MU")).at(0);
  EXPECT_NEAR(mu, total * 3 / 2000, rows * 0.005 + 1e-9);

  // The farmland copies: the square-metre copy holds the farmland base
  // table's area, each target copy its converted and rounded total, and
  // every row of a copy adds up over its first-level classes.
  const auto farmland = [&](const std::string& table) {
    return Numbers(result, "select sum(土地总面积) from " + table).at(0);
  };
  const double base = farmland(Plain("statdata_jbnt"));
  ASSERT_GT(base, 0);
  EXPECT_NEAR(farmland(Copy("PM", "statdata_jbnt")), base, 1e-6);
  EXPECT_NEAR(farmland(Copy("GQ", "statdata_jbnt")), std::round(base / 10000 * 1e4) / 1e4, 1e-9);
  EXPECT_NEAR(farmland(Copy("MU", "statdata_jbnt")), std::round(base * 3 / 2000 * 100) / 100, 1e-9);
  for (const char* unit : {"PM", "GQ", "MU"}) {
    EXPECT_EQ(Numbers(result, "select count(*) from " + Copy(unit, "statdata_jbnt") +
                                  " where abs(土地总面积-(" + first_level + "))>1e-9"),
              std::vector<double>{0})
        << unit;
  }
}

// The county batch's eight-layer form ends with the farmland base data and
// the hectare situation tables of its one scope.
TEST_P(StatDriversTest, CountyBatchBuildsTheFarmlandSituationTables) {
  county::CountyOptions options;
  options.parcels = 300;
  options.seed = 11;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), home_.File("county"));
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(files.codes));
  const auto layer = [&](const char* name) {
    return testing::ScopedLayer(gis::OpenLayer(files.survey, name));
  };
  const testing::ScopedLayer district = layer("行政辖区"), parcel = layer("地类图斑"),
                             line = layer("线状地物"), point = layer("零星地物"),
                             farmland = layer("基本农田图斑");
  ASSERT_EQ(landStatData(district, parcel, line, point, farmland, 0, 0, 0, codes.get(), kYear,
                         options.county_code, database().ConnectionString(), "", Mode(), 1, ""),
            1);
  db::Connection result = Result();
  const std::string situation =
      "ZGQ" + std::string(IsServer() ? kYear + std::string(kCounty) : "") + "JBNTQKTJ";
  const std::vector<double> county =
      Numbers(result, "select ZHJ from " + situation + " where XZQDM='" + kCounty + "'");
  ASSERT_EQ(county.size(), 1u);
  EXPECT_NEAR(county[0],
              Numbers(result, "select sum(土地总面积) from " + Copy("GQ", "statdata_jbnt")).at(0),
              1e-6);
}

LANDSTAT_BOTH_ENGINES(StatDriversTest);

}  // namespace
}  // namespace landstat
