#include "chart/axis.h"

#include <algorithm>
#include <cmath>

#include "chart/chart.h"
#include "chart/format_float.h"
#include "chart/pixel_math.h"
#include "chart/series.h"

TCustomChartAxis::TCustomChartAxis(TCustomAxisPanel* chart, bool horizontal, bool otherSide)
    : chart_(chart), horizontal_(horizontal), other_side_(otherSide) {
  axis_.SetWidth(2);
  for (TChartPen* pen : {static_cast<TChartPen*>(&axis_), static_cast<TChartPen*>(&grid_),
                         static_cast<TChartPen*>(&minor_ticks_), static_cast<TChartPen*>(&ticks_),
                         static_cast<TChartPen*>(&ticks_inner_)}) {
    pen->OnChange = [this] { Repaint(); };
  }
  labels_font_.OnChange = [this] { Repaint(); };
  title_.Font().OnChange = [this] { Repaint(); };
}

TChartDepthAxis::TChartDepthAxis(TCustomAxisPanel* chart) : TCustomChartAxis(chart, false, false) {
  is_depth_axis_ = true;
  visible_ = false;
}

void TCustomChartAxis::Repaint() const {
  if (chart_) chart_->Repaint();
}

// ---------------------------------------------------------------------------
// Settings

void TCustomChartAxis::SetAutomatic(bool v) { Store(automatic_, v); }
void TCustomChartAxis::SetAutomaticMaximum(bool v) { Store(automatic_maximum_, v); }
void TCustomChartAxis::SetAutomaticMinimum(bool v) { Store(automatic_minimum_, v); }

void TCustomChartAxis::SetIncrement(double v) {
  if (v < 0) throw AxisException("Achsen-Steigung muß >= 0 sein.");
  Store(increment_, v);
}

void TCustomChartAxis::SetMaximum(double v) {
  if (v < minimum_) throw AxisException("Wert für Achsenmaximum muß >= Minimum sein.");
  Store(maximum_, v);
}

void TCustomChartAxis::SetMinimum(double v) {
  if (v > maximum_) throw AxisException("Wert für Achsenminimum muß <= Maximum sein.");
  Store(minimum_, v);
}

void TCustomChartAxis::SetMinMax(double minimum, double maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  Repaint();
}

void TCustomChartAxis::SetLogarithmic(bool v) {
  if (v && !logarithmic_) {
    AdjustMaxMin();
    if (is_date_time_) throw AxisException("Datum/Uhrzeit-Achse darf kein Logarithmus sein.");
    if (i_minimum_ < 0 || i_maximum_ < 0) {
      throw AxisException("Minimum- und Maximumwerte der logarithmischen Achse müssen >= 0 sein.");
    }
  }
  Store(logarithmic_, v);
}

void TCustomChartAxis::SetTitleSize(int v) { Store(title_size_, v); }
void TCustomChartAxis::SetGridCentered(bool v) { Store(grid_centered_, v); }
void TCustomChartAxis::SetLabels(bool v) { Store(labels_, v); }

void TCustomChartAxis::SetLabelsAngle(int v) {
  if (v < 0 || v > 360) throw ChartException("Achsenbeschriftung-Winkel muß zwischen 0 und 359 Grad liegen.");
  Store(labels_angle_, v % 360);
}

void TCustomChartAxis::SetLabelsOnAxis(bool v) { Store(labels_on_axis_, v); }

void TCustomChartAxis::SetLabelsSeparation(int v) {
  if (v < 0) throw AxisException("Beschriftungssabstand muß größer als 0 sein.");
  Store(labels_separation_, v);
}

