// The farmland tables by protection block, location scope only: JBNTBHKQKTJ
// with its fixed columns (the cultivated subtotal, its three classes, the
// other land and its seven first-level classes), and JBNTNEWBHKQKTJ with a
// column for every class code. One row per block, summed from the unit
// copies of the farmland base table.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

using farmland::kCultivatedClasses;
using farmland::kOtherClasses;

// The characters of the all-class table's block number.
constexpr std::size_t kBlockChars = 60;
constexpr char kBlockTitle[] = "建立基本农田按保护块情况统计表";
constexpr char kBlockMessage[] = "建立基本农田按保护块情况统计表失败";
constexpr char kAllClassTitle[] = "建立基本农田按保护块情况统计表(包括所有的二级地类)";
constexpr char kAllClassMessage[] = "建立基本农田按保护块情况统计表失败(包括所有的二级地类)";
constexpr char kSumTitle[] = "添加汇总数据(基本农田保护块)";
constexpr char kAllClassSumTitle[] = "添加汇总数据(基本农田保护块(全地类))";
constexpr char kAllClassSumMessage[] = "添加汇总数据(基本农田保护块(全地类))失败";

// The "山东" rule as the condition of the rows summed.
std::string RemarkFilter(const CStatContext& context) {
  if (!farmland::LeavesTransferredOut(context)) return "";
  return std::string("WHERE ") + farmland::kNotTransferredIn;
}

// The per-block sums of the fixed table's classes, BM01 first.
std::string BlockSumsQuery(const std::string& source, const std::string& filter) {
  std::string text = "select 保护片编号,SUM(BM01) AS BM01";
  for (const auto* group : {&kCultivatedClasses, &kOtherClasses}) {
    for (const std::string& column : *group) text += ",SUM(" + column + ") AS " + column;
  }
  return text + " from " + source + (filter.empty() ? "" : " " + filter) + " GROUP BY 保护片编号";
}

// Copies the block sums of `source` into `target` row by row, with the
// subtotals: QTHJ the other land, ZHJ that and the three cultivated classes
// (BM01HJ, the stored cultivated land, is not part of it), each rounded to
// `decimals` (below 0: as summed). A NULL sum is written as 0. An error ends the fill with 0 and,
// logged, leaves the target without the rows of this fill.
short CopyBlockSums(CStatContext& context, db::Connection& connection, const std::string& target,
                    const std::string& source, const std::string& filter, int decimals = -1) {
  std::vector<std::string> columns = {"BHKBH", "ZHJ", "BM01HJ"};
  columns.insert(columns.end(), kCultivatedClasses.begin(), kCultivatedClasses.end());
  columns.push_back("QTHJ");
  columns.insert(columns.end(), kOtherClasses.begin(), kOtherClasses.end());
  try {
    db::Recordset sums(connection,
                       context.Dialect().RoundSums(BlockSumsQuery(source, filter), decimals));
    db::RowWriter writer(connection, target, columns);
    std::vector<db::Value> row(columns.size());
    const auto sum = [&](const std::string& column) {
      return sums.IsNull(column) ? 0.0 : sums.Number(column);
    };
    for (; !sums.IsEOF(); sums.MoveNext()) {
      row[0] = sums.IsNull("保护片编号") ? db::Value() : db::Value(sums.Text("保护片编号"));
      row[2] = db::Value(sum("BM01"));
      double cultivated = 0;
      for (std::size_t i = 0; i < kCultivatedClasses.size(); ++i) {
        const double value = sum(kCultivatedClasses[i]);
        row[3 + i] = db::Value(value);
        cultivated += value;
      }
      double other = 0;
      for (std::size_t i = 0; i < kOtherClasses.size(); ++i) {
        const double value = sum(kOtherClasses[i]);
        row[7 + i] = db::Value(value);
        other += value;
      }
      const auto rounded = [decimals](double total) {
        return decimals < 0 ? total : RoundToDecimals(total, decimals);
      };
      row[6] = db::Value(rounded(other));
      row[1] = db::Value(rounded(other + cultivated));
      writer.Add(row);
    }
    writer.Close();
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kSumTitle, target + " 汇总失败 (" + source + ")", error);
    return 0;
  }
}

short CreateBlockTable(CStatContext& context, const std::string& table, bool all_classes) {
  if (context.IsTableExist(table)) context.DropTable(table);
  try {
    context.m_pConn.Execute(context.JbntBlockCreateStatement(table, all_classes));
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(all_classes ? kAllClassTitle : kBlockTitle,
                       all_classes ? kAllClassMessage : kBlockMessage, error);
    return 0;
  }
}

