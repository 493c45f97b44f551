#include "chart/series.h"

#include <algorithm>
#include <random>
#include <typeinfo>

#include "chart/axis.h"
#include "chart/chart.h"

TChartSeries::TChartSeries() : x_values_(this, "X"), y_values_(this, "Y"), marks_(this) {
  x_values_.SetOrder(loAscending);
}

TChartSeries::~TChartSeries() = default;

void TChartSeries::SetParentChart(TCustomAxisPanel* chart) { parent_ = chart; }

void TChartSeries::Repaint() const {
  if (parent_ && !parent_->Destroying()) parent_->Repaint();
}

TChartCanvas3D& TChartSeries::ParentCanvas() const {
  if (!parent_) throw ChartException("Datenreihe hat kein übergeordnetes Diagramm");
  return parent_->Canvas();
}

void TChartSeries::PrepareFillBrush(TColor colour, platform::TBrushStyle style, TColor back) const {
  TChartCanvas3D& canvas = ParentCanvas();
  if (back == clAutomatic) back = ParentChart()->Color();
  if (style != platform::bsSolid && colour == back) colour = back != 0 ? clBlack : clWhite;
  canvas.Brush().Color = colour;
  canvas.Brush().Style = style;
  canvas.Brush().Image.reset();
  canvas.SetBackColor(back);
  canvas.SetBackMode(style == platform::bsSolid ? platform::bmTransparent : platform::bmOpaque);
}

void TChartSeries::SetTitle(std::string title) {
  if (title_ == title) return;
  title_ = std::move(title);
  Repaint();
}

void TChartSeries::SetActive(bool value) {
  if (active_ == value) return;
  active_ = value;
  Repaint();
}

void TChartSeries::SetSeriesColor(TColor colour) {
  if (series_color_ == colour) return;
  series_color_ = colour;
  Repaint();
}

void TChartSeries::SetColorEachPoint(bool value) {
  if (color_each_point_ == value) return;
  color_each_point_ = value;
  if (!value) std::fill(colors_.begin(), colors_.end(), clAutomatic);
  Repaint();
}

void TChartSeries::SetShowInLegend(bool value) {
  if (show_in_legend_ == value) return;
  show_in_legend_ = value;
  Repaint();
}

void TChartSeries::SetPercentFormat(std::string format) {
  if (percent_format_ == format) return;
  percent_format_ = std::move(format);
  Repaint();
}

void TChartSeries::SetValueFormat(std::string format) {
  if (value_format_ == format) return;
  value_format_ = std::move(format);
  Repaint();
}

void TChartSeries::SetHorizAxis(THorizAxis axis) {
  if (horiz_axis_ == axis) return;
  horiz_axis_ = axis;
  Repaint();
}

void TChartSeries::SetVertAxis(TVertAxis axis) {
  if (vert_axis_ == axis) return;
  vert_axis_ = axis;
  Repaint();
}

TChartAxis* TChartSeries::GetHorizAxis() const {
  if (!parent_) return nullptr;
  return horiz_axis_ == aTopAxis ? &parent_->TopAxis() : &parent_->BottomAxis();
}

TChartAxis* TChartSeries::GetVertAxis() const {
  if (!parent_) return nullptr;
  return vert_axis_ == aRightAxis ? &parent_->RightAxis() : &parent_->LeftAxis();
}

// --- values -------------------------------------------------------------------

int TChartSeries::Add(double value, const std::string& label, TColor colour) {
  const double count = Count();
  if (YMandatory()) return AddPoint(count, value, label, colour);
  return AddPoint(value, count, label, colour);
}

int TChartSeries::AddNull(const std::string& label) { return Add(0, label, clNone); }

int TChartSeries::AddPoint(double x, double y, const std::string& label, TColor colour) {
  pending_x_ = x;
  pending_y_ = y;
  if (OnBeforeAdd && !OnBeforeAdd(*this)) return -1;
  const int index = x_values_.AddValue(x);
  y_values_.InsertValue(index, y);
  if (colour == clDefault) colour = clAutomatic;
  colors_.insert(colors_.begin() + index, colour);
  labels_.insert(labels_.begin() + index, label);
  AddedValue(index);
  return index;
}

