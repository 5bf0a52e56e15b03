// The rural ownership-lot steps around the base table: the number of the
// lot that holds each parcel, found before the parcel's rows of
// statdata_ncqs are written, and the per-lot sums, gathered as they are
// written, stored in NCZD_AREA.

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "lots/ncqs_lots.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/ini_file.h"
#include "platform/host/progress.h"

namespace landstat {
namespace {

constexpr const char* kLotTitle = "赋宗地号";
constexpr const char* kAreaTitle = "汇总宗地面积";
constexpr const char* kLotNumber = "地籍号";

// The lot numbers of the layer by record (empty for none), read in the same
// walk that holds the lots for the point searches. A lot without a number
// is logged and left out, and so is every lot of a number that more than
// one lot carries (which of them a parcel's rows belong under is unknown):
// their parcels keep no lot number.
std::vector<std::string> LotNumbers(LayerChecks& lots, std::optional<gis::RegionFinder>& finder) {
  std::vector<std::string> numbers(
      std::max(1L, gis::RecordCount(lots.Layer(), gis::EntityKind::kRegion)));
  finder.emplace(lots.Layer(), [&](const gis::Record& lot) {
    if (std::optional<std::string> number = lots.Code(lot, kLotNumber)) {
      numbers.at(lot.Number()) = std::move(*number);
    }
  });
  std::unordered_map<std::string_view, int> times;
  for (const std::string& number : numbers) {
    if (!number.empty()) ++times[number];
  }
  std::vector<long> repeated;
  for (long record = 1; record < static_cast<long>(numbers.size()); ++record) {
    if (!numbers[record].empty() && times[numbers[record]] > 1) repeated.push_back(record);
  }
  gis::Record lot;
  for (const long record : repeated) {
    const std::string number = numbers[record];
    const int carried = times[number];
    if (gis::ReadRecord(lots.Layer(), gis::EntityKind::kRegion, record, lot)) {
      lots.Fail(
          lot, kLotNumber,
          "地籍号 " + number + " 在图层中出现 " + std::to_string(carried) + " 次, 宗地未计入");
    }
  }
  for (const long record : repeated) numbers[record].clear();
  return numbers;
}

// "记录 3 地籍号 A, 记录 4 地籍号 B": the lots that hold one point.
std::string LotsNamed(const std::vector<long>& records, const std::vector<std::string>& numbers) {
  std::string named;
  for (const long record : records) {
    const std::string& number = numbers.at(record);
    named += (named.empty() ? "记录 " : ", 记录 ") + std::to_string(record) +
             (number.empty() ? " (未计入)" : " 地籍号 " + number);
  }
  return named;
}

// A parcel of the county as the lots are searched for it: its record, the
// keys of its rows and the lots that hold a point inside it (none without
// one).
struct ParcelInLots {
  long record;
  std::string keys;
  std::vector<long> holders;
};

// The parcels of a chunk of records, with their geometries as read, one
// after the other (parcel i's end at ends[i]); the geometries are dropped
// once searched for.
struct ParcelChunk {
  std::vector<ParcelInLots> parcels;
  std::string geometries;
  std::vector<std::size_t> ends;
};

// The parcels' records read and handed over at a time.
constexpr long kParcelsPerChunk = 4096;
// The chunks read ahead of those taken to be searched for: what the
// reading holds in memory, each record with its geometry, while the lots
// are read.
constexpr std::size_t kChunksReadAhead = 8;
// The threads that search for the parcels besides the run's own: the inside
// point of a parcel costs more than reading it.
constexpr unsigned kSearchThreads = 3;

// The lots searched for the parcels of the layer located in the county (a
// parcel of another county has no rows: the fill logs it), in the order of
// the records, in chunks: chunk i holds those of the records from
// 1 + i * kParcelsPerChunk on. One thread reads the layer (the reading
// logs nothing); the chunks read are taken in turn, each by one of a few
// threads or by the caller's own while it waits for it, and searched for
// (the inside points, then, once the lots are held, the lots that hold
// them); the caller takes the chunks in order. What is raised for a chunk
// goes to that chunk; a failure to read goes to every later chunk too.
class ParcelLotSearch {
 public:
  ParcelLotSearch(short parcel_layer, const std::string& county)
      : layer_(parcel_layer),
        county_(county),
        count_(gis::RecordCount(parcel_layer, gis::EntityKind::kRegion)) {
    const long records = std::max(0L, count_ - 1);  // numbered from 1
    const auto chunks =
        static_cast<std::size_t>((records + kParcelsPerChunk - 1) / kParcelsPerChunk);
    read_.resize(chunks);
    searched_.resize(chunks);
    lots_held_ = lots_.get_future().share();
    // Where no thread can be started, the parcels are read once the lots
    // are, and searched for by the caller's thread (which the threads
    // started meanwhile help).
    try {
      reader_ = std::thread([this] { Read(true); });
      const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
      for (unsigned i = 0; i < std::min(kSearchThreads, processors - 1); ++i) {
        searchers_.emplace_back([this] { SearchTaken(); });
      }
    } catch (const std::exception&) {
    }
  }
  ~ParcelLotSearch() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    if (!lots_given_) lots_.set_exception(std::make_exception_ptr(gis::GisError("no lots held")));
    if (reader_.joinable()) reader_.join();
    for (std::thread& searcher : searchers_) searcher.join();
  }
  ParcelLotSearch(const ParcelLotSearch&) = delete;
  ParcelLotSearch& operator=(const ParcelLotSearch&) = delete;

