// Series that join their points: TCustomSeries draws a line from point to
// point (a ribbon in 3D), optionally a filled area down to a base line, a
// marker (TSeriesPointer) at each point, and stairs instead of slopes.
// TLineSeries, TAreaSeries and TPointSeries are the same drawing with
// different switches: a line without markers, a filled (stackable) area,
// and markers without a line.
#pragma once

#include <functional>

#include "chart/canvas3d.h"
#include "chart/line_math.h"
#include "chart/series.h"
#include "chart/series_pointer.h"

class TCustomSeries : public TChartSeries {
 public:
  TCustomSeries();

  platform::TBrushStyle AreaBrush() const { return area_brush_; }
  void SetAreaBrush(platform::TBrushStyle v);
  TColor AreaColor() const { return area_color_; }
  void SetAreaColor(TColor v);
  TChartPen& AreaLinesPen() { return area_lines_pen_; }
  bool Dark3D() const { return dark_3d_; }
  void SetDark3D(bool v);
  bool DrawArea() const { return draw_area_; }
  void SetDrawArea(bool v);
  bool DrawLine() const { return draw_line_; }
  void SetDrawLine(bool v);
  bool ClickableLine() const { return clickable_line_; }
  void SetClickableLine(bool v) { clickable_line_ = v; }
  bool InvertedStairs() const { return inverted_stairs_; }
  void SetInvertedStairs(bool v);
  platform::TBrushStyle LineBrush() const { return line_brush_; }
  void SetLineBrush(platform::TBrushStyle v);
  TChartPen& LinePen() { return line_pen_; }
  const TChartPen& LinePen() const { return line_pen_; }
  TSeriesPointer& Pointer() { return pointer_; }
  const TSeriesPointer& Pointer() const { return pointer_; }
  bool Stairs() const { return stairs_; }
  void SetStairs(bool v);

  std::function<TSeriesPointerStyle(TCustomSeries&, int valueIndex)> OnGetPointerStyle;
  std::function<void(TCustomSeries&, int valueIndex, int x, int y)> OnClickPointer;

  // Markers that stick out of the plotting area widen the margins.
  void AskHorizMargins(int& left, int& right) override;
  void AskVertMargins(int& top, int& bottom) override;
  // The base line of areas: PlotRect's bottom.
  virtual int GetOriginPos(int valueIndex) const;
  bool SameKindAs(const TChartSeries& other) const override;

  // Draws the segment from the previous point to this one (with its area
  // piece and the markers it leaves behind).
  void DrawValue(int valueIndex) override;
  // The marker of a point in its colour, in the style OnGetPointerStyle
  // chooses.
  virtual void DrawPointer(int x, int y, int valueIndex, TColor colour);
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;
  void DrawLegendSymbol(int valueIndex, const TRect& rect) override;
  void PrepareLegendCanvas(int valueIndex, TColor& backColor, platform::TBrushStyle& style) override;

  void Assign(const TCustomSeries& other);

 protected:
  // The fill colour of ribbons and areas for a point colour.
  TColor AreaColorOf(TColor colour) const;

  platform::TBrushStyle area_brush_ = platform::bsSolid;
  TColor area_color_ = clAutomatic;
  TChartPen area_lines_pen_;
  bool clickable_line_ = true;
  bool dark_3d_ = true;
  bool draw_area_ = false;
  bool draw_line_ = false;
  bool inverted_stairs_ = false;
  platform::TBrushStyle line_brush_ = platform::bsSolid;
  TChartPen line_pen_;
  TSeriesPointer pointer_;
  bool stairs_ = false;

 private:
  void DrawSegment(int valueIndex, int x, int y, TColor colour, bool withMarkers);
  void DrawAreaPiece(int valueIndex, int x, int y, TColor fill);
  void PrepareLinePen(TColor colour);

  // Working state of a drawing: the previous point, the base positions of
  // this and the previous point, the previous point's colour (carried over
  // between drawings) and the steepness ratio of darker ribbons.
  int old_x_ = 0;
  int old_y_ = 0;
  int bottom_pos_ = 0;
  int old_bottom_pos_ = 0;
  TColor old_color_ = 0;
  double dark_ratio_ = 0;
};

class TLineSeries : public TCustomSeries {
 public:
  TLineSeries();
  bool SameKindAs(const TChartSeries& other) const override;
  // Copies the settings, then stays a line: line on, no area, no markers.
  void Assign(const TCustomSeries& other);
};

enum TMultiArea { maNone, maStacked, maStacked100 };

class TAreaSeries : public TCustomSeries {
 public:
  TAreaSeries();
  TMultiArea MultiArea() const { return multi_area_; }
  // Copies the value into every other area series of the chart.
  void SetMultiArea(TMultiArea v);
  double MaxYValue() const override;
  double MinYValue() const override;
  // Stacked areas sit on the areas before them.
  int CalcYPos(int index) const override;
  int GetOriginPos(int valueIndex) const override;
  void CalcZOrder() override;
  bool SameKindAs(const TChartSeries& other) const override;
  // Copies the settings (and another area's MultiArea), then stays an area:
  // area and line on, no markers.
  void Assign(const TCustomSeries& other);

 private:
  int StackedPos(int index, double ownValue) const;
  TMultiArea multi_area_ = maNone;
};

class TPointSeries : public TCustomSeries {
 public:
  TPointSeries();
  // Switching on also makes the marker brush take the point colours.
  void SetColorEachPoint(bool value) override;
  bool SameKindAs(const TChartSeries& other) const override;
  // Copies the settings, then stays a point series: markers only.
  void Assign(const TCustomSeries& other);
};
