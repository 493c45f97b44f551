#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>
#include "chart_test_support.h"

namespace {

using namespace charttest;

template <class Series>
Series& AddSeries(TChart& chart, std::initializer_list<double> values) {
  auto& s = chart.AddSeries(std::make_unique<Series>());
  for (double v : values) s.Add(v, "", clAutomatic);
  return s;
}

TEST(BarSeries, BarWidthAndCategoryMargins) {
  const struct {
    int values, plotWidth, percent;
    bool sideMargins;
    int series, custom;  // series side by side, custom bar width
    int barWidth, margin;
  } cases[] = {
      {5, 300, 70, true, 1, 0, 36, 36},   // 300 div 6 = 50, 35 -> 36 (odd widths grow by one)
      {5, 300, 70, false, 1, 0, 42, 21},  // 300 div 5 = 60 -> 42; half a bar each side
      {5, 300, 70, true, 2, 0, 18, 36},   // side by side: 35 div 2 = 17 -> 18
      {5, 300, 100, true, 1, 0, 50, 50},
      {4, 300, 70, true, 1, 0, 42, 42},   // 300 div 5 = 60 -> 42
      {5, 300, 70, true, 1, 10, 10, 10},  // a custom width wins
      {0, 300, 70, true, 1, 0, 0, 0},     // no values, no bar
      {1, 300, 1, true, 1, 0, 2, 2},      // round(1.5) = 2 (ties to even)
  };
  for (const auto& c : cases) {
    TChart chart;
    std::vector<TBarSeries*> bars;
    for (int k = 0; k < c.series; ++k) {
      auto& s = chart.AddSeries(std::make_unique<TBarSeries>());
      for (int i = 0; i < c.values; ++i) s.Add(10 + i);
      s.SetBarWidthPercent(c.percent);
      s.SetCustomBarWidth(c.custom);
      bars.push_back(&s);
    }
    bars[0]->SetSideMargins(c.sideMargins);
    chart.SetPlotRect(TRect{0, 0, c.plotWidth, 200});  // as the pipeline leaves it before series margins
    chart.Recalculate();
    int left = -1, right = -1;
    bars[0]->AskHorizMargins(left, right);
    EXPECT_EQ(bars[0]->BarWidth(), c.barWidth) << c.values << " values, " << c.series << " series";
    EXPECT_EQ((Ints{left, right}), (Ints{c.margin, c.margin}));
    for (TBarSeries* s : bars) EXPECT_EQ(s->SideMargins(), c.sideMargins);
  }
}

TEST(BarSeries, SideBySideAndOffset) {
  Plain2DChart chart;
  auto& first = AddSeries<TBarSeries>(chart, {5, 8, 3});
  auto& second = AddSeries<TBarSeries>(chart, {4, 2, 7});
  Draw(chart);
  ASSERT_GT(first.BarWidth(), 0);
  EXPECT_EQ(first.BarWidth(), second.BarWidth());
  EXPECT_EQ((Ints{first.NumBars(), first.BarOrder(), second.BarOrder()}), (Ints{2, 1, 2}));
  // Bars 32 wide; the categories lie at 88, 206 and 324: the first series'
  // bars end there, the second's start there.
  EXPECT_EQ((Ints{first.BarWidth(), chart.BottomAxis().CalcPosValue(1)}), (Ints{32, 206}));
  EXPECT_EQ((Ints{first.CalcXPos(0), first.CalcXPos(1), first.CalcXPos(2)}), (Ints{56, 174, 292}));
  EXPECT_EQ((Ints{second.CalcXPos(0), second.CalcXPos(1), second.CalcXPos(2)}), (Ints{88, 206, 324}));
  // A hidden second series leaves the first one alone, centred on the
  // category; an offset of 50 % moves it half a bar right.
  second.SetActive(false);
  EXPECT_EQ((Ints{first.NumBars(), first.CalcXPos(1)}), (Ints{1, 190}));
  first.SetOffsetPercent(50);
  EXPECT_EQ(first.CalcXPos(1), 206);
}

TEST(BarSeries, StackedBarsStartWhereTheOneBelowEnds) {
  Plain2DChart chart;
  auto& lower = AddSeries<TBarSeries>(chart, {5, 8, 3, 0});
  auto& upper = AddSeries<TBarSeries>(chart, {4, 2, 7, 0});
  lower.SetMultiBar(mbStacked);
  EXPECT_EQ(upper.MultiBar(), mbStacked);  // copied to the same kind
  EXPECT_DOUBLE_EQ(upper.MaxYValue(), 10);
  Draw(chart);
  EXPECT_EQ(lower.NumBars(), 1);
  EXPECT_EQ(lower.ZOrder(), upper.ZOrder());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(upper.GetOriginPos(i), lower.CalcYPos(i)) << i;
    EXPECT_EQ(lower.CalcXPos(i), upper.CalcXPos(i)) << i;
  }
  // To 100 %: every stack ends at the top; a zero total sits on the zero line.
  upper.SetMultiBar(mbStacked100);
  EXPECT_EQ(lower.MultiBar(), mbStacked100);
  EXPECT_DOUBLE_EQ(lower.MaxYValue(), 100);
  Draw(chart);
  const int top = chart.LeftAxis().CalcPosValue(100);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(upper.CalcYPos(i), top) << i;
  const int zero = chart.LeftAxis().CalcPosValue(0);
  EXPECT_EQ((Ints{upper.CalcYPos(3), upper.GetOriginPos(3)}), (Ints{zero, zero}));
}

