// The town use-right type table CZTDLY_SYQZD: one row per county, street and
// block with the lots' area spread over the use-right types (使用权类型),
// one column per type and BM99 for lots without one.
//
// The lot table is grouped by level and type (in the database on a server,
// in memory in one scan on the embedded engine); the grouped rows are
// turned into one row per level code in memory and written in one go.

#include <fmt/printf.h>

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <memory>

#include "engine/rounding.h"
#include "lots/town_summary_family.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/host/notifier.h"

namespace landstat {
namespace {

// The type columns in table order; "99" takes the lots without a type.
const std::vector<std::string> kUseRightTypes = {"11", "12", "13", "14", "15", "21",
                                                 "22", "23", "24", "25", "99"};

// A level's grouped query (ordered by the level code, so that the rows of
// one code follow each other), its code and name columns, and its name in
// the log.
struct UseRightLevel {
  const char* query;
  const char* code;
  const char* code_name;
  const char* name;
};

const UseRightLevel kUseRightLevels[] = {
    {"select 县级代码 as 行政代码,县名称   as 行政名称, 使用权类型,sum(宗地总面积) as 面积 from %s "
     "group by 县级代码,县名称,使用权类型   order by 县级代码",
     "县级代码", "县名称", "县级"},
    {"select 街道代码 as 行政代码,街道名称 as 行政名称, 使用权类型,sum(宗地总面积) as 面积 from %s "
     "group by 街道代码,街道名称,使用权类型 order by 街道代码",
     "街道代码", "街道名称", "街道"},
    {"select 街坊代码 as 行政代码,街坊名称 as 行政名称, 使用权类型,sum(宗地总面积) as 面积 from %s "
     "group by 街坊代码,街坊名称,使用权类型 order by 街坊代码",
     "街坊代码", "街坊名称", "街坊"},
};

struct UseRightRow {
  std::string code, name;
  double total = 0;
  std::array<double, 11> areas{};
};

// Tells the operator of a type without a column and logs it. The unit
// tables' fill tells it once per level; the dated twin's fill for every
// such row, in the words of the table that has no such column.
class UnknownTypes {
 public:
  UnknownTypes(CZdStatContext& context, const std::string& target, bool every_row)
      : context_(context), target_(target), every_row_(every_row) {}
  void StartLevel() { told_ = false; }
  void Report(const UseRightLevel& level, const std::string& type) {
    if (told_ && !every_row_) return;
    told_ = true;
    const std::string message =
        every_row_ ? "table " + target_ + " has no column BM" + type
                   : fmt::sprintf("您填写的使用权类型:%s错误,请按照规范填写正确的使用权类型", type);
    host::AfxMessageBox(message);
    context_.LogFailure("汇总使用权类型表", fmt::sprintf("%s使用权类型%s错误", level.name, type));
  }

 private:
  CZdStatContext& context_;
  const std::string& target_;
  bool every_row_;
  bool told_ = false;
};

// One grouped row of a level: its code, name and type, and the area.
using GroupedRow = std::vector<db::Value>;

// Adds one level's grouped rows, in the order of their codes, to `rows`:
// the grouped rows of a code make one row, each type's area in its column,
// every area in the total.
class LevelPivot {
 public:
  LevelPivot(const UseRightLevel& level, UnknownTypes& unknown, std::vector<UseRightRow>& rows)
      : level_(level), unknown_(unknown), rows_(rows) {
    unknown_.StartLevel();
  }

  void Add(const GroupedRow& grouped) {
    const std::string code = grouped[0].AsText();
    const double area = grouped[3].IsNull() ? 0 : grouped[3].AsDouble("面积");
    std::string type = grouped[2].IsNull() ? "" : grouped[2].AsText();
    if (type.empty()) type = "99";
    if (first_ || code != previous_) rows_.push_back({code, grouped[1].AsText()});
    first_ = false;
    previous_ = code;
    UseRightRow& row = rows_.back();
    const auto column = std::find(kUseRightTypes.begin(), kUseRightTypes.end(), type);
    if (column == kUseRightTypes.end()) {
      unknown_.Report(level_, type);
    } else {
      row.areas[static_cast<std::size_t>(std::distance(kUseRightTypes.begin(), column))] += area;
    }
    row.total += area;
  }

