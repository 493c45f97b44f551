#include "chart/canvas3d.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "chart/pixel_math.h"

// ---------------------------------------------------------------------------
// Colours

TColor PaletteColor(int index) {
  int i = index % static_cast<int>(ColorPalette.size());
  if (i < 0) i += static_cast<int>(ColorPalette.size());
  return ColorPalette[static_cast<std::size_t>(i)];
}

TColor ShadeColor(TColor colour, int quantity) {
  const TColor c = ColorToRGB(colour);
  auto shade = [quantity](int component) {
    return static_cast<std::uint8_t>(component > quantity ? component - quantity : 0);
  };
  return RGB(shade(GetRValue(c)), shade(GetGValue(c)), shade(GetBValue(c)));
}

// ---------------------------------------------------------------------------
// Settings objects

void TView3DOptions::Assign(const TView3DOptions& other) {
  elevation_ = other.elevation_;
  horiz_offset_ = other.horiz_offset_;
  orthogonal_ = other.orthogonal_;
  rotation_ = other.rotation_;
  tilt_ = other.tilt_;
  vert_offset_ = other.vert_offset_;
  zoom_ = other.zoom_;
  Repaint();
}

namespace {

int Mid(int a, int b) { return static_cast<int>((static_cast<std::int64_t>(a) + b) / 2); }
double MidD(int a, int b) { return (static_cast<double>(a) + b) / 2.0; }
double HalfSpan(int a, int b) { return (static_cast<double>(b) - a) / 2.0; }

}  // namespace

// ---------------------------------------------------------------------------
// Outlines

std::vector<TPoint> ConvexHull(std::vector<TPoint> points) {
  std::sort(points.begin(), points.end(),
            [](const TPoint& a, const TPoint& b) { return a.X != b.X ? a.X < b.X : a.Y < b.Y; });
  points.erase(std::unique(points.begin(), points.end()), points.end());
  if (points.size() < 3) return points;
  // Exact turn test: differences need 33 bits, their products 66.
  auto cross = [](const TPoint& o, const TPoint& a, const TPoint& b) {
    using Wide = __int128;
    const auto d = [](int p, int q) { return static_cast<Wide>(static_cast<std::int64_t>(p) - q); };
    return d(a.X, o.X) * d(b.Y, o.Y) - d(a.Y, o.Y) * d(b.X, o.X);
  };
  std::vector<TPoint> hull(2 * points.size());
  std::size_t k = 0;
  for (const TPoint& p : points) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], p) <= 0) --k;
    hull[k++] = p;
  }
  const std::size_t lower = k + 1;
  for (std::size_t i = points.size() - 1; i-- > 0;) {
    while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
    hull[k++] = points[i];
  }
  hull.resize(k - 1);
  return hull;
}

std::vector<TPoint> ArrowOutline(TPoint from, TPoint to, int head_width, int head_height) {
  const double dx = static_cast<double>(to.X) - from.X;
  const double dy = static_cast<double>(to.Y) - from.Y;
  const double length = std::hypot(dx, dy);
  if (length == 0) return {};
  const double ux = dx / length, uy = dy / length;  // along the arrow
  const double nx = -uy, ny = ux;                   // across it
  const double head = std::clamp(static_cast<double>(head_height), 0.0, length);
  const double half_head = std::abs(head_width) / 2.0;
  const double half_shaft = half_head / 2.0;
  const double bx = to.X - ux * head, by = to.Y - uy * head;  // middle of the head's base
  auto pt = [](double x, double y) { return TPoint{RoundHalfEven(x), RoundHalfEven(y)}; };
  return {pt(from.X + nx * half_shaft, from.Y + ny * half_shaft),
          pt(bx + nx * half_shaft, by + ny * half_shaft),
          pt(bx + nx * half_head, by + ny * half_head),
          to,
          pt(bx - nx * half_head, by - ny * half_head),
          pt(bx - nx * half_shaft, by - ny * half_shaft),
          pt(from.X - nx * half_shaft, from.Y - ny * half_shaft)};
}

