#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/sysutils.h"

namespace platform {
namespace {

// The mappings a bus error may hit: reading a page of a mapped file beyond
// its end (the file was truncated after it was mapped) raises SIGBUS. The
// handler puts a page of zeros there and notes it in the mapping's slot; a
// bus error anywhere else goes to the handler there was before. The table is
// read by the handler, so it holds only atomics.
struct Slot {
  std::atomic<std::uintptr_t> begin{0}, end{0};
  std::atomic<bool> truncated{false};
};
constexpr int kSlots = 256;
Slot g_slots[kSlots];
struct sigaction g_previous {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    if (address >= slot.begin.load() && address < slot.end.load()) {
      const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
      void* at = reinterpret_cast<void*>(address & ~(page - 1));
      if (::mmap(at, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
        slot.truncated.store(true);
        return;  // the read is done again and finds zeros
      }
    }
  }
  // Not ours: the previous handling, as if this handler had never been.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction != nullptr) return g_previous.sa_sigaction(signal, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    return g_previous.sa_handler(signal);
  }
  ::sigaction(SIGBUS, &g_previous, nullptr);  // the fault comes again and takes its default course
}

void InstallBusErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
  });
}

}  // namespace

void MappedFile::Register() {
  if (data_ == nullptr) return;
  InstallBusErrorHandler();
  for (int i = 0; i < kSlots; ++i) {
    std::uintptr_t free = 0;
    if (g_slots[i].end.compare_exchange_strong(free, 1)) {  // claimed; a range of [0, 1) matches nothing
      g_slots[i].truncated.store(false);
      g_slots[i].begin.store(reinterpret_cast<std::uintptr_t>(data_));
      g_slots[i].end.store(reinterpret_cast<std::uintptr_t>(data_) + size_);
      slot_ = i;
      return;
    }
  }
  // More mappings than slots at once: this one goes without the guard.
}

void MappedFile::Unregister() {
  if (slot_ < 0) return;
  g_slots[slot_].begin.store(0);
  g_slots[slot_].end.store(0);
  slot_ = -1;
}

bool MappedFile::Truncated() const { return slot_ >= 0 && g_slots[slot_].truncated.load(); }

MappedFile::MappedFile(int fd, std::size_t size, const std::string& what) : size_(size) {
  if (size_ == 0) return;
  void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    size_ = 0;
    throw Exception("Cannot read " + what + ": " + std::strerror(errno));
  }
  data_ = static_cast<const std::uint8_t*>(p);
  Register();
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
  Unregister();
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      slot_(std::exchange(other.slot_, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unregister();
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    slot_ = std::exchange(other.slot_, -1);
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
