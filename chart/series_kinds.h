// The line, area, point, fast line and pie series: their settings and data
// model. TCustomSeries joins its points (line, area, markers); TCircledSeries
// holds the circle geometry of a pie and takes over the chart (no axes, no
// walls) while it is active.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/chart.h"
#include "chart/series.h"

// ---------------------------------------------------------------------------
// Markers at the points of line and point series.
enum TSeriesPointerStyle {
  psRectangle,
  psCircle,
  psTriangle,
  psDownTriangle,
  psCross,
  psDiagCross,
  psStar,
  psDiamond,
  psSmallDot
};

class TSeriesPointer {
 public:
  explicit TSeriesPointer(TChartSeries* owner) : owner_(owner) {}

  bool Draw3D() const { return draw_3d_; }
  void SetDraw3D(bool v);
  // Marker fill; colour clAutomatic means the point's colour.
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  int HorizSize() const { return horiz_size_; }
  // >= 1, else ChartException "Die Größe des Pointers muß > 0 sein.".
  void SetHorizSize(int v);
  bool InflateMargins() const { return inflate_margins_; }
  void SetInflateMargins(bool v);
  // Marker outline; colour clAutomatic means the point's colour.
  TChartPen& Pen() { return pen_; }
  const TChartPen& Pen() const { return pen_; }
  TSeriesPointerStyle Style() const { return style_; }
  void SetStyle(TSeriesPointerStyle v);
  int VertSize() const { return vert_size_; }
  void SetVertSize(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  void Assign(const TSeriesPointer& other);

 private:
  void Repaint() const;
  TChartSeries* owner_;
  bool draw_3d_ = true;
  TChartBrush brush_;
  int horiz_size_ = 4;
  bool inflate_margins_ = true;
  TChartPen pen_;
  TSeriesPointerStyle style_ = psRectangle;
  int vert_size_ = 4;
  bool visible_ = true;
};

// ---------------------------------------------------------------------------
// Series that join their points: line, area and point.
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

  void Assign(const TCustomSeries& other);

 protected:
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
};

class TLineSeries : public TCustomSeries {
 public:
  TLineSeries();
  bool SameKindAs(const TChartSeries& other) const override;
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
  void CalcZOrder() override;
  bool SameKindAs(const TChartSeries& other) const override;

 private:
  TMultiArea multi_area_ = maNone;
};

class TPointSeries : public TCustomSeries {
 public:
  TPointSeries();
  // Switching on also makes the marker brush take the point colours.
  void SetColorEachPoint(bool value) override;
  bool SameKindAs(const TChartSeries& other) const override;
};

// ---------------------------------------------------------------------------
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

 private:
  bool auto_repaint_ = true;
  TChartPen line_pen_;
};

// ---------------------------------------------------------------------------
class PieException : public ChartException {
 public:
  using ChartException::ChartException;
};

class TCircledSeries : public TChartSeries {
 public:
  TCircledSeries();

  TColor CircleBackColor() const { return circle_back_color_; }
  void SetCircleBackColor(TColor v);
  // The background of hatched slices: CircleBackColor, else the chart's
  // BackColor, else the chart's Color.
  TColor ResolvedCircleBackColor() const;
  bool Circled() const { return circled_; }
  void SetCircled(bool v);
  int CustomXRadius() const { return custom_x_radius_; }
  void SetCustomXRadius(int v);
  int CustomYRadius() const { return custom_y_radius_; }
  void SetCustomYRadius(int v);
  int RotationAngle() const { return rotation_angle_; }
  // a >= 0, stored mod 360; else PieException "Drehung-Winkel muß zwischen 0 und 359 Grad liegen.".
  void SetRotationAngle(int a);
  double Rotation() const { return rotation_; }

  void SetActive(bool value) override;
  void SetParentChart(TCustomAxisPanel* chart) override;
  bool UseAxis() const override { return false; }
  bool AssociatedToAxis(const TCustomChartAxis&) const override { return false; }

  // Switches the chart's axes, point clipping, 3D walls, frame and back wall
  // fill on (enable) or off, then sets the pie's 3D view.
  void SetParentProperties(bool enable);

 protected:
  // The same set of series: this class or one of its ancestors.
  template <class Fn>
  void ForSameClassSeries(Fn fn);

 private:
  TColor circle_back_color_ = clAutomatic;
  bool circled_ = false;
  int custom_x_radius_ = 0;
  int custom_y_radius_ = 0;
  int rotation_angle_ = 0;
  double rotation_ = 0;
};

enum TPieOtherStyle { poNone, poBelowPercent, poBelowValue };

class TPieOtherSlice {
 public:
  explicit TPieOtherSlice(TChartSeries* owner) : owner_(owner) {}
  TPieOtherStyle Style() const { return style_; }
  void SetStyle(TPieOtherStyle v);
  const std::string& Text() const { return text_; }
  void SetText(std::string v);
  double Value() const { return value_; }
  void SetValue(double v);
  void Assign(const TPieOtherSlice& other);

 private:
  TChartSeries* owner_;
  TPieOtherStyle style_ = poNone;
  std::string text_ = "Weitere";
  double value_ = 0;
};

class TPieSeries : public TCircledSeries {
 public:
  TPieSeries();

  bool Dark3D() const { return dark_3d_; }
  void SetDark3D(bool v);
  int ExplodeBiggest() const { return explode_biggest_; }
  void SetExplodeBiggest(int v);
  TPieOtherSlice& OtherSlice() { return other_slice_; }
  TChartPen& PiePen() { return pie_pen_; }
  TChartValueList& PieValues() { return y_values_; }
  bool UsePatterns() const { return use_patterns_; }
  void SetUsePatterns(bool v);

  // Explosion of one slice in percent of the radius (0 past the end).
  int ExplodedSlice(int index) const;
  void SetExplodedSlice(int index, int percent);

  // Removes the other slice of the previous drawing and folds small values
  // into a new one.
  void DoBeforeDrawChart() override;
  int CountLegendItems() const override;
  int LegendToValueIndex(int legendIndex) const override;
  bool SameKindAs(const TChartSeries& other) const override;

  // X values marking folded values and the other slice.
  static constexpr double kFoldedValue = -1;
  static constexpr double kOtherSliceValue = 2147483647.0;

 protected:
  void ClearLists() override;

 private:
  bool dark_3d_ = true;
  int explode_biggest_ = 0;
  TPieOtherSlice other_slice_{this};
  TChartPen pie_pen_;
  bool use_patterns_ = false;
  std::vector<int> exploded_slices_;
};
