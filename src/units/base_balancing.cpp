// Balancing of the unit copies of the base tables: the region total, the
// village totals, the rows of each village, the class columns of each row
// and the extension-class columns, in steps of one unit of the last decimal.
// Each copy is read once into memory (units::CopyRows); the passes decide
// there, and only the rows that change are written back.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/sql_quote.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "units/copy_rows.h"
#include "units/step_rule.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

std::string ColumnList(std::initializer_list<const std::vector<std::string>*> lists,
                       std::initializer_list<const char*> fixed) {
  std::string text;
  for (const char* name : fixed) text += (text.empty() ? "" : ",") + std::string(name);
  for (const auto* list : lists) {
    for (const std::string& name : *list) text += (text.empty() ? "" : ",") + name;
  }
  return text;
}

// The columns a copy's rows are read with, before their key and classes.
enum ReadColumn { kOrder, kId, kInScope, kVillage, kTotal, kFirstKey };

std::int64_t ParseWhole(std::string_view text, const std::string& table) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw db::DbError("table " + table + ": row id " + std::string(text) + " is no number");
  }
  return value;
}

// A server's tuple id "(page,item)" as one number, the page in the high bits.
std::int64_t TupleId(std::string_view text, const std::string& table) {
  const std::size_t comma = text.find(',');
  if (text.size() < 5 || text.front() != '(' || text.back() != ')' ||
      comma == std::string_view::npos) {
    throw db::DbError("table " + table + ": row id " + std::string(text) + " is no tuple id");
  }
  return ParseWhole(text.substr(1, comma - 1), table) << 16 |
         ParseWhole(text.substr(comma + 1, text.size() - comma - 2), table);
}

// The ids of the rows of `table` on a PostgreSQL server that `condition`
// holds for. The condition is tested by the server's parallel workers (the
// parallel insert), where a cursor's query would test it in one process;
// the scratch table of ids goes with the session if a step fails.
std::unordered_set<std::int64_t> IdsWhere(db::Connection& connection, const std::string& table,
                                          const std::string& condition) {
  const std::string scratch = "landstat_unbalanced";
  const std::string id = connection.backend().RowIdColumn();
  connection.Execute("DROP TABLE IF EXISTS pg_temp." + scratch);
  connection.Execute("CREATE TEMPORARY TABLE " + scratch + " (id tid)");
  connection.InsertSelect(scratch, {"id"},
                          "select " + id + " from " + table + " where " + condition);
  std::unordered_set<std::int64_t> ids;
  {
    const std::unique_ptr<db::RowSource> rows = connection.Scan("select id from " + scratch);
    while (rows->Next()) ids.insert(TupleId(rows->Text(0), table));
  }
  connection.Execute("DROP TABLE " + scratch);
  return ids;
}

}  // namespace

