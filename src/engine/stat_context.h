#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/run_log.h"
#include "engine/table_family.h"
#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/sql_dialect.h"
#include "platform/gis/rural_code.h"

namespace landstat {
namespace db {
class BesideSchema;
class GroupedSums;
class Recordset;
struct GroupedSumsQuery;
}  // namespace db
class LayerChecks;
class NcqsLots;
struct FieldNeed;
namespace units {
class CopyRows;
class FedCopySums;
struct CopySumsRequest;
// New row totals by the row's place in its CopyRows (as units/copy_rows.h
// declares it).
using MovedTotals = std::unordered_map<std::size_t, double>;
}  // namespace units

// The layouts of the land-use summary tables.
enum class SummaryLayout {
  kFirstLevel,
  kSecondLevel,
  kThirdLevel,
  kRuralFirstLevel,
  kRuralSecondLevel,
  kRuralThirdLevel,
  kIslandFirstLevel,
  kIslandSecondLevel,
  kRuralIslandFirstLevel,
  kRuralIslandSecondLevel,
  kEnclaveFirstLevel,
  kEnclaveSecondLevel,
  kRuralOwnership,
  kOwnership,
  kSlope,
  kLedger,
  kAdjustable,
};

// How the level statements of a summary report their failures.
struct LevelPolicy {
  const char* title = "";                // log title of a failed level
  bool trace_failed_statements = false;  // a failed statement goes to the trace
  bool trace_failed_county = false;      // ... only at the county level
  bool trace_unit_statement = false;     // the unit level's statement is traced first
  bool stop_after_village = false;       // a failed village level ends the summary
  int decimals = -1;                     // each SUM is stored rounded to them (below 0: as summed)
};

// The log messages of a failed county, township, village and unit level.
extern const char* const kLevelMessages[4];

// How the area columns and rows of a converted summary table add up.
enum class SummaryShape {
  kClassLevels,      // XZQZMJ and class columns, rows by level
  kOwnershipLevels,  // ZHJ, GHJ, JHJ and G/J/HJ per class, rows by level
  kEnclavePairs,     // FRDMJ and class columns, one row per unit pair
};

// The island summary tables.
enum class IslandTableKind { kNcHdYjfl, kNcHdEjfl, kHdYjfl, kHdEjfl };

// The context of one general statistics run: the survey's layers, the code
// table, the database connection and its kind, the units and scope wanted,
// the table names, the code maps, the base table's field list and the run's
// log (StatRunLog). It lives on the stack of the export that runs the statistics; most
// builders of the engine are its methods, in files named after what they
// build.
class CStatContext : public StatRunLog {
 public:
  CStatContext(short district, short parcel, short line, short point, short jbnt_parcel,
               short jbnt_line, short jbnt_point, short change, short reserve, short dispute,
               gis::RuralCode* codes, const std::string& prefix1, const std::string& prefix2,
               const std::string& log_path, int group_level, const std::string& version);
  ~CStatContext();
  CStatContext(const CStatContext&) = delete;
  CStatContext& operator=(const CStatContext&) = delete;

  // Opens the connection and reads the units, decimals and scope; fixes the
  // unit codes, flags and base-table names. 0 when the connection fails.
  short InitUnits(const std::string& connection, short db_mode);
  // Loads the code maps and class codes from the code table, writes
  // CODETBL1 and builds the base table's field list. 0 when there is no code
  // table to read, or CODETBL1 cannot be written.
  short LoadCodes();
  // A context that builds tables beside this one, on a connection of its
  // own to the same database: the same layers, settings, units, names, code
  // maps and field list, as they are now; its log holds its lines for this
  // one to write (HoldLines). Made after LoadCodes; raises DbError when the
  // connection fails.
  std::unique_ptr<CStatContext> NewHelper() const;

  short IsTableExist(const std::string& table);
  // 1 when the table (or view) is gone. When no form of drop worked, the
  // database's own text of why is kept in m_strDropError, and
  // m_bDropLocked says whether another session's lock was the cause.
  short DropTable(const std::string& table);
  std::string GetCodeName(const std::string& code) const;
  // 1 and the name when the code is known; 0 and `name` untouched otherwise.
  short LookupCode(const std::string& code, std::string& name) const;
  short FillXzqNames(const std::string& table, const std::string& code_column,
                     const std::string& name_column);
  // The text of the SQL script STAT_<name>.sql in the folder of this
  // database kind (Access, SQL or Oracle beside StatConfig.ini); false when
  // there is no such file (callers then take the built-in copy).
  bool LoadStatSqlScript(std::string& text, const std::string& name) const;
  // Where LoadStatSqlScript looks for the script `name`.
  std::string StatSqlScriptPath(const std::string& name) const;
  // The statement of the script `name` that makes `table`: the file beside
  // the configuration, else the built-in copy `resource` (0: there is none).
  // Nothing, with one failure naming the file and the table, when neither
  // gives a statement (an empty file is one that gives none).
  std::optional<std::string> StatementScript(const std::string& name, int resource,
                                             const std::string& table);
  short SetSourceLayers(short parcel, short line, short point);
  // Of the fields of `needs` the layer of `checks` lacks, each that a family
  // of the run needs is one failure naming the layer, the field and the
  // tables not built; those families, and the families that read them, are
  // left out of the run (m_setLeftOutFamilies). Every table that needs a
  // missing field goes into m_setTablesLackingFields.
  void LeaveOutTablesWithout(LayerChecks& checks, std::span<const FieldNeed> needs);
  // Opens the connection to m_strConnect (with the settings of a working
  // copy when m_bWorkingCopy is set).
  void OpenStatConnection();
  // Gives a server session the memory its groupings of the base tables
  // need (OpenStatConnection does for the job's own connection).
  static void RaiseGroupingMemory(db::Connection& connection);
  // The groups of `query` as the server of `reader`, a connection of their
  // own, makes them (db::GroupedSums::ReadGroups) for a table its own
  // statement would otherwise fill with them (the farmland ex table):
  // planned as that statement is, for all the rows rather than the first
  // ones as a cursor's plan is, with the memory a job's groupings have, so
  // the same groups with the same sums, in the same order.
  static std::unique_ptr<db::GroupedSums> ReadGroupsAsStored(db::Connection& reader,
                                                             const db::GroupedSumsQuery& query);
  void CloseStatConnection();
  // Closes the connection, compacts a stand-alone database file and opens
  // the connection again, when a tenth of the file or more is free pages
  // (else it would rewrite the file for nothing); servers need nothing. 0
  // when a step failed.
  short CompactDatabase();

