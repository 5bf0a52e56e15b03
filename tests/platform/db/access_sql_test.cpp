// Statement texts as the statistics engine writes them, in Access's dialect,
// run on the embedded engine as written and on the generic server where the
// server takes them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

using db::DbError;
using testing::BothEngines;
using testing::Numbers;
using testing::Texts;

class AccessSqlTest : public BothEngines {};

TEST_P(AccessSqlTest, TextFunctionsCountCharactersNotBytes) {
  conn().Execute("create table 权属单位 (座落单位代码 varchar(19), 名称 varchar(40))");
  conn().Execute("insert into 权属单位 values ('330102001001', '浙江省杭州市西湖区')");
  struct Case {
    const char* expression;
    const char* expected;
  };
  const Case cases[] = {
      {"left(名称,3)", "浙江省"},         {"LEFT(名称,20)", "浙江省杭州市西湖区"},
      {"right(名称,3)", "西湖区"},        {"mid(名称,4,3)", "杭州市"},
      {"mid(名称,7)", "西湖区"},          {"len(名称)", "9"},
      {"instr(1,名称,'杭州')", "4"},      {"instr(1,名称,'上海')", "0"},
      {"left(座落单位代码,6)", "330102"}, {"right(座落单位代码,3)", "001"},
      {"mid(座落单位代码,7,3)", "001"},   {"len(座落单位代码)", "12"},
      {"instr(5,座落单位代码,'0')", "5"}, {"instr(6,座落单位代码,'0')", "7"},
      {"trim('  西湖 ')", "西湖"},        {"len(trim(' ab '))", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(conn().Scalar(std::string("select ") + c.expression + " from 权属单位").AsText(),
              c.expected);
  }
}

TEST_P(AccessSqlTest, ValReadsTheLeadingNumber) {
  struct Case {
    const char* expression;
    double expected;
  };
  const Case cases[] = {
      {"val('12.5abc')", 12.5}, {"val('abc')", 0},        {"val('')", 0},
      {"val('  7')", 7},        {"val('-3.5e2x')", -350}, {"val('330102001001')", 330102001001.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_DOUBLE_EQ(conn().Scalar(std::string("select ") + c.expression).AsDouble(), c.expected);
  }
  // A number beyond a double's range is an error, not 0.
  EXPECT_THROW(conn().Scalar("select val('1e400x')"), db::DbError);
}

TEST_P(AccessSqlTest, FormatRoundsHalfAwayFromZero) {
  struct Case {
    const char* expression;
    const char* expected;
  };
  const Case cases[] = {
      {"format(2.675,'0.00')", "2.68"}, {"format(1.005,'0.00')", "1.01"},
      {"format(0.125,'0.00')", "0.13"}, {"format(-0.125,'0.00')", "-0.13"},
      {"format(3,'0.00')", "3.00"},     {"format(2.5,'0.')", "3"},
      {"format(-2.5,'0.')", "-3"},      {"format(0.5,'0.')", "1"},
      {"format(1234.5,'0.')", "1235"},  {"format(2.4999,'0.')", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(conn().Scalar(std::string("select ") + c.expression).AsText(), c.expected);
  }
}

// Values read from columns round as literals do: a double column whichever
// form of round() is called, a text column that holds a number as the number;
// a zero stays 0 and a null null.
TEST_P(AccessSqlTest, ColumnValuesRoundAsLiteralsDo) {
  conn().Execute(
      "create table 数值 (x double, y double, t varchar(20), u varchar(20), z double, n double)");
  conn().Execute("insert into 数值 values (2.5, -2.5, '12.5', '2.675', 0, null)");
  struct Case {
    const char* expression;
    const char* expected;
  };
  const Case cases[] = {
      {"round(x,0)", "3"},
      {"round(y,0)", "-3"},
      {"round(x)", "3"},
      {"round(y)", "-3"},
      {"format(x,'0.')", "3"},
      {"format(t,'0.00')", "12.50"},
      {"format(u,'0.00')", "2.68"},
      {"val(format(u,'0.00'))", "2.68"},
      {"round(z,2)", "0"},
      {"round(-z)", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(conn().Scalar(std::string("select ") + c.expression + " from 数值").AsText(),
              c.expected);
  }
  for (const char* expression : {"round(n,2)", "round(n)"}) {
    SCOPED_TRACE(expression);
    EXPECT_TRUE(conn().Scalar(std::string("select ") + expression + " from 数值").IsNull());
  }
}

// Areas are kept in square metres and reported in mu (x*3/2000) or hectares;
// the conversions round at the last decimal shown, half away from zero, even
// where the binary value of the half lies just below it.
TEST_P(AccessSqlTest, UnitConversionRoundsToTheLastDecimal) {
  conn().Execute("create table 图斑 (BSM int, TBMJ double, KCMJ double)");
  struct Row {
    int tbmj;
    double mu2;  // val(format(TBMJ*3/2000,'0.00'))
    double mu3;  // round(KCMJ*3/2000,3)
  };
  const Row rows[] = {
      {10, 0.02, 0.015},                   // 0.015
      {30, 0.05, 0.045},                   // 0.045
      {50, 0.08, 0.075},                   // 0.075
      {1450, 2.18, 2.175},                 // 2.175
      {-10, -0.02, -0.015},                // -0.015
      {1, 0.0, 0.002},                     // 0.0015
      {-1, 0.0, -0.002},                   // -0.0015
      {1785, 2.68, 2.678},                 // 2.6775
      {3333, 5.0, 5.0},                    // 4.9995 -> 5.00 / 5.000 (half at the fourth decimal)
      {7, 0.01, 0.011},                    // 0.0105
      {1000, 1.5, 1.5},                    // 1.5
      {123456789, 185185.18, 185185.184},  // 185185.1835
  };
  int bsm = 0;
  for (const Row& row : rows) {
    conn().Execute("insert into 图斑 (BSM, TBMJ, KCMJ) values (?, ?, ?)",
                   {++bsm, static_cast<double>(row.tbmj), static_cast<double>(row.tbmj)});
  }
  const std::vector<double> mu2 =
      Numbers(conn(), "select val(format(TBMJ*3/2000,'0.00')) from 图斑 order by BSM");
  conn().Execute("update 图斑 set KCMJ=round(KCMJ*3/2000,3)");
  const std::vector<double> mu3 = Numbers(conn(), "select KCMJ from 图斑 order by BSM");
  ASSERT_EQ(mu2.size(), std::size(rows));
  ASSERT_EQ(mu3.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("TBMJ=" + std::to_string(rows[i].tbmj));
    EXPECT_DOUBLE_EQ(mu2[i], rows[i].mu2);
    EXPECT_DOUBLE_EQ(mu3[i], rows[i].mu3);
  }
}

// The server rounds most values in double precision: it must give the very
// double numeric's rounding gives (no negative zero either), for halves,
// values within a hair of a half, tiny, negative and large values alike.
TEST_P(AccessSqlTest, ServerRoundingEqualsNumericRounding) {
  if (conn().Kind() == db::DbKind::kEmbedded) GTEST_SKIP() << "rounds through its own function";
  const std::string values =
      "with v(x) as ("
      " select k * 3 / 2000.0::float8 from generate_series(-20000, 20000) k"
      " union all select k / 1024.0::float8 from generate_series(-5000, 5000) k"
      " union all select k * 0.0001::float8 + 0.00005::float8 from generate_series(-9000, 9000) k"
      " union all select sin(k) * 10::float8 ^ (k % 13 - 3) from generate_series(1, 20000) k"
      " union all select k * 1e7::float8 + 0.5::float8 from generate_series(1, 2000) k"
      " union all select x from unnest(array[2.675, 1.005, -2.5, 0.5, 1e-20, -1e-20, 4.9995,"
      "   185185.1835, 5e12, 1e15 + 0.5, 1e300, -1e300]::float8[]) x)";
  EXPECT_EQ(conn()
                .Scalar(values + " select count(*) from v, generate_series(0, 6) d"
                                 " where round(x, d)::text <> round(x::numeric, d)::float8::text")
                .AsInteger(),
            0);
  EXPECT_EQ(conn()
                .Scalar(values + " select count(*) from v where round(x)::text <> "
                                 "round(x::numeric)::float8::text")
                .AsInteger(),
            0);
  EXPECT_EQ(conn().Scalar("select round(-0.0001::float8, 2)::text").AsText(), "0");
}

TEST_P(AccessSqlTest, ConditionalSumsByOwnership) {
  conn().Execute("create table 权属表 (权属性质 varchar(10), BM011 double, BM012 double)");
  conn().Execute(
      "insert into 权属表 values ('10', 1.5, 10), ('20', 2.25, 20), ('21', 4, 30), "
      "('30', 8, 40), ('40', 16, 50), (NULL, 32, 60), ('12', 0.125, 70), ('01', 64, 80)");
  // State-owned ('1', '2') and collective ('3', '4'); a missing code counts
  // as neither.
  const std::string access =
      "select SUM(iif(a.权属性质 LIKE '1%' OR a.权属性质 LIKE '2%' ,a.BM011 , 0 )) AS BM011G, "
      "SUM(iif(a.权属性质 LIKE '3%' OR a.权属性质 LIKE '4%' ,a.BM012 , 0 )) AS BM012J "
      "from 权属表 a";
  const std::string server =
      "select SUM(CASE WHEN a.权属性质 LIKE '1%' OR a.权属性质 LIKE '2%' THEN a.BM011 ELSE 0 "
      "END) AS BM011G, "
      "SUM(CASE WHEN a.权属性质 LIKE '3%' OR a.权属性质 LIKE '4%' THEN a.BM012 ELSE 0 END) "
      "AS BM012J from 权属表 a";
  for (const std::string& sql : {access, server}) {
    SCOPED_TRACE(sql);
    db::Recordset rs(conn(), sql);
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_DOUBLE_EQ(rs.Number("BM011G"), 7.875);
    EXPECT_DOUBLE_EQ(rs.Number("bm012j"), 90);
  }
  EXPECT_EQ(conn().Scalar("select iif(NULL = 1, 'yes', 'no')").AsText(), "no");
}

TEST_P(AccessSqlTest, LikePatternsMatchOneCharacterPerUnderscore) {
  conn().Execute("create table 行政区 (XZQDM varchar(12), 座落单位代码 varchar(25))");
  conn().Execute(
      "insert into 行政区 values ('330102001', '3301020010010000000'), "
      "('330102', '330102001001000000'), ('3301020011', '3301030010010000000'), "
      "('330103001', '33010200100100000001'), ('330102abc', '3301021234567890123')");
  EXPECT_EQ(Texts(conn(), "select XZQDM from 行政区 where XZQDM like '330102___' order by XZQDM"),
            (std::vector<std::string>{"330102001", "330102abc"}));
  EXPECT_EQ(Texts(conn(),
                  "select 座落单位代码 from 行政区 where 座落单位代码 like "
                  "'330102_____________' order by 座落单位代码"),
            (std::vector<std::string>{"3301020010010000000", "3301021234567890123"}));
  EXPECT_EQ(conn().Scalar("select count(*) from 行政区 where XZQDM like '330102%'").AsInteger(), 4);
}

class SelectIntoTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    conn().Execute(
        "create table 图斑 (k int, 地类编码 varchar(10) default '011', 面积 double default 0.00, "
        "备注 varchar(20))");
    conn().Execute(
        "insert into 图斑 values (1, '011', 100.5, 'a'), (2, '021', 200.25, NULL), "
        "(3, '011', 300, 'c'), (4, '203', 50, 'd')");
  }
};

TEST_P(SelectIntoTest, SavesAQueryAsATable) {
  conn().Execute(
      "select * into 汇总 from (select 地类编码, sum(面积) as 面积 from 图斑 group by 地类编码) as "
      "tt");
  db::Recordset rs(conn(), "select 地类编码, 面积 from 汇总 order by 地类编码");
  std::vector<std::pair<std::string, double>> rows;
  for (; !rs.IsEOF(); rs.MoveNext()) rows.emplace_back(rs.Text("地类编码"), rs.Number("面积"));
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, double>>{
                      {"011", 400.5}, {"021", 200.25}, {"203", 50}}));
}