namespace units {

namespace {

// A condition that holds for the rows the class pass would change:
// classes that do not add up to the row, parents that are not the sums of
// their leaves, extension groups that do not add up to their leaf.
std::string UnbalancedCondition(const BalanceColumns& columns, const std::string& tolerance) {
  const std::string limit = ") > " + tolerance;
  const auto sum = [&](const auto& parts, const std::vector<std::string>& names) {
    std::string text = "(0";
    for (std::size_t part : parts) text += "+" + names[part];
    return text + ")";
  };
  std::vector<std::size_t> all(columns.leaves.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::string condition = "abs(土地总面积-" + sum(all, columns.leaves) + limit;
  for (std::size_t p = 0; p < columns.parents.size(); ++p) {
    condition += " OR abs(" + columns.parents[p] + "-" +
                 sum(columns.parent_leaves[p], columns.leaves) + limit;
  }
  for (const auto& group : columns.extension_groups) {
    condition += " OR abs(" + columns.leaves[group.leaf] + "-" +
                 sum(group.members, columns.extensions) + limit;
  }
  return condition;
}

// The same condition on a row's figures in memory, sums taken in the same
// order from 0 as the database takes them.
bool Unbalanced(const std::vector<double>& values, double total, const BalanceColumns& columns,
                double tolerance) {
  const std::size_t leaves = columns.leaves.size();
  double sum = 0;
  for (std::size_t i = 0; i < leaves; ++i) sum += values[i];
  if (std::fabs(total - sum) > tolerance) return true;
  for (std::size_t p = 0; p < columns.parents.size(); ++p) {
    sum = 0;
    for (std::size_t leaf : columns.parent_leaves[p]) sum += values[leaf];
    if (std::fabs(values[leaves + p] - sum) > tolerance) return true;
  }
  const std::size_t first_extension = leaves + columns.parents.size();
  for (const auto& group : columns.extension_groups) {
    sum = 0;
    for (std::size_t e : group.members) sum += values[first_extension + e];
    if (std::fabs(values[group.leaf] - sum) > tolerance) return true;
  }
  return false;
}

}  // namespace

CopyRows::CopyRows(db::Connection& connection, std::string table, BalanceColumns columns,
                   short decimals, const Scope& scope, const std::vector<CopySumsRequest>& sums)
    : table_(std::move(table)),
      columns_(std::move(columns)),
      limit_(Tolerance(decimals)),
      by_village_(scope.by_village),
      key_(scope.key) {
  // SQLite hands the fields of a row over in place: reading every class is
  // cheaper than testing the condition in SQL. A server sends each field as
  // text: there the server tests it, and only the rows to balance send
  // their classes (ReadClasses).
  const bool whole_rows = connection.Kind() == db::DbKind::kEmbedded;
  const std::string tolerance = text::DoubleToText(StepFor(decimals).tolerance);
  const std::string classes =
      whole_rows ? ColumnList({&columns_.leaves, &columns_.parents, &columns_.extensions},
                              {"座落单位代码"})
                 : "";
  const std::unordered_set<std::int64_t> unbalanced =
      whole_rows ? std::unordered_set<std::int64_t>()
                 : IdsWhere(connection, table_, UnbalancedCondition(columns_, tolerance));
  const std::unique_ptr<db::RowSource> rows =
      connection.Scan("select CAST(序号 AS INTEGER)," + connection.backend().RowIdColumn() +
                      ",CASE WHEN " + scope.column + " like " + scope.like +
                      " THEN 1 ELSE 0 END,村级代码," + ColumnList({&key_}, {"土地总面积"}) +
                      (classes.empty() ? "" : "," + classes) + " from " + table_);
  tuple_ids_ = rows->Columns()[kId].type == db::FieldType::kText;
  if (whole_rows && !sums.empty()) {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : rows->Columns()) names.push_back(column.name);
    for (const CopySumsRequest& request : sums) {
      try {
        sums_.emplace_back(request, names);
      } catch (const db::DbError&) {
        // The rows read lack a column of these sums: they are made by
        // reading the copy when they are wanted.
      }
    }
  }
  const int first_class = kFirstKey + static_cast<int>(key_.size());
  std::vector<double> values;
  while (rows->Next()) {
    Row row = NewRow(rows->Number(kTotal), rows->Number(kOrder),
                     tuple_ids_ ? TupleId(rows->Text(kId), table_)
                                : static_cast<std::int64_t>(rows->Number(kId)),
                     KeyOf(*rows, kFirstKey, key_.size()));
    if (rows->Number(kInScope) != 0)
      row.group = scope.by_village ? Intern(rows->Text(kVillage)) : 0;
    if (whole_rows) {
      Keep(*rows, first_class, row);
      Classes(rows_.size(), values);
      row.unbalanced = Unbalanced(values, row.total, columns_, limit_);
    } else {
      row.unbalanced = unbalanced.count(row.id) > 0;
      entries_.emplace_back(0, kNotRead);
    }
    rows_.push_back(row);
    for (FedCopySums& fed : sums_) fed.Feed(*rows);
  }
}

CopyRows::CopyRows(std::string table, BalanceColumns columns, short decimals, const Scope& scope)
    : table_(std::move(table)),
      columns_(std::move(columns)),
      limit_(Tolerance(decimals)),
      by_village_(scope.by_village),
      key_(scope.key) {}

void CopyRows::Append(const Facts& facts, const std::vector<double>& classes) {
  Row row = NewRow(facts.total, facts.order, facts.id, facts.key);
  if (facts.in_scope) row.group = by_village_ ? Intern(facts.village) : 0;
  row.location = Intern(facts.location);
  const auto start = static_cast<std::uint32_t>(entry_values_.size());
  for (std::size_t k = 0; k < classes.size(); ++k) {
    if (classes[k] == 0) continue;
    entry_columns_.push_back(static_cast<std::uint16_t>(k));
    entry_values_.push_back(classes[k]);
  }
  if (entry_values_.size() >= UINT32_MAX) {
    throw db::DbError("table " + table_ + " has too many classes to balance in memory");
  }
  entries_.emplace_back(start, static_cast<std::uint32_t>(entry_values_.size()) - start);
  row.unbalanced = Unbalanced(classes, row.total, columns_, limit_);
  rows_.push_back(row);
}

CopyRows::Row CopyRows::NewRow(double total, double order, std::int64_t id, std::string_view key) {
  if (rows_.size() >= UINT32_MAX || keys_.size() >= UINT32_MAX - 100 - key.size()) {
    throw db::DbError("table " + table_ + " has too many rows to balance in memory");
  }
  Row row;
  row.total = total;
  row.order = order;
  row.id = id;
  row.key = static_cast<std::uint32_t>(keys_.size());
  keys_ += key;
  return row;
}

void CopyRows::KeyPart(bool null, std::string_view text, std::string& key) {
  if (null) {
    key += '\x1e';
  } else {
    key += text;
  }
}

std::string CopyRows::KeyOf(const db::RowSource& source, int first, std::size_t columns) {
  std::string key;
  for (std::size_t k = 0; k < columns; ++k) {
    const int column = first + static_cast<int>(k);
    if (k > 0) key += '\x1f';
    KeyPart(source.IsNull(column), source.Text(column), key);
  }
  return key;
}

std::string CopyRows::ShownKey(std::string_view key) {
  std::string shown;
  for (const char c : key) {
    if (c == '\x1f') {
      shown += '/';
    } else if (c != '\x1e') {
      shown += c;
    }
  }
  return shown;
}

double CopyRows::Tolerance(short decimals) {
  // The tolerance as the database compares with it, read from its text.
  return std::strtod(text::DoubleToText(StepFor(decimals).tolerance).c_str(), nullptr);
}

void CopyRows::Keep(db::RowSource& source, int first_column, Row& row) {
  row.location = Intern(source.Text(first_column));
  const auto start = static_cast<std::uint32_t>(entry_values_.size());
  const int count = static_cast<int>(columns_.Count());
  for (int k = 0; k < count; ++k) {
    const double value = source.Number(first_column + 1 + k);
    if (value == 0) continue;
    entry_columns_.push_back(static_cast<std::uint16_t>(k));
    entry_values_.push_back(value);
  }
  if (entry_values_.size() >= UINT32_MAX) {
    throw db::DbError("table " + table_ + " has too many classes to balance in memory");
  }
  entries_.emplace_back(start, static_cast<std::uint32_t>(entry_values_.size()) - start);
}

void CopyRows::ReadClasses(db::Connection& connection, const std::vector<std::size_t>& wanted) {
  constexpr std::size_t kBatch = 20000;
  std::vector<std::size_t> missing;
  for (std::size_t i : wanted) {
    if (entries_[i].second == kNotRead) missing.push_back(i);
  }
  const std::string id_column = connection.backend().RowIdColumn();
  const std::string list = ColumnList({&columns_.leaves, &columns_.parents, &columns_.extensions},
                                      {id_column.c_str(), "座落单位代码"});
  std::unordered_map<std::int64_t, std::size_t> by_id;
  for (std::size_t first = 0; first < missing.size(); first += kBatch) {
    const std::size_t last = std::min(missing.size(), first + kBatch);
    by_id.clear();
    std::string ids;
    for (std::size_t k = first; k < last; ++k) {
      by_id[rows_[missing[k]].id] = missing[k];
      const std::string id = Id(missing[k]).AsText();
      ids += (k == first ? "" : ",") + (tuple_ids_ ? db::QuoteText(id) : id);
    }
    const std::unique_ptr<db::RowSource> rows = connection.Scan(
        "select " + list + " from " + table_ + " where " + id_column + " in (" + ids + ")");
    while (rows->Next()) {
      const std::int64_t id =
          tuple_ids_ ? TupleId(rows->Text(0), table_) : static_cast<std::int64_t>(rows->Number(0));
      const auto row = by_id.find(id);
      if (row == by_id.end()) continue;
      Keep(*rows, 1, rows_[row->second]);
      entries_[row->second] = entries_.back();
      entries_.pop_back();
      by_id.erase(row);
    }
    if (!by_id.empty()) {
      throw db::DbError("table " + table_ + ": the row of " + ColumnList({&key_}, {}) + " " +
                        ShownKey(Key(by_id.begin()->second)) + " went away while it was balanced");
    }
  }
}

std::uint32_t CopyRows::Intern(std::string_view code) {
  // Rows of one place come together: most look-ups are the last code.
  if (!codes_.empty() && codes_[last_code_] == code) return last_code_;
  const auto [at, added] =
      code_ids_.emplace(std::string(code), static_cast<std::uint32_t>(codes_.size()));
  if (added) codes_.emplace_back(code);
  last_code_ = at->second;
  return last_code_;
}

std::string_view CopyRows::Key(std::size_t i) const {
  const std::size_t end = i + 1 < rows_.size() ? rows_[i + 1].key : keys_.size();
  return std::string_view(keys_).substr(rows_[i].key, end - rows_[i].key);
}

void CopyRows::Classes(std::size_t i, std::vector<double>& values) const {
  values.assign(columns_.Count(), 0.0);
  const auto [first, count] = entries_.at(i);
  if (count == kNotRead) throw db::DbError("table " + table_ + ": classes of a row not read");
  for (std::size_t k = first; k < first + count; ++k) values[entry_columns_[k]] = entry_values_[k];
}

void CopyRows::Changed(std::size_t i, std::size_t column, std::string_view name, double after) {
  double before = rows_[i].total;
  if (column > 0) {
    before = 0;
    const auto [first, count] = entries_.at(i);
    if (count == kNotRead) throw db::DbError("table " + table_ + ": classes of a row not read");
    for (std::size_t k = first; k < first + count; ++k) {
      if (entry_columns_[k] == column - 1) before = entry_values_[k];
    }
  }
  for (FedCopySums& sums : sums_) sums.Changed(i, name, before, after);
}

db::Value CopyRows::Id(std::size_t i) const {
  const std::int64_t id = rows_[i].id;
  if (!tuple_ids_) return db::Value(static_cast<long long>(id));
  return db::Value("(" + std::to_string(id >> 16) + "," + std::to_string(id & 0xffff) + ")");
}

}  // namespace units

