// The reserve grade summary PJ_GDHB: for every county, township, village
// and (where the code table has group codes) group, the reserve area by
// evaluation grade, reclaimable ("开发") and recultivable ("复垦") land in
// three grades each, summed from the unit copies of ZB_GDHB; the hectare
// and mu tables rounded and balanced afterwards.

#include <span>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "reserve/reserve_summary_tables.h"

namespace landstat {
namespace {

using reserve::kGradeTree;

constexpr char kCreateTitle[] = "耕地后备资源评价汇总表";
constexpr char kCreateMessage[] = "耕地后备资源评价汇总表失败";
constexpr char kFillTitle[] = "耕地后备评价等级汇总";

// The grouping of a level: by the level's code and name and the grade, the
// area summed.
db::GroupedSumsQuery GradeGrouping(const reserve::LevelColumns& columns,
                                   const std::string& source) {
  db::GroupedSumsQuery grouping;
  grouping.table = source;
  grouping.keys = {columns.code, columns.name, "评价等级"};
  grouping.sums = {"面积"};
  return grouping;
}

std::string GradeQuery(const reserve::LevelColumns& columns, const std::string& source) {
  const std::string keys = std::string(columns.code) + "," + columns.name + ",评价等级";
  return "select " + keys + ",SUM(面积) AS GDHBMJ FROM " + source + " GROUP BY " + keys +
         " ORDER BY " + columns.code;
}

// A grade books into the reclaimable columns when it speaks of "开发",
// else into the recultivable ones when it speaks of "复垦"; a grade of
// neither list (say "开发" alone) books nothing.
int ClassOfGrade(const std::string& grade) {
  if (grade.find("开发") != std::string::npos) return 1;
  return grade.find("复垦") != std::string::npos ? 2 : 0;
}

// The areas are rounded to `decimals` (below 0: as summed).
std::vector<db::Value> GradeRow(const std::string& code, std::span<const reserve::GroupedRow> rows,
                                int decimals) {
  std::vector<double> areas = reserve::NoAreas(kGradeTree);
  for (const reserve::GroupedRow& row : rows) {
    const std::string& grade = row.texts[0];
    const int klass = ClassOfGrade(grade);
    const int leaf = reserve::LeafOf(kGradeTree, klass, grade);
    if (leaf >= 0) reserve::Book(kGradeTree, areas, klass, leaf, row.area);
  }
  std::vector<db::Value> values = {db::Value(code), db::Value(rows.front().name)};
  for (double area : areas) {
    values.emplace_back(decimals < 0 ? area : RoundToDecimals(area, decimals));
  }
  return values;
}

}  // namespace

short CStatContext::CreateGdhbGradeSummaryTables() {
  return reserve::CreateSummaryTables(*this, kGradeTree, "XZQDM varchar(19),XZQMC varchar(60)",
                                      kCreateTitle, kCreateMessage);
}

short CStatContext::FillGdhbGradeSummary(short level, const std::string& unit) {
  const short code = reserve::UnitOfPrefix(unit);
  if (code == kNoUnit) return 0;
  std::vector<std::string> columns = {"XZQDM", "XZQMC"};
  for (const std::string& column : kGradeTree.Columns()) columns.push_back(column);
  // The square-metre table is only summed; the others are rounded and
  // balanced once every level is written.
  const int decimals = code == kSquareMetre ? DecimalsOf(code) : -1;
  const std::string source = GdhbUnitTable(code, "ZB_GDHB");
  const std::string target = GdhbUnitTable(code, kGradeTree.base);
  const reserve::MakeRow row = [decimals](const std::string& unit_code,
                                          std::span<const reserve::GroupedRow> rows) {
    return GradeRow(unit_code, rows, decimals);
  };
  const reserve::LevelColumns* level_columns = reserve::LevelOf(level);
  if (!level_columns) return reserve::FillSummary(*this, "", target, columns, kFillTitle, row);
  return reserve::FillGroupedSummary(*this, GradeGrouping(*level_columns, source),
                                     GradeQuery(*level_columns, source), target, columns,
                                     kFillTitle, row);
}

short CStatContext::BuildGdhbGradeSummary() {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!WantsUnit(unit)) continue;
    for (short level : {4, 3, 2}) {
      if (FillGdhbGradeSummary(level, UnitPrefix(unit)) == 0) return 0;
    }
    if (CountGroupCodes() > 0 && FillGdhbGradeSummary(1, UnitPrefix(unit)) == 0) return 0;
  }
  const std::vector<std::string> columns = kGradeTree.Columns();
  RoundAndBalanceTable(kGradeTree.base, &columns, 2);
  return 1;
}

}  // namespace landstat
