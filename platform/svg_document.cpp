#include "platform/svg_document.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/sysutils.h"

namespace platform {

std::string XmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t start = i;
    const char32_t cp = DecodeUtf8(utf8, i);
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF || cp == 0xFFFD) {
          out += "\xEF\xBF\xBD";  // U+FFFD (also for the invalid bytes DecodeUtf8 reports as it)
        } else {
          out.append(utf8.substr(start, i - start));
        }
    }
  }
  return out;
}

std::string SvgNumber(double value) {
  constexpr double kLimit = 1 << 24;
  if (!std::isfinite(value)) value = 0;
  value = std::clamp(value, -kLimit, kLimit);
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
  if (ec != std::errc{}) return "0";
  std::string s(buf, end);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string SvgColour(TColor colour) {
  const TColor c = ColorToRGB(colour);
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  return buf;
}

SvgDocument::SvgDocument(int width, int height) {
  const std::string w = std::to_string(width);
  const std::string h = std::to_string(height);
  text_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
          w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
}

SvgDocument& SvgDocument::Start(std::string_view name) {
  text_ += '<';
  text_ += name;
  return *this;
}

SvgDocument& SvgDocument::Attr(std::string_view name, std::string_view value) {
  text_ += ' ';
  text_ += name;
  text_ += "=\"";
  text_ += XmlEscape(value);
  text_ += '"';
  return *this;
}

SvgDocument& SvgDocument::Attr(std::string_view name, double value) { return Attr(name, SvgNumber(value)); }

void SvgDocument::End() { text_ += "/>\n"; }

void SvgDocument::Text(std::string_view name, std::string_view text) {
  text_ += '>';
  text_ += XmlEscape(text);
  text_ += "</";
  text_ += name;
  text_ += ">\n";
}

void SvgDocument::Open() { text_ += ">\n"; }

void SvgDocument::Close(std::string_view name) {
  text_ += "</";
  text_ += name;
  text_ += ">\n";
}

std::string SvgDocument::NewId(std::string_view prefix) { return std::string(prefix) + std::to_string(++next_id_); }

std::string SvgDocument::Finish() {
  text_ += "</svg>\n";
  return std::move(text_);
}

}  // namespace platform
