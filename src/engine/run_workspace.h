#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "engine/run_record.h"
#include "engine/run_report.h"
#include "platform/db/connection.h"

namespace landstat {
namespace host {
class JobStages;
}

// The job lock of an embedded database file: an exclusive lock on a file of
// its own beside it ("FILE.lock"), held from Take until Release or the end
// of this object (or of the process, killed or not). Every job that writes
// the file holds it, so that no two work beside it at once.
class JobLock {
 public:
  JobLock() = default;
  ~JobLock() { Release(); }
  JobLock(const JobLock&) = delete;
  JobLock& operator=(const JobLock&) = delete;

  // Takes the lock of `file` and sweeps what a job that was killed left
  // beside it (db::RemoveScratchFiles). False, with `error` saying why,
  // when another job holds it or the lock file cannot be made.
  bool Take(const std::string& file, std::string& error);
  void Release();

 private:
  int fd_ = -1;
};

// Where a job (a statistics run or a unit conversion) does its work, so that
// a job that fails leaves the database as it was and one that completes
// replaces the earlier results as a whole:
// - an embedded database is worked on in a copy beside the file ("FILE.working"),
//   made through SQLite so that it holds every committed transaction (in WAL
//   mode also those the write-ahead log still holds), which takes the file's
//   place by one rename when the job completes, unless another program
//   committed to the file meanwhile or a write of the copy failed (a full
//   disk); other jobs are
//   locked out meanwhile ("FILE.lock"), and what a killed job left beside
//   the file is swept when the next opens or abandons. A job that adds
//   little to a large file works in one transaction on the file itself
//   instead (Checks::in_place): copying the whole file would cost it more
//   than its own work; a killed job's transaction is rolled back by the
//   engine's journal when the file is next opened;
// - on a server the job's statements form one transaction, committed when
//   the job completes; a lock of the server's, held by a connection of the
//   job's own, keeps other jobs off the year and county meanwhile (and
//   other jobs of its kind off tables named without year or county).
// Either way the start of the job is recorded in the database first, so a
// job that never ends (killed, power lost) stays visible as unfinished.
class RunWorkspace {
 public:
  struct Checks {
    // The embedded file may hold another year's or county's statistics,
    // which this job then replaces.
    bool replace_other = false;
    // Refuse to work on a year whose last job did not finish (readers of a
    // year's tables, such as the conversion).
    bool refuse_unfinished = false;
    // Work in one transaction on the embedded file itself, not in a copy.
    bool in_place = false;
    // The job's tables are named without year or county on either
    // database (the Inner Mongolia ones): they hold what the newest
    // completed job of its kind made, and a job of another year or county
    // is refused unless `replace_other`; on a server one job of the kind
    // at a time works on them.
    bool plain_tables = false;
  };

  RunWorkspace(std::string connection, bool server, std::string year, std::string county,
               std::string kind);
  ~RunWorkspace();
  RunWorkspace(const RunWorkspace&) = delete;
  RunWorkspace& operator=(const RunWorkspace&) = delete;

  // Takes the database for this job: checks what it holds, records the
  // start and prepares the working copy. False, with `error` saying why,
  // when the job must not run (nothing was changed then). `notices` gets
  // what the operator should know but that does not stop the job.
  bool Open(const Checks& checks, std::string& error, std::vector<std::string>& notices);

  // What the job opens: the working copy, or the server.
  const std::string& WorkConnection() const { return work_connection_; }

  // On a server, or in place, begins the job's transaction on the
  // connection it opened. In an embedded file the pages the job's drops
  // free are left for its new tables without being zeroed first.
  void Enter(db::Connection& work);
  // Whether the job works on a copy of an embedded file, which it may
  // settle for speed (SpeedUpWorkingCopy).
  bool OnWorkingCopy() const { return !server_ && !in_place_; }

  // Settles an embedded working copy for speed: nobody else reads it and one
  // that is not completed is thrown away, so it needs no syncing to disk nor
  // a journal on disk (the journal in memory still undoes a statement that
  // fails). The copy is synced once, before it replaces the database.
  // Nothing on a server.
  static void SpeedUpWorkingCopy(db::Connection& work);

