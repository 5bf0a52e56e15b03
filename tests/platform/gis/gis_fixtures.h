#pragma once

#include <gtest/gtest.h>
#include <ogr_core.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"

namespace landstat::testing {

// Small vector data sources written straight through GDAL, so that the GIS
// layer is read against files it did not write itself.
struct FixtureField {
  std::string name;
  OGRFieldType type = OFTString;
  int width = 0;
  int precision = 0;
};

struct FixtureFeature {
  std::string wkt;                                          // empty: no geometry
  std::vector<std::pair<std::string, std::string>> values;  // unset fields stay null
};

// Writes `features` as layer `layer` of `path`: a GeoPackage (added to the
// file when it exists) or, for a .shp or .geojson path, a shapefile or a
// GeoJSON file. Feature i gets the driver's i-th identifier (1 on a
// GeoPackage, 0 on a shapefile or in GeoJSON).
void WriteFixtureLayer(const std::string& path, const std::string& layer, OGRwkbGeometryType type,
                       const std::vector<FixtureField>& fields,
                       const std::vector<FixtureFeature>& features,
                       const std::vector<std::string>& layer_options = {});

// A range polygon file: a GeoPackage whose layer "range" holds the
// rectangle `rect`.
void WriteRectangleFile(const std::string& path, const gis::Rect& rect);

// Deletes the feature of identifier `fid` of a GeoPackage layer.
void DeleteFixtureFeature(const std::string& path, const std::string& layer, long long fid);

// Runs one SQL statement on a GeoPackage, for values GDAL would not write
// (text in a numeric column).
void RunFixtureSql(const std::string& path, const std::string& sql);

// A layer handle closed when the test is done with it.
class ScopedLayer {
 public:
  explicit ScopedLayer(gis::LayerHandle handle) : handle_(handle) {}
  ~ScopedLayer() { gis::CloseLayer(handle_); }
  ScopedLayer(const ScopedLayer&) = delete;
  ScopedLayer& operator=(const ScopedLayer&) = delete;
  operator gis::LayerHandle() const { return handle_; }  // NOLINT(google-explicit-constructor)

 private:
  gis::LayerHandle handle_;
};

// The message of the GisError `action` raises; fails the test when it
// raises nothing.
template <typename Action>
std::string GisErrorOf(Action action) {
  try {
    action();
  } catch (const gis::GisError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no GisError was raised";
  return {};
}

// Whether an error message names `part`.
inline ::testing::AssertionResult Names(const std::string& message, const std::string& part) {
  if (message.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << message << "\" does not name \"" << part << "\"";
}

}  // namespace landstat::testing
