// The chart's background gradient: direction and the two colours. A settings
// object owned by the chart; the canvas draws it (TChartCanvas3D::GradientFill).
#pragma once

#include "chart/canvas3d.h"
#include "platform/color.h"

class TCustomChart;

class TChartGradient {
 public:
  explicit TChartGradient(TCustomChart* chart) : chart_(chart) {}

  TGradientDirection Direction() const { return direction_; }
  void SetDirection(TGradientDirection v);
  TColor EndColor() const { return end_color_; }
  void SetEndColor(TColor v);
  TColor StartColor() const { return start_color_; }
  void SetStartColor(TColor v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  void Assign(const TChartGradient& other);

 private:
  void Repaint() const;
  TCustomChart* chart_;
  TGradientDirection direction_ = gdTopBottom;
  TColor end_color_ = 0x00FFFF;
  TColor start_color_ = clWhite;
  bool visible_ = false;
};
