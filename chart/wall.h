// A wall of the chart's plotting box (back, left, bottom): its fill, pen and
// thickness. A settings object owned by the chart.
#pragma once

#include "chart/pen_brush.h"
#include "platform/color.h"

class TCustomChart;

class TChartWall {
 public:
  TChartWall(TCustomChart* chart, TColor colour);

  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  TChartPen& Pen() { return pen_; }
  const TChartPen& Pen() const { return pen_; }
  int Size() const { return size_; }
  void SetSize(int v);

  // Puts the wall's pen and fill on the chart's canvas; returns true when the
  // cubes should darken their sides.
  bool PrepareCanvas() const;
  void Assign(const TChartWall& other);

 private:
  TCustomChart* chart_;
  TChartBrush brush_;
  TColor color_;
  TChartPen pen_;
  int size_ = 0;
};
