// The reserve class-area summaries MJ_GDHB (new type scheme) and
// MJ_GDHBOLD (old type scheme): for every county, township, village and
// (where the code table has group codes) group, the reserve area of each
// type under its class total, once over all parcels and once each for the
// national and provincial levels and for state-owned and collective land,
// summed from the unit copies of ZB_GDHB; the hectare and mu tables
// rounded and balanced afterwards. Each unit copy is read once, grouped by
// every column a level or row kind groups by, and the rows of every level
// and kind are summed from that in memory.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "reserve/reserve_summary_tables.h"
#include "reserve/reserve_types.h"

namespace landstat {
namespace {

constexpr char kCreateTitle[] = "耕地后备资源分类面积汇总表";
constexpr char kCreateMessage[] = "耕地后备资源分类面积汇总表失败";
constexpr char kFillTitle[] = "耕地后备面积汇总";
constexpr char kTextColumns[] =
    "XZQDM varchar(19),XZQMC varchar(60),DCQMC varchar(200),QSXZNGDHBJB varchar(10)";

// The survey-area text is filled while it is below 150 bytes of the local
// code page (a Chinese character counting two), and never past the 200
// characters of its column.
constexpr std::size_t kSurveyAreaFill = 150;
constexpr std::size_t kSurveyAreaColumn = 200;

struct Scheme {
  const reserve::SummaryTree& tree;
  const char* type_column;
  short (*classify)(const std::string&);
  // The fills' selectors in build order: the row kinds, each county,
  // township, village, group.
  std::array<short, 5> kinds;
};

// all, national, provincial, state-owned, collective
const Scheme kNewScheme = {
    reserve::kNewTypeTree, "耕地后备资源新类型", ClassifyGdhbNewType, {0, 18, 22, 10, 14}};
// all, provincial, national, collective, state-owned
const Scheme kOldScheme = {
    reserve::kOldTypeTree, "耕地后备资源原类型", ClassifyGdhbOldType, {0, 22, 18, 14, 10}};

// The columns of a unit copy of ZB_GDHB that the fills group by, read once
// for every level and row kind of a unit: the code and name of levels 1 to
// 4 (at 2 × (level - 1)), then these.
enum FineColumn { kSurveyArea = 8, kType, kOwnership, kReserveLevel, kFineColumns };

bool StateOwned(std::string_view ownership) {
  return ownership.starts_with('1') || ownership.starts_with('2');
}
bool Collective(std::string_view ownership) {
  return ownership.starts_with('3') || ownership.starts_with('4');
}
bool National(std::string_view level) {
  return level == "国家级";
}
bool Provincial(std::string_view level) {
  return level == "省级";
}

struct RowKind {
  short offset;
  int column;  // what the row is restricted and split by; -1 for all parcels
  bool (*takes)(std::string_view value);
};
constexpr RowKind kRowKinds[] = {
    {0, -1, nullptr},
    {10, kOwnership, StateOwned},
    {14, kOwnership, Collective},
    {18, kReserveLevel, National},
    {22, kReserveLevel, Provincial},
};

// The row kind and level of a selector (level number plus the row kind's
// offset); false for a selector that names none (5 to 10, or outside 1 to
// 26).
bool Select(short selector, const RowKind*& kind, int& level) {
  for (const RowKind& candidate : kRowKinds) {
    if (!reserve::LevelOf(selector - candidate.offset)) continue;
    kind = &candidate;
    level = selector - candidate.offset;
    return true;
  }
  return false;
}

// One row of a unit copy grouped by every fine column: the texts (NULL
// read as empty, marked in `nulls`) and the summed area. `ranks` places
// each text among the column's values of all fine rows (NULL first, then
// the texts in byte order), so that rows are grouped by numbers.
struct FineRow {
  std::array<std::string, kFineColumns> texts;
  unsigned nulls = 0;  // bit i: column i is NULL
  double area = 0;
  std::array<std::uint32_t, kFineColumns> ranks = {};
};

// Each fine row's place in the byte order of its texts, column by column,
// NULL read as empty.
using TextRanks = std::array<std::uint32_t, kFineColumns>;

// Fills the ranks of every fine row, column by column, and gives each
// row's text ranks. The distinct values of a column are found by hashing
// and only they are sorted.
std::vector<TextRanks> RankColumns(std::vector<FineRow>& fine) {
  struct Value {
    bool null = false, text = false;  // seen as NULL, as a text
    std::uint32_t null_rank = 0, rank = 0, text_rank = 0;
  };
  std::vector<TextRanks> text_ranks(fine.size());
  std::unordered_map<std::string_view, Value> values;
  std::vector<Value*> of_row(fine.size());
  std::vector<std::pair<std::string_view, Value*>> ordered;
  for (int column = 0; column < kFineColumns; ++column) {
    values.clear();
    for (std::size_t i = 0; i < fine.size(); ++i) {
      Value& value = values[fine[i].texts[column]];
      ((fine[i].nulls >> column & 1u) ? value.null : value.text) = true;
      of_row[i] = &value;
    }
    ordered.clear();
    for (auto& [text, value] : values) ordered.emplace_back(text, &value);
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    // NULL comes before every text; the texts follow in byte order.
    std::uint32_t next = 0;
    for (auto& [text, value] : ordered) {
      if (value->null) value->null_rank = next++;
    }
    std::uint32_t text_rank = 0;
    for (auto& [text, value] : ordered) {
      if (value->text) value->rank = next++;
      value->text_rank = text_rank++;
    }
    for (std::size_t i = 0; i < fine.size(); ++i) {
      const Value& value = *of_row[i];
      fine[i].ranks[column] = (fine[i].nulls >> column & 1u) ? value.null_rank : value.rank;
      text_ranks[i][column] = value.text_rank;
    }
  }
  return text_ranks;
}

// The grouping of a unit copy's fine rows: by every fine column, the area
// summed.
db::GroupedSumsQuery FineGrouping(const Scheme& scheme, const std::string& source) {
  db::GroupedSumsQuery query;
  query.table = source;
  for (int level = 1; level <= 4; ++level) {
    const reserve::LevelColumns* columns = reserve::LevelOf(level);
    query.keys.emplace_back(columns->code);
    query.keys.emplace_back(columns->name);
  }
  for (const char* key : {"调查区名称", scheme.type_column, "权属性质", "耕地后备资源级别"}) {
    query.keys.emplace_back(key);
  }
  query.sums = {"面积"};
  return query;
}

// The query of a unit copy's fine rows.
std::string FineQuery(const Scheme& scheme, const std::string& source) {
  std::string keys;
  for (const std::string& key : FineGrouping(scheme, source).keys) {
    keys += (keys.empty() ? "" : ",") + key;
  }
  return "select " + keys + ",SUM(面积) AS GDHBMJ FROM " + source + " GROUP BY " + keys;
}

// Puts the fine rows in byte order of their texts (NULL read as empty,
// then NULL before empty), so that both engines sum the coarser rows in the
// same order, and ranks them.
void OrderFineRows(std::vector<FineRow>& fine) {
  const std::vector<TextRanks> text_ranks = RankColumns(fine);
  std::vector<std::uint32_t> order(fine.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return std::tie(text_ranks[a], fine[a].nulls) < std::tie(text_ranks[b], fine[b].nulls);
  });
  std::vector<FineRow> ordered;
  ordered.reserve(fine.size());
  for (std::uint32_t i : order) ordered.push_back(std::move(fine[i]));
  fine = std::move(ordered);
}

// Every fine row of an open query.
std::vector<FineRow> ReadFineRows(db::RowSource& source) {
  std::vector<FineRow> fine;
  while (source.Next()) {
    FineRow& row = fine.emplace_back();
    row.nulls = db::ReadTexts(source, row.texts);
    source.NumberUnlessNull(kFineColumns, row.area);
  }
  OrderFineRows(fine);
  return fine;
}

// Every fine row of a unit copy grouped in memory: the same groups as the
// grouping statement, each area summed in the order the rows are stored,
// as the embedded engine's grouping sums them, without sorting the copy.
std::vector<FineRow> GroupFineRows(const db::GroupedSums& sums) {
  std::vector<FineRow> fine;
  sums.VisitRows(sums.Columns(), false, {}, [&fine](std::vector<db::Value>& values) {
    FineRow& row = fine.emplace_back();
    for (int i = 0; i < kFineColumns; ++i) {
      if (values[i].IsNull()) row.nulls |= 1u << i;
      row.texts[i] = values[i].TextView();
    }
    if (!values[kFineColumns].IsNull()) row.area = values[kFineColumns].AsDouble("面积");
  });
  OrderFineRows(fine);
  return fine;
}

// The grouped rows of a level and row kind, summed from the fine rows as
// the database would group them: by the level's code and name, the survey
// area, the type and the column the kind splits by, NULL apart from empty;
// handed over code by code in the order of the codes, empty codes and areas
// below 0.001 left out.
class LevelRows {
 public:
  LevelRows(const std::vector<FineRow>& fine, int level, const RowKind& kind) : fine_(fine) {
    keys_ = {2 * (level - 1), 2 * (level - 1) + 1, kSurveyArea, kType};
    if (kind.column >= 0) keys_.push_back(kind.column);
    // The rows of a group are found by the ranks of their key columns,
    // which order the groups as their texts do; within a group the rows
    // keep their order, so that the areas are summed in it.
    keyed_.reserve(fine.size());
    for (std::size_t i = 0; i < fine.size(); ++i) {
      const FineRow& row = fine[i];
      if (kind.column >= 0 && !kind.takes(row.texts[kind.column])) continue;
      Keyed& entry = keyed_.emplace_back();
      for (std::size_t k = 0; k < keys_.size(); ++k) entry.key[k] = row.ranks[keys_[k]];
      entry.row = static_cast<std::uint32_t>(i);
    }
    std::sort(keyed_.begin(), keyed_.end());
  }