short OrderBalanceFields(std::vector<std::string>& fields) {
  CSortStringArray groups[4];
  const auto between = [](const std::string& name, const char* low, const char* high) {
    return name >= low && name <= high;
  };
  for (const std::string& name : fields) {
    if (name.find("BM20") != std::string::npos) {
      groups[0].push_back(name);
    } else if (between(name, "BM10", "BM12z")) {
      groups[1].push_back(name);
    } else if (between(name, "BM01", "BM04z")) {
      groups[2].push_back(name);
    } else if (between(name, "BM05", "BM09z")) {
      groups[3].push_back(name);
    }
  }
  fields.clear();
  for (int group : {1, 0, 3, 2}) {
    groups[group].Sort(2);
    fields.insert(fields.end(), groups[group].begin(), groups[group].end());
  }
  return 1;
}

int CStatContext::HasSubClassField(const std::string& column) const {
  for (const std::string& field : m_arrStatFields) {
    if (field != column && field.size() < 6 && field.find(column) != std::string::npos) return 1;
  }
  return 0;
}

namespace {

// The parent columns of a leaf that the table has, nearest first: BM011
// adds to BM01.
std::vector<std::string> AncestorsOf(const std::string& leaf,
                                     const std::vector<std::string>& fields) {
  std::vector<std::string> ancestors;
  for (std::size_t length = leaf.size() - 1; length >= 4; --length) {
    const std::string name = leaf.substr(0, length);
    if (std::find(fields.begin(), fields.end(), name) != fields.end()) ancestors.push_back(name);
  }
  return ancestors;
}

// The rows a pass changed, with their new figures, written back when the
// pass is done. Column 0 is the row total, column k + 1 class k.
class ChangedRows {
 public:
  void Begin(std::size_t row) { rows_.push_back({row, columns_.size(), 0}); }
  void Set(std::size_t column, double value) {
    columns_.push_back(static_cast<std::uint16_t>(column));
    values_.push_back(value);
    ++rows_.back().count;
  }
  void End() {
    if (rows_.back().count == 0) rows_.pop_back();
  }
  std::size_t Count() const { return rows_.size(); }

