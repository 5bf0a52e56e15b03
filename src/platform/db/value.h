#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace landstat::db {

enum class FieldType { kInteger, kDouble, kText, kUnknown };

// One field value as the engine reads and writes it: null, integer, double or
// text. Conversions follow the old ADO rules the engine was written against:
// a double reads as text without trailing zeros (3.0 is "3"), null and empty
// text read as the number 0, null reads as empty text.
class Value {
 public:
  Value() = default;
  Value(std::nullptr_t) {}
  Value(int v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(double v) : data_(v) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(std::string_view v) : data_(std::string(v)) {}
  Value(const char* v) : data_(std::string(v)) {}

  // Holds `text`, reusing the storage of the text held before: a value
  // filled row after row allocates once.
  void AssignText(std::string_view text) {
    if (auto* held = std::get_if<std::string>(&data_)) {
      held->assign(text);
    } else {
      data_ = std::string(text);
    }
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(data_); }
  bool IsInteger() const { return std::holds_alternative<std::int64_t>(data_); }
  bool IsDouble() const { return std::holds_alternative<double>(data_); }
  bool IsText() const { return std::holds_alternative<std::string>(data_); }

  std::string AsText() const;
  // The text held, without a copy; empty unless IsText().
  std::string_view TextView() const {
    const auto* text = std::get_if<std::string>(&data_);
    return text ? std::string_view(*text) : std::string_view();
  }
  // The number held, as it is held, without a call: null unless IsDouble()
  // (IsInteger()).
  const double* DoubleHeld() const { return std::get_if<double>(&data_); }
  const std::int64_t* IntegerHeld() const { return std::get_if<std::int64_t>(&data_); }
  // Raises DbError for text that is not a number; `what` names the field.
  double AsDouble(std::string_view what = {}) const;
  std::int64_t AsInteger(std::string_view what = {}) const;

  // The value a column of the given type stores: text into a numeric column
  // is parsed (empty text becomes null), and text that is no number raises
  // DbError naming `what`.
  Value ForColumn(FieldType type, std::string_view what) const;

  bool operator==(const Value& other) const { return data_ == other.data_; }

 private:
  std::variant<std::monostate, std::int64_t, double, std::string> data_;
};

}  // namespace landstat::db
