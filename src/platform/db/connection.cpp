#include "platform/db/connection.h"

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/postgres_backend.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_text.h"
#include "platform/db/sqlite_backend.h"

namespace landstat::db {
namespace {

// The value of `key` in a "key=value;key=value" string, any case; empty
// when absent.
std::optional<std::string> PropertyOf(std::string_view text, std::string_view key) {
  for (const std::string& part : SplitTopLevel(text, ';')) {
    const std::size_t equals = part.find('=');
    if (equals == std::string::npos) continue;
    if (IEquals(Trim(std::string_view(part).substr(0, equals)), key)) {
      return Trim(std::string_view(part).substr(equals + 1));
    }
  }
  return std::nullopt;
}

bool LooksLikeConninfo(std::string_view text) {
  const std::string lower = ToLowerAscii(text);
  if (lower.rfind("postgresql://", 0) == 0 || lower.rfind("postgres://", 0) == 0) return true;
  for (const char* key : {"host=", "hostaddr=", "dbname=", "service=", "port=", "user="}) {
    const std::size_t at = lower.find(key);
    if (at != std::string::npos && (at == 0 || lower[at - 1] == ' ')) return true;
  }
  return false;
}

}  // namespace

ConnectionTarget ParseConnectionString(std::string_view connection_string) {
  const std::string text = Trim(connection_string);
  if (text.empty()) throw DbError("the connection string is empty");
  if (auto provider = PropertyOf(text, "Provider")) {
    const std::string lower = ToLowerAscii(*provider);
    if (lower.find("oracle") != std::string::npos || lower.find("msdaora") != std::string::npos) {
      return {DbKind::kOracle, text};
    }
    if (lower.find("jet") == std::string::npos && lower.find("ace") == std::string::npos) {
      throw DbError("the connection string names an unknown provider: " + *provider);
    }
    auto source = PropertyOf(text, "Data Source");
    if (!source || source->empty()) {
      throw DbError("the connection string names no Data Source: " + text);
    }
    return {DbKind::kEmbedded, *source};
  }
  if (LooksLikeConninfo(text)) return {DbKind::kServer, text};
  if (text.find(';') != std::string::npos || text.find('=') != std::string::npos) {
    throw DbError("the connection string is neither a database file nor a server: " + text);
  }
  return {DbKind::kEmbedded, text};
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

Value Connection::Scalar(std::string_view sql, const std::vector<Value>& params) {
  std::unique_ptr<RowSource> rows = backend().Query(sql, params);
  std::vector<Value> row;
  if (!rows->Fetch(row) || row.empty()) return Value();
  return row.front();
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
