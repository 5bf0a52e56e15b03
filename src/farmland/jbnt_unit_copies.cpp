// The farmland base table condensed into one copy per wanted area unit and
// into the ex table, and the target copies converted from the source unit.
// Both are set-based: one INSERT ... SELECT ... GROUP BY per copy and, on
// the embedded engine, one UPDATE per converted copy (a server converts as
// it groups).

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "farmland/farmland_rules.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/sql_text.h"
#include "platform/db/value_row.h"
#include "platform/host/progress.h"
#include "platform/host/row_lock_limit.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "units/converted_copies.h"
#include "units/copy_rows.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The farmland marks: the unit copies keep rows that differ in them apart,
// the ex table merges them.
const std::vector<std::string> kMarkColumns = {"是否补划", "地类备注", "调入备注"};
// The block, the administrative levels, ownership and cultivated-land type.
const std::vector<std::string> kPlaceColumns = {
    "保护片编号",   "省名称",       "省级代码",     "市名称",   "市级代码", "县名称",
    "县级代码",     "乡名称",       "乡级代码",     "村名称",   "村级代码", "座落单位名称",
    "座落单位代码", "权属单位名称", "权属单位代码", "权属性质", "耕地类型"};

constexpr char kCondenseTitle[] = "汇总基本农田基础数据";

// The columns a condensed copy is grouped by.
std::vector<std::string> CondensingKeys(bool keeps_marks) {
  std::vector<std::string> keys = keeps_marks ? kMarkColumns : std::vector<std::string>{};
  keys.insert(keys.end(), kPlaceColumns.begin(), kPlaceColumns.end());
  return keys;
}

using farmland::IsClassColumn;

// An area column converted from the source unit to `unit`, rounded to
// `decimals` through the dialect. `fast`: as run on the embedded engine,
// where 0 stays 0 and the other figures are rounded by round() where it
// gives the same figure as the text form.
std::string ConvertedArea(const CStatContext& context, const std::string& field, short unit,
                          short decimals, bool fast) {
  const short source = context.m_nUnitSrc;
  const std::string factor = FactorText(source, unit);
  return fast ? units::ConvertedAreaSql(context.Dialect(), field, factor, UnitFactor(source, unit),
                                        decimals)
              : context.Dialect().Round(field + factor, decimals);
}

bool IsAreaColumn(const std::string& field) {
  return IsClassColumn(field) || field == "土地总面积";
}

// The target units of a conversion with their decimals, by unit (hectare,
// mu, square metre); target 2 replaces target 1 when both name the same
// unit.
std::array<short, 3> TargetDecimals(const CStatContext& context) {
  std::array<short, 3> decimals = {-1, -1, -1};
  for (const auto& [unit, places] : {std::pair{context.m_nUnit1, context.m_nDec1},
                                     std::pair{context.m_nUnit2, context.m_nDec2}}) {
    if (unit < kHectare || unit > kSquareMetre || unit == context.m_nUnitSrc) continue;
    decimals[unit] = places;
  }
  return decimals;
}

// What tells the four condensing builders apart.
struct Condensation {
  std::string target;
  bool keeps_marks;     // the farmland marks among the group columns
  const char* message;  // the failure's log message
  bool checks_lock_limit;
  // The decimals the sums are stored with. Below 0: as summed (a copy the
  // conversion rounds afterwards).
  int decimals = -1;
  // A target copy's sums converted to this unit and rounded to
  // `converted_decimals` as they are stored, as the conversion's UPDATE
  // would round them. Below 0: stored as summed.
  short converted_unit = -1;
  short converted_decimals = 0;
};

// The grouping of the group columns with "土地总面积" and every class column
// summed: the columns it fills and its query.
struct CondensingQuery {
  std::vector<std::string> columns;
  std::string select;
};

