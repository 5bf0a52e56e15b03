// Spreading a difference over values one step at a time.

#include "units/step_rule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/text/number_text.h"

namespace landstat::units {
namespace {

using Values = std::vector<double>;

const StepRule kAny{[](double) { return true; }, false, false};
const StepSize kCents = StepFor(2);

TEST(Distribute, StepsGoRoundTheListWithTheSignOfTheDifference) {
  Values values = {5, 3, 1};
  std::vector<bool> touched;
  Distribution result = Distribute(values, 0.05, kCents, kAny, &touched);
  EXPECT_EQ(values, (Values{5.02, 3.02, 1.01}));
  EXPECT_EQ(result.steps, 5);
  EXPECT_FALSE(result.stalled);
  EXPECT_NEAR(result.remaining, 0, kCents.tolerance);
  EXPECT_EQ(touched, (std::vector<bool>{true, true, true}));

  values = {5, 3, 1};
  result = Distribute(values, -0.01, kCents, kAny, &touched);
  EXPECT_EQ(values, (Values{4.99, 3, 1}));
  EXPECT_EQ(touched, (std::vector<bool>{true, false, false}));

  // Stepped values stay on the grid: no 0.30000000000000004.
  values = {0.1};
  Distribute(values, 0.2, kCents, kAny);
  EXPECT_EQ(values[0], 0.3);
  values = {0.1};
  Distribute(values, 0.0002, StepFor(4), kAny);
  EXPECT_EQ(values[0], 0.1002);
}

TEST(Distribute, OnlyEligibleValuesStep) {
  Values values = {0.5, 2, 3};
  const StepRule above_one{[](double value) { return value > 1; }, false, false};
  Distribute(values, 0.03, kCents, above_one);
  EXPECT_EQ(values, (Values{0.5, 2.02, 3.01}));

  // No value may step: nothing changes and the distribution says so.
  values = {0.5, 0.7};
  const Distribution result = Distribute(values, 0.03, kCents, above_one);
  EXPECT_EQ(values, (Values{0.5, 0.7}));
  EXPECT_TRUE(result.stalled);
  EXPECT_EQ(result.steps, 0);
  EXPECT_NEAR(result.remaining, 0.03, 1e-12);
}

TEST(Distribute, FloorKeepsSteppedValuesAtZero) {
  // 0.004 lies off the grid: a step down would take it to -0.01.
  Values values = {0.004, 0.02};
  Distribute(values, -0.015, kCents, {kAny.eligible, true, false});
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[1], 0.01);

  values = {0.004, 0.02};
  Distribute(values, -0.015, kCents, kAny);
  EXPECT_LT(values[0], 0);

  // A step that lands on a half rounds as every balancing rounds: halves
  // away from zero, so -0.005 becomes -0.01.
  values = {0.005};
  Distribute(values, -0.01, kCents, kAny);
  EXPECT_EQ(values[0], -0.01);
}

TEST(Distribute, CyclicModeEndsWithinTheTolerance) {
  const StepRule cyclic{kAny.eligible, false, true};
  Values values = {1, 2};
  Distribution result = Distribute(values, 0, kCents, cyclic);
  EXPECT_EQ(values, (Values{1, 2}));
  EXPECT_EQ(result.steps, 0);

  // A difference of exactly the tolerance is done with in cyclic mode ...
  result = Distribute(values, kCents.tolerance, kCents, cyclic);
  EXPECT_EQ(values, (Values{1, 2}));
  EXPECT_FALSE(result.stalled);
  // ... and is no whole step otherwise: one step overshoots and it stops.
  result = Distribute(values, kCents.tolerance, kCents, kAny);
  EXPECT_EQ(result.steps, 1);
  EXPECT_TRUE(result.stalled);

  // Many sweeps over few values.
  values = {1, 2};
  result = Distribute(values, -0.25, kCents, cyclic);
  EXPECT_EQ(values, (Values{0.87, 1.88}));
  EXPECT_FALSE(result.stalled);
}

TEST(Distribute, DifferenceOffTheGridStopsWhereItPassesZero) {
  Values values = {1, 1};
  Distribution result = Distribute(values, 0.015, kCents, kAny);
  EXPECT_TRUE(result.stalled);
  EXPECT_EQ(result.steps, 2);
  EXPECT_NEAR(result.remaining, -0.005, 1e-12);
  EXPECT_EQ(values, (Values{1.01, 1.01}));

  // A difference of many steps off the grid stops as soon as it passes zero.
  values = {1, 1, 1};
  result = Distribute(values, -1.2345, kCents, kAny);
  EXPECT_TRUE(result.stalled);
  EXPECT_EQ(result.steps, 124);
  EXPECT_NEAR(result.remaining, 0.0055, 1e-9);
  for (double value : values) EXPECT_EQ(value, text::RoundDecimal(value, 2));
}

// A difference no rounding leaves (a huge or broken figure upstream) is left
// whole at once: stepping it would never end, or take hours.
TEST(Distribute, DifferenceBeyondTheStepsItMayTakeIsLeftWhole) {
  for (double difference : {1e308, -1e308, 1e20, 1e6, HUGE_VAL, std::nan("")}) {
    SCOPED_TRACE(difference);
    Values values = {1, 2};
    const Distribution result = Distribute(values, difference, kCents, kAny);
    EXPECT_TRUE(result.stalled);
    EXPECT_EQ(result.steps, 0);
    EXPECT_EQ(values, (Values{1, 2}));
  }
  // The most steps a difference may need, and no more, are taken.
  Values values = {1};
  const Distribution result = Distribute(values, 1e3, kCents, kAny);
  EXPECT_EQ(result.steps, 100000);
  EXPECT_FALSE(result.stalled);
  EXPECT_EQ(values[0], 1001);
}

}  // namespace
}  // namespace landstat::units
