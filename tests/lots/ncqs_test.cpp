// The rural ownership-lot tables on a survey written by hand: the base
// table's passes, the lot numbers on the parcels' rows and the per-lot sums.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "landuse/generated_county_run.h"
#include "lots/ncqs_lots.h"
#include "lots/ncqs_run.h"
#include "platform/gis/project.h"
#include "platform/host/paths.h"
#include "platform/text/ascii_text.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::FieldValues;
using testing::kGroup;
using testing::kVillage;
using testing::Rows;
using testing::With;
using Strings = std::vector<std::string>;

// A road of `area` between parcel 1 of the group (side 1) and parcel 2 of
// the village (side 2).
FieldValues Road(const std::string& ratio, const std::string& area) {
  FieldValues road = testing::SmallCounty().lines.front();
  return With(road, {{"扣除比例", ratio}, {"线状地物面积", area}});
}

// A lot over the parcels from `first` to before `last` (parcel i is the
// square from x = 10 i to 10 i + 10).
struct Lot {
  int first, last;
  std::string number;
};

class NcqsTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    survey_ = home_.File("survey.gpkg");
  }

  std::string Table(const std::string& base) const {
    return IsServer() ? "D2009330102" + base : base;
  }

  // Writes the survey and its lot layer "宗地".
  void Write(const testing::SurveyFeatures& features, const std::vector<Lot>& lots = {}) {
    testing::WriteSurvey(survey_, features);
    std::vector<testing::FixtureFeature> shapes;
    for (const Lot& lot : lots) {
      const std::string x0 = std::to_string(lot.first * 10), x1 = std::to_string(lot.last * 10);
      shapes.push_back(
          {"POLYGON ((" + x0 + " 0," + x1 + " 0," + x1 + " 10," + x0 + " 10," + x0 + " 0))",
           {{"地籍号", lot.number}}});
    }
    testing::WriteFixtureLayer(survey_, "宗地", wkbPolygon, {{"地籍号", OFTString}}, shapes);
  }

  // Runs `steps` on a context over the survey with its codes loaded and
  // its log open; keeps the failures counted, the notices and the log.
  template <typename Steps>
  void WithContext(const Steps& steps) {
    const std::string log = home_.File("stat.log");
    testing::WriteFileBytes(log, "");
    {
      testing::OpenSurvey survey(survey_);
      testing::ScopedLayer lots(gis::OpenLayer(survey_, "宗地"));
      CStatContext context(0, survey.parcel, survey.line, survey.point, 0, 0, 0, 0, 0, 0,
                           codes_.get(), "2009", testing::kCountyCode, log, 0, "");
      context.OpenStatLogFile();
      ASSERT_EQ(context.InitUnits(database().ConnectionString(), Mode()), 1);
      ASSERT_EQ(context.LoadCodes(), 1);
      steps(context, lots);
      failures_ = context.m_nErrCount;
      notices_ = context.m_arrNotices;
    }
    log_ = testing::ReadFileBytes(log);
  }

  // The base table made and filled, with the lot numbers of `lot_layer`
  // when given; every step is expected to succeed. The lots, or none.
  std::unique_ptr<NcqsLots> Fill(CStatContext& context, short lot_layer = 0) {
    EXPECT_EQ(context.CreateNcqsStatTable(), 1);
    std::unique_ptr<NcqsLots> lots = lot_layer ? context.NcqsParcelLots(lot_layer) : nullptr;
    EXPECT_EQ(lot_layer != 0, lots != nullptr);
    EXPECT_EQ(context.BuildNcqsStatData(lots.get()), 1);
    return lots;
  }

  Strings Select(const std::string& columns, const std::string& where) {
    return Rows(conn(), "select " + columns + " from " + Table("statdata_ncqs") + " where " +
                            where + " order by cast(序号 as int)");
  }

  // The run on a project listing `layers` of the survey, the lot layer
  // "宗地".
  RunReport Run(const Strings& layers, const std::string& county = testing::kCountyCode) {
    const std::string codes = home_.File("codes.tsv");
    std::string text;
    for (const gis::CODESTRUCT& entry : testing::SmallCodeEntries()) {
      text += entry.type + "\t" + entry.code + "\t" + entry.name + "\n";
    }
    testing::WriteFileBytes(codes, text);
    std::map<std::string, std::string> listed;
    for (const std::string& layer : layers) listed[layer] = survey_;
    const std::string path = home_.File("project.xml");
    gis::WriteProjectFile(path, testing::kCountyCode, "上城区", listed, codes);
    const auto project = gis::CGisXmlPrj::Open(path);
    NcqsRequest request;
    static_cast<JobTarget&>(request) = {
        codes_.get(), database().ConnectionString(), "2009", county, "", Mode()};
    request.project = project.get();
    return RunNcqs(request);
  }

  // Every row of every table but the record of the jobs, as the database
  // holds them now (a run on SQLite replaces the file).
  std::map<std::string, Strings> Snapshot() {
    db::Connection now(database().ConnectionString());
    std::map<std::string, Strings> tables;
    for (const std::string& table : now.ListTables()) {
      if (text::ToLowerAscii(table) == "statruns") continue;
      Strings rows = Rows(now, "select * from " + table);
      std::sort(rows.begin(), rows.end());
      tables[table] = rows;
    }
    return tables;
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::string survey_, log_;
  int failures_ = 0;
  Strings notices_;
};