  // The rows of the next code into `unit`; false after the last code.
  bool Next(reserve::CodeRows& unit) {
    unit.count = 0;
    while (start_ < keyed_.size()) {
      const FineRow& first = fine_[keyed_[start_].row];
      const std::string& code = first.texts[keys_[0]];
      if (unit.count > 0 && code != unit.code) break;
      std::size_t end = start_;
      double area = 0;
      for (; end < keyed_.size() && keyed_[end].key == keyed_[start_].key; ++end) {
        area += fine_[keyed_[end].row].area;
      }
      start_ = end;
      if (code.empty() || std::fabs(area) < 0.001) continue;
      if (unit.count == 0) unit.code = code;
      reserve::GroupedRow& row = unit.Next();
      row.name = first.texts[keys_[1]];
      row.texts.resize(keys_.size() - 2);
      for (std::size_t i = 2; i < keys_.size(); ++i) row.texts[i - 2] = first.texts[keys_[i]];
      row.area = area;
    }
    return unit.count > 0;
  }

 private:
  // The level's code and name, the survey area, the type and, for a
  // restricted kind, the column it splits by.
  static constexpr std::size_t kMostKeys = 5;
  struct Keyed {
    std::array<std::uint32_t, kMostKeys> key = {};
    std::uint32_t row = 0;
    bool operator<(const Keyed& other) const {
      return std::tie(key, row) < std::tie(other.key, other.row);
    }
  };

