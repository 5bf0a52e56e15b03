// Balancing of the unit copies of the base tables: the region total, the
// village totals, the rows of each village, the class columns of each row
// and the extension-class columns, in steps of one unit of the last decimal.

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <unordered_map>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// Rows in the order of their numbers. SQLite stores them so already: its
// copies are filled in the base table's order, so its row ids follow.
std::string RowOrder(db::DbKind kind) {
  return kind == db::DbKind::kEmbedded ? " order by rowid" : " order by CAST(序号 AS INTEGER)";
}

std::string ColumnList(std::initializer_list<const std::vector<std::string>*> lists,
                       std::initializer_list<const char*> fixed) {
  std::string text;
  for (const char* name : fixed) text += (text.empty() ? "" : ",") + std::string(name);
  for (const auto* list : lists) {
    for (const std::string& name : *list) text += "," + name;
  }
  return text;
}

// The class columns of a field list sorted by kind.
struct ClassColumns {
  std::vector<std::string> leaves;  // in balancing order
  std::vector<std::string> parents;
  std::vector<std::string> extensions;  // six characters: "BM" and a four-character code
};

}  // namespace

short OrderBalanceFields(std::vector<std::string>& fields) {
  CSortStringArray groups[4];
  const auto between = [](const std::string& name, const char* low, const char* high) {
    return name >= low && name <= high;
  };
  for (const std::string& name : fields) {
    if (name.find("BM20") != std::string::npos) {
      groups[0].push_back(name);
    } else if (between(name, "BM10", "BM12z")) {
      groups[1].push_back(name);
    } else if (between(name, "BM01", "BM04z")) {
      groups[2].push_back(name);
    } else if (between(name, "BM05", "BM09z")) {
      groups[3].push_back(name);
    }
  }
  fields.clear();
  for (int group : {1, 0, 3, 2}) {
    groups[group].Sort(2);
    fields.insert(fields.end(), groups[group].begin(), groups[group].end());
  }
  return 1;
}

int CStatContext::HasSubClassField(const std::string& column) const {
  for (const std::string& field : m_arrStatFields) {
    if (field != column && field.size() < 6 && field.find(column) != std::string::npos) return 1;
  }
  return 0;
}

namespace {

ClassColumns SortClassColumns(const CStatContext& context, bool with_extensions) {
  ClassColumns columns;
  for (const std::string& field : context.m_arrStatFields) {
    if (field.find("BM") == std::string::npos) continue;
    if (with_extensions && field.size() == 6) {
      columns.extensions.push_back(field);
    } else if (context.HasSubClassField(field)) {
      columns.parents.push_back(field);
    } else {
      columns.leaves.push_back(field);
    }
  }
  OrderBalanceFields(columns.leaves);
  return columns;
}

// One row of a unit copy during the class pass.
struct RowBalance {
  std::vector<double> leaves;
  double total = 0;
};

enum class LeafBalance { kDone, kNegative, kStalled };

// Steps the leaves of a row until they add up to its total: kNegative when
// the total lies below the classes and cannot be reached, kStalled when the
// steps ran out before the total was reached (the row keeps what it has).
LeafBalance BalanceLeaves(RowBalance& row, const std::vector<double>& source_leaves,
                          const units::StepSize& size) {
  double sum = 0;
  std::vector<std::size_t> large;
  for (std::size_t i = 0; i < row.leaves.size(); ++i) {
    sum += row.leaves[i];
    if (row.leaves[i] > 1.0) large.push_back(i);
  }
  double difference = row.total - sum;
  if (std::fabs(difference) > sum && difference < 0) return LeafBalance::kNegative;
  if (std::fabs(difference) > sum && difference > size.tolerance) {
    // A row whose classes are all but empty takes its steps on the classes
    // the source row holds.
    std::vector<std::size_t> seeded;
    for (std::size_t i = 0; i < source_leaves.size(); ++i) {
      if (source_leaves[i] > 0) seeded.push_back(i);
    }
    std::vector<double> values;
    for (std::size_t i : seeded) values.push_back(row.leaves[i]);
    const units::Distribution seeding =
        units::Distribute(values, difference, size, {[](double) { return true; }, false, false});
    for (std::size_t k = 0; k < seeded.size(); ++k) row.leaves[seeded[k]] = values[k];
    difference = seeding.remaining;
  }
  const units::StepRule rule{
      [tolerance = size.tolerance](double value) { return value >= tolerance; }, true, false};
  units::Distribution result;
  if (!large.empty()) {
    std::vector<double> values;
    for (std::size_t i : large) values.push_back(row.leaves[i]);
    result = units::Distribute(values, difference, size, rule);
    for (std::size_t k = 0; k < large.size(); ++k) row.leaves[large[k]] = values[k];
  } else {
    result = units::Distribute(row.leaves, difference, size, rule);
  }
  return result.stalled ? LeafBalance::kStalled : LeafBalance::kDone;
}

}  // namespace

