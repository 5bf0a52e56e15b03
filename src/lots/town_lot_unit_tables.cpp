// The per-unit copies of the town-lot base table: one table per configured
// area unit holding one row per lot (its lot and house records summed), the
// copies of units 2 and 3 converted from unit 1 and rounded, then adjusted
// so that their figures add up.

#include <fmt/format.h>

#include <map>
#include <memory>
#include <optional>

#include "engine/run_schema.h"
#include "lots/zd_stat_context.h"
#include "platform/db/beside_tables.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The first columns of the field list are texts, the rest areas and ratios.
constexpr std::size_t kTextColumns = 15;

bool IsClassColumn(const std::string& field) {
  return field.compare(0, 2, "BM") == 0;
}

bool IsConvertedColumn(const std::string& field) {
  return IsClassColumn(field) || field == "占地面积" || field == "宗地总面积" ||
         field == "建筑面积";
}

// The factor that converts a figure from unit `source` to unit `target`, as
// SQL writes it after the figure ("/10000": steps taken from left to right);
// null when the two units are the same or either is none.
const char* ConversionFactor(short source, short target) {
  static const char* const kFactors[3][3] = {
      {nullptr, "*15", "*10000"}, {"/15", nullptr, "*2000/3"}, {"/10000", "*3/2000", nullptr}};
  if (source < kHectare || source > kSquareMetre || target < kHectare || target > kSquareMetre) {
    return nullptr;
  }
  return kFactors[source][target];
}

}  // namespace

short CZdStatContext::CreateUnitStatTables() {
  for (const UnitTable& unit : UnitTables()) CreateUnitStatTable(unit.table);
  return 1;
}

short CZdStatContext::CreateUnitStatTable(const std::string& table) {
  if (IsTableExist(table) == 1) DropTable(table);
  const std::string statement = LotTableStatement(table, m_arrStatFields, kTextColumns);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    LogFailure("建立城镇基础汇总表", "statdata_czzdex" + statement, error);
    return 0;
  }
}

namespace {

// The grouping of the copy statement: the lots' texts, and the areas
// summed. The other columns of a copy keep their defaults.
constexpr const char* kCopyKeys[] = {"地籍号",   "省名称",   "省级代码",   "市名称",   "市级代码",
                                     "县名称",   "县级代码", "街道名称",   "街道代码", "街坊名称",
                                     "街坊代码", "土地座落", "使用权类型", "权属性质", "土地级别"};

// The copy statement's rows on the embedded engine, which groups by sorting
// every row of the base table: grouped in one pass in memory instead, the
// same groups with the same sums (each added in the order of the rows, as
// the statement adds them), to be written in the order of their keys as the
// statement writes them. The grouping fed as the base table was written,
// when there is one, else one pass over the table.
std::unique_ptr<db::GroupedSums> GroupLots(CZdStatContext& context, const std::string& source) {
  if (context.m_writtenLotGroups) return std::move(context.m_writtenLotGroups);
  return std::make_unique<db::GroupedSums>(context.m_pConn, context.UnitCopyGrouping(source));
}

// A unit's copy as it is written: the groupings its rows feed, kept for the
// families when the copy is the lot table they read, and what its
// adjustment left to log.
struct UnitCopy {
  CZdStatContext::UnitTable unit;
  TownSources sources;
  std::vector<std::unique_ptr<db::GroupedSums>> levels;
  std::map<std::string, CZdStatContext::Groupings> groupings;
  std::unique_ptr<IntensityLevels> intensity;
  std::optional<CZdStatContext::AdjustedCopyNotes> notes;
};

UnitCopy StartUnitCopy(const CZdStatContext& context, const CZdStatContext::UnitTable& unit,
                       const std::vector<std::string>& names) {
  UnitCopy copy{unit, context.UnitSources(unit.unit), {}, {}, {}, std::nullopt};
  copy.levels = context.FeedClassLevels(copy.sources, names);
  copy.groupings = context.FeedLotGroupings(copy.sources, names);
  copy.intensity = std::make_unique<IntensityLevels>(names);
  return copy;
}

// Writes `copy` into `table` on `connection` from the grouped lots: the
// base table's unit as summed, every other unit converted and rounded
// figure by figure as its conversion statement ("round(x/10000,4)", 0 kept)
// converts the first copy's figures, and adjusted on its rows before they
// are written, without reading any copy back. Changes nothing of the
// context, so that it may run on a thread and connection of its own.
void WriteUnitCopy(const CZdStatContext& context, db::Connection& connection,
                   const std::string& table, const db::GroupedSums& sums,
                   const std::optional<db::Value>& county_total, UnitCopy& copy) {
  // The rows are stored on a thread of their own; the conversion asks the
  // engine between the batches it stores.
  std::mutex connection_lock;
  db::GroupedSums::Conversion convert;
  if (const char* factor = ConversionFactor(context.m_nUnitSrc, copy.unit.unit)) {
    // Beyond the bound of exact rounding the engine is asked.
    convert = units::EngineRoundedConversion(connection, connection_lock, factor,
                                             UnitFactor(context.m_nUnitSrc, copy.unit.unit),
                                             copy.unit.decimals);
  }
  // The class sums by level of the copy, gathered from its rows as they
  // are written, in their order, as reading the copy would give them.
  const auto written = [&copy](const std::vector<db::Value>& row) {
    for (const std::unique_ptr<db::GroupedSums>& level : copy.levels) level->Add(row);
    for (const auto& [family, fed] : copy.groupings) {
      for (const std::unique_ptr<db::GroupedSums>& grouping : fed) grouping->Add(row);
    }
    copy.intensity->Add(row);
  };
  if (copy.unit.table == context.m_strStatTblSrc) {
    sums.WriteApart(connection, connection_lock, table, sums.Columns(), true, convert, {}, written);
    return;
  }
  CZdStatContext::UnitTable target = copy.unit;
  target.table = table;
  copy.notes = context.WriteAdjustedCopy(connection, connection_lock, sums, target, convert,
                                         *county_total, written);
  copy.notes->table = copy.unit.table;
}

// What a copy written leaves to the run: its notes logged, its groupings
// kept.
void KeepUnitCopy(CZdStatContext& context, UnitCopy& copy) {
  if (copy.notes) context.LogAdjustedCopy(*copy.notes);
  if (copy.sources.lots != copy.unit.table) return;
  context.KeepClassLevels(copy.sources, std::move(copy.levels));
  context.KeepLotGroupings(copy.sources, std::move(copy.groupings));
  context.KeepIntensityLevels(copy.sources, std::move(copy.intensity));
}

// The copies written beside the run on a server, each on a connection and
// thread of its own, while the run's connection writes another: a server
// stores one connection's rows one table after another. Each is moved into
// the run's schema, replacing the empty table made for it, once it is
// whole; one that failed is logged and its table left empty.
class CopiesBeside {
 public:
  explicit CopiesBeside(CZdStatContext& context) : context_(context) {}

