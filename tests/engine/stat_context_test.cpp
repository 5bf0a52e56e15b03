#include "engine/stat_context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "engine/table_names.h"
#include "platform/db/db_error.h"
#include "platform/gis/rural_code.h"
#include "platform/host/paths.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using testing::WriteStatConfig;

namespace fs = std::filesystem;
using testing::BothEngines;
using testing::JetConnectionString;
using testing::ReadFileBytes;
using testing::ScopedProgramDir;
using testing::Texts;
using testing::WriteFileBytes;
using Strings = std::vector<std::string>;
using ::testing::HasSubstr;

constexpr char kYear[] = "2009";
constexpr char kCounty[] = "330102";

std::unique_ptr<CStatContext> MakeContext(gis::RuralCode* codes = nullptr,
                                          const std::string& log_path = {},
                                          const std::string& version = {}) {
  return std::make_unique<CStatContext>(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, codes, kYear, kCounty,
                                        log_path, 0, version);
}

const char kThreeUnits[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n"
    "[PointLen]\nLen1=2\nLen2=4\nLen3=2\n"
    "[TYPE]\nType=1\n";

const std::vector<gis::CODESTRUCT> kEntries = {
    {"地类代码", "01", "耕地"},
    {"地类代码", "011", "水田"},
    {"村行政代码", "330102001001", "一村"},
    {"地类代码", "20", "城镇村及工矿用地"},
    {"组行政代码", "330102001001001", "一组"},
    {"地类代码", "203", "村庄"},
    {"房屋结构", "1", "钢混"},
    {"地类代码", "012", "水浇地"},
};

// Tests that read the configuration get a program directory of their own.
class StatContextTest : public ::testing::Test {
 protected:
  ScopedProgramDir home_;
};

class StatContextDbTest : public BothEngines {
 protected:
  ScopedProgramDir home_;
};

TEST_F(StatContextTest, Construction) {
  {
    CStatContext context(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, nullptr, kYear, kCounty, "", 1, "");
    EXPECT_EQ(context.m_strVersion, "通用农村");
    EXPECT_EQ((std::vector<short>{context.m_aiXzq, context.m_aiParcel, context.m_aiLine,
                                  context.m_aiPoint, context.m_aiJbntParcel, context.m_aiJbntLine,
                                  context.m_aiJbntPoint, context.m_aiChange, context.m_aiGdhb,
                                  context.m_aiDispute}),
              (std::vector<short>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(context.m_strPrefix1, kYear);
    EXPECT_EQ(context.m_strPrefix2, kCounty);
    EXPECT_TRUE(context.m_bGroupLevel);
    EXPECT_EQ(context.m_nDbType, 0);
  }
  EXPECT_EQ(MakeContext(nullptr, "", "广东农村")->m_strVersion, "广东农村");
}

TEST_F(StatContextTest, DataSourceKindComesFromTheDataSourceFile) {
  WriteFileBytes(host::DataSourceIniPath(), "[数据源]\n模式=网络\n名称=host=127.0.0.1 dbname=x\n");
  EXPECT_EQ(MakeContext()->m_nDbType, 1);
  WriteFileBytes(host::DataSourceIniPath(), "[数据源]\n模式=网络\n名称=oracle:ORCL\n");
  EXPECT_EQ(MakeContext()->m_nDbType, 2);
}

TEST_P(StatContextDbTest, InitUnitsReadsTheConfiguration) {
  WriteStatConfig(kThreeUnits);
  auto context = MakeContext();
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  EXPECT_TRUE(context->m_pConn.IsOpen());
  EXPECT_EQ(context->m_nErrCount, 0);
  EXPECT_EQ(context->m_nDbMode, Mode());
  EXPECT_EQ(context->m_strConnect, database().ConnectionString());
  EXPECT_EQ(context->m_nUnitSrc, kSquareMetre);
  EXPECT_EQ(context->m_nUnit1, kHectare);
  EXPECT_EQ(context->m_nUnit2, kMu);
  EXPECT_EQ(context->m_nDecSrc, 2);
  EXPECT_EQ(context->m_nDec1, 4);
  EXPECT_EQ(context->m_nDec2, 2);
  EXPECT_TRUE(context->m_bPm);
  EXPECT_TRUE(context->m_bGq);
  EXPECT_TRUE(context->m_bMu);
  EXPECT_EQ(context->m_nStatScope, 1);
  EXPECT_FALSE(context->m_bHasMssm);
}

TEST_P(StatContextDbTest, InitUnitsNamesTheTables) {
  WriteStatConfig(kThreeUnits);
  auto plain = MakeContext();
  ASSERT_EQ(plain->InitUnits(database().ConnectionString(), 0), 1);
  EXPECT_EQ(plain->m_strStatTbl, "statdata");
  EXPECT_EQ(plain->m_strStatTblSrc, "PMstatdata");
  EXPECT_EQ(plain->m_strStatTblUnit1, "GQstatdata");
  EXPECT_EQ(plain->m_strStatTblUnit2, "MUstatdata");
  EXPECT_EQ(plain->m_strJbntTbl, "statdata_jbnt");
  EXPECT_EQ(plain->m_strJbntTblSrc, "PMstatdata_jbnt");
  EXPECT_EQ(plain->m_strJbntTblUnit1, "GQstatdata_jbnt");
  EXPECT_EQ(plain->m_strJbntTblUnit2, "MUstatdata_jbnt");
  EXPECT_EQ(plain->Names().Summary('Z', kHectare, "TDLY_YJFL"), "ZGQTDLY_YJFL");

  auto server = MakeContext();
  ASSERT_EQ(server->InitUnits(database().ConnectionString(), 1), 1);
  EXPECT_EQ(server->m_strStatTbl, "D2009330102statdata");
  EXPECT_EQ(server->m_strStatTblSrc, "PM2009330102statdata");
  EXPECT_EQ(server->m_strStatTblUnit1, "GQ2009330102statdata");
  EXPECT_EQ(server->m_strStatTblUnit2, "MU2009330102statdata");
  EXPECT_EQ(server->m_strJbntTbl, "D2009330102statdata_jbnt");
  EXPECT_EQ(server->m_strJbntTblSrc, "PM2009330102statdata_jbnt");
  EXPECT_EQ(server->m_strJbntTblUnit1, "GQ2009330102statdata_jbnt");
  EXPECT_EQ(server->m_strJbntTblUnit2, "MU2009330102statdata_jbnt");
  EXPECT_EQ(server->Names().Summary('Z', kHectare, "TDLY_YJFL"), "ZGQ2009330102TDLY_YJFL");
}

TEST_P(StatContextDbTest, InitUnitsWithOneUnit) {
  WriteStatConfig("[AreaUnit]\nUnit1=公顷\nUnit2=\nUnit3=\n");
  auto context = MakeContext();
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  EXPECT_EQ(context->m_nUnitSrc, kHectare);
  EXPECT_EQ(context->m_nUnit1, static_cast<short>(0xFFFF));
  EXPECT_EQ(context->m_nUnit2, static_cast<short>(0xFFFF));
  EXPECT_FALSE(context->m_bPm);
  EXPECT_TRUE(context->m_bGq);
  EXPECT_FALSE(context->m_bMu);
  EXPECT_EQ(context->m_nStatScope, 2);
  EXPECT_EQ(context->m_strStatTblSrc, Mode() == 0 ? "GQstatdata" : "GQ2009330102statdata");
  EXPECT_EQ(context->m_strStatTblUnit1, "");
  EXPECT_EQ(context->m_strStatTblUnit2, "");
  EXPECT_EQ(context->m_strJbntTblUnit1, "");
  EXPECT_EQ(context->m_strJbntTblUnit2, "");
}

// A setting replaced by its default is told in the log, not counted.
TEST_P(StatContextDbTest, InitUnitsLogsReplacedSettingsAsNotices) {
  WriteStatConfig("[PointLen]\nLen2=-1\n");
  const std::string log = (home_.path() / "log.txt").string();
  WriteFileBytes(log, "");
  auto context = MakeContext(nullptr, log);
  context->OpenStatLogFile();
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  EXPECT_EQ(context->m_nErrCount, 0);
  EXPECT_EQ(context->m_nDec1, 2);
  context->CloseStatLogFile();
  EXPECT_EQ(ReadFileBytes(log), "注意 设置汇总数据库参数 " + host::StatConfigPath() +
                                    " [PointLen] Len2=-1: not a whole number from 0 to 10, 2 "
                                    "is used \r\n");
}

TEST_F(StatContextTest, InitUnitsWithABadConnectionCountsAFailure) {
  const std::string missing = JetConnectionString((home_.path() / "missing.sqlite").string());
  auto context = MakeContext();
  EXPECT_EQ(context->InitUnits(missing, 0), 0);
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_EQ(context->m_strLogTitle, "设置汇总数据库参数");
  EXPECT_FALSE(context->m_pConn.IsOpen());
  EXPECT_FALSE(fs::exists(home_.path() / "missing.sqlite"));

  auto server = MakeContext();
  EXPECT_EQ(server->InitUnits("host=127.0.0.1 port=1 dbname=x connect_timeout=2", 1), 0);
  EXPECT_EQ(server->m_nErrCount, 1);
  EXPECT_EQ(server->m_strLogTitle, "设置汇总数据库参数");
}

// The year and county code go into table names and statements: a value that
// is not four or six digits is logged by name and nothing is opened.
TEST_F(StatContextTest, InitUnitsRefusesAnUnsoundYearOrCounty) {
  const std::pair<const char*, const char*> cases[] = {
      {"20O9", kCounty}, {"209", kCounty}, {kYear, "33'0102"}, {kYear, "32012"}, {kYear, ""}};
  const std::string database = JetConnectionString((home_.path() / "stats.sqlite").string());
  for (const auto& [year, county] : cases) {
    CStatContext context(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, year, county, "", 0, "");
    EXPECT_EQ(context.InitUnits(database, 0), 0);
    EXPECT_EQ(context.m_nErrCount, 1);
    const std::string culprit = std::string(year) == kYear ? county : year;
    EXPECT_NE(context.m_strLogMsg.find("'" + culprit + "'"), std::string::npos)
        << context.m_strLogMsg;
    EXPECT_FALSE(context.m_pConn.IsOpen());
  }
}

TEST(TableNamesOfModes, SummaryAndAreaUnit) {
  const TableNames plain(0, kYear, kCounty);
  EXPECT_FALSE(plain.IsServer());
  EXPECT_EQ(plain.Summary('Z', kHectare, "TDLY_YJFL"), "ZGQTDLY_YJFL");
  EXPECT_EQ(plain.Summary('Q', kMu, "TDLY_EJFL"), "QMUTDLY_EJFL");
  EXPECT_EQ(plain.Summary('Z', kSquareMetre, "TDLY_YJFL"), "ZPMTDLY_YJFL");
  EXPECT_EQ(plain.Summary('Z', kNoUnit, "TDLY_YJFL"), "");
  EXPECT_EQ(plain.AreaUnit(), "AreaUnit");

  for (short mode : {1, 2}) {
    const TableNames server(mode, kYear, kCounty);
    EXPECT_TRUE(server.IsServer());
    EXPECT_EQ(server.Summary('Z', kHectare, "TDLY_YJFL"), "ZGQ2009330102TDLY_YJFL");
    EXPECT_EQ(server.Summary('Q', kMu, "TDLY_EJFL"), "QMU2009330102TDLY_EJFL");
    EXPECT_EQ(server.Summary('Q', kNoUnit, "TDLY_EJFL"), "");
    EXPECT_EQ(server.AreaUnit(), "D330102AreaUnit");
    EXPECT_EQ(server.UnitCopy(kNoUnit, "statdata"), "");
  }
}

TEST_P(StatContextDbTest, LoadCodesFillsTheMapsAndTheCodeTable) {
  WriteStatConfig(kThreeUnits);
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(kEntries));
  auto context = MakeContext(codes.get());
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  ASSERT_EQ(context->LoadCodes(), 1);

  EXPECT_EQ(context->m_arrClassCodes, (Strings{"01", "011", "20", "203", "012"}));
  EXPECT_EQ(context->m_arrClass1Codes, (Strings{"01", "20"}));
  EXPECT_EQ(context->m_mapCodeName.size(), 2u);
  EXPECT_EQ(context->GetCodeName("330102001001"), "一村");
  EXPECT_EQ(context->GetCodeName("330102001001001"), "一组");
  EXPECT_EQ(context->GetCodeName("011"), "");
  EXPECT_EQ(context->GetCodeName("1"), "");

  Strings fields = kStatFixedFields;
  for (const char* code : {"BM01", "BM011", "BM20", "BM203", "BM012"}) fields.push_back(code);
  EXPECT_EQ(context->m_arrStatFields, fields);
  EXPECT_EQ(context->m_arrStatFields.front(), "序号");
  EXPECT_EQ(kStatFixedFields.back(), "土地总面积");
  EXPECT_FALSE(context->m_bOracle);

  Strings expected;
  for (const gis::CODESTRUCT& entry : kEntries) {
    expected.push_back(entry.type + "|" + entry.code + "|" + entry.name);
  }
  std::sort(expected.begin(), expected.end());
  const std::string rows = "select 代码类型 || '|' || 代码 || '|' || 代码名称 from CODETBL1";
  Strings written = Texts(conn(), rows);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expected);

  // A second load writes the table afresh.
  ASSERT_EQ(context->LoadCodes(), 1);
  written = Texts(conn(), rows);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expected);
  EXPECT_EQ(context->m_arrClassCodes.size(), 5u);
  EXPECT_EQ(context->m_nErrCount, 0);
}

