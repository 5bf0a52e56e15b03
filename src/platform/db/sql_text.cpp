#include "platform/db/sql_text.h"

#include <cctype>
#include <regex>

#include "platform/text/ascii_text.h"

namespace landstat::db {
namespace {

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || u >= 0x80;
}

// Calls `visit(i)` for every character at the top level (outside quotes and
// parentheses); stops when it returns true, giving that position.
template <typename Visit>
std::size_t WalkTopLevel(std::string_view sql, std::size_t from, Visit visit) {
  int depth = 0;
  for (std::size_t i = from; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = sql.find(c, i + 1);
      if (close == std::string_view::npos) return std::string_view::npos;
      i = close;
      continue;
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0 && visit(i)) {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

bool StartsWithWord(std::string_view sql, std::string_view word) {
  const std::string trimmed = text::Trim(sql);
  if (trimmed.size() < word.size()) return false;
  if (!text::IEquals(std::string_view(trimmed).substr(0, word.size()), word)) return false;
  return trimmed.size() == word.size() || !IsWordChar(trimmed[word.size()]);
}

std::size_t FindTopLevelKeyword(std::string_view sql, std::string_view keyword, std::size_t from) {
  return WalkTopLevel(sql, from, [&](std::size_t i) {
    if (i + keyword.size() > sql.size()) return false;
    if (!text::IEquals(sql.substr(i, keyword.size()), keyword)) return false;
    const bool starts = i == 0 || !IsWordChar(sql[i - 1]);
    const bool ends = i + keyword.size() == sql.size() || !IsWordChar(sql[i + keyword.size()]);
    return starts && ends;
  });
}

std::vector<std::string> SplitTopLevel(std::string_view sql, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  WalkTopLevel(sql, 0, [&](std::size_t i) {
    if (sql[i] == separator) {
      parts.push_back(text::Trim(sql.substr(start, i - start)));
      start = i + 1;
    }
    return false;
  });
  parts.push_back(text::Trim(sql.substr(start)));
  return parts;
}

std::string NumberParameterMarks(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  int number = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t close = sql.find(c, i + 1);
      if (close == std::string_view::npos) close = sql.size() - 1;
      out.append(sql.substr(i, close - i + 1));
      i = close;
    } else if (c == '?') {
      out += '$' + std::to_string(++number);
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<SingleTableSelect> ParseSingleTableSelect(std::string_view sql) {
  const std::string text = text::Trim(sql);
  if (!StartsWithWord(text, "select")) return std::nullopt;
  const std::size_t from = FindTopLevelKeyword(text, "from");
  if (from == std::string::npos) return std::nullopt;
  std::string list = text::Trim(std::string_view(text).substr(6, from - 6));
  if (StartsWithWord(list, "distinct") || StartsWithWord(list, "top")) return std::nullopt;
  std::string_view after = std::string_view(text).substr(from + 4);
  std::size_t i = 0;
  while (i < after.size() && std::isspace(static_cast<unsigned char>(after[i]))) ++i;
  std::size_t name_end = i;
  while (name_end < after.size() && (IsWordChar(after[name_end]) || after[name_end] == '.')) {
    ++name_end;
  }
  if (name_end == i) return std::nullopt;
  std::string table(after.substr(i, name_end - i));
  std::string rest(after.substr(name_end));
  const std::string trimmed_rest = text::Trim(rest);
  // Anything but a filter or an order means more than one table or grouping.
  if (!trimmed_rest.empty() && !StartsWithWord(trimmed_rest, "where") &&
      !StartsWithWord(trimmed_rest, "order")) {
    return std::nullopt;
  }
  if (FindTopLevelKeyword(rest, "group") != std::string::npos ||
      FindTopLevelKeyword(rest, "union") != std::string::npos) {
    return std::nullopt;
  }
  return SingleTableSelect{std::move(list), std::move(table), std::move(rest)};
}

std::optional<SelectInto> ParseSelectInto(std::string_view sql) {
  const std::string text = text::Trim(sql);
  if (!StartsWithWord(text, "select")) return std::nullopt;
  const std::size_t into = FindTopLevelKeyword(text, "into");
  const std::size_t from = FindTopLevelKeyword(text, "from");
  if (into == std::string::npos || from == std::string::npos || into > from) return std::nullopt;
  SelectInto parsed;
  parsed.list = text::Trim(std::string_view(text).substr(6, into - 6));
  parsed.target = text::Trim(std::string_view(text).substr(into + 4, from - into - 4));
  parsed.from = text::Trim(std::string_view(text).substr(from + 4));
  if (parsed.target.empty() || parsed.list.empty() || parsed.from.empty()) return std::nullopt;
  return parsed;
}

std::optional<std::string> RewriteMultiTableUpdate(std::string_view sql) {
  const std::string text = text::Trim(sql);
  if (!StartsWithWord(text, "update")) return std::nullopt;
  const std::size_t set = FindTopLevelKeyword(text, "set");
  if (set == std::string::npos) return std::nullopt;
  const std::vector<std::string> tables = SplitTopLevel(std::string_view(text).substr(6, set - 6));
  if (tables.size() < 2) return std::nullopt;
  const std::size_t where = FindTopLevelKeyword(text, "where", set);
  const std::string_view assignments_text = std::string_view(text).substr(
      set + 3, (where == std::string::npos ? text.size() : where) - set - 3);
  const std::string& target = tables.front();
  std::string assignments;
  for (const std::string& assignment : SplitTopLevel(assignments_text)) {
    std::string item = assignment;
    // "A.col=..." names the target's column: the standard form takes it bare.
    if (item.size() > target.size() + 1 && text::IEquals(item.substr(0, target.size()), target) &&
        item[target.size()] == '.') {
      item.erase(0, target.size() + 1);
    }
    if (!assignments.empty()) assignments += ", ";
    assignments += item;
  }
  std::string out = "UPDATE " + target + " SET " + assignments + " FROM ";
  for (std::size_t i = 1; i < tables.size(); ++i) {
    if (i > 1) out += ", ";
    out += tables[i];
  }
  if (where != std::string::npos) out += " " + std::string(std::string_view(text).substr(where));
  return out;
}

namespace {

// Copies `sql`, calling `at_word(i, out)` at each word start outside quotes;
// it returns how many characters it consumed (0 to copy the character).
template <typename AtWord>
std::string RewriteWords(std::string_view sql, AtWord at_word) {
  std::string out;
  out.reserve(sql.size() + 16);
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t close = sql.find(c, i + 1);
      if (close == std::string_view::npos) close = sql.size() - 1;
      out.append(sql.substr(i, close - i + 1));
      i = close + 1;
      continue;
    }
    if (i == 0 || !IsWordChar(sql[i - 1])) {
      if (const std::size_t used = at_word(i, out)) {
        i += used;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

bool WordAt(std::string_view sql, std::size_t i, std::string_view word) {
  return i + word.size() <= sql.size() && text::IEquals(sql.substr(i, word.size()), word) &&
         (i + word.size() == sql.size() || !IsWordChar(sql[i + word.size()]));
}

std::size_t SkipBlanks(std::string_view sql, std::size_t i) {
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  return i;
}

// Whether a call of the function `name` starts at `i`. A qualified name
// ("x.round(") is someone else's function.
bool CallAt(std::string_view sql, std::size_t i, std::string_view name) {
  if (i > 0 && sql[i - 1] == '.') return false;
  if (!WordAt(sql, i, name)) return false;
  const std::size_t next = SkipBlanks(sql, i + name.size());
  return next < sql.size() && sql[next] == '(';
}

}  // namespace

std::string RenameFunctionCalls(std::string_view sql, std::string_view from, std::string_view to) {
  return RewriteWords(sql, [&](std::size_t i, std::string& out) -> std::size_t {
    if (!CallAt(sql, i, from)) return 0;
    out.append(to);
    return from.size();
  });
}

bool AddsUpRows(std::string_view sql) {
  bool adds = false;
  RewriteWords(sql, [&](std::size_t i, std::string&) -> std::size_t {
    for (std::string_view aggregate : {"sum", "avg", "total"}) {
      adds = adds || CallAt(sql, i, aggregate);
    }
    return 0;
  });
  return adds;
}

std::string MapWords(std::string_view sql,
                     const std::function<std::string(std::string_view word)>& map) {
  return RewriteWords(sql, [&](std::size_t i, std::string& out) -> std::size_t {
    std::size_t end = i;
    while (end < sql.size() && IsWordChar(sql[end])) ++end;
    if (end == i) return 0;
    out += map(sql.substr(i, end - i));
    return end - i;
  });
}

std::string ReplaceWord(std::string_view sql, std::string_view word, std::string_view replacement,
                        std::string_view unless_next) {
  return RewriteWords(sql, [&](std::size_t i, std::string& out) -> std::size_t {
    if (!WordAt(sql, i, word)) return 0;
    if (!unless_next.empty() && WordAt(sql, SkipBlanks(sql, i + word.size()), unless_next)) {
      return 0;
    }
    out.append(replacement);
    return word.size();
  });
}

std::string ReplaceIdentityColumn(std::string_view sql, std::string_view replacement) {
  static const std::regex kIdentity(R"(\bint\s+identity\s*\(\s*\d+\s*,\s*\d+\s*\))",
                                    std::regex::icase);
  return std::regex_replace(std::string(sql), kIdentity, std::string(replacement));
}

bool ReturnsRows(std::string_view sql) {
  return (StartsWithWord(sql, "select") && !ParseSelectInto(sql)) || StartsWithWord(sql, "with") ||
         StartsWithWord(sql, "pragma") || StartsWithWord(sql, "values");
}

}  // namespace landstat::db
