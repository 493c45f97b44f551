#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "chart_test_support.h"

namespace {

using namespace charttest;

TEST(Series, LabelsAndColoursStayInStepWithTheValues) {
  TChartSeries s;
  s.AddPoint(5, 50, "five", clRed);
  s.AddPoint(1, 10, "one", clDefault);  // the platform default is stored as automatic
  s.AddPoint(3, 30, "three", clBlue);
  auto points = [&] {
    std::vector<std::pair<std::string, TColor>> out;
    for (int i = 0; i < s.Count(); ++i) out.emplace_back(s.Label(i), s.PointColor(i));
    return out;
  };
  using Points = std::vector<std::pair<std::string, TColor>>;
  EXPECT_EQ(Values(s.XValues()), (std::vector<double>{1, 3, 5}));
  EXPECT_EQ(Values(s.YValues()), (std::vector<double>{10, 30, 50}));
  EXPECT_EQ(points(), (Points{{"one", clAutomatic}, {"three", clBlue}, {"five", clRed}}));
  s.Delete(1);
  EXPECT_EQ(Values(s.YValues()), (std::vector<double>{10, 50}));
  EXPECT_EQ(points(), (Points{{"one", clAutomatic}, {"five", clRed}}));
  EXPECT_THROW(s.Delete(2), Exception);
}

TEST(Series, ValueColorRules) {
  struct Case { TColor point; bool eachPoint; int index; TColor expected; };
  // Series colour green; point 1 of the palette is green too, so use index 2
  // (yellow) to tell the palette from the series colour.
  const Case cases[] = {
      {clRed, false, 2, clRed},        // own colour wins
      {clRed, true, 2, clRed},         //
      {clAutomatic, false, 2, clGreen},  // series colour
      {clAutomatic, true, 2, clYellow},  // palette colour of the index
      {clNone, true, 2, clNone},       // a null point keeps its mark
  };
  for (const Case& c : cases) {
    TChartSeries s;
    s.SetSeriesColor(clGreen);
    s.SetColorEachPoint(c.eachPoint);
    for (int i = 0; i < 3; ++i) s.Add(i, "", i == c.index ? c.point : clAutomatic);
    EXPECT_EQ(s.ValueColor(c.index), c.expected) << std::hex << c.point << " " << c.eachPoint;
  }
  TChartSeries s;
  s.SetSeriesColor(clGreen);
  EXPECT_EQ(s.ValueColor(10), clGreen);  // past the end
  EXPECT_EQ(s.ValueColor(-1), clGreen);
  // Switching ColorEachPoint off forgets the point colours.
  s.SetColorEachPoint(true);
  s.Add(1, "", clRed);
  s.SetColorEachPoint(false);
  EXPECT_EQ(s.PointColor(0), clAutomatic);
  EXPECT_EQ(s.ValueColor(0), clGreen);
}

TEST(Series, FreeColourRule) {
  TChart chart;
  chart.SetColor(clWhite);
  chart.SetBackColor(clYellow);
  // Automatic series take the first palette colours that nobody uses and
  // that are neither the panel colour nor the back colour.
  std::vector<TColor> got;
  for (int i = 0; i < 5; ++i) got.push_back(chart.AddSeries(std::make_unique<TLineSeries>()).SeriesColor());
  EXPECT_EQ(got, (std::vector<TColor>{clRed, clGreen, clBlue, clGray, clFuchsia}));
  // A series with a colour of its own keeps it.
  auto own = std::make_unique<TLineSeries>();
  own->SetSeriesColor(clRed);
  EXPECT_EQ(chart.AddSeries(std::move(own)).SeriesColor(), clRed);
  // All 16 taken: the palette's first colour.
  TChart full;
  for (int i = 0; i < 16; ++i) {
    auto s = std::make_unique<TLineSeries>();
    s->SetSeriesColor(PaletteColor(i));
    full.AddSeries(std::move(s));
  }
  EXPECT_EQ(full.AddSeries(std::make_unique<TLineSeries>()).SeriesColor(), PaletteColor(0));
}

TEST(Series, PointOriginSumsEarlierSeriesOfTheSameKind) {
  TChart chart;
  auto& a = chart.AddSeries(std::make_unique<TAreaSeries>());
  auto& line = chart.AddSeries(std::make_unique<TLineSeries>());
  auto& b = chart.AddSeries(std::make_unique<TAreaSeries>());
  auto& c = chart.AddSeries(std::make_unique<TAreaSeries>());
  for (double v : {1.0, 2.0}) a.Add(v);
  for (double v : {100.0, 200.0}) line.Add(v);
  b.Add(10);  // one value only
  for (double v : {5.0, 6.0}) c.Add(v);
  EXPECT_DOUBLE_EQ(c.PointOrigin(0, false), 11);  // a + b, not the line
  EXPECT_DOUBLE_EQ(c.PointOrigin(1, false), 2);   // b has no value 1
  EXPECT_DOUBLE_EQ(a.PointOrigin(0, false), 0);
  EXPECT_DOUBLE_EQ(a.PointOrigin(0, true), 16);
  b.SetActive(false);
  EXPECT_DOUBLE_EQ(c.PointOrigin(0, false), 1);
}

TEST(Series, VisibleRangeFollowsTheHorizontalScale) {
  enum Kind { kPlain, kBetweenPoints, kUnordered, kPie };
  struct Case { Kind kind; double min, max; int first, last; };
  // X values 0..9.
  const Case cases[] = {
      {kPlain, 2.5, 6.5, 3, 6},
      {kBetweenPoints, 2.5, 6.5, 3, 7},  // keeps the point beyond the right edge
      {kPlain, 2, 6, 2, 6},              // values on the edges are inside
      {kPlain, -5, 20, 0, 9},
      {kPlain, 12, 20, -1, -1},          // all left of the scale
      {kPlain, 3.2, 3.8, 4, 3},          // no value between: an empty range
      {kUnordered, 2.5, 6.5, 0, 9},
      {kPie, 2.5, 6.5, 0, 9},
  };
  for (const Case& c : cases) {
    TChart chart;
    chart.SetView3D(false);
    std::unique_ptr<TChartSeries> owned;
    switch (c.kind) {
      case kBetweenPoints: owned = std::make_unique<TFastLineSeries>(); break;
      case kPie: owned = std::make_unique<TPieSeries>(); break;
      default: owned = std::make_unique<TChartSeries>(); break;
    }
    if (c.kind == kUnordered) owned->XValues().SetOrder(loNone);
    TChartSeries& s = chart.AddSeries(std::move(owned));
    for (int i = 0; i < 10; ++i) s.Add(i);
    FixScale(chart.BottomAxis(), c.min, c.max);
    Draw(chart);
    EXPECT_EQ(s.FirstValueIndex(), c.first) << c.kind << " " << c.min << ".." << c.max;
    EXPECT_EQ(s.LastValueIndex(), c.last) << c.kind << " " << c.min << ".." << c.max;
  }
}

}  // namespace