void TChartSeries::AddedValue(int index) {
  if (OnAfterAdd) OnAfterAdd(*this, index);
  if (active_) Repaint();
}

void TChartSeries::ClearLists() {
  x_values_.Clear();
  y_values_.Clear();
  colors_.clear();
  labels_.clear();
  marks_.ClearPositions();
}

void TChartSeries::Clear() {
  ClearLists();
  if (OnClearValues) OnClearValues(*this);
  Repaint();
}

void TChartSeries::Delete(int index) {
  // Value lists check the index first, so a bad one changes nothing.
  x_values_.Value(index);
  x_values_.Delete(index);
  y_values_.Delete(index);
  colors_.erase(colors_.begin() + index);
  labels_.erase(labels_.begin() + index);
  marks_.DeletePosition(index);
  Repaint();
}

void TChartSeries::FillSampleValues(int n) {
  if (n < 1) throw Exception("FillSampleValues NumValues müssen > 0 sein.");
  Clear();
  std::mt19937 rng(static_cast<unsigned>(n));
  std::uniform_int_distribution<int> step(-50, 50);
  double y = 500;
  for (int i = 0; i < n; ++i) {
    y = std::max(0.0, y + step(rng));
    if (YMandatory())
      AddPoint(i, y, "", clAutomatic);
    else
      AddPoint(y, i, "", clAutomatic);
  }
}

std::string TChartSeries::Label(int index) const {
  if (index < 0 || index >= static_cast<int>(labels_.size())) return {};
  return labels_[static_cast<size_t>(index)];
}

void TChartSeries::SetLabel(int index, const std::string& label) {
  if (index < 0 || index >= static_cast<int>(labels_.size())) return;
  labels_[static_cast<size_t>(index)] = label;
  Repaint();
}

TColor TChartSeries::PointColor(int index) const {
  if (index < 0 || index >= static_cast<int>(colors_.size())) return series_color_;
  return colors_[static_cast<size_t>(index)];
}

void TChartSeries::SetPointColor(int index, TColor colour) {
  if (index < 0 || index >= static_cast<int>(colors_.size())) return;
  colors_[static_cast<size_t>(index)] = colour == clDefault ? clAutomatic : colour;
  Repaint();
}

TColor TChartSeries::ValueColor(int index) const {
  if (index >= 0 && index < static_cast<int>(colors_.size())) {
    const TColor own = colors_[static_cast<size_t>(index)];
    if (own != clAutomatic) return own;
    if (color_each_point_) return PaletteColor(index);
  }
  return series_color_;
}

bool TChartSeries::SameKindAs(const TChartSeries& other) const { return typeid(*this) == typeid(other); }

double TChartSeries::PointOrigin(int index, bool sumAll) const {
  double result = 0;
  if (!parent_) return result;
  for (int i = 0; i < parent_->SeriesCount(); ++i) {
    const TChartSeries* s = parent_->Series(i);
    if (!sumAll && s == this) break;
    if (s->Active() && SameKindAs(*s) && s->Count() > index) result += s->GetOriginValue(index);
  }
  return result;
}

// --- scale --------------------------------------------------------------------

bool TChartSeries::AssociatedToAxis(const TCustomChartAxis& axis) const {
  if (axis.Horizontal()) return &axis == GetHorizAxis();
  return &axis == GetVertAxis();
}

int TChartSeries::CalcXPosValue(double value) const {
  const TChartAxis* axis = GetHorizAxis();
  return axis ? axis->CalcPosValue(value) : 0;
}

int TChartSeries::CalcYPosValue(double value) const {
  const TChartAxis* axis = GetVertAxis();
  return axis ? axis->CalcPosValue(value) : 0;
}

int TChartSeries::CalcXPos(int index) const { return CalcXPosValue(XValue(index)); }
int TChartSeries::CalcYPos(int index) const { return CalcYPosValue(YValue(index)); }

// --- drawing ------------------------------------------------------------------

