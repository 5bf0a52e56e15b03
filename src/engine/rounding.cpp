#include "engine/rounding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace landstat {
namespace {

// The value's decimal form at 15 significant digits.
double Settled(double value) {
  char digits[40];
  std::snprintf(digits, sizeof digits, "%.14e", value);
  return std::strtod(digits, nullptr);
}

// The value rounded to whole units of the n-th decimal.
long long Units(double value, short decimals) {
  const double scale = std::pow(10.0, decimals);
  return static_cast<long long>(std::floor(Settled(Settled(value) * scale) + 0.5));
}

}  // namespace

void xcKeepPoint(double* value, short decimals) {
  if (!value || !std::isfinite(*value)) return;
  const double rounded = static_cast<double>(Units(*value, decimals)) / std::pow(10.0, decimals);
  *value = rounded == 0.0 ? 0.0 : rounded;
}

double xcDotOut(double value, short side, short decimals) {
  if (!std::isfinite(value)) return value / 2;
  const long long units = Units(value, decimals);
  // Floor division, so that negative odd counts split onto the grid too.
  const long long lower = units >= 0 ? units / 2 : -((-units + 1) / 2);
  const long long half = side == 0 ? lower : units - lower;
  const double result = static_cast<double>(half) / std::pow(10.0, decimals);
  return result == 0.0 ? 0.0 : result;
}

}  // namespace landstat
