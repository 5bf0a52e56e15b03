#include "platform/gis/layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/gis_fixtures.h"
#include "support/test_databases.h"

namespace landstat::gis {
namespace {
namespace fs = std::filesystem;
using ::landstat::testing::DeleteFixtureFeature;
using ::landstat::testing::FixtureFeature;
using ::landstat::testing::FixtureField;
using ::landstat::testing::GisErrorOf;
using ::landstat::testing::Names;
using ::landstat::testing::RunFixtureSql;
using ::landstat::testing::ScopedLayer;
using ::landstat::testing::TempDir;
using ::landstat::testing::WriteFixtureLayer;

std::string Square(double x, double y, double side) {
  const std::string x0 = std::to_string(x), y0 = std::to_string(y);
  const std::string x1 = std::to_string(x + side), y1 = std::to_string(y + side);
  return "POLYGON ((" + x0 + " " + y0 + "," + x1 + " " + y0 + "," + x1 + " " + y1 + "," + x0 + " " +
         y1 + "," + x0 + " " + y0 + "))";
}

std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::vector<FixtureField> kParcelFields = {{"图斑编号", OFTString, 8},
                                                 {"地类编码", OFTString, 4},
                                                 {"图斑面积", OFTReal},
                                                 {"扣除比例", OFTReal},
                                                 {"标识码", OFTInteger64}};

// Five parcels of a GeoPackage; the third is deleted, leaving a gap.
class GisLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFixtureLayer(
        survey_, "地类图斑", wkbPolygon, kParcelFields,
        {{Square(0, 0, 10),
          {{"图斑编号", "1"},
           {"地类编码", "011"},
           {"图斑面积", "3298.78"},
           {"扣除比例", "0.5"},
           {"标识码", "12"}}},
         {Square(10, 0, 10), {{"图斑编号", "2"}, {"地类编码", "013"}, {"图斑面积", "50"}}},
         {Square(0, 10, 10), {{"图斑编号", "3"}, {"地类编码", "011"}, {"图斑面积", "999"}}},
         {Square(10, 10, 10), {{"图斑编号", "4"}, {"地类编码", "203"}}},
         {Square(20, 0, 10), {{"图斑编号", "5"}, {"地类编码", "011"}, {"图斑面积", "120.5"}}}});
    DeleteFixtureFeature(survey_, "地类图斑", 3);
  }

  TempDir dir_;
  const std::string survey_ = dir_.File("survey.gpkg");
};

// Record numbers ---------------------------------------------------------

TEST_F(GisLayerTest, GeoPackageCountIsOnePastTheHighestNumberAndGapsReadAsMissing) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  ASSERT_EQ(RecordCount(layer, EntityKind::kRegion), 6);
  std::vector<std::string> numbers;
  for (int pass = 0; pass < 2; ++pass) {  // a second walk starts over
    numbers.clear();
    for (long i = 1; i < RecordCount(layer, EntityKind::kRegion); ++i) {
      Record record;
      if (!ReadRecord(layer, EntityKind::kRegion, i, record)) {
        EXPECT_EQ(i, 3);
        EXPECT_FALSE(record.IsRead());
        continue;
      }
      EXPECT_EQ(record.Number(), i);
      numbers.push_back(record.Text("图斑编号"));
    }
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2", "4", "5"})) << "pass " << pass;
  }
  Record record;
  EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, 0, record));
  EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, -1, record));
  EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, 6, record));
  // Out of order, after the walk.
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 5, record));
  EXPECT_EQ(record.Text("图斑编号"), "5");
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 2, record));
  EXPECT_EQ(record.Text("图斑编号"), "2");
  EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, 3, record));
  EXPECT_EQ(FieldText(layer, 4, "图斑编号"), "4");
  EXPECT_EQ(FieldText(layer, 3, "图斑编号"), "");
}

// Every feature of a source has one number, from 1, whatever ids the
// source gives: a shapefile's and a GeoJSON file's from 0, a GeoPackage's
// below 1 or far apart, a GeoJSON file's out of order (numbered in the
// order of their ids). Reads by number, walks and searches agree.
TEST_F(GisLayerTest, RecordsOfEverySourceAreNumberedFromOne) {
  const std::vector<FixtureFeature> squares = {
      {Square(0, 0, 1), {{"NAME", "first"}, {"AREA", "1"}}},
      {Square(1, 0, 1), {{"NAME", "second"}, {"AREA", "1"}}},
      {Square(2, 0, 1), {{"NAME", "third"}, {"AREA", "1"}}}};
  const std::vector<FixtureField> fields = {{"NAME", OFTString, 10}, {"AREA", OFTReal}};
  for (const char* file : {"parcels.shp", "parcels.geojson", "low.gpkg", "far.gpkg"}) {
    WriteFixtureLayer(dir_.File(file), "parcels", wkbPolygon, fields, squares);
  }
  RunFixtureSql(dir_.File("low.gpkg"), "UPDATE parcels SET fid = fid - 10");
  RunFixtureSql(dir_.File("far.gpkg"), "UPDATE parcels SET fid = fid * 100000000");
  for (const char* file : {"low.gpkg", "far.gpkg"}) {
    RunFixtureSql(dir_.File(file), "UPDATE parcels SET AREA = 'abc' WHERE NAME = 'third'");
  }
  std::ofstream(dir_.File("unordered.geojson"))
      << R"({"type": "FeatureCollection", "name": "parcels", "features": [)"
      << R"({"type": "Feature", "id": 500000000, "properties": {"NAME": "first"}, "geometry":)"
      << R"( {"type": "Polygon", "coordinates": [[[0,0],[1,0],[1,1],[0,1],[0,0]]]}},)"
      << R"({"type": "Feature", "id": 7, "properties": {"NAME": "second"}, "geometry":)"
      << R"( {"type": "Polygon", "coordinates": [[[1,0],[2,0],[2,1],[1,1],[1,0]]]}},)"
      << R"({"type": "Feature", "id": 3, "properties": {"NAME": "third"}, "geometry":)"
      << R"( {"type": "Polygon", "coordinates": [[[2,0],[3,0],[3,1],[2,1],[2,0]]]}}]})";
  const std::vector<std::string> in_order = {"first", "second", "third"};
  const struct {
    const char* file;
    std::vector<std::string> names;  // by number
  } cases[] = {{"parcels.shp", in_order},
               {"parcels.geojson", in_order},
               {"low.gpkg", in_order},
               {"far.gpkg", in_order},
               {"unordered.geojson", {"third", "second", "first"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ScopedLayer layer(OpenLayer(dir_.File(c.file), "parcels"));
    ASSERT_EQ(RecordCount(layer, EntityKind::kRegion), 4);
    Record record;
    for (long i = 1; i < 4; ++i) {
      ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, i, record)) << i;
      EXPECT_EQ(record.Number(), i);
      EXPECT_EQ(record.Text("NAME"), c.names[i - 1]);
      EXPECT_DOUBLE_EQ(record.Area(), 1.0);
    }
    ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 2, record));  // not from the start
    EXPECT_EQ(record.Text("NAME"), c.names[1]);
    EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, 0, record));
    EXPECT_FALSE(ReadRecord(layer, EntityKind::kRegion, 4, record));
    const auto number_of = [&](const std::string& name) {
      return static_cast<long>(std::find(c.names.begin(), c.names.end(), name) - c.names.begin()) +
             1;
    };
    const long second = number_of("second"), third = number_of("third");
    EXPECT_EQ(SelectRecords(layer, "NAME = 'third'"), std::vector<long>{third});
    EXPECT_EQ(RegionContaining(layer, {2.5, 0.5}), third);
    EXPECT_EQ(RegionFinder(layer).RegionContaining({2.5, 0.5}), third);
    EXPECT_EQ(RecordsInRect(layer, {2.2, 0.2, 2.8, 0.8}), std::vector<long>{third});
    const std::optional<LineSides> sides = RegionsBesideLine(layer, {{2, 0}, {2, 1}});
    ASSERT_TRUE(sides);
    EXPECT_EQ(std::pair(sides->left, sides->right), std::pair(second, third));
    const std::optional<LineSides> in_memory =
        RegionFinder(layer).RegionsBesideLine({{2, 0}, {2, 1}});
    ASSERT_TRUE(in_memory);
    EXPECT_EQ(std::pair(in_memory->left, in_memory->right), std::pair(second, third));
    std::set<long> outlined;
    VisitOutlines(
        layer, [&](long number, const Outline&) { outlined.insert(number); },
        [](long number, const std::string& why) { ADD_FAILURE() << number << " " << why; });
    EXPECT_EQ(outlined, (std::set<long>{1, 2, 3}));
    const bool held = std::string(c.file).ends_with(".gpkg");
    using Texts = std::vector<std::pair<long, std::string>>;
    const Texts area = held ? Texts{{third, "abc"}} : Texts{};
    EXPECT_EQ(NonNumericValues(layer, "AREA"), area);
    // Several fields in one pass: a text field and a missing one hold none.
    EXPECT_EQ(NonNumericValues(layer, std::vector<std::string>{"NAME", "AREA", "没有"}),
              (std::vector<Texts>{{}, area, {}}));
  }
}

