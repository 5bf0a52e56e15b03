#include "units/converted_copies.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/db/backend.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat::units {

bool IsCopiedArea(std::string_view column) {
  return column == "土地总面积" || column.rfind("BM", 0) == 0 || column.rfind("bm", 0) == 0;
}

double RoundingBound(double factor, short decimals) {
  // A tenfold margin below the 15 digits a figure's text holds.
  return 1e14 / (factor * std::pow(10.0, std::max<short>(decimals, 0)));
}

AreaConversion::AreaConversion(std::string_view factor_text, double factor, short decimals,
                               Rounding beyond)
    : bound_(RoundingBound(factor, decimals)), decimals_(decimals), beyond_(std::move(beyond)) {
  std::size_t at = 0;
  while (at < factor_text.size()) {
    const char op = factor_text[at++];
    std::size_t end = at;
    while (end < factor_text.size() && factor_text[end] >= '0' && factor_text[end] <= '9') ++end;
    double by = 0;
    const auto [rest, error] =
        std::from_chars(factor_text.data() + at, factor_text.data() + end, by);
    if ((op != '*' && op != '/') || error != std::errc() || rest != factor_text.data() + end) {
      throw db::DbError("unit factor " + std::string(factor_text) + " is not understood");
    }
    steps_.push_back({op == '*', by});
    at = end;
  }
}

double AreaConversion::operator()(double area) const {
  if (area == 0) return area;
  double converted = area;
  for (const Step& step : steps_)
    converted = step.multiply ? converted * step.by : converted / step.by;
  if (std::fabs(area) < bound_) return text::RoundDecimal(converted, decimals_);
  if (beyond_) return beyond_(converted);
  // Beyond the bound, and for figures that are not finite, through the
  // figure's text as format() and val() make and read it.
  const std::string shown = text::FormatNumber(converted, db::SqlDialect::RoundPicture(decimals_));
  return text::LeadingNumber(shown).value_or(converted);
}

AreaConversion EngineRoundedConversion(db::Connection& connection, std::mutex& connection_lock,
                                       std::string_view factor_text, double factor,
                                       short decimals) {
  const std::string round = "select round(?," + std::to_string(decimals) + ")";
  return AreaConversion(factor_text, factor, decimals,
                        [&connection, &connection_lock, round](double converted) {
                          const std::lock_guard asking(connection_lock);
                          return connection.Scalar(round, {db::Value(converted)}).AsDouble();
                        });
}

// A column converted by a factor and rounded, as the copies hold it: most
// class columns of a row are 0, and only the others are converted. On the
// embedded engine round(x,d) is the rounding val(format(x,'0.00')) applies
// before its text, and gives the same figure to the bit without making and
// reading that text wherever x times 10^d stays below 1e15 (the figure has
// at most 15 digits, and its text reads back as itself): the bound below
// keeps a tenfold margin; beyond it, and for figures that are not finite,
// the text form stays.
std::string ConvertedAreaSql(const db::SqlDialect& dialect, const std::string& column,
                             const std::string& factor_text, double factor, short decimals) {
  const std::string converted = column + factor_text;
  std::string rounded = dialect.Round(converted, decimals);
  if (dialect.Kind() == db::DbKind::kEmbedded) {
    const double bound = RoundingBound(factor, decimals);
    rounded = fmt::format("CASE WHEN abs({}) < {} THEN round({},{}) ELSE {} END", column, bound,
                          converted, decimals, rounded);
  }
  return "CASE WHEN " + column + "=0 THEN " + column + " ELSE " + rounded + " END";
}

std::int64_t LastRowId(db::Connection& connection, const std::string& table) {
  const db::Value last = connection.Scalar("select max(rowid) from " + table);
  return last.IsNull() ? 0 : last.AsInteger();
}

bool CanFillInMemory(db::Connection& connection, const std::string& source) {
  if (connection.Kind() != db::DbKind::kEmbedded) return false;
  const std::vector<db::ColumnInfo> columns = connection.Columns(source);
  return std::none_of(columns.begin(), columns.end(),
                      [](const db::ColumnInfo& column) { return column.primary_key; });
}

