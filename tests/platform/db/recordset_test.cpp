#include "platform/db/recordset.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/row_pipe.h"
#include "support/test_databases.h"

namespace landstat::db {
namespace {

using testing::BothEngines;
using ::testing::HasSubstr;

class RecordsetTest : public BothEngines {
 protected:
  // Three parcels; the third has neither a unit name nor an area.
  void CreateParcels() {
    conn().Execute(
        "CREATE TABLE dltb (bsm int, XZQDM varchar(12), 座落单位名称 varchar(60), "
        "土地总面积 double, 图斑数 int, 备注 varchar(20))");
    conn().Execute(
        "INSERT INTO dltb VALUES (1, '110101', '东村', 3.0, 4, '');"
        "INSERT INTO dltb VALUES (2, '110102', '西村', 2.5, 7, 'abc');"
        "INSERT INTO dltb VALUES (3, '110103', NULL, NULL, 0, '12')");
  }

  double Number(const std::string& sql) { return conn().Scalar(sql).AsDouble(); }
  std::string Text(const std::string& sql) { return conn().Scalar(sql).AsText(); }

  // What another session sees: only what has been committed.
  double CommittedNumber(const std::string& sql) {
    Connection other(database().ConnectionString());
    return other.Scalar(sql).AsDouble();
  }
};

TEST_P(RecordsetTest, WalksRowsAndReadsFieldsByNameOrIndex) {
  CreateParcels();
  Recordset rs(conn(), "select * from dltb where bsm >= 2 order by bsm desc");
  ASSERT_EQ(rs.FieldCount(), 6);
  EXPECT_EQ(rs.Type("xzqdm"), FieldType::kText);
  EXPECT_EQ(rs.Type("土地总面积"), FieldType::kDouble);
  EXPECT_EQ(rs.Type("图斑数"), FieldType::kInteger);
  EXPECT_TRUE(rs.HasField("Xzqdm"));
  EXPECT_FALSE(rs.HasField("xzq"));
  EXPECT_THROW(rs.Field("xzq"), DbError);
  EXPECT_THROW(rs.Field(6), DbError);

  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Field(0).AsInteger(), 3);
  EXPECT_EQ(rs.Text("xzqdm"), "110103");
  EXPECT_EQ(rs.Text("XZQDM"), rs.Field(1).AsText());
  EXPECT_TRUE(rs.IsNull("座落单位名称"));
  EXPECT_EQ(rs.Text("座落单位名称"), "");
  EXPECT_TRUE(rs.IsNull("土地总面积"));
  EXPECT_EQ(rs.Number("土地总面积"), 0.0);

  rs.MoveNext();
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Number("BSM"), 2.0);
  EXPECT_EQ(rs.Text("座落单位名称"), "西村");
  EXPECT_EQ(rs.Number("图斑数"), 7.0);
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
}

TEST_P(RecordsetTest, ConvertsValuesAsAdoDid) {
  CreateParcels();
  Recordset rs(conn(), "select * from dltb order by bsm");
  EXPECT_EQ(rs.Text("土地总面积"), "3");
  EXPECT_EQ(rs.Text("图斑数"), "4");
  EXPECT_EQ(rs.Number("备注"), 0.0);  // empty text
  rs.SetField("土地总面积", "12.5");
  rs.SetField("图斑数", "8");
  EXPECT_EQ(rs.Field("土地总面积").AsDouble(), 12.5);
  rs.Update();

  rs.MoveNext();
  EXPECT_EQ(rs.Text("土地总面积"), "2.5");
  EXPECT_THROW(rs.Number("备注"), DbError);  // "abc"
  try {
    rs.SetField("土地总面积", "1,5 亩");
    ADD_FAILURE() << "text that is no number was written into a double field";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("土地总面积"));
  }
  EXPECT_EQ(rs.Number("土地总面积"), 2.5);
  rs.Update();
  rs.Close();

  EXPECT_EQ(Number("select 土地总面积 from dltb where bsm = 1"), 12.5);
  EXPECT_EQ(Number("select 图斑数 from dltb where bsm = 1"), 8.0);
  EXPECT_EQ(Number("select 土地总面积 from dltb where bsm = 2"), 2.5);
}

TEST_P(RecordsetTest, UpdatesEveryRowOfAWalkOnce) {
  conn().Execute("CREATE TABLE zd (座落单位代码 varchar(19), 土地总面积 double, 顺序 int)");
  conn().Execute("CREATE INDEX zd_order ON zd (顺序)");
  for (int i = 1; i <= 40; ++i) {
    conn().Execute("INSERT INTO zd VALUES (?, ?, ?)", {std::to_string(1000 + i), i * 1.5, i});
  }
  // The walk moves each row further along the order it walks by: a row must
  // not come round a second time. The bound ends a walk that would.
  int visited = 0;
  Recordset rs(conn(), "select * from zd where 顺序 > 10 order by 顺序");
  for (; !rs.IsEOF() && visited <= 40; rs.MoveNext()) {
    ++visited;
    rs.SetField("顺序", rs.Number("顺序") + 100);
    rs.SetField("土地总面积", rs.Number("土地总面积") * 2);
    if (visited % 2 == 0) rs.Update();  // the others are stored by MoveNext
  }
  rs.Close();
  EXPECT_EQ(visited, 30);
  EXPECT_EQ(Number("select count(*) from zd where 顺序 > 110"), 30);
  EXPECT_EQ(Number("select sum(顺序) from zd"), 820 + 3000);
  EXPECT_EQ(Number("select 土地总面积 from zd where 座落单位代码 = '1011'"), 33.0);
  EXPECT_EQ(Number("select 土地总面积 from zd where 座落单位代码 = '1010'"), 15.0);
}

