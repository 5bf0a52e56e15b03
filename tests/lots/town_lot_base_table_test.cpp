// The town-lot base table statdata_czzd: its rows from hand-made lot and
// house layers, its failures, and the set-based fill from layers stored as
// tables of the database.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lots/town_fixture.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::BothEngines;
using testing::FieldValues;
using testing::Rows;
using Strings = std::vector<std::string>;

// A location longer than its column (60 characters).
const std::string kTooLong(61, 'x');

FieldValues Lot(const std::string& number, const std::string& use, const std::string& area,
                const std::string& location = "清波街1号") {
  return {{"地籍号", number},  {"土地用途", use},    {"实测面积", area},  {"土地座落", location},
          {"权属性质", "20"},  {"使用权类型", "11"}, {"土地级别", "1级"}, {"建筑容积率", "1.5"},
          {"建筑密度", "0.4"}, {"占地面积", "40"}};
}

FieldValues House(const std::string& lot, const std::string& floor_area) {
  return {{"隶属宗地", lot}, {"房屋编号", "0001"}, {"建筑面积", floor_area}, {"占地面积", "40"}};
}

// The failure lines of a run that name every part.
bool Logged(const Strings& failures, const Strings& parts) {
  return std::any_of(failures.begin(), failures.end(), [&](const std::string& line) {
    return std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
      return line.find(part) != std::string::npos;
    });
  });
}

class TownBaseTableTest : public BothEngines {
 protected:
  std::string Table() const { return mode_ ? "D2009330102statdata_czzd" : "statdata_czzd"; }

  // Writes the layers, creates the table and fills it; the fill's result.
  short Fill(const std::vector<FieldValues>& lots, const std::vector<FieldValues>* houses,
             const std::string& sql = "") {
    testing::WriteTownLayers(survey_, lots, houses);
    if (!sql.empty()) testing::RunFixtureSql(survey_, sql);
    testing::ScopedLayer lot(gis::OpenLayer(survey_, "城镇权属层"));
    testing::ScopedLayer house(houses ? gis::OpenLayer(survey_, "房屋层") : 0);
    auto context =
        testing::TownContext(codes_.get(), database().ConnectionString(), mode_, lot, house);
    EXPECT_EQ(context->CreateStatDataTable(), 1);
    const short result = context->FillStatData();
    failures_ = context->m_arrFirstFailures;
    notices_ = context->m_arrNotices;
    errors_ = context->m_nErrCount;
    left_out_ = context->m_setLeftOutFamilies;
    return result;
  }

  Strings Select(const std::string& columns) {
    return Rows(conn(), "select " + columns + " from " + Table() + " order by 宗地总面积, 地籍号");
  }

  testing::ScopedProgramDir home_;
  std::string survey_ = home_.File("town.gpkg");
  std::unique_ptr<gis::RuralCode> codes_{gis::RuralCode::FromEntries(testing::TownCodeEntries())};
  short mode_ = Mode();
  Strings failures_, notices_;
  int errors_ = 0;
  std::set<std::string> left_out_;
};

