// Block layout of a GIF89a file: signatures, block introducers, extension
// labels and the bits of the flag bytes. Shared by the encoder and by the
// tests that take its output apart.
#pragma once

#include <cstdint>

namespace gif {

// Header: signature and version, six bytes together.
inline constexpr char kSignature[] = "GIF";
inline constexpr char kVersion89a[] = "89a";
inline constexpr int kHeaderSize = 6;

// Logical screen descriptor: width (16), height (16), flags, background
// colour index, pixel aspect ratio.
inline constexpr int kScreenDescriptorSize = 7;
inline constexpr std::uint8_t kScreenGlobalTable = 0x80;  // a global colour table follows
inline constexpr std::uint8_t kScreenTableSizeMask = 0x07;  // table of 2^(n+1) entries

// Block introducers.
inline constexpr std::uint8_t kExtensionIntroducer = 0x21;
inline constexpr std::uint8_t kImageSeparator = 0x2C;
inline constexpr std::uint8_t kTrailer = 0x3B;
inline constexpr std::uint8_t kBlockTerminator = 0x00;  // zero-length sub-block

// Extension labels.
inline constexpr std::uint8_t kGraphicControlLabel = 0xF9;
inline constexpr std::uint8_t kCommentLabel = 0xFE;
inline constexpr std::uint8_t kApplicationLabel = 0xFF;

// Application extension that carries the loop count of an animation:
// 0x21 0xFF 0x0B "NETSCAPE2.0" 0x03 0x01 loop(16) 0x00.
inline constexpr char kLoopApplicationId[] = "NETSCAPE2.0";  // 11 bytes, no terminator written
inline constexpr std::uint8_t kApplicationBlockSize = 11;
inline constexpr std::uint8_t kLoopSubBlockSize = 3;
inline constexpr std::uint8_t kLoopSubBlockId = 1;
inline constexpr int kApplicationExtensionSize = 19;

// Graphic control extension: 0x21 0xF9 0x04 flags delay(16) transparent 0x00.
inline constexpr std::uint8_t kGraphicControlBlockSize = 4;
inline constexpr int kGraphicControlSize = 8;
inline constexpr std::uint8_t kControlTransparent = 0x01;  // the transparent index is valid
inline constexpr int kControlDisposalShift = 2;            // disposal method in bits 2..4
inline constexpr int kMaxDisposal = 3;

// Image descriptor: 0x2C left(16) top(16) width(16) height(16) flags.
inline constexpr int kImageDescriptorSize = 10;
inline constexpr std::uint8_t kImageLocalTable = 0x80;
inline constexpr std::uint8_t kImageInterlaced = 0x40;
inline constexpr std::uint8_t kImageTableSizeMask = 0x07;

// Interlaced images send their rows in four passes: rows start, start + step,
// start + 2 step, ... of each pass in turn.
inline constexpr int kInterlacePasses = 4;
inline constexpr int kInterlaceStart[kInterlacePasses] = {0, 4, 2, 1};
inline constexpr int kInterlaceStep[kInterlacePasses] = {8, 8, 4, 2};

// Data sub-blocks hold at most this many bytes after their length byte.
inline constexpr int kMaxSubBlock = 255;

// Colour tables: at most 256 entries of R, G, B.
inline constexpr int kMaxColors = 256;

// LZW codes are at most 12 bits wide; a table of 4096 codes forces a clear.
inline constexpr int kMaxCodeBits = 12;
inline constexpr int kMaxCodes = 1 << kMaxCodeBits;

// Bits needed to index `count` colours (at least 1): 1 for 0..2, 2 for 3..4,
// ..., 8 for 129..256. Used both for colour table sizes and for the LZW
// minimum code size.
constexpr int BitsForColorCount(int count) {
  int bits = 1;
  while (bits < 8 && (1 << bits) < count) ++bits;
  return bits;
}

}  // namespace gif
