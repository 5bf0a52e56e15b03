// The lot-area adjustment of the converted per-unit town-lot tables. The
// copies of units 2 and 3 were converted and rounded lot by lot, so their
// lot totals no longer add up to the county total converted once, and a
// lot's class columns no longer add up to its total. Both are mended by
// steps of one unit of the last kept decimal. The lot totals are read into
// memory and stepped there, in the order the stepping asks for (largest lot
// first, lots of equal area by lot number), and only the stepped lots are
// written back; the class walk visits only the lots whose classes do not
// add up, and the parent classes are summed by one statement. Each table's
// writes form one transaction.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "engine/rounding.h"
#include "lots/zd_stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"

namespace landstat {
namespace {

constexpr char kTotalsTitle[] = "平差城镇宗地总面积";
constexpr char kClassTitle[] = "平差城镇宗地分类面积";

// The factor that converts the county total from unit `source` into unit
// `target`; 0 when there is none (the same unit, or none).
double TotalFactor(short source, short target) {
  static const double kFactors[3][3] = {
      {0, 15, 10000}, {0.06666666666666667, 0, 666.6666666666666}, {0.0001, 0.0015, 0}};
  if (source < kHectare || source > kSquareMetre || target < kHectare || target > kSquareMetre) {
    return 0;
  }
  return kFactors[source][target];
}

bool IsClassColumn(const std::string& field) {
  return field.find("BM") != std::string::npos && field.find("BM20") == std::string::npos;
}

// The id naming the current row of `rows` (column 0) in an update.
db::Value RowId(const db::RowSource& rows, bool numeric) {
  if (numeric) return db::Value(static_cast<long long>(rows.Number(0)));
  return db::Value(std::string(rows.Text(0)));
}

// One lot of a unit copy, as its totals are stepped.
struct Lot {
  db::Value id;
  std::string number;  // 地籍号
  double total = 0;
};

// The county's positive lots of `table` in stepping order.
std::vector<Lot> ReadLots(db::Connection& connection, const std::string& table,
                          const std::string& county) {
  const bool numeric = connection.Kind() == db::DbKind::kEmbedded;
  const std::unique_ptr<db::RowSource> rows = connection.Scan(
      fmt::format("select {},地籍号,宗地总面积 from {} where 地籍号 like {} and 宗地总面积>0",
                  connection.backend().RowIdColumn(), table, db::QuoteText(county + "%")));
  std::vector<Lot> lots;
  while (rows->Next())
    lots.push_back({RowId(*rows, numeric), std::string(rows->Text(1)), rows->Number(2)});
  std::stable_sort(lots.begin(), lots.end(), [](const Lot& a, const Lot& b) {
    if (a.total != b.total) return a.total > b.total;
    return a.number < b.number;
  });
  return lots;
}

// The columns of `field` that a leaf's value is added to: its name cut by
// one character at a time while at least four remain, longest first.
std::vector<std::string> PrefixColumns(const std::string& leaf) {
  std::vector<std::string> prefixes;
  for (std::size_t length = leaf.size() - 1; length >= 4 && length < leaf.size(); --length) {
    prefixes.push_back(leaf.substr(0, length));
  }
  return prefixes;
}

}  // namespace

short CZdStatContext::IsParentField(const std::string& name) const {
  for (const std::string& field : m_arrStatFields) {
    if (field != name && field.find(name) != std::string::npos) return 1;
  }
  return 0;
}

short CZdStatContext::AdjustUnitStatData() {
  std::vector<UnitTable> adjusted;
  if (!m_strStatTblUnit1.empty()) adjusted.push_back({m_nUnit1, m_nDec1, m_strStatTblUnit1});
  if (!m_strStatTblUnit2.empty()) adjusted.push_back({m_nUnit2, m_nDec2, m_strStatTblUnit2});
  // With unit 1 alone there is nothing to adjust.
  if (adjusted.empty()) return 1;

  db::Value total;
  try {
    total = m_pConn.Scalar(
        fmt::format("select sum(宗地总面积) as 宗地总面积 from {} where 地籍号 like {}",
                    m_strStatTblSrc, db::QuoteText(m_strPrefix2 + "%")));
  } catch (const db::DbError& error) {
    LogFailure(kTotalsTitle, m_strStatTblSrc, error);
    return 0;
  }
  BalanceLotTotals(total);

  std::vector<std::string> parents, leaves;
  for (const std::string& field : m_arrStatFields) {
    if (!IsClassColumn(field)) continue;
    (IsParentField(field) ? parents : leaves).push_back(field);
  }
  for (const UnitTable& unit : adjusted) {
    try {
      // The parents are summed again from their leaves: zeroed and summed in
      // one transaction (one statement), so a failure leaves them as
      // converted.
      db::Transaction transaction(m_pConn);
      if (BalanceLotClassAreas(unit.table, leaves, unit.decimals, parents) == 0)
        continue;  // logged
      transaction.Commit();
    } catch (const db::DbError& error) {
      LogFailure(kClassTitle, unit.table, error);
      return 0;
    }
  }
  return 1;
}

short CZdStatContext::BalanceLotTotals(const db::Value& county_total) {
  // No lot of the county in unit 1's copy: there is nothing to add up to.
  if (county_total.IsNull()) return 0;
  const double total = county_total.AsDouble("宗地总面积");
  short result = 1;
  for (const auto& [unit, decimals, table] : {UnitTable{m_nUnit1, m_nDec1, m_strStatTblUnit1},
                                              UnitTable{m_nUnit2, m_nDec2, m_strStatTblUnit2}}) {
    const double factor = TotalFactor(m_nUnitSrc, unit);
    if (table.empty() || factor == 0) continue;
    double converted = total * factor;
    xcKeepPoint(&converted, decimals);
    try {
      std::vector<Lot> lots = ReadLots(m_pConn, table, m_strPrefix2);
      std::vector<double> areas;
      double sum = 0;
      for (const Lot& lot : lots) {
        areas.push_back(lot.total);
        sum += lot.total;
      }
      double difference = converted - sum;
      xcKeepPoint(&difference, decimals);
      const units::StepSize size = units::StepFor(decimals);
      // Walks over the lots, one step per lot above the threshold, until
      // the difference is spent; a walk that steps no lot (none is left
      // above the threshold, or there is no lot) ends the unit's adjustment.
      std::vector<bool> touched;
      const units::Distribution spread =
          std::fabs(difference) <= size.tolerance
              ? units::Distribution{difference, false, 0}
              : units::Distribute(areas, difference, size, units::AboveTolerance(size), &touched);
      db::Transaction transaction(m_pConn);
      for (std::size_t i = 0; i < touched.size(); ++i) {
        if (!touched[i]) continue;
        m_pConn.Execute(fmt::format("update {} set 宗地总面积=? where {}=?", table,
                                    m_pConn.backend().RowIdColumn()),
                        {db::Value(RoundToDecimals(areas[i], decimals)), lots[i].id});
      }
      transaction.Commit();
      if (spread.stalled) {
        LogFailure(
            kTotalsTitle + (" " + table),
            fmt::format("{} 宗地总面积之和与县级总面积 {} 仍差 {}", m_strPrefix2,
                        text::DoubleToText(converted), text::DoubleToText(spread.remaining)));
        result = 0;
      }
    } catch (const db::DbError& error) {
      LogFailure(kTotalsTitle, table, error);
      result = 0;
    }
  }
  return result;
}

short CZdStatContext::BalanceLotClassAreas(const std::string& table,
                                           const std::vector<std::string>& leaves, short decimals,
                                           const std::vector<std::string>& zeroed) {
  const units::StepSize size = units::StepFor(decimals);
  // A leaf may take a step when it holds at least one (binary noise aside).
  const units::StepRule rule{
      [step = size.step](double value) { return value >= step * (1 - 1e-9); }, false, false, true};
  std::string sum = "(0", columns;
  for (const std::string& leaf : leaves) {
    sum += "+coalesce(" + leaf + ",0)";
    columns += "," + leaf;
  }
  sum += ")";
  try {
    db::Transaction transaction(m_pConn);
    // Only lots whose classes may not add up are walked: the database picks
    // them by half the threshold, the exact test is made here. The walk
    // writes the stepped leaves of a lot as it goes.
    long left_over = 0;
    std::string first_left_over;
    std::vector<double> values(leaves.size());
    std::vector<bool> touched;
    db::UpdateEach(
        m_pConn,
        fmt::format(
            "select 地籍号,宗地总面积{} from {} where 宗地总面积>0 and abs(宗地总面积-{})>{}",
            columns, table, sum, text::DoubleToText(size.tolerance / 2)),
        [&](db::Recordset& lot) {
          double leaf_sum = 0;
          for (std::size_t k = 0; k < leaves.size(); ++k) {
            values[k] = lot.Field(static_cast<int>(k) + 2).AsDouble(leaves[k]);
            leaf_sum += values[k];
          }
          const double difference = lot.Field(1).AsDouble("宗地总面积") - leaf_sum;
          if (std::fabs(difference) <= size.tolerance) return false;
          const units::Distribution spread =
              units::Distribute(values, difference, size, rule, &touched);
          if (spread.stalled && left_over++ == 0) first_left_over = lot.Field(0).AsText();
          for (std::size_t k = 0; k < leaves.size(); ++k) {
            if (touched[k]) {
              lot.SetField(static_cast<int>(k) + 2,
                           db::Value(RoundToDecimals(values[k], decimals)));
            }
          }
          return spread.steps > 0;
        });
    // Each parent becomes the sum of its non-negative leaves, in leaf order.
    std::vector<std::string> parent_order;
    std::unordered_map<std::string, std::string> parent_sums;
    for (const std::string& leaf : leaves) {
      for (const std::string& prefix : PrefixColumns(leaf)) {
        if (std::find(m_arrStatFields.begin(), m_arrStatFields.end(), prefix) ==
            m_arrStatFields.end()) {
          continue;  // no column of that name
        }
        auto [at, added] = parent_sums.emplace(prefix, "0");
        if (added) parent_order.push_back(prefix);
        at->second += fmt::format("+(case when {0}>=0 then {0} else 0 end)", leaf);
      }
    }
    // Only the rows whose parents change are written: most lots have one
    // class, whose converted parents already are the sums of their leaves.
    // (A sum is never null.)
    std::vector<std::pair<std::string, std::string>> assignments;
    if (zeroed.empty()) {
      for (const std::string& parent : parent_order) {
        assignments.emplace_back(parent, parent_sums[parent]);
      }
    } else {
      // The lots with a positive total take their sums, and every other
      // figure of the parents is 0.
      for (const std::string& parent : zeroed) {
        const auto leaf_sum = parent_sums.find(parent);
        assignments.emplace_back(
            parent, leaf_sum == parent_sums.end()
                        ? std::string("0")
                        : "case when 宗地总面积>0 then " + leaf_sum->second + " else 0 end");
      }
    }
    if (!assignments.empty()) {
      std::string set, changed;
      for (const auto& [parent, value] : assignments) {
        set += (set.empty() ? "" : ",") + parent + "=" + value;
        changed +=
            (changed.empty() ? "" : " or ") + fmt::format("{0} is null or {0}<>{1}", parent, value);
      }
      const std::string rows = zeroed.empty() ? "宗地总面积>0 and (" + changed + ")" : changed;
      m_pConn.Execute("update " + table + " set " + set + " where " + rows);
    }
    transaction.Commit();
    if (left_over > 0) {
      // One sweep over the leaves is all a lot gets: what it leaves stays.
      LogNotice(kClassTitle + (" " + table),
                fmt::format("{} 宗地的分类面积与宗地总面积仍有差值, 首个 地籍号 {}", left_over,
                            first_left_over));
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(kClassTitle, table, error);
    return 0;
  }
}

}  // namespace landstat