  std::size_t Chunks() const { return read_.size(); }

  // The lots the parcels are searched in (held until the search ends).
  void SearchIn(const gis::RegionFinder& lots) {
    lots_given_ = true;
    lots_.set_value(&lots);
    if (!reader_.joinable()) Read(false);
  }

  // The parcels of chunk `chunk`, the chunks taken in order; the caller's
  // thread searches for it itself when no other has taken it.
  std::vector<ParcelInLots> Searched(std::size_t chunk) {
    for (std::optional<std::size_t> taken = TakeUpTo(chunk); taken; taken = TakeUpTo(chunk)) {
      Search(*taken);
    }
    return searched_[chunk].get_future().get();
  }

 private:
  // The next chunk to search for, taken; none when every one is, or (with
  // `last`) when the chunks up to it are.
  std::optional<std::size_t> TakeUpTo(std::size_t last = SIZE_MAX) {
    std::lock_guard lock(mutex_);
    if (stopped_ || taken_ >= read_.size() || taken_ > last) return std::nullopt;
    changed_.notify_all();
    return taken_++;
  }

  void SearchTaken() {
    while (const std::optional<std::size_t> taken = TakeUpTo()) Search(*taken);
  }

  void Search(std::size_t chunk) {
    try {
      ParcelChunk read = read_[chunk].get_future().get();
      std::vector<std::optional<gis::Point>> inside;
      inside.reserve(read.parcels.size());
      const std::string_view geometries = read.geometries;
      for (std::size_t i = 0, begin = 0; i < read.parcels.size(); begin = read.ends[i++]) {
        inside.push_back(gis::PointOnSurfaceOf(geometries.substr(begin, read.ends[i] - begin)));
      }
      read.geometries = {};
      const gis::RegionFinder& lots = *lots_held_.get();
      for (std::size_t i = 0; i < read.parcels.size(); ++i) {
        if (inside[i]) read.parcels[i].holders = lots.RegionsContaining(*inside[i]);
      }
      searched_[chunk].set_value(std::move(read.parcels));
    } catch (...) {
      searched_[chunk].set_exception(std::current_exception());
    }
  }

