// The town second-level classification output: the ratio lists, the lot
// table, its summary by county, street and block, the report, and what a
// failed output leaves.

#include "lots/town_second_level.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "lots/town_fixture.h"
#include "platform/db/connection.h"
#include "report/report_readback.h"
#include "resources/resources.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::FieldValues;
using Strings = std::vector<std::string>;

TEST(TownSecondLevelRules, SplitAreaRatios) {
  struct Case {
    const char* text;
    Strings codes, factors;
  };
  const Case cases[] = {
      {"071:0.6,072:0.4", {"071", "072"}, {"0.6", "0.4"}},
      {",071:0.6,072:0.4,", {"071", "072"}, {"0.6", "0.4"}},  // one leading "," dropped
      {",,", {""}, {""}},                                     // still one empty item
      {"07,071,051:", {"07", "071", "051"}, {"", "", ""}},    // items without a factor
      {"城镇住x0.5", {"城镇住"}, {"0.5"}},                    // characters, not bytes
  };
  for (const Case& c : cases) {
    Strings codes, factors;
    int count = -1;
    EXPECT_EQ(SplitAreaRatios(c.text, &codes, &factors, &count), 1) << c.text;
    EXPECT_EQ(codes, c.codes) << c.text;
    EXPECT_EQ(factors, c.factors) << c.text;
    EXPECT_EQ(count, static_cast<int>(c.codes.size())) << c.text;
  }
  Strings codes, factors;
  int count = -1;
  EXPECT_EQ(SplitAreaRatios("", &codes, &factors, &count), 0);
  EXPECT_EQ(count, -1);
}

TEST(TownSecondLevelRules, PartsAndClassColumns) {
  // The first part takes what the others leave.
  EXPECT_EQ(SplitLotArea(100, {0.3333, 0.3333, 0.3333}),
            (std::vector<double>{33.34, 33.33, 33.33}));
  EXPECT_EQ(SplitLotArea(100, {0.5, 0.3}), (std::vector<double>{70, 30}));
  EXPECT_EQ(SplitLotArea(10.005, {1}), (std::vector<double>{10.01}));
  EXPECT_TRUE(SplitLotArea(10, {}).empty());
  const std::pair<const char*, Strings> columns[] = {
      {"071", {"BM071", "BM07"}},
      {"07", {"BM07"}},
      {"0", {}},
      {"", {}},
      {"1001K", {"BM1001K", "BM1001", "BM100", "BM10"}}};
  for (const auto& [code, expected] : columns)
    EXPECT_EQ(ClassColumnsOfCode(code), expected) << code;
  EXPECT_EQ(LandUseCode("71"), "071");
  EXPECT_EQ(LandUseCode("071"), "071");
  EXPECT_EQ(LandUseCode(""), "");
}

// The lots of two streets of the county, blocks 001 and 002 of the first.
const std::string kBlock1 = "330102001001", kBlock2 = "330102001002", kStreet2 = "330102002001";

FieldValues Lot(const std::string& number, const std::string& use, const std::string& area,
                const std::string& ratios = "") {
  return {{"地籍号", number},     {"土地用途", use},       {"实测面积", area},
          {"土地座落", "清波街"}, {"权属性质", "20"},      {"使用权类型", "11"},
          {"土地级别", "1级"},    {"建筑容积率", "1.5"},   {"建筑密度", "0.4"},
          {"占地面积", "40"},     {"分类面积比例", ratios}};
}

class TownSecondLevelTest : public ::testing::Test {
 protected:
  // The administrative units of the small town and every land class, as
  // the template's sheet has them.
  TownSecondLevelTest() {
    std::ofstream file(dir_.File("codes.tsv"));
    file << resources::LandClassCodes();
    for (const gis::CODESTRUCT& entry : testing::TownCodeEntries()) {
      if (entry.type.find("行政代码") == std::string::npos) continue;
      file << entry.type << "\t" << entry.code << "\t" << entry.name << "\n";
    }
    file.close();
    codes_.reset(gis::RuralCode::Load(dir_.File("codes.tsv")));
    fs::create_directories(Out());
  }
  ~TownSecondLevelTest() override { gis::CloseLayer(layer_); }

  std::string Out() const { return dir_.File("out"); }
  std::string Database() const { return dir_.File("out/statdata.sqlite"); }

  // Writes the lot layer anew, runs `sql` on it and opens it.
  void WriteLots(const std::vector<FieldValues>& lots, const Strings& sql = {}) {
    gis::CloseLayer(layer_);
    fs::remove(dir_.File("lots.gpkg"));
    std::vector<testing::FixtureField> fields = testing::kLotFields;
    fields.push_back({"分类面积比例"});
    std::vector<testing::FixtureFeature> features;
    for (std::size_t i = 0; i < lots.size(); ++i) {
      const std::string x0 = std::to_string(i * 10), x1 = std::to_string(i * 10 + 5);
      features.push_back(
          {"POLYGON((" + x0 + " 0," + x1 + " 0," + x1 + " 5," + x0 + " 5," + x0 + " 0))", lots[i]});
    }
    testing::WriteFixtureLayer(dir_.File("lots.gpkg"), "城镇权属层", wkbPolygon, fields, features);
    for (const std::string& statement : sql)
      testing::RunFixtureSql(dir_.File("lots.gpkg"), statement);
    layer_ = OpenTownLotLayer(dir_.File("lots.gpkg"), "");
  }

