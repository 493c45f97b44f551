#include "chart/legend.h"

#include <algorithm>

#include "chart/chart.h"
#include "chart/format_float.h"
#include "chart/pixel_math.h"

namespace {

std::string LineBreaksToSpaces(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

}  // namespace

// ===========================================================================
// TChartLegend

TChartLegend::TChartLegend(TCustomChart* chart) : chart_(chart) {
  auto repaint = [this] { Repaint(); };
  font_.OnChange = repaint;
  frame_.OnChange = repaint;
  dividing_lines_.OnChange = repaint;
}

void TChartLegend::Repaint() const {
  if (chart_) chart_->Repaint();
}

void TChartLegend::SetAlignment(TLegendAlignment v) { StoreAndRepaint(alignment_, v, chart_); }
void TChartLegend::SetColor(TColor v) { StoreAndRepaint(color_, v, chart_); }
void TChartLegend::SetColorWidth(int v) {
  if (v < 0 || v > 100) throw LegendException("Farbbreite für Legende muß zwischen 0 und 100% liegen.");
  StoreAndRepaint(color_width_, v, chart_);
}
void TChartLegend::SetFirstValue(int v) {
  if (v < 0) throw LegendException("Erster Wert für Legende muß > 0 sein.");
  StoreAndRepaint(first_value_, v, chart_);
}
void TChartLegend::SetHorizMargin(int v) { StoreAndRepaint(horiz_margin_, v, chart_); }
void TChartLegend::SetVertMargin(int v) { StoreAndRepaint(vert_margin_, v, chart_); }
void TChartLegend::SetInverted(bool v) { StoreAndRepaint(inverted_, v, chart_); }
void TChartLegend::SetLegendStyle(TLegendStyle v) { StoreAndRepaint(legend_style_, v, chart_); }
void TChartLegend::SetResizeChart(bool v) { StoreAndRepaint(resize_chart_, v, chart_); }
void TChartLegend::SetShadowColor(TColor v) { StoreAndRepaint(shadow_color_, v, chart_); }
void TChartLegend::SetShadowSize(int v) { StoreAndRepaint(shadow_size_, v, chart_); }
void TChartLegend::SetTextStyle(TLegendTextStyle v) { StoreAndRepaint(text_style_, v, chart_); }
void TChartLegend::SetTopPos(int v) {
  if (v < 0 || v > 100) throw LegendException("Position der oberen Legende muß zwischen 0 und 100% liegen.");
  StoreAndRepaint(top_pos_, v, chart_);
}
void TChartLegend::SetVisible(bool v) { StoreAndRepaint(visible_, v, chart_); }

TLegendStyle TChartLegend::ResolvedStyle() const {
  if (legend_style_ != lsAuto) return legend_style_;
  return chart_->CountActiveSeries() < 2 ? lsValues : lsSeries;
}

TChartSeries* TChartLegend::ValuesSeries() const {
  for (int i = 0; i < chart_->SeriesCount(); ++i) {
    TChartSeries* s = chart_->Series(i);
    if (s->Active() && s->ShowInLegend()) return s;
  }
  return nullptr;
}

std::string TChartLegend::ValueText(const TChartSeries& series, int valueIndex) const {
  std::string label = LineBreaksToSpaces(series.Label(valueIndex));
  if (text_style_ == ltsPlain) return label;
  if (text_style_ == ltsXValue) {
    const double x = series.XValue(valueIndex);
    const TChartAxis* axis = series.GetHorizAxis();
    return axis ? axis->LabelValue(x) : FormatFloat(series.ValueFormat(), x);
  }
  const double v = series.MarkValue(valueIndex);
  const double total = series.MainValueList().AbsoluteTotal();
  const double p = total == 0 ? 100.0 : 100.0 * v / total;
  switch (text_style_) {
    case ltsLeftValue:
      return FormatFloat(series.ValueFormat(), v) + " " + label;
    case ltsRightValue:
      return label + " " + FormatFloat(series.ValueFormat(), v);
    case ltsLeftPercent:
      return FormatFloat(series.PercentFormat(), p) + " " + label;
    case ltsRightPercent:
      return label + " " + FormatFloat(series.PercentFormat(), p);
    default:
      return label;
  }
}

std::vector<std::string> TChartLegend::ItemTexts(std::vector<int>& valueIndexes, std::vector<TChartSeries*>& series,
                                                 TLegendStyle style) const {
  std::vector<std::string> texts;
  auto add = [&](std::string text, int valueIndex, TChartSeries* s) {
    const int index = static_cast<int>(texts.size()) + first_value_;
    if (chart_->OnGetLegendText) chart_->OnGetLegendText(*chart_, style, index, text);
    texts.push_back(std::move(text));
    valueIndexes.push_back(valueIndex);
    series.push_back(s);
  };
  if (style == lsValues) {
    TChartSeries* s = ValuesSeries();
    if (!s) return texts;
    for (int k = first_value_; k < s->CountLegendItems(); ++k) {
      const int valueIndex = s->LegendToValueIndex(k);
      add(ValueText(*s, valueIndex), valueIndex, s);
    }
    return texts;
  }
  int shown = 0;
  for (int i = 0; i < chart_->SeriesCount(); ++i) {
    TChartSeries* s = chart_->Series(i);
    if (!s->Active() || !s->ShowInLegend()) continue;
    if (shown++ < first_value_) continue;
    if (style == lsLastValues) {
      if (s->Count() == 0)
        add({}, -1, s);
      else
        add(ValueText(*s, s->Count() - 1), s->Count() - 1, s);
    } else {
      std::string text = s->Title();
      if (text.empty()) text = s->Name();
      if (text.empty()) text = "Series " + std::to_string(i);
      add(std::move(text), -1, s);
    }
  }
  return texts;
}

TLegendLayout TChartLegend::CalcLayout(int h, const std::function<int(const std::string&)>& widthOf) const {
  TLegendLayout l;
  l.style = ResolvedStyle();
  l.texts = ItemTexts(l.valueIndexes, l.series, l.style);
  if (l.texts.empty()) return l;
  if (inverted_) {
    std::reverse(l.texts.begin(), l.texts.end());
    std::reverse(l.valueIndexes.begin(), l.valueIndexes.end());
    std::reverse(l.series.begin(), l.series.end());
  }
  const int count = static_cast<int>(l.texts.size());
  for (const std::string& t : l.texts) l.maxTextWidth = std::max(l.maxTextWidth, widthOf(t));
  l.itemHeight = h;
  l.itemWidth = l.maxTextWidth + 4;
  l.symbolWidth = RoundHalfEven(color_width_ * l.itemWidth / 100.0);

  const TRect& plot = chart_->PlotRect();
  const TRect& bounds = chart_->DrawBounds();
  const int fw = frame_.Visible() ? frame_.Width() : 0;
  const int frameGap = frame_.Visible() ? fw + 1 : 0;
  TRect& r = l.rect;
  if (alignment_ == laLeft || alignment_ == laRight) {
    r.Top = bounds.Top + RoundHalfEven(top_pos_ * bounds.Height() / 100.0);
    l.rows = 0;
    if (r.Top < plot.Bottom && h > 0)
      l.rows = std::clamp((chart_->PlotHeight() - 2 * fw - r.Top + plot.Top) / h, 0, count);
    r.Bottom = r.Top + 2 + h * l.rows;
    if (alignment_ == laLeft) {
      r.Left = plot.Left + frameGap;
      const int symbolX = r.Left + 4;
      l.symbolWidth = RoundHalfEven((symbolX + 4 + l.maxTextWidth + 2 - r.Left) * color_width_ / 100.0);
      l.textX = symbolX + l.symbolWidth + 4;
      r.Right = l.textX + l.maxTextWidth + 2;
    } else {
      r.Right = plot.Right - frameGap - shadow_size_;
      l.textX = r.Right - l.maxTextWidth - 2;
      l.symbolWidth = RoundHalfEven((r.Right - l.textX + 8) * color_width_ / 100.0);
      const int symbolX = l.textX - l.symbolWidth - 4;
      r.Left = symbolX - 4;
    }
  } else {
    l.columns = std::clamp((chart_->PlotWidth() - 2 * fw - 8) / (l.itemWidth + l.symbolWidth + 8), 0, count);
    if (alignment_ == laTop) {
      r.Top = plot.Top + frameGap;
      r.Bottom = r.Top + 2 + h;
    } else {
      r.Bottom = plot.Bottom - shadow_size_ - frameGap;
      r.Top = r.Bottom - 2 - h;
    }
    const int w =
        std::min(chart_->PlotWidth(), 2 * shadow_size_ + (l.symbolWidth + l.itemWidth + 4) * l.columns + 8);
    r.Left = chart_->PlotXCenter() - w / 2 + RoundHalfEven(top_pos_ * (bounds.Width() - w) / 100.0);
    r.Right = r.Left + w;
    l.textX = r.Left + 4 + l.symbolWidth + 4;
  }
  return l;
}

void TChartLegend::Draw() {
  TChartCanvas3D& c = chart_->Canvas();
  c.Font() = ToSurfaceFont(font_);
  const int h = c.FontHeight();
  TLegendLayout l = CalcLayout(h, [&c](const std::string& t) { return c.TextWidth(t); });
  if (l.texts.empty()) return;
  if (chart_->OnGetLegendRect) {
    // The items move with the box.
    const TRect before = l.rect;
    chart_->OnGetLegendRect(*chart_, l.rect);
    l.textX += l.rect.Left - before.Left;
  }
  rect_legend_ = l.rect;
  const TRect& r = l.rect;

  // Box: shadow, then the fill with the frame around it.
  if (shadow_size_ > 0) {
    c.Pen().Style = platform::psClear;
    c.Brush() = platform::TBrush{shadow_color_, platform::bsSolid, nullptr};
    c.Rectangle(r.Left + shadow_size_, r.Top + shadow_size_, r.Right + shadow_size_ + 1, r.Bottom + shadow_size_ + 1);
  }
  c.Brush() = platform::TBrush{color_, platform::bsSolid, nullptr};
  if (frame_.Visible()) {
    TChartPen frame;
    frame.Assign(frame_);
    if (frame.Color() == clAutomatic) frame.SetColor(clBlack);
    c.AssignPen(frame);
    c.Rectangle(r.Left, r.Top, r.Right + 1, r.Bottom + 1);
  } else {
    c.FillRect(TRect{r.Left, r.Top, r.Right + 1, r.Bottom + 1});
  }

  // Items.
  const bool side = alignment_ == laLeft || alignment_ == laRight;
  const int shown = side ? l.rows : l.columns;
  c.SetBackMode(platform::bmTransparent);
  for (int k = 0; k < shown && k < static_cast<int>(l.texts.size()); ++k) {
    int x = side ? l.textX : l.textX + k * (l.itemWidth + l.symbolWidth + 4);
    int y = side ? r.Top + 1 + h * k : r.Top + 1;
    int symbolX = x - 4 - l.symbolWidth;
    if (chart_->OnGetLegendPos) chart_->OnGetLegendPos(*chart_, k + first_value_, x, y, symbolX);
    c.Font() = ToSurfaceFont(font_);
    c.Brush().Style = platform::bsClear;
    c.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
    c.TextOut(x, y, l.texts[static_cast<size_t>(k)]);

    if (k > 0 && dividing_lines_.Visible()) {
      c.AssignPen(dividing_lines_);
      if (side)
        c.Line(r.Left, y, r.Right, y);
      else
        c.Line(symbolX - 4, r.Top, symbolX - 4, r.Bottom);
    }

    TChartSeries* s = l.series[static_cast<size_t>(k)];
    const int valueIndex = l.valueIndexes[static_cast<size_t>(k)];
    // Series and last-value legends list series: their symbol is the series colour.
    const bool seriesItem = l.style == lsSeries || l.style == lsLastValues;
    if (seriesItem && s->ColorEachPoint()) continue;
    const TColor colour = seriesItem ? s->SeriesColor() : s->ValueColor(valueIndex);
    if (colour == clNone) continue;
    const TRect symbol{symbolX, y + 2, x - 4, y + h - 2};
    c.Pen() = platform::TPen{color_ == clBlack ? clWhite : clBlack, 1, platform::psSolid, platform::pmCopy};
    s->DrawLegend(seriesItem ? -1 : valueIndex, symbol);
    if (ColorToRGB(colour) == ColorToRGB(color_)) {
      // A symbol in the legend's own colour would vanish: outline it.
      c.Brush().Style = platform::bsClear;
      c.Pen() = platform::TPen{colour == clBlack ? clWhite : clBlack, 1, platform::psSolid, platform::pmCopy};
      c.Rectangle(symbol.Left, symbol.Top, symbol.Right, symbol.Bottom);
    }
  }
  c.SetBackMode(platform::bmOpaque);

  if (!resize_chart_) return;
  TRect& plot = chart_->PlotRect();
  if (side) {
    const int margin = horiz_margin_ != 0 ? horiz_margin_ : MulDiv(3, chart_->PlotWidth(), 100);
    if (alignment_ == laLeft)
      plot.Left = r.Right + margin;
    else
      plot.Right = r.Left - margin;
  } else {
    const int margin = vert_margin_ != 0 ? vert_margin_ : MulDiv(4, chart_->PlotHeight(), 100);
    if (alignment_ == laTop)
      plot.Top = r.Bottom + shadow_size_ + margin;
    else
      plot.Bottom = r.Top - margin;
  }
  chart_->Recalculate();
}

void TChartLegend::Assign(const TChartLegend& other) {
  alignment_ = other.alignment_;
  color_ = other.color_;
  color_width_ = other.color_width_;
  dividing_lines_.Assign(other.dividing_lines_);
  first_value_ = other.first_value_;
  font_.Assign(other.font_);
  frame_.Assign(other.frame_);
  horiz_margin_ = other.horiz_margin_;
  vert_margin_ = other.vert_margin_;
  inverted_ = other.inverted_;
  legend_style_ = other.legend_style_;
  resize_chart_ = other.resize_chart_;
  shadow_color_ = other.shadow_color_;
  shadow_size_ = other.shadow_size_;
  text_style_ = other.text_style_;
  top_pos_ = other.top_pos_;
  visible_ = other.visible_;
  Repaint();
}
