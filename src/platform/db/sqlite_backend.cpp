#include "platform/db/sqlite_backend.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sql_text.h"
#include "platform/db/sqlite_functions.h"
#include "platform/text/ascii_text.h"

namespace landstat::db {
namespace {

FieldType TypeOfDeclaration(std::string_view declared) {
  const std::string lower = text::ToLowerAscii(declared);
  if (lower.empty()) return FieldType::kUnknown;
  if (lower.find("int") != std::string::npos) return FieldType::kInteger;
  if (lower.find("char") != std::string::npos || lower.find("text") != std::string::npos ||
      lower.find("clob") != std::string::npos) {
    return FieldType::kText;
  }
  return FieldType::kDouble;  // double, float, real, number, numeric, decimal
}

// The engine's message, naming the database file it concerns.
std::string SqliteMessage(sqlite3* db) {
  const char* file = sqlite3_db_filename(db, "main");
  return std::string(file && *file ? file : "database") + ": " + sqlite3_errmsg(db);
}

// The kind of failure a result code (or an extended one) names.
DbFailure FailureOfCode(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return DbFailure::kLocked;
    case SQLITE_READONLY:
      return DbFailure::kReadOnly;
    case SQLITE_FULL:
      return DbFailure::kFull;
    case SQLITE_IOERR:
      return DbFailure::kIoError;
    default:
      return DbFailure::kOther;
  }
}

// The kind of failure of the last call on `db`.
DbFailure SqliteFailure(sqlite3* db) {
  return FailureOfCode(sqlite3_errcode(db));
}

// SQLite reads "left(" and "right(" as joins: call the Access functions by
// the names they are registered under.
std::string SqliteSpelling(std::string_view sql) {
  std::string text = RenameFunctionCalls(sql, "left", "landstat_left");
  return RenameFunctionCalls(text, "right", "landstat_right");
}

// A number or null as a parameter holds it, to the bit (0.0 and -0.0
// differ); kNone for a text, which is never taken for the one before.
struct BoundNumber {
  enum Kind : unsigned char { kNone, kNull, kInteger, kDouble };
  Kind kind = kNone;
  std::uint64_t bits = 0;
  bool operator==(const BoundNumber&) const = default;
};

BoundNumber BoundOf(const Value& value) {
  if (const double* real = value.DoubleHeld()) {
    return {BoundNumber::kDouble, std::bit_cast<std::uint64_t>(*real)};
  }
  if (const std::int64_t* integer = value.IntegerHeld()) {
    return {BoundNumber::kInteger, static_cast<std::uint64_t>(*integer)};
  }
  return {value.IsNull() ? BoundNumber::kNull : BoundNumber::kNone, 0};
}

// A statement of a connection (`owner`), which keeps a failure of the disk
// the statement meets.
class Statement {
 public:
  Statement(Backend& owner, sqlite3* db, std::string_view sql) : owner_(owner), db_(db) {
    const std::string text = SqliteSpelling(sql);
    if (sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
      Raise(DbError(SqliteMessage(db), std::string(sql), SqliteFailure(db)));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }

  // How texts are bound: copied, for a statement that is stepped after its
  // parameters are gone (a query read row by row), or borrowed, for one
  // that is stepped to its end while they last.
  enum class Texts { kCopied, kBorrowed };

  void Bind(const std::vector<Value>& params, Texts texts = Texts::kCopied) {
    sqlite3_reset(stmt_);
    const int expected = sqlite3_bind_parameter_count(stmt_);
    if (expected != static_cast<int>(params.size())) {
      throw DbError("the statement takes " + std::to_string(expected) + " parameters, " +
                        std::to_string(params.size()) + " given",
                    sqlite3_sql(stmt_));
    }
    // A value stays bound across a reset: a number or null the same as the
    // one bound before is left as it is (a fill of many rows repeats most
    // of its numbers, the zeros of its class columns), every text is bound
    // anew.
    held_.resize(expected);
    for (int i = 0; i < expected; ++i) {
      const BoundNumber number = BoundOf(params[i]);
      if (number.kind != BoundNumber::kNone && number == held_[i]) continue;
      BindOne(i + 1, params[i], number, texts);
      held_[i] = number;
    }
  }

  // Steps once; true when a row is ready.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const std::string message = SqliteMessage(db_);
    const DbFailure failure = SqliteFailure(db_);
    sqlite3_reset(stmt_);
    Raise(DbError(message, sqlite3_sql(stmt_), failure));
  }

