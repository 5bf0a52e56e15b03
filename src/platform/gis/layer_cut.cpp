// The cut of one layer by a range polygon, intersections by GEOS through
// OGR.

#include "platform/gis/layer_cut.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_api.h>
#include <ogrsf_frmts.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <numeric>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/db/sql_quote.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/ogr_access.h"
#include "platform/text/number_text.h"

namespace landstat::gis::detail {
namespace {

// Records named one by one in a layer's problems; the rest are counted.
constexpr long kProblemsNamedPerLayer = 100;

// The gross areas, which a record cut in two takes its share of.
const char* const kGrossAreaFields[] = {"图斑面积", "基本农田图斑面积"};

// The decimals of a survey's areas, for a field that declares none.
constexpr int kDefaultAreaDecimals = 2;

bool IsPolygonal(const OGRGeometry& geometry) {
  const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
  return type == wkbPolygon || type == wkbMultiPolygon || type == wkbCurvePolygon ||
         type == wkbMultiSurface;
}

std::string FeatureOf(OGRLayer& layer, const OGRFeature& feature) {
  return "feature " + std::to_string(feature.GetFID()) + " of layer \"" + layer.GetName() + "\"";
}

// Whether a shape's coordinates can be longitudes and latitudes. A file
// may name a geographic system for coordinates that are not (a GeoJSON file
// always does, a GeoPackage layer of no known system names an undefined
// geographic one): they are then taken as the county's own.
bool InDegrees(const OGRGeometry& shape) {
  OGREnvelope box;
  shape.getEnvelope(&box);
  return box.MinX >= -180 && box.MaxX <= 180 && box.MinY >= -90 && box.MaxY <= 90;
}

// Adds the polygons of one feature of the polygon file to `parts`.
void AddRangePart(const OGRGeometry& geometry, const std::string& what, OGRMultiPolygon& parts) {
  if (!IsPolygonal(geometry)) {
    throw GisError(what + " is a " + OGRGeometryTypeToName(geometry.getGeometryType()) +
                   ", not a polygon");
  }
  std::unique_ptr<OGRGeometry> linear(geometry.hasCurveGeometry() ? geometry.getLinearGeometry()
                                                                  : geometry.clone());
  if (!linear || !linear->IsValid()) {
    throw GisError(what + " is not a valid polygon (a ring crosses itself or rings overlap)");
  }
  if (wkbFlatten(linear->getGeometryType()) == wkbPolygon) {
    parts.addGeometry(linear.get());
  } else {
    for (const OGRPolygon* part : *linear->toMultiPolygon()) parts.addGeometry(part);
  }
}

std::string SrsName(const OGRSpatialReference& srs) {
  const char* name = srs.GetName();
  return name && *name ? name : "a coordinate system without a name";
}

// The range polygon in the coordinates of one layer, prepared for the many
// tests of a walk.
class RangeShape {
 public:
  RangeShape(const RangePolygon& range, const OGRLayer& layer) {
    const OGRSpatialReference* layer_srs = const_cast<OGRLayer&>(layer).GetSpatialRef();
    shape_.reset(range.shape->clone());
    if (range.srs && layer_srs && !range.srs->IsSame(layer_srs)) Transform(range, *layer_srs);
    shape_->getEnvelope(&box_);
    prepared_.reset(OGRCreatePreparedGeometry(OGRGeometry::ToHandle(shape_.get())));
  }

  const OGREnvelope& Box() const { return box_; }
  const OGRGeometry& Shape() const { return *shape_; }
  bool Contains(const OGRGeometry& geometry) const {
    return prepared_ ? OGRPreparedGeometryContains(prepared_.get(), Handle(geometry)) != 0
                     : shape_->Contains(&geometry) != 0;
  }
  bool Intersects(const OGRGeometry& geometry) const {
    return prepared_ ? OGRPreparedGeometryIntersects(prepared_.get(), Handle(geometry)) != 0
                     : shape_->Intersects(&geometry) != 0;
  }

 private:
  static OGRGeometryH Handle(const OGRGeometry& geometry) {
    return OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry));
  }

  void Transform(const RangePolygon& range, const OGRSpatialReference& layer_srs) {
    OGRSpatialReference from(*range.srs), to(layer_srs);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    CPLErrorReset();
    std::unique_ptr<OGRCoordinateTransformation> transformation(
        OGRCreateCoordinateTransformation(&from, &to));
    if (!transformation || shape_->transform(transformation.get()) != OGRERR_NONE) {
      throw GisError("cannot bring the range polygon of " + range.path + " (" +
                     SrsName(*range.srs) + ") into the coordinates of the county's layers (" +
                     SrsName(layer_srs) + "): " + GdalMessage());
    }
  }

  std::unique_ptr<OGRGeometry> shape_;
  OGRPreparedGeometryUniquePtr prepared_;
  OGREnvelope box_;
};

// The parts of an intersection of the layer's own dimension (2 regions, 1
// lines, 0 points): the points and lines where a region only touches the
// polygon's edge are dropped. Null when nothing is left.
std::unique_ptr<OGRGeometry> PartsOfDimension(OGRGeometry* intersection, int dimension) {
  std::unique_ptr<OGRGeometry> result(intersection);
  if (!result || result->IsEmpty()) return nullptr;
  if (wkbFlatten(result->getGeometryType()) != wkbGeometryCollection) {
    return result->getDimension() == dimension ? std::move(result) : nullptr;
  }
  auto kept = std::make_unique<OGRGeometryCollection>();
  for (const OGRGeometry* part : *result->toGeometryCollection()) {
    if (part->getDimension() == dimension && !part->IsEmpty()) kept->addGeometry(part);
  }
  if (kept->IsEmpty()) return nullptr;
  return kept;
}

