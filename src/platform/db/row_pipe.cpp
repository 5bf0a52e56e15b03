#include "platform/db/row_pipe.h"

#include <utility>

namespace landstat::db {

namespace {
// Rows a batch holds, and batches at most (for each connection), being
// filled or on their way.
constexpr std::size_t kBatchRows = 1024;
constexpr std::size_t kBatches = 6;
// With a second connection, the batches go to the two in turns of this
// many: while one connection waits for its server to store what it sent,
// the other goes on.
constexpr std::size_t kBatchesPerTurn = 4;
}  // namespace

RowPipe::RowPipe(Connection& connection, std::string table, std::vector<std::string> columns,
                 Visit visit, std::mutex* connection_lock, Connection* beside)
    : writer_(connection, table, columns),
      visit_(std::move(visit)),
      connection_lock_(connection_lock) {
  if (beside) beside_.emplace(*beside, std::move(table), std::move(columns));
  owned_.push_back(std::make_unique<Batch>());
  filling_ = owned_.back().get();
  store_.thread = std::thread([this] {
    Run(store_, [this](const Batch& batch) { Store(writer_, connection_lock_, batch); });
  });
  if (beside_) {
    store_beside_.thread = std::thread([this] {
      Run(store_beside_, [this](const Batch& batch) { Store(*beside_, nullptr, batch); });
    });
  }
  if (visit_) {
    read_.thread = std::thread([this] {
      Run(read_, [this](const Batch& batch) {
        for (std::size_t i = 0; i < batch.count; ++i) visit_(batch.rows[i]);
      });
    });
  }
}

void RowPipe::Store(RowWriter& writer, std::mutex* connection_lock, const Batch& batch) {
  std::unique_lock<std::mutex> held;
  if (connection_lock) held = std::unique_lock(*connection_lock);
  for (std::size_t i = 0; i < batch.count; ++i) {
    if (batch.checked[i]) {
      writer.AddChecked(batch.rows[i], batch.records[i]);
    } else {
      writer.Add(batch.rows[i], batch.records[i]);
    }
  }
}

RowPipe::~RowPipe() {
  Stop();
}

void RowPipe::Stop() {
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
  }
  changed_.notify_all();
  for (Lane* lane : {&store_, &store_beside_, &read_}) {
    if (lane->thread.joinable()) lane->thread.join();
  }
}

std::vector<Value>& RowPipe::NextRow() {
  Batch& batch = *filling_;
  if (batch.count == batch.rows.size()) {
    batch.rows.emplace_back();
    batch.records.emplace_back();
    batch.checked.emplace_back();
  }
  return batch.rows[batch.count];
}

std::vector<Value>& RowPipe::Row() {
  std::vector<Value>& row = NextRow();
  filling_->checked[filling_->count] = false;
  return row;
}

void RowPipe::Check() {
  Check(offered_ + 1);
}

void RowPipe::Check(long record) {
  writer_.Check(NextRow(), record);
  filling_->checked[filling_->count] = true;
}

void RowPipe::RaiseFailure() {
  std::lock_guard lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
}

void RowPipe::Add() {
  Add(offered_ + 1);
}

void RowPipe::Add(long record) {
  NextRow();
  ++offered_;
  filling_->records[filling_->count] = record;
  if (++filling_->count == kBatchRows) Send();
}

void RowPipe::Send() {
  std::unique_lock lock(mutex_);
  filling_->users = visit_ ? 2 : 1;
  const bool aside = beside_ && (sent_++ / kBatchesPerTurn) % 2 == 1;
  (aside ? store_beside_ : store_).batches.push_back(filling_);
  if (visit_) read_.batches.push_back(filling_);
  changed_.notify_all();
  const std::size_t most = beside_ ? 2 * kBatches : kBatches;
  changed_.wait(lock, [&] { return failure_ || !spare_.empty() || owned_.size() < most; });
  if (failure_) std::rethrow_exception(failure_);
  if (spare_.empty()) {
    owned_.push_back(std::make_unique<Batch>());
    filling_ = owned_.back().get();
  } else {
    filling_ = spare_.back();
    spare_.pop_back();
  }
  filling_->count = 0;
}

void RowPipe::Close() {
  if (closed_) return RaiseFailure();
  closed_ = true;
  if (filling_->count > 0) Send();
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (Lane* lane : {&store_, &store_beside_, &read_}) {
    if (lane->thread.joinable()) lane->thread.join();
  }
  RaiseFailure();
  writer_.Close();
  if (beside_) beside_->Close();
}

void RowPipe::Run(Lane& lane, const std::function<void(const Batch&)>& work) {
  for (;;) {
    Batch* batch = nullptr;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock,
                    [&] { return abandoned_ || failure_ || closing_ || !lane.batches.empty(); });
      if (abandoned_ || failure_ || lane.batches.empty()) return;
      batch = lane.batches.front();
      lane.batches.pop_front();
    }
    try {
      work(*batch);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      changed_.notify_all();
      return;
    }
    {
      std::lock_guard lock(mutex_);
      if (--batch->users == 0) spare_.push_back(batch);
    }
    changed_.notify_all();
  }
}

}  // namespace landstat::db
