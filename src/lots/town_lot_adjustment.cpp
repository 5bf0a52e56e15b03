// The lot-area adjustment of the converted per-unit town-lot tables. The
// copies of units 2 and 3 were converted and rounded lot by lot, so their
// lot totals no longer add up to the county total converted once, and a
// lot's class columns no longer add up to its total. Both are mended by
// steps of one unit of the last kept decimal: the lot totals in the order
// the stepping asks for (largest lot first, lots of equal area by lot
// number), then each lot's leaf classes, then the parent classes summed
// from their leaves. On the embedded engine this is done on the rows in
// memory as the copy is written; on a server the written table is read and
// only the stepped lots are written back, each table's changes in one
// transaction.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/rounding.h"
#include "lots/zd_stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
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

// Lots of `lots` in stepping order: largest first, equal ones by number.
void SortForStepping(std::vector<Lot>& lots) {
  std::stable_sort(lots.begin(), lots.end(), [](const Lot& a, const Lot& b) {
    if (a.total != b.total) return a.total > b.total;
    return a.number < b.number;
  });
}

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
  SortForStepping(lots);
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

// The county total of unit 1 converted into `unit` once, kept to `decimals`;
// 0 when there is no conversion.
double ConvertedCountyTotal(double total, short source, short unit, short decimals) {
  const double factor = TotalFactor(source, unit);
  if (factor == 0) return 0;
  double converted = total * factor;
  xcKeepPoint(&converted, decimals);
  return converted;
}

// Steps the totals of `lots` (in stepping order) so that they add up to
// `converted`: one step per lot above the threshold per walk, until the
// difference is spent or a walk steps no lot. `touched` marks the stepped
// lots; `areas` holds every lot's total afterwards.
units::Distribution StepLotTotals(const std::vector<Lot>& lots, double converted, short decimals,
                                  std::vector<bool>& touched, std::vector<double>& areas) {
  areas.clear();
  double sum = 0;
  for (const Lot& lot : lots) {
    areas.push_back(lot.total);
    sum += lot.total;
  }
  double difference = converted - sum;
  xcKeepPoint(&difference, decimals);
  const units::StepSize size = units::StepFor(decimals);
  touched.assign(lots.size(), false);
  if (std::fabs(difference) <= size.tolerance) return {difference, false, 0};
  return units::Distribute(areas, difference, size, units::AboveTolerance(size), &touched);
}

// The failure text of a county whose lot totals could not be stepped to its
// total.
std::string StalledTotals(const std::string& county, double converted, double remaining) {
  return fmt::format("{} 宗地总面积之和与县级总面积 {} 仍差 {}", county,
                     text::DoubleToText(converted), text::DoubleToText(remaining));
}

// The stepping of one lot's leaf classes towards its total: one sweep over
// the leaves, each leaf of at least one step (binary noise aside) taking
// one step at most.
class ClassStepper {
 public:
  explicit ClassStepper(short decimals)
      : size_(units::StepFor(decimals)),
        rule_{[step = size_.step](double value) { return value >= step * (1 - 1e-9); }, false,
              false, true} {}

  // The steps taken on `values` (the lot's leaves), or nothing when they
  // already add up to `total` within the tolerance.
  std::optional<units::Distribution> Step(std::vector<double>& values, double total,
                                          std::vector<bool>& touched) const {
    double leaf_sum = 0;
    for (double value : values) leaf_sum += value;
    const double difference = total - leaf_sum;
    if (std::fabs(difference) <= size_.tolerance) return std::nullopt;
    return units::Distribute(values, difference, size_, rule_, &touched);
  }
  // How far a lot's leaves may be off before it is walked, as the database
  // picks the lots: half the tolerance (the exact test is Step's).
  double Threshold() const { return size_.tolerance / 2; }

 private:
  units::StepSize size_;
  units::StepRule rule_;
};

// A parent class column and the leaves whose non-negative figures it sums,
// in leaf order (indexes into the leaf list).
struct ParentSum {
  std::string column;
  std::vector<std::size_t> leaves;
};

