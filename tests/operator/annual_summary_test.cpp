#include "operator/annual_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/sqlite_backend.h"
#include "support/cancelling_progress.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

// The county's files only, sorted; a folder not made yet holds none, and one
// that cannot be listed (here a file) says why.
TEST(AnnualSummaryYearsTest, ListsTheCountysFilesOnly) {
  TempDir folder;
  for (const char* name :
       {"2010330102.sqlite", "2009330102.sqlite", "2011330102.SQLITE", "2012330103.sqlite",
        "abcd330102.sqlite", "201a330102.sqlite", "2013330102.sqlite.lock",
        "2009330102.sqlite-journal", "2009330102StatLog.txt", "stats.sqlite", ".sqlite", "x.sqlite",
        "abc.", "notes.txt"}) {
    WriteFileBytes(folder.path() / name, "");
  }
  const struct {
    std::string folder;
    std::vector<std::string> years;
    std::string error;
  } kCases[] = {
      {folder.path().string(), {"2009", "2010"}, ""},
      {folder.File("none"), {}, ""},
      {folder.File("notes.txt"), {}, "cannot list the folder " + folder.File("notes.txt")},
  };
  for (const auto& test : kCases) {
    std::string error = "stale";
    EXPECT_EQ(ListSummarisedYears(test.folder, "330102", error), test.years) << test.folder;
    EXPECT_EQ(error.substr(0, test.error.size()), test.error) << test.folder;
    EXPECT_EQ(error.empty(), test.error.empty()) << test.folder;
  }
}

// Fake runs that record what they were asked, and fail where told.
struct FakeRuns {
  std::vector<std::string> calls;
  std::string failing;  // a run's name, or "all"

  RunReport Report(const std::string& name) {
    RunReport report;
    report.outcome =
        name == failing || failing == "all" ? RunOutcome::kFailed : RunOutcome::kCompleted;
    return report;
  }
  AnnualRuns Runs(bool with_mongolia) {
    AnnualRuns runs;
    runs.statistics = [this](const StatisticsRequest& r) {
      calls.push_back("statistics " + std::to_string(r.db_mode) +
                      (r.custom_list.empty() ? "" : " list"));
      return Report("statistics");
    };
    runs.town_lots = [this](const TownLotRequest& r) {
      calls.push_back("town " + std::to_string(r.db_mode));
      return Report("town");
    };
    if (with_mongolia) {
      runs.mongolia = [this](const JobTarget& t, gis::CGisXmlPrj*, gis::RuralCode*) {
        calls.push_back("mongolia " + std::to_string(t.db_mode));
        return Report("mongolia");
      };
    }
    return runs;
  }
};

class AnnualSummaryTest : public ::testing::Test {
 protected:
  AnnualSummaryRequest Request() const {
    AnnualSummaryRequest request;
    request.folder = folder_.path().string();
    request.year = "2009";
    request.county = "330102";
    return request;
  }
  // A database without the server's tables, for a server that lists no
  // year yet: the fake runs read only the mode.
  std::string EmptyServer() const {
    const std::string file = folder_.File("server.sqlite");
    if (!std::filesystem::exists(file)) db::CreateSqliteFile(file);
    return file;
  }
  TempDir folder_;
};

TEST_F(AnnualSummaryTest, AsksAgainBeforeTheLogOrTheDatabaseIsTouched) {
  WriteFileBytes(folder_.path() / "2009330102.sqlite", "kept");
  WriteFileBytes(folder_.path() / "2009330102StatLog.txt", "earlier log");
  FakeRuns fake;
  std::vector<std::string> asked;
  const AnnualSummaryResult result = RunAnnualSummary(
      Request(), [&](const std::string& file) { return asked.push_back(file), false; },
      fake.Runs(false));
  // The question names the file it would replace.
  EXPECT_EQ(asked, std::vector<std::string>{(folder_.path() / "2009330102.sqlite").string()});
  EXPECT_TRUE(result.declined);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(ReadFileBytes(folder_.path() / "2009330102StatLog.txt"), "earlier log");
  EXPECT_EQ(ReadFileBytes(folder_.path() / "2009330102.sqlite"), "kept");
}

TEST_F(AnnualSummaryTest, RunsInOrderByMode) {
  gis::RuralCode* const second = reinterpret_cast<gis::RuralCode*>(this);  // only compared to null
  struct Case {
    const char* what;
    void (*prepare)(AnnualSummaryRequest&, gis::RuralCode*);
    bool with_mongolia;
    std::vector<std::string> calls;
    const char* message;
  };
  const Case cases[] = {
      {"stand-alone",
       [](AnnualSummaryRequest&, gis::RuralCode*) {},
       false,
       {"statistics 0", "town 0"},
       "汇总完毕!"},
      {"incremental",
       [](AnnualSummaryRequest& r, gis::RuralCode* s) {
         r.incremental = true;
         r.second_codes = s;
       },
       true,
       {"statistics 0 list"},
       "汇总完毕!"},
      {"server",
       [](AnnualSummaryRequest& r, gis::RuralCode*) { r.server = r.folder + "/server.sqlite"; },
       false,
       {"statistics 1", "town 1"},
       "汇总完毕!"},
      {"server, local copy",
       [](AnnualSummaryRequest& r, gis::RuralCode*) {
         r.server = "host=/nonexistent-socket-folder dbname=none";
         r.local_copy = true;
       },
       false,
       {"statistics 0", "town 0"},
       "汇总完毕!"},
      {"second code table",
       [](AnnualSummaryRequest& r, gis::RuralCode* s) { r.second_codes = s; },
       true,
       {"statistics 0", "town 0", "mongolia 0"},
       "汇总完毕!"},
      {"no Inner Mongolia run",
       [](AnnualSummaryRequest& r, gis::RuralCode* s) { r.second_codes = s; },
       false,
       {"statistics 0", "town 0"},
       "汇总完毕!\n内蒙古统计在此版本中不可用"},
  };
  EmptyServer();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AnnualSummaryRequest request = Request();
    c.prepare(request, second);
    FakeRuns fake;
    const AnnualSummaryResult result =
        RunAnnualSummary(request, nullptr, fake.Runs(c.with_mongolia));
    EXPECT_EQ(fake.calls, c.calls);
    EXPECT_EQ(result.message, c.message);
    EXPECT_TRUE(result.report.Completed());
  }
}

