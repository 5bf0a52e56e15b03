// The rural land-use class summaries: NCTDLY_YJFL, NCTDLY_EJFL, NCTDLY_SJFL
// (the classes 05 to 09 left out, the total summed from the kept classes)
// and the regrouped second-level table NCTDLY_GDEJFL.

#include <fmt/printf.h>

#include "engine/execute_or_trace.h"
#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "landuse/land_use_families.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "resources/resources.h"

namespace landstat {
namespace {

struct LevelText {
  const char* select;
  const char* group;
};

// By level: scope Z, scope Q on Access and the generic server, scope Q on
// Oracle. Arguments: total expression, sum list, source (and the county
// code at the unit level).
const LevelText kRuralLevels[4][3] = {
    {{" SELECT 县级代码,县名称,%s, %s FROM %s ", "GROUP BY 县级代码,县名称"},
     {" SELECT left(权属单位代码,6),%s, %s FROM %s ", "GROUP BY left(权属单位代码,6)"},
     {" SELECT substr(权属单位代码,0,6),%s, %s FROM %s ", "GROUP BY substr(权属单位代码,0,6)"}},
    {{" SELECT 乡级代码,乡名称,%s,%s FROM %s ", "GROUP BY 乡级代码,乡名称"},
     {" SELECT left(权属单位代码,9),%s, %s FROM %s ", "GROUP BY left(权属单位代码,9)"},
     {" SELECT substr(权属单位代码,0,9),%s, %s FROM %s ", "GROUP BY substr(权属单位代码,0,9)"}},
    {{" SELECT 村级代码,村名称,%s, %s FROM %s ", "GROUP BY 村级代码,村名称"},
     {" SELECT left(权属单位代码,12),%s, %s FROM %s ", "GROUP BY left(权属单位代码,12)"},
     {" SELECT substr(权属单位代码,0,12),%s, %s FROM %s ", "GROUP BY substr(权属单位代码,0,12)"}},
    {{" SELECT 座落单位代码,座落单位名称,%s, %s FROM %s where 座落单位代码 like %s",
      "GROUP BY 座落单位代码,座落单位名称"},
     {" SELECT 权属单位代码,%s, %s FROM %s where 权属单位代码 like %s ", "GROUP BY 权属单位代码"},
     {" SELECT 权属单位代码,%s, %s FROM %s where 权属单位代码 like %s", "GROUP BY 权属单位代码"}}};

}  // namespace

short CStatContext::StatNcTdlyClass(short kind) {
  if (kind != 1 && kind != 2) return 1;
  ForEachSummaryTable(kind == 1 ? "NCTDLY_YJFL" : "NCTDLY_EJFL",
                      [&](const std::string& target, short scope, short unit) {
                        SumNcTdlyClass(kind, SummarySource(unit), target, scope, DecimalsOf(unit));
                      });
  return 1;
}

short CStatContext::StatNcTdlySjfl() {
  ForEachSummaryTable("NCTDLY_SJFL", [&](const std::string& target, short scope, short unit) {
    // Its statements are those of the second-level table of the same scope
    // and unit: rows that table holds whole are copied, not summed again.
    const std::string second = m_names.Summary(scope ? 'Q' : 'Z', unit, "NCTDLY_EJFL");
    if (CopyRuralSecondLevelRows(second, target, scope)) {
      if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
      return;
    }
    SumNcTdlyClass(2, SummarySource(unit), target, scope, DecimalsOf(unit));
  });
  return 1;
}

bool CStatContext::CopyRuralSecondLevelRows(const std::string& second, const std::string& target,
                                            short scope) {
  // A server may store updated rows elsewhere in the table: it sums again.
  if (m_pConn.Kind() != db::DbKind::kEmbedded || !m_setWholeSummaries.count(second)) return false;
  // The columns the statements write, in their order; the owners' names
  // are filled afterwards, as after the statements.
  std::vector<std::string> columns = {"XZQDM"};
  if (scope != 1) columns.emplace_back("XZQMC");
  columns.emplace_back("XZQZMJ");
  for (const std::string& code : m_arrClassCodes) {
    if (IsRuralClassCode(code)) columns.push_back("BM" + code);
  }
  std::string select;
  for (const std::string& column : columns) select += (select.empty() ? "" : ",") + column;
  try {
    // In the order stored, as the statements wrote them.
    m_pConn.InsertSelect(target, columns, "select " + select + " from " + second);
    return true;
  } catch (const db::DbError& error) {
    // One statement: nothing was copied, and the table is summed instead.
    LogNotice(target, "未能复制 " + second + ", 重新汇总 (" + error.what() + ")");
    return false;
  }
}

CStatContext::ClassLists CStatContext::ClassSumLists(short kind, bool rural) const {
  const std::vector<std::string>& codes = kind == 1 ? m_arrClass1Codes : m_arrClassCodes;
  ClassLists lists;
  std::string total;
  for (const std::string& code : codes) {
    if (rural && !IsRuralClassCode(code)) continue;
    lists.sums += (lists.sums.empty() ? "" : ",") + std::string("SUM(BM") + code + ") ";
    lists.columns += (lists.columns.empty() ? "" : ",") + std::string("BM") + code;
    lists.classes.push_back("BM" + code);
    // The total: the first-level columns only, so a sub-class is not
    // counted twice.
    if (kind == 1 || code.size() == 2) total += (total.empty() ? "" : "+") + ("BM" + code);
  }
  lists.columns += ")";
  lists.row_total = total;
  lists.total_sum = "SUM(" + total + ") ";
  return lists;
}

std::vector<std::string> CStatContext::NcTdlyClassStatements(short kind, const std::string& source,
                                                             const std::string& target, short scope,
                                                             const std::string& coarse) const {
  const auto [sums, columns, total_sum, classes, row_total] = ClassSumLists(kind, true);
  const std::string head =
      "insert into " + target + (scope == 1 ? "(XZQDM,XZQZMJ," : "(XZQDM,XZQMC,XZQZMJ,");
  const int dialect = scope == 0 ? 0 : (m_bOracle ? 2 : 1);
  std::vector<std::string> statements;
  for (int level = 0; level < 4; ++level) {
    if (level == 3 && !m_bGroupLevel) break;
    const LevelText& text = kRuralLevels[level][dialect];
    const std::string from = landuse::LevelSource(source, coarse, scope, level);
    const std::string select =
        level == 3 ? fmt::sprintf(text.select, total_sum, sums, from, GroupCodesLike())
                   : fmt::sprintf(text.select, total_sum, sums, from);
    statements.push_back(head + columns + select + text.group);
  }
  return statements;
}

short CStatContext::SumNcTdlyClass(short kind, const std::string& source, const std::string& target,
                                   short scope, int decimals) {
  if (kind != 1 && kind != 2) return 0;
  LevelPolicy policy;
  policy.title = "汇总农村土地利用现状一级分类面积表";
  policy.trace_failed_county = true;
  policy.decimals = decimals;
  const std::string coarse = CoarseSource(source, scope);
  const int failures = m_nErrCount;
  if (RunLevelStatements(NcTdlyClassStatements(kind, source, target, scope, coarse), policy) == 0) {
    return 0;
  }
  if (kind == 2 && m_nErrCount == failures) m_setWholeSummaries.insert(target);
  if (scope == 1) FillXzqNames(target, "XZQDM", "XZQMC");
  return 1;
}

short CStatContext::StatNcTdlyGdEjfl() {
  ForEachSummaryCopy("NCTDLY_GDEJFL", [&](const std::string&, const std::string& target, short) {
    // The source is the rural second-level table of the same scope and unit.
    const std::string source =
        target.substr(0, target.size() - std::string("NCTDLY_GDEJFL").size()) + "NCTDLY_EJFL";
    MakeNcTdlyGdEjflTable(source, target);
  });
  return 1;
}

short CStatContext::MakeNcTdlyGdEjflTable(const std::string& source, const std::string& target) {
  const std::optional<std::string> script = StatementScript("NCGDEJFL", 17064, target);
  if (!script) return 0;
  // A table made by a query is dropped first, so a second run never keeps
  // the figures of the first.
  if (IsTableExist(target)) DropTable(target);
  const std::string statement =
      Dialect().SaveQueryAs(target, ReplaceAll(*script, "SourceTbl", source));
  return RunLoggedStatement(statement, "汇总农村土地利用耕地二级分类表", "生成失败", true) ? 1 : 0;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> RuralClassFamilies() {
  const auto create_first = [](C& c) { return c.CreateNcTdlyYjflTables(); };
  const auto fill_first = [](C& c) { c.StatNcTdlyClass(1); };
  const auto create_second = [](C& c) { return c.CreateNcTdlyEjflTables(); };
  const auto fill_second = [](C& c) { c.StatNcTdlyClass(2); };
  return {
      {.base = "NCTDLY_YJFL",
       .stage = 400,
       .builds = Rural,
       .create = create_first,
       .fill = fill_first,
       .progress = "正在汇总农村土地利用现状表",
       .conversion = LevelConversion(
           30, "正在转换土地利用数据", true,
           [](C& c) { return c.CreateNcTdlyYjflConvertedTable(); },
           [](C& c) { return c.SumNcTdlyClassConverted(1); }, SummaryShape::kClassLevels)},
      {.base = "NCTDLY_EJFL",
       .stage = 410,
       .builds = Rural,
       .create = create_second,
       .fill = fill_second,
       .conversion = LevelConversion(
           40, "正在转换土地利用数据", false,
           [](C& c) { return c.CreateNcTdlyEjflConvertedTable(); },
           [](C& c) { return c.SumNcTdlyClassConverted(2); }, SummaryShape::kClassLevels)},
      {.base = "NCTDLY_GDEJFL",
       .stage = 420,
       .builds = Regrouped,
       .create = NothingToCreate,
       .fill = [](C& c) { c.StatNcTdlyGdEjfl(); },
       .after = {"NCTDLY_EJFL"}},
      {.base = "NCTDLY_SJFL",
       .stage = 430,
       .builds = Rural,
       .create = [](C& c) { return c.CreateNcTdlySjflTables(); },
       .fill = [](C& c) { c.StatNcTdlySjfl(); }},
      {.base = "NCTDLY_YJFL",
       .stage = 30,
       .builds = CountyBatch,
       .create = create_first,
       .fill = fill_first},
      {.base = "NCTDLY_EJFL",
       .stage = 40,
       .builds = CountyBatch,
       .create = create_second,
       .fill = fill_second},
  };
}

}  // namespace landstat::landuse