TEST_P(NcqsTest, PassesBookEachPieceToItsParcel) {
  testing::SurveyFeatures features = testing::SmallCounty();
  features.points.clear();
  // Halves of 0.03, one half without side 2, ratios 1 and empty whole.
  features.lines = {Road("0.5", "0.03"), With(Road("0.5", "0.04"), {{"扣除图斑编号2", ""}}),
                    Road("1", "0.037"), Road("", "0.051")};
  Write(features);
  WithContext([&](CStatContext& context, short) { Fill(context); });
  EXPECT_EQ(Select("图斑编号, 座落单位代码, BM104, BM10, 土地总面积", "来源='线状地物'"),
            (Strings{"1|" + kGroup + "|0.01|0.01|0.01", "2|" + kVillage + "|0.02|0.02|0.02",
                     "1|" + kGroup + "|0.02|0.02|0.02", "1|" + kGroup + "|0.037|0.037|0.037",
                     "1|" + kGroup + "|0.051|0.051|0.051"}));
  // The missing side 2 loses half the road: logged. The empty ratio is a
  // notice.
  EXPECT_EQ(failures_, 1);
  EXPECT_NE(log_.find("扣除图斑编号2"), std::string::npos) << log_;
  // 011 books BM011, BM01 and the total; the deduction row comes first.
  EXPECT_EQ(Select("来源, BM011, BM01, BM123, BM12, 土地总面积, 耕地坡度级, 乡级代码, 乡名称",
                   "图斑编号='1' and 来源 like '地类图斑%'"),
            (Strings{"地类图斑扣除|0|0|10.25|10.25|10.25|2|330102001|一乡",
                     "地类图斑|89.75|89.75|0|0|89.75|2|330102001|一乡"}));
}

TEST_P(NcqsTest, ValuesThatCannotBeCountedAreLoggedAndLeftOut) {
  testing::SurveyFeatures features = testing::SmallCounty();
  features.parcels.push_back(With(features.parcels[1], {{"图斑编号", "3"}, {"地类编码", "999"}}));
  features.parcels.push_back(
      With(features.parcels[1], {{"图斑编号", "4"}, {"图斑地类面积", "-5"}}));
  Write(features);
  WithContext([&](CStatContext& context, short) { Fill(context); });
  EXPECT_EQ(Select("图斑编号", "图斑编号 in ('3','4')"), Strings{});
  EXPECT_EQ(failures_, 2);
  for (const char* part : {"BM999", "图斑地类面积", "地类图斑"}) {
    EXPECT_NE(log_.find(part), std::string::npos) << part << "\n" << log_;
  }
}

TEST_P(NcqsTest, LotNumbersGoOntoTheRowsOfTheParcelsInLots) {
  // Parcel 1 lies in a lot whose number holds a quote; parcel 2 in none.
  Write(testing::SmallCounty(), {{0, 1, "A'1"}});
  WithContext([&](CStatContext& context, short lots) {
    const std::unique_ptr<NcqsLots> found = Fill(context, lots);
    ASSERT_TRUE(found);
    EXPECT_EQ(context.BuildNczdAreaTable(*found), 1);
  });
  // The road's side 2 lies in the village, not at parcel 2's location:
  // its row keeps no number, like parcel 2's.
  EXPECT_EQ(Select("来源, 图斑编号, 地籍号", "1=1"),
            (Strings{"线状地物|1|A'1", "线状地物|2|", "零星地物|1|A'1", "地类图斑扣除|1|A'1",
                     "地类图斑|1|A'1", "地类图斑|2|"}));
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_.front().find("1 个图斑"), std::string::npos) << notices_.front();
  EXPECT_EQ(failures_, 0) << log_;
  // In hectares, without a setting.
  EXPECT_EQ(Rows(conn(), "select 地籍号, round(土地总面积, 6), BM011, BM01, BM114 from " +
                             Table("NCZD_AREA")),
            (Strings{"A'1|0.011251|0.008975|0.008975|0.00125"}));
}

