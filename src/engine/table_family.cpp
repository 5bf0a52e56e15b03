#include "engine/table_family.h"

#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include "platform/db/connection.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace {

// A deque keeps the families where they are as more are added.
std::deque<TableFamily>& Registry() {
  static std::deque<TableFamily> families;
  return families;
}

std::vector<const TableFamily*> InStageOrder(FamilyKind kind) {
  std::vector<const TableFamily*> families;
  for (const TableFamily& family : Registry()) {
    if (family.Kind() == kind) families.push_back(&family);
  }
  std::stable_sort(families.begin(), families.end(),
                   [](const TableFamily* a, const TableFamily* b) { return a->stage < b->stage; });
  return families;
}

}  // namespace

FamilyRegistration::FamilyRegistration(std::vector<TableFamily> families) {
  for (TableFamily& family : families) Registry().push_back(std::move(family));
}

std::vector<const TableFamily*> FamiliesInStageOrder() {
  return InStageOrder(FamilyKind::kGeneral);
}

std::vector<const TableFamily*> TownFamiliesInStageOrder() {
  return InStageOrder(FamilyKind::kTown);
}

std::vector<const TableFamily*> MongoliaFamiliesInStageOrder() {
  return InStageOrder(FamilyKind::kMongolia);
}

namespace {

std::optional<TownConversion>& TownConversionSlot() {
  static std::optional<TownConversion> conversion;
  return conversion;
}

}  // namespace

TownConversionRegistration::TownConversionRegistration(TownConversion conversion) {
  TownConversionSlot() = std::move(conversion);
}

const TownConversion* RegisteredTownConversion() {
  const std::optional<TownConversion>& conversion = TownConversionSlot();
  return conversion ? &*conversion : nullptr;
}

namespace {

// The names of a base in one unit (kNoUnit: plain): its unit copy and its
// summaries of both scopes.
void AddNamesOfBase(const TableNames& names, const std::string& base, short unit,
                    std::vector<std::string>& tables) {
  if (unit == kNoUnit) {
    tables.push_back(names.Plain(base));
    return;
  }
  tables.push_back(names.UnitCopy(unit, base));
  for (char scope : {'Z', 'Q'}) tables.push_back(names.Summary(scope, unit, base));
}

}  // namespace

std::vector<std::string> TablesOfBases(const TableNames& names,
                                       const std::vector<std::string>& bases, bool plain) {
  std::vector<std::string> tables;
  for (const std::string& base : bases) {
    for (short unit : {kNoUnit, kSquareMetre, kHectare, kMu}) {
      if (unit != kNoUnit || plain) AddNamesOfBase(names, base, unit, tables);
    }
  }
  return tables;
}

std::vector<std::string> OwnedTables(const TableNames& names, FamilyKind kind, short unit) {
  std::vector<std::string> tables;
  for (const TableFamily* family : InStageOrder(kind)) {
    AddNamesOfBase(names, family->base, unit, tables);
    if (!family->owns) continue;
    for (std::string& table : family->owns(names, unit)) tables.push_back(std::move(table));
  }
  return tables;
}

namespace {

// The tables of the database by their names in lower case, as it lists them.
std::map<std::string, std::string> HeldByLowerName(db::Connection& database) {
  std::map<std::string, std::string> held;
  for (const std::string& table : database.ListTables()) {
    held.emplace(text::ToLowerAscii(table), table);
  }
  return held;
}

}  // namespace

std::vector<std::string> DropHeldTables(db::Connection& database,
                                        const std::vector<std::string>& owned,
                                        const std::function<bool(const std::string&)>& drop) {
  std::map<std::string, std::string> held = HeldByLowerName(database);
  std::vector<std::string> dropped;
  for (const std::string& table : owned) {
    const auto found = held.find(text::ToLowerAscii(table));
    if (found == held.end()) continue;
    if (drop(found->second)) dropped.push_back(found->second);
    held.erase(found);
  }
  return dropped;
}

std::vector<std::string> TablesNotHeld(db::Connection& database,
                                       const std::vector<std::string>& dropped) {
  const std::map<std::string, std::string> held = HeldByLowerName(database);
  std::vector<std::string> gone;
  for (const std::string& table : dropped) {
    if (!held.count(text::ToLowerAscii(table))) gone.push_back(table);
  }
  return gone;
}

std::vector<std::string> TablesHeld(db::Connection& database,
                                    const std::vector<std::string>& tables) {
  const std::map<std::string, std::string> held = HeldByLowerName(database);
  std::set<std::string> found;
  for (const std::string& table : tables) {
    const auto entry = held.find(text::ToLowerAscii(table));
    if (entry != held.end()) found.insert(entry->second);
  }
  return {found.begin(), found.end()};
}

namespace {

std::string Listed(const std::vector<std::string>& names) {
  std::string listed;
  for (const std::string& name : names) listed += (listed.empty() ? "" : ", ") + name;
  return listed;
}

}  // namespace

std::string NotRebuiltNotice(const std::vector<std::string>& units,
                             const std::vector<std::string>& tables) {
  if (units.empty() && tables.empty()) return "";
  std::string notice;
  if (!units.empty()) notice = "不再统计 " + Listed(units) + "; ";
  notice += "删除了上次统计而本次未生成的 " + std::to_string(tables.size()) + " 张表";
  if (!tables.empty()) notice += ": " + Listed(tables);
  return notice;
}

std::vector<std::string> RunsBuilding(const std::string& base) {
  std::vector<std::string> runs;
  bool town = false, mongolia = false;
  for (const TableFamily& family : Registry()) {
    if (base != family.base) continue;
    if (family.Kind() != FamilyKind::kGeneral) {
      (family.Town() ? town : mongolia) = true;
      continue;
    }
    for (const char* version : kRunVersions) {
      const bool listed = std::find(runs.begin(), runs.end(), version) != runs.end();
      if (!listed && family.builds && family.builds(RunVariant{version})) runs.push_back(version);
    }
  }
  if (town) runs.push_back("landstat town");
  if (mongolia) runs.push_back("landstat mongolia");
  return runs;
}

bool RunBuilds(const std::string& base, const RunVariant& run) {
  return std::any_of(Registry().begin(), Registry().end(), [&](const TableFamily& family) {
    return base == family.base && family.Kind() == FamilyKind::kGeneral && family.builds &&
           family.builds(run);
  });
}

std::vector<std::string> FamiliesReading(const std::set<std::string>& run,
                                         std::span<const char* const> tables, FamilyKind kind) {
  std::set<std::string> reading;
  for (const char* table : tables) {
    if (run.count(table)) reading.insert(table);
  }
  // A family is built after those it reads: one pass in stage order finds
  // every reader, also a reader of a reader.
  std::vector<std::string> ordered;
  for (const TableFamily* family : InStageOrder(kind)) {
    const bool reads = std::any_of(family->after.begin(), family->after.end(),
                                   [&](const char* base) { return reading.count(base) != 0; });
    if (reads && run.count(family->base)) reading.insert(family->base);
    if (reading.count(family->base) &&
        std::find(ordered.begin(), ordered.end(), family->base) == ordered.end()) {
      ordered.push_back(family->base);
    }
  }
  return ordered;
}

std::vector<const TableFamily*> ConvertedFamilies() {
  std::vector<const TableFamily*> families;
  for (const TableFamily& family : Registry()) {
    if (family.conversion) families.push_back(&family);
  }
  std::stable_sort(families.begin(), families.end(),
                   [](const TableFamily* a, const TableFamily* b) {
                     return a->conversion->order < b->conversion->order;
                   });
  return families;
}

}  // namespace landstat
