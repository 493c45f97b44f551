// Zero-filled memory for the pixels of large bitmaps.
//
// A chart's bitmap is the biggest thing a request writes: 400 × 250 pixels
// are 98 pages, each of which costs the process a page fault when first
// written, and on many virtual machines faults cost more than the drawing.
// Large buffers are therefore mapped aligned to the 2 MiB of a transparent
// huge page and advised to use one, so the kernel provides each 2 MiB with a
// single fault; where huge pages are off, they behave as any other mapping.
#pragma once

#include <cstddef>

namespace platform {

class PixelMemory {
 public:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  // From this size on a buffer is worth a huge page: below it, clearing
  // 2 MiB costs more than the faults it saves.
  static constexpr std::size_t kWorthwhile = std::size_t{256} << 10;

  // At least `bytes` zero bytes (bytes > 0) on whole huge pages; raises
  // Exception when the memory cannot be mapped.
  explicit PixelMemory(std::size_t bytes);
  ~PixelMemory();
  PixelMemory(const PixelMemory&) = delete;
  PixelMemory& operator=(const PixelMemory&) = delete;

  unsigned char* Data() const { return data_; }
  // Bytes mapped: `bytes` rounded up to whole huge pages.
  std::size_t Length() const { return length_; }

 private:
  unsigned char* data_ = nullptr;
  std::size_t length_ = 0;
};

}  // namespace platform
