#include "lots/town_script_groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/text_helpers.h"
#include "platform/db/db_error.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

constexpr char kCodes[] = "(select * from CODETBL1 where 代码 like '330102%')";

// A level of the script: the lots of a prefix of their number joined to
// the code table, counted and summed (plain, and where a class holds land).
std::string Level(const std::string& name, int prefix, const std::string& extra_sum = "") {
  const std::string code = "mid(a.地籍号,1," + std::to_string(prefix) + ")";
  return name + " AS (select " + code +
         " AS XZQDM,\n\tb.代码名称 AS MC,\n\tcount(*) AS NHJ,\n\tSUM(iif(a.BM051 >0 ,1,0)) AS N051,"
         "\n\tSUM(a.BM051) AS A051,\n\tSUM(iif(a.BM052 >0 ,a.建筑密度,0)) AS "
         "D052,\n\tSUM(a.建筑密度) "
         "AS DHJ" +
         extra_sum + "\nfrom TBLSOURCE a, CODETBL b\nwhere " + code +
         "=b.代码 AND a.土地用途 is not null\nGROUP BY " + code + ",b.代码名称)";
}

// The final part: each level's rows of several kinds, united and ordered.
std::string Tail(const std::vector<std::string>& levels) {
  std::string tail;
  for (const std::string& level : levels) {
    tail += std::string(tail.empty() ? "" : "\nunion\n") +
            "select XZQDM, '1' AS XZQMC, MC AS TYPE, " +
            "NULL AS HJ, 0 AS BM051, 0 AS BM052 from " + level +
            "\nunion\nselect XZQDM, '2', '宗地数', NHJ, N051, 0 from " + level +
            "\nunion\nselect XZQDM, '3', '面积', A051, A051, D052 from " + level +
            "\nunion\nselect XZQDM, '4', '密度', DHJ, 0, D052 from " + level;
  }
  return tail;
}

const std::string kScript = "with " + Level("G6", 6) + ",\n" + Level("G9", 9) + ",\n" +
                            Level("G12", 12) + "\n" + Tail({"G6", "G9", "G12"});

// kSameTableEmbedded: rows a server refuses.
enum class Outcome { kSameTable, kSameTableEmbedded, kNotOfTheForm, kNotGroupedInMemory };

struct ScriptCase {
  const char* name;
  std::string script;
  const char* rows;  // more lots, or a change, before the table is made: one statement
  Outcome outcome;
};

const std::vector<ScriptCase> kCases = {
    {"every level; a code of two names, a code of two equal rows, a lot of no code", kScript, "",
     Outcome::kSameTable},
    {"nulls summed, densities added near a half of the last decimal", kScript,
     "insert into lots values ('3301020010010000009','051',null,null,1.005,null),"
     "('3301020010010000010','052',0.335,0.105,0.0049999,2.675),"
     "('3301020010020000011','052',0,3,null,0.1)",
     Outcome::kSameTable},
    {"a class area of empty text holds land, as the statement compares it", kScript,
     "update lots set BM052='' where rowid=1;", Outcome::kSameTableEmbedded},
    {"other conditions and choices",
     ReplaceAll(ReplaceAll(kScript, "iif(a.BM051 >0 ,1,0)", "iif(a.BM051 > a.BM052,1,0)"),
                "iif(a.BM052 >0 ,a.建筑密度,0)", "iif(a.BM052 >= 3.3 ,a.建筑密度,null)"),
     "", Outcome::kSameTable},
    {"a density that is no number is the statement's to read", kScript,
     "update lots set 建筑密度='dense' where rowid=2;", Outcome::kNotGroupedInMemory},
    {"a sum of a field of the code table",
     "with " + Level("G6", 6, ",SUM(b.代码类型) AS T") + "\n" + Tail({"G6"}), "",
     Outcome::kNotOfTheForm},
    {"another condition on the lots",
     "with " + ReplaceAll(Level("G6", 6), "is not null", "= '051'") + "\n" + Tail({"G6"}), "",
     Outcome::kNotOfTheForm},
    {"no common table expression", Tail({"lots"}), "", Outcome::kNotOfTheForm},
};

// The lots and the code table, on either engine, one statement at a time.
void MakeLotsAndCodes(db::Connection& conn) {
  for (const char* statement :
       {"create table lots (地籍号 text, 土地用途 text, BM051 double precision default 0, "
        "BM052 double precision default 0, 宗地总面积 double precision, 建筑密度 double "
        "precision)",
        "create table CODETBL1 (代码名称 varchar(80), 代码类型 varchar(20), 代码 varchar(19))",
        "insert into CODETBL1 values ('上城区','县','330102'),('一街','街','330102001'),"
        "('一街别名','街','330102001'),('二街','街','330102002'),('二街','街','330102002'),"
        "('一坊','坊','330102001001'),('外县','县','330103')",
        "insert into lots values ('3301020010010000001','051',10.25,0,10.25,0.4),"
        "('3301020010010000002','052',0,6.5,6.5,0.35),"
        "(null,null,0,0,0,0),"  // a house row
        "('3301020010020000003','051',4.75,0,4.75,0.125),"
        "('3301020020010000004','052',0,3.3,3.3,0.715),"
        "('3301020030010000005','051',1,0,1,0.2)"}) {
    conn.Execute(statement);
  }
}

