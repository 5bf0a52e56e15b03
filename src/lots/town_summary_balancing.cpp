// The balancing of the unit-less town tables after a unit conversion.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::BalanceYjflzd() {
  return 0;
}
short CZdStatContext::BalanceEjflzd() {
  return 0;
}
short CZdStatContext::BalanceSyqzd() {
  return 0;
}

}  // namespace landstat