void TCustomChartAxis::SetLabelsSize(int v) { Store(labels_size_, v); }
void TCustomChartAxis::SetLabelStyle(TAxisLabelStyle v) { Store(label_style_, v); }
void TCustomChartAxis::SetAxisValuesFormat(std::string v) { Store(axis_values_format_, std::move(v)); }
void TCustomChartAxis::SetDateTimeFormat(std::string v) { Store(date_time_format_, std::move(v)); }
void TCustomChartAxis::SetExactDateTime(bool v) { Store(exact_date_time_, v); }
void TCustomChartAxis::SetRoundFirstLabel(bool v) { Store(round_first_label_, v); }
void TCustomChartAxis::SetLabelsMultiLine(bool v) { Store(labels_multi_line_, v); }
void TCustomChartAxis::SetMinorTickCount(int v) { Store(minor_tick_count_, v); }
void TCustomChartAxis::SetMinorTickLength(int v) { Store(minor_tick_length_, v); }
void TCustomChartAxis::SetTickInnerLength(int v) { Store(tick_inner_length_, v); }
void TCustomChartAxis::SetTickLength(int v) { Store(tick_length_, v); }
void TCustomChartAxis::SetTickOnLabelsOnly(bool v) { Store(tick_on_labels_only_, v); }
void TCustomChartAxis::SetInverted(bool v) { Store(inverted_, v); }
void TCustomChartAxis::SetVisible(bool v) { Store(visible_, v); }

// ---------------------------------------------------------------------------
// Scale

namespace {

// The canvas takes a chart font.
void SelectFont(TChartCanvas3D& canvas, const TChartFont& font) { canvas.Font() = ToSurfaceFont(font); }

bool Upright(int angle) { return angle == 0 || angle == 180; }

}  // namespace

std::vector<TChartSeries*> TCustomChartAxis::BoundSeries() const {
  std::vector<TChartSeries*> bound;
  if (!chart_) return bound;
  for (int i = 0; i < chart_->SeriesCount(); ++i) {
    TChartSeries* s = chart_->Series(i);
    if (!s || !s->Active()) continue;
    if (is_depth_axis_ || (s->UseAxis() && s->AssociatedToAxis(*this))) bound.push_back(s);
  }
  return bound;
}

TAxisLabelStyle TCustomChartAxis::ResolvedLabelStyle() const {
  if (label_style_ != talAuto) return label_style_;
  const std::vector<TChartSeries*> bound = BoundSeries();
  if (bound.empty()) return talNone;
  if (is_depth_axis_) return talText;
  // Text labels when the first series runs along this axis by its X values
  // and some series has labels.
  const bool alongX = horizontal_ ? bound.front()->YMandatory() : !bound.front()->YMandatory();
  if (alongX) {
    for (const TChartSeries* s : bound) {
      for (int i = 0; i < s->Count(); ++i) {
        if (!s->Label(i).empty()) return talText;
      }
    }
  }
  return talValue;
}

void TCustomChartAxis::AdjustMaxMin() {
  const std::vector<TChartSeries*> bound = BoundSeries();
  if (is_depth_axis_) {
    if (automatic_ || automatic_maximum_ || automatic_minimum_) {
      double lo = -0.5;
      double hi = chart_ ? chart_->TopZSlot() + 0.5 : 0.5;
      if (ResolvedLabelStyle() == talValue && !bound.empty()) {
        lo = bound.front()->MinZValue();
        hi = bound.front()->MaxZValue();
      }
      if (automatic_ || automatic_maximum_) maximum_ = hi;
      if (automatic_ || automatic_minimum_) minimum_ = lo;
    }
  } else {
    is_date_time_ = false;
    bool any = false;
    double lo = 0;
    double hi = 0;
    for (const TChartSeries* s : bound) {
      if ((horizontal_ ? s->XValues() : s->YValues()).DateTime()) is_date_time_ = true;
      if (s->Count() == 0) continue;
      const double sMin = horizontal_ ? s->MinXValue() : s->MinYValue();
      const double sMax = horizontal_ ? s->MaxXValue() : s->MaxYValue();
      lo = any ? std::min(lo, sMin) : sMin;
      hi = any ? std::max(hi, sMax) : sMax;
      any = true;
    }
    if (automatic_ || automatic_maximum_) maximum_ = hi;
    if (automatic_ || automatic_minimum_) minimum_ = lo;
  }
  i_minimum_ = minimum_;
  i_maximum_ = maximum_;
  i_range_ = i_maximum_ - i_minimum_;
}

