#include "engine/database_helpers.h"

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

// "dir/stats.sqlite" -> "dir/stats1.sqlite".
fs::path CompactedSibling(const fs::path& file) {
  fs::path sibling = file;
  sibling.replace_filename(file.stem().string() + "1" + file.extension().string());
  return sibling;
}

}  // namespace

short CompactMdb(const std::string& path) {
  const fs::path file(path);
  const fs::path sibling = CompactedSibling(file);
  std::error_code ignored;
  try {
    fs::remove(sibling, ignored);  // a leftover of an interrupted compaction
    {
      db::Connection connection("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path);
      connection.Execute("VACUUM INTO " + db::QuoteText(sibling.string()));
    }
    // The rename replaces the original in one step: at every moment either
    // the old or the compacted file stands under the original name.
    std::error_code renamed;
    fs::rename(sibling, file, renamed);
    if (renamed) {
      fs::remove(sibling, ignored);
      return 0;
    }
    return 1;
  } catch (const db::DbError&) {
    fs::remove(sibling, ignored);
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
