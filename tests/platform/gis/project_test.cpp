#include "platform/gis/project.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/gis_fixtures.h"
#include "support/test_databases.h"

namespace landstat::gis {
namespace {
namespace fs = std::filesystem;
using ::landstat::testing::GisErrorOf;
using ::landstat::testing::Names;
using ::landstat::testing::ScopedLayer;
using ::landstat::testing::TempDir;
using ::landstat::testing::WriteFixtureLayer;

// A survey in a folder of its own, with a project file listing its layers
// by paths relative to that folder.
class GisProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "county" / "data");
    WriteFixtureLayer(survey_, "地类图斑", wkbPolygon, {{"地类编码", OFTString}},
                      {{"POLYGON ((0 0,1 0,1 1,0 0))", {{"地类编码", "011"}}}});
    WriteFixtureLayer(survey_, "线状地物", wkbLineString, {{"地类编码", OFTString}},
                      {{"LINESTRING (0 0,1 1)", {{"地类编码", "104"}}}});
    WriteProjectFile(project_, "330102", "示例县",
                     {{"地类图斑", "data/survey.gpkg"}, {"线状地物", "data/survey.gpkg"}});
  }

  void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  TempDir dir_;
  const std::string survey_ = (dir_.path() / "county" / "data" / "survey.gpkg").string();
  const std::string project_ = (dir_.path() / "county" / "project.xml").string();
};

TEST_F(GisProjectTest, OpensListedLayersRelativeToTheProjectFolder) {
  ASSERT_NE(fs::current_path(), dir_.path() / "county");
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
  EXPECT_EQ(project->GetFilePath(), project_);
  EXPECT_EQ(fs::path(project->GetFolder()), dir_.path() / "county");
  EXPECT_TRUE(project->HasLayer("地类图斑"));
  EXPECT_FALSE(project->HasLayer("零星地物"));

  const LayerHandle parcels = project->prjItemGetAi("地类图斑");
  ASSERT_GT(parcels, 0);
  EXPECT_TRUE(IsLayerValid(parcels));
  EXPECT_EQ(LayerName(parcels), "地类图斑");
  EXPECT_EQ(LayerKind(parcels), EntityKind::kRegion);
  EXPECT_EQ(FieldText(parcels, 1, "地类编码"), "011");
  EXPECT_EQ(project->prjItemGetAi("地类图斑"), parcels);

  const LayerHandle lines = project->prjItemGetAi("线状地物");
  ASSERT_GT(lines, 0);
  EXPECT_NE(lines, parcels);
  EXPECT_EQ(LayerKind(lines), EntityKind::kLine);
  EXPECT_EQ(project->prjItemGetAi("零星地物"), 0);

  project->CloseLayers();
  EXPECT_FALSE(IsLayerValid(parcels));
  EXPECT_FALSE(IsLayerValid(lines));
  const LayerHandle reopened = project->prjItemGetAi("地类图斑");
  ASSERT_GT(reopened, 0);
  EXPECT_EQ(FieldText(reopened, 1, "地类编码"), "011");
  project.reset();
  EXPECT_FALSE(IsLayerValid(reopened));
}

TEST_F(GisProjectTest, ReadsAbsoluteSourcesAndTablesOfOtherNames) {
  const std::string houses = dir_.File("houses.gpkg");
  WriteFixtureLayer(houses, "FWC", wkbPolygon, {{"房屋结构", OFTString}},
                    {{"POLYGON ((0 0,1 0,1 1,0 0))", {{"房屋结构", "3"}}}});
  WriteText(project_,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<GisProject sCode=\"330102\" name=\"示例县\">\n"
            "  <Layer name=\"房屋层\" source=\"" +
                houses +
                "\" table=\"FWC\"/>\n"
                "  <Layer name=\"地类图斑\" source=\"data/survey.gpkg\"/>\n"
                "</GisProject>\n");
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
  const LayerHandle layer = project->prjItemGetAi("房屋层");
  ASSERT_GT(layer, 0);
  EXPECT_EQ(FieldText(layer, 1, "房屋结构"), "3");
  EXPECT_GT(project->prjItemGetAi("地类图斑"), 0);
}

TEST_F(GisProjectTest, CountyCodeIsSavedBack) {
  {
    std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
    EXPECT_EQ(project->GetCountyCode(), "330102");
    project->SetCountyCode("330103");
    EXPECT_EQ(project->GetCountyCode(), "330103");
    project->Save();
  }
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
  EXPECT_EQ(project->GetCountyCode(), "330103");
  EXPECT_TRUE(project->HasLayer("地类图斑"));
  EXPECT_GT(project->prjItemGetAi("线状地物"), 0);

  // A project that has no code yet gets one.
  const std::string bare = dir_.File("bare.xml");
  WriteText(bare, "<GisProject name=\"示例县\"/>");
  std::unique_ptr<CGisXmlPrj> without = CGisXmlPrj::Open(bare);
  EXPECT_EQ(without->GetCountyCode(), "");
  without->SetCountyCode("330104");
  without->Save();
  EXPECT_EQ(CGisXmlPrj::Open(bare)->GetCountyCode(), "330104");
}

