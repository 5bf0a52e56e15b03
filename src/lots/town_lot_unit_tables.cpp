// The per-unit copies of the town-lot base table: one table per configured
// area unit holding one row per lot (its lot and house records summed), the
// copies of units 2 and 3 converted from unit 1 and rounded, then adjusted
// so that their figures add up.

#include <fmt/format.h>

#include <map>
#include <memory>
#include <optional>

#include "lots/zd_stat_context.h"
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

// Every unit's copy, on the embedded engine or from the lots grouped as
// the base table was written, from one grouping of the lots:
// the base table's unit as summed, every other unit converted and rounded
// figure by figure as its conversion statement ("round(x/10000,4)", 0 kept)
// converts the first copy's figures, and adjusted on its rows before they
// are written, without reading any copy back. (Written one after another:
// on threads of their own they were no faster, and held the rows of every
// copy at once.) Each copy is written whole or not at all: a failure is
// logged, and the copy it stopped and those not yet written are left empty.
void WriteUnitCopiesInMemory(CZdStatContext& context) {
  std::string tables;
  for (const CZdStatContext::UnitTable& unit : context.UnitTables()) {
    tables += (tables.empty() ? "" : ",") + unit.table;
  }
  try {
    const std::unique_ptr<db::GroupedSums> sums = GroupLots(context, context.StatDataTable());
    const std::vector<db::GroupedSums::Column> columns = sums->Columns();
    std::vector<std::string> names;
    for (const db::GroupedSums::Column& column : columns) names.push_back(column.name);
    db::Connection& connection = context.m_pConn;
    std::optional<db::Value> county_total;
    for (const CZdStatContext::UnitTable& unit : context.UnitTables()) {
      db::GroupedSums::Conversion convert;
      if (const char* factor = ConversionFactor(context.m_nUnitSrc, unit.unit)) {
        // Beyond the bound of exact rounding the engine is asked.
        const std::string round = "select round(?," + std::to_string(unit.decimals) + ")";
        convert = units::AreaConversion(
            factor, UnitFactor(context.m_nUnitSrc, unit.unit), unit.decimals,
            [&connection, round](double converted) {
              return connection.Scalar(round, {db::Value(converted)}).AsDouble();
            });
      }
      // The class sums by level of the copy, gathered from its rows as they
      // are written, in their order, as reading the copy would give them.
      const TownSources sources = context.UnitSources(unit.unit);
      std::vector<std::unique_ptr<db::GroupedSums>> levels =
          context.FeedClassLevels(sources, names);
      std::map<std::string, CZdStatContext::Groupings> groupings =
          context.FeedLotGroupings(sources, names);
      const auto written = [&](const std::vector<db::Value>& row) {
        for (const std::unique_ptr<db::GroupedSums>& level : levels) level->Add(row);
        for (const auto& [family, fed] : groupings) {
          for (const std::unique_ptr<db::GroupedSums>& grouping : fed) grouping->Add(row);
        }
      };
      db::Transaction whole(connection);
      if (unit.table == context.m_strStatTblSrc) {
        sums->WriteTo(connection, unit.table, columns, true, convert,
                      [&](std::vector<db::Value>& row) { written(row); });
      } else {
        // The county's total of the copy in unit 1, which the copies of the
        // other units add up to: read once, when the first of them is written.
        if (!county_total) county_total = context.CountyLotTotal();
        context.WriteAdjustedCopy(*sums, unit, convert, *county_total, written);
      }
      whole.Commit();
      if (sources.lots == unit.table) {
        context.KeepClassLevels(sources, std::move(levels));
        context.KeepLotGroupings(sources, std::move(groupings));
      }
    }
  } catch (const db::DbError& error) {
    context.LogFailure("汇总城镇基础据表", "statdata_czzdex " + tables, error);
  }
}

}  // namespace

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
