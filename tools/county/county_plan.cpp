#include "county_plan.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace landstat::county {
namespace {

// A counter-based random source: every draw depends only on the seed, a
// stream name and an index, so the county does not depend on the order in
// which it is built.
class Draw {
 public:
  Draw(std::uint64_t seed, std::uint64_t stream, std::uint64_t index)
      : state_(Mix(seed ^ Mix(stream * 0x9E3779B97F4A7C15ULL + index))) {}

  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Uniform() < p; }
  double Between(double low, double high) { return low + (high - low) * Uniform(); }
  int Below(int n) { return static_cast<int>(Uniform() * n); }

  template <typename T>
  const T& Weighted(const std::vector<std::pair<T, double>>& choices) {
    double total = 0;
    for (const auto& choice : choices) total += choice.second;
    double at = Uniform() * total;
    for (const auto& choice : choices) {
      if ((at -= choice.second) < 0) return choice.first;
    }
    return choices.back().first;
  }

 private:
  static std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
  }
  std::uint64_t Next() { return state_ = Mix(state_); }
  std::uint64_t state_;
};

enum Stream : std::uint64_t {
  kCorners = 1,
  kClasses,
  kOwners,
  kSlopes,
  kEdges,
  kInner,
  kScattered,
  kIslands,
  kMarks
};

// Shares of land classes in the countryside and in the county town.
const std::vector<std::pair<std::string, double>> kRuralClasses = {
    {"011", 20}, {"012", 4},  {"013", 18}, {"021", 4}, {"022", 1}, {"023", 1}, {"031", 12},
    {"032", 3},  {"033", 3},  {"041", 1},  {"042", 1}, {"043", 2}, {"104", 2}, {"111", 2},
    {"114", 3},  {"116", 1},  {"117", 2},  {"122", 1}, {"124", 1}, {"125", 1}, {"127", 1},
    {"202", 1},  {"203", 10}, {"204", 1},  {"205", 1}, {"102", 1}, {"113", 1}};
const std::vector<std::pair<std::string, double>> kTownClasses = {
    {"201", 10}, {"202", 6}, {"051", 4}, {"052", 2}, {"061", 6}, {"063", 2},
    {"071", 14}, {"072", 4}, {"081", 2}, {"083", 2}, {"086", 2}, {"087", 2},
    {"094", 1},  {"102", 2}, {"011", 6}, {"013", 6}, {"203", 6}};

const char* const kTownshipNames[] = {"城关", "东湖", "西山", "南塘", "北岭", "青石",
                                      "白沙", "黄桥", "双溪", "云台", "柳林", "金竹"};
const char* const kVillageNames[] = {"大", "小", "新", "老", "上", "下", "前", "后",
                                     "东", "西", "南", "北", "高", "沙", "石", "桥",
                                     "河", "湾", "岗", "坪", "塘", "庄", "溪", "山"};
