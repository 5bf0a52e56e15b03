// What a job's workspace promises about the database file and its record of
// jobs, apart from any run: the lock, the working copy, the record's
// numbers, and what is left when something outside the job goes wrong.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "engine/run_workspace.h"
#include "platform/db/db_error.h"
#include "platform/db/sqlite_backend.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::Texts;

// The names in a folder beside the database, the database left out.
std::set<std::string> Beside(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name != "stats.sqlite") names.insert(name);
  }
  return names;
}

class JobRecordTest : public testing::BothEngines {};

// Jobs started at once each get a number of their own, also in a record
// table made by an earlier version, which numbered the jobs itself.
TEST_P(JobRecordTest, EveryJobGetsANumberOfItsOwn) {
  conn().Execute(
      "create table StatRuns (RUNID integer, 年度 varchar(20), COUNTY varchar(20), KIND "
      "varchar(20), STARTED varchar(32), FINISHED varchar(32), OUTCOME varchar(40), FAILURES "
      "integer)");
  conn().Execute(
      "insert into StatRuns values (1, '2009', '330102', 'run', 'a', 'b', 'completed', 0), "
      "(2, '2009', '330102', 'run', 'c', 'd', 'failed', 1), "
      "(2, '2009', '330102', 'convert', 'e', null, null, null)");
  constexpr int kJobs = 4, kEach = 8;
  std::vector<std::vector<long>> ids(kJobs);
  std::vector<std::string> errors(kJobs);
  std::vector<std::thread> jobs;
  for (int job = 0; job < kJobs; ++job) {
    jobs.emplace_back([&, job] {
      try {
        db::Connection connection(database().ConnectionString());
        for (int i = 0; i < kEach; ++i) {
          ids[job].push_back(BeginRunRecord(connection, "2010", std::to_string(job), "run"));
        }
      } catch (const db::DbError& error) {
        errors[job] = error.what();
      }
    });
  }
  for (std::thread& job : jobs) job.join();
  std::set<long> distinct;
  for (int job = 0; job < kJobs; ++job) {
    ASSERT_EQ(errors[job], "");
    distinct.insert(ids[job].begin(), ids[job].end());
    // Each job finds its own record by its number.
    FinishRunRecord(conn(), ids[job].back(), RunOutcome::kCompleted, 0);
    EXPECT_EQ(Texts(conn(),
                    "select COUNTY from StatRuns where RUNID = " + std::to_string(ids[job].back())),
              std::vector<std::string>{std::to_string(job)});
  }
  EXPECT_EQ(distinct.size(), std::size_t{kJobs * kEach});
  EXPECT_GT(*distinct.begin(), 2);
  // The earlier records are kept, in their order.
  EXPECT_EQ(Texts(conn(), "select STARTED from StatRuns where 年度 = '2009' order by RUNID"),
            (std::vector<std::string>{"a", "c", "e"}));
  EXPECT_EQ(LastRunRecord(conn(), "2009", "330102")->kind, "convert");
}

// What a run left out is kept with its record, also in a record table of the
// version before, which had no room for it: the newest completed run of its
// kind tells, with the families that read what it left out.
TEST_P(JobRecordTest, TablesARunLeftOutAreKeptWithIt) {
  const long first = BeginRunRecord(conn(), "2009", "330102", "run");
  conn().Execute("alter table StatRuns drop column LEFTOUT");
  FinishRunRecord(conn(), first, RunOutcome::kCompleted, 0);
  EXPECT_TRUE(FamiliesLeftOutByRun(conn(), "2009", "330102", FamilyKind::kGeneral).empty());
  const struct {
    const char* kind;
    RunOutcome outcome;
    std::set<std::string> left_out;
  } kJobs[] = {
      {"run", RunOutcome::kCompletedWithFailures, {"GDPDMJHZ"}},
      {"town", RunOutcome::kCompletedWithFailures, {"CZTDLY_SYQZD"}},
      {"run", RunOutcome::kFailed, {"JBNTQKTJ"}},
      {"convert", RunOutcome::kCompleted, {}},
  };
  for (const auto& job : kJobs) {
    const long id = BeginRunRecord(conn(), "2009", "330102", job.kind);
    RecordTablesLeftOut(conn(), id, job.left_out);
    FinishRunRecord(conn(), id, job.outcome, 1);
  }
  EXPECT_EQ(FamiliesLeftOutByRun(conn(), "2009", "330102", FamilyKind::kGeneral),
            (std::set<std::string>{"GDPDMJHZ"}));
  EXPECT_EQ(FamiliesLeftOutByRun(conn(), "2009", "330102", FamilyKind::kTown),
            (std::set<std::string>{"CZTDLY_SYQZD"}));
  EXPECT_TRUE(FamiliesLeftOutByRun(conn(), "2009", "330103", FamilyKind::kGeneral).empty());
  // The families reading one left out go with it.
  const long id = BeginRunRecord(conn(), "2009", "330102", "run");
  RecordTablesLeftOut(conn(), id, {"NCTDLY_EJFL", "TDLY_QSYJFL"});
  FinishRunRecord(conn(), id, RunOutcome::kCompletedWithFailures, 1);
  EXPECT_EQ(FamiliesLeftOutByRun(conn(), "2009", "330102", FamilyKind::kGeneral),
            (std::set<std::string>{"NCTDLY_EJFL", "NCTDLY_GDEJFL", "TDLY_QSYJFL"}));
}