namespace {

// Where the columns a fill reads sit in its row.
struct SourceLayout {
  std::vector<db::ColumnInfo> columns;
  std::vector<bool> area;    // by column: converted
  std::vector<int> classes;  // by class of BalanceColumns: its column
  std::vector<int> key;      // the columns that pair a copy's row with its source row
  int total = -1, location = -1, village = -1;
  int order = -1, in_scope = -1;  // computed after the table's columns
  // By column: a number whose text is kept too, as the database gives it,
  // for the sums that group by it.
  std::vector<bool> number_text;
};

SourceLayout LayOut(db::Connection& connection, const std::string& source,
                    const BalanceColumns& balance, const std::vector<std::string>& key) {
  SourceLayout layout;
  layout.columns = connection.Columns(source);
  std::unordered_map<std::string, int> by_name;
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    const std::string& name = layout.columns[i].name;
    layout.area.push_back(IsCopiedArea(name));
    by_name[text::ToLowerAscii(name)] = static_cast<int>(i);
  }
  const auto find = [&](const std::string& name) {
    const auto found = by_name.find(text::ToLowerAscii(name));
    if (found == by_name.end()) throw db::DbError("table " + source + " has no column " + name);
    return found->second;
  };
  for (const auto* names : {&balance.leaves, &balance.parents, &balance.extensions}) {
    for (const std::string& name : *names) layout.classes.push_back(find(name));
  }
  layout.total = find("土地总面积");
  for (const std::string& name : key) layout.key.push_back(find(name));
  layout.location = find("座落单位代码");
  layout.village = find("村级代码");
  layout.order = static_cast<int>(layout.columns.size());
  layout.in_scope = layout.order + 1;
  return layout;
}

// Rows of the source as read once for every copy: each field a number or
// a text (areas and other numbers as numbers, texts in one buffer).
struct RowBatch {
  static constexpr std::size_t kRows = 2048;
  std::size_t rows = 0;
  std::vector<double> numbers;                       // rows x width
  std::vector<char> nulls;                           // rows x width
  std::vector<std::uint32_t> text_begin, text_size;  // rows x width, for text fields
  std::string texts;
  std::vector<double> orders;  // CAST(序号 AS INTEGER), by row
  std::vector<char> in_scope;  // by row
};

// Reads the next rows of `source` into a batch; false at the end.
bool ReadBatch(db::RowSource& source, const SourceLayout& layout, RowBatch& batch) {
  const std::size_t width = layout.columns.size();
  batch.rows = 0;
  batch.texts.clear();
  batch.numbers.resize(RowBatch::kRows * width);
  batch.nulls.resize(RowBatch::kRows * width);
  batch.text_begin.resize(RowBatch::kRows * width);
  batch.text_size.resize(RowBatch::kRows * width);
  batch.orders.resize(RowBatch::kRows);
  batch.in_scope.resize(RowBatch::kRows);
  while (batch.rows < RowBatch::kRows && source.Next()) {
    const std::size_t base = batch.rows * width;
    for (std::size_t i = 0; i < width; ++i) {
      const int at = static_cast<int>(i);
      if (layout.area[i] || layout.columns[i].type != db::FieldType::kText) {
        batch.nulls[base + i] = !source.NumberUnlessNull(at, batch.numbers[base + i]);
        if (!layout.number_text[i]) continue;
      } else {
        batch.nulls[base + i] = source.IsNull(at);
      }
      const std::string_view text = source.Text(at);
      batch.text_begin[base + i] = static_cast<std::uint32_t>(batch.texts.size());
      batch.text_size[base + i] = static_cast<std::uint32_t>(text.size());
      batch.texts += text;
    }
    batch.orders[batch.rows] = source.Number(layout.order);
    batch.in_scope[batch.rows] = source.Number(layout.in_scope) != 0;
    ++batch.rows;
  }
  return batch.rows > 0;
}

// A row of values as a RowSource, for the sums fed from it: row `row` of
// `batch` (set by At), as RowValues made it.
class ValuesRow : public db::RowSource {
 public:
  ValuesRow(const SourceLayout& layout, const std::vector<db::Value>& values)
      : layout_(layout), columns_(layout.columns), values_(values) {}
  void At(const RowBatch& batch, std::size_t row) {
    batch_ = &batch;
    row_ = row;
  }
  const std::vector<db::ColumnInfo>& Columns() const override { return columns_; }
  bool Fetch(std::vector<db::Value>&) override { return false; }
  bool Next() override { return false; }
  bool IsNull(int column) const override { return values_[column].IsNull(); }
  double Number(int column) const override {
    const db::Value& value = values_[column];
    return value.IsNull() ? 0 : value.AsDouble(columns_[column].name);
  }
  // The keys of the sums fed are text columns, or numbers whose text the
  // batch kept (see FeedsOn).
  std::string_view Text(int column) const override {
    const db::Value& value = values_[column];
    if (value.IsText() || !layout_.number_text[column]) return value.TextView();
    const std::size_t at = row_ * columns_.size() + static_cast<std::size_t>(column);
    return std::string_view(batch_->texts).substr(batch_->text_begin[at], batch_->text_size[at]);
  }

