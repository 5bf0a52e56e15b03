#include "platform/db/postgres_backend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/db/db_error.h"
#include "platform/db/moved_row_ids.h"
#include "platform/db/postgres_compat.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sql_text.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat::db {
namespace {

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// Set on the threads that store batches in the background: the statements
// they send do not wait for the stores.
thread_local bool tStoringThread = false;

constexpr int kFetchRows = 2000;
constexpr int kMaxBufferedRows = 1000;
constexpr int kMaxParameters = 60000;
// A batch whose rows all set every column goes by one COPY, which has no
// parameter limit: it holds this many values (some ten megabytes, some
// 60 ms of the server's work). Each batch costs four waits for the server
// (its savepoint, the COPY's start and end, the release), which on a busy
// machine cost as much as storing a few thousand rows: a batch of this size
// keeps them small beside its rows, while the server and the client are
// still busy at once and the client waits, at the end of a table, only for
// the last one.
constexpr std::size_t kMaxCopiedValues = 800000;

FieldType TypeOfOid(Oid oid) {
  switch (oid) {
    case 16:
    case 20:
    case 21:
    case 23:
    case 26:  // bool, int8, int2, int4, oid
      return FieldType::kInteger;
    case 700:
    case 701:
    case 1700:  // float4, float8, numeric
      return FieldType::kDouble;
    default:
      return FieldType::kText;
  }
}

FieldType TypeOfDeclaration(std::string_view declared) {
  const std::string lower = text::ToLowerAscii(declared);
  if (lower == "integer" || lower == "bigint" || lower == "smallint" || lower == "boolean") {
    return FieldType::kInteger;
  }
  if (lower == "double precision" || lower == "real" || lower.rfind("numeric", 0) == 0) {
    return FieldType::kDouble;
  }
  return FieldType::kText;
}

// A number field's text as a double, as strtod reads it (both round
// to the nearest double): from_chars reads the usual forms several times
// faster, strtod the rest ("Infinity", say).
double DoubleOfText(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) return value;
  return std::strtod(std::string(text).c_str(), nullptr);
}

// A field's text as a cursor gives its value: a number column's as its
// number (a boolean's 't' as 1), any other's as the text.
Value ValueOfText(std::string_view text, FieldType type, bool boolean) {
  switch (type) {
    case FieldType::kInteger:
      if (boolean) return Value(text.starts_with('t') ? 1 : 0);
      return Value(std::strtoll(std::string(text).c_str(), nullptr, 10));
    case FieldType::kDouble:
      return Value(DoubleOfText(text));
    default:
      return Value(std::string(text));
  }
}

Value ParseValue(const PGresult* result, int row, int column, FieldType type, Oid oid) {
  if (PQgetisnull(result, row, column)) return Value();
  return ValueOfText(std::string_view(PQgetvalue(result, row, column),
                                      static_cast<std::size_t>(PQgetlength(result, row, column))),
                     type, oid == 16);
}

// Whether a cursor reads a column declared so (TypeOfDeclaration) from its
// text as ValueOfText does: numbers, booleans and texts, not arrays, nor a
// type of another name (a domain, an oid) whose kind the declaration does
// not tell.
bool ReadAsDeclared(std::string_view declared) {
  static const std::set<std::string_view> kNamed = {
      "double precision", "real", "numeric", "smallint",  "integer",          "bigint",
      "boolean",          "text", "bpchar",  "character", "character varying"};
  if (declared.find('[') != std::string_view::npos) return false;
  return kNamed.count(declared.substr(0, declared.find('('))) != 0;
}

// What a COPY sent: its rows, each as libpq gives it (a row a piece), kept
// until this goes.
struct CopiedPieces {
  std::vector<std::unique_ptr<char, decltype(&PQfreemem)>> owned;
  std::vector<std::string_view> rows;
};

// The rows of a COPY in text form (a row a line, its fields parted by
// tabs, \N for null, a backslash before a tab, line break or backslash of
// a text), read whole before the first row is given; each field reads as
// a cursor reads the same text.
class PostgresCopiedRows : public RowSource {
 public:
  PostgresCopiedRows(CopiedPieces pieces, std::vector<ColumnInfo> columns)
      : pieces_(std::move(pieces)),
        columns_(std::move(columns)),
        fields_(columns_.size()),
        nulls_(columns_.size()),
        unescaped_(columns_.size()) {
    for (const ColumnInfo& column : columns_) booleans_.push_back(column.declared == "boolean");
  }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Fetch(std::vector<Value>& row) override {
    if (!Next()) return false;
    row.resize(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) row[c] = ValueOf(static_cast<int>(c));
    return true;
  }
  bool Next() override {
    if (next_ >= pieces_.rows.size()) return false;
    std::string_view row = pieces_.rows[next_++];
    if (row.empty() || row.back() != '\n') Malformed();
    row.remove_suffix(1);
    // A tab always parts two fields: one within a text is sent as \t.
    const bool escaped = row.find('\\') != std::string_view::npos;
    std::size_t at = 0;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::size_t tab = row.find('\t', at);
      const bool last = c + 1 == columns_.size();
      if (last != (tab == std::string_view::npos)) Malformed();
      const std::string_view field = row.substr(at, last ? row.size() - at : tab - at);
      nulls_[c] = field == "\\N";
      fields_[c] = nulls_[c] ? std::string_view() : escaped ? Unescaped(field, c) : field;
      at = tab + 1;
    }
    return true;
  }
  bool IsNull(int column) const override { return nulls_[column] != 0; }
  double Number(int column) const override {
    if (IsNull(column)) return 0.0;
    if (columns_[column].type == FieldType::kText) {
      return NumberOfTextField(fields_[column], columns_[column].name);
    }
    return ValueOf(column).AsDouble();
  }
  bool NumberUnlessNull(int column, double& value) const override {
    if (IsNull(column)) return false;
    value = columns_[column].type == FieldType::kDouble ? DoubleOfText(fields_[column])
                                                        : Number(column);
    return true;
  }
  std::string_view Text(int column) const override {
    if (IsNull(column) || columns_[column].type == FieldType::kText) return fields_[column];
    scratch_ = ValueOf(column).AsText();
    return scratch_;
  }

 private:
  // A field with its backslashes undone, when it holds any.
  std::string_view Unescaped(std::string_view field, std::size_t c) {
    if (field.find('\\') == std::string_view::npos) return field;
    std::string& text = unescaped_[c];
    text.clear();
    static constexpr std::string_view kEscapes("b\bf\fn\nr\rt\tv\v");
    for (std::size_t i = 0; i < field.size(); ++i) {
      if (field[i] != '\\') {
        text += field[i];
        continue;
      }
      if (++i == field.size()) Malformed();
      const std::size_t known = kEscapes.find(field[i]);
      text += known != std::string_view::npos && known % 2 == 0 ? kEscapes[known + 1] : field[i];
    }
    return text;
  }
  Value ValueOf(int column) const {
    if (IsNull(column)) return Value();
    return ValueOfText(fields_[column], columns_[column].type, booleans_[column]);
  }
  [[noreturn]] static void Malformed() {
    throw DbError("the server sent the rows of a table in a form not expected here");
  }

  const CopiedPieces pieces_;
  const std::vector<ColumnInfo> columns_;
  std::vector<bool> booleans_;
  std::size_t next_ = 0;  // the row Next reads next
  std::vector<std::string_view> fields_;
  std::vector<char> nulls_;
  std::vector<std::string> unescaped_;  // the texts of the current row that held backslashes
  mutable std::string scratch_;
};

// A value as text for the server: doubles exactly, the rest as they read.
std::string ParamText(const Value& value) {
  return value.IsDouble() ? text::ExactDoubleText(value.AsDouble()) : value.AsText();
}

// A value as an element of an array's text: NULL, or its text quoted, with
// quotes and backslashes escaped.
void AppendArrayElement(std::string& out, const Value& value) {
  if (value.IsNull()) {
    out += "NULL";
    return;
  }
  out += '"';
  for (const char ch : ParamText(value)) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  out += '"';
}

// A value in COPY's text format: \N for null, with backslash, tab and line
// breaks escaped.
void AppendCopyField(std::string& out, const Value& value) {
  if (value.IsNull()) {
    out += "\\N";
    return;
  }
  if (value.IsDouble()) {  // written in place: numbers need no escapes
    const double number = value.AsDouble();
    // Most figures of a row are 0, which needs no conversion (-0 does).
    if (number == 0 && !std::signbit(number)) {
      out += '0';
      return;
    }
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, number);
    out.append(buffer, written.ptr);
    return;
  }
  const std::string held = value.IsText() ? std::string() : value.AsText();
  const std::string_view text = value.IsText() ? value.TextView() : std::string_view(held);
  // Text between the characters to escape goes in whole.
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* escaped = nullptr;
    switch (text[i]) {
      case '\\':
        escaped = "\\\\";
        break;
      case '\t':
        escaped = "\\t";
        break;
      case '\n':
        escaped = "\\n";
        break;
      case '\r':
        escaped = "\\r";
        break;
      default:
        continue;
    }
    out.append(text.data() + start, i - start);
    out += escaped;
    start = i + 1;
  }
  out.append(text.data() + start, text.size() - start);
}

