// Top-down balancing of the converted Inner Mongolia copies: the county
// total of unit 1's copy, converted once, over the location units; each
// unit's total over its rows; each row's total over its leaf classes, whose
// parents are rebuilt from them. Each copy is balanced in memory, as the
// run holds it, and written back whole, in the run's workspace.

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unordered_map>

#include "engine/rounding.h"
#include "engine/text_helpers.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "units/step_rule.h"
#include "units/unit_conversion.h"

namespace landstat {

short CMgStatContext::HasSubClassField(const std::string& column) const {
  for (const std::string& other : m_arrStatFields) {
    if (other.size() > column.size() && other.compare(0, 2, "BM") == 0 &&
        other.compare(0, column.size(), column) == 0) {
      return 1;
    }
  }
  return 0;
}

short CMgStatContext::OrderBalanceFields(std::vector<std::string>& leaves) const {
  // Groups in the order their steps go: 10 to 12, 20, 05 to 09, 01 to 04.
  CSortStringArray groups[4];
  for (const std::string& leaf : leaves) {
    const auto between = [&](const char* low, const char* high) {
      return leaf >= low && leaf <= high;
    };
    if (leaf.find("BM20") != std::string::npos) {
      groups[1].push_back(leaf);
    } else if (between("BM10", "BM12z")) {
      groups[0].push_back(leaf);
    } else if (between("BM01", "BM04z")) {
      groups[3].push_back(leaf);
    } else if (between("BM05", "BM09z")) {
      groups[2].push_back(leaf);
    }
  }
  leaves.clear();
  for (CSortStringArray& group : groups) {
    group.Sort(2);
    leaves.insert(leaves.end(), group.begin(), group.end());
  }
  return 1;
}

namespace {

// The place of 座落单位代码 among the group columns.
std::size_t LocationPlace() {
  const auto found = std::find(kMgGroupColumns.begin(), kMgGroupColumns.end(), "座落单位代码");
  return static_cast<std::size_t>(found - kMgGroupColumns.begin());
}

// A figure column of a copy; a copy without it cannot be balanced.
int FigureColumn(const mg::MgCopy& copy, const std::string& name) {
  const int column = copy.Column(name);
  if (column < 0) throw db::DbError("内蒙古扩展基础数据没有列 " + name);
  return column;
}

// One converted copy being balanced against the copy of unit 1.
class CopyBalancer {
 public:
  CopyBalancer(CMgStatContext& context, const mg::MgCopy& first, mg::MgCopy& copy, short decimals)
      : context_(context),
        texts_(context.Texts()),
        first_(first),
        copy_(copy),
        size_(units::StepFor(decimals)),
        location_(LocationPlace()),
        total_(FigureColumn(copy, "土地总面积")) {}

  // Phase A: `target` over the county's location units, largest first,
  // then each unit's total over its rows, rows above 1 first.
  void BalanceLocations(double target) {
    std::map<std::string, std::vector<std::size_t>> units;
    for (std::size_t row = 0; row < copy_.Rows(); ++row) {
      const std::string& code = Location(row);
      if (code.compare(0, context_.m_strPrefix2.size(), context_.m_strPrefix2) == 0) {
        units[code].push_back(row);
      }
    }
    std::vector<std::pair<std::string, double>> totals;
    for (const auto& [code, rows] : units) totals.emplace_back(code, Sum(rows));
    std::stable_sort(totals.begin(), totals.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<double> values;
    for (const auto& unit : totals) values.push_back(unit.second);
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    Spread(values, target - sum, units::AboveTolerance(size_), "县级代码 " + context_.m_strPrefix2);
    for (std::size_t i = 0; i < totals.size(); ++i) {
      BalanceRows(totals[i].first, units[totals[i].first], values[i]);
    }
  }

  // Phase B: every row's leaves to its total, parents rebuilt.
  void BalanceClasses(const std::vector<std::string>& leaves,
                      const std::vector<std::string>& ordered,
                      const std::vector<std::string>& parents) {
    // Rows of the two copies are paired by their group columns, never by
    // their places.
    std::unordered_map<mg::MgKey, std::size_t, mg::MgKeyHash> first_rows;
    for (std::size_t row = 0; row < first_.Rows(); ++row) first_rows[first_.keys[row]] = row;
    Columns columns;
    for (const std::string& leaf : leaves) columns.leaves.push_back(FigureColumn(copy_, leaf));
    for (const std::string& leaf : ordered) {
      columns.ordered.push_back(FigureColumn(copy_, leaf));
      columns.first_ordered.push_back(FigureColumn(first_, leaf));
    }
    for (const std::string& parent : parents) {
      columns.parents.push_back(FigureColumn(copy_, parent));
    }
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      for (std::size_t length = leaves[i].size() - 1; length >= 4; --length) {
        const int parent = copy_.Column(leaves[i].substr(0, length));
        if (parent >= 0) columns.ancestors[i].push_back(parent);
      }
    }
    for (std::size_t row = 0; row < copy_.Rows(); ++row) {
      const auto found = first_rows.find(copy_.keys[row]);
      BalanceRow(row, found == first_rows.end() ? nullptr : first_.Row(found->second), columns);
    }
  }