  // The change records copied into "ndChange"; 1 also when there are none.
  // A record whose 变更面积 cannot be counted (as an area of any layer) is
  // logged and not copied; a layer lacking a field the balance sheet reads
  // is one failure, and no table is made (0).
  short BuildChangeTable();
  // The area-unit table (made when missing, never dropped) and the rows of
  // this run's units and kinds.
  short CreateAreaUnitTable();
  short RecordAreaUnits();
  // Before a run builds: drops every table its families own that the
  // database holds (in the run's workspace, so a run that fails keeps
  // them), of no unit and of every unit but those KeepsTablesOfUnit keeps.
  // `replacing` a file of another year or county: the town-lot and Inner
  // Mongolia runs' tables too, every unit, and the area units it recorded.
  // Gives the tables dropped.
  std::vector<std::string> DropOwnedTables(bool replacing);
  // Its two halves: the tables a run replaces (listed before its units
  // change), and the drop of those the database holds, failures logged.
  std::vector<std::string> TablesReplaced(bool replacing) const;
  std::vector<std::string> DropEarlierTables(const std::vector<std::string>& owned);
  // The drop of one earlier table (or view); false, logged, when it failed.
  bool DropEarlierTable(const std::string& table);
  // After the run: of the tables dropped before, those it did not make
  // again are named in one notice, with the units it no longer makes,
  // which the area-unit table forgets, as it forgets the unit of a
  // converted table that is gone.
  void ForgetTablesNotRebuilt(const std::vector<std::string>& dropped);
  // A unit this run makes tables of: a wanted unit or a unit copy's.
  bool MakesUnit(short unit) const;
  // A unit this run does not make whose tables it keeps: so with units
  // taken as defaults of a missing StatConfig.ini.
  bool KeepsTablesOfUnit(short unit) const;
  // The unit recorded for a kind of statistics ("土地利用") or a converted
  // table ("TDLY_YJFL") in this year: RecordTableUnit keeps one row for it
  // (none for kNoUnit);
  // RecordedUnit gives kNoUnit when none is recorded (may throw DbError).
  short RecordTableUnit(const std::string& type, short unit);
  short RecordedUnit(const std::string& type);
  // The base table: created from the field list, filled from the linear
  // features, scattered features and parcels. A piece the table refuses, a
  // missing field or an area that is no number is logged naming the layer
  // and the record. A server takes one stream of rows on one core, slower
  // than the pieces are booked: given a second connection (`beside`, in a
  // transaction of its own, which the caller commits), the fill sends every
  // other turn of rows through it, and the server takes both at once.
  short CreateStatDataTable();
  short BuildStatDataDirect(db::Connection* beside = nullptr);
  // The unit copies of the base table and the extension table statdataex;
  // the copies filled, converted and rounded to their units.
  short CreateUnitStatTables();
  short FillUnitStatTables();
  // Drops the unit copies and the extension table, where they exist.
  void DropUnitStatTables();
  // Fills one copy (created empty) with the base table's rows, areas
  // converted from the source unit and rounded; a copy in the source unit
  // keeps the figures as they are unless `round_source` is set.
  short FillUnitCopy(const std::string& name, short unit, short decimals,
                     bool round_source = false);
  // Makes one copy anew, fills it as FillUnitStatTables fills the copies,
  // and balances a copy in another unit. 0 when it failed (logged).
  short MakeBalancedUnitCopy(short unit, const std::string& name);
  // The unit copies that exist in this run, with their units.
  std::vector<std::pair<short, std::string>> UnitCopies() const;
  // The area columns of the base table: "土地总面积" and the class columns.
  std::vector<std::string> AreaColumns() const;

  // The ownership-unit code table QSDMB (every administrative code of the
  // code table, filled up with "0" to nineteen characters, with its name),
  // and the district table ZB_XZXQ (行政区代码 and 描述说明 of every village
  // of the district layer; '01' marks an island village). A district layer
  // lacking either field is one failure: the table is not made, and the
  // families that read it are left out.
  short CreateQsdmbTable();
  short FillQsdmbTable();
  short CreateXzxqTable();
  short FillXzxqTable();

  // Balancing of the unit copies (rounded figures made to add up again, in
  // steps of one unit of the last decimal). BalanceStatData: for each wanted
  // unit the villages add up to the converted region total, the rows of a
  // village to the village, the class columns of a row to the row, parent
  // classes to their leaves and extension classes to their parent.
  // BalanceStatDataByUnit: the same without the village level, for the
  // farmland copies. Each copy is read once into memory (units::CopyRows),
  // the passes decide there and only the changed rows are written back.
  // Rows of a copy and of the source are paired by their number 序号 (the
  // farmland copies by the columns they are condensed by). A distribution
  // that cannot reach its total stops and is logged; it never runs without
  // end.
  short BalanceStatData();
  // The same, where the copies in `filled` are already in memory; they are
  // there again once balanced.
  short BalanceStatData(std::vector<std::unique_ptr<units::CopyRows>>& filled);
  // The summaries' sums of the copy of `unit` named `copy` (CopySums), to be
  // made as the copy is filled; none when the unit's summaries are not
  // wanted.
  std::vector<units::CopySumsRequest> FedSumsRequests(short unit, const std::string& copy) const;
  // Keeps the sums made as the copies were filled and balanced for the
  // summaries (m_mapFedSums), but those a change made stale.
  void KeepFedSums(std::vector<units::FedCopySums>& sums);
  void KeepFedSums(const std::string& key, std::unique_ptr<db::GroupedSums> sums);
  // Balances one filled copy in `unit` against the source-unit table
  // `source` (rows paired by 序号), whose region total is `source_total`
  // when given.
  short BalanceUnitCopy(const std::string& source, const std::string& copy, short unit,
                        short decimals, std::optional<double> source_total = {});
  // The same for a copy already read, against the source's region total.
  short BalanceReadCopy(const std::string& source, units::CopyRows& rows, short unit,
                        short decimals, double region);
  short BalanceStatDataByUnit();
  // The same, where the target copies in `filled` are already in memory.
  short BalanceStatDataByUnit(std::vector<std::unique_ptr<units::CopyRows>>& filled);
  // The same for the farmland copies `unit1` and `unit2` (empty: none) of
  // another farmland base table, against its source-unit copy `source`.
  short BalanceJbntCopies(const std::string& source, const std::string& unit1,
                          const std::string& unit2);
  double RegionTotal(const std::string& table);
  double UnitTotal(double source_total, short unit, short decimals) const;
  // The village totals of a copy stepped to the region total: `codes` and
  // `totals`, villages by total, largest first.
  short BalanceVillageTotals(const units::CopyRows& rows, double region_total, short decimals,
                             std::vector<std::string>& codes, std::vector<double>& totals);
  // The new totals of the rows that took a step towards their village's
  // total.
  units::MovedTotals BalanceUnitsInVillages(const units::CopyRows& rows, short decimals,
                                            const std::vector<std::string>& codes,
                                            const std::vector<double>& totals);
  short BalanceRowsToTotal(const units::CopyRows& rows, double source_total, short unit,
                           short decimals, units::MovedTotals& moved);
  int HasSubClassField(const std::string& column) const;
  // The class pass over a copy against its source table, with the row
  // totals `new_totals` taken first and the extension columns balanced
  // after; only the rows that change are written, all of them or none.
  short BalanceClassAreas(const std::string& source_table, units::CopyRows& rows, short decimals,
                          const units::MovedTotals& new_totals);
  // A converted land-use summary table made to add up again: by level
  // (county, townships, villages, units) with classes to totals, or row by
  // row for the enclave tables of unit pairs.
  short BalanceSummaryLevels(const std::string& table, SummaryShape shape);
  // A total column and the columns it is the sum of.
  using ColumnSum = std::pair<std::string, std::vector<std::string>>;
  // The unit rows (19-character codes) of a converted summary table made to
  // add up to their village row (12 characters), which stays as it is: each
  // column of `stepped` of the units steps to the village's figure, largest
  // first, then each total of `sums`, in order, becomes the sum of its
  // columns in every unit row. 1, or 0 after a logged failure (the table
  // as it was).
  short BalanceUnitRows(const std::string& table, const std::vector<std::string>& stepped,
                        const std::vector<ColumnSum>& sums, int decimals);
  // The slope table and the farmland tables after a unit conversion.
  short BalanceGdPdMjHz();
  short BalanceJbntQktj();
  short BalanceJbntBhkQktj();

