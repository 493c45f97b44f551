#include "chart/chart.h"

#include <algorithm>

#include "chart/pixel_math.h"
#include "platform/surface.h"

// ===========================================================================
// TCustomChartPanel

TCustomChartPanel::TCustomChartPanel()
    : view_3d_options_(std::make_unique<TView3DOptions>([this] { Repaint(); })),
      canvas_(std::make_unique<TChartCanvas3D>()) {
  canvas_->OnRepaint = [this] { Repaint(); };
}

TCustomChartPanel::~TCustomChartPanel() = default;

namespace {

template <class T, class Owner>
void SetAndRepaint(T& field, T value, Owner& owner) {
  if (field == value) return;
  field = value;
  owner.Repaint();
}

}  // namespace

void TCustomChartPanel::SetWidth(int v) {
  if (width_ == v) return;
  width_ = v;
  SizeChanged();
}

void TCustomChartPanel::SetHeight(int v) {
  if (height_ == v) return;
  height_ = v;
  SizeChanged();
}

void TCustomChartPanel::SizeChanged() {
  if (canvas_->GetBufferedDisplay()) {
    // A new size needs a new off-screen bitmap: switching buffering off and
    // on frees the old one.
    canvas_->SetBufferedDisplay(false);
    canvas_->SetBufferedDisplay(true);
  } else {
    canvas_->Invalidate();
  }
  Repaint();
}

void TCustomChartPanel::SetMarginLeft(int v) { SetAndRepaint(margin_left_, v, *this); }
void TCustomChartPanel::SetMarginTop(int v) { SetAndRepaint(margin_top_, v, *this); }
void TCustomChartPanel::SetMarginRight(int v) { SetAndRepaint(margin_right_, v, *this); }
void TCustomChartPanel::SetMarginBottom(int v) { SetAndRepaint(margin_bottom_, v, *this); }
void TCustomChartPanel::SetView3D(bool v) { SetAndRepaint(view_3d_, v, *this); }
void TCustomChartPanel::SetMonochrome(bool v) {
  if (monochrome_ == v) return;
  monochrome_ = v;
  canvas_->SetMonochrome(v);
  Repaint();
}
void TCustomChartPanel::SetColor(TColor v) { SetAndRepaint(color_, v, *this); }
void TCustomChartPanel::SetBevelOuter(TPanelBevel v) { SetAndRepaint(bevel_outer_, v, *this); }
void TCustomChartPanel::SetBevelInner(TPanelBevel v) { SetAndRepaint(bevel_inner_, v, *this); }
void TCustomChartPanel::SetBevelWidth(int v) { SetAndRepaint(bevel_width_, v, *this); }
void TCustomChartPanel::SetBorderWidth(int v) { SetAndRepaint(border_width_, v, *this); }
void TCustomChartPanel::SetBorderStyle(TBorderStyle v) { SetAndRepaint(border_style_, v, *this); }

void TCustomChartPanel::Repaint() {
  ++repaint_count_;
  if (OnRepaint) OnRepaint();
}

void TCustomChartPanel::Recalculate() {
  TRect& r = plot_rect_;
  r.Left = std::clamp(r.Left, bounds_.Left, std::max(bounds_.Left, bounds_.Right));
  r.Top = std::clamp(r.Top, bounds_.Top, std::max(bounds_.Top, bounds_.Bottom));
  if (r.Left > r.Right)
    r.Right = r.Left + 1;
  else if (r.Left == r.Right)
    r.Right = r.Left + width_;
  if (r.Top > r.Bottom)
    r.Bottom = r.Top + 1;
  else if (r.Top == r.Bottom)
    r.Bottom = r.Top + height_;
  plot_width_ = r.Right - r.Left;
  plot_height_ = r.Bottom - r.Top;
  plot_x_center_ = (r.Left + r.Right) / 2;
  plot_y_center_ = (r.Top + r.Bottom) / 2;
}