// The geometry type of a kind's layer in the range: a region or line cut
// in two may fall in several parts, so regions and lines are written as
// multi-polygons and multi-lines; points as the source declares them.
OGRwkbGeometryType TargetType(EntityKind kind, OGRwkbGeometryType declared) {
  OGRwkbGeometryType flat = wkbNone;
  switch (kind) {
    case EntityKind::kRegion:
      flat = wkbMultiPolygon;
      break;
    case EntityKind::kLine:
      flat = wkbMultiLineString;
      break;
    case EntityKind::kPoint:
      flat = wkbFlatten(declared) == wkbPoint ? wkbPoint : wkbMultiPoint;
      break;
    default:
      return declared;
  }
  return OGR_GT_SetModifier(flat, OGR_GT_HasZ(declared), OGR_GT_HasM(declared));
}

int Dimension(EntityKind kind) {
  return kind == EntityKind::kRegion ? 2 : kind == EntityKind::kLine ? 1 : 0;
}

// Where a record's geometry lies against the range polygon. One missing or
// empty is outside (the cut names it apart); one not valid is told only
// when it meets the polygon.
enum class Place { kOutside, kInside, kAcross, kNotValid };

Place PlaceOf(const OGRGeometry* geometry, const RangeShape& range) {
  if (!geometry || geometry->IsEmpty()) return Place::kOutside;
  const bool inside = range.Contains(*geometry);
  if (!inside && !range.Intersects(*geometry)) return Place::kOutside;
  if (!geometry->IsValid()) return Place::kNotValid;
  return inside ? Place::kInside : Place::kAcross;
}

// The piece inside the polygon of a geometry across its edge, of the
// layer's own dimension; null when the geometry only touches the edge.
std::unique_ptr<OGRGeometry> PieceInside(const OGRGeometry& geometry, const RangeShape& range,
                                         EntityKind kind) {
  return PartsOfDimension(geometry.Intersection(&range.Shape()), Dimension(kind));
}

// What the cut does with one record of the polygon's bounding box, decided
// apart from the writing: where it lies, and for a record kept the
// geometry to write (its own, or the piece inside the polygon) and the
// share of its gross areas that piece takes.
struct Placed {
  std::unique_ptr<OGRFeature> feature;
  Place place = Place::kOutside;
  std::unique_ptr<OGRGeometry> piece;
  double share = 1.0;
};

// Places one record; a record across the polygon's edge that only touches
// it is outside.
Placed PlaceRecord(std::unique_ptr<OGRFeature> feature, const RangeShape& range, EntityKind kind) {
  Placed placed;
  const OGRGeometry* geometry = feature->GetGeometryRef();
  placed.place = PlaceOf(geometry, range);
  if (placed.place == Place::kInside) {
    placed.piece.reset(feature->StealGeometry());
  } else if (placed.place == Place::kAcross) {
    placed.piece = PieceInside(*geometry, range, kind);
    if (!placed.piece) {
      placed.place = Place::kOutside;
    } else if (kind == EntityKind::kRegion) {
      const double whole = OGR_G_Area(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(geometry)));
      placed.share =
          whole > 0 ? OGR_G_Area(OGRGeometry::ToHandle(placed.piece.get())) / whole : 0.0;
    }
  }
  placed.feature = std::move(feature);
  return placed;
}

// The ids of the records whose geometry the source's own query language
// finds missing or empty (a GeoPackage), in the source's order; nothing
// when the source cannot answer it. The layer's fields are to be ignored.
std::optional<std::vector<GIntBig>> MissingByQuery(OGRLayer& layer) {
  const char* column = layer.GetGeometryColumn();
  if (!column || !*column) return std::nullopt;
  const std::string name = db::QuoteName(column);
  CPLErrorReset();
  if (layer.SetAttributeFilter((name + " IS NULL OR ST_IsEmpty(" + name + ")").c_str()) !=
      OGRERR_NONE) {
    return std::nullopt;
  }
  std::vector<GIntBig> ids;
  layer.ResetReading();
  while (std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()}) {
    ids.push_back(feature->GetFID());
  }
  // The source may find the query bad only while reading.
  if (CPLGetLastErrorType() >= CE_Failure) return std::nullopt;
  return ids;
}

bool IsGeoPackage(GDALDataset* dataset) {
  GDALDriver* driver = dataset ? dataset->GetDriver() : nullptr;
  return driver && std::string_view(driver->GetDescription()) == "GPKG";
}

