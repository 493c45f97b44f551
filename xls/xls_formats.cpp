#include "xls/xls_formats.h"

#include <algorithm>
#include <array>

#include "platform/sysutils.h"

namespace xls {

namespace {

// Default colours of BIFF2-BIFF7 workbooks for colour indexes 8..64
// (position = colour index - 8), 0xBBGGRR.
constexpr std::array<TColor, 57> kTableA = {
    0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF, 0xFFFF00, 0x000080, 0x008000,
    0x800000, 0x008080, 0x800080, 0x808000, 0xC0C0C0, 0x808080, 0xFF9999, 0x663399, 0xCCFFFF, 0xFFFFCC,
    0x660066, 0x8080FF, 0xCC6600, 0xFFCCCC, 0x800000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x800080, 0x000080,
    0x808000, 0xFF0000, 0xFFCC00, 0xFFFFCC, 0xCCFFCC, 0x99FFFF, 0xFFCC99, 0xCC99FF, 0xFF99CC, 0xE3E3E3,
    0xFF6633, 0xCCCC33, 0x00CC99, 0x00CCFF, 0x0099FF, 0x0066FF, 0x996666, 0x969696, 0x663300, 0x669933,
    0x003300, 0x003333, 0x003399, 0x663399, 0x993333, 0x333333, 0xFFFFFF};

// BIFF8 colour index 0..64 -> position in kTableB.
constexpr std::array<std::uint8_t, 65> kBiff8Map = {
    56, 63, 58, 59, 60, 61, 62, 63, 0,  39, 16, 27, 13, 26, 24, 28, 8,  11, 5,  10, 22, 12,
    31, 15, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 29, 36, 35, 34,
    37, 32, 38, 33, 21, 20, 18, 25, 17, 9,  14, 23, 4,  19, 3,  2,  1,  30, 6,  7,  64};

// BIFF8 colours by map position, 0xBBGGRR.
constexpr std::array<TColor, 65> kTableB = {
    0x000400, 0x003494, 0x003431, 0x003400, 0x633400, 0x840400, 0x943431, 0x313431, 0x000484, 0x0065FF,
    0x008684, 0x008600, 0x848600, 0xFF0400, 0x946563, 0x848684, 0x0004FF, 0x0096FF, 0x00C794, 0x639631,
    0xC6C731, 0xFF6531, 0x840484, 0x949694, 0xFF04FF, 0x00C7FF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xFFC700,
    0x633494, 0xC6C7C6, 0xC696FF, 0x94CFFF, 0x94FFFF, 0xC6FFC6, 0xFFFFC6, 0xFFCF94, 0xFF96C6, 0xFFFFFE,
    0xFF9694, 0x633494, 0xC6FFFF, 0xFFFFC6, 0x630463, 0x8486FF, 0xC66500, 0xFFC7C6, 0x840400, 0xFF04FF,
    0x00FFFF, 0xFFFF00, 0x840484, 0x000484, 0x848600, 0xFF0400, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};

constexpr int kBiff5Plain = 4;
constexpr int kBiff8 = 6;

std::uint16_t Word(const std::vector<std::uint8_t>& xf, std::size_t offset) {
  return static_cast<std::uint16_t>(xf[offset] | xf[offset + 1] << 8);
}

}  // namespace

void XlsFormats::Clear() {
  xfs_.clear();
  palette_.clear();
  fonts_.clear();
}

void XlsFormats::AddXf(std::span<const std::uint8_t> body, int version) {
  // Always 20 bytes: a workbook whose BOF records switch versions may ask
  // for the BIFF8 fields of an XF read as BIFF5.
  const std::size_t keep = version >= kBiff8 ? 20 : 16;
  std::vector<std::uint8_t> xf(20, 0);
  std::copy_n(body.begin(), std::min(keep, body.size()), xf.begin());
  xfs_.push_back(std::move(xf));
}

void XlsFormats::SetPalette(std::span<const std::uint8_t> body) {
  palette_.clear();
  if (body.size() < 2) return;
  const std::size_t declared = static_cast<std::size_t>(body[0] | body[1] << 8);
  const std::size_t n = std::min(declared, (body.size() - 2) / 4);
  palette_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = body.data() + 2 + 4 * i;
    palette_.push_back(static_cast<TColor>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<TColor>(p[3]) << 24));
  }
}

void XlsFormats::AddFont(XlsFont font) {
  fonts_.push_back(std::move(font));
  if (fonts_.size() == 4) fonts_.push_back(fonts_[0]);
}

void XlsFormats::ConvertFontColors(int version) {
  for (XlsFont& f : fonts_) {
    f.Color = PaletteColor(version < kBiff8 ? f.ColorIndex - 8 : f.ColorIndex, version);
  }
}

TColor XlsFormats::PaletteColor(int k, int version) const {
  if (!palette_.empty()) {
    if (k < 0 || static_cast<std::size_t>(k) >= palette_.size()) return 0;
    if (version != kBiff8) return palette_[static_cast<std::size_t>(k)];
    // BIFF8 keeps its built-in colours even with a custom palette.
    return k < static_cast<int>(kBiff8Map.size()) ? kTableB[kBiff8Map[static_cast<std::size_t>(k)]] : 0;
  }
  if (k < 0 || k >= static_cast<int>(kBiff8Map.size())) return 0;
  if (version < kBiff8 && k < static_cast<int>(kTableA.size())) return kTableA[static_cast<std::size_t>(k)];
  return kTableB[kBiff8Map[static_cast<std::size_t>(k)]];
}

TColor XlsFormats::CellColor(int formatIndex, int version) const {
  if (formatIndex < 0 || version < kBiff5Plain) return clWhite;
  if (static_cast<std::size_t>(formatIndex) >= xfs_.size()) {
    throw Exception("Format index out of range (" + std::to_string(formatIndex) + ")");
  }
  const auto& xf = xfs_[static_cast<std::size_t>(formatIndex)];
  if (version == kBiff8) return PaletteColor(Word(xf, 18) & 0x7F, version);
  return PaletteColor((Word(xf, 8) & 0x7F) - 8, version);
}

std::span<const std::uint8_t, 65> ColourMap() { return kBiff8Map; }

}  // namespace xls
