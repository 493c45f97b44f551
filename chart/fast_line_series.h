// TFastLineSeries: the values as one polyline in one pen, without markers,
// areas, per-point colours or null points, so that long series draw
// quickly. Without AutoRepaint a newly added value draws only its own
// segment at once.
#pragma once

#include <vector>

#include "chart/canvas3d.h"
#include "chart/series.h"

class TFastLineSeries : public TChartSeries {
 public:
  TFastLineSeries();

  bool AutoRepaint() const { return auto_repaint_; }
  void SetAutoRepaint(bool v) { auto_repaint_ = v; }
  // The line's pen; its colour follows SeriesColor and the other way round.
  TChartPen& LinePen() { return line_pen_; }
  const TChartPen& LinePen() const { return line_pen_; }
  // Copies p into the pen and takes its colour as SeriesColor.
  void SetLinePen(const TChartPen& p);
  void SetSeriesColor(TColor colour) override;
  bool SameKindAs(const TChartSeries& other) const override;

  void DrawVisibleValues() override;
  // Adds the point of a value to the line (nothing when it falls on the
  // last point's pixel).
  void DrawValue(int valueIndex) override;
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;
  void DrawLegendSymbol(int valueIndex, const TRect& rect) override;

  // The corner points of the last drawn line, in chart space.
  const std::vector<TPoint>& LinePoints() const { return points_; }

 protected:
  void AddedValue(int index) override;

 private:
  void PrepareCanvas();
  // Draws the line through points_ (projected at MiddleZ in 3D).
  void DrawLine(std::size_t from);

  bool auto_repaint_ = true;
  TChartPen line_pen_;
  std::vector<TPoint> points_;
};
