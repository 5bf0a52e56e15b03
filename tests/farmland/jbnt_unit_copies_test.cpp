// The farmland base table condensed into its unit copies and ex table, the
// copies converted to their units, and the row-limit check of the
// square-metre copy.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "farmland/farmland_rules.h"
#include "platform/db/grouped_sums.h"
#include "platform/host/progress.h"
#include "platform/host/row_lock_limit.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/copy_rows.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

class JbntUnitCopiesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    context_ = testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
    // A field whose name begins with a lower-case "bm" is no class column.
    context_->m_arrStatFields.push_back("bm99");
    ASSERT_EQ(context_->CreateJbntStatTable(), 1);
    ASSERT_EQ(context_->CreateUnitJbntTables(), 1);
    ASSERT_EQ(context_->CreateJbntExTable(), 1);
  }

  std::string Copy(const std::string& unit) const {
    return unit + (IsServer() ? "2009330102" : "") + "statdata_jbnt";
  }

  // Parcels of two blocks: in block A two that differ only in their number
  // and class, one that differs in the farmland marks as well.
  void InsertParcels() {
    const char* const parcels[] = {
        "'N','','','A','1','011',100,100,0,100,'5'",
        "'N','','','A','2','013',50,0,50,50,'6'",
        "'Y','K','TC','A','3','011',20,20,0,20,'7'",
        "'N','','','B','4','011',10,10,0,10,'8'",
    };
    for (const char* values : parcels) {
      conn().Execute("insert into " + context_->m_strJbntTbl +
                     " (是否补划,地类备注,调入备注,保护片编号,基本农田图斑编号,地类编码,"
                     "土地总面积,BM011,BM013,BM01,bm99) values (" +
                     values + ")");
    }
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

TEST_P(JbntUnitCopiesTest, CondensationSumsClassColumnsByGroup) {
  InsertParcels();
  EXPECT_EQ(context_->BuildJbntBaseDataPM(), 1);
  EXPECT_EQ(context_->BuildJbntBaseDataGQ(), 1);
  EXPECT_EQ(context_->BuildJbntBaseDataMU(), 1);
  EXPECT_EQ(context_->BuildJbntBaseDataEx(), 1);
  EXPECT_EQ(context_->m_nErrCount, 0);
  // Each copy in the source unit, the parcel number and class left behind.
  for (const char* unit : {"PM", "GQ", "MU"}) {
    EXPECT_EQ(Rows(conn(),
                   "select 是否补划, 地类备注, 调入备注, 保护片编号, 土地总面积, BM011, BM013, "
                   "BM01, bm99, 基本农田图斑编号 from " +
                       Copy(unit) + " order by 保护片编号, 是否补划"),
              (Strings{"N|||A|150|100|50|150||", "Y|K|TC|A|20|20|0|20||", "N|||B|10|10|0|10||"}))
        << unit;
  }
  // The ex table merges the farmland marks.
  const std::string ex = context_->m_strJbntTbl + "ex";
  EXPECT_EQ(Rows(conn(), "select 保护片编号, 土地总面积, BM011, BM01, bm99 from " + ex +
                             " order by 保护片编号"),
            (Strings{"A|170|120|170|", "B|10|10|10|"}));
  // Made again from the groups a conversion reads ahead on a connection of
  // its own (on a server, the server's own grouping): the same rows, stored
  // in the same order.
  const Strings stored = Rows(conn(), "select * from " + ex);
  conn().Execute("delete from " + ex);
  const std::optional<units::CopySumsRequest> request = context_->JbntExSumsRequest();
  ASSERT_TRUE(request);
  db::Connection reader(database().ConnectionString());
  context_->KeepFedSums(request->key,
                        IsServer() ? CStatContext::ReadGroupsAsStored(reader, request->query)
                                   : std::make_unique<db::GroupedSums>(reader, request->query));
  EXPECT_EQ(context_->BuildJbntBaseDataEx(), 1);
  EXPECT_EQ(Rows(conn(), "select * from " + ex), stored);
}

// The copies as a run makes them (condensed, converted, balanced), in a
// source unit and one target unit, on blocks of hand-computed figures: the
// source copy keeps its sums as summed, the target copy adds up to the
// converted source total, each row's classes to its total.
struct BalancedCopiesCase {
  short source, source_decimals, target, target_decimals;
  // Parcels: block, class column (parent BM01 or BM11), area.
  std::vector<std::tuple<const char*, const char*, double>> parcels;
  // Rows of the source and target copies by block: 保护片编号, 土地总面积,
  // BM011, BM013, BM114, BM01, BM11.
  Strings source_rows, target_rows;
};

TEST_P(JbntUnitCopiesTest, TargetCopyAddsUpToTheConvertedSourceTotal) {
  const BalancedCopiesCase cases[] = {
      // Block A's classes, 26 and 27 m², round to 0 mu at one decimal while
      // the block rounds to 0.1: its row takes the step on a class it has
      // in the source (BM114 before BM013 in balancing order). The county's
      // 153 m² are 0.2 mu: block B (0.15, rounded 0.2) gives a step back.
      {kSquareMetre,
       2,
       kMu,
       1,
       {{"A", "BM013", 26}, {"A", "BM114", 27}, {"B", "BM011", 100}},
       {"A|53|0|26|27|26|27", "B|100|100|0|0|100|0"},
       {"A|0.1|0|0|0.1|0|0.1", "B|0.1|0.1|0|0|0.1|0"}},
      // Mu as the source unit: 12.345 and 0.004 stay as summed, and their
      // 12.349 mu are 8232.7 m², the sum of the rows as converted.
      {kMu,
       2,
       kSquareMetre,
       1,
       {{"A", "BM011", 12.345}, {"B", "BM013", 0.004}},
       {"A|12.345|12.345|0|0|12.345|0", "B|0.004|0|0.004|0|0.004|0"},
       {"A|8230|8230|0|0|8230|0", "B|2.7|0|2.7|0|2.7|0"}},
  };
  // Each case balanced reading the target copy, and with its rows kept as
  // it is written (on the embedded engine).
  for (const BalancedCopiesCase& c : cases) {
    for (const bool kept : {false, true}) {
      SCOPED_TRACE("from unit " + std::to_string(c.source) + " to " + std::to_string(c.target) +
                   (kept ? ", rows kept" : ""));
      conn().Execute("delete from " + context_->m_strJbntTbl);
      for (const char* unit : {"PM", "GQ", "MU"}) conn().Execute("delete from " + Copy(unit));
      context_->m_nUnitSrc = c.source;
      context_->m_nDecSrc = c.source_decimals;
      context_->m_nUnit1 = c.target;
      context_->m_nDec1 = c.target_decimals;
      context_->m_nUnit2 = kNoUnit;
      context_->m_bPm = true;
      context_->m_bMu = true;
      context_->m_bGq = false;
      for (const auto& [block, column, area] : c.parcels) {
        const std::string parent = std::string(column).substr(0, 4);
        conn().Execute("insert into " + context_->m_strJbntTbl +
                           " (保护片编号,村级代码,座落单位代码,土地总面积," + column + "," +
                           parent + ") values (?,?,?,?,?,?)",
                       {block, testing::kVillage, testing::kGroup, area, area, area});
      }
      if (kept) {
        std::vector<std::unique_ptr<units::CopyRows>> filled;
        context_->BuildJbntBaseDataCopies(filled);
        EXPECT_EQ(filled.size(), IsServer() ? 0u : 1u);
        EXPECT_EQ(context_->BalanceStatDataByUnit(filled), 1);
      } else {
        context_->BuildJbntBaseDataCopies();
        EXPECT_EQ(context_->BalanceStatDataByUnit(), 1);
      }
      EXPECT_EQ(context_->m_nErrCount, 0)
          << context_->m_strLogTitle << " " << context_->m_strLogMsg;
      const auto rows = [&](short unit) {
        return Rows(conn(), "select 保护片编号, 土地总面积, BM011, BM013, BM114, BM01, BM11 from " +
                                Copy(unit == kMu ? "MU" : "PM") + " order by 保护片编号");
      };
      EXPECT_EQ(rows(c.source), c.source_rows);
      EXPECT_EQ(rows(c.target), c.target_rows);
    }
  }
}

// One case of unit conversion: the units and decimals, the statements'
// copies and first clauses as the server and the embedded engine write
// them, and the totals of the hectare, mu and square-metre copies after.
struct ConversionCase {
  short source, unit1, dec1, unit2, dec2;
  Strings copies;  // in the order the statements run
  Strings server_clauses, access_clauses;
  Strings totals;  // GQ, MU, PM
};

TEST_P(JbntUnitCopiesTest, ConversionConvertsOnlyTheTargetCopies) {
  const ConversionCase cases[] = {
      {kSquareMetre,
       kHectare,
       4,
       kMu,
       2,
       {"GQ", "MU"},
       {"土地总面积=round(土地总面积/10000,4)", "土地总面积=round(土地总面积*3/2000,2)"},
       {"土地总面积=val(format(土地总面积/10000,'0.0000'))",
        "土地总面积=val(format(土地总面积*3/2000,'0.00'))"},
       {"0.1235", "1.85", "1234.567"}},
      {kHectare,
       kMu,
       0,
       kNoUnit,
       2,
       {"MU"},
       {"土地总面积=round(土地总面积*15,0)"},
       {"土地总面积=val(format(土地总面积*15,'0.'))"},
       {"1234.567", "18519", "1234.567"}},
      {kMu,
       kSquareMetre,
       1,
       kHectare,
       0,
       {"GQ", "PM"},
       {"土地总面积=round(土地总面积/15,0)", "土地总面积=round(土地总面积*2000/3,1)"},
       {"土地总面积=val(format(土地总面积/15,'0.'))",
        "土地总面积=val(format(土地总面积*2000/3,'0.0'))"},
       {"82", "1234.567", "823044.7"}},
      // A target equal to the source is left alone.
      {kSquareMetre, kSquareMetre, 2, kNoUnit, 2, {}, {}, {}, {"1234.567", "1234.567", "1234.567"}},
      // Both targets the same unit: the second one's decimals hold.
      {kSquareMetre,
       kMu,
       2,
       kMu,
       0,
       {"MU"},
       {"土地总面积=round(土地总面积*3/2000,0)"},
       {"土地总面积=val(format(土地总面积*3/2000,'0.'))"},
       {"1234.567", "2", "1234.567"}},
  };
  for (const ConversionCase& c : cases) {
    SCOPED_TRACE("case of copies " + std::to_string(c.copies.size()) + " first unit " +
                 std::to_string(c.unit1) + " from " + std::to_string(c.source));
    for (const char* unit : {"GQ", "MU", "PM"}) {
      conn().Execute("delete from " + Copy(unit));
      conn().Execute("insert into " + Copy(unit) + " (土地总面积, BM011) values (1234.567, 1)");
    }
    context_->m_nUnitSrc = c.source;
    context_->m_nUnit1 = c.unit1;
    context_->m_nDec1 = c.dec1;
    context_->m_nUnit2 = c.unit2;
    context_->m_nDec2 = c.dec2;
    const Strings statements = context_->JbntConversionStatements();
    ASSERT_EQ(statements.size(), c.copies.size());
    for (std::size_t i = 0; i < statements.size(); ++i) {
      const std::string& clause = (IsServer() ? c.server_clauses : c.access_clauses)[i];
      EXPECT_EQ(statements[i].rfind("UPDATE " + Copy(c.copies[i]) + " set " + clause + ",", 0), 0u)
          << statements[i];
      EXPECT_NE(statements[i].find(",BM011="), std::string::npos) << statements[i];
      EXPECT_EQ(statements[i].find("bm99"), std::string::npos) << statements[i];
      EXPECT_NE(statements[i].back(), ',');
    }
    if (IsServer()) {  // Oracle's texts are the server's round form
      context_->m_bOracle = true;
      EXPECT_EQ(context_->JbntConversionStatements(), statements);
      context_->m_bOracle = false;
    }
    EXPECT_EQ(context_->ConvertJbntUnits(), 1);
    Strings totals;
    for (const char* unit : {"GQ", "MU", "PM"}) {
      totals.push_back(Rows(conn(), "select 土地总面积 from " + Copy(unit)).at(0));
    }
    EXPECT_EQ(totals, c.totals);
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

TEST_P(JbntUnitCopiesTest, FailuresAreLoggedWithTheirMessages) {
  conn().Execute("drop table " + context_->m_strJbntTbl);
  const struct {
    short (CStatContext::*build)();
    const char* message;
  } builders[] = {{&CStatContext::BuildJbntBaseDataPM, "statdata_jbntex"},
                  {&CStatContext::BuildJbntBaseDataGQ, "statdata_jbnt"},
                  {&CStatContext::BuildJbntBaseDataMU, "statdata_jbntex"},
                  {&CStatContext::BuildJbntBaseDataEx, "statdata_jbntex"}};
  int failures = 0;
  for (const auto& builder : builders) {
    EXPECT_EQ((context_.get()->*builder.build)(), 0) << builder.message;
    EXPECT_EQ(context_->m_nErrCount, ++failures);
    EXPECT_EQ(context_->m_strLogTitle, "汇总基本农田基础数据");
    EXPECT_EQ(context_->m_strLogMsg.rfind(std::string(builder.message) + " (", 0), 0u)
        << context_->m_strLogMsg;
  }
  // A failed conversion of the hectare copy leaves the mu copy unconverted.
  conn().Execute("insert into " + Copy("MU") + " (土地总面积) values (2000)");
  conn().Execute("drop table " + Copy("GQ"));
  EXPECT_EQ(context_->ConvertJbntUnits(), 0);
  EXPECT_EQ(context_->m_nErrCount, failures + 1);
  EXPECT_EQ(context_->m_strLogMsg.rfind(Copy("GQ") + " (", 0), 0u) << context_->m_strLogMsg;
  EXPECT_EQ(Rows(conn(), "select 土地总面积 from " + Copy("MU")), Strings{"2000"});
}

// A lock limit of the test's choosing, whose restart never happens, and the
// progress window around its prompt.
class FakeRowLockLimit : public host::RowLockLimit, public host::Progress {
 public:
  bool Read(long& value) override {
    ++reads;
    value = limit;
    return true;
  }
  bool Write(long value) override {
    written = value;
    return write_works;
  }
  bool AskRestart() override {
    ++asked;
    return accept;
  }
  bool RestartMachine() override {
    ++restarts;
    return false;
  }
  void Tell(const std::string& text, const std::string& caption) override {
    told.push_back(caption + ":" + text);
  }
  void Begin(const std::string& text) override { progress += "begin " + text + ";"; }
  void SetText(const std::string&) override {}
  void Step(const std::string&, double) override {}
  void End() override { progress += "end;"; }

  long limit = 0, written = 0;
  bool write_works = true, accept = false;
  int reads = 0, asked = 0, restarts = 0;
  Strings told;
  std::string progress;
};

TEST_P(JbntUnitCopiesTest, RowLimitCheckNeverRestarts) {
  InsertParcels();  // three rows in the square-metre copy
  const struct {
    long limit;
    bool write_works, accept;
    short result;
    long written;
    int asked, restarts;
    const char* told;
  } cases[] = {
      {3, true, true, 1, 0, 0, 0, ""},
      {2, true, false, -1, 1030, 1, 0, ""},
      {2, true, true, -1, 1030, 1, 1,
       "提示:程序尝试重新启动您的计算机，但是由于系统的原因\r\n失败了，请退出程序，重启电脑！"},
      {2, false, true, -1, 1030, 0, 0,
       "提示:由于需要调平的行数超过了系统设定的范围，但程序修改注册表失败！"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("limit " + std::to_string(c.limit) + (c.write_works ? "" : " unwritable") +
                 (c.accept ? " accepted" : " declined"));
    conn().Execute("delete from " + Copy("PM"));
    FakeRowLockLimit fake;
    fake.limit = c.limit;
    fake.write_works = c.write_works;
    fake.accept = c.accept;
    host::RowLockLimit* previous = host::SetRowLockLimit(&fake);
    host::Progress* previous_progress = host::SetProgress(&fake);
    const short result = context_->BuildJbntBaseDataPM();
    host::SetRowLockLimit(previous);
    host::SetProgress(previous_progress);
    // A server has no such limit: the check is the embedded engine's.
    EXPECT_EQ(result, IsServer() ? 1 : c.result);
    EXPECT_EQ(fake.reads, IsServer() ? 0 : 1);
    if (IsServer()) continue;
    EXPECT_EQ(fake.written, c.written);
    EXPECT_EQ(fake.asked, c.asked);
    EXPECT_EQ(fake.restarts, c.restarts);
    EXPECT_EQ(fake.told, *c.told ? Strings{c.told} : Strings{});
    EXPECT_EQ(fake.progress, c.result == 1 ? "" : "end;begin 正在......;");
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

LANDSTAT_BOTH_ENGINES(JbntUnitCopiesTest);

}  // namespace
}  // namespace landstat
