// How runs and conversions treat what a database holds: reruns and other
// years beside a finished run, a run killed midway, units no longer wanted.

#include "engine/run_workspace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "engine/run_schema.h"
#include "engine/stat_drivers.h"
#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "lots/ncqs_run.h"
#include "lots/town_lot_run.h"
#include "platform/db/recordset.h"
#include "platform/host/paths.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "support/cancelling_progress.h"
#include "support/full_disk.h"
#include "support/test_databases.h"
#include "units/conversion_run.h"

extern char** environ;

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::Numbers;
using testing::ReadFileBytes;

class RunWorkspaceTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(testing::kThreeUnits);
    // The installation's scripts, whose ownership tables are views on a
    // server: a rerun must drop them with the tables under them.
    const fs::path config = host::ConfigDir();
    for (const char* folder : {"SQL", "Access"}) {
      fs::copy(fs::path(LANDSTAT_SOURCE_DIR) / "src/resources/config" / folder, config / folder,
               fs::copy_options::recursive);
    }
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, 29);
  }

  short Run(const std::string& year = "2009") {
    return county_->Run("通用农村", database().ConnectionString(), IsServer(), year);
  }
  std::string Table(const std::string& year, short unit, const std::string& base) {
    return TableNames(Mode(), year, County()).Summary('Z', unit, base);
  }
  const std::string& County() const { return county_->options.county_code; }
  // The county's total in a table, read through a new connection (a run
  // puts a new file in the old one's place).
  double CountyTotal(const std::string& table, const std::string& column = "XZQZMJ") {
    db::Connection result(database().ConnectionString());
    return Numbers(result,
                   "select " + column + " from " + table + " where XZQDM='" + County() + "'")
        .at(0);
  }
  // The log's lines that are failures, not notices.
  std::string Failures() const {
    std::istringstream lines(ReadFileBytes(county_->log));
    std::string failures;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("注意 ", 0) != 0) failures += line + "\n";
    }
    return failures;
  }
  // What the database stores, every table but the run record: each
  // table's name and rows, all columns as text.
  std::string Stored() {
    db::Connection result(database().ConnectionString());
    std::string stored;
    for (const std::string& table : result.ListTables()) {
      if (text::ToLowerAscii(table) == "statruns") continue;
      std::vector<std::string> rows;
      for (db::Recordset rs(result, "select * from " + table); !rs.IsEOF(); rs.MoveNext()) {
        std::string row;
        for (int column = 0; column < rs.FieldCount(); ++column) {
          row += rs.Field(column).AsText() + "|";
        }
        rows.push_back(row);
      }
      std::sort(rows.begin(), rows.end());
      stored += table + "\n";
      for (const std::string& row : rows) stored += row + "\n";
    }
    return stored;
  }
  std::optional<RunRecordRow> LastRun(const std::string& year = "2009") {
    db::Connection result(database().ConnectionString());
    return LastRunRecord(result, year, County());
  }
  // A conversion (on a server, its sessions named `name` when given).
  RunReport ConvertToMu(const std::string& name = "") {
    ConversionRequest request;
    request.codes = county_->codes.get();
    request.connection =
        database().ConnectionString() + (name.empty() ? "" : " application_name=" + name);
    request.year = "2009";
    request.county = County();
    request.log_path = county_->log;
    request.db_mode = Mode();
    request.target = kMu;
    request.group_level = 1;
    return ConvertStatistics(request);
  }
  // A run of the county (on a server, its sessions carrying `name` as their
  // application name when given); `observer` sees each stage.
  RunReport RunNamed(const std::string& name, std::function<void(const std::string&)> observer) {
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county_->files.project);
    StatisticsRequest request;
    request.project = project.get();
    request.codes = county_->codes.get();
    request.connection =
        database().ConnectionString() + (name.empty() ? "" : " application_name=" + name);
    request.year = "2009";
    request.county = County();
    request.log_path = county_->log;
    request.db_mode = Mode();
    request.observer = std::move(observer);
    return RunStatistics(request);
  }
  // Ends the server sessions `from` (a FROM clause with a pid column and
  // one parameter, the application name) lists.
  void EndSessions(const std::string& from, const std::string& name) {
    db::Connection other(database().ConnectionString());
    other.Scalar("select count(pg_terminate_backend(pid)) from " + from, {db::Value(name)});
  }
  std::string WorkingCopy() {
    return db::ParseConnectionString(database().ConnectionString()).location + ".working";
  }

  testing::ScopedProgramDir home_;
  std::unique_ptr<testing::GeneratedCountyRun> county_;
};

