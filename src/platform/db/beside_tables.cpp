#include "platform/db/beside_tables.h"

#include "platform/db/sql_quote.h"

namespace landstat::db {

namespace {

// What keeps the server's vacuum off a table while it waits beside the
// run's, reset once it is moved in: publishing must lock it.
constexpr char kNoVacuum[] = "autovacuum_enabled = false, toast.autovacuum_enabled = false";

}  // namespace

BesideSchema::BesideSchema(const std::string& connection, const std::string& target,
                           const std::string& schema)
    : connection_string_(connection), target_(target), connection_(connection) {
  // A run that lost its job lock may still build in a schema left behind:
  // rather than wait on it, the drop gives up after a while.
  connection_.Execute("set lock_timeout = '10s'");
  schema_ = QuoteName(schema);
  connection_.Execute("drop schema if exists " + schema_ + " cascade");
  connection_.Execute("create schema " + schema_);
}

BesideSchema::~BesideSchema() {
  try {
    connection_.Execute("drop schema if exists " + schema_ + " cascade");
  } catch (const DbError&) {
    // The next run drops what is left.
  }
}

std::string BesideSchema::CreateStatement(const std::string& table, const Create& create) const {
  return create(Qualified(table), std::string(" with (") + kNoVacuum + ")");
}

void BesideSchema::MakeTable(const std::string& table, const Create& create) {
  connection_.Execute(CreateStatement(table, create));
}

void BesideSchema::MoveInto(db::Connection& run, const std::string& table) const {
  const std::string made = Qualified(table);
  run.Execute("alter table " + made + " reset (autovacuum_enabled, toast.autovacuum_enabled)");
  run.Execute("alter table " + made + " set schema " + QuoteName(target_));
}

BesideLane::BesideLane(const BesideSchema& schema)
    : schema_(schema), connection_(schema.Connection()) {
  thread_ = std::thread([this] { Run(); });
}

BesideLane::~BesideLane() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BesideLane::Add(const std::string& table, const BesideSchema::Create& create, Fill fill) {
  Job job{schema_.CreateStatement(table, create), schema_.Qualified(table), std::move(fill)};
  {
    std::lock_guard lock(mutex_);
    outcomes_.push_back({table, std::nullopt, std::nullopt});
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

const std::vector<BesideLane::Outcome>& BesideLane::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return done_ == outcomes_.size(); });
  return outcomes_;
}

void BesideLane::Run() {
  // Ends when closed with nothing queued: each turn takes one job.
  for (;;) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    const Job job = std::move(jobs_.front());
    jobs_.pop_front();
    Outcome outcome{outcomes_[done_].table, std::nullopt, std::nullopt};
    lock.unlock();
    Build(job, outcome);
    lock.lock();
    outcomes_[done_++] = std::move(outcome);
    lock.unlock();
    changed_.notify_all();
  }
}

void BesideLane::Build(const Job& job, Outcome& outcome) {
  try {
    connection_.Execute(job.statement);
  } catch (const DbError& error) {
    outcome.create_failure = error;
    return;
  }
  try {
    connection_.BeginTrans();
    job.fill(connection_, job.made);
    connection_.CommitTrans();
  } catch (const std::exception& error) {
    const auto* failure = dynamic_cast<const DbError*>(&error);
    outcome.fill_failure = failure ? *failure : DbError(error.what());
    try {
      if (connection_.InTransaction()) connection_.RollbackTrans();
    } catch (const DbError&) {
      // The connection is lost: the schema goes at the run's end.
    }
  }
}

}  // namespace landstat::db