void TCustomChartPanel::Draw(platform::Surface& target, const TRect& rect) {
  bounds_ = canvas_->BeginDrawing(target, view_3d_options_.get(), view_3d_, rect);
  const int w = bounds_.Width();
  const int h = bounds_.Height();
  plot_rect_ = TRect{bounds_.Left + border_width_ + MulDiv(margin_left_, w, 100),
                     bounds_.Top + border_width_ + MulDiv(margin_top_, h, 100),
                     bounds_.Right - border_width_ - MulDiv(margin_right_, w, 100),
                     bounds_.Bottom - border_width_ - MulDiv(margin_bottom_, h, 100)};
  Recalculate();
  // Whatever happens while drawing, the canvas lets go of the target: it is
  // bound back to its own surface (after copying what was drawn).
  struct ShowOnExit {
    TChartCanvas3D& canvas;
    platform::Surface& target;
    const TRect& rect;
    ~ShowOnExit() { canvas.ShowImage(target, nullptr, rect); }
  } show{*canvas_, target, rect};
  DrawChartPicture();
}

void TCustomChartPanel::DrawBackground(const TRect& rect) {
  canvas_->Brush().Color = color_;
  canvas_->Brush().Style = platform::bsSolid;
  canvas_->Brush().Image.reset();
  canvas_->FillRect(rect);
}

void TCustomChartPanel::DrawPanelBevels(const TRect& rect) {
  DrawBackground(rect);
  TChartCanvas3D& c = *canvas_;
  c.Pen() = platform::TPen{};
  c.Brush().Style = platform::bsClear;
  TRect r = rect;
  auto bevel = [&](TPanelBevel kind) {
    if (kind == bvNone) return;
    const TColor light = kind == bvRaised ? clBtnHighlight : clBtnShadow;
    const TColor dark = kind == bvRaised ? clBtnShadow : clBtnHighlight;
    c.Frame3D(r, light, dark, bevel_width_);
  };
  bevel(bevel_outer_);
  if (border_width_ > 0) c.Frame3D(r, color_, color_, border_width_);
  bevel(bevel_inner_);
}

// ===========================================================================
// TCustomAxisPanel

TCustomAxisPanel::TCustomAxisPanel()
    : left_axis_(std::make_unique<TChartAxis>(this, false, false)),
      right_axis_(std::make_unique<TChartAxis>(this, false, true)),
      top_axis_(std::make_unique<TChartAxis>(this, true, true)),
      bottom_axis_(std::make_unique<TChartAxis>(this, true, false)),
      depth_axis_(std::make_unique<TChartDepthAxis>(this)) {}

TCustomAxisPanel::~TCustomAxisPanel() {
  destroying_ = true;
  series_.clear();
}

TChartSeries& TCustomAxisPanel::AddSeries(std::unique_ptr<TChartSeries> series) {
  if (!series) throw ChartException("Keine Datenreihe angegeben");
  TChartSeries& ref = *series;
  if (SeriesIndex(ref) >= 0) {
    // Already ours: the second owner would be a double free; keep the one in
    // the list.
    series.release();
    return ref;
  }
  if (ref.ParentChart() != nullptr) {
    // Owned by another chart: handing it over needs RemoveSeries there first.
    series.release();
    throw ChartException("Datenreihe gehört bereits zu einem anderen Diagramm");
  }
  if (ref.SeriesColor() == clAutomatic) ref.SetSeriesColor(GetFreeSeriesColor(true));
  series_.push_back(std::move(series));
  ref.SetParentChart(this);
  Repaint();
  return ref;
}

std::unique_ptr<TChartSeries> TCustomAxisPanel::RemoveSeries(TChartSeries& series) {
  auto it = std::find_if(series_.begin(), series_.end(), [&](const auto& p) { return p.get() == &series; });
  if (it == series_.end()) return nullptr;
  std::unique_ptr<TChartSeries> result = std::move(*it);
  series_.erase(it);
  result->SetParentChart(nullptr);
  Repaint();
  return result;
}