// Rows go by their parcel's keys: of two parcels of the same keys in two
// lots, the later one's lot goes onto the rows of both.
TEST_P(NcqsTest, ParcelsOfTheSameKeysTakeTheLaterOnesLot) {
  testing::SurveyFeatures county = testing::SmallCounty();
  county.parcels[1] = With(county.parcels[1], {{"图斑编号", "1"}});
  Write(county, {{0, 1, "L1"}, {1, 2, "L2"}});
  WithContext([&](CStatContext& context, short lots) { Fill(context, lots); });
  EXPECT_EQ(Select("来源, 图斑编号, 地籍号", "1=1"),
            (Strings{"线状地物|1|L2", "线状地物|2|", "零星地物|1|L2", "地类图斑扣除|1|L2",
                     "地类图斑|1|L2", "地类图斑|1|L2"}));
  EXPECT_EQ(failures_, 0) << log_;
}

// A parcel whose inner point lies in two lots, and the lots of a number
// that several lots carry, are logged, and give no lot number: which lot
// the parcel belongs to is unknown.
TEST_P(NcqsTest, OverlappingLotsAndRepeatedNumbersAreLoggedAndGiveNoNumber) {
  const struct {
    std::vector<Lot> lots;
    Strings numbers;  // of parcels 1 and 2
    Strings logged;
  } cases[] = {
      {{{0, 1, "L1"}, {0, 2, "L2"}},
       {"1|", "2|L2"},
       {"图层 地类图斑 记录 1 内点落在宗地图层 宗地 的 2 个宗地内 (记录 1 地籍号 L1, 记录 2 地籍号 "
        "L2)"}},
      {{{0, 1, "L1"}, {1, 2, "L1"}},
       {"1|", "2|"},
       {"图层 宗地 记录 1 字段 地籍号 地籍号 L1 在图层中出现 2 次",
        "图层 宗地 记录 2 字段 地籍号 地籍号 L1 在图层中出现 2 次"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lots.size());
    Write(testing::SmallCounty(), c.lots);
    WithContext([&](CStatContext& context, short lots) { Fill(context, lots); });
    EXPECT_EQ(Select("图斑编号, 地籍号", "来源='地类图斑'"), c.numbers);
    EXPECT_EQ(failures_, static_cast<int>(c.logged.size())) << log_;
    for (const std::string& line : c.logged) EXPECT_NE(log_.find(line), std::string::npos) << log_;
  }
}

// Without a setting the sums are in hectares; a setting that names neither
// mu nor hectares, an empty one too, keeps square metres.
TEST_P(NcqsTest, LotAreasAreInTheSetUnitAndReplaceTheCountysSums) {
  Write(testing::SmallCounty(), {{0, 2, "L1"}});
  const std::string target = Table("NCZD_AREA");
  const struct {
    const char* ini;
    double factor;
  } kCases[] = {{"[ZD_SET]\n宗地面积单位=亩\n", 3.0 / 2000},
                {"[ZD_SET]\n宗地面积单位=公顷\n", 1e-4},
                {"[ZD_SET]\n宗地面积单位=平方米\n", 1},
                {"[ZD_SET]\n宗地面积单位=\n", 1},
                {"", 1e-4}};
  WithContext([&](CStatContext& context, short lots) {
    ASSERT_EQ(context.BuildNczdAreaTable(*Fill(context, lots)), 1);
    const double base = conn()
                            .Scalar("select sum(土地总面积) from " + Table("statdata_ncqs") +
                                    " where 地籍号 is not null")
                            .AsDouble();
    // Another county's sums stay.
    conn().Execute("insert into " + target + " (地籍号, 座落单位代码, 土地总面积) values " +
                   "('X', '3301030010010010000', 1)");
    for (const auto& unit : kCases) {
      testing::WriteFileBytes(host::HostIniPath(), unit.ini);
      ASSERT_EQ(context.BuildNczdAreaTable(*Fill(context, lots)), 1);
      EXPECT_EQ(conn().Scalar("select count(*) from " + target).AsInteger(), 2) << unit.ini;
      EXPECT_NEAR(conn()
                      .Scalar("select sum(土地总面积) from " + target + " where 地籍号 <> 'X'")
                      .AsDouble(),
                  base * unit.factor, 1e-9)
          << unit.ini;
    }
  });
}

// A sum that fails (a table of an earlier code table lacks a class column)
// keeps the county's earlier sums.
TEST_P(NcqsTest, FailedLotAreasKeepTheCountysEarlierSums) {
  Write(testing::SmallCounty(), {{0, 2, "L1"}});
  const std::string target = Table("NCZD_AREA");
  conn().Execute("create table " + target +
                 " (地籍号 varchar(60), 座落单位代码 varchar(60), 权属单位代码 varchar(60), "
                 "权属性质 varchar(60), 土地总面积 double precision)");
  conn().Execute("insert into " + target + " (地籍号, 座落单位代码, 土地总面积) values ('L0', '" +
                 kGroup + "', 5)");
  WithContext([&](CStatContext& context, short lots) {
    EXPECT_EQ(context.BuildNczdAreaTable(*Fill(context, lots)), 0);
  });
  EXPECT_EQ(failures_, 1) << log_;
  EXPECT_EQ(Rows(conn(), "select 地籍号, 土地总面积 from " + target), Strings{"L0|5"});
}

const Strings kSurveyLayers = {"地类图斑", "线状地物", "零星地物"};

// Pieces located in another county are logged and left out, so a rerun
// leaves what one run writes. By hand, lot L1 holds parcel 1 (89.75 and
// its deduction 10.25), parcel 2 (7), the road's side 1 (0.01) and the
// point (12.5), all of the group: 119.51 m², 0.011951 ha without a setting.
TEST_P(NcqsTest, PiecesOfAnotherCountyAreLoggedAndLeftOut) {
  const std::string other = "3301030010010010000";
  testing::SurveyFeatures features = testing::SmallCounty();
  features.lines[0] = With(features.lines[0], {{"扣除图斑座落代码2", other}});
  features.points.push_back(With(features.points[0], {{"座落单位代码", other}}));
  features.parcels.push_back(
      With(features.parcels[1],
           {{"图斑编号", "3"}, {"座落单位代码", other}, {"图斑地类面积", "1666.66"}}));
  Write(features, {{0, 3, "L1"}});
  Strings layers = kSurveyLayers;
  layers.push_back("宗地");
  const Strings logged = {"图层 线状地物 记录 1 字段 扣除图斑座落代码2 座落代码 " + other,
                          "图层 零星地物 记录 2 字段 座落单位代码 座落代码 " + other,
                          "图层 地类图斑 记录 3 字段 座落单位代码 座落代码 " + other};
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    const RunReport report = Run(layers);
    EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
    ASSERT_EQ(report.messages.size(), logged.size());
    for (std::size_t i = 0; i < logged.size(); ++i) {
      EXPECT_NE(report.messages[i].find(logged[i]), std::string::npos) << report.messages[i];
    }
    db::Connection after(database().ConnectionString());
    EXPECT_EQ(Rows(after, "select count(*) from " + Table("statdata_ncqs") +
                              " where 座落单位代码 not like '330102%'"),
              Strings{"0"});
    EXPECT_EQ(
        Rows(after, "select 地籍号, 座落单位代码, round(土地总面积, 6) from " + Table("NCZD_AREA")),
        Strings{"L1|" + kGroup + "|0.011951"});
  }
}