axis_math::ScaleGeometry TCustomChartAxis::Geometry() const {
  axis_math::ScaleGeometry g;
  g.minimum = i_minimum_;
  g.maximum = i_maximum_;
  g.logarithmic = logarithmic_;
  g.inverted = inverted_;
  g.horizontal = horizontal_;
  if (chart_) {
    const TRect& r = chart_->PlotRect();
    g.left = r.Left;
    g.top = r.Top;
    g.right = r.Right;
    g.bottom = r.Bottom;
  }
  return g;
}

int TCustomChartAxis::CalcPosValue(double value) const {
  if (is_depth_axis_) return axis_math::CalcDepthPosValue(i_minimum_, i_maximum_, chart_ ? chart_->Width3D() : 0, value);
  return axis_math::CalcPosValue(Geometry(), value);
}

double TCustomChartAxis::CalcPosPoint(int pixel) const { return axis_math::CalcPosPoint(Geometry(), pixel); }

void TCustomChartAxis::ApplyMargins(int lowMargin, int highMargin) {
  if (!chart_ || is_depth_axis_) return;
  // lowMargin is the left (top) room, highMargin the right (bottom) room;
  // which end of the scale lies there depends on direction and inversion.
  int minSide = horizontal_ ? lowMargin : highMargin;
  int maxSide = horizontal_ ? highMargin : lowMargin;
  if (inverted_) std::swap(minSide, maxSide);
  axis_math::WidenScale(i_minimum_, i_maximum_, horizontal_ ? chart_->PlotWidth() : chart_->PlotHeight(), minSide,
                        maxSide, logarithmic_);
  i_range_ = i_maximum_ - i_minimum_;
}

// ---------------------------------------------------------------------------
// Labels

std::string TCustomChartAxis::LabelValue(double value) const {
  std::string text = is_date_time_ ? axis_math::DateTimeText(date_time_format_, value, i_range_)
                                   : FormatFloat(axis_values_format_, value);
  if (chart_ && chart_->OnGetAxisLabel && !is_depth_axis_) {
    chart_->OnGetAxisLabel(*static_cast<TChartAxis*>(const_cast<TCustomChartAxis*>(this)), nullptr, -1, text);
  }
  if (labels_multi_line_) text = axis_math::MultiLineText(std::move(text));
  return text;
}

TSize TCustomChartAxis::LabelExtent(const std::string& text) {
  TChartCanvas3D& canvas = chart_->Canvas();
  const std::vector<std::string> lines = axis_math::SplitLines(text);
  int width = 0;
  for (const std::string& line : lines) width = std::max(width, canvas.TextWidth(line));
  return TSize{width, static_cast<int>(lines.size()) * canvas.FontHeight()};
}

int TCustomChartAxis::LabelSize(const std::string& text) {
  const TSize e = LabelExtent(text);
  return axis_math::LabelSizeAlongAxis(horizontal_, labels_angle_, e.cx, e.cy);
}

double TCustomChartAxis::CalcIncrement() {
  if (!chart_) return increment_ > 0 ? increment_ : 1;
  SelectFont(chart_->Canvas(), labels_font_);
  const int size = std::max(LabelSize(LabelValue(i_minimum_)), LabelSize(LabelValue(i_maximum_)));
  const int length = is_depth_axis_ ? chart_->Width3D() : horizontal_ ? chart_->PlotWidth() : chart_->PlotHeight();
  const int count = axis_math::MaxLabelCount(length, size, labels_separation_);
  return is_date_time_ ? axis_math::DateTimeIncrement(i_range_, increment_, count)
                       : axis_math::NumericIncrement(i_range_, increment_, count);
}

std::vector<double> TCustomChartAxis::CalcLabelValues() {
  axis_math::LabelRule rule;
  rule.roundFirstLabel = round_first_label_;
  rule.labelsOnAxis = labels_on_axis_;
  rule.dateTime = is_date_time_;
  rule.exactDateTime = exact_date_time_;
  return axis_math::LabelValues(i_minimum_, i_maximum_, CalcIncrement(), rule);
}