  const std::vector<FineRow>& fine_;
  std::vector<int> keys_;
  std::vector<Keyed> keyed_;
  std::size_t start_ = 0;  // the first entry of the next group
};

// Width in bytes of the local code page: ASCII one, any other character two.
std::size_t LocalWidth(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++width;
    } else if ((c & 0xC0) != 0x80) {
      width += 2;  // the first byte of a character
    }
  }
  return width;
}

std::size_t Characters(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// Adds a survey-area name to the text joined by ",": not when it is empty
// or already occurs in the text (a name inside a longer name listed counts
// as listed), when the text has reached 150 bytes, or when the name would
// not fit the column.
void AddSurveyArea(std::string& text, const std::string& name) {
  if (name.empty() || text.find(name) != std::string::npos) return;
  if (LocalWidth(text) >= kSurveyAreaFill) return;
  const std::string joined = text.empty() ? name : text + "," + name;
  if (Characters(joined) <= kSurveyAreaColumn) text = joined;
}

// What a restricted row holds in QSXZNGDHBJB: the ownership as "国有" or
// "集体", the level as it stands.
std::string KindText(const std::string& value) {
  if (!value.empty() && (value[0] == '1' || value[0] == '2')) return "国有";
  if (!value.empty() && (value[0] == '3' || value[0] == '4')) return "集体";
  return value;
}

// The summary row of one code. A type outside the scheme books no area;
// its survey area is listed all the same. The all-parcels rows keep
// QSXZNGDHBJB NULL, which the reports select as "全部". The areas are
// rounded to `decimals` (below 0: as summed).
std::vector<db::Value> AreaRow(const Scheme& scheme, bool restricted, const std::string& code,
                               std::span<const reserve::GroupedRow> rows, int decimals) {
  std::vector<double> areas = reserve::NoAreas(scheme.tree);
  std::string survey;
  for (const reserve::GroupedRow& row : rows) {
    AddSurveyArea(survey, row.texts[0]);
    const std::string& type = row.texts[1];
    const int klass = scheme.classify(type);
    const int leaf = reserve::LeafOf(scheme.tree, klass, type);
    if (leaf >= 0) reserve::Book(scheme.tree, areas, klass, leaf, row.area);
  }
  std::vector<db::Value> values = {
      db::Value(code), db::Value(rows.front().name),
      survey.empty() ? db::Value() : db::Value(survey),
      restricted ? db::Value(KindText(rows.front().texts[2])) : db::Value()};
  for (double area : areas) {
    values.emplace_back(decimals < 0 ? area : RoundToDecimals(area, decimals));
  }
  return values;
}

// Writes the rows of one level and row kind in one unit's table.
short WriteLevel(CStatContext& context, const Scheme& scheme, short unit,
                 const std::vector<FineRow>& fine, const RowKind& kind, int level) {
  std::vector<std::string> columns = {"XZQDM", "XZQMC", "DCQMC", "QSXZNGDHBJB"};
  for (const std::string& column : scheme.tree.Columns()) columns.push_back(column);
  const bool restricted = kind.column >= 0;
  // The square-metre table is only summed; the others are rounded and
  // balanced once every level is written.
  const int decimals = unit == kSquareMetre ? context.DecimalsOf(unit) : -1;
  LevelRows grouped(fine, level, kind);
  return reserve::WriteSummary(
      context, [&grouped](reserve::CodeRows& rows) { return grouped.Next(rows); },
      context.GdhbUnitTable(unit, scheme.tree.base), columns, kFillTitle,
      [&](const std::string& unit_code, std::span<const reserve::GroupedRow> rows) {
        return AreaRow(scheme, restricted, unit_code, rows, decimals);
      });
}

// The fine rows of a unit's copy of ZB_GDHB into `fine`; 0 after a logged
// failure, as a fill logs it.
short ReadUnit(CStatContext& context, const Scheme& scheme, short unit,
               std::vector<FineRow>& fine) {
  const std::string copy = context.GdhbUnitTable(unit, "ZB_GDHB");
  if (context.m_pConn.Kind() == db::DbKind::kEmbedded) {
    // The embedded engine would sort the whole copy to group it; the
    // groups are made in one pass in memory instead. A server groups by
    // hashing: there the statement runs.
    try {
      fine = GroupFineRows(db::GroupedSums(context.m_pConn, FineGrouping(scheme, copy)));
      return 1;
    } catch (const db::DbError& error) {
      context.LogFailure(kFillTitle, "选择数据失败", error);
      return 0;
    }
  }
  std::unique_ptr<db::RowSource> source;
  try {
    source = context.m_pConn.Scan(FineQuery(scheme, copy));
  } catch (const db::DbError& error) {
    context.LogFailure(kFillTitle, "选择数据失败", error);
    return 0;
  }
  try {
    fine = ReadFineRows(*source);
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kFillTitle,
                       context.GdhbUnitTable(unit, scheme.tree.base) + " 读取分组数据失败", error);
    return 0;
  }
}

