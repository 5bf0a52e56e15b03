// Range statistics on a range folder: what refuses to start, the report
// titles, the lot and house information of the data source, the range's
// totals and the command.

#include "operator/range_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "engine/survey_fixture.h"
#include "operator/range_run.h"
#include "platform/db/connection.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/gis/project_cut.h"
#include "platform/host/paths.h"
#include "support/program_dir.h"
#include "support/run_program.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::FixtureFeature;
using testing::FixtureField;
using testing::TempDir;

// A small generated county, written once, and the range of all of it, cut
// once by a rectangle around it and copied as the range folder of each
// test; the configuration of three units.
class RangeFolder {
 public:
  static void SetUpSuite() {
    home_ = new testing::ScopedProgramDir;
    testing::WriteStatConfig(testing::kThreeUnits);
    // The statement scripts of the installation (the ownership tables').
    fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config/Access",
             fs::path(host::ConfigDir()) / "Access", fs::copy_options::recursive);
    county::CountyOptions options;
    options.parcels = 80;
    county::WriteCounty(county::PlanCounty(options), home_->File("county"));
    gis::Rect extent;
    {
      const std::unique_ptr<gis::CGisXmlPrj> county = gis::CGisXmlPrj::Open(CountyProject());
      gis::LayerExtent(county->prjItemGetAi("地类图斑"), extent);
    }
    testing::WriteRectangleFile(home_->File("around.gpkg"), {extent.min_x - 1, extent.min_y - 1,
                                                             extent.max_x + 1, extent.max_y + 1});
    testing::WriteRectangleFile(home_->File("outside.gpkg"), {extent.max_x + 100, extent.min_y,
                                                              extent.max_x + 200, extent.max_y});
    gis::CutProject(CountyProject(), home_->File("around.gpkg"), home_->File("range"));
  }
  static void TearDownSuite() { delete home_; }

  RangeFolder() {
    fs::copy(home_->File("range"), dir_.path(), fs::copy_options::recursive);
    codes_.reset(gis::RuralCode::Load(dir_.File("codes.tsv")));
  }
  std::string Project() const { return dir_.File("range.xml"); }
  std::string Survey() const { return dir_.File("range.gpkg"); }
  static std::string CountyProject() { return home_->File("county/project.xml"); }
  static std::string HomeFile(const std::string& name) { return home_->File(name); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  gis::RuralCode* Codes() const { return codes_.get(); }
  static std::string Home() { return home_->path().string(); }

  std::set<std::string> Tables() const {
    if (!fs::exists(File(kRangeDatabaseName))) return {};
    db::Connection conn(File(kRangeDatabaseName));
    const std::vector<std::string> tables = conn.ListTables();
    return {tables.begin(), tables.end()};
  }

 private:
  static testing::ScopedProgramDir* home_;
  TempDir dir_;
  std::unique_ptr<gis::RuralCode> codes_;
};
testing::ScopedProgramDir* RangeFolder::home_ = nullptr;

class RangeStatisticsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RangeFolder::SetUpSuite(); }
  static void TearDownTestSuite() { RangeFolder::TearDownSuite(); }
  RangeFolder range_;
};

// Each file of a folder with its size and time of change.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Snapshot(
    const std::string& folder) {
  std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = {entry.file_size(), entry.last_write_time()};
  }
  return files;
}