// The script's statement over the lots and the county's codes.
std::string Over(const std::string& script, const std::string& source) {
  return ReplaceAll(ReplaceAll(script, "TBLSOURCE", source), "CODETBL", kCodes);
}

class TownScriptGroupsTest : public ::testing::TestWithParam<ScriptCase> {
 protected:
  void SetUp() override { MakeLotsAndCodes(conn()); }

  db::Connection& conn() { return database_.connection(); }

  // Rows (rowid first) and each value's type, as text, of a table.
  std::vector<std::string> Cells(const std::string& table) {
    return testing::Texts(conn(),
                          "select rowid||'|'||XZQDM||'|'||XZQMC||'|'||quote(TYPE)||'|'||"
                          "quote(HJ)||typeof(HJ)||'|'||quote(BM051)||typeof(BM051)||'|'||"
                          "quote(BM052)||typeof(BM052)||'|'||printf('%.17g',HJ) from " +
                              table);
  }

  std::string Declared(const std::string& table) {
    return conn()
        .Scalar("select substr(sql, instr(sql, '(')) from sqlite_master where name=?",
                {db::Value(table)})
        .AsText();
  }

  testing::TestDatabase database_{db::DbKind::kEmbedded};
};

TEST_P(TownScriptGroupsTest, GroupsInMemoryAsTheStatementGroups) {
  const ScriptCase& test = GetParam();
  conn().Execute(test.rows);
  const db::SqlDialect& dialect = db::SqlDialect::For(db::DbKind::kEmbedded);
  const std::string script = Over(test.script, "lots");
  std::unique_ptr<ScriptGroups> groups = ScriptGroups::Parse(script, "lots", kCodes);
  ASSERT_EQ(groups == nullptr, test.outcome == Outcome::kNotOfTheForm);
  if (!groups) return;
  const std::string none = "(select * from lots where 1=0)";
  std::string statement;
  try {
    statement = groups->Statement(conn(), dialect, Over(test.script, none), none, 2);
  } catch (const db::DbError&) {
    ASSERT_EQ(test.outcome, Outcome::kNotGroupedInMemory);
    return;
  }
  ASSERT_NE(test.outcome, Outcome::kNotGroupedInMemory);
  conn().Execute(dialect.SaveQueryAs("grouped", statement) + " order by XZQDM,XZQMC");
  conn().Execute(dialect.SaveQueryAs("stated", dialect.RoundSums(script, 2)) +
                 " order by XZQDM,XZQMC");
  EXPECT_EQ(Cells("grouped"), Cells("stated"));
  EXPECT_EQ(Declared("grouped"), Declared("stated"));
  EXPECT_GE(Cells("grouped").size(), 12u);
  // The temporary tables go with the groupings.
  groups.reset();
  EXPECT_EQ(conn().Scalar("select count(*) from temp.sqlite_master").AsInteger(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scripts, TownScriptGroupsTest, ::testing::ValuesIn(kCases));

// On a server the server groups the lots: each script that can be grouped
// so makes the table its own statement makes, value for value and type for
// type.
TEST(TownScriptGroupsOnServer, GroupsAsTheStatementGroups) {
  if (testing::PostgresConninfo().empty()) GTEST_SKIP() << "no PostgreSQL server configured";
  const db::SqlDialect& dialect = db::SqlDialect::For(db::DbKind::kServer);
  for (const ScriptCase& test : kCases) {
    if (test.outcome != Outcome::kSameTable) continue;
    SCOPED_TRACE(test.name);
    testing::TestDatabase database(db::DbKind::kServer);
    db::Connection& conn = database.connection();
    MakeLotsAndCodes(conn);
    if (*test.rows) conn.Execute(test.rows);
    const std::string none = "(select * from lots where 1=0)";
    std::unique_ptr<ScriptGroups> groups =
        ScriptGroups::Parse(Over(test.script, "lots"), "lots", kCodes);
    ASSERT_NE(groups, nullptr);
    conn.Execute(dialect.SaveQueryAs(
        "grouped", groups->Statement(conn, dialect, Over(test.script, none), none, 2)));
    conn.Execute(dialect.SaveQueryAs("stated", dialect.RoundSums(Over(test.script, "lots"), 2)));
    const auto cells = [&](const std::string& table) {
      return testing::Texts(conn,
                            "select concat_ws('|',XZQDM,XZQMC,TYPE,HJ::text,BM051::text,"
                            "BM052::text,'.') AS cell from " +
                                table + " order by cell");
    };
    const auto declared = [&](const std::string& table) {
      return testing::Texts(conn,
                            "select column_name||' '||data_type from "
                            "information_schema.columns where table_schema=current_schema()"
                            " and table_name='" +
                                table + "' order by ordinal_position");
    };
    EXPECT_EQ(cells("grouped"), cells("stated"));
    EXPECT_EQ(declared("grouped"), declared("stated"));
    EXPECT_GE(cells("grouped").size(), 12u);
  }
}

}  // namespace
}  // namespace landstat
