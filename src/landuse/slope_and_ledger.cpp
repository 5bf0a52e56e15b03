// The cultivated-land slope summary GDPDMJHZ and the land-use ledger TDLYTZ.

#include <fmt/printf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "engine/coded_rows.h"
#include "engine/slope_grades.h"
#include "engine/stat_context.h"
#include "landuse/land_use_families.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// Adds one group of a slope query (a unit's code and, by location, its
// name; a slope grade and a land type; the summed area) to the rows. The
// groups come ordered by code, so the groups of one unit come together;
// an area below 0.001 books nothing.
void AddSlopeGroup(std::vector<CodedRow>& rows, const std::string& code, const std::string& name,
                   const std::string& grade_text, const std::string& type, double area) {
  if (std::fabs(area) < 0.001) return;
  if (rows.empty() || rows.back().code != code) rows.push_back({code, name, {}});
  const int grade = SlopeGradeOf(grade_text);
  auto& areas = rows.back().areas;
  if (grade < 2) {
    areas["PDMJ"] += area;
  } else {
    const std::string g = std::to_string(grade);
    areas[(IsTerracedType(type) ? "TT" : "PD") + g] += area;
    areas["HJ" + g] += area;
  }
  areas["GDMJ"] += area;
}

// Writes the accumulated rows into `target`, rounded to `decimals` (below
// 0: as summed), named by location only; `numbered` rows take ids after
// those the table holds.
short WriteSlopeRows(CStatContext& context, const std::vector<CodedRow>& rows,
                     const std::string& target, short scope, bool numbered, int decimals) {
  const char* const title = "汇总耕地坡度";
  const std::string failure = target + " 保存数据失败";
  CodedRowsForm form{.decimals = decimals, .names = scope == 0, .first_id = {}};
  try {
    if (numbered) {
      form.first_id = static_cast<long>(
          context.m_pConn.Scalar("SELECT count(*) AS TT FROM " + target).AsInteger());
    }
  } catch (const db::DbError& error) {
    context.LogFailure(title, failure, error);
    return 0;
  }
  return WriteCodedRows(context, target, rows, form, title, failure);
}

// The columns of a read of the slope sums that give every level of both
// scopes its groups: by location the level's code and name (county to
// unit) and whether the unit is one of the county's group units; by owner
// the owner's code cut to the level and whether the owner is a group unit;
// then the slope grade, the land type and the area.
enum SlopeColumn {
  kCountyCode,
  kCountyName,
  kTownshipCode,
  kTownshipName,
  kVillageCode,
  kVillageName,
  kUnitCode,
  kUnitName,
  kUnitInGroup,
  kOwnerVillage,
  kOwnerTownship,
  kOwnerCounty,
  kOwnerCode,
  kOwnerInGroup,
  kGrade,
  kType,
  kSlopeArea,
  kSlopeColumns
};

// The statement reading the slope sums `source` in the columns above, in
// the order they are stored. `group_codes`: the quoted LIKE pattern of the
// county's group codes.
std::string SlopeSumsQuery(const std::string& source, const std::string& group_codes) {
  return "select 县级代码,县名称,乡级代码,乡名称,村级代码,村名称,座落单位代码,座落单位名称,"
         "座落单位代码 like " +
         group_codes +
         ",left(权属单位代码,12),left(权属单位代码,9),left(权属单位代码,6),权属单位代码,"
         "权属单位代码 like " +
         group_codes + ",耕地坡度级,耕地类型,BM01 from " + source;
}

// A row of the slope sums: its texts (NULL read as empty, marked in
// `nulls`) and its area.
struct SlopeSum {
  std::array<std::string, kSlopeArea> texts;
  unsigned nulls = 0;  // bit i: column i is NULL
  double area = 0;
};

std::vector<SlopeSum> ReadSlopeSums(db::RowSource& source) {
  std::vector<SlopeSum> sums;
  while (source.Next()) {
    SlopeSum& sum = sums.emplace_back();
    sum.nulls = db::ReadTexts(source, sum.texts);
    sum.area = source.Number(kSlopeArea);
  }
  return sums;
}

// What a level of a scope groups by: the code, the name (or -1), the
// column a row must hold true to count (or -1).
struct SlopeLevel {
  int code, name, only;
};

