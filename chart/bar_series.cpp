#include "chart/bar_series.h"

#include "chart/chart.h"

TCustomBarSeries::TCustomBarSeries() {
  marks_.SetVisible(true);
  marks_.SetArrowLength(20);
}

void TCustomBarSeries::SetAutoMarkPosition(bool v) { auto_mark_position_ = v; }
void TCustomBarSeries::SetBarStyle(TBarStyle v) { bar_style_ = v; }
void TCustomBarSeries::SetBarWidthPercent(int v) {
  if (v < 1 || v > 100) throw BarException("Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.");
  bar_width_percent_ = v;
}
void TCustomBarSeries::SetDark3D(bool v) { dark_3d_ = v; }
void TCustomBarSeries::SetMultiBar(TMultiBar v) { multi_bar_ = v; }
void TCustomBarSeries::SetOffsetPercent(int v) {
  if (v < -100 || v > 100)
    throw BarException("Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.");
  offset_percent_ = v;
}
void TCustomBarSeries::SetSideMargins(bool v) { side_margins_ = v; }
void TCustomBarSeries::SetUseYOrigin(bool v) { use_y_origin_ = v; }
void TCustomBarSeries::SetYOrigin(double v) { y_origin_ = v; }

int TCustomBarSeries::NumBars() const { return 1; }
int TCustomBarSeries::BarOrder() const { return 1; }
void TCustomBarSeries::CalcBarWidth() {}
int TCustomBarSeries::GetOriginPos(int /*valueIndex*/) const { return 0; }
TBarStyle TCustomBarSeries::GetBarStyle(int valueIndex) {
  TBarStyle style = bar_style_;
  if (OnGetBarStyle) OnGetBarStyle(*this, valueIndex, style);
  return style;
}
double TCustomBarSeries::PointOrigin(int index, bool sumAll) const { return TChartSeries::PointOrigin(index, sumAll); }
void TCustomBarSeries::CalcZOrder() { TChartSeries::CalcZOrder(); }
void TCustomBarSeries::PrepareLegendCanvas(int /*valueIndex*/, TColor& /*backColor*/,
                                           platform::TBrushStyle& /*style*/) {}
bool TCustomBarSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TCustomBarSeries*>(&other) != nullptr && TChartSeries::SameKindAs(other);
}
void TCustomBarSeries::DrawValue(int /*valueIndex*/) {}
void TCustomBarSeries::Assign(const TCustomBarSeries& other) {
  bar_width_percent_ = other.bar_width_percent_;
  bar_style_ = other.bar_style_;
  use_y_origin_ = other.use_y_origin_;
  y_origin_ = other.y_origin_;
  bar_pen_.Assign(other.bar_pen_);
  bar_brush_.Assign(other.bar_brush_);
  multi_bar_ = other.multi_bar_;
  custom_bar_size_ = other.custom_bar_size_;
  side_margins_ = other.side_margins_;
  dark_3d_ = other.dark_3d_;
  offset_percent_ = other.offset_percent_;
  auto_mark_position_ = other.auto_mark_position_;
}

TBarSeries::TBarSeries() { y_values_.SetName("Balken"); }
void TBarSeries::SetCustomBarWidth(int v) { custom_bar_size_ = v; }
int TBarSeries::MarkExtent(int /*valueIndex*/) { return 0; }
int TBarSeries::SizePerPoint(int n) const { return n > 0 && ParentChart() ? ParentChart()->PlotWidth() / n : 0; }
int TBarSeries::CalcXPos(int index) const { return TChartSeries::CalcXPos(index); }
int TBarSeries::CalcYPos(int index) const { return TChartSeries::CalcYPos(index); }
double TBarSeries::MaxYValue() const { return TChartSeries::MaxYValue(); }
double TBarSeries::MinYValue() const { return TChartSeries::MinYValue(); }
bool TBarSeries::DrawValuesForward() const { return true; }
bool TBarSeries::DrawSeriesForward(int /*index*/) const { return true; }
void TBarSeries::AskHorizMargins(int& left, int& right) { left = right = 0; }
void TBarSeries::AskVertMargins(int& top, int& bottom) { top = bottom = 0; }
void TBarSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  TChartSeries::DrawMark(index, text, position);
}
void TBarSeries::DrawBar(int /*valueIndex*/, int /*startPos*/, int /*endPos*/) {}

THorizBarSeries::THorizBarSeries() {
  x_values_.SetName("Balken");
  x_values_.SetOrder(loNone);
}
void THorizBarSeries::SetCustomBarHeight(int v) { custom_bar_size_ = v; }
int THorizBarSeries::MarkExtent(int /*valueIndex*/) { return 0; }
int THorizBarSeries::SizePerPoint(int n) const {
  return n > 0 && ParentChart() ? ParentChart()->PlotHeight() / n : 0;
}
int THorizBarSeries::CalcXPos(int index) const { return TChartSeries::CalcXPos(index); }
int THorizBarSeries::CalcYPos(int index) const { return TChartSeries::CalcYPos(index); }
double THorizBarSeries::MaxXValue() const { return TChartSeries::MaxXValue(); }
double THorizBarSeries::MinXValue() const { return TChartSeries::MinXValue(); }
bool THorizBarSeries::DrawValuesForward() const { return true; }
bool THorizBarSeries::DrawSeriesForward(int /*index*/) const { return true; }
void THorizBarSeries::AskHorizMargins(int& left, int& right) { left = right = 0; }
void THorizBarSeries::AskVertMargins(int& top, int& bottom) { top = bottom = 0; }
void THorizBarSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  TChartSeries::DrawMark(index, text, position);
}
void THorizBarSeries::DrawBar(int /*valueIndex*/, int /*startPos*/, int /*endPos*/) {}