// `stored` gives what is stored of a sum.
CondensingQuery Condensing(const std::string& source, const std::vector<std::string>& groups,
                           const std::vector<std::string>& fields,
                           const std::function<std::string(const std::string&)>& stored) {
  const std::string grouped = db::JoinedColumns(groups);
  CondensingQuery query{groups, "select " + grouped + ", " + stored("sum(土地总面积)")};
  query.columns.push_back("土地总面积");
  for (const std::string& field : fields) {
    if (!IsClassColumn(field)) continue;
    query.columns.push_back(field);
    query.select += "," + stored("SUM(" + field + ")") + " as " + field + " ";
  }
  query.select += " from " + source + " group by " + grouped;
  return query;
}

// The old file engine's lock limit after the square-metre copy is filled:
// a copy of more rows than the limit raises it to ten times the rows and
// 1000 and asks for the restart that puts it into force. 1 when nothing was
// needed or the machine restarts; -1 when the limit stays too low. A failed
// count throws.
short CheckRowLockLimit(CStatContext& context, const std::string& table) {
  const long rows = static_cast<long>(
      context.m_pConn.Scalar("select count(*) as nCount from " + table).AsInteger());
  long limit = 0;
  ReadMaxRow(limit);
  if (rows <= limit) return 1;
  host::RowLockLimit& host = host::CurrentRowLockLimit();
  host::LindoDlgEndProgress();
  if (ModifyMaxRow(10 * rows + 1000) != 1) {
    host.Tell("由于需要调平的行数超过了系统设定的范围，但程序修改注册表失败！", "提示");
  } else if (host.AskRestart()) {
    if (host.RestartMachine()) return 1;
    host.Tell("程序尝试重新启动您的计算机，但是由于系统的原因\r\n失败了，请退出程序，重启电脑！",
              "提示");
  }
  host::LindoDlgProgress("正在......");
  return -1;
}

// The condensation into `target`, the copy in `unit`. The copy in the
// source unit is not converted: it keeps its sums as summed, only their
// binary tails cut, and the converted copies are balanced against its total.
Condensation UnitCopyStep(const CStatContext& context, const std::string& target, short unit) {
  const int decimals = unit == context.m_nUnitSrc ? kSummedDecimals : -1;
  if (unit == kSquareMetre) return {target, true, "statdata_jbntex", true, decimals};
  return {target, true, unit == kHectare ? "statdata_jbnt" : "statdata_jbntex", false, decimals};
}

