// The rural summaries without the island villages, NCTDLY_YJFLNOHD,
// NCTDLY_EJFLNOHD and NCTDLY_QSYJFLNOHD: the rural builders run on copies of
// the unit copies that hold only the villages the district table lists and
// does not mark as islands.

#include <fmt/printf.h>

#include "engine/execute_or_trace.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {

int CStatContext::CopyStatDataWithoutIslands(db::Connection& connection, const std::string& source,
                                             const std::string& copy, int dialect) {
  if (!connection.IsOpen()) return 0;
  const std::string district = m_names.Plain("ZB_XZXQ");
  std::string statement;
  if (dialect == 0 || dialect == 1) {
    statement = fmt::sprintf(
        "select %s.* into %s from %s ,%s  WHERE %s.村级代码 = %s.行政区代码 AND %s.描述说明 <> "
        "'01'",
        source, copy, source, district, source, district, district);
    host::yDebugStr(statement);
  } else if (dialect == 2) {
    statement = fmt::sprintf(
        "create table %s as select %s.* from %s ,%s  WHERE %s.村级代码 = %s.行政区代码 AND "
        "%s.描述说明 <> '01'",
        copy, source, source, district, source, district, district);
  }
  return ExecuteOrTrace(connection, statement) ? 1 : 0;
}

short CStatContext::CreateStatDataNohd() {
  // Every unit that has a copy, whatever the wanted units.
  for (short unit : {kSquareMetre, kMu, kHectare}) {
    const std::string source = m_names.UnitCopy(unit, "statdata");
    const std::string copy = source + "NOHD";
    m_mapSummarySources.erase(copy);  // its sums are made again when read
    if (IsTableExist(copy)) DropTable(copy);
    if (!IsTableExist(source)) continue;  // a unit the run does not make
    if (CopyStatDataWithoutIslands(m_pConn, source, copy, m_nDbMode) == 0) {
      LogFailure("生成无海岛基础数据", copy + " 生成失败");
    }
  }
  return 1;
}

short CStatContext::StatNohdTables(short kind) {
  if (kind != 1 && kind != 2) return 1;
  ForEachSummaryTable(kind == 1 ? "NCTDLY_YJFLNOHD" : "NCTDLY_EJFLNOHD",
                      [&](const std::string& target, short scope, short unit) {
                        SumNcTdlyClass(kind, SummarySource(unit, "statdataNOHD"), target, scope,
                                       DecimalsOf(unit));
                      });
  return 1;
}

short CStatContext::StatQsYjflNohdTables(int kind) {
  return FillOwnershipTables("NCTDLY_QSYJFLNOHD", kind, "statdataNOHD");
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> NoIslandFamilies() {
  return {
      // The copies of the unit copies without the island villages, then a
      // compaction of an embedded database.
      {.base = "statdataNOHD",
       .stage = 950,
       .builds = Duda,
       .create =
           [](C& c) {
             c.CreateStatDataNohd();
             if (c.m_nDbMode == 0) c.CompactDatabase();
             return short{0};
           },
       .fill = [](C&) {},
       .step = true},
      {.base = "NCTDLY_YJFLNOHD",
       .stage = 960,
       .builds = Duda,
       .create = [](C& c) { return c.CreateNcTdlyYjflNohdTables(); },
       .fill = [](C& c) { c.StatNohdTables(1); },
       .progress = "正在汇总农村土地利用数据",
       .after = {"statdataNOHD"}},
      {.base = "NCTDLY_EJFLNOHD",
       .stage = 970,
       .builds = Duda,
       .create = [](C& c) { return c.CreateNcTdlyEjflNohdTables(); },
       .fill = [](C& c) { c.StatNohdTables(2); },
       .after = {"statdataNOHD"}},
      {.base = "NCTDLY_QSYJFLNOHD",
       .stage = 980,
       .builds = Duda,
       .create = [](C& c) { return c.CreateNcTdlyQsYjflNohdTables(); },
       .fill = [](C& c) { c.StatQsYjflNohdTables(1); },
       .progress = "正在汇总权属数据",
       .after = {"statdataNOHD"}},
  };
}

}  // namespace landstat::landuse