TEST_F(RangeStatisticsTest, EarlyFailuresReturnZeroAndLeaveTheFolderAsItWas) {
  const std::string survey = range_.Survey();
  // Ranges that lack a layer a run requires.
  gis::WriteProjectFile(range_.File("lots.xml"), "330102", "示例县", {{"城镇权属层", survey}}, {},
                        true);
  gis::WriteProjectFile(range_.File("parcels.xml"), "330102", "示例县", {{"地类图斑", survey}}, {},
                        true);
  const std::string lots = range_.File("lots.xml"), parcels = range_.File("parcels.xml");
  const auto before = Snapshot(range_.File(""));
  gis::RuralCode* codes = range_.Codes();
  const struct {
    const char* what;
    short result;
  } cases[] = {
      {"null path", LandUseRangeStat(nullptr, codes, "330102")},
      {"empty title", LandUseRangeStatByTbl(range_.Project().c_str(), "", codes, "330102")},
      {"missing project", LandUseRangeStat(range_.File("none.xml").c_str(), codes, "330102")},
      {"no parcels", LandUseRangeStat(lots.c_str(), codes, "330102")},
      {"no farmland", LandJBNTRangeStat(parcels.c_str(), codes, "330102")},
      {"no lots", LandCZZDRangeStat(parcels.c_str(), codes, "330102")},
      {"no houses", LandCZZDRangeStatByTbl(lots.c_str(), "城镇宗地面积汇总表", codes, "330102")},
      {"no code table", LandUseRangeStat(range_.Project().c_str(), nullptr, "330102")},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, 0) << c.what;
  EXPECT_EQ(Snapshot(range_.File("")), before);
  // A cut that fails writes no range folder.
  RangeRequest request;
  request.project = range_.Project();
  request.polygon = range_.File("no-such-polygon.gpkg");
  request.range_folder = range_.File("cut");
  request.codes = codes;
  request.county = "330102";
  const RunReport cut = RunRange(request);
  EXPECT_FALSE(cut.Completed());
  EXPECT_FALSE(fs::exists(range_.File("cut")));
}

// A county code no piece of the range lies in would record the range's
// figures as that county's: the land-use and farmland runs fail, naming
// the code given and the one the pieces carry.
TEST_F(RangeStatisticsTest, ACountyNoPieceLiesInFailsTheRun) {
  const std::string project = range_.Project();
  for (auto* run : {LandUseRangeStat, LandJBNTRangeStat}) {
    EXPECT_EQ(run(project.c_str(), range_.Codes(), "330199"), 0);
    EXPECT_NE(testing::ReadFileBytes(range_.File("RangeStatLog.txt"))
                  .find("没有图斑座落于县 330199, 图斑座落于县 330102"),
              std::string::npos);
    // The database made for the run went with it.
    EXPECT_FALSE(fs::exists(range_.File(kRangeDatabaseName)));
  }
}

// The tables a report title adds, read without their scope and unit prefix
// (Z/Q and PM/GQ/MU); the first title of each kind builds the base data.
std::set<std::string> Unprefixed(const std::set<std::string>& tables) {
  std::set<std::string> bases;
  for (const std::string& table : tables) {
    const bool summary = table.size() > 3 && (table[0] == 'Z' || table[0] == 'Q') &&
                         (table.compare(1, 2, "PM") == 0 || table.compare(1, 2, "GQ") == 0 ||
                          table.compare(1, 2, "MU") == 0);
    bases.insert(summary ? table.substr(3) : table);
  }
  return bases;
}