std::vector<TPoint> GradientDiagonalBand(const TRect& r, bool from_bottom, int d0, int d1, int first_row,
                                         int last_row) {
  // Row by row the band is one run of pixels; the outline follows the pixel
  // edges as a staircase, so no pixel centre lies on it and neighbouring
  // bands share no pixel.
  struct Run {
    int y, x0, x1;
  };
  std::vector<Run> runs;
  const int w = r.Width();
  for (int y = std::max(r.Top, first_row); y < std::min(r.Bottom, last_row); ++y) {
    const int dy = from_bottom ? r.Bottom - 1 - y : y - r.Top;
    const int x0 = r.Left + std::clamp(d0 - dy, 0, w);
    const int x1 = r.Left + std::clamp(d1 - dy, 0, w);
    if (x0 < x1) runs.push_back({y, x0, x1});
  }
  std::vector<TPoint> outline;
  outline.reserve(4 * runs.size());
  for (const Run& run : runs) {
    outline.push_back({run.x1, run.y});
    outline.push_back({run.x1, run.y + 1});
  }
  for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
    outline.push_back({it->x0, it->y + 1});
    outline.push_back({it->x0, it->y});
  }
  return outline;
}

// ---------------------------------------------------------------------------
// The canvas

namespace {

// Saves the bound surface's drawing state and puts it back on scope exit.
class StateSaver {
 public:
  explicit StateSaver(platform::Surface& s)
      : s_(s), pen_(s.Pen), brush_(s.Brush), font_(s.Font), back_colour_(s.BackColor), back_mode_(s.BackMode) {}
  ~StateSaver() {
    s_.Pen = pen_;
    s_.Brush = brush_;
    s_.Font = font_;
    s_.BackColor = back_colour_;
    s_.BackMode = back_mode_;
  }
  StateSaver(const StateSaver&) = delete;
  StateSaver& operator=(const StateSaver&) = delete;

 private:
  platform::Surface& s_;
  platform::TPen pen_;
  platform::TBrush brush_;
  platform::TFont font_;
  TColor back_colour_;
  platform::TBackMode back_mode_;
};

// Puts the surface's font back on scope exit (text drawn with a zoomed or
// rotated copy).
class FontRestorer {
 public:
  explicit FontRestorer(platform::Surface& s) : s_(s), font_(s.Font) {}
  ~FontRestorer() { s_.Font = font_; }
  FontRestorer(const FontRestorer&) = delete;
  FontRestorer& operator=(const FontRestorer&) = delete;

 private:
  platform::Surface& s_;
  platform::TFont font_;
};

}  // namespace

TChartCanvas3D::TChartCanvas3D() = default;

platform::Surface& TChartCanvas3D::Target() const {
  if (surface_ == nullptr) {
    if (!own_surface_) {
      own_bitmap_ = std::make_unique<platform::Bitmap>(1, 1);
      own_surface_ = std::make_unique<platform::Surface>(*own_bitmap_);
    }
    surface_ = own_surface_.get();
  }
  return *surface_;
}

TChartCanvas3D::~TChartCanvas3D() = default;

void TChartCanvas3D::AssignPen(const TChartPen& pen) {
  Target().Pen = pen.Pen();
  if (!pen.Visible()) Target().Pen.Style = platform::psClear;
}

void TChartCanvas3D::SetMonochrome(bool value) {
  if (monochrome_ == value) return;
  monochrome_ = value;
  if (surface_ == buffer_surface_.get()) surface_ = own_surface_.get();
  buffer_surface_.reset();
  buffer_.reset();
  invalidated_ = true;
  if (OnRepaint) OnRepaint();
}

void TChartCanvas3D::SetBufferedDisplay(bool value) {
  if (buffered_ == value) return;
  buffered_ = value;
  if (!value) {
    if (surface_ == buffer_surface_.get()) surface_ = own_surface_.get();
    buffer_surface_.reset();
    buffer_.reset();
    invalidated_ = true;
  }
}

void TChartCanvas3D::Assign(const TChartCanvas3D& other) { SetMonochrome(other.monochrome_); }