TEST_P(RecordsetTest, UpdatingARowAgainKeepsTheLastValues) {
  CreateParcels();
  conn().Execute("CREATE TABLE log (n int)");
  Recordset rs(conn(), "select * from dltb where bsm <= 2 order by bsm");
  rs.SetField("土地总面积", 10.0);
  rs.Update();
  rs.SetField("土地总面积", 11.0);
  rs.Update();
  // Other fields of the same row, then once more after the pending writes
  // went out with a statement: the row has moved on PostgreSQL by then.
  rs.SetField("座落单位名称", "东村一组");
  rs.Update();
  conn().Execute("INSERT INTO log VALUES (1)");
  rs.SetField("图斑数", 40);
  rs.Update();
  rs.MoveNext();
  rs.SetField("座落单位名称", "西村一组");
  rs.Update();
  rs.SetField("土地总面积", 20.0);
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  rs.Close();

  EXPECT_EQ(Number("select 土地总面积 from dltb where bsm = 1"), 11.0);
  EXPECT_EQ(Text("select 座落单位名称 from dltb where bsm = 1"), "东村一组");
  EXPECT_EQ(Number("select 图斑数 from dltb where bsm = 1"), 40.0);
  EXPECT_EQ(Text("select 座落单位名称 from dltb where bsm = 2"), "西村一组");
  EXPECT_EQ(Number("select 土地总面积 from dltb where bsm = 2"), 20.0);
  EXPECT_EQ(Number("select count(*) from dltb"), 3.0);
}

TEST_P(RecordsetTest, LongWalksStoreEveryRow) {
  // More rows than one write batch and one fetched block hold.
  constexpr int kRows = 2600;
  conn().Execute("CREATE TABLE tb (bsm int, 地类编码 varchar(4), 面积 double)");
  {
    Recordset rs(conn(), "select * from tb");
    for (int i = 1; i <= kRows; ++i) {
      rs.AddNew();
      rs.SetField("bsm", i);
      rs.SetField("地类编码", i % 2 ? "0101" : "0201");
      rs.SetField("面积", 0.5);
    }
    rs.Update();
  }
  EXPECT_EQ(CommittedNumber("select count(*) from tb"), kRows);

  int visited = 0;
  Recordset rs(conn(), "select bsm, 面积 from tb where 面积 > 0 order by bsm desc");
  for (; !rs.IsEOF(); rs.MoveNext()) {
    ++visited;
    rs.SetField("面积", rs.Number("bsm"));
    rs.Update();
  }
  rs.Close();
  EXPECT_EQ(visited, kRows);
  EXPECT_EQ(CommittedNumber("select count(*) from tb where 面积 = bsm"), kRows);
}

TEST_P(RecordsetTest, AddNewStoresRowsWithTableDefaults) {
  conn().Execute(
      "CREATE TABLE qs (权属单位代码 varchar(19), 土地总面积 double default 0.00, "
      "级别 int default 5, 备注 varchar(20))");
  Recordset rs(conn(), "select * from qs where 1<>1");
  EXPECT_TRUE(rs.IsEOF());
  rs.AddNew();
  rs.SetField("权属单位代码", "110101001");
  rs.SetField("土地总面积", 3.25);
  rs.AddNew();  // stores the first row
  EXPECT_EQ(Number("select count(*) from qs"), 1);
  rs.SetField("权属单位代码", "110101002");
  rs.AddNew();
  rs.Update();  // a row with nothing set
  rs.Close();

  Recordset check(conn(), "select * from qs order by 权属单位代码");
  std::vector<std::string> rows;
  for (; !check.IsEOF(); check.MoveNext()) {
    rows.push_back(check.Text("权属单位代码") + "|" + check.Text("土地总面积") + "|" +
                   check.Text("级别") + "|" + (check.IsNull("备注") ? "null" : "?"));
  }
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows,
            (std::vector<std::string>{"110101001|3.25|5|null", "110101002|0|5|null", "|0|5|null"}));
}

TEST_P(RecordsetTest, CancelUpdateDropsWhatWasNotStored) {
  CreateParcels();
  Recordset rs(conn(), "select * from dltb order by bsm");
  rs.AddNew();
  rs.SetField("bsm", 9);
  rs.CancelUpdate();
  EXPECT_EQ(rs.Number("bsm"), 1);  // back on the row the walk was on
  rs.SetField("座落单位名称", "改名");
  rs.CancelUpdate();
  EXPECT_EQ(rs.Text("座落单位名称"), "东村");
  rs.MoveNext();
  rs.SetField("土地总面积", 99.0);
  rs.CancelUpdate();
  rs.MoveNext();
  rs.Close();
  EXPECT_EQ(Number("select count(*) from dltb"), 3);
  EXPECT_EQ(Text("select 座落单位名称 from dltb where bsm = 1"), "东村");
  EXPECT_EQ(Number("select 土地总面积 from dltb where bsm = 2"), 2.5);
}