TEST_F(AnnualSummaryTest, NamesTheRunThatFailedAndRefusesAnUnsoundYear) {
  FakeRuns fake;
  fake.failing = "town";
  const AnnualSummaryResult failed = RunAnnualSummary(Request(), nullptr, fake.Runs(false));
  EXPECT_EQ(failed.message, "汇总失败: 城镇宗地统计");
  EXPECT_EQ(failed.report.outcome, RunOutcome::kFailed);
  const std::string log = ReadFileBytes(failed.log_path);
  EXPECT_NE(log.find("[城镇宗地统计] failed"), std::string::npos) << log;
  // The general run completed: the file made for it stays. A file made for
  // runs none of which completed goes, so the year is not taken for summarised.
  EXPECT_FALSE(failed.database.empty());
  std::filesystem::remove(failed.database);
  fake.failing = "all";
  EXPECT_TRUE(RunAnnualSummary(Request(), nullptr, fake.Runs(false)).database.empty());
  std::string unlisted;
  EXPECT_TRUE(ListSummarisedYears(folder_.path().string(), "330102", unlisted).empty());

  // A server summary that fails keeps the stand-alone log of the year.
  WriteFileBytes(folder_.path() / "2009330102StatLog.txt", "stand-alone log");
  AnnualSummaryRequest server = Request();
  server.server = EmptyServer();
  const AnnualSummaryResult lost = RunAnnualSummary(server, nullptr, fake.Runs(false));
  EXPECT_EQ(lost.report.outcome, RunOutcome::kFailed);
  EXPECT_EQ(lost.log_path, (folder_.path() / "2009330102ServerStatLog.txt").string());
  EXPECT_EQ(ReadFileBytes(folder_.path() / "2009330102StatLog.txt"), "stand-alone log");

  // A server whose years cannot be read might hold the year: nothing runs,
  // and the server is named without its password.
  server.server = "host=/nonexistent-socket-folder dbname=none password=Secret42";
  std::filesystem::remove(lost.log_path);
  FakeRuns unasked;
  const AnnualSummaryResult unread = RunAnnualSummary(server, nullptr, unasked.Runs(false));
  EXPECT_EQ(unread.message, "无法读取已汇总的年度");
  ASSERT_EQ(unread.report.messages.size(), 1u);
  EXPECT_EQ(unread.report.messages[0].rfind("cannot read the years held in ", 0), 0u)
      << unread.report.messages[0];
  EXPECT_NE(unread.report.messages[0].find("host=/nonexistent-socket-folder"), std::string::npos);
  EXPECT_EQ(unread.report.messages[0].find("Secret42"), std::string::npos);
  EXPECT_TRUE(unasked.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(lost.log_path));

  AnnualSummaryRequest typed = Request();
  typed.year = "20O9";
  FakeRuns none;
  const AnnualSummaryResult refused = RunAnnualSummary(typed, nullptr, none.Runs(false));
  EXPECT_EQ(refused.message, "输入年度数据错误！");
  EXPECT_TRUE(none.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "20O9330102StatLog.txt"));

  // A log planted as a symbolic link is not written through: nothing runs.
  TempDir linked;
  WriteFileBytes(linked.path() / "victim", "keep");
  std::filesystem::create_symlink(linked.path() / "victim",
                                  linked.path() / "2009330102StatLog.txt");
  AnnualSummaryRequest elsewhere = Request();
  elsewhere.folder = linked.path().string();
  FakeRuns unrun;
  const AnnualSummaryResult link = RunAnnualSummary(elsewhere, nullptr, unrun.Runs(false));
  EXPECT_EQ(link.message, "无法建立日志文件");
  EXPECT_TRUE(unrun.calls.empty());
  EXPECT_EQ(ReadFileBytes(linked.path() / "victim"), "keep");
}

// The operator's cancel ends the run under way as failed (the fake's
// statistics run hears it) and starts no later run.
TEST_F(AnnualSummaryTest, ACancelStartsNoLaterRun) {
  testing::CancellingProgress progress;
  FakeRuns fake;
  fake.failing = "statistics";
  AnnualRuns runs = fake.Runs(true);
  const auto statistics = runs.statistics;
  runs.statistics = [&](const StatisticsRequest& request) {
    progress.cancelled = true;
    return statistics(request);
  };
  AnnualSummaryRequest request = Request();
  request.second_codes = reinterpret_cast<gis::RuralCode*>(this);  // only compared to null
  const AnnualSummaryResult result = RunAnnualSummary(request, nullptr, runs);
  EXPECT_EQ(fake.calls, std::vector<std::string>{"statistics 0"});
  EXPECT_EQ(result.report.outcome, RunOutcome::kFailed);
}

}  // namespace
}  // namespace landstat