TEST_F(RangeStatisticsTest, EachTitleBuildsTheTablesOfItsReport) {
  const struct {
    const char* title;
    std::set<std::string> added;
  } cases[] = {
      // A title of no range report (the range makes no third-level table) is
      // refused, before the base data too.
      {"土地利用现状三级分类面积汇总表", {}},
      {"土地利用现状一级分类面积汇总表",
       {"CODETBL1", "GQstatdata", "MUstatdata", "PMstatdata", "QSDMB", "StatRuns", "statdata",
        "statdataex", "TDLY_YJFL"}},
      {"土地利用现状二级分类面积汇总表", {"TDLY_EJFL"}},
      {"飞入地一级分类面积汇总表", {"FRDTDLY_YJFL"}},
      {"飞入地二级分类面积汇总表", {"FRDTDLY_EJFL"}},
      {"农村土地利用现状一级分类面积汇总表", {"NCTDLY_YJFL"}},
      {"土地分类面积汇总表", {"NCTDLY_EJFL"}},
      {"农村土地利用现状三级分类面积汇总表", {"NCTDLY_SJFL"}},
      {"农村土地利用现状一级分类面积按权属性质汇总表", {"NCTDLY_QSYJFL"}},
      {"耕地坡度分级面积汇总表", {"GDPDMJHZ"}},
      {"2009年土地利用台帐(分户)", {"TDLYTZ"}},
      {"农村土地利用现状三级分类面积按权属性质汇总表", {"NCTDLYQS", "NCTDLY_QSSJFL"}},
      {"可调整地类面积汇总表", {"KTZ"}},
      {"城镇土地调查土地利用一级分类面积(宗地)",
       {"statdata_czzd", "PMstatdata_czzd", "GQstatdata_czzd", "MUstatdata_czzd", "CZTDLY_YJFLZD"}},
      {"城镇土地调查土地利用二级分类面积(宗地)", {"CZTDLY_EJFLZD"}},
      {"城镇土地面积使用权类型汇总表", {"CZTDLY_SYQZD"}},
      {"城镇宗地面积汇总表", {"CZZDMJHZ"}},
      {"城镇土地利用强度调查表", {"CZTDLY_QDDC"}},
      {"城镇房屋信息汇总表", {"CZFWXXTJ"}},
      {"没有这张表", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const std::set<std::string> before = range_.Tables();
    const bool town = RangeKindOfTitle(c.title) == RangeKind::kTownLots;
    const short result =
        town ? LandCZZDRangeStatByTbl(range_.Project().c_str(), c.title, range_.Codes(), "330102")
             : LandUseRangeStatByTbl(range_.Project().c_str(), c.title, range_.Codes(), "330102");
    EXPECT_EQ(result, c.added.empty() ? 0 : 1);
    std::set<std::string> added;
    for (const std::string& table : range_.Tables()) {
      if (!before.count(table)) added.insert(table);
    }
    EXPECT_EQ(Unprefixed(added), c.added);
  }
  EXPECT_TRUE(fs::exists(range_.File(kRangeCodeFileName)));
}

// The range's total is the sum of its parcels' gross areas, up to their
// rounding; a run whose base table fails returns 0 and leaves the range
// database of the run before.
TEST_F(RangeStatisticsTest, LandUseTotalIsTheParcelsSumAndAFailedRunKeepsThePreviousOne) {
  ASSERT_EQ(LandUseRangeStat(range_.Project().c_str(), range_.Codes(), "330102"), 1);
  double gross = 0;
  long parcels = 0;
  {
    testing::ScopedLayer layer(gis::OpenLayer(range_.Survey(), "地类图斑"));
    gis::Record record;
    for (long n = 1; n < gis::RecordCount(layer, gis::EntityKind::kRegion); ++n) {
      if (!gis::ReadRecord(layer, gis::EntityKind::kRegion, n, record)) continue;
      gross += record.Number("图斑面积");
      ++parcels;
    }
  }
  db::Connection conn(range_.File(kRangeDatabaseName));
  const double total = conn.Scalar("select sum(土地总面积) from statdata").AsDouble();
  EXPECT_NEAR(total, gross, 0.005 * parcels);
  EXPECT_NEAR(conn.Scalar("select XZQZMJ from ZPMTDLY_YJFL where XZQDM='330102'").AsDouble(), gross,
              0.005 * parcels);
  conn.Close();

  const std::set<std::string> tables = range_.Tables();
  testing::RunFixtureSql(range_.Survey(), "alter table 地类图斑 drop column 权属单位代码");
  EXPECT_EQ(LandUseRangeStat(range_.Project().c_str(), range_.Codes(), "330102"), 0);
  EXPECT_EQ(range_.Tables(), tables);
  conn.Open(range_.File(kRangeDatabaseName));
  EXPECT_EQ(conn.Scalar("select sum(土地总面积) from statdata").AsDouble(), total);
}

// A county of four parcels of 100 m² in a row (10 m squares from x=0),
// cut by a strip along their borders that holds parcels 2 and 3. Lines of
// one half lie on the inner borders: x=10 between parcel 1 (outside) on
// side 1 and parcel 2, 10 m²; x=20 between 2 and 3, 5 m²; x=30 between 3
// and parcel 4 (outside) on side 2, 20 m². 4 m² of pond lie in parcel 2,
// and parcel 3 deducts 10% of terrace.
std::string CutFourParcels(const TempDir& dir) {
  using testing::kGroup;
  const testing::FieldValues owner = {{"权属性质", "30"},
                                      {"权属单位代码", kGroup},
                                      {"权属单位名称", "一组"},
                                      {"座落单位代码", kGroup},
                                      {"座落单位名称", "一组"}};
  testing::SurveyFeatures county;
  county.parcel_fields.insert(county.parcel_fields.end(),
                              {{"图斑面积", OFTReal}, {"扣除地类系数", OFTReal}});
  county.line_fields.push_back({"宽度", OFTReal});
  for (const char* number : {"1", "2", "3", "4"}) {
    const bool terraced = number[0] == '3';
    county.parcels.push_back(testing::With(owner, {{"图斑编号", number},
                                                   {"地类编码", terraced ? "013" : "011"},
                                                   {"图斑面积", "100"},
                                                   {"图斑地类面积", "100"},
                                                   {"扣除地类编码", terraced ? "123" : ""},
                                                   {"扣除地类系数", terraced ? "10" : "0"}}));
  }
  const auto line = [](const char* side1, const char* side2, const char* width) {
    testing::FieldValues values = {
        {"扣除比例", "0.5"}, {"宽度", width}, {"地类编码", "104"}, {"权属性质", "30"}};
    for (const auto& [k, number] : {std::pair{"1", side1}, std::pair{"2", side2}}) {
      values.insert(values.end(), {{std::string("扣除图斑编号") + k, number},
                                   {std::string("扣除图斑座落代码") + k, kGroup},
                                   {std::string("权属单位代码") + k, kGroup},
                                   {std::string("权属单位名称") + k, "一组"}});
    }
    return values;
  };
  county.lines = {line("1", "2", "1.0"), line("2", "3", "0.5"), line("3", "4", "2.0")};
  for (const char* parcel : {"1", "2"}) {  // at x=5 and x=15
    county.points.push_back(testing::With(
        owner, {{"地类编码", "114"}, {"座落图斑编号", parcel}, {"零星地物面积", "4"}}));
  }
  fs::create_directories(dir.path() / "county");
  const std::string survey = dir.File("county/survey.gpkg");
  testing::WriteSurvey(survey, county);
  std::ofstream codes(dir.File("county/codes.tsv"));
  for (const gis::CODESTRUCT& entry : testing::SmallCodeEntries()) {
    codes << entry.type << "\t" << entry.code << "\t" << entry.name << "\n";
  }
  codes.close();
  gis::WriteProjectFile(dir.File("county/project.xml"), testing::kCountyCode, "上城区",
                        {{"地类图斑", survey}, {"线状地物", survey}, {"零星地物", survey}},
                        "codes.tsv");
  testing::WriteRectangleFile(dir.File("strip.gpkg"), {10, -1, 30, 11});
  return gis::CutProject(dir.File("county/project.xml"), dir.File("strip.gpkg"), dir.File("range"))
      .project_path;
}

// A range books what its repaired layers hold: of a line on its edge only
// the half inside, which the repair deducted from the parcel inside, so
// that the range's total is its parcels' gross area and nothing is logged.
TEST_F(RangeStatisticsTest, ALineOnTheEdgeBooksOnlyItsHalfInside) {
  TempDir dir;
  RangeRequest request;
  request.project = CutFourParcels(dir);
  const std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(dir.File("range/codes.tsv")));
  request.codes = codes.get();
  request.county = testing::kCountyCode;
  request.title = "土地利用现状一级分类面积汇总表";
  const RunReport report = RunRange(request);
  EXPECT_EQ(report.failures, 0) << report.messages.front();
  db::Connection stored(dir.File("range/" + std::string(kRangeDatabaseName)));
  const struct {
    const char* sum;
    double value;
  } cases[] = {
      {"BM011", 88.5},      // parcel 2: 100 less the halves 5 and 2.5 and the pond
      {"BM013", 78.75},     // parcel 3: 100 less the halves 2.5 and 10, less 10%
      {"BM104", 20},        // 5 and 2.5 + 2.5 and 10
      {"BM114", 4},         // the pond inside
      {"BM123", 8.75},      // parcel 3's terrace
      {"土地总面积", 200},  // the two parcels' gross area
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(
        stored.Scalar(std::string("select sum(") + c.sum + ") from statdata").AsDouble(), c.value)
        << c.sum;
  }
  EXPECT_DOUBLE_EQ(stored.Scalar("select XZQZMJ from ZPMTDLY_YJFL where XZQDM='330102'").AsDouble(),
                   200);
}