// Whether every record of a GeoPackage layer has a geometry, as its spatial
// index tells: the index lists once each record whose geometry is there
// and not empty (the GeoPackage's triggers keep it so), and here it lists
// as many as the layer holds. Counting both reads no geometry, where the
// query of MissingByQuery reads the whole layer. False when the source
// cannot tell (no spatial index).
bool AllIndexed(OGRLayer& layer, GDALDataset* dataset) {
  const char* column = layer.GetGeometryColumn();
  if (!IsGeoPackage(dataset) || !column || !*column) return false;
  const std::string table = layer.GetName();
  // As text: GDAL takes an integer column of a result for the rows' FID.
  const std::string sql = "SELECT CAST((SELECT COUNT(*) FROM " + db::QuoteName(table) +
                          ") = (SELECT COUNT(*) FROM " +
                          db::QuoteName("rtree_" + table + "_" + column + "_rowid") + ") AS TEXT)";
  CPLErrorReset();
  OGRLayer* result = dataset->ExecuteSQL(sql.c_str(), nullptr, nullptr);
  bool all = false;
  if (result) {
    const std::unique_ptr<OGRFeature> row{result->GetNextFeature()};
    all = row && std::string_view(row->GetFieldAsString(0)) == "1";
    dataset->ReleaseResultSet(result);
  }
  CPLErrorReset();
  return all;
}

// The ids of the records of the whole layer that have no geometry or an
// empty one, in the source's order: they cannot be placed in or out of the
// range. None where the layer's spatial index (in `dataset`) lists every
// record (AllIndexed). Else a source whose own query language tests
// geometries answers by one query; others are walked without their fields.
std::vector<GIntBig> MissingGeometries(OGRLayer& layer, GDALDataset* dataset) {
  if (AllIndexed(layer, dataset)) return {};
  std::vector<const char*> ignored;
  const OGRFeatureDefn& fields = *layer.GetLayerDefn();
  for (int i = 0; i < fields.GetFieldCount(); ++i) {
    ignored.push_back(fields.GetFieldDefn(i)->GetNameRef());
  }
  ignored.push_back("OGR_STYLE");
  ignored.push_back(nullptr);
  layer.SetIgnoredFields(ignored.data());
  std::optional<std::vector<GIntBig>> ids = MissingByQuery(layer);
  if (!ids) {
    ids.emplace();
    layer.SetAttributeFilter(nullptr);
    layer.ResetReading();
    while (std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()}) {
      const OGRGeometry* geometry = feature->GetGeometryRef();
      if (!geometry || geometry->IsEmpty()) ids->push_back(feature->GetFID());
    }
  }
  layer.SetAttributeFilter(nullptr);
  layer.SetIgnoredFields(nullptr);
  layer.ResetReading();
  return std::move(*ids);
}

bool IsGeoPackage(const SourceLayer& source) {
  return IsGeoPackage(source.dataset);
}

// A GeoPackage layer opened anew, for a thread of its own: a GDAL data
// source serves one thread at a time. No layer when it does not open.
struct SecondOpening {
  std::unique_ptr<GDALDataset> dataset;
  OGRLayer* layer = nullptr;

  SecondOpening(const std::string& path, const std::string& layer_name) {
    const char* const drivers[] = {"GPKG", nullptr};
    dataset.reset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers,
                                    nullptr, nullptr));
    layer = dataset ? dataset->GetLayerByName(layer_name.c_str()) : nullptr;
  }
};

// The records of a GeoPackage layer without a geometry (MissingGeometries),
// found through an opening of the source of its own on a thread of its own
// while the cut walks the layer: the query reads the whole layer, the walk
// the polygon's bounding box only.
class MissingBeside {
 public:
  // Null for a source that is no GeoPackage: the walk then finds them
  // itself.
  static std::unique_ptr<MissingBeside> Start(const SourceLayer& source) {
    if (!IsGeoPackage(source)) return nullptr;
    auto beside = std::make_unique<MissingBeside>();
    beside->found_ = std::async(
        std::launch::async,
        [path = std::string(source.dataset->GetDescription()),
         name = std::string(source.layer->GetName())]() -> std::optional<std::vector<GIntBig>> {
          const SecondOpening opening(path, name);
          if (!opening.layer) return std::nullopt;
          return MissingGeometries(*opening.layer, opening.dataset.get());
        });
    return beside;
  }

  // Waits for the ids; nothing when the layer did not open a second time.
  // Raises what the query raised.
  std::optional<std::vector<GIntBig>> Take() { return found_.get(); }

 private:
  std::future<std::optional<std::vector<GIntBig>>> found_;
};

// A gross-area field: its place and the decimals its shares are rounded to
// (those the field declares, else the survey's default).
struct GrossArea {
  const char* name = nullptr;
  int index = -1;
  int decimals = kDefaultAreaDecimals;
};

std::vector<GrossArea> GrossAreasOf(const OGRFeatureDefn& definition) {
  std::vector<GrossArea> fields;
  for (const char* name : kGrossAreaFields) {
    const int index = definition.GetFieldIndex(name);
    if (index < 0) continue;
    const OGRFieldDefn& field = *definition.GetFieldDefn(index);
    GrossArea area{name, index, kDefaultAreaDecimals};
    if (field.GetType() == OFTInteger || field.GetType() == OFTInteger64) area.decimals = 0;
    if (field.GetType() == OFTReal && field.GetWidth() > 0) area.decimals = field.GetPrecision();
    fields.push_back(area);
  }
  return fields;
}

// The first row's first field of a query of the range; empty when it gives
// none.
std::string QueryText(GDALDataset& target, const std::string& sql) {
  OGRLayer* result = target.ExecuteSQL(sql.c_str(), nullptr, nullptr);
  if (!result) return {};
  const std::unique_ptr<OGRFeature> row{result->GetNextFeature()};
  std::string text = row && row->GetFieldCount() > 0 ? row->GetFieldAsString(0) : "";
  target.ReleaseResultSet(result);
  return text;
}

