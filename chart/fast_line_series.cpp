#include "chart/fast_line_series.h"

#include "chart/chart.h"
#include "chart/line_math.h"

TFastLineSeries::TFastLineSeries() {
  draw_between_points_ = true;
  // The pen's colour and SeriesColor follow each other.
  line_pen_.OnChange = [this] {
    if (line_pen_.Color() != SeriesColor()) TChartSeries::SetSeriesColor(line_pen_.Color());
    Repaint();
  };
}

void TFastLineSeries::SetLinePen(const TChartPen& p) {
  line_pen_.Assign(p);
  SetSeriesColor(line_pen_.Color());
}

void TFastLineSeries::SetSeriesColor(TColor colour) {
  TChartSeries::SetSeriesColor(colour);
  if (line_pen_.Color() != colour) line_pen_.SetColor(colour);
}

bool TFastLineSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TFastLineSeries*>(&other) != nullptr;
}

void TFastLineSeries::PrepareCanvas() {
  TChartCanvas3D& canvas = ParentCanvas();
  canvas.AssignPen(line_pen_);
  canvas.Pen().Color = SeriesColor();
  canvas.Brush().Style = platform::bsClear;
}

void TFastLineSeries::DrawLine(std::size_t from) {
  if (points_.size() < from + 2) return;
  TChartCanvas3D& canvas = ParentCanvas();
  const bool view3D = ParentChart()->View3D();
  const int z = MiddleZ();
  for (std::size_t k = from; k < points_.size(); ++k) {
    const TPoint p = view3D ? canvas.ProjectPoint(points_[k].X, points_[k].Y, z) : points_[k];
    if (k == from)
      canvas.MoveTo(p.X, p.Y);
    else
      canvas.LineTo(p.X, p.Y);
  }
}

void TFastLineSeries::DrawVisibleValues() {
  if (!ParentChart()) return;
  PrepareCanvas();
  points_.clear();
  TChartSeries::DrawVisibleValues();
  DrawLine(0);
}

void TFastLineSeries::DrawValue(int valueIndex) {
  // The first visible value after the start joins the value before it, so
  // the line runs in from the edge of the plotting area.
  if (valueIndex == FirstValueIndex() && valueIndex >= 1) {
    points_.clear();
    points_.push_back(TPoint{CalcXPos(valueIndex - 1), CalcYPos(valueIndex - 1)});
  }
  line_math::AppendLinePoint(points_, TPoint{CalcXPos(valueIndex), CalcYPos(valueIndex)});
}

void TFastLineSeries::AddedValue(int index) {
  if (auto_repaint_ || !ParentChart() || !Active()) {
    TChartSeries::AddedValue(index);
    return;
  }
  if (OnAfterAdd) OnAfterAdd(*this, index);
  // Only the new segment, straight onto the chart's surface.
  PrepareCanvas();
  const int before = index > 0 ? index - 1 : 0;
  points_ = {TPoint{CalcXPos(before), CalcYPos(before)}};
  line_math::AppendLinePoint(points_, TPoint{CalcXPos(index), CalcYPos(index)});
  DrawLine(0);
}

void TFastLineSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  position.LeftTop.Y -= marks_.ArrowLength();
  position.ArrowTo.Y -= marks_.ArrowLength();
  TChartSeries::DrawMark(index, text, position);
}

void TFastLineSeries::DrawLegendSymbol(int /*valueIndex*/, const TRect& rect) {
  PrepareCanvas();
  ParentCanvas().DoHorizLine(rect.Left, rect.Right, (rect.Top + rect.Bottom) / 2);
}
