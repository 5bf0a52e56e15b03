#include "engine/database_helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/set_aside_tables.h"
#include "platform/db/connection.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::BothEngines;
using testing::JetConnectionString;
using testing::TempDir;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Marks a file immutable while alive: nothing, root included, can replace it.
class ImmutableFile {
 public:
  explicit ImmutableFile(std::string path) : path_(std::move(path)) { set_ = Set(true); }
  ~ImmutableFile() {
    if (set_) Set(false);
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;
  bool set() const { return set_; }

 private:
  bool Set(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }

  std::string path_;
  bool set_ = false;
};

class TableHelpersTest : public BothEngines {};

TEST_P(TableHelpersTest, ExistsAndDropIgnoreCase) {
  conn().Execute("create table Dltb_A (a int)");
  conn().Execute("create table 地类图斑 (a int)");
  conn().Execute("create view V_Dltb as select 1 as a");
  for (const char* name : {"Dltb_A", "DLTB_A", "dltb_a", "地类图斑", "v_dltb"}) {
    EXPECT_EQ(IsTblExist(conn(), name), 1) << name;
  }
  for (const char* name : {"Dltb", "Dltb_A2", "图斑"})
    EXPECT_EQ(IsTblExist(conn(), name), 0) << name;

  EXPECT_EQ(DeleteTbl(conn(), "DLTB_a"), 1);
  EXPECT_EQ(IsTblExist(conn(), "Dltb_A"), 0);
  EXPECT_EQ(DeleteTbl(conn(), "dltb_a"), 0);
  EXPECT_EQ(DeleteTbl(conn(), "地类图斑"), 1);
  EXPECT_EQ(IsTblExist(conn(), "地类图斑"), 0);
}

// The engine drops scratch tables that may not be there inside its own
// transactions; a failed drop must not spoil the work around it.
TEST_P(TableHelpersTest, FailedDropKeepsTheTransactionUsable) {
  conn().BeginTrans();
  conn().Execute("create table 临时 (a int)");
  EXPECT_EQ(DeleteTbl(conn(), "不存在"), 0);
  conn().Execute("insert into 临时 values (1)");
  conn().CommitTrans();
  EXPECT_EQ(conn().Scalar("select count(*) from 临时").AsInteger(), 1);
}

// A large table (2,000,000 values or more) put aside keeps its rows under
// another name until the tables that replace it are made, inside a
// transaction on a file; elsewhere, or when it is small, it is dropped at
// once. Either way none is left once DropAll ran.
TEST_P(TableHelpersTest, SetAsideTablesGoOnlyWhenDropped) {
  const struct {
    bool in_transaction;
    int rows;
    bool kept_on_file;
  } kCases[] = {{true, 50000, true}, {true, 1000, false}, {false, 50000, false}};
  // 40 columns, the first numbered.
  std::string columns = "a int";
  for (int i = 1; i < 40; ++i) columns += ",c" + std::to_string(i) + " int";
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.in_transaction << " " << c.rows);
    conn().Execute("create table 旧表 (" + columns + ")");
    conn().Execute(
        "insert into 旧表 (a) with recursive n(a) as (select 1 union all select a+1 from n "
        "where a<" +
        std::to_string(c.rows) + ") select a from n");
    if (c.in_transaction) conn().BeginTrans();
    SetAsideTables aside;
    ASSERT_TRUE(aside.SetAside(conn(), "旧表"));
    EXPECT_EQ(IsTblExist(conn(), "旧表"), 0);
    conn().Execute("create table 旧表 (a int)");
    const bool kept = c.kept_on_file && !IsServer();
    EXPECT_EQ(IsTblExist(conn(), "旧表_replaced"), kept ? 1 : 0);
    if (kept) {
      EXPECT_EQ(conn().Scalar("select count(*) from 旧表_replaced").AsInteger(), c.rows);
    }
    aside.DropAll(conn());
    if (c.in_transaction) conn().CommitTrans();
    EXPECT_EQ(IsTblExist(conn(), "旧表_replaced"), 0);
    EXPECT_EQ(conn().Scalar("select count(*) from 旧表").AsInteger(), 0);
    conn().Execute("drop table 旧表");
  }
}

LANDSTAT_BOTH_ENGINES(TableHelpersTest);

TEST(CreateAcessDBTest, CreatesAFileThatOpensAsAJetDatabase) {
  TempDir dir;
  const std::string path = dir.File("浙江 2023.sqlite");
  ASSERT_EQ(CreateAcessDB(path), 1);
  db::Connection conn(JetConnectionString(path));
  EXPECT_EQ(conn.Kind(), db::DbKind::kEmbedded);
  conn.Execute("create table t (a int)");
  conn.Execute("insert into t values (5)");
  EXPECT_EQ(conn.Scalar("select a from t").AsInteger(), 5);
}

TEST(CreateAcessDBTest, RefusesAnExistingFileAndLeavesItAlone) {
  TempDir dir;
  const std::string database = dir.File("stats.sqlite");
  ASSERT_EQ(CreateAcessDB(database), 1);
  {
    db::Connection conn(JetConnectionString(database));
    conn.Execute("create table t (a int)");
    conn.Execute("insert into t values (1), (2)");
  }
  const std::string other = dir.File("notes.sqlite");
  WriteBytes(other, "not a database, but somebody's file");
  for (const std::string& path : {database, other}) {
    const std::string before = ReadBytes(path);
    EXPECT_EQ(CreateAcessDB(path), 0) << path;
    EXPECT_EQ(ReadBytes(path), before) << path;
  }
}