TEST_P(RecordsetTest, CloseStoresPendingWrites) {
  CreateParcels();
  {
    Recordset rs(conn(), "select * from dltb order by bsm");
    rs.SetField("图斑数", 41);
    rs.Close();
    rs.Close();
  }
  {
    Recordset rs(conn(), "select * from dltb");
    rs.AddNew();
    rs.SetField("bsm", 4);
    rs.SetField("座落单位名称", "南村");
    rs.Close();
  }
  EXPECT_EQ(CommittedNumber("select 图斑数 from dltb where bsm = 1"), 41);
  EXPECT_EQ(CommittedNumber("select count(*) from dltb where 座落单位名称 = '南村'"), 1);
  EXPECT_FALSE(conn().InTransaction());
}

TEST_P(RecordsetTest, NavigatesLikeAnAdoCursor) {
  CreateParcels();
  Recordset rs(conn(), "select bsm from dltb where bsm > 1 order by bsm");
  EXPECT_EQ(rs.RecordCount(), 2);
  while (!rs.IsEOF()) rs.MoveNext();
  EXPECT_THROW(rs.Field("bsm"), DbError);
  EXPECT_THROW(rs.MoveNext(), DbError);
  rs.MoveFirst();
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Number("bsm"), 2);
  rs.Close();
  EXPECT_THROW(rs.MoveNext(), DbError);

  Recordset empty(conn(), "select * from dltb where bsm > 100");
  EXPECT_TRUE(empty.IsEOF());
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_EQ(empty.FieldCount(), 6);
  EXPECT_THROW(empty.Field(0), DbError);
  EXPECT_THROW(empty.SetField("bsm", 1), DbError);
}

TEST_P(RecordsetTest, JoinsAndGroupsAreReadOnly) {
  CreateParcels();
  conn().Execute("CREATE TABLE xzq (XZQDM varchar(12), 行政区名称 varchar(20))");
  conn().Execute("INSERT INTO xzq VALUES ('110101', '东城'), ('110102', '西城')");

  Recordset join(conn(),
                 "select d.bsm, x.行政区名称 from dltb d inner join xzq x on d.XZQDM = x.XZQDM "
                 "order by d.bsm");
  ASSERT_FALSE(join.IsEOF());
  EXPECT_EQ(join.Text("行政区名称"), "东城");
  try {
    join.SetField("行政区名称", "东城区");
    ADD_FAILURE() << "a join was written";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("single table"));
  }
  EXPECT_THROW(join.AddNew(), DbError);

  Recordset group(conn(),
                  "select XZQDM, sum(土地总面积) as 面积 from dltb group by XZQDM order by XZQDM");
  ASSERT_FALSE(group.IsEOF());
  EXPECT_EQ(group.Number("面积"), 3.0);
  try {
    group.AddNew();
    ADD_FAILURE() << "a grouped query was written";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("single table"));
  }
  EXPECT_THROW(group.SetField("面积", 1.0), DbError);
}

TEST_P(RecordsetTest, ActionStatementsRunAndLeaveNoRows) {
  CreateParcels();
  Recordset insert(conn(), "insert into dltb (bsm, 座落单位名称) values (4, '北村')");
  EXPECT_TRUE(insert.IsEOF());
  Recordset update(conn(), "update dltb set 图斑数 = 1 where bsm <= 2");
  EXPECT_TRUE(update.IsEOF());
  EXPECT_THROW(update.Field(0), DbError);
  EXPECT_EQ(Number("select count(*) from dltb"), 4);
  EXPECT_EQ(Number("select sum(图斑数) from dltb"), 2);
}

// A write the table refuses is raised where it is stored: at the row's own
// Update, or later when buffered writes go out, at the latest at Close.
// Runs a writing walk over `sql` and closes the recordset; true when a
// DbError came out of either.
template <typename Walk>
bool WalkFails(Connection& conn, const std::string& sql, Walk walk) {
  Recordset rs(conn, sql);
  bool failed = false;
  try {
    walk(rs);
  } catch (const DbError&) {
    failed = true;
  }
  try {
    rs.Close();
  } catch (const DbError&) {
    failed = true;
  }
  return failed;
}

TEST_P(RecordsetTest, RefusedNewRowKeepsTheRowsBefore) {
  conn().Execute("CREATE TABLE jsyd (bsm int, 用地单位 varchar(20) NOT NULL, 面积 double)");
  EXPECT_TRUE(WalkFails(conn(), "select * from jsyd", [](Recordset& rs) {
    for (int i = 1; i <= 6; ++i) {
      rs.AddNew();
      rs.SetField("bsm", i);
      rs.SetField("用地单位", i == 4 ? Value() : Value("单位" + std::to_string(i)));
      rs.SetField("面积", 1.0);
      rs.Update();
    }
  }));
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select count(*) from jsyd where bsm < 4"), 3);
  EXPECT_EQ(CommittedNumber("select count(*) from jsyd where bsm = 4"), 0);
}