  // Queues `copy` on a lane of its own; false where tables cannot be made
  // beside the run (the run's connection writes it then).
  bool Add(const db::GroupedSums& sums, const db::Value& county_total, UnitCopy& copy) {
    const db::BesideSchema* schema = context_.BesideSchema();
    if (!schema) return false;
    try {
      lanes_.push_back(std::make_unique<db::BesideLane>(*schema));
    } catch (const db::DbError& error) {
      context_.LogNotice("数据库", std::string("无法另开连接同时写扩展基础数据, 在本连接上写 (") +
                                       error.what() + ")");
      return false;
    }
    const CZdStatContext& context = context_;
    lanes_.back()->Add(
        copy.unit.table,
        [&context](const std::string& table, const std::string& options) {
          return context.LotTableStatement(table, context.m_arrStatFields, kTextColumns, options);
        },
        [&context, &sums, county_total, &copy](db::Connection& connection,
                                               const std::string& table) {
          WriteUnitCopy(context, connection, table, sums, county_total, copy);
        });
    copies_.push_back(&copy);
    return true;
  }

  // Waits for every copy queued, then moves in those written whole.
  void Finish() {
    for (std::size_t i = 0; i < lanes_.size(); ++i) {
      const db::BesideLane::Outcome& outcome = lanes_[i]->Finish().front();
      try {
        if (outcome.create_failure) throw *outcome.create_failure;
        if (outcome.fill_failure) throw *outcome.fill_failure;
        context_.DropTable(outcome.table);
        context_.BesideSchema()->MoveInto(context_.m_pConn, outcome.table);
        KeepUnitCopy(context_, *copies_[i]);
      } catch (const db::DbError& error) {
        context_.LogFailure("汇总城镇基础据表", "statdata_czzdex " + outcome.table, error);
      }
    }
  }

