#include "platform/gis/attribute_expression.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/gis_fixtures.h"
#include "support/test_databases.h"

namespace landstat::gis {
namespace {
using ::landstat::testing::FixtureField;
using ::landstat::testing::GisErrorOf;
using ::landstat::testing::Names;
using ::landstat::testing::ScopedLayer;
using ::landstat::testing::TempDir;
using ::landstat::testing::WriteFixtureLayer;

TEST(AttributeExpressionTest, EvaluatesEachQuotedForm) {
  const std::map<std::string, std::string> record = {
      {"图斑编号1", ""},           {"图斑编号2", "12"},
      {"图斑地类面积", "0.00001"}, {"权属名称", "O'Neil \"东\""},
      {"地类编码", "011"},         {"宽度", "abc"}};
  const auto field = [&](std::string_view name) { return record.at(std::string(name)); };
  const struct {
    std::string expression;
    bool matches;
  } cases[] = {
      {"图斑编号1==''", true},
      {"图斑编号2==''", false},
      {"图斑编号1==''&&图斑编号2==''", false},
      {"图斑编号1==''||图斑编号2==''", true},
      {" 图斑编号1 == \"\" && 图斑编号2 != '' ", true},
      {"图斑地类面积<=0.00001", true},
      {"图斑地类面积<0.00001", false},
      {"图斑地类面积>=1e-5&&图斑地类面积<>0", true},
      {"图斑编号1<=0", true},      // an empty text reads as 0
      {"宽度<=0||宽度>0", false},  // a text that is no number never compares
      {"地类编码='011'", true},
      {"地类编码==11", true},  // against a number, the value counts
      {"地类编码=='11'", false},
      {"权属名称=='O''Neil \"东\"'", true},
      {"权属名称==\"O'Neil \"\"东\"\"\"", true},
      {"(地类编码=='012'||地类编码=='011')&&图斑编号2=='12'", true},
      {"地类编码=='012'||地类编码=='011'&&图斑编号2=='13'", false},
      {"", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AttributeExpression::Parse(c.expression).Matches(field), c.matches) << c.expression;
  }
}

TEST(AttributeExpressionTest, RefusesWhatItCannotReadNamingThePlace) {
  const struct {
    std::string expression, names;
  } cases[] = {
      {"图斑编号==", "a field name or a number is missing"},
      {"图斑编号=='abc", "not closed"},
      {"图斑编号 abc", "a comparison operator is missing"},
      {"图斑编号==abc", "\"abc\" is neither a quoted text nor a number"},
      {"(图斑编号==''", "a \")\" is missing"},
      {"图斑编号==''&&", "a field name or a number is missing"},
      {"图斑编号=='')", "unexpected text"},
      {std::string(100, '(') + "a==1" + std::string(100, ')'), "nested too deep"},
  };
  for (const auto& c : cases) {
    const std::string message = GisErrorOf([&] { AttributeExpression::Parse(c.expression); });
    EXPECT_TRUE(Names(message, c.names)) << c.expression;
  }
}

class LayerEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFixtureLayer(path_, "线状地物", wkbLineString,
                      {{"图斑编号1", OFTString, 30},
                       {"图斑编号2", OFTString, 30},
                       {"扣除图斑编号1", OFTString, 30},
                       {"宽度", OFTReal}},
                      {{"LINESTRING (0 0,1 0)", {{"图斑编号1", "7"}, {"宽度", "2"}}},
                       {"LINESTRING (0 1,1 1)", {{"宽度", "0"}}},
                       {"LINESTRING (0 2,1 2)", {{"图斑编号2", "8"}}}});
  }
  TempDir dir_;
  const std::string path_ = dir_.File("range.gpkg");
};

