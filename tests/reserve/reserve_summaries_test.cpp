// The reserve class-area summaries (MJ_GDHB, MJ_GDHBOLD) and the grade
// summary (PJ_GDHB): rows per level and kind from hand-made unit copies of
// ZB_GDHB, the survey-area text, the units made, the failures, the rounding
// and balancing along the column trees, and the whole reserve block on a
// generated county.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "landuse/generated_county_run.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_fixtures.h"
#include "reserve/reserve_parcel_tables.h"
#include "reserve/reserve_summary_tables.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using Strings = std::vector<std::string>;

struct Parcel {
  std::string village, village_name, survey, level, ownership, new_type, old_type, grade;
  double area;
};

const std::map<std::string, std::string> kTownships = {{"330102001", "一乡"},
                                                       {"330102002", "二乡"}};

// Three villages in two townships, a group each. 0.0009 is below the
// threshold, 0.001 counts; "外来类型" and "外来等级" are in no vocabulary,
// "开发" names no grade.
const std::vector<Parcel> kParcels = {
    {"330102001001", "甲村", "东区", "国家级", "10", "Ⅰ4可开垦滩涂", "Ⅰ5可开垦滩涂", "易开发土地",
     100},
    {"330102001001", "甲村", "东区北", "省级", "30", "Ⅱ1废弃压占土地", "Ⅱ1废弃压占土地",
     "较难复垦土地", 50},
    {"330102001002", "乙村", "西区", "省级", "21", "Ⅰ1可开垦其他草地", "Ⅰ4可开垦苇地", "开发", 20},
    {"330102002001", "丙村", "南区", "国家级", "41", "外来类型", "外来类型", "外来等级", 7},
    {"330102002001", "丙村", "北区", "省级", "41", "Ⅱ3自然灾毁土地", "Ⅱ3自然灾毁土地", "易复垦土地",
     0.0009},
    {"330102002001", "丙村", "中区", "省级", "41", "Ⅱ2挖掘及塌陷破坏地", "Ⅱ2挖掘及塌陷破坏地",
     "较易复垦土地", 0.001},
};

