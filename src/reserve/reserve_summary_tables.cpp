#include "reserve/reserve_summary_tables.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "engine/stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"

namespace landstat::reserve {

const SummaryTree kNewTypeTree = {
    "MJ_GDHB",
    {{"KKKCD", "Ⅰ1可开垦其他草地"},
     {"KKKYJD", "Ⅰ2可开垦盐碱地"},
     {"KKKZHZD", "Ⅰ3可开垦沼泽地"},
     {"KKKTYD", "Ⅰ4可开垦滩涂"},
     {"KKKQTD", "Ⅰ5可开垦的其他土地"}},
    {{"KFKFQYZD", "Ⅱ1废弃压占土地"},
     {"KFKTTD", "Ⅱ2挖掘及塌陷破坏地"},
     {"KFKSHD", "Ⅱ3自然灾毁土地"}},
};

// Tidal flats are Ⅰ5 here and Ⅰ4 in the new scheme; both go to KKKTYD.
const SummaryTree kOldTypeTree = {
    "MJ_GDHBOLD",
    {{"KKKCD", "Ⅰ1可开垦荒草地"},
     {"KKKYJD", "Ⅰ2可开垦盐碱地"},
     {"KKKZHZD", "Ⅰ3可开垦沼泽地"},
     {"KKKWD", "Ⅰ4可开垦苇地"},
     {"KKKTYD", "Ⅰ5可开垦滩涂"},
     {"KKKQTD", "Ⅰ6其他可开垦的未利用土地"}},
    kNewTypeTree.recultivable,
};

const SummaryTree kGradeTree = {
    "PJ_GDHB",
    {{"KKKYKK", "易开发土地"}, {"KKKJYKK", "较易开发土地"}, {"KKKJNKK", "较难开发土地"}},
    {{"KFKYKK", "易复垦土地"}, {"KFKJYKK", "较易复垦土地"}, {"KFKJNKK", "较难复垦土地"}},
};

std::vector<std::string> SummaryTree::Columns() const {
  std::vector<std::string> columns = {"GDHBMJ", "KKKMJ"};
  for (const Leaf& leaf : reclaimable) columns.emplace_back(leaf.column);
  columns.emplace_back("KFKMJ");
  for (const Leaf& leaf : recultivable) columns.emplace_back(leaf.column);
  return columns;
}

std::vector<const char*> SummaryTree::Texts() const {
  std::vector<const char*> texts;
  for (const std::vector<Leaf>* leaves : {&reclaimable, &recultivable}) {
    for (const Leaf& leaf : *leaves) texts.push_back(leaf.text);
  }
  return texts;
}

const SummaryTree* TreeOf(const std::string& base) {
  for (const SummaryTree* tree : {&kNewTypeTree, &kOldTypeTree, &kGradeTree}) {
    if (base == tree->base) return tree;
  }
  return nullptr;
}

const LevelColumns* LevelOf(int level) {
  static constexpr LevelColumns kLevels[] = {{"XZQDM", "座落单位名称"},
                                             {"村级代码", "村名称"},
                                             {"乡级代码", "乡名称"},
                                             {"县级代码", "县名称"}};
  return level >= 1 && level <= 4 ? &kLevels[level - 1] : nullptr;
}

short UnitOfPrefix(const std::string& prefix) {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (prefix == UnitPrefix(unit)) return unit;
  }
  return kNoUnit;
}

short CreateSummaryTables(CStatContext& context, const SummaryTree& tree,
                          const std::string& text_columns, const char* title, const char* message) {
  if (!gis::IsLayerValid(context.m_aiGdhb)) return 0;
  const std::string pattern = context.GdhbUnitTable(kSquareMetre, tree.base);
  const auto drop_old = [&](const std::string& table) {
    if (context.IsTableExist(table)) context.DropTable(table);  // a failed drop fails the create
  };
  try {
    drop_old(pattern);
    std::string create = "Create Table " + pattern + "(" + text_columns;
    for (const std::string& column : tree.Columns())
      create += "," + column + " double default 0.00";
    context.m_pConn.Execute(context.TypeWords(create + ")"));
    for (short unit : {kHectare, kMu}) {
      if (!context.WantsUnit(unit)) continue;
      const std::string copy = context.GdhbUnitTable(unit, tree.base);
      drop_old(copy);
      context.m_pConn.Execute(context.Dialect().CopyStructure(copy, pattern));
    }
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(title, message, error);
    return 0;
  }
}

namespace {

// Every grouped row of an open query with a code and an area of at least
// 0.001, in the order read.
std::vector<CodedRow> ReadGroupedRows(db::RowSource& source) {
  const int texts = static_cast<int>(source.Columns().size()) - 3;
  std::vector<CodedRow> rows;
  while (source.Next()) {
    std::string code(source.Text(0));
    double area = 0;
    source.NumberUnlessNull(texts + 2, area);
    if (code.empty() || std::fabs(area) < 0.001) continue;
    CodedRow& row = rows.emplace_back();
    row.code = std::move(code);
    row.row.name = source.Text(1);
    for (int i = 0; i < texts; ++i) row.row.texts.emplace_back(source.Text(2 + i));
    row.row.area = area;
  }
  return rows;
}

// Every group of `sums` with a code and an area of at least 0.001, in the
// order of their keys, as ReadGroupedRows reads them from the grouping
// statement.
std::vector<CodedRow> GroupedRowsOf(const db::GroupedSums& sums) {
  std::vector<CodedRow> rows;
  sums.VisitRows(sums.Columns(), true, {}, [&rows](std::vector<db::Value>& values) {
    const std::size_t texts = values.size() - 3;
    const double area = values.back().IsNull() ? 0.0 : values.back().AsDouble();
    if (values[0].TextView().empty() || std::fabs(area) < 0.001) return;
    CodedRow& row = rows.emplace_back();
    row.code = values[0].TextView();
    row.row.name = values[1].TextView();
    for (std::size_t i = 0; i < texts; ++i) row.row.texts.emplace_back(values[2 + i].TextView());
    row.row.area = area;
  });
  return rows;
}

bool ByNameAndTexts(const GroupedRow& a, const GroupedRow& b) {
  return std::tie(a.name, a.texts) < std::tie(b.name, b.texts);
}

}  // namespace

