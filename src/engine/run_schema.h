#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat {

// The schema a statistics run on a server builds its tables in, so that
// the tables of the year and county stay as they were, readable and
// unlocked, until the run publishes. Then, in the run's transaction, the
// earlier tables are dropped and the new ones moved into the database's
// own schema, which takes a moment however long the run took. The shared
// code tables (CODETBL1, QSDMB, NCTDLYQS) are not moved: their county rows
// are refreshed from the run's copies. The area-unit table, which keeps
// every year's units, is written at publishing only, never in the run's
// schema. The schema is named after the year and county
// ("landstat_run_2024_330102"; NameOf); one a killed run left is dropped by
// the next run of the year and county, which holds the job lock.
class RunSchema {
 public:
  // Makes the run's schema on `work` and points the connection's
  // unqualified names into it (and the helper functions' schema): tables
  // are made and found there from now on. Raises DbError.
  RunSchema(db::Connection& work, const std::string& year, const std::string& county);
  RunSchema(const RunSchema&) = delete;
  RunSchema& operator=(const RunSchema&) = delete;

  const std::string& Name() const { return name_; }
  // Points another connection of the run's into the schema, as the run's
  // own is. Raises DbError.
  void Enter(db::Connection& other) const;
  // Keeps the server's vacuum off the run's tables that `other` (the run's
  // connection or another of the run's) made, until they are published:
  // called before each commit of the run's work. Raises DbError.
  void KeepFromVacuum(db::Connection& other) const;
  // Commits what the run made so far and begins its transaction again, so
  // that other connections of the run can read those tables. Nobody else
  // looks into the schema; the earlier tables are untouched until the run
  // publishes. The server does not vacuum the tables committed here until
  // they are published. Raises DbError.
  void CommitSoFar();
  // After a run that committed part of its work failed: rolls back the rest
  // (a publishing begun too) and drops the schema with everything in it.
  // Gives why the schema is left when it could not be dropped (the next
  // run of the year and county drops it), else nothing.
  std::string Discard();
  // Points the connection's names back where they were, at the earlier
  // tables, which the publishing steps then replace. Raises DbError.
  void Leave();
  // After Leave: moves every table and view of the run's schema into the
  // database's schema, dropping through `drop` (false when it could not) a
  // table or view of its name there first; refreshes the shared code
  // tables' rows of `county` from the run's copies; and drops the run's
  // schema, which must be empty then. Raises DbError; the run's
  // transaction undoes everything then.
  void Publish(const std::string& county, const std::function<bool(const std::string&)>& drop);

  // The run schema's name for a year and county whose tables are kept in
  // the schema `target`.
  static std::string NameOf(const std::string& target, const std::string& year,
                            const std::string& county);

 private:
  struct View {
    std::string name;
    std::string definition;
  };

  db::Connection& work_;
  std::string name_;
  std::string target_;       // the database's own schema, where the tables go
  std::string search_path_;  // as it was before the run's schema
  std::vector<View> views_;  // the run's views, by age, as Leave found them
  bool committed_ = false;   // part of the run's work is committed in the schema
};

}  // namespace landstat
