#include "chart/projection.h"

#include <cmath>
#include <numbers>

#include "chart/pixel_math.h"

TProjectionCoefficients CalcTrigValues(double rotation, double elevation, double tilt) {
  constexpr double kRad = std::numbers::pi / 180.0;
  const double sr = std::sin(rotation * kRad), cr = std::cos(rotation * kRad);
  const double se = std::sin(elevation * kRad), ce = std::cos(elevation * kRad);
  const double st = std::sin(tilt * kRad), ct = std::cos(tilt * kRad);
  TProjectionCoefficients c;
  c.c_xx = sr * se * st + cr * ct;
  c.c_xy = ce * st;
  c.c_xz = cr * se * st - ct * sr;
  c.c_yx = ct * sr * se - cr * st;
  c.c_yy = ce * ct;
  c.c_yz = cr * ct * se + sr * st;
  return c;
}

TPoint TProjection::Project(int x, int y, int z) const {
  if (!Is3D) return {x, y};
  // Differences in double: chart coordinates may lie far apart.
  const double dx = static_cast<double>(x) - XCenter;
  const double dy = static_cast<double>(y) - YCenter;
  if (Orthogonal) {
    return {SaturatedSum(RoundHalfEven((dx + z) * Zoom), XCenterOffset),
            SaturatedSum(RoundHalfEven((dy - z) * Zoom), YCenterOffset)};
  }
  const double dz = static_cast<double>(z) - ZCenter;
  return {SaturatedSum(RoundHalfEven((dx * C.c_xx + dy * C.c_xy + dz * C.c_xz) * Zoom), XCenterOffset),
          SaturatedSum(RoundHalfEven((dx * C.c_yx + dy * C.c_yy + dz * C.c_yz) * Zoom), YCenterOffset)};
}
