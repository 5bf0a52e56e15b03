#include "platform/gis/layers.h"

#include <cpl_error.h>
#include <cpl_quad_tree.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <span>
#include <unordered_map>
#include <utility>

#include "platform/db/sql_quote.h"
#include "platform/db/sql_text.h"
#include "platform/db/sqlite_backend.h"
#include "platform/gis/feature_read_ahead.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/ogr_access.h"
#include "platform/text/number_text.h"

namespace landstat::gis {
namespace fs = std::filesystem;

namespace {

void RegisterDrivers() {
  static std::once_flag once;
  std::call_once(once, [] {
    // GDAL opens GeoPackages through SQLite, often before the program's
    // own databases: the library is set up for threads first.
    db::PrepareSqlite();
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);  // errors reach callers as GisError
  });
}

std::string LastGdalMessage() {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? message : "no further detail";
}

EntityKind KindOfGeometry(OGRwkbGeometryType type) {
  switch (wkbFlatten(type)) {
    case wkbPoint:
    case wkbMultiPoint:
      return EntityKind::kPoint;
    case wkbLineString:
    case wkbMultiLineString:
    case wkbCircularString:
    case wkbCompoundCurve:
    case wkbMultiCurve:
      return EntityKind::kLine;
    case wkbPolygon:
    case wkbMultiPolygon:
    case wkbCurvePolygon:
    case wkbMultiSurface:
      return EntityKind::kRegion;
    default:
      return EntityKind::kTable;
  }
}

const char* KindName(EntityKind kind) {
  switch (kind) {
    case EntityKind::kLine:
      return "lines";
    case EntityKind::kPoint:
      return "points";
    case EntityKind::kRegion:
      return "regions";
    default:
      return "attributes only";
  }
}

FieldType FieldTypeOf(OGRFieldType type) {
  switch (type) {
    case OFTInteger:
    case OFTInteger64:
      return FieldType::kInteger;
    case OFTReal:
      return FieldType::kDouble;
    default:
      return FieldType::kText;
  }
}

OGRFieldType OgrTypeOf(FieldType type) {
  switch (type) {
    case FieldType::kInteger:
      return OFTInteger64;
    case FieldType::kDouble:
      return OFTReal;
    default:
      return OFTString;
  }
}

bool IsNumberText(std::string_view text) {
  const std::string value(text);
  char* end = nullptr;
  std::strtod(value.c_str(), &end);
  while (end && *end == ' ') ++end;
  return end != value.c_str() && end && *end == '\0';
}

// A shapefile without a code-page file: Chinese survey data of this age is
// GBK, so read it as such rather than as Latin-1.
const char* const* ShapefileOpenOptions(const std::string& source) {
  static const char* const kGbk[] = {"ENCODING=CP936", nullptr};
  fs::path path(source);
  std::error_code error;  // a path that cannot be looked at is GDAL's to refuse
  if (fs::is_directory(path, error)) return nullptr;
  const std::string extension = path.extension().string();
  if (extension != ".shp" && extension != ".SHP" && extension != ".dbf") return nullptr;
  for (const char* cpg : {".cpg", ".CPG"}) {
    if (fs::exists(fs::path(path).replace_extension(cpg), error)) return nullptr;
  }
  // The dBASE header's language driver byte names a code page of its own.
  std::ifstream dbf(fs::path(path).replace_extension(".dbf"), std::ios::binary);
  char header[32] = {};
  if (dbf.read(header, sizeof header) && header[29] != 0) return nullptr;
  return kGbk;
}

// Field names looked up without building a string for each look-up.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const {
    return std::hash<std::string_view>()(name);
  }
};

// The bounding boxes of a region layer's features in a uniform grid of
// cells, built by one walk over the layer: a point's candidates are the
// regions whose boxes hold it among those listed in its cell.
struct RegionGrid {
  // Cells per side at most: enough for a million parcels at about one
  // region per cell, bounded so that the cell table stays small.
  static constexpr long kMostCellsPerSide = 2048;

  OGREnvelope extent;
  long columns = 1, rows = 1;
  double cell_width = 1, cell_height = 1;
  std::vector<OGREnvelope> boxes;   // by region, in the order read
  std::vector<GIntBig> fids;        // by region
  std::vector<std::size_t> starts;  // by cell: where its regions begin in `members`
  std::vector<std::uint32_t> members;

  long Column(double x) const {
    return std::clamp(static_cast<long>((x - extent.MinX) / cell_width), 0L, columns - 1);
  }
  long Row(double y) const {
    return std::clamp(static_cast<long>((y - extent.MinY) / cell_height), 0L, rows - 1);
  }

  // Lays the boxes read into the cells they meet (two passes: count, then
  // place).
  void Place() {
    const double side = std::ceil(std::sqrt(static_cast<double>(boxes.size())));
    columns = rows = std::clamp(static_cast<long>(side), 1L, kMostCellsPerSide);
    cell_width = std::max((extent.MaxX - extent.MinX) / static_cast<double>(columns), 1e-9);
    cell_height = std::max((extent.MaxY - extent.MinY) / static_cast<double>(rows), 1e-9);
    starts.assign(static_cast<std::size_t>(columns * rows) + 1, 0);
    const auto each_cell = [&](const OGREnvelope& box, const auto& visit) {
      for (long row = Row(box.MinY); row <= Row(box.MaxY); ++row) {
        for (long column = Column(box.MinX); column <= Column(box.MaxX); ++column) {
          visit(static_cast<std::size_t>(row * columns + column));
        }
      }
    };
    for (const OGREnvelope& box : boxes)
      each_cell(box, [&](std::size_t cell) { ++starts[cell + 1]; });
    for (std::size_t cell = 1; cell < starts.size(); ++cell) starts[cell] += starts[cell - 1];
    members.resize(starts.back());
    std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
    for (std::uint32_t region = 0; region < boxes.size(); ++region) {
      each_cell(boxes[region], [&](std::size_t cell) { members[next[cell]++] = region; });
    }
  }

  // The regions of the cell holding the point whose boxes hold it.
  template <typename Visit>
  void Candidates(double x, double y, Visit visit) const {
    if (boxes.empty() || x < extent.MinX || x > extent.MaxX || y < extent.MinY || y > extent.MaxY) {
      return;
    }
    const std::size_t cell = static_cast<std::size_t>(Row(y) * columns + Column(x));
    for (std::size_t k = starts[cell]; k < starts[cell + 1]; ++k) {
      const OGREnvelope& box = boxes[members[k]];
      if (x >= box.MinX && x <= box.MaxX && y >= box.MinY && y <= box.MaxY) {
        if (visit(fids[members[k]])) return;
      }
    }
  }
};

// How the record numbers of a layer stand to its OGR feature ids. Every
// feature has one number, from 1: its id plus an offset that brings the
// lowest id to 1 where it is lower (a shapefile's or a GeoJSON file's ids
// start at 0, a GeoPackage's at 1 are the numbers themselves, gaps and
// all, so a range cut keeps the county's numbers), or, where ids lie so
// far apart that the numbers would run through more than kMostEmptyNumbers
// without a feature, the id's place among the layer's ids in ascending
// order.
struct RecordNumbering {
  // A walk passes a number without a feature at once, but not millions
  // of them for each feature (ids such as parcel codes).
  static constexpr GIntBig kMostEmptyNumbers = GIntBig{1} << 24;

  GIntBig offset = 0;        // number = id + offset, when not by place
  std::vector<GIntBig> ids;  // by place: number = place in `ids` + 1
  bool by_place = false;
  long count = 1;           // the highest number + 1
  bool in_id_order = true;  // the source reads its features by ascending id

  // What brings the lowest id to number 1 where it is lower.
  static GIntBig OffsetOf(GIntBig lowest) { return lowest < 1 ? 1 - lowest : 0; }

  // The number of the highest id of features whose ids run from `lowest`.
  static GIntBig HighestNumber(GIntBig lowest, GIntBig highest) {
    return highest + OffsetOf(lowest);
  }

  // Whether features whose ids run from `lowest` to `highest` may leave
  // too many numbers without a feature: only then does their count tell.
  static bool CountTells(GIntBig lowest, GIntBig highest) {
    return HighestNumber(lowest, highest) > kMostEmptyNumbers;
  }

  // The numbering of features whose ids run from `lowest` to `highest`,
  // `features` of them; nothing when their ids lie too far apart, and the
  // ids themselves are wanted.
  static std::optional<RecordNumbering> ByOffset(GIntBig lowest, GIntBig highest,
                                                 GIntBig features) {
    RecordNumbering numbering;
    if (features <= 0) return numbering;
    numbering.offset = OffsetOf(lowest);
    const GIntBig highest_number = HighestNumber(lowest, highest);
    if (highest_number - features > kMostEmptyNumbers) return std::nullopt;
    numbering.count = static_cast<long>(highest_number + 1);
    return numbering;
  }

  // The numbering of features of the ids given, in the order read.
  static RecordNumbering OfIds(std::vector<GIntBig> ids) {
    const bool in_order = std::is_sorted(ids.begin(), ids.end());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::optional<RecordNumbering> numbering =
        ids.empty() ? ByOffset(0, 0, 0)
                    : ByOffset(ids.front(), ids.back(), static_cast<GIntBig>(ids.size()));
    if (!numbering) {
      numbering.emplace();
      numbering->count = static_cast<long>(ids.size()) + 1;
      numbering->ids = std::move(ids);
      numbering->by_place = true;
    }
    numbering->in_id_order = in_order;
    return *numbering;
  }

  // The id of record `number`; nothing for a number no feature can have.
  std::optional<GIntBig> IdOf(long number) const {
    if (number < 1 || number >= count) return std::nullopt;
    return by_place ? ids[static_cast<std::size_t>(number - 1)] : number - offset;
  }

  // The number of the feature of id `id`; 0 for an id that has none.
  long NumberOf(GIntBig id) const {
    if (!by_place) {
      const GIntBig number = id + offset;
      return number >= 1 && number < count ? static_cast<long>(number) : 0;
    }
    const auto found = std::lower_bound(ids.begin(), ids.end(), id);
    return found != ids.end() && *found == id ? static_cast<long>(found - ids.begin()) + 1 : 0;
  }
};

// Which fields of a layer a read took, by their place in its structure;
// null when it took every field.
using FieldsRead = std::shared_ptr<const std::vector<bool>>;

// A feature as a walk by number reads it: from the layer's own opening, or
// in plain form, read ahead on a thread of its own; none when both are
// empty. `without_geometry` when its geometry was left unread.
struct FetchedFeature {
  std::unique_ptr<OGRFeature> feature;
  detail::PlainRecord plain;
  bool without_geometry = false;
  FieldsRead fields_read;

  explicit operator bool() const { return feature || plain; }
  GIntBig Id() const { return feature ? feature->GetFID() : plain.Id(); }
};

// One open layer of the handle table.
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

