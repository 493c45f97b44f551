// Integer pixel geometry shared by the drawing surface, the 3D canvas and the
// chart: points, rectangles and the rounded multiply-divide that layouts use.
#pragma once

#include <cstdint>
#include <limits>

// A device or chart-space point in whole pixels (x to the right, y down).
struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// A rectangle given by its edges. Shapes drawn from it cover the pixels
// Left..Right-1 and Top..Bottom-1.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  constexpr int Width() const { return Right - Left; }
  constexpr int Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// A width and height pair (text extents).
struct TSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

constexpr TPoint Point(int x, int y) { return TPoint{x, y}; }
constexpr TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

// Moves every edge inwards by dx and dy (outwards for negative values).
constexpr void InflateRect(TRect& r, int dx, int dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
}

constexpr void OffsetRect(TRect& r, int dx, int dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

// a × b ÷ c computed exactly in 64 bits and rounded to the nearest integer,
// halves away from zero. Like the platform function it answers -1 when c is
// 0 or the result does not fit 32 bits, so callers that may pass c = 0 must
// check first.
constexpr int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  std::int64_t num = static_cast<std::int64_t>(a) * b;
  std::int64_t den = c;
  if (den < 0) {
    num = -num;
    den = -den;
  }
  const std::int64_t q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
  if (q > std::numeric_limits<int>::max() || q < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(q);
}