TEST_P(StatContextDbTest, LoadCodesPutsTheDescriptionFirst) {
  WriteStatConfig(std::string(kThreeUnits) + "[HD]\nMSSM=1\n");
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(kEntries));
  auto context = MakeContext(codes.get());
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  EXPECT_TRUE(context->m_bHasMssm);
  ASSERT_EQ(context->LoadCodes(), 1);
  ASSERT_EQ(context->m_arrStatFields.size(), kStatFixedFields.size() + 6);
  EXPECT_EQ(context->m_arrStatFields[0], "描述说明");
  EXPECT_EQ(context->m_arrStatFields[1], "序号");
  EXPECT_EQ(context->m_arrStatFields.back(), "BM012");
}

TEST_P(StatContextDbTest, OracleSourceMakesAServerRunOracle) {
  WriteFileBytes(host::DataSourceIniPath(), "[数据源]\n模式=网络\n名称=oracle:ORCL\n");
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(kEntries));
  auto context = MakeContext(codes.get());
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  ASSERT_EQ(context->LoadCodes(), 1);
  EXPECT_EQ(context->m_bOracle, Mode() != 0);
  EXPECT_EQ(context->DialectKind(), Mode() != 0 ? db::DbKind::kOracle : db::DbKind::kEmbedded);
}