// Regions held in memory answer as the layer does: a hole is outside its
// region, a boundary inside, and of two regions the lower number wins.
TEST_F(GisLayerTest, RegionFinderAnswersAsTheLayerDoes) {
  WriteFixtureLayer(
      survey_, "宗地", wkbMultiPolygon, {{"地籍号", OFTString}},
      {{"POLYGON ((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))", {}},
       {"MULTIPOLYGON (((4 4,6 4,6 6,4 6,4 4)),((20 0,30 0,30 10,20 10,20 0)))", {}}});
  ScopedLayer layer(OpenLayer(survey_, "宗地"));
  const RegionFinder finder(layer);
  const struct {
    Point point;
    long region;
  } kCases[] = {{{1, 1}, 1}, {{5, 5}, 2}, {{4, 5}, 1}, {{10, 5}, 1}, {{25, 5}, 2}, {{15, 5}, 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(finder.RegionContaining(c.point), c.region) << c.point.x << " " << c.point.y;
    if (c.point.x != 4) {
      EXPECT_EQ(RegionContaining(layer, c.point), c.region) << c.point.x;
    }
  }
  ScopedLayer parcels(OpenLayer(survey_, "地类图斑"));
  EXPECT_EQ(RegionFinder(parcels).RegionContaining({15, 15}), 4);
}

// Lines and points held in memory meet a rectangle as the layer's filter
// says: a line crossing it with no vertex inside, a diagonal whose box meets
// it but not the line, a touch at a corner, a point on its edge, none
// without geometry.
TEST_F(GisLayerTest, RecordFinderAnswersAsTheLayerDoes) {
  WriteFixtureLayer(survey_, "线状地物", wkbLineString, {{"宽度", OFTString}},
                    {{"LINESTRING (-5 5,15 5)", {}},
                     {"LINESTRING (12 0,20 8)", {}},
                     {"LINESTRING (2 2,3 3)", {}},
                     {"", {}},
                     {"LINESTRING (10 10,14 14)", {}},
                     {"MULTILINESTRING ((-5 -5,-1 -1),(30 30,31 31))", {}},
                     {"LINESTRING (11 -3,13 -1)", {}}});
  WriteFixtureLayer(survey_, "零星地物", wkbPoint, {{"宽度", OFTString}},
                    {{"POINT (10 4)", {}}, {"POINT (10.01 4)", {}}, {"POINT (5 5)", {}}});
  for (const char* name : {"线状地物", "零星地物"}) {
    ScopedLayer layer(OpenLayer(survey_, name));
    const RecordFinder finder(layer);
    for (const Rect& rect : {Rect{0, 0, 10, 10}, Rect{9, -2, 13, 4}, Rect{-10, -10, 40, 40},
                             Rect{16, 0, 17, 1}, Rect{100, 100, 101, 101}}) {
      EXPECT_EQ(finder.RecordsInRect(rect), RecordsInRect(layer, rect))
          << name << " " << rect.min_x << " " << rect.min_y;
    }
  }
}

TEST_F(GisLayerTest, CountsOnlyTheLayersKindButAttributesOfEveryLayer) {
  WriteFixtureLayer(survey_, "权属", wkbNone, {{"名称", OFTString}},
                    {{"", {{"名称", "甲"}}}, {"", {{"名称", "乙"}}}});
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  EXPECT_EQ(LayerKind(layer), EntityKind::kRegion);
  EXPECT_EQ(RecordCount(layer, EntityKind::kLine), 0);
  EXPECT_EQ(RecordCount(layer, EntityKind::kPoint), 0);
  EXPECT_EQ(RecordCount(layer, EntityKind::kTable), 6);
  Record record;
  EXPECT_FALSE(ReadRecord(layer, EntityKind::kLine, 1, record));
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kTable, 1, record));
  EXPECT_EQ(record.Text("地类编码"), "011");

  ScopedLayer table(OpenLayer(survey_, "权属"));
  EXPECT_EQ(LayerKind(table), EntityKind::kTable);
  EXPECT_EQ(RecordCount(table, EntityKind::kTable), 3);
  EXPECT_EQ(RecordCount(table, EntityKind::kRegion), 0);
  EXPECT_EQ(FieldText(table, 2, "名称"), "乙");
}

