// The house information table CZFWXXTJ: every house of the house layer with
// its lot, number, name, structure, storeys and three areas in the table's
// unit, numbered, and a closing row "合计" of the sums. One table per
// wanted unit.

#include "lots/town_house_table.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "lots/town_summary_family.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

constexpr const char* kHouseBase = "CZFWXXTJ";
constexpr const char* kRowFailed = "写入房屋信息失败";

std::string HouseColumns(const CZdStatContext&) {
  return "序号 varchar(20), 隶属宗地 varchar(20), 房屋编号 varchar(60), 房屋名称 varchar(60), "
         "房屋结构 varchar(60), 房屋层数 varchar(20), 建筑面积 double default 0.00, "
         "占地面积 double default 0.00, 占用面积 double default 0.00";
}

// Only the create of the town summary pattern: the house table is filled
// from the house layer, not from a unit's lot tables.
const TownSummary kHouseTable = {kHouseBase, "创建城镇房屋信息统计表失败", kHouseBase,
                                 &HouseColumns, nullptr};

// The table's columns in the order a row is written, and the house layer's
// fields they are read from (the structure through its name).
constexpr int kTexts = 5;
constexpr int kAreas = 3;
constexpr const char* kRowColumns[] = {"序号",     "隶属宗地", "房屋编号", "房屋名称", "房屋结构",
                                       "房屋层数", "建筑面积", "占地面积", "占用面积"};
constexpr const char* kTextFields[kTexts] = {"隶属宗地", "房屋编号", "房屋名称", "房屋结构",
                                             "房屋层数"};
constexpr int kLotText = 0;
constexpr int kStructureText = 3;

// The field of the occupied area: "area" in sources of data-source type 1,
// "面积" in every other.
std::string OccupiedAreaField(gis::LayerHandle layer) {
  return gis::DataSourceKind(layer) == 1 ? "area" : "面积";
}

// A table a walk over the house layer fills: its unit's factor and
// decimals, and what the walk wrote into it.
struct HouseTarget {
  std::string table;
  double factor = 1;
  short decimals = 2;
  std::unique_ptr<db::RowWriter> writer;
  bool reports = false;  // the walk logs the houses it leaves out
  long number = 0;       // the rows written
  double sums[kAreas] = {0, 0, 0};
  short result = 0;
};

// A house read from the layer: its texts as the rows hold them and its
// areas as read.
struct House {
  std::vector<db::Value> texts;
  double areas[kAreas];
};

// One walk over the house layer for the tables of every unit: reads each
// readable house, then writes each table in turn (a server stores the rows
// of one table in large batches, not one row at a time as rows of several
// tables in turn would go), its areas converted and rounded, and keeps the
// sums of what was written. A house whose floor area or footprint cannot be
// counted is logged (by a walk that fills a table that reports: the source
// unit's) and left out of every table.
class HouseWalk {
 public:
  HouseWalk(CZdStatContext& context, std::vector<HouseTarget>& targets)
      : context_(context), targets_(targets) {}

  // Writes the house rows and the closing row of each table; its result 1
  // when the house rows were written (a failed closing row is logged), 0
  // after a logged failure that left the table as it was.
  void Run() {
    std::vector<std::string> columns(std::begin(kRowColumns), std::end(kRowColumns));
    for (HouseTarget& target : targets_) {
      try {
        target.writer = std::make_unique<db::RowWriter>(context_.m_pConn, target.table, columns);
      } catch (const db::DbError& error) {
        context_.LogFailure(target.table, "连接房屋信息汇总表失败", error);
      }
      if (target.writer && target.reports) reports_ = true;
    }
    if (std::none_of(targets_.begin(), targets_.end(),
                     [](const HouseTarget& target) { return target.writer != nullptr; })) {
      return;
    }
    try {
      // Unclosed writers take nothing into their tables.
      if (!WriteHouses(context_.m_aiHouse)) return;
      for (HouseTarget& target : targets_) {
        if (!target.writer) continue;
        try {
          WriteTotal(target);
          target.writer->Close();
          target.result = 1;
        } catch (const db::DbError& error) {
          context_.LogFailure(target.table, kRowFailed, error);
        }
      }
    } catch (const db::DbError& error) {
      for (const HouseTarget& target : targets_) {
        if (target.writer) context_.LogFailure(target.table, kRowFailed, error);
      }
    } catch (const gis::GisError& error) {
      for (const HouseTarget& target : targets_) {
        if (target.writer) {
          context_.LogFailure("图层 " + layer_name_, kRowFailed + (" " + target.table), error);
        }
      }
    }
    // The rows written so far go with their writers, rolled back.
  }

