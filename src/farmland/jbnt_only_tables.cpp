// The parcels-only farmland tables: per wanted unit the rows of the
// farmland base table that came from land parcels (来源 '地类图斑'), summed
// by their descriptive columns, converted from the source unit and
// balanced, as the farmland copies are. The farmland slope summary is
// summed from them.

#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/sql_text.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr char kOnlyBase[] = "statdata_jbntOnly";
constexpr char kFillTitle[] = "汇总基本农田基础数据只提取基本农田图斑地类面积";

// The columns the rows are grouped by; the others (序号 aside) keep their
// defaults.
const std::vector<std::string> kGroupColumns = {
    "是否补划", "调入备注", "保护片编号",   "地类编码",     "省名称",       "省级代码",
    "市名称",   "市级代码", "县名称",       "县级代码",     "乡名称",       "乡级代码",
    "村名称",   "村级代码", "座落单位名称", "座落单位代码", "权属单位名称", "权属单位代码",
    "权属性质", "耕地类型", "地类备注",     "耕地坡度级",   "来源"};

}  // namespace

std::string CStatContext::JbntOnlyTable(short unit) const {
  return m_names.UnitCopy(unit, kOnlyBase);
}

short CStatContext::CreateJbntOnlyTables() {
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (WantsUnit(unit)) CreateJbntOnlyTable(JbntOnlyTable(unit));  // logged
  }
  return 1;
}

namespace {

// Under "山东" the rows brought in ('TC') are left out, and a row without a
// transfer remark is kept (a plain "<> 'TC'" would drop it too).
std::string OnlyRowsCondition(const CStatContext& context) {
  std::string condition = "来源='地类图斑'";
  if (farmland::LeavesTransferredOut(context)) {
    condition += std::string(" AND ") + farmland::kNotTransferredIn;
  }
  return condition;
}

// The embedded engine would sort every farmland row to group them: they
// are grouped in one pass in memory, with the same sums, written in the
// order of the groups, and numbered in 序号 by that order.
void FillSummedInMemory(CStatContext& context, const std::string& target) {
  db::GroupedSumsQuery query{context.m_strJbntTbl,
                             OnlyRowsCondition(context),
                             kGroupColumns,
                             {"土地总面积"},
                             kSummedDecimals};
  for (const std::string& field : context.m_arrStatFields) {
    if (farmland::IsClassColumn(field)) query.sums.push_back(field);
  }
  db::GroupedSums(context.m_pConn, query).WriteTo(context.m_pConn, target, true);
  context.m_pConn.Execute("update " + target +
                          " set 序号=" + context.m_pConn.backend().RowIdColumn());
}

}  // namespace

std::string CStatContext::JbntOnlyFillStatement(const std::string& target) const {
  // The groups are numbered in 序号, which pairs the rows of the unit
  // tables when they are balanced.
  const std::string grouped = db::JoinedColumns(kGroupColumns);
  std::string head = "insert into " + target + " (序号," + grouped + ",土地总面积";
  std::string select =
      "select ROW_NUMBER() OVER (ORDER BY 座落单位代码)," + grouped + ",SUM(土地总面积)";
  for (const std::string& field : m_arrStatFields) {
    if (!farmland::IsClassColumn(field)) continue;
    head += "," + field;
    select += ",SUM(" + field + ") AS " + field;
  }
  return head + ") " + select + " from " + m_strJbntTbl + " where " + OnlyRowsCondition(*this) +
         " group by " + grouped;
}

short CStatContext::FillJbntOnlyTable(const std::string& target) {
  try {
    if (m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle) {
      FillSummedInMemory(*this, target);
    } else {
      m_pConn.Execute(Dialect().RoundSums(JbntOnlyFillStatement(target), kSummedDecimals));
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure(kFillTitle, target + " 汇总失败 (" + m_strJbntTbl + ")", error);
    return 0;
  }
}

short CStatContext::BuildJbntOnlyTables() {
  if (m_aiJbntParcel <= 0) return 0;
  // The source unit's table is summed; the others take its rows converted.
  // Each step logs its failures; the next one still runs.
  FillJbntOnlyTable(JbntOnlyTable(m_nUnitSrc));
  ConvertJbntOnlyUnits();
  host::yDebugTime("parcels-only farmland tables filled");
  BalanceJbntOnlyTable();
  host::yDebugTime("parcels-only farmland tables balanced");
  return CompactDatabase() > 0 ? 1 : 0;
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> OnlyFamilies() {
  const auto owns = [](const TableNames& names, short unit) -> std::vector<std::string> {
    if (unit == kNoUnit) return {};
    return {names.UnitCopy(unit, kOnlyBase)};
  };
  const auto fill = [](CStatContext& c) { c.BuildJbntOnlyTables(); };
  return {
      // Under "广西农村" after the Guangxi tables, when the farmland base
      // data were built.
      {.base = "JBNTONLY",
       .stage = 2630,
       .builds = [](const RunVariant& run) { return run.Rural() && run.Has("广西"); },
       .create =
           [](CStatContext& c) {
             return c.m_nJbntBaseData > 0 ? c.CreateJbntOnlyTables() : short{0};
           },
       .fill = fill,
       .owns = owns},
      // Under "duda" after its area tables, as they are guarded.
      {.base = "JBNTONLY",
       .stage = 3100,
       .builds = [](const RunVariant& run) { return run.Duda() && !run.Has("广西"); },
       .create =
           [](CStatContext& c) {
             return c.m_aiJbntParcel > 0 ? c.CreateJbntOnlyTables() : short{0};
           },
       .fill = fill,
       .progress = "正在汇总基本农田坡度面积",
       .owns = owns},
  };
}

}  // namespace landstat::farmland
