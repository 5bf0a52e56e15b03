// Balancing of the slope summary table and the farmland summary tables after
// a unit conversion: the county row within itself, the village rows against
// the county row, every township row as the sum of its villages.

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"
#include "units/step_rule.h"
#include "units/summary_rows.h"

namespace landstat {
namespace {

using Columns = std::vector<std::string>;

using units::SummaryRows;

// Cyclic stepping over items that are values of one row or of many rows. A
// difference beyond any rounding remainder raises: the table is left as it
// was stored, and the caller logs why.
void CyclicStep(std::vector<double*> items, double target, const units::StepSize& size) {
  std::vector<double> values;
  double sum = 0;
  for (double* item : items) {
    values.push_back(*item);
    sum += *item;
  }
  const units::StepRule rule{[step = size.step](double value) { return value > step; }, false,
                             true};
  if (!(units::StepsNeeded(target - sum, size) <= units::kMostSteps)) {
    throw db::DbError("the difference " + text::DoubleToText(target - sum) +
                      " is more than rounding leaves: the table is not balanced");
  }
  units::Distribute(values, target - sum, size, rule);
  for (std::size_t i = 0; i < items.size(); ++i) *items[i] = values[i];
}

// Steps `items` of one row until they add up to its `target` column.
void RowPass(SummaryRows::Row& row, const std::string& target, const Columns& items,
             const units::StepSize& size) {
  std::vector<double*> pointers;
  for (const std::string& item : items) pointers.push_back(&row.at(item));
  CyclicStep(pointers, row.at(target), size);
}

// For each column, the villages' values step to the county row's value.
void LevelPass(SummaryRows& rows, const std::string& county,
               const std::vector<std::string>& villages, const Columns& columns,
               const units::StepSize& size) {
  for (const std::string& column : columns) {
    std::vector<double*> pointers;
    for (const std::string& village : villages) pointers.push_back(&rows[village].at(column));
    CyclicStep(pointers, rows[county].at(column), size);
  }
}

// Every township row becomes the sum of its village rows.
void TownshipSums(SummaryRows& rows, const std::string& county, const Columns& columns,
                  int decimals) {
  for (const std::string& township : rows.Under(county, 3)) {
    rows.SetToSum(township, rows.Under(township, 3), columns, decimals);
  }
}

}  // namespace

short CStatContext::BalanceGdPdMjHz() {
  // The slope table's columns: total GDMJ, flat land PDMJ, grade totals
  // HJ2 to HJ5, sloping parts PD2 to PD5 and terraced parts TT2 to TT5.
  const Columns grades = {"2", "3", "4", "5"};
  Columns parts = {"PDMJ"}, levels, full = {"PDMJ"};
  for (const std::string& g : grades) parts.push_back("HJ" + g);
  for (const std::string& g : grades) levels.push_back("PD" + g);
  for (const std::string& g : grades) levels.push_back("TT" + g);
  levels.push_back("PDMJ");
  full.insert(full.end(), parts.begin() + 1, parts.end());
  full.insert(full.end(), levels.begin(), levels.end() - 1);
  full.push_back("GDMJ");
  const units::StepSize size = units::StepFor(m_nDecSrc);
  try {
    SummaryRows rows(m_pConn, m_names.Plain("GDPDMJHZ"), {"XZQDM"}, full, {"XZQMC"});
    const std::string& county = m_strPrefix2;
    if (!rows.Has(county)) return 0;
    RowPass(rows[county], "GDMJ", parts, size);
    for (const std::string& g : grades) RowPass(rows[county], "HJ" + g, {"PD" + g, "TT" + g}, size);
    const auto recompute = [&](const std::vector<std::string>& keys) {
      for (const std::string& key : keys) {
        auto& row = rows[key];
        for (const std::string& g : grades) {
          row["HJ" + g] = RoundToDecimals(row["PD" + g] + row["TT" + g], m_nDecSrc);
        }
        row["GDMJ"] = RoundToDecimals(SummaryRows::SumOf(row, parts), m_nDecSrc);
      }
    };
    const std::vector<std::string> villages = rows.Under(county, 6);
    LevelPass(rows, county, villages, levels, size);
    recompute(villages);
    // The units' rows (with the group level) against their village, the
    // same way, so that they add up too.
    for (const std::string& village : villages) {
      const std::vector<std::string> units = rows.Under(village, 7);
      if (units.empty()) continue;
      LevelPass(rows, village, units, levels, size);
      recompute(units);
    }
    TownshipSums(rows, county, full, m_nDecSrc);
    rows.Save(m_nDecSrc);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差耕地坡度", error.what());
    return 0;
  }
}

namespace {

const Columns kOtherClasses = {"BM02", "BM03", "BM04", "BM10", "BM11", "BM12", "BM20"};
const Columns kCultivated = {"BM011", "BM012", "BM013"};

Columns FarmlandLeaves() {
  Columns leaves = kCultivated;
  leaves.insert(leaves.end(), kOtherClasses.begin(), kOtherClasses.end());
  return leaves;
}

Columns FarmlandColumns() {
  Columns full = {"ZHJ", "BM01HJ", "BM011", "BM012", "BM013", "QTHJ"};
  full.insert(full.end(), kOtherClasses.begin(), kOtherClasses.end());
  return full;
}

void FarmlandRowPasses(SummaryRows::Row& row, const units::StepSize& size) {
  RowPass(row, "ZHJ", {"BM01HJ", "QTHJ"}, size);
  RowPass(row, "BM01HJ", kCultivated, size);
  RowPass(row, "QTHJ", kOtherClasses, size);
}

}  // namespace

short CStatContext::BalanceJbntQktj() {
  const units::StepSize size = units::StepFor(m_nDecSrc);
  try {
    SummaryRows rows(m_pConn, m_names.Plain("JBNTQKTJ"), {"XZQDM"}, FarmlandColumns());
    const std::string& county = m_strPrefix2;
    if (!rows.Has(county)) return 0;
    FarmlandRowPasses(rows[county], size);
    const std::vector<std::string> villages = rows.Under(county, 6);
    LevelPass(rows, county, villages, FarmlandLeaves(), size);
    for (const std::string& village : villages) {
      auto& row = rows[village];
      row["BM01HJ"] = RoundToDecimals(SummaryRows::SumOf(row, kCultivated), m_nDecSrc);
      row["QTHJ"] = RoundToDecimals(SummaryRows::SumOf(row, kOtherClasses), m_nDecSrc);
    }
    TownshipSums(rows, county, FarmlandColumns(), m_nDecSrc);
    rows.Save(m_nDecSrc);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差基本农田情况统计", error.what());
    return 0;
  }
}

short CStatContext::BalanceJbntBhkQktj() {
  // The table by protection block: every block's row within itself.
  const units::StepSize size = units::StepFor(m_nDecSrc);
  try {
    SummaryRows rows(m_pConn, m_names.Plain("JBNTBHKQKTJ"), {"BHKBH"}, FarmlandColumns());
    for (const std::string& block : rows.Keys()) FarmlandRowPasses(rows[block], size);
    rows.Save(m_nDecSrc);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("平差基本农田保护块情况统计", error.what());
    return 0;
  }
}

}  // namespace landstat
