#include "platform/surface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "platform/fonts.h"
#include "platform/glyph_text.h"
#include "platform/mono_font.h"
#include "platform/sysutils.h"

namespace platform {

// Pixel runs [x0, x1) on rows, collected by the rasteriser and handed to
// cairo as one path of rectangles.
class SpanSet {
 public:
  void Add(int y, int x0, int x1) {
    if (x1 <= x0) return;
    if (!runs_.empty()) {
      Run& last = runs_.back();
      if (last.y == y && last.x1 == x0) {
        last.x1 = x1;
        return;
      }
    }
    runs_.push_back({y, x0, x1});
  }
  void AddPixel(int x, int y) { Add(y, x, x + 1); }
  void Reserve(std::size_t runs) { runs_.reserve(runs); }
  bool Empty() const { return runs_.empty(); }
  struct Run {
    int y, x0, x1;
  };
  const std::vector<Run>& Runs() const { return runs_; }
  void AppendPath(cairo_t* cr) const {
    for (const Run& r : runs_) cairo_rectangle(cr, r.x0, r.y, r.x1 - r.x0, 1);
  }

 private:
  std::vector<Run> runs_;
};

namespace {

// Coordinates handed to cairo stay well inside its 24.8 fixed-point range.
constexpr double kCoordLimit = 1 << 22;
double Clamp(double v) { return std::clamp(v, -kCoordLimit, kCoordLimit); }

// Box coordinates are limited to ±2^24 on entry, so that sums and
// differences of them never overflow; far beyond the largest bitmap this
// changes nothing that can be seen.
constexpr int kBoxLimit = 1 << 24;
int Lim(int v) { return std::clamp(v, -kBoxLimit, kBoxLimit); }
void Lim(int& a, int& b, int& c, int& d) {
  a = Lim(a);
  b = Lim(b);
  c = Lim(c);
  d = Lim(d);
}
TRect Lim(const TRect& r) { return {Lim(r.Left), Lim(r.Top), Lim(r.Right), Lim(r.Bottom)}; }

// Dash patterns of 1-pixel styled pens as on/off bits per pixel of one
// period: dash 18 on 6 off, dot 3/3, dash-dot 9/6/3/6, dash-dot-dot
// 9/3/3/3/3/3.
struct DashPattern {
  std::uint32_t bits = 0;  // bit i set: pixel i of the period is lit
  int period = 0;          // 0 for solid pens

  static DashPattern For(TPenStyle style) {
    static constexpr int kDash[] = {18, 6};
    static constexpr int kDot[] = {3, 3};
    static constexpr int kDashDot[] = {9, 6, 3, 6};
    static constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};
    std::span<const int> runs;
    switch (style) {
      case psDash: runs = kDash; break;
      case psDot: runs = kDot; break;
      case psDashDot: runs = kDashDot; break;
      case psDashDotDot: runs = kDashDotDot; break;
      default: return {};
    }
    DashPattern p;
    bool on = true;
    for (int n : runs) {
      for (int i = 0; i < n; ++i, ++p.period) {
        if (on) p.bits |= 1u << p.period;
      }
      on = !on;
    }
    return p;
  }
  bool On(int phase) const { return ((bits >> phase) & 1u) != 0; }
};

}  // namespace

bool HatchPixel(TBrushStyle style, int x, int y) {
  switch (style) {
    case bsHorizontal: return y == 0;
    case bsVertical: return x == 0;
    case bsFDiagonal: return x == y;
    case bsBDiagonal: return x + y == 7;
    case bsCross: return x == 0 || y == 0;
    case bsDiagCross: return x == y || x + y == 7;
    default: return true;
  }
}