TEST_F(LayerEditTest, SelectsUpdatesCopiesAndDeletesByExpression) {
  ScopedLayer lines(OpenLayer(path_, "线状地物", true));
  EXPECT_EQ(SelectByExpression(lines, EntityKind::kLine, "宽度<=0.00001"),
            (std::vector<long>{2, 3}));
  EXPECT_EQ(UpdateByExpression(lines, EntityKind::kLine, "图斑编号2=='8'", "宽度", "1.5"), 1);
  // Only the records whose value changes are written.
  EXPECT_EQ(UpdateByExpression(lines, EntityKind::kLine, "", "宽度", "1.5"), 2);
  EXPECT_EQ(CopyField(lines, EntityKind::kLine, "图斑编号1", "扣除图斑编号1"), 1);
  EXPECT_EQ(FieldText(lines, 1, "扣除图斑编号1"), "7");
  EXPECT_EQ(FieldText(lines, 3, "宽度"), "1.5");
  EXPECT_EQ(DeleteByExpression(lines, EntityKind::kLine, "图斑编号1==''&&图斑编号2==''"), 1);
  EXPECT_EQ(SelectByExpression(lines, EntityKind::kLine, ""), (std::vector<long>{1, 3}));
  EXPECT_TRUE(Names(GisErrorOf([&] { SelectByExpression(lines, EntityKind::kLine, "长度>0"); }),
                    "has no field \"长度\""));
  EXPECT_TRUE(Names(GisErrorOf([&] { CopyField(lines, EntityKind::kLine, "宽度", "无此字段"); }),
                    "无此字段"));
}

TEST_F(LayerEditTest, DeclaredDecimalsFallBackWhereNoneAreDeclared) {
  WriteFixtureLayer(dir_.File("parcels.shp"), "parcels", wkbPolygon,
                    {{"TBDLMJ", OFTReal, 16, 3}, {"KCXS", OFTReal, 6, 0}, {"BH", OFTString, 8}},
                    {});
  ScopedLayer shapes(OpenLayer(dir_.File("parcels.shp"), "parcels", true));
  EXPECT_EQ(DeclaredDecimals(shapes, "tbdlmj"), 3);  // names compared without case
  EXPECT_EQ(DeclaredDecimals(shapes, "KCXS"), 0);
  EXPECT_EQ(DeclaredDecimals(shapes, "BH"), std::nullopt);
  EXPECT_EQ(DeclaredDecimals(shapes, "无此字段"), std::nullopt);
  ScopedLayer lines(OpenLayer(path_, "线状地物", true));
  EXPECT_EQ(DeclaredDecimals(lines, "宽度"), std::nullopt);  // a GeoPackage REAL
  SetFieldDecimals(lines, "宽度", 1);
  EXPECT_EQ(DeclaredDecimals(lines, "宽度"), 1);
  EXPECT_TRUE(Names(GisErrorOf([&] { SetFieldDecimals(lines, "无此字段", 2); }), "无此字段"));
}

TEST_F(LayerEditTest, WorkLayersOfLinesAndPointsJoinTheSource) {
  ScopedLayer lines(OpenLayer(path_, "线状地物"));
  {
    ScopedLayer points(CreateWorkLayer(lines, "零星地物", EntityKind::kPoint,
                                       {{"零星地物面积", FieldType::kDouble, 0, 0}}));
    EXPECT_EQ(LayerKind(points), EntityKind::kPoint);
    EXPECT_EQ(RecordCount(points, EntityKind::kPoint), 1);
  }
  ScopedLayer reopened(OpenLayerOfKind(path_, "零星地物", EntityKind::kPoint));
  EXPECT_TRUE(HasField(reopened, "零星地物面积"));
  EXPECT_TRUE(Names(GisErrorOf([&] { CreateWorkLayer(lines, "零星地物", EntityKind::kPoint, {}); }),
                    "has a layer of that name"));
  EXPECT_TRUE(Names(GisErrorOf([&] { CreateWorkLayer(lines, "面", EntityKind::kRegion, {}); }),
                    "not regions"));
}

}  // namespace
}  // namespace landstat::gis