TEST(CreateAcessDBTest, RefusesAMissingFolder) {
  TempDir dir;
  EXPECT_EQ(CreateAcessDB(dir.File("missing/stats.sqlite")), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

class CompactMdbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.path() / "O'Brien 的数据";
    fs::create_directory(folder_);
    path_ = (folder_ / "stats.sqlite").string();
    sibling_ = (folder_ / "stats1.sqlite").string();
    ASSERT_EQ(CreateAcessDB(path_), 1);
    db::Connection conn(JetConnectionString(path_));
    conn.Execute(
        "create table 图斑 (BSM int, 地类编码 varchar(10) default '011', 备注 varchar(300))");
    conn.Execute("create table 地类 (代码 varchar(10), 名称 varchar(20))");
    conn.Execute("insert into 地类 values ('011', '水田'), ('021', '果园')");
    conn.BeginTrans();
    const std::string filler(200, 'x');
    for (int bsm = 1; bsm <= 5000; ++bsm) {
      conn.Execute("insert into 图斑 (BSM, 备注) values (?, ?)", {bsm, filler});
    }
    conn.CommitTrans();
    conn.Execute("delete from 图斑 where BSM > 100");
  }

  // The tables and rows the file holds after SetUp.
  void ExpectDataIntact() {
    db::Connection conn(JetConnectionString(path_));
    EXPECT_TRUE(conn.TableExists("图斑"));
    EXPECT_TRUE(conn.TableExists("地类"));
    EXPECT_EQ(conn.Scalar("select count(*) from 图斑").AsInteger(), 100);
    EXPECT_EQ(conn.Scalar("select sum(BSM) from 图斑").AsInteger(), 5050);
    EXPECT_EQ(conn.Scalar("select 名称 from 地类 where 代码 = '021'").AsText(), "果园");
    conn.Execute("insert into 图斑 (BSM) values (101)");
    EXPECT_EQ(conn.Scalar("select 地类编码 from 图斑 where BSM = 101").AsText(), "011");
  }

  TempDir dir_;
  fs::path folder_;
  std::string path_;
  std::string sibling_;
};

TEST_F(CompactMdbTest, ShrinksTheFileAndKeepsItsData) {
  const auto before = fs::file_size(path_);
  ASSERT_EQ(CompactMdb(path_), 1);
  EXPECT_LT(fs::file_size(path_), before / 2);
  EXPECT_EQ(FileNames(folder_), std::vector<std::string>{"stats.sqlite"});
  ExpectDataIntact();
}

TEST_F(CompactMdbTest, OtherFilesBesideTheDatabaseAreNeverTouched) {
  // The operator's own files under the names an older compaction used.
  WriteBytes(sibling_, "the operator's stats1");
  fs::create_directory(folder_ / "stats2.sqlite");
  WriteBytes((folder_ / "stats2.sqlite" / "keep.txt").string(), "the operator's file");
  ASSERT_EQ(CompactMdb(path_), 1);
  EXPECT_EQ(ReadBytes(sibling_), "the operator's stats1");
  EXPECT_EQ(ReadBytes((folder_ / "stats2.sqlite" / "keep.txt").string()), "the operator's file");
  EXPECT_EQ(FileNames(folder_),
            (std::vector<std::string>{"stats.sqlite", "stats1.sqlite", "stats2.sqlite"}));
  ExpectDataIntact();
}

TEST_F(CompactMdbTest, FailedRenameLeavesTheOriginal) {
  const std::string before = ReadBytes(path_);
  {
    ImmutableFile pinned(path_);
    if (!pinned.set()) GTEST_SKIP() << "this file system cannot mark a file immutable";
    EXPECT_EQ(CompactMdb(path_), 0);
  }
  EXPECT_EQ(ReadBytes(path_), before);
  EXPECT_EQ(FileNames(folder_), std::vector<std::string>{"stats.sqlite"});
  ExpectDataIntact();
}

TEST(CompactMdbFailureTest, LeavesAFileThatIsNoDatabaseUnchanged) {
  TempDir dir;
  const std::string path = dir.File("stats.sqlite");
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a text file\n";
  WriteBytes(path, text);
  EXPECT_EQ(CompactMdb(path), 0);
  EXPECT_EQ(ReadBytes(path), text);
  EXPECT_EQ(FileNames(dir.path()), std::vector<std::string>{"stats.sqlite"});
}

TEST(CompactMdbFailureTest, MissingFileIsNotCreated) {
  TempDir dir;
  EXPECT_EQ(CompactMdb(dir.File("stats.sqlite")), 0);
  EXPECT_TRUE(FileNames(dir.path()).empty());
}

TEST(MaxRowTest, NoLimitToRaise) {
  long max_rows = 0;
  EXPECT_EQ(ReadMaxRow(max_rows), 1);
  // Far beyond the rows of any county's table.
  EXPECT_GE(max_rows, 2'000'000'000L);
  EXPECT_EQ(ModifyMaxRow(9500), 1);
  long after = 0;
  EXPECT_EQ(ReadMaxRow(after), 1);
  EXPECT_EQ(after, max_rows);
}

}  // namespace
}  // namespace landstat
