#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/host/host_settings.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat::county {
namespace {
using gis::EntityKind;
using ::landstat::testing::ScopedLayer;
using ::landstat::testing::TempDir;

const char* const kLayerNames[] = {"行政辖区",         "地类图斑",     "线状地物",
                                   "零星地物",         "基本农田图斑", "基本农田线状地物",
                                   "基本农田零星地物", "变更汇总",     "耕地后备资源图斑",
                                   "土地权属争议区",   "城镇权属层",   "房屋层"};

// One record of a generated layer: its number, every field as text, and its
// area or length.
struct Row {
  long number = 0;
  std::map<std::string, std::string> text;
  double measure = 0;

  const std::string& operator[](const std::string& field) const { return text.at(field); }
};

std::vector<Row> ReadLayer(gis::LayerHandle layer, EntityKind kind) {
  std::vector<Row> rows;
  const std::vector<gis::FieldDef> fields = gis::LayerFields(layer);
  for (long i = 1; i < gis::RecordCount(layer, kind); ++i) {
    gis::Record record;
    if (!gis::ReadRecord(layer, kind, i, record)) continue;
    Row row;
    row.number = i;
    for (const gis::FieldDef& field : fields) row.text[field.name] = record.Text(field.name);
    if (kind == EntityKind::kRegion) row.measure = record.Area();
    if (kind == EntityKind::kLine) row.measure = record.Length();
    rows.push_back(std::move(row));
  }
  return rows;
}

// An area as the survey books it: text with at most two decimals, read as
// whole hundredths. Fails the test on any other text.
Cents CentsOf(const std::string& text) {
  const std::size_t point = text.find('.');
  const bool ok = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos &&
                  (point == std::string::npos ||
                   (point > 0 && text.size() - point - 1 <= 2 && text.size() - point - 1 >= 1 &&
                    text.find('.', point + 1) == std::string::npos));
  EXPECT_TRUE(ok) << "\"" << text << "\" is not an area of two decimals";
  return std::llround(std::strtod(text.c_str(), nullptr) * 100);
}

struct Code {
  std::string type, code, name;
};

std::vector<Code> ReadCodeFile(const std::string& path) {
  std::vector<Code> codes;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    codes.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                     line.substr(second + 1)});
  }
  return codes;
}

struct County {
  TempDir dir;
  CountyPlan plan;
  CountyFiles files;
};

County* Generate(long parcels, std::uint64_t seed) {
  static std::map<std::pair<long, std::uint64_t>, std::unique_ptr<County>> made;
  std::unique_ptr<County>& county = made[{parcels, seed}];
  if (!county) {
    county = std::make_unique<County>();
    CountyOptions options;
    options.parcels = parcels;
    options.seed = seed;
    county->plan = PlanCounty(options);
    county->files = WriteCounty(county->plan, county->dir.File("county"));
  }
  return county.get();
}

// Parcel keys as the other layers name parcels: 座落单位代码 and 图斑编号.
using ParcelKey = std::pair<std::string, std::string>;

class CountyTest : public ::testing::TestWithParam<long> {
 protected:
  void SetUp() override {
    county_ = Generate(GetParam(), 42);
    parcels_layer_ = std::make_unique<ScopedLayer>(Open("地类图斑"));
    parcels_ = ReadLayer(*parcels_layer_, EntityKind::kRegion);
    for (std::size_t i = 0; i < parcels_.size(); ++i) {
      const ParcelKey key{parcels_[i]["座落单位代码"], parcels_[i]["图斑编号"]};
      EXPECT_TRUE(by_key_.emplace(key, i).second)
          << "two parcels " << key.second << " in " << key.first;
    }
  }

  gis::LayerHandle Open(const std::string& layer) {
    return gis::OpenLayer(county_->files.survey, layer);
  }

  // Index in parcels_ of the parcel a feature names; -1 when none.
  long ParcelNamed(const std::string& location, const std::string& number) const {
    auto found = by_key_.find({location, number});
    return found == by_key_.end() ? -1 : static_cast<long>(found->second);
  }

