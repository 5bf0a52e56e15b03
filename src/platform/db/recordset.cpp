#include "platform/db/recordset.h"

#include <atomic>
#include <exception>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_text.h"
#include "platform/text/ascii_text.h"

namespace landstat::db {
namespace {

// A number of its own for every row writer of the process, never 0.
std::uint64_t NextWriterShape() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

constexpr const char* kRowIdAlias = "landstat_rowid";

// A value no text limit refuses: null, no limit, or a text that fits (no
// more bytes than the limit, or no more characters), seen without a copy.
// Anything else is checked by TooLongFor, with the row's name made only
// then.
bool PassesLimit(const Value& value, long limit) {
  if (limit == 0 || value.IsNull()) return true;
  const std::string_view text = value.TextView();
  return value.IsText() &&
         (text.size() <= static_cast<std::size_t>(limit) || CharacterCount(text) <= limit);
}

}  // namespace

Recordset::Recordset(Connection& connection, std::string_view sql)
    : connection_(connection),
      sql_(text::Trim(sql)),
      uncaught_at_open_(std::uncaught_exceptions()) {
  if (!ReturnsRows(sql_)) {
    // An action statement opened as a recordset just runs.
    connection_.Execute(sql_);
    return;
  }
  Backend& backend = connection_.backend();
  if (auto single = ParseSingleTableSelect(sql_); single && backend.TableExists(single->table)) {
    table_ = single->table;
    cursor_sql_ = "SELECT " + table_ + "." + backend.RowIdColumn() + " AS " + kRowIdAlias + ", " +
                  single->list + " FROM " + backend.StableScanOf(table_) + single->rest;
    writable_ = true;
  }
  Run();
}

Recordset::~Recordset() {
  if (std::uncaught_exceptions() > uncaught_at_open_) {
    Abandon();
    return;
  }
  try {
    Close();
  } catch (const DbError&) {
    // A destructor cannot report; callers that care call Close themselves.
  }
}

void Recordset::Abandon() {
  if (!open_) return;
  open_ = false;
  adding_ = dirty_ = false;
  if (generation_ != connection_.Generation()) {
    wrote_ = false;
    if (source_) source_->Detach();
    source_.reset();
    return;
  }
  try {
    if (wrote_) {
      wrote_ = false;
      connection_.backend().AbandonImplicit();
    }
  } catch (const DbError&) {
    // The rollback is the report's consequence; the error in flight is the
    // report.
  }
  source_.reset();
}

void Recordset::Run() {
  Backend& backend = connection_.backend();
  generation_ = connection_.Generation();
  if (writable_) {
    try {
      source_ = backend.Query(cursor_sql_, {});
    } catch (const DbError&) {
      // A view or a table without row ids: read it, but do not write it.
      writable_ = false;
    }
  }
  if (!writable_) source_ = backend.Query(sql_, {});
  open_ = true;
  columns_ = source_->Columns();
  rows_walked_ = 0;
  if (writable_) {
    columns_.erase(columns_.begin());
    const auto& limits = backend.TextLimits(table_);
    max_chars_.assign(columns_.size(), 0);
    for (std::size_t i = 0; i < columns_.size() && !limits.empty(); ++i) {
      if (auto found = limits.find(text::ToLowerAscii(columns_[i].name)); found != limits.end()) {
        max_chars_[i] = found->second;
      }
    }
  }
  index_of_.clear();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    index_of_.emplace(text::ToLowerAscii(columns_[i].name), static_cast<int>(i));
  }
  Fetch();
}

void Recordset::Fetch() {
  std::vector<Value> raw;
  eof_ = !source_->Fetch(raw);
  changed_.assign(columns_.size(), false);
  dirty_ = false;
  if (eof_) {
    row_.assign(columns_.size(), Value());
    row_id_ = Value();
    return;
  }
  ++rows_walked_;
  if (writable_) {
    row_id_ = std::move(raw.front());
    row_.assign(std::make_move_iterator(raw.begin() + 1), std::make_move_iterator(raw.end()));
  } else {
    row_ = std::move(raw);
  }
}

void Recordset::RequireOpen(const char* what) const {
  if (!open_) throw DbError(std::string(what) + " on a closed recordset", sql_);
  if (generation_ != connection_.Generation()) {
    throw DbError(std::string(what) + ": the connection of the recordset was closed", sql_);
  }
}

void Recordset::MoveFirst() {
  RequireOpen("MoveFirst");
  StorePending();
  source_.reset();
  Run();
}

