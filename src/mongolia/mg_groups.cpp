#include "mongolia/mg_groups.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "mongolia/mg_stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "units/copy_rows.h"

namespace landstat::mg {

std::uint32_t MgTexts::Id(std::string_view text) {
  const auto found = ids_.find(text);
  if (found != ids_.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(texts_.size());
  texts_.emplace_back(text);
  ids_.emplace(texts_.back(), id);
  return id;
}

int MgCopy::Column(std::string_view name) const {
  const std::string wanted = text::ToLowerAscii(name);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (text::ToLowerAscii(columns[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// The places of rows in the order of their keys, column by column.
std::vector<std::size_t> KeyOrder(const std::vector<MgKey>& keys, const MgTexts& texts) {
  std::vector<std::size_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::lexicographical_compare(
        keys[a].begin(), keys[a].end(), keys[b].begin(), keys[b].end(),
        [&](std::uint32_t x, std::uint32_t y) { return texts.Less(x, y); });
  });
  return order;
}

// The rows of `keys` and `figures` in the order of their keys, each figure
// made by `figure`.
template <typename Figure>
MgCopy Ordered(const std::vector<std::string>& columns, const std::vector<MgKey>& keys,
               const std::vector<double>& figures, const MgTexts& texts, const Figure& figure) {
  const std::size_t width = columns.size();
  MgCopy copy{columns, {}, {}};
  copy.keys.reserve(keys.size());
  copy.figures.reserve(figures.size());
  for (std::size_t row : KeyOrder(keys, texts)) {
    copy.keys.push_back(keys[row]);
    for (std::size_t i = 0; i < width; ++i)
      copy.figures.push_back(figure(figures[row * width + i]));
  }
  return copy;
}

}  // namespace

void SortByKey(MgCopy& copy, const MgTexts& texts) {
  copy =
      Ordered(copy.columns, copy.keys, copy.figures, texts, [](double figure) { return figure; });
}

MgCopy ReadCopy(db::Connection& connection, const std::string& table,
                const std::vector<std::string>& columns, MgTexts& texts) {
  std::string list;
  for (const std::string& column : kMgGroupColumns) list += column + ",";
  for (const std::string& column : columns) list += column + ",";
  list.pop_back();
  MgCopy copy{columns, {}, {}};
  std::unique_ptr<db::RowSource> rows = connection.Scan("select " + list + " from " + table);
  while (rows->Next()) {
    MgKey key{};
    for (std::size_t i = 0; i < kMgGroupCount; ++i) {
      const int at = static_cast<int>(i);
      key[i] = rows->IsNull(at) ? MgTexts::kNull : texts.Id(rows->Text(at));
    }
    copy.keys.push_back(key);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      double figure = 0;
      rows->NumberUnlessNull(static_cast<int>(kMgGroupCount + i), figure);
      copy.figures.push_back(figure);
    }
  }
  SortByKey(copy, texts);
  return copy;
}

void WriteCopy(db::Connection& connection, const std::string& table, const MgCopy& copy,
               const MgTexts& texts) {
  connection.Execute("delete from " + table);
  std::vector<std::string> names = kMgGroupColumns;
  names.insert(names.end(), copy.columns.begin(), copy.columns.end());
  db::RowWriter writer(connection, table, names);
  std::vector<db::Value> values(names.size());
  for (std::size_t row = 0; row < copy.Rows(); ++row) {
    for (std::size_t i = 0; i < kMgGroupCount; ++i) values[i] = texts.ValueOf(copy.keys[row][i]);
    const double* figures = copy.Row(row);
    for (std::size_t i = 0; i < copy.columns.size(); ++i) values[kMgGroupCount + i] = figures[i];
    writer.Add(values);
  }
  writer.Close();
}

MgCopyWriting::MgCopyWriting(db::Connection& connection, std::string table, const MgCopy& copy,
                             const MgTexts& texts)
    : thread_([this, &connection, table = std::move(table), &copy, &texts] {
        try {
          WriteCopy(connection, table, copy, texts);
        } catch (...) {
          failure_ = std::current_exception();
        }
      }) {}

MgCopyWriting::~MgCopyWriting() {
  if (thread_.joinable()) thread_.join();
}

void MgCopyWriting::Finish() {
  if (thread_.joinable()) thread_.join();
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

std::size_t MgLedgerKeyHash::operator()(const MgLedgerKey& key) const {
  std::size_t hash = std::hash<std::string>()(key.number);
  for (std::uint32_t id : {key.owner_code, key.owner_name, key.location}) {
    hash = hash * 1000003u ^ id;
  }
  return hash;
}

void MgBaseGroups::Begin(MgTexts& texts, const std::vector<std::string>& row_columns,
                         const std::vector<std::string>& figures) {
  Clear();
  std::unordered_map<std::string, int> place;
  for (std::size_t i = 0; i < row_columns.size(); ++i) {
    place.emplace(text::ToLowerAscii(row_columns[i]), static_cast<int>(i));
  }
  const auto find = [&](const std::string& name) {
    const auto found = place.find(text::ToLowerAscii(name));
    if (found == place.end()) throw db::DbError("内蒙古基础汇总表没有列 " + name);
    return found->second;
  };
  for (std::size_t i = 0; i < kMgGroupCount; ++i) group_places_[i] = find(kMgGroupColumns[i]);
  owner_code_ = find("内蒙古权属单位代码");
  owner_name_ = find("内蒙古权属单位名称");
  location_ = find("座落单位代码");
  number_ = find("图斑编号");
  figure_of_.assign(row_columns.size(), -1);
  for (std::size_t i = 0; i < figures.size(); ++i) {
    figure_of_[find(figures[i])] = static_cast<int>(i);
  }
  total_ = find(figures.front());
  classes_.clear();
  for (std::size_t i = 1; i < figures.size(); ++i) classes_.push_back(find(figures[i]));
  figures_ = figures;
  texts_ = &texts;
}

void MgBaseGroups::Clear() {
  texts_ = nullptr;
  copy_taken_ = false;
  last_key_.clear();
  last_ledger_ = nullptr;
  for (Recent* recent : {&owner_code_text_, &owner_name_text_, &location_text_}) *recent = {};
  for (Recent& recent : group_texts_) recent = {};
  figures_.clear();
  copy_rows_.clear();
  copy_keys_.clear();
  copy_sums_.clear();
  copy_sums_.shrink_to_fit();
  ledger_.clear();
  ledger_classes_.clear();
}

std::uint32_t MgBaseGroups::Id(const db::Value& value, Recent& recent) {
  if (value.IsNull()) return MgTexts::kNull;
  if (recent.id == MgTexts::kNull || value.TextView() != recent.text) {
    recent.text = value.TextView();
    recent.id = texts_->Id(recent.text);
  }
  return recent.id;
}

void MgBaseGroups::Add(const std::vector<db::Value>& row) {
  const double area = row[total_].AsDouble();
  booked_.clear();
  for (int place : classes_) {
    if (row[place].IsDouble() && row[place].AsDouble() != 0) booked_.push_back(place);
  }
  const std::vector<int>& classes = booked_;
  // The copy row: found by its key's texts, made with their numbers.
  key_.clear();
  for (int place : group_places_) {
    units::CopyRows::KeyPart(row[place].IsNull(), row[place].TextView(), key_);
    key_ += '\x1f';
  }
  const std::size_t width = figures_.size();
  if (key_ != last_key_ || copy_keys_.empty()) {
    auto [found, added] =
        copy_rows_.try_emplace(key_, static_cast<std::uint32_t>(copy_keys_.size()));
    if (added) {
      MgKey key{};
      for (std::size_t i = 0; i < kMgGroupCount; ++i) {
        key[i] = Id(row[group_places_[i]], group_texts_[i]);
      }
      copy_keys_.push_back(key);
      copy_sums_.resize(copy_sums_.size() + width, 0.0);
    }
    last_copy_row_ = found->second;
    key_.swap(last_key_);
  }
  double* sums = copy_sums_.data() + static_cast<std::size_t>(last_copy_row_) * width;
  sums[0] += area;
  for (int place : classes) sums[figure_of_[place]] += area;

  MgLedgerKey ledger{Id(row[owner_code_], owner_code_text_),
                     Id(row[owner_name_], owner_name_text_),
                     Id(row[location_], location_text_),
                     {}};
  units::CopyRows::KeyPart(row[number_].IsNull(), row[number_].TextView(), ledger.number);
  if (!last_ledger_ || !(ledger == last_ledger_key_)) {
    last_ledger_ = &ledger_[ledger];
    last_ledger_key_ = std::move(ledger);
  }
  MgLedgerSums& entry = *last_ledger_;
  entry.total += area;
  for (int place : classes) {
    const auto figure = static_cast<std::uint16_t>(figure_of_[place]);
    std::uint32_t at = entry.first_class;
    while (at != MgLedgerSums::kNoClass && ledger_classes_[at].figure != figure) {
      at = ledger_classes_[at].next;
    }
    if (at != MgLedgerSums::kNoClass) {
      ledger_classes_[at].sum += area;
    } else {
      ledger_classes_.push_back({area, entry.first_class, figure});
      entry.first_class = static_cast<std::uint32_t>(ledger_classes_.size() - 1);
    }
  }
}

void MgBaseGroups::ReleaseLedger() {
  last_ledger_ = nullptr;
  std::unordered_map<MgLedgerKey, MgLedgerSums, MgLedgerKeyHash>().swap(ledger_);
  std::deque<MgLedgerClass>().swap(ledger_classes_);
}

MgCopy MgBaseGroups::TakeCopy() {
  if (copy_taken_) throw db::DbError("内蒙古扩展基础数据的分组已取出");
  copy_taken_ = true;
  // The lookup of the rows by their texts goes first: only the sums are
  // held beside the copy being made.
  std::unordered_map<std::string, std::uint32_t>().swap(copy_rows_);
  last_key_.clear();
  MgCopy copy = Ordered(figures_, copy_keys_, copy_sums_, *texts_,
                        [](double sum) { return text::RoundDecimal(sum, 1); });
  std::vector<MgKey>().swap(copy_keys_);
  std::vector<double>().swap(copy_sums_);
  return copy;
}

}  // namespace landstat::mg