  // Reads the chunks in order; `ahead`: at most kChunksReadAhead of them
  // before those taken. Cancelled or stopped, the chunks left are empty
  // (the job stops at its caller's next check).
  void Read(bool ahead) {
    const auto& keys = NcqsLots::kParcelKeys;
    // The keys by their place in the layer's structure: faster than by name.
    const int number_field = gis::FieldIndex(layer_, keys[0]);
    const int location_field = gis::FieldIndex(layer_, keys[1]);
    const int ownership_field = gis::FieldIndex(layer_, keys[2]);
    gis::Record parcel;
    std::size_t chunk = 0;
    try {
      for (long first = 1; chunk < read_.size(); ++chunk, first += kParcelsPerChunk) {
        bool stopped = false;
        if (ahead) {
          std::unique_lock lock(mutex_);
          changed_.wait(lock, [&] { return stopped_ || chunk < taken_ + kChunksReadAhead; });
          stopped = stopped_;
        }
        ParcelChunk read;
        const long end =
            stopped || host::JobCancelled() ? first : std::min(count_, first + kParcelsPerChunk);
        for (long number = first; number < end; ++number) {
          // The keys alone of the parcel's many fields, and its geometry.
          if (!gis::ReadRecord(layer_, gis::EntityKind::kRegion, number, parcel,
                               gis::RecordParts::kAll, keys)) {
            continue;
          }
          const std::string location = parcel.Text(location_field);
          if (!location.starts_with(county_)) continue;
          // The geometry copied, into one buffer per chunk: the records'
          // many allocations are freed by the thread that made them (freed
          // by another, they slow both).
          parcel.AppendGeometry(read.geometries);
          read.ends.push_back(read.geometries.size());
          read.parcels.push_back(
              {number,
               NcqsLots::KeysOf(parcel.Text(number_field), location, parcel.Text(ownership_field)),
               {}});
        }
        read_[chunk].set_value(std::move(read));
      }
    } catch (...) {
      for (; chunk < read_.size(); ++chunk) read_[chunk].set_exception(std::current_exception());
    }
  }

  const short layer_;
  const std::string& county_;
  const long count_;
  std::vector<std::promise<ParcelChunk>> read_;
  std::vector<std::promise<std::vector<ParcelInLots>>> searched_;
  std::promise<const gis::RegionFinder*> lots_;
  std::shared_future<const gis::RegionFinder*> lots_held_;
  bool lots_given_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t taken_ = 0;  // the chunks taken to be searched for
  bool stopped_ = false;
  std::thread reader_;
  std::vector<std::thread> searchers_;
};

// The unit of the per-lot sums: the host's setting, hectares when there is
// none.
constexpr const char* kAreaUnitSection = "ZD_SET";
constexpr const char* kAreaUnitKey = "宗地面积单位";
constexpr const char* kDefaultAreaUnit = "公顷";

// What turns square metres into the unit the setting names: mu when it
// holds "亩", hectares when it holds "公顷" (and not "亩"), none (square
// metres) otherwise, an empty setting included. The steps are those the
// sums were always taken with (times 3, then by 2000).
std::function<double(double)> AreaFactor(const std::string& setting) {
  if (setting.find("亩") != std::string::npos) return [](double area) { return area * 3 / 2000; };
  if (setting.find("公顷") != std::string::npos) return [](double area) { return area / 10000; };
  return [](double area) { return area; };
}

}  // namespace

NcqsLots::NcqsLots(std::vector<std::string> numbers, std::vector<std::string> classes,
                   std::function<double(double)> area)
    : numbers_(std::move(numbers)),
      classes_(std::move(classes)),
      area_(std::move(area)),
      sums_([&] {
        db::GroupedSumsQuery query{
            "NCZD_AREA", {}, {std::begin(kSumKeys), std::end(kSumKeys)}, {kTotal}};
        query.sums.insert(query.sums.end(), classes_.begin(), classes_.end());
        return query;
      }()) {}