 private:
  CZdStatContext& context_;
  std::vector<std::unique_ptr<db::BesideLane>> lanes_;
  std::vector<UnitCopy*> copies_;  // by lane
};

// The county's total of the copy in unit 1 (CountyLotTotal), summed from
// its rows as they will be written, without waiting for the copy: on a
// server, whose sum adds a freshly written table's values one by one in the
// order they were written, the first as it is, the same figure to the bit.
// The embedded engine's sum adds with a correction of its own: there the
// written copy is read.
db::Value CountyLotTotalOf(CZdStatContext& context, const db::GroupedSums& sums) {
  if (context.m_pConn.Kind() == db::DbKind::kEmbedded) return context.CountyLotTotal();
  const std::vector<db::GroupedSums::Column> columns = {{"地籍号", {}}, {"宗地总面积", {}}};
  std::optional<double> total;
  sums.VisitRows(columns, true, {}, [&](std::vector<db::Value>& lot) {
    if (lot[0].IsNull() || lot[1].IsNull() ||
        lot[0].AsText().compare(0, context.m_strPrefix2.size(), context.m_strPrefix2) != 0) {
      return;
    }
    const double area = lot[1].AsDouble("宗地总面积");
    total = total ? *total + area : area;
  });
  return total ? db::Value(*total) : db::Value();
}

// Every unit's copy, on the embedded engine or from the lots grouped as
// the base table was written, from one grouping of the lots. The county's
// total of the lots of the base table's unit steps the others. On a server,
// where that total is summed from the grouped lots, all copies but the last
// are written beside the run (CopiesBeside) while the run's connection
// writes the last; on the embedded engine, the copy of the base table's unit
// first, its total read from it, then the others, one after another on the
// run's connection (on threads of their own they were no faster, and held the
// rows of every copy at once). Each copy is written whole or not at all: a
// failure is logged, and the copy it stopped and those not yet written are
// left empty.
void WriteUnitCopiesInMemory(CZdStatContext& context) {
  std::string tables;
  for (const CZdStatContext::UnitTable& unit : context.UnitTables()) {
    tables += (tables.empty() ? "" : ",") + unit.table;
  }
  try {
    const std::unique_ptr<db::GroupedSums> sums = GroupLots(context, context.StatDataTable());
    std::vector<std::string> names;
    for (const db::GroupedSums::Column& column : sums->Columns()) names.push_back(column.name);
    std::vector<UnitCopy> copies;
    for (const CZdStatContext::UnitTable& unit : context.UnitTables()) {
      copies.push_back(StartUnitCopy(context, unit, names));
    }
    // Ends before the copies and the lots its lanes write from.
    CopiesBeside beside(context);
    std::optional<db::Value> county_total;
    for (std::size_t i = 0; i < copies.size(); ++i) {
      UnitCopy& copy = copies[i];
      // The county's total of the copy in unit 1, which the copies of the
      // other units add up to: had once, before the first of them is
      // written (on a server before any copy, so that all but the last are
      // written beside the run).
      if (!county_total && (copy.unit.table != context.m_strStatTblSrc ||
                            context.m_pConn.Kind() != db::DbKind::kEmbedded)) {
        county_total = CountyLotTotalOf(context, *sums);
      }
      if (county_total && i + 1 < copies.size() && beside.Add(*sums, *county_total, copy)) {
        continue;
      }
      db::Transaction whole(context.m_pConn);
      WriteUnitCopy(context, context.m_pConn, copy.unit.table, *sums, county_total, copy);
      whole.Commit();
      KeepUnitCopy(context, copy);
      host::yDebugTime(copy.unit.table);
    }
    beside.Finish();
    host::yDebugTime("unit copies beside");
  } catch (const db::DbError& error) {
    context.LogFailure("汇总城镇基础据表", "statdata_czzdex " + tables, error);
  }
}

}  // namespace

const db::BesideSchema* CZdStatContext::BesideSchema() {
  if (m_besideTried) return m_besideSchema.get();
  m_besideTried = true;
  if (m_pConn.Kind() != db::DbKind::kServer) return nullptr;
  try {
    const std::string target = m_pConn.Scalar("select current_schema()").AsText();
    // Named after the year and county: runs of other counties may build
    // beside theirs at the same time.
    m_besideSchema = std::make_shared<db::BesideSchema>(
        m_strConnect, target,
        RunSchema::NameOf(target, m_strPrefix1 + "_town_beside", m_strPrefix2));
  } catch (const db::DbError& error) {
    LogNotice("数据库", std::string("无法另开连接同时写表, 在本连接上写 (") + error.what() + ")");
  }
  return m_besideSchema.get();
}

short CZdStatContext::BuildUnitStatData() {
  // On a server, too, the lots grouped as the base table was written are
  // written once each copy, rather than grouped, converted and adjusted by
  // the server in statements that each pass over a copy.
  if (m_pConn.Kind() == db::DbKind::kEmbedded || m_writtenLotGroups) {
    WriteUnitCopiesInMemory(*this);
    return 1;
  }
  // Otherwise, on a server each copy and conversion logs its own failure; a copy that failed
  // leaves its unit's table empty or in unit 1, and the run goes on to the
  // area units and the summaries, whose figures the failures make suspect.
  // Unit 1's copy groups the base table; the copies of units 2 and 3 are
  // converted from it in one statement each, the figures the grouping and
  // the conversion in place would give, without grouping again.
  bool grouped = false;
  for (const UnitTable& unit : UnitTables()) {
    if (unit.unit == m_nUnitSrc) {
      grouped = CopyUnitStatData(unit.table) != 0;
      continue;
    }
    if (grouped && ConversionFactor(m_nUnitSrc, unit.unit)) {
      CopyConvertedUnitData(unit.unit, unit.table, unit.decimals);
      continue;
    }
    if (CopyUnitStatData(unit.table) == 0) continue;
    ConvertUnitTable(unit.unit, unit.table, unit.decimals);
  }
  AdjustUnitStatData();
  return 1;
}

