#include "platform/svg_surface.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/fonts.h"
#include "platform/sysutils.h"

namespace platform {

namespace {

// Box coordinates are limited to ±2^24 on entry, as on the bitmap surface,
// so that sums and differences never overflow.
constexpr int kBoxLimit = 1 << 24;
int Lim(int v) { return std::clamp(v, -kBoxLimit, kBoxLimit); }

// Sorts and limits a bounding box; false when it has no area.
bool NormalBox(int& left, int& top, int& right, int& bottom) {
  left = Lim(left);
  top = Lim(top);
  right = Lim(right);
  bottom = Lim(bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  return right != left && bottom != top;
}

std::string Num(double v) { return SvgNumber(v); }

// The CSS font list for a face name: the Liberation face the bitmap draws
// with first, then the faces it is metric-compatible with and the generic
// family, so a viewer without Liberation fonts lays the text out alike.
std::string FontFamily(std::string_view name) {
  const std::string file = FontFileName(name, false, false);
  if (file.starts_with("LiberationSerif")) return "'Liberation Serif', 'Times New Roman', Times, serif";
  if (file.starts_with("LiberationMono")) return "'Liberation Mono', 'Courier New', Courier, monospace";
  return "'Liberation Sans', Arial, Helvetica, sans-serif";
}

bool SamePen(const TPen& a, const TPen& b) { return a.Color == b.Color && a.Width == b.Width && a.Style == b.Style; }

const char* DashArray(TPenStyle style) {
  switch (style) {
    case psDash: return "18 6";
    case psDot: return "3 3";
    case psDashDot: return "9 6 3 6";
    case psDashDotDot: return "9 3 3 3 3 3";
    default: return nullptr;
  }
}

// Angle of a point about a centre, counter-clockwise on the screen (y down),
// in [0, 2π) (as the bitmap surface measures the rays of arcs and pies).
double ScreenAngle(double x, double y, double cx, double cy) {
  double a = std::atan2(-(y - cy), x - cx);
  if (a < 0) a += 2 * std::numbers::pi;
  return a;
}

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The picture as a PNG data URI.
std::string PngDataUri(const Bitmap& picture) {
  std::string png;
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  if (cairo_surface_write_to_png_stream(picture.CairoSurface(), append, &png) != CAIRO_STATUS_SUCCESS) {
    throw Exception("picture cannot be encoded for the SVG document");
  }
  return "data:image/png;base64," + Base64(png);
}

}  // namespace

SvgSurface::SvgSurface(int width, int height) : Surface(width, height), doc_(width, height) {
  // A new bitmap is white; so is the document's canvas.
  doc_.Start("rect").Attr("width", width).Attr("height", height).Attr("fill", "#ffffff").End();
}

std::string SvgSurface::Finish() {
  FlushPath();
  if (clipped_) doc_.Close("g");
  clipped_ = false;
  return doc_.Finish();
}

void SvgSurface::FlushPath() {
  if (path_.empty()) return;
  if (path_gaps_) {
    doc_.Start("path").Attr("d", path_).Attr("fill", "none").Attr("stroke", SvgColour(path_back_)).End();
  }
  const TPen pen = Pen;
  Pen = path_pen_;
  doc_.Start("path").Attr("d", path_).Attr("fill", "none");
  StrokeAttrs(Pen.Color, true);
  doc_.End();
  Pen = pen;
  path_.clear();
}

std::string SvgSurface::BrushFill() {
  if (Brush.Image && !Brush.Image->Empty()) {
    const std::string id = doc_.NewId("p");
    doc_.Start("defs").Open();
    doc_.Start("pattern").Attr("id", id).Attr("width", Brush.Image->Width()).Attr("height", Brush.Image->Height());
    doc_.Attr("patternUnits", "userSpaceOnUse").Open();
    Picture(0, 0, Brush.Image->Width(), Brush.Image->Height(), *Brush.Image);
    doc_.Close("pattern");
    doc_.Close("defs");
    return "url(#" + id + ")";
  }
  if (Brush.Style == bsClear) return "none";
  if (Brush.Style == bsSolid) return SvgColour(Brush.Color);
  // An 8×8 hatch tile from the surface origin; its gaps take the background
  // colour when the background is opaque.
  const std::string id = doc_.NewId("p");
  doc_.Start("defs").Open();
  doc_.Start("pattern").Attr("id", id).Attr("width", 8).Attr("height", 8).Attr("patternUnits", "userSpaceOnUse").Open();
  if (BackMode == bmOpaque) doc_.Start("rect").Attr("width", 8).Attr("height", 8).Attr("fill", SvgColour(BackColor)).End();
  std::string d;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8;) {
      if (!HatchPixel(Brush.Style, x, y)) {
        ++x;
        continue;
      }
      int end = x;
      while (end < 8 && HatchPixel(Brush.Style, end, y)) ++end;
      d += "M" + std::to_string(x) + " " + std::to_string(y) + "h" + std::to_string(end - x) + "v1h-" +
           std::to_string(end - x) + "z";
      x = end;
    }
  }
  doc_.Start("path").Attr("d", d).Attr("fill", SvgColour(Brush.Color)).End();
  doc_.Close("pattern");
  doc_.Close("defs");
  return "url(#" + id + ")";
}