SlopeLevel SlopeLevelOf(short level, short scope) {
  static const SlopeLevel kByLocation[] = {{kUnitCode, kUnitName, kUnitInGroup},
                                           {kVillageCode, kVillageName, -1},
                                           {kTownshipCode, kTownshipName, -1},
                                           {kCountyCode, kCountyName, -1}};
  static const SlopeLevel kByOwner[] = {{kOwnerCode, -1, kOwnerInGroup},
                                        {kOwnerVillage, -1, -1},
                                        {kOwnerTownship, -1, -1},
                                        {kOwnerCounty, -1, -1}};
  return (scope == 0 ? kByLocation : kByOwner)[level - 1];
}

// A text of a row of the slope sums as a grouping key.
db::Value SlopeKey(const SlopeSum& sum, int column) {
  return column < 0 || (sum.nulls >> column & 1u) ? db::Value() : db::Value(sum.texts[column]);
}

// The slope table's rows of a level, from the slope sums as the level's
// grouping statement gives them: rows of equal code, name, grade and type
// (NULL apart from empty) summed in the order read, the groups in the order
// of those texts (NULL first, then bytes).
std::vector<CodedRow> SlopeLevelRows(const std::vector<SlopeSum>& sums, short level, short scope) {
  const SlopeLevel by = SlopeLevelOf(level, scope);
  db::GroupedSumsQuery query;
  query.table = "slope sums";
  query.keys = {"code", "name", "grade", "type"};
  query.sums = {"area"};
  db::GroupedSums groups(query);
  std::vector<db::Value> row(5);
  for (const SlopeSum& sum : sums) {
    if (by.only >= 0 && sum.texts[by.only] != "1") continue;  // LIKE gives 1, 0 or NULL
    row = {SlopeKey(sum, by.code), SlopeKey(sum, by.name), SlopeKey(sum, kGrade),
           SlopeKey(sum, kType), db::Value(sum.area)};
    groups.Add(row);
  }
  std::vector<CodedRow> rows;
  groups.VisitRows(groups.Columns(), true, {}, [&rows](std::vector<db::Value>& group) {
    AddSlopeGroup(rows, group[0].AsText(), group[1].AsText(), group[2].AsText(), group[3].AsText(),
                  group[4].IsNull() ? 0.0 : group[4].AsDouble());
  });
  return rows;
}

// `group_codes`: the quoted LIKE pattern of the county's group codes.
std::string SlopeQuery(short level, short scope, bool oracle, const std::string& source,
                       const std::string& group_codes) {
  static const char* const kZColumns[] = {"", "座落单位代码,座落单位名称", "村级代码,村名称",
                                          "乡级代码,乡名称", "县级代码,县名称"};
  static const int kLengths[] = {0, 19, 12, 9, 6};
  static const char* const kNames[] = {"", "", "村级代码", "乡级代码", "县级代码"};
  if (scope == 0) {
    if (level == 1) {
      return fmt::sprintf(
          "select 座落单位代码,座落单位名称,耕地坡度级,耕地类型,SUM(BM01) AS BM01 FROM %s where "
          "座落单位代码 like %s GROUP BY "
          "座落单位代码,座落单位名称,耕地坡度级,耕地类型",
          source, group_codes);
    }
    return fmt::sprintf(
        "select %s,耕地坡度级,耕地类型,SUM(BM01) AS BM01 FROM %s  GROUP BY %s,耕地坡度级,耕地类型",
        kZColumns[level], source, kZColumns[level]);
  }
  if (level == 1) {
    return fmt::sprintf(
        "select 权属单位代码,耕地坡度级,耕地类型,SUM(BM01) AS BM01 FROM %s where 权属单位代码 like "
        "%s GROUP BY 权属单位代码,耕地坡度级,耕地类型",
        source, group_codes);
  }
  const std::string prefix = oracle ? fmt::format("substr(权属单位代码,0,{})", kLengths[level])
                                    : fmt::format("left(权属单位代码,{})", kLengths[level]);
  return fmt::sprintf(
      "select %s as %s,耕地坡度级,耕地类型,SUM(BM01) AS BM01 FROM %s  GROUP BY "
      "%s,耕地坡度级,耕地类型",
      prefix, kNames[level], source, prefix);
}

// The ledger's grouping query over the base table `source` as a server
// runs it, and the ledger's columns it gives.
struct LedgerQuery {
  std::vector<std::string> columns;
  std::string select;
};