struct OpenLayerState {
  // Shared by the layers of one source open for writing (see
  // LayerTable::WritableDataset).
  std::shared_ptr<GDALDataset> dataset;
  OGRLayer* layer = nullptr;
  std::string source;
  std::string name;
  // What records of this opening name in their errors, even after it closed.
  std::shared_ptr<const std::string> label;
  EntityKind kind = EntityKind::kTable;
  // No kind declared and no features to tell it by: any kind the layer is
  // asked for.
  bool kind_open = false;
  bool writable = false;
  bool memory_table = false;
  long serial = 0;
  // Read at the first use: before any walk that sets a filter.
  std::optional<RecordNumbering> numbering;
  long next_table_number = 1;
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> field_index;
  // Decimals declared for this opening, by field index (SetFieldDecimals).
  std::unordered_map<int, int> declared_decimals;
  // Sequential reading: the id read last and the feature read ahead.
  bool sequential = false;
  GIntBig last_fid = 0;
  // Whether the sequential walk leaves the geometries unread, the fields
  // it takes (empty: every field) and, of them, those of the layer's
  // structure; and whether `layer` is told to leave anything out (undone
  // when the walk is stopped: every other read of the opening wants all).
  bool walk_without_geometry = false;
  std::vector<std::string> walk_fields;
  FieldsRead walk_fields_read;
  bool parts_ignored = false;
  FetchedFeature lookahead;
  // The features of a sequential walk of a long layer, read by a thread of
  // their own; none when the walk reads through `layer` itself.
  std::unique_ptr<detail::FeatureReadAhead> read_ahead;
  // Built by the first left/right query of a region layer.
  std::unique_ptr<RegionGrid> region_grid;
  // The attribute columns of a GeoPackage table written back by one UPDATE
  // (AttributeWrite), prepared for the fields in `update_fields`; after the
  // dataset, so that it is finalized before the dataset may close.
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> update;
  std::vector<int> update_fields;
  bool update_by_feature = false;  // the source is written by OGR only

  // Ends the prepared UPDATE: a change of structure waits for none.
  void ForgetUpdate() {
    update.reset();
    update_fields.clear();
  }

  std::string Describe() const { return "layer \"" + name + "\" of " + source; }

  void IndexFields() {
    field_index.clear();
    OGRFeatureDefn* definition = layer->GetLayerDefn();
    for (int i = 0; i < definition->GetFieldCount(); ++i) {
      field_index.emplace(definition->GetFieldDefn(i)->GetNameRef(), i);
    }
  }

  int FieldIndex(std::string_view field) const {
    auto found = field_index.find(field);
    return found == field_index.end() ? -1 : found->second;
  }

  void StopSequential() {
    sequential = false;
    lookahead = {};
    read_ahead.reset();
    walk_fields.clear();
    walk_fields_read.reset();
    if (parts_ignored) layer->SetIgnoredFields(nullptr);
    parts_ignored = false;
  }

  // Whether a walk that leaves geometries unread as `without_geometry` says
  // and takes `fields` reads as the walk under way does.
  bool WalksAs(bool without_geometry, std::span<const char* const> fields) const {
    return walk_without_geometry == without_geometry &&
           std::equal(walk_fields.begin(), walk_fields.end(), fields.begin(), fields.end());
  }

  // The names of what a walk leaves unread, as SetIgnoredFields takes them:
  // the fields of the layer outside `walk_fields` (none when it is empty),
  // then the geometry and style where `walk_without_geometry`.
  std::vector<std::string> UnreadParts() {
    std::vector<std::string> unread;
    if (!walk_fields.empty()) {
      const OGRFeatureDefn& definition = *layer->GetLayerDefn();
      auto taken = std::make_shared<std::vector<bool>>();
      for (int i = 0; i < definition.GetFieldCount(); ++i) {
        const char* field = definition.GetFieldDefn(i)->GetNameRef();
        taken->push_back(std::find(walk_fields.begin(), walk_fields.end(), field) !=
                         walk_fields.end());
        if (!taken->back()) unread.emplace_back(field);
      }
      walk_fields_read = std::move(taken);
    }
    if (walk_without_geometry) unread.emplace_back("OGR_GEOMETRY");
    if (!unread.empty()) unread.emplace_back("OGR_STYLE");
    return unread;
  }

  // A walk from the first record, whose first feature has the id
  // `first_fid`, leaving unread what WalksAs names.
  void StartSequential(GIntBig first_fid, bool without_geometry,
                       std::span<const char* const> fields) {
    StopSequential();
    walk_without_geometry = without_geometry;
    walk_fields.assign(fields.begin(), fields.end());
    const std::vector<std::string> unread = UnreadParts();
    if (!unread.empty()) {
      std::vector<const char*> names;
      for (const std::string& part : unread) names.push_back(part.c_str());
      names.push_back(nullptr);
      layer->SetIgnoredFields(names.data());
      parts_ignored = true;
    }
    layer->ResetReading();
    sequential = true;
    last_fid = first_fid - 1;
    StartReadAhead(unread);
  }

  // Layers of fewer records are walked without a thread: opening the
  // source anew would cost more than it saves.
  static constexpr long kLeastReadAhead = 8192;

  // For a walk from the first record: the features read ahead on a thread
  // of their own where the layer is long and only read (a layer open for
  // writing, or held in memory, is read through its own opening, which
  // alone sees what was written to it), and the walk leaves the geometries
  // unread: a walk that wants them spends longer on each record than the
  // thread saves, and copying them between the threads costs more.
  // `unread`: what the walk leaves unread, as UnreadParts names it.
  void StartReadAhead(const std::vector<std::string>& unread) {
    read_ahead.reset();
    if (writable || memory_table || !walk_without_geometry || Count() < kLeastReadAhead) return;
    read_ahead = std::make_unique<detail::FeatureReadAhead>(
        source, layer->GetName(), ShapefileOpenOptions(source), *layer->GetLayerDefn(), unread);
    if (!read_ahead->Reading()) read_ahead.reset();
  }

  // The next feature of a sequential walk, in the source's order.
  FetchedFeature NextInSequence() {
    if (read_ahead) return {nullptr, read_ahead->Next(), walk_without_geometry, walk_fields_read};
    return {std::unique_ptr<OGRFeature>(layer->GetNextFeature()),
            {},
            walk_without_geometry,
            walk_fields_read};
  }

  const RecordNumbering& Numbering() {
    if (!numbering) numbering = ReadNumbering();
    return *numbering;
  }

  long Count() { return Numbering().count; }

  long NumberOf(GIntBig id) { return Numbering().NumberOf(id); }

  // Where the source answers SQL (a GeoPackage), its lowest and highest id
  // and its number of features by one query, and it reads its features by
  // ascending id (a table read by its rowid). Other sources, and ids too far
  // apart, are walked once for their ids, without their fields.
  RecordNumbering ReadNumbering() {
    RecordNumbering by_table;
    if (memory_table) {
      by_table.count = next_table_number;
      return by_table;
    }
    if (std::optional<RecordNumbering> by_query = NumberingByQuery()) return *by_query;
    return RecordNumbering::OfIds(AllIds());
  }

  // The lowest and the highest id are each read from an end of the table
  // (one query asking for both, or for the count too, reads all of it);
  // the count is asked only where it tells (RecordNumbering::CountTells).
  std::optional<RecordNumbering> NumberingByQuery() {
    const std::string driver =
        dataset && dataset->GetDriver() ? dataset->GetDriver()->GetDescription() : "";
    const char* fid_column = layer->GetFIDColumn();
    if ((driver != "GPKG" && driver != "SQLite") || !fid_column || !*fid_column)
      return std::nullopt;
    const std::string fid = db::QuoteName(fid_column), table = db::QuoteName(layer->GetName());
    StopSequential();
    const std::optional<std::vector<std::string>> ends =
        QueryRow("SELECT CAST((SELECT MIN(" + fid + ") FROM " + table +
                 ") AS TEXT), CAST((SELECT MAX(" + fid + ") FROM " + table + ") AS TEXT)");
    if (!ends || ends->size() != 2) return std::nullopt;
    const GIntBig lowest = std::strtoll((*ends)[0].c_str(), nullptr, 10);
    const GIntBig highest = std::strtoll((*ends)[1].c_str(), nullptr, 10);
    // No lowest id: no feature. Otherwise at least one, which is all the
    // numbering needs to know unless the count tells.
    GIntBig features = (*ends)[0].empty() ? 0 : 1;
    if (features > 0 && RecordNumbering::CountTells(lowest, highest)) {
      const std::optional<std::vector<std::string>> count =
          QueryRow("SELECT CAST(COUNT(*) AS TEXT) FROM " + table);
      if (!count || count->size() != 1) return std::nullopt;
      features = std::strtoll((*count)[0].c_str(), nullptr, 10);
    }
    return RecordNumbering::ByOffset(lowest, highest, features);
  }

  // The first row of a query of the source, its fields as texts (a null as
  // an empty text); nothing when the query gives no row.
  std::optional<std::vector<std::string>> QueryRow(const std::string& sql) {
    OGRLayer* result = dataset->ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (!result) return std::nullopt;
    std::optional<std::vector<std::string>> fields;
    if (std::unique_ptr<OGRFeature> row{result->GetNextFeature()}) {
      fields.emplace();
      for (int i = 0; i < row->GetFieldCount(); ++i) {
        fields->push_back(row->IsFieldSetAndNotNull(i) ? row->GetFieldAsString(i) : "");
      }
    }
    dataset->ReleaseResultSet(result);
    return fields;
  }

  // The ids of the layer's features, in the order the source reads them.
  std::vector<GIntBig> AllIds() {
    StopSequential();
    std::vector<const char*> ignored;
    OGRFeatureDefn* definition = layer->GetLayerDefn();
    for (int i = 0; i < definition->GetFieldCount(); ++i) {
      ignored.push_back(definition->GetFieldDefn(i)->GetNameRef());
    }
    for (const char* special : {"OGR_GEOMETRY", "OGR_STYLE"}) ignored.push_back(special);
    ignored.push_back(nullptr);
    layer->SetIgnoredFields(ignored.data());
    std::vector<GIntBig> ids;
    layer->ResetReading();
    while (std::unique_ptr<OGRFeature> feature{layer->GetNextFeature()}) {
      ids.push_back(feature->GetFID());
    }
    layer->SetIgnoredFields(nullptr);
    layer->ResetReading();
    return ids;
  }

