// The attribute browser's area statistics output: the table and query a
// choice gives, and workbooks written from a hand-made statistics file.

#include "operator/area_stat_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "platform/db/connection.h"
#include "platform/host/notifier.h"
#include "report/report_readback.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

TEST(AreaStatTextTest, TablesQueriesAndFileNames) {
  const struct {
    AreaStatChoice choice;
    const char* table;
  } kTables[] = {{{}, "QPMTDLY"},
                 {{1, 0, -1}, "ZMUTDLY"},
                 {{2, 1, -1}, "QGQTDLY"},
                 {{-1, 2, -1}, "QPMTDLY"},
                 {{0, 0, -1}, "ZPMTDLY"}};
  for (const auto& [choice, table] : kTables) EXPECT_EQ(AreaStatTableName(choice, "TDLY"), table);

  const std::string head = "select * from T where ";
  const struct {
    int level;
    bool whole;
    std::string query;
  } kQueries[] = {
      {0, false, head + "C like '____' OR C like '__'order by C"},
      {2, false,
       head + "C like '_________' OR C like '______' OR C like '____' OR C like '__' order by C"},
      {-1, false,
       head + "C like '___________________'  OR C like '____________' OR C like '_________' OR C "
              "like '______' OR C like '____' OR C like '__'order by C"},
      {3, true, "select * from T"},
  };
  for (const auto& [level, whole, query] : kQueries) {
    EXPECT_EQ(AreaStatQuery("T", "C", level, whole), query) << level;
  }

  for (const auto& [title, stem] : std::initializer_list<std::pair<const char*, const char*>>{
           {"表/一", "表_一"}, {"..", "_.."}, {"../x", "_.._x"}, {"", "_"}, {"a:b", "a_b"}}) {
    EXPECT_EQ(SafeFileStem(title), stem);
  }
}

// A statistics file with one summary table in both scopes, a template of
// two sheets, a table list naming them and a catalogue of four titles.
class AreaStatOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateAcessDB(Path("stats.sqlite")), 1);
    db::Connection db(Path("stats.sqlite"));
    for (const char* table : {"ZPMTDLY_YJFL", "QPMTDLY_YJFL"}) {
      db.Execute(std::string("create table ") + table + " (XZQDM text, XZQMC text, XZQZMJ double)");
      db.Execute(std::string("insert into ") + table +
                 " values ('330102001001','村',1),('330102','县',3),('33','省',3),"
                 "('330102001','乡',3)");
    }
    db.Execute("create table ZPMTDLYTZ (XZQDM text, XZQMC text, XZQZMJ double)");
    db.Execute(
        "insert into ZPMTDLYTZ values ('330102001001','村',1),('3301020010010010001','图',1)");
    db.Close();
    report::Python("make " + report::Quoted(Path("t.xlsx")) + " 台帐表 一级表");
    std::ofstream(Path("list.xml"))
        << "<L><Row 表格名称=\"台帐表\" statTbl=\"TDLYTZ\" shortName=\"土地利用台帐\"/>"
           "<Row 表格名称=\"一级表\" statTbl=\"TDLY_YJFL\" shortName=\"一级\"/></L>";
    std::ofstream(Path("bad.xml")) << "<L><Row 表格名称=\"注入\" statTbl=\"TDLY_YJFL union select "
                                      "1,sql,1 from sqlite_master\" "
                                      "shortName=\"注入\"/></L>";
    std::ofstream(Path("catalogue.xml"))
        << "<C><I tDemo=\"一级表\" database=\"stats.sqlite\" strTableName=\"list.xml\"/>"
           "<I tDemo=\"范围分析\" database=\"stats.sqlite\" strTableName=\"list.xml\"/>"
           "<I tDemo=\"缺表\" database=\"stats.sqlite\" strTableName=\"list.xml\"/>"
           "<I tDemo=\"缺库\" database=\"none.sqlite\" strTableName=\"list.xml\"/>"
           "<I tDemo=\"注入\" database=\"stats.sqlite\" strTableName=\"bad.xml\"/>"
           "<I tDemo=\"注入范围分析\" database=\"stats.sqlite\" strTableName=\"bad.xml\"/>"
           "<I tDemo=\"外库\" database=\"" +
               Back() +
               "stats.sqlite\" strTableName=\"list.xml\"/>"
               "<I tDemo=\"外表\" database=\"stats.sqlite\" strTableName=\"" +
               Back() +
               "list.xml\"/>"
               "</C>";
  }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  // The way out of the project's folder and back into it.
  std::string Back() const { return "../" + dir_.path().filename().string() + "/"; }
  AreaStatOutput Output(AreaStatChoice choice) {
    AreaStatOutput output(dir_.path().string(), Path("catalogue.xml"), Path("t.xlsx"));
    output.choice = choice;
    output.show = false;
    return output;
  }
  std::string Rows(const std::string& book) { return report::DataRows(Path("t.xlsx"), Path(book)); }

  testing::ScopedProgramDir dir_;
};

