#include "platform/db/sql_quote.h"

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

}  // namespace landstat::db
