// The house information table CZFWXXTJ.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateFwxxtjTables() {
  return 0;
}
short CZdStatContext::CreateFwxxtjTable(const std::string&) {
  return 0;
}
short CZdStatContext::FillFwxxtjTable(const std::string&, short, short, short) {
  return 0;
}
short CZdStatContext::FillFwxxtjFromLayerTables(const std::string&, short, short, short) {
  return 0;
}
short CZdStatContext::SumFwxxtj() {
  return 0;
}

}  // namespace landstat
