// The repair of a clipped range: line and point areas booked to the parcels
// they touch, deductions and net areas, features outside removed; on a
// hand-made GeoPackage of four parcels.

#include "operator/clip_analyse.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using gis::EntityKind;
using gis::FieldText;
using testing::FixtureField;
using testing::ScopedLayer;
using testing::TempDir;
using testing::WriteFixtureLayer;

std::string Square(int x, int size) {
  const std::string x0 = std::to_string(x), x1 = std::to_string(x + size);
  const std::string y1 = std::to_string(size);
  return "POLYGON ((" + x0 + " 0," + x1 + " 0," + x1 + " " + y1 + "," + x0 + " " + y1 + "," + x0 +
         " 0))";
}

// Parcels 1 and 2 share a border carrying a line of ratio 0.5 (3.03 m²,
// odd at 2 decimals); a line of ratio 1 runs on parcel 2's outer edge and
// names a parcel outside the range on side 1; a point lies in parcel 1,
// one outside every parcel, one in parcel 4, which is too small for it.
// Parcel 3 has no features.
class ClipAnalyseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<FixtureField> parcel_fields = {
        {"图斑编号", OFTString, 30}, {"座落单位代码", OFTString, 30}, {"图斑面积", OFTReal},
        {"扣除地类系数", OFTReal},   {"零星地物面积", OFTReal},       {"线状地物面积", OFTReal},
        {"扣除地类面积", OFTReal},   {"图斑地类面积", OFTReal}};
    const auto parcel = [](int x, const char* number, const char* area, const char* c) {
      return testing::FixtureFeature{
          Square(x, 10),
          {{"图斑编号", number}, {"座落单位代码", "C"}, {"图斑面积", area}, {"扣除地类系数", c}}};
    };
    WriteFixtureLayer(path_, "地类图斑", wkbPolygon, parcel_fields,
                      {parcel(0, "1", "100", "0"), parcel(10, "2", "100", "2"),
                       parcel(30, "3", "100", "8"), parcel(50, "4", "1", "0")});
    const std::vector<FixtureField> line_fields = {{"宽度", OFTReal},
                                                   {"长度", OFTReal},
                                                   {"线状地物面积", OFTReal},
                                                   {"扣除比例", OFTReal},
                                                   {"扣除图斑座落代码1", OFTString, 30},
                                                   {"扣除图斑编号1", OFTString, 30},
                                                   {"扣除图斑座落代码2", OFTString, 30},
                                                   {"扣除图斑编号2", OFTString, 30}};
    const auto line = [](const char* wkt, const char* length, const char* ratio,
                         const char* side1) {
      return testing::FixtureFeature{wkt,
                                     {{"宽度", "0.3"},
                                      {"长度", length},
                                      {"扣除比例", ratio},
                                      {"扣除图斑座落代码1", "C"},
                                      {"扣除图斑编号1", side1},
                                      {"扣除图斑座落代码2", "C"},
                                      {"扣除图斑编号2", "2"}}};
    };
    WriteFixtureLayer(path_, "线状地物", wkbLineString, line_fields,
                      {line("LINESTRING (10 -0.05,10 10.05)", "10.1", "0.5", "1"),
                       line("LINESTRING (20 0,20 10)", "10", "1", "9")});
    const std::vector<FixtureField> point_fields = {{"零星地物面积", OFTReal},
                                                    {"座落图斑编号", OFTString, 30},
                                                    {"座落单位代码", OFTString, 30}};
    const auto point = [](const char* wkt, const char* area, const char* seat) {
      return testing::FixtureFeature{
          wkt, {{"零星地物面积", area}, {"座落图斑编号", seat}, {"座落单位代码", "C"}}};
    };
    WriteFixtureLayer(path_, "零星地物", wkbPoint, point_fields,
                      {point("POINT (5 5)", "2.5", "1"), point("POINT (70 70)", "4", ""),
                       point("POINT (55 5)", "2", "4")});
  }

  // Runs a repair on the three layers of `path`.
  template <typename Repair>
  short RepairWith(Repair repair, const std::string& path, const char* points_layer = "零星地物") {
    ScopedLayer parcels(gis::OpenLayer(path, "地类图斑", true));
    ScopedLayer lines(gis::OpenLayer(path, "线状地物", true));
    ScopedLayer points(gis::OpenLayer(path, points_layer, true));
    return repair(parcels, lines, points);
  }
  short Repair() {
    return RepairWith([](short p, short l, short s) { return clip_analyse(p, l, s, 0); }, path_);
  }

  // Every field of every record of a layer, numbers by value.
  std::map<long, std::vector<std::string>> Contents(const char* layer_name) {
    return Contents(layer_name, path_);
  }
  std::map<long, std::vector<std::string>> Contents(const char* layer_name,
                                                    const std::string& path) {
    ScopedLayer layer(gis::OpenLayer(path, layer_name));
    std::map<long, std::vector<std::string>> contents;
    const std::vector<gis::FieldDef> fields = gis::LayerFields(layer);
    gis::Record record;
    for (long number = 1; number < gis::RecordCount(layer, EntityKind::kTable); ++number) {
      if (!gis::ReadRecord(layer, EntityKind::kTable, number, record)) continue;
      for (const gis::FieldDef& field : fields) {
        contents[number].push_back(field.type == gis::FieldType::kText
                                       ? record.Text(field.name)
                                       : std::to_string(record.Number(field.name)));
      }
    }
    return contents;
  }

  TempDir dir_;
  const std::string path_ = dir_.File("range.gpkg");
};

