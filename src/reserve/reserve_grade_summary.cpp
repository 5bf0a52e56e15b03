// The reserve grade summary PJ_GDHB.

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::CreateGdhbGradeSummaryTables() {
  return 0;
}
short CStatContext::BuildGdhbGradeSummary() {
  return 0;
}

}  // namespace landstat
