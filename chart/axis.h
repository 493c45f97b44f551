// The chart's axes. An axis maps the values of its series to pixels along one
// edge of the plotting rectangle, chooses its scale from the data, picks a
// label increment that keeps labels from crowding and draws its line, ticks,
// grid, labels and title. The chart has five: left, right, top and bottom
// (TChartAxis) and the depth axis (TChartDepthAxis).
#pragma once

#include <string>
#include <vector>

#include "chart/axis_math.h"
#include "chart/canvas3d.h"
#include "chart/chart_font.h"
#include "platform/geometry.h"
#include "platform/sysutils.h"

class TCustomAxisPanel;
class TChartSeries;

class AxisException : public Exception {
 public:
  using Exception::Exception;
};

enum TAxisLabelStyle { talAuto, talNone, talValue, talMark, talText };

class TChartAxisTitle {
 public:
  int Angle() const { return angle_; }
  void SetAngle(int value) { angle_ = value; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string value) { caption_ = std::move(value); }
  TChartFont& Font() { return font_; }
  const TChartFont& Font() const { return font_; }

 private:
  int angle_ = 0;
  std::string caption_;
  TChartFont font_;
};

class TCustomChartAxis {
 public:
  // horizontal: top and bottom axes; otherSide: top and right axes.
  TCustomChartAxis(TCustomAxisPanel* chart, bool horizontal, bool otherSide);
  virtual ~TCustomChartAxis() = default;
  TCustomChartAxis(const TCustomChartAxis&) = delete;
  TCustomChartAxis& operator=(const TCustomChartAxis&) = delete;

  TCustomAxisPanel* ParentChart() const { return chart_; }

