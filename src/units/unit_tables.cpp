// The area-unit table and the per-unit copies of the base table.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_dialect.h"
#include "platform/host/trace.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {

short CStatContext::CreateAreaUnitTable() {
  // The table keeps the units of every year and kind recorded in the
  // database: it is made once and never dropped by a run.
  const std::string table = m_names.AreaUnit();
  try {
    CreateSharedTable(
        m_pConn, table,
        "Create Table " + table + "(年度 varchar(20), TYPE varchar(20) ,AREAUNIT varchar(20))");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立面积单位表", "建立面积单位表失败", error);
    return 0;
  }
}

short CStatContext::RecordAreaUnits() {
  const std::string table = m_names.AreaUnit();
  short result = 1;
  for (const char* kind : {"土地利用", "基本农田"}) {
    for (short unit : {kHectare, kMu, kSquareMetre}) {
      if (!WantsUnit(unit)) continue;
      try {
        const std::vector<db::Value> key = {db::Value(m_strPrefix1), db::Value(kind),
                                            db::Value(UnitText(unit))};
        const db::Value present = m_pConn.Scalar(
            "select count(*) from " + table + " where 年度=? and TYPE=? and AREAUNIT=?", key);
        if (present.AsInteger() == 0) {
          m_pConn.Execute("insert into " + table + " (年度, TYPE, AREAUNIT) values (?, ?, ?)", key);
        }
      } catch (const db::DbError& error) {
        LogFailure("记录面积单位", "记录面积单位失败", error);
        result = 0;
      }
    }
  }
  // The base table of this run is in the source unit; the extension table
  // was made empty, so it holds no unit until a conversion fills it.
  if (RecordTableUnit("statdata", m_nUnitSrc) == 0 || RecordTableUnit("statdataex", kNoUnit) == 0) {
    result = 0;
  }
  return result;
}

short CStatContext::RecordTableUnit(const std::string& type, short unit) {
  if (CreateAreaUnitTable() == 0) return 0;
  const std::string table = m_names.AreaUnit();
  try {
    // One row for the year and type: the unit its tables now hold.
    const std::vector<db::Value> key = {db::Value(m_strPrefix1), db::Value(type)};
    m_pConn.Execute("delete from " + table + " where 年度=? and TYPE=?", key);
    if (unit == kNoUnit) return 1;  // the unit is forgotten
    m_pConn.Execute("insert into " + table + " (年度, TYPE, AREAUNIT) values (?, ?, ?)",
                    {key[0], key[1], db::Value(UnitText(unit))});
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("记录面积单位", type + " 记录面积单位失败", error);
    return 0;
  }
}

short CStatContext::RecordedUnit(const std::string& type) {
  const std::string table = m_names.AreaUnit();
  if (!IsTableExist(table)) return kNoUnit;
  // Several units of a kind (the copies of a run): the first of hectares,
  // mu and square metres.
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    const db::Value rows =
        m_pConn.Scalar("select count(*) from " + table + " where 年度=? and TYPE=? and AREAUNIT=?",
                       {db::Value(m_strPrefix1), db::Value(type), db::Value(UnitText(unit))});
    if (rows.AsInteger() > 0) return unit;
  }
  return kNoUnit;
}

bool CStatContext::MakesUnit(short unit) const {
  if (WantsUnit(unit)) return true;
  for (const auto& [copy_unit, name] : UnitCopies()) {
    if (copy_unit == unit) return true;
  }
  return false;
}

namespace {

constexpr short kUnits[] = {kSquareMetre, kHectare, kMu};

}  // namespace

bool CStatContext::KeepsTablesOfUnit(short unit) const {
  // Units the defaults of a missing StatConfig.ini leave out may still be
  // wanted: their tables stay as an earlier run made them.
  const bool made = MakesUnit(unit) || (m_bNoPmTables && unit == kHectare);
  return !made && !m_bUnitsRead;
}

std::vector<std::string> CStatContext::TablesReplaced(bool replacing) const {
  std::vector<std::string> owned;
  for (FamilyKind kind : {FamilyKind::kGeneral, FamilyKind::kTown, FamilyKind::kMongolia}) {
    // The town-lot and Inner Mongolia runs' tables are kept by a rerun.
    if (kind != FamilyKind::kGeneral && !replacing) continue;
    for (short unit : {kNoUnit, kSquareMetre, kHectare, kMu}) {
      if (unit != kNoUnit && !replacing && KeepsTablesOfUnit(unit)) continue;
      for (std::string& table : OwnedTables(m_names, kind, unit)) owned.push_back(std::move(table));
    }
  }
  return owned;
}

bool CStatContext::DropEarlierTable(const std::string& table) {
  if (DropTable(table) > 0) return true;
  LogFailure("删除旧表", table + " 删除失败 " + m_strDropError);
  return false;
}