// What the parent columns become after the class walk. Without `zeroed`
// parents: every column that is a prefix of a leaf (of at least four
// characters), summed on the positive lots. With them: those columns, each
// the sum of its leaves on the positive lots and 0 everywhere else (0 on
// every lot for a parent without leaves).
std::vector<ParentSum> ParentSums(const std::vector<std::string>& fields,
                                  const std::vector<std::string>& leaves,
                                  const std::vector<std::string>& zeroed) {
  std::vector<ParentSum> sums;
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    for (const std::string& prefix : PrefixColumns(leaves[k])) {
      if (std::find(fields.begin(), fields.end(), prefix) == fields.end()) continue;
      auto at = std::find_if(sums.begin(), sums.end(),
                             [&](const ParentSum& sum) { return sum.column == prefix; });
      if (at == sums.end()) at = sums.insert(sums.end(), ParentSum{prefix, {}});
      at->leaves.push_back(k);
    }
  }
  if (zeroed.empty()) return sums;
  std::vector<ParentSum> zeroed_sums;
  for (const std::string& parent : zeroed) {
    auto at = std::find_if(sums.begin(), sums.end(),
                           [&](const ParentSum& sum) { return sum.column == parent; });
    zeroed_sums.push_back(at == sums.end() ? ParentSum{parent, {}} : *at);
  }
  return zeroed_sums;
}

// The leaves and parents of the class columns among `fields`.
void SplitClasses(const CZdStatContext& context, std::vector<std::string>& leaves,
                  std::vector<std::string>& parents) {
  for (const std::string& field : context.m_arrStatFields) {
    if (!IsClassColumn(field)) continue;
    (context.IsParentField(field) ? parents : leaves).push_back(field);
  }
}

}  // namespace

short CZdStatContext::IsParentField(const std::string& name) const {
  for (const std::string& field : m_arrStatFields) {
    if (field != name && field.find(name) != std::string::npos) return 1;
  }
  return 0;
}

db::Value CZdStatContext::CountyLotTotal() {
  return m_pConn.Scalar(
      fmt::format("select sum(宗地总面积) as 宗地总面积 from {} where 地籍号 like {}",
                  m_strStatTblSrc, db::QuoteText(m_strPrefix2 + "%")));
}

