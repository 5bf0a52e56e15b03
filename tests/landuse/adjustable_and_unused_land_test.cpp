#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "platform/db/db_error.h"
#include "platform/gis/rural_code.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Numbers;
using testing::Rows;
using Strings = std::vector<std::string>;

// Pieces: village, remark, class 021 area, class 114 area.
struct Piece {
  const char* village;
  const char* remark;
  double bm021, bm114;
};

const Piece kPieces[] = {
    {"330102001001", "K", 1000.4, 333.3},  {"330102001001", "k", 500.3, 0},
    {"330102001001", "kB", 700.2, 0},      {"330102001001", "KK", 900, 900},
    {"330102001002", "K", 1234.5, 4321.1}, {"330102002001", "", 800, 800},
};

class AdjustableLandTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries({{"地类代码", "02", "园地"},
                                              {"地类代码", "021", "果园"},
                                              {"地类代码", "11", "水域"},
                                              {"地类代码", "114", "坑塘水面"},
                                              {"县行政代码", "330102", "上城区"},
                                              {"乡行政代码", "330102001", "清波街道"},
                                              {"村行政代码", "330102001001", "劳动路社区"},
                                              {"村行政代码", "330102001002", "定安路社区"}}));
    context_ = std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes_.get(), "2024",
                                              "330102", "", 0, "");
    ASSERT_EQ(context_->InitUnits(database().ConnectionString(), Mode()), 1);
    ASSERT_EQ(context_->LoadCodes(), 1);
    const std::string base = context_->m_strStatTbl;
    conn().Execute("create table " + base +
                   " (村级代码 varchar(60),座落单位代码 varchar(60),权属单位代码 varchar(60),"
                   "地类备注 varchar(60),土地总面积 double precision,BM02 double precision,BM021 "
                   "double precision,BM11 double precision,BM114 double precision)");
    // The other adjustable classes, without area here.
    for (const char* code : {"022", "023", "031", "033", "042"}) {
      conn().Execute("alter table " + base + " add column BM" + code +
                     " double precision default 0");
    }
    for (const Piece& piece : kPieces) {
      const std::string unit = std::string(piece.village) + "0010000";
      conn().Execute(
          fmt::format("insert into {} "
                      "(村级代码,座落单位代码,权属单位代码,地类备注,土地总面积,BM02,BM021,BM11,"
                      "BM114) values ('{}','{}','{}','{}',{},{},{},{},{})",
                      base, piece.village, unit, unit, piece.remark, piece.bm021 + piece.bm114,
                      piece.bm021, piece.bm021, piece.bm114, piece.bm114));
    }
    ASSERT_EQ(context_->CreateKtzTables(), 1);
    ASSERT_EQ(context_->StatKtz(), 1);
  }

  std::string Table(char scope, short unit) {
    return context_->Names().Summary(scope, unit, "KTZ");
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

TEST_P(AdjustableLandTest, AdjustableAreaByVillageTownshipAndCounty) {
  const std::string square_metres = Table('Z', kSquareMetre);
  // 'K' and 'k' count as adjustable land; 'KK' and unmarked land nowhere.
  EXPECT_EQ(
      Rows(conn(), "select XZQDM, XZQMC, BM021K, BM114K from " + square_metres + " order by XZQDM"),
      (Strings{"330102|上城区|2735.2|4654.4", "330102001|清波街道|2735.2|4654.4",
               "330102001001|劳动路社区|1500.7|333.3", "330102001002|定安路社区|1234.5|4321.1"}));
  // 'kB' counts in the KB columns on the embedded database only.
  EXPECT_EQ(Numbers(conn(), "select BM021KB from " + square_metres + " where XZQDM = '330102'"),
            (std::vector<double>{IsServer() ? 0 : 700.2}));
  // Every row adds up to its total in every unit and scope, and the
  // converted totals are those of the square-metre table.
  for (char scope : {'Z', 'Q'}) {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      SCOPED_TRACE(Table(scope, unit));
      EXPECT_EQ(Numbers(conn(), "select count(*) from " + Table(scope, unit) +
                                    " where abs(XZQZMJ - (BM021K + BM114K + BM021KB + BM022KB + "
                                    "BM023KB)) > 0.00001"),
                (std::vector<double>{0}));
    }
  }
  const double total = IsServer() ? 7389.6 : 8089.8;
  EXPECT_NEAR(
      Numbers(conn(), "select XZQZMJ from " + Table('Z', kHectare) + " where XZQDM = '330102'")[0],
      total / 10000, 0.00005);
  EXPECT_NEAR(
      Numbers(conn(), "select XZQZMJ from " + Table('Q', kMu) + " where XZQDM = '330102'")[0],
      total * 0.0015, 0.005);
}

