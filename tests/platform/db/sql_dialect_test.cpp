#include "platform/db/sql_dialect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using db::DbKind;
using db::SqlDialect;
using testing::BothEngines;
using testing::Texts;

// The forms each kind writes. Oracle is never connected, so its text is all
// there is to check.
TEST(SqlDialectTextTest, FormsOfEachKind) {
  struct Forms {
    DbKind kind;
    const char* save_query;
    const char* double_type;
    const char* identity;
    const char* left;
    const char* iif;
    const char* round2;
    const char* round0;
    const char* update;
  };
  const Forms all[] = {
      {DbKind::kEmbedded, "select * into T from (select a from S) as tt", "double",
       "int IDENTITY (1, 1) NOT NULL primary key", "left(c,12)", "iif(a>1,x,y)",
       "val(format(x,'0.00'))", "val(format(x,'0.'))",
       "UPDATE T,Q SET T.名称=Q.MC,T.b=1 where T.dm=Q.dm"},
      {DbKind::kServer, "select * into T from (select a from S) as tt", "float",
       "int IDENTITY (1, 1) NOT NULL primary key", "left(c,12)", "CASE WHEN a>1 THEN x ELSE y END",
       "round(x,2)", "round(x,0)", "UPDATE T SET 名称=Q.MC,b=1 FROM Q WHERE T.dm=Q.dm"},
      {DbKind::kOracle, "create table T as select a from S ", "NUMBER", "NUMBER", "substr(c,0,12)",
       "CASE WHEN a>1 THEN x ELSE y END", "round(x,2)", "round(x,0)",
       "UPDATE T SET 名称=(SELECT Q.MC FROM Q WHERE T.dm=Q.dm AND ROWNUM=1),"
       "b=(SELECT 1 FROM Q WHERE T.dm=Q.dm AND ROWNUM=1) "
       "WHERE EXISTS (SELECT 1 FROM Q WHERE T.dm=Q.dm)"},
  };
  for (const Forms& f : all) {
    const SqlDialect& d = SqlDialect::For(f.kind);
    SCOPED_TRACE(static_cast<int>(f.kind));
    EXPECT_EQ(d.Kind(), f.kind);
    EXPECT_EQ(d.SaveQueryAs("T", "select a from S"), f.save_query);
    EXPECT_EQ(d.CopyStructure("T", "S"), "select * into T from S where 1<>1");
    EXPECT_STREQ(d.DoubleType(), f.double_type);
    EXPECT_STREQ(d.IdentityColumn(), f.identity);
    EXPECT_EQ(d.Left("c", 12), f.left);
    EXPECT_EQ(d.Iif("a>1", "x", "y"), f.iif);
    EXPECT_EQ(d.Round("x", 2), f.round2);
    EXPECT_EQ(d.Round("x", 0), f.round0);
    EXPECT_EQ(d.MultiTableUpdate("T", "Q", {{"名称", "Q.MC"}, {"b", "1"}}, "T.dm=Q.dm"), f.update);
  }
  EXPECT_EQ(SqlDialect::RoundPicture(0), "0.");
  EXPECT_EQ(SqlDialect::RoundPicture(4), "0.0000");
}

