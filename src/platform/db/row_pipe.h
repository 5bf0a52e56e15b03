#pragma once

// Rows added to one table on a thread of their own: the caller's thread
// makes the next rows while the database stores the ones before, and a
// second thread may read each row meanwhile (to sum it, say).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/db/recordset.h"

namespace landstat::db {

// The connection belongs to the pipe's threads from the pipe's making
// until Close or its end: the caller must not use it meanwhile, but for
// while it holds `connection_lock`, when given, which the storing thread
// holds while it stores a batch. Rows travel in batches of a
// bounded number, and are made in place: Row gives the next row's buffer,
// holding what a row before left in it (or nothing, the first time), which
// the caller sets whole and hands over with Add. `visit`, when given, sees
// every row handed over, in order, on a thread of its own. A failure to
// store or visit a row ends the pipe: the next Add or Close raises it, and
// rows not closed are rolled back with the writer's. `beside`, when given,
// is a second connection to the same database, in a transaction of its
// own, that stores every other turn of rows, so that two server backends
// take them; the visit still sees every row in the order added.
class RowPipe {
 public:
  using Visit = std::function<void(const std::vector<Value>& row)>;
  RowPipe(Connection& connection, std::string table, std::vector<std::string> columns,
          Visit visit = {}, std::mutex* connection_lock = nullptr, Connection* beside = nullptr);
  ~RowPipe();
  RowPipe(const RowPipe&) = delete;
  RowPipe& operator=(const RowPipe&) = delete;

  // The buffer of the next row.
  std::vector<Value>& Row();
  // Raises what the table refuses the next row for (RowWriter::Check),
  // naming it by its place among the rows offered; it may then be made
  // again. A row that passed is not checked again when it is stored,
  // unless its buffer is taken (by Row) again before it is handed over.
  void Check();
  // Hands the next row over; raises the pipe's failure.
  void Add();
  // The same, naming the row `record` where its caller numbers the rows.
  void Check(long record);
  void Add(long record);
  // Stores and visits the rest and ends the threads; raises the failure.
  void Close();

 private:
  struct Batch {
    std::vector<std::vector<Value>> rows;  // the first `count` are rows
    std::vector<long> records;
    std::vector<char> checked;  // per row: whether Check passed it as it is
    std::size_t count = 0;
    int users = 0;  // the threads yet to be done with it
  };
  // What a thread does with each batch, in order.
  struct Lane {
    std::deque<Batch*> batches;
    std::thread thread;
  };
  std::vector<Value>& NextRow();  // the buffer of the next row, as it is
  void Run(Lane& lane, const std::function<void(const Batch&)>& work);
  void Send();  // hands the batch being filled over
  void Stop();
  void RaiseFailure();

  static void Store(RowWriter& writer, std::mutex* connection_lock, const Batch& batch);
  RowWriter writer_;
  std::optional<RowWriter> beside_;  // stores the batches of every other turn
  std::size_t sent_ = 0;             // batches handed over
  Visit visit_;
  std::mutex* connection_lock_ = nullptr;
  bool closed_ = false;
  long offered_ = 0;
  std::vector<std::unique_ptr<Batch>> owned_;
  std::vector<Batch*> spare_;
  Batch* filling_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closing_ = false, abandoned_ = false;
  std::exception_ptr failure_;
  Lane store_, store_beside_, read_;
};

}  // namespace landstat::db
