// Balancing of the land-use summary tables after a unit conversion. Each
// figure was converted and rounded on its own, so the rows no longer add up:
// top down, the totals of the townships are stepped to the county's, those
// of the villages to their township's and those of the units to their
// village's; then the classes of each lowest row are stepped to its total;
// then every upper row is rebuilt as the sum of the rows below it. Tables of
// unit pairs (enclaves) are balanced row by row. The unit rows of tables
// summed in the source unit and converted are made to add up to their
// villages.

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"
#include "units/summary_rows.h"

namespace landstat {
namespace {

using Columns = std::vector<std::string>;
using units::SummaryRows;

// A parent column and the columns that make it up.
struct Node {
  std::string parent;
  Columns children;
};

// How the area columns of a table hang together within a row.
struct RowShape {
  std::vector<Node> steps;    // children stepped to their parent, top down
  std::vector<Node> partial;  // extension classes: stepped when they nearly add up already
  std::vector<Node> sums;     // then each parent made the sum of its children
  Columns columns;            // every area column
};

bool Contains(const Columns& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// Leaves in balancing order: the groups of OrderBalanceFields first, then
// any column those groups leave out.
Columns InBalancingOrder(const Columns& leaves) {
  Columns ordered = leaves;
  OrderBalanceFields(ordered);
  for (const std::string& leaf : leaves) {
    if (!Contains(ordered, leaf)) ordered.push_back(leaf);
  }
  return ordered;
}

// Tables with a total and one column per class ("BM" + code): the total is
// made of the leaf classes, a first-level class of its second-level classes,
// and a class extended by four-character codes of its extensions.
RowShape ClassShape(const Columns& names, const std::string& total) {
  Columns codes;
  for (const std::string& name : names) {
    if (name.rfind("BM", 0) == 0 && name.size() > 2) codes.push_back(name.substr(2));
  }
  const auto children_of = [&](const std::string& code) {
    Columns children;
    for (const std::string& other : codes) {
      if (other.size() == code.size() + 1 && other.compare(0, code.size(), code) == 0) {
        children.push_back("BM" + other);
      }
    }
    return children;
  };
  RowShape shape;
  Columns leaves;
  shape.columns.push_back(total);
  for (const std::string& code : codes) {
    shape.columns.push_back("BM" + code);
    if (code.size() > 3) continue;  // an extension
    const Columns children = children_of(code);
    if (code.size() == 3 || children.empty()) {
      leaves.push_back("BM" + code);
      if (!children.empty()) shape.partial.push_back({"BM" + code, children});
    } else {
      shape.sums.push_back({"BM" + code, children});
    }
  }
  shape.steps.push_back({total, InBalancingOrder(leaves)});
  return shape;
}

// The ownership tables: ZHJ = GHJ + JHJ, GHJ the state-owned (G) parts of
// the classes, JHJ the collective (J) parts, each class's HJ = G + J.
RowShape OwnershipShape(const Columns& names) {
  RowShape shape;
  Columns state, collective;
  shape.columns = {"ZHJ", "GHJ", "JHJ"};
  for (const std::string& name : names) {
    if (name.size() < 5 || name.rfind("BM", 0) != 0 ||
        name.compare(name.size() - 2, 2, "HJ") != 0) {
      continue;
    }
    const std::string head = name.substr(0, name.size() - 2);
    state.push_back(head + "G");
    collective.push_back(head + "J");
    shape.sums.push_back({name, {head + "G", head + "J"}});
    shape.columns.insert(shape.columns.end(), {name, head + "G", head + "J"});
  }
  shape.steps = {{"ZHJ", {"GHJ", "JHJ"}},
                 {"GHJ", InBalancingOrder(state)},
                 {"JHJ", InBalancingOrder(collective)}};
  return shape;
}

// Distributes `difference` over `values` by the step rule. Values that all
// rounded to zero cannot take steps: a positive difference then goes whole
// to the value whose `weights` entry is largest (the first when there are
// none), so a total is never left without the classes that make it up.
units::Distribution StepValues(std::vector<double>& values, double difference,
                               const units::StepSize& size,
                               const std::vector<double>& weights = {}) {
  units::Distribution result =
      units::Distribute(values, difference, size, units::AboveTolerance(size));
  const bool all_zero = std::all_of(values.begin(), values.end(),
                                    [&](double value) { return value <= size.tolerance; });
  if (result.stalled && all_zero && result.remaining >= size.tolerance && !values.empty()) {
    std::size_t target = 0;
    for (std::size_t i = 1; i < weights.size() && i < values.size(); ++i) {
      if (weights[i] > weights[target]) target = i;
    }
    values[target] = RoundToDecimals(values[target] + result.remaining, size.decimals);
    result.remaining = 0;
    result.stalled = false;
  }
  return result;
}

// Steps `column` of the rows `keys`, in their order, until they add up to
// `target`; where they all rounded to zero, the row of the largest `weight`
// column (when one is named) takes what is left.
units::Distribution StepColumn(SummaryRows& rows, const std::vector<std::string>& keys,
                               const std::string& column, double target,
                               const units::StepSize& size, const std::string& weight = {}) {
  std::vector<double> values, weights;
  double sum = 0;
  for (const std::string& key : keys) {
    values.push_back(rows[key].at(column));
    if (!weight.empty()) weights.push_back(rows[key].at(weight));
    sum += values.back();
  }
  const units::Distribution result = StepValues(values, target - sum, size, weights);
  for (std::size_t i = 0; i < keys.size(); ++i) rows[keys[i]][column] = values[i];
  return result;
}

// The balancing of one table held in memory.
class LevelBalancer {
 public:
  LevelBalancer(CStatContext& context, const std::string& table, SummaryRows& rows, RowShape shape,
                int decimals)
      : context_(context),
        table_(table),
        rows_(rows),
        shape_(std::move(shape)),
        size_(units::StepFor(decimals)) {}

  // Rows under the county as a tree of levels; any other row on its own.
  void BalanceLevels(const std::string& county) {
    std::vector<std::string> lowest, upper;
    if (rows_.Has(county)) StepTotals(county, lowest, upper);
    const std::set<std::string> in_tree(upper.begin(), upper.end());
    const std::set<std::string> lowest_in_tree(lowest.begin(), lowest.end());
    for (const std::string& key : rows_.Keys()) {
      if (!in_tree.count(key) && !lowest_in_tree.count(key)) lowest.push_back(key);
    }
    for (const std::string& key : lowest) BalanceRow(key);
    // Children come after their parents in `upper`: walk it backwards.
    for (auto it = upper.rbegin(); it != upper.rend(); ++it) RollUp(*it);
  }

  void BalanceRows() {
    for (const std::string& key : rows_.Keys()) BalanceRow(key);
  }

 private:
  // The rows one level below a row: the next code length with rows under
  // it (township 9, village 12, unit 19).
  std::vector<std::string> ChildrenOf(const std::string& key) const {
    const std::string code = SummaryRows::CodeOf(key);
    for (std::size_t length : {9u, 12u, 19u}) {
      if (length <= code.size()) continue;
      std::vector<std::string> children = rows_.Under(code, length - code.size());
      if (!children.empty()) return children;
    }
    return {};
  }

  void StepTotals(const std::string& key, std::vector<std::string>& lowest,
                  std::vector<std::string>& upper) {
    std::vector<std::string> children = ChildrenOf(key);
    const std::string code = SummaryRows::CodeOf(key);
    if (!children.empty() && rows_.Under(code, 0).size() > 1) {
      // An upper unit in several rows cannot be the sum of the rows below
      // it: its rows and theirs are balanced each on its own.
      context_.LogFailure("平差分类面积失败", table_ + " " + code + " 行政区代码重复");
      children.clear();
    }
    if (children.empty()) {
      lowest.push_back(key);
      return;
    }
    upper.push_back(key);
    const std::string& total = shape_.steps.front().parent;
    // The largest rows take the steps first.
    std::stable_sort(children.begin(), children.end(), [&](const auto& a, const auto& b) {
      return rows_[a].at(total) > rows_[b].at(total);
    });
    Step(rows_[key].at(total), children, total, code);
    for (const std::string& child : children) {
      parent_of_[child] = key;
      StepTotals(child, lowest, upper);
    }
  }

  // Steps `column` of the rows `keys` until they add up to `target`.
  void Step(double target, const std::vector<std::string>& keys, const std::string& column,
            const std::string& where) {
    const units::Distribution result = StepColumn(rows_, keys, column, target, size_);
    if (result.stalled) ReportStalled(where, result.remaining);
  }

  void BalanceRow(const std::string& key) {
    SummaryRows::Row& row = rows_[key];
    // Classes that all rounded to zero take their row's total where the
    // row above has most.
    auto parent = parent_of_.find(key);
    const SummaryRows::Row* reference =
        parent == parent_of_.end() ? nullptr : &rows_[parent->second];
    for (const Node& node : shape_.steps) {
      const units::Distribution result = StepNode(row, node, reference);
      if (result.stalled) ReportStalled(key, result.remaining);
    }
    for (const Node& node : shape_.partial) {
      // Extension classes that split only part of their class stay as they are.
      if (std::fabs(Difference(row, node)) <= size_.step * node.children.size() + size_.tolerance) {
        StepNode(row, node, nullptr);
      }
    }
    for (const Node& node : shape_.sums) {
      row[node.parent] = RoundToDecimals(SummaryRows::SumOf(row, node.children), size_.decimals);
    }
  }

  static double Difference(SummaryRows::Row& row, const Node& node) {
    return row.at(node.parent) - SummaryRows::SumOf(row, node.children);
  }

  units::Distribution StepNode(SummaryRows::Row& row, const Node& node,
                               const SummaryRows::Row* reference) {
    std::vector<double> values, weights;
    for (const std::string& child : node.children) {
      values.push_back(row.at(child));
      weights.push_back(reference ? reference->at(child) : 0);
    }
    const units::Distribution result = StepValues(values, Difference(row, node), size_, weights);
    for (std::size_t i = 0; i < values.size(); ++i) row[node.children[i]] = values[i];
    return result;
  }

  // An upper row becomes the sum of the rows below it, column by column.
  void RollUp(const std::string& key) {
    rows_.SetToSum(key, ChildrenOf(key), shape_.columns, size_.decimals);
  }

  void ReportStalled(const std::string& key, double remaining) {
    context_.LogFailure("平差分类面积失败", table_ + " " + SummaryRows::CodeOf(key) + " 剩余差值 " +
                                                text::DoubleToText(remaining));
  }

  CStatContext& context_;
  const std::string& table_;
  SummaryRows& rows_;
  RowShape shape_;
  units::StepSize size_;
  std::map<std::string, std::string> parent_of_;  // a row's key -> the key of the row above
};

}  // namespace

short CStatContext::BalanceUnitRows(const std::string& table,
                                    const std::vector<std::string>& stepped,
                                    const std::vector<ColumnSum>& sums, int decimals) {
  try {
    Columns columns = stepped;
    for (const auto& [total, parts] : sums) {
      if (!Contains(columns, total)) columns.push_back(total);
    }
    SummaryRows rows(m_pConn, table, {"XZQDM"}, columns);
    const units::StepSize size = units::StepFor(decimals);
    // Where a column's units all rounded to 0, the unit of the largest
    // total takes the village's figure.
    const std::string weight = sums.empty() ? std::string() : sums.back().first;
    for (const std::string& village : rows.Keys()) {
      if (village.size() != 12) continue;  // a repeated code is numbered past 12
      std::vector<std::string> units = rows.Under(village, 7);
      if (units.empty()) continue;
      for (const std::string& column : stepped) {
        std::stable_sort(units.begin(), units.end(), [&](const auto& a, const auto& b) {
          return rows[a].at(column) > rows[b].at(column);
        });
        const units::Distribution result =
            StepColumn(rows, units, column, rows[village].at(column), size, weight);
        if (result.stalled) {
          LogFailure("平差分类面积失败", table + " " + village + " " + column + " 剩余差值 " +
                                             text::DoubleToText(result.remaining));
        }
      }
      for (const std::string& unit : units) {
        SummaryRows::Row& row = rows[unit];
        for (const auto& [total, parts] : sums) {
          row[total] = RoundToDecimals(SummaryRows::SumOf(row, parts), decimals);
        }
      }
    }
    rows.Save(decimals);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差汇总表", table + " 平差失败", error);
    return 0;
  }
}

short CStatContext::BalanceSummaryLevels(const std::string& table, SummaryShape shape) {
  try {
    Columns names;
    // Servers may give the names in lower case; rows are read by name in
    // any case.
    for (const db::ColumnInfo& column : m_pConn.Columns(table)) {
      names.push_back(text::ToUpperAscii(column.name));
    }
    const bool pairs = shape == SummaryShape::kEnclavePairs;
    RowShape rows_shape = shape == SummaryShape::kOwnershipLevels
                              ? OwnershipShape(names)
                              : ClassShape(names, pairs ? "FRDMJ" : "XZQZMJ");
    const Columns keys = pairs ? Columns{"SZXZQDM", "SSXZQDM"} : Columns{"XZQDM"};
    const Columns names_order = pairs ? Columns{"SZXZQMC", "SSXZQMC"} : Columns{"XZQMC"};
    SummaryRows rows(m_pConn, table, keys, rows_shape.columns, names_order);
    LevelBalancer balancer(*this, table, rows, std::move(rows_shape), m_nDecSrc);
    if (pairs) {
      balancer.BalanceRows();
    } else {
      balancer.BalanceLevels(m_strPrefix2);
    }
    rows.Save(m_nDecSrc);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差汇总表", table + " 平差失败", error);
    return 0;
  }
}

}  // namespace landstat
