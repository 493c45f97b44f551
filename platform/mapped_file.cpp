#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/sysutils.h"

namespace platform {

MappedFile::MappedFile(int fd, std::size_t size, const std::string& what) : size_(size) {
  if (size_ == 0) return;
  void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    size_ = 0;
    throw Exception("Cannot read " + what + ": " + std::strerror(errno));
  }
  data_ = static_cast<const std::uint8_t*>(p);
}

MappedFile::MappedFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Exception("Cannot open file \"" + path + "\"");
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular) {
    ::close(fd);
    throw Exception("Cannot open file \"" + path + "\"");
  }
  try {
    *this = MappedFile(fd, static_cast<std::size_t>(st.st_size), "file \"" + path + "\"");
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);  // the mapping keeps the file
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void MappedFile::Release(const std::uint8_t* begin, const std::uint8_t* end) const {
  if (data_ == nullptr || begin < data_ || end > data_ + size_ || begin >= end) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(end) & ~(page - 1);
  // A private read-only mapping: dropped pages come back from the file.
  if (from < to) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

namespace {
constexpr std::size_t kScratchBuffer = 1 << 20;
}  // namespace

ScratchFile::ScratchFile() {
  const char* dir = std::getenv("TMPDIR");
  fd_ = ::open(dir != nullptr && *dir != '\0' ? dir : "/tmp", O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) fd_ = ::memfd_create("grafolio-scratch", MFD_CLOEXEC);
  if (fd_ < 0) throw Exception(std::string("No scratch file can be made: ") + std::strerror(errno));
  buffer_.reserve(kScratchBuffer);
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ScratchFile::Flush() {
  const std::uint8_t* p = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception(std::string("Cannot write the scratch file: ") + std::strerror(n < 0 ? errno : ENOSPC));
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

void ScratchFile::Append(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t n = std::min(size, kScratchBuffer - buffer_.size());
    buffer_.insert(buffer_.end(), data, data + n);
    data += n;
    size -= n;
    size_ += n;
    if (buffer_.size() == kScratchBuffer) Flush();
  }
}

MappedFile ScratchFile::Map() {
  Flush();
  return MappedFile(fd_, size_, "the scratch file");
}

}  // namespace platform
