#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "chart_test_support.h"

namespace {

using namespace charttest;

// Records DrawValue calls; optionally shares the first series' depth slot
// (as side-by-side bars do) and asks to be drawn value by value.
class RecordingSeries : public TChartSeries {
 public:
  RecordingSeries(std::string tag, std::vector<std::string>& log, bool shareSlot)
      : tag_(std::move(tag)), log_(log), share_slot_(shareSlot) {
    x_values_.SetOrder(loNone);
  }
  void DrawValue(int index) override { log_.push_back(tag_ + std::to_string(index)); }
  bool DrawValueByValue() const override { return share_slot_; }
  bool UseAxis() const override { return false; }
  void CalcZOrder() override {
    TChartSeries* first = ParentChart()->Series(0);
    if (share_slot_ && first != this) {
      SetZOrder(first->ZOrder());
    } else {
      TChartSeries::CalcZOrder();
    }
  }
 private:
  std::string tag_;
  std::vector<std::string>& log_;
  bool share_slot_;
};

TEST(ChartPipeline, PlotRectStartsInsideTheMargins) {
  struct Case { int width, height, left, top, right, bottom, border; TRect expected; };
  const Case cases[] = {
      {400, 250, 3, 10, 3, 10, 0, {12, 25, 388, 225}},
      {400, 250, 3, 4, 3, 4, 0, {12, 10, 388, 240}},
      {400, 250, 3, 10, 3, 10, 5, {17, 30, 383, 220}},
      {201, 101, 5, 5, 5, 5, 0, {10, 5, 191, 96}},  // MulDiv rounds 10.05 and 5.05
  };
  for (const Case& c : cases) {
    ProbeChart chart;
    chart.SetWidth(c.width);
    chart.SetHeight(c.height);
    SetMargins(chart, c.left, c.top, c.right, c.bottom);
    chart.SetBorderWidth(c.border);
    chart.SetView3D(false);
    Draw(chart);
    EXPECT_EQ(chart.DrawBounds(), (TRect{0, 0, c.width, c.height}));
    EXPECT_EQ(chart.beforeFrontPlane, c.expected) << c.width << "x" << c.height << " border " << c.border;
  }
}

TEST(ChartPipeline, DrawIntoAPartOfTheTarget) {
  // Buffered drawing works on a bitmap of the rectangle's size: the bounds
  // start at 0, 0 and the picture lands at the rectangle. A new size gets a
  // new buffer; without buffering the chart draws straight onto the target.
  TChart chart;
  chart.SetView3D(false);
  chart.SetColor(clRed);
  chart.SetBevelOuter(bvNone);
  for (bool buffered : {true, false}) {
    chart.Canvas().SetBufferedDisplay(buffered);
    for (const TRect& r : {TRect{50, 40, 250, 140}, TRect{10, 10, 300, 200}}) {
      platform::Bitmap bitmap(300, 200);
      platform::Surface surface(bitmap);
      chart.Draw(surface, r);
      EXPECT_EQ(chart.DrawBounds(), buffered ? (TRect{0, 0, r.Width(), r.Height()}) : r);
      ExpectPixels(bitmap, {{{r.Left, r.Top}, clRed}, {{r.Right - 1, r.Bottom - 1}, clRed}, {{r.Left - 1, r.Top}, clWhite}});
    }
  }
}

TEST(ChartPipeline, RecalculateKeepsThePlotRectUsable) {
  ProbeChart chart;
  chart.SetWidth(100);
  chart.SetHeight(80);
  // Margins that cross over: left beyond right, top (above the bounds:
  // clamped) beyond bottom.
  SetMargins(chart, 70, -10, 60, 50);
  chart.SetView3D(false);
  chart.SetAxisVisible(false);
  Draw(chart);
  EXPECT_EQ(chart.beforeFrontPlane, (TRect{70, 0, 71, 40}));
  EXPECT_EQ((Ints{chart.PlotWidth(), chart.PlotHeight(), chart.PlotXCenter(), chart.PlotYCenter()}),
            (Ints{1, 40, 70, 20}));
}

// 300 × 200 without margins, axes or legend: PlotWidth 300.
void Bare(ProbeChart& chart) {
  chart.SetWidth(300);
  chart.SetHeight(200);
  SetMargins(chart, 0, 0, 0, 0);
  chart.SetAxisVisible(false);
  chart.Legend().SetVisible(false);
}

TEST(ChartPipeline, DepthFollowsChart3DPercent) {
  const struct {
    int percent;
    bool orthogonal;
    int series;  // active series, each in a slot of its own
    int seriesWidth, width3D;
  } cases[] = {
      {50, false, 1, 30, 30},  // 300 × 0.05 × 2
      {50, true, 1, 15, 15},
      {15, true, 2, 4, 8},     // 4.5 rounds to even
      {15, false, 3, 9, 27},
      {50, false, 0, 30, 30},  // no series: one slot all the same
  };
  for (const auto& c : cases) {
    ProbeChart chart;
    Bare(chart);
    chart.SetChart3DPercent(c.percent);
    chart.View3DOptions().SetOrthogonal(c.orthogonal);
    for (int i = 0; i < c.series; ++i) chart.AddSeries(std::make_unique<TLineSeries>());
    Draw(chart);
    EXPECT_EQ(chart.seriesWidth3D, c.seriesWidth) << c.percent << " " << c.orthogonal << " " << c.series;
    EXPECT_EQ(chart.Width3D(), c.width3D) << c.percent << " " << c.orthogonal << " " << c.series;
    EXPECT_EQ(chart.Height3D(), c.width3D);
  }
  // An orthogonal depth (15 pixels) takes room from the plot rectangle, the
  // back wall's size only with 3D walls; a rotated view keeps the rectangle.
  ProbeChart chart;
  Bare(chart);
  chart.SetChart3DPercent(50);
  chart.BackWall().SetSize(4);
  Draw(chart);
  EXPECT_EQ(chart.atWalls, (TRect{0, 19, 281, 200}));
  chart.SetView3DWalls(false);
  Draw(chart);
  EXPECT_EQ(chart.atWalls, (TRect{0, 15, 285, 200}));
  chart.View3DOptions().SetOrthogonal(false);
  Draw(chart);
  EXPECT_EQ(chart.atWalls, (TRect{0, 0, 300, 200}));
}

TEST(ChartPipeline, FirstSeriesLiesFurthestBackAndStackedAreasShareADepth) {
  TChart chart;
  chart.SetAxisVisible(false);
  auto& a = chart.AddSeries(std::make_unique<TLineSeries>());
  auto& b = chart.AddSeries(std::make_unique<TLineSeries>());
  chart.AddSeries(std::make_unique<TLineSeries>()).SetActive(false);
  auto& c = chart.AddSeries(std::make_unique<TLineSeries>());
  Draw(chart);
  EXPECT_EQ((Ints{a.ZOrder(), b.ZOrder(), c.ZOrder()}), (Ints{2, 1, 0}));
  // Three slots of 5 pixels: the first series in the last, its marks in its middle.
  EXPECT_EQ((Ints{chart.SeriesWidth3D(), a.StartZ(), a.EndZ(), a.Marks().ZPosition(), chart.Width3D()}),
            (Ints{5, 10, 15, 12, 15}));
  chart.SetView3D(false);
  Draw(chart);
  EXPECT_EQ((Ints{a.StartZ(), chart.Width3D()}), (Ints{0, 0}));
  TChart areas;
  areas.SetAxisVisible(false);
  auto& lower = static_cast<TAreaSeries&>(areas.AddSeries(std::make_unique<TAreaSeries>()));
  auto& upper = static_cast<TAreaSeries&>(areas.AddSeries(std::make_unique<TAreaSeries>()));
  auto& line = areas.AddSeries(std::make_unique<TLineSeries>());
  lower.SetMultiArea(maStacked);
  EXPECT_EQ(upper.MultiArea(), maStacked);  // copied to the other areas
  Draw(areas);
  EXPECT_EQ((Ints{lower.ZOrder(), upper.ZOrder(), line.ZOrder()}), (Ints{1, 1, 0}));
}

TEST(ChartPipeline, SameDepthGroupsAreDrawnValueByValue) {
  std::vector<std::string> log;
  TChart chart;
  chart.Legend().SetVisible(false);
  auto& a = chart.AddSeries(std::make_unique<RecordingSeries>("a", log, true));
  auto& b = chart.AddSeries(std::make_unique<RecordingSeries>("b", log, true));
  auto& alone = chart.AddSeries(std::make_unique<RecordingSeries>("c", log, false));
  for (double v : {1.0, 2.0, 3.0}) a.Add(v);
  for (double v : {1.0, 2.0}) b.Add(v);
  for (double v : {1.0, 2.0}) alone.Add(v);
  Draw(chart);
  EXPECT_EQ(a.ZOrder(), b.ZOrder());
  EXPECT_EQ(log, (std::vector<std::string>{"a0", "b0", "a1", "b1", "a2", "c0", "c1"}));
  log.clear();
  chart.SetView3D(false);  // flat: series after series
  Draw(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"a0", "a1", "a2", "b0", "b1", "c0", "c1"}));
}

