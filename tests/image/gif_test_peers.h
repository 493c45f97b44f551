// Helpers for the GIF tests: a block walker that takes an encoded file apart,
// a plain LZW code reader, and two independent decoders (giflib and
// ImageMagick) that turn a file back into pixels.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/test_support.h"

namespace gif_test {
using TBytes = std::vector<std::uint8_t>;

// LocalTable: R, G, B triples; RawBlock: min code size byte up to the terminator
struct TImageBlock { std::uint8_t Flags = 0; TBytes LocalTable; int MinCodeSize = 0; TBytes RawBlock; };

// A GIF taken apart block by block. Throws std::runtime_error when the bytes
// do not follow the block layout.
struct TParsedGif {
  TBytes GlobalTable;
  // Block kinds in file order: 'A'pplication, 'C'omment, 'G'raphic control, 'I'mage.
  std::string Order;
  std::string Application;  // 11 id bytes and the sub-blocks joined
  std::vector<std::string> Comments;
  std::vector<std::vector<int>> CommentSubBlocks;
  std::vector<TBytes> Controls;  // flags, delay (16 bits), transparent index
  std::vector<TImageBlock> Images;
};

// The data sub-blocks starting at b[p], joined; p ends after the terminator.
// `sizes` collects the sub-block lengths.
inline TBytes SubBlocks(const TBytes& b, std::size_t& p, std::vector<int>* sizes = nullptr) {
  TBytes data;
  for (std::size_t n; (n = b.at(p)) != 0; p += 1 + n) {
    if (p + 1 + n > b.size()) throw std::runtime_error("truncated sub-block at " + std::to_string(p));
    if (sizes) sizes->push_back(static_cast<int>(n));
    data.insert(data.end(), b.begin() + static_cast<long>(p + 1), b.begin() + static_cast<long>(p + 1 + n));
  }
  ++p;
  return data;
}

inline TParsedGif ParseGif(const TBytes& b) {
  if (b.size() < 13 || (std::memcmp(b.data(), "GIF89a", 6) && std::memcmp(b.data(), "GIF87a", 6))) {
    throw std::runtime_error("no GIF header");
  }
  TParsedGif g;
  std::size_t p = 13;
  auto take = [&](std::size_t n) {
    if (p + n > b.size()) throw std::runtime_error("truncated at " + std::to_string(p));
    p += n;
    return TBytes(b.begin() + static_cast<long>(p - n), b.begin() + static_cast<long>(p));
  };
  if (b[10] & 0x80) g.GlobalTable = take(3u << ((b[10] & 7) + 1));
  while (true) {
    const int introducer = take(1)[0];
    if (introducer == 0x3B) {
      if (p != b.size()) throw std::runtime_error("bytes after the trailer");
      return g;
    }
    if (introducer == 0x2C) {
      g.Order += 'I';
      TImageBlock im;
      im.Flags = take(9)[8];
      if (im.Flags & 0x80) im.LocalTable = take(3u << ((im.Flags & 7) + 1));
      const std::size_t start = p;
      im.MinCodeSize = take(1)[0];
      SubBlocks(b, p);
      im.RawBlock.assign(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(p));
      g.Images.push_back(std::move(im));
      continue;
    }
    const int label = introducer == 0x21 ? take(1)[0] : -1;
    if (label == 0xFF) {
      g.Order += 'A';
      const auto body = SubBlocks(b, p);
      g.Application.assign(body.begin(), body.end());
    } else if (label == 0xFE) {
      g.Order += 'C';
      g.CommentSubBlocks.emplace_back();
      const auto text = SubBlocks(b, p, &g.CommentSubBlocks.back());
      g.Comments.emplace_back(text.begin(), text.end());
    } else if (label == 0xF9) {
      g.Order += 'G';
      const auto body = SubBlocks(b, p);
      if (body.size() != 4) throw std::runtime_error("graphic control extension of wrong size");
      g.Controls.push_back(body);
    } else {
      throw std::runtime_error("unexpected block at " + std::to_string(p - 1));
    }
  }
}

// The code stream of GIF image data read back with the decoder's width rule,
// and the indices it stands for. Written from the format's description only,
// so it shares nothing with the encoder.
// Widths: width each code was read at
struct TCodeStream { std::vector<int> Codes; std::vector<int> Widths; TBytes Indices; bool EndSeen = false; };

inline TCodeStream ReadCodes(const TBytes& data, int minCodeSize) {
  TCodeStream s;
  const int clear = 1 << minCodeSize;
  int width = minCodeSize + 1;
  std::vector<TBytes> table;
  std::size_t bit = 0;
  int previous = -1;
  while (bit + static_cast<std::size_t>(width) <= data.size() * 8) {
    int code = 0;
    for (int k = 0; k < width; ++k, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1) << k;
    s.Codes.push_back(code);
    s.Widths.push_back(width);
    if (code == clear || table.empty()) {
      table.clear();
      for (int i = 0; i < clear + 2; ++i) table.push_back({static_cast<std::uint8_t>(i)});
      width = minCodeSize + 1;
      previous = -1;
      if (code == clear) continue;
    }
    if (code == clear + 1) {
      s.EndSeen = true;
      break;
    }
    const auto size = static_cast<int>(table.size());
    if (code > size || (code == size && previous < 0)) throw std::runtime_error("code not in the table");
    TBytes entry = code < size ? table[static_cast<std::size_t>(code)] : table[static_cast<std::size_t>(previous)];
    if (code == size) entry.push_back(entry[0]);
    if (previous >= 0 && size < 4096) {
      table.push_back(table[static_cast<std::size_t>(previous)]);
      table.back().push_back(entry[0]);
    }
    s.Indices.insert(s.Indices.end(), entry.begin(), entry.end());
    previous = code;
    if (static_cast<int>(table.size()) == (1 << width) && width < 12) ++width;
  }
  return s;
}

struct TDecodedFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::vector<std::uint32_t> Rgb;  // 0x00RRGGBB per pixel, rows top to bottom
  TBytes Indices;
  int TransparentIndex = -1;
};

