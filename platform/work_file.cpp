#include "platform/work_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

// The system's text for an error number, as strerror gives it in the C
// locale the program runs in, without strerror's message-catalogue lookup:
// the lock-file check of every request meets a missing file, and the lookup
// would touch pages of the C library for a text nobody reads.
const char* ErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text != nullptr ? text : std::strerror(error);
}

UniqueFd OpenChecked(const std::string& path, int flags, mode_t mode, bool ours, std::string& why) {
  // O_TRUNC waits until the file is known to be ours: truncating first would
  // empty another user's file, or a link target, before it is refused.
  const bool truncate = (flags & O_TRUNC) != 0;
  UniqueFd fd(::open(path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
  if (!fd) {
    why = errno == ELOOP ? "is a symbolic link" : ErrorText(errno);
    return {};
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    why = ErrorText(errno);
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    why = "is not a regular file";
    return {};
  }
  if (ours && st.st_uid != ::geteuid()) {
    why = "is not owned by this user";
    return {};
  }
  const int status = ::fcntl(fd.get(), F_GETFL);
  if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0 ||
      (truncate && ::ftruncate(fd.get(), 0) != 0)) {
    why = ErrorText(errno);
    return {};
  }
  return fd;
}

}  // namespace

UniqueFd OpenWorkFile(const std::string& path, int flags, mode_t mode, std::string& why) {
  return OpenChecked(path, flags, mode, true, why);
}

UniqueFd OpenRegularFile(const std::string& path, int flags, mode_t mode, std::string& why) {
  return OpenChecked(path, flags, mode, false, why);
}

bool CheckWorkFolder(const std::string& folder, std::string& why) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    why = ErrorText(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    why = "is a symbolic link";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    why = "is not a directory";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    why = "is not owned by this user";
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "is writable by others";
    return false;
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace platform