namespace {

std::uint32_t Argb(TColor colour) {
  const TColor c = ColorToRGB(colour);
  return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
         (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

// Row spans of the ellipse inscribed in the box: the pixels whose centres
// lie inside. Span of row y is [first, second).
struct EllipseRows {
  double cx, cy, rx, ry;
  EllipseRows(int left, int top, int right, int bottom)
      : cx((static_cast<double>(left) + right) / 2.0),
        cy((static_cast<double>(top) + bottom) / 2.0),
        rx((static_cast<double>(right) - left) / 2.0),
        ry((static_cast<double>(bottom) - top) / 2.0) {}
  std::pair<int, int> Row(int y) const {
    if (rx <= 0 || ry <= 0) return {0, 0};
    const double dy = (y + 0.5 - cy) / ry;
    if (dy < -1 || dy > 1) return {0, 0};
    const double half = rx * std::sqrt(1 - dy * dy);
    const int x0 = static_cast<int>(std::ceil(cx - 0.5 - half));
    const int x1 = static_cast<int>(std::floor(cx - 0.5 + half)) + 1;
    return {x0, std::max(x0, x1)};
  }
};

}  // namespace

int TFont::PixelHeight() const {
  const int points = std::max(1, Size);
  return static_cast<int>(std::min<long>(kMaxPixelHeight, std::lround(points * 96.0 / 72.0)));
}

Surface::Surface(Bitmap& target) : target_(&target), width_(target.Width()), height_(target.Height()) {
  if (target.Empty()) throw Exception("cannot draw on an empty bitmap");
  NewContext();
}

// A cairo context on the bitmap that draws without smoothing: shapes and
// glyphs are sampled at pixel centres, and glyph advances are whole pixels.
void Surface::NewContext() {
  cairo_surface_t* target = cr_ ? cairo_get_target(cr_.get()) : target_->CairoSurface();
  cr_.reset(cairo_create(target));
  if (cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS) throw Exception("drawing surface cannot be created");
  cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_NONE);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr_.get(), options);
  cairo_font_options_destroy(options);
  clip_mask_.reset();
  clip_rect_ = TRect{0, 0, Width(), Height()};
}

Surface::Surface(int width, int height) : target_(nullptr), width_(width), height_(height) {
  if (width < 1 || height < 1) throw Exception("cannot draw on an empty surface");
}

Surface::~Surface() {
  if (cr_) cairo_surface_flush(cairo_get_target(cr_.get()));
}

void Surface::CheckStatus() {
  const cairo_status_t status = cairo_status(cr_.get());
  if (status == CAIRO_STATUS_SUCCESS) return;
  // A context in an error state ignores everything after; start a fresh one
  // so that the surface stays usable, and report the failure.
  NewContext();
  throw Exception(std::string("drawing failed: ") + cairo_status_to_string(status));
}

void Surface::SetSourceColour(TColor colour) {
  const TColor c = ColorToRGB(colour);
  cairo_set_source_rgb(cr_.get(), GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

bool Surface::SetBrushSource() {
  cairo_t* cr = cr_.get();
  if (Brush.Image && !Brush.Image->Empty()) {
    cairo_pattern_t* p = cairo_pattern_create_for_surface(Brush.Image->CairoSurface());
    cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
    return true;
  }
  if (Brush.Style == bsClear) return false;
  if (Brush.Style == bsSolid) {
    SetSourceColour(Brush.Color);
    return true;
  }
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  cairo_surface_flush(tile);
  unsigned char* data = cairo_image_surface_get_data(tile);
  const int stride = cairo_image_surface_get_stride(tile);
  const std::uint32_t fg = Argb(Brush.Color);
  const std::uint32_t bg = BackMode == bmOpaque ? Argb(BackColor) : 0u;
  for (int y = 0; y < 8; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < 8; ++x) row[x] = HatchPixel(Brush.Style, x, y) ? fg : bg;
  }
  cairo_surface_mark_dirty(tile);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(tile);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
  cairo_surface_destroy(tile);
  return true;
}

void Surface::FillSpans(const SpanSet& spans) {
  if (spans.Empty()) return;
  cairo_new_path(cr_.get());
  spans.AppendPath(cr_.get());
  cairo_fill(cr_.get());
}

void Surface::FillSpansWithBrush(const SpanSet& spans) {
  if (spans.Empty()) return;
  if (Brush.Style == bsSolid && !(Brush.Image && !Brush.Image->Empty())) {
    PaintSpans(spans, Brush.Color);
    return;
  }
  if (SetBrushSource()) FillSpans(spans);
}

// Solid runs are written straight into the bitmap: a line of a few hundred
// pixels is a few hundred stores instead of a cairo path of as many
// rectangles. The clip mask keeps the clip's pixels in step with cairo's.
void Surface::PaintSpans(const SpanSet& spans, TColor colour) {
  if (spans.Empty()) return;
  cairo_surface_t* target = cairo_get_target(cr_.get());
  cairo_surface_flush(target);
  unsigned char* data = cairo_image_surface_get_data(target);
  const int stride = cairo_image_surface_get_stride(target);
  const std::uint32_t pixel = Argb(colour) & 0x00FFFFFFu;
  const TRect& clip = clip_rect_;
  for (const SpanSet::Run& run : spans.Runs()) {
    if (run.y < clip.Top || run.y >= clip.Bottom) continue;
    const int x0 = std::max(run.x0, clip.Left);
    const int x1 = std::min(run.x1, clip.Right);
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(run.y) * stride);
    if (!clip_mask_) {
      std::fill(row + x0, row + std::max(x0, x1), pixel);
      continue;
    }
    const std::uint8_t* mask = cairo_image_surface_get_data(clip_mask_.get()) +
                               static_cast<std::ptrdiff_t>(run.y) * cairo_image_surface_get_stride(clip_mask_.get());
    for (int x = x0; x < x1; ++x) {
      if (mask[x] != 0) row[x] = pixel;
    }
  }
  cairo_surface_mark_dirty(target);
}