void SvgSurface::StrokeAttrs(TColor colour, bool dashed) {
  doc_.Attr("stroke", SvgColour(colour));
  const int width = std::max(1, Pen.Width);
  if (width > 1) {
    // Wide pens draw solid with round ends, as on the bitmap.
    doc_.Attr("stroke-width", width).Attr("stroke-linecap", "round").Attr("stroke-linejoin", "round");
  } else if (const char* dashes = DashArray(Pen.Style); dashed && dashes != nullptr) {
    doc_.Attr("stroke-dasharray", dashes);
  }
}

void SvgSurface::MoveTo(int x, int y) { Surface::MoveTo(Lim(x), Lim(y)); }

void SvgSurface::LineTo(int x, int y) {
  const TPoint from = PenPos();
  const TPoint to{Lim(x), Lim(y)};
  Surface::MoveTo(to.X, to.Y);
  if (Pen.Style == psClear) return;
  const bool gaps = DashArray(Pen.Style) != nullptr && Pen.Width <= 1 && BackMode == bmOpaque;
  if (!path_.empty() && (!SamePen(Pen, path_pen_) || gaps != path_gaps_ || (gaps && BackColor != path_back_))) {
    FlushPath();
  }
  if (path_.empty() || path_end_ != from) path_ += "M" + Num(from.X + 0.5) + " " + Num(from.Y + 0.5);
  path_ += "L" + Num(to.X + 0.5) + " " + Num(to.Y + 0.5);
  path_pen_ = Pen;
  path_gaps_ = gaps;
  path_back_ = BackColor;
  path_end_ = to;
}

void SvgSurface::Polygon(std::span<const TPoint> points) {
  FlushPath();
  if (points.size() < 2) return;
  // With an outline the shape lies on the pixel centres the outline lights;
  // a fill alone covers the pixels whose centres lie inside the vertices.
  const double shift = HasOutline() ? 0.5 : 0;
  std::string list;
  for (const TPoint& p : points) {
    if (!list.empty()) list += ' ';
    list += Num(Lim(p.X) + shift) + "," + Num(Lim(p.Y) + shift);
  }
  const std::string fill = BrushFill();
  if (fill == "none" && !HasOutline()) return;
  doc_.Start("polygon").Attr("points", list).Attr("fill-rule", "evenodd").Attr("fill", fill);
  if (HasOutline()) StrokeAttrs(Pen.Color, true);
  doc_.End();
}