const char* const kNumbers[] = {"一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};

bool IsCultivated(const std::string& code) {
  return code.rfind("01", 0) == 0;
}

bool IsStateLand(const std::string& code) {
  static const char* const kState[] = {"101", "102", "105", "106", "107",
                                       "111", "112", "113", "201", "202"};
  if (code[0] == '0' && code[1] >= '5') return true;  // 05 to 09: town uses
  return std::any_of(std::begin(kState), std::end(kState),
                     [&](const char* state) { return code == state; });
}

bool IsAdjustable(const std::string& code) {
  static const char* const kAdjustable[] = {"021", "022", "023", "031", "033", "042", "114"};
  return std::any_of(std::begin(kAdjustable), std::end(kAdjustable),
                     [&](const char* k) { return code == k; });
}

void PlanAdministration(CountyPlan& plan) {
  const std::string& county = plan.options.county_code;
  plan.province = {county.substr(0, 2), "示例省"};
  plan.city = {county.substr(0, 4), "示例市"};
  plan.county = {county, plan.options.county_name};
  const long village_side = std::clamp<long>(
      std::lround(std::sqrt(static_cast<double>(plan.options.parcels) / 12.0)), 2, 20);
  const long blocks_across = (plan.columns + village_side - 1) / village_side;
  std::map<long, int> village_of_block;
  for (long cell = 0; cell < static_cast<long>(plan.parcels.size()); ++cell) {
    const long block =
        (cell / plan.columns / village_side) * blocks_across + (cell % plan.columns) / village_side;
    auto [found, added] =
        village_of_block.emplace(block, static_cast<int>(village_of_block.size()));
    if (added) plan.villages.emplace_back();
    Village& village = plan.villages[found->second];
    village.cells.push_back(cell);
    Parcel& parcel = plan.parcels[cell];
    parcel.cell = cell;
    parcel.village = found->second;
    parcel.group = static_cast<int>((cell % plan.columns) % village_side * 3 / village_side);
    parcel.number = static_cast<int>(village.cells.size());
  }
  constexpr int kVillagesPerTownship = 8;
  for (int v = 0; v < static_cast<int>(plan.villages.size()); ++v) {
    Village& village = plan.villages[v];
    village.township = v / kVillagesPerTownship;
    const int in_township = v % kVillagesPerTownship;
    if (village.township >= static_cast<int>(plan.townships.size())) {
      const int t = village.township;
      const std::string name = std::string(kTownshipNames[t % 12]) +
                               (t >= 12 ? std::to_string(t / 12 + 1) : "") + (t == 0 ? "镇" : "乡");
      plan.townships.push_back({county + Digits(t + 1, 3), name});
    }
    village.unit.code = plan.townships[village.township].code + Digits(in_township + 1, 3);
    village.unit.name =
        std::string(kVillageNames[(v * 7) % 24]) + kVillageNames[(v * 11 + 5) % 24] + "村";
    for (int g = 0; g < 3; ++g) {
      village.groups.push_back(
          {village.unit.code + Digits(g + 1, 3) + "0000", std::string(kNumbers[g]) + "组"});
    }
    Draw draw(plan.options.seed, kIslands, v);
    village.island = v > 0 && draw.Chance(0.06);
  }
  // A county of a few villages has at least one island village.
  if (plan.villages.size() >= 3) plan.villages[plan.villages.size() / 2].island = true;
}

// What follows from a parcel's class: ownership, owner, slope, deduction,
// farmland and marks, drawn per cell.
void PlanClassAttributes(CountyPlan& plan, Parcel& parcel) {
  const std::uint64_t seed = plan.options.seed;
  parcel.ownership = IsStateLand(parcel.class_code) ? "20" : "30";
  parcel.owner_village = parcel.village;
  parcel.owner_group = parcel.group;
  Draw owners(seed, kOwners, parcel.cell);
  if (parcel.ownership == "30") {
    if (owners.Chance(0.01) && plan.villages.size() > 1) {
      // Land of a neighbouring village lying here: an enclave.
      parcel.owner_village = (parcel.village + 1) % static_cast<int>(plan.villages.size());
      parcel.owner_group = owners.Below(3);
    } else if (owners.Chance(0.03)) {
      parcel.owner_group = -1;
      parcel.ownership = "32";
    }
  }
  Draw slopes(seed, kSlopes, parcel.cell);
  if (IsCultivated(parcel.class_code)) {
    parcel.slope = slopes.Weighted<int>({{1, 50}, {2, 25}, {3, 14}, {4, 8}, {5, 3}});
    if (parcel.slope >= 2) {
      parcel.cultivation_type = slopes.Chance(0.6) ? "T" : "P";
      static const double kPercent[] = {0, 0, 3.0, 6.0, 10.0, 15.0};
      parcel.deduction_percent = kPercent[parcel.slope];
    }
    parcel.farmland = slopes.Chance(0.7);
  }
  Draw marks(seed, kMarks, parcel.cell);
  if (IsAdjustable(parcel.class_code) && marks.Chance(0.15)) {
    // Adjustable land is land of other classes kept inside the basic
    // farmland.
    parcel.remark = "K";
    parcel.farmland = true;
  }
  if (IsCultivated(parcel.class_code) && marks.Chance(0.01)) {
    // Approved for construction, still farmed: land approved but not yet used.
    parcel.approval = "示土资批[2009]" + std::to_string(100 + parcel.cell % 900) + "号";
    parcel.remark = "P";
  }
  parcel.gross = ToCents(RingArea(plan.CellRing(parcel.cell)));
}

void PlanParcelAttributes(CountyPlan& plan, Parcel& parcel) {
  const bool town = plan.villages[parcel.village].township == 0 && parcel.village < 2;
  Draw classes(plan.options.seed, kClasses, parcel.cell);
  parcel.class_code = classes.Weighted(town ? kTownClasses : kRuralClasses);
  PlanClassAttributes(plan, parcel);
}

// The parcels that change their class in the following year (about one in
// a hundred), and the class each takes: farmland built over by the village,
// garden, forest, grass and other land reclaimed as dry land, the rest
// afforested.
bool ChangesInFollowingYear(const Parcel& parcel) {
  return parcel.cell % 97 == 11;
}

std::string FollowingClass(const std::string& code) {
  if (IsCultivated(code)) return "203";
  if (code.rfind("02", 0) == 0 || code.rfind("03", 0) == 0 || code.rfind("04", 0) == 0 ||
      code.rfind("12", 0) == 0) {
    return "013";
  }
  return "031";
}

// Gives each changing parcel its new class and what follows from it, and
// keeps what it was.
void PlanFollowingYear(CountyPlan& plan) {
  for (Parcel& parcel : plan.parcels) {
    if (!ChangesInFollowingYear(parcel)) continue;
    const Parcel::Former former{parcel.class_code, parcel.ownership, parcel.deduction, parcel.net};
    Parcel changed;
    changed.cell = parcel.cell;
    changed.village = parcel.village;
    changed.group = parcel.group;
    changed.number = parcel.number;
    changed.class_code = FollowingClass(parcel.class_code);
    changed.linear = parcel.linear;
    changed.scattered = parcel.scattered;
    PlanClassAttributes(plan, changed);
    changed.former = former;
    parcel = std::move(changed);
  }
}

bool CellUsed(const CountyPlan& plan, long column, long row) {
  return column >= 0 && column < plan.columns && row >= 0 &&
         row * plan.columns + column < static_cast<long>(plan.parcels.size());
}

void BookLine(CountyPlan& plan, LinearFeature line) {
  line.area = ToCents(line.length * line.width);
  line.half1 = line.parcel2 < 0 ? line.area : line.area / 2;  // the lower half, as split
  line.half2 = line.area - line.half1;
  plan.parcels[line.parcel1].linear += line.half1;
  if (line.parcel2 >= 0) plan.parcels[line.parcel2].linear += line.half2;
  plan.lines.push_back(std::move(line));
}

double Distance(Point a, Point b) {
  return std::hypot(a.x - b.x, a.y - b.y);
}

Point Between(Point a, Point b, double t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

void PlanLinearFeatures(CountyPlan& plan) {
  const std::uint64_t seed = plan.options.seed;
  const std::vector<std::pair<std::string, double>> kLineClasses = {
      {"104", 60}, {"117", 30}, {"102", 10}};
  for (long cell = 0; cell < static_cast<long>(plan.parcels.size()); ++cell) {
    const long column = cell % plan.columns, row = cell / plan.columns;
    // A road or ditch along the border with the parcel to the east, shared
    // half and half.
    Draw edge(seed, kEdges, cell);
    if (CellUsed(plan, column + 1, row) && edge.Chance(0.12)) {
      LinearFeature line;
      line.parcel1 = cell;  // west of a line running north: its left
      line.parcel2 = cell + 1;
      line.class_code = edge.Weighted(kLineClasses);
      line.ownership = line.class_code == "102" ? "20" : "30";
      line.width = std::round(edge.Between(2.0, 8.0) * 10) / 10;
      line.from = plan.Corner(column + 1, row);
      line.to = plan.Corner(column + 1, row + 1);
      line.length = std::round(Distance(line.from, line.to) * 100) / 100;
      BookLine(plan, std::move(line));
    }
    // A path across the middle of the parcel, booked to it whole.
    Draw inner(seed, kInner, cell);
    if (inner.Chance(0.04)) {
      const Point west = Between(plan.Corner(column, row), plan.Corner(column, row + 1), 0.5);
      const Point east =
          Between(plan.Corner(column + 1, row), plan.Corner(column + 1, row + 1), 0.5);
      LinearFeature line{.parcel1 = cell,
                         .class_code = "104",
                         .ownership = "30",
                         .width = std::round(inner.Between(1.0, 3.0) * 10) / 10,
                         .from = Between(west, east, 0.3),
                         .to = Between(west, east, 0.7)};
      line.length = std::round(Distance(line.from, line.to) * 100) / 100;
      BookLine(plan, std::move(line));
    }
  }
}

void PlanScatteredFeatures(CountyPlan& plan) {
  const std::vector<std::pair<std::string, double>> kPointClasses = {
      {"114", 40}, {"203", 20}, {"031", 20}, {"122", 20}};
  for (long cell = 0; cell < static_cast<long>(plan.parcels.size()); ++cell) {
    Draw draw(plan.options.seed, kScattered, cell);
    if (!draw.Chance(0.05)) continue;
    const std::vector<Point> ring = plan.CellRing(cell);
    ScatteredFeature point;
    point.parcel = cell;
    point.class_code = draw.Weighted(kPointClasses);
    point.area = ToCents(std::round(draw.Between(5.0, 60.0) * 100) / 100);
    point.at = {(ring[0].x + ring[1].x + ring[2].x + ring[3].x) / 4,
                (ring[0].y + ring[1].y + ring[2].y + ring[3].y) / 4};
    plan.parcels[cell].scattered += point.area;
    plan.points.push_back(point);
  }
}

void SettleParcelAreas(CountyPlan& plan) {
  for (Parcel& parcel : plan.parcels) {
    const Cents rest = parcel.gross - parcel.linear - parcel.scattered;
    parcel.deduction =
        parcel.deduction_percent > 0 ? std::llround(rest * parcel.deduction_percent / 100) : 0;
    parcel.net = rest - parcel.deduction;
  }
}

}  // namespace

double RingArea(const std::vector<Point>& ring) {
  // Taken relative to the first corner: projected coordinates are large,
  // and their products would lose the hundredths.
  double twice = 0;
  const Point origin = ring.empty() ? Point{} : ring.front();
  for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
    const double x0 = ring[i].x - origin.x, y0 = ring[i].y - origin.y;
    const double x1 = ring[i + 1].x - origin.x, y1 = ring[i + 1].y - origin.y;
    twice += x0 * y1 - x1 * y0;
  }
  return std::fabs(twice) / 2;
}

