#pragma once

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/run_log.h"
#include "engine/table_names.h"
#include "lots/town_intensity_levels.h"
#include "platform/db/beside_tables.h"
#include "platform/db/connection.h"
#include "platform/db/sql_dialect.h"
#include "platform/gis/rural_code.h"

namespace landstat {

namespace db {
class GroupedSums;
struct GroupedSumsQuery;
class Recordset;
}  // namespace db

// The names of the layers' attribute ("RRA") and entity ("REG") tables and
// of the code table, where the survey's layers are stored as tables of the
// statistics database itself; the set-based fill of the town-lot base table
// reads them.
struct TownLayerTables {
  std::string lot_attributes, lot_entities;      // empty: no lot layer
  std::string house_attributes, house_entities;  // empty: no house layer
  std::string code_table;                        // empty: no code table
};

// The tables a town summary reads: the lot table and the land-use base
// table of the general run in the same unit.
struct TownSources {
  std::string lots;
  std::string land;
  // The decimals of the target's unit: the sums are stored rounded to them.
  // Below 0: stored as summed.
  int decimals = -1;
};

struct TownSummary;

// The fields of the lot layer and of the house layer that only some town
// tables need (the families of lots/town_lot_families.cpp). A need without
// tables is a column of the base table that no summary reads.
enum class TownWalk { kLots, kHouses };
std::span<const FieldNeed> TownFieldNeeds(TownWalk walk);

// The context of one town-lot statistics run: the lot and house layers,
// the code table, the database connection and its kind, the configured
// units with their decimals and per-unit tables, the code maps, the field
// list of the town-lot base table "statdata_czzd" and the run's log
// (StatRunLog, shared with the general run). It lives on the stack of the
// export that runs the town-lot statistics (and of the unit conversion and
// the range statistics); its builders are its methods, in files named after
// what they build.
class CZdStatContext : public StatRunLog {
 public:
  // Opens the connection (a failure is shown once through the notifier;
  // the first statement of the run then fails) and loads the codes and
  // units.
  CZdStatContext(short lot_layer, short house_layer, gis::RuralCode* codes,
                 const std::string& connection, short db_mode, const std::string& year,
                 const std::string& county, const std::string& log_path);
  // A context on a connection already open (the unit conversion's, inside
  // its transaction), without layers; ReleaseConnection hands it back.
  CZdStatContext(db::Connection&& connection, gis::RuralCode* codes, short db_mode,
                 const std::string& year, const std::string& county);
  db::Connection ReleaseConnection() { return std::move(m_pConn); }
  virtual ~CZdStatContext();
  CZdStatContext(const CZdStatContext&) = delete;
  CZdStatContext& operator=(const CZdStatContext&) = delete;

  // The set-up: the administrative, land-use and house-structure maps, the
  // land-use codes (without the "20" codes), the field list (21 fixed
  // columns, then "BM" + code), the units, decimals, statistics type and
  // per-unit table names. 0 when the code table cannot be read.
  short LoadCodes();
  // Names by code: empty for an unknown administrative or land-use code;
  // the code itself for an unknown house structure.
  std::string GetAdminName(const std::string& code) const;
  std::string GetLandUseName(const std::string& code) const;
  std::string GetHouseStructureName(const std::string& code) const;
  // 1 when "select * from" the table runs; "drop table": 1 when it runs.
  // Neither logs.
  short IsTableExist(const std::string& table);
  short DropTable(const std::string& table);

  // The town-lot base table statdata_czzd: one row per lot and per house.
  // FillStatData walks the layers record by record; in naming mode 2, when
  // the layers are stored as tables of the statistics database
  // (StoredLayerTables), it fills the table by set-based statements instead.
  short CreateStatDataTable();
  short FillStatData();
  // Of the fields of `needs` the layer of `checks` lacks, each that a town
  // family needs is one failure naming the layer, the field and the tables
  // not built, which the run then leaves out (m_setLeftOutFamilies); each
  // that only the base table shows is a notice.
  void LeaveOutTablesWithout(LayerChecks& checks, std::span<const FieldNeed> needs);
  short FillStatDataFromLayerTables();
  short FillStatDataFromLayerTables(const TownLayerTables& tables);
  // Logs, as one failure, how many stored lots the set-based fill leaves
  // out (the numbers and areas the walk over the layer would refuse); false
  // after a logged failure of the count.
  bool CountLeftOutStoredLots(const TownLayerTables& tables);
  // The statements of the set-based fill, in the order they run.
  std::vector<std::string> LayerTableStatements(const TownLayerTables& tables) const;
  // The layers' tables in the statistics database, when every one the fill
  // reads is there; nothing otherwise.
  std::optional<TownLayerTables> StoredLayerTables();