void TChartCanvas3D::ResetState() {
  platform::Surface& s = Target();
  s.Pen.Color = clBlack;
  s.Pen.Width = 1;
  s.Pen.Style = platform::psSolid;
  s.Brush.Color = clWhite;
  s.Brush.Style = platform::bsSolid;
  s.Brush.Image.reset();
  s.Font.Color = clBlack;
  s.Font.Size = 10;
  s.BackColor = clWhite;
  s.BackMode = platform::bmOpaque;
}

TRect TChartCanvas3D::BeginDrawing(platform::Surface& destination, const TView3DOptions* options, bool is_3d,
                                   const TRect& user_rect) {
  bounds_ = user_rect;
  options_ = options;
  projection_.Is3D = is_3d;
  saved_3d_ = is_3d;
  projection_.Zoom = 1.0;
  if (is_3d) {
    if (options != nullptr) {
      projection_.Orthogonal = options->Orthogonal();
      projection_.Zoom = options->Zoom() * 0.01;
    }
    if (!projection_.Orthogonal) {
      projection_.C = options != nullptr
                          ? CalcTrigValues(options->Rotation(), options->Elevation(), options->Tilt())
                          : CalcTrigValues(0, 0, 0);
    }
  }
  if (!buffered_) {
    surface_ = &destination;
    return user_rect;
  }
  // A chart without pixels still gets a (1 × 1) buffer so that drawing into
  // it stays harmless.
  const int w = std::clamp(user_rect.Width(), 1, platform::Bitmap::kMaxSide);
  const int h = std::clamp(user_rect.Height(), 1, platform::Bitmap::kMaxSide);
  if (!buffer_ || buffer_->Width() != w || buffer_->Height() != h) {
    // A buffer of another size would cut or pad the picture: make a new one.
    if (surface_ == buffer_surface_.get()) surface_ = own_surface_.get();
    buffer_surface_.reset();
    buffer_ = std::make_unique<platform::Bitmap>(w, h);
    buffer_surface_ = std::make_unique<platform::Surface>(*buffer_);
  }
  surface_ = buffer_surface_.get();
  return Rect(0, 0, std::max(0, user_rect.Width()), std::max(0, user_rect.Height()));
}

void TChartCanvas3D::Projection(int max_depth, const TRect& r) {
  projection_.XCenter = static_cast<int>((static_cast<std::int64_t>(r.Left) + r.Right) / 2);
  projection_.YCenter = static_cast<int>((static_cast<std::int64_t>(r.Top) + r.Bottom) / 2);
  projection_.ZCenter = max_depth / 2;
  projection_.XCenterOffset = SaturatedSum(projection_.XCenter, options_ != nullptr ? options_->HorizOffset() : 0);
  projection_.YCenterOffset = SaturatedSum(projection_.YCenter, options_ != nullptr ? options_->VertOffset() : 0);
}

void TChartCanvas3D::ShowImage(platform::Surface& destination, platform::Surface* default_surface, const TRect& user_rect) {
  if (buffered_ && buffer_) {
    ReDrawBitmap(destination, user_rect);
    invalidated_ = false;
  }
  surface_ = default_surface != nullptr ? default_surface : own_surface_.get();
}

void TChartCanvas3D::ReDrawBitmap(platform::Surface& destination, const TRect& user_rect) {
  if (!buffer_) return;
  destination.BitBlt(user_rect.Left, user_rect.Top, *buffer_,
                     Rect(0, 0, std::min(buffer_->Width(), std::max(0, user_rect.Width())),
                          std::min(buffer_->Height(), std::max(0, user_rect.Height()))));
}

void TChartCanvas3D::Calc3DPos(int& x, int& y, int z) const {
  const TPoint p = projection_.Project(x, y, z);
  x = p.X;
  y = p.Y;
}

void TChartCanvas3D::SuspendProjection() {
  saved_3d_ = projection_.Is3D;
  projection_.Is3D = false;
}

void TChartCanvas3D::ResumeProjection() { projection_.Is3D = saved_3d_; }

// -- 2D -----------------------------------------------------------------------------