  // Land-use summary tables (landuse/). Each family has a create driver that
  // makes every wanted copy (scope Z/Q, unit PM/MU/GQ) empty and a body that
  // creates one copy of the family's layout; the fills then insert the rows.
  std::vector<std::string> SummaryCopies(const std::string& base, bool location_only) const;
  std::string SummaryLayoutStatement(SummaryLayout layout, const std::string& name) const;
  short CreateSummaryTable(SummaryLayout layout, const std::string& name, bool record = true);
  short CreateSummaryCopies(const std::string& base, SummaryLayout layout, bool location_only);
  short CreateConvertedTable(const std::string& base, SummaryLayout layout);
  short CreateTdlyYjflTable(const std::string& name);
  short CreateTdlyEjflTable(const std::string& name);
  short CreateTdlySjflTable(const std::string& name);
  short CreateNcTdlyYjflTable(const std::string& name);
  short CreateNcTdlyEjflTable(const std::string& name);
  short CreateNcTdlySjflTable(const std::string& name);
  short CreateHdTdlyYjflTable(const std::string& name);
  short CreateHdTdlyEjflTable(const std::string& name);
  short CreateNcHdTdlyYjflTable(const std::string& name);
  short CreateNcHdTdlyEjflTable(const std::string& name);
  short CreateFrdTdlyYjflTable(const std::string& name);
  short CreateFrdTdlyEjflTable(const std::string& name);
  short CreateNcTdlyQsYjflTable(const std::string& name);
  short CreateTdlyQsYjflTable(const std::string& name);
  short CreateGdPdMjHzTable(const std::string& name);
  short CreateTdlyTzTable(const std::string& name);
  short CreateKtzTable(const std::string& name);
  short CreateTdlyYjflTables();
  short CreateTdlyEjflTables();
  short CreateTdlySjflTables();
  short CreateNcTdlyYjflTables();
  short CreateNcTdlyEjflTables();
  short CreateNcTdlySjflTables();
  short CreateNcTdlyQsYjflTables();
  short CreateTdlyQsYjflTables();
  short CreateHdTdlyYjflTables();
  short CreateHdTdlyEjflTables();
  short CreateNcHdTdlyYjflTables();
  short CreateNcHdTdlyEjflTables();
  short CreateFrdTdlyYjflTables();
  short CreateFrdTdlyEjflTables();
  short CreateGdPdMjHzTables();
  short CreateTdlyTzTables();
  short CreateKtzTables();
  short CreatePewyYjflTables();
  short CreatePewyEjflTables();
  short CreatePewyYjEjflTables();
  short CreateWpxjEjflTables();
  short CreatePzyjEjflTables();
  short Create2009PEjflTables();
  short Create2009BEjflTables();
  short Create2010ZhEjflTables();
  short CreateNcTdlyYjflNohdTables();
  short CreateNcTdlyEjflNohdTables();
  short CreateNcTdlyQsYjflNohdTables();
  short CreateTdlyYjflConvertedTable();
  short CreateTdlyEjflConvertedTable();
  short CreateNcTdlyYjflConvertedTable();
  short CreateNcTdlyEjflConvertedTable();
  short CreateNcTdlyQsYjflConvertedTable();
  short CreateTdlyQsYjflConvertedTable();
  short CreateFrdTdlyYjflConvertedTable();
  short CreateFrdTdlyEjflConvertedTable();
  short CreateGdPdMjHzConvertedTable();

  // Runs one summary's level statements (county, township, village and,
  // with the group level, the unit); 0 when the unit level failed (or the
  // village level, when the policy says so).
  short RunLevelStatements(const std::vector<std::string>& statements, const LevelPolicy& policy);
  // The statements of each summary family, for every dialect. `coarse`,
  // when given, is read instead of `source` by the levels that group by
  // village or owner codes only (CoarseSource).
  std::vector<std::string> TdlyClassStatements(short kind, const std::string& source,
                                               const std::string& target, short scope,
                                               const std::string& coarse = {}) const;
  std::vector<std::string> NcTdlyClassStatements(short kind, const std::string& source,
                                                 const std::string& target, short scope,
                                                 const std::string& coarse = {}) const;
  // A summed copy summed again by the village codes and names (scope Z) or
  // by the owner's code (scope Q): the county, township and village levels
  // of scope Z and every level of scope Q group by nothing else, and read
  // a few hundred rows instead of tens of thousands. Empty when `summed` is
  // no summed copy or the table cannot be made.
  std::string CoarseSource(const std::string& summed, short scope);
  std::vector<std::string> IslandStatements(IslandTableKind kind, const std::string& source,
                                            const std::string& target, short scope) const;
  std::vector<std::string> ConvertedClassStatements(short kind, bool rural);
  // The converted class summary's levels grouped in memory from one scan of
  // its source on the embedded engine, each written as its statement
  // writes it; none when the source cannot be read so (noticed), and the
  // statements run instead.
  std::optional<short> SumConvertedClassInMemory(short kind, bool rural, const LevelPolicy& policy);
  // The sum list, the column list (closed by ")") and the total of the
  // first-level columns of a kind's classes; rural lists leave out 05 to 09.
  // Besides: the class columns one by one, and the total of a row that the
  // total sums.
  struct ClassLists {
    std::string sums, columns, total_sum;
    std::vector<std::string> classes;
    std::string row_total;
  };
  ClassLists ClassSumLists(short kind, bool rural) const;