// Gives the new layer of the range its spatial index, empty, and holds
// back the trigger that would add each record written to it: the index is
// built apart (spatial_index_build.h).
LayerIndex EmptySpatialIndex(GDALDataset& target, OGRLayer& layer, const std::string& what) {
  const std::string name = layer.GetName(), column = layer.GetGeometryColumn();
  LayerIndex index;
  index.table = "rtree_" + name + "_" + column;
  const std::string trigger = index.table + "_insert";
  CPLErrorReset();
  target.ReleaseResultSet(target.ExecuteSQL(
      ("SELECT CreateSpatialIndex(" + db::QuoteText(name) + ", " + db::QuoteText(column) + ")")
          .c_str(),
      nullptr, nullptr));
  index.insert_trigger =
      QueryText(target, "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = " +
                            db::QuoteText(trigger));
  if (index.insert_trigger.empty() || CPLGetLastErrorType() >= CE_Failure) {
    throw GisError("cannot create the spatial index of " + what + ": " + GdalMessage());
  }
  target.ExecuteSQL(("DROP TRIGGER " + db::QuoteName(trigger)).c_str(), nullptr, nullptr);
  if (CPLGetLastErrorType() >= CE_Failure) {
    throw GisError("cannot create the spatial index of " + what + ": " + GdalMessage());
  }
  return index;
}

OGRLayer& CreateTarget(GDALDataset& target, const SourceLayer& source,
                       std::optional<LayerIndex>& index) {
  OGRLayer& from = *source.layer;
  const OGRwkbGeometryType type = TargetType(source.kind, from.GetGeomType());
  const std::string what = "layer \"" + source.name + "\" of the range";
  CPLErrorReset();
  // The spatial index is made once the fields are.
  const char* const options[] = {"SPATIAL_INDEX=NO", nullptr};
  OGRLayer* layer =
      target.CreateLayer(source.name.c_str(), type == wkbNone ? nullptr : from.GetSpatialRef(),
                         type, const_cast<char**>(options));
  if (!layer) throw GisError("cannot create " + what + ": " + GdalMessage());
  const OGRFeatureDefn& fields = *from.GetLayerDefn();
  for (int i = 0; i < fields.GetFieldCount(); ++i) {
    OGRFieldDefn field(fields.GetFieldDefn(i));
    field.SetDomainName("");  // the range holds no field domains
    CPLErrorReset();
    if (layer->CreateField(&field, FALSE) != OGRERR_NONE ||
        layer->GetLayerDefn()->GetFieldCount() != i + 1) {
      throw GisError("cannot create field \"" + std::string(field.GetNameRef()) + "\" of " + what +
                     ": " + GdalMessage());
    }
  }
  const char* column = layer->GetGeometryColumn();
  if (type != wkbNone && column && *column) index = EmptySpatialIndex(target, *layer, what);
  return *layer;
}

// Text that a numeric field of a record holds in the source itself: a
// GeoPackage column keeps any text it is given, and OGR reads it as a
// number ("abc" 0, "1,5" 1). The range keeps the text.
struct HeldText {
  long record = 0;
  int field = -1;
  std::string text;
};

// Whether a column holds something that is no number, in SQLite's terms.
std::string HoldsText(const std::string& column) {
  return "(" + column + " IS NOT NULL AND typeof(" + column + ") NOT IN ('integer', 'real'))";
}

std::vector<int> NumericFields(const OGRFeatureDefn& fields) {
  std::vector<int> numeric;
  for (int i = 0; i < fields.GetFieldCount(); ++i) {
    const OGRFieldType type = fields.GetFieldDefn(i)->GetType();
    if (type == OFTReal || type == OFTInteger || type == OFTInteger64) numeric.push_back(i);
  }
  return numeric;
}

// The query of a GeoPackage layer for the records whose `numeric` fields
// hold text: the record number as text (GDAL takes an integer column of a
// result for the rows' FID rather than a field), then each field's text or
// null. Within the window, the records that the layer's spatial index
// lists there.
std::string HeldTextQuery(OGRLayer& layer, const std::vector<int>& numeric,
                          const OGREnvelope* window) {
  const std::string fid = db::QuoteName(layer.GetFIDColumn());
  std::string columns, where;
  for (int i : numeric) {
    const std::string name = db::QuoteName(layer.GetLayerDefn()->GetFieldDefn(i)->GetNameRef());
    columns += ", CASE WHEN " + HoldsText(name) + " THEN CAST(" + name + " AS TEXT) END";
    where += (where.empty() ? "" : " OR ") + HoldsText(name);
  }
  std::string sql = "SELECT CAST(" + fid + " AS TEXT)" + columns + " FROM " +
                    db::QuoteName(layer.GetName()) + " WHERE (" + where + ")";
  if (!window) return sql;
  return sql + " AND " + fid + " IN (SELECT id FROM " +
         db::QuoteName("rtree_" + std::string(layer.GetName()) + "_" + layer.GetGeometryColumn()) +
         " WHERE maxx >= " + text::ExactDoubleText(window->MinX) +
         " AND minx <= " + text::ExactDoubleText(window->MaxX) +
         " AND maxy >= " + text::ExactDoubleText(window->MinY) +
         " AND miny <= " + text::ExactDoubleText(window->MaxY) + ")";
}

