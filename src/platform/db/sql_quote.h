#pragma once

#include <string>
#include <string_view>

namespace landstat::db {

// A text literal for SQL: 'O''Brien'. Every value taken from a layer, a code
// table or the operator goes into statement text through this (or is bound
// as a parameter), never as it stands.
std::string QuoteText(std::string_view text);

// A quoted identifier: "name", with inner double quotes doubled.
std::string QuoteName(std::string_view name);

// Whether `name` is a table name of the kind catalogues and settings give:
// letters, digits and '_' only, so that nothing of it can act as SQL. Every
// table name read from a catalogue is checked here before it reaches a
// statement.
bool PlainTableName(std::string_view name);

}  // namespace landstat::db
