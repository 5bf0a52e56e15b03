#pragma once

// Rules the farmland summaries share: the "山东" rule on the transfer
// remark, and the classes of the situation totals.

#include <string>
#include <vector>

#include "engine/stat_context.h"

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

// Columns added up, as SQL ("BM02+BM03").
inline std::string SumOfColumns(const std::vector<const std::vector<std::string>*>& groups) {
  std::string sum;
  for (const auto* group : groups) {
    for (const std::string& column : *group) sum += (sum.empty() ? "" : "+") + column;
  }
  return sum;
}

}  // namespace landstat::farmland
