#include "operator/clip_analyse.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/run_log.h"
#include "platform/gis/attribute_expression.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/text/number_text.h"

namespace landstat {
namespace {

using gis::EntityKind;
using gis::LayerHandle;
using gis::Record;

constexpr char kPointArea[] = "零星地物面积";
constexpr char kLineArea[] = "线状地物面积";
constexpr char kDeducted[] = "扣除地类面积";
constexpr char kCoefficient[] = "扣除地类系数";
constexpr char kSeatCode[] = "座落单位代码";
constexpr char kWidth[] = "宽度";
constexpr char kLineLength[] = "线长度";
constexpr char kRatio[] = "扣除比例";
constexpr char kSeat1[] = "扣除图斑座落代码1";
constexpr char kSeat2[] = "扣除图斑座落代码2";
constexpr char kBooked1[] = "图斑编号1";
constexpr char kBooked2[] = "图斑编号2";
constexpr char kBookedPoint[] = "图斑编号";
constexpr char kPointParcel[] = "座落图斑编号";
constexpr int kBookingWidth = 30;
constexpr double kTiny = 0.000001;
// A deduction coefficient is below 100 (percent): at 100 the deduction
// takes the whole parcel and its features would be given up.
constexpr double kCoefficientBelow = 100;

// The fields that differ between the land-use and the farmland layers.
struct ModeFields {
  const char* gross;   // gross area of a parcel
  const char* number;  // parcel number
  const char* net;     // net area of a parcel
  const char* side1;   // the line's link to the parcel on side 1
  const char* side2;
};
constexpr ModeFields kLandUse = {"图斑面积", "图斑编号", "图斑地类面积", "扣除图斑编号1",
                                 "扣除图斑编号2"};
constexpr ModeFields kFarmland = {"基本农田图斑面积", "基本农田图斑编号", "基本农田地类面积",
                                  "基本农田图斑编号1", "基本农田图斑编号2"};

std::string Fixed(double value, int decimals) {
  return fmt::format("{:.{}f}", value, decimals);
}

double ValueOf(const std::string& text) {
  return text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
}

bool Near(double value, double target) {
  return value >= target - kTiny && value <= target + kTiny;
}

// A parcel's deduction coefficient as a fraction (DeductionFraction), judged
// on the text its source holds (`checks` watches 扣除地类系数); an empty one
// is 0. Nothing, with the reason in `problem`, for a text that is no
// number or a number that is not finite, negative, or 100 and above.
std::optional<double> CoefficientFraction(const LayerChecks& checks, const Record& parcel,
                                          std::string& problem) {
  const std::string text = checks.StoredText(parcel, kCoefficient);
  const std::optional<double> value = text::TextToNumber(text);
  if (value && std::isfinite(*value) && *value >= 0 && *value < kCoefficientBelow) {
    return DeductionFraction(*value);
  }
  problem = "'" + text + "' 不是 0 到 100 (不含 100) 的数值";
  return std::nullopt;
}

void RequireFields(LayerHandle layer, const std::vector<const char*>& fields) {
  for (const char* field : fields) {
    if (!gis::HasField(layer, field)) {
      throw gis::GisError("layer \"" + gis::LayerName(layer) + "\" has no field \"" + field +
                          "\", which the repair of a clipped range needs");
    }
  }
}

// Reads record `number`, applies `change` and writes it back; false when the
// record does not read.
template <typename Change>
bool Rewrite(LayerHandle layer, EntityKind kind, long number, Change change) {
  Record record;
  if (!gis::ReadRecord(layer, kind, number, record)) return false;
  change(record);
  gis::WriteRecord(layer, record);
  return true;
}

// A feature booked to the parcel in hand, to be given up when the parcel
// keeps no net area.
struct Booked {
  long number = 0;
  bool point = false;
  const char* field = nullptr;  // the booking field to empty
};

// What the walk over the parcels reads of a line near one: whether it was
// read and has a usable geometry, the parcels beside it, its area, ratio
// and the links of its two sides.
struct LineFacts {
  bool read = false;
  bool usable = false;
  std::optional<gis::LineSides> sides;
  double area = 0, ratio = 0;
  std::string seat1, link1, seat2, link2;
};

// What the walk reads of a scattered feature: the parcel holding a point
// on its surface (0: none, or the feature has no geometry or was not read)
// and its area.
struct PointFacts {
  long parcel = 0;
  double area = 0;
};

class ClipRun {
 public:
  ClipRun(LayerHandle parcels, LayerHandle lines, LayerHandle points, const ModeFields& fields,
          StatRunLog* log)
      : parcels_(parcels),
        lines_(lines),
        points_(points),
        fields_(fields),
        log_(log ? *log : own_log_),
        parcel_checks_(log_, parcels) {}