 private:
  // False (and one failure naming the layer and the field, from the walk
  // that reports) when the layer lacks a field the rows need.
  bool WriteHouses(gis::LayerHandle layer) {
    layer_name_ = gis::LayerName(layer);
    checks_.emplace(context_, layer, reports_);
    if (!checks_->HasFields({"隶属宗地", "建筑面积", "占地面积"}, "房屋信息未汇总")) return false;
    FindFields(layer);
    std::vector<House> houses;
    checks_->Walk(
        gis::EntityKind::kRegion, [&](const gis::Record& record) { ReadHouse(record, houses); },
        gis::RecordParts::kFields);
    std::vector<db::Value> row(std::size(kRowColumns));
    for (HouseTarget& target : targets_) {
      if (!target.writer) continue;
      for (const House& house : houses) {
        std::copy(house.texts.begin(), house.texts.end(), row.begin() + 1);
        WriteRow(target, house.texts[kLotText].AsText(), house.areas, row);
      }
    }
    return true;
  }

  // The place of each field read in the layer's structure; -1 (read as
  // empty) for a field the layer lacks. A missing occupied-area field is
  // noted once: its areas count 0.
  void FindFields(gis::LayerHandle layer) {
    std::unordered_map<std::string, int> place;
    const std::vector<gis::FieldDef> fields = gis::LayerFields(layer);
    for (std::size_t i = 0; i < fields.size(); ++i) place.emplace(fields[i].name, i);
    const auto place_of = [&](const std::string& name) {
      const auto found = place.find(name);
      return found == place.end() ? -1 : found->second;
    };
    for (int i = 0; i < kTexts; ++i) text_fields_[i] = place_of(kTextFields[i]);
    area_names_ = {"建筑面积", "占地面积", OccupiedAreaField(layer)};
    for (int i = 0; i < kAreas; ++i) {
      area_fields_[i] = place_of(area_names_[i]);
      if (area_fields_[i] < 0 && i == kAreas - 1 && reports_) {
        context_.LogNotice("图层 " + layer_name_ + " 缺少字段 " + area_names_[i],
                           "占用面积按 0 计入");
      }
    }
    checks_->WatchNumbersOf(area_names_);
  }

  void ReadHouse(const gis::Record& record, std::vector<House>& houses) {
    std::string texts[kTexts];
    for (int i = 0; i < kTexts; ++i) texts[i] = record.Text(text_fields_[i]);
    if (!OfWrittenLot(texts[kLotText])) return;
    House house;
    bool counted = true;
    for (int i = 0; i < kAreas; ++i) {
      const std::optional<double> area =
          checks_->Area(record, area_names_[i], area_fields_[i], i != kAreas - 1);
      counted = counted && area;
      house.areas[i] = area.value_or(0);
    }
    if (!counted) return;
    for (int i = 0; i < kTexts; ++i) {
      house.texts.emplace_back(i == kStructureText ? context_.GetHouseStructureName(texts[i])
                                                   : texts[i]);
    }
    houses.push_back(std::move(house));
  }

  // The house's row in one table: its areas in the table's unit, the
  // field's number times the factor, rounded.
  void WriteRow(HouseTarget& target, const std::string& lot, const double (&areas)[kAreas],
                std::vector<db::Value>& row) {
    double converted[kAreas];
    for (int i = 0; i < kAreas; ++i) {
      converted[i] = areas[i] * target.factor;
      xcKeepPoint(&converted[i], target.decimals);
      row[kTexts + 1 + i] = converted[i];
    }
    row[0] = std::to_string(target.number + 1);
    try {
      target.writer->Add(row);
    } catch (const db::DbError& error) {
      // The database refused the row: it is not stored, takes no number and
      // stays out of the sums.
      context_.LogFailure(lot, kRowFailed, error);
      return;
    }
    ++target.number;
    for (int i = 0; i < kAreas; ++i) target.sums[i] += converted[i];
  }