TEST_F(StatContextTest, LoadCodesWithoutACodeTable) {
  auto context = MakeContext();
  EXPECT_EQ(context->LoadCodes(), 0);
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_EQ(context->m_strLogTitle, "装载代码表");
  EXPECT_TRUE(context->m_arrStatFields.empty());
}

TEST_F(StatContextTest, CodeLookups) {
  auto context = MakeContext();
  context->m_mapCodeName = {{"330102001001", "一村"}};
  std::string name = "old";
  EXPECT_EQ(context->LookupCode("330102001001", name), 1);
  EXPECT_EQ(name, "一村");
  name = "old";
  EXPECT_EQ(context->LookupCode("330102001002", name), 0);
  EXPECT_EQ(context->LookupCode("", name), 0);
  EXPECT_EQ(name, "old");
  EXPECT_EQ(context->GetCodeName("330102001002"), "");
}

TEST_F(StatContextTest, LogIsNeverCreated) {
  const std::string path = home_.File("stat.log");
  auto context = MakeContext(nullptr, path);
  context->OpenStatLogFile();
  EXPECT_FALSE(context->m_bLogOpen);
  context->LogFailure("标题", "消息");
  EXPECT_EQ(context->m_nErrCount, 1);
  EXPECT_EQ(context->m_strLogTitle, "标题");
  EXPECT_EQ(context->m_strLogMsg, "消息");
  EXPECT_EQ(context->m_strLogLine, "1 标题 消息 \r\n");
  context->CloseStatLogFile();
  EXPECT_FALSE(fs::exists(path));

  // No file named at all.
  auto unnamed = MakeContext();
  unnamed->OpenStatLogFile();
  EXPECT_FALSE(unnamed->m_bLogOpen);
  unnamed->LogFailure("a", "b");
  EXPECT_EQ(unnamed->m_strLogLine, "1 a b \r\n");
}

