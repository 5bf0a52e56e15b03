// The adjustable-land summary KTZ: the area of parcels remarked 'K'
// (adjustable) or 'KB' in their class remark, per class, by village,
// township and county, and by ownership unit when the run has that level.
// The embedded database sums ten fixed columns and balances its hectare and
// mu tables against the square-metre one; a server sums the K columns the
// table has. On both, the converted unit rows add up to their village.

#include <fmt/printf.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

const char* const kKColumns[] = {"BM021K", "BM022K", "BM023K", "BM031K",
                                 "BM033K", "BM042K", "BM114K"};
const char* const kKbColumns[] = {"BM021KB", "BM022KB", "BM023KB"};
// The classes the table has a K column for.
const char* const kKClasses[] = {"021", "022", "023", "031", "033", "042", "114"};

const char kTitle[] = "汇总可调整地";
// The temporary copy of the remarked rows (CStatContext::WithRemarkedRows).
const char kRemarkedTable[] = "landstat_remarked";
// The level messages, county to unit.
const char* const kCountyFailed = kLevelMessages[0];
const char* const kTownshipFailed = kLevelMessages[1];
const char* const kVillageFailed = kLevelMessages[2];
const char* const kUnitFailed = kLevelMessages[3];

std::vector<std::string> FixedColumns() {
  std::vector<std::string> columns(std::begin(kKColumns), std::end(kKColumns));
  columns.insert(columns.end(), std::begin(kKbColumns), std::end(kKbColumns));
  return columns;
}

}  // namespace

std::string CStatContext::LevelRollUp(const std::string& head, const std::string& sums,
                                      const std::string& target, int length, int decimals) const {
  const std::string prefix =
      m_bOracle ? fmt::format("substr(XZQDM,0,{})", length) : fmt::format("left(XZQDM,{})", length);
  const std::string wildcards(length == 9 ? 6 : 3, '_');
  return Dialect().RoundSums(
      head + fmt::sprintf(" SELECT %s,SUM(XZQZMJ), %s FROM %s ", prefix, sums, target) +
          fmt::sprintf("WHERE XZQDM LIKE %s GROUP BY %s", db::QuoteText(m_strPrefix2 + wildcards),
                       prefix),
      decimals);
}

bool CStatContext::RunLoggedStatement(const std::string& statement, const char* title,
                                      const char* message, bool trace_failure) {
  host::yDebugStr(statement);
  try {
    m_pConn.Execute(statement);
    return true;
  } catch (const db::DbError& error) {
    if (trace_failure) host::yDebugStr(statement);
    LogFailure(title, message, error);
    return false;
  }
}

void CStatContext::WithSharedGroupings(const std::function<void()>& fill) {
  // Whatever way the fill ends, the tables go with it.
  struct Drop {
    CStatContext& c;
    ~Drop() {
      for (const auto& [select, table] : *c.m_mapSharedGroupings) {
        if (table.empty()) continue;
        try {
          c.m_pConn.Execute("DROP TABLE IF EXISTS " + table);
        } catch (const db::DbError& error) {
          // It ends with the connection anyway; only its space is held longer.
          c.LogNotice(table, std::string("临时表未能删除 (") + error.what() + ")");
        }
      }
      c.m_mapSharedGroupings.reset();
    }
  };
  m_mapSharedGroupings.emplace();
  Drop drop{*this};
  fill();
}

