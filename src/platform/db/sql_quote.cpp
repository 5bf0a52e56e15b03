#include "platform/db/sql_quote.h"

#include <algorithm>

namespace landstat::db {
namespace {

std::string Enclose(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  for (char c : text) {
    if (c == '\0') continue;  // no engine takes a NUL inside a literal
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

}  // namespace

std::string QuoteText(std::string_view text) {
  return Enclose(text, '\'');
}

std::string QuoteName(std::string_view name) {
  return Enclose(name, '"');
}

bool PlainTableName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

}  // namespace landstat::db
