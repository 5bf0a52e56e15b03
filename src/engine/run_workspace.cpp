#include "engine/run_workspace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sqlite_backend.h"
#include "platform/host/progress.h"
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

std::string FolderOf(const std::string& file) {
  const fs::path parent = fs::path(file).parent_path();
  return parent.empty() ? "." : parent.string();
}

// The job lock is taken on a file of its own beside the database, which is
// never renamed nor removed: a lock on the database file itself would stay
// with the file that a job's rename puts out of place, and a job that
// waited for it would then work beside the next one.
std::string LockPath(const std::string& file) {
  return file + ".lock";
}

// The server's job lock is one per year and county.
std::string JobKey(const std::string& year, const std::string& county) {
  return year + "/" + county;
}

std::string Megabytes(std::uintmax_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// What a job says when its database failed it: a full disk is named as
// such.
std::string LostWork(const db::DbError& cause) {
  const std::string what = cause.what();
  switch (cause.Failure()) {
    case db::DbFailure::kFull:
      return "the disk is full: the job's work is not saved (" + what + ")";
    case db::DbFailure::kIoError:
      return "the disk failed to read or write: the job's work is not saved (" + what + ")";
    default:
      return "the job's work is not saved: " + what;
  }
}

// A GeoPackage lists its layers in gpkg_contents, a spatial database its
// geometry columns in geometry_columns: such a file is a survey's source,
// never a statistics database.
bool HoldsGisLayers(db::Connection& database) {
  for (const char* table : {"gpkg_contents", "geometry_columns"}) {
    if (database.TableExists(table)) return true;
  }
  return false;
}

}  // namespace

// SQLite's data version of a connection changes with every commit of
// another connection, whether the file keeps a rollback journal or a
// write-ahead log (whose commits leave the file's header as it was). Read
// by path: a descriptor of the program's own on the file, once closed,
// would take SQLite's locks on it with it.
bool RunWorkspace::FileState::Read(const std::string& file, db::Connection& database) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return false;
  device = status.st_dev;
  inode = status.st_ino;
  version = database.Scalar("PRAGMA data_version").AsInteger();
  return true;
}

bool JobLock::Take(const std::string& file, std::string& error) {
  Release();
  fd_ = ::open(LockPath(file).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error = LockPath(file) + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error = "another job is working on " + file;
    Release();
    return false;
  }
  db::RemoveScratchFiles(file);  // what a job that was killed left
  return true;
}

void JobLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  fd_ = -1;
}