// One line with a pen of width 1, Bresenham steps on pixel centres. Lines
// reaching far outside the bitmap are cut to it first so that the step count
// stays bounded; on-bitmap lines are stepped exactly from their end points.
void Surface::DrawSegment(TPoint from, TPoint to, bool include_end) {
  const DashPattern pattern = DashPattern::For(Pen.Style);
  const bool styled = pattern.period > 0 && Pen.Width <= 1;
  if (styled) dash_phase_ %= pattern.period;  // the style may have changed since the last line
  const int w = Width();
  const int h = Height();
  constexpr std::int64_t kFar = 1 << 15;
  auto far = [&](TPoint p) {
    return p.X < -kFar || p.Y < -kFar || p.X > w + kFar || p.Y > h + kFar;
  };
  if (far(from) || far(to)) {
    // Liang-Barsky against a box a little larger than the bitmap.
    double x0 = from.X, y0 = from.Y, x1 = to.X, y1 = to.Y;
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 + 2, w + 2 - x0, y0 + 2, h + 2 - y0};
    for (int i = 0; i < 4; ++i) {
      if (p[i] == 0) {
        if (q[i] < 0) return;
        continue;
      }
      const double r = q[i] / p[i];
      if (p[i] < 0) {
        t0 = std::max(t0, r);
      } else {
        t1 = std::min(t1, r);
      }
    }
    if (t0 > t1) return;
    from = {static_cast<int>(std::lround(x0 + t0 * dx)), static_cast<int>(std::lround(y0 + t0 * dy))};
    TPoint cut = {static_cast<int>(std::lround(x0 + t1 * dx)), static_cast<int>(std::lround(y0 + t1 * dy))};
    if (t1 < 1) include_end = true;
    to = cut;
  }

  if (!styled && (from.X == to.X || from.Y == to.Y)) {
    // A straight solid line: the pixels the steps below would visit, as one
    // span or one run per row, without stepping.
    if (from == to && !include_end) return;
    const bool across = from.Y == to.Y;
    const int a = across ? from.X : from.Y;
    int b = across ? to.X : to.Y;
    if (!include_end) b += a < b ? -1 : 1;
    const int lo = std::max(std::min(a, b), -1);
    const int hi = std::min(std::max(a, b), across ? w : h);
    const int fixed = across ? from.Y : from.X;
    if (fixed < -1 || fixed > (across ? h : w) || lo > hi) return;
    SpanSet line;
    if (across) {
      line.Add(fixed, lo, hi + 1);
    } else {
      line.Reserve(static_cast<std::size_t>(hi - lo + 1));
      for (int row = lo; row <= hi; ++row) line.AddPixel(fixed, row);
    }
    PaintSpans(line, Pen.Color);
    return;
  }

  SpanSet on;
  SpanSet off;
  const bool fill_gaps = styled && BackMode == bmOpaque;
  int x = from.X;
  int y = from.Y;
  const int adx = std::abs(to.X - x);
  const int ady = -std::abs(to.Y - y);
  const int sx = x < to.X ? 1 : -1;
  const int sy = y < to.Y ? 1 : -1;
  int err = adx + ady;
  for (;;) {
    const bool last = x == to.X && y == to.Y;
    if (last && !include_end) break;
    if (x >= -1 && y >= -1 && x <= w && y <= h) {
      if (!styled || pattern.On(dash_phase_)) {
        on.AddPixel(x, y);
      } else if (fill_gaps) {
        off.AddPixel(x, y);
      }
    }
    if (styled && ++dash_phase_ == pattern.period) dash_phase_ = 0;
    if (last) break;
    const int e2 = 2 * err;
    if (e2 >= ady) {
      err += ady;
      x += sx;
    }
    if (e2 <= adx) {
      err += adx;
      y += sy;
    }
  }
  PaintSpans(on, Pen.Color);
  if (!off.Empty()) {
    PaintSpans(off, BackColor);
  }
}

