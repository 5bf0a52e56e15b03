// Land approved for construction but not yet used ("批而未用地", class
// remark 'P'): the second-level summary PEWY_EJFL by village, ownership
// unit, township and county, its first-level copy PEWY_YJFL and the parcel
// list PEWYTBL. The conditional form of the level builder serves the
// new-construction marker tables as well.

#include <fmt/printf.h>

#include <algorithm>

#include "engine/execute_or_trace.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

const char kTitle[] = "汇总批而未用地";

// A row condition without its leading "where", to be added to a statement
// that has a filter of its own: in parentheses, so that terms joined by OR
// stay inside that filter.
std::string WithoutWhere(const std::string& condition) {
  const std::size_t start = condition.find_first_not_of(" \t");
  if (start != std::string::npos && text::ToLowerAscii(condition.substr(start, 5)) == "where") {
    return condition.substr(start + 5);
  }
  return condition;
}

}  // namespace

short CStatContext::PewyDecimals(short unit) {
  return unit == kMu ? 1 : 2;
}

short CStatContext::SumPewyEjfl(const std::string& target, short scope, short unit, short decimals,
                                const std::string& field, const std::string& value1,
                                const std::string& value2) {
  return SumRemarkLevels(target, scope, unit, decimals, field, value1, value2, nullptr);
}

short CStatContext::SumRemarkEjfl(const std::string& target, short scope, short unit,
                                  short decimals, const std::string& field,
                                  const std::string& value1, const std::string& value2,
                                  const std::string& condition) {
  return SumRemarkLevels(target, scope, unit, decimals, field, value1, value2, &condition);
}

short CStatContext::SumRemarkLevels(const std::string& target, short scope, short unit,
                                    short decimals, const std::string& field,
                                    const std::string& value1, const std::string& value2,
                                    const std::string* condition) {
  const bool conditional = condition != nullptr;
  // A condition of the caller's may select rows of any remark.
  const std::string& source = conditional ? m_strStatTbl : RemarkedRows();
  const std::string match = fmt::sprintf("%s LIKE %s OR %s LIKE %s", field, db::QuoteText(value1),
                                         field, db::QuoteText(value2));
  // Conditional sums: Access's iif on the embedded database, CASE WHEN on a
  // server.
  const auto when = [&](const std::string& column) {
    return m_nDbMode == 0 ? fmt::format("SUM(iif({} ,{}, 0 ))", match, column)
                          : fmt::format("SUM(CASE WHEN {} THEN {} ELSE 0 END)", match, column);
  };
  std::string sums, village_sums, columns;
  for (const std::string& code : m_arrClassCodes) {
    const char* comma = columns.empty() ? "" : ",";
    sums += comma + ("SUM(BM" + code + ") ");
    village_sums += comma + (conditional ? when("BM" + code) : "SUM(BM" + code + ") ");
    columns += comma + ("BM" + code);
  }
  columns += ")";
  const std::string head = "insert into " + target + "(XZQDM,XZQZMJ," + columns;
  const std::string total = conditional ? when("土地总面积") : "SUM(土地总面积)";
  const std::string village = scope == 0  ? "村级代码"
                              : m_bOracle ? "substr(权属单位代码,0,12)"
                                          : "left(权属单位代码,12)";
  const std::string village_filter = conditional
                                         ? *condition + (scope == 0 ? " " : "")
                                         : (scope == 0 ? "  WHERE " : " WHERE ") + match + " ";
  // The village and unit rows are the same in every unit's table before
  // it is converted.
  const std::string village_select =
      fmt::sprintf(" SELECT %s,%s, %s FROM %s ", village, total, village_sums, source) +
      village_filter + "GROUP BY " + village;
  if (RunSharedGrouping(head, Dialect().RoundSums(village_select, m_nDecSrc), kTitle,
                        "汇总村级数据失败", !conditional) &&
      conditional) {
    host::yDebugStr(head + village_select);
  }
  if (m_bGroupLevel) {
    const std::string unit_column = scope == 0 ? "座落单位代码" : "权属单位代码";
    const std::string select =
        scope == 0
            ? fmt::sprintf(
                  " SELECT 座落单位代码,%s, %s FROM %s where 座落单位代码 like "
                  "%s",
                  total, village_sums, source, GroupCodesLike())
            : fmt::sprintf(
                  " SELECT 权属单位代码,%s, %s FROM %s WHERE  %s.权属单位代码 LIKE "
                  "%s%s",
                  total, village_sums, source, source, GroupCodesLike(), m_bOracle ? " " : "");
    const std::string filter =
        conditional
            ? " and (" + WithoutWhere(*condition) + ")" +
                  (scope == 0 ? "  GROUP BY " : " GROUP BY ") + unit_column
            : fmt::format("{}AND( {} ) GROUP BY {}", scope == 0 ? " " : "  ", match, unit_column);
    if (!RunSharedGrouping(head, Dialect().RoundSums(select + filter, m_nDecSrc), kTitle,
                           "汇总村民小组数据失败", !conditional)) {
      return 0;
    }
  }
  if (unit == kHectare || unit == kMu) {
    std::vector<std::string> converted = {"XZQZMJ"};
    for (const std::string& code : m_arrClassCodes) converted.push_back("BM" + code);
    if (ConvertFldValue(m_pConn, m_bOracle ? 2 : 1, target, converted,
                        FactorText(kSquareMetre, unit), decimals) == 0) {
      LogFailure("汇总批而未用地", target + " 面积单位转换失败");
    }
    // First-level columns again the sums of their converted sub-classes.
    std::vector<ColumnSum> first_sums;
    std::vector<std::string> first_level;
    for (const std::string& first : m_arrClass1Codes) {
      std::vector<std::string> parts;
      for (const std::string& code : m_arrClassCodes) {
        if (code.size() == 3 && code.compare(0, 2, first) == 0) parts.push_back("BM" + code);
      }
      first_level.push_back("BM" + first);
      if (parts.empty()) continue;
      if (SetSumFldValue(m_pConn, target, "BM" + first, parts, Dialect(), decimals) == 0) {
        LogFailure("汇总批而未用地", target + " BM" + first + " 求和失败");
      }
      first_sums.emplace_back("BM" + first, std::move(parts));
    }
    // The unit rows add up to their village in every class; their totals,
    // as every row's, are the sums of the first-level classes.
    if (m_bGroupLevel) {
      std::vector<std::string> stepped;
      for (const std::string& column : converted) {
        const bool summed = std::any_of(first_sums.begin(), first_sums.end(),
                                        [&](const ColumnSum& sum) { return sum.first == column; });
        if (column != "XZQZMJ" && !summed) stepped.push_back(column);
      }
      first_sums.emplace_back("XZQZMJ", std::move(first_level));
      BalanceUnitRows(target, stepped, first_sums, decimals);
    }
  }
  RunLoggedStatement(LevelRollUp(head, sums, target, 9, decimals), kTitle, kLevelMessages[1],
                     !conditional);
  RunLoggedStatement(LevelRollUp(head, sums, target, 6, decimals), kTitle, kLevelMessages[0],
                     !conditional);
  FillXzqNames(target, "XZQDM", "XZQMC");
  std::vector<std::string> first_level;
  for (const std::string& first : m_arrClass1Codes) first_level.push_back("BM" + first);
  SetSumFldValue(m_pConn, target, "XZQZMJ", first_level, Dialect(), decimals);
  return 1;
}

