#pragma once

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"

namespace landstat {

// Ends a job that lost its database or was cancelled (see StatRunLog):
// raised from the handler of a database error or at a safe point between
// stages, it takes the job to its end, where it is not logged again.
class JobEnded : public std::runtime_error {
 public:
  JobEnded();
};

// The failure log of one run, shared by the statistics contexts: each
// failure a builder catches is counted, kept for the run's report and
// written to the run's log file as one line "%d %s %s \r\n" (counter,
// title, message). The log file is prepared by whoever starts the run; a
// run never creates one, and without it failures are still counted.
// The loss of the job's database is logged once, as such: a lost connection
// to a server, after which every statement fails for the same reason, or a
// full or failing disk, after which the database may lack what the job
// wrote (see db::Connection::Lost). So is the operator's cancel (see
// host::JobCancelled), which the job meets at its next safe point. Either
// stops the job: later failures are not logged, and a failure logged from
// the handler of a database error raises JobEnded instead, which ends the
// job; the job's work is never published then (EndJob).
class StatRunLog {
 public:
  StatRunLog() = default;
  explicit StatRunLog(std::string log_path) : m_strLogFile(std::move(log_path)) {}
  virtual ~StatRunLog();
  StatRunLog(const StatRunLog&) = delete;
  StatRunLog& operator=(const StatRunLog&) = delete;

  // Opens the log at m_strLogFile when the file exists (it is then emptied
  // for this run, so no tail of an older, longer log stays behind the new
  // lines) and starts the count from 0. A log that exists but cannot be
  // opened (host::OpenLogFile refuses a symbolic link) is counted as the
  // run's first failure.
  void OpenStatLogFile();
  void CloseStatLogFile();
  // Records a failure: counts it, keeps its texts and writes the line
  // "%d %s %s \r\n" when the log is open. Called from inside an error's
  // handler, the error's own text follows the message in brackets.
  void LogFailure(const std::string& title, const std::string& message);
  // The same, with the cause's own text (the database's or the GIS
  // layer's) after the message.
  void LogFailure(const std::string& title, const std::string& message,
                  const std::exception& cause);
  // The four-field line "%d %s %s %s \r\n": the statement that failed after
  // the message (and the cause, when in a handler).
  void LogStatementFailure(const std::string& title, const std::string& message,
                           const std::string& statement);
  // Records a failure whose log line is the text as it stands; counted like
  // LogFailure. Met in the handler of the error that found the connection
  // lost, it logs that loss instead, under `title`, as LogFailure does.
  void LogFailureText(const std::string& title, const std::string& text);
  // LogFailure's line: the message, then the cause in brackets when there
  // is one.
  void WriteFailure(const std::string& title, const std::string& message, const std::string& cause);
  // Writes a notice that is no failure ("注意 %s %s"): it is not counted.
  void LogNotice(const std::string& title, const std::string& message);
  // Writes text to the run's log as it stands, when the log is open.
  void LogText(const std::string& text);
  // Logs what a job's stages let through, which ends the job: as LogFailure
  // with the cause, but never raising JobEnded (the loss of the job's
  // database, or its cancel, is logged once, as such).
  void LogEscaped(const std::string& title, const std::string& message,
                  const std::exception& escaped);
  // True when the failure is not to be logged: the job was stopped before;
  // logs the loss of its database when `cause` is it, or when the job's
  // connection met it, else the operator's cancel when it was asked for.
  // Raises JobEnded then when `cause` is a database error.
  bool AfterJobStopped(const std::string& title, const std::optional<db::DbError>& cause);
  // A safe point between stages: raises JobEnded when the job's database
  // was lost or the operator cancelled the job, which is logged once if it
  // was not yet.
  void EndIfStopped(const std::string& title);
  // The connection the job works on, whose loss ends it; none by default.
  virtual const db::Connection* JobConnection() const { return nullptr; }
  // While a fill lends the job's connection to the thread that stores its
  // rows, the log does not look at it (a loss then reaches the fill as its
  // failure).
  void LendConnection(bool lent) { m_bConnectionLent = lent; }

  // A line held back instead of written, for a log to write later in the
  // order the job wants (the tables of a run built side by side on several
  // connections are logged in their order all the same).
  struct HeldLine {
    // kJobStopped: the failure that logs the loss of a connection or the
    // job's cancel, written once however many connections of the job held
    // one.
    enum class Kind { kFailure, kJobStopped, kNotice, kText };
    Kind kind = Kind::kText;
    std::string text;    // the line as it would have been written
    std::string notice;  // a notice's title and message, for the report
    int number = 0;      // a failure's count in the log that held it
  };
  // From now on lines are held, not written. Failures are still counted,
  // so a builder that compares the count sees its own.
  void HoldLines();
  // The lines held since the last call.
  std::vector<HeldLine> TakeHeldLines();
  // Lines are written again; the count is back where holding began (the
  // held lines count again when written with WriteHeldLines).
  void StopHolding();
  // Writes held lines as if logged now: a failure line that starts with its
  // count in the log that held it starts with this log's count instead.
  void WriteHeldLines(const std::vector<HeldLine>& lines);

  int m_nErrCount = 0;
  // The job was stopped: its database was lost (its server connection, or
  // its disk), or the operator cancelled it.
  bool m_bJobStopped = false;
  // The first failures and the notices of the run, as logged, for the
  // run's report.
  std::vector<std::string> m_arrFirstFailures, m_arrNotices;
  std::string m_strLogTitle, m_strLogMsg, m_strLogLine;
  bool m_bLogOpen = false;
  std::FILE* m_fileLog = nullptr;
  std::string m_strLogFile;

 private:
  bool m_bHolding = false;
  bool m_bConnectionLent = false;
  bool m_bLossWritten = false;  // the loss of a connection, or the cancel, is in the log
  int m_nCountBeforeHolding = 0;
  std::vector<HeldLine> m_arrHeld;
  long m_nRoomEnd = 0;  // where the room kept on the log's disk ends

  // A failure line as it stands, counted (held while lines are held).
  void AppendFailureText(const std::string& text);
  // Keeps room on the log's disk ahead of what was written.
  void KeepRoomAhead();
};

// The text of the error being handled when called from inside its handler
// (the database's own words for what went wrong, say); empty outside one.
std::string ErrorInFlight();

}  // namespace landstat
