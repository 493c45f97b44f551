#include "platform/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sysutils.h"

namespace platform {

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw Exception("Cannot create file \"" + path_ + "\": " + std::strerror(errno));
  // Only a regular file is ever removed again (never a device such as /dev/null).
  struct stat st {};
  regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && regular_) ::unlink(path_.c_str());
}

void OutputFile::Commit(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  int error = 0;
  while (done < bytes.size() && error == 0) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : ENOSPC;
    else done += static_cast<std::size_t>(n);
  }
  if (error == 0 && regular_ && ::fsync(fd_) != 0) error = errno;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    if (regular_) ::unlink(path_.c_str());
    committed_ = true;  // nothing left to remove
    throw Exception("Cannot write file \"" + path_ + "\": " + std::strerror(error));
  }
  committed_ = true;
}

bool MayReplace(const std::string& path, std::string& why) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    why = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "is not a regular file";
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& why) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (!MayReplace(to, why)) return false;
    struct stat st {};
    const bool missing = ::lstat(to.c_str(), &st) != 0 && errno == ENOENT;
    // A missing name is taken only if it is still free at the rename.
    const int result = missing ? ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE)
                               : ::rename(from.c_str(), to.c_str());
    if (result == 0) return true;
    if (!(missing && errno == EEXIST)) break;
  }
  why = std::strerror(errno);
  return false;
}

std::string CreateFileBeside(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string temp = folder + "." + path.substr(folder.size()) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Exception("cannot create a file beside \"" + path + "\": " + std::strerror(errno));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return temp;
}

}  // namespace platform