TEST(ChartPipeline, WhichAxesAreDrawn) {
  TChart chart;
  auto& line = chart.AddSeries(std::make_unique<TLineSeries>());
  EXPECT_TRUE(chart.IsAxisDrawn(chart.BottomAxis()));
  EXPECT_TRUE(chart.IsAxisDrawn(chart.LeftAxis()));
  EXPECT_FALSE(chart.IsAxisDrawn(chart.TopAxis()));
  EXPECT_FALSE(chart.IsAxisDrawn(chart.RightAxis()));
  line.SetHorizAxis(aTopAxis);
  EXPECT_TRUE(chart.IsAxisDrawn(chart.TopAxis()));
  EXPECT_FALSE(chart.IsAxisDrawn(chart.BottomAxis()));
  chart.DepthAxis().SetVisible(true);
  EXPECT_TRUE(chart.IsAxisDrawn(chart.DepthAxis()));
  chart.SetView3D(false);  // depth only in 3D
  EXPECT_FALSE(chart.IsAxisDrawn(chart.DepthAxis()));
  chart.SetAxisVisible(false);
  EXPECT_FALSE(chart.IsAxisDrawn(chart.TopAxis()));
}

// 100 × 80, flat, white, no axes.
void Small(TChart& chart) {
  chart.SetWidth(100);
  chart.SetHeight(80);
  chart.SetView3D(false);
  chart.SetAxisVisible(false);
  chart.SetColor(clWhite);
}

