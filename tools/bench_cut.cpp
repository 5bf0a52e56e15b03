// Speed of the cut of a county by a range polygon: a rectangle in the
// middle of the county's parcels covering a given share of their extent
// (a tenth unless told), or the polygon of a file, cut out of every layer
// of the project.
//
//   bench_cut PROJECT.xml RANGE_FOLDER [SHARE | POLYGON_FILE]

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/gis/project_cut.h"

namespace gis = landstat::gis;

namespace {

// A GeoJSON file beside the range folder holding the rectangle.
std::string WriteRectangle(const std::string& project_path, const std::string& range_folder,
                           double share) {
  gis::Rect extent;
  {
    std::unique_ptr<gis::CGisXmlPrj> project = gis::CGisXmlPrj::Open(project_path);
    if (!gis::LayerExtent(project->prjItemGetAi("地类图斑"), extent)) {
      throw gis::GisError(project_path + ": the parcel layer has no extent");
    }
  }
  const double side = std::sqrt(share);
  const double cx = (extent.min_x + extent.max_x) / 2, cy = (extent.min_y + extent.max_y) / 2;
  const double half_w = (extent.max_x - extent.min_x) * side / 2;
  const double half_h = (extent.max_y - extent.min_y) * side / 2;
  const std::string path = range_folder + ".polygon.geojson";
  std::ofstream file(path);
  char ring[512];
  std::snprintf(ring, sizeof ring, "[[%.3f,%.3f],[%.3f,%.3f],[%.3f,%.3f],[%.3f,%.3f],[%.3f,%.3f]]",
                cx - half_w, cy - half_h, cx + half_w, cy - half_h, cx + half_w, cy + half_h,
                cx - half_w, cy + half_h, cx - half_w, cy - half_h);
  // Named in the county's coordinates (CGCS2000, as the generated counties are).
  file << R"({"type":"FeatureCollection","crs":{"type":"name","properties":{"name":"EPSG:4528"}},)"
       << R"("features":[{"type":"Feature","properties":{},)"
       << R"("geometry":{"type":"Polygon","coordinates":[)" << ring << "]}}]}\n";
  if (!file) throw gis::GisError("cannot write " + path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: bench_cut PROJECT.xml RANGE_FOLDER [SHARE | POLYGON_FILE]\n";
    return 2;
  }
  const bool polygon_file = argc > 3 && std::filesystem::is_regular_file(argv[3]);
  const double share = argc > 3 && !polygon_file ? std::atof(argv[3]) : 0.1;
  if (!(share > 0 && share <= 1)) {
    std::cerr << "bench_cut: the share is a number above 0 and at most 1\n";
    return 2;
  }
  try {
    const std::string polygon =
        polygon_file ? std::string(argv[3]) : WriteRectangle(argv[1], argv[2], share);
    const auto start = std::chrono::steady_clock::now();
    const gis::CutReport report = gis::CutProject(argv[1], polygon, argv[2]);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string by =
        polygon_file ? polygon : std::to_string(std::lround(share * 100)) + "% of the extent";
    std::printf("cut by %s: %ld layers, %ld records kept, %ld skipped in %.2f s\n", by.c_str(),
                report.layers, report.records_kept, report.records_skipped, seconds);
    for (const std::string& problem : report.problems) std::printf("  %s\n", problem.c_str());
  } catch (const gis::GisError& error) {
    std::cerr << "bench_cut: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
