// Bar series: TBarSeries draws vertical bars standing on the horizontal axis,
// THorizBarSeries horizontal bars growing from the vertical axis. Both derive
// from TCustomBarSeries, which holds the settings, the bar-width computation,
// the side-by-side and stacking arithmetic and the drawing of one bar in
// seven shapes. Bar series of the same kind in one chart cooperate.
#pragma once

#include <functional>

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
  // Computes BarWidth (before the chart takes series margins).
  void CalcBarWidth();
  // The bar's base pixel.
  int GetOriginPos(int valueIndex) const;
  TBarStyle GetBarStyle(int valueIndex);
  virtual int MarkExtent(int valueIndex) = 0;
  virtual int SizePerPoint(int n) const = 0;

  // --- overrides ------------------------------------------------------------
  int NumSampleValues() const override { return 6; }
  double PointOrigin(int index, bool sumAll) const override;
  void CalcZOrder() override;
  void PrepareLegendCanvas(int valueIndex, TColor& backColor, platform::TBrushStyle& style) override;
  bool DrawValueByValue() const override { return true; }
  bool SameKindAs(const TChartSeries& other) const override;
  void DrawValue(int valueIndex) override;
  void Assign(const TCustomBarSeries& other);

 protected:
  virtual void DrawBar(int valueIndex, int startPos, int endPos) = 0;
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
  bool DrawValuesForward() const override;
  bool DrawSeriesForward(int index) const override;
  void AskHorizMargins(int& left, int& right) override;
  void AskVertMargins(int& top, int& bottom) override;
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;

 protected:
  void DrawBar(int valueIndex, int startPos, int endPos) override;
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
  bool DrawValuesForward() const override;
  bool DrawSeriesForward(int index) const override;
  void AskHorizMargins(int& left, int& right) override;
  void AskVertMargins(int& top, int& bottom) override;
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;

 protected:
  void DrawBar(int valueIndex, int startPos, int endPos) override;
};
