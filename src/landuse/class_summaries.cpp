// The land-use class summaries by administrative level: TDLY_YJFL,
// TDLY_EJFL, TDLY_SJFL, and the island kinds of the county batch.

#include <fmt/printf.h>

#include <iterator>

#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

enum Level { kCounty, kTownship, kVillage, kUnit };

}  // namespace

const char* const kLevelMessages[] = {"汇总县级数据失败", "汇总乡级数据失败", "汇总村级数据失败",
                                      "汇总村民小组数据失败"};

namespace {

struct LevelText {
  const char* select;
  const char* group;
};

// Select and group texts of kinds 1 and 2 by level: scope Z, scope Q on
// Access and the generic server, scope Q on Oracle.
const LevelText kPlain[4][3] = {
    {{" SELECT 县级代码,县名称,SUM(土地总面积), %s FROM %s ", " GROUP BY 县级代码,县名称"},
     {" SELECT left(权属单位代码,6),SUM(土地总面积), %s FROM %s ",
      " GROUP BY left(权属单位代码,6)"},
     {" SELECT substr(权属单位代码,0,6),SUM(土地总面积), %s FROM %s ",
      " GROUP BY substr(权属单位代码,0,6)"}},
    {{" SELECT 乡级代码,乡名称,SUM(土地总面积), %s FROM %s ", " GROUP BY 乡级代码,乡名称"},
     {" SELECT left(权属单位代码,9),SUM(土地总面积), %s FROM %s ",
      " GROUP BY left(权属单位代码,9)"},
     {" SELECT substr(权属单位代码,0,9),SUM(土地总面积), %s FROM %s ",
      " GROUP BY substr(权属单位代码,0,9)"}},
    {{" SELECT 村级代码,村名称,SUM(土地总面积), %s FROM %s ", " GROUP BY 村级代码,村名称"},
     {" SELECT left(权属单位代码,12),SUM(土地总面积), %s FROM %s ",
      " GROUP BY left(权属单位代码,12)"},
     {" SELECT substr(权属单位代码,0,12),SUM(土地总面积), %s FROM %s ",
      " GROUP BY substr(权属单位代码,0,12)"}},
    {{" SELECT 座落单位代码,座落单位名称,SUM(土地总面积), %s FROM %s where 座落单位代码 like %s",
      " GROUP BY 座落单位代码,座落单位名称"},
     {" SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  %s.权属单位代码 LIKE %s",
      " GROUP BY 权属单位代码"},
     {" SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  %s.权属单位代码 LIKE %s ",
      " GROUP BY 权属单位代码"}}};

const char* const kKindTitles[] = {
    "", "汇总土地利用现状一级分类面积", "汇总土地利用现状二级分类面积",
    "汇总土地利用现状海岛一级分类面积", "汇总土地利用现状海岛二级分类面积"};

}  // namespace

std::string CStatContext::SummarySource(short unit, const std::string& copy_base) {
  // The copies of every wanted unit are summed together, each read by a
  // processor of its own: all of them are read by the class summaries. The
  // slope table's sums of the unit copies are made in the same scan of
  // each copy (Oracle's statements read the copies themselves).
  const bool copies = copy_base == "statdata";
  std::vector<SummedRequest> requests;
  for (short other : {kSquareMetre, kHectare, kMu}) {
    if (other != unit && (!copies || !WantsSummaryUnit(other))) continue;
    std::vector<SummedRequest> sums = CopySums(other, copy_base);
    requests.insert(requests.end(), std::make_move_iterator(sums.begin()),
                    std::make_move_iterator(sums.end()));
  }
  PrepareSummedTables(requests);
  const std::string copy = m_names.UnitCopy(unit, copy_base);
  return PreparedOr(copy, copy);
}

std::vector<CStatContext::SummedRequest> CStatContext::CopySums(
    short unit, const std::string& copy_base) const {
  const bool copies = copy_base == "statdata";
  const std::string copy = m_names.UnitCopy(unit, copy_base);
  std::vector<SummedRequest> requests{LevelSums(
      copy, "landstat_levels_" + std::string(UnitPrefix(unit)) + (copies ? "" : "_" + copy_base))};
  requests.back().query.decimals = DecimalsOf(unit);
  if (copies && !m_bOracle) requests.push_back(SlopeSums(copy));
  return requests;
}

