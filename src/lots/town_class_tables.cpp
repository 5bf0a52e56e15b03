// The town land-use classification tables CZTDLY_YJFLZD (first-level
// classes) and CZTDLY_EJFLZD (first- and second-level classes): one row per
// county, street and block with the lots' total area and their area per
// class, summed from the lot table by one statement per level.

#include <fmt/printf.h>

#include "lots/town_summary_family.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"

namespace landstat {
namespace {

// The select and group texts of a level, and the message logged when its
// statement fails. Levels run in this order, so the rows stand county
// first, then the streets, then the blocks.
struct ClassLevel {
  const char* select;
  const char* group;
  const char* failure;
  const char* code;
  const char* name;
};

const ClassLevel kClassLevels[] = {
    {" SELECT 县级代码,县名称,SUM(宗地总面积), %s FROM %s ", "GROUP BY 县级代码,县名称",
     "县级数据汇总失败", "县级代码", "县名称"},
    {" SELECT 街道代码,街道名称,SUM(宗地总面积), %s FROM %s ", "GROUP BY 街道代码,街道名称",
     "街道数据汇总失败", "街道代码", "街道名称"},
    {" SELECT 街坊代码,街坊名称,SUM(宗地总面积), %s FROM %s ", "GROUP BY 街坊代码,街坊名称",
     "街坊数据汇总失败", "街坊代码", "街坊名称"},
};

// The rows of every level on the embedded engine: a level's statement would
// sort the whole lot table, so the lots are grouped in memory instead, the
// three levels read at the same time (each summed as the statement sums it,
// and written in the order of its keys as the statement gives them), with
// the sums of the second family's classes, which include the first's.
db::GroupedSumsQuery LevelQuery(const CZdStatContext& context, const ClassLevel& level,
                                const TownSources& sources) {
  db::GroupedSumsQuery query{sources.lots, {}, {level.code, level.name}, {"宗地总面积"}};
  query.decimals = sources.decimals;
  for (const std::string& code : context.m_arrClassCodes) query.sums.push_back("BM" + code);
  return query;
}

// Every level at once; a DbError when any cannot be read (each level is
// then read alone, so that only those that cannot be read fail).
std::vector<std::unique_ptr<db::GroupedSums>> ReadClassLevels(CZdStatContext& context,
                                                              const TownSources& sources) {
  std::vector<db::GroupedSumsQuery> queries;
  for (const ClassLevel& level : kClassLevels) {
    queries.push_back(LevelQuery(context, level, sources));
  }
  return db::GroupedSums::ReadAll(context.m_pConn, queries);
}

void WriteLevel(CZdStatContext& context, const db::GroupedSums& sums, const ClassLevel& level,
                const std::vector<std::string>& codes, const std::string& target) {
  std::vector<db::GroupedSums::Column> columns{
      {level.code, "XZQDM"}, {level.name, "XZQMC"}, {"宗地总面积", "XZQZMJ"}};
  for (const std::string& code : codes) columns.push_back({"BM" + code, {}});
  sums.WriteTo(context.m_pConn, target, columns, true);
}

// What tells the two tables apart: their class codes, the title of a failed
// level, and whether a failed level ends the fill (the second level) or the
// fill goes on with the next level (the first).
struct ClassTable {
  std::vector<std::string> CZdStatContext::*codes;
  const char* title;
  bool stop_at_failure;
};

const ClassTable kFirstLevel{&CZdStatContext::m_arrClass1Codes, "汇总城镇土地利用一级", false};
const ClassTable kSecondLevel{&CZdStatContext::m_arrClassCodes, "汇总城镇土地利用二级", true};

// The three level statements from `source` into `target`; 0 when a level
// failed and the table stops there, 1 otherwise.
short SumClassLevels(CZdStatContext& context, const ClassTable& table, const std::string& target,
                     const TownSources& sources) {
  std::vector<std::string> columns = {"XZQDM", "XZQMC", "XZQZMJ"};
  std::string sums;
  for (const std::string& code : context.*table.codes) {
    columns.push_back("BM" + code);
    sums += (sums.empty() ? "" : ",") + ("SUM(BM" + code + ") BM" + code);
  }
  const bool in_memory = context.m_pConn.Kind() == db::DbKind::kEmbedded;
  // The levels gathered as the table was written (FeedClassLevels, on
  // either engine), else on the embedded engine read by the first family,
  // which keeps them for the second, which reads the same table next; the
  // second takes them.
  const std::string kept_as = LotTableKey(sources);
  std::vector<std::unique_ptr<db::GroupedSums>> levels;
  const auto kept = context.m_classLevelSums.find(kept_as);
  if (kept != context.m_classLevelSums.end()) {
    levels = std::move(kept->second);
    context.m_classLevelSums.erase(kept);
  }
  if (in_memory) {
    try {
      if (levels.empty()) levels = ReadClassLevels(context, sources);
    } catch (const db::DbError&) {
      levels.clear();  // each level is read alone below
    }
  }
  for (std::size_t i = 0; i < std::size(kClassLevels); ++i) {
    const ClassLevel& level = kClassLevels[i];
    const std::string query = context.Dialect().RoundSums(
        fmt::sprintf(level.select, sums, sources.lots) + level.group, sources.decimals);
    try {
      if (levels.size() == std::size(kClassLevels)) {
        WriteLevel(context, *levels[i], level, context.*table.codes, target);
      } else if (!in_memory) {
        context.m_pConn.InsertSelect(target, columns, query);
      } else {
        const db::GroupedSums alone(context.m_pConn, LevelQuery(context, level, sources));
        WriteLevel(context, alone, level, context.*table.codes, target);
      }
    } catch (const db::DbError&) {
      context.LogFailure(table.title, level.failure);
      if (table.stop_at_failure) return 0;
    }
  }
  if (&table == &kFirstLevel && levels.size() == std::size(kClassLevels)) {
    context.m_classLevelSums[kept_as] = std::move(levels);
  }
  return 1;
}

}  // namespace

std::vector<std::unique_ptr<db::GroupedSums>> CZdStatContext::FeedClassLevels(
    const TownSources& sources, const std::vector<std::string>& columns) const {
  std::vector<std::unique_ptr<db::GroupedSums>> levels;
  for (const ClassLevel& level : kClassLevels) {
    levels.push_back(std::make_unique<db::GroupedSums>(LevelQuery(*this, level, sources), columns));
  }
  return levels;
}

void CZdStatContext::KeepClassLevels(const TownSources& sources,
                                     std::vector<std::unique_ptr<db::GroupedSums>> levels) {
  m_classLevelSums[LotTableKey(sources)] = std::move(levels);
}

const TownSummary kTownYjflzd{
    "CZTDLY_YJFLZD", "建立城镇土地一级汇总表", "CZTDLY_YJFLZD",
    [](const CZdStatContext& context) { return TownLevelColumns(context.m_arrClass1Codes); },
    [](CZdStatContext& context, const std::string& target, const TownSources& sources) {
      return SumClassLevels(context, kFirstLevel, target, sources);
    }};

const TownSummary kTownEjflzd{
    "CZTDLY_EJFLZD", "建立城镇土地二级汇总表", "CZTDLY_EJFLZD",
    [](const CZdStatContext& context) { return TownLevelColumns(context.m_arrClassCodes); },
    [](CZdStatContext& context, const std::string& target, const TownSources& sources) {
      return SumClassLevels(context, kSecondLevel, target, sources);
    }};

short CZdStatContext::CreateYjflzdTables() {
  return CreateTownTables(kTownYjflzd);
}
short CZdStatContext::CreateYjflzdTable(const std::string& table) {
  return CreateTownTable(kTownYjflzd, table);
}
short CZdStatContext::SumYjflzd() {
  return SumTownTables(kTownYjflzd);
}
short CZdStatContext::SumYjflzdTable(const std::string& target, const std::string& source) {
  return SumClassLevels(*this, kFirstLevel, target, {source, {}});
}
short CZdStatContext::CreateYjflzdTableDated() {
  return CreateTownTableDated(kTownYjflzd);
}
short CZdStatContext::SumYjflzdDated() {
  return SumTownTableDated(kTownYjflzd);
}

short CZdStatContext::CreateEjflzdTables() {
  return CreateTownTables(kTownEjflzd);
}
short CZdStatContext::CreateEjflzdTable(const std::string& table) {
  return CreateTownTable(kTownEjflzd, table);
}
short CZdStatContext::SumEjflzd() {
  return SumTownTables(kTownEjflzd);
}
short CZdStatContext::SumEjflzdTable(const std::string& target, const std::string& source) {
  return SumClassLevels(*this, kSecondLevel, target, {source, {}});
}
short CZdStatContext::CreateEjflzdTableDated() {
  return CreateTownTableDated(kTownEjflzd);
}
short CZdStatContext::SumEjflzdDated() {
  return SumTownTableDated(kTownEjflzd);
}

}  // namespace landstat