  // The create statement of a lot table: the first `text_columns` columns
  // text, the others area columns, with the dialect's type words;
  // `options` follows the column list.
  std::string LotTableStatement(const std::string& table, const std::vector<std::string>& columns,
                                std::size_t text_columns, const std::string& options = {}) const;

  // The per-unit tables of units 1 to 3 with their units and decimals, in
  // that order; units that are none left out.
  struct UnitTable {
    short unit;
    short decimals;
    std::string table;
  };
  std::vector<UnitTable> UnitTables() const;

  // The per-unit copies of the base table (one row per lot, areas summed,
  // converted and rounded to the unit), adjusted so that they add up.
  short CreateUnitStatTables();
  short CreateUnitStatTable(const std::string& table);
  short BuildUnitStatData();
  short CopyUnitStatData(const std::string& table);
  short ConvertUnitTable(short unit, const std::string& table, short decimals);
  // The statement of the group-by copy from `source` into `target`.
  std::string CopyUnitStatStatement(const std::string& target, const std::string& source) const;
  // The grouping the copy statement makes of `source`: the lots' texts as
  // keys, their areas summed.
  db::GroupedSumsQuery UnitCopyGrouping(const std::string& source) const;
  // The statement that converts a copy from unit 1 to `unit`; empty when
  // the two units are the same. `as_run`: the statement the engine runs,
  // which on a server leaves the figures that are 0 as they are (most class
  // columns of a lot; the server's rounding goes through its decimal type)
  // and gives the same figures four times faster.
  std::string ConvertUnitStatement(short unit, const std::string& table, short decimals,
                                   bool as_run = false) const;
  // A column of unit 1's copy converted to `unit` and rounded, as SQL: the
  // column itself when it is not converted; `skip_zeros` takes a figure of 0
  // as it is instead of rounding it.
  std::string ConvertedFigure(const std::string& field, short unit, short decimals,
                              bool skip_zeros) const;
  // The copy of `unit` made from unit 1's copy: each row converted as
  // ConvertUnitStatement converts it in place, in unit 1's row order. 1, or
  // 0 after a logged failure.
  std::string ConvertedCopyStatement(short unit, const std::string& table, short decimals) const;
  short CopyConvertedUnitData(short unit, const std::string& table, short decimals);

  // The lot-area adjustment of the unit-2 and unit-3 copies: their lot
  // totals stepped to the county total converted once, their class columns
  // to each lot's total, parent classes summed from their leaves. The lots
  // are read into memory, stepped there and only changed rows written back,
  // each table's changes in one transaction.
  short AdjustUnitStatData();
  // Steps the county's positive lots of the unit-2 and unit-3 copies, largest
  // first, to `county_total` (宗地总面积 of unit 1's copy, null when the county
  // has no lot: nothing changes then). 0 when nothing was stepped for that
  // reason or a table failed (logged).
  short BalanceLotTotals(const db::Value& county_total);
  short IsParentField(const std::string& name) const;
  // Steps the leaf class columns of every positive lot of `table` towards
  // the lot's total, one sweep over the leaves, and sets each parent class
  // column to the sum of its non-negative leaves. With the `zeroed` parent
  // columns, every figure of those that no such sum sets (the other lots',
  // the columns without leaves) becomes 0 by the same statement. 0 on a
  // database error (logged; the table's changes are rolled back).
  short BalanceLotClassAreas(const std::string& table, const std::vector<std::string>& leaves,
                             short decimals, const std::vector<std::string>& zeroed = {});
  // Writes the copy of `unit` (unit 2 or 3) from the grouped lots on the
  // embedded engine, each figure converted by `convert` and the whole
  // adjusted on the rows in memory as AdjustUnitStatData adjusts a written
  // copy: the same figures, without reading the copy back. `county_total`
  // is CountyLotTotal() (null: no lot total is stepped); `written`, when
  // given, sees each row as GroupedSums::WriteApart stores it, and `convert`
  // holds `connection_lock` whenever it asks the connection. Written on
  // `connection`, which may be another than the run's, on a thread of its
  // own: nothing of the context changes. A DbError goes to the caller;
  // stepping that falls short is given back, for LogAdjustedCopy to log as
  // AdjustUnitStatData logs it.
  struct AdjustedCopyNotes {
    std::string table;
    std::optional<std::string> stalled_totals;
    long classes_left_over = 0;
    std::string first_left_over;
  };
  AdjustedCopyNotes WriteAdjustedCopy(
      db::Connection& connection, std::mutex& connection_lock, const db::GroupedSums& lots,
      const UnitTable& unit, const std::function<double(double)>& convert,
      const db::Value& county_total,
      const std::function<void(const std::vector<db::Value>&)>& written = {}) const;
  void LogAdjustedCopy(const AdjustedCopyNotes& notes);
  // 宗地总面积 summed over the county's lots of unit 1's copy (null when it
  // has none).
  db::Value CountyLotTotal();
  // The notice of the lots whose classes still do not add up after their
  // sweep.
  void LogClassesLeftOver(const std::string& table, long left_over, const std::string& first);