// The rows of a target copy as units::CopyRows reads them for its
// balancing, kept as the copy is written, with the sums `sums` of them.
class KeptRows {
 public:
  // `names`: the columns of the rows written, in order. Keeps nothing when
  // they lack a column the balancing reads, or its reading would give the
  // rows what the copy's defaults hold (a 序号 with a default).
  KeptRows(CStatContext& context, const std::string& table, const std::vector<std::string>& names,
           short decimals, const std::vector<units::CopySumsRequest>& sums) {
    prefix_ = context.m_strPrefix2;  // the county's codes, as CountyCodesLike() matches them
    if (prefix_.find_first_of("%_") != std::string::npos) return;
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      if (text::IEquals(column.name, "序号") && column.default_text) return;
    }
    const std::vector<std::string> key = context.JbntCopyKey();
    const units::BalanceColumns columns = units::SortClassColumns(context);
    std::vector<std::string> wanted = {"土地总面积", "座落单位代码", "村级代码"};
    wanted.insert(wanted.end(), key.begin(), key.end());
    for (const auto* list : {&columns.leaves, &columns.parents, &columns.extensions}) {
      wanted.insert(wanted.end(), list->begin(), list->end());
    }
    for (const std::string& name : wanted) {
      const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& written) {
        return text::IEquals(written, name);
      });
      if (found == names.end()) return;
      places_.push_back(static_cast<int>(found - names.begin()));
    }
    key_count_ = key.size();
    classes_.resize(columns.Count());
    next_id_ = units::LastRowId(context.m_pConn, table) + 1;
    rows_ = std::make_unique<units::CopyRows>(
        table, columns, decimals,
        units::CopyRows::Scope{"座落单位代码", context.CountyCodesLike(), false, key});
    for (const units::CopySumsRequest& request : sums) {
      try {
        rows_->Sums().emplace_back(request, names);
      } catch (const db::DbError&) {
        // Made by reading the copy when they are wanted.
      }
    }
  }

  // Keeps the next row written.
  void Keep(const std::vector<db::Value>& row) {
    if (!rows_) return;
    const db::ValueRow source(row);
    for (units::FedCopySums& sums : rows_->Sums()) sums.Feed(source);
    const auto number = [&](std::size_t place) {
      const db::Value& value = row[places_[place]];
      return value.IsNull() ? 0.0 : value.AsDouble();
    };
    key_text_.clear();
    for (std::size_t k = 0; k < key_count_; ++k) {
      if (k > 0) key_text_ += '\x1f';
      const db::Value& value = row[places_[kFirstKey + k]];
      units::CopyRows::KeyPart(value.IsNull(), value.TextView(), key_text_);
    }
    units::CopyRows::Facts facts;
    facts.id = next_id_++;
    facts.key = key_text_;
    facts.order = 0;  // 序号 is not written: null, which the reading takes as 0
    facts.location = row[places_[kLocation]].TextView();
    // As LIKE matches the county's codes: ASCII letters in either case.
    facts.in_scope = !row[places_[kLocation]].IsNull() && facts.location.size() >= prefix_.size() &&
                     text::IEquals(facts.location.substr(0, prefix_.size()), prefix_);
    facts.village = row[places_[kVillage]].TextView();
    facts.total = number(kTotal);
    for (std::size_t k = 0; k < classes_.size(); ++k)
      classes_[k] = number(kFirstKey + key_count_ + k);
    rows_->Append(facts, classes_);
  }

  // The rows kept, numbered as the copy numbered them; none when nothing
  // was kept or the copy numbered its rows otherwise.
  std::unique_ptr<units::CopyRows> Take(db::Connection& connection) {
    if (!rows_ || units::LastRowId(connection, rows_->Table()) != next_id_ - 1) return nullptr;
    return std::move(rows_);
  }

 private:
  // Places in places_: the total, location and village, then the key, then
  // the classes.
  enum { kTotal, kLocation, kVillage, kFirstKey };
  std::string prefix_;
  std::vector<int> places_;  // in the rows written
  std::size_t key_count_ = 0;
  std::vector<double> classes_;
  std::int64_t next_id_ = 0;  // the rowid the next row written takes
  std::string key_text_;
  std::unique_ptr<units::CopyRows> rows_;
};

// The rows to keep of the copy being written for its balancing: on the grid
// of `decimals`, with the sums `sums` made of them.
struct KeptCopy {
  short decimals = 0;
  std::vector<units::CopySumsRequest> sums;
};

// The decimals the balancing of the farmland copies gives the copy in
// `unit`: of the first target unit that names it; none when it is not
// balanced.
std::optional<short> BalancedDecimals(const CStatContext& context, short unit) {
  for (const auto& [target, decimals] : {std::pair{context.m_nUnit1, context.m_nDec1},
                                         std::pair{context.m_nUnit2, context.m_nDec2}}) {
    if (target == unit && unit != context.m_nUnitSrc && context.WantsUnit(unit)) return decimals;
  }
  return std::nullopt;
}

// What the copies condensed in memory from one farmland base table share:
// its rows grouped once, and the sums to make of the copy being written
// from the rows written (none: no sums); the rows of the copy to keep for
// its balancing, when any, and where they go.
struct HeldGrouping {
  std::unique_ptr<db::GroupedSums> grouping;
  // The groups as a server made them (db::GroupedSums::ReadGroups), with
  // its sums to the bit: written in the order it gave them, the rows its
  // own grouping statement would have stored, in that order.
  bool server_grouped = false;
  std::vector<units::CopySumsRequest> sums;
  std::optional<KeptCopy> kept;
  std::vector<std::unique_ptr<units::CopyRows>>* filled = nullptr;
};

