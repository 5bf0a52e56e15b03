#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "engine/run_record.h"
#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Texts;

std::unique_ptr<gis::RuralCode> SmallCodeTable() {
  return std::unique_ptr<gis::RuralCode>(gis::RuralCode::FromEntries({
      {"地类代码", "01", "耕地"},
      {"地类代码", "011", "水田"},
      {"省行政代码", "33", "浙江省"},
      {"市行政代码", "3301", "杭州市"},
      {"县行政代码", "330102", "上城区"},
      {"乡行政代码", "330102001", "清波街道"},
      {"村行政代码", "330102001001", "劳动路社区"},
      {"组行政代码", "3301020010010010000", "王'家组"},
      {"房屋结构", "1", "钢结构"},
  }));
}

class OwnershipCodeTablesTest : public BothEngines {
 protected:
  // A context on the test database, codes loaded; `district` is the layer.
  std::unique_ptr<CStatContext> Context(gis::RuralCode* codes, short district = 0) {
    auto context = std::make_unique<CStatContext>(district, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes,
                                                  "2024", "330102", "", 1, "");
    EXPECT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
    if (codes) {
      EXPECT_EQ(context->LoadCodes(), 1);
    }
    return context;
  }

  testing::ScopedProgramDir home_;
  testing::TempDir files_;
};

TEST_P(OwnershipCodeTablesTest, QsdmbPadsEveryAdministrativeCodeToNineteenCharacters) {
  auto codes = SmallCodeTable();
  auto context = Context(codes.get());
  for (int run = 0; run < 2; ++run) {  // a second run gives the same rows
    ASSERT_EQ(context->CreateQsdmbTable(), 1);
    ASSERT_EQ(context->FillQsdmbTable(), 1);
    EXPECT_EQ(Texts(conn(), "select QSDWDM from QSDMB order by QSDWDM"),
              (std::vector<std::string>{"3300000000000000000", "3301000000000000000",
                                        "3301020000000000000", "3301020010000000000",
                                        "3301020010010000000", "3301020010010010000"}));
  }
  EXPECT_EQ(Texts(conn(), "select QSDWMC from QSDMB where QSDWDM = '3301020010010010000'"),
            std::vector<std::string>{"王'家组"});
  // The patterns the enclave and ledger statements use find their levels.
  EXPECT_EQ(Texts(conn(),
                  "select QSDWMC from QSDMB where QSDWDM like '330102___0000000000' and "
                  "QSDWDM <> '3301020000000000000'"),
            std::vector<std::string>{"清波街道"});
  EXPECT_EQ(Texts(conn(),
                  "select QSDWMC from QSDMB where QSDWDM like '330102______0000000' and "
                  "QSDWDM not like '330102___0000000000'"),
            std::vector<std::string>{"劳动路社区"});
  EXPECT_EQ(Texts(conn(),
                  "select QSDWMC from QSDMB where RIGHT(QSDWDM,17) LIKE "
                  "'00000000000000000'"),
            std::vector<std::string>{"浙江省"});
  // The same plain name on a server.
  EXPECT_TRUE(conn().TableExists("QSDMB"));
}

TEST_P(OwnershipCodeTablesTest, QsdmbOfACodeTableWithoutAdministrativeCodesIsEmptyAndLogged) {
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries({{"地类代码", "01", "耕地"}}));
  auto context = Context(codes.get());
  ASSERT_EQ(context->CreateQsdmbTable(), 1);
  EXPECT_EQ(context->FillQsdmbTable(), 1);
  EXPECT_TRUE(Texts(conn(), "select QSDWDM from QSDMB").empty());
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_EQ(context->m_strLogMsg, "代码表中没有行政代码");
}

TEST_P(OwnershipCodeTablesTest, DistrictTableHoldsEveryVillageOnceWithItsRemark) {
  // The second village is drawn in two parts, the second part marked.
  const std::string survey = files_.File("survey.gpkg");
  testing::WriteFixtureLayer(
      survey, "行政辖区", wkbPolygon, {{"行政区代码"}, {"行政区名称"}, {"描述说明"}},
      {{"POLYGON((0 0,1 0,1 1,0 1,0 0))", {{"行政区代码", "330102001001"}}},
       {"POLYGON((1 0,2 0,2 1,1 1,1 0))", {{"行政区代码", "330102001002"}}},
       {"POLYGON((2 0,3 0,3 1,2 1,2 0))", {{"行政区代码", "330102001002"}, {"描述说明", "01"}}}});
  const gis::LayerHandle district = gis::OpenLayer(survey, "行政辖区");
  auto codes = SmallCodeTable();
  auto context = Context(codes.get(), district);
  ASSERT_EQ(context->CreateXzxqTable(), 1);
  ASSERT_EQ(context->FillXzxqTable(), 1);
  const std::string table = IsServer() ? "D2024330102ZB_XZXQ" : "ZB_XZXQ";
  EXPECT_EQ(Texts(conn(), "select 行政区代码 from " + table + " order by 行政区代码"),
            (std::vector<std::string>{"330102001001", "330102001002"}));
  EXPECT_EQ(Texts(conn(), "select 行政区代码 from " + table + " where 描述说明 = '01'"),
            std::vector<std::string>{"330102001002"});
  gis::CloseLayer(district);
}

