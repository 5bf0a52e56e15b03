#include "engine/survey_fixture.h"

#include <filesystem>
#include <stdexcept>

#include "engine/table_family.h"
#include "platform/db/recordset.h"
#include "platform/host/paths.h"
#include "support/program_dir.h"

namespace landstat::testing {

const std::vector<FixtureField> kParcelFields = {
    {"图斑编号", OFTString},     {"地类编码", OFTString},     {"扣除地类编码", OFTString},
    {"扣除地类面积", OFTReal},   {"图斑地类面积", OFTString}, {"耕地坡度级", OFTString},
    {"耕地类型", OFTString},     {"权属性质", OFTString},     {"权属单位代码", OFTString},
    {"权属单位名称", OFTString}, {"座落单位代码", OFTString}, {"座落单位名称", OFTString},
    {"地类备注", OFTString},     {"批准文号", OFTString}};

const std::vector<FixtureField> kLineFields = {{"扣除比例", OFTReal},
                                               {"线状地物面积", OFTString},
                                               {"地类编码", OFTString},
                                               {"权属性质", OFTString},
                                               {"扣除图斑编号1", OFTString},
                                               {"扣除图斑编号2", OFTString},
                                               {"扣除图斑座落代码1", OFTString},
                                               {"扣除图斑座落代码2", OFTString},
                                               {"权属单位代码1", OFTString},
                                               {"权属单位代码2", OFTString},
                                               {"权属单位名称1", OFTString},
                                               {"权属单位名称2", OFTString}};

const std::vector<FixtureField> kPointFields = {
    {"地类编码", OFTString},    {"座落图斑编号", OFTString}, {"座落单位代码", OFTString},
    {"零星地物面积", OFTReal},  {"权属性质", OFTString},     {"权属单位代码", OFTString},
    {"权属单位名称", OFTString}};

const std::vector<FixtureField> kJbntParcelFields = {
    {"基本农田图斑编号", OFTString}, {"图斑编号", OFTString},     {"地类编码", OFTString},
    {"基本农田地类面积", OFTReal},   {"耕地类型", OFTString},     {"耕地坡度级", OFTString},
    {"地类备注", OFTString},         {"权属性质", OFTString},     {"权属单位代码", OFTString},
    {"权属单位名称", OFTString},     {"座落单位代码", OFTString}, {"座落单位名称", OFTString},
    {"是否补划", OFTString},         {"调入备注", OFTString}};

FieldValues With(FieldValues values, const FieldValues& changes) {
  for (const auto& [field, value] : changes) {
    std::erase_if(values, [&](const auto& entry) { return entry.first == field; });
    values.emplace_back(field, value);
  }
  return values;
}

std::vector<gis::CODESTRUCT> SmallCodeEntries() {
  return {{"地类代码", "01", "耕地"},        {"地类代码", "011", "水田"},
          {"地类代码", "013", "旱地"},       {"地类代码", "10", "交通运输用地"},
          {"地类代码", "104", "农村道路"},   {"地类代码", "11", "水域及水利设施用地"},
          {"地类代码", "114", "坑塘水面"},   {"地类代码", "12", "其他土地"},
          {"地类代码", "123", "田坎"},       {"地类代码", "20", "城镇村及工矿用地"},
          {"地类代码", "203", "村庄"},       {"省行政代码", kProvince, "浙江省"},
          {"市行政代码", kCity, "杭州市"},   {"县行政代码", kCountyCode, "上城区"},
          {"乡行政代码", kTownship, "一乡"}, {"村行政代码", kVillage, "一村"},
          {"组行政代码", kGroup, "一组"}};
}

SurveyFeatures SmallCounty() {
  SurveyFeatures county;
  county.lines = {{{"扣除比例", "0.5"},
                   {"线状地物面积", "0.03"},
                   {"地类编码", "104"},
                   {"权属性质", "30"},
                   {"扣除图斑编号1", "1"},
                   {"扣除图斑座落代码1", kGroup},
                   {"权属单位代码1", kGroup},
                   {"权属单位名称1", "一组"},
                   {"扣除图斑编号2", "2"},
                   {"扣除图斑座落代码2", kVillage},
                   {"权属单位代码2", kVillage},
                   {"权属单位名称2", "一村"}}};
  county.points = {{{"地类编码", "114"},
                    {"座落图斑编号", "1"},
                    {"座落单位代码", kGroup},
                    {"零星地物面积", "12.5"},
                    {"权属性质", "30"},
                    {"权属单位代码", kGroup},
                    {"权属单位名称", "一组"}}};
  const FieldValues owner = {{"权属性质", "30"},
                             {"权属单位代码", kGroup},
                             {"权属单位名称", "一组"},
                             {"座落单位代码", kGroup},
                             {"座落单位名称", "一组"}};
  FieldValues paddy = {{"图斑编号", "1"},         {"地类编码", "011"},
                       {"扣除地类编码", "123"},   {"扣除地类面积", "10.25"},
                       {"图斑地类面积", "89.75"}, {"耕地坡度级", "2"}};
  FieldValues village = {{"图斑编号", "2"}, {"地类编码", "203"}, {"图斑地类面积", "7"}};
  paddy.insert(paddy.end(), owner.begin(), owner.end());
  village.insert(village.end(), owner.begin(), owner.end());
  county.parcels = {paddy, village};
  return county;
}

namespace {

std::string Square(std::size_t i) {
  const std::string x0 = std::to_string(i * 10), x1 = std::to_string(i * 10 + 10);
  return "POLYGON ((" + x0 + " 0," + x1 + " 0," + x1 + " 10," + x0 + " 10," + x0 + " 0))";
}

std::string Segment(std::size_t i) {
  const std::string x = std::to_string(i * 10 + 10);
  return "LINESTRING (" + x + " 0," + x + " 10)";
}

std::string Dot(std::size_t i) {
  return "POINT (" + std::to_string(i * 10 + 5) + " 5)";
}

}  // namespace

void WriteSurvey(const std::string& path, const SurveyFeatures& survey) {
  std::filesystem::remove(path);
  const auto features = [](const std::vector<FieldValues>& rows,
                           std::string (*shape)(std::size_t)) {
    std::vector<FixtureFeature> out;
    for (std::size_t i = 0; i < rows.size(); ++i) out.push_back({shape(i), rows[i]});
    return out;
  };
  WriteFixtureLayer(path, "地类图斑", wkbPolygon, survey.parcel_fields,
                    features(survey.parcels, Square));
  WriteFixtureLayer(path, "线状地物", wkbLineString, survey.line_fields,
                    features(survey.lines, Segment));
  WriteFixtureLayer(path, "零星地物", wkbPoint, survey.point_fields, features(survey.points, Dot));
}

void WriteJbntParcels(const std::string& path, const std::vector<FieldValues>& parcels,
                      const std::vector<FixtureField>& fields) {
  std::vector<FixtureFeature> features;
  for (std::size_t i = 0; i < parcels.size(); ++i) features.push_back({Square(i), parcels[i]});
  WriteFixtureLayer(path, "基本农田图斑", wkbPolygon, fields, features);
}

OpenSurvey::OpenSurvey(const std::string& path)
    : parcel(gis::OpenLayer(path, "地类图斑")),
      line(gis::OpenLayer(path, "线状地物")),
      point(gis::OpenLayer(path, "零星地物")) {}

void WriteStatConfig(const std::string& text) {
  WriteFileBytes(host::StatConfigPath(), text);
}

void InstallStatementScripts(const std::string& config) {
  namespace fs = std::filesystem;
  const fs::path root = config.empty() ? fs::path(host::ConfigDir()) : fs::path(config);
  for (const char* folder : {"Access", "SQL"}) {
    fs::create_directories(root / folder);
    fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config" / folder, root / folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
}

std::set<std::string> RunFamilies(const std::string& version) {
  std::set<std::string> bases;
  for (const TableFamily* family : FamiliesInStageOrder()) {
    if (family->builds(RunVariant{version})) bases.insert(family->base);
  }
  return bases;
}

std::vector<std::string> Rows(db::Connection& conn, const std::string& sql) {
  std::vector<std::string> rows;
  for (db::Recordset rs(conn, sql); !rs.IsEOF(); rs.MoveNext()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i) row += (i ? "|" : "") + rs.Field(i).AsText();
    rows.push_back(row);
  }
  return rows;
}

std::unique_ptr<CStatContext> LoadedContext(gis::RuralCode* codes, const std::string& connection,
                                            short mode, const std::string& version,
                                            short farmland) {
  auto context = std::make_unique<CStatContext>(0, 0, 0, 0, farmland, 0, 0, 0, 0, 0, codes, "2009",
                                                kCountyCode, "", 1, version);
  if (context->InitUnits(connection, mode) != 1 || context->LoadCodes() != 1) {
    throw std::runtime_error("the test context cannot load its units and codes");
  }
  return context;
}

}  // namespace landstat::testing
