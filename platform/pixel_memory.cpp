#include "platform/pixel_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <string>

#include "platform/sysutils.h"

namespace platform {
namespace {

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

void* MapAnonymous(std::size_t length) {
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw Exception("cannot map " + std::to_string(length) + " bytes of pixel memory");
  return p;
}

}  // namespace

PixelMemory::PixelMemory(std::size_t bytes) {
  // Map one huge page more than needed and give back what lies before the
  // first huge-page boundary and after the buffer.
  length_ = RoundUp(bytes, kHugePage);
  auto* raw = static_cast<unsigned char*>(MapAnonymous(length_ + kHugePage));
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  auto* aligned = reinterpret_cast<unsigned char*>(RoundUp(address, kHugePage));
  const std::size_t head = static_cast<std::size_t>(aligned - raw);
  if (head > 0) ::munmap(raw, head);
  ::munmap(aligned + length_, kHugePage - head);
  data_ = aligned;
  // Advice only: kernels without transparent huge pages map small ones.
  ::madvise(data_, length_, MADV_HUGEPAGE);
}

PixelMemory::~PixelMemory() { ::munmap(data_, length_); }

}  // namespace platform
