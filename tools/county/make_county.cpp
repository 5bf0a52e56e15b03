// Generates a synthetic county survey: a GeoPackage with every layer the
// engine reads, its code file and its project file.
//
//   make_county [--parcels N] [--seed S] [--county CODE] [--lots N] [--following-year]
//               [--out DIR]
//
// --lots N puts a town lot on each of the first N parcels (default: on the
// parcels of town classes). --following-year writes the same county one
// year on: the parcels after the year's changes, whose change layer lists
// them (run the first as year Y - 1 and this one as year Y).

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "county_plan.h"
#include "county_writer.h"

int main(int argc, char** argv) {
  landstat::county::CountyOptions options;
  std::string folder = "county";
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--following-year") {
      options.following_year = true;
      continue;
    }
    if (option == "--help" || i + 1 >= argc) {
      std::cout << "usage: make_county [--parcels N] [--seed S] [--county CODE] [--lots N] "
                   "[--following-year] [--out DIR]\n";
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
