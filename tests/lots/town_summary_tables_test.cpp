// The town summary tables by level (land-use classes of both levels,
// use-right types) and the lot area summary: figures summed by hand from a
// hand-made lot table, the tables each unit flag makes, reruns, the failures
// and what each level does after one, the dated twins and the create texts
// by engine.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lots/town_fixture.h"
#include "lots/town_summary_family.h"
#include "platform/db/recordset.h"
#include "platform/host/notifier.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

// Lot number, street, block, use-right type (null for none), 宗地总面积 and
// the land use it is booked to (with its first-level class). Lot
// 330102001001001 has two rows.
struct Lot {
  const char* number;
  const char* street;
  const char* block;
  const char* type;
  double area;
  const char* use;
};

const Lot kLots[] = {
    {"330102001001001", "330102001", "330102001001", "11", 100, "051"},
    {"330102001001001", "330102001", "330102001001", "12", 5, "051"},
    {"330102001001002", "330102001", "330102001001", "31", 10, "052"},
    {"330102001002001", "330102001", "330102001002", "21", 200, "071"},
    {"330102002001001", "330102002", "330102002001", "", 50, "052"},
    {"330102002001002", "330102002", "330102002001", nullptr, 30, "072"},
    {"330102002001003", "330102002", "330102002001", "31", 20, "071"},
};

// Each table's rows as the hand sums give them: county, streets, blocks.
// The type 31 has no column: its 30 (10 and 20) count in XZQZMJ only.
struct Expected {
  const char* base;
  const char* columns;
  Strings rows;
};

const Expected kExpected[] = {
    {"CZTDLY_YJFLZD",
     "XZQDM,XZQMC,XZQZMJ,BM05,BM07",
     {"330102|上城区|415|165|250", "330102001|清波街道|315|115|200", "330102002|湖滨街道|100|50|50",
      "330102001001|清波一坊|115|115|0", "330102001002|清波二坊|200|0|200",
      "330102002001|湖滨一坊|100|50|50"}},
    {"CZTDLY_EJFLZD",
     "XZQDM,XZQZMJ,BM05,BM051,BM052,BM07,BM071,BM072",
     {"330102|415|165|105|60|250|220|30", "330102001|315|115|105|10|200|200|0",
      "330102002|100|50|0|50|50|20|30", "330102001001|115|115|105|10|0|0|0",
      "330102001002|200|0|0|0|200|200|0", "330102002001|100|50|0|50|50|20|30"}},
    {"CZTDLY_SYQZD",
     "XZQDM,XZQMC,XZQZMJ,BM11,BM12,BM13,BM21,BM99",
     {"330102|上城区|415|100|5|0|200|80", "330102001|清波街道|315|100|5|0|200|0",
      "330102002|湖滨街道|100|0|0|0|0|80", "330102001001|清波一坊|115|100|5|0|0|0",
      "330102001002|清波二坊|200|0|0|0|200|0", "330102002001|湖滨一坊|100|0|0|0|0|80"}},
    {"CZZDMJHZ",
     "DJH,ZDMJ",
     {"330102001001001|105", "330102001001002|10", "330102001002001|200", "330102002001001|50",
      "330102002001002|30", "330102002001003|20"}},
};

const char* const kUnknownType = "您填写的使用权类型:31错误,请按照规范填写正确的使用权类型";

std::string LevelName(const std::string& code) {
  static const std::vector<std::pair<std::string, std::string>> names = {
      {"330102001", "清波街道"},
      {"330102002", "湖滨街道"},
      {"330102001001", "清波一坊"},
      {"330102001002", "清波二坊"},
      {"330102002001", "湖滨一坊"}};
  for (const auto& [level, name] : names) {
    if (level == code) return name;
  }
  return {};
}

class TownSummaryTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override { Load(testing::kThreeUnits); }

  void Load(const std::string& config) {
    testing::WriteStatConfig(config);
    codes_.reset(gis::RuralCode::FromEntries(testing::TownCodeEntries()));
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), Mode());
  }

  // The lot table `table` with the lots above, the column `missing` left out.
  void WriteLots(const std::string& table, const std::string& missing = "") {
    std::string columns;
    Strings written;
    for (std::size_t i = 0; i < context_->m_arrStatFields.size(); ++i) {
      const std::string& field = context_->m_arrStatFields[i];
      if (field == missing) continue;
      written.push_back(field);
      columns += (columns.empty() ? "" : ",") + field +
                 (i < 15 ? " varchar(60)" : " double precision default 0");
    }
    conn().Execute("create table " + table + " (" + columns + ")");
    db::RowWriter writer(conn(), table, written);
    for (const Lot& lot : kLots) {
      const std::string use = lot.use;
      const std::map<std::string, db::Value> values = {
          {"地籍号", lot.number},
          {"县级代码", testing::kCountyCode},
          {"县名称", "上城区"},
          {"街道代码", lot.street},
          {"街道名称", LevelName(lot.street)},
          {"街坊代码", lot.block},
          {"街坊名称", LevelName(lot.block)},
          {"使用权类型", lot.type ? db::Value(lot.type) : db::Value(nullptr)},
          {"宗地总面积", lot.area},
          {"BM" + use, lot.area},
          {"BM" + use.substr(0, 2), lot.area}};
      std::vector<db::Value> row;
      for (const std::string& field : written) {
        const auto found = values.find(field);
        const bool area = field.rfind("BM", 0) == 0;
        row.push_back(found != values.end() ? found->second
                      : area                ? db::Value(0.0)
                                            : db::Value(nullptr));
      }
      writer.Add(row);
    }
    writer.Close();
  }

  // Each table's rows against the hand sums, the tables named by `name_of`.
  void ExpectTables(const std::function<std::string(const std::string&)>& name_of) {
    for (const Expected& table : kExpected) {
      // The class tables leave the order within a level to the database.
      const std::string base = table.base;
      const std::string order = base == "CZZDMJHZ"       ? " order by DJH"
                                : base == "CZTDLY_SYQZD" ? ""
                                                         : " order by length(XZQDM), XZQDM";
      EXPECT_EQ(Rows(conn(), std::string("select ") + table.columns + " from " +
                                 name_of(table.base) + order),
                table.rows)
          << name_of(table.base);
    }
  }

  // A configuration of this test's own: tests run side by side.
  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CZdStatContext> context_;
};