void TChartCanvas3D::Frame3D(TRect& r, TColor top_colour, TColor bottom_colour, int width) {
  const int w = Target().Width();
  const int h = Target().Height();
  for (int i = 0; i < width && !r.IsEmpty(); ++i) {
    // Rings around the whole surface or beside it show nothing: skip them
    // in one step, so that a huge width costs nothing.
    const std::int64_t around = std::min({-static_cast<std::int64_t>(r.Left), -static_cast<std::int64_t>(r.Top),
                                          static_cast<std::int64_t>(r.Right) - w,
                                          static_cast<std::int64_t>(r.Bottom) - h});
    const bool beside = r.Left >= w || r.Top >= h || r.Right <= 0 || r.Bottom <= 0;
    if (around > 1 || beside) {
      const std::int64_t until_empty =
          (std::min<std::int64_t>(static_cast<std::int64_t>(r.Right) - r.Left,
                                  static_cast<std::int64_t>(r.Bottom) - r.Top) + 1) / 2;
      std::int64_t step = std::min<std::int64_t>(width - i, until_empty);
      if (!beside) step = std::min(step, around - 1);
      r = {Saturate(r.Left + step), Saturate(r.Top + step), Saturate(r.Right - step), Saturate(r.Bottom - step)};
      i += static_cast<int>(step) - 1;
      continue;
    }
    Target().PatBlt(Rect(r.Left, r.Top, r.Right - 1, r.Top + 1), top_colour);
    Target().PatBlt(Rect(r.Left, r.Top, r.Left + 1, r.Bottom - 1), top_colour);
    Target().PatBlt(Rect(r.Right - 1, r.Top, r.Right, r.Bottom), bottom_colour);
    Target().PatBlt(Rect(r.Left, r.Bottom - 1, r.Right, r.Bottom), bottom_colour);
    InflateRect(r, -1, -1);
  }
}

void TChartCanvas3D::DoHorizLine(int x0, int x1, int y) {
  Target().MoveTo(x0, y);
  Target().LineTo(x1, y);
}

void TChartCanvas3D::DoVertLine(int x, int y0, int y1) {
  Target().MoveTo(x, y0);
  Target().LineTo(x, y1);
}

void TChartCanvas3D::Line(int x0, int y0, int x1, int y1) {
  Target().MoveTo(x0, y0);
  Target().LineTo(x1, y1);
}

void TChartCanvas3D::GradientFill(const TRect& rect, TColor start_colour, TColor end_colour,
                                  TGradientDirection direction) {
  // Bands are laid out over at most ±2^24 pixels, far beyond any bitmap.
  constexpr int kLimit = 1 << 24;
  const TRect r = {std::clamp(rect.Left, -kLimit, kLimit), std::clamp(rect.Top, -kLimit, kLimit),
                   std::clamp(rect.Right, -kLimit, kLimit), std::clamp(rect.Bottom, -kLimit, kLimit)};
  if (r.IsEmpty()) return;
  const TColor a = ColorToRGB(start_colour);
  const TColor b = ColorToRGB(end_colour);
  int extent = 0;
  switch (direction) {
    case gdTopBottom:
    case gdBottomTop: extent = r.Height(); break;
    case gdLeftRight:
    case gdRightLeft: extent = r.Width(); break;
    case gdFromCenter: extent = std::max(1, std::min(r.Width(), r.Height()) / 2); break;
    case gdFromTopLeft:
    case gdFromBottomLeft: extent = r.Width() + r.Height() - 1; break;  // diagonals of pixels
  }
  const int n = std::min(256, extent);
  auto colour = [&](int i) {
    // One band has nothing to move towards: it takes the start colour.
    auto mix = [&](int from, int to) { return n > 1 ? from + MulDiv(i, to - from, n - 1) : from; };
    return RGB(static_cast<std::uint8_t>(mix(GetRValue(a), GetRValue(b))),
               static_cast<std::uint8_t>(mix(GetGValue(a), GetGValue(b))),
               static_cast<std::uint8_t>(mix(GetBValue(a), GetBValue(b))));
  };
  StateSaver saver(Target());
  for (int i = 0; i < n; ++i) {
    const int p0 = MulDiv(i, extent, n);
    const int p1 = MulDiv(i + 1, extent, n);
    const TColor c = colour(i);
    switch (direction) {
      case gdTopBottom: Target().PatBlt(Rect(r.Left, r.Top + p0, r.Right, r.Top + p1), c); break;
      case gdBottomTop: Target().PatBlt(Rect(r.Left, r.Bottom - p1, r.Right, r.Bottom - p0), c); break;
      case gdLeftRight: Target().PatBlt(Rect(r.Left + p0, r.Top, r.Left + p1, r.Bottom), c); break;
      case gdRightLeft: Target().PatBlt(Rect(r.Right - p1, r.Top, r.Right - p0, r.Bottom), c); break;
      case gdFromCenter: {
        // Nested rectangles from the border inwards, the last one filling
        // the middle.
        TRect band = r;
        InflateRect(band, -p0, -p0);
        Target().PatBlt(band, c);
        break;
      }
      case gdFromTopLeft:
      case gdFromBottomLeft: {
        const std::vector<TPoint> band =
            GradientDiagonalBand(r, direction == gdFromBottomLeft, p0, p1, -1, Target().Height() + 1);
        Target().Pen.Style = platform::psClear;
        Target().Brush.Style = platform::bsSolid;
        Target().Brush.Image.reset();
        Target().Brush.Color = c;
        Target().Polygon(band);
        break;
      }
    }
  }
}