 private:
  [[noreturn]] void Raise(const DbError& error) {
    owner_.NoteFailure(error);
    throw error;
  }

  void BindOne(int index, const Value& value, BoundNumber number, Texts texts) {
    if (number.kind == BoundNumber::kNull) {
      sqlite3_bind_null(stmt_, index);
    } else if (number.kind == BoundNumber::kInteger) {
      sqlite3_bind_int64(stmt_, index, static_cast<sqlite3_int64>(number.bits));
    } else if (number.kind == BoundNumber::kDouble) {
      sqlite3_bind_double(stmt_, index, std::bit_cast<double>(number.bits));
    } else {
      const std::string_view text = value.TextView();
      sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                        texts == Texts::kBorrowed ? SQLITE_STATIC : SQLITE_TRANSIENT);
    }
  }

  Backend& owner_;
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<BoundNumber> held_;  // per parameter, the number or null bound last
};

Value ColumnValue(sqlite3_stmt* stmt, int index, FieldType declared) {
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_NULL:
      return Value();
    case SQLITE_INTEGER:
      if (declared == FieldType::kDouble) return Value(sqlite3_column_double(stmt, index));
      return Value(static_cast<long long>(sqlite3_column_int64(stmt, index)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, index));
    default: {
      const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      return Value(std::string(bytes, sqlite3_column_bytes(stmt, index)));
    }
  }
}

class SqliteRows : public RowSource {
 public:
  SqliteRows(Backend& owner, sqlite3* db, std::string_view sql, const std::vector<Value>& params)
      : statement_(owner, db, sql) {
    statement_.Bind(params);
    sqlite3_stmt* stmt = statement_.get();
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
      ColumnInfo column;
      column.name = sqlite3_column_name(stmt, i);
      const char* declared = sqlite3_column_decltype(stmt, i);
      column.declared = declared ? declared : "";
      column.type = TypeOfDeclaration(column.declared);
      columns_.push_back(std::move(column));
    }
    // Read the first row now so that columns of computed values get the
    // type of what they hold.
    has_row_ = statement_.Step();
    for (int i = 0; i < count; ++i) {
      if (columns_[i].type != FieldType::kUnknown || !has_row_) continue;
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
          columns_[i].type = FieldType::kInteger;
          break;
        case SQLITE_FLOAT:
          columns_[i].type = FieldType::kDouble;
          break;
        case SQLITE_TEXT:
          columns_[i].type = FieldType::kText;
          break;
        default:
          break;
      }
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Fetch(std::vector<Value>& row) override {
    if (!has_row_) return false;
    sqlite3_stmt* stmt = statement_.get();
    row.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      row[i] = ColumnValue(stmt, static_cast<int>(i), columns_[i].type);
    }
    has_row_ = statement_.Step();
    return true;
  }

  bool Next() override {
    // The first row was stepped to when the statement started.
    if (started_ && has_row_) has_row_ = statement_.Step();
    started_ = true;
    return has_row_;
  }

  bool IsNull(int column) const override {
    return sqlite3_value_type(Field(column)) == SQLITE_NULL;
  }

  double Number(int column) const override {
    sqlite3_value* field = Field(column);
    if (sqlite3_value_type(field) != SQLITE_TEXT) {
      return sqlite3_value_double(field);  // null reads as 0
    }
    return NumberOfTextField(Text(column), columns_[column].name);
  }

  bool NumberUnlessNull(int column, double& value) const override {
    // One look at the field's type instead of one for IsNull and one for
    // Number.
    sqlite3_value* field = Field(column);
    switch (sqlite3_value_type(field)) {
      case SQLITE_NULL:
        return false;
      case SQLITE_TEXT:
        value = NumberOfTextField(Text(column), columns_[column].name);
        return true;
      default:
        value = sqlite3_value_double(field);
        return true;
    }
  }

  std::string_view Text(int column) const override {
    sqlite3_value* field = Field(column);
    switch (sqlite3_value_type(field)) {
      case SQLITE_TEXT:
        return {reinterpret_cast<const char*>(sqlite3_value_text(field)),
                static_cast<std::size_t>(sqlite3_value_bytes(field))};
      case SQLITE_NULL:
        return {};
      default:
        scratch_ = ColumnValue(statement_.get(), column, columns_[column].type).AsText();
        return scratch_;
    }
  }

 private:
  // The field of the current row, looked up once for its type and its value
  // (each sqlite3_column_ call looks it up again, with the connection's
  // checks around it). The value is the statement's own, valid until the
  // next step, and "unprotected" (read without the connection's mutex): the
  // connection is opened without one and used by one thread at a time, so
  // it is read as safely as through sqlite3_column_.
  sqlite3_value* Field(int column) const { return sqlite3_column_value(statement_.get(), column); }

  Statement statement_;
  std::vector<ColumnInfo> columns_;
  bool has_row_ = false;
  bool started_ = false;
  mutable std::string scratch_;
};

