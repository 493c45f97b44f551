#include "chart/pixel_math.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

TEST(PixelMath, TiesToEvenAndClampsSymmetrically) {
  struct Case { double value, limit; int rounded; };
  const Case cases[] = {
      {0.5, INT_MAX, 0},          {1.5, INT_MAX, 2},          {2.5, INT_MAX, 2},   {-0.5, INT_MAX, 0},
      {-1.5, INT_MAX, -2},        {2.4999, INT_MAX, 2},       {NAN, INT_MAX, 0},   {1e20, INT_MAX, INT_MAX},
      {-1e20, INT_MAX, -INT_MAX},  // never INT_MIN: the result may be negated
      {16777216.5, 1 << 24, 1 << 24}, {2e7, 1 << 24, 1 << 24}, {-2e7, 1 << 24, -(1 << 24)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundClamped(c.value, c.limit), c.rounded) << c.value << " limit " << c.limit;
    if (c.limit == INT_MAX) {
      EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
    }
  }
}

}  // namespace