LedgerQuery LedgerGroupingQuery(const std::vector<std::string>& class_codes,
                                const std::string& source) {
  LedgerQuery ledger;
  ledger.columns = {"图斑编号",     "座落单位代码", "座落单位名称", "权属单位代码",
                    "权属单位名称", "权属性质",     "土地总面积"};
  std::string sums;
  for (std::size_t i = 0; i < class_codes.size(); ++i) {
    sums += std::string(i ? "," : "") + "SUM(BM" + class_codes[i] + ") ";
    ledger.columns.push_back("BM" + class_codes[i]);
  }
  // Grouped in the order the rows are stored (location, parcel, nature,
  // then owner), so one sort serves both the grouping and the order instead
  // of a second sort of every summed row. The groups are the same as by
  // location and owner first, and rows of one location, parcel and nature
  // come in owner order, as they did when the sort by the first four kept
  // the grouping's order.
  ledger.select =
      "SELECT 图斑编号,座落单位代码,座落单位名称,权属单位代码,权属单位名称,权属性质,"
      "SUM(土地总面积), " +
      sums + " FROM " + source +
      " GROUP BY 座落单位代码,座落单位名称,图斑编号,权属性质,权属单位代码,权属单位名称 order by "
      "座落单位代码,座落单位名称,图斑编号,权属性质,权属单位代码,权属单位名称";
  return ledger;
}

}  // namespace

short CStatContext::StatGdPdMjHz() {
  // The tables of each unit, by scope: both are made from the same slope
  // sums, read once for the two where the levels are grouped in memory.
  std::vector<std::pair<short, std::vector<std::pair<std::string, short>>>> units;
  ForEachSummaryTable("GDPDMJHZ", [&](const std::string& target, short scope, short unit) {
    auto tables = std::find_if(units.begin(), units.end(),
                               [unit](const auto& of_unit) { return of_unit.first == unit; });
    if (tables == units.end()) tables = units.insert(units.end(), {unit, {}});
    tables->second.emplace_back(target, scope);
  });
  for (const auto& [unit, targets] : units) {
    const std::string copy = m_names.UnitCopy(unit, "statdata");
    const std::string source = SlopeSource(copy);
    if (source == copy || !SumGdPdMjHzLevels(targets, source, DecimalsOf(unit))) {
      for (const auto& [target, scope] : targets) {
        for (short level : {short{4}, short{3}, short{2}, short{1}}) {
          SumGdPdMjHz(level, target, source, scope, DecimalsOf(unit));
        }
      }
    }
    for (const auto& [target, scope] : targets) {
      if (scope != 0) FillXzqNames(target, "XZQDM", "XZQMC");
    }
  }
  return 1;
}

bool CStatContext::SumGdPdMjHzLevels(const std::vector<std::pair<std::string, short>>& targets,
                                     const std::string& sums_table, int decimals) {
  // On the embedded engine the small table of slope sums is read once and
  // every level grouped from it in memory, as each level's statement would
  // group it, instead of a grouping statement per level. A server groups
  // by hashing, in no order of its own: there the statements run.
  if (m_pConn.Kind() != db::DbKind::kEmbedded) return false;
  std::vector<SlopeSum> sums;
  try {
    const std::unique_ptr<db::RowSource> source =
        m_pConn.Scan(SlopeSumsQuery(sums_table, GroupCodesLike()));
    sums = ReadSlopeSums(*source);
  } catch (const db::DbError& error) {
    host::yDebugStr(sums_table +
                    " could not be read at once, each level is grouped by itself: " + error.what());
    return false;
  }
  for (const auto& [target, scope] : targets) {
    for (short level : {short{4}, short{3}, short{2}, short{1}}) {
      WriteSlopeRows(*this, SlopeLevelRows(sums, level, scope), target, scope, false, decimals);
    }
  }
  return true;
}

std::string CStatContext::SlopeSource(const std::string& copy) {
  // Every level of both scopes groups the cultivated land of a copy by its
  // level or unit codes, slope grade and land type: the copy's cultivated
  // rows summed once by all of these give the same groups and sums from a
  // small table, instead of a scan of the whole copy per level and scope.
  // The copies of every wanted unit are summed together, as their level
  // sums are.
  if (m_bOracle) return copy;  // its statements are text only
  std::vector<std::string> copies;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (WantsSummaryUnit(unit)) copies.push_back(m_names.UnitCopy(unit, "statdata"));
  }
  if (std::find(copies.begin(), copies.end(), copy) == copies.end()) copies = {copy};
  std::vector<SummedRequest> requests;
  for (const std::string& table : copies) requests.push_back(SlopeSums(table));
  PrepareSummedTables(requests);
  return PreparedOr(copy + "#slope", copy);
}