// What the server stores in a column that an insert leaves out, where COPY
// may leave it out of every row holding just that: a null, in a column
// without a default; a figure, in a double precision column whose default
// is a constant number (`defaults`, as ConstantDefaults reads them).
// Nothing for any other column.
std::optional<Value> StoredWhenLeftOut(const ColumnInfo& column,
                                       const std::map<std::string, Value>& defaults) {
  if (!column.default_text) return column.not_null ? std::nullopt : std::optional<Value>(Value());
  if (text::ToLowerAscii(column.declared) != "double precision") return std::nullopt;
  const auto found = defaults.find(column.name);
  if (found == defaults.end() || found->second.IsNull()) return std::nullopt;
  const std::string text = found->second.AsText();
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') return std::nullopt;
  return Value(number);
}

// Whether `value` is what the server stores as `stored`: both null, or the
// same figure to the bit (0 is not -0).
bool SameStored(const Value& value, const Value& stored) {
  if (stored.IsNull() || value.IsNull()) return stored.IsNull() && value.IsNull();
  return value.IsDouble() && stored.IsDouble() &&
         std::bit_cast<std::uint64_t>(value.AsDouble()) ==
             std::bit_cast<std::uint64_t>(stored.AsDouble());
}

// PostgreSQL looks in its own catalogue before any other schema: its round
// (halves to even) and format (a printf) would win over the Access ones, so
// calls of those two name the compatibility schema.
std::string PostgresSpelling(const std::string& sql) {
  const std::string text = RenameFunctionCalls(sql, "round", "landstat_compat.round");
  return RenameFunctionCalls(text, "format", "landstat_compat.format");
}

// The name a table is stored under: unquoted names fold to lower case.
std::string StoredName(std::string_view name) {
  std::string text = text::Trim(name);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text::ToLowerAscii(text);
}

// The kind of a failed result's failure, from its SQLSTATE.
DbFailure FailureOf(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string_view code = state ? state : "";
  if (code == "53100") return DbFailure::kFull;      // disk_full
  if (code == "58030") return DbFailure::kIoError;   // io_error
  if (code == "25006") return DbFailure::kReadOnly;  // read_only_sql_transaction
  if (code == "55P03" || code == "40P01") {
    return DbFailure::kLocked;  // lock_not_available, deadlock_detected
  }
  return DbFailure::kOther;
}

class PostgresBackend;

class PostgresRows : public RowSource {
 public:
  PostgresRows(PostgresBackend& backend, std::string_view sql, const std::vector<Value>& params);
  ~PostgresRows() override;
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Fetch(std::vector<Value>& row) override;
  bool Next() override;
  bool IsNull(int column) const override { return PQgetisnull(block_.get(), row_, column); }
  double Number(int column) const override;
  std::string_view Text(int column) const override;
  void Detach() override { cursor_.clear(); }

 private:
  void FetchBlock();
  // Moves to the next row of the block, fetching the next block when this
  // one is read; false at the end.
  bool Advance();

  PostgresBackend& backend_;
  std::string cursor_;
  ResultPtr block_{nullptr, &PQclear};
  int next_ = 0;
  bool finished_ = false;
  std::vector<ColumnInfo> columns_;
  std::vector<Oid> oids_;
  int row_ = 0;  // the row Next moved to
  mutable std::string scratch_;
};

// Rows as a COPY statement and its data in the text format.
struct CopyText {
  std::string statement, data;
};

// Rows written through recordsets are kept in a batch and stored by one
// statement per batch: an insert of many rows, or an update joined to a list
// of values by row id. A batch that fails is rolled back to its savepoint and
// stored again row by row, so that every row the server accepts is kept and
// the error names each row it refused.
struct WriteBatch {
  std::string table;
  std::vector<std::string> columns;
  std::unordered_map<std::string, std::size_t> column_index;  // inserts: place of a column
  bool update = false;
  std::vector<std::vector<Value>> rows;
  // Inserts: which columns a row sets; empty while every row sets every
  // column (all_given).
  std::vector<std::vector<bool>> given;
  bool all_given = true;
  bool Given(std::size_t row, std::size_t column) const { return all_given || given[row][column]; }
  // The writer shape (Backend::InsertRow) whose rows set exactly `columns`,
  // 0 when none is known.
  std::uint64_t shape = 0;
  std::vector<long> records;  // the recordset's number of each row
  // New rows: every row as COPY takes it, when made ahead of the store.
  std::optional<CopyText> copy;
  std::vector<std::string> row_ids;
  std::unordered_map<std::string, std::size_t> position_of_id;
};

// Opens a session. A server still counts a session a moment after its
// client left it (PQfinish does not wait for the server's end of it), so a
// role or server at its connection limit may refuse a new one for "too many
// connections" just after one of the job's own was closed: such a refusal
// is tried again, a bounded number of times with a short, growing wait.
PGconn* ConnectWithRetry(const std::string& conninfo) {
  constexpr int kAttempts = 10;
  constexpr auto kLongestWait = std::chrono::milliseconds(200);
  auto wait = std::chrono::milliseconds(20);
  for (int attempt = 1;; ++attempt) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (attempt == kAttempts || !conn || PQstatus(conn) == CONNECTION_OK ||
        std::string_view(PQerrorMessage(conn)).find("too many connections") ==
            std::string_view::npos) {
      return conn;
    }
    PQfinish(conn);
    std::this_thread::sleep_for(wait);
    wait = std::min(wait * 2, kLongestWait);
  }
}