 private:
  const UseRightLevel& level_;
  UnknownTypes& unknown_;
  std::vector<UseRightRow>& rows_;
  bool first_ = true;
  std::string previous_;
};

// The levels' grouped rows from the database's statements, one level after
// another.
void PivotLevelsInDatabase(CZdStatContext& context, const std::string& source,
                           const std::function<LevelPivot(const UseRightLevel&)>& start) {
  for (const UseRightLevel& level : kUseRightLevels) {
    LevelPivot pivot = start(level);
    db::Recordset grouped(context.m_pConn, fmt::sprintf(level.query, source));
    GroupedRow row(4);
    for (; !grouped.IsEOF(); grouped.MoveNext()) {
      for (int i = 0; i < 4; ++i) row[static_cast<std::size_t>(i)] = grouped.Field(i);
      pivot.Add(row);
    }
    grouped.Close();
  }
}

// The same rows on the embedded engine, whose statements group by sorting
// the whole table each: grouped in memory in one scan for every level, and
// given in the order the statements give them (every key in byte order).
// False, with no row given, when the scan fails: the statements then read
// level by level, keeping the levels that can be read and logging the one
// that cannot.
// Groupings fed with the table's rows as it was written, when there are
// some, serve on either engine.
bool PivotLevelsInMemory(CZdStatContext& context, const TownSources& sources,
                         const std::function<LevelPivot(const UseRightLevel&)>& start) {
  CZdStatContext::Groupings grouped = context.TakeLotGroupings(kTownSyqzd.base, sources);
  if (grouped.empty() && context.m_pConn.Kind() != db::DbKind::kEmbedded) return false;
  try {
    if (grouped.empty())
      grouped = db::GroupedSums::ReadAll(context.m_pConn, UseRightGroupings(sources));
  } catch (const db::DbError&) {
    return false;
  }
  for (std::size_t i = 0; i < grouped.size(); ++i) {
    LevelPivot pivot = start(kUseRightLevels[i]);
    grouped[i]->VisitRows(grouped[i]->Columns(), true, {},
                          [&pivot](GroupedRow& row) { pivot.Add(row); });
  }
  return true;
}

std::vector<std::string> UseRightColumns() {
  std::vector<std::string> columns = {"XZQDM", "XZQMC", "XZQZMJ"};
  for (const std::string& type : kUseRightTypes) columns.push_back("BM" + type);
  return columns;
}

// Writes the rows; 0 after a logged failure.
short WriteUseRightRows(CZdStatContext& context, db::RowWriter& writer,
                        const std::vector<UseRightRow>& rows, int decimals) {
  const auto stored = [decimals](double area) {
    return db::Value(decimals < 0 ? area : RoundToDecimals(area, decimals));
  };
  try {
    for (const UseRightRow& row : rows) {
      std::vector<db::Value> values = {db::Value(row.code), db::Value(row.name), stored(row.total)};
      for (double area : row.areas) values.push_back(stored(area));
      writer.Add(values);
    }
    writer.Close();
    return 1;
  } catch (const db::DbError&) {
    context.LogFailure("汇总使用权类型表", "写入使用权类型表失败");
    return 0;
  }
}

// The pivot from `source` into `target`: 1, or 0 after a logged failure; the
// rows of the levels before a failed level are written.
short SumUseRights(CZdStatContext& context, const std::string& target, const TownSources& sources,
                   bool dated) {
  const std::string& source = sources.lots;
  std::unique_ptr<db::RowWriter> writer;
  try {
    writer = std::make_unique<db::RowWriter>(context.m_pConn, target, UseRightColumns());
  } catch (const db::DbError&) {
    context.LogFailure("连接使用权类型表", "连接使用权类型表失败");
    return 0;
  }
  UnknownTypes unknown(context, target, dated);
  std::vector<UseRightRow> rows;
  std::size_t levels_done = 0;  // the rows of the levels read whole
  const auto start = [&](const UseRightLevel& level) {
    levels_done = rows.size();
    return LevelPivot(level, unknown, rows);
  };
  try {
    if (!PivotLevelsInMemory(context, sources, start)) {
      PivotLevelsInDatabase(context, source, start);
    }
  } catch (const db::DbError&) {
    // A read that fails part way leaves no half level behind.
    context.LogFailure("汇总使用权类型表", "汇总使用权类型表失败");
    rows.resize(levels_done);
    WriteUseRightRows(context, *writer, rows, sources.decimals);
    return 0;
  }
  return WriteUseRightRows(context, *writer, rows, sources.decimals);
}

}  // namespace

std::vector<db::GroupedSumsQuery> UseRightGroupings(const TownSources& sources) {
  std::vector<db::GroupedSumsQuery> queries;
  for (const UseRightLevel& level : kUseRightLevels) {
    queries.push_back(
        {sources.lots, {}, {level.code, level.code_name, "使用权类型"}, {"宗地总面积"}});
  }
  return queries;
}

const TownSummary kTownSyqzd{
    "CZTDLY_SYQZD",
    "建立使用权类型表",
    "CZTDLY_SYQZD",
    [](const CZdStatContext&) { return TownLevelColumns(kUseRightTypes); },
    [](CZdStatContext& context, const std::string& target, const TownSources& sources) {
      return SumUseRights(context, target, sources, false);
    },
    [](CZdStatContext& context, const std::string& target, const TownSources& sources) {
      return SumUseRights(context, target, sources, true);
    }};

short CZdStatContext::CreateSyqzdTables() {
  return CreateTownTables(kTownSyqzd);
}
short CZdStatContext::CreateSyqzdTable(const std::string& table) {
  return CreateTownTable(kTownSyqzd, table);
}
short CZdStatContext::SumSyqzd() {
  return SumTownTables(kTownSyqzd);
}
short CZdStatContext::SumSyqzdTable(const std::string& target, const std::string& source) {
  return SumUseRights(*this, target, {source, {}}, false);
}
short CZdStatContext::CreateSyqzdTableDated() {
  return CreateTownTableDated(kTownSyqzd);
}
short CZdStatContext::SumSyqzdDated() {
  return SumTownTableDated(kTownSyqzd);
}

}  // namespace landstat