TEST_P(RunWorkspaceTest, RerunsAndOtherYearsLeaveFinishedRunsWhole) {
  ASSERT_EQ(Run(), 1) << ReadFileBytes(county_->log);
  // The ownership table is a view on a server.
  const std::string table = Table("2009", kHectare, "NCTDLY_QSSJFL");
  const double total = CountyTotal(table, "BM01HJ");
  ASSERT_GT(total, 0);

  ASSERT_EQ(Run(), 1) << ReadFileBytes(county_->log);
  EXPECT_EQ(CountyTotal(table, "BM01HJ"), total);
  EXPECT_EQ(Failures(), "");

  // Another year: beside the first on a server; refused by a file that
  // holds the first, unless asked to replace it.
  const short other_year = Run("2010");
  EXPECT_EQ(other_year, IsServer() ? 1 : 0) << ReadFileBytes(county_->log);
  EXPECT_EQ(CountyTotal(table, "BM01HJ"), total);
  ASSERT_TRUE(LastRun("2009"));
  EXPECT_EQ(LastRun("2009")->outcome, "completed");
  if (IsServer()) {
    EXPECT_EQ(CountyTotal(Table("2010", kHectare, "NCTDLY_QSSJFL"), "BM01HJ"), total);
    return;
  }
  EXPECT_NE(ReadFileBytes(county_->log).find("holds the statistics of year 2009"),
            std::string::npos);
  // The town-lot tables of 2009 go with the rest when 2010 replaces it.
  std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county_->files.project);
  ASSERT_EQ(landStatDataZD(project.get(), county_->codes.get(), database().ConnectionString(),
                           "2009", County(), Mode(), county_->log),
            1);
  StatisticsRequest request;
  request.project = project.get();
  request.codes = county_->codes.get();
  request.connection = database().ConnectionString();
  request.year = "2010";
  request.county = County();
  request.replace_other = true;
  EXPECT_EQ(RunStatistics(request).outcome, RunOutcome::kCompleted);
  EXPECT_EQ(LastRun("2010")->outcome, "completed");
  db::Connection result(database().ConnectionString());
  for (const char* town : {"statdata_czzd", "GQstatdata_czzd", "ZGQCZTDLY_YJFLZD", "ZPMCZFWXXTJ"}) {
    EXPECT_FALSE(result.TableExists(town)) << town;
  }
  EXPECT_TRUE(result.TableExists("ZGQNCTDLY_EJFL"));
  EXPECT_EQ(Numbers(result, "select count(*) from AreaUnit where 年度<>'2010'"),
            std::vector<double>{0});
}