class PostgresBackend : public Backend {
 public:
  explicit PostgresBackend(const std::string& conninfo) : conn_(ConnectWithRetry(conninfo)) {
    // Every way out of here without a working connection ends the session,
    // or each failed open would leave one behind on the server.
    try {
      if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        throw DbError("cannot connect to the PostgreSQL server (" +
                      DescribePostgresServer(conninfo) +
                      "): " + text::Trim(conn_ ? PQerrorMessage(conn_) : "out of memory"));
      }
      if (PQsetClientEncoding(conn_, "UTF8") != 0) {
        throw DbError(
            "the PostgreSQL server (" + DescribePostgresServer(conninfo) +
            ") does not accept the UTF8 client encoding: " + text::Trim(PQerrorMessage(conn_)));
      }
      PQsetNoticeProcessor(
          conn_, [](void*, const char*) {}, nullptr);
      InstallCompatFunctions();
      // A scan of a table starts at its first page, never where another
      // session's scan of the same table has got to (the job's own readers
      // run beside it): a sum over a table's rows adds them in the order the
      // table holds them, the same figures on every run.
      Exec(
          "SELECT set_config('search_path', current_setting('search_path') || "
          "', landstat_compat', false), set_config('synchronize_seqscans', 'off', false)");
      // The statements' expressions run a hundred columns wide over some
      // hundred thousand rows, where compiling them to machine code costs
      // far more than it saves (the building-density script: 17 s of
      // compiling for under a second of work): this session interprets them.
      Exec("SELECT set_config('jit', 'off', false) WHERE current_setting('jit', true) IS NOT NULL");
    } catch (...) {
      PQfinish(conn_);
      conn_ = nullptr;
      throw;
    }
  }

  // Closing ends the session: the server rolls back whatever is open, and
  // writes still buffered were never stored. Nothing is committed here.
  ~PostgresBackend() override {
    SettleStore();
    PQfinish(conn_);
  }

  DbKind Kind() const override { return DbKind::kServer; }
  std::optional<DbError> Lost() const override {
    JoinStore();
    if (lost_ || PQstatus(conn_) != CONNECTION_BAD) return lost_;
    return DbError("the connection to the PostgreSQL server (" + Location() + ") was lost",
                   DbFailure::kConnectionLost);
  }
  std::string Location() const override {
    JoinStore();
    return std::string("host ") + PQhost(conn_) + " port " + PQport(conn_) + " database " +
           PQdb(conn_);
  }

  std::unique_ptr<RowSource> Query(std::string_view sql,
                                   const std::vector<Value>& params) override {
    Flush();
    return std::make_unique<PostgresRows>(*this, sql, params);
  }

  // A table whose every column a cursor reads from its text as the
  // column's declaration says (ReadAsDeclared) comes by one COPY, its
  // numbers read by the faster way of DoubleOfText. The COPY's query runs
  // in one process, as a cursor's does, so that the rows come in the
  // order a cursor gives them. Within a transaction, which a failing COPY
  // would end, and for other columns, the table is read through a cursor.
  std::unique_ptr<RowSource> ScanTable(std::string_view table) override {
    const std::string select = "select * from " + QuoteName(StoredName(table));
    if (InTransaction()) return Query(select, {});
    std::vector<ColumnInfo> columns = ColumnsOf(table);
    const auto read = [](const ColumnInfo& column) { return ReadAsDeclared(column.declared); };
    if (columns.empty() || !std::all_of(columns.begin(), columns.end(), read)) {
      return Query(select, {});
    }
    Flush();
    const ParallelReading serial(*this, 0);
    return std::make_unique<PostgresCopiedRows>(ReadCopy("COPY (" + select + ") TO STDOUT"),
                                                std::move(columns));
  }

  // A query read through a cursor never gets parallel workers, and a
  // scalar is mostly a count or a sum over a whole table: it runs as a
  // statement of its own instead, cut to its first row, and a sum in one
  // process (InOneProcessIfItAdds).
  Value Scalar(std::string_view sql, const std::vector<Value>& params) override {
    Flush();
    std::string text = PostgresSpelling(std::string(sql));
    while (!text.empty() &&
           (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back())))) {
      text.pop_back();  // a statement's end, which a subquery must not hold;
                        // a closing comment is ended by the line break below
    }
    const std::optional<ParallelReading> workers = InOneProcessIfItAdds(text);
    ResultPtr result =
        ExecGuarded("SELECT * FROM (" + (params.empty() ? text : NumberParameterMarks(text)) +
                        "\n) AS landstat_scalar LIMIT 1",
                    params);
    if (PQntuples(result.get()) == 0 || PQnfields(result.get()) == 0) return Value();
    const Oid oid = PQftype(result.get(), 0);
    return ParseValue(result.get(), 0, 0, TypeOfOid(oid), oid);
  }

  // The server plans parallel workers for the query of a CREATE TABLE AS,
  // never for an INSERT's. Inside a transaction (a run's) the rows are
  // therefore made by parallel workers: straight into a new table that
  // takes the place of the target when the target is an empty table of this
  // transaction's own that nothing else hangs on (ReplaceByCreateAs), else
  // into a scratch table of the session, then copied into the target in
  // their order. A grouping of a million rows is stored some three times
  // faster than by the INSERT alone; made anew, its rows are written once
  // instead of twice. Outside a transaction the INSERT runs as it stands.
  long InsertSelect(const std::string& target, const std::vector<std::string>& columns,
                    const std::string& select) override {
    if (!InTransaction() || columns.empty()) return Backend::InsertSelect(target, columns, select);
    if (const std::optional<long> stored = ReplaceByCreateAs(target, columns, select)) {
      return *stored;
    }
    std::string names, aliases;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      names += (i ? "," : "") + columns[i];
      aliases += (i ? ",c" : "c") + std::to_string(i);
    }
    Execute("DROP TABLE IF EXISTS pg_temp.landstat_rows", {});
    {
      const ParallelReading parallel(*this, WorkersToFill(select));
      Execute("CREATE TEMPORARY TABLE landstat_rows AS SELECT * FROM (" + select +
                  ") AS landstat_select(" + aliases + ")",
              {});
    }
    long stored = 0;
    try {
      stored =
          Execute("INSERT INTO " + target + " (" + names + ") SELECT * FROM landstat_rows", {});
    } catch (const DbError&) {
      DropScratchRows();
      throw;
    }
    Execute("DROP TABLE landstat_rows", {});
    return stored;
  }

  void Begin() override {
    Flush();
    Exec("BEGIN");
  }
  void Commit() override {
    Flush();
    // The server answers COMMIT of a transaction a failed statement broke
    // by rolling it back: that is a failure, never a commit.
    if (PQtransactionStatus(conn_) == PQTRANS_INERROR) {
      throw DbError(
          "a statement of the transaction failed, so the transaction cannot be committed");
    }
    ResultPtr result = Exec("COMMIT");
    if (std::string_view(PQcmdStatus(result.get())) != "COMMIT") {
      throw DbError(std::string("the server did not commit the transaction: ") +
                    PQcmdStatus(result.get()));
    }
    moved_ids_.Clear();  // the walks that knew the old ids are over
  }
  void Rollback() override {
    SettleStore();  // its rows go with the transaction
    ReleaseStored();
    batch_ = WriteBatch();
    moved_ids_.Clear();  // the rows are back under their old ids
    if (InTransaction()) Exec("ROLLBACK");
  }
  bool InTransaction() const override {
    JoinStore();
    return PQtransactionStatus(conn_) != PQTRANS_IDLE;
  }

  void DiscardPending() override {
    SettleStore();  // its rows go with the savepoint the caller rolls back to
    ReleaseStored();
    batch_ = WriteBatch();
    moved_ids_.UndoToSavepoint();  // later updates are undone, so are their ids
  }
  void MarkSavepoint() override { moved_ids_.MarkSavepoint(); }

  bool TableExists(std::string_view name) override { return RelationOid(name) != 0; }
  std::string StoredTableName(std::string_view name) const override { return StoredName(name); }

  const char* TableNamesQuery() const override {
    return "SELECT tablename FROM pg_tables WHERE schemaname = current_schema() ORDER BY tablename";
  }

  std::vector<ColumnInfo> TableColumns(std::string_view table) override {
    Flush();
    return ColumnsOf(table);
  }

  // The columns of a table, read while rows of this connection may wait to
  // be stored.
  std::vector<ColumnInfo> ColumnsOf(std::string_view table) {
    const unsigned oid = RelationOid(table);
    std::vector<ColumnInfo> columns;
    if (oid == 0) return columns;
    for (StoredColumn& column : StoredColumns(oid)) columns.push_back(std::move(column.info));
    return columns;
  }

  std::string RowIdColumn() const override { return "ctid"; }

  void InsertRow(const std::string& table, const std::vector<std::string>& columns,
                 const std::vector<Value>& values, long record, std::uint64_t shape) override {
    // The common case: a row of the writer whose rows the batch holds, known
    // by its shape without comparing table and column names.
    const bool same_writer = shape != 0 && batch_.shape == shape && !batch_.rows.empty();
    // Rows of one table share a batch even when they set different columns:
    // the batch takes the union, and a row stores DEFAULT where it set none.
    if (!same_writer && !batch_.rows.empty() && (batch_.update || batch_.table != table)) Flush();
    batch_.table = table;
    if (same_writer || (!batch_.rows.empty() && batch_.columns == columns)) {
      // The same columns as the rows before.
      batch_.shape = shape;
      batch_.rows.push_back(SpareRow());
      batch_.rows.back().assign(values.begin(), values.end());
      if (!batch_.all_given) batch_.given.emplace_back(columns.size(), true);
      batch_.records.push_back(record);
      if (BatchFull()) StoreInBackground();
      return;
    }
    const bool first = batch_.rows.empty();
    batch_.shape = 0;  // the batch's columns may now be a union of several writers'
    if (batch_.all_given && batch_.given.size() < batch_.rows.size()) {
      batch_.given.assign(batch_.rows.size(), std::vector<bool>(batch_.columns.size(), true));
    }
    std::vector<Value> row(batch_.columns.size());
    std::vector<bool> given(batch_.columns.size(), false);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto [at, added] = batch_.column_index.emplace(columns[i], batch_.columns.size());
      const std::size_t index = at->second;
      if (added) {
        batch_.all_given = batch_.all_given && first;
        batch_.columns.push_back(columns[i]);
        for (auto& earlier : batch_.rows) earlier.emplace_back();
        for (auto& earlier : batch_.given) earlier.push_back(false);
        row.emplace_back();
        given.push_back(false);
      }
      row[index] = values[i];
      given[index] = true;
    }
    batch_.all_given = batch_.all_given && columns.size() == batch_.columns.size();
    batch_.rows.push_back(std::move(row));
    batch_.given.push_back(std::move(given));
    if (batch_.all_given) batch_.given.clear();
    batch_.records.push_back(record);
    if (BatchFull()) StoreInBackground();
  }

  Value UpdateRow(const std::string& table, const Value& row_id,
                  const std::vector<std::string>& columns, const std::vector<Value>& values,
                  long record) override {
    AwaitStore();
    if (!batch_.rows.empty() &&
        (!batch_.update || batch_.table != table || batch_.columns != columns)) {
      Flush();
    }
    const std::string id = moved_ids_.Current(table, row_id.AsText());
    WriteBatch& batch = batch_;
    batch.table = table;
    batch.columns = columns;
    batch.update = true;
    if (auto pending = batch.position_of_id.find(id); pending != batch.position_of_id.end()) {
      batch.rows[pending->second] = values;  // a second update of a row not yet stored
      batch.records[pending->second] = record;
    } else {
      batch.position_of_id.emplace(id, batch.rows.size());
      batch.rows.push_back(values);
      batch.row_ids.push_back(id);
      batch.records.push_back(record);
    }
    if (BatchFull()) Flush();
    return Value(id);
  }

  void Flush() override {
    if (tStoringThread) return;  // the caller's batch is the caller's to store
    AwaitStore();
    ReleaseStored();
    if (batch_.rows.empty()) return;
    WriteBatch batch = TakeBatch();
    StoreWhole(batch);
  }

  // Frees what the last batches stored in the background held, once no
  // more rows of their kind follow. Only while no store runs.
  void ReleaseStored() {
    spare_rows_.clear();
    spare_copy_ = std::string();
  }

  // A batch stored in the background, and what its store left.
  struct BackgroundStore {
    WriteBatch batch;
    std::thread thread;  // makes its COPY text, then sends it unless a thread sends already
    bool made = false;   // its COPY text is made, or is not to be made
    bool stored = false;
    std::exception_ptr failure;
  };

  // A full batch is stored by a thread of its own while the caller makes
  // the next one, so that the server inserts while the client computes.
  // Whatever else uses the connection waits for the stores first, and a
  // failure one met is raised there (as a failure of a batch stored at the
  // next flush always was). Where no thread can be started the batch is
  // stored from here.
  void StoreInBackground() {
    // Batches of new rows run two at once: while one is stored, the next
    // one's thread makes its COPY text, and the caller fills a third. The
    // thread that stores a batch goes on with the next one when its text is
    // made, so that the server goes from one batch to the next without
    // waiting for the client. Such a store only reads what is known of its
    // table, which is learnt here before it starts; one of updates may
    // learn of its table, so it runs alone.
    const bool beside = !batch_.update && default_cache_.count(batch_.table) &&
                        std::none_of(stores_.begin(), stores_.end(),
                                     [](const auto& store) { return store->batch.update; });
    AwaitStore(beside ? 1 : 0);
    if (!batch_.update) ConstantDefaults(batch_.table);
    auto store = std::make_unique<BackgroundStore>();
    store->batch = TakeBatch();
    BackgroundStore& started = *store;
    bool format_first = false;
    {
      std::lock_guard lock(store_mutex_);
      format_first = started.batch.rows.size() > 1 &&
                     std::any_of(stores_.begin(), stores_.end(),
                                 [](const auto& before) { return !before->stored; });
      stores_.push_back(std::move(store));
    }
    std::string storage = format_first ? std::move(spare_copy_) : std::string();
    try {
      started.thread =
          std::thread([this, &started, format_first, storage = std::move(storage)]() mutable {
            tStoringThread = true;
            MakeAndSend(started, format_first ? &storage : nullptr);
          });
    } catch (const std::system_error&) {
      tStoringThread = true;  // its statements must not wait for the stores
      MakeAndSend(started, nullptr);
      tStoringThread = false;
    }
  }

  // Makes a batch's COPY text in `storage`, when given; then, unless a
  // thread sends batches already (which goes on with this one), sends the
  // batches made, oldest first.
  void MakeAndSend(BackgroundStore& store, std::string* storage) {
    try {
      if (storage) store.batch.copy = FormatCopy(store.batch, std::move(*storage));
    } catch (...) {
      store.failure = std::current_exception();
    }
    std::unique_lock lock(store_mutex_);
    store.made = true;
    if (sending_) return;
    sending_ = true;
    sender_ = std::this_thread::get_id();
    for (;;) {
      const auto next = std::find_if(stores_.begin(), stores_.end(),
                                     [](const auto& waiting) { return !waiting->stored; });
      if (next == stores_.end() || !(*next)->made) break;
      BackgroundStore& sent = **next;
      lock.unlock();
      try {
        if (!sent.failure) StoreWhole(sent.batch);
      } catch (...) {
        sent.failure = std::current_exception();
      }
      lock.lock();
      sent.stored = true;
      store_ended_.notify_all();
    }
    sending_ = false;
    sender_ = std::thread::id();
  }

  // A row vector for the batch: one of the last stored batch's, or new.
  std::vector<Value> SpareRow() {
    if (spare_rows_.empty()) return {};
    std::vector<Value> row = std::move(spare_rows_.back());
    spare_rows_.pop_back();
    return row;
  }

  // Waits for the batches being stored in the background, but for the
  // `left` newest; raises the first failure met.
  void AwaitStore(std::size_t left = 0) const {
    JoinStores(left);
    if (tStoringThread || store_failures_.empty()) return;
    const std::exception_ptr failure = store_failures_.front();
    store_failures_.pop_front();
    std::rethrow_exception(failure);
  }
  // Waits for them all, leaving a failure to the next statement to raise.
  void JoinStore() const { JoinStores(0); }
  // Waits until at most `left` stores run. The failures of those ended are
  // kept in order; the rows of a batch stored, and its COPY text, are
  // filled again with the next batch's values, which spares the client a
  // heap allocation per value. Their threads are joined but for the one
  // that may still send later batches.
  void JoinStores(std::size_t left) const {
    if (tStoringThread) return;
    std::unique_lock lock(store_mutex_);
    store_ended_.wait(lock, [&] {
      return static_cast<std::size_t>(std::count_if(
                 stores_.begin(), stores_.end(), [](const auto& s) { return !s->stored; })) <= left;
    });
    while (!stores_.empty() && stores_.front()->stored) {
      BackgroundStore& oldest = *stores_.front();
      if (oldest.failure) store_failures_.push_back(oldest.failure);
      spare_rows_ = std::move(oldest.batch.rows);
      if (oldest.batch.copy) spare_copy_ = std::move(oldest.batch.copy->data);
      if (oldest.thread.joinable()) ended_threads_.push_back(std::move(oldest.thread));
      stores_.pop_front();
    }
    const std::thread::id sender = stores_.empty() ? std::thread::id() : sender_;
    lock.unlock();
    std::erase_if(ended_threads_, [&](std::thread& thread) {
      if (thread.get_id() == sender) return false;
      thread.join();
      return true;
    });
  }
  // Waits for them where their failures no longer matter: their rows are
  // about to be rolled back, or the connection closed.
  void SettleStore() const {
    JoinStore();
    store_failures_.clear();
  }

  // Runs a statement whose failure the caller drops (closing a cursor,
  // resetting a setting): a failure of the batch stored in the background
  // is left for the next statement to raise, never dropped with it.
  ResultPtr ExecAside(const std::string& sql) {
    JoinStore();
    std::deque<std::exception_ptr> kept = std::exchange(store_failures_, {});
    try {
      ResultPtr result = Exec(sql);
      store_failures_ = std::move(kept);
      return result;
    } catch (...) {
      store_failures_ = std::move(kept);
      throw;
    }
  }

  WriteBatch TakeBatch() {
    WriteBatch batch = std::move(batch_);
    batch_ = WriteBatch();
    // The old ids of rows stored long ago are of no use to anyone.
    if (moved_ids_.CountOf(batch.table) > 100000) {
      moved_ids_.ForgetTables([&](const std::string& table) { return table == batch.table; });
    }
    return batch;
  }

  void StoreWhole(const WriteBatch& batch) {
    if (TryStore(batch, 0, batch.rows.size(), "landstat_batch")) return;
    StoreRowByRow(batch);
  }

  // Sends one statement with text parameters (none, too) by the extended
  // protocol, which refuses a text holding a second statement: nothing after
  // a ';' in a statement's text ever runs. Scripts are split into statements
  // before they get here (Backend::ExecuteScript).
  PGresult* Send(const std::string& sql, const std::vector<const char*>& values) {
    return PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                        values.empty() ? nullptr : values.data(), nullptr, nullptr, 0);
  }

  // A statement's parameters as the texts the server reads (null: none).
  struct ParamTexts {
    explicit ParamTexts(const std::vector<Value>& params)
        : texts(params.size()), pointers(params.size(), nullptr) {
      for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].IsNull()) continue;
        texts[i] = ParamText(params[i]);
        pointers[i] = texts[i].c_str();
      }
    }
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
  };

  static bool Succeeded(const PGresult* result) {
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }

  // Runs a statement with text parameters and returns its result.
  ResultPtr Exec(const std::string& sql, const std::vector<Value>& params = {}) {
    AwaitStore();
    if (PQstatus(conn_) == CONNECTION_BAD) ThrowConnectionLost(PQerrorMessage(conn_));
    const ParamTexts texts(params);
    ResultPtr result(Send(sql, texts.pointers), &PQclear);
    if (!Succeeded(result.get())) ThrowFailure(result.get(), sql);
    return result;
  }

  // Sends the statements at once (libpq's pipeline mode), so that the
  // client waits for the server once for all of them rather than once
  // each, and returns each one's result. After a statement that fails the
  // server runs none of the rest: their results say so
  // (PGRES_PIPELINE_ABORTED). Empty when the connection cannot take a
  // pipeline; nothing was sent then.
  std::vector<ResultPtr> SendAtOnce(
      const std::vector<std::pair<const std::string*, const ParamTexts*>>& statements) {
    std::vector<ResultPtr> results;
    if (PQenterPipelineMode(conn_) != 1) return results;
    bool sent = true;
    for (const auto& [sql, params] : statements) {
      const int count = params ? static_cast<int>(params->pointers.size()) : 0;
      sent = sent &&
             PQsendQueryParams(conn_, sql->c_str(), count, nullptr,
                               count ? params->pointers.data() : nullptr, nullptr, nullptr, 0) == 1;
    }
    // The sync point closes the pipeline, also when a statement could not
    // be queued: what was queued is read up to it below.
    const bool synced = PQpipelineSync(conn_) == 1;
    // Each statement's results end with a null. A lost connection ends the
    // reading.
    for (std::size_t i = 0; sent && synced && i < statements.size(); ++i) {
      ResultPtr first(nullptr, &PQclear);
      for (PGresult* result = PQgetResult(conn_); result; result = PQgetResult(conn_)) {
        if (!first) {
          first.reset(result);
        } else {
          PQclear(result);
        }
      }
      if (!first && PQstatus(conn_) == CONNECTION_BAD) sent = false;
      results.push_back(std::move(first));
    }
    // Whatever is left is read up to the sync point (a result and a null
    // per statement at most), so that the connection can leave pipeline
    // mode whatever happened; it leaves it on every path.
    bool at_sync = false;
    const std::size_t bound = 2 * statements.size() + 2;
    for (std::size_t read = 0; synced && !at_sync && read < bound; ++read) {
      const ResultPtr result(PQgetResult(conn_), &PQclear);
      if (result) {
        at_sync = PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC;
      } else if (PQstatus(conn_) == CONNECTION_BAD) {
        break;
      }
    }
    const bool left = PQexitPipelineMode(conn_) == 1;
    if (!sent || !at_sync || !left) ThrowConnectionLost(PQerrorMessage(conn_));
    return results;
  }

  // Raises the server's message for a failed result (or the connection's,
  // when there is no result), with the kind of failure its SQLSTATE names.
  [[noreturn]] void ThrowFailure(const PGresult* result, const std::string& sql) {
    const std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(conn_);
    if (PQstatus(conn_) == CONNECTION_BAD) ThrowConnectionLost(message);
    Raise(DbError(text::Trim(message), sql, FailureOf(result)));
  }

  // The server is gone (stopped, or the session ended): said as such; the
  // statement that found out is beside the point and left out.
  [[noreturn]] void ThrowConnectionLost(const std::string& message) {
    Raise(DbError("the connection to the PostgreSQL server (" + Location() +
                      ") was lost: " + text::Trim(message),
                  DbFailure::kConnectionLost));
  }

  // Raises a failure of the server's, kept first when it ends a job.
  [[noreturn]] void Raise(const DbError& error) {
    NoteFailure(error);
    throw error;
  }

  // Exec that leaves an open transaction usable when the statement fails:
  // inside a transaction the statement runs under a savepoint of its own.
  // The savepoint, the statement and the savepoint's release go to the
  // server at once, one wait instead of three.
  ResultPtr ExecGuarded(const std::string& sql, const std::vector<Value>& params) {
    if (!InTransaction()) return Exec(sql, params);
    AwaitStore();
    if (PQstatus(conn_) == CONNECTION_BAD) ThrowConnectionLost(PQerrorMessage(conn_));
    static const std::string kOpen = "SAVEPOINT landstat_statement";
    static const std::string kRelease = "RELEASE SAVEPOINT landstat_statement";
    const ParamTexts texts(params);
    std::vector<ResultPtr> results =
        SendAtOnce({{&kOpen, nullptr}, {&sql, &texts}, {&kRelease, nullptr}});
    if (results.empty()) return ExecGuardedOneByOne(sql, params);
    if (!Succeeded(results[0].get())) ThrowFailure(results[0].get(), kOpen);
    if (Succeeded(results[1].get()) && Succeeded(results[2].get())) return std::move(results[1]);
    try {
      if (!Succeeded(results[1].get())) ThrowFailure(results[1].get(), sql);
      ThrowFailure(results[2].get(), kRelease);
    } catch (const DbError&) {
      Exec("ROLLBACK TO SAVEPOINT landstat_statement");
      throw;
    }
  }

  // ExecGuarded a statement at a time, where the connection takes no
  // pipeline.
  ResultPtr ExecGuardedOneByOne(const std::string& sql, const std::vector<Value>& params) {
    Exec("SAVEPOINT landstat_statement");
    try {
      ResultPtr result = Exec(sql, params);
      Exec("RELEASE SAVEPOINT landstat_statement");
      return result;
    } catch (const DbError&) {
      Exec("ROLLBACK TO SAVEPOINT landstat_statement");
      throw;
    }
  }

  // The parallel workers that read the query of a table's fill: more than
  // the server's default two for one that moves rows; none for one that adds
  // up the rows' numbers (AddsUpRows). Workers each add up a share of the
  // rows, and the shares are added in the order the workers end, which
  // varies from run to run; in one process the rows are added in the order
  // the table holds them, the same sums to the bit on every run.
  static int WorkersToFill(const std::string& query) { return AddsUpRows(query) ? 0 : 6; }

  std::string NextCursorName() { return "landstat_cursor" + std::to_string(++cursor_count_); }

  // The parallel workers a query may have, for as long as this lives,
  // within the server's own limit on workers.
  class ParallelReading {
   public:
    ParallelReading(PostgresBackend& backend, int workers) : backend_(backend) {
      backend_.Exec("SET max_parallel_workers_per_gather = " + std::to_string(workers));
    }
    ~ParallelReading() {
      try {
        backend_.ExecAside("RESET max_parallel_workers_per_gather");
      } catch (const DbError&) {
        // Only the speed of later queries depends on it; a lost connection
        // is reported by the next statement.
      }
    }
    ParallelReading(const ParallelReading&) = delete;
    ParallelReading& operator=(const ParallelReading&) = delete;

   private:
    PostgresBackend& backend_;
  };

  // A statement the server may read with parallel workers (a query, or one
  // that makes a table of a query's rows) and that adds up rows' numbers
  // runs in one process, for the same sums on every run (WorkersToFill).
  std::optional<ParallelReading> InOneProcessIfItAdds(const std::string& sql) {
    const bool parallel_kind = StartsWithWord(sql, "select") || StartsWithWord(sql, "with") ||
                               StartsWithWord(sql, "create");
    if (!parallel_kind || !AddsUpRows(sql)) return std::nullopt;
    return std::optional<ParallelReading>(std::in_place, *this, 0);
  }

  // A column of a table as the catalogue describes it, with its collation.
  struct StoredColumn {
    ColumnInfo info;
    std::string collation;
    bool SameKind(const StoredColumn& other) const {
      return info.name == other.info.name && info.declared == other.info.declared &&
             collation == other.collation;
    }
  };

  std::vector<StoredColumn> StoredColumns(unsigned oid) {
    ResultPtr result = Exec(
        "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
        "pg_get_expr(d.adbin, d.adrelid), a.attcollation FROM pg_attribute a LEFT JOIN "
        "pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
        "WHERE a.attrelid = $1 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
        {Value(static_cast<long long>(oid))});
    std::vector<StoredColumn> columns;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      StoredColumn column;
      column.info.name = PQgetvalue(result.get(), row, 0);
      column.info.declared = PQgetvalue(result.get(), row, 1);
      column.info.type = TypeOfDeclaration(column.info.declared);
      column.info.not_null = PQgetvalue(result.get(), row, 2)[0] == 't';
      if (!PQgetisnull(result.get(), row, 3))
        column.info.default_text = PQgetvalue(result.get(), row, 3);
      column.collation = PQgetvalue(result.get(), row, 4);
      columns.push_back(std::move(column));
    }
    return columns;
  }

  // The schema-qualified name of the table `target` names, when the table
  // may be dropped and made anew in its place without anyone seeing the
  // difference: a plain table of this role, locked by this session alone
  // (made or emptied in this transaction), with no rows, no constraints,
  // indexes, triggers, rules, grants, comments, identity or generated
  // columns, and nothing (a view, a sequence, a child) that depends on it.
  std::optional<std::pair<std::string, std::string>> ReplaceableTable(const std::string& oid) {
    ResultPtr result = Exec(
        "SELECT n.nspname, c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = "
        "c.relnamespace WHERE c.oid = $1 AND c.relkind = 'r' AND c.relpersistence = 'p' AND "
        "c.reltablespace = 0 AND c.reloptions IS NULL AND c.relacl IS NULL AND "
        "pg_get_userbyid(c.relowner) = current_user AND NOT c.relhastriggers AND NOT "
        "c.relhasrules AND NOT c.relrowsecurity AND NOT c.relispartition AND NOT "
        "c.relhassubclass AND NOT EXISTS (SELECT 1 FROM pg_inherits i WHERE i.inhrelid = c.oid) "
        "AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.refclassid = 'pg_class'::regclass AND "
        "d.refobjid = c.oid AND d.classid NOT IN ('pg_type'::regclass, 'pg_attrdef'::regclass) AND "
        "NOT (d.classid = 'pg_class'::regclass AND d.objid = c.reltoastrelid)) "
        "AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.refclassid = 'pg_type'::regclass AND "
        "d.refobjid = c.reltype AND NOT (d.classid = 'pg_type'::regclass AND d.deptype = 'i')) "
        "AND NOT EXISTS (SELECT 1 FROM pg_description x WHERE x.objoid = c.oid AND x.classoid = "
        "'pg_class'::regclass) AND NOT EXISTS (SELECT 1 FROM pg_attribute a WHERE a.attrelid = "
        "c.oid AND a.attnum > 0 AND NOT a.attisdropped AND (a.attnotnull OR a.attidentity <> '' "
        "OR a.attgenerated <> '')) AND EXISTS (SELECT 1 FROM pg_locks l WHERE l.relation = c.oid "
        "AND l.pid = pg_backend_pid() AND l.mode = 'AccessExclusiveLock' AND l.granted)",
        {Value(oid)});
    if (PQntuples(result.get()) != 1) return std::nullopt;
    const std::string schema = PQgetvalue(result.get(), 0, 0);
    const std::string table = PQgetvalue(result.get(), 0, 1);
    if (PQntuples(Exec("SELECT 1 FROM " + QuoteName(schema) + "." + QuoteName(table) + " LIMIT 1")
                      .get()) != 0) {
      return std::nullopt;
    }
    return std::pair{schema, table};
  }

  // Fills an empty `target` by making the table anew from the query with
  // CREATE TABLE AS, whose query the server's parallel workers run, when
  // that cannot be told from an INSERT: the target qualifies
  // (ReplaceableTable), the columns name each of its columns once, and the
  // query gives each column its type, type modifier and collation, so no
  // value is converted. The new table keeps the target's defaults. Nothing
  // happens, and no value is returned, when the target does not qualify.
  std::optional<long> ReplaceByCreateAs(const std::string& target,
                                        const std::vector<std::string>& columns,
                                        const std::string& select) {
    const unsigned oid = RelationOid(target);
    if (oid == 0) return std::nullopt;
    const auto place = ReplaceableTable(std::to_string(oid));
    if (!place) return std::nullopt;
    const std::vector<StoredColumn> stored = StoredColumns(oid);
    std::string aliases, projection;
    std::size_t matched = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      aliases += (i ? ",c" : "c") + std::to_string(i);
    }
    for (const StoredColumn& column : stored) {
      const auto listed = std::find_if(columns.begin(), columns.end(), [&](const std::string& c) {
        return StoredName(c) == column.info.name;
      });
      // A column the rows do not set takes its default, as in an INSERT.
      const std::string value = listed != columns.end()
                                    ? "c" + std::to_string(listed - columns.begin())
                                    : "CAST(" + column.info.default_text.value_or("NULL") + " AS " +
                                          column.info.declared + ")";
      projection += (projection.empty() ? "" : ",") + value + " AS " + QuoteName(column.info.name);
      if (listed != columns.end()) ++matched;
    }
    if (matched != columns.size()) return std::nullopt;  // a column named twice or not at all
    const std::string schema = QuoteName(place->first);
    const std::string table = schema + "." + QuoteName(place->second);
    const std::string probe =
        schema + "." + QuoteName("landstat_filled_" + std::to_string(PQbackendPID(conn_)));
    const std::string query =
        "SELECT " + projection + " FROM (" + select + ") AS landstat_select(" + aliases + ")";
    Exec("SAVEPOINT landstat_fill");
    const auto give_up = [&] {
      Exec("ROLLBACK TO SAVEPOINT landstat_fill");
      Exec("RELEASE SAVEPOINT landstat_fill");
    };
    try {
      // The kinds of column the query makes, from a table of none of its rows.
      Execute("CREATE TABLE " + probe + " AS " + query + " WITH NO DATA", {});
      const std::vector<StoredColumn> kinds = StoredColumns(RelationOid(probe));
      const bool same =
          std::equal(stored.begin(), stored.end(), kinds.begin(), kinds.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.SameKind(b); });
      if (!same) {
        give_up();
        return std::nullopt;
      }
      try {
        Execute("DROP TABLE " + probe + ", " + table, {});
      } catch (const DbError&) {
        give_up();  // a query of this session still reads the target: the rows are inserted
        return std::nullopt;
      }
      long rows = 0;
      {
        const ParallelReading parallel(*this, WorkersToFill(select));
        rows = Execute("CREATE TABLE " + table + " AS " + query, {});
      }
      if (const std::string defaults = DefaultsOf(table, stored); !defaults.empty()) {
        Execute(defaults, {});
      }
      Exec("RELEASE SAVEPOINT landstat_fill");
      ForgetMovedIds(target);
      return rows;
    } catch (const DbError&) {
      try {
        give_up();
      } catch (const DbError&) {
        // The connection is gone: the first failure says so.
      }
      throw;
    }
  }

  // The statement that gives `table` the defaults of the columns `stored`,
  // all in one ALTER TABLE (one wait on the server instead of one a
  // column); empty when no column has one.
  static std::string DefaultsOf(const std::string& table, const std::vector<StoredColumn>& stored) {
    std::string actions;
    for (const StoredColumn& column : stored) {
      if (!column.info.default_text) continue;
      actions += (actions.empty() ? "" : ", ") + std::string("ALTER COLUMN ") +
                 QuoteName(column.info.name) + " SET DEFAULT " + *column.info.default_text;
    }
    return actions.empty() ? actions : "ALTER TABLE " + table + " " + actions;
  }

  // The ids rows of `table` moved to: the table was made anew, its rows
  // number from the start again.
  void ForgetMovedIds(const std::string& table) {
    moved_ids_.ForgetTables(
        [&](const std::string& name) { return StoredName(name) == StoredName(table); });
  }

  // Drops the scratch rows of InsertSelect after a failure, which is
  // reported already.
  void DropScratchRows() {
    try {
      Execute("DROP TABLE IF EXISTS pg_temp.landstat_rows", {});
    } catch (const DbError&) {
      // The transaction ends with the run; the table with the session.
    }
  }

 protected:
  void RunControl(const std::string& sql) override { Exec(sql); }

  long RunStatement(const std::string& sql, const std::vector<Value>& params) override {
    // A table made, dropped or altered may come back with other columns
    // or defaults, and a name may mean another table after a SET of the
    // search path: what was learnt of tables is learnt again.
    if (StartsWithWord(sql, "create") || StartsWithWord(sql, "drop") ||
        StartsWithWord(sql, "alter") || StartsWithWord(sql, "set")) {
      AwaitStore();  // a batch stored in the background reads them
      column_cache_.clear();
      default_cache_.clear();
    }
    const std::string text = PostgresSpelling(sql);
    const std::optional<ParallelReading> workers = InOneProcessIfItAdds(text);
    ResultPtr result = ExecGuarded(params.empty() ? text : NumberParameterMarks(text), params);
    return std::atol(PQcmdTuples(result.get()));
  }

  std::string CreateTableLike(const std::string& target, const std::string& source) override {
    return "CREATE TABLE " + target + " (LIKE " + source +
           " INCLUDING DEFAULTS INCLUDING IDENTITY)";
  }

  std::string RewriteTypeWords(const std::string& sql) override {
    // Access's "double" and numbering column in PostgreSQL's words.
    const std::string text = ReplaceWord(sql, "double", "double precision", "precision");
    return ReplaceIdentityColumn(text, "int GENERATED BY DEFAULT AS IDENTITY");
  }

 private:
  // The helper functions are made only where one is missing, older than
  // this program's, or out of this role's reach, so that a role that may not
  // create functions connects to a database where they are in place. The
  // catalogue is read directly: it answers even where the schema is closed
  // to this role.
  void InstallCompatFunctions() {
    ResultPtr present = Exec(
        "SELECT n.nspname || '.' || p.proname || '(' || pg_get_function_identity_arguments(p.oid) "
        "|| ')', has_schema_privilege(n.oid, 'USAGE') FROM pg_proc p JOIN pg_namespace n "
        "ON n.oid = p.pronamespace WHERE n.nspname = 'landstat_compat'");
    std::set<std::string> found;
    bool usable = true;
    int installed = 0;  // the version of functions all in place and usable
    for (int row = 0; row < PQntuples(present.get()); ++row) {
      found.insert(PQgetvalue(present.get(), row, 0));
      usable = usable && PQgetvalue(present.get(), row, 1)[0] == 't';
    }
    std::string missing;
    for (const std::string& signature : kPostgresCompatFunctions) {
      if (!found.count(signature)) missing += (missing.empty() ? "" : ", ") + signature;
    }
    if (!usable) {
      missing = "the schema is there, but this role has no USAGE right on it";
    } else if (missing.empty()) {
      ResultPtr version = Exec("SELECT landstat_compat.compat_version()");
      installed = std::atoi(PQgetvalue(version.get(), 0, 0));
      if (installed >= kPostgresCompatVersion) return;
      missing = "all of them, at version " + std::to_string(installed) +
                " where this program needs " + std::to_string(kPostgresCompatVersion);
    }
    // Several connections may arrive at once: one creates, the others wait.
    Exec("BEGIN");
    try {
      Exec("SELECT pg_advisory_xact_lock(7311001)");
      for (const std::string& statement : PostgresCompatStatements()) Exec(statement);
      Exec("COMMIT");
    } catch (const DbError& error) {
      try {
        Exec("ROLLBACK");
      } catch (const DbError&) {
        // The session is closed by the caller; so is the transaction.
      }
      // Functions that give the same figures as this program's serve until
      // a role that may replace them connects (they are only slower).
      if (installed >= kPostgresCompatSameFiguresSince && !Lost()) return;
      throw DbError(
          "the helper functions of schema landstat_compat that statements call are missing or out "
          "of date (" +
              missing + ") and this role cannot create them: " + error.what() +
              ". Connect once as a role that may create the schema and its functions (the CREATE "
              "right on the database), then this role can connect.",
          error.Failure());
    }
  }

  unsigned RelationOid(std::string_view name) {
    const std::string text = text::Trim(name);
    const std::size_t dot = text.find('.');
    ResultPtr result =
        dot == std::string::npos
            ? Exec(
                  "SELECT c.oid FROM pg_class c WHERE c.relname = $1 AND "
                  "c.relkind IN ('r','v','m','p','f') AND pg_table_is_visible(c.oid)",
                  {Value(StoredName(text))})
            : Exec(
                  "SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                  "WHERE n.nspname = $1 AND c.relname = $2 AND c.relkind IN ('r','v','m','p','f')",
                  {Value(StoredName(text.substr(0, dot))),
                   Value(StoredName(text.substr(dot + 1)))});
    if (PQntuples(result.get()) == 0) return 0;
    return static_cast<unsigned>(std::strtoul(PQgetvalue(result.get(), 0, 0), nullptr, 10));
  }

  bool BatchFull() const {
    const std::size_t per_row = batch_.columns.size() + 1;
    if (!batch_.update && batch_.all_given) {
      return batch_.rows.size() * per_row >= kMaxCopiedValues;
    }
    return static_cast<int>(batch_.rows.size()) >= kMaxBufferedRows ||
           (batch_.rows.size() + 1) * per_row > static_cast<std::size_t>(kMaxParameters);
  }

  const std::vector<ColumnInfo>& CachedColumns(const std::string& table) {
    auto found = column_cache_.find(table);
    if (found != column_cache_.end()) return found->second;
    return column_cache_.emplace(table, ColumnsOf(table)).first->second;
  }

  std::string CastOf(const std::string& table, const std::string& column) {
    for (const ColumnInfo& info : CachedColumns(table)) {
      if (info.name == column) return "::" + info.declared;
    }
    throw DbError("table " + table + " has no column " + column);
  }

  void StoreBatch(const WriteBatch& batch, std::size_t first, std::size_t last) {
    if (batch.update) {
      UpdateRows(batch, first, last);
      return;
    }
    if (last - first > 1 && CopyRows(batch, first, last)) return;
    // A statement takes a bounded number of parameters: a longer run of
    // rows goes by several.
    const std::size_t per_row = batch.columns.size() + 1;
    if (last - first > 1 && (last - first) * per_row > static_cast<std::size_t>(kMaxParameters)) {
      const std::size_t middle = first + (last - first) / 2;
      StoreBatch(batch, first, middle);
      StoreBatch(batch, middle, last);
      return;
    }
    std::vector<Value> params;
    std::string values;
    int mark = 0;
    for (std::size_t row = first; row < last; ++row) {
      values += row == first ? "(" : ",(";
      for (std::size_t c = 0; c < batch.columns.size(); ++c) {
        values += c ? "," : "";
        if (!batch.Given(row, c)) {
          values += "DEFAULT";
          continue;
        }
        values += "$" + std::to_string(++mark);
        params.push_back(batch.rows[row][c]);
      }
      values += ")";
    }
    std::string sql = "INSERT INTO " + batch.table + " (";
    for (std::size_t c = 0; c < batch.columns.size(); ++c) {
      sql += (c ? "," : "") + QuoteName(batch.columns[c]);
    }
    Exec(sql + ") VALUES " + values, params);
  }

  // Updates rows `first` to `last` of a batch by their ids in one statement
  // whose ids and values come as one array per column: neither its text nor
  // the count of its parameters grows with the rows, so the server parses
  // and binds it at once, where a list of values would cost it some
  // milliseconds per hundred rows.
  void UpdateRows(const WriteBatch& batch, std::size_t first, std::size_t last) {
    const auto array = [&](const auto& element_of) {
      std::string text = "{";
      for (std::size_t row = first; row < last; ++row) {
        if (row != first) text += ',';
        AppendArrayElement(text, element_of(row));
      }
      return Value(text + "}");
    };
    std::vector<Value> params = {array([&](std::size_t row) { return Value(batch.row_ids[row]); })};
    std::string sql = "UPDATE " + batch.table + " AS landstat_t SET ";
    std::string names = "landstat_rid";
    std::string arrays = "$1::tid[]";
    for (std::size_t c = 0; c < batch.columns.size(); ++c) {
      const std::string name = QuoteName(batch.columns[c]);
      sql += (c ? "," : "") + name + "=landstat_v." + name;
      names += "," + name;
      arrays += ",$" + std::to_string(c + 2) + CastOf(batch.table, batch.columns[c]) + "[]";
      params.push_back(array([&](std::size_t row) { return batch.rows[row][c]; }));
    }
    // The list of ids lets the planner fetch the rows by id rather than scan.
    sql += " FROM unnest(" + arrays + ") AS landstat_v(" + names +
           ") WHERE landstat_t.ctid = landstat_v.landstat_rid AND landstat_t.ctid = ANY($1::tid[]) "
           "RETURNING landstat_v.landstat_rid::text, landstat_t.ctid::text";
    ResultPtr result = Exec(sql, params);
    if (PQntuples(result.get()) != static_cast<int>(last - first)) {
      throw DbError("a row to update is no longer in table " + batch.table);
    }
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      moved_ids_.Record(batch.table, PQgetvalue(result.get(), row, 0),
                        PQgetvalue(result.get(), row, 1));
    }
  }

  // Stores rows [first, last) of a batch of new rows with COPY, the
  // server's fastest road: by the text made ahead where it holds these
  // rows, else made here in pieces of 64 KiB, each sent as it is made, so
  // that the server reads one while the next is written. False when COPY
  // does not apply.
  bool CopyRows(const WriteBatch& batch, std::size_t first, std::size_t last) {
    constexpr std::size_t kPiece = 1 << 16;
    if (first == 0 && last == batch.rows.size() && batch.copy) {
      const std::string& data = batch.copy->data;
      std::size_t at = 0;
      RunCopy(batch.copy->statement, [&](std::string& piece) {
        piece.assign(data, at, kPiece);
        at += piece.size();
        return !piece.empty();
      });
      return true;
    }
    const std::optional<CopyShape> shape = ShapeCopy(batch, first, last);
    if (!shape) return false;
    std::size_t row = first;
    RunCopy(shape->statement, [&](std::string& piece) {
      piece.clear();
      while (row < last && piece.size() < kPiece) AppendCopyRow(piece, batch, row++, *shape);
      return !piece.empty();
    });
    return true;
  }

  // How rows of a batch go into COPY: the statement, the columns it sends,
  // and what a row that did not set a column sends there.
  struct CopyShape {
    std::string statement;
    std::vector<std::size_t> columns;
    const std::map<std::string, Value>* defaults;
  };

  // The shape of a COPY of rows [first, last) of a batch. Columns a row did
  // not set take the column's default, read once per table; a batch that
  // leaves a generated column (identity, sequence) unset in some rows is
  // left to the INSERT road: nothing then.
  std::optional<CopyShape> ShapeCopy(const WriteBatch& batch, std::size_t first, std::size_t last) {
    const std::map<std::string, Value>& defaults = ConstantDefaults(batch.table);
    for (std::size_t c = 0; c < batch.columns.size() && !batch.all_given; ++c) {
      const bool all_given = std::all_of(batch.given.begin() + first, batch.given.begin() + last,
                                         [c](const std::vector<bool>& g) { return g[c]; });
      if (!all_given && !defaults.count(batch.columns[c])) return std::nullopt;
    }
    CopyShape shape{"COPY " + batch.table + " (", SentColumns(batch, first, last, defaults),
                    &defaults};
    for (std::size_t c : shape.columns) {
      shape.statement += (c == shape.columns.front() ? "" : ",") + QuoteName(batch.columns[c]);
    }
    shape.statement += ") FROM STDIN";
    return shape;
  }

  // One row of a batch in COPY's text format.
  static void AppendCopyRow(std::string& out, const WriteBatch& batch, std::size_t row,
                            const CopyShape& shape) {
    for (std::size_t c : shape.columns) {
      if (c != shape.columns.front()) out += '\t';
      AppendCopyField(
          out, batch.Given(row, c) ? batch.rows[row][c] : shape.defaults->at(batch.columns[c]));
    }
    out += '\n';
  }

  // Every row of a batch as a COPY statement and its data, made in
  // `storage`; nothing where COPY does not apply.
  std::optional<CopyText> FormatCopy(const WriteBatch& batch, std::string storage) {
    const std::optional<CopyShape> shape = ShapeCopy(batch, 0, batch.rows.size());
    if (!shape) return std::nullopt;
    storage.clear();
    for (std::size_t row = 0; row < batch.rows.size(); ++row) {
      AppendCopyRow(storage, batch, row, *shape);
    }
    return CopyText{shape->statement, std::move(storage)};
  }

  // Runs a COPY whose data `next` gives piece by piece, false when none is
  // left; raises the server's refusal.
  void RunCopy(const std::string& statement, const std::function<bool(std::string&)>& next) {
    ResultPtr start(Send(statement, {}), &PQclear);
    if (PQresultStatus(start.get()) != PGRES_COPY_IN) ThrowFailure(start.get(), statement);
    std::string piece;
    bool sent = true;
    while (sent && next(piece)) {
      sent = PQputCopyData(conn_, piece.data(), static_cast<int>(piece.size())) == 1;
    }
    sent = PQputCopyEnd(conn_, sent ? nullptr : "the rows could not be sent") == 1 && sent;
    EndCopy(statement, sent ? "" : PQerrorMessage(conn_));
  }

  // Reads the results that end a COPY; raises the first failure they
  // report, or `error`, the client's own, when there is one.
  void EndCopy(const std::string& statement, std::string error) {
    DbFailure failure = DbFailure::kOther;
    while (PGresult* result = PQgetResult(conn_)) {
      if (PQresultStatus(result) != PGRES_COMMAND_OK && error.empty()) {
        error = PQresultErrorMessage(result);
        failure = FailureOf(result);
      }
      PQclear(result);
    }
    if (!error.empty() && PQstatus(conn_) == CONNECTION_BAD) ThrowConnectionLost(error);
    if (!error.empty()) Raise(DbError(text::Trim(error), statement, failure));
  }

  // Runs a COPY that sends rows (TO STDOUT) and gives what it sent; raises
  // the server's refusal.
  CopiedPieces ReadCopy(const std::string& statement) {
    AwaitStore();
    if (PQstatus(conn_) == CONNECTION_BAD) ThrowConnectionLost(PQerrorMessage(conn_));
    ResultPtr start(Send(statement, {}), &PQclear);
    if (PQresultStatus(start.get()) != PGRES_COPY_OUT) ThrowFailure(start.get(), statement);
    CopiedPieces pieces;
    char* piece = nullptr;
    int size = 0;
    // -1 when the server has sent all, -2 when the reading failed: the
    // results below say which.
    while ((size = PQgetCopyData(conn_, &piece, 0)) >= 0) {
      pieces.owned.emplace_back(piece, &PQfreemem);
      pieces.rows.emplace_back(piece, static_cast<std::size_t>(size));
    }
    EndCopy(statement, size == -2 ? PQerrorMessage(conn_) : "");
    return pieces;
  }

  // The columns of rows [first, last) of a batch that COPY sends. A column
  // whose every row holds what the server stores there by itself is left
  // out, which spares the server reading it (most class columns of a
  // summary's rows are 0): a null where the column has no default, or a
  // figure equal to the constant default of a double precision column.
  // At least one column is sent.
  std::vector<std::size_t> SentColumns(const WriteBatch& batch, std::size_t first, std::size_t last,
                                       const std::map<std::string, Value>& defaults) {
    std::unordered_map<std::string_view, const ColumnInfo*> info_of;
    for (const ColumnInfo& info : CachedColumns(batch.table)) info_of.emplace(info.name, &info);
    std::vector<std::optional<Value>> stored(batch.columns.size());
    std::vector<std::size_t> left_out;  // the columns every row so far holds as stored
    for (std::size_t c = 0; c < batch.columns.size(); ++c) {
      const auto info = info_of.find(batch.columns[c]);
      if (info != info_of.end()) stored[c] = StoredWhenLeftOut(*info->second, defaults);
      if (stored[c]) left_out.push_back(c);
    }
    // Row by row, in the order the values lie in memory: a batch of wide
    // rows is larger than the processor's caches.
    for (std::size_t row = first; row < last && !left_out.empty(); ++row) {
      std::erase_if(left_out, [&](std::size_t c) {
        return batch.Given(row, c) && !SameStored(batch.rows[row][c], *stored[c]);
      });
    }
    std::vector<std::size_t> sent;
    for (std::size_t c = 0, next = 0; c < batch.columns.size(); ++c) {
      if (next < left_out.size() && left_out[next] == c) {
        ++next;
      } else {
        sent.push_back(c);
      }
    }
    if (sent.empty()) sent.push_back(0);
    return sent;
  }

  // The defaults of a table's columns that are constants ("0.00", "'x'"),
  // evaluated once; generated defaults (sequences) are left out.
  const std::map<std::string, Value>& ConstantDefaults(const std::string& table) {
    auto found = default_cache_.find(table);
    if (found != default_cache_.end()) return found->second;
    std::map<std::string, Value> defaults;
    std::vector<std::string> names;
    std::string select;
    for (const ColumnInfo& column : CachedColumns(table)) {
      if (!column.default_text) {
        if (!column.not_null) defaults.emplace(column.name, Value());
        continue;
      }
      if (text::ToLowerAscii(*column.default_text).find("nextval") != std::string::npos) continue;
      select += (select.empty() ? "SELECT " : ", ") + *column.default_text;
      names.push_back(column.name);
    }
    if (!names.empty()) {
      ResultPtr result = Exec(select);
      for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        defaults[names[i]] = PQgetisnull(result.get(), 0, i)
                                 ? Value()
                                 : Value(std::string(PQgetvalue(result.get(), 0, i)));
      }
    }
    return default_cache_.emplace(table, std::move(defaults)).first->second;
  }

  // Stores rows [first, last) of a batch under a savepoint; on a refusal
  // the savepoint undoes them, and the server's message is returned in
  // `error`. True when stored.
  bool TryStore(const WriteBatch& batch, std::size_t first, std::size_t last, const char* savepoint,
                std::optional<DbError>* error = nullptr) {
    Exec(std::string("SAVEPOINT ") + savepoint);
    try {
      StoreBatch(batch, first, last);
    } catch (const DbError& refused) {
      Exec(std::string("ROLLBACK TO SAVEPOINT ") + savepoint);
      Exec(std::string("RELEASE SAVEPOINT ") + savepoint);
      if (error) error->emplace(refused);
      return false;
    }
    Exec(std::string("RELEASE SAVEPOINT ") + savepoint);
    return true;
  }

  // Stores a refused batch one row at a time: every row the server accepts
  // is stored, and one error names the rows it refused. The batch is first
  // tried in runs of rows, so that a large batch with one bad row is not
  // sent row by row; only a refused run is.
  void StoreRowByRow(const WriteBatch& batch) {
    constexpr std::size_t kNamed = 5;  // refused rows whose message is given
    constexpr std::size_t kRun = 100;
    std::string message;
    std::size_t refused = 0;
    DbFailure failure = DbFailure::kOther;
    std::size_t run_end = 0;  // rows before it are stored, or go one by one
    for (std::size_t row = 0; row < batch.rows.size(); ++row) {
      if (row >= run_end) {
        run_end = std::min(row + kRun, batch.rows.size());
        if (run_end - row > 1 && TryStore(batch, row, run_end, "landstat_run")) {
          row = run_end - 1;
          continue;
        }
      }
      std::optional<DbError> error;
      if (TryStore(batch, row, row + 1, "landstat_row", &error)) continue;
      if (error->Failure() == DbFailure::kConnectionLost) throw *error;
      if (refused == 0) failure = error->Failure();
      if (refused++ < kNamed) {
        message += (message.empty() ? "" : "; ") +
                   RowName(batch.table, batch.records[row], !batch.update) +
                   " was refused: " + error->what();
      }
    }
    if (refused == 0) return;
    if (refused > kNamed) {
      message += "; " + std::to_string(refused - kNamed) + " more rows of table " + batch.table +
                 " were refused";
    }
    throw DbError(message, failure);
  }

  PGconn* conn_ = nullptr;
  int cursor_count_ = 0;
  WriteBatch batch_;
  // The batches before batch_ stored in the background, oldest first, and
  // what tells their state (each batch its threads' alone until stored).
  mutable std::deque<std::unique_ptr<BackgroundStore>> stores_;
  mutable std::mutex store_mutex_;
  mutable std::condition_variable store_ended_;
  bool sending_ = false;                                   // a thread sends the batches made
  std::thread::id sender_;                                 // which
  mutable std::vector<std::thread> ended_threads_;         // of batches stored, yet to be joined
  mutable std::deque<std::exception_ptr> store_failures_;  // met by stores, yet to be raised
  mutable std::vector<std::vector<Value>> spare_rows_;     // of a batch stored before
  mutable std::string spare_copy_;  // the storage of a COPY text stored before
  MovedRowIds moved_ids_;
  std::unordered_map<std::string, std::vector<ColumnInfo>> column_cache_;
  std::unordered_map<std::string, std::map<std::string, Value>> default_cache_;
};

