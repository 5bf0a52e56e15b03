#include "engine/table_family.h"

#include <algorithm>
#include <deque>

namespace landstat {
namespace {

// A deque keeps the families where they are as more are added.
std::deque<TableFamily>& Registry() {
  static std::deque<TableFamily> families;
  return families;
}

std::vector<const TableFamily*> InStageOrder(bool town) {
  std::vector<const TableFamily*> families;
  for (const TableFamily& family : Registry()) {
    if (family.Town() == town) families.push_back(&family);
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
  return InStageOrder(false);
}

std::vector<const TableFamily*> TownFamiliesInStageOrder() {
  return InStageOrder(true);
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

std::vector<std::string> RunsBuilding(const std::string& base) {
  std::vector<std::string> runs;
  bool town = false;
  for (const TableFamily& family : Registry()) {
    if (base != family.base) continue;
    if (family.Town()) {
      town = true;
      continue;
    }
    for (const char* version : kRunVersions) {
      const bool listed = std::find(runs.begin(), runs.end(), version) != runs.end();
      if (!listed && family.builds && family.builds(RunVariant{version})) runs.push_back(version);
    }
  }
  if (town) runs.push_back("landstat town");
  return runs;
}

bool RunBuilds(const std::string& base, const RunVariant& run) {
  return std::any_of(Registry().begin(), Registry().end(), [&](const TableFamily& family) {
    return base == family.base && !family.Town() && family.builds && family.builds(run);
  });
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