Cents ToCents(double square_metres) {
  return std::llround(square_metres * 100);
}

double FromCents(Cents cents) {
  return static_cast<double>(cents) / 100;
}

Point CountyPlan::Corner(long i, long j) const {
  Draw draw(options.seed, kCorners, static_cast<std::uint64_t>(j) * (columns + 1) + i);
  const double dx = draw.Between(-0.2, 0.2) * cell_size;
  const double dy = draw.Between(-0.2, 0.2) * cell_size;
  // Projected metres of a plausible survey area.
  return {40500000.0 + i * cell_size + dx, 3300000.0 + j * cell_size + dy};
}

std::vector<Point> CountyPlan::CellRing(long cell) const {
  const long i = cell % columns, j = cell / columns;
  return {Corner(i, j), Corner(i + 1, j), Corner(i + 1, j + 1), Corner(i, j + 1), Corner(i, j)};
}

std::string CountyPlan::GroupCode(int village, int group) const {
  if (group < 0) return villages[village].unit.code + "0000000";
  return villages[village].groups[group].code;
}

std::string CountyPlan::GroupName(int village, int group) const {
  if (group < 0) return villages[village].unit.name;
  return villages[village].unit.name + villages[village].groups[group].name;
}

std::string CountyPlan::MgCode(int village, int group) const {
  const Village& v = villages[village];
  const std::string bureau = county.code + v.unit.code.substr(7, 2) + v.unit.code.substr(10, 2);
  if (group < 0) return bureau;
  return bureau + v.groups[group].code.substr(12, 3) + "000001";
}

