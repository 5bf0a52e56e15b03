#pragma once

// The code tables every county of a database shares under one plain name
// (the ownership-unit codes QSDMB, the code table's copy CODETBL1 and the
// administrative codes NCTDLYQS). They hold every county's rows: a county's
// rows are those whose code begins with its code; the codes of its province
// and city, and codes of no county (land classes, natures), are shared by
// the counties that list them. A run refreshes its county's rows only, and
// a reader reads its county's rows only, on a server and in an embedded file
// alike (a file whose statistics were replaced by another county's keeps the
// earlier county's rows unread).

#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat {

struct SharedCodeTable {
  const char* name;
  const char* create;                // the statement that makes the table
  std::vector<std::string> columns;  // in the order a row gives them
  std::size_t code;                  // the column of the code
  std::vector<std::size_t> key;      // the columns that tell a shared row apart
  std::size_t width = 0;             // codes are filled with "0" to it; 0: not filled
};

extern const SharedCodeTable kQsdmbTable;
extern const SharedCodeTable kCodeTbl1Table;
extern const SharedCodeTable kNcTdlyQsTable;

// Makes the table `name` by the statement `create` when the database has
// none of that name. It is for the tables that jobs of several years or
// counties share and the first job to need one makes (the code tables, the
// record of jobs, the area-unit tables): on a server two jobs may find one
// missing at once. The one that makes it holds a lock on its name to the
// end of its transaction; the other waits on that lock and then finds the
// table made (or makes it, when the first job rolled back). Outside a
// transaction the making is a transaction of its own. Raises DbError.
void CreateSharedTable(db::Connection& conn, const std::string& name, const std::string& create);

// Refreshes a county's rows of a shared table with `rows` (texts, one per
// column): makes the table when missing, deletes the county's rows and adds
// `rows`; a row that is not the county's is added only when no row of its
// key is there. On a server, jobs that refresh the table at the same time
// take turns, each holding the table's lock to the end of its transaction.
// Raises DbError; the caller's transaction undoes the refresh then.
void RefreshCountyRows(db::Connection& conn, const SharedCodeTable& table,
                       const std::string& county,
                       const std::vector<std::vector<std::string>>& rows);

// The condition that selects a county's rows of a shared table, with its
// province and city rows, its values quoted: for "where" or "and".
std::string CountyRowsCondition(const SharedCodeTable& table, const std::string& county,
                                const std::string& alias = "");

// The county's rows of a shared table, with its province and city rows, as
// a subquery for a FROM clause (the caller names it).
std::string CountyRowsOf(const SharedCodeTable& table, const std::string& county);

}  // namespace landstat
