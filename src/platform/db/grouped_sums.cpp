#include "platform/db/grouped_sums.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/db/value_row.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat::db {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
  return list;
}

std::string FromText(const GroupedSumsQuery& query) {
  return " FROM " + query.table + (query.filter.empty() ? "" : " WHERE " + query.filter);
}

constexpr std::uint32_t kMostNumbers = std::numeric_limits<std::uint32_t>::max() - 1;
constexpr std::uint32_t kNoNumber = std::numeric_limits<std::uint32_t>::max();

// A number for the next item of a store that counts in 32 bits.
std::uint32_t NextNumber(std::size_t size, const std::string& table) {
  if (size >= kMostNumbers) throw DbError("too many groups to sum in table " + table);
  return static_cast<std::uint32_t>(size);
}

std::size_t HashOf(const std::uint32_t* key, std::size_t count) {
  std::uint64_t hash = 0x9E3779B97F4A7C15ULL;
  for (std::size_t i = 0; i < count; ++i) {
    hash = (hash ^ key[i]) * 0xBF58476D1CE4E5B9ULL;
    hash ^= hash >> 31;
  }
  return static_cast<std::size_t>(hash);
}

// The conditions that split `table` into `ranges` ranges of its row ids
// (one empty condition where the table has none to split by, or is small).
std::vector<std::string> RowRanges(Connection& connection, const std::string& table,
                                   std::size_t ranges) {
  if (ranges < 2) return {std::string()};
  std::int64_t last = 0;
  try {
    last = connection.Scalar("SELECT max(rowid) FROM " + table).AsInteger();
  } catch (const DbError&) {
    return {std::string()};  // no row ids: read whole
  }
  if (last < 1000) return {std::string()};  // not worth a connection more
  // Bounds between the ranges; the first and the last range are open, so
  // that every row is in one.
  std::vector<std::string> parts;
  const std::int64_t step = last / static_cast<std::int64_t>(ranges) + 1;
  for (std::size_t i = 0; i < ranges; ++i) {
    const std::int64_t low = step * static_cast<std::int64_t>(i);
    std::string range;
    if (i > 0) range = "rowid > " + std::to_string(low);
    if (i + 1 < ranges) {
      range +=
          (range.empty() ? "" : " AND ") + std::string("rowid <= ") + std::to_string(low + step);
    }
    parts.push_back(std::move(range));
  }
  return parts;
}

// The place of `name` in `columns`, added at the end when missing.
int ColumnOf(std::vector<std::string>& columns, const std::string& name) {
  const auto found = std::find(columns.begin(), columns.end(), name);
  if (found != columns.end()) return static_cast<int>(found - columns.begin());
  columns.push_back(name);
  return static_cast<int>(columns.size() - 1);
}

// The queries of `queries` grouped by the table they read, in the order
// each table is first named.
std::vector<std::vector<std::size_t>> ByTable(const std::vector<GroupedSumsQuery>& queries) {
  std::vector<std::vector<std::size_t>> tables;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    auto same = std::find_if(tables.begin(), tables.end(), [&](const auto& table) {
      return queries[table.front()].table == queries[i].table;
    });
    if (same == tables.end()) {
      tables.push_back({i});
    } else {
      same->push_back(i);
    }
  }
  return tables;
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
  *this = std::move(*ReadScan(connection, {query_}, {}).front());
}

namespace {

// The places in `columns` of `names`; DbError naming the first missing.
std::vector<int> PlacesOf(const std::vector<std::string>& names,
                          const std::vector<std::string>& columns, const std::string& table) {
  std::vector<int> places;
  for (const std::string& name : names) {
    const auto found = std::find(columns.begin(), columns.end(), name);
    if (found == columns.end()) throw DbError("rows of table " + table + " lack column " + name);
    places.push_back(static_cast<int>(found - columns.begin()));
  }
  return places;
}

// The query's keys, then its sums.
std::vector<std::string> KeysAndSums(const GroupedSumsQuery& query) {
  std::vector<std::string> columns = query.keys;
  columns.insert(columns.end(), query.sums.begin(), query.sums.end());
  return columns;
}

}  // namespace