  // The class summaries by level: county, township, village and, with the
  // group level, the ownership unit; scope Z by location, Q by ownership.
  short StatTdlyClass(short kind);
  short StatTdlySjfl();
  short SumTdlyClass(short kind, const std::string& source, const std::string& target, short scope);
  short StatNcTdlyClass(short kind);
  short StatNcTdlySjfl();
  // Copies into `target` the rows the level statements of the rural
  // second-level table `second` wrote, when every one of them ran in this
  // run on the embedded engine (m_setWholeSummaries): the third-level
  // table's statements are the same. False when it copied nothing.
  bool CopyRuralSecondLevelRows(const std::string& second, const std::string& target, short scope);
  // `decimals`: those of the source's unit, to which the sums are rounded.
  short SumNcTdlyClass(short kind, const std::string& source, const std::string& target,
                       short scope, int decimals = -1);
  short StatNcTdlyGdEjfl();
  short MakeNcTdlyGdEjflTable(const std::string& source, const std::string& target);
  // The island tables: only the base rows of island villages (描述说明 '01'
  // in the district table, or in the base table when it carries the column).
  short StatIslandTable(IslandTableKind kind);
  // `decimals`: those of the source's unit, to which the sums are rounded.
  short SumIslandTable(IslandTableKind kind, const std::string& source, const std::string& target,
                       short scope, int decimals = -1);
  short StatNcHdTdlyYjfl();
  short StatNcHdTdlyEjfl();
  short StatHdTdlyYjfl();
  short StatHdTdlyEjfl();
  short SumNcHdTdlyYjfl(const std::string& source, const std::string& target, short scope);
  short SumNcHdTdlyEjfl(const std::string& source, const std::string& target, short scope);
  short SumHdTdlyYjfl(const std::string& source, const std::string& target, short scope);
  short SumHdTdlyEjfl(const std::string& source, const std::string& target, short scope);
  // The unit-less rebuilds of the unit conversion (by location only).
  short SumConvertedClass(short kind, bool rural);
  short SumTdlyClassConverted(short kind);
  short SumNcTdlyClassConverted(short kind);
  // The table the class summaries of a unit read: the unit copy summed by
  // level and unit codes, made once per connection (once for every
  // connection of a server run that builds beside it: ShareUnitCopySums).
  std::string SummarySource(short unit, const std::string& copy_base = "statdata");
  // The cultivated land of a copy summed once by level and unit codes,
  // slope grade and land type, for the slope table's levels (the copy
  // itself when that table cannot be made).
  std::string SlopeSource(const std::string& copy);
  // The same for the unit-less tables the rebuilds of a unit conversion
  // read ("statdataex", "statdata"): the table summed as `sums` says, made
  // once per connection (the table itself when that cannot be made).
  std::string ConvertedSource(ConvertedSums sums, const std::string& base);
  // A copy summed into a temporary table for the connection's life, kept
  // under `key` (see SummarySource, SlopeSource).
  struct SummedRequest {
    std::string key;
    std::string name;
    db::GroupedSumsQuery query;
    const char* notice;  // says, when the table cannot be made, that the copy is read instead
    // The column the query's filter asks to be neither 0 nor null; empty:
    // no filter.
    std::string nonzero = {};
  };
  SummedRequest LevelSums(const std::string& copy, const std::string& name) const;
  // The sums SummarySource makes of the copy of `unit` named by `copy_base`:
  // by level, and of "statdata" copies by slope too; SharedCopySums, those
  // ShareUnitCopySums makes under names of their own.
  std::vector<SummedRequest> CopySums(short unit, const std::string& copy_base) const;
  std::vector<SummedRequest> SharedCopySums(short unit) const;
  // The cultivated land of a copy by level and unit codes, slope grade and
  // land type (SlopeSource).
  SummedRequest SlopeSums(const std::string& copy) const;
  // The columns `areas` of the collective land of a copy lying in another
  // unit than its owner's, outside the classes 05 to 09, by location and
  // owner unit and nature (the enclave pairs of a conversion).
  SummedRequest EnclavePairSums(const std::string& copy,
                                const std::vector<std::string>& areas) const;
  // The request ConvertedSource makes; kNone gives none.
  std::optional<SummedRequest> ConvertedSumsRequest(ConvertedSums sums,
                                                    const std::string& base) const;
  // Makes the summed tables not made yet, reading their copies at the same
  // time. A table that cannot be made is noticed and left out, so that its
  // readers read the copy itself: the same figures, only slower.
  // `temporary`: the connection's own tables, else tables of the schema.
  void PrepareSummedTables(const std::vector<SummedRequest>& requests, bool temporary = true);
  // The prepared table of `key`, or `copy` when there is none.
  std::string PreparedOr(const std::string& key, const std::string& copy) const;
  // Makes the temporary table `name` by the grouping statement itself
  // (without rows), so that it has the columns and types that statement
  // gives; a DbError goes to the caller.
  void CreateSummedTable(const db::GroupedSumsQuery& query, const std::string& name,
                         bool temporary = true);
  void ForgetSummarySources();
  // For the connections of a run that build beside each other (see
  // BuildFamilies): sums the unit copy of `unit` as SummarySource and
  // SlopeSource do, once, into tables of the run's schema that every
  // connection of the run reads once committed; gives those made, under
  // their keys. AdoptSummedTables makes a connection read them.
  // A sum that cannot be made is noticed and left out; its table, made or
  // not, is among SharedCopySumTables, which the run drops before it
  // publishes.
  std::map<std::string, std::string> ShareUnitCopySums(short unit);
  std::vector<std::string> SharedCopySumTables() const;
  void AdoptSummedTables(const std::map<std::string, std::string>& tables);
  // Calls `fill(source copy, target, scope)` for every wanted unit and scope
  // of a family, scope Z first, square metres, hectares, mu.
  // `source_base` names the unit copies read ("statdata"); `summed_source`:
  // read them summed by level (SummarySource).
  // Calls `fill(target, scope, unit)` for every wanted unit and scope of a
  // family, scope Z first, square metres, hectares, mu.
  void ForEachSummaryTable(const std::string& base,
                           const std::function<void(const std::string&, short, short)>& fill);
  void ForEachSummaryCopy(
      const std::string& base,
      const std::function<void(const std::string&, const std::string&, short)>& fill,
      bool summed_source = true, const std::string& source_base = "statdata");

