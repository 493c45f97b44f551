#include "chart/canvas3d.h"
#include "chart_test_support.h"
#include <gtest/gtest.h>
#include <climits>
#include <cmath>
#include <functional>
#include <set>
#include <string>

namespace {

using platform::Bitmap;
using platform::Surface;
using charttest::ExpectPixels;
using charttest::InkBox;

TEST(Colours, PaletteWrapsAndShadeColorLowersEachComponent) {
  const std::pair<int, TColor> palette[] = {{0, clRed},     {1, clGreen},   {3, clBlue},  {15, clBlack},
                                            {16, clRed},    {17, clGreen},  {-1, clBlack}, {-16, clRed},
                                            {INT_MIN, clRed}, {INT_MAX, clBlack}};
  for (const auto& [index, colour] : palette) EXPECT_EQ(PaletteColor(index), colour) << index;
  struct ShadeCase { TColor colour; int quantity; TColor expected; };
  const ShadeCase shades[] = {
      {clWhite, 128, RGB(127, 127, 127)},
      {RGB(128, 200, 10), 128, RGB(0, 72, 0)},   // a component equal to the quantity gives 0
      {clBtnFace, 64, RGB(128, 128, 128)},       // system colour resolved first
      {RGB(1, 2, 3), 0, RGB(1, 2, 3)},
      {clRed, SideFaceShade, RGB(127, 0, 0)},
      {clRed, TopFaceShade, RGB(191, 0, 0)},
  };
  for (const auto& c : shades) EXPECT_EQ(ShadeColor(c.colour, c.quantity), c.expected) << std::hex << c.colour;
}

TEST(Projection, MapsPointsByViewKind) {
  TProjection ortho;
  ortho.Is3D = true;
  ortho.XCenter = 100;
  ortho.YCenter = 50;
  ortho.XCenterOffset = 100;
  ortho.YCenterOffset = 50;
  TProjection zoomed = ortho;
  zoomed.Zoom = 1.5;
  zoomed.XCenterOffset = 107;  // horizontal offset 7
  zoomed.YCenterOffset = 47;   // vertical offset -3
  TProjection rotated = ortho;
  rotated.Orthogonal = false;
  rotated.ZCenter = 10;
  rotated.C = CalcTrigValues(360, 315, 0);
  TProjection flat = ortho;
  flat.Is3D = false;
  struct Case { const char* name; const TProjection* projection; int x, y, z; TPoint expected; };
  const Case cases[] = {
      {"orthogonal: depth z moves z right and z up", &ortho, 10, 20, 5, {15, 15}},
      {"orthogonal: far from the centre", &ortho, -400, 900, 30, {-370, 870}},
      {"zoom 150 about the centre, ties to even (1.5 -> 2)", &zoomed, 101, 50, 0, {109, 47}},
      {"zoom 150, ties to even (4.5 -> 4)", &zoomed, 100, 53, 0, {107, 51}},
      {"zoom 150 with depth", &zoomed, 110, 60, 10, {137, 47}},
      {"rotated: depth behind the centre rises", &rotated, 100, 50, 20, {100, 43}},
      {"rotated: height shrinks by cos 45", &rotated, 100, 60, 10, {100, 57}},
      {"3D off draws flat", &flat, 10, 20, 500, {10, 20}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.projection->Project(c.x, c.y, c.z), c.expected) << c.name;
}

TEST(Geometry, ConvexHullAndArrowOutline) {
  const std::vector<TPoint> hull = ConvexHull({{0, 0}, {4, 0}, {2, 2}, {4, 4}, {0, 4}, {2, 0}, {4, 4}});
  EXPECT_EQ(hull, (std::vector<TPoint>{{0, 0}, {4, 0}, {4, 4}, {0, 4}}));
  EXPECT_EQ(ConvexHull({{1, 1}, {1, 1}}).size(), 1u);
  // An upward arrow 20 long, head 8 wide and 4 long, shaft 4 wide.
  EXPECT_EQ(ArrowOutline({10, 30}, {10, 10}, 8, 4),
            (std::vector<TPoint>{{12, 30}, {12, 14}, {14, 14}, {10, 10}, {6, 14}, {8, 14}, {8, 30}}));
  EXPECT_TRUE(ArrowOutline({3, 3}, {3, 3}, 8, 4).empty());
}

std::set<TColor> Colours(const Bitmap& bmp) {
  std::set<TColor> out;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) out.insert(bmp.Pixel(x, y));
  return out;
}

// A canvas drawing straight onto a bitmap, projection centred on the bitmap.
struct Scene {
  Bitmap bmp;
  Surface surface;
  TView3DOptions options;
  TChartCanvas3D canvas;
  explicit Scene(bool is_3d, bool orthogonal = true, int w = 80, int h = 80) : bmp(w, h), surface(bmp) {
    options.SetOrthogonal(orthogonal);
    options.SetRotation(360);
    options.SetElevation(315);
    canvas.SetBufferedDisplay(false);
    canvas.BeginDrawing(surface, &options, is_3d, Rect(0, 0, w, h));
    canvas.Projection(20, Rect(0, 0, w, h));
    canvas.ResetState();
    canvas.Brush().Color = clRed;
  }
};

// The solid faces' shades are the 3D snapshots' and the solids test's; a
// hatched brush darkens its background instead.
TEST(Canvas, HatchedCubeShadesItsBackground) {
  Scene h(true);
  h.canvas.Brush().Style = platform::bsCross;
  h.canvas.SetBackColor(clYellow);
  h.canvas.Cube(20, 40, 30, 60, 0, 10, true);
  ExpectPixels(h.bmp, {{{31, 45}, clYellow}, {{45, 41}, ShadeColor(clYellow, SideFaceShade)}});
  EXPECT_EQ(h.canvas.GetBackColor(), clYellow);
}

TEST(Canvas, SolidsStayInTheirBoxAndShadeTheirSidesOnlyIn3D) {
  struct Case { const char* name; std::function<void(TChartCanvas3D&)> draw; std::set<TColor> must_hold; /* in 3D */ };
  const TColor side = ShadeColor(clRed, SideFaceShade);
  const TColor top = ShadeColor(clRed, TopFaceShade);
  const TColor rim = ShadeColor(clRed, PieSideShade);
  // Every solid lies in the box 20..50 × 20..60 × depth 0..10, which the
  // orthogonal projection maps into 20..60 × 10..60; flat, the depth is lost.
  const Case cases[] = {
      {"cube", [](TChartCanvas3D& c) { c.Cube(20, 50, 20, 60, 0, 10, true); }, {clRed, side, top}},
      {"pyramid", [](TChartCanvas3D& c) { c.Pyramid(true, 20, 20, 50, 60, 0, 10, true); }, {clRed, side}},
      {"inverted pyramid", [](TChartCanvas3D& c) { c.Pyramid(true, 20, 60, 50, 20, 0, 10, true); },
       {clRed, side, top}},
      {"horizontal pyramid", [](TChartCanvas3D& c) { c.Pyramid(false, 20, 20, 50, 60, 0, 10, true); },
       {clRed, top}},
      {"cylinder", [](TChartCanvas3D& c) { c.Cylinder(true, 20, 20, 50, 60, 0, 10, true); }, {clRed, top}},
      {"horizontal cylinder", [](TChartCanvas3D& c) { c.Cylinder(false, 20, 20, 50, 60, 0, 10, true); },
       {clRed, side}},
      {"ellipse", [](TChartCanvas3D& c) { c.EllipseWithZ(20, 20, 50, 60, 5); }, {clRed}},
      {"arrow", [](TChartCanvas3D& c) { c.Arrow(true, {35, 60}, {35, 20}, 30, 15, 5); }, {clRed}},
      {"pie slice with sides", [](TChartCanvas3D& c) { c.Pie3D(35, 40, 15, 20, 0, 10, 0.5, 4.5, true, true); },
       {clRed, rim}},
  };
  for (const Case& c : cases) {
    for (bool is3D : {true, false}) {
      Scene s(is3D);
      c.draw(s.canvas);
      const TRect ink = InkBox(s.bmp);
      const TRect box = is3D ? Rect(20, 10, 61, 61) : Rect(20, 20, 51, 61);
      EXPECT_TRUE(ink.Left >= box.Left && ink.Top >= box.Top && ink.Right <= box.Right && ink.Bottom <= box.Bottom)
          << c.name << " 3D " << is3D;
      const std::set<TColor> colours = Colours(s.bmp);
      std::set<TColor> allowed = {clWhite, clBlack, clRed};
      if (is3D) allowed.insert({side, top, rim});
      for (TColor colour : colours) EXPECT_TRUE(allowed.contains(colour)) << c.name << is3D << std::hex << colour;
      for (TColor colour : is3D ? c.must_hold : std::set<TColor>{clRed})
        EXPECT_TRUE(colours.contains(colour)) << c.name << is3D << std::hex << colour;
      EXPECT_EQ(s.canvas.Brush().Color, clRed) << c.name;
    }
  }
}

TEST(Canvas, ClipCube) {
  // Flat: the clip shrinks left, top and bottom by one.
  Scene s(false, true, 10, 10);
  s.canvas.ClipCube(Rect(2, 2, 8, 8), 0, 10);
  s.canvas.Pen().Style = platform::psClear;
  s.canvas.FillRect(Rect(0, 0, 10, 10));
  EXPECT_EQ(InkBox(s.bmp), Rect(3, 3, 8, 7));
  s.canvas.UnClipRectangle();
  s.canvas.SetPixel(0, 0, clBlue);
  EXPECT_EQ(s.bmp.Pixel(0, 0), clBlue);
  // 3D: the projected box, front face plus the depth up and right, without
  // the cut-off corners.
  Scene d(true, true, 60, 60);
  d.canvas.ClipCube(Rect(10, 20, 30, 40), 0, 10);
  d.canvas.FillRect(Rect(0, 0, 60, 60));
  EXPECT_EQ(InkBox(d.bmp), Rect(10, 10, 40, 40));
  ExpectPixels(d.bmp, {{{11, 11}, clWhite}, {{38, 38}, clWhite}});
}

TEST(Canvas, GradientBandsFollowTheMulDivRule) {
  struct Case {
    const char* name;
    TGradientDirection direction;
    int w, h;
    std::vector<std::pair<TPoint, TColor>> pixels;
  };
  const Case cases[] = {
      {"top to bottom, 4 bands", gdTopBottom, 3, 4,
       {{{0, 0}, RGB(0, 0, 0)}, {{2, 1}, RGB(85, 85, 85)}, {{1, 2}, RGB(170, 170, 170)}, {{0, 3}, clWhite}}},
      {"left to right", gdLeftRight, 4, 2, {{{0, 1}, clBlack}, {{1, 1}, RGB(85, 85, 85)}, {{3, 0}, clWhite}}},
      {"at most 256 bands: 512 rows make bands of 2", gdTopBottom, 1, 512,
       {{{0, 0}, clBlack}, {{0, 1}, clBlack}, {{0, 2}, RGB(1, 1, 1)}, {{0, 511}, clWhite}}},
      {"from the centre: border start, middle end", gdFromCenter, 9, 9,
       {{{0, 0}, clBlack}, {{8, 4}, clBlack}, {{4, 4}, clWhite}}},
  };
  for (const Case& c : cases) {
    Scene s(false, true, c.w, c.h);
    s.canvas.GradientFill(Rect(0, 0, c.w, c.h), clBlack, clWhite, c.direction);
    for (const auto& [p, colour] : c.pixels) EXPECT_EQ(s.bmp.Pixel(p.X, p.Y), colour) << c.name << " " << p.X << "," << p.Y;
    EXPECT_EQ(s.canvas.Brush().Color, clRed) << c.name;  // drawing state untouched
  }
  // Diagonal bands cover every pixel exactly once: a grey ramp without holes.
  Scene d(false, true, 50, 30);
  d.canvas.GradientFill(Rect(0, 0, 50, 30), clBlack, RGB(0, 0, 254), gdFromTopLeft);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(d.bmp.Pixel(x, y) & 0x00FFFFu, 0u) << x << "," << y;
}

TEST(Canvas, Frame3DPaintsTopLeftAndBottomRightAndShrinks) {
  Scene s(false, true, 6, 5);
  TRect r = Rect(0, 0, 6, 5);
  s.canvas.Frame3D(r, clBlue, clBlack, 2);
  EXPECT_EQ(r, Rect(2, 2, 4, 3));
  std::string pic;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) pic += s.bmp.Pixel(x, y) == clBlue ? 'b' : s.bmp.Pixel(x, y) == clBlack ? '#' : '.';
  EXPECT_EQ(pic, "bbbbb#" "bbbb##" "bb..##" "b#####" "######");
}