  TownSecondLevelOutcome Output(gis::RuralCode* codes, const std::string& tmpl = kTemplate,
                                bool paged = false) {
    return OutputTownSecondLevel({layer_, codes, Out(), paged, false, tmpl});
  }

  static inline const std::string kTemplate =
      std::string(LANDSTAT_SOURCE_DIR) + "/src/resources/templates/二次详查表格.xlsx";
  testing::TempDir dir_;
  std::unique_ptr<gis::RuralCode> codes_;
  gis::LayerHandle layer_ = 0;
};

TEST_F(TownSecondLevelTest, LotRowsSummaryAndReport) {
  WriteLots({Lot(kBlock1 + "0001", "", "100", "071:0.3333,072:0.3333,051:0.3333"),
             Lot(kBlock1 + "0002", "71", "50.5"), Lot(kBlock2 + "0003", "071", "20"),
             Lot(kBlock2 + "0004", "", "10"),                      // no use: left out
             Lot(kStreet2 + "'0005", "052", "7.25"),               // a quote, bound
             Lot(kStreet2 + "0006", "052", "abc"),                 // no number: logged, counts 0
             Lot(kStreet2 + "0007", "201", "30"),                  // no class column: left out
             Lot(kStreet2 + "0008", "", "30", "071:0.2,072:1.5"),  // parts > area: left out
             Lot(kStreet2 + "0009", "", "40", "051:x,052"),        // no factors: all to the first
             Lot("", "071", "99")});                               // no number: left out
  const TownSecondLevelOutcome outcome = Output(codes_.get());
  EXPECT_TRUE(outcome.database_written && outcome.report_written) << outcome.message;
  EXPECT_EQ(outcome.lots_written, 6);
  EXPECT_EQ(outcome.lots_left_out, 4);
  EXPECT_EQ(outcome.failures, 6);
  EXPECT_NE(outcome.message.find("4 个宗地未写入 (第一个: 地籍号 " + kBlock2 + "0004)"),
            std::string::npos)
      << outcome.message;
  for (const std::string& part :
       Strings{"记录 4 satadata_czzd写入数据失败: 地籍号 " + kBlock2 + "0004, 土地用途为空",
               "记录 10 satadata_czzd写入数据失败: 地籍号为空"}) {
    EXPECT_NE(outcome.message.find(part), std::string::npos) << part << "\n" << outcome.message;
  }
  EXPECT_NE(outcome.message.find("satadata_czzd写入数据失败"), std::string::npos)
      << outcome.message;
  EXPECT_FALSE(fs::exists(Database() + ".working"));

  db::Connection database(Database());
  EXPECT_EQ(testing::Texts(database,
                           "select 地籍号 || ' ' || 宗地总面积 || ' ' || BM071 || ' ' || BM07 || "
                           "' ' || BM072 || ' ' || BM05 || ' ' || BM051 || ' ' || 街道名称 "
                           "from statdata_czzd order by rowid"),
            (Strings{kBlock1 + "0001 33.34 33.34 33.34 0.0 0.0 0.0 清波街道",
                     kBlock1 + "0001 33.33 0.0 33.33 33.33 0.0 0.0 清波街道",
                     kBlock1 + "0001 33.33 0.0 0.0 0.0 33.33 33.33 清波街道",
                     kBlock1 + "0002 50.5 50.5 50.5 0.0 0.0 0.0 清波街道",
                     kBlock2 + "0003 20.0 20.0 20.0 0.0 0.0 0.0 清波街道",
                     kStreet2 + "'0005 7.25 0.0 0.0 0.0 7.25 0.0 ",
                     kStreet2 + "0006 0.0 0.0 0.0 0.0 0.0 0.0 ",
                     kStreet2 + "0009 40.0 0.0 0.0 0.0 40.0 40.0 ",
                     kStreet2 + "0009 0.0 0.0 0.0 0.0 0.0 0.0 "}));

  // Streets add up to the county, blocks to their street, in every column.
  const std::string sums = "XZQZMJ || ' ' || BM05 || ' ' || BM051 || ' ' || BM07 || ' ' || BM071";
  EXPECT_EQ(
      testing::Texts(database,
                     "select XZQDM || ' ' || " + sums + " from CZTDLY_EJFLZD order by XZQDM"),
      (Strings{"330102 217.75 80.58 73.33 137.17 103.84",
               "330102001 170.5 33.33 33.33 137.17 103.84",
               "330102001001 150.5 33.33 33.33 117.17 83.84", "330102001002 20.0 0.0 0.0 20.0 20.0",
               "330102002 47.25 47.25 40.0 0.0 0.0", "330102002001 47.25 47.25 40.0 0.0 0.0"}));
  database.Close();

  // The workbook holds the table's rows, as LibreOffice reads it.
  ASSERT_EQ(outcome.report, Out() + "/城镇宗地二级分类面积表(不分页).xlsx");
  if (report::RunText("command -v libreoffice").empty()) {
    GTEST_SKIP() << "libreoffice is not installed; scripts/setup installs it";
  }
  report::RunText("cd " + report::Quoted(Out()) + " && libreoffice -env:UserInstallation=file://" +
                  dir_.File("lo") +
                  " --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' " +
                  report::Quoted(outcome.report) + " >/dev/null 2>&1");
  std::ifstream csv(Out() + "/城镇宗地二级分类面积表(不分页).csv");
  const std::string text((std::istreambuf_iterator<char>(csv)), std::istreambuf_iterator<char>());
  for (const char* row :
       {"330102,上城区,217.75,", "330102001001,清波街坊,150.50,", "330102002001,,47.25,"}) {
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  }
}

