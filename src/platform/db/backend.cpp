#include "platform/db/backend.h"

#include "platform/db/db_error.h"
#include "platform/db/sql_text.h"

namespace landstat::db {

void Backend::BeginImplicit() {
  if (implicit_depth_++ == 0) {
    implicit_owner_ = !InTransaction();
    if (implicit_owner_) Begin();
  }
}

void Backend::EndImplicit() {
  if (implicit_depth_ == 0) return;
  if (--implicit_depth_ == 0 && implicit_owner_) {
    implicit_owner_ = false;
    // A row refused at the last flush is reported, but the rows stored
    // before it are committed all the same, as they would have been one by
    // one.
    // A caller's transaction begun inside this one (as a savepoint) is
    // still open: the commit waits for its end.
    const auto commit = [this] {
      if (!InTransaction()) return;
      if (explicit_savepoint_) {
        commit_after_explicit_ = true;
      } else {
        Commit();
      }
    };
    try {
      Flush();
    } catch (...) {
      commit();
      throw;
    }
    commit();
  }
}

void Backend::EndSavepointTransaction() {
  explicit_savepoint_ = false;
  if (commit_after_explicit_) {
    commit_after_explicit_ = false;
    Commit();  // the recordset's writes before the caller's transaction
  }
}

namespace {
std::string NestedSavepoint(int depth) {
  return "landstat_nested" + std::to_string(depth);
}
}  // namespace

void Backend::BeginExplicit() {
  if (explicit_open_) {
    // A transaction inside a caller's (a job's work on a server is one
    // transaction): a savepoint, so its rollback undoes only its own work.
    Flush();
    RunControl("SAVEPOINT " + NestedSavepoint(++explicit_nested_));
    MarkSavepoint();
    return;
  }
  if (implicit_depth_ > 0 && InTransaction()) {
    // Inside a recordset's write transaction: a savepoint marks what the
    // caller's transaction covers, so its rollback undoes only that.
    Flush();
    RunControl("SAVEPOINT landstat_caller");
    MarkSavepoint();
    explicit_savepoint_ = true;
  } else {
    Begin();
  }
  explicit_open_ = true;
}

void Backend::CommitExplicit() {
  if (!explicit_open_) throw DbError("no transaction is open to commit");
  if (explicit_nested_ > 0) {
    Flush();
    RunControl("RELEASE SAVEPOINT " + NestedSavepoint(explicit_nested_--));
    return;
  }
  explicit_open_ = false;
  if (explicit_savepoint_) {
    RunControl("RELEASE SAVEPOINT landstat_caller");  // committed with the recordset
    EndSavepointTransaction();
    return;
  }
  Commit();
}

void Backend::RollbackExplicit() {
  if (!explicit_open_) throw DbError("no transaction is open to roll back");
  if (explicit_nested_ > 0) {
    DiscardPending();
    const std::string savepoint = NestedSavepoint(explicit_nested_--);
    RunControl("ROLLBACK TO SAVEPOINT " + savepoint);
    RunControl("RELEASE SAVEPOINT " + savepoint);
    return;
  }
  explicit_open_ = false;
  if (explicit_savepoint_) {
    DiscardPending();
    RunControl("ROLLBACK TO SAVEPOINT landstat_caller");
    RunControl("RELEASE SAVEPOINT landstat_caller");
    EndSavepointTransaction();
    return;
  }
  Rollback();
}

std::vector<std::string> Backend::Rewrite(std::string_view sql) {
  const std::string text = Trim(sql);
  if (auto into = ParseSelectInto(text)) return RewriteSelectInto(*into);
  if (auto update = RewriteMultiTableUpdate(text)) return {*update};
  if (StartsWithWord(text, "create") || StartsWithWord(text, "alter")) {
    return {RewriteTypeWords(text)};
  }
  return {text};
}

std::vector<std::string> Backend::RewriteSelectInto(const SelectInto& into) {
  // "select * into T from S [where ...]" and "select S.* into T from S, ..."
  // copy S's columns with their types and defaults; any other query makes a
  // table of whatever columns it returns.
  std::string source;
  if (into.list == "*") {
    if (auto single = ParseSingleTableSelect("select * from " + into.from)) {
      source = single->table;
    }
  } else if (into.list.size() > 2 && into.list.compare(into.list.size() - 2, 2, ".*") == 0) {
    source = into.list.substr(0, into.list.size() - 2);
  }
  if (!source.empty() && TableExists(source)) {
    return {CreateTableLike(into.target, source),
            "INSERT INTO " + into.target + " SELECT " + into.list + " FROM " + into.from};
  }
  return {"CREATE TABLE " + into.target + " AS SELECT " + into.list + " FROM " + into.from};
}

long Backend::ExecuteScript(std::string_view sql, const std::vector<Value>& params) {
  std::vector<std::string> statements;
  for (const std::string& part :
       params.empty() ? SplitTopLevel(sql, ';') : std::vector<std::string>{std::string(sql)}) {
    if (part.empty()) continue;
    for (std::string& statement : Rewrite(part)) statements.push_back(std::move(statement));
  }
  if (statements.size() == 1) return RunStatement(statements.front(), params);
  // A statement rewritten as several runs as one unit: under a transaction
  // of its own, or a savepoint inside the caller's.
  const bool nested = InTransaction();
  if (nested) {
    RunControl("SAVEPOINT landstat_script");
  } else {
    Begin();
  }
  long changed = 0;
  try {
    for (const std::string& statement : statements) changed += RunStatement(statement, params);
  } catch (...) {
    if (nested) {
      RunControl("ROLLBACK TO SAVEPOINT landstat_script");
      RunControl("RELEASE SAVEPOINT landstat_script");
    } else {
      Rollback();
    }
    throw;
  }
  if (nested) {
    RunControl("RELEASE SAVEPOINT landstat_script");
  } else {
    Commit();
  }
  return changed;
}

}  // namespace landstat::db
