// A drawing surface over a Bitmap that follows the pixel conventions of a
// Windows device context, so that charts come out pixel for pixel as the
// chart engine lays them out:
//
// - Rectangle, FillRect, Ellipse, RoundRect and Pie cover the pixels
//   left..right-1 × top..bottom-1 of their bounding box;
// - LineTo leaves out its end pixel; a 1-pixel pen lights exactly one pixel
//   per step (lines are rasterised on pixel centres);
// - Polygon fills the pixels whose centres lie inside (even-odd rule) and
//   outlines every edge with the pen, vertices included;
// - nothing is smoothed: shapes and text are drawn in exactly the colours
//   asked for, so a chart keeps the few colours it uses.
//
// Drawing state (pen, brush, font, background, text alignment) lives in public
// members that every operation reads when it runs. System colours (high byte
// 0x80) are resolved through ColorToRGB.
//
// The drawing operations are virtual: SvgSurface (svg_surface.h) writes the
// same calls as a vector document, so one chart code draws both.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.h"
#include "platform/color.h"
#include "platform/geometry.h"

namespace platform {

class MonoFont;

class SpanSet;  // rows of pixel runs, internal to the rasteriser

// Pen styles. Styled pens are drawn dashed only at width 1 (dash 18/6, dot
// 3/3, dash-dot 9/6/3/6, dash-dot-dot 9/3/3/3/3/3 pixels); wider pens draw
// solid. A clear pen draws nothing.
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

// Raster operation of the pen. Only plain copying is used by the charts.
enum TPenMode { pmCopy };

// Brush styles: solid, clear (shapes stay unfilled) and six 8×8 hatches in the
// brush colour, aligned to the surface origin. The gaps of a hatch take the
// background colour when the background mode is opaque and stay untouched
// when it is transparent.
enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

// Whether pixel (x, y), both 0..7, of a hatch style's 8×8 tile carries the
// brush colour (always for solid).
bool HatchPixel(TBrushStyle style, int x, int y);

enum TBackMode { bmTransparent, bmOpaque };

// Text alignment flags, combined with |: one horizontal and one vertical.
inline constexpr unsigned TA_LEFT = 0;
inline constexpr unsigned TA_RIGHT = 2;
inline constexpr unsigned TA_CENTER = 6;
inline constexpr unsigned TA_TOP = 0;
inline constexpr unsigned TA_BOTTOM = 8;
inline constexpr unsigned TA_BASELINE = 24;

// Where a text's reference point lies in its box, by the alignment flags: dx
// from the reference point to the text's left end, and the baseline's offset
// below the reference point (text frame: x along the text, y down).
struct TextAnchor {
  int dx = 0;
  int baseline = 0;
};
inline TextAnchor AnchorText(unsigned align, int width, int ascent, int descent) {
  TextAnchor a;
  if ((align & TA_CENTER) == TA_CENTER) a.dx = -(width / 2);
  else if ((align & TA_CENTER) == TA_RIGHT) a.dx = -width;
  const unsigned vertical = align & TA_BASELINE;
  a.baseline = vertical == TA_BASELINE ? 0 : vertical == TA_BOTTOM ? -descent : ascent;
  return a;
}

struct TPen {
  TColor Color = clBlack;
  int Width = 1;  // pixels; values below 1 draw as 1
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
  // A pattern bitmap; when set it fills shapes (tiled from the surface
  // origin) instead of Color and Style.
  std::shared_ptr<const Bitmap> Image;
};

struct TFont {
  // Face name; "Arial", "Times New Roman" and "Courier New" map to the
  // metric-compatible Liberation faces, any other name to Liberation Sans.
  std::string Name = "Arial";
  int Size = 10;  // points, 96 pixels per inch; values below 1 count as 1
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  TColor Color = clBlack;
  // Rotation of the text in tenths of a degree, counter-clockwise about the
  // reference point of TextOut.
  int Escapement = 0;

