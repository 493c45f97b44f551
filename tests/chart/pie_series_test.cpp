#include <gtest/gtest.h>
#include <cmath>
#include <numbers>
#include <vector>
#include "chart/pie_math.h"
#include "chart_test_support.h"

namespace {

using namespace charttest;

double Degrees(double radians) { return radians * 180 / std::numbers::pi; }

TEST(PieMath, SliceAnglesFillTheCircleOnce) {
  const struct {
    std::vector<double> values;
    std::vector<bool> folded;
    std::vector<double> ends;  // end angle of each slice in degrees; a slice starts where the one before ends
    bool fullCircles;          // every slice the whole circle
  } cases[] = {
      {{50, 30, 20}, {}, {180, 288, 360}, false},
      {{-50, 30, -20}, {}, {180, 288, 360}, false},  // magnitudes, not signed sums
      {{50, 30, 20}, {false, true, false}, {257.142857, 257.142857, 360}, false},
      {{10, 0, 10}, {}, {180, 180, 360}, false},
      {{0, 0, 0}, {}, {360, 360, 360}, true},
      {{5, 5}, {true, true}, {360, 360}, true},  // everything folded: nothing to divide
  };
  for (const auto& c : cases) {
    const auto angles = pie_math::SliceAngles(c.values, c.folded);
    ASSERT_EQ(angles.size(), c.values.size());
    double start = 0;
    for (std::size_t i = 0; i < angles.size(); ++i) {
      EXPECT_NEAR(Degrees(angles[i].StartAngle), c.fullCircles ? 0 : start, 1e-6) << i;
      EXPECT_NEAR(Degrees(angles[i].EndAngle), c.ends[i], 1e-6) << i;
      start = c.ends[i];
    }
  }
}

TEST(PieMath, CircleRadiiPointsAndExplosion) {
  pie_math::TCircle c;
  c.Rect = TRect{10, 20, 111, 83};  // 101 × 63: both odd
  pie_math::AdjustCircleRect(c);
  EXPECT_EQ(c.Rect, (TRect{10, 20, 110, 82}));
  EXPECT_EQ((std::vector<int>{c.Width, c.Height, c.XCenter, c.YCenter}), (std::vector<int>{100, 62, 60, 51}));
  pie_math::CalcRadius(c, 0, 0);
  EXPECT_EQ((std::vector<int>{c.XRadius, c.YRadius}), (std::vector<int>{50, 31}));
  // Angle 0 lies right of the centre; a quarter turn of rotation moves it up.
  EXPECT_EQ(pie_math::AngleToPos(c, 0, 0, 50, 31), (TPoint{110, 51}));
  EXPECT_EQ(pie_math::AngleToPos(c, 0, std::numbers::pi / 2, 50, 31), (TPoint{60, 20}));
  EXPECT_EQ(pie_math::ExplodeOffset(c, std::numbers::pi / 2, 30), (TPoint{0, 9}));  // round(31 × 0.3)
  EXPECT_EQ(pie_math::ExplodeShrink(c, 0, 30), (TPoint{0, 4}));                    // round(9.3) div 2
  pie_math::CalcRadius(c, 20, 0);  // a custom radius wins
  EXPECT_EQ(c.Rect, (TRect{40, 20, 80, 82}));
  pie_math::TCircle tiny;
  tiny.Rect = TRect{5, 5, 6, 5};
  pie_math::AdjustCircleRect(tiny);
  EXPECT_EQ(tiny.Rect, (TRect{5, 5, 9, 9}));
}

TEST(PieMath, BackSlicesFirstForAnySize) {
  // Slices centred at the right, top, left and bottom: top first, bottom last.
  std::vector<pie_math::TPieAngle> angles;
  for (double mid : {0.0, 90.0, 180.0, 270.0})
    angles.push_back({0, mid * std::numbers::pi / 180, 0});
  EXPECT_EQ(pie_math::BackToFrontOrder(angles, 0), (std::vector<int>{1, 0, 2, 3}));
  EXPECT_EQ(pie_math::BackToFrontOrder(angles, std::numbers::pi), (std::vector<int>{3, 0, 2, 1}));
  // The order covers every slice, far beyond any fixed table size.
  const auto many = pie_math::SliceAngles(std::vector<double>(5000, 1.0), {});
  auto order = pie_math::BackToFrontOrder(many, 0);
  ASSERT_EQ(order.size(), 5000u);
  std::sort(order.begin(), order.end());
  EXPECT_EQ(order.back(), 4999);
  EXPECT_EQ(std::adjacent_find(order.begin(), order.end()), order.end());
}

TEST(PieSeries, TakesOverTheChartAndGivesItBack) {
  TChart chart;
  auto& pie = chart.AddSeries(std::make_unique<TPieSeries>());
  pie.SetActive(false);  // as the main form stores it: the chart gets its axes back
  EXPECT_TRUE(chart.AxisVisible());
  chart.View3DOptions().SetOrthogonal(true);
  chart.View3DOptions().SetRotation(10);
  chart.View3DOptions().SetTilt(5);
  pie.SetActive(true);
  EXPECT_FALSE(chart.AxisVisible() || chart.ClipPoints() || chart.View3DWalls() || chart.Frame().Visible());
  EXPECT_EQ(chart.BackWall().Brush().Style(), platform::bsClear);
  const TView3DOptions& view = chart.View3DOptions();
  EXPECT_EQ((std::vector<int>{view.Orthogonal(), view.Rotation(), view.Elevation(), view.Tilt()}),
            (std::vector<int>{false, 360, 315, 0}));
  pie.SetActive(false);
  EXPECT_TRUE(chart.AxisVisible() && chart.ClipPoints() && chart.View3DWalls() && chart.Frame().Visible());
  EXPECT_EQ(chart.BackWall().Brush().Style(), platform::bsSolid);
  // An active pie leaving the chart gives everything back too.
  pie.SetActive(true);
  auto removed = chart.RemoveSeries(pie);
  EXPECT_TRUE(chart.AxisVisible() && chart.View3DWalls() && chart.Frame().Visible());
}

TEST(PieSeries, OtherSliceIsRebuiltAtEveryDrawing) {
  Plain2DChart chart;
  auto& pie = chart.AddSeries(std::make_unique<TPieSeries>());
  for (double v : {50.0, 45.0, 3.0, 2.0}) pie.Add(v);
  pie.OtherSlice().SetStyle(poBelowPercent);
  pie.OtherSlice().SetValue(10);
  for (int drawing = 0; drawing < 2; ++drawing) {
    Draw(chart);
    ASSERT_EQ(pie.Count(), 5);
    EXPECT_EQ(Values(pie.XValues()), (std::vector<double>{0, 1, -1, -1, 2147483647.0}));
    EXPECT_DOUBLE_EQ(pie.YValue(4), 5);
    EXPECT_EQ(pie.Label(4), "Weitere");
    EXPECT_DOUBLE_EQ(pie.YValues().AbsoluteTotal(), 100);
    EXPECT_EQ((Ints{pie.CountLegendItems(), pie.LegendToValueIndex(2)}), (Ints{3, 4}));
    // Folded values have empty slices; the other slice closes the circle.
    EXPECT_DOUBLE_EQ(pie.Angles()[2].EndAngle, pie.Angles()[2].StartAngle);
    EXPECT_NEAR(Degrees(pie.Angles()[4].EndAngle - pie.Angles()[4].StartAngle), 18, 1e-9);
  }
  // Without the style the values come back whole.
  pie.OtherSlice().SetStyle(poNone);
  Draw(chart);
  EXPECT_EQ(Values(pie.XValues()), (std::vector<double>{0, 1, 2, 3}));
  // Negative values: percentages and slices refer to the absolute total.
  pie.Clear();
  for (double v : {-50.0, 30.0, 20.0}) pie.Add(v);
  Draw(chart);
  EXPECT_DOUBLE_EQ(pie.YValues().AbsoluteTotal(), 100);
  pie.Marks().SetStyle(smsPercent);
  EXPECT_EQ(pie.Marks().MarkText(1), "30 %");  // a plain sum would be 0
  EXPECT_NEAR(Degrees(pie.Angles()[2].EndAngle), 360, 1e-9);
}

// The colour of the pie at angle (degrees, before rotation) half-way out.
TColor ColourAt(const platform::Bitmap& b, const TPieSeries& pie, double degrees) {
  const pie_math::TCircle& c = pie.Circle();
  const TPoint p = pie_math::AngleToPos(c, degrees * std::numbers::pi / 180, pie.Rotation(), c.XRadius / 2,
                                        c.YRadius / 2);
  return b.Pixel(p.X, p.Y);
}

TEST(PieSeries, SlicesDrawnInProportion) {
  const struct {
    std::vector<double> values;
    int rotation;
    std::vector<std::pair<double, TColor>> probes;  // angle in degrees, expected colour
  } cases[] = {
      // 180°, 108°, 72° counter-clockwise (the pie snapshots show it
      // unrotated); rotated a quarter turn, the first slice starts at the top.
      {{50, 30, 20}, 90, {{10, clRed}, {170, clRed}, {200, clLime}, {330, clBlue}}},
      // A zero slice draws nothing (not the whole ellipse).
      {{50, 0, 50}, 0, {{90, clRed}, {170, clRed}, {190, clBlue}, {270, clBlue}}},
      // All zero: every slice is the whole circle; the last one stays on top.
      {{0, 0, 0}, 0, {{0, clBlue}, {90, clBlue}, {200, clBlue}}},
  };
  for (const auto& c : cases) {
    Plain2DChart chart;
    auto& pie = chart.AddSeries(std::make_unique<TPieSeries>());
    const TColor colours[] = {clRed, clLime, clBlue};
    for (std::size_t i = 0; i < c.values.size(); ++i) pie.Add(c.values[i], "", colours[i]);
    pie.SetRotationAngle(c.rotation);
    const platform::Bitmap picture = Draw(chart);
    EXPECT_GT(pie.Circle().Width, 100);
    for (const auto& [angle, colour] : c.probes) EXPECT_EQ(ColourAt(picture, pie, angle), colour) << angle;
  }
}

TEST(PieSeries, ExplodedSlicesMoveOutAndTheCircleShrinks) {
  for (bool view3D : {false, true}) {
    Plain2DChart chart;
    chart.SetView3D(view3D);
    auto& pie = chart.AddSeries(std::make_unique<TPieSeries>());
    for (double v : {1.0, 5.0, 3.0}) pie.Add(v);
    Draw(chart);
    const pie_math::TCircle whole = pie.Circle();
    pie.SetExplodeBiggest(30);
    EXPECT_EQ(pie.ExplodedSlice(1), 30);
    EXPECT_EQ(pie.ExplodedSlice(0), 0);
    Draw(chart);
    const pie_math::TCircle& shrunk = pie.Circle();
    // The biggest slice's middle lies at 140 degrees: the circle shrinks by
    // half of 30 % of each radius across that direction, on both sides.
    EXPECT_EQ((Ints{whole.Width, whole.Height, shrunk.Width, shrunk.Height}), (Ints{376, 230, 340, 204})) << view3D;
  }
  // Many exploded slices in 3D: every one drawn back to front.
  TChart chart;
  chart.SetView3D(true);
  auto& pie = chart.AddSeries(std::make_unique<TPieSeries>());
  for (int i = 0; i < 1500; ++i) pie.Add(1 + i % 7);
  for (int i = 0; i < 1500; i += 3) pie.SetExplodedSlice(i, 10);
  Draw(chart);
  EXPECT_EQ(pie.Angles().size(), 1500u);
}

}  // namespace
