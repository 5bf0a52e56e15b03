#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace landstat::text {

// Number <-> text rules shared by value conversion and the SQL functions that
// stand in for Access's val, format and round.

// Rounds half away from zero at `decimals` places, on the value's decimal
// form (15 significant digits), so 2.675 rounds to 2.68 as a person expects.
double RoundDecimal(double value, int decimals);

// The text a double reads as: up to 15 significant digits, no trailing zeros,
// no exponent for ordinary magnitudes ("3", "0.1", "1234567.25").
std::string DoubleToText(double value);

// The shortest text that reads back as exactly the same double; used where
// a value travels to a database as text.
std::string ExactDoubleText(double value);

// Parses a whole text as a number (surrounding blanks allowed). Empty or
// blank text is 0. Returns nothing for text that is not a number, or whose
// number is out of a double's range ("1e400", "1e-400").
std::optional<double> TextToNumber(std::string_view text);

// Access's val(): the number at the start of the text, 0 when there is none;
// nothing when that number is out of a double's range.
std::optional<double> LeadingNumber(std::string_view text);

// Access's format() for numeric pictures: "0", "0.", "0.00", "#,##0.00" and
// the like: fixed decimals as many as the picture's zeros or hashes after the
// point, rounded half away from zero; other pictures give the plain text.
std::string FormatNumber(double value, std::string_view picture);

}  // namespace landstat::text