struct TDecodedGif { int ScreenWidth = 0, ScreenHeight = 0; std::vector<TDecodedFrame> Frames; };

// Decodes with giflib's DGifSlurp (which also undoes interlacing).
inline TDecodedGif GiflibDecode(const TBytes& bytes) {
  testing_support::TempDir dir;
  const auto path = dir.path() / "image.gif";
  testing_support::WriteBytes(path, bytes);
  int error = 0;
  GifFileType* file = DGifOpenFileName(path.c_str(), &error);
  if (!file) throw std::runtime_error("giflib cannot open: " + std::string(GifErrorString(error)));
  if (DGifSlurp(file) != GIF_OK) {
    const std::string message = GifErrorString(file->Error);
    DGifCloseFile(file, &error);
    throw std::runtime_error("giflib cannot decode: " + message);
  }
  TDecodedGif out{file->SWidth, file->SHeight, {}};
  for (int i = 0; i < file->ImageCount; ++i) {
    const SavedImage& image = file->SavedImages[i];
    const GifImageDesc& d = image.ImageDesc;
    TDecodedFrame f{d.Left, d.Top, d.Width, d.Height, {}, {}, -1};
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : file->SColorMap;
    f.Indices.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(d.Width) * d.Height);
    for (const int index : f.Indices) {
      if (!map || index >= map->ColorCount) throw std::runtime_error("index beyond the colour table");
      const GifColorType c = map->Colors[index];
      f.Rgb.push_back((static_cast<std::uint32_t>(c.Red) << 16) | (c.Green << 8) | c.Blue);
    }
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(file, i, &gcb) == GIF_OK) f.TransparentIndex = gcb.TransparentColor;
    out.Frames.push_back(std::move(f));
  }
  DGifCloseFile(file, &error);
  return out;
}

// Encodes `indices` (one row, colour table of 2^bits entries) with giflib's
// encoder and returns the whole file.
inline TBytes GiflibEncodeRow(const TBytes& indices, int bits) {
  testing_support::TempDir dir;
  const auto path = dir.path() / "image.gif";
  int error = 0;
  GifFileType* file = EGifOpenFileName(path.c_str(), false, &error);
  if (!file) throw std::runtime_error("giflib cannot open for writing");
  const int width = static_cast<int>(indices.size());
  ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
  const bool ok = EGifPutScreenDesc(file, width, 1, bits, 0, map) == GIF_OK &&
                  EGifPutImageDesc(file, 0, 0, width, 1, false, nullptr) == GIF_OK &&
                  EGifPutLine(file, const_cast<GifPixelType*>(indices.data()), width) == GIF_OK;
  GifFreeMapObject(map);
  if (EGifCloseFile(file, &error) != GIF_OK || !ok) throw std::runtime_error("giflib cannot encode");
  return testing_support::ReadBytes(path);
}

// Decodes every frame with /usr/bin/convert into raw RGBA bytes (frames one
// after the other, each at its own size).
inline TBytes ImageMagickRgba(const TBytes& gif) {
  testing_support::TempDir dir;
  const auto file = dir.path() / "image.gif";
  testing_support::WriteBytes(file, gif);
  FILE* pipe = popen(("/usr/bin/convert '" + file.string() + "' rgba:- 2>/dev/null").c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start /usr/bin/convert");
  TBytes out;
  std::uint8_t buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.insert(out.end(), buffer, buffer + n);
  if (pclose(pipe) != 0) throw std::runtime_error("/usr/bin/convert failed");
  return out;
}

inline std::uint32_t BitmapRgb(const platform::Bitmap& bitmap, int x, int y) { return bitmap.Row(y)[x] & 0xFFFFFFu; }

// Colour number c (0..65535) as 0x00RRGGBB; different numbers give different
// colours, and red holds the low byte of c.
inline std::uint32_t DistinctColor(std::uint32_t c) {
  return ((c & 0xFF) << 16) | (((c * 37 + 11) & 0xFF) << 8) | ((c >> 8) & 0xFF);
}

// A bitmap whose pixel (x, y) has the colour number `color(x, y)`.
template <typename F>
platform::Bitmap MakeBitmap(int width, int height, F color) {
  platform::Bitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint32_t*>(bitmap.Row(y));
    for (int x = 0; x < width; ++x) row[x] = DistinctColor(static_cast<std::uint32_t>(color(x, y)));
  }
  bitmap.MarkDirty();
  return bitmap;
}

// Colour numbers first .. first + colors - 1 in a scrambled order, each of
// them met once in the first pixels (when there are enough pixels).
inline platform::Bitmap ColorBitmap(int width, int height, int colors, unsigned seed = 1, int first = 0) {
  std::mt19937 random(seed);
  return MakeBitmap(width, height, [&](int x, int y) {
    const long k = static_cast<long>(y) * width + x;
    return first + static_cast<int>(k < colors ? k : static_cast<long>(random() % static_cast<unsigned>(colors)));
  });
}
}  // namespace gif_test
