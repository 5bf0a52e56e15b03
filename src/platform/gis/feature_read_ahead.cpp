#include "platform/gis/feature_read_ahead.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstring>
#include <exception>
#include <utility>

#include "platform/gis/gis_error.h"
#include "platform/text/number_text.h"

namespace landstat::gis::detail {

void AppendFieldText(OGRFeature& feature, int index, std::string& out) {
  if (index >= feature.GetFieldCount() || !feature.IsFieldSetAndNotNull(index)) return;
  if (feature.GetFieldDefnRef(index)->GetType() == OFTReal) {
    out += text::DoubleToText(feature.GetFieldAsDouble(index));
  } else {
    out += feature.GetFieldAsString(index);
  }
}

namespace {

// How a field is held in a batch read ahead: its kind, then its value. A
// number is held as read and turned into text only when a walk asks for
// it (most fields of a record are not asked for); nothing is held for a
// field not set or null.
constexpr char kHeldReal = 'r';
constexpr char kHeldWhole = 'i';
constexpr char kHeldText = 't';

void AppendHeld(OGRFeature& feature, int index, std::string& out) {
  if (!feature.IsFieldSetAndNotNull(index)) return;
  const OGRFieldType type = feature.GetFieldDefnRef(index)->GetType();
  if (type == OFTReal || type == OFTInteger || type == OFTInteger64) {
    char value[sizeof(double)];
    if (type == OFTReal) {
      const double number = feature.GetFieldAsDouble(index);
      std::memcpy(value, &number, sizeof value);
    } else {
      const long long number = feature.GetFieldAsInteger64(index);
      std::memcpy(value, &number, sizeof value);
    }
    out += type == OFTReal ? kHeldReal : kHeldWhole;
    out.append(value, sizeof value);
    return;
  }
  out += kHeldText;
  out += feature.GetFieldAsString(index);
}

}  // namespace

std::string PlainRecord::Text(int field) const {
  const std::string_view held = batch->Slice(index, field);
  if (held.empty()) return {};
  if (held[0] == kHeldText) return std::string(held.substr(1));
  if (held[0] == kHeldReal) {
    double number = 0;
    std::memcpy(&number, held.data() + 1, sizeof number);
    return text::DoubleToText(number);
  }
  long long number = 0;
  std::memcpy(&number, held.data() + 1, sizeof number);
  return std::to_string(number);
}

FeatureReadAhead::FeatureReadAhead(std::string source, std::string layer_name,
                                   const char* const* open_options, const OGRFeatureDefn& expected,
                                   std::vector<std::string> unread)
    : source_(std::move(source)),
      layer_name_(std::move(layer_name)),
      open_options_(open_options),
      unread_(std::move(unread)) {
  for (int i = 0; i < expected.GetFieldCount(); ++i) {
    const OGRFieldDefn* field = expected.GetFieldDefn(i);
    fields_.push_back({field->GetNameRef(), static_cast<int>(field->GetType())});
  }
  geometry_type_ = static_cast<int>(expected.GetGeomType());
  thread_ = std::thread([this] { Read(); });
}

FeatureReadAhead::~FeatureReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool FeatureReadAhead::Reading() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return known_; });
  return reading_;
}

PlainRecord FeatureReadAhead::Next() {
  if (!current_ || next_ == current_->Size()) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !batches_.empty() || done_; });
    if (batches_.empty()) {
      if (!failure_.empty()) throw GisError(failure_);
      return {};
    }
    current_ = std::move(batches_.front());
    batches_.pop_front();
    next_ = 0;
    lock.unlock();
    changed_.notify_all();  // room for the next batch
    if (current_->Size() == 0) return {};
  }
  return {current_, next_++};
}

namespace {

// Whether the layer read anew has the structure the walk's own opening has:
// the walk looks fields up by their place in that one.
template <typename Fields>
bool SameStructure(OGRLayer& layer, const Fields& fields, int geometry_type) {
  OGRFeatureDefn* definition = layer.GetLayerDefn();
  if (definition->GetFieldCount() != static_cast<int>(fields.size()) ||
      static_cast<int>(definition->GetGeomType()) != geometry_type) {
    return false;
  }
  for (int i = 0; i < definition->GetFieldCount(); ++i) {
    const OGRFieldDefn* field = definition->GetFieldDefn(i);
    if (fields[static_cast<std::size_t>(i)].name != field->GetNameRef() ||
        fields[static_cast<std::size_t>(i)].type != static_cast<int>(field->GetType())) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The reading thread: every feature of the layer in the source's order, in
// batches, until the last or until told to stop. The walk ends at the
// first feature GDAL does not give, as a walk on the walk's own opening
// does.
void FeatureReadAhead::Read() {
  try {
    std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(
        source_.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, open_options_, nullptr));
    OGRLayer* layer = dataset ? dataset->GetLayerByName(layer_name_.c_str()) : nullptr;
    if (!layer || !SameStructure(*layer, fields_, geometry_type_)) {
      Finish(false, {});
      return;
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      known_ = reading_ = true;
    }
    changed_.notify_all();
    std::vector<const char*> ignored;
    for (const std::string& name : unread_) ignored.push_back(name.c_str());
    ignored.push_back(nullptr);
    layer->SetIgnoredFields(ignored.data());
    layer->ResetReading();
    bool last = false;
    while (!last) {
      std::shared_ptr<PlainBatch> batch = ReadBatch(*layer);
      last = batch->Size() < kBatch;
      if (!Hand(std::move(batch), last)) return;
    }
  } catch (const std::exception& error) {
    Finish(true, "layer \"" + layer_name_ + "\" of " + source_ +
                     ": reading its features failed: " + error.what());
  }
}

std::shared_ptr<PlainBatch> FeatureReadAhead::ReadBatch(OGRLayer& layer) const {
  auto batch = std::make_shared<PlainBatch>();
  batch->fields = static_cast<int>(fields_.size());
  batch->ids.reserve(kBatch);
  batch->places.reserve(kBatch * fields_.size() + 1);
  while (batch->Size() < kBatch) {
    const std::unique_ptr<OGRFeature> feature(layer.GetNextFeature());
    if (!feature) break;
    batch->ids.push_back(feature->GetFID());
    for (int i = 0; i < batch->fields; ++i) {
      batch->places.push_back(batch->bytes.size());
      AppendHeld(*feature, i, batch->bytes);
    }
  }
  batch->places.push_back(batch->bytes.size());
  return batch;
}

bool FeatureReadAhead::Hand(Batch batch, bool last) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return batches_.size() < kBatchesHeld || stop_; });
    if (stop_) return false;
    batches_.push_back(std::move(batch));
    done_ = last;
  }
  changed_.notify_all();
  return true;
}

void FeatureReadAhead::Finish(bool reading, const std::string& failure) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    known_ = true;
    reading_ = reading;
    done_ = true;
    failure_ = failure;
  }
  changed_.notify_all();
}

}  // namespace landstat::gis::detail