std::vector<std::string> CStatContext::DropEarlierTables(const std::vector<std::string>& owned) {
  return DropHeldTables(m_pConn, owned,
                        [this](const std::string& table) { return DropEarlierTable(table); });
}

std::vector<std::string> CStatContext::DropOwnedTables(bool replacing) {
  std::vector<std::string> dropped = DropEarlierTables(TablesReplaced(replacing));
  if (replacing) {
    // The area units of another year or county go with their tables.
    try {
      if (IsTableExist(m_names.AreaUnit())) m_pConn.Execute("delete from " + m_names.AreaUnit());
    } catch (const db::DbError& error) {
      LogFailure("记录面积单位", "删除其他年度的面积单位失败", error);
    }
  }
  return dropped;
}

void CStatContext::ForgetTablesNotRebuilt(const std::vector<std::string>& dropped) {
  const std::vector<std::string> gone = TablesNotHeld(m_pConn, dropped);
  std::vector<std::string> units_gone;
  try {
    for (short unit : kUnits) {
      if (MakesUnit(unit) || KeepsTablesOfUnit(unit)) continue;
      const long forgotten = m_pConn.Execute(
          "delete from " + m_names.AreaUnit() + " where 年度=? and AREAUNIT=? and TYPE in (?, ?)",
          {db::Value(m_strPrefix1), db::Value(UnitText(unit)), db::Value("土地利用"),
           db::Value("基本农田")});
      if (forgotten > 0) units_gone.push_back(UnitText(unit));
    }
    // A table a conversion rebuilt and this run did not keeps no unit.
    for (const TableFamily* family : ConvertedFamilies()) {
      if (!IsTableExist(m_names.Plain(family->base))) RecordTableUnit(family->base, kNoUnit);
    }
  } catch (const db::DbError& error) {
    LogFailure("记录面积单位", "删除不再统计的面积单位失败", error);
  }
  const std::string notice = NotRebuiltNotice(units_gone, gone);
  if (!notice.empty()) LogNotice("删除旧表", notice);
}

std::vector<std::pair<short, std::string>> CStatContext::UnitCopies() const {
  std::vector<std::pair<short, std::string>> copies;
  for (const auto& [unit, name] :
       {std::pair{m_nUnitSrc, m_strStatTblSrc}, std::pair{m_nUnit1, m_strStatTblUnit1},
        std::pair{m_nUnit2, m_strStatTblUnit2}}) {
    if (!name.empty()) copies.emplace_back(unit, name);
  }
  return copies;
}

void CStatContext::DropUnitStatTables() {
  for (const auto& [unit, name] : UnitCopies()) {
    if (IsTableExist(name)) DropTable(name);
  }
  const std::string extension = m_names.Plain("statdataex");
  if (IsTableExist(extension)) DropTable(extension);
}

short CStatContext::DecimalsOf(short unit) const {
  if (unit == m_nUnit1) return m_nDec1;
  if (unit == m_nUnit2) return m_nDec2;
  return m_nDecSrc;
}

short CStatContext::CreateUnitStatTables() {
  if (m_bNoPmTables) {
    // The county batch builds hectare tables of one scope.
    m_bPm = true;
    m_bGq = true;
    m_bMu = false;
    if (m_nStatScope == 2) m_nStatScope = 0;
    // Hectare tables need a hectare copy, also when no configured unit is
    // hectares: it takes the first free place, else the second.
    if (m_nUnitSrc != kHectare && m_nUnit1 != kHectare && m_nUnit2 != kHectare) {
      const bool first = m_nUnit1 == kNoUnit;
      (first ? m_nUnit1 : m_nUnit2) = kHectare;
      (first ? m_strStatTblUnit1 : m_strStatTblUnit2) = m_names.UnitCopy(kHectare, "statdata");
      (first ? m_strJbntTblUnit1 : m_strJbntTblUnit2) = m_names.UnitCopy(kHectare, "statdata_jbnt");
    }
  }
  try {
    DropUnitStatTables();
    for (const auto& [unit, name] : UnitCopies()) {
      m_pConn.Execute(Dialect().CopyStructure(name, m_strStatTbl));
    }
    m_pConn.Execute(Dialect().CopyStructure(m_names.Plain("statdataex"), m_strStatTbl));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立分单位基础汇总表", "建立分单位基础汇总表失败", error);
    return 0;
  }
}

std::vector<std::string> CStatContext::AreaColumns() const {
  std::vector<std::string> columns = {"土地总面积"};
  for (const std::string& field : m_arrStatFields) {
    if (field.rfind("BM", 0) == 0) columns.push_back(field);
  }
  return columns;
}

