// The summary families of the Inner Mongolia run, in one list: each runs on
// the Inner Mongolia context through the family's Mongolia hooks, in stage
// order, after the unit copies and before the ownership-code table and the
// area-unit records. None has a unit conversion: `landstat convert` leaves
// the Inner Mongolia tables as they were built.

#include "engine/table_family.h"
#include "mongolia/mg_stat_context.h"
#include "mongolia/mg_table_names.h"

namespace landstat {
namespace {

TableFamily Summary(const char* base, int stage, short (CMgStatContext::*create)(),
                    short (CMgStatContext::*fill)(short), short kind,
                    const char* progress = nullptr) {
  TableFamily family;
  family.base = base;
  family.stage = stage;
  family.progress = progress;
  family.mg_create = [create](CMgStatContext& c) { return (c.*create)(); };
  family.mg_fill = [fill, kind](CMgStatContext& c) { return (c.*fill)(kind); };
  return family;
}

// The ledger, in square metres only: none without them.
TableFamily Ledger() {
  TableFamily family;
  family.base = kMgLedgerBase;
  family.stage = 14;
  family.progress = "正在汇总内蒙古台帐";
  family.mg_create = [](CMgStatContext& c) { return c.CreateTdlyTzTables(); };
  family.mg_fill = [](CMgStatContext& c) { return c.StatTdlyTz(); };
  return family;
}

// The ledger's work table, after the ledger (whether or not its fill
// succeeded: without the general run's table it copies, a notice says so).
TableFamily LedgerWorkTable() {
  TableFamily family;
  family.base = kMgLedgerWorkBase;
  family.stage = 15;
  family.mg_create = [](CMgStatContext& c) { return c.CreateTdlyEjflTzTable(); };
  return family;
}

// The Inner Mongolia run's own stages as a family that the run never
// builds, so that the family list knows their tables too: the base table
// and its unit copies, the staging table of earlier versions, the area-unit
// and the ownership-code tables.
TableFamily MongoliaRunTables() {
  TableFamily family;
  family.base = kMgBaseTable;
  family.builds = [](const RunVariant&) { return false; };
  family.step = true;
  family.mg_create = [](CMgStatContext&) { return short{0}; };
  family.owns = [](const TableNames& names, short unit) -> std::vector<std::string> {
    if (unit != kNoUnit) return {};
    return {MgStagingTable(names), MgAreaUnitTable(names), MgQsdmbTable(names)};
  };
  return family;
}

const FamilyRegistration kMongoliaFamilies({
    MongoliaRunTables(),
    Summary("TDLY_YJFLMG", 10, &CMgStatContext::CreateTdlyYjflTables,
            &CMgStatContext::StatTdlyClass, 1, "正在汇总内蒙古土地利用数据"),
    Summary("TDLY_EJFLMG", 11, &CMgStatContext::CreateTdlyEjflTables,
            &CMgStatContext::StatTdlyClass, 2),
    Summary("NCTDLY_YJFLMG", 12, &CMgStatContext::CreateNcTdlyYjflTables,
            &CMgStatContext::StatNcTdlyClass, 1, "正在汇总内蒙古农村土地利用数据"),
    Summary("NCTDLY_EJFLMG", 13, &CMgStatContext::CreateNcTdlyEjflTables,
            &CMgStatContext::StatNcTdlyClass, 2),
    Ledger(),
    LedgerWorkTable(),
});

}  // namespace
}  // namespace landstat