TEST(Canvas, TextFollowsTheZoomOnlyForTheCall) {
  Scene plain(true);
  Scene zoomed(true);
  zoomed.options.SetZoom(200);
  zoomed.canvas.BeginDrawing(zoomed.surface, &zoomed.options, true, Rect(0, 0, 80, 80));
  zoomed.canvas.Projection(0, Rect(0, 0, 80, 80));
  for (Scene* s : {&plain, &zoomed}) {
    s->canvas.Font().Size = 8;
    s->canvas.SetBackMode(platform::bmTransparent);
    s->canvas.TextOut3D(40, 40, 0, "Wi");
  }
  EXPECT_EQ(zoomed.canvas.Font().Size, 8);
  EXPECT_GT(InkBox(zoomed.bmp).Width(), InkBox(plain.bmp).Width() * 3 / 2);
}

TEST(Canvas, BufferedDrawingWithoutPixelsIsHarmless) {
  Bitmap target(50, 40);
  Surface dest(target);
  TChartCanvas3D canvas;
  EXPECT_EQ(canvas.BeginDrawing(dest, nullptr, true, Rect(0, 0, 0, 0)), Rect(0, 0, 0, 0));
  canvas.Cube(0, 10, 0, 10, 0, 5, true);
  canvas.ShowImage(dest, nullptr, Rect(0, 0, 0, 0));
  EXPECT_EQ(InkBox(target).Right, -1);
}

