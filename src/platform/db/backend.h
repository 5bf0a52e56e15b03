#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"
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

  // The way through many rows, never mixed with Fetch: Next moves to the
  // next row (false at the end) and its fields are read in place by column
  // number, without making a Value per field. A text view lasts until the
  // next call.
  virtual bool Next() = 0;
  virtual bool IsNull(int column) const = 0;
  // A field as a number: null and empty text read as 0, text that is no
  // number raises DbError naming the column.
  virtual double Number(int column) const = 0;
  // Number and IsNull at once, for passes over many fields: false where the
  // field is null (`value` then stays as it was), else its number.
  virtual bool NumberUnlessNull(int column, double& value) const {
    if (IsNull(column)) return false;
    value = Number(column);
    return true;
  }
  // A field as text: numbers in the form Value::AsText gives them, null empty.
  virtual std::string_view Text(int column) const = 0;
  // The connection has gone: release nothing through it.
  virtual void Detach() {}
};

// Reads the current row's first texts.size() fields as texts (null read as
// empty) and gives the nulls among them as bits, bit i for field i.
inline unsigned ReadTexts(const RowSource& source, std::span<std::string> texts) {
  unsigned nulls = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const int column = static_cast<int>(i);
    texts[i] = source.Text(column);
    if (source.IsNull(column)) nulls |= 1u << i;
  }
  return nulls;
}

// What each engine provides to Connection and Recordset.
class Backend {
 public:
  virtual ~Backend() = default;

  virtual DbKind Kind() const = 0;
  virtual std::string FilePath() const { return {}; }
  // Where the database is, for people to read: the file, or the server's
  // host, port and database; never a password.
  virtual std::string Location() const { return FilePath(); }
  // The failure that ended the connection's use to a job, once one was met
  // (see Connection::Lost); empty while it is sound.
  virtual std::optional<DbError> Lost() const { return lost_; }
  // Keeps `error` as the connection's loss when it ends a job (EndsJob) and
  // none was kept before. Called where the engine's failure is raised, so
  // that one a caller catches and drops is still known.
  void NoteFailure(const DbError& error) {
    if (!lost_ && EndsJob(error.Failure())) lost_ = error;
  }
  // Runs one statement, or several separated by ';' when there are no
  // parameters, after rewriting the Access forms into this engine's.
  long Execute(std::string_view sql, const std::vector<Value>& params) {
    Flush();
    return ExecuteScript(sql, params);
  }
  virtual std::unique_ptr<RowSource> Query(std::string_view sql,
                                           const std::vector<Value>& params) = 0;
  // Every row of a table (named as unquoted SQL names it), in the order
  // "select * from" gives them: for a pass over the whole table.
  virtual std::unique_ptr<RowSource> ScanTable(std::string_view table);
  // The first column of the query's first row, or null when it has none.
  virtual Value Scalar(std::string_view sql, const std::vector<Value>& params);
  // Stores the rows of the query `select` into the `columns` of `target`,
  // in the query's order, as "INSERT INTO target (columns) select" does;
  // returns the rows stored.
  virtual long InsertSelect(const std::string& target, const std::vector<std::string>& columns,
                            const std::string& select);

  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;

  virtual bool TableExists(std::string_view name) = 0;
  // The name under which the engine stores a table named unquoted `name`.
  virtual std::string StoredTableName(std::string_view name) const { return std::string(name); }
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
  // the id under which the pending write is kept). `record` numbers the row
  // for messages: the how-manieth row the recordset added, or the
  // how-manieth row of its walk it updated (see RowName). `shape`, where it
  // is not 0, stands for this table and these columns for good: a writer
  // whose columns never change passes one number of its own with every row,
  // so that the engine need not compare the column names row by row.
  virtual void InsertRow(const std::string& table, const std::vector<std::string>& columns,
                         const std::vector<Value>& values, long record, std::uint64_t shape) = 0;
  virtual Value UpdateRow(const std::string& table, const Value& row_id,
                          const std::vector<std::string>& columns, const std::vector<Value>& values,
                          long record) = 0;

  // The most characters each text column of `table` may hold, by its name in
  // lower case, as its declared type says ("varchar(10)"); columns without a
  // limit are absent. Learnt once per table, again after a create, drop or
  // alter statement.
  const std::unordered_map<std::string, long>& TextLimits(const std::string& table);
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
  // Ends a recordset's share of the write transaction without declaring its
  // writes done (the recordset is destroyed by an error): the transaction
  // the recordsets opened is rolled back when its last holder ends, and that
  // end raises DbError to say so.
  void AbandonImplicit();

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

  // Commits the open transaction. When the commit fails the transaction is
  // rolled back, so that the connection is out of it, and DbError is raised.
  void CommitOrRollBack();

  // How the recordsets' transaction ends once the caller's transaction
  // inside it (a savepoint) has ended.
  enum class AfterExplicit { kNothing, kCommit, kRollBack };

  // Forgets what was learnt of tables after a statement that may change them.
  void ForgetTablesAfter(const std::string& statement);

  std::optional<DbError> lost_;  // see NoteFailure

  int implicit_depth_ = 0;
  bool implicit_owner_ = false;      // the outermost implicit call began the transaction
  bool implicit_abandoned_ = false;  // a recordset of it was destroyed by an error
  // The recordsets write inside a caller's transaction, under a savepoint
  // of their own.
  bool implicit_savepoint_ = false;
  bool explicit_open_ = false;       // the caller opened a transaction
  bool explicit_savepoint_ = false;  // ... inside a recordset's, as a savepoint
  AfterExplicit after_explicit_ = AfterExplicit::kNothing;  // the recordsets' ended first
  int explicit_nested_ = 0;  // transactions begun inside the caller's, as savepoints

 private:
  long ExecuteScript(std::string_view sql, const std::vector<Value>& params);
  // Refuses a parameter longer than its column in "insert into T (a, b)
  // values (?, ?)", as recordset writes are refused.
  void CheckInsertedTexts(const std::string& sql, const std::vector<Value>& params);
  // The last holder of the recordsets' transaction has gone: commits it, or
  // rolls it back when a recordset was abandoned.
  void EndImplicitSavepoint();
  void EndImplicitTransaction();
  // Rolls back the recordsets' transaction one of them abandoned, and says so.
  [[noreturn]] void RollBackAbandoned();
  // Ends a caller's transaction that was a savepoint, ending the
  // recordsets' transaction when it ended in the meantime.
  void EndSavepointTransaction();
  std::vector<std::string> RewriteSelectInto(const SelectInto& into);

  std::unordered_map<std::string, std::unordered_map<std::string, long>> text_limits_;
};

// How messages name a row written through a recordset: "new row 4 of table
// jsyd" or "row 2 of the walk over table jsyd".
std::string RowName(const std::string& table, long record, bool added);

// A text field read as a number by RowSource::Number: empty text is 0, text
// that is no number raises DbError naming the column.
double NumberOfTextField(std::string_view text, const std::string& column);

// The number of characters of UTF-8 text.
long CharacterCount(std::string_view text);

// The message refusing `value` for a column that holds at most `limit`
// characters (0: no limit), naming `where` (the table or row) and the
// column; empty when the value fits.
std::string TooLongFor(const std::string& where, const std::string& column, const Value& value,
                       long limit);

}  // namespace landstat::db
