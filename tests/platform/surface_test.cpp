#include "platform/surface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cairo.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/fonts.h"
#include "platform/sysutils.h"

namespace platform {
namespace {
// The bitmap as text, rows separated by spaces: '.' white, '#' black, 'r' red,
// 'b' blue, 'g' gray, '?' anything else.
std::string Picture(const Bitmap& bmp) {
  std::string out;
  for (int y = 0; y < bmp.Height(); ++y) {
    if (y > 0) out += ' ';
    for (int x = 0; x < bmp.Width(); ++x) {
      const TColor c = bmp.Pixel(x, y);
      out += c == clWhite ? '.' : c == clBlack ? '#' : c == clRed ? 'r' : c == clBlue ? 'b' : c == clGray ? 'g' : '?';
    }
  }
  return out;
}

TEST(SurfaceShapes, FollowDeviceContextPixelRules) {
  struct Case {
    const char* name;
    std::function<void(Surface&)> draw;
    const char* expected;  // 8 x 6 pixels
  };
  const TPoint triangle[] = {{0, 0}, {6, 0}, {0, 6}};
  const char* const kTriangle = "bbbbbb.. bbbbb... bbbb.... bbb..... bb...... b.......";
  const Case cases[] = {
      {"rectangle: 1-pixel outline on left..right-1, brush inside",
       [](Surface& s) { s.Brush.Color = clRed; s.Rectangle(1, 1, 6, 5); },
       "........ .#####.. .#rrr#.. .#rrr#.. .#####.. ........"},
      {"rectangle with clear brush, then with clear pen",
       [](Surface& s) {
         s.Brush.Style = bsClear, s.Rectangle(0, 0, 3, 3);
         s.Pen.Style = psClear, s.Brush = {clRed, bsSolid, nullptr}, s.Rectangle(4, 1, 7, 3);
       },
       "###..... #.#.rrr. ###.rrr. ........ ........ ........"},
      {"fill rect covers left..right-1 without outline",
       [](Surface& s) { s.Brush.Color = clBlue; s.FillRect(Rect(2, 1, 5, 3)); },
       "........ ..bbb... ..bbb... ........ ........ ........"},
      {"LineTo leaves out its end pixel, in every direction",
       [](Surface& s) { s.MoveTo(1, 0), s.LineTo(6, 0), s.MoveTo(0, 5), s.LineTo(0, 1), s.MoveTo(2, 2), s.LineTo(5, 5); },
       ".#####.. ........ #.#..... #..#.... #...#... #......."},
      {"polyline joins its points, last one unlit",
       [](Surface& s) { const TPoint pts[] = {{1, 1}, {5, 1}, {5, 4}}; s.Polyline(pts); },
       "........ .#####.. .....#.. .....#.. ........ ........"},
      {"polygon: filled inside, outline through every vertex",
       [](Surface& s) { const TPoint pts[] = {{1, 1}, {6, 1}, {6, 4}, {1, 4}}; s.Brush.Color = clRed, s.Polygon(pts); },
       "........ .######. .#rrrr#. .#rrrr#. .######. ........"},
      {"polygon without pen fills the pixels whose centres lie inside",
       [&](Surface& s) { s.Pen.Style = psClear; s.Brush.Color = clBlue; s.Polygon(triangle); }, kTriangle},
      {"ellipse stays inside its box and touches all four sides",
       [](Surface& s) { s.Brush.Color = clRed; s.Ellipse(0, 0, 8, 6); },
       "..####.. .#rrrr#. #rrrrrr# #rrrrrr# .#rrrr#. ..####.."},
      {"pie: the quarter from 3 o'clock to 12 o'clock",
       [](Surface& s) { s.Brush.Color = clRed; s.Pie(0, 0, 8, 6, 8, 3, 4, 0); },
       "....##.. ....#r#. ....#### ........ ........ ........"},
      {"round rectangle with corner 4 x 4",
       [](Surface& s) { s.Brush.Color = clRed; s.RoundRect(0, 0, 8, 6, 4, 4); },
       ".######. #rrrrrr# #rrrrrr# #rrrrrr# #rrrrrr# .######."},
      {"clip to a rectangle, then unclipped",
       [](Surface& s) {
         s.ClipRectangle(Rect(2, 1, 5, 4)), s.Brush.Color = clBlue, s.FillRect(Rect(0, 0, 8, 6));
         s.UnClip(), s.SetPixel(7, 5, clBlack);
       },
       "........ ..bbb... ..bbb... ..bbb... ........ .......#"},
      {"clip to a polygon",
       [&](Surface& s) { s.ClipPolygon(triangle); s.Brush.Color = clBlue; s.FillRect(Rect(0, 0, 8, 6)); },
       kTriangle},
      {"hatch brush: gaps untouched when transparent, in the background colour when opaque",
       [](Surface& s) {
         s.BackMode = bmTransparent, s.Brush = {clBlue, bsCross, nullptr}, s.FillRect(Rect(0, 0, 4, 6));
         s.BackMode = bmOpaque, s.BackColor = clGray, s.Brush.Style = bsFDiagonal, s.FillRect(Rect(4, 2, 8, 6));
       },
       "bbbb.... b....... b...gggg b...gggg b...bggg b...gbgg"},
      {"a wide pen is solid, whatever its style, and centred on the line",
       [](Surface& s) { s.Pen.Width = 3, s.Pen.Style = psDash; s.MoveTo(1, 3), s.LineTo(6, 3); },
       "........ ........ ######## ######## ######## ........"},
  };
  for (const Case& c : cases) {
    Bitmap bmp(8, 6);
    Surface s(bmp);
    c.draw(s);
    EXPECT_EQ(Picture(bmp), c.expected) << c.name;
  }
}

// Lines and outlines are written past cairo; they must honour the clip
// exactly as cairo's own fills do.
TEST(SurfaceShapes, EveryKindOfDrawingHonoursTheSameClip) {
  const TPoint star[] = {{2, 1}, {17, 6}, {3, 13}, {10, 0}, {15, 14}};
  for (bool polygon : {false, true}) {
    auto clipped = [&](const std::function<void(Surface&)>& draw) {
      Bitmap bmp(18, 15);
      Surface s(bmp);
      polygon ? s.ClipPolygon(star) : s.ClipRectangle(Rect(3, 2, 14, 11));
      s.Brush.Color = clBlack;
      draw(s);
      return Picture(bmp);
    };
    SCOPED_TRACE(polygon ? "polygon" : "rectangle");
    const std::string by_fill = clipped([](Surface& s) { s.FillRect(Rect(0, 0, 18, 15)); });
    EXPECT_EQ(clipped([](Surface& s) {
                for (int y = 0; y < 15; ++y) s.MoveTo(-1, y), s.LineTo(20, y);
              }),
              by_fill);
    EXPECT_EQ(clipped([](Surface& s) { s.Ellipse(-20, -20, 40, 40); }), by_fill);
  }
}

// A line drawn as two connected segments over an opaque gray background: the
// pattern runs on across the joint and its gaps take the background colour.
TEST(SurfaceLines, StyledPensFollowTheirDashPatterns) {
  const std::pair<TPenStyle, const char*> cases[] = {
      {psSolid, "####################################"}, {psDash, "##################gggggg############"},
      {psDot, "###ggg###ggg###ggg###ggg###ggg###ggg"}, {psDashDot, "#########gggggg###gggggg#########ggg"},
      {psDashDotDot, "#########ggg###ggg###ggg#########ggg"}, {psClear, "...................................."},
  };
  for (const auto& [style, expected] : cases) {
    Bitmap bmp(40, 1);
    Surface s(bmp);
    s.BackColor = clGray;  // opaque background mode by default
    s.Pen.Style = style;
    s.MoveTo(0, 0), s.LineTo(4, 0), s.LineTo(40, 0);
    EXPECT_EQ(Picture(bmp).substr(0, 36), expected) << style;
  }
  // A style change between connected lines goes on counting within the new
  // pattern: the dash's 20 pixels leave the dot at pixel 2 of its 6.
  Bitmap bmp(24, 1);
  Surface s(bmp);
  s.BackColor = clGray;
  s.Pen.Style = psDash;
  s.MoveTo(0, 0), s.LineTo(20, 0);
  s.Pen.Style = psDot;
  s.LineTo(12, 0);
  EXPECT_EQ(Picture(bmp), "#############g###ggg#...");
}

TEST(SurfaceRobustness, FarAwayAndDegenerateShapesDrawQuicklyAndSafely) {
  Bitmap bmp(20, 20);
  Surface s(bmp);
  constexpr int kMin = INT_MIN, kMax = INT_MAX;
  s.MoveTo(-2000000000, -2000000000), s.LineTo(2000000000, 2000000000);  // crosses the bitmap diagonally
  const TPoint one[] = {{1, 1}}, far[] = {{-2000000000, 0}, {2000000000, 0}, {0, 2000000000}};
  s.Rectangle(5, 5, 5, 9), s.Ellipse(3, 3, 3, 3), s.Pie(0, 0, 0, 10, 0, 0, 0, 0);
  s.Polygon(one), s.Polyline({}), s.Polygon(far);
  s.ClipRectangle(Rect(5, 5, 2, 2)), s.FillRect(Rect(0, 0, 20, 20)), s.UnClip();  // empty clip: nothing drawable
  s.SetPixel(-1, 0, clRed), s.SetPixel(20, 0, clRed);
  const TRect all = Rect(kMin, kMin, kMax, kMax);
  s.Rectangle(kMin, kMin, kMax, kMax), s.RoundRect(kMin, kMin, kMax, kMax, kMax, kMax);
  s.Ellipse(kMax, kMax, kMin, kMin), s.Pie(kMin, kMin, kMax, kMax, kMax, 0, kMin, kMin);
  s.Arc(kMin, 0, kMax, 10, 0, 0, 5, 5), s.FillRect(all), s.PatBlt(all, clBlue), s.ClipRectangle(all);
  s.StretchDraw(all, bmp), s.Draw(kMax, kMin, bmp), s.BitBlt(kMin, kMax, bmp, all);
  s.Font.Size = kMax;  // text size is capped
  EXPECT_EQ(s.Font.PixelHeight(), TFont::kMaxPixelHeight);
  s.Font.Escapement = kMin;
  s.TextOut(kMax, kMin, "x");
  // Invalid UTF-8 is measured and drawn, and the surface stays usable.
  const std::string bad = std::string("A\xC3") + "\xFF" + std::string(1, '\0') + "Z\xE2\x82";
  EXPECT_GT(s.TextWidth(bad), s.TextWidth("AZ"));
  s.TextOut(0, 0, bad);
  s.SetPixel(19, 19, clRed);
  EXPECT_EQ(bmp.Pixel(19, 19), clRed);
}

TEST(SurfaceColours, SystemColoursResolveAndNothingIsSmoothed) {
  Bitmap bmp(120, 80);
  Surface s(bmp);
  s.Brush.Color = clBtnFace, s.FillRect(Rect(0, 0, 120, 80));
  s.Pen.Color = clBlue, s.Brush.Color = clYellow, s.Ellipse(5, 5, 60, 40);
  s.MoveTo(0, 79), s.LineTo(119, 3);
  const TPoint tri[] = {{70, 10}, {115, 30}, {80, 70}};
  s.Pen.Width = 3, s.Polygon(tri);
  s.Font.Color = clRed, s.Font.Escapement = 300, s.BackMode = bmTransparent, s.TextOut(10, 70, "Smooth?");
  s.Font.Escapement = 0, s.Font.Bold = true, s.TextOut(40, 45, "Text");
  std::set<TColor> colours;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) colours.insert(bmp.Pixel(x, y));
  EXPECT_EQ(colours, (std::set<TColor>{0xC0C0C0u, clBlue, clYellow, clRed}));
}

// Extents of every face and size are compared with cairo's below; that
// comparison asks cairo for the face at PixelHeight, pinned here.
TEST(SurfaceText, PixelHeightAndEmptyText) {
  Bitmap bmp(10, 10);
  Surface s(bmp);
  s.Font.Size = 8;
  EXPECT_EQ(s.Font.PixelHeight(), 11);
  EXPECT_EQ(s.TextWidth(""), 0);
  EXPECT_EQ(s.TextHeight(""), s.TextExtent("W").cy);
  s.Font.Size = 10;
  EXPECT_EQ(s.Font.PixelHeight(), 13);
}

TEST(SurfaceText, AlignmentAndRotationPlaceTheTextBoxAboutTheReferencePoint) {
  // within: the ink must lie inside this box (reference point 60, 60)
  struct Case { const char* name; int escapement; unsigned align; TRect within; };
  // Text "Hello" at 10 pt: about 29 x 16 pixels (ascent 12, descent 3).
  const Case cases[] = {
      {"left top: right and below", 0, TA_LEFT | TA_TOP, Rect(60, 60, 92, 76)},
      {"right bottom: left and above", 0, TA_RIGHT | TA_BOTTOM, Rect(28, 44, 60, 60)},
      {"centre baseline: around x, above y", 0, TA_CENTER | TA_BASELINE, Rect(44, 47, 76, 64)},
      {"90 degrees, top: a tall box right of and above the point", 900, TA_LEFT | TA_TOP, Rect(60, 28, 76, 60)},
      {"90 degrees, bottom: a tall box left of and above the point", 900, TA_LEFT | TA_BOTTOM, Rect(44, 28, 60, 60)},
      {"180 degrees: upside down left of and above the point", 1800, TA_LEFT | TA_TOP, Rect(28, 44, 60, 60)},
      {"270 degrees: reading downwards, left of and below", 2700, TA_LEFT | TA_TOP, Rect(44, 60, 60, 92)},
  };
  for (const Case& c : cases) {
    Bitmap bmp(120, 120);
    Surface s(bmp);
    s.BackMode = bmTransparent;
    s.Font.Escapement = c.escapement;
    s.TextAlign = c.align;
    s.TextOut(60, 60, "Hello");
    TRect ink{bmp.Width(), bmp.Height(), -1, -1};  // bounding box of the non-white pixels
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x)
        if (bmp.Pixel(x, y) != clWhite)
          ink = {std::min(ink.Left, x), std::min(ink.Top, y), std::max(ink.Right, x + 1), std::max(ink.Bottom, y + 1)};
    EXPECT_TRUE(ink.Left >= c.within.Left && ink.Top >= c.within.Top && ink.Right <= c.within.Right &&
                ink.Bottom <= c.within.Bottom)
        << c.name << ": " << ink.Left << "," << ink.Top << "," << ink.Right << "," << ink.Bottom;
    // and it is not a speck: at least two thirds of the box in both directions
    EXPECT_GE(ink.Width() * 3, c.within.Width() * 2 - 12) << c.name;
    EXPECT_GE(ink.Height() * 3, c.within.Height() * 2 - 12) << c.name;
  }
}

