// Writing a standalone SVG 1.1 document: the XML text rules (escaping,
// numbers, colours) and an element writer. Knows nothing of drawing state;
// SvgSurface maps drawing calls to the elements written here.
#pragma once

#include <string>
#include <string_view>

#include "platform/color.h"

namespace platform {

// Text for XML character data and double-quoted attribute values: "&", "<",
// ">" and '"' as entity references, tab, line feed and carriage return
// as character references (kept in attributes, too). Characters XML 1.0 does
// not allow at all (the other C0 controls, U+FFFE, U+FFFF) and invalid UTF-8
// bytes become U+FFFD.
std::string XmlEscape(std::string_view utf8);

// A coordinate or length: at most three decimals, no trailing zeros, no
// exponent ("12", "12.5", "-0.333"); values beyond ±2^24 are clamped.
std::string SvgNumber(double value);

// "#rrggbb" of a colour (system colours resolved).
std::string SvgColour(TColor colour);

// Builds the document text. Elements are written in call order; the caller
// keeps start and end calls paired (Open/Close for containers, Start ...
// End for empty elements, Start ... Text for elements holding text).
class SvgDocument {
 public:
  // Writes the XML declaration and the root element: width and height in
  // user units and a viewBox of the same size.
  SvgDocument(int width, int height);

  // "<name" of a new element.
  SvgDocument& Start(std::string_view name);
  // One attribute of the element started last; the value is escaped.
  SvgDocument& Attr(std::string_view name, std::string_view value);
  SvgDocument& Attr(std::string_view name, double value);
  // Ends the element as empty ("/>").
  void End();
  // Ends the start tag, writes the escaped text and the end tag.
  void Text(std::string_view name, std::string_view text);
  // Ends the start tag of a container; Close(name) writes its end tag.
  void Open();
  void Close(std::string_view name);

  // A new document-wide id: prefix and a running number ("c1", "p2", ...).
  std::string NewId(std::string_view prefix);

  // Closes the root element and hands over the text; the document is
  // finished and takes no more elements.
  std::string Finish();

 private:
  std::string text_;
  int next_id_ = 0;
};

}  // namespace platform