  // The cultivated-land slope summary: BM01 by unit, slope grade and
  // cultivated-land type, one row per unit.
  short StatGdPdMjHz();
  // `decimals`: those of the source's unit, to which the sums are rounded
  // (below 0: as summed).
  short SumGdPdMjHz(short level, const std::string& target, const std::string& source, short scope,
                    int decimals = -1);
  // Every level of the slope tables `targets` (each with its scope) grouped
  // in memory from one read of the slope sums `sums_table`; false, with
  // nothing written, where they are not read that way (then each level runs
  // its own statement).
  bool SumGdPdMjHzLevels(const std::vector<std::pair<std::string, short>>& targets,
                         const std::string& sums_table, int decimals);
  short SumGdPdMjHzConverted();
  short SumGdPdMjHzConvertedLevel(short level);
  short AccumulateSlope(const std::string& query, const std::string& target, short scope,
                        bool numbered, const char* title, int decimals = -1);
  // The ownership-nature summaries (state-owned G, collective J) by level
  // 1 unit to 6 province, scope Z by location or Q by ownership.
  std::string OwnershipQuery(short level, bool rural, const std::string& source, short scope) const;
  // `decimals`: those of the source's unit, to which the sums are rounded
  // (below 0: as summed).
  short SumTdlyQsYjfl(short level, int rural, const std::string& target, const std::string& source,
                      short scope, int decimals = -1);
  short StatTdlyQsYjfl(int rural);
  // Fills every wanted table of `base` with the levels 4 to 1 of the
  // ownership summary of the unit's summed copy named by `copy_base`.
  short FillOwnershipTables(const std::string& base, int rural, const std::string& copy_base);
  short SumTdlyQsYjflConverted(int rural);
  // The land-use ledger: one row per location unit, owner, parcel and
  // ownership nature, from the base table, converted to each copy's unit.
  short StatTdlyTz();
  short SumTdlyTz(const std::string& target);
  // The embedded engine's ledgers of every wanted unit from one summing,
  // the source unit's into `summed`.
  short WriteTdlyTzLedgers(const std::string& summed);
  // The rural table by ownership nature at every class level, from the
  // installation's scripts "NCQSYJFL" (and on the embedded database
  // "NCQSYJFL2", "NCQSYJFL3"), with the code table NCTDLYQS for names.
  short BuildNcTdlyQsCodeTable();
  // The code table when every script is there; 0, with one failure naming
  // the script missing, when one is not: the tables are not made then.
  short CreateNcTdlyQsSjflTables();
  // `decimals`: those of the sources' unit, to which the scripts' sums are
  // rounded (below 0: as summed).
  short MakeNcTdlyQsSjfl(const std::string& target, const std::string& source,
                         const std::string& code_table, int by_location, int decimals = -1);
  // The same with a source for each script (totals, state-owned, collective).
  short MakeNcTdlyQsSjfl(const std::string& target, const std::vector<std::string>& sources,
                         const std::string& code_table, int by_location, int decimals = -1);
  short StatNcTdlyQsSjfl();
  // The tables the embedded database's scripts read for a unit and scope.
  std::vector<std::string> OwnershipScriptSources(short unit, bool by_location);
  void DropOwnershipScriptSources();
  // The scripts' column lists; `classified`: their sources hold the
  // state-owned and the collective rows apart (OwnershipScriptSources).
  std::vector<std::string> OwnershipColumnLists(bool server, bool classified = false) const;
  std::string OwnershipScriptJoin(const std::string& target);
  bool ReplaceTableForScript(const std::string& table);
  // The rural summaries without the island villages ("duda"): made from
  // copies of the unit copies that keep only the listed, unmarked villages.
  int CopyStatDataWithoutIslands(db::Connection& connection, const std::string& source,
                                 const std::string& copy, int dialect);
  short CreateStatDataNohd();
  short StatNohdTables(short kind);
  short StatQsYjflNohdTables(int kind);
  // The adjustable-land summary KTZ (remarks K and KB) by village,
  // township and county; the embedded road balances its hectare and mu
  // tables against the square-metre table.
  short StatKtz();
  // Runs `fill` with the base table's rows remarked adjustable ('K', 'KB')
  // or approved but unused ('P') copied once into a temporary table, which
  // RemarkedRows names while it runs; outside it (or where the copy cannot
  // be made) RemarkedRows is the base table itself. Between
  // KeepRemarkedRows and ReleaseRemarkedRows the copy made for one fill is
  // kept for the next ones (the families of a run built in turn), then
  // dropped.
  void WithRemarkedRows(const std::function<void()>& fill);
  void KeepRemarkedRows();
  void ReleaseRemarkedRows();
  const std::string& RemarkedRows() const;
  short SumKtzFixedClasses(const std::string& target, short scope, short unit, short decimals);
  short SumKtz(const std::string& target, short scope, short unit, short decimals);
  short BalanceKtzTotals(const std::string& reference, const std::string& target, double step,
                         int decimals, double factor);
  void BalanceKtzVillageTotals(const std::string& target, double difference, double step,
                               int decimals);
  void BalanceKtzRows(const std::string& target, double step, int decimals);
  // Runs one level statement; a failure is logged with the title and the
  // level's message (and the statement traced when asked).
  bool RunLoggedStatement(const std::string& statement, const char* title, const char* message,
                          bool trace_failure);
  // Runs `fill` with the rows of each grouping `select` that
  // RunSharedGrouping meets kept in a temporary table the first time, so
  // that the tables of every unit that insert the same rows before they
  // are converted copy them instead of grouping again; dropped after it.
  void WithSharedGroupings(const std::function<void()>& fill);
  // Runs `head` + `select` as RunLoggedStatement does; while
  // WithSharedGroupings runs on the embedded engine, from the rows of the
  // same `select` kept in a temporary table (made now when it is new; where
  // it cannot be made, the statement runs, as it does elsewhere).
  bool RunSharedGrouping(const std::string& head, const std::string& select, const char* title,
                         const char* message, bool trace_failure);
  // The township (9) or county (6) rows of a level table, summed from the
  // rows one level below in the same table, each sum rounded to the table's
  // decimals (below 0: as summed).
  std::string LevelRollUp(const std::string& head, const std::string& sums,
                          const std::string& target, int length, int decimals) const;
  // Land approved for construction but not yet used (remark 'P'): the
  // second-level summary, its first-level copy and the parcel list.
  short StatPewyEjfl();
  short SumPewyEjfl(const std::string& target, short scope, short unit, short decimals,
                    const std::string& field, const std::string& value1, const std::string& value2);
  short SumRemarkEjfl(const std::string& target, short scope, short unit, short decimals,
                      const std::string& field, const std::string& value1,
                      const std::string& value2, const std::string& condition);
  short SumRemarkLevels(const std::string& target, short scope, short unit, short decimals,
                        const std::string& field, const std::string& value1,
                        const std::string& value2, const std::string* condition);
  short StatPewyYjfl();
  short SumPewyYjfl(const std::string& target);
  short StatPewyTbl();
  short MakePewyTbl(const std::string& target, short unit, short decimals);
  // The fixed decimals of these tables by unit (not the configured ones).
  static short PewyDecimals(short unit);
  // The new-construction marker tables ("duda") and the two script tables
  // made from them.
  short StatMarkerTable(int index);
  short StatPewyEjflByMarker();
  short StatPewyYjEjfl();
  short StatWpxjEjfl();
  short StatPzyjEjfl();
  short Stat2009PEjfl();
  short Stat2009BEjfl();
  short Stat2010ZhEjfl();
  short StatPjwEjfl();
  short StatNdjsydEjfl();
  short RunMarkerScript(const char* name, int resource, const std::string& target,
                        const std::vector<std::string>& sources);
  short RunPjwEjflScript(const std::string& target, const std::string& source_a,
                         const std::string& source_b, const std::string& source_c);
  short RunNdjsydEjflScript(const std::string& target, const std::vector<std::string>& sources);
  // The enclave summaries: collective land lying outside its owner's unit.
  short StatFrdTdly(short kind);
  // `decimals`: those of the source's unit, to which the sums are rounded
  // (below 0: as summed).
  short SumFrdTdly(short kind, const std::string& target, const std::string& source,
                   int decimals = -1);
  short SumFrdTdlyByLevel(short kind, const std::string& target, const std::string& source,
                          int decimals = -1);
  short SumFrdTdlyConverted(short kind);
  short RunEnclaveStatement(const std::string& statement, const char* title, const char* message,
                            bool trace);
  // Whether a unit is wanted (its flag set); whether summary tables are
  // made in it: wanted and, for square metres, those tables not turned off.
  bool WantsUnit(short unit) const;
  bool WantsSummaryUnit(short unit) const;
  // The configured decimals of a unit: those of its place among the wanted
  // units, else those of the source unit.
  short DecimalsOf(short unit) const;

  // Empty base tables of the farmland and rural ownership-lot pipelines.
  short CreateJbntStatTable();
  short CreateJbntExTable();
  short CreateUnitJbntTables();
  short CreateUnitJbntTable(const std::string& table);
  short CreateNcqsStatTable();
  // The statement that makes a table `table` of the columns of
  // statdata_ncqs, with `options` after its columns.
  std::string NcqsStatTableStatement(const std::string& table, const std::string& options) const;

  // The rural ownership-lot tables (lots/ncqs_*.cpp).
  // NcqsParcelsInCounty: whether a parcel lies in the run's county; when
  // none does, a failure naming the county code given and the one the
  // parcels carry.
  // NcqsParcelLots: the lot number "地籍号" of the lot of `lot_layer` that
  // holds a point inside each parcel of the county, by the keys that find
  // the parcel's rows (same number, location code and ownership nature),
  // with the unit its per-lot sums are taken in (the host's setting
  // ZD_SET/宗地面积单位, hectares without one); parcels in no lot are
  // counted in one notice. A parcel whose point lies in two lots or more,
  // and the lots of a number several lots carry, are logged and give no
  // lot number. Nothing after a logged failure.
  // BuildNcqsStatData: statdata_ncqs (created empty) filled from the linear
  // features, the scattered features and the parcels, one row per piece
  // booked to a parcel; a record whose values cannot be counted, and a
  // piece located in another county, is logged naming layer, record and
  // field and left out. With `lots`, each row gets the lot number of its
  // parcel as it is written, and the rows with one are summed into `lots`
  // per lot, location unit, owner and ownership nature. 0 when the table
  // cannot be written, a layer lacks a field the rows need or no parcel
  // lies in the county. With `beside` (on a server), the rows are stored on
  // two connections into a table made there, which then takes the place of
  // the empty statdata_ncqs in the run's transaction.
  // BuildNczdAreaTable: the per-lot sums of `lots` replace this county's
  // rows of NCZD_AREA (made when missing). 0 after a logged failure, with
  // the county's earlier rows kept.
  bool NcqsParcelsInCounty();
  std::unique_ptr<NcqsLots> NcqsParcelLots(short lot_layer);
  short BuildNcqsStatData(NcqsLots* lots, db::BesideSchema* beside = nullptr);
  short BuildNczdAreaTable(const NcqsLots& lots);

