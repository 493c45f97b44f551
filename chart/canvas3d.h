// The chart's drawing object: a canvas that projects chart-space points
// (x right, y down, z from 0 at the front into the depth, chart/projection.h)
// onto a drawing surface and offers the 3D solids the chart and its series
// are built from. Also here: the 3D view settings, the default colour
// palette, the darkening rule for the hidden faces of solids and the pure
// outlines (hull, arrow, gradient band) the solids are drawn from.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "chart/pen_brush.h"
#include "chart/projection.h"
#include "platform/bitmap.h"
#include "platform/color.h"
#include "platform/geometry.h"
#include "platform/surface.h"

// ---------------------------------------------------------------------------
// Colours

// The default palette, 16 colours.
inline constexpr std::array<TColor, 16> ColorPalette = {
    clRed,    clGreen, clYellow, clBlue,   clWhite,  clGray,   clFuchsia, clTeal,
    clNavy,   clMaroon, clLime,  clOlive,  clPurple, clSilver, clAqua,    clBlack,
};

// Palette entry index mod 16. A negative index counts back from the end of
// the palette in the same cycle (-1 -> black, -16 -> red), so every index has
// a colour and the cycle stays regular.
TColor PaletteColor(int index);

// Darkening of the hidden faces of solids (side and top faces of cubes).
inline constexpr std::uint8_t SideFaceShade = 128;
inline constexpr std::uint8_t TopFaceShade = 64;
// Darkening of the rim and radial sides of 3D pie slices.
inline constexpr std::uint8_t PieSideShade = 32;

// The colour resolved to RGB with each of red, green and blue lowered by
// quantity, stopping at 0.
TColor ShadeColor(TColor colour, int quantity);

// ---------------------------------------------------------------------------
// Settings objects (the pens and brushes: chart/pen_brush.h)

// The 3D view: rotation angles, zoom and offsets. A setter stores a changed
// value and calls OnRepaint; no range checks.
class TView3DOptions {
 public:
  explicit TView3DOptions(std::function<void()> on_repaint = {}) : OnRepaint(std::move(on_repaint)) {}

  int Elevation() const { return elevation_; }
  void SetElevation(int value) { Set(elevation_, value); }
  int HorizOffset() const { return horiz_offset_; }
  void SetHorizOffset(int value) { Set(horiz_offset_, value); }
  bool Orthogonal() const { return orthogonal_; }
  void SetOrthogonal(bool value) { Set(orthogonal_, value); }
  int Rotation() const { return rotation_; }
  void SetRotation(int value) { Set(rotation_, value); }
  int Tilt() const { return tilt_; }
  void SetTilt(int value) { Set(tilt_, value); }
  int VertOffset() const { return vert_offset_; }
  void SetVertOffset(int value) { Set(vert_offset_, value); }
  int Zoom() const { return zoom_; }  // percent
  void SetZoom(int value) { Set(zoom_, value); }

  // Copies the seven values (not the repaint hook) and repaints.
  void Assign(const TView3DOptions& other);

  std::function<void()> OnRepaint;

 private:
  template <typename T>
  void Set(T& field, T value) {
    if (field != value) {
      field = value;
      Repaint();
    }
  }
  void Repaint() const {
    if (OnRepaint) OnRepaint();
  }

  int elevation_ = 345;
  int horiz_offset_ = 0;
  bool orthogonal_ = true;
  int rotation_ = 345;
  int tilt_ = 0;
  int vert_offset_ = 0;
  int zoom_ = 100;
};

// Directions of a gradient fill: where the start colour lies. gdFromCenter
// runs from the start colour at the border to the end colour in the middle;
// gdFromTopLeft and gdFromBottomLeft run diagonally from that corner.
enum TGradientDirection {
  gdTopBottom,
  gdBottomTop,
  gdLeftRight,
  gdRightLeft,
  gdFromCenter,
  gdFromTopLeft,
  gdFromBottomLeft
};

// ---------------------------------------------------------------------------
// Outlines (pure)

// Convex hull of the points, counter-clockwise on the screen, without
// repeated or collinear points (outlines of projected solids).
std::vector<TPoint> ConvexHull(std::vector<TPoint> points);

