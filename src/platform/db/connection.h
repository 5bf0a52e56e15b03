#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/db_error.h"
#include "platform/db/value.h"

namespace landstat::db {

// Which database a connection reaches. It decides the SQL dialect.
enum class DbKind {
  kEmbedded,  // an SQLite file per county and year, the stand-alone mode
  kServer,    // PostgreSQL, the generic server
  kOracle,    // Oracle: its SQL is generated as text only, never connected
};

struct ColumnInfo {
  std::string name;
  FieldType type = FieldType::kUnknown;
  std::string declared;                     // the type as the table declares it
  std::optional<std::string> default_text;  // the column's default, as SQL text
  bool not_null = false;
  bool primary_key = false;
};

class Backend;
class RowSource;

// What a connection string names, decided in this order: a file that exists
// is an SQLite file, whatever its name holds; the Access form
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=PATH" names an SQLite file (PATH
// may hold ';' and '=', or be quoted in " or '), an Oracle provider names
// Oracle; what libpq reads as a conninfo ("host=... dbname=..."), a
// "service=NAME" or a postgresql:// URI names a PostgreSQL server; anything
// else is the path of an SQLite file.
struct ConnectionTarget {
  DbKind kind = DbKind::kEmbedded;
  std::string location;  // the file path, or the libpq conninfo
};
ConnectionTarget ParseConnectionString(std::string_view connection_string);

// What a connection string names, for people to read, without connecting:
// the file, or the server's host, port, database, user and service; never
// the string itself, whose password would show.
std::string DescribeConnection(std::string_view connection_string);

// A connection to the statistics database. Statements run in autocommit
// unless a transaction is open; recordsets that write open one of their own
// and commit it when they close, so a walk over a million rows is never a
// commit per row.
class Connection {
 public:
  Connection();
  explicit Connection(std::string_view connection_string);
  ~Connection();
  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Open(std::string_view connection_string);
  void Close();
  bool IsOpen() const;
  DbKind Kind() const;
  const std::string& ConnectionString() const { return connection_string_; }
  // The SQLite file of an embedded connection; empty for a server.
  std::string FilePath() const;
  // The file, or the server's host, port and database; never a password.
  std::string Location() const;
  // Why the connection can do no more of a job's work, once that is so: the
  // server was lost (stopped, or its session ended), after which every
  // statement fails; or a statement met a full disk, or one that failed to
  // read or write, after which the database may lack what was written.
  // Empty while the connection is sound.
  std::optional<DbError> Lost() const;

  // Runs one statement (or, without parameters, several separated by ';').
  // Parameters bind to '?' marks. Returns the number of rows changed.
  long Execute(std::string_view sql);
  long Execute(std::string_view sql, const std::vector<Value>& params);
  // "INSERT INTO target (columns) select": the rows of the query `select`
  // stored into `target` in the query's order; returns the rows stored. A
  // server reads the query with parallel workers (see the PostgreSQL
  // backend).
  long InsertSelect(const std::string& target, const std::vector<std::string>& columns,
                    const std::string& select);

  // The rows of a query, read by column number (RowSource::Next), after
  // every buffered write has been stored: for passes over whole tables.
  std::unique_ptr<RowSource> Scan(std::string_view sql, const std::vector<Value>& params = {});

  // Every row of a table (named as unquoted SQL names it), in the order
  // "select * from" gives them, after every buffered write has been
  // stored: a server sends them in its binary form where the table's
  // columns allow (see the PostgreSQL backend).
  std::unique_ptr<RowSource> ScanTable(std::string_view table);
  // The first column of the first row, or null when there is no row.
  Value Scalar(std::string_view sql, const std::vector<Value>& params = {});

  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;

  // Catalogue look-ups: a table or view of this name (as unquoted SQL names
  // it, so case does not matter), and the columns of a table.
  bool TableExists(std::string_view name);
  // The table of that unquoted name as a quoted identifier (QuoteName), in
  // the case the engine stores it: for names that come from outside.
  std::string QuoteTable(std::string_view name);
  std::vector<ColumnInfo> Columns(std::string_view table);
  // The tables of the database (of the current schema on a server), sorted.
  std::vector<std::string> ListTables();

  Backend& backend();
  // Changes whenever the connection is closed, so that recordsets opened
  // before can tell that their cursor went with it.
  unsigned long Generation() const { return generation_; }

 private:
  std::unique_ptr<Backend> backend_;
  unsigned long generation_ = 0;
  std::string connection_string_;
};

// Runs a set of statements as one unit: rolled back unless Commit is called.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace landstat::db
