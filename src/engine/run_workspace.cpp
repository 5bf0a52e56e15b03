#include "engine/run_workspace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace fs = std::filesystem;
namespace {

std::string Describe(const RunRecordRow& row) {
  return row.kind + " " + row.year + " " + row.county + " (started " + row.started + ")";
}

// Writes a file's data to disk, so that the rename that follows can never
// put an incomplete file in the original's place.
bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

RunWorkspace::RunWorkspace(std::string connection, bool server, std::string year,
                           std::string county, std::string kind)
    : connection_(std::move(connection)),
      year_(std::move(year)),
      county_(std::move(county)),
      kind_(std::move(kind)),
      server_(server) {}

RunWorkspace::~RunWorkspace() {
  // A job that neither published nor abandoned its work failed.
  if (open_ && !server_) {
    std::error_code ignored;
    fs::remove(working_file_, ignored);
  }
  if (open_) RecordFailure(0);
  Unlock();
}

void RunWorkspace::Unlock() {
  if (lock_fd_ >= 0) ::close(lock_fd_);  // closing releases the lock
  lock_fd_ = -1;
}

bool RunWorkspace::Open(const Checks& checks, std::string& error,
                        std::vector<std::string>& notices) {
  if (!server_) {
    file_ = db::ParseConnectionString(connection_).location;
    if (!fs::is_regular_file(file_)) {
      error = "no statistics database " + file_;
      return false;
    }
    // Our own lock, apart from the database engine's: another job on the
    // same file would work on a copy that this job's rename then overwrites.
    lock_fd_ = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (lock_fd_ < 0 || ::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
      error =
          lock_fd_ < 0 ? file_ + ": " + std::strerror(errno) : "another job is working on " + file_;
      Unlock();
      return false;
    }
  }
  try {
    db::Connection database(server_ ? connection_ : file_);
    if (auto last = LastRunRecord(database); last && !last->Finished()) {
      notices.push_back("the last job on this database did not finish: " + Describe(*last) +
                        "; its tables may be incomplete");
    }
    if (checks.refuse_unfinished) {
      if (auto last = LastRunRecord(database, year_, county_); last && !last->Finished()) {
        error = "the last job of " + year_ + " " + county_ + " did not finish (" + Describe(*last) +
                "): run the statistics again first";
        Unlock();
        return false;
      }
    }
    if (!server_ && !checks.replace_other) {
      if (auto held = LastCompletedRun(database);
          held && (held->year != year_ || held->county != county_)) {
        error = file_ + " holds the statistics of year " + held->year + ", county " + held->county +
                "; to run " + year_ + " " + county_ + " into it, replace them (--replace)";
        Unlock();
        return false;
      }
    }
    record_id_ = BeginRunRecord(database, year_, county_, kind_);
  } catch (const db::DbError& failure) {
    error = "cannot record the job in the database: " + std::string(failure.what());
    Unlock();
    return false;
  }
  if (server_) {
    work_connection_ = connection_;
  } else {
    working_file_ = file_ + ".working";
    std::error_code failed;
    fs::remove(working_file_, failed);  // the copy of a job that was killed
    fs::remove(working_file_ + "-journal", failed);
    if (!fs::copy_file(file_, working_file_, failed)) {
      error = "cannot make the working copy " + working_file_ + ": " + failed.message();
      RecordFailure(0);
      Unlock();
      return false;
    }
    work_connection_ = working_file_;
  }
  open_ = true;
  return true;
}

void RunWorkspace::SpeedUpWorkingCopy(db::Connection& work) {
  if (work.Kind() != db::DbKind::kEmbedded) return;
  work.Execute("PRAGMA synchronous = OFF");
  work.Execute("PRAGMA journal_mode = MEMORY");
}

void RunWorkspace::Enter(db::Connection& work) {
  if (server_ && !work.InTransaction()) work.BeginTrans();
}

bool RunWorkspace::Publish(db::Connection& work, RunOutcome outcome, long failures,
                           std::string& error) {
  if (!open_) {
    error = "the job's workspace is not open";
    work.Close();
    return false;
  }
  try {
    FinishRunRecord(work, record_id_, outcome, failures);
    if (server_) work.CommitTrans();
    work.Close();
  } catch (const db::DbError& failure) {
    error = "cannot complete the job: " + std::string(failure.what());
    Abandon(work, failures);
    return false;
  }
  if (!server_) {
    std::error_code failed;
    if (!SyncFile(working_file_)) {
      error = "cannot write " + working_file_ + " to disk";
    } else {
      fs::rename(working_file_, file_, failed);
      if (failed) error = "cannot replace " + file_ + ": " + failed.message();
    }
    if (!error.empty()) {
      Abandon(work, failures);
      return false;
    }
  }
  open_ = false;
  Unlock();
  return true;
}

void RunWorkspace::Abandon(db::Connection& work, long failures) {
  try {
    if (server_ && work.IsOpen() && work.InTransaction()) work.RollbackTrans();
  } catch (const db::DbError& failure) {
    host::yDebugStr(failure.what());  // closing the connection rolls back all the same
  }
  work.Close();
  if (!server_ && open_) {
    std::error_code ignored;
    fs::remove(working_file_, ignored);
    fs::remove(working_file_ + "-journal", ignored);
  }
  open_ = false;
  RecordFailure(failures);
  Unlock();
}

void RunWorkspace::RecordFailure(long failures) {
  if (record_id_ == 0) return;
  try {
    db::Connection database(server_ ? connection_ : file_);
    FinishRunRecord(database, record_id_, RunOutcome::kFailed, failures);
  } catch (const db::DbError& failure) {
    // The record stays unfinished, which readers treat as untrustworthy.
    host::yDebugStr(failure.what());
  }
  record_id_ = 0;
}

}  // namespace landstat
