#include "operator/merge.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "landuse/generated_county_run.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/host/progress.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "units/conversion_run.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::Texts;

// Every row of a table, fields joined (but the town-land mark, which the
// fixture sets on the base table after the run made its unit copies), sorted.
std::vector<std::string> Rows(db::Connection& conn, const std::string& table) {
  std::vector<std::string> rows;
  for (db::Recordset rs(conn, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i) {
      if (table != "statdata" && rs.FieldName(i) == "城镇用地") continue;
      row += rs.Field(i).AsText() + "|";
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.push_back(entry.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A generated county run once for the suite ("whole"), with the rows of one
// village marked town land and one row with no mark. The rural database is
// that run with its town rows doubled, the town database the same run with
// its other rows doubled, each under the same file name in a folder of its
// own: a merge that keeps the wrong rows of either counts them twice.
class MergeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new testing::ScopedProgramDir;
    testing::WriteStatConfig(testing::kThreeUnits);
    county_ = new testing::GeneratedCountyRun(*home_, 47, 300);
    const std::string whole = home_->File("whole.sqlite");
    ASSERT_EQ(CreateAcessDB(whole), 1);
    ASSERT_TRUE(county_->RunProject("通用农村", whole, 0).Completed())
        << ReadFileBytes(county_->log);
    db::Connection conn(whole);
    conn.Execute(
        "update statdata set 城镇用地 = 1 where 村级代码 = (select min(村级代码) from statdata)");
    conn.Execute(
        "update statdata set 城镇用地 = null where rowid = (select max(rowid) from statdata "
        "where 城镇用地 = 0)");
  }
  static void TearDownTestSuite() {
    delete county_;
    delete home_;
  }

  void SetUp() override {
    previous_tmp_ = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp_.path().c_str(), 1);
    fs::create_directories(folder_.path() / "rural");
    fs::create_directories(folder_.path() / "town");
    fs::create_directories(folder_.path() / "out");
    fs::copy_file(home_->File("whole.sqlite"), Rural());
    fs::copy_file(home_->File("whole.sqlite"), Town());
    db::Connection(Rural()).Execute(
        "insert into statdata select * from statdata where 城镇用地 = 1");
    db::Connection(Town()).Execute(
        "insert into statdata select * from statdata where 城镇用地 = 0 or 城镇用地 is null");
  }
  void TearDown() override {
    if (previous_tmp_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", previous_tmp_.c_str(), 1);
    }
  }

  std::string Rural() const { return (folder_.path() / "rural" / "2009330102.sqlite").string(); }
  std::string Town() const { return (folder_.path() / "town" / "2009330102.sqlite").string(); }
  MergeRequest Request(short mode) const {
    MergeRequest request;
    request.rural = Rural();
    request.town = Town();
    request.output_folder = (folder_.path() / "out").string();
    request.codes = county_->codes.get();
    request.mode = mode;
    return request;
  }

  static testing::ScopedProgramDir* home_;
  static testing::GeneratedCountyRun* county_;
  testing::TempDir folder_, tmp_;
  std::string previous_tmp_;
};

testing::ScopedProgramDir* MergeTest::home_ = nullptr;
testing::GeneratedCountyRun* MergeTest::county_ = nullptr;

TEST_F(MergeTest, MergesIntoSummariesEqualToARunOverTheWholeCounty) {
  const std::string rural = ReadFileBytes(Rural()), town = ReadFileBytes(Town());
  const MergeResult merged = MergeStatistics(Request(kMergeToNew));
  ASSERT_EQ(merged.message, "合并完成！") << ::testing::PrintToString(merged.report.messages);
  EXPECT_EQ(merged.target, (folder_.path() / "out" / "2009330102.sqlite").string());
  db::Connection whole(home_->File("whole.sqlite"));
  db::Connection result(merged.target);
  // The unmarked row once, the doubled rows of both inputs left out.
  EXPECT_EQ(Rows(result, "statdata"), Rows(whole, "statdata"));
  for (const char* table :
       {"GQstatdata", "MUstatdata", "ZGQNCTDLY_YJFL", "ZMUNCTDLY_EJFL", "ZPMNCTDLY_SJFL",
        "QGQNCTDLY_QSYJFL", "ZGQFRDTDLY_YJFL", "ZMUGDPDMJHZ"}) {
    EXPECT_EQ(Rows(result, table), Rows(whole, table)) << table;
  }
  EXPECT_TRUE(result.TableExists("ZGQTDLY_YJFL"));
  const auto last = LastCompletedRun(result);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->kind + " " + last->year + " " + last->county, "merge 2009 330102");
  // The inputs as they were, no scratch copy anywhere.
  EXPECT_EQ(ReadFileBytes(Rural()), rural);
  EXPECT_EQ(ReadFileBytes(Town()), town);
  EXPECT_EQ(Files(tmp_.path()), std::vector<std::string>{});
  EXPECT_EQ(Files(folder_.path()),
            (std::vector<std::string>{"out", "out/2009330102.sqlite", "out/2009330102.sqlite.lock",
                                      "rural", "rural/2009330102.sqlite", "town",
                                      "town/2009330102.sqlite"}));
}