void TChartCanvas3D::RotateLabel(int x, int y, std::string_view text, int angle) {
  Target().Brush.Style = platform::bsClear;
  FontRestorer restore(Target());
  Target().Font.Escapement = (angle % 360) * 10;
  if (projection_.Zoom != 1.0) {
    Target().Font.Size = std::max(1, RoundHalfEven(Target().Font.Size * projection_.Zoom));
  }
  Target().TextOut(x, y, text);
}

// -- 3D -----------------------------------------------------------------------------

void TChartCanvas3D::Pixel3D(int x, int y, int z, TColor colour) {
  const TPoint p = ProjectPoint(x, y, z);
  if (Target().Pen.Width <= 1) {
    Target().SetPixel(p.X, p.Y, colour);
    return;
  }
  const TColor saved = Target().Pen.Color;
  Target().Pen.Color = colour;
  Target().MoveTo(p.X, p.Y);
  Target().LineTo(p.X, p.Y);
  Target().Pen.Color = saved;
}

void TChartCanvas3D::HorizLine3D(int x0, int x1, int y, int z) {
  MoveTo3D(x0, y, z);
  LineTo3D(x1, y, z);
}

void TChartCanvas3D::VertLine3D(int x, int y0, int y1, int z) {
  MoveTo3D(x, y0, z);
  LineTo3D(x, y1, z);
}

void TChartCanvas3D::ZLine3D(int x, int y, int z0, int z1) {
  MoveTo3D(x, y, z0);
  LineTo3D(x, y, z1);
}

void TChartCanvas3D::LineWithZ(int x0, int y0, int x1, int y1, int z) {
  MoveTo3D(x0, y0, z);
  LineTo3D(x1, y1, z);
}

void TChartCanvas3D::MoveTo3D(int x, int y, int z) {
  const TPoint p = ProjectPoint(x, y, z);
  Target().MoveTo(p.X, p.Y);
}

void TChartCanvas3D::LineTo3D(int x, int y, int z) {
  const TPoint p = ProjectPoint(x, y, z);
  Target().LineTo(p.X, p.Y);
}

TColor TChartCanvas3D::FaceColour() const {
  return Target().Brush.Style == platform::bsSolid ? Target().Brush.Color : Target().BackColor;
}

void TChartCanvas3D::SetFaceColour(TColor colour) {
  if (Target().Brush.Style == platform::bsSolid) {
    Target().Brush.Color = colour;
  } else {
    Target().BackColor = colour;
  }
}

void TChartCanvas3D::PolygonOf(std::initializer_list<TPoint> points) {
  Target().Polygon(std::span<const TPoint>(points.begin(), points.size()));
}