GroupedSums::GroupedSums(GroupedSumsQuery query) : GroupedSums(query, KeysAndSums(query)) {}

GroupedSums::GroupedSums(GroupedSumsQuery query, const std::vector<std::string>& columns)
    : GroupedSums(query, PlacesOf(query.keys, columns, query.table),
                  PlacesOf(query.sums, columns, query.table)) {
  columns_ = columns.size();
}

void GroupedSums::Add(const std::vector<Value>& row) {
  if (row.size() != columns_) {
    throw DbError(std::to_string(row.size()) + " values for the " + std::to_string(columns_) +
                  " columns of the rows of table " + query_.table);
  }
  AddRow(ValueRow(row));
}

GroupedSums::GroupedSums(GroupedSumsQuery query, std::vector<int> keys, std::vector<int> sums)
    : query_(std::move(query)), key_columns_(std::move(keys)), sum_columns_(std::move(sums)) {
  if (query_.sums.size() > std::numeric_limits<std::uint16_t>::max()) {
    throw DbError("too many columns to sum in table " + query_.table);
  }
  texts_.resize(query_.keys.size());
  sums_.push_back({0, 0, 0});
  patterns_.emplace_back(query_.sums.size(), false);
  non_null_.assign(query_.sums.size(), 0);
  pattern_numbers_.emplace(patterns_.front(), 0);
  slots_.assign(1024, 0);
}

std::vector<std::unique_ptr<GroupedSums>> GroupedSums::ReadScan(
    Connection& connection, const std::vector<GroupedSumsQuery>& queries,
    const std::string& range) {
  // One list of the columns every grouping reads; a grouping with a filter
  // reads, besides, a column that says whether its filter holds for the
  // row (as the filter would in a WHERE: null is no), and the scan keeps
  // the rows some grouping reads.
  std::vector<std::string> columns;
  std::vector<std::unique_ptr<GroupedSums>> groupings;
  std::vector<std::string> tests;
  std::vector<int> test_of;  // by grouping: its test's column, or -1
  std::string kept;          // the filters or'ed; empty: every row
  bool every_row = false;
  for (const GroupedSumsQuery& query : queries) {
    std::vector<int> keys, sums;
    for (const std::string& key : query.keys) keys.push_back(ColumnOf(columns, key));
    for (const std::string& sum : query.sums) sums.push_back(ColumnOf(columns, sum));
    groupings.emplace_back(new GroupedSums(query, std::move(keys), std::move(sums)));
    test_of.push_back(query.filter.empty() ? -1 : static_cast<int>(tests.size()));
    if (query.filter.empty()) {
      every_row = true;
    } else {
      tests.push_back("CASE WHEN (" + query.filter + ") THEN 1 ELSE 0 END");
      kept += (kept.empty() ? "(" : " OR (") + query.filter + ")";
    }
  }
  if (queries.size() == 1) tests.clear();  // the WHERE alone picks its rows
  std::string where = every_row ? std::string() : kept;
  if (!range.empty()) where = where.empty() ? range : "(" + where + ") AND " + range;
  std::string select = Joined(columns);
  for (const std::string& test : tests) select += "," + test;
  const std::unique_ptr<RowSource> rows =
      connection.Scan("SELECT " + select + " FROM " + queries.front().table +
                      (where.empty() ? "" : " WHERE " + where));
  const int first_test = static_cast<int>(columns.size());
  while (rows->Next()) {
    for (std::size_t g = 0; g < groupings.size(); ++g) {
      const bool reads =
          tests.empty() || test_of[g] < 0 || rows->Number(first_test + test_of[g]) != 0;
      if (reads) groupings[g]->AddRow(*rows);
    }
  }
  return groupings;
}

