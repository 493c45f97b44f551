// Helpers for the GIF tests: a block walker that takes an encoded file apart,
// a plain LZW code reader, and two independent decoders (giflib and
// ImageMagick) that turn a file back into RGB pixels.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/test_support.h"

namespace gif_test {

inline int Word(const std::vector<std::uint8_t>& b, std::size_t at) { return b.at(at) | (b.at(at + 1) << 8); }

struct TImageBlock {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::uint8_t Flags = 0;
  std::vector<std::uint8_t> LocalTable;  // R, G, B triples
  int MinCodeSize = 0;
  std::vector<int> SubBlockSizes;       // data sub-blocks, terminator not included
  std::vector<std::uint8_t> Data;       // the sub-blocks' bytes joined
  std::vector<std::uint8_t> RawBlock;   // min code size byte up to the terminator
};

struct TControlBlock {
  std::uint8_t Flags = 0;
  int Delay = 0;
  int TransparentIndex = 0;
};

// A GIF taken apart block by block. Throws std::runtime_error when the bytes
// do not follow the block layout.
struct TParsedGif {
  int ScreenWidth = 0, ScreenHeight = 0;
  std::uint8_t ScreenFlags = 0, Background = 0, Aspect = 0;
  std::vector<std::uint8_t> GlobalTable;
  // Block kinds in file order: 'A'pplication, 'C'omment, 'G'raphic control, 'I'mage.
  std::string Order;
  std::vector<std::uint8_t> Application;  // the application block's bytes (11 id + sub-blocks joined)
  std::vector<std::string> Comments;
  std::vector<std::vector<int>> CommentSubBlocks;
  std::vector<TControlBlock> Controls;
  std::vector<TImageBlock> Images;
  bool Trailer = false;
};

inline TParsedGif ParseGif(const std::vector<std::uint8_t>& b) {
  TParsedGif g;
  if (b.size() < 13 || (std::memcmp(b.data(), "GIF89a", 6) != 0 && std::memcmp(b.data(), "GIF87a", 6) != 0)) {
    throw std::runtime_error("no GIF header");
  }
  g.ScreenWidth = Word(b, 6);
  g.ScreenHeight = Word(b, 8);
  g.ScreenFlags = b.at(10);
  g.Background = b.at(11);
  g.Aspect = b.at(12);
  std::size_t p = 13;
  auto take = [&](std::size_t n) {
    if (p + n > b.size()) throw std::runtime_error("truncated at " + std::to_string(p));
    std::vector<std::uint8_t> out(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p + n));
    p += n;
    return out;
  };
  auto subBlocks = [&](std::vector<int>* sizes) {
    std::vector<std::uint8_t> data;
    while (true) {
      const int n = take(1)[0];
      if (n == 0) break;
      if (sizes) sizes->push_back(n);
      auto part = take(static_cast<std::size_t>(n));
      data.insert(data.end(), part.begin(), part.end());
    }
    return data;
  };
  if (g.ScreenFlags & 0x80) g.GlobalTable = take(3u << ((g.ScreenFlags & 7) + 1));
  while (true) {
    const int introducer = take(1)[0];
    if (introducer == 0x3B) {
      g.Trailer = true;
      if (p != b.size()) throw std::runtime_error("bytes after the trailer");
      return g;
    }
    if (introducer == 0x21) {
      const int label = take(1)[0];
      if (label == 0xFF) {
        g.Order += 'A';
        g.Application = subBlocks(nullptr);
      } else if (label == 0xFE) {
        g.Order += 'C';
        std::vector<int> sizes;
        auto text = subBlocks(&sizes);
        g.Comments.emplace_back(text.begin(), text.end());
        g.CommentSubBlocks.push_back(sizes);
      } else if (label == 0xF9) {
        g.Order += 'G';
        auto body = subBlocks(nullptr);
        if (body.size() != 4) throw std::runtime_error("graphic control extension of wrong size");
        g.Controls.push_back({body[0], body[1] | (body[2] << 8), body[3]});
      } else {
        throw std::runtime_error("unknown extension label");
      }
    } else if (introducer == 0x2C) {
      g.Order += 'I';
      TImageBlock im;
      auto d = take(9);
      im.Left = d[0] | (d[1] << 8);
      im.Top = d[2] | (d[3] << 8);
      im.Width = d[4] | (d[5] << 8);
      im.Height = d[6] | (d[7] << 8);
      im.Flags = d[8];
      if (im.Flags & 0x80) im.LocalTable = take(3u << ((im.Flags & 7) + 1));
      const std::size_t start = p;
      im.MinCodeSize = take(1)[0];
      im.Data = subBlocks(&im.SubBlockSizes);
      im.RawBlock.assign(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(p));
      g.Images.push_back(std::move(im));
    } else {
      throw std::runtime_error("unexpected byte " + std::to_string(introducer) + " at " + std::to_string(p - 1));
    }
  }
}