void TChartCanvas3D::Cube(int left, int right, int top, int bottom, int z0, int z1, bool dark_sides) {
  const TColor face = FaceColour();
  PolygonOf({ProjectPoint(left, top, z0), ProjectPoint(right, top, z0), ProjectPoint(right, bottom, z0),
             ProjectPoint(left, bottom, z0)});
  if (!Is3D()) return;  // flat: the side faces would only be lines on the front face
  if (dark_sides) SetFaceColour(ShadeColor(face, SideFaceShade));
  PolygonOf({ProjectPoint(right, top, z0), ProjectPoint(right, top, z1), ProjectPoint(right, bottom, z1),
             ProjectPoint(right, bottom, z0)});
  if (dark_sides) SetFaceColour(ShadeColor(face, TopFaceShade));
  PolygonOf({ProjectPoint(left, top, z0), ProjectPoint(right, top, z0), ProjectPoint(right, top, z1),
             ProjectPoint(left, top, z1)});
  if (dark_sides) SetFaceColour(face);
}

void TChartCanvas3D::RectangleWithZ(const TRect& r, int z) {
  PolygonOf({ProjectPoint(r.Left, r.Top, z), ProjectPoint(r.Right, r.Top, z), ProjectPoint(r.Right, r.Bottom, z),
             ProjectPoint(r.Left, r.Bottom, z)});
}

void TChartCanvas3D::Plane3D(TPoint p1, TPoint p2, int z0, int z1) {
  PolygonOf({ProjectPoint(p1.X, p1.Y, z0), ProjectPoint(p2.X, p2.Y, z0), ProjectPoint(p2.X, p2.Y, z1),
             ProjectPoint(p1.X, p1.Y, z1)});
}

void TChartCanvas3D::RectangleY(int left, int y, int right, int z0, int z1) {
  PolygonOf({ProjectPoint(left, y, z0), ProjectPoint(right, y, z0), ProjectPoint(right, y, z1),
             ProjectPoint(left, y, z1)});
}

void TChartCanvas3D::RectangleZ(int x, int top, int bottom, int z0, int z1) {
  PolygonOf({ProjectPoint(x, top, z0), ProjectPoint(x, top, z1), ProjectPoint(x, bottom, z1),
             ProjectPoint(x, bottom, z0)});
}

void TChartCanvas3D::PlaneWithZ(TPoint p1, TPoint p2, TPoint p3, TPoint p4, int z) {
  PolygonOf({ProjectPoint(p1.X, p1.Y, z), ProjectPoint(p2.X, p2.Y, z), ProjectPoint(p3.X, p3.Y, z),
             ProjectPoint(p4.X, p4.Y, z)});
}

void TChartCanvas3D::TriangleWithZ(TPoint p1, TPoint p2, TPoint p3, int z) {
  PolygonOf({ProjectPoint(p1.X, p1.Y, z), ProjectPoint(p2.X, p2.Y, z), ProjectPoint(p3.X, p3.Y, z)});
}

void TChartCanvas3D::PlaneFour3D(const std::array<TPoint, 4>& p, int z0, int z1) {
  PolygonOf({ProjectPoint(p[0].X, p[0].Y, z0), ProjectPoint(p[1].X, p[1].Y, z0), ProjectPoint(p[2].X, p[2].Y, z1),
             ProjectPoint(p[3].X, p[3].Y, z1)});
}

void TChartCanvas3D::EllipseWithZ(int left, int top, int right, int bottom, int z) {
  if (!Is3D() || projection_.Orthogonal) {
    // A shift (and zoom) of the plane: the ellipse of the projected box.
    const TPoint a = ProjectPoint(left, top, z);
    const TPoint b = ProjectPoint(right, bottom, z);
    Target().Ellipse(a.X, a.Y, b.X, b.Y);
    return;
  }
  constexpr int kSteps = 64;
  const double cx = MidD(left, right), cy = MidD(top, bottom);
  const double rx = HalfSpan(left, right), ry = HalfSpan(top, bottom);
  std::vector<TPoint> points;
  points.reserve(kSteps);
  for (int i = 0; i < kSteps; ++i) {
    const double a = 2 * std::numbers::pi * i / kSteps;
    points.push_back(ProjectPoint(RoundHalfEven(cx + rx * std::cos(a)), RoundHalfEven(cy - ry * std::sin(a)), z));
  }
  Target().Polygon(points);
}

