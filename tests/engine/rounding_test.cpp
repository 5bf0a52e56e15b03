#include "engine/rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace landstat {
namespace {

double Kept(double value, short decimals) {
  xcKeepPoint(&value, decimals);
  return value;
}

// Whole units of 0.01, for values that lie on the 2-decimal grid.
long long Cents(double value) {
  return std::llround(value * 100);
}

// True when the value is the double nearest to a number of whole cents.
bool OnCentGrid(double value) {
  return value == static_cast<double>(Cents(value)) / 100;
}

// Thousandths rounded to hundredths, halves away from zero.
long long CentsOfThousandths(long long k) {
  return k >= 0 ? (k + 5) / 10 : -((-k + 5) / 10);
}

TEST(KeepPoint, HalvesOnTheDecimalGrid) {
  // Held in binary just below the half, but the half in decimal.
  EXPECT_EQ(Kept(2.675, 2), 2.68);
  EXPECT_EQ(Kept(1.005, 2), 1.01);
  EXPECT_EQ(Kept(0.285, 2), 0.29);
  EXPECT_EQ(Kept(1.255, 2), 1.26);
  EXPECT_EQ(Kept(8.345, 2), 8.35);
  EXPECT_EQ(Kept(123456789.125, 2), 123456789.13);
  // Just below a half stays below.
  EXPECT_EQ(Kept(2.67499, 2), 2.67);
  EXPECT_EQ(Kept(2.9999999, 2), 3.0);
  EXPECT_EQ(Kept(0.1 + 0.2, 1), 0.3);
}

TEST(KeepPoint, NegativeHalvesGoAwayFromZero) {
  // A figure and its negative round to opposite values: an area taken off
  // one class and added to another is the same figure on both sides.
  EXPECT_EQ(Kept(-0.15, 1), -0.2);
  EXPECT_EQ(Kept(-2.675, 2), -2.68);
  EXPECT_EQ(Kept(-100.005, 2), -100.01);
  EXPECT_EQ(Kept(-1.006, 2), -1.01);
  const double zero = Kept(-0.04, 1);
  EXPECT_EQ(zero, 0.0);
  EXPECT_FALSE(std::signbit(zero));
  EXPECT_FALSE(std::signbit(Kept(-0.004, 2)));
  EXPECT_FALSE(std::signbit(Kept(-0.0, 2)));
}

TEST(KeepPoint, WholeNumbersAndOtherDecimals) {
  EXPECT_EQ(Kept(2.5, 0), 3.0);
  EXPECT_EQ(Kept(-2.5, 0), -3.0);
  EXPECT_EQ(Kept(1234.4999, 0), 1234.0);
  EXPECT_EQ(Kept(0.00015, 4), 0.0002);
  EXPECT_EQ(Kept(12.34565, 4), 12.3457);
  EXPECT_EQ(Kept(7.0, 2), 7.0);
}

TEST(KeepPoint, LargeAreasAtManyDecimals) {
  // A county's area in square metres, kept at the most decimals allowed.
  EXPECT_EQ(Kept(3456789012.25, 10), 3456789012.25);
  EXPECT_EQ(Kept(-3456789012.25, 10), -3456789012.25);
  EXPECT_EQ(xcDotOut(3456789012.25, 0, 10) + xcDotOut(3456789012.25, 1, 10), 3456789012.25);
}

TEST(KeepPoint, LeavesWhatIsNotANumber) {
  xcKeepPoint(nullptr, 2);
  double nan = std::numeric_limits<double>::quiet_NaN();
  xcKeepPoint(&nan, 2);
  EXPECT_TRUE(std::isnan(nan));
  double inf = std::numeric_limits<double>::infinity();
  xcKeepPoint(&inf, 2);
  EXPECT_EQ(inf, std::numeric_limits<double>::infinity());
}

TEST(KeepPoint, MatchesDecimalRoundingOnThousandths) {
  for (long long k = -100000; k <= 100000; k += 7) {
    const double value = static_cast<double>(k) / 1000;
    const long long expected = CentsOfThousandths(k);
    ASSERT_EQ(Kept(value, 2), static_cast<double>(expected) / 100) << value;
  }
}

// The rule itself, on text: the value's decimal form at 15 significant
// digits, scaled, taken at 15 digits again and rounded half away from zero.
double RoundedOnText(double value, int decimals) {
  const auto settled = [](double x) {
    char digits[40];
    std::snprintf(digits, sizeof digits, "%.14e", x);
    return std::strtod(digits, nullptr);
  };
  const double scale = std::pow(10.0, decimals);
  const double units = settled(settled(value) * scale);
  const double rounded = std::copysign(std::floor(std::fabs(units) + 0.5), units) / scale;
  return rounded == 0.0 ? 0.0 : rounded;
}

TEST(KeepPoint, AgreesWithTheTextRuleNextToHalves) {
  struct Case {
    double value;
    int decimals;
  };
  const Case cases[] = {{2.675, 2},       {1.005, 2},        {0.125, 2},           {-0.125, 2},
                        {152.8315, 3},    {0.00015, 4},      {0.1234565, 6},       {1234.5, 0},
                        {-98765.4321, 3}, {4321.27 * 15, 1}, {764.16 * 0.0015, 4}, {1e11 + 0.5, 0},
                        {123456.785, 2},  {-0.5, 0},         {3456789012.25, 1},   {7.3, 8}};
  for (const Case& c : cases) {
    // The value itself and its neighbours a few steps of its last binary
    // digit away, on both sides, and their negatives.
    double below = c.value, above = c.value;
    for (int step = 0; step < 64; ++step) {
      for (const double value : {below, above, -below, -above}) {
        ASSERT_EQ(Kept(value, c.decimals), RoundedOnText(value, c.decimals))
            << std::hexfloat << value << " at " << c.decimals;
      }
      below = std::nextafter(below, -INFINITY);
      above = std::nextafter(above, INFINITY);
    }
  }
}

struct Split {
  double value;
  double low;
  double high;
};

TEST(DotOut, SmallValues) {
  const Split cases[] = {
      {0.03, 0.01, 0.02},     {0.04, 0.02, 0.02},  {0.05, 0.02, 0.03},    {0.01, 0.0, 0.01},
      {-0.03, -0.02, -0.01},  {-0.01, -0.01, 0.0}, {-0.04, -0.02, -0.02}, {2.9999999, 1.5, 1.5},
      {0.025, 0.01, 0.02},    {0.0, 0.0, 0.0},     {2.675, 1.34, 1.34},   {1.005, 0.5, 0.51},
      {-0.025, -0.02, -0.01},
  };
  for (const Split& split : cases) {
    const double low = xcDotOut(split.value, 0, 2);
    const double high = xcDotOut(split.value, 1, 2);
    EXPECT_EQ(low, split.low) << split.value;
    EXPECT_EQ(high, split.high) << split.value;
    EXPECT_FALSE(std::signbit(low) && low == 0) << split.value;
    EXPECT_FALSE(std::signbit(high) && high == 0) << split.value;
  }
}

TEST(DotOut, OtherDecimals) {
  EXPECT_EQ(xcDotOut(0.5, 0, 0), 0.0);  // rounds to 1
  EXPECT_EQ(xcDotOut(0.5, 1, 0), 1.0);
  EXPECT_EQ(xcDotOut(0.0003, 0, 4), 0.0001);
  EXPECT_EQ(xcDotOut(0.0003, 1, 4), 0.0002);
  EXPECT_EQ(xcDotOut(-7.0, 0, 0), -4.0);
  EXPECT_EQ(xcDotOut(-7.0, 1, 0), -3.0);
}

TEST(DotOut, HalvesAlwaysAddUpToTheRoundedValue) {
  // Deterministic values from -1000 to 1000 in thousandths: the rounded
  // value in cents is known exactly from the integer.
  for (long long i = 0; i < 10000; ++i) {
    const long long k = (i * 7919) % 2000001 - 1000000;
    const double value = static_cast<double>(k) / 1000;
    const long long cents = CentsOfThousandths(k);
    const double low = xcDotOut(value, 0, 2);
    const double high = xcDotOut(value, 1, 2);
    ASSERT_TRUE(OnCentGrid(low)) << value << " -> " << low;
    ASSERT_TRUE(OnCentGrid(high)) << value << " -> " << high;
    ASSERT_EQ(Cents(low) + Cents(high), cents) << value;
    ASSERT_LE(Cents(low), Cents(high)) << value;
    ASSERT_LE(Cents(high) - Cents(low), 1) << value;
  }
}

TEST(DotOut, HalvesOfComputedAreasAddUp) {
  // Areas as they come out of arithmetic, with binary noise in the last
  // places; the halves add up to the area kept at 2 decimals.
  for (int i = 1; i <= 10000; ++i) {
    const double value = (i % 2 == 0 ? 1 : -1) * (i * 0.37 + i * i * 0.0011) / 3;
    const double rounded = Kept(value, 2);
    const double low = xcDotOut(value, 0, 2);
    const double high = xcDotOut(value, 1, 2);
    ASSERT_TRUE(OnCentGrid(low)) << value;
    ASSERT_TRUE(OnCentGrid(high)) << value;
    ASSERT_EQ(Cents(low) + Cents(high), Cents(rounded)) << value;
    ASSERT_LE(Cents(high) - Cents(low), 1) << value;
    ASSERT_GE(Cents(high) - Cents(low), 0) << value;
  }
}

}  // namespace
}  // namespace landstat
