// The Inner Mongolia land-use summaries: first- and second-level classes,
// and their rural variants without the classes 05 to 09, by county,
// category, bureau, second-level unit and ownership unit, from the unit
// copies of the base table as the run holds them: each level summed in
// memory in one pass over the copy and written once.

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <unordered_map>

#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/text/number_text.h"
#include "platform/text/text_encoding.h"

namespace landstat {

namespace {

// One of the four summaries: its base name, class level and whether it is
// rural, and the title its create failure is logged under.
struct MgSummary {
  const char* base;
  short kind;  // 1 first level, 2 every level
  bool rural;
  const char* create_title;
};
constexpr MgSummary kYjfl = {"TDLY_YJFLMG", 1, false, "建立蒙古土地利用现状一级分类面积表"};
constexpr MgSummary kEjfl = {"TDLY_EJFLMG", 2, false, "建立蒙古土地利用现状二级分类面积表"};
constexpr MgSummary kNcYjfl = {"NCTDLY_YJFLMG", 1, true, "建立蒙古农村土地利用现状一级分类面积表"};
constexpr MgSummary kNcEjfl = {"NCTDLY_EJFLMG", 2, true, "建立蒙古农村土地利用现状二级分类面积表"};

// The levels: code and name columns, the message of a failure, and whether
// only the ownership codes of the county's own length count.
struct MgLevel {
  const char* code;
  const char* name;
  const char* message;
};
constexpr MgLevel kLevels[] = {
    {"县级代码", "县名称", "汇总蒙古县级数据失败"},
    {"类别码", "类别名称", "汇总蒙古类别级数据失败"},
    {"管局级码", "管局级名称", "汇总管局级数据失败"},
    {"管局下属二级单位码", "管局下属二级单位名称", "汇总管局下属二级数据失败"},
    {"内蒙古权属单位代码", "内蒙古权属单位名称", "汇总管局下属三级单位级数据失败"}};

// The title a level's failure is logged under, by level and kind.
std::string LevelTitle(std::size_t level, short kind) {
  const char* const kinds[] = {"一级", "二级"};
  const char* const heads[] = {"汇总蒙古土地利用现状", "汇总蒙古土地利用现状",
                               "汇总土蒙古地利用现状", "汇总蒙古土地利用现状",
                               "汇总蒙古土地利用现状"};
  return std::string(heads[level]) + kinds[kind == 1 ? 0 : 1] + "分类面积" +
         (level == 0 ? "县级" : "");
}

bool RuralExcluded(const std::string& code) {
  const std::string first = code.substr(0, 2);
  return first >= "05" && first <= "09";
}

// The classes of a summary, in code-table order.
std::vector<std::string> SummaryCodes(const CMgStatContext& context, short kind, bool rural) {
  std::vector<std::string> codes;
  for (const std::string& code : kind == 1 ? context.m_arrClass1Codes : context.m_arrClassCodes) {
    if (!rural || !RuralExcluded(code)) codes.push_back(code);
  }
  return codes;
}

bool InScope(const CMgStatContext& context) {
  return context.m_nStatType == 0 || context.m_nStatType == 2;
}

short CreateSummaryTable(CMgStatContext& context, const MgSummary& summary,
                         const std::string& table) {
  std::string statement =
      "Create Table " + table + "(XZQDM varchar(16) ,XZQMC varchar(60) ,XZQZMJ double default 0.00";
  for (const std::string& code : SummaryCodes(context, summary.kind, summary.rural)) {
    statement += ",BM" + code + " double default 0.00";
  }
  try {
    context.SetAside(table);
    context.m_pConn.Execute(context.Dialect().ApplyTypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(summary.create_title, std::string(summary.create_title) + "失败", error);
    return 0;
  }
}

short CreateSummaryTables(CMgStatContext& context, const MgSummary& summary,
                          short (CMgStatContext::*create)(const std::string&)) {
  if (!InScope(context)) return 1;
  for (short unit : {kSquareMetre, kMu, kHectare}) {
    if (context.Wants(unit)) (context.*create)(context.SummaryTable(unit, summary.base));
  }
  return 1;
}

// Whether an ownership code is of the county and ten characters longer,
// as the pattern county + ten "_" matches it (a character is one of UTF-8).
bool OwnUnitOfCounty(const std::string& code, const std::string& county) {
  return code.compare(0, county.size(), county) == 0 &&
         text::CharacterCount(std::string_view(code).substr(county.size())) == 10;
}

// The place of a group column among the copy's keys.
std::size_t KeyPlace(const char* column) {
  return static_cast<std::size_t>(
      std::find(kMgGroupColumns.begin(), kMgGroupColumns.end(), column) - kMgGroupColumns.begin());
}

// The sums of one level of a copy: the total and the classes by level code
// and name, in the order of code and name.
struct LevelSums {
  explicit LevelSums(std::size_t figures) : width(figures) {}
  // The sums of a level unit, made at its first row.
  double* Of(std::uint32_t code, std::uint32_t name) {
    const auto [found, added] = places.try_emplace(std::uint64_t{code} << 32 | name, units.size());
    if (added) {
      units.emplace_back(code, name);
      sums.resize(sums.size() + width, 0.0);
    }
    return sums.data() + found->second * width;
  }
  std::size_t width;
  std::unordered_map<std::uint64_t, std::size_t> places;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> units;  // code and name
  std::vector<double> sums;                                    // units x width
};

// Writes one level's rows: code, name, total and classes, each sum on the
// copy's grid (`decimals` below 0: as summed).
void WriteLevel(CMgStatContext& context, const std::string& target,
                const std::vector<std::string>& columns, const LevelSums& sums, int decimals) {
  const auto rounded = [decimals](double sum) {
    return decimals < 0 ? sum : text::RoundDecimal(sum, decimals);
  };
  // In the order of code and name, as a grouping statement leaves them.
  const mg::MgTexts& texts = context.Texts();
  std::vector<std::size_t> order(sums.units.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto& [code_a, name_a] = sums.units[a];
    const auto& [code_b, name_b] = sums.units[b];
    return texts.Less(code_a, code_b) || (code_a == code_b && texts.Less(name_a, name_b));
  });
  db::RowWriter writer(context.m_pConn, target, columns);
  std::vector<db::Value> values(columns.size());
  for (std::size_t unit : order) {
    values[0] = texts.ValueOf(sums.units[unit].first);
    values[1] = texts.ValueOf(sums.units[unit].second);
    const double* figures = sums.sums.data() + unit * sums.width;
    for (std::size_t i = 0; i < sums.width; ++i) values[2 + i] = rounded(figures[i]);
    writer.Add(values);
  }
  writer.Close();
}

// The summary's level rows from the copy the run holds of `unit`, summed in
// memory: one pass over the copy a level.
short SumSummary(CMgStatContext& context, const MgSummary& summary, short unit,
                 const std::string& target) {
  const std::vector<std::string> codes = SummaryCodes(context, summary.kind, summary.rural);
  const std::vector<std::string> firsts = SummaryCodes(context, 1, summary.rural);
  if (codes.empty() || (summary.rural && firsts.empty())) {
    // No class to sum: the table would have no column.
    context.LogNotice(target, "没有可汇总的地类, 未汇总");
    return 1;
  }
  std::vector<std::string> columns = {"XZQDM", "XZQMC", "XZQZMJ"};
  for (const std::string& code : codes) columns.push_back("BM" + code);
  // Sums of figures on the copy's grid are stored on it.
  int decimals = -1;
  for (const CMgStatContext::UnitSlot& slot : context.ConfiguredUnits()) {
    if (slot.unit == unit) decimals = slot.decimals;
  }
  const std::size_t levels = context.m_nLevelSwitch ? std::size(kLevels) : std::size(kLevels) - 1;
  short result = 1;
  const auto failed = [&](std::size_t level, const db::DbError& error) {
    context.LogFailure(LevelTitle(level, summary.kind), kLevels[level].message, error);
    result = 0;
  };
  const mg::MgCopy* copy = nullptr;
  std::vector<int> places, first_places;
  int total = -1;
  try {
    copy = &context.HeldCopy(unit);
    const auto place = [&](const std::string& column) {
      const int at = copy->Column(column);
      if (at < 0) throw db::DbError(context.UnitCopyTable(unit) + " 没有列 " + column);
      return at;
    };
    for (std::size_t i = 3; i < columns.size(); ++i) places.push_back(place(columns[i]));
    for (const std::string& code : firsts) first_places.push_back(place("BM" + code));
    total = place("土地总面积");
  } catch (const db::DbError& error) {
    for (std::size_t level = 0; level < levels; ++level) failed(level, error);
    return result;
  }
  for (std::size_t level = 0; level < levels; ++level) {
    const std::size_t code_place = KeyPlace(kLevels[level].code);
    const std::size_t name_place = KeyPlace(kLevels[level].name);
    LevelSums sums(columns.size() - 2);
    for (std::size_t row = 0; row < copy->Rows(); ++row) {
      const mg::MgKey& key = copy->keys[row];
      // Only the ownership units of this county, ten characters below it.
      if (level == 4 &&
          (key[code_place] == mg::MgTexts::kNull ||
           !OwnUnitOfCounty(context.Texts().Text(key[code_place]), context.m_strPrefix2))) {
        continue;
      }
      double* figures = sums.Of(key[code_place], key[name_place]);
      const double* values = copy->Row(row);
      // The rural total is the sum of its own first-level classes, so the
      // classes 05 to 09 count nowhere in it.
      double row_total = values[total];
      if (summary.rural) {
        row_total = 0;
        for (int at : first_places) row_total += values[at];
      }
      figures[0] += row_total;
      for (std::size_t i = 0; i < places.size(); ++i) figures[1 + i] += values[places[i]];
    }
    try {
      WriteLevel(context, target, columns, sums, decimals);
    } catch (const db::DbError& error) {
      failed(level, error);
    }
  }
  return result;
}

short FillSummaries(CMgStatContext& context, const MgSummary& summary) {
  if (!InScope(context)) return 1;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!context.Wants(unit)) continue;
    SumSummary(context, summary, unit, context.SummaryTable(unit, summary.base));
  }
  return 1;
}

}  // namespace

