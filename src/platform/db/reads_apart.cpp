#include "platform/db/reads_apart.h"

#include <exception>
#include <string>
#include <thread>

namespace landstat::db {

void ReadApart(Connection& connection, const std::vector<std::function<void(Connection&)>>& reads) {
  if (reads.size() < 2 || !CanReadApart(connection)) {
    for (const auto& read : reads) read(connection);
    return;
  }
  const std::string file = connection.FilePath();
  std::vector<std::exception_ptr> errors(reads.size());
  std::vector<std::thread> readers;
  for (std::size_t i = 0; i < reads.size(); ++i) {
    readers.emplace_back([&, i] {
      try {
        Connection reader(file);
        // One pass from start to end reads each page once: a small page
        // cache does, and keeps the readers' memory down.
        reader.Execute("PRAGMA cache_size = -8192");
        reads[i](reader);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

bool CanReadApart(Connection& connection) {
  return connection.Kind() == DbKind::kEmbedded && !connection.InTransaction() &&
         !connection.FilePath().empty();
}

bool SharedTable(Connection& connection, const std::string& table) {
  if (connection.Kind() != DbKind::kEmbedded) return true;
  return connection
             .Scalar("SELECT count(*) FROM sqlite_temp_master WHERE lower(name) = lower(?)",
                     {Value(table)})
             .AsInteger() == 0;
}

}  // namespace landstat::db
