// The town use-right type table CZTDLY_SYQZD.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateSyqzdTables() {
  return 0;
}
short CZdStatContext::CreateSyqzdTable(const std::string&) {
  return 0;
}
short CZdStatContext::SumSyqzd() {
  return 0;
}
short CZdStatContext::SumSyqzdTable(const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::CreateSyqzdTableDated() {
  return 0;
}
short CZdStatContext::SumSyqzdDated() {
  return 0;
}

}  // namespace landstat