PostgresRows::PostgresRows(PostgresBackend& backend, std::string_view sql,
                           const std::vector<Value>& params)
    : backend_(backend), cursor_(backend.NextCursorName()) {
  backend_.BeginImplicit();
  try {
    const std::string text = PostgresSpelling(std::string(sql));
    backend_.ExecGuarded("DECLARE " + cursor_ + " NO SCROLL CURSOR FOR " +
                             (params.empty() ? text : NumberParameterMarks(text)),
                         params);
    FetchBlock();
  } catch (...) {
    cursor_.clear();
    backend_.EndImplicit();
    throw;
  }
  const PGresult* block = block_.get();
  for (int i = 0; i < PQnfields(block); ++i) {
    ColumnInfo column;
    column.name = PQfname(block, i);
    oids_.push_back(PQftype(block, i));
    column.type = TypeOfOid(oids_.back());
    columns_.push_back(std::move(column));
  }
}

PostgresRows::~PostgresRows() {
  if (cursor_.empty()) return;
  try {
    backend_.ExecAside("CLOSE " + cursor_);
  } catch (const DbError&) {
    // The transaction may have been ended already; the cursor went with it.
  }
  try {
    backend_.EndImplicit();
  } catch (const DbError&) {
    // A failed commit has been reported by the write that caused it.
  }
}