TEST(ChartPipeline, BackWallAndBevelsIn2D) {
  TChart chart;
  Small(chart);
  chart.Legend().SetVisible(false);
  chart.SetBackColor(clSilver);
  chart.SetBevelOuter(bvRaised);
  chart.SetBevelInner(bvLowered);
  const platform::Bitmap bmp = Draw(chart);
  const TRect r = chart.PlotRect();
  ASSERT_EQ(r, (TRect{3, 3, 97, 77}));
  // The back wall covers L..R (one more than the plot) and T..B-1, outlined
  // with its black pen and filled silver.
  ExpectPixels(bmp, {{{r.Left, r.Top}, clBlack}, {{r.Right, r.Top + 5}, clBlack}, {{r.Left + 5, r.Bottom - 1}, clBlack},
                     {{r.Left + 5, r.Top + 5}, clSilver}, {{r.Right + 1, r.Top + 5}, clWhite},
                     {{r.Left + 5, r.Bottom}, clWhite}});
  // Raised outer bevel: light top-left, dark bottom-right; the lowered inner
  // one inside it the other way round.
  const TColor light = ColorToRGB(clBtnHighlight), dark = ColorToRGB(clBtnShadow);
  ExpectPixels(bmp, {{{0, 40}, light}, {{99, 40}, dark}, {{1, 40}, dark}, {{98, 40}, light}});
  // A back wall colour under a clear brush fills nothing.
  TChart clear;
  Small(clear);
  clear.BackWall().SetColor(clRed);
  EXPECT_EQ(Draw(clear).Pixel(clear.PlotRect().Left + 5, clear.PlotRect().Top + 5), clWhite);
}