double CStatContext::UnitTotal(double source_total, short unit, short decimals) const {
  double total = source_total * UnitFactor(m_nUnitSrc, unit);
  xcKeepPoint(&total, decimals);
  return total;
}

short CStatContext::BalanceVillageTotals(const std::string& table, double region_total,
                                         short decimals, std::vector<std::string>& codes,
                                         std::vector<double>& totals) {
  const units::StepSize size = units::StepFor(decimals);
  try {
    db::Recordset villages(m_pConn,
                           "select 村级代码,sum(土地总面积) AS 土地总面积  from " + table +
                               " where 村级代码 like " + CountyCodesLike() +
                               " group by 村级代码 order by sum(土地总面积) desc, 村级代码");
    double sum = 0;
    for (; !villages.IsEOF(); villages.MoveNext()) {
      codes.push_back(villages.Text("村级代码"));
      totals.push_back(villages.Number("土地总面积"));
      sum += totals.back();
    }
    const units::Distribution result =
        units::Distribute(totals, region_total - sum, size, units::AboveTolerance(size));
    if (result.stalled) {
      LogFailure("平差村级面积 " + table, "剩余差值 " + std::to_string(result.remaining));
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差村级面积", table + " " + error.what());
    return 0;
  }
}

std::map<std::string, double> CStatContext::BalanceUnitsInVillages(
    const std::string& table, short decimals, const std::vector<std::string>& codes,
    const std::vector<double>& totals) {
  // The rows of each village, largest first, come as one stream grouped by
  // village; only the rows that take a step are kept, by their number.
  const units::StepSize size = units::StepFor(decimals);
  std::unordered_map<std::string, double> target;
  for (std::size_t i = 0; i < codes.size(); ++i) target[codes[i]] = totals[i];
  std::map<std::string, double> changed;
  std::vector<std::string> numbers;
  std::vector<double> areas;
  std::string village;
  const auto settle = [&] {
    if (numbers.empty() || !target.count(village)) return;
    double sum = 0;
    for (double area : areas) sum += area;
    double difference = target[village] - sum;
    xcKeepPoint(&difference, decimals);
    // Steps go to rows of more than one unit of area when the village has any.
    std::vector<std::size_t> items;
    for (std::size_t i = 0; i < areas.size(); ++i) {
      if (areas[i] > 1) items.push_back(i);
    }
    if (items.empty()) {
      for (std::size_t i = 0; i < areas.size(); ++i) items.push_back(i);
    }
    std::vector<double> values;
    for (std::size_t i : items) values.push_back(areas[i]);
    std::vector<bool> touched;
    const units::Distribution result =
        units::Distribute(values, difference, size, units::AboveTolerance(size), &touched);
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (touched[k]) changed[numbers[items[k]]] = values[k];
    }
    if (result.stalled) {
      LogFailure("平差村内面积 " + village, "剩余差值 " + std::to_string(result.remaining));
    }
  };
  db::Recordset rows(m_pConn, "select 序号,村级代码,土地总面积 from " + table +
                                  " where 村级代码 like " + CountyCodesLike() +
                                  " order by 村级代码, 土地总面积 desc, CAST(序号 AS INTEGER)");
  for (; !rows.IsEOF(); rows.MoveNext()) {
    const std::string code = rows.Text("村级代码");
    if (code != village) {
      settle();
      village = code;
      numbers.clear();
      areas.clear();
    }
    numbers.push_back(rows.Text("序号"));
    areas.push_back(rows.Number("土地总面积"));
  }
  settle();
  return changed;
}