TChartSeries* TCustomAxisPanel::Series(int index) const {
  if (index < 0 || index >= SeriesCount()) return nullptr;
  return series_[static_cast<size_t>(index)].get();
}

int TCustomAxisPanel::SeriesIndex(const TChartSeries& series) const {
  for (int i = 0; i < SeriesCount(); ++i)
    if (series_[static_cast<size_t>(i)].get() == &series) return i;
  return -1;
}

int TCustomAxisPanel::CountActiveSeries() const {
  return static_cast<int>(std::count_if(series_.begin(), series_.end(), [](const auto& s) { return s->Active(); }));
}

TColor TCustomAxisPanel::GetFreeSeriesColor(bool checkBackground) const {
  for (int t = 0; t < 16; ++t) {
    const TColor c = PaletteColor(t);
    const bool used = std::any_of(series_.begin(), series_.end(), [&](const auto& s) { return s->SeriesColor() == c; });
    if (used) continue;
    if (checkBackground && (c == Color() || c == BackColor())) continue;
    return c;
  }
  return PaletteColor(0);
}

void TCustomAxisPanel::SetChart3DPercent(int v) {
  if (v < 1 || v > 100) throw ChartException("3D-Effekt-Prozentangabe muß zwischen 1 und 100 liegen");
  SetAndRepaint(chart_3d_percent_, v, *this);
}
void TCustomAxisPanel::SetView3DWalls(bool v) { SetAndRepaint(view_3d_walls_, v, *this); }
void TCustomAxisPanel::SetClipPoints(bool v) { SetAndRepaint(clip_points_, v, *this); }
void TCustomAxisPanel::SetAxisVisible(bool v) { SetAndRepaint(axis_visible_, v, *this); }
void TCustomAxisPanel::SetMaxPointsPerPage(int v) { SetAndRepaint(max_points_per_page_, v, *this); }
void TCustomAxisPanel::SetPage(int v) { SetAndRepaint(page_, v, *this); }
void TCustomAxisPanel::SetScaleLastPage(bool v) { SetAndRepaint(scale_last_page_, v, *this); }

bool TCustomAxisPanel::IsAxisDrawn(const TCustomChartAxis& axis) const {
  if (!axis_visible_ || !axis.Visible()) return false;
  if (axis.IsDepthAxis()) return View3D();
  bool anyUsesAxes = false;
  for (const auto& s : series_) {
    if (!s->Active() || !s->UseAxis()) continue;
    anyUsesAxes = true;
    if (s->AssociatedToAxis(axis)) return true;
  }
  return !anyUsesAxes;
}

// --- the drawing pipeline -------------------------------------------------------

void TCustomAxisPanel::DrawChartPicture() {
  DrawPanelBevels(bounds_);
  for (const auto& s : series_)
    if (s->Active()) s->DoBeforeDrawChart();
  canvas_->SuspendProjection();
  DrawFrontPlane();
  canvas_->ResumeProjection();
  CalcZOrders();
  CalcAxisSpaceAndDepth();
  SetSeriesDepths();
  ApplySeriesMargins();
  canvas_->Projection(width_3d_, plot_rect_);
  DrawWalls();
  if (axis_visible_) DrawAxes();
  DrawAllSeries();
  canvas_->ResetState();
  if (OnAfterDraw) OnAfterDraw(*this);
}

void TCustomAxisPanel::CalcZOrders() {
  top_z_slot_ = 0;
  const bool slots = View3D() && apply_z_order_;
  if (slots) {
    top_z_slot_ = -1;
    for (const auto& s : series_)
      if (s->Active()) s->CalcZOrder();
  }
  // The first series in the list lies furthest back.
  for (const auto& s : series_)
    if (s->Active()) s->SetZOrder(slots ? top_z_slot_ - s->ZOrder() : 0);
}