short CStatContext::StatPewyEjfl() {
  WithRemarkedRows([&] {
    WithSharedGroupings([&] {
      ForEachSummaryTable("PEWY_EJFL", [&](const std::string& target, short scope, short unit) {
        SumPewyEjfl(target, scope, unit, PewyDecimals(unit), "地类备注", "P", "p");
      });
    });
  });
  return 1;
}

short CStatContext::StatPewyYjfl() {
  ForEachSummaryTable("PEWY_YJFL",
                      [&](const std::string& target, short, short) { SumPewyYjfl(target); });
  return 1;
}

short CStatContext::SumPewyYjfl(const std::string& target) {
  std::string source = target;
  source.replace(source.rfind("YJFL"), 4, "EJFL");
  std::string select = "XZQDM,XZQMC,XZQZMJ";
  for (const std::string& first : m_arrClass1Codes) select += ",BM" + first;
  try {
    m_pConn.Execute(fmt::sprintf("INSERT INTO %s select %s FROM %s", target, select, source));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总批而未用地", target + " 汇总失败", error);
    return 0;
  }
}

short CStatContext::StatPewyTbl() {
  // Square metres whenever wanted: the parcel list has no county-batch
  // exception.
  WithRemarkedRows([&] {
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      if (WantsUnit(unit)) MakePewyTbl(m_names.UnitCopy(unit, "PEWYTBL"), unit, PewyDecimals(unit));
    }
  });
  return 1;
}

short CStatContext::MakePewyTbl(const std::string& target, short unit, short decimals) {
  const std::string area =
      unit == kSquareMetre ? "土地总面积 AS 批而未用面积 "
      : unit == kMu ? fmt::sprintf("round(土地总面积*3/2000,%d) AS 批而未用面积  ", decimals)
                    : fmt::sprintf("round(土地总面积/10000,%d) AS 批而未用面积  ", decimals);
  const std::string query = fmt::sprintf(
      "SELECT 序号,批准文号,%sFROM %s WHERE 来源='地类图斑' AND (地类备注 LIKE 'P' OR 地类备注 "
      "LIKE 'p')",
      area, RemarkedRows());
  // The list of an earlier run is replaced, not kept.
  if (IsTableExist(target)) DropTable(target);
  const std::string statement = Dialect().SaveQueryAs(target, query);
  return ExecuteOrTrace(m_pConn, statement) ? 1 : 0;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> ApprovedUnusedLandFamilies() {
  return {
      {.base = "PEWY_EJFL",
       .stage = 110,
       .builds = Rural,
       .create = [](C& c) { return c.CreatePewyEjflTables(); },
       .fill =
           [](C& c) {
             // The duda run sums by the new-construction marker instead.
             RunVariant{c.m_strVersion}.Has("duda") ? c.StatPewyEjflByMarker() : c.StatPewyEjfl();
           },
       .progress = "汇总批而未用地",
       .reads_remarked_rows = true},
      {.base = "PEWY_YJFL",
       .stage = 120,
       .builds = Rural,
       .create = [](C& c) { return c.CreatePewyYjflTables(); },
       .fill = [](C& c) { c.StatPewyYjfl(); },
       .after = {"PEWY_EJFL"}},
      {.base = "PEWYTBL",
       .stage = 210,
       .builds = Rural,
       .create = NothingToCreate,
       .fill = [](C& c) { c.StatPewyTbl(); },
       .reads_remarked_rows = true},
  };
}

}  // namespace landstat::landuse
