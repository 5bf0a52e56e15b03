// The ownership-nature summaries NCTDLY_QSYJFL and TDLY_QSYJFL: each
// first-level class split into state-owned (G) and collective (J) land, per
// administrative unit.

#include <fmt/printf.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "engine/coded_rows.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

struct LevelColumns {
  const char* code;
  const char* name;
  int length;
};

// By level 1 (unit) to 6 (province): the location columns and the code
// length of the ownership prefix.
const LevelColumns kLevels[7] = {{"", "", 0},
                                 {"座落单位代码", "座落单位名称", 19},
                                 {"村级代码", "村名称", 12},
                                 {"乡级代码", "乡名称", 9},
                                 {"县级代码", "县名称", 6},
                                 {"市级代码", "市名称", 4},
                                 {"省级代码", "省名称", 2}};

}  // namespace

std::string CStatContext::OwnershipQuery(short level, bool rural, const std::string& source,
                                         short scope) const {
  if (level < 1 || level > 6) return {};
  std::string fields;
  for (const std::string& code : m_arrClass1Codes) {
    if (rural && !IsRuralClassCode(code)) continue;
    fields += (fields.empty() ? "" : ",") + fmt::format("SUM(BM{0}) AS BM{0}", code);
  }
  fields += " ";
  const LevelColumns& columns = kLevels[level];
  if (scope == 0) {
    const std::string where =
        level == 1 ? fmt::sprintf(" WHERE 座落单位代码 like %s", GroupCodesLike()) : "";
    return fmt::sprintf("SELECT %s,%s,权属性质,%s FROM %s%s GROUP BY %s,%s,权属性质 ORDER BY %s,%s",
                        columns.code, columns.name, fields, source, where, columns.code,
                        columns.name, columns.code, columns.name);
  }
  if (level == 1) {
    return fmt::sprintf(
        "SELECT 权属单位代码,权属性质,%s FROM %s WHERE 权属单位代码 like %s GROUP "
        "BY 权属单位代码,权属性质 ORDER BY 权属单位代码",
        fields, source, GroupCodesLike());
  }
  const std::string prefix = m_bOracle ? fmt::format("substr(权属单位代码,0,{})", columns.length)
                                       : fmt::format("left(权属单位代码,{})", columns.length);
  return fmt::sprintf("SELECT %s as %s,权属性质,%s FROM %s GROUP BY %s,权属性质 ORDER BY %s",
                      prefix, columns.code, fields, source, prefix, prefix);
}

namespace {

// The codes written: rural tables leave out 05 to 09, the others 20.
std::vector<std::string> WrittenCodes(const std::vector<std::string>& codes, bool rural) {
  std::vector<std::string> written;
  for (const std::string& code : codes) {
    if (rural ? IsRuralClassCode(code) : code != "20") written.push_back(code);
  }
  return written;
}

// Adds one group of a level (a unit's code and name, an ownership nature,
// its class sums in the order of `written`) to the rows: the unit's first group starts its
// row. A nature below "3" (or none) is state-owned land, the others
// collective.
void AddOwnershipGroup(std::vector<CodedRow>& rows, const std::vector<std::string>& written,
                       const std::string& code, const std::string& name,
                       const std::optional<std::string>& nature,
                       const std::function<double(std::size_t)>& area_of) {
  if (rows.empty() || rows.back().code != code) rows.push_back({code, name, {}});
  const char* side = nature.value_or("0") < "3" ? "G" : "J";
  auto& areas = rows.back().areas;
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::string& c = written[i];
    const double area = area_of(i);
    areas["BM" + c + side] += area;
    areas["BM" + c + "HJ"] += area;
    areas[std::string(side) + "HJ"] += area;
    areas["ZHJ"] += area;
  }
}

// What a level groups by (the unit's code, its name by location, the
// ownership nature) and which rows it reads, as OwnershipQuery's statement
// on the embedded engine.
db::GroupedSumsQuery OwnershipGrouping(const std::string& source, short level, short scope,
                                       const std::string& group_codes,
                                       const std::vector<std::string>& sums) {
  db::GroupedSumsQuery query{source, {}, {}, sums, -1};
  const LevelColumns& columns = kLevels[level];
  if (scope == 0) {
    query.keys = {columns.code, columns.name};
    if (level == 1) query.filter = std::string(columns.code) + " like " + group_codes;
  } else if (level == 1) {
    query.keys = {"权属单位代码"};
    query.filter = "权属单位代码 like " + group_codes;
  } else {
    query.keys = {fmt::format("left(权属单位代码,{})", columns.length)};
  }
  query.keys.push_back("权属性质");
  return query;
}