namespace {

// The parent columns of a leaf that the table has, nearest first: BM011
// adds to BM01.
std::vector<std::string> AncestorsOf(const std::string& leaf,
                                     const std::vector<std::string>& fields) {
  std::vector<std::string> ancestors;
  for (std::size_t length = leaf.size() - 1; length >= 4; --length) {
    const std::string name = leaf.substr(0, length);
    if (std::find(fields.begin(), fields.end(), name) != fields.end()) ancestors.push_back(name);
  }
  return ancestors;
}

// A condition that holds for the rows the class pass would change: classes
// that do not add up to the row, parents that are not the sums of their
// leaves, extension groups that do not add up to their parent, and the
// rows whose totals the village pass moved.
std::string RowsToBalance(const std::vector<std::string>& leaves,
                          const std::map<std::string, std::vector<std::string>>& children,
                          const std::vector<std::string>& extensions,
                          const std::map<std::string, double>& moved, double tolerance) {
  const std::string limit = ") > " + text::DoubleToText(tolerance);
  std::string leaf_sum = "0";
  for (const std::string& leaf : leaves) leaf_sum += "+" + leaf;
  std::string condition = "abs(土地总面积-(" + leaf_sum + ")" + limit;
  for (const auto& [parent, parts] : children) {
    std::string sum = "0";
    for (const std::string& part : parts) sum += "+" + part;
    condition += " OR abs(" + parent + "-(" + sum + ")" + limit;
  }
  std::map<std::string, std::string> groups;
  for (const std::string& extension : extensions) groups[extension.substr(0, 5)] += "+" + extension;
  for (const auto& [parent, sum] : groups) {
    condition += " OR abs(" + parent + "-(0" + sum + ")" + limit;
  }
  if (!moved.empty()) {
    condition += " OR 序号 IN (";
    bool first = true;
    for (const auto& [number, total] : moved) {
      condition += (first ? "" : ",") + db::QuoteText(number);
      first = false;
    }
    condition += ")";
  }
  return condition;
}

}  // namespace