  void Run() {
    // Farmland parcels often carry no line and point areas of their own;
    // the repair books them there, so the fields are added.
    for (const char* field : {kPointArea, kLineArea}) {
      gis::AddField(parcels_, {field, gis::FieldType::kDouble, 0, 0});
    }
    RequireFields(parcels_, {fields_.gross, fields_.number, fields_.net, kCoefficient, kSeatCode,
                             kPointArea, kLineArea, kDeducted});
    RequireFields(lines_,
                  {kWidth, kLineArea, kRatio, kSeat1, kSeat2, fields_.side1, fields_.side2});
    RequireFields(points_, {kPointArea, kPointParcel});
    parcel_checks_.WatchNumbers(kCoefficient);
    AddBookingFields();
    decimals_ = gis::DeclaredDecimals(parcels_, fields_.net).value_or(2);
    const int coefficient_decimals = gis::DeclaredDecimals(parcels_, kCoefficient).value_or(0);
    gis::SetFieldDecimals(points_, kPointArea, decimals_);
    LineAreas();
    gis::SetFieldDecimals(parcels_, fields_.gross, decimals_);
    gis::SetFieldDecimals(parcels_, kCoefficient, coefficient_decimals);
    // The geometries stay as they are while the parcels are repaired: the
    // searches around each parcel go to copies of them held in memory.
    const gis::RecordFinder near_points(points_), near_lines(lines_);
    // The walk that holds the parcels' regions also notes what the repair
    // asks of each parcel's geometry, so that the repair reads their fields
    // alone.
    const long count = gis::RecordCount(parcels_, EntityKind::kRegion);
    parcel_shapes_.assign(static_cast<std::size_t>(std::max(count, 1L)), ParcelShape{});
    const gis::RegionFinder parcel_regions(parcels_, [&](const Record& parcel) {
      ParcelShape& shape = parcel_shapes_[static_cast<std::size_t>(parcel.Number())];
      shape.usable = parcel.GeometryIsUsable();
      if (shape.usable) shape.bounds = *parcel.Bounds();
    });
    near_points_ = &near_points, near_lines_ = &near_lines, parcel_regions_ = &parcel_regions;
    for (long number = 1; number < count; ++number) RepairParcel(number);
    WriteBookings();
    gis::DeleteByExpression(points_, EntityKind::kPoint, std::string(kBookedPoint) + "==''");
    gis::DeleteByExpression(lines_, EntityKind::kLine,
                            std::string(kBooked1) + "==''&&" + kBooked2 + "==''");
    const std::string emptied = std::string(fields_.net) + "<=0.00001";
    dealAiExp(parcels_, 2, fields_.gross, fields_.net, emptied.c_str());
    gis::CopyField(lines_, EntityKind::kLine, kBooked1, fields_.side1);
    gis::CopyField(lines_, EntityKind::kLine, kBooked2, fields_.side2);
    gis::CopyField(points_, EntityKind::kPoint, kBookedPoint, kPointParcel);
  }

 private:
  // A second run starts from no bookings, as the first did.
  void AddBookingFields() {
    for (const auto& [layer, field] : {std::pair{lines_, kBooked1}, std::pair{lines_, kBooked2},
                                       std::pair{points_, kBookedPoint}}) {
      gis::AddField(layer, {field, gis::FieldType::kText, kBookingWidth, 0});
      const EntityKind kind = layer == lines_ ? EntityKind::kLine : EntityKind::kPoint;
      gis::UpdateByExpression(layer, kind, "", field, "");
    }
  }

  // Every line's area from its measured length and its width.
  void LineAreas() {
    const long count = gis::RecordCount(lines_, EntityKind::kLine);
    if (count <= 1) return;
    const int length_decimals = gis::DeclaredDecimals(lines_, kLineLength).value_or(1);
    const int width_decimals = gis::DeclaredDecimals(lines_, kWidth).value_or(1);
    if (gis::HasField(lines_, kLineLength)) {
      gis::SetFieldDecimals(lines_, kLineLength, length_decimals);
    }
    gis::SetFieldDecimals(lines_, kWidth, width_decimals);
    for (long number = 1; number < count; ++number) {
      Record line;
      if (!gis::ReadRecord(lines_, EntityKind::kLine, number, line)) continue;
      if (!Usable(lines_, line)) continue;
      const double length = RoundToDecimals(line.Length(), length_decimals);
      const double width = RoundToDecimals(line.Number(kWidth), width_decimals);
      line.SetText(kLineArea, Fixed(RoundToDecimals(length * width, decimals_), decimals_));
      gis::WriteRecord(lines_, line);
    }
  }