  // The area-unit table (made when missing) and its town-lot rows ("城镇宗地")
  // of this year.
  short CreateAreaUnitTable();
  short AddAreaUnit(const std::string& type, const std::string& unit);
  short SetAreaUnit(short unit);
  short GetAreaUnit();
  // The unit of the extension table and the unit-less town tables a unit
  // conversion built from it, kept apart from the town run's rows: records
  // it (kNoUnit forgets it; 0 after a logged failure) and reads it back
  // (kNoUnit when none is recorded; a database error is thrown).
  short RecordDatedUnit(short unit);
  short DatedUnit();

  // The town summary tables. Each family follows one pattern (TownSummary,
  // lots/town_summary_family.h): per wanted unit, hectares, mu, square
  // metres, a table "Z" + unit + [year + county +] base name made from that
  // unit's per-unit lot table; and a unit-less dated twin made from the
  // extension table statdata_czzdex on the unit conversion's road. The
  // create-all and fill-all operations return 1; the single steps 1, or 0
  // after a logged failure.
  std::vector<short> WantedUnits() const;  // hectares, mu, square metres, by the flags
  std::string TownSummaryTable(short unit, const std::string& base) const;
  std::string DatedTable(const std::string& base) const;
  TownSources UnitSources(short unit) const;
  int DecimalsOf(short unit) const;  // of a configured unit; -1 for another
  TownSources DatedSources() const;
  short CreateTownTables(const TownSummary& family);
  short CreateTownTable(const TownSummary& family, const std::string& name);
  short SumTownTables(const TownSummary& family);
  short CreateTownTableDated(const TownSummary& family);
  short SumTownTableDated(const TownSummary& family);

