#include "chart/marks.h"

#include <algorithm>

#include "chart/axis.h"
#include "chart/axis_math.h"
#include "chart/chart.h"
#include "chart/format_float.h"
#include "chart/mark_text.h"
#include "chart/pixel_math.h"
#include "chart/series.h"

namespace {

void SelectFont(TChartCanvas3D& canvas, const TChartFont& font, double zoom) {
  platform::TFont f = ToSurfaceFont(font);
  if (zoom != 1.0) f.Size = std::max(1, RoundHalfEven(font.Size() * zoom));
  canvas.Font() = f;
}

}  // namespace

TSeriesMarks::TSeriesMarks(TChartSeries* owner) : owner_(owner), arrow_(clWhite, platform::psSolid) {}

void TSeriesMarks::Repaint() const {
  if (owner_) owner_->Repaint();
}

void TSeriesMarks::SetArrowLength(int value) {
  if (arrow_length_ == value) return;
  arrow_length_ = value;
  Repaint();
}
void TSeriesMarks::SetBackColor(TColor value) {
  if (back_color_ == value) return;
  back_color_ = value;
  Repaint();
}
void TSeriesMarks::SetClip(bool value) {
  if (clip_ == value) return;
  clip_ = value;
  Repaint();
}
void TSeriesMarks::SetStyle(TSeriesMarksStyle value) {
  if (style_ == value) return;
  style_ = value;
  Repaint();
}
void TSeriesMarks::SetTransparent(bool value) {
  if (transparent_ == value) return;
  transparent_ = value;
  Repaint();
}
void TSeriesMarks::SetVisible(bool value) {
  if (visible_ == value) return;
  visible_ = value;
  Repaint();
}

void TSeriesMarks::DeletePosition(int index) {
  if (index >= 0 && index < static_cast<int>(positions_.size())) positions_.erase(positions_.begin() + index);
}

std::string TSeriesMarks::MarkText(int valueIndex) const {
  if (!owner_) return {};
  const TChartSeries& s = *owner_;
  mark_text::MarkTextInput in;
  in.value = s.MarkValue(valueIndex);
  in.label = s.Label(valueIndex);
  in.absoluteTotal = s.MainValueList().AbsoluteTotal();
  in.valueFormat = s.ValueFormat();
  in.percentFormat = s.PercentFormat();
  if (style_ == smsLegend) {
    const auto* chart = dynamic_cast<const TCustomChart*>(s.ParentChart());
    in.legendText = chart ? chart->Legend().ValueText(s, valueIndex) : s.Label(valueIndex);
  } else if (style_ == smsXValue) {
    const TChartAxis* axis = s.GetHorizAxis();
    in.xValueText = axis ? axis->LabelValue(s.XValue(valueIndex)) : FormatFloat(s.ValueFormat(), s.XValue(valueIndex));
  }
  std::string text = mark_text::ComposeMarkText(static_cast<int>(style_), in);
  if (s.OnGetMarkText) s.OnGetMarkText(*owner_, valueIndex, text);
  return text;
}

TSeriesMarkPosition TSeriesMarks::MeasureItem(const std::string& text, TPoint point) {
  TChartCanvas3D& canvas = owner_->ParentCanvas();
  const std::vector<std::string> lines = axis_math::SplitLines(text);
  int widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, canvas.TextWidth(line));
  TSeriesMarkPosition pos;
  pos.Width = canvas.TextWidth("W") + widest;
  pos.Height = static_cast<int>(lines.size()) * canvas.FontHeight();
  if (frame_.Visible()) {
    pos.Width += 2 * frame_.Width();
    pos.Height += 2 * frame_.Width();
  }
  pos.ArrowFrom = pos.ArrowTo = point;
  pos.LeftTop = TPoint{point.X - pos.Width / 2, point.Y - pos.Height + 1};
  return pos;
}

