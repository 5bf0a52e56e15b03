#pragma once

// The geometry of the cut of a county by a range polygon: the polygon read
// from its file, and one layer cut into a layer of the range's data source.
// For project_cut.cpp; the engine reaches the cut through project_cut.h.

#include <ogr_geometry.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gis/layers.h"
#include "platform/gis/spatial_index_build.h"

class GDALDataset;
class OGRLayer;

namespace landstat::gis::detail {

// The union of the polygons of a polygon file, and the coordinate system
// its first layer names (none when it names none).
struct RangePolygon {
  std::string path;
  std::unique_ptr<OGRGeometry> shape;
  std::unique_ptr<OGRSpatialReference> srs;
};

// Reads the range polygon from any file OGR reads. Raises GisError naming
// the file when it cannot be read, holds no polygon, holds a geometry that
// is not a polygon, or holds a polygon that is not valid (a ring crossing
// itself, rings overlapping).
RangePolygon ReadRangePolygon(const std::string& path);

// One layer of the county to cut: its survey name, the OGR layer and its
// data source, and the record number of each feature id there.
struct SourceLayer {
  std::string name;
  OGRLayer* layer = nullptr;
  GDALDataset* dataset = nullptr;
  std::function<long(long long)> number_of;
  EntityKind kind = EntityKind::kTable;
};

// What the cut of one layer kept and skipped; `problems` names the first
// records skipped (and gross areas that could not be shared), then how many
// more there were.
struct LayerCutCount {
  long kept = 0;
  long skipped = 0;
  std::vector<std::string> problems;
  // For a layer with geometries: its spatial index, left to be built
  // (spatial_index_build.h).
  std::optional<LayerIndex> index;
};

// Raises GisError naming the polygon file when the range polygon cannot be
// brought into the coordinates of the layer.
void CheckRangeFits(const SourceLayer& source, const RangePolygon& range);

// Whether the cut of `source` by the range polygon keeps a record of it (an
// attribute table: whether it holds one); the walk stops at the first.
bool KeepsARecord(const SourceLayer& source, const RangePolygon& range);

// The reading of a layer for its cut, begun when it is made, so that a cut
// of several layers reads the next ones while it writes one: the records
// of a GeoPackage layer that meet the polygon's bounding box are read and
// placed against the polygon, and those of the whole layer without a
// geometry found, on threads of their own. Holds nothing for an attribute
// table or another source, which the cut reads itself.
class LayerReading {
 public:
  LayerReading(const SourceLayer& source, const RangePolygon& range);
  ~LayerReading();
  LayerReading(const LayerReading&) = delete;
  LayerReading& operator=(const LayerReading&) = delete;

  struct Threads;
  std::unique_ptr<Threads> threads;
};

// Cuts `source` by the range polygon into a new layer of the same name in
// `target`, in one transaction: its fields as the source declares them, a
// record of the source kept under its own record number where its geometry
// meets the polygon (an attribute table copied whole). The layer's
// spatial index is left empty, its insert trigger held back, and what it
// is to hold given in the count. `reading` is the
// layer's reading begun for this cut. Raises GisError when the target
// cannot be written, or what the reading raised.
LayerCutCount CutLayer(const SourceLayer& source, const RangePolygon& range, GDALDataset& target,
                       LayerReading& reading);

}  // namespace landstat::gis::detail
