#include "chart/title.h"

#include <algorithm>

#include "chart/chart.h"

TChartTitle::TChartTitle(TCustomChart* chart, bool isFoot)
    : chart_(chart), is_foot_(isFoot), brush_(clAutomatic, platform::bsSolid) {
  auto repaint = [this] {
    if (chart_) chart_->Repaint();
  };
  brush_.OnChange = repaint;
  font_.OnChange = repaint;
  frame_.OnChange = repaint;
}

void TChartTitle::SetAdjustFrame(bool v) { StoreAndRepaint(adjust_frame_, v, chart_); }
void TChartTitle::SetAlignment(TTitleAlignment v) { StoreAndRepaint(alignment_, v, chart_); }
void TChartTitle::SetVisible(bool v) { StoreAndRepaint(visible_, v, chart_); }

void TChartTitle::Draw() {
  TChartCanvas3D& c = chart_->Canvas();
  c.Font() = ToSurfaceFont(font_);
  const int h = c.FontHeight();
  const bool framed = frame_.Visible() && frame_.Color() != clAutomatic;
  const int fw = framed ? frame_.Width() : 0;
  const int lines = static_cast<int>(text_.size());
  TRect& plot = chart_->PlotRect();

  const int left = plot.Left + fw;
  const int right = plot.Right - fw;
  int top, bottom;
  if (is_foot_) {
    bottom = plot.Bottom - fw;
    top = bottom - lines * h;
  } else {
    top = plot.Top + fw;
    bottom = top + lines * h;
  }
  TRect box{left - fw, top - fw, right + fw, bottom + fw};

  if (framed) {
    if (adjust_frame_) {
      int widest = 0;
      for (const std::string& line : text_) widest = std::max(widest, c.TextWidth(line));
      const int w = widest + 2 * fw;
      if (alignment_ == taLeftJustify) {
        box.Right = box.Left + w;
      } else if (alignment_ == taRightJustify) {
        box.Left = box.Right - w;
      } else {
        const int mid = (box.Left + box.Right) / 2;
        box.Left = mid - (w / 2 + 2 * fw);
        box.Right = mid + (w / 2 + 2 * fw);
      }
    }
    c.AssignPen(frame_);
    if (brush_.Color() == clAutomatic)
      c.Brush().Style = platform::bsClear;
    else
      c.AssignBrush(brush_);
    c.Rectangle(box.Left, box.Top, box.Right, box.Bottom);
  }
  title_rect_ = box;

  c.SetBackMode(platform::bmTransparent);
  c.Brush().Style = platform::bsClear;
  c.SetTextAlign(platform::TA_LEFT | platform::TA_TOP);
  for (int i = 0; i < lines; ++i) {
    // Title lines run down from the top, foot lines up from the bottom.
    const std::string& line = text_[static_cast<size_t>(is_foot_ ? lines - 1 - i : i)];
    const int y = is_foot_ ? bottom - (i + 1) * h : top + i * h;
    const int w = c.TextWidth(line);
    int x;
    if (alignment_ == taLeftJustify)
      x = left;
    else if (alignment_ == taRightJustify)
      x = right - w;
    else
      x = (left + right) / 2 - w / 2;
    c.TextOut(x, y, line);
  }
  c.SetBackMode(platform::bmOpaque);

  const int frameExtra = framed ? 2 * fw : 0;
  if (lines > 0) {
    if (is_foot_)
      plot.Bottom = top - frameExtra - 5;
    else
      plot.Top = bottom + frameExtra + 5;
  } else {
    if (is_foot_)
      plot.Bottom -= fw + frameExtra;
    else
      plot.Top += fw + frameExtra;
  }
  chart_->Recalculate();
}

void TChartTitle::Assign(const TChartTitle& other) {
  adjust_frame_ = other.adjust_frame_;
  alignment_ = other.alignment_;
  brush_.Assign(other.brush_);
  font_.Assign(other.font_);
  frame_.Assign(other.frame_);
  text_ = other.text_;
  visible_ = other.visible_;
  if (chart_) chart_->Repaint();
}
