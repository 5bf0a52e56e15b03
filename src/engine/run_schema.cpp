#include "engine/run_schema.h"

#include <fmt/format.h>

#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "engine/shared_code_tables.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace {

const SharedCodeTable* const kSharedTables[] = {&kCodeTbl1Table, &kQsdmbTable, &kNcTdlyQsTable};

// How long the drop of a schema an earlier run left waits for its locks.
constexpr char kLeftoverDropWait[] = "10s";

// The shared code table stored under `name` (as the server stores an
// unquoted name), or null.
const SharedCodeTable* SharedTable(const std::string& name) {
  for (const SharedCodeTable* table : kSharedTables) {
    if (text::ToLowerAscii(table->name) == name) return table;
  }
  return nullptr;
}

// The storage settings that keep the server's vacuum off a table.
constexpr char kNoVacuum[] = "autovacuum_enabled = false, toast.autovacuum_enabled = false";

// The tables of a schema; with `kept_from_vacuum`, only those that carry
// kNoVacuum (true) or lack it (false).
std::vector<std::string> Tables(db::Connection& work, const std::string& schema,
                                std::optional<bool> kept_from_vacuum = std::nullopt) {
  std::vector<std::string> tables;
  const std::string kept = "coalesce('autovacuum_enabled=false' = any(c.reloptions), false)";
  const std::string filter = !kept_from_vacuum   ? ""
                             : *kept_from_vacuum ? " and " + kept
                                                 : " and not " + kept;
  const auto rows = work.Scan(
      "select c.relname from pg_class c join pg_namespace n on n.oid = c.relnamespace "
      "where n.nspname = ? and c.relkind in ('r', 'p', 'm', 'f')" +
          filter + " order by c.relname",
      {db::Value(schema)});
  while (rows->Next()) tables.emplace_back(rows->Text(0));
  return tables;
}

// The rows of a shared code table's copy `table`, texts in the table's
// column order (NULL as empty), read whole so that nothing reads it after.
std::vector<std::vector<std::string>> Rows(db::Connection& work, const SharedCodeTable& shared,
                                           const std::string& table) {
  std::string columns;
  for (const std::string& column : shared.columns) {
    columns += (columns.empty() ? "" : ", ") + column;
  }
  std::vector<std::vector<std::string>> rows;
  const auto read = work.Scan("select " + columns + " from " + table);
  while (read->Next()) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < static_cast<int>(shared.columns.size()); ++i) {
      row.emplace_back(read->IsNull(i) ? std::string_view() : read->Text(i));
    }
  }
  return rows;
}

}  // namespace

std::string RunSchema::NameOf(const std::string& target, const std::string& year,
                              const std::string& county) {
  std::string name = "landstat_run_" + year + "_" + county;
  if (target != "public") {
    // Statistics kept in a schema of their own get a run schema of their
    // own: a short digest of the schema's name keeps it in the server's 63
    // characters.
    std::uint32_t digest = 2166136261u;  // FNV-1a
    for (unsigned char c : target) digest = (digest ^ c) * 16777619u;
    name += fmt::format("_{:08x}", digest);
  }
  return text::ToLowerAscii(name);
}

RunSchema::RunSchema(db::Connection& work, const std::string& year, const std::string& county)
    : work_(work) {
  const db::Value target = work_.Scalar("select current_schema()");
  if (target.IsNull()) {
    throw db::DbError("the server's search path names no schema to keep the statistics in");
  }
  target_ = target.AsText();
  name_ = NameOf(target_, year, county);
  search_path_ = work_.Scalar("select current_setting('search_path')").AsText();
  const std::string schema = db::QuoteName(name_);
  // What a killed run of this year and county left. A run whose job lock
  // was lost may still be building there: rather than wait on its locks
  // (while it may wait on ours), the drop gives up after a while.
  const db::Value lock_timeout = work_.Scalar("select current_setting('lock_timeout')");
  const auto wait = [&](const db::Value& timeout) {
    work_.Scalar("select set_config('lock_timeout', ?, true)", {timeout});
  };
  wait(db::Value(kLeftoverDropWait));
  try {
    work_.Execute("drop schema if exists " + schema + " cascade");
  } catch (const db::DbError&) {
    wait(lock_timeout);
    throw;
  }
  wait(lock_timeout);
  work_.Execute("create schema " + schema);
  Enter(work_);
}

