#include "app/workbook_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

bool HasDotDotComponent(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    auto end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

// A file descriptor that closes itself.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::optional<std::string> ResolveWorkbookPath(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos || name.front() == '/' || HasDotDotComponent(name)) {
    return std::nullopt;
  }
  Fd dir;
  dir.fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) return std::nullopt;

  // The kernel resolves the name and refuses any step (link or "..") that
  // would leave the folder, without looking at what lies outside it.
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  Fd file;
  file.fd = static_cast<int>(::syscall(SYS_openat2, dir.fd, name.c_str(), &how, sizeof how));
  if (file.fd < 0) {
    if (errno != ENOSYS) return std::nullopt;
    // Kernels before 5.6 lack openat2: compare real paths instead.
    // (Allocated, not two path buffers in this frame: those would push the
    // stack of every request that names a workbook a page or two deeper.)
    const std::unique_ptr<char, decltype(&std::free)> resolvedFolder(::realpath(folder.c_str(), nullptr), &std::free);
    const std::unique_ptr<char, decltype(&std::free)> resolvedFile(::realpath((folder + name).c_str(), nullptr),
                                                                   &std::free);
    if (!resolvedFolder || !resolvedFile) return std::nullopt;
    const std::string prefix = std::string(resolvedFolder.get()) + "/";
    if (std::string(resolvedFile.get()).rfind(prefix, 0) != 0) return std::nullopt;
    file.fd = ::open(resolvedFile.get(), O_PATH | O_CLOEXEC);
    if (file.fd < 0) return std::nullopt;
  }

  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return folder + name;
}