// Key look-ups in an in-memory table: exact text, first match, deleted
// records passed over, field places from 0.
TEST_F(GisLayerTest, FindsTheFirstRecordOfAKeyAndFieldPlaces) {
  ScopedLayer table(
      CreateTable("keys", {{"键", FieldType::kText, 10}, {"值", FieldType::kDouble}}));
  for (const char* key : {"D01", "D011", "D01", "d02", "D02"}) {
    Record record;
    ReadRecord(table, EntityKind::kTable, AddRecord(table), record);
    record.SetText("键", key);
    WriteRecord(table, record);
  }
  DeleteRecord(table, 5);
  const struct {
    const char* field;
    const char* value;
    long number;
  } cases[] = {{"键", "D01", 1}, {"键", "D011", 2}, {"键", "D0", 0}, {"键", "D02", 0},
               {"键", "d02", 4}, {"键", "D0%", 0},  {"无", "D01", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(FirstRecordWith(table, c.field, c.value), c.number) << c.field << " " << c.value;
  }
  EXPECT_EQ(FieldIndex(table, "值"), 1);
  EXPECT_EQ(FieldIndex(table, "无"), -1);
  EXPECT_EQ(FieldIndexOf(LayerFields(table), "键"), 0);
}

TEST_F(GisLayerTest, AddedRecordsTakeTheNextNumber) {
  const std::string shapefile = dir_.File("names.shp");
  WriteFixtureLayer(shapefile, "names", wkbPoint, {{"NAME", OFTString, 10}},
                    {{"POINT (0 0)", {{"NAME", "a"}}}, {"POINT (1 0)", {{"NAME", "b"}}}});
  for (const auto& [source, name] :
       {std::pair{survey_, "地类图斑"}, std::pair{shapefile, "names"}}) {
    SCOPED_TRACE(source);
    {
      ScopedLayer layer(OpenLayer(source, name, true));
      const long count = RecordCount(layer, EntityKind::kTable);
      const long added = AddRecord(layer);
      EXPECT_EQ(added, count);
      EXPECT_EQ(RecordCount(layer, EntityKind::kTable), count + 1);
      Record record;
      ASSERT_TRUE(ReadRecord(layer, EntityKind::kTable, added, record));
      EXPECT_EQ(record.Number(), added);
      record.SetText(source == survey_ ? "图斑编号" : "NAME", "new");
      WriteRecord(layer, record);
    }
    ScopedLayer layer(OpenLayer(source, name));
    const long last = RecordCount(layer, EntityKind::kTable) - 1;
    EXPECT_EQ(FieldText(layer, last, source == survey_ ? "图斑编号" : "NAME"), "new");
  }
}

// A part of a record as a read takes it: its geometry or not, and the
// fields named (every field when none is).
struct Part {
  bool geometry = true;
  std::span<const char* const> fields;
};

// What one record reads as: its fields by place ("-" for one outside the
// part), then, with the geometry, its area and its bounds.
std::string ReadAs(const Record& record, const Part& part = {}) {
  std::string read;
  for (int field = 0; field < static_cast<int>(kParcelFields.size()); ++field) {
    const bool taken =
        part.fields.empty() ||
        std::ranges::find(part.fields, kParcelFields[field].name) != part.fields.end();
    read += (taken ? record.Text(field) : "-") + "|";
  }
  const std::optional<Rect> box = part.geometry ? record.Bounds() : std::nullopt;
  if (box) read += std::to_string(record.Area()) + "|" + std::to_string(box->max_x);
  return read;
}

// Walks of a long layer read what reads of single records read, out of
// order: walked to the end, broken off and started over, with a record
// changed on the way, or with a record kept while the walk goes on.
// Makes the fixture's layer long: 10,000 copies of parcels 1 and 5 (numbers
// 6 .. 10005), each with its own number, every seventh without an area, and
// one more gap (5000).
void AddParcelCopies(const std::string& survey) {
  RunFixtureSql(survey,
                "WITH RECURSIVE n(i) AS (SELECT 6 UNION ALL SELECT i + 1 FROM n WHERE i < 10005) "
                "INSERT INTO \"地类图斑\" (fid, geom, 图斑编号, 地类编码, 图斑面积, 标识码) "
                "SELECT i, geom, 'P' || i, 地类编码, CASE WHEN i % 7 THEN i * 0.25 END, i "
                "FROM n JOIN \"地类图斑\" ON fid = 1 + (i % 2) * 4 WHERE i <> 5000");
}

// What the part of each record of the layer reads as (ReadAs), read whole
// one by one from the last; empty for a number without a record.
std::vector<std::string> EachRecordReadAlone(LayerHandle layer, const Part& part = {}) {
  std::vector<std::string> read(static_cast<std::size_t>(RecordCount(layer, EntityKind::kRegion)));
  Record record;
  for (long number = static_cast<long>(read.size()) - 1; number >= 1; --number) {
    if (ReadRecord(layer, EntityKind::kRegion, number, record)) {
      read[static_cast<std::size_t>(number)] = ReadAs(record, part);
    }
  }
  return read;
}

TEST_F(GisLayerTest, LongWalksReadWhatSingleReadsRead) {
  AddParcelCopies(survey_);
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  const long count = RecordCount(layer, EntityKind::kRegion);
  ASSERT_EQ(count, 10006);
  const std::vector<std::string> expected = EachRecordReadAlone(layer);
  Record record;
  ASSERT_EQ(expected[5000], "");
  ASSERT_EQ(expected[10005], "P10005|011|2501.25||10005|100.000000|30.000000");

  // Walks `from` .. `to` - 1, each record checked, and calls `each` with
  // every number read.
  const auto walk = [&](long from, long to, const std::function<void(long)>& each) {
    for (long number = from; number < to; ++number) {
      SCOPED_TRACE(number);
      const bool read = ReadRecord(layer, EntityKind::kRegion, number, record);
      ASSERT_EQ(read, !expected[static_cast<std::size_t>(number)].empty());
      if (!read) continue;
      EXPECT_EQ(ReadAs(record), expected[static_cast<std::size_t>(number)]);
      if (each) each(number);
    }
  };
  Record kept;
  const std::pair<const char*, std::function<void()>> walks[] = {
      {"to the end", [&] { walk(1, count, {}); }},
      {"broken off and started over",
       [&] {
         walk(1, 3000, {});
         walk(1, count, {});
       }},
      {"a record changed on the way",
       [&] {
         walk(1, count, [&](long number) {
           if (number != 4321) return;
           record.SetText("地类编码", "012");
           EXPECT_TRUE(record.Changed());
           EXPECT_EQ(record.Text("地类编码"), "012");
         });
       }},
      {"a record kept while the walk goes on",
       [&] {
         walk(1, count, [&](long number) {
           if (number == 77) kept = std::move(record);
         });
         EXPECT_EQ(ReadAs(kept), expected[77]);
       }},
  };
  for (const auto& [name, run] : walks) {
    SCOPED_TRACE(name);
    run();
  }
}

// A walk that leaves the geometries unread, or every field but a few, or
// both, reads of each record what a read of the whole record reads of that
// part, on a short layer and on a long one (read ahead). Its records asked
// for a part left unread raise, naming the layer, the record and the
// field; reads after it are whole again; a layer open for writing is read
// as any other, and a record of it read with a few fields is not written
// back.
TEST_F(GisLayerTest, WalksInPartReadWhatWholeReadsRead) {
  const char* const two[] = {"地类编码", "标识码"};
  const Part parts[] = {{true, {}}, {false, {}}, {true, two}, {false, two}};
  for (const bool long_layer : {false, true}) {
    if (long_layer) AddParcelCopies(survey_);
    ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
    const std::vector<std::string> whole = EachRecordReadAlone(layer);
    const long count = static_cast<long>(whole.size());
    Record record;
    for (const Part& part : parts) {
      SCOPED_TRACE(std::string(long_layer ? "long" : "short") + " layer, geometry " +
                   std::to_string(part.geometry) + ", fields " +
                   std::to_string(part.fields.size()));
      const std::vector<std::string> expected = EachRecordReadAlone(layer, part);
      const RecordParts read = part.geometry ? RecordParts::kAll : RecordParts::kFields;
      for (long number = 1; number < count; ++number) {
        const std::string& alone = expected[static_cast<std::size_t>(number)];
        ASSERT_EQ(ReadRecord(layer, EntityKind::kRegion, number, record, read, part.fields),
                  !alone.empty())
            << number;
        if (!alone.empty()) {
          ASSERT_EQ(ReadAs(record, part), alone) << number;
        }
      }
      const std::string last = "record " + std::to_string(count - 1);
      if (!part.geometry) {
        const std::string message = GisErrorOf([&] { record.Area(); });
        EXPECT_TRUE(Names(message, "地类图斑") && Names(message, last)) << message;
      }
      if (!part.fields.empty()) {
        const std::string message = GisErrorOf([&] { record.Number("图斑面积"); });
        EXPECT_TRUE(Names(message, "地类图斑") && Names(message, last) &&
                    Names(message, "图斑面积"))
            << message;
      }
      ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 2, record));
      EXPECT_EQ(ReadAs(record), whole[2]);
    }
  }
  ScopedLayer writable(OpenLayer(survey_, "地类图斑", true));
  Record record;
  ASSERT_TRUE(ReadRecord(writable, EntityKind::kRegion, 1, record, RecordParts::kAll, two));
  EXPECT_TRUE(record.Bounds());
  EXPECT_THROW(record.Text("图斑面积"), GisError);
  EXPECT_TRUE(Names(GisErrorOf([&] { WriteRecord(writable, record); }), "written back"));
}