void Recordset::MoveNext() {
  RequireOpen("MoveNext");
  if (eof_ && !adding_) throw DbError("MoveNext past the end of the recordset", sql_);
  StorePending();
  Fetch();
}

long Recordset::RecordCount() {
  RequireOpen("RecordCount");
  return static_cast<long>(
      connection_.Scalar("SELECT COUNT(*) FROM (" + sql_ + ") landstat_count").AsInteger());
}

const std::string& Recordset::FieldName(int index) const {
  if (index < 0 || index >= FieldCount()) {
    throw DbError("field index " + std::to_string(index) + " is out of range", sql_);
  }
  return columns_[index].name;
}

FieldType Recordset::Type(int index) const {
  FieldName(index);
  if (columns_[index].type != FieldType::kUnknown) return columns_[index].type;
  const Value& value = row_[index];
  if (value.IsInteger()) return FieldType::kInteger;
  if (value.IsDouble()) return FieldType::kDouble;
  return value.IsText() ? FieldType::kText : FieldType::kUnknown;
}

int Recordset::IndexOf(std::string_view name) const {
  auto found = index_of_.find(text::ToLowerAscii(name));
  if (found == index_of_.end()) {
    throw DbError("no field named " + std::string(name) + " in the recordset", sql_);
  }
  return found->second;
}

bool Recordset::HasField(std::string_view name) const {
  return index_of_.count(text::ToLowerAscii(name)) != 0;
}

const Value& Recordset::Field(int index) const {
  FieldName(index);
  if (eof_ && !adding_) throw DbError("no current row: the recordset is at its end", sql_);
  return row_[index];
}

std::string Recordset::Text(std::string_view name) const {
  return Field(name).AsText();
}

double Recordset::Number(std::string_view name) const {
  return Field(name).AsDouble(name);
}

void Recordset::RequireWritable(const char* what) const {
  RequireOpen(what);
  if (!writable_) {
    throw DbError(std::string(what) + " needs a recordset over a single table", sql_);
  }
}

void Recordset::SetField(std::string_view name, const Value& value) {
  SetField(IndexOf(name), value);
}

void Recordset::SetField(int index, const Value& value) {
  RequireWritable("SetField");
  const std::string& name = FieldName(index);
  if (eof_ && !adding_) throw DbError("no current row to write " + name + " into", sql_);
  Value stored = value.ForColumn(Type(index), name);
  if (!dirty_ && !adding_) saved_row_ = row_;
  row_[index] = std::move(stored);
  changed_[index] = true;
  dirty_ = true;
}

void Recordset::AddNew() {
  RequireWritable("AddNew");
  StorePending();
  if (!eof_) saved_row_ = row_;
  row_.assign(columns_.size(), Value());
  changed_.assign(columns_.size(), false);
  adding_ = true;
  dirty_ = false;
}

void Recordset::Update() {
  RequireWritable("Update");
  StorePending();
}

void Recordset::CancelUpdate() {
  if (adding_ || dirty_) row_ = saved_row_;
  if (adding_ && eof_) row_.assign(columns_.size(), Value());
  adding_ = false;
  dirty_ = false;
  changed_.assign(columns_.size(), false);
}

void Recordset::StorePending() {
  if (adding_) {
    StoreNewRow();
  } else if (dirty_) {
    StoreRowChanges();
  }
}

void Recordset::BeginWrite() {
  if (wrote_) return;
  connection_.backend().BeginImplicit();
  wrote_ = true;
}

std::vector<std::string> Recordset::ChangedNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (changed_[i]) names.push_back(columns_[i].name);
  }
  return names;
}

std::vector<Value> Recordset::ChangedValues() const {
  std::vector<Value> values;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (changed_[i]) values.push_back(row_[i]);
  }
  return values;
}

void Recordset::StoreNewRow() {
  BeginWrite();
  adding_ = false;
  dirty_ = false;
  const std::vector<std::string> names = ChangedNames();
  const std::vector<Value> values = ChangedValues();
  const long record = ++rows_added_;
  const std::string too_long = TooLongText(record, true);
  changed_.assign(columns_.size(), false);
  if (!eof_) row_ = saved_row_;  // the walk goes on from the row it was on
  if (!too_long.empty()) throw DbError(too_long);
  connection_.backend().InsertRow(table_, names, values, record, 0);
}

std::string Recordset::TooLongText(long record, bool added) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!changed_[i] || PassesLimit(row_[i], max_chars_[i])) continue;
    std::string refusal =
        TooLongFor(RowName(table_, record, added), columns_[i].name, row_[i], max_chars_[i]);
    if (!refusal.empty()) return refusal;
  }
  return {};
}

