#include "units/step_rule.h"

#include <cmath>

#include "engine/rounding.h"

namespace landstat::units {

StepSize StepFor(int decimals) {
  StepSize size;
  size.decimals = decimals;
  size.step = std::pow(0.1, decimals);
  size.tolerance = std::pow(0.1, decimals + 1);
  return size;
}

StepRule AboveTolerance(const StepSize& size) {
  return {[tolerance = size.tolerance](double value) { return value > tolerance; }, false, false};
}

double StepsNeeded(double difference, const StepSize& size) {
  // One more than the quotient: a difference off the grid takes one step
  // past zero before the distribution sees it.
  return std::ceil(std::fabs(difference) / size.step) + 1;
}

Distribution Distribute(std::vector<double>& values, double difference, const StepSize& size,
                        const StepRule& rule, std::vector<bool>* touched) {
  Distribution result;
  result.remaining = difference;
  if (touched) touched->assign(values.size(), false);
  // Every step takes one step off the difference, so the distribution
  // never needs more steps than this; a difference that would need more
  // than kMostSteps (or is no finite number) is no rounding remainder and is
  // not spread at all.
  const double needed = StepsNeeded(difference, size);
  if (!(needed <= kMostSteps)) {
    result.stalled = true;
    return result;
  }
  const bool upward = rule.cyclic ? difference > 0 : difference >= 0;
  const double step = upward ? size.step : -size.step;
  const auto within = [&](double d) {
    return rule.cyclic ? std::fabs(d) <= size.tolerance : std::fabs(d) < size.tolerance;
  };
  while (!within(difference) && result.steps < needed) {
    bool stepped = false;
    for (std::size_t i = 0; i < values.size() && !within(difference) && result.steps < needed;
         ++i) {
      if (rule.whole_steps && std::fabs(difference) < size.step - size.tolerance) break;
      if (!rule.eligible(values[i])) continue;
      double value = RoundToDecimals(values[i] + step, size.decimals);
      if (rule.floor_at_zero && value <= 0) value = 0;
      values[i] = value;
      difference -= step;
      stepped = true;
      ++result.steps;
      if (touched) (*touched)[i] = true;
      // A difference that is no whole number of steps passes zero: stop
      // there rather than let it grow.
      if ((difference > 0) != upward && !within(difference)) break;
    }
    if (!stepped || rule.single_sweep || ((difference > 0) != upward && !within(difference))) {
      break;
    }
  }
  result.stalled = !within(difference);
  result.remaining = difference;
  return result;
}

}  // namespace landstat::units