TEST_F(StatContextTest, LogReplacesTheOldText) {
  const std::string path = home_.File("stat.log");
  WriteFileBytes(path, std::string(500, 'x') + "\r\nold run\r\n");
  auto context = MakeContext(nullptr, path);
  context->LogFailure("before", "open");  // counted, but the count restarts on open
  context->OpenStatLogFile();
  EXPECT_TRUE(context->m_bLogOpen);
  EXPECT_EQ(context->m_nErrCount, 0);
  EXPECT_EQ(context->m_strLogLine, "");
  context->LogFailure("a", "b");
  context->LogFailure("c", "d");
  EXPECT_EQ(context->m_nErrCount, 2);
  // Each line is in the file as soon as it is logged.
  EXPECT_EQ(ReadFileBytes(path), "1 a b \r\n2 c d \r\n");
  context.reset();
  EXPECT_EQ(ReadFileBytes(path), "1 a b \r\n2 c d \r\n");
}

// A log planted as a symbolic link is not followed: the file it points to
// keeps its text, and the run counts the log it could not open.
TEST_F(StatContextTest, LogThroughALinkIsRefusedAndCounted) {
  WriteFileBytes(home_.File("victim"), "keep");
  fs::create_symlink(home_.File("victim"), home_.File("stat.log"));
  auto context = MakeContext(nullptr, home_.File("stat.log"));
  context->OpenStatLogFile();
  EXPECT_FALSE(context->m_bLogOpen);
  context->LogFailure("a", "b");
  EXPECT_EQ(context->m_nErrCount, 2);
  EXPECT_THAT(context->m_arrFirstFailures.at(0), ::testing::HasSubstr("symbolic link"));
  EXPECT_EQ(ReadFileBytes(home_.File("victim")), "keep");
}

