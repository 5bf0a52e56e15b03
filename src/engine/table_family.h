#pragma once

#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/table_names.h"

namespace landstat {

namespace db {
class Connection;
}
class CStatContext;
class CZdStatContext;
class CMgStatContext;

// Which run builds a family, on which context.
enum class FamilyKind { kGeneral, kTown, kMongolia };

// What a statistics run is asked for: the regional version string of the
// host ("通用农村", "四川农村", "城镇" ...; words in it switch families on) and
// whether it is the county batch's shorter run.
struct RunVariant {
  std::string version;
  bool county_batch = false;

  bool Has(const char* word) const { return version.find(word) != std::string::npos; }
  bool Rural() const { return !county_batch && Has("农村"); }
  bool Town() const { return !county_batch && Has("城镇"); }
  // The rural run with the marker and no-island tables.
  bool Duda() const { return Rural() && Has("duda"); }
  // The rural run with the regrouped second-level table.
  bool Regrouped() const { return Rural() && (Has("四川") || Has("山东")); }
};

// What the rebuild of a converted family reads of its base table: that
// table summed once (by level, by slope or by enclave pair), or the rows
// themselves.
enum class ConvertedSums { kNone, kLevels, kSlope, kEnclavePairs };

// What the unit conversion does with a family's unit-less table (named by
// the family's base name): rebuilds it from the base tables, then, after a
// conversion in place, balances it.
struct FamilyConversion {
  int order = 0;              // the conversion's own order of its tables
  const char* progress = "";  // shown while the table is rebuilt
  // Read from statdataex in the target unit; else from statdata in the
  // source unit (then converted in place).
  bool from_extension = true;
  // The sums of its base table the rebuild reads: those of every family
  // are made before the first is rebuilt, so that each base table is read
  // once for all of them (CStatContext::ConvertedSource).
  ConvertedSums sums = ConvertedSums::kNone;
  std::function<short(CStatContext&)> create = {};
  std::function<short(CStatContext&)> fill = {};
  const char* balance_progress = "";
  std::function<short(CStatContext&, const std::string&)> balance = {};

  // The base table the rebuild reads, by its base name.
  const char* Base() const { return from_extension ? "statdataex" : "statdata"; }
};

// A family of summary tables: its tables are the scope and unit copies of
// its base name (TableNames), made by `create` (which returns > 0 when
// `fill` should follow) and filled and balanced by `fill`. It is built by
// the runs `builds` accepts, at its place `stage` in the run's order; what
// fails is logged and counted by the steps and never stops the run.
struct TableFamily {
  const char* base = "";
  int stage = 0;
  std::function<bool(const RunVariant&)> builds = {};
  std::function<short(CStatContext&)> create = {};
  std::function<void(CStatContext&)> fill = {};
  const char* progress = nullptr;  // shown before the family, when given
  std::optional<FamilyConversion> conversion = std::nullopt;
  // A step of the run rather than tables a custom list can leave out.
  bool step = false;
  // Reads the survey's layers (or its code layer), which only the run's own
  // thread may read: built there, never beside it on a connection of its
  // own.
  bool reads_layers = false;
  // Reads the unit copies of the base table: built once they are filled.
  bool reads_unit_copies = true;
  // Reads the base table's remarked rows (CStatContext::WithRemarkedRows):
  // families built one after another on one connection share one copy.
  bool reads_remarked_rows = false;
  // The families whose tables this one reads, besides the base tables and
  // their copies: built once they ended.
  std::vector<const char*> after = {};
  // A family of the town-lot run instead: made by `town_create` and, when
  // that returns > 0, `town_fill`, on the town-lot context; a fill that
  // returns 0 or less failed.
  std::function<short(CZdStatContext&)> town_create = {};
  std::function<short(CZdStatContext&)> town_fill = {};
  // A family of the Inner Mongolia run instead: made by `mg_create` and,
  // when that returns > 0, `mg_fill`, on the Inner Mongolia context; a fill
  // that returns 0 or less failed.
  std::function<short(CMgStatContext&)> mg_create = {};
  std::function<short(CMgStatContext&)> mg_fill = {};
  // The tables the family makes besides the copies of its base name, for a
  // unit (kNoUnit: those of no unit), so that a job knows every table its
  // families own.
  std::function<std::vector<std::string>(const TableNames&, short unit)> owns = {};