std::vector<TCustomChartAxis::TextLabel> TCustomChartAxis::TextLabels(TAxisLabelStyle style) const {
  std::vector<TextLabel> out;
  if (!chart_) return out;
  if (is_depth_axis_) {
    // The depth axis names the series at their depth slots.
    for (TChartSeries* s : BoundSeries()) {
      std::string text = !s->Title().empty() ? s->Title() : s->Name();
      out.push_back({static_cast<double>(s->ZOrder()), std::move(text)});
    }
    return out;
  }
  TChartSeries* source = nullptr;
  for (TChartSeries* s : BoundSeries()) {
    for (int i = 0; i < s->Count() && !source; ++i) {
      if (!s->Label(i).empty()) source = s;
    }
    if (source) break;
  }
  if (!source) return out;
  // The points inside the scale are the visible ones (the series' own
  // visible range is computed later, when its values are drawn).
  const double lo = std::min(i_minimum_, i_maximum_);
  const double hi = std::max(i_minimum_, i_maximum_);
  for (int i = 0; i < source->Count(); ++i) {
    const double v = horizontal_ ? source->XValue(i) : source->YValue(i);
    if (v < lo || v > hi) continue;
    std::string text = style == talMark ? source->Marks().MarkText(i) : source->Label(i);
    if (chart_->OnGetAxisLabel && !is_depth_axis_) {
      chart_->OnGetAxisLabel(*static_cast<TChartAxis*>(const_cast<TCustomChartAxis*>(this)), source, i, text);
    }
    if (labels_multi_line_) text = axis_math::MultiLineText(std::move(text));
    out.push_back({v, std::move(text)});
  }
  return out;
}

// ---------------------------------------------------------------------------
// Room

int TCustomChartAxis::MaxLabelRoom() {
  const TAxisLabelStyle style = ResolvedLabelStyle();
  std::vector<std::string> texts;
  if (style == talValue) {
    texts.push_back(LabelValue(i_minimum_));
    texts.push_back(LabelValue(i_maximum_));
  } else if (style == talText || style == talMark) {
    for (TextLabel& l : TextLabels(style)) texts.push_back(std::move(l.text));
  }
  int room = 0;
  for (const std::string& t : texts) {
    const TSize e = LabelExtent(t);
    // The extent across the axis: the width of upright labels on a vertical
    // axis and of turned ones on a horizontal axis, else the height.
    room = std::max(room, axis_math::LabelSizeAlongAxis(!horizontal_, labels_angle_, e.cx, e.cy));
  }
  return room;
}

void TCustomChartAxis::CalcRect(TRect& rect) {
  if (!chart_) return;
  TChartCanvas3D& canvas = chart_->Canvas();
  const auto shrink = [&](int amount) {
    if (is_depth_axis_ || (!horizontal_ && other_side_)) {
      rect.Right -= amount;
      return rect.Right;
    }
    if (!horizontal_) {
      rect.Left += amount;
      return rect.Left;
    }
    if (other_side_) {
      rect.Top += amount;
      return rect.Top;
    }
    rect.Bottom -= amount;
    return rect.Bottom;
  };

  int titleRoom = 0;
  if (!title_.Caption().empty()) {
    titleRoom = title_size_;
    if (titleRoom == 0) {
      SelectFont(canvas, title_.Font());
      const bool width = horizontal_ != Upright(title_.Angle());
      titleRoom = width ? canvas.TextWidth(title_.Caption()) : canvas.FontHeight();
    }
  }
  pos_title_ = shrink(titleRoom);

  int labelRoom = 0;
  if (labels_) {
    labelRoom = labels_size_;
    if (labelRoom == 0) {
      SelectFont(canvas, labels_font_);
      labelRoom = MaxLabelRoom();
    }
  }
  pos_labels_ = shrink(labelRoom);

  int tickRoom = (axis_.Visible() ? axis_.Width() : 0) + (ticks_.Visible() ? tick_length_ : 0);
  if (minor_ticks_.Visible()) tickRoom = std::max(tickRoom, minor_tick_length_);
  shrink(tickRoom + chart_->AxisWallSize(*this));
}

