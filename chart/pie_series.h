// Pie series: TCircledSeries owns the circle geometry (rectangle, radii,
// centre, rotation) and takes over the chart while it is active (no axes,
// no walls, its own 3D view); TPieSeries draws the values as slices, flat
// or as a 3D disc, with exploded slices and an optional "other" slice that
// collects small values. The arithmetic lives in pie_math.
#pragma once

#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/chart.h"
#include "chart/pie_math.h"
#include "chart/series.h"

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
  // The axes' current range: a circled series never widens an axis.
  double MaxXValue() const override;
  double MinXValue() const override;
  double MaxYValue() const override;
  double MinYValue() const override;
  bool AssociatedToAxis(const TCustomChartAxis&) const override { return false; }

  // Switches the chart's axes, point clipping, 3D walls, frame and back wall
  // fill on (enable) or off, then sets the pie's 3D view.
  void SetParentProperties(bool enable);

  // The circle of the current drawing.
  const pie_math::TCircle& Circle() const { return circle_; }
  // Computes the circle inside PlotRect, with room for the marks.
  void DoBeforeDrawValues() override;

 protected:
  // The same set of series: this class or one of its ancestors.
  template <class Fn>
  void ForSameClassSeries(Fn fn);

  pie_math::TCircle circle_;

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

  // The slice angles of the current drawing, one per value.
  const std::vector<pie_math::TPieAngle>& Angles() const { return angles_; }
  // True when a value is folded into the other slice.
  bool Folded(int index) const;

  // Removes the other slice of the previous drawing and folds small values
  // into a new one.
  void DoBeforeDrawChart() override;
  void DrawVisibleValues() override;
  void DrawValue(int valueIndex) override;
  // Draws one slice with the prepared brush.
  virtual void DrawPie(int valueIndex);
  void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) override;
  int CountLegendItems() const override;
  int LegendToValueIndex(int legendIndex) const override;
  void PrepareLegendCanvas(int valueIndex, TColor& backColor, platform::TBrushStyle& style) override;
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
  std::vector<pie_math::TPieAngle> angles_;
  bool is_exploded_ = false;
  TPoint slice_start_{};
};
