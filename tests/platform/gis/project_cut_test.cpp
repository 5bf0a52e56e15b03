#include "platform/gis/project_cut.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "county_writer.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/project.h"
#include "support/test_databases.h"
#include "support/umask_calls.h"

namespace landstat::gis {
namespace {
namespace fs = std::filesystem;
using ::landstat::testing::FixtureFeature;
using ::landstat::testing::GisErrorOf;
using ::landstat::testing::Names;
using ::landstat::testing::RunFixtureSql;
using ::landstat::testing::TempDir;
using ::landstat::testing::WriteFixtureLayer;
using ::landstat::testing::WriteRectangleFile;

constexpr char kSquare[] = "POLYGON ((0 0,10 0,10 10,0 10,0 0))";

// A county of a few records around the range square (0 0)-(10 10): each
// layer's records are listed in the table of the test that reads them.
class ProjectCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "county");
    WriteFixtureLayer(survey_, "地类图斑", wkbPolygon,
                      {{"图斑编号", OFTString}, {"图斑面积", OFTReal}, {"图斑地类面积", OFTReal}},
                      {{"POLYGON ((8 0,12 0,12 2,8 2,8 0))",  // half inside
                        {{"图斑编号", "1"}, {"图斑面积", "100.25"}, {"图斑地类面积", "90"}}},
                       {"POLYGON ((1 1,3 1,3 3,1 3,1 1))",  // inside
                        {{"图斑编号", "2"}, {"图斑面积", "4"}, {"图斑地类面积", "4"}}},
                       {"POLYGON ((20 20,22 20,22 22,20 22,20 20))",  // outside
                        {{"图斑编号", "3"}, {"图斑面积", "4"}}},
                       {"POLYGON ((4 4,6 6,6 4,4 6,4 4))",  // a bow-tie inside
                        {{"图斑编号", "4"}, {"图斑面积", "2"}}},
                       {"", {{"图斑编号", "5"}, {"图斑面积", "7"}}},  // no geometry
                       {"POLYGON ((8 4,12 4,12 6,8 6,8 4))", {{"图斑编号", "6"}}}});
    // Text in numeric columns, as a GeoPackage keeps it.
    RunFixtureSql(survey_, "UPDATE 地类图斑 SET 图斑地类面积 = 'abc' WHERE fid = 2");
    RunFixtureSql(survey_, "UPDATE 地类图斑 SET 图斑面积 = '1,5' WHERE fid = 6");
    WriteFixtureLayer(survey_, "基本农田图斑", wkbPolygon, {{"基本农田图斑面积", OFTString}},
                      {{"POLYGON ((-1 5,1 5,1 6,-1 6,-1 5))", {{"基本农田图斑面积", "3"}}},
                       {"POLYGON ((-1 7,1 7,1 8,-1 8,-1 7))", {{"基本农田图斑面积", "abc"}}}});
    WriteFixtureLayer(survey_, "线状地物", wkbLineString, {{"长度", OFTReal}},
                      {{"LINESTRING (5 5,15 5)", {{"长度", "10"}}}});
    WriteFixtureLayer(
        survey_, "零星地物", wkbPoint, {{"地类编码", OFTString}},
        {{"POINT (2 2)", {{"地类编码", "031"}}}, {"POINT (30 30)", {{"地类编码", "032"}}}});
    WriteFixtureLayer(survey_, "权属单位", wkbNone, {{"代码", OFTString}},
                      {{"", {{"代码", "330102001"}}}, {"", {{"代码", "330102002"}}}});
    std::ofstream(dir_.File("county/codes.tsv")) << "县行政代码\t330102\t示例县\n";
    std::map<std::string, std::string> layers;
    for (const char* name : {"地类图斑", "基本农田图斑", "线状地物", "零星地物", "权属单位"}) {
      layers[name] = "survey.gpkg";
    }
    WriteProjectFile(project_, "330102", "示例县", layers, "codes.tsv");
    WriteFixtureLayer(polygon_, "range", wkbPolygon, {}, {{kSquare, {}}});
  }

  void TearDown() override { CloseAllLayers(); }

  TempDir dir_;
  const std::string survey_ = dir_.File("county/survey.gpkg");
  const std::string project_ = dir_.File("county/project.xml");
  const std::string polygon_ = dir_.File("polygon.gpkg");
  const std::string range_ = dir_.File("range");
};

