#pragma once

// The "山东" rule of the farmland summaries: farmland brought in with the
// transfer remark 'TC' is left out; a row without that remark (NULL or
// empty) is kept.

#include <string>

#include "engine/stat_context.h"

namespace landstat::farmland {

// The condition that keeps a row, as SQL.
inline constexpr char kNotTransferredIn[] = "(调入备注 IS NULL OR 调入备注 <> 'TC')";

// Whether the run leaves the 'TC' rows out.
inline bool LeavesTransferredOut(const CStatContext& context) {
  return context.m_strVersion.find("山东") != std::string::npos;
}

}  // namespace landstat::farmland
