#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "chart_test_support.h"

namespace {

using namespace charttest;

TEST(Axis, LogarithmicScaleChecks) {
  TChart chart;
  TChartAxis& axis = chart.LeftAxis();
  // A logarithmic scale needs non-negative ends and numbers, not dates.
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  bars.Add(-5);
  bars.Add(10);
  ExpectRaises<AxisException>([&] { axis.SetLogarithmic(true); },
                              "Minimum- und Maximumwerte der logarithmischen Achse müssen >= 0 sein.");
  bars.YValues().SetDateTime(true);
  ExpectRaises<AxisException>([&] { axis.SetLogarithmic(true); }, "Datum/Uhrzeit-Achse darf kein Logarithmus sein.");
  EXPECT_FALSE(axis.Logarithmic());
}

TEST(Axis, AutomaticScaleFromTheBoundSeries) {
  const struct { std::vector<double> values; bool useOrigin; double min, max; } cases[] = {
      {{67, 58, 32, 18, 6}, false, 6, 67},
      {{67, 58, 32, 18, 6}, true, 0, 67},  // bars stand on 0
      {{-5, 3}, true, -5, 3},
      {{-5, -3}, true, -5, 0},
      {{4, 4, 4}, false, 4, 4},
      {{7}, false, 7, 7},
      {{1e9, 2e9}, false, 1e9, 2e9},
      {{}, true, 0, 0},
  };
  for (const auto& c : cases) {
    TChart chart;
    auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
    bars.SetUseYOrigin(c.useOrigin);
    for (double v : c.values) bars.Add(v);
    chart.LeftAxis().AdjustMaxMin();
    EXPECT_DOUBLE_EQ(chart.LeftAxis().IMinimum(), c.min);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().IMaximum(), c.max);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().IRange(), c.max - c.min);
    // The right axis has no series bound to it.
    chart.RightAxis().AdjustMaxMin();
    EXPECT_EQ(chart.RightAxis().IRange(), 0);
  }
}

// The automatic increment and labels are the axis arithmetic's own cases;
// here a fixed scale, where a user increment is where the search starts.
TEST(Axis, FixedScaleIncrement) {
  TChart chart;
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  for (double v : {67, 58, 32, 18, 6}) bars.Add(v);
  chart.SetPlotRect(TRect{0, 0, 300, 200});
  chart.Recalculate();
  TChartAxis& axis = chart.LeftAxis();
  FixScale(axis, 10, 65);
  axis.AdjustMaxMin();
  axis.SetLabelsOnAxis(false);
  EXPECT_EQ(axis.CalcLabelValues().front(), 60);  // the end labels only with LabelsOnAxis
  axis.SetMinMax(0, 100);
  axis.AdjustMaxMin();
  axis.SetIncrement(25);
  EXPECT_EQ(axis.CalcIncrement(), 25);
  axis.SetIncrement(3);
  EXPECT_EQ(axis.CalcIncrement(), 10);
}

TEST(Axis, LabelTextsUseTheAxisFormatAndTheChartEvent) {
  TChart chart;
  TChartAxis& axis = chart.LeftAxis();
  EXPECT_EQ(axis.LabelValue(1234.5), "1,234.5");
  axis.SetAxisValuesFormat("0.00");
  EXPECT_EQ(axis.LabelValue(2), "2.00");
  chart.OnGetAxisLabel = [](TChartAxis&, TChartSeries* series, int index, std::string& text) {
    if (!series && index == -1) text = "<" + text + ">";
  };
  EXPECT_EQ(axis.LabelValue(2), "<2.00>");
  axis.SetLabelsMultiLine(true);
  axis.SetAxisValuesFormat("0 'Stück'");
  EXPECT_EQ(axis.LabelValue(3), "<3\rStück>");
}

TEST(Axis, DateTimeAxisLabelsCalendarDays) {
  TChart chart;
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  bars.XValues().SetDateTime(true);
  for (int i = 0; i < 20; ++i) bars.AddPoint(45000 + i + 0.5, 10 + i);  // noon, 2023-03-15 on
  chart.SetPlotRect(TRect{0, 0, 300, 200});
  chart.Recalculate();
  TChartAxis& axis = chart.BottomAxis();
  axis.AdjustMaxMin();
  EXPECT_TRUE(axis.IsDateTime());
  EXPECT_EQ(axis.LabelValue(45000.5), "2023-03-15");
  const std::vector<double> days = axis.CalcLabelValues();
  ASSERT_FALSE(days.empty());
  for (double d : days) EXPECT_TRUE(d == std::floor(d) && d > 45000 && d < 45020) << d;  // midnights
}

TEST(Axis, RoomForLabelsTicksAndTitle) {
  Plain2DChart chart;
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  for (double v : {1200, 300}) bars.Add(v);
  Draw(chart);
  // Left axis: the wider of the scale's ends as text (48 pixels: the marks
  // widen the scale to an unround maximum), then line width 2 and tick length 4.
  const TRect before{50, 20, 350, 220};
  TRect r = before;
  chart.LeftAxis().CalcRect(r);
  EXPECT_EQ((Ints{r.Left, chart.LeftAxis().PosLabels(), r.Right}), (Ints{104, 98, 350}));
  // Bottom axis with a title: title height, label height (13 each), line and ticks.
  chart.BottomAxis().Title().SetCaption("Noten");
  r = before;
  chart.BottomAxis().CalcRect(r);
  EXPECT_EQ((Ints{chart.BottomAxis().PosTitle(), chart.BottomAxis().PosLabels(), r.Bottom}), (Ints{207, 194, 188}));
  // Fixed sizes replace the measured ones.
  chart.BottomAxis().SetTitleSize(7);
  chart.BottomAxis().SetLabelsSize(9);
  chart.BottomAxis().Ticks().SetVisible(false);
  r = before;
  chart.BottomAxis().CalcRect(r);
  EXPECT_EQ(r.Bottom, 202);  // 220 - 7 - 9 - line width 2
}

TEST(Axis, TextLabelsOfALabelledSeriesSkipOverlaps) {
  for (int width : {400, 120}) {
    Plain2DChart chart;
    chart.SetWidth(width);
    auto& bars = AddGrades(chart.AddSeries(std::make_unique<TBarSeries>()));
    int seen = 0;  // the event sees every label, drawn or skipped
    chart.OnGetAxisLabel = [&](TChartAxis& axis, TChartSeries* series, int, std::string&) {
      seen += &axis == &chart.BottomAxis() && series == &bars;
    };
    Draw(chart);
    EXPECT_EQ(chart.BottomAxis().ResolvedLabelStyle(), talText);
    EXPECT_EQ(chart.LeftAxis().ResolvedLabelStyle(), talValue);
    EXPECT_EQ(chart.RightAxis().ResolvedLabelStyle(), talNone);
    EXPECT_GE(seen, 5);
    // At 120 pixels the overlap rule cannot draw all five.
    EXPECT_EQ(chart.BottomAxis().DrawnLabelCount() == 5, width == 400) << width;
  }
}

}  // namespace