TEST_P(RecordsetTest, RefusedRowUpdateKeepsTheRowsBefore) {
  conn().Execute("CREATE TABLE jsyd (bsm int, 面积 double CHECK (面积 >= 0))");
  conn().Execute(
      "INSERT INTO jsyd VALUES (1, 1); INSERT INTO jsyd VALUES (2, 1); "
      "INSERT INTO jsyd VALUES (3, 1)");
  EXPECT_TRUE(WalkFails(conn(), "select * from jsyd where bsm > 0 order by bsm", [](Recordset& rs) {
    for (; !rs.IsEOF(); rs.MoveNext()) {
      rs.SetField("面积", rs.Number("bsm") == 2 ? -1.0 : 7.0);
      rs.Update();
    }
  }));
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select 面积 from jsyd where bsm = 1"), 7.0);
  EXPECT_EQ(CommittedNumber("select 面积 from jsyd where bsm = 2"), 1.0);
}

TEST_P(RecordsetTest, RecordsetsAndStatementsInterleaveOnOneConnection) {
  CreateParcels();
  conn().Execute("CREATE TABLE hz (XZQDM varchar(12), 面积 double)");
  conn().Execute("CREATE TABLE jd (名称 varchar(20), 次数 int)");
  conn().Execute("INSERT INTO jd VALUES ('汇总', 0)");

  Recordset source(conn(), "select * from dltb order by bsm");
  Recordset target(conn(), "select * from hz where 1<>1");
  for (; !source.IsEOF(); source.MoveNext()) {
    target.AddNew();
    target.SetField("XZQDM", source.Field("XZQDM"));
    target.SetField("面积", source.Field("土地总面积"));
    target.Update();
    EXPECT_EQ(conn().Execute("UPDATE jd SET 次数 = 次数 + 1"), 1);
    EXPECT_THROW(conn().Execute("select * from missing_table"), DbError);
    EXPECT_THROW(conn().Scalar("select nothing from dltb"), DbError);
  }
  target.Close();
  source.Close();

  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select count(*) from hz"), 3);
  EXPECT_EQ(CommittedNumber("select sum(面积) from hz"), 5.5);
  EXPECT_EQ(CommittedNumber("select 次数 from jd"), 3);
}

TEST_P(RecordsetTest, CallerTransactionDecidesRecordsetWrites) {
  CreateParcels();
  for (const bool commit : {false, true}) {
    conn().BeginTrans();
    {
      Recordset rs(conn(), "select * from dltb order by bsm");
      rs.SetField("图斑数", 100);
      rs.AddNew();
      rs.SetField("bsm", 5);
      rs.Close();
    }
    EXPECT_TRUE(conn().InTransaction());
    if (commit) {
      conn().CommitTrans();
    } else {
      conn().RollbackTrans();
      EXPECT_EQ(Number("select count(*) from dltb"), 3);
      EXPECT_EQ(Number("select 图斑数 from dltb where bsm = 1"), 4);
    }
  }
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select count(*) from dltb"), 4);
  EXPECT_EQ(CommittedNumber("select 图斑数 from dltb where bsm = 1"), 100);
}

TEST_P(RecordsetTest, TransactionBegunDuringAWalkCoversWhatFollows) {
  CreateParcels();
  Recordset rs(conn(), "select * from dltb order by bsm");
  rs.SetField("图斑数", 50);
  rs.MoveNext();
  conn().BeginTrans();
  conn().Execute("DELETE FROM dltb WHERE bsm = 3");
  conn().RollbackTrans();
  rs.SetField("图斑数", 60);
  rs.MoveNext();
  rs.Close();
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select count(*) from dltb"), 3);
  EXPECT_EQ(CommittedNumber("select sum(图斑数) from dltb where bsm <= 2"), 110);
}

// The recordset ends its writes while the caller's transaction is still
// open: the caller's rollback undoes its own work, and its commit works.
TEST_P(RecordsetTest, RecordsetClosedInsideACallerTransaction) {
  CreateParcels();
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    Recordset rs(conn(), "select * from dltb order by bsm");
    rs.SetField("图斑数", commit ? 70 : 60);
    rs.MoveNext();
    conn().BeginTrans();
    conn().Execute("DELETE FROM dltb WHERE bsm = 3");
    rs.Close();
    if (commit) {
      conn().CommitTrans();
    } else {
      conn().RollbackTrans();
    }
    EXPECT_FALSE(conn().InTransaction());
    EXPECT_EQ(CommittedNumber("select count(*) from dltb"), commit ? 2 : 3);
    EXPECT_EQ(CommittedNumber("select 图斑数 from dltb where bsm = 1"), commit ? 70 : 60);
  }
}

