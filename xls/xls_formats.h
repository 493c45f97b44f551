// Cell formats, fonts and colours of a workbook: what the reader keeps to
// turn a cell's XF index into a background colour, and the font list with
// colours resolved once the workbook has been read. Number formats are not
// interpreted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/color.h"

namespace xls {

struct XlsFont {
  std::string Name;  // UTF-8
  int Size = 0;      // points
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int Charset = 0;
  int ColorIndex = 0;  // as stored in the record
  TColor Color = 0;    // resolved by ConvertFontColors
};

class XlsFormats {
 public:
  void Clear();

  // XF record body: the first 16 bytes are kept (20 for BIFF8, version 6);
  // the rest is kept as zeros.
  void AddXf(std::span<const std::uint8_t> body, int version);
  // PALETTE record body: colour count, then 4 bytes per colour (red, green,
  // blue, unused). Replaces an earlier palette. Entries beyond the body are
  // not taken.
  void SetPalette(std::span<const std::uint8_t> body);
  // Appends a font; after the fourth a copy of font 0 is inserted, so that
  // list indexes equal the font indexes files use (index 4 is never stored).
  void AddFont(XlsFont font);
  // Turns every font's colour index into a colour (end of reading).
  void ConvertFontColors(int version);

  // Background colour of a cell with this XF index: white for negative
  // indexes and for BIFF2-BIFF4 (version below 4, whose XF records are not
  // kept); otherwise the fill pattern colour of the XF. Raises Exception
  // "Format index out of range (<index>)" at or beyond the XF count.
  TColor CellColor(int formatIndex, int version) const;
  // Colour of a palette position (colour index, minus 8 before BIFF8); 0 for
  // positions outside the tables.
  TColor PaletteColor(int position, int version) const;

  std::size_t XfCount() const { return xfs_.size(); }
  const std::vector<XlsFont>& Fonts() const { return fonts_; }
  bool HasPalette() const { return !palette_.empty(); }

 private:
  std::vector<std::vector<std::uint8_t>> xfs_;
  std::vector<TColor> palette_;  // custom palette, empty when none
  std::vector<XlsFont> fonts_;
};

// The colour map: colour index 0..64 -> position in the BIFF8 colour table.
// The writer stores a colour value as the first index whose entry equals it.
std::span<const std::uint8_t, 65> ColourMap();

}  // namespace xls