// ---------------------------------------------------------------------------
// Drawing

void TCustomChartAxis::DrawTick(int p, int offset, int length, int wall) {
  TChartCanvas3D& canvas = chart_->Canvas();
  const int depth = chart_->Width3D();
  if (is_depth_axis_) {
    canvas.HorizLine3D(pos_axis_ + offset, pos_axis_ + offset + length, chart_->PlotRect().Bottom, p);
  } else if (horizontal_ && !other_side_) {
    canvas.VertLine3D(p, pos_axis_ + offset + wall, pos_axis_ + offset + wall + length, 0);
  } else if (horizontal_) {
    canvas.VertLine3D(p, pos_axis_ - offset, pos_axis_ - offset - length, depth);
  } else if (!other_side_) {
    canvas.HorizLine3D(pos_axis_ - offset - wall, pos_axis_ - offset - wall - length, p, 0);
  } else {
    canvas.HorizLine3D(pos_axis_ + offset, pos_axis_ + offset + length, p, depth);
  }
}

void TCustomChartAxis::DrawGrid(int p) {
  TChartCanvas3D& canvas = chart_->Canvas();
  const TRect& r = chart_->PlotRect();
  const int depth = chart_->Width3D();
  canvas.Brush().Style = platform::bsClear;
  canvas.SetBackMode(platform::bmTransparent);
  platform::TPen pen = grid_.Pen();
  if (pen.Color == clAutomatic) pen.Color = clGray;
  canvas.Pen() = pen;
  if (is_depth_axis_) {
    canvas.MoveTo3D(r.Left, r.Bottom, p);
    canvas.LineTo3D(r.Right, r.Bottom, p);
  } else if (chart_->View3D()) {
    platform::TPen solid = pen;
    solid.Style = platform::psSolid;
    if (horizontal_ && !other_side_) {
      canvas.Pen() = solid;
      canvas.ZLine3D(p, pos_axis_, 0, depth);
      canvas.Pen() = pen;
      canvas.LineTo3D(p, r.Top, depth);
    } else if (horizontal_) {
      canvas.VertLine3D(p, pos_axis_, r.Bottom, depth);
    } else if (!other_side_) {
      canvas.Pen() = solid;
      canvas.ZLine3D(pos_axis_, p, 0, depth);
      canvas.Pen() = pen;
      canvas.LineTo3D(r.Right, p, depth);
    } else {
      canvas.HorizLine3D(pos_axis_, r.Left, p, depth);
    }
  } else if (horizontal_ && !other_side_) {
    canvas.DoVertLine(p, pos_axis_ - 1, r.Top);
  } else if (horizontal_) {
    canvas.DoVertLine(p, pos_axis_ + 1, r.Bottom);
  } else if (!other_side_) {
    canvas.DoHorizLine(pos_axis_ + 1, r.Right, p);
  } else {
    canvas.DoHorizLine(pos_axis_ - 1, r.Left, p);
  }
  canvas.SetBackMode(platform::bmOpaque);
}

void TCustomChartAxis::DrawTicksAndGrid(int p, bool atEnd, bool first, int wall) {
  TChartCanvas3D& canvas = chart_->Canvas();
  if (ticks_.Visible() && tick_length_ != 0) {
    canvas.AssignPen(ticks_);
    DrawTick(p, 1, tick_length_, wall);
  }
  if (grid_.Visible()) {
    if (!grid_centered_) {
      if (!atEnd) DrawGrid(p);
    } else if (!first) {
      DrawGrid(RoundHalfEven((p + old_position_) * 0.5));
    }
  }
  if (ticks_inner_.Visible() && tick_inner_length_ != 0) {
    canvas.AssignPen(ticks_inner_);
    DrawTick(p, -1, -tick_inner_length_, 0);
  }
  if (!first && minor_ticks_.Visible() && minor_tick_count_ > 0 && minor_tick_length_ != 0) {
    canvas.AssignPen(minor_ticks_);
    const int span = p - old_position_;
    for (int i = 1; i <= minor_tick_count_; ++i) {
      DrawTick(p - RoundHalfEven(i * static_cast<double>(span) / (minor_tick_count_ + 1)), 1,
               minor_tick_length_, wall);
    }
  }
  old_position_ = p;
}