void TCustomAxisPanel::CalcAxisSpaceAndDepth() {
  for (TCustomChartAxis* axis : {static_cast<TCustomChartAxis*>(left_axis_.get()), static_cast<TCustomChartAxis*>(right_axis_.get()),
                                 static_cast<TCustomChartAxis*>(top_axis_.get()), static_cast<TCustomChartAxis*>(bottom_axis_.get()),
                                 static_cast<TCustomChartAxis*>(depth_axis_.get())})
    axis->AdjustMaxMin();

  if (View3D()) {
    double factor = chart_3d_percent_ * 0.001;
    if (!View3DOptions().Orthogonal()) factor *= 2;
    series_width_3d_ = series_height_3d_ = RoundHalfEven(plot_width_ * factor);
    const int slots = apply_z_order_ ? std::max(1, top_z_slot_ + 1) : 1;
    width_3d_ = height_3d_ = series_width_3d_ * slots;
    if (View3DOptions().Orthogonal()) {
      const int s = view_3d_walls_ ? BackWallSize() : 0;
      plot_rect_.Right -= width_3d_ + s;
      plot_rect_.Top += height_3d_ + s;
    }
  } else {
    series_width_3d_ = series_height_3d_ = width_3d_ = height_3d_ = 0;
  }
  Recalculate();

  for (TCustomChartAxis* axis : {static_cast<TCustomChartAxis*>(left_axis_.get()), static_cast<TCustomChartAxis*>(right_axis_.get()),
                                 static_cast<TCustomChartAxis*>(top_axis_.get()), static_cast<TCustomChartAxis*>(bottom_axis_.get()),
                                 static_cast<TCustomChartAxis*>(depth_axis_.get())}) {
    if (!IsAxisDrawn(*axis)) continue;
    TRect r = plot_rect_;
    axis->CalcRect(r);
    plot_rect_.Left = std::max(plot_rect_.Left, r.Left);
    plot_rect_.Top = std::max(plot_rect_.Top, r.Top);
    plot_rect_.Right = std::min(plot_rect_.Right, r.Right);
    plot_rect_.Bottom = std::min(plot_rect_.Bottom, r.Bottom);
  }
  Recalculate();
}

void TCustomAxisPanel::SetSeriesDepths() {
  for (const auto& s : series_)
    if (s->Active()) s->SetDepths(series_width_3d_);
}

void TCustomAxisPanel::ApplySeriesMargins() {
  for (TChartAxis* axis : {top_axis_.get(), left_axis_.get(), right_axis_.get(), bottom_axis_.get()}) {
    int low = 0;
    int high = 0;
    bool bound = false;
    for (const auto& s : series_) {
      if (!s->Active() || !s->AssociatedToAxis(*axis)) continue;
      bound = true;
      int a = 0;
      int b = 0;
      if (axis->Horizontal())
        s->AskHorizMargins(a, b);
      else
        s->AskVertMargins(a, b);
      low = std::max(low, a);
      high = std::max(high, b);
    }
    if (bound) axis->ApplyMargins(low, high);
  }
}

void TCustomAxisPanel::DrawAxes() {
  for (TChartAxis* axis : {top_axis_.get(), bottom_axis_.get(), left_axis_.get(), right_axis_.get()})
    if (IsAxisDrawn(*axis)) axis->Draw();
  if (IsAxisDrawn(*depth_axis_)) depth_axis_->Draw();
}

void TCustomAxisPanel::DrawSeriesMarks(TChartSeries& series) {
  if (!series.Marks().Visible()) return;
  const bool clip = series.Marks().Clip();
  if (clip) canvas_->ClipCube(plot_rect_, 0, width_3d_);
  series.Marks().DrawMarks();
  if (clip) canvas_->UnClipRectangle();
}

void TCustomAxisPanel::DrawSeriesValues(TChartSeries& series) {
  series.CalcFirstLastVisibleIndex();
  if (series.Count() == 0) return;
  series.DoBeforeDrawValues();
  if (clip_points_) canvas_->ClipCube(plot_rect_, 0, width_3d_);
  series.DrawVisibleValues();
  if (clip_points_) canvas_->UnClipRectangle();
  DrawSeriesMarks(series);
  series.DoAfterDrawValues();
}