TEST_P(RunWorkspaceTest, UnfinishedJobIsVisibleAndBlocksTheConversion) {
  ASSERT_EQ(Run(), 1);
  const double total = CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL"));
  {
    // What a job killed midway leaves: its start recorded, no end.
    db::Connection database(this->database().ConnectionString());
    BeginRunRecord(database, "2009", County(), "run");
  }
  if (!IsServer()) testing::WriteFileBytes(WorkingCopy(), "half a copy");
  const RunReport refused = ConvertToMu();
  EXPECT_EQ(refused.outcome, RunOutcome::kFailed);
  ASSERT_FALSE(refused.messages.empty());
  EXPECT_NE(refused.messages[0].find("did not finish"), std::string::npos) << refused.messages[0];
  EXPECT_EQ(CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")), total);

  // The next run says so, and completes.
  ASSERT_EQ(Run(), 1);
  EXPECT_NE(ReadFileBytes(county_->log).find("did not finish"), std::string::npos);
  EXPECT_FALSE(fs::exists(WorkingCopy()));
  EXPECT_EQ(LastRun()->outcome, "completed");

  // On a server, a job of another county that runs beside it now is not one
  // that did not finish: the run says nothing of it.
  if (!IsServer()) return;
  RunWorkspace beside(database().ConnectionString(), true, "2009", "330199", "run");
  std::string error;
  std::vector<std::string> notices;
  ASSERT_TRUE(beside.Open({}, error, notices)) << error;
  ASSERT_EQ(Run(), 1);
  EXPECT_EQ(ReadFileBytes(county_->log).find("did not finish"), std::string::npos);
}

// A rerun ends with the tables it made: after a full run of every layer in
// three units, a rerun of the parcels alone drops the farmland, reserve,
// district and island tables; one without hectares their tables, reserve
// ones too, and forgets the unit; one on the defaults of a missing
// StatConfig.ini (square metres) keeps the other units' tables. One notice
// names what was dropped.
TEST_P(RunWorkspaceTest, RerunsEndWithTheTablesTheyMade) {
  const TableNames names(Mode(), "2009", County());
  const std::string farmland = Table("2009", kHectare, "JBNTQKTJ");
  const std::string reserve = names.Plain("ZB_GDHB"), reserve_ha = names.Plain("GQZB_GDHB");
  const std::string reserve_sum_ha = names.Plain("GQMJ_GDHB"),
                    reserve_mu = names.Plain("MUZB_GDHB");
  const std::string district = names.Plain("ZB_XZXQ"), island = Table("2009", kMu, "HDTDLY_YJFL");
  const std::string hectares = Table("2009", kHectare, "NCTDLY_EJFL");
  const std::string mu = Table("2009", kMu, "NCTDLY_EJFL");
  const std::string copy_ha = names.UnitCopy(kHectare, "statdata");
  const struct {
    const char* what;
    const char* config;  // nullptr: no StatConfig.ini
    bool parcels_alone;
    std::vector<std::string> gone, kept;
    const char* notice;
    bool hectares_recorded;
  } kCases[] = {
      {"parcels alone",
       testing::kThreeUnits,
       true,
       {farmland, reserve, reserve_ha, reserve_sum_ha, district, island},
       {hectares, mu, copy_ha},
       "注意 删除旧表 删除了上次统计而本次未生成的 ",
       true},
      {"no hectares",
       "[AreaUnit]\nUnit1=平方米\nUnit2=亩\n[PointLen]\nLen1=2\nLen2=2\n",
       false,
       {hectares, copy_ha, reserve_ha, reserve_sum_ha, farmland},
       {mu, reserve_mu, reserve, Table("2009", kMu, "JBNTQKTJ"), district},
       "注意 删除旧表 不再统计 公顷; 删除了上次统计而本次未生成的 ",
       false},
      {"no StatConfig.ini",
       nullptr,
       false,
       {},
       {hectares, mu, copy_ha, reserve_ha, reserve_mu, farmland},
       "StatConfig.ini is missing",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    testing::WriteStatConfig(testing::kThreeUnits);
    ASSERT_EQ(county_->RunProject("通用农村", database().ConnectionString(), Mode()).outcome,
              RunOutcome::kCompleted)
        << ReadFileBytes(county_->log);
    if (c.config) {
      testing::WriteStatConfig(c.config);
    } else {
      fs::remove(host::StatConfigPath());
    }
    if (c.parcels_alone) {
      testing::WriteFileBytes(county_->log, "");
      testing::OpenSurvey survey(county_->files.survey);
      landStatData(survey.parcel, survey.line, survey.point, 0, 0, 0, 0, 0, 0, 0,
                   county_->codes.get(), database().ConnectionString(), "2009", County(), Mode(), 1,
                   county_->log);
    } else {
      ASSERT_TRUE(
          county_->RunProject("通用农村", database().ConnectionString(), Mode()).Completed());
    }
    const std::string log = ReadFileBytes(county_->log);
    db::Connection result(database().ConnectionString());
    for (const std::string& table : c.gone) EXPECT_FALSE(result.TableExists(table)) << table;
    for (const std::string& table : c.kept) EXPECT_TRUE(result.TableExists(table)) << table;
    EXPECT_NE(log.find(c.notice), std::string::npos) << log;
    if (!c.gone.empty()) {
      // Named as the database lists it (in lower case on a server).
      EXPECT_NE(text::ToLowerAscii(log).find(text::ToLowerAscii(c.gone[0])), std::string::npos)
          << log;
    }
    EXPECT_EQ(Numbers(result, "select count(*) from " + names.AreaUnit() +
                                  " where AREAUNIT='公顷' and TYPE='土地利用'"),
              std::vector<double>{c.hectares_recorded ? 1.0 : 0.0});
  }
  // A unit named wrong fails the run before anything is dropped.
  testing::WriteStatConfig("[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=foo\n");
  const RunReport refused = county_->RunProject("通用农村", database().ConnectionString(), Mode());
  EXPECT_EQ(refused.outcome, RunOutcome::kFailed);
  ASSERT_FALSE(refused.messages.empty());
  EXPECT_NE(refused.messages[0].find("StatConfig.ini [AreaUnit] Unit3=foo"), std::string::npos)
      << refused.messages[0];
  db::Connection result(database().ConnectionString());
  EXPECT_TRUE(result.TableExists(mu));
  EXPECT_TRUE(result.TableExists(hectares));
}

// A real kill: the command-line host killed while it works on its copy.
TEST_P(RunWorkspaceTest, KilledRunLeavesTheDatabaseAsItWasAndIsReported) {
  ASSERT_EQ(Run(), 1);
  const double total = CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL"));
  const std::string target = IsServer() ? "--server" : "--db";
  const std::string where = IsServer()
                                ? database().ConnectionString()
                                : db::ParseConnectionString(database().ConnectionString()).location;
  const auto spawn = [&] {
    std::vector<std::string> words = {
        LANDSTAT_CLI, "run",  "--project", county_->files.project, target,   where,
        "--year",     "2009", "--home",    home_.path().string(),  "--quiet"};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, LANDSTAT_CLI, nullptr, nullptr, argv.data(), environ), 0);
    return pid;
  };
  const pid_t pid = spawn();
  // Killed once its start is recorded and the work is under way.
  for (int wait = 0; wait < 3000; ++wait) {
    const auto last = LastRun();
    if (last && !last->Finished()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

  EXPECT_FALSE(LastRun()->Finished());
  EXPECT_EQ(CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")), total);
  EXPECT_EQ(ConvertToMu().outcome, RunOutcome::kFailed);
  ASSERT_EQ(Run(), 1);
  EXPECT_NE(ReadFileBytes(county_->log).find("did not finish"), std::string::npos);
}

// A rerun works beside the earlier tables: readers read them whole while it
// runs (on a server without waiting on its locks, a view among them), and a
// failure after its tables took the earlier ones' place gives the earlier
// ones back. On a server, what a killed run left in its schema goes.
TEST_P(RunWorkspaceTest, EarlierTablesStayWholeUntilARerunPublishes) {
  ASSERT_EQ(Run(), 1);
  const std::string table = Table("2009", kHectare, "NCTDLY_EJFL");
  const std::string view = Table("2009", kHectare, "NCTDLY_QSSJFL");
  const double total = CountyTotal(table);
  const double owned = CountyTotal(view, "BM01HJ");
  std::string leftover;
  if (IsServer()) {
    db::Connection& admin = database().connection();
    leftover =
        RunSchema::NameOf(admin.Scalar("select current_schema()").AsText(), "2009", County());
    admin.Execute("create schema " + leftover);
    admin.Execute("create table " + leftover + ".half_made (x int)");
  }
  int reads = 0;
  const auto read_earlier = [&](const std::string& stage) {
    if (stage != "TDLYTZ") return;
    db::Connection reader(database().ConnectionString());
    if (IsServer()) reader.Execute("set lock_timeout = '5s'");
    EXPECT_EQ(Numbers(reader, "select XZQZMJ from " + table + " where XZQDM='" + County() + "'"),
              std::vector<double>{total});
    EXPECT_EQ(Numbers(reader, "select BM01HJ from " + view + " where XZQDM='" + County() + "'"),
              std::vector<double>{owned});
    ++reads;
  };
  const auto schema_left = [&] {
    return IsServer() &&
           Numbers(database().connection(), "select count(*) from pg_namespace where nspname = '" +
                                                leftover + "'") != std::vector<double>{0};
  };
  // Failed after publishing: what the run committed in its schema goes too.
  const RunReport failed = RunNamed("", [&](const std::string& stage) {
    read_earlier(stage);
    if (stage == "area units") throw std::runtime_error("stopped before publishing");
  });
  EXPECT_EQ(failed.outcome, RunOutcome::kFailed);
  EXPECT_EQ(CountyTotal(table), total);
  EXPECT_EQ(CountyTotal(view, "BM01HJ"), owned);
  EXPECT_FALSE(schema_left());

  // Failed while families are built side by side.
  EXPECT_EQ(RunNamed("",
                     [&](const std::string& stage) {
                       if (stage == "statdata_jbnt") throw std::runtime_error("stopped midway");
                     })
                .outcome,
            RunOutcome::kFailed);
  EXPECT_EQ(CountyTotal(table), total);
  EXPECT_FALSE(schema_left());

  EXPECT_NE(RunNamed("", read_earlier).outcome, RunOutcome::kFailed) << Failures();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(CountyTotal(table), total);
  EXPECT_EQ(CountyTotal(view, "BM01HJ"), owned);
  EXPECT_FALSE(schema_left());
  // The published tables are vacuumed by the server as any others.
  if (IsServer()) {
    EXPECT_EQ(Numbers(database().connection(),
                      "select count(*) from pg_class where reloptions is not null and "
                      "relnamespace = current_schema()::regnamespace"),
              std::vector<double>{0});
  }
}

// A role that may not make schemas on the server runs all the same, on the
// earlier tables in its transaction, and is told so.
TEST_P(RunWorkspaceTest, RoleWithoutTheRightToMakeASchemaRunsInPlace) {
  if (!IsServer()) GTEST_SKIP() << "only a server has schemas";
  db::Connection& admin = database().connection();
  const std::string role = "landstat_noschema_" + std::to_string(::getpid());
  const std::string schema = admin.Scalar("select current_schema()").AsText();
  admin.Execute("drop role if exists " + role);
  admin.Execute("create role " + role + " login");
  admin.Execute("grant usage, create on schema " + schema + " to " + role);
  const short result =
      county_->Run("通用农村", database().ConnectionString() + " user=" + role, true, "2009");
  const double total = result == 1 ? CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")) : 0;
  admin.Execute("drop owned by " + role);
  admin.Execute("drop role " + role);
  ASSERT_EQ(result, 1) << ReadFileBytes(county_->log);
  EXPECT_GT(total, 0);
  EXPECT_NE(ReadFileBytes(county_->log).find("无法建立统计用的模式"), std::string::npos);
}

// A run schema still in use (by a run whose job lock was lost) is not
// waited on: the run gives up dropping it after a while and runs on the
// earlier tables, saying so.
TEST_P(RunWorkspaceTest, RunSchemaInUseIsNotWaitedOn) {
  if (!IsServer()) GTEST_SKIP() << "only a server has schemas";
  db::Connection& admin = database().connection();
  const std::string busy =
      RunSchema::NameOf(admin.Scalar("select current_schema()").AsText(), "2009", County());
  admin.Execute("create schema " + busy);
  admin.Execute("create table " + busy + ".in_use (x int)");
  db::Connection holder(database().ConnectionString());
  holder.BeginTrans();
  holder.Execute("lock table " + busy + ".in_use in access share mode");
  const short result = Run();
  holder.RollbackTrans();
  ASSERT_EQ(result, 1) << ReadFileBytes(county_->log);
  EXPECT_NE(ReadFileBytes(county_->log).find("无法建立统计用的模式"), std::string::npos);
  EXPECT_GT(CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")), 0);
}

// A server that lets a run open no connection beside its own and its job
// lock's gets the base table filled on one connection and the summary
// tables built one after another, with a notice for each, and the same
// figures.
TEST_P(RunWorkspaceTest, ServerRefusingMoreConnectionsGetsTheTablesInTurn) {
  if (!IsServer()) GTEST_SKIP() << "only a server limits connections";
  db::Connection& admin = database().connection();
  const std::string role = "landstat_twoconn_" + std::to_string(::getpid());
  admin.Execute("drop role if exists " + role);
  admin.Execute("create role " + role + " login connection limit 2");
  admin.Execute("grant usage, create on schema " +
                admin.Scalar("select current_schema()").AsText() + " to " + role);
  admin.Execute("grant create on database " + admin.Scalar("select current_database()").AsText() +
                " to " + role);
  const short result =
      county_->Run("通用农村", database().ConnectionString() + " user=" + role, true, "2009");
  const std::string table = Table("2009", kHectare, "NCTDLY_EJFL");
  const double total = result == 1 ? CountyTotal(table) : 0;
  const std::string log = ReadFileBytes(county_->log);
  admin.Execute("drop owned by " + role);
  admin.Execute("drop role " + role);
  ASSERT_EQ(result, 1) << log;
  EXPECT_NE(log.find("无法另开连接同时填写基础汇总表"), std::string::npos) << log;
  EXPECT_NE(log.find("无法另开连接同时汇总"), std::string::npos) << log;
  ASSERT_EQ(Run(), 1);
  EXPECT_EQ(CountyTotal(table), total);
}

// A server connection lost midway ends the run at once, with one failure
// that names the loss; the tables of the earlier run stay.
TEST_P(RunWorkspaceTest, LostServerConnectionEndsTheRunAtOnce) {
  if (!IsServer()) GTEST_SKIP() << "only a server's connection can be lost";
  ASSERT_EQ(Run(), 1);
  const double total = CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL"));
  const std::string name = "landstat_lost_" + std::to_string(::getpid());
  // Cut before the run committed anything in its schema, after its base
  // table was filled on two connections, then while its families are built
  // on several (each of which may find the loss).
  for (const char* cut_at : {"change records", "base table", "statdata_jbnt"}) {
    SCOPED_TRACE(cut_at);
    std::vector<std::string> stages;
    const RunReport report = RunNamed(name, [&](const std::string& stage) {
      stages.push_back(stage);
      if (stage != cut_at) return;
      EndSessions("pg_stat_activity where application_name = ?", name);
    });
    EXPECT_EQ(report.outcome, RunOutcome::kFailed);
    EXPECT_EQ(report.failures, 1) << Failures();
    ASSERT_EQ(report.messages.size(), 1u);
    EXPECT_NE(report.messages[0].find("was lost"), std::string::npos) << report.messages[0];
    EXPECT_EQ(stages.back(), cut_at);
    // What the run committed in its schema is left, and said to be.
    const bool left = std::any_of(
        report.notices.begin(), report.notices.end(),
        [](const std::string& notice) { return notice.find("未能删除") != std::string::npos; });
    EXPECT_EQ(left, std::string(cut_at) != "change records");
    EXPECT_EQ(CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")), total);
    EXPECT_EQ(LastRun()->outcome, "failed");
  }
}

// A run shows one progress from its start to its end (a progress dialog
// stays for its length), going only forward, each walk of a layer a part of
// the whole, not a bar of its own.
TEST_P(RunWorkspaceTest, ARunsProgressGoesOnlyForwardFromBeginToEnd) {
  struct Recorder : host::SilentProgress {
    void Begin(const std::string&) override { calls.push_back("begin"); }
    void Step(const std::string&, double share) override {
      backwards = backwards || share < last;
      last = share;
    }
    void End() override { calls.push_back("end"); }
    std::vector<std::string> calls;
    double last = 0;
    bool backwards = false;
  } recorder;
  host::Progress* const previous = host::SetProgress(&recorder);
  const short result = Run();
  host::SetProgress(previous);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"begin", "end"}));
  EXPECT_FALSE(recorder.backwards);
  EXPECT_GT(recorder.last, 0.9);
}

// A run cancelled (before its base table, after it, while its families are
// built) or a conversion ends as failed at its next safe point, the cancel
// logged once; every table stored before stays as it was, only the run
// record says that the job failed.
TEST_P(RunWorkspaceTest, CancelledJobsEndAsFailedAndKeepTheEarlierResults) {
  ASSERT_EQ(Run(), 1);
  const std::string stored = Stored();
  testing::CancellingProgress progress;
  for (const char* cut_at : {"change records", "base table", "statdata_jbnt", "convert"}) {
    SCOPED_TRACE(cut_at);
    progress.cancelled = std::string(cut_at) == "convert";
    std::vector<std::string> stages;
    const RunReport report =
        progress.cancelled ? ConvertToMu() : RunNamed("", [&](const std::string& stage) {
          stages.push_back(stage);
          if (stage == cut_at) progress.cancelled = true;
        });
    EXPECT_EQ(report.outcome, RunOutcome::kFailed);
    EXPECT_EQ(report.failures, 1) << Failures();
    ASSERT_EQ(report.messages.size(), 1u);
    EXPECT_NE(report.messages[0].find("操作员取消了作业"), std::string::npos) << report.messages[0];
    if (!stages.empty()) {
      EXPECT_EQ(stages.back(), cut_at);
    }
    EXPECT_EQ(Stored(), stored);
    EXPECT_EQ(LastRun()->outcome, "failed");
  }
}

// A cancel asked within a long walk over a layer's records (the general
// run's reserve parcels, the rural-lot run's parcels searched in the lots)
// ends the job there: no later step of the walk is shown. The job fails and
// every table stored before stays as it was. (On a server the general run's
// own thread, waiting for its other connections to end, still shows the
// walk's text: there its steps are not counted.)
TEST_P(RunWorkspaceTest, CancelWithinAWalkEndsTheJobThere) {
  ASSERT_EQ(Run(), 1);
  const std::string stored = Stored();
  const auto rural_lots = [&] {
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(county_->files.project);
    NcqsRequest request;
    static_cast<JobTarget&>(request) = {county_->codes.get(),
                                        database().ConnectionString(),
                                        "2009",
                                        County(),
                                        county_->log,
                                        Mode()};
    request.project = project.get();
    return RunNcqs(request);
  };
  const struct {
    const char* walk;  // the walk's progress text
    std::function<RunReport()> job;
    bool helpers;  // on a server, the job works on other connections too
  } cases[] = {
      {"正在汇总耕地后备资源图斑", [&] { return RunNamed("", {}); }, true},
      {"正在给图斑赋宗地号", rural_lots, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.walk);
    testing::CancellingProgress progress;
    progress.cancel_at = c.walk;
    const RunReport report = c.job();
    EXPECT_TRUE(progress.cancelled);
    if (!(c.helpers && IsServer())) {
      EXPECT_EQ(progress.steps_after, 0);
    }
    EXPECT_EQ(report.outcome, RunOutcome::kFailed);
    EXPECT_NE(Failures().find("操作员取消了作业"), std::string::npos) << Failures();
    EXPECT_EQ(Stored(), stored);
  }
}

// A disk that fills while a job works (the statistics run in its summaries;
// on a server a conversion too, from its start) ends the job with one
// failure that says so; the earlier results stay and nothing of the job is
// left. On a server a trigger refuses the tables of the job's sessions as
// a full disk does. (An SQLite conversion reuses the pages of the tables it
// replaces: a full disk may leave it room enough.)
TEST_P(RunWorkspaceTest, FullDiskEndsTheJobAndKeepsTheEarlierResults) {
  ASSERT_EQ(Run(), 1);
  const std::string table = Table("2009", kHectare, "NCTDLY_EJFL");
  const double total = CountyTotal(table);
  testing::FullDisk disk(".working");
  db::Connection& admin = database().connection();
  const std::string name = IsServer() ? "landstat_full_" + std::to_string(::getpid()) : "";
  const auto fill = [&] {
    if (!IsServer()) return static_cast<void>(disk.Fill());
    // A body without a semicolon: statements are split at them.
    admin.Execute(
        "create function disk_full() returns event_trigger language plpgsql as E'begin if "
        "current_setting(''application_name'') = ''" +
        name +
        "'' then raise exception ''could not extend file: No space left on device'' using "
        "errcode = ''53100''\\073 end if\\073 end'");
    admin.Execute(
        "create event trigger landstat_disk_full on ddl_command_start when tag in ('CREATE "
        "TABLE', 'CREATE TABLE AS') execute function disk_full()");
  };
  const struct {
    const char* job;
    std::function<RunReport()> run;
  } kJobs[] = {
      {"run",
       [&] {
         return RunNamed(name, [&](const std::string& stage) {
           if (stage == "code tables") fill();
         });
       }},
      {"convert", [&] { return ConvertToMu(name); }},
  };
  for (const auto& job : kJobs) {
    SCOPED_TRACE(job.job);
    if (!IsServer() && std::string(job.job) == "convert") continue;
    const RunReport report = job.run();
    EXPECT_EQ(report.outcome, RunOutcome::kFailed);
    EXPECT_EQ(report.failures, 1) << Failures();
    ASSERT_EQ(report.messages.size(), 1u) << Failures();
    EXPECT_NE(report.messages[0].find("磁盘已满, 作业停止"), std::string::npos)
        << report.messages[0];
    EXPECT_NE(Failures().find(report.messages[0]), std::string::npos) << Failures();
    EXPECT_EQ(CountyTotal(table), total);
    EXPECT_EQ(LastRun()->outcome, "failed");
    EXPECT_FALSE(fs::exists(WorkingCopy()));
  }
  if (IsServer()) admin.Execute("drop event trigger landstat_disk_full");
}

// A unit copy that cannot be filled beside the run's own connection fails
// the run as it would on one: the earlier tables stay, the schema goes.
TEST_P(RunWorkspaceTest, UnitCopyFailingBesideTheRunFailsIt) {
  if (!IsServer()) GTEST_SKIP() << "only a server fills its copies beside the families";
  ASSERT_EQ(Run(), 1);
  const std::string table = Table("2009", kHectare, "NCTDLY_EJFL");
  const double total = CountyTotal(table);
  db::Connection& admin = database().connection();
  const std::string schema =
      RunSchema::NameOf(admin.Scalar("select current_schema()").AsText(), "2009", County());
  const RunReport report = RunNamed("", [&](const std::string& stage) {
    if (stage != "code tables") return;
    // The committed base table's areas can no longer be converted.
    const std::string base = admin
                                 .Scalar("select tablename from pg_tables where schemaname = '" +
                                         schema + "' and tablename like 'd%statdata'")
                                 .AsText();
    admin.Execute("alter table " + schema + "." + base + " alter column 土地总面积 type text");
  });
  EXPECT_EQ(report.outcome, RunOutcome::kFailed);
  // Families that read the base table itself may fail beside the copies.
  EXPECT_TRUE(std::any_of(report.messages.begin(), report.messages.end(),
                          [](const std::string& message) {
                            return message.find("填充分单位基础汇总表失败") != std::string::npos;
                          }))
      << Failures();
  EXPECT_EQ(CountyTotal(table), total);
  EXPECT_EQ(Numbers(admin, "select count(*) from pg_namespace where nspname = '" + schema + "'"),
            std::vector<double>{0});
  EXPECT_EQ(LastRun()->outcome, "failed");
}

// The session holding a server job's lock ended midway: another job may
// have started, so the run is not committed; the earlier tables stay.
TEST_P(RunWorkspaceTest, LostJobLockOnTheServerKeepsTheEarlierRun) {
  if (!IsServer()) GTEST_SKIP() << "only a server's job lock is a session";
  ASSERT_EQ(Run(), 1);
  const double total = CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL"));
  const std::string name = "landstat_lock_" + std::to_string(::getpid());
  const RunReport report = RunNamed(name, [&](const std::string& stage) {
    if (stage != "base table") return;
    EndSessions(
        "pg_locks where locktype = 'advisory' and pid in (select pid from pg_stat_activity "
        "where application_name = ?)",
        name);
  });
  EXPECT_EQ(report.outcome, RunOutcome::kFailed);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.back().find("was lost with its session"), std::string::npos)
      << report.messages.back();
  EXPECT_EQ(CountyTotal(Table("2009", kHectare, "NCTDLY_EJFL")), total);
  EXPECT_EQ(LastRun()->outcome, "failed");
}

LANDSTAT_BOTH_ENGINES(RunWorkspaceTest);

}  // namespace
}  // namespace landstat
