#include "platform/bitmap.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/pixel_memory.h"
#include "platform/sysutils.h"

namespace platform {
namespace {

const cairo_user_data_key_t kPixelMemoryKey{};

// An RGB24 image surface; a large one draws on PixelMemory, which the surface
// owns and unmaps when it is destroyed. The caller checks the status.
cairo_surface_t* NewSurface(int width, int height) {
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  if (stride <= 0 || bytes < PixelMemory::kWorthwhile) {
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  std::unique_ptr<PixelMemory> memory;
  try {
    memory = std::make_unique<PixelMemory>(bytes);
  } catch (const Exception&) {
    // No mapping to be had: Cairo's own allocation fails or succeeds as always.
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(memory->Data(), CAIRO_FORMAT_RGB24, width, height, stride);
  const auto release = [](void* p) { delete static_cast<PixelMemory*>(p); };
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
      cairo_surface_set_user_data(surface, &kPixelMemoryKey, memory.get(), release) == CAIRO_STATUS_SUCCESS) {
    memory.release();
  } else {
    cairo_surface_destroy(surface);
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  return surface;
}

}  // namespace

Bitmap::Bitmap(int width, int height) { SetSize(width, height); }

void Bitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
    throw Exception("Bitmap size " + std::to_string(width) + " x " + std::to_string(height) + " is not allowed");
  }
  surface_.reset();
  width_ = width;
  height_ = height;
  if (Empty()) return;
  surface_.reset(NewSurface(width, height));
  if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS) {
    surface_.reset();
    width_ = height_ = 0;
    throw Exception("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) + " cannot be created");
  }
  cairo_surface_flush(surface_.get());
  auto* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  std::memset(data, 0xFF, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  cairo_surface_mark_dirty(surface_.get());
}

const std::uint32_t* Bitmap::Row(int y) const {
  cairo_surface_flush(surface_.get());
  const auto* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  return reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y));
}

TColor Bitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const std::uint32_t p = Row(y)[x];
  return RGB(static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p));
}

void Bitmap::SetPixel(int x, int y, TColor colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const TColor c = ColorToRGB(colour);
  auto* row = const_cast<std::uint32_t*>(Row(y));
  row[x] = (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
           GetBValue(c);
  cairo_surface_mark_dirty(surface_.get());
}

void Bitmap::ReadRowBGR(int y, std::uint8_t* out) const {
  const std::uint32_t* row = Row(y);
  for (int x = 0; x < width_; ++x) {
    const std::uint32_t p = row[x];
    out[0] = static_cast<std::uint8_t>(p);
    out[1] = static_cast<std::uint8_t>(p >> 8);
    out[2] = static_cast<std::uint8_t>(p >> 16);
    out += 3;
  }
}

void Bitmap::MarkDirty() const {
  if (surface_) cairo_surface_mark_dirty(surface_.get());
}

void Bitmap::SavePng(const char* path) const {
  if (!surface_) throw Exception("an empty bitmap cannot be saved");
  if (cairo_surface_write_to_png(surface_.get(), path) != CAIRO_STATUS_SUCCESS) {
    throw Exception(std::string("cannot write ") + path);
  }
}

}  // namespace platform