// A layer whose repair is refused (its scattered features lack
// 座落图斑编号) gives no figures of the range: its tables are not built (nor
// the intensity table, which reads the land-use base table), the failure
// is logged and the run completes with it.
TEST_F(RangeStatisticsTest, ARefusedRepairBuildsNoTablesOfItsLayers) {
  const struct {
    RangeKind kind;
    const char* points;
    std::vector<std::string> missing, built;
  } cases[] = {
      {RangeKind::kLandUse, "零星地物", {"statdata", "ZPMTDLY_YJFL"}, {}},
      {RangeKind::kFarmland, "基本农田零星地物", {"statdata_jbnt", "ZPMJBNTQKTJ"}, {}},
      {RangeKind::kTownLots,
       "零星地物",
       {"statdata", "ZPMCZTDLY_QDDC"},
       {"statdata_czzd", "ZPMCZZDMJHZ"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.points);
    RangeFolder range;
    testing::RunFixtureSql(range.Survey(),
                           std::string("alter table ") + c.points + " drop column 座落图斑编号");
    RangeRequest request;
    request.project = range.Project();
    request.kind = c.kind;
    request.codes = range.Codes();
    request.county = "330102";
    const RunReport report = RunRange(request);
    std::string logged;
    for (const std::string& message : report.messages) logged += message + "\n";
    EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures) << logged;
    EXPECT_TRUE(testing::Names(logged, "座落图斑编号"));
    const std::set<std::string> tables = range.Tables();
    for (const std::string& table : c.missing) EXPECT_FALSE(tables.count(table)) << table;
    for (const std::string& table : c.built) EXPECT_TRUE(tables.count(table)) << table;
  }
}