// A walk of a layer open for writing that leaves the geometries unread
// writes fields back without touching the geometries: a GeoPackage by its
// columns, a shapefile by the whole feature, its geometry read again.
TEST_F(GisLayerTest, FieldsWrittenFromAWalkWithoutGeometriesKeepThem) {
  const std::vector<FixtureFeature> squares = {{Square(0, 0, 1), {{"NAME", "first"}}},
                                               {Square(1, 0, 2), {{"NAME", "second"}}},
                                               {Square(3, 0, 3), {{"NAME", "third"}}}};
  for (const char* file : {"parcels.gpkg", "parcels.shp"}) {
    SCOPED_TRACE(file);
    WriteFixtureLayer(dir_.File(file), "parcels", wkbPolygon, {{"NAME", OFTString, 10}}, squares);
    {
      ScopedLayer layer(OpenLayer(dir_.File(file), "parcels", true));
      Record record;
      for (long number = 1; number <= 3; ++number) {
        ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, number, record, RecordParts::kFields));
        // A shapefile's walk ends at its first write: its later records are read whole.
        if (number == 1) {
          EXPECT_THROW(record.Bounds(), GisError);
        }
        record.SetText("NAME", record.Text("NAME") + "!");
        WriteRecord(layer, record);
      }
      SaveLayer(layer);
    }
    ScopedLayer layer(OpenLayer(dir_.File(file), "parcels"));
    const std::pair<const char*, double> expected[] = {
        {"first!", 1}, {"second!", 4}, {"third!", 9}};
    for (long number = 1; number <= 3; ++number) {
      Record record;
      ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, number, record));
      EXPECT_EQ(record.Text("NAME"), expected[number - 1].first);
      EXPECT_DOUBLE_EQ(record.Area(), expected[number - 1].second);
    }
  }
}

// Text of fields ----------------------------------------------------------

TEST_F(GisLayerTest, NumbersReadAsTheirShortestText) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  Record record;
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 1, record));
  EXPECT_EQ(record.Text("图斑面积"), "3298.78");
  EXPECT_EQ(record.Text("扣除比例"), "0.5");
  EXPECT_EQ(record.Text("标识码"), "12");
  EXPECT_DOUBLE_EQ(record.Number("图斑面积"), 3298.78);
  EXPECT_EQ(record.Text("地类编码"), "011");  // a code keeps its leading zero

  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 4, record));
  EXPECT_EQ(record.Text("图斑面积"), "");
  EXPECT_EQ(record.Number("图斑面积"), 0);
  EXPECT_EQ(record.Text("标识码"), "");
  EXPECT_EQ(record.Text("没有的字段"), "");
}

TEST_F(GisLayerTest, ShapefileNumbersReadAsTheirShortestText) {
  // Survey shapefiles give their numeric fields a fixed number of decimals.
  const std::string shapefile = dir_.File("numbers.shp");
  WriteFixtureLayer(shapefile, "numbers", wkbPoint,
                    {{"AREA", OFTReal, 19, 4}, {"RATIO", OFTReal, 10, 2}, {"ID", OFTInteger, 10}},
                    {{"POINT (0 0)", {{"AREA", "3298.78"}, {"RATIO", "0.5"}, {"ID", "12"}}}});
  ScopedLayer layer(OpenLayer(shapefile, "numbers"));
  Record record;
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kPoint, 1, record));
  EXPECT_EQ(record.Text("AREA"), "3298.78");
  EXPECT_EQ(record.Text("RATIO"), "0.5");
  EXPECT_EQ(record.Text("ID"), "12");
  EXPECT_DOUBLE_EQ(record.Number("RATIO"), 0.5);
}

TEST_F(GisLayerTest, ShapefileWithoutCodePageIsReadAsGbk) {
  const std::string shapefile = dir_.File("owners.shp");
  WriteFixtureLayer(
      shapefile, "owners", wkbPoint, {{"权属名称", OFTString, 40}},
      {{"POINT (0 0)", {{"权属名称", "城关镇东湖村"}}}, {"POINT (1 1)", {{"权属名称", "水田"}}}},
      {"ENCODING=CP936"});
  fs::remove(dir_.File("owners.cpg"));
  const std::string dbf = ReadBytes(dir_.File("owners.dbf"));
  ASSERT_NE(dbf.find("\xB3\xC7\xB9\xD8\xD5\xF2\xB6\xAB\xBA\xFE\xB4\xE5"), std::string::npos)
      << "the fixture should hold GBK bytes";
  ASSERT_EQ(dbf[29], 0) << "the fixture should name no code page";

  {
    ScopedLayer layer(OpenLayer(shapefile, "owners", true));
    EXPECT_TRUE(HasField(layer, "权属名称"));
    EXPECT_EQ(FieldText(layer, 1, "权属名称"), "城关镇东湖村");
    EXPECT_EQ(FieldText(layer, 2, "权属名称"), "水田");
    Record record;
    ASSERT_TRUE(ReadRecord(layer, EntityKind::kPoint, 2, record));
    record.SetText("权属名称", "西山村");
    WriteRecord(layer, record);
  }
  // Written back as GBK, still without a code-page file.
  EXPECT_FALSE(fs::exists(dir_.File("owners.cpg")));
  EXPECT_NE(ReadBytes(dir_.File("owners.dbf")).find("\xCE\xF7\xC9\xBD\xB4\xE5"), std::string::npos);
  ScopedLayer layer(OpenLayer(shapefile, "owners"));
  EXPECT_EQ(FieldText(layer, 1, "权属名称"), "城关镇东湖村");
  EXPECT_EQ(FieldText(layer, 2, "权属名称"), "西山村");
}

