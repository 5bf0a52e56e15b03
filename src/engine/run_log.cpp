#include "engine/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/host/log_file.h"
#include "platform/host/progress.h"

namespace landstat {
namespace fs = std::filesystem;

StatRunLog::~StatRunLog() {
  CloseStatLogFile();
}

void StatRunLog::OpenStatLogFile() {
  m_nErrCount = 0;
  m_bJobStopped = false;
  m_bLossWritten = false;
  m_arrFirstFailures.clear();
  m_arrNotices.clear();
  m_strLogTitle.clear();
  m_strLogMsg.clear();
  m_strLogLine.clear();
  CloseStatLogFile();
  // The log file is prepared by whoever starts the run; a run never creates
  // one. Opened for this run, it is emptied so no tail of an older, longer
  // log stays behind the new lines. One that is there but cannot be opened
  // (a symbolic link, no regular file, no permission) is a failure of the
  // run: its lines would be lost.
  std::error_code ignored;
  if (m_strLogFile.empty() || !fs::exists(fs::symlink_status(m_strLogFile, ignored))) return;
  std::string error;
  host::LogFile file = host::OpenLogFile(m_strLogFile, host::LogOpening::kEmpty, error);
  if (!file) {
    WriteFailure("日志", error, "");
    return;
  }
  m_fileLog = file.release();
  m_bLogOpen = true;
  KeepRoomAhead();
}

void StatRunLog::CloseStatLogFile() {
  if (m_fileLog && m_nRoomEnd > 0) {
    // The room kept past the end is given back: cut at the file's size.
    struct stat status {};
    std::fflush(m_fileLog);
    const int fd = ::fileno(m_fileLog);
    if (::fstat(fd, &status) == 0) static_cast<void>(::ftruncate(fd, status.st_size));
  }
  if (m_fileLog) std::fclose(m_fileLog);
  m_fileLog = nullptr;
  m_bLogOpen = false;
  m_nRoomEnd = 0;
}

namespace {

// How many failures a run's report quotes.
constexpr std::size_t kReportedFailures = 20;

// The room kept on the log's disk ahead of its lines, so that the lines
// saying that the disk is full are written when the job's work filled it
// (the log often lies on the database's disk).
constexpr long kLogRoom = 64 * 1024;

// The log's words for the loss of the job's database, by its kind.
const char* LossText(db::DbFailure failure) {
  switch (failure) {
    case db::DbFailure::kFull:
      return "磁盘已满, 作业停止";
    case db::DbFailure::kIoError:
      return "磁盘读写出错, 作业停止";
    default:
      return "与数据库服务器的连接中断, 作业停止";
  }
}

// The log's words for the operator's cancel.
constexpr const char* kCancelledText = "操作员取消了作业";

// A cause's text on one line: its line breaks become blanks.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

// A database error in flight, when called from inside its handler.
std::optional<db::DbError> DbErrorInFlight() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return std::nullopt;
  try {
    std::rethrow_exception(current);
  } catch (const db::DbError& error) {
    return error;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

JobEnded::JobEnded() : std::runtime_error("作业中止") {}

bool StatRunLog::AfterJobStopped(const std::string& title,
                                 const std::optional<db::DbError>& cause) {
  if (!m_bJobStopped) {
    std::optional<db::DbError> lost;
    if (cause && db::EndsJob(cause->Failure())) {
      lost = cause;
    } else if (const db::Connection* connection = m_bConnectionLent ? nullptr : JobConnection()) {
      // The error that met the loss was handled without being logged.
      lost = connection->Lost();
    }
    if (lost) {
      WriteFailure(title, LossText(lost->Failure()), lost->what());
    } else if (host::JobCancelled()) {
      // Under a title of its own: where the job stood is no concern here.
      WriteFailure("取消", kCancelledText, "");
    } else {
      return false;
    }
    m_bJobStopped = true;
    if (m_bHolding) {
      m_arrHeld.back().kind = HeldLine::Kind::kJobStopped;
    } else {
      m_bLossWritten = true;
    }
  }
  if (cause) throw JobEnded();
  return true;
}

void StatRunLog::LogEscaped(const std::string& title, const std::string& message,
                            const std::exception& escaped) {
  try {
    LogFailure(title, message, escaped);
  } catch (const JobEnded&) {
    // The loss is logged; the job ends where this was called.
  }
}

void StatRunLog::EndIfStopped(const std::string& title) {
  if (AfterJobStopped(title, std::nullopt)) throw JobEnded();
}

void StatRunLog::LogFailure(const std::string& title, const std::string& message) {
  if (AfterJobStopped(title, DbErrorInFlight())) return;
  m_strLogTitle = title;
  // The message the run gives, followed by the cause in the database's (or
  // system's) own words when the failure was caught as an error.
  WriteFailure(title, message, ErrorInFlight());
}

void StatRunLog::LogFailure(const std::string& title, const std::string& message,
                            const std::exception& cause) {
  const auto* db_cause = dynamic_cast<const db::DbError*>(&cause);
  if (AfterJobStopped(title,
                      db_cause ? std::optional<db::DbError>(*db_cause) : DbErrorInFlight())) {
    return;
  }
  m_strLogTitle = title;
  WriteFailure(title, message, cause.what());
}

void StatRunLog::WriteFailure(const std::string& title, const std::string& message,
                              const std::string& cause) {
  m_strLogMsg = cause.empty() ? message : message + " (" + OneLine(cause) + ")";
  AppendFailureText(std::to_string(m_nErrCount + 1) + " " + title + " " + m_strLogMsg + " \r\n");
}

void StatRunLog::LogFailureText(const std::string& title, const std::string& text) {
  if (AfterJobStopped(title, DbErrorInFlight())) return;
  AppendFailureText(text);
}

void StatRunLog::AppendFailureText(const std::string& text) {
  ++m_nErrCount;
  m_strLogLine = text;
  if (m_bHolding) {
    m_arrHeld.push_back({HeldLine::Kind::kFailure, text, {}, m_nErrCount});
    return;
  }
  if (m_arrFirstFailures.size() < kReportedFailures) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
      line.pop_back();
    }
    m_arrFirstFailures.push_back(line);
  }
  LogText(text);
}

void StatRunLog::LogNotice(const std::string& title, const std::string& message) {
  const std::string line = "注意 " + title + " " + message + " \r\n";
  if (m_bHolding) {
    m_arrHeld.push_back({HeldLine::Kind::kNotice, line, title + " " + message, 0});
    return;
  }
  m_arrNotices.push_back(title + " " + message);
  LogText(line);
}

void StatRunLog::LogText(const std::string& text) {
  if (m_bHolding) {
    m_arrHeld.push_back({HeldLine::Kind::kText, text, {}, 0});
    return;
  }
  if (m_bLogOpen && m_fileLog) {
    std::fwrite(text.data(), 1, text.size(), m_fileLog);
    std::fflush(m_fileLog);
    KeepRoomAhead();
  }
}

void StatRunLog::KeepRoomAhead() {
  const long end = std::ftell(m_fileLog);
  if (end < 0 || end + kLogRoom / 2 < m_nRoomEnd) return;
  // Reserved past the end: the file's size stays what was written. A file
  // system that reserves nothing leaves the log as it was.
  if (::fallocate(::fileno(m_fileLog), FALLOC_FL_KEEP_SIZE, end, kLogRoom) == 0) {
    m_nRoomEnd = end + kLogRoom;
  }
}

void StatRunLog::LogStatementFailure(const std::string& title, const std::string& message,
                                     const std::string& statement) {
  if (AfterJobStopped(title, DbErrorInFlight())) return;
  m_strLogTitle = title;
  const std::string cause = ErrorInFlight();
  m_strLogMsg = message;
  AppendFailureText(std::to_string(m_nErrCount + 1) + " " + title + " " + message + " " +
                    statement + (cause.empty() ? "" : " (" + OneLine(cause) + ")") + " \r\n");
}

void StatRunLog::HoldLines() {
  if (!m_bHolding) m_nCountBeforeHolding = m_nErrCount;
  m_bHolding = true;
}

std::vector<StatRunLog::HeldLine> StatRunLog::TakeHeldLines() {
  return std::exchange(m_arrHeld, {});
}

void StatRunLog::StopHolding() {
  if (!m_bHolding) return;
  m_bHolding = false;
  m_nErrCount = m_nCountBeforeHolding;
}

void StatRunLog::WriteHeldLines(const std::vector<HeldLine>& lines) {
  for (const HeldLine& line : lines) {
    switch (line.kind) {
      case HeldLine::Kind::kJobStopped:
        if (std::exchange(m_bLossWritten, true)) break;
        [[fallthrough]];
      case HeldLine::Kind::kFailure: {
        const std::string number = std::to_string(line.number) + " ";
        AppendFailureText(line.text.rfind(number, 0) == 0 ? std::to_string(m_nErrCount + 1) + " " +
                                                                line.text.substr(number.size())
                                                          : line.text);
        break;
      }
      case HeldLine::Kind::kNotice:
        m_arrNotices.push_back(line.notice);
        LogText(line.text);
        break;
      case HeldLine::Kind::kText:
        LogText(line.text);
        break;
    }
  }
}

std::string ErrorInFlight() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return {};
  }
}

}  // namespace landstat
