#include "lots/town_fixture.h"

#include <stdexcept>

namespace landstat::testing {

std::vector<gis::CODESTRUCT> TownCodeEntries() {
  return {{"省行政代码", kProvince, "浙江省"},   {"市行政代码", kCity, "杭州市"},
          {"县行政代码", kCountyCode, "上城区"}, {"乡行政代码", kTownship, "清波街道"},
          {"村行政代码", kVillage, "清波街坊"},  {"地类代码", "05", "商服用地"},
          {"地类代码", "051", "批发零售用地"},   {"地类代码", "052", "住宿餐饮用地"},
          {"地类代码", "07", "住宅用地"},        {"地类代码", "071", "城镇住宅用地"},
          {"地类代码", "072", "农村宅基地"},     {"地类代码", "20", "城镇村及工矿用地"},
          {"地类代码", "201", "城市"},           {"房屋结构", "1", "钢结构"},
          {"房屋结构", "2", "混合结构"}};
}

const std::vector<FixtureField> kLotFields = {
    {"地籍号"},     {"土地座落"}, {"权属性质"}, {"使用权类型"}, {"土地用途"},
    {"建筑容积率"}, {"建筑密度"}, {"土地级别"}, {"实测面积"},   {"占地面积"}};

const std::vector<FixtureField> kHouseFields = {{"隶属宗地"}, {"房屋编号"}, {"房屋名称"},
                                                {"房屋结构"}, {"房屋层数"}, {"建筑面积"},
                                                {"占地面积"}};

namespace {

std::vector<FixtureFeature> Squares(const std::vector<FieldValues>& rows) {
  std::vector<FixtureFeature> features;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string x0 = std::to_string(i * 10), x1 = std::to_string(i * 10 + 5);
    features.push_back(
        {"POLYGON((" + x0 + " 0," + x1 + " 0," + x1 + " 5," + x0 + " 5," + x0 + " 0))", rows[i]});
  }
  return features;
}

}  // namespace

void WriteTownLayers(const std::string& path, const std::vector<FieldValues>& lots,
                     const std::vector<FieldValues>* houses, const std::string& lot_layer) {
  WriteFixtureLayer(path, lot_layer, wkbPolygon, kLotFields, Squares(lots));
  if (houses) WriteFixtureLayer(path, "房屋层", wkbPolygon, kHouseFields, Squares(*houses));
}

std::unique_ptr<CZdStatContext> TownContext(gis::RuralCode* codes, const std::string& connection,
                                            short mode, short lot_layer, short house_layer) {
  auto context = std::make_unique<CZdStatContext>(lot_layer, house_layer, codes, connection, mode,
                                                  "2009", kCountyCode, "");
  if (!context->m_pConn.IsOpen()) throw std::runtime_error("no connection to " + connection);
  return context;
}

}  // namespace landstat::testing
