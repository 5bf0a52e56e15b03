#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/run_log.h"
#include "engine/set_aside_tables.h"
#include "engine/table_names.h"
#include "mongolia/mg_groups.h"
#include "mongolia/mg_table_names.h"
#include "platform/db/connection.h"
#include "platform/db/sql_dialect.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"

namespace landstat {

namespace mg {
class MgBesideSchema;
class MgBesideLane;
}  // namespace mg

// The twenty fixed columns of the Inner Mongolia base table, from "县名称"
// to "土地总面积"; the first nineteen are text.
extern const std::vector<std::string> kMgFixedColumns;
// The columns the unit copies group the base table by, in their order.
extern const std::vector<std::string> kMgGroupColumns;
inline constexpr std::size_t kMgTextColumns = 19;

// The context of one Inner Mongolia statistics run: the four layers, the
// Inner Mongolia code table, the database connection, the configured units
// with their decimals, the land-class codes and the column list of the base
// table "statdataMG", the code-to-name map and the run's log (StatRunLog,
// shared with the other runs). It lives on the stack of the run; its
// builders are its methods, in files named after what they build.
class CMgStatContext : public StatRunLog {
 public:
  CMgStatContext(short district_layer, short parcel_layer, short line_layer, short point_layer,
                 gis::RuralCode* codes, const std::string& year, const std::string& county,
                 const std::string& log_path, int level_switch);
  ~CMgStatContext() override;
  CMgStatContext(const CMgStatContext&) = delete;
  CMgStatContext& operator=(const CMgStatContext&) = delete;

  // The units (unit 1: hectares, mu, else square metres; units 2 and 3:
  // one of the three or none), their decimals (fixed by the unit: 2, 1, 1),
  // the statistics scope and the table names; then opens the connection.
  // 1, or 0 after a logged failure when the connection does not open.
  short InitUnits(const std::string& connection, short naming_mode);
  // The code-to-name map, the land-class codes (and those of two
  // characters) and the column list: the twenty fixed columns, then "BM" +
  // code. 0 when the code table has no record: the lists stay empty.
  short LoadCodes();
  // The name of an administrative code; empty when the table has none.
  std::string GetCodeName(const std::string& code) const;
  // 1 when the table exists; "drop table": 1 when it ran. Neither logs.
  short IsTableExist(const std::string& table);
  short DropTable(const std::string& table);
  // Puts aside the table an earlier run left under this name, to be
  // dropped once this run's tables are made (DropSetAside; see
  // SetAsideTables). Raises DbError.
  void SetAside(const std::string& table);
  // Drops the tables set aside. 0 after a logged failure.
  short DropSetAside();

  // --- base table statdataMG (mongolia/mg_base_table.cpp) ---
  short CreateStatDataTable();
  // A layer lacking a field the rows need (an area, the class, the
  // location or owner code, the deduction) is one failure naming layer and
  // field, and fills nothing (0). Either fill is refused (logged, 0) when
  // the base table holds rows already (a fill asked twice, or both fills):
  // the groupings would hold the second fill's rows only. A fill that fails
  // lets its groupings go: the copies and the ledger are then refused.
  short BuildStatDataDirect();
  // Whether the three layers have the fields the fills need (a failure
  // logged for the first one missing).
  bool HasNeededFields();
  // The temporary fill (mongolia/mg_temporary_fill.cpp): the rows, made by
  // its own rules where they differ from the row-by-row fill's
  // (mg::MgFillRules), are written once into the base table's columns of
  // the context's list. 1 when filled; 0 after a logged failure.
  short BuildStatData();
  // What either fill fed as it wrote the base rows: the groupings of the
  // unit copies and the ledger (mongolia/mg_groups.h), so that neither
  // reads the base table back.
  mg::MgBaseGroups& BaseGroups() { return m_groups; }
  mg::MgTexts& Texts() { return m_texts; }
  // 土地总面积 and the class columns: the figures of the base rows and the
  // unit copies.
  std::vector<std::string> FigureColumns() const;
  // --- area-unit table AreaUnitMG and ownership-code table QSDMBMG
  // (mongolia/mg_code_tables.cpp) ---
  short CreateAreaUnitTable();
  // 1 recorded or already there, -1 without the table, 0 after a logged
  // failure.
  short RecordAreaUnit(const std::string& kind, const std::string& unit);
  short CreateQsdmbMGTable();
  short FillQsdmbMG();
  // Checks the administrative codes of an Inner Mongolia code file of its
  // own: a code of a length no level has (province and city codes aside),
  // or one whose higher units of the hierarchy the file lacks, would leave
  // the level names of its pieces empty or wrong. Each such record is
  // logged where it stands in the file. 1 when none was, else 0.
  short CheckCodeFile();

