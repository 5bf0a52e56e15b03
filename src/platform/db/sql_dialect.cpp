#include "platform/db/sql_dialect.h"

#include <fmt/format.h>
#include <fmt/printf.h>

#include <cctype>

#include "platform/db/sql_text.h"

namespace landstat::db {

const SqlDialect& SqlDialect::For(DbKind kind) {
  static const SqlDialect embedded(DbKind::kEmbedded);
  static const SqlDialect server(DbKind::kServer);
  static const SqlDialect oracle(DbKind::kOracle);
  switch (kind) {
    case DbKind::kServer:
      return server;
    case DbKind::kOracle:
      return oracle;
    default:
      return embedded;
  }
}

std::string SqlDialect::SaveQueryAs(std::string_view table, std::string_view query) const {
  if (kind_ == DbKind::kOracle) return fmt::sprintf("create table %s as %s ", table, query);
  return fmt::sprintf("select * into %s from (%s) as tt", table, query);
}

std::string SqlDialect::CopyStructure(std::string_view target, std::string_view source) const {
  return fmt::sprintf("select * into %s from %s where 1<>1", target, source);
}

std::string SqlDialect::EmptyTable(std::string_view table) const {
  return fmt::format("{} {}", kind_ == DbKind::kServer ? "TRUNCATE TABLE" : "DELETE FROM", table);
}

const char* SqlDialect::DoubleType() const {
  switch (kind_) {
    case DbKind::kServer:
      return "float";
    case DbKind::kOracle:
      return "NUMBER";
    default:
      return "double";
  }
}

std::string SqlDialect::ApplyTypeWords(std::string_view statement) const {
  if (kind_ == DbKind::kEmbedded) return std::string(statement);
  return ReplaceWord(statement, "double", DoubleType());
}

const char* SqlDialect::IdentityColumn() const {
  return kind_ == DbKind::kOracle ? "NUMBER" : "int IDENTITY (1, 1) NOT NULL primary key";
}

std::string SqlDialect::Left(std::string_view column, int length) const {
  if (kind_ == DbKind::kOracle) return fmt::format("substr({},0,{})", column, length);
  return fmt::format("left({},{})", column, length);
}

std::string SqlDialect::OnlyDigits(std::string_view expression) const {
  if (kind_ == DbKind::kEmbedded) return fmt::format("{} NOT GLOB '*[^0-9]*'", expression);
  if (kind_ == DbKind::kOracle) return fmt::format("NOT REGEXP_LIKE({},'[^0-9]')", expression);
  return fmt::format("{} !~ '[^0-9]'", expression);
}

std::string SqlDialect::NaturalOrder(std::string_view expression) const {
  // The key compares each run of digits as a number: the embedded engine
  // has it as a function of ours (sqlite_functions.cpp); the server builds
  // the same key from the text's runs; Oracle pads every run to 30 digits.
  // Keys and texts compare by their bytes, as the embedded engine compares.
  std::string key;
  std::string tie(expression);
  if (kind_ == DbKind::kEmbedded) {
    key = fmt::format("landstat_natural_key({})", expression);
  } else if (kind_ == DbKind::kOracle) {
    key = fmt::format(
        "REGEXP_REPLACE(REGEXP_REPLACE(to_char({}),'([0-9]+)','{}\\1'),'0*([0-9]{{30}})','\\1')",
        expression, std::string(30, '0'));
  } else {
    const std::string text = fmt::format("cast({} as text)", expression);
    tie = text + " collate \"C\"";
    key = fmt::format(
        "coalesce((select string_agg(case when part[1] ~ '^[0-9]' then "
        "lpad(length(ltrim(part[1],'0'))::text,3,'0') || ltrim(part[1],'0') else part[1] end,'' "
        "order by place) from regexp_matches({},'[0-9]+|[^0-9]+','g') with ordinality as "
        "runs(part,place)),"
        "'') collate \"C\"",
        text);
  }
  return fmt::format("case when {} is null then 0 else 1 end,{},{}", expression, key, tie);
}

std::string SqlDialect::Iif(std::string_view condition, std::string_view then_value,
                            std::string_view else_value) const {
  if (kind_ == DbKind::kEmbedded) {
    return fmt::format("iif({},{},{})", condition, then_value, else_value);
  }
  return fmt::format("CASE WHEN {} THEN {} ELSE {} END", condition, then_value, else_value);
}

std::string SqlDialect::RoundPicture(int decimals) {
  return "0." + std::string(decimals > 0 ? decimals : 0, '0');
}

std::string SqlDialect::Round(std::string_view expression, int decimals) const {
  if (kind_ == DbKind::kEmbedded) {
    return fmt::format("val(format({},'{}'))", expression, RoundPicture(decimals));
  }
  return fmt::format("round({},{})", expression, decimals);
}

namespace {

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The position after the quoted text opened at `open` (its end when the
// quote is not closed); a doubled quote stays inside.
std::size_t AfterQuoted(std::string_view text, std::size_t open) {
  const char quote = text[open];
  std::size_t at = open + 1;
  while (at < text.size()) {
    if (text[at] != quote) {
      ++at;
    } else if (at + 1 < text.size() && text[at + 1] == quote) {
      at += 2;
    } else {
      return at + 1;
    }
  }
  return at;
}

// The position of the parenthesis of a SUM call starting at `at`, or npos.
std::size_t SumCallAt(std::string_view text, std::size_t at) {
  if (at > 0 && IsWordCharacter(text[at - 1])) return std::string_view::npos;
  if (text.size() - at < 4) return std::string_view::npos;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[at + i])) != "SUM"[i]) {
      return std::string_view::npos;
    }
  }
  std::size_t open = at + 3;
  while (open < text.size() && text[open] == ' ') ++open;
  return open < text.size() && text[open] == '(' ? open : std::string_view::npos;
}

}  // namespace