template <typename Row>
void GroupedSums::AddRow(const Row& row) {
  std::vector<std::uint32_t>& key = row_key_;
  key.resize(query_.keys.size());
  for (std::size_t k = 0; k < key.size(); ++k) key[k] = KeyNumber(row, k);
  Add(GroupOf(key.data()), row);
}

std::unique_ptr<GroupedSums> GroupedSums::Fed(GroupedSumsQuery query,
                                              const std::vector<std::string>& row_columns) {
  const auto place = [&](const std::string& name) {
    for (std::size_t i = 0; i < row_columns.size(); ++i) {
      if (text::IEquals(row_columns[i], name)) return static_cast<int>(i);
    }
    throw DbError("table " + query.table + " has no column " + name);
  };
  std::vector<int> keys, sums;
  for (const std::string& key : query.keys) keys.push_back(place(key));
  for (const std::string& sum : query.sums) sums.push_back(place(sum));
  return std::unique_ptr<GroupedSums>(
      new GroupedSums(std::move(query), std::move(keys), std::move(sums)));
}

std::uint32_t GroupedSums::Feed(const RowSource& row) {
  std::vector<std::uint32_t>& key = row_key_;
  key.resize(query_.keys.size());
  for (std::size_t k = 0; k < key.size(); ++k) key[k] = KeyNumber(row, k);
  const std::uint32_t group = GroupOf(key.data());
  Add(group, row);
  return group;
}

std::unique_ptr<GroupedSums> GroupedSums::ReadGroups(Connection& connection,
                                                     GroupedSumsQuery query) {
  std::vector<int> keys, sums;
  for (std::size_t k = 0; k < query.keys.size(); ++k) keys.push_back(static_cast<int>(k));
  for (std::size_t s = 0; s < query.sums.size(); ++s) {
    sums.push_back(static_cast<int>(keys.size() + s));
  }
  std::unique_ptr<GroupedSums> groups(
      new GroupedSums(std::move(query), std::move(keys), std::move(sums)));
  // Each group comes once, its sums as the server added them; they are
  // rounded, where the query asks it, when they are written.
  const std::unique_ptr<RowSource> rows =
      connection.Scan(groups->GroupingQuery(groups->SourcesOf(groups->Columns()), false, false));
  while (rows->Next()) groups->AddRow(*rows);
  return groups;
}

int GroupedSums::SumOf(std::string_view column) const {
  for (std::size_t i = 0; i < query_.sums.size(); ++i) {
    if (text::IEquals(query_.sums[i], column)) return static_cast<int>(i);
  }
  return -1;
}

void GroupedSums::Adjust(std::uint32_t group, int sum, double before, double after) {
  const auto column = static_cast<std::uint16_t>(sum);
  if (after != before) AddSum(group, column, after - before);
  if (patterns_[seen_[group]][column]) return;
  std::fill(non_null_.begin(), non_null_.end(), 0);
  non_null_[column] = 1;
  WidenPattern(group);
}

std::vector<std::unique_ptr<GroupedSums>> GroupedSums::ReadInOneScan(
    Connection& connection, const std::vector<GroupedSumsQuery>& queries) {
  for (const GroupedSumsQuery& query : queries) {
    if (query.table != queries.front().table) {
      throw DbError("groupings of " + queries.front().table + " and " + query.table +
                    " cannot be read in one scan");
    }
  }
  if (queries.empty()) return {};
  if (connection.Kind() != DbKind::kEmbedded) {
    return ReadAll(connection, queries);  // a server groups when the groups are written
  }
  return ReadScan(connection, queries, {});
}