std::string NcqsLots::KeysOf(std::string_view number, std::string_view location,
                             std::string_view ownership) {
  std::string keys;
  AppendKeys(keys, number, location, ownership);
  return keys;
}

void NcqsLots::AppendKeys(std::string& keys, std::string_view number, std::string_view location,
                          std::string_view ownership) {
  keys.append(number).append(1, '\x1f').append(location).append(1, '\x1f').append(ownership);
}

void NcqsLots::Put(long record, std::string keys, std::uint32_t lot) {
  const std::size_t hash = std::hash<std::string>{}(keys);
  if (!parcels_.insert_or_assign(std::move(keys), lot).second) keys_repeated_ = true;
  if (record < 0) return;
  const auto place = static_cast<std::size_t>(record);
  if (place >= put_.size()) put_.resize(place + 1);
  put_[place] = {hash, lot};
}

const std::string* NcqsLots::LotOf(std::string_view number, std::string_view location,
                                   std::string_view ownership) {
  // The rows of one parcel (its deduction's and its own) come together.
  std::string& keys = keys_[looked_up_ ^= 1];
  keys.clear();
  AppendKeys(keys, number, location, ownership);
  if (keys == keys_[looked_up_ ^ 1]) return lot_;
  const auto found = parcels_.find(keys);
  lot_ = found == parcels_.end() ? nullptr : &numbers_[found->second];
  return lot_;
}

const std::string* NcqsLots::LotOfParcel(long record, std::string_view number,
                                         std::string_view location, std::string_view ownership) {
  const auto place = static_cast<std::size_t>(record);
  if (keys_repeated_ || record < 0 || place >= put_.size() || put_[place].lot == kNoLot) {
    return LotOf(number, location, ownership);
  }
  std::string& keys = keys_[looked_up_ ^= 1];
  keys.clear();
  AppendKeys(keys, number, location, ownership);
  if (std::hash<std::string>{}(keys) != put_[place].keys_hash) {
    looked_up_ ^= 1;  // the keys looked up last stay those of lot_
    return LotOf(number, location, ownership);
  }
  lot_ = &numbers_[put_[place].lot];
  return lot_;
}

void NcqsLots::AddRow(std::vector<db::Value>& row) {
  db::Value& total = row.at(std::size(kSumKeys));
  if (!total.IsNull()) total = db::Value(area_(total.AsDouble()));
  sums_.Add(row);
}

void NcqsLots::WriteSums(db::Connection& connection, const std::string& target) const {
  // The classes are converted once summed; the embedded engine's rows in
  // the order of their keys, as its grouping gave them.
  const std::size_t first_class = std::size(kSumKeys) + 1;
  sums_.WriteTo(connection, target, sums_.Columns(), connection.Kind() == db::DbKind::kEmbedded, {},
                [&](std::vector<db::Value>& row) {
                  for (std::size_t i = first_class; i < row.size(); ++i) {
                    if (!row[i].IsNull()) row[i] = db::Value(area_(row[i].AsDouble()));
                  }
                });
}