void SvgSurface::Rectangle(int left, int top, int right, int bottom) {
  FlushPath();
  if (!NormalBox(left, top, right, bottom)) return;
  const std::string fill = BrushFill();
  if (!HasOutline()) {
    if (fill == "none") return;
    doc_.Start("rect").Attr("x", left).Attr("y", top).Attr("width", right - left).Attr("height", bottom - top);
    doc_.Attr("fill", fill).End();
    return;
  }
  // The outline's pixels are the box's outermost rows and columns.
  doc_.Start("rect").Attr("x", left + 0.5).Attr("y", top + 0.5).Attr("width", right - left - 1.0);
  doc_.Attr("height", bottom - top - 1.0).Attr("fill", fill);
  StrokeAttrs(Pen.Color, true);
  if (Pen.Width > 1) doc_.Attr("stroke-linejoin", "miter");
  doc_.End();
}

void SvgSurface::RoundRect(int left, int top, int right, int bottom, int corner_w, int corner_h) {
  FlushPath();
  if (!NormalBox(left, top, right, bottom)) return;
  corner_w = std::clamp(corner_w, 0, right - left);
  corner_h = std::clamp(corner_h, 0, bottom - top);
  const std::string fill = BrushFill();
  const double inset = HasOutline() ? 0.5 : 0;
  if (fill == "none" && !HasOutline()) return;
  doc_.Start("rect").Attr("x", left + inset).Attr("y", top + inset).Attr("width", right - left - 2 * inset);
  doc_.Attr("height", bottom - top - 2 * inset).Attr("rx", corner_w / 2.0).Attr("ry", corner_h / 2.0).Attr("fill", fill);
  if (HasOutline()) doc_.Attr("stroke", SvgColour(Pen.Color));  // rounded frames stay 1 pixel wide
  doc_.End();
}

void SvgSurface::Ellipse(int left, int top, int right, int bottom) {
  FlushPath();
  if (!NormalBox(left, top, right, bottom)) return;
  const std::string fill = BrushFill();
  if (fill == "none" && !HasOutline()) return;
  const double inset = HasOutline() ? 0.5 : 0;
  doc_.Start("ellipse").Attr("cx", (static_cast<double>(left) + right) / 2).Attr("cy", (static_cast<double>(top) + bottom) / 2);
  doc_.Attr("rx", std::max(0.5, (right - left) / 2.0 - inset)).Attr("ry", std::max(0.5, (bottom - top) / 2.0 - inset));
  doc_.Attr("fill", fill);
  if (HasOutline()) StrokeAttrs(Pen.Color, false);  // curves draw styled pens solid
  doc_.End();
}

void SvgSurface::ArcPath(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2, bool pie) {
  const std::string fill = pie ? BrushFill() : "none";
  if (fill == "none" && !HasOutline()) return;
  const double cx = (static_cast<double>(left) + right) / 2;
  const double cy = (static_cast<double>(top) + bottom) / 2;
  const double inset = HasOutline() ? 0.5 : 0;
  const double rx = std::max(0.5, (right - left) / 2.0 - inset);
  const double ry = std::max(0.5, (bottom - top) / 2.0 - inset);
  const double start = ScreenAngle(x1, y1, cx, cy);
  double sweep = ScreenAngle(x2, y2, cx, cy) - start;
  if (sweep <= 0) sweep += 2 * std::numbers::pi;
  if (sweep >= 2 * std::numbers::pi) {
    // Rays that meet: the whole ellipse, without radii.
    doc_.Start("ellipse").Attr("cx", cx).Attr("cy", cy).Attr("rx", rx).Attr("ry", ry).Attr("fill", fill);
  } else {
    // The points where the rays cross the ellipse.
    auto on_ellipse = [&](double angle) {
      const double dx = std::cos(angle), dy = -std::sin(angle);
      const double t = 1 / std::sqrt((dx / rx) * (dx / rx) + (dy / ry) * (dy / ry));
      return std::pair{cx + t * dx, cy + t * dy};
    };
    const auto [sx, sy] = on_ellipse(start);
    const auto [ex, ey] = on_ellipse(start + sweep);
    std::string d;
    if (pie) d = "M" + Num(cx) + " " + Num(cy) + "L";
    else d = "M";
    d += Num(sx) + " " + Num(sy) + "A" + Num(rx) + " " + Num(ry) + " 0 " + (sweep > std::numbers::pi ? "1" : "0") +
         " 0 " + Num(ex) + " " + Num(ey);
    if (pie) d += "Z";
    doc_.Start("path").Attr("d", d).Attr("fill", fill);
  }
  if (HasOutline()) doc_.Attr("stroke", SvgColour(Pen.Color));  // arcs and pies are outlined 1 pixel wide
  doc_.End();
}