// Lots and houses worked out by hand: blanks leave the lot numbers and the
// level codes come from the blank-free number; a use of two characters is
// booked as its three-character class and that class's parent; a house
// books its areas and nothing of the lot's. A lot whose number is empty,
// not 19 digits of the county or carried by two lots, whose area cannot be
// counted, whose use is empty, one character or one the code file lacks
// (its area would count in no class), or whose row the table refuses is
// logged and left out, and so is every house without a lot written.
TEST_P(TownBaseTableTest, RowsOfLotsAndHouses) {
  struct Case {
    FieldValues lot;
    const char* logged;  // the record's failure; null: kept
  };
  const Case cases[] = {
      {Lot(" 330102001 0010010001 ", "071", "100.5"), nullptr},
      {Lot("3301020010010010002", "52", "20", "王'家街"), nullptr},
      {Lot("3301020010010010003", "", "7"), "土地用途 土地用途为空"},
      {Lot("3301020010010010004", "5", "3"), "BM5"},
      {Lot("   ", "071", "9"), "地籍号为空"},
      {Lot("33010200100'0010005", "051", "2"), "'33010200100'0010005' 不是本县 (330102)"},
      {Lot("3301020010010010007", "073", "11"), "BM073"},
      {Lot("3301020010010010008", "051", "abc"), "实测面积 面积不是数值: abc"},
      {Lot("3301020010010010009", "071", "5", kTooLong), "土地座落"},
      {Lot("3301030010010010010", "071", "5"), "'3301030010010010010' 不是本县"},
      {Lot("3301020010010010011", "071", "5"), "地籍号 3301020010010010011 在图层中出现 2 次"},
      {Lot("3301020010010010011", "072", "6"), "地籍号 3301020010010010011 在图层中出现 2 次"},
      {Lot("ABC", "071", "5"), "'ABC' 不是本县"},
      {Lot("3301020010010010014", "071", "1e308"), "实测面积 面积超过 1e10 平方米"},
  };
  std::vector<FieldValues> lots;
  for (const Case& c : cases) lots.push_back(c.lot);
  const std::vector<FieldValues> houses = {
      House("330102001001 0010001", "250"), House(" ", "30"), House("3301020010010010008", "10"),
      House("3301020010010010011", "10"), House("3301020010010010003", "10")};
  ASSERT_EQ(Fill(lots, &houses), 1);
  const char kLevels[] =
      "|33|浙江省|3301|杭州市|330102|上城区|330102001|清波街道|330102001001|清波街坊";
  EXPECT_EQ(Select("地籍号, 土地用途, 土地用途名称, 省级代码, 省名称, 市级代码, 市名称, 县级代码, "
                   "县名称, 街道代码, 街道名称, 街坊代码, 街坊名称"),
            (Strings{std::string("3301020010010010001||") + kLevels,
                     std::string("3301020010010010002|52|") + kLevels,
                     std::string("3301020010010010001|071|城镇住宅用地") + kLevels}));
  EXPECT_EQ(Select("地籍号, 宗地总面积, BM05, BM051, BM052, BM07, BM071, BM072, 建筑容积率, "
                   "建筑密度, 宗地建筑占地面积, 建筑面积, 占地面积"),
            (Strings{"3301020010010010001|0|0|0|0|0|0|0|0|0|0|250|40",
                     "3301020010010010002|20|20|0|20|0|0|0|1.5|0.4|40|0|0",
                     "3301020010010010001|100.5|0|0|0|100.5|100.5|0|1.5|0.4|40|0|0"}));
  EXPECT_EQ(errors_, 16);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (!cases[i].logged) continue;
    EXPECT_TRUE(
        Logged(failures_, {"城镇权属层 记录 " + std::to_string(i + 1) + " ", cases[i].logged}))
        << i + 1;
  }
  EXPECT_TRUE(Logged(failures_, {"房屋层 记录 2 字段 隶属宗地 隶属宗地为空"}));
  EXPECT_TRUE(Logged(failures_, {"房屋层 记录 3 字段 隶属宗地", "3301020010010010008 未计入"}));
  EXPECT_TRUE(Logged(failures_, {"房屋层 记录 4 字段 隶属宗地", "3301020010010010011 未计入"}));
  EXPECT_TRUE(Logged(failures_, {"房屋层 记录 5 字段 隶属宗地", "3301020010010010003 未计入"}));
}

// Without a house layer the table holds the lots alone, and the fill has
// still done its work. In naming mode 2 the layers are no tables of the
// database, so the records are walked, and the trace says so once.
TEST_P(TownBaseTableTest, LotsAloneAndNamingModeTwoOverLayerFiles) {
  for (const short mode : {Mode(), short{2}}) {
    SCOPED_TRACE(mode);
    mode_ = mode;
    survey_ = home_.File("town" + std::to_string(mode) + ".gpkg");
    testing::ScopedTraceCapture trace;
    ASSERT_EQ(Fill({Lot("3301020010010010001", "071", "10")}, nullptr), 1);
    EXPECT_EQ(Select("地籍号, 宗地总面积, 建筑面积"), Strings{"3301020010010010001|10|0"});
    EXPECT_EQ(errors_, 0);
    EXPECT_EQ(std::count_if(trace.lines.begin(), trace.lines.end(),
                            [](const std::string& line) {
                              return line.find("逐条汇总图层记录") != std::string::npos;
                            }),
              mode == 2 ? 1 : 0);
  }
}