TEST_F(AreaStatOutputTest, WritesKeepsAndRefuses) {
  host::RecordingNotifier notifier(false);
  host::ScopedNotifier scoped(notifier);
  // One table down to the townships, in code order.
  AreaStatOutput township = Output({0, 0, 2});
  ASSERT_EQ(township.OutputAreaStat("stats.sqlite", "一级表"), 1) << township.LastProblem();
  EXPECT_EQ(township.LastWorkbook(), Path("一级表PM.xlsx"));
  EXPECT_EQ(Rows("一级表PM.xlsx"), "33|省|3.0000\n330102|县|3.0000\n330102001|乡|3.0000\n");
  // An existing workbook answered no is kept as it was.
  const auto written = fs::last_write_time(Path("一级表PM.xlsx"));
  AreaStatOutput again = Output({0, 0, 4});
  EXPECT_EQ(again.OutputAreaStat("stats.sqlite", "一级表"), 1);
  EXPECT_EQ(notifier.questions, (std::vector<std::string>{"该表已经存在,是否删除重新出表?"}));
  EXPECT_EQ(fs::last_write_time(Path("一级表PM.xlsx")), written);
  // The list: the ledger whole (its first sheet), the other table filtered.
  AreaStatOutput list = Output({0, 0, 1});
  ASSERT_EQ(list.OutputAreaStat("stats.sqlite", "范围分析"), 1) << list.LastProblem();
  EXPECT_EQ(Rows("范围分析PM.xlsx"), "330102001001|村|1.0000\n3301020010010010001|图|1.0000\n");
  // A missing database (named), a title the list lacks, a table that is no
  // table name, a database or list outside their folders and an unfinished
  // job give no workbook and leave no work file.
  AreaStatOutput refused = Output({});
  const struct {
    std::string database, title, problem;
  } kRefused[] = {
      {"none.sqlite", "缺库", "汇总数据不存在! " + Path("none.sqlite")},
      {"stats.sqlite", "缺表", "中没有 缺表"},
      {"stats.sqlite", "注入", "TDLY_YJFL union select"},
      {"stats.sqlite", "注入范围分析", "TDLY_YJFL union select"},
      {Back() + "stats.sqlite", "外库", Back() + "stats.sqlite\" 不是"},
      {"stats.sqlite", "外表", Back() + "list.xml\" 不是"},
  };
  for (const auto& c : kRefused) {
    EXPECT_EQ(refused.OutputAreaStat(c.database, c.title), 0) << c.title;
    EXPECT_NE(refused.LastProblem().find(c.problem), std::string::npos) << refused.LastProblem();
    EXPECT_EQ(notifier.messages.back(), refused.LastProblem());
  }
  // A link planted at the old work name is never written through, and a
  // replacement that fails leaves the workbook it was to replace.
  testing::WriteFileBytes(Path("victim"), "keep");
  fs::create_symlink(Path("victim"), Path("一级表MU.xlsx.working.xlsx"));
  testing::WriteFileBytes(Path("一级表GQ.xlsx"), "old");
  host::RecordingNotifier replace(true);
  host::ScopedNotifier answered(replace);
  AreaStatOutput mu = Output({1, 0, 4});
  EXPECT_EQ(mu.OutputAreaStat("stats.sqlite", "一级表"), 0);  // no mu table
  AreaStatOutput hectares = Output({2, 0, 4});
  EXPECT_EQ(hectares.OutputAreaStat("stats.sqlite", "一级表"), 0);
  EXPECT_EQ(replace.questions.size(), 1u);
  EXPECT_EQ(testing::ReadFileBytes(Path("victim")), "keep");
  EXPECT_EQ(testing::ReadFileBytes(Path("一级表GQ.xlsx")), "old");
  fs::remove(Path("一级表MU.xlsx.working.xlsx"));
  {
    db::Connection db(Path("stats.sqlite"));
    BeginRunRecord(db, "2024", "330102", "run");
  }
  AreaStatOutput unfinished = Output({1, 0, 4});
  EXPECT_EQ(unfinished.OutputAreaStat("stats.sqlite", "一级表"), 0);
  EXPECT_NE(unfinished.LastProblem().find("2024 年度的最后一次作业没有完成"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find("working"), std::string::npos) << entry.path();
    EXPECT_EQ(entry.path().string().find(".landstat-"), std::string::npos) << entry.path();
    EXPECT_NE(entry.path().filename(), "一级表QPM.xlsx");
  }
  EXPECT_FALSE(fs::exists(Path("缺表PM.xlsx")));
}

}  // namespace
}  // namespace landstat
