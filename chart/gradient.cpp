#include "chart/gradient.h"

#include "chart/chart.h"

void TChartGradient::Repaint() const {
  if (chart_) chart_->Repaint();
}
void TChartGradient::SetDirection(TGradientDirection v) { StoreAndRepaint(direction_, v, chart_); }
void TChartGradient::SetEndColor(TColor v) { StoreAndRepaint(end_color_, v, chart_); }
void TChartGradient::SetStartColor(TColor v) { StoreAndRepaint(start_color_, v, chart_); }
void TChartGradient::SetVisible(bool v) { StoreAndRepaint(visible_, v, chart_); }

void TChartGradient::Assign(const TChartGradient& other) {
  direction_ = other.direction_;
  end_color_ = other.end_color_;
  start_color_ = other.start_color_;
  visible_ = other.visible_;
  Repaint();
}
