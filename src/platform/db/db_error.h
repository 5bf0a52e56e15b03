#pragma once

#include <stdexcept>
#include <string>

namespace landstat::db {

// The one exception of the database layer. Every failure of a connection,
// statement, recordset or value conversion raises it, carrying the engine's
// own message and, where there is one, the statement that failed.
class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& message) : std::runtime_error(message) {}
  DbError(const std::string& message, const std::string& statement)
      : std::runtime_error(message + Clip(statement)), statement_(statement) {}

  const std::string& Statement() const { return statement_; }

 private:
  static std::string Clip(const std::string& statement) {
    if (statement.empty()) return {};
    constexpr std::size_t kShown = 400;
    if (statement.size() <= kShown) return " [" + statement + "]";
    return " [" + statement.substr(0, kShown) + "...]";
  }

  std::string statement_;
};

}  // namespace landstat::db
