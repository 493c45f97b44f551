// Bar series: TBarSeries draws vertical bars standing on the horizontal axis,
// THorizBarSeries horizontal bars growing from the vertical axis. Both derive
// from TCustomBarSeries, which holds the settings, the bar-width computation,
// the side-by-side and stacking arithmetic and the drawing of one bar in
// seven shapes. Bar series of the same kind in one chart cooperate.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/series.h"
#include "platform/sysutils.h"

class BarException : public Exception {
 public:
  using Exception::Exception;
};

enum TBarStyle { bsRectangle, bsPyramid, bsInvPyramid, bsCilinder, bsEllipse, bsArrow, bsRectGradient };
enum TMultiBar { mbNone, mbSide, mbStacked, mbStacked100 };

class TCustomBarSeries : public TChartSeries {
 public:
  TCustomBarSeries();

  bool AutoMarkPosition() const { return auto_mark_position_; }
  void SetAutoMarkPosition(bool v);
  // Fill style and optional pattern of the bars; its colour is only the
  // background of hatched fills.
  TChartBrush& BarBrush() { return bar_brush_; }
  const TChartBrush& BarBrush() const { return bar_brush_; }
  TChartPen& BarPen() { return bar_pen_; }
  const TChartPen& BarPen() const { return bar_pen_; }
  TBarStyle BarStyle() const { return bar_style_; }
  void SetBarStyle(TBarStyle v);
  int BarWidthPercent() const { return bar_width_percent_; }
  // 1..100, else BarException "Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.".
  void SetBarWidthPercent(int v);
  bool Dark3D() const { return dark_3d_; }
  void SetDark3D(bool v);
  TMultiBar MultiBar() const { return multi_bar_; }
  // Copies the value into every other same-kind series of the chart.
  void SetMultiBar(TMultiBar v);
  int OffsetPercent() const { return offset_percent_; }
  // -100..100, else BarException "Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.".
  void SetOffsetPercent(int v);
  bool SideMargins() const { return side_margins_; }
  // Copies the value into every other same-kind series of the chart.
  void SetSideMargins(bool v);
  bool UseYOrigin() const { return use_y_origin_; }
  void SetUseYOrigin(bool v);
  double YOrigin() const { return y_origin_; }
  void SetYOrigin(double v);

  // Lets the owner choose the shape of one bar.
  std::function<void(TCustomBarSeries&, int valueIndex, TBarStyle& style)> OnGetBarStyle;

  // --- working state and arithmetic ---------------------------------------
  int BarWidth() const { return bar_width_; }
  const TRect& BarBounds() const { return bar_bounds_; }
  // Number of bars that share one category, and this series' place among them.
  int NumBars() const;
  int BarOrder() const;
  // Computes BarWidth (before the chart takes series margins): the space per
  // category (one more with SideMargins) times BarWidthPercent, shared by the
  // bars side by side, made even.
  void CalcBarWidth();
  // The bar's base pixel: the origin value's position, or the running stack
  // below this series' value with stacking.
  int GetOriginPos(int valueIndex) const;
  // BarStyle, or what OnGetBarStyle makes of it.
  TBarStyle GetBarStyle(int valueIndex);
  // Room a mark takes along the value axis (the marks' font on the canvas).
  virtual int MarkExtent(int valueIndex) = 0;
  // Pixels per category when n categories share the axis.
  virtual int SizePerPoint(int n) const = 0;

  // --- overrides ------------------------------------------------------------
  int NumSampleValues() const override { return 6; }
  double PointOrigin(int index, bool sumAll) const override;
  void CalcZOrder() override;
  void PrepareLegendCanvas(int valueIndex, TColor& backColor, platform::TBrushStyle& style) override;
  bool DrawValueByValue() const override { return true; }
  bool SameKindAs(const TChartSeries& other) const override;
  void DrawValue(int valueIndex) override;
  // Values drawn from the last to the first when the category axis is inverted.
  bool DrawValuesForward() const override;
  // Direction of a same-depth group: with stacking, towards the viewer along
  // the value axis.
  bool DrawSeriesForward(int index) const override;
  void Assign(const TCustomBarSeries& other);

