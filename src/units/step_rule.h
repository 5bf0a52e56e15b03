#pragma once

#include <functional>
#include <vector>

namespace landstat::units {

// Step and tolerance of a unit with d decimals: one unit of the last
// decimal, and a tenth of it.
struct StepSize {
  int decimals = 2;
  double step = 0.01;
  double tolerance = 0.001;
};
StepSize StepFor(int decimals);

// How a difference is spread over a list of values, one step at a time.
struct StepRule {
  // Which values may take a step.
  std::function<bool(double value)> eligible;
  // A stepped value that comes to 0 or less is set to 0.
  bool floor_at_zero = false;
  // Cyclic stepping: a difference of exactly 0 takes negative steps, the
  // distribution stops at |D| <= tolerance (else at |D| < tolerance).
  bool cyclic = false;
  // One sweep only: each value takes one step at most, and what the sweep
  // leaves of the difference stays.
  bool single_sweep = false;
  // Stops before a step that would carry the difference past 0 by more
  // than the tolerance (less than one step left, the values off the grid).
  bool whole_steps = false;
};

// The outcome of a distribution: what is left of the difference, and
// whether it had to stop before the difference fell within the tolerance
// (no value could take a step, or the difference was no whole number of
// steps).
struct Distribution {
  double remaining = 0;
  bool stalled = false;
  long steps = 0;
};

// The most steps one distribution takes. A rounding remainder needs about
// one step per value; a difference that would need more than this many
// steps comes from a wrong figure, and spreading it would take hours.
inline constexpr double kMostSteps = 1e7;

// The steps a difference can need: its size in steps, and one more.
double StepsNeeded(double difference, const StepSize& size);

// The rule of most distributions: every value above the tolerance (not
// zero) may take a step.
StepRule AboveTolerance(const StepSize& size);

// Adds steps of +step or -step (by the sign of the difference, fixed for
// the whole distribution) to the values in sweeps in list order, until the
// difference is within the tolerance. Stepped values stay on the decimal
// grid. A sweep without a step, a difference that has changed sign, as
// many steps as the difference can need, or the end of the first sweep of
// a single-sweep rule (or less than a step left, for a whole-steps rule)
// end the distribution; a difference
// that would need more than kMostSteps steps (or is not finite) is left
// whole, stalled. It never runs without end. `touched`, when given, is set
// for every value that took a step.
Distribution Distribute(std::vector<double>& values, double difference, const StepSize& size,
                        const StepRule& rule, std::vector<bool>* touched = nullptr);

}  // namespace landstat::units