std::vector<CStatContext::SummedRequest> CStatContext::SharedCopySums(short unit) const {
  std::vector<SummedRequest> requests = CopySums(unit, "statdata");
  for (SummedRequest& request : requests) request.name += "_shared";
  return requests;
}

CStatContext::SummedRequest CStatContext::LevelSums(const std::string& copy,
                                                    const std::string& name) const {
  // The level statements of the class, island, ownership and enclave
  // summaries read only the level codes and names, the two unit codes, the
  // owner's name, the ownership nature, 描述说明 and the areas: the copy
  // summed once by all of these is a far smaller table to group, with the
  // same sums (the owner's name follows the owner's code, so it adds hardly
  // a group).
  SummedRequest request{copy, name, {}, "按级汇总的临时表未能建立, 直接读取"};
  request.query.table = copy;
  request.query.keys = {"县级代码",     "县名称",       "乡级代码",     "乡名称",
                        "村级代码",     "村名称",       "座落单位代码", "座落单位名称",
                        "权属单位代码", "权属单位名称", "权属性质"};
  if (m_bHasMssm) request.query.keys.push_back("描述说明");
  request.query.sums = AreaColumns();
  return request;
}

std::map<std::string, std::string> CStatContext::ShareUnitCopySums(short unit) {
  // The connections of a run that build beside each other would each sum
  // every copy into temporary tables of their own: summed once, into
  // tables of the run's schema, every connection reads the same sums.
  std::map<std::string, std::string> shared;
  if (!WantsSummaryUnit(unit)) return shared;
  const std::vector<SummedRequest> requests = SharedCopySums(unit);
  PrepareSummedTables(requests, false);
  for (const SummedRequest& request : requests) {
    const auto made = m_mapSummarySources.find(request.key);
    if (made != m_mapSummarySources.end()) shared.insert(*made);
  }
  return shared;
}

std::vector<std::string> CStatContext::SharedCopySumTables() const {
  std::vector<std::string> tables;
  for (const auto& [unit, name] : UnitCopies()) {
    for (const SummedRequest& request : SharedCopySums(unit)) tables.push_back(request.name);
  }
  return tables;
}

void CStatContext::AdoptSummedTables(const std::map<std::string, std::string>& tables) {
  m_mapSummarySources.insert(tables.begin(), tables.end());
}

void CStatContext::PrepareSummedTables(const std::vector<SummedRequest>& requests, bool temporary) {
  // Each copy is summed in one pass in memory (the database would sort the
  // whole copy); the copies are read at the same time.
  std::vector<const SummedRequest*> wanted;
  std::vector<db::GroupedSumsQuery> queries;
  for (const SummedRequest& request : requests) {
    if (m_mapSummarySources.count(request.key)) continue;
    try {
      CreateSummedTable(request.query, request.name, temporary);
      // Sums made as the copy was filled are written, not read again, and
      // let go.
      const auto fed = m_mapFedSums.find(request.key);
      if (fed != m_mapFedSums.end()) {
        const std::unique_ptr<db::GroupedSums> sums = std::move(fed->second);
        m_mapFedSums.erase(fed);
        sums->WriteTo(m_pConn, request.name, true);
        m_mapSummarySources[request.key] = request.name;
        continue;
      }
      wanted.push_back(&request);
      queries.push_back(request.query);
    } catch (const db::DbError& error) {
      LogNotice("汇总 " + request.query.table,
                std::string(request.notice) + " (" + error.what() + ")");
    }
  }
  if (wanted.empty()) return;
  std::vector<std::unique_ptr<db::GroupedSums>> sums;
  try {
    sums = db::GroupedSums::ReadAll(m_pConn, queries);
  } catch (const db::DbError&) {
    // Read again one by one, so that the copy that cannot be read is the
    // one noticed.
    sums.clear();
    sums.resize(wanted.size());
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    try {
      if (!sums[i]) sums[i] = std::make_unique<db::GroupedSums>(m_pConn, queries[i]);
      sums[i]->WriteTo(m_pConn, wanted[i]->name, true);
      m_mapSummarySources[wanted[i]->key] = wanted[i]->name;
    } catch (const db::DbError& error) {
      LogNotice("汇总 " + queries[i].table,
                std::string(wanted[i]->notice) + " (" + error.what() + ")");
    }
  }
}

std::string CStatContext::PreparedOr(const std::string& key, const std::string& copy) const {
  const auto prepared = m_mapSummarySources.find(key);
  return prepared == m_mapSummarySources.end() ? copy : prepared->second;
}

