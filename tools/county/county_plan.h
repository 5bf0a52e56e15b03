#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace landstat::county {

// Options of a generated county survey.
struct CountyOptions {
  long parcels = 5000;
  std::uint64_t seed = 1;
  std::string county_code = "330102";
  std::string county_name = "示例县";
  // The parcels that carry a town lot (and its house): -1 those of town
  // classes; n the first n parcels, whatever their class (for timing a
  // town of a given size).
  long town_lots = -1;
  // The parcels, linear and scattered features also carry the Inner
  // Mongolia ownership fields, and a second code file names their units.
  bool mongolia = false;
  // The county one year on: a few parcels have changed their class (and
  // with it what follows from the class), and the change layer lists those
  // changes. Without it the change layer holds changes into this year.
  bool following_year = false;
};

struct Point {
  double x = 0;
  double y = 0;
};

struct AdminUnit {
  std::string code;
  std::string name;
};

struct Village {
  AdminUnit unit;  // 12-character code
  int township = 0;
  bool island = false;            // marked '01' in the district layer
  std::vector<AdminUnit> groups;  // 19-character codes
  std::vector<long> cells;        // its parcels, in cell order
};

// Areas are kept in hundredths of a square metre so that every sum is exact.
using Cents = long long;

struct Parcel {
  long cell = 0;
  int village = 0;
  int group = 0;
  int number = 0;                // 图斑编号, counted within the village
  std::string class_code;        // 地类编码
  std::string ownership;         // 权属性质
  int owner_village = 0;         // owning unit
  int owner_group = 0;           // -1: the village collective itself
  int slope = 0;                 // 耕地坡度级, 0 for land that is not cultivated
  std::string cultivation_type;  // 耕地类型
  std::string remark;            // 地类备注 ("K" adjustable, "P" approved but not used)
  std::string approval;          // 批准文号
  double deduction_percent = 0;  // 扣除地类系数, for terraced cultivated land
  bool farmland = false;         // lies in a basic-farmland parcel
  Cents gross = 0;               // 图斑面积: the polygon's area
  Cents linear = 0;              // 线状地物面积 booked to the parcel
  Cents scattered = 0;           // 零星地物面积 of the features inside it
  Cents deduction = 0;           // 扣除地类面积 (田坎)
  Cents net = 0;                 // 图斑地类面积 = gross - linear - scattered - deduction
  // The parcel the year before, when it changed its class (following_year).
  struct Former {
    std::string class_code;
    std::string ownership;
    Cents deduction = 0;
    Cents net = 0;
  };
  std::optional<Former> former;
};

// One change of the change layer: from the former class and ownership of a
// parcel to its new ones.
struct ClassChange {
  long cell = 0;
  std::string from_class, to_class;
  std::string from_owner, to_owner;
  Cents area = 0;
};

struct LinearFeature {
  long parcel1 = -1;  // the parcel on the left of the line
  long parcel2 = -1;  // on the right; -1 when the line lies inside parcel1
  std::string class_code;
  std::string ownership;
  double width = 0;            // 宽度, metres
  double length = 0;           // 线长度, metres
  Cents area = 0;              // 线状地物面积
  Cents half1 = 0, half2 = 0;  // the shares booked to the two parcels
  Point from, to;
};

struct ScatteredFeature {
  long parcel = -1;
  std::string class_code;
  Cents area = 0;
  Point at;
};

// The whole generated county, before it is written out. Deterministic for
// a seed: the same options give the same county.
struct CountyPlan {
  CountyOptions options;
  AdminUnit province, city, county;
  std::vector<AdminUnit> townships;
  std::vector<Village> villages;
  long columns = 0, rows = 0;
  double cell_size = 0;
  std::vector<Parcel> parcels;  // index = cell number
  std::vector<LinearFeature> lines;
  std::vector<ScatteredFeature> points;

  // Corner (column i, row j) of the perturbed grid; cell c spans the
  // corners (i, j) to (i + 1, j + 1).
  Point Corner(long i, long j) const;
  std::vector<Point> CellRing(long cell) const;  // four corners, closed
  std::string GroupCode(int village, int group) const;
  std::string GroupName(int village, int group) const;
  std::string OwnerCode(const Parcel& parcel) const;
  std::string OwnerName(const Parcel& parcel) const;
  std::string LocationCode(const Parcel& parcel) const;
  std::string LocationName(const Parcel& parcel) const;
  // The Inner Mongolia ownership unit of a village's group (-1: the village
  // itself): county (6 characters), category (8, by township), bureau (10,
  // by village), second-level unit (13, by group), unit (19). A village
  // owns as its bureau, with a code of 10 characters.
  std::string MgCode(int village, int group) const;
  std::string MgName(int village, int group) const;
};

CountyPlan PlanCounty(const CountyOptions& options);

// The changes of the year for a county planned with following_year: per
// changed parcel its area from the former class to the new one, and the
// difference of its deduction (田坎, 123) booked to or from it, so that the
// year before plus the changes gives this year, class by class.
std::vector<ClassChange> YearChanges(const CountyPlan& plan);

// The class code of the deducted ridges of terraced land.
inline constexpr const char* kDeductionClass = "123";

// A number written with at least `width` digits, zeros in front.
std::string Digits(long value, int width);

// Area of a closed ring (shoelace), in square metres.
double RingArea(const std::vector<Point>& ring);
Cents ToCents(double square_metres);
double FromCents(Cents cents);

}  // namespace landstat::county