TEST_F(ClipAnalyseTest, BooksSplitsDeductsAndRemovesWhatLiesOutside) {
  ASSERT_EQ(Repair(), 1);
  // Numeric fields read back as their shortest text ("2.50" as "2.5").
  ScopedLayer parcels(gis::OpenLayer(path_, "地类图斑"));
  const struct {
    long parcel;
    const char *lines, *points, *deducted, *net;
  } expected[] = {
      {1, "1.51", "2.5", "0", "95.99"},   // first half of 3.03, the point inside
      {2, "1.52", "0", "1.97", "96.51"},  // (100 - 1.52) × 2 %
      {3, "0", "0", "8", "92"},           // no features: A × c × 0.01
      {4, "", "", "0", "1"},              // gave its point up, its gross area back
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.parcel);
    EXPECT_EQ(FieldText(parcels, e.parcel, "线状地物面积"), e.lines);
    EXPECT_EQ(FieldText(parcels, e.parcel, "零星地物面积"), e.points);
    EXPECT_EQ(FieldText(parcels, e.parcel, "扣除地类面积"), e.deducted);
    EXPECT_EQ(FieldText(parcels, e.parcel, "图斑地类面积"), e.net);
  }
  ScopedLayer lines(gis::OpenLayer(path_, "线状地物"));
  EXPECT_EQ(gis::SelectRecords(lines, "1 = 1"), std::vector<long>{1});  // the ratio-1 line is gone
  EXPECT_EQ(FieldText(lines, 1, "线状地物面积"), "3.03");
  EXPECT_EQ(FieldText(lines, 1, "扣除图斑编号1"), "1");
  EXPECT_EQ(FieldText(lines, 1, "扣除图斑编号2"), "2");
  ScopedLayer points(gis::OpenLayer(path_, "零星地物"));
  EXPECT_EQ(gis::SelectRecords(points, "1 = 1"), std::vector<long>{1});
  EXPECT_EQ(FieldText(points, 1, "座落图斑编号"), "1");
}

// A coefficient that is no number from 0 to below 100 is logged with its
// record and value, and its parcel is left as it was: the features in it
// stay booked to it, none is removed.
TEST_F(ClipAnalyseTest, ABadCoefficientIsLoggedAndItsParcelLeftAsItWas) {
  int run = 0;
  const struct {
    std::string coefficient, logged;
  } cases[] = {{"-5", "-5"}, {"abc", "abc"}, {"1e308", "1e+308"}, {"100", "100"}};
  for (const auto& [coefficient, logged] : cases) {
    SCOPED_TRACE(coefficient);
    const std::string copy = dir_.File("bad" + std::to_string(++run) + ".gpkg");
    std::filesystem::copy_file(path_, copy);
    testing::RunFixtureSql(
        copy, "UPDATE 地类图斑 SET 扣除地类系数 = '" + coefficient + "' WHERE fid = 1");
    const auto before = Contents("地类图斑", copy);
    StatRunLog log;
    ASSERT_EQ(
        RepairWith([&](short p, short l, short s) { return clip_analyse(p, l, s, 0, &log); }, copy),
        1);
    ASSERT_EQ(log.m_nErrCount, 1);
    EXPECT_TRUE(testing::Names(log.m_arrFirstFailures[0], "记录 1 字段 扣除地类系数"));
    EXPECT_TRUE(testing::Names(log.m_arrFirstFailures[0], "'" + logged + "'"));
    EXPECT_EQ(Contents("地类图斑", copy)[1], before.at(1));
    ScopedLayer parcels(gis::OpenLayer(copy, "地类图斑"));
    EXPECT_EQ(gis::NonNumericValues(parcels, "扣除地类系数").size(),
              coefficient == "abc" ? 1u : 0u);
    ScopedLayer points(gis::OpenLayer(copy, "零星地物"));
    EXPECT_EQ(gis::SelectRecords(points, "1 = 1"), std::vector<long>{1});
  }
}