short FillSummary(CStatContext& context, const std::string& query, const std::string& target,
                  const std::vector<std::string>& columns, const char* title, const MakeRow& row) {
  std::vector<CodedRow> grouped;
  try {
    if (query.empty()) throw db::DbError("no statement for " + target);
    std::unique_ptr<db::RowSource> source = context.m_pConn.Scan(query);
    try {
      grouped = ReadGroupedRows(*source);
    } catch (const db::DbError& error) {
      context.LogFailure(title, target + " 读取分组数据失败", error);
      return 0;
    }
  } catch (const db::DbError& error) {
    context.LogFailure(title, "选择数据失败", error);
    return 0;
  }
  return WriteSummary(context, std::move(grouped), target, columns, title, row);
}

short FillGroupedSummary(CStatContext& context, const db::GroupedSumsQuery& grouping,
                         const std::string& query, const std::string& target,
                         const std::vector<std::string>& columns, const char* title,
                         const MakeRow& row) {
  try {
    // On a server nothing is read here: the query groups as it is read.
    const db::GroupedSums grouped(context.m_pConn, grouping);
    return FillGroupedSummary(context, grouped, query, target, columns, title, row);
  } catch (const db::DbError& error) {
    context.LogFailure(title, "选择数据失败", error);
    return 0;
  }
}

short FillGroupedSummary(CStatContext& context, const db::GroupedSums& grouped,
                         const std::string& query, const std::string& target,
                         const std::vector<std::string>& columns, const char* title,
                         const MakeRow& row) {
  if (context.m_pConn.Kind() != db::DbKind::kEmbedded) {
    return FillSummary(context, query, target, columns, title, row);
  }
  std::vector<CodedRow> rows;
  try {
    rows = GroupedRowsOf(grouped);
  } catch (const db::DbError& error) {
    context.LogFailure(title, "选择数据失败", error);
    return 0;
  }
  return WriteSummary(context, std::move(rows), target, columns, title, row);
}

short WriteSummary(CStatContext& context, std::vector<CodedRow> grouped, const std::string& target,
                   const std::vector<std::string>& columns, const char* title, const MakeRow& row) {
  // The rows are ordered by the code, so the rows of one code stand together.
  std::size_t next = 0;
  const auto next_code = [&grouped, &next](CodeRows& unit) {
    if (next == grouped.size()) return false;
    unit.code = std::move(grouped[next].code);
    unit.count = 0;
    for (; next < grouped.size() && (unit.count == 0 || grouped[next].code == unit.code); ++next) {
      unit.Next() = std::move(grouped[next].row);
    }
    return true;
  };
  return WriteSummary(context, next_code, target, columns, title, row);
}

GroupedRow& CodeRows::Next() {
  if (count == rows.size()) rows.emplace_back();
  return rows[count++];
}

short WriteSummary(CStatContext& context, const NextCode& next, const std::string& target,
                   const std::vector<std::string>& columns, const char* title, const MakeRow& row) {
  std::optional<db::RowWriter> writer;
  try {
    writer.emplace(context.m_pConn, target, columns);
  } catch (const db::DbError& error) {
    context.LogFailure(title, "选择数据失败", error);
    return 0;
  }
  try {
    CodeRows unit;
    while (next(unit)) {
      const std::span<GroupedRow> rows = unit.InUse();
      // Rows handed over in strictly rising order are sorted already.
      const auto unordered = [](const GroupedRow& a, const GroupedRow& b) {
        return !ByNameAndTexts(a, b);
      };
      if (std::adjacent_find(rows.begin(), rows.end(), unordered) != rows.end()) {
        std::sort(rows.begin(), rows.end(), ByNameAndTexts);
      }
      writer->Add(row(unit.code, rows));
    }
    writer->Close();
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(title, target + " 写入汇总数据失败", error);
    return 0;
  }
}

std::vector<double> NoAreas(const SummaryTree& tree) {
  return std::vector<double>(tree.RecultivableTotal() + 1 + tree.recultivable.size(), 0.0);
}

void Book(const SummaryTree& tree, std::vector<double>& areas, int klass, std::size_t leaf,
          double area) {
  const std::size_t total = klass == 1 ? 1 : tree.RecultivableTotal();
  areas[total + 1 + leaf] += area;
  areas[total] += area;
  areas[0] += area;
}

int LeafOf(const SummaryTree& tree, int klass, std::string_view text) {
  if (klass != 1 && klass != 2) return -1;
  const std::vector<Leaf>& leaves = klass == 1 ? tree.reclaimable : tree.recultivable;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    if (text == leaves[i].text) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace landstat::reserve
