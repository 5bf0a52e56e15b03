#include "platform/db/sql_dialect.h"

#include <fmt/format.h>
#include <fmt/printf.h>

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

#undef LANDSTAT_JOB_KEY

}  // namespace landstat::db