TEST(BarSeries, NegativeValueHangsBelowTheOriginWithItsMarkBelow) {
  Plain2DChart chart;
  auto& bars = AddSeries<TBarSeries>(chart, {10, -5});
  bars.SetSeriesColor(clRed);
  const platform::Bitmap picture = Draw(chart);
  const int origin = bars.GetOriginPos(1);
  const int end = bars.CalcYPos(1);
  EXPECT_GT(end, origin);  // y grows downwards
  EXPECT_LT(bars.CalcYPos(0), origin);
  const int x = bars.CalcXPos(1) + bars.BarWidth() / 2;
  EXPECT_EQ(picture.Pixel(x, (origin + end) / 2), clRed);
  ASSERT_GT(bars.Marks().Positions().size(), 1u);
  const TSeriesMarkPosition& up = bars.Marks().Positions()[0];
  const TSeriesMarkPosition& down = bars.Marks().Positions()[1];
  // Above the positive bar's top, arrow 20 long; below the hanging bar's end.
  EXPECT_EQ((Ints{bars.CalcYPos(0), up.ArrowTo.Y, up.LeftTop.Y + up.Height}), (Ints{46, 26, 27}));
  EXPECT_EQ((Ints{end, down.LeftTop.Y}), (Ints{185, 206}));
  // Room for marks where bars grow: line height 13, arrow 20, frame 2, one
  // pixel; here above the top and below the bottom.
  int top = 0, bottom = 0;
  bars.AskVertMargins(top, bottom);
  EXPECT_EQ((Ints{top, bottom}), (Ints{36, 36}));
  bars.Delete(1);  // no negative bar: no room below
  bars.AskVertMargins(top, bottom);
  EXPECT_EQ(bottom, 0);
  bars.Marks().SetVisible(false);
  bars.AskVertMargins(top, bottom);
  EXPECT_EQ(top, 0);
}

TEST(BarSeries, ThinZeroAndMissingBars) {
  // A bar narrower than its pen is drawn as an outline in the bar colour.
  {
    Plain2DChart chart;
    auto& bars = AddSeries<TBarSeries>(chart, {10, 20, 30});
    bars.SetSeriesColor(clBlue);
    bars.SetCustomBarWidth(2);
    bars.BarPen().SetWidth(3);
    bars.Marks().SetVisible(false);
    const platform::Bitmap picture = Draw(chart);
    const int x = bars.CalcXPos(1);
    // (the bar's foot lies on the black axis line)
    const TRect bar{x, bars.CalcYPos(1), x + 2, bars.GetOriginPos(1) - 2};
    EXPECT_EQ(CountColour(picture, clBlack, bar), 0);
    EXPECT_EQ(picture.Pixel(x + 1, (bar.Top + bar.Bottom) / 2), clBlue);
  }
  // A zero-height bar is a line in the bar colour; a clNone point a gap.
  {
    Plain2DChart chart;
    auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
    for (const auto& [value, label, colour] : {std::tuple<double, const char*, TColor>{10, "a", clRed}, {0, "b", clLime},
                                               {-10, "c", clRed}, {20, "d", clNone}, {-20, "e", clRed}})
      bars.Add(value, label, colour);
    const platform::Bitmap picture = Draw(chart);
    const int zero = chart.LeftAxis().CalcPosValue(0);
    const int x = bars.CalcXPos(1);
    EXPECT_EQ(picture.Pixel(x + 2, zero), clLime);
    const int gap = bars.CalcXPos(3);
    EXPECT_EQ(CountColour(picture, clRed, TRect{gap + 1, 0, gap + bars.BarWidth() - 1, 250}), 0);
    // No mark for the missing point either.
    const auto& positions = bars.Marks().Positions();
    ASSERT_GT(positions.size(), 2u);
    EXPECT_TRUE(positions.size() <= 3 || positions[3].Width == 0);
  }
}

