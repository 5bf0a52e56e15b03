#include "support/full_disk.h"

#include <sqlite3.h>

#include <set>
#include <string_view>

namespace landstat::testing {
namespace {

struct State {
  std::string marker;
  bool full = false;
  std::set<sqlite3*> open;
};
State* gState = nullptr;

// The largest size is at least the file's: 1 keeps the file as large as it is.
void Limit(sqlite3* db) {
  sqlite3_exec(db, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
}

int Forget(unsigned, void*, void* db, void*) {
  if (gState) gState->open.erase(static_cast<sqlite3*>(db));
  return 0;
}

// Run by SQLite for every connection it opens.
int Follow(sqlite3* db, const char**, const sqlite3_api_routines*) {
  const char* file = sqlite3_db_filename(db, "main");
  if (!gState || !file || std::string_view(file).find(gState->marker) == std::string_view::npos) {
    return SQLITE_OK;
  }
  gState->open.insert(db);
  sqlite3_trace_v2(db, SQLITE_TRACE_CLOSE, Forget, nullptr);
  if (gState->full) Limit(db);
  return SQLITE_OK;
}

}  // namespace

FullDisk::FullDisk(std::string marker) {
  gState = new State;
  gState->marker = std::move(marker);
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(Follow));
}

FullDisk::~FullDisk() {
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(Follow));
  for (sqlite3* db : gState->open) sqlite3_trace_v2(db, 0, nullptr, nullptr);
  delete gState;
  gState = nullptr;
}

int FullDisk::Fill() {
  gState->full = true;
  for (sqlite3* db : gState->open) Limit(db);
  return static_cast<int>(gState->open.size());
}

}  // namespace landstat::testing
