#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace landstat::gis {

// A survey layer is reached through a 16-bit handle, as the engine's walks
// expect: 0 or less is no layer. Records are numbered from 1 and a layer's
// count is one more than its highest number, so walks run 1 .. count - 1
// and meet every feature once, whatever ids the source gives them: a
// feature's number is its id, raised by the same amount for every feature
// of a layer whose ids start below 1 (a shapefile's or a GeoJSON file's
// start at 0), or, for ids too far apart to be walked by, its place among
// the layer's ids. Numbers of ids that no feature has read as missing.
using LayerHandle = short;

// What a layer holds: line features, point features, regions, or only
// attributes.
enum class EntityKind : short { kLine = 0, kPoint = 1, kRegion = 2, kTable = 7 };

// Field types of attribute structures: 0 text, 3 whole number, 5 double.
enum class FieldType : short { kText = 0, kInteger = 3, kDouble = 5 };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::kText;
  int width = 0;
  int decimals = 0;
};

// The kind of data source a layer lives in: files read record by record.
constexpr int kRowByRowSource = 0x1000;

struct Point {
  double x = 0;
  double y = 0;
};

struct Rect {
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
};

// Opens a layer of any vector data source GDAL reads (a GeoPackage, a
// shapefile, ...). Opened read-only unless `writable`; reading never
// changes the source. A shapefile without a code-page file is read as GBK.
// A source that cannot be opened or lacks the layer raises GisError naming
// the layer, the source and the reason (GDAL's own text where it gives one).
//
// The layer's kind is its declared geometry type. Where that names no kind
// (the generic GEOMETRY, a collection), the layer's first geometries decide:
// regions, lines or points; attributes only when no feature has a geometry.
// Geometries of more than one kind, or of none of these, raise GisError.
LayerHandle OpenLayer(const std::string& source, const std::string& layer_name,
                      bool writable = false);
// As OpenLayer, and the layer must hold entities of `kind`: one of another
// kind raises GisError naming both kinds, the layer and the source. An empty
// layer of no declared kind is taken as of `kind`.
LayerHandle OpenLayerOfKind(const std::string& source, const std::string& layer_name,
                            EntityKind kind, bool writable = false);
// The same check for a layer already open (one of a project, say): raises
// GisError as OpenLayerOfKind does, and leaves the layer open either way.
void RequireKind(LayerHandle layer, EntityKind kind);
// The names of the layers of a data source, in its order; GisError naming
// the source when it cannot be opened.
std::vector<std::string> SourceLayerNames(const std::string& source);
void CloseLayer(LayerHandle layer);
void CloseAllLayers();
bool IsLayerValid(LayerHandle layer);
// A number that names one opening of a layer and is never given twice; 0 for
// no layer. A handle may name another layer once its own was closed, its
// serial never.
long LayerSerial(LayerHandle layer);

std::string LayerName(LayerHandle layer);
// The data source the layer was opened from, as given; empty for a layer
// held in memory.
std::string LayerSource(LayerHandle layer);
EntityKind LayerKind(LayerHandle layer);
int DataSourceKind(LayerHandle layer);
std::vector<FieldDef> LayerFields(LayerHandle layer);
bool HasField(LayerHandle layer, std::string_view field);
// The place (from 0) of the field `name` in a structure, or in a layer's;
// -1 when it has no such field.
int FieldIndexOf(const std::vector<FieldDef>& fields, std::string_view name);
int FieldIndex(LayerHandle layer, std::string_view name);

// Count of records of that kind: the highest record number + 1; 0 when the
// layer is not valid or holds no entities of that kind. Attribute records
// (kind 7) exist for every layer. A layer without records counts 1, so
// RecordCount(layer, EntityKind::kTable) <= 1 tells an empty or invalid
// layer of any kind without reading its records.
long RecordCount(LayerHandle layer, EntityKind kind);

// A point inside a geometry of well-known binary form (as
// Record::AppendGeometry gives it): the one Record::PointOnSurface gives for
// the record; nothing when there is none, or the bytes are no geometry.
std::optional<Point> PointOnSurfaceOf(std::string_view geometry);