// Red, its darker sides and the white-to-red gradient: red above equal
// green and blue (white, black, grays and the marks' yellow are not).
bool RedFamily(TColor c) { return GetRValue(c) > GetGValue(c) && GetGValue(c) == GetBValue(c); }

// The box a bar may cover on the screen: its rectangle, in 3D the box of
// its projected front and back corners.
TRect BarBox(TChart& chart, TCustomBarSeries& bars, int i, bool horizontal) {
  TRect r;
  if (horizontal) {
    r = TRect{std::min(bars.GetOriginPos(i), bars.CalcXPos(i)), bars.CalcYPos(i),
              std::max(bars.GetOriginPos(i), bars.CalcXPos(i)), bars.CalcYPos(i) + bars.BarWidth()};
  } else {
    r = TRect{bars.CalcXPos(i), std::min(bars.GetOriginPos(i), bars.CalcYPos(i)), bars.CalcXPos(i) + bars.BarWidth(),
              std::max(bars.GetOriginPos(i), bars.CalcYPos(i))};
  }
  if (!chart.View3D()) return r;
  TRect box{1 << 20, 1 << 20, -(1 << 20), -(1 << 20)};
  for (int x : {r.Left, r.Right})
    for (int y : {r.Top, r.Bottom})
      for (int z : {bars.StartZ(), bars.EndZ()}) {
        const TPoint p = chart.Canvas().ProjectPoint(x, y, z);
        box = TRect{std::min(box.Left, p.X), std::min(box.Top, p.Y), std::max(box.Right, p.X), std::max(box.Bottom, p.Y)};
      }
  return box;
}

// Pixels of the kind outside all the boxes (edges included).
template <class Is>
int Outside(const platform::Bitmap& b, Is is, const std::vector<TRect>& boxes) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      n += is(b.Pixel(x, y)) && std::none_of(boxes.begin(), boxes.end(), [&](const TRect& r) {
             return x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom;
           });
  return n;
}

TRect Grown(const TRect& r) { return {r.Left - 1, r.Top - 1, r.Right + 1, r.Bottom + 1}; }

// Red pixels of the row (or column) at distance d along the value axis.
int RedAcross(const platform::Bitmap& b, const TRect& box, bool horizontal, int pos) {
  int n = 0;
  for (int k = horizontal ? box.Top : box.Left; k <= (horizontal ? box.Bottom : box.Right); ++k)
    n += RedFamily(horizontal ? b.Pixel(pos, k) : b.Pixel(k, pos));
  return n;
}

TEST(BarSeries, EveryStyleStaysInItsBarAndReachesItsEnds) {
  const TBarStyle styles[] = {bsRectangle, bsPyramid, bsInvPyramid, bsCilinder, bsEllipse, bsArrow, bsRectGradient};
  for (bool horizontal : {false, true}) {
    for (bool view3D : {false, true}) {
      for (TBarStyle style : styles) {
        SCOPED_TRACE(testing::Message() << (horizontal ? "horizontal " : "vertical ") << (view3D ? "3D " : "2D ")
                                        << style);
        Plain2DChart chart;
        chart.SetView3D(view3D);
        TCustomBarSeries& bars = chart.AddSeries(
            horizontal ? std::unique_ptr<TCustomBarSeries>(std::make_unique<THorizBarSeries>())
                       : std::make_unique<TBarSeries>());
        bars.Add(30, "a", clRed);
        bars.Add(-10, "b", clRed);
        bars.Add(20, "c", clRed);
        bars.SetBarStyle(style);
        const platform::Bitmap picture = Draw(chart);
        TRect boxes[3];
        for (int i = 0; i < 3; ++i) boxes[i] = BarBox(chart, bars, i, horizontal);
        // No red outside the bars' boxes (one pixel of slack for outlines).
        EXPECT_EQ(Outside(picture, RedFamily, {Grown(boxes[0]), Grown(boxes[1]), Grown(boxes[2])}), 0);
        for (int i = 0; i < 3; ++i) {
          const TRect& r = boxes[i];
          EXPECT_GT(CountColour(picture, clRed, TRect{r.Left, r.Top, r.Right + 1, r.Bottom + 1}), 10) << i;
          if (view3D) continue;
          // Flat, every shape reaches both ends of its value extent.
          const int lo = horizontal ? r.Left : r.Top, hi = horizontal ? r.Right : r.Bottom;
          const int inset = std::max(3, (hi - lo) / 10);  // room for an apex's outline
          EXPECT_GT(RedAcross(picture, r, horizontal, lo + inset), 0) << i;
          EXPECT_GT(RedAcross(picture, r, horizontal, hi - inset), 0) << i;
        }
        if (view3D || (style != bsPyramid && style != bsInvPyramid)) continue;
        // Pyramids narrow towards their apex: the positive bar's far end
        // (top, or right) for a pyramid, its base for an inverted one.
        const TRect& r = boxes[0];
        const int lo = horizontal ? r.Left : r.Top, hi = horizontal ? r.Right : r.Bottom;
        const int nearLo = RedAcross(picture, r, horizontal, lo + (hi - lo) / 4);
        const int nearHi = RedAcross(picture, r, horizontal, hi - (hi - lo) / 4);
        const bool apexAtLo = (style == bsPyramid) != horizontal;
        EXPECT_LT(apexAtLo ? nearLo : nearHi, apexAtLo ? nearHi : nearLo);
        EXPECT_NEAR(nearLo + nearHi, horizontal ? r.Height() : r.Width(), 3);  // straight sides
      }
    }
  }
}