 private:
  const SourceLayout& layout_;
  const std::vector<db::ColumnInfo>& columns_;
  const std::vector<db::Value>& values_;
  const RowBatch* batch_ = nullptr;
  std::size_t row_ = 0;
};

std::vector<std::string> ColumnNames(const SourceLayout& layout) {
  std::vector<std::string> names;
  for (const db::ColumnInfo& column : layout.columns) names.push_back(column.name);
  return names;
}

// Whether sums can be fed the rows of `layout`: their keys are columns
// other than areas, text or numbers whose texts the batches keep (the
// copies hold the same figure, which the database gives as the same text).
bool FeedsOn(const SourceLayout& layout, const CopySumsRequest& request) {
  for (const std::string& key : request.query.keys) {
    const auto column =
        std::find_if(layout.columns.begin(), layout.columns.end(),
                     [&](const db::ColumnInfo& info) { return text::IEquals(info.name, key); });
    if (column == layout.columns.end() || IsCopiedArea(column->name)) return false;
    const auto at = static_cast<std::size_t>(column - layout.columns.begin());
    if (column->type != db::FieldType::kText && !layout.number_text[at]) return false;
  }
  return true;
}

// Marks the number columns the requests group by, whose texts the batches
// then keep.
void KeepKeyTexts(SourceLayout& layout, const std::vector<CopySumsRequest>& requests) {
  for (const CopySumsRequest& request : requests) {
    for (const std::string& key : request.query.keys) {
      for (std::size_t i = 0; i < layout.columns.size(); ++i) {
        if (text::IEquals(layout.columns[i].name, key) && !layout.area[i]) {
          layout.number_text[i] = true;
        }
      }
    }
  }
}

std::vector<FedCopySums> FedSumsOf(const SourceLayout& layout,
                                   const std::vector<CopySumsRequest>& requests) {
  std::vector<FedCopySums> sums;
  for (const CopySumsRequest& request : requests) {
    if (FeedsOn(layout, request)) sums.emplace_back(request, ColumnNames(layout));
  }
  return sums;
}

// Row r of a batch as values, its areas converted by `convert` when given
// (`converted`: the converted areas, 0 elsewhere).
void RowValues(const RowBatch& batch, std::size_t r, const SourceLayout& layout,
               const AreaConversion* convert, std::vector<db::Value>& row,
               std::vector<double>& converted) {
  const std::size_t width = layout.columns.size();
  const std::size_t base = r * width;
  for (std::size_t i = 0; i < width; ++i) {
    converted[i] = 0;
    if (batch.nulls[base + i]) {
      row[i] = db::Value();
    } else if (layout.area[i] && convert) {
      converted[i] = (*convert)(batch.numbers[base + i]);
      row[i] = db::Value(converted[i]);
    } else if (layout.area[i] || layout.columns[i].type != db::FieldType::kText) {
      row[i] = db::Value(batch.numbers[base + i]);
    } else {
      row[i].AssignText(std::string_view(batch.texts)
                            .substr(batch.text_begin[base + i], batch.text_size[base + i]));
    }
  }
}

// Feeds the rows of a batch to the sums of the source.
void FeedSource(const RowBatch& batch, const SourceLayout& layout, std::vector<FedCopySums>& sums,
                std::vector<db::Value>& row, std::vector<double>& converted) {
  if (sums.empty()) return;
  ValuesRow values(layout, row);
  for (std::size_t r = 0; r < batch.rows; ++r) {
    RowValues(batch, r, layout, nullptr, row, converted);
    values.At(batch, r);
    for (FedCopySums& fed : sums) fed.Feed(values);
  }
}

// Batches handed from one reader to every writer: each writer takes every
// batch in order; the reader waits while the slowest writer is `capacity`
// batches behind. Cancel ends every wait.
class BatchFeed {
 public:
  BatchFeed(std::size_t writers, std::size_t capacity) : next_(writers, 0), capacity_(capacity) {}