bool CStatContext::RunSharedGrouping(const std::string& head, const std::string& select,
                                     const char* title, const char* message, bool trace_failure) {
  if (!m_mapSharedGroupings || m_pConn.Kind() != db::DbKind::kEmbedded || m_bOracle) {
    return RunLoggedStatement(head + select, title, message, trace_failure);
  }
  auto [kept, added] = m_mapSharedGroupings->try_emplace(select);
  if (added) {
    const std::string table = "landstat_grouping_" + std::to_string(m_mapSharedGroupings->size());
    try {
      m_pConn.Execute("DROP TABLE IF EXISTS " + table);
      m_pConn.Execute("CREATE TEMPORARY TABLE " + table + " AS " + select);
      kept->second = table;
    } catch (const db::DbError& error) {
      // The statement runs for each table instead, and logs its own
      // failure as it would without the copy.
      LogNotice(table, std::string("分组未能保存, 逐表汇总 (") + error.what() + ")");
    }
  }
  if (kept->second.empty()) return RunLoggedStatement(head + select, title, message, trace_failure);
  // The rows in the order the grouping gave them.
  return RunLoggedStatement(head + " SELECT * FROM " + kept->second, title, message, trace_failure);
}

void CStatContext::MakeRemarkedRows() {
  // The tables of these remarks read a few rows in a hundred, each table
  // with a scan of the whole base table: the rows any of them can select
  // (their remark tests spelt in either case) copied once in their order
  // give every statement the same rows. Oracle's statements are text only.
  if (m_bOracle) return;
  try {
    m_pConn.Execute(std::string("DROP TABLE IF EXISTS ") + kRemarkedTable);
    m_pConn.Execute(std::string("CREATE TEMPORARY TABLE ") + kRemarkedTable + " AS SELECT * FROM " +
                    m_strStatTbl + " WHERE 地类备注 IN ('K','k','KB','Kb','kB','kb','P','p')");
    m_strRemarkedRows = kRemarkedTable;
  } catch (const db::DbError& error) {
    // The same figures, only slower: the statements read the base table.
    LogNotice("汇总 " + m_strStatTbl,
              std::string("有地类备注的临时表未能建立, 直接读取 (") + error.what() + ")");
  }
}

void CStatContext::DropRemarkedRows() {
  m_strRemarkedRows.clear();
  try {
    m_pConn.Execute(std::string("DROP TABLE IF EXISTS ") + kRemarkedTable);
  } catch (const db::DbError& error) {
    // It ends with the connection anyway; only its space is held longer.
    LogNotice(kRemarkedTable, std::string("临时表未能删除 (") + error.what() + ")");
  }
}

void CStatContext::WithRemarkedRows(const std::function<void()>& fill) {
  if (m_strRemarkedRows.empty()) MakeRemarkedRows();
  // A copy kept for the run serves the fills after this one as well.
  if (m_strRemarkedRows.empty() || m_bKeepRemarkedRows) return fill();
  // Whatever way the fill ends, nothing after it reads the remarked rows.
  struct Forget {
    std::string& rows;
    ~Forget() { rows.clear(); }
  };
  {
    Forget forget{m_strRemarkedRows};
    fill();
  }
  DropRemarkedRows();
}

void CStatContext::KeepRemarkedRows() {
  m_bKeepRemarkedRows = true;
}

void CStatContext::ReleaseRemarkedRows() {
  m_bKeepRemarkedRows = false;
  if (!m_strRemarkedRows.empty()) DropRemarkedRows();
}

const std::string& CStatContext::RemarkedRows() const {
  return m_strRemarkedRows.empty() ? m_strStatTbl : m_strRemarkedRows;
}

short CStatContext::StatKtz() {
  WithRemarkedRows([&] {
    WithSharedGroupings([&] {
      ForEachSummaryTable("KTZ", [&](const std::string& target, short scope, short unit) {
        const short decimals = unit == kSquareMetre ? m_nDecSrc
                               : unit == kHectare   ? m_nDec1
                                                    : m_nDec2;
        if (m_nDbMode == 0) {
          SumKtzFixedClasses(target, scope, unit, decimals);
        } else {
          SumKtz(target, scope, unit, decimals);
        }
      });
    });
  });
  return 1;
}

