#pragma once

#include <stdexcept>
#include <string>

namespace landstat::db {

// What kind of failure the database reported, where that matters to the
// message a caller writes: a lock held by another session, a database that
// may not be written, a disk or database that is full, a disk that failed to
// read or write, a connection to a server that was lost (every later
// statement on it fails too). Everything else is kOther, and the message
// says what it is.
enum class DbFailure { kOther, kLocked, kReadOnly, kFull, kIoError, kConnectionLost };

// Whether a failure ends a job on its database, whatever the job was doing:
// after a full or failing disk the database may lack what was written, and
// after a lost connection every statement fails.
inline bool EndsJob(DbFailure failure) {
  return failure == DbFailure::kFull || failure == DbFailure::kIoError ||
         failure == DbFailure::kConnectionLost;
}

// The one exception of the database layer. Every failure of a connection,
// statement, recordset or value conversion raises it, carrying the engine's
// own message and, where there is one, the statement that failed.
class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& message, DbFailure failure = DbFailure::kOther)
      : std::runtime_error(message), failure_(failure) {}
  DbError(const std::string& message, const std::string& statement,
          DbFailure failure = DbFailure::kOther)
      : std::runtime_error(message + Clip(statement)), statement_(statement), failure_(failure) {}

  const std::string& Statement() const { return statement_; }
  DbFailure Failure() const { return failure_; }

 private:
  static std::string Clip(const std::string& statement) {
    if (statement.empty()) return {};
    constexpr std::size_t kShown = 400;
    if (statement.size() <= kShown) return " [" + statement + "]";
    return " [" + statement.substr(0, kShown) + "...]";
  }

  std::string statement_;
  DbFailure failure_ = DbFailure::kOther;
};

}  // namespace landstat::db
