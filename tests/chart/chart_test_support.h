#pragma once

#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "chart/bar_series.h"
#include "chart/chart.h"
#include "chart/fast_line_series.h"
#include "chart/line_series.h"
#include "chart/pie_series.h"
#include "platform/bitmap.h"
#include "platform/surface.h"

namespace charttest {

inline const double kGermanValues[] = {67, 58, 32, 18, 6};
inline const char* const kGermanLabels[] = {"sehr gut", "gut", "befriedigend", "ausreichend", "mangelhaft"};

template <class Series>
Series& AddGrades(Series& s) {
  for (int i = 0; i < 5; ++i) s.Add(kGermanValues[i], kGermanLabels[i]);
  return s;
}

// Draws the chart as a request does: straight onto a bitmap of its size,
// without the off-screen buffer.
inline platform::Bitmap Draw(TChart& chart) {
  chart.Canvas().SetBufferedDisplay(false);
  platform::Bitmap bitmap(chart.Width(), chart.Height());
  platform::Surface surface(bitmap);
  chart.Draw(surface, TRect{0, 0, chart.Width(), chart.Height()});
  return bitmap;
}

// 400 × 250, flat, no legend, white back wall.
inline void Plain2D(TChart& chart) {
  chart.SetWidth(400);
  chart.SetHeight(250);
  chart.SetView3D(false);
  chart.Legend().SetVisible(false);
  chart.SetBackColor(clWhite);
}
struct Plain2DChart : TChart {
  Plain2DChart() { Plain2D(*this); }
};

inline std::vector<double> Values(const TChartValueList& list) {
  std::vector<double> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Value(i));
  return out;
}

inline void SetMargins(TChart& chart, int left, int top, int right, int bottom) {
  chart.SetMarginLeft(left);
  chart.SetMarginTop(top);
  chart.SetMarginRight(right);
  chart.SetMarginBottom(bottom);
}

using Ints = std::vector<int>;

inline void FixScale(TChartAxis& axis, double min, double max) {
  axis.SetAutomatic(false);
  axis.SetAutomaticMaximum(false);
  axis.SetAutomaticMinimum(false);
  axis.SetMinMax(min, max);
}

inline int CountColour(const platform::Bitmap& b, TColor colour, const TRect& area) {
  int n = 0;
  for (int y = std::max(0, area.Top); y < std::min(b.Height(), area.Bottom); ++y)
    for (int x = std::max(0, area.Left); x < std::min(b.Width(), area.Right); ++x) n += b.Pixel(x, y) == colour;
  return n;
}

// Expects each point of the bitmap to hold its colour.
inline void ExpectPixels(const platform::Bitmap& b, std::initializer_list<std::pair<TPoint, TColor>> pixels) {
  for (const auto& [p, colour] : pixels) EXPECT_EQ(b.Pixel(p.X, p.Y), colour) << "at " << p.X << "," << p.Y;
}

// Bounding box of the pixels that are not white.
inline TRect InkBox(const platform::Bitmap& b) {
  TRect r{b.Width(), b.Height(), -1, -1};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Pixel(x, y) != clWhite)
        r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1), std::max(r.Bottom, y + 1)};
  return r;
}

// Expects f to raise exactly class E with the given message.
template <class E, class F>
void ExpectRaises(F&& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.what(), message);
  }
}

// A chart that notes PlotRect around the steps of the pipeline.
class ProbeChart : public TChart {
 public:
  TRect beforeFrontPlane{};
  TRect afterFrontPlane{};
  TRect atWalls{};
  int seriesWidth3D = -1;
 protected:
  void DrawFrontPlane() override {
    beforeFrontPlane = PlotRect();
    TChart::DrawFrontPlane();
    afterFrontPlane = PlotRect();
  }
  void DrawWalls() override {
    atWalls = PlotRect();
    seriesWidth3D = SeriesWidth3D();
    TChart::DrawWalls();
  }
};

}  // namespace charttest
