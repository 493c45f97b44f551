// Font settings of the chart's texts (titles, legend, marks, axis labels):
// face name, size in points, colour and style. A setter stores a changed
// value and tells the owner through OnChange.
#pragma once

#include <functional>
#include <string>

#include "platform/color.h"
#include "platform/surface.h"

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

class TChartFont {
 public:
  // The chart's default font: "Arial", 8 points, black, no style.
  TChartFont() = default;
  explicit TChartFont(TColor colour) : color_(colour) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) {
    if (name_ != name) { name_ = std::move(name); Changed(); }
  }
  int Size() const { return size_; }
  void SetSize(int size) {
    if (size_ != size) { size_ = size; Changed(); }
  }
  TColor Color() const { return color_; }
  void SetColor(TColor colour) {
    if (color_ != colour) { color_ = colour; Changed(); }
  }
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style) {
    if (style_ != style) { style_ = style; Changed(); }
  }
  // Copies all values (not the change hook).
  void Assign(const TChartFont& other) {
    name_ = other.name_;
    size_ = other.size_;
    color_ = other.color_;
    style_ = other.style_;
    Changed();
  }

  std::function<void()> OnChange;

 private:
  void Changed() const {
    if (OnChange) OnChange();
  }
  std::string name_ = "Arial";
  int size_ = 8;
  TColor color_ = clBlack;
  TFontStyles style_ = 0;
};

// The surface font these settings describe (no rotation).
inline platform::TFont ToSurfaceFont(const TChartFont& font) {
  platform::TFont f;
  f.Name = font.Name();
  f.Size = font.Size();
  f.Color = font.Color();
  f.Bold = (font.Style() & fsBold) != 0;
  f.Italic = (font.Style() & fsItalic) != 0;
  f.Underline = (font.Style() & fsUnderline) != 0;
  f.StrikeOut = (font.Style() & fsStrikeOut) != 0;
  return f;
}