void Surface::StrokeWidePath(bool close) {
  cairo_t* cr = cr_.get();
  if (close) cairo_close_path(cr);
  SetSourceColour(Pen.Color);
  cairo_set_line_width(cr, Pen.Width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

void Surface::MoveTo(int x, int y) {
  pen_pos_ = {x, y};
  dash_phase_ = 0;
}

void Surface::LineTo(int x, int y) {
  const TPoint from = pen_pos_;
  pen_pos_ = {x, y};
  if (Pen.Style == psClear) return;
  if (Pen.Width <= 1) {
    DrawSegment(from, pen_pos_, false);
    return;
  }
  cairo_new_path(cr_.get());
  cairo_move_to(cr_.get(), Clamp(from.X + 0.5), Clamp(from.Y + 0.5));
  cairo_line_to(cr_.get(), Clamp(x + 0.5), Clamp(y + 0.5));
  StrokeWidePath(false);
}

void Surface::Polyline(std::span<const TPoint> points) {
  if (points.empty()) return;
  MoveTo(points[0].X, points[0].Y);
  for (std::size_t i = 1; i < points.size(); ++i) LineTo(points[i].X, points[i].Y);
}

void Surface::Polygon(std::span<const TPoint> points) {
  if (points.size() < 2) return;
  cairo_t* cr = cr_.get();
  if (SetBrushSource()) {
    cairo_new_path(cr);
    cairo_move_to(cr, Clamp(points[0].X), Clamp(points[0].Y));
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr, Clamp(points[i].X), Clamp(points[i].Y));
    cairo_close_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  }
  if (Pen.Style == psClear) return;
  if (Pen.Width <= 1) {
    dash_phase_ = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
      DrawSegment(points[i], points[(i + 1) % points.size()], false);
    }
    return;
  }
  cairo_new_path(cr);
  cairo_move_to(cr, Clamp(points[0].X + 0.5), Clamp(points[0].Y + 0.5));
  for (std::size_t i = 1; i < points.size(); ++i) {
    cairo_line_to(cr, Clamp(points[i].X + 0.5), Clamp(points[i].Y + 0.5));
  }
  StrokeWidePath(true);
}

void Surface::Rectangle(int left, int top, int right, int bottom) {
  Lim(left, top, right, bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right == left || bottom == top) return;
  const bool outline = Pen.Style != psClear;
  TRect inner{left, top, right, bottom};
  if (outline) InflateRect(inner, -1, -1);
  FillRect(inner);
  if (!outline) return;
  if (Pen.Width <= 1) {
    const std::array<TPoint, 4> corners = {
        {{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}}};
    dash_phase_ = 0;
    if (right - left == 1 || bottom - top == 1) {
      DrawSegment(corners[0], corners[2], true);
      return;
    }
    for (std::size_t i = 0; i < 4; ++i) DrawSegment(corners[i], corners[(i + 1) % 4], false);
    return;
  }
  cairo_new_path(cr_.get());
  cairo_rectangle(cr_.get(), Clamp(left + 0.5), Clamp(top + 0.5), Clamp(right - left - 1.0),
                  Clamp(bottom - top - 1.0));
  cairo_set_line_join(cr_.get(), CAIRO_LINE_JOIN_MITER);
  SetSourceColour(Pen.Color);
  cairo_set_line_width(cr_.get(), Pen.Width);
  cairo_stroke(cr_.get());
}

