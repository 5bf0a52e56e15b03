#include "county_writer.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "operator/county_catalogue.h"
#include "platform/gis/project.h"
#include "resources/resources.h"

namespace landstat::county {
namespace fs = std::filesystem;

namespace {

enum class Kind { kText, kReal, kInteger };

struct Field {
  const char* name;
  Kind kind;
};

using Values = std::map<std::string, std::string>;

bool IsMgField(const std::string& name) {
  return name.rfind("内蒙古权属单位", 0) == 0;
}

// One layer being written: its fields, then features in transactions.
class LayerWriter {
 public:
  LayerWriter(GDALDataset& dataset, const char* name, OGRwkbGeometryType type,
              std::vector<Field> fields, const OGRSpatialReference& srs,
              const std::vector<Field>& more = {})
      : dataset_(dataset) {
    fields.insert(fields.end(), more.begin(), more.end());
    layer_ = dataset.CreateLayer(
        name, type == wkbNone ? nullptr : const_cast<OGRSpatialReference*>(&srs), type, nullptr);
    if (!layer_) throw std::runtime_error(std::string("cannot create layer ") + name);
    for (const Field& field : fields) {
      OGRFieldDefn definition(field.name, field.kind == Kind::kReal      ? OFTReal
                                          : field.kind == Kind::kInteger ? OFTInteger64
                                                                         : OFTString);
      if (field.kind == Kind::kReal) definition.SetPrecision(2);
      layer_->CreateField(&definition);
    }
    dataset_.StartTransaction();
  }

  ~LayerWriter() { dataset_.CommitTransaction(); }

  void Add(OGRGeometry* geometry, const Values& values) {
    OGRFeature feature(layer_->GetLayerDefn());
    for (const auto& [name, value] : values) {
      if (!value.empty()) feature.SetField(name.c_str(), value.c_str());
    }
    if (geometry) feature.SetGeometryDirectly(geometry);
    if (layer_->CreateFeature(&feature) != OGRERR_NONE) {
      throw std::runtime_error(std::string("cannot write a feature of ") + layer_->GetName());
    }
    if (++written_ % 50000 == 0) {
      dataset_.CommitTransaction();
      dataset_.StartTransaction();
    }
  }

