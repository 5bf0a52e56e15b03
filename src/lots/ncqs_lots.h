#pragma once

// What the rural ownership-lot run carries from its lot layer into its base
// table: the lot number of each parcel's rows, given to each row as it is
// written, and the per-lot sums of those rows, gathered on the way.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/db/grouped_sums.h"

namespace landstat {

class NcqsLots {
 public:
  // The keys that find a parcel's rows (its own, its deduction's and those
  // of the features booked to it with its ownership nature).
  static constexpr const char* kParcelKeys[] = {"图斑编号", "座落单位代码", "权属性质"};
  // The columns the per-lot sums are grouped by, then the total summed.
  static constexpr const char* kSumKeys[] = {"地籍号", "座落单位代码", "权属单位代码", "权属性质"};
  static constexpr const char* kTotal = "土地总面积";

  // `numbers`: the lot numbers the parcels are put in, by the place Put
  // gives. `classes`: the class columns summed besides the total (as
  // "BM" + code). `area`: turns a square-metre figure into the unit of the
  // sums; the total is summed converted row by row, each class summed and
  // then converted, as the sums always were.
  NcqsLots(std::vector<std::string> numbers, std::vector<std::string> classes,
           std::function<double(double)> area);

  // The keys of a parcel's rows, as Put takes them.
  static std::string KeysOf(std::string_view number, std::string_view location,
                            std::string_view ownership);
  // Puts the parcel of record `record` and these keys in lot `lot` (a
  // place in the numbers): a later parcel with the same keys takes them
  // over.
  void Put(long record, std::string keys, std::uint32_t lot);
  // The lot numbers by place (empty for a lot left out).
  const std::vector<std::string>& Numbers() const { return numbers_; }
  // The lot number of rows with these keys; null when their parcel is in
  // no lot.
  const std::string* LotOf(std::string_view number, std::string_view location,
                           std::string_view ownership);
  // The same for the rows of the parcel of record `record` itself: found
  // by the record where it was put under these keys and no two parcels
  // were put under the same keys (the parcels' rows come in the order of
  // their records, the keys of a million parcels in no order at all).
  const std::string* LotOfParcel(long record, std::string_view number, std::string_view location,
                                 std::string_view ownership);

  // The class columns summed, and the sums: one row a group (the keys of
  // kSumKeys, then the total, then the classes, as written) added by
  // AddRow, written by WriteSums.
  const std::vector<std::string>& Classes() const { return classes_; }
  void AddRow(std::vector<db::Value>& row);
  void WriteSums(db::Connection& connection, const std::string& target) const;

 private:
  static void AppendKeys(std::string& keys, std::string_view number, std::string_view location,
                         std::string_view ownership);

  std::vector<std::string> numbers_;
  std::unordered_map<std::string, std::uint32_t> parcels_;  // keys -> place in numbers_
  // Per record put: the hash of its keys and its lot (kNoLot for none);
  // whether two parcels were put under the same keys.
  static constexpr std::uint32_t kNoLot = UINT32_MAX;
  struct PutParcel {
    std::size_t keys_hash = 0;
    std::uint32_t lot = kNoLot;
  };
  std::vector<PutParcel> put_;
  bool keys_repeated_ = false;
  // The keys of the last two look-ups (the last at looked_up_), and the
  // last one's lot.
  std::string keys_[2];
  int looked_up_ = 0;
  const std::string* lot_ = nullptr;
  std::vector<std::string> classes_;
  std::function<double(double)> area_;
  db::GroupedSums sums_;
};

}  // namespace landstat