bool RunWorkspace::JobRunningOn(const std::string& file) {
  const int fd = ::open(LockPath(file).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // no job ever ran on the file
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

bool RunWorkspace::RemoveMadeFile(const std::string& file, std::string& error) {
  db::RemoveScratchFiles(file);
  std::error_code failed;
  fs::remove(file, failed);
  error = failed ? failed.message() : "";
  std::error_code ignored;  // a lock left behind holds nothing
  fs::remove(LockPath(file), ignored);
  return !failed;
}

bool RunWorkspace::RemoveMadeFile(const std::string& file, RunReport& report) {
  std::string why;
  if (RemoveMadeFile(file, why)) return true;
  ++report.failures;
  report.messages.push_back("could not remove " + file + ": " + why);
  return false;
}

std::string RunWorkspace::RunningJob(db::Connection& database, const std::string& year,
                                     const std::string& county) {
  const char* held = db::SqlDialect::For(database.Kind()).JobLockHeld();
  if (*held == '\0') return JobRunningOn(database.FilePath()) ? database.FilePath() : "";
  const std::string key = JobKey(year, county);
  if (database.Scalar(held, {key, key}).AsInteger() == 0) return "";
  return database.Location() + " for " + year + " " + county;
}

RunWorkspace::RunWorkspace(std::string connection, bool server, std::string year,
                           std::string county, std::string kind)
    : connection_(std::move(connection)),
      year_(std::move(year)),
      county_(std::move(county)),
      kind_(std::move(kind)),
      server_(server) {}

RunWorkspace::~RunWorkspace() {
  // A job that neither published nor abandoned its work failed.
  if (open_ && !server_) db::RemoveScratchFiles(file_);
  if (open_) RecordFailure(0);
  Unlock();
}

void RunWorkspace::Unlock() {
  original_.reset();
  lock_.Release();
  if (!server_lock_) return;
  // Let go of the lock before the session ends: the server ends a session
  // after its client has left, and until then others would find the job
  // still running.
  try {
    if (server_lock_->IsOpen()) {
      server_lock_->Execute(db::SqlDialect::For(server_lock_->Kind()).ReleaseJobLocks());
    }
  } catch (const db::DbError& failure) {
    host::yDebugStr(failure.what());  // a lost session holds no lock
  }
  server_lock_.reset();
}

// A job of another year or county that holds its lock on the server now:
// one running beside this one, not one that did not finish.
bool RunWorkspace::RunsBeside(db::Connection& database, const RunRecordRow& job) const {
  return server_ && (job.year != year_ || job.county != county_) &&
         !RunningJob(database, job.year, job.county).empty();
}

// Checked before anything is made beside the file.
bool RunWorkspace::IsStatisticsFile(std::string& error) const {
  try {
    db::Connection database(file_);
    if (!HoldsGisLayers(database)) return true;
    error = file_ +
            " holds GIS layers (a GeoPackage or spatial database, perhaps the survey's own): the "
            "statistics go into a database file of their own";
  } catch (const db::DbError& failure) {
    error = failure.what();
  }
  return false;
}

bool RunWorkspace::TakeLock(std::string& error) {
  const std::string folder = FolderOf(file_);
  if (::access(folder.c_str(), W_OK) != 0) {
    error = "the folder " + folder + " cannot be written (" + std::strerror(errno) +
            "): a job on " + file_ + " works on a copy of it in that folder";
    return false;
  }
  return lock_.Take(file_, error);
}

// Taken on a connection of its own, outside the job's transaction, so that
// it is held from before the job is recorded until the job has ended. A
// lock that another job holds gives `refusal`.
bool RunWorkspace::TakeServerLock(const db::Connection& database, const std::string& key,
                                  const std::string& refusal, std::string& error) {
  const char* take = db::SqlDialect::For(database.Kind()).TakeJobLock();
  if (*take == '\0') return true;
  if (!server_lock_) server_lock_ = std::make_unique<db::Connection>(connection_);
  if (server_lock_->Scalar(take, {key}).AsInteger() != 0) return true;
  error = refusal;
  Unlock();
  return false;
}

// Tables named without year or county hold one year and county, those of
// the newest completed job of their kind: on a server, where every county
// may run, the kind's own lock keeps a second job off them, so that what
// they hold does not change between this check and the job's end.
bool RunWorkspace::PlainTablesFree(db::Connection& database, const Checks& checks,
                                   std::string& error) {
  if (!checks.plain_tables) return true;
  const std::string where = server_ ? database.Location() : file_;
  if (!TakeServerLock(database, kind_,
                      "another " + kind_ + " job is working on " + where +
                          " (its tables, named without year or county, take one job at a time)",
                      error)) {
    return false;
  }
  if (checks.replace_other) return true;
  const std::optional<RunRecordRow> held = LastCompletedRun(database, kind_);
  if (!held || (held->year == year_ && held->county == county_)) return true;
  // A file holds one year and county: a statistics run of another that
  // completed after that job replaced the file's statistics, these tables
  // with them.
  if (!server_) {
    const std::optional<RunRecordRow> run = LastCompletedRun(database, "run");
    if (run && run->id > held->id && (run->year != held->year || run->county != held->county)) {
      return true;
    }
  }
  error = where + " holds the " + kind_ + " tables (named without year or county) of year " +
          held->year + ", county " + held->county + "; to run " + year_ + " " + county_ +
          " into them, replace them (--replace)";
  Unlock();
  return false;
}

// Whether the session holding the job lock is still there: when it ended,
// the lock went with it and another job may have started on the same year
// and county. Asking again on the same session only counts the lock twice.
bool RunWorkspace::ServerLockHeld() {
  if (!server_lock_) return true;
  try {
    const char* take = db::SqlDialect::For(server_lock_->Kind()).TakeJobLock();
    return server_lock_->Scalar(take, {JobKey(year_, county_)}).AsInteger() != 0;
  } catch (const db::DbError&) {
    return false;
  }
}

bool RunWorkspace::Open(const Checks& checks, std::string& error,
                        std::vector<std::string>& notices) {
  if (!server_) {
    file_ = db::ParseConnectionString(connection_).location;
    if (!fs::is_regular_file(file_)) {
      error = "no statistics database " + file_;
      return false;
    }
    if (!IsStatisticsFile(error) || !TakeLock(error)) return false;
  }
  try {
    db::Connection database(server_ ? connection_ : file_);
    if (!TakeServerLock(
            database, JobKey(year_, county_),
            "another job is working on " + database.Location() + " for " + year_ + " " + county_,
            error)) {
      return false;
    }
    if (auto last = LastRunRecord(database);
        last && !last->Finished() && !RunsBeside(database, *last)) {
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
    if (!PlainTablesFree(database, checks, error)) return false;
    record_id_ = BeginRunRecord(database, year_, county_, kind_);
    in_place_ = !server_ && checks.in_place;
    if (OnWorkingCopy() && !MakeWorkingCopy(database, error)) {
      database.Close();
      RecordFailure(0);
      Unlock();
      return false;
    }
    if (OnWorkingCopy()) original_ = std::make_unique<db::Connection>(std::move(database));
  } catch (const db::DbError& failure) {
    error = (record_id_ == 0 ? "cannot record the job in the database: "
                             : "cannot make the working copy of " + file_ + ": ") +
            std::string(failure.what());
    if (!server_) db::RemoveScratchFiles(file_);
    RecordFailure(0);
    Unlock();
    return false;
  }
  work_connection_ = server_ ? connection_ : in_place_ ? file_ : working_file_;
  open_ = true;
  return true;
}

// The copy is made under a read transaction on `database`: one state of the
// file, with every transaction committed before it (in WAL mode also those
// its write-ahead log still holds), whose data version is kept to be
// checked before publishing.
bool RunWorkspace::MakeWorkingCopy(db::Connection& database, std::string& error) {
  working_file_ = file_ + ".working";
  if (!HasRoom(error)) return false;
  bool made = false;
  try {
    database.BeginTrans();
    made = copied_.Read(file_, database);
    if (!made) error = file_ + ": " + std::strerror(errno);
    made = made && CopyFrom(database, error);
    database.CommitTrans();
  } catch (...) {
    if (database.InTransaction()) database.RollbackTrans();
    throw;
  }
  return made;
}

// The working copy, the compacted copy a run makes of it, and what the run
// adds need about two and a half times the file (with its write-ahead log).
bool RunWorkspace::HasRoom(std::string& error) const {
  std::error_code failed;
  std::uintmax_t bytes = fs::file_size(file_, failed);
  if (failed) {
    error = file_ + ": " + failed.message();
    return false;
  }
  const std::uintmax_t log = fs::file_size(file_ + "-wal", failed);
  if (!failed) bytes += log;
  const std::uintmax_t needed = bytes * 5 / 2;
  const fs::space_info space = fs::space(FolderOf(file_), failed);
  if (failed || space.available >= needed) return true;
  error = "the disk holding " + FolderOf(file_) + " is full: a job on " + file_ + " needs about " +
          Megabytes(needed) + " free beside it, " + Megabytes(space.available) + " are free";
  return false;
}

// The copy is made with the file's permissions; a copy that failed is
// removed.
bool RunWorkspace::CopyFrom(db::Connection& database, std::string& error) {
  struct stat status {};
  const int fd = ::stat(file_.c_str(), &status) != 0
                     ? -1
                     : ::open(working_file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              status.st_mode & 07777);
  if (fd < 0) {
    error = "cannot make the working copy " + working_file_ + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  try {
    db::CopyDatabase(database, working_file_);
    return true;
  } catch (const db::DbError& failure) {
    db::RemoveScratchFiles(file_);
    error = failure.Failure() == db::DbFailure::kFull
                ? "the disk holding " + FolderOf(file_) + " is full: the working copy of " + file_ +
                      " could not be made"
                : "cannot make the working copy " + working_file_ + ": " + failure.what();
    return false;
  }
}

void RunWorkspace::SpeedUpWorkingCopy(db::Connection& work) {
  if (work.Kind() != db::DbKind::kEmbedded) return;
  work.Execute("PRAGMA synchronous = OFF");
  work.Execute("PRAGMA journal_mode = MEMORY");
}

void RunWorkspace::Enter(db::Connection& work) {
  // The pages that the job's drops free in an embedded file are left as
  // they are for the tables it stores next: overwriting them with zeros
  // (the engine's default here) would write and journal every page of the
  // tables replaced, which the tables stored next write again. What is
  // written into pages anyway is still cleared.
  if (work.Kind() == db::DbKind::kEmbedded) work.Execute("PRAGMA secure_delete = FAST");
  if (!OnWorkingCopy() && !work.InTransaction()) work.BeginTrans();
}

void RunWorkspace::RecordLeftOut(db::Connection& work, StatRunLog& log,
                                 const std::set<std::string>& tables) {
  if (tables.empty()) return;
  try {
    RecordTablesLeftOut(work, record_id_, tables);
  } catch (const db::DbError& error) {
    log.LogFailure("记录统计", "未能记录不生成的表", error);
  }
}

bool RunWorkspace::Publish(db::Connection& work, RunOutcome outcome, long failures,
                           std::string& error) {
  if (!open_) {
    error = "the job's workspace is not open";
    work.Close();
    return false;
  }
  if (server_ && !ServerLockHeld()) {
    error = "the job lock on " + work.Location() + " for " + year_ + " " + county_ +
            " was lost with its session: the job's work is not committed";
    Abandon(work, failures);
    return false;
  }
  // Also when the job went on after the failure (a step that caught it):
  // the work may lack what was written then.
  if (const std::optional<db::DbError> lost = work.Lost()) {
    error = LostWork(*lost);
    Abandon(work, failures);
    return false;
  }
  try {
    FinishRunRecord(work, record_id_, outcome, failures);
    if (!OnWorkingCopy()) work.CommitTrans();
    work.Close();
  } catch (const db::DbError& failure) {
    error = "cannot complete the job: " + std::string(failure.what());
    Abandon(work, failures);
    return false;
  }
  if (OnWorkingCopy()) {
    if (!SyncFile(working_file_)) {
      error = "cannot write " + working_file_ + " to disk";
    } else {
      error = ReplaceOriginal();
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

// Puts the working copy in the file's place, unless another program
// committed to the file since the copy was made: its work would be lost.
// A file in WAL mode first has its write-ahead log written back and emptied:
// the log goes by the file's name, and what it held would otherwise be read
// into the file that takes the name.
std::string RunWorkspace::ReplaceOriginal() {
  std::string error;
  try {
    db::Connection& original = *original_;
    if (!db::WriteBackLog(original)) {
      error = file_ +
              " is in use by another program, which keeps its write-ahead log from being written "
              "back: the job's results are not saved; run the job again";
    } else {
      // Holds every other writer off from the check to the rename.
      original.Execute("BEGIN IMMEDIATE");
      FileState now;
      if (!now.Read(file_, original) || !(now == copied_)) {
        error = file_ +
                " was changed by another program while the job ran: the job's results are not "
                "saved, so that its changes are kept; run the job again";
      } else {
        std::error_code failed;
        fs::rename(working_file_, file_, failed);
        if (failed) error = "cannot replace " + file_ + ": " + failed.message();
      }
      original.Execute("ROLLBACK");
    }
  } catch (const db::DbError& failure) {
    error = "cannot replace " + file_ + ": " + failure.what();
  }
  original_.reset();
  return error;
}

void RunWorkspace::Abandon(db::Connection& work, long failures) {
  try {
    if (!OnWorkingCopy() && work.IsOpen() && work.InTransaction()) work.RollbackTrans();
  } catch (const db::DbError& failure) {
    host::yDebugStr(failure.what());  // closing the connection rolls back all the same
  }
  work.Close();
  if (!server_ && open_) db::RemoveScratchFiles(file_);
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

void StageDone(StatRunLog& log, host::JobStages& stages,
               const std::function<void(const std::string&)>& observer, const char* stage) {
  log.EndIfStopped(stage);
  host::yDebugTime(stage);
  stages.Done(stage);
  if (observer) observer(stage);
}

bool EndJob(RunWorkspace& workspace, db::Connection& work, StatRunLog& log, bool completed,
            const std::string& title, const std::function<void(const std::string&)>& observer,
            RunOutcome& outcome) {
  // A job stopped (its database lost, or cancelled, also after its last
  // safe point) is never published.
  if (!completed || log.AfterJobStopped(title, std::nullopt)) {
    workspace.Abandon(work, log.m_nErrCount);
    return false;
  }
  outcome = log.m_nErrCount > 0 ? RunOutcome::kCompletedWithFailures : RunOutcome::kCompleted;
  std::string error;
  const bool published = workspace.Publish(work, outcome, log.m_nErrCount, error);
  if (!published) log.LogFailure(title, error);
  if (observer) observer("publish");
  return published;
}

void ReportFromLog(const StatRunLog& log, bool completed, RunReport& report) {
  if (!completed) report.outcome = RunOutcome::kFailed;
  report.failures = log.m_nErrCount;
  report.messages = log.m_arrFirstFailures;
  report.notices = log.m_arrNotices;
}

void ReportTablesWritten(RunReport& report, const std::string& connection,
                         const std::vector<std::string>& tables) {
  report.tables.clear();
  if (!report.Completed()) return;
  try {
    db::Connection database(connection);
    report.tables = TablesHeld(database, tables);
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
  }
}

}  // namespace landstat