// One record of a layer, read as text. An empty text reads as 0 where a
// number is wanted; a field the layer lacks reads as empty text. A record
// read from a layer that has been closed since raises GisError, naming the
// layer and its handle, on every use but Number() and IsRead().
class Record {
 public:
  Record();
  ~Record();
  Record(Record&&) noexcept;
  Record& operator=(Record&&) noexcept;

  long Number() const { return number_; }
  bool IsRead() const { return feature_ != nullptr; }

  // Fields by name or by their place in the layer's structure (from 0).
  std::string Text(std::string_view field) const;
  std::string Text(int index) const;
  double Number(std::string_view field) const;
  double Number(int index) const;
  // Sets a field from text; raises GisError naming the layer, record and
  // field for a field the layer lacks or text that is no number for a
  // numeric field.
  void SetText(std::string_view field, std::string_view text);
  void SetText(int index, std::string_view text);
  // Whether SetText gave a field another value than the one read (the
  // same number written anew is no change).
  bool Changed() const;

  double Area() const;
  double Length() const;
  std::optional<Point> PointOnSurface() const;
  // Appends the record's geometry to `out` in well-known binary form, for
  // work on it away from the record (on another thread, say); raises
  // GisError as PointOnSurface does for a record without a geometry.
  void AppendGeometry(std::string& out) const;
  // The bounding rectangle of the record's geometry; nothing without one.
  std::optional<Rect> Bounds() const;
  // Whether the record has a geometry that is not empty and is valid (no
  // self-crossing ring, no line of one point).
  bool GeometryIsUsable() const;
  // The vertices of a line record in the order digitised (of a multi-line,
  // its longest part; curves as line segments); empty when the record has
  // no line geometry.
  std::vector<Point> LineVertices() const;

 private:
  friend class LayerAccess;
  struct Feature;
  LayerHandle layer_ = 0;
  long number_ = 0;
  std::unique_ptr<Feature> feature_;
};

// What a read takes of a record: its fields and its geometry, or its fields
// alone, for a walk that never asks for a geometry (the source then leaves
// the geometries unread, which is faster). A record of an in-memory table
// is read whole either way. Asking a record read without its geometry for
// one raises GisError naming the layer and the record; writing it back
// keeps the geometry the source holds.
enum class RecordParts : short { kAll, kFields };

// Reads record `number`; false (and an unread record) when there is none.
// Walks in ascending order read the source sequentially. `fields`, when
// any are named, are the only fields a walk from the first record takes of
// the source (the source then leaves the others unread, which is faster for
// a walk that wants a few of many): asking such a record for another field
// of the layer raises GisError naming the layer, the record and the field,
// and so does writing it back. A record read outside such a walk, or of an
// in-memory table, is read with every field.
bool ReadRecord(LayerHandle layer, EntityKind kind, long number, Record& record,
                RecordParts parts = RecordParts::kAll, std::span<const char* const> fields = {});
// The text of one field of one record; empty when it cannot be read.
std::string FieldText(LayerHandle layer, long number, std::string_view field);

// Writes a record's fields back (the layer must be open for writing).
void WriteRecord(LayerHandle layer, const Record& record);
// Appends a field to a layer's attribute structure.
void AddField(LayerHandle layer, const FieldDef& field);

// The decimals a layer's structure declares for a field, its name compared
// without regard to ASCII case: those set by SetFieldDecimals, else a
// numeric field's declared precision. Nothing when the field is missing,
// is text, or is a floating field of no declared width (a GeoPackage REAL
// declares none): the caller's default then applies.
std::optional<int> DeclaredDecimals(LayerHandle layer, std::string_view field);
// Declares the decimals of a field for this opening of the layer (what
// DeclaredDecimals and LayerFields give from then on). A GeoPackage keeps no
// decimals for its REAL columns, so the declaration is not written to the
// source. Raises GisError for a missing field or decimals outside 0 .. 15.
void SetFieldDecimals(LayerHandle layer, std::string_view field, int decimals);