TEST_F(ClipAnalyseTest, SecondRunGivesTheSameLayers) {
  ASSERT_EQ(Repair(), 1);
  const auto parcels = Contents("地类图斑"), lines = Contents("线状地物"),
             points = Contents("零星地物");
  ASSERT_EQ(Repair(), 1);
  EXPECT_EQ(Contents("地类图斑"), parcels);
  EXPECT_EQ(Contents("线状地物"), lines);
  EXPECT_EQ(Contents("零星地物"), points);
}

TEST_F(ClipAnalyseTest, RepairThatFailsHalfWayWritesNothing) {
  // A parcel number that is no number, booked into a numeric 图斑编号 of the
  // points after the line areas were written.
  WriteFixtureLayer(
      path_, "数字编号点", wkbPoint,
      {{"零星地物面积", OFTReal}, {"座落图斑编号", OFTString, 30}, {"图斑编号", OFTReal}},
      {{"POINT (5 5)", {{"零星地物面积", "1"}}}});
  {
    ScopedLayer parcels(gis::OpenLayer(path_, "地类图斑", true));
    gis::Record record;
    ASSERT_TRUE(gis::ReadRecord(parcels, EntityKind::kRegion, 1, record));
    record.SetText("图斑编号", "A1");
    gis::WriteRecord(parcels, record);
  }
  const auto before = Contents("线状地物");
  EXPECT_THROW(RepairWith([](short p, short l, short s) { return clip_analyse(p, l, s, 0); }, path_,
                          "数字编号点"),
               gis::GisError);
  EXPECT_EQ(Contents("线状地物"), before);
}

// The attribute repairs differ in halves, in a link naming two parcels and
// in the coefficient: a percentage for land use, a fraction for farmland.
TEST_F(ClipAnalyseTest, AttributeRepairsBookByLinks) {
  {
    ScopedLayer parcels(gis::OpenLayer(path_, "地类图斑", true));
    gis::Record record;
    ASSERT_TRUE(gis::ReadRecord(parcels, EntityKind::kRegion, 3, record));
    record.SetText("图斑编号", "4");  // the link "4" of the third point names two parcels
    gis::WriteRecord(parcels, record);
  }
  const struct {
    short (*repair)(short, short, short);
    const char* line_area;
    std::vector<std::string> nets;
  } cases[] = {
      {UpdateClipData, "3.03", {"95.99", "96.48", "90", "1"}},
      {UpdateClipJbntData, "", {"95.98", "-101.52", "-700", "1"}},
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(run);
    const std::string copy = dir_.File("copy" + std::to_string(++run) + ".gpkg");
    std::filesystem::copy_file(path_, copy);
    ASSERT_EQ(RepairWith(c.repair, copy), 1);
    ScopedLayer parcels(gis::OpenLayer(copy, "地类图斑"));
    for (long parcel = 1; parcel <= 4; ++parcel) {
      EXPECT_EQ(FieldText(parcels, parcel, "图斑地类面积"), c.nets[parcel - 1]) << parcel;
    }
    ScopedLayer lines(gis::OpenLayer(copy, "线状地物"));
    EXPECT_EQ(FieldText(lines, 1, "线状地物面积"), c.line_area);
  }
}

TEST_F(ClipAnalyseTest, RefusesMissingLayersAndDeductsCoefficientsAsPercentagesFromOne) {
  EXPECT_EQ(clip_analyse(0, 1, 1, 0), 0);
  EXPECT_EQ(dealAiExp(0, 2, "图斑面积", "图斑地类面积", "图斑编号=='1'"), 0);
  ScopedLayer parcels(gis::OpenLayer(path_, "地类图斑", true));
  EXPECT_EQ(dealAiExp(parcels, 2, "图斑面积", "图斑地类面积", nullptr), 0);
  EXPECT_EQ(dealAiExp(parcels, 2, "图斑面积", "图斑地类面积", "图斑编号=='none'"), 0);
  const struct {
    const char *coefficient, *deducted, *net;
  } cases[] = {{"8", "8", "92"}, {"0.08", "8", "92"}, {"1", "1", "99"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.coefficient);
    gis::Record record;
    ASSERT_TRUE(gis::ReadRecord(parcels, EntityKind::kRegion, 3, record));
    record.SetText("扣除地类系数", c.coefficient);
    gis::WriteRecord(parcels, record);
    ASSERT_EQ(dealAiExp(parcels, 2, "图斑面积", "图斑地类面积", "图斑编号=='3'"), 1);
    EXPECT_EQ(FieldText(parcels, 3, "扣除地类面积"), c.deducted);
    EXPECT_EQ(FieldText(parcels, 3, "图斑地类面积"), c.net);
  }
}

}  // namespace
}  // namespace landstat
