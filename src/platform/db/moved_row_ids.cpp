#include "platform/db/moved_row_ids.h"

#include <utility>

namespace landstat::db {
namespace {
// Changes journaled at most: a hundred thousand ids, some tens of
// megabytes, as many as a table keeps.
constexpr std::size_t kMaxJournal = 100000;
}  // namespace

void MovedRowIds::Record(const std::string& table, const std::string& from, const std::string& to) {
  Ids& ids = ids_[table];
  auto [at, added] = ids.try_emplace(from, to);
  Change change{table, from, {}, {}};
  if (!added) {
    change.previous = std::move(at->second);
    at->second = to;
  }
  if (at_savepoint_) return;
  journal_.push_back(std::move(change));
  KeepJournalBounded();
}

std::string MovedRowIds::Current(const std::string& table, std::string id) const {
  auto ids = ids_.find(table);
  if (ids == ids_.end()) return id;
  // A row moved once per stored update; the bound only guards against a
  // cycle the server would never make.
  for (int hops = 0; hops < 1000; ++hops) {
    auto moved = ids->second.find(id);
    if (moved == ids->second.end()) break;
    id = moved->second;
  }
  return id;
}

std::size_t MovedRowIds::CountOf(const std::string& table) const {
  auto ids = ids_.find(table);
  return ids == ids_.end() ? 0 : ids->second.size();
}

void MovedRowIds::Clear() {
  ids_.clear();
  journal_.clear();
  at_savepoint_.reset();
}

void MovedRowIds::MarkSavepoint() {
  journal_.clear();
  at_savepoint_.reset();
}

void MovedRowIds::UndoToSavepoint() {
  if (at_savepoint_) {
    ids_ = std::move(*at_savepoint_);
    at_savepoint_.reset();
  } else {
    Undo(ids_);
  }
  journal_.clear();
}

void MovedRowIds::Undo(IdsByTable& ids) {
  for (auto change = journal_.rbegin(); change != journal_.rend(); ++change) {
    if (change->forgotten) {
      ids[change->table] = std::move(*change->forgotten);
    } else if (change->previous) {
      ids[change->table][change->id] = std::move(*change->previous);
    } else {
      ids[change->table].erase(change->id);
    }
  }
  journal_.clear();
}

void MovedRowIds::KeepJournalBounded() {
  if (journal_.size() <= kMaxJournal) return;
  at_savepoint_ = ids_;
  Undo(*at_savepoint_);
}

}  // namespace landstat::db