// The records (of the window, when given) whose numeric fields hold text,
// by one query of a GeoPackage; nothing from sources that store numbers
// only.
std::vector<HeldText> HeldTexts(const SourceLayer& source, const OGREnvelope* window) {
  OGRLayer& layer = *source.layer;
  GDALDriver* driver = source.dataset ? source.dataset->GetDriver() : nullptr;
  const char* fid = layer.GetFIDColumn();
  const std::vector<int> numeric = NumericFields(*layer.GetLayerDefn());
  if (!driver || std::string(driver->GetDescription()) != "GPKG" || !fid || !*fid ||
      numeric.empty()) {
    return {};
  }
  CPLErrorReset();
  OGRLayer* result =
      source.dataset->ExecuteSQL(HeldTextQuery(layer, numeric, window).c_str(), nullptr, nullptr);
  if (!result && window) return HeldTexts(source, nullptr);  // no spatial index
  if (!result) {
    throw GisError("layer \"" + source.name +
                   "\": cannot check the numbers of its fields: " + GdalMessage());
  }
  std::vector<HeldText> held;
  while (std::unique_ptr<OGRFeature> row{result->GetNextFeature()}) {
    const long record = source.number_of(std::strtoll(row->GetFieldAsString(0), nullptr, 10));
    for (std::size_t k = 0; k < numeric.size(); ++k) {
      const int column = static_cast<int>(k) + 1;
      if (row->IsFieldSetAndNotNull(column)) {
        held.push_back({record, numeric[k], row->GetFieldAsString(column)});
      }
    }
  }
  source.dataset->ReleaseResultSet(result);
  return held;
}

// The records of a GeoPackage layer in the polygon's bounding box, read on
// a thread of their own through an opening of the source of its own, placed
// (PlaceRecord) in batches by a few threads more, and handed to the cut in
// the order the source reads them: the cut writes one batch while the next
// are read and placed, a few batches at most held ahead. The texts held in
// their numeric fields (HeldTexts) are found first.
class PlacedWalk {
 public:
  static constexpr std::size_t kBatch = 256;
  static constexpr std::size_t kBatchesHeld = 8;
  static constexpr std::size_t kPlacers = 2;

  // Null for a source that is no GeoPackage: the cut walks it itself.
  static std::unique_ptr<PlacedWalk> Start(const SourceLayer& source, const RangePolygon& range) {
    if (!IsGeoPackage(source)) return nullptr;
    return std::unique_ptr<PlacedWalk>(new PlacedWalk(source, range));
  }

  // Stops the threads and waits for them (at most the batches they are
  // reading and placing).
  ~PlacedWalk() {
    Tell([this] { stop_ = true; });
    reader_.join();
  }
  PlacedWalk(const PlacedWalk&) = delete;
  PlacedWalk& operator=(const PlacedWalk&) = delete;