std::size_t AfterClosing(std::string_view text, std::size_t open) {
  int depth = 0;
  std::size_t at = open;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '\'' || c == '"') {
      at = AfterQuoted(text, at);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return at + 1;
    ++at;
  }
  return std::string_view::npos;
}

std::string SqlDialect::RoundSums(std::string_view statement, int decimals) const {
  if (decimals < 0) return std::string(statement);
  std::string rounded;
  rounded.reserve(statement.size() * 2);
  std::size_t at = 0;
  while (at < statement.size()) {
    const char c = statement[at];
    if (c == '\'' || c == '"') {
      const std::size_t end = AfterQuoted(statement, at);
      rounded.append(statement.substr(at, end - at));
      at = end;
      continue;
    }
    const std::size_t open = SumCallAt(statement, at);
    const std::size_t end = open == std::string_view::npos ? open : AfterClosing(statement, open);
    if (end == std::string_view::npos) {
      rounded += c;
      ++at;
      continue;
    }
    // A SUM inside the summed expression is not an aggregate the table
    // stores; the outer one is rounded whole. round() on every kind: a sum
    // of figures on the grid is off it only by noise, never near a half,
    // where Access's round would differ from Round's form, and it is far
    // cheaper on the embedded engine than formatting each sum as text.
    rounded += fmt::format("round({},{})", statement.substr(at, end - at), decimals);
    at = end;
  }
  return rounded;
}

std::string SqlDialect::MultiTableUpdate(
    std::string_view target, std::string_view other,
    const std::vector<std::pair<std::string, std::string>>& assignments,
    std::string_view condition) const {
  std::string sets;
  for (const auto& [column, value] : assignments) {
    if (!sets.empty()) sets += ",";
    switch (kind_) {
      case DbKind::kEmbedded:
        sets += fmt::format("{}.{}={}", target, column, value);
        break;
      case DbKind::kServer:
        sets += fmt::format("{}={}", column, value);
        break;
      case DbKind::kOracle:
        sets += fmt::format("{}=(SELECT {} FROM {} WHERE {} AND ROWNUM=1)", column, value, other,
                            condition);
        break;
    }
  }
  switch (kind_) {
    case DbKind::kEmbedded:
      return fmt::format("UPDATE {},{} SET {} where {}", target, other, sets, condition);
    case DbKind::kServer:
      return fmt::format("UPDATE {} SET {} FROM {} WHERE {}", target, sets, other, condition);
    case DbKind::kOracle:
      break;
  }
  return fmt::format("UPDATE {} SET {} WHERE EXISTS (SELECT 1 FROM {} WHERE {})", target, sets,
                     other, condition);
}

// A session-level advisory lock under two keys: the program's, and the
// job's in the schema the connection works in (the server's locks are one
// set for all its schemas). The probe takes the lock shared and lets it go
// at once; it cannot be had while another session holds it.
#define LANDSTAT_JOB_KEY "hashtext('landstat'), hashtext(current_schema() || '/' || ?)"

const char* SqlDialect::TakeJobLock() const {
  if (kind_ != DbKind::kServer) return "";
  return "select pg_try_advisory_lock(" LANDSTAT_JOB_KEY ")::int";
}

const char* SqlDialect::JobLockHeld() const {
  if (kind_ != DbKind::kServer) return "";
  return "select (case when pg_try_advisory_lock_shared(" LANDSTAT_JOB_KEY
         ") then not pg_advisory_unlock_shared(" LANDSTAT_JOB_KEY ") else true end)::int";
}

// Ending a session lets its locks go too, but the server does that after
// the client has gone, so another session may still see them for a moment.
const char* SqlDialect::ReleaseJobLocks() const {
  if (kind_ != DbKind::kServer) return "";
  return "select pg_advisory_unlock_all()";
}

#undef LANDSTAT_JOB_KEY

// Keyed apart from the job locks, by the schema and the table's name as the
// server stores an unquoted one.
const char* SqlDialect::TakeCreateLock() const {
  if (kind_ != DbKind::kServer) return "";
  return "select pg_advisory_xact_lock(hashtext('landstat/create'), hashtext(current_schema() || "
         "'/' || lower(?)))";
}

}  // namespace landstat::db