// The code stream of GIF image data read back with the decoder's width rule,
// and the indices it stands for. Written from the format's description only
// (no hashing), so it shares nothing with the encoder.
struct TCodeStream {
  std::vector<int> Codes;
  std::vector<int> Widths;  // width each code was read at
  std::vector<std::uint8_t> Indices;
  bool EndSeen = false;
};

inline TCodeStream ReadCodes(const std::vector<std::uint8_t>& data, int minCodeSize) {
  TCodeStream s;
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  int width = minCodeSize + 1;
  std::vector<std::vector<std::uint8_t>> table;
  auto reset = [&] {
    table.clear();
    for (int i = 0; i < clear + 2; ++i) table.push_back({static_cast<std::uint8_t>(i)});
    width = minCodeSize + 1;
  };
  reset();
  std::size_t bit = 0;
  int previous = -1;
  while (bit + static_cast<std::size_t>(width) <= data.size() * 8) {
    int code = 0;
    for (int k = 0; k < width; ++k, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1) << k;
    s.Codes.push_back(code);
    s.Widths.push_back(width);
    if (code == clear) {
      reset();
      previous = -1;
      continue;
    }
    if (code == end) {
      s.EndSeen = true;
      break;
    }
    std::vector<std::uint8_t> entry;
    if (code < static_cast<int>(table.size())) {
      entry = table[static_cast<std::size_t>(code)];
      if (previous >= 0 && table.size() < 4096) {
        auto added = table[static_cast<std::size_t>(previous)];
        added.push_back(entry[0]);
        table.push_back(std::move(added));
      }
    } else if (code == static_cast<int>(table.size()) && previous >= 0) {
      entry = table[static_cast<std::size_t>(previous)];
      entry.push_back(entry[0]);
      table.push_back(entry);
    } else {
      throw std::runtime_error("code " + std::to_string(code) + " not in the table");
    }
    s.Indices.insert(s.Indices.end(), entry.begin(), entry.end());
    previous = code;
    if (static_cast<int>(table.size()) == (1 << width) && width < 12) ++width;
  }
  return s;
}

// ---- giflib ----

struct TDecodedFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::vector<std::uint32_t> Rgb;  // 0x00RRGGBB per pixel, rows top to bottom
  int TransparentIndex = -1;
  std::vector<std::uint8_t> Indices;
};

struct TDecodedGif {
  int ScreenWidth = 0, ScreenHeight = 0;
  std::vector<TDecodedFrame> Frames;
};