  // Whether the walk reads the layer: false when it did not open a second
  // time (the cut then walks it itself). Waits until that is known.
  bool Walking() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return opened_ || done_; });
    return opened_;
  }

  // The held texts of the records of the polygon's bounding box. Raises
  // what finding them raised.
  std::vector<HeldText> TakeHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return held_ || done_; });
    if (held_) return std::move(*held_);
    if (failure_) std::rethrow_exception(failure_);
    return {};
  }

  // The next batch; empty after the last. Raises what the walk raised.
  std::vector<Placed> Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] {
      return failure_ || (!batches_.empty() && batches_.front()->placed) ||
             (batches_.empty() && done_);
    });
    if (failure_) std::rethrow_exception(failure_);
    if (batches_.empty()) return {};
    std::vector<Placed> batch = std::move(batches_.front()->records);
    batches_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return batch;
  }

 private:
  // A batch in the order read: its features, then the records placed.
  struct Batch {
    std::vector<std::unique_ptr<OGRFeature>> features;
    std::vector<Placed> records;
    bool placed = false;
  };

  PlacedWalk(const SourceLayer& source, const RangePolygon& range)
      : reader_([this, &range, path = std::string(source.dataset->GetDescription()),
                 own = SourceLayer{source.name, nullptr, nullptr, source.number_of, source.kind},
                 layer_name = std::string(source.layer->GetName())]() mutable {
          Read(path, layer_name, own, range);
        }) {}

  void Read(const std::string& path, const std::string& layer_name, SourceLayer& own,
            const RangePolygon& polygon) {
    std::vector<std::thread> placers;
    try {
      // The features handed over keep the opening's layer structure: the
      // opening lasts until the walk is done with.
      opening_ = std::make_unique<SecondOpening>(path, layer_name);
      own.layer = opening_->layer;
      own.dataset = opening_->dataset.get();
      if (own.layer) {
        Tell([this] { opened_ = true; });
        ReadOpened(own, polygon, placers);
      }
    } catch (...) {
      Fail(std::current_exception());
    }
    Tell([this] { read_ = true; });
    for (std::thread& placer : placers) placer.join();
    Tell([this] { done_ = true; });
  }

  void ReadOpened(const SourceLayer& source, const RangePolygon& polygon,
                  std::vector<std::thread>& placers) {
    OGRLayer& layer = *source.layer;
    // Each placer tests against a shape of its own.
    for (std::size_t i = 0; i < kPlacers; ++i) shapes_.push_back(RangeShape(polygon, layer));
    const OGREnvelope& box = shapes_.front().Box();
    std::vector<HeldText> held = HeldTexts(source, &box);
    Tell([&] { held_ = std::move(held); });
    for (const RangeShape& shape : shapes_) {
      placers.emplace_back([this, &shape, kind = source.kind] { Place(shape, kind); });
    }
    layer.SetSpatialFilterRect(box.MinX, box.MinY, box.MaxX, box.MaxY);
    layer.ResetReading();
    auto batch = std::make_shared<Batch>();
    while (std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()}) {
      batch->features.push_back(std::move(feature));
      if (batch->features.size() == kBatch &&
          !Hand(std::exchange(batch, std::make_shared<Batch>())))
        return;
    }
    if (!batch->features.empty()) Hand(std::move(batch));
  }

  // Hands a batch read to the placers and the cut, waiting while
  // kBatchesHeld are held; false when the walk is to stop.
  bool Hand(std::shared_ptr<Batch> batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return batches_.size() < kBatchesHeld || stop_; });
    if (stop_) return false;
    batches_.push_back(batch);
    unplaced_.push_back(std::move(batch));
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  // Places the batches read, one at a time, until all are read and placed.
  void Place(const RangeShape& range, EntityKind kind) {
    try {
      for (;;) {
        std::shared_ptr<Batch> batch;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [this] { return !unplaced_.empty() || read_ || stop_; });
          if (stop_ || unplaced_.empty()) return;
          batch = std::move(unplaced_.front());
          unplaced_.pop_front();
        }
        batch->records.reserve(batch->features.size());
        for (std::unique_ptr<OGRFeature>& feature : batch->features) {
          batch->records.push_back(PlaceRecord(std::move(feature), range, kind));
        }
        batch->features.clear();
        Tell([&] { batch->placed = true; });
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  // The first failure ends the walk.
  void Fail(std::exception_ptr failure) {
    Tell([&] {
      if (!failure_) failure_ = failure;
      stop_ = true;
    });
  }

  // Changes the state under the lock and wakes the waiters.
  template <typename Change>
  void Tell(Change change) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  // Destroyed last, after the batches whose features it made.
  std::unique_ptr<SecondOpening> opening_;
  std::vector<RangeShape> shapes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool opened_ = false;
  std::optional<std::vector<HeldText>> held_;
  std::deque<std::shared_ptr<Batch>> batches_;   // in the order read, for the cut
  std::deque<std::shared_ptr<Batch>> unplaced_;  // for the placers
  bool read_ = false;                            // no batch is to come after those handed
  bool done_ = false;                            // the placers ended too
  bool stop_ = false;
  std::exception_ptr failure_;
  std::thread reader_;  // last: started once the rest is set
};

}  // namespace

struct LayerReading::Threads {
  std::unique_ptr<MissingBeside> missing;
  std::unique_ptr<PlacedWalk> placed;
};

namespace {

// The cut of one layer into the range, record by record.
class LayerCut {
 public:
  LayerCut(const SourceLayer& source, GDALDataset& dataset, OGRLayer& target,
           std::optional<LayerIndex> index)
      : index_(std::move(index)),
        source_(source),
        dataset_(dataset),
        target_(target),
        gross_(GrossAreasOf(*source.layer->GetLayerDefn())),
        field_map_(source.layer->GetLayerDefn()->GetFieldCount()) {
    std::iota(field_map_.begin(), field_map_.end(), 0);
  }

  // Every record, whole: an attribute table.
  void CopyAll() {
    Hold(HeldTexts(source_, nullptr));
    OGRLayer& from = *source_.layer;
    from.ResetReading();
    while (std::unique_ptr<OGRFeature> feature{from.GetNextFeature()}) {
      const OGRGeometry* geometry = feature->GetGeometryRef();
      Write(*feature, std::unique_ptr<OGRGeometry>(geometry ? geometry->clone() : nullptr), 1.0);
    }
  }

  // The records whose geometry meets the range: the candidates that the
  // layer's spatial index gives for the polygon's bounding box, each tested
  // against the polygon, read and placed by the walk begun ahead
  // (`reading`: PlacedWalk) where there is one, else walked here. The
  // records of the whole layer without a geometry are named first; a
  // GeoPackage's are found beside the walk (MissingBeside), and what the
  // walk names waits for them.
  void CutAll(const RangeShape& range, LayerReading::Threads& reading) {
    std::unique_ptr<MissingBeside> missing = std::move(reading.missing);
    if (!missing) NameMissing(MissingGeometries(*source_.layer, source_.dataset));
    deferring_ = missing != nullptr;
    if (reading.placed && reading.placed->Walking()) {
      Hold(reading.placed->TakeHeld());
      for (std::vector<Placed> batch; !(batch = reading.placed->Next()).empty();) {
        for (Placed& placed : batch) Take(std::move(placed));
      }
    } else {
      WalkHere(range);
    }
    if (!missing) return;
    deferring_ = false;
    const std::optional<std::vector<GIntBig>> found = missing->Take();
    NameMissing(found ? *found : MissingGeometries(*source_.layer, source_.dataset));
    for (const Deferred& named : std::exchange(deferred_, {})) {
      if (named.skipped) {
        Skip(named.id, named.why);
      } else {
        Name(named.id, named.why);
      }
    }
  }