short FillArea(CStatContext& context, const Scheme& scheme, short selector,
               const std::string& prefix) {
  const short unit = reserve::UnitOfPrefix(prefix);
  if (unit == kNoUnit) return 0;
  const RowKind* kind = nullptr;
  int level = 0;
  if (!Select(selector, kind, level)) {
    context.LogFailure(
        kFillTitle, "选择数据失败",
        db::DbError("no statement for " + context.GdhbUnitTable(unit, scheme.tree.base) +
                    " selector " + std::to_string(selector)));
    return 0;
  }
  std::vector<FineRow> fine;
  return ReadUnit(context, scheme, unit, fine) &&
         WriteLevel(context, scheme, unit, fine, *kind, level);
}

// Every wanted unit (its copy of ZB_GDHB read once), every row kind in the
// scheme's order, levels county to group; a failed read or a failed
// county, township or village level ends the build with 0 before the
// rounding (the failure is logged), a failed group level does not.
short BuildArea(CStatContext& context, const Scheme& scheme) {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!context.WantsUnit(unit)) continue;
    std::vector<FineRow> fine;
    if (ReadUnit(context, scheme, unit, fine) == 0) return 0;
    for (short offset : scheme.kinds) {
      const RowKind& kind = *std::find_if(std::begin(kRowKinds), std::end(kRowKinds),
                                          [&](const RowKind& k) { return k.offset == offset; });
      for (int level : {4, 3, 2}) {
        if (WriteLevel(context, scheme, unit, fine, kind, level) == 0) return 0;
      }
      if (context.CountGroupCodes() > 0) WriteLevel(context, scheme, unit, fine, kind, 1);
    }
  }
  const std::vector<std::string> columns = scheme.tree.Columns();
  context.RoundAndBalanceTable(scheme.tree.base, &columns, 2);
  return 1;
}

}  // namespace

short CStatContext::CreateGdhbAreaSummaryTables() {
  return reserve::CreateSummaryTables(*this, reserve::kNewTypeTree, kTextColumns, kCreateTitle,
                                      kCreateMessage);
}
short CStatContext::CreateGdhbOldAreaSummaryTables() {
  return reserve::CreateSummaryTables(*this, reserve::kOldTypeTree, kTextColumns, kCreateTitle,
                                      kCreateMessage);
}

short CStatContext::FillGdhbAreaSummary(short selector, const std::string& unit) {
  return FillArea(*this, kNewScheme, selector, unit);
}
short CStatContext::FillGdhbOldAreaSummary(short selector, const std::string& unit) {
  return FillArea(*this, kOldScheme, selector, unit);
}

short CStatContext::BuildGdhbAreaSummary() {
  return BuildArea(*this, kNewScheme);
}
short CStatContext::BuildGdhbOldAreaSummary() {
  return BuildArea(*this, kOldScheme);
}

}  // namespace landstat