TEST_F(ProjectCutTest, KeepsWhatMeetsThePolygonAndSharesTheGrossAreas) {
  // A former range in the folder: its statistics go, other files stay.
  fs::create_directories(range_);
  std::ofstream(range_ + "/RangeStat.sqlite") << "old";
  std::ofstream(range_ + "/notes.txt") << "mine";

  const int umask_calls = ::landstat::testing::UmaskCalls();
  const CutReport report = CutProject(project_, polygon_, range_);
  // The staging folder's mode is set without the process's umask, which
  // other threads' files follow.
  EXPECT_EQ(::landstat::testing::UmaskCalls(), umask_calls);

  EXPECT_EQ(report.layers, 5);
  EXPECT_EQ(report.records_kept, 9);
  EXPECT_EQ(report.records_skipped, 2);
  ASSERT_EQ(report.per_layer.size(), 5u);
  EXPECT_EQ(report.per_layer[0].name, "地类图斑");
  EXPECT_EQ(report.per_layer[0].kept, 3);
  EXPECT_EQ(report.per_layer[0].skipped, 2);
  // In this order: the records without a geometry first, then the walk's.
  const std::string problems[] = {
      "layer \"地类图斑\", record 5: it has no geometry",
      "layer \"地类图斑\", record 4: its geometry is not valid",
      "layer \"地类图斑\", record 6: its 图斑面积 \"1,5\" is no number",
      "layer \"基本农田图斑\", record 2: its 基本农田图斑面积 \"abc\" is no number",
  };
  ASSERT_EQ(report.problems.size(), std::size(problems));
  for (std::size_t i = 0; i < std::size(problems); ++i) {
    EXPECT_TRUE(Names(report.problems[i], problems[i])) << report.problems[i];
  }
  EXPECT_FALSE(fs::exists(range_ + "/RangeStat.sqlite"));
  EXPECT_TRUE(fs::exists(range_ + "/notes.txt"));
  EXPECT_TRUE(fs::exists(range_ + "/codes.tsv"));

  std::unique_ptr<CGisXmlPrj> range = CGisXmlPrj::Open(report.project_path);
  EXPECT_EQ(range->GetCountyCode(), "330102");
  EXPECT_EQ(fs::path(range->GetCodeFile()), fs::path(range_) / "codes.tsv");
  EXPECT_EQ(range->LayerNames(), CGisXmlPrj::Open(project_)->LayerNames());

  struct Case {
    const char* layer;
    long record;
    bool kept;
    double measure;  // area of a region, length of a line
    const char* field;
    const char* value;
  };
  const Case cases[] = {
      {"地类图斑", 1, true, 4, "图斑面积", "50.13"},  // 100.25 x 4 / 8, two decimals
      {"地类图斑", 1, true, 4, "图斑地类面积", "90"},
      {"地类图斑", 2, true, 4, "图斑面积", "4"},
      {"地类图斑", 6, true, 4, "图斑面积", "1"},  // "1,5" read as a number
      {"地类图斑", 3, false, 0, "", ""},
      {"地类图斑", 4, false, 0, "", ""},
      {"地类图斑", 5, false, 0, "", ""},
      {"基本农田图斑", 1, true, 1, "基本农田图斑面积", "1.5"},  // a text field
      {"基本农田图斑", 2, true, 1, "基本农田图斑面积", "abc"},  // no number: kept whole
      {"线状地物", 1, true, 5, "长度", "10"},
      {"零星地物", 1, true, 0, "地类编码", "031"},
      {"零星地物", 2, false, 0, "", ""},
      {"权属单位", 1, true, 0, "代码", "330102001"},
      {"权属单位", 2, true, 0, "代码", "330102002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layer) + " record " + std::to_string(c.record));
    const LayerHandle layer = range->prjItemGetAi(c.layer);
    Record record;
    ASSERT_EQ(ReadRecord(layer, EntityKind::kTable, c.record, record), c.kept);
    if (!c.kept) continue;
    EXPECT_EQ(record.Text(c.field), c.value);
    const EntityKind kind = LayerKind(layer);
    if (kind == EntityKind::kRegion || kind == EntityKind::kLine) {
      EXPECT_NEAR(kind == EntityKind::kRegion ? record.Area() : record.Length(), c.measure, 1e-9);
    }
  }
  // The texts in numeric columns stay as the county holds them.
  const LayerHandle parcels = range->prjItemGetAi("地类图斑");
  EXPECT_EQ(NonNumericValues(parcels, "图斑地类面积"),
            (std::vector<std::pair<long, std::string>>{{2, "abc"}}));
  EXPECT_EQ(NonNumericValues(parcels, "图斑面积"),
            (std::vector<std::pair<long, std::string>>{{6, "1,5"}}));
}

// A layer long enough to be read and placed in many batches, on threads
// beside the cut: every record is kept or skipped, and the skipped are
// named, in the layer's order.
TEST_F(ProjectCutTest, ALongLayerIsCutInItsOwnOrder) {
  std::vector<FixtureFeature> parcels;
  std::vector<std::string> skipped;
  for (int i = 1; i <= 1200; ++i) {
    const std::string x = std::to_string(i % 30 * 0.3), y = std::to_string(i / 30 * 0.2);
    const std::string x1 = std::to_string(i % 30 * 0.3 + 0.1);
    const std::string y1 = std::to_string(i / 30 * 0.2 + 0.1);
    // Every 97th a bow-tie, which is not valid.
    const bool bowtie = i % 97 == 0;
    parcels.push_back({"POLYGON ((" + x + " " + y + "," + x1 + " " + (bowtie ? y1 : y) + "," + x1 +
                           " " + (bowtie ? y : y1) + "," + x + " " + y1 + "," + x + " " + y + "))",
                       {{"图斑编号", std::to_string(i)}}});
    if (bowtie) skipped.push_back("record " + std::to_string(i) + ": its geometry is not valid");
  }
  WriteFixtureLayer(dir_.File("county/many.gpkg"), "地类图斑", wkbPolygon,
                    {{"图斑编号", OFTString}}, parcels);
  WriteProjectFile(dir_.File("county/many.xml"), "330102", "示例县", {{"地类图斑", "many.gpkg"}},
                   "codes.tsv");

  const CutReport report = CutProject(dir_.File("county/many.xml"), polygon_, range_);

  EXPECT_EQ(report.records_kept, 1200 - static_cast<long>(skipped.size()));
  EXPECT_EQ(report.records_skipped, static_cast<long>(skipped.size()));
  ASSERT_EQ(report.problems.size(), skipped.size());
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    EXPECT_TRUE(Names(report.problems[i], skipped[i])) << report.problems[i];
  }
  // The range's spatial index, built apart from the layer, finds what was
  // kept.
  std::unique_ptr<CGisXmlPrj> range = CGisXmlPrj::Open(report.project_path);
  const LayerHandle kept = range->prjItemGetAi("地类图斑");
  EXPECT_EQ(RecordsInRect(kept, {0, 0, 10, 10}).size(), 1200 - skipped.size());
  EXPECT_EQ(RecordsInRect(kept, {0.32, 0.22, 0.33, 0.23}), std::vector<long>{31});
}