// A table made again with other defaults: new rows take the new ones.
TEST_P(RecordsetTest, NewRowsTakeTheDefaultsOfATableMadeAgain) {
  for (const char* fallback : {"1", "7"}) {
    conn().Execute("DROP TABLE IF EXISTS mj");
    conn().Execute(std::string("CREATE TABLE mj (a int, b double precision default ") + fallback +
                   ")");
    Recordset rs(conn(), "select * from mj where 1<>1");
    for (int a = 0; a < 3; ++a) {
      rs.AddNew();
      rs.SetField("a", a);
      if (a == 0) rs.SetField("b", 5);
    }
    rs.Close();
    EXPECT_EQ(CommittedNumber("select sum(b) from mj"), 5 + 2 * std::stoi(fallback)) << fallback;
  }
}

TEST_P(RecordsetTest, QuotesInValuesRoundTrip) {
  conn().Execute("CREATE TABLE qlr (bsm int, 权利人名称 varchar(40))");
  conn().Execute("INSERT INTO qlr VALUES (?, ?)", {1, "名'称"});
  {
    Recordset rs(conn(), "select * from qlr where 权利人名称 = '名''称'");
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.Text("权利人名称"), "名'称");
    rs.SetField("权利人名称", "O'Brien \"Jr\"");
    rs.AddNew();
    rs.SetField("bsm", 2);
    rs.SetField("权利人名称", "名'称");
    rs.Update();
  }
  Recordset rs(conn(), "select * from qlr where 权利人名称 <> 'x''y' order by bsm");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Text("权利人名称"), "O'Brien \"Jr\"");
  rs.MoveNext();
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Text("权利人名称"), "名'称");
}

// A caller that logs a refused row and goes on: each write runs, and what
// it raised is kept in `errors`.
std::function<void(const std::function<void()>&)> KeepingErrors(std::vector<std::string>& errors) {
  return [&errors](const std::function<void()>& write) {
    try {
      write();
    } catch (const DbError& error) {
      errors.push_back(error.what());
    }
  };
}

// A caller that logs a refused row and goes on: every good row of a long
// write is stored, on either engine, and the one error names the refused
// row, however the engine batches its writes.
TEST_P(RecordsetTest, RefusedRowInALongWriteKeepsEveryGoodRow) {
  constexpr int kRows = 2500;
  constexpr int kBad = 1509;
  conn().Execute("CREATE TABLE jsyd (bsm int, 面积 double CHECK (面积 >= 0))");
  for (const bool add : {true, false}) {
    SCOPED_TRACE(add ? "AddNew" : "update");
    std::vector<std::string> errors;
    const auto store = KeepingErrors(errors);
    {
      Recordset rs(conn(), "select * from jsyd order by bsm");
      for (int i = 1; i <= kRows; ++i) {
        store([&] {
          if (add) {
            rs.AddNew();
            rs.SetField("bsm", i);
          } else if (i > 1) {
            rs.MoveNext();
          }
          rs.SetField("面积", i == kBad ? -1.0 : (add ? 1.0 : 7.0));
          rs.Update();
        });
      }
      store([&] { rs.Close(); });
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], HasSubstr(add ? "new row 1509 of table jsyd"
                                         : "row 1509 of the walk over table jsyd"));
    EXPECT_FALSE(conn().InTransaction());
    if (add) {
      EXPECT_EQ(CommittedNumber("select count(*) from jsyd"), kRows - 1);
      conn().Execute("INSERT INTO jsyd VALUES (1509, 1)");  // the walk's row 1509
    } else {
      EXPECT_EQ(CommittedNumber("select count(*) from jsyd where 面积 = 7"), kRows - 1);
    }
  }
}

// Wide rows inside a job's transaction, many batches' worth: a server stores
// full batches while the next ones are made (in the rows of the batches
// before). A statement in the middle sees every row written before it, each
// refused row (two, in batches stored one after the other) is named once, in
// order, by whichever call meets it, and every other row is stored whole,
// texts of every length included.
TEST_P(RecordsetTest, LongWideWriteInATransactionStoresEveryGoodRow) {
  constexpr int kRows = 30000;
  constexpr int kBad[] = {15000, 20500};
  const auto bad = [&](int i) { return i == kBad[0] || i == kBad[1]; };
  constexpr int kWidth = 150;
  std::string columns = "bsm int, 面积 double CHECK (面积 >= 0), mc varchar(40)";
  for (int c = 1; c <= kWidth; ++c) columns += ", c" + std::to_string(c) + " double";
  const auto name_of = [](int i) { return std::string(static_cast<std::size_t>(i % 37), 'x'); };
  long name_lengths = 0;
  conn().Execute("CREATE TABLE jsyd (" + columns + ")");
  std::vector<std::string> errors;
  const auto store = KeepingErrors(errors);
  conn().BeginTrans();
  {
    Recordset rs(conn(), "select * from jsyd");
    for (int i = 1; i <= kRows; ++i) {
      store([&] {
        rs.AddNew();
        rs.SetField("bsm", i);
        rs.SetField("面积", bad(i) ? -1.0 : 1.0);
        rs.SetField("mc", name_of(i));
        for (int c = 1; c <= kWidth; ++c) rs.SetField("c" + std::to_string(c), i + c);
        rs.Update();
      });
      if (!bad(i)) name_lengths += i % 37;
      if (i == 14000) {
        store([&] { EXPECT_EQ(conn().Scalar("select count(*) from jsyd").AsInteger(), i); });
      }
    }
    store([&] { rs.Close(); });
  }
  conn().CommitTrans();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_THAT(errors[0], HasSubstr("new row 15000 of table jsyd"));
  EXPECT_THAT(errors[1], HasSubstr("new row 20500 of table jsyd"));
  EXPECT_EQ(CommittedNumber("select count(*) from jsyd"), kRows - 2);
  const double sum_of_i = kRows * (kRows + 1.0) / 2 - kBad[0] - kBad[1];
  EXPECT_EQ(CommittedNumber("select sum(c" + std::to_string(kWidth) + " - bsm) from jsyd"),
            kWidth * (kRows - 2.0));
  EXPECT_EQ(CommittedNumber("select sum(bsm) from jsyd"), sum_of_i);
  EXPECT_EQ(CommittedNumber("select sum(length(mc)) from jsyd"), name_lengths);
}