  County* county_ = nullptr;
  std::unique_ptr<ScopedLayer> parcels_layer_;
  std::vector<Row> parcels_;
  std::map<ParcelKey, std::size_t> by_key_;
};

TEST_P(CountyTest, WritesEveryLayerWithTheFieldsTheEngineReads) {
  const std::map<std::string, std::vector<std::string>> fields = {
      {"地类图斑",
       {"图斑编号", "地类编码", "扣除地类编码", "图斑地类面积", "扣除地类面积", "耕地坡度级",
        "耕地类型", "权属性质", "权属单位名称", "座落单位名称", "权属单位代码", "座落单位代码",
        "图斑面积", "线状地物面积", "零星地物面积", "地类备注", "批准文号", "新增建设用地类型",
        "备注"}},
      {"线状地物",
       {"扣除比例", "线状地物面积", "地类编码", "权属性质", "扣除图斑编号1", "扣除图斑编号2",
        "扣除图斑座落代码1", "扣除图斑座落代码2", "权属单位代码1", "权属单位代码2", "权属单位名称1",
        "权属单位名称2"}},
      {"零星地物",
       {"地类编码", "座落图斑编号", "座落单位代码", "零星地物面积", "权属性质", "权属单位名称",
        "权属单位代码"}},
      {"基本农田图斑",
       {"基本农田图斑编号", "图斑编号", "地类编码", "基本农田地类面积", "耕地类型", "耕地坡度级",
        "地类备注", "权属性质", "权属单位代码", "权属单位名称", "座落单位代码", "座落单位名称",
        "是否补划", "调入备注"}},
      {"行政辖区", {"行政区代码", "描述说明"}},
      {"城镇权属层",
       {"地籍号", "土地座落", "权属性质", "使用权类型", "土地用途", "建筑容积率", "建筑密度",
        "土地级别", "实测面积", "占地面积"}},
      {"房屋层",
       {"隶属宗地", "房屋编号", "房屋名称", "房屋结构", "房屋层数", "建筑面积", "占地面积"}}};
  for (const char* name : kLayerNames) {
    SCOPED_TRACE(name);
    ScopedLayer layer(Open(name));
    ASSERT_TRUE(gis::IsLayerValid(layer));
    auto wanted = fields.find(name);
    if (wanted == fields.end()) continue;
    for (const std::string& field : wanted->second) {
      EXPECT_TRUE(gis::HasField(layer, field)) << field;
    }
  }
  const CountyPlan& plan = county_->plan;
  ScopedLayer districts(Open("行政辖区")), lines(Open("线状地物")), points(Open("零星地物"));
  EXPECT_EQ(gis::RecordCount(districts, EntityKind::kRegion), plan.villages.size() + 1);
  EXPECT_EQ(gis::RecordCount(*parcels_layer_, EntityKind::kRegion), plan.parcels.size() + 1);
  EXPECT_EQ(parcels_.size(), plan.parcels.size());
  EXPECT_EQ(gis::RecordCount(lines, EntityKind::kLine), plan.lines.size() + 1);
  EXPECT_EQ(gis::RecordCount(points, EntityKind::kPoint), plan.points.size() + 1);
}

// The farmland marks take the values the farmland tables tell apart, each
// of them on some parcel of a county of a few thousand, and several parcels
// share each protection block (the first 16 characters of the number).
TEST_P(CountyTest, FarmlandParcelsCarryTheFarmlandMarks) {
  const std::map<std::string, std::set<std::string>> allowed = {
      {"是否补划", {"Y", "N"}},
      {"调入备注", {"", "TC", "DH", "WS"}},
      {"地类备注", {"", "K", "k", "P"}}};
  ScopedLayer layer(Open("基本农田图斑"));
  std::map<std::string, std::set<std::string>> seen;
  std::set<std::string> blocks;
  const std::vector<Row> rows = ReadLayer(layer, EntityKind::kRegion);
  for (const Row& row : rows) {
    for (const auto& [field, values] : allowed) {
      EXPECT_TRUE(values.count(row[field])) << field << " " << row[field];
      seen[field].insert(row[field]);
    }
    ASSERT_GT(row["基本农田图斑编号"].size(), 16u);
    blocks.insert(row["基本农田图斑编号"].substr(0, 16));
  }
  if (GetParam() < 3000) return;
  EXPECT_EQ(seen, allowed);
  EXPECT_GE(rows.size(), 2 * blocks.size()) << "blocks of one parcel";
}

