#include "platform/db/backend.h"

#include <optional>

#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sql_text.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "platform/text/text_encoding.h"

namespace landstat::db {

namespace {
constexpr char kImplicitSavepoint[] = "landstat_implicit";
}  // namespace

void Backend::BeginImplicit() {
  if (implicit_depth_++ == 0) {
    implicit_owner_ = !InTransaction();
    implicit_savepoint_ = !implicit_owner_;
    if (implicit_owner_) {
      Begin();
    } else {
      // Inside a caller's transaction (a job's on a server): a savepoint, so
      // that writes an error interrupts are undone as they would be alone.
      RunControl(std::string("SAVEPOINT ") + kImplicitSavepoint);
    }
  }
}

void Backend::EndImplicit() {
  if (implicit_depth_ == 0) return;
  if (--implicit_depth_ == 0) EndImplicitTransaction();
}

void Backend::AbandonImplicit() {
  if (implicit_depth_ == 0) return;
  implicit_abandoned_ = true;
  if (--implicit_depth_ == 0) EndImplicitTransaction();
}

void Backend::EndImplicitSavepoint() {
  implicit_savepoint_ = false;
  const bool abandoned = implicit_abandoned_;
  implicit_abandoned_ = false;
  if (abandoned) {
    DiscardPending();
    RunControl(std::string("ROLLBACK TO SAVEPOINT ") + kImplicitSavepoint);
    RunControl(std::string("RELEASE SAVEPOINT ") + kImplicitSavepoint);
    return;
  }
  try {
    Flush();
  } catch (...) {
    RunControl(std::string("RELEASE SAVEPOINT ") + kImplicitSavepoint);
    throw;
  }
  RunControl(std::string("RELEASE SAVEPOINT ") + kImplicitSavepoint);
}

void Backend::RollBackAbandoned() {
  Rollback();
  throw DbError(
      "the writes of a recordset that an error interrupted were rolled back, with the rest of "
      "their transaction");
}

void Backend::EndImplicitTransaction() {
  if (implicit_savepoint_) return EndImplicitSavepoint();
  if (!implicit_owner_) return;
  implicit_owner_ = false;
  const bool abandoned = implicit_abandoned_;
  implicit_abandoned_ = false;
  if (abandoned && !explicit_savepoint_) RollBackAbandoned();
  // A caller's transaction begun inside this one (as a savepoint) is still
  // open: the end waits for its end.
  const auto finish = [this, abandoned] {
    if (explicit_savepoint_) {
      after_explicit_ = abandoned ? AfterExplicit::kRollBack : AfterExplicit::kCommit;
    } else if (InTransaction()) {
      CommitOrRollBack();
    }
  };
  if (abandoned) return finish();
  // A row refused at the last flush is reported, but the rows stored before
  // and after it are committed all the same, as they would have been one by
  // one.
  try {
    Flush();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void Backend::CommitOrRollBack() {
  try {
    Commit();
  } catch (const DbError& error) {
    std::string rollback_error;
    try {
      Rollback();
    } catch (const DbError& also) {
      rollback_error = std::string("; the rollback failed too: ") + also.what();
    }
    throw DbError(std::string("the commit failed and the transaction was rolled back: ") +
                      error.what() + rollback_error,
                  error.Failure());
  }
}

void Backend::EndSavepointTransaction() {
  explicit_savepoint_ = false;
  const AfterExplicit after = after_explicit_;
  after_explicit_ = AfterExplicit::kNothing;
  if (after == AfterExplicit::kCommit) {
    CommitOrRollBack();  // the recordsets' writes before the caller's transaction
  } else if (after == AfterExplicit::kRollBack) {
    RollBackAbandoned();
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
  CommitOrRollBack();
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
  const std::string text = text::Trim(sql);
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

std::string RowName(const std::string& table, long record, bool added) {
  return added ? "new row " + std::to_string(record) + " of table " + table
               : "row " + std::to_string(record) + " of the walk over table " + table;
}

double NumberOfTextField(std::string_view text, const std::string& column) {
  if (const std::optional<double> number = text::TextToNumber(text)) return *number;
  throw DbError("the text '" + std::string(text) + "' of field " + column + " is not a number");
}

long CharacterCount(std::string_view text) {
  return static_cast<long>(text::CharacterCount(text));
}

std::string TooLongFor(const std::string& where, const std::string& column, const Value& value,
                       long limit) {
  if (limit == 0 || value.IsNull()) return {};
  const std::string text = value.AsText();
  const long length = CharacterCount(text);
  if (length <= limit) return {};
  constexpr std::size_t kShown = 60;
  return where + ", column " + column + ": the text \"" +
         (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "\" has " +
         std::to_string(length) + " characters, more than the " + std::to_string(limit) +
         " the column holds";
}

void Backend::CheckInsertedTexts(const std::string& sql, const std::vector<Value>& params) {
  if (params.empty() || !StartsWithWord(sql, "insert")) return;
  const std::string lower = text::ToLowerAscii(sql);
  const std::size_t into = lower.find("into");
  const std::size_t open = lower.find('(');
  const std::size_t close = lower.find(')', open == std::string::npos ? 0 : open);
  if (into == std::string::npos || open == std::string::npos || close == std::string::npos ||
      open < into) {
    return;
  }
  const std::string table = text::Trim(std::string_view(sql).substr(into + 4, open - into - 4));
  const std::string values = text::Trim(std::string_view(lower).substr(close + 1));
  if (!StartsWithWord(values, "values") || table.find_first_of(" \t,") != std::string::npos) return;
  const std::vector<std::string> columns =
      SplitTopLevel(std::string_view(sql).substr(open + 1, close - open - 1));
  const std::string marks = text::Trim(std::string_view(values).substr(6));
  std::string expected = "(";
  for (std::size_t i = 0; i < columns.size(); ++i) expected += i ? ",?" : "?";
  std::string compact;
  for (const char c : marks) {
    if (c != ' ') compact += c;
  }
  if (compact != expected + ")" || columns.size() != params.size() || !TableExists(table)) return;
  const auto& limits = TextLimits(table);
  for (std::size_t i = 0; i < columns.size() && !limits.empty(); ++i) {
    const auto found = limits.find(text::ToLowerAscii(text::Trim(columns[i])));
    if (found == limits.end()) continue;
    const std::string refusal =
        TooLongFor("table " + table, text::Trim(columns[i]), params[i], found->second);
    if (!refusal.empty()) throw DbError(refusal, sql);
  }
}

namespace {

// The length in "varchar(10)", "character(4)" or "text(20)"; 0 when the
// declared type is no text type with a length.
long DeclaredTextLength(const std::string& declared) {
  const std::string lower = text::ToLowerAscii(declared);
  if (lower.find("char") == std::string::npos && lower.find("text") == std::string::npos) return 0;
  const std::size_t open = lower.find('(');
  const std::size_t close = lower.find(')', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return 0;
  const std::string digits = text::Trim(std::string_view(lower).substr(open + 1, close - open - 1));
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stol(digits);
}

}  // namespace

const std::unordered_map<std::string, long>& Backend::TextLimits(const std::string& table) {
  const std::string key = text::ToLowerAscii(table);
  auto found = text_limits_.find(key);
  if (found != text_limits_.end()) return found->second;
  std::unordered_map<std::string, long> limits;
  for (const ColumnInfo& column : TableColumns(table)) {
    if (const long length = DeclaredTextLength(column.declared); length > 0) {
      limits.emplace(text::ToLowerAscii(column.name), length);
    }
  }
  return text_limits_.emplace(key, std::move(limits)).first->second;
}

void Backend::ForgetTablesAfter(const std::string& statement) {
  if (StartsWithWord(statement, "create") || StartsWithWord(statement, "drop") ||
      StartsWithWord(statement, "alter")) {
    text_limits_.clear();
  }
}

std::unique_ptr<RowSource> Backend::ScanTable(std::string_view table) {
  return Query("select * from " + QuoteName(StoredTableName(table)), {});
}

Value Backend::Scalar(std::string_view sql, const std::vector<Value>& params) {
  std::unique_ptr<RowSource> rows = Query(sql, params);
  std::vector<Value> row;
  if (!rows->Fetch(row) || row.empty()) return Value();
  return row.front();
}

long Backend::InsertSelect(const std::string& target, const std::vector<std::string>& columns,
                           const std::string& select) {
  std::string names;
  for (const std::string& column : columns) names += (names.empty() ? "" : ",") + column;
  return Execute("INSERT INTO " + target + " (" + names + ") " + select, {});
}

long Backend::ExecuteScript(std::string_view sql, const std::vector<Value>& params) {
  // Without parameters the text may hold several statements.
  std::vector<std::string> parts;
  if (params.empty()) {
    parts = SplitTopLevel(sql, ';');
  } else {
    parts.emplace_back(sql);
  }
  std::vector<std::string> statements;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    for (std::string& statement : Rewrite(part)) {
      ForgetTablesAfter(statement);
      statements.push_back(std::move(statement));
    }
  }
  if (statements.size() == 1) {
    CheckInsertedTexts(statements.front(), params);
    return RunStatement(statements.front(), params);
  }
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
    CommitOrRollBack();
  }
  return changed;
}

}  // namespace landstat::db