TEST_F(StatContextTest, LogReopenedStartsAgain) {
  const std::string path = home_.File("stat.log");
  WriteFileBytes(path, "");
  auto context = MakeContext(nullptr, path);
  context->OpenStatLogFile();
  context->LogFailure("a", "b");
  context->LogFailure("c", "d");
  context->OpenStatLogFile();
  context->LogFailure("e", "f");
  context->CloseStatLogFile();
  EXPECT_FALSE(context->m_bLogOpen);
  context->LogFailure("g", "h");  // closed: counted, not written
  EXPECT_EQ(context->m_nErrCount, 2);
  EXPECT_EQ(ReadFileBytes(path), "1 e f \r\n");
}

// What the logs of the run's other connections held reaches the run's log
// in the order the run writes it, numbered on from the run's own count; a
// lost connection is logged once, however many logs held its loss.
TEST_F(StatContextTest, HeldLinesAreWrittenInTheRunsOrderAndCount) {
  const std::string path = home_.File("stat.log");
  WriteFileBytes(path, "");
  auto run = MakeContext(nullptr, path);
  run->OpenStatLogFile();
  run->LogFailure("a", "before");
  run->HoldLines();
  run->LogFailure("r", "held by the run");
  EXPECT_EQ(run->m_nErrCount, 2);
  const auto by_run = run->TakeHeldLines();

  const db::DbError lost("server closed the connection", db::DbFailure::kConnectionLost);
  std::vector<std::vector<StatRunLog::HeldLine>> by_helpers;
  for (const char* name : {"h1", "h2"}) {
    auto helper = MakeContext();
    helper->HoldLines();
    helper->LogFailure(name, "first");
    helper->LogNotice(name, "notice");
    helper->LogFailureText("表", "without a number\r\n");
    EXPECT_THROW(helper->LogFailure(name, "cut", lost), JobEnded);
    by_helpers.push_back(helper->TakeHeldLines());
  }
  EXPECT_EQ(ReadFileBytes(path), "1 a before \r\n");

  run->StopHolding();
  EXPECT_EQ(run->m_nErrCount, 1);
  for (const auto& lines : {by_helpers[1], by_run, by_helpers[0]}) run->WriteHeldLines(lines);
  EXPECT_EQ(ReadFileBytes(path),
            "1 a before \r\n"
            "2 h2 first \r\n"
            "注意 h2 notice \r\n"
            "without a number\r\n"
            "4 h2 与数据库服务器的连接中断, 作业停止 (server closed the connection) \r\n"
            "5 r held by the run \r\n"
            "6 h1 first \r\n"
            "注意 h1 notice \r\n"
            "without a number\r\n");
  EXPECT_EQ(run->m_nErrCount, 7);
  EXPECT_EQ(run->m_arrNotices, (Strings{"h2 notice", "h1 notice"}));
  EXPECT_EQ(run->m_arrFirstFailures.size(), 7u);

  // A failure text met in the handler of the error that found the loss is
  // that loss.
  auto third = MakeContext();
  third->HoldLines();
  try {
    throw lost;
  } catch (const db::DbError&) {
    EXPECT_THROW(third->LogFailureText("表", "数据添加失败 lost\r\n"), JobEnded);
  }
  const auto held = third->TakeHeldLines();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].kind, StatRunLog::HeldLine::Kind::kJobStopped);
}