  // Basic-farmland base data. BuildJbntParcelData: one row of the farmland
  // base table per farmland parcel of the parcel source layer; 0 when the
  // layer lacks a field the rows need or the table cannot be written.
  // StatJbntBaseData: the farmland stage of a run (the base table filled,
  // condensed into a copy per wanted unit, converted and balanced); 0 when
  // there is no farmland parcel layer, its base table was not filled or the
  // copies cannot be made.
  // BuildJbntBaseDataPM/GQ/MU/Ex: the condensing inserts into the square-
  // metre, hectare and mu copies and the ex table. ConvertJbntUnits: the
  // target copies converted from the source unit, by the statements of
  // JbntConversionStatements (in the order they run).
  short BuildJbntParcelData();
  short StatJbntBaseData();
  short BuildJbntBaseDataPM();
  short BuildJbntBaseDataGQ();
  short BuildJbntBaseDataMU();
  short BuildJbntBaseDataEx();
  // The ex table created and filled, once per context (the conversion's
  // rebuilds of the situation and protection-block tables both read it).
  short RebuildJbntExTable();
  // The farmland base table's rows grouped as the ex table keeps them, and
  // the key in m_mapFedSums where BuildJbntBaseDataEx finds them when they
  // were read before: on a server, the groups its own grouping made
  // (db::GroupedSums::ReadGroups), which the ex table then takes in the
  // order the server gave them. None for Oracle.
  std::optional<units::CopySumsRequest> JbntExSumsRequest() const;
  // The copies of the wanted units in the order square metres, hectares,
  // mu, each as its builder makes it, the target copies converted as they
  // are stored (on Oracle by ConvertJbntUnits after); failures
  // are logged and the next step still runs.
  void BuildJbntBaseDataCopies();
  // The same, the rows of the target copies the balancing reads kept in
  // `filled` as they are written, where they can be
  // (BalanceStatDataByUnit(filled) takes them).
  void BuildJbntBaseDataCopies(std::vector<std::unique_ptr<units::CopyRows>>& filled);
  // `base`: the farmland base table whose unit copies are converted.
  short ConvertJbntUnits(const std::string& base = "statdata_jbnt");
  // `as_run`: the statements the engine runs, which on the embedded engine
  // skip the figures that are 0 and give the same figures faster.
  std::vector<std::string> JbntConversionStatements(
      bool as_run = false, const std::string& base = "statdata_jbnt") const;
  // The condensing insert of the farmland rows of `source` into `target`,
  // its copy in `unit` (marks kept): 1, 0 after a logged failure, -1 when
  // the square-metre copy's row-lock limit stays too low.
  short CondenseJbntRows(const std::string& source, const std::string& target, short unit);
  // The columns the farmland copies are condensed by, 座落单位代码 first:
  // every copy of a farmland base table holds each group once, so they pair
  // a target copy's row with its source row.
  std::vector<std::string> JbntCopyKey() const;

  // The Guangdong farmland set (farmland/jbnt_gd_*.cpp), under "广东农村":
  // its own base table statdata_jbntGD filled from the three farmland
  // layers (linear features split between the parcels on their sides,
  // scattered features inside parcels, parcels with their deductions), its
  // unit copies condensed, converted and balanced, then the adjustable and
  // situation tables before supplementing (JBNTKTZGD, JBNTQKTJGD, from the
  // Guangdong data) and after it (JBNTKTZGDBHH, JBNTQKTJGDBHH, from the
  // general farmland copies). StatJbntBaseDataGd: the base-data stage, 0
  // (and m_nJbntGdBaseData 0) when there is no farmland parcel layer or the
  // table or its copies cannot be made.
  short CreateJbntStatTableGd();
  short StatJbntBaseDataGd();
  short BuildJbntParcelDataGd();
  short CreateUnitJbntTablesGd();
  short BuildJbntBaseDataPMGd();
  short BuildJbntBaseDataGQGd();
  short BuildJbntBaseDataMUGd();
  short ConvertJbntUnitsGd();
  short BalanceJbntGd();
  short CreateJbntKtzGdTables();
  short StatJbntKtzGd();
  // One table in `unit` with `decimals`; 0 when the unit level failed.
  short SumJbntKtzGd(const std::string& table, short scope, short unit, short decimals);
  short CreateJbntQktjGdTables();
  short CreateJbntQktjGdTable(const std::string& name);
  short StatJbntQktjGd();
  short SumJbntQktjGdLevels(const std::string& target, const std::string& source, bool unit_level,
                            short scope, int decimals);
  short SumJbntQktjGd(const std::string& target, const std::string& source, int level, short scope,
                      int decimals);
  short CreateJbntKtzGdBhhTables();
  short StatJbntKtzGdBhh();
  short CreateJbntQktjGdBhhTables();
  short StatJbntQktjGdBhh();

  // Farmland situation tables JBNTQKTJ (farmland/jbnt_situation_tables.cpp).
  // The create pass makes the wanted copies (MU, GQ, PM, Z before Q); the
  // fill sums each from the unit copy of the farmland base table, level by
  // level (county, township, village, and the 19-character units when
  // `unit_level`), scope 0 by location, 1 by ownership. A level that fails
  // is logged and ends its table. The unit-less table is the unit
  // conversion's, rebuilt from the ex table.
  short CreateJbntQktjTables();
  short CreateJbntQktjTable(const std::string& table);
  short CreateJbntQktjConvertedTable();
  short StatJbntQktj();
  // The table the situation levels of a unit read: the unit's farmland copy
  // summed by level and unit codes and the transfer remark, made with the
  // copies of every wanted unit (the copy itself where it cannot be made).
  std::string JbntSummarySource(short unit);
  // The situation levels' sums of the farmland copy of `unit`
  // (JbntSummarySource), and the same to be made as the copy is written or
  // read (none when the unit's summaries are not wanted).
  SummedRequest JbntLevelSums(short unit) const;
  std::vector<units::CopySumsRequest> JbntFedSumsRequests(short unit) const;
  // `decimals`: those of the copy's unit, to which the sums and their
  // totals are rounded (below 0: as summed).
  short SumJbntQktjLevels(const std::string& target, const std::string& source, bool unit_level,
                          short scope, int decimals = -1);
  short SumJbntQktj(const std::string& target, const std::string& source, int level, short scope,
                    int decimals = -1);
  short StatJbntQktjConverted();
  // The INSERT ... SELECT of one level (4 county, 3 township, 2 village,
  // 1 unit) in this database's dialect.
  std::string JbntQktjStatement(const std::string& target, const std::string& source, int level,
                                short scope, int decimals = -1) const;

  // Farmland protection-block tables JBNTBHKQKTJ and JBNTNEWBHKQKTJ
  // (farmland/jbnt_block_tables.cpp).
  // Z tables only, one row per block. The create-all passes and the fill
  // drivers always return 1 (their single steps log what fails); the single
  // creates and fills return 1, or 0 after a logged failure.
  short CreateJbntBhkQktjTables();
  short CreateJbntNewBhkQktjTables();
  short CreateJbntBhkQktjTable(const std::string& table);
  short CreateJbntNewBhkQktjTable(const std::string& table);
  // The unit-less table of the unit conversion.
  short CreateJbntBhkQktjConvertedTable();
  // Row by row, with the subtotals; an error leaves none of this fill's rows.
  // `decimals`: those of the copy's unit, to which the sums and subtotals
  // are rounded (below 0: as summed).
  short SumJbntBhkQktj(db::Connection& connection, const std::string& target,
                       const std::string& source, int decimals = -1);
  // One INSERT ... SELECT ... GROUP BY (JbntNewBhkQktjInsert).
  short SumJbntNewBhkQktj(db::Connection& connection, const std::string& target,
                          const std::string& source, int decimals = -1);
  short StatJbntBhkQktj();
  short StatJbntNewBhkQktj();
  // The create statement (with the dialect's type words) of the fixed or
  // the all-class table, and the all-class fill's statement.
  std::string JbntBlockCreateStatement(const std::string& table, bool all_classes) const;
  std::string JbntNewBhkQktjInsert(const std::string& target, const std::string& source) const;