// Every wanted unit gets each table, filled from that unit's lot table; the
// rows stand county, streets, blocks, each by code, and the streets add up to
// the county, the blocks to their street. A rerun replaces the tables. The
// unknown type is told once per level of each unit's table and counted.
TEST_P(TownSummaryTablesTest, TablesAddUpByLevelInEveryUnit) {
  for (short unit : context_->WantedUnits()) WriteLots(context_->UnitSources(unit).lots);
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(context_->CreateYjflzdTables(), 1);
    EXPECT_EQ(context_->SumYjflzd(), 1);
    EXPECT_EQ(context_->CreateEjflzdTables(), 1);
    EXPECT_EQ(context_->SumEjflzd(), 1);
    EXPECT_EQ(context_->CreateSyqzdTables(), 1);
    EXPECT_EQ(context_->SumSyqzd(), 1);
    EXPECT_EQ(context_->CreateZdmjhzTables(), 1);
    EXPECT_EQ(context_->SumZdmjhz(), 1);
  }
  ASSERT_EQ(context_->WantedUnits(), (std::vector<short>{kHectare, kMu, kSquareMetre}));
  for (short unit : context_->WantedUnits()) {
    ExpectTables([&](const std::string& base) { return context_->TownSummaryTable(unit, base); });
  }
  EXPECT_EQ(notifier.messages, Strings(2 * 3 * 3, kUnknownType));
  EXPECT_EQ(context_->m_nErrCount, 2 * 3 * 3);
  EXPECT_EQ(context_->m_arrFirstFailures[1], "2 汇总使用权类型表 街道使用权类型31错误");
}

// With hectares alone one table of each kind, "ZGQ". The lot table lacks
// 街道名称: the first level goes on with its blocks, the second level and
// the use-right table stop with the county row. Every failure is counted and
// logged with its own words.
TEST_P(TownSummaryTablesTest, FailuresByLevelAndTable) {
  Load("[AreaUnit]\nUnit1=公顷\n[PointLen]\nLen1=4\n");
  const std::string lots = context_->UnitSources(kHectare).lots;
  WriteLots(lots, "街道名称");
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  for (short (CZdStatContext::*create)() :
       {&CZdStatContext::CreateYjflzdTables, &CZdStatContext::CreateEjflzdTables,
        &CZdStatContext::CreateSyqzdTables, &CZdStatContext::CreateZdmjhzTables}) {
    EXPECT_EQ(((*context_).*create)(), 1);
  }
  for (const Expected& table : kExpected) {
    for (short unit : {kHectare, kMu, kSquareMetre}) {
      EXPECT_EQ(context_->IsTableExist(context_->TownSummaryTable(unit, table.base)),
                unit == kHectare ? 1 : 0);
    }
  }
  const auto table = [&](const char* base) { return context_->TownSummaryTable(kHectare, base); };
  struct Case {
    std::function<short()> run;
    short result;
    int logged;
    std::string line;
  };
  CZdStatContext& c = *context_;
  const Case cases[] = {
      {[&] { return c.SumYjflzdTable(table("CZTDLY_YJFLZD"), lots); }, 1, 1,
       "汇总城镇土地利用一级 街道数据汇总失败 ("},
      {[&] { return c.SumEjflzdTable(table("CZTDLY_EJFLZD"), lots); }, 0, 1,
       "汇总城镇土地利用二级 街道数据汇总失败 ("},
      {[&] { return c.SumSyqzdTable(table("CZTDLY_SYQZD"), lots); }, 0, 2,
       "汇总使用权类型表 汇总使用权类型表失败 ("},
      {[&] { return c.SumSyqzdTable("no_such_table", lots); }, 0, 1,
       "连接使用权类型表 连接使用权类型表失败 ("},
      {[&] { return c.SumZdmjhzTable("no_such_table", lots); }, 0, 1,
       "城镇宗地面积汇总表 汇总城镇宗地面积失败 ("},
      {[&] { return c.CreateYjflzdTable("bad name"); }, 0, 1,
       "建立城镇土地一级汇总表 CZTDLY_YJFLZD ("},
      {[&] { return c.CreateEjflzdTable("bad name"); }, 0, 1,
       "建立城镇土地二级汇总表 CZTDLY_EJFLZD ("},
      {[&] { return c.CreateSyqzdTable("bad name"); }, 0, 1, "建立使用权类型表 CZTDLY_SYQZD ("},
      {[&] { return c.CreateZdmjhzTable("bad name"); }, 0, 1, "建立城镇宗地面积汇总表 CZZDMJHZ ("},
  };
  for (const Case& one : cases) {
    const int before = c.m_nErrCount;
    EXPECT_EQ(one.run(), one.result) << one.line;
    EXPECT_EQ(c.m_nErrCount - before, one.logged) << one.line;
    EXPECT_EQ(c.m_strLogLine.rfind(std::to_string(c.m_nErrCount) + " " + one.line, 0), 0u)
        << c.m_strLogLine;
  }
  const auto codes = [&](const char* base) {
    return testing::Texts(conn(), "select XZQDM from " + table(base));
  };
  EXPECT_EQ(codes("CZTDLY_YJFLZD"),
            (Strings{"330102", "330102001001", "330102001002", "330102002001"}));
  EXPECT_EQ(codes("CZTDLY_EJFLZD"), Strings{"330102"});
  EXPECT_EQ(codes("CZTDLY_SYQZD"), Strings{"330102"});
  EXPECT_EQ(notifier.messages, Strings{kUnknownType});
}