  // Updates the changed rows by their ids, rows that change the same
  // columns together (one statement, or one batch, for all of them). An
  // error leaves the table as it was.
  void Write(db::Connection& connection, units::CopyRows& rows) {
    if (rows_.empty()) return;
    std::map<std::string, std::string> spelled;  // the table's names, by lower case
    for (const db::ColumnInfo& column : connection.Columns(rows.Table())) {
      spelled[text::ToLowerAscii(column.name)] = column.name;
    }
    const units::BalanceColumns& classes = rows.Columns();
    std::vector<std::string> names = {"土地总面积"};
    for (const auto* list : {&classes.leaves, &classes.parents, &classes.extensions}) {
      names.insert(names.end(), list->begin(), list->end());
    }
    for (std::string& name : names) {
      const auto found = spelled.find(text::ToLowerAscii(name));
      if (found == spelled.end()) throw db::DbError("table " + rows.Table() + " has no " + name);
      name = found->second;
    }
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Changed& a, const Changed& b) {
      return std::lexicographical_compare(
          columns_.begin() + a.first, columns_.begin() + a.first + a.count,
          columns_.begin() + b.first, columns_.begin() + b.first + b.count);
    });
    db::Backend& backend = connection.backend();
    backend.BeginImplicit();
    try {
      std::vector<std::string> set;
      std::vector<db::Value> values;
      long record = 0;
      for (const Changed& row : rows_) {
        set.clear();
        values.clear();
        for (std::size_t k = row.first; k < row.first + row.count; ++k) {
          set.push_back(names[columns_[k]]);
          values.emplace_back(values_[k]);
        }
        backend.UpdateRow(rows.Table(), rows.Id(row.row), set, values, ++record);
      }
    } catch (const db::DbError&) {
      try {
        backend.AbandonImplicit();  // rolls the updates back
      } catch (const db::DbError&) {
        // The error that ended the writes is the report.
      }
      throw;
    }
    backend.EndImplicit();
    // The sums made of the copy as it was filled follow its rows.
    if (rows.Sums().empty()) return;
    for (const Changed& row : rows_) {
      for (std::size_t k = row.first; k < row.first + row.count; ++k) {
        rows.Changed(row.row, columns_[k], names[columns_[k]], values_[k]);
      }
    }
  }

 private:
  struct Changed {
    std::size_t row;
    std::size_t first;
    std::size_t count;
  };
  std::vector<Changed> rows_;
  std::vector<std::uint16_t> columns_;
  std::vector<double> values_;
};

// One row of a unit copy during the class pass.
struct RowBalance {
  std::vector<double> leaves;
  double total = 0;
};

enum class LeafBalance { kDone, kNegative, kStalled };

// Steps the leaves of a row until they add up to its total: kNegative when
// the total lies below the classes and cannot be reached, kStalled when the
// steps ran out before the total was reached (the row keeps what it has).
LeafBalance BalanceLeaves(RowBalance& row, const std::vector<double>& source_leaves,
                          const units::StepSize& size) {
  double sum = 0;
  std::vector<std::size_t> large;
  for (std::size_t i = 0; i < row.leaves.size(); ++i) {
    sum += row.leaves[i];
    if (row.leaves[i] > 1.0) large.push_back(i);
  }
  double difference = row.total - sum;
  if (std::fabs(difference) > sum && difference < 0) return LeafBalance::kNegative;
  if (std::fabs(difference) > sum && difference > size.tolerance) {
    // A row whose classes are all but empty takes its steps on the classes
    // the source row holds.
    std::vector<std::size_t> seeded;
    for (std::size_t i = 0; i < source_leaves.size(); ++i) {
      if (source_leaves[i] > 0) seeded.push_back(i);
    }
    std::vector<double> values;
    for (std::size_t i : seeded) values.push_back(row.leaves[i]);
    const units::Distribution seeding =
        units::Distribute(values, difference, size, {[](double) { return true; }, false, false});
    for (std::size_t k = 0; k < seeded.size(); ++k) row.leaves[seeded[k]] = values[k];
    difference = seeding.remaining;
  }
  const units::StepRule rule{
      [tolerance = size.tolerance](double value) { return value >= tolerance; }, true, false};
  units::Distribution result;
  if (!large.empty()) {
    std::vector<double> values;
    for (std::size_t i : large) values.push_back(row.leaves[i]);
    result = units::Distribute(values, difference, size, rule);
    for (std::size_t k = 0; k < large.size(); ++k) row.leaves[large[k]] = values[k];
  } else {
    result = units::Distribute(row.leaves, difference, size, rule);
  }
  return result.stalled ? LeafBalance::kStalled : LeafBalance::kDone;
}

// Sets the largest extension of each group to what its leaf leaves over
// the others; the changes go to `changed` (class columns from 1).
void BalanceExtensions(std::vector<double>& values, const units::BalanceColumns& columns,
                       short decimals, ChangedRows& changed) {
  const std::size_t first_extension = columns.leaves.size() + columns.parents.size();
  for (const auto& group : columns.extension_groups) {
    double sum = 0;
    double largest_value = 0;
    std::size_t largest = 0;
    bool any = false;
    for (std::size_t e : group.members) {
      const double value = values[first_extension + e];
      sum += value;
      if (!any || value > largest_value) {
        largest = first_extension + e;
        largest_value = value;
        any = true;
      }
    }
    double difference = values[group.leaf] - sum;
    if (std::fabs(difference) < 0.000001) continue;
    xcKeepPoint(&difference, decimals);
    double value = largest_value + difference;
    xcKeepPoint(&value, decimals);
    values[largest] = value;
    changed.Set(largest + 1, value);
  }
}

}  // namespace

