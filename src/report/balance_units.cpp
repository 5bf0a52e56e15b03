// The change balance table in the unit of a print. Each figure converted
// and rounded on its own would leave the sheet's sums off by a unit of the
// last decimal here and there; the figures are balanced as the unit copies
// are, top down: the totals first, then the classes of each record stepped
// to its total, then the records that are sums of others (本年末面积,
// 本年末集体) and the classes that are sums of their own classes rebuilt
// from the balanced figures.

#include "report/balance_units.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/table_names.h"
#include "platform/host/trace.h"
#include "report/balance_struct.h"
#include "units/step_rule.h"
#include "units/unit_conversion.h"

namespace landstat::report {

namespace {

// Any figure offered may take a step.
const units::StepRule kAnyFigure{[](double) { return true; }, false, false};

// A figure of a record in the unit: as converted, and as rounded.
struct Figure {
  double exact;
  double* value;
};

// One record of the table: its areas in the unit before and after rounding,
// by class column, 合计 last.
struct Row {
  long number = 0;
  std::string key;  // a class record's class key
  std::vector<double> exact, value;
};

// The class columns of the table, how they nest, and its records.
class UnitSheet {
 public:
  UnitSheet(gis::LayerHandle table, double factor, int decimals)
      : table_(table), size_(units::StepFor(decimals)) {
    const std::vector<gis::FieldDef> fields = gis::LayerFields(table);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].type != gis::FieldType::kDouble || fields[i].name == kBalanceTotalField) {
        continue;
      }
      names_.push_back(fields[i].name);
      fields_.push_back(static_cast<int>(i));
    }
    total_ = names_.size();
    fields_.push_back(gis::FieldIndexOf(fields, kBalanceTotalField));
    NestColumns();
    const int key = gis::FieldIndexOf(fields, kBalanceKeyField);
    const long count = gis::RecordCount(table, gis::EntityKind::kTable);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
      Row row{number, key >= 0 ? record.Text(key) : std::string(), {}, {}};
      for (int field : fields_) row.exact.push_back(record.Number(field) * factor);
      for (double exact : row.exact) row.value.push_back(Round(exact));
      rows_.push_back(std::move(row));
    }
  }

  // The table has 合计 and the six fixed records.
  bool IsBalanceTable() {
    if (fields_.back() < 0) return false;
    for (long number = kBaseYearRow; number < kFirstClassRow; ++number) {
      if (Find(number) == nullptr) return false;
    }
    return true;
  }

  void Balance() {
    Row& base = Fixed(kBaseYearRow);
    Row& outflow = Fixed(kOutflowRow);
    Row& inflow = Fixed(kInflowRow);
    Row& current = Fixed(kCurrentRow);
    Row& state = Fixed(kCurrentStateRow);
    Row& collective = Fixed(kCurrentCollectiveRow);
    StepLeaves(base);
    // A class gone by the end of the year loses all it had and gained, so
    // that no trace of it is left in 本年末面积.
    const auto gone = [&](std::size_t column) {
      return IsZero(current.exact[column]) &&
             Holds(base.exact[column] + inflow.exact[column], outflow.exact[column]);
    };
    StepLeaves(outflow, [&](std::size_t column) -> std::optional<double> {
      if (!gone(column) || !IsZero(inflow.exact[column])) return std::nullopt;
      return base.value[column];
    });
    if (Holds(inflow.exact[total_], outflow.exact[total_])) {
      inflow.value[total_] = outflow.value[total_];
    }
    StepLeaves(inflow, [&](std::size_t column) -> std::optional<double> {
      if (!gone(column) || IsZero(inflow.exact[column])) return std::nullopt;
      return outflow.value[column] - base.value[column];
    });
    SumParents(base);
    SumParents(outflow);
    SumParents(inflow, &outflow);
    Derive(current, base, &inflow, &outflow);
    SplitTotal(current, state, collective);
    // A class without collective land at the end of the year is state-owned
    // whole, so that none shows in 本年末集体.
    StepLeaves(state, [&](std::size_t column) -> std::optional<double> {
      if (!IsZero(collective.exact[column]) || !Holds(state.exact[column], current.exact[column])) {
        return std::nullopt;
      }
      return current.value[column];
    });
    SumParents(state);
    Derive(collective, current, nullptr, &state);
    for (Row& row : rows_) {
      if (row.number < kFirstClassRow) continue;
      const auto key = std::find(names_.begin(), names_.end(), row.key);
      if (key != names_.end()) {
        const std::size_t column = static_cast<std::size_t>(key - names_.begin());
        if (Holds(row.exact[total_], outflow.exact[column])) {
          row.value[total_] = outflow.value[column];
        }
      }
      StepLeaves(row);
      SumParents(row);
    }
  }

  void WriteBack() const {
    gis::Record record;
    for (const Row& row : rows_) {
      if (!gis::ReadRecord(table_, gis::EntityKind::kTable, row.number, record)) continue;
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        record.SetText(fields_[i], fmt::format("{:.{}f}", row.value[i], size_.decimals));
      }
      gis::WriteRecord(table_, record);
    }
  }

 private:
  double Round(double value) const { return RoundToDecimals(value, size_.decimals); }

  // A sum the square-metre figures hold, to a tenth of a unit of the last
  // decimal.
  bool Holds(double a, double b) const { return std::fabs(a - b) <= size_.tolerance; }
  bool IsZero(double value) const { return Holds(value, 0); }

  // The record of that number; null when it could not be read.
  Row* Find(long number) {
    const auto row = std::find_if(rows_.begin(), rows_.end(),
                                  [&](const Row& each) { return each.number == number; });
    return row == rows_.end() ? nullptr : &*row;
  }
  Row& Fixed(long number) { return *Find(number); }

  // Each class column's own classes: the columns whose key it begins, of
  // which it is the longest such key ("D01" holds "D011" and "D012").
  void NestColumns() {
    children_.assign(names_.size(), {});
    for (std::size_t child = 0; child < names_.size(); ++child) {
      std::optional<std::size_t> parent;
      for (std::size_t other = 0; other < names_.size(); ++other) {
        const std::string& name = names_[other];
        if (name.size() < names_[child].size() &&
            names_[child].compare(0, name.size(), name) == 0 &&
            (!parent || name.size() > names_[*parent].size())) {
          parent = other;
        }
      }
      if (parent) children_[*parent].push_back(child);
    }
    for (std::size_t column = 0; column < names_.size(); ++column) {
      if (children_[column].empty()) {
        leaves_.push_back(column);
      } else {
        parents_.push_back(column);
      }
    }
    // The deepest first, so that a sum is made of sums already made.
    std::stable_sort(parents_.begin(), parents_.end(), [&](std::size_t a, std::size_t b) {
      return names_[a].size() > names_[b].size();
    });
  }

  // Steps the lowest classes of a record to its 合计 when they add up to it
  // in square metres. A class that `pinned` gives a figure takes that figure
  // and no step. When the others cannot take the steps, 合计 becomes their
  // sum.
  void StepLeaves(Row& row,
                  const std::function<std::optional<double>(std::size_t)>& pinned = nullptr) {
    double exact_sum = 0, fixed = 0;
    std::vector<Figure> free;
    for (std::size_t leaf : leaves_) {
      exact_sum += row.exact[leaf];
      const std::optional<double> pin = pinned ? pinned(leaf) : std::nullopt;
      if (pin) {
        row.value[leaf] = Round(*pin);
        fixed += row.value[leaf];
      } else {
        free.push_back({row.exact[leaf], &row.value[leaf]});
      }
    }
    if (!Holds(exact_sum, row.exact[total_])) return;
    Step(free, Round(row.value[total_] - fixed));
    double sum = 0;
    for (std::size_t leaf : leaves_) sum += row.value[leaf];
    row.value[total_] = Round(sum);
  }

  // Makes each class that has classes of its own their sum where it is so
  // in square metres. Of 本年增加 (`along` 本年减少) it is the difference
  // from 本年减少, what a class gains, that is made a sum where it can be:
  // the moves within a class are in neither.
  void SumParents(Row& row, const Row* along = nullptr) {
    for (std::size_t parent : parents_) {
      if (!(along && MakeSum(row, parent, along))) MakeSum(row, parent, nullptr);
    }
  }

  // Makes a class the sum of its own classes, each less its figure in
  // `along` when given, if it is so in square metres; false when it is not.
  bool MakeSum(Row& row, std::size_t parent, const Row* along) const {
    const auto less = [&](std::vector<double> Row::*of, std::size_t column) {
      return (row.*of)[column] - (along ? (along->*of)[column] : 0.0);
    };
    double exact = 0, value = 0;
    for (std::size_t child : children_[parent]) {
      exact += less(&Row::exact, child);
      value += less(&Row::value, child);
    }
    if (!Holds(exact, less(&Row::exact, parent))) return false;
    row.value[parent] = Round(value + (along ? along->value[parent] : 0.0));
    return true;
  }

  // row = plus - minus (+ also), column by column where the square-metre
  // figures are so.
  void Derive(Row& row, const Row& plus, const Row* also, const Row* minus) const {
    for (std::size_t column = 0; column <= total_; ++column) {
      const auto sum = [&](const std::vector<double> Row::*of) {
        return (plus.*of)[column] + (also ? (also->*of)[column] : 0.0) -
               (minus ? (minus->*of)[column] : 0.0);
      };
      if (Holds(sum(&Row::exact), row.exact[column])) row.value[column] = Round(sum(&Row::value));
    }
  }

  // 合计 of the state-owned and the collective record stepped to that of
  // the current record.
  void SplitTotal(const Row& current, Row& state, Row& collective) const {
    if (Holds(state.exact[total_] + collective.exact[total_], current.exact[total_])) {
      Step({{state.exact[total_], &state.value[total_]},
            {collective.exact[total_], &collective.value[total_]}},
           current.value[total_]);
    }
  }

  // Steps rounded figures until they add up to `target`, as far as they
  // can. The figure that rounding took furthest from its square-metre
  // figure, against the direction of the steps, takes the first (the larger
  // figure of two alike); a figure that is 0 in square metres takes none.
  void Step(std::vector<Figure> figures, double target) const {
    double sum = 0;
    for (const Figure& figure : figures) sum += *figure.value;
    const double difference = Round(target - sum);
    if (difference == 0) return;
    std::erase_if(figures, [&](const Figure& figure) { return IsZero(figure.exact); });
    // How far rounding left each figure behind the steps, in millionths of a
    // step, so that equal remainders compare equal.
    const double direction = difference > 0 ? 1.0 : -1.0;
    const auto behind = [&](const Figure& figure) {
      return std::llround((figure.exact - *figure.value) * direction / size_.step * 1e6);
    };
    std::stable_sort(figures.begin(), figures.end(), [&](const Figure& a, const Figure& b) {
      const long long left_a = behind(a), left_b = behind(b);
      return left_a != left_b ? left_a > left_b : std::fabs(a.exact) > std::fabs(b.exact);
    });
    std::vector<double> values;
    for (const Figure& figure : figures) values.push_back(*figure.value);
    units::Distribute(values, difference, size_, kAnyFigure);
    for (std::size_t i = 0; i < figures.size(); ++i) *figures[i].value = values[i];
  }

  gis::LayerHandle table_;
  units::StepSize size_;
  std::vector<std::string> names_;  // the class columns
  std::vector<int> fields_;         // their fields, 合计's last
  std::size_t total_ = 0;           // 合计's place in a row
  std::vector<std::vector<std::size_t>> children_;
  std::vector<std::size_t> leaves_, parents_;
  std::vector<Row> rows_;
};

}  // namespace

short BalanceTableInUnit(gis::LayerHandle table, short unit, int decimals) {
  try {
    UnitSheet sheet(table, UnitFactor(kSquareMetre, unit), decimals);
    if (!sheet.IsBalanceTable()) return 0;
    sheet.Balance();
    sheet.WriteBack();
    return 1;
  } catch (const std::exception& error) {
    host::yDebugStr(std::string("balance table in a unit: ") + error.what());
    return 0;
  }
}

}  // namespace landstat::report