 private:
  GDALDataset& dataset_;
  OGRLayer* layer_ = nullptr;
  long written_ = 0;
};

std::string Money(Cents cents) {  // an area in cents as text with two decimals
  const bool negative = cents < 0;
  const Cents magnitude = negative ? -cents : cents;
  std::string text = std::to_string(magnitude / 100) + "." + (magnitude % 100 < 10 ? "0" : "") +
                     std::to_string(magnitude % 100);
  return negative ? "-" + text : text;
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

OGRPolygon* Polygon(const std::vector<Point>& ring) {
  auto* linear = new OGRLinearRing();
  for (const Point& p : ring) linear->addPoint(p.x, p.y);
  auto* polygon = new OGRPolygon();
  polygon->addRingDirectly(linear);
  return polygon;
}

std::vector<Point> Shrunk(const std::vector<Point>& ring, double factor) {
  Point centre;
  for (std::size_t i = 0; i + 1 < ring.size(); ++i) centre.x += ring[i].x, centre.y += ring[i].y;
  centre.x /= static_cast<double>(ring.size() - 1);
  centre.y /= static_cast<double>(ring.size() - 1);
  std::vector<Point> out;
  for (const Point& p : ring) {
    out.push_back({centre.x + (p.x - centre.x) * factor, centre.y + (p.y - centre.y) * factor});
  }
  return out;
}

// Names of the land classes, from the shipped classification.
std::map<std::string, std::string> LandClassNames() {
  std::map<std::string, std::string> names;
  std::istringstream text{std::string(resources::LandClassCodes())};
  for (std::string line; std::getline(text, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    names[line.substr(first + 1, second - first - 1)] = line.substr(second + 1);
  }
  return names;
}

std::string FarmlandNumber(const CountyPlan& plan, const Parcel& p) {
  // The first 16 characters name the protection block: village and group.
  return plan.villages[p.village].unit.code + "00" + std::to_string(p.group + 1) + "1" +
         Digits(p.number, 3);
}

// The farmland layer was surveyed apart: a quarter of its adjustable
// parcels carry the remark in lower case, as field crews write it.
std::string FarmlandRemark(const Parcel& p) {
  return p.remark == "K" && p.cell % 4 == 0 ? "k" : p.remark;
}

// How a farmland parcel came into the farmland: mostly empty (always
// farmland), a few marked TC, DH or WS.
std::string TransferRemark(const Parcel& p) {
  static const char* const kRemarks[] = {"TC", "DH", "WS"};
  const long draw = (p.cell * 7 + p.number) % 31;
  return draw < 3 ? kRemarks[draw] : "";
}

// A lot number of 19 characters as survey crews type it: now and then with
// a blank in front, behind or between the block and the lot.
std::string LotNumberAsTyped(const std::string& lot, long seq) {
  if (seq % 7 == 0) return " " + lot;
  if (seq % 11 == 0) return lot.substr(0, 12) + " " + lot.substr(12);
  if (seq % 13 == 0) return lot + " ";
  return lot;
}

class CountyWriter {
 public:
  CountyWriter(const CountyPlan& plan, GDALDataset& dataset)
      : plan_(plan), dataset_(dataset), class_names_(LandClassNames()) {
    srs_.importFromEPSG(4528);  // CGCS2000 / 3-degree Gauss-Kruger zone 40
  }

  void WriteAll() {
    WriteDistricts();
    WriteParcels();
    WriteLines("线状地物", false);
    WritePoints("零星地物", false);
    WriteFarmlandParcels();
    WriteLines("基本农田线状地物", true);
    WritePoints("基本农田零星地物", true);
    WriteChanges();
    WriteReserves();
    WriteDisputes();
    WriteTownLots();
    WriteRuralLots();
  }

 private:
  const Parcel& ParcelAt(long cell) const { return plan_.parcels[cell]; }

  // The outline of some cells: their union, as a multipolygon.
  OGRGeometry* Outline(const std::vector<long>& cells) const {
    OGRMultiPolygon pieces;
    for (long cell : cells) pieces.addGeometryDirectly(Polygon(plan_.CellRing(cell)));
    return OGRGeometryFactory::forceToMultiPolygon(pieces.UnionCascaded());
  }

  std::string ClassName(const std::string& code) const {
    auto found = class_names_.find(code);
    return found == class_names_.end() ? "" : found->second;
  }

  Values ParcelOwnership(const Parcel& p) const {
    return {{"权属性质", p.ownership},
            {"权属单位代码", plan_.OwnerCode(p)},
            {"权属单位名称", plan_.OwnerName(p)},
            {"座落单位代码", plan_.LocationCode(p)},
            {"座落单位名称", plan_.LocationName(p)}};
  }

  void WriteDistricts() {
    LayerWriter layer(
        dataset_, "行政辖区", wkbMultiPolygon,
        {{"行政区代码", Kind::kText}, {"行政区名称", Kind::kText}, {"描述说明", Kind::kText}},
        srs_);
    for (const Village& village : plan_.villages) {
      layer.Add(Outline(village.cells), {{"行政区代码", village.unit.code},
                                         {"行政区名称", village.unit.name},
                                         {"描述说明", village.island ? "01" : ""}});
    }
  }

  void WriteParcels() {
    LayerWriter layer(dataset_, "地类图斑", wkbPolygon,
                      {{"标识码", Kind::kInteger},    {"图斑编号", Kind::kText},
                       {"地类编码", Kind::kText},     {"地类名称", Kind::kText},
                       {"权属性质", Kind::kText},     {"权属单位代码", Kind::kText},
                       {"权属单位名称", Kind::kText}, {"座落单位代码", Kind::kText},
                       {"座落单位名称", Kind::kText}, {"耕地类型", Kind::kText},
                       {"耕地坡度级", Kind::kText},   {"扣除地类编码", Kind::kText},
                       {"扣除地类系数", Kind::kReal}, {"图斑面积", Kind::kReal},
                       {"线状地物面积", Kind::kReal}, {"零星地物面积", Kind::kReal},
                       {"扣除地类面积", Kind::kReal}, {"图斑地类面积", Kind::kReal},
                       {"批准文号", Kind::kText},     {"地类备注", Kind::kText},
                       {"描述说明", Kind::kText},     {"新增建设用地类型", Kind::kText},
                       {"备注", Kind::kText}},
                      srs_, MgFields(""));
    for (const Parcel& p : plan_.parcels) {
      Values values = ParcelOwnership(p);
      values.merge(MgOwnership(p, ""));
      values.insert({{"标识码", std::to_string(p.cell + 1)},
                     {"图斑编号", std::to_string(p.number)},
                     {"地类编码", p.class_code},
                     {"地类名称", ClassName(p.class_code)},
                     {"耕地类型", p.cultivation_type},
                     {"耕地坡度级", p.slope ? std::to_string(p.slope) : ""},
                     {"扣除地类编码", p.deduction_percent > 0 ? "123" : ""},
                     {"扣除地类系数", p.deduction_percent > 0 ? Fixed(p.deduction_percent, 2) : ""},
                     {"图斑面积", Money(p.gross)},
                     {"线状地物面积", Money(p.linear)},
                     {"零星地物面积", Money(p.scattered)},
                     {"扣除地类面积", Money(p.deduction)},
                     {"图斑地类面积", Money(p.net)},
                     {"批准文号", p.approval},
                     {"地类备注", p.remark}});
      layer.Add(Polygon(plan_.CellRing(p.cell)), values);
    }
  }

  Values LineSide(const LinearFeature& line, int side) const {
    const long cell = side == 1 ? line.parcel1 : line.parcel2;
    const std::string k = std::to_string(side);
    if (cell < 0) return {};
    const Parcel& p = ParcelAt(cell);
    Values values = {{"扣除图斑编号" + k, std::to_string(p.number)},
                     {"扣除图斑座落代码" + k, plan_.LocationCode(p)},
                     {"扣除图斑权属代码" + k, plan_.OwnerCode(p)},
                     {"权属单位代码" + k, plan_.OwnerCode(p)},
                     {"权属单位名称" + k, plan_.OwnerName(p)}};
    values.merge(MgOwnership(p, k));
    return values;
  }

  // The Inner Mongolia ownership fields (with a side's suffix), when the
  // county carries them.
  std::vector<Field> MgFields(const std::string& suffix) const {
    if (!plan_.options.mongolia) return {};
    mg_field_names_.push_back("内蒙古权属单位代码" + suffix);
    mg_field_names_.push_back("内蒙古权属单位名称" + suffix);
    const auto end = mg_field_names_.end();
    return {{std::prev(end, 2)->c_str(), Kind::kText}, {std::prev(end)->c_str(), Kind::kText}};
  }
  Values MgOwnership(const Parcel& p, const std::string& suffix) const {
    if (!plan_.options.mongolia) return {};
    return {{"内蒙古权属单位代码" + suffix, plan_.MgCode(p.owner_village, p.owner_group)},
            {"内蒙古权属单位名称" + suffix, plan_.MgName(p.owner_village, p.owner_group)}};
  }

  void WriteLines(const char* name, bool farmland_only) {
    std::vector<Field> fields = {{"标识码", Kind::kInteger},
                                 {"地类编码", Kind::kText},
                                 {"地类名称", Kind::kText},
                                 {"权属性质", Kind::kText},
                                 {"长度", Kind::kReal},
                                 {"线长度", Kind::kReal},
                                 {"宽度", Kind::kReal},
                                 {"扣除比例", Kind::kReal},
                                 {"线状地物面积", Kind::kReal},
                                 {"扣除图斑编号1", Kind::kText},
                                 {"扣除图斑座落代码1", Kind::kText},
                                 {"扣除图斑权属代码1", Kind::kText},
                                 {"权属单位代码1", Kind::kText},
                                 {"权属单位名称1", Kind::kText},
                                 {"扣除图斑编号2", Kind::kText},
                                 {"扣除图斑座落代码2", Kind::kText},
                                 {"扣除图斑权属代码2", Kind::kText},
                                 {"权属单位代码2", Kind::kText},
                                 {"权属单位名称2", Kind::kText}};
    if (!farmland_only) {
      for (const char* side : {"1", "2"}) {
        for (const Field& field : MgFields(side)) fields.push_back(field);
      }
    }
    if (farmland_only) {
      fields.insert(fields.end(), {{"基本农田图斑编号1", Kind::kText},
                                   {"基本农田图斑编号2", Kind::kText},
                                   {"调入备注", Kind::kText},
                                   {"地类备注", Kind::kText}});
    }
    LayerWriter layer(dataset_, name, wkbLineString, fields, srs_);
    long id = 0;
    for (const LinearFeature& line : plan_.lines) {
      const bool farm1 = ParcelAt(line.parcel1).farmland;
      const bool farm2 = line.parcel2 >= 0 && ParcelAt(line.parcel2).farmland;
      if (farmland_only && !farm1 && !farm2) continue;
      Values values = {
          {"标识码", std::to_string(++id)},         {"地类编码", line.class_code},
          {"地类名称", ClassName(line.class_code)}, {"权属性质", line.ownership},
          {"长度", Fixed(line.length, 2)},          {"线长度", Fixed(line.length, 2)},
          {"宽度", Fixed(line.width, 1)},           {"扣除比例", line.parcel2 >= 0 ? "0.5" : "1"},
          {"线状地物面积", Money(line.area)}};
      for (int side : {1, 2}) values.merge(LineSide(line, side));
      if (farmland_only) std::erase_if(values, [](const auto& v) { return IsMgField(v.first); });
      if (farmland_only) {
        if (farm1) values["基本农田图斑编号1"] = FarmlandNumber(plan_, ParcelAt(line.parcel1));
        if (farm2) values["基本农田图斑编号2"] = FarmlandNumber(plan_, ParcelAt(line.parcel2));
      }
      auto* geometry = new OGRLineString();
      geometry->addPoint(line.from.x, line.from.y);
      geometry->addPoint(line.to.x, line.to.y);
      layer.Add(geometry, values);
    }
  }

  void WritePoints(const char* name, bool farmland_only) {
    std::vector<Field> fields = {
        {"标识码", Kind::kInteger},    {"地类编码", Kind::kText},     {"地类名称", Kind::kText},
        {"零星地物面积", Kind::kReal}, {"座落图斑编号", Kind::kText}, {"座落单位代码", Kind::kText},
        {"座落单位名称", Kind::kText}, {"权属性质", Kind::kText},     {"权属单位代码", Kind::kText},
        {"权属单位名称", Kind::kText}, {"耕地类型", Kind::kText},     {"耕地坡度级", Kind::kText}};
    if (farmland_only) {
      fields.insert(fields.end(), {{"基本农田图斑编号", Kind::kText},
                                   {"调入备注", Kind::kText},
                                   {"地类备注", Kind::kText}});
    } else {
      for (const Field& field : MgFields("")) fields.push_back(field);
    }
    LayerWriter layer(dataset_, name, wkbPoint, fields, srs_);
    long id = 0;
    for (const ScatteredFeature& point : plan_.points) {
      const Parcel& p = ParcelAt(point.parcel);
      if (farmland_only && !p.farmland) continue;
      Values values = ParcelOwnership(p);
      values.insert({{"标识码", std::to_string(++id)},
                     {"地类编码", point.class_code},
                     {"地类名称", ClassName(point.class_code)},
                     {"零星地物面积", Money(point.area)},
                     {"座落图斑编号", std::to_string(p.number)}});
      if (!farmland_only) values.merge(MgOwnership(p, ""));
      if (farmland_only) values["基本农田图斑编号"] = FarmlandNumber(plan_, p);
      layer.Add(new OGRPoint(point.at.x, point.at.y), values);
    }
  }

  void WriteFarmlandParcels() {
    LayerWriter layer(dataset_, "基本农田图斑", wkbPolygon,
                      {{"基本农田图斑编号", Kind::kText},
                       {"图斑编号", Kind::kText},
                       {"地类编码", Kind::kText},
                       {"地类名称", Kind::kText},
                       {"基本农田图斑面积", Kind::kReal},
                       {"基本农田地类面积", Kind::kReal},
                       {"扣除地类编码", Kind::kText},
                       {"扣除地类系数", Kind::kReal},
                       {"扣除地类面积", Kind::kReal},
                       {"耕地类型", Kind::kText},
                       {"耕地坡度级", Kind::kText},
                       {"地类备注", Kind::kText},
                       {"权属性质", Kind::kText},
                       {"权属单位代码", Kind::kText},
                       {"权属单位名称", Kind::kText},
                       {"座落单位代码", Kind::kText},
                       {"座落单位名称", Kind::kText},
                       {"是否补划", Kind::kText},
                       {"调入备注", Kind::kText}},
                      srs_);
    for (const Parcel& p : plan_.parcels) {
      if (!p.farmland) continue;
      Values values = ParcelOwnership(p);
      values.insert({{"基本农田图斑编号", FarmlandNumber(plan_, p)},
                     {"图斑编号", std::to_string(p.number)},
                     {"地类编码", p.class_code},
                     {"地类名称", ClassName(p.class_code)},
                     {"基本农田图斑面积", Money(p.gross)},
                     {"基本农田地类面积", Money(p.net)},
                     {"扣除地类编码", p.deduction_percent > 0 ? "123" : ""},
                     {"扣除地类系数", p.deduction_percent > 0 ? Fixed(p.deduction_percent, 2) : ""},
                     {"扣除地类面积", Money(p.deduction)},
                     {"耕地类型", p.cultivation_type},
                     {"耕地坡度级", p.slope ? std::to_string(p.slope) : ""},
                     {"地类备注", FarmlandRemark(p)},
                     {"是否补划", p.number % 17 == 0 ? "Y" : "N"},
                     {"调入备注", TransferRemark(p)}});
      layer.Add(Polygon(plan_.CellRing(p.cell)), values);
    }
  }

  void WriteChanges() {
    LayerWriter layer(dataset_, "变更汇总", wkbPolygon,
                      {{"变更前座落代码", Kind::kText},
                       {"变更后座落代码", Kind::kText},
                       {"变更前权属性质", Kind::kText},
                       {"变更后权属性质", Kind::kText},
                       {"变更前地类号", Kind::kText},
                       {"变更后地类号", Kind::kText},
                       {"变更面积", Kind::kReal}},
                      srs_);
    if (plan_.options.following_year) {
      for (const ClassChange& change : YearChanges(plan_)) {
        const Parcel& p = plan_.parcels[change.cell];
        layer.Add(Polygon(plan_.CellRing(p.cell)), {{"变更前座落代码", plan_.LocationCode(p)},
                                                    {"变更后座落代码", plan_.LocationCode(p)},
                                                    {"变更前权属性质", change.from_owner},
                                                    {"变更后权属性质", change.to_owner},
                                                    {"变更前地类号", change.from_class},
                                                    {"变更后地类号", change.to_class},
                                                    {"变更面积", Money(change.area)}});
      }
      return;
    }
    for (const Parcel& p : plan_.parcels) {
      if (p.cell % 197 != 3) continue;  // a few changes a year
      const std::string before = p.class_code == "203" ? "013" : "011";
      layer.Add(Polygon(plan_.CellRing(p.cell)), {{"变更前座落代码", plan_.LocationCode(p)},
                                                  {"变更后座落代码", plan_.LocationCode(p)},
                                                  {"变更前权属性质", p.ownership},
                                                  {"变更后权属性质", p.ownership},
                                                  {"变更前地类号", before},
                                                  {"变更后地类号", p.class_code},
                                                  {"变更面积", Money(p.net)}});
    }
  }

  struct ReserveType {
    const char* class_code;
    const char* new_type;
    const char* old_type;
    const char* grade;
  };

  // Mostly the types of the parcel's class in both schemes. Damaged land is
  // of the three recultivable types in turn; a few parcels carry reed land
  // (old scheme only), a recultivable old type beside a reclaimable new
  // one, or types that neither scheme lists (a trailing blank, a Latin I, a
  // word of the field crew, none).
  static std::pair<std::string, std::string> ReserveTypes(const Parcel& p,
                                                          const ReserveType& type) {
    static const char* const kRecultivable[] = {"Ⅱ1废弃压占土地", "Ⅱ2挖掘及塌陷破坏地",
                                                "Ⅱ3自然灾毁土地"};
    if (std::string_view(type.new_type).starts_with("Ⅱ")) {
      const char* recultivable = kRecultivable[p.number % 3];
      return {recultivable, recultivable};
    }
    switch ((p.cell * 5 + p.number) % 29) {
      case 0:
        return {type.new_type, "Ⅰ4可开垦苇地"};
      case 1:
        return {type.new_type, "Ⅱ3自然灾毁土地"};
      case 2:
        return {std::string(type.new_type) + " ", type.old_type};
      case 3:
        return {"I2可开垦盐碱地", "I2可开垦盐碱地"};
      case 4:
        return {"待定", ""};
      default:
        return {type.new_type, type.old_type};
    }
  }

  // Mostly provincial, every fifth national, some of a level of their own.
  static const char* ReserveLevel(long id) {
    if (id % 5 == 0) return "国家级";
    return id % 7 == 3 ? "县级" : "省级";
  }

  void WriteReserves() {
    static const ReserveType kTypes[] = {
        {"043", "Ⅰ1可开垦其他草地", "Ⅰ1可开垦荒草地", "易开发土地"},
        {"124", "Ⅰ2可开垦盐碱地", "Ⅰ2可开垦盐碱地", "较难开发土地"},
        {"125", "Ⅰ3可开垦沼泽地", "Ⅰ3可开垦沼泽地", "较难开发土地"},
        {"116", "Ⅰ4可开垦滩涂", "Ⅰ5可开垦滩涂", "较易开发土地"},
        {"127", "Ⅰ5可开垦的其他土地", "Ⅰ6其他可开垦的未利用土地", "较易开发土地"},
        {"204", "Ⅱ1废弃压占土地", "Ⅱ1废弃压占土地", "较易复垦土地"}};
    std::vector<Field> fields;
    for (const char* name :
         {"座落单位代码", "ID", "要素代码", "所在图幅号", "调查区名称", "片号", "后备资源图斑编号",
          "耕地后备资源级别", "耕地后备资源新类型", "耕地后备资源原类型", "地类编码", "地类名称",
          "权属性质", "权属单位名称", "权属单位代码", "座落单位名称", "评价等级"}) {
      fields.push_back({name, Kind::kText});
    }
    for (const char* name : {"后备资源地类面积", "中心点XE_XA80", "中心点YE_XA80"}) {
      fields.push_back({name, Kind::kReal});
    }
    LayerWriter layer(dataset_, "耕地后备资源图斑", wkbPolygon, fields, srs_);
    long id = 0;
    for (const Parcel& p : plan_.parcels) {
      const ReserveType* type = nullptr;
      for (const ReserveType& candidate : kTypes) {
        if (p.class_code == candidate.class_code) type = &candidate;
      }
      if (!type) continue;
      const auto [new_type, old_type] = ReserveTypes(p, *type);
      const std::vector<Point> ring = plan_.CellRing(p.cell);
      Values values = ParcelOwnership(p);
      values.insert({{"ID", std::to_string(++id)},
                     {"要素代码", "2001010100"},
                     {"所在图幅号", "H50G0" + Digits(p.village, 4)},
                     {"调查区名称", plan_.villages[p.village].unit.name},
                     {"片号", std::to_string(p.group + 1)},
                     {"后备资源图斑编号", std::to_string(p.number)},
                     {"耕地后备资源级别", ReserveLevel(id)},
                     {"耕地后备资源新类型", new_type},
                     {"耕地后备资源原类型", old_type},
                     {"地类编码", p.class_code},
                     {"地类名称", ClassName(p.class_code)},
                     {"评价等级", type->grade},
                     {"后备资源地类面积", Money(p.net)},
                     {"中心点XE_XA80", Fixed((ring[0].x + ring[2].x) / 2, 2)},
                     {"中心点YE_XA80", Fixed((ring[0].y + ring[2].y) / 2, 2)}});
      layer.Add(Polygon(ring), values);
    }
  }

  void WriteDisputes() {
    LayerWriter layer(
        dataset_, "土地权属争议区", wkbPolygon,
        {{"权属争议区编号", Kind::kText}, {"权属争议类型", Kind::kText}, {"争议面积", Kind::kReal}},
        srs_);
    static const char* const kKinds[] = {"集体与集体", "国家与集体", "国有与国有", "其他"};
    int number = 0;
    for (const Village& village : plan_.villages) {
      if (village.cells.size() < 2 || number >= 4) continue;
      const long cell = village.cells.back();
      layer.Add(Polygon(plan_.CellRing(cell)), {{"权属争议区编号", std::to_string(++number)},
                                                {"权属争议类型", kKinds[(number - 1) % 4]},
                                                {"争议面积", Money(ParcelAt(cell).gross)}});
    }
  }

  void WriteTownLots() {
    std::vector<std::pair<Values, std::vector<Point>>> houses;
    WriteLots(houses);
    LayerWriter house_layer(dataset_, "房屋层", wkbPolygon,
                            {{"隶属宗地", Kind::kText},
                             {"房屋编号", Kind::kText},
                             {"房屋名称", Kind::kText},
                             {"房屋结构", Kind::kText},
                             {"房屋层数", Kind::kInteger},
                             {"建筑面积", Kind::kReal},
                             {"占地面积", Kind::kReal},
                             {"面积", Kind::kReal}},
                            srs_);
    for (auto& [values, ring] : houses) house_layer.Add(Polygon(ring), values);
  }

  // Town lots over the parcels of town classes (every township is a street,
  // every village a block), each with one house.
  void WriteLots(std::vector<std::pair<Values, std::vector<Point>>>& houses) {
    LayerWriter lots(dataset_, "城镇权属层", wkbPolygon,
                     {{"地籍号", Kind::kText},
                      {"土地座落", Kind::kText},
                      {"权属性质", Kind::kText},
                      {"使用权类型", Kind::kText},
                      {"土地用途", Kind::kText},
                      {"建筑容积率", Kind::kReal},
                      {"建筑密度", Kind::kReal},
                      {"土地级别", Kind::kText},
                      {"实测面积", Kind::kReal},
                      {"占地面积", Kind::kReal},
                      {"分类面积比例", Kind::kText}},
                     srs_);
    static const char* const kUses[] = {"51", "52", "61", "63", "71", "72", "81", "83", "86"};
    static const char* const kRights[] = {"11", "12", "13", "14", "15",
                                          "21", "22", "23", "24", "25"};
    long seq = 0;
    // Lots are numbered within their block (a village: at most 400 parcels),
    // so every lot number has 19 characters.
    std::vector<long> in_block(plan_.villages.size(), 0);
    for (const Parcel& p : plan_.parcels) {
      const bool town_class = p.class_code == "201" || p.class_code == "202" ||
                              (p.class_code[0] == '0' && p.class_code[1] >= '5');
      const long wanted = plan_.options.town_lots;
      if (wanted < 0 ? !town_class : p.cell >= wanted) continue;
      ++seq;
      const std::string lot =
          plan_.villages[p.village].unit.code + "001" + Digits(++in_block[p.village], 4);
      // Uses are mostly written without their leading zero ("51"), some in
      // full ("051").
      std::string use = p.class_code[0] == '0' ? p.class_code.substr(1) : kUses[seq % 9];
      if (seq % 3 == 0) use = "0" + use;
      const std::vector<Point> ring = plan_.CellRing(p.cell);
      const std::vector<Point> house = Shrunk(ring, 0.5);
      const double footprint = RingArea(house);
      const int floors = 1 + static_cast<int>(seq % 12);
      lots.Add(Polygon(ring),
               {{"地籍号", LotNumberAsTyped(lot, seq)},
                {"土地座落", plan_.villages[p.village].unit.name + std::to_string(seq) + "号"},
                {"权属性质", "20"},
                {"使用权类型", seq % 12 == 11 ? "" : kRights[seq % 10]},
                {"土地用途", use},
                {"建筑容积率", Fixed(footprint * floors / RingArea(ring), 2)},
                {"建筑密度", Fixed(footprint / RingArea(ring), 2)},
                {"土地级别", std::to_string(1 + seq % 4) + "级"},
                {"实测面积", Money(p.gross)},
                {"占地面积", Fixed(footprint, 2)}});
      houses.push_back({{{"隶属宗地", lot},
                         {"房屋编号", "0001"},
                         {"房屋名称", "房屋" + std::to_string(seq)},
                         {"房屋结构", std::to_string(1 + seq % 6)},
                         {"房屋层数", std::to_string(floors)},
                         {"占地面积", Fixed(footprint, 2)},
                         {"建筑面积", Fixed(footprint * floors, 2)},
                         {"面积", Fixed(footprint, 2)}},
                        house});
    }
  }

  // The rural ownership lots (宗地): in each village, the land of one owner
  // of one ownership nature is one lot, so that the lots cover the county
  // and every parcel lies in exactly one of them. Lots are numbered within
  // their village: its 12-character code, JA for collective land or GB for
  // state land, five digits.
  void WriteRuralLots() {
    LayerWriter layer(dataset_, "宗地", wkbMultiPolygon,
                      {{"地籍号", Kind::kText},
                       {"权属性质", Kind::kText},
                       {"权属单位代码", Kind::kText},
                       {"权属单位名称", Kind::kText},
                       {"宗地面积", Kind::kReal}},
                      srs_);
    for (const Village& village : plan_.villages) {
      std::map<std::pair<std::string, std::string>, std::vector<long>> lots;
      for (long cell : village.cells) {
        const Parcel& p = ParcelAt(cell);
        lots[{plan_.OwnerCode(p), p.ownership}].push_back(cell);
      }
      long number = 0;
      for (const auto& [owner, cells] : lots) {
        Cents area = 0;
        for (long cell : cells) area += ParcelAt(cell).gross;
        const bool state = owner.second.starts_with("2");
        layer.Add(Outline(cells),
                  {{"地籍号", village.unit.code + (state ? "GB" : "JA") + Digits(++number, 5)},
                   {"权属性质", owner.second},
                   {"权属单位代码", owner.first},
                   {"权属单位名称", plan_.OwnerName(ParcelAt(cells.front()))},
                   {"宗地面积", Money(area)}});
      }
    }
  }

  const CountyPlan& plan_;
  GDALDataset& dataset_;
  OGRSpatialReference srs_;
  std::map<std::string, std::string> class_names_;
  mutable std::deque<std::string> mg_field_names_;  // the names MgFields hands out
};

void WriteCodes(const CountyPlan& plan, const std::string& path) {
  std::ofstream out(path);
  out << "# 代码类型\t代码\t代码名称\n" << resources::LandClassCodes();
  out << "省行政代码\t" << plan.province.code << "\t" << plan.province.name << "\n";
  out << "市行政代码\t" << plan.city.code << "\t" << plan.city.name << "\n";
  out << "县行政代码\t" << plan.county.code << "\t" << plan.county.name << "\n";
  for (const AdminUnit& township : plan.townships) {
    out << "乡行政代码\t" << township.code << "\t" << township.name << "\n";
  }
  for (const Village& village : plan.villages) {
    out << "村行政代码\t" << village.unit.code << "\t" << village.unit.name << "\n";
  }
  // Groups are named as the parcels name their location: village and group.
  for (int v = 0; v < static_cast<int>(plan.villages.size()); ++v) {
    for (int g = 0; g < static_cast<int>(plan.villages[v].groups.size()); ++g) {
      out << "组行政代码\t" << plan.GroupCode(v, g) << "\t" << plan.GroupName(v, g) << "\n";
    }
  }
  static const char* const kStructures[] = {"钢结构",   "钢和钢筋混凝土结构", "钢筋混凝土结构",
                                            "混合结构", "砖木结构",           "其他结构"};
  for (int i = 0; i < 6; ++i) out << "房屋结构\t" << i + 1 << "\t" << kStructures[i] << "\n";
  if (!out) throw std::runtime_error("cannot write the code file " + path);
}

// The Inner Mongolia code file: the land classes and every unit of the
// Inner Mongolia hierarchy the county's owners use, each code once.
void WriteMgCodes(const CountyPlan& plan, const std::string& path) {
  std::ofstream out(path);
  out << "# 代码类型\t代码\t代码名称\n" << resources::LandClassCodes();
  std::set<std::string> written;
  const auto unit = [&](const char* type, const std::string& code, const std::string& name) {
    if (written.insert(code).second) out << type << "\t" << code << "\t" << name << "\n";
  };
  unit("县行政代码", plan.county.code, plan.county.name);
  for (int v = 0; v < static_cast<int>(plan.villages.size()); ++v) {
    const Village& village = plan.villages[v];
    const std::string bureau = plan.MgCode(v, -1);
    unit("乡行政代码", bureau.substr(0, 8), plan.townships[village.township].name + "农牧场");
    unit("村行政代码", bureau, plan.MgName(v, -1));
    for (int g = 0; g < static_cast<int>(village.groups.size()); ++g) {
      const std::string code = plan.MgCode(v, g);
      unit("村行政代码", code.substr(0, 13), plan.GroupName(v, g) + "分场");
      unit("组行政代码", code, plan.MgName(v, g));
    }
  }
  if (!out) throw std::runtime_error("cannot write the code file " + path);
}

}  // namespace

CountyFiles WriteCounty(const CountyPlan& plan, const std::string& folder) {
  GDALAllRegister();
  fs::create_directories(folder);
  CountyFiles files{(fs::path(folder) / "survey.gpkg").string(),
                    (fs::path(folder) / "project.xml").string(),
                    (fs::path(folder) / "codes.tsv").string(), ""};
  fs::remove(files.survey);
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  std::unique_ptr<GDALDataset> dataset(
      driver ? driver->Create(files.survey.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr);
  if (!dataset) throw std::runtime_error("cannot create " + files.survey);
  CountyWriter(plan, *dataset).WriteAll();
  dataset.reset();
  WriteCodes(plan, files.codes);
  if (plan.options.mongolia) {
    files.mongolia_codes = (fs::path(folder) / "codes_mg.tsv").string();
    WriteMgCodes(plan, files.mongolia_codes);
  }
  std::map<std::string, std::string> layers;
  for (const char* name : {"行政辖区", "地类图斑", "线状地物", "零星地物", "基本农田图斑",
                           "基本农田线状地物", "基本农田零星地物", "变更汇总", "耕地后备资源图斑",
                           "土地权属争议区", "城镇权属层", "房屋层", "宗地"}) {
    layers[name] = "survey.gpkg";
  }
  gis::WriteProjectFile(files.project, plan.county.code, plan.county.name, layers, "codes.tsv");
  return files;
}

void AddCountyToCatalogue(const CountyPlan& plan, const CountyFiles& files,
                          const std::string& catalogue) {
  AddCatalogueCounty(catalogue,
                     {{plan.province.code, plan.province.name, ""},
                      {plan.city.code, plan.city.name, plan.province.code},
                      {plan.county.code, plan.county.name, plan.city.code}},
                     plan.county.code, std::filesystem::absolute(files.project).string());
}

std::string WriteHostSettings(const std::string& folder, const std::string& version) {
  if (version.find_first_of("<>&\"") != std::string::npos) {
    throw std::runtime_error("the version string may not hold < > & or \": " + version);
  }
  fs::create_directories(folder);
  const std::string path = (fs::path(folder) / "HostSetting.xml").string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << "<HostSetting><Set version=\"" << version << "\"/></HostSetting>\n";
  if (!file) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace landstat::county
