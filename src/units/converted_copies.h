#pragma once

// The hectare and mu copies of a base table on the embedded engine, made
// from one read of the base table: each row converted and rounded in
// memory, written to every copy, and kept for the copies' balancing, so
// that no copy is read back before it is balanced.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "units/copy_rows.h"

namespace landstat::db {
class Connection;
class SqlDialect;
}  // namespace landstat::db

namespace landstat::units {

// Whether a column of a base table holds an area that its unit copies
// convert: "土地总面积" and the class columns "BM...".
bool IsCopiedArea(std::string_view column);

// Beyond this size of an area, a copy's conversion rounds through the
// figure's text (the embedded engine's round() is exact below it).
double RoundingBound(double factor, short decimals);

// An area converted by a factor written as SQL writes it ("/10000",
// "*3/2000": steps taken from left to right) and rounded to `decimals`,
// the figure the embedded engine's statements give; 0 stays 0. Beyond the
// rounding bound the converted figure is rounded by `beyond`: by default
// through its text, as format() and val() make and read it (the copies'
// statement); a conversion by round() itself asks the engine.
class AreaConversion {
 public:
  using Rounding = std::function<double(double converted)>;
  AreaConversion(std::string_view factor_text, double factor, short decimals, Rounding beyond = {});
  double operator()(double area) const;

 private:
  struct Step {
    bool multiply = true;
    double by = 1;
  };
  std::vector<Step> steps_;
  double bound_ = 0;
  short decimals_ = 0;
  Rounding beyond_;
};

// A conversion that rounds as round() of a conversion statement on the
// embedded engine of `connection` does: beyond the rounding bound the
// engine itself is asked, holding `connection_lock` meanwhile (for writes
// whose rows are stored on another thread of that connection).
AreaConversion EngineRoundedConversion(db::Connection& connection, std::mutex& connection_lock,
                                       std::string_view factor_text, double factor, short decimals);

// The SQL of an area column converted by a factor written as SQL writes it
// and rounded as the copies hold it: 0 stays 0, and only the other figures
// are converted (on the embedded engine by round() below the rounding
// bound, through the text beyond it: the same figure as the dialect's
// rounding).
std::string ConvertedAreaSql(const db::SqlDialect& dialect, const std::string& column,
                             const std::string& factor_text, double factor, short decimals);

// A copy to fill: created empty with the columns of the base table.
struct ConvertedCopy {
  std::string table;
  std::string factor_text;
  double factor = 1;
  short decimals = 0;
  // Sums of the copy made as it is written, kept with its rows (see
  // CopyRows::Sums).
  std::vector<CopySumsRequest> sums;
};

// Sums of the source itself made from the read that fills the copies
// (`made`, in the order of `requests`). A request whose keys are not all
// text columns of the source is not made: the source is read for it.
struct SourceSums {
  std::vector<CopySumsRequest> requests;
  std::vector<FedCopySums> made;
};

// The highest rowid of a table, 0 when it is empty.
std::int64_t LastRowId(db::Connection& connection, const std::string& table);

// Whether FillConvertedCopies can fill copies of `source` on this
// connection: an embedded database, and rows numbered by SQLite itself.
bool CanFillInMemory(db::Connection& connection, const std::string& source);

// Fills every copy from one read of `source`, in the source's row order,
// and gives back each copy's rows as CopyRows reads them (with every
// class). Several copies are written at once, each by a thread of its own
// into a scratch file beside the database, then moved into their tables
// whole; one copy, or a connection holding writes not yet committed, is
// written in place. Raises DbError when a table cannot be read or written;
// a copy whose writes had not been moved in is then left as it was.
std::vector<std::unique_ptr<CopyRows>> FillConvertedCopies(
    db::Connection& connection, const std::string& source, const std::vector<ConvertedCopy>& copies,
    const BalanceColumns& columns, const CopyRows::Scope& scope, SourceSums* source_sums = nullptr);

}  // namespace landstat::units
