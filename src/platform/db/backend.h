#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/sql_text.h"
#include "platform/db/value.h"

namespace landstat::db {

// A streaming result: its columns, then its rows one at a time.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Fills `row` with the next row; false at the end.
  virtual bool Fetch(std::vector<Value>& row) = 0;
  // The connection has gone: release nothing through it.
  virtual void Detach() {}
};

// What each engine provides to Connection and Recordset.
class Backend {
 public:
  virtual ~Backend() = default;

  virtual DbKind Kind() const = 0;
  virtual std::string FilePath() const { return {}; }
  // Where the database is, for people to read: the file, or the server's
  // host, port and database; never a password.
  virtual std::string Location() const { return FilePath(); }
  // Runs one statement, or several separated by ';' when there are no
  // parameters, after rewriting the Access forms into this engine's.
  long Execute(std::string_view sql, const std::vector<Value>& params) {
    Flush();
    return ExecuteScript(sql, params);
  }
  virtual std::unique_ptr<RowSource> Query(std::string_view sql,
                                           const std::vector<Value>& params) = 0;

  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;

  virtual bool TableExists(std::string_view name) = 0;
  virtual std::vector<ColumnInfo> TableColumns(std::string_view table) = 0;
  // The query of the names of the database's tables, in name order.
  virtual const char* TableNamesQuery() const = 0;

  // The hidden column that identifies a row of a table for updates.
  virtual std::string RowIdColumn() const = 0;
  // How a walk that updates rows as it goes reads its table, so that no row
  // is seen twice however its values change.
  virtual std::string StableScanOf(const std::string& table) const { return table; }

  // Row writes of recordsets. An engine may buffer them; Flush stores all
  // that is buffered. An update returns the row's id after the write (or
  // the id under which the pending write is kept).
  virtual void InsertRow(const std::string& table, const std::vector<std::string>& columns,
                         const std::vector<Value>& values) = 0;
  virtual Value UpdateRow(const std::string& table, const Value& row_id,
                          const std::vector<std::string>& columns,
                          const std::vector<Value>& values) = 0;
  virtual void Flush() {}
  // Drops buffered writes without storing them (their transaction is being
  // rolled back to the caller's savepoint), and notes where that savepoint is.
  virtual void DiscardPending() {}
  virtual void MarkSavepoint() {}

  // Write transactions opened on behalf of recordsets: the first write of a
  // recordset calls BeginImplicit, its close EndImplicit. They nest, and they
  // never commit a transaction the caller opened.
  void BeginImplicit();
  void EndImplicit();

  // The caller's own transactions. Opened while a recordset's write
  // transaction is open, they join it; committed then, the commit happens
  // when the last such recordset closes, so no open cursor is cut short.
  void BeginExplicit();
  void CommitExplicit();
  void RollbackExplicit();

 protected:
  // Runs a transaction-control statement as it stands.
  virtual void RunControl(const std::string& sql) { RunStatement(sql, {}); }
  // Runs one statement as this engine's SQL; returns the rows changed.
  virtual long RunStatement(const std::string& sql, const std::vector<Value>& params) = 0;
  // The statement that creates `target` with the columns, types and
  // defaults of `source`.
  virtual std::string CreateTableLike(const std::string& target, const std::string& source) = 0;
  // Type words of a create or alter statement in this engine's spelling.
  virtual std::string RewriteTypeWords(const std::string& sql) = 0;

  // The Access statement forms the engine writes, as this engine's
  // statements: "select ... into", Jet's multi-table update, identity
  // columns and type words.
  std::vector<std::string> Rewrite(std::string_view sql);

  int implicit_depth_ = 0;
  bool implicit_owner_ = false;         // the outermost implicit call began the transaction
  bool explicit_open_ = false;          // the caller opened a transaction
  bool explicit_savepoint_ = false;     // ... inside a recordset's, as a savepoint
  bool commit_after_explicit_ = false;  // the recordset's ended before the caller's
  int explicit_nested_ = 0;             // transactions begun inside the caller's, as savepoints

 private:
  long ExecuteScript(std::string_view sql, const std::vector<Value>& params);
  // Ends a caller's transaction that was a savepoint, committing the
  // recordset's transaction when it ended in the meantime.
  void EndSavepointTransaction();
  std::vector<std::string> RewriteSelectInto(const SelectInto& into);
};

}  // namespace landstat::db
