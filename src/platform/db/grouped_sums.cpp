#include "platform/db/grouped_sums.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"

namespace landstat::db {
namespace {

// The keys of a row as one string whose byte order is the order of the key
// tuples: a null is a 0 byte, a text a 1 byte, its bytes and a 0 byte.
void PackKey(const RowSource& row, std::size_t count, std::string& packed) {
  packed.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const int column = static_cast<int>(i);
    if (row.IsNull(column)) {
      packed += '\0';
      continue;
    }
    packed += '\1';
    packed += row.Text(column);
    packed += '\0';
  }
}

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
  return list;
}

std::string FromText(const GroupedSumsQuery& query) {
  return " FROM " + query.table + (query.filter.empty() ? "" : " WHERE " + query.filter);
}

}  // namespace

GroupedSums::GroupedSums(Connection& connection, GroupedSumsQuery query)
    : query_(std::move(query)) {
  if (query_.sums.size() > std::numeric_limits<std::uint16_t>::max()) {
    throw DbError("too many columns to sum in table " + query_.table);
  }
  if (connection.Kind() != DbKind::kEmbedded) {
    in_database_ = true;
    return;
  }
  const std::unique_ptr<RowSource> rows = connection.Scan("SELECT " + Joined(query_.keys) + "," +
                                                          Joined(query_.sums) + FromText(query_));
  std::string packed;
  while (rows->Next()) {
    PackKey(*rows, query_.keys.size(), packed);
    auto found = index_.find(packed);
    if (found == index_.end()) {
      groups_.push_back({packed, {}, std::vector<bool>(query_.sums.size(), false)});
      found =
          index_.emplace(groups_.back().key, static_cast<std::uint32_t>(groups_.size() - 1)).first;
    }
    Add(groups_[found->second], *rows);
  }
}

void GroupedSums::Add(Group& group, const RowSource& row) const {
  const int first = static_cast<int>(query_.keys.size());
  for (std::size_t c = 0; c < query_.sums.size(); ++c) {
    const int column = first + static_cast<int>(c);
    if (row.IsNull(column)) continue;
    group.seen[c] = true;
    const double value = row.Number(column);
    if (value == 0) continue;  // adds nothing to a sum that starts at 0
    const auto index = static_cast<std::uint16_t>(c);
    auto sum = std::find_if(group.sums.begin(), group.sums.end(),
                            [index](const auto& entry) { return entry.first == index; });
    if (sum == group.sums.end()) {
      group.sums.emplace_back(index, value);
    } else {
      sum->second += value;
    }
  }
}

std::vector<std::optional<std::string>> GroupedSums::UnpackKey(const std::string& packed) const {
  std::vector<std::optional<std::string>> keys;
  std::size_t at = 0;
  while (at < packed.size()) {
    if (packed[at] == '\0') {
      keys.emplace_back();
      ++at;
      continue;
    }
    const std::size_t end = packed.find('\0', at + 1);
    keys.emplace_back(packed.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return keys;
}

void GroupedSums::WriteTo(Connection& connection, const std::string& target, bool sorted) const {
  std::vector<Column> columns;
  for (const auto* names : {&query_.keys, &query_.sums}) {
    for (const std::string& name : *names) columns.push_back({name, {}});
  }
  WriteTo(connection, target, columns, sorted);
}

void GroupedSums::WriteTo(Connection& connection, const std::string& target,
                          const std::vector<Column>& columns, bool sorted) const {
  // Where each written column comes from: a key (its place) or a sum
  // (the number of keys plus its place).
  std::vector<std::size_t> sources;
  std::vector<std::string> names;
  for (const Column& column : columns) {
    auto key = std::find(query_.keys.begin(), query_.keys.end(), column.name);
    auto sum = std::find(query_.sums.begin(), query_.sums.end(), column.name);
    if (key != query_.keys.end()) {
      sources.push_back(static_cast<std::size_t>(key - query_.keys.begin()));
    } else if (sum != query_.sums.end()) {
      sources.push_back(query_.keys.size() + static_cast<std::size_t>(sum - query_.sums.begin()));
    } else {
      throw DbError("column " + column.name + " is neither a key nor a sum of table " +
                    query_.table);
    }
    names.push_back(column.as.empty() ? column.name : column.as);
  }
  if (in_database_) {
    connection.Execute(InsertStatement(target, names, sources, sorted));
    return;
  }
  std::vector<const Group*> order;
  order.reserve(groups_.size());
  for (const Group& group : groups_) order.push_back(&group);
  if (sorted) {
    std::sort(order.begin(), order.end(),
              [](const Group* a, const Group* b) { return a->key < b->key; });
  }
  RowWriter writer(connection, target, names);
  std::vector<Value> full(query_.keys.size() + query_.sums.size());
  std::vector<Value> values(columns.size());
  for (const Group* group : order) {
    std::vector<std::optional<std::string>> keys = UnpackKey(group->key);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      full[k] = keys[k] ? Value(std::move(*keys[k])) : Value();
    }
    for (std::size_t c = 0; c < query_.sums.size(); ++c) {
      full[query_.keys.size() + c] = group->seen[c] ? Value(0.0) : Value();
    }
    for (const auto& [column, sum] : group->sums) full[query_.keys.size() + column] = Value(sum);
    for (std::size_t i = 0; i < sources.size(); ++i) values[i] = full[sources[i]];
    writer.Add(values);
  }
  writer.Close();
}

std::string GroupedSums::InsertStatement(const std::string& target,
                                         const std::vector<std::string>& names,
                                         const std::vector<std::size_t>& sources,
                                         bool sorted) const {
  std::vector<std::string> values;
  for (std::size_t source : sources) {
    values.push_back(source < query_.keys.size()
                         ? query_.keys[source]
                         : "SUM(" + query_.sums[source - query_.keys.size()] + ")");
  }
  const std::string keys = Joined(query_.keys);
  return "INSERT INTO " + target + " (" + Joined(names) + ") SELECT " + Joined(values) +
         FromText(query_) + " GROUP BY " + keys + (sorted ? " ORDER BY " + keys : "");
}

}  // namespace landstat::db