std::vector<std::unique_ptr<GroupedSums>> GroupedSums::ReadAll(
    Connection& connection, const std::vector<GroupedSumsQuery>& queries) {
  // Each table is read in ranges of its row ids, about kRanges in all, that
  // ReadApart reads at the same time; the ranges of a table are summed into
  // its first, in order. The ranges are the same however many workers read
  // them and whether they read apart, so the sums are the same to the bit.
  constexpr std::size_t kRanges = 6;
  std::vector<std::unique_ptr<GroupedSums>> groupings(queries.size());
  if (connection.Kind() != DbKind::kEmbedded) {
    // A server groups when the groups are written.
    for (std::size_t i = 0; i < queries.size(); ++i) {
      groupings[i] = std::make_unique<GroupedSums>(connection, queries[i]);
    }
    return groupings;
  }
  const std::vector<std::vector<std::size_t>> tables = ByTable(queries);
  const std::size_t ranges = std::max<std::size_t>(1, kRanges / tables.size());
  const bool apart = CanReadApart(connection);
  struct Part {
    std::size_t table;  // its place in `tables`
    std::string range;
  };
  std::vector<Part> parts;
  std::vector<std::vector<std::unique_ptr<GroupedSums>>> read;  // by part: by query of its table
  std::vector<std::vector<GroupedSumsQuery>> scanned(tables.size());
  std::vector<std::function<void(Connection&)>> reads;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    for (std::size_t i : tables[t]) scanned[t].push_back(queries[i]);
    const std::size_t first = parts.size();
    for (std::string& range : RowRanges(connection, scanned[t].front().table, ranges)) {
      parts.push_back({t, std::move(range)});
    }
    read.resize(parts.size());
    if (apart && !SharedTable(connection, scanned[t].front().table)) {
      // Other connections cannot read this connection's own table: its
      // ranges are read here, in turn.
      for (std::size_t p = first; p < parts.size(); ++p) {
        read[p] = ReadScan(connection, scanned[t], parts[p].range);
      }
      continue;
    }
    for (std::size_t p = first; p < parts.size(); ++p) {
      reads.emplace_back([&, p](Connection& reader) {
        read[p] = ReadScan(reader, scanned[parts[p].table], parts[p].range);
      });
    }
  }
  ReadApart(connection, reads);
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const std::vector<std::size_t>& owners = tables[parts[p].table];
    for (std::size_t q = 0; q < owners.size(); ++q) {
      std::unique_ptr<GroupedSums>& whole = groupings[owners[q]];
      if (!whole) {
        whole = std::move(read[p][q]);
      } else {
        whole->Merge(*read[p][q]);
      }
    }
  }
  return groupings;
}

template <typename Row>
std::uint32_t GroupedSums::KeyNumber(const Row& row, std::size_t key) {
  const int column = key_columns_[key];
  if (row.IsNull(column)) return 0;
  return NumberOfText(key, row.Text(column));
}

std::uint32_t GroupedSums::NumberOfText(std::size_t key, std::string_view text) {
  return texts_[key].NumberOf(text, query_.table);
}

std::size_t GroupedSums::KeyTexts::SlotOf(std::string_view text, std::size_t hash) const {
  // At most half of the slots are taken, so a free one comes soon.
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t number = slots_[slot];
    if (number == 0 || Text(number) == text) return slot;
  }
}

std::uint32_t GroupedSums::KeyTexts::NumberOf(std::string_view text, const std::string& table) {
  if (last_ != 0 && Text(last_) == text) return last_;
  const std::hash<std::string_view> hash;
  std::size_t slot = SlotOf(text, hash(text));
  if (slots_[slot] != 0) return last_ = slots_[slot];
  const std::uint32_t number = NextNumber(ends_.size() + 1, table);
  bytes_.append(text);
  ends_.push_back(bytes_.size());
  slots_[slot] = number;
  if (2 * ends_.size() > slots_.size()) {
    // Twice the slots; every text placed again.
    slots_.assign(slots_.size() * 2, 0);
    for (std::uint32_t placed = 1; placed <= ends_.size(); ++placed) {
      slots_[SlotOf(Text(placed), hash(Text(placed)))] = placed;
    }
  }
  return last_ = number;
}

