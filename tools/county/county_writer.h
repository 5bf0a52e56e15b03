#pragma once

#include <string>

#include "county_plan.h"

namespace landstat::county {

// Where a generated county was written.
struct CountyFiles {
  std::string survey;   // the GeoPackage with every layer
  std::string project;  // the project file
  std::string codes;    // the code file
  // The Inner Mongolia code file, when the county carries the Inner
  // Mongolia fields; else empty.
  std::string mongolia_codes;
};

// Writes the county's layers into "survey.gpkg", its code file "codes.tsv"
// (and "codes_mg.tsv" for an Inner Mongolia county) and its project file
// "project.xml" in `folder` (created when missing;
// files of the same names are replaced).
CountyFiles WriteCounty(const CountyPlan& plan, const std::string& folder);

}  // namespace landstat::county