// Without line and point layers, empty stand-ins beside the parcels take
// their place: nothing is deducted for them, and a second run reuses them.
TEST_F(RangeStatisticsTest, ARangeWithoutLinesOrPointsRunsOnEmptyStandIns) {
  const std::string survey = range_.Survey();
  gis::WriteProjectFile(range_.File("parcels.xml"), "330102", "示例县", {{"地类图斑", survey}}, {},
                        true);
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(LandUseRangeStat(range_.File("parcels.xml").c_str(), range_.Codes(), "330102"), 1);
  }
  for (const char* layer_name : {"线状地物_空层", "零星地物_空层"}) {
    testing::ScopedLayer layer(gis::OpenLayer(survey, layer_name));
    EXPECT_EQ(gis::RecordCount(layer, gis::EntityKind::kTable), 1) << layer_name;
  }
}

TEST_F(RangeStatisticsTest, CommandExitsZeroOnARangeFolder) {
  const testing::Outcome run =
      testing::RunProgram(LANDSTAT_CLI, {"range", "--project", range_.Project(), "--kind",
                                         "landuse", "--home", RangeFolder::Home(), "--quiet"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(range_.Tables().count("ZPMTDLY_YJFL"));
}

// What the command cannot do it refuses before any file is touched, naming
// no log (none was written): a county's own project, which a repair would
// write into; a polygon outside the county, over an earlier range; a range
// without parcels; a title of no report.
TEST_F(RangeStatisticsTest, CommandRefusesBeforeAnyFileIsTouched) {
  ASSERT_EQ(LandUseRangeStat(range_.Project().c_str(), range_.Codes(), "330102"), 1);
  std::ofstream(range_.File("empty.xml"))
      << "<GisProject sCode=\"330102\" codes=\"codes.tsv\" range=\"cut\">"
         "<Layer name=\"地类图斑\" source=\"range.gpkg\" table=\"地类图斑_空\"/></GisProject>";
  testing::WriteFixtureLayer(range_.Survey(), "地类图斑_空", wkbPolygon, {}, {});
  const std::string county = RangeFolder::CountyProject();
  const std::string county_folder = fs::path(county).parent_path().string();
  const std::string outside = RangeFolder::HomeFile("outside.gpkg");
  const struct {
    std::vector<std::string> arguments;
    int exit_code;
    const char* named;  // in the output
  } cases[] = {
      {{"--project", county, "--kind", "landuse"}, 1, "no range cut out of a county"},
      {{"--project", county, "--title", "土地利用现状一级分类面积汇总表"}, 1, "no range cut"},
      {{"--project", county, "--range", outside, "--folder", range_.File(""), "--kind", "landuse"},
       1,
       "holds no record of layer \"地类图斑\""},
      {{"--project", county, "--range", outside, "--kind", "czzd"}, 1, "城镇权属层"},
      {{"--project", range_.File("empty.xml"), "--kind", "landuse"}, 1, "没有记录"},
      {{"--project", range_.Project(), "--title", "没有这张表"}, 2, "城镇宗地面积汇总表"},
  };
  const auto county_files = Snapshot(county_folder);
  const std::string county_survey = testing::ReadFileBytes(county_folder + "/survey.gpkg");
  const auto range_files = Snapshot(range_.File(""));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1] + " " + c.arguments[2] + " " + c.arguments[3]);
    std::vector<std::string> arguments = {"range", "--home", RangeFolder::Home(), "--quiet"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const testing::Outcome run = testing::RunProgram(LANDSTAT_CLI, arguments);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
    EXPECT_TRUE(testing::Names(run.out + run.err, c.named));
    EXPECT_FALSE(testing::Names(run.out, kRangeLogName)) << run.out;
    EXPECT_EQ(Snapshot(county_folder), county_files);
    EXPECT_EQ(Snapshot(range_.File("")), range_files);
  }
  EXPECT_EQ(testing::ReadFileBytes(county_folder + "/survey.gpkg"), county_survey);
  EXPECT_FALSE(fs::exists(DefaultRangeFolder(county, outside)));
}