Strings Sorted(Strings rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<gis::CODESTRUCT> CodesWithoutGroups() {
  std::vector<gis::CODESTRUCT> codes = testing::SmallCodeEntries();
  std::erase_if(codes, [](const gis::CODESTRUCT& c) { return c.type == "组行政代码"; });
  return codes;
}

class ReserveSummariesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);  // hectares with 4 decimals
    const std::string survey = home_.File("reserve.gpkg");
    testing::WriteFixtureLayer(survey, "耕地后备资源图斑", wkbPolygon, {{"ID", OFTString}},
                               {{"POLYGON((0 0,1 0,1 1,0 0))", {{"ID", "1"}}}});
    layer_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(survey, "耕地后备资源图斑"));
    UseCodes(testing::SmallCodeEntries());
  }

  void UseCodes(const std::vector<gis::CODESTRUCT>& entries) {
    context_.reset();
    codes_.reset(gis::RuralCode::FromEntries(entries));
    context_ = testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
    context_->m_aiGdhb = *layer_;
  }

  std::string Table(short unit, const std::string& base) const {
    return context_->GdhbUnitTable(unit, base);
  }

  // The unit copies of ZB_GDHB by hand, each with `parcels`.
  void MakeCopies(const std::vector<Parcel>& parcels) {
    std::string marks = "?";
    for (int column = 1; column < 30; ++column) marks += ",?";
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      const std::string copy = Table(unit, "ZB_GDHB");
      conn().Execute(GdhbCreateStatement(copy, IsServer() ? 1 : 0));
      for (const Parcel& p : parcels) {
        const std::string township = p.village.substr(0, 9);
        const std::string group = p.village + "0010000";
        const std::vector<db::Value> values = {
            group,
            "1",
            p.area,
            "浙江省",
            "33",
            "杭州市",
            "3301",
            "上城区",
            "330102",
            kTownships.count(township) ? kTownships.at(township) : "",
            township,
            p.village_name,
            p.village,
            "2001010100",
            "H50G0001",
            p.survey,
            "1",
            "1",
            p.level,
            p.old_type,
            p.new_type,
            "0",
            "0",
            "043",
            "其他草地",
            p.ownership,
            group,
            p.village_name + "组",
            p.village_name + "组",
            p.grade};
        conn().Execute("insert into " + copy + " values (" + marks + ")", values);
      }
    }
  }

  // The rows of a summary table with the figures rounded to 4 decimals,
  // sorted byte by byte.
  Strings Summary(short unit, const std::string& base, const std::string& columns,
                  const std::string& where = "") {
    std::string list;
    for (std::size_t start = 0; start < columns.size();) {
      std::size_t end = columns.find(',', start);
      if (end == std::string::npos) end = columns.size();
      const std::string column = columns.substr(start, end - start);
      const bool text =
          column == "XZQDM" || column == "XZQMC" || column == "DCQMC" || column == "QSXZNGDHBJB";
      list += (list.empty() ? "" : ",") + (text ? column : "round(" + column + ",4)");
      start = end + 1;
    }
    return Sorted(testing::Rows(conn(), "select " + list + " from " + Table(unit, base) + where));
  }
  long Count(const std::string& table, const std::string& where = "") {
    return static_cast<long>(conn().Scalar("select count(*) from " + table + where).AsInteger());
  }
  bool LoggedWith(const std::string& part) const {
    return std::any_of(
        context_->m_arrFirstFailures.begin(), context_->m_arrFirstFailures.end(),
        [&](const std::string& line) { return line.find(part) != std::string::npos; });
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<testing::ScopedLayer> layer_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

// Rows per level and kind in both type schemes: one row per code with an
// area of 0.001 or more (stored rounded to the square metre's two
// decimals: a row of 0.001 holds 0), kinds told apart by QSXZNGDHBJB (NULL over all
// parcels), new Ⅰ4 and old Ⅰ5 both in KKKTYD, old Ⅰ4 in KKKWD, a type
// outside the vocabulary a row without area, the survey areas listed in
// order; group rows only with group codes.
TEST_P(ReserveSummariesTest, AreaRowsByLevelAndKind) {
  const Strings all_rows = {
      "330102001001|甲村|东区,东区北|150|100|0|100|50|50|0",
      "330102001002|乙村|西区|20|20|20|0|0|0|0",
      "330102001|一乡|东区,东区北,西区|170|120|20|100|50|50|0",
      "330102002001|丙村|中区,南区|0|0|0|0|0|0|0",
      "330102002|二乡|中区,南区|0|0|0|0|0|0|0",
      "330102|上城区|东区,东区北,中区,南区,西区|170|120|20|100|50|50|0",
  };
  const Strings county_rows = {
      "330102|上城区||170|120|0|20|100|50",    "330102|上城区|国家级|100|100|0|0|100|0",
      "330102|上城区|国有|120|120|0|20|100|0", "330102|上城区|省级|70|20|0|20|0|50",
      "330102|上城区|集体|50|0|0|0|0|50",
  };
  struct Case {
    bool groups;
    Strings counts;  // kind|code length|rows
  };
  const Case cases[] = {
      {true, {"|12|3",       "|19|3",      "|6|1",       "|9|2",      "国家级|12|2",
              "国家级|19|2", "国家级|6|1", "国家级|9|2", "国有|12|2", "国有|19|2",
              "国有|6|1",    "国有|9|1",   "省级|12|3",  "省级|19|3", "省级|6|1",
              "省级|9|2",    "集体|12|2",  "集体|19|2",  "集体|6|1",  "集体|9|2"}},
      {false,
       {"|12|3", "|6|1", "|9|2", "国家级|12|2", "国家级|6|1", "国家级|9|2", "国有|12|2", "国有|6|1",
        "国有|9|1", "省级|12|3", "省级|6|1", "省级|9|2", "集体|12|2", "集体|6|1", "集体|9|2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.groups ? "group codes" : "no group codes");
    if (!c.groups) UseCodes(CodesWithoutGroups());
    if (c.groups) MakeCopies(kParcels);
    ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
    ASSERT_EQ(context_->BuildGdhbAreaSummary(), 1);
    ASSERT_EQ(context_->CreateGdhbOldAreaSummaryTables(), 1);
    ASSERT_EQ(context_->BuildGdhbOldAreaSummary(), 1);
    EXPECT_EQ(context_->m_nErrCount, 0);
    for (const char* base : {"MJ_GDHB", "MJ_GDHBOLD"}) {
      EXPECT_EQ(
          Sorted(testing::Rows(
              conn(), "select coalesce(QSXZNGDHBJB,''), length(XZQDM), count(*) from " +
                          Table(kSquareMetre, base) + " group by QSXZNGDHBJB, length(XZQDM)")),
          c.counts)
          << base;
    }
    Strings rows = Summary(kSquareMetre, "MJ_GDHB",
                           "XZQDM,XZQMC,DCQMC,GDHBMJ,KKKMJ,KKKCD,KKKTYD,KFKMJ,KFKFQYZD,KFKTTD",
                           " where QSXZNGDHBJB IS NULL and length(XZQDM) < 19");
    EXPECT_EQ(rows, all_rows);
    EXPECT_EQ(Summary(kSquareMetre, "MJ_GDHBOLD",
                      "XZQDM,XZQMC,QSXZNGDHBJB,GDHBMJ,KKKMJ,KKKCD,KKKWD,KKKTYD,KFKMJ",
                      " where XZQDM = '330102'"),
              county_rows);
  }
}

// Rows are grouped as the database groups them: a NULL survey area apart
// from an empty one (two rows of 0.0006 each below the threshold, not one
// of 0.0012 above it), a NULL ownership in neither ownership kind.
TEST_P(ReserveSummariesTest, AreaRowsGroupNullApart) {
  MakeCopies({{"330102001001", "甲村", "N", "省级", "30", "Ⅱ1废弃压占土地", "", "", 0.0006},
              {"330102001001", "甲村", "", "省级", "30", "Ⅱ1废弃压占土地", "", "", 0.0006},
              {"330102001002", "乙村", "西区", "省级", "X", "Ⅱ1废弃压占土地", "", "", 5}});
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    conn().Execute("update " + Table(unit, "ZB_GDHB") +
                   " set 调查区名称 = case when 调查区名称 = 'N' then NULL else 调查区名称 end,"
                   " 权属性质 = case when 权属性质 = 'X' then NULL else 权属性质 end");
  }
  ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
  ASSERT_EQ(context_->BuildGdhbAreaSummary(), 1);
  EXPECT_EQ(Summary(kSquareMetre, "MJ_GDHB", "XZQDM,DCQMC,QSXZNGDHBJB,GDHBMJ"),
            Sorted({"330102001002|西区||5", "3301020010020010000|西区||5", "330102001|西区||5",
                    "330102|西区||5", "330102001002|西区|省级|5", "3301020010020010000|西区|省级|5",
                    "330102001|西区|省级|5", "330102|西区|省级|5"}));
}

// The grade summary: a row per unit, grades to their columns and class
// totals; "开发" alone and a grade outside the list a row without area;
// 0.0009 left out, 0.001 counted (its row stored as 0 on the square metre's
// two decimals); group rows only with group codes.
TEST_P(ReserveSummariesTest, GradeRowsByLevel) {
  const Strings rows = {
      "330102001001|甲村|150|100|100|0|0|50|0|0|50",
      "330102001002|乙村|0|0|0|0|0|0|0|0|0",
      "330102002001|丙村|0|0|0|0|0|0|0|0|0",
      "330102|上城区|150|100|100|0|0|50|0|0|50",
  };
  MakeCopies(kParcels);
  for (bool groups : {true, false}) {
    SCOPED_TRACE(groups);
    if (!groups) UseCodes(CodesWithoutGroups());
    ASSERT_EQ(context_->CreateGdhbGradeSummaryTables(), 1);
    ASSERT_EQ(context_->BuildGdhbGradeSummary(), 1);
    EXPECT_EQ(context_->m_nErrCount, 0);
    const std::string columns =
        "XZQDM,XZQMC,GDHBMJ,KKKMJ,KKKYKK,KKKJYKK,KKKJNKK,KFKMJ,KFKYKK,KFKJYKK,KFKJNKK";
    EXPECT_EQ(Summary(kSquareMetre, "PJ_GDHB", columns, " where length(XZQDM) in (6, 12)"), rows);
    EXPECT_EQ(Count(Table(kSquareMetre, "PJ_GDHB"), " where length(XZQDM) = 9"), 2);
    EXPECT_EQ(Count(Table(kSquareMetre, "PJ_GDHB"), " where length(XZQDM) = 19"), groups ? 3 : 0);
  }
}

// The survey-area text: a name inside one listed is not listed again, so
// the order met matters; names are added while the text is below 150
// bytes (a Chinese character two), and never past the column's 200.
TEST_P(ReserveSummariesTest, SurveyAreaText) {
  std::vector<Parcel> parcels;
  const auto add = [&](const std::string& village, const std::string& name,
                       const std::string& survey) {
    parcels.push_back({village, name, survey, "省级", "30", "Ⅱ1废弃压占土地", "", "", 1});
  };
  // Rows of one code are taken in order of name, then survey area.
  add("330102001001", "乙", "东区北");
  add("330102001001", "甲", "东区");
  add("330102001002", "丙", "东区");
  add("330102001002", "丙", "东区北");
  Strings numbered;
  for (int i = 0; i < 10; ++i) {
    numbered.push_back("第" + std::to_string(i) + "调查区名称甲乙");  // 17 bytes
    add("330102002001", "丁", numbered.back());
  }
  const std::string a(79, 'A'), b(69, 'B'), c(80, 'C');  // A and B make 149 bytes
  for (const std::string& survey : {a, b, c, std::string("D"), std::string("E")}) {
    add("330102002002", "戊", survey);
  }
  MakeCopies(parcels);
  ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
  ASSERT_EQ(context_->FillGdhbAreaSummary(2, "PM"), 1);
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += (i ? "," : "") + numbered[i];
  EXPECT_EQ(testing::Rows(
                conn(), "select DCQMC from " + Table(kSquareMetre, "MJ_GDHB") + " order by XZQDM"),
            (Strings{"东区北", "东区,东区北", nine, a + "," + b + ",D"}));
}

// What is made in which unit, and the failures: a failing hectare copy
// leaves the mu table unmade; missing unit copies of ZB_GDHB and a text
// longer than its column end the build with 0, logged, without the
// fill's rows.
TEST_P(ReserveSummariesTest, UnitsAndFailures) {
  MakeCopies(kParcels);
  context_->m_bPm = false;
  ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
  ASSERT_EQ(context_->BuildGdhbAreaSummary(), 1);
  ASSERT_EQ(context_->CreateGdhbGradeSummaryTables(), 1);
  ASSERT_EQ(context_->BuildGdhbGradeSummary(), 1);
  for (const char* base : {"MJ_GDHB", "PJ_GDHB"}) {
    EXPECT_EQ(Count(Table(kSquareMetre, base)), 0) << base;
    EXPECT_GT(Count(Table(kHectare, base)), 0) << base;
    EXPECT_GT(Count(Table(kMu, base)), 0) << base;
  }

  // An index holds the hectare table's name.
  conn().Execute("create index " + Table(kHectare, "MJ_GDHBOLD") + " on " +
                 Table(kSquareMetre, "ZB_GDHB") + " (XZQDM)");
  EXPECT_EQ(context_->CreateGdhbOldAreaSummaryTables(), 0);
  EXPECT_TRUE(LoggedWith("耕地后备资源分类面积汇总表 耕地后备资源分类面积汇总表失败"));
  EXPECT_FALSE(context_->IsTableExist(Table(kMu, "MJ_GDHBOLD")));

  struct Case {
    const char* what;
    std::function<short()> build;
    const char* base;
    std::string logged;
  };
  const Case cases[] = {
      {"no unit copies", [&] { return context_->BuildGdhbAreaSummary(); }, "MJ_GDHB",
       "耕地后备面积汇总 选择数据失败"},
      {"no unit copies", [&] { return context_->BuildGdhbGradeSummary(); }, "PJ_GDHB",
       "耕地后备评价等级汇总 选择数据失败"},
      {"name too long", [&] { return context_->BuildGdhbAreaSummary(); }, "MJ_GDHB",
       "耕地后备面积汇总 " + Table(kSquareMetre, "MJ_GDHB")},
      {"name too long", [&] { return context_->BuildGdhbGradeSummary(); }, "PJ_GDHB",
       "耕地后备评价等级汇总 " + Table(kSquareMetre, "PJ_GDHB")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + c.base);
    context_->m_bPm = true;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      if (context_->IsTableExist(Table(unit, "ZB_GDHB")))
        context_->DropTable(Table(unit, "ZB_GDHB"));
    }
    if (std::string(c.what) == "name too long") {
      MakeCopies(kParcels);
      for (short unit : {kSquareMetre, kHectare, kMu}) {
        conn().Execute("update " + Table(unit, "ZB_GDHB") + " set 县名称 = ?",
                       {std::string(61, 'N')});
      }
    }
    ASSERT_EQ(std::string(c.base) == "PJ_GDHB" ? context_->CreateGdhbGradeSummaryTables()
                                               : context_->CreateGdhbAreaSummaryTables(),
              1);
    const int before = context_->m_nErrCount;
    EXPECT_EQ(c.build(), 0);
    EXPECT_EQ(context_->m_nErrCount, before + 1);
    EXPECT_TRUE(LoggedWith(c.logged)) << context_->m_arrFirstFailures.back();
    EXPECT_EQ(Count(Table(kSquareMetre, c.base)), 0);
  }
}

// A summary table in memory: code, kind ("" over all parcels) and the
// area columns in tree order.
struct SummaryRow {
  std::string code, kind;
  std::vector<double> areas;
};
std::vector<SummaryRow> ReadSummary(db::Connection& conn, const std::string& table,
                                    const reserve::SummaryTree& tree) {
  std::vector<SummaryRow> rows;
  for (db::Recordset rs(conn, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
    SummaryRow& row = rows.emplace_back();
    row.code = rs.Text("XZQDM");
    row.kind = rs.HasField("QSXZNGDHBJB") ? rs.Text("QSXZNGDHBJB") : "";
    for (const std::string& column : tree.Columns()) row.areas.push_back(rs.Number(column));
  }
  return rows;
}

// Every figure on the 2-decimal grid, each class total the sum of its
// leaves, GDHBMJ the sum of the two totals.
void ExpectTreeHolds(const std::vector<SummaryRow>& rows, const reserve::SummaryTree& tree) {
  const std::size_t second = tree.RecultivableTotal();
  for (const SummaryRow& row : rows) {
    SCOPED_TRACE(row.code + " " + row.kind);
    const std::vector<double>& a = row.areas;
    for (double value : a) EXPECT_NEAR(value, RoundToDecimals(value, 2), 1e-9);
    double first = 0, other = 0;
    for (std::size_t i = 2; i < second; ++i) first += a[i];
    for (std::size_t i = second + 1; i < a.size(); ++i) other += a[i];
    EXPECT_NEAR(a[1], first, 1e-9);
    EXPECT_NEAR(a[second], other, 1e-9);
    EXPECT_NEAR(a[0], a[1] + a[second], 1e-9);
  }
}

// Rounding and balancing along each tree, with hectares configured to 4
// decimals: the steps are of the 2 decimals rounded to. Rows by formula
// (leaves of 3 decimals, totals their sums) end consistent, each leaf
// within one step of its rounded figure; the square-metre table keeps
// its figures.
TEST_P(ReserveSummariesTest, RoundAndBalanceKeepsEveryTree) {
  ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
  ASSERT_EQ(context_->CreateGdhbOldAreaSummaryTables(), 1);
  ASSERT_EQ(context_->CreateGdhbGradeSummaryTables(), 1);
  for (const reserve::SummaryTree* tree :
       {&reserve::kNewTypeTree, &reserve::kOldTypeTree, &reserve::kGradeTree}) {
    SCOPED_TRACE(tree->base);
    const std::vector<std::string> columns = tree->Columns();
    std::map<std::string, std::vector<double>> raw;
    for (int r = 0; r < 40; ++r) {
      std::vector<double> areas = reserve::NoAreas(*tree);
      for (int klass : {1, 2}) {
        const auto& leaves = klass == 1 ? tree->reclaimable : tree->recultivable;
        for (std::size_t i = 0; i < leaves.size(); ++i) {
          const int thousandths = (r * 397 + static_cast<int>(i) * 211) % 1000;
          if ((r + i) % 4 == 0 || thousandths % 10 == 5) continue;  // no ties, some zeros
          reserve::Book(*tree, areas, klass, i, (r % 3) + thousandths / 1000.0);
        }
      }
      raw["R" + std::to_string(r)] = areas;
    }
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      std::string names = "XZQDM", marks = "?";
      for (const std::string& column : columns) {
        names += "," + column;
        marks += ",?";
      }
      for (const auto& [code, areas] : raw) {
        std::vector<db::Value> values = {code};
        for (double area : areas) values.emplace_back(area);
        conn().Execute(
            "insert into " + Table(unit, tree->base) + " (" + names + ") values (" + marks + ")",
            values);
      }
    }
    ASSERT_EQ(context_->RoundAndBalanceTable(tree->base, &columns, 2), 1);
    EXPECT_EQ(context_->m_nErrCount, 0);
    for (short unit : {kHectare, kMu}) {
      const std::vector<SummaryRow> rows = ReadSummary(conn(), Table(unit, tree->base), *tree);
      ASSERT_EQ(rows.size(), raw.size());
      ExpectTreeHolds(rows, *tree);
      for (const SummaryRow& row : rows) {
        EXPECT_NEAR(row.areas[0], raw[row.code][0], 0.005 + 1e-9) << row.code;
        for (std::size_t i = 2; i < columns.size(); ++i) {
          if (i == tree->RecultivableTotal()) continue;  // totals follow their leaves
          EXPECT_NEAR(row.areas[i], raw[row.code][i], 0.015 + 1e-9) << row.code << columns[i];
        }
      }
    }
    for (const SummaryRow& row : ReadSummary(conn(), Table(kSquareMetre, tree->base), *tree)) {
      for (std::size_t i = 0; i < columns.size(); ++i) {
        EXPECT_NEAR(row.areas[i], raw[row.code][i], 1e-9) << row.code << columns[i];
      }
    }
  }
}

// Rows of MJ_GDHB by hand: class totals are rebuilt from their types
// first, the difference then goes to the types one step each and the
// totals follow; a difference larger than the totals is logged and the
// row left as rounded.
TEST_P(ReserveSummariesTest, RoundAndBalanceRows) {
  const std::string columns =
      "GDHBMJ,KKKMJ,KKKCD,KKKYJD,KKKZHZD,KKKTYD,KKKQTD,KFKMJ,KFKFQYZD,KFKTTD,KFKSHD";
  struct Case {
    const char* code;
    const char* values;  // in the order of `columns`
    const char* balanced;
  };
  const Case cases[] = {
      {"A", "2.006,1.002,0.334,0.334,0.334,0,0,1.004,0.004,1,0",
       "A|2.01|1.01|0.34|0.34|0.33|0|0|1|0|1|0"},
      {"B", "5,1,1,0,0,0,0,0,0,0,0", "B|5|1|1|0|0|0|0|0|0|0|0"},
      {"C", "0.994,0.672,0.336,0.336,0,0,0,0.322,0,0.322,0",
       "C|0.99|0.67|0.33|0.34|0|0|0|0.32|0|0.32|0"},
  };
  ASSERT_EQ(context_->CreateGdhbAreaSummaryTables(), 1);
  Strings expected;
  for (const Case& c : cases) {
    conn().Execute("insert into " + Table(kHectare, "MJ_GDHB") + " (XZQDM," + columns +
                   ") values ('" + c.code + "'," + c.values + ")");
    expected.push_back(c.balanced);
  }
  const std::vector<std::string> list = reserve::kNewTypeTree.Columns();
  ASSERT_EQ(context_->RoundAndBalanceTable("MJ_GDHB", &list, 2), 1);
  EXPECT_EQ(Summary(kHectare, "MJ_GDHB", "XZQDM," + columns), expected);
  EXPECT_EQ(context_->m_nErrCount, 1);
  EXPECT_TRUE(LoggedWith("平差分类面积失败 " + Table(kHectare, "MJ_GDHB") + " B"));
}

LANDSTAT_BOTH_ENGINES(ReserveSummariesTest);

// The whole reserve block on a generated county. The square-metre tables
// add up exactly from villages to townships to the county in every kind,
// the hectare and mu tables within the rounding of their rows; the
// state-owned and collective rows add up to the rows over all parcels
// (every parcel has an ownership of 1 to 4); every tree holds in the
// hectare and mu tables.
class ReserveSummaryCountyTest : public BothEngines {};

TEST_P(ReserveSummaryCountyTest, ReserveBlockOnGeneratedCounty) {
  testing::ScopedProgramDir home;
  testing::WriteStatConfig(testing::kThreeUnits);
  const testing::GeneratedCountyRun generated(home, 29, 1500);
  testing::ScopedLayer reserve(gis::OpenLayer(generated.files.survey, "耕地后备资源图斑"));
  CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, reserve, 0, generated.codes.get(), "2009",
                       generated.options.county_code, "", 1, "");
  ASSERT_EQ(context.InitUnits(database().ConnectionString(), Mode()), 1);
  ASSERT_EQ(context.LoadCodes(), 1);
  ASSERT_EQ(context.StatGdhb(), 1);
  EXPECT_EQ(context.m_nErrCount, 0)
      << (context.m_arrFirstFailures.empty() ? "" : context.m_arrFirstFailures.front());

  for (const reserve::SummaryTree* tree :
       {&reserve::kNewTypeTree, &reserve::kOldTypeTree, &reserve::kGradeTree}) {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      SCOPED_TRACE(std::string(tree->base) + UnitPrefix(unit));
      const auto rows = ReadSummary(conn(), context.GdhbUnitTable(unit, tree->base), *tree);
      ASSERT_FALSE(rows.empty());
      if (unit != kSquareMetre) ExpectTreeHolds(rows, *tree);
      std::map<std::string, const SummaryRow*> by_key;
      for (const SummaryRow& row : rows) by_key[row.kind + "|" + row.code] = &row;
      // Children summed by their parent's key, with their count.
      std::map<std::string, std::pair<std::vector<double>, int>> sums;
      for (const SummaryRow& row : rows) {
        const std::size_t parent = row.code.size() == 12 ? 9 : row.code.size() == 9 ? 6 : 0;
        if (parent == 0) continue;
        auto& [sum, count] = sums[row.kind + "|" + row.code.substr(0, parent)];
        sum.resize(row.areas.size());
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += row.areas[i];
        ++count;
      }
      ASSERT_FALSE(sums.empty());
      for (const auto& [key, sum] : sums) {
        ASSERT_TRUE(by_key.count(key)) << key;
        const double within = unit == kSquareMetre ? 1e-6 : 0.05 * (sum.second + 1);
        for (std::size_t i = 0; i < sum.first.size(); ++i) {
          EXPECT_NEAR(sum.first[i], by_key[key]->areas[i], within) << key << " " << i;
        }
      }
      if (tree == &reserve::kGradeTree) continue;
      for (const auto& [key, row] : by_key) {
        if (!row->kind.empty()) continue;
        const SummaryRow* state = by_key.count("国有" + key) ? by_key["国有" + key] : nullptr;
        const SummaryRow* collective = by_key.count("集体" + key) ? by_key["集体" + key] : nullptr;
        for (std::size_t i = 0; i < row->areas.size(); ++i) {
          const double parts =
              (state ? state->areas[i] : 0) + (collective ? collective->areas[i] : 0);
          EXPECT_NEAR(parts, row->areas[i], unit == kSquareMetre ? 1e-6 : 0.05) << key;
        }
      }
    }
  }
}

LANDSTAT_BOTH_ENGINES(ReserveSummaryCountyTest);

}  // namespace
}  // namespace landstat
