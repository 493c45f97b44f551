// The chart's title above and foot below the plotting area: lines of text,
// optionally framed. A settings object owned by the chart; it takes its room
// from the chart's PlotRect as it is drawn.
#pragma once

#include <string>
#include <vector>

#include "chart/chart_font.h"
#include "chart/pen_brush.h"
#include "platform/geometry.h"

class TCustomChart;

enum TTitleAlignment { taLeftJustify, taRightJustify, taCenter };

// Title (above the plotting area) and foot (below it).
class TChartTitle {
 public:
  TChartTitle(TCustomChart* chart, bool isFoot);

  bool AdjustFrame() const { return adjust_frame_; }
  void SetAdjustFrame(bool v);
  TTitleAlignment Alignment() const { return alignment_; }
  void SetAlignment(TTitleAlignment v);
  // Box fill; clAutomatic = transparent.
  TChartBrush& Brush() { return brush_; }
  TChartFont& Font() { return font_; }
  const TChartFont& Font() const { return font_; }
  TChartHiddenPen& Frame() { return frame_; }
  const TChartHiddenPen& Frame() const { return frame_; }
  std::vector<std::string>& Text() { return text_; }
  const std::vector<std::string>& Text() const { return text_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool IsFoot() const { return is_foot_; }

  // The box of the last drawing.
  const TRect& TitleRect() const { return title_rect_; }
  // Draws the lines and moves PlotRect's top (title) or bottom (foot).
  void Draw();

  void Assign(const TChartTitle& other);

 private:
  TCustomChart* chart_;
  bool is_foot_;
  bool adjust_frame_ = true;
  TTitleAlignment alignment_ = taCenter;
  TChartBrush brush_;
  TChartFont font_{clBlue};
  TChartHiddenPen frame_;
  std::vector<std::string> text_;
  bool visible_ = true;
  TRect title_rect_{};
};
