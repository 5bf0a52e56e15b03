// The reserve tables in the wanted area units.

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::CopyGdhbTable(const std::string&, const std::string&) {
  return 0;
}
short CStatContext::CopyGdhbBaseTableToUnits() {
  return 0;
}
short CStatContext::CopyGdhbClassTablesToUnits() {
  return 0;
}
short CStatContext::ConvertUnitCopies(const std::string&, const std::vector<std::string>*, short,
                                      short) {
  return 0;
}

}  // namespace landstat
