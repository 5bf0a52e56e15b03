// The reserve block of a run: the reserve parcel tables, their unit copies
// and the reserve summaries, in ten steps, after the farmland tables. It runs
// only when the reserve layer is valid and holds parcels; each fill or build
// runs only after its create returned more than 0, and no result ends the
// block or the run (each step logs its own failures).

#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/gis/layers.h"
#include "platform/host/progress.h"
#include "reserve/reserve_parcel_tables.h"

namespace landstat {
namespace {

// Every table of the block, plain or in a unit: the base and class tables
// and the summaries.
std::vector<std::string> ReserveTables(const TableNames& names, short unit) {
  std::vector<std::string> tables;
  for (const char* base : {"ZB_GDHB", "KKK_GDHB", "KFK_GDHB", "KKK_GDHBOLD", "KFK_GDHBOLD",
                           "MJ_GDHB", "MJ_GDHBOLD", "PJ_GDHB"}) {
    tables.push_back(unit == kNoUnit ? names.Plain(base) : names.ReserveUnit(unit, base));
  }
  return tables;
}

}  // namespace

std::string CStatContext::GdhbTable(const std::string& base) const {
  return m_names.Plain(base);
}

std::string CStatContext::GdhbUnitTable(short unit, const std::string& base) const {
  return m_names.ReserveUnit(unit, base);
}

short CStatContext::StatGdhb() {
  const auto pair = [](short created, const std::function<short()>& fill) {
    if (created > 0) fill();
  };
  host::LindoDlgProgressSetText("汇总耕地后备资源");
  pair(CreateGdhbBaseTable(), [&] { return FillGdhbBaseTable(); });
  host::LindoDlgProgressSetText("汇总耕地后备资源基础扩展数据");
  CopyGdhbBaseTableToUnits();
  host::LindoDlgProgressSetText("汇总耕地后备资源评价等级");
  pair(CreateGdhbGradeSummaryTables(), [&] { return BuildGdhbGradeSummary(); });
  host::LindoDlgProgressSetText("可开垦耕地后备资源");
  pair(CreateKkkGdhbTable(), [&] { return FillKkkGdhbTable(); });
  host::LindoDlgProgressSetText("可复垦耕地后备资源");
  pair(CreateKfkGdhbTable(), [&] { return FillKfkGdhbTable(); });
  host::LindoDlgProgressSetText("汇总耕地后备资源分类面积");
  pair(CreateGdhbAreaSummaryTables(), [&] { return BuildGdhbAreaSummary(); });
  host::LindoDlgProgressSetText("可开垦耕地后备资源");
  pair(CreateKkkGdhbOldTable(), [&] { return FillKkkGdhbOldTable(); });
  host::LindoDlgProgressSetText("可复垦耕地后备资源");
  pair(CreateKfkGdhbOldTable(), [&] { return FillKfkGdhbOldTable(); });
  host::LindoDlgProgressSetText("汇总耕地后备资源分类面积");
  pair(CreateGdhbOldAreaSummaryTables(), [&] { return BuildGdhbOldAreaSummary(); });
  CopyGdhbClassTablesToUnits();
  return 1;
}

namespace {

// The block's guard: a reserve layer that is valid, holds parcels and has
// the fields the block needs. One without parcels is told once in the log;
// one lacking a field is a failure, and no reserve table is built from it.
short ReserveLayerReady(CStatContext& c) {
  if (c.m_aiGdhb > 0 && gis::IsLayerValid(c.m_aiGdhb) &&
      gis::RecordCount(c.m_aiGdhb, gis::EntityKind::kRegion) > 1) {
    return ReserveLayerHasNeededFields(c) ? 1 : 0;
  }
  c.LogNotice("图层 耕地后备资源图斑", "没有耕地后备资源图斑, 不汇总耕地后备资源");
  return 0;
}

const FamilyRegistration kReserve({
    {.base = "ZB_GDHB",
     .stage = 4000,
     .builds = [](const RunVariant& run) { return !run.county_batch; },
     .create = ReserveLayerReady,
     .fill = [](CStatContext& c) { c.StatGdhb(); },
     .reads_layers = true,
     .reads_unit_copies = false,
     .owns = ReserveTables},
});

}  // namespace
}  // namespace landstat
