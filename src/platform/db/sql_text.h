#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace landstat::db {

// Columns listed for SQL ("a,b,c").
inline std::string JoinedColumns(const std::vector<std::string>& columns) {
  std::string text;
  for (const std::string& column : columns) text += (text.empty() ? "" : ",") + column;
  return text;
}

// Small helpers that read SQL text the way the engine writes it: they skip
// quoted strings ('...' and "...") and parenthesised parts.

// Position of `keyword` (a whole word, any case) at the top level of `sql`,
// from `from` on; npos when absent.
std::size_t FindTopLevelKeyword(std::string_view sql, std::string_view keyword,
                                std::size_t from = 0);

// Splits at the commas of the top level; the parts keep their blanks trimmed.
std::vector<std::string> SplitTopLevel(std::string_view sql, char separator = ',');

bool StartsWithWord(std::string_view sql, std::string_view word);

// Replaces each '?' outside quotes by "$1", "$2", ... for PostgreSQL.
std::string NumberParameterMarks(std::string_view sql);

// A single-table select: "select LIST from TABLE [where/order by ...]".
struct SingleTableSelect {
  std::string list;   // the select list
  std::string table;  // the one table read
  std::string rest;   // everything after the table name
};
std::optional<SingleTableSelect> ParseSingleTableSelect(std::string_view sql);

// "select LIST into TARGET from REST".
struct SelectInto {
  std::string list;
  std::string target;
  std::string from;  // the text after "from"
};
std::optional<SelectInto> ParseSelectInto(std::string_view sql);

// Jet's "UPDATE A,B SET A.x=B.y WHERE ..." rewritten as the standard
// "UPDATE A SET x=B.y FROM B WHERE ..." that SQLite and PostgreSQL run.
std::optional<std::string> RewriteMultiTableUpdate(std::string_view sql);

// Renames calls of a function: each word `from` (any case) outside quotes
// that is followed by '(' becomes `to`. SQLite reads "left(" as the start of
// a join, so its engine calls the Access function by another name.
std::string RenameFunctionCalls(std::string_view sql, std::string_view from, std::string_view to);

// Whether the text calls, outside quotes, an aggregate that adds up the
// numbers of rows (sum, avg, total): in floating point its result depends on
// the order the rows are added in.
bool AddsUpRows(std::string_view sql);

// Each whole word outside quotes replaced by what `map` gives for it.
std::string MapWords(std::string_view sql,
                     const std::function<std::string(std::string_view word)>& map);
// Replaces the whole word `word` (any case) outside quotes by `replacement`,
// except where the next word is `unless_next` ("double" but not "double
// precision").
std::string ReplaceWord(std::string_view sql, std::string_view word, std::string_view replacement,
                        std::string_view unless_next = {});

// Replaces Access's numbering column type "int IDENTITY (1, 1)".
std::string ReplaceIdentityColumn(std::string_view sql, std::string_view replacement);

// True when the statement returns rows (a select or a with-query).
bool ReturnsRows(std::string_view sql);

}  // namespace landstat::db