void CStatContext::CreateSummedTable(const db::GroupedSumsQuery& query, const std::string& name,
                                     bool temporary) {
  std::string keys, sums;
  for (const std::string& key : query.keys) keys += (keys.empty() ? "" : ",") + key;
  for (const std::string& sum : query.sums) sums += ",SUM(" + sum + ") AS " + sum;
  m_pConn.Execute("DROP TABLE IF EXISTS " + name);
  m_pConn.Execute(std::string(temporary ? "CREATE TEMPORARY TABLE " : "CREATE TABLE ") + name +
                  " AS SELECT " + keys + sums + " FROM " + query.table + " WHERE 1=0 GROUP BY " +
                  keys);
}

void CStatContext::ForgetSummarySources() {
  m_mapSummarySources.clear();
  m_mapFedSums.clear();
}

bool CStatContext::WantsSummaryUnit(short unit) const {
  return WantsUnit(unit) && !(unit == kSquareMetre && m_bNoPmTables);
}

bool CStatContext::WantsUnit(short unit) const {
  return (unit == kSquareMetre && m_bPm) || (unit == kHectare && m_bGq) || (unit == kMu && m_bMu);
}

void CStatContext::ForEachSummaryTable(
    const std::string& base, const std::function<void(const std::string&, short, short)>& fill) {
  for (short scope : {short{0}, short{1}}) {
    if (m_nStatScope != 2 && m_nStatScope != scope) continue;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      if (WantsSummaryUnit(unit)) fill(m_names.Summary(scope ? 'Q' : 'Z', unit, base), scope, unit);
    }
  }
}

void CStatContext::ForEachSummaryCopy(
    const std::string& base,
    const std::function<void(const std::string&, const std::string&, short)>& fill,
    bool summed_source, const std::string& source_base) {
  ForEachSummaryTable(base, [&](const std::string& target, short scope, short unit) {
    fill(summed_source ? SummarySource(unit, source_base) : m_names.UnitCopy(unit, source_base),
         target, scope);
  });
}

short CStatContext::StatTdlyClass(short kind) {
  static const char* const kBases[] = {"", "TDLY_YJFL", "TDLY_EJFL", "HDTDLY_YJFL", "HDTDLY_EJFL"};
  if (kind < 1 || kind > 4) return 1;
  ForEachSummaryCopy(kBases[kind], [&](const std::string& source, const std::string& target,
                                       short scope) { SumTdlyClass(kind, source, target, scope); });
  return 1;
}

short CStatContext::StatTdlySjfl() {
  ForEachSummaryCopy("TDLY_SJFL", [&](const std::string& source, const std::string& target,
                                      short scope) { SumTdlyClass(2, source, target, scope); });
  return 1;
}

short CStatContext::RunLevelStatements(const std::vector<std::string>& statements,
                                       const LevelPolicy& policy) {
  for (std::size_t level = 0; level < statements.size(); ++level) {
    const bool unit_level = level == 3;
    const std::string statement = Dialect().RoundSums(statements[level], policy.decimals);
    if (unit_level && policy.trace_unit_statement) host::yDebugStr(statement);
    try {
      m_pConn.Execute(statement);
    } catch (const db::DbError& error) {
      if (policy.trace_failed_statements || (level == 0 && policy.trace_failed_county)) {
        host::yDebugStr(statement);
      }
      LogFailure(policy.title, kLevelMessages[level], error);
      if (unit_level || (level == 2 && policy.stop_after_village)) return 0;
    }
  }
  return 1;
}

namespace landuse {

std::string LevelSource(const std::string& source, const std::string& coarse, short scope,
                        int level) {
  return !coarse.empty() && (scope == 1 || level < 3) ? coarse : source;
}

}  // namespace landuse

std::string CStatContext::CoarseSource(const std::string& summed, short scope) {
  if (m_bOracle) return {};  // its statements are text only
  bool is_summed = false;
  for (const auto& [key, name] : m_mapSummarySources) is_summed = is_summed || name == summed;
  if (!is_summed) return {};
  const auto coarse = [&](short by) {
    SummedRequest request{summed + (by == 1 ? "#owners" : "#villages"),
                          "landstat_" + std::string(by == 1 ? "owners_" : "villages_") + summed,
                          {},
                          "按级汇总的临时表未能建立, 直接读取"};
    request.query.table = summed;
    request.query.keys = by == 1 ? std::vector<std::string>{"权属单位代码"}
                                 : std::vector<std::string>{"县级代码", "县名称",   "乡级代码",
                                                            "乡名称",   "村级代码", "村名称"};
    request.query.sums = AreaColumns();
    return request;
  };
  // A run of both scopes reads both from one scan of the summed copy.
  std::vector<SummedRequest> requests = {coarse(scope)};
  if (m_nStatScope == 2) requests.push_back(coarse(scope == 1 ? 0 : 1));
  PrepareSummedTables(requests);
  return PreparedOr(requests.front().key, {});
}