short CStatContext::SumKtzFixedClasses(const std::string& target, short scope, short unit,
                                       short decimals) {
  const std::string columns =
      "BM021K,BM022K,BM023K,BM031K,BM033K,BM042K,BM114K,BM021KB,BM022KB,BM023KB)";
  std::string village_sums, rollup_sums;
  for (const char* code : kKClasses) {
    village_sums += fmt::format("{}SUM(iif(地类备注 in('K','k'),BM{},0))",
                                village_sums.empty() ? "" : ",", code);
  }
  for (const char* code : {"021", "022", "023"}) {
    village_sums += fmt::format(",SUM(iif(地类备注 in('KB','Kb','kB','kb'),BM{},0))", code);
  }
  for (const std::string& column : FixedColumns()) {
    rollup_sums += (rollup_sums.empty() ? "SUM(" : ",SUM(") + column + ")";
  }
  const std::string head = "insert into " + target + "(XZQDM,XZQZMJ," + columns;
  // The rows of one level: the remarked pieces grouped by a code of theirs,
  // those of the unit level only where the code is one of this county's.
  // The village and unit sums are of the square-metre rows, on their grid,
  // in every unit's table; the roll-ups sum the table's own figures.
  const auto level_rows = [&](const std::string& code, const std::string& where) {
    return Dialect().RoundSums(
        fmt::sprintf(" SELECT %s,SUM(土地总面积), %s FROM %s ", code, village_sums,
                     RemarkedRows()) +
            fmt::sprintf(" WHERE %s(地类备注 in ('K','k') or 地类备注 in('KB','Kb','kB','kb')) "
                         "GROUP BY %s",
                         where, code),
        m_nDecSrc);
  };
  const char* village = scope == 0 ? "村级代码" : "left(权属单位代码,12)";
  RunSharedGrouping(head, level_rows(village, ""), kTitle, kVillageFailed, false);
  // The unit level, as on a server, so that both databases hold the same
  // rows; a failure ends the table as it does there.
  if (m_bGroupLevel) {
    const std::string unit_code = scope == 0 ? "座落单位代码" : "权属单位代码";
    if (!RunSharedGrouping(head,
                           level_rows(unit_code, unit_code + " LIKE " + GroupCodesLike() + " AND "),
                           kTitle, kUnitFailed, false)) {
      return 0;
    }
  }
  std::vector<std::string> total = FixedColumns();
  SetSumFldValue(m_pConn, target, "XZQZMJ", total, Dialect(), m_nDecSrc);
  if (unit == kHectare || unit == kMu) {
    total.push_back("XZQZMJ");
    // Balanced in steps of the table's own last decimal, so that rows add
    // up to the figure they show.
    ConvertFldValue(m_pConn, 1, target, total, FactorText(kSquareMetre, unit), decimals);
    BalanceKtzTotals("ZPMKTZ", target, std::pow(10.0, -decimals), decimals,
                     unit == kHectare ? 0.0001 : 0.0015);
    if (m_bGroupLevel)
      BalanceUnitRows(target, FixedColumns(), {{"XZQZMJ", FixedColumns()}}, decimals);
  }
  for (const auto& [length, message] :
       {std::pair{9, kTownshipFailed}, std::pair{6, kCountyFailed}}) {
    RunLoggedStatement(LevelRollUp(head, rollup_sums, target, length, decimals), kTitle, message,
                       false);
  }
  FillXzqNames(target, "XZQDM", "XZQMC");
  return 1;
}