void TChartSeries::CalcFirstLastVisibleIndex() {
  first_value_index_ = last_value_index_ = -1;
  const int count = Count();
  if (count == 0) return;
  // Kinds whose values run along Y keep X in order, and the other way round.
  const TChartValueList& ordered = YMandatory() ? x_values_ : y_values_;
  const TChartAxis* axis = YMandatory() ? GetHorizAxis() : GetVertAxis();
  if (ordered.Order() == loNone || draw_all_values_ || !axis || !parent_) {
    first_value_index_ = 0;
    last_value_index_ = count - 1;
    return;
  }
  // The axis values at the two edges of the plotting area.
  const TRect& r = parent_->PlotRect();
  double a, b;
  if (axis->Horizontal()) {
    a = axis->CalcPosPoint(r.Left);
    b = axis->CalcPosPoint(r.Right);
  } else {
    a = axis->CalcPosPoint(r.Bottom);
    b = axis->CalcPosPoint(r.Top);
  }
  const double lo = std::min(a, b);
  const double hi = std::max(a, b);
  // In a descending list the first points carry the largest values: walk the
  // indexes in the order that makes the values grow.
  const bool ascending = ordered.Order() == loAscending;
  auto at = [&](int k) { return ordered.Value(ascending ? k : count - 1 - k); };
  int first = -1;
  for (int k = 0; k < count; ++k) {
    if (at(k) >= lo) {
      first = k;
      break;
    }
  }
  if (first < 0) return;
  int last = count - 1;
  if (at(count - 1) > hi) {
    for (int k = first; k < count; ++k) {
      if (at(k) >= hi) {
        last = k;
        if (at(k) > hi && !draw_between_points_) --last;
        break;
      }
    }
  }
  if (ascending) {
    first_value_index_ = first;
    last_value_index_ = last;
  } else {
    first_value_index_ = count - 1 - last;
    last_value_index_ = count - 1 - first;
  }
}

void TChartSeries::SetDepths(int seriesDepth) {
  start_z_ = seriesDepth * z_order_;
  end_z_ = start_z_ + seriesDepth;
  middle_z_ = (start_z_ + end_z_) / 2;
  marks_.SetZPosition(middle_z_);
}

void TChartSeries::CalcZOrder() {
  if (parent_ && parent_->View3D())
    z_order_ = parent_->ClaimZSlot();
  else
    z_order_ = 0;
}

void TChartSeries::DoBeforeDrawValues() {
  if (BeforeDrawValues) BeforeDrawValues(*this);
}

void TChartSeries::DoAfterDrawValues() {
  if (AfterDrawValues) AfterDrawValues(*this);
}

void TChartSeries::DrawVisibleValues() {
  if (first_value_index_ < 0) return;
  if (DrawValuesForward()) {
    for (int i = first_value_index_; i <= last_value_index_; ++i) DrawValue(i);
  } else {
    for (int i = last_value_index_; i >= first_value_index_; --i) DrawValue(i);
  }
}

void TChartSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  marks_.DrawItem(index, ValueColor(index), text, position);
}

void TChartSeries::DrawLegend(int valueIndex, const TRect& rect) {
  TChartCanvas3D& canvas = ParentCanvas();
  const TColor colour = valueIndex == -1 ? series_color_ : ValueColor(valueIndex);
  if (colour == clNone) return;
  // The symbol's brush: the point's colour, solid; the kind may change the
  // style and the hatch background, or put a pattern on the canvas brush.
  canvas.Brush() = platform::TBrush{colour, platform::bsSolid, nullptr};
  TColor back = parent_ ? parent_->Color() : clWhite;
  platform::TBrushStyle style = platform::bsSolid;
  PrepareLegendCanvas(valueIndex, back, style);
  canvas.Brush().Style = style;
  canvas.SetBackColor(back);
  canvas.SetBackMode(style == platform::bsSolid || style == platform::bsClear ? platform::bmTransparent
                                                                                : platform::bmOpaque);
  DrawLegendSymbol(valueIndex, rect);
}

void TChartSeries::DrawLegendSymbol(int /*valueIndex*/, const TRect& rect) {
  ParentCanvas().Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom);
}