  FamilyKind Kind() const {
    return town_create ? FamilyKind::kTown
           : mg_create ? FamilyKind::kMongolia
                       : FamilyKind::kGeneral;
  }
  bool Town() const { return Kind() == FamilyKind::kTown; }
};

// Adds families to the one list the run, the unit conversion and the
// benchmark read. Each subsystem registers its families once, from the file
// that lists them.
struct FamilyRegistration {
  explicit FamilyRegistration(std::vector<TableFamily> families);
};

// Every registered family of the general run, in stage order.
std::vector<const TableFamily*> FamiliesInStageOrder();
// The families of the town-lot run, in stage order.
std::vector<const TableFamily*> TownFamiliesInStageOrder();
// The families of the Inner Mongolia run, in stage order.
std::vector<const TableFamily*> MongoliaFamiliesInStageOrder();
// Every table the families of the run of `kind` own under `names`, for a
// unit (kNoUnit: the tables of no unit): per family its base name plain
// (kNoUnit) or as the unit's copy and summaries of both scopes, and what
// `owns` adds. Tables no run made are among them.
std::vector<std::string> OwnedTables(const TableNames& names, FamilyKind kind, short unit);
// Every name a table of each base name of `bases` takes under `names`:
// plain (unless `plain` is false), and in each unit its copy and its
// summaries of both scopes.
std::vector<std::string> TablesOfBases(const TableNames& names,
                                       const std::vector<std::string>& bases, bool plain = true);
// Drops, through `drop` (false when it could not), the tables of `owned`
// that the database holds, compared without case; gives those dropped as
// the database lists them. Raises DbError when the tables cannot be listed.
std::vector<std::string> DropHeldTables(db::Connection& database,
                                        const std::vector<std::string>& owned,
                                        const std::function<bool(const std::string&)>& drop);
// Of `dropped`, those the database does not hold (again).
std::vector<std::string> TablesNotHeld(db::Connection& database,
                                       const std::vector<std::string>& dropped);
// Of `tables`, those the database holds, compared without case: as it
// lists them, sorted, each once. Raises DbError when the tables cannot be
// listed.
std::vector<std::string> TablesHeld(db::Connection& database,
                                    const std::vector<std::string>& tables);
// The notice of a job that dropped what an earlier one made and it did not:
// the units it no longer makes, then the tables; empty when both are.
std::string NotRebuiltNotice(const std::vector<std::string>& units,
                             const std::vector<std::string>& tables);
// Of the families of a run (`run`, by base name; of the general run, or
// of the run of `kind`), those among `tables` and those that read them
// (TableFamily::after), directly or through others, in stage order.
std::vector<std::string> FamiliesReading(const std::set<std::string>& run,
                                         std::span<const char* const> tables,
                                         FamilyKind kind = FamilyKind::kGeneral);
// The families the unit conversion rebuilds, in the conversion's order.
std::vector<const TableFamily*> ConvertedFamilies();

// The runs that build the family of base name `base`: each version string
// of kRunVersions that a general family of that name accepts, then
// "landstat town" when a town-lot family has it, and "landstat mongolia"
// when an Inner Mongolia family has it. Empty when no registered
// family has that name.
inline constexpr const char* kRunVersions[] = {"通用农村", "四川农村", "四川农村duda",
                                               "通用城镇", "广东农村", "广西农村"};
std::vector<std::string> RunsBuilding(const std::string& base);
// True when a general family of base name `base` is built by `run`.
bool RunBuilds(const std::string& base, const RunVariant& run);

// The town-lot tables' part of the unit conversion. Their builders live on
// the town-lot context, which the conversion cannot reach, so the lots
// subsystem registers the three steps here once and the conversion calls
// each, when one is registered, on its own context: in its workspace, on
// its connection, its failures logged into its log.
struct TownConversion {
  // Rebuilds the unit-less town tables in the target unit from the town-lot
  // base table, after the conversion's own rebuild.
  std::function<void(CStatContext&, short target)> rebuild;
  // Converts the stored unit-less town tables in place to the target unit.
  std::function<void(CStatContext&, short target)> convert;
  // Balances them again, after the conversion's own balancing.
  std::function<void(CStatContext&)> balance;
  // The tables these steps write, under the conversion's names.
  std::function<std::vector<std::string>(const TableNames&)> tables;
};
struct TownConversionRegistration {
  explicit TownConversionRegistration(TownConversion conversion);
};
// The registered town part, or nullptr when there is none.
const TownConversion* RegisteredTownConversion();

}  // namespace landstat