// The levels summed by both fills, county first.
constexpr short kOwnershipLevels[] = {4, 3, 2, 1};

using OwnershipLevels = std::map<std::pair<short, short>, std::unique_ptr<db::GroupedSums>>;

// The scopes a run's tables are made for.
std::vector<short> WantedScopes(const CStatContext& context) {
  std::vector<short> scopes;
  for (short scope : {short{0}, short{1}}) {
    if (context.m_nStatScope == 2 || context.m_nStatScope == scope) scopes.push_back(scope);
  }
  return scopes;
}

// The groupings of every level of `scopes` of `source`, by scope and
// level, read in one scan; none after a noticed failure.
OwnershipLevels ReadOwnershipLevels(CStatContext& context, const std::string& source,
                                    const std::vector<std::string>& sums,
                                    const std::vector<short>& scopes) {
  std::vector<std::pair<short, short>> read;
  std::vector<db::GroupedSumsQuery> queries;
  for (short scope : scopes) {
    for (short level : kOwnershipLevels) {
      read.emplace_back(scope, level);
      queries.push_back(OwnershipGrouping(source, level, scope, context.GroupCodesLike(), sums));
    }
  }
  OwnershipLevels levels;
  try {
    std::vector<std::unique_ptr<db::GroupedSums>> groupings =
        db::GroupedSums::ReadInOneScan(context.m_pConn, queries);
    for (std::size_t i = 0; i < read.size(); ++i) levels[read[i]] = std::move(groupings[i]);
  } catch (const db::DbError& error) {
    // Each level is then summed by its statement, which logs its failure.
    context.LogNotice("汇总 " + source,
                      std::string("按级汇总未能在内存中完成, 逐级汇总 (") + error.what() + ")");
    levels.clear();
  }
  return levels;
}

// One insert a unit: a unit whose row cannot be stored gets nothing at all.
short WriteOwnershipRows(CStatContext& context, const std::string& target,
                         const std::vector<CodedRow>& rows, int decimals) {
  return WriteCodedRows(context, target, rows,
                        {.decimals = decimals, .names = true, .first_id = {}}, "权属汇总",
                        "保存数据失败");
}

// The rows of a level grouped in memory, as SumTdlyQsYjfl makes them from
// the level's statement.
std::vector<CodedRow> HeldOwnershipRows(const db::GroupedSums& level, short scope,
                                        const std::vector<std::string>& written) {
  std::vector<CodedRow> rows;
  level.VisitRows(level.Columns(), true, {}, [&](std::vector<db::Value>& row) {
    // The keys, then the sums in the order of `written`.
    const std::size_t first_sum = scope == 0 ? 3 : 2;
    const db::Value& nature = row[first_sum - 1];
    AddOwnershipGroup(rows, written, row[0].AsText(), scope == 0 ? row[1].AsText() : "",
                      nature.IsNull() ? std::nullopt : std::optional(nature.AsText()),
                      [&](std::size_t i) { return row[first_sum + i].AsDouble(); });
  });
  return rows;
}

// The summed columns of the classes written.
std::vector<std::string> SummedClasses(const std::vector<std::string>& written) {
  std::vector<std::string> sums;
  for (const std::string& code : written) sums.push_back("BM" + code);
  return sums;
}

}  // namespace

short CStatContext::SumTdlyQsYjfl(short level, int rural, const std::string& target,
                                  const std::string& source, short scope, int decimals) {
  const std::vector<std::string> written = WrittenCodes(m_arrClass1Codes, rural != 0);
  std::vector<CodedRow> rows;
  try {
    db::Recordset groups(m_pConn, OwnershipQuery(level, rural != 0, source, scope));
    const char* code_column =
        level == 1 ? (scope == 0 ? "座落单位代码" : "权属单位代码") : kLevels[level].code;
    for (; !groups.IsEOF(); groups.MoveNext()) {
      const std::optional<std::string> nature =
          groups.IsNull("权属性质") ? std::nullopt : std::optional(groups.Text("权属性质"));
      AddOwnershipGroup(rows, written, groups.Text(code_column),
                        scope == 0 ? groups.Text(kLevels[level].name) : "", nature,
                        [&](std::size_t i) { return groups.Number("BM" + written[i]); });
    }
  } catch (const db::DbError& error) {
    LogFailure("权属汇总", "选择数据失败", error);
    return 0;
  }
  return WriteOwnershipRows(*this, target, rows, decimals);
}