  // Adjustable-farmland tables JBNTKTZ and BHKKTZ
  // (farmland/jbnt_adjustable_tables.cpp).
  // The create drivers make every wanted scope and unit copy (Z before Q,
  // square metres, mu, hectares); the fills sum one copy each from the unit
  // copy of the farmland base table. SumJbntKtz: villages with their rows
  // of 0, village groups when asked (0 when they fail), townships and the
  // county from the table's own rows, names last. SumBhkKtz: one row per
  // protection block, 0 for blocks without adjustable land.
  short CreateJbntKtzTables();
  short CreateBhkKtzTables();
  short CreateJbntKtzTable(const std::string& name);
  short CreateBhkKtzTable(const std::string& name);
  short StatJbntKtz();
  short StatBhkKtz();
  // `decimals`: those of the copy's unit, to which the sums are rounded
  // (below 0: as summed).
  short SumJbntKtz(const std::string& target, short scope, const std::string& source,
                   int decimals = -1);
  short SumBhkKtz(const std::string& target, short scope, const std::string& source,
                  int decimals = -1);

  // Farmland area tables made from SQL text (farmland/jbnt_area_tables.cpp).
  // Each driver makes its table in every wanted scope and unit from the unit
  // copy of statdata_jbnt and always returns 1; the Q tables then take their
  // names from the code table. Each make body (target, source) drops the
  // target and makes it by one select-into of the table's SQL text: 0 when
  // the text is missing (traced) or the statement failed (logged, traced).
  // JbntAreaStatement: that statement, empty when the text is missing.
  short StatJbntBhmj();
  short StatJbntTxqmj();
  short StatJbntBsmj();
  short StatJbntGhwsmj();
  short StatJbntTcmj();
  short StatJbntBgjmj();
  short StatJbntTchbhqmj();
  short MakeJbntBhmjTable(const std::string& target, const std::string& source);
  short MakeJbntTxqmjTable(const std::string& target, const std::string& source);
  short MakeJbntBsmjTable(const std::string& target, const std::string& source);
  short MakeJbntGhwsmjTable(const std::string& target, const std::string& source);
  short MakeJbntTcmjTable(const std::string& target, const std::string& source);
  short MakeJbntBgjmjTable(const std::string& target, const std::string& source);
  short MakeJbntTchbhqmjTable(const std::string& target, const std::string& source);
  short StatJbntAreaTable(int table);
  // `decimals`: those of the copy's unit, to which the sums are rounded
  // (below 0: as summed).
  short MakeJbntAreaTable(int table, const std::string& target, const std::string& source,
                          int decimals = -1);
  std::string JbntAreaStatement(int table, const std::string& target,
                                const std::string& source) const;

  // Guangxi farmland tables (farmland/jbnt_gx_tables.cpp): the situation
  // tables JBNTQKTJGX by location, the all-class protection-block tables
  // JBNTNEWBHKQKTJGX and the supplementary-designation tables JBNTBHMJGX.
  // Under the Guangxi rule the adjustable land (地类备注 'K' or 'k') is left
  // out of the classes 021, 022, 023, 031, 033, 042 and 114, and no row is
  // left out by its transfer remark. The create and fill drivers return 1
  // (their steps log what fails); the level and table steps 1, or 0 after a
  // logged failure. The Q situation tables are created and stay empty.
  short CreateJbntQktjGxTables();
  short StatJbntQktjGx();
  short SumJbntQktjGxLevels(const std::string& target, const std::string& source, bool unit_level,
                            short scope, int decimals = -1);
  // Level 4 county .. 1 unit; nothing (0) for scope 1.
  short SumJbntQktjGx(const std::string& target, const std::string& source, int level, short scope,
                      int decimals = -1);
  std::string JbntQktjGxStatement(const std::string& target, const std::string& source, int level,
                                  int decimals = -1) const;
  short CreateJbntNewBhkQktjGxTables();
  short StatJbntNewBhkQktjGx();
  short SumJbntNewBhkQktjGx(const std::string& target, const std::string& source,
                            int decimals = -1);
  std::string JbntNewBhkQktjGxInsert(const std::string& target, const std::string& source) const;
  // Made by one select-into of SQL resource 17067, dropped first.
  short StatJbntBhmjGx();
  short MakeJbntBhmjGxTable(const std::string& target, const std::string& source);

  // Parcels-only farmland tables (farmland/jbnt_only_tables.cpp): per
  // wanted unit the farmland base rows that came from land parcels (来源
  // '地类图斑'), summed by their descriptive columns, converted to the unit
  // and balanced against the source unit's table. JbntOnlyTable names the
  // table of a unit. The creates log what fails; BuildJbntOnlyTables fills,
  // converts and balances (0 without a farmland parcel layer or when the
  // database could not be compacted after).
  std::string JbntOnlyTable(short unit) const;
  // Its columns, in table order: the farmland marks, then the base table's
  // fields without 描述说明.
  std::vector<std::string> JbntOnlyColumns() const;
  short CreateJbntOnlyTables();
  short CreateJbntOnlyTable(const std::string& name);
  short BuildJbntOnlyTables();
  // The source unit's table summed from the farmland base table, its groups
  // numbered in 序号; 1, or 0 after a logged failure.
  short FillJbntOnlyTable(const std::string& target);
  std::string JbntOnlyFillStatement(const std::string& target) const;
  // The tables of the target units filled with the source unit's rows
  // (序号 kept, so that the balancing pairs them), areas converted and
  // rounded through the dialect; 1, or 0 after the first logged failure.
  short ConvertJbntOnlyUnits();
  short BalanceJbntOnlyTable();

  // The farmland slope summary JBNTPDMJHZ (farmland/jbnt_slope_summary.cpp):
  // per wanted summary unit, by location, the county, township, village and
  // unit rows summed from the parcels-only table of the unit.
  short CreateJbntPdMjHzTables();
  short CreateJbntPdMjHzTable(const std::string& name);
  short FillJbntPdMjHzTables();
  short SumJbntPdMjHz(short level, const std::string& target, const std::string& source,
                      int decimals = -1);
  std::string JbntPdMjHzQuery(short level, const std::string& source) const;

  // --- Cultivated-land reserve tables (reserve/). The reserve block of a
  // run (StatGdhb, reserve/reserve_families.cpp) runs its ten steps when the
  // reserve layer is valid and holds parcels; each fill or build only after
  // its create returned more than 0. Table names: GdhbTable (bare, or "D" +
  // year + county + name) and GdhbUnitTable (unit prefix first, or after
  // "D" + year + county). ---
  short StatGdhb();
  std::string GdhbTable(const std::string& base) const;
  std::string GdhbUnitTable(short unit, const std::string& base) const;
  // The number of "组行政代码" entries of the code table; 0 without one.
  short CountGroupCodes();
  // --- reserve parcel tables and their unit copies (reserve/reserve_parcel_tables.cpp,
  // reserve/reserve_unit_copies.cpp) ---
  short CreateGdhbBaseTable();
  short CreateKkkGdhbTable();
  short CreateKfkGdhbTable();
  short CreateKkkGdhbOldTable();
  short CreateKfkGdhbOldTable();
  short FillGdhbBaseTable();
  short FillKkkGdhbTable();
  short FillKfkGdhbTable();
  short FillKkkGdhbOldTable();
  short FillKfkGdhbOldTable();
  // `target` made anew as a copy of `source`, its 面积 taken as `area` (an
  // expression of the source's columns) when given.
  short CopyGdhbTable(const std::string& target, const std::string& source,
                      const std::string& area = {});
  short CopyGdhbBaseTableToUnits();
  short CopyGdhbClassTablesToUnits();
  // --- reserve class-area and grade summaries (reserve/reserve_area_summaries.cpp,
  // reserve/reserve_grade_summary.cpp, reserve/reserve_balancing.cpp) ---
  // One fill of a summary: the rows of one level (1 group to 4 county) of
  // the grade summary, or of one selector (level plus the row kind's
  // offset 0, 10, 14, 18 or 22) of a class-area summary, appended to the
  // table of `unit` ("PM", "GQ", "MU"); 1, or 0 after a logged failure.
  short FillGdhbGradeSummary(short level, const std::string& unit);
  short FillGdhbAreaSummary(short selector, const std::string& unit);
  short FillGdhbOldAreaSummary(short selector, const std::string& unit);
  short CreateGdhbGradeSummaryTables();
  short BuildGdhbGradeSummary();
  short CreateGdhbAreaSummaryTables();
  short CreateGdhbOldAreaSummaryTables();
  short BuildGdhbAreaSummary();
  short BuildGdhbOldAreaSummary();
  short RoundAndBalanceTable(const std::string& base, const std::vector<std::string>* columns,
                             short decimals);
  // --- end of the reserve tables ---

