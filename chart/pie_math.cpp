#include "chart/pie_math.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "chart/axis_math.h"
#include "chart/pixel_math.h"

namespace pie_math {

namespace {
constexpr double kFullCircle = 2 * std::numbers::pi;
}  // namespace

std::vector<TPieAngle> SliceAngles(const std::vector<double>& values, const std::vector<bool>& folded) {
  const auto isFolded = [&](std::size_t i) { return i < folded.size() && folded[i]; };
  double total = 0;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!isFolded(i) && std::isfinite(values[i])) total += std::abs(values[i]);
  std::vector<TPieAngle> angles(values.size());
  if (!(total > 0) || !std::isfinite(total)) {
    for (TPieAngle& a : angles) a = TPieAngle{0, std::numbers::pi, kFullCircle};
    return angles;
  }
  const double factor = kFullCircle / total;
  double acc = 0;
  double previousEnd = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    TPieAngle& a = angles[i];
    a.StartAngle = previousEnd;
    if (!isFolded(i) && std::isfinite(values[i])) acc += std::abs(values[i]);
    a.EndAngle = acc >= total ? kFullCircle : acc * factor;
    if (a.EndAngle - a.StartAngle > kFullCircle) a.EndAngle = a.StartAngle + kFullCircle;
    a.MidAngle = (a.StartAngle + a.EndAngle) * 0.5;
    previousEnd = a.EndAngle;
  }
  return angles;
}

void AdjustCircleRect(TCircle& c) {
  TRect& r = c.Rect;
  if ((r.Right - r.Left) % 2 != 0) --r.Right;
  if ((r.Bottom - r.Top) % 2 != 0) --r.Bottom;
  if (r.Right - r.Left < 4) r.Right = r.Left + 4;
  if (r.Bottom - r.Top < 4) r.Bottom = r.Top + 4;
  c.Width = r.Right - r.Left;
  c.Height = r.Bottom - r.Top;
  c.XCenter = (r.Left + r.Right) / 2;
  c.YCenter = (r.Top + r.Bottom) / 2;
}

void CalcRadius(TCircle& c, int customXRadius, int customYRadius) {
  if (customXRadius != 0) {
    c.XRadius = customXRadius;
    c.Width = 2 * customXRadius;
  } else {
    c.XRadius = c.Width / 2;
  }
  if (customYRadius != 0) {
    c.YRadius = customYRadius;
    c.Height = 2 * customYRadius;
  } else {
    c.YRadius = c.Height / 2;
  }
  c.Rect = TRect{c.XCenter - c.XRadius, c.YCenter - c.YRadius, c.XCenter + c.XRadius, c.YCenter + c.YRadius};
}

void Shrink(TCircle& c, int dx, int dy, int customXRadius, int customYRadius) {
  c.Rect.Left += dx;
  c.Rect.Right -= dx;
  c.Rect.Top += dy;
  c.Rect.Bottom -= dy;
  AdjustCircleRect(c);
  CalcRadius(c, customXRadius, customYRadius);
}

TPoint AngleToPos(const TCircle& c, double angle, double rotation, int rx, int ry) {
  const double a = angle + rotation;
  return TPoint{RoundHalfEven(std::cos(a) * rx) + c.XCenter, c.YCenter - RoundHalfEven(std::sin(a) * ry)};
}

TPoint ExplodeOffset(const TCircle& c, double angle, int percent) {
  const double f = percent / 100.0;
  return TPoint{RoundHalfEven(c.XRadius * f * std::cos(angle)),
                RoundHalfEven(c.YRadius * f * std::sin(angle))};
}

TPoint ExplodeShrink(const TCircle& c, double mid, int percent) {
  // The sine goes with the horizontal radius and the cosine with the
  // vertical one, as the shrink has always been computed.
  return TPoint{RoundHalfEven(std::abs(std::sin(mid)) * c.XRadius * percent / 100.0) / 2,
                RoundHalfEven(std::abs(std::cos(mid)) * c.YRadius * percent / 100.0) / 2};
}

std::vector<int> BackToFrontOrder(const std::vector<TPieAngle>& angles, double rotation) {
  std::vector<double> key(angles.size());
  for (std::size_t i = 0; i < angles.size(); ++i) {
    double a = std::fmod(angles[i].MidAngle + rotation, kFullCircle);
    if (a < 0) a += kFullCircle;
    double d = std::abs(a - std::numbers::pi / 2);
    if (d > std::numbers::pi) d = kFullCircle - d;
    key[i] = d;
  }
  std::vector<int> order(angles.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key[a] < key[b]; });
  return order;
}

TPieMarkPlace PieMarkPlace(const TCircle& c, double mid, double rotation, int explodePercent, int arrowLength,
                           int letterWidth, int letterHeight, int markWidth, int markHeight) {
  const int rx = c.XRadius + RoundHalfEven(c.XRadius * explodePercent / 100.0);
  const int ry = c.YRadius + RoundHalfEven(c.YRadius * explodePercent / 100.0);
  TPieMarkPlace p;
  p.ArrowTo = AngleToPos(c, mid, rotation, letterWidth + rx, letterHeight + ry);
  p.ArrowFrom = AngleToPos(c, mid, rotation, rx - arrowLength, ry - arrowLength);
  p.LeftTop.X = p.ArrowTo.X > c.XCenter ? p.ArrowTo.X : p.ArrowTo.X - markWidth;
  p.LeftTop.Y = p.ArrowTo.Y <= c.YCenter ? p.ArrowTo.Y - markHeight : p.ArrowTo.Y;
  return p;
}

}  // namespace pie_math