units::BalanceColumns units::SortClassColumns(const CStatContext& context) {
  units::BalanceColumns columns;
  const std::vector<std::string>& fields = context.m_arrStatFields;
  for (const std::string& field : fields) {
    if (field.find("BM") == std::string::npos) continue;
    if (field.size() == 6) {
      columns.extensions.push_back(field);
    } else if (!context.HasSubClassField(field)) {
      columns.leaves.push_back(field);
    }
  }
  OrderBalanceFields(columns.leaves);
  std::vector<std::vector<std::string>> ancestors;
  std::map<std::string, std::vector<std::size_t>> children;
  for (std::size_t i = 0; i < columns.leaves.size(); ++i) {
    ancestors.push_back(AncestorsOf(columns.leaves[i], fields));
    for (const std::string& parent : ancestors.back()) children[parent].push_back(i);
  }
  for (auto& [parent, parts] : children) {
    columns.parents.push_back(parent);
    columns.parent_leaves.push_back(std::move(parts));
  }
  for (const std::vector<std::string>& names : ancestors) {
    std::vector<std::size_t>& parents = columns.leaf_parents.emplace_back();
    for (const std::string& name : names) {
      parents.push_back(
          static_cast<std::size_t>(std::find(columns.parents.begin(), columns.parents.end(), name) -
                                   columns.parents.begin()));
    }
  }
  std::map<std::string, std::vector<std::size_t>> groups;
  for (std::size_t e = 0; e < columns.extensions.size(); ++e) {
    groups[columns.extensions[e].substr(0, 5)].push_back(e);
  }
  for (auto& [leaf, members] : groups) {
    const auto at = std::find(columns.leaves.begin(), columns.leaves.end(), leaf);
    if (at == columns.leaves.end()) continue;  // no column to add up to
    columns.extension_groups.push_back(
        {static_cast<std::size_t>(at - columns.leaves.begin()), std::move(members)});
  }
  return columns;
}

double CStatContext::UnitTotal(double source_total, short unit, short decimals) const {
  double total = source_total * UnitFactor(m_nUnitSrc, unit);
  xcKeepPoint(&total, decimals);
  return total;
}

short CStatContext::BalanceVillageTotals(const units::CopyRows& rows, double region_total,
                                         short decimals, std::vector<std::string>& codes,
                                         std::vector<double>& totals) {
  // Village sums in stored order, then the villages by sum, largest first.
  std::vector<int> slot(rows.CodeCount(), -1);
  std::vector<std::uint32_t> villages;
  std::vector<double> sums;
  for (std::size_t i = 0; i < rows.Size(); ++i) {
    const units::CopyRows::Row& row = rows.At(i);
    if (row.group == units::CopyRows::kOutside) continue;
    if (slot[row.group] < 0) {
      slot[row.group] = static_cast<int>(villages.size());
      villages.push_back(row.group);
      sums.push_back(0);
    }
    sums[slot[row.group]] += row.total;
  }
  std::vector<std::size_t> order(villages.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (sums[a] != sums[b]) return sums[a] > sums[b];
    return rows.Code(villages[a]) < rows.Code(villages[b]);
  });
  double sum = 0;
  for (std::size_t k : order) {
    codes.push_back(rows.Code(villages[k]));
    totals.push_back(sums[k]);
    sum += sums[k];
  }
  const units::StepSize size = units::StepFor(decimals);
  const units::Distribution result =
      units::Distribute(totals, region_total - sum, size, units::AboveTolerance(size));
  if (result.stalled) {
    LogFailure("平差村级面积 " + rows.Table(), "剩余差值 " + std::to_string(result.remaining));
  }
  return 1;
}

namespace {

// The rows in scope sorted for stepping: by `rank` of their group, then
// largest first, then by number; rows alike stay in stored order.
std::vector<std::size_t> RowsByArea(const units::CopyRows& rows,
                                    const std::vector<std::uint32_t>& rank) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < rows.Size(); ++i) {
    if (rows.At(i).group != units::CopyRows::kOutside) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const units::CopyRows::Row& x = rows.At(a);
    const units::CopyRows::Row& y = rows.At(b);
    if (rank[x.group] != rank[y.group]) return rank[x.group] < rank[y.group];
    if (x.total != y.total) return x.total > y.total;
    return x.order < y.order;
  });
  return order;
}

}  // namespace

units::MovedTotals CStatContext::BalanceUnitsInVillages(const units::CopyRows& rows, short decimals,
                                                        const std::vector<std::string>& codes,
                                                        const std::vector<double>& totals) {
  // The rows of each village, villages by code, largest rows first.
  const units::StepSize size = units::StepFor(decimals);
  std::unordered_map<std::string, double> target;
  for (std::size_t i = 0; i < codes.size(); ++i) target[codes[i]] = totals[i];
  std::vector<std::uint32_t> by_code(rows.CodeCount());
  for (std::uint32_t id = 0; id < by_code.size(); ++id) by_code[id] = id;
  std::sort(by_code.begin(), by_code.end(),
            [&](std::uint32_t a, std::uint32_t b) { return rows.Code(a) < rows.Code(b); });
  std::vector<std::uint32_t> rank(rows.CodeCount());
  for (std::uint32_t k = 0; k < by_code.size(); ++k) rank[by_code[k]] = k;
  const std::vector<std::size_t> order = RowsByArea(rows, rank);

  units::MovedTotals changed;
  for (std::size_t begin = 0, end = 0; begin < order.size(); begin = end) {
    const std::uint32_t village = rows.At(order[begin]).group;
    end = begin;
    while (end < order.size() && rows.At(order[end]).group == village) ++end;
    const auto found = target.find(rows.Code(village));
    if (found == target.end()) continue;
    double sum = 0;
    for (std::size_t k = begin; k < end; ++k) sum += rows.At(order[k]).total;
    double difference = found->second - sum;
    xcKeepPoint(&difference, decimals);
    // Steps go to rows of more than one unit of area when the village has any.
    std::vector<std::size_t> items;
    for (std::size_t k = begin; k < end; ++k) {
      if (rows.At(order[k]).total > 1) items.push_back(order[k]);
    }
    if (items.empty()) items.assign(order.begin() + begin, order.begin() + end);
    std::vector<double> values;
    for (std::size_t i : items) values.push_back(rows.At(i).total);
    std::vector<bool> touched;
    const units::Distribution result =
        units::Distribute(values, difference, size, units::AboveTolerance(size), &touched);
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (touched[k]) changed[items[k]] = values[k];
    }
    if (result.stalled) {
      LogFailure("平差村内面积 " + rows.Code(village),
                 "剩余差值 " + std::to_string(result.remaining));
    }
  }
  return changed;
}

