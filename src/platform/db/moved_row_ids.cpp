#include "platform/db/moved_row_ids.h"

#include <utility>

namespace landstat::db {

void MovedRowIds::Record(const std::string& table, const std::string& from, const std::string& to) {
  Ids& ids = ids_[table];
  auto [at, added] = ids.try_emplace(from, to);
  Change change{table, from, {}, {}};
  if (!added) {
    change.previous = std::move(at->second);
    at->second = to;
  }
  journal_.push_back(std::move(change));
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
}

void MovedRowIds::UndoToSavepoint() {
  for (auto change = journal_.rbegin(); change != journal_.rend(); ++change) {
    if (change->forgotten) {
      ids_[change->table] = std::move(*change->forgotten);
    } else if (change->previous) {
      ids_[change->table][change->id] = std::move(*change->previous);
    } else {
      ids_[change->table].erase(change->id);
    }
  }
  journal_.clear();
}

}  // namespace landstat::db
