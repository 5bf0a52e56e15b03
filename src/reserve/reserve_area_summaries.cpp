// The reserve class-area summaries MJ_GDHB and MJ_GDHBOLD.

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::CreateGdhbAreaSummaryTables() {
  return 0;
}
short CStatContext::CreateGdhbOldAreaSummaryTables() {
  return 0;
}
short CStatContext::BuildGdhbAreaSummary() {
  return 0;
}
short CStatContext::BuildGdhbOldAreaSummary() {
  return 0;
}

}  // namespace landstat
