// The enclave-land summaries FRDTDLY_YJFL and FRDTDLY_EJFL: collective land
// lying in another unit than the one that owns it, one row per pair of
// location unit and owner unit (and, in the Fujian variant, per county,
// township and village pair too). By location only.

#include <fmt/printf.h>

#include <algorithm>

#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

const char* const kEnclaveBases[] = {"", "FRDTDLY_YJFL", "FRDTDLY_EJFL"};

// The sum list and the column list of a kind: every class but 05 to 09.
using EnclaveLists = CStatContext::ClassLists;

std::string InsertHead(const std::string& target, const EnclaveLists& lists) {
  return "insert into " + target + "(SZXZQDM,SZXZQMC,SSXZQDM,SSXZQMC,FRDMJ," + lists.columns;
}

const char kPairCondition[] =
    "(座落单位代码<>权属单位代码) AND (权属性质 like '3%' or 权属性质 like '4%')";
const std::string kPairWhere = "WHERE " + std::string(kPairCondition) + "  ";
// The conversion's rebuild leaves out every row with area in the classes
// 05 to 09.
const char* const kLeftOutClasses[] = {"BM05", "BM06", "BM07", "BM08", "BM09"};

// "(BM05=0 and ... BM09=0)".
std::string ConvertedPairClasses() {
  std::string condition;
  for (const char* column : kLeftOutClasses) {
    condition += (condition.empty() ? "(" : " and ") + std::string(column) + "=0";
  }
  return condition + ")";
}
const char kPairGroup[] = "GROUP BY 座落单位代码,座落单位名称,权属单位代码,权属单位名称";

std::string PairStatement(const std::string& target, const std::string& source,
                          const EnclaveLists& lists, const std::string& condition) {
  return InsertHead(target, lists) +
         fmt::sprintf(
             " SELECT 座落单位代码,座落单位名称,权属单位代码,权属单位名称,SUM(土地总面积), "
             "%s FROM %s ",
             lists.sums, source) +
         condition;
}

// One level of the Fujian variant: county (6), township (9) or village (12).
struct EnclaveLevel {
  const char* code;
  const char* name;
  int length;
  const char* title;
  const char* message;
};

const EnclaveLevel kEnclaveLevels[] = {
    {"县级代码", "县名称", 6, "县汇总飞入地", "县汇总飞入地失败"},
    {"乡级代码", "乡名称", 9, "乡汇总飞入地", "乡汇总飞入地失败"},
    {"村级代码", "村名称", 12, "村汇总飞入地", "村汇总飞入地失败"},
};

// `codes` is the county's rows of the ownership-unit code table.
std::string LevelStatement(const EnclaveLevel& level, const std::string& target,
                           const std::string& source, const EnclaveLists& lists,
                           const db::SqlDialect& dialect, const std::string& codes) {
  const std::string owner = dialect.Left("A.权属单位代码", level.length);
  const std::string pattern = std::string(level.length, '_') + std::string(19 - level.length, '0');
  return InsertHead(target, lists) +
         fmt::format(
             " SELECT A.{0},A.{1},{2},B.QSDWMC,SUM(土地总面积), {3} FROM {4} AS A ,{5} "
             "AS B ",
             level.code, level.name, owner, lists.sums, source, codes) +
         fmt::format(
             "WHERE ({0} = {1} AND B.QSDWDM like '{2}') AND ({1}<>{3}) AND "
             "(A.权属性质 like '3%' or A.权属性质 like '4%')  GROUP BY {4},{5},{1},B.QSDWMC",
             dialect.Left("B.QSDWDM", level.length), owner, pattern,
             dialect.Left("A.座落单位代码", level.length), level.code, level.name);
}

}  // namespace

short CStatContext::RunEnclaveStatement(const std::string& statement, const char* title,
                                        const char* message, bool trace) {
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    if (trace) host::yDebugStr(statement);
    LogFailure(title, message, error);
    return 0;
  }
}

short CStatContext::SumFrdTdly(short kind, const std::string& target, const std::string& source,
                               int decimals) {
  const EnclaveLists lists = ClassSumLists(kind, true);
  return RunEnclaveStatement(
      Dialect().RoundSums(PairStatement(target, source, lists, kPairWhere + kPairGroup), decimals),
      "汇总飞入地", "汇总飞入地失败", true);
}