void TCustomChartAxis::DrawLabelText(int p, const std::string& text) {
  TChartCanvas3D& canvas = chart_->Canvas();
  const std::vector<std::string> lines = axis_math::SplitLines(text);
  const int n = static_cast<int>(lines.size());
  const int h = canvas.FontHeight();
  const int depth = (other_side_ || is_depth_axis_) ? chart_->Width3D() : 0;
  canvas.Brush().Style = platform::bsClear;
  if (is_depth_axis_) {
    // Depth labels stand to the right of the plotting box' bottom edge.
    canvas.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
    for (int i = 0; i < n; ++i)
      canvas.TextOut3D(pos_labels_, chart_->PlotRect().Bottom - h / 2 + i * h, p, lines[i]);
    return;
  }
  if (labels_angle_ != 0) {
    // Turned labels: the text's end points at the axis.
    const int angle = labels_angle_;
    unsigned align = platform::TA_RIGHT | platform::TA_TOP;
    int x = 0;
    int y = 0;
    if (horizontal_) {
      x = p - n * h / 2;
      y = pos_labels_;
      if (other_side_) align = platform::TA_LEFT | platform::TA_TOP;
      if (angle == 270) {
        x = p + n * h / 2;
        align = other_side_ ? platform::TA_RIGHT | platform::TA_TOP : platform::TA_LEFT | platform::TA_TOP;
      }
    } else {
      x = pos_labels_;
      y = p;
      align = platform::TA_CENTER | platform::TA_BOTTOM;
      if (angle == 90) {
        align = other_side_ ? platform::TA_CENTER | platform::TA_TOP : platform::TA_CENTER | platform::TA_BOTTOM;
      } else if (angle == 270) {
        align = other_side_ ? platform::TA_CENTER | platform::TA_BOTTOM : platform::TA_CENTER | platform::TA_TOP;
      }
    }
    canvas.SetTextAlign(align);
    for (int i = 0; i < n; ++i) {
      const int dx = horizontal_ ? i * h : 0;
      canvas.RotateLabel3D(x + dx, y, depth, lines[i], angle);
    }
    canvas.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
    return;
  }
  if (horizontal_) {
    if (!other_side_) {
      canvas.SetTextAlign(platform::TA_CENTER | platform::TA_TOP);
      for (int i = 0; i < n; ++i) canvas.TextOut3D(p, pos_labels_ + i * h, depth, lines[i]);
    } else {
      canvas.SetTextAlign(platform::TA_CENTER | platform::TA_BOTTOM);
      for (int i = 0; i < n; ++i) canvas.TextOut3D(p, pos_labels_ - (n - 1 - i) * h, depth, lines[i]);
    }
  } else {
    canvas.SetTextAlign((other_side_ ? platform::TA_LEFT : platform::TA_RIGHT) | platform::TA_TOP);
    const int top = p - axis_math::MultiLineLabelRise(h, n);
    for (int i = 0; i < n; ++i) canvas.TextOut3D(pos_labels_, top + i * h, depth, lines[i]);
  }
  canvas.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
}

void TCustomChartAxis::DrawAxisLine(int wall) {
  if (!axis_.Visible()) return;
  TChartCanvas3D& canvas = chart_->Canvas();
  const TRect& r = chart_->PlotRect();
  const int depth = chart_->Width3D();
  canvas.AssignPen(axis_);
  if (is_depth_axis_) {
    canvas.ZLine3D(r.Right, r.Bottom, 0, depth);
  } else if (horizontal_ && !other_side_) {
    canvas.HorizLine3D(r.Left - chart_->AxisWallSize(chart_->LeftAxis()), r.Right, pos_axis_ + wall, 0);
  } else if (horizontal_) {
    canvas.HorizLine3D(r.Left, r.Right, pos_axis_, depth);
  } else if (!other_side_) {
    canvas.VertLine3D(pos_axis_ - wall, r.Top, r.Bottom + chart_->AxisWallSize(chart_->BottomAxis()), 0);
  } else {
    canvas.VertLine3D(pos_axis_, r.Top, r.Bottom, depth);
  }
}