// A layer lacking a field its rows need is one failure naming layer and
// field and gives no rows: the lot layer's fails the fill, the house
// layer's leaves the lots. A field only some town tables need is one
// failure naming them, and the run leaves them out; one that only the base
// table shows is a notice.
TEST_P(TownBaseTableTest, MissingFieldsAreLoggedOncePerLayer) {
  struct Case {
    const char* dropped;  // "layer field"
    short result;
    Strings rows;
    int errors;
    std::string logged;  // failure or notice
    std::set<std::string> left_out;
  };
  const Strings lot = {"3301020010010010001|10"},
                both = {"3301020010010010001|0", "3301020010010010001|10"};
  const std::string lacks = "不生成需要该字段的表 ";
  const Case cases[] = {
      {"城镇权属层 实测面积", 0, {}, 1, "图层 城镇权属层 缺少字段 实测面积", {}},
      {"房屋层 占地面积", 1, lot, 1, "图层 房屋层 缺少字段 占地面积", {}},
      {"城镇权属层 使用权类型",
       1,
       both,
       1,
       "缺少字段 使用权类型 " + lacks + "CZTDLY_SYQZD",
       {"CZTDLY_SYQZD"}},
      {"城镇权属层 建筑密度",
       1,
       both,
       1,
       "缺少字段 建筑密度 " + lacks + "CZZD_JZMD",
       {"CZZD_JZMD"}},
      {"城镇权属层 占地面积",
       1,
       both,
       1,
       "缺少字段 占地面积 " + lacks + "CZZD_JZMD",
       {"CZZD_JZMD"}},
      {"房屋层 房屋结构",
       1,
       both,
       1,
       "图层 房屋层 缺少字段 房屋结构 " + lacks + "CZFWXXTJ",
       {"CZFWXXTJ"}},
      {"城镇权属层 土地级别",
       1,
       both,
       0,
       "图层 城镇权属层 缺少字段 土地级别 城镇基础汇总表中该列为空",
       {}},
  };
  const std::vector<FieldValues> houses = {House("3301020010010010001", "5")};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.dropped);
    const std::string dropped = c.dropped;
    const std::size_t blank = dropped.find(' ');
    survey_ = home_.File("town" + std::to_string(i) + ".gpkg");
    EXPECT_EQ(Fill({Lot("3301020010010010001", "071", "10")}, &houses,
                   "ALTER TABLE " + dropped.substr(0, blank) + " DROP COLUMN " +
                       dropped.substr(blank + 1)),
              c.result);
    EXPECT_EQ(Select("地籍号, 宗地总面积"), c.rows);
    EXPECT_EQ(errors_, c.errors);
    EXPECT_TRUE(Logged(c.errors ? failures_ : notices_, {c.logged}));
    EXPECT_EQ(left_out_, c.left_out);
  }
}

// A table that cannot be made or opened is logged and ends the step with 0:
// on a closed connection, and when the fill finds no table.
TEST_P(TownBaseTableTest, FailuresOfTheTableAreLoggedWithResultZero) {
  auto context = testing::TownContext(codes_.get(), database().ConnectionString(), mode_);
  context->m_pConn.Close();
  EXPECT_EQ(context->CreateStatDataTable(), 0);
  EXPECT_EQ(context->FillStatData(), 0);
  auto fresh = testing::TownContext(codes_.get(), database().ConnectionString(), mode_);
  EXPECT_EQ(fresh->FillStatData(), 0);
  for (const Strings& failures : {context->m_arrFirstFailures, fresh->m_arrFirstFailures}) {
    EXPECT_TRUE(Logged(failures, {"连接城镇基础汇总表", "连接城镇基础汇总表失败"}));
  }
  EXPECT_TRUE(
      Logged(context->m_arrFirstFailures, {"建立城镇基础汇总表", "建立城镇基础汇总表失败",
                                           "Create Table " + Table() + "(土地用途 varchar(60)"}));
  EXPECT_EQ(context->m_nErrCount, 2);
  EXPECT_EQ(fresh->m_nErrCount, 1);
}

LANDSTAT_BOTH_ENGINES(TownBaseTableTest);

