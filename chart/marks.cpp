#include "chart/marks.h"

#include "chart/series.h"

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

std::string TSeriesMarks::MarkText(int /*valueIndex*/) const { return {}; }
void TSeriesMarks::DrawMarks() {}
void TSeriesMarks::DrawItem(int /*valueIndex*/, TColor /*colour*/, const std::string& /*text*/,
                            TSeriesMarkPosition& /*position*/) {}

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