// Walks an area given by row spans and a membership test and reports each
// pixel with whether it lies on the area's edge (a neighbour to the left,
// right, above or below is outside). Rows and columns are limited to the
// bitmap, so huge shapes cost no more than the bitmap.
template <typename RowFn, typename InFn, typename EmitFn>
static void WalkArea(int top, int bottom, int width, int height, RowFn row, InFn extra, EmitFn emit) {
  const int y_first = std::max(top, -1);
  const int y_last = std::min(bottom, height + 1);
  auto in = [&](int x, int y) {
    if (y < top || y >= bottom) return false;
    const auto [x0, x1] = row(y);
    return x >= x0 && x < x1 && extra(x, y);
  };
  for (int y = y_first; y < y_last; ++y) {
    const auto [x0, x1] = row(y);
    const int xa = std::max(x0, -1);
    const int xb = std::min(x1, width + 1);
    for (int x = xa; x < xb; ++x) {
      if (!extra(x, y)) continue;
      emit(x, y, !in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1));
    }
  }
}

void Surface::Ellipse(int left, int top, int right, int bottom) {
  Lim(left, top, right, bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right == left || bottom == top) return;
  const EllipseRows rows(left, top, right, bottom);
  const bool thin = Pen.Style != psClear && Pen.Width <= 1;
  SpanSet interior;
  SpanSet ring;
  WalkArea(
      top, bottom, Width(), Height(), [&](int y) { return rows.Row(y); }, [](int, int) { return true; },
      [&](int x, int y, bool edge) { (edge && thin ? ring : interior).AddPixel(x, y); });
  FillSpansWithBrush(interior);
  if (thin) {
    PaintSpans(ring, Pen.Color);
  } else if (Pen.Style != psClear) {
    cairo_t* cr = cr_.get();
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_translate(cr, Clamp(rows.cx), Clamp(rows.cy));
    cairo_scale(cr, std::max(0.5, rows.rx - 0.5), std::max(0.5, rows.ry - 0.5));
    cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(cr);
    StrokeWidePath(true);
  }
}

void Surface::RoundRect(int left, int top, int right, int bottom, int corner_w, int corner_h) {
  Lim(left, top, right, bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right == left || bottom == top) return;
  corner_w = std::clamp(corner_w, 0, right - left);
  corner_h = std::clamp(corner_h, 0, bottom - top);
  const EllipseRows corner(0, 0, corner_w, corner_h);
  const int half_h = corner_h / 2;
  auto row = [&](int y) -> std::pair<int, int> {
    int ey = -1;
    if (y - top < half_h) {
      ey = y - top;
    } else if (bottom - 1 - y < half_h) {
      ey = corner_h - 1 - (bottom - 1 - y);
    }
    int inset = 0;
    if (ey >= 0 && corner_w > 0) inset = std::max(0, corner.Row(ey).first);
    if (ey >= 0 && corner.Row(ey).second <= corner.Row(ey).first) inset = corner_w / 2;
    return {left + inset, right - inset};
  };
  const bool thin = Pen.Style != psClear && Pen.Width <= 1;
  SpanSet interior;
  SpanSet ring;
  WalkArea(top, bottom, Width(), Height(), row, [](int, int) { return true; },
           [&](int x, int y, bool edge) { (edge && thin ? ring : interior).AddPixel(x, y); });
  FillSpansWithBrush(interior);
  if (Pen.Style != psClear) {
    // Wider pens keep the 1-pixel outline: rounded frames are thin in charts.
    PaintSpans(ring, Pen.Color);
  }
}

namespace {

// Angle of a point about a centre, counter-clockwise on the screen (y down),
// in [0, 2π).
double ScreenAngle(double x, double y, double cx, double cy) {
  double a = std::atan2(-(y - cy), x - cx);
  if (a < 0) a += 2 * std::numbers::pi;
  return a;
}

struct Sector {
  double start = 0;
  double sweep = 2 * std::numbers::pi;
  double cx = 0, cy = 0;
  // Unit vectors of the start and end rays (y up).
  double sx = 1, sy = 0, ex = 1, ey = 0;
  // The angle test itself: the pixel centre's angle lies within the sweep.
  bool AngleContains(int x, int y) const {
    double d = ScreenAngle(x + 0.5, y + 0.5, cx, cy) - start;
    if (d < 0) d += 2 * std::numbers::pi;
    return d <= sweep;
  }
  // The same answer without an arc tangent for every pixel away from the two
  // rays: which side of each ray the centre lies on. Centres within a hair of
  // a ray take the angle test, so both always agree.
  bool Contains(int x, int y) const {
    if (sweep >= 2 * std::numbers::pi) return true;
    const double vx = x + 0.5 - cx;
    const double vy = -(y + 0.5 - cy);
    const double margin = 1e-9 * (std::abs(vx) + std::abs(vy));
    const double fromStart = sx * vy - sy * vx;  // > 0: counter-clockwise of the start ray
    const double toEnd = vx * ey - vy * ex;      // > 0: clockwise of the end ray
    if (std::abs(fromStart) <= margin || std::abs(toEnd) <= margin) return AngleContains(x, y);
    if (sweep <= std::numbers::pi) return fromStart > 0 && toEnd > 0;
    return fromStart > 0 || toEnd > 0;
  }
};

Sector MakeSector(const EllipseRows& rows, int x1, int y1, int x2, int y2) {
  Sector s;
  s.cx = rows.cx;
  s.cy = rows.cy;
  s.start = ScreenAngle(x1, y1, rows.cx, rows.cy);
  const double end = ScreenAngle(x2, y2, rows.cx, rows.cy);
  double sweep = end - s.start;
  if (sweep <= 0) sweep += 2 * std::numbers::pi;
  s.sweep = sweep;
  s.sx = std::cos(s.start);
  s.sy = std::sin(s.start);
  s.ex = std::cos(s.start + sweep);
  s.ey = std::sin(s.start + sweep);
  return s;
}

}  // namespace