void TCustomAxisPanel::DrawSeriesGroup(const std::vector<TChartSeries*>& group) {
  int first = -1;
  int last = -1;
  std::vector<TChartSeries*> drawn;
  for (TChartSeries* s : group) {
    s->CalcFirstLastVisibleIndex();
    if (s->Count() == 0) continue;
    drawn.push_back(s);
    if (s->FirstValueIndex() < 0) continue;
    first = first < 0 ? s->FirstValueIndex() : std::min(first, s->FirstValueIndex());
    last = std::max(last, s->LastValueIndex());
  }
  if (drawn.empty()) return;
  for (TChartSeries* s : drawn) s->DoBeforeDrawValues();
  if (clip_points_) canvas_->ClipCube(plot_rect_, 0, width_3d_);
  TChartSeries& lead = *drawn.front();
  auto drawIndex = [&](int i) {
    auto drawOne = [&](TChartSeries* s) {
      if (i >= s->FirstValueIndex() && i <= s->LastValueIndex()) s->DrawValue(i);
    };
    if (lead.DrawSeriesForward(i))
      std::for_each(drawn.begin(), drawn.end(), drawOne);
    else
      std::for_each(drawn.rbegin(), drawn.rend(), drawOne);
  };
  if (first >= 0) {
    if (lead.DrawValuesForward())
      for (int i = first; i <= last; ++i) drawIndex(i);
    else
      for (int i = last; i >= first; --i) drawIndex(i);
  }
  if (clip_points_) canvas_->UnClipRectangle();
  for (TChartSeries* s : drawn) {
    DrawSeriesMarks(*s);
    s->DoAfterDrawValues();
  }
}

void TCustomAxisPanel::DrawAllSeries() {
  std::vector<const TChartSeries*> done;
  for (const auto& owned : series_) {
    TChartSeries* s = owned.get();
    if (!s->Active()) continue;
    if (View3D() && s->DrawValueByValue()) {
      if (std::find(done.begin(), done.end(), s) != done.end()) continue;
      std::vector<TChartSeries*> group;
      for (const auto& other : series_)
        if (other->Active() && other->DrawValueByValue() && other->ZOrder() == s->ZOrder()) group.push_back(other.get());
      if (group.size() > 1) {
        done.insert(done.end(), group.begin(), group.end());
        DrawSeriesGroup(group);
        continue;
      }
    }
    DrawSeriesValues(*s);
  }
}

// ===========================================================================
// TCustomChart

TCustomChart::TCustomChart()
    : back_wall_(std::make_unique<TChartWall>(this, clAutomatic)),
      left_wall_(std::make_unique<TChartWall>(this, 0x80FFFF)),
      bottom_wall_(std::make_unique<TChartWall>(this, clWhite)),
      title_(std::make_unique<TChartTitle>(this, false)),
      foot_(std::make_unique<TChartTitle>(this, true)),
      legend_(std::make_unique<TChartLegend>(this)),
      gradient_(std::make_unique<TChartGradient>(this)) {
  back_wall_->Brush().SetStyle(platform::bsClear);
}

TCustomChart::~TCustomChart() {
  destroying_ = true;
  series_.clear();
}

TChartPen& TCustomChart::Frame() { return back_wall_->Pen(); }

TColor TCustomChart::BackColor() const { return back_wall_->Color(); }

void TCustomChart::SetBackColor(TColor v) {
  back_wall_->SetColor(v);
  back_wall_->Brush().SetStyle(platform::bsSolid);
}

int TCustomChart::BackWallSize() const { return back_wall_->Size(); }

int TCustomChart::AxisWallSize(const TCustomChartAxis& axis) const {
  if (!View3D() || !View3DWalls() || axis.IsDepthAxis()) return 0;
  if (axis.Horizontal() && !axis.OtherSide()) return bottom_wall_->Size();
  if (!axis.Horizontal() && !axis.OtherSide()) return left_wall_->Size();
  return 0;
}

