#include "chart/axis.h"

#include <cmath>

#include "chart/chart.h"

TCustomChartAxis::TCustomChartAxis(TCustomAxisPanel* chart, bool horizontal, bool otherSide)
    : chart_(chart), horizontal_(horizontal), other_side_(otherSide) {
  axis_.SetWidth(2);
}

TChartDepthAxis::TChartDepthAxis(TCustomAxisPanel* chart) : TCustomChartAxis(chart, false, false) {
  is_depth_axis_ = true;
  visible_ = false;
}

void TCustomChartAxis::SetAutomatic(bool v) { automatic_ = v; }
void TCustomChartAxis::SetAutomaticMaximum(bool v) { automatic_maximum_ = v; }
void TCustomChartAxis::SetAutomaticMinimum(bool v) { automatic_minimum_ = v; }
void TCustomChartAxis::SetIncrement(double v) {
  if (v < 0) throw AxisException("Achsen-Steigung muß >= 0 sein.");
  increment_ = v;
}
void TCustomChartAxis::SetMaximum(double v) {
  if (v < minimum_) throw AxisException("Wert für Achsenmaximum muß >= Minimum sein.");
  maximum_ = v;
}
void TCustomChartAxis::SetMinimum(double v) {
  if (v > maximum_) throw AxisException("Wert für Achsenminimum muß <= Maximum sein.");
  minimum_ = v;
}
void TCustomChartAxis::SetMinMax(double minimum, double maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}
void TCustomChartAxis::SetLogarithmic(bool v) { logarithmic_ = v; }
void TCustomChartAxis::SetTitleSize(int v) { title_size_ = v; }
void TCustomChartAxis::SetGridCentered(bool v) { grid_centered_ = v; }
void TCustomChartAxis::SetLabels(bool v) { labels_ = v; }
void TCustomChartAxis::SetLabelsAngle(int v) { labels_angle_ = v % 360; }
void TCustomChartAxis::SetLabelsOnAxis(bool v) { labels_on_axis_ = v; }
void TCustomChartAxis::SetLabelsSeparation(int v) { labels_separation_ = v; }
void TCustomChartAxis::SetLabelsSize(int v) { labels_size_ = v; }
void TCustomChartAxis::SetLabelStyle(TAxisLabelStyle v) { label_style_ = v; }
void TCustomChartAxis::SetAxisValuesFormat(std::string v) { axis_values_format_ = std::move(v); }
void TCustomChartAxis::SetDateTimeFormat(std::string v) { date_time_format_ = std::move(v); }
void TCustomChartAxis::SetExactDateTime(bool v) { exact_date_time_ = v; }
void TCustomChartAxis::SetRoundFirstLabel(bool v) { round_first_label_ = v; }
void TCustomChartAxis::SetLabelsMultiLine(bool v) { labels_multi_line_ = v; }
void TCustomChartAxis::SetMinorTickCount(int v) { minor_tick_count_ = v; }
void TCustomChartAxis::SetMinorTickLength(int v) { minor_tick_length_ = v; }
void TCustomChartAxis::SetTickInnerLength(int v) { tick_inner_length_ = v; }
void TCustomChartAxis::SetTickLength(int v) { tick_length_ = v; }
void TCustomChartAxis::SetTickOnLabelsOnly(bool v) { tick_on_labels_only_ = v; }
void TCustomChartAxis::SetInverted(bool v) { inverted_ = v; }
void TCustomChartAxis::SetVisible(bool v) { visible_ = v; }

void TCustomChartAxis::AdjustMaxMin() {
  i_minimum_ = minimum_;
  i_maximum_ = maximum_;
  i_range_ = i_maximum_ - i_minimum_;
}

int TCustomChartAxis::CalcPosValue(double value) const {
  const TRect& r = chart_->PlotRect();
  if (is_depth_axis_) {
    if (i_range_ == 0) return chart_->Width3D();
    return static_cast<int>(std::lround(chart_->Width3D() * (value - i_minimum_) / i_range_));
  }
  if (i_range_ == 0) return horizontal_ ? chart_->PlotXCenter() : chart_->PlotYCenter();
  const int size = horizontal_ ? chart_->PlotWidth() : -chart_->PlotHeight();
  const int p = static_cast<int>(std::lround((value - i_minimum_) * size / i_range_));
  const int start = horizontal_ ? r.Left : r.Bottom;
  const int end = horizontal_ ? r.Right : r.Top;
  return inverted_ ? end - p : start + p;
}

double TCustomChartAxis::CalcPosPoint(int pixel) const {
  const TRect& r = chart_->PlotRect();
  if (horizontal_) {
    if (chart_->PlotWidth() <= 0) return 0;
    const int d = inverted_ ? r.Right - pixel : pixel - r.Left;
    return i_minimum_ + d * i_range_ / chart_->PlotWidth();
  }
  if (chart_->PlotHeight() <= 0) return 0;
  const int d = inverted_ ? r.Bottom - pixel : pixel - r.Top;
  return i_maximum_ - d * i_range_ / chart_->PlotHeight();
}

std::string TCustomChartAxis::LabelValue(double value) const { return std::to_string(value); }
void TCustomChartAxis::CalcRect(TRect& /*rect*/) {}
void TCustomChartAxis::ApplyMargins(int /*lowMargin*/, int /*highMargin*/) {}
double TCustomChartAxis::CalcIncrement() const { return 1; }
void TCustomChartAxis::Draw() {}