  // --- land-use classification tables CZTDLY_YJFLZD, CZTDLY_EJFLZD
  // (lots/town_class_tables.cpp) ---
  short CreateYjflzdTables();
  short CreateYjflzdTable(const std::string& table);
  short SumYjflzd();
  short SumYjflzdTable(const std::string& target, const std::string& source);
  short CreateYjflzdTableDated();
  short SumYjflzdDated();
  short CreateEjflzdTables();
  short CreateEjflzdTable(const std::string& table);
  short SumEjflzd();
  short SumEjflzdTable(const std::string& target, const std::string& source);
  short CreateEjflzdTableDated();
  short SumEjflzdDated();
  // --- use-right type table CZTDLY_SYQZD (lots/town_use_right_table.cpp) ---
  short CreateSyqzdTables();
  short CreateSyqzdTable(const std::string& table);
  short SumSyqzd();
  short SumSyqzdTable(const std::string& target, const std::string& source);
  short CreateSyqzdTableDated();
  short SumSyqzdDated();
  // --- lot area summary CZZDMJHZ (lots/town_lot_area_table.cpp) ---
  short CreateZdmjhzTables();
  short CreateZdmjhzTable(const std::string& table);
  short SumZdmjhz();
  short SumZdmjhzTable(const std::string& target, const std::string& source);
  short CreateZdmjhzTableDated();
  short SumZdmjhzDated();
  // --- land-use intensity table CZTDLY_QDDC (lots/town_intensity_table.cpp) ---
  short CreateQddcTables();
  short CreateQddcTable(const std::string& table);
  short SumQddc();
  short SumQddcTable(const std::string& target, const std::string& lots, const std::string& land);
  short CreateQddcTableDated();
  short SumQddcDated();
  // --- building-density and land-use tables from SQL scripts CZZD_JZMD,
  // CZZD_TDYT (lots/town_script_tables.cpp) ---
  std::string LoadSqlResource(int id, const std::string& type) const;
  short SumJzmd();
  short MakeJzmdTable(const std::string& target, const std::string& source);
  short SumTdyt();
  short MakeTdytTable(const std::string& target, const std::string& source);
  // --- extension table statdata_czzdex (lots/town_lot_extension_table.cpp) ---
  short CreateStatDataExTable();
  short CopyStatDataEx();
  short ConvertStatDataEx(short unit);
  // --- balancing of the unit-less town tables after a unit conversion
  // (lots/town_summary_balancing.cpp) ---
  short BalanceYjflzd();
  short BalanceEjflzd();
  short BalanceSyqzd();
  // --- house information table CZFWXXTJ (lots/town_house_table.cpp) ---
  short CreateFwxxtjTables();
  short CreateFwxxtjTable(const std::string& table);
  short FillFwxxtjTable(const std::string& table, short source_unit, short unit, short decimals);
  short FillFwxxtjFromLayerTables(const std::string& table, short source_unit, short unit,
                                  short decimals);
  short SumFwxxtj();

  // The SQL dialect of this run's database, and a create statement with the
  // dialect's type words.
  db::DbKind DialectKind() const;
  const db::SqlDialect& Dialect() const { return db::SqlDialect::For(DialectKind()); }
  std::string TypeWords(const std::string& statement) const;
  const TableNames& Names() const { return m_names; }
  // "statdata_czzd", or "D" + year + county + "statdata_czzd" on a server.
  std::string StatDataTable() const { return m_names.Plain("statdata_czzd"); }

  // Layers (0 or less: absent) and the code table.
  short m_aiZd = 0;
  short m_aiHouse = 0;
  gis::RuralCode* m_pRuralCode = nullptr;
  // The numbers (without blanks) of the lots the record walk of the base
  // table wrote; nothing before it ran. The house table leaves out the
  // houses of any other lot, as the base table does.
  std::optional<std::unordered_set<std::string>> m_writtenLots;
  // The town families, by base name, that the run leaves out because a
  // layer lacks a field they need (LeaveOutTablesWithout).
  std::set<std::string> m_setLeftOutFamilies;
  // The land-use class sums by level of a lot table (by table and
  // decimals): gathered as the per-unit copies are written in memory, or
  // read by the first-level family on the embedded engine, for the
  // families that fill from the same table right after; each family takes
  // them.
  std::map<std::string, std::vector<std::unique_ptr<db::GroupedSums>>> m_classLevelSums;
  // The base table's rows grouped as the unit copies group them
  // (UnitCopyGrouping), fed as the record walk wrote them, so that the
  // copies are written from memory without reading the table back; null
  // when the walk did not write the table. The copies take it.
  std::unique_ptr<db::GroupedSums> m_writtenLotGroups;
  // The land area of every county, township and village code (by level,
  // county first) of a land-use table the intensity table reads.
  using LandAreas = std::vector<std::unordered_map<std::string, double>>;
  // Reads the land areas of the general run's tables that the intensity
  // tables of the wanted units read, each table on a connection of its
  // own, all at the same time: `alongside`, on a thread of its own while
  // the run goes on (on a server, or on an embedded file the run writes in
  // one transaction, whose commit at the end WaitForLandAreas keeps after
  // the reads), else now (on an embedded file whose statements commit one
  // by one, each of which would wait for the readers). The run leaves
  // those tables as they are.
  void ReadTownLandAreas(bool alongside);
  // Waits for the reads ReadTownLandAreas left going, if any.
  void WaitForLandAreas();
  // The land areas of `table` read by ReadTownLandAreas (waiting for the
  // read), handed over once; nothing when they were not read, or the table
  // could not be read then: the intensity table then reads it itself, and
  // logs what fails.
  std::optional<LandAreas> TakeLandAreas(const std::string& table);
  // Empty class sums by level of the lot table of `sources`, to be fed its
  // rows (whose columns are `columns`) as they are written, then kept
  // (KeepClassLevels) for the classification families.
  std::vector<std::unique_ptr<db::GroupedSums>> FeedClassLevels(
      const TownSources& sources, const std::vector<std::string>& columns) const;
  void KeepClassLevels(const TownSources& sources,
                       std::vector<std::unique_ptr<db::GroupedSums>> levels);
  // Empty groupings of the lot table of `sources` that the use-right and
  // lot-area families read, by family, to be fed its rows (whose columns
  // are `columns`) as they are written, then kept (KeepLotGroupings); each
  // family takes its own (TakeLotGroupings: none when none was kept).
  using Groupings = std::vector<std::unique_ptr<db::GroupedSums>>;
  std::map<std::string, Groupings> FeedLotGroupings(const TownSources& sources,
                                                    const std::vector<std::string>& columns) const;
  void KeepLotGroupings(const TownSources& sources, std::map<std::string, Groupings> groupings);
  Groupings TakeLotGroupings(const std::string& family, const TownSources& sources);
  // The intensity table's sums by level of the lot table of `sources`,
  // fed its rows as they were written, kept for the intensity family, which
  // takes them once (nothing when none were kept for that table).
  void KeepIntensityLevels(const TownSources& sources, std::unique_ptr<IntensityLevels> levels);
  std::optional<std::vector<IntensityLevels::Level>> TakeIntensityLevels(
      const TownSources& sources);
  // On a server, the schema where tables are made beside the run on
  // connections of their own (made once, when first asked for); null on
  // the embedded engine, or when it could not be made (noticed in the log).
  const db::BesideSchema* BesideSchema();