TEST_P(StatContextDbTest, TablesAndViewsAreFoundAndDropped) {
  auto context = MakeContext();
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  conn().Execute("create table Stat_T (a int)");
  conn().Execute("create view Stat_V as select 1 as a");
  EXPECT_EQ(context->IsTableExist("Stat_T"), 1);
  EXPECT_EQ(context->IsTableExist("STAT_T"), 1);
  EXPECT_EQ(context->IsTableExist("Stat_V"), 1);
  EXPECT_EQ(context->IsTableExist("Stat_Missing"), 0);

  EXPECT_EQ(context->DropTable("Stat_T"), 1);
  EXPECT_EQ(context->IsTableExist("Stat_T"), 0);
  EXPECT_EQ(context->DropTable("Stat_V"), 1);
  EXPECT_EQ(context->IsTableExist("Stat_V"), 0);
  EXPECT_FALSE(conn().TableExists("Stat_V"));
  EXPECT_EQ(context->DropTable("Stat_Missing"), 0);

  // The connection is still usable after the failed attempts.
  conn().Execute("create table Stat_After (a int)");
  EXPECT_EQ(context->IsTableExist("Stat_After"), 1);
}

// A failure the database reports is logged with the run's own message and
// then the database's text; a table is said to be locked by another user
// only when a lock is what the database reported.
TEST_P(StatContextDbTest, FailuresLogTheDatabasesOwnText) {
  WriteStatConfig(kThreeUnits);
  conn().Execute("create table NCTDLYQS (a int)");
  std::unique_ptr<gis::RuralCode> codes(gis::RuralCode::FromEntries(kEntries));
  // The server session's settings ride in the options of its connection
  // string.
  const auto with_settings = [&](const std::string& settings) {
    std::string text = database().ConnectionString();
    if (IsServer()) text.replace(text.find("options='") + 9, 0, settings + " ");
    return text;
  };
  {
    auto context = MakeContext(codes.get());
    ASSERT_EQ(context->InitUnits(with_settings("-clock_timeout=200"), Mode()), 1);
    if (!IsServer()) context->m_pConn.Execute("PRAGMA busy_timeout = 200");
    db::Connection other(database().ConnectionString());
    other.BeginTrans();
    other.Execute(IsServer() ? "LOCK TABLE NCTDLYQS IN ACCESS EXCLUSIVE MODE"
                             : "insert into NCTDLYQS values (1)");
    EXPECT_FALSE(context->ReplaceTableForScript("NCTDLYQS"));
    EXPECT_THAT(context->m_strLogMsg, HasSubstr("NCTDLYQS 被其他用户锁定："));
    EXPECT_THAT(context->m_strLogMsg, HasSubstr(IsServer() ? "lock timeout" : "locked"));
    other.RollbackTrans();
  }
  std::optional<testing::ReadOnlyFile> read_only;
  if (!IsServer()) {
    read_only.emplace(conn().FilePath());
    if (read_only->Writable()) GTEST_SKIP() << "cannot make a file read-only here";
  }
  auto context = MakeContext(codes.get());
  ASSERT_EQ(context->InitUnits(with_settings("-cdefault_transaction_read_only=on"), Mode()), 1);
  EXPECT_EQ(context->LoadCodes(), 0);
  const std::string read_only_words = IsServer() ? "read-only transaction" : "readonly database";
  EXPECT_THAT(context->m_strLogMsg, HasSubstr("创建CODETBL1失败 ("));
  EXPECT_THAT(context->m_strLogMsg, HasSubstr(read_only_words));
  EXPECT_FALSE(context->ReplaceTableForScript("NCTDLYQS"));
  EXPECT_THAT(context->m_strLogMsg, HasSubstr("NCTDLYQS 无法删除："));
  EXPECT_THAT(context->m_strLogMsg, HasSubstr(read_only_words));
  EXPECT_EQ(context->m_nErrCount, 2);
}

