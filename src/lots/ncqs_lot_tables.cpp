// The rural ownership-lot steps after the base table: each parcel's rows
// of statdata_ncqs get the number of the lot that holds the parcel, and
// the per-lot sums go into NCZD_AREA.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/host/ini_file.h"
#include "platform/host/progress.h"

namespace landstat {
namespace {

constexpr const char* kLotTitle = "赋宗地号";
constexpr const char* kAreaTitle = "汇总宗地面积";
constexpr const char* kLotNumber = "地籍号";
// The keys that find a parcel's rows (its own, its deduction's and those
// of the features booked to it with its ownership nature).
constexpr const char* kParcelKeys[] = {"图斑编号", "座落单位代码", "权属性质"};

// The lot number of every lot of the layer, by record. A lot without a
// number is logged and left out, and so is every lot of a number that more
// than one lot carries (which of them a parcel's rows belong under is
// unknown): their parcels keep no lot number.
std::unordered_map<long, std::string> LotNumbers(LayerChecks& lots) {
  std::unordered_map<std::string, int> times;
  lots.Walk(gis::EntityKind::kRegion, [&](const gis::Record& lot) {
    const std::string number = lot.Text(kLotNumber);
    if (!number.empty()) ++times[number];
  });
  std::unordered_map<long, std::string> numbers;
  lots.Walk(gis::EntityKind::kRegion, [&](const gis::Record& lot) {
    std::optional<std::string> number = lots.Code(lot, kLotNumber);
    if (!number) return;
    if (const int carried = times[*number]; carried > 1) {
      lots.Fail(
          lot, kLotNumber,
          "地籍号 " + *number + " 在图层中出现 " + std::to_string(carried) + " 次, 宗地未计入");
      return;
    }
    numbers.emplace(lot.Number(), std::move(*number));
  });
  return numbers;
}

// "记录 3 地籍号 A, 记录 4 地籍号 B": the lots that hold one point.
std::string LotsNamed(const std::vector<long>& records,
                      const std::unordered_map<long, std::string>& numbers) {
  std::string named;
  for (const long record : records) {
    const auto number = numbers.find(record);
    named += (named.empty() ? "记录 " : ", 记录 ") + std::to_string(record) +
             (number == numbers.end() ? " (未计入)" : " 地籍号 " + number->second);
  }
  return named;
}

// The lot number of each parcel's keys, the later parcel's where two
// parcels share them.
class ParcelLots {
 public:
  void Set(const gis::Record& parcel, const std::string& lot) {
    std::string key;
    for (const char* field : kParcelKeys) key += parcel.Text(field) + '\x1f';
    lots_[std::move(key)] = lot;
  }

  // Writes them onto the base table's rows: through a scratch table of
  // keys and lot numbers, joined to the base table over an index on its
  // keys in one statement (one statement per parcel would cost a round
  // trip each on a server). The scratch table is gone afterwards.
  void Write(db::Connection& conn, const std::string& table) const {
    const std::string scratch = table + "_lots";
    std::string columns, join;
    for (const char* key : kParcelKeys) {
      columns += std::string(columns.empty() ? "" : ",") + key;
      join += std::string(join.empty() ? "" : " AND ") + table + "." + key + " = " + scratch + "." +
              key;
    }
    conn.Execute("create index " + table + "_parcel_keys on " + table + "(" + columns + ")");
    FillScratch(conn, scratch);
    conn.Execute("UPDATE " + table + ", " + scratch + " SET " + table + "." + kLotNumber + " = " +
                 scratch + "." + kLotNumber + " WHERE " + join);
    conn.Execute("drop table " + scratch);
  }

 private:
  // The scratch table made anew with one row per parcel keys.
  void FillScratch(db::Connection& conn, const std::string& scratch) const {
    std::string create;
    for (const char* key : kParcelKeys) create += std::string(key) + " varchar(60),";
    if (conn.TableExists(scratch)) conn.Execute("drop table " + scratch);
    conn.Execute("create table " + scratch + " (" + create + kLotNumber + " varchar(60))");
    db::RowWriter rows(conn, scratch, {kParcelKeys[0], kParcelKeys[1], kParcelKeys[2], kLotNumber});
    std::vector<db::Value> row(4);
    for (const auto& [key, lot] : lots_) {
      std::size_t start = 0;
      for (int i = 0; i < 3; ++i) {
        const std::size_t end = key.find('\x1f', start);
        row[i] = key.substr(start, end - start);
        start = end + 1;
      }
      row[3] = lot;
      rows.Add(row);
    }
    rows.Close();
  }

