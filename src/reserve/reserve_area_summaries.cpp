// The reserve class-area summaries MJ_GDHB (new type scheme) and
// MJ_GDHBOLD (old type scheme): for every county, township, village and
// (where the code table has group codes) group, the reserve area of each
// type under its class total, once over all parcels and once each for the
// national and provincial levels and for state-owned and collective land,
// summed from the unit copies of ZB_GDHB; the hectare and mu tables
// rounded and balanced afterwards.

#include <array>

#include "engine/stat_context.h"
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

struct RowKind {
  short offset;
  const char* column;  // what the row is restricted by; null for all parcels
  const char* filter;
};
constexpr RowKind kRowKinds[] = {
    {0, nullptr, ""},
    {10, "权属性质", " where(权属性质 like '1%' or 权属性质 like '2%')"},
    {14, "权属性质", " where(权属性质 like '3%' or 权属性质 like '4%')"},
    {18, "耕地后备资源级别", " where 耕地后备资源级别='国家级'"},
    {22, "耕地后备资源级别", " where 耕地后备资源级别='省级'"},
};

// The grouping query of a selector (level number plus the row kind's
// offset); empty for a selector that names none (5 to 10, or outside 1
// to 26).
std::string AreaQuery(const Scheme& scheme, short selector, const std::string& source) {
  for (const RowKind& kind : kRowKinds) {
    const reserve::LevelColumns* level = reserve::LevelOf(selector - kind.offset);
    if (!level) continue;
    std::string keys =
        std::string(level->code) + "," + level->name + ",调查区名称," + scheme.type_column;
    if (kind.column) keys += std::string(",") + kind.column;
    return "select " + keys + ",SUM(面积) AS GDHBMJ FROM " + source + kind.filter + " GROUP BY " +
           keys + " ORDER BY " + level->code;
  }
  return "";
}

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
// QSXZNGDHBJB NULL, which the reports select as "全部".
std::vector<db::Value> AreaRow(const Scheme& scheme, bool restricted, const std::string& code,
                               const std::vector<reserve::GroupedRow>& rows) {
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
  for (double area : areas) values.emplace_back(area);
  return values;
}

short FillArea(CStatContext& context, const Scheme& scheme, short selector,
               const std::string& unit) {
  const short code = reserve::UnitOfPrefix(unit);
  if (code == kNoUnit) return 0;
  std::vector<std::string> columns = {"XZQDM", "XZQMC", "DCQMC", "QSXZNGDHBJB"};
  for (const std::string& column : scheme.tree.Columns()) columns.push_back(column);
  const bool restricted = selector > 4;
  return reserve::FillSummary(
      context, AreaQuery(scheme, selector, context.GdhbUnitTable(code, "ZB_GDHB")),
      context.GdhbUnitTable(code, scheme.tree.base), columns, kFillTitle,
      [&](const std::string& unit_code, const std::vector<reserve::GroupedRow>& rows) {
        return AreaRow(scheme, restricted, unit_code, rows);
      });
}

// Every wanted unit, every row kind in the scheme's order, levels county
// to group; a failed county, township or village level ends the build with
// 0 before the rounding (the fill has logged it), a failed group level
// does not.
short BuildArea(CStatContext& context, const Scheme& scheme,
                short (CStatContext::*fill)(short, const std::string&)) {
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!context.WantsUnit(unit)) continue;
    for (short offset : scheme.kinds) {
      for (short level : {4, 3, 2}) {
        if ((context.*fill)(static_cast<short>(offset + level), UnitPrefix(unit)) == 0) return 0;
      }
      if (context.CountGroupCodes() > 0) {
        (context.*fill)(static_cast<short>(offset + 1), UnitPrefix(unit));
      }
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
  return BuildArea(*this, kNewScheme, &CStatContext::FillGdhbAreaSummary);
}
short CStatContext::BuildGdhbOldAreaSummary() {
  return BuildArea(*this, kOldScheme, &CStatContext::FillGdhbOldAreaSummary);
}

}  // namespace landstat
