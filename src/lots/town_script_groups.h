#pragma once

// The groupings of a town script made once for all its levels: a script
// whose common table expressions each group the lots of the base table by a
// prefix of their number joined to the code table,
//
//   with G6 AS (select mid(a.地籍号,1,6) AS XZQDM, b.代码名称 AS MC,
//                      count(*) AS N, SUM(expression) AS S, ...
//               from SOURCE a, CODES b
//               where mid(a.地籍号,1,6)=b.代码 AND a.土地用途 is not null
//               GROUP BY mid(a.地籍号,1,6),b.代码名称), G9 AS (...) ...
//   select ... from G6 union select ... from G9 ...
//
// groups every level in one scan of the lots instead of one sort of them
// per level. The engine still works out each summed expression on each lot
// row. On the embedded engine the lots are grouped in memory and the sums
// added in the order of the rows, as the grouping statement adds them; on a
// server the server groups the lots once by every level's prefix, and each
// level adds up those groups. Either way the sums are rounded by the same
// rounding. The groups go into temporary tables made by the expressions'
// own statements over no rows, so that the script's final part, reading
// them, makes the same table with the same types.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/sql_dialect.h"

namespace landstat {

class ScriptGroups {
 public:
  // The groupings of `script`, the script's text over `source` (alias a)
  // and `codes` (alias b); null when the script is not of that form.
  static std::unique_ptr<ScriptGroups> Parse(std::string_view script, std::string_view source,
                                             std::string_view codes);
  ~ScriptGroups();
  ScriptGroups(const ScriptGroups&) = delete;
  ScriptGroups& operator=(const ScriptGroups&) = delete;

  // Groups the lots (in memory on the embedded engine, by the server on a
  // server) into temporary tables of `connection`, each made by
  // its expression of `empty_script` (the same script over `empty_source`,
  // a source of no rows) with every sum rounded to `decimals` as `dialect` rounds them,
  // and gives the script's statement over those tables. Raises DbError,
  // also where a summed field is no number, which the script's own
  // statement would read otherwise. The tables go with this object.
  std::string Statement(db::Connection& connection, const db::SqlDialect& dialect,
                        std::string_view empty_script, std::string_view empty_source, int decimals);

  struct Level;

 private:
  ScriptGroups();

  db::Connection* connection_ = nullptr;  // where the temporary tables are
  std::string source_, codes_, tail_;
  std::vector<Level> levels_;
  std::vector<std::string> expressions_;  // the summed expressions, each once
  std::vector<std::string> tables_;       // the temporary tables made
};

}  // namespace landstat