void TChartCanvas3D::Pie3D(int x_center, int y_center, int x_radius, int y_radius, int z0, int z1,
                           double start_angle, double end_angle, bool dark_sides, bool draw_sides) {
  constexpr int kPoints = 32;
  const double step = (end_angle - start_angle) / (kPoints - 1);
  std::array<int, kPoints> arc_x{};
  std::array<TPoint, kPoints> face{};  // arc at z1
  std::array<TPoint, kPoints> rim{};   // arc at z0
  for (int i = 0; i < kPoints; ++i) {
    const double a = start_angle + i * step;
    const int x = SaturatedSum(x_center, RoundHalfEven(x_radius * std::cos(a)));
    const int y = SaturatedSum(y_center, RoundHalfEven(-y_radius * std::sin(a)));
    arc_x[static_cast<std::size_t>(i)] = x;
    face[static_cast<std::size_t>(i)] = ProjectPoint(x, y, z1);
    rim[static_cast<std::size_t>(i)] = ProjectPoint(x, y, z0);
  }
  const TPoint centre1 = ProjectPoint(x_center, y_center, z1);
  const TPoint centre0 = ProjectPoint(x_center, y_center, z0);
  const TColor colour = FaceColour();
  const TColor dark = dark_sides ? ShadeColor(colour, PieSideShade) : colour;

  if (draw_sides) {
    SetFaceColour(dark);
    if (arc_x.back() < x_center) PolygonOf({centre1, face.back(), rim.back(), centre0});
    if (arc_x.front() > x_center) PolygonOf({centre1, face.front(), rim.front(), centre0});
    SetFaceColour(colour);
  }

  std::vector<TPoint> points;
  points.reserve(2 * kPoints + 1);
  points.push_back(centre1);
  points.insert(points.end(), face.begin(), face.end());
  Target().Polygon(points);

  // The rim over each stretch of the arc that turns towards the viewer:
  // segments along which x grows with the angle (the lower half of the
  // circle, where the sine is negative).
  SetFaceColour(dark);
  int i = 0;
  while (i < kPoints - 1) {
    auto facing = [&](int k) { return std::sin(start_angle + (k + 0.5) * step) * (step > 0 ? 1 : -1) < 0; };
    if (!facing(i)) {
      ++i;
      continue;
    }
    int j = i;
    while (j < kPoints - 1 && facing(j)) ++j;  // points i..j form the stretch
    points.clear();
    for (int k = i; k <= j; ++k) points.push_back(face[static_cast<std::size_t>(k)]);
    for (int k = j; k >= i; --k) points.push_back(rim[static_cast<std::size_t>(k)]);
    Target().Polygon(points);
    i = j;
  }
  SetFaceColour(colour);
}

void TChartCanvas3D::Pyramid(bool vertical, int left, int top, int right, int bottom, int z0, int z1,
                             bool dark_sides) {
  const TColor face = FaceColour();
  const int zm = Mid(z0, z1);
  if (vertical) {
    // Base at y = bottom, apex at y = top.
    const int xm = Mid(left, right);
    const TPoint apex = ProjectPoint(xm, top, zm);
    if (top > bottom && Is3D()) {
      // Standing on its apex: the base is seen from above.
      if (dark_sides) SetFaceColour(ShadeColor(face, TopFaceShade));
      RectangleY(left, bottom, right, z0, z1);
    }
    if (Is3D()) {
      if (dark_sides) SetFaceColour(ShadeColor(face, SideFaceShade));
      PolygonOf({ProjectPoint(right, bottom, z0), ProjectPoint(right, bottom, z1), apex});
    }
    if (dark_sides) SetFaceColour(face);
    PolygonOf({ProjectPoint(left, bottom, z0), ProjectPoint(right, bottom, z0), apex});
  } else {
    // Base at x = left, apex at x = right.
    const int ym = Mid(top, bottom);
    const TPoint apex = ProjectPoint(right, ym, zm);
    if (right < left && Is3D()) {
      // Pointing left: the base faces right.
      if (dark_sides) SetFaceColour(ShadeColor(face, SideFaceShade));
      RectangleZ(left, top, bottom, z0, z1);
    }
    if (Is3D()) {
      if (dark_sides) SetFaceColour(ShadeColor(face, TopFaceShade));
      PolygonOf({ProjectPoint(left, top, z0), ProjectPoint(left, top, z1), apex});
    }
    if (dark_sides) SetFaceColour(face);
    PolygonOf({ProjectPoint(left, top, z0), ProjectPoint(left, bottom, z0), apex});
  }
}