std::vector<std::string> CStatContext::TdlyClassStatements(short kind, const std::string& source,
                                                           const std::string& target, short scope,
                                                           const std::string& coarse) const {
  // The island kinds are the island tables' own statements: the district
  // table is read as a list of island villages, never joined row by row, and
  // scope Q takes the owner's village, as the rural run's island tables do.
  if (kind >= 3) {
    return IslandStatements(kind == 3 ? IslandTableKind::kHdYjfl : IslandTableKind::kHdEjfl, source,
                            target, scope);
  }
  const auto [sums, columns, total_sum, classes, row_total] = ClassSumLists(kind, false);
  const std::string head =
      "insert into " + target + (scope == 1 ? "(XZQDM,XZQZMJ," : "(XZQDM,XZQMC,XZQZMJ,");
  const int dialect = scope == 0 ? 0 : (m_bOracle ? 2 : 1);
  std::vector<std::string> statements;
  for (int level = kCounty; level <= kUnit; ++level) {
    if (level == kUnit && !m_bGroupLevel) break;
    const bool unit_level = level == kUnit;
    const char* text = kPlain[level][dialect].select;
    const std::string from = landuse::LevelSource(source, coarse, scope, level);
    const std::string select = !unit_level ? fmt::sprintf(text, sums, from)
                               : scope == 0
                                   ? fmt::sprintf(text, sums, from, GroupCodesLike())
                                   : fmt::sprintf(text, sums, from, from, GroupCodesLike());
    statements.push_back(head + columns + select + kPlain[level][dialect].group);
  }
  return statements;
}

short CStatContext::SumTdlyClass(short kind, const std::string& source, const std::string& target,
                                 short scope) {
  if (kind < 1 || kind > 4) return 0;
  LevelPolicy policy;
  policy.title = kKindTitles[kind];
  const std::string coarse = kind <= 2 ? CoarseSource(source, scope) : std::string();
  if (RunLevelStatements(TdlyClassStatements(kind, source, target, scope, coarse), policy) == 0) {
    return 0;
  }
  if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  return 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> ClassFamilies() {
  const auto create_first = [](C& c) { return c.CreateTdlyYjflTables(); };
  const auto fill_first = [](C& c) { c.StatTdlyClass(1); };
  const auto create_second = [](C& c) { return c.CreateTdlyEjflTables(); };
  const auto fill_second = [](C& c) { c.StatTdlyClass(2); };
  return {
      {.base = "TDLY_YJFL",
       .stage = 1000,
       .builds = Town,
       .create = create_first,
       .fill = fill_first,
       .progress = "正在汇总城镇土地利用现状表",
       .conversion = LevelConversion(
           10, "正在转换土地利用数据", true, [](C& c) { return c.CreateTdlyYjflConvertedTable(); },
           [](C& c) { return c.SumTdlyClassConverted(1); }, SummaryShape::kClassLevels)},
      {.base = "TDLY_EJFL",
       .stage = 1010,
       .builds = Town,
       .create = create_second,
       .fill = fill_second,
       .conversion = LevelConversion(
           20, "正在转换土地利用数据", false, [](C& c) { return c.CreateTdlyEjflConvertedTable(); },
           [](C& c) { return c.SumTdlyClassConverted(2); }, SummaryShape::kClassLevels)},
      {.base = "TDLY_SJFL",
       .stage = 1020,
       .builds = Town,
       .create = [](C& c) { return c.CreateTdlySjflTables(); },
       .fill = [](C& c) { c.StatTdlySjfl(); }},
      {.base = "TDLY_YJFL",
       .stage = 10,
       .builds = CountyBatch,
       .create = create_first,
       .fill = fill_first},
      {.base = "TDLY_EJFL",
       .stage = 20,
       .builds = CountyBatch,
       .create = create_second,
       .fill = fill_second},
  };
}

}  // namespace landstat::landuse