void PostgresRows::FetchBlock() {
  block_ = backend_.Exec("FETCH " + std::to_string(kFetchRows) + " FROM " + cursor_);
  next_ = 0;
  finished_ = PQntuples(block_.get()) < kFetchRows;
}

bool PostgresRows::Advance() {
  if (next_ >= PQntuples(block_.get())) {
    if (finished_) return false;
    backend_.Flush();
    FetchBlock();
    if (PQntuples(block_.get()) == 0) return false;
  }
  row_ = next_++;
  return true;
}

bool PostgresRows::Fetch(std::vector<Value>& row) {
  if (!Advance()) return false;
  row.resize(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    row[c] = ParseValue(block_.get(), row_, static_cast<int>(c), columns_[c].type, oids_[c]);
  }
  return true;
}

bool PostgresRows::Next() {
  return Advance();
}

double PostgresRows::Number(int column) const {
  const PGresult* block = block_.get();
  if (PQgetisnull(block, row_, column)) return 0.0;
  if (columns_[column].type == FieldType::kText) {
    return NumberOfTextField(Text(column), columns_[column].name);
  }
  return ParseValue(block, row_, column, columns_[column].type, oids_[column]).AsDouble();
}

std::string_view PostgresRows::Text(int column) const {
  const PGresult* block = block_.get();
  if (PQgetisnull(block, row_, column)) return {};
  if (columns_[column].type == FieldType::kText) {
    return {PQgetvalue(block, row_, column),
            static_cast<std::size_t>(PQgetlength(block, row_, column))};
  }
  scratch_ = ParseValue(block, row_, column, columns_[column].type, oids_[column]).AsText();
  return scratch_;
}

}  // namespace

std::string DescribePostgresServer(const std::string& conninfo) {
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), nullptr);
  if (!options) return "as named in the connection string";
  std::string text;
  for (PQconninfoOption* option = options; option->keyword; ++option) {
    const std::string keyword = option->keyword;
    if (!option->val || !*option->val) continue;
    if (keyword == "host" || keyword == "hostaddr" || keyword == "port" || keyword == "dbname" ||
        keyword == "user" || keyword == "service") {
      text += (text.empty() ? "" : " ") + keyword + "=" + option->val;
    }
  }
  PQconninfoFree(options);
  return text.empty() ? "default server" : text;
}

std::optional<std::string> PostgresConninfoProblem(const std::string& text) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
  std::optional<std::string> problem;
  if (!options) problem = text::Trim(error ? error : "out of memory");
  PQfreemem(error);
  PQconninfoFree(options);
  return problem;
}

std::unique_ptr<Backend> ConnectPostgres(const std::string& conninfo) {
  return std::make_unique<PostgresBackend>(conninfo);
}

}  // namespace landstat::db
