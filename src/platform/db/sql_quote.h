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

}  // namespace landstat::db
