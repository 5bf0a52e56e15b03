#pragma once

// The Inner Mongolia rows the run keeps in memory: the texts their keys are
// made of, a unit copy (the base rows summed by the fifteen group columns),
// and the groupings the base rows feed as they are written, from which the
// unit copies and the ledger are made without reading the base table back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/value.h"

namespace landstat::mg {

// The columns a unit copy groups the base rows by (kMgGroupColumns).
inline constexpr std::size_t kMgGroupCount = 15;

// Texts by number, each text kept once; number 0 is null.
class MgTexts {
 public:
  static constexpr std::uint32_t kNull = 0;
  MgTexts() { texts_.emplace_back(); }
  MgTexts(const MgTexts&) = delete;
  MgTexts& operator=(const MgTexts&) = delete;

  std::uint32_t Id(std::string_view text);
  const std::string& Text(std::uint32_t id) const { return texts_[id]; }
  db::Value ValueOf(std::uint32_t id) const {
    return id == kNull ? db::Value() : db::Value(texts_[id]);
  }
  // As the databases order texts by bytes: null first, a text before the
  // longer texts it begins.
  bool Less(std::uint32_t a, std::uint32_t b) const {
    return a != b && (a == kNull || (b != kNull && texts_[a] < texts_[b]));
  }

 private:
  std::deque<std::string> texts_;  // never moved: the map's keys view them
  std::unordered_map<std::string_view, std::uint32_t> ids_;
};

// A row's group columns, in the order of kMgGroupColumns.
using MgKey = std::array<std::uint32_t, kMgGroupCount>;

struct MgKeyHash {
  std::size_t operator()(const MgKey& key) const {
    std::size_t hash = 0;
    for (std::uint32_t id : key) hash = hash * 1000003u ^ id;
    return hash;
  }
};

// A unit copy held in memory: each row's key and figures (土地总面积 and
// the class columns, in the order of `columns`).
struct MgCopy {
  std::vector<std::string> columns;
  std::vector<MgKey> keys;
  std::vector<double> figures;  // rows x columns

  std::size_t Rows() const { return keys.size(); }
  double* Row(std::size_t row) { return figures.data() + row * columns.size(); }
  const double* Row(std::size_t row) const { return figures.data() + row * columns.size(); }
  // The place of a figure column by name (in any case); -1 when none.
  int Column(std::string_view name) const;
};

// Puts a copy's rows in the order of their keys, column by column: the
// order the grouping statement of an embedded database stored them in,
// which the balancing's ties follow on every database.
void SortByKey(MgCopy& copy, const MgTexts& texts);

// Reads a copy's rows from its table: the group columns and the figure
// columns `columns`, a null figure as 0; the rows in key order. Raises
// DbError when the table cannot be read.
MgCopy ReadCopy(db::Connection& connection, const std::string& table,
                const std::vector<std::string>& columns, MgTexts& texts);

// Replaces a copy table's rows by the copy's, in their order. Raises DbError.
void WriteCopy(db::Connection& connection, const std::string& table, const MgCopy& copy,
               const MgTexts& texts);

// WriteCopy on a thread of its own, while the caller goes on with work that
// neither uses the connection nor changes the copy or the texts. Finish
// waits for it and raises its failure; the end of the object waits too.
class MgCopyWriting {
 public:
  MgCopyWriting(db::Connection& connection, std::string table, const MgCopy& copy,
                const MgTexts& texts);
  ~MgCopyWriting();
  MgCopyWriting(const MgCopyWriting&) = delete;
  MgCopyWriting& operator=(const MgCopyWriting&) = delete;
  void Finish();