// With the unit level every database holds the unit rows beside the village
// rows, and the converted village totals still match the square-metre ones.
TEST_P(AdjustableLandTest, UnitLevelRowsOnEveryDatabase) {
  context_->m_bGroupLevel = true;
  ASSERT_EQ(context_->CreateKtzTables(), 1);
  ASSERT_EQ(context_->StatKtz(), 1);
  for (char scope : {'Z', 'Q'}) {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      SCOPED_TRACE(Table(scope, unit));
      EXPECT_EQ(Rows(conn(), "select XZQDM from " + Table(scope, unit) + " order by XZQDM"),
                (Strings{"330102", "330102001", "330102001001", "3301020010010010000",
                         "330102001002", "3301020010020010000"}));
    }
  }
  EXPECT_NEAR(
      Numbers(conn(), "select XZQZMJ from " + Table('Z', kHectare) + " where XZQDM = '330102'")[0],
      (IsServer() ? 7389.6 : 8089.8) / 10000, 0.00005);
  // A failed unit statement is counted and ends the table before its upper
  // levels and names.
  conn().Execute("alter table " + context_->m_strStatTbl + " rename column 座落单位代码 to ZLDWDM");
  const std::string target = Table('Z', kSquareMetre);
  conn().Execute("delete from " + target);
  const int before = context_->m_nErrCount;
  EXPECT_EQ(IsServer() ? context_->SumKtz(target, 0, kSquareMetre, 2)
                       : context_->SumKtzFixedClasses(target, 0, kSquareMetre, 2),
            0);
  EXPECT_EQ(context_->m_nErrCount, before + 1);
  EXPECT_EQ(Rows(conn(), "select XZQDM from " + target + " order by XZQDM"),
            (Strings{"330102001001", "330102001002"}));
}

