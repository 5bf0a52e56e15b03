// Top-down balancing of the converted Inner Mongolia copies: the county
// total of unit 1's copy, converted once, over the location units; each
// unit's total over its rows; each row's total over its leaf classes, whose
// parents are rebuilt from them. Each copy is read into memory, balanced
// there and written back whole, in the run's workspace.

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <unordered_map>

#include "engine/rounding.h"
#include "engine/text_helpers.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/text/ascii_text.h"
#include "units/copy_rows.h"
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

// A copy read whole: its columns and rows, the numbers as doubles.
struct CopyRows {
  std::vector<std::string> names;
  std::vector<std::vector<db::Value>> rows;
  std::unordered_map<std::string, int> column_of;  // lower-case name -> place

  int Column(const std::string& name) const {
    const auto found = column_of.find(text::ToLowerAscii(name));
    if (found == column_of.end()) throw db::DbError("内蒙古扩展基础数据没有列 " + name);
    return found->second;
  }
  // A row's group columns: rows of two copies are paired by them (a server
  // returns rows in no fixed order, so never by position), a null apart
  // from an empty text as the grouping keeps them.
  std::string Key(std::size_t row) const {
    std::string key;
    for (const std::string& column : kMgGroupColumns) {
      const db::Value& value = rows[row][Column(column)];
      units::CopyRows::KeyPart(value.IsNull(), value.AsText(), key);
      key += '\x1f';
    }
    return key;
  }
};

CopyRows ReadCopy(db::Connection& connection, const std::string& table) {
  CopyRows copy;
  std::unique_ptr<db::RowSource> rows = connection.Scan("select * from " + table);
  for (const db::ColumnInfo& column : rows->Columns()) {
    copy.column_of.emplace(text::ToLowerAscii(column.name), static_cast<int>(copy.names.size()));
    copy.names.push_back(column.name);
  }
  std::vector<db::Value> row;
  while (rows->Fetch(row)) copy.rows.push_back(row);
  return copy;
}

// Replaces the copy's rows by the balanced ones.
void WriteCopy(db::Connection& connection, const std::string& table, const CopyRows& copy) {
  connection.Execute("delete from " + table);
  db::RowWriter writer(connection, table, copy.names);
  for (const std::vector<db::Value>& row : copy.rows) writer.Add(row);
  writer.Close();
}

double Number(const db::Value& value) {
  return value.IsNull() ? 0 : value.AsDouble();
}

// One converted copy being balanced against the copy of unit 1.
class CopyBalancer {
 public:
  CopyBalancer(CMgStatContext& context, const CopyRows& first, CopyRows& copy, short decimals)
      : context_(context),
        first_(first),
        copy_(copy),
        size_(units::StepFor(decimals)),
        location_(copy.Column("座落单位代码")),
        total_(copy.Column("土地总面积")) {}

  // Phase A: `target` over the county's location units, largest first,
  // then each unit's total over its rows, rows above 1 first.
  void BalanceLocations(double target) {
    std::map<std::string, std::vector<std::size_t>> units;
    for (std::size_t row = 0; row < copy_.rows.size(); ++row) {
      const std::string code = copy_.rows[row][location_].AsText();
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
    std::unordered_map<std::string, std::size_t> first_rows;
    for (std::size_t row = 0; row < first_.rows.size(); ++row) first_rows[first_.Key(row)] = row;
    Columns columns;
    for (const std::string& leaf : leaves) columns.leaves.push_back(copy_.Column(leaf));
    for (const std::string& leaf : ordered) {
      columns.ordered.push_back(copy_.Column(leaf));
      columns.first_ordered.push_back(first_.Column(leaf));
    }
    for (const std::string& parent : parents) columns.parents.push_back(copy_.Column(parent));
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      for (std::size_t length = leaves[i].size() - 1; length >= 4; --length) {
        const auto parent = copy_.column_of.find(text::ToLowerAscii(leaves[i].substr(0, length)));
        if (parent != copy_.column_of.end()) columns.ancestors[i].push_back(parent->second);
      }
    }
    for (std::size_t row = 0; row < copy_.rows.size(); ++row) {
      const auto found = first_rows.find(copy_.Key(row));
      BalanceRow(copy_.rows[row], found == first_rows.end() ? nullptr : &first_.rows[found->second],
                 columns);
    }
  }

 private:
  struct Columns {
    std::vector<int> leaves, ordered, first_ordered, parents;
    std::map<std::size_t, std::vector<int>> ancestors;  // by place in `leaves`
  };