// Another job trying to start on the merge's target while the merge
// rebuilds its tables, and what lies in the temporary folder then.
class DuringTheRebuild : public host::SilentProgress {
 public:
  DuringTheRebuild(std::string target, fs::path tmp) : target_(std::move(target)), tmp_(tmp) {}
  void SetText(const std::string& text) override {
    if (text != "正在生成扩展基础数据") return;
    JobLock other;
    std::string refused;
    other_job_started = other.Take(target_, refused);
    temporary_files = Files(tmp_);
  }
  bool other_job_started = true;
  std::vector<std::string> temporary_files = {"(not looked at)"};

 private:
  std::string target_;
  fs::path tmp_;
};

TEST_F(MergeTest, HoldsTheTargetsLockAndSweepsWhatAKilledMergeLeft) {
  const fs::path out = folder_.path() / "out";
  const std::string target = (out / "2009330102.sqlite").string();
  testing::WriteFileBytes(target + ".working-merge-Ab12Cd", "left by a killed merge");
  DuringTheRebuild during(target, tmp_.path());
  host::Progress* const previous = host::SetThreadProgress(&during);
  const MergeResult merged = MergeStatistics(Request(kMergeToNew));
  host::SetThreadProgress(previous);
  ASSERT_EQ(merged.message, "合并完成！") << ::testing::PrintToString(merged.report.messages);
  EXPECT_FALSE(during.other_job_started);
  EXPECT_EQ(during.temporary_files, std::vector<std::string>{});
  EXPECT_EQ(Files(out), (std::vector<std::string>{"2009330102.sqlite", "2009330102.sqlite.lock"}));
}

TEST_F(MergeTest, ReplacesTheDatabaseOfItsModeAndLeavesTheOther) {
  for (short mode : {kMergeIntoRural, kMergeIntoTown}) {
    SCOPED_TRACE(mode);
    const std::string kept_path = mode == kMergeIntoRural ? Town() : Rural();
    const std::string kept = ReadFileBytes(kept_path);
    const MergeResult merged = MergeStatistics(Request(mode));
    ASSERT_EQ(merged.message, "合并完成！");
    EXPECT_EQ(merged.target, mode == kMergeIntoRural ? Rural() : Town());
    db::Connection result(merged.target);
    EXPECT_EQ(LastCompletedRun(result)->kind, "merge");
    EXPECT_EQ(ReadFileBytes(kept_path), kept);
  }
}

TEST_F(MergeTest, RemovesTheSummariesOfAnEarlierConversion) {
  ConversionRequest convert;
  convert.codes = county_->codes.get();
  convert.connection = Rural();
  convert.year = "2009";
  convert.county = "330102";
  convert.target = kHectare;
  ASSERT_EQ(ConvertStatistics(convert).outcome, RunOutcome::kCompleted);
  ASSERT_TRUE(db::Connection(Rural()).TableExists("TDLY_YJFL"));
  const MergeResult merged = MergeStatistics(Request(kMergeIntoRural));
  ASSERT_EQ(merged.message, "合并完成！") << ::testing::PrintToString(merged.report.messages);
  db::Connection result(merged.target);
  EXPECT_FALSE(result.TableExists("TDLY_YJFL"));
  EXPECT_EQ(Rows(result, "AreaUnit where TYPE = 'TDLY_YJFL'"), std::vector<std::string>{});
  ASSERT_EQ(merged.report.notices.size(), 1u);
  EXPECT_NE(merged.report.notices[0].find("TDLY_YJFL"), std::string::npos);
}