  // The SQL dialect of this run's database, and a create statement with the
  // dialect's type words.
  db::DbKind DialectKind() const;
  const db::SqlDialect& Dialect() const { return db::SqlDialect::For(DialectKind()); }
  std::string TypeWords(const std::string& statement) const;
  const TableNames& Names() const { return m_names; }
  // The county code as a quoted LIKE pattern: every code of the county
  // ("'330102%'"), every group code of it (the county's six digits and
  // thirteen characters more) or every village code (six more).
  std::string CountyCodesLike() const;
  std::string GroupCodesLike() const;
  std::string VillageCodesLike() const;
  // Whether the pieces of the base table `table` lie in the run's county:
  // a table whose pieces all lie outside it would store another county's
  // statistics under its code. False, with a failure naming the county
  // code given and the one the pieces carry, when none does (an empty
  // table is left to the checks of its pieces). May throw DbError.
  bool PiecesLieInCounty(const std::string& table);
  // The failure of a run whose pieces lie in the county of location code
  // `code`, none in the run's.
  void LogNoPieceInCounty(const std::string& code);

  // Layers (0 or less: absent).
  short m_aiXzq = 0, m_aiParcel = 0, m_aiLine = 0, m_aiPoint = 0;
  short m_aiJbntParcel = 0, m_aiJbntLine = 0, m_aiJbntPoint = 0;
  // The farmland stage's result: 1 when the base data were built, so that
  // the general farmland summaries follow; 0 before and when it failed.
  short m_nJbntBaseData = 0;
  // The same for the Guangdong farmland base data.
  short m_nJbntGdBaseData = 0;
  bool m_bJbntExBuilt = false;  // RebuildJbntExTable has made the ex table
  // The families the run builds, by base name, known before it walks its
  // layers; and those it leaves out because a layer lacks a field they need
  // (LeaveOutTablesWithout).
  std::set<std::string> m_setRunFamilies, m_setLeftOutFamilies;
  // The tables of any run (family base names) that need a field a walk
  // found missing, also those this run does not build: its record keeps
  // them with the families left out, so that no later job builds them from
  // its base table.
  std::set<std::string> m_setTablesLackingFields;
  short m_aiChange = 0, m_aiGdhb = 0, m_aiDispute = 0;
  // Class fields of the linear-feature, scattered-feature and parcel layers.
  std::string m_strClassFld[3] = {"地类编码", "地类编码", "地类编码"};
  gis::RuralCode* m_pRuralCode = nullptr;

  // Database.
  db::Connection m_pConn;
  const db::Connection* JobConnection() const override { return &m_pConn; }
  std::string m_strConnect;
  short m_nDbMode = 0;  // 0 stand-alone; 1 or 2 a server (2: Oracle)
  bool m_bOracle = false;
  int m_nDbType = 0;  // the configured data source: 1 server, 2 Oracle, else stand-alone

  std::string m_strPrefix1;  // year
  std::string m_strPrefix2;  // county code
  short m_nStatScope = 2;    // 0 by location, 1 by ownership, 2 both
  bool m_bPm = false, m_bGq = false, m_bMu = false;
  bool m_bNoPmTables = false;

  short m_nUnitSrc = kSquareMetre, m_nUnit1 = kNoUnit, m_nUnit2 = kNoUnit;
  short m_nDecSrc = 2, m_nDec1 = 2, m_nDec2 = 2;
  // The units come from a StatConfig.ini that was read (not defaults for a
  // missing one): only then are units it leaves out no longer wanted.
  bool m_bUnitsRead = false;

  std::string m_strStatTbl, m_strStatTblSrc, m_strStatTblUnit1, m_strStatTblUnit2;
  std::string m_strJbntTbl, m_strJbntTblSrc, m_strJbntTblUnit1, m_strJbntTblUnit2;

  std::vector<std::string> m_arrClassCodes;                    // every land class, code-table order
  std::vector<std::string> m_arrClass1Codes;                   // the two-character ones
  std::unordered_map<std::string, std::string> m_mapCodeName;  // administrative code -> name
  std::vector<std::string> m_arrStatFields;                    // the base table's field list
  bool m_bHasMssm = false;
  bool m_bGroupLevel = false;
  std::vector<std::string> m_arrCreatedTbls;
  std::string m_strCodeTblSql;
  std::string m_strVersion;

  // The embedded database is a run's private working copy (see
  // RunWorkspace).
  bool m_bWorkingCopy = false;
  // A range run: no year, so that with plain names (naming mode 0) an empty
  // year is taken; any other run needs its four digits.
  bool m_bYearless = false;
  // The layers are a range's, repaired after its cut: a linear feature of
  // one half whose parcel on one side lies outside the range carries only
  // the other side's number, and only that side's half is booked.
  bool m_bRepairedRange = false;

  // Per unit copy, the summed table its summaries read (this connection).
  std::map<std::string, std::string> m_mapSummarySources;
  // Sums of the unit copies made as they were filled, by the key of their
  // SummedRequest: PrepareSummedTables writes them once instead of reading
  // the copy.
  std::map<std::string, std::unique_ptr<db::GroupedSums>> m_mapFedSums;
  // The rural second-level tables whose level statements all ran in this
  // run, without a failure.
  std::set<std::string> m_setWholeSummaries;
  // The copy of the remarked rows while WithRemarkedRows runs, or while it
  // is kept (m_bKeepRemarkedRows).
  std::string m_strRemarkedRows;
  bool m_bKeepRemarkedRows = false;
  // While WithSharedGroupings runs: by grouping select, the temporary table
  // of its rows (empty where it could not be made).
  std::optional<std::map<std::string, std::string>> m_mapSharedGroupings;

  // Why the last DropTable failed.
  std::string m_strDropError;
  bool m_bDropLocked = false;

 private:
  void FixUnits();
  // The copy of the remarked rows made (named in m_strRemarkedRows; left
  // empty, with a notice, where it cannot be), and dropped.
  void MakeRemarkedRows();
  void DropRemarkedRows();
  short CreateTable(const std::string& table, const std::vector<std::string>& leading,
                    const std::vector<std::string>& fields, const std::string& title,
                    const std::string& message);
  short WriteCodeTable(const std::vector<gis::CODESTRUCT>& entries);
  TableNames m_names;
};

// Writes a statement to "<folder>/<name>.sql" (folder empty: ERROR_StatSQL
// in the program directory, created when missing). 1, or 0 when the folder
// or the file cannot be made.
int SaveStatSqlScript(const std::string& name, const std::string& text,
                      const std::string& folder = {});

// Puts leaf class columns into balancing order (codes 10 to 12, then the 20
// codes, then 05 to 09, then 01 to 04, each from the highest down) and drops
// the others. Always 1.
short OrderBalanceFields(std::vector<std::string>& fields);

// The column definition of a base-table field, typed by its name.
std::string StatColumnDefinition(const std::string& name);
// A class code that has a column in the rural tables (not 05 to 09).
bool IsRuralClassCode(const std::string& code);

// The fixed fields of the base table, from "序号" to "土地总面积".
extern const std::vector<std::string> kStatFixedFields;

}  // namespace landstat