// With the unit level the converted unit rows add up to their village in
// every column, on both roads, as the villages add up to their township.
// The first village gets a second unit: 3 m² of class 021 (0 mu) beside the
// first unit's 1500.7 m² (2.25 mu), which are 1503.7 m² (2.26 mu) in the
// village; and 30 m² of land approved but unused in each unit (0.045 mu,
// 0.0 at one decimal) beside the village's 60 m² (0.1 mu). A third village
// of 10 m² in each of two classes (0.02 mu each, 0.03 in all) takes a step
// down in its last class. A run by ownership only (no square-metre table by
// location to balance its villages against) logs nothing, and its rows still
// add up.
TEST_P(AdjustableLandTest, ConvertedUnitRowsAddUpToTheirVillage) {
  conn().Execute("insert into " + context_->m_strStatTbl +
                 " (村级代码,座落单位代码,权属单位代码,地类备注,土地总面积,BM02,BM021,BM11,BM114)"
                 " values ('330102001001','3301020010010020000','3301020010010020000','K',3,3,3,"
                 "0,0),"
                 "('330102001001','3301020010010010000','3301020010010010000','P',30,30,30,0,0),"
                 "('330102001001','3301020010010020000','3301020010010020000','P',30,30,30,0,0),"
                 "('330102002001','3301020020010010000','3301020020010010000','K',20,10,10,10,"
                 "10)");
  context_->m_bGroupLevel = true;
  ASSERT_EQ(context_->CreateKtzTables() + context_->CreatePewyEjflTables(), 2);
  ASSERT_EQ(context_->StatKtz() + context_->StatPewyEjfl(), 2);
  EXPECT_EQ(context_->m_nErrCount, 0) << context_->m_strLogTitle << " " << context_->m_strLogMsg;
  // The mu rows of the first and third village and their units. KTZ:
  // XZQZMJ, BM021K, BM114K, BM021KB (the embedded road counts 'kB' in
  // BM021KB and in the total, the server only the K columns); PEWY_EJFL:
  // XZQZMJ, BM02, BM021 (the village's step goes to the first unit).
  const std::string villages =
      " where XZQDM like '330102001001%' or XZQDM like '330102002001%' order by XZQDM";
  const Strings embedded = {"330102001001|3.81|2.26|0.5|1.05",
                            "3301020010010010000|3.81|2.26|0.5|1.05", "3301020010010020000|0|0|0|0",
                            "330102002001|0.03|0.02|0.01|0",
                            "3301020020010010000|0.03|0.02|0.01|0"};
  const Strings server = {"330102001001|2.76|2.26|0.5|0", "3301020010010010000|2.76|2.26|0.5|0",
                          "3301020010010020000|0|0|0|0", "330102002001|0.04|0.02|0.02|0",
                          "3301020020010010000|0.04|0.02|0.02|0"};
  const Strings approved = {"330102001001|0.1|0.1|0.1", "3301020010010010000|0.1|0.1|0.1",
                            "3301020010010020000|0|0|0"};
  // The villages whose units do not add up to them in one of `columns`, and
  // the rows whose total is not the sum of `parts`.
  const auto apart = [&](const std::string& table, const Strings& columns,
                         const std::string& parts) {
    std::string group = "v.XZQDM", differ;
    for (const std::string& column : columns) {
      group += ", v." + column;
      differ += (differ.empty() ? "" : " or ") +
                ("abs(sum(u." + column + ") - v." + column + ") > 0.00001");
    }
    return Numbers(conn(), "select count(*) from (select v.XZQDM from " + table + " v, " + table +
                               " u where length(v.XZQDM) = 12 and length(u.XZQDM) = 19 and "
                               "substr(u.XZQDM, 1, 12) = v.XZQDM group by " +
                               group + " having " + differ + ") x")
               .at(0) +
           Numbers(conn(), "select count(*) from " + table + " where abs(XZQZMJ - (" + parts +
                               ")) > 0.00001")
               .at(0);
  };
  const Strings ktz = {"XZQZMJ", "BM021K", "BM114K", "BM021KB"};
  const std::string ktz_parts = "BM021K+BM114K+BM021KB";
  const auto names = context_->Names();
  for (char scope : {'Z', 'Q'}) {
    EXPECT_EQ(Rows(conn(), "select XZQDM, XZQZMJ, BM021K, BM114K, BM021KB from " +
                               Table(scope, kMu) + villages),
              IsServer() ? server : embedded)
        << scope;
    EXPECT_EQ(Rows(conn(), "select XZQDM, XZQZMJ, BM02, BM021 from " +
                               names.Summary(scope, kMu, "PEWY_EJFL") + villages),
              approved)
        << scope;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      EXPECT_EQ(apart(Table(scope, unit), ktz, ktz_parts), 0) << Table(scope, unit);
      const std::string pewy = names.Summary(scope, unit, "PEWY_EJFL");
      EXPECT_EQ(apart(pewy, {"XZQZMJ", "BM02", "BM021", "BM11", "BM114"}, "BM02+BM11"), 0) << pewy;
    }
  }
  context_->DropTable(Table('Z', kSquareMetre));
  context_->m_nStatScope = 1;
  ASSERT_EQ(context_->CreateKtzTables(), 1);
  ASSERT_EQ(context_->StatKtz(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0) << context_->m_strLogTitle << " " << context_->m_strLogMsg;
  EXPECT_EQ(Rows(conn(), "select XZQDM, XZQZMJ, BM021K, BM114K, BM021KB from " + Table('Q', kMu) +
                             villages),
            IsServer() ? server : embedded);
  for (short unit : {kHectare, kMu}) EXPECT_EQ(apart(Table('Q', unit), ktz, ktz_parts), 0);
}