// A job keeps others off its year and county until it ends, also when it
// fails; readers learn that it runs. On a server the lock is the year's
// and county's, so a job on another county runs beside it.
TEST_P(JobRecordTest, OneJobAtATimePerYearAndCounty) {
  const auto job = [&](const char* county) {
    return std::make_unique<RunWorkspace>(database().ConnectionString(), IsServer(), "2009", county,
                                          "run");
  };
  const auto open = [](RunWorkspace& workspace) {
    std::string error;
    std::vector<std::string> notices;
    return workspace.Open({true, false}, error, notices) ? "" : error;
  };
  auto first = job("330102");
  ASSERT_EQ(open(*first), "");
  const std::string where = RunWorkspace::RunningJob(conn(), "2009", "330102");
  EXPECT_EQ(where, IsServer() ? conn().Location() + " for 2009 330102" : conn().FilePath());
  EXPECT_EQ(open(*job("330102")), "another job is working on " + where);
  if (IsServer()) {
    EXPECT_EQ(RunWorkspace::RunningJob(conn(), "2009", "330103"), "");
    EXPECT_EQ(open(*job("330103")), "");
    // Tables named without year or county take one job of their kind.
    RunWorkspace mongolia(database().ConnectionString(), true, "2009", "330104", "mongolia");
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(mongolia.Open({.plain_tables = true}, error, notices)) << error;
    RunWorkspace second(database().ConnectionString(), true, "2010", "330105", "mongolia");
    EXPECT_FALSE(second.Open({.plain_tables = true}, error, notices));
    EXPECT_EQ(error, "another mongolia job is working on " + conn().Location() +
                         " (its tables, named without year or county, take one job at a time)");
  }

  db::Connection work(first->WorkConnection());
  first->Enter(work);
  first->Abandon(work, 1);
  EXPECT_EQ(RunWorkspace::RunningJob(conn(), "2009", "330102"), "");
  EXPECT_EQ(LastRunRecord(conn(), "2009", "330102")->outcome, RunOutcomeText(RunOutcome::kFailed));
  EXPECT_EQ(open(*job("330102")), "");
}

// What a database holds is said as it is, for the refusal of a job that
// reads a year and county: a file whose newest job, of another kind, is of
// them holds no statistics run of them all the same.
TEST_P(JobRecordTest, WhatTheDatabaseHoldsIsSaidAsItIs) {
  const struct {
    const char* kind;
    const char* county;
    std::string said;
  } cases[] = {
      {nullptr, nullptr, "holds no completed statistics run, not those of 2009 330102: run"},
      {"mongolia", "330102",
       IsServer() ? "holds no completed statistics run, not those of 2009 330102: run"
                  : "holds no completed statistics run of 2009 330102: run"},
      {"run", "330103", "holds the statistics of 2009 330103, not those of 2009 330102: run"},
      {"run", "330102", ""},
  };
  for (const auto& c : cases) {
    if (c.kind)
      testing::RecordCompletedRun(database().ConnectionString(), "2009", c.county, c.kind);
    const std::string problem = HeldStatisticsProblem(conn(), "2009", "330102");
    SCOPED_TRACE(problem);
    EXPECT_EQ(problem.empty(), c.said.empty());
    EXPECT_NE(problem.find(c.said), std::string::npos);
  }
}

LANDSTAT_BOTH_ENGINES(JobRecordTest);

class FileWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db::CreateSqliteFile(path_);
    db::Connection(path_).Execute("create table T (V integer)");
  }
  std::unique_ptr<RunWorkspace> Job() {
    return std::make_unique<RunWorkspace>(testing::JetConnectionString(path_), false, "2009",
                                          "330102", "run");
  }
  // Opens a job; its error when it was refused.
  std::string Open(RunWorkspace& job, bool in_place = false) {
    std::string error;
    std::vector<std::string> notices;
    RunWorkspace::Checks checks;
    checks.replace_other = true;
    checks.in_place = in_place;
    return job.Open(checks, error, notices) ? "" : error;
  }
  std::vector<std::string> Values() {
    db::Connection connection(path_);
    return Texts(connection, "select V from T order by V");
  }
  std::string LastOutcome() {
    db::Connection connection(path_);
    const auto last = LastRunRecord(connection);
    return last ? last->outcome : "none";
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("stats.sqlite");
};

// The lock holds whatever file stands under the name, also after a job's
// rename put a new file there; the report asks it.
TEST_F(FileWorkspaceTest, OneJobAtATimeWhateverFileStandsThere) {
  auto first = Job();
  ASSERT_EQ(Open(*first), "");
  EXPECT_TRUE(RunWorkspace::JobRunningOn(path_));
  fs::copy_file(path_, dir_.File("next"));
  fs::rename(dir_.File("next"), path_);
  auto second = Job();
  EXPECT_EQ(Open(*second), "another job is working on " + path_);

  db::Connection work(first->WorkConnection());
  first->Abandon(work, 0);
  EXPECT_FALSE(RunWorkspace::JobRunningOn(path_));
  EXPECT_EQ(Beside(dir_.path()), std::set<std::string>{"stats.sqlite.lock"});
  auto third = Job();
  EXPECT_EQ(Open(*third), "");
}

// What a killed job left beside the file under the program's prefix is
// swept by the next job, and what an abandoned job made goes with it;
// other files stay.
TEST_F(FileWorkspaceTest, ScratchFilesAreSweptOnOpenAndAbandon) {
  for (const char* name : {"stats.sqlite.working", "stats.sqlite.working-journal",
                           "stats.sqlite.working-县级汇总", "stats1.sqlite", "stats.sqlite-x"}) {
    testing::WriteFileBytes(dir_.File(name), "left");
  }
  auto job = Job();
  ASSERT_EQ(Open(*job), "");
  EXPECT_EQ(Beside(dir_.path()), (std::set<std::string>{"stats.sqlite.lock", "stats.sqlite.working",
                                                        "stats1.sqlite", "stats.sqlite-x"}));
  testing::WriteFileBytes(dir_.File("stats.sqlite.working-T"), "a scratch file of the job");
  db::Connection work(job->WorkConnection());
  job->Abandon(work, 2);
  EXPECT_EQ(Beside(dir_.path()),
            (std::set<std::string>{"stats.sqlite.lock", "stats1.sqlite", "stats.sqlite-x"}));
  EXPECT_EQ(LastOutcome(), "failed");

  // A database whose name ends as a working copy's is never swept.
  const std::string odd = dir_.File("x.working");
  fs::copy_file(path_, odd);
  RunWorkspace other(testing::JetConnectionString(odd), false, "2009", "330102", "run");
  std::string error;
  std::vector<std::string> notices;
  ASSERT_TRUE(other.Open({true, false}, error, notices)) << error;
  db::Connection odd_work(other.WorkConnection());
  other.Abandon(odd_work, 0);
  EXPECT_TRUE(fs::is_regular_file(odd));
}

// A commit by another program while the job ran is kept: the job fails,
// naming the file, and its copy is thrown away.
TEST_F(FileWorkspaceTest, CommitByAnotherProgramIsNotOverwritten) {
  auto job = Job();
  ASSERT_EQ(Open(*job), "");
  db::Connection(path_).Execute("insert into T values (7)");
  db::Connection work(job->WorkConnection());
  work.Execute("insert into T values (1)");
  std::string error;
  EXPECT_FALSE(job->Publish(work, RunOutcome::kCompleted, 0, error));
  EXPECT_NE(error.find(path_ + " was changed by another program"), std::string::npos) << error;
  db::Connection result(path_);
  EXPECT_EQ(Texts(result, "select V from T"), std::vector<std::string>{"7"});
  EXPECT_EQ(Beside(dir_.path()), std::set<std::string>{"stats.sqlite.lock"});
  EXPECT_EQ(LastOutcome(), "failed");
}

