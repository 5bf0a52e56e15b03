// The town lot area summary CZZDMJHZ.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateZdmjhzTables() {
  return 0;
}
short CZdStatContext::CreateZdmjhzTable(const std::string&) {
  return 0;
}
short CZdStatContext::SumZdmjhz() {
  return 0;
}
short CZdStatContext::SumZdmjhzTable(const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::CreateZdmjhzTableDated() {
  return 0;
}
short CZdStatContext::SumZdmjhzDated() {
  return 0;
}

}  // namespace landstat