// A text longer than its column's declared length is refused alike on
// both engines, naming table, column and row; lengths count characters.
TEST_P(RecordsetTest, OverlongTextIsRefusedNamingTableColumnAndRow) {
  conn().Execute("CREATE TABLE qs (dm char(3), 名称 varchar(4), 备注 varchar(200))");
  struct Case {
    const char* column;
    std::string text;
    const char* refusal;  // empty when the text fits
  };
  const std::vector<Case> cases = {
      {"名称", "四个字符", ""},
      {"名称", "五个字符长", "new row 2 of table qs, column 名称"},
      {"dm", "1234", "new row 3 of table qs, column dm"},
      {"备注", std::string(200, 'x'), ""},
  };
  const auto store = [](const Case& c, const std::function<void()>& write) {
    try {
      write();
      EXPECT_STREQ(c.refusal, "") << c.text << " was stored";
    } catch (const DbError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.refusal));
      EXPECT_NE(std::string(c.refusal), "") << error.what();
    }
  };
  {
    Recordset rs(conn(), "select * from qs");
    for (const Case& c : cases) {
      rs.AddNew();
      rs.SetField(c.column, c.text);
      store(c, [&] { rs.Update(); });
    }
    rs.Close();
  }
  EXPECT_EQ(CommittedNumber("select count(*) from qs"), 2);
  Recordset rs(conn(), "select * from qs where 名称 = '四个字符'");
  rs.SetField("dm", "1234");
  try {
    rs.Update();
    ADD_FAILURE() << "an over-long update was stored";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("row 1 of the walk over table qs, column dm"));
  }
  rs.Close();
  EXPECT_EQ(CommittedNumber("select count(*) from qs where dm is null"), 2);
  // A statement's parameters into a table's columns: the same rule.
  try {
    conn().Execute("insert into qs (dm, 名称) values (?, ?)", {"12", "五个字符长"});
    ADD_FAILURE() << "an over-long parameter was stored";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("table qs, column 名称"));
  }
  EXPECT_EQ(conn().Execute("insert into qs (dm, 名称) values (?, ?)", {"12", "四个字符"}), 1);
  // A writer of one column list: the same rule, rows numbered alike.
  conn().Execute("delete from qs");
  const std::vector<std::string> columns = {"dm", "名称", "备注"};
  {
    RowWriter writer(conn(), "qs", columns);
    for (const Case& c : cases) {
      std::vector<Value> row(columns.size());
      row[std::find(columns.begin(), columns.end(), c.column) - columns.begin()] = c.text;
      store(c, [&] { writer.Add(row); });
    }
    writer.Close();
  }
  EXPECT_EQ(CommittedNumber("select count(*) from qs"), 2);
  // A pipe, its rows checked before they are handed over under the
  // caller's numbers: the same rule; its visit sees the rows handed over
  // and only those, in order.
  conn().Execute("delete from qs");
  std::vector<std::string> seen;
  {
    RowPipe pipe(conn(), "qs", columns, [&](const std::vector<Value>& row) {
      seen.push_back(std::string(row[1].TextView()) + std::string(row[2].TextView()));
    });
    long record = 0;
    for (const Case& c : cases) {
      std::vector<Value>& row = pipe.Row();
      row.assign(columns.size(), Value());
      row[std::find(columns.begin(), columns.end(), c.column) - columns.begin()] = c.text;
      ++record;
      store(c, [&] {
        pipe.Check(record);
        pipe.Add(record);
      });
    }
    pipe.Close();
  }
  EXPECT_EQ(CommittedNumber("select count(*) from qs"), 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"四个字符", std::string(200, 'x')}));
}

