#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "chart_test_support.h"

namespace {

using namespace charttest;

// 400 × 250, margins 3/10/3/10, no bevels, 2D, no axes: PlotRect starts at
// (12, 25, 388, 225).
struct PlainChart : ProbeChart {
  PlainChart() {
    SetWidth(400);
    SetHeight(250);
    SetMarginTop(10);
    SetMarginBottom(10);
    SetBevelOuter(bvNone);
    SetView3D(false);
    SetAxisVisible(false);
    SetColor(clWhite);
    Legend().SetColorWidth(25);
    Legend().SetShadowSize(2);
  }
};

// Area series: their legend symbol is the filled rectangle.
TChartSeries& AddGermanGrades(TChart& chart) {
  auto& s = chart.AddSeries(std::make_unique<TAreaSeries>());
  s.SetColorEachPoint(true);
  return AddGrades(s);
}

// Six pixels per character, 13 pixels per line: layouts without fonts.
int FixedWidth(const std::string& text) { return 6 * static_cast<int>(text.size()); }

// The legend's layout over the plot (12, 25, 388, 225) of a plain chart.
TLegendLayout LayoutOver(ProbeChart& chart) {
  chart.Legend().SetVisible(false);
  Draw(chart);  // sets the bounds
  chart.SetPlotRect(TRect{12, 25, 388, 225});
  chart.Recalculate();
  return chart.Legend().CalcLayout(13, FixedWidth);
}

TEST(Legend, ValueTextsByTextStyle) {
  struct Case {
    TLegendTextStyle style;
    std::vector<std::string> texts;
    std::vector<std::pair<double, std::string>> points = {};  // none: the German grades
  };
  const Case cases[] = {
      {ltsLeftPercent,
       {"37.02 % sehr gut", "32.04 % gut", "17.68 % befriedigend", "9.94 % ausreichend", "3.31 % mangelhaft"}},
      {ltsLeftValue, {"67 sehr gut", "58 gut", "32 befriedigend", "18 ausreichend", "6 mangelhaft"}},
      {ltsRightValue, {"sehr gut 67", "gut 58", "befriedigend 32", "ausreichend 18", "mangelhaft 6"}},
      {ltsRightPercent,
       {"sehr gut 37.02 %", "gut 32.04 %", "befriedigend 17.68 %", "ausreichend 9.94 %", "mangelhaft 3.31 %"}},
      {ltsPlain, {"sehr gut", "gut", "befriedigend", "ausreichend", "mangelhaft"}},
      // line breaks become blanks; an empty label is joined by one blank even so
      {ltsLeftValue, {"1,234.5 two  lines", "0 "}, {{1234.5, "two\r\nlines"}, {0, ""}}},
      {ltsLeftPercent, {"100 % a"}, {{0, "a"}}},  // a zero total counts as 100 %
  };
  for (const Case& c : cases) {
    TChart chart;
    TChartSeries& s = c.points.empty() ? AddGermanGrades(chart) : chart.AddSeries(std::make_unique<TLineSeries>());
    for (const auto& [value, label] : c.points) s.Add(value, label);
    chart.Legend().SetTextStyle(c.style);
    std::vector<std::string> texts;
    for (int i = 0; i < s.Count(); ++i) texts.push_back(chart.Legend().ValueText(s, i));
    EXPECT_EQ(texts, c.texts) << "style " << c.style;
  }
}

TEST(Legend, ItemsByStyle) {
  TChart chart;
  auto& a = chart.AddSeries(std::make_unique<TLineSeries>());
  auto& b = chart.AddSeries(std::make_unique<TLineSeries>());
  auto& c = chart.AddSeries(std::make_unique<TLineSeries>());
  a.Add(1, "x");
  a.Add(2, "y");
  a.SetTitle("First");
  b.SetName("Series2");
  chart.Legend().SetTextStyle(ltsPlain);
  auto texts = [&] { return chart.Legend().CalcLayout(13, FixedWidth).texts; };
  // Three active series: the automatic style lists series by title, name or index.
  EXPECT_EQ(chart.Legend().ResolvedStyle(), lsSeries);
  EXPECT_EQ(texts(), (std::vector<std::string>{"First", "Series2", "Series 2"}));
  c.SetShowInLegend(false);
  EXPECT_EQ(texts(), (std::vector<std::string>{"First", "Series2"}));
  b.SetActive(false);
  c.SetActive(false);
  EXPECT_EQ(chart.Legend().ResolvedStyle(), lsValues);
  EXPECT_EQ(texts(), (std::vector<std::string>{"x", "y"}));
  chart.Legend().SetFirstValue(5);
  EXPECT_TRUE(texts().empty());
  chart.Legend().SetFirstValue(1);
  chart.Legend().SetInverted(true);
  EXPECT_EQ(texts(), (std::vector<std::string>{"y"}));
  chart.Legend().SetFirstValue(0);
  EXPECT_EQ(texts(), (std::vector<std::string>{"y", "x"}));
  chart.Legend().SetInverted(false);
  chart.Legend().SetLegendStyle(lsLastValues);
  b.SetActive(true);
  b.Add(7, "z");
  EXPECT_EQ(texts(), (std::vector<std::string>{"y", "z"}));
  chart.OnGetLegendText = [](TCustomChart&, TLegendStyle, int index, std::string& text) {
    text += "#" + std::to_string(index);
  };
  EXPECT_EQ(texts(), (std::vector<std::string>{"y#0", "z#1"}));
}

TEST(Legend, LayoutForFiveValues) {
  struct Case {
    TLegendTextStyle style;
    TLegendAlignment alignment;
    TRect rect;
    int textX, symbolWidth, rows, columns;
  };
  // Plot (12, 25, 388, 225), bounds 400 × 250, frame 1, shadow 2, colour width 25 %.
  const Case cases[] = {
      // widest "17.68 % befriedigend": 120 px
      {ltsLeftPercent, laRight, {222, 25, 384, 92}, 262, 32, 5, -1},
      // widest "32 befriedigend": 90 px
      {ltsLeftValue, laRight, {259, 25, 384, 92}, 292, 25, 5, -1},
      {ltsLeftValue, laLeft, {14, 25, 139, 92}, 47, 25, 5, -1},
      // items 94 wide with 24-pixel symbols: two columns fit; box 256 wide,
      // centred and moved right by 10 % of the spare width
      {ltsLeftValue, laTop, {86, 27, 342, 42}, -1, -1, -1, 2},
  };
  for (const Case& c : cases) {
    PlainChart chart;
    AddGermanGrades(chart);
    chart.Legend().SetTextStyle(c.style);
    chart.Legend().SetAlignment(c.alignment);
    const TLegendLayout l = LayoutOver(chart);
    EXPECT_EQ(l.texts.size(), 5u);
    EXPECT_EQ(l.rect, c.rect) << c.style << " " << c.alignment;
    if (c.columns >= 0) {
      EXPECT_EQ(l.columns, c.columns);
    }
    if (c.textX < 0) continue;
    EXPECT_EQ((Ints{l.textX, l.symbolWidth, l.rows}), (Ints{c.textX, c.symbolWidth, c.rows}));
  }
  // Rows are limited by the plot height; a legend starting below the plot has none.
  PlainChart chart;
  auto& s = chart.AddSeries(std::make_unique<TLineSeries>());
  for (int i = 0; i < 40; ++i) s.Add(i, "v");
  const TLegendLayout l = LayoutOver(chart);
  EXPECT_EQ((Ints{l.rows, l.rect.Bottom}), (Ints{15, 222}));
  chart.Legend().SetTopPos(95);
  EXPECT_EQ(chart.Legend().CalcLayout(13, FixedWidth).rows, 0);
}

TEST(Legend, DrawingShrinksThePlotRect) {
  PlainChart chart;
  AddGermanGrades(chart);
  chart.Legend().SetTextStyle(ltsLeftPercent);
  platform::Bitmap bmp = Draw(chart);
  const TRect box = chart.Legend().RectLegend();
  // A right-hand legend 10 % of the height down, inside frame and shadow;
  // the plot ends 3 % of its width (11 of 376 pixels) left of the box.
  EXPECT_EQ(box, (TRect{243, 25, 384, 92}));
  EXPECT_EQ((Ints{chart.afterFrontPlane.Left, chart.afterFrontPlane.Right}), (Ints{12, 232}));
  // The first symbol is filled in the first point's colour; the box is white
  // inside, with its shadow below it.
  ExpectPixels(bmp, {{{box.Left + 6, box.Top + 6}, clRed}, {{box.Right - 1, box.Top + 5}, clWhite},
                     {{box.Right + 2, box.Bottom + 2}, clBlack}});
  chart.Legend().SetAlignment(laLeft);
  Draw(chart);
  EXPECT_EQ((Ints{chart.Legend().RectLegend().Right, chart.afterFrontPlane.Left}), (Ints{155, 166}));
  chart.Legend().SetHorizMargin(7);
  Draw(chart);
  EXPECT_EQ((Ints{chart.Legend().RectLegend().Right, chart.afterFrontPlane.Left}), (Ints{155, 162}));
  chart.Legend().SetResizeChart(false);
  Draw(chart);
  EXPECT_EQ(chart.afterFrontPlane, chart.beforeFrontPlane);
}

TEST(Legend, SeriesSymbolsTakeTheSeriesColour) {
  for (TLegendStyle style : {lsSeries, lsLastValues}) {
    PlainChart chart;
    chart.Legend().SetLegendStyle(style);
    auto& a = chart.AddSeries(std::make_unique<TAreaSeries>());  // red
    auto& b = chart.AddSeries(std::make_unique<TAreaSeries>());  // green
    a.Add(1, "x", clBlue);
    b.Add(2, "y", clBlue);
    platform::Bitmap bmp = Draw(chart);
    const TRect box = chart.Legend().RectLegend();
    EXPECT_EQ(bmp.Pixel(box.Left + 6, box.Top + 6), clRed) << style;
    EXPECT_EQ(bmp.Pixel(box.Left + 6, box.Top + 6 + 13), clGreen) << style;  // the next row
    // A series that colours each point has no one colour to show.
    a.SetColorEachPoint(true);
    EXPECT_EQ(Draw(chart).Pixel(box.Left + 6, box.Top + 6), clWhite) << style;
  }
}

TEST(Legend, NotDrawnWithoutActiveSeries) {
  PlainChart chart;
  AddGermanGrades(chart).SetActive(false);
  Draw(chart);
  EXPECT_EQ(chart.Legend().RectLegend(), TRect{});
  EXPECT_EQ(chart.afterFrontPlane, chart.beforeFrontPlane);
}

TEST(Title, LinesMoveThePlotRect) {
  // top, bottom: the room title and foot lines take (lines of 13 pixels and 5 more)
  struct Case { std::vector<std::string> title, foot; int top, bottom; bool visible = true; };
  const Case cases[] = {
      {{"181 yes", "second"}, {}, 31, 0},
      {{"one"}, {"foot"}, 18, 18},
      {{}, {"a", "b", "c"}, 0, 44},
      {{"x", "y"}, {}, 0, 0, false},
  };
  for (const Case& c : cases) {
    PlainChart chart;
    chart.Legend().SetVisible(false);
    chart.Title().Text() = c.title;
    chart.Title().SetVisible(c.visible);
    chart.Foot().Text() = c.foot;
    Draw(chart);
    EXPECT_EQ((Ints{chart.afterFrontPlane.Top - chart.beforeFrontPlane.Top,
                    chart.beforeFrontPlane.Bottom - chart.afterFrontPlane.Bottom}),
              (Ints{c.top, c.bottom}))
        << c.title.size() << " " << c.foot.size();
  }
}

}  // namespace
