// The reserve grade summary PJ_GDHB: for every county, township, village
// and (where the code table has group codes) group, the reserve area by
// evaluation grade, reclaimable ("开发") and recultivable ("复垦") land in
// three grades each, summed from the unit copies of ZB_GDHB; the hectare
// and mu tables rounded and balanced afterwards.

#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <vector>

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

namespace {

// Fills one level of a unit's grade table: from `grouped`, that level's
// grouping read already, when given, else from the grouping read now.
short FillGradeLevel(CStatContext& c, short level, const std::string& unit,
                     const db::GroupedSums* grouped) {
  const short code = reserve::UnitOfPrefix(unit);
  if (code == kNoUnit) return 0;
  std::vector<std::string> columns = {"XZQDM", "XZQMC"};
  for (const std::string& column : kGradeTree.Columns()) columns.push_back(column);
  // The square-metre table is only summed; the others are rounded and
  // balanced once every level is written.
  const int decimals = code == kSquareMetre ? c.DecimalsOf(code) : -1;
  const std::string source = c.GdhbUnitTable(code, "ZB_GDHB");
  const std::string target = c.GdhbUnitTable(code, kGradeTree.base);
  const reserve::MakeRow row = [decimals](const std::string& unit_code,
                                          std::span<const reserve::GroupedRow> rows) {
    return GradeRow(unit_code, rows, decimals);
  };
  const reserve::LevelColumns* level_columns = reserve::LevelOf(level);
  if (!level_columns) return reserve::FillSummary(c, "", target, columns, kFillTitle, row);
  const std::string query = GradeQuery(*level_columns, source);
  if (grouped) {
    return reserve::FillGroupedSummary(c, *grouped, query, target, columns, kFillTitle, row);
  }
  return reserve::FillGroupedSummary(c, GradeGrouping(*level_columns, source), query, target,
                                     columns, kFillTitle, row);
}

// The levels of the grade tables, county to group.
constexpr short kGradeLevels[] = {4, 3, 2, 1};

// The groupings of every level of a unit's copy of ZB_GDHB, read in one
// scan of it (on a server, grouped when written); nothing after a logged
// failure, as a fill logs it.
std::optional<std::vector<std::unique_ptr<db::GroupedSums>>> ReadGradeLevels(CStatContext& c,
                                                                             short unit) {
  const std::string source = c.GdhbUnitTable(unit, "ZB_GDHB");
  std::vector<db::GroupedSumsQuery> groupings;
  for (short level : kGradeLevels)
    groupings.push_back(GradeGrouping(*reserve::LevelOf(level), source));
  try {
    return db::GroupedSums::ReadInOneScan(c.m_pConn, groupings);
  } catch (const db::DbError& error) {
    c.LogFailure(kFillTitle, "选择数据失败", error);
    return std::nullopt;
  }
}

}  // namespace

short CStatContext::FillGdhbGradeSummary(short level, const std::string& unit) {
  return FillGradeLevel(*this, level, unit, nullptr);
}

short CStatContext::BuildGdhbGradeSummary() {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!WantsUnit(unit)) continue;
    // Each unit's copy is read once for all its levels.
    const auto grouped = ReadGradeLevels(*this, unit);
    if (!grouped) return 0;
    for (std::size_t i = 0; i < std::size(kGradeLevels); ++i) {
      const short level = kGradeLevels[i];
      if (level == 1 && CountGroupCodes() == 0) continue;
      if (FillGradeLevel(*this, level, UnitPrefix(unit), (*grouped)[i].get()) == 0) return 0;
    }
  }
  const std::vector<std::string> columns = kGradeTree.Columns();
  RoundAndBalanceTable(kGradeTree.base, &columns, 2);
  return 1;
}

}  // namespace landstat
