// The Inner Mongolia land-use summaries: first- and second-level classes,
// and their rural variants without the classes 05 to 09, by county,
// category, bureau, second-level unit and ownership unit, from the unit
// copies of the base table. One insert-select per level.

#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"

namespace landstat {

namespace {

// One of the four summaries: its base name, class level and whether it is
// rural, and the title its create failure is logged under.
struct MgSummary {
  const char* base;
  short kind;  // 1 first level, 2 every level
  bool rural;
  const char* create_title;
};
constexpr MgSummary kYjfl = {"TDLY_YJFLMG", 1, false, "建立蒙古土地利用现状一级分类面积表"};
constexpr MgSummary kEjfl = {"TDLY_EJFLMG", 2, false, "建立蒙古土地利用现状二级分类面积表"};
constexpr MgSummary kNcYjfl = {"NCTDLY_YJFLMG", 1, true, "建立蒙古农村土地利用现状一级分类面积表"};
constexpr MgSummary kNcEjfl = {"NCTDLY_EJFLMG", 2, true, "建立蒙古农村土地利用现状二级分类面积表"};

// The levels: code and name columns, the message of a failure, and whether
// only the ownership codes of the county's own length count.
struct MgLevel {
  const char* code;
  const char* name;
  const char* message;
};
constexpr MgLevel kLevels[] = {
    {"县级代码", "县名称", "汇总蒙古县级数据失败"},
    {"类别码", "类别名称", "汇总蒙古类别级数据失败"},
    {"管局级码", "管局级名称", "汇总管局级数据失败"},
    {"管局下属二级单位码", "管局下属二级单位名称", "汇总管局下属二级数据失败"},
    {"内蒙古权属单位代码", "内蒙古权属单位名称", "汇总管局下属三级单位级数据失败"}};

// The title a level's failure is logged under, by level and kind.
std::string LevelTitle(std::size_t level, short kind) {
  const char* const kinds[] = {"一级", "二级"};
  const char* const heads[] = {"汇总蒙古土地利用现状", "汇总蒙古土地利用现状",
                               "汇总土蒙古地利用现状", "汇总蒙古土地利用现状",
                               "汇总蒙古土地利用现状"};
  return std::string(heads[level]) + kinds[kind == 1 ? 0 : 1] + "分类面积" +
         (level == 0 ? "县级" : "");
}

bool RuralExcluded(const std::string& code) {
  const std::string first = code.substr(0, 2);
  return first >= "05" && first <= "09";
}

// The classes of a summary, in code-table order.
std::vector<std::string> SummaryCodes(const CMgStatContext& context, short kind, bool rural) {
  std::vector<std::string> codes;
  for (const std::string& code : kind == 1 ? context.m_arrClass1Codes : context.m_arrClassCodes) {
    if (!rural || !RuralExcluded(code)) codes.push_back(code);
  }
  return codes;
}

bool InScope(const CMgStatContext& context) {
  return context.m_nStatType == 0 || context.m_nStatType == 2;
}

short CreateSummaryTable(CMgStatContext& context, const MgSummary& summary,
                         const std::string& table) {
  if (context.IsTableExist(table)) context.DropTable(table);
  std::string statement =
      "Create Table " + table + "(XZQDM varchar(16) ,XZQMC varchar(60) ,XZQZMJ double default 0.00";
  for (const std::string& code : SummaryCodes(context, summary.kind, summary.rural)) {
    statement += ",BM" + code + " double default 0.00";
  }
  try {
    context.m_pConn.Execute(context.Dialect().ApplyTypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(summary.create_title, std::string(summary.create_title) + "失败", error);
    return 0;
  }
}

short CreateSummaryTables(CMgStatContext& context, const MgSummary& summary,
                          short (CMgStatContext::*create)(const std::string&)) {
  if (!InScope(context)) return 1;
  for (short unit : {kSquareMetre, kMu, kHectare}) {
    if (context.Wants(unit)) (context.*create)(context.SummaryTable(unit, summary.base));
  }
  return 1;
}

short SumSummary(CMgStatContext& context, const MgSummary& summary, const std::string& source,
                 const std::string& target) {
  const std::vector<std::string> codes = SummaryCodes(context, summary.kind, summary.rural);
  const std::vector<std::string> firsts = SummaryCodes(context, 1, summary.rural);
  if (codes.empty() || (summary.rural && firsts.empty())) {
    // No class to sum: the statements would have no column.
    context.LogNotice(target, "没有可汇总的地类, 未汇总");
    return 1;
  }
  std::string columns, sums;
  for (const std::string& code : codes) {
    columns += (columns.empty() ? "" : ",") + ("BM" + code);
    sums += (sums.empty() ? "" : ",") + ("SUM(BM" + code + ") ");
  }
  // The rural total is the sum of its own first-level classes, so the
  // classes 05 to 09 count nowhere in it.
  std::string total = "SUM(土地总面积)";
  if (summary.rural) {
    total = "SUM(";
    for (std::size_t i = 0; i < firsts.size(); ++i) total += (i ? "+BM" : "BM") + firsts[i];
    total += ") ";
  }
  // Sums of figures on the copy's grid are stored on it.
  int decimals = -1;
  for (const CMgStatContext::UnitSlot& slot : context.ConfiguredUnits()) {
    if (context.UnitCopyTable(slot.unit) == source) decimals = slot.decimals;
  }
  const std::string head = "insert into " + target + "(XZQDM,XZQMC,XZQZMJ," + columns + ")";
  short result = 1;
  const std::size_t levels = context.m_nLevelSwitch ? std::size(kLevels) : std::size(kLevels) - 1;
  for (std::size_t level = 0; level < levels; ++level) {
    const MgLevel& at = kLevels[level];
    std::string statement = head + " SELECT " + at.code + "," + at.name + "," + total + ", " +
                            sums + " FROM " + source + " ";
    std::vector<db::Value> values;
    if (level == 4) {
      // Only the ownership units of this county, ten characters below it.
      statement += "where " + std::string(at.code) + " like ?";
      values.emplace_back(context.m_strPrefix2 + std::string(10, '_'));
    }
    statement += " GROUP BY " + std::string(at.code) + "," + at.name;
    try {
      context.m_pConn.Execute(context.Dialect().RoundSums(statement, decimals), values);
      result = 1;
    } catch (const db::DbError& error) {
      context.LogFailure(LevelTitle(level, summary.kind), at.message, error);
      result = 0;
    }
  }
  return result;
}

short FillSummaries(CMgStatContext& context, const MgSummary& summary) {
  if (!InScope(context)) return 1;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!context.Wants(unit)) continue;
    SumSummary(context, summary, context.UnitCopyTable(unit),
               context.SummaryTable(unit, summary.base));
  }
  return 1;
}

}  // namespace