  // Record `number`; without its geometry when `without_geometry`, and
  // with only `fields` when there are any, where the record is read in a
  // walk from the first record (read whole otherwise).
  FetchedFeature Fetch(long number, bool without_geometry, std::span<const char* const> fields) {
    const RecordNumbering& numbers = Numbering();
    const std::optional<GIntBig> fid = numbers.IdOf(number);
    if (!fid) return {};
    if (number == 1 && numbers.in_id_order) StartSequential(*fid, without_geometry, fields);
    if (sequential && WalksAs(without_geometry, fields) && *fid > last_fid) {
      last_fid = *fid;
      while (true) {
        if (!lookahead) lookahead = NextInSequence();
        if (!lookahead) {
          sequential = false;
          read_ahead.reset();
          return {};
        }
        if (lookahead.Id() == *fid) return std::exchange(lookahead, {});
        if (lookahead.Id() > *fid) return {};  // a gap in the ids
        lookahead = {};
      }
    }
    StopSequential();
    return {std::unique_ptr<OGRFeature>(layer->GetFeature(*fid)), {}, false, nullptr};
  }
};

// The open layers by handle. Several threads open, walk and close layers at
// once (the counties of a batch, each on a thread of its own): a layer is
// used by the thread that opened it, or one it was handed to, and a handle
// is looked up without a lock, in a table of slots that never moves, while
// the openings and closings that change it take turns.
class LayerTable {
 public:
  static LayerTable& Instance() {
    static LayerTable table;
    return table;
  }

  // Handles are not given out again until all others have been: a handle
  // kept after its layer was closed then names no layer rather than another.
  LayerHandle Add(std::unique_ptr<OpenLayerState> state) {
    const std::lock_guard<std::mutex> lock(mutex_);
    state->serial = ++serials_;
    state->label = std::make_shared<const std::string>(state->Describe());
    if (layers_.size() < kSlots) {
      layers_.push_back(std::move(state));
      return Publish(layers_.size() - 1);
    }
    for (std::size_t tried = 0; tried < layers_.size(); ++tried) {
      reuse_ = (reuse_ + 1) % layers_.size();
      if (!layers_[reuse_]) {
        layers_[reuse_] = std::move(state);
        return Publish(reuse_);
      }
    }
    throw GisError("too many layers are open at once");
  }

  OpenLayerState* Find(LayerHandle handle) const {
    if (handle <= 0 || static_cast<std::size_t>(handle) > kSlots) return nullptr;
    return slots_[handle - 1].load(std::memory_order_acquire);
  }

  OpenLayerState& Get(LayerHandle handle) const {
    OpenLayerState* state = Find(handle);
    if (!state) throw GisError("no open layer has the handle " + std::to_string(handle));
    return *state;
  }

  void Remove(LayerHandle handle) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!Find(handle)) return;
    slots_[handle - 1].store(nullptr, std::memory_order_release);
    layers_[handle - 1].reset();
  }

  void Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < layers_.size(); ++i) {
      slots_[i].store(nullptr, std::memory_order_release);
      layers_[i].reset();
    }
  }

  // The data source already open for writing the layers of `source`, for
  // one more of its layers: a GeoPackage is one SQLite file, and a second
  // connection writing to it would wait for the first to finish reading
  // (and fail after the busy timeout). Null when none is open, or when
  // `layer_name` is open on it already (one OGR layer cannot serve two
  // walks at once; that opening gets a connection of its own).
  std::shared_ptr<GDALDataset> WritableDataset(const std::string& source,
                                               const std::string& layer_name) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<GDALDataset> found;
    for (const auto& state : layers_) {
      if (!state || !state->writable || state->memory_table || state->source != source) continue;
      if (state->name == layer_name) return nullptr;
      found = state->dataset;
    }
    return found;
  }

  // Ends every walk of the layers of `dataset`: a change of structure waits
  // for no statement of its own connection.
  void StopReadingOn(const GDALDataset* dataset) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& state : layers_) {
      if (!state || state->dataset.get() != dataset) continue;
      state->StopSequential();
      state->ForgetUpdate();
      state->layer->ResetReading();
    }
  }

 private:
  // As many as a handle can number.
  static constexpr std::size_t kSlots = std::numeric_limits<LayerHandle>::max();

  // Makes the layer in `slot` found by its handle.
  LayerHandle Publish(std::size_t slot) {
    slots_[slot].store(layers_[slot].get(), std::memory_order_release);
    return static_cast<LayerHandle>(slot + 1);
  }

  mutable std::mutex mutex_;  // held while the table changes
  std::vector<std::unique_ptr<OpenLayerState>> layers_;
  // What Find reads: the layers' states by handle, without a lock.
  std::array<std::atomic<OpenLayerState*>, kSlots> slots_{};
  std::size_t reuse_ = 0;
  long serials_ = 0;
};

OpenLayerState& StateOf(LayerHandle layer) {
  return LayerTable::Instance().Get(layer);
}

}  // namespace

// A record keeps the serial of the opening it was read from, not a pointer
// into it: the layer may be closed while the record lives on.
struct Record::Feature {
  // Read through the layer's opening; for a record read ahead, read there
  // anew when the record is to be changed or written.
  std::unique_ptr<OGRFeature> feature;
  // A record read ahead, without its geometry.
  detail::PlainRecord plain;
  bool without_geometry = false;  // read by a walk that left it unread
  FieldsRead fields_read;         // null: read with every field
  long serial = 0;
  std::shared_ptr<const std::string> label;
  bool changed = false;  // a field's value set to another since the read
};

// Reaches into Record for the functions of this file.
class LayerAccess {
 public:
  static void Fill(Record& record, LayerHandle layer, long number, FetchedFeature fetched,
                   const OpenLayerState* state) {
    record.layer_ = layer;
    record.number_ = number;
    if (!fetched) {
      record.feature_.reset();
      return;
    }
    record.feature_ = std::make_unique<Record::Feature>();
    record.feature_->feature = std::move(fetched.feature);
    record.feature_->plain = std::move(fetched.plain);
    record.feature_->without_geometry = fetched.without_geometry;
    record.feature_->fields_read = std::move(fetched.fields_read);
    record.feature_->serial = state->serial;
    record.feature_->label = state->label;
  }

  // The feature of a read record whose layer is still open under the same
  // opening; null for an unread record. A record read ahead is read anew
  // through the layer's opening. Raises GisError naming the layer when it
  // was closed since the record was read.
  static OGRFeature* FeatureOf(const Record& record) {
    if (!record.feature_) return nullptr;
    const OpenLayerState& state = LiveState(record);
    Record::Feature& read = *record.feature_;
    if (!read.feature && read.plain) {
      read.feature.reset(state.layer->GetFeature(read.plain.Id()));
      if (!read.feature) {
        throw GisError(*read.label + ", record " + std::to_string(record.number_) +
                       ": cannot be read again: " + LastGdalMessage());
      }
      read.plain = {};
    }
    return read.feature.get();
  }

  // The geometry of a read record, checked as FeatureOf does; null for
  // none. Raises GisError naming the layer and the record for a record read
  // without its geometry (every record read ahead).
  static const OGRGeometry* GeometryOf(const Record& record) {
    if (!record.feature_) return nullptr;
    LiveState(record);
    Record::Feature& read = *record.feature_;
    if (read.without_geometry) {
      throw GisError(*read.label + ", record " + std::to_string(record.number_) +
                     ": was read without its geometry");
    }
    return read.feature ? read.feature->GetGeometryRef() : nullptr;
  }

  // Gives a record read without its geometry the one its source holds, for
  // a write of the whole feature; any walk of the layer ends, since it
  // leaves geometries unread.
  static void RestoreGeometry(const Record& record, OpenLayerState& state) {
    Record::Feature& read = *record.feature_;
    if (!read.without_geometry || !read.feature) return;
    state.StopSequential();
    const std::unique_ptr<OGRFeature> stored(state.layer->GetFeature(read.feature->GetFID()));
    if (!stored) {
      throw GisError(*read.label + ", record " + std::to_string(record.number_) +
                     ": cannot be read again: " + LastGdalMessage());
    }
    read.feature->SetGeometryDirectly(stored->StealGeometry());
    read.without_geometry = false;
  }

  // Whether a read record holds only a few of its fields.
  static bool ReadInPart(const Record& record) {
    return record.feature_ && record.feature_->fields_read != nullptr;
  }

  // Takes the geometry out of a read record (null for none).
  static std::unique_ptr<OGRGeometry> TakeGeometry(const Record& record) {
    if (!GeometryOf(record)) return nullptr;
    return std::unique_ptr<OGRGeometry>(record.feature_->feature->StealGeometry());
  }

  // The text of field `index` of a read record, as Record::Text gives it.
  // Raises GisError naming the layer, the record and the field for a field
  // of the layer the read left unread.
  static std::string TextOf(const Record& record, int index) {
    if (!record.feature_ || index < 0) return {};
    const OpenLayerState& state = LiveState(record);
    const Record::Feature& read = *record.feature_;
    if (read.fields_read && static_cast<std::size_t>(index) < read.fields_read->size() &&
        !(*read.fields_read)[static_cast<std::size_t>(index)]) {
      throw GisError(*read.label + ", record " + std::to_string(record.number_) + ": field \"" +
                     state.layer->GetLayerDefn()->GetFieldDefn(index)->GetNameRef() +
                     "\" was not read");
    }
    std::string text;
    if (read.feature) {
      detail::AppendFieldText(*read.feature, index, text);
    } else if (index < read.plain.FieldCount()) {
      text = read.plain.Text(index);
    }
    return text;
  }

  // The layer of a read record, checked as FeatureOf does.
  static const OpenLayerState& LiveState(const Record& record) {
    const OpenLayerState* state = LayerTable::Instance().Find(record.layer_);
    if (!state || state->serial != record.feature_->serial) {
      throw GisError(*record.feature_->label + ", record " + std::to_string(record.number_) +
                     ": the layer (handle " + std::to_string(record.layer_) +
                     ") was closed after the record was read");
    }
    return *state;
  }
};

Record::Record() = default;
Record::~Record() = default;
Record::Record(Record&&) noexcept = default;
Record& Record::operator=(Record&&) noexcept = default;

std::string Record::Text(std::string_view field) const {
  if (!feature_) return {};
  return Text(LayerAccess::LiveState(*this).FieldIndex(field));
}

std::string Record::Text(int index) const {
  return LayerAccess::TextOf(*this, index);
}

double Record::Number(std::string_view field) const {
  const std::string text = Text(field);
  return text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
}

double Record::Number(int index) const {
  const std::string text = Text(index);
  return text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
}

void Record::SetText(std::string_view field, std::string_view text) {
  if (!feature_) throw GisError("no record has been read to write " + std::string(field) + " into");
  const OpenLayerState& state = LayerAccess::LiveState(*this);
  const int index = state.FieldIndex(field);
  if (index < 0) {
    throw GisError(state.Describe() + " has no field \"" + std::string(field) + "\"");
  }
  SetText(index, text);
}