std::unique_ptr<NcqsLots> CStatContext::NcqsParcelLots(short lot_layer) {
  if (m_aiParcel <= 0 || !gis::IsLayerValid(m_aiParcel) || !gis::IsLayerValid(lot_layer)) {
    LogFailure(kLotTitle, "没有地类图斑图层或宗地图层");
    return nullptr;
  }
  LayerChecks lots(*this, lot_layer);
  // The fill logs what it refuses of the parcels.
  LayerChecks parcels(*this, m_aiParcel, false);
  const auto& keys = NcqsLots::kParcelKeys;
  if (!lots.HasFields({kLotNumber}, "赋宗地号失败") ||
      !parcels.HasFields({keys[0], keys[1], keys[2]}, "赋宗地号失败")) {
    return nullptr;
  }
  // The lots are searched once per parcel: held in memory, until the
  // search has ended.
  std::optional<gis::RegionFinder> finder;
  // The parcels are read and searched for on threads of their own while
  // the lots are read here (each layer has a source of its own).
  ParcelLotSearch search(m_aiParcel, m_strPrefix2);
  std::vector<std::string> classes;
  for (const std::string& code : m_arrClassCodes) classes.push_back("BM" + code);
  auto found_lots = std::make_unique<NcqsLots>(
      LotNumbers(lots, finder), std::move(classes),
      AreaFactor(host::LindoReadINI(kAreaUnitSection, kAreaUnitKey, kDefaultAreaUnit)));
  const std::vector<std::string>& named = found_lots->Numbers();
  search.SearchIn(*finder);
  long outside = 0;
  std::string first_outside;
  for (std::size_t chunk = 0; chunk < search.Chunks(); ++chunk) {
    host::LindoDlgSetProgress("正在给图斑赋宗地号", static_cast<long>(chunk) + 1,
                              static_cast<long>(search.Chunks()) + 1);
    if (host::JobCancelled()) EndIfStopped(kLotTitle);
    for (ParcelInLots& parcel : search.Searched(chunk)) {
      const std::vector<long>& holders = parcel.holders;
      if (holders.size() > 1) {
        // Lots that overlap there: which one the parcel belongs to is unknown.
        LogFailure(parcels.RecordName(parcel.record),
                   "内点落在宗地图层 " + lots.Name() + " 的 " + std::to_string(holders.size()) +
                       " 个宗地内 (" + LotsNamed(holders, named) + "), 未赋宗地号");
        continue;
      }
      if (holders.empty() || named.at(holders.front()).empty()) {
        // In no lot, or in a lot left out (logged with the lots).
        if (outside++ == 0) first_outside = parcels.RecordName(parcel.record);
        continue;
      }
      found_lots->Put(parcel.record, std::move(parcel.keys),
                      static_cast<std::uint32_t>(holders.front()));
    }
  }
  // Parcels in no lot once passed silently: they are counted here.
  if (outside > 0) {
    LogNotice(kLotTitle, std::to_string(outside) + " 个图斑不在宗地图层 " + lots.Name() +
                             " 的任何计入的宗地内, 未赋宗地号 (第一个: " + first_outside + ")");
  }
  return found_lots;
}

short CStatContext::BuildNczdAreaTable(const NcqsLots& lots) {
  const std::string target = m_names.Plain("NCZD_AREA");
  std::string create = "Create Table " + target + "(";
  for (const char* text : NcqsLots::kSumKeys) create += StatColumnDefinition(text) + ",";
  create += StatColumnDefinition(NcqsLots::kTotal) + ",";
  for (const std::string& column : lots.Classes()) create += StatColumnDefinition(column) + ",";
  create.back() = ')';
  try {
    // Shared by the runs of every county: a rerun replaces its county's
    // sums and leaves the others'. The earlier sums go only with the new
    // ones: a write that fails (a table of an earlier code table that
    // lacks a class column) keeps them.
    CreateSharedTable(m_pConn, target, TypeWords(create));
    db::Transaction replace(m_pConn);
    // A table that holds this county's sums alone (as a server's, named by
    // year and county, mostly does) is emptied whole, much faster than its
    // rows are deleted one by one.
    const bool county_alone = m_pConn
                                  .Scalar("select count(*) from " + target +
                                          " where 座落单位代码 is null or 座落单位代码 " +
                                          "not like " + CountyCodesLike())
                                  .AsInteger() == 0;
    m_pConn.Execute(county_alone ? Dialect().EmptyTable(target)
                                 : "delete from " + target + " where 座落单位代码 like " +
                                       CountyCodesLike());
    lots.WriteSums(m_pConn, target);
    replace.Commit();
  } catch (const db::DbError& error) {
    LogFailure(kAreaTitle, target + " 汇总失败", error);
    return 0;
  }
  return 1;
}

}  // namespace landstat