  // False once cancelled: nobody takes the batches any more.
  bool Push(std::shared_ptr<const RowBatch> batch) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return cancelled_ || batches_.size() < capacity_; });
    if (cancelled_) return false;
    batches_.push_back(std::move(batch));
    changed_.notify_all();
    return true;
  }
  // The next batch for `writer`; null at the end or once cancelled.
  std::shared_ptr<const RowBatch> Pop(std::size_t writer) {
    std::unique_lock lock(mutex_);
    changed_.wait(
        lock, [&] { return cancelled_ || finished_ || next_[writer] < first_ + batches_.size(); });
    if (cancelled_ || next_[writer] >= first_ + batches_.size()) return nullptr;
    std::shared_ptr<const RowBatch> batch = batches_[next_[writer] - first_];
    ++next_[writer];
    // Batches every writer has taken are let go.
    const std::size_t slowest = *std::min_element(next_.begin(), next_.end());
    while (first_ < slowest) {
      batches_.pop_front();
      ++first_;
    }
    changed_.notify_all();
    return batch;
  }
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<const RowBatch>> batches_;
  std::size_t first_ = 0;          // the number of batches_.front()
  std::vector<std::size_t> next_;  // by writer: the number of its next batch
  std::size_t capacity_;
  bool finished_ = false;
  bool cancelled_ = false;
};

// Where a copy's rows go: stored on a thread of their own (db::RowPipe)
// while the next are made, when the copy has a connection of its own; else
// added on the caller's thread, between the writes of the other copies.
class CopyStore {
 public:
  CopyStore(db::Connection& connection, const std::string& table, std::vector<std::string> columns,
            bool piped) {
    if (piped) {
      pipe_.emplace(connection, table, std::move(columns));
    } else {
      writer_.emplace(connection, table, std::move(columns));
    }
  }
  // The buffer of the next row, `width` values.
  std::vector<db::Value>& Row(std::size_t width) {
    std::vector<db::Value>& row = pipe_ ? pipe_->Row() : row_;
    row.resize(width);
    return row;
  }
  void Add() { pipe_ ? pipe_->Add() : writer_->Add(row_); }
  void Close() { pipe_ ? pipe_->Close() : writer_->Close(); }

 private:
  std::optional<db::RowPipe> pipe_;
  std::optional<db::RowWriter> writer_;
  std::vector<db::Value> row_;
};

// Feeds the source's sums every batch of a feed, as one more taker of its
// batches (`taker`), on a thread of its own while the reader reads on and
// the copies are written; where no thread can be started, on the reader's,
// each batch as it is pushed (Pushed). Leaving before Finish cancels the
// feed, so that nobody waits for a reader that is gone.
class SourceFeeder {
 public:
  SourceFeeder(BatchFeed& feed, std::size_t taker, const SourceLayout& layout,
               std::vector<FedCopySums>& sums)
      : feed_(feed), taker_(taker), layout_(layout), sums_(sums) {
    try {
      thread_ = std::thread([this] {
        try {
          while (const auto batch = feed_.Pop(taker_)) Feed(*batch);
        } catch (...) {
          failure_ = std::current_exception();
          feed_.Cancel();
        }
      });
    } catch (const std::system_error&) {
      // Fed on the reader's thread instead.
    }
  }
  ~SourceFeeder() {
    if (!finished_) feed_.Cancel();
    if (thread_.joinable()) thread_.join();
  }
  SourceFeeder(const SourceFeeder&) = delete;
  SourceFeeder& operator=(const SourceFeeder&) = delete;

  void Pushed() {
    if (thread_.joinable()) return;
    if (const auto batch = feed_.Pop(taker_)) Feed(*batch);
  }
  // Once the feed is finished: waits until every batch was fed.
  void Finish() {
    finished_ = true;
    if (thread_.joinable()) thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void Feed(const RowBatch& batch) { FeedSource(batch, layout_, sums_, row_, areas_); }

  BatchFeed& feed_;
  std::size_t taker_;
  const SourceLayout& layout_;
  std::vector<FedCopySums>& sums_;
  std::vector<db::Value> row_ = std::vector<db::Value>(layout_.columns.size());
  std::vector<double> areas_ = std::vector<double>(layout_.columns.size());
  std::exception_ptr failure_;
  bool finished_ = false;
  std::thread thread_;
};

// Writes the rows of batches to one copy, converted, and keeps them as
// they will be numbered in the copy from `first_id` on.
class CopyWriter {
 public:
  CopyWriter(db::Connection& writer, const SourceLayout& layout, const ConvertedCopy& copy,
             std::int64_t first_id, const BalanceColumns& columns, const CopyRows::Scope& scope,
             bool piped)
      : layout_(layout),
        convert_(copy.factor_text, copy.factor, copy.decimals),
        writes_(writer, copy.table, ColumnNames(layout), piped),
        rows_(std::make_unique<CopyRows>(copy.table, columns, copy.decimals, scope)),
        id_(first_id),
        converted_(layout.columns.size()),
        classes_(layout.classes.size()) {
    rows_->Sums() = FedSumsOf(layout, copy.sums);
  }