// Runs `work` for each unit of `units` in which summary tables are made.
void ForEachUnit(CStatContext& context, const std::vector<short>& units,
                 const std::function<void(short unit)>& work) {
  for (short unit : units) {
    if (context.WantsSummaryUnit(unit)) work(unit);
  }
}

// The unit-less table of the unit conversion, from the ex table condensed
// anew from the farmland base table (in the source unit). The ex table has
// no remark column: every row counts.
short RebuildConvertedBlockTable(CStatContext& context) {
  if (context.RebuildJbntExTable() == 0) return 0;  // logged
  return CopyBlockSums(context, context.m_pConn, context.Names().Plain("JBNTBHKQKTJ"),
                       context.m_strJbntTbl + "ex", "");
}

}  // namespace

std::string CStatContext::JbntBlockCreateStatement(const std::string& table,
                                                   bool all_classes) const {
  std::string text = "Create Table " + table + "(";
  if (all_classes) {
    text += "BHKBH varchar(" + std::to_string(kBlockChars) + "),ZHJ double default 0.00";
    for (const std::string& code : m_arrClassCodes) text += ",BM" + code + " double default 0.00";
  } else {
    text += "BHKBH varchar(20)";
    for (const char* column : {"ZHJ", "BM01HJ", "BM011", "BM012", "BM013", "QTHJ", "BM02", "BM03",
                               "BM04", "BM10", "BM11", "BM12", "BM20"}) {
      text += std::string(",") + column + " double default 0.00";
    }
  }
  return TypeWords(text + ")");
}

namespace {

// The all-class fill: one row per block. Under the Guangxi rule no row is
// left out by its transfer remark and the adjustable land is left out of
// the seven Guangxi classes.
std::string AllClassInsert(const CStatContext& context, const std::string& target,
                           const std::string& source, bool guangxi) {
  std::string insert = " insert into " + target + " (BHKBH,ZHJ";
  std::string select = "select 保护片编号, sum(土地总面积) as ZHJ";
  for (const std::string& code : context.m_arrClassCodes) {
    const std::string column = "BM" + code;
    insert += "," + column;
    select += ",SUM(" + (guangxi ? farmland::GuangxiClassValue(context, column) : column) +
              ") as " + column + " ";
  }
  return insert + ") " + select + " from " + source + " " +
         (guangxi ? std::string() : RemarkFilter(context)) + " group by  保护片编号";
}

// Runs an all-class fill; 0 after a logged failure, whose message begins
// with `named` (the target, where the log should name it).
short RunAllClassInsert(CStatContext& context, db::Connection& connection,
                        const std::string& statement, int decimals, const std::string& named = "") {
  try {
    connection.Execute(context.Dialect().RoundSums(statement, decimals));
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kAllClassSumTitle, named + kAllClassSumMessage, error);
    return 0;
  }
}

}  // namespace

std::string CStatContext::JbntNewBhkQktjInsert(const std::string& target,
                                               const std::string& source) const {
  return AllClassInsert(*this, target, source, false);
}

std::string CStatContext::JbntNewBhkQktjGxInsert(const std::string& target,
                                                 const std::string& source) const {
  return AllClassInsert(*this, target, source, true);
}

short CStatContext::CreateJbntBhkQktjTable(const std::string& table) {
  return CreateBlockTable(*this, table, false);
}

short CStatContext::CreateJbntNewBhkQktjTable(const std::string& table) {
  return CreateBlockTable(*this, table, true);
}

short CStatContext::CreateJbntBhkQktjConvertedTable() {
  return CreateBlockTable(*this, m_names.Plain("JBNTBHKQKTJ"), false);
}

short CStatContext::CreateJbntBhkQktjTables() {
  ForEachUnit(*this, {kMu, kHectare, kSquareMetre}, [this](short unit) {
    CreateJbntBhkQktjTable(m_names.Summary('Z', unit, "JBNTBHKQKTJ"));
  });
  return 1;
}

short CStatContext::CreateJbntNewBhkQktjTables() {
  ForEachUnit(*this, {kMu, kHectare, kSquareMetre}, [this](short unit) {
    CreateJbntNewBhkQktjTable(m_names.Summary('Z', unit, "JBNTNEWBHKQKTJ"));
  });
  return 1;
}

short CStatContext::SumJbntBhkQktj(db::Connection& connection, const std::string& target,
                                   const std::string& source, int decimals) {
  return CopyBlockSums(*this, connection, target, source, RemarkFilter(*this), decimals);
}

short CStatContext::SumJbntNewBhkQktj(db::Connection& connection, const std::string& target,
                                      const std::string& source, int decimals) {
  return RunAllClassInsert(*this, connection, JbntNewBhkQktjInsert(target, source), decimals);
}