short CStatContext::SumKtz(const std::string& target, short scope, short unit, short decimals) {
  // The table has K columns for seven classes only (the same layout on
  // every database): the server sums the classes of the code table that
  // have one.
  std::string base_sums, k_sums, columns;
  std::vector<std::string> converted, total;
  for (const std::string& code : m_arrClassCodes) {
    if (std::find(std::begin(kKClasses), std::end(kKClasses), code) == std::end(kKClasses)) {
      continue;
    }
    const char* comma = columns.empty() ? "" : ",";
    base_sums += comma + ("SUM(BM" + code + ") ");
    k_sums += comma + ("SUM(BM" + code + "K) ");
    columns += comma + ("BM" + code + "K");
    converted.push_back("BM" + code + "K");
    if (code.size() == 3) total.push_back("BM" + code + "K");
  }
  if (columns.empty()) return 1;  // no adjustable class in the code table
  columns += ")";
  const std::string head = "insert into " + target + "(XZQDM,XZQZMJ," + columns;
  const std::string village = scope == 0  ? "村级代码"
                              : m_bOracle ? "substr(权属单位代码,0,12)"
                                          : "left(权属单位代码,12)";
  RunLoggedStatement(
      Dialect().RoundSums(head +
                              fmt::sprintf(" SELECT %s,SUM(土地总面积), %s FROM %s ", village,
                                           base_sums, RemarkedRows()) +
                              " WHERE 地类备注 LIKE 'K' OR 地类备注 LIKE 'k' GROUP BY " + village,
                          m_nDecSrc),
      kTitle, kVillageFailed, true);
  if (m_bGroupLevel) {
    const std::string statement =
        scope == 0
            ? head +
                  fmt::sprintf(
                      " SELECT 座落单位代码,SUM(土地总面积), %s FROM %s where 座落单位代码 "
                      "like %s",
                      base_sums, RemarkedRows(), GroupCodesLike()) +
                  " AND( 地类备注 LIKE 'K' OR 地类备注 LIKE 'k') GROUP BY 座落单位代码"
            : head +
                  fmt::sprintf(
                      " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  "
                      "%s.权属单位代码 LIKE %s%s",
                      base_sums, RemarkedRows(), RemarkedRows(), GroupCodesLike(),
                      m_bOracle ? " " : "") +
                  (m_bOracle
                       ? " AND( 地类备注 LIKE 'K' OR 地类备注 LIKE 'k') GROUP BY 权属单位代码"
                       : " AND(地类备注 LIKE 'K' OR 地类备注 LIKE 'k' ) GROUP BY 权属单位代码");
    if (!RunLoggedStatement(Dialect().RoundSums(statement, m_nDecSrc), kTitle, kUnitFailed, true)) {
      return 0;
    }
  }
  const bool converts = unit == kHectare || unit == kMu;
  if (converts) {
    ConvertFldValue(m_pConn, m_bOracle ? 2 : 1, target, converted, FactorText(kSquareMetre, unit),
                    decimals);
  }
  SetSumFldValue(m_pConn, target, "XZQZMJ", total, Dialect(), decimals);
  if (converts && m_bGroupLevel) BalanceUnitRows(target, converted, {{"XZQZMJ", total}}, decimals);
  for (const auto& [length, message] :
       {std::pair{9, kTownshipFailed}, std::pair{6, kCountyFailed}}) {
    RunLoggedStatement(LevelRollUp(head, k_sums, target, length, decimals), kTitle, message, true);
  }
  FillXzqNames(target, "XZQDM", "XZQMC");
  return 1;
}

short CStatContext::BalanceKtzTotals(const std::string& reference, const std::string& target,
                                     double step, int decimals, double factor) {
  double reference_total = 0;
  try {
    // Without the square-metre table (a run by ownership only makes none)
    // the village totals have nothing to be balanced against and stay as
    // converted; each row's classes still add up to its total.
    if (IsTableExist(reference)) {
      reference_total =
          m_pConn
              .Scalar(fmt::sprintf("select sum(XZQZMJ) as XZQZMJ1 from %s where XZQDM like %s "
                                   "and len(XZQDM) = 12",
                                   reference, CountyCodesLike()))
              .AsDouble() *
          factor;
      // The village rows only: the target may hold unit rows beside them.
      double target_total =
          m_pConn
              .Scalar(fmt::sprintf("select sum(XZQZMJ) as XZQZMJ1 from %s where XZQDM like %s",
                                   target, VillageCodesLike()))
              .AsDouble();
      xcKeepPoint(&reference_total, static_cast<short>(decimals));
      xcKeepPoint(&target_total, static_cast<short>(decimals));
      BalanceKtzVillageTotals(target, reference_total - target_total, step, decimals);
    }
    BalanceKtzRows(target, step, decimals);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差可调整表", target + " 平差失败", error);
    if (reference_total > 0) host::AfxMessageBox(error.what());
    return 0;
  }
}