// --- the lot and house information, from a data source on either engine ---

class RangeInfoTest : public testing::BothEngines {
 protected:
  static void SetUpTestSuite() { RangeFolder::SetUpSuite(); }
  static void TearDownTestSuite() { RangeFolder::TearDownSuite(); }

  void SetUpDatabase() override {
    conn().Execute(
        "create table approve (地籍号 varchar(20), 宗地面积 double precision, 土地使用者 "
        "varchar(255), 备注 varchar(20))");
    conn().Execute(
        "create table FW_QLR (隶属宗地 varchar(20), 房屋编号 varchar(10), 权利人 "
        "varchar(128), 建筑面积 double precision)");
    for (const auto& row : std::vector<std::vector<db::Value>>{
             {"A'1", 100.5, "张三", "x"}, {"C9", 30.0, "", "y"}, {"D1", 40.0, "赵六", "z"}}) {
      conn().Execute("insert into approve values (?,?,?,?)", row);
    }
    for (const auto& row : std::vector<std::vector<db::Value>>{
             {"A'1", "0001", "甲", 50.0}, {"A'1", "0002", "乙", 60.0}, {"D1", "", "丙", 70.0}}) {
      conn().Execute("insert into FW_QLR values (?,?,?,?)", row);
    }
  }

  // A GeoPackage of lots and houses, one square each.
  std::string WriteLayers(const std::vector<std::string>& lots,
                          const std::vector<std::pair<std::string, std::string>>& houses) {
    const std::string path = dir_.File("lots.gpkg");
    const std::string square = "POLYGON ((0 0,1 0,1 1,0 1,0 0))";
    std::vector<FixtureFeature> lot_features, house_features;
    for (const std::string& lot : lots) lot_features.push_back({square, {{"地籍号", lot}}});
    for (const auto& [lot, house] : houses) {
      house_features.push_back({square, {{"隶属宗地", lot}, {"房屋编号", house}}});
    }
    testing::WriteFixtureLayer(path, "宗地", wkbPolygon, {{"地籍号", OFTString, 20}}, lot_features);
    testing::WriteFixtureLayer(path, "房屋层", wkbPolygon,
                               {{"隶属宗地", OFTString, 20}, {"房屋编号", OFTString, 10}},
                               house_features);
    return path;
  }