short CMgStatContext::CreateTdlyYjflTables() {
  return CreateSummaryTables(*this, kYjfl, &CMgStatContext::CreateTdlyYjflTable);
}
short CMgStatContext::CreateTdlyYjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kYjfl, table);
}
short CMgStatContext::CreateTdlyEjflTables() {
  return CreateSummaryTables(*this, kEjfl, &CMgStatContext::CreateTdlyEjflTable);
}
short CMgStatContext::CreateTdlyEjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kEjfl, table);
}
short CMgStatContext::CreateNcTdlyYjflTables() {
  return CreateSummaryTables(*this, kNcYjfl, &CMgStatContext::CreateNcTdlyYjflTable);
}
short CMgStatContext::CreateNcTdlyYjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kNcYjfl, table);
}
short CMgStatContext::CreateNcTdlyEjflTables() {
  return CreateSummaryTables(*this, kNcEjfl, &CMgStatContext::CreateNcTdlyEjflTable);
}
short CMgStatContext::CreateNcTdlyEjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kNcEjfl, table);
}

short CMgStatContext::StatTdlyClass(short kind) {
  return FillSummaries(*this, kind == 1 ? kYjfl : kEjfl);
}
short CMgStatContext::StatNcTdlyClass(short kind) {
  return FillSummaries(*this, kind == 1 ? kNcYjfl : kNcEjfl);
}
short CMgStatContext::SumTdlyClass(short kind, const std::string& source,
                                   const std::string& target) {
  return SumSummary(*this, kind == 1 ? kYjfl : kEjfl, source, target);
}
short CMgStatContext::SumNcTdlyClass(short kind, const std::string& source,
                                     const std::string& target) {
  return SumSummary(*this, kind == 1 ? kNcYjfl : kNcEjfl, source, target);
}

}  // namespace landstat