short CZdStatContext::AdjustUnitStatData() {
  std::vector<UnitTable> adjusted;
  if (!m_strStatTblUnit1.empty()) adjusted.push_back({m_nUnit1, m_nDec1, m_strStatTblUnit1});
  if (!m_strStatTblUnit2.empty()) adjusted.push_back({m_nUnit2, m_nDec2, m_strStatTblUnit2});
  // With unit 1 alone there is nothing to adjust.
  if (adjusted.empty()) return 1;

  db::Value total;
  try {
    total = CountyLotTotal();
  } catch (const db::DbError& error) {
    LogFailure(kTotalsTitle, m_strStatTblSrc, error);
    return 0;
  }
  BalanceLotTotals(total);

  std::vector<std::string> parents, leaves;
  SplitClasses(*this, leaves, parents);
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
    if (table.empty() || TotalFactor(m_nUnitSrc, unit) == 0) continue;
    const double converted = ConvertedCountyTotal(total, m_nUnitSrc, unit, decimals);
    try {
      std::vector<Lot> lots = ReadLots(m_pConn, table, m_strPrefix2);
      std::vector<bool> touched;
      std::vector<double> areas;
      const units::Distribution spread = StepLotTotals(lots, converted, decimals, touched, areas);
      db::Transaction transaction(m_pConn);
      for (std::size_t i = 0; i < touched.size(); ++i) {
        if (!touched[i]) continue;
        m_pConn.Execute(fmt::format("update {} set 宗地总面积=? where {}=?", table,
                                    m_pConn.backend().RowIdColumn()),
                        {db::Value(RoundToDecimals(areas[i], decimals)), lots[i].id});
      }
      transaction.Commit();
      if (spread.stalled) {
        LogFailure(kTotalsTitle + (" " + table),
                   StalledTotals(m_strPrefix2, converted, spread.remaining));
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
  const ClassStepper stepper(decimals);
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
            columns, table, sum, text::DoubleToText(stepper.Threshold())),
        [&](db::Recordset& lot) {
          for (std::size_t k = 0; k < leaves.size(); ++k) {
            values[k] = lot.Field(static_cast<int>(k) + 2).AsDouble(leaves[k]);
          }
          const std::optional<units::Distribution> spread =
              stepper.Step(values, lot.Field(1).AsDouble("宗地总面积"), touched);
          if (!spread) return false;
          if (spread->stalled && left_over++ == 0) first_left_over = lot.Field(0).AsText();
          for (std::size_t k = 0; k < leaves.size(); ++k) {
            if (touched[k]) {
              lot.SetField(static_cast<int>(k) + 2,
                           db::Value(RoundToDecimals(values[k], decimals)));
            }
          }
          return spread->steps > 0;
        });
    // Only the rows whose parents change are written: most lots have one
    // class, whose converted parents already are the sums of their leaves.
    // (A sum is never null.)
    std::string set, changed;
    for (const ParentSum& parent : ParentSums(m_arrStatFields, leaves, zeroed)) {
      std::string value = "0";
      for (std::size_t k : parent.leaves) {
        value += fmt::format("+(case when {0}>=0 then {0} else 0 end)", leaves[k]);
      }
      // The zeroed form: the lots with a positive total take their sums,
      // and every other figure of the parents is 0.
      if (!zeroed.empty() && !parent.leaves.empty()) {
        value = "case when 宗地总面积>0 then " + value + " else 0 end";
      }
      set += (set.empty() ? "" : ",") + parent.column + "=" + value;
      changed += (changed.empty() ? "" : " or ") +
                 fmt::format("{0} is null or {0}<>{1}", parent.column, value);
    }
    if (!set.empty()) {
      const std::string rows = zeroed.empty() ? "宗地总面积>0 and (" + changed + ")" : changed;
      m_pConn.Execute("update " + table + " set " + set + " where " + rows);
    }
    transaction.Commit();
    LogClassesLeftOver(table, left_over, first_left_over);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(kClassTitle, table, error);
    return 0;
  }
}

void CZdStatContext::LogClassesLeftOver(const std::string& table, long left_over,
                                        const std::string& first) {
  // One sweep over the leaves is all a lot gets: what it leaves stays.
  if (left_over == 0) return;
  LogNotice(kClassTitle + (" " + table),
            fmt::format("{} 宗地的分类面积与宗地总面积仍有差值, 首个 地籍号 {}", left_over, first));
}

namespace {

// The place of column `name` among `columns`.
std::size_t PlaceOf(const std::vector<db::GroupedSums::Column>& columns, const std::string& name) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return i;
  }
  throw db::DbError("the lot copy has no column " + name);
}

}  // namespace