CStatContext::SummedRequest CStatContext::SlopeSums(const std::string& copy) const {
  SummedRequest request{
      copy + "#slope", "landstat_slope_" + copy, {}, "耕地坡度的临时表未能建立, 直接读取"};
  request.query.table = copy;
  request.nonzero = "BM01";
  request.query.filter = request.nonzero + "<>0";
  request.query.keys = {"县级代码",     "县名称",     "乡级代码",     "乡名称",
                        "村级代码",     "村名称",     "座落单位代码", "座落单位名称",
                        "权属单位代码", "耕地坡度级", "耕地类型"};
  request.query.sums = {"BM01"};
  return request;
}

short CStatContext::AccumulateSlope(const std::string& query, const std::string& target,
                                    short scope, bool numbered, const char* title, int decimals) {
  std::vector<CodedRow> rows;
  try {
    // Ordered by code, so the groups of one unit come together.
    db::Recordset groups(m_pConn, query + " ORDER BY 1");
    for (; !groups.IsEOF(); groups.MoveNext()) {
      const double area = groups.Number("BM01");
      if (std::fabs(area) < 0.001) continue;
      AddSlopeGroup(rows, groups.Field(0).AsText(),
                    scope == 0 ? groups.Field(1).AsText() : std::string(),
                    groups.Text("耕地坡度级"), groups.Text("耕地类型"), area);
    }
  } catch (const db::DbError& error) {
    LogFailure(title, "选择数据失败", error);
    return 0;
  }
  return WriteSlopeRows(*this, rows, target, scope, numbered, decimals);
}

short CStatContext::SumGdPdMjHz(short level, const std::string& target, const std::string& source,
                                short scope, int decimals) {
  return AccumulateSlope(SlopeQuery(level, scope, m_bOracle, source, GroupCodesLike()), target,
                         scope, m_bOracle, "耕地坡度", decimals);
}

short CStatContext::SumGdPdMjHzConvertedLevel(short level) {
  // The levels read the converted base table summed once, as the run's do.
  return AccumulateSlope(
      SlopeQuery(level, 0, false, ConvertedSource(ConvertedSums::kSlope, "statdataex"),
                 GroupCodesLike()),
      m_names.Plain("GDPDMJHZ"), 0, false, "权属汇总");
}

short CStatContext::SumGdPdMjHzConverted() {
  for (short level : {short{4}, short{3}, short{2}}) {
    if (SumGdPdMjHzConvertedLevel(level) == 0) return 0;
  }
  return m_bGroupLevel ? SumGdPdMjHzConvertedLevel(1) : 1;
}

short CStatContext::StatTdlyTz() {
  const std::string base = "TDLYTZ";
  // The ledger is summed once, in the base table's unit; the ledger of
  // every other unit is made from those sums, each figure converted and
  // rounded once, exactly as a conversion of its own sums would.
  const std::string summed = m_names.Summary('Z', m_nUnitSrc, base);
  if (WantsSummaryUnit(m_nUnitSrc) && m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle) {
    WriteTdlyTzLedgers(summed);
    return CompactDatabase() > 0 ? 1 : 0;
  }
  const bool derive = WantsSummaryUnit(m_nUnitSrc) && SumTdlyTz(summed) > 0;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    // The source unit's ledger was summed (and its failure logged) above.
    if (!WantsSummaryUnit(unit) || unit == m_nUnitSrc) continue;
    const std::string target = m_names.Summary('Z', unit, base);
    if (derive) {
      if (CopyConvertedAreas(m_pConn, summed, target, unit, m_nUnitSrc, DecimalsOf(unit)) == 0) {
        LogFailure("汇总台帐", target + " 汇总台帐失败");
      }
      continue;
    }
    // Without the source unit's ledger: summed and converted on its own.
    if (SumTdlyTz(target) > 0 &&
        ConvertAreaUnit(m_pConn, target, unit, m_nUnitSrc, 0, DecimalsOf(unit)) == 0) {
      LogFailure("汇总台帐", target + " 面积单位转换失败");
    }
  }
  return CompactDatabase() > 0 ? 1 : 0;
}

namespace {

// The ledger's grouping: a row per location, parcel, ownership nature and
// owner, stored in that order (location, parcel, nature, then owner) for
// the ledger report; and the columns it writes.
struct LedgerGrouping {
  db::GroupedSumsQuery query;
  std::vector<db::GroupedSums::Column> columns;
};

// `decimals`: those of the source's unit, to which the sums are rounded.
LedgerGrouping Ledger(const std::string& source, const std::vector<std::string>& class_codes,
                      int decimals) {
  LedgerGrouping ledger;
  ledger.query.table = source;
  ledger.query.decimals = decimals;
  ledger.query.keys = {"座落单位代码", "座落单位名称", "图斑编号",
                       "权属性质",     "权属单位代码", "权属单位名称"};
  ledger.query.sums = {"土地总面积"};
  for (const std::string& code : class_codes) ledger.query.sums.push_back("BM" + code);
  for (const char* key :
       {"图斑编号", "座落单位代码", "座落单位名称", "权属单位代码", "权属单位名称", "权属性质"}) {
    ledger.columns.push_back({key, {}});
  }
  for (const std::string& sum : ledger.query.sums) ledger.columns.push_back({sum, {}});
  return ledger;
}

}  // namespace