  bool Usable(LayerHandle layer, const Record& record) {
    if (record.GeometryIsUsable()) return true;
    LogUnusable(layer, record.Number());
    return false;
  }

  void LogUnusable(LayerHandle layer, long number) {
    log_.LogFailure("范围图层整理", "图层 " + gis::LayerName(layer) + " 的记录 " +
                                        std::to_string(number) + " 没有有效的图形，已跳过");
  }

  void RepairParcel(long number) {
    Record parcel;
    if (!gis::ReadRecord(parcels_, EntityKind::kRegion, number, parcel,
                         gis::RecordParts::kFields)) {
      return;
    }
    const ParcelShape& shape = parcel_shapes_[static_cast<std::size_t>(number)];
    if (!shape.usable) {
      LogUnusable(parcels_, number);
      return;
    }
    gis::Rect rect = shape.bounds;
    rect.min_x -= 0.01, rect.min_y -= 0.01, rect.max_x += 0.01, rect.max_y += 0.01;
    const std::string code = parcel.Text(kSeatCode), parcel_number = parcel.Text(fields_.number);
    std::vector<Booked> booked;
    const double points = BookPoints(number, rect, parcel_number, booked, parcel);
    const double lines = BookLines(number, rect, code, parcel_number, booked, parcel);
    std::string problem;
    const std::optional<double> fraction = CoefficientFraction(parcel_checks_, parcel, problem);
    if (!fraction) {
      // The parcel is left as it was; its features stay booked to it, so
      // none of them is removed.
      parcel_checks_.Fail(parcel, kCoefficient, problem + ", 图斑未修复");
      return;
    }
    const double base = parcel.Number(fields_.gross) - lines - points;
    double deduction = base * *fraction;
    if (deduction <= kTiny) deduction = 0;
    const std::string deduction_text = Fixed(RoundToDecimals(deduction, decimals_), decimals_);
    parcel.SetText(kDeducted, deduction_text);
    const double net = base - ValueOf(deduction_text);
    if (net <= kTiny) GiveUp(booked);
    parcel.SetText(fields_.net, Fixed(net, decimals_));
    // A parcel whose figures stay as they were is not written again.
    if (parcel.Changed()) gis::WriteRecord(parcels_, parcel);
  }

  // The scattered features lying in the parcel: booked to it, their areas
  // summed into its 零星地物面积; gives the sum as written.
  double BookPoints(long parcel_record, const gis::Rect& rect, const std::string& parcel_number,
                    std::vector<Booked>& booked, Record& parcel) {
    const std::vector<long> near = near_points_->RecordsInRect(rect);
    if (near.empty()) {
      parcel.SetText(kPointArea, "0");
      return 0;
    }
    double sum = 0;
    for (long number : near) {
      const PointFacts& point = PointOf(number);
      if (point.parcel != parcel_record) continue;
      booked.push_back({number, true, kBookedPoint});
      sum += point.area;
      Book(points_, number, kBookedPoint, parcel_number);
    }
    const std::string text = Fixed(sum, decimals_);
    parcel.SetText(kPointArea, text);
    return ValueOf(text);
  }

  // The linear features beside the parcel whose links name it: a line of
  // ratio 0.5 gives each side its half, one of ratio 1 all to side 1.
  double BookLines(long parcel_record, const gis::Rect& rect, const std::string& code,
                   const std::string& parcel_number, std::vector<Booked>& booked, Record& parcel) {
    const std::vector<long> near = near_lines_->RecordsInRect(rect);
    if (near.empty()) {
      parcel.SetText(kLineArea, "0");
      return 0;
    }
    double sum = 0;
    for (long number : near) {
      const LineFacts& line = LineOf(number);
      if (!line.read) continue;
      if (!line.usable) {
        LogUnusable(lines_, number);
        continue;
      }
      const std::optional<gis::LineSides>& sides = line.sides;
      if (!sides || (sides->left != parcel_record && sides->right != parcel_record)) continue;
      const double area = line.area, ratio = line.ratio;
      if (line.seat1 == code && line.link1 == parcel_number) {
        booked.push_back({number, false, kBooked1});
        sum += Near(ratio, 0.5) ? xcDotOut(area, 0, static_cast<short>(decimals_)) : area;
        Book(lines_, number, kBooked1, parcel_number);
      } else if (line.seat2 == code && line.link2 == parcel_number) {
        booked.push_back({number, false, kBooked2});
        if (Near(ratio, 1)) continue;  // all of it belongs to side 1
        sum += xcDotOut(area, 1, static_cast<short>(decimals_));
        Book(lines_, number, kBooked2, parcel_number);
      }
    }
    const std::string text = Fixed(sum, decimals_);
    parcel.SetText(kLineArea, text);
    return ValueOf(text);
  }