TEST_F(StatContextTest, NoTableWithoutAConnection) {
  auto context = MakeContext();
  EXPECT_EQ(context->IsTableExist("statdata"), 0);
  EXPECT_EQ(context->DropTable("statdata"), 0);
}

TEST_P(StatContextDbTest, FillXzqNames) {
  auto context = MakeContext();
  ASSERT_EQ(context->InitUnits(database().ConnectionString(), Mode()), 1);
  context->m_mapCodeName = {{"330102001001", "一村"}, {"330102001002", "二村"}};
  conn().Execute("create table XZQ (N int, XZQDM varchar(19), XZQMC varchar(60))");
  conn().Execute(
      "insert into XZQ values (1, '330102001001', '旧名'), (2, '330102001002', NULL), "
      "(3, '330102009999', '保留'), (4, '', '空'), (5, NULL, '无'), (6, '330102001001', '')");
  ASSERT_EQ(context->FillXzqNames("XZQ", "xzqdm", "XZQMC"), 1);
  EXPECT_EQ(Texts(conn(),
                  "select coalesce(XZQDM, '<null>') || '=' || coalesce(XZQMC, '<null>') "
                  "from XZQ order by N"),
            (Strings{"330102001001=一村", "330102001002=二村", "330102009999=保留", "=空",
                     "<null>=无", "330102001001=一村"}));
  EXPECT_EQ(context->FillXzqNames("XZQ_Missing", "XZQDM", "XZQMC"), 0);
}

