#include "platform/db/sqlite_functions.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/text/number_text.h"

namespace landstat::db {
namespace {

// Byte offset of the `chars`-th UTF-8 character of `text` (clamped).
std::size_t CharOffset(std::string_view text, long long chars) {
  std::size_t i = 0;
  while (i < text.size() && chars > 0) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    --chars;
  }
  return i;
}

long long CharCount(std::string_view text) {
  long long count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string_view TextArg(sqlite3_value* value) {
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return bytes ? std::string_view(bytes, sqlite3_value_bytes(value)) : std::string_view();
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  }
  return false;
}

void ResultText(sqlite3_context* context, std::string_view text) {
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Left(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const std::string_view text = TextArg(argv[0]);
  ResultText(context, text.substr(0, CharOffset(text, sqlite3_value_int64(argv[1]))));
}

void Right(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const std::string_view text = TextArg(argv[0]);
  const long long keep = sqlite3_value_int64(argv[1]);
  const long long skip = CharCount(text) - keep;
  ResultText(context, text.substr(CharOffset(text, skip > 0 ? skip : 0)));
}

// mid(text, start[, length]): start counts from 1.
void Mid(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const std::string_view text = TextArg(argv[0]);
  const long long start = sqlite3_value_int64(argv[1]);
  const std::size_t begin = CharOffset(text, start > 1 ? start - 1 : 0);
  std::string_view tail = text.substr(begin);
  if (argc == 3) tail = tail.substr(0, CharOffset(tail, sqlite3_value_int64(argv[2])));
  ResultText(context, tail);
}

void Len(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  sqlite3_result_int64(context, CharCount(TextArg(argv[0])));
}

// instr(start, text, find): the 1-based character position, 0 when absent.
void InstrFrom(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const long long start = sqlite3_value_int64(argv[0]);
  const std::string_view text = TextArg(argv[1]);
  const std::size_t from = CharOffset(text, start > 1 ? start - 1 : 0);
  const std::size_t found = text.find(TextArg(argv[2]), from);
  if (found == std::string_view::npos) return sqlite3_result_int64(context, 0);
  sqlite3_result_int64(context, CharCount(text.substr(0, found)) + 1);
}

void Val(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    return sqlite3_result_double(context, sqlite3_value_double(argv[0]));
  }
  const std::string_view text = TextArg(argv[0]);
  const std::optional<double> number = text::LeadingNumber(text);
  if (!number) {
    const std::string message = "val: the number in '" + std::string(text) + "' is out of range";
    return sqlite3_result_error(context, message.c_str(), -1);
  }
  sqlite3_result_double(context, *number);
}

void Format(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string_view picture = argc > 1 ? TextArg(argv[1]) : std::string_view();
  const int type = sqlite3_value_type(argv[0]);
  if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) {
    // A text that holds a number formats as the number; other text stays.
    std::string_view text = TextArg(argv[0]);
    if (auto number = text::TextToNumber(text); number && !text.empty()) {
      return ResultText(context, text::FormatNumber(*number, picture));
    }
    return ResultText(context, text);
  }
  ResultText(context, text::FormatNumber(sqlite3_value_double(argv[0]), picture));
}

// iif(condition, then, else): a null or zero condition takes the else part.
void Iif(sqlite3_context* context, int, sqlite3_value** argv) {
  const bool truth =
      sqlite3_value_type(argv[0]) != SQLITE_NULL && sqlite3_value_double(argv[0]) != 0;
  sqlite3_result_value(context, truth ? argv[1] : argv[2]);
}

void Round(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const int decimals = argc > 1 ? sqlite3_value_int(argv[1]) : 0;
  sqlite3_result_double(context, text::RoundDecimal(sqlite3_value_double(argv[0]), decimals));
}

// The order key of a text numbered as a surveyor numbers things: each run of
// digits, its leading zeros dropped, as its digit count in three digits and
// the digits, so that the key's bytes compare the runs as numbers; the other
// characters as they are. The server's form of the same key is in
// SqlDialect::NaturalOrder.
void NaturalKey(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  const std::string_view text = TextArg(argv[0]);
  const auto digit = [&](std::size_t at) { return text[at] >= '0' && text[at] <= '9'; };
  std::string key;
  for (std::size_t at = 0; at < text.size();) {
    if (!digit(at)) {
      key += text[at++];
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && digit(end)) ++end;
    std::size_t first = at;
    while (first < end && text[first] == '0') ++first;
    // As the server pads (or cuts) the count to three digits.
    std::string count = std::to_string(end - first);
    count = count.size() < 3 ? std::string(3 - count.size(), '0') + count : count.substr(0, 3);
    key += count;
    key += text.substr(first, end - first);
    at = end;
  }
  ResultText(context, key);
}

struct FunctionEntry {
  const char* name;
  int arguments;
  void (*function)(sqlite3_context*, int, sqlite3_value**);
};

constexpr FunctionEntry kFunctions[] = {
    {"landstat_left", 2, Left},
    {"landstat_right", 2, Right},
    {"mid", 2, Mid},
    {"mid", 3, Mid},
    {"len", 1, Len},
    {"instr", 3, InstrFrom},
    {"val", 1, Val},
    {"format", 1, Format},
    {"format", 2, Format},
    {"iif", 3, Iif},
    {"round", 1, Round},
    {"round", 2, Round},
    {"landstat_natural_key", 1, NaturalKey},
};

}  // namespace

void RegisterAccessFunctions(sqlite3* db) {
  // SQLite 3.32 and later compile iif inline, as a CASE; a function of our
  // own in its place would be called for every row.
  const bool native_iif = sqlite3_libversion_number() >= 3032000;
  for (const FunctionEntry& entry : kFunctions) {
    if (native_iif && std::string_view(entry.name) == "iif") continue;
    sqlite3_create_function_v2(db, entry.name, entry.arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                               nullptr, entry.function, nullptr, nullptr, nullptr);
  }
}

}  // namespace landstat::db
