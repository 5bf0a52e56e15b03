// The farmland area tables: each made by one SQL text that sums class
// columns of a unit copy of the farmland base table for the county, each
// township and each village (three SELECT blocks joined by "union"), over
// the rows that meet the table's condition on the farmland marks. Five
// texts are built here; those of JBNTGHWSMJ, JBNTTCMJ and JBNTBHMJGX are SQL
// resources.
// "SourceTbl" in a text stands for the unit copy read.

#include <string>

#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "resources/resources.h"

namespace landstat {
namespace {

// The sum columns, by set.
constexpr char kSet1[] =
    "SUM(BM01) AS BM01,SUM(BM011) AS BM011,SUM(BM012) AS BM012,SUM(BM013) AS BM013";
constexpr char kOtherSums[] =
    ",SUM(BM02+BM03+BM04+BM20+BM10+BM11+BM12) AS QTHJ,SUM(BM02) AS BM02,SUM(BM03) AS BM03,"
    "SUM(BM04) AS BM04,SUM(BM20) AS BM20,SUM(BM10) AS BM10,SUM(BM11) AS BM11,SUM(BM12) AS BM12";
constexpr char kTotalSum[] = "SUM(BM01+BM02+BM03+BM04+BM20+BM10+BM11+BM12) AS ZHJ,";

struct AreaTable {
  const char* base;
  int resource;  // the SQL resource holding its text; 0: built here
  int sum_set;   // 1 to 3 for the texts built here
  const char* condition;
};

// In the order of the indexes of the drivers and make bodies. A condition
// that leaves out remarks keeps the rows without a remark (NULL).
const AreaTable kAreaTables[] = {
    {"JBNTBHMJ", 0, 1, "是否补划 like 'Y'"},
    {"JBNTTXQMJ", 0, 2, "调入备注 like 'DH'"},
    {"JBNTBSMJ", 0, 3, farmland::kNotTransferredIn},
    {"JBNTGHWSMJ", 6005, 4, ""},
    {"JBNTTCMJ", 17066, 4, ""},
    {"JBNTBGJMJ", 0, 3, "(调入备注 IS NULL OR (调入备注 <> 'DH' and 调入备注 <> 'TC'))"},
    {"JBNTTCHBHQMJ", 0, 3,
     "(调入备注 IS NULL OR (调入备注 <> 'DH' and 调入备注 <> 'TC')) and 是否补划 like 'N'"},
    // The Guangxi supplementary-designation table (built with the Guangxi set).
    {"JBNTBHMJGX", 17067, 4, ""},
};

std::string BuiltInText(const AreaTable& table) {
  std::string sums = kSet1;
  if (table.sum_set >= 2) sums += kOtherSums;
  if (table.sum_set == 3) sums = kTotalSum + sums;
  static const char* const kLevels[][2] = {
      {"县级代码", "县名称"}, {"乡级代码", "乡名称"}, {"村级代码", "村名称"}};
  std::string text;
  for (const auto& level : kLevels) {
    if (!text.empty()) text += " union ";
    text += std::string("select ") + level[0] + " AS XZQDM," + level[1] + " AS XZQMC," + sums +
            " from SourceTbl where " + table.condition + " GROUP BY " + level[0] + "," + level[1];
  }
  return text;
}

std::string AreaText(const AreaTable& table) {
  return table.resource ? LoadResourceText(table.resource, "SQL") : BuiltInText(table);
}

}  // namespace

std::string CStatContext::JbntAreaStatement(int table, const std::string& target,
                                            const std::string& source) const {
  const std::string text = AreaText(kAreaTables[table]);
  if (text.empty()) return {};
  return Dialect().SaveQueryAs(target, ReplaceAll(text, "SourceTbl", source));
}

short CStatContext::MakeJbntAreaTable(int table, const std::string& target,
                                      const std::string& source, int decimals) {
  const std::string statement =
      Dialect().RoundSums(JbntAreaStatement(table, target, source), decimals);
  if (statement.empty()) {
    host::yDebugStr("SQL resource " + std::to_string(kAreaTables[table].resource) +
                    " missing: " + target + " not made");
    return 0;
  }
  // A table made by a query is dropped first, so a second run never keeps
  // the figures of the first.
  if (IsTableExist(target)) DropTable(target);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    LogFailure("汇总基本农田面积表", "由 " + source + " 生成 " + target + " 失败", error);
    return 0;
  }
}

short CStatContext::StatJbntAreaTable(int table) {
  ForEachSummaryTable(
      kAreaTables[table].base, [&](const std::string& target, short scope, short unit) {
        if (MakeJbntAreaTable(table, target, m_names.UnitCopy(unit, "statdata_jbnt"),
                              DecimalsOf(unit)) > 0 &&
            scope == 1) {
          FillXzqNames(target, "XZQDM", "XZQMC");
        }
      });
  return 1;
}

short CStatContext::StatJbntBhmj() {
  return StatJbntAreaTable(0);
}
short CStatContext::StatJbntTxqmj() {
  return StatJbntAreaTable(1);
}
short CStatContext::StatJbntBsmj() {
  return StatJbntAreaTable(2);
}
short CStatContext::StatJbntGhwsmj() {
  return StatJbntAreaTable(3);
}
short CStatContext::StatJbntTcmj() {
  return StatJbntAreaTable(4);
}
short CStatContext::StatJbntBgjmj() {
  return StatJbntAreaTable(5);
}
short CStatContext::StatJbntTchbhqmj() {
  return StatJbntAreaTable(6);
}

short CStatContext::StatJbntBhmjGx() {
  return StatJbntAreaTable(7);
}

short CStatContext::MakeJbntBhmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(0, target, source);
}
short CStatContext::MakeJbntTxqmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(1, target, source);
}
short CStatContext::MakeJbntBsmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(2, target, source);
}
short CStatContext::MakeJbntGhwsmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(3, target, source);
}
short CStatContext::MakeJbntTcmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(4, target, source);
}
short CStatContext::MakeJbntBgjmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(5, target, source);
}
short CStatContext::MakeJbntTchbhqmjTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(6, target, source);
}
short CStatContext::MakeJbntBhmjGxTable(const std::string& target, const std::string& source) {
  return MakeJbntAreaTable(7, target, source);
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> AreaTableFamilies() {
  // JBNTBHMJ follows the protection-block situation table of a rural run
  // whose farmland base data were built; under "duda" the six others follow
  // the regional sets, whether or not the farmland stage succeeded, unless
  // the run has no farmland parcel layer at all (the farmland stage has
  // noted then that no farmland table is made).
  std::vector<TableFamily> families = {
      {.base = "JBNTBHMJ",
       .stage = 2300,
       .builds = [](const RunVariant& run) { return run.Rural(); },
       .create = [](CStatContext& c) -> short { return c.m_nJbntBaseData > 0 ? 1 : 0; },
       .fill = [](CStatContext& c) { c.StatJbntBhmj(); }},
  };
  // The "duda" tables in their run order, by index.
  const int duda_order[] = {1, 5, 2, 3, 4, 6};
  int stage = 3000;
  for (int table : duda_order) {
    families.push_back(
        {.base = kAreaTables[table].base,
         .stage = stage,
         .builds = [](const RunVariant& run) { return run.Duda(); },
         .create = [](CStatContext& c) -> short { return c.m_aiJbntParcel > 0 ? 1 : 0; },
         .fill = [table](CStatContext& c) { c.StatJbntAreaTable(table); }});
    stage += 10;
  }
  return families;
}

}  // namespace landstat::farmland