short CStatContext::BalanceClassAreas(const std::string& source_table,
                                      const std::string& unit_table,
                                      const std::vector<std::string>& leaves,
                                      const std::vector<std::string>& extensions, short decimals,
                                      const std::map<std::string, double>& new_totals) {
  const units::StepSize size = units::StepFor(decimals);
  try {
    std::vector<std::vector<std::string>> ancestors;
    std::map<std::string, std::vector<std::string>> children;
    for (const std::string& leaf : leaves) {
      ancestors.push_back(AncestorsOf(leaf, m_arrStatFields));
      for (const std::string& parent : ancestors.back()) children[parent].push_back(leaf);
    }
    std::vector<std::string> parents;
    for (const auto& [parent, parts] : children) parents.push_back(parent);
    // Only the rows that need it are walked; most rows of a converted copy
    // already add up. A row to seed reads its source row by number.
    m_pConn.Execute("CREATE INDEX IF NOT EXISTS " + source_table + "_number ON " + source_table +
                    "(序号)");
    db::Recordset unit(
        m_pConn,
        "select " +
            ColumnList({&leaves, &parents, &extensions}, {"序号", "座落单位代码", "土地总面积"}) +
            " from " + unit_table + " where " +
            RowsToBalance(leaves, children, extensions, new_totals, size.tolerance) +
            RowOrder(m_pConn.Kind()));
    std::vector<int> leaf_columns;
    for (const std::string& leaf : leaves) leaf_columns.push_back(unit.IndexOf(leaf));
    // Each leaf's parents by their place in `parents`, and their columns.
    std::vector<int> parent_columns;
    for (const std::string& parent : parents) parent_columns.push_back(unit.IndexOf(parent));
    std::vector<std::vector<std::size_t>> leaf_parents(leaves.size());
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      for (const std::string& parent : ancestors[i]) {
        leaf_parents[i].push_back(static_cast<std::size_t>(
            std::find(parents.begin(), parents.end(), parent) - parents.begin()));
      }
    }
    std::vector<double> parent_sums(parents.size());
    const int number_column = unit.IndexOf("序号");
    const int total_column = unit.IndexOf("土地总面积");
    const std::string source_query =
        "select " + ColumnList({&leaves}, {"序号"}) + " from " + source_table + " where 序号=?";
    RowBalance row;
    std::vector<double> source_leaves(leaves.size());
    for (; !unit.IsEOF(); unit.MoveNext()) {
      const std::string number = unit.Field(number_column).AsText();
      row.total = unit.Field(total_column).AsDouble();
      bool dirty = false;
      if (auto moved = new_totals.find(number); moved != new_totals.end()) {
        if (moved->second != row.total) {
          row.total = moved->second;
          unit.SetField(total_column, row.total);
          dirty = true;
        }
      }
      row.leaves.resize(leaves.size());
      double sum = 0;
      for (std::size_t i = 0; i < leaves.size(); ++i) {
        row.leaves[i] = unit.Field(leaf_columns[i]).AsDouble();
        sum += row.leaves[i];
      }
      std::fill(source_leaves.begin(), source_leaves.end(), 0.0);
      if (row.total - sum > sum && row.total - sum > size.tolerance) {
        std::vector<db::Value> key = {db::Value(number)};
        const std::unique_ptr<db::RowSource> match = m_pConn.backend().Query(source_query, key);
        std::vector<db::Value> values;
        if (!match->Fetch(values)) {
          LogFailure("平差分类面积 " + unit_table, "源表中没有序号 " + number + " 的行");
          return 0;
        }
        for (std::size_t i = 0; i < leaves.size(); ++i) source_leaves[i] = values[i + 1].AsDouble();
      }
      const std::vector<double> before = row.leaves;
      const LeafBalance balance = BalanceLeaves(row, source_leaves, size);
      if (balance != LeafBalance::kDone) {
        char title[200];
        std::snprintf(title, sizeof title, "座落单位代码 %s 土地总面积 %f",
                      unit.Text("座落单位代码").c_str(), row.total);
        LogFailure(title, balance == LeafBalance::kNegative ? "平差分类面积失败"
                                                            : "平差分类面积未达到行面积");
      }
      if (balance == LeafBalance::kNegative) {
        if (dirty) unit.Update();
        continue;
      }
      std::fill(parent_sums.begin(), parent_sums.end(), 0.0);
      for (std::size_t i = 0; i < leaves.size(); ++i) {
        if (row.leaves[i] != before[i]) {
          unit.SetField(leaf_columns[i], row.leaves[i]);
          dirty = true;
        }
        if (row.leaves[i] > 0) {
          for (std::size_t parent : leaf_parents[i]) parent_sums[parent] += row.leaves[i];
        }
      }
      // Parents are the sums of their leaves, on the decimal grid.
      for (std::size_t p = 0; p < parents.size(); ++p) {
        double value = parent_sums[p];
        xcKeepPoint(&value, decimals);
        if (unit.Field(parent_columns[p]).AsDouble() != value) {
          unit.SetField(parent_columns[p], value);
          dirty = true;
        }
      }
      if (!extensions.empty() && BalanceExtensions(unit, extensions, decimals)) dirty = true;
      if (dirty) unit.Update();
    }
    unit.Close();
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(error.what(), "平差分类面积失败");
    return 0;
  }
}

bool CStatContext::BalanceExtensions(db::Recordset& row, const std::vector<std::string>& extensions,
                                     short decimals) {
  struct Group {
    std::string largest;
    double sum = 0;
    double largest_value = 0;
    bool any = false;
  };
  std::map<std::string, Group> groups;
  for (const std::string& column : extensions) {
    const double value = row.Number(column);
    Group& group = groups[column.substr(0, 5)];
    group.sum += value;
    if (!group.any || value > group.largest_value) {
      group.largest = column;
      group.largest_value = value;
      group.any = true;
    }
  }
  bool changed = false;
  for (const auto& [parent, group] : groups) {
    if (!row.HasField(parent)) continue;
    double difference = row.Number(parent) - group.sum;
    if (std::fabs(difference) < 0.000001) continue;
    xcKeepPoint(&difference, decimals);
    double value = group.largest_value + difference;
    xcKeepPoint(&value, decimals);
    row.SetField(group.largest, value);
    changed = true;
  }
  return changed;
}