void SvgSurface::Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  FlushPath();
  if (!HasOutline() || !NormalBox(left, top, right, bottom)) return;
  ArcPath(left, top, right, bottom, Lim(x1), Lim(y1), Lim(x2), Lim(y2), false);
}

void SvgSurface::Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  FlushPath();
  if (!NormalBox(left, top, right, bottom)) return;
  ArcPath(left, top, right, bottom, Lim(x1), Lim(y1), Lim(x2), Lim(y2), true);
}

void SvgSurface::FillRect(const TRect& r) {
  FlushPath();
  // Only the part on the surface (and a pixel around it) matters.
  const TRect c{std::max(Lim(r.Left), -1), std::max(Lim(r.Top), -1), std::min(Lim(r.Right), Width() + 1),
                std::min(Lim(r.Bottom), Height() + 1)};
  if (c.IsEmpty()) return;
  const std::string fill = BrushFill();
  if (fill == "none") return;
  doc_.Start("rect").Attr("x", c.Left).Attr("y", c.Top).Attr("width", c.Width()).Attr("height", c.Height());
  doc_.Attr("fill", fill).End();
}

void SvgSurface::PatBlt(const TRect& r, TColor colour) {
  FlushPath();
  const TRect c{std::max(Lim(r.Left), -1), std::max(Lim(r.Top), -1), std::min(Lim(r.Right), Width() + 1),
                std::min(Lim(r.Bottom), Height() + 1)};
  if (c.IsEmpty()) return;
  doc_.Start("rect").Attr("x", c.Left).Attr("y", c.Top).Attr("width", c.Width()).Attr("height", c.Height());
  doc_.Attr("fill", SvgColour(colour)).End();
}

void SvgSurface::SetPixel(int x, int y, TColor colour) {
  FlushPath();
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  doc_.Start("rect").Attr("x", x).Attr("y", y).Attr("width", 1).Attr("height", 1).Attr("fill", SvgColour(colour)).End();
}

void SvgSurface::TextOut(int x, int y, std::string_view text) {
  FlushPath();
  x = Lim(x);
  y = Lim(y);
  // The same metrics as the bitmap: the text box and its reference point
  // land where the GIF has them.
  const TSize extent = TextExtent(text);
  const int ascent = FontAscent();
  const int descent = extent.cy - ascent;
  const int width = extent.cx;
  const auto [dx, baseline] = AnchorText(TextAlign, width, ascent, descent);
  const unsigned horizontal = TextAlign & TA_CENTER;
  const char* anchor = horizontal == TA_CENTER ? "middle" : horizontal == TA_RIGHT ? "end" : nullptr;
  int tenths = Font.Escapement % 3600;
  if (tenths < 0) tenths += 3600;
  const std::string rotate =
      tenths == 0 ? std::string() : "rotate(" + Num(-tenths / 10.0) + " " + Num(x) + " " + Num(y) + ")";
  if (BackMode == bmOpaque && Brush.Style != bsClear && width > 0) {
    doc_.Start("rect").Attr("x", x + dx).Attr("y", y + baseline - ascent).Attr("width", width).Attr("height", extent.cy);
    doc_.Attr("fill", SvgColour(BackColor));
    if (!rotate.empty()) doc_.Attr("transform", rotate);
    doc_.End();
  }
  if (text.empty()) return;
  doc_.Start("text").Attr("x", x).Attr("y", y + baseline).Attr("font-family", FontFamily(Font.Name));
  doc_.Attr("font-size", Font.PixelHeight());
  if (Font.Bold) doc_.Attr("font-weight", "bold");
  if (Font.Italic) doc_.Attr("font-style", "italic");
  if (Font.Underline || Font.StrikeOut) {
    doc_.Attr("text-decoration", Font.Underline && Font.StrikeOut ? "underline line-through"
                                 : Font.Underline                 ? "underline"
                                                                  : "line-through");
  }
  if (anchor != nullptr) doc_.Attr("text-anchor", anchor);
  doc_.Attr("fill", SvgColour(Font.Color)).Attr("xml:space", "preserve");
  if (!rotate.empty()) doc_.Attr("transform", rotate);
  doc_.Text("text", text);
}