void TCustomChartAxis::DrawTitle() {
  if (title_.Caption().empty()) return;
  TChartCanvas3D& canvas = chart_->Canvas();
  const TRect& r = chart_->PlotRect();
  SelectFont(canvas, title_.Font());
  canvas.Brush().Style = platform::bsClear;
  const int depth = other_side_ ? chart_->Width3D() : 0;
  const int angle = title_.Angle();
  const std::string& text = title_.Caption();
  if (horizontal_) {
    canvas.SetTextAlign(platform::TA_CENTER | (other_side_ ? platform::TA_BOTTOM : platform::TA_TOP));
    if (angle == 0) {
      canvas.TextOut3D(chart_->PlotXCenter(), pos_title_, depth, text);
    } else {
      canvas.RotateLabel3D(chart_->PlotXCenter(), pos_title_, depth, text, angle);
    }
  } else {
    if (Upright(angle)) {
      canvas.SetTextAlign((other_side_ ? platform::TA_LEFT : platform::TA_RIGHT) | platform::TA_TOP);
      canvas.TextOut3D(pos_title_, chart_->PlotYCenter() - canvas.FontHeight() / 2, depth, text);
    } else {
      // Turned by 90 degrees the text reads upwards; its top faces left.
      canvas.SetTextAlign(platform::TA_CENTER | platform::TA_TOP);
      const int x = other_side_ ? pos_title_ : pos_title_ - canvas.FontHeight();
      canvas.RotateLabel3D(x, r.Top + (r.Bottom - r.Top) / 2, depth, text, angle);
    }
  }
  canvas.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
}

void TCustomChartAxis::Draw() {
  if (!chart_) return;
  TChartCanvas3D& canvas = chart_->Canvas();
  const TRect& r = chart_->PlotRect();
  if (is_depth_axis_) {
    pos_axis_ = r.Right;
  } else if (horizontal_) {
    pos_axis_ = other_side_ ? r.Top : r.Bottom;
  } else {
    pos_axis_ = other_side_ ? r.Right : r.Left;
  }
  const int wall = is_depth_axis_ ? 0 : chart_->AxisWallSize(*this);
  const TAxisLabelStyle style = ResolvedLabelStyle();

  drawn_labels_ = 0;
  if (style == talValue) {
    const double eps = std::max(std::fabs(i_range_), 1.0) * 1e-12;
    bool first = true;
    for (double v : CalcLabelValues()) {
      const int p = CalcPosValue(v);
      const bool atEnd = std::fabs(v - i_minimum_) <= eps || std::fabs(v - i_maximum_) <= eps;
      DrawTicksAndGrid(p, atEnd, first, wall);
      first = false;
      if (labels_) {
        SelectFont(canvas, labels_font_);
        DrawLabelText(p, LabelValue(v));
        ++drawn_labels_;
      }
    }
  } else if (style == talText || style == talMark) {
    std::vector<TextLabel> labels = TextLabels(style);
    SelectFont(canvas, labels_font_);
    axis_math::LabelOverlap overlap(labels_separation_);
    bool first = true;
    for (const TextLabel& label : labels) {
      const int p = CalcPosValue(label.value);
      SelectFont(canvas, labels_font_);
      const bool drawn = overlap.Accept(p, LabelSize(label.text));
      if (!drawn && tick_on_labels_only_) continue;
      const bool atEnd = label.value == i_minimum_ || label.value == i_maximum_;
      DrawTicksAndGrid(p, atEnd, first, wall);
      first = false;
      if (drawn && labels_) {
        SelectFont(canvas, labels_font_);
        DrawLabelText(p, label.text);
        ++drawn_labels_;
      }
    }
  }
  DrawAxisLine(wall);
  DrawTitle();
}
