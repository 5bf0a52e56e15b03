// Generates a synthetic county survey: a GeoPackage with every layer the
// engine reads, its code file and its project file.
//
//   make_county [--parcels N] [--seed S] [--county CODE] [--lots N] [--version V] [--out DIR]
//
// --lots N puts a town lot on each of the first N parcels (default: on the
// parcels of town classes). --version V also writes HostSetting.xml with the
// run's version string V (such as 广东农村) into DIR, to be copied into the
// configuration root of the runs.

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "county_plan.h"
#include "county_writer.h"

int main(int argc, char** argv) {
  landstat::county::CountyOptions options;
  std::string folder = "county";
  std::string version;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || i + 1 >= argc) {
      std::cout
          << "usage: make_county [--parcels N] [--seed S] [--county CODE] [--lots N] [--version V] "
             "[--out DIR]\n";
      return option == "--help" ? 0 : 2;
    }
    const std::string value = argv[++i];
    if (option == "--parcels") {
      options.parcels = std::stol(value);
    } else if (option == "--seed") {
      options.seed = std::stoull(value);
    } else if (option == "--county") {
      options.county_code = value;
    } else if (option == "--lots") {
      options.town_lots = std::stol(value);
    } else if (option == "--version") {
      version = value;
    } else if (option == "--out") {
      folder = value;
    } else {
      std::cerr << "make_county: unknown option " << option << "\n";
      return 2;
    }
  }
  if (options.county_code.size() != 6) {
    std::cerr << "make_county: the county code must have six digits\n";
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    const landstat::county::CountyPlan plan = landstat::county::PlanCounty(options);
    const landstat::county::CountyFiles files = landstat::county::WriteCounty(plan, folder);
    if (!version.empty()) {
      std::printf("  settings %s\n", landstat::county::WriteHostSettings(folder, version).c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "county %s: %zu parcels, %zu linear and %zu scattered features, %zu villages in "
        "%zu townships (%.1f s)\n  survey  %s\n  project %s\n  codes   %s\n",
        plan.county.code.c_str(), plan.parcels.size(), plan.lines.size(), plan.points.size(),
        plan.villages.size(), plan.townships.size(), seconds, files.survey.c_str(),
        files.project.c_str(), files.codes.c_str());
  } catch (const std::exception& error) {
    std::cerr << "make_county: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