class SqliteBackend : public Backend {
 public:
  explicit SqliteBackend(std::string path) : path_(std::move(path)) {
    if (!std::filesystem::exists(path_)) {
      throw DbError("the database file " + path_ + " does not exist");
    }
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DbError("cannot open the database file " + path_ + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
      // Reading the schema proves that the file is a database.
      RunStatement("PRAGMA schema_version", {});
      RunStatement("PRAGMA synchronous=NORMAL", {});
      RunStatement("PRAGMA cache_size=-65536", {});
    } catch (const DbError& error) {
      // The probe's statement is cached: a connection with a statement left
      // open does not close.
      cache_.clear();
      sqlite3_close(db_);
      throw DbError("cannot open the database file " + path_ + ": " + error.what());
    }
    RegisterAccessFunctions(db_);
  }

  ~SqliteBackend() override {
    cache_.clear();
    inserts_.clear();
    // Work still open when the connection closes was never declared done:
    // it is rolled back, never committed.
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }

  DbKind Kind() const override { return DbKind::kEmbedded; }
  std::string FilePath() const override { return path_; }
  sqlite3* Handle() const { return db_; }

  std::unique_ptr<RowSource> Query(std::string_view sql,
                                   const std::vector<Value>& params) override {
    return std::make_unique<SqliteRows>(*this, db_, sql, params);
  }