  // Whether the house's lot was written into the base table (always, when
  // the lots were not walked). A house of another lot was logged by the
  // base table's walk; here it is left out silently.
  bool OfWrittenLot(std::string lot) const {
    if (!context_.m_writtenLots) return true;
    std::erase(lot, ' ');
    return context_.m_writtenLots->count(lot) > 0;
  }

  // The closing row: "合计" and the sums of the rounded house areas (rounded
  // once more only to shed the binary noise of the additions).
  void WriteTotal(HouseTarget& target) {
    std::vector<db::Value> row(std::size(kRowColumns));
    row[0] = "合计";
    for (int i = 0; i < kAreas; ++i) {
      double sum = target.sums[i];
      xcKeepPoint(&sum, target.decimals);
      row[kTexts + 1 + i] = sum;
    }
    try {
      target.writer->Add(row);
    } catch (const db::DbError& error) {
      context_.LogFailure("合计信息", kRowFailed, error);
    }
  }

  CZdStatContext& context_;
  std::vector<HouseTarget>& targets_;
  std::string layer_name_;
  int text_fields_[kTexts] = {-1, -1, -1, -1, -1};
  int area_fields_[kAreas] = {-1, -1, -1};
  std::vector<std::string> area_names_;
  bool reports_ = false;
  std::optional<LayerChecks> checks_;  // made for the walk of a valid layer
};

// The house layer's tables when the layer is stored as tables of the
// statistics database and the run names its tables with year and county;
// nothing otherwise (a GeoPackage or shapefile layer never is).
std::optional<TownLayerTables> StoredHouseTables(CZdStatContext& context) {
  if (context.m_nDbMode == 0 || !gis::IsLayerValid(context.m_aiHouse)) return std::nullopt;
  const std::string name = gis::LayerName(context.m_aiHouse);
  TownLayerTables tables;
  tables.house_attributes = HouseAttributeTable(name);
  tables.house_entities = HouseRegionTable(name);
  if (!context.IsTableExist(tables.house_attributes) ||
      !context.IsTableExist(tables.house_entities)) {
    return std::nullopt;
  }
  return tables;
}

// A unit pair without a factor would write every area as 0: logged with
// the table, nothing written; 0.
short LogNoFactor(CZdStatContext& context, const std::string& table, short from, short to) {
  context.LogFailure(table, "面积单位 " + std::to_string(from) + " 不能换算为 " +
                                std::to_string(to) + ", " + kRowFailed);
  return 0;
}

// The name less its last three characters (not bytes) when it holds a dot.
std::string LayerTableStem(std::string name) {
  if (name.find('.') == std::string::npos) return name;
  for (int i = 0; i < 3 && !name.empty(); ++i) {
    while (name.size() > 1 && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) {
      name.pop_back();
    }
    name.pop_back();
  }
  return name;
}

}  // namespace

std::optional<double> HouseAreaFactor(short from, short to) {
  if (from == to) return 1.0;
  if (*FactorText(from, to) == '\0') return std::nullopt;
  return UnitFactor(from, to);
}

std::string HouseAttributeTable(const std::string& layer_name) {
  return LayerTableStem(layer_name) + "RRA";
}

std::string HouseRegionTable(const std::string& layer_name) {
  return LayerTableStem(layer_name) + "REG";
}

std::vector<std::string> HouseTableStatements(const std::string& table,
                                              const std::string& attributes,
                                              const std::string& regions, short source_unit,
                                              short unit, short decimals) {
  if (!HouseAreaFactor(source_unit, unit)) return {};
  // The factor as exact SQL arithmetic ("*3/2000"), none for the same unit.
  const std::string factor = source_unit == unit ? "" : FactorText(source_unit, unit);
  const std::string d = std::to_string(decimals);
  const auto converted = [&](const char* column) {
    return "round(" + std::string(column) + factor + "," + d + ")";
  };
  return {
      "insert into " + table +
          "(隶属宗地,房屋编号,房屋名称,房屋结构,房屋层数,建筑面积,占地面积,占用面积)\r\n"
          "\t\t\tselect 隶属宗地,房屋编号,房屋名称,房屋结构,房屋层数," +
          converted("建筑面积") + "," + converted("占地面积") + "," + converted("area") +
          "\r\n\t\t\tfrom " + attributes + " a ," + regions + " b where a.ID0=b.ID0 and b.exist=1 ",
      "insert into " + table +
          "(建筑面积,占地面积,占用面积) select sum(建筑面积),sum(占地面积),sum(占用面积) from " +
          table + " "};
}