  // Puts the texts held in numeric fields of the records kept back in
  // place of the numbers OGR read from them.
  void RestoreHeldTexts() {
    for (const HeldText* held : restore_) {
      const std::string sql =
          "UPDATE " + db::QuoteName(target_.GetName()) + " SET " +
          db::QuoteName(target_.GetLayerDefn()->GetFieldDefn(held->field)->GetNameRef()) + " = " +
          db::QuoteText(held->text) + " WHERE " + db::QuoteName(target_.GetFIDColumn()) + " = " +
          std::to_string(held->record);
      CPLErrorReset();
      dataset_.ExecuteSQL(sql.c_str(), nullptr, nullptr);
      if (CPLGetLastErrorType() >= CE_Failure) {
        throw GisError("cannot keep the text of record " + std::to_string(held->record) +
                       " of layer \"" + source_.name + "\" in the range: " + GdalMessage());
      }
    }
  }

  LayerCutCount Finish() {
    if (count_.skipped > kProblemsNamedPerLayer) {
      count_.problems.push_back("layer \"" + source_.name +
                                "\": " + std::to_string(count_.skipped - kProblemsNamedPerLayer) +
                                " more records skipped");
    }
    count_.index = std::move(index_);
    return std::move(count_);
  }

 private:
  void WalkHere(const RangeShape& range) {
    OGRLayer& from = *source_.layer;
    const OGREnvelope& box = range.Box();
    Hold(HeldTexts(source_, &box));
    from.SetSpatialFilterRect(box.MinX, box.MinY, box.MaxX, box.MaxY);
    from.ResetReading();
    while (std::unique_ptr<OGRFeature> feature{from.GetNextFeature()}) {
      Take(PlaceRecord(std::move(feature), range, source_.kind));
    }
    from.SetSpatialFilter(nullptr);
    from.ResetReading();
  }

  void Take(Placed placed) {
    switch (placed.place) {
      case Place::kOutside:  // a missing geometry is named by NameMissing
        return;
      case Place::kNotValid:
        Skip(placed.feature->GetFID(),
             "its geometry is not valid (a ring or line crosses itself, or has too few "
             "points)");
        return;
      case Place::kInside:
      case Place::kAcross:
        Write(*placed.feature, std::move(placed.piece), placed.share);
        return;
    }
  }

  void Write(const OGRFeature& from, std::unique_ptr<OGRGeometry> geometry, double share) {
    OGRFeature feature(target_.GetLayerDefn());
    feature.SetFieldsFrom(&from, field_map_.data(), TRUE);
    feature.SetFID(source_.number_of(from.GetFID()));
    if (geometry) {
      feature.SetGeometryDirectly(
          OGRGeometryFactory::forceTo(geometry.release(), target_.GetGeomType()));
    }
    const auto held = held_.find(feature.GetFID());
    if (held != held_.end())
      restore_.insert(restore_.end(), held->second.begin(), held->second.end());
    if (share < 1.0) ShareGrossAreas(feature, share);
    CPLErrorReset();
    if (target_.CreateFeature(&feature) != OGRERR_NONE) {
      throw GisError("cannot write record " + std::to_string(feature.GetFID()) + " of layer \"" +
                     source_.name + "\" into the range: " + GdalMessage());
    }
    ++count_.kept;
    const OGRGeometry* written = feature.GetGeometryRef();
    if (index_ && written && !written->IsEmpty()) {
      OGREnvelope bounds;
      written->getEnvelope(&bounds);
      index_->entries.push_back(
          {feature.GetFID(), bounds.MinX, bounds.MaxX, bounds.MinY, bounds.MaxY});
    }
  }

  void ShareGrossAreas(OGRFeature& feature, double share) {
    for (const GrossArea& area : gross_) {
      if (!feature.IsFieldSetAndNotNull(area.index)) continue;
      const bool text = feature.GetFieldDefnRef(area.index)->GetType() == OFTString;
      const std::string* held = HeldTextOf(feature.GetFID(), area.index);
      const std::optional<double> value =
          held   ? std::nullopt
          : text ? text::TextToNumber(feature.GetFieldAsString(area.index))
                 : std::optional<double>(feature.GetFieldAsDouble(area.index));
      if (!value) {
        Name(feature.GetFID(), std::string("its ") + area.name + " \"" +
                                   (held ? *held : feature.GetFieldAsString(area.index)) +
                                   "\" is no number and was kept whole");
        continue;
      }
      const double part = text::RoundDecimal(*value * share, area.decimals);
      if (text) {
        feature.SetField(area.index, text::DoubleToText(part).c_str());
      } else {
        feature.SetField(area.index, part);
      }
    }
  }

  void Hold(std::vector<HeldText> texts) {
    held_texts_ = std::move(texts);
    for (const HeldText& held : held_texts_) held_[held.record].push_back(&held);
  }

  const std::string* HeldTextOf(long record, int field) const {
    const auto held = held_.find(record);
    if (held == held_.end()) return nullptr;
    for (const HeldText* text : held->second) {
      if (text->field == field) return &text->text;
    }
    return nullptr;
  }

  void NameMissing(const std::vector<GIntBig>& ids) {
    for (GIntBig id : ids) Skip(id, "it has no geometry");
  }