std::size_t GroupedSums::SlotOf(const std::uint32_t* key) const {
  // At most half of the slots are taken, so a free one comes soon.
  const std::size_t count = query_.keys.size();
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = HashOf(key, count) & mask;
  for (std::size_t probe = 0; probe < slots_.size(); ++probe, slot = (slot + 1) & mask) {
    const std::uint32_t taken = slots_[slot];
    if (taken == 0 || std::equal(key, key + count, keys_.data() + std::size_t{taken - 1} * count)) {
      return slot;
    }
  }
  throw DbError("no room for another group of table " + query_.table);
}

std::uint32_t GroupedSums::GroupOf(const std::uint32_t* key) {
  const std::size_t slot = SlotOf(key);
  if (slots_[slot] != 0) return slots_[slot] - 1;
  const std::uint32_t group = NextNumber(first_.size(), query_.table);
  keys_.insert(keys_.end(), key, key + query_.keys.size());
  first_.push_back(0);
  seen_.push_back(0);
  slots_[slot] = group + 1;
  if (2 * first_.size() > slots_.size()) {
    // Twice the slots; every group placed again.
    slots_.assign(slots_.size() * 2, 0);
    for (std::uint32_t placed = 0; placed < first_.size(); ++placed) {
      slots_[SlotOf(keys_.data() + std::size_t{placed} * query_.keys.size())] = placed + 1;
    }
  }
  return group;
}

template <typename Row>
void GroupedSums::Add(std::uint32_t group, const Row& row) {
  const std::vector<bool>& known = patterns_[seen_[group]];
  bool grows = false;
  for (std::size_t c = 0; c < query_.sums.size(); ++c) {
    double value = 0;
    non_null_[c] = row.NumberUnlessNull(sum_columns_[c], value);
    if (!non_null_[c]) continue;
    if (!known[c]) grows = true;
    if (value != 0) AddSum(group, static_cast<std::uint16_t>(c), value);
  }
  if (grows) WidenPattern(group);
}

std::uint32_t* GroupedSums::PlacesOfSums(std::uint32_t group) {
  if (group == placed_group_) return places_.data();
  const bool again = group == last_group_;
  last_group_ = group;
  if (!again) return nullptr;
  if (places_.size() != query_.sums.size()) places_.assign(query_.sums.size(), 0);
  if (placed_group_ != kNoGroup) {
    for (std::uint32_t at = first_[placed_group_]; at != 0; at = sums_[at].next) {
      places_[sums_[at].column] = 0;
    }
  }
  for (std::uint32_t at = first_[group]; at != 0; at = sums_[at].next) {
    places_[sums_[at].column] = at;
  }
  placed_group_ = group;
  return places_.data();
}

void GroupedSums::AddSum(std::uint32_t group, std::uint16_t column, double value) {
  // Zeros add nothing to a sum that starts at 0: they are never added.
  std::uint32_t* places = PlacesOfSums(group);
  std::uint32_t at = places ? places[column] : first_[group];
  if (!places) {
    while (at != 0 && sums_[at].column != column) at = sums_[at].next;
  }
  if (at != 0) {
    sums_[at].value += value;
    return;
  }
  const std::uint32_t added = NextNumber(sums_.size(), query_.table);
  sums_.push_back({value, first_[group], column});
  first_[group] = added;
  if (places) places[column] = added;
}

void GroupedSums::WidenPattern(std::uint32_t group) {
  // A column with its first non-null value in this group (non_null_): the
  // group takes the pattern with it.
  std::vector<bool> pattern = patterns_[seen_[group]];
  for (std::size_t c = 0; c < query_.sums.size(); ++c) {
    if (non_null_[c]) pattern[c] = true;
  }
  auto number = pattern_numbers_.find(pattern);
  if (number == pattern_numbers_.end()) {
    number = pattern_numbers_.emplace(pattern, NextNumber(patterns_.size(), query_.table)).first;
    patterns_.push_back(std::move(pattern));
  }
  seen_[group] = number->second;
}

