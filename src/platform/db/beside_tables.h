#pragma once

// Tables of a run made on connections of their own to a server while the
// run's connection goes on: a server stores the tables of one
// connection one after another, those of several side by side. Each is
// made and filled in a schema of the run's own (committed there, where
// nobody else looks) and moved into the run's transaction once its rows
// are stored, so that the earlier table is replaced only by a complete one
// and only when the run commits.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"

namespace landstat::db {

// The schema the tables are made in, made anew (one a killed run left is
// dropped first) and dropped by this object's end whatever became of the
// run: it goes with the run's commit when every table left it, and the
// object ends after the run's connection is closed.
class BesideSchema {
 public:
  // `schema` names the schema, one of the run's own (so that no other run
  // uses it). Raises DbError when the connection does not open or the
  // schema cannot be made: the run then makes its tables on its own
  // connection.
  BesideSchema(const std::string& connection, const std::string& target, const std::string& schema);
  ~BesideSchema();
  BesideSchema(const BesideSchema&) = delete;
  BesideSchema& operator=(const BesideSchema&) = delete;

  const std::string& Connection() const { return connection_string_; }
  // A table of the schema, qualified.
  std::string Qualified(const std::string& table) const { return schema_ + "." + table; }
  // The statement `create` gives for the table `table` of the schema: the
  // qualified name and the options its tables take after their columns.
  using Create = std::function<std::string(const std::string& made, const std::string& options)>;
  std::string CreateStatement(const std::string& table, const Create& create) const;
  // Makes the table `table` here, committed, so that every connection of
  // the run may write into it. Raises DbError.
  void MakeTable(const std::string& table, const Create& create);
  // Moves the table made here into the run's schema on the run's
  // connection, which holds no table of its name now. Raises DbError.
  void MoveInto(db::Connection& run, const std::string& table) const;

 private:
  std::string connection_string_, target_, schema_;
  db::Connection connection_;
};

// Tables made beside the run, one after another, on a connection and a
// thread of their own: each its create statement run, then its rows stored
// by its fill in a transaction of its own. What a fill reads must not
// change until Finish.
class BesideLane {
 public:
  using Fill = std::function<void(db::Connection& connection, const std::string& table)>;
  // What became of a table: why it could not be made, or filled (it is
  // then made and empty).
  struct Outcome {
    std::string table;
    std::optional<DbError> create_failure, fill_failure;
  };
  // Raises DbError when the connection does not open.
  explicit BesideLane(const BesideSchema& schema);
  ~BesideLane();
  BesideLane(const BesideLane&) = delete;
  BesideLane& operator=(const BesideLane&) = delete;

  // Queues the table `table` of the schema; `create` gives the statement
  // that makes the table it is given, with the options it is given after
  // its columns.
  void Add(const std::string& table, const BesideSchema::Create& create, Fill fill);
  // Waits until every table queued is done; their outcomes, in order.
  const std::vector<Outcome>& Finish();

 private:
  struct Job {
    std::string statement, made;
    Fill fill;
  };
  void Run();
  void Build(const Job& job, Outcome& outcome);

  const BesideSchema& schema_;
  db::Connection connection_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::vector<Outcome> outcomes_;  // of the jobs queued, in order
  std::size_t done_ = 0;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace landstat::db