 private:
  std::exception_ptr failure_;
  std::thread thread_;
};

// The key of a ledger row: ownership code and name, location code (as
// texts' numbers) and parcel number.
struct MgLedgerKey {
  std::uint32_t owner_code = 0, owner_name = 0, location = 0;
  std::string number;
  bool operator==(const MgLedgerKey&) const = default;
};
struct MgLedgerKeyHash {
  std::size_t operator()(const MgLedgerKey& key) const;
};
// A ledger row's sums: the total, and the first of the sums of the class
// columns that took an area (MgLedgerClass, kept apart so that a row holds
// no list of its own).
struct MgLedgerSums {
  static constexpr std::uint32_t kNoClass = UINT32_MAX;
  double total = 0;
  std::uint32_t first_class = kNoClass;
};
// The sum of a class column of a ledger row (by its place among the figure
// columns), and the next class of the row.
struct MgLedgerClass {
  double sum = 0;
  std::uint32_t next = MgLedgerSums::kNoClass;
  std::uint16_t figure = 0;
};

// The groupings the base rows feed as the fill writes them: the unit
// copies' rows, summed by the group columns, and the ledger's, summed by
// ownership code and name, location code and parcel number. The rows are
// the base table's as stored, so the sums are those a grouping statement
// over the base table gives.
class MgBaseGroups {
 public:
  // Starts anew for rows of the columns `row_columns` (those the fill
  // writes, in the order the rows hold them); `figures` are the figure
  // columns, 土地总面积 first. Raises DbError when a column the groupings
  // read is missing.
  void Begin(MgTexts& texts, const std::vector<std::string>& row_columns,
             const std::vector<std::string>& figures);
  // Whether a fill fed them since they were made or cleared.
  bool Begun() const { return texts_ != nullptr; }
  // A row as it was stored: its area is its total, and the class columns
  // that hold it (those not 0).
  void Add(const std::vector<db::Value>& row);

  // The copy rows: every sum rounded to one decimal, the grid the base rows
  // stand on (the grouping statement rounded them so), in key order. Taken
  // once: the copy's groupings are let go as the copy is made, so that they
  // are not held beside the copies made from it (the ledger's stay). Raises
  // DbError when they were taken before.
  MgCopy TakeCopy();
  const std::unordered_map<MgLedgerKey, MgLedgerSums, MgLedgerKeyHash>& Ledger() const {
    return ledger_;
  }
  // Calls visit(figure, sum) for each class column of a ledger row.
  template <typename Visit>
  void ForEachClass(const MgLedgerSums& sums, const Visit& visit) const {
    for (std::uint32_t at = sums.first_class; at != MgLedgerSums::kNoClass;
         at = ledger_classes_[at].next) {
      visit(ledger_classes_[at].figure, ledger_classes_[at].sum);
    }
  }
  // Lets the ledger's rows go once they are stored; the copy's groupings
  // stay (the two may be let go on different threads).
  void ReleaseLedger();
  const std::vector<std::string>& Figures() const { return figures_; }
  void Clear();

 private:
  // A text's number, the last one of its column kept: rows in a row often
  // share their owner and location.
  struct Recent {
    std::string text;
    std::uint32_t id = MgTexts::kNull;
  };
  std::uint32_t Id(const db::Value& value, Recent& recent);

  MgTexts* texts_ = nullptr;
  std::vector<std::string> figures_;
  std::array<int, kMgGroupCount> group_places_{};
  int owner_code_ = -1, owner_name_ = -1, location_ = -1, number_ = -1;
  std::vector<int> figure_of_;  // by place in the row: its figure, or -1
  int total_ = -1;              // the total's place in the row
  std::vector<int> classes_;    // the class columns' places in the row
  // The copy rows by their key's texts, and their sums.
  std::unordered_map<std::string, std::uint32_t> copy_rows_;
  std::vector<MgKey> copy_keys_;
  std::vector<double> copy_sums_;  // rows x figures
  std::unordered_map<MgLedgerKey, MgLedgerSums, MgLedgerKeyHash> ledger_;
  std::deque<MgLedgerClass> ledger_classes_;  // grows without moving what it holds
  std::vector<int> booked_;                   // the class columns of the row being added
  std::string key_, last_key_;                // the copy key being looked up, and the last one
  std::uint32_t last_copy_row_ = 0;
  bool copy_taken_ = false;
  Recent owner_code_text_, owner_name_text_, location_text_, group_texts_[kMgGroupCount];
  MgLedgerKey last_ledger_key_;
  MgLedgerSums* last_ledger_ = nullptr;
};

}  // namespace landstat::mg