  void Write(const RowBatch& batch) {
    for (std::size_t r = 0; r < batch.rows; ++r) {
      std::vector<db::Value>& row = writes_.Row(layout_.columns.size());
      RowValues(batch, r, layout_, &convert_, row, converted_);
      ValuesRow values(layout_, row);
      values.At(batch, r);
      for (FedCopySums& sums : rows_->Sums()) sums.Feed(values);
      CopyRows::Facts facts;
      facts.id = id_++;
      key_.clear();
      for (std::size_t k = 0; k < layout_.key.size(); ++k) {
        if (k > 0) key_ += '\x1f';
        const db::Value& value = row[layout_.key[k]];
        CopyRows::KeyPart(value.IsNull(), value.IsText() ? value.TextView() : value.AsText(), key_);
      }
      facts.key = key_;
      facts.order = batch.orders[r];
      facts.in_scope = batch.in_scope[r] != 0;
      facts.village = row[layout_.village].TextView();
      facts.location = row[layout_.location].TextView();
      facts.total = converted_[layout_.total];
      for (std::size_t k = 0; k < classes_.size(); ++k) {
        classes_[k] = converted_[layout_.classes[k]];
      }
      rows_->Append(facts, classes_);
      writes_.Add();
    }
  }

  // Declares the writes done and gives the rows kept.
  std::unique_ptr<CopyRows> Finish() {
    writes_.Close();
    return std::move(rows_);
  }

 private:
  const SourceLayout& layout_;
  AreaConversion convert_;
  CopyStore writes_;
  std::unique_ptr<CopyRows> rows_;
  std::int64_t id_;
  std::vector<double> converted_, classes_;
  std::string key_;
};

// The query that reads the source for the copies.
std::string SourceQuery(const std::string& source, const SourceLayout& layout,
                        const CopyRows::Scope& scope) {
  std::string list;
  for (const db::ColumnInfo& column : layout.columns) {
    list += (list.empty() ? "" : ",") + db::QuoteName(column.name);
  }
  return "select " + list + ",CAST(序号 AS INTEGER),CASE WHEN " + scope.column + " like " +
         scope.like + " THEN 1 ELSE 0 END from " + source;
}

// The rows of a copy were numbered one after another from `first_id`.
void CheckNumbering(db::Connection& connection, const CopyRows& rows, std::int64_t first_id) {
  const auto count = static_cast<std::int64_t>(rows.Size());
  if (LastRowId(connection, rows.Table()) != first_id + count - 1) {
    throw db::DbError("table " + rows.Table() + " numbered its new rows otherwise");
  }
}

}  // namespace