 private:
  struct Columns {
    std::vector<int> leaves, ordered, first_ordered, parents;
    std::map<std::size_t, std::vector<int>> ancestors;  // by place in `leaves`
  };

  const std::string& Location(std::size_t row) const {
    return texts_.Text(copy_.keys[row][location_]);
  }
  double Total(std::size_t row) const { return copy_.Row(row)[total_]; }

  double Sum(const std::vector<std::size_t>& rows) const {
    double sum = 0;
    for (std::size_t row : rows) sum += Total(row);
    return sum;
  }

  // Spreads a difference, rounded to the copy's grid; a remainder that no
  // value could take (the loop ends when a sweep changes nothing) is logged
  // under `what`.
  bool Spread(std::vector<double>& values, double difference, const units::StepRule& rule,
              const std::string& what) {
    const units::Distribution spread =
        units::Distribute(values, RoundToDecimals(difference, size_.decimals), size_, rule);
    if (spread.stalled) {
      context_.LogFailure(what, "平差面积失败, 余差 " + std::to_string(spread.remaining));
    }
    return !spread.stalled;
  }

  // The rows of equal totals keep the copy's order, that of their group
  // columns.
  void BalanceRows(const std::string& code, std::vector<std::size_t> rows, double target) {
    std::stable_sort(rows.begin(), rows.end(),
                     [&](std::size_t a, std::size_t b) { return Total(a) > Total(b); });
    std::vector<std::size_t> stepped;
    for (std::size_t row : rows) {
      if (Total(row) > 1) stepped.push_back(row);
    }
    if (stepped.empty()) stepped = rows;
    std::vector<double> values;
    for (std::size_t row : stepped) values.push_back(Total(row));
    Spread(values, target - Sum(rows), units::AboveTolerance(size_), "座落单位代码 " + code);
    for (std::size_t i = 0; i < stepped.size(); ++i) copy_.Row(stepped[i])[total_] = values[i];
  }

  void BalanceRow(std::size_t place, const double* first, const Columns& columns) {
    double* row = copy_.Row(place);
    for (int parent : columns.parents) row[parent] = 0.0;
    double sum = 0;
    for (int leaf : columns.leaves) sum += row[leaf];
    const double total = row[total_];
    double difference = RoundToDecimals(total - sum, size_.decimals);
    const std::string title =
        "座落单位代码 " + Location(place) + " 土地总面积 " + std::to_string(total);
    if (std::fabs(difference) > size_.tolerance) {
      if (std::fabs(difference) > sum && difference < 0) {
        context_.LogFailure(title, "平差分类面积失败");
      } else {
        if (std::fabs(difference) > sum)
          difference = SeedFromFirst(row, first, columns, difference);
        difference = StepLeaves(row, columns, difference, title);
      }
    }
    // Parents are the sums of every leaf, those outside the stepped
    // groups and those of a row that could not be balanced included.
    for (std::size_t i = 0; i < columns.leaves.size(); ++i) {
      const auto found = columns.ancestors.find(i);
      if (found == columns.ancestors.end()) continue;
      const double value = row[columns.leaves[i]];
      for (int parent : found->second) {
        row[parent] = RoundToDecimals(row[parent] + value, size_.decimals);
      }
    }
  }

  // A row whose leaves hold less than half its total: a step each, in
  // sweeps, to the leaves the row holds in unit 1's copy. What is left.
  double SeedFromFirst(double* row, const double* first, const Columns& columns,
                       double difference) {
    std::vector<int> seeded;
    for (std::size_t i = 0; first && i < columns.ordered.size(); ++i) {
      if (first[columns.first_ordered[i]] > 0) seeded.push_back(columns.ordered[i]);
    }
    std::vector<double> values;
    for (int column : seeded) values.push_back(row[column]);
    const units::StepRule any{[](double) { return true; }};
    const units::Distribution spread = units::Distribute(values, difference, size_, any);
    for (std::size_t i = 0; i < seeded.size(); ++i) row[seeded[i]] = values[i];
    return spread.remaining;
  }

