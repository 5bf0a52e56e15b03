#pragma once

#include <string>

#include "county_plan.h"

namespace landstat::county {

// Where a generated county was written.
struct CountyFiles {
  std::string survey;   // the GeoPackage with every layer
  std::string project;  // the project file
  std::string codes;    // the code file
};

// Writes the county's layers into "survey.gpkg", its code file "codes.tsv"
// and its project file "project.xml" in `folder` (created when missing;
// files of the same names are replaced).
CountyFiles WriteCounty(const CountyPlan& plan, const std::string& folder);

// Writes "HostSetting.xml" with the run's version string (such as
// "通用农村" or "广东农村") into `folder`, the configuration root a run is
// given; gives its path. Raises std::runtime_error when it cannot be
// written.
std::string WriteHostSettings(const std::string& folder, const std::string& version);

}  // namespace landstat::county