  void Begin() override { RunStatement("BEGIN", {}); }
  void Commit() override { RunStatement("COMMIT", {}); }
  void Rollback() override {
    if (InTransaction()) RunStatement("ROLLBACK", {});
  }
  bool InTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }

  const char* TableNamesQuery() const override {
    return "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name";
  }

  bool TableExists(std::string_view name) override {
    Statement& statement = Cached(
        "SELECT 1 FROM sqlite_master WHERE type IN ('table','view') AND name = ? COLLATE NOCASE");
    statement.Bind({Value(Unquoted(name))});
    const bool found = statement.Step();
    sqlite3_reset(statement.get());
    return found;
  }

  std::vector<ColumnInfo> TableColumns(std::string_view table) override {
    std::vector<ColumnInfo> columns;
    SqliteRows rows(*this, db_, "PRAGMA table_info(" + QuoteName(Unquoted(table)) + ")", {});
    std::vector<Value> row;
    while (rows.Fetch(row)) {
      ColumnInfo column;
      column.name = row[1].AsText();
      column.declared = row[2].AsText();
      column.type = TypeOfDeclaration(column.declared);
      column.not_null = row[3].AsInteger() != 0;
      if (!row[4].IsNull()) column.default_text = row[4].AsText();
      column.primary_key = row[5].AsInteger() != 0;
      columns.push_back(std::move(column));
    }
    return columns;
  }

  std::string RowIdColumn() const override { return "rowid"; }
  // Read in row order, never through an index whose order an update could
  // change; an ORDER BY then sorts the rows before the first one is seen.
  std::string StableScanOf(const std::string& table) const override {
    return table + " NOT INDEXED";
  }

  void InsertRow(const std::string& table, const std::vector<std::string>& columns,
                 const std::vector<Value>& values, long record, std::uint64_t shape) override {
    RunRowStatement(InsertStatement(table, columns, shape), values, table, record, true);
  }

  Value UpdateRow(const std::string& table, const Value& row_id,
                  const std::vector<std::string>& columns, const std::vector<Value>& values,
                  long record) override {
    std::string sql = "UPDATE " + table + " SET ";
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sql += (i ? "," : "") + QuoteName(columns[i]) + "=?";
    }
    sql += " WHERE rowid=?";
    std::vector<Value> params = values;
    params.push_back(row_id);
    if (RunRowStatement(Cached(sql), params, table, record, false) != 1) {
      throw DbError(RowName(table, record, false) + " is no longer in the table");
    }
    return row_id;
  }

 protected:
  long RunStatement(const std::string& sql, const std::vector<Value>& params) override {
    return Run(Cached(sql), params);
  }

  // Runs a prepared statement to its end; the rows it changed.
  long Run(Statement& statement, const std::vector<Value>& params) {
    // Stepped to its end here, while the parameters last: their texts are
    // bound without a copy.
    statement.Bind(params, Statement::Texts::kBorrowed);
    // Counted by difference: a statement that changes no rows (a create, a
    // drop) must not report the count of the one before it.
    const sqlite3_int64 before = sqlite3_total_changes64(db_);
    while (statement.Step()) {
    }
    sqlite3_reset(statement.get());
    return static_cast<long>(sqlite3_total_changes64(db_) - before);
  }

  std::string CreateTableLike(const std::string& target, const std::string& source) override {
    std::string sql = "CREATE TABLE " + target + " (";
    bool first = true;
    for (const ColumnInfo& column : TableColumns(source)) {
      sql += (first ? "" : ", ") + QuoteName(column.name) + " " + column.declared;
      if (column.default_text) sql += " DEFAULT " + *column.default_text;
      // A numbering column stays one, as on the server.
      if (column.primary_key && text::IEquals(column.declared, "INTEGER")) sql += " PRIMARY KEY";
      first = false;
    }
    return sql + ")";
  }

  std::string RewriteTypeWords(const std::string& sql) override {
    // "ID INTEGER NOT NULL primary key" is SQLite's own numbering column.
    return ReplaceIdentityColumn(sql, "INTEGER");
  }

 private:
  // Runs the statement that stores one row of a recordset; a refusal names
  // the row.
  long RunRowStatement(Statement& statement, const std::vector<Value>& params,
                       const std::string& table, long record, bool added) {
    try {
      return Run(statement, params);
    } catch (const DbError& error) {
      throw DbError(RowName(table, record, added) + " was refused: " + error.what(),
                    error.Failure());
    }
  }

  static std::string Unquoted(std::string_view name) {
    std::string text = text::Trim(name);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '[')) {
      text = text.substr(1, text.size() - 2);
    }
    return text;
  }

  // A fill adds row after row of the same columns, and may fill a few
  // tables at once, or rows of a few sets of columns (a recordset writes
  // only the fields it set): the statement of each is written once, not per
  // row. The one used last is kept longest. A row of the same shape as the
  // one before takes its statement without comparing a hundred names.
  Statement& InsertStatement(const std::string& table, const std::vector<std::string>& columns,
                             std::uint64_t shape) {
    if (shape != 0 && !inserts_.empty() && inserts_.back().shape == shape) {
      return *inserts_.back().statement;
    }
    for (auto entry = inserts_.rbegin(); entry != inserts_.rend(); ++entry) {
      if (entry->table != table || entry->columns != columns) continue;
      if (shape != 0) entry->shape = shape;
      std::rotate(entry.base() - 1, entry.base(), inserts_.end());
      return *inserts_.back().statement;
    }
    std::string sql = "INSERT INTO " + table + " (";
    std::string marks;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sql += (i ? "," : "") + QuoteName(columns[i]);
      marks += i ? ",?" : "?";
    }
    sql += ") VALUES (" + marks + ")";
    if (columns.empty()) sql = "INSERT INTO " + table + " DEFAULT VALUES";
    constexpr std::size_t kKept = 16;
    if (inserts_.size() >= kKept) inserts_.erase(inserts_.begin());
    inserts_.push_back({table, columns, shape, std::make_unique<Statement>(*this, db_, sql)});
    return *inserts_.back().statement;
  }

  Statement& Cached(const std::string& sql) {
    auto found = cache_.find(sql);
    if (found != cache_.end()) return *found->second;
    if (cache_.size() >= 256) cache_.clear();
    auto inserted = cache_.emplace(sql, std::make_unique<Statement>(*this, db_, sql));
    return *inserted.first->second;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<Statement>> cache_;
  // The statement of the last rows added, prepared once for all of them.
  struct InsertEntry {
    std::string table;
    std::vector<std::string> columns;
    std::uint64_t shape = 0;  // the writer that used it last, where it named one
    std::unique_ptr<Statement> statement;
  };
  std::vector<InsertEntry> inserts_;  // the oldest first
};

}  // namespace

