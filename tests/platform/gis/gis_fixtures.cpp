#include "platform/gis/gis_fixtures.h"

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace landstat::testing {
namespace fs = std::filesystem;

void WriteFixtureLayer(const std::string& path, const std::string& layer, OGRwkbGeometryType type,
                       const std::vector<FixtureField>& fields,
                       const std::vector<FixtureFeature>& features,
                       const std::vector<std::string>& layer_options) {
  GDALAllRegister();
  // Fixtures need not survive a power cut; skipping the syncs keeps tests quick.
  CPLConfigOptionSetter no_sync("OGR_SQLITE_SYNCHRONOUS", "OFF", false);
  const std::string extension = fs::path(path).extension().string();
  const char* driver_name = extension == ".shp"       ? "ESRI Shapefile"
                            : extension == ".geojson" ? "GeoJSON"
                                                      : "GPKG";
  std::unique_ptr<GDALDataset> dataset;
  if (std::string(driver_name) == "GPKG" && fs::exists(path)) {
    dataset.reset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
  } else {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driver_name);
    dataset.reset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  }
  if (!dataset) throw std::runtime_error("cannot create " + path);
  std::vector<const char*> options;
  for (const std::string& option : layer_options) options.push_back(option.c_str());
  options.push_back(nullptr);
  OGRLayer* target =
      dataset->CreateLayer(layer.c_str(), nullptr, type, const_cast<char**>(options.data()));
  if (!target) throw std::runtime_error("cannot create layer " + layer + " in " + path);
  for (const FixtureField& field : fields) {
    OGRFieldDefn definition(field.name.c_str(), field.type);
    definition.SetWidth(field.width);
    definition.SetPrecision(field.precision);
    if (target->CreateField(&definition) != OGRERR_NONE) {
      throw std::runtime_error("cannot create field " + field.name);
    }
  }
  for (const FixtureFeature& wanted : features) {
    OGRFeature feature(target->GetLayerDefn());
    for (const auto& [name, value] : wanted.values) feature.SetField(name.c_str(), value.c_str());
    if (!wanted.wkt.empty()) {
      OGRGeometry* geometry = nullptr;
      if (OGRGeometryFactory::createFromWkt(wanted.wkt.c_str(), nullptr, &geometry) !=
          OGRERR_NONE) {
        throw std::runtime_error("bad WKT " + wanted.wkt);
      }
      feature.SetGeometryDirectly(geometry);
    }
    if (target->CreateFeature(&feature) != OGRERR_NONE) {
      throw std::runtime_error("cannot write a feature of " + layer);
    }
  }
}

void WriteRectangleFile(const std::string& path, const gis::Rect& rect) {
  char ring[320];
  std::snprintf(ring, sizeof ring, "POLYGON ((%f %f,%f %f,%f %f,%f %f,%f %f))", rect.min_x,
                rect.min_y, rect.max_x, rect.min_y, rect.max_x, rect.max_y, rect.min_x, rect.max_y,
                rect.min_x, rect.min_y);
  WriteFixtureLayer(path, "range", wkbPolygon, {}, {{ring, {}}});
}

void DeleteFixtureFeature(const std::string& path, const std::string& layer, long long fid) {
  GDALAllRegister();
  CPLConfigOptionSetter no_sync("OGR_SQLITE_SYNCHRONOUS", "OFF", false);
  std::unique_ptr<GDALDataset> dataset(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
  OGRLayer* target = dataset ? dataset->GetLayerByName(layer.c_str()) : nullptr;
  if (!target || target->DeleteFeature(fid) != OGRERR_NONE) {
    throw std::runtime_error("cannot delete feature " + std::to_string(fid) + " of " + layer);
  }
}

// Runs one SQL statement on a GeoPackage through GDAL, which provides the
// functions its triggers call.
void RunFixtureSql(const std::string& path, const std::string& sql) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> dataset(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
  if (!dataset) throw std::runtime_error("cannot open " + path);
  CPLErrorReset();
  dataset->ExecuteSQL(sql.c_str(), nullptr, nullptr);
  if (CPLGetLastErrorType() >= CE_Failure) {
    throw std::runtime_error("cannot run " + sql + ": " + CPLGetLastErrorMsg());
  }
}

}  // namespace landstat::testing
