// Colours as the chart, the reader and the driver exchange them: 0x00BBGGRR,
// red in the low byte. A high byte of 0x80 marks a system colour that is
// resolved through a fixed table (the classic Windows default scheme).
#pragma once

#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clAutomatic = 0x80000000u;  // the series or palette chooses
inline constexpr TColor clNone = 0x1FFFFFFFu;       // a null point, not drawn
inline constexpr TColor clDefault = 0x20000000u;    // platform default, stored as clAutomatic

inline constexpr TColor clBlack = 0x000000u;
inline constexpr TColor clMaroon = 0x000080u;
inline constexpr TColor clGreen = 0x008000u;
inline constexpr TColor clOlive = 0x008080u;
inline constexpr TColor clNavy = 0x800000u;
inline constexpr TColor clPurple = 0x800080u;
inline constexpr TColor clTeal = 0x808000u;
inline constexpr TColor clGray = 0x808080u;
inline constexpr TColor clSilver = 0xC0C0C0u;
inline constexpr TColor clRed = 0x0000FFu;
inline constexpr TColor clLime = 0x00FF00u;
inline constexpr TColor clYellow = 0x00FFFFu;
inline constexpr TColor clBlue = 0xFF0000u;
inline constexpr TColor clFuchsia = 0xFF00FFu;
inline constexpr TColor clAqua = 0xFFFF00u;
inline constexpr TColor clWhite = 0xFFFFFFu;

// System colours (high byte 0x80, low byte = index into the scheme).
inline constexpr TColor clBtnFace = 0x8000000Fu;
inline constexpr TColor clBtnShadow = 0x80000010u;
inline constexpr TColor clBtnHighlight = 0x80000014u;
inline constexpr TColor clWindow = 0x80000005u;
inline constexpr TColor clWindowText = 0x80000008u;
inline constexpr TColor clBtnText = 0x80000012u;

constexpr std::uint8_t GetRValue(TColor c) { return static_cast<std::uint8_t>(c & 0xFF); }
constexpr std::uint8_t GetGValue(TColor c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
constexpr std::uint8_t GetBValue(TColor c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }
constexpr TColor RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}

// Resolves a system colour to its RGB value; any other colour keeps its low
// 24 bits (clAutomatic therefore resolves to the scrollbar colour of the scheme,
// as a device context would).
TColor ColorToRGB(TColor c);
