// The per-unit copies of the town-lot base table.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateUnitStatTables() {
  return 0;
}
short CZdStatContext::CreateUnitStatTable(const std::string&) {
  return 0;
}
short CZdStatContext::BuildUnitStatData() {
  return 0;
}
short CZdStatContext::CopyUnitStatData(const std::string&) {
  return 0;
}
short CZdStatContext::ConvertUnitTable(short, const std::string&, short) {
  return 0;
}
std::string CZdStatContext::CopyUnitStatStatement(const std::string&, const std::string&) const {
  return {};
}
std::string CZdStatContext::ConvertUnitStatement(short, const std::string&, short) const {
  return {};
}

}  // namespace landstat