db::GroupedSumsQuery CZdStatContext::UnitCopyGrouping(const std::string& source) const {
  db::GroupedSumsQuery query{source,
                             {},
                             {std::begin(kCopyKeys), std::end(kCopyKeys)},
                             {"宗地总面积", "占地面积", "建筑面积"}};
  for (const std::string& field : m_arrStatFields) {
    if (IsClassColumn(field)) query.sums.push_back(field);
  }
  return query;
}

std::string CZdStatContext::CopyUnitStatStatement(const std::string& target,
                                                  const std::string& source) const {
  std::string insert = fmt::format(
      " insert into {} (地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t"
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t"
      "土地座落,使用权类型,权属性质,土地级别,\t\t\t\t\t宗地总面积,占地面积,建筑面积",
      target);
  std::string select =
      "select 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t  "
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t  "
      "土地座落,使用权类型,权属性质,土地级别,\t\t\t\t\t  "
      "sum(宗地总面积),sum(占地面积),sum(建筑面积)";
  for (const std::string& field : m_arrStatFields) {
    if (!IsClassColumn(field)) continue;
    insert += "," + field;
    select += fmt::format(",SUM({}) as {} ", field, field);
  }
  insert += ")";
  const char* group =
      "group by 地籍号,省名称,省级代码,市名称,市级代码,\t\t\t\t\t"
      "县名称,县级代码,街道名称,街道代码,街坊名称,街坊代码,\t\t\t\t\t"
      "土地座落,使用权类型,权属性质,土地级别";
  return fmt::format("{} {} from {} {}", insert, select, source, group);
}

short CZdStatContext::CopyUnitStatData(const std::string& table) {
  const std::string statement = CopyUnitStatStatement(table, StatDataTable());
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总城镇基础据表", "statdata_czzdex " + statement, error);
    return 0;
  }
}

std::string CZdStatContext::ConvertedFigure(const std::string& field, short unit, short decimals,
                                            bool skip_zeros) const {
  const char* factor = ConversionFactor(m_nUnitSrc, unit);
  if (!factor || !IsConvertedColumn(field)) return field;
  const std::string rounded = fmt::format("round({}{},{})", field, factor, decimals);
  if (!skip_zeros) return rounded;
  // A figure of 0 is 0 converted: a server leaves it as it is (most class
  // columns of a lot), and the embedded engine takes it as stored (its
  // round() would give the same figure, -0 for -0, and null for null).
  const std::string zero = DialectKind() == db::DbKind::kEmbedded ? field : "0";
  return fmt::format("case when {}=0 then {} else {} end", field, zero, rounded);
}

std::string CZdStatContext::ConvertUnitStatement(short unit, const std::string& table,
                                                 short decimals, bool as_run) const {
  if (!ConversionFactor(m_nUnitSrc, unit)) return {};
  const bool skip_zeros = as_run && DialectKind() != db::DbKind::kEmbedded;
  std::string statement = fmt::format("UPDATE {} set ", table);
  for (const std::string& field : m_arrStatFields) {
    if (!IsConvertedColumn(field)) continue;
    statement += field + "=" + ConvertedFigure(field, unit, decimals, skip_zeros) + ",";
  }
  statement.pop_back();  // the last comma
  return statement;
}

std::string CZdStatContext::ConvertedCopyStatement(short unit, const std::string& table,
                                                   short decimals) const {
  std::string columns, figures;
  for (const std::string& field : m_arrStatFields) {
    columns += (columns.empty() ? "" : ",") + field;
    figures += (figures.empty() ? "" : ",") + ConvertedFigure(field, unit, decimals, true);
  }
  return fmt::format("insert into {} ({}) select {} from {}", table, columns, figures,
                     m_strStatTblSrc);
}

short CZdStatContext::CopyConvertedUnitData(short unit, const std::string& table, short decimals) {
  const std::string statement = ConvertedCopyStatement(unit, table, decimals);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总城镇基础据表", "statdata_czzdex " + statement, error);
    return 0;
  }
}

short CZdStatContext::ConvertUnitTable(short unit, const std::string& table, short decimals) {
  const std::string statement = ConvertUnitStatement(unit, table, decimals, true);
  // A table already in unit 1 needs no conversion.
  if (statement.empty()) return 1;
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    LogStatementFailure("转换城镇基础汇总表面积单位", table, statement);
    return 0;
  }
}

}  // namespace landstat