TEST_F(ProjectCutTest, RefusesBadInputBeforeTouchingTheRangeFolder) {
  WriteFixtureLayer(dir_.File("empty.gpkg"), "range", wkbPolygon, {}, {});
  WriteFixtureLayer(dir_.File("bowtie.gpkg"), "range", wkbPolygon, {},
                    {{"POLYGON ((0 0,10 10,10 0,0 10,0 0))", {}}});
  WriteFixtureLayer(dir_.File("line.gpkg"), "range", wkbLineString, {},
                    {{"LINESTRING (0 0,10 10)", {}}});
  WriteRectangleFile(dir_.File("outside.gpkg"), {100, 100, 110, 110});
  std::ofstream(dir_.File("broken.xml")) << "<GisProject sCode=\"330102\"><Layer";
  struct Case {
    std::string project, polygon, range, named;
    std::string required;  // the layer the cut must keep a record of
  };
  const Case cases[] = {
      {project_, dir_.File("empty.gpkg"), range_, dir_.File("empty.gpkg"), ""},
      {project_, dir_.File("bowtie.gpkg"), range_, dir_.File("bowtie.gpkg"), ""},
      {project_, dir_.File("line.gpkg"), range_, dir_.File("line.gpkg"), ""},
      {project_, dir_.File("missing.gpkg"), range_, dir_.File("missing.gpkg"), ""},
      {dir_.File("broken.xml"), polygon_, range_, dir_.File("broken.xml"), ""},
      {project_, polygon_, dir_.File("county"), dir_.File("county"), ""},
      {project_, dir_.File("outside.gpkg"), range_, dir_.File("outside.gpkg"), "地类图斑"},
      {project_, polygon_, range_, "宗地", "宗地"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    EXPECT_TRUE(
        Names(GisErrorOf([&] { CutProject(c.project, c.polygon, c.range, c.required); }), c.named));
    EXPECT_FALSE(fs::exists(range_));
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      EXPECT_EQ(entry.path().filename().string().find(".range"), std::string::npos);
    }
  }
}

// Only a range a cut made, whose layers all lie in its own GeoPackage, is
// one: a repair may write there and nowhere else.
TEST_F(ProjectCutTest, OnlyWhatACutMadeIsARange) {
  const std::string range_project = CutProject(project_, polygon_, range_).project_path;
  WriteProjectFile(range_ + "/county.xml", "330102", "示例县",
                   {{"地类图斑", "range.gpkg"}, {"线状地物", survey_}}, {}, true);
  // A range an earlier version cut, whose project file carries no mark.
  fs::create_directories(range_ + "/old");
  fs::copy_file(range_ + "/range.gpkg", range_ + "/old/range.gpkg");
  WriteProjectFile(range_ + "/old/range.xml", "330102", "示例县", {{"地类图斑", "range.gpkg"}}, {});
  const struct {
    std::string project, named;  // named: empty for a range
  } cases[] = {
      {range_project, ""},
      {range_ + "/old/range.xml", ""},
      {project_, project_},
      {range_ + "/county.xml", "线状地物"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.project);
    const std::string why = NotACutRange(*CGisXmlPrj::Open(c.project));
    if (c.named.empty()) {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_TRUE(Names(why, c.named));
    }
  }
}