void TCustomChart::DrawBackground(const TRect& rect) {
  if (gradient_->Visible()) {
    // The canvas puts the start colour where the direction begins (the bottom
    // for gdBottomTop, the border for gdFromCenter), so the colours go in as
    // they are for every direction.
    canvas_->GradientFill(rect, gradient_->StartColor(), gradient_->EndColor(), gradient_->Direction());
  } else {
    TCustomChartPanel::DrawBackground(rect);
  }
  if (back_image_ && !back_image_inside_) DrawBackImage(rect);
}

void TCustomChart::SetBackImage(std::shared_ptr<const platform::Bitmap> image) {
  back_image_ = std::move(image);
  Repaint();
}
void TCustomChart::SetBackImageMode(TBackImageMode v) { SetAndRepaint(back_image_mode_, v, *this); }
void TCustomChart::SetBackImageInside(bool v) { SetAndRepaint(back_image_inside_, v, *this); }

void TCustomChart::DrawBackImage(const TRect& rect) {
  const platform::Bitmap& image = *back_image_;
  if (image.Empty() || rect.IsEmpty()) return;
  TChartCanvas3D& c = *canvas_;
  switch (back_image_mode_) {
    case pbmStretch:
      c.StretchDraw(rect, image);
      break;
    case pbmCenter:
      c.ClipRectangle(rect);
      c.Draw((rect.Left + rect.Right - image.Width()) / 2, (rect.Top + rect.Bottom - image.Height()) / 2, image);
      c.UnClipRectangle();
      break;
    case pbmTile:
      c.ClipRectangle(rect);
      for (int y = rect.Top; y < rect.Bottom; y += image.Height())
        for (int x = rect.Left; x < rect.Right; x += image.Width()) c.Draw(x, y, image);
      c.UnClipRectangle();
      break;
  }
}

void TCustomChart::DrawFrontPlane() {
  const bool legend = legend_->Visible() && CountActiveSeries() > 0;
  const bool side = legend_->Alignment() == laLeft || legend_->Alignment() == laRight;
  if (legend && side) legend_->Draw();
  if (title_->Visible()) title_->Draw();
  if (foot_->Visible()) foot_->Draw();
  if (legend && !side) legend_->Draw();
}

void TCustomChart::DrawWalls() {
  TChartCanvas3D& c = *canvas_;
  const TRect r = plot_rect_;
  const int d = width_3d_;
  if (back_image_ && back_image_inside_) DrawBackImage(r);
  if (!View3D()) {
    back_wall_->PrepareCanvas();
    c.Rectangle(r.Left, r.Top, r.Right + 1, r.Bottom);
    return;
  }
  const bool walls = View3DWalls();
  const int leftSize = walls ? left_wall_->Size() : 0;
  const int bottomSize = walls ? bottom_wall_->Size() : 0;
  // Back wall.
  {
    const bool dark = back_wall_->PrepareCanvas();
    if (walls && back_wall_->Size() > 0)
      c.Cube(r.Left - leftSize, r.Right, r.Top, r.Bottom + bottomSize, d, d + back_wall_->Size(), dark);
    else
      c.RectangleWithZ(TRect{r.Left + 1, r.Top - 1, r.Right, r.Bottom}, d);
  }
  if (!walls) return;
  // Left wall.
  {
    const bool dark = left_wall_->PrepareCanvas();
    if (left_wall_->Size() > 0)
      c.Cube(r.Left - left_wall_->Size(), r.Left, r.Top, r.Bottom + bottomSize, 0, d + 1, dark);
    else
      c.RectangleZ(r.Left, r.Top, r.Bottom + bottomSize, 0, d + 1);
  }
  // Bottom wall.
  {
    const bool dark = bottom_wall_->PrepareCanvas();
    if (bottom_wall_->Size() > 0)
      c.Cube(r.Left, r.Right, r.Bottom, r.Bottom + bottom_wall_->Size(), 0, d, dark);
    else
      c.RectangleY(r.Left, r.Bottom, r.Right, 0, d);
  }
}