TEST(Canvas, OutOfRangeCoordinatesSaturateInsteadOfWrapping) {
  constexpr int kMin = INT_MIN, kMax = INT_MAX;
  for (bool orthogonal : {true, false}) {
    Scene s(true, orthogonal, 40, 30);
    s.options.SetZoom(kMax);
    s.options.SetHorizOffset(kMax);
    s.canvas.BeginDrawing(s.surface, &s.options, true, Rect(kMin, kMin, kMax, kMax));
    s.canvas.Projection(kMax, Rect(kMin, kMin, kMax, kMax));
    EXPECT_EQ(s.canvas.ProjectPoint(kMax, kMin, kMax).X, kMax);
    s.canvas.Cube(kMin, kMax, kMin, kMax, kMin, kMax, true);
    s.canvas.Pie3D(kMax, kMin, kMax, kMax, kMin, kMax, 0, 7, true, true);
    s.canvas.Pyramid(true, kMin, kMin, kMax, kMax, kMin, kMax, true);
    s.canvas.Pyramid(false, kMax, kMin, kMin, kMax, kMin, kMax, true);
    s.canvas.Cylinder(true, kMin, kMin, kMax, kMax, kMin, kMax, true);
    s.canvas.Cylinder(false, kMin, kMin, kMax, kMax, kMin, kMax, true);
    s.canvas.EllipseWithZ(kMin, kMin, kMax, kMax, kMax);
    s.canvas.Arrow(true, {kMin, kMin}, {kMax, kMax}, kMax, kMax, kMin);
    s.canvas.ClipCube(Rect(kMin, kMin, kMax, kMax), kMin, kMax);
    s.canvas.HorizLine3D(kMin, kMax, kMin, kMax);
    s.canvas.TextOut3D(kMin, kMax, 0, "zoomed");
    s.canvas.RotateLabel3D(0, 0, kMax, "turned", kMin);
    s.canvas.UnClipRectangle();
    for (TGradientDirection d : {gdTopBottom, gdFromCenter, gdFromTopLeft, gdFromBottomLeft})
      s.canvas.GradientFill(Rect(kMin, kMin, kMax, kMax), clBlack, clWhite, d);
    TRect frame = Rect(kMin, kMin, kMax, kMax);
    s.canvas.Frame3D(frame, clBlack, clWhite, kMax);
    EXPECT_EQ(frame, Rect(-1, -1, 0, 0));  // 2^32 - 1 wide, shrunk 2^31 - 1 times per side
  }
}

}  // namespace
