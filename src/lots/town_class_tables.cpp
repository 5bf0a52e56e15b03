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

// One level's rows on the embedded engine: its statement would sort the
// whole lot table, so the lots are grouped in one pass in memory instead,
// each group summed in the order of the rows as the statement sums them,
// and the groups written in the order of their keys as the statement gives
// them.
void SumLevelInMemory(CZdStatContext& context, const ClassLevel& level,
                      const std::vector<std::string>& codes, const std::string& target,
                      const TownSources& sources) {
  db::GroupedSumsQuery query{sources.lots, {}, {level.code, level.name}, {"宗地总面积"}};
  query.decimals = sources.decimals;
  std::vector<db::GroupedSums::Column> columns{
      {level.code, "XZQDM"}, {level.name, "XZQMC"}, {"宗地总面积", "XZQZMJ"}};
  for (const std::string& code : codes) {
    query.sums.push_back("BM" + code);
    columns.push_back({"BM" + code, {}});
  }
  db::GroupedSums(context.m_pConn, query).WriteTo(context.m_pConn, target, columns, true);
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
  std::string columns, sums;
  for (const std::string& code : context.*table.codes) {
    const char* comma = columns.empty() ? "" : ",";
    columns += comma + ("BM" + code);
    sums += comma + ("SUM(BM" + code + ") BM" + code);
  }
  const bool in_memory = context.m_pConn.Kind() == db::DbKind::kEmbedded;
  for (const ClassLevel& level : kClassLevels) {
    const std::string statement = context.Dialect().RoundSums(
        "insert into " + target + "(XZQDM,XZQMC,XZQZMJ," + columns + ")" +
            fmt::sprintf(level.select, sums, sources.lots) + level.group,
        sources.decimals);
    try {
      if (in_memory) {
        SumLevelInMemory(context, level, context.*table.codes, target, sources);
      } else {
        context.m_pConn.Execute(statement);
      }
    } catch (const db::DbError&) {
      context.LogFailure(table.title, level.failure);
      if (table.stop_at_failure) return 0;
    }
  }
  return 1;
}

}  // namespace

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