void CStatContext::BalanceKtzVillageTotals(const std::string& target, double difference,
                                           double step, int decimals) {
  // A difference below half a step is what rounding leaves: nothing to do.
  const units::StepSize size{decimals, step, step / 2};
  if (std::fabs(difference) < size.tolerance) return;
  const std::string query = fmt::sprintf(
      "select XZQZMJ from %s where XZQDM like %s order by XZQZMJ desc", target, VillageCodesLike());
  std::vector<double> totals;
  {
    db::Recordset rows(m_pConn, query);
    for (; !rows.IsEOF(); rows.MoveNext()) totals.push_back(rows.Number("XZQZMJ"));
  }
  // Largest villages first, each moved by one step at most; no village is
  // taken below four steps (and, the totals falling, none after it).
  const double signed_step = difference < 0 ? -step : step;
  const units::StepRule rule{
      [&](double total) { return RoundToDecimals(total + signed_step, decimals) >= 4 * step; },
      false, false, true};
  std::vector<bool> touched;
  units::Distribute(totals, difference, size, rule, &touched);
  // The same query walks the totals in the same order; villages of equal
  // totals may swap places, but they also take the same new total.
  std::size_t at = 0;
  db::UpdateEach(m_pConn, query, [&](db::Recordset& row) {
    const std::size_t i = at++;
    if (i >= totals.size() || !touched[i]) return false;
    row.SetField("XZQZMJ", db::Value(RoundToDecimals(totals[i], decimals)));
    return true;
  });
}

void CStatContext::BalanceKtzRows(const std::string& target, double step, int decimals) {
  const units::StepSize size{decimals, step, step / 2};
  const std::string query =
      fmt::sprintf("select *  from %s where XZQDM like %s", target, CountyCodesLike());
  db::UpdateEach(m_pConn, query, [&](db::Recordset& row) {
    // The KB columns count in the row but keep their area; only the K
    // columns move.
    double difference = row.Number("XZQZMJ");
    for (const std::string& column : FixedColumns()) difference -= row.Number(column);
    if (std::fabs(difference) < size.tolerance) return false;
    // Sweeps from the last K column to the first, one step per column with
    // area that keeps at least one step.
    std::vector<double> values;
    for (int i = 6; i >= 0; --i) values.push_back(row.Number(kKColumns[i]));
    const double signed_step = difference < 0 ? -step : step;
    const units::StepRule rule{[&](double value) {
                                 return value >= step / 10 &&
                                        RoundToDecimals(value + signed_step, decimals) >= step;
                               },
                               false, false};
    std::vector<bool> touched;
    const units::Distribution result = units::Distribute(values, difference, size, rule, &touched);
    // A row whose columns can take no more steps keeps what is left; one
    // that used every step it could need, or needed too many, is reported.
    const double needed = units::StepsNeeded(difference, size);
    if (result.stalled && (result.steps >= needed || needed > units::kMostSteps)) {
      LogFailure(std::string(kTitle) + " " + target + " " + row.Text("XZQDM"),
                 "平差未完成, 剩余差值 " + text::DoubleToText(result.remaining));
    }
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (touched[k])
        row.SetField(kKColumns[6 - k], db::Value(RoundToDecimals(values[k], decimals)));
    }
    return result.steps > 0;
  });
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> AdjustableLandFamilies() {
  return {{.base = "KTZ",
           .stage = 100,
           .builds = Rural,
           .create = [](C& c) { return c.CreateKtzTables(); },
           .fill = [](C& c) { c.StatKtz(); },
           .progress = "汇总可调整表",
           // It reads the base table's remarked rows.
           .reads_unit_copies = false,
           .reads_remarked_rows = true}};
}

}  // namespace landstat::landuse