short CStatContext::SumJbntNewBhkQktjGx(const std::string& target, const std::string& source,
                                        int decimals) {
  return RunAllClassInsert(*this, m_pConn, JbntNewBhkQktjGxInsert(target, source), decimals,
                           target + " (" + source + ") ");
}

short CStatContext::StatJbntBhkQktj() {
  ForEachUnit(*this, {kSquareMetre, kHectare, kMu}, [this](short unit) {
    SumJbntBhkQktj(m_pConn, m_names.Summary('Z', unit, "JBNTBHKQKTJ"),
                   m_names.UnitCopy(unit, "statdata_jbnt"), DecimalsOf(unit));
  });
  return 1;
}

namespace {

// The all-class fill grouped in memory from one read of the copy, on the
// embedded engine (which would sort the copy): each block's sums added in
// the order of the rows and rounded as the statement rounds them, the
// blocks in the order of their numbers as its GROUP BY gives them. False
// when the copy cannot be read so (noticed: the statement then sums it);
// a failure to write is logged as the statement's.
bool WriteAllClassInMemory(CStatContext& context, const std::string& target,
                           const std::string& source, int decimals) {
  if (context.m_pConn.Kind() != db::DbKind::kEmbedded || context.m_bOracle) return false;
  db::GroupedSumsQuery query{source, "", {"保护片编号"}, {"土地总面积"}, decimals};
  std::vector<db::GroupedSums::Column> columns = {{"保护片编号", "BHKBH"}, {"土地总面积", "ZHJ"}};
  for (const std::string& code : context.m_arrClassCodes) {
    query.sums.push_back("BM" + code);
    columns.push_back({"BM" + code, {}});
  }
  if (farmland::LeavesTransferredOut(context)) query.filter = farmland::kNotTransferredIn;
  std::vector<std::unique_ptr<db::GroupedSums>> blocks;
  try {
    blocks = db::GroupedSums::ReadInOneScan(context.m_pConn, {query});
  } catch (const db::DbError& error) {
    context.LogNotice("汇总 " + source,
                      std::string("按保护块汇总未能在内存中完成, 直接汇总 (") + error.what() + ")");
    return false;
  }
  if (!farmland::KeysFit(*blocks.front(), kBlockChars)) return false;
  try {
    blocks.front()->WriteTo(context.m_pConn, target, columns, true);
  } catch (const db::DbError& error) {
    context.LogFailure(kAllClassSumTitle, kAllClassSumMessage, error);
  }
  return true;
}

}  // namespace

short CStatContext::StatJbntNewBhkQktj() {
  ForEachUnit(*this, {kSquareMetre, kHectare, kMu}, [this](short unit) {
    const std::string target = m_names.Summary('Z', unit, "JBNTNEWBHKQKTJ");
    const std::string source = m_names.UnitCopy(unit, "statdata_jbnt");
    if (!WriteAllClassInMemory(*this, target, source, DecimalsOf(unit))) {
      SumJbntNewBhkQktj(m_pConn, target, source, DecimalsOf(unit));
    }
  });
  return 1;
}

}  // namespace landstat

namespace landstat::farmland {
namespace {

// The unit conversion sums the unit-less table from the farmland base table
// in the source unit; it is converted in place and balanced after.
FamilyConversion BlockConversion() {
  return {.order = 80,
          .progress = "正在重建基本农田按保护块情况统计表",
          .from_extension = false,
          // Only a database with farmland base data has the table.
          .create = [](CStatContext& c) -> short {
            return c.IsTableExist(c.m_strJbntTbl) ? c.CreateJbntBhkQktjConvertedTable() : 0;
          },
          .fill = RebuildConvertedBlockTable,
          .balance_progress = "平差基本农田按保护块情况统计...",
          .balance = [](CStatContext& c, const std::string&) { return c.BalanceJbntBhkQktj(); }};
}

}  // namespace

std::vector<TableFamily> BlockFamilies() {
  const auto rural = [](const RunVariant& run) { return run.Rural(); };
  return {
      {.base = "JBNTBHKQKTJ",
       .stage = 2200,
       .builds = rural,
       .create =
           [](CStatContext& c) { return c.m_nJbntBaseData > 0 ? c.CreateJbntBhkQktjTables() : 0; },
       .fill = [](CStatContext& c) { c.StatJbntBhkQktj(); },
       .conversion = BlockConversion()},
      {.base = "JBNTNEWBHKQKTJ",
       .stage = 2500,
       .builds = rural,
       .create =
           [](CStatContext& c) {
             return c.m_nJbntBaseData > 0 ? c.CreateJbntNewBhkQktjTables() : 0;
           },
       .fill = [](CStatContext& c) { c.StatJbntNewBhkQktj(); }},
  };
}

}  // namespace landstat::farmland
