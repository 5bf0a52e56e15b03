#include "platform/db/value.h"

#include <cmath>
#include <limits>

#include "platform/db/db_error.h"
#include "platform/text/number_text.h"

namespace landstat::db {
namespace {

std::string Quoted(std::string_view what) {
  return what.empty() ? std::string() : " of field " + std::string(what);
}

}  // namespace

std::string Value::AsText() const {
  if (const auto* text = std::get_if<std::string>(&data_)) return *text;
  if (const auto* integer = std::get_if<std::int64_t>(&data_)) return std::to_string(*integer);
  if (const auto* real = std::get_if<double>(&data_)) return text::DoubleToText(*real);
  return {};
}

double Value::AsDouble(std::string_view what) const {
  if (const auto* real = std::get_if<double>(&data_)) return *real;
  if (const auto* integer = std::get_if<std::int64_t>(&data_)) {
    return static_cast<double>(*integer);
  }
  if (const auto* text = std::get_if<std::string>(&data_)) {
    if (auto number = text::TextToNumber(*text)) return *number;
    throw DbError("the text '" + *text + "'" + Quoted(what) + " is not a number");
  }
  return 0.0;
}

std::int64_t Value::AsInteger(std::string_view what) const {
  if (const auto* integer = std::get_if<std::int64_t>(&data_)) return *integer;
  const double number = AsDouble(what);
  if (!std::isfinite(number) || std::fabs(number) > 9.2e18) {
    throw DbError("the value " + AsText() + Quoted(what) + " does not fit an integer");
  }
  return static_cast<std::int64_t>(std::llround(number));
}

Value Value::ForColumn(FieldType type, std::string_view what) const {
  if (IsNull() || type == FieldType::kUnknown) return *this;
  if (type == FieldType::kText) return IsText() ? *this : Value(AsText());
  // A blank text stores no number at all rather than a made-up zero.
  if (IsText() && std::get<std::string>(data_).find_first_not_of(" \t") == std::string::npos) {
    return Value();
  }
  if (type == FieldType::kDouble) return Value(AsDouble(what));
  return Value(static_cast<long long>(AsInteger(what)));
}

}  // namespace landstat::db