// Writes the step's copy from the farmland rows grouped in memory, its sums
// rounded to the step's decimals; the sums `held` asks for are made from
// the rows written and kept for the summaries.
void WriteGrouped(CStatContext& context, const Condensation& step, HeldGrouping& held) {
  const db::GroupedSums& grouping = *held.grouping;
  const std::vector<db::GroupedSums::Column> columns = grouping.Columns();
  db::GroupedSums::Conversion rounded;
  if (step.converted_unit >= 0) {
    // As the conversion's UPDATE on the embedded engine would store them
    // (JbntConversionStatements), without writing every row twice.
    const short source = context.m_nUnitSrc;
    rounded =
        units::AreaConversion(FactorText(source, step.converted_unit),
                              UnitFactor(source, step.converted_unit), step.converted_decimals);
  } else if (step.decimals >= 0) {
    rounded = [places = step.decimals](double sum) { return text::RoundDecimal(sum, places); };
  }
  std::vector<std::string> names;
  for (const db::GroupedSums::Column& column : columns) names.push_back(column.name);
  std::vector<std::pair<std::string, std::unique_ptr<db::GroupedSums>>> made;
  for (const units::CopySumsRequest& request : held.sums) {
    try {
      made.emplace_back(request.key, std::make_unique<db::GroupedSums>(request.query, names));
    } catch (const db::DbError&) {
      // The copy lacks a column of these sums: they are made by reading it
      // when they are wanted.
    }
  }
  std::optional<KeptRows> kept;
  if (held.kept && held.filled) {
    kept.emplace(context, step.target, names, held.kept->decimals, held.kept->sums);
  }
  grouping.WriteTo(context.m_pConn, step.target, columns, !held.server_grouped, rounded,
                   [&](std::vector<db::Value>& row) {
                     for (auto& [key, sums] : made) sums->Add(row);
                     if (kept) kept->Keep(row);
                   });
  for (auto& [key, sums] : made) context.KeepFedSums(key, std::move(sums));
  if (kept) {
    if (std::unique_ptr<units::CopyRows> rows = kept->Take(context.m_pConn)) {
      held.filled->push_back(std::move(rows));
    }
  }
}

// `source`: the farmland base table condensed (empty: the run's). `held`:
// the grouping several copies share on the embedded engine, made by the
// first of them (none: each reads its own); on a server, groups it made
// before (HeldGrouping::server_grouped), else its statement groups them.
short Condense(CStatContext& context, const Condensation& step, std::string source = {},
               HeldGrouping* held = nullptr) {
  if (source.empty()) source = context.m_strJbntTbl;
  try {
    if (held && held->grouping && held->server_grouped) {
      WriteGrouped(context, step, *held);
    } else if (context.m_pConn.Kind() == db::DbKind::kEmbedded && !context.m_bOracle) {
      // The embedded engine would sort every farmland row to group them:
      // they are grouped in one pass in memory, with the same sums, and
      // written in the order of the groups.
      HeldGrouping own;
      HeldGrouping& grouped = held ? *held : own;
      if (!grouped.grouping) {
        grouped.grouping = std::make_unique<db::GroupedSums>(
            context.m_pConn, farmland::CondensingGrouping(context, source, step.keeps_marks));
      }
      WriteGrouped(context, step, grouped);
    } else {
      const auto stored = [&](const std::string& sum) {
        return step.converted_unit < 0 ? sum
                                       : ConvertedArea(context, sum, step.converted_unit,
                                                       step.converted_decimals, false);
      };
      const CondensingQuery query =
          Condensing(source, CondensingKeys(step.keeps_marks), context.m_arrStatFields, stored);
      context.m_pConn.InsertSelect(step.target, query.columns,
                                   context.Dialect().RoundSums(query.select, step.decimals));
    }
    if (step.checks_lock_limit && context.m_nDbMode == 0) {
      return CheckRowLockLimit(context, step.target);
    }
    return 1;
  } catch (const db::DbError& error) {
    context.LogFailure(kCondenseTitle, step.message, error);
    return 0;
  }
}

}  // namespace

db::GroupedSumsQuery farmland::CondensingGrouping(const CStatContext& context,
                                                  const std::string& source, bool keeps_marks) {
  db::GroupedSumsQuery query{source, {}, CondensingKeys(keeps_marks), {"土地总面积"}};
  for (const std::string& field : context.m_arrStatFields) {
    if (IsClassColumn(field)) query.sums.push_back(field);
  }
  return query;
}

std::string farmland::FedCondensingKey(const CStatContext& context) {
  return context.m_strJbntTbl + "#condensing";
}