void Surface::Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  Lim(left, top, right, bottom);
  if (Pen.Style == psClear) return;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right == left || bottom == top) return;
  const EllipseRows rows(left, top, right, bottom);
  const Sector sector = MakeSector(rows, x1, y1, x2, y2);
  SpanSet arc;
  WalkArea(
      top, bottom, Width(), Height(), [&](int y) { return rows.Row(y); }, [](int, int) { return true; },
      [&](int x, int y, bool edge) {
        if (edge && sector.Contains(x, y)) arc.AddPixel(x, y);
      });
  PaintSpans(arc, Pen.Color);
}

void Surface::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  Lim(left, top, right, bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (right == left || bottom == top) return;
  const EllipseRows rows(left, top, right, bottom);
  const Sector sector = MakeSector(rows, x1, y1, x2, y2);
  const bool outline = Pen.Style != psClear;
  // The walk asks about each pixel and its four neighbours: keep the row
  // spans of the visible rows instead of taking a square root each time.
  const int ry0 = std::max(top, -1) - 1, ry1 = std::min(bottom, Height() + 1) + 1;
  std::vector<std::pair<int, int>> spans;
  for (int y = ry0; y < ry1; ++y) spans.push_back(rows.Row(y));
  auto row = [&](int y) { return y >= ry0 && y < ry1 ? spans[static_cast<std::size_t>(y - ry0)] : rows.Row(y); };
  auto contains = [&](int x, int y) { return sector.Contains(x, y); };
  SpanSet interior;
  SpanSet ring;
  WalkArea(
      top, bottom, Width(), Height(), row, contains,
      [&](int x, int y, bool edge) { (edge && outline ? ring : interior).AddPixel(x, y); });
  FillSpansWithBrush(interior);
  if (outline) {
    PaintSpans(ring, Pen.Color);
  }
}

void Surface::FillRect(const TRect& r) {
  TRect c = Lim(r);
  c.Left = std::max(c.Left, -1);
  c.Top = std::max(c.Top, -1);
  c.Right = std::min(c.Right, Width() + 1);
  c.Bottom = std::min(c.Bottom, Height() + 1);
  if (c.IsEmpty() || !SetBrushSource()) return;
  cairo_new_path(cr_.get());
  cairo_rectangle(cr_.get(), c.Left, c.Top, c.Width(), c.Height());
  cairo_fill(cr_.get());
}

void Surface::PatBlt(const TRect& r, TColor colour) {
  TRect c = Lim(r);
  c.Left = std::max(c.Left, -1);
  c.Top = std::max(c.Top, -1);
  c.Right = std::min(c.Right, Width() + 1);
  c.Bottom = std::min(c.Bottom, Height() + 1);
  if (c.IsEmpty()) return;
  SetSourceColour(colour);
  cairo_new_path(cr_.get());
  cairo_rectangle(cr_.get(), c.Left, c.Top, c.Width(), c.Height());
  cairo_fill(cr_.get());
}

void Surface::SetPixel(int x, int y, TColor colour) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  SetSourceColour(colour);
  cairo_new_path(cr_.get());
  cairo_rectangle(cr_.get(), x, y, 1, 1);
  cairo_fill(cr_.get());
}