namespace {

// The leaves of the source rows whose keys (the columns `key`) are
// `wanted`, by key: the source is read by the values of the first key
// column, a batch of them per statement, not one look-up per row, and a
// row is kept when its whole key is wanted.
std::unordered_map<std::string, std::vector<double>> SourceLeaves(
    db::Connection& connection, const std::string& source_table,
    const std::vector<std::string>& leaves, const std::vector<std::string>& key,
    const std::unordered_set<std::string>& wanted) {
  constexpr std::size_t kBatch = 20000;
  std::vector<std::string_view> firsts;  // the first key column's values, once each
  bool null_first = false;
  std::unordered_set<std::string_view> seen;
  for (const std::string& row_key : wanted) {
    const std::string_view first = std::string_view(row_key).substr(0, row_key.find('\x1f'));
    if (first == "\x1e") {
      null_first = true;
    } else if (seen.insert(first).second) {
      firsts.push_back(first);
    }
  }
  const std::string columns = ColumnList({&key, &leaves}, {});
  const int first_leaf = static_cast<int>(key.size());
  std::unordered_map<std::string, std::vector<double>> found;
  const auto read = [&](const std::string& condition) {
    const std::unique_ptr<db::RowSource> rows =
        connection.Scan("select " + columns + " from " + source_table + " where " + condition);
    while (rows->Next()) {
      std::string row_key = units::CopyRows::KeyOf(*rows, 0, key.size());
      if (!wanted.count(row_key)) continue;
      std::vector<double> values(leaves.size());
      for (std::size_t i = 0; i < leaves.size(); ++i) {
        values[i] = rows->Number(first_leaf + static_cast<int>(i));
      }
      if (!found.emplace(row_key, std::move(values)).second) {
        throw db::DbError("table " + source_table + " holds more than one row of " +
                          ColumnList({&key}, {}) + " " + units::CopyRows::ShownKey(row_key));
      }
    }
  };
  for (std::size_t first = 0; first < firsts.size(); first += kBatch) {
    std::string list;
    const std::size_t last = std::min(firsts.size(), first + kBatch);
    for (std::size_t k = first; k < last; ++k) {
      list += (k == first ? "(" : ",(") + db::QuoteText(firsts[k]) + ")";
    }
    read(key.front() + " in (select column1 from (values " + list + ") as wanted)");
  }
  if (null_first) read(key.front() + " is null");
  return found;
}

}  // namespace

short CStatContext::BalanceClassAreas(const std::string& source_table, units::CopyRows& rows,
                                      short decimals, const units::MovedTotals& new_totals) {
  const units::StepSize size = units::StepFor(decimals);
  const units::BalanceColumns& columns = rows.Columns();
  const std::size_t leaves = columns.leaves.size();
  try {
    // Rows in the order of their numbers. SQLite stores them so already:
    // its copies are filled in the base table's order, so its row ids follow.
    std::vector<std::size_t> walk(rows.Size());
    for (std::size_t i = 0; i < walk.size(); ++i) walk[i] = i;
    if (m_pConn.Kind() != db::DbKind::kEmbedded) {
      std::stable_sort(walk.begin(), walk.end(), [&](std::size_t a, std::size_t b) {
        return rows.At(a).order < rows.At(b).order;
      });
    }
    // The rows the pass walks: those whose classes do not add up and those
    // whose totals moved. Of them, the numbers of those whose classes are
    // all but empty: they take their steps on the classes of their source row.
    std::vector<std::size_t> selected;
    for (std::size_t index : walk) {
      if (rows.At(index).unbalanced || new_totals.count(index)) selected.push_back(index);
    }
    rows.ReadClasses(m_pConn, selected);
    const auto total_of = [&](std::size_t index) {
      const auto moved = new_totals.find(index);
      return moved == new_totals.end() ? rows.At(index).total : moved->second;
    };
    std::vector<double> values;
    std::unordered_set<std::string> seeded;
    for (std::size_t index : selected) {
      rows.Classes(index, values);
      double sum = 0;
      for (std::size_t i = 0; i < leaves; ++i) sum += values[i];
      const double total = total_of(index);
      if (total - sum > sum && total - sum > size.tolerance) seeded.emplace(rows.Key(index));
    }
    const auto source =
        SourceLeaves(m_pConn, source_table, columns.leaves, rows.KeyColumns(), seeded);

    ChangedRows changed;
    std::vector<double> before, parent_sums(columns.parents.size());
    std::vector<double> source_leaves(leaves);
    RowBalance row;
    for (std::size_t index : selected) {
      rows.Classes(index, values);
      changed.Begin(index);
      row.total = total_of(index);
      if (row.total != rows.At(index).total) changed.Set(0, row.total);
      row.leaves.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(leaves));
      double sum = 0;
      for (double leaf : row.leaves) sum += leaf;
      std::fill(source_leaves.begin(), source_leaves.end(), 0.0);
      if (row.total - sum > sum && row.total - sum > size.tolerance) {
        const auto match = source.find(std::string(rows.Key(index)));
        if (match == source.end()) {
          LogFailure("平差分类面积 " + rows.Table(),
                     "源表中没有" + ColumnList({&rows.KeyColumns()}, {}) + " " +
                         units::CopyRows::ShownKey(rows.Key(index)) + " 的行");
          return 0;
        }
        source_leaves = match->second;
      }
      before = row.leaves;
      const LeafBalance balance = BalanceLeaves(row, source_leaves, size);
      if (balance != LeafBalance::kDone) {
        char title[200];
        std::snprintf(title, sizeof title, "座落单位代码 %s 土地总面积 %f",
                      rows.Code(rows.At(index).location).c_str(), row.total);
        LogFailure(title, balance == LeafBalance::kNegative ? "平差分类面积失败"
                                                            : "平差分类面积未达到行面积");
      }
      if (balance == LeafBalance::kNegative) {
        changed.End();
        continue;
      }
      std::fill(parent_sums.begin(), parent_sums.end(), 0.0);
      for (std::size_t i = 0; i < leaves; ++i) {
        if (row.leaves[i] != before[i]) {
          values[i] = row.leaves[i];
          changed.Set(i + 1, row.leaves[i]);
        }
        if (row.leaves[i] > 0) {
          for (std::size_t parent : columns.leaf_parents[i]) parent_sums[parent] += row.leaves[i];
        }
      }
      // Parents are the sums of their leaves, on the decimal grid.
      for (std::size_t p = 0; p < columns.parents.size(); ++p) {
        double value = parent_sums[p];
        xcKeepPoint(&value, decimals);
        if (values[leaves + p] != value) {
          values[leaves + p] = value;
          changed.Set(leaves + p + 1, value);
        }
      }
      BalanceExtensions(values, columns, decimals, changed);
      changed.End();
    }
    changed.Write(m_pConn, rows);
    host::yDebugTime(std::to_string(changed.Count()) + " rows of " + rows.Table() + " balanced");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(error.what(), "平差分类面积失败");
    return 0;
  }
}