void GroupedSums::Merge(const GroupedSums& later) {
  const std::size_t count = query_.keys.size();
  std::vector<std::uint32_t> key(count);
  for (std::uint32_t from = 0; from < later.first_.size(); ++from) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t number = later.keys_[std::size_t{from} * count + k];
      key[k] = number == 0 ? 0 : NumberOfText(k, later.texts_[k].Text(number));
    }
    const std::uint32_t group = GroupOf(key.data());
    for (std::uint32_t at = later.first_[from]; at != 0; at = later.sums_[at].next) {
      AddSum(group, later.sums_[at].column, later.sums_[at].value);
    }
    const std::vector<bool>& pattern = later.patterns_[later.seen_[from]];
    for (std::size_t c = 0; c < query_.sums.size(); ++c) non_null_[c] = pattern[c];
    WidenPattern(group);
  }
}

struct GroupedSums::SortedGroups {
  std::mutex mutex;  // writes of one grouping may run on several threads
  std::vector<std::uint32_t> order;
};

std::shared_ptr<GroupedSums::SortedGroups> GroupedSums::NoSortedGroups() {
  return std::make_shared<SortedGroups>();
}

std::vector<std::uint32_t> GroupedSums::Order(bool sorted) const {
  std::vector<std::uint32_t> order(first_.size());
  for (std::uint32_t group = 0; group < order.size(); ++group) order[group] = group;
  if (!sorted) return order;
  // Groups are only ever added, each with a key of its own: an order of as
  // many groups as there are is the order of these groups.
  const std::lock_guard<std::mutex> held(sorted_->mutex);
  if (sorted_->order.size() == order.size()) return sorted_->order;
  // The place of each text in the byte order of its column's texts, after
  // null's 0.
  std::vector<std::vector<std::uint32_t>> ranks(texts_.size());
  for (std::size_t k = 0; k < texts_.size(); ++k) {
    const KeyTexts& texts = texts_[k];
    std::vector<std::uint32_t> numbers(texts.Count());
    for (std::uint32_t n = 0; n < numbers.size(); ++n) numbers[n] = n;
    std::sort(numbers.begin(), numbers.end(), [&texts](std::uint32_t a, std::uint32_t b) {
      return texts.Text(a + 1) < texts.Text(b + 1);
    });
    ranks[k].assign(texts.Count() + 1, 0);
    for (std::uint32_t place = 0; place < numbers.size(); ++place) {
      ranks[k][numbers[place] + 1] = place + 1;
    }
  }
  const std::size_t count = texts_.size();
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const std::uint32_t* left = keys_.data() + std::size_t{a} * count;
    const std::uint32_t* right = keys_.data() + std::size_t{b} * count;
    for (std::size_t k = 0; k < count; ++k) {
      if (left[k] != right[k]) return ranks[k][left[k]] < ranks[k][right[k]];
    }
    return false;
  });
  sorted_->order = order;
  return order;
}

double GroupedSums::Written(double sum, const Conversion& convert) const {
  if (convert) return convert(sum);
  if (query_.decimals < 0) return sum;
  // Most sums of a group are 0, which rounds to 0.
  return sum == 0 ? 0.0 : text::RoundDecimal(sum, query_.decimals);
}

std::vector<GroupedSums::Column> GroupedSums::Columns() const {
  std::vector<Column> columns;
  for (const auto* names : {&query_.keys, &query_.sums}) {
    for (const std::string& name : *names) columns.push_back({name, {}});
  }
  return columns;
}

void GroupedSums::WriteTo(Connection& connection, const std::string& target, bool sorted) const {
  WriteTo(connection, target, Columns(), sorted);
}

std::vector<std::size_t> GroupedSums::SourcesOf(const std::vector<Column>& columns) const {
  std::vector<std::size_t> sources;
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
  }
  return sources;
}

