#include "platform/db/reads_apart.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/db/db_error.h"
#include "platform/db/sqlite_backend.h"

namespace landstat::db {

namespace {

// Starts a thread for each of `count` tasks, as many as the process may
// start (a limit on processes ends the rest with std::system_error). Each
// started thread waits for the go that `Start` gives, then runs `task` with
// its number, or returns at once when told to stop.
class Threads {
 public:
  Threads(std::size_t count, std::function<void(std::size_t)> task) : task_(std::move(task)) {
    const std::shared_future<bool> go = go_.get_future().share();
    for (std::size_t i = 0; i < count; ++i) {
      try {
        threads_.emplace_back([this, go, i] {
          if (go.get()) task_(i);
        });
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  ~Threads() { Join(false); }
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

  std::size_t Started() const { return threads_.size(); }
  // Lets the started threads run their tasks (or stop), and waits for them.
  void Join(bool run) {
    if (!told_) go_.set_value(run);
    told_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  void Start() {
    go_.set_value(true);
    told_ = true;
  }

 private:
  std::function<void(std::size_t)> task_;
  std::promise<bool> go_;
  bool told_ = false;
  std::vector<std::thread> threads_;
};

std::size_t WorkersSet() {
  const char* set = std::getenv("LANDSTAT_WORKERS");
  char* end = nullptr;
  const long number = set ? std::strtol(set, &end, 10) : 0;
  if (set && *end == '\0' && number >= 1 && number <= 64) return static_cast<std::size_t>(number);
  return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

std::atomic<std::size_t> workers_chosen{0};  // 0: as set

}  // namespace

std::size_t Workers() {
  static const std::size_t set = WorkersSet();
  const std::size_t chosen = workers_chosen;
  return chosen > 0 ? chosen : set;
}

std::size_t SetWorkers(std::size_t workers) {
  return workers_chosen.exchange(workers);
}

void ReadApart(Connection& connection, const std::vector<std::function<void(Connection&)>>& reads) {
  if (reads.size() < 2 || Workers() < 2 || !CanReadApart(connection)) {
    for (const auto& read : reads) read(connection);
    return;
  }
  const std::string file = connection.FilePath();
  std::vector<std::exception_ptr> errors(reads.size());
  const auto read_apart = [&](std::size_t i) {
    try {
      Connection reader(file);
      // One pass from start to end reads each page once: a small page
      // cache does, and keeps the readers' memory down.
      reader.Execute("PRAGMA cache_size = -8192");
      reads[i](reader);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  };
  std::atomic<std::size_t> next{0};  // the next read a worker takes
  const auto worker = [&](std::size_t) {
    for (std::size_t i = next++; i < reads.size(); i = next++) read_apart(i);
  };
  {
    // Where no thread could be started (the process's limit), this one
    // does the reads in turn.
    Threads readers(std::min(Workers(), reads.size()), worker);
    readers.Start();
    if (readers.Started() == 0) worker(0);
    readers.Join(true);
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

bool CanReadApart(Connection& connection) {
  return connection.Kind() == DbKind::kEmbedded && !connection.InTransaction() &&
         !connection.FilePath().empty();
}

namespace {

// A scratch database beside the database's file, removed when it goes.
class ScratchFile {
 public:
  explicit ScratchFile(std::string path) : path_(std::move(path)) {
    std::filesystem::remove(path_);  // left by a run that was killed
    CreateSqliteFile(path_);
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Moves the rows of every filled table from its scratch file into the
// database in one transaction, whole records at a time (SQLite copies them
// without decoding them when both tables are declared alike).
void MoveRows(Connection& connection, const std::vector<TableFill>& fills,
              const std::vector<std::unique_ptr<ScratchFile>>& scratches) {
  // Files are attached and detached outside a transaction.
  const auto alias = [](std::size_t i) { return "landstat_scratch" + std::to_string(i); };
  std::size_t attached = 0;
  const auto detach_all = [&] {
    for (; attached > 0; --attached) connection.Execute("DETACH DATABASE " + alias(attached - 1));
  };
  try {
    for (; attached < fills.size(); ++attached) {
      connection.Execute("ATTACH DATABASE ? AS " + alias(attached),
                         {Value(scratches[attached]->Path())});
    }
    connection.BeginTrans();
    try {
      for (std::size_t i = 0; i < fills.size(); ++i) {
        connection.Execute("INSERT INTO " + fills[i].table + " SELECT * FROM " + alias(i) + "." +
                           fills[i].table);
      }
      connection.CommitTrans();
    } catch (...) {
      connection.RollbackTrans();
      throw;
    }
  } catch (...) {
    try {
      detach_all();
    } catch (const DbError&) {
      // The error that ended the move is the report.
    }
    throw;
  }
  detach_all();
}

}  // namespace

void WriteApart(Connection& connection, const std::vector<TableFill>& fills,
                const std::function<void()>& alongside, const std::function<void()>& in_turn) {
  const auto RunInTurn = [&connection](const std::vector<TableFill>& all,
                                       const std::function<void()>& before,
                                       const std::function<void()>& instead) {
    if (instead) return instead();
    if (before) before();
    for (const TableFill& fill : all) fill.fill(connection);
  };
  if (!CanWriteApart(connection, fills.size())) {
    RunInTurn(fills, alongside, in_turn);
    return;
  }
  std::vector<std::unique_ptr<ScratchFile>> scratches;
  std::vector<Connection> writers;
  writers.reserve(fills.size());
  for (const TableFill& fill : fills) {
    scratches.push_back(
        std::make_unique<ScratchFile>(ScratchPath(connection.FilePath(), fill.table)));
    Connection& writer = writers.emplace_back(scratches.back()->Path());
    // Thrown away whatever happens: nothing to journal or to sync.
    writer.Execute("PRAGMA journal_mode=OFF");
    writer.Execute("PRAGMA synchronous=OFF");
    const Value declared = connection.Scalar(
        "SELECT sql FROM sqlite_master WHERE type='table' AND lower(name)=lower(?)",
        {Value(fill.table)});
    if (declared.IsNull()) throw DbError("table " + fill.table + " does not exist");
    writer.Execute(declared.AsText());
  }
  std::vector<std::exception_ptr> errors(fills.size() + 1);
  Threads threads(fills.size(), [&](std::size_t i) {
    try {
      fills[i].fill(writers[i]);
      writers[i].Close();
    } catch (...) {
      errors[i] = std::current_exception();
    }
  });
  if (threads.Started() < fills.size()) {
    // Fills may feed one another or wait for `alongside`: without a thread
    // for each, none runs apart.
    threads.Join(false);
    writers.clear();
    scratches.clear();
    RunInTurn(fills, alongside, in_turn);
    return;
  }
  threads.Start();
  try {
    if (alongside) alongside();
  } catch (...) {
    errors.back() = std::current_exception();
  }
  threads.Join(true);
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  MoveRows(connection, fills, scratches);
}

bool CanWriteApart(Connection& connection, std::size_t fills) {
  return fills >= 2 && Workers() >= 2 && CanReadApart(connection);
}

bool SharedTable(Connection& connection, const std::string& table) {
  if (connection.Kind() != DbKind::kEmbedded) return true;
  return connection
             .Scalar("SELECT count(*) FROM sqlite_temp_master WHERE lower(name) = lower(?)",
                     {Value(table)})
             .AsInteger() == 0;
}

}  // namespace landstat::db
