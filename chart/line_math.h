// The geometry of line, area, point and fast line series, apart from any
// drawing: the path of one segment (slope or stairs), the outlines of the
// point markers, the interpolated start of a line entering the plotting
// area, the steepness test of 3D ribbons and the point list of a fast line.
#pragma once

#include <vector>

#include "platform/geometry.h"

// Marker shapes at the points of line and point series.
enum TSeriesPointerStyle {
  psRectangle,
  psCircle,
  psTriangle,
  psDownTriangle,
  psCross,
  psDiagCross,
  psStar,
  psDiamond,
  psSmallDot
};

namespace line_math {

// The corners a segment from `from` to `to` passes through, both ends
// included: straight, or with stairs first the run along from.Y and then the
// rise at to.X; with inverted stairs first the rise at from.X, then the run
// along to.Y.
std::vector<TPoint> SegmentPath(TPoint from, TPoint to, bool stairs, bool invertedStairs);

// The rectangle a marker of half sizes hs, vs at (x, y) covers: right and
// bottom exclusive, as filled shapes are drawn.
TRect MarkerRect(int x, int y, int hs, int vs);

// Corner points of the polygon markers (triangle, down triangle, diamond);
// empty for the other styles.
std::vector<TPoint> MarkerPolygon(TSeriesPointerStyle style, int x, int y, int hs, int vs);

// The value at v of the line through (x1, y1) and (x2, y2); y1 when x1 = x2.
double InterpolateY(double x1, double y1, double x2, double y2, double v);

// True when the ribbon from (oldX, oldY) to (x, y) climbs more steeply than
// darkRatio (screen y grows downwards) and is therefore shaded darker.
bool SteepRibbon(int oldX, int oldY, int x, int y, double darkRatio);

// Adds p to a fast line's point list unless it repeats the last point, so
// that no zero-length segment is drawn. Returns true when p was added.
bool AppendLinePoint(std::vector<TPoint>& points, TPoint p);

}  // namespace line_math