void Record::SetText(int index, std::string_view text) {
  if (!feature_) {
    throw GisError("no record has been read to write field " + std::to_string(index) + " into");
  }
  const OpenLayerState& state = LayerAccess::LiveState(*this);
  OGRFeature* feature = LayerAccess::FeatureOf(*this);
  if (index < 0 || index >= feature->GetFieldCount()) {
    throw GisError(state.Describe() + " has no field number " + std::to_string(index));
  }
  const OGRFieldDefn* definition = feature->GetFieldDefnRef(index);
  const OGRFieldType type = definition->GetType();
  if ((type == OFTReal || type == OFTInteger || type == OFTInteger64) && !text.empty() &&
      !IsNumberText(text)) {
    throw GisError(state.Describe() + ", record " + std::to_string(number_) + ": the text \"" +
                   std::string(text) + "\" for numeric field \"" + definition->GetNameRef() +
                   "\" is not a number");
  }
  // The value as stored before and after, exactly: a number by its bits.
  const auto value = [&] {
    if (!feature->IsFieldSetAndNotNull(index)) return std::string(1, '\0');
    if (type != OFTReal) return std::string("t") + feature->GetFieldAsString(index);
    const double number = feature->GetFieldAsDouble(index);
    return std::string("n") + std::string(reinterpret_cast<const char*>(&number), sizeof number);
  };
  const std::string before = feature_->changed ? std::string() : value();
  if (text.empty()) {
    feature->SetFieldNull(index);
  } else {
    feature->SetField(index, std::string(text).c_str());
  }
  if (!feature_->changed && value() != before) feature_->changed = true;
}

bool Record::Changed() const {
  return feature_ && feature_->changed;
}

namespace {

const OGRGeometry& GeometryOf(const Record& record, const char* what) {
  const OGRGeometry* geometry = LayerAccess::GeometryOf(record);
  if (!geometry || geometry->IsEmpty()) {
    throw GisError(std::string("cannot take the ") + what + " of record " +
                   std::to_string(record.Number()) + ": it has no geometry");
  }
  return *geometry;
}

}  // namespace

double Record::Area() const {
  const OGRGeometry& geometry = GeometryOf(*this, "area");
  return OGR_G_Area(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry)));
}

double Record::Length() const {
  const OGRGeometry& geometry = GeometryOf(*this, "length");
  return OGR_G_Length(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry)));
}

namespace {

std::optional<Point> InnerPoint(const OGRGeometry& geometry) {
  std::unique_ptr<OGRGeometry> inner(OGRGeometry::FromHandle(
      OGR_G_PointOnSurface(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry)))));
  if (!inner || inner->IsEmpty() || wkbFlatten(inner->getGeometryType()) != wkbPoint) {
    return std::nullopt;
  }
  return Point{inner->toPoint()->getX(), inner->toPoint()->getY()};
}

}  // namespace

std::optional<Point> Record::PointOnSurface() const {
  return InnerPoint(GeometryOf(*this, "inner point"));
}

void Record::AppendGeometry(std::string& out) const {
  const OGRGeometry& geometry = GeometryOf(*this, "inner point");
  const std::size_t at = out.size();
  out.resize(at + geometry.WkbSize());
  // The ISO form keeps curves and the third dimension as they were read.
  geometry.exportToWkb(wkbNDR, reinterpret_cast<unsigned char*>(out.data() + at), wkbVariantIso);
}

std::optional<Point> PointOnSurfaceOf(std::string_view geometry) {
  OGRGeometry* read = nullptr;
  if (OGRGeometryFactory::createFromWkb(geometry.data(), nullptr, &read, geometry.size(),
                                        wkbVariantIso) != OGRERR_NONE) {
    delete read;
    return std::nullopt;
  }
  const std::unique_ptr<OGRGeometry> held(read);
  return InnerPoint(*held);
}

std::optional<Rect> Record::Bounds() const {
  const OGRGeometry* geometry = LayerAccess::GeometryOf(*this);
  if (!geometry || geometry->IsEmpty()) return std::nullopt;
  OGREnvelope box;
  geometry->getEnvelope(&box);
  return Rect{box.MinX, box.MinY, box.MaxX, box.MaxY};
}

bool Record::GeometryIsUsable() const {
  const OGRGeometry* geometry = LayerAccess::GeometryOf(*this);
  return geometry && !geometry->IsEmpty() && geometry->IsValid();
}

namespace {

// The names of a data source's layers, for an error about a name it lacks.
std::string LayerNamesOf(GDALDataset& dataset) {
  constexpr int kShown = 20;
  const int count = dataset.GetLayerCount();
  if (count == 0) return "it has no layers";
  std::string names = "its layers:";
  for (int i = 0; i < std::min(count, kShown); ++i) {
    names += std::string(i ? ", \"" : " \"") + dataset.GetLayer(i)->GetName() + "\"";
  }
  return count > kShown ? names + " and " + std::to_string(count - kShown) + " more" : names;
}

// The kind of a layer whose declared geometry type is generic (GEOMETRY, as
// ogr2ogr writes from a text file) or of no survey kind, told by its first
// geometries: they must all be of one kind. Attributes only when no feature
// has a geometry; nothing when the layer has no features at all.
std::optional<EntityKind> KindOfFeatures(OGRLayer& layer, const std::string& what) {
  constexpr int kSampled = 16;
  std::optional<EntityKind> kind;
  bool any_feature = false;
  int sampled = 0;
  layer.ResetReading();
  for (std::unique_ptr<OGRFeature> feature{layer.GetNextFeature()}; feature && sampled < kSampled;
       feature.reset(layer.GetNextFeature())) {
    any_feature = true;
    const OGRGeometry* geometry = feature->GetGeometryRef();
    if (!geometry || geometry->IsEmpty()) continue;
    ++sampled;
    const EntityKind found = KindOfGeometry(geometry->getGeometryType());
    if (found == EntityKind::kTable || (kind && found != *kind)) {
      layer.ResetReading();
      throw GisError(what + ": its features are of more than one kind or of none the survey" +
                     " knows (feature " + std::to_string(feature->GetFID()) + " is a " +
                     OGRGeometryTypeToName(geometry->getGeometryType()) +
                     (kind ? std::string(" among ") + KindName(*kind) : std::string()) + ")");
    }
    kind = found;
  }
  layer.ResetReading();
  if (!kind && any_feature) return EntityKind::kTable;
  return kind;
}

// A layer's kind: as declared, or by its features when the declaration
// names no kind. Nothing for an empty layer of no declared kind.
std::optional<EntityKind> KindOfLayer(OGRLayer& layer, const std::string& what) {
  const OGRwkbGeometryType declared = layer.GetGeomType();
  const EntityKind kind = KindOfGeometry(declared);
  if (kind != EntityKind::kTable || declared == wkbNone) return kind;
  return KindOfFeatures(layer, what);
}

}  // namespace

LayerHandle OpenLayer(const std::string& source, const std::string& layer_name, bool writable) {
  RegisterDrivers();
  const std::string what = "layer \"" + layer_name + "\" of " + source;
  CPLErrorReset();
  // Verbose: GDAL then says why a source it cannot open was refused.
  const unsigned flags =
      GDAL_OF_VECTOR | GDAL_OF_VERBOSE_ERROR | (writable ? GDAL_OF_UPDATE : GDAL_OF_READONLY);
  std::shared_ptr<GDALDataset> dataset =
      writable ? LayerTable::Instance().WritableDataset(source, layer_name) : nullptr;
  if (!dataset) {
    dataset.reset(
        GDALDataset::Open(source.c_str(), flags, nullptr, ShapefileOpenOptions(source), nullptr));
  }
  if (!dataset) {
    std::error_code error;
    const bool missing = !fs::exists(source, error);
    throw GisError("cannot open " + what + ": " +
                   (missing ? "the data source does not exist: " : "") + LastGdalMessage());
  }
  OGRLayer* layer = dataset->GetLayerByName(layer_name.c_str());
  if (!layer && dataset->GetLayerCount() == 1 &&
      std::string(dataset->GetDriver()->GetDescription()) == "ESRI Shapefile") {
    layer = dataset->GetLayer(0);  // a shapefile is its own one layer
  }
  if (!layer) {
    throw GisError("cannot open " + what + ": the data source has no layer of that name (" +
                   LayerNamesOf(*dataset) + ")");
  }
  auto state = std::make_unique<OpenLayerState>();
  state->source = source;
  state->name = layer_name;
  state->layer = layer;
  state->writable = writable;
  const std::optional<EntityKind> kind = KindOfLayer(*layer, what);
  state->kind = kind.value_or(EntityKind::kTable);
  state->kind_open = !kind;
  state->dataset = std::move(dataset);
  state->IndexFields();
  return LayerTable::Instance().Add(std::move(state));
}

std::vector<std::string> SourceLayerNames(const std::string& source) {
  RegisterDrivers();
  CPLErrorReset();
  std::unique_ptr<GDALDataset> dataset(
      GDALDataset::Open(source.c_str(), GDAL_OF_VECTOR | GDAL_OF_VERBOSE_ERROR | GDAL_OF_READONLY,
                        nullptr, ShapefileOpenOptions(source), nullptr));
  if (!dataset) throw GisError("cannot open " + source + ": " + LastGdalMessage());
  std::vector<std::string> names;
  for (int i = 0; i < dataset->GetLayerCount(); ++i)
    names.push_back(dataset->GetLayer(i)->GetName());
  return names;
}

LayerHandle OpenLayerOfKind(const std::string& source, const std::string& layer_name,
                            EntityKind kind, bool writable) {
  const LayerHandle layer = OpenLayer(source, layer_name, writable);
  try {
    RequireKind(layer, kind);
  } catch (const GisError&) {
    CloseLayer(layer);
    throw;
  }
  return layer;
}

void RequireKind(LayerHandle layer, EntityKind kind) {
  OpenLayerState& state = StateOf(layer);
  if (state.kind_open) state.kind = kind;  // an empty layer of no declared kind
  if (state.kind != kind) {
    throw GisError(state.Describe() + " holds " + KindName(state.kind) + ", not " + KindName(kind));
  }
}

void CloseLayer(LayerHandle layer) {
  LayerTable::Instance().Remove(layer);
}

void CloseAllLayers() {
  LayerTable::Instance().Clear();
}

bool IsLayerValid(LayerHandle layer) {
  return LayerTable::Instance().Find(layer) != nullptr;
}

long LayerSerial(LayerHandle layer) {
  const OpenLayerState* state = LayerTable::Instance().Find(layer);
  return state ? state->serial : 0;
}

std::string LayerName(LayerHandle layer) {
  return StateOf(layer).name;
}

std::string LayerSource(LayerHandle layer) {
  const OpenLayerState& state = StateOf(layer);
  return state.memory_table ? "" : state.source;
}

EntityKind LayerKind(LayerHandle layer) {
  return StateOf(layer).kind;
}

int DataSourceKind(LayerHandle layer) {
  StateOf(layer);
  return kRowByRowSource;
}

