// Seconds that the town second-level classification output takes for a
// generated town of 100,000 lots (or the number given as the first
// argument): the lot table, its summary and the report, timed apart from
// generating the town.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "county_plan.h"
#include "county_writer.h"
#include "lots/town_second_level.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const long lots = argc > 1 ? std::atol(argv[1]) : 100000;
  const fs::path dir = fs::temp_directory_path() / ("bench_town_report_" + std::to_string(lots));
  fs::remove_all(dir);
  landstat::county::CountyOptions options;
  options.parcels = lots;
  options.town_lots = lots;
  const landstat::county::CountyFiles files = landstat::county::WriteCounty(
      landstat::county::PlanCounty(options), (dir / "county").string());
  fs::create_directories(dir / "out");

  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<landstat::gis::RuralCode> codes(landstat::gis::RuralCode::Load(files.codes));
  const landstat::gis::LayerHandle layer = landstat::OpenTownLotLayer(files.survey, "");
  const landstat::TownSecondLevelOutcome outcome = landstat::OutputTownSecondLevel(
      {layer, codes.get(), (dir / "out").string(), true, false, LANDSTAT_TEMPLATE});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  landstat::gis::CloseLayer(layer);
  std::printf("%ld lots: %ld written, %.2f s%s\n", lots, outcome.lots_written, seconds,
              outcome.Clean() ? "" : ", NOT CLEAN");
  if (!outcome.Clean()) std::printf("%s", outcome.message.c_str());
  fs::remove_all(dir);
  return outcome.Clean() ? 0 : 1;
}
