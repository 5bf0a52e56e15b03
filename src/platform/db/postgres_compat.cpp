#include "platform/db/postgres_compat.h"

#include <string_view>

namespace landstat::db {

// Access functions that statements written for Access and the generic server
// call, created once per database, in a schema every role may use. Rounding is half away from zero
// on the value's decimal form (the 15 digits numeric takes of a double), as on the embedded
// engine. The trip through numeric is most of a summary's time on a server, so only values that
// lie within the error of that form from a half take it: a zero (most sums of a class column) is
// 0, and any other value is rounded in double precision, where the scaled value is at least
// 1e-13 of itself away from a half (the 15-digit form moves it by at most 5e-15 of itself) and
// the quotient of the whole number and the exact power of ten is the double nearest the decimal,
// as numeric's own conversion gives. Adding 0 turns a negative zero into 0, as numeric has none.
// Neither rounding is STRICT, so that the server can inline it (a NULL still gives NULL). Every
// function is safe in parallel workers, so that a query calling one may be read by them.
const char* const kPostgresCompatSql = R"SQL(
CREATE SCHEMA IF NOT EXISTS landstat_compat;
GRANT USAGE ON SCHEMA landstat_compat TO PUBLIC;
CREATE OR REPLACE FUNCTION landstat_compat.iif(boolean, anycompatible, anycompatible)
  RETURNS anycompatible LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT CASE WHEN $1 THEN $2 ELSE $3 END $$;
CREATE OR REPLACE FUNCTION landstat_compat.round(double precision, integer)
  RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT CASE WHEN $1 = 0 THEN 0::double precision
                    WHEN $2 BETWEEN 0 AND 15
                         AND abs(abs($1 * 10::double precision ^ $2
                                     - trunc($1 * 10::double precision ^ $2))
                                 - 0.5::double precision)
                             > 1e-13::double precision * abs($1 * 10::double precision ^ $2)
                    THEN trunc($1 * 10::double precision ^ $2 + sign($1) * 0.5::double precision)
                         / 10::double precision ^ $2 + 0::double precision
                    ELSE round($1::numeric, $2)::double precision END $$;
CREATE OR REPLACE FUNCTION landstat_compat.round(double precision)
  RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT CASE WHEN $1 = 0 THEN 0::double precision
                    WHEN abs(abs($1 - trunc($1)) - 0.5::double precision)
                         > 1e-13::double precision * abs($1)
                    THEN trunc($1 + sign($1) * 0.5::double precision) + 0::double precision
                    ELSE round($1::numeric)::double precision END $$;
CREATE OR REPLACE FUNCTION landstat_compat.val(text)
  RETURNS double precision LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT coalesce(substring(btrim($1) from '^[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?'), '0')::double precision $$;
CREATE OR REPLACE FUNCTION landstat_compat.val(double precision)
  RETURNS double precision LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT $1 $$;
CREATE OR REPLACE FUNCTION landstat_compat.format(double precision, text)
  RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT round($1::numeric, coalesce(length(substring($2 from '\.([0#]*)')), 0))::text $$;
CREATE OR REPLACE FUNCTION landstat_compat.format(text, text)
  RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT CASE WHEN btrim($1) ~ '^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$'
                    THEN landstat_compat.format(btrim($1)::double precision, $2)
                    ELSE $1 END $$;
CREATE OR REPLACE FUNCTION landstat_compat.len(text)
  RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT length($1) $$;
CREATE OR REPLACE FUNCTION landstat_compat.mid(text, integer)
  RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT substr($1, $2) $$;
CREATE OR REPLACE FUNCTION landstat_compat.mid(text, integer, integer)
  RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT substr($1, $2, $3) $$;
CREATE OR REPLACE FUNCTION landstat_compat.instr(integer, text, text)
  RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT CASE WHEN strpos(substr($2, $1), $3) = 0 THEN 0
                    ELSE strpos(substr($2, $1), $3) + $1 - 1 END $$;
CREATE OR REPLACE FUNCTION landstat_compat.instr(text, text)
  RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$ SELECT strpos($1, $2) $$;
CREATE OR REPLACE FUNCTION landstat_compat.compat_version()
  RETURNS integer LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT 6 $$;
)SQL";

const std::vector<std::string> kPostgresCompatFunctions = {
    "landstat_compat.iif(boolean, anycompatible, anycompatible)",
    "landstat_compat.round(double precision, integer)",
    "landstat_compat.round(double precision)",
    "landstat_compat.val(text)",
    "landstat_compat.val(double precision)",
    "landstat_compat.format(double precision, text)",
    "landstat_compat.format(text, text)",
    "landstat_compat.len(text)",
    "landstat_compat.mid(text, integer)",
    "landstat_compat.mid(text, integer, integer)",
    "landstat_compat.instr(integer, text, text)",
    "landstat_compat.instr(text, text)",
    "landstat_compat.compat_version()",
};

const int kPostgresCompatVersion = 6;
// Version 5 declared the functions safe in parallel workers; version 6
// rounds most values without the trip through numeric, to the same figures.
const int kPostgresCompatSameFiguresSince = 4;

std::vector<std::string> PostgresCompatStatements() {
  std::vector<std::string> statements;
  const std::string_view text = kPostgresCompatSql;
  std::size_t start = 0;
  for (std::size_t end = text.find(";\n"); end != std::string_view::npos;
       end = text.find(";\n", start)) {
    statements.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
  return statements;
}

}  // namespace landstat::db
