#include "chart/line_math.h"

namespace line_math {

std::vector<TPoint> SegmentPath(TPoint from, TPoint to, bool stairs, bool invertedStairs) {
  if (!stairs) return {from, to};
  if (invertedStairs) return {from, TPoint{from.X, to.Y}, to};
  return {from, TPoint{to.X, from.Y}, to};
}

TRect MarkerRect(int x, int y, int hs, int vs) { return TRect{x - hs, y - vs, x + hs + 1, y + vs + 1}; }

std::vector<TPoint> MarkerPolygon(TSeriesPointerStyle style, int x, int y, int hs, int vs) {
  const int l = x - hs, r = x + hs, t = y - vs, b = y + vs;
  switch (style) {
    case psTriangle:
      return {{l, b}, {r, b}, {x, t}};
    case psDownTriangle:
      return {{l, t}, {r, t}, {x, b}};
    case psDiamond:
      return {{l, y}, {x, t}, {r, y}, {x, b}};
    default:
      return {};
  }
}

double InterpolateY(double x1, double y1, double x2, double y2, double v) {
  if (x2 == x1) return y1;
  return y1 + (y2 - y1) * (v - x1) / (x2 - x1);
}

bool SteepRibbon(int oldX, int oldY, int x, int y, double darkRatio) {
  if (x == oldX || darkRatio == 0) return false;
  return static_cast<double>(oldY - y) / (x - oldX) > darkRatio;
}

bool AppendLinePoint(std::vector<TPoint>& points, TPoint p) {
  if (!points.empty() && points.back().X == p.X && points.back().Y == p.Y) return false;
  points.push_back(p);
  return true;
}

}  // namespace line_math
