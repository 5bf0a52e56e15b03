// The farmland tables by protection block: the per-block sums and subtotals
// of the fixed and the all-class table, the "山东" remark filter, the
// tables each unit flag makes, the failures, the texts for Oracle and the
// unit-less table of the unit conversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "engine/survey_fixture.h"
#include "engine/table_family.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::Rows;
using Strings = std::vector<std::string>;

// The classes of the fixed table besides those of the small code list.
const char* const kExtraClasses[] = {"BM012", "BM02", "BM03", "BM04"};

// Block, remark, then 土地总面积, BM01, BM011, BM012, BM013, BM02, BM03,
// BM04, BM10, BM11, BM12, BM20 (NULL where empty). In block A the stored
// BM01 differs from its three classes; block B has no cultivated land.
const char* const kCopyRows[] = {
    "'A',NULL,     98,100,60,NULL,30,5,NULL,NULL,1,NULL,NULL,2",
    "'A','TC',   1000,1000,1000,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL",
    "'A','',       10,7,NULL,7,NULL,NULL,NULL,3,NULL,NULL,NULL,NULL",
    "'B','K',       4,NULL,NULL,NULL,NULL,NULL,4,NULL,NULL,NULL,NULL,NULL",
    "NULL,NULL,    17,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,8,9,NULL",
};

class JbntBlockTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    codes_.reset(gis::RuralCode::FromEntries(testing::SmallCodeEntries()));
    context_ = testing::LoadedContext(codes_.get(), database().ConnectionString(), Mode());
    for (const char* column : kExtraClasses) context_->m_arrStatFields.push_back(column);
  }

  // The unit copies by hand, each with the rows above.
  void MakeCopies() {
    std::string columns = "保护片编号 varchar(60),调入备注 varchar(20),土地总面积 double precision";
    for (const std::string& field : context_->m_arrStatFields) {
      if (field.rfind("BM", 0) == 0) columns += "," + field + " double precision";
    }
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      const std::string copy = Copy(unit);
      conn().Execute("create table " + copy + " (" + columns + ")");
      for (const char* values : kCopyRows) {
        conn().Execute("insert into " + copy +
                       " (保护片编号,调入备注,土地总面积,BM01,BM011,BM012,BM013,BM02,BM03,BM04,"
                       "BM10,BM11,BM12,BM20) values (" +
                       values + ")");
      }
    }
  }

  std::string Copy(short unit) const { return context_->Names().UnitCopy(unit, "statdata_jbnt"); }
  std::string Table(short unit, const char* base) const {
    return context_->Names().Summary('Z', unit, base);
  }
  Strings FixedRows(short unit) {
    return Rows(conn(),
                "select BHKBH, ZHJ, BM01HJ, BM011, BM012, BM013, QTHJ, BM02, BM03, BM04, BM10, "
                "BM11, BM12, BM20 from " +
                    Table(unit, "JBNTBHKQKTJ") + " order by coalesce(BHKBH, '')");
  }
  Strings AllClassRows(short unit) {
    return Rows(conn(), "select BHKBH, ZHJ, BM01, BM011, BM013, BM10, BM11, BM12, BM20 from " +
                            Table(unit, "JBNTNEWBHKQKTJ") + " order by coalesce(BHKBH, '')");
  }
  bool Exists(const std::string& table) { return context_->IsTableExist(table) != 0; }

  testing::ScopedProgramDir home_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<CStatContext> context_;
};

// The per-block sums in every unit, with and without the "山东" filter:
// 'TC' rows are left out there, rows without a remark or with an empty
// one are kept. ZHJ is QTHJ and the three cultivated classes, whatever the
// stored BM01; a NULL sum is 0; NULL blocks form their own row.
TEST_P(JbntBlockTablesTest, BlockSumsAndSubtotals) {
  struct Case {
    const char* version;
    Strings fixed, all_classes;
  };
  const Case cases[] = {
      {"通用农村",
       {"|17|0|0|0|0|17|0|0|0|0|8|9|0", "A|1108|1107|1060|7|30|11|5|0|3|1|0|0|2",
        "B|4|0|0|0|0|4|0|4|0|0|0|0|0"},
       {"|17|||||8|9|", "A|1108|1107|1060|30|1|||2", "B|4|||||||"}},
      {"山东农村",
       {"|17|0|0|0|0|17|0|0|0|0|8|9|0", "A|108|107|60|7|30|11|5|0|3|1|0|0|2",
        "B|4|0|0|0|0|4|0|4|0|0|0|0|0"},
       {"|17|||||8|9|", "A|108|107|60|30|1|||2", "B|4|||||||"}},
  };
  MakeCopies();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    context_->m_strVersion = c.version;
    ASSERT_EQ(context_->CreateJbntBhkQktjTables(), 1);
    ASSERT_EQ(context_->StatJbntBhkQktj(), 1);
    ASSERT_EQ(context_->CreateJbntNewBhkQktjTables(), 1);
    ASSERT_EQ(context_->StatJbntNewBhkQktj(), 1);
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      EXPECT_EQ(FixedRows(unit), c.fixed) << unit;
      EXPECT_EQ(AllClassRows(unit), c.all_classes) << unit;
    }
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