TEST_P(SelectIntoTest, EmptyCopyKeepsTypesAndDefaults) {
  conn().Execute("select * into 图斑副本 from 图斑 where 1<>1");
  EXPECT_EQ(conn().Scalar("select count(*) from 图斑副本").AsInteger(), 0);
  const std::vector<db::ColumnInfo> source = conn().Columns("图斑");
  const std::vector<db::ColumnInfo> copy = conn().Columns("图斑副本");
  ASSERT_EQ(copy.size(), source.size());
  for (std::size_t i = 0; i < copy.size(); ++i) {
    EXPECT_EQ(copy[i].name, source[i].name);
    EXPECT_EQ(copy[i].type, source[i].type) << copy[i].name;
  }
  conn().Execute("insert into 图斑副本 (k) values (7)");
  db::Recordset rs(conn(), "select * from 图斑副本");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Text("地类编码"), "011");
  EXPECT_TRUE(rs.Field("面积").IsDouble());
  EXPECT_EQ(rs.Number("面积"), 0.0);
  EXPECT_TRUE(rs.IsNull("备注"));
}

TEST_P(SelectIntoTest, JoinCopyTakesTheMatchingRowsOfTheFirstTable) {
  conn().Execute("create table 代码表 (k int, 描述说明 varchar(10))");
  conn().Execute("insert into 代码表 values (1, '01'), (2, '02'), (3, '03'), (5, '05')");
  conn().Execute(
      "select 图斑.* into 结果 from 图斑 ,代码表 WHERE 图斑.k = 代码表.k AND 代码表.描述说明 <> "
      "'01'");
  EXPECT_EQ(Texts(conn(), "select k from 结果 order by k"), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(conn().Columns("结果").size(), conn().Columns("图斑").size());
  EXPECT_EQ(conn().Scalar("select 面积 from 结果 where k = 2").AsDouble(), 200.25);
}

TEST_P(SelectIntoTest, IntoAnExistingTableFailsAndLeavesItAlone) {
  conn().Execute("select * into 图斑副本 from 图斑");
  EXPECT_THROW(conn().Execute("select * into 图斑副本 from 图斑 where 1<>1"), DbError);
  EXPECT_THROW(conn().Execute("select * into 图斑副本 from (select k from 图斑) as tt"), DbError);
  EXPECT_EQ(conn().Scalar("select count(*) from 图斑副本").AsInteger(), 4);
  // The engine drops the old table first where it means to replace it.
  conn().Execute("drop table 图斑副本");
  conn().Execute("select * into 图斑副本 from 图斑 where 1<>1");
  EXPECT_EQ(conn().Scalar("select count(*) from 图斑副本").AsInteger(), 0);
}

// A make-table query is one statement: when it fails, no table is left
// behind to make the engine's next attempt fail, in a transaction or not.
TEST_P(SelectIntoTest, FailedCopyLeavesNoTable) {
  EXPECT_THROW(conn().Execute("select * into 图斑副本 from 图斑 where 不存在的列 = 1"), DbError);
  EXPECT_FALSE(conn().TableExists("图斑副本"));
  conn().BeginTrans();
  EXPECT_THROW(conn().Execute("select * into 图斑副本 from 图斑 where 不存在的列 = 1"), DbError);
  ASSERT_FALSE(conn().TableExists("图斑副本"));
  conn().Execute("select * into 图斑副本 from 图斑 where k = 1");
  conn().CommitTrans();
  EXPECT_EQ(conn().Scalar("select count(*) from 图斑副本").AsInteger(), 1);
}

TEST_P(AccessSqlTest, JetMultiTableUpdateFillsProvinceNames) {
  conn().Execute("create table 权属单位 (座落单位代码 varchar(19), 省名称 varchar(60))");
  conn().Execute("create table QSDMB (QSDWDM varchar(60), QSDWMC varchar(60))");
  conn().Execute(
      "insert into QSDMB values ('3300000000000000000', '浙江省'), "
      "('3301000000000000000', '杭州市'), ('3200000000000000000', '江苏省')");
  conn().Execute(
      "insert into 权属单位 (座落单位代码) values ('3301020010010000000'), "
      "('3202000000000000000'), ('1100000000000000000')");
  const std::string table = "权属单位";
  const long changed = conn().Execute(
      "UPDATE " + table + ",QSDMB SET " + table + ".省名称=QSDMB.QSDWMC where  LEFT(" + table +
      ".座落单位代码,2)=LEFT(QSDMB.QSDWDM,2) AND RIGHT(QSDMB.QSDWDM,17) LIKE "
      "'00000000000000000'");
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(Texts(conn(), "select 省名称 from 权属单位 order by 座落单位代码"),
            (std::vector<std::string>{"", "江苏省", "浙江省"}));
}

TEST_P(AccessSqlTest, IdentityColumnNumbersRowsFromOne) {
  conn().Execute(
      "create table 编号表 (ID int IDENTITY (1, 1) NOT NULL primary key, 名称 varchar(20))");
  for (const char* name : {"甲", "乙", "丙"}) {
    conn().Execute("insert into 编号表 (名称) values (?)", {name});
  }
  EXPECT_EQ(Texts(conn(), "select ID from 编号表 order by ID"),
            (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Texts(conn(), "select 名称 from 编号表 order by ID"),
            (std::vector<std::string>{"甲", "乙", "丙"}));
}

TEST_P(AccessSqlTest, AreaColumnTypeWords) {
  // The Access spelling, the server dialect's spelling, and a bare "double".
  const char* const types[] = {"double default 0.00", "float default 0.00", "double"};
  int n = 0;
  for (const char* type : types) {
    SCOPED_TRACE(type);
    const std::string table = "面积" + std::to_string(++n);
    conn().Execute("create table " + table + " (代码 varchar(10), 面积 " + type + ")");
    conn().Execute("insert into " + table + " (代码) values ('a')");
    conn().Execute("insert into " + table + " values ('b', 1.25)");
    db::Recordset rs(conn(), "select 面积 from " + table + " order by 代码");
    EXPECT_EQ(rs.Type("面积"), db::FieldType::kDouble);
    if (n < 3) {
      EXPECT_EQ(rs.Field("面积"), db::Value(0.0));
    } else {
      EXPECT_TRUE(rs.IsNull("面积"));
    }
    rs.MoveNext();
    EXPECT_EQ(rs.Field("面积"), db::Value(1.25));
  }
}

TEST_P(AccessSqlTest, DroppingAMissingTableFails) {
  EXPECT_THROW(conn().Execute("drop table 不存在的表"), DbError);
  conn().Execute("create table 临时表 (a int)");
  conn().Execute("drop table 临时表");
  EXPECT_THROW(conn().Execute("drop table 临时表"), DbError);
}

LANDSTAT_BOTH_ENGINES(AccessSqlTest);
LANDSTAT_BOTH_ENGINES(SelectIntoTest);

}  // namespace
}  // namespace landstat
