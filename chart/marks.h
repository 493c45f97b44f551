// Series marks: the small labelled boxes a series draws next to its points,
// each joined to its point by an arrow line. TSeriesMarks holds one series'
// mark settings, composes each mark's text and draws boxes, arrows and text.
#pragma once

#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/chart_font.h"
#include "platform/color.h"
#include "platform/geometry.h"

class TChartSeries;

enum TSeriesMarksStyle {
  smsValue,
  smsPercent,
  smsLabel,
  smsLabelPercent,
  smsLabelValue,
  smsLegend,
  smsPercentTotal,
  smsLabelPercentTotal,
  smsXValue
};

// Where one mark and its arrow are drawn.
struct TSeriesMarkPosition {
  TPoint ArrowFrom{};
  TPoint ArrowTo{};
  bool Custom = false;
  int Height = 0;
  TPoint LeftTop{};
  int Width = 0;
};

class TSeriesMarks {
 public:
  explicit TSeriesMarks(TChartSeries* owner);

  TChartSeries* Owner() const { return owner_; }

  // Arrow line: visible, white, width 1.
  TChartPen& Arrow() { return arrow_; }
  const TChartPen& Arrow() const { return arrow_; }
  int ArrowLength() const { return arrow_length_; }
  void SetArrowLength(int value);
  TColor BackColor() const { return back_color_; }
  void SetBackColor(TColor value);
  bool Clip() const { return clip_; }
  void SetClip(bool value);
  TChartFont& Font() { return font_; }
  const TChartFont& Font() const { return font_; }
  // Box outline: visible, black, width 1.
  TChartPen& Frame() { return frame_; }
  const TChartPen& Frame() const { return frame_; }
  TSeriesMarksStyle Style() const { return style_; }
  void SetStyle(TSeriesMarksStyle value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);

  // Depth of the marks (the series' MiddleZ), set by the chart's pipeline.
  int ZPosition() const { return z_position_; }
  void SetZPosition(int z) { z_position_ = z; }

  // Remembered positions, by value index.
  std::vector<TSeriesMarkPosition>& Positions() { return positions_; }
  void ClearPositions() { positions_.clear(); }
  void DeletePosition(int index);

  // The text of the mark of a value, composed by Style and passed through
  // the series' OnGetMarkText.
  std::string MarkText(int valueIndex) const;
  // Draws the marks of the series' visible values (after its values).
  void DrawMarks();
  // Draws one mark box with its arrow and text (the end of the series'
  // DrawMark).
  void DrawItem(int valueIndex, TColor colour, const std::string& text, TSeriesMarkPosition& position);

  void Assign(const TSeriesMarks& other);

 private:
  void Repaint() const;
  // A box for text at point as DrawMarks starts it: as wide as the widest
  // line plus a "W", one "W" height per line, grown by the frame; centred
  // above the point, with the arrow still of zero length.
  TSeriesMarkPosition MeasureItem(const std::string& text, TPoint point);

  TChartSeries* owner_;
  TChartPen arrow_;
  int arrow_length_ = 8;
  TColor back_color_ = 0x80FFFF;
  bool clip_ = false;
  TChartFont font_;
  TChartPen frame_;
  TSeriesMarksStyle style_ = smsLabel;
  bool transparent_ = false;
  bool visible_ = false;
  int z_position_ = 0;
  std::vector<TSeriesMarkPosition> positions_;
};