  std::unordered_map<std::string, std::string> lots_;
};

// The unit of the per-lot sums: the host's setting, hectares when there is
// none.
constexpr const char* kAreaUnitSection = "ZD_SET";
constexpr const char* kAreaUnitKey = "宗地面积单位";
constexpr const char* kDefaultAreaUnit = "公顷";

// The factor that turns square metres into the unit the setting names: mu
// when it holds "亩", hectares when it holds "公顷" (and not "亩"), none
// (square metres) otherwise, an empty setting included.
std::string AreaFactor(const std::string& setting) {
  if (setting.find("亩") != std::string::npos) return "*3/2000";
  if (setting.find("公顷") != std::string::npos) return "/10000";
  return "";
}

}  // namespace

short CStatContext::AssignParcelLotNo(short lot_layer) {
  if (m_aiParcel <= 0 || !gis::IsLayerValid(m_aiParcel) || !gis::IsLayerValid(lot_layer)) {
    LogFailure(kLotTitle, "没有地类图斑图层或宗地图层");
    return 0;
  }
  LayerChecks lots(*this, lot_layer);
  // The fill logged what it refused of the parcels.
  LayerChecks parcels(*this, m_aiParcel, false);
  if (!lots.HasFields({kLotNumber}, "赋宗地号失败") ||
      !parcels.HasFields({kParcelKeys[0], kParcelKeys[1], kParcelKeys[2]}, "赋宗地号失败")) {
    return 0;
  }
  const std::unordered_map<long, std::string> numbers = LotNumbers(lots);
  // The lots are searched once per parcel: held in memory.
  const gis::RegionFinder finder(lot_layer);
  const std::string table = m_names.Plain("statdata_ncqs");
  long outside = 0;
  std::string first_outside;
  ParcelLots found_lots;
  const long count = gis::RecordCount(m_aiParcel, gis::EntityKind::kRegion);
  gis::Record parcel;
  for (long number = 1; number < count; ++number) {
    host::LindoDlgSetProgress("正在给图斑赋宗地号", number, count);
    if (!gis::ReadRecord(m_aiParcel, gis::EntityKind::kRegion, number, parcel)) continue;
    // A parcel of another county has no rows (the fill logged it).
    if (!parcel.Text(kParcelKeys[1]).starts_with(m_strPrefix2)) continue;
    const std::optional<gis::Point> inside = parcel.PointOnSurface();
    const std::vector<long> holders =
        inside ? finder.RegionsContaining(*inside) : std::vector<long>{};
    if (holders.size() > 1) {
      // Lots that overlap there: which one the parcel belongs to is unknown.
      LogFailure(parcels.RecordName(parcel), "内点落在宗地图层 " + lots.Name() + " 的 " +
                                                 std::to_string(holders.size()) + " 个宗地内 (" +
                                                 LotsNamed(holders, numbers) + "), 未赋宗地号");
      continue;
    }
    const auto found = numbers.find(holders.empty() ? 0 : holders.front());
    if (found == numbers.end()) {
      // In no lot, or in a lot left out (logged with the lots).
      if (outside++ == 0) first_outside = parcels.RecordName(parcel);
      continue;
    }
    found_lots.Set(parcel, found->second);
  }
  try {
    // One unit: a failure leaves no lot number written.
    db::Transaction write(m_pConn);
    found_lots.Write(m_pConn, table);
    write.Commit();
  } catch (const db::DbError& error) {
    LogFailure(kLotTitle, table + " 写入宗地号失败", error);
    return 0;
  }
  // Parcels in no lot once passed silently: they are counted here.
  if (outside > 0) {
    LogNotice(kLotTitle, std::to_string(outside) + " 个图斑不在宗地图层 " + lots.Name() +
                             " 的任何计入的宗地内, 未赋宗地号 (第一个: " + first_outside + ")");
  }
  return 1;
}

short CStatContext::BuildNczdAreaTable() {
  const std::string target = m_names.Plain("NCZD_AREA");
  const std::string source = m_names.Plain("statdata_ncqs");
  const std::string factor =
      AreaFactor(host::LindoReadINI(kAreaUnitSection, kAreaUnitKey, kDefaultAreaUnit));
  std::string create = "Create Table " + target + "(";
  std::string columns = "(地籍号,座落单位代码,权属单位代码,权属性质,土地总面积";
  std::string sums =
      " SELECT 地籍号,座落单位代码,权属单位代码,权属性质,SUM(土地总面积" + factor + ")";
  for (const char* text : {"地籍号", "座落单位代码", "权属单位代码", "权属性质", "土地总面积"}) {
    create += StatColumnDefinition(text) + ",";
  }
  for (const std::string& code : m_arrClassCodes) {
    create += StatColumnDefinition("BM" + code) + ",";
    columns += ",BM" + code;
    sums += ",SUM(BM" + code + ")" + factor;
  }
  create.back() = ')';
  const std::string insert = "insert into " + target + columns + ")" + sums + " FROM " + source +
                             " WHERE 地籍号 is not null GROUP BY 地籍号,座落单位代码,"
                             "权属单位代码,权属性质";
  try {
    // Shared by the runs of every county: a rerun replaces its county's
    // sums and leaves the others'. The earlier sums go only with the new
    // ones: a statement that fails (a table of an earlier code table that
    // lacks a class column) keeps them.
    CreateSharedTable(m_pConn, target, TypeWords(create));
    db::Transaction replace(m_pConn);
    m_pConn.Execute("delete from " + target + " where 座落单位代码 like " + CountyCodesLike());
    m_pConn.Execute(insert);
    replace.Commit();
  } catch (const db::DbError& error) {
    LogFailure(kAreaTitle, target + " 汇总失败", error);
    return 0;
  }
  return 1;
}

}  // namespace landstat
