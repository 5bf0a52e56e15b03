#include "units/summary_rows.h"

#include <stdexcept>

#include "engine/rounding.h"
#include "platform/db/recordset.h"

namespace landstat::units {

SummaryRows::SummaryRows(db::Connection& connection, std::string table, Columns keys,
                         Columns columns, Columns order)
    : connection_(connection),
      table_(std::move(table)),
      keys_(std::move(keys)),
      order_(std::move(order)) {
  for (std::string& column : columns) {
    if (column_of_.emplace(column, columns_.size()).second) columns_.push_back(std::move(column));
  }
  db::Recordset rows(connection_, Query());
  std::vector<int> fields;
  std::map<std::string, int> seen;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    if (fields.empty()) fields = FieldsOf(rows);
    const auto [at, added] = row_of_.emplace(KeyOf(rows, seen), views_.size());
    if (!added) continue;  // a key numbered apart cannot come twice
    views_.push_back(Row(this, at->second));
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      values_.push_back(rows.Field(fields[c]).AsDouble(columns_[c]));
    }
  }
  original_ = values_;
}

std::string SummaryRows::Query() const {
  // Save walks the rows in the same order, so a repeated key names the same
  // row both times.
  std::string order;
  for (const Columns* list : {&keys_, &order_}) {
    for (const std::string& column : *list) order += (order.empty() ? "" : ",") + column;
  }
  return "select * from " + table_ + " order by " + order;
}

std::string SummaryRows::KeyOf(db::Recordset& row, std::map<std::string, int>& seen) const {
  std::string key;
  for (std::size_t i = 0; i < keys_.size(); ++i) key += (i ? "|" : "") + row.Text(keys_[i]);
  const int count = seen[key]++;
  return count == 0 ? key : key + '\x01' + std::to_string(count);
}

std::vector<int> SummaryRows::FieldsOf(const db::Recordset& rows) const {
  std::vector<int> fields;
  for (const std::string& column : columns_) fields.push_back(rows.IndexOf(column));
  return fields;
}

std::size_t SummaryRows::RowOf(const std::string& key) const {
  const auto found = row_of_.find(key);
  if (found == row_of_.end()) throw std::out_of_range("no row " + key + " in " + table_);
  return found->second;
}

std::size_t SummaryRows::ColumnOf(const std::string& column) const {
  const auto found = column_of_.find(column);
  if (found == column_of_.end()) throw std::out_of_range("no column " + column + " in " + table_);
  return found->second;
}

bool SummaryRows::Changed(std::size_t row) const {
  const std::size_t width = columns_.size();
  for (std::size_t c = row * width; c < (row + 1) * width; ++c) {
    if (values_[c] != original_[c]) return true;
  }
  return false;
}

std::string SummaryRows::CodeOf(const std::string& key) {
  return key.substr(0, key.find('\x01'));
}

double SummaryRows::SumOf(const Row& row, const Columns& columns) {
  double sum = 0;
  for (const std::string& column : columns) sum += row.at(column);
  return sum;
}

void SummaryRows::SetToSum(const std::string& key, const std::vector<std::string>& children,
                           const Columns& columns, int decimals) {
  const std::size_t row = RowOf(key);
  std::vector<std::size_t> below;
  for (const std::string& child : children) below.push_back(RowOf(child));
  for (const std::string& column : columns) {
    const std::size_t c = ColumnOf(column);
    double sum = 0;
    for (const std::size_t child : below) sum += values_[child * columns_.size() + c];
    values_[row * columns_.size() + c] = RoundToDecimals(sum, decimals);
  }
}

std::vector<std::string> SummaryRows::Keys() const {
  std::vector<std::string> keys;
  for (const auto& [key, row] : row_of_) keys.push_back(key);
  return keys;
}

std::vector<std::string> SummaryRows::Under(const std::string& prefix, std::size_t extra) const {
  std::vector<std::string> keys;
  for (auto it = row_of_.lower_bound(prefix); it != row_of_.end(); ++it) {
    const std::string& key = it->first;
    if (key.compare(0, prefix.size(), prefix) != 0) break;
    if (CodeOf(key).size() == prefix.size() + extra) keys.push_back(key);
  }
  return keys;
}

void SummaryRows::Save(int decimals) {
  // What the balancing moved is written rounded; what it left stays as read.
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (values_[i] != original_[i]) values_[i] = RoundToDecimals(values_[i], decimals);
  }
  std::map<std::string, int> seen;
  std::vector<int> fields;
  db::UpdateEach(connection_, Query(), [&](db::Recordset& row) {
    if (fields.empty()) fields = FieldsOf(row);
    const auto now = row_of_.find(KeyOf(row, seen));
    if (now == row_of_.end() || !Changed(now->second)) return false;
    const double* values = &values_[now->second * columns_.size()];
    for (std::size_t c = 0; c < columns_.size(); ++c) row.SetField(fields[c], values[c]);
    return true;
  });
  original_ = values_;
}

}  // namespace landstat::units
