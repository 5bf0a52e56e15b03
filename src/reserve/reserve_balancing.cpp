// The reserve summaries rounded and balanced along their column trees.

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::RoundAndBalanceTable(const std::string&, const std::vector<std::string>*,
                                         short) {
  return 0;
}

}  // namespace landstat
