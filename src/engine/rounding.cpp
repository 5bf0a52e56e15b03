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

// The value in whole units of the n-th decimal, rounded (halves away from
// zero).
// Kept as a double: a value too large for the grid to matter stays as it is.
double Units(double value, int decimals) {
  // Away from a half, the decimal form rounds as the binary value does:
  // taking the decimal form (twice) moves the value by less than 1.2e-14 of
  // itself, so a value farther than 1e-13 of itself from a half needs no
  // text. Only figures that sit on a half in decimal (or next to one) go
  // through the text.
  const double near = value * std::pow(10.0, decimals);
  const double whole = std::nearbyint(near);
  if (std::fabs(near) < 1e12 && std::fabs(near - whole) < 0.5 - std::fabs(near) * 1e-13 - 1e-9) {
    return whole;
  }
  const double scaled = Settled(Settled(value) * std::pow(10.0, decimals));
  if (std::fabs(scaled) >= 0x1p52) return scaled;
  return std::copysign(std::floor(std::fabs(scaled) + 0.5), scaled);
}

}  // namespace

double RoundToDecimals(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  const double units = Units(value, decimals);
  if (std::fabs(units) >= 0x1p52) return value;  // finer than the value's own precision
  const double rounded = units / std::pow(10.0, decimals);
  return rounded == 0.0 ? 0.0 : rounded;
}

void xcKeepPoint(double* value, short decimals) {
  if (value) *value = RoundToDecimals(*value, decimals);
}

double xcDotOut(double value, short side, short decimals) {
  if (!std::isfinite(value)) return value / 2;
  const double units = Units(value, decimals);
  if (std::fabs(units) >= 0x1p52) return value / 2;
  // The lower half rounds down, so negative odd counts split onto the grid too.
  const double lower = std::floor(units / 2);
  const double half = side == 0 ? lower : units - lower;
  const double result = half / std::pow(10.0, decimals);
  return result == 0.0 ? 0.0 : result;
}

}  // namespace landstat