double CStatContext::RegionTotal(const std::string& table) {
  return m_pConn
      .Scalar("select sum(土地总面积) as 土地总面积 from " + table + " where 座落单位代码 like " +
              CountyCodesLike())
      .AsDouble();
}

short CStatContext::BalanceStatData() {
  std::vector<std::unique_ptr<units::CopyRows>> none;
  return BalanceStatData(none);
}

short CStatContext::BalanceStatData(std::vector<std::unique_ptr<units::CopyRows>>& filled) {
  struct Copy {
    std::string name;
    short unit;
    short decimals;
    std::unique_ptr<units::CopyRows> rows;
    std::string error;
    // Where the rows of a copy filled in memory go back once balanced,
    // with the sums made of it (CopyRows::Sums).
    std::unique_ptr<units::CopyRows>* filled = nullptr;
  };
  std::vector<Copy> copies;
  for (const auto& [name, unit, decimals] : {std::tuple{m_strStatTblUnit1, m_nUnit1, m_nDec1},
                                             std::tuple{m_strStatTblUnit2, m_nUnit2, m_nDec2}}) {
    if (!name.empty() && unit != m_nUnitSrc) copies.push_back({name, unit, decimals, {}, {}, {}});
  }
  if (copies.empty()) return 1;
  double region = 0;  // of the source, the same for every copy
  std::vector<std::function<void(db::Connection&)>> reads;
  const units::BalanceColumns columns = units::SortClassColumns(*this);
  for (Copy& copy : copies) {
    const auto in_memory = std::find_if(filled.begin(), filled.end(), [&](const auto& rows) {
      return rows && rows->Table() == copy.name;
    });
    if (in_memory != filled.end()) {
      copy.rows = std::move(*in_memory);
      copy.filled = &*in_memory;
      continue;
    }
    // The copies are read at the same time, each by a processor of its own.
    reads.emplace_back([&](db::Connection& reader) {
      try {
        copy.rows = std::make_unique<units::CopyRows>(
            reader, copy.name, columns, copy.decimals,
            units::CopyRows::Scope{"村级代码", CountyCodesLike(), true});
      } catch (const db::DbError& error) {
        copy.error = error.what();
      }
    });
  }
  try {
    region = RegionTotal(m_strStatTblSrc);
    db::ReadApart(m_pConn, reads);
    host::yDebugTime("unit copies read");
  } catch (const db::DbError& error) {
    LogFailure("平差分单位基础汇总表", m_strStatTblSrc + " " + error.what());
    return 0;
  }
  for (Copy& copy : copies) {
    if (!copy.rows) {
      LogFailure("平差分单位基础汇总表", copy.name + " " + copy.error);
      return 0;
    }
    if (BalanceReadCopy(m_strStatTblSrc, *copy.rows, copy.unit, copy.decimals, region) == 0) {
      return 0;
    }
    if (copy.filled) *copy.filled = std::move(copy.rows);
  }
  return 1;
}

short CStatContext::BalanceUnitCopy(const std::string& source, const std::string& copy, short unit,
                                    short decimals, std::optional<double> source_total) {
  try {
    const double region = source_total ? *source_total : RegionTotal(source);
    units::CopyRows rows(m_pConn, copy, units::SortClassColumns(*this), decimals,
                         {"村级代码", CountyCodesLike(), true});
    return BalanceReadCopy(source, rows, unit, decimals, region);
  } catch (const db::DbError& error) {
    LogFailure("平差分单位基础汇总表", copy + " " + error.what());
    return 0;
  }
}

short CStatContext::BalanceReadCopy(const std::string& source, units::CopyRows& rows, short unit,
                                    short decimals, double region) {
  try {
    std::vector<std::string> codes;
    std::vector<double> totals;
    BalanceVillageTotals(rows, UnitTotal(region, unit, decimals), decimals, codes, totals);
    const units::MovedTotals moved = BalanceUnitsInVillages(rows, decimals, codes, totals);
    host::yDebugTime("rows of the villages of " + rows.Table() + " balanced");
    return BalanceClassAreas(source, rows, decimals, moved) > 0 ? 1 : 0;
  } catch (const db::DbError& error) {
    LogFailure("平差分单位基础汇总表", rows.Table() + " " + error.what());
    return 0;
  }
}