  // Skips the record of the source of feature id `id`.
  void Skip(GIntBig id, const std::string& why) {
    if (deferring_) {
      deferred_.push_back({true, id, why});
      return;
    }
    ++count_.skipped;
    if (count_.skipped <= kProblemsNamedPerLayer) Name(source_.number_of(id), why);
  }

  void Name(GIntBig record, const std::string& what) {
    if (deferring_) {
      deferred_.push_back({false, record, what});
      return;
    }
    count_.problems.push_back("layer \"" + source_.name + "\", record " + std::to_string(record) +
                              ": " + what);
  }

  // The entries of the layer's spatial index, as the records are written.
  std::optional<LayerIndex> index_;
  const SourceLayer& source_;
  GDALDataset& dataset_;
  OGRLayer& target_;
  // The held texts, by record number, and those of the records kept.
  std::vector<HeldText> held_texts_;
  std::unordered_map<long, std::vector<const HeldText*>> held_;
  std::vector<const HeldText*> restore_;
  std::vector<GrossArea> gross_;
  std::vector<int> field_map_;  // field i of the source to field i of the target
  LayerCutCount count_;
  // A skip or a naming held back while the walk waits for the records
  // without a geometry, which are named first.
  struct Deferred {
    bool skipped = false;
    GIntBig id = 0;  // the feature id of a skip, the record of a naming
    std::string why;
  };
  bool deferring_ = false;
  std::vector<Deferred> deferred_;
};

}  // namespace

RangePolygon ReadRangePolygon(const std::string& path) {
  RegisterGdal();
  const std::string what = "the range polygon file " + path;
  CPLErrorReset();
  std::unique_ptr<GDALDataset> file(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                        nullptr, nullptr, nullptr));
  if (!file) throw GisError("cannot read " + what + ": " + GdalMessage());
  RangePolygon range;
  range.path = path;
  OGRMultiPolygon parts;
  for (int i = 0; i < file->GetLayerCount(); ++i) {
    OGRLayer& layer = *file->GetLayer(i);
    if (!range.srs && layer.GetSpatialRef()) range.srs.reset(layer.GetSpatialRef()->Clone());
    layer.ResetReading();
    while (std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()}) {
      const OGRGeometry* geometry = feature->GetGeometryRef();
      if (!geometry || geometry->IsEmpty()) continue;
      AddRangePart(*geometry, what + ", " + FeatureOf(layer, *feature), parts);
    }
  }
  if (parts.IsEmpty()) throw GisError(what + " holds no polygon");
  range.shape.reset(parts.getNumGeometries() == 1 ? parts.getGeometryRef(0)->clone()
                                                  : parts.UnionCascaded());
  if (!range.shape || range.shape->IsEmpty() || !IsPolygonal(*range.shape) ||
      OGR_G_Area(OGRGeometry::ToHandle(range.shape.get())) <= 0) {
    throw GisError(what + ": its polygons enclose no area");
  }
  if (range.srs && range.srs->IsGeographic() && !InDegrees(*range.shape)) range.srs.reset();
  return range;
}

void CheckRangeFits(const SourceLayer& source, const RangePolygon& range) {
  if (source.kind != EntityKind::kTable) RangeShape(range, *source.layer);
}

bool KeepsARecord(const SourceLayer& source, const RangePolygon& range) {
  OGRLayer& layer = *source.layer;
  if (source.kind == EntityKind::kTable) return layer.GetFeatureCount() > 0;
  const RangeShape shape(range, layer);
  const OGREnvelope& box = shape.Box();
  layer.SetSpatialFilterRect(box.MinX, box.MinY, box.MaxX, box.MaxY);
  layer.ResetReading();
  bool kept = false;
  while (!kept) {
    const std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()};
    if (!feature) break;
    const OGRGeometry* geometry = feature->GetGeometryRef();
    const Place place = PlaceOf(geometry, shape);
    kept = place == Place::kInside ||
           (place == Place::kAcross && PieceInside(*geometry, shape, source.kind) != nullptr);
  }
  layer.SetSpatialFilter(nullptr);
  layer.ResetReading();
  return kept;
}

LayerReading::LayerReading(const SourceLayer& source, const RangePolygon& range)
    : threads(std::make_unique<Threads>()) {
  if (source.kind == EntityKind::kTable) return;
  threads->missing = MissingBeside::Start(source);
  threads->placed = PlacedWalk::Start(source, range);
}

LayerReading::~LayerReading() = default;

LayerCutCount CutLayer(const SourceLayer& source, const RangePolygon& range, GDALDataset& target,
                       LayerReading& reading) {
  std::optional<LayerIndex> index;
  OGRLayer& layer = CreateTarget(target, source, index);
  CPLErrorReset();
  if (target.StartTransaction() != OGRERR_NONE) {
    throw GisError("cannot begin writing layer \"" + source.name +
                   "\" of the range: " + GdalMessage());
  }
  LayerCut cut(source, target, layer, std::move(index));
  if (source.kind == EntityKind::kTable) {
    cut.CopyAll();
  } else {
    cut.CutAll(RangeShape(range, *source.layer), *reading.threads);
  }
  cut.RestoreHeldTexts();
  CPLErrorReset();
  if (target.CommitTransaction() != OGRERR_NONE) {
    throw GisError("cannot write layer \"" + source.name + "\" of the range: " + GdalMessage());
  }
  return cut.Finish();
}

}  // namespace landstat::gis::detail
