#include "chart/wall.h"

#include "chart/chart.h"

TChartWall::TChartWall(TCustomChart* chart, TColor colour) : chart_(chart), color_(colour) {
  auto repaint = [this] {
    if (chart_) chart_->Repaint();
  };
  brush_.OnChange = repaint;
  pen_.OnChange = repaint;
}

void TChartWall::SetColor(TColor v) { StoreAndRepaint(color_, v, chart_); }
void TChartWall::SetSize(int v) { StoreAndRepaint(size_, v, chart_); }

bool TChartWall::PrepareCanvas() const {
  TChartCanvas3D& c = chart_->Canvas();
  c.AssignPen(pen_);
  if (brush_.Image()) {
    c.AssignBrush(brush_);
    return false;
  }
  if (color_ == clAutomatic && brush_.Style() == platform::bsSolid) {
    c.Brush().Style = platform::bsClear;
    c.Brush().Image.reset();
    return false;
  }
  c.Brush() = platform::TBrush{color_, brush_.Style(), nullptr};
  c.SetBackColor(brush_.Color());
  return brush_.Style() != platform::bsClear;
}

void TChartWall::Assign(const TChartWall& other) {
  brush_.Assign(other.brush_);
  color_ = other.color_;
  pen_.Assign(other.pen_);
  size_ = other.size_;
  if (chart_) chart_->Repaint();
}