// Writing ------------------------------------------------------------------

TEST_F(GisLayerTest, WrittenFieldsPersist) {
  {
    ScopedLayer layer(OpenLayer(survey_, "地类图斑", true));
    Record record;
    ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 2, record));
    // The values it holds, set again, change nothing.
    for (const char* field : {"地类编码", "图斑面积", "扣除比例"}) {
      record.SetText(field, record.Text(field));
    }
    EXPECT_FALSE(record.Changed());
    record.SetText("地类编码", "031");
    EXPECT_TRUE(record.Changed());
    record.SetText("图斑面积", "77.25");
    record.SetText("扣除比例", "");  // empty text clears a number
    WriteRecord(layer, record);
    SaveLayer(layer);
  }
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  EXPECT_EQ(FieldText(layer, 2, "地类编码"), "031");
  EXPECT_EQ(FieldText(layer, 2, "图斑面积"), "77.25");
  EXPECT_EQ(FieldText(layer, 2, "扣除比例"), "");
  EXPECT_EQ(FieldText(layer, 1, "地类编码"), "011");
  EXPECT_EQ(FieldText(layer, 5, "地类编码"), "011");
}

TEST_F(GisLayerTest, RefusesTextThatIsNoNumberForANumericField) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑", true));
  Record record;
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 1, record));
  EXPECT_TRUE(Names(GisErrorOf([&] { record.SetText("图斑面积", "12.5亩"); }), "图斑面积"));
  EXPECT_TRUE(Names(GisErrorOf([&] { record.SetText("标识码", "abc"); }), "标识码"));
  EXPECT_TRUE(Names(GisErrorOf([&] { record.SetText("没有的字段", "1"); }), "没有的字段"));
  EXPECT_EQ(record.Text("图斑面积"), "3298.78");  // unchanged
  record.SetText("图斑面积", "12.5");
  EXPECT_DOUBLE_EQ(record.Number("图斑面积"), 12.5);
  // The same by the field's place: 图斑面积 is the third field.
  EXPECT_TRUE(Names(GisErrorOf([&] { record.SetText(2, "abc"); }), "图斑面积"));
  EXPECT_THROW(record.SetText(9, "1"), GisError);
  record.SetText(2, "7.75");
  EXPECT_DOUBLE_EQ(record.Number(2), 7.75);

  Record unread;
  EXPECT_THROW(unread.SetText("地类编码", "011"), GisError);
  EXPECT_THROW(WriteRecord(layer, unread), GisError);
}

TEST_F(GisLayerTest, ReadOnlyLayersRefuseWrites) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  Record record;
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 1, record));
  record.SetText("地类编码", "999");
  EXPECT_TRUE(Names(GisErrorOf([&] { WriteRecord(layer, record); }), "地类图斑"));
  EXPECT_THROW(AddField(layer, {"备注", FieldType::kText, 10, 0}), GisError);
  EXPECT_THROW(AddRecord(layer), GisError);
  EXPECT_THROW(DeleteRecord(layer, 1), GisError);
  EXPECT_EQ(FieldText(layer, 1, "地类编码"), "011");
}

TEST_F(GisLayerTest, ReadingLeavesTheSourceUntouched) {
  const std::string before = ReadBytes(survey_);
  const auto modified = fs::last_write_time(survey_);
  std::set<std::string> files_before;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    files_before.insert(entry.path().filename().string());
  }
  {
    ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
    for (long i = 1; i < RecordCount(layer, EntityKind::kRegion); ++i) {
      Record record;
      if (ReadRecord(layer, EntityKind::kRegion, i, record)) {
        record.SetText("地类编码", "999");  // changed in memory only
        record.Area();
      }
    }
    SelectRecords(layer, "地类编码 = '011'");
    RegionContaining(layer, {5, 5});
    LayerFields(layer);
  }
  std::set<std::string> files_after;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    files_after.insert(entry.path().filename().string());
  }
  EXPECT_EQ(files_after, files_before);
  EXPECT_TRUE(ReadBytes(survey_) == before);
  EXPECT_EQ(fs::last_write_time(survey_), modified);
}

TEST_F(GisLayerTest, AddedFieldsJoinTheStructure) {
  {
    ScopedLayer layer(OpenLayer(survey_, "地类图斑", true));
    AddField(layer, {"备注", FieldType::kText, 30, 0});
    AddField(layer, {"层数", FieldType::kInteger, 0, 0});
    AddField(layer, {"系数", FieldType::kDouble, 0, 0});
    AddField(layer, {"备注", FieldType::kText, 30, 0});  // already there
    Record record;
    ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 5, record));
    record.SetText("备注", "新增");
    record.SetText("层数", "3");
    record.SetText("系数", "0.25");
    WriteRecord(layer, record);
  }
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  const std::vector<FieldDef> fields = LayerFields(layer);
  ASSERT_EQ(fields.size(), kParcelFields.size() + 3);
  EXPECT_EQ(fields[0].name, "图斑编号");
  EXPECT_EQ(fields[0].type, FieldType::kText);
  EXPECT_EQ(fields[0].width, 8);
  EXPECT_EQ(fields[2].type, FieldType::kDouble);
  EXPECT_EQ(fields[4].type, FieldType::kInteger);
  EXPECT_EQ(fields[5].name, "备注");
  EXPECT_EQ(static_cast<int>(fields[5].type), 0);
  EXPECT_EQ(fields[5].width, 30);
  EXPECT_EQ(fields[6].name, "层数");
  EXPECT_EQ(static_cast<int>(fields[6].type), 3);
  EXPECT_EQ(fields[7].name, "系数");
  EXPECT_EQ(static_cast<int>(fields[7].type), 5);
  EXPECT_EQ(FieldText(layer, 5, "备注"), "新增");
  EXPECT_EQ(FieldText(layer, 5, "层数"), "3");
  EXPECT_EQ(FieldText(layer, 5, "系数"), "0.25");
  EXPECT_EQ(FieldText(layer, 1, "备注"), "");
}

// In-memory tables ---------------------------------------------------------

TEST(GisTableTest, KeepsRecordNumbersAcrossDeletesAndSaves) {
  TempDir dir;
  const std::string saved = dir.File("saved.gpkg");
  {
    ScopedLayer table(CreateTable(
        "汇总", {{"名称", FieldType::kText, 20, 0}, {"面积", FieldType::kDouble, 0, 2}}));
    EXPECT_EQ(LayerKind(table), EntityKind::kTable);
    EXPECT_EQ(RecordCount(table, EntityKind::kTable), 1);
    const char* const names[] = {"甲", "乙", "丙"};
    for (int i = 0; i < 3; ++i) {
      const long number = AddRecord(table);
      EXPECT_EQ(number, i + 1);
      Record record;
      ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, number, record));
      record.SetText("名称", names[i]);
      record.SetText("面积", std::to_string(10 * (i + 1)));
      WriteRecord(table, record);
    }
    DeleteRecord(table, 2);
    EXPECT_THROW(DeleteRecord(table, 2), GisError);
    EXPECT_EQ(RecordCount(table, EntityKind::kTable), 4);
    Record record;
    ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, 1, record));
    EXPECT_EQ(record.Text("名称"), "甲");
    EXPECT_FALSE(ReadRecord(table, EntityKind::kTable, 2, record));
    ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, 3, record));
    EXPECT_EQ(record.Number(), 3);
    EXPECT_EQ(record.Text("名称"), "丙");
    EXPECT_EQ(record.Text("面积"), "30");
    SaveLayerAs(table, saved, "汇总");
    EXPECT_EQ(AddRecord(table), 4);  // a deleted number is not given out again
  }
  ScopedLayer layer(OpenLayer(saved, "汇总"));
  EXPECT_EQ(RecordCount(layer, EntityKind::kTable), 4);
  EXPECT_EQ(FieldText(layer, 1, "名称"), "甲");
  EXPECT_EQ(FieldText(layer, 2, "名称"), "");
  EXPECT_EQ(FieldText(layer, 3, "名称"), "丙");
  EXPECT_EQ(FieldText(layer, 3, "面积"), "30");
}