void TChartCanvas3D::Cylinder(bool vertical, int left, int top, int right, int bottom, int z0, int z1,
                              bool dark_sides) {
  constexpr int kSteps = 32;
  const TColor face = FaceColour();
  const double zc = MidD(z0, z1), zr = HalfSpan(z0, z1);
  std::vector<TPoint> body;
  std::vector<TPoint> cap;
  body.reserve(2 * kSteps);
  cap.reserve(kSteps);
  for (int i = 0; i < kSteps; ++i) {
    const double a = 2 * std::numbers::pi * i / kSteps;
    const int z = RoundHalfEven(zc + zr * std::sin(a));
    if (vertical) {
      const int x = RoundHalfEven(MidD(left, right) + HalfSpan(left, right) * std::cos(a));
      cap.push_back(ProjectPoint(x, top, z));
      body.push_back(cap.back());
      body.push_back(ProjectPoint(x, bottom, z));
    } else {
      const int y = RoundHalfEven(MidD(top, bottom) + HalfSpan(top, bottom) * std::cos(a));
      cap.push_back(ProjectPoint(right, y, z));
      body.push_back(cap.back());
      body.push_back(ProjectPoint(left, y, z));
    }
  }
  Target().Polygon(ConvexHull(std::move(body)));
  if (!Is3D()) return;
  if (dark_sides) SetFaceColour(ShadeColor(face, vertical ? TopFaceShade : SideFaceShade));
  Target().Polygon(cap);
  if (dark_sides) SetFaceColour(face);
}

void TChartCanvas3D::Arrow(bool filled, TPoint from, TPoint to, int head_width, int head_height, int z) {
  std::vector<TPoint> outline = ArrowOutline(from, to, head_width, head_height);
  if (outline.empty()) return;
  for (TPoint& p : outline) p = ProjectPoint(p.X, p.Y, z);
  if (filled) {
    Target().Polygon(outline);
    return;
  }
  const platform::TBrush saved = Target().Brush;
  Target().Brush.Style = platform::bsClear;
  Target().Brush.Image.reset();
  Target().Polygon(outline);
  Target().Brush = saved;
}

void TChartCanvas3D::ClipCube(const TRect& r, int z0, int z1) {
  if (!Is3D()) {
    Target().ClipRectangle(Rect(r.Left + 1, r.Top + 1, r.Right, r.Bottom - 1));
    return;
  }
  std::vector<TPoint> corners;
  for (int z : {z0, z1}) {
    for (int y : {r.Top, r.Bottom}) {
      for (int x : {r.Left, r.Right}) corners.push_back(ProjectPoint(x, y, z));
    }
  }
  Target().ClipPolygon(ConvexHull(std::move(corners)));
}

void TChartCanvas3D::TextOut3D(int x, int y, int z, std::string_view text) {
  const TPoint p = ProjectPoint(x, y, z);
  if (projection_.Zoom == 1.0) {
    Target().TextOut(p.X, p.Y, text);
    return;
  }
  FontRestorer restore(Target());
  Target().Font.Size = std::max(1, RoundHalfEven(Target().Font.Size * projection_.Zoom));
  Target().TextOut(p.X, p.Y, text);
}

void TChartCanvas3D::RotateLabel3D(int x, int y, int z, std::string_view text, int angle) {
  const TPoint p = ProjectPoint(x, y, z);
  RotateLabel(p.X, p.Y, text, angle);
}