// Sums are rounded whole, once, wherever they stand; quoted text, names that
// end in "sum" and a statement without decimals stay as they are.
TEST(SqlDialectTextTest, RoundSumsWrapsEverySumOnce) {
  const SqlDialect& server = SqlDialect::For(DbKind::kServer);
  const struct {
    const char* statement;
    int decimals;
    const char* rounded;
  } cases[] = {
      {"SELECT a,SUM(b) FROM t", 2, "SELECT a,round(SUM(b),2) FROM t"},
      {"select sum (iif(x in('K'),f(b),0)) as s,Sum(c)", 4,
       "select round(sum (iif(x in('K'),f(b),0)),4) as s,round(Sum(c),4)"},
      {"SELECT SUM(a+SUM(b)) FROM t", 2, "SELECT round(SUM(a+SUM(b)),2) FROM t"},
      {"SELECT 'SUM(a)',\"sum(\",BMSUM(a),x FROM t", 2,
       "SELECT 'SUM(a)',\"sum(\",BMSUM(a),x FROM t"},
      {"SELECT SUM(a) FROM t", -1, "SELECT SUM(a) FROM t"},
      {"SELECT SUM(a FROM t", 2, "SELECT SUM(a FROM t"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(server.RoundSums(c.statement, c.decimals), c.rounded) << c.statement;
  }
  EXPECT_EQ(SqlDialect::For(DbKind::kEmbedded).RoundSums("SELECT SUM(a) FROM t", 2),
            "SELECT round(SUM(a),2) FROM t");
}

TEST(SqlDialectTextTest, ApplyTypeWordsReplacesTheDoubleWords) {
  struct Case {
    DbKind kind;
    const char* statement;
    const char* expected;
  };
  const Case cases[] = {
      {DbKind::kServer, "create table t (a double default 0.00)",
       "create table t (a float default 0.00)"},
      {DbKind::kOracle, "create table t (a double default 0.00)",
       "create table t (a NUMBER default 0.00)"},
      {DbKind::kEmbedded, "create table t (a double default 0.00)",
       "create table t (a double default 0.00)"},
      {DbKind::kServer, "create table t (a double,b double default 0.00)",
       "create table t (a float,b float default 0.00)"},
      {DbKind::kOracle, "alter table t add 面积 double", "alter table t add 面积 NUMBER"},
      // Type words in any case, and only whole words: a name that merely
      // contains the word is left as it is.
      {DbKind::kOracle, "create table t (a DOUBLE, b Double)",
       "create table t (a NUMBER, b NUMBER)"},
      {DbKind::kServer, "create table t (doubleArea double)", "create table t (doubleArea float)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SqlDialect::For(c.kind).ApplyTypeWords(c.statement), c.expected);
  }
}

class SqlDialectRunTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    const SqlDialect& d = dialect();
    conn().Execute(d.ApplyTypeWords(std::string("create table 图斑 (ID ") + d.IdentityColumn() +
                                    ", 座落单位代码 varchar(19), 权属性质 varchar(2), 面积 double "
                                    "default 0.00, 扣除面积 " +
                                    d.DoubleType() + ", 省名称 varchar(60))"));
    conn().Execute(
        "insert into 图斑 (座落单位代码, 权属性质, 面积, 扣除面积) values "
        "('3301020010010000000', '10', 1450, 1), ('3301020020010000000', '30', 10, 2), "
        "('3202000000000000000', '20', 1785, 3)");
    conn().Execute("insert into 图斑 (座落单位代码) values ('1100000000000000000')");
  }
  const SqlDialect& dialect() { return SqlDialect::For(conn().Kind()); }
};

TEST_P(SqlDialectRunTest, CreateNumbersRowsAndTakesTheDefault) {
  EXPECT_EQ(Texts(conn(), "select ID from 图斑 order by 座落单位代码"),
            (std::vector<std::string>{"4", "3", "1", "2"}));
  db::Recordset rs(conn(), "select 面积, 扣除面积 from 图斑 where ID = 4");
  EXPECT_EQ(rs.Type("扣除面积"), db::FieldType::kDouble);
  EXPECT_EQ(rs.Field("面积"), db::Value(0.0));
  EXPECT_TRUE(rs.IsNull("扣除面积"));
}

TEST_P(SqlDialectRunTest, ExpressionsRun) {
  const SqlDialect& d = dialect();
  EXPECT_EQ(Texts(conn(), "select " + d.Left("座落单位代码", 6) + " from 图斑 order by ID"),
            (std::vector<std::string>{"330102", "330102", "320200", "110000"}));
  EXPECT_EQ(
      conn()
          .Scalar("select sum(" + d.Iif("权属性质 LIKE '1%' OR 权属性质 LIKE '2%'", "面积", "0") +
                  ") from 图斑")
          .AsDouble(),
      3235.0);
  // 2.175, 0.015, 2.6775 and 0 mu.
  EXPECT_EQ(Texts(conn(), "select " + d.Round("面积*3/2000", 2) + " from 图斑 order by ID"),
            (std::vector<std::string>{"2.18", "0.02", "2.68", "0"}));
  EXPECT_EQ(Texts(conn(), "select " + d.Round("面积*3/2000", 0) + " from 图斑 order by ID"),
            (std::vector<std::string>{"2", "0", "3", "0"}));
  // Codes of digits only; "320200" and "110000" are digits too.
  EXPECT_EQ(Texts(conn(), "select count(*) from 图斑 where " + d.OnlyDigits("座落单位代码")),
            (std::vector<std::string>{"4"}));
  EXPECT_EQ(Texts(conn(), "select count(*) from 图斑 where " + d.OnlyDigits("座落单位代码 || 'x'")),
            (std::vector<std::string>{"0"}));
  // Parcel numbers with each run of digits as a number, then as text; a
  // missing one first (and the empty one after it).
  conn().Execute("create table 编号 (n varchar(20))");
  conn().Execute(
      "insert into 编号 values ('100'),('12-10'),('A10'),('12-1'),('9'),('东12'),('13'),(null),"
      "('12'),('A3'),('0012'),('12-9'),('10'),(''),('东9')");
  EXPECT_EQ(Texts(conn(), "select n from 编号 order by " + d.NaturalOrder("n")),
            (std::vector<std::string>{"", "", "9", "10", "0012", "12", "12-1", "12-9", "12-10",
                                      "13", "100", "A3", "A10", "东9", "东12"}));
}