  // --- per-unit copies of the base table and their balancing
  // (mongolia/mg_unit_tables.cpp, mongolia/mg_balancing.cpp) ---
  // The copies of the wanted units, square metres, mu, hectares; 0 at the
  // first that fails (logged).
  short CreateUnitStatTables();
  short CreateUnitStatTable(short unit);
  // Makes each copy in memory from the base rows the fill grouped by the
  // fifteen group columns, converts the copies of units 2 and 3 from unit 1,
  // balances them and writes every copy once. 0 when the base table was not
  // filled by this context, or a conversion, the balancing or a write
  // failed (logged).
  short FillUnitStatTables();
  // Converts the held copies of units 2 and 3 from unit 1 as a statement of
  // the database would: the factor's steps from left to right, rounded to
  // the unit's decimals, halves away from zero on the figure's decimal
  // form. Raises DbError for a factor it cannot read.
  void ConvertUnitStatTables();
  // Makes the converted copies add up top-down: the county total of unit
  // 1's copy converted once over the location units, each unit's total
  // over its rows (rows of equal totals in the order of their group
  // columns), each row's total over its leaf classes, parents rebuilt from
  // their leaves; and writes each balanced copy back whole. The copies are
  // those the run holds, read from their tables when it holds none. 0 after
  // a logged database failure; rows and units that cannot be balanced are
  // logged and left consistent.
  short BalanceStatData();
  // The copy of `unit` as the run holds it, read from its table the first
  // time when the run did not make it. Raises DbError.
  mg::MgCopy& HeldCopy(short unit);
  // 1 when another class column begins with this one (it is a parent).
  short HasSubClassField(const std::string& column) const;
  // The leaf columns in the order their steps go: classes 10 to 12, 20,
  // 05 to 09, 01 to 04, the highest code first in each; others dropped.
  short OrderBalanceFields(std::vector<std::string>& leaves) const;

  // --- land-use summaries TDLY_YJFLMG, TDLY_EJFLMG, NCTDLY_YJFLMG,
  // NCTDLY_EJFLMG by county, category, bureau, second-level unit and (with
  // the level switch) ownership unit, per wanted unit, by location only
  // (mongolia/mg_class_summaries.cpp), summed in memory from the held
  // copies. The create-all and fill-all operations return 1; their failures
  // are logged and counted. ---
  short CreateTdlyYjflTables();
  short CreateTdlyYjflTable(const std::string& table);
  short CreateTdlyEjflTables();
  short CreateTdlyEjflTable(const std::string& table);
  short CreateNcTdlyYjflTables();
  short CreateNcTdlyYjflTable(const std::string& table);
  short CreateNcTdlyEjflTables();
  short CreateNcTdlyEjflTable(const std::string& table);
  short StatTdlyClass(short kind);
  short StatNcTdlyClass(short kind);
  // The level rows of one table from the copy of `unit`; 0 when a level
  // failed.
  short SumTdlyClass(short kind, short unit, const std::string& target);
  short SumNcTdlyClass(short kind, short unit, const std::string& target);

  // --- square-metre ledger TDLYTZMG and its second-level work table
  // TDLY_EJFLTZMG (mongolia/mg_ledger.cpp) ---
  // On a server, once the base fill grouped its rows: the ledger made and
  // filled on a connection of its own, beside the run's work on the unit
  // copies and the summaries (mg::MgBesideLane); CreateTdlyTzTables then
  // moves it into the run's transaction and StatTdlyTz logs what its fill
  // met. Nothing on an embedded file, without square metres or classes, or
  // when no other connection opens (a notice: the ledger is then made on
  // the run's connection).
  void StartLedgerBeside();
  // The unit copies the fill wrote beside the run (on a server, one after
  // another on a connection of their own, while the next is balanced and
  // the summaries are made), moved into the run's transaction once stored. 0 when one could
  // not be made or filled (logged as a failed balancing): the run fails.
  short MoveCopiesBeside();
  // 0 without square metres; else the result of the table's create.
  short CreateTdlyTzTables();
  short CreateTdlyTzTable(const std::string& table);
  // The work table: the columns of the general run's rural second-level
  // table in square metres, and 图斑编号. 0 without square metres or that
  // table (a notice names it, and an earlier work table is dropped), or
  // after a logged failure.
  short CreateTdlyEjflTzTable();
  short MakeTdlyEjflTzTable(const std::string& table);
  // Fills the ledger (when square metres are wanted) and compacts an SQLite
  // working copy. 1 when the ledger was filled.
  short StatTdlyTz();
  // The ledger's rows from the base rows the fill grouped, the names of
  // their location's levels from QSDMB, read once.
  short SumTdlyTz(const std::string& table);
  // The general run's rural second-level table in square metres, as the
  // general run names it on this database.
  std::string GeneralRuralSecondLevelTable() const;

  // Compacts the working SQLite copy when a real share of it is free pages
  // (closing and opening the connection again); a server, and a file the
  // run changes in one transaction of its own, are never compacted. 0
  // after a logged failure.
  short CompactWorkingCopy();

