// The chart's pixel arithmetic: the one rounding of computed coordinates to
// pixels.
#pragma once

// Rounds to the nearest integer, ties to even (2.5 -> 2, 3.5 -> 4), as the
// chart's arithmetic does everywhere. NaN gives 0; results beyond +-limit
// are clamped to it, so that a wild scale can neither overflow the pixel
// arithmetic nor be negated out of range. limit >= 0 and at most INT_MAX.
int RoundClamped(double value, double limit);

// RoundClamped to the 32-bit range: -INT_MAX..INT_MAX.
int RoundHalfEven(double value);
