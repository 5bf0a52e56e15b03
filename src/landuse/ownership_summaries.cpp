// The ownership-nature summaries NCTDLY_QSYJFL and TDLY_QSYJFL: each
// first-level class split into state-owned (G) and collective (J) land, per
// administrative unit.

#include <fmt/printf.h>

#include "engine/coded_rows.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

struct LevelColumns {
  const char* code;
  const char* name;
  int length;
};

// By level 1 (unit) to 6 (province): the location columns and the code
// length of the ownership prefix.
const LevelColumns kLevels[7] = {{"", "", 0},
                                 {"座落单位代码", "座落单位名称", 19},
                                 {"村级代码", "村名称", 12},
                                 {"乡级代码", "乡名称", 9},
                                 {"县级代码", "县名称", 6},
                                 {"市级代码", "市名称", 4},
                                 {"省级代码", "省名称", 2}};

}  // namespace

std::string CStatContext::OwnershipQuery(short level, bool rural, const std::string& source,
                                         short scope) const {
  if (level < 1 || level > 6) return {};
  std::string fields;
  for (const std::string& code : m_arrClass1Codes) {
    if (rural && !IsRuralClassCode(code)) continue;
    fields += (fields.empty() ? "" : ",") + fmt::format("SUM(BM{0}) AS BM{0}", code);
  }
  fields += " ";
  const LevelColumns& columns = kLevels[level];
  if (scope == 0) {
    const std::string where =
        level == 1 ? fmt::sprintf(" WHERE 座落单位代码 like %s", GroupCodesLike()) : "";
    return fmt::sprintf("SELECT %s,%s,权属性质,%s FROM %s%s GROUP BY %s,%s,权属性质 ORDER BY %s,%s",
                        columns.code, columns.name, fields, source, where, columns.code,
                        columns.name, columns.code, columns.name);
  }
  if (level == 1) {
    return fmt::sprintf(
        "SELECT 权属单位代码,权属性质,%s FROM %s WHERE 权属单位代码 like %s GROUP "
        "BY 权属单位代码,权属性质 ORDER BY 权属单位代码",
        fields, source, GroupCodesLike());
  }
  const std::string prefix = m_bOracle ? fmt::format("substr(权属单位代码,0,{})", columns.length)
                                       : fmt::format("left(权属单位代码,{})", columns.length);
  return fmt::sprintf("SELECT %s as %s,权属性质,%s FROM %s GROUP BY %s,权属性质 ORDER BY %s",
                      prefix, columns.code, fields, source, prefix, prefix);
}

short CStatContext::SumTdlyQsYjfl(short level, int rural, const std::string& target,
                                  const std::string& source, short scope, int decimals) {
  // The codes written: rural tables leave out 05 to 09, the others 20.
  std::vector<std::string> written;
  for (const std::string& code : m_arrClass1Codes) {
    if (rural ? IsRuralClassCode(code) : code != "20") written.push_back(code);
  }
  std::vector<CodedRow> rows;
  try {
    db::Recordset groups(m_pConn, OwnershipQuery(level, rural != 0, source, scope));
    const char* code_column =
        level == 1 ? (scope == 0 ? "座落单位代码" : "权属单位代码") : kLevels[level].code;
    for (; !groups.IsEOF(); groups.MoveNext()) {
      const std::string code = groups.Text(code_column);
      if (rows.empty() || rows.back().code != code) {
        rows.push_back({code, scope == 0 ? groups.Text(kLevels[level].name) : "", {}});
      }
      std::string nature = groups.Text("权属性质");
      if (groups.IsNull("权属性质")) nature = "0";
      const char* side = nature < "3" ? "G" : "J";
      auto& areas = rows.back().areas;
      for (const std::string& c : written) {
        const double area = groups.Number("BM" + c);
        areas["BM" + c + side] += area;
        areas["BM" + c + "HJ"] += area;
        areas[std::string(side) + "HJ"] += area;
        areas["ZHJ"] += area;
      }
    }
  } catch (const db::DbError& error) {
    LogFailure("权属汇总", "选择数据失败", error);
    return 0;
  }
  // One insert a unit: a unit whose row cannot be stored gets nothing at all.
  return WriteCodedRows(*this, target, rows, {.decimals = decimals, .names = true, .first_id = {}},
                        "权属汇总", "保存数据失败");
}

short CStatContext::StatTdlyQsYjfl(int rural) {
  ForEachSummaryTable(rural ? "NCTDLY_QSYJFL" : "TDLY_QSYJFL",
                      [&](const std::string& target, short scope, short unit) {
                        const std::string source = SummarySource(unit);
                        for (short level : {short{4}, short{3}, short{2}, short{1}}) {
                          SumTdlyQsYjfl(level, rural, target, source, scope, DecimalsOf(unit));
                        }
                        if (scope != 0) FillXzqNames(target, "XZQDM", "XZQMC");
                      });
  return 1;
}

short CStatContext::SumTdlyQsYjflConvertedLevel(short level, int rural) {
  return SumTdlyQsYjfl(level, rural, m_names.Plain(rural ? "NCTDLY_QSYJFL" : "TDLY_QSYJFL"),
                       ConvertedSource(ConvertedSums::kLevels, "statdataex"), 0);
}

short CStatContext::SumTdlyQsYjflConverted(int rural) {
  for (short level : {short{4}, short{3}, short{2}}) {
    if (SumTdlyQsYjflConvertedLevel(level, rural) == 0) return 0;
  }
  return m_bGroupLevel ? SumTdlyQsYjflConvertedLevel(1, rural) : 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> OwnershipFamilies() {
  return {
      {.base = "NCTDLY_QSYJFL",
       .stage = 600,
       .builds = Rural,
       .create = [](C& c) { return c.CreateNcTdlyQsYjflTables(); },
       .fill = [](C& c) { c.StatTdlyQsYjfl(1); },
       .progress = "正在汇总权属数据",
       .conversion = LevelConversion(
           50, "正在转换权属数据", true, [](C& c) { return c.CreateNcTdlyQsYjflConvertedTable(); },
           [](C& c) { return c.SumTdlyQsYjflConverted(1); }, SummaryShape::kOwnershipLevels)},
      {.base = "TDLY_QSYJFL",
       .stage = 1030,
       .builds = Town,
       .create = [](C& c) { return c.CreateTdlyQsYjflTables(); },
       .fill = [](C& c) { c.StatTdlyQsYjfl(0); },
       .conversion = LevelConversion(
           60, "正在转换权属数据", true, [](C& c) { return c.CreateTdlyQsYjflConvertedTable(); },
           [](C& c) { return c.SumTdlyQsYjflConverted(0); }, SummaryShape::kOwnershipLevels)},
  };
}

}  // namespace landstat::landuse
