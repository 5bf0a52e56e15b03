// The town-lot extension table statdata_czzdex of the unit conversion.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateStatDataExTable() {
  return 0;
}
short CZdStatContext::CopyStatDataEx() {
  return 0;
}
short CZdStatContext::ConvertStatDataEx(short) {
  return 0;
}

}  // namespace landstat