// A row whose total lies beyond any rounding remainder is not stepped (that
// would never end) but logged.
TEST_P(AdjustableLandTest, RemarkedRowsAreReadOnlyWhileTheirFillRuns) {
  // A fill that ends by an error leaves later fills reading the base table.
  EXPECT_THROW(context_->WithRemarkedRows([] { throw db::DbError("stopped"); }), db::DbError);
  EXPECT_EQ(context_->RemarkedRows(), context_->m_strStatTbl);
  // Kept, the copy the first fill made serves the next one, and is gone
  // once released.
  context_->KeepRemarkedRows();
  std::string first, second;
  context_->WithRemarkedRows([&] { first = context_->RemarkedRows(); });
  context_->WithRemarkedRows([&] { second = context_->RemarkedRows(); });
  EXPECT_NE(first, context_->m_strStatTbl);
  EXPECT_EQ(second, first);
  EXPECT_EQ(context_->m_pConn.Scalar("select count(*) from " + first).AsDouble(), 4);
  context_->ReleaseRemarkedRows();
  EXPECT_EQ(context_->RemarkedRows(), context_->m_strStatTbl);
  EXPECT_THROW(context_->m_pConn.Execute("select count(*) from " + first), db::DbError);
}

TEST_P(AdjustableLandTest, RowBalancingOfAHugeDifferenceEndsAndIsLogged) {
  const std::string hectares = Table('Z', kHectare);
  conn().Execute("update " + hectares + " set XZQZMJ = 1e300 where XZQDM = '330102001001'");
  const int before = context_->m_nErrCount;
  context_->BalanceKtzRows(hectares, 0.0001, 4);
  EXPECT_EQ(context_->m_nErrCount, before + 1);
}

// The village totals take the difference largest first, one step each in a
// single sweep, and none is taken below four steps.
TEST_P(AdjustableLandTest, VillageTotalsTakeOneStepEachLargestFirst) {
  const struct {
    double difference;
    std::vector<double> totals;  // largest first
  } cases[] = {
      {0.05, {0.51, 0.31, 0.06, 0.02}},
      {-0.02, {0.49, 0.29, 0.05, 0.02}},
      {-0.05, {0.49, 0.29, 0.04, 0.02}},
      {0.004, {0.5, 0.3, 0.05, 0.02}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.difference);
    conn().Execute("drop table if exists VT");
    conn().Execute("create table VT (XZQDM varchar(19), XZQZMJ double precision)");
    conn().Execute(
        "insert into VT values ('330102001001',0.3),('330102001002',0.02),"
        "('330102001003',0.5),('330102001004',0.05)");
    context_->BalanceKtzVillageTotals("VT", c.difference, 0.01, 2);
    EXPECT_EQ(Numbers(conn(), "select XZQZMJ from VT order by XZQZMJ desc"), c.totals);
  }
}

TEST_P(AdjustableLandTest, FieldServicesRefuseEmptyArgumentsAndRoundOnEveryEngine) {
  conn().Execute("create table T (A double precision, B double precision, S double precision)");
  conn().Execute("insert into T values (12345, 6789, 0)");
  EXPECT_EQ(ConvertFldValue(conn(), 1, "T", {}, "/10000", 2), 0);
  EXPECT_EQ(ConvertFldValue(conn(), 1, "T", {"A"}, "", 2), 0);
  EXPECT_EQ(ConvertFldValue(conn(), 3, "T", {"A"}, "/10000", 2), 0);
  EXPECT_EQ(ConvertFldValue(conn(), 1, "T", {"A", "B"}, "*3/2000", 2), 1);
  EXPECT_EQ(SetSumFldValue(conn(), "T", "S", {}), 0);
  EXPECT_EQ(SetSumFldValue(conn(), "T", "S", {"A", "B"}), 1);
  EXPECT_EQ(Numbers(conn(), "select A from T"), (std::vector<double>{18.52}));
  EXPECT_NEAR(Numbers(conn(), "select S from T")[0], 18.52 + 10.18, 1e-9);
  EXPECT_EQ(SetSumFldValue(conn(), "T", "S", {"NoSuchColumn"}), 0);
}

