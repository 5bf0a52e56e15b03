#pragma once

#include <string_view>
#include <vector>

#include "platform/db/backend.h"

namespace landstat::db {

// A row of values held in memory, read as a scan's row is (by column
// place; it names no columns and walks no further rows).
class ValueRow final : public RowSource {
 public:
  explicit ValueRow(const std::vector<Value>& values) : values_(values) {}
  const std::vector<ColumnInfo>& Columns() const override {
    static const std::vector<ColumnInfo> kNone;
    return kNone;
  }
  bool Fetch(std::vector<Value>&) override { return false; }
  bool Next() override { return false; }
  bool IsNull(int column) const override { return values_[column].IsNull(); }
  double Number(int column) const override {
    const Value& held = values_[column];
    const double* real = held.DoubleHeld();
    return real ? *real : held.AsDouble();
  }
  bool NumberUnlessNull(int column, double& value) const override {
    const Value& held = values_[column];
    if (const double* real = held.DoubleHeld()) {
      value = *real;
      return true;
    }
    if (held.IsNull()) return false;
    value = held.AsDouble();
    return true;
  }
  std::string_view Text(int column) const override { return values_[column].TextView(); }

 private:
  const std::vector<Value>& values_;
};

}  // namespace landstat::db
