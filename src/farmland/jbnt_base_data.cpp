// The farmland stage of a run: the farmland base table filled from the
// farmland parcel layer, condensed into a copy per wanted unit, the target
// copies converted and balanced.

#include <memory>
#include <vector>

#include "engine/stat_context.h"
#include "platform/host/trace.h"
#include "units/copy_rows.h"

namespace landstat {

short CStatContext::StatJbntBaseData() {
  m_nJbntBaseData = 0;
  m_bJbntExBuilt = false;  // made again from the table filled here
  if (m_aiJbntParcel < 1) {
    LogNotice("汇总基本农田基础数据", "没有基本农田图斑图层, 不生成基本农田统计表");
    return 0;
  }
  // The farmland layers stay the source layers for the rest of the run.
  SetSourceLayers(m_aiJbntParcel, m_aiJbntLine, m_aiJbntPoint);
  // Its failures are logged as they happen. A layer lacking a field the
  // rows need, or a table that cannot be written, builds no farmland
  // tables from it: they would show zeros, not the farmland.
  if (BuildJbntParcelData() < 1) return 0;
  host::yDebugTime("farmland base table filled");
  if (CreateUnitJbntTables() < 1) return 0;
  // The copies of the wanted units, the target copies converted; then
  // balanced. A failed step is logged and the next one still runs.
  std::vector<std::unique_ptr<units::CopyRows>> filled;
  BuildJbntBaseDataCopies(filled);
  host::yDebugTime("farmland copies made");
  BalanceStatDataByUnit(filled);
  host::yDebugTime("farmland copies balanced");
  m_nJbntBaseData = 1;
  return 1;
}

}  // namespace landstat