void Surface::SelectFont(const TFont& font) {
  cairo_set_font_face(cr_.get(), FontFace(font.Name, font.Bold, font.Italic));
  cairo_set_font_size(cr_.get(), font.PixelHeight());
}

void Surface::WithCurrentFont(const std::function<void(MonoFont&)>& use) {
  WithMonoFont(FontPath(Font.Name, Font.Bold, Font.Italic), Font.PixelHeight(), use);
}

int Surface::FontAscent() {
  int ascent = 0;
  WithCurrentFont([&](MonoFont& font) { ascent = font.Ascent(); });
  return ascent;
}

TSize Surface::TextExtent(std::string_view text) {
  const std::u32string chars = CodePoints(ValidUtf8(text));
  TSize size{};
  WithCurrentFont([&](MonoFont& font) {
    for (const char32_t ch : chars) size.cx += font.Glyph(ch).Advance;
    size.cy = font.Ascent() + font.Descent();
  });
  return size;
}

// Unrotated 1-bit glyphs written straight into the bitmap with the origin of
// the first at (x, y), inside the clip rectangle.
void Surface::DrawGlyphs(std::int64_t x, std::int64_t y, const std::u32string& chars, TColor colour) {
  cairo_surface_t* target = cairo_get_target(cr_.get());
  cairo_surface_flush(target);
  const std::uint32_t pixel = Argb(colour) & 0x00FFFFFFu;
  WithCurrentFont([&](MonoFont& font) {
    WriteGlyphRun(font, x, y, chars, pixel, clip_rect_, cairo_image_surface_get_data(target),
                  cairo_image_surface_get_stride(target));
  });
  cairo_surface_mark_dirty(target);
}

void Surface::TextOut(int x, int y, std::string_view text) {
  cairo_t* cr = cr_.get();
  const std::string valid = ValidUtf8(text);
  const std::u32string chars = CodePoints(valid);
  int ascent = 0, descent = 0, width = 0;
  bool mono = true;
  WithCurrentFont([&](MonoFont& font) {
    ascent = font.Ascent();
    descent = font.Descent();
    for (const char32_t ch : chars) {
      const MonoGlyph& g = font.Glyph(ch);
      width += g.Advance;
      mono = mono && g.Mono;
    }
  });

  // Reference point inside the text box (text frame: x along the text,
  // y down, origin at the left end of the baseline).
  const auto [dx, baseline] = AnchorText(TextAlign, width, ascent, descent);

  // Rotation about (x, y); quarter turns are exact so rotated text lands on
  // whole pixels.
  int tenths = Font.Escapement % 3600;
  if (tenths < 0) tenths += 3600;
  double c = 1, s = 0;
  switch (tenths) {
    case 0: break;
    case 900: c = 0, s = 1; break;
    case 1800: c = -1, s = 0; break;
    case 2700: c = 0, s = -1; break;
    default: {
      const double a = tenths * std::numbers::pi / 1800.0;
      c = std::cos(a);
      s = std::sin(a);
    }
  }
  cairo_save(cr);
  cairo_matrix_t m;
  cairo_matrix_init(&m, c, -s, s, c, Clamp(x), Clamp(y));
  cairo_transform(cr, &m);
  if (BackMode == bmOpaque && Brush.Style != bsClear && width > 0) {
    SetSourceColour(BackColor);
    cairo_new_path(cr);
    cairo_rectangle(cr, dx, baseline - ascent, width, ascent + descent);
    cairo_fill(cr);
  }
  if (!chars.empty()) {
    // Under a polygon clip cairo finds the edge pixels for glyphs otherwise
    // than for fills (and than the clip mask): such text is cairo's.
    if (tenths == 0 && mono && !clip_mask_ && !TextThroughCairo) {
      DrawGlyphs(static_cast<std::int64_t>(Clamp(x)) + dx, static_cast<std::int64_t>(Clamp(y)) + baseline, chars,
                 Font.Color);
    } else {
      SelectFont(Font);
      SetSourceColour(Font.Color);
      cairo_new_path(cr);
      cairo_move_to(cr, dx, baseline);
      cairo_show_text(cr, valid.c_str());
    }
  }
  if ((Font.Underline || Font.StrikeOut) && width > 0) {
    SetSourceColour(Font.Color);
    const int thickness = std::max(1, static_cast<int>(std::lround(Font.PixelHeight() / 14.0)));
    cairo_new_path(cr);
    if (Font.Underline) cairo_rectangle(cr, dx, baseline + std::max(1, descent / 2), width, thickness);
    if (Font.StrikeOut) cairo_rectangle(cr, dx, baseline - std::lround(ascent * 0.3), width, thickness);
    cairo_fill(cr);
  }
  cairo_restore(cr);
  CheckStatus();
}