// Which tables the unit flags make; the drivers return 1 whatever they do.
TEST_P(JbntBlockTablesTest, TablesOfTheWantedUnits) {
  struct Case {
    bool pm, gq, mu, no_pm_tables;
    std::vector<short> made;
  };
  const Case cases[] = {
      {true, true, true, true, {kHectare, kMu}},
      {true, false, false, false, {kSquareMetre}},
      {false, false, false, false, {}},
  };
  MakeCopies();
  for (const Case& c : cases) {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      for (const char* base : {"JBNTBHKQKTJ", "JBNTNEWBHKQKTJ"}) {
        if (Exists(Table(unit, base))) context_->DropTable(Table(unit, base));
      }
    }
    context_->m_bPm = c.pm;
    context_->m_bGq = c.gq;
    context_->m_bMu = c.mu;
    context_->m_bNoPmTables = c.no_pm_tables;
    EXPECT_EQ(context_->CreateJbntBhkQktjTables(), 1);
    EXPECT_EQ(context_->CreateJbntNewBhkQktjTables(), 1);
    EXPECT_EQ(context_->StatJbntBhkQktj(), 1);
    EXPECT_EQ(context_->StatJbntNewBhkQktj(), 1);
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      const bool made = std::find(c.made.begin(), c.made.end(), unit) != c.made.end();
      for (const char* base : {"JBNTBHKQKTJ", "JBNTNEWBHKQKTJ"}) {
        EXPECT_EQ(Exists(Table(unit, base)), made) << base << " " << unit;
      }
      if (made) {
        EXPECT_EQ(FixedRows(unit).size(), 3u) << unit;
      }
    }
  }
  EXPECT_EQ(context_->m_nErrCount, 0);
}

// Each failure is logged once, with its title, and leaves no rows of the
// failed fill; the other table is unaffected.
TEST_P(JbntBlockTablesTest, FailuresAreLoggedAndLeaveNoPartialRows) {
  MakeCopies();
  ASSERT_EQ(context_->CreateJbntBhkQktjTables(), 1);
  ASSERT_EQ(context_->CreateJbntNewBhkQktjTables(), 1);
  const std::string fixed = Table(kSquareMetre, "JBNTBHKQKTJ");
  const std::string all = Table(kSquareMetre, "JBNTNEWBHKQKTJ");
  // A block number longer than BHKBH's 20 characters, read after the others.
  conn().Execute("insert into " + Copy(kMu) + " (保护片编号, BM011) values ('" +
                 std::string(30, 'Z') + "', 1)");
  conn().Execute("alter table " + Copy(kHectare) + " drop column BM104");
  struct Case {
    const char* what;
    std::function<short()> step;
    const char* title;
  };
  const Case cases[] = {
      {"no source", [&] { return context_->SumJbntBhkQktj(context_->m_pConn, fixed, "NOSUCH"); },
       "添加汇总数据(基本农田保护块)"},
      {"no source, all classes",
       [&] { return context_->SumJbntNewBhkQktj(context_->m_pConn, all, "NOSUCH"); },
       "添加汇总数据(基本农田保护块(全地类))"},
      {"long block number",
       [&] { return context_->SumJbntBhkQktj(context_->m_pConn, fixed, Copy(kMu)); },
       "添加汇总数据(基本农田保护块)"},
      {"class column missing",
       [&] { return context_->SumJbntNewBhkQktj(context_->m_pConn, all, Copy(kHectare)); },
       "添加汇总数据(基本农田保护块(全地类))"},
      {"bad table name", [&] { return context_->CreateJbntBhkQktjTable("bad name"); },
       "建立基本农田按保护块情况统计表"},
      {"bad table name, all classes",
       [&] { return context_->CreateJbntNewBhkQktjTable("bad name"); },
       "建立基本农田按保护块情况统计表(包括所有的二级地类)"},
  };
  int failures = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(c.step(), 0) << c.what;
    EXPECT_EQ(context_->m_nErrCount, ++failures) << c.what;
    EXPECT_EQ(context_->m_strLogTitle, c.title) << c.what;
  }
  EXPECT_TRUE(Rows(conn(), "select BHKBH from " + fixed).empty());
  EXPECT_TRUE(Rows(conn(), "select BHKBH from " + all).empty());
  // The fixed table does not read the column the all-class fill missed.
  EXPECT_EQ(context_->SumJbntBhkQktj(context_->m_pConn, fixed, Copy(kHectare)), 1);
  EXPECT_EQ(Rows(conn(), "select BHKBH from " + fixed + " order by coalesce(BHKBH, '')"),
            (Strings{"", "A", "B"}));
}