short CStatContext::WriteTdlyTzLedgers(const std::string& summed) {
  // The embedded engine would sort every row of the base table to group
  // them: they are summed in one pass in memory, and every unit's ledger
  // is written from those sums at the same time, the source unit's on the
  // database and each other unit's, converted, by a thread of its own. Each
  // ledger's rows are stored on a thread of their own while the next are
  // made and converted.
  try {
    const LedgerGrouping ledger = Ledger(m_strStatTbl, m_arrClassCodes, DecimalsOf(m_nUnitSrc));
    const auto sums = std::move(db::GroupedSums::ReadAll(m_pConn, {ledger.query}).front());
    std::vector<db::TableFill> fills;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      if (!WantsSummaryUnit(unit) || unit == m_nUnitSrc) continue;
      const std::string target = m_names.Summary('Z', unit, "TDLYTZ");
      fills.push_back(
          {target, [&, unit, target](db::Connection& writer) {
             std::mutex writer_lock;
             const units::AreaConversion convert =
                 units::EngineRoundedConversion(writer, writer_lock, FactorText(m_nUnitSrc, unit),
                                                UnitFactor(m_nUnitSrc, unit), DecimalsOf(unit));
             sums->WriteApart(writer, writer_lock, target, ledger.columns, true, convert, {}, {});
           }});
    }
    db::WriteApart(m_pConn, fills, [&] {
      std::mutex connection_lock;
      sums->WriteApart(m_pConn, connection_lock, summed, ledger.columns, true, {}, {}, {});
    });
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总台帐", "汇总台帐失败", error);
    return 0;
  }
}

short CStatContext::SumTdlyTz(const std::string& target) {
  try {
    if (m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle) {
      // Summed in memory, as WriteTdlyTzLedgers sums; a server, and
      // Oracle's text, take the grouping statement.
      const LedgerGrouping ledger = Ledger(m_strStatTbl, m_arrClassCodes, DecimalsOf(m_nUnitSrc));
      db::GroupedSums::ReadAll(m_pConn, {ledger.query})
          .front()
          ->WriteTo(m_pConn, target, ledger.columns, true);
    } else {
      const LedgerQuery query = LedgerGroupingQuery(m_arrClassCodes, m_strStatTbl);
      m_pConn.InsertSelect(target, query.columns,
                           Dialect().RoundSums(query.select, DecimalsOf(m_nUnitSrc)));
    }
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("汇总台帐", "汇总台帐失败", error);
    return 0;
  }
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> LedgerAndSlopeFamilies() {
  const auto create_slope = [](C& c) { return c.CreateGdPdMjHzTables(); };
  const auto fill_slope = [](C& c) { c.StatGdPdMjHz(); };
  return {
      {.base = "TDLYTZ",
       .stage = 300,
       .builds = Rural,
       .create = [](C& c) { return c.CreateTdlyTzTables(); },
       .fill = [](C& c) { c.StatTdlyTz(); },
       .progress = "正在汇总土地利用台帐",
       // It groups the base table itself.
       .reads_unit_copies = false},
      {.base = "GDPDMJHZ",
       .stage = 900,
       .builds = Rural,
       .create = create_slope,
       .fill = fill_slope,
       .progress = "正在汇总耕地坡度数据",
       // Last in the conversion: it has a balancer of its own.
       .conversion = FamilyConversion{
           .order = 90,
           .progress = "正在转换耕地坡度数据",
           .sums = ConvertedSums::kSlope,
           .create = [](C& c) { return c.CreateGdPdMjHzConvertedTable(); },
           .fill = [](C& c) { return c.SumGdPdMjHzConverted(); },
           .balance_progress = "平差耕地坡度...",
           .balance = [](C& c, const std::string&) { return c.BalanceGdPdMjHz(); }}},
      {.base = "GDPDMJHZ",
       .stage = 70,
       .builds = CountyBatch,
       .create = create_slope,
       .fill = fill_slope},
  };
}

}  // namespace landstat::landuse
