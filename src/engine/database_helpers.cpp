#include "engine/database_helpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_backend.h"
#include "platform/host/row_lock_limit.h"

namespace landstat {
namespace fs = std::filesystem;

short IsTblExist(db::Connection& connection, const std::string& table) {
  try {
    return connection.TableExists(table) ? 1 : 0;
  } catch (const db::DbError&) {
    return 0;
  }
}

short DeleteTbl(db::Connection& connection, const std::string& table) {
  try {
    connection.Execute("drop table " + table);
    return 1;
  } catch (const db::DbError&) {
    return 0;
  }
}

int CreateAcessDB(const std::string& path) {
  try {
    db::CreateSqliteFile(path);
    return 1;
  } catch (const db::DbError&) {
    return 0;
  }
}

namespace {

// A new, empty file of this call's own beside the database, named under
// its scratch prefix (so that one a killed compaction left is swept), with
// the database's permissions; empty when none could be made.
std::string MakeCompactionTarget(const std::string& path) {
  std::string target = db::ScratchPath(path, "compact-XXXXXX");
  const int fd = ::mkstemp(target.data());
  if (fd < 0) return {};
  struct stat original {};
  const bool kept =
      ::stat(path.c_str(), &original) == 0 && ::fchmod(fd, original.st_mode & 07777) == 0;
  ::close(fd);
  if (!kept) {
    ::unlink(target.c_str());
    return {};
  }
  return target;
}

}  // namespace

short CompactMdb(const std::string& path) {
  const fs::path file(path);
  if (!fs::is_regular_file(file)) return 0;
  const std::string target = MakeCompactionTarget(path);
  if (target.empty()) return 0;
  // Only what this call made is removed: the target and its journal.
  const auto remove_target = [&] {
    std::error_code ignored;
    fs::remove(target, ignored);
    fs::remove(target + "-journal", ignored);
  };
  try {
    {
      db::Connection connection("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path);
      // An empty file is a target that VACUUM INTO fills.
      connection.Execute("VACUUM INTO " + db::QuoteText(target));
    }
    // The rename replaces the original in one step: at every moment either
    // the old or the compacted file stands under the original name.
    std::error_code renamed;
    fs::rename(target, file, renamed);
    if (renamed) {
      remove_target();
      return 0;
    }
    return 1;
  } catch (const db::DbError&) {
    remove_target();
    return 0;
  }
}

short ReadMaxRow(long& max_rows) {
  max_rows = 0;
  return host::CurrentRowLockLimit().Read(max_rows) ? 1 : 0;
}

short ModifyMaxRow(long max_rows) {
  return host::CurrentRowLockLimit().Write(max_rows) ? 1 : 0;
}

}  // namespace landstat
