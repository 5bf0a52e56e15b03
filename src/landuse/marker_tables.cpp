// The new-construction marker tables of the "duda" road: seven second-level
// summaries, each counting the rows that carry one marker in one base-table
// column, and the two tables the scripts PJWEJFL and NDJSYDEJFL combine from
// them.

#include <fmt/printf.h>

#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "landuse/land_use_families.h"

namespace landstat {
namespace {

struct Marker {
  const char* table;
  const char* column;
  const char* value1;
  const char* value2;
};

const Marker kMarkers[] = {
    {"PEWY_EJFL", "地类备注", "P", "p"},
    {"PEWYYJ_EJFL", "新增建设用地类型", "PJ", "pj"},
    {"WPXJ_EJFL", "新增建设用地类型", "W", "w"},
    {"PZYJ_EJFL", "新增建设用地类型", "B", "b"},
    {"2009P_EJFL", "备注", "2009P", "2009p"},
    {"2009B_EJFL", "备注", "2009B", "2009b"},
    {"2010ZH_EJFL", "备注", "2010置换", "2010置换"},
};

// A row with any marker takes part in every marker table, so that all seven
// hold the same units.
const char kSharedCondition[] =
    "where 地类备注 like 'P' OR 地类备注 like 'p' OR 新增建设用地类型 like 'PJ' OR "
    "新增建设用地类型 like 'pj' OR 新增建设用地类型 like 'W' OR 新增建设用地类型 like 'w' OR "
    "新增建设用地类型 like 'B' OR 新增建设用地类型 like 'b' OR 备注 like '2009%' OR 备注 like "
    "'2010%' ";

const char* const kPjwSources[] = {"PEWY_EJFL", "PEWYYJ_EJFL", "WPXJ_EJFL"};
const char* const kNdjsydSources[] = {"PEWY_EJFL",  "PEWYYJ_EJFL", "WPXJ_EJFL",  "PZYJ_EJFL",
                                      "2009P_EJFL", "2009B_EJFL",  "2010ZH_EJFL"};

}  // namespace

short CStatContext::StatMarkerTable(int index) {
  const Marker& marker = kMarkers[index];
  ForEachSummaryTable(marker.table, [&](const std::string& target, short scope, short unit) {
    SumRemarkEjfl(target, scope, unit, PewyDecimals(unit), marker.column, marker.value1,
                  marker.value2, kSharedCondition);
  });
  return 1;
}

short CStatContext::StatPewyEjflByMarker() {
  return StatMarkerTable(0);
}
short CStatContext::StatPewyYjEjfl() {
  return StatMarkerTable(1);
}
short CStatContext::StatWpxjEjfl() {
  return StatMarkerTable(2);
}
short CStatContext::StatPzyjEjfl() {
  return StatMarkerTable(3);
}
short CStatContext::Stat2009PEjfl() {
  return StatMarkerTable(4);
}
short CStatContext::Stat2009BEjfl() {
  return StatMarkerTable(5);
}
short CStatContext::Stat2010ZhEjfl() {
  return StatMarkerTable(6);
}

short CStatContext::RunMarkerScript(const char* name, int resource, const std::string& target,
                                    const std::vector<std::string>& sources) {
  std::optional<std::string> script = StatementScript(name, resource, target);
  if (!script) return 0;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    *script =
        ReplaceAll(*script, std::string("SourceTbl") + static_cast<char>('A' + i), sources[i]);
  }
  // A table made by a query is replaced on a new run, not kept.
  if (IsTableExist(target)) DropTable(target);
  const std::string statement = Dialect().SaveQueryAs(target, *script);
  return RunLoggedStatement(statement, name, ("生成 " + target + " 失败").c_str(), true) ? 1 : 0;
}

short CStatContext::RunPjwEjflScript(const std::string& target, const std::string& source_a,
                                     const std::string& source_b, const std::string& source_c) {
  return RunMarkerScript("PJWEJFL", 17042, target, {source_a, source_b, source_c});
}

short CStatContext::RunNdjsydEjflScript(const std::string& target,
                                        const std::vector<std::string>& sources) {
  return RunMarkerScript("NDJSYDEJFL", 17045, target, sources);
}

short CStatContext::StatPjwEjfl() {
  ForEachSummaryTable("PJW_EJFL", [&](const std::string& target, short scope, short unit) {
    const char letter = scope ? 'Q' : 'Z';
    RunPjwEjflScript(target, m_names.Summary(letter, unit, kPjwSources[0]),
                     m_names.Summary(letter, unit, kPjwSources[1]),
                     m_names.Summary(letter, unit, kPjwSources[2]));
  });
  return 1;
}

short CStatContext::StatNdjsydEjfl() {
  ForEachSummaryTable("NDJSYD_EJFL", [&](const std::string& target, short scope, short unit) {
    std::vector<std::string> sources;
    for (const char* source : kNdjsydSources) {
      sources.push_back(m_names.Summary(scope ? 'Q' : 'Z', unit, source));
    }
    RunNdjsydEjflScript(target, sources);
  });
  return 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> MarkerFamilies() {
  return {
      {.base = "PEWYYJ_EJFL",
       .stage = 130,
       .builds = Duda,
       .create = [](C& c) { return c.CreatePewyYjEjflTables(); },
       .fill = [](C& c) { c.StatPewyYjEjfl(); }},
      {.base = "WPXJ_EJFL",
       .stage = 140,
       .builds = Duda,
       .create = [](C& c) { return c.CreateWpxjEjflTables(); },
       .fill = [](C& c) { c.StatWpxjEjfl(); }},
      {.base = "PJW_EJFL",
       .stage = 150,
       .builds = Duda,
       .create = NothingToCreate,
       .fill = [](C& c) { c.StatPjwEjfl(); },
       .after = {std::begin(kPjwSources), std::end(kPjwSources)}},
      {.base = "PZYJ_EJFL",
       .stage = 160,
       .builds = Duda,
       .create = [](C& c) { return c.CreatePzyjEjflTables(); },
       .fill = [](C& c) { c.StatPzyjEjfl(); },
       .progress = "年度建设用地情况汇总表"},
      {.base = "2009P_EJFL",
       .stage = 170,
       .builds = Duda,
       .create = [](C& c) { return c.Create2009PEjflTables(); },
       .fill = [](C& c) { c.Stat2009PEjfl(); }},
      {.base = "2009B_EJFL",
       .stage = 180,
       .builds = Duda,
       .create = [](C& c) { return c.Create2009BEjflTables(); },
       .fill = [](C& c) { c.Stat2009BEjfl(); }},
      {.base = "2010ZH_EJFL",
       .stage = 190,
       .builds = Duda,
       .create = [](C& c) { return c.Create2010ZhEjflTables(); },
       .fill = [](C& c) { c.Stat2010ZhEjfl(); }},
      {.base = "NDJSYD_EJFL",
       .stage = 200,
       .builds = Duda,
       .create = NothingToCreate,
       .fill = [](C& c) { c.StatNdjsydEjfl(); },
       .after = {std::begin(kNdjsydSources), std::end(kNdjsydSources)}},
  };
}

}  // namespace landstat::landuse