TEST_P(SqlDialectRunTest, SavedQueryAndCopiedStructureRun) {
  const SqlDialect& d = dialect();
  conn().Execute(d.SaveQueryAs("汇总",
                               "select 权属性质, sum(面积) as 面积 from 图斑 where 面积 > 0 "
                               "group by 权属性质"));
  EXPECT_EQ(Texts(conn(), "select 面积 from 汇总 order by 权属性质"),
            (std::vector<std::string>{"1450", "1785", "10"}));
  conn().Execute(d.CopyStructure("空表", "图斑"));
  EXPECT_EQ(conn().Scalar("select count(*) from 空表").AsInteger(), 0);
  EXPECT_EQ(conn().Execute("insert into 空表 select * from 图斑 where 权属性质 = '10'"), 1);
  EXPECT_EQ(conn().Scalar("select 面积 from 空表").AsDouble(), 1450.0);
}

TEST_P(SqlDialectRunTest, MultiTableUpdateRuns) {
  const SqlDialect& d = dialect();
  conn().Execute("create table QSDMB (QSDWDM varchar(60), QSDWMC varchar(60))");
  conn().Execute(
      "insert into QSDMB values ('3300000000000000000', '浙江省'), "
      "('3301000000000000000', '杭州市'), ('3200000000000000000', '江苏省')");
  conn().Execute(
      d.MultiTableUpdate("图斑", "QSDMB", {{"省名称", "QSDMB.QSDWMC"}, {"权属性质", "'99'"}},
                         d.Left("图斑.座落单位代码", 2) + "=" + d.Left("QSDMB.QSDWDM", 2) +
                             " AND QSDMB.QSDWDM LIKE '__00000000000000000'"));
  EXPECT_EQ(Texts(conn(), "select 省名称 from 图斑 order by ID"),
            (std::vector<std::string>{"浙江省", "浙江省", "江苏省", ""}));
  EXPECT_EQ(conn().Scalar("select count(*) from 图斑 where 权属性质 = '99'").AsInteger(), 3);
}

class SqlQuoteTest : public BothEngines {};

TEST_P(SqlQuoteTest, QuotedTextRoundTripsExactly) {
  conn().Execute("create table 文本 (n int, v varchar(100))");
  const std::string values[] = {
      "O'Brien",
      "a''b",
      "trailing\\",
      "back\\slash'",
      "x'); drop table 文本; --",
      "\"double\"",
      "semi;colon",
      "中文'引号",
      "'",
      "",
  };
  int n = 0;
  for (const std::string& value : values) {
    conn().Execute("insert into 文本 (n, v) values (" + std::to_string(++n) + ", " +
                   db::QuoteText(value) + ")");
  }
  // A quote and a question mark inside a literal, next to a bound parameter.
  conn().Execute("insert into 文本 (n, v) values (?, " + db::QuoteText("it's?") + ")", {++n});
  ASSERT_TRUE(conn().TableExists("文本"));
  EXPECT_EQ(conn().Scalar("select count(*) from 文本").AsInteger(), n);
  n = 0;
  for (const std::string& value : values) {
    SCOPED_TRACE(value);
    EXPECT_EQ(conn().Scalar("select v from 文本 where n = " + std::to_string(++n)).AsText(), value);
    EXPECT_EQ(
        conn().Scalar("select count(*) from 文本 where v = " + db::QuoteText(value)).AsInteger(),
        1);
  }
  EXPECT_EQ(conn().Scalar("select v from 文本 where n = ?", {++n}).AsText(), "it's?");
}

TEST_P(SqlQuoteTest, QuotedNamesRoundTrip) {
  const std::string table = "地类 统计";
  const std::string column = "面积'亩\"";
  conn().Execute("create table " + db::QuoteName(table) + " (" + db::QuoteName(column) +
                 " double, b int)");
  EXPECT_TRUE(conn().TableExists(db::QuoteName(table)));
  conn().Execute("insert into " + db::QuoteName(table) + " values (1.5, 2)");
  db::Recordset rs(conn(), "select " + db::QuoteName(column) + " from " + db::QuoteName(table));
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.FieldName(0), column);
  EXPECT_EQ(rs.Number(column), 1.5);
}

LANDSTAT_BOTH_ENGINES(SqlDialectRunTest);
LANDSTAT_BOTH_ENGINES(SqlQuoteTest);

}  // namespace
}  // namespace landstat