short CMgStatContext::CreateTdlyYjflTables() {
  return CreateSummaryTables(*this, kYjfl, &CMgStatContext::CreateTdlyYjflTable);
}
short CMgStatContext::CreateTdlyYjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kYjfl, table);
}
short CMgStatContext::CreateTdlyEjflTables() {
  return CreateSummaryTables(*this, kEjfl, &CMgStatContext::CreateTdlyEjflTable);
}
short CMgStatContext::CreateTdlyEjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kEjfl, table);
}
short CMgStatContext::CreateNcTdlyYjflTables() {
  return CreateSummaryTables(*this, kNcYjfl, &CMgStatContext::CreateNcTdlyYjflTable);
}
short CMgStatContext::CreateNcTdlyYjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kNcYjfl, table);
}
short CMgStatContext::CreateNcTdlyEjflTables() {
  return CreateSummaryTables(*this, kNcEjfl, &CMgStatContext::CreateNcTdlyEjflTable);
}
short CMgStatContext::CreateNcTdlyEjflTable(const std::string& table) {
  return CreateSummaryTable(*this, kNcEjfl, table);
}

short CMgStatContext::StatTdlyClass(short kind) {
  return FillSummaries(*this, kind == 1 ? kYjfl : kEjfl);
}
short CMgStatContext::StatNcTdlyClass(short kind) {
  return FillSummaries(*this, kind == 1 ? kNcYjfl : kNcEjfl);
}
short CMgStatContext::SumTdlyClass(short kind, short unit, const std::string& target) {
  return SumSummary(*this, kind == 1 ? kYjfl : kEjfl, unit, target);
}
short CMgStatContext::SumNcTdlyClass(short kind, short unit, const std::string& target) {
  return SumSummary(*this, kind == 1 ? kNcYjfl : kNcEjfl, unit, target);
}

}  // namespace landstat
