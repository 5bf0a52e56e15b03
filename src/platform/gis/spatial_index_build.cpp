#include "platform/gis/spatial_index_build.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/db/sql_quote.h"
#include "platform/gis/gis_error.h"

namespace landstat::gis::detail {
namespace {

struct CloseDatabase {
  void operator()(sqlite3* database) const { sqlite3_close(database); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

[[noreturn]] void Fail(sqlite3* database, const std::string& what) {
  throw GisError("cannot " + what + ": " +
                 (database ? sqlite3_errmsg(database) : "the database does not open"));
}

Database Open(const std::string& path, int flags, const std::string& what) {
  sqlite3* opened = nullptr;
  const int status = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
  Database database(opened);
  if (status != SQLITE_OK) Fail(opened, what);
  return database;
}

void Run(sqlite3* database, const std::string& sql, const std::string& what) {
  if (sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(database, what);
  }
}

Statement Prepare(sqlite3* database, const std::string& sql, const std::string& what) {
  sqlite3_stmt* prepared = nullptr;
  if (sqlite3_prepare_v2(database, sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
    sqlite3_finalize(prepared);
    Fail(database, what);
  }
  return Statement(prepared);
}

// Steps a statement that gives no row, and readies it for the next.
void Step(sqlite3* database, sqlite3_stmt* statement, const std::string& what) {
  const int status = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (status != SQLITE_DONE) Fail(database, what);
}

// The rows of a table of two columns, the second read by `value`.
template <typename Second, typename Read>
std::vector<std::pair<long long, Second>> Rows(sqlite3* database, const std::string& table,
                                               const std::string& columns, Read value,
                                               const std::string& what) {
  const Statement statement =
      Prepare(database, "SELECT " + columns + " FROM " + db::QuoteName(table), what);
  std::vector<std::pair<long long, Second>> rows;
  int status = SQLITE_ROW;
  while ((status = sqlite3_step(statement.get())) == SQLITE_ROW) {
    rows.emplace_back(sqlite3_column_int64(statement.get(), 0), value(statement.get()));
  }
  if (status != SQLITE_DONE) Fail(database, what);
  return rows;
}

BuiltIndex Build(LayerIndex index, int page_size) {
  const std::string what = "build the spatial index " + index.table + " of the range";
  Database database = Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, what);
  sqlite3* memory = database.get();
  Run(memory, "PRAGMA page_size = " + std::to_string(page_size), what);
  Run(memory, "CREATE VIRTUAL TABLE tree USING rtree(id, minx, maxx, miny, maxy); BEGIN", what);
  std::sort(index.entries.begin(), index.entries.end(),
            [](const IndexEntry& a, const IndexEntry& b) { return a.id < b.id; });
  const Statement insert = Prepare(memory, "INSERT INTO tree VALUES (?, ?, ?, ?, ?)", what);
  for (const IndexEntry& entry : index.entries) {
    sqlite3_bind_int64(insert.get(), 1, entry.id);
    sqlite3_bind_double(insert.get(), 2, entry.min_x);
    sqlite3_bind_double(insert.get(), 3, entry.max_x);
    sqlite3_bind_double(insert.get(), 4, entry.min_y);
    sqlite3_bind_double(insert.get(), 5, entry.max_y);
    Step(memory, insert.get(), what);
  }
  Run(memory, "COMMIT", what);
  BuiltIndex built{std::move(index.table), std::move(index.insert_trigger), {}, {}, {}};
  const auto whole = [](sqlite3_stmt* row) { return sqlite3_column_int64(row, 1); };
  built.nodes = Rows<std::string>(
      memory, "tree_node", "nodeno, data",
      [](sqlite3_stmt* row) {
        return std::string(static_cast<const char*>(sqlite3_column_blob(row, 1)),
                           static_cast<std::size_t>(sqlite3_column_bytes(row, 1)));
      },
      what);
  built.parents = Rows<long long>(memory, "tree_parent", "nodeno, parentnode", whole, what);
  built.rowids = Rows<long long>(memory, "tree_rowid", "rowid, nodeno", whole, what);
  return built;
}

// Replaces the rows of one of the tables of an index table's tree.
template <typename Second, typename Bind>
void Replace(sqlite3* database, const std::string& table,
             const std::vector<std::pair<long long, Second>>& rows, Bind bind,
             const std::string& what) {
  Run(database, "DELETE FROM " + db::QuoteName(table), what);
  const Statement insert =
      Prepare(database, "INSERT INTO " + db::QuoteName(table) + " VALUES (?, ?)", what);
  for (const auto& [first, second] : rows) {
    sqlite3_bind_int64(insert.get(), 1, first);
    bind(insert.get(), second);
    Step(database, insert.get(), what);
  }
}

}  // namespace

int PageSizeOf(const std::string& path) {
  const std::string what = "read the page size of " + path;
  Database database = Open(path, SQLITE_OPEN_READONLY, what);
  const Statement pragma = Prepare(database.get(), "PRAGMA page_size", what);
  if (sqlite3_step(pragma.get()) != SQLITE_ROW) Fail(database.get(), what);
  return sqlite3_column_int(pragma.get(), 0);
}

std::future<BuiltIndex> BuildIndexApart(LayerIndex index, int page_size) {
  return std::async(std::launch::async, [index = std::move(index), page_size]() mutable {
    return Build(std::move(index), page_size);
  });
}

void WriteBuiltIndexes(const std::string& path, std::vector<std::future<BuiltIndex>>& built) {
  const std::string what = "write the spatial indexes of " + path;
  Database database = Open(path, SQLITE_OPEN_READWRITE, what);
  sqlite3* file = database.get();
  // Synced whole before it is moved into place, as the rest of the file.
  Run(file, "PRAGMA synchronous = OFF; BEGIN", what);
  const auto whole = [](sqlite3_stmt* insert, long long value) {
    sqlite3_bind_int64(insert, 2, value);
  };
  for (std::future<BuiltIndex>& pending : built) {
    const BuiltIndex index = pending.get();
    Replace(
        file, index.table + "_node", index.nodes,
        [](sqlite3_stmt* insert, const std::string& node) {
          sqlite3_bind_blob(insert, 2, node.data(), static_cast<int>(node.size()),
                            SQLITE_TRANSIENT);
        },
        what);
    Replace(file, index.table + "_parent", index.parents, whole, what);
    Replace(file, index.table + "_rowid", index.rowids, whole, what);
    Run(file, index.insert_trigger, what);
  }
  Run(file, "COMMIT", what);
}

}  // namespace landstat::gis::detail