// Inputs in WAL mode that another program holds open, their last commits
// still in the write-ahead log: the merge reads them with those commits,
// and the input it replaces is whole.
TEST_F(MergeTest, InputsInWalModeAreMergedWithEveryCommit) {
  std::vector<std::unique_ptr<db::Connection>> others;
  for (const auto& [input, kept] : {std::pair(Rural(), "0"), std::pair(Town(), "1")}) {
    others.push_back(std::make_unique<db::Connection>(input));
    others.back()->Execute("PRAGMA journal_mode = WAL");
    others.back()->Execute("PRAGMA wal_autocheckpoint = 0");
    // One row more of those the input keeps.
    others.back()->Execute(std::string("insert into statdata select * from statdata where ") +
                           "城镇用地 = " + kept + " limit 1");
  }
  const MergeResult merged = MergeStatistics(Request(kMergeIntoRural));
  ASSERT_EQ(merged.message, "合并完成！") << ::testing::PrintToString(merged.report.messages);
  db::Connection whole(home_->File("whole.sqlite"));
  db::Connection result(Rural());
  EXPECT_EQ(Texts(result, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(Rows(result, "statdata").size(), Rows(whole, "statdata").size() + 2);
}

TEST_F(MergeTest, AFailedMergeLeavesTheInputsAsTheyWereAndNoScratchCopy) {
  struct Case {
    const char* what;
    void (*prepare)(MergeRequest& request);
    const char* message;
    const char* named;  // in the report's messages
  };
  const Case cases[] = {
      {"mode", [](MergeRequest& r) { r.mode = 4; }, "参数传递错误！", "merge mode 4"},
      {"same", [](MergeRequest& r) { r.town = r.rural; }, "选择的数据相同！", ""},
      {"no code table", [](MergeRequest& r) { r.codes = nullptr; }, "没有数据字典,无法合并！", ""},
      {"no base table",
       [](MergeRequest& r) { db::Connection(r.town).Execute("drop table statdata"); },
       "连接城镇数据statdata失败！", "statdata"},
      {"no database", [](MergeRequest& r) { testing::WriteFileBytes(r.rural, "not a database"); },
       "连接数据失败！", "no statistics database"},
      {"columns",
       [](MergeRequest& r) {
         db::Connection(r.town).Execute("alter table statdata rename column 备注 to 备注X");
       },
       "合并失败！", "column 1: 备注 / 备注X"},
      {"no folder", [](MergeRequest& r) { r.output_folder += "/missing"; }, "合并失败！",
       "missing"},
      {"unfinished",
       [](MergeRequest& r) {
         db::Connection town(r.town);
         BeginRunRecord(town, "2009", "330102", "run");
       },
       "合并失败！", "did not finish"},
      {"new file is the rural one, spelt relatively",
       [](MergeRequest& r) {
         r.output_folder =
             (fs::relative(fs::path(r.rural).parent_path()) / ".." / "rural").string();
       },
       "选择输出数据路径！", "would replace the input"},
      {"new file is the town one, through a link",
       [](MergeRequest& r) {
         const fs::path town = fs::path(r.town).parent_path();
         fs::create_directory_symlink(town, town.parent_path() / "link");
         r.output_folder = (town.parent_path() / "link").string();
       },
       "选择输出数据路径！", "would replace the input"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MergeRequest request = Request(kMergeToNew);
    c.prepare(request);
    const std::string rural = ReadFileBytes(Rural()), town = ReadFileBytes(Town());
    const std::vector<std::string> before = Files(folder_.path());
    const MergeResult merged = MergeStatistics(request);
    EXPECT_EQ(merged.message, c.message);
    EXPECT_EQ(merged.report.outcome, RunOutcome::kFailed);
    const std::string said = ::testing::PrintToString(merged.report.messages);
    EXPECT_NE(said.find(c.named), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(Rural()), rural);
    EXPECT_EQ(ReadFileBytes(Town()), town);
    EXPECT_EQ(Files(folder_.path()), before);
    EXPECT_EQ(Files(tmp_.path()), std::vector<std::string>{});
    fs::copy_file(home_->File("whole.sqlite"), Rural(), fs::copy_options::overwrite_existing);
    fs::copy_file(home_->File("whole.sqlite"), Town(), fs::copy_options::overwrite_existing);
  }
}

}  // namespace
}  // namespace landstat
