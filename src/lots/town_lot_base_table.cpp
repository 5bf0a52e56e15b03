// The town-lot base table statdata_czzd: one row per lot and per house.

#include "lots/zd_stat_context.h"

namespace landstat {

short CZdStatContext::CreateStatDataTable() {
  return 0;
}
short CZdStatContext::FillStatData() {
  return 0;
}
short CZdStatContext::FillStatDataFromLayerTables() {
  return 0;
}
short CZdStatContext::FillStatDataFromLayerTables(const TownLayerTables&) {
  return 0;
}
std::vector<std::string> CZdStatContext::LayerTableStatements(const TownLayerTables&) const {
  return {};
}
std::optional<TownLayerTables> CZdStatContext::StoredLayerTables() {
  return std::nullopt;
}

}  // namespace landstat