void SvgSurface::ClipRectangle(const TRect& r) {
  FlushPath();
  if (clipped_) doc_.Close("g");
  const int w = Width(), h = Height();
  TRect c{std::clamp(r.Left, 0, w), std::clamp(r.Top, 0, h), std::clamp(r.Right, 0, w), std::clamp(r.Bottom, 0, h)};
  if (c.IsEmpty()) c = TRect{};
  const std::string id = doc_.NewId("c");
  doc_.Start("clipPath").Attr("id", id).Open();
  doc_.Start("rect").Attr("x", c.Left).Attr("y", c.Top).Attr("width", c.Width()).Attr("height", c.Height()).End();
  doc_.Close("clipPath");
  doc_.Start("g").Attr("clip-path", "url(#" + id + ")").Open();
  clipped_ = true;
}

void SvgSurface::ClipPolygon(std::span<const TPoint> points) {
  FlushPath();
  if (clipped_) doc_.Close("g");
  std::string list;
  for (const TPoint& p : points) {
    if (!list.empty()) list += ' ';
    list += Num(Lim(p.X)) + "," + Num(Lim(p.Y));
  }
  const std::string id = doc_.NewId("c");
  doc_.Start("clipPath").Attr("id", id).Open();
  doc_.Start("polygon").Attr("points", list).Attr("clip-rule", "evenodd").End();
  doc_.Close("clipPath");
  doc_.Start("g").Attr("clip-path", "url(#" + id + ")").Open();
  clipped_ = true;
}

void SvgSurface::UnClip() {
  FlushPath();
  if (clipped_) doc_.Close("g");
  clipped_ = false;
}

void SvgSurface::Picture(double x, double y, double width, double height, const Bitmap& picture) {
  doc_.Start("image").Attr("x", x).Attr("y", y).Attr("width", width).Attr("height", height);
  doc_.Attr("preserveAspectRatio", "none").Attr("image-rendering", "pixelated");
  doc_.Attr("href", PngDataUri(picture)).End();
}

void SvgSurface::Draw(int x, int y, const Bitmap& picture) {
  FlushPath();
  if (picture.Empty()) return;
  Picture(Lim(x), Lim(y), picture.Width(), picture.Height(), picture);
}

void SvgSurface::StretchDraw(const TRect& box, const Bitmap& picture) {
  FlushPath();
  const TRect r{Lim(box.Left), Lim(box.Top), Lim(box.Right), Lim(box.Bottom)};
  if (picture.Empty() || r.IsEmpty()) return;
  Picture(r.Left, r.Top, r.Width(), r.Height(), picture);
}

void SvgSurface::BitBlt(int x, int y, const Bitmap& source, const TRect& source_box) {
  FlushPath();
  const TRect s{std::max(Lim(source_box.Left), 0), std::max(Lim(source_box.Top), 0),
                std::min(Lim(source_box.Right), source.Width()), std::min(Lim(source_box.Bottom), source.Height())};
  if (source.Empty() || s.IsEmpty()) return;
  // The copied part alone, as its own picture.
  Bitmap part(s.Width(), s.Height());
  for (int row = 0; row < s.Height(); ++row) {
    for (int col = 0; col < s.Width(); ++col) part.SetPixel(col, row, source.Pixel(s.Left + col, s.Top + row));
  }
  Picture(Lim(x), Lim(y), s.Width(), s.Height(), part);
}

}  // namespace platform