  // Table names, plain in naming mode 0, with the year and county on a
  // server.
  const TableNames& Names() const { return m_names; }
  std::string StatDataTable() const { return m_names.Plain(kMgBaseTable); }
  std::string UnitCopyTable(short unit) const { return m_names.UnitCopy(unit, kMgBaseTable); }
  // "ZPM", "ZGQ" or "ZMU" + base ("TDLY_YJFLMG" ...), the ledger's "ZPM" +
  // "TDLYTZMG" among them.
  std::string SummaryTable(short unit, const std::string& base) const {
    return m_names.Summary('Z', unit, base);
  }
  std::string AreaUnitTable() const { return MgAreaUnitTable(m_names); }
  std::string QsdmbMGTable() const { return MgQsdmbTable(m_names); }

  // The statements' dialect: that of the connection (whatever the naming
  // mode), Oracle when the parcel layer lives in Oracle.
  db::DbKind DialectKind() const;
  const db::SqlDialect& Dialect() const { return db::SqlDialect::For(DialectKind()); }

  // The units in the order the run records them, hectares, mu, square
  // metres, those wanted only.
  std::vector<short> WantedUnits() const;
  bool Wants(short unit) const {
    return unit == kHectare ? m_bGq : unit == kMu ? m_bMu : unit == kSquareMetre && m_bPm;
  }
  // The configured units 1 to 3 with their decimals; units that are none
  // left out.
  struct UnitSlot {
    short unit;
    short decimals;
  };
  std::vector<UnitSlot> ConfiguredUnits() const;

  gis::LayerHandle m_aiXzq = 0, m_aiParcel = 0, m_aiLine = 0, m_aiPoint = 0;
  gis::RuralCode* m_pRuralCode = nullptr;
  std::string m_strClassFld[3] = {"地类编码", "地类编码", "地类编码"};
  std::string m_strStatTbl;
  std::string m_strConnect;
  short m_nDbMode = 0;
  db::Connection m_pConn;
  const db::Connection* JobConnection() const override { return &m_pConn; }
  std::vector<std::string> m_arrClassCodes, m_arrClass1Codes;
  std::string m_strPrefix1;  // year
  std::string m_strPrefix2;  // county code
  int m_nLevelSwitch = 0;
  std::vector<std::string> m_arrStatFields;
  short m_nDec1 = 2, m_nUnit1 = kSquareMetre;
  short m_nDec2 = kNoUnit, m_nUnit2 = kNoUnit;
  short m_nDec3 = kNoUnit, m_nUnit3 = kNoUnit;
  short m_nStatType = 0;
  std::string m_strStatTblUnit[3];
  bool m_bPm = false, m_bGq = false, m_bMu = false;
  bool m_bOracle = false;
  std::unordered_map<std::string, std::string> m_mapCodeName;

 private:
  void SetUnit(int slot, const std::string& text, bool first);
  // The fills of the base table (BuildStatDataDirect, BuildStatData) through
  // FillBaseTable, which checks the layers' fields and the table first.
  short FillBaseTable(short (CMgStatContext::*fill)());
  short FillDirect();
  short FillStaged();
  // Whether the base table holds no row; a table that does, or cannot be
  // read, is a logged failure.
  bool BaseTableEmpty();
  // The end of a ledger fill that met `failure` (its rows not all stored)
  // or `unnamed` (QSDMB unread, its rows without names): logged; 1 when
  // neither.
  short LedgerFilled(const std::optional<db::DbError>& failure,
                     const std::optional<db::DbError>& unnamed);
  // The schema of the tables made beside the run, made at the first call;
  // null on an embedded file, or when it cannot be made (a notice, once).
  const mg::MgBesideSchema* BesideSchema();
  // Starts writing the held copy of `unit` beside the run; false when it
  // cannot (the caller writes it then).
  bool WriteCopyBeside(short unit);
  // The statement that makes a unit copy's table, `options` after its
  // columns.
  std::string UnitCopyStatement(const std::string& table, const std::string& options = {}) const;
  // BalanceStatData, writing unit 1's copy too when `with_first`.
  short BalanceAndWrite(bool with_first);
  TableNames m_names;
  mg::MgTexts m_texts;
  mg::MgBaseGroups m_groups;
  std::map<short, mg::MgCopy> m_copies;  // by unit
  SetAsideTables m_setAside;
  // The tables made beside the run, and their schema, which ends after
  // them. They end with the context, whose end closes the run's
  // connection first.
  std::optional<db::DbError> m_ledgerUnnamed;  // the ledger's rows went in unnamed
  std::shared_ptr<mg::MgBesideSchema> m_besideSchema;
  bool m_besideTried = false;
  std::shared_ptr<mg::MgBesideLane> m_ledgerBeside, m_copiesBeside;
  bool m_copiesBesideTried = false;  // a lane for the copies asked for once
};

}  // namespace landstat