  // --- published settings -------------------------------------------------
  bool Automatic() const { return automatic_; }
  void SetAutomatic(bool v);
  bool AutomaticMaximum() const { return automatic_maximum_; }
  void SetAutomaticMaximum(bool v);
  bool AutomaticMinimum() const { return automatic_minimum_; }
  void SetAutomaticMinimum(bool v);
  double Increment() const { return increment_; }
  // Raises AxisException "Achsen-Steigung muß >= 0 sein." for v < 0.
  void SetIncrement(double v);
  double Maximum() const { return maximum_; }
  // Raises AxisException "Wert für Achsenmaximum muß >= Minimum sein.".
  void SetMaximum(double v);
  double Minimum() const { return minimum_; }
  // Raises AxisException "Wert für Achsenminimum muß <= Maximum sein.".
  void SetMinimum(double v);
  // Sets both ends at once without the order checks.
  void SetMinMax(double minimum, double maximum);
  bool Logarithmic() const { return logarithmic_; }
  void SetLogarithmic(bool v);
  TChartPen& Axis() { return axis_; }
  const TChartPen& Axis() const { return axis_; }
  TChartAxisTitle& Title() { return title_; }
  const TChartAxisTitle& Title() const { return title_; }
  int TitleSize() const { return title_size_; }
  void SetTitleSize(int v);
  TDottedGrayPen& Grid() { return grid_; }
  const TDottedGrayPen& Grid() const { return grid_; }
  bool GridCentered() const { return grid_centered_; }
  void SetGridCentered(bool v);
  bool Labels() const { return labels_; }
  void SetLabels(bool v);
  int LabelsAngle() const { return labels_angle_; }
  // 0..360 (360 is stored as 0); otherwise ChartException
  // "Achsenbeschriftung-Winkel muß zwischen 0 und 359 Grad liegen.".
  void SetLabelsAngle(int v);
  TChartFont& LabelsFont() { return labels_font_; }
  const TChartFont& LabelsFont() const { return labels_font_; }
  bool LabelsOnAxis() const { return labels_on_axis_; }
  void SetLabelsOnAxis(bool v);
  int LabelsSeparation() const { return labels_separation_; }
  // Raises AxisException "Beschriftungssabstand muß größer als 0 sein." for v < 0.
  void SetLabelsSeparation(int v);
  int LabelsSize() const { return labels_size_; }
  void SetLabelsSize(int v);
  TAxisLabelStyle LabelStyle() const { return label_style_; }
  void SetLabelStyle(TAxisLabelStyle v);
  const std::string& AxisValuesFormat() const { return axis_values_format_; }
  void SetAxisValuesFormat(std::string v);
  const std::string& DateTimeFormat() const { return date_time_format_; }
  void SetDateTimeFormat(std::string v);
  bool ExactDateTime() const { return exact_date_time_; }
  void SetExactDateTime(bool v);
  bool RoundFirstLabel() const { return round_first_label_; }
  void SetRoundFirstLabel(bool v);
  bool LabelsMultiLine() const { return labels_multi_line_; }
  void SetLabelsMultiLine(bool v);
  int MinorTickCount() const { return minor_tick_count_; }
  void SetMinorTickCount(int v);
  int MinorTickLength() const { return minor_tick_length_; }
  void SetMinorTickLength(int v);
  TDarkGrayPen& MinorTicks() { return minor_ticks_; }
  const TDarkGrayPen& MinorTicks() const { return minor_ticks_; }
  TDarkGrayPen& Ticks() { return ticks_; }
  const TDarkGrayPen& Ticks() const { return ticks_; }
  TDarkGrayPen& TicksInner() { return ticks_inner_; }
  const TDarkGrayPen& TicksInner() const { return ticks_inner_; }
  int TickInnerLength() const { return tick_inner_length_; }
  void SetTickInnerLength(int v);
  int TickLength() const { return tick_length_; }
  void SetTickLength(int v);
  bool TickOnLabelsOnly() const { return tick_on_labels_only_; }
  void SetTickOnLabelsOnly(bool v);
  bool Inverted() const { return inverted_; }
  void SetInverted(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  // --- state of the current drawing ---------------------------------------
  bool Horizontal() const { return horizontal_; }
  bool OtherSide() const { return other_side_; }
  bool IsDepthAxis() const { return is_depth_axis_; }
  bool IsDateTime() const { return is_date_time_; }
  double IMinimum() const { return i_minimum_; }
  double IMaximum() const { return i_maximum_; }
  double IRange() const { return i_range_; }
  int PosAxis() const { return pos_axis_; }
  int PosLabels() const { return pos_labels_; }
  int PosTitle() const { return pos_title_; }

  // Recomputes the automatic ends from the bound series, then IMinimum,
  // IMaximum and IRange. A series is bound when it is active and scaled by
  // this axis; without one the automatic ends are 0.
  void AdjustMaxMin();
  // The active series this axis scales, in list order (every active series
  // for the depth axis).
  std::vector<TChartSeries*> BoundSeries() const;
  // LabelStyle with talAuto resolved: talNone without a bound series,
  // talText when the first bound series runs along this axis by its X
  // values and some bound series has labels, talValue otherwise.
  TAxisLabelStyle ResolvedLabelStyle() const;
  // Pixel of a value along the axis, and the value at a pixel.
  int CalcPosValue(double value) const;
  double CalcPosPoint(int pixel) const;
  // Value label text.
  std::string LabelValue(double value) const;
  // Shrinks rect by the room of the title, labels, ticks and the wall on this
  // axis' side.
  void CalcRect(TRect& rect);
  // Widens the scale so that the series' margins (pixels: left and right for
  // a horizontal axis, top and bottom for a vertical one) fall outside the
  // first and last value.
  void ApplyMargins(int lowMargin, int highMargin);
  // The label increment for the current scale and PlotRect (measures the
  // end labels in LabelsFont on the chart's canvas).
  double CalcIncrement();
  // The values that get a value label with the current scale, top first.
  std::vector<double> CalcLabelValues();
  // Draws ticks, grid, labels, the axis line and the title.
  void Draw();
  // Labels drawn by the last Draw (text labels may be skipped to avoid
  // overlaps).
  int DrawnLabelCount() const { return drawn_labels_; }

 protected:
  struct TextLabel {
    double value;
    std::string text;
  };
  axis_math::ScaleGeometry Geometry() const;
  TSize LabelExtent(const std::string& text);
  int LabelSize(const std::string& text);
  int MaxLabelRoom();
  std::vector<TextLabel> TextLabels(TAxisLabelStyle style) const;
  void DrawTick(int p, int offset, int length, int wall);
  void DrawGrid(int p);
  void DrawTicksAndGrid(int p, bool atEnd, bool first, int wall);
  void DrawLabelText(int p, const std::string& text);
  void DrawAxisLine(int wall);
  void DrawTitle();
  void Repaint() const;
  template <typename T>
  void Store(T& field, T value) {
    if (field != value) {
      field = std::move(value);
      Repaint();
    }
  }

  TCustomAxisPanel* chart_;
  bool horizontal_;
  bool other_side_;
  bool is_depth_axis_ = false;
  bool is_date_time_ = false;

  bool automatic_ = true;
  bool automatic_maximum_ = true;
  bool automatic_minimum_ = true;
  double increment_ = 0;
  double maximum_ = 0;
  double minimum_ = 0;
  bool logarithmic_ = false;
  TChartPen axis_;
  TChartAxisTitle title_;
  int title_size_ = 0;
  TDottedGrayPen grid_;
  bool grid_centered_ = false;
  bool labels_ = true;
  int labels_angle_ = 0;
  TChartFont labels_font_;
  bool labels_on_axis_ = true;
  int labels_separation_ = 10;
  int labels_size_ = 0;
  TAxisLabelStyle label_style_ = talAuto;
  std::string axis_values_format_ = "#,##0.###";
  std::string date_time_format_;
  bool exact_date_time_ = true;
  bool round_first_label_ = true;
  bool labels_multi_line_ = false;
  int minor_tick_count_ = 3;
  int minor_tick_length_ = 2;
  TDarkGrayPen minor_ticks_;
  TDarkGrayPen ticks_;
  TDarkGrayPen ticks_inner_;
  int tick_inner_length_ = 0;
  int tick_length_ = 4;
  bool tick_on_labels_only_ = true;
  bool inverted_ = false;
  bool visible_ = true;

  double i_minimum_ = 0;
  double i_maximum_ = 0;
  double i_range_ = 0;
  int pos_axis_ = 0;
  int pos_labels_ = 0;
  int pos_title_ = 0;
  int old_position_ = 0;
  int drawn_labels_ = 0;
};

class TChartAxis : public TCustomChartAxis {
 public:
  using TCustomChartAxis::TCustomChartAxis;
};

class TChartDepthAxis : public TCustomChartAxis {
 public:
  explicit TChartDepthAxis(TCustomAxisPanel* chart);
};