  // The leaves above 1 (else all of the stepped groups) take the rest. A
  // leaf gives a step only when it holds a whole step, so no leaf goes
  // below 0 and the difference loses exactly what the leaves gave.
  double StepLeaves(double* row, const Columns& columns, double difference,
                    const std::string& title) {
    std::vector<int> stepped;
    for (int column : columns.ordered) {
      if (row[column] > 1.0) stepped.push_back(column);
    }
    if (stepped.empty()) stepped = columns.ordered;
    std::vector<double> values;
    for (int column : stepped) values.push_back(row[column]);
    const double least = difference < 0 ? size_.step - size_.tolerance : size_.tolerance;
    const units::StepRule rule{[least](double value) { return value >= least; }};
    const units::Distribution spread = units::Distribute(values, difference, size_, rule);
    for (std::size_t i = 0; i < stepped.size(); ++i) row[stepped[i]] = values[i];
    if (spread.stalled) {
      context_.LogFailure(title, "平差分类面积失败, 余差 " + std::to_string(spread.remaining));
    }
    return spread.remaining;
  }

  CMgStatContext& context_;
  const mg::MgTexts& texts_;
  const mg::MgCopy& first_;
  mg::MgCopy& copy_;
  const units::StepSize size_;
  const std::size_t location_;
  const int total_;
};

}  // namespace

short CMgStatContext::BalanceStatData() {
  return BalanceAndWrite(false);
}

short CMgStatContext::BalanceAndWrite(bool with_first) {
  std::vector<UnitSlot> slots = ConfiguredUnits();
  std::vector<std::string> leaves, parents;
  for (const std::string& column : m_arrStatFields) {
    if (column.compare(0, 2, "BM") != 0) continue;
    (HasSubClassField(column) ? parents : leaves).push_back(column);
  }
  std::vector<std::string> ordered = leaves;
  OrderBalanceFields(ordered);
  // Each copy is written on a thread of its own while the next is
  // balanced: the copies are all read first, and the connection is lent.
  // A fill on a server writes each on a connection of its own, beside the
  // run's (MoveCopiesBeside takes them in), when each unit has one copy.
  std::optional<mg::MgCopyWriting> writing;
  std::set<short> distinct;
  for (const UnitSlot& slot : slots) distinct.insert(slot.unit);
  const bool beside = with_first && distinct.size() == slots.size();
  const auto write = [&](short unit) {
    if (beside && WriteCopyBeside(unit)) return;
    if (writing) writing->Finish();
    LendConnection(true);
    writing.emplace(m_pConn, UnitCopyTable(unit), HeldCopy(unit), m_texts);
  };
  try {
    for (const UnitSlot& slot : slots) HeldCopy(slot.unit);
    if (with_first) write(m_nUnit1);
    // The reference stays as it was read, also when a slot names unit 1
    // again and balances its copy.
    const mg::MgCopy& held_first = HeldCopy(m_nUnit1);
    std::optional<mg::MgCopy> kept;
    for (std::size_t i = 1; i < slots.size(); ++i) {
      if (slots[i].unit == m_nUnit1 && !kept) kept = held_first;
    }
    const mg::MgCopy& first = kept ? *kept : held_first;
    double county_total = 0;
    const std::size_t location = LocationPlace();
    const int total = FigureColumn(first, "土地总面积");
    for (std::size_t row = 0; row < first.Rows(); ++row) {
      if (m_texts.Text(first.keys[row][location]).compare(0, m_strPrefix2.size(), m_strPrefix2) ==
          0) {
        county_total += first.Row(row)[total];
      }
    }
    for (std::size_t i = 1; i < slots.size(); ++i) {
      mg::MgCopy& copy = HeldCopy(slots[i].unit);
      // A copy being written is not balanced meanwhile.
      if (writing && &copy == &HeldCopy(m_nUnit1)) writing->Finish();
      CopyBalancer balancer(*this, first, copy, slots[i].decimals);
      balancer.BalanceLocations(
          RoundToDecimals(county_total * UnitFactor(m_nUnit1, slots[i].unit), slots[i].decimals));
      balancer.BalanceClasses(leaves, ordered, parents);
      write(slots[i].unit);
    }
    if (writing) writing->Finish();
    LendConnection(false);
    return 1;
  } catch (const db::DbError& error) {
    writing.reset();
    LendConnection(false);
    LogFailure("平差内蒙古扩展基础数据", "平差分类面积失败", error);
    return 0;
  }
}

}  // namespace landstat