std::vector<std::unique_ptr<CopyRows>> FillConvertedCopies(
    db::Connection& connection, const std::string& source, const std::vector<ConvertedCopy>& copies,
    const BalanceColumns& columns, const CopyRows::Scope& scope, SourceSums* source_sums) {
  SourceLayout layout = LayOut(connection, source, columns, scope.key);
  layout.number_text.assign(layout.columns.size(), false);
  if (source_sums) KeepKeyTexts(layout, source_sums->requests);
  for (const ConvertedCopy& copy : copies) KeepKeyTexts(layout, copy.sums);
  // The source's sums, fed each batch by the reader.
  std::vector<FedCopySums> no_sums;
  std::vector<FedCopySums>& fed = source_sums ? source_sums->made : no_sums;
  std::vector<db::Value> source_row(layout.columns.size());
  std::vector<double> source_areas(layout.columns.size());
  const auto make_source_sums = [&] {
    if (source_sums) fed = FedSumsOf(layout, source_sums->requests);
  };
  std::vector<std::int64_t> first_ids;
  for (const ConvertedCopy& copy : copies) {
    first_ids.push_back(LastRowId(connection, copy.table) + 1);
  }
  std::vector<std::unique_ptr<CopyRows>> filled(copies.size());
  // One copy, writes of the caller not yet committed, or no threads to be
  // had: the copies are written in place, batch after batch, and their
  // writes undone when their numbering is not as kept.
  const auto fill_in_place = [&] {
    connection.BeginTrans();
    try {
      std::vector<std::unique_ptr<CopyWriter>> writers;
      for (std::size_t i = 0; i < copies.size(); ++i) {
        writers.push_back(std::make_unique<CopyWriter>(connection, layout, copies[i], first_ids[i],
                                                       columns, scope, false));
      }
      make_source_sums();
      const std::unique_ptr<db::RowSource> rows =
          connection.Scan(SourceQuery(source, layout, scope));
      RowBatch batch;
      while (ReadBatch(*rows, layout, batch)) {
        for (auto& writer : writers) writer->Write(batch);
        FeedSource(batch, layout, fed, source_row, source_areas);
      }
      for (std::size_t i = 0; i < copies.size(); ++i) {
        filled[i] = writers[i]->Finish();
        CheckNumbering(connection, *filled[i], first_ids[i]);
      }
      connection.CommitTrans();
    } catch (...) {
      connection.RollbackTrans();
      throw;
    }
  };
  if (!db::CanWriteApart(connection, copies.size())) {
    fill_in_place();
    return filled;
  }
  // The source is read once, here, while each copy is written by a thread
  // of its own, and the source's sums are made by one more.
  make_source_sums();
  const bool feeds_source = !fed.empty();
  BatchFeed feed(copies.size() + (feeds_source ? 1 : 0), 8);
  std::vector<db::TableFill> fills;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    fills.push_back({copies[i].table, [&, i](db::Connection& writer) {
                       try {
                         CopyWriter writes(writer, layout, copies[i], first_ids[i], columns, scope,
                                           true);
                         while (const auto batch = feed.Pop(i)) writes.Write(*batch);
                         filled[i] = writes.Finish();
                       } catch (...) {
                         feed.Cancel();
                         throw;
                       }
                     }});
  }
  db::WriteApart(
      connection, fills,
      [&] {
        std::optional<SourceFeeder> feeder;
        if (feeds_source) feeder.emplace(feed, copies.size(), layout, fed);
        try {
          const std::unique_ptr<db::RowSource> rows =
              connection.Scan(SourceQuery(source, layout, scope));
          for (;;) {
            auto batch = std::make_shared<RowBatch>();
            if (!ReadBatch(*rows, layout, *batch)) break;
            // A writer, or the source's sums, failed and cancelled the feed:
            // reading on is for nothing (the failure of the sums is raised).
            if (!feed.Push(batch)) {
              if (feeder) feeder->Finish();
              return;
            }
            if (feeder) feeder->Pushed();
          }
          feed.Finish();
          if (feeder) feeder->Finish();
        } catch (...) {
          feed.Cancel();
          throw;
        }
      },
      fill_in_place);
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (!filled[i]) throw db::DbError("table " + copies[i].table + " was not filled");
    CheckNumbering(connection, *filled[i], first_ids[i]);
  }
  return filled;
}

FedCopySums::FedCopySums(const CopySumsRequest& request,
                         const std::vector<std::string>& row_columns)
    : key_(request.key),
      nonzero_(request.nonzero),
      sums_(db::GroupedSums::Fed(request.query, row_columns)) {
  for (std::size_t i = 0; i < row_columns.size() && !nonzero_.empty(); ++i) {
    if (text::IEquals(row_columns[i], nonzero_)) nonzero_column_ = static_cast<int>(i);
  }
  if (!nonzero_.empty() && nonzero_column_ < 0) {
    throw db::DbError("table " + request.query.table + " has no column " + nonzero_);
  }
}

void FedCopySums::Feed(const db::RowSource& row) {
  double value = 0;
  if (nonzero_column_ >= 0 && (!row.NumberUnlessNull(nonzero_column_, value) || value == 0)) {
    group_of_.push_back(kNotSummed);
    return;
  }
  group_of_.push_back(sums_->Feed(row));
}

void FedCopySums::Changed(std::size_t row, std::string_view column, double before, double after) {
  // A null area is balanced as 0.
  if (!nonzero_.empty() && text::IEquals(column, nonzero_) && (before == 0) != (after == 0)) {
    stale_ = true;
  }
  const int sum = sums_->SumOf(column);
  if (stale_ || sum < 0 || group_of_.at(row) == kNotSummed) return;
  sums_->Adjust(group_of_[row], sum, before, after);
}

}  // namespace landstat::units
