// The farmland stage of a run: which runs build it, where it stands, and
// the base data that need the farmland parcel layer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;

const TableFamily& FarmlandStage() {
  const auto families = FamiliesInStageOrder();
  const auto found = std::find_if(families.begin(), families.end(), [](const TableFamily* f) {
    return std::strcmp(f->base, "statdata_jbnt") == 0;
  });
  EXPECT_NE(found, families.end());
  return **found;
}

// Rural runs only, after every land-use family a rural run builds (the
// farmland summaries, JBNT... and BHK..., and the reserve block follow it),
// and a step that no custom list leaves out.
TEST(FarmlandStage, FollowsTheLandUseTablesOfRuralRuns) {
  const TableFamily& stage = FarmlandStage();
  EXPECT_TRUE(stage.step);
  EXPECT_TRUE(stage.builds(RunVariant{"通用农村"}));
  EXPECT_FALSE(stage.builds(RunVariant{"城镇"}));
  EXPECT_FALSE(stage.builds(RunVariant{"通用农村", true}));
  for (const TableFamily* family : FamiliesInStageOrder()) {
    const std::string base = family->base;
    const bool farmland = base.rfind("JBNT", 0) == 0 || base.rfind("BHK", 0) == 0;
    if (base == "ZB_GDHB") {
      EXPECT_GT(family->stage, stage.stage);
      continue;
    }
    if (family != &stage && !farmland && family->builds(RunVariant{"通用农村duda"})) {
      EXPECT_LT(family->stage, stage.stage) << family->base;
    }
  }
}

class FarmlandStageTest : public BothEngines {
 protected:
  void SetUpDatabase() override { testing::WriteStatConfig(testing::kThreeUnits); }

  // The stage's base data on a context whose farmland parcel layer is
  // `farmland` (0: none), which gives `expected`.
  std::unique_ptr<CStatContext> BaseData(short farmland, short expected) {
    auto context =
        testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode(), "", farmland);
    EXPECT_EQ(context->CreateJbntStatTable(), 1);
    EXPECT_EQ(context->StatJbntBaseData(), expected);
    EXPECT_EQ(context->m_nJbntBaseData, expected);
    return context;
  }

  std::string Copy(const std::string& unit) const {
    return unit + (IsServer() ? "2009330102" : "") + "statdata_jbnt";
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::SmallCodeEntries())};
};

// Without a farmland parcel layer nothing is made and nothing is counted as
// failed; with one, the copies are made and the farmland layers become the
// source layers of the rest of the run.
TEST_P(FarmlandStageTest, BaseDataNeedTheFarmlandParcelLayer) {
  const auto without = BaseData(0, 0);
  EXPECT_EQ(without->m_nErrCount, 0);
  EXPECT_FALSE(conn().TableExists(Copy("GQ")));

  const std::string path = home_.File("farmland.gpkg");
  testing::WriteJbntParcels(path, {{{"基本农田图斑编号", "330102001001JB01"},
                                    {"地类编码", "011"},
                                    {"基本农田地类面积", "1234.5"},
                                    {"权属性质", "30"},
                                    {"权属单位代码", testing::kGroup},
                                    {"座落单位代码", testing::kGroup},
                                    {"座落单位名称", "一组"}}});
  testing::ScopedLayer layer(gis::OpenLayer(path, "基本农田图斑"));
  const auto with = BaseData(layer, 1);
  EXPECT_EQ(with->m_nErrCount, 0);
  EXPECT_EQ(with->m_aiParcel, static_cast<short>(layer));
  EXPECT_EQ(testing::Numbers(conn(), "select 土地总面积 from " + Copy("PM")),
            std::vector<double>{1234.5});
  EXPECT_EQ(testing::Numbers(conn(), "select 土地总面积 from " + Copy("GQ")),
            std::vector<double>{0.1235});
  EXPECT_EQ(testing::Numbers(conn(), "select 土地总面积 from " + Copy("MU")),
            std::vector<double>{1.85});
}

LANDSTAT_BOTH_ENGINES(FarmlandStageTest);

}  // namespace
}  // namespace landstat