TEST(SurfaceText, OpaqueBackgroundFillsTheTextBoxUnlessTheBrushIsClear) {
  for (bool clear_brush : {false, true}) {
    Bitmap bmp(60, 30);
    Surface s(bmp);
    s.BackColor = clGray;
    s.BackMode = bmOpaque;
    s.Brush.Style = clear_brush ? bsClear : bsSolid;
    s.TextOut(5, 5, "Ab");
    const TSize ext = s.TextExtent("Ab");
    EXPECT_EQ(bmp.Pixel(5, 5) == clGray, !clear_brush);
    EXPECT_EQ(bmp.Pixel(5 + ext.cx - 1, 5 + ext.cy - 1) == clGray, !clear_brush);
    EXPECT_EQ(bmp.Pixel(5 + ext.cx, 5), clWhite);
    EXPECT_EQ(bmp.Pixel(5, 5 + ext.cy), clWhite);
  }
}

// Unrotated text comes from the process's own 1-bit glyphs; cairo, which
// draws rotated text, is the oracle for their pixels, advances and extents:
// every face, sizes from tiny to large, text reaching past the bitmap and
// a rectangle clip, glyphs the face lacks, and opaque boxes. (Under a
// polygon clip, whose edge pixels cairo finds differently for glyphs than
// for fills, text goes through cairo.)
TEST(SurfaceText, OwnGlyphsGiveCairosPixelsAndExtents) {
  const char* const texts[] = {"Umsatz 1997: 12.345,67 €", "ÄÖÜäöüß «»¿ Ωλ 中文", "il|.,;:'`\" _-~^",
                               "WMW@%&#", " trailing spaces  ", "x\ty\x01z"};
  const TPoint starts[] = {{3, 2}, {-7, 30}, {150, 57}, {40, -6}};
  const TPoint star[] = {{0, 0}, {170, 20}, {20, 70}, {90, 0}, {160, 70}};
  auto pixels = [](const Bitmap& bmp) {
    std::vector<std::uint32_t> out;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) out.push_back(bmp.Row(y)[x] & 0xFFFFFFu);  // the byte above is unused
    return out;
  };
  int compared = 0;
  for (const char* face : {"Arial", "Times New Roman", "Courier New"}) {
    for (int size : {1, 5, 7, 8, 9, 10, 12, 14, 19, 26}) {
      for (int variant = 0; variant < 4; ++variant) {
        auto setFont = [&](Surface& s) {
          s.Font.Name = face, s.Font.Size = size, s.Font.Bold = variant & 1, s.Font.Italic = variant & 2;
        };
        auto draw = [&](bool cairo) {
          Bitmap bmp(170, 70);
          Surface s(bmp);
          s.TextThroughCairo = cairo;
          setFont(s);
          s.Font.Color = size % 2 ? clBlue : clBlack;
          s.BackColor = clGray;
          s.BackMode = variant == 3 ? bmOpaque : bmTransparent;
          if (variant == 1) s.ClipRectangle(Rect(10, 5, 120, 50));
          if (variant == 2) s.ClipPolygon(star);
          s.TextAlign = variant == 1 ? TA_RIGHT | TA_BOTTOM : variant == 2 ? TA_CENTER | TA_BASELINE : TA_LEFT | TA_TOP;
          for (std::size_t i = 0; i < std::size(texts); ++i) {
            const TPoint at = starts[(i + static_cast<std::size_t>(size)) % std::size(starts)];
            s.TextOut(at.X, at.Y + static_cast<int>(i) * 9, texts[i]);
          }
          return pixels(bmp);
        };
        const std::string name = std::string(face) + " " + std::to_string(size) + " pt, variant " + std::to_string(variant);
        EXPECT_EQ(draw(false), draw(true)) << name;
        ++compared;

        // The extents cairo gives for the same face, size and options.
        Bitmap bmp(4, 4);
        Surface s(bmp);
        setFont(s);
        cairo_t* cr = cairo_create(bmp.CairoSurface());
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        cairo_set_font_options(cr, options);
        cairo_set_font_face(cr, FontFace(face, variant & 1, variant & 2));
        cairo_set_font_size(cr, s.Font.PixelHeight());
        cairo_font_extents_t fe;
        cairo_font_extents(cr, &fe);
        EXPECT_EQ(s.FontAscent(), std::lround(fe.ascent)) << name;
        for (const char* text : texts) {
          cairo_text_extents_t te;
          cairo_text_extents(cr, text, &te);
          const TSize extent = s.TextExtent(text);
          EXPECT_EQ(extent.cx, std::lround(te.x_advance)) << name << ": " << text;
          EXPECT_EQ(extent.cy, std::lround(fe.ascent) + std::lround(fe.descent)) << name;
        }
        cairo_font_options_destroy(options);
        cairo_destroy(cr);
      }
    }
  }
  EXPECT_EQ(compared, 120);
}