  // What the walk reads of a line, read at its first parcel and kept for
  // the others near it: the walk writes no line until it ends.
  const LineFacts& LineOf(long number) {
    const auto [found, added] = lines_read_.try_emplace(number);
    LineFacts& facts = found->second;
    if (!added) return facts;
    Record line;
    facts.read = gis::ReadRecord(lines_, EntityKind::kLine, number, line);
    facts.usable = facts.read && line.GeometryIsUsable();
    if (!facts.usable) return facts;
    // The parcels beside the line, found once for the parcels on both sides.
    facts.sides = parcel_regions_->RegionsBesideLine(line.LineVertices());
    facts.area = line.Number(kLineArea);
    facts.ratio = line.Number(kRatio);
    facts.seat1 = line.Text(kSeat1);
    facts.link1 = line.Text(fields_.side1);
    facts.seat2 = line.Text(kSeat2);
    facts.link2 = line.Text(fields_.side2);
    return facts;
  }

  // What the walk reads of a scattered feature, as LineOf: its area and
  // the parcel holding a point on its surface.
  const PointFacts& PointOf(long number) {
    const auto [found, added] = points_read_.try_emplace(number);
    PointFacts& facts = found->second;
    if (!added) return facts;
    Record point;
    if (!gis::ReadRecord(points_, EntityKind::kPoint, number, point)) return facts;
    const std::optional<gis::Point> at = point.Bounds() ? point.PointOnSurface() : std::nullopt;
    if (at) facts.parcel = parcel_regions_->RegionContaining(*at);
    facts.area = point.Number(kPointArea);
    return facts;
  }

  void GiveUp(const std::vector<Booked>& booked) {
    for (const Booked& feature : booked) {
      Book(feature.point ? points_ : lines_, feature.number, feature.field, "");
    }
  }

  // A booking is held until the parcels are all repaired: the walk reads
  // no booking back, and a line booked by the parcels on both sides, or
  // given up again, is then written once.
  void Book(LayerHandle layer, long number, const char* field, const std::string& parcel_number) {
    bookings_[{layer, number}][field] = parcel_number;
  }

  // Each booked feature with its last bookings, in record order; one whose
  // bookings leave it as it was is not written.
  void WriteBookings() {
    for (const auto& [feature, fields] : bookings_) {
      const auto& [layer, number] = feature;
      Record record;
      if (!gis::ReadRecord(layer, layer == lines_ ? EntityKind::kLine : EntityKind::kPoint, number,
                           record, gis::RecordParts::kFields)) {
        continue;
      }
      for (const auto& [field, text] : fields) record.SetText(field, text);
      if (record.Changed()) gis::WriteRecord(layer, record);
    }
  }