TEST_P(AdjustableLandTest, ApprovedButUnusedLandByRemarkP) {
  const std::string base = context_->m_strStatTbl;
  for (const char* column : {"序号 int", "批准文号 varchar(60)", "来源 varchar(60)"}) {
    conn().Execute("alter table " + base + " add column " + column);
  }
  // 'P' and 'p' parcels; a linear feature with the remark counts in the
  // summary but not in the parcel list; 'PJ' counts nowhere.
  conn().Execute("insert into " + base +
                 " (村级代码,座落单位代码,权属单位代码,地类备注,土地总面积,BM02,BM021,BM11,BM114,"
                 "序号,批准文号,来源) values "
                 "('330102001001','3301020010010010000','3301020010010010000','P',1000.25,"
                 "1000.25,1000.25,0,0,101,'A1','地类图斑'),"
                 "('330102001002','3301020010020010000','3301020010020010000','p',200.5,0,0,"
                 "200.5,200.5,102,'A2','地类图斑'),"
                 "('330102001002','3301020010020010000','3301020010020010000','p',30,0,0,30,30,"
                 "103,'','线状地物'),"
                 "('330102001001','3301020010010010000','3301020010010010000','PJ',50,50,50,0,"
                 "0,104,'','地类图斑')");
  ASSERT_EQ(context_->CreatePewyEjflTables(), 1);
  ASSERT_EQ(context_->StatPewyEjfl(), 1);
  ASSERT_EQ(context_->CreatePewyYjflTables(), 1);
  ASSERT_EQ(context_->StatPewyYjfl(), 1);
  for (int run = 0; run < 2; ++run) ASSERT_EQ(context_->StatPewyTbl(), 1);
  const auto names = context_->Names();
  const std::string county = " where XZQDM = '330102'";
  EXPECT_EQ(Rows(conn(), "select XZQZMJ, BM02, BM021, BM11, BM114 from " +
                             names.Summary('Z', kSquareMetre, "PEWY_EJFL") + county),
            (Strings{"1230.75|1000.25|1000.25|230.5|230.5"}));
  // Mu at one decimal; first-level columns and the total re-summed.
  EXPECT_EQ(Rows(conn(), "select XZQZMJ, BM02, BM021, BM11, BM114 from " +
                             names.Summary('Q', kMu, "PEWY_EJFL") + county),
            (Strings{"1.8|1.5|1.5|0.3|0.3"}));
  EXPECT_EQ(Rows(conn(), "select XZQDM, XZQMC, XZQZMJ, BM02, BM11 from " +
                             names.Summary('Z', kMu, "PEWY_YJFL") + " order by XZQDM"),
            (Strings{"330102|上城区|1.8|1.5|0.3", "330102001|清波街道|1.8|1.5|0.3",
                     "330102001001|劳动路社区|1.5|1.5|0", "330102001002|定安路社区|0.3|0|0.3"}));
  EXPECT_EQ(Rows(conn(), "select 序号, 批准文号, 批而未用面积 from " +
                             names.UnitCopy(kMu, "PEWYTBL") + " order by 序号"),
            (Strings{"101|A1|1.5", "102|A2|0.3"}));
}

