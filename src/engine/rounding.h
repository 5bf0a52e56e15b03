#pragma once

namespace landstat {

// The value rounded to n decimals, halves away from zero (2.675 gives 2.68,
// -2.675 gives -2.68), taken on the value's decimal form so that binary
// noise (2.675 held as 2.67499999...) does not decide a half. The one
// rounding rule of the balancers: a total, a difference and a stepped value
// of one balancing are all rounded by it, and a figure and its negative
// round to opposite values, so that sums taken with either sign agree.
double RoundToDecimals(double value, int decimals);

// The decimals a sum kept as summed is stored with: finer than any input,
// they drop only the binary tail that the order of the additions leaves, so
// that every engine and every number of workers stores the same figure.
inline constexpr int kSummedDecimals = 6;

// RoundToDecimals in place.
void xcKeepPoint(double* value, short decimals);

// Splits a value into two halves on the n-decimal grid that add up exactly
// to the value rounded to n decimals: when that rounded value is an odd
// number of units of the last decimal, side 0 gets the smaller half (0.03
// gives 0.01 and 0.02; -0.03 gives -0.02 and -0.01), else both get half.
double xcDotOut(double value, short side, short decimals);

}  // namespace landstat
