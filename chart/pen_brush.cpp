#include "chart/pen_brush.h"

TChartPen::TChartPen(TColor colour, platform::TPenStyle style, bool visible) : visible_(visible) {
  pen_.Color = colour;
  pen_.Style = style;
}

void TChartPen::Assign(const TChartPen& other) {
  pen_ = other.pen_;
  visible_ = other.visible_;
  Changed();
}

void TChartPen::Assign(const platform::TPen& other) {
  pen_ = other;
  Changed();
}

void TChartBrush::Assign(const TChartBrush& other) {
  brush_ = other.brush_;
  if (OnChange) OnChange();
}