short CStatContext::BalanceExtClassAreas(const std::string& unit_table,
                                         const std::vector<std::string>& extensions,
                                         short decimals) {
  try {
    db::UpdateEach(m_pConn, "select * from " + unit_table, [&](db::Recordset& row) {
      return BalanceExtensions(row, extensions, decimals);
    });
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(error.what(), "扩展地类平差分类面积失败");
    return 0;
  }
}

double CStatContext::RegionTotal(const std::string& table) {
  return m_pConn
      .Scalar("select sum(土地总面积) as 土地总面积 from " + table + " where 座落单位代码 like " +
              CountyCodesLike())
      .AsDouble();
}

short CStatContext::BalanceStatData() {
  for (const auto& [name, unit, decimals] : {std::tuple{m_strStatTblUnit1, m_nUnit1, m_nDec1},
                                             std::tuple{m_strStatTblUnit2, m_nUnit2, m_nDec2}}) {
    if (name.empty() || unit == m_nUnitSrc) continue;
    if (BalanceUnitCopy(m_strStatTblSrc, name, unit, decimals) == 0) return 0;
  }
  return 1;
}

short CStatContext::BalanceUnitCopy(const std::string& source, const std::string& copy, short unit,
                                    short decimals) {
  try {
    const double region = RegionTotal(source);
    const ClassColumns columns = SortClassColumns(*this, true);
    std::vector<std::string> codes;
    std::vector<double> totals;
    BalanceVillageTotals(copy, UnitTotal(region, unit, decimals), decimals, codes, totals);
    host::yDebugTime("village totals of " + copy + " balanced");
    const std::map<std::string, double> moved =
        BalanceUnitsInVillages(copy, decimals, codes, totals);
    host::yDebugTime("rows of the villages of " + copy + " balanced");
    BalanceClassAreas(source, copy, columns.leaves, columns.extensions, decimals, moved);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差分单位基础汇总表", copy + " " + error.what());
    return 0;
  }
}

short CStatContext::BalanceRowsToTotal(double source_total, const std::string& table, short unit,
                                       short decimals, std::map<std::string, double>& moved) {
  const units::StepSize size = units::StepFor(decimals);
  try {
    std::vector<std::string> numbers;
    std::vector<double> areas;
    db::Recordset rows(m_pConn, "select 序号,土地总面积 from " + table +
                                    " where 座落单位代码 like " + CountyCodesLike() +
                                    " order by 土地总面积 desc, CAST(序号 AS INTEGER)");
    double sum = 0;
    for (; !rows.IsEOF(); rows.MoveNext()) {
      numbers.push_back(rows.Text("序号"));
      areas.push_back(rows.Number("土地总面积"));
      sum += areas.back();
    }
    std::vector<bool> touched;
    const units::Distribution result =
        units::Distribute(areas, UnitTotal(source_total, unit, decimals) - sum, size,
                          units::AboveTolerance(size), &touched);
    for (std::size_t i = 0; i < areas.size(); ++i) {
      if (touched[i]) moved[numbers[i]] = areas[i];
    }
    if (result.stalled) {
      LogFailure("平差行面积 " + table, "剩余差值 " + std::to_string(result.remaining));
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差汇总表", table + " " + error.what());
    return 0;
  }
}

short CStatContext::BalanceStatDataByUnit() {
  try {
    const double region = RegionTotal(m_strJbntTblSrc);
    // Extension classes are balanced to their parents, never counted as
    // leaves beside them.
    const ClassColumns columns = SortClassColumns(*this, true);
    for (const auto& [name, unit, decimals] : {std::tuple{m_strJbntTblUnit1, m_nUnit1, m_nDec1},
                                               std::tuple{m_strJbntTblUnit2, m_nUnit2, m_nDec2}}) {
      if (name.empty() || unit == m_nUnitSrc) continue;
      std::map<std::string, double> moved;
      BalanceRowsToTotal(region, name, unit, decimals, moved);
      BalanceClassAreas(m_strJbntTblSrc, name, columns.leaves, columns.extensions, decimals, moved);
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差基本农田基础汇总表", error.what());
    return 0;
  }
}

}  // namespace landstat