 protected:
  // Draws the bar in BarBounds whose value extent runs from startPos to
  // endPos (startPos <= endPos).
  virtual void DrawBar(int valueIndex, int startPos, int endPos) = 0;
  // True for bars standing on the horizontal axis.
  virtual bool Vertical() const = 0;
  // The room of the largest mark along the value axis.
  virtual int MarkExtentAll() = 0;

  // The shared drawing of DrawBar: pen and brush, then the shape of the style.
  void DrawBarShape(int valueIndex, int startPos, int endPos);
  // The flat bar: a line when it has no extent, its outline in the bar colour
  // when it is thinner than the pen, else a rectangle.
  void BarRectangle(int left, int top, int right, int bottom);
  void PrepareBarCanvas();
  // The bar series of this kind in the chart's list (this one included).
  std::vector<TCustomBarSeries*> SameKindSeries() const;
  // Shift of the bar's near edge from its category's position.
  int CategoryOffset() const;
  // The series' extent along the value axis from its own extent `own` (its
  // largest value when `maximum`, else its smallest): 0..100 for stacks to
  // 100 %, reaching the stacks' ends and the origin when it is used.
  double ValueExtent(double own, bool maximum) const;
  int ValuePos(double value) const;
  int StackedPos(int index, double ownValue) const;
  // Position of the bar's value end along the value axis.
  int ValueEndPos(int index) const;
  // Margin along the category axis: a bar group, halved without SideMargins.
  int CategoryMargin();
  // Room for the marks along the value axis (0 without marks or values).
  int MarkRoom();
  // Adds the mark room before the origin (low) and beyond the ends (high).
  void ValueMargins(int& low, int& high, bool inverted, int depthExtra);
  template <typename T>
  void Store(T& field, T value) {
    if (field != value) {
      field = std::move(value);
      Repaint();
    }
  }

  // Thickness across the category axis set by the concrete kind (pixels, 0 = computed).
  int custom_bar_size_ = 0;
  int bar_width_ = 0;
  TRect bar_bounds_{};
  TColor bar_color_ = clAutomatic;

 private:
  bool auto_mark_position_ = true;
  TChartBrush bar_brush_;
  TChartPen bar_pen_;
  TBarStyle bar_style_ = bsRectangle;
  int bar_width_percent_ = 70;
  bool dark_3d_ = true;
  TMultiBar multi_bar_ = mbSide;
  int offset_percent_ = 0;
  bool side_margins_ = true;
  bool use_y_origin_ = true;
  double y_origin_ = 0.0;
};

class TBarSeries : public TCustomBarSeries {
 public:
  TBarSeries();

  int CustomBarWidth() const { return custom_bar_size_; }
  void SetCustomBarWidth(int v);

  int MarkExtent(int valueIndex) override;
  int SizePerPoint(int n) const override;
  int CalcXPos(int index) const override;
  int CalcYPos(int index) const override;
  double MaxYValue() const override;
  double MinYValue() const override;
  void AskHorizMargins(int& left, int& right) override;
  void AskVertMargins(int& top, int& bottom) override;
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;

 protected:
  void DrawBar(int valueIndex, int startPos, int endPos) override { DrawBarShape(valueIndex, startPos, endPos); }
  bool Vertical() const override { return true; }
  int MarkExtentAll() override;
};

class THorizBarSeries : public TCustomBarSeries {
 public:
  THorizBarSeries();

  int CustomBarHeight() const { return custom_bar_size_; }
  void SetCustomBarHeight(int v);

  TChartValueList& MainValueList() override { return x_values_; }
  double MarkValue(int index) const override { return XValue(index); }
  int MarkExtent(int valueIndex) override;
  int SizePerPoint(int n) const override;
  int CalcXPos(int index) const override;
  int CalcYPos(int index) const override;
  double MaxXValue() const override;
  double MinXValue() const override;
  void AskHorizMargins(int& left, int& right) override;
  void AskVertMargins(int& top, int& bottom) override;
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;

 protected:
  void DrawBar(int valueIndex, int startPos, int endPos) override { DrawBarShape(valueIndex, startPos, endPos); }
  bool Vertical() const override { return false; }
  int MarkExtentAll() override;
};
