// The reserve summaries rounded and balanced along their column trees: the
// hectare and mu tables of MJ_GDHB, MJ_GDHBOLD and PJ_GDHB are rounded to
// d decimals by one statement each, and every row is then made to add up
// again: each class total is the sum of its types (or grades), and GDHBMJ
// the sum of the two class totals, by steps of one unit of the last
// decimal. The square-metre tables keep their unrounded sums.

#include <cmath>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "reserve/reserve_summary_tables.h"
#include "units/step_rule.h"

namespace landstat {
namespace {

constexpr char kFailed[] = "平差分类面积失败";

enum class RowOutcome { kUnchanged, kChanged, kTooFar, kLeftOver };

// The sum of a class total's positive leaves, on the grid.
double LeafSum(const std::vector<double>& leaves, std::size_t first, std::size_t count,
               int decimals) {
  double sum = 0;
  for (std::size_t i = first; i < first + count; ++i) sum += leaves[i] > 0 ? leaves[i] : 0;
  return RoundToDecimals(sum, decimals);
}

// Balances one row, its area columns in tree order. Each class total is
// first made the sum of its leaves; the difference between GDHBMJ and the
// two totals then goes to the leaves in column order, one step each, as
// far as it reaches, and the totals take their leaves' steps. A difference
// larger than the totals leaves the row as it was (kTooFar); one that the
// leaves could not take whole is left over (kLeftOver, the row is written
// as far as it came). `remaining` is what is left of the difference.
RowOutcome BalanceRow(const reserve::SummaryTree& tree, std::vector<double>& values, int decimals,
                      double& remaining) {
  const units::StepSize size = units::StepFor(decimals);
  const std::size_t first_count = tree.reclaimable.size();
  const std::size_t second = tree.RecultivableTotal();
  std::vector<double> leaves(values.begin() + 2, values.begin() + static_cast<long>(second));
  leaves.insert(leaves.end(), values.begin() + static_cast<long>(second) + 1, values.end());
  std::vector<double> balanced = values;
  balanced[1] = LeafSum(leaves, 0, first_count, decimals);
  balanced[second] = LeafSum(leaves, first_count, tree.recultivable.size(), decimals);
  const double held = balanced[1] + balanced[second];
  remaining = RoundToDecimals(balanced[0] - held, decimals);
  if (std::fabs(remaining) > held + size.tolerance) return RowOutcome::kTooFar;
  bool left_over = false;
  if (std::fabs(remaining) > size.tolerance) {
    units::StepRule rule;
    rule.eligible = [&](double value) { return value >= size.tolerance; };
    rule.single_sweep = true;
    const units::Distribution done = units::Distribute(leaves, remaining, size, rule);
    remaining = done.remaining;
    left_over = done.stalled;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      balanced[i < first_count ? i + 2 : i + 3] = leaves[i];
    }
    balanced[1] = LeafSum(leaves, 0, first_count, decimals);
    balanced[second] = LeafSum(leaves, first_count, tree.recultivable.size(), decimals);
  }
  bool changed = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (std::fabs(balanced[i] - values[i]) > size.tolerance / 100) changed = true;
  }
  values = balanced;
  if (left_over) return RowOutcome::kLeftOver;
  return changed ? RowOutcome::kChanged : RowOutcome::kUnchanged;
}

// Rounds one table and balances its rows, in one transaction: the table
// changes whole or not at all. Raises DbError.
void RoundAndBalance(CStatContext& context, const std::string& table,
                     const std::vector<std::string>& columns, short decimals,
                     const reserve::SummaryTree* tree) {
  db::Transaction transaction(context.m_pConn);
  std::string round = "UPDATE " + table + " set ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    round +=
        (i ? "," : "") + columns[i] + "=ROUND(" + columns[i] + "," + std::to_string(decimals) + ")";
  }
  context.m_pConn.Execute(round);
  if (tree) {
    const std::vector<std::string> area_columns = tree->Columns();
    std::vector<double> values(area_columns.size());
    db::UpdateEach(context.m_pConn, "select * from " + table, [&](db::Recordset& row) {
      for (std::size_t i = 0; i < area_columns.size(); ++i) values[i] = row.Number(area_columns[i]);
      double remaining = 0;
      const RowOutcome outcome = BalanceRow(*tree, values, decimals, remaining);
      if (outcome == RowOutcome::kTooFar || outcome == RowOutcome::kLeftOver) {
        std::string what = table + " " + row.Text("XZQDM");
        if (row.HasField("QSXZNGDHBJB")) what += " " + row.Text("QSXZNGDHBJB");
        context.m_strLogMsg = kFailed;
        context.LogFailureText(table, std::to_string(context.m_nErrCount + 1) + " " + kFailed +
                                          " " + what + " 差值 " + std::to_string(remaining) +
                                          " \r\n");
      }
      if (outcome == RowOutcome::kUnchanged || outcome == RowOutcome::kTooFar) return false;
      for (std::size_t i = 0; i < area_columns.size(); ++i) {
        row.SetField(area_columns[i], db::Value(RoundToDecimals(values[i], decimals)));
      }
      return true;
    });
  }
  transaction.Commit();
}

}  // namespace

short CStatContext::RoundAndBalanceTable(const std::string& base,
                                         const std::vector<std::string>* columns, short decimals) {
  if (base.empty() || !columns || columns->empty()) return 0;
  for (short unit : {kHectare, kMu}) {
    // A unit that no run has made tables of has nothing to balance.
    const std::string table = GdhbUnitTable(unit, base);
    if (!m_pConn.TableExists(table)) continue;
    try {
      RoundAndBalance(*this, table, *columns, decimals, reserve::TreeOf(base));
    } catch (const db::DbError& error) {
      LogFailure(kFailed, table + " 取整平差失败", error);
    }
  }
  return 1;
}

}  // namespace landstat