void PrepareSqlite() {
  static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  static_cast<void>(configured);
}

std::unique_ptr<Backend> OpenSqlite(const std::string& path) {
  PrepareSqlite();
  return std::make_unique<SqliteBackend>(path);
}

void CreateSqliteFile(const std::string& path) {
  const std::filesystem::path file(path);
  if (file.has_parent_path() && !std::filesystem::is_directory(file.parent_path())) {
    throw DbError("cannot create the database file " + path + ": its folder does not exist");
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    throw DbError("cannot create the database file " + path + ": " + std::strerror(errno));
  }
  ::close(fd);
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  // Writing the header makes the new file a database that any tool opens.
  const int written =
      rc == SQLITE_OK ? sqlite3_exec(db, "PRAGMA user_version=0; VACUUM", nullptr, nullptr, nullptr)
                      : rc;
  const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
  sqlite3_close(db);
  if (written != SQLITE_OK) {
    std::filesystem::remove(file);
    throw DbError("cannot create the database file " + path + ": " + message);
  }
}

void CopyDatabase(Connection& source, const std::string& target) {
  auto* from = dynamic_cast<SqliteBackend*>(&source.backend());
  if (!from) throw DbError(source.Location() + " is no SQLite file to copy");
  sqlite3* to = nullptr;
  int rc =
      sqlite3_open_v2(target.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  // A copy that fails is thrown away: it needs no journal while it is made.
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(to, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr,
                      nullptr);
  }
  if (rc == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from->Handle(), "main");
    rc = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(to);
    const int finished = backup ? sqlite3_backup_finish(backup) : rc;
    rc = rc == SQLITE_DONE ? finished : rc;
  }
  // The copy takes the source's header, WAL mode too; it goes back to the
  // rollback journal, which needs no files beside it once it is closed.
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(to, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  }
  const std::string message = rc == SQLITE_OK ? "" : sqlite3_errstr(rc);
  sqlite3_close(to);
  if (rc != SQLITE_OK) {
    throw DbError("cannot copy " + from->FilePath() + " to " + target + ": " + message,
                  FailureOfCode(rc));
  }
}

bool WriteBackLog(Connection& database) {
  return database.Scalar("PRAGMA wal_checkpoint(TRUNCATE)").AsInteger() == 0;
}

bool WriteBackLog(const std::string& file, std::string& error) {
  std::error_code unreadable;
  if (!std::filesystem::exists(file + "-wal", unreadable)) return true;
  try {
    Connection database(file);
    if (WriteBackLog(database)) return true;
    error = file +
            " is in use by another program, which keeps its write-ahead log from being "
            "written back";
  } catch (const DbError& failure) {
    error = failure.what();
  }
  return false;
}

std::string ScratchPrefix(const std::string& file) {
  constexpr std::string_view kWorking = ".working";
  const bool working = file.size() > kWorking.size() &&
                       file.compare(file.size() - kWorking.size(), kWorking.size(), kWorking) == 0;
  return working ? file : file + std::string(kWorking);
}

std::string ScratchPath(const std::string& file, const std::string& tag) {
  return ScratchPrefix(file) + "-" + tag;
}

void RemoveScratchFiles(const std::string& file) {
  // The prefix of the file's own working copy, never the file's name.
  const std::filesystem::path prefix(file + ".working");
  const std::string name = prefix.filename().string();
  const std::filesystem::path folder = prefix.has_parent_path() ? prefix.parent_path() : ".";
  std::error_code failed;
  std::vector<std::filesystem::path> found;
  for (std::filesystem::directory_iterator entry(folder, failed), end; !failed && entry != end;
       entry.increment(failed)) {
    const std::string entry_name = entry->path().filename().string();
    if (entry_name == name || entry_name.rfind(name + "-", 0) == 0) found.push_back(entry->path());
  }
  for (const std::filesystem::path& path : found) std::filesystem::remove(path, failed);
}

}  // namespace landstat::db