TEST(ChartPipeline, PanelGradientRunsFromStartToEnd) {
  TChart chart;
  Small(chart);
  chart.SetBevelOuter(bvNone);
  chart.SetMarginTop(40);  // keep the walls away from the edges
  chart.SetMarginLeft(40);
  chart.Gradient().SetVisible(true);
  chart.Gradient().SetStartColor(clRed);
  chart.Gradient().SetEndColor(clBlue);
  chart.Gradient().SetDirection(gdLeftRight);
  ExpectPixels(Draw(chart), {{{0, 40}, clRed}, {{99, 40}, clBlue}});
}

TEST(ChartPipeline, BackImage) {
  auto image = std::make_shared<platform::Bitmap>(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) image->SetPixel(x, y, clLime);
  const struct {
    TBackImageMode mode;
    bool inside;
    TPoint lime;   // covered by the picture
    TPoint white;  // not covered
  } cases[] = {
      {pbmStretch, false, {1, 1}, {-1, -1}},
      {pbmCenter, false, {50, 40}, {1, 1}},
      {pbmTile, false, {97, 77}, {-1, -1}},
      {pbmStretch, true, {50, 40}, {1, 1}},  // inside: only the plotting area
  };
  for (const auto& c : cases) {
    TChart chart;
    Small(chart);
    chart.SetBevelOuter(bvNone);
    chart.Frame().SetVisible(false);
    chart.SetBackImage(image);
    chart.SetBackImageMode(c.mode);
    chart.SetBackImageInside(c.inside);
    const platform::Bitmap bmp = Draw(chart);
    EXPECT_EQ(bmp.Pixel(c.lime.X, c.lime.Y), clLime) << c.mode << c.inside;
    if (c.white.X >= 0) {
      EXPECT_EQ(bmp.Pixel(c.white.X, c.white.Y), clWhite) << c.mode << c.inside;
    }
  }
}

TEST(ChartPipeline, WallsIn3D) {
  TChart chart;
  chart.SetWidth(300);
  chart.SetHeight(200);
  chart.SetAxisVisible(false);
  chart.Legend().SetVisible(false);
  chart.SetColor(clWhite);
  chart.SetChart3DPercent(50);  // orthogonal: 5 % of the plot width deep
  chart.SetBackColor(clSilver);
  chart.LeftWall().SetColor(clAqua);
  chart.BottomWall().SetColor(clRed);
  platform::Bitmap bmp = Draw(chart);
  const TRect r = chart.PlotRect();
  const int d = chart.Width3D();
  ASSERT_EQ(d, 14);  // 5 % of the plot's 282 pixels: 14.1
  // Orthogonal projection moves depth z by +z right and z up: the back
  // wall, the left wall and the floor.
  const TPoint back{chart.PlotXCenter() + d, chart.PlotYCenter() - d}, left{r.Left + d / 2, chart.PlotYCenter()};
  ExpectPixels(bmp, {{back, clSilver}, {left, clAqua}, {{chart.PlotXCenter() + d / 2, r.Bottom - d / 2}, clRed}});
  // Without 3D walls only the back plane is left.
  chart.SetView3DWalls(false);
  ExpectPixels(Draw(chart), {{back, clSilver}, {left, clWhite}});
  // Thick walls are cubes: the bottom wall's front face lies below the plot.
  chart.SetView3DWalls(true);
  chart.BottomWall().SetSize(6);
  EXPECT_EQ(Draw(chart).Pixel(chart.PlotXCenter(), chart.PlotRect().Bottom + 3), clRed);
}

}  // namespace