short CZdStatContext::CreateFwxxtjTables() {
  return CreateTownTables(kHouseTable);
}

short CZdStatContext::CreateFwxxtjTable(const std::string& table) {
  return CreateTownTable(kHouseTable, table);
}

short CZdStatContext::FillFwxxtjTable(const std::string& table, short source_unit, short unit,
                                      short decimals) {
  // Without a house layer there is nothing to list: the table stays empty,
  // without a total row. A readable layer without houses gets its total.
  if (!gis::IsLayerValid(m_aiHouse)) return 0;
  const std::optional<double> factor = HouseAreaFactor(source_unit, unit);
  if (!factor) return LogNoFactor(*this, table, source_unit, unit);
  if (StoredHouseTables(*this)) {
    return FillFwxxtjFromLayerTables(table, source_unit, unit, decimals);
  }
  // The table in the source unit, filled in every run, reports the houses
  // left out.
  std::vector<HouseTarget> targets(1);
  targets[0].table = table;
  targets[0].factor = *factor;
  targets[0].decimals = decimals;
  targets[0].reports = source_unit == unit;
  HouseWalk(*this, targets).Run();
  return targets[0].result;
}

short CZdStatContext::FillFwxxtjFromLayerTables(const std::string& table, short source_unit,
                                                short unit, short decimals) {
  if (!gis::IsLayerValid(m_aiHouse)) return 0;
  const std::string name = gis::LayerName(m_aiHouse);
  const std::vector<std::string> statements = HouseTableStatements(
      table, HouseAttributeTable(name), HouseRegionTable(name), source_unit, unit, decimals);
  if (statements.empty()) return LogNoFactor(*this, table, source_unit, unit);
  // Both statements or neither: a failed total leaves no house rows behind.
  db::Transaction transaction(m_pConn);
  for (const std::string& statement : statements) {
    try {
      m_pConn.Execute(statement);
    } catch (const db::DbError&) {
      host::yDebugStr(statement);
      LogStatementFailure(table, kRowFailed, statement);
      return 0;
    }
  }
  transaction.Commit();
  return 1;
}

short CZdStatContext::SumFwxxtj() {
  if (!StoredHouseTables(*this)) {
    host::yDebugStr("房屋层未存为统计库中的表, 房屋信息汇总表逐条读取房屋层");
  }
  const short source = m_nUnitSrc;
  const auto is_other_unit = [source](short unit) {
    return unit != source && (unit == kHectare || unit == kMu || unit == kSquareMetre);
  };
  // Every table is filled; the sum failed when any fill did. Without a
  // house layer the tables stay empty, which is no failure.
  std::vector<std::pair<short, short>> units;  // unit, decimals
  if (is_other_unit(m_nUnit1)) units.emplace_back(m_nUnit1, m_nDec1);
  if (is_other_unit(m_nUnit2)) units.emplace_back(m_nUnit2, m_nDec2);
  units.emplace_back(source, m_nDecSrc);
  short result = 1;
  if (!gis::IsLayerValid(m_aiHouse) || StoredHouseTables(*this)) {
    for (const auto& [unit, decimals] : units) {
      result = std::min(
          result, FillFwxxtjTable(TownSummaryTable(unit, kHouseBase), source, unit, decimals));
    }
    return gis::IsLayerValid(m_aiHouse) ? result : 1;
  }
  // One walk over the layer for every unit's table.
  std::vector<HouseTarget> targets;
  for (const auto& [unit, decimals] : units) {
    const std::string table = TownSummaryTable(unit, kHouseBase);
    const std::optional<double> factor = HouseAreaFactor(source, unit);
    if (!factor) {
      result = std::min(result, LogNoFactor(*this, table, source, unit));
      continue;
    }
    HouseTarget& target = targets.emplace_back();
    target.table = table;
    target.factor = *factor;
    target.decimals = decimals;
    target.reports = unit == source;
  }
  HouseWalk(*this, targets).Run();
  for (const HouseTarget& target : targets) result = std::min(result, target.result);
  return result;
}

}  // namespace landstat