TEST_P(NcqsTest, RunWithoutLotLayerTouchesNothing) {
  Write(testing::SmallCounty(), {{0, 1, "L1"}});
  const auto before = Snapshot();
  const RunReport report = Run(kSurveyLayers);
  EXPECT_EQ(report.Result(), 0);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find("宗地"), std::string::npos) << report.messages.front();
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(conn().TableExists("StatRuns"));
}

// A county whose code no parcel carries would get the survey's sums under
// its code: refused, naming both codes, and nothing stored is changed.
TEST_P(NcqsTest, RunOfACountyTheParcelsDoNotLieInFails) {
  Write(testing::SmallCounty(), {{0, 2, "L1"}});
  const auto before = Snapshot();
  Strings layers = kSurveyLayers;
  layers.push_back("宗地");
  const RunReport report = Run(layers, "330199");
  EXPECT_EQ(report.outcome, RunOutcome::kFailed);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find("没有图斑座落于县 330199, 图斑座落于县 330102"),
            std::string::npos)
      << report.messages.front();
  EXPECT_EQ(Snapshot(), before);
}

TEST_P(NcqsTest, FailedCreateEndsTheRunAndKeepsTheDatabase) {
  Write(testing::SmallCounty(), {{0, 1, "L1"}});
  conn().Execute("create table keep (a int)");
  conn().Execute("insert into keep values (1)");
  // An index holding the base table's name: the table cannot be made.
  conn().Execute("create index " + Table("statdata_ncqs") + " on keep (a)");
  const auto before = Snapshot();
  Strings layers = kSurveyLayers;
  layers.push_back("宗地");
  const RunReport report = Run(layers);
  EXPECT_EQ(report.outcome, RunOutcome::kFailed);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.front().find("建立农村权属宗地基础表"), std::string::npos)
      << report.messages.front();
  EXPECT_EQ(Snapshot(), before);
}