void RunSchema::Enter(db::Connection& other) const {
  other.Execute("set search_path to " + db::QuoteName(name_) + ", landstat_compat");
}

void RunSchema::KeepFromVacuum(db::Connection& other) const {
  // Once committed, a large table would be vacuumed by the server while
  // the run goes on, and publishing, which must lock it, would wait a
  // second for each vacuum it cancels. Nobody but the run changes them:
  // they are left alone until they are published. The tables the
  // connection sees unmarked are its own (the others' were marked before
  // their commit; those not committed are not seen).
  for (const std::string& name : Tables(other, name_, false)) {
    other.Execute("alter table " + db::QuoteName(name_) + "." + db::QuoteName(name) + " set (" +
                  kNoVacuum + ")");
  }
}

void RunSchema::CommitSoFar() {
  KeepFromVacuum(work_);
  work_.CommitTrans();
  committed_ = true;
  work_.BeginTrans();
}

std::string RunSchema::Discard() {
  if (!committed_) return {};
  try {
    if (work_.InTransaction()) work_.RollbackTrans();
    work_.Execute("drop schema if exists " + db::QuoteName(name_) + " cascade");
  } catch (const db::DbError& error) {
    return error.what();
  }
  return {};
}

void RunSchema::Leave() {
  // A view reads tables by their identity, so a view moved with its tables
  // would still read the run's copies of the shared code tables: each is
  // made again after the move, from its definition as the server gives it
  // while the run's schema is searched (names unqualified).
  views_.clear();
  const auto rows = work_.Scan(
      "select c.relname, pg_get_viewdef(c.oid) from pg_class c join pg_namespace n on n.oid = "
      "c.relnamespace where n.nspname = ? and c.relkind = 'v' order by c.oid",
      {db::Value(name_)});
  while (rows->Next()) views_.push_back({std::string(rows->Text(0)), std::string(rows->Text(1))});
  work_.Execute("set search_path to " + search_path_);
}

void RunSchema::Publish(const std::string& county,
                        const std::function<bool(const std::string&)>& drop) {
  const std::string schema = db::QuoteName(name_);
  const auto make_room = [&](const std::string& name) {
    if (work_.TableExists(name) && !drop(name)) {
      throw db::DbError("the earlier table " + name + " cannot be replaced");
    }
  };
  for (auto view = views_.rbegin(); view != views_.rend(); ++view) {
    work_.Execute("drop view " + schema + "." + db::QuoteName(view->name));
  }
  const std::vector<std::string> kept = Tables(work_, name_, true);
  const std::set<std::string> marked(kept.begin(), kept.end());
  for (const std::string& name : Tables(work_, name_)) {
    const std::string moved = schema + "." + db::QuoteName(name);
    if (const SharedCodeTable* shared = SharedTable(name)) {
      // This county's rows replace those of the database's table.
      RefreshCountyRows(work_, *shared, county, Rows(work_, *shared, moved));
      work_.Execute("drop table " + moved);
      continue;
    }
    make_room(name);
    if (marked.count(name) != 0) {
      work_.Execute("alter table " + moved +
                    " reset (autovacuum_enabled, toast.autovacuum_enabled)");
    }
    work_.Execute("alter table " + moved + " set schema " + db::QuoteName(target_));
  }
  for (const View& view : views_) {
    make_room(view.name);
    work_.Execute("create view " + db::QuoteName(view.name) + " as " + view.definition);
  }
  work_.Execute("drop schema " + schema);
}

}  // namespace landstat
