// The lot-area adjustment of the converted per-unit town-lot tables.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::AdjustUnitStatData() {
  return 0;
}
short CZdStatContext::BalanceLotTotals(db::Recordset*, db::Recordset*, db::Recordset*) {
  return 0;
}
short CZdStatContext::IsParentField(const std::string&) const {
  return 0;
}
short CZdStatContext::BalanceLotClassAreas(db::Recordset&, const std::vector<std::string>&, short) {
  return 0;
}

}  // namespace landstat
