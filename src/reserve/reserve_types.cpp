// Reserve types and the group codes of the code table.

#include "reserve/reserve_types.h"

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::CountGroupCodes() {
  return 0;
}

short ClassifyGdhbNewType(const std::string&) {
  return 0;
}
short ClassifyGdhbOldType(const std::string&) {
  return 0;
}

}  // namespace landstat