std::vector<std::string> CStatContext::JbntCopyKey() const {
  // The location first: a source row is looked up by it.
  std::vector<std::string> key = {"座落单位代码"};
  for (const auto* columns : {&kMarkColumns, &kPlaceColumns}) {
    for (const std::string& column : *columns) {
      if (column != key.front()) key.push_back(column);
    }
  }
  return key;
}

short CStatContext::CondenseJbntRows(const std::string& source, const std::string& target,
                                     short unit) {
  return Condense(*this, UnitCopyStep(*this, target, unit), source);
}

short CStatContext::BuildJbntBaseDataPM() {
  return Condense(
      *this, UnitCopyStep(*this, m_names.UnitCopy(kSquareMetre, "statdata_jbnt"), kSquareMetre));
}

short CStatContext::BuildJbntBaseDataGQ() {
  return Condense(*this,
                  UnitCopyStep(*this, m_names.UnitCopy(kHectare, "statdata_jbnt"), kHectare));
}

short CStatContext::BuildJbntBaseDataMU() {
  return Condense(*this, UnitCopyStep(*this, m_names.UnitCopy(kMu, "statdata_jbnt"), kMu));
}

void CStatContext::BuildJbntBaseDataCopies() {
  std::vector<std::unique_ptr<units::CopyRows>> dropped;  // the balancing reads the copies
  BuildJbntBaseDataCopies(dropped);
}

void CStatContext::BuildJbntBaseDataCopies(std::vector<std::unique_ptr<units::CopyRows>>& filled) {
  // Every copy is condensed, and the target copies' sums are converted as
  // they are stored (an UPDATE after would write every row again): on the
  // embedded engine from the farmland rows grouped once in memory for every
  // copy, on a server by its grouping statement. Oracle's statements
  // convert the copies afterwards.
  const bool convert = !m_bOracle;
  const std::array<short, 3> targets = TargetDecimals(*this);
  // The copy in the source unit, which nothing changes afterwards, gives
  // the situation tables' sums as it is written; the others give them as
  // they are read for their balancing.
  HeldGrouping held;
  held.filled = &filled;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    m_mapFedSums.erase(m_names.UnitCopy(unit, "statdata_jbnt"));  // of copies made before
  }
  // The base table's rows grouped as they were written, when they were:
  // the table is not read again.
  const auto fed = m_mapFedSums.find(farmland::FedCondensingKey(*this));
  if (fed != m_mapFedSums.end()) {
    held.grouping = std::move(fed->second);
    m_mapFedSums.erase(fed);
  }
  for (const auto& [unit, wanted] :
       {std::pair{kSquareMetre, m_bPm}, std::pair{kHectare, m_bGq}, std::pair{kMu, m_bMu}}) {
    if (!wanted) continue;
    Condensation step = UnitCopyStep(*this, m_names.UnitCopy(unit, "statdata_jbnt"), unit);
    if (convert && targets[unit] >= 0) {
      step.converted_unit = unit;
      step.converted_decimals = targets[unit];
    }
    held.sums =
        unit == m_nUnitSrc ? JbntFedSumsRequests(unit) : std::vector<units::CopySumsRequest>{};
    // A target copy stored as converted keeps its rows for its balancing,
    // with the situation tables' sums the balancing would make of them.
    held.kept.reset();
    const std::optional<short> decimals = BalancedDecimals(*this, unit);
    if (step.converted_unit >= 0 && decimals)
      held.kept = KeptCopy{*decimals, JbntFedSumsRequests(unit)};
    Condense(*this, step, {}, &held);
  }
  if (!convert) ConvertJbntUnits();
}

std::optional<units::CopySumsRequest> CStatContext::JbntExSumsRequest() const {
  if (m_bOracle) return std::nullopt;
  return units::CopySumsRequest{farmland::FedCondensingKey(*this) + "#ex",
                                farmland::CondensingGrouping(*this, m_strJbntTbl, false),
                                {}};
}