TEST_P(NcqsTest, CompletedRunIsRecordedAndPublished) {
  Write(testing::SmallCounty(), {{0, 2, "L1"}});
  Strings layers = kSurveyLayers;
  layers.push_back("宗地");
  const RunReport report = Run(layers);
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted)
      << (report.messages.empty() ? "" : report.messages.front());
  db::Connection after(database().ConnectionString());
  EXPECT_EQ(Rows(after, "select KIND, OUTCOME from StatRuns"), Strings{"ncqs|completed"});
  EXPECT_EQ(Rows(after, "select 地籍号, count(*) from " + Table("NCZD_AREA") + " group by 地籍号"),
            Strings{"L1|1"});
}

TEST_P(NcqsTest, FailedLotNumbersAreCountedAndTheBaseTableKept) {
  testing::WriteSurvey(survey_, testing::SmallCounty());
  // A lot layer without lot numbers.
  testing::WriteFixtureLayer(survey_, "宗地", wkbPolygon, {{"宗地号", OFTString}},
                             {{"POLYGON ((0 0,10 0,10 10,0 10,0 0))", {{"宗地号", "L1"}}}});
  Strings layers = kSurveyLayers;
  layers.push_back("宗地");
  const RunReport report = Run(layers);
  EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
  ASSERT_EQ(report.messages.size(), 1u);
  EXPECT_NE(report.messages.front().find("地籍号"), std::string::npos) << report.messages.front();
  db::Connection after(database().ConnectionString());
  EXPECT_EQ(Rows(after, "select count(*) from " + Table("statdata_ncqs")), Strings{"6"});
  EXPECT_FALSE(after.TableExists(Table("NCZD_AREA")));
}

// On a generated county, whose rural lots (宗地) cover its parcels, the rows
// of every parcel and scattered feature get a lot number (a linear feature's
// only where it has its parcel's ownership nature), and the per-lot sums (in
// hectares) add up to the rows in lots.
TEST_P(NcqsTest, GeneratedCountyLotSumsAddUpToItsParcels) {
  testing::GeneratedCountyRun county(home_, 17, 400);
  const auto project = gis::CGisXmlPrj::Open(county.files.project);
  NcqsRequest request;
  static_cast<JobTarget&>(request) = {county.codes.get(),
                                      database().ConnectionString(),
                                      "2009",
                                      county.options.county_code,
                                      "",
                                      Mode()};
  request.project = project.get();
  const RunReport report = RunNcqs(request);
  ASSERT_EQ(report.outcome, RunOutcome::kCompleted)
      << (report.messages.empty() ? "" : report.messages.front());
  EXPECT_EQ(report.failures, 0) << report.messages.front();
  EXPECT_EQ(report.notices, std::vector<std::string>{});
  db::Connection after(database().ConnectionString());
  const std::string base = " from " + Table("statdata_ncqs");
  EXPECT_EQ(after.Scalar("select count(*)" + base + " where 地籍号 is null and 来源 <> '线状地物'")
                .AsDouble(),
            0);
  const double in_lots =
      after.Scalar("select sum(土地总面积)" + base + " where 地籍号 is not null").AsDouble();
  EXPECT_GT(in_lots, 0);
  EXPECT_NEAR(after.Scalar("select sum(土地总面积) from " + Table("NCZD_AREA")).AsDouble(),
              in_lots / 10000, 1e-10);
}

LANDSTAT_BOTH_ENGINES(NcqsTest);

}  // namespace
}  // namespace landstat