// The unit conversion's twins read the extension table into the unit-less
// table ("D" + year + county on the server; the per-unit tables carry no
// "D"); the use-right twin tells every row of an unknown type.
TEST_P(TownSummaryTablesTest, DatedTwinsFromTheExtensionTable) {
  EXPECT_EQ(context_->DatedTable("CZTDLY_YJFLZD"),
            IsServer() ? "D2009330102CZTDLY_YJFLZD" : "CZTDLY_YJFLZD");
  EXPECT_EQ(context_->TownSummaryTable(kMu, "CZZDMJHZ"),
            IsServer() ? "ZMU2009330102CZZDMJHZ" : "ZMUCZZDMJHZ");
  WriteLots(context_->DatedSources().lots);
  EXPECT_EQ(context_->DatedSources().lots,
            IsServer() ? "D2009330102statdata_czzdex" : "statdata_czzdex");
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  EXPECT_EQ(context_->CreateYjflzdTableDated(), 1);
  EXPECT_EQ(context_->CreateEjflzdTableDated(), 1);
  EXPECT_EQ(context_->SumYjflzdDated(), 1);
  EXPECT_EQ(context_->SumEjflzdDated(), 1);
  EXPECT_EQ(context_->CreateSyqzdTableDated(), 1);
  EXPECT_EQ(context_->SumSyqzdDated(), 1);
  EXPECT_EQ(context_->CreateZdmjhzTableDated(), 1);
  EXPECT_EQ(context_->SumZdmjhzDated(), 1);
  ExpectTables([&](const std::string& base) { return context_->DatedTable(base); });
  // The county, both streets and both blocks that hold type 31.
  EXPECT_EQ(notifier.messages,
            Strings(5, "table " + context_->DatedTable("CZTDLY_SYQZD") + " has no column BM31"));
  EXPECT_EQ(context_->m_nErrCount, 5);
}

// The create texts with each engine's type word, Oracle's on the server's
// context configured as Oracle.
TEST_P(TownSummaryTablesTest, CreateTextsByEngine) {
  const auto texts = [&](const std::string& word) {
    EXPECT_EQ(TownCreateStatement(*context_, kTownYjflzd, "T"),
              "Create Table T(XZQDM varchar(19) ,XZQMC varchar(60) ,XZQZMJ " + word +
                  " default 0.00,BM05 " + word + " default 0.00,BM07 " + word + " default 0.00)");
    EXPECT_EQ(TownCreateStatement(*context_, kTownZdmjhz, "T"),
              "Create Table T(DJH varchar(60) ,ZDMJ " + word + " default 0.00)");
    EXPECT_NE(TownCreateStatement(*context_, kTownEjflzd, "T")
                  .find("XZQZMJ " + word + " default 0.00,BM05 " + word + " default 0.00,BM051 "),
              std::string::npos);
    const std::string use_rights = TownCreateStatement(*context_, kTownSyqzd, "T");
    EXPECT_NE(use_rights.find(",BM15 " + word + " default 0.00,BM21 "), std::string::npos);
    const std::string last = ",BM99 " + word + " default 0.00)";
    EXPECT_EQ(use_rights.substr(use_rights.size() - last.size()), last);
  };
  texts(IsServer() ? "float" : "double");
  if (!IsServer()) return;
  context_->m_nDbType = 2;
  texts("NUMBER");
}

LANDSTAT_BOTH_ENGINES(TownSummaryTablesTest);

}  // namespace
}  // namespace landstat