  // Whether a job holds the lock on the embedded database `file` now.
  static bool JobRunningOn(const std::string& file);
  // Removes an embedded database `file` made for a job that then failed,
  // with the lock and the scratch files its jobs left beside it: a failed
  // job leaves no new file behind. True when the file is gone (a part
  // already missing is no failure); false, with `error` saying why, when it
  // is still there.
  [[nodiscard]] static bool RemoveMadeFile(const std::string& file, std::string& error);
  // The same for the failed job of `report`: a file that stays is one more
  // failure, named with why in its messages.
  static bool RemoveMadeFile(const std::string& file, RunReport& report);
  // Where a job runs on the year and county of `database` now, said for
  // people ("FILE", or "SERVER DATABASE for YEAR COUNTY"); empty when none
  // does.
  static std::string RunningJob(db::Connection& database, const std::string& year,
                                const std::string& county);

  // Writes into the job's record, as part of its work, the tables it left
  // out (RecordTablesLeftOut); nothing when there are none. A record that
  // cannot be written is a failure in `log`.
  void RecordLeftOut(db::Connection& work, StatRunLog& log, const std::set<std::string>& tables);

  // Makes the work the database's, with the record of its end. The job's
  // connection is closed. False, with `error`, when that failed, or when
  // `work` met a full or failing disk or lost its server, even if the job
  // went on after it: the database then keeps its earlier results and the
  // job is recorded as failed.
  bool Publish(db::Connection& work, RunOutcome outcome, long failures, std::string& error);

  // Throws the work away and records the job as failed. The job's
  // connection is closed.
  void Abandon(db::Connection& work, long failures);

 private:
  // Which file stands under the name, and how many commits of other
  // connections the connection kept since the copy (original_) has seen.
  struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    long long version = 0;
    bool Read(const std::string& file, db::Connection& database);
    bool operator==(const FileState& other) const {
      return device == other.device && inode == other.inode && version == other.version;
    }
  };

  bool IsStatisticsFile(std::string& error) const;
  bool RunsBeside(db::Connection& database, const RunRecordRow& job) const;
  bool TakeLock(std::string& error);
  bool TakeServerLock(const db::Connection& database, const std::string& key,
                      const std::string& refusal, std::string& error);
  bool PlainTablesFree(db::Connection& database, const Checks& checks, std::string& error);
  bool ServerLockHeld();
  bool MakeWorkingCopy(db::Connection& database, std::string& error);
  bool HasRoom(std::string& error) const;
  bool CopyFrom(db::Connection& database, std::string& error);
  std::string ReplaceOriginal();
  void RecordFailure(long failures);
  void Unlock();

  std::string connection_, year_, county_, kind_;
  bool server_ = false;
  bool in_place_ = false;  // one transaction on the embedded file itself
  std::string file_, working_file_, work_connection_;
  FileState copied_;
  // The connection the copy was made on, kept until the copy replaces the
  // file: it learns of every commit to the file meanwhile, in WAL mode too.
  std::unique_ptr<db::Connection> original_;
  JobLock lock_;
  std::unique_ptr<db::Connection> server_lock_;  // its session holds the lock
  long record_id_ = 0;
  bool open_ = false;
};

// A stage of a job done: a safe point, where a lost database or the
// operator's cancel ends the job (StatRunLog::EndIfStopped); then the time
// traced, the progress moved past `stage` and `observer` told.
void StageDone(StatRunLog& log, host::JobStages& stages,
               const std::function<void(const std::string&)>& observer, const char* stage);

// The end of a job on `work`: when `completed`, the work is published as
// `outcome` (completed, or with failures when `log` counted some) and
// `observer` told "publish"; a failed publish is logged under `title`.
// Otherwise, or when the job was stopped (a full or failing disk, a lost
// server, the operator's cancel, logged under `title` when it was not
// yet), the work is abandoned. False when the job failed.
bool EndJob(RunWorkspace& workspace, db::Connection& work, StatRunLog& log, bool completed,
            const std::string& title, const std::function<void(const std::string&)>& observer,
            RunOutcome& outcome);

// The report's outcome (failed unless `completed`), failures, first
// failures and notices, from the job's log.
void ReportFromLog(const StatRunLog& log, bool completed, RunReport& report);

// The report's tables: of `tables` (what the job builds when it completes),
// those the database `connection` holds after it; none when the job failed,
// which changed nothing. A database that cannot be read leaves the list
// empty.
void ReportTablesWritten(RunReport& report, const std::string& connection,
                         const std::vector<std::string>& tables);

}  // namespace landstat