short CStatContext::SumFrdTdlyByLevel(short kind, const std::string& target,
                                      const std::string& source, int decimals) {
  const EnclaveLists lists = ClassSumLists(kind, true);
  for (const EnclaveLevel& level : kEnclaveLevels) {
    const std::string statement =
        Dialect().RoundSums(LevelStatement(level, target, source, lists, Dialect(),
                                           CountyRowsOf(kQsdmbTable, m_strPrefix2)),
                            decimals);
    if (RunEnclaveStatement(statement, level.title, level.message, true) == 0) return 0;
    host::yDebugStr(statement);
  }
  return SumFrdTdly(kind, target, source, decimals);
}

CStatContext::SummedRequest CStatContext::EnclavePairSums(
    const std::string& copy, const std::vector<std::string>& areas) const {
  SummedRequest request{
      copy + "#pairs", "landstat_pairs_" + copy, {}, "飞入地的临时表未能建立, 直接读取"};
  request.query.table = copy;
  request.query.filter = std::string(kPairCondition) + " AND " + ConvertedPairClasses();
  request.query.keys = {"座落单位代码", "座落单位名称", "权属单位代码", "权属单位名称", "权属性质"};
  // The rebuild's condition reads the classes left out on the sums too.
  request.query.sums = areas;
  for (const char* column : kLeftOutClasses) {
    if (std::find(areas.begin(), areas.end(), column) == areas.end()) {
      request.query.sums.push_back(column);
    }
  }
  return request;
}

short CStatContext::SumFrdTdlyConverted(short kind) {
  if (kind != 1 && kind != 2) return 0;
  const EnclaveLists lists = ClassSumLists(kind, true);
  const std::string source =
      ConvertedSource(ConvertedSums::kEnclavePairs, kind == 1 ? "statdataex" : "statdata");
  // Read from the rows or from their sums by pair and nature, whose
  // classes 05 to 09 are 0 where those of every row summed are.
  const std::string condition = kPairWhere + "AND " + ConvertedPairClasses() + " " + kPairGroup;
  return RunEnclaveStatement(
      PairStatement(m_names.Plain(kEnclaveBases[kind]), source, lists, condition), "汇总飞入地",
      "汇总飞入地失败", false);
}

short CStatContext::StatFrdTdly(short kind) {
  if (kind != 1 && kind != 2) return 1;
  const bool by_level = m_strVersion.find("福建") != std::string::npos;
  // Square metres, mu, hectares; by location whatever the scope says. The
  // pairs group by unit codes and names and the nature, all of which the
  // copy summed by level keeps: the same sums from far fewer rows.
  for (short unit : {kSquareMetre, kMu, kHectare}) {
    if (!WantsSummaryUnit(unit)) continue;
    const std::string target = m_names.Summary('Z', unit, kEnclaveBases[kind]);
    const std::string source = SummarySource(unit);
    if (by_level) {
      SumFrdTdlyByLevel(kind, target, source, DecimalsOf(unit));
    } else {
      SumFrdTdly(kind, target, source, DecimalsOf(unit));
    }
  }
  return 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> EnclaveFamilies() {
  return {
      {.base = "FRDTDLY_YJFL",
       .stage = 700,
       .builds = Rural,
       .create = [](C& c) { return c.CreateFrdTdlyYjflTables(); },
       .fill = [](C& c) { c.StatFrdTdly(1); },
       .conversion = LevelConversion(
           70, "正在转换飞入地数据", true, [](C& c) { return c.CreateFrdTdlyYjflConvertedTable(); },
           [](C& c) { return c.SumFrdTdlyConverted(1); }, SummaryShape::kEnclavePairs)},
      {.base = "FRDTDLY_EJFL",
       .stage = 710,
       .builds = Rural,
       .create = [](C& c) { return c.CreateFrdTdlyEjflTables(); },
       .fill = [](C& c) { c.StatFrdTdly(2); },
       .conversion = LevelConversion(
           80, "正在转换飞入地数据", false,
           [](C& c) { return c.CreateFrdTdlyEjflConvertedTable(); },
           [](C& c) { return c.SumFrdTdlyConverted(2); }, SummaryShape::kEnclavePairs)},
  };
}

}  // namespace landstat::landuse
