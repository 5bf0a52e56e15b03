// The town land-use classification tables CZTDLY_YJFLZD and CZTDLY_EJFLZD.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateYjflzdTables() {
  return 0;
}
short CZdStatContext::CreateYjflzdTable(const std::string&) {
  return 0;
}
short CZdStatContext::SumYjflzd() {
  return 0;
}
short CZdStatContext::SumYjflzdTable(const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::CreateYjflzdTableDated() {
  return 0;
}
short CZdStatContext::SumYjflzdDated() {
  return 0;
}
short CZdStatContext::CreateEjflzdTables() {
  return 0;
}
short CZdStatContext::CreateEjflzdTable(const std::string&) {
  return 0;
}
short CZdStatContext::SumEjflzd() {
  return 0;
}
short CZdStatContext::SumEjflzdTable(const std::string&, const std::string&) {
  return 0;
}
short CZdStatContext::CreateEjflzdTableDated() {
  return 0;
}
short CZdStatContext::SumEjflzdDated() {
  return 0;
}

}  // namespace landstat
