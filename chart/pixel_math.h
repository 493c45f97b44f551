// The chart's pixel arithmetic: the one rounding of computed coordinates to
// pixels, and sums of pixel coordinates that saturate instead of wrapping
// (chart coordinates come from values that may be far out of range).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

// Rounds to the nearest integer, ties to even (2.5 -> 2, 3.5 -> 4), as the
// chart's arithmetic does everywhere. NaN gives 0; results beyond +-limit
// are clamped to it, so that a wild scale can neither overflow the pixel
// arithmetic nor be negated out of range. limit >= 0 and at most INT_MAX.
inline int RoundClamped(double value, double limit) {
  if (std::isnan(value)) return 0;
  value = std::nearbyint(value);  // default rounding mode: ties to even
  if (value > limit) return static_cast<int>(limit);
  if (value < -limit) return static_cast<int>(-limit);
  return static_cast<int>(value);
}

// RoundClamped to the 32-bit range: -INT_MAX..INT_MAX.
inline int RoundHalfEven(double value) {
  return RoundClamped(value, static_cast<double>(std::numeric_limits<int>::max()));
}

// v clamped to the int range.
inline int Saturate(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// a + b, formed in 64 bits and saturated.
inline int SaturatedSum(int a, int b) { return Saturate(static_cast<std::int64_t>(a) + b); }