// Selections ---------------------------------------------------------------

TEST_F(GisLayerTest, SelectsByAttributeConditions) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  EXPECT_EQ(SelectRecords(layer, "地类编码 = '011'"), (std::vector<long>{1, 5}));
  EXPECT_EQ(SelectRecords(layer, "图斑面积 > 100"), (std::vector<long>{1, 5}));
  EXPECT_EQ(SelectRecords(layer, "图斑面积 < 100 AND 地类编码 <> '011'"), std::vector<long>{2});
  EXPECT_TRUE(SelectRecords(layer, "地类编码 = '999'").empty());
  EXPECT_TRUE(
      Names(GisErrorOf([&] { SelectRecords(layer, "地类编码 = = '011"); }), "地类编码 = = '011"));
  // The condition does not stay on the layer.
  EXPECT_EQ(RecordCount(layer, EntityKind::kRegion), 6);
  int read = 0;
  for (long i = 1; i < 6; ++i) {
    Record record;
    read += ReadRecord(layer, EntityKind::kRegion, i, record) ? 1 : 0;
  }
  EXPECT_EQ(read, 4);
}

// Conditions name fields as the survey does, in Chinese, whatever the data
// source's own SQL dialect.
TEST_F(GisLayerTest, SelectsByChineseFieldNamesOnEverySource) {
  auto select = [](LayerHandle layer, const std::string& condition) {
    try {
      return SelectRecords(layer, condition);
    } catch (const GisError& error) {
      ADD_FAILURE() << error.what();
      return std::vector<long>{};
    }
  };
  ScopedLayer table(CreateTable(
      "代码表", {{"代码类型", FieldType::kText, 20, 0}, {"面积", FieldType::kDouble, 0, 0}}));
  for (const char* type : {"村行政代码", "组行政代码", "村行政代码"}) {
    Record record;
    ASSERT_TRUE(ReadRecord(table, EntityKind::kTable, AddRecord(table), record));
    record.SetText("代码类型", type);
    record.SetText("面积", "10");
    WriteRecord(table, record);
  }
  EXPECT_EQ(select(table, "代码类型 = '村行政代码'"), (std::vector<long>{1, 3}));
  EXPECT_EQ(select(table, "面积 > 5").size(), 3u);

  const std::string shapefile = dir_.File("owners.shp");
  WriteFixtureLayer(
      shapefile, "owners", wkbPoint, {{"权属名称", OFTString, 40}},
      {{"POINT (0 0)", {{"权属名称", "东湖村"}}}, {"POINT (1 1)", {{"权属名称", "西山村"}}}},
      {"ENCODING=CP936"});
  ScopedLayer layer(OpenLayer(shapefile, "owners"));
  EXPECT_EQ(select(layer, "权属名称 = '西山村'"), std::vector<long>{2});
}

TEST_F(GisLayerTest, SelectionInTheMiddleOfAWalkDoesNotLoseRecords) {
  ScopedLayer layer(OpenLayer(survey_, "地类图斑"));
  std::vector<std::string> seen;
  for (long i = 1; i < 6; ++i) {
    Record record;
    if (!ReadRecord(layer, EntityKind::kRegion, i, record)) continue;
    seen.push_back(record.Text("图斑编号"));
    if (i == 2) {
      EXPECT_EQ(SelectRecords(layer, "地类编码 = '203'"), std::vector<long>{4});
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "4", "5"}));
}

// Geometry -----------------------------------------------------------------

TEST_F(GisLayerTest, MeasuresAreasAndLengths) {
  WriteFixtureLayer(survey_, "图形", wkbPolygon, {},
                    {{"POLYGON ((100 100,110 100,110 120,100 120,100 100))", {}},
                     {"POLYGON ((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2,1 2,1 1))", {}}});
  WriteFixtureLayer(survey_, "线", wkbLineString, {},
                    {{"LINESTRING (0 0,3 4,3 10)", {}}, {"LINESTRING (5 5,5 5.25)", {}}});
  ScopedLayer regions(OpenLayer(survey_, "图形"));
  EXPECT_DOUBLE_EQ(RecordArea(regions, 1), 200.0);
  EXPECT_DOUBLE_EQ(RecordArea(regions, 2), 15.0);  // less its hole
  EXPECT_THROW(RecordArea(regions, 3), GisError);
  ScopedLayer lines(OpenLayerOfKind(survey_, "线", EntityKind::kLine));
  Record record;
  ASSERT_TRUE(ReadRecord(lines, EntityKind::kLine, 1, record));
  EXPECT_DOUBLE_EQ(record.Length(), 11.0);
  ASSERT_TRUE(ReadRecord(lines, EntityKind::kLine, 2, record));
  EXPECT_DOUBLE_EQ(record.Length(), 0.25);
  EXPECT_EQ(RegionContaining(lines, {5, 5.1}), 0);  // not a region layer
}

TEST_F(GisLayerTest, PointOnSurfaceOfAnLShapeLiesInsideIt) {
  // The centroid of this L lies in its notch.
  WriteFixtureLayer(survey_, "L", wkbPolygon, {},
                    {{"POLYGON ((0 0,10 0,10 1,1 1,1 10,0 10,0 0))", {}}});
  ScopedLayer layer(OpenLayer(survey_, "L"));
  Record record;
  ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, 1, record));
  const std::optional<Point> inner = record.PointOnSurface();
  ASSERT_TRUE(inner.has_value());
  EXPECT_TRUE((inner->x >= 0 && inner->x <= 10 && inner->y >= 0 && inner->y <= 1) ||
              (inner->x >= 0 && inner->x <= 1 && inner->y >= 0 && inner->y <= 10))
      << inner->x << ", " << inner->y;
  EXPECT_EQ(RegionContaining(layer, *inner), 1);
  EXPECT_EQ(RegionContaining(layer, {3, 3}), 0);  // the centroid, in the notch
  // The notch lies within the L's bounding box but not within the L.
  EXPECT_TRUE(RecordsInRect(layer, {2, 2, 9, 9}).empty());
  EXPECT_EQ(RecordsInRect(layer, {0.2, 8, 0.8, 9}), std::vector<long>{1});
}

