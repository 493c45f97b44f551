// The projection of chart space (x right, y down, z from 0 at the front into
// the depth) onto the device: pure functions of numbers, so that it can be
// checked without drawing.
#pragma once

#include "platform/geometry.h"

// The six coefficients of the rotated projection.
struct TProjectionCoefficients {
  double c_xx = 1.0;
  double c_xy = 0.0;
  double c_xz = 0.0;
  double c_yx = 0.0;
  double c_yy = 1.0;
  double c_yz = 0.0;
};

// Coefficients for rotation r (about the vertical axis), elevation e (about
// the horizontal axis) and tilt t (about the depth axis), in degrees.
TProjectionCoefficients CalcTrigValues(double rotation, double elevation, double tilt);

// Everything a projection needs; Project maps a chart-space point to a
// device point. With Is3D off points map to themselves (z ignored).
struct TProjection {
  bool Is3D = false;
  bool Orthogonal = true;
  int XCenter = 0;
  int YCenter = 0;
  int ZCenter = 0;
  int XCenterOffset = 0;  // XCenter + HorizOffset
  int YCenterOffset = 0;  // YCenter + VertOffset
  double Zoom = 1.0;      // Zoom percent × 0.01
  TProjectionCoefficients C;

  // Orthogonal: x' = round((x − XCenter + z) × Zoom) + XCenterOffset,
  //             y' = round((y − YCenter − z) × Zoom) + YCenterOffset.
  // Rotated:    X, Y, Z relative to the centre, x' = round((X c_xx + Y c_xy +
  //             Z c_xz) × Zoom) + XCenterOffset, y' likewise with c_y*.
  TPoint Project(int x, int y, int z) const;
};