// A new, empty layer of lines (kind 0) or points (kind 1) named `name`,
// beside `beside`: in the same GeoPackage, or in the same folder for a
// shapefile, with its spatial reference and the given fields; opened for
// writing. Raises GisError for another kind, a name already taken or a
// source that cannot be written.
LayerHandle CreateWorkLayer(LayerHandle beside, const std::string& name, EntityKind kind,
                            const std::vector<FieldDef>& fields);

// In-memory attribute tables (kind 7): created with fields, records added
// and deleted with stable numbers, saved into a data source.
LayerHandle CreateTable(const std::string& name, const std::vector<FieldDef>& fields);
long AddRecord(LayerHandle table);  // the new record's number
void DeleteRecord(LayerHandle layer, long number);
// Saves a layer (or table) as a new layer of a data source: a new
// GeoPackage, or a new layer in an existing one.
void SaveLayerAs(LayerHandle layer, const std::string& source, const std::string& layer_name);
// Writes what is pending of a layer open for writing to its source.
void SaveLayer(LayerHandle layer);

// One transaction over the writes to a few layers open for writing, per data
// source that has transactions (a GeoPackage; a shapefile has none and is
// written as it goes): the writes of a repair reach the file together, at
// Commit, and much faster than one by one. Rolled back when destroyed
// uncommitted, so a repair that raises leaves such sources as they were
// (their layers should then be closed: an added field stays in the open
// layer's structure). Layers open for reading only and in-memory tables
// take no part.
class EditTransaction {
 public:
  explicit EditTransaction(const std::vector<LayerHandle>& layers);
  ~EditTransaction();
  EditTransaction(const EditTransaction&) = delete;
  EditTransaction& operator=(const EditTransaction&) = delete;
  // Raises GisError naming the source when a commit fails.
  void Commit();

 private:
  std::vector<std::shared_ptr<void>> sources_;  // the data sources in a transaction
  std::vector<std::string> names_;
};

// Record numbers whose attributes meet a simple condition, in OGR's SQL
// where-clause form ("地类编码 = '011'", "图斑面积 > 100").
std::vector<long> SelectRecords(LayerHandle layer, const std::string& condition);
// The number of the first record whose field `field` reads exactly `value`
// (text compared byte for byte, no pattern); 0 when none does or the layer
// lacks the field. For the small tables looked up by a key, where no
// condition text has to be built from data.
long FirstRecordWith(LayerHandle layer, std::string_view field, std::string_view value);

// Records whose numeric field holds, in the source itself, something that is
// no number, with the text held (empty for an empty text). A GeoPackage
// column keeps any text it is given, and reading it as a number gives 0 or
// its leading digits ("abc" 0, "1,5" 1). Empty for a text field and for
// sources that store numbers only.
std::vector<std::pair<long, std::string>> NonNumericValues(LayerHandle layer,
                                                           const std::string& field);
// The same for several fields in one pass over the source: by field, in
// the order of `fields`.
std::vector<std::vector<std::pair<long, std::string>>> NonNumericValues(
    LayerHandle layer, const std::vector<std::string>& fields);

// The texts that numeric fields of a layer hold in the source itself, for a
// walk over its records: where a record's numeric field holds text, that
// text is what the walk judges, not the number read from it
// (NonNumericValues, gathered once per field).
class StoredFieldTexts {
 public:
  // Gathers the texts of `field`; raises GisError as NonNumericValues does.
  void Watch(LayerHandle layer, const std::string& field);
  // Gathers the texts of several fields at once; raises GisError, having
  // gathered none of them.
  void Watch(LayerHandle layer, const std::vector<std::string>& fields);
  // The field's text in the record as the source holds it; `index`, when
  // given, is the field's place in the layer's structure (faster than its
  // name).
  std::string Text(const Record& record, const std::string& field, int index = -1) const;

 private:
  std::unordered_map<std::string, std::unordered_map<long, std::string>> held_;
};

// Geometry queries.
double RecordArea(LayerHandle layer, long number);
// The region of a region layer that contains the point; 0 when none.
long RegionContaining(LayerHandle layer, Point point);
// Records whose geometry meets the rectangle.
std::vector<long> RecordsInRect(LayerHandle layer, const Rect& rect);