void Recordset::StoreRowChanges() {
  BeginWrite();
  dirty_ = false;
  const std::vector<std::string> names = ChangedNames();
  const std::vector<Value> values = ChangedValues();
  const std::string too_long = TooLongText(rows_walked_, false);
  changed_.assign(columns_.size(), false);
  try {
    if (!too_long.empty()) throw DbError(too_long);
    row_id_ = connection_.backend().UpdateRow(table_, row_id_, names, values, rows_walked_);
  } catch (const DbError&) {
    row_ = saved_row_;
    throw;
  }
}

void Recordset::FinishWrites() {
  if (!wrote_) return;
  wrote_ = false;
  connection_.backend().EndImplicit();
}

void Recordset::Close() {
  if (!open_) return;
  if (generation_ != connection_.Generation()) {
    // The connection was closed under this recordset: its cursor and any
    // write transaction ended with it.
    open_ = false;
    adding_ = dirty_ = wrote_ = false;
    if (source_) source_->Detach();
    source_.reset();
    throw DbError("the connection was closed before the recordset", sql_);
  }
  try {
    StorePending();
  } catch (...) {
    open_ = false;
    source_.reset();
    FinishWrites();
    throw;
  }
  open_ = false;
  source_.reset();
  FinishWrites();
}

RowWriter::RowWriter(Connection& connection, std::string table, std::vector<std::string> columns)
    : connection_(connection),
      table_(std::move(table)),
      columns_(std::move(columns)),
      shape_(NextWriterShape()) {
  // Columns are named as the table spells them (a server folds unquoted
  // names to lower case), whatever case the caller used.
  std::unordered_map<std::string, std::string> spelled;
  for (const ColumnInfo& column : connection_.Columns(table_)) {
    spelled[text::ToLowerAscii(column.name)] = column.name;
  }
  const auto& limits = connection_.backend().TextLimits(table_);
  for (std::string& column : columns_) {
    const std::string lower = text::ToLowerAscii(column);
    const auto found = spelled.find(lower);
    if (found == spelled.end()) throw DbError("table " + table_ + " has no column " + column);
    column = found->second;
    const auto limit = limits.find(lower);
    max_chars_.push_back(limit == limits.end() ? 0 : limit->second);
    if (max_chars_.back() != 0) limited_.push_back(max_chars_.size() - 1);
  }
}

RowWriter::~RowWriter() {
  if (!writing_) return;
  try {
    // Rows added but never declared done are rolled back with the
    // transaction the writer shares.
    connection_.backend().AbandonImplicit();
  } catch (const DbError&) {
    // The error that destroyed the writer is the report.
  }
}

void RowWriter::Add(const std::vector<Value>& values) {
  Add(values, rows_ + 1);
}

void RowWriter::Add(const std::vector<Value>& values, long record) {
  // A row refused for its texts is counted, as the rows are numbered.
  if (values.size() == columns_.size()) ++rows_;
  Check(values, record);
  Insert(values, record);
}

void RowWriter::AddChecked(const std::vector<Value>& values, long record) {
  ++rows_;
  Insert(values, record);
}

void RowWriter::Insert(const std::vector<Value>& values, long record) {
  if (!writing_) {
    connection_.backend().BeginImplicit();
    writing_ = true;
  }
  connection_.backend().InsertRow(table_, columns_, values, record, shape_);
}

void RowWriter::Check(const std::vector<Value>& values, long record) const {
  if (values.size() != columns_.size()) {
    throw DbError(std::to_string(values.size()) + " values for the " +
                  std::to_string(columns_.size()) + " columns written to table " + table_);
  }
  for (const std::size_t i : limited_) {
    if (PassesLimit(values[i], max_chars_[i])) continue;
    const std::string refusal =
        TooLongFor(RowName(table_, record, true), columns_[i], values[i], max_chars_[i]);
    if (!refusal.empty()) throw DbError(refusal);
  }
}

void RowWriter::Close() {
  if (!writing_) return;
  writing_ = false;
  connection_.backend().EndImplicit();  // stores what is buffered
}

long UpdateEach(Connection& connection, std::string_view sql,
                const std::function<bool(Recordset& row)>& change) {
  Recordset rows(connection, sql);
  long stored = 0;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    if (!change(rows)) continue;
    rows.Update();
    ++stored;
  }
  rows.Close();
  return stored;
}

}  // namespace landstat::db
