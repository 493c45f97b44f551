// The chart's legend: the box listing series or values with coloured
// symbols. A settings object owned by the chart; it takes its room from the
// chart's PlotRect as it is drawn.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/chart_font.h"
#include "platform/color.h"
#include "platform/geometry.h"
#include "platform/sysutils.h"

class TCustomChart;
class TChartSeries;

class LegendException : public Exception {
 public:
  using Exception::Exception;
};

enum TLegendAlignment { laLeft, laRight, laTop, laBottom };
enum TLegendStyle { lsAuto, lsSeries, lsValues, lsLastValues };
enum TLegendTextStyle { ltsPlain, ltsLeftValue, ltsRightValue, ltsLeftPercent, ltsRightPercent, ltsXValue };

// ---------------------------------------------------------------------------
// Legend layout, as pure geometry (no drawing): what the legend shows and
// where, for the chart's current PlotRect.
struct TLegendLayout {
  std::vector<std::string> texts;  // item texts, in drawing order
  std::vector<int> valueIndexes;   // value index per item (-1 for a series item)
  std::vector<TChartSeries*> series;  // series per item
  TLegendStyle style = lsValues;   // resolved style
  TRect rect{};                    // the box (RectLegend)
  int itemHeight = 0;              // h: text height of "W"
  int itemWidth = 0;               // iw: widest text + 4
  int symbolWidth = 0;             // sw
  int textX = 0;                   // x of the item texts (side legends)
  int rows = 0;                    // items shown (side legends)
  int columns = 0;                 // items shown (top/bottom legends)
  int maxTextWidth = 0;            // widest shown text
};

class TChartLegend {
 public:
  explicit TChartLegend(TCustomChart* chart);

  TLegendAlignment Alignment() const { return alignment_; }
  void SetAlignment(TLegendAlignment v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  int ColorWidth() const { return color_width_; }
  // 0..100, else LegendException "Farbbreite für Legende muß zwischen 0 und 100% liegen.".
  void SetColorWidth(int v);
  TChartHiddenPen& DividingLines() { return dividing_lines_; }
  int FirstValue() const { return first_value_; }
  // >= 0, else LegendException "Erster Wert für Legende muß > 0 sein.".
  void SetFirstValue(int v);
  TChartFont& Font() { return font_; }
  const TChartFont& Font() const { return font_; }
  TChartPen& Frame() { return frame_; }
  const TChartPen& Frame() const { return frame_; }
  int HorizMargin() const { return horiz_margin_; }
  void SetHorizMargin(int v);
  int VertMargin() const { return vert_margin_; }
  void SetVertMargin(int v);
  bool Inverted() const { return inverted_; }
  void SetInverted(bool v);
  TLegendStyle LegendStyle() const { return legend_style_; }
  void SetLegendStyle(TLegendStyle v);
  bool ResizeChart() const { return resize_chart_; }
  void SetResizeChart(bool v);
  TColor ShadowColor() const { return shadow_color_; }
  void SetShadowColor(TColor v);
  int ShadowSize() const { return shadow_size_; }
  void SetShadowSize(int v);
  TLegendTextStyle TextStyle() const { return text_style_; }
  void SetTextStyle(TLegendTextStyle v);
  int TopPos() const { return top_pos_; }
  // 0..100, else LegendException "Position der oberen Legende muß zwischen 0 und 100% liegen.".
  void SetTopPos(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  // The legend box of the last drawing.
  const TRect& RectLegend() const { return rect_legend_; }

  // lsAuto resolved: lsValues with fewer than two active series, else lsSeries.
  TLegendStyle ResolvedStyle() const;
  // The series whose values a value legend lists: the first active one shown
  // in the legend, or nullptr.
  TChartSeries* ValuesSeries() const;
  // The text of one value of a series as the legend shows it (TextStyle).
  std::string ValueText(const TChartSeries& series, int valueIndex) const;
  // Texts and places of the items for the chart's current PlotRect, with h
  // the text height and widthOf the text width in the legend font.
  TLegendLayout CalcLayout(int h, const std::function<int(const std::string&)>& widthOf) const;
  // Draws the legend and shrinks the chart's PlotRect (nothing without items).
  void Draw();

  void Assign(const TChartLegend& other);

 private:
  void Repaint() const;
  std::vector<std::string> ItemTexts(std::vector<int>& valueIndexes, std::vector<TChartSeries*>& series,
                                     TLegendStyle style) const;

  TCustomChart* chart_;
  TLegendAlignment alignment_ = laRight;
  TColor color_ = clWhite;
  int color_width_ = 12;
  TChartHiddenPen dividing_lines_;
  int first_value_ = 0;
  TChartFont font_;
  TChartPen frame_;
  int horiz_margin_ = 0;
  int vert_margin_ = 0;
  bool inverted_ = false;
  TLegendStyle legend_style_ = lsAuto;
  bool resize_chart_ = true;
  TColor shadow_color_ = clBlack;
  int shadow_size_ = 3;
  TLegendTextStyle text_style_ = ltsLeftValue;
  int top_pos_ = 10;
  bool visible_ = true;
  TRect rect_legend_{};
};
