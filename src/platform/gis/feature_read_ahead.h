#pragma once

// The records of a layer read ahead on a thread of its own, for a walk
// over the layer in the order its source reads them: while the walk books
// one batch of records, the next few are read. For the files of the GIS
// layer only; the engine walks layers through layers.h.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class OGRFeature;
class OGRFeatureDefn;
class OGRLayer;

namespace landstat::gis::detail {

// Adds to `out` the text a walk reads for field `index` of a feature:
// empty for a field not set or null; a floating number as
// text::DoubleToText writes it (no padding to a declared width, so that
// numbers read the same from every source), any other value as GDAL
// writes it.
void AppendFieldText(OGRFeature& feature, int index, std::string& out);

// Records read ahead, in plain form: no GDAL object leaves the thread that
// read them. Per record its feature id and the value of each field, all in
// one buffer; the geometries are left unread.
struct PlainBatch {
  int fields = 0;
  std::vector<long long> ids;
  std::string bytes;
  // Per record, `fields` places in `bytes`: where each field's value
  // begins (the last ends where the next record begins); last, the end of
  // the bytes.
  std::vector<std::size_t> places;

  std::size_t Size() const { return ids.size(); }
  // The value of field `field` of a record, as held.
  std::string_view Slice(std::size_t record, int field) const {
    const std::size_t at =
        record * static_cast<std::size_t>(fields) + static_cast<std::size_t>(field);
    return std::string_view(bytes).substr(places[at], places[at + 1] - places[at]);
  }
};

// One record of a batch read ahead; none when it holds no batch.
struct PlainRecord {
  std::shared_ptr<const PlainBatch> batch;
  std::size_t index = 0;

  explicit operator bool() const { return batch != nullptr; }
  long long Id() const { return batch->ids[index]; }
  int FieldCount() const { return batch->fields; }
  // The field's text as AppendFieldText gives it.
  std::string Text(int field) const;
};

class FeatureReadAhead {
 public:
  // Features per batch, and the batches held at most: what is read ahead
  // of the walk.
  static constexpr std::size_t kBatch = 256;
  static constexpr std::size_t kBatchesHeld = 4;

  // Starts reading the layer `layer_name` of `source` (opened with
  // `open_options`, which must outlive the reading) on a thread that opens
  // the source anew: a GDAL data source serves one thread at a time. The
  // layer must have the structure `expected` has (field names and types,
  // geometry type), else nothing is read ahead. What `unread` names, as
  // OGRLayer::SetIgnoredFields takes names (the geometries among it), is
  // left unread: the records hold no geometry, and no value for such a
  // field.
  FeatureReadAhead(std::string source, std::string layer_name, const char* const* open_options,
                   const OGRFeatureDefn& expected, std::vector<std::string> unread);
  // Stops the reading thread and waits for it (at most the batch it is
  // reading).
  ~FeatureReadAhead();
  FeatureReadAhead(const FeatureReadAhead&) = delete;
  FeatureReadAhead& operator=(const FeatureReadAhead&) = delete;

  // Whether the thread reads the layer: false when it could not open it as
  // `expected` has it (the walk then reads on its own). Waits until that
  // is known.
  bool Reading();
  // The next record in the source's order; none after the last. Raises
  // GisError with what failed the reading thread.
  PlainRecord Next();

 private:
  using Batch = std::shared_ptr<const PlainBatch>;
  struct Field {
    std::string name;
    int type = 0;
  };

  void Read();
  // The next batch of the layer's features; fewer than kBatch at its end.
  std::shared_ptr<PlainBatch> ReadBatch(OGRLayer& layer) const;
  // Hands a batch over, waiting while kBatchesHeld are held; false when
  // the reading is to stop.
  bool Hand(Batch batch, bool last);
  void Finish(bool reading, const std::string& failure);

  const std::string source_, layer_name_;
  const char* const* const open_options_;
  std::vector<Field> fields_;
  int geometry_type_ = 0;
  const std::vector<std::string> unread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> batches_;
  bool known_ = false;    // whether the thread has told if it reads
  bool reading_ = false;  // the thread opened the layer as expected
  bool done_ = false;     // no batch is to come after those held
  bool stop_ = false;
  std::string failure_;

  // Taken by the walk, outside the lock.
  Batch current_;
  std::size_t next_ = 0;

  std::thread thread_;  // last: started once the rest is set
};

}  // namespace landstat::gis::detail