// A project named by its bare file name from its own folder, as a user
// types it there, is cut like one named by its path.
TEST_F(ProjectCutTest, AProjectNamedFromItsOwnFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_.path() / "county");
  std::string range_project;
  EXPECT_NO_THROW(range_project = CutProject("project.xml", polygon_, "range-here").project_path);
  fs::current_path(before);
  EXPECT_TRUE(fs::is_regular_file(dir_.path() / "county/range-here/range.gpkg")) << range_project;
}

// One cut at a time writes beside a range folder; what a killed cut left
// there goes with the next cut.
TEST_F(ProjectCutTest, OneCutAtATimeAndAKilledCutsStagingIsRemoved) {
  fs::create_directories(dir_.path() / ".range.cutting-abc123");
  std::ofstream(dir_.File(".range.cutting-abc123/survey.gpkg")) << "half written";
  const int held = ::open(dir_.File(".range.cutting.lock").c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_TRUE(Names(GisErrorOf([&] { CutProject(project_, polygon_, range_); }),
                    "another cut is writing the range folder " + range_));
  EXPECT_FALSE(fs::exists(range_));
  ::close(held);

  CutProject(project_, polygon_, range_);
  std::set<std::string> beside;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    beside.insert(entry.path().filename().string());
  }
  EXPECT_EQ(beside,
            (std::set<std::string>{"county", "polygon.gpkg", "range", ".range.cutting.lock"}));
}

// A shapefile numbers its features from 0, its records from 1: record n of
// the range is record n of the county all the same.
TEST_F(ProjectCutTest, AShapefileKeepsItsRecordNumbers) {
  fs::create_directories(dir_.path() / "shp");
  WriteFixtureLayer(dir_.File("shp/parcels.shp"), "parcels", wkbPolygon, {{"BH", OFTString}},
                    {{"POLYGON ((20 20,22 20,22 22,20 22,20 20))", {{"BH", "a"}}},
                     {"POLYGON ((1 1,3 1,3 3,1 3,1 1))", {{"BH", "b"}}},
                     {"POLYGON ((9 1,11 1,11 3,9 3,9 1))", {{"BH", "c"}}}});
  WriteProjectFile(project_, "330102", "示例县", {{"地类图斑", "../shp/parcels.shp"}});

  const CutReport report = CutProject(project_, polygon_, range_);

  std::unique_ptr<CGisXmlPrj> range = CGisXmlPrj::Open(report.project_path);
  const LayerHandle parcels = range->prjItemGetAi("地类图斑");
  EXPECT_EQ(FieldText(parcels, 1, "BH"), "");
  EXPECT_EQ(FieldText(parcels, 2, "BH"), "b");
  EXPECT_EQ(FieldText(parcels, 3, "BH"), "c");
}

// The whole of a generated county cut by a polygon around it: every parcel
// and its gross area, unchanged.
TEST(ProjectCutCountyTest, APolygonAroundTheCountyKeepsEveryParcel) {
  TempDir dir;
  county::CountyOptions options;
  options.parcels = 300;
  const county::CountyFiles files = county::WriteCounty(county::PlanCounty(options), dir.File("c"));
  const auto totals = [](const std::string& project_path) {
    std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_path);
    const LayerHandle parcels = project->prjItemGetAi("地类图斑");
    std::pair<long, double> sum{0, 0.0};
    Record record;
    for (long n = 1; n < RecordCount(parcels, EntityKind::kRegion); ++n) {
      if (!ReadRecord(parcels, EntityKind::kRegion, n, record)) continue;
      ++sum.first;
      sum.second += record.Number("图斑面积");
    }
    return sum;
  };
  Rect extent;
  {
    std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(files.project);
    ASSERT_TRUE(LayerExtent(project->prjItemGetAi("地类图斑"), extent));
  }
  WriteRectangleFile(dir.File("around.gpkg"),
                     {extent.min_x - 1, extent.min_y - 1, extent.max_x + 1, extent.max_y + 1});

  const CutReport report = CutProject(files.project, dir.File("around.gpkg"), dir.File("range/"));

  EXPECT_TRUE(report.problems.empty());
  const auto county = totals(files.project);
  const auto range = totals(report.project_path);
  EXPECT_EQ(range.first, options.parcels);
  EXPECT_EQ(range.first, county.first);
  EXPECT_NEAR(range.second, county.second, 1e-6);
  CloseAllLayers();
}

}  // namespace
}  // namespace landstat::gis