// A pipe given a second connection, in a transaction of its own, stores
// the rows of every other turn there: each row once, the visit seeing all
// of them in the order added. An embedded file takes one writer at a time:
// there the pipe is never given one.
TEST_P(RecordsetTest, PipeStoresOnTwoConnections) {
  if (!IsServer()) GTEST_SKIP() << "an embedded file takes one writer at a time";
  conn().Execute("CREATE TABLE two (n int, t varchar(4))");
  Connection beside(database().ConnectionString());
  constexpr long kRows = 20000;  // turns of rows on either connection
  std::vector<std::int64_t> seen;
  beside.BeginTrans();
  conn().BeginTrans();
  {
    RowPipe pipe(
        conn(), "two", {"n", "t"},
        [&](const std::vector<Value>& row) { seen.push_back(row[0].AsInteger()); }, nullptr,
        &beside);
    for (long n = 1; n <= kRows; ++n) {
      pipe.Row() = {Value(n), Value(n % 2 ? "奇" : "偶")};
      pipe.Add();
    }
    pipe.Close();
  }
  // Before the second connection commits, the first sees its own rows only.
  const std::int64_t own = conn().Scalar("select count(*) from two").AsInteger();
  EXPECT_GT(own, 0);
  EXPECT_LT(own, kRows);
  beside.CommitTrans();
  conn().CommitTrans();
  EXPECT_EQ(CommittedNumber("select count(distinct n) from two where t = (case when n % 2 = 1 "
                            "then '奇' else '偶' end)"),
            kRows);
  EXPECT_EQ(CommittedNumber("select count(*) from two"), kRows);
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kRows));
  for (long n = 1; n <= kRows; ++n) ASSERT_EQ(seen[n - 1], n);
}

// Rows of one column list whose values change kind from row to row (a
// number, the same number, another, null, text) are stored as given.
TEST_P(RecordsetTest, WriterStoresEachRowAsGiven) {
  conn().Execute("CREATE TABLE mj (bsm int, 面积 double, 名称 varchar(10))");
  const std::vector<std::vector<Value>> rows = {
      {1, 1.5, "东"}, {2, 1.5, "东"},     {3, 0.0, Value()}, {4, Value(), "西"},
      {5, 0.0, "西"}, {6, 2.25, Value()}, {7, 0.0, "东"}};
  {
    RowWriter writer(conn(), "mj", {"bsm", "面积", "名称"});
    for (const std::vector<Value>& row : rows) writer.Add(row);
    writer.Close();
  }
  // Null reads as "" here.
  EXPECT_EQ(testing::Texts(conn(), "select 面积 from mj order by bsm"),
            (std::vector<std::string>{"1.5", "1.5", "0", "", "0", "2.25", "0"}));
  EXPECT_EQ(testing::Texts(conn(), "select coalesce(名称, 'null') from mj order by bsm"),
            (std::vector<std::string>{"东", "东", "null", "西", "西", "null", "东"}));
}

// Two writers of one table with different columns, their rows added in
// turn: each row keeps its own columns and the table's defaults elsewhere.
TEST_P(RecordsetTest, WritersOfOneTableTakingTurnsKeepTheirOwnColumns) {
  conn().Execute("CREATE TABLE mj (bsm int, a double default 7, b varchar(4) default 'x')");
  RowWriter first(conn(), "mj", {"bsm", "a"});
  RowWriter second(conn(), "mj", {"bsm", "b"});
  for (const int bsm : {1, 2, 3, 4, 5, 6}) {
    if (bsm % 3 == 0) {
      second.Add({bsm, "s" + std::to_string(bsm)});
    } else {
      first.Add({bsm, bsm + 0.5});
    }
  }
  first.Close();
  second.Close();
  EXPECT_EQ(testing::Texts(conn(), "select a from mj order by bsm"),
            (std::vector<std::string>{"1.5", "2.5", "7", "4.5", "5.5", "7"}));
  EXPECT_EQ(testing::Texts(conn(), "select b from mj order by bsm"),
            (std::vector<std::string>{"x", "x", "s3", "x", "x", "s6"}));
}

// Values of every kind, written into columns of every type a base or
// summary table has, read back as the engine wrote them: numbers into
// text, whole numbers into figures and back, texts with characters that
// need escaping, and a write with one value that is no number's own kind
// (text into a figure) or no figure's exact form (beside the others).
TEST_P(RecordsetTest, WriterStoresValuesOfEveryKindIntoColumnsOfEveryType) {
  struct Case {
    const char* declared;
    std::vector<Value> values;
    std::vector<std::string> stored;  // as read back; null reads as ""
  };
  const std::vector<Case> cases = {
      {"double", {1.5, 7, Value(), 1e300, -2.5}, {"1.5", "7", "", "1e+300", "-2.5"}},
      {"double", {0.1, "2.5", 3}, {"0.1", "2.5", "3"}},
      {"bigint", {9007199254740993LL, -1, Value()}, {"9007199254740993", "-1", ""}},
      {"smallint", {7, -300}, {"7", "-300"}},
      {"integer", {1, 2.0}, {"1", "2"}},
      {"varchar(20)", {"a\tb\\c\nd", 1.5, 7, "", "名称"}, {"a\tb\\c\nd", "1.5", "7", "", "名称"}},
      {"numeric(12,2)", {1.25, 2}, {"1.25", "2"}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.declared);
    const std::string table = "kinds" + std::to_string(i);
    conn().Execute("CREATE TABLE " + table + " (bsm int, v " + c.declared + ")");
    {
      RowWriter writer(conn(), table, {"bsm", "v"});
      for (std::size_t row = 0; row < c.values.size(); ++row) {
        writer.Add({static_cast<int>(row), c.values[row]});
      }
      writer.Close();
    }
    EXPECT_EQ(testing::Texts(conn(), "select v from " + table + " order by bsm"), c.stored);
  }
}

