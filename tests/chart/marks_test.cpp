#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "chart/mark_text.h"
#include "chart_test_support.h"

namespace {

using namespace charttest;

TBarSeries& GermanBars(TChart& chart) {
  chart.SetWidth(400);
  chart.SetHeight(250);
  return AddGrades(chart.AddSeries(std::make_unique<TBarSeries>()));
}

TEST(SeriesMarks, TextOfEveryStyle) {
  TChart chart;
  TBarSeries& bars = GermanBars(chart);
  const struct { TSeriesMarksStyle style; const char* first; const char* last; } cases[] = {
      {smsValue, "67", "6"},
      {smsPercent, "37.02 %", "3.31 %"},
      {smsLabel, "sehr gut", "mangelhaft"},
      {smsLabelPercent, "sehr gut 37.02 %", "mangelhaft 3.31 %"},
      {smsLabelValue, "sehr gut 67", "mangelhaft 6"},
      {smsLegend, "67 sehr gut", "6 mangelhaft"},  // the legend's left-value text
      {smsPercentTotal, "37.02 % von 181", "3.31 % von 181"},
      {smsLabelPercentTotal, "sehr gut 37.02 % von 181", "mangelhaft 3.31 % von 181"},
      {smsXValue, "0", "4"},
  };
  for (const auto& c : cases) {
    bars.Marks().SetStyle(c.style);
    EXPECT_EQ(bars.Marks().MarkText(0), c.first) << c.style;
    EXPECT_EQ(bars.Marks().MarkText(4), c.last) << c.style;
  }
  // The series' formats and its event have the last word.
  bars.Marks().SetStyle(smsValue);
  bars.SetValueFormat("0.0");
  EXPECT_EQ(bars.Marks().MarkText(1), "58.0");
  bars.OnGetMarkText = [](TChartSeries&, int index, std::string& text) { text += "#" + std::to_string(index); };
  EXPECT_EQ(bars.Marks().MarkText(1), "58.0#1");
}

TEST(SeriesMarks, LabelFallsBackToTheValueAndZeroTotalsToHundredPercent) {
  TChart chart;
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  bars.Add(1234.5);
  bars.Add(0, "null");
  bars.Marks().SetStyle(smsLabel);
  EXPECT_EQ(bars.Marks().MarkText(0), "1,234.5");
  EXPECT_EQ(bars.Marks().MarkText(1), "null");
  TChart zeros;
  auto& none = zeros.AddSeries(std::make_unique<TBarSeries>());
  for (int i = 0; i < 3; ++i) none.Add(0);
  none.Marks().SetStyle(smsPercent);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(none.Marks().MarkText(i), "100 %");
  none.Marks().SetStyle(smsLabelPercentTotal);
  EXPECT_EQ(none.Marks().MarkText(0), "0 100 % von 0");
  // Outside the styles: no text; a negative value's share is its magnitude's.
  mark_text::MarkTextInput in;
  in.value = 67;
  in.absoluteTotal = 181;
  for (int style : {9, -1}) EXPECT_EQ(mark_text::ComposeMarkText(style, in), "") << style;
  EXPECT_NEAR(mark_text::MarkPercent(-6, 181), 3.3149, 1e-4);
}

TEST(SeriesMarks, BoxArrowAndTextOnThePicture) {
  for (TColor panel : {clSilver, clWhite}) {
    TChart chart;
    TBarSeries& bars = GermanBars(chart);
    Plain2D(chart);
    chart.SetColor(panel);
    bars.SetColorEachPoint(true);
    bars.Marks().SetStyle(smsPercent);
    bars.Marks().SetBackColor(clYellow);
    const platform::Bitmap picture = Draw(chart);
    const auto& positions = bars.Marks().Positions();
    ASSERT_EQ(positions.size(), 5u);
    // The box: the text's width plus a "W" and the frame, one line plus the
    // frame high, centred over the arrow's end. The arrow rises 20 pixels
    // from the middle of the bar's top.
    const struct { TPoint leftTop; int width; TPoint arrowFrom; } want[] = {
        {{46, 12}, 52, {72, 46}}, {{115, 36}, 52, {141, 70}}, {{183, 103}, 52, {209, 137}},
        {{255, 140}, 46, {278, 174}}, {{323, 171}, 46, {346, 205}},
    };
    for (int i = 0; i < 5; ++i) {
      const TSeriesMarkPosition& p = positions[i];
      EXPECT_EQ(p.LeftTop, want[i].leftTop) << i;
      EXPECT_EQ((Ints{p.Width, p.Height}), (Ints{want[i].width, 15})) << i;
      EXPECT_EQ(p.ArrowFrom, want[i].arrowFrom) << i;
      EXPECT_EQ(p.ArrowTo, (TPoint{want[i].arrowFrom.X, want[i].arrowFrom.Y - 20})) << i;
      // Frame black, box filled with the back colour, the arrow white, but
      // black over the white fifth bar or on a white panel, where white
      // would vanish.
      EXPECT_EQ(picture.Pixel(p.LeftTop.X, p.LeftTop.Y + p.Height / 2), clBlack) << i;
      EXPECT_EQ(picture.Pixel(p.LeftTop.X + 2, p.LeftTop.Y + 2), clYellow) << i;
      const TColor arrow = i == 4 || panel == clWhite ? clBlack : clWhite;
      EXPECT_EQ(picture.Pixel(p.ArrowFrom.X, p.ArrowFrom.Y - 10), arrow) << i;
    }
  }
}

TEST(SeriesMarks, EmptyTextsGetNoMark) {
  TChart chart;
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  bars.Add(5, "a");
  bars.Add(9, "c");
  bars.OnGetMarkText = [](TChartSeries&, int index, std::string& text) {
    if (index == 1) text.clear();
  };
  Draw(chart);
  const auto& positions = bars.Marks().Positions();
  ASSERT_GE(positions.size(), 1u);
  EXPECT_GT(positions[0].Width, 0);
  EXPECT_TRUE(positions.size() == 1 || positions[1].Width == 0);
}

}  // namespace
