#pragma once

#include <string>
#include <vector>

namespace landstat::gis {

class CGisXmlPrj;

// What a cut wrote: the range project file, and per layer how many records
// were kept and how many were skipped (empty or invalid geometry, each
// named in `problems`).
struct CutReport {
  struct Layer {
    std::string name;
    long kept = 0;
    long skipped = 0;
  };
  std::string project_path;
  long layers = 0;
  long records_kept = 0;
  long records_skipped = 0;
  std::vector<std::string> problems;
  std::vector<Layer> per_layer;  // in the order cut (the project's, by name)
};

// Cuts every layer of the county project at `project_path` by the range
// polygon read from `polygon_path` (any file OGR reads; the union of its
// polygons) and writes the pieces into `range_folder`: one GeoPackage and a
// project file of its own listing the same layers, county code and code
// file. Attributes are copied unchanged except the gross areas
// ("图斑面积", "基本农田图斑面积"), which take the share of the record's
// geometry that lies inside the polygon.
//
// Raises GisError naming the file for an unreadable project, an empty or
// invalid polygon, or a range folder that cannot be written; and, when
// `required_layer` is given, when the project lacks that layer or the
// polygon keeps none of its records (a polygon outside the county, say),
// naming the layer and the polygon file. Nothing is written into the
// folder then.
CutReport CutProject(const std::string& project_path, const std::string& polygon_path,
                     const std::string& range_folder, const std::string& required_layer = {});

// Why a project is no range a cut made: empty when its file marks it as a
// cut range (or is named range.xml, as ranges cut before the mark are) and
// every layer it lists lies in the range's own GeoPackage
// beside the project file (the only file a repair of a range may write);
// else the reason, naming the project file and, where one is the cause,
// the layer.
std::string NotACutRange(const CGisXmlPrj& project);

}  // namespace landstat::gis