CZdStatContext::AdjustedCopyNotes CZdStatContext::WriteAdjustedCopy(
    db::Connection& connection, std::mutex& connection_lock, const db::GroupedSums& lots,
    const UnitTable& unit, const std::function<double(double)>& convert,
    const db::Value& county_total,
    const std::function<void(const std::vector<db::Value>&)>& written) const {
  AdjustedCopyNotes notes{unit.table, std::nullopt, 0, {}};
  const std::vector<db::GroupedSums::Column> columns = lots.Columns();
  const std::size_t number = PlaceOf(columns, "地籍号");
  const std::size_t total = PlaceOf(columns, "宗地总面积");

  // The county's positive lots, read as they will be written (row by row
  // in writing order), their totals stepped to the county total converted
  // once: the new totals by row.
  std::unordered_map<std::size_t, double> stepped;
  if (!county_total.IsNull() && TotalFactor(m_nUnitSrc, unit.unit) != 0) {
    std::vector<Lot> county_lots;
    std::size_t row = 0;
    lots.VisitRows(
        {columns[number], columns[total]}, true, convert, [&](std::vector<db::Value>& lot) {
          const double area = lot[1].AsDouble("宗地总面积");
          if (!lot[0].IsNull() && area > 0 &&
              lot[0].AsText().compare(0, m_strPrefix2.size(), m_strPrefix2) == 0) {
            county_lots.push_back({db::Value(static_cast<long long>(row)), lot[0].AsText(), area});
          }
          ++row;
        });
    SortForStepping(county_lots);
    const double converted = ConvertedCountyTotal(county_total.AsDouble("宗地总面积"), m_nUnitSrc,
                                                  unit.unit, unit.decimals);
    std::vector<bool> touched;
    std::vector<double> areas;
    const units::Distribution spread =
        StepLotTotals(county_lots, converted, unit.decimals, touched, areas);
    for (std::size_t i = 0; i < touched.size(); ++i) {
      if (touched[i]) {
        stepped[static_cast<std::size_t>(county_lots[i].id.AsInteger())] =
            RoundToDecimals(areas[i], unit.decimals);
      }
    }
    if (spread.stalled) {
      notes.stalled_totals = StalledTotals(m_strPrefix2, converted, spread.remaining);
    }
  }

  // Each row's leaves stepped to its total, then its parents summed.
  std::vector<std::string> parent_names, leaves;
  SplitClasses(*this, leaves, parent_names);
  std::vector<std::size_t> leaf_places;
  for (const std::string& leaf : leaves) leaf_places.push_back(PlaceOf(columns, leaf));
  const std::vector<ParentSum> parents = ParentSums(m_arrStatFields, leaves, parent_names);
  std::vector<std::size_t> parent_places;
  for (const ParentSum& parent : parents) parent_places.push_back(PlaceOf(columns, parent.column));
  const bool zeroed = !parent_names.empty();

  const ClassStepper stepper(unit.decimals);
  std::vector<double> values(leaves.size());
  std::vector<bool> touched;
  long& left_over = notes.classes_left_over;
  std::string& first_left_over = notes.first_left_over;
  std::size_t row = 0;
  const auto adjust = [&](std::vector<db::Value>& lot) {
    if (const auto found = stepped.find(row++); found != stepped.end()) {
      lot[total] = db::Value(found->second);
    }
    const bool positive = lot[total].AsDouble("宗地总面积") > 0;
    if (positive) {
      for (std::size_t k = 0; k < leaves.size(); ++k) {
        values[k] = lot[leaf_places[k]].AsDouble(leaves[k]);
      }
      const std::optional<units::Distribution> spread =
          stepper.Step(values, lot[total].AsDouble("宗地总面积"), touched);
      if (spread) {
        if (spread->stalled && left_over++ == 0) first_left_over = lot[number].AsText();
        for (std::size_t k = 0; k < leaves.size(); ++k) {
          if (touched[k])
            lot[leaf_places[k]] = db::Value(RoundToDecimals(values[k], unit.decimals));
        }
      }
    }
    if (!positive && !zeroed) return;
    for (std::size_t p = 0; p < parents.size(); ++p) {
      double sum = 0;
      if (positive) {
        for (std::size_t k : parents[p].leaves) {
          const db::Value& leaf = lot[leaf_places[k]];
          if (!leaf.IsNull() && leaf.AsDouble(leaves[k]) >= 0) sum += leaf.AsDouble(leaves[k]);
        }
      }
      lot[parent_places[p]] = db::Value(sum);
    }
  };
  lots.WriteApart(connection, connection_lock, unit.table, columns, true, convert, adjust, written);
  return notes;
}

void CZdStatContext::LogAdjustedCopy(const AdjustedCopyNotes& notes) {
  if (notes.stalled_totals) LogFailure(kTotalsTitle + (" " + notes.table), *notes.stalled_totals);
  LogClassesLeftOver(notes.table, notes.classes_left_over, notes.first_left_over);
}

}  // namespace landstat
