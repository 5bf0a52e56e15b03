#include "units/summary_rows.h"

#include "engine/rounding.h"
#include "platform/db/recordset.h"

namespace landstat::units {

SummaryRows::SummaryRows(db::Connection& connection, std::string table, Columns keys,
                         Columns columns, Columns order)
    : connection_(connection),
      table_(std::move(table)),
      keys_(std::move(keys)),
      columns_(std::move(columns)),
      order_(std::move(order)) {
  db::Recordset rows(connection_, Query());
  std::map<std::string, int> seen;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    Row& values = rows_[KeyOf(rows, seen)];
    for (const std::string& column : columns_) values[column] = rows.Number(column);
  }
  original_ = rows_;
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
  Row& row = rows_.at(key);
  for (const std::string& column : columns) {
    double sum = 0;
    for (const std::string& child : children) sum += rows_.at(child).at(column);
    row[column] = RoundToDecimals(sum, decimals);
  }
}

std::vector<std::string> SummaryRows::Keys() const {
  std::vector<std::string> keys;
  for (const auto& [key, values] : rows_) keys.push_back(key);
  return keys;
}

std::vector<std::string> SummaryRows::Under(const std::string& prefix, std::size_t extra) const {
  std::vector<std::string> keys;
  for (auto it = rows_.lower_bound(prefix); it != rows_.end(); ++it) {
    const std::string& key = it->first;
    if (key.compare(0, prefix.size(), prefix) != 0) break;
    if (CodeOf(key).size() == prefix.size() + extra) keys.push_back(key);
  }
  return keys;
}

void SummaryRows::Save(int decimals) {
  // What the balancing moved is written rounded; what it left stays as read.
  for (auto& [key, row] : rows_) {
    const Row& read = original_.at(key);
    for (auto& [column, value] : row) {
      if (value != read.at(column)) value = RoundToDecimals(value, decimals);
    }
  }
  std::map<std::string, int> seen;
  db::UpdateEach(connection_, Query(), [&](db::Recordset& row) {
    auto now = rows_.find(KeyOf(row, seen));
    if (now == rows_.end() || now->second == original_.at(now->first)) return false;
    for (const std::string& column : columns_) row.SetField(column, now->second.at(column));
    return true;
  });
  original_ = rows_;
}

}  // namespace landstat::units