  TempDir dir_;
};

TEST_P(RangeInfoTest, CopiesByKeyWithQuotesWildcardsAndHouseNumbers) {
  const std::string layers =
      WriteLayers({"A'1", "C%", "Z"},
                  {{"A'1", "0002"}, {"A'1", "0001"}, {"A'1", ""}, {"D1", "0009"}, {"A'1", "0003"}});
  const std::string range_path = dir_.File(kRangeDatabaseName);
  ASSERT_EQ(CreateAcessDB(range_path), 1);
  db::Connection range(range_path);
  testing::ScopedLayer lots(gis::OpenLayer(layers, "宗地"));
  testing::ScopedLayer houses(gis::OpenLayer(layers, "房屋层"));
  for (int pass = 0; pass < 2; ++pass) {  // a second copy makes the tables again
    ASSERT_EQ(RangeStatZDInfo(lots, &range, &conn()), 1);
    ASSERT_EQ(RangeStatFWInfo(houses, &range, &conn()), 1);
  }
  // A quote in a key is a key like any other, "%" keeps its meaning, a key
  // not found adds no row, an empty value is not copied.
  EXPECT_EQ(testing::Rows(range, "select 地籍号, 宗地面积, 土地使用者, 土地证号 from ZDXX"),
            (std::vector<std::string>{"A'1|100.5|张三|", "C9|30||"}));
  // Each house of a lot takes the row of its number; a house without one
  // the lot's first row; a number the source lacks, the lot's row without
  // a number.
  EXPECT_EQ(testing::Rows(range, "select 隶属宗地, 房屋编号, 权利人, 建筑面积 from FWXX"),
            (std::vector<std::string>{"A'1|0002|乙|60", "A'1|0001|甲|50", "A'1|0001|甲|50",
                                      "D1||丙|70"}));
  EXPECT_EQ(RangeStatZDInfo(0, &range, &conn()), 0);
  EXPECT_EQ(RangeStatZDInfo(lots, nullptr, &conn()), 0);
  conn().Execute("drop table approve");
  EXPECT_EQ(RangeStatZDInfo(lots, &range, &conn()), 0);
}

// A town-lot range run copies the lot information from the data source of
// rivadoverid.ini (a file named by its plain path too); one that cannot be
// reached is logged and counted.
TEST_P(RangeInfoTest, TownRunCopiesFromTheConfiguredDataSource) {
  RangeFolder range;
  std::string lot;
  {
    testing::ScopedLayer layer(gis::OpenLayer(range.Survey(), "城镇权属层"));
    lot = gis::FieldText(layer, 1, "地籍号");
  }
  ASSERT_FALSE(lot.empty());
  conn().Execute("insert into approve values (?, 12.5, '某单位', '')", {db::Value(lot)});
  const auto configure = [](const std::string& source) {
    std::ofstream(RangeFolder::Home() + "/rivadoverid.ini")
        << "[数据源]\n名称=" << source << "\n模式=单机\n";
  };
  std::vector<std::string> sources = {database().ConnectionString()};
  if (!IsServer()) sources.push_back(conn().FilePath());
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    fs::remove(range.File(kRangeDatabaseName));
    configure(source);
    EXPECT_EQ(LandCZZDRangeStat(range.Project().c_str(), range.Codes(), "330102"), 1);
    db::Connection stored(range.File(kRangeDatabaseName));
    EXPECT_EQ(testing::Rows(stored, "select 地籍号, 宗地面积 from ZDXX"),
              std::vector<std::string>{lot + "|12.5"});
  }

  configure("host=127.0.0.1 port=1 dbname=none connect_timeout=2");
  RangeRequest request;
  request.project = range.Project();
  request.kind = RangeKind::kTownLots;
  request.codes = range.Codes();
  request.county = "330102";
  const RunReport report = RunRange(request);
  fs::remove(RangeFolder::Home() + "/rivadoverid.ini");
  EXPECT_EQ(report.outcome, RunOutcome::kCompletedWithFailures);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.back().find("数据源"), std::string::npos);
}

LANDSTAT_BOTH_ENGINES(RangeInfoTest);

}  // namespace
}  // namespace landstat