  LayerHandle parcels_, lines_, points_;
  const ModeFields& fields_;
  StatRunLog own_log_;  // counts what is logged when the caller gives no log
  StatRunLog& log_;
  LayerChecks parcel_checks_;
  int decimals_ = 2;
  const gis::RecordFinder* near_points_ = nullptr;
  const gis::RecordFinder* near_lines_ = nullptr;
  const gis::RegionFinder* parcel_regions_ = nullptr;
  // What the repair asks of a parcel's geometry: whether it is usable
  // (Record::GeometryIsUsable) and its bounds; by record number.
  struct ParcelShape {
    bool usable = false;
    gis::Rect bounds;
  };
  std::vector<ParcelShape> parcel_shapes_;
  std::unordered_map<long, LineFacts> lines_read_;
  std::unordered_map<long, PointFacts> points_read_;
  // The bookings of the walk by layer and record: the text of each booking
  // field set.
  std::map<std::pair<LayerHandle, long>, std::map<std::string, std::string>> bookings_;
};

}  // namespace

double DeductionFraction(double coefficient) {
  // A coefficient of exactly 1 is 1 percent, as every other whole value is;
  // read as a fraction it would deduct the whole parcel.
  return coefficient >= 1 ? coefficient * 0.01 : coefficient;
}

short clip_analyse(short parcels, short lines, short points, short mode, StatRunLog* log) {
  if (parcels <= 0 || lines <= 0 || points <= 0) return 0;
  gis::EditTransaction edits({parcels, lines, points});
  ClipRun(parcels, lines, points, mode == 0 ? kLandUse : kFarmland, log).Run();
  edits.Commit();
  return 1;
}

short dealAiExp(short layer, short kind, const char* area_field, const char* remainder_field,
                const char* expression) {
  if (!gis::IsLayerValid(layer) || kind < -1 || !area_field || !remainder_field || !expression) {
    return 0;
  }
  const EntityKind entities = kind < 0 ? EntityKind::kTable : static_cast<EntityKind>(kind);
  const std::vector<long> chosen = gis::SelectByExpression(layer, entities, expression);
  if (chosen.empty()) return 0;
  StatRunLog unwritten;
  LayerChecks checks(unwritten, layer, false);
  checks.WatchNumbers(kCoefficient);
  for (long number : chosen) {
    Record record;
    if (!gis::ReadRecord(layer, entities, number, record)) continue;
    std::string problem;
    const std::optional<double> fraction = CoefficientFraction(checks, record, problem);
    if (!fraction) continue;  // left as it was (clip_analyse logs it)
    const double area = record.Number(area_field);
    double deduction = *fraction * area;
    if (deduction <= 0.00001) deduction = 0;
    record.SetText(kLineArea, "");
    record.SetText(kPointArea, "");
    record.SetText(kDeducted, Fixed(deduction, 2));
    record.SetText(remainder_field, Fixed(area - deduction, 2));
    gis::WriteRecord(layer, record);
  }
  return 1;
}

namespace {

// How the two attribute repairs differ.
struct AttributeRepair {
  bool write_line_area;  // the line's own 线状地物面积 := its area
  bool split_on_grid;    // halves by xcDotOut at 2 decimals, else area × 0.5
  bool first_of_many;    // a link naming several parcels books to the first, else to none
  double factor;         // of 扣除地类系数
};
constexpr AttributeRepair kClipRepair = {true, true, true, 0.01};
constexpr AttributeRepair kJbntRepair = {false, false, false, 1};

constexpr char kParcelNumber[] = "图斑编号";
constexpr char kGross[] = "图斑面积";
constexpr char kNet[] = "图斑地类面积";
constexpr char kLinkNumber1[] = "扣除图斑编号1";
constexpr char kLinkNumber2[] = "扣除图斑编号2";
// A line's link to the parcel on one side and the fields of that side,
// emptied when the link names neither parcel beside the line.
struct LineSide {
  const char* link;
  std::array<const char*, 4> fields;
};
constexpr LineSide kLineSides[] = {
    {kLinkNumber1, {"权属单位代码1", "扣除图斑权属代码1", kSeat1, kLinkNumber1}},
    {kLinkNumber2, {"权属单位代码2", "扣除图斑权属代码2", kSeat2, kLinkNumber2}},
};

class AttributeRun {
 public:
  AttributeRun(LayerHandle parcels, LayerHandle lines, LayerHandle points,
               const AttributeRepair& rule)
      : parcels_(parcels), lines_(lines), points_(points), rule_(rule) {}

  void Run() {
    RequireFields(parcels_, {kParcelNumber, kSeatCode, kGross, kNet, kCoefficient, kLineArea,
                             kPointArea, kDeducted});
    const long count = gis::RecordCount(parcels_, EntityKind::kRegion);
    for (long number = 1; number < count; ++number) {
      Rewrite(parcels_, EntityKind::kRegion, number, [&](Record& parcel) {
        parcel.SetText(kLineArea, "");
        parcel.SetText(kPointArea, "");
        by_link_[{parcel.Text(kSeatCode), parcel.Text(kParcelNumber)}].push_back(number);
      });
    }
    if (lines_ > 0) BookLines();
    if (points_ > 0) BookPoints();
    for (long number = 1; number < count; ++number) {
      Rewrite(parcels_, EntityKind::kRegion, number, [&](Record& parcel) {
        const double gross = parcel.Number(kGross);
        const double deduction = gross * parcel.Number(kCoefficient) * rule_.factor;
        const double net = gross - parcel.Number(kLineArea) - parcel.Number(kPointArea) - deduction;
        parcel.SetText(kDeducted, Fixed(deduction, 6));
        parcel.SetText(kNet, Fixed(net, 6));
      });
    }
    gis::SaveLayer(parcels_);
    if (lines_ > 0) gis::SaveLayer(lines_);
  }