// A lot layer lacking a field every lot needs is one failure naming layer
// and field, and nothing is written (read as empty, it would leave out
// every lot, or count every lot 0).
TEST_F(TownSecondLevelTest, LayerLackingAFieldEveryLotNeedsIsRefused) {
  for (const char* lacking : {"地籍号", "土地用途", "实测面积"}) {
    SCOPED_TRACE(lacking);
    WriteLots({Lot(kBlock1 + "0001", "071", "100")},
              {std::string("ALTER TABLE 城镇权属层 DROP COLUMN ") + lacking});
    const TownSecondLevelOutcome outcome = Output(codes_.get());
    EXPECT_FALSE(outcome.database_written) << outcome.message;
    EXPECT_FALSE(fs::exists(Database()));
    EXPECT_EQ(outcome.failures, 1) << outcome.message;
    EXPECT_EQ(outcome.message.find("数值不可用"), std::string::npos) << outcome.message;
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_NE(outcome.messages[0].find(std::string("图层 城镇权属层 缺少字段 ") + lacking),
              std::string::npos)
        << outcome.messages[0];
  }
}

// A failed output keeps the previous database and leaves no report and no
// working file behind.
TEST_F(TownSecondLevelTest, FailuresKeepWhatWasWritten) {
  WriteLots({Lot(kBlock1 + "0001", "71", "50.5")});
  ASSERT_TRUE(Output(codes_.get(), kTemplate, true).Clean());
  const std::string paged = Out() + "/城镇宗地二级分类面积表.xlsx";
  const std::string report_before = testing::ReadFileBytes(paged);

  std::unique_ptr<gis::RuralCode> clash(gis::RuralCode::FromEntries(
      {{"地类代码", "071", "城镇住宅用地"}, {"地类代码", "071", "城镇住宅用地"}}));
  std::unique_ptr<gis::RuralCode> admin_only(
      gis::RuralCode::FromEntries({{"县行政代码", "330102", "上城区"}}));
  const std::string other = dir_.File("other.xlsx");
  report::Python("make " + report::Quoted(other) + " 其他表");
  const std::string kCreate = "创建satadata_czzd表失败,请检查数据字典和宗地是否匹配";
  struct Case {
    gis::RuralCode* codes;
    std::string tmpl;
    std::string message;
  } cases[] = {
      {clash.get(), kTemplate, kCreate},       // fails inside the working file
      {admin_only.get(), kTemplate, kCreate},  // fails before it
      {codes_.get(), other,
       "请确保二次详查表格.xlsx中有<<城镇土地调查土地利用二级分类面积(宗地)>>模板"},
      // The report written earlier taken as the template.
      {codes_.get(), paged, "输出文件 " + paged + " 就是输入文件 " + paged},
  };
  const std::string before = testing::ReadFileBytes(Database());
  for (const Case& c : cases) {
    const TownSecondLevelOutcome outcome = Output(c.codes, c.tmpl, true);
    EXPECT_FALSE(outcome.report_written);
    EXPECT_EQ(outcome.message.rfind(c.message, 0), 0u) << outcome.message;
    EXPECT_EQ(outcome.message.find("数值不可用"), std::string::npos) << outcome.message;
    EXPECT_EQ(testing::ReadFileBytes(paged), report_before);
    for (const auto& entry : fs::directory_iterator(Out())) {
      EXPECT_EQ(entry.path().string().find(".working"), std::string::npos) << entry.path();
    }
    if (c.message == kCreate) {
      EXPECT_EQ(testing::ReadFileBytes(Database()), before);
    }
  }

  // A folder that cannot be written is named.
  const TownSecondLevelOutcome refused =
      OutputTownSecondLevel({layer_, codes_.get(), dir_.File("missing"), false, false, kTemplate});
  EXPECT_NE(refused.message.find("在相应的路径下创建统计数据库失败,请重新选择有效的路径: " +
                                 dir_.File("missing/statdata.sqlite")),
            std::string::npos)
      << refused.message;
}

}  // namespace
}  // namespace landstat