// The regions on the two sides of a line, as record numbers; 0 for a side
// without one.
struct LineSides {
  long left = 0;
  long right = 0;
};

// How far beside a line RegionsBesideLine looks, in the layer's coordinate
// units: 1 cm in the projected metres of a survey. Far less than a parcel
// is wide, and more than the last digits in which a line and the parcel
// border it was digitised on may differ.
inline constexpr double kLineSideTolerance = 0.01;

// The regions of the region layer `regions` left and right of a line given
// by its vertices, looking along the order they were digitised in. The
// rule: the point halfway along the line (by length) is moved `tolerance`
// square to the segment it lies on, once to each side, and each of the two
// probes is located in the region holding it. So a line on the border of
// two parcels gives both (swapped when digitised the other way), a line
// inside one parcel gives it on both sides, a line on the layer's outer
// edge gives 0 on the outer side. Nothing when the line has no length (no
// two distinct vertices, or coordinates that are not finite); both sides
// 0 when `regions` holds no regions. The layer's region index is built on
// the first call (one walk over its features) and kept while it is open,
// so a query costs a cell of the index and the few regions listed in it.
std::optional<LineSides> RegionsBesideLine(LayerHandle regions, const std::vector<Point>& line,
                                           double tolerance = kLineSideTolerance);
// The geometry of one record for drawing, as point lists: a region's rings,
// a line's parts, a point alone.
using Outline = std::vector<std::vector<Point>>;
// Visits every record of a layer with its outline, in the source's order. A
// record whose geometry is missing, empty or cannot be drawn (a ring of
// fewer than four points, a line of fewer than two, a coordinate that is no
// finite number, a kind other than the layer's) goes to `broken` with the
// reason instead. Nothing for a layer of attributes only.
void VisitOutlines(LayerHandle layer, const std::function<void(long, const Outline&)>& visit,
                   const std::function<void(long, const std::string&)>& broken);
// The extent of a layer's geometries; false when it has none.
bool LayerExtent(LayerHandle layer, Rect& extent);

// The regions of a region layer held in memory for many point searches
// (one per parcel of a county): the layer is read once, and each search
// answers as RegionContaining does (a point on a region's boundary lies in
// it; of several regions, the lowest record number) without going back to
// the source. Empty for a layer that is not of regions. Raises GisError
// for a handle that names no open layer. `each`, when given, sees every
// record read on the way, in the order of the records (those without a
// geometry too), so that what else the records hold is read in the same
// walk.
class RegionFinder {
 public:
  explicit RegionFinder(LayerHandle layer, const std::function<void(const Record&)>& each = {});
  ~RegionFinder();
  RegionFinder(const RegionFinder&) = delete;
  RegionFinder& operator=(const RegionFinder&) = delete;

  // The record number of the region holding the point; 0 when none does.
  long RegionContaining(Point point) const;
  // The record numbers of every region holding the point, lowest first.
  std::vector<long> RegionsContaining(Point point) const;
  // The regions left and right of a line, as the free RegionsBesideLine
  // finds them, without going back to the source.
  std::optional<LineSides> RegionsBesideLine(const std::vector<Point>& line,
                                             double tolerance = kLineSideTolerance) const;

 private:
  struct Regions;
  std::unique_ptr<Regions> regions_;
};

// The records of a layer held in memory for many rectangle searches (two per
// parcel of a range): the layer is read once, and each search answers as
// RecordsInRect does (the records whose geometry meets the rectangle, a
// record without geometry none), lowest number first, without going back to
// the source. For a layer whose geometries do not change meanwhile.
class RecordFinder {
 public:
  explicit RecordFinder(LayerHandle layer);
  ~RecordFinder();
  RecordFinder(const RecordFinder&) = delete;
  RecordFinder& operator=(const RecordFinder&) = delete;

  std::vector<long> RecordsInRect(const Rect& rect) const;

 private:
  struct Records;
  std::unique_ptr<Records> records_;
};

}  // namespace landstat::gis