short CStatContext::BalanceRowsToTotal(const units::CopyRows& rows, double source_total, short unit,
                                       short decimals, units::MovedTotals& moved) {
  const units::StepSize size = units::StepFor(decimals);
  const std::vector<std::size_t> order = RowsByArea(rows, std::vector<std::uint32_t>(1, 0));
  std::vector<double> areas;
  double sum = 0;
  for (std::size_t i : order) {
    areas.push_back(rows.At(i).total);
    sum += areas.back();
  }
  std::vector<bool> touched;
  const units::Distribution result =
      units::Distribute(areas, UnitTotal(source_total, unit, decimals) - sum, size,
                        units::AboveTolerance(size), &touched);
  for (std::size_t k = 0; k < areas.size(); ++k) {
    if (touched[k]) moved[order[k]] = areas[k];
  }
  if (result.stalled) {
    LogFailure("平差行面积 " + rows.Table(), "剩余差值 " + std::to_string(result.remaining));
  }
  return 1;
}

namespace {

// The rows of `table` that `filled` holds, taken out of it; none when it
// holds none.
std::unique_ptr<units::CopyRows> TakeFilled(std::vector<std::unique_ptr<units::CopyRows>>* filled,
                                            const std::string& table) {
  if (!filled) return nullptr;
  for (std::unique_ptr<units::CopyRows>& rows : *filled) {
    if (rows && rows->Table() == table) return std::move(rows);
  }
  return nullptr;
}

// The sums to make of a farmland copy in a unit as it is read for its
// balancing.
using CopySumsOf = std::function<std::vector<units::CopySumsRequest>(short unit)>;

// The target copies of a farmland table balanced against its copy in the
// source unit `source`: each copy's rows add up to the converted county
// total, then each row's classes to its total. `unit1`, `unit2`: the copies
// in units 1 and 2 (empty: none); `key`: the columns that pair their rows
// with the source's. A copy whose rows `filled` holds is not read. A
// failure is logged under `title` and ends the balancing with 0.
short BalanceFarmlandCopies(CStatContext& c, const std::string& source, const std::string& unit1,
                            const std::string& unit2, const std::vector<std::string>& key,
                            const char* title, const CopySumsOf& sums_of = {},
                            std::vector<std::unique_ptr<units::CopyRows>>* filled = nullptr) {
  try {
    const double region = c.RegionTotal(source);
    const units::BalanceColumns columns = units::SortClassColumns(c);
    short result = 1;
    for (const auto& [name, unit, decimals] :
         {std::tuple{unit1, c.m_nUnit1, c.m_nDec1}, std::tuple{unit2, c.m_nUnit2, c.m_nDec2}}) {
      // A copy this run does not make (the county batch's mu copy) is not
      // balanced.
      if (name.empty() || unit == c.m_nUnitSrc || !c.WantsUnit(unit)) continue;
      std::unique_ptr<units::CopyRows> held = TakeFilled(filled, name);
      if (!held) {
        held = std::make_unique<units::CopyRows>(
            c.m_pConn, name, columns, decimals,
            units::CopyRows::Scope{"座落单位代码", c.CountyCodesLike(), false, key},
            sums_of ? sums_of(unit) : std::vector<units::CopySumsRequest>{});
      }
      units::CopyRows& rows = *held;
      units::MovedTotals moved;
      c.BalanceRowsToTotal(rows, region, unit, decimals, moved);
      if (c.BalanceClassAreas(source, rows, decimals, moved) <= 0) {
        result = 0;
      } else {
        c.KeepFedSums(rows.Sums());
      }
    }
    return result;
  } catch (const db::DbError& error) {
    c.LogFailure(title, error.what());
    return 0;
  }
}

// The copies of `base` in the source unit and units 1 and 2.
short BalanceCopiesOf(CStatContext& c, const std::string& base, const std::vector<std::string>& key,
                      const char* title, const CopySumsOf& sums_of = {},
                      std::vector<std::unique_ptr<units::CopyRows>>* filled = nullptr) {
  const TableNames& names = c.Names();
  return BalanceFarmlandCopies(c, names.UnitCopy(c.m_nUnitSrc, base),
                               names.UnitCopy(c.m_nUnit1, base), names.UnitCopy(c.m_nUnit2, base),
                               key, title, sums_of, filled);
}

}  // namespace

short CStatContext::BalanceStatDataByUnit() {
  std::vector<std::unique_ptr<units::CopyRows>> none;
  return BalanceStatDataByUnit(none);
}

short CStatContext::BalanceStatDataByUnit(std::vector<std::unique_ptr<units::CopyRows>>& filled) {
  // The situation tables' sums of each copy are made as it is read here
  // (or were made as it was written), not from a second read of it.
  return BalanceCopiesOf(
      *this, "statdata_jbnt", JbntCopyKey(), "平差基本农田基础汇总表",
      [this](short unit) { return JbntFedSumsRequests(unit); }, &filled);
}

short CStatContext::BalanceJbntCopies(const std::string& source, const std::string& unit1,
                                      const std::string& unit2) {
  return BalanceFarmlandCopies(*this, source, unit1, unit2, JbntCopyKey(),
                               "平差基本农田基础汇总表");
}

short CStatContext::BalanceJbntOnlyTable() {
  // Its groups are numbered in 序号, which its copies keep.
  return BalanceCopiesOf(*this, "statdata_jbntOnly", {"序号"}, "平差基本农田图斑汇总表");
}

}  // namespace landstat
