#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
#include "chart/line_math.h"
#include "chart_test_support.h"

namespace {

using namespace charttest;

using Path = std::vector<TPoint>;

// Marker boxes and the fast line's points are checked on the picture below.
TEST(LineMath, TrianglesInterpolationAndSteepRibbons) {
  EXPECT_EQ(line_math::MarkerPolygon(psTriangle, 100, 50, 4, 3), (Path{{96, 53}, {104, 53}, {100, 47}}));
  EXPECT_EQ(line_math::MarkerPolygon(psDownTriangle, 100, 50, 4, 3), (Path{{96, 47}, {104, 47}, {100, 53}}));
  EXPECT_DOUBLE_EQ(line_math::InterpolateY(0, 10, 4, 30, 1), 15);
  EXPECT_DOUBLE_EQ(line_math::InterpolateY(2, 10, 2, 30, 1), 10);  // one X for both
  EXPECT_TRUE(line_math::SteepRibbon(0, 100, 10, 50, 2));    // climbs 5 per pixel
  EXPECT_FALSE(line_math::SteepRibbon(0, 100, 10, 90, 2));   // climbs 1 per pixel
  EXPECT_FALSE(line_math::SteepRibbon(10, 100, 10, 0, 2));   // vertical: no slope
  EXPECT_FALSE(line_math::SteepRibbon(0, 100, 10, 0, 0));    // no ratio
}

TEST(SeriesPointer, EveryShapeStaysInItsBox) {
  const struct { TSeriesPointerStyle style; TRect extent; } cases[] = {
      {psRectangle, {96, 46, 105, 55}},    {psCircle, {96, 46, 104, 54}},   {psTriangle, {96, 46, 105, 55}},
      {psDownTriangle, {96, 46, 105, 55}}, {psCross, {96, 46, 105, 55}},    {psDiagCross, {96, 46, 105, 55}},
      {psStar, {96, 46, 105, 55}},         {psDiamond, {96, 46, 105, 55}},  {psSmallDot, {100, 50, 101, 51}},
  };
  for (const auto& c : cases) {
    platform::Bitmap bitmap(200, 100);
    platform::Surface surface(bitmap);
    surface.Brush.Color = clWhite;
    surface.FillRect(TRect{0, 0, 200, 100});
    TChartCanvas3D canvas;
    canvas.Bind(surface);
    TSeriesPointer pointer(nullptr);
    pointer.PrepareCanvas(canvas, clRed);
    pointer.DrawShape(canvas, false, 100, 50, 4, 4, 0, 0, true, c.style, clRed);
    EXPECT_EQ(InkBox(bitmap), c.extent) << c.style;
    // Filled shapes take the point's colour inside a black outline; the
    // line shapes draw in the point's colour.
    const bool filled = c.style == psRectangle || c.style == psCircle || c.style == psDiamond;
    const bool centreRed = filled || c.style == psCross || c.style == psSmallDot;
    if (centreRed) {
      EXPECT_EQ(bitmap.Pixel(100, 50), clRed) << c.style;
    }
    if (c.style == psRectangle) {
      EXPECT_EQ(bitmap.Pixel(96, 50), clBlack);
    }
  }
}

// A flat chart with one series of the given kind holding the values.
template <class Series>
Series& Chart(TChart& chart, std::initializer_list<double> values, TColor colour = clRed) {
  Plain2D(chart);
  auto& s = chart.AddSeries(std::make_unique<Series>());
  s.SetSeriesColor(colour);
  for (double v : values) s.Add(v);
  return s;
}

TEST(LineSeries, MarkersAreDrawnAfterTheSegmentThatLeavesThem) {
  TChart chart;
  // A zig-zag whose segments cross the middle of each marker.
  auto& line = Chart<TLineSeries>(chart, {10, 30, 10});
  line.Pointer().SetVisible(true);
  line.Pointer().Brush().SetColor(clLime);
  line.Pointer().Pen().SetVisible(false);
  const platform::Bitmap picture = Draw(chart);
  for (int i = 0; i < 3; ++i) {
    const int x = line.CalcXPos(i), y = line.CalcYPos(i);
    EXPECT_EQ(CountColour(picture, clRed, line_math::MarkerRect(x, y, 3, 3)), 0) << i;
    EXPECT_EQ(picture.Pixel(x, y), clLime) << i;
  }
  // Between the markers the line runs through the right heights.
  const int midX = (line.CalcXPos(0) + line.CalcXPos(1)) / 2;
  const int midY = (line.CalcYPos(0) + line.CalcYPos(1)) / 2;
  EXPECT_GT(CountColour(picture, clRed, TRect{midX, midY - 2, midX + 1, midY + 3}), 0);
}

TEST(LineSeries, NullPointBreaksTheLine) {
  TChart chart;
  auto& line = Chart<TLineSeries>(chart, {10});
  line.AddNull();
  line.Add(10);
  line.Add(20);
  const platform::Bitmap picture = Draw(chart);
  const int x0 = line.CalcXPos(0), x2 = line.CalcXPos(2), x3 = line.CalcXPos(3);
  EXPECT_EQ(CountColour(picture, clRed, TRect{x0 + 1, 0, x2, 250}), 0);
  EXPECT_GT(CountColour(picture, clRed, TRect{x2, 0, x3, 250}), x3 - x2 - 2);
}

TEST(LineSeries, StairsRunThenRise) {
  for (bool inverted : {false, true}) {
    TChart chart;
    // The step from 25 up to 28 lies off the plot's edges.
    auto& line = Chart<TLineSeries>(chart, {20, 25, 28, 30});
    line.SetStairs(true);
    line.SetInvertedStairs(inverted);
    const platform::Bitmap picture = Draw(chart);
    const int x0 = line.CalcXPos(1), y0 = line.CalcYPos(1), x1 = line.CalcXPos(2), y1 = line.CalcYPos(2);
    const int cornerX = inverted ? x0 : x1, cornerY = inverted ? y1 : y0;
    EXPECT_EQ(picture.Pixel((x0 + x1) / 2, cornerY), clRed) << inverted;  // the run
    EXPECT_EQ(picture.Pixel(cornerX, (y0 + y1) / 2), clRed) << inverted;  // the rise
    EXPECT_NE(picture.Pixel((x0 + x1) / 2, inverted ? y0 : y1), clRed) << inverted;
  }
}

TEST(FastLineSeries, OnePolylineWithoutZeroLengthSegments) {
  Plain2DChart chart;
  auto& line = chart.AddSeries(std::make_unique<TFastLineSeries>());
  line.AddPoint(0, 10);
  line.AddPoint(0.0001, 10);  // the same pixel as the value before
  line.AddPoint(5, 20);
  line.AddPoint(10, 15);
  Draw(chart);
  EXPECT_EQ(line.LinePoints(), (Path{{line.CalcXPos(0), line.CalcYPos(0)},
                                     {line.CalcXPos(2), line.CalcYPos(2)},
                                     {line.CalcXPos(3), line.CalcYPos(3)}}));
  // A scale starting after value 0 starts the line at the value before.
  FixScale(chart.BottomAxis(), 3, 10);
  Draw(chart);
  ASSERT_EQ(line.FirstValueIndex(), 2);
  EXPECT_EQ(line.LinePoints().front(), (TPoint{line.CalcXPos(1), line.CalcYPos(1)}));
  // Without AutoRepaint a new value draws only its own segment.
  line.SetAutoRepaint(false);
  line.AddPoint(12, 5);
  EXPECT_EQ(line.LinePoints(), (Path{{line.CalcXPos(3), line.CalcYPos(3)}, {line.CalcXPos(4), line.CalcYPos(4)}}));
}

}  // namespace