TEST_F(GisLayerTest, FindsRegionsByPointAndRectangle) {
  WriteFixtureLayer(survey_, "格网", wkbPolygon, {{"名称", OFTString}},
                    {{Square(0, 0, 10), {{"名称", "西南"}}},
                     {Square(10, 0, 10), {{"名称", "东南"}}},
                     {Square(0, 10, 10), {{"名称", "西北"}}},
                     {Square(10, 10, 10), {{"名称", "东北"}}}});
  ScopedLayer grid(OpenLayerOfKind(survey_, "格网", EntityKind::kRegion));
  EXPECT_EQ(RegionContaining(grid, {2, 3}), 1);
  EXPECT_EQ(RegionContaining(grid, {19.5, 0.5}), 2);
  EXPECT_EQ(RegionContaining(grid, {0.5, 19.5}), 3);
  EXPECT_EQ(RegionContaining(grid, {15, 15}), 4);
  EXPECT_EQ(RegionContaining(grid, {-1, 5}), 0);
  EXPECT_EQ(RegionContaining(grid, {25, 25}), 0);
  EXPECT_EQ(RegionContaining(grid, {10.0001, 25}), 0);

  auto sorted = [](std::vector<long> numbers) {
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  };
  EXPECT_EQ(sorted(RecordsInRect(grid, {1, 1, 5, 18})), (std::vector<long>{1, 3}));
  EXPECT_EQ(sorted(RecordsInRect(grid, {12, 12, 13, 13})), std::vector<long>{4});
  EXPECT_EQ(sorted(RecordsInRect(grid, {5, 5, 15, 15})), (std::vector<long>{1, 2, 3, 4}));
  EXPECT_TRUE(RecordsInRect(grid, {30, 30, 40, 40}).empty());
  // The spatial filter does not stay on the layer.
  EXPECT_EQ(FieldText(grid, 1, "名称"), "西南");
  EXPECT_EQ(SelectRecords(grid, "名称 = '东北'"), std::vector<long>{4});
}