  double Sum(const std::vector<std::size_t>& rows) const {
    double sum = 0;
    for (std::size_t row : rows) sum += Number(copy_.rows[row][total_]);
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

  void BalanceRows(const std::string& code, std::vector<std::size_t> rows, double target) {
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
      return Number(copy_.rows[a][total_]) > Number(copy_.rows[b][total_]);
    });
    std::vector<std::size_t> stepped;
    for (std::size_t row : rows) {
      if (Number(copy_.rows[row][total_]) > 1) stepped.push_back(row);
    }
    if (stepped.empty()) stepped = rows;
    std::vector<double> values;
    for (std::size_t row : stepped) values.push_back(Number(copy_.rows[row][total_]));
    Spread(values, target - Sum(rows), units::AboveTolerance(size_), "座落单位代码 " + code);
    for (std::size_t i = 0; i < stepped.size(); ++i) copy_.rows[stepped[i]][total_] = values[i];
  }

  void BalanceRow(std::vector<db::Value>& row, const std::vector<db::Value>* first,
                  const Columns& columns) {
    for (int parent : columns.parents) row[parent] = 0.0;
    double sum = 0;
    for (int leaf : columns.leaves) sum += Number(row[leaf]);
    const double total = Number(row[total_]);
    double difference = RoundToDecimals(total - sum, size_.decimals);
    const std::string title =
        "座落单位代码 " + row[location_].AsText() + " 土地总面积 " + std::to_string(total);
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
      const double value = Number(row[columns.leaves[i]]);
      for (int parent : found->second) {
        row[parent] = RoundToDecimals(Number(row[parent]) + value, size_.decimals);
      }
    }
  }

  // A row whose leaves hold less than half its total: a step each, in
  // sweeps, to the leaves the row holds in unit 1's copy. What is left.
  double SeedFromFirst(std::vector<db::Value>& row, const std::vector<db::Value>* first,
                       const Columns& columns, double difference) {
    std::vector<int> seeded;
    for (std::size_t i = 0; first && i < columns.ordered.size(); ++i) {
      if (Number((*first)[columns.first_ordered[i]]) > 0) seeded.push_back(columns.ordered[i]);
    }
    std::vector<double> values;
    for (int column : seeded) values.push_back(Number(row[column]));
    const units::StepRule any{[](double) { return true; }};
    const units::Distribution spread = units::Distribute(values, difference, size_, any);
    for (std::size_t i = 0; i < seeded.size(); ++i) row[seeded[i]] = values[i];
    return spread.remaining;
  }

  // The leaves above 1 (else all of the stepped groups) take the rest. A
  // leaf gives a step only when it holds a whole step, so no leaf goes
  // below 0 and the difference loses exactly what the leaves gave.
  double StepLeaves(std::vector<db::Value>& row, const Columns& columns, double difference,
                    const std::string& title) {
    std::vector<int> stepped;
    for (int column : columns.ordered) {
      if (Number(row[column]) > 1.0) stepped.push_back(column);
    }
    if (stepped.empty()) stepped = columns.ordered;
    std::vector<double> values;
    for (int column : stepped) values.push_back(Number(row[column]));
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
  const CopyRows& first_;
  CopyRows& copy_;
  const units::StepSize size_;
  const int location_, total_;
};

}  // namespace

short CMgStatContext::BalanceStatData() {
  std::vector<UnitSlot> slots = ConfiguredUnits();
  if (slots.size() < 2) return 1;
  std::vector<std::string> leaves, parents;
  for (const std::string& column : m_arrStatFields) {
    if (column.compare(0, 2, "BM") != 0) continue;
    (HasSubClassField(column) ? parents : leaves).push_back(column);
  }
  std::vector<std::string> ordered = leaves;
  OrderBalanceFields(ordered);
  try {
    const CopyRows first = ReadCopy(m_pConn, UnitCopyTable(m_nUnit1));
    double county_total = 0;
    const int location = first.Column("座落单位代码"), total = first.Column("土地总面积");
    for (const std::vector<db::Value>& row : first.rows) {
      if (row[location].AsText().compare(0, m_strPrefix2.size(), m_strPrefix2) == 0) {
        county_total += Number(row[total]);
      }
    }
    for (std::size_t i = 1; i < slots.size(); ++i) {
      const std::string table = UnitCopyTable(slots[i].unit);
      CopyRows copy = ReadCopy(m_pConn, table);
      CopyBalancer balancer(*this, first, copy, slots[i].decimals);
      balancer.BalanceLocations(
          RoundToDecimals(county_total * UnitFactor(m_nUnit1, slots[i].unit), slots[i].decimals));
      balancer.BalanceClasses(leaves, ordered, parents);
      WriteCopy(m_pConn, table, copy);
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差内蒙古扩展基础数据", "平差分类面积失败", error);
    return 0;
  }
}

}  // namespace landstat