// Several serving threads draw text at once: the shared face cache must hand
// each of them the same faces, loaded once.
TEST(Fonts, ThreadsDrawingTextAtOnceGetTheSamePixels) {
  auto draw = [](Bitmap& bmp) {
    Surface s(bmp);
    const char* faces[] = {"Arial", "Times New Roman", "Courier New"};
    for (int i = 0; i < 12; ++i) {
      s.Font.Name = faces[i % 3];
      s.Font.Bold = i % 2 == 1;
      s.Font.Italic = i % 4 >= 2;
      s.TextOut(2, 2 + 14 * (i % 6), "Umsatz 1997");
    }
  };
  std::vector<Bitmap> results;
  for (int i = 0; i < 4; ++i) results.emplace_back(100, 90);
  std::vector<std::thread> threads;
  for (Bitmap& b : results) threads.emplace_back([&draw, &b] { draw(b); });
  for (std::thread& t : threads) t.join();
  Bitmap reference(100, 90);
  draw(reference);
  for (const Bitmap& b : results) EXPECT_EQ(Picture(b), Picture(reference));
}

TEST(Fonts, FaceNamesMapToLiberationFilesAndMissingFilesAreReported) {
  struct Case { const char* face; bool bold, italic; const char* file; };
  const Case cases[] = {
      {" arial ", true, false, "LiberationSans-Bold.ttf"},
      {"Times New Roman", false, true, "LiberationSerif-Italic.ttf"},
      {"COURIER NEW", true, true, "LiberationMono-BoldItalic.ttf"},
      {"Wingdings", false, false, "LiberationSans-Regular.ttf"}, {"", true, true, "LiberationSans-BoldItalic.ttf"},
  };
  for (const Case& c : cases) EXPECT_EQ(FontFileName(c.face, c.bold, c.italic), c.file) << c.face;
  const char* old = std::getenv("GRAFOLIO_FONT_DIR");
  const std::string saved = old ? old : "";
  setenv("GRAFOLIO_FONT_DIR", "/nonexistent/fonts", 1);
  Bitmap bmp(10, 10);
  Surface s(bmp);
  EXPECT_THAT([&] { s.TextOut(0, 0, "x"); }, testing::ThrowsMessage<Exception>(testing::StrEq(
                                                 "Font file /nonexistent/fonts/LiberationSans-Regular.ttf not found")));
  EXPECT_THROW(s.TextWidth("x"), Exception);
  old ? setenv("GRAFOLIO_FONT_DIR", saved.c_str(), 1) : unsetenv("GRAFOLIO_FONT_DIR");
  EXPECT_GT(s.TextWidth("x"), 0);  // usable again
}

TEST(SurfaceBlit, DrawStretchAndBitBltCopyPixels) {
  Bitmap pic(2, 2);
  pic.SetPixel(0, 0, clRed);
  pic.SetPixel(1, 1, clBlue);
  Bitmap bmp(8, 6);
  Surface s(bmp);
  s.Draw(1, 1, pic);
  s.StretchDraw(Rect(4, 0, 8, 4), pic);
  s.ClipRectangle(Rect(0, 0, 1, 1));  // BitBlt ignores the clip
  s.BitBlt(0, 4, pic, Rect(0, 0, 2, 2));
  EXPECT_EQ(Picture(bmp), "....rr.. .r..rr.. ..b...bb ......bb r....... .b......");
}
}  // namespace
}  // namespace platform
