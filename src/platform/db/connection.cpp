#include "platform/db/connection.h"

#include <algorithm>
#include <filesystem>
#include <regex>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/postgres_backend.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_backend.h"
#include "platform/text/ascii_text.h"

namespace landstat::db {
namespace fs = std::filesystem;
namespace {

// The keywords of the Access providers' connection strings.
bool IsOleDbKeyword(std::string_view key) {
  const std::string lower = text::ToLowerAscii(text::Trim(key));
  if (lower.rfind("jet oledb:", 0) == 0) return true;
  for (const char* known :
       {"provider", "data source", "user id", "password", "pwd", "persist security info", "mode",
        "extended properties", "locale identifier", "ole db services"}) {
    if (lower == known) return true;
  }
  return false;
}

// Where the unquoted value that starts at `from` ends: at the first ';' that
// starts another keyword or ends the string. A file path holding ';' or '='
// thus stays whole.
std::size_t EndOfValue(std::string_view text, std::size_t from) {
  for (std::size_t semicolon = text.find(';', from); semicolon != std::string_view::npos;
       semicolon = text.find(';', semicolon + 1)) {
    const std::string_view rest = text.substr(semicolon + 1);
    const std::size_t equals = rest.find('=');
    if (text::Trim(rest).empty() ||
        (equals != std::string_view::npos && IsOleDbKeyword(rest.substr(0, equals)))) {
      return semicolon;
    }
  }
  return text.size();
}

// A property of an OLE DB string "key=value;key=value": its key, its value
// and where the value lies in the string (its quotes included).
struct Property {
  std::string key, value;
  std::size_t begin = 0, end = 0;
};

// The properties of an OLE DB string, in order. A value may be quoted in "
// or ' to hold anything but its quote.
std::vector<Property> PropertiesOf(std::string_view text) {
  std::vector<Property> properties;
  std::size_t at = 0;
  while (at < text.size()) {  // each round moves past one property
    const std::size_t equals = text.find('=', at);
    if (equals == std::string_view::npos) break;
    Property property;
    property.key = text::Trim(text.substr(at, equals - at));
    std::size_t start = equals + 1;
    while (start < text.size() && text[start] == ' ') ++start;
    property.begin = start;
    std::size_t end = 0;
    if (start < text.size() && (text[start] == '"' || text[start] == '\'')) {
      const std::size_t close = text.find(text[start], start + 1);
      if (close == std::string_view::npos) {
        throw DbError("the connection string has an unclosed quote");
      }
      property.value = std::string(text.substr(start + 1, close - start - 1));
      property.end = close + 1;
      end = std::min(text.find(';', close), text.size());
    } else {
      end = EndOfValue(text, start);
      property.value = text::Trim(text.substr(start, end - start));
      property.end = end;
    }
    properties.push_back(std::move(property));
    at = end + 1;
  }
  return properties;
}

// The value of `key` (any case) in an OLE DB string.
std::optional<std::string> PropertyOf(std::string_view text, std::string_view key) {
  for (const Property& property : PropertiesOf(text)) {
    if (text::IEquals(property.key, key)) return property.value;
  }
  return std::nullopt;
}

bool IsOleDbForm(std::string_view text) {
  const std::size_t equals = text.find('=');
  return equals != std::string_view::npos && IsOleDbKeyword(text.substr(0, equals));
}

// An OLE DB string as messages show it: its password hidden.
std::string WithoutPassword(std::string_view text) {
  std::string shown(text);
  std::vector<Property> properties;
  try {
    properties = PropertiesOf(text);
  } catch (const DbError&) {
    return "(unreadable)";
  }
  for (auto property = properties.rbegin(); property != properties.rend(); ++property) {
    if (text::IEquals(property->key, "password") || text::IEquals(property->key, "pwd")) {
      shown.replace(property->begin, property->end - property->begin, "***");
    }
  }
  return shown;
}

ConnectionTarget OleDbTarget(const std::string& text) {
  const std::optional<std::string> provider = PropertyOf(text, "Provider");
  if (!provider) throw DbError("the connection string names no Provider: " + WithoutPassword(text));
  const std::string lower = text::ToLowerAscii(*provider);
  if (lower.find("oracle") != std::string::npos || lower.find("msdaora") != std::string::npos) {
    return {DbKind::kOracle, text};
  }
  if (lower.find("jet") == std::string::npos && lower.find("ace") == std::string::npos) {
    throw DbError("the connection string names an unknown provider: " + *provider);
  }
  const std::optional<std::string> source = PropertyOf(text, "Data Source");
  if (!source || source->empty()) {
    throw DbError("the connection string names no Data Source: " + WithoutPassword(text));
  }
  return {DbKind::kEmbedded, *source};
}

}  // namespace

ConnectionTarget ParseConnectionString(std::string_view connection_string) {
  const std::string text = text::Trim(connection_string);
  if (text.empty()) throw DbError("the connection string is empty");
  std::error_code unreadable;  // a name the system refuses is no file here
  if (fs::is_regular_file(fs::path(text), unreadable)) return {DbKind::kEmbedded, text};
  if (IsOleDbForm(text)) return OleDbTarget(text);
  const std::optional<std::string> problem = PostgresConninfoProblem(text);
  if (!problem) return {DbKind::kServer, text};
  // A server's connection string that libpq refuses (a setting misspelt)
  // is no file name: read as one, its password would show in every message
  // that names the file. It is not shown: libpq's words only when they name
  // a setting it does not know.
  static const std::regex conninfo(R"(^(postgres(ql)?://|[A-Za-z_]+\s*=))");
  if (std::regex_search(text, conninfo)) {
    throw DbError(
        "the server's connection string is not understood" +
        (problem->rfind("invalid connection option", 0) == 0 ? ": " + *problem : std::string()));
  }
  return {DbKind::kEmbedded, text};
}

std::string DescribeConnection(std::string_view connection_string) {
  ConnectionTarget target;
  try {
    target = ParseConnectionString(connection_string);
  } catch (const DbError&) {
    return IsOleDbForm(connection_string) ? WithoutPassword(connection_string) : "(unreadable)";
  }
  switch (target.kind) {
    case DbKind::kServer:
      return DescribePostgresServer(target.location);
    case DbKind::kOracle:
      return WithoutPassword(target.location);
    case DbKind::kEmbedded:
      break;
  }
  return target.location;
}

Connection::Connection() = default;
Connection::Connection(std::string_view connection_string) {
  Open(connection_string);
}
Connection::~Connection() = default;
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

void Connection::Open(std::string_view connection_string) {
  Close();
  const ConnectionTarget target = ParseConnectionString(connection_string);
  switch (target.kind) {
    case DbKind::kEmbedded:
      backend_ = OpenSqlite(target.location);
      break;
    case DbKind::kServer:
      backend_ = ConnectPostgres(target.location);
      break;
    case DbKind::kOracle:
      throw DbError(
          "Oracle databases cannot be opened here: their statements are generated as text only");
  }
  connection_string_ = std::string(connection_string);
}

void Connection::Close() {
  if (backend_) ++generation_;
  backend_.reset();
  connection_string_.clear();
}

bool Connection::IsOpen() const {
  return backend_ != nullptr;
}

DbKind Connection::Kind() const {
  return backend_ ? backend_->Kind() : DbKind::kEmbedded;
}

std::string Connection::FilePath() const {
  return backend_ ? backend_->FilePath() : "";
}

std::string Connection::Location() const {
  return backend_ ? backend_->Location() : "";
}

std::optional<DbError> Connection::Lost() const {
  if (!backend_) return std::nullopt;
  return backend_->Lost();
}

Backend& Connection::backend() {
  if (!backend_) throw DbError("the database connection is not open");
  return *backend_;
}

long Connection::Execute(std::string_view sql) {
  return backend().Execute(sql, {});
}

long Connection::Execute(std::string_view sql, const std::vector<Value>& params) {
  return backend().Execute(sql, params);
}

long Connection::InsertSelect(const std::string& target, const std::vector<std::string>& columns,
                              const std::string& select) {
  return backend().InsertSelect(target, columns, select);
}

std::unique_ptr<RowSource> Connection::Scan(std::string_view sql,
                                            const std::vector<Value>& params) {
  backend().Flush();
  return backend().Query(sql, params);
}

std::unique_ptr<RowSource> Connection::ScanTable(std::string_view table) {
  backend().Flush();
  return backend().ScanTable(table);
}

Value Connection::Scalar(std::string_view sql, const std::vector<Value>& params) {
  return backend().Scalar(sql, params);
}

void Connection::BeginTrans() {
  backend().BeginExplicit();
}
void Connection::CommitTrans() {
  backend().CommitExplicit();
}
void Connection::RollbackTrans() {
  backend().RollbackExplicit();
}
bool Connection::InTransaction() const {
  return backend_ && backend_->InTransaction();
}

bool Connection::TableExists(std::string_view name) {
  return backend().TableExists(name);
}

std::string Connection::QuoteTable(std::string_view name) {
  return QuoteName(backend().StoredTableName(name));
}

std::vector<std::string> Connection::ListTables() {
  std::vector<std::string> names;
  std::unique_ptr<RowSource> rows = backend().Query(backend().TableNamesQuery(), {});
  for (std::vector<Value> row; rows->Fetch(row);) names.push_back(row.front().AsText());
  return names;
}

std::vector<ColumnInfo> Connection::Columns(std::string_view table) {
  return backend().TableColumns(table);
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.BeginTrans();
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    connection_.RollbackTrans();
  } catch (const DbError&) {
    // The connection is gone; so is the transaction.
  }
}

void Transaction::Commit() {
  connection_.CommitTrans();
  open_ = false;
}

}  // namespace landstat::db