// Layers stored as tables of the statistics database: each layer's
// attributes ("RRA", keyed by ID0) and entities ("REG", with the mark
// exist), and the code table "<code file>TBL".
class TownLayerTablesTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    std::ofstream codes(home_.File("codes.tsv"));
    for (const gis::CODESTRUCT& entry : testing::TownCodeEntries()) {
      codes << entry.type << '\t' << entry.code << '\t' << entry.name << '\n';
    }
    codes.close();
    codes_.reset(gis::RuralCode::Load(home_.File("codes.tsv")));
    testing::WriteTownLayers(survey_, {}, &no_houses_);
    lot_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(survey_, "城镇权属层"));
    house_ = std::make_unique<testing::ScopedLayer>(gis::OpenLayer(survey_, "房屋层"));
    context_ = testing::TownContext(codes_.get(), database().ConnectionString(), 2, *lot_, *house_);
  }

  testing::ScopedProgramDir home_;
  std::string survey_ = home_.File("town.gpkg");
  std::vector<FieldValues> no_houses_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::unique_ptr<testing::ScopedLayer> lot_, house_;
  std::unique_ptr<CZdStatContext> context_;
};

TEST_P(TownLayerTablesTest, StatementsNameTheStoredTables) {
  const TownLayerTables tables = {"城镇权属层RRA", "城镇权属层REG", "房屋层RRA", "房屋层REG",
                                  "codesTBL"};
  const std::string target = "D2009330102statdata_czzd";
  std::string bm_columns, bm_select;
  for (const char* code : {"05", "051", "052", "07", "071", "072"}) {
    bm_columns += std::string(bm_columns.empty() ? "" : ",") + "BM" + code;
    bm_select += std::string(bm_select.empty() ? "" : ",") + "(CASE WHEN  土地用途 LIKE '" + code +
                 "%' THEN 实测面积 ELSE 0 END) \tAS BM" + code + " ";
  }
  std::string names = "UPDATE  " + target + " a SET";
  const char* separator = "";
  for (const char* level : {"省名称   = (select 代码名称 from codesTBL b where a.省级代码",
                            "市名称   = (select 代码名称 from codesTBL b where a.市级代码",
                            "县名称   = (select 代码名称 from codesTBL b where a.县级代码",
                            "街道名称 = (select 代码名称 from codesTBL b where a.街道代码",
                            "街坊名称 = (select 代码名称 from codesTBL b where a.街坊代码"}) {
    names += std::string(separator) + "\r\n" + level + "=b.代码 and b.代码类型 like '%行政代码')";
    separator = ",";
  }
  EXPECT_EQ(context_->StoredLayerTables().has_value(), false);
  const Strings statements = context_->LayerTableStatements(tables);
  ASSERT_EQ(statements.size(), 4u);
  EXPECT_EQ(
      statements[0].rfind(
          "insert into " + target +
              "(地籍号,土地座落,权属性质,使用权类型,建筑容积率,建筑密度,土地级别,宗地总面积," +
              bm_columns +
              ") select "
              "replace(a.地籍号,' ',''),土地座落,权属性质,使用权类型,建筑容积率,建筑密度,"
              "土地级别,实测面积," +
              bm_select + "  from 城镇权属层RRA a ,城镇权属层REG b where a.ID0=b.ID0 and b.exist=1",
          0),
      0u);
  EXPECT_NE(statements[1].find("from 房屋层RRA a,房屋层REG b"), std::string::npos);
  EXPECT_EQ(statements[2], "UPDATE  " + target +
                               " SET 省级代码=substr(地籍号,1,2),市级代码=substr(地籍号,1,4),"
                               "县级代码=substr(地籍号,1,6),街道代码=substr(地籍号,1,9),街坊代码="
                               "substr(地籍号,1,12)");
  EXPECT_EQ(statements[3], names);
  // Without a house layer and a code table only the lots are inserted.
  EXPECT_EQ(context_->LayerTableStatements({"zdRRA", "zdREG", "", "", ""}).size(), 1u);
}