class StatSqlScript : public StatContextTest {
 protected:
  fs::path Script(const std::string& folder, const std::string& name) const {
    return fs::path(host::ConfigDir()) / folder / ("STAT_" + name + ".sql");
  }
};

TEST_F(StatSqlScript, FolderOfTheDatabaseKind) {
  WriteFileBytes(Script("Access", "X"), "select 1\nfrom a\r\nwhere b");
  WriteFileBytes(Script("SQL", "X"), "select 2\n");
  WriteFileBytes(Script("Oracle", "X"), "select 3 from dual");
  auto context = MakeContext();
  std::string text;
  context->m_nDbMode = 0;
  ASSERT_TRUE(context->LoadStatSqlScript(text, "X"));
  EXPECT_EQ(text, "select 1\r\nfrom a\r\nwhere b\r\n");
  for (short mode : {1, 2}) {
    context->m_nDbMode = mode;
    context->m_bOracle = false;
    ASSERT_TRUE(context->LoadStatSqlScript(text, "X")) << mode;
    EXPECT_EQ(text, "select 2\r\n") << mode;
    context->m_bOracle = true;
    ASSERT_TRUE(context->LoadStatSqlScript(text, "X")) << mode;
    EXPECT_EQ(text, "select 3 from dual\r\n") << mode;
  }
}

TEST_F(StatSqlScript, MissingScript) {
  WriteFileBytes(Script("SQL", "OnlyServer"), "select 1");
  auto context = MakeContext();
  std::string text = "unchanged";
  EXPECT_FALSE(context->LoadStatSqlScript(text, "OnlyServer"));
  EXPECT_FALSE(context->LoadStatSqlScript(text, "Missing"));
  EXPECT_FALSE(context->LoadStatSqlScript(text, ""));
  EXPECT_EQ(text, "unchanged");
}

TEST_F(StatSqlScript, GbkScriptIsConverted) {
  WriteFileBytes(Script("Access", "Gbk"), "select '" + testing::kGbkSquareMetre + "' as unit\r\n");
  auto context = MakeContext();
  std::string text;
  ASSERT_TRUE(context->LoadStatSqlScript(text, "Gbk"));
  EXPECT_EQ(text, "select '平方米' as unit\r\n");
}

TEST_F(StatSqlScript, ByteOrderMarkIsNotPartOfTheStatement) {
  WriteFileBytes(Script("Access", "Bom"), "\xEF\xBB\xBFselect 1\r\n");
  auto context = MakeContext();
  std::string text;
  ASSERT_TRUE(context->LoadStatSqlScript(text, "Bom"));
  EXPECT_EQ(text, "select 1\r\n");
}

TEST_F(StatSqlScript, SaveToAFolder) {
  const fs::path folder = home_.path() / "dumps";
  ASSERT_EQ(SaveStatSqlScript("TDLY", "select 1;\r\nselect 2;", folder.string()), 1);
  EXPECT_EQ(ReadFileBytes(folder / "TDLY.sql"), "select 1;\r\nselect 2;");
  // Written again: only the new text stays.
  ASSERT_EQ(SaveStatSqlScript("TDLY", "x", folder.string()), 1);
  EXPECT_EQ(ReadFileBytes(folder / "TDLY.sql"), "x");
}

TEST_F(StatSqlScript, SaveWithoutAFolderGoesToTheProgramDirectory) {
  ASSERT_EQ(SaveStatSqlScript("失败语句", "select 平方米"), 1);
  EXPECT_EQ(ReadFileBytes(home_.path() / "ERROR_StatSQL" / "失败语句.sql"), "select 平方米");
}

TEST_F(StatSqlScript, SaveFailsWhenTheFolderCannotBeMade) {
  const fs::path folder = home_.path() / "missing" / "dumps";
  EXPECT_EQ(SaveStatSqlScript("TDLY", "select 1", folder.string()), 0);
  EXPECT_FALSE(fs::exists(home_.path() / "missing"));
}

LANDSTAT_BOTH_ENGINES(StatContextDbTest);

}  // namespace
}  // namespace landstat