// Outline of an arrow from `from` to `to` (7 points): a shaft half as wide as
// the head, a head head_width wide and head_height long (at most the whole
// length) with its tip at `to`. Empty when from equals to.
std::vector<TPoint> ArrowOutline(TPoint from, TPoint to, int head_width, int head_height);

// Outline of one band of a diagonal gradient: the pixels (x, y) of the
// rectangle with d0 <= u + v < d1, u = x - Left and v = y - Top (or
// Bottom - 1 - y when from_bottom). The outline runs along pixel edges, so
// filling it covers exactly those pixels. Only rows first_row..last_row-1
// are traced (the visible ones). Empty when no pixel qualifies.
std::vector<TPoint> GradientDiagonalBand(const TRect& r, bool from_bottom, int d0, int d1,
                                         int first_row = std::numeric_limits<int>::min(),
                                         int last_row = std::numeric_limits<int>::max());

// ---------------------------------------------------------------------------
// The canvas

// Draws the chart through the projection onto a bound surface. Until
// BeginDrawing binds a destination (and after ShowImage) it is bound to a
// small surface of its own, so measuring text and setting pens always work.
// The drawing state (Pen, Brush, Font, background, alignment) belongs to the
// bound surface.
class TChartCanvas3D {
 public:
  TChartCanvas3D();
  ~TChartCanvas3D();
  TChartCanvas3D(const TChartCanvas3D&) = delete;
  TChartCanvas3D& operator=(const TChartCanvas3D&) = delete;

  // Asked when a change needs a new picture (monochrome switched).
  std::function<void()> OnRepaint;

  // -- binding and state ----------------------------------------------------
  platform::Surface& Surface() { return Target(); }
  void Bind(platform::Surface& surface) { surface_ = &surface; }
  platform::TPen& Pen() { return Target().Pen; }
  platform::TBrush& Brush() { return Target().Brush; }
  platform::TFont& Font() { return Target().Font; }
  // Takes a chart pen's values; an invisible one becomes a clear pen.
  void AssignPen(const TChartPen& pen);
  void AssignBrush(const TChartBrush& brush) { Target().Brush = brush.Brush(); }

  TColor GetBackColor() const { return Target().BackColor; }
  void SetBackColor(TColor colour) { Target().BackColor = colour; }
  platform::TBackMode GetBackMode() const { return Target().BackMode; }
  void SetBackMode(platform::TBackMode mode) { Target().BackMode = mode; }
  unsigned GetTextAlign() const { return Target().TextAlign; }
  void SetTextAlign(unsigned align) { Target().TextAlign = align; }

  // Kept for the chart's setting; pictures are drawn in colour either way.
  bool GetMonochrome() const { return monochrome_; }
  void SetMonochrome(bool value);  // frees the buffer, invalidates, repaints
  bool GetBufferedDisplay() const { return buffered_; }
  void SetBufferedDisplay(bool value);  // off frees the buffer and invalidates
  void Invalidate() { invalidated_ = true; }
  bool Invalidated() const { return invalidated_; }
  // Copies the monochrome setting.
  void Assign(const TChartCanvas3D& other);

  // Pen black, width 1, solid; brush white, solid; font colour black, size
  // 10; background white and opaque.
  void ResetState();

  // -- drawing cycle ----------------------------------------------------------
  // Stores the rectangle as Bounds, the options (may be null) and the 3D flag
  // and sets up the projection coefficients. Buffered: binds to an
  // off-screen bitmap of the rectangle's size and returns (0, 0, width,
  // height); otherwise binds to the destination and returns the rectangle
  // (the canvas then stays bound to the destination until ShowImage or
  // Bind, so the destination must outlive the drawing).
  TRect BeginDrawing(platform::Surface& destination, const TView3DOptions* options, bool is_3d,
                     const TRect& user_rect);
  // Centres the projection on the rectangle and the given depth.
  void Projection(int max_depth, const TRect& r);
  // Buffered: copies the off-screen bitmap to the destination at the user
  // rectangle's top-left and clears the invalid mark. Then binds to the
  // default surface (the canvas' own when null).
  void ShowImage(platform::Surface& destination, platform::Surface* default_surface, const TRect& user_rect);
  // Copies the off-screen bitmap (if any) to the destination again.
  void ReDrawBitmap(platform::Surface& destination, const TRect& user_rect);
  const platform::Bitmap* BufferBitmap() const { return buffer_.get(); }
  const TRect& Bounds() const { return bounds_; }