std::vector<FieldDef> LayerFields(LayerHandle layer) {
  const OpenLayerState& state = StateOf(layer);
  OGRFeatureDefn* definition = state.layer->GetLayerDefn();
  std::vector<FieldDef> fields;
  for (int i = 0; i < definition->GetFieldCount(); ++i) {
    const OGRFieldDefn* field = definition->GetFieldDefn(i);
    fields.push_back({field->GetNameRef(), FieldTypeOf(field->GetType()), field->GetWidth(),
                      field->GetPrecision()});
    if (auto declared = state.declared_decimals.find(i);
        declared != state.declared_decimals.end()) {
      fields.back().decimals = declared->second;
    }
  }
  return fields;
}

namespace {

bool SameAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The index of a field named without regard to ASCII case; -1 when none.
int FieldIndexAnyCase(const OpenLayerState& state, std::string_view field) {
  const int exact = state.FieldIndex(field);
  if (exact >= 0) return exact;
  OGRFeatureDefn* definition = state.layer->GetLayerDefn();
  for (int i = 0; i < definition->GetFieldCount(); ++i) {
    if (SameAsciiCase(definition->GetFieldDefn(i)->GetNameRef(), field)) return i;
  }
  return -1;
}

}  // namespace

std::optional<int> DeclaredDecimals(LayerHandle layer, std::string_view field) {
  const OpenLayerState& state = StateOf(layer);
  const int index = FieldIndexAnyCase(state, field);
  if (index < 0) return std::nullopt;
  if (auto declared = state.declared_decimals.find(index);
      declared != state.declared_decimals.end()) {
    return declared->second;
  }
  const OGRFieldDefn* definition = state.layer->GetLayerDefn()->GetFieldDefn(index);
  switch (FieldTypeOf(definition->GetType())) {
    case FieldType::kInteger:
      return 0;
    case FieldType::kDouble:
      if (definition->GetWidth() <= 0) return std::nullopt;
      return definition->GetPrecision();
    default:
      return std::nullopt;
  }
}

void SetFieldDecimals(LayerHandle layer, std::string_view field, int decimals) {
  OpenLayerState& state = StateOf(layer);
  const int index = FieldIndexAnyCase(state, field);
  if (index < 0) {
    throw GisError(state.Describe() + " has no field \"" + std::string(field) + "\"");
  }
  if (decimals < 0 || decimals > 15) {
    throw GisError(state.Describe() + ": " + std::to_string(decimals) +
                   " decimals cannot be declared for field \"" + std::string(field) + "\"");
  }
  state.declared_decimals[index] = decimals;
}

bool HasField(LayerHandle layer, std::string_view field) {
  return StateOf(layer).FieldIndex(field) >= 0;
}

