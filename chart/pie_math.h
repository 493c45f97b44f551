// The geometry of pie slices, apart from any drawing: slice angles from the
// values, the circle rectangle and radii, points on the ellipse, the offset
// of an exploded slice, and the order in which 3D slices are drawn from the
// back to the front. Angles are radians, counter-clockwise from the positive
// x direction; y grows downwards on the screen.
#pragma once

#include <vector>

#include "platform/geometry.h"

namespace pie_math {

struct TPieAngle {
  double StartAngle = 0;
  double MidAngle = 0;
  double EndAngle = 0;
};

// One slice per value, in order, each as wide as its share of the absolute
// total. Folded values (folded[i] true) get empty slices. The slices fill
// the circle exactly once whatever the signs; when every value is 0 (or
// folded) each slice is the full circle.
std::vector<TPieAngle> SliceAngles(const std::vector<double>& values, const std::vector<bool>& folded);

// The circle of a pie: its rectangle, size, centre and radii.
struct TCircle {
  TRect Rect{};
  int Width = 0;
  int Height = 0;
  int XCenter = 0;
  int YCenter = 0;
  int XRadius = 0;
  int YRadius = 0;
};

// Makes both dimensions even and at least 4, then takes size and centre
// from the rectangle.
void AdjustCircleRect(TCircle& c);
// Radii from the custom radii (when not 0) or half the size; the rectangle
// becomes the box of the radii around the centre.
void CalcRadius(TCircle& c, int customXRadius, int customYRadius);
// Shrinks the rectangle by dx on the left and right and dy at the top and
// bottom, then adjusts it and recomputes the radii.
void Shrink(TCircle& c, int dx, int dy, int customXRadius, int customYRadius);

// The point at angle + rotation on the ellipse of radii rx, ry around the
// circle's centre.
TPoint AngleToPos(const TCircle& c, double angle, double rotation, int rx, int ry);

// Shift of a slice exploded by percent of the radii along its middle angle
// (a = MidAngle + rotation): (round(XRadius f cos a), round(YRadius f sin a)),
// y pointing up.
TPoint ExplodeOffset(const TCircle& c, double angle, int percent);

// Room an exploded slice needs: the horizontal and vertical shrink of the
// circle for the slice with middle angle `mid` (without rotation) exploded
// by percent.
TPoint ExplodeShrink(const TCircle& c, double mid, int percent);

// Value indexes sorted so that the slices at the back of a 3D pie (top of
// the ellipse) come first: by the angular distance of MidAngle + rotation
// from a quarter turn, ascending. As long as the series.
std::vector<int> BackToFrontOrder(const std::vector<TPieAngle>& angles, double rotation);

// Where the mark of a slice goes: the arrow from just inside the rim
// (radii less arrowLength) out to one "W" beyond it, and the box's top-left
// corner beside the arrow's end, on the side away from the centre.
struct TPieMarkPlace {
  TPoint ArrowFrom{};
  TPoint ArrowTo{};
  TPoint LeftTop{};
};
TPieMarkPlace PieMarkPlace(const TCircle& c, double mid, double rotation, int explodePercent, int arrowLength,
                           int letterWidth, int letterHeight, int markWidth, int markHeight);

}  // namespace pie_math