short CStatContext::BuildJbntBaseDataEx() {
  // The base table's rows grouped before (a conversion reads them beside
  // its other work), when they were: the table is not read again.
  HeldGrouping held;
  if (const std::optional<units::CopySumsRequest> request = JbntExSumsRequest()) {
    const auto fed = m_mapFedSums.find(request->key);
    if (fed != m_mapFedSums.end() && fed->second->Query() == request->query) {
      held.grouping = std::move(fed->second);
      held.server_grouped = m_pConn.Kind() != db::DbKind::kEmbedded;
    }
    if (fed != m_mapFedSums.end()) m_mapFedSums.erase(fed);
  }
  return Condense(*this, {m_strJbntTbl + "ex", false, "statdata_jbntex", false}, {}, &held);
}

short CStatContext::RebuildJbntExTable() {
  // The conversion rebuilds several farmland tables from the ex table: it
  // is made once, from the base table as it stands.
  if (m_bJbntExBuilt) return 1;
  if (CreateJbntExTable() == 0 || BuildJbntBaseDataEx() == 0) return 0;  // logged
  m_bJbntExBuilt = true;
  return 1;
}

namespace {

// Runs the statements in order; the first that fails is logged with its
// table (the text between `head` and `tail`) and ends the conversion (the
// copies after it stay as they were).
short RunConversion(CStatContext& context, const std::vector<std::string>& statements,
                    const std::string& head, const std::string& tail) {
  for (const std::string& statement : statements) {
    try {
      context.m_pConn.Execute(statement);
    } catch (const db::DbError& error) {
      const std::size_t name = head.size();
      context.LogFailure("转换基本农田面积单位",
                         statement.substr(name, statement.find(tail, name) - name), error);
      return 0;
    }
  }
  return 1;
}

}  // namespace

std::vector<std::string> CStatContext::JbntConversionStatements(bool as_run,
                                                                const std::string& base) const {
  const bool fast = as_run && m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  const std::array<short, 3> targets = TargetDecimals(*this);
  std::vector<std::string> ordered;
  for (short unit : {kHectare, kSquareMetre, kMu}) {
    // A unit whose copy this run does not make (the county batch makes no
    // mu copy) has nothing to convert.
    if (targets[unit] < 0 || !WantsUnit(unit)) continue;
    std::string statement = "UPDATE " + m_names.UnitCopy(unit, base) + " set ";
    for (const std::string& field : m_arrStatFields) {
      if (IsAreaColumn(field)) {
        statement += field + "=" + ConvertedArea(*this, field, unit, targets[unit], fast) + ",";
      }
    }
    statement.pop_back();  // the last comma
    ordered.push_back(statement);
  }
  return ordered;
}

short CStatContext::ConvertJbntUnits(const std::string& base) {
  return RunConversion(*this, JbntConversionStatements(true, base), "UPDATE ", " set ");
}

std::vector<std::string> CStatContext::JbntOnlyColumns() const {
  std::vector<std::string> columns = {"调入备注", "是否补划", "保护片编号", "基本农田图斑编号",
                                      "地类编码"};
  for (const std::string& field : m_arrStatFields) {
    if (field != "描述说明") columns.push_back(field);
  }
  return columns;
}

short CStatContext::ConvertJbntOnlyUnits() {
  // Each target table takes the rows of the source unit's table with its
  // areas converted and rounded as they are copied (no second write of
  // every row, as an update in place would make).
  const bool fast = m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle;
  const std::array<short, 3> targets = TargetDecimals(*this);
  const std::vector<std::string> columns = JbntOnlyColumns();
  std::vector<std::string> statements;
  for (short unit : {kHectare, kSquareMetre, kMu}) {
    if (targets[unit] < 0 || !WantsUnit(unit)) continue;
    std::string values;
    for (const std::string& column : columns) {
      values +=
          (values.empty() ? "" : ",") +
          (IsAreaColumn(column) ? ConvertedArea(*this, column, unit, targets[unit], fast) : column);
    }
    statements.push_back("insert into " + JbntOnlyTable(unit) + " (" + db::JoinedColumns(columns) +
                         ") select " + values + " from " + JbntOnlyTable(m_nUnitSrc));
  }
  return RunConversion(*this, statements, "insert into ", " (");
}

}  // namespace landstat