TEST_P(CountyTest, ParcelAreasAddUp) {
  for (const Row& parcel : parcels_) {
    SCOPED_TRACE("parcel " + std::to_string(parcel.number));
    const Cents gross = CentsOf(parcel["图斑面积"]);
    const Cents net = CentsOf(parcel["图斑地类面积"]);
    const Cents linear = CentsOf(parcel["线状地物面积"]);
    const Cents scattered = CentsOf(parcel["零星地物面积"]);
    const Cents deduction = CentsOf(parcel["扣除地类面积"]);
    EXPECT_EQ(gross, net + linear + scattered + deduction);
    EXPECT_GE(net, 0);
    // 田坎 is a share of what the line and scattered features leave.
    const double percent = std::strtod(parcel["扣除地类系数"].c_str(), nullptr);
    EXPECT_EQ(deduction, std::llround((gross - linear - scattered) * percent / 100));
    EXPECT_EQ(deduction > 0, !parcel["扣除地类编码"].empty());
  }
}

TEST_P(CountyTest, GrossAreasAreTheAreasOfThePolygons) {
  Cents total = 0;
  long off = 0;
  std::string first_off;
  for (const Row& parcel : parcels_) {
    const Cents gross = CentsOf(parcel["图斑面积"]);
    total += gross;
    if (std::fabs(parcel.measure - FromCents(gross)) > 0.005 + 1e-6 && off++ == 0) {
      first_off = "parcel " + std::to_string(parcel.number) + ": 图斑面积 " + parcel["图斑面积"] +
                  ", polygon " + std::to_string(parcel.measure);
    }
  }
  EXPECT_EQ(off, 0) << off << " of " << parcels_.size()
                    << " parcels do not book their polygon's area rounded to hundredths, e.g. "
                    << first_off;

  ScopedLayer districts(Open("行政辖区"));
  double district_sum = 0;
  for (const Row& district : ReadLayer(districts, EntityKind::kRegion)) {
    district_sum += district.measure;
  }
  // The districts neither overlap nor leave holes between parcels.
  std::unique_ptr<GDALDataset> dataset(
      GDALDataset::Open(county_->files.survey.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  ASSERT_TRUE(dataset);
  OGRLayer* layer = dataset->GetLayerByName("行政辖区");
  ASSERT_NE(layer, nullptr);
  OGRMultiPolygon all;
  for (auto& feature : *layer) {
    const OGRGeometry* geometry = feature->GetGeometryRef();
    ASSERT_NE(geometry, nullptr);
    for (const OGRPolygon* polygon : *geometry->toMultiPolygon()) all.addGeometry(polygon);
  }
  std::unique_ptr<OGRGeometry> united(all.UnionCascaded());
  ASSERT_TRUE(united);
  const double union_area = OGR_G_Area(OGRGeometry::ToHandle(united.get()));
  const double tolerance = 0.005 * static_cast<double>(parcels_.size()) + 0.01;
  EXPECT_NEAR(FromCents(total), union_area, tolerance);
  EXPECT_NEAR(district_sum, union_area, 0.01);
}

TEST_P(CountyTest, LinearFeaturesAreSharedBetweenTheParcelsBesideThem) {
  std::unique_ptr<GDALDataset> dataset(
      GDALDataset::Open(county_->files.survey.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  ASSERT_TRUE(dataset);
  OGRLayer* geometry_layer = dataset->GetLayerByName("线状地物");
  ASSERT_NE(geometry_layer, nullptr);

  ScopedLayer lines(Open("线状地物"));
  std::vector<Cents> booked(parcels_.size(), 0);
  int shared = 0, odd = 0;
  for (const Row& line : ReadLayer(lines, EntityKind::kLine)) {
    SCOPED_TRACE("line " + std::to_string(line.number));
    const Cents area = CentsOf(line["线状地物面积"]);
    EXPECT_NEAR(line.measure, std::strtod(line["长度"].c_str(), nullptr), 0.0051);
    EXPECT_EQ(area, ToCents(std::strtod(line["长度"].c_str(), nullptr) *
                            std::strtod(line["宽度"].c_str(), nullptr)));
    const long side1 = ParcelNamed(line["扣除图斑座落代码1"], line["扣除图斑编号1"]);
    ASSERT_GE(side1, 0) << "side 1 names no parcel";
    EXPECT_EQ(line["权属单位代码1"], parcels_[side1]["权属单位代码"]);
    EXPECT_EQ(line["权属单位名称1"], parcels_[side1]["权属单位名称"]);

    std::unique_ptr<OGRFeature> feature(geometry_layer->GetFeature(line.number));
    ASSERT_TRUE(feature && feature->GetGeometryRef());
    const OGRLineString* path = feature->GetGeometryRef()->toLineString();
    const double x0 = path->getX(0), y0 = path->getY(0);
    const double x1 = path->getX(path->getNumPoints() - 1);
    const double y1 = path->getY(path->getNumPoints() - 1);
    const double length = std::hypot(x1 - x0, y1 - y0);
    const gis::Point middle{(x0 + x1) / 2, (y0 + y1) / 2};
    const double nx = -(y1 - y0) / length * 0.5, ny = (x1 - x0) / length * 0.5;
    const gis::Point left{middle.x + nx, middle.y + ny}, right{middle.x - nx, middle.y - ny};

    if (line["扣除比例"] == "0.5") {
      ++shared;
      const long side2 = ParcelNamed(line["扣除图斑座落代码2"], line["扣除图斑编号2"]);
      ASSERT_GE(side2, 0) << "side 2 names no parcel";
      EXPECT_EQ(gis::RegionContaining(*parcels_layer_, left), parcels_[side1].number);
      EXPECT_EQ(gis::RegionContaining(*parcels_layer_, right), parcels_[side2].number);
      EXPECT_EQ(line["权属单位代码2"], parcels_[side2]["权属单位代码"]);
      EXPECT_EQ(line["权属单位名称2"], parcels_[side2]["权属单位名称"]);
      // An odd hundredth goes to side 2: side 1 books the lower half.
      booked[side1] += area / 2;
      booked[side2] += area - area / 2;
      odd += area % 2 == 1 ? 1 : 0;
    } else {
      EXPECT_EQ(line["扣除比例"], "1");
      EXPECT_EQ(line["扣除图斑编号2"], "");
      EXPECT_EQ(line["扣除图斑座落代码2"], "");
      EXPECT_EQ(gis::RegionContaining(*parcels_layer_, middle), parcels_[side1].number);
      booked[side1] += area;
    }
  }
  for (std::size_t i = 0; i < parcels_.size(); ++i) {
    EXPECT_EQ(CentsOf(parcels_[i]["线状地物面积"]), booked[i]) << "parcel " << parcels_[i].number;
  }
  if (GetParam() >= 3000) {
    EXPECT_GT(shared, 0);
    EXPECT_GT(odd, 0);
    EXPECT_LT(shared, static_cast<int>(county_->plan.lines.size()));
  }
}

TEST_P(CountyTest, ScatteredFeaturesAreBookedToTheParcelAroundThem) {
  ScopedLayer points(Open("零星地物"));
  std::vector<Cents> booked(parcels_.size(), 0);
  for (const Row& point : ReadLayer(points, EntityKind::kPoint)) {
    SCOPED_TRACE("point " + std::to_string(point.number));
    const long parcel = ParcelNamed(point["座落单位代码"], point["座落图斑编号"]);
    ASSERT_GE(parcel, 0) << "names no parcel";
    booked[parcel] += CentsOf(point["零星地物面积"]);
    EXPECT_EQ(point["权属单位代码"], parcels_[parcel]["权属单位代码"]);
    EXPECT_EQ(point["权属性质"], parcels_[parcel]["权属性质"]);

    gis::Record record;
    ASSERT_TRUE(gis::ReadRecord(points, EntityKind::kPoint, point.number, record));
    const std::optional<gis::Point> at = record.PointOnSurface();
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(gis::RegionContaining(*parcels_layer_, *at), parcels_[parcel].number);
  }
  for (std::size_t i = 0; i < parcels_.size(); ++i) {
    EXPECT_EQ(CentsOf(parcels_[i]["零星地物面积"]), booked[i]) << "parcel " << parcels_[i].number;
  }
}

TEST_P(CountyTest, CodeFileCoversEveryCodeOfTheSurvey) {
  const std::vector<Code> codes = ReadCodeFile(county_->files.codes);
  const std::map<std::string, std::size_t> lengths = {{"省行政代码", 2},  {"市行政代码", 4},
                                                      {"县行政代码", 6},  {"乡行政代码", 9},
                                                      {"村行政代码", 12}, {"组行政代码", 19}};
  std::map<std::string, std::set<std::string>> by_type;
  for (const Code& code : codes) {
    by_type[code.type].insert(code.code);
    auto length = lengths.find(code.type);
    if (length != lengths.end()) {
      EXPECT_EQ(code.code.size(), length->second) << code.type << " " << code.code;
      EXPECT_FALSE(code.name.empty()) << code.code;
    }
  }
  for (const auto& [type, length] : lengths) {
    EXPECT_FALSE(by_type[type].empty()) << "no " << type;
  }
  EXPECT_EQ(by_type["县行政代码"], std::set<std::string>{county_->plan.options.county_code});
  // Each unit lies in a unit of the level above.
  const std::pair<const char*, const char*> nesting[] = {{"市行政代码", "省行政代码"},
                                                         {"县行政代码", "市行政代码"},
                                                         {"乡行政代码", "县行政代码"},
                                                         {"村行政代码", "乡行政代码"},
                                                         {"组行政代码", "村行政代码"}};
  for (const auto& [type, parent] : nesting) {
    const std::size_t parent_length = lengths.at(parent);
    for (const std::string& code : by_type[type]) {
      EXPECT_EQ(by_type[parent].count(code.substr(0, parent_length)), 1u) << code;
    }
  }

  auto is_unit = [&](const std::string& code) {
    if (by_type["组行政代码"].count(code)) return true;
    return code.size() == 19 && by_type["村行政代码"].count(code.substr(0, 12)) &&
           code.substr(12) == "0000000";
  };
  const std::set<std::string>& classes = by_type["地类代码"];
  for (const Row& parcel : parcels_) {
    EXPECT_TRUE(is_unit(parcel["座落单位代码"])) << parcel["座落单位代码"];
    EXPECT_TRUE(is_unit(parcel["权属单位代码"])) << parcel["权属单位代码"];
    EXPECT_EQ(classes.count(parcel["地类编码"]), 1u) << parcel["地类编码"];
  }
  ScopedLayer districts(Open("行政辖区"));
  for (const Row& district : ReadLayer(districts, EntityKind::kRegion)) {
    EXPECT_EQ(by_type["村行政代码"].count(district["行政区代码"]), 1u) << district["行政区代码"];
    EXPECT_TRUE(district["描述说明"].empty() || district["描述说明"] == "01");
  }
  ScopedLayer lines(Open("线状地物")), points(Open("零星地物"));
  for (const Row& line : ReadLayer(lines, EntityKind::kLine)) {
    EXPECT_EQ(classes.count(line["地类编码"]), 1u) << line["地类编码"];
  }
  for (const Row& point : ReadLayer(points, EntityKind::kPoint)) {
    EXPECT_EQ(classes.count(point["地类编码"]), 1u) << point["地类编码"];
  }
}

// Town lots as crews type them: 19-character lot numbers, some with a blank
// in front, inside or behind; land uses of two characters (the leading zero
// left out) and of three, each a class of the code file; use-right types of
// the two groups, some empty. Every house belongs to a lot.
TEST_P(CountyTest, TownLotsLookAsCrewsTypeThem) {
  std::set<std::string> classes, lots;
  for (const Code& code : ReadCodeFile(county_->files.codes)) {
    if (code.type == "地类代码") classes.insert(code.code);
  }
  const std::set<std::string> rights = {"",   "11", "12", "13", "14", "15",
                                        "21", "22", "23", "24", "25"};
  std::map<std::string, int> seen;  // kinds of values met
  ScopedLayer lot_layer(Open("城镇权属层")), house_layer(Open("房屋层"));
  for (const Row& lot : ReadLayer(lot_layer, EntityKind::kRegion)) {
    std::string number = lot["地籍号"];
    std::erase(number, ' ');
    EXPECT_EQ(number.size(), 19u) << lot["地籍号"];
    lots.insert(number);
    const std::string& use = lot["土地用途"];
    EXPECT_EQ(classes.count(use.size() == 2 ? "0" + use : use), 1u) << use;
    EXPECT_EQ(rights.count(lot["使用权类型"]), 1u) << lot["使用权类型"];
    seen["blank"] += number != lot["地籍号"];
    seen["three-character use"] += use.size() == 3;
    seen["two-character use"] += use.size() == 2;
    seen["empty right"] += lot["使用权类型"].empty();
  }
  for (const Row& house : ReadLayer(house_layer, EntityKind::kRegion)) {
    EXPECT_EQ(lots.count(house["隶属宗地"]), 1u) << house["隶属宗地"];
  }
  if (GetParam() < 3000) return;  // too few lots for every kind
  for (const char* kind : {"blank", "three-character use", "two-character use", "empty right"}) {
    EXPECT_GT(seen[kind], 0) << kind;
  }
}

TEST_P(CountyTest, ProjectFileFindsEveryLayer) {
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county_->files.project);
  EXPECT_EQ(project->GetCountyCode(), county_->plan.options.county_code);
  EXPECT_TRUE(std::filesystem::equivalent(project->GetCodeFile(), county_->files.codes));
  for (const char* name : kLayerNames) {
    const gis::LayerHandle layer = project->prjItemGetAi(name);
    ASSERT_GT(layer, 0) << name;
    EXPECT_EQ(gis::LayerName(layer), name);
  }
  EXPECT_EQ(gis::LayerKind(project->prjItemGetAi("零星地物")), EntityKind::kPoint);
  EXPECT_EQ(gis::LayerKind(project->prjItemGetAi("线状地物")), EntityKind::kLine);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CountyTest, ::testing::Values(10L, 200L, 3000L),
                         [](const ::testing::TestParamInfo<long>& size) {
                           return "Parcels" + std::to_string(size.param);
                         });

TEST(CountyDeterminismTest, SameSeedGivesTheSameCounty) {
  auto attributes = [](County* county) {
    ScopedLayer layer(gis::OpenLayer(county->files.survey, "地类图斑"));
    std::vector<std::map<std::string, std::string>> rows;
    for (const Row& row : ReadLayer(layer, EntityKind::kRegion)) {
      rows.push_back(row.text);
      rows.back()["面积"] = std::to_string(row.measure);
    }
    return rows;
  };
  County* first = Generate(200, 7);
  const auto rows = attributes(first);
  ASSERT_EQ(rows.size(), 200u);
  auto again = std::make_unique<County>();
  CountyOptions options;
  options.parcels = 200;
  options.seed = 7;
  again->plan = PlanCounty(options);
  again->files = WriteCounty(again->plan, again->dir.File("again"));
  EXPECT_TRUE(attributes(again.get()) == rows);
  EXPECT_FALSE(attributes(Generate(200, 8)) == rows);
}

// The settings file the runs read their version string from; a version
// that would break the XML is refused.
TEST(CountyHostSettingsTest, WritesTheVersionTheHostReads) {
  testing::ScopedProgramDir home;
  WriteHostSettings(home.path().string(), "广东农村");
  EXPECT_EQ(host::HostVersion(), "广东农村");
  EXPECT_THROW(WriteHostSettings(home.path().string(), "广东\"农村"), std::runtime_error);
  EXPECT_EQ(host::HostVersion(), "广东农村");
}

}  // namespace
}  // namespace landstat::county