TEST_F(GisProjectTest, NamesItsCodeFileRelativeToItsFolder) {
  EXPECT_EQ(CGisXmlPrj::Open(project_)->GetCodeFile(), "");
  WriteProjectFile(project_, "330102", "示例县", {{"地类图斑", "data/survey.gpkg"}},
                   "data/codes.tsv");
  {
    std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
    EXPECT_EQ(fs::path(project->GetCodeFile()), dir_.path() / "county" / "data" / "codes.tsv");
    project->SetCountyCode("330103");
    project->Save();
  }
  EXPECT_EQ(fs::path(CGisXmlPrj::Open(project_)->GetCodeFile()),
            dir_.path() / "county" / "data" / "codes.tsv");
  const std::string absolute = dir_.File("codes.tsv");
  WriteProjectFile(project_, "330102", "示例县", {}, absolute);
  EXPECT_EQ(CGisXmlPrj::Open(project_)->GetCodeFile(), absolute);
}

TEST_F(GisProjectTest, BadProjectFilesAreNamed) {
  const std::string missing = dir_.File("missing.xml");
  EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(missing); }), missing + " is missing"));
  const std::string folder = dir_.path().string();
  EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(folder); }), folder + " is a folder"));

  const std::string broken = dir_.File("broken.xml");
  WriteText(broken, "<GisProject sCode=\"330102\"><Layer name=\"地类图斑\" source=\"a.gpkg\">");
  EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(broken); }), broken));

  const std::string other = dir_.File("other.xml");
  WriteText(other, "<Project sCode=\"330102\"/>");
  EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(other); }), other));

  const std::string sourceless = dir_.File("sourceless.xml");
  WriteText(sourceless, "<GisProject sCode=\"330102\"><Layer name=\"地类图斑\"/></GisProject>");
  EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(sourceless); }), sourceless));

  // A county code that is not six digits, read or set.
  for (const char* code : {"33'0102", "32012", "3301021"}) {
    const std::string coded = dir_.File("coded.xml");
    WriteText(coded, std::string("<GisProject sCode=\"") + code + "\"/>");
    const std::string message = GisErrorOf([&] { CGisXmlPrj::Open(coded); });
    EXPECT_TRUE(Names(message, coded));
    EXPECT_TRUE(Names(message, code));
    EXPECT_TRUE(Names(GisErrorOf([&] { CGisXmlPrj::Open(project_)->SetCountyCode(code); }), code));
  }
}

TEST_F(GisProjectTest, ListedLayerThatCannotBeOpenedIsNamed) {
  WriteProjectFile(project_, "330102", "示例县",
                   {{"地类图斑", "data/survey.gpkg"},
                    {"零星地物", "data/missing.gpkg"},
                    {"基本农田图斑", "data/survey.gpkg"}});
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
  std::string message = GisErrorOf([&] { project->prjItemGetAi("零星地物"); });
  EXPECT_TRUE(Names(message, "零星地物"));
  EXPECT_TRUE(Names(message, "missing.gpkg"));
  message = GisErrorOf([&] { project->prjItemGetAi("基本农田图斑"); });
  EXPECT_TRUE(Names(message, "基本农田图斑"));
  EXPECT_GT(project->prjItemGetAi("地类图斑"), 0);
}

// The engine closes layers of its own; a project handle closed that way and
// given to another layer is not the project's layer any more.
TEST_F(GisProjectTest, LayerClosedElsewhereIsOpenedAgain) {
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_);
  const LayerHandle parcels = project->prjItemGetAi("地类图斑");
  ASSERT_GT(parcels, 0);
  CloseLayer(parcels);
  // Other owners open layers; one of them may be given the freed handle.
  std::vector<std::unique_ptr<ScopedLayer>> others;
  for (int i = 0; i < 20; ++i) {
    others.push_back(std::make_unique<ScopedLayer>(OpenLayer(survey_, "线状地物")));
  }
  const LayerHandle again = project->prjItemGetAi("地类图斑");
  ASSERT_GT(again, 0);
  EXPECT_EQ(LayerName(again), "地类图斑");
  EXPECT_EQ(LayerKind(again), EntityKind::kRegion);
  project.reset();
  EXPECT_FALSE(IsLayerValid(again));
  for (const auto& other : others) {
    ASSERT_TRUE(IsLayerValid(*other)) << "closing the project closed another owner's layer";
    EXPECT_EQ(LayerName(*other), "线状地物");
  }
}

}  // namespace
}  // namespace landstat::gis
