#pragma once

// Rules the farmland summaries share: the "山东" rule on the transfer
// remark, and the classes of the situation totals.

#include <memory>
#include <string>
#include <vector>

#include "engine/stat_context.h"
#include "platform/db/grouped_sums.h"

namespace landstat::farmland {

// Under "山东" farmland brought in with the transfer remark 'TC' is left
// out; a row without that remark (NULL or empty) is kept. The condition
// that keeps a row, as SQL:
inline constexpr char kNotTransferredIn[] = "(调入备注 IS NULL OR 调入备注 <> 'TC')";

// Whether the run leaves the 'TC' rows out.
inline bool LeavesTransferredOut(const CStatContext& context) {
  return context.m_strVersion.find("山东") != std::string::npos;
}

// The situation totals: QTHJ adds up the other classes, ZHJ the cultivated
// classes and the other classes (never BM01HJ).
inline const std::vector<std::string> kCultivatedClasses = {"BM011", "BM012", "BM013"};
inline const std::vector<std::string> kOtherClasses = {"BM02", "BM03", "BM04", "BM10",
                                                       "BM11", "BM12", "BM20"};

// Guangxi leaves the adjustable land (地类备注 'K' or 'k') out of these
// second-level classes; their first-level classes and the totals keep it.
inline const std::vector<std::string> kGuangxiAdjustableClasses = {"021", "022", "023", "031",
                                                                   "033", "042", "114"};
inline constexpr char kAdjustableRemark[] = "(地类备注 like 'K' OR 地类备注 like 'k')";

inline bool IsGuangxiAdjustableColumn(const std::string& column) {
  for (const std::string& code : kGuangxiAdjustableClasses) {
    if (column == "BM" + code) return true;
  }
  return false;
}

// The summed expression of a class column under the Guangxi rule: the
// column itself, or for an adjustable class the column outside the
// adjustable land.
inline std::string GuangxiClassValue(const CStatContext& context, const std::string& column) {
  if (!IsGuangxiAdjustableColumn(column)) return column;
  return context.Dialect().Iif(kAdjustableRemark, "0", column);
}

// A class column of the field list: its name begins with exactly "BM".
inline bool IsClassColumn(const std::string& field) {
  return field.compare(0, 2, "BM") == 0;
}

// Columns added up, as SQL ("BM02+BM03").
inline std::string SumOfColumns(const std::vector<const std::vector<std::string>*>& groups) {
  std::string sum;
  for (const auto* group : groups) {
    for (const std::string& column : *group) sum += (sum.empty() ? "" : "+") + column;
  }
  return sum;
}

// The grouping the unit copies of the farmland base table `source` are
// condensed by: the farmland marks (when `keeps_marks`), the block, the
// administrative levels, ownership and cultivated-land type; the total and
// every class column summed.
db::GroupedSumsQuery CondensingGrouping(const CStatContext& context, const std::string& source,
                                        bool keeps_marks);

// Whether every key of the groups fits a column of `chars` characters:
// rows written from memory are refused a longer text, which a statement of
// the embedded engine stores (bytes are counted, never fewer than the
// characters, so a doubtful text says no).
bool KeysFit(const db::GroupedSums& groups, std::size_t chars);

// Where the farmland base table's rows, grouped as its unit copies keep
// them while the table is filled, wait for the copies (m_mapFedSums).
std::string FedCondensingKey(const CStatContext& context);

}  // namespace landstat::farmland