  std::string m_strConnect;
  // 0 plain table names; any other value names with year and county code;
  // 2 also selects the set-based fill of the base table.
  short m_nDbMode = 0;
  std::string m_strPrefix1;  // year
  std::string m_strPrefix2;  // county code

  std::vector<std::string> m_arrClass1Codes;    // land-use codes of 2 characters
  std::vector<std::string> m_arrClassCodes;     // land-use codes of 2 or 3 characters
  std::vector<std::string> m_arrAllClassCodes;  // every land-use code but the "20" ones
  std::vector<std::string> m_arrStatFields;     // statdata_czzd after its two land-use columns

  // Unit 1 (the unit of the base data), unit 2 and unit 3: decimals and
  // unit code (kNoUnit for none).
  short m_nDecSrc = 2, m_nUnitSrc = kSquareMetre;
  short m_nDec1 = 2, m_nUnit1 = kNoUnit;
  short m_nDec2 = 2, m_nUnit2 = kNoUnit;
  short m_nStatType = 2;
  std::string m_strStatTblSrc, m_strStatTblUnit1, m_strStatTblUnit2;
  bool m_bPm = false, m_bGq = false, m_bMu = false;

  db::Connection m_pConn;
  const db::Connection* JobConnection() const override { return &m_pConn; }
  // The configured data source: 1 a server, 2 Oracle, -1 not asked yet.
  int m_nDbType = -1;

  std::unordered_map<std::string, std::string> m_mapAdminName;
  std::unordered_map<std::string, std::string> m_mapLandUseName;
  std::unordered_map<std::string, std::string> m_mapHouseStructure;

 private:
  void SetUp();
  void FixUnits();
  TableNames m_names;
  std::map<std::string, Groupings> m_lotGroupings;  // by family and lot table
  std::map<std::string, LandAreas> m_landAreas;     // read, not yet taken
  std::map<std::string, std::unique_ptr<IntensityLevels>> m_intensityLevels;  // by lot table
  std::future<std::map<std::string, LandAreas>> m_landAreasRead;              // still reading
  // Ends before the run's connection, after the run has committed or given
  // up: a table moved out of it goes with the commit.
  std::shared_ptr<db::BesideSchema> m_besideSchema;
  bool m_besideTried = false;
};

// The 21 fixed columns of the town-lot field list, from "地籍号" to "建筑面积".
extern const std::vector<std::string> kTownLotFixedFields;

}  // namespace landstat