std::string CountyPlan::MgName(int village, int group) const {
  return group < 0 ? villages[village].unit.name + "管局" : GroupName(village, group) + "队";
}

std::string CountyPlan::OwnerCode(const Parcel& p) const {
  return GroupCode(p.owner_village, p.owner_group);
}
std::string CountyPlan::OwnerName(const Parcel& p) const {
  return GroupName(p.owner_village, p.owner_group);
}
std::string CountyPlan::LocationCode(const Parcel& p) const {
  return GroupCode(p.village, p.group);
}
std::string CountyPlan::LocationName(const Parcel& p) const {
  return GroupName(p.village, p.group);
}

CountyPlan PlanCounty(const CountyOptions& options) {
  CountyPlan plan;
  plan.options = options;
  plan.options.parcels = std::max<long>(options.parcels, 1);
  plan.cell_size = 60.0;
  plan.columns = std::max<long>(1, std::lround(std::sqrt(plan.options.parcels * 1.5)));
  plan.rows = (plan.options.parcels + plan.columns - 1) / plan.columns;
  plan.parcels.resize(plan.options.parcels);
  PlanAdministration(plan);
  for (Parcel& parcel : plan.parcels) PlanParcelAttributes(plan, parcel);
  PlanLinearFeatures(plan);
  PlanScatteredFeatures(plan);
  SettleParcelAreas(plan);
  if (plan.options.following_year) {
    PlanFollowingYear(plan);
    SettleParcelAreas(plan);
  }
  return plan;
}

std::vector<ClassChange> YearChanges(const CountyPlan& plan) {
  std::vector<ClassChange> changes;
  for (const Parcel& p : plan.parcels) {
    if (!p.former) continue;
    const Parcel::Former& was = *p.former;
    const auto add = [&](const std::string& from, const std::string& to, Cents area) {
      if (area > 0) changes.push_back({p.cell, from, to, was.ownership, p.ownership, area});
    };
    if (was.deduction >= p.deduction) {
      add(was.class_code, p.class_code, was.net);
      add(kDeductionClass, p.class_code, was.deduction - p.deduction);
    } else {
      add(was.class_code, p.class_code, p.net);
      add(was.class_code, kDeductionClass, p.deduction - was.deduction);
    }
  }
  return changes;
}

std::string Digits(long value, int width) {
  std::string text = std::to_string(value);
  return std::string(width > static_cast<int>(text.size()) ? width - text.size() : 0, '0') + text;
}

}  // namespace landstat::county
