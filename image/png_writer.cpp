#include "image/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/sysutils.h"

namespace {

// The bitmap as palette indices, rows top to bottom, and its colours
// (0x00RRGGBB) in first-seen order. False for a 257th colour.
bool IndexPixels(const platform::Bitmap& bitmap, std::vector<std::uint8_t>& indices,
                 std::vector<std::uint32_t>& colours) {
  const int width = bitmap.Width();
  indices.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(bitmap.Height()));
  std::unordered_map<std::uint32_t, std::uint8_t> entry;
  entry.reserve(2 * kMaxPngColors);
  // Charts are runs of one colour: a pixel like the one before it takes its
  // index without a lookup (the high byte never matches a pixel's).
  std::uint32_t previous = 0xFF000000u;
  std::uint8_t previous_index = 0;
  std::uint8_t* dst = indices.data();
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint32_t* row = bitmap.Row(y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t rgb = row[x] & 0x00FFFFFFu;
      if (rgb != previous) {
        auto [it, added] = entry.try_emplace(rgb, static_cast<std::uint8_t>(colours.size()));
        if (added) {
          if (colours.size() == kMaxPngColors) return false;
          colours.push_back(rgb);
        }
        previous = rgb;
        previous_index = it->second;
      }
      *dst++ = previous_index;
    }
  }
  return true;
}

// What libpng's callbacks reach: the bytes written and the first error.
struct PngSink {
  std::vector<std::uint8_t>* bytes;
  char error[200];
};

void WriteBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    stored = false;
  }
  if (!stored) png_error(png, "out of memory");
}

void Flush(png_structp) {}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
  std::snprintf(sink->error, sizeof sink->error, "%s", message != nullptr ? message : "unknown error");
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Runs libpng over prepared data; every C++ object it touches lives in the
// caller, so the long jump of an error skips no destructor. Returns false
// with sink.error set on failure.
bool RunLibpng(PngSink& sink, int width, int height, const std::vector<png_color>& palette,
               std::vector<png_bytep>& rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
  if (png == nullptr) {
    std::snprintf(sink.error, sizeof sink.error, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    if (info == nullptr) std::snprintf(sink.error, sizeof sink.error, "out of memory");
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &sink, WriteBytes, Flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  // Palette rows compress best unfiltered. Level 3 keeps a chart's PNG
  // smaller than its GIF at about the GIF encoder's cost (level 6 saves a
  // further quarter of the bytes for twice the time; bench_chart_formats_bench).
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, 3);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePalettePNG(const platform::Bitmap& bitmap) {
  if (bitmap.Empty()) throw Exception("PNG: the bitmap has no pixels");
  std::vector<std::uint8_t> indices;
  std::vector<std::uint32_t> colours;
  if (!IndexPixels(bitmap, indices, colours)) throw Exception("PNG: the bitmap holds more than 256 colours");
  std::vector<png_color> palette;
  for (const std::uint32_t c : colours) {
    palette.push_back(png_color{static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)});
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.Height()));
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = indices.data() + y * static_cast<std::size_t>(bitmap.Width());
  std::vector<std::uint8_t> bytes;
  PngSink sink{&bytes, {}};
  if (!RunLibpng(sink, bitmap.Width(), bitmap.Height(), palette, rows)) {
    throw Exception(std::string("PNG: encoding failed: ") + sink.error);
  }
  return bytes;
}