// A district layer without a field of the table makes no table: one failure
// names the layer and the field, and the run leaves out the tables that
// read the district table.
TEST_P(OwnershipCodeTablesTest, DistrictLayerWithoutTheFieldsMakesNoTable) {
  const std::string survey = files_.File("survey.gpkg");
  testing::WriteFixtureLayer(
      survey, "行政辖区", wkbPolygon, {{"行政区代码"}},
      {{"POLYGON((0 0,1 0,1 1,0 1,0 0))", {{"行政区代码", "330102001001"}}}});
  const gis::LayerHandle district = gis::OpenLayer(survey, "行政辖区");
  auto codes = SmallCodeTable();
  auto context = Context(codes.get(), district);
  context->m_setRunFamilies = testing::RunFamilies("通用农村duda");
  EXPECT_EQ(context->CreateXzxqTable(), 0);
  EXPECT_FALSE(conn().TableExists(context->Names().Plain("ZB_XZXQ")));
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_NE(context->m_strLogTitle.find("行政辖区"), std::string::npos);
  EXPECT_NE(context->m_strLogTitle.find("描述说明"), std::string::npos);
  for (const char* left_out : {"statdataNOHD", "NCHDTDLY_YJFL", "NCTDLY_YJFLNOHD"}) {
    EXPECT_EQ(context->m_setLeftOutFamilies.count(left_out), 1u) << left_out;
    EXPECT_NE(context->m_strLogMsg.find(left_out), std::string::npos) << context->m_strLogMsg;
  }
  gis::CloseLayer(district);
}

// The code tables shared under plain names: each county's run refreshes its
// own rows, and the rows a county reads are its own with its province and
// city.
TEST_P(OwnershipCodeTablesTest, SharedCodeTablesHoldEachCountysRows) {
  const auto codes_of = [](const std::string& county, const std::string& name) {
    return std::unique_ptr<gis::RuralCode>(gis::RuralCode::FromEntries({
        {"地类代码", "01", "耕地"},
        {"省行政代码", "33", "浙江省"},
        {"市行政代码", "3301", "杭州市"},
        {"县行政代码", county, name},
        {"乡行政代码", county + "001", name + "街道"},
    }));
  };
  const auto run = [&](const std::string& county, const std::string& name) {
    auto codes = codes_of(county, name);
    CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes.get(), "2024", county, "", 1, "");
    ASSERT_EQ(context.InitUnits(database().ConnectionString(), Mode()), 1);
    ASSERT_EQ(context.LoadCodes(), 1);
    ASSERT_EQ(context.CreateQsdmbTable(), 1);
    ASSERT_EQ(context.FillQsdmbTable(), 1);
    ASSERT_EQ(context.BuildNcTdlyQsCodeTable(), 1);
  };
  const auto read = [&](const SharedCodeTable& table, const std::string& county) {
    return Texts(conn(), std::string("select ") + table.columns[table.code] + " from " +
                             CountyRowsOf(table, county) + " t order by 1");
  };
  using Strings = std::vector<std::string>;
  run("330102", "上城区");
  run("330103", "下城区");
  run("330103", "下城区");  // a rerun
  const Strings first = {"33", "3301", "330102", "330102001"};
  const Strings second = {"33", "3301", "330103", "330103001"};
  EXPECT_EQ(read(kNcTdlyQsTable, "330103"), second);
  EXPECT_EQ(read(kCodeTbl1Table, "330103"), second);
  EXPECT_EQ(read(kNcTdlyQsTable, "330102"), first);
  EXPECT_EQ(read(kQsdmbTable, "330102"), (Strings{"3300000000000000000", "3301000000000000000",
                                                  "3301020000000000000", "3301020010000000000"}));
  // Shared rows once, each county's rows once.
  EXPECT_EQ(Texts(conn(), "select count(*) from CODETBL1"), Strings{"7"});
}

// Two counties' first jobs on an empty server make the tables they share
// at the same time: the second waits for the first's table and uses it.
// Two jobs refreshing their rows at once add the rows they share once.
TEST_P(OwnershipCodeTablesTest, SharedTablesMadeByTwoJobsAtOnce) {
  if (!IsServer()) GTEST_SKIP() << "one job at a time writes an SQLite file";
  const struct {
    const char* table;
    std::function<void(db::Connection&, const std::string&)> make;
    const char* rows;  // afterwards
  } cases[] = {
      {"CODETBL1",
       [](db::Connection& conn, const std::string& county) {
         RefreshCountyRows(conn, kCodeTbl1Table, county, {{"县", "县行政代码", county}});
       },
       "2"},
      {"StatRuns",
       [](db::Connection& conn, const std::string& county) {
         BeginRunRecord(conn, "2024", county, "run");
       },
       "2"},
      {"CODETBL1",
       [](db::Connection& conn, const std::string& county) {
         RefreshCountyRows(conn, kCodeTbl1Table, county,
                           {{"县", "县行政代码", county}, {"耕地", "地类代码", "01"}});
       },
       "3"},
  };
  for (const auto& [table, make, rows] : cases) {
    SCOPED_TRACE(table);
    db::Connection first(database().ConnectionString()), second(database().ConnectionString());
    const db::Value pid = second.Scalar("select pg_backend_pid()");
    first.BeginTrans();
    make(first, "330102");
    std::string failure;
    std::thread beside([&] {
      try {
        second.BeginTrans();
        make(second, "330103");
        second.CommitTrans();
      } catch (const db::DbError& error) {
        failure = error.what();
      }
    });
    // The first commits once the second waits on it.
    for (int look = 0; look < 1000; ++look) {
      const db::Value waiting =
          conn().Scalar("select count(*) from pg_locks where pid = ? and not granted", {pid});
      if (waiting.AsInteger() > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    first.CommitTrans();
    beside.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(Texts(conn(), std::string("select count(*) from ") + table),
              std::vector<std::string>{rows});
  }
}

LANDSTAT_BOTH_ENGINES(OwnershipCodeTablesTest);

}  // namespace
}  // namespace landstat
