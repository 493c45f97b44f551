#include "platform/svg_surface.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/sysutils.h"

namespace platform {
namespace {
// What a drawing call adds to a fresh 100 × 80 document: the text between
// the white canvas rectangle and the end of the document.
std::string Body(const std::function<void(SvgSurface&)>& draw) {
  SvgSurface s(100, 80);
  draw(s);
  const std::string doc = s.Finish();
  const std::string canvas = "<rect width=\"100\" height=\"80\" fill=\"#ffffff\"/>\n";
  const auto begin = doc.find(canvas);
  const auto end = doc.rfind("</svg>");
  if (begin == std::string::npos || end == std::string::npos) return "bad document: " + doc;
  return doc.substr(begin + canvas.size(), end - begin - canvas.size());
}

const std::string kSans = "font-family=\"'Liberation Sans', Arial, Helvetica, sans-serif\"";

TEST(SvgSurface, WritesEachPrimitiveAsItsElement) {
  // name, drawing calls, elements written
  struct Case { const char* name; std::function<void(SvgSurface&)> draw; std::string expected; };
  const Case cases[] = {
      {"line on pixel centres", [](SvgSurface& s) { s.MoveTo(1, 2), s.LineTo(11, 2); },
       "<path d=\"M1.5 2.5L11.5 2.5\" fill=\"none\" stroke=\"#000000\"/>\n"},
      {"connected lines share a path, a jump starts a subpath",
       [](SvgSurface& s) { s.MoveTo(0, 0), s.LineTo(5, 5), s.LineTo(9, 0), s.MoveTo(20, 20), s.LineTo(30, 20); },
       "<path d=\"M0.5 0.5L5.5 5.5L9.5 0.5M20.5 20.5L30.5 20.5\" fill=\"none\" stroke=\"#000000\"/>\n"},
      {"another pen ends the path",
       [](SvgSurface& s) { s.MoveTo(0, 0), s.LineTo(5, 0), s.Pen.Color = clRed, s.LineTo(5, 5); },
       "<path d=\"M0.5 0.5L5.5 0.5\" fill=\"none\" stroke=\"#000000\"/>\n"
       "<path d=\"M5.5 0.5L5.5 5.5\" fill=\"none\" stroke=\"#ff0000\"/>\n"},
      {"dotted pen, transparent background",
       [](SvgSurface& s) { s.Pen.Style = psDot, s.BackMode = bmTransparent, s.MoveTo(0, 3), s.LineTo(20, 3); },
       "<path d=\"M0.5 3.5L20.5 3.5\" fill=\"none\" stroke=\"#000000\" stroke-dasharray=\"3 3\"/>\n"},
      {"dash-dot pen, opaque background fills the gaps",
       [](SvgSurface& s) { s.Pen.Style = psDashDot, s.BackColor = clBlue, s.MoveTo(0, 3), s.LineTo(20, 3); },
       "<path d=\"M0.5 3.5L20.5 3.5\" fill=\"none\" stroke=\"#0000ff\"/>\n"
       "<path d=\"M0.5 3.5L20.5 3.5\" fill=\"none\" stroke=\"#000000\" stroke-dasharray=\"9 6 3 6\"/>\n"},
      {"wide pen draws solid with round ends",
       [](SvgSurface& s) { s.Pen.Width = 3, s.Pen.Style = psDash, s.MoveTo(0, 3), s.LineTo(20, 3); },
       "<path d=\"M0.5 3.5L20.5 3.5\" fill=\"none\" stroke=\"#000000\" stroke-width=\"3\" stroke-linecap=\"round\" "
       "stroke-linejoin=\"round\"/>\n"},
      {"clear pen draws no line", [](SvgSurface& s) { s.Pen.Style = psClear, s.MoveTo(0, 3), s.LineTo(20, 3); }, ""},
      {"rectangle: outline on the outermost pixels",
       [](SvgSurface& s) { s.Brush.Color = clRed, s.Rectangle(2, 3, 12, 9); },
       "<rect x=\"2.5\" y=\"3.5\" width=\"9\" height=\"5\" fill=\"#ff0000\" stroke=\"#000000\"/>\n"},
      {"rectangle without pen covers its box, corners swapped",
       [](SvgSurface& s) { s.Pen.Style = psClear, s.Rectangle(12, 9, 2, 3); },
       "<rect x=\"2\" y=\"3\" width=\"10\" height=\"6\" fill=\"#ffffff\"/>\n"},
      {"rectangle without area draws nothing", [](SvgSurface& s) { s.Rectangle(2, 3, 2, 9); }, ""},
      {"fill rect: brush, no outline; cut to the surface",
       [](SvgSurface& s) { s.Brush.Color = clBlue, s.FillRect(TRect{-50, 10, 500, 20}); },
       "<rect x=\"-1\" y=\"10\" width=\"102\" height=\"10\" fill=\"#0000ff\"/>\n"},
      {"clear brush fills nothing", [](SvgSurface& s) { s.Brush.Style = bsClear, s.FillRect(TRect{0, 0, 5, 5}); }, ""},
      {"gradient band", [](SvgSurface& s) { s.PatBlt(TRect{0, 4, 100, 5}, RGB(1, 2, 3)); },
       "<rect x=\"0\" y=\"4\" width=\"100\" height=\"1\" fill=\"#010203\"/>\n"},
      {"pixel", [](SvgSurface& s) { s.SetPixel(7, 8, clRed), s.SetPixel(100, 0, clRed); },
       "<rect x=\"7\" y=\"8\" width=\"1\" height=\"1\" fill=\"#ff0000\"/>\n"},
      {"3D face: polygon, even-odd, on the outline's pixel centres",
       [](SvgSurface& s) { s.Brush.Color = clGray, s.Polygon(std::vector<TPoint>{{0, 0}, {10, 0}, {10, 10}, {0, 10}}); },
       "<polygon points=\"0.5,0.5 10.5,0.5 10.5,10.5 0.5,10.5\" fill-rule=\"evenodd\" fill=\"#808080\" "
       "stroke=\"#000000\"/>\n"},
      {"polygon fill alone on the vertices",
       [](SvgSurface& s) { s.Pen.Style = psClear, s.Polygon(std::vector<TPoint>{{0, 0}, {10, 0}, {5, 8}}); },
       "<polygon points=\"0,0 10,0 5,8\" fill-rule=\"evenodd\" fill=\"#ffffff\"/>\n"},
      {"ellipse: fill on the box, outline inside it", [](SvgSurface& s) { s.Ellipse(10, 10, 30, 20); },
       "<ellipse cx=\"20\" cy=\"15\" rx=\"9.5\" ry=\"4.5\" fill=\"#ffffff\" stroke=\"#000000\"/>\n"},
      {"rounded rectangle", [](SvgSurface& s) { s.Pen.Width = 4, s.RoundRect(0, 0, 20, 10, 6, 4); },
       "<rect x=\"0.5\" y=\"0.5\" width=\"19\" height=\"9\" rx=\"3\" ry=\"2\" fill=\"#ffffff\" stroke=\"#000000\"/>\n"},
      {"pie quarter, counter-clockwise from the right ray to the top ray",
       [](SvgSurface& s) { s.Pie(0, 0, 20, 20, 30, 10, 10, -5); },
       "<path d=\"M10 10L19.5 10A9.5 9.5 0 0 0 10 0.5Z\" fill=\"#ffffff\" stroke=\"#000000\"/>\n"},
      {"pie over half the circle takes the large arc",
       [](SvgSurface& s) { s.Pen.Style = psClear, s.Pie(0, 0, 20, 20, 10, 0, 20, 10); },
       "<path d=\"M10 10L10 0A10 10 0 1 0 20 10Z\" fill=\"#ffffff\"/>\n"},
      {"pie whose rays meet is the whole ellipse", [](SvgSurface& s) { s.Pie(0, 0, 20, 10, 30, 5, 30, 5); },
       "<ellipse cx=\"10\" cy=\"5\" rx=\"9.5\" ry=\"4.5\" fill=\"#ffffff\" stroke=\"#000000\"/>\n"},
      {"arc: curve only", [](SvgSurface& s) { s.Arc(0, 0, 20, 20, 10, 30, 30, 10); },
       "<path d=\"M10 19.5A9.5 9.5 0 0 0 19.5 10\" fill=\"none\" stroke=\"#000000\"/>\n"},
      {"hatch brush: an 8 × 8 pattern from the origin, gaps in the opaque background",
       [](SvgSurface& s) { s.Pen.Style = psClear, s.Brush.Style = bsCross, s.Brush.Color = clRed, s.FillRect({0, 0, 8, 8}); },
       "<defs>\n<pattern id=\"p1\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">\n"
       "<rect width=\"8\" height=\"8\" fill=\"#ffffff\"/>\n"
       "<path d=\"M0 0h8v1h-8zM0 1h1v1h-1zM0 2h1v1h-1zM0 3h1v1h-1zM0 4h1v1h-1zM0 5h1v1h-1zM0 6h1v1h-1zM0 7h1v1h-1z\" "
       "fill=\"#ff0000\"/>\n</pattern>\n</defs>\n"
       "<rect x=\"0\" y=\"0\" width=\"8\" height=\"8\" fill=\"url(#p1)\"/>\n"},
      {"rectangle clip: a clip path and a group up to the next clip change",
       [](SvgSurface& s) { s.ClipRectangle({5, 5, 500, 50}), s.SetPixel(6, 6, clRed), s.UnClip(), s.SetPixel(1, 1, clRed); },
       "<clipPath id=\"c1\">\n<rect x=\"5\" y=\"5\" width=\"95\" height=\"45\"/>\n</clipPath>\n<g clip-path=\"url(#c1)\">\n"
       "<rect x=\"6\" y=\"6\" width=\"1\" height=\"1\" fill=\"#ff0000\"/>\n</g>\n"
       "<rect x=\"1\" y=\"1\" width=\"1\" height=\"1\" fill=\"#ff0000\"/>\n"},
      {"polygon clip replaces the rectangle clip; the document closes the group",
       [](SvgSurface& s) { s.ClipRectangle({0, 0, 9, 9}), s.ClipPolygon(std::vector<TPoint>{{0, 0}, {9, 0}, {0, 9}}); },
       "<clipPath id=\"c1\">\n<rect x=\"0\" y=\"0\" width=\"9\" height=\"9\"/>\n</clipPath>\n<g clip-path=\"url(#c1)\">\n"
       "</g>\n<clipPath id=\"c2\">\n<polygon points=\"0,0 9,0 0,9\" clip-rule=\"evenodd\"/>\n</clipPath>\n"
       "<g clip-path=\"url(#c2)\">\n</g>\n"},
      {"text: baseline below the top by the ascent (12 of 13 pixels), chart font with fallbacks",
       [](SvgSurface& s) { s.Brush.Style = bsClear, s.TextOut(10, 20, "Ab"); },
       "<text x=\"10\" y=\"32\" " + kSans + " font-size=\"13\" fill=\"#000000\" xml:space=\"preserve\">Ab</text>\n"},
      {"text centred on its baseline, bold italic underlined, serif face",
       [](SvgSurface& s) {
         s.Brush.Style = bsClear, s.TextAlign = TA_CENTER | TA_BASELINE, s.Font.Name = "Times New Roman";
         s.Font.Bold = s.Font.Italic = s.Font.Underline = true, s.Font.Size = 12, s.Font.Color = clRed;
         s.TextOut(50, 40, "x");
       },
       "<text x=\"50\" y=\"40\" font-family=\"'Liberation Serif', 'Times New Roman', Times, serif\" font-size=\"16\" "
       "font-weight=\"bold\" font-style=\"italic\" text-decoration=\"underline\" text-anchor=\"middle\" fill=\"#ff0000\" "
       "xml:space=\"preserve\">x</text>\n"},
      {"rotated text turns about its reference point, right-aligned, opaque box under it",
       [](SvgSurface& s) { s.TextAlign = TA_RIGHT | TA_BOTTOM, s.Font.Escapement = 900, s.TextOut(30, 60, "i"); },
       "<rect x=\"27\" y=\"45\" width=\"3\" height=\"15\" fill=\"#ffffff\" transform=\"rotate(-90 30 60)\"/>\n"
       "<text x=\"30\" y=\"57\" " + kSans +
           " font-size=\"13\" text-anchor=\"end\" fill=\"#000000\" xml:space=\"preserve\" "
           "transform=\"rotate(-90 30 60)\">i</text>\n"},
      {"text escaped as XML, control characters replaced",
       [](SvgSurface& s) { s.Brush.Style = bsClear, s.TextOut(0, 0, "<a&b>\"c'\x01\t\xff"); },
       "<text x=\"0\" y=\"12\" " + kSans +
           " font-size=\"13\" fill=\"#000000\" xml:space=\"preserve\">&lt;a&amp;b&gt;&quot;c'\xEF\xBF\xBD&#9;"
           "\xEF\xBF\xBD</text>\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Body(c.draw), c.expected) << c.name;
}

TEST(SvgSurface, DocumentHasSizeViewBoxAndNothingOutside) {
  SvgSurface s(640, 480);
  const std::string doc = s.Finish();
  EXPECT_EQ(doc,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
            "width=\"640\" height=\"480\" viewBox=\"0 0 640 480\">\n<rect width=\"640\" height=\"480\" "
            "fill=\"#ffffff\"/>\n</svg>\n");
  EXPECT_THROW(SvgSurface(0, 10), ::Exception);
}

TEST(SvgSurface, PicturesAreEmbeddedAsDataUris) {
  Bitmap picture(2, 1);
  picture.SetPixel(0, 0, clRed);
  const std::string body = Body([&](SvgSurface& s) { s.StretchDraw({0, 0, 20, 10}, picture); });
  EXPECT_EQ(body.rfind("<image x=\"0\" y=\"0\" width=\"20\" height=\"10\" preserveAspectRatio=\"none\" "
                       "image-rendering=\"pixelated\" href=\"data:image/png;base64,iVBORw0KGgo",
                       0),
            0u)
      << body;
}

TEST(SvgText, EscapesAndNumbers) {
  // text in, text out
  struct Case { std::string in, out; };
  const Case escapes[] = {
      {"plain äöü", "plain äöü"},
      {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;'"},
      {std::string("nul\0x", 5), "nul\xEF\xBF\xBDx"},
      {"\x1f\x7f\r\n", "\xEF\xBF\xBD\x7f&#13;&#10;"},
      {"\xEF\xBF\xBE\xC3", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // U+FFFE, a cut sequence
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate, byte by byte
  };
  for (const Case& c : escapes) EXPECT_EQ(XmlEscape(c.in), c.out) << c.in;
  EXPECT_EQ(SvgNumber(12), "12");
  EXPECT_EQ(SvgNumber(12.5), "12.5");
  EXPECT_EQ(SvgNumber(-1.0 / 3), "-0.333");
  EXPECT_EQ(SvgNumber(-0.0001), "0");
  EXPECT_EQ(SvgNumber(1e30), "16777216");
  EXPECT_EQ(SvgColour(RGB(1, 0xAB, 0xFF)), "#01abff");
  EXPECT_EQ(SvgColour(clBtnFace), "#c0c0c0");
}
}  // namespace
}  // namespace platform