TEST_P(AdjustableLandTest, MarkerTablesShareTheirUnitsAndCountTheirOwnMarker) {
  const std::string base = context_->m_strStatTbl;
  for (const char* column : {"新增建设用地类型 varchar(60)", "备注 varchar(60)"}) {
    conn().Execute("alter table " + base + " add column " + column);
  }
  // P and W on one row; a 2010 note that is no exchange; nothing marked.
  conn().Execute("insert into " + base +
                 " (村级代码,座落单位代码,权属单位代码,地类备注,新增建设用地类型,备注,土地总面积,"
                 "BM02,BM021,BM11,BM114) values "
                 "('330102001001','3301020010010010000','3301020010010010000','P','W','',100,100,"
                 "100,0,0),"
                 "('330102001002','3301020010020010000','3301020010020010000','','','2010扩建',40,"
                 "0,0,40,40),"
                 "('330102001002','3301020010020010000','3301020010020010000','','','2010置换',60,"
                 "0,0,60,60),"
                 "('330103001001','3301030010010010000','3301030010010010000','P','','',5,5,5,0,"
                 "0)");
  // Unit rows are this county's only, whatever marker a row carries.
  context_->m_bGroupLevel = true;
  const auto names = context_->Names();
  const auto county = [&](const char* table) {
    return Rows(conn(), "select XZQZMJ, BM021, BM114 from " +
                            names.Summary('Z', kSquareMetre, table) + " where XZQDM = '330102'");
  };
  ASSERT_EQ(context_->CreatePewyEjflTables() + context_->CreateWpxjEjflTables() +
                context_->CreatePzyjEjflTables() + context_->Create2010ZhEjflTables(),
            4);
  for (auto fill : {&CStatContext::StatPewyEjflByMarker, &CStatContext::StatWpxjEjfl,
                    &CStatContext::StatPzyjEjfl, &CStatContext::Stat2010ZhEjfl}) {
    ASSERT_EQ(((*context_).*fill)(), 1);
  }
  EXPECT_EQ(county("PEWY_EJFL"), Strings{"100|100|0"});
  EXPECT_EQ(county("WPXJ_EJFL"), Strings{"100|100|0"});
  EXPECT_EQ(county("PZYJ_EJFL"), Strings{"0|0|0"});
  EXPECT_EQ(county("2010ZH_EJFL"), Strings{"60|0|60"});
  // Every marker table holds the same units: the county, its township,
  // two villages and two units, and the other county's village.
  for (const char* table : {"PEWY_EJFL", "PZYJ_EJFL", "2010ZH_EJFL"}) {
    EXPECT_EQ(Numbers(conn(), "select count(*) from " + names.Summary('Q', kMu, table)),
              (std::vector<double>{7}))
        << table;
    EXPECT_EQ(Numbers(conn(), "select count(*) from " + names.Summary('Z', kMu, table) +
                                  " where length(XZQDM) = 19 and XZQDM like '330103%'"),
              (std::vector<double>{0}))
        << table;
  }
}

TEST_P(AdjustableLandTest, ScriptTableJoinsTheUnitsOfItsSources) {
  std::string columns = "XZQDM varchar(19), XZQMC varchar(60), XZQZMJ double precision";
  for (const char* code :
       {"201", "202", "203", "204", "205", "101", "102", "105", "106", "107", "113", "118"}) {
    columns += std::string(", BM") + code + " double precision default 0";
  }
  for (const char* table : {"SA", "SB", "SC"}) {
    conn().Execute(std::string("create table ") + table + " (" + columns + ")");
    conn().Execute(std::string("insert into ") + table +
                   " (XZQDM, XZQMC, BM201, BM101, BM113) values ('330102', '上城区', 1, 2, 3)");
  }
  conn().Execute("insert into SA (XZQDM, XZQMC) values ('330102001', '清波街道')");
  for (int run = 0; run < 2; ++run) {  // the second run replaces the first
    ASSERT_EQ(context_->RunPjwEjflScript("PJW", "SA", "SB", "SC"), 1);
  }
  EXPECT_EQ(Rows(conn(), "select XZQDM, BM20P, BM10PJ, BM11W, HJP, HJW from PJW"),
            (Strings{"330102|1|2|3|6|6"}));
}

TEST_P(AdjustableLandTest, OracleTextsOfTheServerRoad) {
  if (!IsServer()) GTEST_SKIP() << "the server road runs on a server database";
  context_->m_bOracle = true;
  context_->m_bGroupLevel = true;
  testing::ScopedTraceCapture trace;
  context_->SumKtz("OK1", 1, kMu, 2);
  context_->SumRemarkEjfl("OK2", 1, kMu, 1, "地类备注", "P", "p", "where 地类备注 like 'P' ");
  std::string text;
  for (const std::string& line : trace.lines) text += line + "\n";
  for (const char* expected :
       {"SELECT substr(权属单位代码,0,12),round(SUM(土地总面积),2)",
        "GROUP BY substr(权属单位代码,0,12)",
        "LIKE '330102_____________'  AND( 地类备注 LIKE 'K' OR 地类备注 LIKE 'k') GROUP BY "
        "权属单位代码",
        "round(SUM(CASE WHEN 地类备注 LIKE 'P' OR 地类备注 LIKE 'p' THEN BM021 ELSE 0 END),2)"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(text.find("left("), std::string::npos) << text;
}

LANDSTAT_BOTH_ENGINES(AdjustableLandTest);

}  // namespace
}  // namespace landstat