// Hand-drawn lines against a grid of four squares and an L-shaped parcel
// beside it: the regions left and right of each, looking along the order
// it was digitised in.
TEST_F(GisLayerTest, FindsTheRegionsOnEachSideOfALine) {
  WriteFixtureLayer(survey_, "格网", wkbPolygon, {{"名称", OFTString}},
                    {{Square(0, 0, 10), {{"名称", "西南"}}},
                     {Square(10, 0, 10), {{"名称", "东南"}}},
                     {Square(0, 10, 10), {{"名称", "西北"}}},
                     {Square(10, 10, 10), {{"名称", "东北"}}},
                     {"POLYGON ((20 0,30 0,30 20,25 20,25 5,20 5,20 0))", {{"名称", "L"}}}});
  ScopedLayer grid(OpenLayerOfKind(survey_, "格网", EntityKind::kRegion));
  struct Case {
    const char* what;
    std::vector<Point> line;
    std::optional<LineSides> sides;
  };
  const Case cases[] = {
      {"shared border, digitised northwards", {{10, 0}, {10, 10}}, LineSides{1, 2}},
      {"shared border, digitised southwards", {{10, 10}, {10, 0}}, LineSides{2, 1}},
      {"bent line, middle on its first leg", {{0, 10}, {12, 10}, {12, 20}}, LineSides{4, 2}},
      {"inside one parcel", {{2, 2}, {8, 8}}, LineSides{1, 1}},
      {"on the county's outer edge", {{0, 0}, {10, 0}}, LineSides{1, 0}},
      {"middle in the L's arm", {{20, 2}, {30, 2}}, LineSides{5, 5}},
      {"outside every parcel", {{40, 40}, {50, 50}}, LineSides{0, 0}},
      {"a point, no line", {{3, 3}, {3, 3}}, std::nullopt},
      {"one vertex", {{3, 3}}, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<LineSides> sides = RegionsBesideLine(grid, c.line);
    ASSERT_EQ(sides.has_value(), c.sides.has_value()) << c.what;
    if (!sides) continue;
    EXPECT_EQ(sides->left, c.sides->left) << c.what;
    EXPECT_EQ(sides->right, c.sides->right) << c.what;
  }
  // A line read from a line layer, and a layer of no regions.
  WriteFixtureLayer(survey_, "线", wkbLineString, {{"名称", OFTString}},
                    {{"LINESTRING (20 8,20 0)", {{"名称", "界"}}}});
  ScopedLayer lines(OpenLayerOfKind(survey_, "线", EntityKind::kLine));
  Record line;
  ASSERT_TRUE(ReadRecord(lines, EntityKind::kLine, 1, line));
  const std::optional<LineSides> sides = RegionsBesideLine(grid, line.LineVertices());
  ASSERT_TRUE(sides);
  EXPECT_EQ(sides->left, 5);
  EXPECT_EQ(sides->right, 2);
  EXPECT_EQ(RegionsBesideLine(lines, line.LineVertices())->left, 0);
}

// Bad input ----------------------------------------------------------------

// Each message names the layer, the source and why: GDAL's own words, or
// the layers the source does hold.
TEST_F(GisLayerTest, MissingSourcesAndLayersAreNamed) {
  const std::string not_gis = dir_.File("notes.gpkg");
  std::ofstream(not_gis) << "not a GeoPackage";
  const struct {
    std::string source, layer, reason;
  } cases[] = {{dir_.File("missing.gpkg"), "地类图斑", "does not exist"},
               {not_gis, "地类图斑", "not recognized"},
               {survey_, "线状地物", "\"地类图斑\""}};
  for (const auto& wanted : cases) {
    const std::string message = GisErrorOf([&] { OpenLayer(wanted.source, wanted.layer); });
    EXPECT_TRUE(Names(message, wanted.source));
    EXPECT_TRUE(Names(message, wanted.layer));
    EXPECT_TRUE(Names(message, wanted.reason));
  }
}

TEST_F(GisLayerTest, EmptyLayersOfEveryKindCountOne) {
  const std::string shapefile = dir_.File("empty.shp");
  WriteFixtureLayer(shapefile, "empty", wkbPolygon, {{"NAME", OFTString, 10}}, {});
  const struct {
    std::string source, layer;
    OGRwkbGeometryType type;
    EntityKind kind;
  } cases[] = {{survey_, "面", wkbPolygon, EntityKind::kRegion},
               {survey_, "线", wkbLineString, EntityKind::kLine},
               {survey_, "点", wkbPoint, EntityKind::kPoint},
               {survey_, "表", wkbNone, EntityKind::kTable},
               {survey_, "几何", wkbUnknown, EntityKind::kTable},
               {shapefile, "empty", wkbPolygon, EntityKind::kRegion}};
  for (const auto& empty : cases) {
    SCOPED_TRACE(empty.layer);
    if (empty.source == survey_) WriteFixtureLayer(survey_, empty.layer, empty.type, {}, {});
    ScopedLayer layer(OpenLayer(empty.source, empty.layer));
    EXPECT_EQ(LayerKind(layer), empty.kind);
    EXPECT_EQ(RecordCount(layer, EntityKind::kTable), 1);
    EXPECT_EQ(RecordCount(layer, empty.kind), 1);
  }
  // Nothing tells the kind of an empty layer of no declared kind: it is
  // taken as asked.
  ScopedLayer regions(OpenLayerOfKind(survey_, "几何", EntityKind::kRegion));
  EXPECT_EQ(RecordCount(regions, EntityKind::kRegion), 1);
}

// Layers declared as the generic GEOMETRY take the kind of their features.
TEST_F(GisLayerTest, GenericLayersTakeTheKindOfTheirGeometries) {
  const struct {
    const char* layer;
    std::vector<std::string> wkts;  // empty: a feature without geometry
    EntityKind kind;
  } cases[] = {
      {"面", {"", Square(0, 0, 2), "MULTIPOLYGON (((5 5,6 5,6 6,5 5)))"}, EntityKind::kRegion},
      {"线", {"LINESTRING (0 0,3 4)", "MULTILINESTRING ((0 0,1 0))"}, EntityKind::kLine},
      {"点", {"POINT (1 1)", "", "MULTIPOINT ((2 2))"}, EntityKind::kPoint},
      {"表", {"", ""}, EntityKind::kTable}};
  for (const auto& generic : cases) {
    SCOPED_TRACE(generic.layer);
    std::vector<FixtureFeature> features;
    for (const std::string& wkt : generic.wkts) features.push_back({wkt, {{"名称", wkt}}});
    WriteFixtureLayer(survey_, generic.layer, wkbUnknown, {{"名称", OFTString}}, features);
    ScopedLayer layer(OpenLayerOfKind(survey_, generic.layer, generic.kind));
    EXPECT_EQ(RecordCount(layer, generic.kind), static_cast<long>(features.size()) + 1);
    EXPECT_EQ(FieldText(layer, 2, "名称"), generic.wkts[1]);
    const EntityKind other =
        generic.kind == EntityKind::kPoint ? EntityKind::kRegion : EntityKind::kPoint;
    const std::string message = GisErrorOf([&] { OpenLayerOfKind(survey_, generic.layer, other); });
    EXPECT_TRUE(Names(message, generic.layer));
    EXPECT_TRUE(Names(message, survey_));
  }
  ScopedLayer regions(OpenLayer(survey_, "面"));
  EXPECT_DOUBLE_EQ(RecordArea(regions, 2), 4.0);

  WriteFixtureLayer(survey_, "混合", wkbUnknown, {}, {{Square(0, 0, 1), {}}, {"POINT (1 1)", {}}});
  const std::string message = GisErrorOf([&] { OpenLayer(survey_, "混合"); });
  EXPECT_TRUE(Names(message, "混合"));
  EXPECT_TRUE(Names(message, survey_));
}

TEST_F(GisLayerTest, LayerOfTheWrongKindIsRefusedByName) {
  const std::string message =
      GisErrorOf([&] { OpenLayerOfKind(survey_, "地类图斑", EntityKind::kLine); });
  EXPECT_TRUE(Names(message, "地类图斑"));
  EXPECT_TRUE(Names(message, "regions"));
  EXPECT_TRUE(Names(message, "lines"));
  ScopedLayer layer(OpenLayerOfKind(survey_, "地类图斑", EntityKind::kRegion));
  EXPECT_TRUE(Names(GisErrorOf([&] { RequireKind(layer, EntityKind::kPoint); }), survey_));
  EXPECT_TRUE(IsLayerValid(layer));
  RequireKind(layer, EntityKind::kRegion);
  EXPECT_EQ(LayerName(layer), "地类图斑");
  EXPECT_EQ(DataSourceKind(layer), kRowByRowSource);
}

TEST_F(GisLayerTest, InvalidHandlesReadNothing) {
  LayerHandle closed = OpenLayer(survey_, "地类图斑");
  EXPECT_TRUE(IsLayerValid(closed));
  CloseLayer(closed);
  for (LayerHandle handle : {LayerHandle{0}, LayerHandle{-1}, closed, LayerHandle{32000}}) {
    SCOPED_TRACE(handle);
    EXPECT_FALSE(IsLayerValid(handle));
    EXPECT_EQ(RecordCount(handle, EntityKind::kTable), 0);
    EXPECT_EQ(RecordCount(handle, EntityKind::kRegion), 0);
    Record record;
    EXPECT_FALSE(ReadRecord(handle, EntityKind::kTable, 1, record));
    EXPECT_EQ(FieldText(handle, 1, "地类编码"), "");
    EXPECT_THROW(LayerFields(handle), GisError);
    EXPECT_THROW(SelectRecords(handle, "地类编码 = '011'"), GisError);
  }
  CloseLayer(closed);  // closing twice is harmless
}

// A record outliving its layer refuses every use that would reach the
// layer, naming it and its handle.
TEST_F(GisLayerTest, RecordOfAClosedLayerIsRefused) {
  const LayerHandle closed = OpenLayer(survey_, "地类图斑", true);
  Record record;
  ASSERT_TRUE(ReadRecord(closed, EntityKind::kRegion, 1, record));
  CloseLayer(closed);
  ScopedLayer reopened(OpenLayer(survey_, "地类图斑", true));
  const std::function<void()> uses[] = {[&] { record.Text("地类编码"); },
                                        [&] { record.Text(0); },
                                        [&] { record.Number("图斑面积"); },
                                        [&] { record.SetText("地类编码", "012"); },
                                        [&] { record.Area(); },
                                        [&] { record.PointOnSurface(); },
                                        [&] { WriteRecord(reopened, record); }};
  for (const auto& use : uses) {
    const std::string message = GisErrorOf(use);
    EXPECT_TRUE(Names(message, "地类图斑"));
    EXPECT_TRUE(Names(message, "handle " + std::to_string(closed)));
  }
  EXPECT_EQ(record.Number(), 1);
  // Nor is a record written into a layer other than its own.
  ASSERT_TRUE(ReadRecord(reopened, EntityKind::kRegion, 1, record));
  ScopedLayer other(OpenLayer(survey_, "地类图斑", true));
  EXPECT_THROW(WriteRecord(other, record), GisError);
}

TEST_F(GisLayerTest, RegionWithoutGeometryCannotBeMeasured) {
  WriteFixtureLayer(survey_, "空", wkbPolygon, {{"名称", OFTString}},
                    {{"POLYGON EMPTY", {{"名称", "empty"}}}, {"", {{"名称", "none"}}}});
  ScopedLayer layer(OpenLayer(survey_, "空"));
  for (long number : {1L, 2L}) {
    SCOPED_TRACE(number);
    Record record;
    ASSERT_TRUE(ReadRecord(layer, EntityKind::kRegion, number, record));
    EXPECT_TRUE(Names(GisErrorOf([&] { record.Area(); }), std::to_string(number)));
    EXPECT_THROW(record.PointOnSurface(), GisError);
    EXPECT_THROW(record.Length(), GisError);
    EXPECT_THROW(RecordArea(layer, number), GisError);
  }
  EXPECT_EQ(RegionContaining(layer, {0, 0}), 0);
  Record unread;
  EXPECT_THROW(unread.Area(), GisError);
}

}  // namespace
}  // namespace landstat::gis
