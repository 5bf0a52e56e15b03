#include "platform/db/grouped_sums.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/text/number_text.h"
#include "support/test_databases.h"

namespace landstat::db {
namespace {

using testing::BothEngines;
using ::testing::HasSubstr;

class GroupedSumsTest : public BothEngines {
 protected:
  void SetUpDatabase() override {
    conn().Execute(
        "CREATE TABLE parts (k1 varchar(10), k2 varchar(10), a double precision, b "
        "double precision)");
    // Null and empty keys are groups of their own; a group whose values
    // are all null sums to null, one with zeros to 0.
    conn().Execute(
        "INSERT INTO parts VALUES ('x', 'p', 1.25, NULL);"
        "INSERT INTO parts VALUES ('x', 'p', 2.5, 0);"
        "INSERT INTO parts VALUES ('x', '', 4, NULL);"
        "INSERT INTO parts VALUES ('x', NULL, 0, NULL);"
        "INSERT INTO parts VALUES (NULL, 'q', NULL, 3.75);"
        "INSERT INTO parts VALUES ('xy', 'a', -1, 2);"
        "INSERT INTO parts VALUES ('w', 'p', 8, 1)");
  }

  // Every row of a query as text, sorted, so that engines' orders of nulls
  // do not matter.
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    const std::unique_ptr<RowSource> source = conn().Scan(sql);
    while (source->Next()) {
      std::string row;
      for (int i = 0; i < static_cast<int>(source->Columns().size()); ++i) {
        row += (source->IsNull(i) ? "<null>" : std::string(source->Text(i))) + "|";
      }
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

TEST_P(GroupedSumsTest, GivesTheRowsOfTheGroupingStatement) {
  const auto compare = [this](const std::string& filter) {
    SCOPED_TRACE(filter);
    const std::string where = filter.empty() ? "" : " WHERE " + filter;
    const std::string grouping =
        "SELECT k1,k2,SUM(a) AS a,SUM(b) AS b FROM parts" + where + " GROUP BY k1,k2";
    conn().Execute("DROP TABLE IF EXISTS summed");
    conn().Execute("CREATE TABLE summed AS " + grouping + " HAVING 1=0");
    // Read as a whole, or (on SQLite, for a table of thousands of rows) in
    // ranges of rows on connections of their own, summed together.
    GroupedSums::ReadAll(conn(), {{"parts", filter, {"k1", "k2"}, {"a", "b"}}})
        .front()
        ->WriteTo(conn(), "summed", true);
    EXPECT_EQ(Rows("SELECT * FROM summed"), Rows(grouping));
    // Fed the rows it groups, in columns of another order, on either engine.
    GroupedSums fed({"parts", "", {"k1", "k2"}, {"a", "b"}}, {"b", "k2", "a", "k1"});
    Recordset rows(conn(), "SELECT b, k2, a, k1 FROM parts" + where);
    for (; !rows.IsEOF(); rows.MoveNext()) {
      fed.Add({rows.Field(0), rows.Field(1), rows.Field(2), rows.Field(3)});
    }
    conn().Execute("DELETE FROM summed");
    fed.WriteTo(conn(), "summed", true);
    EXPECT_EQ(Rows("SELECT * FROM summed"), Rows(grouping));
    // The groups of the engine's own grouping statement, held in memory.
    conn().Execute("DELETE FROM summed");
    GroupedSums::ReadGroups(conn(), {"parts", filter, {"k1", "k2"}, {"a", "b"}})
        ->WriteTo(conn(), "summed", true);
    EXPECT_EQ(Rows("SELECT * FROM summed"), Rows(grouping));
  };
  for (const std::string filter : {"", "a <> 0"}) compare(filter);
  // Sorted by the keys, as ORDER BY sorts them: nulls first on SQLite, last
  // on the server.
  conn().Execute("CREATE TABLE picked (b double precision, key1 varchar(10))");
  GroupedSums(conn(), {"parts", "", {"k1", "k2"}, {"a", "b"}})
      .WriteTo(conn(), "picked", {{"b", ""}, {"k1", "key1"}}, true);
  const std::vector<std::string> expected =
      IsServer() ? std::vector<std::string>{"w", "x", "x", "x", "xy", ""}
                 : std::vector<std::string>{"", "w", "x", "x", "x", "xy"};
  EXPECT_EQ(testing::Texts(conn(), IsServer() ? "SELECT key1 FROM picked ORDER BY ctid"
                                              : "SELECT key1 FROM picked ORDER BY rowid"),
            expected);
  // Written again after a group was added: in the order of every group.
  GroupedSums growing({"parts", "", {"k1"}, {"a"}});
  conn().Execute("CREATE TABLE grown (k1 varchar(10), a double precision)");
  for (const char* key : {"x", "y", "w"}) {
    growing.Add({Value(key), Value(1.5)});
    conn().Execute("DELETE FROM grown");
    growing.WriteTo(conn(), "grown", true);
  }
  EXPECT_EQ(testing::Texts(conn(), IsServer() ? "SELECT k1 FROM grown ORDER BY ctid"
                                              : "SELECT k1 FROM grown ORDER BY rowid"),
            (std::vector<std::string>{"w", "x", "y"}));
  // Hundreds of groups, most of several rows, some with nulls, some whose
  // first column is 0 in their first row only.
  conn().Execute(
      "INSERT INTO parts WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
      "2000) SELECT 'g' || (i % 600), CAST(i % 2 AS varchar(10)), CASE WHEN i % 11 = 0 THEN 0 "
      "ELSE i * 0.25 END, CASE WHEN i % 7 = 0 THEN NULL ELSE i END FROM n");
  compare("");
}

TEST_P(GroupedSumsTest, RefusesWhatItCannotStoreOrRead) {
  // A text too long for its column stops the writer; the rows added before
  // it are rolled back with it.
  conn().Execute("CREATE TABLE narrow (k1 varchar(3))");
  try {
    RowWriter writer(conn(), "narrow", {"k1"});
    writer.Add({Value("abc")});
    writer.Add({Value("abcd")});
    FAIL() << "a text longer than its column was stored";
  } catch (const DbError& error) {
    EXPECT_THAT(error.what(), HasSubstr("narrow"));
  }
  EXPECT_EQ(conn().Scalar("SELECT count(*) FROM narrow").AsInteger(), 0);
  // Text that is no number, read as a number, names its column; a null is
  // no number, and text that is one reads as it.
  conn().Execute(
      "INSERT INTO narrow VALUES (NULL);INSERT INTO narrow VALUES ('2.5');"
      "INSERT INTO narrow VALUES ('x1')");
  const std::unique_ptr<RowSource> rows =
      conn().Scan("SELECT k1 FROM narrow ORDER BY coalesce(k1, '')");
  double value = 7;
  ASSERT_TRUE(rows->Next());
  EXPECT_FALSE(rows->NumberUnlessNull(0, value));
  EXPECT_EQ(value, 7);
  ASSERT_TRUE(rows->Next());
  EXPECT_TRUE(rows->NumberUnlessNull(0, value));
  EXPECT_EQ(value, 2.5);
  ASSERT_TRUE(rows->Next());
  EXPECT_THAT([&] { rows->Number(0); }, ::testing::ThrowsMessage<DbError>(HasSubstr("field k1")));
  EXPECT_THAT([&] { rows->NumberUnlessNull(0, value); },
              ::testing::ThrowsMessage<DbError>(HasSubstr("field k1")));
}

TEST_P(GroupedSumsTest, SeveralGroupingsReadTogetherGiveWhatEachGivesAlone) {
  // A temporary table is the connection's own: it is read there.
  conn().Execute("CREATE TEMPORARY TABLE own_parts AS SELECT * FROM parts");
  // The groupings of one table are read in one scan, each with its rows:
  // of every row or of its filter's (null is no), whether another reads
  // every row or only those of its own filter.
  const std::vector<GroupedSumsQuery> queries = {{"parts", "", {"k1"}, {"a"}},
                                                 {"parts", "b <> 0", {"k2"}, {"a", "b"}},
                                                 {"own_parts", "b <> 0", {"k1"}, {"a"}},
                                                 {"own_parts", "a > 1", {"k2"}, {"a"}}};
  const auto written = [&](const GroupedSums& sums, const GroupedSumsQuery& query) {
    conn().Execute("DROP TABLE IF EXISTS summed");
    conn().Execute(
        "CREATE TABLE summed (k1 varchar(10), k2 varchar(10), a double precision, b "
        "double precision)");
    sums.WriteTo(conn(), "summed", true);
    const bool both = query.sums.size() > 1;
    const std::string where = query.filter.empty() ? "" : " WHERE " + query.filter;
    return Rows("SELECT " + query.keys[0] + (both ? ",a,b" : ",a") + " FROM summed") ==
           Rows("SELECT " + query.keys[0] + (both ? ",SUM(a),SUM(b)" : ",SUM(a)") + " FROM " +
                query.table + where + " GROUP BY " + query.keys[0]);
  };
  // Uncommitted rows are seen: the groupings are then read on the
  // connection that wrote them.
  for (bool open : {false, true}) {
    SCOPED_TRACE(open);
    if (open) {
      conn().BeginTrans();
      conn().Execute("INSERT INTO parts VALUES ('new', 'n', 5, 5)");
    }
    const auto all = GroupedSums::ReadAll(conn(), queries);
    ASSERT_EQ(all.size(), queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) EXPECT_TRUE(written(*all[i], queries[i]));
    if (open) conn().CommitTrans();
  }
  // A grouping that fails fails them all, once the others have ended (on a
  // server, where nothing is read before, when it is written).
  const auto failing = [&] {
    for (const auto& sums :
         GroupedSums::ReadAll(conn(), {queries[0], {"missing", "", {"k1"}, {"a"}}})) {
      sums->WriteTo(conn(), "summed", true);
    }
  };
  EXPECT_THROW(failing(), DbError);
}

// Sums split over ranges of rows and workers: every figure written is the
// same to the bit whatever the number of workers, read apart or on the
// connection itself; with decimals, each sum is written on their grid.
TEST_P(GroupedSumsTest, SumsAreTheSameToTheBitWhateverTheWorkers) {
  conn().Execute("CREATE TABLE many (k varchar(10), a double precision)");
  std::vector<Value> rows;
  {
    Transaction transaction(conn());
    for (int i = 0; i < 5000; ++i) {
      conn().Execute("INSERT INTO many VALUES (?, ?)",
                     {Value(std::to_string(i % 7)), Value(0.01 * (i % 97) + 1e3 * (i % 3))});
    }
    transaction.Commit();
  }
  conn().Execute("CREATE TABLE summed (k varchar(10), a double precision)");
  enum Read { kAll, kAlone, kInOneScan };
  const auto figures = [&](int decimals, bool open, Read read = kAll) {
    GroupedSumsQuery query{"many", "", {"k"}, {"a"}};
    query.decimals = decimals;
    if (open) conn().BeginTrans();
    conn().Execute("DELETE FROM summed");
    if (read == kAlone) {
      GroupedSums(conn(), query).WriteTo(conn(), "summed", true);
    } else {
      const GroupedSumsQuery by_area{"many", "", {"a"}, {"a"}};
      (read == kAll ? GroupedSums::ReadAll(conn(), {query, query})
                    : GroupedSums::ReadInOneScan(conn(), {by_area, query}))
          .back()
          ->WriteTo(conn(), "summed", true);
    }
    if (open) conn().CommitTrans();
    std::vector<std::string> exact;
    const std::unique_ptr<RowSource> sums = conn().Scan("SELECT k, a FROM summed ORDER BY k");
    while (sums->Next()) {
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", sums->Number(1));
      exact.push_back(std::string(sums->Text(0)) + " " + text);
    }
    return exact;
  };
  for (int decimals : {-1, 2}) {
    SCOPED_TRACE(decimals);
    SetWorkers(1);
    const std::vector<std::string> one = figures(decimals, false);
    ASSERT_EQ(one.size(), 7u);
    for (std::size_t workers : {2, 3, 8}) {
      SetWorkers(workers);
      EXPECT_EQ(figures(decimals, false), one) << workers << " workers";
    }
    EXPECT_EQ(figures(decimals, true), one) << "read on the connection";
    SetWorkers(0);
  }
  // Groupings of one table read in one scan: each as read alone, to the
  // bit; groupings of two tables are refused.
  EXPECT_EQ(figures(-1, false, kInOneScan), figures(-1, false, kAlone));
  EXPECT_THROW(GroupedSums::ReadInOneScan(
                   conn(), {{"many", "", {"k"}, {"a"}}, {"summed", "", {"k"}, {"a"}}}),
               DbError);
  for (const std::string& figure : figures(2, false)) {
    const double value = std::stod(figure.substr(figure.find(' ') + 1));
    EXPECT_EQ(value, text::RoundDecimal(value, 2)) << figure;
  }
}

LANDSTAT_BOTH_ENGINES(GroupedSumsTest);

}  // namespace
}  // namespace landstat::db