void Surface::ClipRectangle(const TRect& r) {
  cairo_t* cr = cr_.get();
  cairo_reset_clip(cr);
  cairo_new_path(cr);
  const int w = Width();
  const int h = Height();
  const TRect c{std::clamp(r.Left, 0, w), std::clamp(r.Top, 0, h), std::clamp(r.Right, 0, w),
                std::clamp(r.Bottom, 0, h)};
  if (c.IsEmpty()) {
    cairo_rectangle(cr, 0, 0, 0, 0);
  } else {
    cairo_rectangle(cr, c.Left, c.Top, c.Width(), c.Height());
  }
  cairo_clip(cr);
  clip_mask_.reset();
  clip_rect_ = c.IsEmpty() ? TRect{0, 0, 0, 0} : c;
}

void Surface::ClipPolygon(std::span<const TPoint> points) {
  cairo_t* cr = cr_.get();
  auto trace = [&points](cairo_t* c) {
    cairo_new_path(c);
    for (const TPoint& p : points) cairo_line_to(c, Clamp(p.X), Clamp(p.Y));
    cairo_close_path(c);
    cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
  };
  cairo_reset_clip(cr);
  trace(cr);
  cairo_clip(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);

  // The same polygon rasterised once more into an 8-bit mask for the runs
  // that bypass cairo.
  const int w = Width();
  const int h = Height();
  clip_rect_ = TRect{0, 0, w, h};
  clip_mask_.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h));
  cairo_t* mc = cairo_create(clip_mask_.get());
  cairo_set_antialias(mc, CAIRO_ANTIALIAS_NONE);
  trace(mc);
  cairo_fill(mc);
  cairo_destroy(mc);
  cairo_surface_flush(clip_mask_.get());
  if (cairo_surface_status(clip_mask_.get()) != CAIRO_STATUS_SUCCESS || !cairo_image_surface_get_data(clip_mask_.get())) {
    clip_mask_.reset();
    clip_rect_ = TRect{0, 0, 0, 0};  // a clip that cannot be made lets nothing through
  }
}

void Surface::UnClip() {
  cairo_reset_clip(cr_.get());
  clip_mask_.reset();
  clip_rect_ = TRect{0, 0, Width(), Height()};
}

void Surface::Draw(int x, int y, const Bitmap& picture) {
  if (picture.Empty()) return;
  cairo_t* cr = cr_.get();
  cairo_save(cr);
  cairo_set_source_surface(cr, picture.CairoSurface(), Clamp(x), Clamp(y));
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_new_path(cr);
  cairo_rectangle(cr, Clamp(x), Clamp(y), picture.Width(), picture.Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void Surface::StretchDraw(const TRect& box, const Bitmap& picture) {
  const TRect r = Lim(box);
  if (picture.Empty() || r.IsEmpty()) return;
  cairo_t* cr = cr_.get();
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, Clamp(r.Left), Clamp(r.Top), Clamp(r.Width()), Clamp(r.Height()));
  cairo_clip(cr);
  cairo_translate(cr, Clamp(r.Left), Clamp(r.Top));
  cairo_scale(cr, static_cast<double>(r.Width()) / picture.Width(), static_cast<double>(r.Height()) / picture.Height());
  cairo_set_source_surface(cr, picture.CairoSurface(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
}

void Surface::BitBlt(int x, int y, const Bitmap& source, const TRect& source_box) {
  const TRect source_rect = Lim(source_box);
  if (source.Empty() || source_rect.IsEmpty()) return;
  cairo_t* cr = cr_.get();
  cairo_save(cr);
  cairo_reset_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, source.CairoSurface(), Clamp(static_cast<double>(x) - source_rect.Left),
                           Clamp(static_cast<double>(y) - source_rect.Top));
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_new_path(cr);
  cairo_rectangle(cr, Clamp(x), Clamp(y), Clamp(source_rect.Width()), Clamp(source_rect.Height()));
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace platform
