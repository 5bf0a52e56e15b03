#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/value.h"

namespace landstat::db {

class RowSource;

// A streaming cursor over a statement, in the manner of an ADO recordset:
// EOF, MoveFirst, MoveNext, fields by name (case-insensitive) or index, and,
// for a query over a single table, AddNew / Update / CancelUpdate and updates
// of the current row. Rows are fetched as they are walked; MoveFirst runs the
// statement again. A statement that returns no rows (an insert, say) simply
// runs and leaves the recordset at EOF.
class Recordset {
 public:
  Recordset(Connection& connection, std::string_view sql);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  bool IsEOF() const { return eof_; }
  void MoveFirst();
  void MoveNext();
  // Number of rows of the statement, counted by the database.
  long RecordCount();

  int FieldCount() const { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int index) const;
  FieldType Type(int index) const;
  FieldType Type(std::string_view name) const { return Type(IndexOf(name)); }
  // Index of a field by name, case-insensitive; raises DbError when absent.
  int IndexOf(std::string_view name) const;
  bool HasField(std::string_view name) const;

  const Value& Field(int index) const;
  const Value& Field(std::string_view name) const { return Field(IndexOf(name)); }
  std::string Text(std::string_view name) const;
  double Number(std::string_view name) const;
  bool IsNull(std::string_view name) const { return Field(name).IsNull(); }

  // Writes into the current row (or the row begun by AddNew); stored by
  // Update. Text written to a numeric field must be a number.
  void SetField(std::string_view name, const Value& value);
  void SetField(int index, const Value& value);

  // Begins a new row; a row begun before and not yet stored is stored first.
  void AddNew();
  // Stores the row begun by AddNew, or the changes to the current row.
  void Update();
  // Drops the changes not yet stored.
  void CancelUpdate();
  // Stores what is pending and releases the cursor, and declares the writes
  // of this recordset done. Safe to call twice. A recordset destroyed while
  // an error unwinds the stack stores nothing more and declares nothing
  // done: its write transaction is rolled back (see Backend::AbandonImplicit).
  void Close();
  bool IsOpen() const { return open_; }

 private:
  void Run();
  void Fetch();
  void RequireOpen(const char* what) const;
  void RequireWritable(const char* what) const;
  void StoreNewRow();
  void StoreRowChanges();
  void StorePending();
  void BeginWrite();
  void FinishWrites();
  void Abandon();
  // The message refusing a text of the row being stored that is longer
  // than its column's declared length, naming the table, column and row;
  // empty when every text fits.
  std::string TooLongText(long record, bool added) const;
  std::vector<std::string> ChangedNames() const;
  std::vector<Value> ChangedValues() const;

  Connection& connection_;
  std::string sql_;         // as given
  std::string cursor_sql_;  // with the row id column added, when writable
  std::string table_;       // the single table read, when writable
  bool writable_ = false;
  unsigned long generation_ = 0;  // of the connection when the cursor opened
  bool open_ = false;
  bool eof_ = true;
  bool adding_ = false;
  bool wrote_ = false;  // this recordset opened a write transaction
  std::unique_ptr<RowSource> source_;
  std::vector<ColumnInfo> columns_;                // visible fields (row id excluded)
  std::unordered_map<std::string, int> index_of_;  // lower-case name -> index
  std::vector<Value> row_;
  std::vector<Value> saved_row_;  // the row as read, while it is being edited
  Value row_id_;
  std::vector<bool> changed_;
  bool dirty_ = false;
  std::vector<long> max_chars_;  // per visible field; 0 where the column has no limit
  long rows_walked_ = 0;         // the current row's place in the walk
  long rows_added_ = 0;
  int uncaught_at_open_ = 0;  // exceptions in flight when the recordset opened
};

// Adds rows of the same columns to one table: the way for fills of many
// rows, values by column number and no cursor. Texts longer than their
// column are refused as a recordset refuses them. Close declares the rows
// done; a writer destroyed by an error rolls its rows back, as a recordset
// does.
class RowWriter {
 public:
  RowWriter(Connection& connection, std::string table, std::vector<std::string> columns);
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // One value per column, in the order the columns were given. A refusal
  // names the row by its place among the writer's rows, or by `record`
  // where the rows of one table are shared between several writers.
  void Add(const std::vector<Value>& values);
  void Add(const std::vector<Value>& values, long record);
  // Raises what Add would refuse the values for (a count that is not the
  // columns', a text longer than its column), without adding them: for a
  // caller that adds them later, from another thread.
  void Check(const std::vector<Value>& values, long record) const;
  // Adds values that Check passed, without checking them again.
  void AddChecked(const std::vector<Value>& values, long record);
  void Close();

 private:
  void Insert(const std::vector<Value>& values, long record);

  Connection& connection_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<long> max_chars_;       // per column; 0 where it has no limit
  std::vector<std::size_t> limited_;  // the columns with a limit, checked in each row
  long rows_ = 0;
  bool writing_ = false;
  // Stands for this writer's table and columns with every row it adds.
  const std::uint64_t shape_;
};

// Walks every row of `sql` (a query over a single table) from the first,
// calls `change` on each and stores the rows for which it returns true,
// then closes the recordset. Returns how many rows were stored. An error,
// from the database or thrown by `change`, ends the walk and goes to the
// caller; the walk's writes are then rolled back, as for any recordset
// that an error destroys.
long UpdateEach(Connection& connection, std::string_view sql,
                const std::function<bool(Recordset& row)>& change);

}  // namespace landstat::db
