#include "chart/pixel_math.h"

#include <cmath>
#include <limits>

int RoundClamped(double value, double limit) {
  if (std::isnan(value)) return 0;
  value = std::nearbyint(value);  // default rounding mode: ties to even
  if (value > limit) return static_cast<int>(limit);
  if (value < -limit) return static_cast<int>(-limit);
  return static_cast<int>(value);
}

int RoundHalfEven(double value) { return RoundClamped(value, static_cast<double>(std::numeric_limits<int>::max())); }
