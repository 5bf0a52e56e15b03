// The building-density and land-use tables made from SQL scripts.

#include "lots/zd_stat_context.h"

namespace landstat {

std::string CZdStatContext::LoadSqlResource(int, const std::string&) const {
  return {};
}
short CZdStatContext::SumJzmd() {
  return 0;
}
short CZdStatContext::MakeJzmdTable(const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::SumTdyt() {
  return 0;
}
short CZdStatContext::MakeTdytTable(const std::string&, const std::string&) {
  return 0;
}

}  // namespace landstat
