// Our GIF encoder against giflib's, side by side on the same images.
//
// - WriteGif/*: the whole job, bitmap to GIF file (palette lookup included).
// - OurLzw/*:   our LZW alone on palette indices.
// - Giflib/*:   giflib's encoder (EGifPutLine) on the same palette indices.
// Throughput is given in pixels (one byte per pixel), out_bytes is the size
// of what each encoder produced.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "image/gif_format.h"
#include "image/gif_writer.h"
#include "image/lzw_encoder.h"

namespace {

enum TImageKind { ikChart = 0, ikNoise = 1 };

// Large flat areas, grid lines, bars and a text-like speckle in a handful of
// colours; or 8-bit noise.
platform::Bitmap MakeBitmap(int width, int height, TImageKind kind) {
  platform::Bitmap bitmap(width, height);
  std::mt19937 random(7);
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint32_t*>(bitmap.Row(y));
    for (int x = 0; x < width; ++x) {
      std::uint32_t c;
      if (kind == ikNoise) {
        const std::uint32_t k = random() & 0xFF;
        c = (k << 16) | ((k * 37) & 0xFF) << 8 | (k ^ 0x5A);
      } else {
        c = y < height / 10 ? 0xC0C0C0u : 0xFFFFFFu;
        for (int bar = 0; bar < 6; ++bar) {
          const int left = width / 10 + bar * width / 8;
          if (x >= left && x < left + width / 12 && y > height / 4 + bar * height / 14) c = 0x102030u * (bar + 1);
        }
        if (y % (height / 10) == 0 || x == width / 12) c = 0x000000u;
        if (y > height - height / 12 && random() % 5 == 0) c = 0x808080u;  // axis labels
        if (y < height / 10 && x > width / 3 && x < 2 * width / 3 && random() % 3 == 0) c = 0x000080u;  // title
      }
      row[x] = c;
    }
  }
  bitmap.MarkDirty();
  return bitmap;
}

// The palette indices of a bitmap, first-seen order, and the bits they need.
std::vector<std::uint8_t> Indices(const platform::Bitmap& bitmap, int& bits) {
  std::vector<std::uint32_t> palette;
  std::vector<std::uint8_t> out;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const std::uint32_t c = bitmap.Row(y)[x] & 0xFFFFFF;
      std::size_t i = 0;
      while (i < palette.size() && palette[i] != c) ++i;
      if (i == palette.size()) palette.push_back(c);
      out.push_back(static_cast<std::uint8_t>(i));
    }
  }
  bits = gif::BitsForColorCount(static_cast<int>(palette.size()));
  return out;
}

void Report(benchmark::State& state, const platform::Bitmap& bitmap, std::size_t outBytes) {
  const auto pixels = static_cast<std::int64_t>(bitmap.Width()) * bitmap.Height();
  state.SetBytesProcessed(state.iterations() * pixels);
  state.counters["out_bytes"] = static_cast<double>(outBytes);
}

void WriteGif(benchmark::State& state) {
  const auto bitmap = MakeBitmap(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                 static_cast<TImageKind>(state.range(2)));
  TFrameInfo frame;
  frame.Bitmap = &bitmap;
  std::size_t size = 0;
  for (auto _ : state) {
    TFrameList list;
    list.Count = 1;
    list.Frames[0] = &frame;
    list.GlobalColorMap = true;
    TMemoryGifOutput out;
    if (!WriteGIF(out, list)) throw std::runtime_error("WriteGIF failed");
    size = out.Bytes.size();
    benchmark::DoNotOptimize(out.Bytes.data());
  }
  Report(state, bitmap, size);
}

void OurLzw(benchmark::State& state) {
  const auto bitmap = MakeBitmap(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                 static_cast<TImageKind>(state.range(2)));
  int bits = 0;
  const auto indices = Indices(bitmap, bits);
  std::size_t size = 0;
  for (auto _ : state) {
    std::vector<std::uint8_t> out;
    gif::TByteSink sink([&out](const std::uint8_t* data, std::size_t n) { out.insert(out.end(), data, data + n); });
    gif::LzwEncode(indices, std::max(bits, 2), sink);
    sink.Flush();
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, bitmap, size);
}

int GiflibWrite(GifFileType* file, const GifByteType* data, int count) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(file->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

void Giflib(benchmark::State& state) {
  const auto bitmap = MakeBitmap(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                 static_cast<TImageKind>(state.range(2)));
  int bits = 0;
  auto indices = Indices(bitmap, bits);
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  std::size_t size = 0;
  for (auto _ : state) {
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, GiflibWrite, &error);
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    bool ok = file && EGifPutScreenDesc(file, width, height, bits, 0, map) == GIF_OK &&
              EGifPutImageDesc(file, 0, 0, width, height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < height; ++y) {
      ok = EGifPutLine(file, indices.data() + static_cast<std::size_t>(y) * width, width) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (!file || EGifCloseFile(file, &error) != GIF_OK || !ok) throw std::runtime_error("giflib failed");
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, bitmap, size);
}

void Images(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "noise"});
  b->Args({400, 250, ikChart});
  b->Args({1600, 1000, ikChart});
  b->Args({400, 250, ikNoise});
  b->Args({1600, 1000, ikNoise});
}

BENCHMARK(WriteGif)->Apply(Images);
BENCHMARK(OurLzw)->Apply(Images);
BENCHMARK(Giflib)->Apply(Images);

}  // namespace

BENCHMARK_MAIN();
