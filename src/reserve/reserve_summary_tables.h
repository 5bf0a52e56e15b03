#pragma once

// What the reserve class-area summaries (MJ_GDHB, MJ_GDHBOLD) and the grade
// summary (PJ_GDHB) share: their column trees, their tables in each wanted
// unit, and one fill's walk from a grouping query to the summary rows.

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/grouped_sums.h"
#include "platform/db/value.h"

namespace landstat {
class CStatContext;
}  // namespace landstat

namespace landstat::reserve {

// An area column under a class total and the text (reserve type or grade)
// whose area it takes.
struct Leaf {
  const char* column;
  const char* text;
};

// The area columns of a summary as a tree: GDHBMJ over KKKMJ and KFKMJ,
// KKKMJ over the reclaimable leaves, KFKMJ over the recultivable ones.
// Columns in tree order: GDHBMJ, KKKMJ, its leaves, KFKMJ, its leaves, the
// order of the tables' columns too.
struct SummaryTree {
  const char* base;  // "MJ_GDHB", "MJ_GDHBOLD", "PJ_GDHB"
  std::vector<Leaf> reclaimable, recultivable;

  std::vector<std::string> Columns() const;
  // The texts of its leaves: the values its field may hold.
  std::vector<const char*> Texts() const;
  // The place of KFKMJ in Columns().
  std::size_t RecultivableTotal() const { return 2 + reclaimable.size(); }
};

extern const SummaryTree kNewTypeTree;  // MJ_GDHB, by "耕地后备资源新类型"
extern const SummaryTree kOldTypeTree;  // MJ_GDHBOLD, by "耕地后备资源原类型"
extern const SummaryTree kGradeTree;    // PJ_GDHB, by "评价等级"
// The tree of a summary's base name; null for any other name.
const SummaryTree* TreeOf(const std::string& base);

// The code and name columns of ZB_GDHB that a summary level groups by:
// level 1 the group (XZQDM, 座落单位名称), 2 the village, 3 the township,
// 4 the county; null for any other level.
struct LevelColumns {
  const char* code;
  const char* name;
};
const LevelColumns* LevelOf(int level);

// The "PM", "GQ" or "MU" of a summary's unit as the unit's code; kNoUnit
// for any other text.
short UnitOfPrefix(const std::string& prefix);

// Makes a summary's tables: the square-metre table always (the pattern of
// the others, empty when square metres are not wanted) by "Create Table"
// with `text_columns` and the tree's area columns, then empty copies of it
// for hectares and mu when wanted. 0 when the reserve layer is not valid
// (nothing made), or after a logged failure, which leaves the tables after
// it unmade.
short CreateSummaryTables(CStatContext& context, const SummaryTree& tree,
                          const std::string& text_columns, const char* title, const char* message);

// One grouped row of a fill's query: the unit's name, the texts it was
// grouped by besides code and name, and its summed area.
struct GroupedRow {
  std::string name;
  std::vector<std::string> texts;
  double area = 0;
};

// A grouped row with the code of its unit.
struct CodedRow {
  std::string code;
  GroupedRow row;
};

// One fill of a summary: reads `query` (code, name, the grouped texts,
// then the summed area; ordered by the code), and writes one row for each
// non-empty code that has a grouped row of at least 0.001 in absolute
// value, as `row` makes it from those grouped rows (in order of name and
// texts, byte by byte, so that both engines give the same row). NULL texts
// read as empty, a NULL area as 0. A query or target that cannot be opened
// is logged under `title` as "选择数据失败"; an error while rows are read or
// written is logged under `title` and leaves none of the fill's rows. 1, or
// 0 after a logged failure.
using MakeRow = std::function<std::vector<db::Value>(const std::string& code,
                                                     std::span<const GroupedRow> rows)>;
short FillSummary(CStatContext& context, const std::string& query, const std::string& target,
                  const std::vector<std::string>& columns, const char* title, const MakeRow& row);
// FillSummary of the grouping `grouping` (keys: the code, the name, the
// grouped texts; one summed area): on the embedded engine, which would sort
// the whole table to group it, grouped in one pass in memory (the same
// groups, each area summed in the order the rows are stored, as that
// engine's grouping sums them); on a server by `query`, which groups the
// same.
short FillGroupedSummary(CStatContext& context, const db::GroupedSumsQuery& grouping,
                         const std::string& query, const std::string& target,
                         const std::vector<std::string>& columns, const char* title,
                         const MakeRow& row);
// FillGroupedSummary of a grouping read already (on the embedded engine;
// on a server by `query`).
short FillGroupedSummary(CStatContext& context, const db::GroupedSums& grouped,
                         const std::string& query, const std::string& target,
                         const std::vector<std::string>& columns, const char* title,
                         const MakeRow& row);
// The writing part of a fill, for grouped rows read already (ordered by
// the code, codes not empty, areas of at least 0.001): a target that cannot
// be opened is logged as "选择数据失败", an error while writing as for the
// fill. 1, or 0 after a logged failure.
short WriteSummary(CStatContext& context, std::vector<CodedRow> grouped, const std::string& target,
                   const std::vector<std::string>& columns, const char* title, const MakeRow& row);

// The grouped rows of one code, as a fill hands them to WriteSummary code
// after code: the first `count` of `rows`. The rows after them are kept
// for their storage, so that the texts of the next code's rows are copied
// without allocating.
struct CodeRows {
  std::string code;
  std::vector<GroupedRow> rows;
  std::size_t count = 0;

  // The next row, to be filled over what it held before.
  GroupedRow& Next();
  std::span<GroupedRow> InUse() { return {rows.data(), count}; }
};
// Fills `rows` with the next code's grouped rows (codes in order, not
// empty; areas of at least 0.001); false after the last code.
using NextCode = std::function<bool(CodeRows& rows)>;
// WriteSummary of grouped rows handed over code by code.
short WriteSummary(CStatContext& context, const NextCode& next, const std::string& target,
                   const std::vector<std::string>& columns, const char* title, const MakeRow& row);

// The area columns of a new summary row in tree order, all 0, and the area
// of a leaf booked into them: the leaf, its class total and GDHBMJ. `leaf`
// counts the class's leaves from 0.
std::vector<double> NoAreas(const SummaryTree& tree);
void Book(const SummaryTree& tree, std::vector<double>& areas, int klass, std::size_t leaf,
          double area);
// The leaf of a class (1 reclaimable, 2 recultivable) whose text is `text`;
// -1 when none.
int LeafOf(const SummaryTree& tree, int klass, std::string_view text);

}  // namespace landstat::reserve