// A write of the working copy that failed (a full disk here) fails the
// job, also when the job went on after it: the file keeps its tables and
// the copy goes.
TEST_F(FileWorkspaceTest, FailedWriteOfTheWorkingCopyKeepsTheFile) {
  db::Connection(path_).Execute("insert into T values (1)");
  auto job = Job();
  ASSERT_EQ(Open(*job), "");
  db::Connection work(job->WorkConnection());
  work.Execute("PRAGMA max_page_count = 1");  // no page more than it has
  work.Execute("delete from T");
  EXPECT_THROW(work.Execute("create table U (V text)"), db::DbError);
  std::string error;
  EXPECT_FALSE(job->Publish(work, RunOutcome::kCompleted, 0, error));
  EXPECT_NE(error.find("the disk is full"), std::string::npos) << error;
  EXPECT_EQ(Values(), std::vector<std::string>{"1"});
  EXPECT_EQ(Beside(dir_.path()), std::set<std::string>{"stats.sqlite.lock"});
  EXPECT_EQ(LastOutcome(), "failed");
}

// A file in WAL mode that another program holds open, its last commit
// still in the write-ahead log: the copy holds that commit and the file the
// job publishes is whole; a commit of the other program while the job ran
// fails the job and is kept.
TEST_F(FileWorkspaceTest, WalModeFileIsCopiedWithEveryCommit) {
  for (const bool commit_meanwhile : {false, true}) {
    SCOPED_TRACE(commit_meanwhile ? "commit meanwhile" : "no commit meanwhile");
    db::Connection other(path_);
    other.Execute("PRAGMA journal_mode = WAL");
    other.Execute("PRAGMA wal_autocheckpoint = 0");
    other.Execute("delete from T");
    other.Execute("insert into T values (5)");
    auto job = Job();
    ASSERT_EQ(Open(*job), "");
    db::Connection work(job->WorkConnection());
    EXPECT_EQ(Texts(work, "select V from T"), std::vector<std::string>{"5"});
    work.Execute("insert into T values (6)");
    if (commit_meanwhile) other.Execute("insert into T values (7)");
    std::string error;
    EXPECT_EQ(job->Publish(work, RunOutcome::kCompleted, 0, error), !commit_meanwhile) << error;
    db::Connection result(path_);
    EXPECT_EQ(Texts(result, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_EQ(Values(), (std::vector<std::string>{"5", commit_meanwhile ? "7" : "6"}));
  }
}

// A job in place works in one transaction on the file itself: no copy is
// made, readers see the file as it was until the job publishes, and a job
// abandoned or killed before that leaves the file as it was.
TEST_F(FileWorkspaceTest, JobInPlaceChangesTheFileOnlyWhenPublished) {
  db::Connection(path_).Execute("insert into T values (1)");
  const auto work_a_while = [&](RunWorkspace& job, db::Connection& work) {
    EXPECT_EQ(job.WorkConnection(), path_);
    EXPECT_FALSE(job.OnWorkingCopy());
    job.Enter(work);
    work.Execute("delete from T");
    work.Execute("insert into T values (2)");
    EXPECT_EQ(Beside(dir_.path()),
              (std::set<std::string>{"stats.sqlite.lock", "stats.sqlite-journal"}));
    EXPECT_EQ(Values(), std::vector<std::string>{"1"});
  };
  auto abandoned = Job();
  ASSERT_EQ(Open(*abandoned, true), "");
  db::Connection first(abandoned->WorkConnection());
  work_a_while(*abandoned, first);
  abandoned->Abandon(first, 1);
  EXPECT_EQ(Values(), std::vector<std::string>{"1"});
  EXPECT_EQ(LastOutcome(), "failed");

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto killed = Job();
    if (!Open(*killed, true).empty()) ::_exit(1);
    db::Connection work(killed->WorkConnection());
    work.Execute("PRAGMA cache_size = 1");  // so that its changes reach the file
    killed->Enter(work);
    work.Execute(
        "insert into T with recursive n(i) as (select 1 union all select i + 1 from n where i < "
        "20000) select 3 from n");
    ::_exit(0);  // as a killed job: no commit, the journal left
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Values(), std::vector<std::string>{"1"});

  auto published = Job();
  ASSERT_EQ(Open(*published, true), "");
  db::Connection second(published->WorkConnection());
  work_a_while(*published, second);
  std::string error;
  ASSERT_TRUE(published->Publish(second, RunOutcome::kCompleted, 0, error)) << error;
  EXPECT_EQ(Values(), std::vector<std::string>{"2"});
  EXPECT_EQ(LastOutcome(), "completed");
  EXPECT_EQ(Beside(dir_.path()), std::set<std::string>{"stats.sqlite.lock"});
}

// A file that holds GIS layers (the survey's own GeoPackage, say) is no
// statistics database: refused, nothing written into it.
TEST_F(FileWorkspaceTest, FileOfGisLayersIsRefused) {
  for (const char* table : {"gpkg_contents", "geometry_columns"}) {
    db::Connection(path_).Execute(std::string("create table ") + table + " (table_name text)");
    auto job = Job();
    EXPECT_NE(Open(*job).find(path_ + " holds GIS layers"), std::string::npos) << table;
    db::Connection result(path_);
    EXPECT_FALSE(result.TableExists("StatRuns")) << table;
    EXPECT_EQ(Beside(dir_.path()), std::set<std::string>{}) << table;
    result.Execute(std::string("drop table ") + table);
  }
}

// A folder the job cannot write in is named; nothing is recorded.
TEST_F(FileWorkspaceTest, ReadOnlyFolderIsNamed) {
  {
    testing::ReadOnlyFile folder(dir_.path().string());
    if (::access(dir_.path().c_str(), W_OK) == 0) GTEST_SKIP() << "the folder stays writable";
    auto job = Job();
    const std::string error = Open(*job);
    EXPECT_NE(error.find("the folder " + dir_.path().string() + " cannot be written"),
              std::string::npos)
        << error;
  }
  fs::permissions(dir_.path(), fs::perms::owner_all);
  EXPECT_EQ(LastOutcome(), "none");
}

// A made file that cannot be removed (its folder will not let it go) is
// said, with why, and counted against the job; once it can go, it goes.
TEST_F(FileWorkspaceTest, RemovingAMadeFileSaysWhenItStays) {
  RunReport report;
  {
    testing::ReadOnlyFile folder(dir_.path().string());
    if (::access(dir_.path().c_str(), W_OK) == 0) GTEST_SKIP() << "the folder stays writable";
    EXPECT_FALSE(RunWorkspace::RemoveMadeFile(path_, report));
    EXPECT_TRUE(fs::exists(path_));
  }
  fs::permissions(dir_.path(), fs::perms::owner_all);
  EXPECT_EQ(report.failures, 1);
  ASSERT_EQ(report.messages.size(), 1u);
  EXPECT_EQ(report.messages[0].rfind("could not remove " + path_ + ": ", 0), 0u)
      << report.messages[0];
  std::string error;
  EXPECT_TRUE(RunWorkspace::RemoveMadeFile(path_, error)) << error;
  EXPECT_FALSE(fs::exists(path_));
}

// A disk too small for the working copy: the job is recorded as failed,
// says that the disk is full, and leaves no partial copy. A log on the
// full disk still takes the line that says so. Run in a child process
// with a small file system of its own.
TEST_F(FileWorkspaceTest, FullDiskIsSaidAndRecorded) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_fds[0]);
    const auto say = [&](const std::string& text, int code) {
      static_cast<void>(::write(pipe_fds[1], text.data(), text.size()));
      ::_exit(code);
    };
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
      say("no file system of its own", 77);
    }
    db::CreateSqliteFile(path_);
    {
      db::Connection fill(path_);
      fill.Execute("create table T (V text)");
      fill.Execute("insert into T values (?)", {db::Value(std::string(120 * 1024, 'x'))});
    }
    auto job = Job();
    const std::string error = Open(*job);
    if (error.find("the disk holding " + dir_.path().string() + " is full") == std::string::npos) {
      say("refused with: " + error, 1);
    }
    if (Beside(dir_.path()) != std::set<std::string>{"stats.sqlite.lock"}) say("a copy is left", 1);
    if (LastOutcome() != "failed") say("recorded as " + LastOutcome(), 1);
    const std::string log_path = dir_.File("stats.log");
    testing::WriteFileBytes(log_path, "");
    StatRunLog log(log_path);
    log.OpenStatLogFile();
    std::FILE* filler = std::fopen(dir_.File("filler").c_str(), "w");
    while (filler && std::fputc('x', filler) != EOF && std::fflush(filler) == 0) {
    }
    log.LogFailure("表", "磁盘已满");
    log.CloseStatLogFile();
    if (testing::ReadFileBytes(log_path) != "1 表 磁盘已满 \r\n") say("the log lost its line", 1);
    say("", 0);
  }
  ::close(pipe_fds[1]);
  char text[512] = {};
  const ssize_t got = ::read(pipe_fds[0], text, sizeof text - 1);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::string said(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << said;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
}

}  // namespace
}  // namespace landstat