  // Em height in pixels: round(Size × 96 / 72), at most kMaxPixelHeight
  // (larger text has no place on a chart and would only cost glyph memory).
  static constexpr int kMaxPixelHeight = 1000;
  int PixelHeight() const;
};

class Surface {
 public:
  // Draws on the bitmap, which must outlive the surface and must not be
  // empty (raises Exception otherwise). Resizing the bitmap while the
  // surface lives detaches them: the surface keeps drawing on the old
  // pixels, which nobody sees.
  explicit Surface(Bitmap& target);
  virtual ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // The bitmap drawn on; only for surfaces made on a bitmap.
  Bitmap& Target() const { return *target_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Drawing state, read by every operation.
  TPen Pen;
  TBrush Brush;
  TFont Font;
  TColor BackColor = clWhite;  // hatch gaps, styled-line gaps, text boxes
  TBackMode BackMode = bmOpaque;
  unsigned TextAlign = TA_LEFT | TA_TOP;
  // Unrotated text is drawn from the process's own 1-bit glyphs; true draws
  // it through cairo instead (the same pixels, at several times the cost;
  // kept to compare the two).
  bool TextThroughCairo = false;

  // Lines. The current position starts at (0, 0). LineTo draws from the
  // current position to (x, y) without the end pixel and moves there; the
  // dash pattern of a styled pen runs on across connected LineTo calls.
  TPoint PenPos() const { return pen_pos_; }
  virtual void MoveTo(int x, int y);
  virtual void LineTo(int x, int y);
  // Open line through the points: LineTo from each point to the next, so
  // the last point itself stays unlit. Moves the current position there.
  virtual void Polyline(std::span<const TPoint> points);

  // Filled with the brush, outlined with the pen (the outline lies on the
  // vertices, so it covers one pixel more to the right and bottom than the
  // fill). Fewer than 2 points draw nothing.
  virtual void Polygon(std::span<const TPoint> points);

  virtual void Rectangle(int left, int top, int right, int bottom);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Rectangle with corners rounded by an ellipse of corner_w × corner_h.
  virtual void RoundRect(int left, int top, int right, int bottom, int corner_w, int corner_h);
  virtual void Ellipse(int left, int top, int right, int bottom);
  void Ellipse(const TRect& r) { Ellipse(r.Left, r.Top, r.Right, r.Bottom); }
  // Part of the ellipse in the box, counter-clockwise from the ray through
  // (x1, y1) to the ray through (x2, y2) (both rays from the box centre);
  // equal rays mean the whole ellipse. Arc draws the curve with the pen, Pie
  // the filled wedge outlined by the curve and both radii. Curves (ellipse,
  // arc, pie, rounded corners) draw styled pens solid, and the outlines of
  // Arc, Pie and RoundRect stay 1 pixel wide whatever the pen width.
  virtual void Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
  virtual void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);

  // Fills with the brush, no outline.
  virtual void FillRect(const TRect& r);
  // Fills with one solid colour, whatever the brush (gradient bands).
  virtual void PatBlt(const TRect& r, TColor colour);
  virtual void SetPixel(int x, int y, TColor colour);
  // 0 on a surface without a bitmap.
  TColor GetPixel(int x, int y) const { return target_ ? target_->Pixel(x, y) : 0; }

  // Text in the font's colour. TextAlign decides which point of the text box
  // (x, y) is: left/centre/right × top/baseline/bottom. With an escapement
  // the box turns about that point. The box is filled with BackColor when
  // BackMode is opaque and the brush is not clear (a clear brush writes
  // transparently). Invalid UTF-8 is drawn as U+FFFD. Text operations
  // raise Exception when the font file is missing (see fonts.h).
  virtual void TextOut(int x, int y, std::string_view text);
  // Extent of the text in the current font, unrotated: the sum of the
  // advance widths and the font's ascent plus descent. Several lines are not
  // handled: a line break is measured as a glyph.
  TSize TextExtent(std::string_view text);
  int TextWidth(std::string_view text) { return TextExtent(text).cx; }
  int TextHeight(std::string_view text) { return TextExtent(text).cy; }
  // Ascent of the current font in pixels (baseline below the text top).
  int FontAscent();

  // Clipping replaces any earlier clip. UnClip makes the whole bitmap
  // drawable again.
  virtual void ClipRectangle(const TRect& r);
  virtual void ClipPolygon(std::span<const TPoint> points);
  virtual void UnClip();

  // Copies the picture with its top-left corner at (x, y), or scaled into
  // the rectangle (nearest pixel).
  virtual void Draw(int x, int y, const Bitmap& picture);
  virtual void StretchDraw(const TRect& r, const Bitmap& picture);
  // Copies the source rectangle of the picture to (x, y), ignoring the clip.
  virtual void BitBlt(int x, int y, const Bitmap& source, const TRect& source_rect);

 protected:
  // A surface of the given size that draws elsewhere than on a bitmap
  // (Target() must not be called); the derived class overrides every
  // drawing operation.
  Surface(int width, int height);

 private:
  struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
  };

  void NewContext();
  void SetSourceColour(TColor colour);
  // Makes the brush the cairo source; false for a clear brush.
  bool SetBrushSource();
  void FillSpans(const SpanSet& spans);
  void FillSpansWithBrush(const SpanSet& spans);
  void PaintSpans(const SpanSet& spans, TColor colour);
  void DrawSegment(TPoint from, TPoint to, bool include_end);
  void StrokeWidePath(bool close);
  void SelectFont(const TFont& font);
  void DrawGlyphs(std::int64_t x, std::int64_t y, const std::u32string& chars, TColor colour);
  // use(font) with the 1-bit font of Font (see mono_font.h).
  void WithCurrentFont(const std::function<void(MonoFont&)>& use);
  void CheckStatus();

  Bitmap* target_;
  int width_;
  int height_;
  std::unique_ptr<cairo_t, ContextDeleter> cr_;
  TPoint pen_pos_{};
  int dash_phase_ = 0;  // pixels of the dash pattern used so far
  // Where drawing is allowed: inside clip_rect_ (within the bitmap; the
  // whole bitmap without clip) and, for a polygon clip, where clip_mask_
  // (an 8-bit image of the bitmap's size) is non-zero. No mask otherwise.
  TRect clip_rect_{};
  struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  };
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> clip_mask_;
};

}  // namespace platform