// Decodes with DGifSlurp (which also undoes interlacing).
inline TDecodedGif GiflibDecode(const std::vector<std::uint8_t>& bytes) {
  struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
  } reader{&bytes, 0};
  auto read = [](GifFileType* file, GifByteType* buffer, int count) -> int {
    auto* r = static_cast<Reader*>(file->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), r->bytes->size() - r->pos);
    std::memcpy(buffer, r->bytes->data() + r->pos, n);
    r->pos += n;
    return static_cast<int>(n);
  };
  int error = 0;
  GifFileType* file = DGifOpen(&reader, read, &error);
  if (!file) throw std::runtime_error("giflib cannot open: " + std::string(GifErrorString(error)));
  if (DGifSlurp(file) != GIF_OK) {
    std::string message = GifErrorString(file->Error);
    DGifCloseFile(file, &error);
    throw std::runtime_error("giflib cannot decode: " + message);
  }
  TDecodedGif out;
  out.ScreenWidth = file->SWidth;
  out.ScreenHeight = file->SHeight;
  for (int i = 0; i < file->ImageCount; ++i) {
    const SavedImage& image = file->SavedImages[i];
    TDecodedFrame f;
    f.Left = image.ImageDesc.Left;
    f.Top = image.ImageDesc.Top;
    f.Width = image.ImageDesc.Width;
    f.Height = image.ImageDesc.Height;
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : file->SColorMap;
    const std::size_t n = static_cast<std::size_t>(f.Width) * static_cast<std::size_t>(f.Height);
    f.Indices.assign(image.RasterBits, image.RasterBits + n);
    for (std::size_t k = 0; k < n; ++k) {
      const int index = image.RasterBits[k];
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

// Encodes `indices` (width x height, colour table of 2^bits entries) with
// giflib's encoder and returns the whole file.
inline std::vector<std::uint8_t> GiflibEncode(const std::vector<std::uint8_t>& indices, int width, int height,
                                              int bits) {
  std::vector<std::uint8_t> out;
  auto write = [](GifFileType* file, const GifByteType* data, int count) -> int {
    auto* o = static_cast<std::vector<std::uint8_t>*>(file->UserData);
    o->insert(o->end(), data, data + count);
    return count;
  };
  int error = 0;
  GifFileType* file = EGifOpen(&out, write, &error);
  if (!file) throw std::runtime_error("giflib cannot open for writing");
  ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
  bool ok = EGifPutScreenDesc(file, width, height, bits, 0, map) == GIF_OK &&
            EGifPutImageDesc(file, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y) {
    ok = EGifPutLine(file, const_cast<GifPixelType*>(indices.data()) + static_cast<std::size_t>(y) * width, width) ==
         GIF_OK;
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(file, &error) != GIF_OK || !ok) throw std::runtime_error("giflib cannot encode");
  return out;
}

// ---- ImageMagick ----

// Decodes every frame with /usr/bin/convert into raw RGBA bytes (frames one
// after the other, each at its own size).
inline std::vector<std::uint8_t> ImageMagickRgba(const std::vector<std::uint8_t>& gif) {
  testing_support::TempDir dir;
  const auto file = dir.path() / "image.gif";
  testing_support::WriteBytes(file, gif);
  const std::string command = "/usr/bin/convert '" + file.string() + "' rgba:- 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start /usr/bin/convert");
  std::vector<std::uint8_t> out;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
  if (pclose(pipe) != 0) throw std::runtime_error("/usr/bin/convert failed");
  return out;
}

// ---- bitmaps ----

inline std::uint32_t BitmapRgb(const platform::Bitmap& bitmap, int x, int y) {
  return bitmap.Row(y)[x] & 0x00FFFFFFu;
}

inline void FillRgb(platform::Bitmap& bitmap, int x, int y, std::uint32_t rgb) {
  const_cast<std::uint32_t*>(bitmap.Row(y))[x] = rgb;
  bitmap.MarkDirty();
}

// Colour number c (0..65535) as 0x00RRGGBB; different numbers give different
// colours.
inline std::uint32_t DistinctColor(std::uint32_t c) {
  return ((c & 0xFF) << 16) | (((c * 37 + 11) & 0xFF) << 8) | ((c >> 8) & 0xFF);
}

// A bitmap whose pixels cycle through `colors` distinct colours in a
// scrambled order (so that runs and strings vary).
// Colour numbers start at firstColor.
inline platform::Bitmap ColorBitmap(int width, int height, int colors, unsigned seed = 1, std::uint32_t firstColor = 0) {
  platform::Bitmap bitmap(width, height);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint32_t*>(bitmap.Row(y));
    for (int x = 0; x < width; ++x) {
      const long k = static_cast<long>(y) * width + x;
      // Every colour appears at least once when there are enough pixels.
      const std::uint32_t c = k < colors ? static_cast<std::uint32_t>(k) : random() % static_cast<std::uint32_t>(colors);
      row[x] = DistinctColor(firstColor + c);
    }
  }
  bitmap.MarkDirty();
  return bitmap;
}

}  // namespace gif_test