TEST(HorizBarSeries, BarsGrowFromTheLeftAxisWithMarksBeyondTheirEnds) {
  Plain2DChart chart;
  auto& bars = chart.AddSeries(std::make_unique<THorizBarSeries>());
  bars.Add(30, "a", clRed);
  bars.Add(-10, "b", clRed);
  Draw(chart);
  const int origin = bars.GetOriginPos(0);
  EXPECT_EQ(origin, chart.BottomAxis().CalcPosValue(0));
  EXPECT_GT(bars.CalcXPos(0), origin);
  EXPECT_LT(bars.CalcXPos(1), origin);
  // The first series lies lowest: its top edge is half a bar above the category.
  EXPECT_EQ((Ints{chart.LeftAxis().CalcPosValue(0), bars.BarWidth(), bars.CalcYPos(0)}), (Ints{171, 50, 146}));
  const auto& positions = bars.Marks().Positions();
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ((Ints{bars.CalcXPos(0), positions[0].ArrowTo.X}), (Ints{359, 379}));  // arrow 20 long
  EXPECT_GT(positions[0].LeftTop.X, bars.CalcXPos(0));
  EXPECT_LT(positions[1].LeftTop.X + positions[1].Width, bars.CalcXPos(1));
  int left = 0, right = 0;
  bars.AskHorizMargins(left, right);
  EXPECT_GT(left, bars.Marks().ArrowLength());
  EXPECT_GT(right, bars.Marks().ArrowLength());
}

TEST(BarSeries, WildValuesStayInsideThePlot) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> cases[] = {
      {1e308, -1e308, 5},
      {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()},
      {1e-300, 2e-300},
      {2147483647.0, -2147483648.0},
      {nan, 1},
      {inf, -inf, 1},
  };
  for (const auto& values : cases) {
    for (bool view3D : {false, true}) {
      for (TMultiBar multi : {mbSide, mbStacked, mbStacked100}) {
        Plain2DChart chart;
        chart.SetView3D(view3D);
        chart.Legend().SetVisible(true);
        auto& a = chart.AddSeries(std::make_unique<TBarSeries>());
        auto& b = chart.AddSeries(std::make_unique<THorizBarSeries>());
        for (double v : values) {
          a.Add(v, "x");
          b.Add(v, "y");
        }
        a.SetMultiBar(multi);
        a.Marks().SetStyle(smsPercentTotal);
        const platform::Bitmap picture = Draw(chart);
        // The plot stays inside the chart, and no bar leaves it: bar
        // colours appear only inside the plot (and as legend symbols).
        const TRect plot = chart.PlotRect();
        EXPECT_TRUE(plot.Left >= 0 && plot.Top >= 0 && plot.Right <= 400 && plot.Bottom <= 250);
        if (view3D) continue;
        const TRect legend = chart.Legend().RectLegend();
        const auto barColour = [](TColor c) { return c == clRed || c == clGreen; };
        const TRect inLegend{legend.Left, legend.Top, legend.Right - 1, legend.Bottom - 1};
        EXPECT_EQ(Outside(picture, barColour, {Grown(plot), inLegend}), 0) << values[0] << " " << multi;
      }
    }
  }
}

}  // namespace
