// The town land-use intensity table CZTDLY_QDDC.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateQddcTables() {
  return 0;
}
short CZdStatContext::CreateQddcTable(const std::string&) {
  return 0;
}
short CZdStatContext::SumQddc() {
  return 0;
}
short CZdStatContext::SumQddcTable(const std::string&, const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::CreateQddcTableDated() {
  return 0;
}
short CZdStatContext::SumQddcDated() {
  return 0;
}

}  // namespace landstat