int FieldIndexOf(const std::vector<FieldDef>& fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int FieldIndex(LayerHandle layer, std::string_view name) {
  return StateOf(layer).FieldIndex(name);
}

long RecordCount(LayerHandle layer, EntityKind kind) {
  OpenLayerState* state = LayerTable::Instance().Find(layer);
  if (!state) return 0;
  if (kind != EntityKind::kTable && kind != state->kind) return 0;
  return state->Count();
}

bool ReadRecord(LayerHandle layer, EntityKind kind, long number, Record& record, RecordParts parts,
                std::span<const char* const> fields) {
  OpenLayerState* state = LayerTable::Instance().Find(layer);
  if (!state || number < 1 || (kind != EntityKind::kTable && kind != state->kind)) {
    LayerAccess::Fill(record, layer, number, {}, nullptr);
    return false;
  }
  const bool whole = state->memory_table;
  const bool without_geometry = parts == RecordParts::kFields && !whole;
  LayerAccess::Fill(
      record, layer, number,
      state->Fetch(number, without_geometry, whole ? std::span<const char* const>{} : fields),
      state);
  return record.IsRead();
}

std::string FieldText(LayerHandle layer, long number, std::string_view field) {
  Record record;
  if (!ReadRecord(layer, EntityKind::kTable, number, record)) return {};
  return record.Text(field);
}

namespace {

// The SQLite connection of a GeoPackage whose fields OGR reads as they are
// stored (whole numbers, reals, text: no dates, lists or blobs, no field
// standing for the FID column); null for any other source.
sqlite3* PlainGeoPackage(const OpenLayerState& state) {
  if (!state.dataset || !state.dataset->GetDriver() ||
      std::string_view(state.dataset->GetDriver()->GetDescription()) != "GPKG") {
    return nullptr;
  }
  const char* fid = state.layer->GetFIDColumn();
  if (!fid || !*fid) return nullptr;
  const OGRFeatureDefn& fields = *state.layer->GetLayerDefn();
  for (int i = 0; i < fields.GetFieldCount(); ++i) {
    const OGRFieldDefn& field = *fields.GetFieldDefn(i);
    const OGRFieldType type = field.GetType();
    if ((type != OFTInteger && type != OFTInteger64 && type != OFTReal && type != OFTString) ||
        EQUAL(field.GetNameRef(), fid)) {
      return nullptr;
    }
  }
  return static_cast<sqlite3*>(state.dataset->GetInternalHandle("SQLITE_HANDLE"));
}

// Prepares the UPDATE of `fields` by the record's FID; false when the
// source is not written this way.
bool PrepareUpdate(OpenLayerState& state, std::vector<int> fields) {
  state.ForgetUpdate();
  sqlite3* connection = PlainGeoPackage(state);
  if (!connection) return false;
  const OGRFeatureDefn& definition = *state.layer->GetLayerDefn();
  std::string sql = "UPDATE " + db::QuoteName(state.layer->GetName()) + " SET ";
  for (std::size_t k = 0; k < fields.size(); ++k) {
    sql += (k ? ", " : "") + db::QuoteName(definition.GetFieldDefn(fields[k])->GetNameRef()) + "=?";
  }
  sql += " WHERE " + db::QuoteName(state.layer->GetFIDColumn()) + "=?";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return false;
  }
  state.update.reset(statement);
  state.update_fields = std::move(fields);
  // What OGR records of a table it wrote to: the time of the change.
  const std::string changed =
      "UPDATE gpkg_contents SET last_change = strftime('%Y-%m-%dT%H:%M:%fZ', 'now') WHERE "
      "lower(table_name) = lower(" +
      db::QuoteText(state.layer->GetName()) + ")";
  char* error = nullptr;
  if (sqlite3_exec(connection, changed.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error ? error : "unknown error";
    sqlite3_free(error);
    throw GisError(state.Describe() + ": cannot record the time of its change: " + why);
  }
  return true;
}

void BindField(sqlite3_stmt* statement, int place, const OGRFeature& feature, int field) {
  if (feature.IsFieldNull(field)) {
    sqlite3_bind_null(statement, place);
    return;
  }
  switch (feature.GetFieldDefnRef(field)->GetType()) {
    case OFTInteger:
      sqlite3_bind_int(statement, place, feature.GetFieldAsInteger(field));
      break;
    case OFTInteger64:
      sqlite3_bind_int64(statement, place, feature.GetFieldAsInteger64(field));
      break;
    case OFTReal:
      sqlite3_bind_double(statement, place, feature.GetFieldAsDouble(field));
      break;
    default:
      sqlite3_bind_text(statement, place, feature.GetFieldAsString(field), -1, SQLITE_TRANSIENT);
      break;
  }
}

// Writes the fields of a record of a GeoPackage table by one UPDATE of
// their columns, binding each value as OGR would: the geometry, which a
// Record never changes, is left as it is stored, and with it the table's
// spatial index, which OGR would have the GeoPackage replace the record's
// entry in at every write. False when the source is not written this way.
bool WriteFields(OpenLayerState& state, const OGRFeature& feature, long number) {
  if (state.update_by_feature) return false;
  std::vector<int> fields;
  for (int i = 0; i < feature.GetFieldCount(); ++i) {
    if (feature.IsFieldSet(i)) fields.push_back(i);
  }
  if (fields.empty()) return false;
  if (!state.update || fields != state.update_fields) {
    if (!PrepareUpdate(state, std::move(fields))) {
      state.update_by_feature = true;
      return false;
    }
  }
  sqlite3_stmt* statement = state.update.get();
  int place = 1;
  for (int field : state.update_fields) BindField(statement, place++, feature, field);
  sqlite3_bind_int64(statement, place, feature.GetFID());
  const int status = sqlite3_step(statement);
  sqlite3* connection = sqlite3_db_handle(statement);
  const std::string why = status == SQLITE_DONE ? "" : sqlite3_errmsg(connection);
  const bool found = status == SQLITE_DONE && sqlite3_changes(connection) > 0;
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  if (!found) {
    throw GisError(state.Describe() + ", record " + std::to_string(number) +
                   ": cannot write it: " + (why.empty() ? "no such record" : why));
  }
  return true;
}

}  // namespace

void WriteRecord(LayerHandle layer, const Record& record) {
  OpenLayerState& state = StateOf(layer);
  OGRFeature* feature = LayerAccess::FeatureOf(record);
  if (!feature) throw GisError(state.Describe() + ": no record to write");
  const OpenLayerState& read_from = LayerAccess::LiveState(record);
  if (&read_from != &state) {
    throw GisError(state.Describe() + ": record " + std::to_string(record.Number()) +
                   " was read from " + read_from.Describe());
  }
  if (!state.writable) throw GisError(state.Describe() + " is open for reading only");
  if (LayerAccess::ReadInPart(record)) {
    throw GisError(state.Describe() + ", record " + std::to_string(record.Number()) +
                   ": was read with a few of its fields and cannot be written back");
  }
  if (WriteFields(state, *feature, record.Number())) return;
  LayerAccess::RestoreGeometry(record, state);
  CPLErrorReset();
  if (state.layer->SetFeature(feature) != OGRERR_NONE) {
    throw GisError(state.Describe() + ", record " + std::to_string(record.Number()) +
                   ": cannot write it: " + LastGdalMessage());
  }
}

void AddField(LayerHandle layer, const FieldDef& field) {
  OpenLayerState& state = StateOf(layer);
  if (!state.writable) throw GisError(state.Describe() + " is open for reading only");
  if (state.FieldIndex(field.name) >= 0) return;
  if (state.dataset) LayerTable::Instance().StopReadingOn(state.dataset.get());
  OGRFieldDefn definition(field.name.c_str(), OgrTypeOf(field.type));
  definition.SetWidth(field.width);
  definition.SetPrecision(field.decimals);
  CPLErrorReset();
  if (state.layer->CreateField(&definition) != OGRERR_NONE) {
    throw GisError(state.Describe() + ": cannot add field \"" + field.name +
                   "\": " + LastGdalMessage());
  }
  state.IndexFields();
}

LayerHandle CreateTable(const std::string& name, const std::vector<FieldDef>& fields) {
  RegisterDrivers();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("Memory");
  if (!driver) throw GisError("the in-memory GIS driver is missing");
  std::unique_ptr<GDALDataset> dataset(driver->Create("", 0, 0, 0, GDT_Unknown, nullptr));
  OGRLayer* layer = dataset ? dataset->CreateLayer(name.c_str(), nullptr, wkbNone) : nullptr;
  if (!layer) throw GisError("cannot create the table \"" + name + "\": " + LastGdalMessage());
  auto state = std::make_unique<OpenLayerState>();
  state->source = "memory";
  state->name = name;
  state->layer = layer;
  state->writable = true;
  state->memory_table = true;
  state->dataset = std::move(dataset);
  const LayerHandle handle = LayerTable::Instance().Add(std::move(state));
  for (const FieldDef& field : fields) AddField(handle, field);
  return handle;
}

long AddRecord(LayerHandle table) {
  OpenLayerState& state = StateOf(table);
  if (!state.writable) throw GisError(state.Describe() + " is open for reading only");
  OGRFeature feature(state.layer->GetLayerDefn());
  // A table's numbers are its ids; a data source gives the new feature its
  // id, and the layer is numbered anew.
  if (state.memory_table) feature.SetFID(state.next_table_number);
  state.StopSequential();
  if (state.layer->CreateFeature(&feature) != OGRERR_NONE) {
    throw GisError(state.Describe() + ": cannot add a record: " + LastGdalMessage());
  }
  if (state.memory_table) ++state.next_table_number;
  state.numbering.reset();
  return state.NumberOf(feature.GetFID());
}

void DeleteRecord(LayerHandle layer, long number) {
  OpenLayerState& state = StateOf(layer);
  if (!state.writable) throw GisError(state.Describe() + " is open for reading only");
  // The numbers stay: that of the record deleted reads as missing.
  const std::optional<GIntBig> id = state.Numbering().IdOf(number);
  state.StopSequential();
  if (!id || state.layer->DeleteFeature(*id) != OGRERR_NONE) {
    throw GisError(state.Describe() + ": no record " + std::to_string(number) + " to delete");
  }
}

void SaveLayerAs(LayerHandle layer, const std::string& source, const std::string& layer_name) {
  OpenLayerState& state = StateOf(layer);
  RegisterDrivers();
  const std::string extension = fs::path(source).extension().string();
  const bool shapefile = extension == ".shp";
  std::unique_ptr<GDALDataset> target;
  if (fs::exists(source) && !shapefile) {
    target.reset(GDALDataset::Open(source.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
  } else {
    GDALDriver* driver =
        GetGDALDriverManager()->GetDriverByName(shapefile ? "ESRI Shapefile" : "GPKG");
    target.reset(driver ? driver->Create(source.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr);
  }
  if (!target) throw GisError("cannot write the data source " + source + ": " + LastGdalMessage());
  const char* const options[] = {shapefile ? "ENCODING=UTF-8" : nullptr, nullptr};
  state.StopSequential();
  CPLErrorReset();
  if (!target->CopyLayer(state.layer, layer_name.c_str(), const_cast<char**>(options))) {
    throw GisError("cannot save " + state.Describe() + " as \"" + layer_name + "\" in " + source +
                   ": " + LastGdalMessage());
  }
}

LayerHandle CreateWorkLayer(LayerHandle beside, const std::string& name, EntityKind kind,
                            const std::vector<FieldDef>& fields) {
  const OpenLayerState& next_to = StateOf(beside);
  if (kind != EntityKind::kLine && kind != EntityKind::kPoint) {
    throw GisError("a work layer beside " + next_to.Describe() + " holds lines or points, not " +
                   KindName(kind));
  }
  if (next_to.memory_table) throw GisError(next_to.Describe() + " lies in no data source");
  const bool shapefile =
      std::string(next_to.dataset->GetDriver()->GetDescription()) == "ESRI Shapefile";
  // A shapefile's folder takes further layers; a GeoPackage takes them itself.
  const std::string source =
      shapefile ? fs::path(next_to.source).parent_path().string() : next_to.source;
  const std::string what = "the work layer \"" + name + "\" beside " + next_to.Describe();
  const std::string folder = source.empty() ? "." : source;
  CPLErrorReset();
  std::shared_ptr<GDALDataset> dataset = LayerTable::Instance().WritableDataset(folder, name);
  if (!dataset) dataset.reset(GDALDataset::Open(folder.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
  if (!dataset) throw GisError("cannot create " + what + ": " + LastGdalMessage());
  LayerTable::Instance().StopReadingOn(dataset.get());
  if (dataset->GetLayerByName(name.c_str())) {
    throw GisError("cannot create " + what + ": the data source has a layer of that name");
  }
  OGRLayer* layer =
      dataset->CreateLayer(name.c_str(), next_to.layer->GetSpatialRef(),
                           kind == EntityKind::kLine ? wkbLineString : wkbPoint, nullptr);
  if (!layer) throw GisError("cannot create " + what + ": " + LastGdalMessage());
  auto state = std::make_unique<OpenLayerState>();
  state->source = shapefile ? (fs::path(folder) / (name + ".shp")).string() : folder;
  state->name = name;
  state->layer = layer;
  state->writable = true;
  state->kind = kind;
  state->dataset = std::move(dataset);
  state->IndexFields();
  const LayerHandle handle = LayerTable::Instance().Add(std::move(state));
  try {
    for (const FieldDef& field : fields) AddField(handle, field);
  } catch (const GisError&) {
    CloseLayer(handle);
    throw;
  }
  return handle;
}

void SaveLayer(LayerHandle layer) {
  OpenLayerState& state = StateOf(layer);
  if (state.layer->SyncToDisk() != OGRERR_NONE) {
    throw GisError("cannot save " + state.Describe() + ": " + LastGdalMessage());
  }
}

EditTransaction::EditTransaction(const std::vector<LayerHandle>& layers) {
  for (LayerHandle layer : layers) {
    OpenLayerState* state = LayerTable::Instance().Find(layer);
    if (!state || !state->writable || state->memory_table) continue;
    const std::shared_ptr<GDALDataset>& dataset = state->dataset;
    const bool taken = std::any_of(sources_.begin(), sources_.end(), [&](const auto& source) {
      return source.get() == static_cast<void*>(dataset.get());
    });
    if (taken || dataset->TestCapability(ODsCTransactions) == FALSE) continue;
    LayerTable::Instance().StopReadingOn(dataset.get());
    CPLErrorReset();
    if (dataset->StartTransaction(FALSE) != OGRERR_NONE) {
      throw GisError("cannot begin a transaction on " + state->source + ": " + LastGdalMessage());
    }
    sources_.push_back(dataset);
    names_.push_back(state->source);
  }
}

EditTransaction::~EditTransaction() {
  for (const auto& source : sources_) {
    static_cast<GDALDataset*>(source.get())->RollbackTransaction();
  }
}

void EditTransaction::Commit() {
  while (!sources_.empty()) {
    auto* dataset = static_cast<GDALDataset*>(sources_.back().get());
    CPLErrorReset();
    if (dataset->CommitTransaction() != OGRERR_NONE) {
      throw GisError("cannot write the changes to " + names_.back() + ": " + LastGdalMessage());
    }
    sources_.pop_back();
    names_.pop_back();
  }
}

namespace {

// The condition with the layer's field names in double quotes: OGR's own
// SQL reads a bare name only when it is plain ASCII.
std::string QuotedFieldNames(const OpenLayerState& state, const std::string& condition) {
  return db::MapWords(condition, [&](std::string_view word) {
    const std::string name(word);
    return state.FieldIndex(name) >= 0 ? "\"" + name + "\"" : name;
  });
}

}  // namespace

std::vector<long> SelectRecords(LayerHandle layer, const std::string& condition) {
  OpenLayerState& state = StateOf(layer);
  state.Numbering();  // read before the filter is set
  state.StopSequential();
  const auto refuse = [&] {
    const std::string message = LastGdalMessage();
    state.layer->SetAttributeFilter(nullptr);
    state.layer->ResetReading();
    return GisError(state.Describe() + ": cannot select by \"" + condition + "\": " + message);
  };
  CPLErrorReset();
  if (state.layer->SetAttributeFilter(QuotedFieldNames(state, condition).c_str()) != OGRERR_NONE) {
    throw refuse();
  }
  std::vector<long> numbers;
  state.layer->ResetReading();
  while (std::unique_ptr<OGRFeature> feature{state.layer->GetNextFeature()}) {
    numbers.push_back(state.NumberOf(feature->GetFID()));
  }
  // Some sources only find a bad condition while they read.
  if (CPLGetLastErrorType() >= CE_Failure) throw refuse();
  state.layer->SetAttributeFilter(nullptr);
  state.layer->ResetReading();
  return numbers;
}

long FirstRecordWith(LayerHandle layer, std::string_view field, std::string_view value) {
  const int index = FieldIndex(layer, field);
  if (index < 0) return 0;
  const long count = RecordCount(layer, EntityKind::kTable);
  Record record;
  for (long number = 1; number < count; ++number) {
    if (ReadRecord(layer, EntityKind::kTable, number, record) && record.Text(index) == value) {
      return number;
    }
  }
  return 0;
}

std::vector<std::pair<long, std::string>> NonNumericValues(LayerHandle layer,
                                                           const std::string& field) {
  return NonNumericValues(layer, std::vector<std::string>{field}).front();
}

std::vector<std::vector<std::pair<long, std::string>>> NonNumericValues(
    LayerHandle layer, const std::vector<std::string>& fields) {
  std::vector<std::vector<std::pair<long, std::string>>> values(fields.size());
  OpenLayerState& state = StateOf(layer);
  const std::string driver = state.dataset && state.dataset->GetDriver()
                                 ? state.dataset->GetDriver()->GetDescription()
                                 : "";
  const char* fid_column = state.layer->GetFIDColumn();
  if ((driver != "GPKG" && driver != "SQLite") || !fid_column || !*fid_column) return values;
  // Per numeric field, its text where it holds no number (else null), and
  // the rows where any does.
  std::vector<std::size_t> read;
  std::string texts, held, names;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int index = state.FieldIndex(fields[i]);
    if (index < 0 || FieldTypeOf(state.layer->GetLayerDefn()->GetFieldDefn(index)->GetType()) ==
                         FieldType::kText) {
      continue;
    }
    const std::string column = db::QuoteName(fields[i]);
    const std::string no_number =
        column + " IS NOT NULL AND typeof(" + column + ") NOT IN ('integer', 'real')";
    texts += ", CASE WHEN " + no_number + " THEN CAST(" + column + " AS TEXT) END";
    held += (held.empty() ? "(" : " OR (") + no_number + ")";
    names += (names.empty() ? "\"" : ", \"") + fields[i] + "\"";
    read.push_back(i);
  }
  if (read.empty()) return values;
  // The identifier as text: GDAL takes an integer column of a result for
  // the rows' FID rather than a field.
  const std::string sql = "SELECT CAST(" + db::QuoteName(fid_column) + " AS TEXT)" + texts +
                          " FROM " + db::QuoteName(state.layer->GetName()) + " WHERE " + held;
  state.Numbering();  // read before the query
  state.StopSequential();
  CPLErrorReset();
  OGRLayer* result = state.dataset->ExecuteSQL(sql.c_str(), nullptr, nullptr);
  if (!result) {
    throw GisError(state.Describe() + ": cannot check the numbers of field " + names + ": " +
                   LastGdalMessage());
  }
  while (std::unique_ptr<OGRFeature> row{result->GetNextFeature()}) {
    const long number = state.NumberOf(std::strtoll(row->GetFieldAsString(0), nullptr, 10));
    for (std::size_t r = 0; r < read.size(); ++r) {
      const int at = static_cast<int>(r) + 1;
      if (row->IsFieldSetAndNotNull(at))
        values[read[r]].emplace_back(number, row->GetFieldAsString(at));
    }
  }
  state.dataset->ReleaseResultSet(result);
  return values;
}

void StoredFieldTexts::Watch(LayerHandle layer, const std::string& field) {
  Watch(layer, std::vector<std::string>{field});
}

void StoredFieldTexts::Watch(LayerHandle layer, const std::vector<std::string>& fields) {
  std::vector<std::vector<std::pair<long, std::string>>> texts = NonNumericValues(layer, fields);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::unordered_map<long, std::string>& held = held_[fields[i]];
    for (auto& [number, text] : texts[i]) held.emplace(number, std::move(text));
  }
}

std::string StoredFieldTexts::Text(const Record& record, const std::string& field,
                                   int index) const {
  if (auto texts = held_.find(field); texts != held_.end()) {
    if (auto found = texts->second.find(record.Number()); found != texts->second.end()) {
      return found->second;
    }
  }
  return index >= 0 ? record.Text(index) : record.Text(field);
}

double RecordArea(LayerHandle layer, long number) {
  Record record;
  if (!ReadRecord(layer, EntityKind::kTable, number, record)) {
    throw GisError(StateOf(layer).Describe() + " has no record " + std::to_string(number));
  }
  return record.Area();
}

namespace {

template <typename Visit>
void VisitInRect(OpenLayerState& state, const Rect& rect, Visit visit) {
  state.Numbering();  // read before the filter is set
  state.StopSequential();
  state.layer->SetSpatialFilterRect(rect.min_x, rect.min_y, rect.max_x, rect.max_y);
  state.layer->ResetReading();
  while (std::unique_ptr<OGRFeature> feature{state.layer->GetNextFeature()}) {
    if (visit(*feature)) break;
  }
  state.layer->SetSpatialFilter(nullptr);
  state.layer->ResetReading();
}

}  // namespace

long RegionContaining(LayerHandle layer, Point point) {
  OpenLayerState& state = StateOf(layer);
  if (state.kind != EntityKind::kRegion) return 0;
  const OGRPoint probe(point.x, point.y);
  long found = 0;
  VisitInRect(state, {point.x, point.y, point.x, point.y}, [&](OGRFeature& feature) {
    const OGRGeometry* geometry = feature.GetGeometryRef();
    if (geometry && geometry->Intersects(&probe)) {
      found = state.NumberOf(feature.GetFID());
      return true;
    }
    return false;
  });
  return found;
}

std::vector<long> RecordsInRect(LayerHandle layer, const Rect& rect) {
  OpenLayerState& state = StateOf(layer);
  std::vector<long> numbers;
  VisitInRect(state, rect, [&](OGRFeature& feature) {
    numbers.push_back(state.NumberOf(feature.GetFID()));
    return false;
  });
  return numbers;
}

namespace {

// The region grid of a layer, built on first use by one walk over its
// features (their boxes; regions without a geometry are left out).
const RegionGrid& GridOf(OpenLayerState& state) {
  if (state.region_grid) return *state.region_grid;
  auto grid = std::make_unique<RegionGrid>();
  state.StopSequential();
  state.layer->ResetReading();
  while (std::unique_ptr<OGRFeature> feature{state.layer->GetNextFeature()}) {
    const OGRGeometry* geometry = feature->GetGeometryRef();
    if (!geometry || geometry->IsEmpty()) continue;
    OGREnvelope box;
    geometry->getEnvelope(&box);
    grid->extent.Merge(box);
    grid->boxes.push_back(box);
    grid->fids.push_back(feature->GetFID());
  }
  state.layer->ResetReading();
  grid->Place();
  state.region_grid = std::move(grid);
  return *state.region_grid;
}

// The region of the grid's layer holding the point; 0 when none.
long RegionAt(OpenLayerState& state, const RegionGrid& grid, double x, double y) {
  const OGRPoint probe(x, y);
  long found = 0;
  grid.Candidates(x, y, [&](GIntBig fid) {
    std::unique_ptr<OGRFeature> feature(state.layer->GetFeature(fid));
    const OGRGeometry* geometry = feature ? feature->GetGeometryRef() : nullptr;
    if (!geometry || !geometry->Intersects(&probe)) return false;
    found = state.NumberOf(fid);
    return true;
  });
  return found;
}

// The point halfway along a line (by length) and the direction of the
// segment it lies on, as a unit vector; nothing for a line without length.
struct LineMiddle {
  Point at;
  double dx = 0, dy = 0;
};
std::optional<LineMiddle> MiddleOf(const std::vector<Point>& line) {
  double length = 0;
  for (std::size_t i = 1; i < line.size(); ++i) {
    length += std::hypot(line[i].x - line[i - 1].x, line[i].y - line[i - 1].y);
  }
  if (!std::isfinite(length) || length <= 0) return std::nullopt;
  double left = length / 2;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const double dx = line[i].x - line[i - 1].x, dy = line[i].y - line[i - 1].y;
    const double segment = std::hypot(dx, dy);
    if (segment <= 0) continue;
    if (left <= segment || i + 1 == line.size()) {
      const double part = std::min(left, segment) / segment;
      return LineMiddle{
          {line[i - 1].x + part * dx, line[i - 1].y + part * dy}, dx / segment, dy / segment};
    }
    left -= segment;
  }
  return std::nullopt;
}

// The two points `tolerance` square to the segment holding a line's middle,
// left and right of it; nothing for a line without length.
struct SideProbes {
  Point left, right;
};
std::optional<SideProbes> ProbesBeside(const std::vector<Point>& line, double tolerance) {
  const std::optional<LineMiddle> middle = MiddleOf(line);
  if (!middle) return std::nullopt;
  // Left of the direction of travel is the direction turned a quarter
  // anticlockwise (y grows northwards).
  const double nx = -middle->dy * tolerance, ny = middle->dx * tolerance;
  return SideProbes{{middle->at.x + nx, middle->at.y + ny}, {middle->at.x - nx, middle->at.y - ny}};
}

}  // namespace

std::vector<Point> Record::LineVertices() const {
  const OGRGeometry* geometry = LayerAccess::GeometryOf(*this);
  if (!geometry || geometry->IsEmpty()) return {};
  std::unique_ptr<OGRGeometry> linear;
  if (geometry->hasCurveGeometry()) {
    linear.reset(geometry->getLinearGeometry());
    geometry = linear.get();
  }
  // The longest part of a multi-line.
  const OGRLineString* longest = nullptr;
  const auto consider = [&](const OGRGeometry* part) {
    if (!part || wkbFlatten(part->getGeometryType()) != wkbLineString) return;
    const OGRLineString* line = part->toLineString();
    if (!longest || line->get_Length() > longest->get_Length()) longest = line;
  };
  if (wkbFlatten(geometry->getGeometryType()) == wkbMultiLineString) {
    for (const OGRLineString* part : *geometry->toMultiLineString()) consider(part);
  } else {
    consider(geometry);
  }
  std::vector<Point> vertices;
  if (!longest) return vertices;
  for (int i = 0; i < longest->getNumPoints(); ++i) {
    vertices.push_back({longest->getX(i), longest->getY(i)});
  }
  return vertices;
}

std::optional<LineSides> RegionsBesideLine(LayerHandle regions, const std::vector<Point>& line,
                                           double tolerance) {
  OpenLayerState& state = StateOf(regions);
  if (state.kind != EntityKind::kRegion) return LineSides{};
  const std::optional<SideProbes> probes = ProbesBeside(line, tolerance);
  if (!probes) return std::nullopt;
  state.Numbering();  // read before the grid's walk
  const RegionGrid& grid = GridOf(state);
  state.StopSequential();
  LineSides sides;
  sides.left = RegionAt(state, grid, probes->left.x, probes->left.y);
  sides.right = RegionAt(state, grid, probes->right.x, probes->right.y);
  return sides;
}

}  // namespace landstat::gis

namespace landstat::gis {
namespace {

// Adds the parts of `geometry` to `outline`; the reason it cannot be drawn,
// or empty.
std::string AddParts(const OGRGeometry& geometry, EntityKind kind, Outline& outline) {
  const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
  if (OGR_GT_IsCurve(type) && type != wkbLineString && type != wkbLinearRing) {
    std::unique_ptr<OGRGeometry> linear(geometry.getLinearGeometry());
    return linear ? AddParts(*linear, kind, outline) : "a curve that cannot be made linear";
  }
  if (const auto* collection = dynamic_cast<const OGRGeometryCollection*>(&geometry)) {
    for (const OGRGeometry* part : *collection) {
      if (std::string reason = AddParts(*part, kind, outline); !reason.empty()) return reason;
    }
    return {};
  }
  if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&geometry)) {
    if (kind != EntityKind::kRegion) return "a polygon in a layer of another kind";
    for (const OGRCurve* ring : *polygon) {
      if (std::string reason = AddParts(*ring, kind, outline); !reason.empty()) return reason;
    }
    return {};
  }
  std::vector<Point> points;
  if (const auto* curve = dynamic_cast<const OGRSimpleCurve*>(&geometry)) {
    const std::size_t least = kind == EntityKind::kRegion ? 4 : 2;
    if (kind == EntityKind::kPoint) return "a line in a point layer";
    if (static_cast<std::size_t>(curve->getNumPoints()) < least) {
      return kind == EntityKind::kRegion ? "a ring of fewer than four points"
                                         : "a line of fewer than two points";
    }
    for (int i = 0; i < curve->getNumPoints(); ++i)
      points.push_back({curve->getX(i), curve->getY(i)});
  } else if (const auto* point = dynamic_cast<const OGRPoint*>(&geometry)) {
    if (kind != EntityKind::kPoint) return "a point in a layer of another kind";
    points.push_back({point->getX(), point->getY()});
  } else {
    return std::string("a geometry of type ") + OGRGeometryTypeToName(type);
  }
  for (const Point& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return "a coordinate that is no finite number";
  }
  outline.push_back(std::move(points));
  return {};
}

}  // namespace

void VisitOutlines(LayerHandle layer, const std::function<void(long, const Outline&)>& visit,
                   const std::function<void(long, const std::string&)>& broken) {
  OpenLayerState& state = StateOf(layer);
  if (state.kind == EntityKind::kTable) return;
  state.Numbering();  // read before the walk
  state.StopSequential();
  state.layer->ResetReading();
  Outline outline;
  while (std::unique_ptr<OGRFeature> feature{state.layer->GetNextFeature()}) {
    const long number = state.NumberOf(feature->GetFID());
    const OGRGeometry* geometry = feature->GetGeometryRef();
    outline.clear();
    std::string reason =
        !geometry || geometry->IsEmpty() ? "no geometry" : AddParts(*geometry, state.kind, outline);
    if (reason.empty()) {
      visit(number, outline);
    } else {
      broken(number, reason);
    }
  }
  state.layer->ResetReading();
}

bool LayerExtent(LayerHandle layer, Rect& extent) {
  OpenLayerState& state = StateOf(layer);
  if (state.kind == EntityKind::kTable) return false;
  OGREnvelope envelope;
  state.StopSequential();
  const bool found = state.layer->GetExtent(&envelope, TRUE) == OGRERR_NONE;
  state.layer->ResetReading();
  if (found) extent = {envelope.MinX, envelope.MinY, envelope.MaxX, envelope.MaxY};
  return found;
}

namespace {

// Whether the point lies in the region or on its boundary, without GEOS for
// polygons; other geometries (curves) through Intersects.
bool Covers(const OGRGeometry& region, const OGRPoint& point) {
  switch (wkbFlatten(region.getGeometryType())) {
    case wkbPolygon: {
      const OGRPolygon& polygon = *region.toPolygon();
      const OGRLinearRing* outer = polygon.getExteriorRing();
      if (!outer || !(outer->isPointInRing(&point) || outer->isPointOnRingBoundary(&point))) {
        return false;
      }
      for (int i = 0; i < polygon.getNumInteriorRings(); ++i) {
        const OGRLinearRing* hole = polygon.getInteriorRing(i);
        if (hole->isPointInRing(&point) && !hole->isPointOnRingBoundary(&point)) return false;
      }
      return true;
    }
    case wkbMultiPolygon:
      for (const OGRPolygon* part : *region.toMultiPolygon()) {
        if (Covers(*part, point)) return true;
      }
      return false;
    default:
      return region.Intersects(&point);
  }
}

// The geometries of a layer's records, with their boxes in a quadtree: the
// records a search may meet are those whose box meets its own. Records
// without a geometry, or with an empty one, are left out.
struct HeldGeometries {
  std::vector<long> numbers;
  std::vector<std::unique_ptr<OGRGeometry>> geometries;
  std::vector<OGREnvelope> envelopes;
  CPLQuadTree* tree = nullptr;

  HeldGeometries() = default;
  // Every record of the layer, read once in the source's order.
  explicit HeldGeometries(OpenLayerState& state) {
    state.Numbering();  // read before the walk
    state.StopSequential();
    state.layer->ResetReading();
    while (std::unique_ptr<OGRFeature> feature{state.layer->GetNextFeature()}) {
      Add(state.NumberOf(feature->GetFID()),
          std::unique_ptr<OGRGeometry>(feature->StealGeometry()));
    }
    state.layer->ResetReading();
    Index();
  }
  ~HeldGeometries() {
    if (tree) CPLQuadTreeDestroy(tree);
  }
  HeldGeometries(const HeldGeometries&) = delete;
  HeldGeometries& operator=(const HeldGeometries&) = delete;

  void Add(long number, std::unique_ptr<OGRGeometry> geometry) {
    if (!geometry || geometry->IsEmpty()) return;
    envelopes.emplace_back();
    geometry->getEnvelope(&envelopes.back());
    numbers.push_back(number);
    geometries.push_back(std::move(geometry));
  }

  // The quadtree, once every record is added.
  void Index() {
    if (envelopes.empty()) return;
    OGREnvelope extent;
    for (const OGREnvelope& e : envelopes) extent.Merge(e);
    const CPLRectObj bounds{extent.MinX, extent.MinY, extent.MaxX, extent.MaxY};
    tree = CPLQuadTreeCreate(&bounds, nullptr);
    CPLQuadTreeSetMaxDepth(tree, CPLQuadTreeGetAdvisedMaxDepth(static_cast<int>(envelopes.size())));
    for (std::size_t i = 0; i < envelopes.size(); ++i) {
      const OGREnvelope& e = envelopes[i];
      const CPLRectObj box{e.MinX, e.MinY, e.MaxX, e.MaxY};
      // The record's place, from 1 (a null pointer is no feature).
      CPLQuadTreeInsertWithBounds(tree, reinterpret_cast<void*>(i + 1), &box);
    }
  }

  // The places of the records whose box meets the rectangle's, in no order.
  std::vector<std::size_t> Candidates(const Rect& rect) const {
    std::vector<std::size_t> places;
    if (!tree) return places;
    const CPLRectObj box{rect.min_x, rect.min_y, rect.max_x, rect.max_y};
    int count = 0;
    void** found = CPLQuadTreeSearch(tree, &box, &count);
    for (int i = 0; i < count; ++i) places.push_back(reinterpret_cast<std::size_t>(found[i]) - 1);
    CPLFree(found);
    return places;
  }
};

// The one line of a geometry whose vertices may show it meets a rectangle
// without a geometric test, as a layer's rectangle filter looks at them: a
// line, a polygon without holes, or a collection of one of them. Null for
// any other.
const OGRLineString* OnlyLine(const OGRGeometry& geometry) {
  switch (wkbFlatten(geometry.getGeometryType())) {
    case wkbLineString:
      return geometry.toLineString();
    case wkbMultiLineString: {
      const OGRMultiLineString& lines = *geometry.toMultiLineString();
      return lines.getNumGeometries() == 1 ? lines.getGeometryRef(0) : nullptr;
    }
    case wkbPolygon: {
      const OGRPolygon& polygon = *geometry.toPolygon();
      return polygon.getNumInteriorRings() == 0 ? polygon.getExteriorRing() : nullptr;
    }
    case wkbMultiPolygon: {
      const OGRMultiPolygon& polygons = *geometry.toMultiPolygon();
      if (polygons.getNumGeometries() != 1) return nullptr;
      return OnlyLine(*polygons.getGeometryRef(0));
    }
    default:
      return nullptr;
  }
}

}  // namespace

struct RegionFinder::Regions : HeldGeometries {
  bool of_regions = false;
};

RegionFinder::RegionFinder(LayerHandle layer, const std::function<void(const Record&)>& each)
    : regions_(std::make_unique<Regions>()) {
  if (StateOf(layer).kind != EntityKind::kRegion) return;
  regions_->of_regions = true;
  const long count = RecordCount(layer, EntityKind::kRegion);
  Record record;
  for (long number = 1; number < count; ++number) {
    if (!ReadRecord(layer, EntityKind::kRegion, number, record)) continue;
    if (each) each(record);
    regions_->Add(number, LayerAccess::TakeGeometry(record));
  }
  regions_->Index();
}

RegionFinder::~RegionFinder() = default;

long RegionFinder::RegionContaining(Point point) const {
  const std::vector<long> regions = RegionsContaining(point);
  return regions.empty() ? 0 : regions.front();
}

std::optional<LineSides> RegionFinder::RegionsBesideLine(const std::vector<Point>& line,
                                                         double tolerance) const {
  if (!regions_->of_regions) return LineSides{};
  const std::optional<SideProbes> probes = ProbesBeside(line, tolerance);
  if (!probes) return std::nullopt;
  return LineSides{RegionContaining(probes->left), RegionContaining(probes->right)};
}

std::vector<long> RegionFinder::RegionsContaining(Point point) const {
  std::vector<long> regions;
  if (!regions_) return regions;
  const OGRPoint probe(point.x, point.y);
  for (const std::size_t place : regions_->Candidates({point.x, point.y, point.x, point.y})) {
    if (Covers(*regions_->geometries[place], probe)) regions.push_back(regions_->numbers[place]);
  }
  std::sort(regions.begin(), regions.end());
  return regions;
}

struct RecordFinder::Records : HeldGeometries {
  using HeldGeometries::HeldGeometries;
};

RecordFinder::RecordFinder(LayerHandle layer)
    : records_(std::make_unique<Records>(StateOf(layer))) {}

RecordFinder::~RecordFinder() = default;

// As a layer's rectangle filter decides: the boxes must meet; a box inside
// the rectangle, or a vertex of the only line inside it, meets it; else the
// geometric test of the rectangle, prepared once per search.
std::vector<long> RecordFinder::RecordsInRect(const Rect& rect) const {
  std::vector<long> numbers;
  OGRLinearRing ring;
  ring.addPoint(rect.min_x, rect.min_y);
  ring.addPoint(rect.min_x, rect.max_y);
  ring.addPoint(rect.max_x, rect.max_y);
  ring.addPoint(rect.max_x, rect.min_y);
  ring.addPoint(rect.min_x, rect.min_y);
  OGRPolygon area;
  area.addRing(&ring);
  OGRPreparedGeometryUniquePtr prepared;
  const auto inside = [&](double x, double y) {
    return x >= rect.min_x && y >= rect.min_y && x <= rect.max_x && y <= rect.max_y;
  };
  for (const std::size_t place : records_->Candidates(rect)) {
    const OGREnvelope& e = records_->envelopes[place];
    if (e.MaxX < rect.min_x || e.MaxY < rect.min_y || rect.max_x < e.MinX || rect.max_y < e.MinY) {
      continue;
    }
    const OGRGeometry& geometry = *records_->geometries[place];
    bool meets = inside(e.MinX, e.MinY) && inside(e.MaxX, e.MaxY);
    if (const OGRLineString* line = meets ? nullptr : OnlyLine(geometry)) {
      for (int i = 0; i < line->getNumPoints() && !meets; ++i) {
        meets = inside(line->getX(i), line->getY(i));
      }
    }
    if (!meets) {
      if (!prepared) prepared.reset(OGRCreatePreparedGeometry(OGRGeometry::ToHandle(&area)));
      OGRGeometryH handle = OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry));
      meets = prepared ? OGRPreparedGeometryIntersects(prepared.get(), handle) != 0
                       : area.Intersects(&geometry);
    }
    if (meets) numbers.push_back(records_->numbers[place]);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace landstat::gis

namespace landstat::gis::detail {

void RegisterGdal() {
  RegisterDrivers();
}

std::string GdalMessage() {
  return LastGdalMessage();
}

OGRLayer& OgrLayerOf(LayerHandle layer) {
  OpenLayerState& state = StateOf(layer);
  state.StopSequential();
  state.layer->ResetReading();
  return *state.layer;
}

GDALDataset& OgrDatasetOf(LayerHandle layer) {
  return *StateOf(layer).dataset;
}

std::function<long(long long)> RecordNumbers(LayerHandle layer) {
  return [numbering = StateOf(layer).Numbering()](long long id) { return numbering.NumberOf(id); };
}

}  // namespace landstat::gis::detail
