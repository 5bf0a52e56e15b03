#include "units/summary_rows.h"

#include "platform/db/recordset.h"

namespace landstat::units {

SummaryRows::SummaryRows(db::Connection& connection, std::string table, Columns keys,
                         Columns columns)
    : connection_(connection),
      table_(std::move(table)),
      keys_(std::move(keys)),
      columns_(std::move(columns)) {
  std::string order;
  for (const std::string& key : keys_) order += (order.empty() ? "" : ",") + key;
  db::Recordset rows(connection_, "select * from " + table_ + " order by " + order);
  for (; !rows.IsEOF(); rows.MoveNext()) {
    Row& values = rows_[KeyOf(rows)];
    for (const std::string& column : columns_) values[column] = rows.Number(column);
  }
  original_ = rows_;
}

std::string SummaryRows::KeyOf(db::Recordset& row) const {
  std::string key;
  for (std::size_t i = 0; i < keys_.size(); ++i) key += (i ? "|" : "") + row.Text(keys_[i]);
  return key;
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
    if (key.size() == prefix.size() + extra) keys.push_back(key);
  }
  return keys;
}

void SummaryRows::Save() {
  db::Recordset rows(connection_, "select * from " + table_);
  for (; !rows.IsEOF(); rows.MoveNext()) {
    auto now = rows_.find(KeyOf(rows));
    if (now == rows_.end() || now->second == original_.at(now->first)) continue;
    for (const std::string& column : columns_) rows.SetField(column, now->second.at(column));
    rows.Update();
  }
  rows.Close();
  original_ = rows_;
}

}  // namespace landstat::units