// A column that every row of a write holds alike is stored as given: the
// column's default (0, 7) or not (-0 beside a default of 0, which a server
// keeps), null beside a default and without one, the default's text.
TEST_P(RecordsetTest, WriterStoresColumnsEveryRowHoldsAlike) {
  conn().Execute(
      "CREATE TABLE mj (bsm int, a double default 0, b double default 0, c double default 7, "
      "d double default 7, e double, f varchar(4) default 'x')");
  const std::vector<std::string> columns = {"a", "b", "c", "d", "e", "f"};
  const std::vector<Value> alike = {0.0, -0.0, 7.0, Value(), Value(), "x"};
  {
    RowWriter writer(conn(), "mj", {"bsm", "a", "b", "c", "d", "e", "f"});
    for (int bsm = 1; bsm <= 3; ++bsm) {
      std::vector<Value> row = {bsm};
      row.insert(row.end(), alike.begin(), alike.end());
      writer.Add(row);
    }
    writer.Close();
  }
  Recordset rs(conn(), "select * from mj order by bsm");
  for (int bsm = 1; bsm <= 3; ++bsm, rs.MoveNext()) {
    ASSERT_FALSE(rs.IsEOF());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const Value stored = rs.Field(columns[i]);
      EXPECT_EQ(stored.IsNull(), alike[i].IsNull()) << columns[i];
      if (stored.IsNull() || alike[i].IsNull()) continue;
      if (alike[i].IsText()) {
        EXPECT_EQ(stored.AsText(), alike[i].AsText()) << columns[i];
      } else {
        EXPECT_EQ(stored.AsDouble(), alike[i].AsDouble()) << columns[i];
      }
    }
    if (conn().Kind() == DbKind::kServer) {
      EXPECT_TRUE(std::signbit(rs.Field("b").AsDouble()));
    }
  }
}

// Writes of a recordset that an error destroys are never committed as
// done: its transaction is rolled back, and a recordset that shared it
// says so when it closes. Nothing stays open.
TEST_P(RecordsetTest, RecordsetDestroyedByAnErrorCommitsNothing) {
  CreateParcels();
  const auto interrupted_walk = [&] {
    try {
      Recordset rs(conn(), "select * from dltb order by bsm");
      rs.SetField("图斑数", 99);
      rs.Update();
      rs.AddNew();
      rs.SetField("bsm", 8);
      rs.Update();
      rs.AddNew();
      rs.SetField("bsm", 9);  // half-built when the error comes
      throw std::runtime_error("interrupted");
    } catch (const std::runtime_error&) {
    }
  };
  interrupted_walk();
  EXPECT_FALSE(conn().InTransaction());

  Recordset outer(conn(), "select * from dltb order by bsm");
  outer.SetField("图斑数", 50);
  outer.Update();
  interrupted_walk();
  EXPECT_THROW(outer.Close(), DbError);
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select count(*) from dltb"), 3);
  EXPECT_EQ(CommittedNumber("select sum(图斑数) from dltb"), 11);

  // Inside a caller's transaction (a job's on a server) the interrupted
  // writes are undone and the caller's own work stays its to commit.
  conn().BeginTrans();
  conn().Execute("update dltb set 图斑数 = 图斑数 + 1");
  interrupted_walk();
  EXPECT_TRUE(conn().InTransaction());
  conn().CommitTrans();
  EXPECT_EQ(CommittedNumber("select count(*) from dltb"), 3);
  EXPECT_EQ(CommittedNumber("select sum(图斑数) from dltb"), 14);
}

TEST_P(RecordsetTest, UpdateEachStoresTheRowsItChangesOrNoneOnAnError) {
  CreateParcels();
  const auto double_counts = [&](Recordset& row) {
    if (row.Number("图斑数") == 0) return false;
    row.SetField("图斑数", row.Number("图斑数") * 2);
    return true;
  };
  EXPECT_EQ(UpdateEach(conn(), "select * from dltb order by bsm", double_counts), 2);
  EXPECT_EQ(Number("select sum(图斑数) from dltb"), 22);

  // An error half way leaves every row as it was.
  int walked = 0;
  EXPECT_THROW(UpdateEach(conn(), "select * from dltb order by bsm",
                          [&](Recordset& row) {
                            if (++walked == 2) throw DbError("stop", "walk");
                            return double_counts(row);
                          }),
               DbError);
  EXPECT_FALSE(conn().InTransaction());
  EXPECT_EQ(CommittedNumber("select sum(图斑数) from dltb"), 22);
}

LANDSTAT_BOTH_ENGINES(RecordsetTest);

}  // namespace
}  // namespace landstat::db