// On the server, over fabricated layer tables: lots whose entity still
// exists and whose number, area and use the walk would keep (blanks taken
// out),
// the houses of those lots, levels and their names; the lots left out are
// one logged failure; a failing statement is traced and logged and ends the
// fill with 0.
TEST_P(TownLayerTablesTest, FillsFromStoredTablesOnTheServer) {
  if (!IsServer()) GTEST_SKIP() << "the statements are written for a server";
  conn().Execute(
      "create table 城镇权属层RRA (ID0 int, 地籍号 varchar(60), 土地座落 varchar(60), 权属性质 "
      "varchar(60), 使用权类型 varchar(60), 土地用途 varchar(60), 建筑容积率 float, 建筑密度 "
      "float, 土地级别 varchar(60), 实测面积 float);"
      "create table 城镇权属层REG (ID0 int, exist int);"
      "create table 房屋层RRA (ID0 int, 隶属宗地 varchar(60), 建筑面积 float, 占地面积 float);"
      "create table 房屋层REG (ID0 int, exist int);"
      "create table codesTBL (代码类型 varchar(60), 代码 varchar(60), 代码名称 varchar(60));"
      "insert into 城镇权属层RRA values (1, '3301020010010010001', '一号', '20', '11', '071', 1.5, "
      "0.4, '1级', 100), (2, '3301020010010010002', '二号', '20', '12', '052', 0, 0, '2级', 30),"
      "(3, '330102001001001000X', '', '', '', '071', 0, 0, '', 1),"
      "(4, '3201020010010010004', '', '', '', '071', 0, 0, '', 1),"
      "(5, '3301020010010010005', '', '', '', '071', 0, 0, '', 1),"
      "(6, '330102001001001 0005', '', '', '', '071', 0, 0, '', 1),"
      "(7, '3301020010010010007', '', '', '', '071', 0, 0, '', -1),"
      "(8, '3301020010010010008', '', '', '', '071', 0, 0, '', null),"
      "(9, ' 3301020010010010009', '九号', '', '', '071', 0, 0, '', 9),"
      "(10, '3301020010010010010', '', '', '', '', 0, 0, '', 10);"
      "insert into 城镇权属层REG values (1, 1), (2, 0), (3, 1), (4, 1), (5, 1), (6, 1), (7, 1), "
      "(8, 1), (9, 1), (10, 1);"
      "insert into 房屋层RRA values (1, '3301020010010010001', 250, 40), (2, '330102001001001', 9, "
      "9), (3, '3301020010010010005', 7, 7);"
      "insert into 房屋层REG values (1, 1), (2, 1), (3, 1);"
      "insert into codesTBL values ('县行政代码', '330102', '上城区'), ('村行政代码', "
      "'330102001001', '清波街坊'), ('地类代码', '330102', '不是行政代码')");
  ASSERT_EQ(context_->CreateStatDataTable(), 1);
  testing::ScopedTraceCapture trace;
  ASSERT_EQ(context_->FillStatData(), 1);
  EXPECT_EQ(
      Rows(conn(),
           "select 地籍号, 土地座落, 宗地总面积, BM07, BM071, BM072, 建筑面积, 省级代码, 省名称, "
           "县级代码, 县名称, 街坊代码, 街坊名称 from D2009330102statdata_czzd order by "
           "宗地总面积"),
      (Strings{"3301020010010010001||0|0|0|0|250|33||330102|上城区|330102001001|清波街坊",
               "3301020010010010009|九号|9|9|9|0|0|33||330102|上城区|330102001001|清波街坊",
               "3301020010010010001|一号|100|100|100|0|0|33||330102|上城区|330102001001|"
               "清波街坊"}));
  EXPECT_EQ(context_->m_nErrCount, 1);
  EXPECT_TRUE(Logged(context_->m_arrFirstFailures, {"城镇权属层RRA 中 7 宗"}));
  EXPECT_TRUE(trace.lines.empty());
  conn().Execute("alter table 房屋层RRA drop column 建筑面积");
  EXPECT_EQ(context_->FillStatData(), 0);
  EXPECT_EQ(context_->m_nErrCount, 3);
  EXPECT_TRUE(Logged(context_->m_arrFirstFailures, {"from 房屋层RRA a,房屋层REG b"}));
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_NE(trace.lines[0].find("from 房屋层RRA a,房屋层REG b"), std::string::npos);
}

LANDSTAT_BOTH_ENGINES(TownLayerTablesTest);

}  // namespace
}  // namespace landstat