short CStatContext::FillOwnershipTables(const std::string& base, int rural,
                                        const std::string& copy_base) {
  // On the embedded engine every level of the wanted scopes of a unit is
  // grouped in memory from one read of its summed copy (the engine would
  // sort it for each level and scope), each group summed in the order of
  // the rows as the level statement sums it, and its groups taken in the
  // statement's order: the same figures, to the bit.
  const bool in_memory = m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  const std::vector<std::string> written = WrittenCodes(m_arrClass1Codes, rural != 0);
  // By unit: the groupings of each scope read (by scope, then level).
  std::map<short, OwnershipLevels> grouped;
  ForEachSummaryTable(base, [&](const std::string& target, short scope, short unit) {
    const std::string source = SummarySource(unit, copy_base);
    if (in_memory && !grouped.count(unit)) {
      grouped[unit] =
          ReadOwnershipLevels(*this, source, SummedClasses(written), WantedScopes(*this));
    }
    const OwnershipLevels& levels = grouped[unit];  // none unless read in memory
    for (short level : kOwnershipLevels) {
      const auto held = levels.find({scope, level});
      if (held == levels.end()) {
        SumTdlyQsYjfl(level, rural, target, source, scope, DecimalsOf(unit));
        continue;
      }
      WriteOwnershipRows(*this, target, HeldOwnershipRows(*held->second, scope, written),
                         DecimalsOf(unit));
    }
    if (scope != 0) FillXzqNames(target, "XZQDM", "XZQMC");
  });
  return 1;
}

short CStatContext::StatTdlyQsYjfl(int rural) {
  return FillOwnershipTables(rural ? "NCTDLY_QSYJFL" : "TDLY_QSYJFL", rural, "statdata");
}

short CStatContext::SumTdlyQsYjflConverted(int rural) {
  // On the embedded engine the levels are grouped in memory from one read
  // of the extension table's sums, as FillOwnershipTables groups a run's.
  const bool in_memory = m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  const std::vector<std::string> written = WrittenCodes(m_arrClass1Codes, rural != 0);
  const std::string target = m_names.Plain(rural ? "NCTDLY_QSYJFL" : "TDLY_QSYJFL");
  const std::string source = ConvertedSource(ConvertedSums::kLevels, "statdataex");
  const OwnershipLevels levels =
      in_memory ? ReadOwnershipLevels(*this, source, SummedClasses(written), {0})
                : OwnershipLevels();
  for (short level : kOwnershipLevels) {
    if (level == 1 && !m_bGroupLevel) break;
    const auto held = levels.find({0, level});
    const short done =
        held == levels.end()
            ? SumTdlyQsYjfl(level, rural, target, source, 0)
            : WriteOwnershipRows(*this, target, HeldOwnershipRows(*held->second, 0, written), -1);
    if (done == 0) return 0;
  }
  return 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> OwnershipFamilies() {
  return {
      {.base = "NCTDLY_QSYJFL",
       .stage = 600,
       .builds = Rural,
       .create = [](C& c) { return c.CreateNcTdlyQsYjflTables(); },
       .fill = [](C& c) { c.StatTdlyQsYjfl(1); },
       .progress = "正在汇总权属数据",
       .conversion = LevelConversion(
           50, "正在转换权属数据", true, [](C& c) { return c.CreateNcTdlyQsYjflConvertedTable(); },
           [](C& c) { return c.SumTdlyQsYjflConverted(1); }, SummaryShape::kOwnershipLevels)},
      {.base = "TDLY_QSYJFL",
       .stage = 1030,
       .builds = Town,
       .create = [](C& c) { return c.CreateTdlyQsYjflTables(); },
       .fill = [](C& c) { c.StatTdlyQsYjfl(0); },
       .conversion = LevelConversion(
           60, "正在转换权属数据", true, [](C& c) { return c.CreateTdlyQsYjflConvertedTable(); },
           [](C& c) { return c.SumTdlyQsYjflConverted(0); }, SummaryShape::kOwnershipLevels)},
  };
}

}  // namespace landstat::landuse