 private:
  void BookLines() {
    RequireFields(lines_, {kRatio, kWidth, kLinkNumber1, kLinkNumber2, kSeat1, kSeat2});
    const char* length_field =
        gis::HasField(lines_, "长度") || !gis::HasField(lines_, "length") ? "长度" : "length";
    RequireFields(lines_, {length_field});
    if (rule_.write_line_area) RequireFields(lines_, {kLineArea});
    const long count = gis::RecordCount(lines_, EntityKind::kLine);
    for (long number = 1; number < count; ++number) {
      Record line;
      if (!gis::ReadRecord(lines_, EntityKind::kLine, number, line)) continue;
      const double area = line.Number(kWidth) * line.Number(length_field);
      if (rule_.write_line_area) {
        line.SetText(kLineArea, Fixed(area, 6));
        gis::WriteRecord(lines_, line);
      }
      if (Near(line.Number(kRatio), 0.5)) {
        SplitBeside(line, area);
      } else {
        AddTo(Linked(line.Text(kSeat1), line.Text(kLinkNumber1)), kLineArea, area);
      }
    }
  }

  // Half the area to each parcel beside the line; a link that names
  // neither of them is emptied with its side's fields.
  void SplitBeside(Record& line, double area) {
    const std::optional<gis::LineSides> sides =
        gis::RegionsBesideLine(parcels_, line.LineVertices());
    const long left = sides ? sides->left : 0, right = sides ? sides->right : 0;
    AddTo(left, kLineArea, rule_.split_on_grid ? xcDotOut(area, 0, 2) : area * 0.5);
    AddTo(right, kLineArea, rule_.split_on_grid ? xcDotOut(area, 1, 2) : area * 0.5);
    const std::string left_number = left > 0 ? gis::FieldText(parcels_, left, kParcelNumber) : "";
    const std::string right_number =
        right > 0 ? gis::FieldText(parcels_, right, kParcelNumber) : "";
    bool changed = false;
    for (const LineSide& side : kLineSides) {
      const std::string linked = line.Text(side.link);
      if (linked == left_number || linked == right_number) continue;
      for (const char* field : side.fields) {
        if (gis::HasField(lines_, field)) line.SetText(field, "");
      }
      changed = true;
    }
    if (changed) gis::WriteRecord(lines_, line);
  }

  void BookPoints() {
    RequireFields(points_, {kPointParcel, kSeatCode, kPointArea});
    const long count = gis::RecordCount(points_, EntityKind::kPoint);
    for (long number = 1; number < count; ++number) {
      Record point;
      if (!gis::ReadRecord(points_, EntityKind::kPoint, number, point)) continue;
      AddTo(Linked(point.Text(kSeatCode), point.Text(kPointParcel)), kPointArea,
            point.Number(kPointArea));
    }
  }

  // The parcel a link names by seat code and number: the first of several
  // or only a single one, by the rule; 0 for none.
  long Linked(const std::string& code, const std::string& number) const {
    auto found = by_link_.find({code, number});
    if (found == by_link_.end()) return 0;
    if (found->second.size() > 1 && !rule_.first_of_many) return 0;
    return found->second.front();
  }

  void AddTo(long parcel, const char* field, double amount) {
    if (parcel <= 0) return;
    Rewrite(parcels_, EntityKind::kRegion, parcel, [&](Record& record) {
      double sum = record.Number(field) + amount;
      xcKeepPoint(&sum, 2);
      record.SetText(field, Fixed(sum, 6));
    });
  }

  LayerHandle parcels_, lines_, points_;
  const AttributeRepair& rule_;
  // Parcel records by (座落单位代码, 图斑编号), in record order: the lists an
  // attribute query on the two fields gives, gathered in one walk.
  std::map<std::pair<std::string, std::string>, std::vector<long>> by_link_;
};

}  // namespace

short UpdateClipData(short parcels, short lines, short points) {
  if (parcels <= 0) return 0;
  gis::EditTransaction edits({parcels, lines, points});
  AttributeRun(parcels, lines, points, kClipRepair).Run();
  edits.Commit();
  return 1;
}

short UpdateClipJbntData(short parcels, short lines, short points) {
  if (parcels <= 0) return 0;
  gis::EditTransaction edits({parcels, lines, points});
  AttributeRun(parcels, lines, points, kJbntRepair).Run();
  edits.Commit();
  return 1;
}

}  // namespace landstat
