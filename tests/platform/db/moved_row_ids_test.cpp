#include "platform/db/moved_row_ids.h"

#include <gtest/gtest.h>

namespace landstat::db {
namespace {

// A rollback to the savepoint puts back exactly the ids as they stood when
// it was set, whatever happened after: new moves, moves of moved rows,
// moves over a recorded id and whole tables forgotten.
TEST(MovedRowIdsTest, RollbackToTheSavepointPutsBackTheIdsOfThen) {
  MovedRowIds ids;
  ids.Record("t", "(0,1)", "(5,1)");
  ids.Record("u", "(0,1)", "(7,1)");
  ids.MarkSavepoint();
  ids.Record("t", "(5,1)", "(6,1)");  // moved again
  ids.Record("t", "(0,1)", "(9,9)");  // over the recorded one
  ids.Record("t", "(0,2)", "(6,2)");
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(9,9)");
  ids.ForgetTables([](const std::string& table) { return table == "u"; });
  EXPECT_EQ(ids.Current("u", "(0,1)"), "(0,1)");
  ids.Record("u", "(0,3)", "(8,3)");

  ids.UndoToSavepoint();
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(5,1)");
  EXPECT_EQ(ids.Current("t", "(0,2)"), "(0,2)");
  EXPECT_EQ(ids.Current("u", "(0,1)"), "(7,1)");
  EXPECT_EQ(ids.Current("u", "(0,3)"), "(0,3)");
  EXPECT_EQ(ids.CountOf("t"), 1u);

  // A second rollback to the same savepoint changes nothing; a new
  // savepoint keeps what came before it.
  ids.UndoToSavepoint();
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(5,1)");
  ids.Record("t", "(5,1)", "(6,1)");
  ids.MarkSavepoint();
  ids.UndoToSavepoint();
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(6,1)");

  ids.Clear();
  ids.UndoToSavepoint();
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(0,1)");
}

// A walk that moves more rows than the journal keeps is undone all the
// same, and so are the moves after it, up to the next savepoint.
TEST(MovedRowIdsTest, ALongWalkIsUndoneWhole) {
  MovedRowIds ids;
  ids.Record("t", "(0,1)", "(5,1)");
  ids.MarkSavepoint();
  for (int row = 0; row < 150000; ++row) {
    ids.Record("t", "(1," + std::to_string(row) + ")", "(9," + std::to_string(row) + ")");
  }
  ids.Record("t", "(5,1)", "(6,1)");
  ids.ForgetTables([](const std::string& table) { return table == "u"; });
  ids.UndoToSavepoint();
  EXPECT_EQ(ids.CountOf("t"), 1u);
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(5,1)");

  ids.Record("t", "(5,1)", "(7,1)");
  ids.UndoToSavepoint();
  EXPECT_EQ(ids.Current("t", "(0,1)"), "(5,1)");
}

}  // namespace
}  // namespace landstat::db
