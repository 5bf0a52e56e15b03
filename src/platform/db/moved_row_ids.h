#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace landstat::db {

// The ids rows of a server table moved to: every stored update gives a row
// a new id (its ctid), while a walk over the table still knows the old one.
// Kept per table, since every table numbers its rows alike.
//
// A rollback to a savepoint undoes the updates after it, and so the ids they
// moved. Rather than copy every id at each savepoint (a run opens hundreds,
// with up to a hundred thousand ids a table), what changed since the last
// savepoint is journaled and undone in reverse. A long walk of updates
// without a savepoint would make the journal as long as the walk: past a
// bound the ids as they stood at the savepoint are kept whole instead, and
// the journal stops until the next savepoint.
class MovedRowIds {
 public:
  // Row `from` of `table` is now row `to`.
  void Record(const std::string& table, const std::string& from, const std::string& to);
  // The id a row of `table` has now, following its moves.
  std::string Current(const std::string& table, std::string id) const;
  std::size_t CountOf(const std::string& table) const;
  // Forgets the ids of every table `same_table` says is the one meant.
  template <typename SameTable>
  void ForgetTables(SameTable same_table) {
    for (auto at = ids_.begin(); at != ids_.end();) {
      if (same_table(at->first)) {
        if (!at_savepoint_) journal_.push_back({at->first, {}, {}, std::move(at->second)});
        at = ids_.erase(at);
      } else {
        ++at;
      }
    }
    KeepJournalBounded();
  }
  // The transaction ended: no id is of use any more.
  void Clear();
  // A savepoint was set: later changes are the ones a rollback undoes.
  void MarkSavepoint();
  // The transaction went back to the last savepoint.
  void UndoToSavepoint();

 private:
  using Ids = std::map<std::string, std::string>;
  struct Change {
    std::string table;
    std::string id;                       // one id recorded...
    std::optional<std::string> previous;  // ...over this one, or over none
    std::optional<Ids> forgotten;         // or a whole table's ids forgotten
  };
  using IdsByTable = std::map<std::string, Ids>;
  // Undoes the journal, newest first, on `ids`.
  void Undo(IdsByTable& ids);
  void KeepJournalBounded();

  IdsByTable ids_;
  std::vector<Change> journal_;  // since the last savepoint, oldest first
  // The ids at the last savepoint, once the journal grew past its bound.
  std::optional<IdsByTable> at_savepoint_;
};

}  // namespace landstat::db