namespace {

// The target's columns the columns are written under.
std::vector<std::string> TargetNames(const std::vector<GroupedSums::Column>& columns) {
  std::vector<std::string> names;
  for (const GroupedSums::Column& column : columns) {
    names.push_back(column.as.empty() ? column.name : column.as);
  }
  return names;
}

}  // namespace

void GroupedSums::WriteTo(Connection& connection, const std::string& target,
                          const std::vector<Column>& columns, bool sorted,
                          const Conversion& convert, const RowVisit& edit) const {
  const std::vector<std::string> names = TargetNames(columns);
  if (in_database_) {
    connection.InsertSelect(target, names, GroupingQuery(SourcesOf(columns), sorted));
    return;
  }
  RowWriter writer(connection, target, names);
  VisitRows(columns, sorted, convert, [&](std::vector<Value>& row) {
    if (edit) edit(row);
    writer.Add(row);
  });
  writer.Close();
}

void GroupedSums::WriteApart(Connection& connection, std::mutex& connection_lock,
                             const std::string& target, const std::vector<Column>& columns,
                             bool sorted, const Conversion& convert, const RowVisit& edit,
                             const std::function<void(const std::vector<Value>&)>& written) const {
  RowPipe pipe(connection, target, TargetNames(columns), written, &connection_lock);
  VisitRows(columns, sorted, convert, [&](std::vector<Value>& row) {
    std::vector<Value>& handed = pipe.Row();
    handed = row;
    if (edit) edit(handed);
    pipe.Add();
  });
  pipe.Close();
}

void GroupedSums::VisitRows(const std::vector<Column>& columns, bool sorted,
                            const Conversion& convert, const RowVisit& visit) const {
  const std::vector<std::size_t> sources = SourcesOf(columns);
  if (in_database_) throw DbError("the groups of " + query_.table + " are in the database");
  const std::size_t count = query_.keys.size();
  std::vector<double> totals(query_.sums.size(), 0.0);  // a group's sums; 0 between groups
  std::vector<Value> values(columns.size());
  // The key number each value holds: sorted groups mostly repeat the keys
  // of the one before, whose texts need not be made again.
  std::vector<std::uint32_t> held(columns.size(), kNoNumber);
  for (const std::uint32_t group : Order(sorted)) {
    const std::uint32_t* key = keys_.data() + std::size_t{group} * count;
    const std::vector<bool>& seen = patterns_[seen_[group]];
    for (std::uint32_t at = first_[group]; at != 0; at = sums_[at].next) {
      totals[sums_[at].column] = sums_[at].value;
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const std::size_t source = sources[i];
      if (source < count) {
        if (held[i] == key[source]) continue;
        held[i] = key[source];
        values[i] = key[source] == 0 ? Value() : Value(texts_[source].Text(key[source]));
      } else {
        const double total = totals[source - count];
        values[i] = !seen[source - count] ? Value() : Value(Written(total, convert));
      }
    }
    for (std::uint32_t at = first_[group]; at != 0; at = sums_[at].next) {
      totals[sums_[at].column] = 0;
    }
    visit(values);
  }
}

std::string GroupedSums::GroupingQuery(const std::vector<std::size_t>& sources, bool sorted,
                                       bool rounded) const {
  std::vector<std::string> values;
  for (std::size_t source : sources) {
    if (source < query_.keys.size()) {
      values.push_back(query_.keys[source]);
      continue;
    }
    const std::string sum = "SUM(" + query_.sums[source - query_.keys.size()] + ")";
    values.push_back(query_.decimals < 0 || !rounded
                         ? sum
                         : "round(" + sum + "," + std::to_string(query_.decimals) + ")");
  }
  const std::string keys = Joined(query_.keys);
  return "SELECT " + Joined(values) + FromText(query_) + " GROUP BY " + keys +
         (sorted ? " ORDER BY " + keys : "");
}

}  // namespace landstat::db