short CStatContext::FillUnitCopy(const std::string& name, short unit, short decimals,
                                 bool round_source) {
  // One pass: every row of the base table copied with its areas converted
  // and rounded to the copy's unit. Rows keep the base table's order.
  const bool convert = unit != m_nUnitSrc || round_source;
  if (!convert) {
    // The copy in the base table's own unit is the base table: copied whole
    // (SQLite then copies the rows without decoding them).
    m_pConn.Execute("insert into " + name + " select * from " + m_strStatTbl);
    return 1;
  }
  const std::string factor_text = FactorText(m_nUnitSrc, unit);
  const double factor = UnitFactor(m_nUnitSrc, unit);
  std::vector<std::string> columns;
  std::string list;
  for (const db::ColumnInfo& column : m_pConn.Columns(m_strStatTbl)) {
    const bool area = units::IsCopiedArea(column.name);
    columns.push_back(column.name);
    if (!list.empty()) list += ",";
    list += area ? units::ConvertedAreaSql(Dialect(), column.name, factor_text, factor, decimals)
                 : column.name;
  }
  m_pConn.InsertSelect(name, columns, "select " + list + " from " + m_strStatTbl);
  return 1;
}

short CStatContext::MakeBalancedUnitCopy(short unit, const std::string& name) {
  try {
    // Made anew in this connection's transaction, the copy is filled as the
    // server makes it (db::Connection::InsertSelect): its rows are written
    // once.
    if (IsTableExist(name)) DropTable(name);
    m_pConn.Execute(Dialect().CopyStructure(name, m_strStatTbl));
    FillUnitCopy(name, unit, DecimalsOf(unit));
  } catch (const db::DbError& error) {
    LogFailure("填充分单位基础汇总表", "填充分单位基础汇总表失败", error);
    return 0;
  }
  // Balanced against the base table, which the copy in the source unit
  // copies whole: the copies can be filled at the same time.
  if (unit == m_nUnitSrc) return 1;
  return BalanceUnitCopy(m_strStatTbl, name, unit, DecimalsOf(unit));
}

short CStatContext::FillUnitStatTables() {
  // Sums made from the copies before are stale from here on.
  ForgetSummarySources();
  std::vector<std::unique_ptr<units::CopyRows>> filled;
  units::SourceSums source_sums;
  try {
    // On the embedded engine the converted copies are made in memory from
    // one read of the base table, and balanced without being read back.
    // The summaries' sums of each copy are made in the same pass (from the
    // base table's rows for the copy that copies it whole), instead of a
    // read of every copy when the summaries begin.
    const bool in_memory = units::CanFillInMemory(m_pConn, m_strStatTbl);
    std::vector<units::ConvertedCopy> converted;
    for (const auto& [unit, name] : UnitCopies()) {
      if (in_memory && unit != m_nUnitSrc) {
        converted.push_back({name, FactorText(m_nUnitSrc, unit), UnitFactor(m_nUnitSrc, unit),
                             DecimalsOf(unit), FedSumsRequests(unit, name)});
      } else {
        FillUnitCopy(name, unit, DecimalsOf(unit));
        if (in_memory) source_sums.requests = FedSumsRequests(unit, name);
      }
    }
    if (!converted.empty()) {
      filled = units::FillConvertedCopies(m_pConn, m_strStatTbl, converted,
                                          units::SortClassColumns(*this),
                                          {"村级代码", CountyCodesLike(), true}, &source_sums);
    }
    host::yDebugTime("unit copies filled");
  } catch (const db::DbError& error) {
    LogFailure("填充分单位基础汇总表", "填充分单位基础汇总表失败", error);
    // No copy is left half made: the copies filled before the failure are
    // emptied too.
    try {
      for (const auto& [unit, name] : UnitCopies()) m_pConn.Execute("delete from " + name);
    } catch (const db::DbError& cleanup) {
      LogFailure("填充分单位基础汇总表", "清空分单位基础汇总表失败", cleanup);
    }
    return 0;
  }
  // Summaries are made from the balanced copies: copies left unbalanced
  // fail the fill (the balancing logged why).
  if (BalanceStatData(filled) == 0) return 0;
  KeepFedSums(source_sums.made);
  for (const std::unique_ptr<units::CopyRows>& rows : filled) {
    if (rows) KeepFedSums(rows->Sums());
  }
  return 1;
}

std::vector<units::CopySumsRequest> CStatContext::FedSumsRequests(short unit,
                                                                  const std::string& copy) const {
  std::vector<units::CopySumsRequest> fed;
  if (!WantsSummaryUnit(unit)) return fed;
  for (SummedRequest& request : CopySums(unit, "statdata")) {
    // Only the copy's own sums, as the summaries ask for them.
    if (request.query.table != copy) continue;
    fed.push_back({request.key, std::move(request.query), request.nonzero});
  }
  return fed;
}

void CStatContext::KeepFedSums(std::vector<units::FedCopySums>& sums) {
  for (units::FedCopySums& fed : sums) {
    if (!fed.Stale()) KeepFedSums(fed.Key(), fed.Take());
  }
}

void CStatContext::KeepFedSums(const std::string& key, std::unique_ptr<db::GroupedSums> sums) {
  m_mapFedSums[key] = std::move(sums);
}

}  // namespace landstat