void TSeriesMarks::DrawMarks() {
  if (!owner_ || !owner_->ParentChart()) return;
  TChartSeries& s = *owner_;
  TChartCanvas3D& canvas = s.ParentCanvas();
  const bool view3D = s.ParentChart()->View3D();
  const double zoom = view3D && s.ParentChart()->View3DOptions().Zoom() != 100
                          ? s.ParentChart()->View3DOptions().Zoom() * 0.01
                          : 1.0;
  if (s.FirstValueIndex() < 0) return;
  for (int i = s.FirstValueIndex(); i <= s.LastValueIndex() && i < s.Count(); ++i) {
    if (s.ValueColor(i) == clNone) continue;
    const std::string text = MarkText(i);
    if (text.empty()) continue;
    SelectFont(canvas, font_, zoom);
    TSeriesMarkPosition pos = MeasureItem(text, TPoint{s.CalcXPos(i), s.CalcYPos(i)});
    canvas.AssignPen(frame_);
    s.DrawMark(i, text, pos);
  }
}

void TSeriesMarks::DrawItem(int valueIndex, TColor colour, const std::string& text, TSeriesMarkPosition& position) {
  if (!owner_ || !owner_->ParentChart() || valueIndex < 0) return;
  // Remember the place; a custom place (moved by the user) wins.
  if (static_cast<std::size_t>(valueIndex) >= positions_.size()) positions_.resize(valueIndex + 1);
  TSeriesMarkPosition& remembered = positions_[valueIndex];
  if (remembered.Custom) {
    position = remembered;
  } else {
    remembered = position;
  }

  TCustomAxisPanel& chart = *owner_->ParentChart();
  TChartCanvas3D& canvas = chart.Canvas();
  const bool view3D = chart.View3D();
  const int z = z_position_;
  const platform::TFont font = canvas.Font();

  if (arrow_.Visible()) {
    canvas.AssignPen(arrow_);
    canvas.Brush().Style = platform::bsClear;
    const TColor panel = chart.Color();
    if (arrow_.Color() == colour || arrow_.Color() == panel) {
      canvas.Pen().Color = ColorToRGB(panel) == clBlack ? clWhite : clBlack;
    }
    if (view3D) {
      canvas.LineWithZ(position.ArrowFrom.X, position.ArrowFrom.Y, position.ArrowTo.X, position.ArrowTo.Y, z);
    } else {
      canvas.Line(position.ArrowFrom.X, position.ArrowFrom.Y, position.ArrowTo.X, position.ArrowTo.Y);
    }
  }

  TPoint leftTop = position.LeftTop;
  if (view3D) {
    // The box lies flat on the screen, at the projection of the arrow's end.
    const TPoint p = canvas.ProjectPoint(position.ArrowTo.X, position.ArrowTo.Y, z);
    leftTop = TPoint{p.X - (position.ArrowTo.X - leftTop.X), p.Y - (position.ArrowTo.Y - leftTop.Y)};
  }

  if (frame_.Visible() || !transparent_) {
    canvas.Brush().Color = back_color_;
    canvas.Brush().Style = transparent_ ? platform::bsClear : platform::bsSolid;
    canvas.Brush().Image.reset();
    canvas.AssignPen(frame_);
    canvas.Rectangle(leftTop.X, leftTop.Y, leftTop.X + position.Width, leftTop.Y + position.Height);
    if (frame_.Visible()) leftTop.Y += frame_.Width();
  }

  canvas.Font() = font;
  canvas.Brush().Style = platform::bsClear;
  canvas.SetTextAlign(platform::TA_CENTER | platform::TA_TOP);
  const int h = canvas.FontHeight();
  int y = leftTop.Y;
  for (const std::string& line : axis_math::SplitLines(text)) {
    canvas.TextOut(leftTop.X + position.Width / 2, y, line);
    y += h;
  }
  canvas.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
}

void TSeriesMarks::Assign(const TSeriesMarks& other) {
  arrow_.Assign(other.arrow_);
  arrow_length_ = other.arrow_length_;
  back_color_ = other.back_color_;
  clip_ = other.clip_;
  font_.Assign(other.font_);
  frame_.Assign(other.frame_);
  style_ = other.style_;
  transparent_ = other.transparent_;
  visible_ = other.visible_;
  Repaint();
}
