#include "mongolia/mg_fixture.h"

#include <stdexcept>

#include "support/program_dir.h"

namespace landstat::testing {

std::vector<gis::CODESTRUCT> MgCodeEntries() {
  return {{"地类代码", "01", "耕地"},
          {"地类代码", "011", "水田"},
          {"地类代码", "0101", "水浇地"},
          {"地类代码", "10", "交通运输用地"},
          {"地类代码", "104", "农村道路"},
          {"地类代码", "12", "其他土地"},
          {"地类代码", "123", "田坎"},
          {"地类代码", "05", "商服用地"},
          {"地类代码", "051", "批发零售用地"},
          {"县行政代码", kMgCounty, "新城区"},
          {"乡行政代码", kMgCategory, "国营农场"},
          {"村行政代码", kMgBureau, "农垦局"},
          {"村行政代码", kMgSecond, "一分场"},
          {"组行政代码", kMgOwner, "一队"}};
}

void WriteMgCodeFile(const std::string& path) {
  std::string text;
  for (const gis::CODESTRUCT& entry : MgCodeEntries()) {
    text += entry.type + "\t" + entry.code + "\t" + entry.name + "\n";
  }
  WriteFileBytes(path, text);
}

const std::vector<FixtureField> kMgParcelFields = {
    {"图斑编号"},           {"地类编码"},
    {"扣除地类编码"},       {"扣除地类面积", OFTReal},
    {"图斑地类面积"},       {"耕地坡度级"},
    {"耕地类型"},           {"权属性质"},
    {"内蒙古权属单位代码"}, {"内蒙古权属单位名称"},
    {"座落单位代码"},       {"座落单位名称"},
    {"地类备注"},           {"城镇用地"}};

const std::vector<FixtureField> kMgLineFields = {{"扣除比例"},
                                                 {"线状地物面积", OFTReal},
                                                 {"地类编码"},
                                                 {"权属性质"},
                                                 {"城镇用地"},
                                                 {"扣除图斑编号1"},
                                                 {"扣除图斑编号2"},
                                                 {"扣除图斑座落代码1"},
                                                 {"扣除图斑座落代码2"},
                                                 {"内蒙古权属单位代码1"},
                                                 {"内蒙古权属单位代码2"},
                                                 {"内蒙古权属单位名称1"},
                                                 {"内蒙古权属单位名称2"}};

const std::vector<FixtureField> kMgPointFields = {{"地类编码"},
                                                  {"座落图斑编号"},
                                                  {"座落单位代码"},
                                                  {"座落单位名称"},
                                                  {"零星地物面积", OFTReal},
                                                  {"权属性质"},
                                                  {"耕地坡度级"},
                                                  {"耕地类型"},
                                                  {"城镇用地"},
                                                  {"内蒙古权属单位代码"},
                                                  {"内蒙古权属单位名称"}};

SurveyFeatures MgSurvey(std::vector<FieldValues> parcels, std::vector<FieldValues> lines,
                        std::vector<FieldValues> points) {
  SurveyFeatures survey;
  survey.parcels = std::move(parcels);
  survey.lines = std::move(lines);
  survey.points = std::move(points);
  survey.parcel_fields = kMgParcelFields;
  survey.line_fields = kMgLineFields;
  survey.point_fields = kMgPointFields;
  return survey;
}

FieldValues MgParcel(const std::string& number, const std::string& class_code,
                     const std::string& area, const FieldValues& changes) {
  return With({{"图斑编号", number},
               {"地类编码", class_code},
               {"图斑地类面积", area},
               {"权属性质", "10"},
               {"内蒙古权属单位代码", kMgOwner},
               {"内蒙古权属单位名称", "一队"},
               {"座落单位代码", kMgOwner},
               {"座落单位名称", "一队"}},
              changes);
}

FieldValues MgPoint(const std::string& parcel, const std::string& class_code,
                    const std::string& area, const FieldValues& changes) {
  return With({{"地类编码", class_code},
               {"座落图斑编号", parcel},
               {"零星地物面积", area},
               {"座落单位代码", kMgOwner},
               {"座落单位名称", "一队"},
               {"内蒙古权属单位代码", kMgOwner},
               {"内蒙古权属单位名称", "一队"}},
              changes);
}

FieldValues MgLine(const std::string& ratio, const std::string& area, const FieldValues& changes) {
  return With({{"扣除比例", ratio},
               {"线状地物面积", area},
               {"地类编码", "104"},
               {"权属性质", "10"},
               {"扣除图斑编号1", "1"},
               {"扣除图斑座落代码1", kMgOwner},
               {"内蒙古权属单位代码1", kMgOwner},
               {"内蒙古权属单位名称1", "一队"},
               {"扣除图斑编号2", "2"},
               {"扣除图斑座落代码2", kMgOwner},
               {"内蒙古权属单位代码2", kMgOwner},
               {"内蒙古权属单位名称2", "一队"}},
              changes);
}

std::unique_ptr<CMgStatContext> MgContext(gis::RuralCode* codes, const std::string& connection,
                                          short parcel, short line, short point) {
  auto context =
      std::make_unique<CMgStatContext>(0, parcel, line, point, codes, "2009", kMgCounty, "", 1);
  if (context->InitUnits(connection, 0) != 1 || context->LoadCodes() != 1) {
    throw std::runtime_error("the Inner Mongolia test context cannot load its units and codes");
  }
  return context;
}

}  // namespace landstat::testing