  // -- projection ---------------------------------------------------------------
  bool Is3D() const { return projection_.Is3D; }
  const TProjection& ProjectionState() const { return projection_; }
  int XCenter() const { return projection_.XCenter; }
  int YCenter() const { return projection_.YCenter; }
  int ZCenter() const { return projection_.ZCenter; }
  double ZoomFactor() const { return projection_.Zoom; }
  const TView3DOptions* View3DOptions() const { return options_; }
  TPoint ProjectPoint(int x, int y, int z) const { return projection_.Project(x, y, z); }
  void Calc3DPos(int& x, int& y, int z) const;
  // Switches projection off (things drawn flat on the front plane) and back.
  void SuspendProjection();
  void ResumeProjection();
  // Capability queries of the platform canvas: neither is supported.
  bool SupportsFullRotation() const { return false; }
  bool SupportsID() const { return false; }

  // -- 2D operations (device pixels) -----------------------------------------------
  void SetPixel(int x, int y, TColor colour) { Target().SetPixel(x, y, colour); }
  void Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    Target().Arc(left, top, right, bottom, x1, y1, x2, y2);
  }
  void Draw(int x, int y, const platform::Bitmap& picture) { Target().Draw(x, y, picture); }
  void Ellipse(int left, int top, int right, int bottom) { Target().Ellipse(left, top, right, bottom); }
  void FillRect(const TRect& r) { Target().FillRect(r); }
  // Frame of the given width: top and left edges in top_colour, bottom and
  // right edges in bottom_colour, each ring one pixel inside the last; the
  // rectangle shrinks by width on every side.
  void Frame3D(TRect& r, TColor top_colour, TColor bottom_colour, int width);
  void LineTo(int x, int y) { Target().LineTo(x, y); }
  void MoveTo(int x, int y) { Target().MoveTo(x, y); }
  void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    Target().Pie(left, top, right, bottom, x1, y1, x2, y2);
  }
  void Rectangle(int left, int top, int right, int bottom) { Target().Rectangle(left, top, right, bottom); }
  void RectangleRect(const TRect& r) { Target().Rectangle(r); }
  void RoundRect(int left, int top, int right, int bottom, int corner_w, int corner_h) {
    Target().RoundRect(left, top, right, bottom, corner_w, corner_h);
  }
  void StretchDraw(const TRect& r, const platform::Bitmap& picture) { Target().StretchDraw(r, picture); }
  void TextOut(int x, int y, std::string_view text) { Target().TextOut(x, y, text); }
  int TextWidth(std::string_view text) { return Target().TextWidth(text); }
  int TextHeight(std::string_view text) { return Target().TextHeight(text); }
  // Font height used by layouts: the height of "W".
  int FontHeight() { return Target().TextHeight("W"); }
  void ClipRectangle(const TRect& r) { Target().ClipRectangle(r); }
  void UnClipRectangle() { Target().UnClip(); }
  // Horizontal line x0..x1 (x1 left out) at y, vertical line y0..y1.
  void DoHorizLine(int x0, int x1, int y);
  void DoVertLine(int x, int y0, int y1);
  void Line(int x0, int y0, int x1, int y1);
  // Fills the rectangle with the brush.
  void EraseBackground(const TRect& r) { Target().FillRect(r); }
  void Polygon(std::span<const TPoint> points) { Target().Polygon(points); }
  void Polyline(std::span<const TPoint> points) { Target().Polyline(points); }
  // Fills the rectangle in bands from start_colour to end_colour: at most 256
  // bands, band i of n covering MulDiv(i, extent, n)..MulDiv(i + 1, extent,
  // n), each component start + MulDiv(i, end − start, n − 1).
  void GradientFill(const TRect& r, TColor start_colour, TColor end_colour, TGradientDirection direction);
  // Text rotated by angle degrees counter-clockwise about (x, y), with a
  // clear brush; the font is scaled by the zoom.
  void RotateLabel(int x, int y, std::string_view text, int angle);

  // -- 3D operations (chart space, projected) -------------------------------------------
  // One pixel; a zero-length line when the pen is wider than 1.
  void Pixel3D(int x, int y, int z, TColor colour);
  void HorizLine3D(int x0, int x1, int y, int z);
  void VertLine3D(int x, int y0, int y1, int z);
  void ZLine3D(int x, int y, int z0, int z1);
  void LineWithZ(int x0, int y0, int x1, int y1, int z);
  void MoveTo3D(int x, int y, int z);
  void LineTo3D(int x, int y, int z);

  // Front face at z0, right face at x = right (darkened by SideFaceShade),
  // top face at y = top (darkened by TopFaceShade); darkening only with
  // dark_sides. The face colour is the brush colour, or the background
  // colour for a non-solid brush (which then is what gets darkened).
  void Cube(int left, int right, int top, int bottom, int z0, int z1, bool dark_sides);
  // Polygons: the rectangle at depth z; p1, p2 at z0 then p2, p1 at z1; the
  // horizontal face at y; the vertical face at x; four and three points at z;
  // points 0, 1 at z0 and 2, 3 at z1.
  void RectangleWithZ(const TRect& r, int z);
  void Plane3D(TPoint p1, TPoint p2, int z0, int z1);
  void RectangleY(int left, int y, int right, int z0, int z1);
  void RectangleZ(int x, int top, int bottom, int z0, int z1);
  void PlaneWithZ(TPoint p1, TPoint p2, TPoint p3, TPoint p4, int z);
  void TriangleWithZ(TPoint p1, TPoint p2, TPoint p3, int z);
  void PlaneFour3D(const std::array<TPoint, 4>& points, int z0, int z1);
  // The ellipse of the box at depth z.
  void EllipseWithZ(int left, int top, int right, int bottom, int z);

  // A pie slice as a solid: face at z1, rim down to z0 on the side facing
  // the viewer, radial sides when draw_sides. Angles in radians,
  // counter-clockwise from 3 o'clock.
  void Pie3D(int x_center, int y_center, int x_radius, int y_radius, int z0, int z1, double start_angle,
             double end_angle, bool dark_sides, bool draw_sides);

  // Vertical: a four-sided pyramid whose base is the face y = bottom between
  // left..right and z0..z1, with its apex at y = top over the middle of the
  // base (top below bottom gives a pyramid standing on its apex).
  // Horizontal: the base is the face x = left between top..bottom and
  // z0..z1, the apex at x = right. Faces turned away from the viewer are
  // not drawn; sides are darkened as for Cube when dark_sides.
  void Pyramid(bool vertical, int left, int top, int right, int bottom, int z0, int z1, bool dark_sides);
  // A cylinder standing in the box (vertical: axis along y, round section in
  // x and z; horizontal: axis along x), drawn as its outline filled with the
  // face colour plus the visible end cap (darkened when dark_sides).
  void Cylinder(bool vertical, int left, int top, int right, int bottom, int z0, int z1, bool dark_sides);
  // An arrow at depth z from `from` to `to` with its head at `to`: the head is
  // a triangle head_width wide and head_height long, the shaft half as wide as
  // the head. Filled: one polygon with pen and brush; else only outlined.
  void Arrow(bool filled, TPoint from, TPoint to, int head_width, int head_height, int z);

  // Clips to the outline of the projected box (without 3D: the rectangle
  // less one pixel at its left, top and bottom).
  void ClipCube(const TRect& r, int z0, int z1);

  // Text at a projected point; the font size follows the zoom for the call.
  void TextOut3D(int x, int y, int z, std::string_view text);
  void RotateLabel3D(int x, int y, int z, std::string_view text, int angle);

 private:
  // Face colour of solids: the brush colour, or the background colour when
  // the brush is not solid.
  TColor FaceColour() const;
  void SetFaceColour(TColor colour);
  void PolygonOf(std::initializer_list<TPoint> points);

  // The surface drawn on: the bound one, or (null) the canvas's own 1 x 1
  // surface, made when it is first used; a request that answers without a
  // chart then never sets up Cairo.
  platform::Surface& Target() const;

  mutable std::unique_ptr<platform::Bitmap> own_bitmap_;
  mutable std::unique_ptr<platform::Surface> own_surface_;
  mutable platform::Surface* surface_ = nullptr;

  const TView3DOptions* options_ = nullptr;
  TProjection projection_;
  bool saved_3d_ = false;
  TRect bounds_{};

  bool buffered_ = true;
  bool monochrome_ = false;
  bool invalidated_ = true;
  std::unique_ptr<platform::Bitmap> buffer_;
  std::unique_ptr<platform::Surface> buffer_surface_;
};
