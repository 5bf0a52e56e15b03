#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {

// The statement forms that differ between the statistics database kinds:
// Access (run on the embedded engine), the generic server, and Oracle.
// Builders ask the dialect for these forms and write everything else once.
class SqlDialect {
 public:
  static const SqlDialect& For(DbKind kind);

  DbKind Kind() const { return kind_; }

  // A query saved as a new table: "select * into %s from (%s) as tt", on
  // Oracle "create table %s as %s ".
  std::string SaveQueryAs(std::string_view table, std::string_view query) const;
  // An empty copy of a table with its columns, types and defaults:
  // "select * into %s from %s where 1<>1" on every kind.
  std::string CopyStructure(std::string_view target, std::string_view source) const;
  // Every row of a table deleted at once, its pages let go whole rather than
  // row by row: "DELETE FROM t" (which the embedded engine empties so),
  // "TRUNCATE TABLE t" on the generic server (in the transaction, undone
  // with it).
  std::string EmptyTable(std::string_view table) const;

  // The word for area columns: "double", "float" on the server, "NUMBER" on
  // Oracle; and a finished create statement with its "double" words replaced.
  const char* DoubleType() const;
  std::string ApplyTypeWords(std::string_view statement) const;
  // The numbering column of a table: "int IDENTITY (1, 1) NOT NULL primary
  // key", on Oracle "NUMBER".
  const char* IdentityColumn() const;

  // The first n characters of a column: left(c,n), on Oracle substr(c,0,n).
  std::string Left(std::string_view column, int length) const;
  // A condition true when a text holds digits only (the empty text too):
  // GLOB on the embedded engine, a regular expression on the servers.
  std::string OnlyDigits(std::string_view expression) const;
  // The keys that list texts numbered as a surveyor numbers things (parcel,
  // lot and house numbers) in their natural order, the same on every kind: a
  // missing one first, then each run of digits compared as a number ("12-9"
  // before "12-10", 9 before 10) and the other characters by their code,
  // then the text itself ("12" before "012").
  std::string NaturalOrder(std::string_view expression) const;
  // A conditional value: iif(c,a,b) on Access, CASE WHEN on the servers.
  std::string Iif(std::string_view condition, std::string_view then_value,
                  std::string_view else_value) const;
  // An expression rounded to d decimals: val(format(x,'0.00')) on Access,
  // round(x,d) on the servers.
  std::string Round(std::string_view expression, int decimals) const;
  // The picture of Access's format for d decimals: "0." and d zeros.
  static std::string RoundPicture(int decimals);
  // The statement with every SUM(...) outside quoted text rounded to d
  // decimals by round(x,d), so that a sum of figures on that grid is stored
  // on it, whatever order the engine added them in. Below 0: unchanged.
  std::string RoundSums(std::string_view statement, int decimals) const;

  // An update of `target` from a second table: Jet's "UPDATE a,b SET a.x=..."
  // on Access, "UPDATE a SET x=... FROM b" on the generic server, correlated
  // subqueries on Oracle.
  std::string MultiTableUpdate(std::string_view target, std::string_view other,
                               const std::vector<std::pair<std::string, std::string>>& assignments,
                               std::string_view condition) const;

  // The lock a job holds on one year and county of a server schema for the
  // life of its session (it goes when the job ends or its connection drops):
  // the query that takes it without waiting, and the query whether another
  // session holds it, each of one value, 1 for yes, with the year and
  // county's key bound to their '?'. Empty where the engine has no such
  // lock: an embedded file is locked beside it (RunWorkspace).
  const char* TakeJobLock() const;
  const char* JobLockHeld() const;
  // Lets go of every job lock the session holds (empty on SQLite).
  const char* ReleaseJobLocks() const;
  // The lock a job takes, to the end of its transaction, before it makes a
  // table that jobs of other years and counties may make at the same time,
  // or refreshes its rows of one they share, with the table's name bound to
  // its '?'. Empty on SQLite, where one job at a time writes a file.
  const char* TakeCreateLock() const;

 private:
  explicit SqlDialect(DbKind kind) : kind_(kind) {}
  DbKind kind_;
};

// The position after the parenthesis that closes the one at `open` in a
// statement's text (quoted text skipped), or npos.
std::size_t AfterClosing(std::string_view text, std::size_t open);

}  // namespace landstat::db
