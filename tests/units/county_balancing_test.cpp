// A generated county run from its layers to the balanced unit copies.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/stat_context.h"
#include "engine/stat_drivers.h"
#include "platform/gis/gis_fixtures.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/balance_checks.h"

namespace landstat {
namespace {

using testing::AreaTable;
using testing::ClassLayout;

class CountyBalancingTest : public testing::BothEngines {};

TEST_P(CountyBalancingTest, UnitCopiesOfAGeneratedCountyAreBalanced) {
  testing::ScopedProgramDir home;
  testing::WriteFileBytes(
      home.path() / "qentar" / "_secondfun_" / "StatConfig.ini",
      "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n[PointLen]\nLen1=2\nLen2=4\nLen3=2\n");
  county::CountyOptions options;
  options.parcels = 3000;
  options.seed = 23;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), home.File("county"));
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::Load(files.codes));
  const std::string log = home.File("stat.log");
  testing::WriteFileBytes(log, "");
  const short mode = Mode();
  {
    testing::ScopedLayer parcel(gis::OpenLayer(files.survey, "地类图斑"));
    testing::ScopedLayer line(gis::OpenLayer(files.survey, "线状地物"));
    testing::ScopedLayer point(gis::OpenLayer(files.survey, "零星地物"));
    ASSERT_EQ(
        landStatData(parcel, line, point, 0, 0, 0, 0, 0, 0, 0, codes.get(),
                     database().ConnectionString(), "2009", options.county_code, mode, 1, log),
        1);
  }
  const std::string run_log = testing::ReadFileBytes(log);
  EXPECT_EQ(run_log.find("平差"), std::string::npos) << run_log;

  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes.get(), "2009", options.county_code, "",
                       1, "");
  ASSERT_EQ(context.InitUnits(database().ConnectionString(), mode), 1);
  ASSERT_EQ(context.LoadCodes(), 1);
  const ClassLayout layout(context.m_arrStatFields);
  const AreaTable source = testing::ReadAreas(context.m_pConn, context.m_strStatTblSrc, layout);
  ASSERT_GE(source.size(), 3000u);
  double source_total = 0;
  for (const auto& [number, row] : source) source_total += row.areas.at("土地总面积");

  std::vector<AreaTable> balanced;
  for (const auto& [table, factor, decimals] : {std::tuple{context.m_strStatTblUnit1, 0.0001, 4},
                                                std::tuple{context.m_strStatTblUnit2, 0.0015, 2}}) {
    SCOPED_TRACE(table);
    double region = source_total * factor;
    xcKeepPoint(&region, decimals);
    balanced.push_back(testing::ReadAreas(context.m_pConn, table, layout));
    const testing::Moves moves = testing::ExpectBalanced(
        testing::Converted(source, factor, decimals), balanced.back(), layout, options.county_code,
        decimals, testing::Steps(region, decimals));
    // The copy needed both passes.
    EXPECT_GT(moves.totals, 0);
    EXPECT_GT(moves.classes, 0);
  }

  // Balanced again, the copies stay as they are.
  ASSERT_EQ(context.BalanceStatData(), 1);
  EXPECT_EQ(context.m_nErrCount, 0) << context.m_strLogTitle << " " << context.m_strLogMsg;
  for (std::size_t i = 0; i < balanced.size(); ++i) {
    const std::string& table = i == 0 ? context.m_strStatTblUnit1 : context.m_strStatTblUnit2;
    const AreaTable again = testing::ReadAreas(context.m_pConn, table, layout);
    long differing = 0;
    for (const auto& [number, row] : balanced[i]) differing += again.at(number).areas != row.areas;
    EXPECT_EQ(differing, 0) << table;
  }
}

LANDSTAT_BOTH_ENGINES(CountyBalancingTest);

}  // namespace
}  // namespace landstat