// The statements as a server with Oracle gets them, and the all-class fill's
// text in full.
TEST_P(JbntBlockTablesTest, StatementTexts) {
  context_->m_arrClassCodes = {"01", "011"};
  EXPECT_EQ(context_->JbntNewBhkQktjInsert("ZPMJBNTNEWBHKQKTJ", "PMstatdata_jbnt"),
            " insert into ZPMJBNTNEWBHKQKTJ (BHKBH,ZHJ,BM01,BM011) select 保护片编号, "
            "sum(土地总面积) as ZHJ,SUM(BM01) as BM01 ,SUM(BM011) as BM011  from "
            "PMstatdata_jbnt  group by  保护片编号");
  context_->m_strVersion = "山东农村";
  EXPECT_NE(context_->JbntNewBhkQktjInsert("T", "S").find(
                " from S WHERE (调入备注 IS NULL OR 调入备注 <> 'TC') group by  保护片编号"),
            std::string::npos);
  if (!IsServer()) return;
  context_->m_bOracle = true;
  EXPECT_EQ(context_->JbntBlockCreateStatement("T", true),
            "Create Table T(BHKBH varchar(60),ZHJ NUMBER default 0.00,BM01 NUMBER default "
            "0.00,BM011 NUMBER default 0.00)");
  const std::string fixed = context_->JbntBlockCreateStatement("T", false);
  EXPECT_EQ(fixed.rfind("Create Table T(BHKBH varchar(20),ZHJ NUMBER default 0.00,BM01HJ", 0), 0u);
  EXPECT_EQ(fixed.find("double"), std::string::npos) << fixed;
}

// The unit conversion's unit-less table: summed from the ex table made anew
// from the farmland base table, every remark counted; none without it.
TEST_P(JbntBlockTablesTest, ConvertedTableFromTheBaseTable) {
  const TableFamily* block = nullptr;
  for (const TableFamily* family : ConvertedFamilies()) {
    if (std::string(family->base) == "JBNTBHKQKTJ") block = family;
  }
  ASSERT_NE(block, nullptr);
  const FamilyConversion& conversion = *block->conversion;
  EXPECT_EQ(conversion.create(*context_), 0);  // no farmland base table
  EXPECT_EQ(context_->m_nErrCount, 0);

  ASSERT_EQ(context_->CreateJbntStatTable(), 1);
  conn().Execute("insert into " + context_->m_strJbntTbl +
                 " (保护片编号,调入备注,基本农田图斑编号,土地总面积,BM01,BM011,BM02) values "
                 "('A','TC','1',10,10,10,0),('A',NULL,'2',5,3,3,2),('B','','3',1,0,0,1)");
  for (const char* version : {"通用农村", "山东农村"}) {
    context_->m_strVersion = version;
    ASSERT_EQ(conversion.create(*context_), 1) << version;
    ASSERT_EQ(conversion.fill(*context_), 1) << version;
    EXPECT_EQ(
        Rows(conn(), "select BHKBH, ZHJ, BM01HJ, BM011, QTHJ, BM02 from " +
                         context_->Names().Plain("JBNTBHKQKTJ") + " order by coalesce(BHKBH, '')"),
        (Strings{"A|15|13|13|2|2", "B|1|0|0|1|1"}))
        << version;
  }
  EXPECT_EQ(conversion.balance(*context_, ""), 1);
  EXPECT_EQ(context_->m_nErrCount, 0);
}

LANDSTAT_BOTH_ENGINES(JbntBlockTablesTest);

}  // namespace
}  // namespace landstat
